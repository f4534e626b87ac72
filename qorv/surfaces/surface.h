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
//   else Su x Sv normalised. At a pole the normal is thus a second derivative's direction. The
//   vectors are scaled by powers of two first, so the normal is unit at every magnitude.
// - An order-2 record (the 3 x 3 matrix every bounded and pole surface fills) keeps its nine
//   elements inline: building and copying it allocates nothing. derivatives() of such a record
//   builds the matrix on its first call, so two threads must not make that first call on one
//   record at once; partial(i, j) reads without building anything.
// - Copies of a record built from a matrix share the derivative buffer (copy on write).
// - Curvatures are signed against the normal Su x Sv: a sphere whose parameterisation turns
//   that normal outwards has curvatures -1/R. They need a tangent plane: where Su x Sv is
//   zero (a pole) every curvature is 0 and the principal directions are zero vectors. The
//   derivatives are scaled by a power of two before the forms are built, so that no square
//   overflows or underflows at any magnitude.
// - courburesExtremes gives k1 >= k2 from H +- sqrt(((l - n)/2)^2 + m^2), the second form in an
//   orthonormal frame of the tangent plane: the same roots as the quadratic
//   (EG - F^2) k^2 + (2FM - GL - EN) k + (LN - M^2) = 0, but a sum of squares under the root, so
//   an umbilic (discriminant exactly 0) never rounds to a negative one and always gets k1 = k2.
// - directionPrincipale gives (du, dv) for k1 and k2, scaled so that du Su + dv Sv is a unit
//   tangent vector; at an umbilic d1 is along Su.
// - transformFrom / transformTo move the point as a point and every derivative as a vector.
//
// ERSurface has no stored fields beyond those of its entity root: its stored image is empty.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iosfwd>
#include <utility>

#include "qorv/foundation/entity.h"
#include "qorv/foundation/points.h"
#include "qorv/foundation/transfo3d.h"
#include "qorv/support/quick_algebra.h"

class QORV_API ERInfoPoint3DSurf {
 public:
  // e_ is read only by order-2 records; zeroed here all the same, so that no reading of a
  // record built from a matrix can see indeterminate values.
  ERInfoPoint3DSurf() : e_{} {}
  ERInfoPoint3DSurf(const ERPoint2D& uv, const QuickAlgebra::ERMatrix<ERPoint3D>& derivatives)
      : uv_(uv), e_{}, d_(derivatives) {}
  ERInfoPoint3DSurf(const ERPoint2D& uv, QuickAlgebra::ERMatrix<ERPoint3D>&& derivatives)
      : uv_(uv), e_{}, d_(std::move(derivatives)) {}
  // The order-2 record: d[j * 3 + i] = D(i, j) for i, j in 0..2.
  ERInfoPoint3DSurf(const ERPoint2D& uv, const ERPoint3D (&d)[9]);
  // An order-2 record for an evaluator to fill in place: it must set() all nine elements.
  struct Order2 {};
  ERInfoPoint3DSurf(const ERPoint2D& uv, Order2) : uv_(uv), inline_(true) {}
  ERInfoPoint3DSurf(const ERInfoPoint3DSurf& o)
      : uv_(o.uv_), inline_(o.inline_), built_(o.built_), d_(o.d_) {
    if (inline_) std::copy_n(o.e_, 27, e_);
  }
  ERInfoPoint3DSurf& operator=(const ERInfoPoint3DSurf& o) {
    if (this == &o) return *this;
    uv_ = o.uv_, inline_ = o.inline_, built_ = o.built_, d_ = o.d_;
    if (inline_) std::copy_n(o.e_, 27, e_);
    return *this;
  }
  // D(i, j) of an order-2 record, i, j in 0..2 (ignored otherwise).
  void set(int i, int j, double x, double y, double z) {
    if (!inline_ || i < 0 || j < 0 || i > 2 || j > 2) return;
    double* e = e_ + 3 * (j * 3 + i);
    e[0] = x, e[1] = y, e[2] = z;
    built_ = false;
  }

  const ERPoint2D& parameter() const { return uv_; }
  void setParameter(const ERPoint2D& uv) { uv_ = uv; }
  const QuickAlgebra::ERMatrix<ERPoint3D>& derivatives() const;
  void setDerivatives(const QuickAlgebra::ERMatrix<ERPoint3D>& d) {
    inline_ = built_ = false;
    d_ = d;
  }
  // D(i, j) = d^(i+j) S / du^i dv^j, zero when the record does not hold it.
  ERVector3D partial(int i, int j) const {
    if (!inline_) return matrixPartial(i, j);
    if (i < 0 || j < 0 || i > 2 || j > 2) return ERVector3D(0.0, 0.0, 0.0);
    const double* e = e_ + 3 * (j * 3 + i);
    return ERVector3D(e[0], e[1], e[2]);
  }

  ERPoint3D point() const { return at(0); }
  ERVector3D tangenteU() const { return partial(1, 0); }
  ERVector3D tangenteV() const { return partial(0, 1); }
  ERVector3D normale() const;

  // K = (LN - M^2) / (EG - F^2).
  double courbureGaussienne() const;
  // H = (EN - 2FM + GL) / 2 (EG - F^2).
  double courbureMoyenne() const;
  // (L du^2 + 2M du dv + N dv^2) / (E du^2 + 2F du dv + G dv^2); 0 for a zero direction.
  double courbureNormale(double du, double dv) const;
  // The principal curvatures, k1 >= k2.
  void courburesExtremes(double& k1, double& k2) const;
  // The principal directions in the parameter plane, d1 for k1 and d2 for k2.
  void directionPrincipale(ERVector2D& d1, ERVector2D& d2) const;

  void transformFrom(const ERPmIsometrie3D& T);
  void transformTo(const ERPmIsometrie3D& T);

  // "- Parametre     :  u = " uv, line end, "- Point courant :  P = " point, line end.
  void printOn(std::ostream& os) const;

 private:
  // Element k of the derivative buffer, the origin when the matrix does not hold it.
  ERPoint3D at(int k) const {
    if (!inline_) return matrixAt(k);
    if (k < 0 || k > 8) return ERPoint3D();
    return ERPoint3D(e_[3 * k], e_[3 * k + 1], e_[3 * k + 2]);
  }
  ERPoint3D matrixAt(int k) const;
  ERVector3D matrixPartial(int i, int j) const;

  ERPoint2D uv_;
  bool inline_ = false;         // e_ holds the derivatives (else d_ does, and e_ is unused)
  mutable bool built_ = false;  // of an inline record: d_ is a copy of e_
  double e_[27];

  mutable QuickAlgebra::ERMatrix<ERPoint3D> d_;
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
  // The signed distances of n points at once (xyz holds x, y, z of each in turn): out[i] is the
  // distance SignedMinimalDistance gives for point i, bit for bit. The analytic kinds answer
  // without a call per point.
  virtual void SignedDistances(const double* xyz, std::size_t n, double* out) const;
};
