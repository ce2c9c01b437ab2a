#include "host/app/SceneInput.h"

#include <ostream>

#include "host/app/Formats.h"
#include "host/fileio/Concat.h"
#include "host/fileio/FileStream.h"
#include "host/framework/Dialog.h"
#include "host/scene/Loader.h"
#include "host/scene/Time.h"

namespace tq::app {

// Saves text through the same never-half-written replace as a track; what
// names the file in the message ("the preview ").
Status SaveText(const std::string& path, const std::string& text, const char* what) {
  FileStream file;
  String name(path == "-" ? "/dev/stdout" : path.c_str());  // "-": standard output, in place
  file.Open(name, 0);
  file.Write(text.data(), static_cast<unsigned long>(text.size()));
  if (file.Close() != 0) return {};
  return Fail(fileio::Concat({"cannot write ", what, path, ": ", file.Error()}));
}

// A scene file, or a glTF file imported with the options given; the
// importer's warnings are printed.
Result<std::unique_ptr<tq::scene::Scene>> LoadScene(
    const std::string& path, const ParsedArgs& a, std::ostream& err,
    std::vector<tq::scene::GltfAnimation>* animations, std::vector<std::string>* inputs) {
  if (!tq::scene::IsGltfPath(path)) {
    auto loaded = tq::scene::LoadSceneFile(path);
    if (!loaded) return Fail(loaded.error);
    if (a.Has("--fps")) {
      throw UsageError{"--fps applies to glTF files; this scene runs at " +
                       FrameText((*loaded)->Project()->GetFPS()) + " fps"};
    }
    return std::move(*loaded);
  }
  tq::scene::GltfOptions options;
  if (a.Has("--fps")) {
    const auto fps = framework::ParseFloat(a.Value("--fps"));
    if (!fps || !scene::IsFrameRate(*fps))
      throw UsageError{fileio::Concat(
          {"--fps must be ", scene::kFrameRateRule, ", not '", a.Value("--fps"), "'"})};
    options.fps = *fps;
  }
  if (a.Has("--animation")) options.animation = a.Value("--animation");
  for (const char* option : {"--width", "--height"}) {
    if (!a.Has(option)) continue;
    const auto n = framework::ParseInt(a.Value(option));
    if (!n || *n <= 0) throw UsageError{std::string(option) + " must be a whole number above 0"};
    (option[2] == 'w' ? options.width : options.height.emplace()) = *n;
  }
  // A run from --start reads the glTF's curves at its own frames.
  if (a.Has("--start")) {
    if (const auto start = framework::ParseFloat(a.Value("--start"))) options.firstFrame = *start;
  }
  auto imported = tq::scene::ImportGltfFile(path, options);
  if (!imported) {
    if (animations != nullptr) animations->clear();
    if (inputs != nullptr) inputs->clear();
    return Fail(imported.error);
  }
  if (animations != nullptr) *animations = imported->animations;
  if (inputs != nullptr) *inputs = imported->inputs;
  for (const std::string& warning : imported->warnings)
    err << "tqhost: warning: " << warning << "\n";
  return std::move(imported->scene);
}

}  // namespace tq::app
