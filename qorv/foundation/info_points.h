// qorv/foundation/info_points.h
//
// The evaluation records of curves: ERInfoPoint2D (plane curves) and ERInfoPoint3DWF (space
// curves). Each holds the parameter, a direction sign, the point, the first derivative (the
// tangent, not normalised) and a second-order vector.
//
// Conventions a caller gets wrong:
// - The second-order vector is what each curve documents: zero for straight curves, the tangent
//   turned a quarter turn clockwise for circles and ellipses, the second derivative for pole
//   curves. radius() and the 3D normale() read it as a second derivative.
// - normale() of the plane record is the left normal of the tangent (-T.y, T.x), normalised;
//   of the space record the principal normal normalise((T x A) x T), zero when singular.
// - radius() is +DBL_MAX when |T x A| <= 1e-11 (a straight point), else |T|^3 / |T x A|.
#pragma once

#include <iosfwd>

#include "qorv/platform/api.h"
#include "qorv/foundation/points.h"

class ERTr3DRev;

class QORV_API ERInfoPoint2D {
 public:
  ERInfoPoint2D() = default;
  ERInfoPoint2D(double u, int sens, const ERPoint2D& point, const ERVector2D& tangent,
                const ERVector2D& second)
      : u_(u), sens_(sens), point_(point), tangent_(tangent), second_(second) {}

  double parameter() const { return u_; }
  int Sens() const { return sens_; }
  const ERPoint2D& point() const { return point_; }
  const ERVector2D& tangente() const { return tangent_; }
  const ERVector2D& secondOrder() const { return second_; }
  void setParameter(double u) { u_ = u; }
  void setSens(int s) { sens_ = s; }
  void setPoint(const ERPoint2D& p) { point_ = p; }
  void setTangente(const ERVector2D& t) { tangent_ = t; }
  void setSecondOrder(const ERVector2D& a) { second_ = a; }

  ERVector2D normale() const;
  double radius() const;

  // "- Parametre     : " u, "- Sens          : ", "- Point courant : ", "- Tangente      : ",
  // "- Normale       : ", "- courbure      : " radius(), each value followed by a line end.
  void printOn(std::ostream& os) const;

 private:
  double u_ = 0.0;
  int sens_ = 1;
  ERPoint2D point_;
  ERVector2D tangent_;
  ERVector2D second_;
};

class QORV_API ERInfoPoint3DWF {
 public:
  ERInfoPoint3DWF() = default;
  ERInfoPoint3DWF(double u, int sens, const ERPoint3D& point, const ERVector3D& tangent,
                  const ERVector3D& second)
      : u_(u), sens_(sens), point_(point), tangent_(tangent), second_(second) {}
  // The plane record lifted onto the plane of the given axis at height h (the point takes h,
  // the vectors 0), then carried through T (local to global).
  ERInfoPoint3DWF(const ERInfoPoint2D& info, const ERTr3DRev& T, Coord3D plane, double h);

  double parameter() const { return u_; }
  int Sens() const { return sens_; }
  const ERPoint3D& point() const { return point_; }
  const ERVector3D& tangente() const { return tangent_; }
  const ERVector3D& secondOrder() const { return second_; }
  void setParameter(double u) { u_ = u; }
  void setSens(int s) { sens_ = s; }
  void setPoint(const ERPoint3D& p) { point_ = p; }
  void setTangente(const ERVector3D& t) { tangent_ = t; }
  void setSecondOrder(const ERVector3D& a) { second_ = a; }

  ERVector3D normale() const;
  double radius() const;
  // The first derivative is exactly zero.
  int isTgteSingular() const;
  // The second-order vector is exactly zero, or its cross product with the tangent is.
  int isNormSingular() const;

  // "- Parametre         :  u = ", "- Sens              :  s = ", "- Point courant     :  P = ",
  // "- Tangente          :  T = ", "- Normale           :  N = ", "- Rayon de courbure :  R = ",
  // each followed by its value and a line end.
  void printOn(std::ostream& os) const;

 private:
  double u_ = 0.0;
  int sens_ = 1;
  ERPoint3D point_;
  ERVector3D tangent_;
  ERVector3D second_;
};

QORV_API std::ostream& operator<<(std::ostream& os, const ERInfoPoint2D& info);
QORV_API std::ostream& operator<<(std::ostream& os, const ERInfoPoint3DWF& info);
