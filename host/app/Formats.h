// A screen track in the import formats of compositors. The plug-in's own
// file stays as it is (line index, X, Y, origin bottom-left; whole pixels,
// or as many decimals as the run asked for); these are copies made from it,
// each value with the decimals the track has:
//
//   nuke   "frame x y" lines, origin bottom-left
//   nuke-node  a Transform node to paste into Nuke's Node Graph: translate
//          animated by the track relative to its first frame, centre there
//   ae     After Effects keyframe data as the clipboard carries it (tabs;
//          origin top-left: y' = height - y); needs the size and the rate
//   shake  TrackName, a column header, "Frame X Y Correlation" rows, three
//          decimals (more when the track has more)
//   3de    3DEqualizer's 2D points: count, then for each point its name,
//          colour, frame count and "frame x y" rows with 15 decimals; frames
//          count from 1 at the shot's first frame
//   csv    "frame,x,y" with a header line, origin bottom-left
//   json   {"width", "height", "fps", "name", "frames": [{"frame", "x", "y"}]}
//
// Frame numbers are the scene's: the start frame plus the line index, unless
// a first frame is given. Only 3de, which numbers the images of a sequence
// from 1, counts from 1 at the track's first frame.
//
// Every format reads back (ReadAnyTrack) to the same points; a corner pin
// (CornerPin.h), four tracks in one file, is refused.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "host/fileio/Result.h"
#include "math/Rounding.h"

namespace tq::app {

// One line of the plug-in's track: its index, and X and Y in pixels as
// whole numbers of 10^-decimals of a pixel; every point of a track has the
// track's decimals (0 to 6).
struct TrackPoint {
  int index;
  int decimals;
  std::int64_t x;
  std::int64_t y;
};

// A frame the plug-in could not project: it writes the ends of the 32-bit
// range for it, with as many decimals as the others (2147483647.000).
inline bool Unprojected(const TrackPoint& p) {
  const std::int64_t scale = kTenTo[p.decimals];
  auto edge = [&](std::int64_t v) { return v <= INT32_MIN * scale || v >= INT32_MAX * scale; };
  return edge(p.x) || edge(p.y);
}

// A value of a point as text, exactly, with its decimals or, when more are
// asked for, zeros after them ("12.5" at 1 decimal is "12.500" at least 3).
std::string PixelText(std::int64_t value, int decimals, int atLeast = 0);
// A value of a point as the nearest double, for drawing.
inline double PixelDouble(std::int64_t value, int decimals) {
  return static_cast<double>(value) / static_cast<double>(kTenTo[decimals]);
}

// Reads the plug-in's "index TAB x TAB y" lines, indices counting from 0, X
// and Y whole or with up to 6 decimals and within the 32-bit range the
// plug-in writes; anything else is refused with its line number.
Result<std::vector<TrackPoint>> ReadTrack(const std::string& text);

enum class Format { kNuke, kNukeNode, kAe, kShake, k3de, kCsv, kJson };

// What a track knows of its run.
struct TrackInfo;
// A track read back, with what its file knows.
struct Track;

// A compositor's format as one row: a new format is one row and one writer.
struct FormatInfo {
  Format format;
  const char* name;               // as --to and --also take it
  const char* application;        // who reads it
  const char* where;              // the one place in the compositor where it goes
  const char* summary;            // its line in tqhost convert --help
  const char* copySuffix;         // ends a copy named after the track (--also FORMAT)
  bool needsSizeAndRate = false;  // width, height and fps
  bool needsFrames = false;       // refuses a track without frames
  bool framesFromOne = false;     // counts frames from 1 at the track's first frame
  bool nameLine = false;          // the track's name on a line of its own
  bool manyInOneFile = false;     // several tracks make one file (RenderTracks)
  void (*write)(std::ostream& out, const std::vector<TrackPoint>& points,
                const TrackInfo& info) = nullptr;
  // Reads a file of the format back, adding what it knows to info.
  Result<Track> (*read)(const std::string& text, TrackInfo info) = nullptr;
  // Whether a text is a file of the format, from its first bytes.
  bool (*looksLike)(const std::string& text) = nullptr;
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
// that numbers frames its own way says so in note ("3de frames 1.. are the
// shot's 1001..").
Result<std::string> RenderTrack(Format format, const std::vector<TrackPoint>& points,
                                const TrackInfo& info, std::string* note = nullptr);

// Several tracks in one file of a format that holds several (3de), in the
// order given, each with its own info; refused as RenderTrack refuses one.
Result<std::string> RenderTracks(Format format, const std::vector<Track>& tracks,
                                 std::string* note = nullptr);

// A frame number as every output prints it: plain decimals, never an
// exponent; whole frames without a decimal point; a frame that is a float
// as the shortest text that reads back as that float (299.69998, 23.976).
std::string FrameText(double frame);

// Reads a track: the plug-in's text, or a file of any format that reads
// back, made by RenderTrack (what the file knows is added to info); refused
// with the file, the line and the reason. Trailing zeros a format pads
// with (shake, 3de) are dropped: the track has the fewest decimals that
// hold its values.
Result<Track> ReadAnyTrack(const std::string& text, const std::string& fileName,
                           TrackInfo info = {});

}  // namespace tq::app
