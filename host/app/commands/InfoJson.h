// tqhost info --json: the scene as one JSON document for pipelines.
#pragma once

#include <iosfwd>
#include <vector>

#include "host/scene/GltfImport.h"
#include "host/scene/Scene.h"

namespace tq::app {

void WriteInfoJson(std::ostream& out, const tq::scene::Scene& scene,
                   const std::vector<tq::scene::GltfAnimation>& animations);

}  // namespace tq::app
