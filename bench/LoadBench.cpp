// Scene loading and glTF import against their floors, each timed alternately
// with its work, each timing in a fresh process of this program (so that
// neither takes memory the other, or an earlier row, freed and kept):
// - a 50 MB scene against a simdjson On-Demand pass over the same text that
//   parses every value into the loader's types; its memory against the file;
// - a 50 MB GLB imported against reading the file;
// - a chain of heads, many objects, many bones, many groups against the same
//   number of elements loaded as files of 1,000: 1 when loading is linear;
//   both on 4 KiB pages, and as run.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/prctl.h>
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
// each value parsed into the type the loader keeps it as (a point's and a
// key's values as floats, a patch's corners as 32-bit indices, a key's time
// as a whole number of ticks, names as text), walking the scene's known
// layout rather than dispatching on each value's type, and kept in plain
// arrays.
struct Parsed {
  std::vector<std::string> names;
  std::vector<std::int32_t> times;
  std::vector<float> values;
  std::vector<float> points;
  std::vector<std::uint32_t> corners;
};

namespace od = simdjson::ondemand;

void Keys(od::object channel, double fps, Parsed& p) {
  for (auto key : channel["keys"].get_array()) {
    auto pair = key.get_array();
    auto at = pair.begin();
    const double frame = (*at).get_double().value();
    p.times.push_back(static_cast<std::int32_t>(std::lround(frame / fps * 135000.0)));
    ++at;
    for (auto v : (*at).get_array()) p.values.push_back(static_cast<float>(v.get_double().value()));
  }
}

double ParseEveryValue(const std::string& path) {
  simdjson::padded_string text = simdjson::padded_string::load(path).value();
  od::parser parser;
  od::document doc = parser.iterate(text).value();
  Parsed p;
  double fps = 0;
  for (auto field : doc.get_object()) {
    const std::string_view key = field.unescaped_key().value();
    if (key == "format") {
      p.names.emplace_back(field.value().get_string().value());
    } else if (key == "version") {
      p.times.push_back(static_cast<std::int32_t>(field.value().get_int64().value()));
    } else if (key == "project") {
      fps = field.value()["fps"].get_double().value();
    } else if (key == "chor") {
      for (auto object : field.value()["objects"].get_array()) {
        for (auto member : object.get_object()) {
          const std::string_view name = member.unescaped_key().value();
          if (name == "type" || name == "name") {
            p.names.emplace_back(member.value().get_string().value());
          } else if (name == "translate" || name == "rotate") {
            Keys(member.value().get_object(), fps, p);
          } else if (name == "points") {
            for (auto point : member.value().get_array())
              for (auto v : point.get_array())
                p.points.push_back(static_cast<float>(v.get_double().value()));
          } else {  // patches, patches5
            for (auto patch : member.value().get_array())
              for (auto v : patch.get_array())
                p.corners.push_back(static_cast<std::uint32_t>(v.get_uint64().value()));
          }
        }
      }
    }
  }
  return static_cast<double>(p.points.size() + p.corners.size() + p.values.size() + p.times.size() +
                             p.names.size());
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
tq::bench::Timing AlternateFresh(int rounds, const char* work, const char* floor,
                                 const std::string& path) {
  std::vector<double> w, f;
  for (int i = 0; i < tq::bench::RowRounds(rounds); ++i) {
    w.push_back(SecondsInFreshProcess(work, path));
    f.push_back(SecondsInFreshProcess(floor, path));
  }
  return tq::bench::Paired(w, f);
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
      tq::bench::Rows().back().unchecked = "a memory row, not a time";
      tq::bench::Rows().push_back({"memory kept after loading it, against the loaded data",
                                   memory[1] / 1e6, LargePackedBytes() / 1e6, "MB", 1.5,
                                   "loaded data: the scene's values packed"});
      tq::bench::Rows().back().unchecked = "a memory row, not a time";
      const auto r = AlternateFresh(7, "load", "parse", path);
      std::vector<double> reads;
      for (int i = 0; i < tq::bench::Rounds(7); ++i)
        reads.push_back(SecondsInFreshProcess("read", path));
      std::string name = "loading a 50 MB scene (", note;
      name.append(tq::bench::Format(megabytes)).append(" MB: 1M points, 1M patches, 50k keys)");
      note.append(tq::bench::Format(megabytes / r.work))
          .append(
              " MB/s; floor: a simdjson On-Demand pass over the scene's layout parsing every "
              "value into the loader's types (floats, 32-bit indices, ticks) in plain arrays; "
              "reading the file alone: ")
          .append(tq::bench::Format(tq::bench::Median(reads) * 1e3))
          .append(" ms");
      tq::bench::Rows().push_back(tq::bench::TimedRow(name, r, 1e3, "ms", 1.3, note));
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
      note.append(tq::bench::Format(megabytes / r.work)).append(" MB/s; floor: reading the file");
      tq::bench::Rows().push_back(tq::bench::TimedRow(name, r, 1e3, "ms", 3.0, note));
    } catch (const std::exception& e) {
      tq::bench::Fail(state, e.what());
    }
  }
  std::filesystem::remove(gltfPath);
}
BENCHMARK(BM_ImportLargeGltf)->Iterations(1)->Unit(benchmark::kMillisecond);

constexpr int kUnit = 1000;

// The time to load n elements of shape as one file, or as files of 1,000
// (units), all kept until timed; the text is made before timing; with
// small, the process takes no transparent huge pages at all. Run in a
// process of its own: "load_bench --time-load SHAPE N whole|units small|as-run".
int TimeLoad(Shape shape, int n, bool units, bool small) {
  if (small && prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0) return 1;
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
double TimedInFreshProcess(Shape shape, int n, bool units, bool small) {
  const std::vector<double> v =
      InFreshProcess({"--time-load", std::to_string(shape), std::to_string(n),
                      units ? "units" : "whole", small ? "small" : "as-run"});
  return v.size() == 1 ? v[0] : -1;
}

// Loading N elements in one file against loading them as N / 1,000 files of
// 1,000, alternately: 1 when loading is linear. Like for like: both sides on
// 4 KiB pages alone (transparent huge pages refused by both processes); and
// as a user runs it, where the one large file's blocks are huge pages and
// the files of 1,000 stay in small blocks.
void BM_LoadingIsLinear(benchmark::State& state) {
  const auto shape = static_cast<Shape>(state.range(0));
  const int n = static_cast<int>(state.range(1)) / (tq::bench::Quick() ? 100 : 1);
  const bool small = state.range(2) == 0;
  for (auto _ : state) {
    // Alternately, each in a fresh process of its own (this program run
    // again), so that both start from the same memory and neither takes
    // what the other, or an earlier row, freed.
    std::vector<double> measured, floor;
    for (int round = 0; round < tq::bench::RowRounds(5); ++round) {
      measured.push_back(TimedInFreshProcess(shape, n, false, small));
      floor.push_back(TimedInFreshProcess(shape, n, true, small));
      if (measured.back() < 0 || floor.back() < 0)
        tq::bench::Fail(state, "a load failed or its process could not run");
    }
    std::string name = "loading time against ";
    name.append(kShapeNames[shape])
        .append(", ")
        .append(std::to_string(state.range(1)))
        .append(small ? ", 4 KiB pages on both sides" : ", as run (huge pages for the one file)");
    tq::bench::Rows().push_back(tq::bench::TimedRow(
        name, tq::bench::Paired(measured, floor), 1e3, "ms", 1.2,
        small ? "floor: the same count loaded as files of 1,000, all kept; neither process takes "
                "transparent huge pages"
              : "floor: the same count loaded as files of 1,000, all kept, in small blocks"));
  }
}
BENCHMARK(BM_LoadingIsLinear)
    ->ArgsProduct({{kHeads, kObjects, kBones, kGroups}, {100000, 400000}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--time-load") == 0)
    return TimeLoad(static_cast<Shape>(std::atoi(argv[2])), std::atoi(argv[3]),
                    std::strcmp(argv[4], "units") == 0, std::strcmp(argv[5], "small") == 0);
  if (argc == 4 && std::strcmp(argv[1], "--on-file") == 0) return OnFile(argv[2], argv[3]);
  return tq::bench::Main(argc, argv);
}
