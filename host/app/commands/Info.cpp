// tqhost info: what a scene holds, as the dialog and a user see it.
#include <ostream>

#include "host/app/Command.h"
#include "host/app/PlateOptions.h"
#include "host/app/Formats.h"
#include "host/app/SceneInput.h"
#include "host/app/commands/InfoJson.h"
#include "host/scene/Time.h"

namespace tq::app {
namespace {

const char kInfoUsage[] = R"(Usage: tqhost info SCENE [--json]

Prints the project's frame rate and times, each camera with its output
options (image size, frame range) and each object of the choreography with
its type, its groups and its bones (indented by depth). Needs no plug-in.

A camera's output size is what a track's pixels count in: 'tqhost export'
writes whole pixels, or with --decimals N (0 to 6) N digits after the point.
A camera's film offset, pixel aspect and lens distortion, when it has them,
follow its output options ("on the plate as shot: ...").

)";

const char kInfoTail[] = R"(
With --json the same as one JSON document whose fields stay as they are (the
README lists them): format "tqhost-info", version 1, fps, project and
choreography (name, time), cameras (name, width, height, first_frame,
last_frame, properties, plate), objects (name, type, groups, bones with their
children) and animations (index, name, first_frame, last_frame).
)";

std::string Frames(Time ticks, float fps) {
  return FrameText(tq::scene::TicksToFramesExact(ticks, fps));
}

void PrintBones(std::ostream& out, HBone* bone, int depth) {
  for (; bone != nullptr; bone = bone->GetSiblingBone()) {
    out << "      " << std::string(static_cast<std::size_t>(depth) * 3, ' ') << bone->GetName()
        << "\n";
    PrintBones(out, bone->GetChildBone(), depth + 1);
  }
}

void PrintOutputOptions(std::ostream& out, HTreeObject* owner, float fps) {
  for (int i = 0; HProperty* p = owner->GetPropertyAt(i); ++i) {
    const std::string full = p->GetFullName().Get();
    const auto kind = p->GetKind();
    if (kind == HProperty::Kind::kInt) out << "    " << full << " = " << p->GetValue() << "\n";
    if (kind == HProperty::Kind::kTime) {
      out << "    " << full << " = " << p->GetValue() << " ticks (frame "
          << Frames(p->GetValue(), fps) << ")\n";
    }
    PrintOutputOptions(out, p, fps);
  }
}

int Info(const std::string& path, const ParsedArgs& a, std::ostream& out, std::ostream& err) {
  std::vector<tq::scene::GltfAnimation> animations;
  const auto loaded = LoadScene(path, a, err, &animations);
  if (!loaded) return Refuse(err, loaded.error);
  const tq::scene::Scene* scene = loaded->get();
  if (a.Has("--json")) return (WriteInfoJson(out, *scene, animations), 0);
  HProject* project = scene->Project();
  HChor* chor = scene->Chor();
  const float fps = project->GetFPS();
  out << "Project \"" << project->GetName() << "\": " << FrameText(fps) << " fps, time "
      << project->GetTime() << " ticks (frame " << Frames(project->GetTime(), fps) << ")\n";
  out << "Choreography \"" << chor->GetName() << "\": time " << chor->GetTime() << " ticks (frame "
      << Frames(chor->GetTime(), fps) << ")\n";
  out << "Cameras:\n";
  for (HCamera* c = chor->GetChildCamera(); c != nullptr; c = c->GetNextCameraInChor()) {
    out << "  " << c->GetName() << "\n";
    PrintOutputOptions(out, c, fps);
    if (const std::string plate = DescribePlate(c->GetPlate()); !plate.empty())
      out << "    on the plate as shot: " << plate << "\n";
  }
  out << "Objects:\n";
  for (HQuorObject* o = chor->GetChild(); o != nullptr; o = o->GetSibling()) {
    out << "  " << o->GetName() << " (" << ObjectTypeName(o->GetObjectType()) << ")\n";
    if (o->GetObjectType() != ObjectType::kModel) continue;
    auto* model = static_cast<HModel*>(o);
    if (HGroupContainer* groups = model->GetChildGroupContainer()) {
      out << "    groups:";
      for (HQuorObject* g = groups->GetChildGroup(); g != nullptr; g = g->GetSibling())
        out << " " << g->GetName();
      out << "\n";
    }
    if (HBoneContainer* bones = model->GetChildBoneContainer()) {
      out << "    bones:\n";
      PrintBones(out, bones->GetChildBone(), 0);
    }
  }
  if (!animations.empty()) out << "Animations:\n";
  for (const tq::scene::GltfAnimation& an : animations) {
    out << "  " << (an.name.empty() ? "animation " + std::to_string(an.index) : an.name)
        << ": frames " << FrameText(an.firstFrame) << " to " << FrameText(an.lastFrame) << "\n";
  }
  return 0;
}

}  // namespace

const Command& InfoCommand() {
  static const Command command = {
      "info",
      "  info SCENE        the scene: frame rate and times, cameras with their\n"
      "                    output options, objects with groups and bones\n",
      [] { return kInfoUsage + OptionHelp(InfoOptions()) + kInfoTail; },
      {&ImportOptions(), &InfoOptions()},
      {"--width", "--height"},
      [](const CommandCall& c) {
        if (c.rest.size() != 1) throw UsageError{"info needs exactly one scene file"};
        return Info(c.rest[0], c.args, c.out, c.err);
      }};
  return command;
}

}  // namespace tq::app
