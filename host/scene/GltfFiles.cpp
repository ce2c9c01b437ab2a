#include "host/scene/GltfFiles.h"

#include "host/scene/GltfBuffers.h"

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
#include "host/scene/JsonTree.h"

namespace tq::scene::gltf {
namespace {

using nlohmann::json;

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

// A skin's joints, which glTF requires (tinygltf refuses a skin without
// them, or with other than whole numbers, and says nothing).
void CheckSkins(const json& doc) {
  const auto skins = doc.find("skins");
  if (skins == doc.end() || !skins->is_array()) return;
  for (std::size_t i = 0; i < skins->size(); ++i) {
    const json& skin = (*skins)[i];
    if (!skin.is_object()) continue;
    const auto joints = skin.find("joints");
    bool indices = joints != skin.end() && joints->is_array() && !joints->empty();
    if (indices) {
      for (const json& j : *joints) indices = indices && j.is_number_integer();
    }
    if (!indices)
      ThrowFault(At("skins", static_cast<int>(i)) + ".joints",
                 "expected the skin's joints: an array of node indices");
  }
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

// A GLB's JSON chunk, its header checked; rest: the chunks after it.
std::string_view GlbJsonChunk(std::string_view bytes, std::string_view& rest) {
  if (bytes.size() < 20 || bytes.substr(0, 4) != "glTF") ThrowFault("(document)", "not a GLB file");
  const std::uint32_t version = Word(bytes, 4);
  if (version == 1) ThrowFault("(document)", "glTF 1.0 is not read; export glTF 2.0");
  if (version != 2)
    ThrowFault("(document)",
               "GLB version " + std::to_string(version) + " is not read; export glTF 2.0");
  const std::uint32_t length = Word(bytes, 12);
  if (length > bytes.size() - 20) ThrowFault("(document)", "a GLB whose JSON chunk is cut short");
  rest = bytes.substr(20 + length);
  return bytes.substr(20, length);
}

// The document, its images' data: URIs never copied (each read as
// "(image)", as DropImages would write it; dropped then set). A text that
// is not JSON is refused in the words of its parse as it stands.
void ParseWithoutImageData(std::string_view text, json& doc, bool& dropped) {
  // What was read before a failure (memory running out, say) is freed
  // without allocating, before the failure unwinds.
  const auto parse = [&doc](std::string_view t) {
    nlohmann::detail::json_sax_dom_parser<json> sax(doc, true);
    try {
      json::sax_parse(t.begin(), t.end(), &sax);
    } catch (...) {
      Dismantle(doc);
      throw;
    }
  };
  const std::vector<TextSpan> images = ListMemberStrings(text, "images", "uri", "data:");
  try {
    if (!images.empty()) {
      std::string kept;
      std::size_t from = 0;
      for (const TextSpan& image : images) {
        kept.append(text.substr(from, image.offset - from));
        kept += "\"(image)\"";
        from = image.offset + image.length;
      }
      kept.append(text.substr(from));
      try {
        parse(kept);
        dropped = true;
        return;
      } catch (const json::exception&) {
      }
    }
    parse(text);
  } catch (const json::exception& e) {
    ThrowFault("(document)", std::string("not valid JSON: ") + e.what());
  }
}

// Every "extras" member taken out (freed without allocating): nothing in a
// track reads them, and tinygltf, handed the document, would copy them
// and, were memory to run out, free its own copy with an allocation.
bool DropExtras(json& v) {
  bool dropped = false;
  if (v.is_object()) {
    auto& members = v.get_ref<json::object_t&>();
    if (const auto extras = members.find("extras"); extras != members.end()) {
      Dismantle(extras->second);
      members.erase(extras);
      dropped = true;
    }
    for (auto& [key, value] : members) dropped = DropExtras(value) || dropped;
  } else if (v.is_array()) {
    for (json& element : v) dropped = DropExtras(element) || dropped;
  }
  return dropped;
}

// The most values nlohmann-json's destructor holds at once on the stack it
// frees a tree with: it takes a container's elements, then, one at a time,
// those of each element that is a container, so that along any path down
// the tree the stack holds what is left of every container on it.
std::size_t FreeingStack(const json& v) {
  if (!v.is_array() && !v.is_object()) return 0;
  std::size_t below = 0;
  for (const json& element : v) below = std::max(below, FreeingStack(element));
  return v.size() + below;
}

// The document's root extensions replaced by kLoadedMarker alone. Nothing
// in a track reads them (the lights they list are read by the nodes that
// carry them), and tinygltf puts them into its model at the end of its
// reading, after every other part of the document but the lights they
// list: with only the marker there, once the model holds it, what is left
// of the reading is freeing its tree.
void MarkLoaded(json& doc) {
  json& extensions = doc["extensions"];
  Dismantle(extensions);
  extensions = json::object({{kLoadedMarker, json::object()}});
}

// A GLB of the rewritten document followed by after (the file's chunks
// after its JSON, when tinygltf must read them). Its JSON chunk is padded
// as tinygltf expects; left unaligned when the file's own JSON chunk was
// (aligned false), which tinygltf notes in any refusal.
std::string RewrittenGlb(const json& doc, bool aligned, std::string_view after) {
  std::string chunk = doc.dump();
  while (aligned && chunk.size() % 4 != 0) chunk += ' ';
  if (!aligned && chunk.size() % 4 == 0) chunk += ' ';
  std::string glb = "glTF";
  PutWord(glb, 2);
  PutWord(glb, static_cast<std::uint32_t>(20 + chunk.size() + after.size()));
  PutWord(glb, static_cast<std::uint32_t>(chunk.size()));
  PutWord(glb, kJsonChunk);
  glb += chunk;
  glb += after;
  return glb;
}

}  // namespace

Prepared Prepare(std::string_view bytes, const std::string& path, const Need& need) {
  Prepared p;
  p.binary = EndsWith(path, ".glb");
  p.base = kBase;
  const auto read = [&](std::size_t from, std::size_t n) {
    if (const std::string error = need(from, n); !error.empty())
      ThrowFault("(document)", "cannot read: " + error);
  };
  std::string_view text = bytes;
  std::string_view rest;  // the GLB's chunks after its JSON
  read(0, p.binary ? 20 : bytes.size());
  if (p.binary) {
    text = GlbJsonChunk(bytes, rest);
    read(20, text.size() + 8);  // and the next chunk's header
  }
  // Nesting is measured first: tinygltf reads nested values recursively,
  // and a file nested a hundred thousand levels deep would end the process.
  if (const DeepNesting deep = NestingDeeperThan(text, kMaxNesting);
      deep.offset != std::string_view::npos)
    ThrowFault(deep.path, "nested deeper than " + std::to_string(kMaxNesting) + " levels");
  bool changed = false;
  JsonTree<json> tree;
  json& doc = tree.value;
  ParseWithoutImageData(text, doc, changed);
  changed = DropExtras(doc) || changed;
  if (!doc.is_object()) ThrowFault("(document)", "expected a glTF object");
  CheckVersion(doc);
  CheckExtensions(doc);
  CheckCameras(doc);
  CheckSkins(doc);
  changed = ReadBuffers(doc, path, bytes.size(), p) || changed;
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
  DropBufferImages(doc, p);
  // tinygltf always reads the document rewritten, since it carries the
  // marker; it reads a GLB's chunks itself where it is handed them.
  MarkLoaded(doc);
  if (chunks) read(0, bytes.size());
  ReadViews(doc, p, bytes, need);
  p.freeingStack = FreeingStack(doc);
  if (!p.binary) {
    p.rewritten = doc.dump();
  } else {
    p.rewritten = RewrittenGlb(doc, bin.aligned, chunks ? rest : std::string_view());
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
