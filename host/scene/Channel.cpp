#include "host/scene/Channel.h"

#include <cmath>

namespace tq::scene {
namespace {

// b as the end of the shorter arc from a, and the dot product of the two.
double ShorterEnd(const double a[4], const double b[4], double end[4]) noexcept {
  double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
  const double sign = dot < 0.0 ? -1.0 : 1.0;
  for (int k = 0; k < 4; ++k) end[k] = dot < 0.0 ? -b[k] : b[k];
  return dot * sign;
}

}  // namespace

void SlerpShorterArc(const double a[4], const double b[4], double u, double out[4],
                     const Arc* known) noexcept {
  double q1[4];
  const double dot = ShorterEnd(a, b, q1);
  double w0 = 1.0 - u, w1 = u;
  // At u = 0 the weights below are exactly 1 and 0 (sin(a) / sin(a), sin(0)):
  // taken as they are, without the trigonometry, for times on a key.
  if (dot < 0.9999999 && u != 0.0) {
    const Arc arc = known != nullptr ? *known : ArcOf(dot);
    w0 = std::sin((1.0 - u) * arc.angle) / arc.sine;
    w1 = std::sin(u * arc.angle) / arc.sine;
  }
  double norm = 0.0;
  for (int k = 0; k < 4; ++k) {
    out[k] = w0 * a[k] + w1 * q1[k];
    norm += out[k] * out[k];
  }
  norm = std::sqrt(norm);
  for (int k = 0; k < 4; ++k) out[k] /= norm;
}

Arc ArcBetween(const Quaternion& b, const Quaternion& c) noexcept {
  const double q0[4] = {b.v.x, b.v.y, b.v.z, b.w};
  const double q1[4] = {c.v.x, c.v.y, c.v.z, c.w};
  double end[4];
  const double dot = ShorterEnd(q0, q1, end);
  return dot < 0.9999999 ? ArcOf(dot) : Arc{};
}

Quaternion Blend(Interpolation, const Quaternion&, const Quaternion& b, const Quaternion& c,
                 const Quaternion&, double u, const Arc* known) noexcept {
  const double q0[4] = {b.v.x, b.v.y, b.v.z, b.w};
  const double q1[4] = {c.v.x, c.v.y, c.v.z, c.w};
  double r[4];
  SlerpShorterArc(q0, q1, u, r, known);
  return Quaternion(static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2]),
                    static_cast<float>(r[3]));
}

}  // namespace tq::scene
