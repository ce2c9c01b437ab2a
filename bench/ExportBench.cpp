// The export against its floors. The shot is a user's: a camera whose
// position, turn and focal length are keyed every few frames, tracking a
// model's centre that moves inside the picture on keys of its own.
// - 10,000 frames to /dev/null against the same arithmetic written as one
//   direct loop (channels evaluated, the camera's matrix and its inverse, the
//   lens, the pixel), whose bytes must equal the export's; beside it the
//   time of formatting those lines alone.
// - The same export with 3 decimals against the direct loop writing the
//   same fractional bytes with its own rounding and formatting; and through
//   a distorting lens (Brown-Conrady, tangential terms too) against the loop
//   with the same distortion written out.
// - The same export to a file on disk against the direct loop with its bytes
//   saved the same durable way, with what the fsync alone costs.
// - Channels of 100,000 keys (even, 1 to 7 frames apart at random, crowded
//   beside even ones) against a 100-key channel, at random times.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

#include "bench/Floors.h"
#include "plugin/Harness.h"
#include "export/ReferencePoints.h"
#include "host/framework/RecordingDriver.h"
#include "math/Rounding.h"

namespace {

using tq::bench::Alternate;
using tq::bench::Row;
using tq::bench::Rows;
using tq::scene::Channel;
using tq::scene::Interpolation;
using tq::scene::Key;

constexpr float kFps = 30.0f;
constexpr int kWidth = 1920, kHeight = 1080;

int Frames() {
  return tq::bench::Quick() ? 200 : 10000;
}

Time Tick(int frame) {
  return static_cast<Time>(frame * 4500);
}

// Keys every `every` frames over frames 0 to last, the value of each from
// value(frame).
template <class T, class Value>
Channel<T> Keyed(Interpolation mode, int every, int last, Value value) {
  std::vector<Key<T>> keys;
  for (int f = 0; f <= last + every; f += every) keys.push_back({Tick(f), value(f)});
  return Channel<T>(mode, keys);
}

// The shot: the camera drifts and pans about 10 degrees either way while its
// focal length breathes from 30 to 50 mm; the model, 30 units ahead, wanders
// inside the picture.
struct Shot {
  tq::scene::Scene scene{"P", kFps, "C"};
  HCamera* camera = nullptr;
  HModel* model = nullptr;

  Shot() {
    scene.MakeCurrent();
    const int last = Frames();
    camera = scene.AddCamera("Cam");
    scene.SetTransform(camera,
                       Keyed<Vector>(Interpolation::kSmooth, 4, last,
                                     [](int f) {
                                       return Vector(2.0f * std::sin(f * 0.01f), 1.5f,
                                                     10.0f + std::cos(f * 0.003f));
                                     }),
                       Keyed<Quaternion>(Interpolation::kLinear, 6, last, [](int f) {
                         return Quaternion(0.17f * std::sin(f * 0.004f), Vector(0, 1, 0));
                       }));
    scene.SetFocalLength(camera, Keyed<float>(Interpolation::kSmooth, 5, last, [](int f) {
                           return 40.0f + 10.0f * std::sin(f * 0.02f);
                         }));
    model = scene.AddModel("M");
    scene.SetTransform(
        model,
        Keyed<Vector>(Interpolation::kLinear, 3, last,
                      [](int f) {
                        return Vector(3.0f * std::cos(f * 0.007f), std::sin(f * 0.005f), -20.0f);
                      }),
        Keyed<Quaternion>(Interpolation::kLinear, 8, last,
                          [](int f) { return Quaternion(f * 0.001f, Vector(0, 0, 1)); }));
    HModelCache* cache = model->GetCache();
    for (int i = 0; i < 10000; ++i) {
      HCP* a = cache->AddPoint({float(i % 100) * 0.01f, float(i / 100) * 0.01f, 0});
      cache->AddPatch(a, a, a, a);
    }
  }
};

// A value with 3 decimals, written its own way: X x 1000 rounded half away
// from zero, then its whole part, the point and three digits.
char* ThreeDecimals(char* at, double value) {
  const double scaled = value * 1000.0;
  const auto k =
      static_cast<long long>(scaled >= 0.0 ? std::trunc(scaled + 0.5) : std::trunc(scaled - 0.5));
  const unsigned long long u = k < 0 ? 0ULL - static_cast<unsigned long long>(k) : k;
  if (k < 0) *at++ = '-';
  at = std::to_chars(at, at + 20, u / 1000).ptr;
  const unsigned fraction = static_cast<unsigned>(u % 1000);
  *at++ = '.';
  *at++ = static_cast<char>('0' + fraction / 100);
  *at++ = static_cast<char>('0' + fraction / 10 % 10);
  *at++ = static_cast<char>('0' + fraction % 10);
  return at;
}

// The export's arithmetic as one loop over the shot's channels, the lines
// formatted into text (whole pixels, or with 3 decimals); answers the text
// and appends each pixel to pixels.
// The lens of the distortion row: k1, k2, p1, p2, k3.
constexpr double kLens[] = {-0.12, 0.02, 0.001, -0.002, 0.003};

std::string DirectLoop(const Shot& s, std::vector<std::pair<int, int>>* pixels = nullptr,
                       bool threeDecimals = false, bool distort = false) {
  const auto& camera = *s.camera->GetTransform();
  const Channel<Vector>& cameraTranslate = camera.GetTranslate()->GetChannel();
  const Channel<Quaternion>& cameraRotate = camera.GetRotate()->GetChannel();
  const Channel<Vector>& cameraScale = camera.GetScale()->GetChannel();
  const Channel<float>& focal = s.camera->GetFocalLength()->GetChannel();
  const auto& model = *s.model->GetTransform();
  const Channel<Vector>& modelTranslate = model.GetTranslate()->GetChannel();
  const Channel<Quaternion>& modelRotate = model.GetRotate()->GetChannel();
  const Vector offset = GetModelCenter(s.model->GetCache());
  const double aspect = double(kWidth) / double(kHeight);
  const double hw = kWidth / 2, hh = kHeight / 2;
  float lastFocal = NAN;
  double lens = 0.0;
  std::string text;
  text.reserve(static_cast<std::size_t>(Frames()) * 16);
  char line[48];
  tq::scene::ForEachRunFrame(0.0f, float(Frames() - 1), kFps, [&](int index, float, Time t) {
    const Vector s3 = cameraScale.Evaluate(t);
    Matrix34 m(cameraRotate.Evaluate(t));
    for (Vector4& row : m.row) {
      row.x = row.x * s3.x;
      row.y = row.y * s3.y;
      row.z = row.z * s3.z;
    }
    const Vector at = cameraTranslate.Evaluate(t);
    m.row[0].w = at.x;
    m.row[1].w = at.y;
    m.row[2].w = at.z;
    Vector point = modelTranslate.Evaluate(t);
    point += Matrix34(modelRotate.Evaluate(t)) * offset;
    const Vector q = m.Inverse() * point;
    const float f = focal.Evaluate(t);
    if (!(f == lastFocal)) {
      lens = std::tan(std::atan(static_cast<double>(f + f) / -35.0) + 1.5707963267949);
      lastFocal = f;
    }
    const double d = lens * static_cast<double>(q.z);
    double px = hw - (static_cast<double>(q.x) / d) * hw;
    double py = hh - ((static_cast<double>(q.y) / d) * aspect) * hh;
    if (distort) {
      const double depth = -static_cast<double>(q.z);
      const double x = static_cast<double>(q.x) / depth, y = -static_cast<double>(q.y) / depth;
      const double r2 = x * x + y * y;
      const double radial = 1 + r2 * (kLens[0] + r2 * (kLens[1] + r2 * kLens[4]));
      const double dx = x * radial + 2 * kLens[2] * x * y + kLens[3] * (r2 + 2 * x * x);
      const double dy = y * radial + kLens[2] * (r2 + 2 * y * y) + 2 * kLens[3] * x * y;
      px = hw + (hw / lens) * dx;
      py = hh - (aspect * hh / lens) * dy;
    }
    char* end = std::to_chars(line, line + 12, index).ptr;
    *end++ = '\t';
    if (threeDecimals) {
      end = ThreeDecimals(end, px);
      *end++ = '\t';
      end = ThreeDecimals(end, py);
      *end++ = '\n';
      text.append(line, end);
      return;
    }
    const std::int32_t x = RoundToInt32(px);
    const std::int32_t y = RoundToInt32(py);
    if (pixels != nullptr) pixels->push_back({x, y});
    end = std::to_chars(end, end + 12, x).ptr;
    *end++ = '\t';
    end = std::to_chars(end, end + 12, y).ptr;
    *end++ = '\n';
    text.append(line, end);
  });
  return text;
}

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

void BM_Export(benchmark::State& state) {
  Shot s;
  tq::testing::PluginHarness run;
  tq::framework::RecordingDriver driver;
  char folderName[] = "/tmp/tqbench.XXXXXX";
  const std::string folder = mkdtemp(folderName);
  const float last = float(Frames() - 1);
  auto toNull = tq::testing::Record(s.scene.Chor(), s.camera, s.model, kFps, 0, last, kWidth,
                                    kHeight, "/dev/null", TargetMode::kModelCenter);
  auto toDisk = tq::testing::Record(s.scene.Chor(), s.camera, s.model, kFps, 0, last, kWidth,
                                    kHeight, folder + "/track.txt", TargetMode::kModelCenter);
  for (auto _ : state) {
    // The direct loop must say what the export says, byte for byte, with
    // every frame inside the picture.
    run.Export(s.scene.Chor(), toDisk, driver);
    std::vector<std::pair<int, int>> pixels;
    const std::string expected = DirectLoop(s, &pixels);
    if (ReadWhole(folder + "/track.txt") != expected) {
      tq::bench::Fail(state, "the direct loop's bytes differ from the export's");
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
        41, [&] { run.Export(s.scene.Chor(), toNull, driver); },
        [&] { WriteOnce("/dev/null", DirectLoop(s)); });
    // With 3 decimals: the same bytes from the loop's own rounding.
    auto fine = toDisk;
    fine.decimals = 3;
    run.Export(s.scene.Chor(), fine, driver);
    if (ReadWhole(folder + "/track.txt") != DirectLoop(s, nullptr, true)) {
      tq::bench::Fail(state, "the direct loop's bytes with 3 decimals differ from the export's");
      break;
    }
    auto fineToNull = toNull;
    fineToNull.decimals = 3;
    const auto decimals = Alternate(
        41, [&] { run.Export(s.scene.Chor(), fineToNull, driver); },
        [&] { WriteOnce("/dev/null", DirectLoop(s, nullptr, true)); });
    // Through a distorting lens: the same bytes, then the same pair of runs.
    HPlate distorting;
    distorting.k1 = kLens[0], distorting.k2 = kLens[1], distorting.p1 = kLens[2];
    distorting.p2 = kLens[3], distorting.k3 = kLens[4];
    s.camera->SetPlate(distorting);
    run.Export(s.scene.Chor(), fine, driver);
    if (ReadWhole(folder + "/track.txt") != DirectLoop(s, nullptr, true, true)) {
      tq::bench::Fail(state, "the direct loop's bytes through the lens differ from the export's");
      break;
    }
    const auto distorted = Alternate(
        41, [&] { run.Export(s.scene.Chor(), fineToNull, driver); },
        [&] { WriteOnce("/dev/null", DirectLoop(s, nullptr, true, true)); });
    s.camera->SetPlate({});
    std::vector<double> syncs;
    const auto disk = Alternate(
        21, [&] { run.Export(s.scene.Chor(), toDisk, driver); },
        [&] { syncs.push_back(SaveDurably(folder, DirectLoop(s))); });
    if (!driver.messages.empty()) tq::bench::Fail(state, driver.messages[0]);
    std::string note = "floor: the same arithmetic as one direct loop, the same ";
    note.append(std::to_string(expected.size()))
        .append(" bytes; formatting those lines alone: ")
        .append(tq::bench::Format(formatting * 1e3))
        .append(" ms");
    Rows().push_back(
        {"export of 10,000 frames of a keyed shot with an animated lens (to /dev/null)",
         computing.first * 1e3, computing.second * 1e3, "ms", 1.25, note});
    Rows().push_back({"the same export with 3 decimals (to /dev/null)", decimals.first * 1e3,
                      decimals.second * 1e3, "ms", 1.25,
                      "floor: the direct loop writing the same fractional bytes, its own rounding "
                      "and formatting"});
    Rows().push_back({"the same export through a distorting lens, 3 decimals (to /dev/null)",
                      distorted.first * 1e3, distorted.second * 1e3, "ms", 1.25,
                      "floor: the direct loop with the same Brown-Conrady distortion written out "
                      "and the same bytes"});
    std::string diskNote =
        "floor: the direct loop, its bytes saved durably (temporary, fsync, rename); fsync: ";
    diskNote.append(tq::bench::Format(tq::bench::Median(syncs) * 1e3)).append(" ms of it");
    Rows().push_back({"the same export to a file on disk", disk.first * 1e3, disk.second * 1e3,
                      "ms", 1.3, diskNote});
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Export)->Iterations(1)->Unit(benchmark::kMillisecond);

// The keys of a 100,000-key channel (100 when quick, for the floor always).
enum Spacing { kEven, kRandom, kCrowded };
const char* const kSpacingNames[] = {
    "channel evaluation, 100,000 keys every frame vs 100, random times",
    "channel evaluation, 100,000 keys 1 to 7 frames apart at random vs 100, random times",
    "channel evaluation, 100,000 keys, crowds 1 tick apart beside keys every frame, vs 100"};

Channel<Vector> KeyedChannel(Spacing spacing, int keys) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<Time> gap(1, 7);
  std::vector<Key<Vector>> k;
  Time t = 0;
  for (int i = 0; i < keys; ++i) {
    k.push_back({t, Vector(float(i), float(i % 7), 0)});
    if (spacing == kRandom) {
      t += gap(rng) * 4500;
    } else if (spacing == kCrowded && i % 2000 >= 1000 && i % 2000 < 1999) {
      t += 1;  // 1,000 keys one tick apart, then back to every frame
    } else {
      t += 4500;
    }
  }
  return Channel<Vector>(Interpolation::kSmooth, k);
}

// Random times within the channel's keys; for crowded keys, half of them
// inside the crowds.
std::vector<Time> TimesWithin(const Channel<Vector>& channel, Spacing spacing) {
  std::mt19937 rng(11);
  const std::vector<Time>& keys = channel.Times();
  std::uniform_int_distribution<Time> any(keys.front(), keys.back());
  std::uniform_int_distribution<std::size_t> key(0, keys.size() - 2);
  std::vector<Time> times(200000);
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

void Evaluate(const Channel<Vector>& channel, const std::vector<Time>& times) {
  for (const Time t : times) benchmark::DoNotOptimize(channel.Evaluate(t));
}

void BM_ChannelEvaluation(benchmark::State& state) {
  const auto spacing = static_cast<Spacing>(state.range(0));
  const Channel<Vector> many = KeyedChannel(spacing, tq::bench::Quick() ? 4000 : 100000);
  const Channel<Vector> few = KeyedChannel(kEven, 100);
  const std::vector<Time> manyTimes = TimesWithin(many, spacing),
                          fewTimes = TimesWithin(few, kEven);
  for (auto _ : state) {
    const auto r = Alternate(
        15, [&] { Evaluate(many, manyTimes); }, [&] { Evaluate(few, fewTimes); });
    const double n = static_cast<double>(manyTimes.size());
    Rows().push_back({kSpacingNames[spacing], r.first * 1e9 / n, r.second * 1e9 / n, "ns", 2.0,
                      "floor: a 100-key channel, keys every frame"});
  }
}
BENCHMARK(BM_ChannelEvaluation)->Arg(kEven)->Arg(kRandom)->Arg(kCrowded)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  return tq::bench::Main(argc, argv);
}
