// Animation channels: a constant, or keys at strictly increasing tick times.
//
// Interpolation: Linear (default; rotations use spherical interpolation along
// the shorter arc), Step (hold the earlier key), Smooth (Catmull-Rom for
// vectors and floats, spherical for rotations). Before the first key and
// after the last the channel holds the end key. Evaluation is a binary search,
// O(log keys). Values are interpolated in double and rounded to float once.
#pragma once

#include <algorithm>
#include <vector>

#include "host/scene/Time.h"
#include "math/Quaternion.h"
#include "math/Vector.h"

namespace tq::scene {

enum class Interpolation { kLinear, kStep, kSmooth };

template <class T>
struct Key {
  Time time;
  T value;
};

// The value at u in [0, 1] between b and c, with neighbours a and d (the
// outer keys of a Catmull-Rom segment; ignored by the linear form).
float Blend(Interpolation mode, float a, float b, float c, float d, double u) noexcept;
Vector Blend(Interpolation mode, const Vector& a, const Vector& b, const Vector& c, const Vector& d,
             double u) noexcept;
Quaternion Blend(Interpolation mode, const Quaternion& a, const Quaternion& b, const Quaternion& c,
                 const Quaternion& d, double u) noexcept;

template <class T>
class Channel {
 public:
  Channel() = default;
  explicit Channel(const T& constant) : constant_(constant) {}
  Channel(Interpolation mode, std::vector<Key<T>> keys) : mode_(mode), keys_(std::move(keys)) {}

  T Evaluate(Time t) const noexcept {
    if (keys_.empty()) return constant_;
    if (t <= keys_.front().time) return keys_.front().value;
    if (t >= keys_.back().time) return keys_.back().value;
    // The first key after t; t lies between keys i-1 and i.
    const auto after = std::upper_bound(keys_.begin(), keys_.end(), t,
                                        [](Time when, const Key<T>& k) { return when < k.time; });
    const std::size_t i = static_cast<std::size_t>(after - keys_.begin());
    const Key<T>& b = keys_[i - 1];
    const Key<T>& c = keys_[i];
    if (mode_ == Interpolation::kStep) return b.value;
    const Key<T>& a = i >= 2 ? keys_[i - 2] : b;
    const Key<T>& d = i + 1 < keys_.size() ? keys_[i + 1] : c;
    const double u = static_cast<double>(t - b.time) / static_cast<double>(c.time - b.time);
    return Blend(mode_, a.value, b.value, c.value, d.value, u);
  }

  bool IsAnimated() const noexcept { return !keys_.empty(); }
  const std::vector<Key<T>>& Keys() const noexcept { return keys_; }

 private:
  T constant_{};
  Interpolation mode_ = Interpolation::kLinear;
  std::vector<Key<T>> keys_;
};

}  // namespace tq::scene
