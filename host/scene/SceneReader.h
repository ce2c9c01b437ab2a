// The scene file's reader: a scene made from the walk through its JSON,
// the document in Loader.cpp, objects and cameras in LoaderObjects.cpp,
// models (geometry, groups, bones) in LoaderModels.cpp, and channels and
// their values here and in LoaderChannels.cpp. For the scene reader only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "host/scene/JsonWalk.h"
#include "host/scene/NameSet.h"
#include "host/scene/Scene.h"
#include "host/scene/Time.h"

namespace tq::scene::loading {

class Reader : public JsonWalk {
 public:
  explicit Reader(std::string_view text) : JsonWalk(text) {}

  std::unique_ptr<Scene> Read(od::document& doc);

 private:
  // --- channels -----------------------------------------------------------

  Time Ticks(double frame) {
    const auto t = FramesToTicks(frame, fps_);
    if (!t) Reject("expected a frame whose tick time fits 32 bits");
    return *t;
  }

  float ReadValue(od::value& v, float*) { return Float(v); }
  Vector ReadValue(od::value& v, Vector*) { return ReadVector(v); }
  Quaternion ReadValue(od::value& v, Quaternion*) { return ReadRotation(v); }

  // A channel's value; with positive, a float must be above 0 (a focal length).
  template <class T>
  T ReadChannelValue(od::value& v, bool positive) {
    const T value = ReadValue(v, static_cast<T*>(nullptr));
    if constexpr (std::is_same_v<T, float>) {
      if (positive && !(value > 0.0f)) Reject("expected a number above 0");
    }
    return value;
  }

  // A constant, or {"interpolation": ..., "keys": [[frame, value], ...]}.
  template <class T>
  Channel<T> ReadChannel(od::value& v, bool positive = false) {
    if (TypeOf(v) != json_type::object) return Channel<T>(ReadChannelValue<T>(v, positive));
    od::object o;
    Check(v.get_object().get(o));
    Interpolation mode = Interpolation::kLinear;
    Keys<T> keys;
    bool hasKeys = false;
    const char* where = where_;
    unknownKey_ = {};
    try {
      Fields(o, {"interpolation", "keys"}, [&](std::string_view key, od::value& value) {
        if (key == "interpolation") {
          mode = ReadInterpolation(value);
        } else {
          hasKeys = true;
          keys = ReadKeys<T>(value, positive);
        }
      });
    } catch (const Fault& fault) {
      // An object whose walk stops at an "euler" field is a constant
      // rotation, read (or refused) as one from its start. (Looking for the
      // field first would pass over every key twice; a channel refused
      // before the walk reaches such a field is refused for what stopped it.)
      if (unknownKey_ != "euler" || fault.path != PathText("euler")) throw;
      Check(o.reset().error());
      where_ = where;
      if constexpr (std::is_same_v<T, Quaternion>) {
        return Channel<T>(ReadRotation(v));
      } else {
        return Channel<T>(ReadChannelValue<T>(v, positive));
      }
    }
    if (!hasKeys) Reject(PathText("keys"), "missing");
    return Channel<T>(mode, std::move(keys.times), std::move(keys.values));
  }

  // A channel's keys: their times in order and their values.
  template <class T>
  struct Keys {
    std::vector<Time> times;
    std::vector<T> values;
  };

  template <class T>
  Keys<T> ReadKeys(od::value& v, bool positive) {
    od::array a = Array(v, "expected a non-empty array of keys");
    Keys<T> keys;
    double lastFrame = 0.0;
    const std::size_t n = Elements(a, [&](od::value& k, std::size_t i) {
      od::array pair = Array(k, "expected a key [frame, value]");
      std::size_t parts = 0;
      Elements(pair, [&](od::value& part, std::size_t j) {
        parts = j + 1;
        if (j == 0) {
          const double frame = Number(part);
          const Time t = Ticks(frame);
          if (i > 0 && !(frame > lastFrame && t > keys.times.back())) {
            Reject("expected a frame later than the previous key's (" +
                   ShortestFrameText(lastFrame) + "), at least one tick later");
          }
          lastFrame = frame;
          keys.times.push_back(t);
          keys.values.push_back(T{});
        } else if (j == 1) {
          keys.values.back() = ReadChannelValue<T>(part, positive);
        }
      });
      if (parts != 2) Reject("expected a key [frame, value]");
    });
    if (n == 0) Reject("expected a non-empty array of keys");
    // Grown by doubling as read (counting them first would pass over every
    // key twice), kept at their size.
    keys.times.shrink_to_fit();
    keys.values.shrink_to_fit();
    return keys;
  }

  Vector ReadVector(od::value& v);

  Quaternion ReadRotation(od::value& v);

  Interpolation ReadInterpolation(od::value& v);

  // A frame as the loader names it in messages: the shortest text that reads
  // back, always with a decimal part.
  static std::string ShortestFrameText(double frame);

  // --- the document (Loader.cpp) ------------------------------------------

  void ReadTop(od::object& root);

  void ReadVersion(od::value& v);

  void ReadProject(od::object& project);

  void ReadChor(od::object& chor);

  // --- objects (LoaderObjects.cpp) ----------------------------------------

  void ReadObject(od::value& value);

  // The three transform channels, read wherever they stand.
  struct Transform {
    Channel<Vector> translate{Vector(0, 0, 0)};
    Channel<Quaternion> rotate{Quaternion()};
    Channel<Vector> scale{Vector(1, 1, 1)};

    bool Read(Reader& r, std::string_view key, od::value& v) {
      if (key == "translate") {
        translate = r.ReadChannel<Vector>(v);
      } else if (key == "rotate") {
        rotate = r.ReadChannel<Quaternion>(v);
      } else if (key == "scale") {
        scale = r.ReadChannel<Vector>(v);
      } else {
        return false;
      }
      return true;
    }
    void Apply(Scene& scene, HBone* object) {
      scene.SetTransform(object, std::move(translate), std::move(rotate), std::move(scale));
    }
  };

  HBone* ReadCamera(od::object& o, const std::string& name);

  // {"model": "brown", "k1": ..., "k2": ..., "p1": ..., "p2": ..., "k3": ...}:
  // the coefficients each optional (0).
  void ReadDistortion(od::value& value, HPlate& plate);

  void ReadOutput(od::value& value, HCamera* camera);

  void ReadProperties(od::value& value, HTreeObject* owner);

  // --- models (LoaderModels.cpp) ------------------------------------------

  HBone* ReadModel(od::object& o, const std::string& name);

  std::size_t PointIndex(od::value& v, std::size_t count);

  void ReadPatches(od::value& value, HModelCache* cache, std::size_t corners);

  void ReadHeads(od::value& value, HModelCache* cache);

  // Each chain resolves to its end, every point once: a walk stops at a
  // point already resolved, and a walk that meets itself is a cycle.
  void ResolveHeads(const std::vector<std::size_t>& next, HModelCache* cache);

  void ReadGroups(od::value& value, HModel* model);

  // One group, added to the scene; answers its name as the scene keeps it.
  // name, hasName and where (its place in the text) are set once it is read.
  std::string_view ReadGroup(od::value& element, const HModelCache* cache,
                             HGroupContainer* container, std::string& name, bool& hasName,
                             const char*& where);

  // The path of an element's field: the array at depth (path_'s length
  // there), its element index, its key.
  std::string ElementPath(std::size_t depth, std::size_t index, std::string_view key);

  void ReadBones(od::value& value, HModel* model);

  void ReadBone(od::value& value, HBoneContainer* container, HBone* parent, NameSet& boneNames);

  float fps_ = 0.0f;
  std::string projectName_ = "Project";
  Time projectTime_ = 0;
  std::unique_ptr<Scene> scene_;
  NameSet names_;
};

}  // namespace tq::scene::loading
