// Scene loading against the size of what is loaded: a chain of heads, many
// objects, many bones, many groups. The floor is the same number of elements
// loaded as files of 1,000, run alternately with the measured load in the
// same process; the ratio of the medians is 1 when loading is linear.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "host/scene/Loader.h"

namespace {

enum Shape { kHeads, kObjects, kBones, kGroups };
const char* const kShapeNames[] = {"heads chain", "objects", "bones", "groups"};

// The scene text, built by appending (GCC 12 at -O3 warns falsely about
// "literal" + std::string temporaries).
std::string Scene(Shape shape, int n) {
  std::string s =
      R"({"format": "tq-scene", "version": 1, "project": {"fps": 30}, "chor": {"objects": [)";
  auto list = [&](const char* open, const char* close, auto item) {
    s += open;
    for (int i = 0; i < n; ++i) {
      if (i > 0) s += ',';
      item(i);
    }
    s += close;
  };
  auto named = [&](const char* prefix, int i) {
    s += prefix;
    s += std::to_string(i);
    s += "\"}";
  };
  switch (shape) {
    case kHeads:
      s += R"({"type": "model", "name": "M", "points": )";
      list("[", "]", [&](int) { s += "[0,0,0]"; });
      s += R"(, "heads": )";
      list("{", "}", [&](int i) {
        s += '"';
        s += std::to_string(i);
        s += "\": ";
        s += std::to_string(i == 0 ? 0 : i - 1);
      });
      s += "}";
      break;
    case kObjects:
      list("", "", [&](int i) { named(R"({"type": "null", "name": "N)", i); });
      break;
    case kBones:
      s += R"({"type": "model", "name": "M", "bones": )";
      list("[", "]", [&](int i) { named(R"({"name": "B)", i); });
      s += "}";
      break;
    case kGroups:
      s += R"({"type": "model", "name": "M", "groups": )";
      list("[", "]", [&](int i) { named(R"({"name": "G)", i); });
      s += "}";
      break;
  }
  s += "]}}";
  return s;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void BM_LoadingIsLinear(benchmark::State& state) {
  const auto shape = static_cast<Shape>(state.range(0));
  const int n = static_cast<int>(state.range(1));
  constexpr int kUnit = 1000;
  const std::string big = Scene(shape, n);
  const std::string unit = Scene(shape, kUnit);
  std::vector<double> measured, floor;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    auto loaded = tq::scene::LoadSceneText(big, "big.json");
    if (!loaded) state.SkipWithError(loaded.error.c_str());
    loaded.scene.reset();
    measured.push_back(Seconds(start));
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < n / kUnit; ++i) {
      auto part = tq::scene::LoadSceneText(unit, "unit.json");
      if (!part) state.SkipWithError(part.error.c_str());
    }
    floor.push_back(Seconds(start));
  }
  state.SetLabel(kShapeNames[shape]);
  state.counters["measured_ms"] = Median(measured) * 1e3;
  state.counters["floor_ms"] = Median(floor) * 1e3;
  state.counters["ratio"] = Median(measured) / Median(floor);
}
BENCHMARK(BM_LoadingIsLinear)
    ->ArgsProduct({{kHeads, kObjects, kBones, kGroups}, {1000, 10000, 100000}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
