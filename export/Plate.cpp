#include "export/Plate.h"

#include <cmath>
#include <limits>

#include "math/Slowdown.h"

PlateMapping::PlateMapping(const HPlate& plate, int width, int height)
    : plate_(plate),
      plain_(plate.IsPlain()),
      hw_(static_cast<double>(width / 2)),
      hh_(static_cast<double>(height / 2)),
      aspect_(static_cast<double>(width) / static_cast<double>(height)),
      cx_(hw_ - plate.offsetX * static_cast<double>(width)),
      cy_(hh_ - plate.offsetY * static_cast<double>(width)),
      fold2_(plate.FoldSlope2()) {}

void PlateMapping::Map(double lens, const Vector& q, double& x, double& y) const {
  tq::Twice([&] {
    MapOnce(lens, q, x, y);
    return 0;
  });
}

void PlateMapping::MapOnce(double lens, const Vector& q, double& x, double& y) const {
  // Slopes as the distortion model has them: x right, y down, along the
  // depth in front of the camera (-Z).
  const double depth = -static_cast<double>(q.z);
  const double sx = static_cast<double>(q.x) / depth;
  const double sy = -static_cast<double>(q.y) / depth;
  double dx = sx, dy = sy;
  if (plate_.Distorts()) {
    const double r2 = sx * sx + sy * sy;
    if (!(r2 < fold2_)) {
      x = y = std::numeric_limits<double>::quiet_NaN();
      return;
    }
    const HPlate& p = plate_;
    const double radial = 1 + r2 * (p.k1 + r2 * (p.k2 + r2 * p.k3));
    dx = sx * radial + 2 * p.p1 * sx * sy + p.p2 * (r2 + 2 * sx * sx);
    dy = sy * radial + p.p1 * (r2 + 2 * sy * sy) + 2 * p.p2 * sx * sy;
  }
  // The focal length in pixels as the plain projection has it across
  // (hw / lens) and up (aspect x hh / lens), the latter times the pixel
  // aspect: a pixel A times as wide as it is tall spans A times as many
  // rows for the same slope.
  x = cx_ + (hw_ / lens) * dx;
  y = cy_ - (aspect_ * hh_ / lens) * plate_.pixelAspect * dy;
}
