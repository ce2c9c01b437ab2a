// glTF 2.0 (.gltf and .glb) as a scene: the file's default scene flattened
// into the choreography's objects, each with its world transform.
//
// - Every node of the scene, depth first in document order, is one object: a
//   perspective camera a camera, a mesh a model, a KHR_lights_punctual light
//   a light, anything else (an orthographic camera too, with a warning) a
//   null. Names are the node names ("node<i>" without one; a repeat gets
//   ".2", ".3", ...; a long one cut at a character boundary).
// - Translate, rotate and scale hold the node's world transform, decomposed
//   (scale from the column lengths, the x one negative when the determinant
//   is; a sheared matrix is warned about by node). A node that neither it
//   nor an ancestor animates is constant; an animated one has a linear key
//   at every frame of the animation's range (whole frames, or the run's own
//   frames from GltfOptions::firstFrame) and on both sides of every STEP
//   key, so steps stay steps between frames.
// - A model's points hold its node's world scale at the first frame (the
//   scale channel the rest); a skinned mesh follows its skin's root joint.
// - A camera's focal length is 17.5 / (aspect x tan(yfov / 2)) on the host's
//   35-unit film, animated by a KHR_animation_pointer to its yfov; its
//   output: width, height (the aspect ratio's), and the animation's range.
// - A mesh's points are the positions of all its primitives; each triangle
//   is a patch [a, b, c, c]; each primitive a group (named after its
//   material) of its points. A skinned mesh's joints are the model's bones,
//   pivots at their bind positions.
// Every refusal names the file, the glTF path of the fault and what was
// expected. Files are read from the glTF's folder only (see GltfFiles.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/scene/Loader.h"
#include "host/fileio/Result.h"

namespace tq::scene {

struct GltfOptions {
  float fps = 24.0f;
  // One animation alone, by name or index; all of them together by default.
  std::optional<std::string> animation;
  int width = 1920;
  std::optional<int> height;  // default: the width over the camera's aspect ratio, else 1080
  // The first frame of the run that reads the scene: keys are baked at it
  // and at every whole frame from it, so a run that starts between frames
  // reads the glTF's curves at its own frames. Whole frames without it.
  std::optional<double> firstFrame;
};

// An animation of the file and its frames at the options' rate: the floor
// of its first key's and the ceiling of its last key's.
struct GltfAnimation {
  int index = 0;
  std::string name;  // as the file has it, "" without one
  double firstFrame = 0, lastFrame = 0;
};

// The warning for a file without a perspective camera.
inline constexpr const char* kGltfNoCamera =
    "the file has no camera; export the shot's camera with it (in Blender: Include > Cameras)";

// The largest glTF file, with its buffers, that is imported.
inline constexpr std::size_t kMaxGltfBytes = std::size_t{1} << 30;

struct ImportedScene {
  std::unique_ptr<Scene> scene;           // never null
  std::vector<std::string> warnings;      // what was imported otherwise than written
  std::vector<GltfAnimation> animations;  // every animation of the file
  std::vector<std::string> inputs;        // the files its buffers were read from
};
using ImportResult = Result<ImportedScene>;

ImportResult ImportGltfFile(const std::string& path, const GltfOptions& options);
// The file's bytes already read; path names it (a .glb by its extension)
// and its folder holds its external buffers.
ImportResult ImportGltfBytes(const std::string& bytes, const std::string& path,
                             const GltfOptions& options);

// The scene file text of an imported scene, read back by the loader before
// it is given, refused when the loader would refuse it (over the loader's
// 64 MiB, say), so that an import never writes what cannot load.
Result<std::string> ImportedSceneText(const Scene& scene, const std::string& path);

// True for a name ending in .gltf or .glb (any case).
bool IsGltfPath(const std::string& path);

}  // namespace tq::scene
