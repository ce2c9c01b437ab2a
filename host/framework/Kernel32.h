// The Kernel32 part of the compatibility layer: local memory and modules.
//
// A module handle is an opaque record that knows the module's path, its code
// (a shared object opened with dlopen) when it has one, and its resources:
// - LoadLibraryA of a resource script (a name ending in ".lng" or ".rc")
//   makes a resource-only module from it; a broken script makes the call fail;
// - LoadLibraryA of a shared object runs its static construction (dlopen);
//   its own resources are the resource script it registered with
//   RegisterEmbeddedResources while it was constructed, if any.
// When LoadLibraryA fails, LastLoadStatus() tells how and why.
#pragma once

#include <cstddef>
#include <string>

#include "host/framework/Resources.h"
#include "host/framework/Types.h"

// Answers null when the block cannot be had (or the test seam says so).
HLOCAL LocalAlloc(UINT flags, std::size_t bytes);
HLOCAL LocalFree(HLOCAL block);

HMODULE LoadLibraryA(LPCSTR path);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
// The module's full path (the host program's for null). Copies at most
// size - 1 characters and always terminates; answers the number of characters
// copied, or size when the path was cut short (and 0 for size 0).
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

namespace tq::framework {

// The largest resource script LoadLibraryA reads.
inline constexpr std::size_t kMaxResourceScriptBytes = std::size_t{4} << 20;

// How the last LoadLibraryA went: an outcome to decide on, and its message
// for people ("file:line: what was expected" for a broken script).
struct LoadStatus {
  enum class Outcome {
    kLoaded,      // loaded (a code module whose own resources are broken says kBroken)
    kNotFound,    // no such file, or no name
    kUnreadable,  // not a regular file, too large, or a read error
    kBroken,      // a resource script with a fault
    kUnfit,       // a code module that cannot be mapped or linked
    kRefused,     // loaded, then refused by its loader (RefuseLibrary)
  };
  Outcome outcome = Outcome::kLoaded;
  std::string message;
};
const LoadStatus& LastLoadStatus();
// The message of the last status ("" when loaded).
const std::string& LastLoadError();

// Why a code module's file cannot be mapped safely ("the file is truncated",
// "not an ELF shared object of this machine"), or "" when it can. The
// dynamic loader maps a file's segments without checking its size, so a
// truncated file would fault inside it; LoadLibraryA checks this first.
std::string UnfitSharedObject(const std::string& path);
// Releases a module its loader found unfit and makes why the last load error,
// as if LoadLibraryA had failed with it.
void RefuseLibrary(HMODULE module, const std::string& why);

// Called by a code module's static initialiser: its own resource script. The
// anchor is any address inside the module (to tell which module it is).
void RegisterEmbeddedResources(const void* anchor, const char* script, const char* name);

// The resources of a module, or null when it has none.
const ResourceScript* ModuleResources(HMODULE module);
// A string or dialog template through the current module state's resource
// handle; null when absent.
const std::string* FindString(UINT id);
const DialogTemplate* FindDialogTemplate(UINT id);

// A resource-only module made from script text; null (and LastLoadError) when
// the script is broken. FreeLibrary releases it.
HMODULE CreateResourceModule(const std::string& path, const std::string& script);

}  // namespace tq::framework
