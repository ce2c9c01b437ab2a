// Reads a scene file (*.tqs.json) into a Scene.
//
// Every malformed file is refused with one message naming the file, the JSON
// path of the fault and what was expected, for example
//   orbit.tqs.json: chor.objects[2].patches[2][3]: expected an integer from 0
//   to 13 (line 88, column 60)
// and nothing of it survives. Beyond the documented format the loader accepts
// keys that begin with "_" anywhere (comments); any other unknown key is
// refused, so that a misspelt key never passes unnoticed.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "host/fileio/Result.h"
#include "host/scene/Scene.h"

namespace tq::scene {

inline constexpr std::size_t kMaxSceneBytes = std::size_t{64} << 20;
inline constexpr int kMaxNesting = 64;
inline constexpr std::size_t kMaxNameLength = 1024;

// The scene, never null, or the reason it was refused.
using LoadResult = Result<std::unique_ptr<Scene>>;

LoadResult LoadSceneFile(const std::string& path);
// fileName only names the source in messages.
LoadResult LoadSceneText(const std::string& text, const std::string& fileName);

}  // namespace tq::scene
