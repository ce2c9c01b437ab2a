// The glTF importer's side of the file system and of the document before
// tinygltf reads it (internal to the scene library).
//
// Prepare reads the document once with nlohmann-json and:
// - refuses glTF 1.0 and GLB versions other than 2, required extensions that
//   change geometry or animation and are not read, cameras whose aspect
//   ratio is not above 0;
// - resolves every external buffer against the glTF's folder alone: the URI
//   percent-decoded, its real path (symbolic links followed) inside the
//   folder's, a regular file (opened non-blocking, checked with fstat) of at
//   least byteLength bytes, read here and handed to tinygltf through its
//   file-system callbacks under a name of our own;
// - keeps images from being read (data: URIs dropped, no file ever opened);
// - takes KHR_animation_pointer channels out of tinygltf's sight (it wants a
//   node), noting their pointers for the importer.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <tiny_gltf.h>

#include "host/scene/Result.h"

namespace tq::scene::gltf {

struct Fault {
  std::string path;
  std::string what;
};

[[noreturn]] inline void Fail(std::string path, std::string what) {
  throw Fault{std::move(path), std::move(what)};
}

inline std::string At(const char* list, int i) {
  return std::string(list) + "[" + std::to_string(i) + "]";
}

// The name a channel that targets a KHR_animation_pointer has in tinygltf's
// model (its node is -1).
inline constexpr const char* kPointerPath = "pointer";

struct Prepared {
  std::string rewritten;  // the document rewritten, "" when tinygltf reads the file as it is
  bool binary = false;
  std::string base;                                     // the folder given to tinygltf
  std::vector<std::vector<unsigned char>> files;        // external buffers, by buffer index
  std::vector<std::string> paths;                       // the files they were read from
  std::map<std::pair<int, int>, std::string> pointers;  // (animation, channel): pointer
};

// bytes: the file's; path names it (a .glb by its extension, or by its
// magic) and its folder holds its buffers.
Prepared Prepare(const std::string& bytes, const std::string& path);

// Callbacks that serve the buffers Prepare read, and nothing else.
tinygltf::FsCallbacks Callbacks(Prepared& prepared);

// The whole of a regular file (opened non-blocking: a FIFO or a device is
// refused, never waited on), at most limit bytes.
Result<std::string> ReadRegularFile(const std::string& path, std::size_t limit);

}  // namespace tq::scene::gltf
