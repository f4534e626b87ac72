// qorv/curves/circles.h
//
// Circles and circular arcs: ERCircle2D (a full circle, not a finite curve), ERArc2D (the
// circle bounded by two angles), and their space forms ERCircle3D / ERArc3D, a plane circle
// drawn in the XY plane of a frame.
//
// Conventions a caller gets wrong:
// - Angles are radians about the centre, from the X axis (of the frame, in space); the curve
//   parameter of an arc is that polar angle. udeb() / ufin() are the stored start and end
//   angles, unordered and not normalised; getBound() is [min, max] of the two, and the arc is
//   the points whose angle lies in it, counted with its turns (an arc from 3pi/2 to 5pi/2 holds
//   the angle 0 as 2pi).
// - Plane signed distances: |p - centre| - r, negative inside, whatever the direction of an arc.
//   At the centre (within 1e-11) every point is equally near: DISTMIN_DEGENERATE.
// - One window rule for every operation of an arc: an angle is on the arc when one of its
//   representatives (theta + 2pi k) lies in getBound(), a miss by rounding only counting as the
//   end (qorv::detail::windowAngle). So limits below -pi or past 2pi project, cross and box like
//   any others. ProjectPoint, intersectWithAxeY and intersectWith append the representatives
//   (every one for an arc longer than a turn), a tangent line's angle only when it is on the
//   arc, and return the length of params. (Not the single "raise a negative angle by 2pi when a
//   limit exceeds pi" repair, which loses arcs below -pi.)
// - intersectWith (the line through p of normal v) is solved in the arc's own angles; the
//   finite-level default worked on a turned copy and answered in the copy's angles.
// - A direct map turns an arc's limits by ERTransfo2D::angle(); a mirror (det < 0) sends the
//   angle t to -angle() - t, so the arc keeps its points and its direction of travel. Radii
//   scale by sqrt|det| of a plane map and by the factor of a similitude; scale(s) takes |s| for
//   the radius and, for s < 0, turns the limits by pi.
// - isValid(): finite centre, limits and radius, radius >= 0. Constructors keep what they are
//   given (a radius of -1 is stored and printed as such) and leave the check to isValid().
// - The space circle keeps the plane circle's centre as given in its frame; setCenter moves the
//   frame; scale(s) scales the frame's origin and that plane centre alike (about the global
//   origin). Its signed distance is the unsigned distance in space to the circle line
//   (DISTMIN_NORMAL), DISTMIN_DEGENERATE on the axis.
// - The projection of a space circle onto a frame is a circle when the two normals are parallel
//   (|N x M| <= precision), a segment when perpendicular (|N . M| <= precision), else an
//   ellipse; the precision is one process-wide value (SetProjectionPrecision, default 1e-10),
//   to be set before concurrent use.
//
// - ConvertToNurbs: exact rational quadratic pieces of equal sweep, at most a quarter turn
//   each, over getBound(), from firstPt() at its start to lastPt() at its end (a reversed arc
//   runs backwards in angle). The knots are angles: the point at a knot t is the arc's point at
//   t (start <= end) or at start + end - t (start > end); between knots the rational
//   parametrisation leads or lags the angle slightly, every point on the circle. In space the
//   plane pieces are placed by the frame. A zero or non-finite sweep, an invalid arc or a sweep
//   past a thousand turns: null.
//
// Boxes are exact: the extremes of each coordinate of C + cos t U + sin t V lie at
// t = atan2(V_i, U_i) (+ pi), kept when inside the range, with the two ends.
//
// Stored images (after the ERObject part, which writes nothing), little-endian doubles:
//   ERCircle2D  centre x, y, radius                                   24 bytes
//   ERArc2D     the circle, then start, end angles                    40 bytes
//   ERCircle3D  the frame (an ERPmIsometrie3D record), the circle     140 bytes
//   ERArc3D     the space circle, then start, end angles             156 bytes
// A short record leaves the fields it could not complete as they were.
#pragma once

#include <cmath>
#include <cstdint>
#include <iosfwd>
#include <numbers>

#include "qorv/foundation/finite_entity.h"

class ERCircle3D;
class ERArc3D;

namespace qorv::detail {

// At most this far from the centre, every point of a circle is equally near.
inline constexpr double kCentreTol = 1e-11;

// The window rule of every arc: the angle theta, with any number of turns, lies on the arc of
// window [lo, hi] when one of its representatives theta + 2 pi k does. A representative that
// misses the window by rounding only (a few ulps of the window's magnitude) is the end it
// misses. windowAngle gives the lowest representative; windowAngles appends every one, for
// windows longer than a turn. Non-finite input lies nowhere.
inline double windowSlack(double lo, double hi) {
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  return 8.0 * 2.220446049250313e-16 * std::fmax(kTwoPi, std::fmax(std::fabs(lo), std::fabs(hi)));
}
inline bool windowAngle(double theta, double lo, double hi, double& u) {
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  if (!(std::isfinite(theta) && std::isfinite(lo) && std::isfinite(hi) && lo <= hi)) return false;
  double r = std::fmod(theta - lo, kTwoPi);
  if (r < 0.0) r += kTwoPi;
  const double slack = windowSlack(lo, hi);
  if (kTwoPi - r <= slack) {  // just below lo
    u = lo;
    return true;
  }
  u = lo + r;
  if (u <= hi) return true;
  if (u - hi <= slack) {
    u = hi;
    return true;
  }
  return false;
}
inline bool angleInRange(double theta, double lo, double hi) {
  double u;
  return windowAngle(theta, lo, hi, u);
}
// Appends to out (at most max entries) every representative in the window; returns the count.
inline int windowAngles(double theta, double lo, double hi, double* out, int max) {
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  double u;
  if (!windowAngle(theta, lo, hi, u)) return 0;
  int n = 0;
  const double slack = windowSlack(lo, hi);
  for (int k = 0; n < max; ++k) {
    const double v = u + k * kTwoPi;
    if (v > hi + slack) break;
    out[n++] = std::fmin(v, hi);
  }
  return n;
}

// The exact box of C + cos t U + sin t V for t in [lo, hi].
template <class Box, class P, class V>
Box conicBox(const P& c, const V& u, const V& v, double lo, double hi) {
  Box box;
  auto add = [&](double t) { box.Update(c + std::cos(t) * u + std::sin(t) * v); };
  add(lo);
  add(hi);
  for (int i = 0; i < V::kSize; ++i) {
    const double t = std::atan2(v.data()[i], u.data()[i]);
    for (double e : {t, t + std::numbers::pi})
      if (angleInRange(e, lo, hi)) add(e);
  }
  return box;
}

}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
class QORV_API ERCircle2D : public virtual EREntity2DWF {
 public:
  QORV_DECLARE_CLASS(ERCircle2D, EREntity2DWF);

  ERCircle2D() = default;
  ERCircle2D(const ERPoint2D& centre, double radius) : centre_(centre), radius_(radius) {}

  const ERPoint2D& center() const { return centre_; }
  double radius() const { return radius_; }
  double diameter() const { return 2.0 * radius_; }
  void setCenter(const ERPoint2D& c) { centre_ = c; }
  void setRadius(double r) { radius_ = r; }
  void setDiameter(double d) { radius_ = d / 2.0; }

  // centre + r (cos theta, sin theta), any theta.
  ERPoint2D pointAt(double theta) const;
  // centre +- r on both axes.
  ERMinimax2D getBox() const;

  // |p - centre| - r; DISTMIN_DEGENERATE at the centre, else DISTMIN_NORMAL.
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d) const override;
  // Finite centre and radius, radius >= 0 (0 is a point-like circle). The constructors and
  // setters store what they are given; this is where bad values show.
  int isValid() const override;
  // p -> s p: centre times s, radius times |s|.
  void scale(double s) override;
  void translate(const ERPoint2D& v) override { centre_ += v; }
  void transformFrom(const ERTransfo2D& T) override;
  void transformTo(const ERTransfo2D& T) override;
  // A new ERCircle3D: this circle in the frame's XY plane.
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;
  void reverse() override {}

  // printOn: "Cercle2D : Centre  " centre, line end, "         : Radius  " r, line end.
  QORV_DECLARE_STORED(ERCircle2D);

 private:
  ERPoint2D centre_;
  double radius_ = 0.0;  // 0 is a point-like circle, not an error
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERArc2D : public ERFiniteEntity2DWFBoundedWithAngle, public ERCircle2D {
 public:
  QORV_DECLARE_CLASS(ERArc2D, ERFiniteEntity2DWFBoundedWithAngle, ERCircle2D);

  ERArc2D() = default;
  ERArc2D(const ERCircle2D& c, ERRadian start, ERRadian end)
      : ERFiniteEntity2DWFBoundedWithAngle(start, end), ERCircle2D(c) {}
  ERArc2D(const ERPoint2D& centre, double r, ERRadian start, ERRadian end)
      : ERFiniteEntity2DWFBoundedWithAngle(start, end), ERCircle2D(centre, r) {}

  ERCircle2D circle() const { return ERCircle2D(center(), radius()); }

  // -(cos theta, sin theta): towards the centre.
  ERVector2D normal(double theta) const override;
  // Leaves 0 <= start < end <= 2pi alone; otherwise lowers both by 2pi while start > pi.
  void normalized();
  // -1 for the centre itself (nothing appended); else the length of params.
  int ProjectPoint(const ERPoint2D& p, QuickAlgebra::ERVec<double>& params,
                   double tol) const override;

  // The parameter is the polar angle theta. PtCur: sign 1, first derivative r (-sin, cos),
  // second-order vector r (cos, sin). arcLength: |end - start| r, the tolerance takes no part.
  // splitAt: [start, theta] and [theta, end] on the same circle. intersectWith: the crossings
  // with the line through p of normal v, in closed form (the default would answer in the angles
  // of a turned copy). SignedMinimalDistance: inside the angular range as the circle; outside it
  // the nearer end (DISTMIN_END_POINT), signed as the circle would sign it. isValid: the
  // circle's, and finite limits. scale: a negative factor turns the limits by pi (the points go
  // through the origin). get3DEquiv: a new ERArc3D. ConvertToNurbs: the exact rational quadratic
  // pieces; see the conventions. printOn: "Arc : Centre :" centre, line end, "      Rayon  :" r,
  // line end, "      StartAg:" udeb(), line end, "      EndAg  :" ufin() (no line end).
  // prepareApprox: the two ends and every quarter turn between them.
  QORV_PLANE_ARC_OVERRIDES(ERArc2D, ERCircle2D);
};
// ---------------------------------------------------------------------------------------------
class QORV_API ERCircle3D : public ERPlanarEntity3DWF {
 public:
  QORV_DECLARE_CLASS(ERCircle3D, ERPlanarEntity3DWF);
  using ERPlanarEntity3DWF::transformFrom;
  using ERPlanarEntity3DWF::transformTo;

  ERCircle3D() = default;
  // Frame from the normal (ERChgRepere3D) at the centre; the plane circle at its origin.
  ERCircle3D(const ERPoint3D& centre, const ERVector3D& normal, double r);
  ERCircle3D(const ERPmIsometrie3D& frame, const double& r)
      : ERPlanarEntity3DWF(frame), circle_(ERPoint2D(), r) {}
  ERCircle3D(const ERPmIsometrie3D& frame, const ERCircle2D& c)
      : ERPlanarEntity3DWF(frame), circle_(c.center(), c.radius()) {}
  // The plane circle lifted onto the plane of the axis at height h (the casting rule).
  ERCircle3D(const ERCircle2D& c, Coord3D axis, double h);

  const ERCircle2D& Circle2D() const { return circle_; }
  // The plane centre carried to global coordinates.
  ERPoint3D center() const;
  double radius() const { return circle_.radius(); }
  double diameter() const { return circle_.diameter(); }
  void setRadius(double r) { circle_.setRadius(r); }
  void setDiameter(double d) { circle_.setDiameter(d); }
  // Moves the frame so that the centre comes to c.
  void setCenter(const ERPoint3D& c);
  // A new frame from the normal at the centre; the plane centre becomes its origin.
  void setNormale(const ERVector3D& n);

  static void SetProjectionPrecision(double p);
  static double GetProjectionPrecision();
  int Project2DWillBeCircle(const ERPmIsometrie3D& F) const;
  int Project2DWillBeSegment(const ERPmIsometrie3D& F) const;
  int Project2DWillBeEllipse(const ERPmIsometrie3D& F) const;

  // SignedMinimalDistance: the unsigned distance to the circle line. transformFrom/To: the
  // frame's origin and axes through T (axes re-normalised), the plane data times T's factor.
  // get2DEntProjectedOn: ERCircle2D, ERSegment2D (edge-on) or EREllipse2D in F's coordinates,
  // tested in that order. printOn: "Cercle :", then "       : Normale " normal,
  // "       : Centre  " centre, "       : Radius  " radius, each on its own line.
  QORV_PLANAR_CURVE_OVERRIDES(ERCircle3D);

 protected:
  // The frame's unit X and Y axes in global coordinates.
  ERVector3D axisX() const { return frame().getVector(Coord3D::X); }
  ERVector3D axisY() const { return frame().getVector(Coord3D::Y); }

  ERCircle2D circle_;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERArc3D : public ERCircle3D, public ERFiniteEntity3DWFBoundedWithAngle {
 public:
  QORV_DECLARE_CLASS(ERArc3D, ERCircle3D, ERFiniteEntity3DWFBoundedWithAngle);
  using ERCircle3D::transformFrom;
  using ERCircle3D::transformTo;

  ERArc3D() = default;
  ERArc3D(const ERPmIsometrie3D& frame, const ERCircle2D& c, ERRadian start, ERRadian end)
      : ERCircle3D(frame, c), ERFiniteEntity3DWFBoundedWithAngle(start, end) {}
  ERArc3D(const ERPmIsometrie3D& frame, const ERArc2D& arc)
      : ERArc3D(frame, arc.circle(), arc.udeb(), arc.ufin()) {}
  ERArc3D(const ERPoint3D& centre, const ERVector3D& normal, double r, ERRadian start, ERRadian end)
      : ERCircle3D(centre, normal, r), ERFiniteEntity3DWFBoundedWithAngle(start, end) {}

  // The plane arc in the frame.
  ERArc2D Arc2D() const { return ERArc2D(circle_, udeb(), ufin()); }

  // PtCur: the plane record lifted with the frame (plane Z, height 0). intersectWithPlanZ and
  // intersectWith: z(theta) = A cos + B sin + z0 solved in closed form in the arc's angles,
  // ascending. SignedMinimalDistance: the distance to the nearest point of the arc
  // (DISTMIN_END_POINT when it is an end). get2DEntProjectedOn: ERArc2D when the normals are
  // parallel, ERSegment2D edge-on, else ERArcEllipse2D, of the same sweep and direction. scale:
  // a negative factor turns the limits by pi. printOn: the space circle, then the angles.
  QORV_PLANAR_ARC_OVERRIDES(ERArc3D, ERCircle3D);
};
