// Scene loading and glTF import against their floors, each timed alternately
// with its work, each timing in a fresh process of this program (so that
// neither takes memory the other, or an earlier row, freed and kept):
// - a 50 MB scene against a simdjson On-Demand pass over the same text that
//   parses every value and builds nothing; its memory against the file;
// - a 50 MB GLB imported against reading the file;
// - a chain of heads, many objects, many bones, many groups against the same
//   number of elements loaded as files of 1,000: 1 when loading is linear.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <simdjson.h>

#include "bench/Floors.h"
#include "bench/Glb.h"
#include "host/scene/GltfImport.h"
#include "host/scene/Loader.h"

namespace {

enum Shape { kHeads, kObjects, kBones, kGroups };
const char* const kShapeNames[] = {"heads chain", "objects", "bones", "groups"};

// The scene text, built by appending (see host/fileio/Concat.h).
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
// appending (see host/fileio/Concat.h).
std::string LargeScene() {
  const int scale = tq::bench::Quick() ? 100 : 1;
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
  for (int i = 0; i < 25000 / scale; ++i) {
    add(i ? ",\n[" : "[");
    number(static_cast<std::uint64_t>(i));
    add(", [");
    coordinate();
    add(", 1.5, ");
    coordinate();
    add("]]");
  }
  add("]}, \"rotate\": {\"keys\": [");
  for (int i = 0; i < 25000 / scale; ++i) {
    add(i ? ",\n[" : "[");
    number(static_cast<std::uint64_t>(i));
    add(", [0, 0.");
    number(next(700));
    add(", 0, 0.7]]");
  }
  add("]}},\n{\"type\": \"model\", \"name\": \"M\", \"points\": [\n");
  const std::uint64_t kPoints = 1000000 / scale;
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
       {std::tuple{"patches", 900000 / scale, 4}, std::tuple{"patches5", 100000 / scale, 5}}) {
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
double LargePackedBytes() {
  return (1000000.0 * 12 + 900000.0 * 16 + 100000.0 * 20 + 25000.0 * (4 + 12) +
          25000.0 * (4 + 16)) /
         (tq::bench::Quick() ? 100 : 1);
}

// The floor of loading: simdjson's On-Demand parser over the same text,
// every value parsed (numbers as doubles, strings unescaped, keys measured
// as raw text, as the loader reads them) and nothing built; answers a sum so that nothing is
// skipped.
double Visit(simdjson::ondemand::value v) {
  namespace od = simdjson::ondemand;
  double sum = 0;
  switch (v.type().value()) {
    case od::json_type::object:
      for (auto result : v.get_object()) {
        od::field field;
        if (std::move(result).get(field) != simdjson::SUCCESS)
          throw simdjson::simdjson_error(simdjson::TAPE_ERROR);
        const char* key = field.key().raw();
        std::size_t length = 0;
        while (key[length] != '"') length += key[length] == '\\' ? 2 : 1;
        sum += static_cast<double>(length);
        sum += Visit(field.value());
      }
      break;
    case od::json_type::array:
      for (auto element : v.get_array()) sum += Visit(element.value());
      break;
    case od::json_type::number:
      sum += v.get_double().value();
      break;
    case od::json_type::string:
      sum += static_cast<double>(v.get_string().value().size());
      break;
    case od::json_type::boolean:
      sum += v.get_bool().value() ? 1 : 0;
      break;
    case od::json_type::null:
      break;
  }
  return sum;
}

double ParseEveryValue(const std::string& path) {
  simdjson::padded_string text = simdjson::padded_string::load(path).value();
  simdjson::ondemand::parser parser;
  simdjson::ondemand::document doc = parser.iterate(text).value();
  return Visit(doc.get_value().value());
}

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

// What one fresh process of this program does with a file and answers on
// its output: "load_bench --on-file WHAT PATH".
//   load, parse, import, read: the seconds it takes (the scene loaded, the
//     floor's pass over it, the glTF imported, the file read);
//   memory: the peak and the kept bytes of loading the scene, over the
//     process's memory before it.
int OnFile(const std::string& what, const std::string& path) {
  try {
    if (what == "memory") {
      const long before = StatusKb("VmRSS:");
      const auto loaded = tq::scene::LoadSceneFile(path);
      const long after = StatusKb("VmRSS:"), peak = StatusKb("VmHWM:");
      std::printf("%.9g %.9g\n", (peak - before) * 1024.0, (after - before) * 1024.0);
      return loaded ? 0 : 1;
    }
    bool ok = true;
    const double seconds = tq::bench::Seconds([&] {
      if (what == "load") {
        ok = static_cast<bool>(tq::scene::LoadSceneFile(path));
      } else if (what == "import") {
        ok = static_cast<bool>(tq::scene::ImportGltfFile(path, {}));
      } else if (what == "parse") {
        benchmark::DoNotOptimize(ParseEveryValue(path));
      } else {
        benchmark::DoNotOptimize(ReadWhole(path));
      }
    });
    std::printf("%.9g\n", seconds);
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "load_bench: %s\n", e.what());
    return 1;
  }
}

// This program run with args in a fresh process: the numbers it printed, or
// none when it failed.
std::vector<double> InFreshProcess(std::vector<std::string> args) {
  int ends[2];
  if (pipe(ends) != 0) return {};
  args.insert(args.begin(), "/proc/self/exe");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  posix_spawn_file_actions_addclose(&actions, ends[0]);
  pid_t child = -1;
  const int error = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  std::string out;
  char block[64];
  for (ssize_t got; (got = read(ends[0], block, sizeof block)) > 0;)
    out.append(block, std::size_t(got));
  close(ends[0]);
  int status = 1;
  if (error != 0 || waitpid(child, &status, 0) != child || status != 0) return {};
  std::vector<double> numbers;
  char* at = out.data();
  for (char* next = nullptr;; at = next) {
    const double v = std::strtod(at, &next);
    if (next == at) break;
    numbers.push_back(v);
  }
  return numbers;
}

// The seconds of what (see OnFile) on path in a fresh process; throws when
// it failed.
double SecondsInFreshProcess(const char* what, const std::string& path) {
  const std::vector<double> v = InFreshProcess({"--on-file", what, path});
  if (v.size() != 1) throw std::runtime_error(std::string(what) + " failed on " + path);
  return v[0];
}

// Work against its floor, each timed in a fresh process of its own,
// alternately (see BM_LoadingIsLinear): medians in seconds.
std::pair<double, double> AlternateFresh(int rounds, const char* work, const char* floor,
                                         const std::string& path) {
  std::vector<double> w, f;
  for (int i = 0; i < tq::bench::Rounds(rounds); ++i) {
    w.push_back(SecondsInFreshProcess(work, path));
    f.push_back(SecondsInFreshProcess(floor, path));
  }
  return {tq::bench::Median(w), tq::bench::Median(f)};
}

void BM_LoadLargeScene(benchmark::State& state) {
  const std::string path = "/tmp/tq-large-scene.tqs.json";
  std::ofstream(path, std::ios::binary) << LargeScene();
  const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  for (auto _ : state) {
    try {
      const std::vector<double> memory = InFreshProcess({"--on-file", "memory", path});
      if (memory.size() != 2) throw std::runtime_error("the memory probe failed");
      const double file = megabytes * 1e6;
      tq::bench::Rows().push_back({"peak memory while loading it, against the file",
                                   memory[0] / 1e6, file / 1e6, "MB", 3.0,
                                   "peak RSS over the process's before loading"});
      tq::bench::Rows().push_back({"memory kept after loading it, against the loaded data",
                                   memory[1] / 1e6, LargePackedBytes() / 1e6, "MB", 1.5,
                                   "loaded data: the scene's values packed"});
      const auto r = AlternateFresh(7, "load", "parse", path);
      std::vector<double> reads;
      for (int i = 0; i < tq::bench::Rounds(7); ++i)
        reads.push_back(SecondsInFreshProcess("read", path));
      std::string name = "loading a 50 MB scene (", note;
      name.append(tq::bench::Format(megabytes)).append(" MB: 1M points, 1M patches, 50k keys)");
      note.append(tq::bench::Format(megabytes / r.first))
          .append(
              " MB/s; floor: a simdjson On-Demand pass parsing every value, building nothing; "
              "reading the file alone: ")
          .append(tq::bench::Format(tq::bench::Median(reads) * 1e3))
          .append(" ms");
      tq::bench::Rows().push_back({name, r.first * 1e3, r.second * 1e3, "ms", 1.3, note});
    } catch (const std::exception& e) {
      tq::bench::Fail(state, e.what());
    }
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_LoadLargeScene)->Iterations(1)->Unit(benchmark::kMillisecond);

// Importing a 50 MB GLB (one mesh of 4M vertices) against reading the file,
// alternately, each in a fresh process.
void BM_ImportLargeGltf(benchmark::State& state) {
  const std::string gltfPath = "/tmp/tq-large-mesh.glb";
  {
    const int vertices = tq::bench::Quick() ? 40000 : 4000000;
    std::vector<float> xyz;
    xyz.reserve(static_cast<std::size_t>(vertices) * 3);
    for (int i = 0; i < vertices; ++i) {
      xyz.push_back(static_cast<float>(i % 1000));
      xyz.push_back(static_cast<float>(i / 1000 % 1000));
      xyz.push_back(static_cast<float>(i % 7));
    }
    std::ofstream(gltfPath, std::ios::binary) << tq::bench::MeshGlb(xyz);
  }
  const double megabytes = static_cast<double>(std::filesystem::file_size(gltfPath)) / 1e6;
  for (auto _ : state) {
    try {
      const auto r = AlternateFresh(5, "import", "read", gltfPath);
      std::string name = "importing a 50 MB GLB (", note;
      name.append(tq::bench::Format(megabytes)).append(" MB: one mesh of 4M vertices)");
      note.append(tq::bench::Format(megabytes / r.first)).append(" MB/s; floor: reading the file");
      tq::bench::Rows().push_back({name, r.first * 1e3, r.second * 1e3, "ms", 3.0, note});
    } catch (const std::exception& e) {
      tq::bench::Fail(state, e.what());
    }
  }
  std::filesystem::remove(gltfPath);
}
BENCHMARK(BM_ImportLargeGltf)->Iterations(1)->Unit(benchmark::kMillisecond);

constexpr int kUnit = 1000;

// The time to load n elements of shape as one file, or as files of 1,000
// (units), all kept until timed; the text is made before timing. Run in a
// process of its own: "load_bench --time-load SHAPE N whole|units".
int TimeLoad(Shape shape, int n, bool units) {
  const std::string text = Scene(shape, units ? kUnit : n);
  bool ok = true;
  const double seconds = tq::bench::Seconds([&] {
    auto* kept = new std::vector<tq::scene::LoadResult>;
    for (int i = 0; i < (units ? n / kUnit : 1); ++i) {
      kept->push_back(tq::scene::LoadSceneText(text, "scene.json"));
      ok = ok && static_cast<bool>(kept->back());
    }
  });
  std::printf("%.9g\n", seconds);
  return ok ? 0 : 1;
}

// TimeLoad in a fresh process (this program); seconds, or -1 when it failed.
double TimedInFreshProcess(Shape shape, int n, bool units) {
  const std::vector<double> v = InFreshProcess(
      {"--time-load", std::to_string(shape), std::to_string(n), units ? "units" : "whole"});
  return v.size() == 1 ? v[0] : -1;
}

// Loading N elements in one file against loading them as N / 1,000 files of
// 1,000, alternately: 1 when loading is linear.
void BM_LoadingIsLinear(benchmark::State& state) {
  const auto shape = static_cast<Shape>(state.range(0));
  const int n = static_cast<int>(state.range(1));
  for (auto _ : state) {
    // Alternately, each in a fresh process of its own (this program run
    // again), so that both start from the same memory and neither takes
    // what the other, or an earlier row, freed.
    std::vector<double> measured, floor;
    for (int round = 0; round < tq::bench::Rounds(5); ++round) {
      measured.push_back(TimedInFreshProcess(shape, n, false));
      floor.push_back(TimedInFreshProcess(shape, n, true));
      if (measured.back() < 0 || floor.back() < 0)
        tq::bench::Fail(state, "a load failed or its process could not run");
    }
    const std::pair<double, double> r = {tq::bench::Median(measured), tq::bench::Median(floor)};
    std::string name = "loading time against ";
    name.append(kShapeNames[shape]).append(", ").append(std::to_string(n));
    tq::bench::Rows().push_back({name, r.first * 1e3, r.second * 1e3, "ms", 1.2,
                                 "floor: the same count loaded as files of 1,000, all kept"});
  }
}
BENCHMARK(BM_LoadingIsLinear)
    ->ArgsProduct({{kHeads, kObjects, kBones, kGroups}, {1000, 10000, 100000, 400000}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--time-load") == 0)
    return TimeLoad(static_cast<Shape>(std::atoi(argv[2])), std::atoi(argv[3]),
                    std::strcmp(argv[4], "units") == 0);
  if (argc == 4 && std::strcmp(argv[1], "--on-file") == 0) return OnFile(argv[2], argv[3]);
  return tq::bench::Main(argc, argv);
}
