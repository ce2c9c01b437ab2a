// The screen-track export: for every frame of the run, where the target
// lands in the camera's image, one line of the output file.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "export/Parameters.h"
#include "export/Plate.h"
#include "export/ReferencePoints.h"
#include "math/Rounding.h"
#include "math/Slowdown.h"
#include "host/framework/App.h"
#include "plugin/PluginApp.h"

namespace {

// The lens factor of a focal length: tan(atan((f + f) / -35) + 1.5707963267949),
// f + f in single precision, then double. Remembered for the focal length
// asked last, which most shots keep for many frames.
class Lens {
 public:
  double Of(float f) noexcept {
    if (!(f == lastFocal_)) {
      lastLens_ = tq::Twice([&] {
        const float twice = f + f;
        const double a = std::atan(static_cast<double>(twice) / -35.0);
        return std::tan(a + 1.5707963267949);
      });
      lastFocal_ = f;
    }
    return lastLens_;
  }

 private:
  float lastFocal_ = std::numeric_limits<float>::quiet_NaN();
  double lastLens_ = 0.0;
};

// The pixel at which a camera-space point q lands through a lens (its factor
// from Lens), in an image of width by height pixels with the given aspect;
// all in double, before the final rounding. The constant of the lens is
// deliberately 1.5707963267949, not pi/2.
struct Pixel {
  double x, y;
};

Pixel ProjectToPixelOnce(double lens, const Vector& q, int width, int height, double aspect) {
  const double d = lens * static_cast<double>(q.z);
  const double hw = static_cast<double>(width / 2);
  const double hh = static_cast<double>(height / 2);
  const double x = hw - (static_cast<double>(q.x) / d) * hw;
  const double y = hh - ((static_cast<double>(q.y) / d) * aspect) * hh;
  return {x, y};
}
Pixel ProjectToPixel(double lens, const Vector& q, int width, int height, double aspect) {
  return tq::Twice([&] { return ProjectToPixelOnce(lens, q, width, height, aspect); });
}

// The lines of the output: index, tab, X, tab, Y, newline, the numbers in
// plain decimal as the host stream writes them, formatted into one buffer
// and handed to the stream in large blocks. X and Y are whole pixels, each
// rounded half away from zero, or with decimals they are kept to that many
// digits after the point (RoundToDecimals, WriteDecimals).
class LineBuffer {
 public:
  LineBuffer(QuorStream& stream, int decimals) : stream_(stream), decimals_(decimals) {}
  void Add(int index, Pixel pixel) {
    char* const at = tq::Twice([&] { return Format(buffer_ + used_, index, pixel); });
    used_ = static_cast<std::size_t>(at - buffer_);
    if (used_ > sizeof buffer_ - kLongestLine) Flush();
  }
  void Flush() {
    if (used_ > 0) stream_.Write(buffer_, static_cast<unsigned long>(used_));
    used_ = 0;
  }

 private:
  // The line at at; answers its end.
  char* Format(char* at, int index, Pixel pixel) const {
    at = std::to_chars(at, at + 12, index).ptr;
    *at++ = '\t';
    if (decimals_ == 0) {
      at = std::to_chars(at, at + 12, RoundToInt32(pixel.x)).ptr;
      *at++ = '\t';
      at = std::to_chars(at, at + 12, RoundToInt32(pixel.y)).ptr;
    } else {
      at = WriteDecimals(at, RoundToDecimals(pixel.x, decimals_), decimals_);
      *at++ = '\t';
      at = WriteDecimals(at, RoundToDecimals(pixel.y, decimals_), decimals_);
    }
    *at++ = '\n';
    return at;
  }

  static constexpr std::size_t kLongestLine = 12 + 2 * 21 + 3;
  QuorStream& stream_;
  const int decimals_;
  char buffer_[1 << 16];
  std::size_t used_ = 0;
};

// The reference point of the run's mode, fixed once for the whole run: the
// model centre, the group centre, the bone's pivot; none for the origin.
Vector ReferenceOffset(const PParameters& p) {
  switch (p.targetMode) {
    case TargetMode::kModelCenter:
      return GetModelCenter(static_cast<HAnimObject*>(p.object)->GetCache());
    case TargetMode::kGroupCenter:
      return GetGroupCenter(p.group);
    case TargetMode::kBone:
      return p.bone->GetPivot();
    default:
      return Vector(0.0f, 0.0f, 0.0f);
  }
}

}  // namespace

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

    const bool turnsOffset = p.targetMode != TargetMode::kOrigin;
    const Vector offset = tq::Twice([&] { return ReferenceOffset(p); });

    fileStream.Open(p.fileName, 0);
    LineBuffer lines(fileStream, p.decimals);
    Lens lens;
    // The plate as shot: the camera's offset, pixel aspect and distortion,
    // when it has any.
    const PlateMapping plate(p.camera->GetPlate(), p.width, p.height);

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

      if (plate.Plain()) {
        lines.Add(index, ProjectToPixel(lens.Of(f), q, p.width, p.height, aspect));
      } else {
        Pixel pixel;
        plate.Map(lens.Of(f), q, pixel.x, pixel.y);
        lines.Add(index, pixel);
      }
    });
    lines.Flush();

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
