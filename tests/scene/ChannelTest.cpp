#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

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

TEST(Time, RunFramesAndTheirTicks) {
  struct Row {
    float start, end, fps;
    std::vector<float> frames;
    std::vector<Time> ticks;
  } rows[] = {
      {10, 12, 30, {10, 11, 12}, {45000, 49500, 54000}},
      {0.5f, 2, 30, {0.5f, 1.5f}, {2250, 6750}},
      {0, 10.5f, 30, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {}},
      {5, 4, 30, {}, {}},
      {0, 1, 7, {0, 1}, {0, 19286}},
      {0, 10.9999f, 30, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {}},
      {0.0001f, 2, 30, {0.0001f, 1.0001f}, {}},
  };
  for (const Row& r : rows) {
    std::vector<float> frames;
    std::vector<Time> ticks;
    tq::scene::ForEachRunFrame(r.start, r.end, r.fps, [&](int index, float frame, Time t) {
      EXPECT_EQ(index, static_cast<int>(frames.size()));
      frames.push_back(frame);
      ticks.push_back(t);
    });
    EXPECT_EQ(frames, r.frames) << r.start << " to " << r.end;
    if (!r.ticks.empty()) {
      EXPECT_EQ(ticks, r.ticks) << r.start << " to " << r.end;
    }
  }
  // Ticks that saturate do not end a run early or let it run on.
  EXPECT_EQ(tq::scene::RunFrameCount(0, 3, 1e-6f), 4);
  // A step that no longer moves the frame ends the run.
  EXPECT_EQ(tq::scene::RunFrameCount(16777216.0f, 16777220.0f, 1e6f), 1);
}

// The segment remembered from the last evaluation never changes a value:
// ascending, descending, repeated and random times give bit for bit what a
// fresh channel (with nothing remembered) gives.
TEST(Channel, RememberedSegmentGivesTheSameValues) {
  // Keys nearly evenly spaced, keys crowded at the start (where a search
  // that guesses from even spacing lands far off), and a crowd of keys one
  // tick apart between keys far apart (many keys in one span of ticks).
  std::vector<Key<float>> even, crowded, bunched;
  for (int i = 0; i < 50; ++i) {
    even.push_back({i * 100 + (i % 3) * 7, static_cast<float>(i * i)});
    crowded.push_back({i * i * 2 + i, static_cast<float>(i)});
  }
  for (int i = 0; i < 200; ++i)
    bunched.push_back({i < 20 ? i * 97 : i < 120 ? 1900 + i : i * 997, static_cast<float>(i % 9)});
  for (const auto& keys : {even, crowded, bunched})
    for (const Interpolation mode :
         {Interpolation::kLinear, Interpolation::kStep, Interpolation::kSmooth}) {
      // (A copy that outlives the channel it was copied from: they share the keys.)
      auto original = std::make_unique<Channel<float>>(mode, keys);
      const Channel<float> remembering = *original;
      original.reset();
      std::mt19937 rng(3);
      std::uniform_int_distribution<Time> any(-100, keys.back().time + 100);
      std::vector<Time> times;
      for (Time t = -50; t < 5100; t += 37) times.push_back(t);
      for (Time t = 5100; t > -50; t -= 53) times.push_back(t);
      for (int n = 0; n < 500; ++n) times.push_back(any(rng));
      for (const Key<float>& k : keys)
        for (Time t = k.time - 1; t <= k.time + 1; ++t) times.push_back(t);
      times.push_back(times.back());
      for (const Time t : times) {
        const Channel<float> fresh(mode, keys);
        ASSERT_EQ(std::bit_cast<std::uint32_t>(remembering.Evaluate(t)),
                  std::bit_cast<std::uint32_t>(fresh.Evaluate(t)))
            << t;
        if (mode != Interpolation::kLinear) continue;
        // And what a plain binary search and the linear formula give.
        float expected = keys.front().value;
        if (t >= keys.back().time) {
          expected = keys.back().value;
        } else if (t > keys.front().time) {
          const auto after =
              std::upper_bound(keys.begin(), keys.end(), t,
                               [](Time when, const Key<float>& k) { return when < k.time; });
          const Key<float>& b = *(after - 1);
          const Key<float>& c = *after;
          const double u = static_cast<double>(t - b.time) / static_cast<double>(c.time - b.time);
          expected = static_cast<float>(b.value + (static_cast<double>(c.value) - b.value) * u);
        }
        ASSERT_EQ(std::bit_cast<std::uint32_t>(remembering.Evaluate(t)),
                  std::bit_cast<std::uint32_t>(expected))
            << t;
      }
    }
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
