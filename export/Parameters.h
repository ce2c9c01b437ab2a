// The settings record of one run of the export command.
//
// The command creates it with defaults, the dialog fills it from the scene and
// the user's choices, the export reads it. Handles are not owned; fileName
// owns its buffer.
#pragma once

#include "host/scene/Scene.h"
#include "math/String.h"

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
  int targetMode;  // 0 origin, 1 model centre, 2 group centre, 3 bone
};
