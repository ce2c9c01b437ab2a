#include "host/scene/Arena.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <mutex>
#include <new>
#include <vector>

namespace tq::scene {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kLeast = 256;

// The stretch is reserved at first use, without memory (PROT_NONE); memory
// is committed from its start in 2 MiB steps as blocks are made, advised
// for huge pages. A block given back waits for the next block of its size;
// one of 2 MiB or more gives its memory back to the system first.
struct Arena {
  std::mutex mutex;
  char* base = nullptr;
  std::size_t size = 0, used = 0, committed = 0;
  std::array<std::vector<void*>, 64> spare;  // by the log2 of their size

  void Reserve() {
    // 32 GiB; under a limit on address space, a quarter of what the process
    // has left (not the most that fits, which left the rest of the process
    // next to nothing and made a load fail under a higher limit where it
    // passed under a lower one); where a reservation fails, half as much,
    // down to 2 MiB. Its start on a 2 MiB boundary, where a huge page can
    // start.
    std::size_t most = std::size_t{32} << 30;
    if (rlimit limit{}; ::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
      std::size_t pages = 0;
      if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%zu", &pages) != 1) pages = 0;
        std::fclose(statm);
      }
      const std::size_t inUse = pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
      const std::size_t left = limit.rlim_cur > inUse ? limit.rlim_cur - inUse : 0;
      most = std::min(most, std::max(left / 4, kHugePage * 2) - kHugePage);
    }
    for (std::size_t want = most & ~(kHugePage - 1); base == nullptr && want >= kHugePage;
         want = (want / 2) & ~(kHugePage - 1)) {
      void* p = ::mmap(nullptr, want + kHugePage, PROT_NONE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
      if (p != MAP_FAILED) {
        const auto at = reinterpret_cast<std::uintptr_t>(p);
        base = reinterpret_cast<char*>((at + kHugePage - 1) & ~(kHugePage - 1));
        size = want;
      }
    }
    if (base == nullptr) throw std::bad_alloc();
  }
};

Arena& TheArena() {
  static Arena* arena = new Arena;  // never destroyed: scenes may outlive statics
  return *arena;
}

unsigned Log2(std::size_t bytes) {
  return static_cast<unsigned>(std::bit_width(std::max(bytes, kLeast) - 1));
}

}  // namespace

void* ArenaAllocate(std::size_t bytes) {
  if (bytes > (std::size_t{1} << 40)) throw std::bad_alloc();
  const unsigned k = Log2(bytes);
  bytes = std::size_t{1} << k;
  Arena& a = TheArena();
  const std::lock_guard lock(a.mutex);
  if (!a.spare[k].empty()) {
    void* block = a.spare[k].back();
    a.spare[k].pop_back();
    ASAN_UNPOISON_MEMORY_REGION(block, bytes);
    return block;
  }
  if (a.base == nullptr) a.Reserve();
  const std::size_t align = std::min(bytes, kHugePage);
  const std::size_t at = (a.used + align - 1) & ~(align - 1);
  if (at > a.size || bytes > a.size - at) throw std::bad_alloc();
  if (at + bytes > a.committed) {
    const std::size_t to = std::min(a.size, (at + bytes + kHugePage - 1) & ~(kHugePage - 1));
    if (::mprotect(a.base + a.committed, to - a.committed, PROT_READ | PROT_WRITE) != 0)
      throw std::bad_alloc();
    ::madvise(a.base + a.committed, to - a.committed, MADV_HUGEPAGE);
    // Under AddressSanitizer only the blocks in use may be read.
    ASAN_POISON_MEMORY_REGION(a.base + a.committed, to - a.committed);
    a.committed = to;
  }
  a.used = at + bytes;
  ASAN_UNPOISON_MEMORY_REGION(a.base + at, bytes);
  return a.base + at;
}

void ArenaRelease(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return;
  const unsigned k = Log2(bytes);
  if ((std::size_t{1} << k) >= kHugePage) ::madvise(block, std::size_t{1} << k, MADV_DONTNEED);
  // A handle read after its scene is gone is reported under AddressSanitizer.
  ASAN_POISON_MEMORY_REGION(block, std::size_t{1} << k);
  Arena& a = TheArena();
  const std::lock_guard lock(a.mutex);
  try {
    a.spare[k].push_back(block);
  } catch (const std::bad_alloc&) {
    // Kept out of use: its address space only.
  }
}

}  // namespace tq::scene
