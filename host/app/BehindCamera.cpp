#include "host/app/BehindCamera.h"

#include <cmath>

#include "host/scene/Time.h"

namespace tq::app {
namespace {

// The run's fixed offset from the target's origin; false when its group or
// bone is not found.
bool Offset(HQuorObject* object, const RunTarget& run, Vector& offset) {
  offset = Vector(0.0f, 0.0f, 0.0f);
  if (run.mode->offset == nullptr) return true;
  if (object->GetObjectType() != ObjectType::kModel) return false;
  return run.mode->offset(static_cast<HModel*>(object), run.part, offset);
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
  if (camera == nullptr || object == nullptr || !Offset(object, run, offset)) return {};
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
    if (run.mode->offset != nullptr) point += Matrix34(o->GetRotate()->GetValue(t)) * offset;
    const Vector q = frames.inverses[i] * point;
    behind.push_back(q.z > 0.0f);
    if (beyond != nullptr && fold2 != HUGE_VAL) {
      const double depth = -static_cast<double>(q.z);
      const double sx = static_cast<double>(q.x) / depth;
      const double sy = -static_cast<double>(q.y) / depth;
      // Not a point at the camera or in its image plane: those are told as such.
      const double r2 = sx * sx + sy * sy;
      (*beyond)[i] = std::isfinite(r2) && r2 >= fold2;
    }
  }
  return behind;
}

}  // namespace tq::app
