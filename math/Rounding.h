// Rounding of double values to 32-bit integers, as the host and the plug-in
// both do it: pixel coordinates, tick times.
#pragma once

#include <cmath>
#include <cstdint>

// Half away from zero: h + 0.5 truncated for h >= 0, h - 0.5 truncated below.
// Values that are not finite or do not fit saturate instead of overflowing:
// NaN and everything at or below -2147483648 give -2147483648, +infinity and
// everything at or above 2147483647 give 2147483647.
inline std::int32_t RoundToInt32(double h) noexcept {
  const double r = h >= 0.0 ? std::trunc(h + 0.5) : std::trunc(h - 0.5);
  if (std::isnan(r) || r <= -2147483648.0) return INT32_MIN;
  if (r >= 2147483647.0) return INT32_MAX;
  return static_cast<std::int32_t>(r);
}
