// An SVG picture of a screen track: the image frame (width by height, the
// track file's coordinates with the origin bottom-left), the track as a line
// with a dot per frame, a label every 10 frames, the first and last frame
// marked, and the camera and target in a title.
#pragma once

#include <string>
#include <vector>

namespace tq::app {

struct TrackPoint {
  int index;
  long x;
  long y;
};

// Reads "index TAB x TAB y" lines; false (with the line number in error) on
// anything else.
bool ReadTrack(const std::string& text, std::vector<TrackPoint>& points, std::string& error);

struct PreviewInfo {
  std::string camera;
  std::string target;
  int width;
  int height;
  float startFrame;
};

std::string RenderPreview(const std::vector<TrackPoint>& points, const PreviewInfo& info);

}  // namespace tq::app
