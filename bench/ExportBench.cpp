// Benchmarks of the export's hot paths. Each has a floor, the slowest rate
// that is still acceptable on the project's 2-core machine; a run below its
// floor reports an error. Floors sit about ten times below the rates
// measured when they were set, so they catch a change of algorithm (a
// linear key search, a per-frame model centre), not the machine's mood.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "host/framework/RecordingDriver.h"
#include "host/scene/Loader.h"
#include "tests/export/Harness.h"

namespace {

using tq::scene::Channel;
using tq::scene::Interpolation;
using tq::scene::Key;

// Reports units per second of wall time since start, and fails below floor.
void Rate(benchmark::State& state, const char* counter, double units,
          std::chrono::steady_clock::time_point start, double floor) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double rate = units / seconds;
  state.counters[counter] = rate;
  // The library's first, short runs only size the real one.
  if (seconds >= 0.1 && rate < floor)
    state.SkipWithError(("below the floor of " + std::to_string(floor) + " " + counter).c_str());
}

// Floor: 2,000,000 evaluations per second of a 10,000-key channel.
void BM_ChannelEvaluate(benchmark::State& state) {
  std::vector<Key<Vector>> keys;
  for (int i = 0; i < 10000; ++i) keys.push_back({i * 4500, Vector(float(i), 0, 0)});
  const Channel<Vector> channel(Interpolation::kSmooth, keys);
  Time t = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    benchmark::DoNotOptimize(channel.Evaluate(t));
    t = (t + 7919) % (10000 * 4500);
  }
  Rate(state, "evaluations_per_second", double(state.iterations()), start, 2e6);
}
BENCHMARK(BM_ChannelEvaluate);

// Floor: 500,000 exported frames per second (model centre of a 10,000-patch
// model, fixed once per run; output to /dev/null).
void BM_ExportFrames(benchmark::State& state) {
  tq::scene::Scene scene("P", 30, "C");
  scene.MakeCurrent();
  HCamera* camera = scene.AddCamera("Cam");
  scene.SetTransform(
      camera,
      Channel<Vector>(Interpolation::kLinear, {{0, Vector(0, 0, 0)}, {4500000, Vector(50, 0, 0)}}),
      Channel<Quaternion>(Quaternion()));
  HModel* model = scene.AddModel("M");
  scene.SetTransform(model, Channel<Vector>(Vector(0, 0, -20)),
                     Channel<Quaternion>(Quaternion(0.3f, Vector(0, 1, 0))));
  HModelCache* cache = model->GetCache();
  for (int i = 0; i < 10000; ++i) {
    HCP* a = cache->AddPoint({float(i), 0, 0});
    cache->AddPatch(a, a, a, a);
  }
  tq::testing::PluginHarness harness;
  tq::framework::RecordingDriver driver;
  auto record =
      tq::testing::Record(scene.Chor(), camera, model, 30, 0, 9999, 1920, 1080, "/dev/null", 1);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) harness.Export(scene.Chor(), record, driver);
  Rate(state, "frames_per_second", double(state.iterations()) * 10000, start, 5e5);
}
BENCHMARK(BM_ExportFrames)->Unit(benchmark::kMillisecond);

// Floor: 800 loads per second of the orbit example.
void BM_LoadOrbit(benchmark::State& state) {
  const std::string path = std::string(TQ_SOURCE_DIR) + "/examples/orbit.tqs.json";
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) benchmark::DoNotOptimize(tq::scene::LoadSceneFile(path));
  Rate(state, "loads_per_second", double(state.iterations()), start, 800);
}
BENCHMARK(BM_LoadOrbit)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
