// The export against its floors, each an independent direct loop
// (bench/Direct.h: the same arithmetic on plain arrays, nothing of the
// product's) whose bytes must equal the export's. Two shots of 10,000
// frames, a camera whose position, turn and focal length are keyed, tracking
// a model's centre that moves and spins inside the picture:
// - keyed every frame, linear, as the Blender add-on writes a shot, the
//   camera panning 40 degrees either way and the model turning 24 times;
// - keyed by hand every few frames, smooth, the camera panning 10 degrees.
// Rows:
// - each shot to /dev/null against its direct loop; beside the first the
//   time of formatting those lines alone;
// - the every-frame shot with 3 decimals, and through a distorting lens
//   (Brown-Conrady, tangential terms too), against the loop writing the same
//   fractional bytes with its own rounding, formatting and distortion;
// - the every-frame shot to a file on disk against the loop with its bytes
//   saved the same durable way, with what the fsync alone costs.
// - Channels of 100,000 keys (even, 1 to 7 frames apart at random, crowded
//   beside even ones) at random times, against an independent evaluation of
//   the same keys (a binary search and its own blend), values equal.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

#include "bench/Direct.h"
#include "bench/Floors.h"
#include "testing/Harness.h"
#include "host/framework/RecordingDriver.h"

namespace {

using tq::bench::Alternate;
using tq::bench::Row;
using tq::bench::Rows;
using tq::bench::direct::Curve;
using tq::scene::Channel;
using tq::scene::Interpolation;

constexpr float kFps = 30.0f;
constexpr int kWidth = 1920, kHeight = 1080;

int Frames() {
  return tq::bench::Quick() ? 200 : 10000;
}

std::int32_t Tick(int frame) {
  return static_cast<std::int32_t>(frame * 4500);
}

// Keys every `every` frames over frames 0 to last and one beyond, the dim
// values of each from value(frame, out), as plain arrays.
template <class Value>
Curve Keyed(Curve::Mode mode, int dim, int every, int last, Value value) {
  Curve c;
  c.mode = mode;
  c.dim = dim;
  for (int f = 0; f <= last + every; f += every) {
    c.times.push_back(Tick(f));
    c.values.resize(c.values.size() + static_cast<std::size_t>(dim));
    value(f, &c.values[c.values.size() - static_cast<std::size_t>(dim)]);
  }
  return c;
}

Curve Constant(std::initializer_list<float> values) {
  Curve c;
  c.dim = static_cast<int>(values.size());
  c.values = values;
  return c;
}

// The product's channel of the same keys.
Interpolation ModeOf(const Curve& c) {
  return c.mode == Curve::kSmooth ? Interpolation::kSmooth
         : c.mode == Curve::kStep ? Interpolation::kStep
                                  : Interpolation::kLinear;
}
Channel<float> FloatChannel(const Curve& c) {
  if (c.times.empty()) return Channel<float>(c.values[0]);
  return Channel<float>(ModeOf(c), c.times, c.values);
}
Channel<Vector> VectorChannel(const Curve& c) {
  std::vector<Vector> v;
  for (std::size_t i = 0; i + 2 < c.values.size(); i += 3)
    v.emplace_back(c.values[i], c.values[i + 1], c.values[i + 2]);
  if (c.times.empty()) return Channel<Vector>(v[0]);
  return Channel<Vector>(ModeOf(c), c.times, std::move(v));
}
Channel<Quaternion> RotationChannel(const Curve& c) {
  std::vector<Quaternion> v;
  for (std::size_t i = 0; i + 3 < c.values.size(); i += 4)
    v.emplace_back(c.values[i], c.values[i + 1], c.values[i + 2], c.values[i + 3]);
  if (c.times.empty()) return Channel<Quaternion>(v[0]);
  return Channel<Quaternion>(ModeOf(c), c.times, std::move(v));
}

// The unit rotation by angle about the axis (x, y, z), in double, rounded.
void AngleAxis(double angle, double x, double y, double z, float* q) {
  const double length = std::sqrt(x * x + y * y + z * z), s = std::sin(angle / 2);
  q[0] = static_cast<float>(x / length * s);
  q[1] = static_cast<float>(y / length * s);
  q[2] = static_cast<float>(z / length * s);
  q[3] = static_cast<float>(std::cos(angle / 2));
}

// The camera's pan (about Y) and tilt (about X) at frame f of the
// every-frame shot, as (x, y, z, w) in double: the pan applied last.
void PanTilt(int f, double q[4]) {
  const double pan = 0.7 * std::sin(f * 0.0007), tilt = 0.1 * std::sin(f * 0.001);
  const double sy = std::sin(pan / 2), cy = std::cos(pan / 2);
  const double sx = std::sin(tilt / 2), cx = std::cos(tilt / 2);
  q[0] = cy * sx, q[1] = sy * cx, q[2] = -sy * sx, q[3] = cy * cx;
}

// v turned by the unit rotation q, in double.
void Turn(const double q[4], const double v[3], double out[3]) {
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const double m[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                          {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                          {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
  for (int i = 0; i < 3; ++i) out[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
}

// A shot in both forms: the plain arrays of the direct loop and the scene
// the export reads, made from the same keys.
struct Shot {
  tq::bench::direct::Shot plain;
  tq::scene::Scene scene{"P", kFps, "C"};
  HCamera* camera = nullptr;
  HModel* model = nullptr;

  explicit Shot(bool everyFrame) {
    const int last = Frames();
    auto& p = plain;
    if (everyFrame) {
      const auto cameraAt = [](int f, double at[3]) {
        at[0] = 2.0 * std::sin(f * 0.01), at[1] = 1.5 + 0.3 * std::sin(f * 0.013);
        at[2] = 10.0 + std::cos(f * 0.003);
      };
      p.cameraTranslate = Keyed(Curve::kLinear, 3, 1, last, [&](int f, float* v) {
        double at[3];
        cameraAt(f, at);
        for (int k = 0; k < 3; ++k) v[k] = static_cast<float>(at[k]);
      });
      p.cameraRotate = Keyed(Curve::kLinear, 4, 1, last, [](int f, float* v) {
        double q[4];
        PanTilt(f, q);
        for (int k = 0; k < 4; ++k) v[k] = static_cast<float>(q[k]);
      });
      p.focal = Keyed(Curve::kLinear, 1, 1, last, [](int f, float* v) {
        v[0] = static_cast<float>(40.0 + 10.0 * std::sin(f * 0.02));
      });
      // The model 30 units ahead of the camera wherever it looks, wandering
      // inside the picture.
      p.targetTranslate = Keyed(Curve::kLinear, 3, 1, last, [&](int f, float* v) {
        double q[4], at[3], ahead[3];
        PanTilt(f, q);
        cameraAt(f, at);
        const double local[3] = {3.0 * std::cos(f * 0.007), std::sin(f * 0.005), -30.0};
        Turn(q, local, ahead);
        for (int k = 0; k < 3; ++k) v[k] = static_cast<float>(at[k] + ahead[k]);
      });
      p.targetRotate = Keyed(Curve::kLinear, 4, 1, last,
                             [](int f, float* v) { AngleAxis(f * 0.015, 0.3, 1.0, 0.2, v); });
    } else {
      p.cameraTranslate = Keyed(Curve::kSmooth, 3, 4, last, [](int f, float* v) {
        v[0] = 2.0f * std::sin(f * 0.01f), v[1] = 1.5f, v[2] = 10.0f + std::cos(f * 0.003f);
      });
      p.cameraRotate = Keyed(Curve::kLinear, 4, 6, last, [](int f, float* v) {
        AngleAxis(0.17 * std::sin(f * 0.004), 0, 1, 0, v);
      });
      p.focal = Keyed(Curve::kSmooth, 1, 5, last,
                      [](int f, float* v) { v[0] = 40.0f + 10.0f * std::sin(f * 0.02f); });
      p.targetTranslate = Keyed(Curve::kLinear, 3, 3, last, [](int f, float* v) {
        v[0] = 3.0f * std::cos(f * 0.007f), v[1] = std::sin(f * 0.005f), v[2] = -20.0f;
      });
      p.targetRotate = Keyed(Curve::kLinear, 4, 8, last,
                             [](int f, float* v) { AngleAxis(f * 0.001, 0, 0, 1, v); });
    }
    p.cameraScale = Constant({1, 1, 1});
    p.width = kWidth, p.height = kHeight, p.fps = kFps;

    scene.MakeCurrent();
    camera = scene.AddCamera("Cam");
    scene.SetTransform(camera, VectorChannel(p.cameraTranslate), RotationChannel(p.cameraRotate));
    scene.SetFocalLength(camera, FloatChannel(p.focal));
    model = scene.AddModel("M");
    scene.SetTransform(model, VectorChannel(p.targetTranslate), RotationChannel(p.targetRotate));
    // A grid of points, each a patch of its own.
    HModelCache* cache = model->GetCache();
    for (std::uint32_t i = 0; i < 10000; ++i) {
      const float point[3] = {float(i % 100) * 0.01f, float(i / 100) * 0.01f, 0};
      HCP* a = cache->AddPoint({point[0], point[1], point[2]});
      cache->AddPatch(a, a, a, a);
      p.points.insert(p.points.end(), point, point + 3);
      p.corners.insert(p.corners.end(), {i, i, i, i});
    }
  }
};

// The lens of the distortion row: k1, k2, p1, p2, k3.
constexpr tq::bench::direct::Distortion kLens = {-0.12, 0.02, 0.001, -0.002, 0.003};

// The formatting floor: the lines of the given pixels alone.
std::string Lines(const std::vector<std::pair<int, int>>& pixels) {
  std::string text;
  text.reserve(pixels.size() * 16);
  char line[48];
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    char* at = std::to_chars(line, line + 12, i).ptr;
    *at++ = '\t';
    at = std::to_chars(at, at + 12, pixels[i].first).ptr;
    *at++ = '\t';
    at = std::to_chars(at, at + 12, pixels[i].second).ptr;
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
// Answers the seconds the two fsyncs took.
double SaveDurably(const std::string& folder, const std::string& text) {
  const std::string temporary = folder + "/.floor.tmp", target = folder + "/floor.txt";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("cannot save in " + folder);
  }
  double synced = tq::bench::Seconds([&] {
    if (fsync(fd) != 0) throw std::runtime_error("cannot sync in " + folder);
  });
  if (close(fd) != 0 || rename(temporary.c_str(), target.c_str()) != 0) {
    throw std::runtime_error("cannot save in " + folder);
  }
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  synced += tq::bench::Seconds([&] { fsync(dir); });
  close(dir);
  return synced;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The export's bytes of a run to a file, read back.
std::string Exported(tq::testing::PluginHarness& run, Shot& s, PParameters record,
                     tq::framework::RecordingDriver& driver) {
  run.Export(s.scene.Chor(), record, driver);
  return ReadWhole(record.fileName.Get());
}

void BM_Export(benchmark::State& state) {
  Shot dense(true), sparse(false);
  tq::testing::PluginHarness run;
  tq::framework::RecordingDriver driver;
  char folderName[] = "/tmp/tqbench.XXXXXX";
  const std::string folder = mkdtemp(folderName);
  const int frames = Frames();
  const float last = float(frames - 1);
  auto record = [&](Shot& s, const std::string& path, int decimals) {
    auto r = tq::testing::Record(s.scene.Chor(), s.camera, s.model, kFps, 0, last, kWidth, kHeight,
                                 path, TargetMode::kModelCenter);
    r.decimals = decimals;
    return r;
  };
  const std::string track = folder + "/track.txt";
  auto toNull = record(dense, "/dev/null", 0), toDisk = record(dense, track, 0);
  auto fineToNull = record(dense, "/dev/null", 3), fine = record(dense, track, 3);
  auto sparseToNull = record(sparse, "/dev/null", 0);
  HPlate distorting;
  distorting.k1 = kLens.k1, distorting.k2 = kLens.k2, distorting.p1 = kLens.p1;
  distorting.p2 = kLens.p2, distorting.k3 = kLens.k3;
  using tq::bench::direct::Track;
  for (auto _ : state) {
    // Each direct loop must say what the export says, byte for byte, with
    // every frame inside the picture.
    std::vector<std::pair<int, int>> pixels;
    const std::string expected = Track(dense.plain, frames, false, nullptr, &pixels);
    if (Exported(run, dense, toDisk, driver) != expected) {
      tq::bench::Fail(state, "the direct loop's bytes differ from the export's");
      break;
    }
    if (Exported(run, sparse, record(sparse, track, 0), driver) != Track(sparse.plain, frames)) {
      tq::bench::Fail(state, "the direct loop's bytes of the hand-keyed shot differ");
      break;
    }
    if (Exported(run, dense, fine, driver) != Track(dense.plain, frames, true)) {
      tq::bench::Fail(state, "the direct loop's bytes with 3 decimals differ from the export's");
      break;
    }
    dense.camera->SetPlate(distorting);
    const bool sameDistorted =
        Exported(run, dense, fine, driver) == Track(dense.plain, frames, true, &kLens);
    dense.camera->SetPlate({});
    if (!sameDistorted) {
      tq::bench::Fail(state, "the direct loop's bytes through the lens differ from the export's");
      break;
    }
    for (const auto& [x, y] : pixels) {
      if (x < 0 || x >= kWidth || y < 0 || y >= kHeight) {
        tq::bench::Fail(state, "a frame of the shot lands outside the picture");
        break;
      }
    }
    double formatting = 0.0;
    {
      std::vector<double> times;
      for (int i = 0; i < tq::bench::Rounds(41); ++i)
        times.push_back(tq::bench::Seconds([&] { WriteOnce("/dev/null", Lines(pixels)); }));
      formatting = tq::bench::Median(times);
    }
    const auto computing = Alternate(
        41, [&] { run.Export(dense.scene.Chor(), toNull, driver); },
        [&] { WriteOnce("/dev/null", Track(dense.plain, frames)); }, 5);
    const auto handKeyed = Alternate(
        41, [&] { run.Export(sparse.scene.Chor(), sparseToNull, driver); },
        [&] { WriteOnce("/dev/null", Track(sparse.plain, frames)); }, 5);
    const auto decimals = Alternate(
        41, [&] { run.Export(dense.scene.Chor(), fineToNull, driver); },
        [&] { WriteOnce("/dev/null", Track(dense.plain, frames, true)); }, 5);
    dense.camera->SetPlate(distorting);
    const auto distorted = Alternate(
        41, [&] { run.Export(dense.scene.Chor(), fineToNull, driver); },
        [&] { WriteOnce("/dev/null", Track(dense.plain, frames, true, &kLens)); }, 5);
    dense.camera->SetPlate({});
    std::vector<double> syncs;
    const auto disk = Alternate(
        21, [&] { run.Export(dense.scene.Chor(), toDisk, driver); },
        [&] { syncs.push_back(SaveDurably(folder, Track(dense.plain, frames))); });
    if (!driver.messages.empty()) tq::bench::Fail(state, driver.messages[0]);
    std::string note =
        "floor: an independent direct loop (its own key search, slerp, matrices, inverse, "
        "rounding and formatting) writing the same ";
    note.append(std::to_string(expected.size()))
        .append(" bytes; formatting those lines alone: ")
        .append(tq::bench::Format(formatting * 1e3))
        .append(" ms");
    using tq::bench::TimedRow;
    Rows().push_back(
        TimedRow("export of 10,000 frames keyed every frame, turning, animated lens (to /dev/null)",
                 computing, 1e3, "ms", 1.25, note));
    Rows().push_back(
        TimedRow("export of 10,000 frames keyed by hand every 3 to 8 frames, smooth (to /dev/null)",
                 handKeyed, 1e3, "ms", 1.25, "floor: the independent direct loop, the same bytes"));
    Rows().push_back(TimedRow("the keyed-every-frame export with 3 decimals (to /dev/null)",
                              decimals, 1e3, "ms", 1.25,
                              "floor: the independent loop writing the same fractional bytes, "
                              "its own rounding and formatting"));
    Rows().push_back(TimedRow(
        "the keyed-every-frame export through a distorting lens, 3 decimals (to /dev/null)",
        distorted, 1e3, "ms", 1.25,
        "floor: the independent loop with its own Brown-Conrady distortion, the same bytes"));
    std::string diskNote =
        "floor: the independent loop, its bytes saved durably (temporary, fsync, rename); "
        "fsync: ";
    diskNote.append(tq::bench::Format(tq::bench::Median(syncs) * 1e3)).append(" ms of it");
    Rows().push_back(
        TimedRow("the keyed-every-frame export to a file on disk", disk, 1e3, "ms", 1.3, diskNote));
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Export)->Iterations(1)->Unit(benchmark::kMillisecond);

// The keys of a 100,000-key channel (4,000 when quick).
enum Spacing { kEven, kRandom, kCrowded };
const char* const kSpacingNames[] = {
    "channel evaluation, 100,000 keys every frame, random times",
    "channel evaluation, 100,000 keys 1 to 7 frames apart at random, random times",
    "channel evaluation, 100,000 keys, crowds 1 tick apart beside keys every frame"};

Curve KeyedCurve(Spacing spacing, int keys) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<std::int32_t> gap(1, 7);
  Curve c;
  c.mode = Curve::kSmooth;
  std::int32_t t = 0;
  for (int i = 0; i < keys; ++i) {
    c.times.push_back(t);
    c.values.insert(c.values.end(), {float(i), float(i % 7), 0.0f});
    if (spacing == kRandom) {
      t += gap(rng) * 4500;
    } else if (spacing == kCrowded && i % 2000 >= 1000 && i % 2000 < 1999) {
      t += 1;  // 1,000 keys one tick apart, then back to every frame
    } else {
      t += 4500;
    }
  }
  return c;
}

// Random times within the keys; for crowded keys, half of them inside the
// crowds.
std::vector<std::int32_t> TimesWithin(const std::vector<std::int32_t>& keys, Spacing spacing) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<std::int32_t> any(keys.front(), keys.back());
  std::uniform_int_distribution<std::size_t> key(0, keys.size() - 2);
  std::vector<std::int32_t> times(200000);
  for (std::size_t i = 0; i < times.size(); ++i) {
    times[i] = any(rng);
    if (spacing == kCrowded && i % 2 == 1) {
      std::size_t k = key(rng);
      while (keys[k + 1] - keys[k] != 1) k = key(rng);
      times[i] = keys[k];
    }
  }
  return times;
}

// The values at the times, summed in float, from the product's channel and
// from the independent evaluation; both sums are kept and compared.
float Evaluate(const Channel<Vector>& channel, const std::vector<std::int32_t>& times) {
  float sum = 0;
  for (const std::int32_t t : times) {
    const Vector v = channel.Evaluate(t);
    sum = sum + v.x + v.y + v.z;
  }
  return sum;
}
float Evaluate(const Curve& curve, const std::vector<std::int32_t>& times) {
  float sum = 0;
  for (const std::int32_t t : times) {
    float v[3];
    tq::bench::direct::Evaluate(curve, t, v);
    sum = sum + v[0] + v[1] + v[2];
  }
  return sum;
}

void BM_ChannelEvaluation(benchmark::State& state) {
  const auto spacing = static_cast<Spacing>(state.range(0));
  const Curve curve = KeyedCurve(spacing, tq::bench::Quick() ? 4000 : 100000);
  const Channel<Vector> channel = VectorChannel(curve);
  const std::vector<std::int32_t> times = TimesWithin(curve.times, spacing);
  for (auto _ : state) {
    float product = 0, independent = 0;
    const auto r = Alternate(
        15, [&] { product = Evaluate(channel, times); },
        [&] { independent = Evaluate(curve, times); }, 3);
    if (std::memcmp(&product, &independent, sizeof product) != 0) {
      tq::bench::Fail(state, "the independent evaluation's values differ from the channel's");
      break;
    }
    const double n = static_cast<double>(times.size());
    Rows().push_back(tq::bench::TimedRow(
        kSpacingNames[spacing], r, 1e9 / n, "ns", 1.25,
        "floor: an independent evaluation of the same keys (a binary search and its own "
        "Catmull-Rom), the same values"));
  }
}
BENCHMARK(BM_ChannelEvaluation)->Arg(kEven)->Arg(kRandom)->Arg(kCrowded)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  return tq::bench::Main(argc, argv);
}
