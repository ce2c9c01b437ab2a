// A screen track in the import formats of compositors. The plug-in's own
// file stays as it is (line index, X, Y, whole pixels, origin bottom-left);
// these are copies made from it:
//
//   nuke   "frame x y" lines, origin bottom-left
//   ae     After Effects keyframe data as the clipboard carries it (tabs;
//          origin top-left: y' = height - y); needs the size and the rate
//   shake  TrackName, a column header, "Frame X Y Correlation" rows, frames
//          from 1, three decimals
//   3de    3DEqualizer's 2D points: count, name, colour, frame count, then
//          "frame x y" rows, frames from 1
//   csv    "frame,x,y" with a header line, origin bottom-left
//   json   {"width", "height", "fps", "name", "frames": [{"frame", "x", "y"}]}
//
// Frame numbers are the start frame plus the line index (a format that
// counts from 1 adds 1), unless a first frame is given.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tq::app {

// One line of the plug-in's track: its index, and X and Y in pixels.
struct TrackPoint {
  int index;
  long x;
  long y;
};

// Reads the plug-in's "index TAB x TAB y" lines, indices counting from 0;
// false (with the line number in error) on anything else.
bool ReadTrack(const std::string& text, std::vector<TrackPoint>& points, std::string& error);

enum class Format { kNuke, kAe, kShake, k3de, kCsv, kJson };

struct FormatInfo {
  Format format;
  const char* name;
  const char* where;  // the one place in the compositor where it goes
};
const std::vector<FormatInfo>& Formats();
// The format of that name, or null.
const FormatInfo* FindFormat(const std::string& name);

// What a track knows of its run.
struct TrackInfo {
  std::optional<int> width, height;
  std::optional<double> fps;
  double startFrame = 0;             // the frame of line 0
  std::optional<double> firstFrame;  // overrides the start frame (and the 1 of 1-based formats)
  std::string name = "track";
};

// The track in a format; "" with why in error when the format needs a value
// the info lacks ("the ae format needs --width"), or frames and has none.
std::string RenderTrack(Format format, const std::vector<TrackPoint>& points, const TrackInfo& info,
                        std::string& error);

// Reads a track: the plug-in's text, or a csv or json file made by
// RenderTrack (whose values also fill info). False with the file, the line
// and the reason in error.
bool ReadAnyTrack(const std::string& text, const std::string& fileName,
                  std::vector<TrackPoint>& points, TrackInfo& info, std::string& error);

}  // namespace tq::app
