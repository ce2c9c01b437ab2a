// A corner pin from four tracks (tqhost export --corner-pin BL,BR,TR,TL): the
// tracks of four targets, in the order bottom-left, bottom-right, top-right,
// top-left, as one node a compositor takes whole: Nuke's CornerPin2D (to1 to
// to4 are the four corners in that order, in Nuke's bottom-left pixels) and
// the keyframe data of After Effects' Corner Pin effect (Upper Left, Upper
// Right, Lower Left, Lower Right, in its top-left pixels).
#pragma once

#include <string>
#include <vector>

#include "host/app/Formats.h"
#include "host/app/Options.h"

namespace tq::app {

// The command's options with the four corners of --corner-pin as its
// targets; as given without it. Usage errors: --target or --all-targets
// beside it, not four corners, one given twice.
ParsedArgs WithCornerPin(const ParsedArgs& a);

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
