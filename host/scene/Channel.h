// Animation channels: a constant, or keys at strictly increasing tick times.
//
// Interpolation: Linear (default; rotations use spherical interpolation along
// the shorter arc), Step (hold the earlier key), Smooth (Catmull-Rom for
// vectors and floats, spherical for rotations). Before the first key and
// after the last the channel holds the end key. Evaluation starts at the key
// segment asked last (O(1) for ascending times), else at the keys of t's
// bucket of ticks (O(1) for keys spaced evenly or at random, and for keys
// crowded evenly within a bucket; O(log keys) at worst). Values are
// interpolated in double and rounded to float once.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "host/scene/Time.h"
#include "math/Quaternion.h"
#include "math/Slowdown.h"
#include "math/Vector.h"

namespace tq::scene {

enum class Interpolation { kLinear, kStep, kSmooth };

// A rotation as a scene file stores it: its four components divided by
// their length in double, rounded to float; a length within 1e-7 of 1 is
// taken as 1, so a unit quaternion written in a file stays as it is. Nothing
// for a length of 0.
inline std::optional<Quaternion> UnitRotation(double x, double y, double z, double w) noexcept {
  double norm = std::sqrt(x * x + y * y + z * z + w * w);
  if (!(norm > 0.0)) return std::nullopt;
  if (std::fabs(norm - 1.0) < 1e-7) norm = 1.0;
  return Quaternion(static_cast<float>(x / norm), static_cast<float>(y / norm),
                    static_cast<float>(z / norm), static_cast<float>(w / norm));
}

// A rotation that a scene file stores and reads back bit for bit: the unit
// rotation of q, taken again until reading it once more changes nothing.
inline Quaternion StoredRotation(double x, double y, double z, double w) noexcept {
  Quaternion q = UnitRotation(x, y, z, w).value_or(Quaternion());
  for (int i = 0; i < 4; ++i) {
    const Quaternion again = UnitRotation(q.v.x, q.v.y, q.v.z, q.w).value_or(Quaternion());
    if (again.v.x == q.v.x && again.v.y == q.v.y && again.v.z == q.v.z && again.w == q.w) break;
    q = again;
  }
  return q;
}

// The angle of an arc between unit quaternions whose dot product is dot (at
// most 1), and its sine.
struct Arc {
  double angle = 0.0, sine = 0.0;
};
inline Arc ArcOf(double dot) noexcept {
  const double angle = std::acos(std::min(dot, 1.0));
  return {angle, std::sin(angle)};
}

// Spherical interpolation of unit quaternions (x, y, z, w) from a to b along
// the shorter arc, all in double, the result at unit length. `known`, when
// given, is the arc from a to b as ArcOf gives it, computed once for many u.
// Inline, so that a channel's rotation is worked out in registers: through
// memory, four doubles stored one by one and read back in pairs stalled the
// store-to-load forwarding of every slerp.
inline void SlerpShorterArc(const double a[4], const double b[4], double u, double out[4],
                            const Arc* known = nullptr) noexcept {
  // b as the end of the shorter arc from a.
  const double dot0 = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
  const bool flip = dot0 < 0.0;
  const double dot = dot0 * (flip ? -1.0 : 1.0);
  double w0 = 1.0 - u, w1 = u;
  // At u = 0 the weights below are exactly 1 and 0 (sin(a) / sin(a), sin(0)):
  // taken as they are, without the trigonometry, for times on a key.
  if (dot < 0.9999999 && u != 0.0) {
    const Arc arc = known != nullptr ? *known : ArcOf(dot);
    w0 = std::sin((1.0 - u) * arc.angle) / arc.sine;
    w1 = std::sin(u * arc.angle) / arc.sine;
  }
  // Written out a value at a time: as loops, the sums were worked out two
  // values at a time, loaded in pairs from values stored one at a time, and
  // each load waited on its stores.
  const double r0 = w0 * a[0] + w1 * (flip ? -b[0] : b[0]);
  const double r1 = w0 * a[1] + w1 * (flip ? -b[1] : b[1]);
  const double r2 = w0 * a[2] + w1 * (flip ? -b[2] : b[2]);
  const double r3 = w0 * a[3] + w1 * (flip ? -b[3] : b[3]);
  const double norm = std::sqrt(r0 * r0 + r1 * r1 + r2 * r2 + r3 * r3);
  out[0] = r0 / norm;
  out[1] = r1 / norm;
  out[2] = r2 / norm;
  out[3] = r3 / norm;
}

template <class T>
struct Key {
  Time time;
  T value;
};

// The value at u in [0, 1] between b and c, with neighbours a and d (the
// outer keys of a Catmull-Rom segment; ignored by the linear form).
inline float Blend(Interpolation mode, float a, float b, float c, float d, double u) noexcept {
  if (mode != Interpolation::kSmooth)
    return static_cast<float>(b + (c - static_cast<double>(b)) * u);
  const double u2 = u * u, u3 = u2 * u;
  const double A = a, B = b, C = c, D = d;
  return static_cast<float>(0.5 *
                            ((2.0 * B) + (C - A) * u + (2.0 * A - 5.0 * B + 4.0 * C - D) * u2 +
                             (3.0 * B - A - 3.0 * C + D) * u3));
}
inline Vector Blend(Interpolation mode, const Vector& a, const Vector& b, const Vector& c,
                    const Vector& d, double u) noexcept {
  return {Blend(mode, a.x, b.x, c.x, d.x, u), Blend(mode, a.y, b.y, c.y, d.y, u),
          Blend(mode, a.z, b.z, c.z, d.z, u)};
}
// Spherical interpolation from b to c along the shorter arc (the arc from b
// to c, when known); the neighbours play no part.
inline Quaternion Blend(Interpolation, const Quaternion&, const Quaternion& b, const Quaternion& c,
                        const Quaternion&, double u, const Arc* known = nullptr) noexcept {
  const double q0[4] = {b.v.x, b.v.y, b.v.z, b.w};
  const double q1[4] = {c.v.x, c.v.y, c.v.z, c.w};
  double r[4];
  SlerpShorterArc(q0, q1, u, r, known);
  return Quaternion(static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2]),
                    static_cast<float>(r[3]));
}
// The arc from b to c that Blend follows.
Arc ArcBetween(const Quaternion& b, const Quaternion& c) noexcept;

template <class T>
class Channel {
 public:
  Channel() = default;
  explicit Channel(const T& constant) : constant_(constant) {}
  Channel(Interpolation mode, const std::vector<Key<T>>& keys) : mode_(mode) {
    std::vector<Time> times;
    std::vector<T> values;
    times.reserve(keys.size());
    values.reserve(keys.size());
    for (const Key<T>& k : keys) {
      times.push_back(k.time);
      values.push_back(k.value);
    }
    Keep(std::move(times), std::move(values));
  }
  // The keys as times (each later than the one before) and their values.
  Channel(Interpolation mode, std::vector<Time> times, std::vector<T> values) : mode_(mode) {
    Keep(std::move(times), std::move(values));
  }
  // Copied, never moved from: a copy shares the keys, and each keeps its own
  // place among them.
  Channel(const Channel&) = default;
  Channel& operator=(const Channel&) = default;

  T Evaluate(Time t) const noexcept {
    if constexpr (kBenchSlowdown) {
      // The benchmarks' slowdown build (math/Slowdown.h): the work done
      // once more first, in the other half of the keys, as far after the
      // middle key as t is after the first (or the other way round), so
      // that the repeat finds neither its keys in the cache nor its segment
      // remembered, and meets keys spaced as t's are wherever the spacing
      // repeats (a mirrored time put a time in a crowd of keys among even
      // ones); what it remembers is put back.
      if (n_ > 1) {
        const auto hint = hint_;
        const auto arc = arc_;
        const std::int64_t half = std::int64_t{times_[n_ / 2]} - times_[0];
        const std::int64_t shifted = t < times_[n_ / 2] ? t + half : t - half;
        const Time there = static_cast<Time>(
            std::clamp<std::int64_t>(shifted, std::int64_t{times_[0]}, times_[n_ - 1]));
        const T once = EvaluateOnce(there);
        asm volatile("" : : "r"(&once) : "memory");
        hint_ = hint;
        arc_ = arc;
      }
    }
    return EvaluateOnce(t);
  }

  // The value at t where it is one kept as it is: the constant, or the end
  // key at or beyond which t lies; nullptr for a time between keys.
  const T* Held(Time t) const noexcept {
    if (n_ == 0) return &constant_;
    if (t <= times_[0]) return values_;
    if (t >= times_[n_ - 1]) return values_ + (n_ - 1);
    return nullptr;
  }

  bool IsAnimated() const noexcept { return n_ != 0; }
  // What the channel holds, for writing it out.
  const T& Constant() const noexcept { return constant_; }
  Interpolation Mode() const noexcept { return mode_; }
  const std::vector<Time>& Times() const noexcept { return keys_ ? keys_->times : None().times; }
  const std::vector<T>& Values() const noexcept { return keys_ ? keys_->values : None().values; }

 private:
  T EvaluateOnce(Time t) const noexcept {
    if (n_ == 0) return constant_;
    if (t <= times_[0]) return values_[0];
    if (t >= times_[n_ - 1]) return values_[n_ - 1];
    // t lies between keys i-1 and i.
    const std::size_t i = Segment(t);
    const T& b = values_[i - 1];
    const T& c = values_[i];
    if (mode_ == Interpolation::kStep) return b;
    const T& a = i >= 2 ? values_[i - 2] : b;
    const T& d = i + 1 < n_ ? values_[i + 1] : c;
    const double u =
        static_cast<double>(t - times_[i - 1]) / static_cast<double>(times_[i] - times_[i - 1]);
    if constexpr (std::is_same_v<T, Quaternion>) {
      // The arc of a segment is the same for every time inside it: its
      // angle and sine are worked out once for the times asked in a row,
      // and not at all for a time on a key (u = 0, where the slerp takes
      // its weights as 1 and 0 without it): keys every frame, evaluated on
      // their frames, never need one.
      if (u != 0.0 && arc_.segment != i) arc_ = {static_cast<std::uint32_t>(i), ArcBetween(b, c)};
      return Blend(mode_, a, b, c, d, u, &arc_.arc);
    } else {
      return Blend(mode_, a, b, c, d, u);
    }
  }

  // A channel's keys, fixed once made and shared by its copies; a constant
  // channel (most of a scene's) has none.
  struct Keys {
    std::vector<Time> times;
    std::vector<T> values;
    std::vector<std::uint32_t> first;  // the buckets (see IndexBuckets)
  };
  static const Keys& None() {
    static const Keys none;
    return none;
  }

  void Keep(std::vector<Time> times, std::vector<T> values) {
    if (times.empty()) return;
    auto keys = std::make_shared<Keys>();
    keys->times = std::move(times);
    keys->values = std::move(values);
    times_ = keys->times.data();
    values_ = keys->values.data();
    n_ = static_cast<std::uint32_t>(keys->times.size());  // tick times: at most 2^32 keys
    IndexBuckets(keys->first);
    first_ = keys->first.empty() ? nullptr : keys->first.data();
    keys_ = std::move(keys);
  }

  // The first key after t, for t inside the keys. The segment asked last, or
  // the one after it, is tried first (an export's times only ascend); else
  // the bucket of t's span of ticks gives the keys it may lie between, and a
  // binary search among those (few unless keys crowd) finds it: a lookup or
  // two however the keys are spaced, where a search from the middle, or from
  // where even spacing would put t, reads a dozen scattered keys.
  std::size_t Segment(Time t) const noexcept {
    const std::size_t n = n_;
    std::size_t i = hint_;
    if (i < n && times_[i - 1] <= t && t < times_[i]) return i;
    if (i + 1 < n && times_[i] <= t && t < times_[i + 1]) return Hint(i + 1);
    // times_[0] < t < times_[n - 1] here.
    std::size_t low = 1, high = n;
    if (first_ != nullptr) {
      const std::size_t b = static_cast<std::size_t>(
          static_cast<std::uint64_t>(std::int64_t{t} - times_[0]) >> shift_);
      low = first_[b];
      high = first_[b + 1];
      // The values at either end of the bucket's keys, fetched while its
      // times are searched: in a long channel both are far from the cache,
      // and waiting for one before asking for the other doubles the wait.
      __builtin_prefetch(&values_[low - 1]);
      __builtin_prefetch(&values_[std::min(high + 1, n - 1)]);
      if (high - low > kCrowd) Narrow(t, low, high);
    }
    return Hint(Following(t, low, high));
  }
  std::size_t Hint(std::size_t i) const noexcept {
    hint_ = static_cast<std::uint32_t>(i);
    return i;
  }

  // The first key from low to high after t (high when none).
  std::size_t Following(Time t, std::size_t low, std::size_t high) const noexcept {
    return static_cast<std::size_t>(std::upper_bound(times_ + low, times_ + high, t) - times_);
  }

  // Keys crowded into one bucket (many within a few ticks): where t would
  // lie among them were they even, and the keys about there, when they
  // bracket t; else the bucket is searched whole.
  void Narrow(Time t, std::size_t& low, std::size_t& high) const noexcept {
    const Time first = times_[low], last = times_[high - 1];
    if (t < first || t >= last) return;
    const auto guess = low + static_cast<std::size_t>(static_cast<double>(t - first) /
                                                      static_cast<double>(last - first) *
                                                      static_cast<double>(high - 1 - low));
    const std::size_t from = std::max(low, guess - std::min(guess, kNear));
    const std::size_t to = std::min(high - 1, guess + kNear);
    if (times_[from] <= t && t < times_[to]) low = from + 1, high = to;
  }

  // The buckets: the keys' span cut into 2^shift_ ticks each, at most as many
  // as there are keys; first[b] is the first key after the start of bucket
  // b (first[b + 1] the first after its end), so a time in bucket b has its
  // next key from first[b] to first[b + 1]. None for a few keys.
  void IndexBuckets(std::vector<std::uint32_t>& first) {
    const std::size_t n = n_;
    if (n < 16) return;
    const auto span = static_cast<std::uint64_t>(std::int64_t{times_[n - 1]} - times_[0]);
    while ((span >> shift_) > n) ++shift_;
    const std::size_t buckets = static_cast<std::size_t>(span >> shift_) + 1;
    first.resize(buckets + 1);
    std::size_t i = 0;
    for (std::size_t b = 0; b <= buckets; ++b) {
      const std::int64_t start =
          std::int64_t{times_[0]} + static_cast<std::int64_t>(std::uint64_t{b} << shift_);
      while (i < n && times_[i] <= start) ++i;
      first[b] = static_cast<std::uint32_t>(i);
    }
  }

  static constexpr std::size_t kCrowd = 32, kNear = 8;

  // The arc of the segment asked last, kept by rotation channels only.
  struct ArcCache {
    std::uint32_t segment = 0;  // the segment arc is of, 0 for none
    Arc arc;
  };
  struct NoArc {};

  T constant_{};
  Interpolation mode_ = Interpolation::kLinear;
  std::uint8_t shift_ = 0;
  std::uint32_t n_ = 0;             // the key count
  mutable std::uint32_t hint_ = 1;  // always from 1 to the key count - 1
  // The keys' times, values and buckets, in keys_ (read here directly, as
  // often as a channel is evaluated).
  const Time* times_ = nullptr;
  const T* values_ = nullptr;
  const std::uint32_t* first_ = nullptr;
  std::shared_ptr<const Keys> keys_;
  [[no_unique_address]] mutable std::conditional_t<std::is_same_v<T, Quaternion>, ArcCache, NoArc>
      arc_;
};

}  // namespace tq::scene
