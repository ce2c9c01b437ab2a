#include <bit>
#include <cmath>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "math/Quaternion.h"
#include "math/Vector.h"

namespace {

// M^-1 M of a well-conditioned affine matrix (scales 0.25..4, translations
// up to 10) in float: entries near 1 carry a few float epsilons (1.2e-7) of
// error, and the translation column scales that by the translation's size
// (10 x 4 x 1.2e-7 = 4.8e-6); 1e-5 covers both.
constexpr double kIdentityTolerance = 1e-5;

float At(const Vector4& r, int j) {
  return j == 0 ? r.x : j == 1 ? r.y : j == 2 ? r.z : r.w;
}

Quaternion RandomRotation(std::mt19937& rng) {
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  Vector axis(u(rng), u(rng), u(rng));
  if (axis.Norm() < 0.1f) axis = Vector(0, 0, 1);
  return Quaternion(u(rng) * 3.14159f, axis);
}

Matrix34 RandomAffine(std::mt19937& rng) {
  std::uniform_real_distribution<float> t(-10.0f, 10.0f), s(0.25f, 4.0f);
  Matrix34 m(RandomRotation(rng));
  const float scale[3] = {s(rng), s(rng), s(rng)};
  for (int i = 0; i < 3; ++i) {
    m.row[i].x = m.row[i].x * scale[0];
    m.row[i].y = m.row[i].y * scale[1];
    m.row[i].z = m.row[i].z * scale[2];
    m.row[i].w = t(rng);
  }
  return m;
}

TEST(Matrix44Inverse, TimesOriginalIsIdentityOnRandomAffineMatrices) {
  std::mt19937 rng(42);
  for (int n = 0; n < 200; ++n) {
    const Matrix44 m = ToMatrix44(RandomAffine(rng));
    const Matrix44 inv = m.Inverse();
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) {
        double sum = 0;
        for (int k = 0; k < 4; ++k) sum += double(At(inv.row[i], k)) * At(m.row[k], j);
        ASSERT_NEAR(sum, i == j ? 1.0 : 0.0, kIdentityTolerance) << n << " " << i << j;
      }
    }
    // The inverse of an affine matrix is affine.
    EXPECT_EQ(inv.row[3].x, 0.0f);
    EXPECT_EQ(inv.row[3].y, 0.0f);
    EXPECT_EQ(inv.row[3].z, 0.0f);
    EXPECT_EQ(inv.row[3].w, 1.0f);
  }
}

TEST(Matrix44Inverse, ExactCases) {
  const Matrix34 translate(Vector4(1, 0, 0, 4), Vector4(0, 1, 0, -5), Vector4(0, 0, 1, 6));
  const Matrix34 inv = translate.Inverse();
  EXPECT_EQ(inv.GetTranslate(), Vector(-4, 5, -6));
  EXPECT_EQ(inv * Vector(4, -5, 6), Vector(0, 0, 0));
  const Matrix34 scale(Vector4(2, 0, 0, 0), Vector4(0, 4, 0, 0), Vector4(0, 0, 0.5f, 0));
  EXPECT_EQ(scale.Inverse() * Vector(1, 1, 1), Vector(0.5f, 0.25f, 2));
}

// The affine closed form and the general elimination agree: a fourth row a
// hair from (0, 0, 0, 1) takes the general path, and the two inverses differ
// by no more than that hair allows (both are exact to double before the one
// rounding to float: a few float ulps of entries up to 4 times 10).
TEST(Matrix44Inverse, AffineClosedFormAgreesWithElimination) {
  std::mt19937 rng(7);
  for (int n = 0; n < 200; ++n) {
    const Matrix44 affine = ToMatrix44(RandomAffine(rng));
    Matrix44 general = affine;
    general.row[3].w = std::nextafter(1.0f, 2.0f);  // not affine: eliminated
    const Matrix44 a = affine.Inverse(), g = general.Inverse();
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 4; ++j) {
        const double scale = std::max(1.0, std::fabs(double(At(a.row[i], j))));
        ASSERT_NEAR(At(a.row[i], j), At(g.row[i], j), 1e-5 * scale) << n << " " << i << j;
      }
    }
  }
}

TEST(Matrix44Inverse, SingularGivesNaN) {
  const Matrix34 flat(Vector4(1, 0, 0, 0), Vector4(0, 1, 0, 0), Vector4(0, 0, 0, 0));
  Matrix44 notAffine = ToMatrix44(flat);
  notAffine.row[3].w = 2.0f;
  // Through the affine closed form and through elimination alike.
  for (const Matrix44& m : {ToMatrix44(flat), notAffine}) {
    const Matrix44 inv = m.Inverse();
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) EXPECT_TRUE(std::isnan(At(inv.row[i], j)));
    }
  }
}

// Units in the last place are taken at the point's length, which a rotation
// keeps: components that come out of cancellation have no meaningful ulp of
// their own. The matrix (built in double, rounded once per entry, applied with
// three float products and sums) stays within 2 ulp of the exact rotation;
// q p q* in float carries up to 3 ulp of its own, so the two agree within 4.
TEST(QuaternionMatrix, AgreesWithQuaternionRotation) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-10.0f, 10.0f);
  for (int n = 0; n < 2000; ++n) {
    const Quaternion q = RandomRotation(rng);
    const Vector p(u(rng), u(rng), u(rng));
    const float length = p.Norm();
    const float ulp = std::nextafter(length, INFINITY) - length;
    const Vector byMatrix = Matrix34(q) * p;
    const Vector byQuaternion = q * p;
    // The exact q p q* of the float quaternion, in double.
    const double x = q.v.x, y = q.v.y, z = q.v.z, w = q.w;
    const double px = p.x, py = p.y, pz = p.z;
    const double exact[3] = {
        (w * w + x * x - y * y - z * z) * px + 2 * (x * y - w * z) * py + 2 * (x * z + w * y) * pz,
        2 * (x * y + w * z) * px + (w * w - x * x + y * y - z * z) * py + 2 * (y * z - w * x) * pz,
        2 * (x * z - w * y) * px + 2 * (y * z + w * x) * py + (w * w - x * x - y * y + z * z) * pz};
    const float got[3] = {byMatrix.x, byMatrix.y, byMatrix.z};
    const float other[3] = {byQuaternion.x, byQuaternion.y, byQuaternion.z};
    for (int i = 0; i < 3; ++i) {
      ASSERT_LE(std::fabs(got[i] - exact[i]), 2.0 * ulp) << n << " " << i;
      ASSERT_LE(std::fabs(got[i] - other[i]), 4.0f * ulp) << n << " " << i;
    }
  }
}

TEST(QuaternionMatrix, RightHandedWithZeroTranslation) {
  const Matrix34 m(XRotateRadiansQ(1.5707964f));
  EXPECT_EQ(m.GetTranslate(), Vector(0, 0, 0));
  const Vector r = m * Vector(0, 1, 0);
  EXPECT_NEAR(r.x, 0.0f, 1e-7f);
  EXPECT_NEAR(r.y, 0.0f, 1e-7f);
  EXPECT_NEAR(r.z, 1.0f, 1.2e-7f);  // one float epsilon
  const Matrix34 identity(Quaternion(0, 0, 0, 1));
  EXPECT_EQ(identity * Vector(1, 2, 3), Vector(1, 2, 3));
}

}  // namespace
