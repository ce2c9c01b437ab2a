#include "host/app/BehindCamera.h"

#include <cmath>

#include "host/scene/Time.h"

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
Vector ModelCentre(HModelCache* cache) {
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
  if (divisor == 0) return sum;
  sum /= static_cast<float>(divisor);
  return sum;
}

// The run's fixed offset; false when its group or bone is not found.
bool Offset(HQuorObject* object, const std::string& mode, Vector& offset) {
  offset = Vector(0.0f, 0.0f, 0.0f);
  if (mode.empty()) return true;
  if (object->GetObjectType() != ObjectType::kModel) return false;
  auto* model = static_cast<HModel*>(object);
  if (mode == "model centre") {
    offset = ModelCentre(model->GetCache());
    return true;
  }
  if (mode.rfind("group ", 0) == 0 && model->GetChildGroupContainer() != nullptr) {
    for (HGroup* g = model->GetChildGroupContainer()->GetChildGroup(); g != nullptr;
         g = static_cast<HGroup*>(g->GetSibling())) {
      if (mode.substr(6) == g->GetName()) return offset = g->GetMatrix().GetTranslate(), true;
    }
  }
  if (mode.rfind("bone ", 0) == 0 && model->GetChildBoneContainer() != nullptr) {
    if (HBone* b = FindBone(model->GetChildBoneContainer()->GetChildBone(), mode.substr(5)))
      return offset = b->GetPivot(), true;
  }
  return false;
}

}  // namespace

std::vector<bool> FramesBehindCamera(tq::scene::Scene& scene, const RunTarget& run, float start,
                                     std::size_t count, float fps, CameraFrames* kept,
                                     std::vector<bool>* beyond) {
  HCamera* camera = scene.Chor()->GetChildCamera();
  while (camera != nullptr && run.camera != camera->GetName())
    camera = camera->GetNextCameraInChor();
  auto* object = static_cast<HBone*>(scene.FindObject(run.target));
  Vector offset;
  if (camera == nullptr || object == nullptr || !Offset(object, run.mode, offset)) return {};
  CameraFrames own;
  CameraFrames& frames = kept != nullptr ? *kept : own;
  if (frames.camera != camera || frames.start != start || frames.fps != fps ||
      frames.inverses.size() < count) {
    frames = {camera, start, fps, {}};
    frames.inverses.reserve(count);
    HTransformProperty* c = camera->GetTransform();
    float frame = start;
    for (std::size_t i = 0; i < count; ++i, frame += 1.0f) {
      const Time t = tq::scene::RunFrameTicks(frame, fps);
      c->GetTranslate()->GetValue(t);
      c->GetRotate()->GetValue(t);
      frames.inverses.push_back(camera->GetLocalMatrix().Inverse());
    }
  }
  HTransformProperty* o = object->GetTransform();
  std::vector<bool> behind;
  behind.reserve(count);
  const double fold2 = camera->GetPlate().Distorts() ? camera->GetPlate().FoldSlope2() : HUGE_VAL;
  if (beyond != nullptr) beyond->assign(count, false);
  float frame = start;
  for (std::size_t i = 0; i < count; ++i, frame += 1.0f) {
    const Time t = tq::scene::RunFrameTicks(frame, fps);
    Vector point = o->GetTranslate()->GetValue(t);
    if (!run.mode.empty()) point += Matrix34(o->GetRotate()->GetValue(t)) * offset;
    const Vector q = frames.inverses[i] * point;
    behind.push_back(q.z > 0.0f);
    if (beyond != nullptr && fold2 != HUGE_VAL) {
      const double depth = -static_cast<double>(q.z);
      const double sx = static_cast<double>(q.x) / depth;
      const double sy = -static_cast<double>(q.y) / depth;
      (*beyond)[i] = !(sx * sx + sy * sy < fold2);
    }
  }
  return behind;
}

}  // namespace tq::app
