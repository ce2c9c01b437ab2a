// tqhost info --json: what a scene holds, for pipelines. The fields are
// listed in the README and kept: a field may be added, never renamed or
// dropped, and "version" counts changes that would break a reader.
#include <charconv>
#include <ostream>

#include <nlohmann/json.hpp>

#include "host/app/Formats.h"
#include "host/app/commands/InfoJson.h"
#include "host/scene/Time.h"

namespace tq::app {
namespace {

using Json = nlohmann::ordered_json;

// A frame or rate as the shortest number that is it (23.976, 10.5, 96).
Json Number(double value) {
  const std::string text = FrameText(value);
  double parsed = value;
  std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (parsed == static_cast<double>(static_cast<std::int64_t>(parsed)) && std::abs(parsed) < 9e15)
    return static_cast<std::int64_t>(parsed);
  return parsed;
}

Json Time(Time ticks, float fps) {
  return {{"ticks", ticks}, {"frame", Number(tq::scene::TicksToFramesExact(ticks, fps))}};
}

// Every whole-number and time property under owner, by its name below the
// camera's ("OutputOptions.Resolution.Width").
void Properties(Json& into, HTreeObject* owner, const std::string& prefix, float fps) {
  for (int i = 0; HProperty* p = owner->GetPropertyAt(i); ++i) {
    std::string name = p->GetFullName().Get();
    if (name.rfind(prefix, 0) == 0) name = name.substr(prefix.size());
    if (p->GetKind() == HProperty::Kind::kInt) into[name] = p->GetValue();
    if (p->GetKind() == HProperty::Kind::kTime) into[name] = Time(p->GetValue(), fps);
    Properties(into, p, prefix, fps);
  }
}

Json Camera(HCamera* c, float fps) {
  Json properties = Json::object();
  Properties(properties, c, std::string(c->GetName()) + ".", fps);
  Json camera = {{"name", c->GetName()}};
  const auto copy = [&](const char* field, const char* property, const char* key) {
    const auto it = properties.find(property);
    if (it == properties.end()) return;
    camera[field] = key == nullptr ? *it : (*it)[key];
  };
  copy("width", "OutputOptions.Resolution.Width", nullptr);
  copy("height", "OutputOptions.Resolution.Height", nullptr);
  copy("first_frame", "OutputOptions.Range.StartFrame", "frame");
  copy("last_frame", "OutputOptions.Range.EndFrame", "frame");
  camera["properties"] = std::move(properties);
  // The plate as shot: film offset (fractions of the width), pixel aspect,
  // Brown-Conrady distortion; the identity when the camera sets none.
  const HPlate& p = c->GetPlate();
  camera["plate"] = {
      {"film_offset", {p.offsetX, p.offsetY}},
      {"pixel_aspect", p.pixelAspect},
      {"distortion", {{"k1", p.k1}, {"k2", p.k2}, {"p1", p.p1}, {"p2", p.p2}, {"k3", p.k3}}}};
  return camera;
}

Json Bones(HBone* bone) {
  Json bones = Json::array();
  for (; bone != nullptr; bone = bone->GetSiblingBone())
    bones.push_back({{"name", bone->GetName()}, {"children", Bones(bone->GetChildBone())}});
  return bones;
}

Json Object(HQuorObject* o) {
  Json object = {{"name", o->GetName()}, {"type", ObjectTypeName(o->GetObjectType())}};
  Json groups = Json::array(), bones = Json::array();
  if (o->GetObjectType() == ObjectType::kModel) {
    auto* model = static_cast<HModel*>(o);
    if (HGroupContainer* g = model->GetChildGroupContainer()) {
      for (HQuorObject* group = g->GetChildGroup(); group != nullptr; group = group->GetSibling())
        groups.push_back(group->GetName());
    }
    if (HBoneContainer* b = model->GetChildBoneContainer()) bones = Bones(b->GetChildBone());
  }
  object["groups"] = std::move(groups);
  object["bones"] = std::move(bones);
  return object;
}

}  // namespace

void WriteInfoJson(std::ostream& out, const tq::scene::Scene& scene,
                   const std::vector<tq::scene::GltfAnimation>& animations) {
  HProject* project = scene.Project();
  HChor* chor = scene.Chor();
  const float fps = project->GetFPS();
  Json info = {{"format", "tqhost-info"}, {"version", 1}, {"fps", Number(fps)}};
  info["project"] = {{"name", project->GetName()}, {"time", Time(project->GetTime(), fps)}};
  info["choreography"] = {{"name", chor->GetName()}, {"time", Time(chor->GetTime(), fps)}};
  info["cameras"] = Json::array();
  for (HCamera* c = chor->GetChildCamera(); c != nullptr; c = c->GetNextCameraInChor())
    info["cameras"].push_back(Camera(c, fps));
  info["objects"] = Json::array();
  for (HQuorObject* o = chor->GetChild(); o != nullptr; o = o->GetSibling())
    info["objects"].push_back(Object(o));
  info["animations"] = Json::array();
  for (const tq::scene::GltfAnimation& an : animations) {
    info["animations"].push_back({{"index", an.index},
                                  {"name", an.name},
                                  {"first_frame", Number(an.firstFrame)},
                                  {"last_frame", Number(an.lastFrame)}});
  }
  // Names are UTF-8 as the scene has them; a byte that is not is replaced.
  out << info.dump(1, ' ', false, Json::error_handler_t::replace) << "\n";
}

}  // namespace tq::app
