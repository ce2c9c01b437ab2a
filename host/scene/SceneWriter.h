// A scene as a scene file (*.tqs.json): what the loader reads back into the
// same scene, every float and every tick time bit for bit.
#pragma once

#include <cstddef>
#include <string>

#include "host/scene/Scene.h"

namespace tq::scene {

// The scene file's text. Groups are written with their centres as pivots
// (a group keeps its centre, not its points).
std::string WriteSceneText(const Scene& scene);

// The fewest bytes the scene's text can take (its points, patches and keys
// at their shortest, "[0, 0, 0]"), known without writing it: a scene far
// over a limit is refused before its text is made.
std::size_t SceneTextAtLeast(const Scene& scene);

}  // namespace tq::scene
