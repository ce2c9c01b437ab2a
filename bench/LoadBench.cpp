// Scene loading against the size of what is loaded: a chain of heads, many
// objects, many bones, many groups. The floor is the same number of elements
// loaded as files of 1,000, run alternately with the measured load in the
// same process; the ratio of the medians is 1 when loading is linear.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "bench/Floors.h"

#include "host/scene/GltfImport.h"
#include "host/scene/Loader.h"
#include "tests/scene/GltfBuilder.h"

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

// The large scene of the loading rows: 1M points, 900k four-sided and 100k
// five-sided patches, 50k keys, about 50 MB. Deterministic; built by
// appending (GCC 12 at -O3 warns falsely about "literal" + std::string).
std::string LargeScene() {
  std::uint64_t state = 12345;
  auto next = [&](std::uint64_t n) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return (state >> 33) % n;
  };
  std::string s;
  auto add = [&](auto... pieces) { (s.append(pieces), ...); };
  auto number = [&](std::uint64_t n) { s += std::to_string(n); };
  auto coordinate = [&] {
    const long v = static_cast<long>(next(100000)) - 50000;
    if (v < 0) s += '-';
    number(static_cast<std::uint64_t>(std::labs(v) / 10000));
    s += '.';
    number(static_cast<std::uint64_t>(std::labs(v) % 10000));
  };
  add(R"({"format": "tq-scene", "version": 1, "project": {"fps": 30}, "chor": {"objects": [)",
      "\n{\"type\": \"camera\", \"name\": \"Cam\", \"translate\": {\"keys\": [");
  for (int i = 0; i < 25000; ++i) {
    add(i ? ",\n[" : "[");
    number(static_cast<std::uint64_t>(i));
    add(", [");
    coordinate();
    add(", 1.5, ");
    coordinate();
    add("]]");
  }
  add("]}, \"rotate\": {\"keys\": [");
  for (int i = 0; i < 25000; ++i) {
    add(i ? ",\n[" : "[");
    number(static_cast<std::uint64_t>(i));
    add(", [0, 0.");
    number(next(700));
    add(", 0, 0.7]]");
  }
  add("]}},\n{\"type\": \"model\", \"name\": \"M\", \"points\": [\n");
  constexpr std::uint64_t kPoints = 1000000;
  for (std::uint64_t i = 0; i < kPoints; ++i) {
    add(i ? ",\n[" : "[");
    coordinate();
    add(", ");
    coordinate();
    add(", ");
    coordinate();
    add("]");
  }
  for (const auto& [key, count, corners] :
       {std::tuple{"patches", 900000, 4}, std::tuple{"patches5", 100000, 5}}) {
    add("],\n\"", key, "\": [\n");
    for (int i = 0; i < count; ++i) {
      add(i ? ",\n[" : "[");
      for (int c = 0; c < corners; ++c) {
        if (c) add(", ");
        number(next(kPoints));
      }
      add("]");
    }
  }
  add("]}]}}\n");
  return s;
}

// What the large scene holds, packed: points 12 bytes, corner indices 4,
// keys 4 bytes of time and their value.
constexpr double kLargePackedBytes =
    1000000.0 * 12 + 900000.0 * 16 + 100000.0 * 20 + 25000.0 * (4 + 12) + 25000.0 * (4 + 16);

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  }
  return 0;
}

// The file read into memory, the floor of loading it.
std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(std::filesystem::file_size(path), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  return text;
}

void BM_LoadLargeScene(benchmark::State& state) {
  const std::string path = "/tmp/tq-large-scene.tqs.json";
  std::ofstream(path, std::ios::binary) << LargeScene();
  const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  for (auto _ : state) {
    // Memory first, in a process of its own: nothing loaded before counts.
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) tq::bench::Fail(state, "pipe");
    const pid_t child = fork();
    if (child == 0) {
      const long before = StatusKb("VmRSS:");
      auto loaded = tq::scene::LoadSceneFile(path);
      const double after = static_cast<double>(StatusKb("VmRSS:") - before) * 1024;
      const double peak = static_cast<double>(StatusKb("VmHWM:") - before) * 1024;
      const double report[2] = {peak, after};
      if (write(pipeEnds[1], report, sizeof report) != sizeof report || !loaded) _exit(1);
      _exit(0);
    }
    double report[2] = {};
    const bool read = ::read(pipeEnds[0], report, sizeof report) == sizeof report;
    int status = 0;
    waitpid(child, &status, 0);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    if (!read || status != 0) tq::bench::Fail(state, "the memory probe failed");
    const double file = megabytes * 1e6;
    tq::bench::Rows().push_back({"peak memory while loading it, against the file", report[0] / 1e6,
                                 file / 1e6, "MB", 2.5, "peak RSS over the base"});
    tq::bench::Rows().push_back({"memory kept after loading it, against the loaded data",
                                 report[1] / 1e6, kLargePackedBytes / 1e6, "MB", 1.5,
                                 "loaded data: the scene's values packed"});
    const auto r = tq::bench::Alternate(
        7,
        [&] {
          auto loaded = tq::scene::LoadSceneFile(path);
          if (!loaded) tq::bench::Fail(state, loaded.error);
        },
        [&] { benchmark::DoNotOptimize(ReadWhole(path)); });
    std::string name = "loading a 50 MB scene (", note;
    name.append(tq::bench::Format(megabytes)).append(" MB: 1M points, 1M patches, 50k keys)");
    note.append(tq::bench::Format(megabytes / r.first)).append(" MB/s; floor: reading the file");
    tq::bench::Rows().push_back({name, r.first * 1e3, r.second * 1e3, "ms", 3.0, note});
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_LoadLargeScene)->Iterations(1)->Unit(benchmark::kMillisecond);

// Importing a 50 MB glTF (a GLB of 4M vertices, 1.3M triangles) against
// loading the 50 MB scene file, per byte, alternately.
void BM_ImportLargeGltf(benchmark::State& state) {
  const std::string scenePath = "/tmp/tq-large-scene-2.tqs.json";
  const std::string gltfPath = "/tmp/tq-large-mesh.glb";
  std::ofstream(scenePath, std::ios::binary) << LargeScene();
  {
    tq::testing::GltfBuilder b;
    std::vector<float> xyz;
    xyz.reserve(4000000 * 3);
    for (int i = 0; i < 4000000; ++i) {
      xyz.push_back(static_cast<float>(i % 1000));
      xyz.push_back(static_cast<float>(i / 1000 % 1000));
      xyz.push_back(static_cast<float>(i % 7));
    }
    const int positions = b.Floats(xyz, "VEC3");
    b.doc["meshes"] =
        nlohmann::json::array({{{"primitives", {{{"attributes", {{"POSITION", positions}}}}}}}});
    b.Node({{"name", "Mesh"}, {"mesh", 0}});
    std::ofstream(gltfPath, std::ios::binary) << b.Glb();
  }
  const double sceneBytes = static_cast<double>(std::filesystem::file_size(scenePath));
  const double gltfBytes = static_cast<double>(std::filesystem::file_size(gltfPath));
  for (auto _ : state) {
    const auto r = tq::bench::Alternate(
        5,
        [&] {
          auto imported = tq::scene::ImportGltfFile(gltfPath, {});
          if (!imported) tq::bench::Fail(state, imported.error);
        },
        [&] {
          auto loaded = tq::scene::LoadSceneFile(scenePath);
          if (!loaded) tq::bench::Fail(state, loaded.error);
        });
    std::string note = "floor: loading the scene file, per byte; ";
    note.append(tq::bench::Format(gltfBytes / 1e6 / r.first)).append(" MB/s");
    tq::bench::Rows().push_back({"importing a 50 MB glTF, per byte", r.first / gltfBytes * 1e9,
                                 r.second / sceneBytes * 1e9, "ns/byte", 1.0, note});
  }
  std::filesystem::remove(scenePath);
  std::filesystem::remove(gltfPath);
}
BENCHMARK(BM_ImportLargeGltf)->Iterations(1)->Unit(benchmark::kMillisecond);

// Loading N elements in one file against loading them as N / 1,000 files of
// 1,000, alternately: 1 when loading is linear.
void BM_LoadingIsLinear(benchmark::State& state) {
  const auto shape = static_cast<Shape>(state.range(0));
  const int n = static_cast<int>(state.range(1));
  constexpr int kUnit = 1000;
  const std::string big = Scene(shape, n);
  const std::string unit = Scene(shape, kUnit);
  for (auto _ : state) {
    // Alternately; everything loaded is kept until both are timed and freed
    // outside the timing, so that both touch the same amount of memory.
    std::vector<double> measured, floor;
    for (int round = 0; round < 5; ++round) {
      tq::scene::LoadResult whole;
      std::vector<tq::scene::LoadResult> parts;
      parts.reserve(static_cast<std::size_t>(n / kUnit));
      measured.push_back(
          tq::bench::Seconds([&] { whole = tq::scene::LoadSceneText(big, "big.json"); }));
      if (!whole) tq::bench::Fail(state, whole.error);
      whole = {};
      floor.push_back(tq::bench::Seconds([&] {
        for (int i = 0; i < n / kUnit; ++i)
          parts.push_back(tq::scene::LoadSceneText(unit, "unit.json"));
      }));
      if (!parts.empty() && !parts.back()) tq::bench::Fail(state, parts.back().error);
    }
    const std::pair<double, double> r = {tq::bench::Median(measured), tq::bench::Median(floor)};
    std::string name = "loading time against ";
    name.append(kShapeNames[shape]).append(", ").append(std::to_string(n));
    tq::bench::Rows().push_back({name, r.first * 1e3, r.second * 1e3, "ms", 1.2,
                                 "floor: the same count loaded as files of 1,000, all kept"});
  }
}
BENCHMARK(BM_LoadingIsLinear)
    ->ArgsProduct({{kHeads, kObjects, kBones, kGroups}, {1000, 10000, 100000}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return tq::bench::Main(argc, argv);
}
