// A scrub viewer of screen tracks: one self-contained HTML page (inline CSS
// and JavaScript, no network request, opens from file://) that shows the
// image frame (width by height, origin bottom-left as in the track file),
// the footage under it when a plate is given, each target's track as a path
// with a dot at the current frame, a slider over the frames, play and pause
// at the scene's rate, Left/Right to step and Home/End. Its element with id
// "readout" says "frame F  x X  y Y" with the file's values for the current
// frame; "#frame=N" in the address opens the page at frame N. Frames that
// could not be projected (saturated values) and frames behind the camera
// are marked on the path, on a strip under the slider and in the readout.
//
// The data goes into the page as JSON in a <script type="application/json">
// with '<', '>' and '&' written as \u escapes, and the page shows names
// through textContent only, so no name can become markup.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/app/Formats.h"

namespace tq::app {

// One target's track in a page.
struct HtmlTrack {
  std::string target;
  std::string mode;  // "model centre", "group Roof", "bone Spine"; "" for the origin
  std::vector<TrackPoint> points;
  std::vector<bool> behind;  // per point: behind the camera; a point not listed is not
};

// An image sequence as a page references it: the frame number, zero-padded
// to digits (printf's %0Nd: a '-' counts), between head and tail; digits is
// -1 for one still image. head and tail are relative URLs, already encoded.
struct PlatePattern {
  std::string head, tail;
  int digits = -1;
};

// A plate pattern as the user writes it ("plate.####.jpg", "plate.%04d.jpg",
// "shot/plate.%d.png", "still.jpg"); refused when it has more than one
// frame field or a '%' that is not %d, %0Nd or %%.
Result<PlatePattern> ParsePlate(const std::string& pattern);

struct HtmlPage {
  std::string camera;
  int width = 0, height = 0;
  double fps = 24;
  double startFrame = 0;  // the frame number of every track's line 0
  std::optional<PlatePattern> plate;
  std::vector<HtmlTrack> tracks;  // one colour and one legend row each
};

// True for a name ending in .html or .htm (any case).
bool IsHtmlPath(const std::string& path);
// True for a name ending in .svg (any case).
bool IsSvgPath(const std::string& path);

std::string RenderHtmlPreview(const HtmlPage& page);

}  // namespace tq::app
