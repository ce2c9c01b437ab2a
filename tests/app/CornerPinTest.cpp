// The corner pin of four hand-made tracks at start frame 10, 640 x 480, 24
// fps, 2 decimals: a rectangle from (100, 100) to (300, 250) moving right by
// 10.5 pixels a frame. Read back by a parser of Nuke's syntax and by the
// layout of After Effects' keyframe data, never by tqhost's own code.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/app/CornerPin.h"
#include "tests/app/NukeScript.h"

namespace {

using tq::app::Format;
using tq::app::PinCorner;
using tq::app::TrackPoint;

std::vector<PinCorner> Pin(int frames = 3) {
  const char* names[] = {"BL $(x)", "BR \"q\"", "TR {é}", "TL [1]"};
  const std::int64_t xs[] = {10000, 30000, 30000, 10000}, ys[] = {10000, 10000, 25000, 25000};
  std::vector<PinCorner> corners(4);
  for (int k = 0; k < 4; ++k) {
    auto& info = corners[k].track.info;
    info.width = 640;
    info.height = 480;
    info.fps = 24;
    info.startFrame = 10;
    info.name = names[k];
    for (int i = 0; i < frames; ++i)
      corners[k].track.points.push_back({i, 2, xs[k] + 1050 * i, ys[k]});
  }
  return corners;
}

std::string Text(const tq::Result<std::string>& r) {
  return r ? *r : "refused: " + r.error;
}

TEST(CornerPin, RefusesAPinThatCannotBe) {
  struct Row {
    void (*spoil)(std::vector<PinCorner>&);
    std::string error;
  } rows[] = {
      {[](auto& c) { c.pop_back(); }, "the corner pin needs its four corners, and 3 were tracked"},
      {[](auto& c) {
         c[2].behind = {false, true, true};
       },
       "the corner TR (TR {é}) is behind the camera at frame 11; a corner pin needs every corner "
       "in front"},
      {[](auto& c) { c[0].track.points[2].y = 2147483647LL * 100; },
       "the corner BL (BL $(x)) could not be projected at frame 12; a corner pin needs every "
       "corner in front"},
      // BR and TR swap places at frame 12: the pin crosses over.
      {[](auto& c) { std::swap(c[1].track.points[2].y, c[2].track.points[2].y); },
       "the corner pin folds at frame 12: its corners BL, BR, TR, TL cross over or stand in a "
       "line"},
      // BR on the line from BL to TR.
      {[](auto& c) {
         c[1].track.points[1] = {1, 2, 20000 + 1050, 17500};
       },
       "the corner pin folds at frame 11: its corners BL, BR, TR, TL cross over or stand in a "
       "line"},
  };
  for (const Row& r : rows) {
    std::vector<PinCorner> corners = Pin();
    r.spoil(corners);
    EXPECT_EQ(Text(tq::app::RenderCornerPin(Format::kNuke, corners, false)), "refused: " + r.error);
  }
  // Seen from behind, the pin is mirrored, not folded.
  std::vector<PinCorner> mirrored = Pin();
  std::swap(mirrored[0], mirrored[1]);
  std::swap(mirrored[2], mirrored[3]);
  EXPECT_TRUE(tq::app::RenderCornerPin(Format::kAe, mirrored, false));
}

TEST(CornerPin, NukeCornerPin2DHoldsTheFourTracks) {
  for (const bool fromImage : {false, true}) {
    const std::vector<PinCorner> corners = Pin();
    const std::string text = Text(tq::app::RenderCornerPin(Format::kNukeNode, corners, fromImage));
    const auto knobs = tq::testing::NukeNode(text, "CornerPin2D");
    EXPECT_EQ(knobs.at("label").text, "BL $(x), BR \"q\", TR {é}, TL [1]");
    const std::int64_t image[4][2] = {{0, 0}, {64000, 0}, {64000, 48000}, {0, 48000}};
    for (int k = 0; k < 4; ++k) {
      const auto& to = knobs.at("to" + std::to_string(k + 1)).list;
      const auto& from = knobs.at("from" + std::to_string(k + 1)).list;
      for (int axis = 0; axis < 2; ++axis) {
        const auto keys = tq::testing::NukeKeys(to.at(axis));
        ASSERT_EQ(keys.size(), 3u) << text;
        for (const TrackPoint& p : corners[k].track.points)
          EXPECT_EQ(tq::testing::NukeCounts(keys.at(10.0 + p.index), 2), axis ? p.y : p.x);
        const TrackPoint& first = corners[k].track.points[0];
        EXPECT_EQ(tq::testing::NukeCounts(from.at(axis).text, 2), fromImage ? image[k][axis]
                                                                  : axis    ? first.y
                                                                            : first.x);
      }
    }
  }
}

// Adobe's keyframe data: the header, then for each of the effect's points a
// line "Effects<TAB>Corner Pin #1<TAB>NAME #N", a column line, one row a
// frame (frame, X, Y from the top) and a blank line; then its end line.
TEST(CornerPin, AfterEffectsCornerPinKeyframeData) {
  const std::vector<PinCorner> corners = Pin();
  std::istringstream in(Text(tq::app::RenderCornerPin(Format::kAe, corners, false)));
  std::string line;
  for (const char* want : {"Adobe After Effects 8.0 Keyframe Data", "", "\tUnits Per Second\t24",
                           "\tSource Width\t640", "\tSource Height\t480",
                           "\tSource Pixel Aspect Ratio\t1", "\tComp Pixel Aspect Ratio\t1", ""}) {
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, want);
  }
  const std::pair<const char*, int> params[] = {
      {"Upper Left #2", 3}, {"Upper Right #3", 2}, {"Lower Left #4", 0}, {"Lower Right #5", 1}};
  for (const auto& [name, k] : params) {
    std::getline(in, line);
    EXPECT_EQ(line, std::string("Effects\tCorner Pin #1\t") + name);
    std::getline(in, line);
    EXPECT_EQ(line, "\tFrame\tX pixels\tY pixels\t");
    for (const TrackPoint& p : corners[k].track.points) {
      std::getline(in, line);
      std::istringstream row(line);
      std::string frame, x, y;
      std::getline(row, frame, '\t');  // the empty field before the first tab
      std::getline(row, frame, '\t');
      std::getline(row, x, '\t');
      std::getline(row, y, '\t');
      EXPECT_EQ(frame, std::to_string(10 + p.index));
      EXPECT_EQ(tq::testing::NukeCounts(x, 2), p.x);
      EXPECT_EQ(tq::testing::NukeCounts(y, 2), 48000 - p.y) << line;
    }
    std::getline(in, line);
    EXPECT_EQ(line, "");
  }
  std::getline(in, line);
  EXPECT_EQ(line, "");
  std::getline(in, line);
  EXPECT_EQ(line, "End of Keyframe Data");
  EXPECT_FALSE(std::getline(in, line));
  // One frame in full, as Adobe's layout spells it: Y from the top, 480 - 250
  // and 480 - 100.
  const std::string block = "\tFrame\tX pixels\tY pixels\t\n\t10\t";
  EXPECT_EQ(Text(tq::app::RenderCornerPin(Format::kAe, Pin(1), false)),
            "Adobe After Effects 8.0 Keyframe Data\n\n\tUnits Per Second\t24\n\tSource Width\t640\n"
            "\tSource Height\t480\n\tSource Pixel Aspect Ratio\t1\n\tComp Pixel Aspect Ratio\t1\n\n"
            "Effects\tCorner Pin #1\tUpper Left #2\n" +
                block + "100.00\t230.00\t\n\nEffects\tCorner Pin #1\tUpper Right #3\n" + block +
                "300.00\t230.00\t\n\nEffects\tCorner Pin #1\tLower Left #4\n" + block +
                "100.00\t380.00\t\n\nEffects\tCorner Pin #1\tLower Right #5\n" + block +
                "300.00\t380.00\t\n\n\nEnd of Keyframe Data\n");
}

}  // namespace
