#include <bit>
#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "host/scene/Channel.h"
#include "host/scene/Time.h"

namespace {

using tq::scene::Channel;
using tq::scene::Interpolation;
using tq::scene::Key;

TEST(Time, FramesToTicksRoundsHalfAwayFromZero) {
  struct Row {
    double frame, fps;
    Time ticks;
  } rows[] = {
      {1, 30, 4500},   {0.5, 30, 2250}, {1, 7, 19286},
      {-1, 7, -19286}, {0, 29.97, 0},   {10, 24, 56250},
  };
  for (const Row& r : rows) {
    const auto t = tq::scene::FramesToTicks(r.frame, r.fps);
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(*t, r.ticks) << r.frame << " @" << r.fps;
  }
  EXPECT_EQ(tq::scene::RoundHalfAway(0.5), 1.0);
  EXPECT_EQ(tq::scene::RoundHalfAway(-0.5), -1.0);
  EXPECT_EQ(tq::scene::RoundHalfAway(-0.4), 0.0);
  EXPECT_EQ(tq::scene::RoundHalfAway(2.5), 3.0);
  EXPECT_FALSE(tq::scene::FramesToTicks(1e9, 30).has_value());
  EXPECT_FALSE(tq::scene::FramesToTicks(NAN, 30).has_value());
  EXPECT_EQ(tq::scene::TicksToFramesExact(270000, 30), 60.0);
}

TEST(Channel, ConstantAndEnds) {
  const Channel<float> constant(35.0f);
  EXPECT_EQ(constant.Evaluate(-100), 35.0f);
  const Channel<float> keyed(Interpolation::kLinear, {{0, 10.0f}, {100, 20.0f}});
  EXPECT_EQ(keyed.Evaluate(-5), 10.0f);
  EXPECT_EQ(keyed.Evaluate(0), 10.0f);
  EXPECT_EQ(keyed.Evaluate(50), 15.0f);
  EXPECT_EQ(keyed.Evaluate(100), 20.0f);
  EXPECT_EQ(keyed.Evaluate(1000), 20.0f);
}

TEST(Channel, StepHoldsTheEarlierKey) {
  const Channel<Vector> c(Interpolation::kStep, {{0, {0, 0, 0}}, {10, {1, 2, 3}}, {20, {4, 5, 6}}});
  EXPECT_EQ(c.Evaluate(9), Vector(0, 0, 0));
  EXPECT_EQ(c.Evaluate(10), Vector(1, 2, 3));
  EXPECT_EQ(c.Evaluate(19), Vector(1, 2, 3));
}

TEST(Channel, SmoothPassesThroughKeysAndStaysLinearOnALine) {
  std::vector<Key<float>> keys;
  for (int i = 0; i < 100; ++i) keys.push_back({i * 10, static_cast<float>(i * 2)});
  const Channel<float> c(Interpolation::kSmooth, keys);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(c.Evaluate(i * 10), static_cast<float>(i * 2));
  // Catmull-Rom of evenly spaced collinear keys is the line itself between
  // inner keys; the end segments repeat their end key as the outer neighbour.
  EXPECT_EQ(c.Evaluate(505), 101.0f);
  EXPECT_EQ(c.Evaluate(5), 0.875f);
}

TEST(Channel, RotationsTakeTheShorterArc) {
  // 0 and 270 degrees about Y: the shorter way is through -45, not +135.
  const Quaternion a(0.0f, Vector(0, 1, 0));
  const Quaternion b(4.712389f, Vector(0, 1, 0));
  const Channel<Quaternion> c(Interpolation::kLinear, {{0, a}, {100, b}});
  const Vector z = c.Evaluate(50) * Vector(0, 0, 1);
  EXPECT_NEAR(z.x, -std::sqrt(0.5f), 1e-6f);
  EXPECT_NEAR(z.z, std::sqrt(0.5f), 1e-6f);
  const Quaternion mid = c.Evaluate(50);
  EXPECT_NEAR(mid.v.Norm() * mid.v.Norm() + mid.w * mid.w, 1.0f, 1e-6f);
}

}  // namespace
