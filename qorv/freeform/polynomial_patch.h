// qorv/freeform/polynomial_patch.h
//
// Polynomial patch curves: every coordinate (and, when rational, the weight) an ERPolynome in
// the parameter t over a domain [t0, t1]. ERPatchCPoly holds the polynomials; ERPatchCPoly2D and
// ERPatchCPoly3D are the curves (one declaration and one template body for both).
//
// Conventions a caller gets wrong:
// - The polynomials are in the curve's own parameter: reparametrize composes them so that the
//   curve is unchanged while t runs over the new domain; redefineDomain only changes the domain
//   (the curve becomes the piece over it, or extends past its ends).
// - isRational: 3 polynomials in the plane (x, y, w), 4 in space; the point is (x/w, y/w).
// - ProjectPoint appends the parameters where the squared distance to p is stationary (every
//   foot, and the centres-of-curvature double roots) and returns how many entries params holds,
//   -1 when every parameter is stationary (p the centre of a circle patch); the caller picks the
//   nearest among them and the ends.
// - getBox is exact: the ends and every coordinate's stationary parameter inside the domain.
// - scale and the transformations act on the coordinate polynomials (a translation through the
//   weight), so a rational patch stays the same rational curve moved.
// - ConvertToNurbs gives the Bezier form of the patch as a NURBS over the patch's own domain
//   [t0, t1]: degree the largest polynomial degree, the Bernstein coefficients of the
//   polynomials in s = (t - t0) / (t1 - t0) as poles (weight 1 unless rational: x, y (, z), w
//   are then the homogeneous coordinates), so the NURBS is the patch's own piece: x = t, y = t^2
//   on [2, 5] gives (2, 4), (3.5, 10), (5, 25), not the poles of [0, 1]. castToCpole gives the
//   same curve as a pole curve.
//   Null for an empty or non-finite domain or a polynomial count that does not fit.
//
// Stored image (after the limited-entity part: domain start, end, 16 bytes):
//   4   polynomial count k (2 or 3 in the plane, 3 or 4 in space)
//   k   polynomial records: 4-byte byte length 8 c, then c doubles
// restoreGuts leaves the patch as it was on a short or inconsistent record (a count that does
// not fit the dimension).
//
// Print form: the limited-entity part ("Domaine : " domain, line end), "Patch Polynomial", a
// line end, then each polynomial's print followed by a line end.
#pragma once

#include <cstdint>
#include <ostream>

#include "qorv/foundation/finite_entity.h"
#include "qorv/freeform/polynomial.h"
#include "qorv/support/val_vector.h"

class ERCpoleRep2D;
class ERCpoleRep3D;

class QORV_API ERPatchCPoly {
 public:
  ERPatchCPoly() = default;
  explicit ERPatchCPoly(const ERTValVector<ERPolynome>& polys) : polys_(polys) {}
  virtual ~ERPatchCPoly() = default;

  virtual void printOn(std::ostream& os) const;
  virtual void saveGuts(ERFile& f) const { polys_.saveGuts(f); }
  virtual void restoreGuts(ERFile& f) { restorePolys(f); }
  virtual std::uint32_t binaryStoreSize() const { return polys_.binaryStoreSize(); }
  // Multiplies the coordinate polynomials (not the weight).
  virtual void scale(double s);

  const ERTValVector<ERPolynome>& polynomials() const { return polys_; }
  int nbPolynomials() const { return polys_.length(); }

 protected:
  // The coordinate count of the dimension (2 or 3).
  virtual int dimension() const = 0;
  // 0 (nothing changed) for a short record or a count that does not fit the dimension.
  int restorePolys(ERFile& f);

  ERTValVector<ERPolynome> polys_;
};

#define QORV_PATCH_CPOLY(Class, Limited, Finite, Point, Info, Box, Transfo, OtherEntity,         \
                         OtherMethod, Rep)                                                       \
  class QORV_API Class : public ERPatchCPoly, public Limited {                                   \
   public:                                                                                       \
    QORV_DECLARE_CLASS(Class, Limited);                                                          \
    Class() = default;                                                                           \
    Class(const Class&) = default;                                                               \
    Class(const ERTValVector<ERPolynome>& polys, const ERLimites& range);                        \
    ~Class() override = default;                                                                 \
                                                                                                 \
    int isRational() const { return polys_.length() == Point::kSize + 1; }                       \
    Info PtCur(double t) const override;                                                         \
    Box getBox() const override;                                                                 \
    double arcLength(const ERLimites& range, double tol) const override;                         \
    double arcLength(double tol) const override;                                                 \
    int splitAt(t_SmartPtr<Finite>& first, t_SmartPtr<Finite>& second, double u) const override; \
    int ProjectPoint(const Point& p, QuickAlgebra::ERVec<double>& params,                        \
                     double tol) const override;                                                 \
    void reparametrize(const ERLimites& range) override;                                         \
    void reverse() override;                                                                     \
    void scale(double s) override;                                                               \
    void translate(const Point& v) override;                                                     \
    using Limited::transformFrom;                                                                \
    using Limited::transformTo;                                                                  \
    void transformFrom(const Transfo& T) override;                                               \
    void transformTo(const Transfo& T) override;                                                 \
    t_SmartPtr<OtherEntity> OtherMethod(const ERPmIsometrie3D& frame) const override;            \
    /* The Bezier form over the domain: see the conventions. */                                  \
    NurbsPtr ConvertToNurbs() const override;                                                    \
    t_SmartPtr<Rep> castToCpole() const;                                                         \
    QORV_DECLARE_STORED(Class);                                                                  \
                                                                                                 \
   protected:                                                                                    \
    int dimension() const override { return Point::kSize; }                                      \
  }

QORV_PATCH_CPOLY(ERPatchCPoly2D, ERLimitedEntity2DWF, ERFiniteEntity2DWF, ERPoint2D, ERInfoPoint2D,
                 ERMinimax2D, ERTransfo2D, EREntity3DWF, get3DEquiv, ERCpoleRep2D);
QORV_PATCH_CPOLY(ERPatchCPoly3D, ERLimitedEntity3DWF, ERFiniteEntity3DWF, ERPoint3D,
                 ERInfoPoint3DWF, ERMinimax3D, ERPmSimilitude3D, EREntity2DWF, get2DEntProjectedOn,
                 ERCpoleRep3D);
