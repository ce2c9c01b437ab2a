// The glTF importer's passes over one file, each in its own source file:
// GltfCheck.cpp (every index and accessor checked, the scene's nodes in
// order), GltfAccessors.cpp (an accessor's elements read in place),
// GltfAnimation.cpp (the animations chosen, sampled and baked into keys),
// GltfObjects.cpp (cameras, models, points, patches and bones made), with
// GltfTransform.cpp (affine transforms in double). GltfImport.cpp runs them
// in order. Internal to the scene library.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <tiny_gltf.h>

#include "host/scene/Channel.h"
#include "host/scene/GltfFiles.h"
#include "host/scene/GltfImport.h"
#include "host/scene/Scene.h"
#include "host/scene/Time.h"
#include "host/scene/UniqueNames.h"

namespace tq::scene::gltf {

// --- double-precision affine transforms ---------------------------------------
// The host's math library is single precision; a hierarchy is composed in
// double and rounded to float once, in the decomposition.

using Mat4 = std::array<double, 16>;  // column-major, as glTF writes matrices
using Vec3 = std::array<double, 3>;
using Quat = std::array<double, 4>;  // x, y, z, w

constexpr Mat4 kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

struct Decomposed {
  Vec3 translate;
  Quat rotate;
  Vec3 scale;
  bool sheared = false;  // the columns are not at right angles
};

Mat4 Multiply(const Mat4& a, const Mat4& b);

// translate * rotate * scale, q of unit length.
Mat4 Compose(const Vec3& t, const Quat& q, const Vec3& s);

// The rotation of an orthonormal matrix (columns c0, c1, c2), Shepperd's way.
Quat FromRotation(const double c[3][3]);

// Translation; scale from the column lengths, the x one negative when the
// determinant is; the rotation of the normalised columns.
Decomposed Decompose(const Mat4& m);

[[noreturn, gnu::cold, gnu::noinline]] void BeyondSinglePrecision(const char* list, int index);

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
std::array<double, 4> Sample(const Track& track, double seconds);

// The host's film is 35 units wide: the focal length of a vertical field of
// view at an aspect ratio.
double FocalLength(double aspect, double yfov);

// --- the importer ----------------------------------------------------------------

// The baked transform of one object: constant, or keys.
struct Baked {
  bool animated = false;
  Decomposed constant;
  std::vector<Key<Vector>> t, s;
  std::vector<Key<Quaternion>> r;
  Vec3 pointScale = {1, 1, 1};  // a model's: its world scale at the first frame
};

// One file's import: the passes in order, sharing what each found.
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
    if (unsaid_ > 0)
      warnings.push_back(std::to_string(unsaid_) + " more warning" + (unsaid_ == 1 ? "" : "s") +
                         " like these, not shown");
    if (scene_->Chor()->GetChildCamera() == nullptr) warnings.push_back(kGltfNoCamera);
    return std::move(scene_);
  }

  // At most kShownWarnings; those after them are counted, not kept (a file
  // of a million animated channels would say a million lines).
  static constexpr std::size_t kShownWarnings = 100;
  void Warn(std::string text) {
    if (warnings.size() < kShownWarnings) {
      warnings.push_back(std::move(text));
    } else {
      ++unsaid_;
    }
  }
  std::vector<std::string> warnings;
  std::vector<GltfAnimation> animations;

 private:
  std::size_t unsaid_ = 0;
  static bool In(int index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
  }
  static void Index(int index, std::size_t count, const std::string& where, const char* what,
                    bool optional = true) {
    if ((optional && index == -1) || In(index, count)) return;
    ThrowFault(where, std::string("expected ") + what + " index from 0 to " +
                          std::to_string(static_cast<long long>(count) - 1));
  }
  static void Finite(const std::vector<double>& v, std::size_t size, const std::string& where) {
    if (v.empty()) return;
    if (v.size() != size) ThrowFault(where, "expected " + std::to_string(size) + " numbers");
    for (const double x : v) {
      if (!std::isfinite(x)) ThrowFault(where, "expected finite numbers");
    }
  }

  // --- one pass over every index and every accessor's data -----------------

  void Validate();

  void ValidateNode(int i);
  void ValidateAnimation(int a);

  static std::size_t ComponentSize(int type);

  // count elements of size bytes, stride apart from offset, within a view.
  void Within(int view, std::size_t offset, std::size_t stride, std::size_t count, std::size_t size,
              const std::string& where) const;

  void ValidateAccessor(int i);

  // --- the scene's nodes ---------------------------------------------------------

  std::vector<int> order_, parent_, depth_;

  // The default scene's nodes, depth first in document order, parents
  // before children. A node reached twice (a cycle or a node under two
  // parents) is refused.
  void SceneNodes();

  // --- animations -------------------------------------------------------------

  std::vector<Track> tracks_;
  std::vector<std::array<int, 3>> nodeTracks_;  // by node: translation, rotation, scale
  std::map<int, int> yfovTracks_;               // by camera
  double startSeconds_ = 0, endSeconds_ = 0;
  int longest_ = -1;  // the chosen animation of the longest range
  bool animated_ = false;

  std::string AnimationName(int a) const;

  // Every animation's range, for the listing.
  void ListAnimations();

  std::vector<int> ChosenAnimations() const;

  // What a channel animates: a node's property, a camera's yfov, or nothing
  // (node -1) for what plays no part in a track.
  std::pair<int, std::optional<Path>> Target(int a, int c, const tinygltf::AnimationChannel& ch,
                                             const std::string& where);

  void ChooseAnimations();

  // A channel's sampler: its key times (increasing) and values.
  Track ReadTrack(const tinygltf::Animation& anim, int a, const tinygltf::AnimationChannel& ch,
                  Path path, const std::string& where) const;

  int FirstFrame() const { return static_cast<int>(std::floor(startSeconds_ * options_.fps)); }
  int LastFrame() const { return static_cast<int>(std::ceil(endSeconds_ * options_.fps)); }

  static constexpr double kMaxAnimationFrames = 1000000;
  static constexpr double kMaxBakedKeys = 2000000;

  // The frames sampled must be countable, and their times ticks.
  void CheckRange() const;

  // --- baking ---------------------------------------------------------------------

  std::vector<Baked> baked_;             // by node
  std::map<int, Channel<float>> focal_;  // animated focal lengths, by camera
  std::vector<char> animatedNode_;       // it or an ancestor animated
  std::vector<Mat4> world_;              // every node's, at the time last sampled
  std::vector<int> skinRoot_;            // by node: the root joint a skinned mesh follows, or -1
  std::vector<Mat4> skinBind_;           // by node: that joint's inverse bind matrix

  // The tick times sampled: the run's frames over the range, and both sides
  // of every STEP key, so that a step stays a step between frames.
  std::vector<Time> SampleTicks() const;

  // The node's local matrix at seconds (its own TRS or matrix, animated
  // properties sampled).
  Mat4 Local(int node, double seconds) const;

  // World matrices from parents', parents first; animated nodes alone when
  // again is set.
  void Worlds(double seconds, bool again);

  // A skinned mesh follows its skin's root joint (glTF ignores the mesh
  // node's own transform): the joint's world matrix times its inverse bind
  // matrix.
  void FindSkinRoots();

  Mat4 ObjectMatrix(int node) const;
  bool ObjectAnimated(int node) const;

  // Every object's transform baked: its value at the first tick, and keys at
  // every tick for the animated ones; the cameras' animated focal lengths.
  void Bake();
  // Which nodes move: an animated property of their own or of a parent.
  void MarkAnimated();
  // The animated objects, refused when their keys would be too many.
  std::vector<int> MovingObjects(std::size_t keys) const;
  // Each object's constant transform, at the first tick (Worlds' last).
  void BakeConstants(Time first);
  // The moving objects' keys, a tick at a time.
  void BakeKeys(const std::vector<Time>& ticks, const std::vector<int>& moving);
  void BakeFocalLengths(const std::vector<Time>& ticks);

  std::set<int> sheared_;
  void Sheared(int node, Time tick);

  std::string NodeName(int node) const;

  // --- accessors --------------------------------------------------------------

  const unsigned char* Element(int view, std::size_t offset, std::size_t stride,
                               std::size_t i) const;

  // A normalized integer as glTF reads it.
  static double Normalized(const unsigned char* p, int type);

  // An accessor of width components an element: 32-bit floats, or with
  // normalized set normalized integers of 8 or 16 bits too; sparse values
  // applied. Bounds were checked by Validate.
  std::vector<double> Numbers(int index, int width, bool normalized) const;

  [[noreturn, gnu::cold, gnu::noinline]] static void NotFinite(const std::string& at) {
    ThrowFault(at, "expected finite numbers");
  }

  // Three 32-bit floats read in place, refused (naming at) when one is not
  // finite or beyond 3.4e38.
  static void FloatTriple(const unsigned char* p, double xyz[3], const std::string& at);

  // Each element in turn, visit(i, values), read in place: nothing the size
  // of the accessor is made.
  template <class Visit>
  void ForEachElement(int index, int width, bool normalized, Visit&& visit) const;
  // Whether an accessor's elements are floats (else normalized integers),
  // refusing other types and a width other than width.
  static bool ElementsAreFloats(const tinygltf::Accessor& a, const std::string& at, int width,
                                bool normalized);
  // A sparse accessor's values by element, (element, value) in element
  // order, the last of a repeated index winning; none when not sparse.
  std::vector<std::pair<std::size_t, std::size_t>> SparseValues(const tinygltf::Accessor& a,
                                                                const std::string& at) const;

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
  UnsignedList Unsigneds(int view, std::size_t offset, int componentType, std::size_t count) const;
  std::vector<std::size_t> Indices(int view, std::size_t offset, int componentType,
                                   std::size_t count) const;

  // A primitive's vertex indices: its index accessor's, or none.
  UnsignedList PrimitiveIndices(const tinygltf::Primitive& p, std::size_t vertices) const;

  std::vector<double> InverseBinds(int skinIndex) const;

  // --- objects -----------------------------------------------------------------

  UniqueNames usedNames_;

  // The loader's rules for names: not empty, no control characters, at most
  // 1024 bytes (cut at a UTF-8 character's start), unique ("name.2", ...).
  static std::string Clean(std::string name, const std::string& fallback);

  void AddObject(int node);

  static double Aspect(const tinygltf::PerspectiveCamera& p) { return p.aspectRatio; }

  // A focal length the scene file holds: a float above 0.
  float Focal(double aspect, double yfov, const std::string& at) const;

  int Height(double aspect, const std::string& at) const;

  HBone* AddCamera(const std::string& name, int index);

  HBone* AddModel(const std::string& name, int node);

  // A primitive's positions as the model's next points, scaled; answers
  // their sum, added up in double in order (the group's centre). Float
  // triples are read in place, a block of points at a time, by TightPoints;
  // a point it stops at (near the range's edge or beyond it) is read the
  // exact way, refused or kept. Any other accessor goes through
  // ForEachElement (which refuses what is not float VEC3).
  std::array<double, 3> AddPositions(HModelCache* cache, int index, int mesh,
                                     const Vec3& scale) const;

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
  static float ScaledBound(double scale);

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
                                                   std::array<double, 3>& sum);

  // A primitive's triangles as patches [a, b, c, c] of the points from
  // base: its vertices by indices (or 0, 1, 2, ... without), read as
  // triangles, a strip or a fan (other modes make none).
  void AddTriangles(HModelCache* cache, int mode, std::size_t base, const UnsignedList* indices,
                    std::size_t vertices) const;

  // The skin's joints as bones, nested as the joint nodes are; each pivot
  // the joint's bind position in the mesh's space, scaled as its points.
  void AddBones(HModel* model, int skinIndex, const Vec3& scale);

  // The translation of the inverse of an inverse bind matrix (column-major),
  // by the host's inverse.
  static Vector BindPosition(const double* m, const std::string& where);

  const tinygltf::Model& m_;
  const gltf::Prepared& prepared_;
  std::vector<gltf::Span> buffers_;  // by buffer index
  const GltfOptions& options_;
  const std::size_t dataBytes_;
  std::unique_ptr<Scene> scene_;
};

}  // namespace tq::scene::gltf
