// Tracks in compositors' formats, each from the same hand-worked track:
// three lines at start frame 10 of a 640 x 480 image at 24 fps, "Ball".
//   line 0: (100, 50)   line 1: (-3, 470)   line 2: (120, 0)
// Frames: 10, 11, 12; shake and 3de count from 1: 11, 12, 13. After Effects
// has Y down: 480 - 50 = 430, 480 - 470 = 10, 480 - 0 = 480.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/app/Formats.h"

namespace {

using tq::app::Format;
using tq::app::TrackInfo;
using tq::app::TrackPoint;

const std::vector<TrackPoint> kTrack = {{0, 100, 50}, {1, -3, 470}, {2, 120, 0}};

TrackInfo Info() {
  TrackInfo info;
  info.width = 640;
  info.height = 480;
  info.fps = 24;
  info.startFrame = 10;
  info.name = "Ball";
  return info;
}

TEST(Formats, GoldenFilesFromAHandWorkedTrack) {
  struct Row {
    Format format;
    std::string text;
  } rows[] = {
      {Format::kNuke, "10 100 50\n11 -3 470\n12 120 0\n"},
      {Format::kCsv, "frame,x,y\n10,100,50\n11,-3,470\n12,120,0\n"},
      {Format::kAe,
       "Adobe After Effects 8.0 Keyframe Data\n\n"
       "\tUnits Per Second\t24\n\tSource Width\t640\n\tSource Height\t480\n"
       "\tSource Pixel Aspect Ratio\t1\n\tComp Pixel Aspect Ratio\t1\n\n"
       "Transform\tPosition\n\tFrame\tX pixels\tY pixels\tZ pixels\t\n"
       "\t10\t100\t430\t0\t\n\t11\t-3\t10\t0\t\n\t12\t120\t480\t0\t\n\n\nEnd of Keyframe Data\n"},
      {Format::kShake,
       "TrackName Ball\n   Frame             X             Y   Correlation\n"
       "   11.00       100.000        50.000         1.000\n"
       "   12.00        -3.000       470.000         1.000\n"
       "   13.00       120.000         0.000         1.000\n"},
      {Format::k3de,
       "1\nBall\n0\n3\n11 100.000000000000000 50.000000000000000\n"
       "12 -3.000000000000000 470.000000000000000\n13 120.000000000000000 0.000000000000000\n"},
      {Format::kJson,
       "{\n \"width\": 640,\n \"height\": 480,\n \"fps\": 24.0,\n \"name\": \"Ball\",\n"
       " \"frames\": [\n  {\n   \"frame\": 10.0,\n   \"x\": 100,\n   \"y\": 50\n  },\n"
       "  {\n   \"frame\": 11.0,\n   \"x\": -3,\n   \"y\": 470\n  },\n"
       "  {\n   \"frame\": 12.0,\n   \"x\": 120,\n   \"y\": 0\n  }\n ]\n}\n"},
  };
  for (const Row& r : rows) {
    std::string error;
    EXPECT_EQ(tq::app::RenderTrack(r.format, kTrack, Info(), error), r.text)
        << tq::app::Formats()[static_cast<std::size_t>(r.format)].name;
    EXPECT_EQ(error, "");
  }
  // A first frame given: frames from it, in every format.
  TrackInfo first = Info();
  first.firstFrame = 1001;
  std::string error;
  EXPECT_EQ(tq::app::RenderTrack(Format::kNuke, kTrack, first, error),
            "1001 100 50\n1002 -3 470\n1003 120 0\n");
  EXPECT_EQ(tq::app::RenderTrack(Format::k3de, kTrack, first, error).substr(11, 5), "1001 ");
}

// csv and json read back to the same track and what it knows.
TEST(Formats, CsvAndJsonReadBack) {
  for (const Format format : {Format::kCsv, Format::kJson}) {
    std::string error;
    const std::string text = tq::app::RenderTrack(format, kTrack, Info(), error);
    std::vector<TrackPoint> points;
    TrackInfo info;
    ASSERT_TRUE(tq::app::ReadAnyTrack(text, "t", points, info, error)) << error;
    ASSERT_EQ(points.size(), kTrack.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
      EXPECT_EQ(points[i].index, kTrack[i].index);
      EXPECT_EQ(points[i].x, kTrack[i].x);
      EXPECT_EQ(points[i].y, kTrack[i].y);
    }
    EXPECT_EQ(info.startFrame, 10.0);
    // Written again, the same bytes.
    EXPECT_EQ(tq::app::RenderTrack(format, points, format == Format::kJson ? info : Info(), error),
              text);
  }
}

TEST(Formats, RefusalsNameTheFileLineAndFlag) {
  struct Row {
    std::string text;
    std::string error;
  } rows[] = {
      {"0\t1\t2\n1\t2\n", "t.txt: line 2 is not \"index<TAB>x<TAB>y\""},
      {"0\t1\t2\n2\t2\t3\n", "t.txt: line 2 has the index 2; indices count from 0 (expected 1)"},
      {"0\t1.5\t2\n", "t.txt: line 1 is not \"index<TAB>x<TAB>y\""},
      {"frame,x,y\n1,2\n", "t.txt: line 2 is not \"frame,x,y\""},
  };
  for (const Row& r : rows) {
    std::vector<TrackPoint> points;
    TrackInfo info;
    std::string error;
    EXPECT_FALSE(tq::app::ReadAnyTrack(r.text, "t.txt", points, info, error));
    EXPECT_EQ(error, r.error);
  }
  TrackInfo bare;
  std::string error;
  EXPECT_EQ(tq::app::RenderTrack(Format::kAe, kTrack, bare, error), "");
  EXPECT_EQ(error, "the ae format needs --fps");
  bare.fps = 24;
  tq::app::RenderTrack(Format::kJson, kTrack, bare, error);
  EXPECT_EQ(error, "the json format needs --width");
  EXPECT_EQ(tq::app::RenderTrack(Format::kShake, {}, Info(), error), "");
  EXPECT_EQ(error, "the shake format needs frames, and the track has none");
  EXPECT_EQ(tq::app::RenderTrack(Format::kNuke, {}, Info(), error), "");
  EXPECT_EQ(error, "");
}

}  // namespace
