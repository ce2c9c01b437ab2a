// The scene file's channel values: vectors, rotations, the interpolation of
// keys, and a frame as a message names it.
#include <charconv>
#include <optional>

#include "host/scene/SceneReader.h"

namespace tq::scene::loading {

Vector Reader::ReadVector(od::value& v) {
  od::array a = Array(v, "expected [x, y, z]");
  float c[3] = {};
  std::size_t n = 0;
  {
    Enter at(*this, std::size_t{0});
    for (auto result : a) {
      od::value e;
      Check(std::move(result).get(e));
      if (n < 3) {
        at.Index(n);
        c[n] = Float(e);
      }
      ++n;
    }
  }
  if (n != 3) Reject("expected [x, y, z]");
  return {c[0], c[1], c[2]};
}

Quaternion Reader::ReadRotation(od::value& v) {
  if (*v.raw_json_token().data() == '{') {
    where_ = v.raw_json_token().data();
    od::object o;
    Check(v.get_object().get(o));
    std::optional<Vector> e;
    Fields(o, {"euler"}, [&](std::string_view, od::value& value) { e = ReadVector(value); });
    if (!e) Reject(PathText("euler"), "missing");
    // Y(y) X(x) Z(z), degrees, the convention of the Euler decomposition.
    return YXRotateQ(e->y, e->x) * Quaternion(e->z / kDegreesPerRadianF, Vector(0, 0, 1));
  }
  const char* expected = "expected a rotation [x, y, z, w] or {\"euler\": [x, y, z]}";
  od::array a = Array(v, expected);
  double q[4] = {};
  const std::size_t n = Elements(a, [&](od::value& e, std::size_t i) {
    if (i < 4) q[i] = Float(e);
  });
  if (n != 4) Reject(expected);
  const auto unit = UnitRotation(q[0], q[1], q[2], q[3]);
  if (!unit) Reject("expected a rotation of non-zero length");
  return *unit;
}

Interpolation Reader::ReadInterpolation(od::value& v) {
  std::string_view name;
  if (TypeOf(v) == json_type::string) name = Text(v);
  if (name == "linear") return Interpolation::kLinear;
  if (name == "step") return Interpolation::kStep;
  if (name == "smooth") return Interpolation::kSmooth;
  Reject("expected \"linear\", \"step\" or \"smooth\"");
}

// A frame as the loader names it in messages: the shortest text that reads
// back, always with a decimal part.
std::string Reader::ShortestFrameText(double frame) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, frame).ptr;
  std::string s(text, end);
  if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
  return s;
}

}  // namespace tq::scene::loading
