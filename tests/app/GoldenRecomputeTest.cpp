// The golden tracks recomputed independently: the scene file read with a
// plain JSON parser, every channel evaluated at the frame itself, and the
// projection done the textbook way in double precision (camera space by the
// transposed rotation, slope 17.5 / f for the image half-width). Every line
// of each golden file must match within one pixel, so a golden file can
// never be regenerated from a wrong build unnoticed; the same track exported
// with 4 decimals must match within half its last digit and the error that
// single precision allows (ErrorBound). Only what the examples
// use is read: constant and keyed channels (linear, smooth, step), Euler and
// quaternion rotations, origin mode.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;
using Vec = std::array<double, 3>;
using Quat = std::array<double, 4>;  // x, y, z, w
constexpr double kPi = 3.14159265358979323846;

// A quaternion of angle degrees about the unit axis.
Quat AxisAngle(double degrees, const Vec& axis) {
  const double half = degrees * kPi / 360.0;
  return {axis[0] * std::sin(half), axis[1] * std::sin(half), axis[2] * std::sin(half),
          std::cos(half)};
}

Quat Multiply(const Quat& a, const Quat& b) {
  return {a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1],
          a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0],
          a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3],
          a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]};
}

Quat Rotation(const json& v) {
  if (v.is_object()) {  // Y(y) X(x) Z(z), degrees
    const auto& e = v.at("euler");
    return Multiply(Multiply(AxisAngle(e[1], {0, 1, 0}), AxisAngle(e[0], {1, 0, 0})),
                    AxisAngle(e[2], {0, 0, 1}));
  }
  Quat q = {v[0], v[1], v[2], v[3]};
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (double& c : q) c /= n;
  return q;
}

Quat Slerp(Quat a, Quat b, double u) {
  double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
  if (dot < 0) {
    for (double& c : b) c = -c;
    dot = -dot;
  }
  if (dot > 0.9999999) return b;
  const double angle = std::acos(dot);
  Quat r;
  for (int k = 0; k < 4; ++k)
    r[k] = (std::sin((1 - u) * angle) * a[k] + std::sin(u * angle) * b[k]) / std::sin(angle);
  return r;
}

// Rotates v by the unit quaternion q (inverse: conjugate q first).
Vec Rotate(const Quat& q, const Vec& v) {
  const Quat p = Multiply(Multiply(q, {v[0], v[1], v[2], 0}), {-q[0], -q[1], -q[2], q[3]});
  return {p[0], p[1], p[2]};
}

// A channel evaluated at a frame: keys held before the first and after the
// last; linear, step, or uniform Catmull-Rom between neighbours.
template <class T, class Read, class Mix>
T Evaluate(const json& channel, double frame, Read read, Mix mix) {
  if (!channel.is_object() || channel.contains("euler")) return read(channel);
  const json& keys = channel.at("keys");
  const std::string mode = channel.value("interpolation", "linear");
  const std::size_t n = keys.size();
  if (frame <= keys[0][0].get<double>()) return read(keys[0][1]);
  if (frame >= keys[n - 1][0].get<double>()) return read(keys[n - 1][1]);
  std::size_t i = 1;
  while (keys[i][0].get<double>() < frame) ++i;
  const double f0 = keys[i - 1][0], f1 = keys[i][0];
  if (mode == "step") return read(keys[i - 1][1]);
  const T a = read(keys[i >= 2 ? i - 2 : i - 1][1]), b = read(keys[i - 1][1]);
  const T c = read(keys[i][1]), d = read(keys[i + 1 < n ? i + 1 : i][1]);
  return mix(mode == "smooth", a, b, c, d, (frame - f0) / (f1 - f0));
}

double Mix1(bool smooth, double a, double b, double c, double d, double u) {
  if (!smooth) return b + (c - b) * u;
  return 0.5 * (2 * b + (c - a) * u + (2 * a - 5 * b + 4 * c - d) * u * u +
                (3 * b - a - 3 * c + d) * u * u * u);
}

Vec VectorAt(const json& object, const char* key, double frame, const Vec& fallback) {
  if (!object.contains(key)) return fallback;
  return Evaluate<Vec>(
      object[key], frame,
      [](const json& v) {
        return Vec{v[0], v[1], v[2]};
      },
      [](bool smooth, const Vec& a, const Vec& b, const Vec& c, const Vec& d, double u) {
        return Vec{Mix1(smooth, a[0], b[0], c[0], d[0], u), Mix1(smooth, a[1], b[1], c[1], d[1], u),
                   Mix1(smooth, a[2], b[2], c[2], d[2], u)};
      });
}

Quat RotationAt(const json& object, double frame) {
  if (!object.contains("rotate")) return {0, 0, 0, 1};
  return Evaluate<Quat>(object["rotate"], frame, Rotation,
                        [](bool, const Quat&, const Quat& b, const Quat& c, const Quat&, double u) {
                          return Slerp(b, c, u);
                        });
}

double FocalAt(const json& camera, double frame) {
  if (!camera.contains("focalLength")) return 35;
  return Evaluate<double>(
      camera["focalLength"], frame, [](const json& v) { return v.get<double>(); }, Mix1);
}

const json& Named(const json& scene, const std::string& name) {
  for (const json& o : scene["chor"]["objects"]) {
    if (o["name"] == name) return o;
  }
  throw std::runtime_error("no object " + name);
}

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// What a command prints on standard output.
std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (std::size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  if (pipe != nullptr) pclose(pipe);
  return out;
}

// How far the export's pixel may lie from the textbook one. The export works
// the camera-space point q in single precision: channel evaluation, the
// rotation matrix, the inverse and the product are at most 32 roundings on
// any path, each off by at most 2^-24 of the largest magnitude s that enters
// (the camera's and the target's coordinates), so each of q's coordinates is
// off by at most e = 32 * 2^-24 * s. A pixel is hw + q.x / (-q.z * slope) * hw,
// so to first order it moves by hw / slope * (e / |q.z| + |q.x| e / q.z^2);
// doubled for the second-order terms. The lens constant 1.5707963267949 and
// the double steps add under 1e-12 of the distance from the centre.
double ErrorBound(double a, double qz, double s, double half, double slope) {
  const double e = 32 * std::ldexp(1.0, -24) * s;
  return 2 * half / slope * (e / std::fabs(qz) + std::fabs(a) * e / (qz * qz)) +
         1e-12 * std::fabs(a / qz) * half / slope;
}

// Recomputes a golden file (camera and target by name, origin mode, the
// camera's output size and range), and the same track with 4 decimals.
void CheckGolden(const std::string& sceneFile, const std::string& camera, const std::string& target,
                 const std::string& goldenFile) {
  const std::string path = std::string(TQ_SOURCE_DIR) + "/examples/" + sceneFile;
  const json scene = json::parse(Read(path));
  const json& cam = Named(scene, camera);
  const json& obj = Named(scene, target);
  const double width = cam["output"]["width"], height = cam["output"]["height"];
  const double start = cam["output"]["startFrame"];
  std::istringstream golden(Read(std::string(TQ_SOURCE_DIR) + "/tests/app/golden/" + goldenFile));
  std::istringstream fine(Output(std::string(TQ_BIN_DIR) + "/tqhost export '" + path +
                                 "' --camera '" + camera + "' --target '" + target +
                                 "' --decimals 4 -o - 2>/dev/null"));
  int lines = 0;
  for (std::string line, fineLine; std::getline(golden, line); ++lines) {
    int index = 0, fineIndex = 0;
    long x = 0, y = 0;
    double fx = 0, fy = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d\t%ld\t%ld", &index, &x, &y), 3) << line;
    ASSERT_EQ(index, lines);
    ASSERT_TRUE(std::getline(fine, fineLine)) << "no line " << index << " with 4 decimals";
    ASSERT_EQ(std::sscanf(fineLine.c_str(), "%d\t%lf\t%lf", &fineIndex, &fx, &fy), 3) << fineLine;
    ASSERT_EQ(fineIndex, index);
    // Exactly 4 digits after each point.
    ASSERT_EQ(fineLine.find('.'), fineLine.find('\t', fineLine.find('\t') + 1) - 5) << fineLine;
    ASSERT_EQ(fineLine.rfind('.'), fineLine.size() - 5) << fineLine;
    const double frame = start + index;
    const Vec c = VectorAt(cam, "translate", frame, {0, 0, 0});
    const Quat r = RotationAt(cam, frame);
    const Vec p = VectorAt(obj, "translate", frame, {0, 0, 0});
    const Vec q = Rotate({-r[0], -r[1], -r[2], r[3]}, {p[0] - c[0], p[1] - c[1], p[2] - c[2]});
    // The image half-width spans 17.5 / f of the distance in front (-z).
    const double slope = 17.5 / FocalAt(cam, frame);
    const double hw = std::floor(width / 2), hh = std::floor(height / 2);
    const double px = hw + q[0] / (-q[2] * slope) * hw;
    const double py = hh + q[1] / (-q[2] * slope) * (width / height) * hh;
    EXPECT_LE(std::fabs(px - static_cast<double>(x)), 1.0) << goldenFile << " line " << index;
    EXPECT_LE(std::fabs(py - static_cast<double>(y)), 1.0) << goldenFile << " line " << index;
    const double s = std::max({std::fabs(c[0]), std::fabs(c[1]), std::fabs(c[2]), std::fabs(p[0]),
                               std::fabs(p[1]), std::fabs(p[2])});
    const double bx = ErrorBound(q[0], q[2], s, hw, slope);
    const double by = ErrorBound(q[1], q[2], s, hh, slope) * (width / height);
    // The bound is tight enough to mean something: a tenth of what whole
    // pixels lose.
    ASSERT_LT(std::max(bx, by), 0.05) << goldenFile << " line " << index;
    EXPECT_LE(std::fabs(px - fx), 0.00005 + bx) << goldenFile << " line " << index;
    EXPECT_LE(std::fabs(py - fy), 0.00005 + by) << goldenFile << " line " << index;
  }
  std::string extra;
  EXPECT_FALSE(std::getline(fine, extra)) << "more lines with 4 decimals than without";
  EXPECT_EQ(lines, static_cast<int>(cam["output"]["endFrame"].get<double>() - start) + 1);
}

TEST(GoldenRecompute, OrbitRobotOrigin) {
  CheckGolden("orbit.tqs.json", "Camera1", "Robot", "orbit-robot-origin.txt");
}

TEST(GoldenRecompute, ZoomTarget) {
  CheckGolden("zoom.tqs.json", "Zoom", "Target", "zoom-target.txt");
}

}  // namespace
