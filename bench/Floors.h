// What every benchmark here shares: the work and its floor (the least the
// machine must do for the same result: the same bytes written, the same file
// read) are run alternately in the same process, at least 5 rounds, and a
// row reports the median of each, the median of the rounds' ratios and
// their range, the goal for that ratio and whether the run meets it. A floor
// shares no code with what it measures beyond the standard library and the
// file it reads, so that a slower product shows as a higher ratio
// (scripts/bench --sensitivity proves it row by row). Nothing fails on a
// time; a row whose work cannot run is an error.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "host/fileio/Concat.h"

namespace tq::bench {

struct Row {
  std::string name;
  double measured;  // median, in unit
  double floor;     // median, in unit
  std::string unit;
  double goal;  // the largest ratio (or, additive, difference) that meets the goal
  std::string note;
  enum class Goal { kRatio, kAdditive, kAbsolute };
  // kRatio: the goal bounds measured / floor; kAdditive: measured - floor;
  // kAbsolute: measured itself (the floor is shown beside it).
  Goal kind = Goal::kRatio;
  // The ratio of each round (work over the floor timed beside it): its
  // median, lowest and highest. 0 when the row keeps no rounds (a memory
  // row), and the ratio is then that of the medians.
  double ratio = 0, low = 0, high = 0;
  // What the sensitivity check (scripts/bench --sensitivity) says of the
  // row: empty when its ratio must rise with a 2x slower product, else why
  // it is not checked.
  std::string unchecked = {};
  double Ratio() const { return ratio > 0 ? ratio : measured / floor; }
  bool Meets() const {
    switch (kind) {
      case Goal::kAdditive:
        return measured - floor <= goal;
      case Goal::kAbsolute:
        return measured <= goal;
      default:
        return Ratio() <= goal;
    }
  }
};

// Set (TQ_BENCH_QUICK in the environment) when a benchmark runs once as a
// test: every row does its work on a small input, a few rounds, so that the
// test proves it runs; its figures mean nothing.
inline bool Quick() {
  static const bool quick = std::getenv("TQ_BENCH_QUICK") != nullptr;
  return quick;
}
// rounds, or 1 when quick.
inline int Rounds(int rounds) {
  return Quick() ? 1 : rounds;
}

inline std::vector<Row>& Rows() {
  static std::vector<Row> rows;
  return rows;
}

// A row whose work cannot run: the benchmark stops with the reason, and the
// program's exit status says so.
inline bool& AnyFailed() {
  static bool failed = false;
  return failed;
}
inline void Fail(benchmark::State& state, const std::string& why) {
  AnyFailed() = true;
  state.SkipWithError(why.c_str());
}

inline double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

// Work against its floor, timed alternately: the medians of each in
// seconds, and the median, lowest and highest of the rounds' ratios.
struct Timing {
  double work = 0, floor = 0;
  double ratio = 0, low = 0, high = 0;
};

// The rounds of a row: at least 5 (1 when quick), so that a row's range says
// how far the machine's load moved it.
inline int RowRounds(int rounds) {
  return Rounds(std::max(rounds, 5));
}

// Timing of paired samples, work[i] timed beside floor[i].
inline Timing Paired(const std::vector<double>& work, const std::vector<double>& floor) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < work.size() && i < floor.size(); ++i)
    ratios.push_back(work[i] / floor[i]);
  Timing t{Median(work), Median(floor), Median(ratios), 0, 0};
  if (!ratios.empty()) {
    t.low = *std::min_element(ratios.begin(), ratios.end());
    t.high = *std::max_element(ratios.begin(), ratios.end());
  }
  return t;
}

// Runs work and floor alternately, in rounds of `inner` of each (the work
// first in even rounds, the floor first in odd ones), at least 5 rounds (1
// when quick). A round's time is its fastest of the inner runs, so that one
// preemption by another program does not decide a round.
inline Timing Alternate(int rounds, const std::function<void()>& work,
                        const std::function<void()>& floor, int inner = 1) {
  std::vector<double> w, f;
  const int each = Quick() ? 1 : inner;
  auto fastest = [&](const std::function<void()>& run) {
    double best = 1e300;
    for (int i = 0; i < each; ++i) best = std::min(best, Seconds(run));
    return best;
  };
  for (int i = 0; i < RowRounds(rounds); ++i) {
    if (i % 2 == 0) {
      w.push_back(fastest(work));
      f.push_back(fastest(floor));
    } else {
      f.push_back(fastest(floor));
      w.push_back(fastest(work));
    }
  }
  return Paired(w, f);
}

// A row of a timing in unit (scale: units per second).
inline Row TimedRow(std::string name, const Timing& t, double scale, std::string unit, double goal,
                    std::string note) {
  Row r{std::move(name), t.work * scale, t.floor * scale, std::move(unit), goal, std::move(note)};
  r.ratio = t.ratio, r.low = t.low, r.high = t.high;
  return r;
}

// The machine's load average over the last minute, 5 and 15 minutes.
inline std::string LoadAverage() {
  std::FILE* f = std::fopen("/proc/loadavg", "r");
  double a = 0, b = 0, c = 0;
  const bool read = f != nullptr && std::fscanf(f, "%lf %lf %lf", &a, &b, &c) == 3;
  if (f != nullptr) std::fclose(f);
  if (!read) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", a, b, c);
  return text;
}

inline std::string Format(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", v);
  return text;
}

// The table of every row recorded, one line a row, with the ratio's range
// over the rounds; when TQ_BENCH_RATIOS names a file, each row's name,
// ratio, lowest and highest ratio and whether the sensitivity check applies
// to it are appended to it, a line each, separated by tabs.
inline void PrintRows() {
  std::printf("| row | measured | floor | ratio | range | goal | verdict |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  std::FILE* ratios = nullptr;
  if (const char* path = std::getenv("TQ_BENCH_RATIOS")) ratios = std::fopen(path, "a");
  for (const Row& r : Rows()) {
    using tq::fileio::Concat;
    std::string goal, ratio;
    const std::string range =
        r.ratio > 0 ? Concat({Format(r.low), " to ", Format(r.high)}) : std::string("-");
    if (r.kind == Row::Goal::kAdditive) {
      goal = Concat({"at most +", Format(r.goal), " ", r.unit});
      ratio = Concat({"+", Format(r.measured - r.floor), " ", r.unit});
    } else if (r.kind == Row::Goal::kAbsolute) {
      goal = Concat({"at most ", Format(r.goal), " ", r.unit});
      ratio = Concat({Format(r.Ratio()), "x"});
    } else {
      goal = Concat({"at most ", Format(r.goal), "x"});
      ratio = Concat({Format(r.Ratio()), "x"});
    }
    std::printf("| %s | %s %s | %s %s | %s | %s | %s | %s%s%s |\n", r.name.c_str(),
                Format(r.measured).c_str(), r.unit.c_str(), Format(r.floor).c_str(), r.unit.c_str(),
                ratio.c_str(), range.c_str(), goal.c_str(), r.Meets() ? "meets" : "misses",
                r.note.empty() ? "" : "; ", r.note.c_str());
    if (ratios != nullptr) {
      std::fprintf(ratios, "%s\t%.6g\t%.6g\t%.6g\t%s\n", r.name.c_str(), r.Ratio(), r.low, r.high,
                   r.unchecked.empty() ? "checked" : r.unchecked.c_str());
    }
  }
  if (ratios != nullptr) std::fclose(ratios);
}

// Runs the benchmarks chosen on the command line and prints the table; 1 when
// none ran or one could not.
inline int Main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::string before = LoadAverage();
  const std::size_t ran = benchmark::RunSpecifiedBenchmarks();
  std::printf("Load average (1, 5, 15 minutes): %s before, %s after\n", before.c_str(),
              LoadAverage().c_str());
  PrintRows();
  return ran == 0 || AnyFailed() ? 1 : 0;
}

}  // namespace tq::bench
