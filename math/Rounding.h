// Rounding of double values to integers, as the host and the plug-in both do
// it: pixel coordinates, tick times; and pixel values kept to a number of
// decimals, written as text exactly.
#pragma once

#include <charconv>
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

// The most digits after the point a pixel value is written with.
inline constexpr int kMostDecimals = 6;

// 10 to the power n, for n from 0 to kMostDecimals: exact in a double.
inline constexpr std::int64_t kTenTo[kMostDecimals + 1] = {1,      10,      100,      1000,
                                                           10'000, 100'000, 1'000'000};

// A pixel value to decimals digits after the point, as the whole number of
// 10^-decimals it is: k = h x 10^decimals in double, rounded half away from
// zero exactly (std::round: the largest double below a half, which
// h + 0.5 would carry up, stays below). The range saturates as whole pixels
// do: NaN and everything at or below -2147483648 give -2147483648 x
// 10^decimals, everything at or above 2147483647 gives 2147483647 x
// 10^decimals. With 0 decimals it is RoundToInt32(h), byte for byte what the
// plug-in has always written.
inline std::int64_t RoundToDecimals(double h, int decimals) noexcept {
  if (decimals == 0) return RoundToInt32(h);
  const double scale = static_cast<double>(kTenTo[decimals]);
  const double s = h * scale;
  const double r = std::round(s);
  if (std::isnan(r) || r <= -2147483648.0 * scale) return INT32_MIN * kTenTo[decimals];
  if (r >= 2147483647.0 * scale) return INT32_MAX * kTenTo[decimals];
  return static_cast<std::int64_t>(r);
}

// Writes k, a number of 10^-decimals, at at as plain decimal text with
// exactly decimals digits after the point ("-0.250", "12.000"; no point with
// 0 decimals; zero is never signed); returns the end. Needs 21 characters
// at most.
inline char* WriteDecimals(char* at, std::int64_t k, int decimals) noexcept {
  const std::uint64_t u = k < 0 ? 0 - static_cast<std::uint64_t>(k) : static_cast<std::uint64_t>(k);
  const auto scale = static_cast<std::uint64_t>(kTenTo[decimals]);
  if (k < 0) *at++ = '-';
  // The whole part (at least "0"), then the fraction's digits from the
  // right, padded with zeros to decimals digits.
  at = std::to_chars(at, at + 20, u / scale).ptr;
  if (decimals > 0) {
    *at++ = '.';
    std::uint64_t fraction = u % scale;
    for (int i = decimals; i > 0; --i) {
      at[i - 1] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    at += decimals;
  }
  return at;
}
