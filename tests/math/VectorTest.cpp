#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "math/Vector.h"

namespace {

std::uint32_t Bits(float f) {
  return std::bit_cast<std::uint32_t>(f);
}

// Two doubles rounded to floats, kept, and added up again in double: the
// sums are of the rounded values however the compiler packs the pair (GCC's
// straight-line vectorizer once added the unrounded doubles).
[[gnu::noinline]] void KeepAndSum(const double* in, float* kept, double* sum) {
  const float x = static_cast<float>(in[0]), y = static_cast<float>(in[1]);
  kept[0] = x;
  kept[1] = y;
  sum[0] += x;
  sum[1] += y;
}

TEST(Vector, FloatsRoundedFromDoublesStayRounded) {
  const double in[2] = {0.1, 0.2};
  float kept[2];
  double sum[2] = {0.0, 0.0};
  KeepAndSum(in, kept, sum);
  EXPECT_EQ(sum[0], 0.100000001490116119384765625);
  EXPECT_EQ(sum[1], 0.20000000298023223876953125);
}

TEST(Vector, NegationFlipsSignBitsOnly) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Row {
    Vector in;
    std::uint32_t x, y, z;
  } rows[] = {
      {{0.0f, 0.0f, 0.0f}, 0x80000000u, 0x80000000u, 0x80000000u},
      {{-0.0f, 1.0f, -2.0f}, 0x00000000u, 0xBF800000u, 0x40000000u},
      {{nan, 0.0f, 0.0f}, Bits(nan) ^ 0x80000000u, 0x80000000u, 0x80000000u},
  };
  for (const Row& r : rows) {
    const Vector n = -r.in;
    EXPECT_EQ(Bits(n.x), r.x);
    EXPECT_EQ(Bits(n.y), r.y);
    EXPECT_EQ(Bits(n.z), r.z);
  }
  EXPECT_TRUE(std::isnan((-Vector(nan, 0, 0)).x));
}

TEST(Vector, DivisionIsNotMultiplicationByReciprocal) {
  Vector v(5.0f, 1.0f, -5.0f);
  v /= 3.0f;
  // 5/3 rounds to 0x3FD55555; 5 * (1/3) would give 0x3FD55556.
  EXPECT_EQ(Bits(v.x), 0x3FD55555u);
  EXPECT_EQ(Bits(v.y), Bits(1.0f / 3.0f));
  EXPECT_EQ(Bits(v.z), 0xBFD55555u);
}

TEST(Vector, Normalize) {
  Vector zero(0, 0, 0);
  zero.Normalize();
  EXPECT_EQ(Bits(zero.x), 0u);
  EXPECT_EQ(Bits(zero.y), 0u);
  EXPECT_EQ(Bits(zero.z), 0u);

  Vector v(3, 0, 4);
  v.Normalize();
  EXPECT_EQ(Bits(v.x), Bits(0.6f));
  EXPECT_EQ(Bits(v.y), 0u);
  EXPECT_EQ(Bits(v.z), Bits(0.8f));

  Vector withNan(std::numeric_limits<float>::quiet_NaN(), 1, 2);
  withNan.Normalize();
  EXPECT_TRUE(std::isnan(withNan.x) && std::isnan(withNan.y) && std::isnan(withNan.z));

  Vector huge(1e20f, 1e20f, 0);
  EXPECT_EQ(huge.Norm(), std::numeric_limits<float>::infinity());
  huge.Normalize();
  EXPECT_EQ(huge, Vector(0, 0, 0));
}

TEST(Vector, SumsRoundInOrder) {
  // (x + b.x) per component, each rounded to float.
  const Vector a(1e8f, 1.0f, 0.1f);
  const Vector b(1.0f, 1e-8f, 0.2f);
  const Vector s = a + b;
  EXPECT_EQ(Bits(s.x), Bits(1e8f));
  EXPECT_EQ(Bits(s.y), Bits(1.0f));
  EXPECT_EQ(Bits(s.z), Bits(0.1f + 0.2f));
  EXPECT_EQ(Bits((a * 2.0f).z), Bits(0.2f));
}

TEST(Vector4, RowProductAddsTranslationLast) {
  // ((1 + 1e8) - 1e8) + 1 = 1; adding w earlier would lose it to rounding.
  const Vector4 row(1.0f, 1.0f, -1.0f, 1.0f);
  EXPECT_EQ(Bits(row | Vector(1.0f, 1e8f, 1e8f)), Bits(1.0f));
}

Matrix34 Sample() {
  return Matrix34(Vector4(1, 2, 3, 4), Vector4(5, 6, 7, 8), Vector4(9, 10, 11, -12.5f));
}

TEST(Matrix34, TimesZeroIsTranslate) {
  const Matrix34 m = Sample();
  EXPECT_EQ(m * Vector(0, 0, 0), m.GetTranslate());
  EXPECT_EQ(m.GetTranslate(), Vector(4, 8, -12.5f));
}

TEST(Matrix34, WideningAndNarrowingRoundTripBitForBit) {
  Matrix34 m = Sample();
  m.row[1].y = -0.0f;
  m.row[2].x = std::numeric_limits<float>::quiet_NaN();
  const Matrix44 wide = ToMatrix44(m);
  EXPECT_EQ(wide.row[3].x, 0.0f);
  EXPECT_EQ(wide.row[3].w, 1.0f);
  const Matrix34 back = ToMatrix34(wide);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Bits(back.row[i].x), Bits(m.row[i].x));
    EXPECT_EQ(Bits(back.row[i].y), Bits(m.row[i].y));
    EXPECT_EQ(Bits(back.row[i].z), Bits(m.row[i].z));
    EXPECT_EQ(Bits(back.row[i].w), Bits(m.row[i].w));
  }
  Matrix44 junk = wide;
  junk.row[3] = Vector4(7, 7, 7, 7);
  EXPECT_EQ(ToMatrix34(junk).GetTranslate(), m.GetTranslate());
}

TEST(Matrix34, AffineTransformOfPoint) {
  const Matrix34 m = Sample();
  EXPECT_EQ(m * Vector(1, 0, 0), Vector(5, 13, -3.5f));
  EXPECT_EQ(m * Vector(1, 1, 1), Vector(10, 26, 17.5f));
}

}  // namespace
