#include "host/app/PluginModule.h"

#include <sys/stat.h>

#include "host/framework/Kernel32.h"

namespace tq::app {

namespace {
constexpr unsigned int kAttach = 1;
constexpr unsigned int kDetach = 0;
constexpr int kMaxCommands = 256;

// Resolves an entry point; the first name missing is kept in missing.
template <class F>
void Resolve(HMODULE module, const char* name, F& out, std::string& missing) {
  out = reinterpret_cast<F>(GetProcAddress(module, name));
  if (out == nullptr && missing.empty()) missing = name;
}
}  // namespace

Result<std::unique_ptr<PluginModule>> PluginModule::Load(const std::string& path,
                                                         std::string* warning) {
  auto cannot = [&](const std::string& why) {
    return Fail("cannot load the plug-in " + path + ": " + why);
  };
  if (path.empty())
    return Fail(
        "cannot find the plug-in: tqhost cannot tell its own folder (is /proc mounted?); give "
        "--plugin PATH");
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return cannot("no such file");
  if (const std::string why = framework::UnfitSharedObject(path); !why.empty()) return cannot(why);
  std::unique_ptr<PluginModule> plugin(new PluginModule);
  plugin->module_ = LoadLibraryA(path.c_str());
  if (plugin->module_ == nullptr) return cannot(framework::LastLoadError());
  std::string missing;
  Resolve(plugin->module_, "KfxLoadCommandEntry", plugin->loadCommandEntry_, missing);
  Resolve(plugin->module_, "KfxOnAddCommandMenu", plugin->onAddCommandMenu_, missing);
  Resolve(plugin->module_, "KfxOnCommand", plugin->onCommand_, missing);
  Resolve(plugin->module_, "RawDllMain", plugin->rawDllMain_, missing);
  Resolve(plugin->module_, "DllMain", plugin->dllMain_, missing);
  // From here on a failure closes the library without the unload hooks.
  auto refuse = [&](const std::string& why) {
    FreeLibrary(plugin->module_);
    plugin->module_ = nullptr;
    return cannot(why);
  };
  if (!missing.empty()) return refuse("it has no entry point " + missing);
  if (plugin->rawDllMain_(plugin->module_, kAttach, nullptr) == 0)
    return refuse("its load hook RawDllMain failed");
  if (plugin->dllMain_(plugin->module_, kAttach, nullptr) == 0)
    return refuse("its load hook DllMain failed");
  // The last load was the plug-in's resource library; only its absence is
  // not worth a word.
  using Outcome = framework::LoadStatus::Outcome;
  const framework::LoadStatus& resources = framework::LastLoadStatus();
  if (warning != nullptr && resources.outcome != Outcome::kLoaded &&
      resources.outcome != Outcome::kNotFound) {
    *warning = resources.message + " (the plug-in uses its built-in resources)";
  }
  return plugin;
}

PluginModule::~PluginModule() {
  if (module_ == nullptr) return;
  dllMain_(module_, kDetach, nullptr);
  rawDllMain_(module_, kDetach, nullptr);
  FreeLibrary(module_);
}

std::vector<PluginModule::Command> PluginModule::Commands() const {
  std::vector<Command> commands;
  for (int index = 0; index < kMaxCommands; ++index) {
    int entry = 0;
    if (loadCommandEntry_(index, &entry) == 0) break;
    String text;
    int first = 0, second = 0;
    onAddCommandMenu_(nullptr, index, &text, &first, &second);
    commands.push_back({index, text.Get()});
  }
  return commands;
}

std::string DefaultPluginPath() {
  char self[4096];
  const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  const std::string path(self, n);
  // Without its own path (no /proc) tqhost has no folder to look in: never
  // the working folder, where a stranger's file of that name would run.
  if (path.empty() || path[0] != '/') return "";
  return path.substr(0, path.rfind('/')) + "/tqmotion.plg";
}

}  // namespace tq::app
