// Feeds arbitrary bytes to the glTF importer from memory, as a .gltf and as
// a .glb. It must refuse or import, never crash, hang, leak or read out of
// bounds; every refusal names the file; and the loader must read back every
// scene it imports. Nothing here touches the disk, so that each input costs
// two imports: the buffers and images its URIs name on disk are the work of
// gltf_files_fuzz.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/GltfCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const char* name : {"/nonexistent/fuzz.gltf", "/nonexistent/fuzz.glb"})
    CheckImport(tq::scene::ImportGltfBytes(bytes, name, {}), name);
  return 0;
}
