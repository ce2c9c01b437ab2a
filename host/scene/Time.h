// Host time: a signed 32-bit tick count, 135000 ticks per second.
//
// Every conversion between frames and ticks lives here, each named for the
// rounding it does:
// - FramesToTicks: frame / fps * 135000 (the division first), rounded half
//   away from zero; nothing when it does not fit. The scene loader's.
// - RunFrameTicks: the same with single-precision frame and rate, saturating.
//   The export's, and so the rule of which frames a run visits.
// - TicksToFramesExact: fps * (ticks / 135000), all in double. For showing.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "math/Rounding.h"

using Time = std::int32_t;

namespace tq::scene {

inline constexpr double kTicksPerSecond = 135000.0;

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

// The end of a run in ticks: the tick time of the end frame raised by two
// units in the last place. An end frame read from a camera's range comes
// through single-precision seconds, which can take up to two units off a
// whole frame (63 at 30 fps reads as 62.999996, 1925 as 1924.99988, a whole
// half tick short); raised by two it is back on its frame's tick, while a
// typed end such as 10.5 keeps its tick.
inline Time RunEndTicks(float end, float fps) noexcept {
  const float raised = std::nextafter(std::nextafter(end, INFINITY), INFINITY);
  return RunFrameTicks(raised, fps);
}

// Visits the frames of a run, visit(index, frame, ticks), from start in steps
// of 1.0 in single precision, while the frame's tick time is not after
// RunEndTicks. Ends early when a step no longer moves the frame (at 2^24 and
// beyond), and falls back to comparing frames when the end's tick time
// saturates, so that neither can run on for ever. Answers the number of
// frames visited.
template <class Visit>
int ForEachRunFrame(float start, float end, float fps, Visit&& visit) {
  const Time endTicks = RunEndTicks(end, fps);
  const bool endSaturated = endTicks == INT32_MIN || endTicks == INT32_MAX;
  int index = 0;
  for (float frame = start;;) {
    const Time t = RunFrameTicks(frame, fps);
    if (endSaturated ? !(end >= frame) : t > endTicks) break;
    visit(index, frame, t);
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
