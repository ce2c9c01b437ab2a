#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dialog/PDialog.h"
#include "tests/dialog/ProbeDriver.h"
#include "plugin/Harness.h"
#include "tests/fileio/TempDir.h"

namespace {

using tq::framework::Action;
using tq::scene::Channel;
using tq::scene::Interpolation;
using tq::testing::ProbeDriver;
using tq::testing::ReadFile;
using tq::testing::TempDir;

class CommandTest : public ::testing::Test {
 protected:
  CommandTest() { scene.MakeCurrent(); }

  // Adds a camera with output options.
  HCamera* Camera(const std::string& name, int width, int height, float start, float end,
                  const Vector& position = {}) {
    HCamera* camera = scene.AddCamera(name);
    scene.SetTransform(camera, Channel<Vector>(position), Channel<Quaternion>(Quaternion()));
    HProperty* options = scene.AddProperty(camera, "OutputOptions", HProperty::Kind::kGroup);
    HProperty* resolution = scene.AddProperty(options, "Resolution", HProperty::Kind::kGroup);
    scene.AddProperty(resolution, "Width", HProperty::Kind::kInt, width);
    scene.AddProperty(resolution, "Height", HProperty::Kind::kInt, height);
    HProperty* range = scene.AddProperty(options, "Range", HProperty::Kind::kGroup);
    scene.AddProperty(range, "StartFrame", HProperty::Kind::kTime, static_cast<int>(start * 4500));
    scene.AddProperty(range, "EndFrame", HProperty::Kind::kTime, static_cast<int>(end * 4500));
    return camera;
  }

  tq::scene::Scene scene{"P", 30.0f, "C"};
  tq::testing::PluginHarness harness;
  TempDir dir;
};

TEST_F(CommandTest, CancelWritesNothingAndStillRefreshes) {
  Camera("Cam", 640, 480, 0, 10);
  scene.AddObject("N", 4);
  const std::string out = dir / "track.txt";
  ProbeDriver driver({Action::Click(IDC_BUTTON1), Action::AnswerSave(out), Action::Cancel()});
  EXPECT_EQ(harness.Command(scene.Chor(), driver), 1);
  EXPECT_EQ(dir.Count(), 0);
  EXPECT_EQ(scene.Project()->UpdateAllViewsCalls(), 1);
  EXPECT_EQ(scene.Project()->RefreshAllTreesCalls(), 1);
}

TEST_F(CommandTest, OkExportsThenRefreshes) {
  Camera("Cam", 640, 480, 0, 2);
  HBone* target = scene.AddObject("N", 4);
  scene.SetTransform(target, Channel<Vector>(Vector(1, 0.5f, -10)),
                     Channel<Quaternion>(Quaternion()));
  const std::string out = dir / "track.txt";
  scene.Project()->SetLogging(true);
  ProbeDriver driver({Action::SelectText(IDC_COMBO2, "N"), Action::Click(IDC_BUTTON1),
                      Action::AnswerSave(out), Action::Ok()});
  EXPECT_EQ(harness.Command(scene.Chor(), driver), 1);
  EXPECT_EQ(ReadFile(out), "0\t384\t272\n1\t384\t272\n2\t384\t272\n");
  const auto& events = scene.Project()->Events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2], "UpdateAllViews 1");
  EXPECT_EQ(events.back(), "RefreshAllTrees");
  EXPECT_EQ(driver.waitCursorShows, 1);
}

TEST_F(CommandTest, EveryRunStartsFromTheDefaults) {
  Camera("Cam", 640, 480, 0, 10);
  HModel* model = scene.AddModel("M");
  scene.AddGroup(scene.AddGroupContainer(model), "G", {});
  struct Snapshot {
    std::string file;
    int mode, width;
    float fps, start;
    bool noCamera, noObject;
    int decimals;
  };
  std::vector<Snapshot> seen;
  auto snapshot = [&](HWND) {
    const PParameters& p = *harness.app.parameters;
    seen.push_back({p.fileName.Get(), p.targetMode, p.width, p.fps, p.startFrame,
                    p.camera == nullptr, p.object == nullptr, p.decimals});
  };
  // The decimals come from the application's profile as each run starts;
  // a number the export cannot write means whole pixels.
  tq::framework::WriteProfileEntry(kProfileSection, kProfileDecimals, 4);
  ProbeDriver first({Action::SelectText(IDC_COMBO2, "M"), Action::Click(IDC_RADIO3),
                     Action::Click(IDC_BUTTON1), Action::AnswerSave("/tmp/x.txt"),
                     Action::Cancel()});
  first.atEnd = snapshot;
  harness.Command(scene.Chor(), first);
  scene.Project()->SetFPS(24);  // each run reads the rate afresh
  tq::framework::WriteProfileEntry(kProfileSection, kProfileDecimals, 7);
  ProbeDriver second({Action::Cancel()});
  second.atStart = snapshot;
  harness.Command(scene.Chor(), second);
  tq::framework::RemoveProfileEntry(kProfileSection, kProfileDecimals);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].decimals, 4);
  EXPECT_EQ(seen[1].decimals, 0);
  EXPECT_EQ(seen[0].file, "/tmp/x.txt");
  EXPECT_EQ(seen[0].mode, 2);
  EXPECT_EQ(seen[1].file, "TQmotion.txt");
  EXPECT_EQ(seen[1].mode, 0);
  EXPECT_EQ(seen[1].fps, 24.0f);
  EXPECT_EQ(seen[1].width, 640);  // from the camera again, not from the first run
  // The dialog opens on the first camera and object, from fresh defaults.
  EXPECT_FALSE(seen[1].noCamera);
  EXPECT_FALSE(seen[1].noObject);
}

// A whole session as a person works: the second camera, a typed width, a
// model, its second group as the target, a file chosen through the save
// request, OK. The expected file is worked out by hand below.
TEST_F(CommandTest, ReplaysASession) {
  Camera("Main", 640, 480, 5, 6, Vector(0, 0, 50));
  Camera("Side", 320, 480, 0, 2);  // at the origin, looking down -Z, f = 35
  HModel* model = scene.AddModel("Robot");
  // The model moves from x = 0 to x = 1 over frames 0 to 2 at z = -10 and is
  // turned 90 degrees about Y.
  scene.SetTransform(
      model,
      Channel<Vector>(Interpolation::kLinear, {{0, Vector(0, 0, -10)}, {9000, Vector(1, 0, -10)}}),
      Channel<Quaternion>(Quaternion(1.5707964f, Vector(0, 1, 0))));
  HGroupContainer* groups = scene.AddGroupContainer(model);
  scene.AddGroup(groups, "Base", Vector(9, 9, 9));
  scene.AddGroup(groups, "Lid", Vector(2, 1, 0));
  const std::string out = dir / "lid.txt";
  ProbeDriver driver({Action::SelectText(IDC_COMBO1, "Side"), Action::SetText(IDC_WIDTH, "800"),
                      Action::SelectText(IDC_COMBO2, "Robot"), Action::Click(IDC_RADIO3),
                      Action::SelectText(IDC_COMBO3, "Lid"), Action::Click(IDC_BUTTON1),
                      Action::AnswerSave(out), Action::Ok()});
  EXPECT_EQ(harness.Command(scene.Chor(), driver), 1);
  ASSERT_TRUE(driver.Failures().empty()) << driver.Failures()[0];
  // The lid's (2, 1, 0) turned by Y(90) is (0, 1, -2); added to the model's
  // position at frames 0, 1, 2: P = (0, 1, -12), (0.5, 1, -12), (1, 1, -12).
  // f = 35: T = tan(atan(-2) + pi/2) = 0.5, d = 0.5 * -12 = -6.
  // Width 800 (typed), height 480: hw = 400, hh = 240, aspect = 800/480.
  //   X = 400 - (x / -6) * 400:      400, 433.33, 466.67 -> 400, 433, 467
  //   Y = 240 - ((1 / -6) * 5/3) * 240 = 240 + 66.67      -> 307
  EXPECT_EQ(ReadFile(out), "0\t400\t307\n1\t433\t307\n2\t467\t307\n");
}

// A camera's range S..E, read by the dialog back from ticks, is exported
// whole through the command: E - S + 1 lines, and a step key on frame S (the
// target jumps from the axis to x = 1) is seen on the first line.
TEST(CommandRoundTrip, CameraRangeRunsWholeWithItsFirstKeyAtEveryRate) {
  const std::pair<int, int> ranges[] = {{1, 1},       {1, 2},    {1, 5},       {1, 10},
                                        {1001, 1004}, {89, 104}, {1925, 1965}, {0, 40},
                                        {9959, 9999}, {299, 300}};
  for (const float fps :
       {23.976f, 24.0f, 25.0f, 29.97f, 30.0f, 48.0f, 50.0f, 59.94f, 60.0f, 7.0f, 12.3f}) {
    for (const auto& [s, e] : ranges) {
      auto ticks = [&](int frame) {
        return static_cast<Time>(std::floor(frame / static_cast<double>(fps) * 135000.0 + 0.5));
      };
      tq::scene::Scene scene("P", fps, "C");
      scene.MakeCurrent();
      auto* target = static_cast<HBone*>(scene.AddObject("N", 4));
      scene.SetTransform(target,
                         Channel<Vector>(Interpolation::kStep, {{ticks(s) - 1, Vector(0, 0, -10)},
                                                                {ticks(s), Vector(1, 0, -10)}}),
                         Channel<Quaternion>(Quaternion()));
      HCamera* camera = scene.AddCamera("Cam");
      HProperty* options = scene.AddProperty(camera, "OutputOptions", HProperty::Kind::kGroup);
      HProperty* resolution = scene.AddProperty(options, "Resolution", HProperty::Kind::kGroup);
      scene.AddProperty(resolution, "Width", HProperty::Kind::kInt, 64);
      scene.AddProperty(resolution, "Height", HProperty::Kind::kInt, 48);
      HProperty* range = scene.AddProperty(options, "Range", HProperty::Kind::kGroup);
      scene.AddProperty(range, "StartFrame", HProperty::Kind::kTime, ticks(s));
      scene.AddProperty(range, "EndFrame", HProperty::Kind::kTime, ticks(e));
      tq::testing::PluginHarness harness;
      TempDir dir;
      ProbeDriver driver(
          {Action::Click(IDC_BUTTON1), Action::AnswerSave(dir / "t.txt"), Action::Ok()});
      harness.Command(scene.Chor(), driver);
      const std::string track = ReadFile(dir / "t.txt");
      EXPECT_EQ(std::count(track.begin(), track.end(), '\n'), e - s + 1)
          << fps << " fps, " << s << ".." << e;
      // On the axis X would be 32; at x = 1 it is off it on every line.
      EXPECT_EQ(track.find("\t32\t"), std::string::npos) << fps << " fps, " << s << ".." << e;
    }
  }
}

// A typed end frame keeps its meaning: 10.5 ends the run at frame 10, and a
// start after the end writes an empty file.
TEST_F(CommandTest, TypedEndFramesEndWhereTheySay) {
  Camera("Cam", 64, 48, 0, 0);
  scene.AddObject("N", 4);
  struct Row {
    const char *start, *end;
    int lines;
  } rows[] = {{"0", "10.5", 11}, {"0.5", "2", 2},      {"5", "4", 0},
              {"7", "7", 1},     {"0", "10.9999", 11}, {"0.0001", "10", 10}};
  for (const Row& r : rows) {
    const std::string out = dir / "t.txt";
    ProbeDriver driver({Action::SelectText(IDC_COMBO2, "N"),
                        Action::SetText(IDC_START_FRAME, r.start),
                        Action::SetText(IDC_END_FRAME, r.end), Action::Click(IDC_BUTTON1),
                        Action::AnswerSave(out), Action::Ok()});
    EXPECT_EQ(harness.Command(scene.Chor(), driver), 1);
    const std::string track = ReadFile(out);
    EXPECT_EQ(std::count(track.begin(), track.end(), '\n'), r.lines) << r.start << " to " << r.end;
    EXPECT_EQ(harness.app.parameters, nullptr);  // not left pointing at the freed record
  }
}

}  // namespace
