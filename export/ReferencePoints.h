// The fixed points that target modes 1 and 2 add, turned by the object's
// rotation, to the object's translation.
#pragma once

#include "host/scene/Scene.h"
#include "math/Vector.h"

// The mean of the patch corners of a model, in model space: a control point
// counts once for every corner at which it stands. A model without any patch
// has the centre (0, 0, 0), its own origin.
Vector GetModelCenter(HModelCache* cache);

// The translation of the group's matrix.
Vector GetGroupCenter(HGroup* group);
