// Host time: a signed 32-bit tick count, 135000 ticks per second.
//
// Every conversion between frames and ticks lives here, each named for the
// rounding it does:
// - FramesToTicks: frame / fps * 135000 (the division first), rounded half
//   away from zero; nothing when it does not fit. The scene loader's.
// - RunFrameTicks: the same with single-precision frame and rate, saturating.
//   The export's.
// - WholeFrameOfTicks: a frame read back from ticks, taken as the whole frame
//   whose export ticks they are. The dialog's, for a camera's range.
// - TicksToFramesExact: fps * (ticks / 135000), all in double. For showing.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "math/Rounding.h"

using Time = std::int32_t;

namespace tq::scene {

inline constexpr double kTicksPerSecond = 135000.0;

// A frame rate is above 0 and at most one frame a tick (NaN is none). Every
// place that takes a rate checks it here and words a refusal with
// kFrameRateRule.
inline constexpr bool IsFrameRate(double fps) noexcept {
  return fps > 0.0 && fps <= kTicksPerSecond;
}
inline constexpr const char* kFrameRateRule = "a frame rate above 0 and at most 135000";

// Rounds half away from zero to the nearest integer, in double.
inline double RoundHalfAway(double h) noexcept {
  return h < 0.0 ? std::ceil(h - 0.5) : std::floor(h + 0.5);
}

// The tick time of a frame, or nothing when it does not fit a Time (or is not
// finite).
inline std::optional<Time> FramesToTicks(double frame, double fps) noexcept {
  const double ticks = RoundHalfAway(frame / fps * kTicksPerSecond);
  if (!(ticks >= INT32_MIN && ticks <= INT32_MAX)) return std::nullopt;
  return static_cast<Time>(ticks);
}

inline double TicksToFramesExact(Time ticks, double fps) noexcept {
  return fps * (static_cast<double>(ticks) / kTicksPerSecond);
}

// The tick time at which a run evaluates a frame: double(frame) /
// double(fps) * 135000, the division first, rounded half away from zero and
// saturated to the Time range.
inline Time RunFrameTicks(float frame, float fps) noexcept {
  return RoundToInt32(static_cast<double>(frame) / static_cast<double>(fps) * kTicksPerSecond);
}

// A frame read back from a tick time through single-precision seconds (fps
// times seconds, as a camera's range is shown) can fall a little off its
// frame: 1 at 29.97 fps is 4505 ticks and reads 1.00011, 1925 at 30 fps
// reads 1924.99988. When the nearest whole frame's export ticks are these
// very ticks, that whole frame is the one meant; otherwise the reading stands
// (10 seconds at 29.97 fps stay 299.69998).
inline float WholeFrameOfTicks(float read, Time ticks, float fps) noexcept {
  const float whole = std::round(read);
  if (std::isfinite(whole) && whole != read && RunFrameTicks(whole, fps) == ticks) return whole;
  return read;
}

// Visits the frames of a run, visit(index, frame, ticks), from start in steps
// of 1.0 in single precision while the end is not below the frame, compared
// in single precision. Ends early when a step no longer moves the frame (at
// 2^24 and beyond), so that it cannot run on for ever. A camera's range
// reaches this on its whole frames (the dialog takes a range read back from
// ticks as the whole frame whose ticks it holds), so comparing frames drops
// no last frame and adds none to a typed range. Answers the number of frames
// visited.
template <class Visit>
int ForEachRunFrame(float start, float end, float fps, Visit&& visit) {
  int index = 0;
  for (float frame = start; end >= frame;) {
    visit(index, frame, RunFrameTicks(frame, fps));
    ++index;
    const float next = frame + 1.0f;
    if (next == frame) break;
    frame = next;
  }
  return index;
}

// The number of frames a run visits.
inline int RunFrameCount(float start, float end, float fps) {
  return ForEachRunFrame(start, end, fps, [](int, float, Time) {});
}

}  // namespace tq::scene
