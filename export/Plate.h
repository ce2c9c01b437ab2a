// Where a projected point lands on the plate as shot: the camera's film
// offset, pixel aspect and lens distortion (HPlate), applied to the point in
// camera space before the final rounding. A plain plate is never mapped:
// the export's pixels stay as the plain projection gives them.
#pragma once

#include "host/scene/Scene.h"
#include "math/Vector.h"

// A plate fixed for one run: its camera's plate and the image's size.
class PlateMapping {
 public:
  PlateMapping(const HPlate& plate, int width, int height);

  bool Plain() const { return plain_; }

  // The pixel (before rounding) at which the camera-space point q lands
  // through a lens of factor lens (the plain projection's slope factor,
  // about 17.5 / f); NaN in both coordinates for a point beyond where the
  // distortion holds (HPlate::FoldSlope2), which the export writes as a
  // point it could not project.
  void Map(double lens, const Vector& q, double& x, double& y) const;

 private:
  void MapOnce(double lens, const Vector& q, double& x, double& y) const;

  HPlate plate_;
  bool plain_;
  double hw_, hh_, aspect_;  // as the plain projection has them
  double cx_, cy_;           // the principal point: the centre moved by the offset
  double fold2_;
};
