// What every benchmark here shares: the work and its floor (the least the
// machine must do for the same result: the same bytes written, the same file
// read) are run alternately in the same process, and a row reports the
// median of each, their ratio, the goal for that ratio and whether the run
// meets it. Nothing fails on a time; a row whose work cannot run is an error.
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
  double Ratio() const { return measured / floor; }
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

// Runs work and floor alternately, rounds times each (once when quick), and
// answers the medians in seconds.
inline std::pair<double, double> Alternate(int rounds, const std::function<void()>& work,
                                           const std::function<void()>& floor) {
  std::vector<double> w, f;
  for (int i = 0; i < Rounds(rounds); ++i) {
    w.push_back(Seconds(work));
    f.push_back(Seconds(floor));
  }
  return {Median(w), Median(f)};
}

inline std::string Format(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", v);
  return text;
}

// The table of every row recorded, one line a row.
inline void PrintRows() {
  std::printf("| row | measured | floor | ratio | goal | verdict |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const Row& r : Rows()) {
    using tq::fileio::Concat;
    std::string goal, ratio;
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
    std::printf("| %s | %s %s | %s %s | %s | %s | %s%s%s |\n", r.name.c_str(),
                Format(r.measured).c_str(), r.unit.c_str(), Format(r.floor).c_str(), r.unit.c_str(),
                ratio.c_str(), goal.c_str(), r.Meets() ? "meets" : "misses",
                r.note.empty() ? "" : "; ", r.note.c_str());
  }
}

// Runs the benchmarks chosen on the command line and prints the table; 1 when
// none ran or one could not.
inline int Main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::size_t ran = benchmark::RunSpecifiedBenchmarks();
  PrintRows();
  return ran == 0 || AnyFailed() ? 1 : 0;
}

}  // namespace tq::bench
