// What tqhost export's options ask of a scene, worked out before anything
// runs: the names checked against what the dialog lists, the targets and
// their options, the dialog's actions, and the file patterns filled in.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/app/Formats.h"
#include "host/app/Options.h"
#include "host/app/PluginRun.h"
#include "host/framework/ScriptedDriver.h"
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
      if (o->GetObjectType() != ObjectType::kFolder) objects.push_back(o->GetName());
    }
    Aim(chor, targetName);
  }
  // The names of another target (its groups and bones); the lists of the
  // scene are kept, not listed again for each target of a run.
  void Aim(HChor* chor, const std::string& targetName) {
    target = nullptr;
    groups.clear();
    bones.clear();
    for (HQuorObject* o = chor->GetChild(); o != nullptr && target == nullptr;
         o = o->GetSibling()) {
      if (o->GetObjectType() == ObjectType::kFolder) continue;
      if (targetName.empty() || targetName == o->GetName()) target = o;
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
};

// A target as given: "NAME", or "NAME:MODE[:GROUP_OR_BONE]" unless the whole
// text names an object.
struct TargetChoice {
  std::string name, mode, groupOrBone;
};

// --also FORMAT:FILE, checked before anything runs.
struct AlsoCopy {
  const FormatInfo* format;
  std::string pattern;
};

std::string Joined(const std::vector<std::string>& names);

bool Contains(const std::vector<std::string>& names, const std::string& name);

// Refuses a name or mode the scene cannot give, in the user's words.
Status CheckNames(const ParsedArgs& a, const SceneNames& n);

// The dialog worked as the options say, in the order of the option table,
// then OK.
std::vector<framework::Action> DialogActions(const ParsedArgs& a, const std::string& output);

// The option that fills a control, for messages about that control.
std::string OptionOfControl(int id, const ParsedArgs& a);

// Whether the run ended with a track, or what kept it from that as lines to
// print: message boxes in the dialog's own words, named by the option of the
// control they are about; the driver's failures show the dialog only with
// --verbose.
Status RunSucceeded(const NotingDriver<framework::ScriptedDriver>& driver, const ParsedArgs& a);

// A name as a file name: kept as it is (UTF-8 letters, spaces and all), but
// for what a file name cannot hold: '/', NUL and control characters become
// '_', and so does a leading '.' or '-'; "" becomes "_".
std::string SafeForFileName(const std::string& name);

// A pattern with {target}, {camera}, {mode} and {group} filled in; "{{" stands for
// a "{" of the path itself (a folder "v{2}" is "v{{2}").
std::string Expand(std::string pattern, const std::map<std::string, std::string>& fields);

// A usage error for a field other than {target}, {camera}, {mode} and {group}, or
// (needsTarget) a pattern without {target}; option names it ("-o").
// Whether the pattern has {target}.
bool CheckPattern(const std::string& option, const std::string& pattern, bool needsTarget);

// Every file a run will write, added before anything is written: two outputs
// that name one file (after links and "..", however written), an output that
// is the scene file, or two outputs to standard output are usage errors.
struct FilePlan {
  // who: with several targets, the target the file is for ("Robot", or
  // "Robot:origin" when it has several modes), which names the file in a
  // refusal beside the option.
  void Add(const std::string& option, const std::string& path, const std::string& scene,
           const char* what = "the scene file", const std::string& who = "");
  std::vector<std::pair<std::pair<std::string, std::string>, std::string>> files;
  std::string stdoutBy;             // the option writing to standard output, if one does
  std::vector<std::string> inputs;  // files the scene was read from besides itself
};

// The folders the outputs are named in, made where missing (each said
// once on summary); false, said on err, when one cannot be.
bool MakeFolders(const FilePlan& plan, std::ostream& summary, std::ostream& err);

// The object the dialog opens on: the first listed one that is not a
// camera, else the first that is not the run's camera (a camera cannot
// track itself); "" when there is none.
std::string DefaultTarget(HChor* chor, const SceneNames& names, const ParsedArgs& a);

std::vector<TargetChoice> TargetChoices(HChor* chor, const ParsedArgs& a, const SceneNames& names);

// The options of one target's run: the command's, with the target, its mode
// and its group or bone.
ParsedArgs ArgsOfTarget(const ParsedArgs& a, const TargetChoice& choice);

std::vector<AlsoCopy> AlsoCopies(const ParsedArgs& a);

// Whether a copy is one file of every target: named without {target} in a
// run of several targets, of a format that holds several tracks (3de) or,
// in a corner pin (pin), the pin (nuke, nuke-node, ae).
bool SharedCopy(const AlsoCopy& copy, bool many, bool pin);

// One target's run, its options (--output always set) and the fields of its
// file patterns.
struct TargetRun {
  ParsedArgs args;
  std::map<std::string, std::string> fields;
};

// The targets of the command, once each, with every path expanded and
// checked before anything runs.
std::vector<TargetRun> PlanRuns(const ParsedArgs& a, tq::scene::Scene& scene,
                                const SceneNames& names, const std::vector<AlsoCopy>& also,
                                FilePlan& plan);

// How many processes share the targets: given (--jobs), else one for each
// processor with 8 targets or more. One for a run whose tracks all go to
// one place (standard output, the clipboard, an HTML page).
std::size_t Jobs(const ParsedArgs& a, std::size_t given, std::size_t targets, bool batch,
                 const FilePlan& plan);
// The count --jobs gives (0 without it); a usage error for anything but 1 to 64.
std::size_t JobsGiven(const ParsedArgs& a);

}  // namespace tq::app
