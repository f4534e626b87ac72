#include "qorv/surfaces/surface.h"

#include <cmath>
#include <ostream>

using namespace qorv;

QORV_DEFINE_ABSTRACT_CLASS(ERSurface);

namespace {

bool isZeroVector(const ERVector3D& v) {
  return std::fabs(v.x()) <= 1e-11 && std::fabs(v.y()) <= 1e-11 && std::fabs(v.z()) <= 1e-11;
}

}  // namespace

ERPoint3D ERInfoPoint3DSurf::at(int k) const {
  if (k < 0 || k >= d_.length()) return ERPoint3D();
  return d_.data()[k];
}

ERVector3D ERInfoPoint3DSurf::normale() const {
  const int nu = d_.cols();
  const ERVector3D su = tangenteU();
  const ERVector3D sv = tangenteV();
  if (isZeroVector(su)) {
    if (isZeroVector(sv)) return ERVector3D(0.0, 0.0, 0.0);
    return ERVector3D(at(2 * nu)).normalize();
  }
  if (isZeroVector(sv)) return ERVector3D(at(2)).normalize();
  return (su ^ sv).normalize();
}

void ERInfoPoint3DSurf::printOn(std::ostream& os) const {
  os << "- Parametre     :  u = " << uv_ << '\n';
  os << "- Point courant :  P = " << point() << '\n';
}

std::ostream& operator<<(std::ostream& os, const ERInfoPoint3DSurf& info) {
  info.printOn(os);
  return os;
}
