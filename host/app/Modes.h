// The target modes, one row each: the row serves --mode and its help, the
// dialog's radio buttons, the check of what a target offers, the label a
// preview shows and the reference point tqhost finds behind the camera. A
// new mode is one row here and its reference point (and the plug-in's).
#pragma once

#include <string>
#include <vector>

#include "host/scene/Scene.h"

namespace tq::app {

// What a target must have for a mode to be offered.
enum class ModeNeeds { kNothing, kModel, kGroups, kBones };

struct TargetMode {
  const char* name;   // as --mode takes it: "group-center"
  const char* label;  // as a preview names the run, before its group or bone: "group"
  int radio;          // the dialog's radio button
  ModeNeeds needs;
  const char* part;  // what it picks, "group" or "bone" (--group, --bone), or null
  int list;          // the dialog's list of those parts, or 0
  // The point tracked, from the target's origin in its own axes; false when
  // the part named is not found. Null: the origin itself.
  bool (*offset)(HModel* model, const std::string& part, Vector& offset);
};

// In the order of the dialog's radio buttons; the first is the default.
const std::vector<TargetMode>& TargetModes();
// The row of a --mode name, or null.
const TargetMode* FindMode(const std::string& name);
// The row of the radio button checked, or null.
const TargetMode* ModeOfRadio(int radio);
// The row that picks a part ("group", "bone"), or null.
const TargetMode* ModeOfPart(const std::string& part);
// The names joined for messages: "origin, model-center, group-center or bone".
std::string ModeNames(const char* separator = ", ", const char* last = nullptr);
// The run as a preview names it: "" for the origin, "model centre",
// "group NAME", "bone NAME".
std::string ModeLabel(const TargetMode& mode, const std::string& part);

}  // namespace tq::app
