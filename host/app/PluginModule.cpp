#include "host/app/PluginModule.h"

#include <sys/stat.h>

#include "host/framework/Kernel32.h"

namespace tq::app {

namespace {
constexpr unsigned int kAttach = 1;
constexpr unsigned int kDetach = 0;
constexpr int kMaxCommands = 256;

template <class F>
bool Resolve(HMODULE module, const char* name, F& out, std::string& missing) {
  out = reinterpret_cast<F>(GetProcAddress(module, name));
  if (out == nullptr && missing.empty()) missing = name;
  return out != nullptr;
}
}  // namespace

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string& error,
                                                 std::string* warning) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error = "cannot load the plug-in " + path + ": no such file";
    return nullptr;
  }
  if (const std::string why = framework::UnfitSharedObject(path); !why.empty()) {
    error = "cannot load the plug-in " + path + ": " + why;
    return nullptr;
  }
  std::unique_ptr<PluginModule> plugin(new PluginModule);
  plugin->module_ = LoadLibraryA(path.c_str());
  if (plugin->module_ == nullptr) {
    error = "cannot load the plug-in " + path + ": " + framework::LastLoadError();
    return nullptr;
  }
  std::string missing;
  Resolve(plugin->module_, "KfxLoadCommandEntry", plugin->loadCommandEntry_, missing);
  Resolve(plugin->module_, "KfxOnAddCommandMenu", plugin->onAddCommandMenu_, missing);
  Resolve(plugin->module_, "KfxOnCommand", plugin->onCommand_, missing);
  Resolve(plugin->module_, "RawDllMain", plugin->rawDllMain_, missing);
  Resolve(plugin->module_, "DllMain", plugin->dllMain_, missing);
  // From here on a failure closes the library without the unload hooks.
  auto refuse = [&](const std::string& why) {
    error = "cannot load the plug-in " + path + ": " + why;
    FreeLibrary(plugin->module_);
    plugin->module_ = nullptr;
    return nullptr;
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
  std::string path(self, n);
  const auto slash = path.rfind('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/tqmotion.plg";
}

}  // namespace tq::app
