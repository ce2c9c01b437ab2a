// The buffers of a glTF file, read for the importer: external files from
// the file's folder only, data: URIs, a GLB's BIN chunk, and the buffers no
// accessor reads (images) handed over as one byte. Internal to GltfFiles.cpp
// and GltfBuffers.cpp.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "host/scene/GltfFiles.h"

namespace tq::scene::gltf {

// The name tinygltf is given for buffer i: a folder of our own that no
// fallback can find on disk.
inline constexpr const char* kBase = "(buffers)";
inline std::string Token(std::size_t i) {
  return "tq" + std::to_string(i);
}

inline bool EndsWith(std::string text, const char* end) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

inline constexpr std::uint32_t kJsonChunk = 0x4E4F534A, kBinChunk = 0x004E4942;

inline std::uint32_t Word(std::string_view bytes, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

inline void PutWord(std::string& out, std::uint32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  out.append(b, 4);
}

// The BIN chunk as tinygltf judges a GLB: the document it was handed
// before buffers were resolved here (the file as it is when nothing in it
// changed; else the rewritten JSON chunk, then the file's chunks after its
// own). Not valid: tinygltf refuses the file, which is handed over as it was
// for tinygltf to say why.
struct BinChunk {
  bool valid = false;
  bool aligned = true;  // the JSON chunk ends on a 4-byte boundary (else tinygltf notes it)
  bool present = false;
  std::uint64_t claimed = 0;  // the length its header gives
  Span bytes;                 // what of it the file holds
};
BinChunk ReadBinChunk(std::string_view bytes, std::string_view rest, bool changed);

// Reads external buffers; true when the document was changed.
bool ReadBuffers(nlohmann::json& doc, const std::string& path, std::size_t fileBytes, Prepared& p);

// A GLB's buffers resolved to its BIN chunk; false when tinygltf must be
// handed the chunks to refuse them. changed: the document was changed.
bool ResolveBinBuffers(nlohmann::json& doc, const BinChunk& bin, Prepared& p, bool& changed);

// The bytes of every buffer view an accessor reads, read: a file's through
// its Bytes, a GLB's BIN chunk's through need (bytes: the GLB's, into which
// the chunk's spans point).
void ReadViews(const nlohmann::json& doc, Prepared& p, std::string_view bytes, const Need& need);

// The images of buffers no accessor reads dropped; true when the document
// was changed.
bool DropBufferImages(nlohmann::json& doc, const Prepared& p);

}  // namespace tq::scene::gltf
