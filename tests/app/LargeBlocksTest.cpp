// tqhost's allocation policy: a block of 1 MiB or more starts on a 2 MiB
// boundary and its mapping is advised for huge pages (the "hg" flag of
// /proc/self/smaps); a small block is left to malloc, whose heap starts
// with a stretch so advised.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

// The VmFlags of the mapping that holds address, "" when none does.
[[maybe_unused]] std::string FlagsOfMapping(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    std::uintptr_t from = 0, to = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> from >> dash >> to && dash == '-') inside = from <= at && at < to;
    if (inside && line.rfind("VmFlags:", 0) == 0) return line;
  }
  return "";
}

// Whether a mapping of malloc's heap is advised for huge pages.
[[maybe_unused]] bool HeapAdvised() {
  std::ifstream smaps("/proc/self/smaps");
  bool heap = false;
  for (std::string line; std::getline(smaps, line);) {
    if (line.find('-') < line.find(' ')) heap = line.ends_with("[heap]");
    if (heap && line.rfind("VmFlags:", 0) == 0 && line.find(" hg") != std::string::npos)
      return true;
  }
  return false;
}

TEST(LargeBlocks, LargeBlocksAreAdvisedForHugePages) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps its own allocator";
#else
  if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"))
    GTEST_SKIP() << "this kernel has no transparent huge pages";
  struct Row {
    std::size_t bytes;
    bool huge;
  } rows[] = {{std::size_t{2} << 20, true},
              {(std::size_t{5} << 20) + 3, true},
              {std::size_t{1} << 20, true},
              {(std::size_t{1} << 20) - 16, false},
              {4096, false}};
  for (const Row& r : rows) {
    const std::unique_ptr<char[]> block(new char[r.bytes]);
    const bool aligned =
        reinterpret_cast<std::uintptr_t>(block.get()) % (std::size_t{2} << 20) == 0;
    const std::string flags = FlagsOfMapping(block.get());
    EXPECT_EQ(aligned && flags.find(" hg") != std::string::npos, r.huge) << r.bytes << flags;
  }
#endif
}

TEST(LargeBlocks, TheHeapStartsWithAStretchAdvisedForHugePages) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps its own allocator";
#else
  // Looked at in a fresh process (the test run again), where no large block
  // made earlier can have advised a stretch of the heap.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(HeapAdvised() ? 0 : 1), testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
