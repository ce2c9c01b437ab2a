// Sets of names read from a scene file, for the loader's checks that a name
// is not used twice. Internal to the scene library.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

namespace tq::scene {

// Names already used, as views of the names the scene's objects keep (which
// stay where they are for the scene's life): no copy of each name. The views
// are kept in the order added; a flat table of 8-byte slots, probed in order
// from the name's hash, holds the low 32 bits of each name's hash beside its
// place among the views, so that a probe compares text only when the hashes
// agree. At most half full, so a probe ends within a slot or two, and
// loading many names touches one slot each (and the views in order), not a
// node and a bucket. The first slot is taken from the part kept, so growing
// moves slots without reading a name again.
class NameSet {
 public:
  // Room for n names without growing (a hint: more may be added).
  void reserve(std::size_t n) {
    views_.reserve(n);
    std::size_t slots = 16;
    while (slots < 2 * n) slots *= 2;
    if (slots > slots_.size()) Rehash(slots);
  }
  std::size_t count(std::string_view name) const { return Contains(name, Tag(name)) ? 1 : 0; }
  // Adds a name not yet in the set; it must stay where it is for the set's life.
  void insert(std::string_view name) { Insert(name, Tag(name)); }

  // The same in two steps, for many names in a row: Ask starts fetching the
  // slot a name's probe begins at and answers its tag, for a Contains and
  // an Insert a little later, when the slot has come from memory.
  std::uint32_t Ask(std::string_view name) const {
    const std::uint32_t tag = Tag(name);
    if (!slots_.empty()) __builtin_prefetch(&slots_[tag & mask_], 1);
    return tag;
  }
  bool Contains(std::string_view name, std::uint32_t tag) const {
    if (slots_.empty()) return false;
    for (std::size_t i = tag & mask_;; i = (i + 1) & mask_) {
      const std::uint64_t s = slots_[i];
      if (s == 0) return false;
      if (static_cast<std::uint32_t>(s >> 32) == tag && views_[(s & kPlace) - 1] == name)
        return true;
    }
  }
  void Insert(std::string_view name, std::uint32_t tag) {
    if ((views_.size() + 1) * 2 > slots_.size())
      Rehash(std::max<std::size_t>(16, slots_.size() * 2));
    if (views_.size() == kPlace) throw std::bad_alloc();  // no place left to name
    views_.push_back(name);
    Place(std::uint64_t{tag} << 32 | views_.size());
  }

 private:
  // A slot: the hash's low 32 bits, then the name's place among the views
  // from 1 (0: an empty slot).
  static constexpr std::uint64_t kPlace = 0xffffffffu;
  static std::uint32_t Tag(std::string_view name) {
    return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
  }
  void Place(std::uint64_t slot) {
    std::size_t i = (slot >> 32) & mask_;
    while (slots_[i] != 0) i = (i + 1) & mask_;
    slots_[i] = slot;
  }
  void Rehash(std::size_t size) {
    std::vector<std::uint64_t> old(size);
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    for (const std::uint64_t s : old) {
      if (s != 0) Place(s);
    }
  }
  std::vector<std::string_view> views_;
  std::vector<std::uint64_t> slots_;
  std::size_t mask_ = 0;
};

// The check that no name repeats an earlier one, run a few names behind the
// reader: a name's slot in the set is fetched when the name is read and
// compared only kAhead names later, when it has come from memory (a table of
// many names is larger than the caches) while the reader went on. Each
// name read is handed to Add; the names still waiting are checked by Flush.
// A repeat comes back as the name read with its index and place in the
// text, always the first repeat in the file, as if each name were checked
// the moment it was read: Add and Flush check in reading order.
class LaggingNameCheck {
 public:
  static constexpr std::size_t kAhead = 8;

  // A name as read: its place among the elements and in the text.
  struct Read {
    std::string_view name;
    std::size_t index = 0;
    const char* where = nullptr;
  };

  // expected: how many names to make room for (a hint).
  explicit LaggingNameCheck(std::size_t expected) { names_.reserve(expected); }

  // Adds a name that stays where it is for the check's life; answers the
  // oldest waiting name when it was checked now and repeats one before it.
  std::optional<Read> Add(Read read) {
    std::optional<Read> repeat;
    if (waits_ == kAhead) repeat = Finish();
    waiting_[(oldest_ + waits_) % kAhead] = {read, names_.Ask(read.name)};
    ++waits_;
    return repeat;
  }

  // Checks every name waiting, in order, and answers the first repeat.
  std::optional<Read> Flush() {
    while (waits_ > 0) {
      if (auto repeat = Finish()) return repeat;
    }
    return std::nullopt;
  }

  // Whether a name not added (one whose element was refused) repeats one
  // added and checked; call after Flush.
  bool Repeats(std::string_view name) const { return names_.Contains(name, names_.Ask(name)); }

 private:
  struct Waiting {
    Read read;
    std::uint32_t tag = 0;
  };

  std::optional<Read> Finish() {
    const Waiting w = waiting_[oldest_];
    oldest_ = (oldest_ + 1) % kAhead;
    --waits_;
    if (names_.Contains(w.read.name, w.tag)) return w.read;
    names_.Insert(w.read.name, w.tag);
    return std::nullopt;
  }

  NameSet names_;
  std::array<Waiting, kAhead> waiting_{};
  std::size_t oldest_ = 0, waits_ = 0;
};

}  // namespace tq::scene
