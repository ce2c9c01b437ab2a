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
#include "host/scene/Geometry.h"
#include "host/scene/Plate.h"
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
  // A value held as it is kept (a constant, most channels; an end key held
  // before or after the keys) is copied from where it is kept: made in
  // registers one float at a time, the answer was stored a float at a time
  // and loaded back two at a time, and waited on the stores.
  if (const T* held = channel_.Held(t)) {
    lastValue_ = *held;
    return *held;
  }
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
  T* Own(Args&&... args);  // (Scene.cpp)
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
