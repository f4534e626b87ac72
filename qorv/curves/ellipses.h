// qorv/curves/ellipses.h
//
// Ellipses and elliptic arcs: EREllipse2D (a full ellipse, not a finite curve), ERArcEllipse2D
// (the ellipse bounded by two central angles), and their space forms EREllipse3D /
// ERArcEllipse3D, a plane ellipse drawn in the XY plane of a frame.
//
// Conventions a caller gets wrong:
// - An ellipse is stored as its two foci F1, F2 and its big axis L, the WHOLE major axis (2a),
//   the constant sum of the distances to the foci; getSmallAxe() is the whole minor axis
//   sqrt(L^2 - |F1F2|^2). The major axis runs from F1 to F2 (angle getAngle() in [0, 2pi)).
// - EREllipse2D(a, b, angle, centre) takes SEMI-axes and makes L = 2a whatever b; the foci lie
//   at +-sqrt(|a^2 - b^2|) along angle. EREllipse2D(F1, F2, L) with foci farther apart than L
//   takes L as the small axis (L becomes sqrt(L^2 + |F1F2|^2)).
// - The limits of an elliptic arc are central (polar) angles from the major axis, but the curve
//   parameter is the eccentric t of M + a cos t X + b sin t Y: PtCur(udeb()) is not the start
//   point. getBound() converts (central_to_param) and is [min, max]; a zero L gives [0, 2pi].
// - getBox() of a full ellipse is the box of the ellipse turned onto the X axis,
//   [cx - a, cx + a] x [cy - b, cy + b], whatever its direction; the arcs' boxes are exact.
// - get_closest(p) turns p about the coordinate ORIGIN, not the centre: it answers for the
//   ellipse centred at the origin (the space ellipse uses it so). A failed kernel query gives
//   (0, 0). SignedMinimalDistance measures from the real centre, negative inside.
// - A zero small axis divides by zero in central_to_param.
//
// The closest point is the surface kernel's (zrkEllipse2::global_closest_point, global for every
// point); arc lengths are EllipseMath's Carlson integrals. The conic through five points is the
// null vector of the 5 x 6 system, taken as signed 5 x 5 minors after the points are centred and
// scaled to unit spread; a conic that is no real ellipse gives the default ellipse.
//
// Stored images (after the ERObject part, which writes nothing), little-endian doubles:
//   EREllipse2D     F1 x, y, F2 x, y, L                                40 bytes
//   ERArcEllipse2D  the ellipse, then start, end angles                56 bytes
//   EREllipse3D     the frame (an ERPmIsometrie3D record), the ellipse 156 bytes
//   ERArcEllipse3D  the space ellipse, then start, end angles         172 bytes
// A short record leaves the fields it could not complete as they were.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "qorv/foundation/finite_entity.h"

// ---------------------------------------------------------------------------------------------
class QORV_API EREllipse2D : public virtual EREntity2DWF {
 public:
  QORV_DECLARE_CLASS(EREllipse2D, EREntity2DWF);

  EREllipse2D() = default;
  EREllipse2D(const ERPoint2D& F1, const ERPoint2D& F2, double L);
  EREllipse2D(double a, double b, double angle, const ERPoint2D& centre);
  // The conic A x^2 + B x y + C y^2 + D x + E y + F = 0.
  EREllipse2D(double A, double B, double C, double D, double E, double F);
  // The conic through five points.
  EREllipse2D(const ERPoint2D& p1, const ERPoint2D& p2, const ERPoint2D& p3, const ERPoint2D& p4,
              const ERPoint2D& p5);

  ERPoint2D center() const;
  double getBigAxe() const { return L_; }
  double getSmallAxe() const;
  double getAngle() const;
  ERVector2D getBigAxisDirection() const;
  ERVector2D getSmallAxisDirection() const;
  void getFocus(ERPoint2D& F1, ERPoint2D& F2) const { F1 = f1_, F2 = f2_; }
  ERMinimax2D getBox() const;
  ERPoint2D get_closest(const ERPoint2D& p) const;
  // center + a cos t X + b sin t Y.
  ERPoint2D pointAt(double t) const;
  // The nearest point of the ellipse to p (measured from the centre), and its eccentric
  // parameter in (-pi, pi].
  ERPoint2D nearest(const ERPoint2D& p, double& t) const;

  // |p - q| for the nearest point q, negative inside; DISTMIN_NORMAL.
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d) const override;
  void scale(double s) override { f1_ *= s, f2_ *= s, L_ *= s; }
  void translate(const ERPoint2D& v) override { f1_ += v, f2_ += v; }
  void transformFrom(const ERTransfo2D& T) override;
  void transformTo(const ERTransfo2D& T) override;
  // A new EREllipse3D.
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;
  void reverse() override {}

  ERObject* getCopy() const override;
  // "Ellipse", "focus 1 " F1, "focus 2 " F2, "Big Axe " L, "Small Axe " small axis,
  // "Center  " centre, each followed by a line end.
  void printOn(std::ostream& os) const override;
  void saveGuts(ERFile& f) const override;
  void restoreGuts(ERFile& f) override;
  std::uint32_t binaryStoreSize() const override { return 40; }

 protected:
  // As stored, without the constructors' rules.
  void setFoci(const ERPoint2D& F1, const ERPoint2D& F2, double L) { f1_ = F1, f2_ = F2, L_ = L; }

 private:
  ERPoint2D f1_;
  ERPoint2D f2_;
  double L_ = 0.0;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERArcEllipse2D : public EREllipse2D, public ERFiniteEntity2DWFBoundedWithAngle {
 public:
  QORV_DECLARE_CLASS(ERArcEllipse2D, EREllipse2D, ERFiniteEntity2DWFBoundedWithAngle);

  ERArcEllipse2D() = default;
  ERArcEllipse2D(const EREllipse2D& e, ERRadian start, ERRadian end)
      : EREllipse2D(e), ERFiniteEntity2DWFBoundedWithAngle(start, end) {}
  ERArcEllipse2D(const ERPoint2D& p1, const ERPoint2D& p2, const ERPoint2D& p3, const ERPoint2D& p4,
                 const ERPoint2D& p5, ERRadian start, ERRadian end)
      : EREllipse2D(p1, p2, p3, p4, p5), ERFiniteEntity2DWFBoundedWithAngle(start, end) {}
  ERArcEllipse2D(const ERPoint2D& F1, const ERPoint2D& F2, double L, ERRadian start, ERRadian end)
      : EREllipse2D(F1, F2, L), ERFiniteEntity2DWFBoundedWithAngle(start, end) {}
  ERArcEllipse2D(double a, double b, double angle, const ERPoint2D& centre, ERRadian start,
                 ERRadian end)
      : EREllipse2D(a, b, angle, centre), ERFiniteEntity2DWFBoundedWithAngle(start, end) {}

  EREllipse2D ellipse() const { return EREllipse2D(*this); }

  // The eccentric parameters of the limits, [min, max]; [0, 2pi] when they agree or L is 0.
  ERLimites getBound() const override;
  ERPoint2D operator()(double t) const override { return pointAt(t); }
  // Sign 1; the second-order vector is the first derivative turned a quarter turn clockwise.
  ERInfoPoint2D PtCur(double t) const override;
  ERMinimax2D getBox() const override;
  double arcLength(const ERLimites& range, double tol) const override;
  double arcLength(double tol) const override;
  // Two arcs of the same ellipse, split at the point of eccentric parameter t.
  int splitAt(t_SmartPtr<ERFiniteEntity2DWF>& first, t_SmartPtr<ERFiniteEntity2DWF>& second,
              double t) const override;
  int intersectWithAxeY(double x, QuickAlgebra::ERVec<double>& params) const override;
  // As the ellipse inside the range, else the nearer end (DISTMIN_END_POINT); u the parameter.
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d, double& u) const override;
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d) const override;

  void scale(double s) override { EREllipse2D::scale(s); }
  void translate(const ERPoint2D& v) override { EREllipse2D::translate(v); }
  void transformFrom(const ERTransfo2D& T) override { EREllipse2D::transformFrom(T); }
  void transformTo(const ERTransfo2D& T) override { EREllipse2D::transformTo(T); }
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;
  void reverse() override { ERFiniteEntity2DWFBoundedWithAngle::reverse(); }

  ERObject* getCopy() const override;
  // The ellipse, then the angles.
  void printOn(std::ostream& os) const override;
  void saveGuts(ERFile& f) const override;
  void restoreGuts(ERFile& f) override;
  std::uint32_t binaryStoreSize() const override { return 56; }

  // The eccentric parameter of the point at central angle theta (EllipseMath::central_to_param
  // with this ellipse's axes).
  double central_to_param(double theta) const;
  // The central angle of the point of parameter t, in the same quadrant and turn as t.
  double param_to_central(double t) const;

 protected:
  void prepareApprox(ERPoint12List& list, const ERLimites& range, double tol) const override;
};

// ---------------------------------------------------------------------------------------------
class QORV_API EREllipse3D : public ERPlanarEntity3DWF {
 public:
  QORV_DECLARE_CLASS(EREllipse3D, ERPlanarEntity3DWF);
  using ERPlanarEntity3DWF::transformFrom;
  using ERPlanarEntity3DWF::transformTo;

  EREllipse3D() = default;
  EREllipse3D(const ERPmIsometrie3D& frame, const EREllipse2D& e)
      : ERPlanarEntity3DWF(frame), ellipse_(e) {}

  const EREllipse2D& Ellipse2D() const { return ellipse_; }
  ERPoint3D center() const;
  // p projected on the plane, expressed in the frame, the plane get_closest, carried back.
  ERPoint3D get_closest(const ERPoint3D& p) const;

  // The unsigned distance to the nearest point of the ellipse; DISTMIN_NORMAL.
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& d) const override;
  void scale(double s) override;
  void translate(const ERPoint3D& v) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;
  // The ellipse expressed in F with the normal coordinate dropped: an EREllipse2D (an
  // ERSegment2D when seen edge-on within the circles' projection precision).
  t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D& F) const override;
  void reverse() override {}

  ERObject* getCopy() const override;
  // "Ellipse 3D :", "       : Normale " normal, then the plane ellipse.
  void printOn(std::ostream& os) const override;
  void saveGuts(ERFile& f) const override;
  void restoreGuts(ERFile& f) override;
  std::uint32_t binaryStoreSize() const override;

 protected:
  EREllipse2D ellipse_;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERArcEllipse3D : public EREllipse3D, public ERFiniteEntity3DWFBoundedWithAngle {
 public:
  QORV_DECLARE_CLASS(ERArcEllipse3D, EREllipse3D, ERFiniteEntity3DWFBoundedWithAngle);
  using EREllipse3D::transformFrom;
  using EREllipse3D::transformTo;

  ERArcEllipse3D() = default;
  ERArcEllipse3D(const ERPmIsometrie3D& frame, const EREllipse2D& e, ERRadian start, ERRadian end)
      : EREllipse3D(frame, e), ERFiniteEntity3DWFBoundedWithAngle(start, end) {}

  // The plane arc in the frame.
  ERArcEllipse2D Arc2D() const { return ERArcEllipse2D(ellipse_, udeb(), ufin()); }

  ERLimites getBound() const override { return Arc2D().getBound(); }
  ERPoint3D operator()(double t) const override;
  ERInfoPoint3DWF PtCur(double t) const override;
  ERMinimax3D getBox() const override;
  double arcLength(const ERLimites& range, double tol) const override;
  double arcLength(double tol) const override;
  int splitAt(t_SmartPtr<ERFiniteEntity3DWF>& first, t_SmartPtr<ERFiniteEntity3DWF>& second,
              double t) const override;
  int intersectWithPlanZ(double z, QuickAlgebra::ERVec<double>& params) const override;
  void reverse() override { ERFiniteEntity3DWFBoundedWithAngle::reverse(); }
  void scale(double s) override { EREllipse3D::scale(s); }
  void translate(const ERPoint3D& v) override { EREllipse3D::translate(v); }
  void transformFrom(const ERPmSimilitude3D& T) override { EREllipse3D::transformFrom(T); }
  void transformTo(const ERPmSimilitude3D& T) override { EREllipse3D::transformTo(T); }

  ERObject* getCopy() const override;
  void printOn(std::ostream& os) const override;
  void saveGuts(ERFile& f) const override;
  void restoreGuts(ERFile& f) override;
  std::uint32_t binaryStoreSize() const override;

 protected:
  void prepareApprox(ERPoint13List& list, const ERLimites& range, double tol) const override;
};

namespace qorv::detail {
// The plane ellipse C + cos t A + sin t B (A, B conjugate semi-diameters).
QORV_API EREllipse2D ellipseFromConjugates(const ERPoint2D& c, const ERVector2D& A,
                                           const ERVector2D& B);
// The t in [lo, hi], with their turns, where A cos t + B sin t = C; appended ascending.
QORV_API void appendTrigRoots(double A, double B, double C, double lo, double hi,
                              QuickAlgebra::ERVec<double>& params);
}  // namespace qorv::detail
