#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dialog/PDialog.h"
#include "tests/dialog/ProbeDriver.h"
#include "testing/Harness.h"

namespace {

using tq::framework::Action;
using tq::testing::Checked;
using tq::testing::Enabled;
using tq::testing::Items;
using tq::testing::ProbeDriver;
using tq::testing::Text;

std::uint32_t Bits(float f) {
  return std::bit_cast<std::uint32_t>(f);
}

class PDialogTest : public ::testing::Test {
 protected:
  PDialogTest() { scene.MakeCurrent(); }

  // A record with the command's defaults.
  void Defaults(float fps) {
    record.chor = scene.Chor();
    record.camera = nullptr;
    record.object = nullptr;
    record.bone = nullptr;
    record.group = nullptr;
    record.fileName = "TQmotion.txt";
    record.fps = fps;
    record.startFrame = record.endFrame = 0;
    record.width = record.height = record.targetMode = 0;
  }

  INT_PTR Run(ProbeDriver& driver) {
    tq::framework::ScopedUiDriver use(&driver);
    AFX_MAINTAIN_STATE keep(harness.State());
    PDialog dialog(&record);
    return dialog.DoModal();
  }

  HCamera* CameraWith(const std::string& name, std::vector<std::pair<std::string, int>> values) {
    return CameraIn(scene, name, std::move(values));
  }
  static HCamera* CameraIn(tq::scene::Scene& in, const std::string& name,
                           std::vector<std::pair<std::string, int>> values) {
    HCamera* camera = in.AddCamera(name);
    HProperty* options = in.AddProperty(camera, "OutputOptions", HProperty::Kind::kGroup);
    HProperty* resolution = in.AddProperty(options, "Resolution", HProperty::Kind::kGroup);
    HProperty* range = in.AddProperty(options, "Range", HProperty::Kind::kGroup);
    for (const auto& [key, value] : values) {
      const bool size = key == "Width" || key == "Height";
      in.AddProperty(size ? resolution : range, key,
                     size ? HProperty::Kind::kInt : HProperty::Kind::kTime, value);
    }
    return camera;
  }

  tq::scene::Scene scene{"P", 30.0f, "C"};
  tq::testing::PluginHarness harness;
  PParameters record;
};

TEST_F(PDialogTest, CameraOutputOptionsFillTheRecordInFrames) {
  struct Row {
    float fps;
    int ticks;
    float frames;
  } rows[] = {
      {30, 270000, 60.0f}, {25, 67500, 12.5f}, {29.97f, 1350000, 299.69998f}, {30, 0, 0.0f}};
  for (const Row& r : rows) {
    tq::scene::Scene local("P", r.fps, "C");
    local.MakeCurrent();
    HCamera* camera = local.AddCamera("Cam");
    HProperty* options = local.AddProperty(camera, "OutputOptions", HProperty::Kind::kGroup);
    HProperty* range = local.AddProperty(options, "Range", HProperty::Kind::kGroup);
    local.AddProperty(range, "StartFrame", HProperty::Kind::kTime, r.ticks);
    local.AddProperty(range, "EndFrame", HProperty::Kind::kTime, r.ticks);
    local.AddObject("N", 4);
    Defaults(r.fps);
    record.chor = local.Chor();
    // OK needs a size; the range passes through the text fields unchanged.
    ProbeDriver driver({Action::SelectText(IDC_COMBO2, "N"), Action::SetText(IDC_WIDTH, "1"),
                        Action::SetText(IDC_HEIGHT, "1"), Action::Ok()});
    EXPECT_EQ(Run(driver), IDOK) << (driver.Failures().empty() ? "" : driver.Failures()[0]);
    EXPECT_EQ(Bits(record.startFrame), Bits(r.frames)) << r.ticks;
    EXPECT_EQ(Bits(record.endFrame), Bits(r.frames)) << r.ticks;
    EXPECT_EQ(record.camera, camera);
    scene.MakeCurrent();
  }
  EXPECT_EQ(Bits(299.69998f), Bits(299.7f) - 1);  // not 299.7
}

// A camera's whole range S..E, read back from its ticks, runs exactly the
// frames S to E: E - S + 1 of them, the first on S itself. Every S in 0..60
// and a sample up to 10000, every E - S in 0..40, at the rates footage runs at,
// odd ones and a hundred random ones (29.97 reads frame 1 back as 1.00011).
TEST_F(PDialogTest, CameraRangesRunEveryFrameAtEveryRate) {
  std::vector<float> rates = {23.976f, 24, 25, 29.97f, 30, 48, 50, 59.94f, 60, 7, 12.3f};
  std::mt19937 random(18);
  while (rates.size() < 111) rates.push_back(std::uniform_real_distribution<float>(1, 240)(random));
  std::vector<int> starts;
  for (int s = 0; s <= 60; ++s) starts.push_back(s);
  for (int s : {89, 299, 1001, 1925, 4096, 7919, 9959}) starts.push_back(s);
  for (const float fps : rates) {
    tq::scene::Scene local("P", fps, "C");
    local.MakeCurrent();
    std::vector<std::pair<int, int>> ranges;
    for (const int s : starts) {
      for (int e = s; e <= s + 40; ++e) {
        auto ticks = [&](int frame) {
          return static_cast<int>(std::floor(frame / static_cast<double>(fps) * 135000.0 + 0.5));
        };
        CameraIn(local, "C",
                 {{"Width", 2}, {"Height", 2}, {"StartFrame", ticks(s)}, {"EndFrame", ticks(e)}});
        ranges.emplace_back(s, e);
      }
    }
    local.AddObject("N", 4);
    Defaults(fps);
    record.chor = local.Chor();
    ProbeDriver driver({Action::Cancel()});
    driver.atStart = [&](HWND d) {
      HWND cameras = GetDlgItem(d, IDC_COMBO1);
      for (std::size_t i = 0; i < ranges.size(); ++i) {
        SendMessageA(cameras, CB_SETCURSEL, i, 0);
        SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_COMBO1, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(cameras));
        const auto [s, e] = ranges[i];
        ASSERT_EQ(record.startFrame, static_cast<float>(s)) << fps << " fps, " << s << ".." << e;
        ASSERT_EQ(tq::scene::RunFrameCount(record.startFrame, record.endFrame, fps), e - s + 1)
            << fps << " fps, " << s << ".." << e;
      }
    };
    Run(driver);
    scene.MakeCurrent();
  }
}

TEST_F(PDialogTest, InitialisationShowsTheRecordAndMode0) {
  CameraWith("Cam1",
             {{"Width", 640}, {"Height", 480}, {"StartFrame", 0}, {"EndFrame", 120 * 4500}});
  scene.AddFolder("Folder");
  scene.AddObject("Light", 3);
  scene.AddModel("Model");
  Defaults(30);
  record.targetMode = 3;
  ProbeDriver driver({Action::Cancel()});
  driver.atStart = [&](HWND d) {
    EXPECT_EQ(Items(d, IDC_COMBO1), std::vector<std::string>{"Cam1"});
    EXPECT_EQ(Items(d, IDC_COMBO2),
              (std::vector<std::string>{"Cam1", "Light", "Model"}));  // no folder
    EXPECT_EQ(Text(d, IDC_WIDTH), "640");
    EXPECT_EQ(Text(d, IDC_HEIGHT), "480");
    EXPECT_EQ(Text(d, IDC_START_FRAME), "0");
    EXPECT_EQ(Text(d, IDC_END_FRAME), "120");
    EXPECT_EQ(Text(d, IDC_FILE_NAME), "TQmotion.txt");
    EXPECT_TRUE(Checked(d, IDC_RADIO1));
    EXPECT_EQ(record.targetMode, 0);
  };
  EXPECT_EQ(Run(driver), IDCANCEL);
}

TEST_F(PDialogTest, ChangingCameraReplacesTypedValues) {
  CameraWith("Wide", {{"Width", 1920}, {"Height", 1080}});
  CameraWith("NoSize", {{"StartFrame", 9000}});
  scene.AddObject("N", 4);
  Defaults(30);
  ProbeDriver driver({Action::SetText(IDC_WIDTH, "777"), Action::SelectIndex(IDC_COMBO1, 1),
                      Action::SetText(IDC_WIDTH, "555"), Action::SelectIndex(IDC_COMBO1, 0),
                      Action::Cancel()});
  std::vector<std::string> widths;
  driver.atEnd = [&](HWND d) { widths.push_back(Text(d, IDC_WIDTH)); };
  Run(driver);
  // "NoSize" has no width: the record keeps Wide's 1920 (the typed 777 was
  // never exchanged); back on Wide, 1920 again.
  EXPECT_EQ(widths, std::vector<std::string>{"1920"});
  EXPECT_EQ(record.width, 1920);
  EXPECT_EQ(Bits(record.startFrame), Bits(2.0f));
}

TEST_F(PDialogTest, SettingsAreReadOnlyBelowOutputOptionsAndTheLastOneWins) {
  HCamera* camera = scene.AddCamera("Cam");
  HProperty* other = scene.AddProperty(camera, "Other", HProperty::Kind::kGroup);
  HProperty* res = scene.AddProperty(other, "Resolution", HProperty::Kind::kGroup);
  scene.AddProperty(res, "Width", HProperty::Kind::kInt, 111);  // never visited
  // A top-level property is walked but never read itself.
  scene.AddProperty(camera, "OutputOptions.Resolution.Width", HProperty::Kind::kInt, 222);
  HProperty* first = scene.AddProperty(camera, "OutputOptions", HProperty::Kind::kGroup);
  HProperty* a = scene.AddProperty(first, "Resolution", HProperty::Kind::kGroup);
  HProperty* w = scene.AddProperty(a, "Width", HProperty::Kind::kInt, 333);
  // Below the width: read before it, so the width itself wins.
  scene.AddProperty(w, "Deeper.Resolution.Width", HProperty::Kind::kInt, 444);
  HProperty* second = scene.AddProperty(camera, "OutputOptions2", HProperty::Kind::kGroup);
  HProperty* b = scene.AddProperty(second, "Resolution", HProperty::Kind::kGroup);
  scene.AddProperty(b, "Height", HProperty::Kind::kInt, 555);
  scene.AddObject("N", 4);
  Defaults(30);
  ProbeDriver driver({Action::Cancel()});
  Run(driver);
  EXPECT_EQ(record.width, 333);
  EXPECT_EQ(record.height, 555);
}

TEST_F(PDialogTest, TargetListsFollowTheObject) {
  scene.AddCamera("Cam");
  HModel* rigged = scene.AddModel("Rigged");
  HGroupContainer* groups = scene.AddGroupContainer(rigged);
  HGroup* g1 = scene.AddGroup(groups, "G1", {});
  scene.AddGroup(groups, "G2", {});
  HBoneContainer* bones = scene.AddBoneContainer(rigged);
  HBone* r = scene.AddBone(bones, nullptr, "R", {});
  HBone* a = scene.AddBone(bones, r, "A", {});
  scene.AddBone(bones, a, "A1", {});
  scene.AddBone(bones, r, "B", {});
  scene.AddBone(bones, nullptr, "Second", {});  // beside R: not listed
  HModel* empty = scene.AddModel("Empty");
  scene.AddGroupContainer(empty);
  scene.AddBoneContainer(empty);
  scene.AddModel("Bare");
  scene.AddObject("Null", 4);
  Defaults(30);

  struct Row {
    const char* object;
    std::vector<std::string> groups, bones;
    bool r2, r3, r4, lists3, lists4;
  } rows[] = {
      {"Rigged", {"G1", "G2"}, {"R", "   A", "      A1", "   B"}, true, true, true, true, true},
      {"Empty", {}, {}, true, true, true, true, true},
      {"Bare", {}, {}, true, false, false, false, false},
      {"Null", {}, {}, false, false, false, false, false},
  };
  for (const Row& row : rows) {
    ProbeDriver driver({Action::SelectText(IDC_COMBO2, row.object), Action::Cancel()});
    driver.atEnd = [&](HWND d) {
      EXPECT_EQ(Items(d, IDC_COMBO3), row.groups) << row.object;
      EXPECT_EQ(Items(d, IDC_COMBO4), row.bones) << row.object;
      EXPECT_TRUE(Enabled(d, IDC_RADIO1) && Checked(d, IDC_RADIO1)) << row.object;
      EXPECT_EQ(Enabled(d, IDC_RADIO2), row.r2) << row.object;
      EXPECT_EQ(Enabled(d, IDC_RADIO3), row.r3) << row.object;
      EXPECT_EQ(Enabled(d, IDC_RADIO4), row.r4) << row.object;
      EXPECT_EQ(Enabled(d, IDC_COMBO3), row.lists3) << row.object;
      EXPECT_EQ(Enabled(d, IDC_COMBO4), row.lists4) << row.object;
      const LRESULT expectedSelection = row.groups.empty() ? CB_ERR : 0;
      EXPECT_EQ(SendMessageA(GetDlgItem(d, IDC_COMBO3), CB_GETCURSEL, 0, 0), expectedSelection);
    };
    Run(driver);
    EXPECT_TRUE(driver.Failures().empty()) << driver.Failures()[0];
  }
  // The record follows the lists: entry 0 of a filled list, null for an empty one.
  ProbeDriver pick({Action::SelectText(IDC_COMBO2, "Rigged"), Action::Cancel()});
  Run(pick);
  EXPECT_EQ(record.group, g1);
  EXPECT_EQ(record.bone, r);
  ProbeDriver again({Action::SelectText(IDC_COMBO2, "Empty"), Action::Cancel()});
  Run(again);
  EXPECT_EQ(record.group, nullptr);
  EXPECT_EQ(record.bone, nullptr);
}

TEST_F(PDialogTest, RadiosSetOnlyTheModeAndAnotherObjectResetsIt) {
  scene.AddCamera("Cam");
  HModel* m1 = scene.AddModel("M1");
  scene.AddGroup(scene.AddGroupContainer(m1), "G", {});
  HModel* m2 = scene.AddModel("M2");
  HGroup* other = scene.AddGroup(scene.AddGroupContainer(m2), "H", {});
  Defaults(30);
  std::vector<int> modes;
  ProbeDriver driver(
      {Action::SelectText(IDC_COMBO2, "M1"), Action::Click(IDC_RADIO3), Action::Cancel()});
  driver.atEnd = [&](HWND d) {
    modes.push_back(record.targetMode);
    EXPECT_EQ(Items(d, IDC_COMBO3), std::vector<std::string>{"G"});  // unchanged by the click
  };
  Run(driver);
  ProbeDriver next({Action::SelectText(IDC_COMBO2, "M1"), Action::Click(IDC_RADIO3),
                    Action::SelectText(IDC_COMBO2, "M2"), Action::Cancel()});
  Run(next);
  EXPECT_EQ(modes, std::vector<int>{2});
  EXPECT_EQ(record.targetMode, 0);
  EXPECT_EQ(record.group, other);
}

TEST_F(PDialogTest, FileButtonRunsTheHostsSaveRequest) {
  scene.AddCamera("Cam");
  scene.AddObject("N", 4);
  Defaults(30);
  struct SaveProbe : ProbeDriver {
    using ProbeDriver::ProbeDriver;
    int SaveRequest(tq::fileio::SaveRequestCall& call) override {
      hostStateCurrent.push_back(AfxGetModuleState() == AfxGetAppModuleState());
      return ProbeDriver::SaveRequest(call);
    }
    std::vector<bool> hostStateCurrent;
  };
  SaveProbe driver({Action::Click(IDC_BUTTON1), Action::AnswerSave("/tmp/first.txt"),
                    Action::Click(IDC_BUTTON1), Action::AnswerSave("/tmp/second.txt"),
                    Action::Click(IDC_BUTTON1), Action::CancelSave(), Action::Cancel()});
  std::vector<std::string> shown;
  Run(driver);
  ASSERT_TRUE(driver.Failures().empty()) << driver.Failures()[0];
  const auto& saves = driver.SaveRequests();
  ASSERT_EQ(saves.size(), 3u);
  EXPECT_EQ(saves[0].title, "Export TQ motiondata");
  EXPECT_EQ(saves[0].filter, "Text File (*.txt)|*.txt|ASCII||");
  EXPECT_EQ(saves[0].defaultExt, "txt");
  EXPECT_TRUE(saves[0].extensionsShareBuffer);
  EXPECT_EQ(saves[0].flags, 3u);
  EXPECT_TRUE(saves[0].parentNull && saves[0].extraNull);
  EXPECT_EQ(saves[0].startPath, "TQmotion.txt");
  EXPECT_EQ(saves[1].startPath, "/tmp/first.txt");  // the last choice is offered
  EXPECT_EQ(saves[2].startPath, "/tmp/second.txt");
  EXPECT_EQ(driver.hostStateCurrent, (std::vector<bool>{true, true, true}));
  EXPECT_STREQ(record.fileName.Get(), "TQmotion.txt");  // cancelling sets the default again
}

TEST_F(PDialogTest, ConfirmedFileIsStoredAndShown) {
  scene.AddCamera("Cam");
  scene.AddObject("N", 4);
  Defaults(30);
  ProbeDriver driver(
      {Action::Click(IDC_BUTTON1), Action::AnswerSave("/tmp/out dir/track.txt"), Action::Cancel()});
  std::string shown;
  driver.atEnd = [&](HWND d) { shown = Text(d, IDC_FILE_NAME); };
  Run(driver);
  EXPECT_EQ(shown, "/tmp/out dir/track.txt");
  EXPECT_STREQ(record.fileName.Get(), "/tmp/out dir/track.txt");
}

TEST_F(PDialogTest, OkIsRefusedForValuesTheExportCannotUse) {
  scene.AddCamera("Cam");
  HModel* model = scene.AddModel("M");
  scene.AddGroupContainer(model);  // no group in it
  scene.AddBoneContainer(model);   // no bone in it
  struct Row {
    std::vector<Action> actions;
    const char* message;
  } rows[] = {
      {{Action::SetText(IDC_WIDTH, "640"), Action::Ok()},
       "The image width and height must not be 0."},
      {{Action::SelectText(IDC_COMBO2, "M"), Action::SetText(IDC_WIDTH, "640"),
        Action::SetText(IDC_HEIGHT, "480"), Action::Click(IDC_RADIO3), Action::Ok()},
       "Choose a group for the group centre."},
      {{Action::SelectText(IDC_COMBO2, "M"), Action::SetText(IDC_WIDTH, "640"),
        Action::SetText(IDC_HEIGHT, "480"), Action::Click(IDC_RADIO4), Action::Ok()},
       "Choose a bone to track."},
      {{Action::SetText(IDC_WIDTH, "5001"), Action::Ok()},
       "Please enter an integer between 0 and 5000."},
      {{Action::SetText(IDC_END_FRAME, "10001"), Action::Ok()},
       "Please enter an integer between 0 and 10000."},
      {{Action::SetText(IDC_START_FRAME, "nan"), Action::Ok()}, "Please enter a number."},
  };
  for (const Row& row : rows) {
    Defaults(30);
    auto actions = row.actions;
    actions.push_back(Action::Cancel());
    ProbeDriver driver(actions);
    EXPECT_EQ(Run(driver), IDCANCEL) << row.message;
    EXPECT_EQ(driver.messages, std::vector<std::string>{row.message});
    EXPECT_TRUE(driver.Failures().empty());
  }
}

// The frame fields' range checks see the float truncated toward zero: the
// dialog's own truncation, through OK.
TEST_F(PDialogTest, FrameRangeChecksSeeTheTruncatedValue) {
  CameraWith("Cam", {{"Width", 64}, {"Height", 48}});
  scene.AddObject("N", 4);
  struct Row {
    int field;
    const char* text;
    bool accepted;
  } rows[] = {{IDC_END_FRAME, "10000.5", true},    {IDC_END_FRAME, "10001", false},
              {IDC_START_FRAME, "-0.5", true},     {IDC_START_FRAME, "-1", false},
              {IDC_START_FRAME, "100000.9", true}, {IDC_START_FRAME, "100001", false},
              {IDC_END_FRAME, "-0.99", true},      {IDC_END_FRAME, "10000.999", true}};
  for (const Row& r : rows) {
    Defaults(30);
    ProbeDriver driver({Action::SelectText(IDC_COMBO2, "N"), Action::SetText(r.field, r.text),
                        Action::Ok(), Action::Cancel()});
    EXPECT_EQ(Run(driver), r.accepted ? IDOK : IDCANCEL) << r.text;
    EXPECT_EQ(driver.messages.empty(), r.accepted) << r.text;
  }
}

TEST_F(PDialogTest, ChoreographyWithoutCameraEndsAsCancel) {
  scene.AddFolder("Folder");
  scene.AddObject("N", 4);
  Defaults(30);
  ProbeDriver driver({Action::Ok()});
  EXPECT_EQ(Run(driver), IDCANCEL);
  EXPECT_EQ(driver.messages, std::vector<std::string>{"The choreography has no camera."});
  EXPECT_EQ(driver.Remaining(), 1u);  // the dialog never waited for an action
  EXPECT_TRUE(driver.Failures().empty());
}

TEST_F(PDialogTest, FrameFieldsKeepTheirFloatsThroughOk) {
  CameraWith("Cam", {{"Width", 640}, {"Height", 480}});
  scene.AddObject("N", 4);
  Defaults(30);
  ProbeDriver driver({Action::SelectText(IDC_COMBO2, "N"), Action::SetText(IDC_START_FRAME, "12.5"),
                      Action::SetText(IDC_END_FRAME, "10000.5"), Action::Ok()});
  EXPECT_EQ(Run(driver), IDOK);
  EXPECT_EQ(record.startFrame, 12.5f);
  EXPECT_EQ(record.endFrame, 10000.5f);
  EXPECT_EQ(record.width, 640);
}

// Choosing another model after a mode puts the record back to mode 0; the
// radios show that mode alone, whichever was clicked.
TEST_F(PDialogTest, RadiosShowTheRecordedModeAlone) {
  scene.AddCamera("Cam");
  for (const char* name : {"A", "B"}) {
    HModel* model = scene.AddModel(name);
    scene.AddGroup(scene.AddGroupContainer(model), "G", {});
    scene.AddBone(scene.AddBoneContainer(model), nullptr, "R", {});
  }
  for (const int radio : {IDC_RADIO2, IDC_RADIO3, IDC_RADIO4}) {
    Defaults(30);
    ProbeDriver driver({Action::SelectText(IDC_COMBO2, "A"), Action::Click(radio),
                        Action::SelectText(IDC_COMBO2, "B"), Action::Cancel()});
    driver.atEnd = [&](HWND d) {
      EXPECT_EQ(record.targetMode, 0);
      EXPECT_TRUE(Checked(d, IDC_RADIO1)) << radio;
      EXPECT_FALSE(Checked(d, IDC_RADIO2)) << radio;
      EXPECT_FALSE(Checked(d, IDC_RADIO3)) << radio;
      EXPECT_FALSE(Checked(d, IDC_RADIO4)) << radio;
    };
    Run(driver);
  }
}

TEST_F(PDialogTest, CameraAsItsOwnTargetIsRefusedOnOk) {
  CameraWith("Cam", {{"Width", 64}, {"Height", 48}});
  scene.AddObject("N", 4);
  Defaults(30);
  // It opens on the first object that is not the camera, so OK takes it as
  // it stands.
  ProbeDriver plain({Action::Ok()});
  EXPECT_EQ(Run(plain), IDOK);
  EXPECT_STREQ(record.object->GetName(), "N");
  Defaults(30);
  ProbeDriver driver({Action::SelectText(IDC_COMBO2, "Cam"), Action::Ok(),
                      Action::SelectText(IDC_COMBO2, "N"), Action::Ok()});
  EXPECT_EQ(Run(driver), IDOK);
  EXPECT_EQ(driver.messages,
            std::vector<std::string>{"The target is the camera itself. Choose another object."});
  EXPECT_STREQ(record.object->GetName(), "N");
}

}  // namespace
