// The export's arithmetic written again for the benchmarks' floors, on plain
// arrays, with nothing from the product but the numbers it must give: its
// own key search, blends and slerp, its own rotation matrix and inverse, its
// own rounding and number formatting. A floor that called the product's
// channels or matrices would slow down with them and hide the regression it
// is there to show (scripts/bench --sensitivity checks that it does not).
//
// The floor must write the export's bytes, so each step keeps the export's
// order of operations and precision (single precision where the host's
// types are float, double where it works in double); how it is organised is
// its own.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace tq::bench::direct {

// A channel: a constant, or keys at increasing tick times, dim floats a key
// (1 a focal length, 3 a position or scale, 4 a rotation x, y, z, w).
struct Curve {
  enum Mode { kLinear, kStep, kSmooth };
  Mode mode = kLinear;
  int dim = 3;
  std::vector<std::int32_t> times;
  std::vector<float> values;  // dim a key; the constant when there are no keys
  // The key after the time asked last, tried first: an export's times ascend.
  mutable std::size_t next = 1;
  // The arc of the rotation segment asked last (segment 0: none).
  mutable std::size_t arcSegment = 0;
  mutable double angle = 0, sine = 0;
};

// The first key after t, t strictly inside the keys.
inline std::size_t KeyAfter(const Curve& c, std::int32_t t) {
  const std::size_t n = c.times.size();
  std::size_t i = c.next;
  if (i < n && c.times[i - 1] <= t && t < c.times[i]) return i;
  if (i + 1 < n && c.times[i] <= t && t < c.times[i + 1]) return c.next = i + 1;
  i = static_cast<std::size_t>(std::upper_bound(c.times.begin(), c.times.end(), t) -
                               c.times.begin());
  return c.next = i;
}

// Spherical interpolation along the shorter arc, in double, of the unit
// rotations at a and b (x, y, z, w), u in [0, 1); the arc's angle and sine
// as given.
inline void Slerp(const float* a, const float* b, double u, const Curve& c, std::size_t segment,
                  float* out) {
  const double p[4] = {a[0], a[1], a[2], a[3]};
  double q[4] = {b[0], b[1], b[2], b[3]};
  double dot = p[0] * q[0] + p[1] * q[1] + p[2] * q[2] + p[3] * q[3];
  if (dot < 0.0) {
    for (double& v : q) v = -v;
    dot = -dot;
  }
  double wa = 1.0 - u, wb = u;
  if (dot < 0.9999999 && u != 0.0) {
    if (c.arcSegment != segment) {
      c.angle = std::acos(dot > 1.0 ? 1.0 : dot);
      c.sine = std::sin(c.angle);
      c.arcSegment = segment;
    }
    wa = std::sin((1.0 - u) * c.angle) / c.sine;
    wb = std::sin(u * c.angle) / c.sine;
  }
  double r[4], length = 0.0;
  for (int k = 0; k < 4; ++k) {
    r[k] = wa * p[k] + wb * q[k];
    length += r[k] * r[k];
  }
  length = std::sqrt(length);
  for (int k = 0; k < 4; ++k) out[k] = static_cast<float>(r[k] / length);
}

// The curve's value at tick t, dim floats at out.
inline void Evaluate(const Curve& c, std::int32_t t, float* out) {
  const std::size_t n = c.times.size(), dim = static_cast<std::size_t>(c.dim);
  const float* v = c.values.data();
  if (n == 0 || t <= c.times[0]) {
    std::copy(v, v + dim, out);
    return;
  }
  if (t >= c.times[n - 1]) {
    std::copy(v + (n - 1) * dim, v + n * dim, out);
    return;
  }
  const std::size_t i = KeyAfter(c, t);
  const float* from = v + (i - 1) * dim;
  const float* to = v + i * dim;
  if (c.mode == Curve::kStep) {
    std::copy(from, from + dim, out);
    return;
  }
  const double u =
      static_cast<double>(t - c.times[i - 1]) / static_cast<double>(c.times[i] - c.times[i - 1]);
  if (dim == 4) {
    Slerp(from, to, u, c, i, out);
    return;
  }
  const float* before = i >= 2 ? v + (i - 2) * dim : from;
  const float* after = i + 1 < n ? v + (i + 1) * dim : to;
  for (std::size_t k = 0; k < dim; ++k) {
    const double A = before[k], B = from[k], C = to[k], D = after[k];
    if (c.mode == Curve::kLinear) {
      out[k] = static_cast<float>(B + (C - B) * u);
    } else {
      // Catmull-Rom through B and C.
      const double u2 = u * u, u3 = u2 * u;
      out[k] = static_cast<float>(0.5 * ((2.0 * B) + (C - A) * u +
                                         (2.0 * A - 5.0 * B + 4.0 * C - D) * u2 +
                                         (3.0 * B - A - 3.0 * C + D) * u3));
    }
  }
}

// A 3x4 affine matrix in single precision, row by row, translation last.
using M34 = float[3][4];

// The rotation of unit quaternion q (x, y, z, w), in double, each value
// rounded once; translation zero.
inline void RotationOf(const float* q, M34 m) {
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const double r[3][3] = {
      {w * w + x * x - y * y - z * z, 2.0 * (x * y - w * z), 2.0 * (x * z + w * y)},
      {2.0 * (x * y + w * z), w * w - x * x + y * y - z * z, 2.0 * (y * z - w * x)},
      {2.0 * (x * z - w * y), 2.0 * (y * z + w * x), w * w - x * x - y * y + z * z}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m[i][j] = static_cast<float>(r[i][j]);
    m[i][3] = 0.0f;
  }
}

// The inverse of an affine matrix: the adjugate of its 3x3 part over the
// determinant and the translation taken back through it, all in double, each
// value rounded once. The matrices here are never singular.
inline void InverseOf(const M34 m, M34 inv) {
  double a[3][4];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) a[i][j] = m[i][j];
  const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  const double r[3][3] = {{c00 / det, (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det,
                           (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det},
                          {c01 / det, (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det,
                           (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det},
                          {c02 / det, (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det,
                           (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det}};
  for (int i = 0; i < 3; ++i) {
    const double t = -(r[i][0] * a[0][3] + r[i][1] * a[1][3] + r[i][2] * a[2][3]);
    for (int j = 0; j < 3; ++j) inv[i][j] = static_cast<float>(r[i][j]);
    inv[i][3] = static_cast<float>(t);
  }
}

// m applied to the point p, in single precision: each row's three products
// summed left to right, its translation last.
inline void Apply(const M34 m, const float* p, float* out) {
  for (int i = 0; i < 3; ++i)
    out[i] = ((m[i][0] * p[0] + m[i][1] * p[1]) + m[i][2] * p[2]) + m[i][3];
}

// Half away from zero, in double.
inline double RoundHalfAway(double h) {
  return h >= 0.0 ? std::trunc(h + 0.5) : std::trunc(h - 0.5);
}

// The tick time of a frame at fps: the frame over the rate times 135000 in
// double, rounded half away from zero.
inline std::int32_t TickOf(float frame, float fps) {
  return static_cast<std::int32_t>(
      RoundHalfAway(static_cast<double>(frame) / static_cast<double>(fps) * 135000.0));
}

// A value with 3 decimals, written its own way: X x 1000 rounded half away
// from zero, then its whole part, the point and three digits.
inline char* ThreeDecimals(char* at, double value) {
  // Rounded exactly, half away from zero (std::round: h + 0.5 may round up
  // before it is truncated).
  const auto k = static_cast<long long>(std::round(value * 1000.0));
  const unsigned long long u = k < 0 ? 0ULL - static_cast<unsigned long long>(k) : k;
  if (k < 0) *at++ = '-';
  at = std::to_chars(at, at + 20, u / 1000).ptr;
  const unsigned fraction = static_cast<unsigned>(u % 1000);
  *at++ = '.';
  *at++ = static_cast<char>('0' + fraction / 100);
  *at++ = static_cast<char>('0' + fraction / 10 % 10);
  *at++ = static_cast<char>('0' + fraction % 10);
  return at;
}

// Brown-Conrady coefficients k1, k2, p1, p2, k3 on camera-space slopes.
struct Distortion {
  double k1, k2, p1, p2, k3;
};

// The shot as the floor sees it: the camera's channels, the target's, the
// target model's points and its four-cornered patches, the image.
struct Shot {
  Curve cameraTranslate, cameraRotate, cameraScale, focal;
  Curve targetTranslate, targetRotate;
  std::vector<float> points;           // x, y, z a point
  std::vector<std::uint32_t> corners;  // four points a patch
  int width = 1920, height = 1080;
  float fps = 30.0f;
};

// The target's reference point: the mean of its patches' corners, summed in
// single precision in the patches' order, divided once; without patches,
// its origin.
inline void CentreOf(const Shot& s, float centre[3]) {
  float sum[3] = {0, 0, 0};
  if (s.corners.empty()) {
    std::copy(sum, sum + 3, centre);
    return;
  }
  for (const std::uint32_t corner : s.corners)
    for (int k = 0; k < 3; ++k) sum[k] = sum[k] + s.points[corner * 3 + static_cast<unsigned>(k)];
  for (int k = 0; k < 3; ++k) centre[k] = sum[k] / static_cast<float>(s.corners.size());
}

// The track of frames 0 to frames - 1 as the export writes it: index, tab,
// X, tab, Y, newline; whole pixels, or 3 decimals; through the distortion
// when given. pixels, when given, gets each whole pixel.
inline std::string Track(const Shot& s, int frames, bool threeDecimals = false,
                         const Distortion* lens = nullptr,
                         std::vector<std::pair<int, int>>* pixels = nullptr) {
  const double aspect = static_cast<double>(s.width) / static_cast<double>(s.height);
  const double hw = s.width / 2, hh = s.height / 2;
  float lastFocal = NAN;
  double factor = 0.0;
  std::string text;
  text.reserve(static_cast<std::size_t>(frames) * 24);
  char line[64];
  float offset[3];
  CentreOf(s, offset);
  for (int index = 0; index < frames; ++index) {
    const std::int32_t t = TickOf(static_cast<float>(index), s.fps);
    float scale[3], rotate[4], at[3], f;
    Evaluate(s.cameraScale, t, scale);
    Evaluate(s.cameraRotate, t, rotate);
    Evaluate(s.cameraTranslate, t, at);
    Evaluate(s.focal, t, &f);
    M34 camera, view;
    RotationOf(rotate, camera);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) camera[i][j] = camera[i][j] * scale[j];
      camera[i][3] = at[i];
    }
    float point[3], turn[4], turned[3], q[3];
    Evaluate(s.targetTranslate, t, point);
    Evaluate(s.targetRotate, t, turn);
    M34 targetTurn;
    RotationOf(turn, targetTurn);
    Apply(targetTurn, offset, turned);
    for (int k = 0; k < 3; ++k) point[k] = point[k] + turned[k];
    InverseOf(camera, view);
    Apply(view, point, q);
    if (!(f == lastFocal)) {
      factor = std::tan(std::atan(static_cast<double>(f + f) / -35.0) + 1.5707963267949);
      lastFocal = f;
    }
    double px, py;
    if (lens == nullptr) {
      const double d = factor * static_cast<double>(q[2]);
      px = hw - (static_cast<double>(q[0]) / d) * hw;
      py = hh - ((static_cast<double>(q[1]) / d) * aspect) * hh;
    } else {
      const double depth = -static_cast<double>(q[2]);
      const double x = static_cast<double>(q[0]) / depth, y = -static_cast<double>(q[1]) / depth;
      const double r2 = x * x + y * y;
      const double radial = 1 + r2 * (lens->k1 + r2 * (lens->k2 + r2 * lens->k3));
      const double dx = x * radial + 2 * lens->p1 * x * y + lens->p2 * (r2 + 2 * x * x);
      const double dy = y * radial + lens->p1 * (r2 + 2 * y * y) + 2 * lens->p2 * x * y;
      px = hw + (hw / factor) * dx;
      py = hh - (aspect * hh / factor) * dy;
    }
    char* end = std::to_chars(line, line + 12, index).ptr;
    *end++ = '\t';
    if (threeDecimals) {
      end = ThreeDecimals(end, px);
      *end++ = '\t';
      end = ThreeDecimals(end, py);
    } else {
      const int x = static_cast<int>(RoundHalfAway(px)), y = static_cast<int>(RoundHalfAway(py));
      if (pixels != nullptr) pixels->push_back({x, y});
      end = std::to_chars(end, end + 12, x).ptr;
      *end++ = '\t';
      end = std::to_chars(end, end + 12, y).ptr;
    }
    *end++ = '\n';
    text.append(line, end);
  }
  return text;
}

}  // namespace tq::bench::direct
