// The framework's character string.
#pragma once

#include <string>

#include "host/framework/Types.h"

class CString {
 public:
  CString() = default;
  CString(LPCSTR text) : text_(text != nullptr ? text : "") {}  // NOLINT: implicit by design

  // The string resource id through the current module state's resource
  // handle; FALSE (and an empty string) when there is none.
  BOOL LoadStringA(UINT id);
  // printf-style.
  void Format(LPCSTR format, ...) __attribute__((format(printf, 2, 3)));

  CString& operator+=(LPCSTR text) {
    if (text != nullptr) text_ += text;
    return *this;
  }
  CString& operator+=(const CString& other) {
    text_ += other.text_;
    return *this;
  }
  operator LPCSTR() const { return text_.c_str(); }  // NOLINT: implicit by design
  int GetLength() const { return static_cast<int>(text_.size()); }
  bool IsEmpty() const { return text_.empty(); }
  const std::string& str() const { return text_; }

 private:
  std::string text_;
};
