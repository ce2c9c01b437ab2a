#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "math/Rounding.h"
#include "testing/Harness.h"
#include "tests/fileio/TempDir.h"

namespace {

using tq::framework::RecordingDriver;
using tq::scene::Channel;
using tq::scene::Interpolation;
using tq::testing::ReadFile;
using tq::testing::Record;
using tq::testing::TempDir;

// A camera at the origin looking down -Z with focal length 35 (so T = 0.5 and
// the image half-width spans 17.5/35 of the distance), and a null target.
class ExportTest : public ::testing::Test {
 protected:
  ExportTest() {
    scene.MakeCurrent();
    scene.Project()->SetLogging(true);
  }

  std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text = ReadFile(path), line;
    for (char c : text) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    EXPECT_TRUE(line.empty()) << "text after the last line end";
    return lines;
  }

  // The times (in ticks) at which the target's translate channel was asked.
  std::vector<std::string> TargetTimes(const char* name = "Target") {
    std::vector<std::string> times;
    const std::string prefix = std::string(name) + ".Transform.Translate @";
    for (const auto& e : scene.Project()->Events()) {
      if (e.rfind(prefix, 0) == 0) times.push_back(e.substr(prefix.size()));
    }
    return times;
  }

  tq::scene::Scene scene{"P", 30.0f, "C"};
  HCamera* camera = scene.AddCamera("Cam");
  HBone* target = scene.AddObject("Target", 4);
  TempDir dir;
  std::string out = dir / "track.txt";
  tq::testing::PluginHarness harness;
  RecordingDriver driver;
};

TEST_F(ExportTest, OneLinePerFrameIndexedFromZero) {
  scene.SetTransform(target, Channel<Vector>(Vector(0, 0, -10)), Channel<Quaternion>(Quaternion()));
  auto record = Record(scene.Chor(), camera, target, 30, 10, 12, 640, 480, out);
  EXPECT_EQ(harness.Export(scene.Chor(), record, driver), 0);
  EXPECT_EQ(Lines(out), (std::vector<std::string>{"0\t320\t240", "1\t320\t240", "2\t320\t240"}));
  // Frames 10, 11, 12 at 30 fps, then the saved time (0) at the end.
  EXPECT_EQ(TargetTimes(), (std::vector<std::string>{"45000", "49500", "54000", "0"}));
}

TEST_F(ExportTest, RangeEdges) {
  struct Row {
    float start, end;
    std::vector<std::string> times;
  } rows[] = {
      {7, 7, {"31500"}},
      {5, 4, {}},
      {0.5f, 2, {"2250", "6750"}},
  };
  for (const Row& r : rows) {
    scene.Project()->ClearEvents();
    auto record = Record(scene.Chor(), camera, target, 30, r.start, r.end, 640, 480, out);
    harness.Export(scene.Chor(), record, driver);
    EXPECT_EQ(Lines(out).size(), r.times.size()) << r.start;
    auto times = TargetTimes();
    ASSERT_FALSE(times.empty());
    times.pop_back();  // the evaluation at the saved time
    EXPECT_EQ(times, r.times) << r.start;
  }
}

// The textbook pixel with 4 decimals, worked independently in double: the
// image half-width (halved as an integer) spans 17.5 / 35 of the distance in
// front of the camera, so the focal length is 2 half-widths across, and
// aspect x half-height times the pixel aspect up. On the plate as shot the
// centre moves by the offset (in widths) and the slopes (x right, y down)
// are distorted as OpenCV's Brown-Conrady model has it. The camera is at the
// origin, so the camera-space point is the target's exactly and only the
// lens constant differs (by under 1e-12 pixels here, far below the last
// digit).
std::string TextbookLine(const Vector& q, int width, int height, const HPlate& plate = {},
                         int frame = 0, double focal = 35) {
  const double hw = width / 2, hh = height / 2, depth = -double(q.z);
  const double sx = double(q.x) / depth, sy = -double(q.y) / depth, r2 = sx * sx + sy * sy;
  const double radial = 1 + plate.k1 * r2 + plate.k2 * r2 * r2 + plate.k3 * r2 * r2 * r2;
  const double dx = sx * radial + 2 * plate.p1 * sx * sy + plate.p2 * (r2 + 2 * sx * sx);
  const double dy = sy * radial + plate.p1 * (r2 + 2 * sy * sy) + 2 * plate.p2 * sx * sy;
  const double zoom = focal / 17.5;  // 2 at 35
  const double x = hw - plate.offsetX * width + zoom * hw * dx;
  const double y =
      hh - plate.offsetY * width - zoom * (double(width) / height) * hh * plate.pixelAspect * dy;
  char line[64];
  std::snprintf(line, sizeof line, "%d\t%.4f\t%.4f", frame, x, y);
  return line;
}

TEST_F(ExportTest, ProjectsAndRoundsTheCameraSpacePoint) {
  struct Row {
    Vector point;
    int width, height;
    const char* line;
  } rows[] = {
      // Before rounding 383.99999999999943 and 271.9999999999997.
      {{1, 0.5f, -10}, 640, 480, "0\t384\t272"},
      // On the axis: (width / 2, height / 2) with integer halving.
      {{0, 0, -10}, 641, 480, "0\t320\t240"},
      {{0, 0, -3}, 1, 1, "0\t0\t0"},
      // Behind the camera the image mirrors; nothing is clipped.
      {{10, -5, 10}, 640, 480, "0\t-320\t560"},
      // 411.428571..., 262.845262...; -1425.4545..., 240.
      {{1, 0.25f, -7}, 641, 481, "0\t411\t263"},
      {{-3, 0, -1.1f}, 640, 480, "0\t-1425\t240"},
  };
  for (const Row& r : rows) {
    scene.SetTransform(target, Channel<Vector>(r.point), Channel<Quaternion>(Quaternion()));
    auto record = Record(scene.Chor(), camera, target, 30, 0, 0, r.width, r.height, out);
    harness.Export(scene.Chor(), record, driver);
    EXPECT_EQ(Lines(out), std::vector<std::string>{r.line}) << r.point.x;
    record.decimals = 4;
    harness.Export(scene.Chor(), record, driver);
    EXPECT_EQ(Lines(out), std::vector<std::string>{TextbookLine(r.point, r.width, r.height)})
        << r.point.x;
  }
}

// On the plate as shot: the film offset, the pixel aspect and the lens
// distortion, each alone and together, against the textbook; a point just
// beyond where the distortion folds (the first slope r at which
// r (1 + k1 r^2 + k2 r^4 + k3 r^6) stops growing, worked out by hand for
// each row) is written as a point that could not be projected, one just
// inside as its value.
TEST_F(ExportTest, ThePlateAsShot) {
  const HPlate shifted{0.1, -0.05}, anamorphic{0, 0, 2}, tall{0, 0, 0.5};
  const HPlate distorted{0, 0, 1, -0.2, 0.03, 0.01, -0.02, 0.001};
  const HPlate all{-0.3, 0.25, 2, 0.1, -0.01, -0.003, 0.004, 0.0005};
  // Folds at r^2 = 1 / (3 x 0.5); at (0.9 - sqrt(0.41)) / 0.2 for k1 -0.3,
  // k2 0.02; at (1 / 0.07)^(1/3) for k3 -0.01.
  const HPlate barrel{0, 0, 1, -0.5}, mixed{0, 0, 1, -0.3, 0.02}, outer{0, 0, 1, 0, 0, 0, 0, -0.01};
  const double r1 = std::sqrt(1 / 1.5), r2 = std::sqrt((0.9 - std::sqrt(0.41)) / 0.2),
               r3 = std::sqrt(std::cbrt(1 / 0.07));
  const auto along = [](double r, double scale) {
    return Vector(float(r * scale * 0.6), float(r * scale * 0.8), -1);
  };
  struct Row {
    HPlate plate;
    Vector point;
    bool beyond;
  } rows[] = {
      {shifted, {1, 0.5f, -10}, false},     {anamorphic, {1, 0.5f, -10}, false},
      {tall, {-3, 2, -7}, false},           {distorted, {1, 0.5f, -10}, false},
      {distorted, {-4, 3, -5}, false},      {all, {2.5f, -1.5f, -3}, false},
      {barrel, along(r1, 1 - 1e-5), false}, {barrel, along(r1, 1 + 1e-5), true},
      {mixed, along(r2, 1 - 1e-5), false},  {mixed, along(r2, 1 + 1e-5), true},
      {outer, along(r3, 1 - 1e-5), false},  {outer, along(r3, 1 + 1e-5), true},
  };
  for (const Row& r : rows) {
    camera->SetPlate(r.plate);
    scene.SetTransform(target, Channel<Vector>(r.point), Channel<Quaternion>(Quaternion()));
    auto record = Record(scene.Chor(), camera, target, 30, 0, 0, 640, 480, out);
    record.decimals = 4;
    harness.Export(scene.Chor(), record, driver);
    EXPECT_EQ(Lines(out),
              std::vector<std::string>{r.beyond ? "0\t-2147483648.0000\t-2147483648.0000"
                                                : TextbookLine(r.point, 640, 480, r.plate)})
        << r.point.x << " " << r.plate.k1;
  }
}

TEST_F(ExportTest, TheCameraMatrixFollowsTheFrame) {
  // The camera moves +1 in x per frame, so a fixed point drifts left in the
  // image: at 640 wide, x = 320 - (dx / (0.5 * -10)) * 320 = 320 + 64 dx.
  scene.SetTransform(
      camera,
      Channel<Vector>(Interpolation::kLinear, {{0, Vector(0, 0, 0)}, {2 * 4500, Vector(2, 0, 0)}}),
      Channel<Quaternion>(Quaternion()));
  scene.SetTransform(target, Channel<Vector>(Vector(0, 0, -10)), Channel<Quaternion>(Quaternion()));
  auto record = Record(scene.Chor(), camera, target, 30, 0, 2, 640, 480, out);
  harness.Export(scene.Chor(), record, driver);
  EXPECT_EQ(Lines(out), (std::vector<std::string>{"0\t320\t240", "1\t256\t240", "2\t192\t240"}));
  // Off the axis at depth 7, with 4 decimals: each frame's camera-space
  // point (0.5 - frame, 0.25, -7) is exact in single precision.
  scene.SetTransform(target, Channel<Vector>(Vector(0.5f, 0.25f, -7)),
                     Channel<Quaternion>(Quaternion()));
  record.decimals = 4;
  harness.Export(scene.Chor(), record, driver);
  std::vector<std::string> lines;
  for (int frame = 0; frame < 3; ++frame)
    lines.push_back(TextbookLine(Vector(0.5f - frame, 0.25f, -7), 640, 480, {}, frame));
  EXPECT_EQ(Lines(out), lines);
}

TEST_F(ExportTest, FocalLengthZooms) {
  // f = 70: T = 0.25, so the offset doubles: 320 + 128; f = 50, with 4
  // decimals, against the textbook.
  const struct Row {
    float focal;
    Vector point;
    int decimals;
    std::string line;
  } rows[] = {{70, {1, 0, -10}, 0, "0\t448\t240"},
              {70, {1, 0.3f, -7}, 4, TextbookLine({1, 0.3f, -7}, 640, 480, {}, 0, 70)},
              {50, {-2, 0.7f, -9}, 4, TextbookLine({-2, 0.7f, -9}, 640, 480, {}, 0, 50)}};
  for (const Row& r : rows) {
    scene.SetTransform(target, Channel<Vector>(r.point), Channel<Quaternion>(Quaternion()));
    HCamera* zoom = scene.AddCamera("Zoom", Channel<float>(r.focal));
    auto record = Record(scene.Chor(), zoom, target, 30, 0, 0, 640, 480, out);
    record.decimals = r.decimals;
    harness.Export(scene.Chor(), record, driver);
    EXPECT_EQ(Lines(out), std::vector<std::string>{r.line}) << r.focal;
  }
}

TEST_F(ExportTest, NotFiniteOrHugeValuesSaturate) {
  // The target at the camera: Q = 0, d = 0, 0/0 is NaN in both coordinates.
  scene.SetTransform(target, Channel<Vector>(Vector(0, 0, 0)), Channel<Quaternion>(Quaternion()));
  auto record = Record(scene.Chor(), camera, target, 30, 0, 0, 640, 480, out);
  harness.Export(scene.Chor(), record, driver);
  EXPECT_EQ(Lines(out), std::vector<std::string>{"0\t-2147483648\t-2147483648"});
  // Off the axis at distance 0: x/d and y/d are -infinity and +infinity.
  scene.SetTransform(target, Channel<Vector>(Vector(-1, 1, 0)), Channel<Quaternion>(Quaternion()));
  harness.Export(scene.Chor(), record, driver);
  EXPECT_EQ(Lines(out), std::vector<std::string>{"0\t2147483647\t-2147483648"});
  // With decimals the same ends of the range, written with them.
  record.decimals = 6;
  harness.Export(scene.Chor(), record, driver);
  EXPECT_EQ(Lines(out), std::vector<std::string>{"0\t2147483647.000000\t-2147483648.000000"});
}

TEST(Rounding, HalfAwayFromZeroAndSaturation) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Row {
    double value;
    int expected;
  } rows[] = {
      {-0.4, 0},
      {-0.5, -1},
      {319.5, 320},
      {383.99999999999943, 384},
      {271.9999999999997, 272},
      {0.49999999999999994, 1},  // h + 0.5 rounds up to 1.0 in double
      {2147483646.4, 2147483646},
      {2147483646.5, INT_MAX},
      {1e300, INT_MAX},
      {inf, INT_MAX},
      {-2147483648.4, INT_MIN},
      {-1e300, INT_MIN},
      {-inf, INT_MIN},
      {std::nan(""), INT_MIN},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(RoundToInt32(r.value), r.expected) << r.value;
    EXPECT_EQ(RoundToDecimals(r.value, 0), r.expected) << r.value;
  }
}

// Kept to N decimals: k = value x 10^N in double, rounded half away from
// zero, written with the point N digits from the right; the range's ends
// as whole pixels.
TEST(Rounding, DecimalsAreWrittenExactly) {
  struct Row {
    double value;
    int decimals;
    const char* text;
  } rows[] = {
      {-0.25, 3, "-0.250"},
      {0.25, 1, "0.3"},  // a tie, away from zero
      {-0.25, 1, "-0.3"},
      {-0.04, 1, "0.0"},       // zero is never signed
      {1.03125, 4, "1.0313"},  // 1 + 1/32: an exact tie
      {-1.03125, 4, "-1.0313"},
      {1.0312499, 4, "1.0312"},
      {0.049999999999999996, 1, "0.0"},  // the double below a half stays below
      {-0.049999999999999996, 1, "0.0"},
      {319.5, 0, "320"},
      {5000.123456789, 6, "5000.123457"},  // k above 2^31
      {-2147483647.999999, 6, "-2147483647.999999"},
      {2147483646.99999, 5, "2147483646.99999"},
      {2147483646.999999, 6, "2147483646.999999"},
      {2147483646.9999996, 6, "2147483647.000000"},  // rounds onto the end: saturated
      {3e9, 2, "2147483647.00"},
      {-3e9, 2, "-2147483648.00"},
      {std::nan(""), 1, "-2147483648.0"},
      {std::numeric_limits<double>::infinity(), 6, "2147483647.000000"},
      {1e-7, 6, "0.000000"},
      {-1e-7, 6, "0.000000"},
      {123456.789, 3, "123456.789"},
  };
  for (const Row& r : rows) {
    char text[32];
    char* end = WriteDecimals(text, RoundToDecimals(r.value, r.decimals), r.decimals);
    EXPECT_EQ(std::string(text, end), r.text) << r.value << " to " << r.decimals;
  }
}

TEST_F(ExportTest, ReferenceOffsetsAreTurnedByTheObjectsRotation) {
  HModel* model = scene.AddModel("Model");
  HModelCache* cache = model->GetCache();
  cache->AddPatch(cache->AddPoint({1, 0, 0}), cache->AddPoint({3, 0, 0}),
                  cache->AddPoint({3, 2, 0}), cache->AddPoint({1, 2, 0}));
  HGroup* group = scene.AddGroup(scene.AddGroupContainer(model), "G", Vector(2, 1, 0));
  HBone* bone = scene.AddBone(scene.AddBoneContainer(model), nullptr, "B", Vector(2, 1, 0));
  // Turned 90 degrees about Y: the model's (2, 1, 0) lands on (0, 1, -2),
  // so at (0, 1, -12): x = 320, y = 240 + (1/6) * (4/3) * 240 = 293.33.
  // Then with 4 decimals, turned 120 degrees about (1, 1, 1) by the
  // quaternion (0.5, 0.5, 0.5, 0.5), whose matrix is exact in single
  // precision: (2, 1, 0) lands on (0, 2, 1), the camera-space point
  // (0, 2, -9) is exact and the textbook's pixel is compared to the last
  // digit (the reverse turn would land on (1, 0, -8)).
  const Quaternion quarter(1.5707964f, Vector(0, 1, 0)), third(0.5f, 0.5f, 0.5f, 0.5f);
  struct Row {
    Quaternion turn;
    int mode, decimals;
    std::string line;
  } rows[] = {{quarter, 0, 0, "0\t320\t240"},
              {quarter, 1, 0, "0\t320\t293"},
              {quarter, 2, 0, "0\t320\t293"},
              {quarter, 3, 0, "0\t320\t293"},
              {third, 0, 4, TextbookLine({0, 0, -10}, 640, 480)},
              {third, 1, 4, TextbookLine({0, 2, -9}, 640, 480)},
              {third, 2, 4, TextbookLine({0, 2, -9}, 640, 480)},
              {third, 3, 4, TextbookLine({0, 2, -9}, 640, 480)}};
  for (const Row& r : rows) {
    scene.SetTransform(model, Channel<Vector>(Vector(0, 0, -10)), Channel<Quaternion>(r.turn));
    auto record = Record(scene.Chor(), camera, model, 30, 0, 0, 640, 480, out, r.mode);
    record.group = group;
    record.bone = bone;
    record.decimals = r.decimals;
    harness.Export(scene.Chor(), record, driver);
    EXPECT_EQ(Lines(out), std::vector<std::string>{r.line}) << r.mode << " " << r.decimals;
  }
}

TEST_F(ExportTest, ModelCentreIsFixedAtTheStartOfTheRun) {
  HModel* model = scene.AddModel("Model");
  scene.SetTransform(model, Channel<Vector>(Vector(0, 0, -7)), Channel<Quaternion>(Quaternion()));
  HModelCache* cache = model->GetCache();
  HCP* a = cache->AddPoint({0, 0, 0});
  cache->AddPatch(a, a, a, a);
  // Each evaluation of the model's translation moves the point 5 to the
  // right; with 4 decimals the centre starts off the axis at (0.75, 0.5).
  scene.Project()->SetObserver([&](const std::string& e) {
    if (e.rfind("Model.Transform.Translate", 0) == 0) {
      a->SetModelPosition(a->GetModelPosition() + Vector(5, 0, 0));
    }
  });
  for (int decimals : {0, 4}) {
    a->SetModelPosition(decimals ? Vector(0.75f, 0.5f, 0) : Vector(0, 0, 0));
    auto record = Record(scene.Chor(), camera, model, 30, 0, 2, 640, 480, out, 1);
    record.decimals = decimals;
    harness.Export(scene.Chor(), record, driver);
    std::vector<std::string> lines;
    for (int frame = 0; frame < 3; ++frame)
      lines.push_back(decimals ? TextbookLine({0.75f, 0.5f, -7}, 640, 480, {}, frame)
                               : std::to_string(frame) + "\t320\t240");
    EXPECT_EQ(Lines(out), lines) << decimals;
  }
  scene.Project()->SetObserver(nullptr);
}

TEST_F(ExportTest, RestoresBothTimesAndEvaluatesAtTheSavedTime) {
  scene.Chor()->SetTime(100);
  scene.Project()->SetTime(50);
  scene.Project()->ClearEvents();
  auto record = Record(scene.Chor(), camera, target, 30, 1, 1, 640, 480, out);
  harness.Export(scene.Chor(), record, driver);
  EXPECT_EQ(scene.Chor()->GetTime(), 100);
  EXPECT_EQ(scene.Project()->GetTime(), 100);
  const std::vector<std::string> expected = {"Cam.Transform.Translate @4500",
                                             "Cam.Transform.Rotate @4500",
                                             "Cam.FocalLength @4500",
                                             "Target.Transform.Translate @4500",
                                             "HChor::SetTime 100",
                                             "HProject::SetTime 100",
                                             "Target.Transform.Translate @100",
                                             "Cam.Transform.Translate @100",
                                             "Cam.Transform.Rotate @100",
                                             "Cam.FocalLength @100"};
  EXPECT_EQ(scene.Project()->Events(), expected);
  EXPECT_EQ(driver.waitCursorShows, 1);
  EXPECT_EQ(driver.waitCursorHides, 1);
  EXPECT_FALSE(driver.waitCursorShown);
}

TEST_F(ExportTest, UnwritableOutputIsReportedAndLeavesTheOldFile) {
  tq::testing::WriteFile(out, "previous track\n");
  const std::string blocked = dir / "missing/track.txt";
  scene.Chor()->SetTime(9);
  for (const std::string& file : {blocked, std::string("/dev/full")}) {
    driver.messages.clear();
    auto record = Record(scene.Chor(), camera, target, 30, 0, 3, 640, 480, file);
    EXPECT_EQ(harness.Export(scene.Chor(), record, driver), 0);
    ASSERT_EQ(driver.messages.size(), 1u) << file;
    EXPECT_NE(driver.messages[0].find("\"" + file + "\""), std::string::npos) << driver.messages[0];
    EXPECT_EQ(scene.Chor()->GetTime(), 9);
    EXPECT_EQ(scene.Project()->GetTime(), 9);
  }
  EXPECT_EQ(driver.messages[0],
            "The motion data could not be written to \"/dev/full\": No space left on device. "
            "No file was written.");
  EXPECT_EQ(ReadFile(out), "previous track\n");
  EXPECT_EQ(dir.Count(), 1);
}

}  // namespace
