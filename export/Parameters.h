// The settings record of one run of the export command.
//
// The command creates it with defaults, the dialog fills it from the scene and
// the user's choices, the export reads it. Handles are not owned; fileName
// owns its buffer.
#pragma once

#include "host/scene/Scene.h"
#include "math/String.h"

// The point of the target that the export tracks (targetMode), one per radio
// button of the dialog.
struct TargetMode {
  enum : int { kOrigin = 0, kModelCenter = 1, kGroupCenter = 2, kBone = 3 };
};

struct PParameters {
  // Makes fileName the null string and sets nothing else: the command assigns
  // every other field before any use.
  PParameters() {}

  HChor* chor;
  HCamera* camera;
  HQuorObject* object;
  HBone* bone;
  HGroup* group;
  String fileName;
  float fps;
  float startFrame;
  float endFrame;
  int height;
  int width;
  int targetMode;  // a TargetMode
  int decimals;    // digits after the point of every X and Y: 0 (whole pixels) to 6
};

// Where the application's profile keeps the number of decimals a run
// writes; read by the command when a run starts, 0 when never written.
inline constexpr char kProfileSection[] = "Export";
inline constexpr char kProfileDecimals[] = "Decimals";
