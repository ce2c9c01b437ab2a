// The check: one pass over every index and every accessor's data, naming
// the file's own path to a fault, before anything is made; then the default
// scene's nodes in order.
#include "host/scene/GltfImporter.h"

namespace tq::scene::gltf {

void Importer::Validate() {
  const std::size_t nodes = m_.nodes.size();
  for (std::size_t s = 0; s < m_.scenes.size(); ++s) {
    for (const int n : m_.scenes[s].nodes)
      Index(n, nodes, At("scenes", static_cast<int>(s)) + ".nodes", "a node", false);
  }
  if (!m_.scenes.empty()) Index(m_.defaultScene, m_.scenes.size(), "scene", "a scene");
  for (std::size_t i = 0; i < nodes; ++i) ValidateNode(static_cast<int>(i));
  for (std::size_t i = 0; i < m_.meshes.size(); ++i) {
    const auto& primitives = m_.meshes[i].primitives;
    for (std::size_t p = 0; p < primitives.size(); ++p) {
      const std::string at =
          At("meshes", static_cast<int>(i)) + "." + At("primitives", static_cast<int>(p));
      for (const auto& [name, accessor] : primitives[p].attributes)
        Index(accessor, m_.accessors.size(), at + ".attributes." + name, "an accessor", false);
      Index(primitives[p].indices, m_.accessors.size(), at + ".indices", "an accessor");
      Index(primitives[p].material, m_.materials.size(), at + ".material", "a material");
    }
  }
  for (std::size_t i = 0; i < m_.skins.size(); ++i) {
    const tinygltf::Skin& skin = m_.skins[i];
    const std::string at = At("skins", static_cast<int>(i));
    for (const int j : skin.joints) Index(j, nodes, at + ".joints", "a node", false);
    Index(skin.skeleton, nodes, at + ".skeleton", "a node");
    Index(skin.inverseBindMatrices, m_.accessors.size(), at + ".inverseBindMatrices",
          "an accessor");
  }
  for (std::size_t a = 0; a < m_.animations.size(); ++a) {
    const tinygltf::Animation& anim = m_.animations[a];
    const std::string at = At("animations", static_cast<int>(a));
    for (std::size_t c = 0; c < anim.channels.size(); ++c) {
      const auto& ch = anim.channels[c];
      const std::string where = at + "." + At("channels", static_cast<int>(c));
      Index(ch.sampler, anim.samplers.size(), where + ".sampler", "a sampler", false);
      if (ch.target_path != gltf::kPointerPath)
        Index(ch.target_node, nodes, where + ".target.node", "a node", false);
    }
    for (std::size_t s = 0; s < anim.samplers.size(); ++s) {
      const std::string where = at + "." + At("samplers", static_cast<int>(s));
      Index(anim.samplers[s].input, m_.accessors.size(), where + ".input", "an accessor", false);
      Index(anim.samplers[s].output, m_.accessors.size(), where + ".output", "an accessor", false);
    }
  }
  for (std::size_t i = 0; i < m_.cameras.size(); ++i) {
    const tinygltf::Camera& c = m_.cameras[i];
    if (c.type != "perspective") continue;
    const std::string at = At("cameras", static_cast<int>(i)) + ".perspective";
    if (!(c.perspective.yfov > 0 && c.perspective.yfov < M_PI))
      ThrowFault(at + ".yfov", "expected a field of view above 0 and below pi (radians)");
    if (!(c.perspective.aspectRatio >= 0) || !std::isfinite(c.perspective.aspectRatio))
      ThrowFault(at + ".aspectRatio", "expected a number above 0, or none");
  }
  for (std::size_t v = 0; v < m_.bufferViews.size(); ++v) {
    const tinygltf::BufferView& bv = m_.bufferViews[v];
    const std::string at = At("bufferViews", static_cast<int>(v));
    Index(bv.buffer, m_.buffers.size(), at + ".buffer", "a buffer", false);
    // A buffer no accessor reads has its length, not its bytes.
    const auto b = static_cast<std::size_t>(bv.buffer);
    const std::size_t size = b < prepared_.unread.size() && prepared_.unread[b] > 0
                                 ? static_cast<std::size_t>(prepared_.unread[b])
                                 : buffers_[b].size();
    if (bv.byteOffset > size || bv.byteLength > size - bv.byteOffset)
      ThrowFault(at, "expected its bytes within its buffer's " + std::to_string(size));
  }
  for (std::size_t i = 0; i < m_.accessors.size(); ++i) ValidateAccessor(static_cast<int>(i));
}

void Importer::ValidateNode(int i) {
  const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(i)];
  const std::string at = At("nodes", i);
  for (const int c : n.children) Index(c, m_.nodes.size(), at + ".children", "a node", false);
  Index(n.camera, m_.cameras.size(), at + ".camera", "a camera");
  Index(n.mesh, m_.meshes.size(), at + ".mesh", "a mesh");
  Index(n.skin, m_.skins.size(), at + ".skin", "a skin");
  Finite(n.matrix, 16, at + ".matrix");
  Finite(n.translation, 3, at + ".translation");
  Finite(n.scale, 3, at + ".scale");
  Finite(n.rotation, 4, at + ".rotation");
  const auto& q = n.rotation;
  if (q.size() == 4 && !(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3] > 0))
    ThrowFault(at + ".rotation", "expected a rotation of non-zero length");
}

std::size_t Importer::ComponentSize(int type) {
  switch (type) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
      return 1;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
      return 2;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
    case TINYGLTF_COMPONENT_TYPE_FLOAT:
      return 4;
    default:
      return 0;
  }
}

void Importer::Within(int view, std::size_t offset, std::size_t stride, std::size_t count,
                      std::size_t size, const std::string& where) const {
  Index(view, m_.bufferViews.size(), where + ".bufferView", "a bufferView", false);
  const std::size_t length = m_.bufferViews[static_cast<std::size_t>(view)].byteLength;
  if (count == 0) return;
  if (offset > length || size > length - offset || (count - 1) > (length - offset - size) / stride)
    ThrowFault(where, "expected " + std::to_string(count) + " elements of " + std::to_string(size) +
                          " bytes within its bufferView's " + std::to_string(length));
}

void Importer::ValidateAccessor(int i) {
  const tinygltf::Accessor& a = m_.accessors[static_cast<std::size_t>(i)];
  const std::string at = At("accessors", i);
  const std::size_t component = ComponentSize(a.componentType);
  const int components = tinygltf::GetNumComponentsInType(static_cast<uint32_t>(a.type));
  if (component == 0) ThrowFault(at + ".componentType", "expected 5120 to 5126");
  if (components <= 0) ThrowFault(at + ".type", "expected SCALAR, VEC2 to VEC4 or MAT2 to MAT4");
  const std::size_t size = component * static_cast<std::size_t>(components);
  if (a.bufferView >= 0) {
    Index(a.bufferView, m_.bufferViews.size(), at + ".bufferView", "a bufferView");
    const std::size_t stride = m_.bufferViews[static_cast<std::size_t>(a.bufferView)].byteStride;
    Within(a.bufferView, a.byteOffset, stride != 0 ? stride : size, a.count, size, at);
  } else if (a.count > dataBytes_) {
    // All zeros: nothing in the file backs it, so its size is capped by the file's.
    ThrowFault(at,
               "expected an accessor without a bufferView to have no more elements than the "
               "file and its buffers have bytes (" +
                   std::to_string(dataBytes_) + ")");
  }
  if (!a.sparse.isSparse) return;
  const std::size_t n = static_cast<std::size_t>(std::max(a.sparse.count, 0));
  if (a.sparse.count < 1 || n > a.count)
    ThrowFault(at + ".sparse.count", "expected from 1 to the accessor's count");
  const std::size_t indexSize = ComponentSize(a.sparse.indices.componentType);
  if (indexSize == 0 || a.sparse.indices.componentType == TINYGLTF_COMPONENT_TYPE_BYTE ||
      a.sparse.indices.componentType == TINYGLTF_COMPONENT_TYPE_SHORT ||
      a.sparse.indices.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT)
    ThrowFault(at + ".sparse.indices", "expected unsigned integer indices");
  Within(a.sparse.indices.bufferView, static_cast<std::size_t>(a.sparse.indices.byteOffset),
         indexSize, n, indexSize, at + ".sparse.indices");
  Within(a.sparse.values.bufferView, static_cast<std::size_t>(a.sparse.values.byteOffset), size, n,
         size, at + ".sparse.values");
}

void Importer::SceneNodes() {
  const std::size_t n = m_.nodes.size();
  parent_.assign(n, -1);
  depth_.assign(n, 0);
  std::vector<char> seen(n, 0);
  std::vector<int> roots;
  if (!m_.scenes.empty())
    roots = m_.scenes[static_cast<std::size_t>(std::max(m_.defaultScene, 0))].nodes;
  std::vector<std::pair<int, int>> stack;  // node, its parent
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.push_back({*it, -1});
  while (!stack.empty()) {
    const auto [node, parent] = stack.back();
    stack.pop_back();
    const std::size_t i = static_cast<std::size_t>(node);
    if (seen[i] != 0) ThrowFault(At("nodes", node), "a node cycle (or a node under two parents)");
    seen[i] = 1;
    parent_[i] = parent;
    depth_[i] = parent < 0 ? 0 : depth_[static_cast<std::size_t>(parent)] + 1;
    order_.push_back(node);
    const auto& children = m_.nodes[i].children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({*it, node});
  }
}

}  // namespace tq::scene::gltf
