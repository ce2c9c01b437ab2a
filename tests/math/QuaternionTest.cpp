#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

#include <gtest/gtest.h>

#include "math/Quaternion.h"

namespace {

std::uint32_t Bits(float f) {
  return std::bit_cast<std::uint32_t>(f);
}

// A rotation computed through a dozen single-precision roundings of values
// below 1 stays within a few float epsilons (1.2e-7 each) of the exact one.
constexpr float kRotationTolerance = 1e-6f;
// Angles come back through atan2 of such vectors; 1e-6 in a unit vector is
// about 6e-5 degrees, doubled for the second turn.
constexpr float kDegreesTolerance = 2e-4f;

void ExpectNear(const Vector& a, const Vector& b, float tolerance) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

TEST(Quaternion, ConstantsHaveTheirBitPatterns) {
  EXPECT_EQ(Bits(kDegreesPerRadianF), 0x42652EE1u);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(RotateEuler::kD), 0x404CA5DC20000000u);
}

TEST(Quaternion, HamiltonProductOfUnits) {
  const Quaternion i(1, 0, 0, 0), j(0, 1, 0, 0);
  const Quaternion k = i * j;
  EXPECT_EQ(k.v, Vector(0, 0, 1));
  EXPECT_EQ(k.w, 0.0f);
  const Quaternion minusK = j * i;
  EXPECT_EQ(minusK.v, Vector(0, 0, -1));
}

TEST(Quaternion, ConjugateOfIdentityNegatesZeros) {
  const Quaternion c = Quaternion(0, 0, 0, 1).Conjugate();
  EXPECT_EQ(Bits(c.v.x), 0x80000000u);
  EXPECT_EQ(Bits(c.v.y), 0x80000000u);
  EXPECT_EQ(Bits(c.v.z), 0x80000000u);
  EXPECT_EQ(c.w, 1.0f);
}

TEST(Quaternion, RightHandedQuarterTurns) {
  const float half = std::numbers::pi_v<float> / 2;
  ExpectNear(XRotateRadiansQ(half) * Vector(0, 1, 0), Vector(0, 0, 1), kRotationTolerance);
  ExpectNear(YRotateRadiansQ(half) * Vector(0, 0, 1), Vector(1, 0, 0), kRotationTolerance);
  Vector p(0, 1, 0);
  p *= XRotateRadiansQ(half);
  ExpectNear(p, Vector(0, 0, 1), kRotationTolerance);
}

TEST(Quaternion, ZeroAxisGivesNoRotation) {
  const Quaternion q(1.0f, Vector(0, 0, 0));
  EXPECT_EQ(q.v, Vector(0, 0, 0));
  EXPECT_EQ(Bits(q.w), Bits(std::cos(0.5f)));
}

TEST(Quaternion, YXIsYTimesX) {
  const Quaternion yx = YXRotateRadiansQ(0.7f, -0.3f);
  const Quaternion expected = YRotateRadiansQ(0.7f) * XRotateRadiansQ(-0.3f);
  const Quaternion reversed = XRotateRadiansQ(-0.3f) * YRotateRadiansQ(0.7f);
  EXPECT_EQ(Bits(yx.w), Bits(expected.w));
  EXPECT_EQ(yx.v, expected.v);
  EXPECT_FALSE(yx.v == reversed.v);
}

TEST(Quaternion, DegreesDivideByTheSinglePrecisionConstant) {
  EXPECT_EQ(Bits(180.0f / kDegreesPerRadianF), 0x40490FDAu);
  const float angle = std::bit_cast<float>(0x40490FDAu);
  const Quaternion q = YXRotateQ(180, 0);
  const Quaternion expected = YRotateRadiansQ(angle) * XRotateRadiansQ(0.0f);
  EXPECT_EQ(Bits(q.w), Bits(expected.w));
  EXPECT_EQ(q.v, expected.v);
  EXPECT_EQ(Bits(q.v.y), Bits(std::sin(angle * 0.5f)));
}

TEST(RotateEuler, IdentityGivesSignedZeros) {
  const RotateEuler e(Quaternion(0, 0, 0, 1));
  EXPECT_EQ(Bits(e.x), 0x80000000u);
  EXPECT_EQ(Bits(e.y), 0x00000000u);
  EXPECT_EQ(Bits(e.z), 0x80000000u);
}

Quaternion YXZ(float y, float x, float z) {
  const float k = kDegreesPerRadianF;
  return YRotateRadiansQ(y / k) * XRotateRadiansQ(x / k) * Quaternion(z / k, Vector(0, 0, 1));
}

TEST(RotateEuler, TakesApartYXZ) {
  const RotateEuler e(YXZ(30, 20, 10));
  EXPECT_NEAR(e.x, 20.0f, kDegreesTolerance);
  EXPECT_NEAR(e.y, 30.0f, kDegreesTolerance);
  EXPECT_NEAR(e.z, 10.0f, kDegreesTolerance);
}

TEST(RotateEuler, RoundTripOnSeededAngles) {
  std::mt19937 rng(20261208);
  std::uniform_real_distribution<float> pitch(-85.0f, 85.0f), turn(-175.0f, 175.0f);
  for (int i = 0; i < 500; ++i) {
    const float x = pitch(rng), y = turn(rng), z = turn(rng);
    const RotateEuler e(YXZ(y, x, z));
    ASSERT_NEAR(e.x, x, kDegreesTolerance * 5) << i;
    ASSERT_NEAR(e.y, y, kDegreesTolerance * 5) << i;
    ASSERT_NEAR(e.z, z, kDegreesTolerance * 5) << i;
  }
}

TEST(Quaternion, BothVectorRotationsAgreeUpToRounding) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int i = 0; i < 200; ++i) {
    const Quaternion q(u(rng) * 3.0f, Vector(u(rng), u(rng), u(rng)));
    const Vector p(u(rng), u(rng), u(rng));
    Vector inPlace = p;
    inPlace *= q;
    ExpectNear(inPlace, q * p, kRotationTolerance * 4);
    EXPECT_NEAR(inPlace.Norm(), p.Norm(), kRotationTolerance * 4);
  }
}

}  // namespace
