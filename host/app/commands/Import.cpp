// tqhost import: a glTF file written as the equivalent scene file.
#include <ostream>

#include "host/app/Command.h"
#include "host/app/SceneInput.h"
#include "host/app/commands/FilePlan.h"
#include "host/scene/SceneWriter.h"

namespace tq::app {
namespace {

const char kImportHead[] = R"(Usage: tqhost import SCENE.gltf|SCENE.glb -o SCENE.tqs.json [OPTIONS]

Writes a glTF 2.0 file as the equivalent scene file, which gives the same
tracks when loaded. Every command that reads a scene also reads glTF files
directly, with these options:

)";

const char kImportTail[] = R"(  --width N, --height N
                      a camera's output size (default 1920, and the width over
                      the camera's aspect ratio, else 1080)
)";

// tqhost import: a glTF file written as the equivalent scene file, through
// the same never-half-written replace as a track.
int Import(const std::vector<std::string>& rest, const OptionValues& a, std::ostream& out,
           std::ostream& err) {
  if (rest.size() != 1) throw UsageError{"import needs exactly one glTF file"};
  if (!tq::scene::IsGltfPath(rest[0]))
    throw UsageError{"import reads .gltf and .glb files, not '" + rest[0] + "'"};
  if (!a.output) throw UsageError{"import needs -o FILE.tqs.json"};
  const std::string output = *a.output;
  FilePlan plan;  // never the glTF or a file it reads
  auto loaded = LoadScene(rest[0], a, err, nullptr, &plan.inputs);
  if (!loaded) return Refuse(err, loaded.error);
  plan.Add("-o", output == "-" ? "/dev/stdout" : output, rest[0]);
  const tq::scene::Scene* scene = loaded->get();
  // A scene the loader would refuse is not written.
  const auto text = tq::scene::ImportedSceneText(*scene, rest[0]);
  if (!text) return Refuse(err, text.error);
  if (const auto saved = SaveText(output, *text); !saved) return Refuse(err, saved.error);
  int objects = 0;
  for (HQuorObject* o = scene->Chor()->GetChild(); o != nullptr; o = o->GetSibling()) ++objects;
  (output == "-" ? err : out) << objects << (objects == 1 ? " object" : " objects")
                              << " imported to " << (output == "-" ? "standard output" : output)
                              << "\n";
  return 0;
}

}  // namespace

const Command& ImportCommand() {
  static const Command command = {
      "import",
      "  import GLTF -o F  writes a glTF 2.0 file as a scene file; see\n"
      "                    'tqhost import --help'\n",
      [] { return kImportHead + OptionHelp(ImportOptions()) + kImportTail; },
      {&ImportOptions()},
      {"--width", "--height", "--output"},
      [](const CommandCall& c) { return Import(c.rest, c.options, c.out, c.err); }};
  return command;
}

}  // namespace tq::app
