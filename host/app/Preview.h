// An SVG picture of a screen track: the image frame (width by height, the
// track file's coordinates with the origin bottom-left) and around it as
// much of the track outside the image as there is, the track as a line with
// a dot per frame, a label every 10 frames (moved aside, never left out),
// the first and last frame marked, frames that could not be projected
// marked on a strip below, frames behind the camera in another colour, and
// the camera, target and mode in a title.
#pragma once

#include <string>
#include <vector>

#include "host/app/Formats.h"

namespace tq::app {

struct PreviewInfo {
  std::string camera;
  std::string target;
  std::string mode;  // "model centre", "group Roof", "bone Spine"; "" for the origin
  int width;
  int height;
  float startFrame;
  std::vector<bool> behind = {};  // per line: the target behind the camera (drawn apart)
};

std::string RenderPreview(const std::vector<TrackPoint>& points, const PreviewInfo& info);

}  // namespace tq::app
