// Feeds arbitrary bytes to the glTF importer, as a .gltf and as a .glb: it
// must refuse or import, never crash, leak or read out of bounds. Buffer
// URIs that name files are refused here unless they lie in the folder of a
// file that does not exist, so nothing outside is read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/scene/GltfImport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const char* name : {"/nonexistent/fuzz.gltf", "/nonexistent/fuzz.glb"}) {
    const auto imported = tq::scene::ImportGltfBytes(bytes, name, {});
    if (!imported && imported.error.rfind(name, 0) != 0) __builtin_trap();
  }
  return 0;
}
