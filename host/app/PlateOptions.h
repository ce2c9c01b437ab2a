// The plate as shot, given for a run: --film-offset X,Y, --pixel-aspect A
// and --distortion brown:K1,K2[,P1,P2[,K3]] set these on the run's camera
// (the one --camera names, else every camera of the scene), over what its
// file says; a scene file's own camera properties stand where none is given.
#pragma once

#include "host/app/Options.h"
#include "host/scene/Scene.h"

namespace tq::app {

// The options on the scene's cameras; a value that is not what its option
// takes is a usage error naming it. Without a scene the options are only
// checked, as before a scene is loaded.
void ApplyPlateOptions(const ParsedArgs& args, tq::scene::Scene* scene);

// What a camera's plate is, in words: "film offset 0.1, -0.05 of the width;
// pixel aspect 2; distortion brown k1 -0.1 k2 0 p1 0 p2 0 k3 0, folding
// beyond a slope of 1.83"; empty for a plain plate.
std::string DescribePlate(const HPlate& plate);

}  // namespace tq::app
