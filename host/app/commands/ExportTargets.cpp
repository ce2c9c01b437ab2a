#include "host/app/commands/ExportTargets.h"

#include <algorithm>

namespace tq::app {
namespace {

// The modes that pick a group or a bone, for messages: "group-center or bone".
std::string PartModeNames() {
  std::string names;
  for (const TargetMode& m : TargetModes()) {
    if (m.part != nullptr) names += std::string(names.empty() ? "" : " or ") + m.name;
  }
  return names;
}

}  // namespace

std::string Joined(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return list.empty() ? "none" : list;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::string CameraOf(const OptionValues& options, const SceneNames& names) {
  return options.camera.value_or(names.cameras.empty() ? "" : names.cameras[0]);
}

Status CheckNames(const TargetRun& run, const OptionValues& a, const SceneNames& n) {
  if (a.camera && !Contains(n.cameras, *a.camera))
    return Fail("unknown camera '" + *a.camera + "'; the cameras are " + Joined(n.cameras));
  if (!n.HasObject(run.target))
    return Fail("unknown target '" + run.target + "'; the objects are " + Joined(n.objects));
  if (n.target == nullptr) return {};  // the dialog says what is missing
  const std::string of = std::string(" of '") + n.target->GetName() + "'";
  std::vector<std::string> offered;
  for (const TargetMode& m : TargetModes()) {
    if (n.Offers(m)) offered.push_back(m.name);
  }
  if (!Contains(offered, run.mode->name)) {
    return Fail(std::string("--mode ") + run.mode->name + ": the target '" + n.target->GetName() +
                "' offers " + Joined(offered));
  }
  for (const TargetMode& m : TargetModes()) {
    const auto part = m.part == nullptr ? run.parts.end() : run.parts.find(m.part);
    if (part == run.parts.end() || Contains(n.PartsOf(m), part->second)) continue;
    return Fail("unknown " + part->first + " '" + part->second + "'" + of + "; its " + part->first +
                "s are " + Joined(n.PartsOf(m)));
  }
  return {};
}

std::string DefaultTarget(HChor* chor, const SceneNames& names, const OptionValues& options) {
  const std::string camera = CameraOf(options, names);
  std::string fallback;
  for (HQuorObject* o = chor->GetChild(); o != nullptr; o = o->GetSibling()) {
    if (o->GetObjectType() == ObjectType::kFolder) continue;
    if (o->GetObjectType() != ObjectType::kCamera) return o->GetName();
    if (fallback.empty() && camera != o->GetName()) fallback = o->GetName();
  }
  return fallback;  // "" when every object is the camera: nothing to track
}

std::vector<TargetChoice> TargetChoices(HChor* chor, const OptionValues& a,
                                        const std::optional<PinTargets>& pin,
                                        const SceneNames& names) {
  std::vector<TargetChoice> choices;
  if (a.allTargets) {
    if (!a.targets.empty()) throw UsageError{"--all-targets and --target exclude each other"};
    const std::string camera = CameraOf(a, names);
    for (const std::string& o : names.objects) {
      if (o != camera) choices.push_back({o, "", ""});  // the camera cannot track itself
    }
    return choices;
  }
  for (const std::string& given : pin ? pin->corners : a.targets) {
    if (names.HasObject(given) || given.find(':') == std::string::npos) {
      choices.push_back({given, "", ""});
      continue;
    }
    const auto first = given.find(':');
    const auto second = given.find(':', first + 1);
    choices.push_back({given.substr(0, first),
                       given.substr(first + 1, second == std::string::npos ? std::string::npos
                                                                           : second - first - 1),
                       second == std::string::npos ? "" : given.substr(second + 1)});
  }
  if (choices.empty()) choices.push_back({DefaultTarget(chor, names, a), "", "", true});
  return choices;
}

TargetRun RunOf(const TargetChoice& choice, const OptionValues& a) {
  TargetRun run;
  run.target = choice.name;
  run.defaulted = choice.defaulted;
  if (a.group) run.parts["group"] = *a.group;
  if (a.bone) run.parts["bone"] = *a.bone;
  OptionValues::Text mode = choice.mode.empty() ? a.mode : choice.mode;
  if (!choice.groupOrBone.empty()) {
    const TargetMode* row = mode ? FindMode(*mode) : nullptr;
    if (row == nullptr || row->part == nullptr)
      throw UsageError{"--target " + choice.name + ":" + choice.mode + ":" + choice.groupOrBone +
                       ": a group or bone goes with " + PartModeNames()};
    run.parts[row->part] = choice.groupOrBone;
  }
  // A group or a bone given alone says the mode.
  for (const TargetMode& m : TargetModes()) {
    if (!mode && m.part != nullptr && run.parts.count(m.part) != 0) mode = m.name;
  }
  if (mode && FindMode(*mode) == nullptr)
    throw UsageError{"--mode must be " + ModeNames(", ", " or ") + ", not '" + *mode + "'"};
  run.modeGiven = mode.has_value();
  if (mode) run.mode = FindMode(*mode);
  return run;
}

}  // namespace tq::app
