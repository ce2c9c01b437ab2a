// tqhost convert.
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/fileio/TempDir.h"
#include "tests/app/Tqhost.h"

namespace {

using namespace tq::tqhost_test;

// convert reads the plug-in's track, csv and json, and writes nothing from
// a bad track.
TEST(Tqhost, ConvertAndItsRefusals) {
  TempDir dir;
  tq::testing::WriteFile(dir / "t.txt", "0\t100\t50\n1\t-3\t470\n");
  const Result csv = RunHost(dir, "convert t.txt --to csv -o t.csv");
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(ReadFile(dir / "t.csv"), "frame,x,y\n0,100,50\n1,-3,470\n");
  const Result nuke = RunHost(dir, "convert t.csv --to nuke --first-frame 1001");
  EXPECT_EQ(nuke.out, "1001 100 50\n1002 -3 470\n");
  ASSERT_EQ(RunHost(dir, "convert t.txt --to nuke-node --first-frame -2 -o t.nk").status, 0);
  EXPECT_EQ(RunHost(dir, "convert t.nk --to nuke").out, "-2 100 50\n-1 -3 470\n");
  const Result ae = RunHost(dir, "convert t.txt --to ae -o t.ae");
  EXPECT_EQ(ae.status, 1);
  EXPECT_EQ(ae.err, "tqhost: t.txt: the ae format needs --fps\n");
  tq::testing::WriteFile(dir / "bad.txt", "0\t1\t2\nnot a line\n");
  const Result bad = RunHost(dir, "convert bad.txt --to csv -o bad.csv");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "tqhost: bad.txt: line 2 is not \"index<TAB>x<TAB>y\"\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir / "t.ae"));
  // Only what a track can be is read, and only values a track can hold.
  std::filesystem::create_directory(dir / "folder");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  tq::testing::WriteFile(dir / "nan.csv", "frame,x,y\nnan,1,2\n");
  tq::testing::WriteFile(dir / "huge.json",
                         R"({"width": 1e30, "height": 2, "fps": 24, "name": "n", "frames": []})");
  tq::testing::WriteFile(dir / "empty.txt", "");
  tq::testing::WriteFile(dir / "header.csv", "frame,x,y\n");
  tq::testing::WriteFile(dir / "gap.csv", "frame,x,y\n0,1,2\n10,3,4\n");
  tq::testing::WriteFile(dir / "long.csv", "frame,x,y\n0,1,2\n1,3,9223372036854775808\n");
  tq::testing::WriteFile(
      dir / "pin.ae.txt",
      "Adobe After Effects 8.0 Keyframe Data\n\n\tUnits Per Second\t24\n\tSource "
      "Width\t9\n\tSource Height\t9\n\n\n\nEffects\tCorner Pin #1\tUpper Left "
      "#2\n");
  const std::pair<std::string, std::string> refusals[] = {
      {"convert long.csv --to nuke",
       "tqhost: long.csv: line 3 has a value beyond a track's: X and Y are pixels from "
       "-2147483648 to 2147483647, with up to 6 decimals\n"},
      {"export scene.tqs.json --decimals 7",
       "tqhost: --decimals must be a whole number from 0 to 6, not '7'\nTry 'tqhost export "
       "--help'.\n"},
      {"export scene.tqs.json --decimals -1",
       "tqhost: --decimals must be a whole number from 0 to 6, not '-1'\nTry 'tqhost export "
       "--help'.\n"},
      {"export scene.tqs.json --decimals -0",
       "tqhost: --decimals must be a whole number from 0 to 6, not '-0'\nTry 'tqhost export "
       "--help'.\n"},
      {"export scene.tqs.json --decimals 2.0",
       "tqhost: --decimals must be a whole number from 0 to 6, not '2.0'\nTry 'tqhost export "
       "--help'.\n"},
      {"export scene.tqs.json --distortion division:0.1,0",
       "tqhost: --distortion: the lens model 'division' is not known; brown is "
       "(brown:K1,K2[,P1,P2[,K3]])\nTry 'tqhost export --help'.\n"},
      {"export scene.tqs.json --distortion brown:1,2,3",
       "tqhost: --distortion must be brown:K1,K2, brown:K1,K2,P1,P2 or brown:K1,K2,P1,P2,K3, not "
       "'1,2,3'\nTry 'tqhost export --help'.\n"},
      {"export scene.tqs.json --pixel-aspect -2",
       "tqhost: --pixel-aspect must give a pixel aspect from 0.01 to 100, not '-2'\nTry 'tqhost "
       "export --help'.\n"},
      {"export scene.tqs.json --distortion brown:1e308,0",
       "tqhost: --distortion must give distortion coefficients from -1000 to 1000, not "
       "'brown:1e308,0'\nTry 'tqhost export --help'.\n"},
      {"export scene.tqs.json --film-offset 0.1,inf",
       "tqhost: --film-offset must be X,Y (fractions of the image's width), not '0.1,inf'\nTry "
       "'tqhost export --help'.\n"},
      {"convert gap.csv --to nuke",
       "tqhost: gap.csv: line 3 has the frame 10; a track's frames follow one another (expected "
       "1)\n"},
      {"convert pin.ae.txt --to nuke",
       "tqhost: pin.ae.txt: a corner pin (After Effects' Corner Pin keyframe data) holds four "
       "tracks, and convert reads one; convert each corner's own track instead (export "
       "--corner-pin writes them with -o '{target}.txt')\n"},
      {"convert /dev/zero --to nuke", "tqhost: /dev/zero: not a regular file (a device)\n"},
      {"convert empty.txt --to csv -o e.csv",
       "tqhost: empty.txt: holds no frames, so there is no track to convert\n"},
      {"convert header.csv --to nuke",
       "tqhost: header.csv: holds no frames, so there is no track to convert\n"},
      {"convert folder --to nuke", "tqhost: folder: not a regular file (a folder)\n"},
      {"convert fifo --to nuke", "tqhost: fifo: not a regular file (a FIFO)\n"},
      {"convert t.txt --to nuke --first-frame 1e15",
       "tqhost: t.txt: the track's last frame would be 1000000000000001; frames are from -10^15 "
       "to 10^15\n"},
      {"convert nan.csv --to nuke", "tqhost: nan.csv: line 2 is not \"frame,x,y\"\n"},
      {"convert huge.json --to nuke",
       "tqhost: huge.json: not a track of the json format: width is not a whole number above 0\n"},
      {"convert t.txt --to ae --fps 0 --width 9 --height 9",
       "tqhost: --fps must be a number above 0, not '0'\nTry 'tqhost convert --help'.\n"},
      {"convert t.txt --to ae --fps inf --width 9 --height 9",
       "tqhost: --fps must be a number above 0, not 'inf'\nTry 'tqhost convert --help'.\n"},
      {"convert t.txt --to ae --fps 24 --width 1e10 --height 9",
       "tqhost: --width must be a whole number above 0\nTry 'tqhost convert --help'.\n"},
      {"convert t.txt --to json --fps 24 --width 9 --height 0",
       "tqhost: --height must be a whole number above 0\nTry 'tqhost convert --help'.\n"},
  };
  for (const auto& [args, says] : refusals) {
    const Result r = RunHost(dir, args);
    EXPECT_NE(r.status, 0) << args;
    EXPECT_EQ(r.err, says) << args;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "e.csv"));
}

}  // namespace
