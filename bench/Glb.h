// A binary glTF (.glb) of one mesh, written for the import rows: a JSON
// chunk naming one buffer, one float VEC3 POSITION accessor over it and one
// node, then the BIN chunk.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tq::bench {

inline void AppendWord(std::string& out, std::uint32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  out.append(b, 4);
}

// The .glb bytes of a mesh whose vertices are xyz (three floats a vertex),
// one node named "Mesh" at the root of the scene.
inline std::string MeshGlb(const std::vector<float>& xyz) {
  const std::size_t bytes = xyz.size() * sizeof(float);
  const std::string count = std::to_string(xyz.size() / 3), length = std::to_string(bytes);
  std::string json = R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],)";
  json.append(R"("nodes":[{"name":"Mesh","mesh":0}],)")
      .append(R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],)")
      .append(R"("buffers":[{"byteLength":)")
      .append(length)
      .append(R"(}],"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":)")
      .append(length)
      .append(R"(}],"accessors":[{"bufferView":0,"componentType":5126,"count":)")
      .append(count)
      .append(R"(,"type":"VEC3"}]})");
  while (json.size() % 4 != 0) json += ' ';
  std::string out = "glTF";
  AppendWord(out, 2);
  AppendWord(out, static_cast<std::uint32_t>(12 + 8 + json.size() + 8 + bytes));
  AppendWord(out, static_cast<std::uint32_t>(json.size()));
  AppendWord(out, 0x4E4F534A);  // JSON
  out += json;
  AppendWord(out, static_cast<std::uint32_t>(bytes));
  AppendWord(out, 0x004E4942);  // BIN
  out.append(reinterpret_cast<const char*>(xyz.data()), bytes);
  return out;
}

}  // namespace tq::bench
