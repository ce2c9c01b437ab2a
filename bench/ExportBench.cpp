// The export against its floors: 10,000 frames computed and written to
// /dev/null against the same lines formatted into one buffer and written
// once; the same export to a file on disk against the same bytes saved the
// same durable way; a 100,000-key channel against a 100-key one.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <stdexcept>
#include <random>
#include <string>

#include "bench/Floors.h"
#include "host/framework/RecordingDriver.h"
#include "tests/export/Harness.h"

namespace {

using tq::bench::Alternate;
using tq::bench::Row;
using tq::bench::Rows;
using tq::scene::Channel;
using tq::scene::Interpolation;
using tq::scene::Key;

constexpr int kFrames = 10000;

// The scene of the export rows: a 10,000-patch model tracked at its centre
// by a camera, camera and target keyed every frame.
struct ExportScene {
  tq::scene::Scene scene{"P", 30, "C"};
  HCamera* camera = nullptr;
  HModel* model = nullptr;

  ExportScene() {
    scene.MakeCurrent();
    camera = scene.AddCamera("Cam");
    std::vector<Key<Vector>> cameraKeys, targetKeys;
    std::vector<Key<Quaternion>> turns;
    for (int f = 0; f < kFrames; ++f) {
      const float s = static_cast<float>(f) * 0.001f;
      cameraKeys.push_back({f * 4500, Vector(s, 1.5f, 10.0f)});
      targetKeys.push_back({f * 4500, Vector(-s, 0.0f, -20.0f)});
      turns.push_back({f * 4500, Quaternion(s, Vector(0, 1, 0))});
    }
    scene.SetTransform(camera, Channel<Vector>(Interpolation::kLinear, cameraKeys),
                       Channel<Quaternion>(Interpolation::kLinear, turns));
    model = scene.AddModel("M");
    scene.SetTransform(model, Channel<Vector>(Interpolation::kLinear, targetKeys),
                       Channel<Quaternion>(Interpolation::kLinear, turns));
    HModelCache* cache = model->GetCache();
    for (int i = 0; i < 10000; ++i) {
      HCP* a = cache->AddPoint({float(i % 100), float(i / 100), 0});
      cache->AddPatch(a, a, a, a);
    }
  }
};

// The floor's lines: as many, formatted with to_chars into one buffer (the
// floor rows time this and the one write that follows).
std::string Lines(int frames) {
  std::string text;
  char line[48];
  for (int i = 0; i < frames; ++i) {
    char* at = std::to_chars(line, line + 12, i).ptr;
    *at++ = '\t';
    at = std::to_chars(at, at + 12, 960 + i % 100).ptr;
    *at++ = '\t';
    at = std::to_chars(at, at + 12, 540 - i % 50).ptr;
    *at++ = '\n';
    text.append(line, at);
  }
  return text;
}

void WriteOnce(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("cannot write " + path);
  }
  close(fd);
}

// The durable floor: a temporary, fsync, rename, fsync of the folder.
void SaveDurably(const std::string& folder, const std::string& text) {
  const std::string temporary = folder + "/.floor.tmp", target = folder + "/floor.txt";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      fsync(fd) != 0 || close(fd) != 0 || rename(temporary.c_str(), target.c_str()) != 0) {
    throw std::runtime_error("cannot save in " + folder);
  }
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  fsync(dir);
  close(dir);
}

void BM_Export(benchmark::State& state) {
  ExportScene s;
  tq::testing::PluginHarness harness;
  tq::framework::RecordingDriver driver;
  char folderName[] = "/tmp/tqbench.XXXXXX";
  const std::string folder = mkdtemp(folderName);
  for (auto _ : state) {
    auto toNull = tq::testing::Record(s.scene.Chor(), s.camera, s.model, 30, 0, kFrames - 1, 1920,
                                      1080, "/dev/null", 1);
    const auto computing = Alternate(
        41, [&] { harness.Export(s.scene.Chor(), toNull, driver); },
        [&] { WriteOnce("/dev/null", Lines(kFrames)); });
    auto toDisk = tq::testing::Record(s.scene.Chor(), s.camera, s.model, 30, 0, kFrames - 1, 1920,
                                      1080, folder + "/track.txt", 1);
    const auto disk = Alternate(
        21, [&] { harness.Export(s.scene.Chor(), toDisk, driver); },
        [&] { SaveDurably(folder, Lines(kFrames)); });
    if (!driver.messages.empty()) tq::bench::Fail(state, driver.messages[0]);
    Rows().push_back({"export of 10,000 frames, computing only (to /dev/null)",
                      computing.first * 1e3, computing.second * 1e3, "ms", 3.0,
                      "floor: the lines formatted into one buffer, one write()"});
    Rows().push_back({"the same export to a file on disk", disk.first * 1e3, disk.second * 1e3,
                      "ms", 1.3, "floor: the same bytes saved durably (temporary, fsync, rename)"});
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Export)->Iterations(1)->Unit(benchmark::kMillisecond);

Channel<Vector> KeyedChannel(int keys) {
  std::vector<Key<Vector>> k;
  for (int i = 0; i < keys; ++i) k.push_back({i * 4500, Vector(float(i), 0, 0)});
  return Channel<Vector>(Interpolation::kSmooth, k);
}

// A channel asked at random times within its keys.
void Evaluate(const Channel<Vector>& channel, Time span, const std::vector<Time>& times) {
  for (const Time t : times) benchmark::DoNotOptimize(channel.Evaluate(t % span));
}

void BM_ChannelEvaluation(benchmark::State& state) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<Time> any(0, 100000 * 4500);
  std::vector<Time> times(200000);
  for (Time& t : times) t = any(rng);
  const Channel<Vector> many = KeyedChannel(100000), few = KeyedChannel(100);
  for (auto _ : state) {
    const auto r = Alternate(
        15, [&] { Evaluate(many, 99999 * 4500, times); }, [&] { Evaluate(few, 99 * 4500, times); });
    const double n = static_cast<double>(times.size());
    Rows().push_back({"channel evaluation, 100,000 keys vs 100 keys, random times",
                      r.first * 1e9 / n, r.second * 1e9 / n, "ns", 2.0,
                      "floor: the 100-key channel"});
  }
}
BENCHMARK(BM_ChannelEvaluation)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  return tq::bench::Main(argc, argv);
}
