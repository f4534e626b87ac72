#include "qorv/foundation/info_points.h"

#include <cfloat>
#include <cmath>
#include <ostream>

#include "qorv/foundation/transfo3d.h"

namespace {

// 1e-11: below it the curve is straight at this point.
double radiusOf(double tangentLength, double cross) {
  if (cross <= equalityTolerance) return DBL_MAX;
  return tangentLength * tangentLength * tangentLength / cross;
}

}  // namespace

ERVector2D ERInfoPoint2D::normale() const {
  return ERVector2D(-tangent_.y(), tangent_.x()).normalize();
}

double ERInfoPoint2D::radius() const {
  return radiusOf(tangent_.norme(), std::fabs(tangent_ ^ second_));
}

void ERInfoPoint2D::printOn(std::ostream& os) const {
  os << "- Parametre     : " << u_ << '\n';
  os << "- Sens          : " << sens_ << '\n';
  os << "- Point courant : " << point_ << '\n';
  os << "- Tangente      : " << tangent_ << '\n';
  os << "- Normale       : " << normale() << '\n';
  os << "- courbure      : " << radius() << '\n';
}

ERInfoPoint3DWF::ERInfoPoint3DWF(const ERInfoPoint2D& info, const ERTr3DRev& T, Coord3D plane,
                                 double h)
    : u_(info.parameter()),
      sens_(info.Sens()),
      point_(T >> info.point().castToPoint3D(plane, h)),
      tangent_(T >> info.tangente().castToVector3D(plane, 0.0)),
      second_(T >> info.secondOrder().castToVector3D(plane, 0.0)) {}

ERVector3D ERInfoPoint3DWF::normale() const {
  return ((tangent_ ^ second_) ^ tangent_).normalize();
}

double ERInfoPoint3DWF::radius() const {
  return radiusOf(tangent_.norme(), (tangent_ ^ second_).norme());
}

int ERInfoPoint3DWF::isTgteSingular() const { return tangent_ == ERVector3D(); }

int ERInfoPoint3DWF::isNormSingular() const {
  return second_ == ERVector3D() || (second_ ^ tangent_).norme() == 0.0;
}

void ERInfoPoint3DWF::printOn(std::ostream& os) const {
  os << "- Parametre         :  u = " << u_ << '\n';
  os << "- Sens              :  s = " << sens_ << '\n';
  os << "- Point courant     :  P = " << point_ << '\n';
  os << "- Tangente          :  T = " << tangent_ << '\n';
  os << "- Normale           :  N = " << normale() << '\n';
  os << "- Rayon de courbure :  R = " << radius() << '\n';
}

std::ostream& operator<<(std::ostream& os, const ERInfoPoint2D& info) {
  info.printOn(os);
  return os;
}

std::ostream& operator<<(std::ostream& os, const ERInfoPoint3DWF& info) {
  info.printOn(os);
  return os;
}
