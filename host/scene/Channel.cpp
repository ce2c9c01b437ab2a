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

Arc ArcBetween(const Quaternion& b, const Quaternion& c) noexcept {
  const double q0[4] = {b.v.x, b.v.y, b.v.z, b.w};
  const double q1[4] = {c.v.x, c.v.y, c.v.z, c.w};
  double end[4];
  const double dot = ShorterEnd(q0, q1, end);
  return dot < 0.9999999 ? ArcOf(dot) : Arc{};
}

}  // namespace tq::scene
