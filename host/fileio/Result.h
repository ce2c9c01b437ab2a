// The house form of a call that can fail, in every layer from the file
// library up: a value, or the reason there is none.
//
//   Result<Track> track = ReadAnyTrack(text, file);
//   if (!track) return Refuse(track.error);
//   Use(track->points);
//
// A failure is made with Fail("why"), which converts to any Result and to
// Status (a call that gives nothing back); the reason is never empty.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>

namespace tq {

// The reason of a failure, on its way to a Result or a Status.
struct Failure {
  std::string error;
};
inline Failure Fail(std::string why) {
  assert(!why.empty());
  return Failure{std::move(why)};
}

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}                 // NOLINT: a value is a success
  Result(Failure failure) : error(std::move(failure.error)) {}  // NOLINT

  explicit operator bool() const noexcept { return value_.has_value(); }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }
  T&& operator*() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

  std::string error;  // the reason, "" on success

 private:
  std::optional<T> value_;
};

// A call that can fail and gives nothing back.
struct [[nodiscard]] Status {
  Status() = default;                                           // success
  Status(Failure failure) : error(std::move(failure.error)) {}  // NOLINT
  explicit operator bool() const noexcept { return error.empty(); }
  std::string error;  // the reason, "" on success
};

}  // namespace tq
