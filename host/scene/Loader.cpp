#include "host/scene/Loader.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include <nlohmann/json.hpp>

namespace tq::scene {
namespace {

using json = nlohmann::json;

struct Fault {
  std::string path;
  std::string what;
};

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw Fault{path, what};
}

std::string Index(const std::string& path, std::size_t i) {
  return path + "[" + std::to_string(i) + "]";
}
std::string Field(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}

// The deepest nesting of arrays and objects, found before parsing so that a
// hostile file cannot drive the parser or the tree deep.
void CheckNesting(const std::string& text) {
  int depth = 0;
  int line = 1;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') ++line;
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) {
        Fail("(document)", "nesting deeper than " + std::to_string(kMaxNesting) +
                               " levels at line " + std::to_string(line));
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
}

// Builds the document as the library's own parser does, and refuses a key
// given twice in one object (which would otherwise keep the last silently).
// Knows where it is only to name the place of such a key.
class StrictBuilder {
 public:
  using Dom = nlohmann::detail::json_sax_dom_parser<json>;
  explicit StrictBuilder(json& doc) : dom_(doc, true) {}

  bool null() { return Value(), dom_.null(); }
  bool boolean(bool v) { return Value(), dom_.boolean(v); }
  bool number_integer(json::number_integer_t v) { return Value(), dom_.number_integer(v); }
  bool number_unsigned(json::number_unsigned_t v) { return Value(), dom_.number_unsigned(v); }
  bool number_float(json::number_float_t v, const json::string_t& s) {
    return Value(), dom_.number_float(v, s);
  }
  bool string(json::string_t& v) { return Value(), dom_.string(v); }
  bool binary(json::binary_t& v) { return Value(), dom_.binary(v); }
  bool start_object(std::size_t n) {
    Value();
    levels_.push_back({true, 0, {}, {}});
    return dom_.start_object(n);
  }
  bool key(json::string_t& k) {
    Level& level = levels_.back();
    level.key = k;
    if (!level.keys.insert(k).second) Fail(Path(), "expected each key once in an object");
    return dom_.key(k);
  }
  bool end_object() {
    levels_.pop_back();
    return dom_.end_object();
  }
  bool start_array(std::size_t n) {
    Value();
    levels_.push_back({false, 0, {}, {}});
    return dom_.start_array(n);
  }
  bool end_array() {
    levels_.pop_back();
    return dom_.end_array();
  }
  bool parse_error(std::size_t position, const std::string& token,
                   const nlohmann::detail::exception& e) {
    return dom_.parse_error(position, token, e);
  }

 private:
  struct Level {
    bool object;
    std::size_t count;  // elements begun, in an array
    std::string key;    // the current key, in an object
    std::unordered_set<std::string> keys;
  };

  void Value() {
    if (!levels_.empty() && !levels_.back().object) ++levels_.back().count;
  }
  std::string Path() const {
    std::string path;
    for (const Level& level : levels_)
      path = level.object ? Field(path, level.key) : Index(path, level.count - 1);
    return path;
  }

  Dom dom_;
  std::vector<Level> levels_;
};

std::string WithoutExceptionTag(const std::string& what) {
  const auto close = what.find("] ");
  return what.rfind("[json.exception", 0) == 0 && close != std::string::npos
             ? what.substr(close + 2)
             : what;
}

class Reader {
 public:
  explicit Reader(const json& doc) : doc_(doc) {}

  std::unique_ptr<Scene> Read() {
    if (!doc_.is_object()) Fail("(document)", "expected a scene object");
    AllowKeys(doc_, "", {"format", "version", "project", "chor"});
    const json& format = Need(doc_, "", "format");
    if (!format.is_string() || format.get<std::string>() != "tq-scene") {
      Fail("format", "expected \"tq-scene\"");
    }
    const json& version = Need(doc_, "", "version");
    if (!version.is_number_integer()) Fail("version", "expected the integer 1");
    if (version.get<long long>() != 1) {
      Fail("version", "unsupported version " + version.dump() + " (this loader reads version 1)");
    }
    const json& project = NeedObject(doc_, "", "project");
    AllowKeys(project, "project", {"name", "fps", "time"});
    const std::string projectName = OptionalName(project, "project", "Project");
    const double fps = Number(Need(project, "project", "fps"), "project.fps");
    // A rate above one frame per tick cannot place its frames on ticks.
    if (!(fps > 0.0) || fps > kTicksPerSecond) {
      Fail("project.fps", "expected a positive frame rate of at most 135000");
    }
    // Every time in the file becomes ticks at the rate the project answers,
    // the one the export uses, so that keys fall on the frames they name.
    fps_ = static_cast<float>(fps);
    const json& chor = NeedObject(doc_, "", "chor");
    AllowKeys(chor, "chor", {"name", "time", "objects"});
    scene_ = std::make_unique<Scene>(projectName, fps_, OptionalName(chor, "chor", "Chor1"));
    scene_->Project()->SetTime(OptionalTime(project, "project", "time"));
    scene_->Chor()->SetTime(OptionalTime(chor, "chor", "time"));
    const json& objects = Need(chor, "chor", "objects");
    if (!objects.is_array()) Fail("chor.objects", "expected an array of objects");
    for (std::size_t i = 0; i < objects.size(); ++i)
      ReadObject(objects[i], Index("chor.objects", i));
    return std::move(scene_);
  }

 private:
  // --- fields -------------------------------------------------------------

  static void AllowKeys(const json& object, const std::string& path,
                        std::initializer_list<const char*> keys) {
    for (const auto& [key, value] : object.items()) {
      if (!key.empty() && key[0] == '_') continue;
      bool known = false;
      for (const char* k : keys) known = known || key == k;
      if (!known) {
        std::string list;
        for (const char* k : keys) list += std::string(list.empty() ? "" : ", ") + k;
        Fail(Field(path, key), "unknown key (expected one of: " + list + ")");
      }
    }
  }

  static const json& Need(const json& object, const std::string& path, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) Fail(Field(path, key), "missing");
    return *it;
  }

  static const json& NeedObject(const json& object, const std::string& path, const char* key) {
    const json& value = Need(object, path, key);
    if (!value.is_object()) Fail(Field(path, key), "expected an object");
    return value;
  }

  static double Number(const json& value, const std::string& path) {
    if (!value.is_number()) Fail(path, "expected a number");
    const double d = value.get<double>();
    if (!std::isfinite(d)) Fail(path, "expected a finite number");
    return d;
  }

  static float Float(const json& value, const std::string& path) {
    const double d = Number(value, path);
    if (std::fabs(d) > std::numeric_limits<float>::max()) {
      Fail(path, "expected a number within single precision");
    }
    return static_cast<float>(d);
  }

  static int Integer(const json& value, const std::string& path, long long low, long long high) {
    if (!value.is_number_integer()) Fail(path, "expected an integer");
    const long long v = value.is_number_unsigned() && value.get<unsigned long long>() >
                                                          static_cast<unsigned long long>(high)
                            ? high + 1
                            : value.get<long long>();
    if (v < low || v > high) {
      Fail(path, "expected an integer from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return static_cast<int>(v);
  }

  static std::string Name(const json& value, const std::string& path) {
    if (!value.is_string() || value.get_ref<const std::string&>().empty()) {
      Fail(path, "expected a non-empty name");
    }
    const std::string& name = value.get_ref<const std::string&>();
    if (name.size() > kMaxNameLength) {
      Fail(path, "expected a name of at most " + std::to_string(kMaxNameLength) + " bytes");
    }
    // A control character (U+0000 cuts a C string short) would make a name
    // show as, and match, another.
    for (const char c : name) {
      if (static_cast<unsigned char>(c) < 0x20)
        Fail(path, "expected a name without control characters (U+0000 to U+001F)");
    }
    return name;
  }

  static std::string OptionalName(const json& object, const std::string& path,
                                  const char* fallback) {
    const auto it = object.find("name");
    return it == object.end() ? fallback : Name(*it, Field(path, "name"));
  }

  Time Ticks(double frame, const std::string& path) const {
    const auto t = FramesToTicks(frame, fps_);
    if (!t) Fail(path, "expected a frame whose tick time fits 32 bits");
    return *t;
  }

  Time OptionalTime(const json& object, const std::string& path, const char* key) const {
    const auto it = object.find(key);
    if (it == object.end()) return 0;
    return Ticks(Number(*it, Field(path, key)), Field(path, key));
  }

  Vector ReadVector(const json& value, const std::string& path) const {
    if (!value.is_array() || value.size() != 3) Fail(path, "expected [x, y, z]");
    return {Float(value[0], Index(path, 0)), Float(value[1], Index(path, 1)),
            Float(value[2], Index(path, 2))};
  }

  Quaternion ReadRotation(const json& value, const std::string& path) const {
    if (value.is_object()) {
      AllowKeys(value, path, {"euler"});
      const Vector e = ReadVector(Need(value, path, "euler"), Field(path, "euler"));
      // Y(y) X(x) Z(z), degrees, the convention of the Euler decomposition.
      return YXRotateQ(e.y, e.x) * Quaternion(e.z / kDegreesPerRadianF, Vector(0, 0, 1));
    }
    if (!value.is_array() || value.size() != 4) {
      Fail(path, "expected a rotation [x, y, z, w] or {\"euler\": [x, y, z]}");
    }
    double q[4];
    double norm = 0.0;
    for (std::size_t k = 0; k < 4; ++k) {
      q[k] = Float(value[k], Index(path, k));
      norm += q[k] * q[k];
    }
    norm = std::sqrt(norm);
    if (!(norm > 0.0)) Fail(path, "expected a rotation of non-zero length");
    // Stored at unit length; a unit quaternion written in the file stays as it is.
    if (std::fabs(norm - 1.0) < 1e-7) norm = 1.0;
    return Quaternion(static_cast<float>(q[0] / norm), static_cast<float>(q[1] / norm),
                      static_cast<float>(q[2] / norm), static_cast<float>(q[3] / norm));
  }

  float ReadValue(const json& v, const std::string& p, float*) const { return Float(v, p); }
  Vector ReadValue(const json& v, const std::string& p, Vector*) const { return ReadVector(v, p); }
  Quaternion ReadValue(const json& v, const std::string& p, Quaternion*) const {
    return ReadRotation(v, p);
  }

  // A channel's value; with positive, a float must be above 0 (a focal length).
  template <class T>
  T ReadChannelValue(const json& value, const std::string& path, bool positive) const {
    const T v = ReadValue(value, path, static_cast<T*>(nullptr));
    if constexpr (std::is_same_v<T, float>) {
      if (positive && !(v > 0.0f)) Fail(path, "expected a number above 0");
    }
    return v;
  }

  template <class T>
  Channel<T> ReadChannel(const json& object, const std::string& path, const char* key,
                         const T& fallback, bool positive = false) const {
    const auto it = object.find(key);
    const std::string at = Field(path, key);
    if (it == object.end()) return Channel<T>(fallback);
    const json& value = *it;
    if (!value.is_object() || value.contains("euler")) {
      return Channel<T>(ReadChannelValue<T>(value, at, positive));
    }
    AllowKeys(value, at, {"interpolation", "keys"});
    Interpolation mode = Interpolation::kLinear;
    if (const auto m = value.find("interpolation"); m != value.end()) {
      const std::string name = m->is_string() ? m->get<std::string>() : "";
      if (name == "linear") {
        mode = Interpolation::kLinear;
      } else if (name == "step") {
        mode = Interpolation::kStep;
      } else if (name == "smooth") {
        mode = Interpolation::kSmooth;
      } else {
        Fail(Field(at, "interpolation"), "expected \"linear\", \"step\" or \"smooth\"");
      }
    }
    const json& keys = Need(value, at, "keys");
    const std::string keysPath = Field(at, "keys");
    if (!keys.is_array() || keys.empty()) Fail(keysPath, "expected a non-empty array of keys");
    std::vector<Key<T>> out;
    double lastFrame = 0.0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const std::string kp = Index(keysPath, i);
      const json& k = keys[i];
      if (!k.is_array() || k.size() != 2) Fail(kp, "expected a key [frame, value]");
      const double frame = Number(k[0], Index(kp, 0));
      const Time t = Ticks(frame, Index(kp, 0));
      if (i > 0 && !(frame > lastFrame && t > out.back().time)) {
        Fail(Index(kp, 0), "expected a frame later than the previous key's (" +
                               json(lastFrame).dump() + "), at least one tick later");
      }
      lastFrame = frame;
      out.push_back({t, ReadChannelValue<T>(k[1], Index(kp, 1), positive)});
    }
    return Channel<T>(mode, std::move(out));
  }

  // --- objects ------------------------------------------------------------

  void ReadObject(const json& o, const std::string& path) {
    if (!o.is_object()) Fail(path, "expected an object");
    const json& typeValue = Need(o, path, "type");
    const std::string type = typeValue.is_string() ? typeValue.get<std::string>() : "";
    const std::string name = Name(Need(o, path, "name"), Field(path, "name"));
    if (!names_.insert(name).second) {
      Fail(Field(path, "name"), "expected a name not used before (\"" + name + "\" is)");
    }
    if (type == "folder") {
      AllowKeys(o, path, {"type", "name"});
      scene_->AddFolder(name);
      return;
    }
    HBone* object = nullptr;
    if (type == "camera") {
      AllowKeys(
          o, path,
          {"type", "name", "translate", "rotate", "scale", "focalLength", "output", "properties"});
      HCamera* camera =
          scene_->AddCamera(name, ReadChannel<float>(o, path, "focalLength", 35.0f, true));
      ReadOutput(o, path, camera);
      object = camera;
    } else if (type == "model") {
      AllowKeys(o, path,
                {"type", "name", "translate", "rotate", "scale", "points", "heads", "patches",
                 "patches5", "groups", "bones"});
      HModel* model = scene_->AddModel(name);
      ReadGeometry(o, path, model);
      object = model;
    } else if (type == "light" || type == "null") {
      AllowKeys(o, path, {"type", "name", "translate", "rotate", "scale"});
      object = scene_->AddObject(name, type == "light" ? ObjectType::kLight : ObjectType::kNull);
    } else {
      Fail(Field(path, "type"),
           "expected \"model\", \"camera\", \"light\", \"null\" or \"folder\"");
    }
    scene_->SetTransform(object, ReadChannel<Vector>(o, path, "translate", Vector(0, 0, 0)),
                         ReadChannel<Quaternion>(o, path, "rotate", Quaternion()),
                         ReadChannel<Vector>(o, path, "scale", Vector(1, 1, 1)));
  }

  void ReadOutput(const json& o, const std::string& path, HCamera* camera) {
    if (const auto it = o.find("output"); it != o.end()) {
      const std::string at = Field(path, "output");
      if (!it->is_object()) Fail(at, "expected an object");
      AllowKeys(*it, at, {"width", "height", "startFrame", "endFrame"});
      HProperty* options = scene_->AddProperty(camera, "OutputOptions", HProperty::Kind::kGroup);
      const bool hasSize = it->contains("width") || it->contains("height");
      const bool hasRange = it->contains("startFrame") || it->contains("endFrame");
      if (hasSize) {
        HProperty* resolution = scene_->AddProperty(options, "Resolution", HProperty::Kind::kGroup);
        for (const char* key : {"width", "height"}) {
          if (!it->contains(key)) continue;
          const int v = Integer((*it)[key], Field(at, key), INT32_MIN, INT32_MAX);
          scene_->AddProperty(resolution, key[0] == 'w' ? "Width" : "Height", HProperty::Kind::kInt,
                              v);
        }
      }
      if (hasRange) {
        HProperty* range = scene_->AddProperty(options, "Range", HProperty::Kind::kGroup);
        for (const char* key : {"startFrame", "endFrame"}) {
          if (!it->contains(key)) continue;
          const Time t = Ticks(Number((*it)[key], Field(at, key)), Field(at, key));
          scene_->AddProperty(range, key[0] == 's' ? "StartFrame" : "EndFrame",
                              HProperty::Kind::kTime, t);
        }
      }
    }
    if (const auto it = o.find("properties"); it != o.end()) {
      ReadProperties(*it, Field(path, "properties"), camera);
    }
  }

  void ReadProperties(const json& list, const std::string& path, HTreeObject* owner) {
    if (!list.is_array()) Fail(path, "expected an array of properties");
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string at = Index(path, i);
      const json& p = list[i];
      if (!p.is_object()) Fail(at, "expected a property object");
      AllowKeys(p, at, {"name", "int", "time", "children"});
      const std::string name = Name(Need(p, at, "name"), Field(at, "name"));
      if (p.contains("int") && p.contains("time"))
        Fail(at, "expected \"int\" or \"time\", not both");
      HProperty* property = nullptr;
      if (p.contains("int")) {
        property = scene_->AddProperty(owner, name, HProperty::Kind::kInt,
                                       Integer(p["int"], Field(at, "int"), INT32_MIN, INT32_MAX));
      } else if (p.contains("time")) {
        property =
            scene_->AddProperty(owner, name, HProperty::Kind::kTime,
                                Ticks(Number(p["time"], Field(at, "time")), Field(at, "time")));
      } else {
        property = scene_->AddProperty(owner, name, HProperty::Kind::kGroup);
      }
      if (p.contains("children")) ReadProperties(p["children"], Field(at, "children"), property);
    }
  }

  std::size_t PointIndex(const json& v, const std::string& path, std::size_t count) const {
    if (count == 0) Fail(path, "expected a control point index, but the model has no points");
    return static_cast<std::size_t>(Integer(v, path, 0, static_cast<long long>(count) - 1));
  }

  void ReadGeometry(const json& o, const std::string& path, HModel* model) {
    HModelCache* cache = model->GetCache();
    if (const auto it = o.find("points"); it != o.end()) {
      const std::string at = Field(path, "points");
      if (!it->is_array()) Fail(at, "expected an array of [x, y, z]");
      for (std::size_t i = 0; i < it->size(); ++i)
        cache->AddPoint(ReadVector((*it)[i], Index(at, i)));
    }
    const std::size_t n = cache->PointCount();
    if (const auto it = o.find("heads"); it != o.end()) ReadHeads(*it, Field(path, "heads"), cache);
    for (const char* key : {"patches", "patches5"}) {
      const auto it = o.find(key);
      if (it == o.end()) continue;
      const std::string at = Field(path, key);
      const std::size_t corners = key[7] == '5' ? 5 : 4;
      if (!it->is_array()) Fail(at, "expected an array of patches");
      for (std::size_t i = 0; i < it->size(); ++i) {
        const json& patch = (*it)[i];
        const std::string pp = Index(at, i);
        if (!patch.is_array() || patch.size() != corners) {
          Fail(pp, "expected " + std::to_string(corners) + " control point indices");
        }
        HCP* cp[5] = {};
        for (std::size_t c = 0; c < corners; ++c)
          cp[c] = cache->Point(PointIndex(patch[c], Index(pp, c), n));
        if (corners == 4) {
          cache->AddPatch(cp[0], cp[1], cp[2], cp[3]);
        } else {
          cache->AddPatch5(cp[0], cp[1], cp[2], cp[3], cp[4]);
        }
      }
    }
    if (const auto it = o.find("groups"); it != o.end())
      ReadGroups(*it, Field(path, "groups"), model);
    if (const auto it = o.find("bones"); it != o.end()) {
      const std::string at = Field(path, "bones");
      if (!it->is_array()) Fail(at, "expected an array of bones");
      HBoneContainer* bones = scene_->AddBoneContainer(model);
      std::set<std::string> boneNames;
      for (std::size_t i = 0; i < it->size(); ++i) {
        ReadBone((*it)[i], Index(at, i), bones, nullptr, boneNames);
      }
    }
  }

  void ReadHeads(const json& heads, const std::string& at, HModelCache* cache) {
    const std::size_t n = cache->PointCount();
    if (!heads.is_object()) Fail(at, "expected an object {\"point\": head}");
    constexpr std::size_t kNone = SIZE_MAX;
    std::vector<std::size_t> next(n, kNone);
    for (const auto& [key, value] : heads.items()) {
      const std::string kp = Field(at, key);
      std::size_t point = 0;
      const bool digits = !key.empty() && key.size() < 10 &&
                          key.find_first_not_of("0123456789") == std::string::npos;
      if (digits) point = std::stoul(key);
      if (!digits || point >= n) {
        Fail(kp, "expected a key naming a control point index from 0 to " +
                     std::to_string(n == 0 ? 0 : n - 1));
      }
      const std::size_t head = PointIndex(value, kp, n);
      if (head != point) next[point] = head;  // a point that names itself is its own head
    }
    // Each chain resolves to its end, every point once: a walk stops at a
    // point already resolved, and a walk that meets itself is a cycle.
    enum : char { kOpen, kWalking, kResolved };
    std::vector<char> state(n, kOpen);
    std::vector<std::size_t> end(n);
    std::vector<std::size_t> path;
    for (std::size_t start = 0; start < n; ++start) {
      path.clear();
      std::size_t p = start;
      while (state[p] == kOpen && next[p] != kNone) {
        state[p] = kWalking;
        path.push_back(p);
        p = next[p];
      }
      if (state[p] == kWalking) {
        Fail(Field(at, std::to_string(start)), "expected a chain of heads that ends, not a cycle");
      }
      const std::size_t last = state[p] == kResolved ? end[p] : p;
      for (const std::size_t q : path) {
        state[q] = kResolved;
        end[q] = last;
        cache->Point(q)->SetHead(cache->Point(last));
      }
    }
  }

  void ReadGroups(const json& groups, const std::string& at, HModel* model) {
    if (!groups.is_array()) Fail(at, "expected an array of groups");
    HGroupContainer* container = scene_->AddGroupContainer(model);
    const HModelCache* cache = model->GetCache();
    std::set<std::string> groupNames;
    for (std::size_t i = 0; i < groups.size(); ++i) {
      const std::string gp = Index(at, i);
      const json& g = groups[i];
      if (!g.is_object()) Fail(gp, "expected a group object");
      AllowKeys(g, gp, {"name", "points", "pivot"});
      const std::string name = Name(Need(g, gp, "name"), Field(gp, "name"));
      if (!groupNames.insert(name).second)
        Fail(Field(gp, "name"), "expected a group name not used before");
      double sum[3] = {0, 0, 0};
      std::size_t count = 0;
      if (const auto pts = g.find("points"); pts != g.end()) {
        if (!pts->is_array())
          Fail(Field(gp, "points"), "expected an array of control point indices");
        for (std::size_t k = 0; k < pts->size(); ++k) {
          const std::size_t idx =
              PointIndex((*pts)[k], Index(Field(gp, "points"), k), cache->PointCount());
          const Vector p = cache->Point(idx)->GetModelPosition();
          sum[0] += p.x;
          sum[1] += p.y;
          sum[2] += p.z;
          ++count;
        }
      }
      Vector center;
      if (const auto pivot = g.find("pivot"); pivot != g.end()) {
        center = ReadVector(*pivot, Field(gp, "pivot"));
      } else if (count > 0) {
        const double c = static_cast<double>(count);
        center = Vector(static_cast<float>(sum[0] / c), static_cast<float>(sum[1] / c),
                        static_cast<float>(sum[2] / c));
      }
      scene_->AddGroup(container, name, center);
    }
  }

  void ReadBone(const json& b, const std::string& at, HBoneContainer* container, HBone* parent,
                std::set<std::string>& boneNames) {
    if (!b.is_object()) Fail(at, "expected a bone object");
    AllowKeys(b, at, {"name", "pivot", "children"});
    const std::string name = Name(Need(b, at, "name"), Field(at, "name"));
    if (!boneNames.insert(name).second)
      Fail(Field(at, "name"), "expected a bone name not used before in this model");
    Vector pivot;
    if (const auto p = b.find("pivot"); p != b.end()) pivot = ReadVector(*p, Field(at, "pivot"));
    HBone* bone = scene_->AddBone(container, parent, name, pivot);
    if (const auto c = b.find("children"); c != b.end()) {
      if (!c->is_array()) Fail(Field(at, "children"), "expected an array of bones");
      for (std::size_t i = 0; i < c->size(); ++i) {
        ReadBone((*c)[i], Index(Field(at, "children"), i), container, bone, boneNames);
      }
    }
  }

  const json& doc_;
  float fps_ = 0.0f;
  std::unique_ptr<Scene> scene_;
  std::set<std::string> names_;
};

}  // namespace

LoadResult LoadSceneText(const std::string& text, const std::string& fileName) {
  LoadResult result;
  try {
    if (text.size() > kMaxSceneBytes) {
      Fail("(document)", "expected at most " + std::to_string(kMaxSceneBytes >> 20) + " MiB");
    }
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
      Fail("(document)", "the file is empty; expected a scene object");
    }
    CheckNesting(text);
    json doc;
    try {
      StrictBuilder builder(doc);
      json::sax_parse(text, &builder);
    } catch (const json::exception& e) {
      Fail("(document)", "not valid JSON: " + WithoutExceptionTag(e.what()));
    }
    result.scene = Reader(doc).Read();
  } catch (const Fault& fault) {
    result.scene.reset();
    result.error = fileName + ": " + fault.path + ": " + fault.what;
  }
  return result;
}

LoadResult LoadSceneFile(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return {nullptr, path + ": cannot read: " + ec.message()};
  if (size > kMaxSceneBytes) {
    return {nullptr, path + ": (document): expected at most " +
                         std::to_string(kMaxSceneBytes >> 20) + " MiB, the file has " +
                         std::to_string(size) + " bytes"};
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return {nullptr, path + ": cannot read: " + std::strerror(errno)};
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return LoadSceneText(buffer.str(), path);
}

}  // namespace tq::scene
