// tqhost import and glTF shots.

#include <string>

#include <gtest/gtest.h>

#include "tests/fileio/TempDir.h"
#include "tests/scene/GltfBuilder.h"
#include "tests/app/Tqhost.h"

namespace {

using namespace tq::tqhost_test;

// A glTF shot straight to a track, worked by hand: the camera at the origin
// turns about Y from 0 to 90 degrees over a second (24 frames) while the null
// rises from (0, 0, -10) to (0, 5, -10); f = 35, 1920 x 1280, aspect 1.5.
//   frame 0:  the null on the axis: (960, 640).
//   frame 12: camera at 45 degrees, null at (0, 2.5, -10); in camera space
//             Y(-45) (0, 2.5, -10) = (7.071, 2.5, -7.071); d = 0.5 x -7.071
//             = -3.5355; X = 960 - (7.071 / -3.5355) x 960 = 2880;
//             Y = 640 - ((2.5 / -3.5355) x 1.5) x 640 = 640 + 678.8 -> 1319.
//   frame 24: camera at 90 degrees, the null in its image plane: saturated.
// Then the same scene imported to a scene file exports the same bytes.
TEST(Tqhost, GltfShotToTrackAndImportRoundTrip) {
  TempDir dir;
  tq::testing::GltfBuilder b = tq::testing::PanOverRisingNull();
  tq::testing::WriteFile(dir / "shot.bin", b.bin);
  tq::testing::WriteFile(dir / "shot.gltf", b.External("shot.bin"));

  const Result gltf = RunHost(dir, "export shot.gltf --target Target -o from-gltf.txt");
  ASSERT_EQ(gltf.status, 0) << gltf.err;
  EXPECT_EQ(gltf.out, "25 frames written to from-gltf.txt\n");
  const std::string track = ReadFile(dir / "from-gltf.txt");
  EXPECT_EQ(track.rfind("0\t960\t640\n", 0), 0u) << track;
  EXPECT_NE(track.find("\n12\t2880\t1319\n"), std::string::npos) << track;

  const Result import = RunHost(dir, "import shot.gltf -o shot.tqs.json");
  ASSERT_EQ(import.status, 0) << import.err;
  EXPECT_EQ(import.out, "2 objects imported to shot.tqs.json\n");
  const Result scene = RunHost(dir, "export shot.tqs.json --target Target -o from-scene.txt");
  ASSERT_EQ(scene.status, 0) << scene.err;
  EXPECT_EQ(ReadFile(dir / "from-scene.txt"), track);
  // A GLB of the same shot, and the same shot at another rate.
  tq::testing::WriteFile(dir / "shot.glb", b.Glb());
  const Result glb = RunHost(dir, "export shot.glb --target Target -o from-glb.txt");
  ASSERT_EQ(glb.status, 0) << glb.err;
  EXPECT_EQ(ReadFile(dir / "from-glb.txt"), track);
  const Result fps = RunHost(dir, "export shot.gltf --fps 30 --target Target -o at30.txt");
  EXPECT_EQ(fps.out, "31 frames written to at30.txt\n");
}

}  // namespace
