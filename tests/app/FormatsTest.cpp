// Tracks in compositors' formats, each from the same hand-worked track:
// three lines at start frame 10 of a 640 x 480 image at 24 fps, "Ball".
//   line 0: (100, 50)   line 1: (-3, 470)   line 2: (120, 0)
// Frames: 10, 11, 12, the scene's, in every format. After Effects
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
       "   10.00       100.000        50.000         1.000\n"
       "   11.00        -3.000       470.000         1.000\n"
       "   12.00       120.000         0.000         1.000\n"},
      {Format::k3de,
       "1\nBall\n0\n3\n10 100.000000000000000 50.000000000000000\n"
       "11 -3.000000000000000 470.000000000000000\n12 120.000000000000000 0.000000000000000\n"},
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

// Where a format cannot hold the track as it is: 3DEqualizer counts whole
// frames from 1, and a name line holds no line break.
TEST(Formats, WhatAFormatCannotHold) {
  struct Row {
    Format format;
    double start;
    std::string name, begins, note, error;
  } rows[] = {
      {Format::k3de, 0, "Ball", "1\nBall\n0\n3\n1 100.",
       "frames moved by 1 so that the first is 1 (3DEqualizer counts from 1)", ""},
      {Format::k3de, -4, "Ball", "1\nBall\n0\n3\n1 100.",
       "frames moved by 5 so that the first is 1 (3DEqualizer counts from 1)", ""},
      {Format::k3de, 1, "Ball", "1\nBall\n0\n3\n1 100.", "", ""},
      {Format::kShake, 0, "Ball",
       "TrackName Ball\n   Frame             X             Y   Correlation\n    0.00", "", ""},
      {Format::k3de, 1.5, "Ball", "", "",
       "the 3de format needs whole frames, and the track starts at frame 1.5; start it on a whole "
       "frame (--start, or --first-frame in convert)"},
      {Format::k3de, 1, "Ball\n2", "", "",
       "the 3de format cannot hold a name with a line break or another control character; give "
       "--name a name without them"},
      {Format::kShake, 1, "Ball\r", "", "",
       "the shake format cannot hold a name with a line break or another control character; give "
       "--name a name without them"},
      {Format::kNuke, 0.5, "Ball\n2", "0.5 100 50\n", "", ""},
  };
  for (const Row& r : rows) {
    TrackInfo info = Info();
    info.startFrame = r.start;
    info.name = r.name;
    std::string error, note;
    const std::string text = tq::app::RenderTrack(r.format, kTrack, info, error, &note);
    EXPECT_EQ(text.substr(0, r.begins.size()), r.begins) << r.start;
    EXPECT_EQ(text.empty(), !r.error.empty()) << r.start;
    EXPECT_EQ(note, r.note) << r.start;
    EXPECT_EQ(error, r.error) << r.start;
  }
  // Rates print as the float they are: 23.976, not 23.97599983215332.
  TrackInfo film = Info();
  film.fps = static_cast<double>(23.976f);
  std::string error;
  EXPECT_NE(tq::app::RenderTrack(Format::kAe, kTrack, film, error).find("Second\t23.976\n"),
            std::string::npos);
  EXPECT_NE(tq::app::RenderTrack(Format::kJson, kTrack, film, error).find("\"fps\": 23.976,"),
            std::string::npos);
}

// A frame that could not be projected keeps its marker values when After
// Effects' Y is turned down.
TEST(Formats, UnprojectedFramesKeepTheirMarkers) {
  std::string error;
  const std::string ae = tq::app::RenderTrack(
      Format::kAe, {{0, -2147483648L, -2147483648L}, {1, 5, 80}}, Info(), error);
  EXPECT_NE(ae.find("\t10\t-2147483648\t-2147483648\t0\t\n\t11\t5\t400\t0"), std::string::npos)
      << ae;
}

TEST(Formats, FrameTextIsPlainAndShortest) {
  const std::pair<double, const char*> rows[] = {{1234567, "1234567"},
                                                 {1e15, "1000000000000000"},
                                                 {299.69998f, "299.69998"},
                                                 {12.5, "12.5"},
                                                 {-0.5, "-0.5"},
                                                 {0.1, "0.1"},
                                                 {static_cast<double>(0.1f), "0.1"},
                                                 {1e-5, "0.00001"},
                                                 {2e9 + 0.5, "2000000000.5"}};
  for (const auto& [frame, text] : rows) EXPECT_EQ(tq::app::FrameText(frame), text) << text;
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
