// tqhost as a whole process, as a user runs it, against a minimal process
// (copy_floor) that reads the same scene and writes the same bytes the same
// durable way, run alternately:
// - a 1.8 MB scene with keys on every object, one target exported to a file,
//   against the floor parsing the scene and working out the same track with
//   the benchmarks' own direct loop;
// - --all-targets, 1,000 targets of 10,000 frames each, against the same
//   files written by the floor, and against 100 targets (linear in targets);
// - --plan of every object of a scene of 20,000, against 2,000 (linear).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/Floors.h"

extern char** environ;

namespace {

using tq::bench::Row;

const std::string kHost = TQ_BIN_DIR "/tqhost";
const std::string kFloor = TQ_BIN_DIR "/copy_floor";

void Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int error = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (error != 0 || waitpid(child, &status, 0) != child || status != 0) {
    throw std::runtime_error(std::string("cannot run ").append(args[0]));
  }
}

// A folder of its own for a benchmark's files, removed with it.
struct Folder {
  std::string path;
  Folder() {
    char name[] = "/tmp/tqprocess.XXXXXX";
    path = mkdtemp(name);
  }
  ~Folder() { std::filesystem::remove_all(path); }
};

void Append(std::string& s, const char* format, double a, double b = 0, double c = 0,
            double d = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  s += text;
}

// A key list of translations or rotations (about Y), one key every `every`
// frames from 0 to last: the objects wander about z = -25, the camera about
// z = 10, turning a few degrees either way, so that every target is ahead.
void Keys(std::string& s, bool rotation, bool camera, int every, int last, double seed) {
  s += "{\"interpolation\": \"smooth\", \"keys\": [";
  for (int f = 0; f <= last; f += every) {
    if (f > 0) s += ",\n";
    const double a = seed + f * 0.01;
    if (rotation) {
      const double half = camera ? 0.04 * std::sin(a) : 0.05 * a;
      Append(s, "[%g, [0, %.6f, 0, %.6f]]", f, std::sin(half), std::cos(half));
    } else {
      Append(s, "[%g, [%.4f, %.4f, %.4f]]", f, 3 * std::sin(a), std::cos(a),
             (camera ? 10 : -25) + std::sin(a * 3));
    }
  }
  s += "]}";
}

// A scene of a keyed camera and `objects` nulls, each keyed every `every`
// frames from 0 to last.
std::string KeyedScene(int objects, int every, int last) {
  std::string s =
      R"({"format": "tq-scene", "version": 1, "project": {"fps": 30}, "chor": {"objects": [)";
  s += "\n{\"type\": \"camera\", \"name\": \"Cam\", \"output\": {\"width\": 1920, "
       "\"height\": 1080}, \"translate\": ";
  Keys(s, false, true, every, last, 0.5);
  s += ", \"rotate\": ";
  Keys(s, true, true, every, last, 0.5);
  s += "}";
  for (int i = 0; i < objects; ++i) {
    s += ",\n{\"type\": \"null\", \"name\": \"N" + std::to_string(i) + "\", \"translate\": ";
    Keys(s, false, false, every, last, i);
    s += ", \"rotate\": ";
    Keys(s, true, false, every, last, i);
    s += "}";
  }
  s += "]}}\n";
  return s;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Save(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void BM_KeyedShot(benchmark::State& state) {
  const Folder folder;
  const std::string scene = folder.path + "/shot.tqs.json";
  const std::string track = folder.path + "/track.txt", copy = folder.path + "/copy.txt";
  // 50 keyed nulls and the camera, a key every 2 frames over 1,000 frames.
  Save(scene, KeyedScene(tq::bench::Quick() ? 4 : 50, 2, 1000));
  const double megabytes = static_cast<double>(std::filesystem::file_size(scene)) / 1e6;
  const std::vector<std::string> work = {kHost,   "export", scene, "--target", "N3",
                                         "--end", "999",    "-o",  track};
  for (auto _ : state) {
    try {
      // The floor's track must be the export's, byte for byte.
      const std::vector<std::string> floor = {kFloor, "--export", "N3", "1000", scene, copy};
      Run(work);
      Run(floor);
      if (ReadWhole(track) != ReadWhole(copy))
        throw std::runtime_error("the floor's track differs from tqhost's");
      const auto r = tq::bench::Alternate(
          31, [&] { Run(work); }, [&] { Run(floor); });
      std::string name = "tqhost export of a keyed shot (";
      name.append(tq::bench::Format(megabytes))
          .append(" MB, 51 keyed objects, 1,000 frames) to a file, whole process");
      tq::bench::Rows().push_back(tq::bench::TimedRow(
          name, r, 1e3, "ms", 1.3,
          "floor: a minimal process reading the scene, parsing every value (simdjson On-Demand), "
          "working out the same track with the independent direct loop and saving its bytes "
          "durably"));
    } catch (const std::exception& e) {
      tq::bench::Fail(state, e.what());
    }
  }
}
BENCHMARK(BM_KeyedShot)->Iterations(1)->Unit(benchmark::kMillisecond);

// A row of many targets' time per target against few targets': both sides
// are the product, so it measures linearity in targets.
void LinearRow(std::string name, const std::vector<double>& many, const std::vector<double>& few,
               double scale, std::string unit, double goal, std::string note) {
  Row linear = tq::bench::TimedRow(std::move(name), tq::bench::Paired(many, few), scale,
                                   std::move(unit), goal, std::move(note));
  linear.unchecked = "both sides are the product (it measures linearity in targets)";
  tq::bench::Rows().push_back(linear);
}

void BM_AllTargets(benchmark::State& state) {
  const bool quick = tq::bench::Quick();
  const int many = quick ? 20 : 1000, few = quick ? 2 : 100;
  const std::string end = quick ? "99" : "9999";
  const Folder folder;
  const std::string manyScene = folder.path + "/many.tqs.json";
  const std::string fewScene = folder.path + "/few.tqs.json";
  // Every object keyed every 500 frames: the run, not the scene, is large.
  Save(manyScene, KeyedScene(many, 500, 10000));
  Save(fewScene, KeyedScene(few, 500, 10000));
  auto command = [&](const std::string& scene, const std::string& out) {
    return std::vector<std::string>{
        kHost,   "export", scene, "--all-targets",
        "--end", end,      "-o",  folder.path + "/" + out + "-{target}.txt"};
  };
  std::vector<std::string> floor = {kFloor, manyScene, folder.path + "/many-N0.txt"};
  for (int i = 0; i < many; ++i)
    floor.push_back(folder.path + "/floor-N" + std::to_string(i) + ".txt");
  for (auto _ : state) {
    try {
      Run(command(manyScene, "many"));  // the files the floor copies
      std::vector<double> manyTimes, fewTimes, floorTimes;
      for (int round = 0; round < tq::bench::RowRounds(5); ++round) {
        manyTimes.push_back(tq::bench::Seconds([&] { Run(command(manyScene, "many")); }) / many);
        fewTimes.push_back(tq::bench::Seconds([&] { Run(command(fewScene, "few")); }) / few);
        floorTimes.push_back(tq::bench::Seconds([&] { Run(floor); }) / many);
      }
      const double perFile = tq::bench::Median(manyTimes);
      const double floorPerFile = tq::bench::Median(floorTimes);
      std::string note = "files/s: ";
      note.append(tq::bench::Format(1.0 / perFile))
          .append(", the floor's ")
          .append(tq::bench::Format(1.0 / floorPerFile))
          .append(
              "; floor: a minimal process saving the same bytes to as many files durably, the "
              "best simple way (every temporary written, one sync of the file system for all, "
              "then each renamed and the folder synced once)");
      Row all = tq::bench::TimedRow("--all-targets, 1,000 targets of 10,000 frames, per file",
                                    tq::bench::Paired(manyTimes, floorTimes), 1e3, "ms",
                                    1000.0 / 462, std::move(note));
      all.kind = Row::Goal::kAbsolute;
      tq::bench::Rows().push_back(all);
      LinearRow("--all-targets, 1,000 targets against 100, per file", manyTimes, fewTimes, 1e3,
                "ms", 1.2, "floor: 100 targets of a scene of 100 objects, per file");
    } catch (const std::exception& e) {
      tq::bench::Fail(state, e.what());
    }
  }
}
BENCHMARK(BM_AllTargets)->Iterations(1)->Unit(benchmark::kMillisecond);

// What a run of every object of a large scene would write (--plan: every
// name and path checked as for the run, nothing written), 20,000 targets
// against 2,000: checked linear in targets, per target.
void BM_PlanEveryObject(benchmark::State& state) {
  const bool quick = tq::bench::Quick();
  const int many = quick ? 200 : 20000, few = many / 10;
  const Folder folder;
  const std::string manyScene = folder.path + "/many.tqs.json";
  const std::string fewScene = folder.path + "/few.tqs.json";
  Save(manyScene, KeyedScene(many, 10, 10));
  Save(fewScene, KeyedScene(few, 10, 10));
  auto command = [&](const std::string& scene) {
    return std::vector<std::string>{
        kHost, "export", scene, "--all-targets", "--plan", "-o", folder.path + "/{target}.txt"};
  };
  for (auto _ : state) {
    try {
      std::vector<double> manyTimes, fewTimes;
      for (int round = 0; round < tq::bench::RowRounds(5); ++round) {
        manyTimes.push_back(tq::bench::Seconds([&] { Run(command(manyScene)); }) / many);
        fewTimes.push_back(tq::bench::Seconds([&] { Run(command(fewScene)); }) / few);
      }
      LinearRow("--plan of every object, 20,000 targets against 2,000, per target", manyTimes,
                fewTimes, 1e6, "us", 1.3,
                "floor: 2,000 targets of a scene of 2,000 objects, per target");
    } catch (const std::exception& e) {
      tq::bench::Fail(state, e.what());
    }
  }
}
BENCHMARK(BM_PlanEveryObject)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return tq::bench::Main(argc, argv);
}
