// Small glTF 2.0 files built in a test: accessors over one binary buffer,
// written as a .gltf with a data: URI or an external .bin, or as a .glb.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tq::testing {

class GltfBuilder {
 public:
  using json = nlohmann::json;

  GltfBuilder() {
    doc["asset"] = {{"version", "2.0"}};
    doc["scene"] = 0;
    doc["scenes"] = json::array({{{"nodes", json::array()}}});
    doc["nodes"] = json::array();
  }

  // An accessor of floats: type "SCALAR", "VEC3", "VEC4" or "MAT4".
  int Floats(const std::vector<float>& values, const char* type) {
    const std::size_t count = values.size() / Components(type);
    return Accessor(values.data(), values.size() * 4, 5126, count, type);
  }
  int Indices(const std::vector<std::uint16_t>& values) {
    return Accessor(values.data(), values.size() * 2, 5123, values.size(), "SCALAR");
  }

  // A node; a root of the scene unless it is given a parent.
  int Node(json node, int parent = -1) {
    const int index = static_cast<int>(doc["nodes"].size());
    doc["nodes"].push_back(std::move(node));
    if (parent < 0) {
      doc["scenes"][0]["nodes"].push_back(index);
    } else {
      doc["nodes"][static_cast<std::size_t>(parent)]["children"].push_back(index);
    }
    return index;
  }

  // One animation of LINEAR samplers: (node, path, input, output).
  struct Channel {
    int node;
    const char* path;
    int input, output;
    const char* interpolation = "LINEAR";
  };
  void Animation(const std::string& name, const std::vector<Channel>& channels) {
    json a = {{"name", name}, {"channels", json::array()}, {"samplers", json::array()}};
    for (const Channel& c : channels) {
      const int sampler = static_cast<int>(a["samplers"].size());
      a["samplers"].push_back(
          {{"input", c.input}, {"output", c.output}, {"interpolation", c.interpolation}});
      a["channels"].push_back(
          {{"sampler", sampler}, {"target", {{"node", c.node}, {"path", c.path}}}});
    }
    doc["animations"].push_back(a);
  }

  // The .gltf text with the buffer inline as a data: URI.
  std::string DataUri() {
    json d = Document();
    if (!bin.empty()) {
      d["buffers"] =
          json::array({{{"byteLength", bin.size()},
                        {"uri", "data:application/octet-stream;base64," + Base64(bin)}}});
    }
    return d.dump();
  }
  // The .gltf text naming an external buffer file; with extra, the buffer
  // that many bytes longer than bin (the caller makes the file so).
  std::string External(const std::string& binName, std::size_t extra = 0) {
    json d = Document();
    d["buffers"] = json::array({{{"byteLength", bin.size() + extra}, {"uri", binName}}});
    return d.dump();
  }
  // The .glb bytes: header, JSON chunk, BIN chunk; with extra (a multiple
  // of 4, bin too), a buffer and chunk that much longer than the bytes
  // given, which the caller adds to the file.
  std::string Glb(std::size_t extra = 0) {
    json d = Document();
    d["buffers"] = json::array({{{"byteLength", bin.size() + extra}}});
    std::string text = d.dump();
    while (text.size() % 4 != 0) text += ' ';
    std::string body = bin;
    while (body.size() % 4 != 0) body += '\0';
    std::string out = "glTF";
    Word(out, 2);
    Word(out, static_cast<std::uint32_t>(12 + 8 + text.size() + 8 + body.size() + extra));
    Word(out, static_cast<std::uint32_t>(text.size()));
    Word(out, 0x4E4F534A);  // JSON
    out += text;
    Word(out, static_cast<std::uint32_t>(body.size() + extra));
    Word(out, 0x004E4942);  // BIN
    out += body;
    return out;
  }

  json doc;
  std::string bin;

 private:
  static std::size_t Components(const std::string& type) {
    return type == "SCALAR" ? 1 : type == "VEC3" ? 3 : type == "VEC4" ? 4 : 16;
  }
  int Accessor(const void* data, std::size_t bytes, int componentType, std::size_t count,
               const char* type) {
    while (bin.size() % 4 != 0) bin += '\0';
    const std::size_t offset = bin.size();
    bin.append(static_cast<const char*>(data), bytes);
    const int view = static_cast<int>(doc["bufferViews"].size());
    doc["bufferViews"].push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bytes}});
    const int index = static_cast<int>(doc["accessors"].size());
    doc["accessors"].push_back(
        {{"bufferView", view}, {"componentType", componentType}, {"count", count}, {"type", type}});
    return index;
  }
  json Document() const { return doc; }
  static void Word(std::string& out, std::uint32_t v) {
    char b[4];
    std::memcpy(b, &v, 4);
    out.append(b, 4);
  }
  static std::string Base64(const std::string& in) {
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
      const unsigned v = static_cast<unsigned char>(in[i]) << 16 |
                         static_cast<unsigned char>(in[i + 1]) << 8 |
                         static_cast<unsigned char>(in[i + 2]);
      out += {k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], k[v & 63]};
    }
    if (i + 1 == in.size()) {
      const unsigned v = static_cast<unsigned char>(in[i]) << 16;
      out += {k[v >> 18], k[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == in.size()) {
      const unsigned v =
          static_cast<unsigned char>(in[i]) << 16 | static_cast<unsigned char>(in[i + 1]) << 8;
      out += {k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], '='};
    }
    return out;
  }
};

// The shot several tests work by hand: a camera at the origin turning about
// Y from 0 to 90 degrees over one second while a null rises from (0, 0, -10)
// to (0, 5, -10). yfov = 2 atan(1/3) with aspect ratio 1.5 gives f = 17.5 /
// (1.5 x 1/3) = 35; 1920 wide, 1280 high.
inline GltfBuilder PanOverRisingNull() {
  GltfBuilder b;
  b.doc["cameras"] = nlohmann::json::array(
      {{{"type", "perspective"},
        {"perspective",
         {{"yfov", 2 * std::atan(1.0 / 3.0)}, {"aspectRatio", 1.5}, {"znear", 0.1}}}}});
  const int camera = b.Node({{"name", "Cam"}, {"camera", 0}});
  const int null = b.Node({{"name", "Target"}, {"translation", {0, 0, -10}}});
  const int times = b.Floats({0, 1}, "SCALAR");
  const float s45 = static_cast<float>(std::sin(M_PI / 4));
  const float c45 = static_cast<float>(std::cos(M_PI / 4));
  b.Animation("Pan", {{camera, "rotation", times, b.Floats({0, 0, 0, 1, 0, s45, 0, c45}, "VEC4")},
                      {null, "translation", times, b.Floats({0, 0, -10, 0, 5, -10}, "VEC3")}});
  return b;
}

// The shot bundled as examples/shot.gltf: a camera named Camera panning to
// follow a ball named Ball (an octahedron) that rolls from x = -3 to 3 over
// four seconds, bouncing twice, above a floor.
inline GltfBuilder ShotExample() {
  GltfBuilder b;
  b.doc["asset"]["generator"] = "tqmotion's tests (GltfBuilder.h, ShotExample)";
  b.doc["cameras"] = nlohmann::json::array(
      {{{"name", "Camera"},
        {"type", "perspective"},
        {"perspective", {{"yfov", 0.6}, {"aspectRatio", 16.0 / 9.0}, {"znear", 0.1}}}}});
  const int ball =
      b.Floats({0, 0.5f, 0, 0.5f, 0, 0, 0, 0, 0.5f, -0.5f, 0, 0, 0, 0, -0.5f, 0, -0.5f, 0}, "VEC3");
  const int floor = b.Floats({-5, 0, -5, 5, 0, -5, 5, 0, 5, -5, 0, 5}, "VEC3");
  b.doc["materials"] = nlohmann::json::array({{{"name", "Rubber"}}, {{"name", "Concrete"}}});
  b.doc["meshes"] = nlohmann::json::array(
      {{{"name", "Ball"},
        {"primitives",
         {{{"attributes", {{"POSITION", ball}}},
           {"indices",
            b.Indices({0, 1, 2, 0, 2, 3, 0, 3, 4, 0, 4, 1, 5, 2, 1, 5, 3, 2, 5, 4, 3, 5, 1, 4})},
           {"material", 0}}}}},
       {{"name", "Floor"},
        {"primitives",
         {{{"attributes", {{"POSITION", floor}}},
           {"indices", b.Indices({0, 2, 1, 0, 3, 2})},
           {"material", 1}}}}}});
  b.Node({{"name", "Floor"}, {"mesh", 1}});
  const int node = b.Node({{"name", "Ball"}, {"mesh", 0}, {"translation", {-3, 0.5, 0}}});
  const int camera = b.Node({{"name", "Camera"}, {"camera", 0}, {"translation", {0, 1.5, 8}}});
  std::vector<float> times, path, turn;
  for (int k = 0; k <= 8; ++k) {
    const float t = 0.5f * static_cast<float>(k);
    times.push_back(t);
    const float x = -3 + 0.75f * static_cast<float>(k);
    path.insert(path.end(), {x, k % 4 == 2 ? 1.5f : 0.5f, 0});
    // Turned about Y to face the ball: half the angle atan(-x / 8).
    const double half = std::atan2(-x, 8.0) / 2;
    turn.insert(turn.end(),
                {0, static_cast<float>(std::sin(half)), 0, static_cast<float>(std::cos(half))});
  }
  const int input = b.Floats(times, "SCALAR");
  b.Animation("Roll", {{node, "translation", input, b.Floats(path, "VEC3")},
                       {camera, "rotation", input, b.Floats(turn, "VEC4")}});
  return b;
}

}  // namespace tq::testing
