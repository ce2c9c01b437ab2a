#include "host/scene/GltfBuffers.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <limits>

#include "host/fileio/InputFile.h"
#include "host/scene/GltfImport.h"

namespace tq::scene::gltf {
namespace {

using nlohmann::json;

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

// Each buffer view an accessor reads (its own and its sparse parts'), as
// visit(buffer index, view), for buffers below n.
template <typename Visit>
void ForEachReadView(const json& doc, std::size_t n, Visit&& visit) {
  const auto views = doc.find("bufferViews"), accessors = doc.find("accessors");
  if (views == doc.end() || !views->is_array() || accessors == doc.end() || !accessors->is_array())
    return;
  const auto view = [&](const json& holder) {
    if (!holder.is_object() || !holder.contains("bufferView")) return;
    const json& index = holder["bufferView"];
    if (!index.is_number_unsigned() || index.get<std::uint64_t>() >= views->size()) return;
    const json& v = (*views)[index.get<std::size_t>()];
    if (!v.is_object() || !v.contains("buffer") || !v["buffer"].is_number_unsigned()) return;
    if (const std::uint64_t b = v["buffer"].get<std::uint64_t>(); b < n) visit(b, v);
  };
  for (const json& a : *accessors) {
    view(a);
    if (!a.is_object() || !a.contains("sparse") || !a["sparse"].is_object()) continue;
    for (const char* part : {"indices", "values"}) {
      if (a["sparse"].contains(part)) view(a["sparse"][part]);
    }
  }
}

// Whether an accessor reads a buffer, by buffer index: where none does, the
// buffer holds images or nothing the track needs.
std::vector<bool> BuffersRead(const json& doc, std::size_t n) {
  std::vector<bool> read(n, false);
  ForEachReadView(doc, n, [&](std::uint64_t b, const json&) { read[b] = true; });
  return read;
}

// A buffer no accessor reads is handed to tinygltf as one byte, its own
// bytes (a data: URI's or a file's) never read.
void SkipUnread(json& b, std::size_t i, std::uint64_t length, Prepared& p) {
  p.unread[i] = length;
  b["uri"] = Token(i);
  b["byteLength"] = 1;
}

// The file a buffer's URI names, resolved: decoded, relative to the glTF's
// folder and inside it, links followed (realFolder: the folder's own real
// path, found once).
std::string ConfinedFile(const std::string& uri, const std::string& at,
                         const std::filesystem::path& folder, std::string& realFolder) {
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
  return real;
}

}  // namespace

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
    const std::string real = ConfinedFile(uri, at, folder, realFolder);
    auto file = std::make_unique<const fileio::RegularFile>(real);
    if (!file->Error().empty())
      ThrowFault(at + ".uri", "cannot read " + real + ": " + Problem(*file));
    if (file->Size() < length) {
      ThrowFault(at + ".uri", real + " has " + std::to_string(file->Size()) +
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
    bytes.held.assign(bytes.size / Bytes::kBlock + 1, false);
    bytes.file = std::move(file);
    bytes.path = real;
    b["uri"] = Token(i);
    if (length > 0) {  // (a file of none is tinygltf's to refuse)
      p.spans[i] = {reinterpret_cast<const unsigned char*>(bytes.data.get()), bytes.size};
      b["byteLength"] = 1;
    }
    changed = true;
  }
  return changed;
}

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

void ReadViews(const json& doc, Prepared& p, std::string_view bytes, const Need& need) {
  const auto buffers = doc.find("buffers");
  if (buffers == doc.end() || !buffers->is_array()) return;
  ForEachReadView(doc, p.spans.size(), [&](std::uint64_t b, const json& view) {
    const Span span = p.spans[b];
    if (span.empty()) return;  // tinygltf's own (a data: URI's)
    std::uint64_t from = 0, n = span.size();
    if (Unsigned(view, "byteLength")) {
      from = Unsigned(view, "byteOffset") ? view["byteOffset"].get<std::uint64_t>() : 0;
      n = view["byteLength"].get<std::uint64_t>();
    }
    if (from >= span.size()) return;
    n = std::min<std::uint64_t>(n, span.size() - from);
    const std::string at = At("buffers", static_cast<int>(b));
    Bytes& file = p.files[b];
    if (file.file != nullptr) {
      if (const std::string error = file.Need(from, n); !error.empty())
        ThrowFault(at + ".uri", "cannot read " + file.path + ": " + error);
      return;
    }
    const auto start = reinterpret_cast<const char*>(span.data()) - bytes.data();
    if (const std::string error = need(static_cast<std::size_t>(start) + from, n); !error.empty())
      ThrowFault(at, "cannot read the GLB's BIN chunk: " + error);
  });
}

std::string Bytes::Need(std::size_t from, std::size_t n) {
  if (file == nullptr || from >= size) return "";
  n = std::min(n, size - from);
  const std::size_t last = (from + n + kBlock - 1) / kBlock;
  for (std::size_t block = from / kBlock; block < last;) {
    std::size_t end = block;
    while (end < last && !held[end]) ++end;
    if (end > block) {
      const std::size_t at = block * kBlock;
      const std::string error = file->Read(data.get() + at, std::min(end * kBlock, size) - at, at);
      if (!error.empty()) return error;
      std::fill(held.begin() + static_cast<std::ptrdiff_t>(block),
                held.begin() + static_cast<std::ptrdiff_t>(end), true);
    }
    block = end + 1;
  }
  return "";
}

Result<Bytes> OpenRegularFile(const std::string& path, std::size_t limit) {
  auto file = std::make_unique<const fileio::RegularFile>(path);
  if (!file->Error().empty()) return Fail(Problem(*file));
  if (file->Size() > limit) return Fail("expected a file of at most 1 GiB");
  Bytes bytes;
  bytes.size = file->Size();
  bytes.data = std::make_unique_for_overwrite<char[]>(bytes.size);
  bytes.held.assign(bytes.size / Bytes::kBlock + 1, false);
  bytes.file = std::move(file);
  return bytes;
}

}  // namespace tq::scene::gltf
