// Large blocks on huge pages: the allocation policy of the programs that
// load shots (tqhost, and the benchmarks that measure its loading).
//
// Loading a large scene or glTF touches tens of megabytes of fresh memory
// (the file's padded copy, the parser's index of it, the scene's blocks);
// taken 4 KiB page by page, the page faults cost about a quarter of the
// load (in a virtual machine a fault costs about 10 us: a 1.8 MB shot's text
// read page by page costs more than parsing it). A block of 1 MiB or more
// is therefore rounded up to whole 2 MiB pages, aligned to 2 MiB and offered
// to the kernel as a transparent huge page candidate (MADV_HUGEPAGE), so
// that it faults in 2 MiB at a time where the system allows it (THP
// "madvise" or "always"); elsewhere the advice is ignored and nothing
// changes. Rounding at most doubles a block, as for one just over 2 MiB.
// Smaller blocks come from malloc as before, and every block is released by
// the usual operator delete (free). A build with AddressSanitizer keeps its
// own allocator.
//
// Small blocks fault too: a shot's load makes thousands (a channel's keys,
// an object's name and properties), and a 1.8 MB shot's took about 320
// faults of malloc's heap, 3 ms. At start-up the heap is therefore grown by
// kHeapPad (4 MiB) at once and that stretch advised for huge pages; malloc
// keeps as much free at the heap's top when it trims (M_TOP_PAD), so the
// stretch stays mapped. Blocks below 1 MiB come from the heap
// (M_MMAP_THRESHOLD, which also keeps the threshold where it is: by default
// malloc raises it to the size of a mapped block once freed). A larger
// stretch kept more memory: a large block that fits in the heap's free top
// is made there, and stays in the heap once freed.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)  // clang names it so (GCC defines the macro below)
#define TQ_ADDRESS_SANITIZER 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(TQ_ADDRESS_SANITIZER)

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kLarge = kHugePage / 2;

void* Allocate(std::size_t n) noexcept {
  if (n < kLarge) return std::malloc(n == 0 ? 1 : n);
  if (n > static_cast<std::size_t>(-1) - kHugePage) return nullptr;
  const std::size_t rounded = (n + kHugePage - 1) & ~(kHugePage - 1);
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (p != nullptr) ::madvise(p, rounded, MADV_HUGEPAGE);
  return p;
}

constexpr std::size_t kHeapPad = std::size_t{4} << 20;

// The block that takes the heap's free top, kept for the process's life and
// reachable from here, so that a leak checker (valgrind) does not report it
// as lost. (volatile: the compiler may drop a block that is never read.)
void* volatile heapFiller = nullptr;

// Grows malloc's heap by kHeapPad beyond a 2 MiB boundary and advises that
// stretch for huge pages before anything touches it (a page touched first
// keeps its 2 MiB in small pages). A block that is kept, never touched,
// takes the heap's free top up to the boundary: it costs address space, not
// memory. malloc writes the header of its free top 16 bytes below the
// boundary, and small blocks are made from the boundary on. Every step is
// advice: where one fails, malloc works as before.
[[gnu::constructor]] void AdviseHeap() {
  // Below 8 MiB a block comes from the heap while it is arranged.
  if (mallopt(M_MMAP_THRESHOLD, static_cast<int>(4 * kHugePage)) == 0 ||
      mallopt(M_TOP_PAD, static_cast<int>(kHeapPad)) == 0)
    return;
  const auto end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  const std::uintptr_t top = end - mallinfo2().keepcost;  // where the free top starts
  // Past the heap's end, so that the block grows the heap, pad and all.
  const std::uintptr_t boundary = (end + 64 + kHugePage - 1) & ~(kHugePage - 1);
  // A block of n bytes takes n + 8 rounded up to 16, with its size word.
  heapFiller = std::malloc(boundary - 16 - top - 8);
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kLarge));
  const auto grown = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  if (heapFiller != nullptr && grown >= boundary + kHugePage)
    ::madvise(reinterpret_cast<void*>(boundary), (grown - boundary) & ~(kHugePage - 1),
              MADV_HUGEPAGE);
}

}  // namespace

void* operator new(std::size_t n) {
  for (;;) {
    if (void* p = Allocate(n)) return p;
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void* operator new[](std::size_t n) {
  return ::operator new(n);
}

void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(n);
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return ::operator new(n, std::nothrow);
}

#endif
