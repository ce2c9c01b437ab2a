#include "host/framework/CString.h"

#include <cstdarg>
#include <cstdio>

#include "host/framework/Kernel32.h"

BOOL CString::LoadStringA(UINT id) {
  const std::string* text = tq::framework::FindString(id);
  if (text == nullptr) {
    text_.clear();
    return FALSE;
  }
  text_ = *text;
  return TRUE;
}

void CString::Format(LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) {
    text_.clear();
  } else {
    text_.assign(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(text_.data(), text_.size(), format, args);
    text_.resize(static_cast<std::size_t>(n));
  }
  va_end(args);
}
