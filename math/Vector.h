// Vectors and affine matrices of the host SDK.
//
// Conventions:
// - Single precision throughout. Every product, sum and quotient is rounded to
//   float at the step that forms it, in the order written here; nothing is
//   carried wider and nothing is fused (build with -ffp-contract=off).
// - Points are column vectors multiplied from the right: a point p maps to
//   M * (p.x, p.y, p.z, 1). Element (i, j) of a matrix is component j of
//   row[i]; column 3 (each row's w) is the translation.
// - Vector starts at (0, 0, 0). Vector4, Matrix34 and Matrix44 default
//   construction leaves every value unset, as the SDK's do.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

struct Quaternion;

struct Vector {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  constexpr Vector() noexcept = default;
  constexpr Vector(float ax, float ay, float az) noexcept : x(ax), y(ay), z(az) {}

  // Each component divided by s, x first. Do not replace the divisions by a
  // multiplication with 1/s: the quotients must be rounded one by one.
  Vector& operator/=(float s) noexcept {
    x = x / s;
    y = y / s;
    z = z / s;
    return *this;
  }

  // Component by component, x first.
  Vector& operator+=(const Vector& b) noexcept {
    x = x + b.x;
    y = y + b.y;
    z = z + b.z;
    return *this;
  }

  Vector operator-(const Vector& b) const noexcept { return {x - b.x, y - b.y, z - b.z}; }
  Vector operator+(const Vector& b) const noexcept { return {x + b.x, y + b.y, z + b.z}; }
  Vector operator*(float s) const noexcept { return {s * x, s * y, s * z}; }

  // Negation flips the sign bit of each component; it is not 0 - x, so 0.0
  // becomes -0.0 and a NaN keeps its payload with the other sign.
  Vector operator-() const noexcept { return {FlipSign(x), FlipSign(y), FlipSign(z)}; }

  float Norm() const noexcept { return std::sqrt((x * x + y * y) + z * z); }

  // Leaves a vector of norm exactly 0 alone; a NaN norm is not 0 and divides.
  Vector& Normalize() noexcept {
    const float n = Norm();
    if (n == 0.0f) return *this;
    return *this /= n;
  }

  // Rotates this vector in place by q (defined in Quaternion.h).
  Vector& operator*=(const Quaternion& q) noexcept;

  static float FlipSign(float f) noexcept {
    return std::bit_cast<float>(std::bit_cast<std::uint32_t>(f) ^ 0x80000000u);
  }
};

// Exact equality, component by component (so -0.0 == 0.0 and NaN != NaN).
inline bool operator==(const Vector& a, const Vector& b) noexcept {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

// One row of an affine matrix: x, y, z are the linear coefficients, w the
// translation. Default construction leaves all four unset.
struct Vector4 {
  float x, y, z, w;

  Vector4() noexcept {}
  constexpr Vector4(float ax, float ay, float az, float aw) noexcept : x(ax), y(ay), z(az), w(aw) {}

  Vector4& operator=(const Vector4& r) noexcept {
    x = r.x;
    y = r.y;
    z = r.z;
    w = r.w;
    return *this;
  }
  Vector4(const Vector4& r) noexcept : x(r.x), y(r.y), z(r.z), w(r.w) {}

  // The row applied to (p, 1): the three products summed left to right, w last.
  float operator|(const Vector& p) const noexcept { return ((x * p.x + y * p.y) + z * p.z) + w; }
};

struct Matrix44;

struct Matrix34 {
  Vector4 row[3];

  Matrix34() noexcept {}
  Matrix34(const Vector4& r0, const Vector4& r1, const Vector4& r2) noexcept { Set(r0, r1, r2); }
  // The rotation matrix of a unit quaternion, translation zero. Defined by the
  // host's matrix library.
  explicit Matrix34(const Quaternion& q) noexcept;

  Matrix34(const Matrix34& m) noexcept { Set(m.row[0], m.row[1], m.row[2]); }
  Matrix34& operator=(const Matrix34& m) noexcept {
    Set(m.row[0], m.row[1], m.row[2]);
    return *this;
  }

  void Set(const Vector4& r0, const Vector4& r1, const Vector4& r2) noexcept {
    row[0] = r0;
    row[1] = r1;
    row[2] = r2;
  }

  // The affine transform of the point p.
  Vector operator*(const Vector& p) const noexcept { return {row[0] | p, row[1] | p, row[2] | p}; }

  Vector GetTranslate() const noexcept { return {row[0].w, row[1].w, row[2].w}; }

  // ToMatrix34(ToMatrix44(*this).Inverse()); see Matrix44::Inverse.
  inline Matrix34 Inverse() const noexcept;
};

struct Matrix44 {
  Vector4 row[4];

  Matrix44() noexcept {}
  Matrix44(const Vector4& r0, const Vector4& r1, const Vector4& r2, const Vector4& r3) noexcept {
    row[0] = r0;
    row[1] = r1;
    row[2] = r2;
    row[3] = r3;
  }

  // General 4x4 inverse, defined by the host's matrix library. A singular
  // matrix gives a matrix whose sixteen values are all quiet NaN.
  Matrix44 Inverse() const noexcept;
};

inline Matrix44 ToMatrix44(const Matrix34& m) noexcept {
  return Matrix44(m.row[0], m.row[1], m.row[2], Vector4(0.0f, 0.0f, 0.0f, 1.0f));
}

// Keeps rows 0 to 2; row 3 is dropped unread.
inline Matrix34 ToMatrix34(const Matrix44& m) noexcept {
  return Matrix34(m.row[0], m.row[1], m.row[2]);
}

inline Matrix34 Matrix34::Inverse() const noexcept {
  return ToMatrix34(ToMatrix44(*this).Inverse());
}
