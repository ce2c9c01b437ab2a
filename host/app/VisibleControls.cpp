#include "host/app/VisibleControls.h"

#include <cstdio>
#include <string>

namespace tq::app {

bool VisibleControls::Put(unsigned char c) {
  auto write = [&](const char* text, std::size_t n) {
    return out_->sputn(text, static_cast<std::streamsize>(n)) == static_cast<std::streamsize>(n);
  };
  char escaped[8];
  if (lead_) {
    lead_ = false;
    if (c >= 0x80 && c <= 0x9F) {
      std::snprintf(escaped, sizeof escaped, "\\u00%02X", c);
      return write(escaped, 6);
    }
    if (!write("\xC2", 1)) return false;
  }
  if (c == 0xC2) {
    lead_ = true;
    return true;
  }
  if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
    std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
    return write(escaped, 4);
  }
  return out_->sputc(static_cast<char>(c)) != traits_type::eof();
}

int VisibleControls::overflow(int c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  return Put(static_cast<unsigned char>(c)) ? c : traits_type::eof();
}

std::streamsize VisibleControls::xsputn(const char* s, std::streamsize n) {
  for (std::streamsize i = 0; i < n; ++i)
    if (!Put(static_cast<unsigned char>(s[i]))) return i;
  return n;
}

int VisibleControls::sync() {
  if (lead_) {
    lead_ = false;
    if (out_->sputc('\xC2') == traits_type::eof()) return -1;
  }
  return out_->pubsync();
}

}  // namespace tq::app
