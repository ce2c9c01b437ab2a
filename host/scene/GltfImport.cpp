#include "host/scene/GltfImport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <unordered_set>

#include <nlohmann/json.hpp>
#include <tiny_gltf.h>

namespace tq::scene {
namespace {

using Mat4 = std::array<double, 16>;  // column-major, as glTF writes matrices
using Vec3 = std::array<double, 3>;
using Quat = std::array<double, 4>;  // x, y, z, w

struct Fault {
  std::string path;
  std::string what;
};

[[noreturn]] void Fail(std::string path, std::string what) {
  throw Fault{std::move(path), std::move(what)};
}

std::string At(const char* list, int i) {
  return std::string(list) + "[" + std::to_string(i) + "]";
}

// --- matrices ----------------------------------------------------------------

Mat4 Multiply(const Mat4& a, const Mat4& b) {
  Mat4 r{};
  for (int c = 0; c < 4; ++c) {
    for (int row = 0; row < 4; ++row) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += a[k * 4 + row] * b[c * 4 + k];
      r[c * 4 + row] = s;
    }
  }
  return r;
}

// translate * rotate * scale.
Mat4 Compose(const Vec3& t, const Quat& q, const Vec3& s) {
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + w * z),     2 * (x * z - w * y),
                       2 * (x * y - w * z),     1 - 2 * (x * x + z * z), 2 * (y * z + w * x),
                       2 * (x * z + w * y),     2 * (y * z - w * x),     1 - 2 * (x * x + y * y)};
  return {r[0] * s[0], r[1] * s[0], r[2] * s[0], 0, r[3] * s[1], r[4] * s[1], r[5] * s[1], 0,
          r[6] * s[2], r[7] * s[2], r[8] * s[2], 0, t[0],        t[1],        t[2],        1};
}

// The rotation of an orthonormal matrix (columns c0, c1, c2), Shepperd's way.
Quat FromRotation(const double c[3][3]) {
  // m(row, col) = c[col][row]
  const double m00 = c[0][0], m11 = c[1][1], m22 = c[2][2];
  const double trace = m00 + m11 + m22;
  Quat q;
  if (trace > 0) {
    const double s = std::sqrt(trace + 1.0) * 2;
    q = {(c[1][2] - c[2][1]) / s, (c[2][0] - c[0][2]) / s, (c[0][1] - c[1][0]) / s, 0.25 * s};
  } else if (m00 > m11 && m00 > m22) {
    const double s = std::sqrt(1.0 + m00 - m11 - m22) * 2;
    q = {0.25 * s, (c[1][0] + c[0][1]) / s, (c[2][0] + c[0][2]) / s, (c[1][2] - c[2][1]) / s};
  } else if (m11 > m22) {
    const double s = std::sqrt(1.0 + m11 - m00 - m22) * 2;
    q = {(c[1][0] + c[0][1]) / s, 0.25 * s, (c[2][1] + c[1][2]) / s, (c[2][0] - c[0][2]) / s};
  } else {
    const double s = std::sqrt(1.0 + m22 - m00 - m11) * 2;
    q = {(c[2][0] + c[0][2]) / s, (c[2][1] + c[1][2]) / s, 0.25 * s, (c[0][1] - c[1][0]) / s};
  }
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (double& e : q) e /= n;
  return q;
}

struct Decomposed {
  Vector translate;
  Quaternion rotate;
  Vector scale;
};

Vector ToVector(const Vec3& v) {
  return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}

// Translation; scale from the column lengths, the x one negative when the
// determinant is; the rotation that remains as a unit quaternion stored the
// way a scene file stores it.
Decomposed Decompose(const Mat4& m) {
  double c[3][3];
  double s[3];
  for (int k = 0; k < 3; ++k) {
    s[k] =
        std::sqrt(m[k * 4] * m[k * 4] + m[k * 4 + 1] * m[k * 4 + 1] + m[k * 4 + 2] * m[k * 4 + 2]);
  }
  const double det = m[0] * (m[5] * m[10] - m[6] * m[9]) - m[4] * (m[1] * m[10] - m[2] * m[9]) +
                     m[8] * (m[1] * m[6] - m[2] * m[5]);
  if (det < 0) s[0] = -s[0];
  for (int k = 0; k < 3; ++k) {
    for (int r = 0; r < 3; ++r) c[k][r] = s[k] != 0 ? m[k * 4 + r] / s[k] : (k == r ? 1 : 0);
  }
  const Quat q = FromRotation(c);
  return {ToVector({m[12], m[13], m[14]}), StoredRotation(q[0], q[1], q[2], q[3]),
          ToVector({s[0], s[1], s[2]})};
}

// --- reading the file --------------------------------------------------------

class Importer {
 public:
  Importer(const tinygltf::Model& model, const GltfOptions& options, std::string fileName)
      : m_(model), options_(options), fileName_(std::move(fileName)) {}

  std::unique_ptr<Scene> Import() {
    CheckExtensions();
    const std::vector<int> order = SceneNodes();
    ChooseAnimations();
    CheckRange();
    scene_ = std::make_unique<Scene>("glTF", options_.fps, "Chor1");
    for (const int node : order) AddObject(node);
    return std::move(scene_);
  }

  std::vector<std::string> warnings;

 private:
  void CheckExtensions() {
    for (const std::string& e : m_.extensionsRequired) {
      if (e == "KHR_lights_punctual" || e.rfind("KHR_materials_", 0) == 0) continue;
      Fail("extensionsRequired", "the extension " + e +
                                     " is required, which this importer does not support" +
                                     (e == "KHR_draco_mesh_compression" ? " (Draco compression)"
                                      : e == "EXT_meshopt_compression"  ? " (meshopt compression)"
                                                                        : ""));
    }
  }

  // The default scene's nodes, depth first in document order, parents
  // before children; each node's parent noted. A node reached twice (a cycle
  // or a node under two parents) is refused.
  std::vector<int> SceneNodes() {
    const int n = static_cast<int>(m_.nodes.size());
    parent_.assign(static_cast<std::size_t>(n), -1);
    std::vector<int> roots;
    if (!m_.scenes.empty()) {
      const int s = m_.defaultScene >= 0 ? m_.defaultScene : 0;
      if (s >= static_cast<int>(m_.scenes.size())) Fail("scene", "expected a scene index");
      roots = m_.scenes[static_cast<std::size_t>(s)].nodes;
    }
    std::vector<int> order;
    std::vector<char> seen(static_cast<std::size_t>(n), 0);
    std::vector<std::pair<int, int>> stack;  // node, its parent
    for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.push_back({*it, -1});
    while (!stack.empty()) {
      const auto [node, parent] = stack.back();
      stack.pop_back();
      if (node < 0 || node >= n)
        Fail(parent < 0 ? "scenes" : At("nodes", parent) + ".children",
             "expected a node index from 0 to " + std::to_string(n - 1));
      if (seen[static_cast<std::size_t>(node)] != 0) {
        Fail(At("nodes", node), "a node cycle (or a node under two parents)");
      }
      seen[static_cast<std::size_t>(node)] = 1;
      parent_[static_cast<std::size_t>(node)] = parent;
      order.push_back(node);
      const auto& children = m_.nodes[static_cast<std::size_t>(node)].children;
      for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({*it, node});
    }
    return order;
  }

  // --- animation -------------------------------------------------------------

  struct Track {
    const tinygltf::AnimationSampler* sampler = nullptr;
    std::vector<float> times;
    std::vector<float> values;  // components per key (x 3 for CUBICSPLINE)
    int width = 0;              // 3 or 4
    std::string where;          // "animations[a].channels[c]"
  };
  // By node, then path (0 translation, 1 rotation, 2 scale).
  std::map<std::pair<int, int>, Track> tracks_;
  double startSeconds_ = 0, endSeconds_ = 0;
  bool animated_ = false;

  void ChooseAnimations() {
    std::vector<int> chosen;
    const int count = static_cast<int>(m_.animations.size());
    if (options_.animation) {
      const std::string& want = *options_.animation;
      for (int a = 0; a < count; ++a) {
        if (m_.animations[static_cast<std::size_t>(a)].name == want || std::to_string(a) == want)
          chosen.push_back(a);
      }
      if (chosen.empty()) {
        std::string names;
        for (int a = 0; a < count; ++a) {
          const std::string& name = m_.animations[static_cast<std::size_t>(a)].name;
          if (!names.empty()) names += ", ";
          names += name.empty() ? std::to_string(a) : name;
        }
        // Appended: GCC 12 at -O3 warns falsely (-Wrestrict) about "literal"
        // + std::string temporaries.
        std::string what = "no animation '";
        what.append(want).append("'; the file has ").append(names.empty() ? "none" : names);
        Fail("animations", what);
      }
      chosen.erase(chosen.begin() + 1, chosen.end());  // the first that answers
    } else {
      for (int a = 0; a < count; ++a) chosen.push_back(a);
    }
    for (const int a : chosen) {
      const tinygltf::Animation& anim = m_.animations[static_cast<std::size_t>(a)];
      for (std::size_t c = 0; c < anim.channels.size(); ++c) {
        const tinygltf::AnimationChannel& ch = anim.channels[c];
        const std::string where = At("animations", a) + "." + At("channels", static_cast<int>(c));
        const int path = ch.target_path == "translation" ? 0
                         : ch.target_path == "rotation"  ? 1
                         : ch.target_path == "scale"     ? 2
                                                         : -1;
        if (path < 0) continue;  // morph target weights are not imported
        if (ch.target_node < 0 || ch.target_node >= static_cast<int>(m_.nodes.size()))
          Fail(where + ".target.node", "expected a node index");
        const auto key = std::make_pair(ch.target_node, path);
        if (tracks_.count(key) != 0) {
          warnings.push_back(where + " animates the " + ch.target_path + " of " +
                             At("nodes", ch.target_node) + " as " + tracks_[key].where +
                             " does; the first in the file is kept");
          continue;
        }
        Track track = ReadTrack(anim, a, ch, path, where);
        const double t0 = track.times.front(), t1 = track.times.back();
        startSeconds_ = animated_ ? std::min(startSeconds_, t0) : t0;
        endSeconds_ = animated_ ? std::max(endSeconds_, t1) : t1;
        animated_ = true;
        tracks_[key] = std::move(track);
      }
    }
  }

  // A channel's sampler: its key times (increasing) and values.
  Track ReadTrack(const tinygltf::Animation& anim, int a, const tinygltf::AnimationChannel& ch,
                  int path, const std::string& where) const {
    if (ch.sampler < 0 || ch.sampler >= static_cast<int>(anim.samplers.size()))
      Fail(where + ".sampler", "expected a sampler index");
    Track track;
    track.sampler = &anim.samplers[static_cast<std::size_t>(ch.sampler)];
    track.where = where;
    track.width = path == 1 ? 4 : 3;
    const std::string samplerAt = At("animations", a) + "." + At("samplers", ch.sampler);
    track.times = Floats(track.sampler->input, 1, samplerAt + ".input");
    track.values = Floats(track.sampler->output, track.width, samplerAt + ".output");
    const std::size_t per = track.sampler->interpolation == "CUBICSPLINE" ? 3 : 1;
    if (track.times.empty() ||
        track.values.size() != track.times.size() * per * static_cast<std::size_t>(track.width))
      Fail(samplerAt, "expected as many outputs as inputs");
    for (std::size_t k = 1; k < track.times.size(); ++k) {
      if (!(track.times[k] > track.times[k - 1]))
        Fail(samplerAt + ".input", "expected increasing times");
    }
    return track;
  }

  // A track's value at seconds: the end values outside its inputs; STEP,
  // LINEAR (spherical for rotations, shorter arc) or CUBICSPLINE between.
  std::array<double, 4> Sample(const Track& track, double seconds) const {
    const std::size_t w = static_cast<std::size_t>(track.width);
    const bool cubic = track.sampler->interpolation == "CUBICSPLINE";
    const std::size_t per = cubic ? 3 : 1;
    auto value = [&](std::size_t k, std::size_t part) {  // part: 0 in, 1 value, 2 out
      std::array<double, 4> v{};
      const std::size_t base = (k * per + (cubic ? part : 0)) * w;
      for (std::size_t i = 0; i < w; ++i) v[i] = track.values[base + i];
      return v;
    };
    const std::size_t n = track.times.size();
    if (seconds <= track.times.front()) return value(0, 1);
    if (seconds >= track.times.back()) return value(n - 1, 1);
    const std::size_t k = static_cast<std::size_t>(
        std::upper_bound(track.times.begin(), track.times.end(), seconds) - track.times.begin());
    const double t0 = track.times[k - 1], t1 = track.times[k];
    const double dt = t1 - t0, u = (seconds - t0) / dt;
    const auto p0 = value(k - 1, 1), p1 = value(k, 1);
    if (track.sampler->interpolation == "STEP") return p0;
    std::array<double, 4> r{};
    if (cubic) {
      const auto m0 = value(k - 1, 2), m1 = value(k, 0);
      const double u2 = u * u, u3 = u2 * u;
      for (std::size_t i = 0; i < w; ++i) {
        r[i] = (2 * u3 - 3 * u2 + 1) * p0[i] + (u3 - 2 * u2 + u) * dt * m0[i] +
               (-2 * u3 + 3 * u2) * p1[i] + (u3 - u2) * dt * m1[i];
      }
      if (w == 4) {
        const double len = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2] + r[3] * r[3]);
        for (double& e : r) e /= len;
      }
      return r;
    }
    if (w == 4) {
      SlerpShorterArc(p0.data(), p1.data(), u, r.data());
      return r;
    }
    for (std::size_t i = 0; i < w; ++i) r[i] = p0[i] + (p1[i] - p0[i]) * u;
    return r;
  }

  // The node's local matrix at seconds (its own TRS or matrix, animated
  // properties sampled).
  Mat4 Local(int node, double seconds) const {
    const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(node)];
    const bool animated =
        tracks_.count({node, 0}) + tracks_.count({node, 1}) + tracks_.count({node, 2}) != 0;
    if (n.matrix.size() == 16 && !animated) {
      Mat4 m;
      std::copy(n.matrix.begin(), n.matrix.end(), m.begin());
      return m;
    }
    Vec3 t = {0, 0, 0}, s = {1, 1, 1};
    Quat q = {0, 0, 0, 1};
    if (n.translation.size() == 3) t = {n.translation[0], n.translation[1], n.translation[2]};
    if (n.rotation.size() == 4) q = {n.rotation[0], n.rotation[1], n.rotation[2], n.rotation[3]};
    if (n.scale.size() == 3) s = {n.scale[0], n.scale[1], n.scale[2]};
    if (auto it = tracks_.find({node, 0}); it != tracks_.end()) {
      const auto v = Sample(it->second, seconds);
      t = {v[0], v[1], v[2]};
    }
    if (auto it = tracks_.find({node, 1}); it != tracks_.end()) {
      const auto v = Sample(it->second, seconds);
      q = {v[0], v[1], v[2], v[3]};
    }
    if (auto it = tracks_.find({node, 2}); it != tracks_.end()) {
      const auto v = Sample(it->second, seconds);
      s = {v[0], v[1], v[2]};
    }
    return Compose(t, q, s);
  }

  Mat4 World(int node, double seconds) const {
    Mat4 m = Local(node, seconds);
    for (int p = parent_[static_cast<std::size_t>(node)]; p >= 0;
         p = parent_[static_cast<std::size_t>(p)]) {
      m = Multiply(Local(p, seconds), m);
    }
    return m;
  }

  bool Animated(int node) const {
    for (int p = node; p >= 0; p = parent_[static_cast<std::size_t>(p)]) {
      if (tracks_.count({p, 0}) + tracks_.count({p, 1}) + tracks_.count({p, 2}) != 0) return true;
    }
    return false;
  }

  int FirstFrame() const { return static_cast<int>(std::floor(startSeconds_ * options_.fps)); }
  int LastFrame() const { return static_cast<int>(std::ceil(endSeconds_ * options_.fps)); }

  // The frames sampled must be countable, and their times ticks.
  void CheckRange() const {
    if (!animated_) return;
    const double first = std::floor(startSeconds_ * options_.fps);
    const double last = std::ceil(endSeconds_ * options_.fps);
    if (!(last - first <= kMaxAnimationFrames) || !FramesToTicks(first, options_.fps) ||
        !FramesToTicks(last, options_.fps)) {
      Fail("animations", "expected animations of at most " +
                             std::to_string(static_cast<int>(kMaxAnimationFrames)) +
                             " frames whose times fit the host's ticks");
    }
  }
  static constexpr double kMaxAnimationFrames = 1000000;

  void SetTransform(HBone* object, int node) {
    if (!Animated(node)) {
      const Decomposed d = Decompose(World(node, startSeconds_));
      scene_->SetTransform(object, Channel<Vector>(d.translate), Channel<Quaternion>(d.rotate),
                           Channel<Vector>(d.scale));
      return;
    }
    std::vector<Key<Vector>> t, s;
    std::vector<Key<Quaternion>> r;
    for (int f = FirstFrame(); f <= LastFrame(); ++f) {
      const auto ticks = FramesToTicks(f, options_.fps);
      if (!ticks) Fail(At("nodes", node), "expected an animation whose frames fit 32-bit ticks");
      const Decomposed d = Decompose(World(node, static_cast<double>(f) / options_.fps));
      t.push_back({*ticks, d.translate});
      r.push_back({*ticks, d.rotate});
      s.push_back({*ticks, d.scale});
    }
    scene_->SetTransform(object, Channel<Vector>(Interpolation::kLinear, t),
                         Channel<Quaternion>(Interpolation::kLinear, r),
                         Channel<Vector>(Interpolation::kLinear, s));
  }

  // --- accessors --------------------------------------------------------------

  const tinygltf::BufferView& View(int view, const std::string& where) const {
    if (view < 0 || view >= static_cast<int>(m_.bufferViews.size()))
      Fail(where, "expected a bufferView index");
    return m_.bufferViews[static_cast<std::size_t>(view)];
  }

  // The bytes of element i of a view, checked to lie in the buffer.
  const unsigned char* Element(int view, std::size_t offset, std::size_t stride, std::size_t i,
                               std::size_t size, const std::string& where) const {
    const tinygltf::BufferView& bv = View(view, where);
    if (bv.buffer < 0 || bv.buffer >= static_cast<int>(m_.buffers.size()))
      Fail(At("bufferViews", view), "expected a buffer index");
    const auto& data = m_.buffers[static_cast<std::size_t>(bv.buffer)].data;
    const std::size_t at = offset + i * stride;
    if (bv.byteOffset > data.size() || bv.byteLength > data.size() - bv.byteOffset ||
        at > bv.byteLength || size > bv.byteLength - at) {
      Fail(where, "expected its data within its bufferView and buffer");
    }
    return data.data() + bv.byteOffset + at;
  }

  static std::size_t ComponentSize(int type) {
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

  const tinygltf::Accessor& Accessor(int index, const std::string& where) const {
    if (index < 0 || index >= static_cast<int>(m_.accessors.size()))
      Fail(where, "expected an accessor index from 0 to " +
                      std::to_string(static_cast<int>(m_.accessors.size()) - 1));
    return m_.accessors[static_cast<std::size_t>(index)];
  }

  // An accessor of 32-bit floats with width components, sparse values
  // applied.
  std::vector<float> Floats(int index, int width, const std::string& where) const {
    const tinygltf::Accessor& a = Accessor(index, where);
    const std::string at = At("accessors", index);
    if (a.componentType != TINYGLTF_COMPONENT_TYPE_FLOAT)
      Fail(at, "expected 32-bit floats (componentType 5126)");
    if (tinygltf::GetNumComponentsInType(static_cast<uint32_t>(a.type)) != width)
      Fail(at, "expected " + std::to_string(width) + " components an element");
    const std::size_t size = 4 * static_cast<std::size_t>(width);
    // The count is checked against the data before anything is made of it.
    if (a.count > kMaxGltfBytes / size ||
        (a.bufferView >= 0 && a.count > View(a.bufferView, at).byteLength / size + 1)) {
      Fail(at, "expected a count its data can hold");
    }
    std::vector<float> out(a.count * static_cast<std::size_t>(width), 0.0f);
    if (a.bufferView >= 0) {
      const auto& bv = View(a.bufferView, at);
      const std::size_t stride = bv.byteStride != 0 ? bv.byteStride : size;
      for (std::size_t i = 0; i < a.count; ++i) {
        std::memcpy(&out[i * static_cast<std::size_t>(width)],
                    Element(a.bufferView, a.byteOffset, stride, i, size, at), size);
      }
    }
    if (a.sparse.isSparse) {
      const std::vector<std::size_t> targets = Indices(
          a.sparse.indices.bufferView, static_cast<std::size_t>(a.sparse.indices.byteOffset),
          a.sparse.indices.componentType, static_cast<std::size_t>(a.sparse.count),
          at + ".sparse.indices");
      for (std::size_t k = 0; k < targets.size(); ++k) {
        if (targets[k] >= a.count) Fail(at + ".sparse.indices", "expected indices within count");
        std::memcpy(&out[targets[k] * static_cast<std::size_t>(width)],
                    Element(a.sparse.values.bufferView,
                            static_cast<std::size_t>(a.sparse.values.byteOffset), size, k, size,
                            at + ".sparse.values"),
                    size);
      }
    }
    for (const float v : out) {
      if (!std::isfinite(v)) Fail(at, "expected finite numbers");
    }
    return out;
  }

  std::vector<std::size_t> Indices(int view, std::size_t offset, int componentType,
                                   std::size_t count, const std::string& where) const {
    const std::size_t size = ComponentSize(componentType);
    if (size == 0 || componentType == TINYGLTF_COMPONENT_TYPE_BYTE ||
        componentType == TINYGLTF_COMPONENT_TYPE_SHORT ||
        componentType == TINYGLTF_COMPONENT_TYPE_FLOAT)
      Fail(where, "expected unsigned integer indices");
    std::vector<std::size_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
      const unsigned char* p = Element(view, offset, size, i, size, where);
      std::uint32_t v = 0;
      if (size == 1) v = p[0];
      if (size == 2) v = static_cast<std::uint32_t>(p[0] | p[1] << 8);
      if (size == 4) std::memcpy(&v, p, 4);
      out[i] = v;
    }
    return out;
  }

  // A primitive's vertex indices: its index accessor, or 0, 1, 2, ...
  std::vector<std::size_t> PrimitiveIndices(const tinygltf::Primitive& p, std::size_t vertices,
                                            const std::string& where) const {
    if (p.indices < 0) {
      std::vector<std::size_t> all(vertices);
      for (std::size_t i = 0; i < vertices; ++i) all[i] = i;
      return all;
    }
    const tinygltf::Accessor& a = Accessor(p.indices, where + ".indices");
    const std::string at = At("accessors", p.indices);
    if (a.bufferView < 0) Fail(at, "expected a bufferView");
    const std::size_t size = ComponentSize(a.componentType);
    const auto& bv = View(a.bufferView, at);
    if (bv.byteStride != 0 && bv.byteStride != size) Fail(at, "expected tightly packed indices");
    std::vector<std::size_t> out =
        Indices(a.bufferView, a.byteOffset, a.componentType, a.count, at);
    for (const std::size_t i : out) {
      if (i >= vertices)
        Fail(at,
             "expected indices below the primitive's " + std::to_string(vertices) + " vertices");
    }
    return out;
  }

  // --- objects -----------------------------------------------------------------

  std::set<std::string> usedNames_;

  // The loader's rules for names: not empty, no control characters, at most
  // 1024 bytes, unique ("name.2", "name.3", ... for repeats).
  static std::string Clean(std::string name, const std::string& fallback) {
    for (char& c : name) {
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    if (name.size() > kMaxNameLength - 16) name.resize(kMaxNameLength - 16);
    return name.empty() ? fallback : name;
  }
  static std::string Unique(const std::string& name, std::set<std::string>& used) {
    std::string candidate = name;
    for (int k = 2; !used.insert(candidate).second; ++k) candidate = name + "." + std::to_string(k);
    return candidate;
  }

  void AddObject(int node) {
    const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(node)];
    const std::string where = At("nodes", node);
    const std::string name = Unique(Clean(n.name, "node" + std::to_string(node)), usedNames_);
    HBone* object = nullptr;
    if (n.camera >= 0) {
      if (n.camera >= static_cast<int>(m_.cameras.size()))
        Fail(where + ".camera", "expected a camera index");
      const tinygltf::Camera& camera = m_.cameras[static_cast<std::size_t>(n.camera)];
      if (camera.type == "perspective") {
        object = AddCamera(name, camera, where);
      } else {
        warnings.push_back(where + ": the " + camera.type + " camera " + name +
                           " is imported as a null (only perspective cameras project)");
      }
    }
    if (object == nullptr && n.mesh >= 0) object = AddModel(name, node, where);
    if (object == nullptr) {
      const bool light = n.extensions.count("KHR_lights_punctual") != 0;
      object = scene_->AddObject(name, light ? ObjectType::kLight : ObjectType::kNull);
    }
    SetTransform(object, node);
  }

  HBone* AddCamera(const std::string& name, const tinygltf::Camera& camera,
                   const std::string& where) {
    const tinygltf::PerspectiveCamera& p = camera.perspective;
    if (!(p.yfov > 0) || !std::isfinite(p.yfov)) Fail(where + ".camera", "expected a yfov above 0");
    const int width = options_.width;
    const int height = options_.height     ? *options_.height
                       : p.aspectRatio > 0 ? static_cast<int>(RoundHalfAway(width / p.aspectRatio))
                                           : 1080;
    const double aspect = p.aspectRatio > 0 ? p.aspectRatio : double(width) / double(height);
    const double focal = 17.5 / (aspect * std::tan(p.yfov / 2));
    HCamera* c = scene_->AddCamera(name, Channel<float>(static_cast<float>(focal)));
    HProperty* options = scene_->AddProperty(c, "OutputOptions", HProperty::Kind::kGroup);
    HProperty* resolution = scene_->AddProperty(options, "Resolution", HProperty::Kind::kGroup);
    scene_->AddProperty(resolution, "Width", HProperty::Kind::kInt, width);
    scene_->AddProperty(resolution, "Height", HProperty::Kind::kInt, height);
    HProperty* range = scene_->AddProperty(options, "Range", HProperty::Kind::kGroup);
    const int first = animated_ ? FirstFrame() : 0, last = animated_ ? LastFrame() : 0;
    scene_->AddProperty(range, "StartFrame", HProperty::Kind::kTime,
                        FramesToTicks(first, options_.fps).value_or(0));
    scene_->AddProperty(range, "EndFrame", HProperty::Kind::kTime,
                        FramesToTicks(last, options_.fps).value_or(0));
    return c;
  }

  HBone* AddModel(const std::string& name, int node, const std::string& where) {
    const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(node)];
    if (n.mesh >= static_cast<int>(m_.meshes.size()))
      Fail(where + ".mesh", "expected a mesh index");
    const tinygltf::Mesh& mesh = m_.meshes[static_cast<std::size_t>(n.mesh)];
    HModel* model = scene_->AddModel(name);
    HModelCache* cache = model->GetCache();
    HGroupContainer* groups = scene_->AddGroupContainer(model);
    std::set<std::string> groupNames;
    for (std::size_t pi = 0; pi < mesh.primitives.size(); ++pi) {
      const tinygltf::Primitive& p = mesh.primitives[pi];
      const std::string at = At("meshes", n.mesh) + "." + At("primitives", static_cast<int>(pi));
      const auto position = p.attributes.find("POSITION");
      if (position == p.attributes.end()) continue;
      const std::vector<float> xyz = Floats(position->second, 3, at + ".attributes.POSITION");
      const std::size_t base = cache->PointCount(), vertices = xyz.size() / 3;
      double sum[3] = {0, 0, 0};
      for (std::size_t v = 0; v < vertices; ++v) {
        cache->AddPoint({xyz[3 * v], xyz[3 * v + 1], xyz[3 * v + 2]});
        for (int k = 0; k < 3; ++k) sum[k] += xyz[3 * v + static_cast<std::size_t>(k)];
      }
      const std::vector<std::size_t> idx = PrimitiveIndices(p, vertices, at);
      auto triangle = [&](std::size_t a, std::size_t b, std::size_t c) {
        HCP* cc = cache->Point(base + c);
        cache->AddPatch(cache->Point(base + a), cache->Point(base + b), cc, cc);
      };
      if (p.mode == TINYGLTF_MODE_TRIANGLES) {
        for (std::size_t i = 0; i + 2 < idx.size(); i += 3)
          triangle(idx[i], idx[i + 1], idx[i + 2]);
      } else if (p.mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
        for (std::size_t i = 0; i + 2 < idx.size(); ++i) {
          if (i % 2 == 0) {
            triangle(idx[i], idx[i + 1], idx[i + 2]);
          } else {
            triangle(idx[i + 1], idx[i], idx[i + 2]);
          }
        }
      } else if (p.mode == TINYGLTF_MODE_TRIANGLE_FAN) {
        for (std::size_t i = 1; i + 1 < idx.size(); ++i) triangle(idx[0], idx[i], idx[i + 1]);
      }
      std::string group = "primitive" + std::to_string(pi);
      if (p.material >= 0 && p.material < static_cast<int>(m_.materials.size()) &&
          !m_.materials[static_cast<std::size_t>(p.material)].name.empty()) {
        group = Clean(m_.materials[static_cast<std::size_t>(p.material)].name, group);
      }
      Vector center;
      if (vertices > 0) {
        const double c = static_cast<double>(vertices);
        center = {static_cast<float>(sum[0] / c), static_cast<float>(sum[1] / c),
                  static_cast<float>(sum[2] / c)};
      }
      scene_->AddGroup(groups, Unique(group, groupNames), center);
    }
    if (n.skin >= 0) AddBones(model, n.skin, where);
    return model;
  }

  // The skin's joints as bones, nested as the joint nodes are; each pivot
  // the joint's bind position in the mesh's space.
  void AddBones(HModel* model, int skinIndex, const std::string& where) {
    if (skinIndex >= static_cast<int>(m_.skins.size()))
      Fail(where + ".skin", "expected a skin index");
    const tinygltf::Skin& skin = m_.skins[static_cast<std::size_t>(skinIndex)];
    const std::string at = At("skins", skinIndex);
    std::vector<float> inverseBind;
    if (skin.inverseBindMatrices >= 0) {
      inverseBind = Floats(skin.inverseBindMatrices, 16, at + ".inverseBindMatrices");
      if (inverseBind.size() != skin.joints.size() * 16)
        Fail(at + ".inverseBindMatrices", "expected one matrix a joint");
    }
    HBoneContainer* container = scene_->AddBoneContainer(model);
    std::map<int, HBone*> bones;
    std::set<std::string> boneNames;
    const std::set<int> joints(skin.joints.begin(), skin.joints.end());
    // Parents before children: the joints in the order the scene lists them.
    std::vector<std::size_t> order(skin.joints.size());
    for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
    auto depth = [&](int node) {
      int d = 0;
      for (int p = node; p >= 0 && p < static_cast<int>(parent_.size());
           p = parent_[static_cast<std::size_t>(p)])
        ++d;
      return d;
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return depth(skin.joints[a]) < depth(skin.joints[b]);
    });
    for (const std::size_t j : order) {
      const int joint = skin.joints[j];
      if (joint < 0 || joint >= static_cast<int>(m_.nodes.size()))
        Fail(at + ".joints", "expected node indices");
      Vector pivot;
      if (!inverseBind.empty()) {
        Mat4 ibm;
        for (int k = 0; k < 16; ++k)
          ibm[static_cast<std::size_t>(k)] = inverseBind[j * 16 + static_cast<std::size_t>(k)];
        pivot = BindPosition(ibm, at);
      }
      int p =
          joint < static_cast<int>(parent_.size()) ? parent_[static_cast<std::size_t>(joint)] : -1;
      HBone* parent = joints.count(p) != 0 && bones.count(p) != 0 ? bones[p] : nullptr;
      const std::string name = Unique(
          Clean(m_.nodes[static_cast<std::size_t>(joint)].name, "node" + std::to_string(joint)),
          boneNames);
      bones[joint] = scene_->AddBone(container, parent, name, pivot);
    }
  }

  // The translation of the inverse of an inverse bind matrix (column-major).
  static Vector BindPosition(const Mat4& m, const std::string& where) {
    Matrix44 bind;
    for (int r = 0; r < 4; ++r) {
      bind.row[r] = Vector4(static_cast<float>(m[static_cast<std::size_t>(r)]),
                            static_cast<float>(m[static_cast<std::size_t>(4 + r)]),
                            static_cast<float>(m[static_cast<std::size_t>(8 + r)]),
                            static_cast<float>(m[static_cast<std::size_t>(12 + r)]));
    }
    const Matrix44 inverse = bind.Inverse();
    const Vector4& x = inverse.row[0];
    const Vector4& y = inverse.row[1];
    const Vector4& z = inverse.row[2];
    if (std::isnan(x.w) || std::isnan(y.w) || std::isnan(z.w))
      Fail(where + ".inverseBindMatrices", "expected invertible matrices");
    return {x.w, y.w, z.w};
  }

  const tinygltf::Model& m_;
  const GltfOptions& options_;
  std::string fileName_;
  std::vector<int> parent_;
  std::unique_ptr<Scene> scene_;
};

// --- the file and its buffers ------------------------------------------------

// The JSON of a .gltf, or the JSON chunk of a .glb.
std::string JsonPart(const std::string& bytes, bool binary) {
  if (!binary) return bytes;
  if (bytes.size() < 20 || bytes.compare(0, 4, "glTF") != 0) Fail("(document)", "not a GLB file");
  std::uint32_t length = 0;
  std::memcpy(&length, bytes.data() + 12, 4);
  if (length > bytes.size() - 20) Fail("(document)", "a GLB whose JSON chunk is cut short");
  return bytes.substr(20, length);
}

// Buffer URIs: data: URIs and relative files inside the file's folder only;
// every buffer's length counted against the limit.
void CheckBuffers(const std::string& json, const std::filesystem::path& folder,
                  std::size_t fileBytes) {
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(json);
  } catch (const nlohmann::json::exception& e) {
    Fail("(document)", std::string("not valid JSON: ") + e.what());
  }
  if (!doc.is_object()) Fail("(document)", "expected a glTF object");
  std::size_t total = fileBytes;
  const auto buffers = doc.find("buffers");
  if (buffers == doc.end() || !buffers->is_array()) return;
  for (std::size_t i = 0; i < buffers->size(); ++i) {
    const auto& b = (*buffers)[i];
    const std::string at = At("buffers", static_cast<int>(i));
    if (b.contains("byteLength") && b["byteLength"].is_number_unsigned()) {
      const auto n = b["byteLength"].get<std::uint64_t>();
      if (n > kMaxGltfBytes || total + n > kMaxGltfBytes)
        Fail(at + ".byteLength", "expected the file and its buffers within 1 GiB in all");
      total += static_cast<std::size_t>(n);
    }
    if (!b.contains("uri") || !b["uri"].is_string()) continue;
    const std::string uri = b["uri"];
    if (uri.rfind("data:", 0) == 0) continue;
    const bool scheme = uri.find(':') != std::string::npos &&
                        uri.find(':') < uri.find('/');  // http:, file:, C:, ...
    if (uri.empty() || uri[0] == '/' || uri[0] == '\\' || scheme)
      Fail(at + ".uri", "expected a data: URI or a file relative to the glTF's folder");
    const std::filesystem::path resolved = (folder / uri).lexically_normal();
    const std::string inside =
        (folder.empty() ? std::filesystem::path(".") : folder).lexically_normal().string();
    auto rel = resolved.lexically_relative(folder.empty() ? "." : folder);
    if (rel.empty() || *rel.begin() == "..")
      Fail(at + ".uri", "expected a file inside the glTF's folder (" + inside + ")");
    std::error_code ec;
    const auto size = std::filesystem::file_size(resolved, ec);
    if (!ec && (size > kMaxGltfBytes || total + size > kMaxGltfBytes))
      Fail(at + ".uri", "expected the file and its buffers within 1 GiB in all");
  }
}

bool SkipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int,
               const unsigned char*, int, void*) {
  return true;  // images are not imported
}

}  // namespace

bool IsGltfPath(const std::string& path) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto ends = [&](const char* e) {
    const std::size_t n = std::strlen(e);
    return lower.size() >= n && lower.compare(lower.size() - n, n, e) == 0;
  };
  return ends(".gltf") || ends(".glb");
}

ImportResult ImportGltfBytes(const std::string& bytes, const std::string& path,
                             const GltfOptions& options) {
  ImportResult result;
  try {
    if (bytes.size() > kMaxGltfBytes) Fail("(document)", "expected a file of at most 1 GiB");
    if (!(options.fps > 0.0f) || options.fps > 135000.0f)
      Fail("(options)", "expected a frame rate above 0 and at most 135000");
    std::string lower = path;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool binary = lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".glb") == 0;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    CheckBuffers(JsonPart(bytes, binary), folder, bytes.size());

    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(&SkipImage, nullptr);
    tinygltf::Model model;
    std::string err, warn;
    const std::string base = folder.empty() ? "." : folder.string();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const bool ok = binary ? loader.LoadBinaryFromMemory(&model, &err, &warn, data,
                                                         static_cast<unsigned>(bytes.size()), base)
                           : loader.LoadASCIIFromString(&model, &err, &warn, bytes.data(),
                                                        static_cast<unsigned>(bytes.size()), base);
    if (!ok) {
      while (!err.empty() && err.back() == '\n') err.pop_back();
      Fail("(document)", "not valid glTF: " + err);
    }
    Importer importer(model, options, path);
    result.scene = importer.Import();
    result.warnings = std::move(importer.warnings);
  } catch (const Fault& fault) {
    result.scene.reset();
    result.error = path + ": " + fault.path + ": " + fault.what;
  } catch (const std::exception& e) {
    result.scene.reset();
    result.error = path + ": (document): " + e.what();
  }
  return result;
}

ImportResult ImportGltfFile(const std::string& path, const GltfOptions& options) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    return {nullptr, path + ": cannot read: not a regular file, or no such file", {}};
  }
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxGltfBytes) {
    return {nullptr, path + ": (document): expected a file of at most 1 GiB", {}};
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  if (!in) return {nullptr, path + ": cannot read", {}};
  return ImportGltfBytes(bytes, path, options);
}

}  // namespace tq::scene
