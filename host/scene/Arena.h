// One stretch of address space for every scene's geometry (points and
// patches), so that any two of them lie within 32 GiB of each other and a
// point or patch can name another by a 32-bit distance: a point takes 16
// bytes where a pointer to its head made it 24, a patch 16 where four
// pointers made it 32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace tq::scene {

// A block of bytes (rounded up to a power of two, at least 256) from the
// stretch, aligned to its size up to 2 MiB; throws std::bad_alloc when the
// stretch is full or cannot be reserved. Thread-safe.
void* ArenaAllocate(std::size_t bytes);
// Gives back a block ArenaAllocate made with the same bytes.
void ArenaRelease(void* block, std::size_t bytes) noexcept;

// Geometry values name each other by their distance in 16-byte steps.
inline constexpr std::size_t kArenaStep = 16;

inline std::int32_t ArenaDistance(const void* from, const void* to) {
  const auto d = static_cast<std::intptr_t>(reinterpret_cast<std::uintptr_t>(to) -
                                            reinterpret_cast<std::uintptr_t>(from)) /
                 static_cast<std::intptr_t>(kArenaStep);
  if (d < INT32_MIN || d > INT32_MAX)
    throw std::length_error("geometry values more than 32 GiB apart");
  return static_cast<std::int32_t>(d);
}

template <class T>
T* ArenaAt(const void* from, std::int32_t steps) {
  return reinterpret_cast<T*>(reinterpret_cast<std::uintptr_t>(from) +
                              static_cast<std::uintptr_t>(static_cast<std::intptr_t>(steps) *
                                                          static_cast<std::intptr_t>(kArenaStep)));
}

}  // namespace tq::scene
