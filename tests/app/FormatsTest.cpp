// Tracks in compositors' formats, each from the same hand-worked track:
// three lines at start frame 10 of a 640 x 480 image at 24 fps, "Ball".
//   line 0: (100, 50)   line 1: (-3, 470)   line 2: (120, 0)
// Frames: 10, 11, 12, the scene's, in every format. After Effects
// has Y down: 480 - 50 = 430, 480 - 470 = 10, 480 - 0 = 480.
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "host/app/Formats.h"
#include "tests/app/NukeScript.h"

namespace {

using tq::app::Format;
using tq::app::TrackInfo;
using tq::app::TrackPoint;

// A rendering as text, or "refused: " and why.
std::string Text(const tq::Result<std::string>& r) {
  return r ? *r : "refused: " + r.error;
}

const std::vector<TrackPoint> kTrack = {{0, 0, 100, 50}, {1, 0, -3, 470}, {2, 0, 120, 0}};
// The same with 3 decimals: (100.25, 50.5), (-0.25, 470.125), (120, 0.001);
// and with 6, (1.5, -2).
const std::vector<TrackPoint> kFine = {
    {0, 3, 100250, 50500}, {1, 3, -250, 470125}, {2, 3, 120000, 1}};
const std::vector<TrackPoint> kSix = {{0, 6, 1500000, -2000000}};

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
    const std::vector<TrackPoint>* track = &kTrack;
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
       "1\nBall\n0\n3\n1 100.000000000000000 50.000000000000000\n"
       "2 -3.000000000000000 470.000000000000000\n3 120.000000000000000 0.000000000000000\n"},
      // Translate relative to line 0's (100, 50), the centre there.
      {Format::kNukeNode,
       "set cut_paste_input [stack 0]\npush $cut_paste_input\nTransform {\n"
       " translate {{curve x10 0 -103 20} {curve x10 0 420 -50}}\n center {100 50}\n"
       " name Track_Ball\n label \"Ball\"\n selected true\n}\n"},
      {Format::kJson,
       "{\n \"width\": 640,\n \"height\": 480,\n \"fps\": 24.0,\n \"name\": \"Ball\",\n"
       " \"frames\": [\n  {\n   \"frame\": 10,\n   \"x\": 100,\n   \"y\": 50\n  },\n"
       "  {\n   \"frame\": 11,\n   \"x\": -3,\n   \"y\": 470\n  },\n"
       "  {\n   \"frame\": 12,\n   \"x\": 120,\n   \"y\": 0\n  }\n ]\n}\n"},
      // Every value with the track's decimals; After Effects' Y is 480 - y.
      {Format::kNuke, "10 100.250 50.500\n11 -0.250 470.125\n12 120.000 0.001\n", &kFine},
      {Format::kCsv, "frame,x,y\n10,100.250,50.500\n11,-0.250,470.125\n12,120.000,0.001\n", &kFine},
      {Format::kAe,
       "Adobe After Effects 8.0 Keyframe Data\n\n"
       "\tUnits Per Second\t24\n\tSource Width\t640\n\tSource Height\t480\n"
       "\tSource Pixel Aspect Ratio\t1\n\tComp Pixel Aspect Ratio\t1\n\n"
       "Transform\tPosition\n\tFrame\tX pixels\tY pixels\tZ pixels\t\n"
       "\t10\t100.250\t429.500\t0\t\n\t11\t-0.250\t9.875\t0\t\n\t12\t120.000\t479.999\t0\t\n"
       "\n\nEnd of Keyframe Data\n",
       &kFine},
      {Format::kShake,
       "TrackName Ball\n   Frame             X             Y   Correlation\n"
       "   10.00       100.250        50.500         1.000\n"
       "   11.00        -0.250       470.125         1.000\n"
       "   12.00       120.000         0.001         1.000\n",
       &kFine},
      {Format::kShake,
       "TrackName Ball\n   Frame             X             Y   Correlation\n"
       "   10.00      1.500000     -2.000000         1.000\n",
       &kSix},
      {Format::k3de,
       "1\nBall\n0\n3\n1 100.250000000000000 50.500000000000000\n"
       "2 -0.250000000000000 470.125000000000000\n3 120.000000000000000 0.001000000000000\n",
       &kFine},
      {Format::kNukeNode,
       "set cut_paste_input [stack 0]\npush $cut_paste_input\nTransform {\n"
       " translate {{curve x10 0.000 -100.500 19.750} {curve x10 0.000 419.625 -50.499}}\n"
       " center {100.250 50.500}\n name Track_Ball\n label \"Ball\"\n selected true\n}\n",
       &kFine},
      {Format::kJson,
       "{\n \"width\": 640,\n \"height\": 480,\n \"fps\": 24.0,\n \"name\": \"Ball\",\n"
       " \"frames\": [\n  {\n   \"frame\": 10,\n   \"x\": 1.500000,\n   \"y\": -2.000000\n  }\n "
       "]\n}\n",
       &kSix},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Text(tq::app::RenderTrack(r.format, *r.track, Info())), r.text)
        << tq::app::Formats()[static_cast<std::size_t>(r.format)].name;
  }
  // A first frame given: frames from it, in every format.
  TrackInfo first = Info();
  first.firstFrame = 1001;
  EXPECT_EQ(Text(tq::app::RenderTrack(Format::kNuke, kTrack, first)),
            "1001 100 50\n1002 -3 470\n1003 120 0\n");
  EXPECT_EQ(Text(tq::app::RenderTrack(Format::k3de, kTrack, first)).substr(11, 5), "1001 ");
}

// Where a format cannot hold the track as it is: 3DEqualizer counts whole
// frames from 1, and a name line holds no line break.
TEST(Formats, WhatAFormatCannotHold) {
  struct Row {
    Format format;
    double start;
    std::string name, begins, note, error;
  } rows[] = {
      {Format::k3de, 0, "Ball", "1\nBall\n0\n3\n1 100.", "3de frames 1.. are the shot's 0..", ""},
      {Format::k3de, -4, "Ball", "1\nBall\n0\n3\n1 100.", "3de frames 1.. are the shot's -4..", ""},
      {Format::k3de, 1, "Ball", "1\nBall\n0\n3\n1 100.", "", ""},
      {Format::k3de, 1001, "Ball", "1\nBall\n0\n3\n1 100.", "3de frames 1.. are the shot's 1001..",
       ""},
      {Format::k3de, 1.5, "Ball", "1\nBall\n0\n3\n1 100.", "3de frames 1.. are the shot's 1.5..",
       ""},
      {Format::kShake, 0, "Ball",
       "TrackName Ball\n   Frame             X             Y   Correlation\n    0.00", "", ""},
      {Format::k3de, 1, "Ball\n2", "", "",
       "the 3de format cannot hold a name with a line break or another control character; give "
       "--name a name without them"},
      {Format::kShake, 1, "Ball\r", "", "",
       "the shake format cannot hold a name with a line break or another control character; give "
       "--name a name without them"},
      {Format::kNuke, 0.5, "Ball\n2", "0.5 100 50\n", "", ""},
      {Format::kNukeNode, 0.5, "",
       "set cut_paste_input [stack 0]\npush $cut_paste_input\n"
       "Transform {\n translate {{curve x0.5 0 ",
       "", ""},
      // A byte that is not UTF-8, as a file's name may hold, shows as U+FFFD.
      {Format::kJson, 0, "a\xff",
       "{\n \"width\": 640,\n \"height\": 480,\n \"fps\": 24.0,\n \"name\": "
       "\"a\xef\xbf\xbd\"",
       "", ""},
  };
  for (const Row& r : rows) {
    TrackInfo info = Info();
    info.startFrame = r.start;
    info.name = r.name;
    std::string note;
    const auto text = tq::app::RenderTrack(r.format, kTrack, info, &note);
    EXPECT_EQ(text ? text->substr(0, r.begins.size()) : "", r.begins) << r.start;
    EXPECT_EQ(note, r.note) << r.start;
    EXPECT_EQ(text.error, r.error) << r.start;
  }
  // Rates print as the float they are: 23.976, not 23.97599983215332.
  TrackInfo film = Info();
  film.fps = static_cast<double>(23.976f);
  EXPECT_NE(Text(tq::app::RenderTrack(Format::kAe, kTrack, film)).find("Second\t23.976\n"),
            std::string::npos);
  EXPECT_NE(Text(tq::app::RenderTrack(Format::kJson, kTrack, film)).find("\"fps\": 23.976,"),
            std::string::npos);
}

// A frame that could not be projected keeps its marker values when After
// Effects' Y is turned down.
TEST(Formats, UnprojectedFramesKeepTheirMarkers) {
  const std::string ae = Text(tq::app::RenderTrack(
      Format::kAe, {{0, 0, -2147483648L, -2147483648L}, {1, 0, 5, 80}}, Info()));
  EXPECT_NE(ae.find("\t10\t-2147483648\t-2147483648\t0\t\n\t11\t5\t400\t0"), std::string::npos)
      << ae;
}

// The Transform read by a parser of Nuke's own syntax: its centre plus its
// translate curve is the track at every frame, and the track's name comes
// back as it is, whatever it holds (from convert's reader too).
TEST(Formats, NukeNodeReadsAsTheTrack) {
  for (const std::string name :
       {"Ball 1", "say \"hi\" $(rm -rf x) [exit] {a} \\", "Écran\tα\n", "3D"}) {
    for (const auto* track : {&kTrack, &kFine, &kSix}) {
      TrackInfo info = Info();
      info.name = name;
      info.startFrame = 1000.5;
      const std::string text = Text(tq::app::RenderTrack(Format::kNukeNode, *track, info));
      const auto knobs = tq::testing::NukeNode(text, "Transform");
      EXPECT_EQ(knobs.at("label").text, name);
      const auto back = tq::app::ReadAnyTrack(text, "t.nk");  // and tqhost's reader
      ASSERT_TRUE(back) << back.error;
      EXPECT_EQ(back->info.name, name);
      // A node name: letters, digits and '_', no digit first.
      const std::string node = knobs.at("name").text;
      EXPECT_EQ(node.find_first_not_of("_0123456789abcdefghijklmnopqrstuvwxyz"
                                       "ABCDEFGHIJKLMNOPQRSTUVWXYZ"),
                std::string::npos);
      EXPECT_TRUE(node[0] < '0' || node[0] > '9') << node;
      const int d = track->front().decimals;
      const auto& center = knobs.at("center").list;
      const auto xs = tq::testing::NukeKeys(knobs.at("translate").list.at(0));
      const auto ys = tq::testing::NukeKeys(knobs.at("translate").list.at(1));
      ASSERT_EQ(xs.size(), track->size());
      ASSERT_EQ(ys.size(), track->size());
      for (const TrackPoint& p : *track) {
        const double frame = 1000.5 + p.index;
        EXPECT_EQ(tq::testing::NukeCounts(center.at(0).text, d) +
                      tq::testing::NukeCounts(xs.at(frame), d),
                  p.x);
        EXPECT_EQ(tq::testing::NukeCounts(center.at(1).text, d) +
                      tq::testing::NukeCounts(ys.at(frame), d),
                  p.y);
      }
    }
  }
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

// Every format reads back to the same values and what its file knows (the
// Nuke node as its centre plus its translate); the zeros shake (to 3 decimals) and 3de (to 15) pad
// with are dropped, giving the fewest decimals that hold the values. Written again, the same bytes.
TEST(Formats, EveryFormatReadsBack) {
  // kSix at 1 decimal: (1.5, -2).
  const std::vector<TrackPoint> kSixShort = {{0, 1, 15, -20}};
  struct Row {
    Format format;
    const std::vector<TrackPoint>& track;
    const std::vector<TrackPoint>& back;
    double start;  // 3de counts from 1
  } rows[] = {
      {Format::kCsv, kTrack, kTrack, 10},    {Format::kJson, kTrack, kTrack, 10},
      {Format::kCsv, kFine, kFine, 10},      {Format::kCsv, kSix, kSix, 10},
      {Format::kNuke, kFine, kFine, 10},     {Format::kNuke, kSix, kSix, 10},
      {Format::kAe, kTrack, kTrack, 10},     {Format::kAe, kFine, kFine, 10},
      {Format::kShake, kTrack, kTrack, 10},  {Format::kShake, kFine, kFine, 10},
      {Format::kShake, kSix, kSix, 10},      {Format::k3de, kTrack, kTrack, 1},
      {Format::k3de, kFine, kFine, 1},       {Format::k3de, kSix, kSixShort, 1},
      {Format::kJson, kFine, kFine, 10},     {Format::kNukeNode, kTrack, kTrack, 10},
      {Format::kNukeNode, kFine, kFine, 10}, {Format::kNukeNode, kSix, kSix, 10},
  };
  for (const Row& r : rows) {
    const std::string name = tq::app::Formats()[static_cast<std::size_t>(r.format)].name;
    const std::string text = Text(tq::app::RenderTrack(r.format, r.track, Info()));
    const auto track = tq::app::ReadAnyTrack(text, "t");
    ASSERT_TRUE(track) << name << ": " << track.error;
    const std::vector<TrackPoint>& points = track->points;
    ASSERT_EQ(points.size(), r.back.size()) << name;
    for (std::size_t i = 0; i < points.size(); ++i) {
      EXPECT_EQ(std::tie(points[i].index, points[i].decimals, points[i].x, points[i].y),
                std::tie(r.back[i].index, r.back[i].decimals, r.back[i].x, r.back[i].y))
          << name << " line " << i;
    }
    EXPECT_EQ(track->info.startFrame, r.start) << name;
    TrackInfo again = Info();
    again.startFrame = track->info.startFrame;
    EXPECT_EQ(Text(tq::app::RenderTrack(r.format, points, again)), text) << name;
  }
}

// The plug-in's text at every number of decimals, read as exactly what it
// says; a value with fewer decimals than another is brought to the most.
TEST(Formats, PluginTextReadsAtEveryDecimals) {
  struct Row {
    std::string text;
    std::vector<TrackPoint> points;
  } rows[] = {
      {"0\t-2147483648\t2147483647\n", {{0, 0, -2147483648L, 2147483647L}}},
      {"0\t-0.5\t0.0\n", {{0, 1, -5, 0}}},
      {"0\t1.25\t-0.01\n1\t3\t4\n", {{0, 2, 125, -1}, {1, 2, 300, 400}}},
      {"0\t1\t2\n1\t0.001\t-0.0001", {{0, 4, 10000, 20000}, {1, 4, 10, -1}}},
      {"0\t-2147483648.00000\t7.12345\n", {{0, 5, -214748364800000L, 712345}}},
      {"0\t2147483646.999999\t-0.000001\n", {{0, 6, 2147483646999999L, -1}}},
  };
  for (const Row& r : rows) {
    const auto track = tq::app::ReadAnyTrack(r.text, "t.txt");
    ASSERT_TRUE(track) << track.error;
    ASSERT_EQ(track->points.size(), r.points.size()) << r.text;
    for (std::size_t i = 0; i < r.points.size(); ++i) {
      const TrackPoint &got = track->points[i], &want = r.points[i];
      EXPECT_EQ(std::tie(got.index, got.decimals, got.x, got.y),
                std::tie(want.index, want.decimals, want.x, want.y))
          << r.text;
    }
  }
}

TEST(Formats, RefusalsNameTheFileLineAndFlag) {
  struct Row {
    std::string text;
    std::string error;
  } rows[] = {
      {"0\t1\t2\n1\t2\n", "t.txt: line 2 is not \"index<TAB>x<TAB>y\""},
      {"0\t1\t2\n2\t2\t3\n", "t.txt: line 2 has the index 2; indices count from 0 (expected 1)"},
      {"0\t1.5\t2.\n", "t.txt: line 1 is not \"index<TAB>x<TAB>y\""},
      {"0\t1.5\t2.1234567\n",
       "t.txt: line 1 has a value beyond a track's: X and Y are pixels "
       "from -2147483648 to 2147483647, with up to 6 decimals"},
      {"0\t2147483647.5\t2\n",
       "t.txt: line 1 has a value beyond a track's: X and Y are pixels "
       "from -2147483648 to 2147483647, with up to 6 decimals"},
      {"frame,x,y\n1,2\n", "t.txt: line 2 is not \"frame,x,y\""},
      {"frame,x,yz\n1,2,3\n", "t.txt: line 1 is not \"frame,x,y\""},
      {"0\t1\t2\r\n",
       "t.txt: line 1 ends in a carriage return (a Windows line end); a track's "
       "lines end in a line feed alone"},
      {"frame,x,y\n1e17,1,2\n1e17,3,4\n",
       "t.txt: line 2 has the frame 100000000000000000; frames are from -10^15 to 10^15"},
      {"{\"width\": 9, \"height\": 9, \"fps\": 24, \"name\": \"n\", \"frames\": null}",
       "t.txt: not a track of the json format: frames is not an array"},
      {"{\"a\": " + std::string(17, '[') + std::string(17, ']') + "}",
       "t.txt: not a track of the json format: it nests deeper than 16 levels"},
      {"frame,x,y\n1,2,3\n2,99999999999999999999,3\n",
       "t.txt: line 3 has a value beyond a track's: X and Y are pixels from -2147483648 to "
       "2147483647, with up to 6 decimals"},
      {"10 1 2\n12 1 2\n",
       "t.txt: line 2 has the frame 12; a track's frames follow one another (expected 11)"},
      {"TrackName B\n   Frame             X             Y   Correlation\n 1.00 2.000 3\n",
       "t.txt: line 3 is not \"Frame X Y Correlation\""},
      {"2\nA\n0\n1\n1 2 3\nB\n0\n1\n1 2 3\n",
       "t.txt: the file holds 2 points; a track is one (convert reads a file of one point)"},
      {"1\nA\n0\n3\n1 2 3\n2 2 3\n", "t.txt: the file ends before its 3 rows"},
      {"Transform {\n translate {{curve x7 0 1 x10 2} 0}\n center {4 5}\n}\n",
       "t.txt: the Transform's translate x has a key at frame 10; a track's frames follow one "
       "another (expected 9)"},
      {"Transform {\n translate {{curve x7 0 1} 4294967295}\n center {4 5}\n}\n",
       "t.txt: the Transform's center plus translate at frame 7 is beyond a track's: X and Y are "
       "pixels from -2147483648 to 2147483647"},
      {"Transform {\n translate {{curve x1 \x1b[2J" + std::string(40, '9') +
           "} 0}\n center {4 5}\n}",
       "t.txt: the Transform's translate x has '?[2J" + std::string(28, '9') +
           "...' where a key's value goes"},
      {"Transform {\n translate {0 {curve x1e15 1 2}}\n center {4 5}\n}\n",
       "t.txt: the Transform's translate y has a key at frame 1000000000000001; frames are from "
       "-10^15 to 10^15"},
      {"set cut_paste_input [stack 0]\nCornerPin2D {\n to1 {1 2}\n}\n",
       "t.txt: a corner pin (Nuke's CornerPin2D) holds four tracks, and convert reads one; "
       "convert each corner's own track instead (export --corner-pin writes them with -o "
       "'{target}.txt')"},
  };
  for (const Row& r : rows) {
    const auto track = tq::app::ReadAnyTrack(r.text, "t.txt");
    EXPECT_FALSE(track);
    EXPECT_EQ(track.error, r.error);
  }
  TrackInfo bare;
  EXPECT_EQ(Text(tq::app::RenderTrack(Format::kAe, kTrack, bare)),
            "refused: the ae format needs --fps");
  bare.fps = 24;
  EXPECT_EQ(Text(tq::app::RenderTrack(Format::kJson, kTrack, bare)),
            "refused: the json format needs --width");
  EXPECT_EQ(Text(tq::app::RenderTrack(Format::kShake, {}, Info())),
            "refused: the shake format needs frames, and the track has none");
  EXPECT_EQ(Text(tq::app::RenderTrack(Format::kNuke, {}, Info())), "");
}

}  // namespace
