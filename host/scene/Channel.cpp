#include "host/scene/Channel.h"

#include <cmath>

namespace tq::scene {
namespace {

double CatmullRom(double a, double b, double c, double d, double u) noexcept {
  const double u2 = u * u, u3 = u2 * u;
  return 0.5 * ((2.0 * b) + (c - a) * u + (2.0 * a - 5.0 * b + 4.0 * c - d) * u2 +
                (3.0 * b - a - 3.0 * c + d) * u3);
}

double Mix(Interpolation mode, double a, double b, double c, double d, double u) noexcept {
  if (mode == Interpolation::kSmooth) return CatmullRom(a, b, c, d, u);
  return b + (c - b) * u;
}

}  // namespace

float Blend(Interpolation mode, float a, float b, float c, float d, double u) noexcept {
  return static_cast<float>(Mix(mode, a, b, c, d, u));
}

Vector Blend(Interpolation mode, const Vector& a, const Vector& b, const Vector& c, const Vector& d,
             double u) noexcept {
  return {Blend(mode, a.x, b.x, c.x, d.x, u), Blend(mode, a.y, b.y, c.y, d.y, u),
          Blend(mode, a.z, b.z, c.z, d.z, u)};
}

void SlerpShorterArc(const double a[4], const double b[4], double u, double out[4]) noexcept {
  double q1[4] = {b[0], b[1], b[2], b[3]};
  double dot = a[0] * q1[0] + a[1] * q1[1] + a[2] * q1[2] + a[3] * q1[3];
  if (dot < 0.0) {
    for (double& e : q1) e = -e;
    dot = -dot;
  }
  double w0 = 1.0 - u, w1 = u;
  // At u = 0 the weights below are exactly 1 and 0 (sin(a) / sin(a), sin(0)):
  // taken as they are, without the trigonometry, for times on a key.
  if (dot < 0.9999999 && u != 0.0) {
    const double angle = std::acos(std::min(dot, 1.0));
    const double s = std::sin(angle);
    w0 = std::sin((1.0 - u) * angle) / s;
    w1 = std::sin(u * angle) / s;
  }
  double norm = 0.0;
  for (int k = 0; k < 4; ++k) {
    out[k] = w0 * a[k] + w1 * q1[k];
    norm += out[k] * out[k];
  }
  norm = std::sqrt(norm);
  for (int k = 0; k < 4; ++k) out[k] /= norm;
}

// Spherical interpolation from b to c along the shorter arc; the neighbours
// play no part.
Quaternion Blend(Interpolation, const Quaternion&, const Quaternion& b, const Quaternion& c,
                 const Quaternion&, double u) noexcept {
  const double q0[4] = {b.v.x, b.v.y, b.v.z, b.w};
  const double q1[4] = {c.v.x, c.v.y, c.v.z, c.w};
  double r[4];
  SlerpShorterArc(q0, q1, u, r);
  return Quaternion(static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2]),
                    static_cast<float>(r[3]));
}

}  // namespace tq::scene
