// The host's scene library: project, choreography, objects, properties,
// channels and the geometry cache, as the plug-in sees them.
//
// One class hierarchy carries every relation the plug-in's calls imply:
//
//   HTreeObject            a named node with child properties
//   +- HProperty           a property; also read as HIntProperty/HTimeProperty
//   |  +- HFloatProperty, HVectorProperty, HRotateProperty   (channels)
//   |  +- HTransformProperty                                  (translate, rotate, scale)
//   +- HQuorObject         a scene-tree object with children and siblings
//      +- HChor, HGroupContainer, HGroup, HBoneContainer
//      +- HBone            an object with a transform
//         +- HCamera
//         +- HAnimObject   an animated object with a geometry cache
//            +- HModel
//
// Handles are plain pointers the Scene owns; they stay valid for its life.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "host/scene/Arena.h"
#include "host/scene/Channel.h"
#include "host/scene/Time.h"
#include "math/Quaternion.h"
#include "math/String.h"
#include "math/Vector.h"

struct HWND__;
using HWND = HWND__*;

// The object type codes GetObjectType() answers. Bones, groups and
// containers answer kOther.
struct ObjectType {
  enum : int { kOther = 0, kModel = 1, kCamera = 2, kLight = 3, kNull = 4, kFolder = 9 };
};
// The type's word in a scene file ("model", "camera", "light", "null",
// "folder"), "object" for any other.
const char* ObjectTypeName(int type);

class HProject;
class HChor;
class HProperty;

// The project whose scene is open, or null.
HProject* GetHProject();
// The host program's main window; null until the host program sets it.
HWND GetMainApplicationWnd();

namespace tq::scene {
void SetMainApplicationWnd(HWND window);
class Scene;
}  // namespace tq::scene

class HTreeObject {
 public:
  HTreeObject(const HTreeObject&) = delete;
  HTreeObject& operator=(const HTreeObject&) = delete;
  virtual ~HTreeObject();

  // The i-th child property from 0; null past the last (and for i < 0).
  HProperty* GetPropertyAt(int i) const;
  // The dotted full name, the owning object's name first
  // ("Camera1.OutputOptions.Resolution.Width"); the caller owns the String.
  String GetFullName() const;
  const char* GetName() const { return name_.c_str(); }

  // Building the tree (loader and tests).
  HTreeObject* Parent() const { return parent_; }
  void SetParent(HTreeObject* parent) { parent_ = parent; }
  // Lists property as this object's next child property.
  void AddProperty(HProperty* property);

 protected:
  explicit HTreeObject(std::string name) : name_(std::move(name)) {}

 private:
  friend class tq::scene::Scene;  // names the choreography once its scene is read
  std::string name_;
  HTreeObject* parent_ = nullptr;
  std::vector<HProperty*> properties_;
};

// A property. Scalar properties (integer and time) and the organising entries
// of a property tree are all HProperty: the plug-in reads a property by its
// name with the integer or the time reader whatever else it is, and both
// readers are this class's GetValue. A property that holds no scalar reads 0.
class HProperty : public HTreeObject {
 public:
  enum class Kind { kGroup, kInt, kTime, kChannel };

  HProperty(std::string name, Kind kind, int value = 0)
      : HTreeObject(std::move(name)), kind_(kind), value_(value) {}

  int GetValue() const { return value_; }
  Kind GetKind() const { return kind_; }

 private:
  Kind kind_;
  int value_;
};

using HIntProperty = HProperty;
using HTimeProperty = HProperty;

// A channel property. Every evaluation is remembered (the object's local
// matrix follows the times last asked) and, while the project logs, logged as
// "<full name> @<time>".
template <class T>
class HChannelProperty : public HProperty {
 public:
  HChannelProperty(std::string name, tq::scene::Channel<T> channel, HProject* project)
      : HProperty(std::move(name), Kind::kChannel),
        channel_(std::move(channel)),
        project_(project) {}

  T GetValue(Time t);
  // The time last asked, if any.
  std::optional<Time> LastAsked() const { return lastAsked_; }
  // The value at t without asking (not remembered, not logged): the value
  // last asked when t is that time.
  T ValueAt(Time t) const {
    return lastAsked_ && *lastAsked_ == t ? lastValue_ : channel_.Evaluate(t);
  }
  const tq::scene::Channel<T>& GetChannel() const { return channel_; }
  // Replaces the channel; nothing asked of the one before is remembered.
  void SetChannel(tq::scene::Channel<T> channel) {
    channel_ = std::move(channel);
    lastAsked_.reset();
    lastValue_ = T{};
  }

 private:
  static void Keep(float& to, float value) { to = value; }
  static void Keep(Vector& to, const Vector& value) {
    to.x = value.x;
    to.y = value.y;
    to.z = value.z;
  }
  static void Keep(Quaternion& to, const Quaternion& value) {
    Keep(to.v, value.v);
    to.w = value.w;
  }

  tq::scene::Channel<T> channel_;
  HProject* project_;
  std::optional<Time> lastAsked_;
  T lastValue_{};
};

class HFloatProperty : public HChannelProperty<float> {
  using HChannelProperty::HChannelProperty;
};
class HVectorProperty : public HChannelProperty<Vector> {
  using HChannelProperty::HChannelProperty;
};
class HRotateProperty : public HChannelProperty<Quaternion> {
  using HChannelProperty::HChannelProperty;
};

class HTransformProperty : public HProperty {
 public:
  HTransformProperty(std::string name, HVectorProperty* translate, HRotateProperty* rotate,
                     HVectorProperty* scale);
  HVectorProperty* GetTranslate() const { return translate_; }
  HRotateProperty* GetRotate() const { return rotate_; }
  HVectorProperty* GetScale() const { return scale_; }

 private:
  HVectorProperty* translate_;
  HRotateProperty* rotate_;
  HVectorProperty* scale_;
};

class HQuorObject : public HTreeObject {
 public:
  HQuorObject(std::string name, int type) : HTreeObject(std::move(name)), type_(type) {}

  HQuorObject* GetChild() const { return child_; }
  HQuorObject* GetSibling() const { return sibling_; }
  int GetObjectType() const { return type_; }

  // Appends a child at the end of this object's child list, in constant time.
  void AppendChild(HQuorObject* child);

 private:
  int type_;
  HQuorObject* child_ = nullptr;
  HQuorObject* lastChild_ = nullptr;
  HQuorObject* sibling_ = nullptr;
};

class HBone : public HQuorObject {
 public:
  HBone(std::string name, int type, HChor* chor, HTransformProperty* transform, Vector pivot = {});

  HTransformProperty* GetTransform() const { return transform_; }
  // translate * rotate * scale, each channel evaluated at the tick time last
  // asked of the object's own translate (translate) and rotate (rotate and
  // scale) channel, or at the choreography's time when none was asked yet.
  // Reading the matrix evaluates nothing and is not logged as an evaluation.
  Matrix34 GetLocalMatrix() const;
  HBone* GetChildBone() const { return childBone_; }
  HBone* GetSiblingBone() const { return siblingBone_; }
  // A model bone's pivot in model space.
  Vector GetPivot() const { return pivot_; }

  // Appends bone at the end of this bone's children, in constant time.
  void AppendChildBone(HBone* bone);
  void SetTransformProperty(HTransformProperty* transform) { transform_ = transform; }

 private:
  HChor* chor_;
  HTransformProperty* transform_;
  Vector pivot_;
  HBone* childBone_ = nullptr;
  HBone* lastChildBone_ = nullptr;
  HBone* siblingBone_ = nullptr;

  friend class HBoneContainer;
};

// How a camera's picture lies on the plate as shot. The film offset (lens
// shift) moves the lens by offsetX x the image's width to the right and
// offsetY x the width up, so a point lands that much further left and down;
// the pixel aspect is a pixel's width over its height; the distortion is
// Brown-Conrady as OpenCV defines it: k1, k2, k3 radial and p1, p2
// tangential, on camera-space slopes (x right, y down, the camera looking
// along its depth), about the principal point. The defaults are a centred
// lens, square pixels and no distortion.
struct HPlate {
  double offsetX = 0, offsetY = 0;
  double pixelAspect = 1;
  double k1 = 0, k2 = 0, p1 = 0, p2 = 0, k3 = 0;

  bool Distorts() const { return k1 != 0 || k2 != 0 || p1 != 0 || p2 != 0 || k3 != 0; }
  // True when the plate is the image as the plain projection has it.
  bool IsPlain() const { return offsetX == 0 && offsetY == 0 && pixelAspect == 1 && !Distorts(); }
  // The squared slope from the axis beyond which the radial distortion
  // turns back on itself (r (1 + k1 r^2 + k2 r^4 + k3 r^6) stops growing
  // with r): where a point would land at a wrong place that looks right.
  // Infinity for a model that never turns back.
  double FoldSlope2() const;
  // What a real camera's plate has that this one lacks ("a pixel aspect from
  // 0.01 to 100"), or empty.
  std::string Unreal() const;
};

class HCamera : public HBone {
 public:
  HCamera(std::string name, HChor* chor, HTransformProperty* transform, HFloatProperty* focal)
      : HBone(std::move(name), ObjectType::kCamera, chor, transform), focal_(focal) {}
  HCamera* GetNextCameraInChor() const { return next_; }
  HFloatProperty* GetFocalLength() const { return focal_; }
  const HPlate& GetPlate() const { return plate_; }
  void SetPlate(const HPlate& plate) { plate_ = plate; }
  void SetNextCamera(HCamera* next) { next_ = next; }

 private:
  HFloatProperty* focal_;
  HPlate plate_;
  HCamera* next_ = nullptr;
};

// A point, its head and a patch's corners name other points by their
// distance (see host/scene/Arena.h): a point and a patch take 16 bytes
// each. They are made in place in the model cache's blocks and never copied.
class alignas(16) HCP {
 public:
  explicit HCP(Vector position) : position_(position) {}
  HCP(const HCP&) = delete;
  HCP& operator=(const HCP&) = delete;
  HCP* GetHead() const { return tq::scene::ArenaAt<HCP>(this, head_); }
  Vector GetModelPosition() const { return position_; }
  void SetHead(HCP* head) { head_ = tq::scene::ArenaDistance(this, head); }
  // Moves the point (host-side editing; the plug-in only reads).
  void SetModelPosition(Vector position) { position_ = position; }

 private:
  Vector position_;
  std::int32_t head_ = 0;  // 0: its own head
};

class alignas(16) HPatch {
 public:
  HPatch(HCP* a, HCP* b, HCP* c, HCP* d)
      : cp_{tq::scene::ArenaDistance(this, a), tq::scene::ArenaDistance(this, b),
            tq::scene::ArenaDistance(this, c), tq::scene::ArenaDistance(this, d)} {}
  HPatch(const HPatch&) = delete;
  HPatch& operator=(const HPatch&) = delete;
  HCP* GetCP1() const { return tq::scene::ArenaAt<HCP>(this, cp_[0]); }
  HCP* GetCP2() const { return tq::scene::ArenaAt<HCP>(this, cp_[1]); }
  HCP* GetCP3() const { return tq::scene::ArenaAt<HCP>(this, cp_[2]); }
  HCP* GetCP4() const { return tq::scene::ArenaAt<HCP>(this, cp_[3]); }

 private:
  std::int32_t cp_[4];
};

class alignas(16) HPatch5 : public HPatch {
 public:
  HPatch5(HCP* a, HCP* b, HCP* c, HCP* d, HCP* e)
      : HPatch(a, b, c, d), cp5_(tq::scene::ArenaDistance(this, e)) {}
  HCP* GetCP5() const { return tq::scene::ArenaAt<HCP>(this, cp5_); }
  HPatch5* GetNextPatch5() const {
    return next_ == 0 ? nullptr : tq::scene::ArenaAt<HPatch5>(this, next_);
  }
  void SetNext(HPatch5* next) {
    next_ = next == nullptr ? 0 : tq::scene::ArenaDistance(this, next);
  }

 private:
  std::int32_t cp5_;
  std::int32_t next_ = 0;  // 0: none
};

static_assert(sizeof(HCP) == 16 && sizeof(HPatch) == 16);

// Values kept in blocks that never move, so that a handle stays valid as
// more are added: block b holds 2^(b + 4) values, so a model of a few points
// costs a few, a million-point one about twenty allocations (where a
// std::deque makes one every 512 bytes), and the i-th value is found with a
// bit scan. The blocks come from the geometry's stretch of address space
// (host/scene/Arena.h).
template <class T>
class Blocks {
 public:
  Blocks() = default;
  Blocks(const Blocks&) = delete;
  Blocks& operator=(const Blocks&) = delete;
  ~Blocks() {
    if constexpr (!std::is_trivially_destructible_v<T>) {
      for (std::size_t i = size_; i-- > 0;) (*this)[i].~T();
    }
    for (std::size_t b = 0; b < blocks_.size(); ++b)
      tq::scene::ArenaRelease(blocks_[b], sizeof(T) * BlockSize(b));
  }

  template <class... Args>
  T& emplace_back(Args&&... args) {
    const Where w = Find(size_);
    if (w.block == blocks_.size()) Grow();
    T* at = new (blocks_[w.block] + w.offset) T(std::forward<Args>(args)...);
    ++size_;
    return *at;
  }
  // n values appended in order, a run of neighbours at a time:
  // fill(at, first, count) makes values first to first + count - 1 (of the
  // n) at at[0] to at[count - 1]; a run counts once fill returns. For values
  // that need no destructor, so that a fill that throws leaves nothing to
  // undo (its run is not counted).
  template <class Fill>
  void AppendRuns(std::size_t n, Fill&& fill) {
    static_assert(std::is_trivially_destructible_v<T>);
    for (std::size_t i = 0; i < n;) {
      const Where w = Find(size_);
      if (w.block == blocks_.size()) Grow();
      const std::size_t count = std::min(n - i, BlockSize(w.block) - w.offset);
      fill(blocks_[w.block] + w.offset, i, count);
      size_ += count;
      i += count;
    }
  }
  // Values first, first + 1, ... in turn, each found without a lookup;
  // first and every value asked of it must exist.
  class Cursor {
   public:
    Cursor(const Blocks& blocks, std::size_t first) : blocks_(blocks) {
      const Where w = Find(first);
      Enter(w.block, w.offset);
    }
    T* Next() {
      if (at_ == end_) Enter(block_ + 1, 0);
      return at_++;
    }

   private:
    void Enter(std::size_t block, std::size_t offset) {
      block_ = block;
      at_ = blocks_.blocks_[block] + offset;
      end_ = blocks_.blocks_[block] + BlockSize(block);
    }
    const Blocks& blocks_;
    std::size_t block_ = 0;
    T* at_ = nullptr;
    T* end_ = nullptr;
  };
  T& operator[](std::size_t i) const {
    const Where w = Find(i);
    return blocks_[w.block][w.offset];
  }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T& front() const { return (*this)[0]; }
  T& back() const { return (*this)[size_ - 1]; }

 private:
  static constexpr unsigned kFirstShift = 4;
  struct Where {
    std::size_t block, offset;
  };
  static std::size_t BlockSize(std::size_t block) noexcept {
    return std::size_t{1} << (block + kFirstShift);
  }
  void Grow() {
    blocks_.reserve(blocks_.size() + 1);
    blocks_.push_back(
        static_cast<T*>(tq::scene::ArenaAllocate(sizeof(T) * BlockSize(blocks_.size()))));
  }
  static Where Find(std::size_t i) noexcept {
    const std::size_t j = i + (std::size_t{1} << kFirstShift);
    const std::size_t top = static_cast<std::size_t>(std::bit_width(j)) - 1;
    return {top - kFirstShift, j - (std::size_t{1} << top)};
  }
  std::vector<T*> blocks_;
  std::size_t size_ = 0;
};

// A model's geometry. Its patch lists are built by FindPatches: before that
// call the cache reports no patch at all. Points and patches are stored by
// value in blocks that never move, so a handle stays valid as more are added
// and a million-patch model costs close to its packed size.
class HModelCache {
 public:
  void FindPatches() { found_ = true; }
  int GetPatchCount() const { return found_ ? static_cast<int>(patches_.size()) : 0; }
  HPatch* GetPatch(unsigned int i) const;
  HPatch5* GetHeadPatch5() const {
    return found_ && !patches5_.empty() ? &patches5_.front() : nullptr;
  }

  // Building the geometry (loader and tests).
  HCP* AddPoint(Vector position);
  HCP* Point(std::size_t i) const { return &points_[i]; }
  std::size_t PointCount() const { return points_.size(); }
  void AddPatch(HCP* a, HCP* b, HCP* c, HCP* d);
  void AddPatch5(HCP* a, HCP* b, HCP* c, HCP* d, HCP* e);
  // n points and n patches appended a run of neighbours at a time (see
  // Blocks::AppendRuns): fill(at, first, count) makes each with placement
  // new.
  template <class Fill>
  void AddPoints(std::size_t n, Fill&& fill) {
    points_.AppendRuns(n, fill);
  }
  template <class Fill>
  void AddPatches(std::size_t n, Fill&& fill) {
    patches_.AppendRuns(n, fill);
  }
  // Points first, first + 1, ... in turn (each must exist), without a
  // lookup a point.
  using PointCursor = Blocks<HCP>::Cursor;
  PointCursor Points(std::size_t first) const { return PointCursor(points_, first); }

 private:
  bool found_ = false;
  // Handles to the geometry are the host's to hand out from a const cache.
  Blocks<HCP> points_;
  Blocks<HPatch> patches_;
  Blocks<HPatch5> patches5_;
};

class HAnimObject : public HBone {
 public:
  HAnimObject(std::string name, int type, HChor* chor, HTransformProperty* transform)
      : HBone(std::move(name), type, chor, transform) {}
  HModelCache* GetCache() { return &cache_; }

 private:
  HModelCache cache_;
};

class HGroup : public HQuorObject {
 public:
  HGroup(std::string name, Vector center)
      : HQuorObject(std::move(name), ObjectType::kOther), center_(center) {}
  // A pure translation to the group's pivot.
  Matrix34 GetMatrix() const;

 private:
  Vector center_;
};

class HGroupContainer : public HQuorObject {
 public:
  HGroupContainer() : HQuorObject("Groups", ObjectType::kOther) {}
  HGroup* GetChildGroup() const { return static_cast<HGroup*>(GetChild()); }
};

class HBoneContainer : public HQuorObject {
 public:
  HBoneContainer() : HQuorObject("Bones", ObjectType::kOther) {}
  HBone* GetChildBone() const { return first_; }
  // Appends a top-level bone, in constant time.
  void AppendBone(HBone* bone);

 private:
  HBone* first_ = nullptr;
  HBone* last_ = nullptr;
};

class HModel : public HAnimObject {
 public:
  HModel(std::string name, HChor* chor, HTransformProperty* transform)
      : HAnimObject(std::move(name), ObjectType::kModel, chor, transform) {}
  HGroupContainer* GetChildGroupContainer() const { return groups_; }
  HBoneContainer* GetChildBoneContainer() const { return bones_; }
  void SetContainers(HGroupContainer* groups, HBoneContainer* bones) {
    groups_ = groups;
    bones_ = bones;
  }

 private:
  HGroupContainer* groups_ = nullptr;
  HBoneContainer* bones_ = nullptr;
};

class HChor : public HQuorObject {
 public:
  HChor(std::string name, HProject* project)
      : HQuorObject(std::move(name), ObjectType::kOther), project_(project) {}
  Time GetTime() const { return time_; }
  void SetTime(Time t);
  HCamera* GetChildCamera() const { return firstCamera_; }
  void AppendCamera(HCamera* camera);

 private:
  HProject* project_;
  Time time_ = 0;
  HCamera* firstCamera_ = nullptr;
  HCamera* lastCamera_ = nullptr;
};

// The project. Redraw requests are counted and, like channel evaluations and
// time changes, appended to an event log while logging is on, so that what a
// command asked of the host can be read back.
class HProject {
 public:
  HProject(std::string name, float fps) : name_(std::move(name)), fps_(fps) {}
  float GetFPS() const { return fps_; }
  Time GetTime() const { return time_; }
  void SetTime(Time t);
  void UpdateAllViews(int hint);
  void RefreshAllTrees();

  const char* GetName() const { return name_.c_str(); }
  void SetFPS(float fps) { fps_ = fps; }
  int UpdateAllViewsCalls() const { return updateAllViews_; }
  int RefreshAllTreesCalls() const { return refreshAllTrees_; }

  void SetLogging(bool on) { logging_ = on; }
  bool Logging() const { return logging_; }
  void Log(std::string event) {
    if (!logging_) return;
    if (observer_) observer_(event);
    events_.push_back(std::move(event));
  }
  // Called with every logged event as it happens (host-side tooling, tests).
  void SetObserver(std::function<void(const std::string&)> observer) {
    observer_ = std::move(observer);
  }
  const std::vector<std::string>& Events() const { return events_; }
  void ClearEvents() { events_.clear(); }

 private:
  std::string name_;
  float fps_;
  Time time_ = 0;
  int updateAllViews_ = 0;
  int refreshAllTrees_ = 0;
  bool logging_ = false;
  std::vector<std::string> events_;
  std::function<void(const std::string&)> observer_;
};

template <class T>
T HChannelProperty<T>::GetValue(Time t) {
  if (project_ != nullptr && project_->Logging()) {
    project_->Log(std::string(GetFullName().Get()) + " @" + std::to_string(t));
  }
  // Asked again at the same time: the value it has.
  if (lastAsked_ && *lastAsked_ == t) return lastValue_;
  lastAsked_ = t;
  // Kept and answered a float at a time: built one float at a time and
  // copied as one block, the value's floats were stored and loaded back
  // wider than stored, which stalls the load.
  const T value = channel_.Evaluate(t);
  Keep(lastValue_, value);
  return value;
}

namespace tq::scene {

// Owns a project, its choreography and every object, property and patch of
// it. Creating objects through the Scene keeps every handle valid for the
// Scene's life. The current scene's project answers GetHProject().
class Scene {
 public:
  Scene(std::string projectName, float fps, std::string chorName);
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;
  ~Scene();

  HProject* Project() const { return project_.get(); }
  HChor* Chor() const { return chor_; }
  // Names the choreography (its name may come after its objects; no
  // object's name depends on it).
  void NameChor(std::string name);
  // Makes this scene's project the one GetHProject() answers.
  void MakeCurrent();

  // Building (loader and tests). Objects are appended to the choreography's
  // children in call order; cameras also to its camera list.
  HCamera* AddCamera(const std::string& name,
                     tq::scene::Channel<float> focal = tq::scene::Channel<float>(35.0f));
  HModel* AddModel(const std::string& name);
  HBone* AddObject(const std::string& name, int type);  // a light or a null
  HQuorObject* AddFolder(const std::string& name);
  HProperty* AddProperty(HTreeObject* owner, const std::string& name, HProperty::Kind kind,
                         int value = 0);
  HGroupContainer* AddGroupContainer(HModel* model);
  HGroup* AddGroup(HGroupContainer* container, const std::string& name, Vector center);
  HBoneContainer* AddBoneContainer(HModel* model);
  // A bone under parent (or at the container's top level when parent is null).
  HBone* AddBone(HBoneContainer* container, HBone* parent, const std::string& name, Vector pivot);
  // Replaces a camera's focal-length channel (in the property it has).
  void SetFocalLength(HCamera* camera, tq::scene::Channel<float> focal);
  // Replaces an object's transform channels (in the properties it has: a
  // transform read after its object was made costs no second set).
  void SetTransform(HBone* object, tq::scene::Channel<Vector> translate,
                    tq::scene::Channel<Quaternion> rotate,
                    tq::scene::Channel<Vector> scale = tq::scene::Channel<Vector>(Vector(1, 1, 1)));

  // Looks an object up by name among the choreography's children.
  HQuorObject* FindObject(const std::string& name) const;

 private:
  // Makes an object in the scene's blocks (one allocation for many objects,
  // not one each: a scene of a million small objects costs their size, and
  // loading it does not wait on the allocator); destroyed with the scene, in
  // reverse order of making.
  template <class T, class... Args>
  T* Own(Args&&... args) {
    static_assert(alignof(T) <= alignof(std::max_align_t));
    // Room for the handle before the object is placed: nothing to undo when
    // growing throws.
    if (objects_.size() == objects_.capacity()) objects_.reserve(2 * objects_.size() + 16);
    T* raw = new (Place(sizeof(T))) T(std::forward<Args>(args)...);
    objects_.push_back(raw);
    return raw;
  }
  // sizeof bytes of the current block, aligned for any object; a new block
  // when it is full.
  void* Place(std::size_t size);
  HTransformProperty* MakeTransform(HTreeObject* owner, tq::scene::Channel<Vector> translate,
                                    tq::scene::Channel<Quaternion> rotate,
                                    tq::scene::Channel<Vector> scale);
  HTransformProperty* DefaultTransform(HTreeObject* owner);
  void Adopt(HQuorObject* object);

  std::unique_ptr<HProject> project_;
  HChor* chor_ = nullptr;
  std::vector<HTreeObject*> objects_;  // in the blocks, in order of making
  std::vector<std::unique_ptr<std::byte[]>> blocks_;
  std::size_t used_ = 0;        // bytes of the last block in use
  std::size_t size_ = 0;        // the last block's bytes
  std::size_t blockBytes_ = 0;  // the bytes of every block but those of one large object
};

}  // namespace tq::scene
