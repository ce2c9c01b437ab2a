// The host matrix library: the 4x4 inverse and the rotation matrix of a
// quaternion. Both work in double and round each result value to float once.
#include <cmath>
#include <limits>

#include "math/Quaternion.h"
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

// Gauss-Jordan elimination with partial pivoting, in double. A matrix with a
// zero pivot (singular) gives sixteen quiet NaNs, so that whatever is computed
// from it shows as not finite rather than as a plausible number.
Matrix44 Matrix44::Inverse() const noexcept {
  double a[4][8];
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      a[i][j] = At(*this, i, j);
      a[i][j + 4] = i == j ? 1.0 : 0.0;
    }
  }
  Matrix44 result;
  for (int col = 0; col < 4; ++col) {
    int pivot = col;
    for (int i = col + 1; i < 4; ++i) {
      if (std::fabs(a[i][col]) > std::fabs(a[pivot][col])) pivot = i;
    }
    if (!(std::fabs(a[pivot][col]) > 0.0)) {
      const float nan = std::numeric_limits<float>::quiet_NaN();
      for (int i = 0; i < 4; ++i) result.row[i] = Vector4(nan, nan, nan, nan);
      return result;
    }
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

// The right-handed rotation matrix of a quaternion; translation zero. The
// homogeneous form (w^2 + x^2 - y^2 - z^2 on the diagonal) equals q p q* also
// for a quaternion a rounding away from unit length, so the matrix and the
// quaternion's own rotation agree to the last bits.
Matrix34::Matrix34(const Quaternion& q) noexcept {
  const double x = q.v.x, y = q.v.y, z = q.v.z, w = q.w;
  auto f = [](double d) { return static_cast<float>(d); };
  row[0] = Vector4(f(w * w + x * x - y * y - z * z), f(2.0 * (x * y - w * z)),
                   f(2.0 * (x * z + w * y)), 0.0f);
  row[1] = Vector4(f(2.0 * (x * y + w * z)), f(w * w - x * x + y * y - z * z),
                   f(2.0 * (y * z - w * x)), 0.0f);
  row[2] = Vector4(f(2.0 * (x * z - w * y)), f(2.0 * (y * z + w * x)),
                   f(w * w - x * x - y * y + z * z), 0.0f);
}
