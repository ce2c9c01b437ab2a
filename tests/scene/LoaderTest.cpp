#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/scene/Loader.h"
#include "tests/fileio/TempDir.h"

namespace {

using tq::scene::Channel;
using tq::scene::LoadSceneFile;
using tq::scene::LoadSceneText;

std::string Example(const char* name) {
  return std::string(TQ_SOURCE_DIR) + "/examples/" + name;
}

// A minimal valid scene with the given objects.
std::string SceneWith(const std::string& objects, const std::string& fps = "30") {
  return R"({"format": "tq-scene", "version": 1, "project": {"name": "P", "fps": )" + fps +
         R"(}, "chor": {"name": "C", "objects": [)" + objects + "]}}";
}

std::vector<std::string> Names(HQuorObject* first) {
  std::vector<std::string> names;
  for (HQuorObject* o = first; o != nullptr; o = o->GetSibling()) names.push_back(o->GetName());
  return names;
}

void CollectProperties(HTreeObject* owner, std::vector<std::string>& out) {
  for (int i = 0; HProperty* p = owner->GetPropertyAt(i); ++i) {
    out.push_back(p->GetFullName().Get());
    CollectProperties(p, out);
  }
}

TEST(Loader, OrbitExampleAnswersTheWalks) {
  auto loaded = LoadSceneFile(Example("orbit.tqs.json"));
  ASSERT_TRUE(loaded) << loaded.error;
  tq::scene::Scene& scene = **loaded;
  EXPECT_EQ(scene.Project()->GetFPS(), 30.0f);
  HChor* chor = scene.Chor();
  EXPECT_EQ(Names(chor->GetChild()),
            (std::vector<std::string>{"Camera1", "Closeup", "Robot", "Key", "Marker", "Props"}));
  std::vector<std::string> cameras;
  for (HCamera* c = chor->GetChildCamera(); c != nullptr; c = c->GetNextCameraInChor()) {
    cameras.push_back(c->GetName());
  }
  EXPECT_EQ(cameras, (std::vector<std::string>{"Camera1", "Closeup"}));
  std::vector<int> types;
  for (HQuorObject* o = chor->GetChild(); o != nullptr; o = o->GetSibling()) {
    types.push_back(o->GetObjectType());
  }
  EXPECT_EQ(types, (std::vector<int>{2, 2, 1, 3, 4, 9}));

  std::vector<std::string> properties;
  CollectProperties(chor->GetChildCamera(), properties);
  EXPECT_EQ(properties,
            (std::vector<std::string>{
                "Camera1.OutputOptions", "Camera1.OutputOptions.Resolution",
                "Camera1.OutputOptions.Resolution.Width", "Camera1.OutputOptions.Resolution.Height",
                "Camera1.OutputOptions.Range", "Camera1.OutputOptions.Range.StartFrame",
                "Camera1.OutputOptions.Range.EndFrame"}));
  HProperty* range = chor->GetChildCamera()->GetPropertyAt(0)->GetPropertyAt(1);
  EXPECT_EQ(range->GetPropertyAt(1)->GetValue(), 120 * 4500);  // ticks
  EXPECT_EQ(range->GetPropertyAt(2), nullptr);
  EXPECT_EQ(range->GetPropertyAt(-1), nullptr);

  auto* robot = static_cast<HModel*>(scene.FindObject("Robot"));
  std::vector<std::string> groups;
  for (HQuorObject* g = robot->GetChildGroupContainer()->GetChildGroup(); g; g = g->GetSibling()) {
    groups.push_back(g->GetName());
  }
  EXPECT_EQ(groups, (std::vector<std::string>{"Base", "Roof"}));
  // Bones in pre-order, the second top-level bone beside the first.
  HBone* root = robot->GetChildBoneContainer()->GetChildBone();
  EXPECT_STREQ(root->GetName(), "Root");
  EXPECT_STREQ(root->GetChildBone()->GetName(), "Spine");
  EXPECT_STREQ(root->GetChildBone()->GetChildBone()->GetName(), "Neck");
  EXPECT_STREQ(root->GetChildBone()->GetSiblingBone()->GetName(), "Arm");
  EXPECT_STREQ(root->GetSiblingBone()->GetName(), "Prop");
  EXPECT_EQ(root->GetSiblingBone()->GetPivot(), Vector(2, 0, 0));
  // Point 13 is stacked on point 0.
  HModelCache* cache = robot->GetCache();
  EXPECT_EQ(cache->Point(13)->GetHead(), cache->Point(0));
  EXPECT_EQ(cache->Point(0)->GetHead(), cache->Point(0));
}

TEST(Loader, ZoomExampleLoads) {
  auto loaded = LoadSceneFile(Example("zoom.tqs.json"));
  ASSERT_TRUE(loaded) << loaded.error;
  HCamera* zoom = (*loaded)->Chor()->GetChildCamera();
  EXPECT_EQ(zoom->GetFocalLength()->GetValue(0), 35.0f);          // before the first key
  EXPECT_EQ(zoom->GetFocalLength()->GetValue(48 * 5625), 85.0f);  // frame 48 at 24 fps
  EXPECT_EQ((*loaded)->Chor()->GetTime(), 5625);
  EXPECT_EQ((*loaded)->Project()->GetTime(), 5625);
}

TEST(Loader, TimesBecomeTicksAtTheProjectRate) {
  auto loaded = LoadSceneText(SceneWith(R"({"type": "camera", "name": "Cam",
      "output": {"startFrame": 1, "endFrame": 0.5}})",
                                        "7"),
                              "t.json");
  ASSERT_TRUE(loaded) << loaded.error;
  HProperty* range = (*loaded)->Chor()->GetChildCamera()->GetPropertyAt(0)->GetPropertyAt(0);
  EXPECT_STREQ(range->GetFullName().Get(), "Cam.OutputOptions.Range");
  EXPECT_EQ(range->GetPropertyAt(0)->GetValue(), 19286);
  EXPECT_EQ(range->GetPropertyAt(1)->GetValue(), 9643);
}

TEST(Loader, LocalMatrixFollowsTheTimesLastAsked) {
  auto loaded = LoadSceneText(SceneWith(R"({"type": "null", "name": "N",
      "translate": {"keys": [[0, [0, 0, 0]], [10, [10, 0, 0]]]},
      "rotate": {"keys": [[0, [0, 0, 0, 1]], [10, {"euler": [0, 90, 0]}]]}})"),
                              "t.json");
  ASSERT_TRUE(loaded) << loaded.error;
  auto* n = static_cast<HBone*>((*loaded)->Chor()->GetChild());
  // Nothing asked yet: the choreography's time, 0.
  EXPECT_EQ(n->GetLocalMatrix().GetTranslate(), Vector(0, 0, 0));
  n->GetTransform()->GetTranslate()->GetValue(5 * 4500);
  EXPECT_EQ(n->GetLocalMatrix().GetTranslate(), Vector(5, 0, 0));
  n->GetTransform()->GetRotate()->GetValue(10 * 4500);
  const Vector z = n->GetLocalMatrix() * Vector(0, 0, 1);
  EXPECT_NEAR(z.x, 6.0f, 1e-6f);  // (5,0,0) + Y(90) (0,0,1) = (5,0,0) + (1,0,0)
  EXPECT_NEAR(z.z, 0.0f, 1e-6f);
  // New channels: what the old ones answered is forgotten.
  (*loaded)->SetTransform(n, Channel<Vector>(Vector(7, 0, 0)), Channel<Quaternion>(Quaternion()));
  EXPECT_EQ(n->GetLocalMatrix() * Vector(0, 0, 1), Vector(7, 0, 1));
}

// The rate is the project's single-precision one, which the export uses: at
// 12.3 fps, 12.3 in double places frame 73 at 801220 ticks, 12.3f at 801219,
// one tick before the export asks for frame 73.
TEST(Loader, KeysFallOnTheFramesTheExportAsks) {
  auto loaded = LoadSceneText(SceneWith(R"({"type": "camera", "name": "Cam",
      "focalLength": {"interpolation": "step", "keys": [[0, 35], [73, 50]]}})",
                                        "12.3"),
                              "t.json");
  ASSERT_TRUE(loaded) << loaded.error;
  const float fps = (*loaded)->Project()->GetFPS();
  const Time frame73 = tq::scene::RunFrameTicks(73.0f, fps);
  EXPECT_EQ((*loaded)->Chor()->GetChildCamera()->GetFocalLength()->GetValue(frame73), 50.0f);
  EXPECT_NE(*tq::scene::FramesToTicks(73, 12.3), frame73);  // the double rate would miss it
}

// Geometry refers to points wherever they stand in the object.
TEST(Loader, PointsAfterWhatRefersToThem) {
  auto loaded = LoadSceneText(SceneWith(R"({"type": "model", "name": "M",
      "patches": [[0, 1, 2, 2]], "heads": {"2": 1}, "groups": [{"name": "G", "points": [0, 1]}],
      "points": [[0,0,0],[2,0,0],[2,2,0]]})"),
                              "t.json");
  ASSERT_TRUE(loaded) << loaded.error;
  HModelCache* cache = static_cast<HModel*>((*loaded)->Chor()->GetChild())->GetCache();
  EXPECT_EQ(cache->PointCount(), 3u);
  cache->FindPatches();
  EXPECT_EQ(cache->GetPatchCount(), 1);
  const HPatch* patch = cache->GetPatch(0);
  EXPECT_EQ(
      (std::vector<HCP*>{patch->GetCP1(), patch->GetCP2(), patch->GetCP3(), patch->GetCP4()}),
      (std::vector<HCP*>{cache->Point(0), cache->Point(1), cache->Point(2), cache->Point(2)}));
  EXPECT_EQ(cache->Point(2)->GetHead(), cache->Point(1));
}

// Points and patches name each other by their distance: across blocks far
// apart, in blocks a scene gave back before, along a chain of pentagons.
TEST(Loader, CornersAndHeadsReachAcrossBlocks) {
  const int n = 300000;  // blocks of up to 4 MiB
  const std::string last = std::to_string(n - 1);
  std::string text = R"({"type": "model", "name": "M", "points": [)";
  for (int i = 0; i < n; ++i) text.append(i > 0 ? ",[" : "[").append(std::to_string(i) + ",0,0]");
  text += R"(], "heads": {")" + last + R"(": 0, "0": 1}, "patches": [[0, )" + last +
          R"(, 1, 2]], "patches5": [[)" + last + R"(, 0, 1, 2, 3], [3, 2, 1, 0, )" + last + "]]}";
  text = SceneWith(text);
  for (int round = 0; round < 2; ++round) {  // the second in the first's blocks
    auto loaded = LoadSceneText(text, "t.json");
    ASSERT_TRUE(loaded) << loaded.error;
    HModelCache* cache = static_cast<HModel*>((*loaded)->Chor()->GetChild())->GetCache();
    HCP* end = cache->Point(n - 1);
    EXPECT_EQ(end->GetModelPosition().x, static_cast<float>(n - 1));
    EXPECT_EQ(end->GetHead(), cache->Point(1));  // n - 1 to 0 to 1
    cache->FindPatches();
    EXPECT_EQ(cache->GetPatch(0)->GetCP2(), end);
    const HPatch5* first = cache->GetHeadPatch5();
    EXPECT_EQ(first->GetCP1(), end);
    EXPECT_EQ(first->GetNextPatch5()->GetCP5(), end);
    EXPECT_EQ(first->GetNextPatch5()->GetNextPatch5(), nullptr);
  }
}

// A handle kept past its scene reads freed geometry: AddressSanitizer says
// so (the blocks a scene gives back are poisoned).
TEST(Loader, APointReadAfterItsSceneIsGoneIsReported) {
#if !defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "only AddressSanitizer sees it";
#else
  HCP* point = nullptr;
  {
    auto loaded = LoadSceneText(SceneWith(R"({"type": "model", "name": "M", "points": [[1,2,3]]})"),
                                "t.json");
    ASSERT_TRUE(loaded) << loaded.error;
    point = static_cast<HModel*>((*loaded)->Chor()->GetChild())->GetCache()->Point(0);
    EXPECT_EQ(point->GetModelPosition().z, 3.0f);
  }
  EXPECT_DEATH(std::exit(point->GetModelPosition().x > 0 ? 2 : 3), "use-after-poison");
#endif
}

TEST(Loader, ChorNamedWhereverItsNameStands) {
  const std::string project = R"("project": {"fps": 30})";
  const std::string objects = R"("objects": [{"type": "null", "name": "N"}])";
  auto scene = [](const std::string& first, const std::string& second) {
    return R"({"format": "tq-scene", "version": 1, )" + first + ", " + second + "}";
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {scene(project, R"("chor": {"name": "Ä b", )" + objects + "}"), "Ä b"},
      {scene(project, R"("chor": {)" + objects + R"(, "name": "Later"})"), "Later"},
      {scene(project, R"("chor": {)" + objects + "}"), "Chor1"},
      // Escapes are read as what they name; a name without is the file's bytes.
      {scene(project, R"("chor": {"name": "\u00c4 \"q\"", )" + objects + "}"), "Ä \"q\""},
      {scene(project, R"("chor": {"name": "a\\", )" + objects + "}"), "a\\"},
      // The choreography may come before the project whose rate it needs.
      {scene(R"("chor": {)" + objects + R"(, "name": "First"})", project), "First"},
  };
  for (const auto& [text, name] : cases) {
    auto loaded = LoadSceneText(text, "t.json");
    ASSERT_TRUE(loaded) << loaded.error << "\n" << text;
    EXPECT_STREQ((*loaded)->Chor()->GetName(), name.c_str()) << text;
    EXPECT_EQ(Names((*loaded)->Chor()->GetChild()), std::vector<std::string>{"N"});
  }
}

TEST(Loader, PointNamingItselfIsItsOwnHead) {
  auto loaded = LoadSceneText(SceneWith(R"({"type": "model", "name": "M",
      "points": [[0,0,0],[1,0,0],[2,0,0]], "heads": {"0": 0, "_n": {"a": [1]}, "2": 1, "1": 1}})"),
                              "t.json");
  ASSERT_TRUE(loaded) << loaded.error;
  HModelCache* cache = static_cast<HModel*>((*loaded)->Chor()->GetChild())->GetCache();
  EXPECT_EQ(cache->Point(0)->GetHead(), cache->Point(0));
  EXPECT_EQ(cache->Point(1)->GetHead(), cache->Point(1));
  EXPECT_EQ(cache->Point(2)->GetHead(), cache->Point(1));
}

TEST(Loader, FreePropertyTreesFollowOutputOptions) {
  auto loaded = LoadSceneText(SceneWith(R"({"type": "camera", "name": "Cam",
      "output": {"width": 10},
      "properties": [{"name": "Z", "children": [{"name": "X", "int": 3}, {"name": "Y", "time": 2}]}]})"),
                              "t.json");
  ASSERT_TRUE(loaded) << loaded.error;
  std::vector<std::string> names;
  CollectProperties((*loaded)->Chor()->GetChildCamera(), names);
  EXPECT_EQ(names, (std::vector<std::string>{"Cam.OutputOptions", "Cam.OutputOptions.Resolution",
                                             "Cam.OutputOptions.Resolution.Width", "Cam.Z",
                                             "Cam.Z.X", "Cam.Z.Y"}));
}

struct BadFile {
  const char* label;
  std::string text;
  std::string message;  // what follows "bad.json: "
};

TEST(Loader, RefusesBadFilesWithPathAndExpectation) {
  const std::string model = R"({"type": "model", "name": "M", "points": [[0,0,0],[1,0,0]], )";
  const std::string deep = std::string(10000, '[') + std::string(10000, ']');
  std::string bones = R"({"name": "b 40"})";  // 40 bones, each the child of the next
  for (int i = 39; i > 0; --i)
    bones = R"({"name": "b )" + std::to_string(i) + R"(", "children": [)" + bones + "]}";
  // A group's name used again nine groups on (its check waits for later groups).
  std::string groups = R"("groups": [{"name": "G"})";
  for (int i = 1; i < 9; ++i) groups += R"(, {"name": "g)" + std::to_string(i) + "\"}";
  const std::string again = SceneWith(model + groups + R"(, {"name": "G"}]})");
  const std::string againAt = std::to_string(again.rfind(R"("G")") + 1);
  const BadFile rows[] = {
      {"not JSON", "{format: 1}", "(document): not valid JSON: parse error at line 1, column 3"},
      {"group name used again", again,
       "chor.objects[0].groups[9].name: expected a group name not used before (line 1, column " +
           againAt + ")"},
      // The first fault in the file is the one told.
      {"group name used again in a faulty group",
       SceneWith(model + R"("groups": [{"name": "G"}, {"name": "G", "points": [5]}]})"),
       "chor.objects[0].groups[1].name: expected a group name not used before"},
      {"group name used again before a faulty group",
       SceneWith(model + R"("groups": [{"name": "G"}, {"name": "G"}, {"name": ""}]})"),
       "chor.objects[0].groups[1].name: expected a group name not used before"},
      {"group faulty before its name used again",
       SceneWith(model + R"("groups": [{"name": "G"}, {"points": [5], "name": "G"}]})"),
       "chor.objects[0].groups[1].points[0]: expected an integer from 0 to 1"},
      {"a literal for a key", R"({"format": "tq-scene", null: 1})",
       "(document): not valid JSON: parse error at line 1, column 24: expected a string as an "
       "object key"},
      {"empty", "", "(document): the file is empty; expected a scene object"},
      {"truncated", R"({"format": "tq-scene", "version": 1, "pro)", "(document): not valid JSON:"},
      {"not an object", "[1]", "(document): expected a scene object"},
      {"wrong format", R"({"format": "tq-scenes", "version": 1})", "format: expected \"tq-scene\""},
      {"version 2", R"({"format": "tq-scene", "version": 2})",
       "version: unsupported version 2 (this loader reads version 1)"},
      {"missing name", SceneWith(R"({"type": "null"})"), "chor.objects[0].name: missing"},
      {"empty name", SceneWith(R"({"type": "null", "name": ""})"),
       "chor.objects[0].name: expected a non-empty name"},
      {"duplicate names",
       SceneWith(R"({"type": "null", "name": "A"}, {"type": "light", "name": "A"})"),
       "chor.objects[1].name: expected a name not used before (\"A\" is)"},
      {"duplicate names with quotes",
       SceneWith(R"({"type": "null", "name": "a\"\\b"}, {"type": "light", "name": "a\"\\b"})"),
       R"(chor.objects[1].name: expected a name not used before ("a\"\\b" is))"},
      {"unknown type", SceneWith(R"({"type": "sound", "name": "A"})"),
       "chor.objects[0].type: expected \"model\", \"camera\", \"light\", \"null\" or \"folder\""},
      {"fps 0", SceneWith("", "0"),
       "project.fps: expected a frame rate above 0 and at most 135000"},
      {"fps negative", SceneWith("", "-24"),
       "project.fps: expected a frame rate above 0 and at most 135000"},
      {"fps 0 in single precision", SceneWith("", "1e-300"),
       "project.fps: expected a frame rate above 0 and at most 135000"},
      {"non-increasing keys",
       SceneWith(
           R"({"type": "null", "name": "A", "translate": {"keys": [[5, [0,0,0]], [5, [1,1,1]]]}})"),
       "chor.objects[0].translate.keys[1][0]: expected a frame later than the previous key's "
       "(5.0)"},
      {"rotation of wrong length",
       SceneWith(R"({"type": "null", "name": "A", "rotate": [0, 0, 1]})"),
       "chor.objects[0].rotate: expected a rotation [x, y, z, w] or {\"euler\": [x, y, z]}"},
      {"patch index out of range", SceneWith(model + R"("patches": [[0, 1, 1, 2]]})"),
       "chor.objects[0].patches[0][3]: expected an integer from 0 to 1"},
      {"head cycle", SceneWith(model + R"("heads": {"0": 1, "1": 0}})"),
       "chor.objects[0].heads.0: expected a chain of heads that ends, not a cycle"},
      {"head comment twice", SceneWith(model + R"("heads": {"_c": 1, "0": 1, "_c": 2}})"),
       "chor.objects[0].heads._c: expected each key once in an object"},
      {"group point out of range",
       SceneWith(model + R"("groups": [{"name": "G", "points": [0, 2]}]})"),
       "chor.objects[0].groups[0].points[1]: expected an integer from 0 to 1"},
      {"number too large",
       SceneWith(R"({"type": "null", "name": "A", "translate": [1e400, 0, 0]})"),
       "(document): not valid JSON: number overflow parsing '1e400'"},
      {"lone surrogate", SceneWith(R"({"type": "null", "name": "A\ud800"})"),
       "(document): not valid JSON: a string escape that names no character"},
      {"not UTF-8", SceneWith("{\"type\": \"null\", \"name\": \"A\xff\"}"),
       "(document): not valid JSON: text that is not UTF-8"},
      {"nesting 10000 deep", deep,
       "[0][0][0][0]...[0][0]: nested deeper than 64 levels (line 1, column 65)"},
      {"bones nested 40 deep", SceneWith(model + R"("bones": [)" + bones + "]}"),
       "chor.objects[0].bones...[0].children: nested deeper than 64 levels"},
      {"comment nested 100 deep",
       SceneWith(R"({"type": "null", "name": "A", "_c": )" + deep.substr(9900, 200) + "}"),
       "chor.objects[0]._c...[0][0]: nested deeper than 64 levels"},
      {"unknown key", SceneWith(R"({"type": "null", "name": "A", "focal": 3})"),
       "chor.objects[0].focal: unknown key (expected one of: type, name, translate, rotate, "
       "scale)"},
      {"bad channel key",
       SceneWith(R"({"type": "camera", "name": "A", "focalLength": {"keys": [[0]]}})"),
       "chor.objects[0].focalLength.keys[0]: expected a key [frame, value]"},
      {"time past 32 bits",
       SceneWith(R"({"type": "camera", "name": "A", "output": {"endFrame": 1e7}})"),
       "chor.objects[0].output.endFrame: expected a frame whose tick time fits 32 bits"},
      // A name cut short at U+0000 would show as, and match, another object.
      {"name with U+0000", SceneWith(R"({"type": "null", "name": "A\u0000B"})"),
       "chor.objects[0].name: expected a name without control characters (U+0000 to U+001F)"},
      {"group name with U+001F", SceneWith(model + R"("groups": [{"name": "G\u001f"}]})"),
       "chor.objects[0].groups[0].name: expected a name without control characters"},
      {"fps above one frame a tick", SceneWith("", "135000.5"),
       "project.fps: expected a frame rate above 0 and at most 135000"},
      {"key given twice", SceneWith(R"({"type": "null", "name": "A", "name": "B"})"),
       "chor.objects[0].name: expected each key once in an object"},
      {"top-level key given twice", R"({"format": "tq-scene", "format": "tq-scene"})",
       "format: expected each key once in an object"},
      {"focal length 0", SceneWith(R"({"type": "camera", "name": "A", "focalLength": 0})"),
       "chor.objects[0].focalLength: expected a number above 0"},
      {"negative focal key",
       SceneWith(R"({"type": "camera", "name": "A", "focalLength": {"keys": [[0, 35], [9, -1]]}})"),
       "chor.objects[0].focalLength.keys[1][1]: expected a number above 0"},
      {"a lens model not known",
       SceneWith(R"({"type": "camera", "name": "A", "distortion": {"model": "di\nvision"}})"),
       R"(chor.objects[0].distortion.model: the lens model "di\nvision" is not known; "brown" is)"},
      {"a lens without a model",
       SceneWith(R"({"type": "camera", "name": "A", "distortion": {"k1": 0.1}})"),
       "chor.objects[0].distortion.model: missing"},
      {"pixel aspect 0", SceneWith(R"({"type": "camera", "name": "A", "pixelAspect": 0})"),
       "chor.objects[0].pixelAspect: expected a pixel aspect from 0.01 to 100"},
      {"a coefficient no lens has",
       SceneWith(
           R"({"type": "camera", "name": "A", "distortion": {"model": "brown", "p2": 1e308}})"),
       "chor.objects[0].distortion: expected distortion coefficients from -1000 to 1000"},
      {"film offset of three",
       SceneWith(R"({"type": "camera", "name": "A", "filmOffset": [1,2,3]})"),
       "chor.objects[0].filmOffset: expected [x, y]"},
  };
  for (const BadFile& row : rows) {
    const auto loaded = LoadSceneText(row.text, "bad.json");
    EXPECT_FALSE(loaded) << row.label;
    EXPECT_FALSE(loaded) << row.label;
    EXPECT_EQ(loaded.error.rfind(std::string("bad.json: ") + row.message, 0), 0u)
        << row.label << ": " << loaded.error;
  }
}

// A refusal also names the line and column of the value at fault.
TEST(Loader, RefusalsNameLineAndColumn) {
  const std::string text =
      "{\"format\": \"tq-scene\", \"version\": 1,\n"
      "\"project\": {\"fps\": 30},\n"
      "\"chor\": {\"objects\": [{\"type\": \"null\", \"name\": 7}]}}";
  const auto loaded = LoadSceneText(text, "bad.json");
  EXPECT_EQ(loaded.error,
            "bad.json: chor.objects[0].name: expected a non-empty name (line 3, column 47)");
}

TEST(Loader, RefusesOversizedFileBeforeReadingIt) {
  tq::testing::TempDir dir;
  const std::string path = dir / "huge.tqs.json";
  {
    std::ofstream out(path, std::ios::binary);
    out << R"({"format": "tq-scene", "version": 1, "x": ")";
    const std::string chunk(1 << 20, 'a');
    for (int i = 0; i < 100; ++i) out << chunk;  // a 100 MB string
    out << "\"}";
  }
  const auto loaded = LoadSceneFile(path);
  EXPECT_FALSE(loaded);
  EXPECT_NE(loaded.error.find(path + ": (document): expected at most 64 MiB"), std::string::npos)
      << loaded.error;
}

// A valid text the parser finds no memory to index (four bytes a byte) is
// refused for want of memory, not as a text that is not JSON.
TEST(Loader, NoMemoryToIndexTheTextIsSaidSo) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's allocator ends the process when it is out of memory";
#endif
  const std::string text =
      SceneWith(R"({"type": "null", "name": "N", "_c": ")" + std::string(32 << 20, 'a') + "\"}");
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
  rlimit low = old;
  low.rlim_cur =
      static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{64} << 20);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &low), 0);
  const auto loaded = LoadSceneText(text, "big.json");
  setrlimit(RLIMIT_AS, &old);
  EXPECT_EQ(loaded.error, "big.json: (document): not enough memory to read the file");
}

// Under a limit on address space the geometry's stretch takes a share of
// what is left, never all of it: a small model loads with 48 MiB to spare.
// Looked at in a fresh process, where no stretch was reserved before.
TEST(Loader, ASmallModelLoadsUnderALimitOnAddressSpace) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory needs more address space than any such limit";
#else
  const std::string text =
      SceneWith(R"({"type": "model", "name": "M", "points": [[0,0,0], [1,0,0], [0,1,0], [1,1,0]],)"
                R"( "heads": {"3": 0}, "patches": [[0, 1, 3, 2]]})");
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit low{};
        getrlimit(RLIMIT_AS, &low);
        low.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) +
                       (rlim_t{48} << 20);
        setrlimit(RLIMIT_AS, &low);
        const auto loaded = LoadSceneText(text, "t.json");
        std::cerr << loaded.error;
        std::exit(loaded ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
#endif
}

TEST(Loader, WhatIsNotAFileNamesItAndTheReason) {
  tq::testing::TempDir dir;
  const std::string fifo = dir / "f.tqs.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"/nonexistent/scene.tqs.json", "No such file or directory"},
      {fifo, "not a regular file (a FIFO)"},  // refused, never waited on
      {"/dev/zero", "not a regular file (a device)"},
      {dir.path().string(), "not a regular file (a folder)"},
  };
  for (const auto& [path, why] : cases)
    EXPECT_EQ(LoadSceneFile(path).error, path + ": cannot read: " + why);
}

}  // namespace
