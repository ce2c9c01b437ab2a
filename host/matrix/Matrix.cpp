// The host matrix library: the 4x4 inverse and the rotation matrix of a
// quaternion. Both work in double and round each result value to float once.
#include <cmath>
#include <limits>

#include "math/Quaternion.h"
#include "math/Slowdown.h"
#include "math/Vector.h"

namespace {
float& At(Matrix44& m, int i, int j) {
  Vector4& r = m.row[i];
  return j == 0 ? r.x : j == 1 ? r.y : j == 2 ? r.z : r.w;
}
float At(const Matrix44& m, int i, int j) {
  const Vector4& r = m.row[i];
  return j == 0 ? r.x : j == 1 ? r.y : j == 2 ? r.z : r.w;
}
}  // namespace

namespace {

Matrix44 NaNs() noexcept {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Matrix44 result;
  for (Vector4& r : result.row) r = Vector4(nan, nan, nan, nan);
  return result;
}

// An affine matrix (fourth row 0, 0, 0, 1) [A t; 0 1] inverts to
// [A^-1, -A^-1 t; 0 1]: A^-1 as its adjugate over its determinant, all in
// double, each result rounded to float once.
Matrix44 AffineInverse(const Matrix44& m) noexcept {
  double a[3][4];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 4; ++j) a[i][j] = At(m, i, j);
  }
  const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  if (!(std::fabs(det) > 0.0)) return NaNs();
  double inv[3][3] = {
      {c00 / det, (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det,
       (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det},
      {c01 / det, (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det,
       (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det},
      {c02 / det, (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det,
       (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det},
  };
  Matrix44 result;
  for (int i = 0; i < 3; ++i) {
    const double t = -(inv[i][0] * a[0][3] + inv[i][1] * a[1][3] + inv[i][2] * a[2][3]);
    result.row[i] = Vector4(static_cast<float>(inv[i][0]), static_cast<float>(inv[i][1]),
                            static_cast<float>(inv[i][2]), static_cast<float>(t));
  }
  result.row[3] = Vector4(0.0f, 0.0f, 0.0f, 1.0f);
  return result;
}

}  // namespace

namespace {

// An affine matrix is inverted in closed form; any other by Gauss-Jordan
// elimination with partial pivoting, in double. A singular matrix gives
// sixteen quiet NaNs, so that whatever is computed from it shows as not
// finite rather than as a plausible number.
Matrix44 InverseOf(const Matrix44& m) noexcept {
  const Vector4* row = m.row;
  if (row[3].x == 0.0f && row[3].y == 0.0f && row[3].z == 0.0f && row[3].w == 1.0f) {
    return AffineInverse(m);
  }
  double a[4][8];
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      a[i][j] = At(m, i, j);
      a[i][j + 4] = i == j ? 1.0 : 0.0;
    }
  }
  Matrix44 result;
  for (int col = 0; col < 4; ++col) {
    int pivot = col;
    for (int i = col + 1; i < 4; ++i) {
      if (std::fabs(a[i][col]) > std::fabs(a[pivot][col])) pivot = i;
    }
    if (!(std::fabs(a[pivot][col]) > 0.0)) return NaNs();
    if (pivot != col) {
      for (int j = 0; j < 8; ++j) std::swap(a[pivot][j], a[col][j]);
    }
    const double p = a[col][col];
    for (int j = 0; j < 8; ++j) a[col][j] /= p;
    for (int i = 0; i < 4; ++i) {
      if (i == col) continue;
      const double f = a[i][col];
      if (f == 0.0) continue;
      for (int j = 0; j < 8; ++j) a[i][j] -= f * a[col][j];
    }
  }
  for (int i = 0; i < 4; ++i) {
    result.row[i] = Vector4(0, 0, 0, 0);
    for (int j = 0; j < 4; ++j) At(result, i, j) = static_cast<float>(a[i][j + 4]);
  }
  return result;
}

}  // namespace

Matrix44 Matrix44::Inverse() const noexcept {
  return tq::Twice([&] { return InverseOf(*this); });
}

// The right-handed rotation matrix of a quaternion; translation zero. The
// homogeneous form (w^2 + x^2 - y^2 - z^2 on the diagonal) equals q p q* also
// for a quaternion a rounding away from unit length, so the matrix and the
// quaternion's own rotation agree to the last bits.
Matrix34::Matrix34(const Quaternion& q) noexcept {
  tq::Twice([&] {
    const double x = q.v.x, y = q.v.y, z = q.v.z, w = q.w;
    auto f = [](double d) { return static_cast<float>(d); };
    row[0] = Vector4(f(w * w + x * x - y * y - z * z), f(2.0 * (x * y - w * z)),
                     f(2.0 * (x * z + w * y)), 0.0f);
    row[1] = Vector4(f(2.0 * (x * y + w * z)), f(w * w - x * x + y * y - z * z),
                     f(2.0 * (y * z - w * x)), 0.0f);
    row[2] = Vector4(f(2.0 * (x * z - w * y)), f(2.0 * (y * z + w * x)),
                     f(w * w - x * x - y * y + z * z), 0.0f);
    return 0;
  });
}
