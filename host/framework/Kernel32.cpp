#include "host/framework/Kernel32.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "host/framework/ModuleState.h"
#include "host/framework/Trace.h"

struct HINSTANCE__ {
  std::string path;
  void* code = nullptr;  // dlopen handle, or null for a resource-only module
  std::unique_ptr<tq::framework::ResourceScript> resources;
};

namespace tq::framework {
namespace {

std::string lastError;

// Every module handle out there. FreeLibrary takes one away; whatever is left
// at process end (a resource library a plug-in never releases) goes with
// this list, without closing any code.
std::vector<std::unique_ptr<HINSTANCE__>>& Modules() {
  static std::vector<std::unique_ptr<HINSTANCE__>> modules;
  return modules;
}

HMODULE Keep(std::unique_ptr<HINSTANCE__> module) {
  Modules().push_back(std::move(module));
  return Modules().back().get();
}

struct Embedded {
  const void* base;
  std::string script;
  std::string name;
};

std::vector<Embedded>& EmbeddedScripts() {
  static std::vector<Embedded> scripts;
  return scripts;
}

bool IsResourceScriptName(const std::string& path) {
  auto endsWith = [&](const char* ext) {
    const std::size_t n = std::strlen(ext);
    return path.size() >= n && path.compare(path.size() - n, n, ext) == 0;
  };
  return endsWith(".lng") || endsWith(".rc");
}

std::string HostProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

const std::string& LastLoadError() {
  return lastError;
}

void RefuseLibrary(HMODULE module, const std::string& why) {
  FreeLibrary(module);
  lastError = why;
}

void RegisterEmbeddedResources(const void* anchor, const char* script, const char* name) {
  Dl_info info{};
  const void* base = dladdr(anchor, &info) != 0 ? info.dli_fbase : nullptr;
  EmbeddedScripts().push_back({base, script, name});
}

HMODULE CreateResourceModule(const std::string& path, const std::string& script) {
  ParsedResources parsed = ParseResourceScript(script, path);
  if (!parsed.script) {
    lastError = parsed.error;
    return nullptr;
  }
  auto module = std::make_unique<HINSTANCE__>();
  module->path = path;
  module->resources = std::move(parsed.script);
  return Keep(std::move(module));
}

const ResourceScript* ModuleResources(HMODULE module) {
  return module != nullptr ? module->resources.get() : nullptr;
}

const std::string* FindString(UINT id) {
  const ResourceScript* r = ModuleResources(AfxGetModuleState()->m_hCurrentResourceHandle);
  if (r == nullptr) return nullptr;
  const auto it = r->strings.find(static_cast<int>(id));
  return it == r->strings.end() ? nullptr : &it->second;
}

const DialogTemplate* FindDialogTemplate(UINT id) {
  const ResourceScript* r = ModuleResources(AfxGetModuleState()->m_hCurrentResourceHandle);
  if (r == nullptr) return nullptr;
  const auto it = r->dialogs.find(static_cast<int>(id));
  return it == r->dialogs.end() ? nullptr : &it->second;
}

}  // namespace tq::framework

using tq::framework::lastError;

HLOCAL LocalAlloc(UINT /*flags*/, std::size_t bytes) {
  if (tq::framework::LocalAllocFails()) return nullptr;
  return std::calloc(1, bytes == 0 ? 1 : bytes);
}

HLOCAL LocalFree(HLOCAL block) {
  std::free(block);
  return nullptr;
}

HMODULE LoadLibraryA(LPCSTR path) {
  lastError.clear();
  if (path == nullptr || *path == '\0') {
    lastError = "no module name given";
    return nullptr;
  }
  const std::string name = path;
  if (tq::framework::IsResourceScriptName(name)) {
    std::ifstream in(name, std::ios::binary);
    if (!in) {
      lastError = name + ": " + std::strerror(errno);
      return nullptr;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return tq::framework::CreateResourceModule(name, text.str());
  }
  // The module's file name is the path it was loaded by, made absolute but
  // with its links kept: a linked plug-in finds its resource library beside
  // the link.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
  const std::string full = ec ? name : absolute.lexically_normal().string();
  void* code = dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
  // The file's static construction is over: no module state is under
  // construction any more.
  tq::framework::EndModuleConstruction();
  if (code == nullptr) {
    const char* why = dlerror();
    lastError = why != nullptr ? why : (name + ": cannot be loaded");
    return nullptr;
  }
  auto module = std::make_unique<HINSTANCE__>();
  module->path = full;
  module->code = code;
  link_map* map = nullptr;
  const void* base = nullptr;
  if (dlinfo(code, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) {
    base = reinterpret_cast<const void*>(map->l_addr);
  }
  // The module's own resources: a script registered by its construction now,
  // or earlier if the object was already loaded.
  const auto& scripts = tq::framework::EmbeddedScripts();
  for (std::size_t i = scripts.size(); i-- > 0;) {
    if (scripts[i].base != base) continue;
    tq::framework::ParsedResources parsed =
        tq::framework::ParseResourceScript(scripts[i].script, scripts[i].name);
    if (parsed.script) {
      module->resources = std::move(parsed.script);
    } else {
      lastError = parsed.error;  // loads all the same, without resources
    }
    break;
  }
  return tq::framework::Keep(std::move(module));
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (module == nullptr || module->code == nullptr || name == nullptr) return nullptr;
  void* symbol = dlsym(module->code, name);
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
  auto& modules = tq::framework::Modules();
  const auto it = std::find_if(modules.begin(), modules.end(),
                               [&](const auto& m) { return m.get() == module; });
  if (it == modules.end()) return FALSE;
  if (module->code != nullptr) {
    // Forget the scripts this module registered, so that a module loaded
    // later at the same address does not take them for its own.
    link_map* map = nullptr;
    if (dlinfo(module->code, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) {
      auto& scripts = tq::framework::EmbeddedScripts();
      const void* base = reinterpret_cast<const void*>(map->l_addr);
      std::erase_if(scripts, [&](const auto& s) { return s.base == base; });
    }
    dlclose(module->code);
  }
  modules.erase(it);
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return 0;
  const std::string path = module != nullptr ? module->path : tq::framework::HostProgramPath();
  if (path.size() < size) {
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  }
  std::memcpy(buffer, path.data(), size - 1);
  buffer[size - 1] = '\0';
  return size;
}
