// Feeds arbitrary bytes to the glTF importer as a file on disk, a .gltf and
// a .glb, in a folder whose neighbours a buffer or image URI may name:
// a.bin (64 bytes), a sub-folder, a FIFO, a symbolic link out of the folder
// and one to /dev/zero. It must refuse or import, never crash, hang, leak,
// wait on the FIFO or read outside the folder; the checks are those of
// gltf_import_fuzz, which reads the same inputs from memory.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/GltfCheck.h"

namespace {

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tqfuzz.XXXXXX").string();
    const std::filesystem::path root = ::mkdtemp(pattern.data());
    const std::filesystem::path shot = root / "shot";
    std::filesystem::create_directories(shot / "sub");
    std::ofstream(root / "secret.bin") << std::string(64, 'S');
    std::ofstream(shot / "a.bin") << std::string(64, '\x3f');
    ::mkfifo((shot / "fifo.bin").c_str(), 0600);
    std::filesystem::create_symlink("../secret.bin", shot / "out.bin");
    std::filesystem::create_symlink("/dev/zero", shot / "zero.bin");
    static const std::string remove = root.string();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(remove, ec);
    });
    return shot;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const char* name : {"fuzz.gltf", "fuzz.glb"}) {
    const std::string onDisk = (Folder() / name).string();
    std::ofstream(onDisk, std::ios::binary | std::ios::trunc) << bytes;
    CheckImport(tq::scene::ImportGltfFile(onDisk, {}), onDisk);
  }
  return 0;
}
