// Host time: a signed 32-bit tick count, 135000 ticks per second.
//
// Frames become ticks as frame / fps * 135000 (the division first), rounded
// half away from zero; ticks become frames as fps * (ticks / 135000).
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

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

inline double TicksToFrames(Time ticks, double fps) noexcept {
  return fps * (static_cast<double>(ticks) / kTicksPerSecond);
}

}  // namespace tq::scene
