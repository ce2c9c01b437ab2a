#include "host/app/Modes.h"

#include "dialog/ControlIds.h"

namespace tq::app {
namespace {

HBone* FindBone(HBone* bone, const std::string& name) {
  for (; bone != nullptr; bone = bone->GetSiblingBone()) {
    if (name == bone->GetName()) return bone;
    if (HBone* found = FindBone(bone->GetChildBone(), name)) return found;
  }
  return nullptr;
}

void AddCorner(Vector& sum, HCP* corner) {
  sum += corner->GetHead()->GetModelPosition();
}

// The model centre as the export fixes it: the patch corners' mean, summed
// in the same order in single precision.
bool ModelCentre(HModel* model, const std::string&, Vector& offset) {
  HModelCache* cache = model->GetCache();
  cache->FindPatches();
  Vector sum(0.0f, 0.0f, 0.0f);
  int divisor = 0;
  for (int i = 0; i < cache->GetPatchCount(); ++i, divisor += 4) {
    HPatch* p = cache->GetPatch(static_cast<unsigned int>(i));
    for (HCP* corner : {p->GetCP1(), p->GetCP2(), p->GetCP3(), p->GetCP4()}) AddCorner(sum, corner);
  }
  for (HPatch5* p = cache->GetHeadPatch5(); p != nullptr; p = p->GetNextPatch5(), divisor += 5) {
    for (HCP* corner : {p->GetCP1(), p->GetCP2(), p->GetCP3(), p->GetCP4(), p->GetCP5()})
      AddCorner(sum, corner);
  }
  if (divisor != 0) sum /= static_cast<float>(divisor);
  offset = sum;
  return true;
}

bool GroupCentre(HModel* model, const std::string& name, Vector& offset) {
  if (model->GetChildGroupContainer() == nullptr) return false;
  for (HGroup* g = model->GetChildGroupContainer()->GetChildGroup(); g != nullptr;
       g = static_cast<HGroup*>(g->GetSibling())) {
    if (name == g->GetName()) return offset = g->GetMatrix().GetTranslate(), true;
  }
  return false;
}

bool BonePivot(HModel* model, const std::string& name, Vector& offset) {
  if (model->GetChildBoneContainer() == nullptr) return false;
  HBone* b = FindBone(model->GetChildBoneContainer()->GetChildBone(), name);
  if (b != nullptr) offset = b->GetPivot();
  return b != nullptr;
}

}  // namespace

const std::vector<TargetMode>& TargetModes() {
  static const std::vector<TargetMode> modes = {
      {.name = "origin",
       .label = "",
       .radio = IDC_RADIO1,
       .needs = ModeNeeds::kNothing,
       .part = nullptr,
       .list = 0,
       .offset = nullptr},
      {.name = "model-center",
       .label = "model centre",
       .radio = IDC_RADIO2,
       .needs = ModeNeeds::kModel,
       .part = nullptr,
       .list = 0,
       .offset = &ModelCentre},
      {.name = "group-center",
       .label = "group",
       .radio = IDC_RADIO3,
       .needs = ModeNeeds::kGroups,
       .part = "group",
       .list = IDC_COMBO3,
       .offset = &GroupCentre},
      {.name = "bone",
       .label = "bone",
       .radio = IDC_RADIO4,
       .needs = ModeNeeds::kBones,
       .part = "bone",
       .list = IDC_COMBO4,
       .offset = &BonePivot},
  };
  return modes;
}

const TargetMode* FindMode(const std::string& name) {
  for (const TargetMode& m : TargetModes()) {
    if (name == m.name) return &m;
  }
  return nullptr;
}

const TargetMode* ModeOfRadio(int radio) {
  for (const TargetMode& m : TargetModes()) {
    if (radio == m.radio) return &m;
  }
  return nullptr;
}

const TargetMode* ModeOfPart(const std::string& part) {
  for (const TargetMode& m : TargetModes()) {
    if (m.part != nullptr && part == m.part) return &m;
  }
  return nullptr;
}

std::string ModeNames(const char* separator, const char* last) {
  std::string names;
  const auto& modes = TargetModes();
  for (std::size_t i = 0; i < modes.size(); ++i) {
    if (i > 0) names += i + 1 == modes.size() && last != nullptr ? last : separator;
    names += modes[i].name;
  }
  return names;
}

std::string ModeLabel(const TargetMode& mode, const std::string& part) {
  if (mode.part == nullptr) return mode.label;
  return std::string(mode.label) + " " + part;
}

}  // namespace tq::app
