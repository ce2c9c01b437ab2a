#include "host/fileio/Storage.h"

#include <cstdlib>
#include <cstring>

namespace {
tq::fileio::AllocHook allocStringHook = nullptr;
tq::fileio::AllocHook allocExtHook = nullptr;
tq::fileio::FreeHook freeStringHook = nullptr;
}  // namespace

namespace tq::fileio {
AllocHook SetAllocStringHook(AllocHook hook) noexcept {
  AllocHook old = allocStringHook;
  allocStringHook = hook;
  return old;
}
AllocHook SetAllocExtHook(AllocHook hook) noexcept {
  AllocHook old = allocExtHook;
  allocExtHook = hook;
  return old;
}
FreeHook SetFreeStringHook(FreeHook hook) noexcept {
  FreeHook old = freeStringHook;
  freeStringHook = hook;
  return old;
}
}  // namespace tq::fileio

void* AllocString(unsigned long n) {
  return allocStringHook != nullptr ? allocStringHook(n) : std::malloc(n == 0 ? 1 : n);
}
void FreeString(void* p) {
  if (freeStringHook != nullptr) freeStringHook(p);
  std::free(p);
}
void* AllocExt(unsigned long n) {
  return allocExtHook != nullptr ? allocExtHook(n) : std::malloc(n == 0 ? 1 : n);
}
void FreeExt(void* p) {
  std::free(p);
}

String::String(const String& other) : String(other.buffer) {}

String& String::operator=(const String& other) {
  if (this == &other) return *this;
  // Copy before the old buffer goes, so assigning a string that shares no
  // buffer but aliases through other paths stays safe.
  String copy(other.buffer);
  *this = static_cast<String&&>(copy);
  return *this;
}

int String::Find(const String& s) const {
  const char* hay = Get();
  const char* found = std::strstr(hay, s.Get());
  return found == nullptr ? -1 : static_cast<int>(found - hay);
}
