// A camera's plate as shot: film offset, pixel aspect, lens distortion.
// Part of Scene.h, which includes it.
#pragma once

#include <string>

// How a camera's picture lies on the plate as shot. The film offset (lens
// shift) moves the lens by offsetX x the image's width to the right and
// offsetY x the width up, so a point lands that much further left and down;
// the pixel aspect is a pixel's width over its height; the distortion is
// Brown-Conrady as OpenCV defines it: k1, k2, k3 radial and p1, p2
// tangential, on camera-space slopes (x right, y down, the camera looking
// along its depth), about the principal point. The defaults are a centred
// lens, square pixels and no distortion.
struct HPlate {
  double offsetX = 0, offsetY = 0;
  double pixelAspect = 1;
  double k1 = 0, k2 = 0, p1 = 0, p2 = 0, k3 = 0;

  bool Distorts() const { return k1 != 0 || k2 != 0 || p1 != 0 || p2 != 0 || k3 != 0; }
  // True when the plate is the image as the plain projection has it.
  bool IsPlain() const { return offsetX == 0 && offsetY == 0 && pixelAspect == 1 && !Distorts(); }
  // The squared slope from the axis beyond which the radial distortion
  // turns back on itself (r (1 + k1 r^2 + k2 r^4 + k3 r^6) stops growing
  // with r): where a point would land at a wrong place that looks right.
  // Infinity for a model that never turns back.
  double FoldSlope2() const;
  // What a real camera's plate has that this one lacks ("a pixel aspect from
  // 0.01 to 100"), or empty.
  std::string Unreal() const;
};
