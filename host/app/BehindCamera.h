// Which frames of a run lie behind the camera. The export projects such a
// point all the same, and its pixel values are mirrored through the image
// centre: they look valid and are not. tqhost warns about them and the
// previews mark them; the track file stays as the export writes it.
#pragma once

#include <string>
#include <vector>

#include "host/app/Modes.h"
#include "host/scene/Scene.h"

namespace tq::app {

// The run as its dialog ended: the names shown in the camera and object
// lists, the mode and its group or bone.
struct RunTarget {
  std::string camera, target;
  const TargetMode* mode;
  std::string part;
};

// A camera's inverse matrices at a run's frames, kept for the next run of
// the same camera over the same frames: the runs of many targets work the
// camera out once.
struct CameraFrames {
  HCamera* camera = nullptr;
  float start = 0, fps = 0;
  std::vector<Matrix34> inverses;
};

// For each of count frames from start (steps of 1.0 in single precision, at
// the export's tick times): whether the tracked point, in the camera's
// space, lies behind it (z above 0; the camera looks down -Z). Empty when a
// name cannot be found. kept, when given, holds the camera's frames between
// calls. beyond, when given, is filled with whether the point lies beyond
// where the camera's lens distortion holds (HPlate::FoldSlope2), worked out
// from the same camera-space point as the export does: those frames the
// export writes as ones it could not project.
std::vector<bool> FramesBehindCamera(tq::scene::Scene& scene, const RunTarget& run, float start,
                                     std::size_t count, float fps, CameraFrames* kept = nullptr,
                                     std::vector<bool>* beyond = nullptr);

}  // namespace tq::app
