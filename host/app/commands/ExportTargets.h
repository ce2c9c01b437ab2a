// The targets of tqhost export: what the dialog lists of a scene, the
// targets the options name (or the one it opens on), each as a run with its
// mode and its group or bone, and the names checked against the scene.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/app/CornerPin.h"
#include "host/app/Formats.h"
#include "host/app/Modes.h"
#include "host/app/Options.h"
#include "host/fileio/Result.h"
#include "host/scene/Scene.h"

namespace tq::app {

// What the dialog lists: cameras, objects (no folders), and of a model its
// groups and the bones of its first top-level bone, in pre-order.
struct SceneNames {
  std::vector<std::string> cameras, objects, groups, bones;
  HQuorObject* target = nullptr;

  SceneNames(HChor* chor, const std::string& targetName) {
    for (HCamera* c = chor->GetChildCamera(); c != nullptr; c = c->GetNextCameraInChor())
      cameras.push_back(c->GetName());
    for (HQuorObject* o = chor->GetChild(); o != nullptr; o = o->GetSibling()) {
      if (o->GetObjectType() == ObjectType::kFolder) continue;
      objects.push_back(o->GetName());
      byName_.emplace(objects.back(), o);  // the first of a name, as the dialog finds it
    }
    Aim(chor, targetName);
  }
  // Whether an object (not a folder) of the scene has this name.
  bool HasObject(const std::string& name) const { return byName_.count(name) != 0; }
  // The names of another target (its groups and bones); the lists of the
  // scene are kept, not listed again for each target of a run, and the
  // target is found by its name at once (a run of every object of a large
  // scene looks up each).
  void Aim(HChor* chor, const std::string& targetName) {
    groups.clear();
    bones.clear();
    if (targetName.empty()) {
      target = nullptr;
      for (HQuorObject* o = chor->GetChild(); o != nullptr && target == nullptr;
           o = o->GetSibling()) {
        if (o->GetObjectType() != ObjectType::kFolder) target = o;
      }
    } else {
      const auto found = byName_.find(targetName);
      target = found == byName_.end() ? nullptr : found->second;
    }
    if (target == nullptr || target->GetObjectType() != ObjectType::kModel) return;
    auto* model = static_cast<HModel*>(target);
    if (HGroupContainer* g = model->GetChildGroupContainer()) {
      for (HQuorObject* group = g->GetChildGroup(); group != nullptr; group = group->GetSibling())
        groups.push_back(group->GetName());
    }
    if (HBoneContainer* b = model->GetChildBoneContainer()) {
      if (HBone* first = b->GetChildBone()) AddBones(first);
    }
  }
  void AddBones(HBone* bone) {
    bones.push_back(bone->GetName());
    for (HBone* child = bone->GetChildBone(); child != nullptr; child = child->GetSiblingBone())
      AddBones(child);
  }
  bool HasGroups() const {
    return target != nullptr && target->GetObjectType() == ObjectType::kModel &&
           static_cast<HModel*>(target)->GetChildGroupContainer() != nullptr;
  }
  bool HasBones() const {
    return target != nullptr && target->GetObjectType() == ObjectType::kModel &&
           static_cast<HModel*>(target)->GetChildBoneContainer() != nullptr;
  }
  // The names of what a mode picks (its groups, its bones); none for a mode
  // that picks nothing.
  const std::vector<std::string>& PartsOf(const TargetMode& mode) const {
    static const std::vector<std::string> none;
    return mode.needs == ModeNeeds::kGroups  ? groups
           : mode.needs == ModeNeeds::kBones ? bones
                                             : none;
  }
  // Whether the target offers a mode.
  bool Offers(const TargetMode& mode) const {
    switch (mode.needs) {
      case ModeNeeds::kNothing:
        return true;
      case ModeNeeds::kModel:
        return target != nullptr && target->GetObjectType() == ObjectType::kModel;
      case ModeNeeds::kGroups:
        return HasGroups();
      case ModeNeeds::kBones:
        return HasBones();
    }
    return false;
  }

 private:
  std::unordered_map<std::string, HQuorObject*> byName_;  // objects, not folders
};

// A target as given: "NAME", or "NAME:MODE[:GROUP_OR_BONE]" unless the whole
// text names an object.
struct TargetChoice {
  std::string name, mode, groupOrBone;
  bool defaulted = false;  // the one the dialog opens on, not named
};

// A compositor copy of a run: its format and its file.
struct CopyOutput {
  const FormatInfo* format;
  std::string path;        // "-" for standard output
  bool shared = false;     // one file of every target (a 3de file, a corner pin)
  bool cornerPin = false;  // the corner pin of the four runs
  bool fromImage = false;  // the pin's from points are the image's corners
};

// One target's run: the target, its mode row and its group or bone, and
// the files it writes, every pattern filled in.
struct TargetRun {
  std::string target;
  const TargetMode* mode = &TargetModes().front();
  bool modeGiven = false;  // the dialog's radio button is clicked, not left as it is
  // The group and the bone named (for the target, or for the whole command),
  // by what the mode picks: "group", "bone".
  std::map<std::string, std::string> parts;
  bool defaulted = false;  // the target is the one the dialog opens on, not named
  std::string output;      // the track's file ("/dev/stdout" for -o -)
  std::vector<CopyOutput> copies;
  std::optional<std::string> preview;

  // The group or bone of its mode, or "".
  std::string Part() const {
    const auto it = mode->part == nullptr ? parts.end() : parts.find(mode->part);
    return it == parts.end() ? "" : it->second;
  }
};

std::string Joined(const std::vector<std::string>& names);

bool Contains(const std::vector<std::string>& names, const std::string& name);

// The camera a run looks through: --camera, else the scene's first.
std::string CameraOf(const OptionValues& options, const SceneNames& names);

// The object the dialog opens on: the first listed one that is not a
// camera, else the first that is not the run's camera (a camera cannot
// track itself); "" when there is none.
std::string DefaultTarget(HChor* chor, const SceneNames& names, const OptionValues& options);

// The targets given (--target, --all-targets, the corners of a pin), or
// the one the dialog opens on.
std::vector<TargetChoice> TargetChoices(HChor* chor, const OptionValues& options,
                                        const std::optional<PinTargets>& pin,
                                        const SceneNames& names);

// The run of one target: its mode and its group or bone, given with it or
// for the whole command (a group or bone alone says the mode). Its outputs
// are left to the plan.
TargetRun RunOf(const TargetChoice& choice, const OptionValues& options);

// Refuses a name or mode the scene cannot give, in the user's words.
Status CheckNames(const TargetRun& run, const OptionValues& options, const SceneNames& n);

}  // namespace tq::app
