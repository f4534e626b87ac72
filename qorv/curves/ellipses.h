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
// - EREllipse2D(a, b, angle, centre) takes SEMI-axes: a along angle, b across it. With a >= b
//   (the usual call) L = 2a and the foci lie at +-sqrt(a^2 - b^2) along angle; with b > a the
//   major axis is the one across, L = 2b and the foci lie along angle + pi/2 (taking a as the
//   major semi-axis there would give an imaginary small axis). EREllipse2D(F1, F2, L) with foci
//   farther apart than L takes L as the small axis (L becomes sqrt(L^2 + |F1F2|^2)).
// - isValid(): finite foci, L > 0 and L >= |F1F2| (a real ellipse, not a point). Constructors
//   store what the rules above give (a negative or NaN axis stays as computed) and leave the
//   check to isValid(); the conic and five-point constructors give the default ellipse (L = 0,
//   not valid) for input that is no real ellipse.
// - The limits of an elliptic arc are central (polar) angles from the major axis, but the curve
//   parameter is the eccentric t of M + a cos t X + b sin t Y: PtCur(udeb()) is not the start
//   point; firstPt(), lastPt(), approxime(n) and randomPoint() convert. The conversion is one
//   continuous map for every operation (central_to_param: t = atan2(a sin theta, b cos theta)
//   taken in the quarter turn of theta, so it keeps the turn and the quadrant boundaries):
//   getBound() is [min, max] of the two converted limits, so an arc from 7pi/4 to 9pi/4 or
//   from -1e-20 keeps exactly its stored sweep (the folding of each limit into [0, 2pi) apart
//   would turn such arcs into their complement or add a turn). Equal limits or L = 0 give
//   [0, 2pi]. EllipseMath::central_to_param keeps the folding formula for those who ask for it.
// - getBox() of a full ellipse is exact (c +- sqrt(a^2 cos^2 phi + b^2 sin^2 phi), ...), not the
//   box of the ellipse turned onto the X axis, which does not hold a turned ellipse; the arcs'
//   boxes are exact too.
// - get_closest(p) answers for this ellipse wherever its centre lies (p is taken relative to
//   the centre before the turn; the recipe that turned p about the coordinate origin answered
//   for the ellipse moved to the origin). A failed kernel query gives (0, 0).
//   SignedMinimalDistance measures to the nearest point, negative inside.
// - The nearest point of an elliptic arc is the nearest of the ellipse's global foot when it is
//   on the arc, else of every foot inside the limits and the two ends, in the plane and in space
//   alike. The other feet are the roots of the Lagrange equation in closed form (two or none
//   besides the global foot's, bracketed by the least value of a convex function), refined by
//   Newton: a grid of the arc misses the pair a thin arc holds near a point by its major axis.
// - The axes' frame (get_closest, pointAt) is the foci's unit direction itself, so foci on a
//   coordinate axis turn nothing: a point on such an ellipse's major axis has its exact foot.
// - A mirror (det < 0) negates the central limits; scale(s) takes |s| for L. Both keep the arc's
//   points and its direction; splitAt keeps the direction of travel of a reversed arc.
// - intersectWith (line or plane through p of normal v) is solved in closed form in the arc's
//   parameters; the projection of a space arc onto a frame keeps the arc (an ERArcEllipse2D of
//   the same sweep and direction, or the segment it covers seen edge-on).
// - ConvertToNurbs: the circles' rational quadratic pieces in the eccentric parameter, over
//   getBound(), from firstPt() to lastPt(); the knots are eccentric parameters (equal limits:
//   the whole ellipse from the start point over [0, 2pi]). Null for an invalid arc.
// - The conic constructor scales the six coefficients by a power of two, takes the centre from
//   the 2 x 2 system and evaluates the conic there in compensated arithmetic, which the
//   centre's own error does not reach (the gradient vanishes there): an ellipse far from the
//   origin keeps its axes. Five points closer to a line than 1e-10 of their spread, or a conic
//   that misses one of them by more than 1e-7 of the ellipse's size, give the default ellipse.
// - The foci hold the small axis b only to their own rounding over b^2 / a: a very flat ellipse
//   far from the origin (a projection seen nearly edge-on) has b, and the points of its central
//   angles near the vertices, to that precision. A zero small axis (a segment) maps every
//   central angle to a vertex parameter.
//
// The closest point is the surface kernel's (zrkEllipse2::global_closest_point, global for every
// point); arc lengths are EllipseMath's Carlson integrals. The conic through five points is the
// null vector of the 5 x 6 system, taken as signed 5 x 5 minors after the points are centred and
// scaled to unit spread.
//
// Stored images (after the ERObject part, which writes nothing), little-endian doubles:
//   EREllipse2D     F1 x, y, F2 x, y, L                                40 bytes
//   ERArcEllipse2D  the ellipse, then start, end angles                56 bytes
//   EREllipse3D     the frame (an ERPmIsometrie3D record), the ellipse 156 bytes
//   ERArcEllipse3D  the space ellipse, then start, end angles         172 bytes
// A short record leaves the fields it could not complete as they were.
#pragma once

#include <cmath>
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
  const ERPoint2D& getFocus1() const { return f1_; }
  const ERPoint2D& getFocus2() const { return f2_; }
  ERMinimax2D getBox() const;
  // The nearest point of this ellipse to p.
  ERPoint2D get_closest(const ERPoint2D& p) const;
  // center + a cos t X + b sin t Y.
  ERPoint2D pointAt(double t) const;
  // The nearest point of the ellipse to p, and its eccentric parameter in (-pi, pi].
  ERPoint2D nearest(const ERPoint2D& p, double& t) const;

  // |p - q| for the nearest point q, negative inside; DISTMIN_NORMAL.
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d) const override;
  int isValid() const override;
  void scale(double s) override { f1_ *= s, f2_ *= s, L_ *= std::fabs(s); }
  void translate(const ERPoint2D& v) override { f1_ += v, f2_ += v; }
  void transformFrom(const ERTransfo2D& T) override;
  void transformTo(const ERTransfo2D& T) override;
  // A new EREllipse3D.
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;
  void reverse() override {}

  // printOn: "Ellipse", "focus 1 " F1, "focus 2 " F2, "Big Axe " L, "Small Axe " small axis,
  // "Center  " centre, each followed by a line end.
  QORV_DECLARE_STORED(EREllipse2D);

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
  // The points and draws at the converted limits.
  ERPoint2D firstPt() const override { return pointAt(central_to_param(udeb())); }
  ERPoint2D lastPt() const override { return pointAt(central_to_param(ufin())); }
  ERInfoPoint2D randomPoint() const override;
  QuickAlgebra::ERVec<ERPoint2D> approxime(int n) const override;
  using ERFiniteEntity2DWF::approxime;
  // The parameter in getBound() of the nearest point of the arc to p, and its distance.
  double nearestOnArc(const ERPoint2D& p, double& dist, bool& atEnd) const;
  // The eccentric parameter of the point at central angle theta, in the same quarter turn as
  // theta (continuous, increasing, exact at multiples of pi/2 up to rounding).
  double central_to_param(double theta) const;
  // Its inverse: the central angle of the point of parameter t, in the same quarter turn.
  double param_to_central(double t) const;

  // The parameter is the eccentric t. PtCur: sign 1, the second-order vector is the first
  // derivative turned a quarter turn clockwise. splitAt: two arcs of the same ellipse, split at
  // the point of parameter t. SignedMinimalDistance: the nearest point of the arc
  // (DISTMIN_END_POINT when it is an end), signed as the ellipse (negative inside), u its
  // parameter. ConvertToNurbs: the exact rational quadratic pieces over getBound(); see the
  // circles' conventions. printOn: the ellipse, then the angles.
  QORV_PLANE_ARC_OVERRIDES(ERArcEllipse2D, EREllipse2D);
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

  // SignedMinimalDistance: the unsigned distance to the nearest point of the ellipse
  // (DISTMIN_NORMAL). get2DEntProjectedOn: the ellipse expressed in F with the normal coordinate
  // dropped, an EREllipse2D (an ERSegment2D when seen edge-on within the circles' projection
  // precision). printOn: "Ellipse 3D :", "       : Normale " normal, then the plane ellipse.
  QORV_PLANAR_CURVE_OVERRIDES(EREllipse3D);

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
  ERPoint3D firstPt() const override;
  ERPoint3D lastPt() const override;
  ERInfoPoint3DWF randomPoint() const override;
  QuickAlgebra::ERVec<ERPoint3D> approxime(int n) const override;
  using ERFiniteEntity3DWF::approxime;
  // SignedMinimalDistance: the distance to the nearest point of the arc (DISTMIN_END_POINT
  // when it is an end). get2DEntProjectedOn: the arc seen in F, an ERArcEllipse2D of the same
  // points and direction (an ERSegment2D edge-on). scale: a round ellipse (its angles measured
  // from the frame's X axis) turns its limits by pi for a negative factor.
  QORV_PLANAR_ARC_OVERRIDES(ERArcEllipse3D, EREllipse3D);
};

namespace qorv::detail {
// The plane ellipse C + cos t A + sin t B (A, B conjugate semi-diameters).
QORV_API EREllipse2D ellipseFromConjugates(const ERPoint2D& c, const ERVector2D& A,
                                           const ERVector2D& B);
// The t in [lo, hi], with their turns, where A cos t + B sin t = C; appended ascending.
QORV_API void appendTrigRoots(double A, double B, double C, double lo, double hi,
                              QuickAlgebra::ERVec<double>& params);
}  // namespace qorv::detail
