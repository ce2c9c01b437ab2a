#include "host/scene/GltfImport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <set>

#include <tiny_gltf.h>

#include "host/fileio/Concat.h"
#include "host/scene/GltfFiles.h"
#include "host/scene/SceneWriter.h"
#include "host/scene/UniqueNames.h"
#include "math/Slowdown.h"

namespace tq::scene {
namespace {

using gltf::At;
using gltf::Fail;
using gltf::Fault;

// --- double-precision affine transforms ---------------------------------------
// The host's math library is single precision; a hierarchy is composed in
// double and rounded to float once, in the decomposition.

using Mat4 = std::array<double, 16>;  // column-major, as glTF writes matrices
using Vec3 = std::array<double, 3>;
using Quat = std::array<double, 4>;  // x, y, z, w

constexpr Mat4 kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

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

// translate * rotate * scale, q of unit length.
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
  Vec3 translate;
  Quat rotate;
  Vec3 scale;
  bool sheared = false;  // the columns are not at right angles
};

// Translation; scale from the column lengths, the x one negative when the
// determinant is; the rotation of the normalised columns.
Decomposed Decompose(const Mat4& m) {
  double c[3][3];
  Vec3 s;
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
  bool sheared = false;
  for (int a = 0; a < 3; ++a) {
    const int b = (a + 1) % 3;
    const double dot = c[a][0] * c[b][0] + c[a][1] * c[b][1] + c[a][2] * c[b][2];
    if (std::fabs(dot) > 1e-5) sheared = true;
  }
  return {{m[12], m[13], m[14]}, FromRotation(c), s, sheared};
}

[[noreturn, gnu::cold, gnu::noinline]] void BeyondSinglePrecision(const char* list, int index) {
  Fail(At(list, index),
       "expected values within single precision (a position, scale or point beyond 3.4e38)");
}

// A number within single precision's range (not NaN, not beyond 3.4e38).
inline bool InSingle(double x) {
  return std::fabs(x) <= 3.4e38;
}

// A vector as the scene holds it, in single precision: refused (naming
// list[index]) when a component is beyond it.
inline Vector ToVector(const Vec3& v, const char* list, int index) {
  if (!InSingle(v[0]) || !InSingle(v[1]) || !InSingle(v[2])) BeyondSinglePrecision(list, index);
  return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}

// --- animation ---------------------------------------------------------------

enum class Path { kTranslation, kRotation, kScale, kYfov };
enum class Interp { kStep, kLinear, kCubic };

struct Track {
  Interp interp = Interp::kLinear;
  std::vector<float> times;
  std::vector<double> values;  // width per key (x 3 for CUBICSPLINE: in, value, out)
  int width = 0;               // 1, 3 or 4
  std::string where;           // "animations[a].channels[c]"
};

// A track's value at seconds: the end values outside its inputs; STEP,
// LINEAR (spherical for rotations, shorter arc) or CUBICSPLINE between. The
// segment is found in single precision, as key times are written: a key an
// exporter wrote at float(frame / fps) is reached on that frame, even when
// the rounding put it a little after the frame's time.
std::array<double, 4> Sample(const Track& track, double seconds) {
  const std::size_t w = static_cast<std::size_t>(track.width);
  const bool cubic = track.interp == Interp::kCubic;
  const std::size_t per = cubic ? 3 : 1;
  auto value = [&](std::size_t k, std::size_t part) {  // part: 0 in, 1 value, 2 out
    std::array<double, 4> v{};
    const std::size_t base = (k * per + (cubic ? part : 0)) * w;
    for (std::size_t i = 0; i < w; ++i) v[i] = track.values[base + i];
    return v;
  };
  const std::size_t n = track.times.size();
  const float at = static_cast<float>(seconds);
  if (at <= track.times.front()) return value(0, 1);
  if (at >= track.times.back()) return value(n - 1, 1);
  const std::size_t k = static_cast<std::size_t>(
      std::upper_bound(track.times.begin(), track.times.end(), at) - track.times.begin());
  const double t0 = track.times[k - 1], t1 = track.times[k];
  const double dt = t1 - t0, u = std::clamp((seconds - t0) / dt, 0.0, 1.0);
  const auto p0 = value(k - 1, 1), p1 = value(k, 1);
  if (track.interp == Interp::kStep) return p0;
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
      if (!(len > 0)) Fail(track.where, "a rotation of zero length between keys");
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

// The host's film is 35 units wide: the focal length of a vertical field of
// view at an aspect ratio.
double FocalLength(double aspect, double yfov) {
  return 17.5 / (aspect * std::tan(yfov / 2));
}

// --- the importer ----------------------------------------------------------------

// The baked transform of one object: constant, or keys.
struct Baked {
  bool animated = false;
  Decomposed constant;
  std::vector<Key<Vector>> t, s;
  std::vector<Key<Quaternion>> r;
  Vec3 pointScale = {1, 1, 1};  // a model's: its world scale at the first frame
};

class Importer {
 public:
  Importer(const tinygltf::Model& model, const gltf::Prepared& prepared, const GltfOptions& options,
           std::size_t dataBytes)
      : m_(model), prepared_(prepared), options_(options), dataBytes_(dataBytes) {
    // Each buffer's bytes: resolved by Prepare, else tinygltf's.
    for (std::size_t i = 0; i < m_.buffers.size(); ++i) {
      const bool ours = i < prepared_.spans.size() && !prepared_.spans[i].empty();
      buffers_.push_back(ours ? prepared_.spans[i] : gltf::Span(m_.buffers[i].data));
    }
  }

  std::unique_ptr<Scene> Import() {
    Validate();
    SceneNodes();
    ListAnimations();
    ChooseAnimations();
    CheckRange();
    Bake();
    scene_ = std::make_unique<Scene>("glTF", options_.fps, "Chor1");
    for (const int node : order_) AddObject(node);
    if (scene_->Chor()->GetChildCamera() == nullptr) warnings.push_back(kGltfNoCamera);
    return std::move(scene_);
  }

  std::vector<std::string> warnings;
  std::vector<GltfAnimation> animations;

 private:
  static bool In(int index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
  }
  static void Index(int index, std::size_t count, const std::string& where, const char* what,
                    bool optional = true) {
    if ((optional && index == -1) || In(index, count)) return;
    Fail(where, std::string("expected ") + what + " index from 0 to " +
                    std::to_string(static_cast<long long>(count) - 1));
  }
  static void Finite(const std::vector<double>& v, std::size_t size, const std::string& where) {
    if (v.empty()) return;
    if (v.size() != size) Fail(where, "expected " + std::to_string(size) + " numbers");
    for (const double x : v) {
      if (!std::isfinite(x)) Fail(where, "expected finite numbers");
    }
  }

  // --- one pass over every index and every accessor's data -----------------

  void Validate() {
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
        Index(anim.samplers[s].output, m_.accessors.size(), where + ".output", "an accessor",
              false);
      }
    }
    for (std::size_t i = 0; i < m_.cameras.size(); ++i) {
      const tinygltf::Camera& c = m_.cameras[i];
      if (c.type != "perspective") continue;
      const std::string at = At("cameras", static_cast<int>(i)) + ".perspective";
      if (!(c.perspective.yfov > 0 && c.perspective.yfov < M_PI))
        Fail(at + ".yfov", "expected a field of view above 0 and below pi (radians)");
      if (!(c.perspective.aspectRatio >= 0) || !std::isfinite(c.perspective.aspectRatio))
        Fail(at + ".aspectRatio", "expected a number above 0, or none");
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
        Fail(at, "expected its bytes within its buffer's " + std::to_string(size));
    }
    for (std::size_t i = 0; i < m_.accessors.size(); ++i) ValidateAccessor(static_cast<int>(i));
  }

  void ValidateNode(int i) {
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
      Fail(at + ".rotation", "expected a rotation of non-zero length");
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

  // count elements of size bytes, stride apart from offset, within a view.
  void Within(int view, std::size_t offset, std::size_t stride, std::size_t count, std::size_t size,
              const std::string& where) const {
    Index(view, m_.bufferViews.size(), where + ".bufferView", "a bufferView", false);
    const std::size_t length = m_.bufferViews[static_cast<std::size_t>(view)].byteLength;
    if (count == 0) return;
    if (offset > length || size > length - offset ||
        (count - 1) > (length - offset - size) / stride)
      Fail(where, "expected " + std::to_string(count) + " elements of " + std::to_string(size) +
                      " bytes within its bufferView's " + std::to_string(length));
  }

  void ValidateAccessor(int i) {
    const tinygltf::Accessor& a = m_.accessors[static_cast<std::size_t>(i)];
    const std::string at = At("accessors", i);
    const std::size_t component = ComponentSize(a.componentType);
    const int components = tinygltf::GetNumComponentsInType(static_cast<uint32_t>(a.type));
    if (component == 0) Fail(at + ".componentType", "expected 5120 to 5126");
    if (components <= 0) Fail(at + ".type", "expected SCALAR, VEC2 to VEC4 or MAT2 to MAT4");
    const std::size_t size = component * static_cast<std::size_t>(components);
    if (a.bufferView >= 0) {
      Index(a.bufferView, m_.bufferViews.size(), at + ".bufferView", "a bufferView");
      const std::size_t stride = m_.bufferViews[static_cast<std::size_t>(a.bufferView)].byteStride;
      Within(a.bufferView, a.byteOffset, stride != 0 ? stride : size, a.count, size, at);
    } else if (a.count > dataBytes_) {
      // All zeros: nothing in the file backs it, so its size is capped by the file's.
      Fail(at,
           "expected an accessor without a bufferView to have no more elements than the "
           "file and its buffers have bytes (" +
               std::to_string(dataBytes_) + ")");
    }
    if (!a.sparse.isSparse) return;
    const std::size_t n = static_cast<std::size_t>(std::max(a.sparse.count, 0));
    if (a.sparse.count < 1 || n > a.count)
      Fail(at + ".sparse.count", "expected from 1 to the accessor's count");
    const std::size_t indexSize = ComponentSize(a.sparse.indices.componentType);
    if (indexSize == 0 || a.sparse.indices.componentType == TINYGLTF_COMPONENT_TYPE_BYTE ||
        a.sparse.indices.componentType == TINYGLTF_COMPONENT_TYPE_SHORT ||
        a.sparse.indices.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT)
      Fail(at + ".sparse.indices", "expected unsigned integer indices");
    Within(a.sparse.indices.bufferView, static_cast<std::size_t>(a.sparse.indices.byteOffset),
           indexSize, n, indexSize, at + ".sparse.indices");
    Within(a.sparse.values.bufferView, static_cast<std::size_t>(a.sparse.values.byteOffset), size,
           n, size, at + ".sparse.values");
  }

  // --- the scene's nodes ---------------------------------------------------------

  std::vector<int> order_, parent_, depth_;

  // The default scene's nodes, depth first in document order, parents
  // before children. A node reached twice (a cycle or a node under two
  // parents) is refused.
  void SceneNodes() {
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
      if (seen[i] != 0) Fail(At("nodes", node), "a node cycle (or a node under two parents)");
      seen[i] = 1;
      parent_[i] = parent;
      depth_[i] = parent < 0 ? 0 : depth_[static_cast<std::size_t>(parent)] + 1;
      order_.push_back(node);
      const auto& children = m_.nodes[i].children;
      for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({*it, node});
    }
  }

  // --- animations -------------------------------------------------------------

  std::vector<Track> tracks_;
  std::vector<std::array<int, 3>> nodeTracks_;  // by node: translation, rotation, scale
  std::map<int, int> yfovTracks_;               // by camera
  double startSeconds_ = 0, endSeconds_ = 0;
  int longest_ = -1;  // the chosen animation of the longest range
  bool animated_ = false;

  std::string AnimationName(int a) const {
    const std::string& name = m_.animations[static_cast<std::size_t>(a)].name;
    return At("animations", a) + (name.empty() ? "" : " (" + name + ")");
  }

  // Every animation's range, for the listing.
  void ListAnimations() {
    for (std::size_t a = 0; a < m_.animations.size(); ++a) {
      const tinygltf::Animation& anim = m_.animations[a];
      GltfAnimation listed{static_cast<int>(a), anim.name, 0, 0};
      bool any = false;
      double t0 = 0, t1 = 0;
      for (std::size_t s = 0; s < anim.samplers.size(); ++s) {
        const std::vector<double> times = Numbers(anim.samplers[s].input, 1, false);
        if (times.empty()) continue;
        t0 = any ? std::min(t0, times.front()) : times.front();
        t1 = any ? std::max(t1, times.back()) : times.back();
        any = true;
      }
      listed.firstFrame = std::floor(t0 * options_.fps);
      listed.lastFrame = std::ceil(t1 * options_.fps);
      animations.push_back(listed);
    }
  }

  std::vector<int> ChosenAnimations() const {
    std::vector<int> chosen;
    const int count = static_cast<int>(m_.animations.size());
    if (!options_.animation) {
      for (int a = 0; a < count; ++a) chosen.push_back(a);
      return chosen;
    }
    const std::string& want = *options_.animation;
    for (int a = 0; a < count; ++a) {
      if (m_.animations[static_cast<std::size_t>(a)].name == want || std::to_string(a) == want)
        return {a};  // the first that answers
    }
    std::string names;
    for (int a = 0; a < count; ++a) {
      const std::string& name = m_.animations[static_cast<std::size_t>(a)].name;
      if (!names.empty()) names += ", ";
      names += name.empty() ? std::to_string(a) : name;
    }
    Fail("animations", fileio::Concat({"no animation '", want, "'; the file has ",
                                       names.empty() ? std::string_view("none") : names}));
  }

  // What a channel animates: a node's property, a camera's yfov, or nothing
  // (node -1) for what plays no part in a track.
  std::pair<int, std::optional<Path>> Target(int a, int c, const tinygltf::AnimationChannel& ch,
                                             const std::string& where) {
    auto core = [](const std::string& p) -> std::optional<Path> {
      if (p == "translation") return Path::kTranslation;
      if (p == "rotation") return Path::kRotation;
      if (p == "scale") return Path::kScale;
      return std::nullopt;  // morph target weights are not imported
    };
    if (ch.target_path != gltf::kPointerPath) return {ch.target_node, core(ch.target_path)};
    const auto found = prepared_.pointers.find({a, c});
    if (found == prepared_.pointers.end()) return {-1, std::nullopt};
    const std::string& pointer = found->second;
    const std::string at = where + ".target.extensions.KHR_animation_pointer.pointer";
    for (const char* list : {"/nodes/", "/cameras/"}) {
      if (pointer.rfind(list, 0) != 0) continue;
      const std::size_t from = std::strlen(list), slash = pointer.find('/', from);
      const std::string digits = pointer.substr(from, slash - from);
      const std::string rest = slash == std::string::npos ? "" : pointer.substr(slash + 1);
      const bool nodes = list[1] == 'n';
      const std::size_t count = nodes ? m_.nodes.size() : m_.cameras.size();
      if (digits.empty() || digits.size() > 9 ||
          digits.find_first_not_of("0123456789") != std::string::npos ||
          !In(std::stoi(digits), count))
        Fail(at, std::string("expected a ") + (nodes ? "node" : "camera") + " index in " + pointer);
      const int index = std::stoi(digits);
      if (nodes && core(rest)) return {index, core(rest)};
      if (!nodes && rest == "perspective/yfov") return {index, Path::kYfov};
      if ((nodes && rest != "weights" && rest.rfind("extensions/", 0) != 0) ||
          (!nodes && rest == "perspective/aspectRatio"))
        warnings.push_back(where + " animates " + pointer + ", which is not read");
      return {-1, std::nullopt};
    }
    return {-1, std::nullopt};  // materials, lights' colours, ...
  }

  void ChooseAnimations() {
    nodeTracks_.assign(m_.nodes.size(), {-1, -1, -1});
    double longest = -1;
    for (const int a : ChosenAnimations()) {
      const tinygltf::Animation& anim = m_.animations[static_cast<std::size_t>(a)];
      for (std::size_t c = 0; c < anim.channels.size(); ++c) {
        const tinygltf::AnimationChannel& ch = anim.channels[c];
        const std::string where = At("animations", a) + "." + At("channels", static_cast<int>(c));
        const auto [target, path] = Target(a, static_cast<int>(c), ch, where);
        if (!path) continue;
        int& slot = *path == Path::kYfov
                        ? yfovTracks_.try_emplace(target, -1).first->second
                        : nodeTracks_[static_cast<std::size_t>(target)][static_cast<int>(*path)];
        if (slot >= 0) {
          const char* names[] = {"translation", "rotation", "scale", "yfov"};
          warnings.push_back(where + " animates the " + names[static_cast<int>(*path)] + " of " +
                             At(*path == Path::kYfov ? "cameras" : "nodes", target) + " as " +
                             tracks_[static_cast<std::size_t>(slot)].where +
                             " does; the first in the file is kept");
          continue;
        }
        slot = static_cast<int>(tracks_.size());
        tracks_.push_back(ReadTrack(anim, a, ch, *path, where));
        const double t0 = tracks_.back().times.front(), t1 = tracks_.back().times.back();
        startSeconds_ = animated_ ? std::min(startSeconds_, t0) : t0;
        endSeconds_ = animated_ ? std::max(endSeconds_, t1) : t1;
        animated_ = true;
        if (t1 - t0 > longest) {
          longest = t1 - t0;
          longest_ = a;
        }
      }
    }
  }

  // A channel's sampler: its key times (increasing) and values.
  Track ReadTrack(const tinygltf::Animation& anim, int a, const tinygltf::AnimationChannel& ch,
                  Path path, const std::string& where) const {
    const tinygltf::AnimationSampler& sampler = anim.samplers[static_cast<std::size_t>(ch.sampler)];
    const std::string at = At("animations", a) + "." + At("samplers", ch.sampler);
    Track track;
    track.where = where;
    track.width = path == Path::kRotation ? 4 : path == Path::kYfov ? 1 : 3;
    if (sampler.interpolation == "STEP") {
      track.interp = Interp::kStep;
    } else if (sampler.interpolation == "CUBICSPLINE") {
      track.interp = Interp::kCubic;
    } else if (sampler.interpolation != "LINEAR" && !sampler.interpolation.empty()) {
      Fail(at + ".interpolation", "expected LINEAR, STEP or CUBICSPLINE");
    }
    const std::vector<double> times = Numbers(sampler.input, 1, false);
    track.times.assign(times.begin(), times.end());
    track.values = Numbers(sampler.output, track.width, path == Path::kRotation);
    const std::size_t per = track.interp == Interp::kCubic ? 3 : 1;
    const std::size_t w = static_cast<std::size_t>(track.width);
    if (track.times.empty() || track.values.size() != track.times.size() * per * w)
      Fail(at, "expected as many outputs as inputs");
    for (std::size_t k = 1; k < track.times.size(); ++k) {
      if (!(track.times[k] > track.times[k - 1])) Fail(at + ".input", "expected increasing times");
    }
    for (std::size_t k = 0; k < track.times.size(); ++k) {
      double* v = &track.values[(k * per + (per == 3 ? 1 : 0)) * w];
      if (path == Path::kRotation) {
        const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[3] * v[3]);
        if (!(len > 0))
          Fail(at + ".output",
               "expected rotations of non-zero length (key " + std::to_string(k) + ")");
        for (int i = 0; i < 4; ++i) v[i] /= len;
      }
      if (path == Path::kYfov && !(v[0] > 0 && v[0] < M_PI))
        Fail(at + ".output",
             "expected fields of view above 0 and below pi (key " + std::to_string(k) + ")");
    }
    return track;
  }

  int FirstFrame() const { return static_cast<int>(std::floor(startSeconds_ * options_.fps)); }
  int LastFrame() const { return static_cast<int>(std::ceil(endSeconds_ * options_.fps)); }

  static constexpr double kMaxAnimationFrames = 1000000;
  static constexpr double kMaxBakedKeys = 2000000;

  // The frames sampled must be countable, and their times ticks.
  void CheckRange() const {
    if (!animated_) return;
    const double first = std::floor(startSeconds_ * options_.fps) - 1;
    const double last = std::ceil(endSeconds_ * options_.fps) + 1;
    if (!(last - first <= kMaxAnimationFrames) || !FramesToTicks(first, options_.fps) ||
        !FramesToTicks(last, options_.fps)) {
      Fail("animations", "expected animations of at most " +
                             std::to_string(static_cast<int>(kMaxAnimationFrames)) +
                             " frames whose times fit the host's ticks");
    }
  }

  // --- baking ---------------------------------------------------------------------

  std::vector<Baked> baked_;             // by node
  std::map<int, Channel<float>> focal_;  // animated focal lengths, by camera
  std::vector<char> animatedNode_;       // it or an ancestor animated
  std::vector<Mat4> world_;              // every node's, at the time last sampled
  std::vector<int> skinRoot_;            // by node: the root joint a skinned mesh follows, or -1
  std::vector<Mat4> skinBind_;           // by node: that joint's inverse bind matrix

  // The tick times sampled: the run's frames over the range, and both sides
  // of every STEP key, so that a step stays a step between frames.
  std::vector<Time> SampleTicks() const {
    std::vector<Time> ticks;
    const double offset =
        options_.firstFrame ? *options_.firstFrame - std::floor(*options_.firstFrame) : 0.0;
    const double f0 = startSeconds_ * options_.fps, f1 = endSeconds_ * options_.fps;
    for (double k = std::floor(f0 - offset); k <= std::ceil(f1 - offset); ++k)
      ticks.push_back(*FramesToTicks(k + offset, options_.fps));
    for (const Track& track : tracks_) {
      if (track.interp != Interp::kStep) continue;
      for (std::size_t k = 1; k < track.times.size(); ++k) {
        // The first tick that shows key k's value, and the one before.
        // (Reached as Sample reaches it: in single precision.)
        double t = std::ceil(track.times[k] * kTicksPerSecond) + 1;
        while (static_cast<float>((t - 1) / kTicksPerSecond) >= track.times[k]) t -= 1;
        if (t - 1 < ticks.front() || t > ticks.back()) continue;
        ticks.push_back(static_cast<Time>(t));
        ticks.push_back(static_cast<Time>(t - 1));
      }
    }
    std::sort(ticks.begin(), ticks.end());
    ticks.erase(std::unique(ticks.begin(), ticks.end()), ticks.end());
    return ticks;
  }

  // The node's local matrix at seconds (its own TRS or matrix, animated
  // properties sampled).
  Mat4 Local(int node, double seconds) const {
    const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(node)];
    const std::array<int, 3>& tracks = nodeTracks_[static_cast<std::size_t>(node)];
    const bool animated = tracks[0] >= 0 || tracks[1] >= 0 || tracks[2] >= 0;
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
    auto sampled = [&](int path) {
      return Sample(tracks_[static_cast<std::size_t>(tracks[static_cast<std::size_t>(path)])],
                    seconds);
    };
    if (tracks[0] >= 0) {
      const auto v = sampled(0);
      t = {v[0], v[1], v[2]};
    }
    if (tracks[1] >= 0) {
      const auto v = sampled(1);
      q = {v[0], v[1], v[2], v[3]};
    }
    if (tracks[2] >= 0) {
      const auto v = sampled(2);
      s = {v[0], v[1], v[2]};
    }
    const double len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double& e : q) e /= len;
    return Compose(t, q, s);
  }

  // World matrices from parents', parents first; animated nodes alone when
  // again is set.
  void Worlds(double seconds, bool again) {
    for (const int node : order_) {
      const std::size_t i = static_cast<std::size_t>(node);
      if (again && animatedNode_[i] == 0) continue;
      const int p = parent_[i];
      world_[i] = p < 0 ? Local(node, seconds)
                        : Multiply(world_[static_cast<std::size_t>(p)], Local(node, seconds));
    }
  }

  // A skinned mesh follows its skin's root joint (glTF ignores the mesh
  // node's own transform): the joint's world matrix times its inverse bind
  // matrix.
  void FindSkinRoots() {
    skinRoot_.assign(m_.nodes.size(), -1);
    skinBind_.assign(m_.nodes.size(), kIdentity);
    for (const int node : order_) {
      const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(node)];
      if (n.skin < 0 || n.mesh < 0) continue;
      const tinygltf::Skin& skin = m_.skins[static_cast<std::size_t>(n.skin)];
      if (skin.joints.empty()) continue;
      const std::set<int> joints(skin.joints.begin(), skin.joints.end());
      std::size_t root = 0;
      for (std::size_t j = 0; j < skin.joints.size(); ++j) {
        if (skin.joints[j] == skin.skeleton ||
            (skin.skeleton < 0 &&
             joints.count(parent_[static_cast<std::size_t>(skin.joints[j])]) == 0)) {
          root = j;
          break;
        }
      }
      skinRoot_[static_cast<std::size_t>(node)] = skin.joints[root];
      const std::vector<double> ibm = InverseBinds(n.skin);
      if (!ibm.empty())
        std::copy_n(ibm.begin() + static_cast<long>(root * 16), 16,
                    skinBind_[static_cast<std::size_t>(node)].begin());
    }
  }

  Mat4 ObjectMatrix(int node) const {
    const std::size_t i = static_cast<std::size_t>(node);
    if (skinRoot_[i] < 0) return world_[i];
    return Multiply(world_[static_cast<std::size_t>(skinRoot_[i])], skinBind_[i]);
  }
  bool ObjectAnimated(int node) const {
    const std::size_t i = static_cast<std::size_t>(node);
    return animatedNode_[static_cast<std::size_t>(skinRoot_[i] < 0 ? node : skinRoot_[i])] != 0;
  }

  void Bake() {
    const std::size_t n = m_.nodes.size();
    animatedNode_.assign(n, 0);
    for (const int node : order_) {
      const std::size_t i = static_cast<std::size_t>(node);
      const auto& t = nodeTracks_[i];
      animatedNode_[i] = t[0] >= 0 || t[1] >= 0 || t[2] >= 0 ||
                         (parent_[i] >= 0 && animatedNode_[static_cast<std::size_t>(parent_[i])]);
    }
    FindSkinRoots();
    world_.assign(n, kIdentity);
    baked_.assign(n, Baked{});
    const std::vector<Time> ticks = animated_ ? SampleTicks() : std::vector<Time>{0};
    const double first = static_cast<double>(ticks.front()) / kTicksPerSecond;
    Worlds(first, false);
    std::vector<int> moving;
    for (const int node : order_) {
      if (ObjectAnimated(node)) moving.push_back(node);
    }
    if (static_cast<double>(moving.size()) * static_cast<double>(ticks.size()) > kMaxBakedKeys) {
      Fail(AnimationName(longest_),
           std::to_string(moving.size()) + " animated objects x " + std::to_string(ticks.size()) +
               " keys would be more than the " + std::to_string(static_cast<int>(kMaxBakedKeys)) +
               " keys imported; import one animation (--animation) or at a lower --fps");
    }
    for (const int node : order_) {
      Baked& b = baked_[static_cast<std::size_t>(node)];
      b.constant = Decompose(ObjectMatrix(node));
      b.animated = ObjectAnimated(node);
      if (m_.nodes[static_cast<std::size_t>(node)].mesh >= 0) {
        for (int k = 0; k < 3; ++k)
          b.pointScale[k] = b.constant.scale[k] != 0 ? b.constant.scale[k] : 1;
      }
      if (b.constant.sheared) Sheared(node, ticks.front());
    }
    std::vector<char> scaleWarned(n, 0);
    for (const Time tick : ticks) {
      if (moving.empty()) break;
      Worlds(static_cast<double>(tick) / kTicksPerSecond, true);
      for (const int node : moving) {
        Baked& b = baked_[static_cast<std::size_t>(node)];
        Decomposed d = Decompose(ObjectMatrix(node));
        if (d.sheared && !sheared_.count(node)) Sheared(node, tick);
        for (int k = 0; k < 3; ++k) d.scale[k] /= b.pointScale[k];
        b.t.push_back({tick, ToVector(d.translate, "nodes", node)});
        b.r.push_back({tick, StoredRotation(d.rotate[0], d.rotate[1], d.rotate[2], d.rotate[3])});
        b.s.push_back({tick, ToVector(d.scale, "nodes", node)});
        const Vector& s = b.s.back().value;
        if (m_.nodes[static_cast<std::size_t>(node)].mesh >= 0 &&
            scaleWarned[static_cast<std::size_t>(node)] == 0 &&
            (std::fabs(s.x - 1) > 1e-6 || std::fabs(s.y - 1) > 1e-6 || std::fabs(s.z - 1) > 1e-6)) {
          scaleWarned[static_cast<std::size_t>(node)] = 1;
          warnings.push_back(NodeName(node) +
                             ": its scale is animated; the model's points hold its scale at the "
                             "first frame, so its model and group centres are off where the "
                             "scale differs");
        }
      }
    }
    for (const auto& [camera, track] : yfovTracks_) {
      const tinygltf::PerspectiveCamera& p =
          m_.cameras[static_cast<std::size_t>(camera)].perspective;
      std::vector<Key<float>> keys;
      for (const Time tick : ticks) {
        const double yfov = Sample(tracks_[static_cast<std::size_t>(track)],
                                   static_cast<double>(tick) / kTicksPerSecond)[0];
        keys.push_back({tick, Focal(Aspect(p), yfov, At("cameras", camera))});
      }
      focal_.emplace(camera, Channel<float>(Interpolation::kLinear, keys));
    }
  }

  std::set<int> sheared_;
  void Sheared(int node, Time tick) {
    sheared_.insert(node);
    char frame[32];
    const char* end =
        std::to_chars(frame, frame + sizeof frame, TicksToFramesExact(tick, options_.fps)).ptr;
    warnings.push_back(NodeName(node) + ": its world matrix is sheared at frame " +
                       std::string(frame, static_cast<std::size_t>(end - frame)) +
                       " (a rotated child of a non-uniformly scaled parent); translate, rotate "
                       "and scale cannot hold it, so its track is off by the shear");
  }

  std::string NodeName(int node) const {
    const std::string& name = m_.nodes[static_cast<std::size_t>(node)].name;
    return At("nodes", node) + (name.empty() ? "" : " (" + Clean(name, "") + ")");
  }

  // --- accessors --------------------------------------------------------------

  const unsigned char* Element(int view, std::size_t offset, std::size_t stride,
                               std::size_t i) const {
    const tinygltf::BufferView& bv = m_.bufferViews[static_cast<std::size_t>(view)];
    return buffers_[static_cast<std::size_t>(bv.buffer)].data() + bv.byteOffset + offset +
           i * stride;
  }

  // A normalized integer as glTF reads it.
  static double Normalized(const unsigned char* p, int type) {
    switch (type) {
      case TINYGLTF_COMPONENT_TYPE_BYTE:
        return std::max(static_cast<signed char>(p[0]) / 127.0, -1.0);
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
        return p[0] / 255.0;
      case TINYGLTF_COMPONENT_TYPE_SHORT: {
        std::int16_t v;
        std::memcpy(&v, p, 2);
        return std::max(v / 32767.0, -1.0);
      }
      default: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v / 65535.0;
      }
    }
  }

  // An accessor of width components an element: 32-bit floats, or with
  // normalized set normalized integers of 8 or 16 bits too; sparse values
  // applied. Bounds were checked by Validate.
  std::vector<double> Numbers(int index, int width, bool normalized) const {
    std::vector<double> out;
    ForEachElement(index, width, normalized,
                   [&](std::size_t, const double* v) { out.insert(out.end(), v, v + width); });
    return out;
  }

  [[noreturn, gnu::cold, gnu::noinline]] static void NotFinite(const std::string& at) {
    Fail(at, "expected finite numbers");
  }

  // Three 32-bit floats read in place, refused (naming at) when one is not
  // finite or beyond 3.4e38.
  static void FloatTriple(const unsigned char* p, double xyz[3], const std::string& at) {
    for (int k = 0; k < 3; ++k) {
      float f;
      std::memcpy(&f, p + 4 * k, 4);
      xyz[k] = f;
      if (!InSingle(xyz[k])) NotFinite(at);
    }
  }

  // Each element in turn, visit(i, values), read in place: nothing the size
  // of the accessor is made.
  template <class Visit>
  void ForEachElement(int index, int width, bool normalized, Visit&& visit) const {
    const tinygltf::Accessor& a = m_.accessors[static_cast<std::size_t>(index)];
    const std::string at = At("accessors", index);
    const bool floats = a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT;
    const bool integers = normalized && a.normalized &&
                          a.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT && !floats;
    if (!floats && !integers)
      Fail(at, normalized ? "expected 32-bit floats (componentType 5126) or normalized 8- or "
                            "16-bit integers"
                          : "expected 32-bit floats (componentType 5126)");
    if (tinygltf::GetNumComponentsInType(static_cast<uint32_t>(a.type)) != width)
      Fail(at, "expected " + std::to_string(width) + " components an element");
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t component = ComponentSize(a.componentType), size = component * w;
    auto read = [&](const unsigned char* p, double* out) {
      for (std::size_t k = 0; k < w; ++k) {
        if (floats) {
          float f;
          std::memcpy(&f, p + 4 * k, 4);
          out[k] = f;
        } else {
          out[k] = Normalized(p + component * k, a.componentType);
        }
        if (!InSingle(out[k])) NotFinite(at);
      }
    };
    // Sparse values by element, the last of a repeated index winning.
    std::vector<std::pair<std::size_t, std::size_t>> sparse;  // element, value
    if (a.sparse.isSparse) {
      const std::vector<std::size_t> targets = Indices(
          a.sparse.indices.bufferView, static_cast<std::size_t>(a.sparse.indices.byteOffset),
          a.sparse.indices.componentType, static_cast<std::size_t>(a.sparse.count));
      for (std::size_t k = 0; k < targets.size(); ++k) {
        if (targets[k] >= a.count) Fail(at + ".sparse.indices", "expected indices within count");
        sparse.push_back({targets[k], k});
      }
      std::stable_sort(sparse.begin(), sparse.end(),
                       [](const auto& x, const auto& y) { return x.first < y.first; });
    }
    const std::size_t stride =
        a.bufferView < 0 ? 0 : m_.bufferViews[static_cast<std::size_t>(a.bufferView)].byteStride;
    const std::size_t step = stride != 0 ? stride : size;
    const bool viewed = a.bufferView >= 0;
    const unsigned char* data =
        viewed && a.count > 0 ? Element(a.bufferView, a.byteOffset, step, 0) : nullptr;
    if (floats && w == 3 && viewed && sparse.empty()) {
      // Positions, translations and scales: the same reading, kept in
      // registers.
      for (std::size_t i = 0; i < a.count; ++i) {
        double e[3];
        FloatTriple(data + i * step, e, at);
        visit(i, static_cast<const double*>(e));
      }
      return;
    }
    double v[16] = {};
    auto next = sparse.begin();
    for (std::size_t i = 0; i < a.count; ++i) {
      if (viewed) read(data + i * step, v);
      bool replaced = false;
      for (; next != sparse.end() && next->first == i; ++next, replaced = true) {
        read(Element(a.sparse.values.bufferView,
                     static_cast<std::size_t>(a.sparse.values.byteOffset), size, next->second),
             v);
      }
      visit(i, v);
      if (replaced && a.bufferView < 0) std::fill(v, v + w, 0.0);
    }
  }

  // Unsigned integers of 1, 2 or 4 bytes, read in place.
  struct UnsignedList {
    const unsigned char* data = nullptr;
    std::size_t size = 0, count = 0;
    std::size_t operator[](std::size_t i) const {
      const unsigned char* p = data + i * size;
      std::uint32_t v = 0;
      if (size == 1) v = p[0];
      if (size == 2) v = static_cast<std::uint32_t>(p[0] | p[1] << 8);
      if (size == 4) std::memcpy(&v, p, 4);
      return v;
    }
  };
  // Their type checked by Validate or here.
  UnsignedList Unsigneds(int view, std::size_t offset, int componentType, std::size_t count) const {
    const std::size_t size = ComponentSize(componentType);
    return {count == 0 ? nullptr : Element(view, offset, size, 0), size, count};
  }
  std::vector<std::size_t> Indices(int view, std::size_t offset, int componentType,
                                   std::size_t count) const {
    const UnsignedList list = Unsigneds(view, offset, componentType, count);
    std::vector<std::size_t> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) out.push_back(list[i]);
    return out;
  }

  // A primitive's vertex indices: its index accessor's, or none.
  UnsignedList PrimitiveIndices(const tinygltf::Primitive& p, std::size_t vertices) const {
    if (p.indices < 0) return {};
    const tinygltf::Accessor& a = m_.accessors[static_cast<std::size_t>(p.indices)];
    const std::string at = At("accessors", p.indices);
    const std::size_t size = ComponentSize(a.componentType);
    if (a.bufferView < 0) Fail(at, "expected a bufferView");
    if (a.componentType == TINYGLTF_COMPONENT_TYPE_BYTE ||
        a.componentType == TINYGLTF_COMPONENT_TYPE_SHORT ||
        a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT ||
        tinygltf::GetNumComponentsInType(static_cast<uint32_t>(a.type)) != 1)
      Fail(at, "expected unsigned integer indices");
    const std::size_t stride = m_.bufferViews[static_cast<std::size_t>(a.bufferView)].byteStride;
    if (stride != 0 && stride != size) Fail(at, "expected tightly packed indices");
    const UnsignedList out = Unsigneds(a.bufferView, a.byteOffset, a.componentType, a.count);
    for (std::size_t i = 0; i < out.count; ++i) {
      if (out[i] >= vertices)
        Fail(at,
             "expected indices below the primitive's " + std::to_string(vertices) + " vertices");
    }
    return out;
  }

  std::vector<double> InverseBinds(int skinIndex) const {
    const tinygltf::Skin& skin = m_.skins[static_cast<std::size_t>(skinIndex)];
    if (skin.inverseBindMatrices < 0) return {};
    const std::string at = At("skins", skinIndex) + ".inverseBindMatrices";
    std::vector<double> ibm = Numbers(skin.inverseBindMatrices, 16, false);
    if (ibm.size() != skin.joints.size() * 16) Fail(at, "expected one matrix a joint");
    return ibm;
  }

  // --- objects -----------------------------------------------------------------

  UniqueNames usedNames_;

  // The loader's rules for names: not empty, no control characters, at most
  // 1024 bytes (cut at a UTF-8 character's start), unique ("name.2", ...).
  static std::string Clean(std::string name, const std::string& fallback) {
    for (char& c : name) {
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    if (name.size() > kMaxNameLength - 16) {
      std::size_t cut = kMaxNameLength - 16;
      while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
      name.resize(cut);
    }
    return name.empty() ? fallback : name;
  }

  void AddObject(int node) {
    const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(node)];
    const std::string where = At("nodes", node);
    const std::string name = usedNames_.Take(Clean(n.name, "node" + std::to_string(node)));
    HBone* object = nullptr;
    if (n.camera >= 0) {
      const tinygltf::Camera& camera = m_.cameras[static_cast<std::size_t>(n.camera)];
      if (camera.type == "perspective") {
        object = AddCamera(name, n.camera);
      } else {
        warnings.push_back(where + ": the " + camera.type + " camera " + name +
                           " is imported as a null (only perspective cameras project)");
      }
    }
    if (object == nullptr && n.mesh >= 0) object = AddModel(name, node);
    if (object == nullptr) {
      const bool light = n.extensions.count("KHR_lights_punctual") != 0;
      object = scene_->AddObject(name, light ? ObjectType::kLight : ObjectType::kNull);
    }
    Baked& b = baked_[static_cast<std::size_t>(node)];
    if (!b.animated) {
      Vec3 s = b.constant.scale;
      for (int k = 0; k < 3; ++k) s[k] /= b.pointScale[k];
      const Quat& q = b.constant.rotate;
      scene_->SetTransform(object, Channel<Vector>(ToVector(b.constant.translate, "nodes", node)),
                           Channel<Quaternion>(StoredRotation(q[0], q[1], q[2], q[3])),
                           Channel<Vector>(ToVector(s, "nodes", node)));
      return;
    }
    scene_->SetTransform(object, Channel<Vector>(Interpolation::kLinear, b.t),
                         Channel<Quaternion>(Interpolation::kLinear, b.r),
                         Channel<Vector>(Interpolation::kLinear, b.s));
    b = Baked{};  // its keys are the channels' now
  }

  static double Aspect(const tinygltf::PerspectiveCamera& p) { return p.aspectRatio; }

  // A focal length the scene file holds: a float above 0.
  float Focal(double aspect, double yfov, const std::string& at) const {
    const int width = options_.width;
    if (aspect <= 0) aspect = double(width) / double(Height(aspect, at));
    const double exact = FocalLength(aspect, yfov);
    const float focal = exact > 0 && exact <= 3.4e38 ? static_cast<float>(exact) : 0.0f;
    if (!(focal > 0))
      Fail(at + ".perspective",
           "expected a field of view and aspect ratio that give a focal length");
    return focal;
  }

  int Height(double aspect, const std::string& at) const {
    if (options_.height) return *options_.height;
    if (!(aspect > 0)) return 1080;
    const double h = RoundHalfAway(options_.width / aspect);
    if (!(h >= 1 && h <= INT32_MAX))
      Fail(at + ".perspective.aspectRatio",
           "expected an aspect ratio that gives a height of at least 1 pixel");
    return static_cast<int>(h);
  }

  HBone* AddCamera(const std::string& name, int index) {
    const tinygltf::PerspectiveCamera& p = m_.cameras[static_cast<std::size_t>(index)].perspective;
    const std::string at = At("cameras", index);
    const int height = Height(p.aspectRatio, at);
    const auto animatedFocal = focal_.find(index);
    HCamera* c = scene_->AddCamera(name, animatedFocal != focal_.end()
                                             ? animatedFocal->second
                                             : Channel<float>(Focal(p.aspectRatio, p.yfov, at)));
    HProperty* options = scene_->AddProperty(c, "OutputOptions", HProperty::Kind::kGroup);
    HProperty* resolution = scene_->AddProperty(options, "Resolution", HProperty::Kind::kGroup);
    scene_->AddProperty(resolution, "Width", HProperty::Kind::kInt, options_.width);
    scene_->AddProperty(resolution, "Height", HProperty::Kind::kInt, height);
    HProperty* range = scene_->AddProperty(options, "Range", HProperty::Kind::kGroup);
    const int first = animated_ ? FirstFrame() : 0, last = animated_ ? LastFrame() : 0;
    scene_->AddProperty(range, "StartFrame", HProperty::Kind::kTime,
                        FramesToTicks(first, options_.fps).value_or(0));
    scene_->AddProperty(range, "EndFrame", HProperty::Kind::kTime,
                        FramesToTicks(last, options_.fps).value_or(0));
    return c;
  }

  HBone* AddModel(const std::string& name, int node) {
    const tinygltf::Node& n = m_.nodes[static_cast<std::size_t>(node)];
    const tinygltf::Mesh& mesh = m_.meshes[static_cast<std::size_t>(n.mesh)];
    const Vec3& scale = baked_[static_cast<std::size_t>(node)].pointScale;
    HModel* model = scene_->AddModel(name);
    HModelCache* cache = model->GetCache();
    HGroupContainer* groups = scene_->AddGroupContainer(model);
    UniqueNames groupNames;
    for (std::size_t pi = 0; pi < mesh.primitives.size(); ++pi) {
      const tinygltf::Primitive& p = mesh.primitives[pi];
      const std::string at = At("meshes", n.mesh) + "." + At("primitives", static_cast<int>(pi));
      const auto position = p.attributes.find("POSITION");
      if (position == p.attributes.end()) continue;
      const std::size_t base = cache->PointCount();
      const std::array<double, 3> sum = AddPositions(cache, position->second, n.mesh, scale);
      const std::size_t vertices = cache->PointCount() - base;
      // Its index accessor, or 0, 1, 2, ... (not made).
      const UnsignedList indices = PrimitiveIndices(p, vertices);
      AddTriangles(cache, p.mode, base, p.indices < 0 ? nullptr : &indices, vertices);
      std::string group = "primitive" + std::to_string(pi);
      if (p.material >= 0 && !m_.materials[static_cast<std::size_t>(p.material)].name.empty())
        group = Clean(m_.materials[static_cast<std::size_t>(p.material)].name, group);
      Vector center;
      if (vertices > 0) {
        const double c = static_cast<double>(vertices);
        center = {static_cast<float>(sum[0] / c), static_cast<float>(sum[1] / c),
                  static_cast<float>(sum[2] / c)};
      }
      scene_->AddGroup(groups, groupNames.Take(group), center);
    }
    if (n.skin >= 0) AddBones(model, n.skin, scale);
    return model;
  }

  // A primitive's positions as the model's next points, scaled; answers
  // their sum, added up in double in order (the group's centre). Float
  // triples are read in place, a block of points at a time, by TightPoints;
  // a point it stops at (near the range's edge or beyond it) is read the
  // exact way, refused or kept. Any other accessor goes through
  // ForEachElement (which refuses what is not float VEC3).
  std::array<double, 3> AddPositions(HModelCache* cache, int index, int mesh,
                                     const Vec3& scale) const {
    const tinygltf::Accessor& a = m_.accessors[static_cast<std::size_t>(index)];
    if (a.componentType != TINYGLTF_COMPONENT_TYPE_FLOAT || a.bufferView < 0 || a.sparse.isSparse ||
        tinygltf::GetNumComponentsInType(static_cast<uint32_t>(a.type)) != 3) {
      std::array<double, 3> sum = {0, 0, 0};
      ForEachElement(index, 3, false, [&](std::size_t, const double* xyz) {
        const Vector point = Scaled(xyz, scale, mesh);
        cache->AddPoint(point);
        sum[0] += point.x;
        sum[1] += point.y;
        sum[2] += point.z;
      });
      return sum;
    }
    const std::string at = At("accessors", index);
    const std::size_t stride = m_.bufferViews[static_cast<std::size_t>(a.bufferView)].byteStride;
    const std::size_t step = stride != 0 ? stride : 12;
    const unsigned char* data =
        a.count > 0 ? Element(a.bufferView, a.byteOffset, step, 0) : nullptr;
    const bool unit = scale[0] == 1 && scale[1] == 1 && scale[2] == 1;
    const float bounds[3] = {ScaledBound(scale[0]), ScaledBound(scale[1]), ScaledBound(scale[2])};
    std::array<double, 3> sum = {0, 0, 0};
    cache->AddPoints(a.count, [&](HCP* out, std::size_t first, std::size_t count) {
      const unsigned char* p = data + first * step;
      for (std::size_t i = 0; i < count;) {
        i += unit ? TightPoints<true>(out + i, p + i * step, step, count - i, bounds, scale, sum)
                  : TightPoints<false>(out + i, p + i * step, step, count - i, bounds, scale, sum);
        if (i == count) break;
        double xyz[3];
        FloatTriple(p + i * step, xyz, at);
        const Vector point = Scaled(xyz, scale, mesh);
        new (out + i) HCP(point);
        sum = {sum[0] + point.x, sum[1] + point.y, sum[2] + point.z};
        ++i;
      }
    });
    return sum;
  }

  // A position scaled as the scene holds it (refused naming the mesh when
  // beyond single precision). Not inlined, so that its callers sum the
  // floats it answers, never the products (see TightPoints).
  [[gnu::noinline]] static Vector Scaled(const double* xyz, const Vec3& scale, int mesh) {
    return ToVector({xyz[0] * scale[0], xyz[1] * scale[1], xyz[2] * scale[2]}, "meshes", mesh);
  }

  // The largest float whose product with scale, in double, is surely within
  // single precision's range (the margin, 2^-30, far wider than the rounding
  // of the quotient and of the product; with scale 1, exactly the floats
  // within it); -1 (none) for a scale that is not a finite non-zero number.
  static float ScaledBound(double scale) {
    if (!std::isfinite(scale) || scale == 0) return -1;
    const double limit =
        scale == 1 ? 3.4e38 : std::min(3.4e38, 3.4e38 / std::fabs(scale) * (1 - 0x1p-30));
    float bound = static_cast<float>(limit);
    if (bound > limit) bound = std::nextafter(bound, 0.0f);
    return bound;
  }

  // Float triples, step bytes apart from p, as points at out, scaled (not
  // with Unit: a scale of 1 changes no float) and added to sum in order,
  // until count or the first triple with a component beyond its bound (or
  // NaN); answers how many were made. Calls nothing, so that the sums stay
  // in registers (and is not inlined, where they did not).
  //
  // Scaled points are summed as stored, a few at a time in a loop of their
  // own: GCC 12 at -O2 and above, pairing a point's x and y in one vector,
  // adds the double products where it should add the floats they round to
  // ((double)(float)d taken for d), which moved the group's centre.
  template <bool Unit>
  [[gnu::noinline]] static std::size_t TightPoints(HCP* out, const unsigned char* p,
                                                   std::size_t step, std::size_t count,
                                                   const float bounds[3], const Vec3& scale,
                                                   std::array<double, 3>& sum) {
    const float bx = bounds[0], by = bounds[1], bz = bounds[2];
    const double sx = scale[0], sy = scale[1], sz = scale[2];
    double x = sum[0], y = sum[1], z = sum[2];
    constexpr std::size_t kFew = Unit ? SIZE_MAX : 64;
    std::size_t made = 0;
    for (bool refused = false; made < count && !refused;) {
      const std::size_t few = std::min(kFew, count - made);
      std::size_t i = 0;
      for (; i < few; ++i, p += step) {
        // Each float loaded on its own: copied as one block, the triple went
        // through the stack (8 bytes stored, read back as floats), and a
        // store that a read cannot take from in flight (where the stack
        // puts it across a cache line) stalled every point.
        float f[3];
        std::memcpy(&f[0], p, sizeof(float));
        std::memcpy(&f[1], p + sizeof(float), sizeof(float));
        std::memcpy(&f[2], p + 2 * sizeof(float), sizeof(float));
        // All three compared, then one branch.
        const unsigned inside = static_cast<unsigned>(std::fabs(f[0]) <= bx) &
                                static_cast<unsigned>(std::fabs(f[1]) <= by) &
                                static_cast<unsigned>(std::fabs(f[2]) <= bz);
        if (inside == 0) {
          refused = true;
          break;
        }
        if constexpr (Unit) {
          new (out + made + i) HCP(Vector(f[0], f[1], f[2]));
          x += f[0];
          y += f[1];
          z += f[2];
        } else {
          new (out + made + i)
              HCP(Vector(static_cast<float>(f[0] * sx), static_cast<float>(f[1] * sy),
                         static_cast<float>(f[2] * sz)));
        }
      }
      if constexpr (!Unit) {
        for (const HCP* point = out + made; point != out + made + i; ++point) {
          const Vector v = point->GetModelPosition();
          x += v.x;
          y += v.y;
          z += v.z;
        }
      }
      made += i;
    }
    sum = {x, y, z};
    return made;
  }

  // A primitive's triangles as patches [a, b, c, c] of the points from
  // base: its vertices by indices (or 0, 1, 2, ... without), read as
  // triangles, a strip or a fan (other modes make none).
  void AddTriangles(HModelCache* cache, int mode, std::size_t base, const UnsignedList* indices,
                    std::size_t vertices) const {
    const std::size_t count = indices != nullptr ? indices->count : vertices;
    auto point = [&](std::size_t i) {
      return cache->Point(base + (indices != nullptr ? (*indices)[i] : i));
    };
    // Patch i of n made as corners(i, a, b, c).
    auto patches = [&](std::size_t n, auto corners) {
      cache->AddPatches(n, [&](HPatch* out, std::size_t first, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
          HCP *a, *b, *c;
          corners(first + i, a, b, c);
          new (out + i) HPatch(a, b, c, c);
        }
      });
    };
    if (mode == TINYGLTF_MODE_TRIANGLES) {
      if (count < 3) return;
      if (indices == nullptr) {  // the points in turn
        HModelCache::PointCursor next = cache->Points(base);
        patches(count / 3, [&](std::size_t, HCP*& a, HCP*& b, HCP*& c) {
          a = next.Next();
          b = next.Next();
          c = next.Next();
        });
        return;
      }
      patches(count / 3, [&](std::size_t t, HCP*& a, HCP*& b, HCP*& c) {
        a = point(3 * t);
        b = point(3 * t + 1);
        c = point(3 * t + 2);
      });
    } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP && count >= 3) {
      patches(count - 2, [&](std::size_t i, HCP*& a, HCP*& b, HCP*& c) {
        a = point(i % 2 == 0 ? i : i + 1);
        b = point(i % 2 == 0 ? i + 1 : i);
        c = point(i + 2);
      });
    } else if (mode == TINYGLTF_MODE_TRIANGLE_FAN && count >= 3) {
      patches(count - 2, [&](std::size_t i, HCP*& a, HCP*& b, HCP*& c) {
        a = point(0);
        b = point(i + 1);
        c = point(i + 2);
      });
    }
  }

  // The skin's joints as bones, nested as the joint nodes are; each pivot
  // the joint's bind position in the mesh's space, scaled as its points.
  void AddBones(HModel* model, int skinIndex, const Vec3& scale) {
    const tinygltf::Skin& skin = m_.skins[static_cast<std::size_t>(skinIndex)];
    const std::string at = At("skins", skinIndex);
    const std::vector<double> inverseBind = InverseBinds(skinIndex);
    HBoneContainer* container = scene_->AddBoneContainer(model);
    std::map<int, HBone*> bones;
    UniqueNames boneNames;
    // Parents before children.
    std::vector<std::size_t> order(skin.joints.size());
    for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return depth_[static_cast<std::size_t>(skin.joints[a])] <
             depth_[static_cast<std::size_t>(skin.joints[b])];
    });
    for (const std::size_t j : order) {
      const int joint = skin.joints[j];
      Vector pivot;
      if (!inverseBind.empty()) {
        const Vector bind = BindPosition(&inverseBind[j * 16], at);
        pivot =
            ToVector({bind.x * scale[0], bind.y * scale[1], bind.z * scale[2]}, "skins", skinIndex);
      }
      const int p = parent_[static_cast<std::size_t>(joint)];
      const auto parent = bones.find(p);
      const std::string name = boneNames.Take(
          Clean(m_.nodes[static_cast<std::size_t>(joint)].name, "node" + std::to_string(joint)));
      bones[joint] =
          scene_->AddBone(container, parent != bones.end() ? parent->second : nullptr, name, pivot);
    }
  }

  // The translation of the inverse of an inverse bind matrix (column-major),
  // by the host's inverse.
  static Vector BindPosition(const double* m, const std::string& where) {
    Matrix44 bind;
    for (int r = 0; r < 4; ++r) {
      bind.row[r] = Vector4(static_cast<float>(m[r]), static_cast<float>(m[4 + r]),
                            static_cast<float>(m[8 + r]), static_cast<float>(m[12 + r]));
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
  const gltf::Prepared& prepared_;
  std::vector<gltf::Span> buffers_;  // by buffer index
  const GltfOptions& options_;
  const std::size_t dataBytes_;
  std::unique_ptr<Scene> scene_;
};

bool SkipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int,
               const unsigned char*, int, void*) {
  return true;  // images are not imported
}

}  // namespace

Result<std::string> ImportedSceneText(const Scene& scene, const std::string& path) {
  auto over = [&](const char* size, std::size_t bytes) {
    return scene::Fail(path + ": the scene would be " + size + std::to_string(bytes >> 20) +
                       " MiB, over the 64 MiB a scene file may have; import one animation "
                       "(--animation) or at a lower --fps");
  };
  // Far over, it is refused before its text is made (a million points take
  // hundreds of bytes each while they are written).
  if (const std::size_t least = SceneTextAtLeast(scene); least > kMaxSceneBytes)
    return over("at least ", least);
  std::string text = WriteSceneText(scene);
  if (text.size() > kMaxSceneBytes) return over("", text.size());
  const LoadResult loaded = LoadSceneText(text, path);
  if (!loaded)
    return scene::Fail("the scene imported from " + path + " would not load: " + loaded.error);
  return text;
}

bool IsGltfPath(const std::string& path) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto ends = [&](const char* e) {
    const std::size_t n = std::strlen(e);
    return lower.size() >= n && lower.compare(lower.size() - n, n, e) == 0;
  };
  return ends(".gltf") || ends(".glb");
}

namespace {

ImportResult Import(std::string_view bytes, const std::string& path, const GltfOptions& options) {
  ImportResult result;
  try {
    if (bytes.size() > kMaxGltfBytes) Fail("(document)", "expected a file of at most 1 GiB");
    if (!IsFrameRate(options.fps)) Fail("(options)", fileio::Concat({"expected ", kFrameRateRule}));
    if (options.firstFrame && !std::isfinite(*options.firstFrame))
      Fail("(options)", "expected a finite first frame");
    gltf::Prepared prepared = gltf::Prepare(bytes, path);
    std::size_t dataBytes = bytes.size();
    for (const auto& file : prepared.files) dataBytes += file.size;

    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(&SkipImage, nullptr);
    loader.SetFsCallbacks(gltf::Callbacks(prepared));
    tinygltf::Model model;
    std::string err, warn;
    const std::string_view document = prepared.rewritten.empty() ? bytes : prepared.rewritten;
    const auto* data = reinterpret_cast<const unsigned char*>(document.data());
    const auto size = static_cast<unsigned>(document.size());
    const bool ok =
        prepared.binary
            ? loader.LoadBinaryFromMemory(&model, &err, &warn, data, size, prepared.base)
            : loader.LoadASCIIFromString(&model, &err, &warn, document.data(), size, prepared.base);
    if (!ok) {
      while (!err.empty() && err.back() == '\n') err.pop_back();
      Fail("(document)", "not valid glTF: " + err);
    }
    if (prepared.afterLoad) throw *prepared.afterLoad;
    Importer importer(model, prepared, options, dataBytes);
    result.scene = importer.Import();
    result.warnings = std::move(importer.warnings);
    result.animations = std::move(importer.animations);
    result.inputs = prepared.paths;
  } catch (const Fault& fault) {
    result.scene.reset();
    result.error = path + ": " + fault.path + ": " + fault.what;
  } catch (const std::bad_alloc&) {
    result.scene.reset();
    result.error = path + ": (document): not enough memory to import this file";
  } catch (const std::exception& e) {
    result.scene.reset();
    result.error = path + ": (document): " + e.what();
  }
  if (!result) result.warnings.clear();
  return result;
}

}  // namespace

ImportResult ImportGltfBytes(const std::string& bytes, const std::string& path,
                             const GltfOptions& options) {
  return Import(bytes, path, options);
}

ImportResult ImportGltfFile(const std::string& path, const GltfOptions& options) {
  const Result<gltf::Bytes> bytes = gltf::ReadRegularFile(path, kMaxGltfBytes);
  if (!bytes) return {nullptr, path + ": cannot read: " + bytes.error, {}, {}, {}};
  return Twice([&] { return Import(bytes->View(), path, options); });
}

}  // namespace tq::scene
