// A scene as a scene file (*.tqs.json): what the loader reads back into the
// same scene, every float and every tick time bit for bit.
#pragma once

#include <string>

#include "host/scene/Scene.h"

namespace tq::scene {

// The scene file's text. Groups are written with their centres as pivots
// (a group keeps its centre, not its points).
std::string WriteSceneText(const Scene& scene);

}  // namespace tq::scene
