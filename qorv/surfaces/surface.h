// qorv/surfaces/surface.h
//
// The root of every surface, ERSurface (orientation, orthogonal projection with the normal,
// offset), and the evaluation record of a parametric surface, ERInfoPoint3DSurf (the parameter
// and the matrix of partial derivatives).
//
// Conventions a caller gets wrong:
// - ERSurface::ProjectionNormale answers 1 with the foot and the UNIT normal there, 0 when there
//   is no unique foot; on 0 foot and normal are left as they were.
// - The derivative matrix holds D(i, j) = d^(i+j) S / du^i dv^j at index j * nu + i, nu being the
//   column count: element 0 is the point, 1 is Su, 2 is Suu, nu is Sv, nu + 1 is Suv, 2 nu is
//   Svv. An element the matrix does not hold reads as zero.
// - normale() counts a vector as zero when each component is at most 1e-11 in magnitude: with
//   Su zero it answers Svv normalised (zero too when Sv is zero), with Sv zero Suu normalised,
//   else Su x Sv normalised. At a pole the normal is thus a second derivative's direction.
// - Copies of a record share the derivative buffer (copy on write).
//
// ERSurface has no stored fields beyond those of its entity root: its stored image is empty.
#pragma once

#include <iosfwd>

#include "qorv/foundation/entity.h"
#include "qorv/foundation/points.h"
#include "qorv/support/quick_algebra.h"

class QORV_API ERInfoPoint3DSurf {
 public:
  ERInfoPoint3DSurf() = default;
  ERInfoPoint3DSurf(const ERPoint2D& uv, const QuickAlgebra::ERMatrix<ERPoint3D>& derivatives)
      : uv_(uv), d_(derivatives) {}

  const ERPoint2D& parameter() const { return uv_; }
  void setParameter(const ERPoint2D& uv) { uv_ = uv; }
  const QuickAlgebra::ERMatrix<ERPoint3D>& derivatives() const { return d_; }
  void setDerivatives(const QuickAlgebra::ERMatrix<ERPoint3D>& d) { d_ = d; }

  ERPoint3D point() const { return at(0); }
  ERVector3D tangenteU() const { return ERVector3D(at(1)); }
  ERVector3D tangenteV() const { return ERVector3D(at(d_.cols())); }
  ERVector3D normale() const;

  // "- Parametre     :  u = " uv, line end, "- Point courant :  P = " point, line end.
  void printOn(std::ostream& os) const;

 private:
  // Element k of the derivative buffer, the origin when the matrix does not hold it.
  ERPoint3D at(int k) const;

  ERPoint2D uv_;
  QuickAlgebra::ERMatrix<ERPoint3D> d_;
};

QORV_API std::ostream& operator<<(std::ostream& os, const ERInfoPoint3DSurf& info);

class QORV_API ERSurface : public EREntity3D {
 public:
  QORV_DECLARE_CLASS(ERSurface, EREntity3D);

  ~ERSurface() override = default;

  // Turns the normal's sense; nothing by default.
  virtual void reverse() {}
  // Foot of the perpendicular from p and the unit normal there: 1, or 0 (nothing written).
  virtual int ProjectionNormale(const ERPoint3D& p, ERPoint3D& foot, ERVector3D& normal) const {
    (void)p, (void)foot, (void)normal;
    return 0;
  }
  // Moves the surface by d along its normal; nothing by default.
  virtual void offset(double d) { (void)d; }
};
