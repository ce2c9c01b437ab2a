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
//   least byteLength bytes; of it (and of a GLB's BIN chunk) only the views
//   that accessors read are read, never an image's bytes;
// - resolves every buffer it can to bytes of our own, never copied: a file's
//   to the bytes read, a GLB's binary chunk to the file's own bytes. tinygltf
//   is handed each such buffer as one byte under a name of our own (served by
//   the file-system callbacks), so that it parses the document and checks it
//   as before but copies no buffer; a buffer it would refuse is left as the
//   file has it, and it refuses it in its own words;
// - keeps images from being read (data: URIs dropped, no file ever opened);
// - takes KHR_animation_pointer channels out of tinygltf's sight (it wants a
//   node), noting their pointers for the importer.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <tiny_gltf.h>

#include "host/fileio/InputFile.h"
#include "host/fileio/Result.h"

namespace tq::scene::gltf {

struct Fault {
  std::string path;
  std::string what;
};

[[noreturn]] inline void ThrowFault(std::string path, std::string what) {
  throw Fault{std::move(path), std::move(what)};
}

inline std::string At(const char* list, int i) {
  return std::string(list) + "[" + std::to_string(i) + "]";
}

// The name a channel that targets a KHR_animation_pointer has in tinygltf's
// model (its node is -1).
inline constexpr const char* kPointerPath = "pointer";

// A file's bytes, read without first being zero-filled. One opened with
// OpenRegularFile holds only what Need has read: the rest (an image in a
// GLB's BIN chunk or in a buffer's file, say) is never read, and its memory
// never touched.
struct Bytes {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
  std::string_view View() const { return {data.get(), size}; }
  // Bytes [from, from + n) (cut at size) read where not yet: "" or the
  // problem. Nothing to do for bytes held whole.
  std::string Need(std::size_t from, std::size_t n);

  std::unique_ptr<const fileio::RegularFile> file;  // null: held whole
  std::vector<bool> held;                           // by block of kBlock bytes
  std::string path;
  static constexpr std::size_t kBlock = 64 * 1024;
};

using Span = std::span<const unsigned char>;

// The one root extension of the document handed to tinygltf, which its
// model holds once tinygltf has read the document's every part.
inline constexpr const char* kLoadedMarker = "TQ_read_to_the_end";

struct Prepared {
  std::string rewritten;  // the document rewritten, as tinygltf reads it
  bool binary = false;
  std::string base;                                     // the folder given to tinygltf
  std::vector<Bytes> files;                             // external buffers, by buffer index
  std::vector<std::string> paths;                       // the files they were read from
  std::map<std::pair<int, int>, std::string> pointers;  // (animation, channel): pointer
  // By buffer index: the bytes of a buffer handed to tinygltf as one byte;
  // empty where tinygltf holds the buffer's data itself.
  std::vector<Span> spans;
  // By buffer index: the byteLength of a buffer that no accessor reads (an
  // image's, say), whose bytes are never read, decoded or copied; 0 for the
  // others. tinygltf is handed one byte for it.
  std::vector<std::uint64_t> unread;
  // A refusal that waits until tinygltf has read the document, so that what
  // tinygltf refuses first is said first.
  std::optional<Fault> afterLoad;
  // The most JSON values tinygltf's own tree of the document holds on the
  // stack its destructor frees it with (see FreeingStack).
  std::size_t freeingStack = 0;
};

// bytes: the file's, which must outlive the Prepared (its spans point into
// them); need reads [from, from + n) of them where not read yet ("" or the
// problem); path names it (a .glb by its extension) and its folder holds
// its buffers.
using Need = std::function<std::string(std::size_t from, std::size_t n)>;
Prepared Prepare(std::string_view bytes, const std::string& path, const Need& need);

// Callbacks that serve the buffers Prepare named, and nothing else.
tinygltf::FsCallbacks Callbacks(Prepared& prepared);

// A regular file of at most limit bytes, opened (non-blocking: a FIFO or a
// device is refused, never waited on) and nothing of it read yet.
Result<Bytes> OpenRegularFile(const std::string& path, std::size_t limit);

}  // namespace tq::scene::gltf
