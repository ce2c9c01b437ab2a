// The screen-track export: for every frame of the run, where the target
// lands in the camera's image, one line of the output file.
#include <cmath>
#include <cstdint>
#include <string>

#include "export/Parameters.h"
#include "export/ReferencePoints.h"
#include "math/Rounding.h"
#include "host/framework/App.h"
#include "plugin/PluginApp.h"

int CTQMotionApp::ChorWorking(HChor* chor) {
  PParameters& p = *parameters;
  bool writeFailed = false;
  std::string reason;
  {
    CWaitCursor wait;

    HTransformProperty* cameraTransform = p.camera->GetTransform();
    HVectorProperty* cameraTranslate = cameraTransform->GetTranslate();
    HRotateProperty* cameraRotate = cameraTransform->GetRotate();
    auto* object = static_cast<HBone*>(p.object);
    HTransformProperty* objectTransform = object->GetTransform();
    HVectorProperty* objectTranslate = objectTransform->GetTranslate();
    HRotateProperty* objectRotate = objectTransform->GetRotate();

    const double aspect = static_cast<double>(p.width) / static_cast<double>(p.height);
    const Time saved = chor->GetTime();

    // The reference point, fixed once for the whole run.
    Vector offset(0.0f, 0.0f, 0.0f);
    const bool turnsOffset = p.targetMode == TargetMode::kModelCenter ||
                             p.targetMode == TargetMode::kGroupCenter ||
                             p.targetMode == TargetMode::kBone;
    if (p.targetMode == TargetMode::kModelCenter) {
      offset = GetModelCenter(static_cast<HAnimObject*>(object)->GetCache());
    } else if (p.targetMode == TargetMode::kGroupCenter) {
      offset = GetGroupCenter(p.group);
    } else if (p.targetMode == TargetMode::kBone) {
      offset = p.bone->GetPivot();
    }

    fileStream.Open(p.fileName, 0);

    tq::scene::ForEachRunFrame(p.startFrame, p.endFrame, p.fps, [&](int index, float, Time t) {
      // Evaluated here so that the local matrix below follows time t.
      cameraTranslate->GetValue(t);
      cameraRotate->GetValue(t);
      const float f = p.camera->GetFocalLength()->GetValue(t);
      Matrix34 camera;
      camera = p.camera->GetLocalMatrix();

      Vector point = objectTranslate->GetValue(t);
      if (turnsOffset) {
        const Quaternion rotation = objectRotate->GetValue(t);
        const Matrix34 turn(rotation);
        point += turn * offset;
      }
      const Vector q = camera.Inverse() * point;

      // The lens: f + f in single precision, then double; the constant is
      // deliberately 1.5707963267949, not pi/2.
      const float twice = f + f;
      const double a = std::atan(static_cast<double>(twice) / -35.0);
      const double lens = std::tan(a + 1.5707963267949);
      const double d = lens * static_cast<double>(q.z);
      const double hw = static_cast<double>(p.width / 2);
      const double hh = static_cast<double>(p.height / 2);
      const double x = hw - (static_cast<double>(q.x) / d) * hw;
      const double y = hh - ((static_cast<double>(q.y) / d) * aspect) * hh;

      fileStream << index;
      tab(fileStream);
      fileStream << static_cast<long>(RoundToInt32(x));
      tab(fileStream);
      fileStream << static_cast<long>(RoundToInt32(y));
      nl(fileStream);
    });

    if (fileStream.Close() == 0) {
      writeFailed = true;
      reason = fileStream.Error();
    }
    chor->SetTime(saved);
    GetHProject()->SetTime(saved);
    objectTranslate->GetValue(saved);
    cameraTranslate->GetValue(saved);
    cameraRotate->GetValue(saved);
    p.camera->GetFocalLength()->GetValue(saved);
  }
  if (writeFailed) {
    const std::string text = std::string("The motion data could not be written to \"") +
                             p.fileName.Get() + "\": " + reason + ". No file was written.";
    AfxMessageBox(text.c_str(), MB_ICONEXCLAMATION);
  }
  return 0;
}
