#include "host/scene/GltfFiles.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <string_view>

#include <nlohmann/json.hpp>

#include "host/fileio/InputFile.h"
#include "host/scene/GltfImport.h"
#include "host/scene/JsonSyntax.h"

namespace tq::scene::gltf {
namespace {

using nlohmann::json;

// The name tinygltf is given for buffer i: a folder of our own that no
// fallback can find on disk.
constexpr const char* kBase = "(buffers)";
std::string Token(std::size_t i) {
  return "tq" + std::to_string(i);
}

bool EndsWith(std::string text, const char* end) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

constexpr std::uint32_t kJsonChunk = 0x4E4F534A, kBinChunk = 0x004E4942;

std::uint32_t Word(std::string_view bytes, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

void PutWord(std::string& out, std::uint32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  out.append(b, 4);
}

// A URI's %XX escapes decoded (RFC 3986: '+' stays '+'); a stray '%' or an
// escaped NUL is refused.
std::string PercentDecoded(const std::string& uri, const std::string& at) {
  auto hex = [](char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
  };
  std::string out;
  for (std::size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] != '%') {
      out += uri[i];
      continue;
    }
    const int hi = i + 2 < uri.size() ? hex(uri[i + 1]) : -1;
    const int lo = i + 2 < uri.size() ? hex(uri[i + 2]) : -1;
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0))
      ThrowFault(at, "expected a URI ('%' then two hex digits)");
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (out.find('\0') != std::string::npos) ThrowFault(at, "expected a URI without NUL");
  return out;
}

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return "";
  std::string out(real);
  std::free(real);
  return out;
}

// Why a file could not be opened as a regular one, in the importer's words.
std::string Problem(const fileio::RegularFile& file) {
  if (file.Descriptor() < 0) return file.Error();
  return file.Folder() ? "a folder, not a file" : "not a regular file (a FIFO or a device)";
}

void CheckVersion(const json& doc) {
  std::string version;
  const auto asset = doc.find("asset");
  if (asset != doc.end() && asset->is_object()) {
    const auto v = asset->find("version");
    if (v != asset->end() && v->is_string()) version = v->get<std::string>();
  }
  if (version.rfind("2.", 0) == 0) return;
  if (version.empty() || version[0] == '1')
    ThrowFault("asset.version", "glTF 1.0 is not read; export glTF 2.0");
  ThrowFault("asset.version", "glTF " + version + " is not read; export glTF 2.0");
}

void CheckExtensions(const json& doc) {
  const auto required = doc.find("extensionsRequired");
  if (required == doc.end() || !required->is_array()) return;
  for (const json& e : *required) {
    if (!e.is_string()) continue;
    const std::string name = e.get<std::string>();
    // Textures and materials never move a track; lights are read and so are
    // animation pointers.
    if (name.rfind("KHR_materials_", 0) == 0 || name.rfind("KHR_texture_", 0) == 0 ||
        name.rfind("EXT_texture_", 0) == 0 || name == "KHR_lights_punctual" ||
        name == "KHR_animation_pointer")
      continue;
    if (name == "KHR_draco_mesh_compression") {
      ThrowFault("extensionsRequired",
                 "the extension " + name +
                     " (Draco mesh compression) is required, which this importer does not read; "
                     "export without compression (in Blender: untick Data > Compression)");
    }
    if (name == "EXT_meshopt_compression" || name == "KHR_meshopt_compression") {
      ThrowFault("extensionsRequired",
                 "the extension " + name +
                     " (meshopt compression) is required, which this importer does not read; "
                     "export without it (gltfpack without -c)");
    }
    ThrowFault("extensionsRequired",
               "the extension " + name + " is required, which this importer does not read");
  }
}

void CheckCameras(const json& doc) {
  const auto cameras = doc.find("cameras");
  if (cameras == doc.end() || !cameras->is_array()) return;
  for (std::size_t i = 0; i < cameras->size(); ++i) {
    const json& c = (*cameras)[i];
    if (!c.is_object() || !c.contains("perspective") || !c["perspective"].is_object()) continue;
    const json& p = c["perspective"];
    if (p.contains("aspectRatio") && !(p["aspectRatio"].is_number() && p["aspectRatio"] > 0.0)) {
      ThrowFault(At("cameras", static_cast<int>(i)) + ".perspective.aspectRatio",
                 "expected a number above 0, or none (the image's width over its height)");
    }
  }
}

// Whether an accessor reads a buffer, by buffer index: where none does, the
// buffer holds images or nothing the track needs.
std::vector<bool> BuffersRead(const json& doc, std::size_t n) {
  std::vector<bool> read(n, false);
  const auto views = doc.find("bufferViews"), accessors = doc.find("accessors");
  if (views == doc.end() || !views->is_array() || accessors == doc.end() || !accessors->is_array())
    return read;
  const auto view = [&](const json& holder) {
    if (!holder.is_object() || !holder.contains("bufferView")) return;
    const json& index = holder["bufferView"];
    if (!index.is_number_unsigned() || index.get<std::uint64_t>() >= views->size()) return;
    const json& v = (*views)[index.get<std::size_t>()];
    if (!v.is_object() || !v.contains("buffer") || !v["buffer"].is_number_unsigned()) return;
    if (const std::uint64_t b = v["buffer"].get<std::uint64_t>(); b < n) read[b] = true;
  };
  for (const json& a : *accessors) {
    view(a);
    if (!a.is_object() || !a.contains("sparse") || !a["sparse"].is_object()) continue;
    for (const char* part : {"indices", "values"}) {
      if (a["sparse"].contains(part)) view(a["sparse"][part]);
    }
  }
  return read;
}

// A buffer no accessor reads is handed to tinygltf as one byte, its own
// bytes (a data: URI's or a file's) never read.
void SkipUnread(json& b, std::size_t i, std::uint64_t length, Prepared& p) {
  p.unread[i] = length;
  b["uri"] = Token(i);
  b["byteLength"] = 1;
}

// Reads external buffers; true when the document was changed.
bool ReadBuffers(json& doc, const std::string& path, std::size_t fileBytes, Prepared& p) {
  const auto buffers = doc.find("buffers");
  if (buffers == doc.end() || !buffers->is_array()) return false;
  const std::vector<bool> read = BuffersRead(doc, buffers->size());
  p.unread.resize(buffers->size());
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::string realFolder;
  bool changed = false;
  std::uint64_t total = fileBytes;
  p.files.resize(buffers->size());
  p.spans.resize(buffers->size());
  for (std::size_t i = 0; i < buffers->size(); ++i) {
    json& b = (*buffers)[i];
    const std::string at = At("buffers", static_cast<int>(i));
    if (!b.is_object()) continue;
    std::uint64_t length = 0;
    if (b.contains("byteLength") && b["byteLength"].is_number_unsigned()) {
      length = b["byteLength"].get<std::uint64_t>();
      if (length > kMaxGltfBytes || total + length > kMaxGltfBytes)
        ThrowFault(at + ".byteLength", "expected the file and its buffers within 1 GiB in all");
      total += length;
    }
    if (!b.contains("uri") || !b["uri"].is_string()) continue;
    const std::string uri = b["uri"];
    const bool skip = !read[i] && length > 0;
    if (uri.rfind("data:", 0) == 0) {
      if (skip) SkipUnread(b, i, length, p);
      changed = changed || skip;
      continue;
    }
    const std::string name = PercentDecoded(uri, at + ".uri");
    const std::size_t colon = name.find(':');
    if (name.empty() || name[0] == '/' || name[0] == '\\' ||
        (colon != std::string::npos && colon < name.find('/')))  // http:, file:, C:, ...
      ThrowFault(at + ".uri", "expected a data: URI or a file relative to the glTF's folder");
    const std::filesystem::path relative = std::filesystem::path(name).lexically_normal();
    if (relative.empty() || *relative.begin() == "..")
      ThrowFault(at + ".uri",
                 "expected a file inside the glTF's folder (" + folder.string() + "), not " + name);
    if (realFolder.empty()) realFolder = RealPath(folder.string());
    const std::string real = realFolder.empty() ? "" : RealPath((folder / name).string());
    if (real.empty())
      ThrowFault(at + ".uri",
                 "no file '" + name + "' in the glTF's folder (" + folder.string() + ")");
    const std::string inside = realFolder == "/" ? "/" : realFolder + "/";
    if (real.compare(0, inside.size(), inside) != 0)
      ThrowFault(at + ".uri", "expected a file inside the glTF's folder (" + folder.string() +
                                  "); '" + uri + "' is " + real);
    const fileio::RegularFile file(real);
    if (!file.Error().empty())
      ThrowFault(at + ".uri", "cannot read " + real + ": " + Problem(file));
    if (file.Size() < length) {
      ThrowFault(at + ".uri", real + " has " + std::to_string(file.Size()) +
                                  " bytes; byteLength is " + std::to_string(length));
    }
    p.paths.push_back(real);
    changed = true;
    if (skip) {
      SkipUnread(b, i, length, p);
      continue;
    }
    Bytes& bytes = p.files[i];
    bytes.size = static_cast<std::size_t>(length);
    bytes.data = std::make_unique_for_overwrite<char[]>(bytes.size);
    if (const std::string error = file.Read(bytes.data.get(), bytes.size); !error.empty())
      ThrowFault(at + ".uri", "cannot read " + real + ": " + error);
    b["uri"] = Token(i);
    if (length > 0) {  // (a file of none is tinygltf's to refuse)
      p.spans[i] = {reinterpret_cast<const unsigned char*>(bytes.data.get()), bytes.size};
      b["byteLength"] = 1;
    }
    changed = true;
  }
  return changed;
}

// Images play no part in a track: a data: URI is dropped before it is
// decoded; a file is named to tinygltf as one that does not exist.
bool DropImages(json& doc) {
  const auto images = doc.find("images");
  if (images == doc.end() || !images->is_array()) return false;
  bool changed = false;
  for (json& image : *images) {
    if (image.is_object() && image.contains("uri") && image["uri"].is_string() &&
        image["uri"].get_ref<const std::string&>().rfind("data:", 0) == 0) {
      image["uri"] = "(image)";
      changed = true;
    }
  }
  return changed;
}

// tinygltf reads an index (and an enumerated value) into an int, keeping a
// larger integer's low 32 bits: a child 4294967297 would name node 1. Such an
// integer becomes the int's own bound instead, past the end of any list a
// file can hold, so that it is refused where it stands as an index past the
// end is. Only the keys tinygltf reads as an int: byte lengths, offsets and
// counts are read whole. key: the value's own key (an array's elements its
// array's); a mesh's attributes and morph targets name indices by any key.
bool BoundIntegers(json& v, std::string_view key) {
  static constexpr std::string_view kIntKeys[] = {
      "buffer",   "bufferView", "camera",   "children", "componentType",
      "height",   "index",      "indices",  "input",    "inverseBindMatrices",
      "joints",   "magFilter",  "material", "mesh",     "minFilter",
      "mode",     "node",       "nodes",    "output",   "sampler",
      "scene",    "skeleton",   "skin",     "source",   "target",
      "texCoord", "width",      "wrapR",    "wrapS",    "wrapT"};
  bool changed = false;
  if (v.is_object()) {
    const bool anyKey = key == "attributes" || key == "targets";
    for (auto it = v.begin(); it != v.end(); ++it)
      changed = BoundIntegers(it.value(), anyKey ? "index" : std::string_view(it.key())) || changed;
  } else if (v.is_array()) {
    for (json& element : v) changed = BoundIntegers(element, key) || changed;
  } else if (v.is_number_integer() &&
             std::find(std::begin(kIntKeys), std::end(kIntKeys), key) != std::end(kIntKeys)) {
    constexpr auto kMax = std::numeric_limits<int>::max(), kMin = std::numeric_limits<int>::min();
    if (v.is_number_unsigned() ? v.get<std::uint64_t>() > std::uint64_t{kMax}
                               : v.get<std::int64_t>() > kMax || v.get<std::int64_t>() < kMin) {
      v = v.is_number_unsigned() || v.get<std::int64_t>() > 0 ? kMax : kMin;
      changed = true;
    }
  }
  return changed;
}

bool TakePointers(json& doc, Prepared& p) {
  const auto animations = doc.find("animations");
  if (animations == doc.end() || !animations->is_array()) return false;
  bool changed = false;
  for (std::size_t a = 0; a < animations->size(); ++a) {
    json& anim = (*animations)[a];
    if (!anim.is_object() || !anim.contains("channels") || !anim["channels"].is_array()) continue;
    json& channels = anim["channels"];
    for (std::size_t c = 0; c < channels.size(); ++c) {
      json& ch = channels[c];
      if (!ch.is_object() || !ch.contains("target") || !ch["target"].is_object()) continue;
      json& target = ch["target"];
      const json* pointer = nullptr;
      if (target.contains("extensions") && target["extensions"].is_object() &&
          target["extensions"].contains("KHR_animation_pointer")) {
        const json& ext = target["extensions"]["KHR_animation_pointer"];
        if (ext.is_object() && ext.contains("pointer") && ext["pointer"].is_string())
          pointer = &ext["pointer"];
      }
      if (pointer == nullptr || target.contains("node")) continue;
      p.pointers[{static_cast<int>(a), static_cast<int>(c)}] = pointer->get<std::string>();
      target = {{"node", -1}, {"path", kPointerPath}};
      changed = true;
    }
  }
  return changed;
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
BinChunk ReadBinChunk(std::string_view bytes, std::string_view rest, bool changed) {
  BinChunk bin;
  std::uint64_t after = rest.size();  // the bytes after the JSON chunk, by the header
  if (!changed) {
    const std::uint64_t length = Word(bytes, 8), json = 20 + std::uint64_t{Word(bytes, 12)};
    if (length > bytes.size() || json > length || Word(bytes, 16) != kJsonChunk) return bin;
    after = length - json;
    bin.aligned = json % 4 == 0;
  }
  if (after != 0) {
    if (after < 12) return bin;
    const std::uint32_t length = Word(rest, 0);
    if (length < 4 || length % 4 != 0 || length > after || Word(rest, 4) != kBinChunk) return bin;
    const std::string_view held = rest.substr(8, length);
    bin.present = true;
    bin.claimed = length;
    bin.bytes = {reinterpret_cast<const unsigned char*>(held.data()), held.size()};
  }
  bin.valid = true;
  return bin;
}

bool Unsigned(const json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_number_unsigned();
}

// A GLB's buffers without a URI: the BIN chunk's first byteLength bytes,
// each handed to tinygltf as one byte (changed set when one is). False when
// tinygltf must have the chunks, to refuse the file or a buffer (before it
// reads any of the chunk's bytes).
bool ResolveBinBuffers(json& doc, const BinChunk& bin, Prepared& p, bool& changed) {
  if (!bin.valid) return false;
  const auto buffers = doc.find("buffers");
  if (buffers == doc.end() || !buffers->is_array()) return true;
  bool all = true;
  for (std::size_t i = 0; i < buffers->size(); ++i) {
    json& b = (*buffers)[i];
    // Not an object, a byteLength tinygltf refuses before the chunk, or a
    // URI (a file's or data): not the chunk's.
    if (!b.is_object() || !Unsigned(b, "byteLength") || (b.contains("uri") && b["uri"].is_string()))
      continue;
    const std::uint64_t length = b["byteLength"].get<std::uint64_t>();
    if (!bin.present || length == 0 || length > bin.claimed) {
      all = false;
      continue;
    }
    if (length > bin.bytes.size() && !p.afterLoad) {
      p.afterLoad = Fault{At("buffers", static_cast<int>(i)) + ".byteLength",
                          "expected at most the " + std::to_string(bin.bytes.size()) +
                              " bytes the GLB's BIN chunk holds (its header says " +
                              std::to_string(bin.claimed) + ")"};
    }
    p.spans[i] = bin.bytes.first(std::min<std::size_t>(length, bin.bytes.size()));
    b["uri"] = Token(i);
    b["byteLength"] = 1;
    changed = true;
  }
  return all;
}

// An image in a buffer resolved here names a file that does not exist
// instead, as tinygltf would otherwise point into the one byte it holds.
// Only where tinygltf would find the image's bufferView and its buffer.
bool DropBufferImages(json& doc, const Prepared& p) {
  const auto images = doc.find("images"), views = doc.find("bufferViews");
  if (images == doc.end() || !images->is_array() || views == doc.end() || !views->is_array())
    return false;
  auto index = [](const json& v) {  // as tinygltf reads an integer
    return v.is_number_integer() ? static_cast<int>(v.get<std::int64_t>()) : -1;
  };
  bool changed = false;
  for (json& image : *images) {
    if (!image.is_object() || !image.contains("bufferView") || image.contains("uri")) continue;
    const int view = index(image["bufferView"]);
    if (view < 0 || static_cast<std::size_t>(view) >= views->size()) continue;
    const json& v = (*views)[static_cast<std::size_t>(view)];
    if (!v.is_object() || !v.contains("buffer")) continue;
    const int buffer = index(v["buffer"]);
    if (buffer < 0 || static_cast<std::size_t>(buffer) >= p.spans.size() ||
        (p.spans[static_cast<std::size_t>(buffer)].empty() &&
         p.unread[static_cast<std::size_t>(buffer)] == 0))
      continue;
    image.erase("bufferView");
    image["uri"] = "(image)";
    changed = true;
  }
  return changed;
}

}  // namespace

Result<Bytes> ReadRegularFile(const std::string& path, std::size_t limit) {
  const fileio::RegularFile file(path);
  if (!file.Error().empty()) return Fail(Problem(file));
  if (file.Size() > limit) return Fail("expected a file of at most 1 GiB");
  Bytes bytes;
  bytes.size = file.Size();
  bytes.data = std::make_unique_for_overwrite<char[]>(bytes.size);
  if (const std::string error = file.ReadAll(bytes.data.get()); !error.empty()) return Fail(error);
  return bytes;
}

Prepared Prepare(std::string_view bytes, const std::string& path) {
  Prepared p;
  p.binary = EndsWith(path, ".glb");
  p.base = kBase;
  std::string_view text = bytes;
  std::string_view rest;  // the GLB's chunks after its JSON
  if (p.binary) {
    if (bytes.size() < 20 || bytes.substr(0, 4) != "glTF")
      ThrowFault("(document)", "not a GLB file");
    const std::uint32_t version = Word(bytes, 4);
    if (version == 1) ThrowFault("(document)", "glTF 1.0 is not read; export glTF 2.0");
    if (version != 2)
      ThrowFault("(document)",
                 "GLB version " + std::to_string(version) + " is not read; export glTF 2.0");
    const std::uint32_t length = Word(bytes, 12);
    if (length > bytes.size() - 20) ThrowFault("(document)", "a GLB whose JSON chunk is cut short");
    text = text.substr(20, length);
    rest = bytes.substr(20 + length);
  }
  // Nesting is measured first: tinygltf reads nested values recursively,
  // and a file nested a hundred thousand levels deep would end the process.
  if (const DeepNesting deep = NestingDeeperThan(text, kMaxNesting);
      deep.offset != std::string_view::npos)
    ThrowFault(deep.path, "nested deeper than " + std::to_string(kMaxNesting) + " levels");
  json doc;
  try {
    doc = json::parse(text.begin(), text.end());
  } catch (const json::exception& e) {
    ThrowFault("(document)", std::string("not valid JSON: ") + e.what());
  }
  if (!doc.is_object()) ThrowFault("(document)", "expected a glTF object");
  CheckVersion(doc);
  CheckExtensions(doc);
  CheckCameras(doc);
  bool changed = ReadBuffers(doc, path, bytes.size(), p);
  changed = DropImages(doc) || changed;
  changed = TakePointers(doc, p) || changed;
  changed = BoundIntegers(doc, {}) || changed;
  // A GLB's chunks go to tinygltf only when it must refuse something in
  // them; else its buffers are the file's bytes.
  bool chunks = false;
  BinChunk bin;
  if (p.binary) {
    bin = ReadBinChunk(bytes, rest, changed);
    chunks = !ResolveBinBuffers(doc, bin, p, changed);
  }
  changed = DropBufferImages(doc, p) || changed;
  if (!changed) return p;
  if (!p.binary) {
    p.rewritten = doc.dump();
  } else {
    std::string chunk = doc.dump();
    // Padded as tinygltf expects; left unaligned when the file's own JSON
    // chunk was, which tinygltf notes in any refusal.
    while (bin.aligned && chunk.size() % 4 != 0) chunk += ' ';
    if (!bin.aligned && chunk.size() % 4 == 0) chunk += ' ';
    const std::string_view after = chunks ? rest : std::string_view();
    p.rewritten = "glTF";
    PutWord(p.rewritten, 2);
    PutWord(p.rewritten, static_cast<std::uint32_t>(20 + chunk.size() + after.size()));
    PutWord(p.rewritten, static_cast<std::uint32_t>(chunk.size()));
    PutWord(p.rewritten, kJsonChunk);
    p.rewritten += chunk;
    p.rewritten += after;
  }
  return p;
}

tinygltf::FsCallbacks Callbacks(Prepared& prepared) {
  // The buffer a path names, or -1.
  static constexpr auto Index = [](const std::string& path, const Prepared& p) -> long {
    const std::string head = std::string(kBase) + "/tq";
    if (path.compare(0, head.size(), head) != 0) return -1;
    const std::string digits = path.substr(head.size());
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return -1;
    const long i = std::stol(digits);
    return i < static_cast<long>(p.spans.size()) &&
                   Token(static_cast<std::size_t>(i)) == path.substr(std::strlen(kBase) + 1)
               ? i
               : -1;
  };
  tinygltf::FsCallbacks fs{};
  fs.user_data = &prepared;
  fs.ExpandFilePath = [](const std::string& path, void*) { return path; };
  fs.FileExists = [](const std::string& path, void* data) {
    return Index(path, *static_cast<Prepared*>(data)) >= 0;
  };
  fs.ReadWholeFile = [](std::vector<unsigned char>* out, std::string* err, const std::string& path,
                        void* data) {
    Prepared& p = *static_cast<Prepared*>(data);
    const long i = Index(path, p);
    if (i < 0) {
      if (err != nullptr) *err += "not a buffer of this file";
      return false;
    }
    // One byte for a buffer resolved here; none for a file of none, which
    // tinygltf refuses.
    const auto k = static_cast<std::size_t>(i);
    out->assign(p.spans[k].empty() && p.unread[k] == 0 ? 0 : 1, 0);
    return true;
  };
  fs.WriteWholeFile = [](std::string* err, const std::string&, const std::vector<unsigned char>&,
                         void*) {
    if (err != nullptr) *err += "the importer writes nothing";
    return false;
  };
  return fs;
}

}  // namespace tq::scene::gltf
