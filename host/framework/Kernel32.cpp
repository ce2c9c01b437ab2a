#include "host/framework/Kernel32.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "host/framework/ModuleState.h"
#include "host/framework/TestSeams.h"
#include "host/framework/Trace.h"

struct HINSTANCE__ {
  std::string path;
  void* code = nullptr;  // dlopen handle, or null for a resource-only module
  std::unique_ptr<tq::framework::ResourceScript> resources;
};

namespace tq::framework {
namespace {

LoadStatus lastStatus;

void SetStatus(LoadStatus::Outcome outcome, std::string message) {
  lastStatus = {outcome, std::move(message)};
}

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

}  // namespace

#if defined(__x86_64__)
constexpr Elf64_Half kThisMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr Elf64_Half kThisMachine = EM_AARCH64;
#else
#error "name this machine's ELF e_machine"
#endif

// Why a code module's file cannot be mapped safely, or "" when it can: the
// dynamic loader maps its segments without looking at the file's size, so a
// truncated file would fault (SIGBUS) inside dlopen.
std::string UnfitSharedObject(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return "";  // dlopen names the problem
  struct stat st {};
  std::string why;
  Elf64_Ehdr header{};
  const char* notOurs = "not an ELF shared object of this machine";
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = notOurs;
  } else if (pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
    why = std::memcmp(&header, ELFMAG, SELFMAG) == 0 ? "the file is truncated" : notOurs;
  } else if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
             header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
             header.e_type != ET_DYN || header.e_machine != kThisMachine ||
             header.e_phentsize != sizeof(Elf64_Phdr)) {
    why = notOurs;
  } else {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    const std::uint64_t table = header.e_phoff + std::uint64_t{header.e_phnum} * sizeof(Elf64_Phdr);
    if (header.e_phoff > size || table > size) why = "the file is truncated";
    for (Elf64_Half i = 0; why.empty() && i < header.e_phnum; ++i) {
      Elf64_Phdr segment{};
      const off_t at = static_cast<off_t>(header.e_phoff + std::uint64_t{i} * sizeof segment);
      if (pread(fd, &segment, sizeof segment, at) != static_cast<ssize_t>(sizeof segment) ||
          (segment.p_type == PT_LOAD &&
           (segment.p_offset > size || segment.p_filesz > size - segment.p_offset))) {
        why = "the file is truncated";
      }
    }
  }
  close(fd);
  return why;
}

namespace {

// A code module's own resources: the script its construction registered now,
// or earlier if the object was already loaded. A broken one leaves the
// module without resources (it loads all the same) and says so.
void TakeEmbeddedResources(HINSTANCE__& module) {
  link_map* map = nullptr;
  const void* base = nullptr;
  if (dlinfo(module.code, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) {
    base = reinterpret_cast<const void*>(map->l_addr);
  }
  const auto& scripts = EmbeddedScripts();
  for (std::size_t i = scripts.size(); i-- > 0;) {
    if (scripts[i].base != base) continue;
    ParsedResources parsed = ParseResourceScript(scripts[i].script, scripts[i].name);
    if (parsed.script) {
      module.resources = std::move(parsed.script);
    } else {
      SetStatus(LoadStatus::Outcome::kBroken, parsed.error);
    }
    return;
  }
}

// Reads a resource script whole: only a regular file of at most
// kMaxResourceScriptBytes, so that a pipe of that name cannot block the host
// and a device cannot grow the text without end. Answers why not, or "".
std::string ReadResourceScript(const std::string& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::strerror(errno);
  struct stat st {};
  std::string why;
  if (fstat(fd, &st) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = "not a regular file";
  } else if (static_cast<std::uint64_t>(st.st_size) > kMaxResourceScriptBytes) {
    why = "larger than " + std::to_string(kMaxResourceScriptBytes >> 20) + " MiB";
  } else {
    char buffer[1 << 16];
    for (;;) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) why = std::strerror(errno);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
      if (text.size() > kMaxResourceScriptBytes) {
        why = "larger than " + std::to_string(kMaxResourceScriptBytes >> 20) + " MiB";
        break;
      }
    }
  }
  close(fd);
  return why;
}

std::string HostProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

const LoadStatus& LastLoadStatus() {
  return lastStatus;
}

const std::string& LastLoadError() {
  return lastStatus.message;
}

void RefuseLibrary(HMODULE module, const std::string& why) {
  FreeLibrary(module);
  SetStatus(LoadStatus::Outcome::kRefused, why);
}

void RegisterEmbeddedResources(const void* anchor, const char* script, const char* name) {
  Dl_info info{};
  const void* base = dladdr(anchor, &info) != 0 ? info.dli_fbase : nullptr;
  EmbeddedScripts().push_back({base, script, name});
}

HMODULE CreateResourceModule(const std::string& path, const std::string& script) {
  ParsedResources parsed = ParseResourceScript(script, path, IncludeBeside(path));
  if (!parsed.script) {
    SetStatus(LoadStatus::Outcome::kBroken, parsed.error);
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

using tq::framework::LoadStatus;
using tq::framework::SetStatus;

HLOCAL LocalAlloc(UINT /*flags*/, std::size_t bytes) {
  if (tq::framework::LocalAllocFails()) return nullptr;
  return std::calloc(1, bytes == 0 ? 1 : bytes);
}

HLOCAL LocalFree(HLOCAL block) {
  std::free(block);
  return nullptr;
}

HMODULE LoadLibraryA(LPCSTR path) {
  SetStatus(LoadStatus::Outcome::kLoaded, "");
  if (path == nullptr || *path == '\0') {
    SetStatus(LoadStatus::Outcome::kNotFound, "no module name given");
    return nullptr;
  }
  const std::string name = path;
  if (tq::framework::IsResourceScriptName(name)) {
    std::string text;
    if (std::string why = tq::framework::ReadResourceScript(name, text); !why.empty()) {
      const bool missing = why == std::strerror(ENOENT);
      SetStatus(missing ? LoadStatus::Outcome::kNotFound : LoadStatus::Outcome::kUnreadable,
                name + ": " + why);
      return nullptr;
    }
    return tq::framework::CreateResourceModule(name, text);
  }
  // The module's file name is the path it was loaded by, made absolute but
  // with its links kept: a linked plug-in finds its resource library beside
  // the link.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
  const std::string full = ec ? name : absolute.lexically_normal().string();
  if (access(full.c_str(), F_OK) != 0) {
    SetStatus(LoadStatus::Outcome::kNotFound, full + ": " + std::strerror(errno));
    return nullptr;
  }
  if (std::string why = tq::framework::UnfitSharedObject(full); !why.empty()) {
    SetStatus(LoadStatus::Outcome::kUnfit, full + ": " + why);
    return nullptr;
  }
  void* code = dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
  // The file's static construction is over: no module state is under
  // construction any more.
  tq::framework::EndModuleConstruction();
  if (code == nullptr) {
    const char* why = dlerror();
    SetStatus(LoadStatus::Outcome::kUnfit, why != nullptr ? why : (name + ": cannot be loaded"));
    return nullptr;
  }
  auto module = std::make_unique<HINSTANCE__>();
  module->path = full;
  module->code = code;
  tq::framework::TakeEmbeddedResources(*module);
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
