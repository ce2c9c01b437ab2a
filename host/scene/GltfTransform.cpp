// Affine transforms in double: the host's math library is single
// precision, so a hierarchy is composed in double and rounded to float once,
// in the decomposition.
#include "host/scene/GltfImporter.h"

namespace tq::scene::gltf {

Mat4 Multiply(const Mat4& a, const Mat4& b) {
  Mat4 r{};
  for (int c = 0; c < 4; ++c) {
    for (int row = 0; row < 4; ++row) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += a[k * 4 + row] * b[c * 4 + k];
      r[c * 4 + row] = s;
    }
  }
  return r;
}

// translate * rotate * scale, q of unit length.
Mat4 Compose(const Vec3& t, const Quat& q, const Vec3& s) {
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + w * z),     2 * (x * z - w * y),
                       2 * (x * y - w * z),     1 - 2 * (x * x + z * z), 2 * (y * z + w * x),
                       2 * (x * z + w * y),     2 * (y * z - w * x),     1 - 2 * (x * x + y * y)};
  return {r[0] * s[0], r[1] * s[0], r[2] * s[0], 0, r[3] * s[1], r[4] * s[1], r[5] * s[1], 0,
          r[6] * s[2], r[7] * s[2], r[8] * s[2], 0, t[0],        t[1],        t[2],        1};
}

// The rotation of an orthonormal matrix (columns c0, c1, c2), Shepperd's way.
Quat FromRotation(const double c[3][3]) {
  const double m00 = c[0][0], m11 = c[1][1], m22 = c[2][2];
  const double trace = m00 + m11 + m22;
  Quat q;
  if (trace > 0) {
    const double s = std::sqrt(trace + 1.0) * 2;
    q = {(c[1][2] - c[2][1]) / s, (c[2][0] - c[0][2]) / s, (c[0][1] - c[1][0]) / s, 0.25 * s};
  } else if (m00 > m11 && m00 > m22) {
    const double s = std::sqrt(1.0 + m00 - m11 - m22) * 2;
    q = {0.25 * s, (c[1][0] + c[0][1]) / s, (c[2][0] + c[0][2]) / s, (c[1][2] - c[2][1]) / s};
  } else if (m11 > m22) {
    const double s = std::sqrt(1.0 + m11 - m00 - m22) * 2;
    q = {(c[1][0] + c[0][1]) / s, 0.25 * s, (c[2][1] + c[1][2]) / s, (c[2][0] - c[0][2]) / s};
  } else {
    const double s = std::sqrt(1.0 + m22 - m00 - m11) * 2;
    q = {(c[2][0] + c[0][2]) / s, (c[2][1] + c[1][2]) / s, 0.25 * s, (c[0][1] - c[1][0]) / s};
  }
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (double& e : q) e /= n;
  return q;
}

// Translation; scale from the column lengths, the x one negative when the
// determinant is; the rotation of the normalised columns.
Decomposed Decompose(const Mat4& m) {
  double c[3][3];
  Vec3 s;
  for (int k = 0; k < 3; ++k) {
    s[k] =
        std::sqrt(m[k * 4] * m[k * 4] + m[k * 4 + 1] * m[k * 4 + 1] + m[k * 4 + 2] * m[k * 4 + 2]);
  }
  const double det = m[0] * (m[5] * m[10] - m[6] * m[9]) - m[4] * (m[1] * m[10] - m[2] * m[9]) +
                     m[8] * (m[1] * m[6] - m[2] * m[5]);
  if (det < 0) s[0] = -s[0];
  for (int k = 0; k < 3; ++k) {
    for (int r = 0; r < 3; ++r) c[k][r] = s[k] != 0 ? m[k * 4 + r] / s[k] : (k == r ? 1 : 0);
  }
  bool sheared = false;
  for (int a = 0; a < 3; ++a) {
    const int b = (a + 1) % 3;
    const double dot = c[a][0] * c[b][0] + c[a][1] * c[b][1] + c[a][2] * c[b][2];
    if (std::fabs(dot) > 1e-5) sheared = true;
  }
  return {{m[12], m[13], m[14]}, FromRotation(c), s, sheared};
}

[[noreturn, gnu::cold, gnu::noinline]] void BeyondSinglePrecision(const char* list, int index) {
  ThrowFault(At(list, index),
             "expected values within single precision (a position, scale or point beyond 3.4e38)");
}

}  // namespace tq::scene::gltf
