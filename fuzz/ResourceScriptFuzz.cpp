// Feeds arbitrary text to the resource script parser: it must parse or
// refuse with "file:line: ...", never crash, leak or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/framework/Resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto parsed = tq::framework::ParseResourceScript(text, "fuzz.rc");
  if (!parsed.script && parsed.error.rfind("fuzz.rc:", 0) != 0) __builtin_trap();
  return 0;
}
