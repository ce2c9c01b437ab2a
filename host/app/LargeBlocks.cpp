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
#if defined(__has_feature)
#if __has_feature(address_sanitizer)  // clang names it so (GCC defines the macro below)
#define TQ_ADDRESS_SANITIZER 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(TQ_ADDRESS_SANITIZER)

#include <sys/mman.h>

#include <cstddef>
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
