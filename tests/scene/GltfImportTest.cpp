#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/scene/GltfImport.h"
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

TEST(GltfImport, CameraPanningOverAnimatedNull) {
  auto imported = Import(PanOverRisingNull().DataUri());
  ASSERT_TRUE(imported) << imported.error;
  tq::scene::Scene& scene = *imported.scene;
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
  HBone* child = Object(*imported.scene, "Child");
  ExpectNear(child->GetTransform()->GetTranslate()->GetValue(12 * 5625), {1, 0, 0}, "child");
  ExpectNear(child->GetTransform()->GetTranslate()->GetValue(24 * 5625), {3, 0, 0}, "child end");
  const Quaternion q = child->GetTransform()->GetRotate()->GetValue(12 * 5625);
  EXPECT_NEAR(q.v.z, r, kTolerance);
  EXPECT_NEAR(q.w, r, kTolerance);
  // Objects depth first, parents before children.
  EXPECT_STREQ(imported.scene->Chor()->GetChild()->GetName(), "Parent");
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
  auto* model = static_cast<HModel*>(Object(*imported.scene, "Mesh"));
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
  auto* leg = static_cast<HModel*>(Object(*imported.scene, "Leg"));
  HBone* hip = leg->GetChildBoneContainer()->GetChildBone();
  ASSERT_NE(hip, nullptr);
  EXPECT_STREQ(hip->GetName(), "Hip");
  EXPECT_EQ(hip->GetPivot(), Vector(0, 0, 0));
  ASSERT_NE(hip->GetChildBone(), nullptr);
  EXPECT_STREQ(hip->GetChildBone()->GetName(), "Knee");
  EXPECT_EQ(hip->GetChildBone()->GetPivot(), Vector(0, 2, 0));
  EXPECT_EQ(hip->GetSiblingBone(), nullptr);
  // The joints are nulls of the choreography too.
  EXPECT_EQ(imported.scene->FindObject("Knee")->GetObjectType(), ObjectType::kNull);
}

// The same scene as a .gltf with a data: URI, a .gltf with an external .bin
// and a .glb imports to the same values.
TEST(GltfImport, BufferFormsGiveTheSameScene) {
  tq::testing::TempDir dir;
  GltfBuilder b = PanOverRisingNull();
  tq::testing::WriteFile(dir / "pan.bin", b.bin);
  tq::testing::WriteFile(dir / "pan.gltf", b.External("pan.bin"));
  tq::testing::WriteFile(dir / "pan.glb", b.Glb());
  tq::testing::WriteFile(dir / "inline.gltf", b.DataUri());
  std::vector<Vector> rises;
  for (const char* name : {"pan.gltf", "pan.glb", "inline.gltf"}) {
    auto imported = tq::scene::ImportGltfFile(dir / name, {});
    ASSERT_TRUE(imported) << imported.error;
    rises.push_back(
        Object(*imported.scene, "Target")->GetTransform()->GetTranslate()->GetValue(7 * 5625));
  }
  EXPECT_EQ(rises[0], rises[1]);
  EXPECT_EQ(rises[0], rises[2]);
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
  ASSERT_EQ(both.warnings.size(), 1u);
  EXPECT_NE(both.warnings[0].find("animations[1].channels[0]"), std::string::npos);
  ExpectNear(Object(*both.scene, "Box")->GetTransform()->GetTranslate()->GetValue(48 * 5625),
             {1, 0, 0}, "Walk wins");
  EXPECT_NE(both.scene->FindObject("Box.2"), nullptr);
  EXPECT_NE(both.scene->FindObject("node2"), nullptr);
  // One alone, by name or index.
  for (const char* pick : {"Run", "1"}) {
    GltfOptions options;
    options.animation = pick;
    auto run = Import(b.DataUri(), "t.gltf", options);
    ASSERT_TRUE(run) << run.error;
    ExpectNear(Object(*run.scene, "Box")->GetTransform()->GetTranslate()->GetValue(24 * 5625),
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
  ExpectNear(Object(*imported.scene, "A")->GetTransform()->GetTranslate()->GetValue(47 * 5625),
             {0, 0, 0}, "step");
  ExpectNear(Object(*imported.scene, "C")->GetTransform()->GetTranslate()->GetValue(24 * 5625),
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
       "t.gltf: extensionsRequired: the extension KHR_draco_mesh_compression is required, which "
       "this importer does not support (Draco compression)"},
      {"node cycle",
       [](GltfBuilder& b) {
         const int n = b.Node({{"name", "A"}});
         b.doc["nodes"][static_cast<std::size_t>(n)]["children"] = {n};
       },
       "t.gltf: nodes[0]: a node cycle (or a node under two parents)"},
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
}

}  // namespace
