// The host's owned character string.
//
// One field: a zero-terminated buffer from AllocString, or null for a string
// without text. The construction and assignment from a character string are
// compiled into the plug-in (inline here); the rest is the host file library's.
#pragma once

#include <cstring>

// Host file library: string storage. AllocString answers null when it cannot.
void* AllocString(unsigned long n);
void FreeString(void* p);

class String {
 public:
  String() noexcept = default;
  String(const char* s) noexcept { Take(s); }  // NOLINT: implicit by design
  String(const String& other);                 // deep copy (host)
  String(String&& other) noexcept : buffer(other.buffer) { other.buffer = nullptr; }
  ~String() {
    if (buffer != nullptr) FreeString(buffer);
  }

  // Releases the old buffer first, so s must not point into it.
  String& operator=(const char* s) noexcept {
    if (buffer != nullptr) {
      FreeString(buffer);
      buffer = nullptr;
    }
    Take(s);
    return *this;
  }
  String& operator=(const String& other);  // deep copy (host)
  String& operator=(String&& other) noexcept {
    if (this != &other) {
      if (buffer != nullptr) FreeString(buffer);
      buffer = other.buffer;
      other.buffer = nullptr;
    }
    return *this;
  }

  // Position of the first occurrence of s, -1 when it does not occur (host).
  int Find(const String& s) const;

  // The text, or "" for a string without one.
  const char* Get() const noexcept { return buffer != nullptr ? buffer : ""; }
  bool IsNull() const noexcept { return buffer == nullptr; }

  char* buffer = nullptr;

 private:
  void Take(const char* s) noexcept {
    if (s == nullptr) return;
    const unsigned long n = std::strlen(s) + 1;
    buffer = static_cast<char*>(AllocString(n));
    if (buffer != nullptr) std::memcpy(buffer, s, n);
  }
};
