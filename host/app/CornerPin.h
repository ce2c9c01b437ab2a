// A corner pin from four tracks (tqhost export --corner-pin BL,BR,TR,TL): the
// tracks of four targets, in the order bottom-left, bottom-right, top-right,
// top-left, as one node a compositor takes whole: Nuke's CornerPin2D (to1 to
// to4 are the four corners in that order, in Nuke's bottom-left pixels) and
// the keyframe data of After Effects' Corner Pin effect (Upper Left, Upper
// Right, Lower Left, Lower Right, in its top-left pixels).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/app/Formats.h"
#include "host/app/Options.h"

namespace tq::app {

// The four corners of --corner-pin, each a target as --target takes it, in
// the order bottom-left, bottom-right, top-right, top-left, and where a Nuke
// pin's from points come from (--pin-from).
struct PinTargets {
  std::vector<std::string> corners;
  bool fromImage = false;  // the image's corners, not the four points at the first frame
};

// --corner-pin and --pin-from read; none without --corner-pin. Usage
// errors: --target or --all-targets beside it, not four corners, one given
// twice, --pin-from without it or not first-frame or image.
std::optional<PinTargets> ReadPinTargets(const OptionValues& a);

// Whether a copy of the format without {target} is the corner pin (nuke,
// nuke-node, ae).
bool WritesCornerPin(Format format);

// One corner: its track, the frames where its target is behind the camera,
// and its target as given.
struct PinCorner {
  Track track;
  std::vector<bool> behind;
};

// The pin in a format; refused with the reason: not four corners, a corner
// behind the camera or not projected on a frame, or corners that cross over
// (a pin that folds) on a frame, each naming the first such frame. from
// the image's corners (fromImage) or the four points at the first frame.
Result<std::string> RenderCornerPin(Format format, const std::vector<PinCorner>& corners,
                                    bool fromImage);

}  // namespace tq::app
