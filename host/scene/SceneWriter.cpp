#include "host/scene/SceneWriter.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "host/scene/JsonTree.h"

namespace tq::scene {
namespace {

using json = nlohmann::ordered_json;

using Tree = JsonTree<json>;

// An object with room for n members. An object is a vector of its members,
// and a member's key is const: growing, the vector copies every member, its
// value too (a copy that can run out of memory half-way), so an object that
// takes a large value is made with room for all it will hold.
json Reserved(json object, std::size_t n) {
  object.get_ref<json::object_t&>().reserve(n);
  return object;
}

// v under key in object, or at an array's end; where that fails v is freed
// by Dismantle too.
void Put(json& object, const char* key, json v) {
  Tree held(std::move(v));
  object[key] = std::move(held.value);
}
void Append(json& array, json v) {
  Tree held(std::move(v));
  array.push_back(std::move(held.value));
}

// A float as the double it is: the shortest text of that double reads back
// as the same float.
json Number(float f) {
  if (f == std::trunc(f) && std::fabs(f) < 1e15f) return static_cast<long long>(f);
  return static_cast<double>(f);
}

json Vec(const Vector& v) {
  return json::array({Number(v.x), Number(v.y), Number(v.z)});
}
json Value(float f) {
  return Number(f);
}
json Value(const Vector& v) {
  return Vec(v);
}
json Value(const Quaternion& q) {
  return json::array({Number(q.v.x), Number(q.v.y), Number(q.v.z), Number(q.w)});
}

// A tick time as frames: a whole frame when it gives the same ticks back,
// else the exact conversion (which does).
double FrameOfTicks(Time ticks, float fps) {
  const double exact = TicksToFramesExact(ticks, fps);
  const double whole = std::round(exact);
  return FramesToTicks(whole, fps) == ticks ? whole : exact;
}

class Writer {
 public:
  explicit Writer(const Scene& scene) : scene_(scene), fps_(scene.Project()->GetFPS()) {}

  json Document() {
    HProject* project = scene_.Project();
    HChor* chor = scene_.Chor();
    Tree objects(json::array());
    for (HQuorObject* o = chor->GetChild(); o != nullptr; o = o->GetSibling())
      Append(objects.value, Object(o));
    // The large values put in last, each where it is held (see Put).
    Tree document(Reserved({{"format", "tq-scene"},
                            {"version", 1},
                            {"project",
                             {{"name", project->GetName()},
                              {"fps", Number(fps_)},
                              {"time", Frame(project->GetTime())}}}},
                           4));
    Tree held(Reserved({{"name", chor->GetName()}, {"time", Frame(chor->GetTime())}}, 3));
    Put(held.value, "objects", std::move(objects.value));
    Put(document.value, "chor", std::move(held.value));
    return std::move(document.value);
  }

 private:
  json Frame(Time ticks) const {
    const double frame = FrameOfTicks(ticks, fps_);
    if (frame == std::round(frame)) return static_cast<long long>(frame);
    return frame;
  }

  template <class T>
  json ChannelJson(const Channel<T>& c) const {
    if (!c.IsAnimated()) return Value(c.Constant());
    Tree keys(json::array());
    for (std::size_t i = 0; i < c.Times().size(); ++i)
      keys.value.push_back(json::array({Frame(c.Times()[i]), Value(c.Values()[i])}));
    const char* mode = c.Mode() == Interpolation::kStep     ? "step"
                       : c.Mode() == Interpolation::kSmooth ? "smooth"
                                                            : "linear";
    Tree channel(Reserved({{"interpolation", mode}}, 2));
    Put(channel.value, "keys", std::move(keys.value));
    return std::move(channel.value);
  }

  json Object(HQuorObject* o) const {
    // Room for every member an object may have (see Reserved).
    Tree j(Reserved({{"type", ObjectTypeName(o->GetObjectType())}, {"name", o->GetName()}}, 16));
    if (o->GetObjectType() == ObjectType::kFolder) return std::move(j.value);
    auto* bone = static_cast<HBone*>(o);
    HTransformProperty* t = bone->GetTransform();
    Put(j.value, "translate", ChannelJson(t->GetTranslate()->GetChannel()));
    Put(j.value, "rotate", ChannelJson(t->GetRotate()->GetChannel()));
    Put(j.value, "scale", ChannelJson(t->GetScale()->GetChannel()));
    if (o->GetObjectType() == ObjectType::kCamera) Camera(static_cast<HCamera*>(o), j.value);
    if (o->GetObjectType() == ObjectType::kModel) Model(static_cast<HModel*>(o), j.value);
    return std::move(j.value);
  }

  void Camera(HCamera* camera, json& j) const {
    Put(j, "focalLength", ChannelJson(camera->GetFocalLength()->GetChannel()));
    json properties = json::array();
    for (int i = 0; HProperty* p = camera->GetPropertyAt(i); ++i) {
      if (std::string_view(p->GetName()) == "OutputOptions" && !j.contains("output")) {
        j["output"] = Output(p);
      } else {
        properties.push_back(Property(p));
      }
    }
    if (!properties.empty()) j["properties"] = properties;
  }

  json Output(HProperty* options) const {
    json output = json::object();
    for (int i = 0; HProperty* group = options->GetPropertyAt(i); ++i) {
      for (int k = 0; HProperty* p = group->GetPropertyAt(k); ++k) {
        const std::string_view name = p->GetName();
        if (name == "Width") output["width"] = p->GetValue();
        if (name == "Height") output["height"] = p->GetValue();
        if (name == "StartFrame") output["startFrame"] = Frame(p->GetValue());
        if (name == "EndFrame") output["endFrame"] = Frame(p->GetValue());
      }
    }
    return output;
  }

  json Property(HProperty* p) const {
    json j = {{"name", p->GetName()}};
    if (p->GetKind() == HProperty::Kind::kInt) j["int"] = p->GetValue();
    if (p->GetKind() == HProperty::Kind::kTime) j["time"] = Frame(p->GetValue());
    json children = json::array();
    for (int i = 0; HProperty* c = p->GetPropertyAt(i); ++i) children.push_back(Property(c));
    if (!children.empty()) j["children"] = children;
    return j;
  }

  void Model(HModel* model, json& j) const {
    HModelCache* cache = model->GetCache();
    std::unordered_map<const HCP*, std::size_t> index;
    Tree points(json::array()), heads(json::object());
    for (std::size_t i = 0; i < cache->PointCount(); ++i) {
      index[cache->Point(i)] = i;
      points.value.push_back(Vec(cache->Point(i)->GetModelPosition()));
    }
    for (std::size_t i = 0; i < cache->PointCount(); ++i) {
      const HCP* head = cache->Point(i)->GetHead();
      if (head != cache->Point(i)) heads.value[std::to_string(i)] = index.at(head);
    }
    if (!points.value.empty()) j["points"] = std::move(points.value);
    if (!heads.value.empty()) j["heads"] = std::move(heads.value);
    cache->FindPatches();
    Tree patches(json::array()), patches5(json::array());
    for (int i = 0; i < cache->GetPatchCount(); ++i) {
      const HPatch* p = cache->GetPatch(static_cast<unsigned>(i));
      patches.value.push_back({index.at(p->GetCP1()), index.at(p->GetCP2()), index.at(p->GetCP3()),
                               index.at(p->GetCP4())});
    }
    for (const HPatch5* p = cache->GetHeadPatch5(); p != nullptr; p = p->GetNextPatch5()) {
      patches5.value.push_back({index.at(p->GetCP1()), index.at(p->GetCP2()), index.at(p->GetCP3()),
                                index.at(p->GetCP4()), index.at(p->GetCP5())});
    }
    if (!patches.value.empty()) j["patches"] = std::move(patches.value);
    if (!patches5.value.empty()) j["patches5"] = std::move(patches5.value);
    if (HGroupContainer* groups = model->GetChildGroupContainer()) {
      Tree list(json::array());
      for (HQuorObject* g = groups->GetChildGroup(); g != nullptr; g = g->GetSibling()) {
        list.value.push_back({{"name", g->GetName()},
                              {"pivot", Vec(static_cast<HGroup*>(g)->GetMatrix().GetTranslate())}});
      }
      j["groups"] = std::move(list.value);
    }
    if (HBoneContainer* bones = model->GetChildBoneContainer()) {
      Tree list(json::array());
      for (HBone* b = bones->GetChildBone(); b != nullptr; b = b->GetSiblingBone())
        Append(list.value, Bone(b));
      j["bones"] = std::move(list.value);
    }
  }

  json Bone(HBone* bone) const {
    Tree j(Reserved({{"name", bone->GetName()}, {"pivot", Vec(bone->GetPivot())}}, 3));
    Tree children(json::array());
    for (HBone* c = bone->GetChildBone(); c != nullptr; c = c->GetSiblingBone())
      Append(children.value, Bone(c));
    if (!children.value.empty()) j.value["children"] = std::move(children.value);
    return std::move(j.value);
  }

  const Scene& scene_;
  float fps_;
};

// A value on one line; a string that is not UTF-8 with its faults replaced.
std::string Flat(const json& v) {
  return v.dump(-1, ' ', false, json::error_handler_t::replace);
}

// The length of Flat(v), or a length above limit once it is known to be
// above: a value is measured only as far as it could still fit.
std::size_t FlatLength(const json& v, std::size_t limit) {
  if (!v.is_structured()) return Flat(v).size();
  std::size_t n = 2;  // its brackets
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (n > limit) return n;
    if (it != v.begin()) ++n;                                 // ","
    if (v.is_object()) n += Flat(json(it.key())).size() + 1;  // "key":
    if (n > limit) return n;
    n += FlatLength(*it, limit - n);
  }
  return n;
}

// Compact where it reads well: a value on one line when it fits, else one
// member or element a line.
void Print(const json& v, int indent, std::string& out) {
  constexpr std::size_t kWidth = 96;
  const auto at = static_cast<std::size_t>(indent);
  const bool expand =
      v.is_structured() && FlatLength(v, at >= kWidth ? 0 : kWidth - at) + at > kWidth;
  if (!expand) {
    out += v.is_structured() ? v.dump(-1) : Flat(v);
    return;
  }
  const std::string pad(at + 2, ' ');
  out += v.is_object() ? "{\n" : "[\n";
  bool first = true;
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (!first) out += ",\n";
    first = false;
    out += pad;
    if (v.is_object()) out += json(it.key()).dump() + ": ";
    Print(*it, indent + 2, out);
  }
  out += '\n';
  out.append(at, ' ');
  out += v.is_object() ? '}' : ']';
}

}  // namespace

std::size_t SceneTextAtLeast(const Scene& scene) {
  // A number takes at least its shortest text (the writer's may be longer;
  // a zero is "0" there, whatever its sign).
  auto digits = [](double d) {
    char text[64];
    if (d == 0) return std::size_t{1};
    return static_cast<std::size_t>(std::to_chars(text, text + sizeof text, d).ptr - text);
  };
  const float fps = scene.Project()->GetFPS();
  std::size_t bytes = 0;
  // A channel's keys, "[F,V]" each: F the frame as the writer gives it (whole
  // when that gives its ticks back), V a number, "[x,y,z]" or "[x,y,z,w]".
  // Twenty keys never fit a line: each then stands on a line of its own,
  // below an object of chor.objects and its channel (12 spaces before it).
  auto keys = [&](const auto& channel) {
    const std::vector<Time>& times = channel.Times();
    const std::size_t line = times.size() >= 20 ? 13 : 0;
    for (std::size_t i = 0; i < times.size(); ++i) {
      bytes += line + 3 + digits(FrameOfTicks(times[i], fps));
      const auto& v = channel.Values()[i];
      using T = std::decay_t<decltype(v)>;
      if constexpr (std::is_same_v<T, float>) {
        bytes += digits(v);
      } else if constexpr (std::is_same_v<T, Vector>) {
        bytes += 4 + digits(v.x) + digits(v.y) + digits(v.z);
      } else {
        bytes += 5 + digits(v.v.x) + digits(v.v.y) + digits(v.v.z) + digits(v.w);
      }
    }
  };
  for (HQuorObject* o = scene.Chor()->GetChild(); o != nullptr; o = o->GetSibling()) {
    if (o->GetObjectType() == ObjectType::kFolder) continue;
    HTransformProperty* t = static_cast<HBone*>(o)->GetTransform();
    keys(t->GetTranslate()->GetChannel());
    keys(t->GetRotate()->GetChannel());
    keys(t->GetScale()->GetChannel());
    if (o->GetObjectType() == ObjectType::kCamera)
      keys(static_cast<HCamera*>(o)->GetFocalLength()->GetChannel());
    if (o->GetObjectType() != ObjectType::kModel) continue;
    HModelCache* cache = static_cast<HModel*>(o)->GetCache();
    for (std::size_t i = 0; i < cache->PointCount(); ++i) {
      const Vector v = cache->Point(i)->GetModelPosition();
      bytes += 7 + digits(v.x) + digits(v.y) + digits(v.z);  // "[x, y, z],"
    }
    cache->FindPatches();
    std::size_t fives = 0;
    for (const HPatch5* p = cache->GetHeadPatch5(); p != nullptr; p = p->GetNextPatch5()) ++fives;
    // "[0, 0, 0, 0]," and "[0, 0, 0, 0, 0]," at their shortest.
    bytes += static_cast<std::size_t>(cache->GetPatchCount()) * 13 + fives * 16;
  }
  return bytes;
}

std::string WriteSceneText(const Scene& scene) {
  std::string out;
  const Tree document(Writer(scene).Document());
  Print(document.value, 0, out);
  out += "\n";
  return out;
}

}  // namespace tq::scene
