// Rotations of the host SDK.
//
// Conventions:
// - A Quaternion holds the vector part v = (x, y, z) first, then the scalar w.
//   The rotation by angle a about the unit axis n is (n sin(a/2), cos(a/2)).
// - Rotations are right-handed: +90 degrees about X carries (0, 1, 0) to
//   (0, 0, 1). A vector p is rotated by q as the vector part of q (p, 0) q*.
// - Single precision, every step rounded in the order written; RotateEuler
//   alone works in double and rounds each angle when it stores it.
// - Euler angles are degrees in the order Y(y) X(x) Z(z): applied to a vector,
//   Z turns first, then X, then Y.
// - The default Quaternion is the identity (0, 0, 0, 1). No operation
//   renormalises.
#pragma once

#include <cmath>

#include "math/Vector.h"

// The cross product a x b, in the SDK's order of terms.
inline Vector Cross(const Vector& a, const Vector& b) noexcept {
  return {a.y * b.z - b.y * a.z, a.z * b.x - b.z * a.x, a.x * b.y - a.y * b.x};
}

struct Quaternion {
  Vector v{0.0f, 0.0f, 0.0f};
  float w = 1.0f;

  constexpr Quaternion() noexcept = default;
  constexpr Quaternion(float x, float y, float z, float aw) noexcept : v(x, y, z), w(aw) {}
  Quaternion(float angle, const Vector& axis) noexcept { SetAngleAxis(angle, axis); }

  // The rotation by angle (radians) about axis. An axis of length 0 stays
  // (0, 0, 0) and gives ((0, 0, 0), cos(angle/2)), which is not a rotation.
  void SetAngleAxis(float angle, const Vector& axis) noexcept {
    v = axis;
    v.Normalize();
    const float h = angle * 0.5f;
    w = std::cos(h);
    const float s = std::sin(h);
    v.x = s * v.x;
    v.y = s * v.y;
    v.z = s * v.z;
  }

  Quaternion Conjugate() const noexcept {
    Quaternion c;
    c.v = -v;
    c.w = w;
    return c;
  }

  // Hamilton's product (*this) b.
  Quaternion operator*(const Quaternion& b) const noexcept {
    const Quaternion& a = *this;
    Quaternion r;
    r.w = a.w * b.w - ((a.v.x * b.v.x + a.v.y * b.v.y) + a.v.z * b.v.z);
    r.v = (Cross(a.v, b.v) + b.v * a.w) + a.v * b.w;
    return r;
  }

  // The vector part of (q (p, 0)) q*, the left product first.
  Vector operator*(const Vector& p) const noexcept {
    const Quaternion pure(p.x, p.y, p.z, 0.0f);
    return ((*this * pure) * Conjugate()).v;
  }

  Vector GetZAxis() const noexcept { return *this * Vector(0.0f, 0.0f, 1.0f); }
  Vector GetYAxis() const noexcept { return *this * Vector(0.0f, 1.0f, 0.0f); }
};

// The same rotation as Quaternion::operator*(const Vector&) with its own order
// of rounding; the two may differ in the last bit.
inline Vector& Vector::operator*=(const Quaternion& q) noexcept {
  const Vector n = -q.v;
  const float s = (n.x * x + n.y * y) + n.z * z;
  const Vector t = Cross(q.v, *this) + *this * q.w;
  *this = (t * q.w - q.v * s) - Cross(t, q.v);
  return *this;
}

inline Quaternion XRotateRadiansQ(float a) noexcept {
  return Quaternion(a, Vector(1, 0, 0));
}
inline Quaternion YRotateRadiansQ(float a) noexcept {
  return Quaternion(a, Vector(0, 1, 0));
}

// Y(y) X(x), Y on the left; the X quaternion is built first.
inline Quaternion YXRotateRadiansQ(float y, float x) noexcept {
  const Quaternion qx = XRotateRadiansQ(x);
  const Quaternion qy = YRotateRadiansQ(y);
  return qy * qx;
}

// Degrees per radian as the SDK spells it: the float 57.29578 (0x42652EE1),
// not 180/pi. The degrees are divided by it in single precision.
inline constexpr float kDegreesPerRadianF = 57.29578f;

inline Quaternion YXRotateQ(float y, float x) noexcept {
  return YXRotateRadiansQ(y / kDegreesPerRadianF, x / kDegreesPerRadianF);
}

// The Euler angles Y(y) X(x) Z(z) of a rotation, in degrees: x in [-90, 90],
// y and z in [-180, 180].
struct RotateEuler {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  // The float 57.29578 widened to double (0x404CA5DC20000000), deliberately
  // not 180/pi in double.
  static constexpr double kD = 57.295780181884766;

  explicit RotateEuler(const Quaternion& q) noexcept {
    const Vector zAxis = q.GetZAxis();
    y = static_cast<float>(std::atan2(double(zAxis.x), double(zAxis.z)) * kD);
    // The sum of squares is formed in single precision, then widened.
    const float planar = zAxis.x * zAxis.x + zAxis.z * zAxis.z;
    x = static_cast<float>(std::atan2(-double(zAxis.y), std::sqrt(double(planar))) * kD);
    Vector yAxis = q.GetYAxis();
    const Quaternion turned = YXRotateQ(y, x);
    yAxis *= turned.Conjugate();
    z = static_cast<float>(std::atan2(-double(yAxis.x), double(yAxis.y)) * kD);
  }
};
