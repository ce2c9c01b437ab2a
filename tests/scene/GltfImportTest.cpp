#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "host/scene/GltfImport.h"
#include "host/scene/UniqueNames.h"
#include "tests/fileio/TempDir.h"
#include "tests/scene/GltfBuilder.h"

namespace {

using tq::scene::GltfOptions;
using tq::scene::ImportGltfBytes;
using tq::testing::GltfBuilder;
using tq::testing::PanOverRisingNull;
using json = nlohmann::json;

// Float results of double arithmetic on the importer's side: a few float
// ulps at magnitudes up to 10 (1.2e-7 x 10 x 4).
constexpr float kTolerance = 5e-6f;

void ExpectNear(const Vector& got, const Vector& want, const std::string& what) {
  EXPECT_NEAR(got.x, want.x, kTolerance) << what;
  EXPECT_NEAR(got.y, want.y, kTolerance) << what;
  EXPECT_NEAR(got.z, want.z, kTolerance) << what;
}

HBone* Object(tq::scene::Scene& scene, const char* name) {
  auto* o = static_cast<HBone*>(scene.FindObject(name));
  EXPECT_NE(o, nullptr) << name;
  return o;
}

tq::scene::ImportResult Import(const std::string& bytes, const std::string& path = "t.gltf",
                               GltfOptions options = {}) {
  return ImportGltfBytes(bytes, path, options);
}

// Node M of a scale, its mesh of points (i + 0.1, -2i, 0.3i) from i = 0 (more
// than a model's first block of 16), point 20's x odd.
std::vector<float> MeshOf(GltfBuilder& b, int points, float odd, double scale) {
  std::vector<float> xyz;
  for (int i = 0; i < points; ++i) xyz.insert(xyz.end(), {i + 0.1f, -2.0f * i, 0.3f * i});
  xyz[60] = odd;
  b.doc["meshes"] = {{{"primitives", {{{"attributes", {{"POSITION", b.Floats(xyz, "VEC3")}}}}}}}};
  b.Node({{"name", "M"}, {"mesh", 0}, {"scale", {scale, scale, scale}}});
  return xyz;
}

// Patch t of a cache: the triangle of points a, b, c as [a, b, c, c].
void ExpectTriangle(const HModelCache* m, unsigned t, std::size_t a, std::size_t b, std::size_t c) {
  const HPatch* p = m->GetPatch(t);
  EXPECT_EQ((std::vector{p->GetCP1(), p->GetCP2(), p->GetCP3(), p->GetCP4()}),
            (std::vector{m->Point(a), m->Point(b), m->Point(c), m->Point(c)}))
      << t;
}

// A scale that takes 1e38f to just within single precision, nearer its edge
// than the scale's rounding.
double EdgeScale() {
  double s = 3.4e38 / double{1e38f};
  while (double{1e38f} * s > 3.4e38) s = std::nextafter(s, 0.0);
  return s;
}

// A .glb of doc as it is (buffers too) and bin, whose BIN chunk header
// claims claim bytes.
std::string GlbOf(const json& doc, std::string bin, std::uint32_t claim) {
  std::string text = doc.dump(), out = "glTF";
  while (text.size() % 4 != 0) text += ' ';
  while (bin.size() % 4 != 0) bin += '\0';
  for (const std::size_t word :
       {std::size_t{2}, 28 + text.size() + bin.size(), text.size(), std::size_t{0x4E4F534A}}) {
    out.append(reinterpret_cast<const char*>(&word), 4);  // little-endian
  }
  out += text;
  for (const std::uint32_t word : {claim, std::uint32_t{0x004E4942}})
    out.append(reinterpret_cast<const char*>(&word), 4);
  return out + bin;
}

TEST(GltfImport, CameraPanningOverAnimatedNull) {
  auto imported = Import(PanOverRisingNull().DataUri());
  ASSERT_TRUE(imported) << imported.error;
  tq::scene::Scene& scene = *imported->scene;
  EXPECT_EQ(scene.Project()->GetFPS(), 24.0f);
  auto* cam = static_cast<HCamera*>(Object(scene, "Cam"));
  EXPECT_EQ(cam->GetObjectType(), ObjectType::kCamera);
  EXPECT_NEAR(cam->GetFocalLength()->GetValue(0), 35.0f, kTolerance);
  // Output: 1920 x 1920/1.5, frames 0 to 24 (1 s at 24 fps), in ticks.
  HProperty* options = cam->GetPropertyAt(0);
  EXPECT_EQ(options->GetPropertyAt(0)->GetPropertyAt(0)->GetValue(), 1920);
  EXPECT_EQ(options->GetPropertyAt(0)->GetPropertyAt(1)->GetValue(), 1280);
  EXPECT_EQ(options->GetPropertyAt(1)->GetPropertyAt(1)->GetValue(), 135000);
  // Frame 12 is half a second: the null half way up, the camera half way
  // round (45 degrees about Y: (0, sin 22.5, 0, cos 22.5)).
  HBone* target = Object(scene, "Target");
  ExpectNear(target->GetTransform()->GetTranslate()->GetValue(12 * 5625), {0, 2.5f, -10}, "rise");
  const Quaternion q = cam->GetTransform()->GetRotate()->GetValue(12 * 5625);
  EXPECT_NEAR(q.v.y, std::sin(M_PI / 8), kTolerance);
  EXPECT_NEAR(q.w, std::cos(M_PI / 8), kTolerance);
  EXPECT_NEAR(q.v.x, 0, kTolerance);
  EXPECT_TRUE(target->GetTransform()->GetTranslate()->GetChannel().IsAnimated());
}

// A child of an animated parent moves with it: the parent slides from the
// origin to (4, 0, 0) over a second and is turned 90 degrees about Z, so the
// child's (0, 1, 0) lies at parent + (-1, 0, 0): (1, 0, 0) at frame 12.
TEST(GltfImport, ChildOfAnimatedParentHoldsItsWorldTransform) {
  GltfBuilder b;
  const double r = std::sqrt(0.5);
  const int parent = b.Node({{"name", "Parent"}, {"rotation", {0, 0, r, r}}});
  b.Node({{"name", "Child"}, {"translation", {0, 1, 0}}}, parent);
  b.Animation("Slide", {{parent, "translation", b.Floats({0, 1}, "SCALAR"),
                         b.Floats({0, 0, 0, 4, 0, 0}, "VEC3")}});
  auto imported = Import(b.DataUri());
  ASSERT_TRUE(imported) << imported.error;
  HBone* child = Object(*imported->scene, "Child");
  ExpectNear(child->GetTransform()->GetTranslate()->GetValue(12 * 5625), {1, 0, 0}, "child");
  ExpectNear(child->GetTransform()->GetTranslate()->GetValue(24 * 5625), {3, 0, 0}, "child end");
  const Quaternion q = child->GetTransform()->GetRotate()->GetValue(12 * 5625);
  EXPECT_NEAR(q.v.z, r, kTolerance);
  EXPECT_NEAR(q.w, r, kTolerance);
  // Objects depth first, parents before children.
  EXPECT_STREQ(imported->scene->Chor()->GetChild()->GetName(), "Parent");
}

// Two triangles of two materials: points of both primitives, patches
// [a, b, c, c] (the second's indices past the first's points), a group per
// primitive named after its material, centred on its points.
TEST(GltfImport, MeshOfTwoMaterials) {
  GltfBuilder b;
  b.doc["materials"] = json::array({{{"name", "Red"}}, {{"name", "Blue"}}});
  const int p0 = b.Floats({0, 0, 0, 3, 0, 0, 0, 3, 0}, "VEC3");
  const int p1 = b.Floats({0, 0, 3, 3, 0, 3, 0, 0, 6}, "VEC3");
  b.doc["meshes"] = json::array(
      {{{"primitives",
         {{{"attributes", {{"POSITION", p0}}}, {"indices", b.Indices({0, 1, 2})}, {"material", 0}},
          {{"attributes", {{"POSITION", p1}}}, {"material", 1}}}}}});
  b.Node({{"name", "Mesh"}, {"mesh", 0}});
  auto imported = Import(b.Glb(), "t.glb");
  ASSERT_TRUE(imported) << imported.error;
  auto* model = static_cast<HModel*>(Object(*imported->scene, "Mesh"));
  HModelCache* cache = model->GetCache();
  ASSERT_EQ(cache->PointCount(), 6u);
  cache->FindPatches();
  ASSERT_EQ(cache->GetPatchCount(), 2);
  const HPatch* second = cache->GetPatch(1);
  EXPECT_EQ(second->GetCP1(), cache->Point(3));
  EXPECT_EQ(second->GetCP3(), cache->Point(5));
  EXPECT_EQ(second->GetCP4(), cache->Point(5));
  HGroup* red = model->GetChildGroupContainer()->GetChildGroup();
  EXPECT_STREQ(red->GetName(), "Red");
  EXPECT_EQ(red->GetMatrix().GetTranslate(), Vector(1, 1, 0));
  EXPECT_STREQ(red->GetSibling()->GetName(), "Blue");
  EXPECT_EQ(static_cast<HGroup*>(red->GetSibling())->GetMatrix().GetTranslate(), Vector(1, 0, 4));
}

// A scene whose text would be far over 64 MiB is refused before its text is
// made: a mesh of 1.2M points of about 60 bytes each, and two nodes moving
// for 9.9 seconds at 100000 fps (2M keys of about 55 bytes each).
TEST(GltfImport, SceneFarOverTheLimitIsRefusedUnwritten) {
  struct Row {
    const char* what;
    std::function<void(GltfBuilder&)> build;
    float fps;
  } rows[] = {
      {"1.2M points",
       [](GltfBuilder& b) {
         std::vector<float> xyz(3 * 1200000);
         for (std::size_t i = 0; i < xyz.size(); ++i)
           xyz[i] = 0.1f * static_cast<float>(i % 1000) + 0.01f;
         b.doc["meshes"] = json::array(
             {{{"primitives", {{{"attributes", {{"POSITION", b.Floats(xyz, "VEC3")}}}}}}}});
         b.Node({{"name", "Mesh"}, {"mesh", 0}});
       },
       24},
      {"two nodes of 990001 keys",
       [](GltfBuilder& b) {
         const int times = b.Floats({0, 9.9f}, "SCALAR");
         const int a = b.Node({{"name", "A"}}), c = b.Node({{"name", "C"}});
         b.Animation("Long", {{a, "translation", times, b.Floats({0, 0, 0, 1, 2, 3}, "VEC3")},
                              {c, "translation", times, b.Floats({0, 0, 0, 3, 2, 1}, "VEC3")}});
       },
       100000},
  };
  for (const Row& row : rows) {
    GltfBuilder b;
    row.build(b);
    GltfOptions options;
    options.fps = row.fps;
    const auto imported = Import(b.Glb(), "t.glb", options);
    ASSERT_TRUE(imported) << row.what << ": " << imported.error;
    const auto text = tq::scene::ImportedSceneText(*imported->scene, "t.glb");
    EXPECT_EQ(text.error.rfind("t.glb: the scene would be at least ", 0), 0u)
        << row.what << ": " << text.error;
  }
}

// Two joints, the second a child of the first two units up: bones nested the
// same way, pivots at the bind positions (the inverse bind matrices' inverse
// translations).
TEST(GltfImport, SkinnedTwoJointMesh) {
  GltfBuilder b;
  const int positions = b.Floats({0, 0, 0, 1, 0, 0, 0, 2, 0}, "VEC3");
  b.doc["meshes"] = json::array({{{"primitives", {{{"attributes", {{"POSITION", positions}}}}}}}});
  const int root = b.Node({{"name", "Hip"}, {"translation", {0, 0, 0}}});
  b.Node({{"name", "Knee"}, {"translation", {0, 2, 0}}}, root);
  const int bind = b.Floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0,  0, 1,  //
                             1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -2, 0, 1},
                            "MAT4");
  b.doc["skins"] = json::array({{{"joints", {root, root + 1}}, {"inverseBindMatrices", bind}}});
  b.Node({{"name", "Leg"}, {"mesh", 0}, {"skin", 0}});
  auto imported = Import(b.DataUri());
  ASSERT_TRUE(imported) << imported.error;
  auto* leg = static_cast<HModel*>(Object(*imported->scene, "Leg"));
  HBone* hip = leg->GetChildBoneContainer()->GetChildBone();
  ASSERT_NE(hip, nullptr);
  EXPECT_STREQ(hip->GetName(), "Hip");
  EXPECT_EQ(hip->GetPivot(), Vector(0, 0, 0));
  ASSERT_NE(hip->GetChildBone(), nullptr);
  EXPECT_STREQ(hip->GetChildBone()->GetName(), "Knee");
  EXPECT_EQ(hip->GetChildBone()->GetPivot(), Vector(0, 2, 0));
  EXPECT_EQ(hip->GetSiblingBone(), nullptr);
  // The joints are nulls of the choreography too.
  EXPECT_EQ(imported->scene->FindObject("Knee")->GetObjectType(), ObjectType::kNull);
}

// The same scene as a .gltf with a data: URI, a .gltf with an external .bin,
// a .glb, and a .glb whose null's keys are 16 bytes into a file beside its
// BIN chunk imports to the same values.
TEST(GltfImport, BufferFormsGiveTheSameScene) {
  tq::testing::TempDir dir;
  GltfBuilder b = PanOverRisingNull();
  tq::testing::WriteFile(dir / "pan.bin", b.bin);
  tq::testing::WriteFile(dir / "pan.gltf", b.External("pan.bin"));
  tq::testing::WriteFile(dir / "pan.glb", b.Glb());
  tq::testing::WriteFile(dir / "inline.gltf", b.DataUri());
  json mixed = b.doc;
  mixed["buffers"] = {{{"byteLength", b.bin.size()}},
                      {{"byteLength", 16 + b.bin.size()}, {"uri", "more%20b\u00efn.bin"}}};
  mixed["bufferViews"][2]["buffer"] = 1;
  mixed["bufferViews"][2]["byteOffset"] = 16 + mixed["bufferViews"][2]["byteOffset"].get<int>();
  tq::testing::WriteFile(dir / "more b\u00efn.bin", std::string(16, 'x') + b.bin);
  tq::testing::WriteFile(dir / "mixed.glb", GlbOf(mixed, b.bin, 64));
  std::vector<Vector> rises;
  for (const char* name : {"pan.gltf", "pan.glb", "inline.gltf", "mixed.glb"}) {
    auto imported = tq::scene::ImportGltfFile(dir / name, {});
    ASSERT_TRUE(imported) << imported.error;
    rises.push_back(
        Object(*imported->scene, "Target")->GetTransform()->GetTranslate()->GetValue(7 * 5625));
  }
  EXPECT_EQ(rises[0], rises[1]);
  EXPECT_EQ(rises[0], rises[2]);
  EXPECT_EQ(rises[0], rises[3]);
}

// A repeat takes the first free "name.k", stepping over a file's own
// "Box.3"; a run of repeats tries each name at most twice, not once for every
// earlier repeat.
TEST(UniqueNames, RepeatsNumberedInOrderEachTriedAtMostTwice) {
  tq::scene::UniqueNames names;
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"Box", "Box"},           {"Box.3", "Box.3"},        {"Box", "Box.2"},
      {"Box", "Box.4"},         {"Box.3", "Box.3.2"},      {"Box", "Box.5"},
      {"Lid $(x)", "Lid $(x)"}, {"Lid $(x)", "Lid $(x).2"}};
  for (const auto& [in, out] : rows) EXPECT_EQ(names.Take(in), out) << in;
  tq::scene::UniqueNames many;
  const std::size_t n = 2000;
  for (std::size_t i = 1; i <= n; ++i)
    ASSERT_EQ(many.Take("Null"), i == 1 ? "Null" : "Null." + std::to_string(i));
  EXPECT_LE(many.Tries(), 2 * n);
}

TEST(GltfImport, AnimationsChosenAndNamesMadeUnique) {
  GltfBuilder b;
  const int a = b.Node({{"name", "Box"}});
  b.Node({{"name", "Box"}});
  b.Node(json::object());
  const int t = b.Floats({0, 2}, "SCALAR");
  b.Animation("Walk", {{a, "translation", t, b.Floats({0, 0, 0, 1, 0, 0}, "VEC3")}});
  b.Animation("Run", {{a, "translation", b.Floats({0, 1}, "SCALAR"),
                       b.Floats({0, 0, 0, 9, 0, 0}, "VEC3")}});
  // Together: the first in the file wins, with a warning; the range is 2 s.
  auto both = Import(b.DataUri());
  ASSERT_TRUE(both) << both.error;
  ASSERT_EQ(both->warnings.size(), 2u);
  EXPECT_EQ(both->warnings[1], tq::scene::kGltfNoCamera);
  EXPECT_NE(both->warnings[0].find("animations[1].channels[0]"), std::string::npos);
  ExpectNear(Object(*both->scene, "Box")->GetTransform()->GetTranslate()->GetValue(48 * 5625),
             {1, 0, 0}, "Walk wins");
  EXPECT_NE(both->scene->FindObject("Box.2"), nullptr);
  EXPECT_NE(both->scene->FindObject("node2"), nullptr);
  // One alone, by name or index.
  for (const char* pick : {"Run", "1"}) {
    GltfOptions options;
    options.animation = pick;
    auto run = Import(b.DataUri(), "t.gltf", options);
    ASSERT_TRUE(run) << run.error;
    ExpectNear(Object(*run->scene, "Box")->GetTransform()->GetTranslate()->GetValue(24 * 5625),
               {9, 0, 0}, pick);
  }
  GltfOptions missing;
  missing.animation = "Swim";
  EXPECT_EQ(Import(b.DataUri(), "t.gltf", missing).error,
            "t.gltf: animations: no animation 'Swim'; the file has Walk, Run");
}

// STEP holds, CUBICSPLINE follows Hermite with tangents scaled by the key
// interval: from 0 to 1 over 2 s with out-tangent 0.5 and in-tangent 0, at
// u = 0.5 p = 0.5 + (1/8) x 2 x 0.5 = 0.625.
TEST(GltfImport, StepAndCubicSplineSamplers) {
  GltfBuilder b;
  const int a = b.Node({{"name", "A"}});
  const int c = b.Node({{"name", "C"}});
  const int t = b.Floats({0, 2}, "SCALAR");
  b.Animation("Keys", {{a, "translation", t, b.Floats({0, 0, 0, 5, 0, 0}, "VEC3"), "STEP"},
                       {c, "translation", t,
                        b.Floats({0, 0, 0, 0, 0, 0, 0.5f, 0, 0,  // in, value, out of key 0
                                  0, 0, 0, 1, 0, 0, 0, 0, 0},    // of key 1
                                 "VEC3"),
                        "CUBICSPLINE"}});
  auto imported = Import(b.DataUri());
  ASSERT_TRUE(imported) << imported.error;
  ExpectNear(Object(*imported->scene, "A")->GetTransform()->GetTranslate()->GetValue(47 * 5625),
             {0, 0, 0}, "step");
  ExpectNear(Object(*imported->scene, "C")->GetTransform()->GetTranslate()->GetValue(24 * 5625),
             {0.625f, 0, 0}, "cubic");
}

TEST(GltfImport, RefusesWithTheGltfPath) {
  struct Row {
    const char* label;
    std::function<void(GltfBuilder&)> spoil;
    std::string error;
  } rows[] = {
      {"Draco",
       [](GltfBuilder& b) { b.doc["extensionsRequired"] = {"KHR_draco_mesh_compression"}; },
       "t.gltf: extensionsRequired: the extension KHR_draco_mesh_compression (Draco mesh "
       "compression) is required, which this importer does not read; export without compression "
       "(in Blender: untick Data > Compression)"},
      {"meshopt", [](GltfBuilder& b) { b.doc["extensionsRequired"] = {"EXT_meshopt_compression"}; },
       "t.gltf: extensionsRequired: the extension EXT_meshopt_compression (meshopt compression) "
       "is required, which this importer does not read; export without it (gltfpack without -c)"},
      {"glTF 1.0", [](GltfBuilder& b) { b.doc["asset"]["version"] = "1.0"; },
       "t.gltf: asset.version: glTF 1.0 is not read; export glTF 2.0"},
      {"yfov of pi",
       [](GltfBuilder& b) {
         b.doc["cameras"] = {
             {{"type", "perspective"}, {"perspective", {{"yfov", M_PI}, {"znear", 1}}}}};
       },
       "t.gltf: cameras[0].perspective.yfov: expected a field of view above 0 and below pi "
       "(radians)"},
      {"aspect ratio 0",
       [](GltfBuilder& b) {
         b.doc["cameras"] = {
             {{"type", "perspective"}, {"perspective", {{"yfov", 1}, {"aspectRatio", 0}}}}};
       },
       "t.gltf: cameras[0].perspective.aspectRatio: expected a number above 0, or none (the "
       "image's width over its height)"},
      {"a skin without joints", [](GltfBuilder& b) { b.doc["skins"] = {json::object()}; },
       "t.gltf: skins[0].joints: expected the skin's joints: an array of node indices"},
      {"a skin's joint not a whole number",
       [](GltfBuilder& b) {
         b.doc["skins"] = {{{"joints", {0.5}}}};
       },
       "t.gltf: skins[0].joints: expected the skin's joints: an array of node indices"},
      {"beyond single precision",
       [](GltfBuilder& b) {
         b.Node({{"translation", {3e38, 0, 0}}}, b.Node({{"translation", {3e38, 0, 0}}}));
       },
       "t.gltf: nodes[1]: expected values within single precision (a position, scale or point "
       "beyond 3.4e38)"},
      {"zero rotation",
       [](GltfBuilder& b) {
         b.Node({{"rotation", {0, 0, 0, 0}}});
       },
       "t.gltf: nodes[0].rotation: expected a rotation of non-zero length"},
      {"zero rotation key",
       [](GltfBuilder& b) {
         b.Animation("Spin", {{b.Node(json::object()), "rotation", b.Floats({0, 1}, "SCALAR"),
                               b.Floats({0, 0, 0, 1, 0, 0, 0, 0}, "VEC4")}});
       },
       "t.gltf: animations[0].samplers[0].output: expected rotations of non-zero length (key 1)"},
      {"16 M zeros from 1 kB",
       [](GltfBuilder& b) {
         b.doc["accessors"] = {{{"componentType", 5126}, {"count", 16777216}, {"type", "VEC3"}}};
       },
       "t.gltf: accessors[0]: expected an accessor without a bufferView to have no more elements "
       "than the file and its buffers have bytes (140)"},
      {"2^27 indices",
       [](GltfBuilder& b) {
         b.Indices({0, 1, 2});
         b.doc["accessors"][0]["count"] = 1 << 27;
       },
       "t.gltf: accessors[0]: expected 134217728 elements of 2 bytes within its bufferView's 6"},
      {"40 children over 360,001 frames",
       [](GltfBuilder& b) {
         const int root = b.Node(json::object());
         for (int i = 0; i < 40; ++i) b.Node(json::object(), root);
         b.Animation("Long", {{root, "translation", b.Floats({0, 15000}, "SCALAR"),
                               b.Floats({0, 0, 0, 1, 0, 0}, "VEC3")}});
       },
       "t.gltf: animations[0] (Long): 41 animated objects x 360001 keys would be more than the "
       "2000000 keys imported; import one animation (--animation) or at a lower --fps"},
      {"node cycle",
       [](GltfBuilder& b) {
         const int n = b.Node({{"name", "A"}});
         b.doc["nodes"][static_cast<std::size_t>(n)]["children"] = {n};
       },
       "t.gltf: nodes[0]: a node cycle (or a node under two parents)"},
      {"child 2^32 + 1 (node 1 in 32 bits)",
       [](GltfBuilder& b) {
         b.Node({{"children", {4294967297u}}});
         b.Node({{"name", "B"}});
       },
       "t.gltf: nodes[0].children: expected a node index from 0 to 1"},
      {"camera -2^32 (0 in 32 bits)",
       [](GltfBuilder& b) {
         b.doc["cameras"] = {
             {{"type", "perspective"}, {"perspective", {{"yfov", 0.5}, {"znear", 0.1}}}}};
         b.Node({{"camera", -4294967296ll}});
       },
       "t.gltf: nodes[0].camera: expected a camera index from 0 to 0"},
      {"indices out of range",
       [](GltfBuilder& b) {
         const int p = b.Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3");
         b.doc["meshes"] = json::array(
             {{{"primitives",
                {{{"attributes", {{"POSITION", p}}}, {"indices", b.Indices({0, 1, 7})}}}}}});
         b.Node({{"mesh", 0}});
       },
       "t.gltf: accessors[1]: expected indices below the primitive's 3 vertices"},
      {"positions not floats",
       [](GltfBuilder& b) {
         const int p = b.Indices({0, 1, 2});
         b.doc["accessors"][static_cast<std::size_t>(p)]["type"] = "VEC3";
         b.doc["accessors"][static_cast<std::size_t>(p)]["count"] = 1;
         b.doc["meshes"] = json::array({{{"primitives", {{{"attributes", {{"POSITION", p}}}}}}}});
         b.Node({{"mesh", 0}});
       },
       "t.gltf: accessors[0]: expected 32-bit floats (componentType 5126)"},
      {"a point not a number", [](GltfBuilder& b) { MeshOf(b, 21, std::nanf(""), 1); },
       "t.gltf: accessors[0]: expected finite numbers"},
      {"a point beyond single precision once scaled",
       [](GltfBuilder& b) { MeshOf(b, 21, 2e38f, 2); },
       "t.gltf: meshes[0]: expected values within single precision (a position, scale or point "
       "beyond 3.4e38)"},
      {"extras 65 levels deep",
       [](GltfBuilder& b) {
         json deep = json::array();
         for (int i = 0; i < 63; ++i) deep = json::array({deep});
         b.doc["extras"] = deep;
       },
       "t.gltf: extras[0][0][0]...[0][0]: nested deeper than 64 levels"},
  };
  for (const Row& r : rows) {
    GltfBuilder b;
    r.spoil(b);
    const auto imported = Import(b.DataUri());
    EXPECT_FALSE(imported) << r.label;
    EXPECT_EQ(imported.error, r.error) << r.label;
  }
  // Buffers that leave the folder, or are not files or data.
  for (const char* uri : {"/etc/passwd", "../outside.bin", "http://example.com/a.bin"}) {
    GltfBuilder b;
    b.Floats({0}, "SCALAR");
    const auto imported = Import(b.External(uri), "/tmp/scene/t.gltf");
    EXPECT_EQ(imported.error.rfind("/tmp/scene/t.gltf: buffers[0].uri: expected a", 0), 0u)
        << uri << ": " << imported.error;
  }
  EXPECT_EQ(Import("{not json").error.rfind("t.gltf: (document): not valid JSON", 0), 0u);
  // Not JSON where an image's data: URI stands (or, cut short, would).
  for (const std::string end : {"data:\\q\"}]}", "data:\x01\"}]}", "data:\xff\"}]}", ""})
    EXPECT_EQ(Import(R"({"asset":{"version":"2.0"},"images":[{"uri":")" + end)
                  .error.find("not valid JSON"),
              20u);
  for (const char version : {1, 3}) {
    std::string glb = PanOverRisingNull().Glb();
    glb[4] = version;
    EXPECT_EQ(Import(glb, "t.glb").error,
              version == 1 ? "t.glb: (document): glTF 1.0 is not read; export glTF 2.0"
                           : "t.glb: (document): GLB version 3 is not read; export glTF 2.0");
  }
  // The 64-byte BIN chunk against a buffer's byteLength, and a chunk whose
  // header claims more than the file holds.
  for (const auto& [length, claim, error] : std::vector<std::tuple<int, int, std::string>>{
           {68, 64,
            "(document): not valid glTF: Invalid `byteLength'. Must be equal or less than binary "
            "size: `byteLength' = 68, binary size = 64"},
           {68, 72,
            "buffers[0].byteLength: expected at most the 64 bytes the GLB's BIN chunk holds (its "
            "header says 72)"}}) {
    json doc = PanOverRisingNull().doc;
    doc["buffers"] = {{{"byteLength", length}}};
    EXPECT_EQ(Import(GlbOf(doc, PanOverRisingNull().bin, claim), "t.glb").error, "t.glb: " + error)
        << claim;
  }
}

// Buffers and images beside a shot, each named by a URI: only regular files
// inside the glTF's folder are read, and images never.
TEST(GltfImport, ReadsOnlyRegularFilesInsideItsFolder) {
  tq::testing::TempDir dir;
  const std::filesystem::path shot = dir.path() / "shot";
  std::filesystem::create_directories(shot / "sub");
  GltfBuilder b = PanOverRisingNull();
  tq::testing::WriteFile(dir / "secret.bin", b.bin);
  tq::testing::WriteFile(shot / "pan.bin", b.bin);
  std::filesystem::create_symlink(dir / "secret.bin", shot / "link.bin");
  ASSERT_EQ(::mkfifo((shot / "fifo.bin").c_str(), 0600), 0);
  const std::string outside = "expected a file inside the glTF's folder (" + shot.string() + ")";
  const std::string real = std::filesystem::canonical(dir.path()).string();
  struct Row {
    std::string buffer, image, error;  // error: what follows "buffers[0].uri: ", "" to import
  } rows[] = {
      {"pan.bin", "fifo.bin", ""},
      {"pan.bin", "%2e%2e/secret.bin", ""},
      {"pan.bin", "data:image/png;base64,AAAA", ""},
      {"p%61n.bin", "/dev/zero", ""},
      {"%2e%2e/secret.bin", "", outside + ", not ../secret.bin"},
      {"sub/%2e%2e/%2e%2e/secret.bin", "", outside + ", not sub/../../secret.bin"},
      {"link.bin", "", outside + "; 'link.bin' is " + real + "/secret.bin"},
      {"fifo.bin", "",
       "cannot read " + real +
           "/shot/fifo.bin: not a regular file (a FIFO or a "
           "device)"},
      {"sub", "", "cannot read " + real + "/shot/sub: a folder, not a file"},
      {"/dev/zero", "", "expected a data: URI or a file relative to the glTF's folder"},
      {"file:///etc/passwd", "", "expected a data: URI or a file relative to the glTF's folder"},
  };
  for (const Row& r : rows) {
    GltfBuilder with = b;
    if (!r.image.empty()) with.doc["images"] = {{{"uri", r.image}}};
    tq::testing::WriteFile(shot / "t.gltf", with.External(r.buffer));
    const auto imported = tq::scene::ImportGltfFile(shot / "t.gltf", {});
    EXPECT_EQ(imported.error,
              r.error.empty() ? "" : (shot / "t.gltf").string() + ": buffers[0].uri: " + r.error)
        << r.buffer << " " << r.image;
  }
  EXPECT_EQ(
      tq::scene::ImportGltfFile(shot / "fifo.bin", {}).error,
      (shot / "fifo.bin").string() + ": cannot read: not a regular file (a FIFO or a device)");
}

// A buffer that only an image uses (no accessor reads it) is never read or
// decoded: its data: URI may hold anything, even fewer bytes than it claims.
// Read by an accessor, the same buffer is decoded and refused.
TEST(GltfImport, NeverDecodesABufferOnlyAnImageUses) {
  const struct Row {
    std::string uri;
    bool read;  // an accessor reads it
  } rows[] = {{"data:image/png;base64,@@not base64@@", false},
              {"data:application/octet-stream;base64,AAAA", false},
              {"data:application/octet-stream;base64,AAAA", true}};
  for (const Row& r : rows) {
    json doc = json::parse(PanOverRisingNull().DataUri());
    doc["buffers"].push_back({{"byteLength", 1 << 20}, {"uri", r.uri}});
    const std::size_t view = doc["bufferViews"].size();
    doc["bufferViews"].push_back({{"buffer", 1}, {"byteLength", 1 << 20}});
    doc["images"] = {{{"bufferView", view}, {"mimeType", "image/png"}}};
    if (r.read)
      doc["accessors"].push_back(
          {{"bufferView", view}, {"componentType", 5126}, {"count", 1}, {"type", "SCALAR"}});
    EXPECT_EQ(Import(doc.dump()).error.empty(), !r.read) << r.uri << Import(doc.dump()).error;
  }
}

// An image in the buffer the animation's accessors read, 400 MiB of it (a
// hole in the file): only the accessors' views are read, in a GLB and in a
// glTF's buffer file alike, so the import's peak memory stays far below it.
// An image as a data: URI in the text is never copied: the peak stays below
// twice the file (the file, held, and the rest).
TEST(GltfImport, NeverReadsAnImagesBytes) {
  constexpr std::size_t kImage = std::size_t{400} << 20;
  tq::testing::TempDir dir;
  GltfBuilder b = PanOverRisingNull();
  while (b.bin.size() % 4 != 0) b.bin += '\0';
  GltfBuilder inText = b;
  inText.doc["images"] = {{{"uri", "data:image/png;base64," + std::string(32 << 20, 'A')}}};
  b.doc["bufferViews"].push_back(
      {{"buffer", 0}, {"byteOffset", b.bin.size()}, {"byteLength", kImage}});
  b.doc["images"] = {{{"bufferView", b.doc["bufferViews"].size() - 1}, {"mimeType", "image/png"}}};
  const struct Row {
    std::string file, text, holed;  // holed: the file the image is in, as a hole
    std::size_t most;               // peak bytes
  } rows[] = {{"shot.glb", b.Glb(kImage), "shot.glb", kImage / 4},
              {"shot.gltf", b.External("shot.bin", kImage), "shot.bin", kImage / 4},
              {"text.gltf", inText.DataUri(), "", std::size_t{64} << 20}};
  for (const Row& r : rows) {
    tq::testing::WriteFile(dir / r.file, r.text);
    if (!r.holed.empty() && r.holed != r.file) tq::testing::WriteFile(dir / r.holed, b.bin);
    if (!r.holed.empty())
      std::filesystem::resize_file(dir / r.holed,
                                   std::filesystem::file_size(dir / r.holed) + kImage);
    rusage before{}, used{};
    ::getrusage(RUSAGE_SELF, &before);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(tq::scene::ImportGltfFile(dir / r.file, {}).error.empty() ? 0 : 1);
    int status = -1;
    ASSERT_EQ(::wait4(child, &status, 0, &used), child);
    EXPECT_EQ(status, 0) << r.file;
    // In KiB; the child starts with this process's pages.
    EXPECT_LT(used.ru_maxrss - before.ru_maxrss, long(r.most / 1024)) << r.file;
  }
}

}  // namespace

namespace faithful {

Vector At(tq::scene::Scene& scene, const char* name, double frame, float fps = 24) {
  return Object(scene, name)
      ->GetTransform()
      ->GetTranslate()
      ->GetValue(tq::scene::RunFrameTicks(static_cast<float>(frame), fps));
}
bool Warned(const std::vector<std::string>& warnings, const std::string& text) {
  for (const std::string& w : warnings) {
    if (w.find(text) != std::string::npos) return true;
  }
  return false;
}
// A pointer channel: animation a's channel c aims at pointer.
void Point(GltfBuilder& b, int a, int c, const std::string& pointer) {
  b.doc["animations"][a]["channels"][c]["target"] = {
      {"path", "pointer"}, {"extensions", {{"KHR_animation_pointer", {{"pointer", pointer}}}}}};
}
const double kThird = 2 * std::atan(1.0 / 3.0);  // f = 35 at aspect 1.5 (see PanOverRisingNull)

}  // namespace faithful

// Each row a shot and what its import must hold, against values worked by
// hand from the glTF's own definitions.
TEST(GltfImport, FollowsWhatTheFileMeans) {
  using namespace faithful;
  struct Row {
    const char* label;
    std::function<void(GltfBuilder&)> build;
    std::function<void(tq::scene::Scene&, const std::vector<std::string>&)> check;
    std::optional<double> firstFrame = std::nullopt;
    bool camera = true;  // a camera added, so that only the row's own warnings show
  } rows[] = {
      {"a scaled mesh's points hold the scale; its centre sits on the mesh",
       [](GltfBuilder& b) {
         b.doc["meshes"] = {
             {{"primitives",
               {{{"attributes", {{"POSITION", b.Floats({1, 0, 0, 3, 0, 0, 2, 4, 0}, "VEC3")}}}}}}}};
         const int root = b.Node({{"scale", {100, 100, 100}}});
         b.Node({{"name", "M"}, {"mesh", 0}, {"scale", {1, 2, 1}}}, root);
       },
       [](tq::scene::Scene& s, const std::vector<std::string>& w) {
         auto* m = static_cast<HModel*>(Object(s, "M"));
         EXPECT_EQ(m->GetCache()->Point(2)->GetModelPosition(), Vector(200, 800, 0));
         EXPECT_EQ(m->GetTransform()->GetScale()->GetValue(0), Vector(1, 1, 1));
         EXPECT_EQ(m->GetChildGroupContainer()->GetChildGroup()->GetMatrix().GetTranslate(),
                   Vector(200, 800.0f / 3, 0));
         EXPECT_TRUE(w.empty());
       }},
      {"points over several blocks, scaled, one within single precision by less than the "
       "scale's rounding: triangles of them in turn; a centre the mean of the points as kept",
       [](GltfBuilder& b) {
         MeshOf(b, 40, 1e38f, EdgeScale());
         // Two primitives whose centres differ if unrounded products are summed.
         const float one = std::nextafter(1.0f, 2.0f), two = std::nextafter(one, 2.0f);
         for (const float x : {two, 1e38f}) {
           b.doc["meshes"][0]["primitives"].push_back(
               {{"attributes", {{"POSITION", b.Floats({one, one, one, x, two, two}, "VEC3")}}}});
         }
       },
       [](tq::scene::Scene& s, const std::vector<std::string>&) {
         auto* m = static_cast<HModel*>(Object(s, "M"));
         HModelCache* c = m->GetCache();
         GltfBuilder b;
         const std::vector<float> xyz = MeshOf(b, 40, 1e38f, EdgeScale());
         auto scaled = [](float v) { return static_cast<float>(v * EdgeScale()); };
         ASSERT_EQ(c->PointCount(), 44u);
         for (std::size_t i = 0; i < 40; ++i)
           EXPECT_EQ(c->Point(i)->GetModelPosition(),
                     Vector(scaled(xyz[3 * i]), scaled(xyz[3 * i + 1]), scaled(xyz[3 * i + 2])))
               << i;
         c->FindPatches();
         ASSERT_EQ(c->GetPatchCount(), 13);
         for (unsigned t = 0; t < 13; ++t) ExpectTriangle(c, t, 3 * t, 3 * t + 1, 3 * t + 2);
         const float one = std::nextafter(1.0f, 2.0f), two = std::nextafter(one, 2.0f);
         auto mean = [&](float a, float b) {
           return static_cast<float>((double{scaled(a)} + scaled(b)) / 2);
         };
         const HQuorObject* group = m->GetChildGroupContainer()->GetChildGroup()->GetSibling();
         for (const float x : {two, 1e38f}) {
           EXPECT_EQ(static_cast<const HGroup*>(group)->GetMatrix().GetTranslate(),
                     Vector(mean(one, x), mean(one, two), mean(one, two)));
           group = group->GetSibling();
         }
       }},
      {"a strip alternates its winding; a fan turns about its first point",
       [](GltfBuilder& b) {
         const int p = b.Floats(std::vector<float>(15, 1), "VEC3");
         b.doc["meshes"] = {{{"primitives",
                              {{{"attributes", {{"POSITION", p}}}, {"mode", 5}},
                               {{"attributes", {{"POSITION", p}}}, {"mode", 6}}}}}};
         b.Node({{"name", "M"}, {"mesh", 0}});
       },
       [](tq::scene::Scene& s, const std::vector<std::string>&) {
         HModelCache* c = static_cast<HModel*>(Object(s, "M"))->GetCache();
         c->FindPatches();
         // Strip 012 213 234, fan 012 023 034 (of its own points, after the strip's 5).
         const unsigned want[][3] = {{0, 1, 2}, {2, 1, 3}, {2, 3, 4},
                                     {5, 6, 7}, {5, 7, 8}, {5, 8, 9}};
         ASSERT_EQ(c->GetPatchCount(), 6);
         for (unsigned t = 0; t < 6; ++t) ExpectTriangle(c, t, want[t][0], want[t][1], want[t][2]);
       }},
      {"an animated scale is warned about",
       [](GltfBuilder& b) {
         b.doc["meshes"] = {
             {{"primitives", {{{"attributes", {{"POSITION", b.Floats({1, 0, 0}, "VEC3")}}}}}}}};
         b.Animation("Grow", {{b.Node({{"name", "M"}, {"mesh", 0}}), "scale",
                               b.Floats({0, 1}, "SCALAR"), b.Floats({2, 2, 2, 4, 4, 4}, "VEC3")}});
       },
       [](tq::scene::Scene& s, const std::vector<std::string>& w) {
         EXPECT_EQ(static_cast<HModel*>(Object(s, "M"))->GetCache()->Point(0)->GetModelPosition(),
                   Vector(2, 0, 0));
         EXPECT_EQ(Object(s, "M")->GetTransform()->GetScale()->GetValue(135000), Vector(2, 2, 2));
         EXPECT_TRUE(Warned(w, "nodes[0] (M): its scale is animated")) << w.size();
       }},
      {"a shear is warned about by node",
       [](GltfBuilder& b) {
         const int p = b.Node({{"scale", {1, 3, 1}}});
         b.Node({{"name", "Tilted"}, {"rotation", {0, 0, std::sin(M_PI / 8), std::cos(M_PI / 8)}}},
                p);
       },
       [](tq::scene::Scene&, const std::vector<std::string>& w) {
         ASSERT_EQ(w.size(), 1u);
         EXPECT_EQ(w[0].rfind("nodes[1] (Tilted): its world matrix is sheared at frame 0 ", 0), 0u)
             << w[0];
       }},
      {"a step stays a step between frames",
       [](GltfBuilder& b) {
         b.Animation("Jump",
                     {{b.Node({{"name", "A"}}), "translation", b.Floats({0, 1}, "SCALAR"),
                       b.Floats({0, 0, 0, 5, 0, 0}, "VEC3"), "STEP"},
                      {b.Node({{"name", "B"}}), "translation", b.Floats({0, 1.0f / 24}, "SCALAR"),
                       b.Floats({0, 0, 0, 0, 7, 0}, "VEC3"), "STEP"}});
       },
       [](tq::scene::Scene& s, const std::vector<std::string>&) {
         EXPECT_EQ(At(s, "A", 23.5), Vector(0, 0, 0));
         EXPECT_EQ(At(s, "A", 23.9999), Vector(0, 0, 0));
         EXPECT_EQ(At(s, "A", 24), Vector(5, 0, 0));
         // A key written at float(1 / 24), a little after frame 1, shows on frame 1.
         EXPECT_EQ(At(s, "B", 0.999), Vector(0, 0, 0));
         EXPECT_EQ(At(s, "B", 1), Vector(0, 7, 0));
       }},
      {"a run from frame 1.5 reads the curve at its own frames",
       [](GltfBuilder& b) {
         b.Animation("Dash",
                     {{b.Node({{"name", "A"}}), "translation", b.Floats({0, 0.05f, 1}, "SCALAR"),
                       b.Floats({0, 0, 0, 10, 0, 0, 10, 0, 0}, "VEC3")}});
       },
       [](tq::scene::Scene& s, const std::vector<std::string>&) {
         EXPECT_EQ(At(s, "A", 1.5), Vector(10, 0, 0));  // 0.0625 s, past the key at 0.05 s
         // Frame 0.5 is tick 2813 (2812.5 rounded), on the line from 0 to 10 over 0.05 s.
         EXPECT_EQ(At(s, "A", 0.5).x, static_cast<float>(10 * (2813 / 135000.0) / double{0.05f}));
       },
       1.5},
      {"a skinned mesh follows its root joint, not its own node",
       [](GltfBuilder& b) {
         b.doc["meshes"] = {
             {{"primitives", {{{"attributes", {{"POSITION", b.Floats({0, 0, 0}, "VEC3")}}}}}}}};
         const int hip = b.Node({{"name", "Hip"}, {"translation", {0, 0, 5}}});
         b.doc["skins"] = {{{"joints", {hip}},
                            {"inverseBindMatrices",
                             b.Floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -4, 1}, "MAT4")}}};
         b.Node({{"name", "Body"}, {"mesh", 0}, {"skin", 0}, {"translation", {100, 0, 0}}});
         b.Animation("Walk", {{hip, "translation", b.Floats({0, 1}, "SCALAR"),
                               b.Floats({0, 0, 5, 0, 2, 5}, "VEC3")}});
       },
       [](tq::scene::Scene& s, const std::vector<std::string>&) {
         EXPECT_EQ(At(s, "Body", 0), Vector(0, 0, 1));
         EXPECT_EQ(At(s, "Body", 12), Vector(0, 1, 1));
       }},
      {"rotations stored as normalized shorts",
       [](GltfBuilder& b) {
         const int out = b.Indices({0, 0, 0, 32767, 0, 32767, 0, 0});
         b.doc["accessors"][out].update(
             {{"componentType", 5122}, {"type", "VEC4"}, {"count", 2}, {"normalized", true}});
         b.Animation("Turn",
                     {{b.Node({{"name", "A"}}), "rotation", b.Floats({0, 1}, "SCALAR"), out}});
       },
       [](tq::scene::Scene& s, const std::vector<std::string>&) {
         const Quaternion q = Object(s, "A")->GetTransform()->GetRotate()->GetValue(135000);
         EXPECT_EQ(q.v.y, 1.0f);
         EXPECT_EQ(q.w, 0.0f);
       }},
      {"a zoom through KHR_animation_pointer is the focal length; an aspect change is warned",
       [](GltfBuilder& b) {
         b.doc["cameras"] = {
             {{"type", "perspective"},
              {"perspective", {{"yfov", kThird}, {"aspectRatio", 1.5}, {"znear", 1}}}}};
         b.doc["extensionsRequired"] = {"KHR_animation_pointer", "KHR_texture_transform"};
         const int cam = b.Node({{"name", "Cam"}, {"camera", 0}});
         const int t = b.Floats({0, 1}, "SCALAR");
         b.Animation(
             "Zoom",
             {{cam, "translation", t,
               b.Floats({static_cast<float>(kThird), static_cast<float>(2 * std::atan(1.0 / 6.0))},
                        "SCALAR")},
              {cam, "translation", t, b.Floats({1, 2}, "SCALAR")}});
         Point(b, 0, 0, "/cameras/0/perspective/yfov");
         Point(b, 0, 1, "/cameras/0/perspective/aspectRatio");
       },
       [](tq::scene::Scene& s, const std::vector<std::string>& w) {
         auto* cam = static_cast<HCamera*>(Object(s, "Cam"));
         EXPECT_NEAR(cam->GetFocalLength()->GetValue(0), 35, 1e-5);
         EXPECT_NEAR(cam->GetFocalLength()->GetValue(135000), 70, 1e-5);
         ASSERT_EQ(w.size(), 1u);
         EXPECT_EQ(w[0],
                   "animations[0].channels[1] animates /cameras/0/perspective/aspectRatio, which "
                   "is not read");
       }},
      {"warnings past the hundredth are counted, not kept; the want of a camera is said",
       [](GltfBuilder& b) {
         const int n = b.Node({{"name", "N"}});
         const int t = b.Floats({0, 1}, "SCALAR");
         b.Animation("Many", std::vector<GltfBuilder::Channel>(
                                 151, {n, "translation", t, b.Floats({1, 2, 3, 4, 5, 6}, "VEC3")}));
       },
       [](tq::scene::Scene&, const std::vector<std::string>& w) {
         ASSERT_EQ(w.size(), 102u);
         EXPECT_EQ(w[99],
                   "animations[0].channels[100] animates the translation of nodes[0] as "
                   "animations[0].channels[0] does; the first in the file is kept");
         EXPECT_EQ(w[100], "50 more warnings like these, not shown");
         EXPECT_EQ(w[101], tq::scene::kGltfNoCamera);
       },
       std::nullopt, false},
      {"a file without a camera says what to do; a long name is cut between characters",
       [](GltfBuilder& b) {
         std::string name = "a";
         for (int i = 0; i < 600; ++i) name += "\u00e9";
         b.Node({{"name", name}});
       },
       [](tq::scene::Scene& s, const std::vector<std::string>& w) {
         std::string name = "a";
         for (int i = 0; i < 503; ++i) name += "\u00e9";
         EXPECT_EQ(s.Chor()->GetChild()->GetName(), name);
         EXPECT_EQ(w, std::vector<std::string>{"the file has no camera; export the shot's camera "
                                               "with it (in Blender: Include > Cameras)"});
       },
       std::nullopt, false},
  };
  for (const Row& r : rows) {
    GltfBuilder b;
    r.build(b);
    if (r.camera && !b.doc.contains("cameras")) {
      b.doc["cameras"] = {{{"type", "perspective"}, {"perspective", {{"yfov", 1}, {"znear", 1}}}}};
      b.Node({{"name", "Shot camera"}, {"camera", 0}});
    }
    GltfOptions options;
    options.firstFrame = r.firstFrame;
    auto imported = Import(b.DataUri(), "t.gltf", options);
    ASSERT_TRUE(imported) << r.label << ": " << imported.error;
    SCOPED_TRACE(r.label);
    r.check(*imported->scene, imported->warnings);
  }
}

// Every animation with its frames at the rate asked, chosen or not.
TEST(GltfImport, ListsAnimationsWithTheirFrames) {
  GltfBuilder b;
  const int a = b.Node({{"name", "A"}});
  b.Animation("Walk", {{a, "translation", b.Floats({0, 2}, "SCALAR"),
                        b.Floats({0, 0, 0, 1, 0, 0}, "VEC3")}});
  b.Animation("",
              {{a, "scale", b.Floats({0.5f, 1}, "SCALAR"), b.Floats({1, 1, 1, 2, 2, 2}, "VEC3")}});
  GltfOptions options;
  options.fps = 23.976f;
  options.animation = "1";
  const auto imported = Import(b.DataUri(), "t.gltf", options);
  ASSERT_TRUE(imported) << imported.error;
  ASSERT_EQ(imported->animations.size(), 2u);
  EXPECT_EQ(imported->animations[0].name, "Walk");
  EXPECT_EQ(imported->animations[0].lastFrame, 48);   // 2 s x 23.976 = 47.95...
  EXPECT_EQ(imported->animations[1].firstFrame, 11);  // 11.98...
  EXPECT_EQ(imported->animations[1].lastFrame, 24);   // 23.976
}

// The bundled example is what its generator makes: regenerate it with
// TQ_WRITE_EXAMPLES=1 after changing ShotExample.
TEST(GltfImport, BundledShotIsTheGeneratorsOwn) {
  const std::string path = TQ_SOURCE_DIR "/examples/shot.gltf";
  const std::string made = tq::testing::ShotExample().DataUri() + "\n";
  if (std::getenv("TQ_WRITE_EXAMPLES") != nullptr) tq::testing::WriteFile(path, made);
  EXPECT_EQ(tq::testing::ReadFile(path), made);
  const auto imported = tq::scene::ImportGltfFile(path, {});
  ASSERT_TRUE(imported) << imported.error;
  EXPECT_TRUE(imported->warnings.empty());
  EXPECT_EQ(imported->scene->Chor()->GetChildCamera()->GetName(), std::string("Camera"));
  EXPECT_EQ(faithful::At(*imported->scene, "Ball", 24),
            Vector(-1.5f, 1.5f, 0));  // the first bounce
}
