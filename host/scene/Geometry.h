// A model's geometry as the scene library keeps it: points and patches of
// 16 bytes each, made in place in blocks that never move (Blocks), and the
// model cache that holds them. Part of Scene.h, which includes it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "host/scene/Arena.h"
#include "math/Vector.h"

// A point, its head and a patch's corners name other points by their
// distance (see host/scene/Arena.h): a point and a patch take 16 bytes
// each. They are made in place in the model cache's blocks and never copied.
class alignas(16) HCP {
 public:
  explicit HCP(Vector position) : position_(position) {}
  HCP(const HCP&) = delete;
  HCP& operator=(const HCP&) = delete;
  HCP* GetHead() const { return tq::scene::ArenaAt<HCP>(this, head_); }
  Vector GetModelPosition() const { return position_; }
  void SetHead(HCP* head) { head_ = tq::scene::ArenaDistance(this, head); }
  // Moves the point (host-side editing; the plug-in only reads).
  void SetModelPosition(Vector position) { position_ = position; }

 private:
  Vector position_;
  std::int32_t head_ = 0;  // 0: its own head
};

class alignas(16) HPatch {
 public:
  HPatch(HCP* a, HCP* b, HCP* c, HCP* d)
      : cp_{tq::scene::ArenaDistance(this, a), tq::scene::ArenaDistance(this, b),
            tq::scene::ArenaDistance(this, c), tq::scene::ArenaDistance(this, d)} {}
  HPatch(const HPatch&) = delete;
  HPatch& operator=(const HPatch&) = delete;
  HCP* GetCP1() const { return tq::scene::ArenaAt<HCP>(this, cp_[0]); }
  HCP* GetCP2() const { return tq::scene::ArenaAt<HCP>(this, cp_[1]); }
  HCP* GetCP3() const { return tq::scene::ArenaAt<HCP>(this, cp_[2]); }
  HCP* GetCP4() const { return tq::scene::ArenaAt<HCP>(this, cp_[3]); }

 private:
  std::int32_t cp_[4];
};

class alignas(16) HPatch5 : public HPatch {
 public:
  HPatch5(HCP* a, HCP* b, HCP* c, HCP* d, HCP* e)
      : HPatch(a, b, c, d), cp5_(tq::scene::ArenaDistance(this, e)) {}
  HCP* GetCP5() const { return tq::scene::ArenaAt<HCP>(this, cp5_); }
  HPatch5* GetNextPatch5() const {
    return next_ == 0 ? nullptr : tq::scene::ArenaAt<HPatch5>(this, next_);
  }
  void SetNext(HPatch5* next) {
    next_ = next == nullptr ? 0 : tq::scene::ArenaDistance(this, next);
  }

 private:
  std::int32_t cp5_;
  std::int32_t next_ = 0;  // 0: none
};

static_assert(sizeof(HCP) == 16 && sizeof(HPatch) == 16);

// Values kept in blocks that never move, so that a handle stays valid as
// more are added: block b holds 2^(b + 4) values, so a model of a few points
// costs a few, a million-point one about twenty allocations (where a
// std::deque makes one every 512 bytes), and the i-th value is found with a
// bit scan. The blocks come from the geometry's stretch of address space
// (host/scene/Arena.h).
template <class T>
class Blocks {
 public:
  Blocks() = default;
  Blocks(const Blocks&) = delete;
  Blocks& operator=(const Blocks&) = delete;
  ~Blocks() {
    if constexpr (!std::is_trivially_destructible_v<T>) {
      for (std::size_t i = size_; i-- > 0;) (*this)[i].~T();
    }
    for (std::size_t b = 0; b < blocks_.size(); ++b)
      tq::scene::ArenaRelease(blocks_[b], sizeof(T) * BlockSize(b));
  }

  template <class... Args>
  T& emplace_back(Args&&... args) {
    const Where w = Find(size_);
    if (w.block == blocks_.size()) Grow();
    T* at = new (blocks_[w.block] + w.offset) T(std::forward<Args>(args)...);
    ++size_;
    return *at;
  }
  // n values appended in order, a run of neighbours at a time:
  // fill(at, first, count) makes values first to first + count - 1 (of the
  // n) at at[0] to at[count - 1]; a run counts once fill returns. For values
  // that need no destructor, so that a fill that throws leaves nothing to
  // undo (its run is not counted).
  template <class Fill>
  void AppendRuns(std::size_t n, Fill&& fill) {
    static_assert(std::is_trivially_destructible_v<T>);
    for (std::size_t i = 0; i < n;) {
      const Where w = Find(size_);
      if (w.block == blocks_.size()) Grow();
      const std::size_t count = std::min(n - i, BlockSize(w.block) - w.offset);
      fill(blocks_[w.block] + w.offset, i, count);
      size_ += count;
      i += count;
    }
  }
  // Values first, first + 1, ... in turn, each found without a lookup;
  // first and every value asked of it must exist.
  class Cursor {
   public:
    Cursor(const Blocks& blocks, std::size_t first) : blocks_(blocks) {
      const Where w = Find(first);
      Enter(w.block, w.offset);
    }
    T* Next() {
      if (at_ == end_) Enter(block_ + 1, 0);
      return at_++;
    }

   private:
    void Enter(std::size_t block, std::size_t offset) {
      block_ = block;
      at_ = blocks_.blocks_[block] + offset;
      end_ = blocks_.blocks_[block] + BlockSize(block);
    }
    const Blocks& blocks_;
    std::size_t block_ = 0;
    T* at_ = nullptr;
    T* end_ = nullptr;
  };
  T& operator[](std::size_t i) const {
    const Where w = Find(i);
    return blocks_[w.block][w.offset];
  }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T& front() const { return (*this)[0]; }
  T& back() const { return (*this)[size_ - 1]; }

 private:
  static constexpr unsigned kFirstShift = 4;
  struct Where {
    std::size_t block, offset;
  };
  static std::size_t BlockSize(std::size_t block) noexcept {
    return std::size_t{1} << (block + kFirstShift);
  }
  void Grow() {
    blocks_.reserve(blocks_.size() + 1);
    blocks_.push_back(
        static_cast<T*>(tq::scene::ArenaAllocate(sizeof(T) * BlockSize(blocks_.size()))));
  }
  static Where Find(std::size_t i) noexcept {
    const std::size_t j = i + (std::size_t{1} << kFirstShift);
    const std::size_t top = static_cast<std::size_t>(std::bit_width(j)) - 1;
    return {top - kFirstShift, j - (std::size_t{1} << top)};
  }
  std::vector<T*> blocks_;
  std::size_t size_ = 0;
};

// A model's geometry. Its patch lists are built by FindPatches: before that
// call the cache reports no patch at all. Points and patches are stored by
// value in blocks that never move, so a handle stays valid as more are added
// and a million-patch model costs close to its packed size.
class HModelCache {
 public:
  void FindPatches() { found_ = true; }
  int GetPatchCount() const { return found_ ? static_cast<int>(patches_.size()) : 0; }
  HPatch* GetPatch(unsigned int i) const;
  HPatch5* GetHeadPatch5() const {
    return found_ && !patches5_.empty() ? &patches5_.front() : nullptr;
  }

  // Building the geometry (loader and tests).
  HCP* AddPoint(Vector position);
  HCP* Point(std::size_t i) const { return &points_[i]; }
  std::size_t PointCount() const { return points_.size(); }
  void AddPatch(HCP* a, HCP* b, HCP* c, HCP* d);
  void AddPatch5(HCP* a, HCP* b, HCP* c, HCP* d, HCP* e);
  // n points and n patches appended a run of neighbours at a time (see
  // Blocks::AppendRuns): fill(at, first, count) makes each with placement
  // new.
  template <class Fill>
  void AddPoints(std::size_t n, Fill&& fill) {
    points_.AppendRuns(n, fill);
  }
  template <class Fill>
  void AddPatches(std::size_t n, Fill&& fill) {
    patches_.AppendRuns(n, fill);
  }
  // Points first, first + 1, ... in turn (each must exist), without a
  // lookup a point.
  using PointCursor = Blocks<HCP>::Cursor;
  PointCursor Points(std::size_t first) const { return PointCursor(points_, first); }

 private:
  bool found_ = false;
  // Handles to the geometry are the host's to hand out from a const cache.
  Blocks<HCP> points_;
  Blocks<HPatch> patches_;
  Blocks<HPatch5> patches5_;
};
