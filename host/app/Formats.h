// A screen track in the import formats of compositors. The plug-in's own
// file stays as it is (line index, X, Y, whole pixels, origin bottom-left);
// these are copies made from it:
//
//   nuke   "frame x y" lines, origin bottom-left
//   ae     After Effects keyframe data as the clipboard carries it (tabs;
//          origin top-left: y' = height - y); needs the size and the rate
//   shake  TrackName, a column header, "Frame X Y Correlation" rows, three
//          decimals
//   3de    3DEqualizer's 2D points: count, name, colour, frame count, then
//          "frame x y" rows; whole frames from 1
//   csv    "frame,x,y" with a header line, origin bottom-left
//   json   {"width", "height", "fps", "name", "frames": [{"frame", "x", "y"}]}
//
// Frame numbers are the scene's: the start frame plus the line index, unless
// a first frame is given. Only 3de, which counts whole frames from 1, moves
// a track that starts below 1 so that it starts at 1.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "host/scene/Result.h"

namespace tq::app {

// One line of the plug-in's track: its index, and X and Y in pixels.
struct TrackPoint {
  int index;
  long x;
  long y;
};

// A frame the plug-in could not project: it writes the ends of the 32-bit
// range for it.
inline bool Unprojected(const TrackPoint& p) {
  auto edge = [](long v) { return v <= -2147483648L || v >= 2147483647L; };
  return edge(p.x) || edge(p.y);
}

// Reads the plug-in's "index TAB x TAB y" lines, indices counting from 0;
// anything else is refused with its line number.
scene::Result<std::vector<TrackPoint>> ReadTrack(const std::string& text);

enum class Format { kNuke, kAe, kShake, k3de, kCsv, kJson };

// What a track knows of its run.
struct TrackInfo;
// A track read back, with what its file knows.
struct Track;

// A compositor's format as one row: a new format is one row and one writer.
struct FormatInfo {
  Format format;
  const char* name;         // as --to and --also take it
  const char* application;  // who reads it
  const char* where;        // the one place in the compositor where it goes
  const char* summary;      // its line in tqhost convert --help
  bool needsSizeAndRate;    // width, height and fps
  bool needsFrames;         // refuses a track without frames
  bool wholeFramesFromOne;  // whole frames from 1: a track starting below 1 moves
  bool nameLine;            // the track's name on a line of its own
  void (*write)(std::ostream& out, const std::vector<TrackPoint>& points, const TrackInfo& info,
                double shift);
  // Reads a file of the format back, adding what it knows to info; null
  // for formats that are only written.
  scene::Result<Track> (*read)(const std::string& text, TrackInfo info);
};
const std::vector<FormatInfo>& Formats();
// The names, "nuke, ae, shake, 3de, csv, json" (with last, such as " or ",
// before the last one).
std::string FormatNames(const char* last = nullptr);
// The format of that name, or null.
const FormatInfo* FindFormat(const std::string& name);

// What a track knows of its run.
struct TrackInfo {
  std::optional<int> width, height;
  std::optional<double> fps;
  double startFrame = 0;             // the frame of line 0
  std::optional<double> firstFrame;  // overrides the start frame
  std::string name = "track";
};

struct Track {
  std::vector<TrackPoint> points;
  TrackInfo info;
};

// The track in a format; refused when the format needs a value the info
// lacks ("the ae format needs --width"), or frames and has none. A format
// that has to move the frames says so in note.
scene::Result<std::string> RenderTrack(Format format, const std::vector<TrackPoint>& points,
                                       const TrackInfo& info, std::string* note = nullptr);

// A frame number as every output prints it: plain decimals, never an
// exponent; whole frames without a decimal point; a frame that is a float
// as the shortest text that reads back as that float (299.69998, 23.976).
std::string FrameText(double frame);

// Reads a track: the plug-in's text, or a csv or json file made by
// RenderTrack (whose values are added to info); refused with the file, the
// line and the reason.
scene::Result<Track> ReadAnyTrack(const std::string& text, const std::string& fileName,
                                  TrackInfo info = {});

}  // namespace tq::app
