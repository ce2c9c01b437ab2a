// glTF 2.0 (.gltf and .glb) as a scene: the file's default scene flattened
// into the choreography's objects, each with its world transform.
//
// - Every node of the scene, depth first in document order, is one object: a
//   perspective camera a camera, a mesh a model, a KHR_lights_punctual light
//   a light, anything else (an orthographic camera too, with a warning) a
//   null. Names are the node names ("node<i>" without one; a repeat gets
//   ".2", ".3", ...).
// - Translate, rotate and scale hold the node's world transform, decomposed
//   (scale from the column lengths, the x one negative when the determinant
//   is). A node that neither it nor an ancestor animates is constant; an
//   animated one has a linear key at every whole frame of the animation's
//   range, frames being seconds x fps.
// - A camera's focal length is 17.5 / (aspect x tan(yfov / 2)) on the host's
//   35-unit film; its output: width, height (the aspect ratio's), and the
//   animation's range.
// - A mesh's points are the positions of all its primitives; each triangle
//   is a patch [a, b, c, c]; each primitive a group (named after its
//   material) of its points. A skinned mesh's joints are the model's bones,
//   pivots at their bind positions.
// Every refusal names the file, the glTF path of the fault and what was
// expected.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/scene/Loader.h"

namespace tq::scene {

struct GltfOptions {
  float fps = 24.0f;
  // One animation alone, by name or index; all of them together by default.
  std::optional<std::string> animation;
  int width = 1920;
  std::optional<int> height;  // default: the width over the camera's aspect ratio, else 1080
};

// The largest glTF file, with its buffers, that is imported.
inline constexpr std::size_t kMaxGltfBytes = std::size_t{1} << 30;

struct ImportResult {
  std::unique_ptr<Scene> scene;       // null on failure
  std::string error;                  // "" on success
  std::vector<std::string> warnings;  // what was imported otherwise than written
  explicit operator bool() const { return scene != nullptr; }
};

ImportResult ImportGltfFile(const std::string& path, const GltfOptions& options);
// The file's bytes already read; path names it (a .glb by its extension)
// and its folder holds its external buffers.
ImportResult ImportGltfBytes(const std::string& bytes, const std::string& path,
                             const GltfOptions& options);

// True for a name ending in .gltf or .glb (any case).
bool IsGltfPath(const std::string& path);

}  // namespace tq::scene
