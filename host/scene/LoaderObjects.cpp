// The scene file's objects: each object's kind and transform, cameras with
// their lens, plate and output options, and the properties of an object.
#include <cctype>

#include "host/scene/SceneReader.h"

namespace tq::scene::loading {

void Reader::ReadObject(od::value& value) {
  od::object o = Object(value, "expected an object");
  od::value v;
  if (!Lookup(o, "type", v)) Reject(PathText("type"), "missing");
  std::string_view type;
  {
    Enter at(*this, "type");
    if (TypeOf(v) == json_type::string) type = Text(v);
  }
  const std::string kind(type);
  if (!Lookup(o, "name", v)) Reject(PathText("name"), "missing");
  std::string name;
  {
    Enter at(*this, "name");
    name = Name(v);
    if (names_.count(name) != 0) {
      // Quoted as a JSON string would have it.
      std::string quoted;
      for (const char c : name) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
      }
      Reject("expected a name not used before (\"" + quoted + "\" is)");
    }
  }
  Check(o.reset().error());
  if (kind == "folder") {
    Fields(o, {"type", "name"}, [](std::string_view, od::value&) {});
    names_.insert(scene_->AddFolder(name)->GetName());
    return;
  }
  HBone* object = nullptr;
  if (kind == "camera") {
    object = ReadCamera(o, name);
  } else if (kind == "model") {
    object = ReadModel(o, name);
  } else if (kind == "light" || kind == "null") {
    object = scene_->AddObject(name, kind == "light" ? ObjectType::kLight : ObjectType::kNull);
    Transform transform;
    Fields(o, {"type", "name", "translate", "rotate", "scale"},
           [&](std::string_view key, od::value& v2) { transform.Read(*this, key, v2); });
    transform.Apply(*scene_, object);
  } else {
    Enter at(*this, "type");
    Reject("expected \"model\", \"camera\", \"light\", \"null\" or \"folder\"");
  }
  names_.insert(object->GetName());
}

HBone* Reader::ReadCamera(od::object& o, const std::string& name) {
  HCamera* camera = scene_->AddCamera(name);
  Transform transform;
  od::value v;
  // The output options come before the free properties, whatever the file's order.
  if (Lookup(o, "output", v)) {
    Enter at(*this, "output");
    ReadOutput(v, camera);
  }
  Check(o.reset().error());
  HPlate plate;
  Fields(o,
         {"type", "name", "translate", "rotate", "scale", "focalLength", "output", "properties",
          "filmOffset", "pixelAspect", "distortion"},
         [&](std::string_view key, od::value& value) {
           if (transform.Read(*this, key, value)) return;
           if (key == "focalLength")
             scene_->SetFocalLength(camera, ReadChannel<float>(value, true));
           if (key == "properties") ReadProperties(value, camera);
           if (key == "filmOffset") {
             od::array pair = Array(value, "expected [x, y]");
             double* xy[] = {&plate.offsetX, &plate.offsetY};
             if (Elements(pair, [&](od::value& v, std::size_t i) {
                   if (i < 2) *xy[i] = Number(v);
                 }) != 2)
               Reject("expected [x, y]");
           }
           if (key == "pixelAspect") plate.pixelAspect = Number(value);
           if (key == "distortion") ReadDistortion(value, plate);
           // Each field as it is read, so that the refusal names it.
           if (const std::string why = plate.Unreal(); !why.empty()) Reject("expected " + why);
         });
  camera->SetPlate(plate);
  transform.Apply(*scene_, camera);
  return camera;
}

// {"model": "brown", "k1": ..., "k2": ..., "p1": ..., "p2": ..., "k3": ...}:
// the coefficients each optional (0).
void Reader::ReadDistortion(od::value& value, HPlate& plate) {
  od::object d = Object(value, "expected an object");
  bool model = false;
  Fields(d, {"model", "k1", "k2", "p1", "p2", "k3"}, [&](std::string_view key, od::value& v) {
    if (key == "model") {
      // Named as the file writes it, escapes and all.
      std::string_view written = v.raw_json_token();
      while (!written.empty() && std::isspace(static_cast<unsigned char>(written.back())))
        written.remove_suffix(1);
      if (String(v, "expected a model's name") != "brown")
        Reject("the lens model " + std::string(written) + " is not known; \"brown\" is");
      model = true;
    }
    for (const auto& [name, coefficient] : {std::pair{"k1", &plate.k1},
                                            {"k2", &plate.k2},
                                            {"p1", &plate.p1},
                                            {"p2", &plate.p2},
                                            {"k3", &plate.k3}})
      if (key == name) *coefficient = Number(v);
  });
  if (!model) Reject(PathText("model"), "missing");
}

void Reader::ReadOutput(od::value& value, HCamera* camera) {
  od::object output = Object(value, "expected an object");
  std::optional<int> size[2];
  std::optional<Time> range[2];
  Fields(output, {"width", "height", "startFrame", "endFrame"},
         [&](std::string_view key, od::value& v) {
           if (key == "width") size[0] = Integer(v, INT32_MIN, INT32_MAX);
           if (key == "height") size[1] = Integer(v, INT32_MIN, INT32_MAX);
           if (key == "startFrame") range[0] = Ticks(Number(v));
           if (key == "endFrame") range[1] = Ticks(Number(v));
         });
  HProperty* options = scene_->AddProperty(camera, "OutputOptions", HProperty::Kind::kGroup);
  if (size[0] || size[1]) {
    HProperty* resolution = scene_->AddProperty(options, "Resolution", HProperty::Kind::kGroup);
    if (size[0]) scene_->AddProperty(resolution, "Width", HProperty::Kind::kInt, *size[0]);
    if (size[1]) scene_->AddProperty(resolution, "Height", HProperty::Kind::kInt, *size[1]);
  }
  if (range[0] || range[1]) {
    HProperty* r = scene_->AddProperty(options, "Range", HProperty::Kind::kGroup);
    if (range[0]) scene_->AddProperty(r, "StartFrame", HProperty::Kind::kTime, *range[0]);
    if (range[1]) scene_->AddProperty(r, "EndFrame", HProperty::Kind::kTime, *range[1]);
  }
}

void Reader::ReadProperties(od::value& value, HTreeObject* owner) {
  od::array list = Array(value, "expected an array of properties");
  Elements(list, [&](od::value& element, std::size_t) {
    od::object p = Object(element, "expected a property object");
    std::string name;
    std::optional<int> integer;
    std::optional<Time> time;
    bool hasName = false;
    Fields(p, {"name", "int", "time", "children"}, [&](std::string_view key, od::value& v) {
      if (key == "name") {
        name = Name(v);
        hasName = true;
      }
      if (key == "int") integer = Integer(v, INT32_MIN, INT32_MAX);
      if (key == "time") time = Ticks(Number(v));
    });
    if (!hasName) Reject(PathText("name"), "missing");
    if (integer && time) Reject("expected \"int\" or \"time\", not both");
    HProperty* property = integer
                              ? scene_->AddProperty(owner, name, HProperty::Kind::kInt, *integer)
                          : time ? scene_->AddProperty(owner, name, HProperty::Kind::kTime, *time)
                                 : scene_->AddProperty(owner, name, HProperty::Kind::kGroup);
    // Children after their parent, in file order.
    od::value children;
    Check(p.reset().error());
    if (Lookup(p, "children", children)) {
      Enter at(*this, "children");
      ReadProperties(children, property);
    }
  });
}

}  // namespace tq::scene::loading
