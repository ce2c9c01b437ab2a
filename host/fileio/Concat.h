#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tq::fileio {

// The pieces joined into one string, in order, by appending. Text built from
// literals and strings goes through here rather than "literal" + std::string:
// GCC 12 at -O3 warns falsely (-Wrestrict) about those operator+ temporaries,
// and warnings fail the build. Code that builds text piece by piece with
// append or += for the same reason says so by naming this header.
inline std::string Concat(std::initializer_list<std::string_view> pieces) {
  std::size_t size = 0;
  for (std::string_view piece : pieces) size += piece.size();
  std::string out;
  out.reserve(size);
  for (std::string_view piece : pieces) out.append(piece);
  return out;
}

}  // namespace tq::fileio
