// Feeds arbitrary bytes to the scene loader: it must refuse or load, never
// crash, leak or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/scene/Loader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto loaded = tq::scene::LoadSceneText(text, "fuzz.json");
  if (!loaded && loaded.error.rfind("fuzz.json: ", 0) != 0) __builtin_trap();
  return 0;
}
