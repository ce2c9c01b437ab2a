// The benchmarks' proof that their floors are independent of the product
// (scripts/bench --sensitivity): a build configured with TQ_BENCH_SLOWDOWN
// does the work of each hot path twice, so that every row's work takes about
// twice as long while its floor, which shares no code with it, does not. A
// row whose ratio does not rise with it could not catch a regression. Never
// in a build anyone runs: in every other build Twice(work) is work().
#pragma once

#include <type_traits>
#include <vector>

namespace tq {

#ifdef TQ_BENCH_SLOWDOWN
inline constexpr bool kBenchSlowdown = true;
#else
inline constexpr bool kBenchSlowdown = false;
#endif

// work(), done once more before it in the slowdown build, its answer dropped
// behind a call the compiler cannot see through (so that it cannot fold the
// two).
template <class Work>
inline decltype(auto) Twice(Work&& work) {
  if constexpr (kBenchSlowdown) {
    using Call = void (*)(Work&);
    static Call volatile once = [](Work& w) { static_cast<void>(w()); };
    once(work);
  }
  return work();
}

// Twice for work that makes something in memory (a loaded scene): the first
// answer is kept, never freed, so that the second is made in fresh memory
// as the first was, with its page faults, rather than in what the first
// freed.
template <class Work>
inline decltype(auto) TwiceInFreshMemory(Work&& work) {
  if constexpr (kBenchSlowdown) {
    using Answer = std::decay_t<decltype(work())>;
    static auto* const kept = new std::vector<Answer>;
    kept->push_back(work());
  }
  return work();
}

}  // namespace tq
