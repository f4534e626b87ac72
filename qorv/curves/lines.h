// qorv/curves/lines.h
//
// The straight curves: the infinite lines ERInfLine2D / ERInfLine3D (no parameter range) and
// the segments ERSegment2D / ERSegment3D (finite curves on [0, 1], point(u) = P1 + u (P2 - P1)).
//
// Conventions a caller gets wrong:
// - A line keeps a unit direction and, as its origin, the foot of the perpendicular from the
//   coordinate origin; every constructor re-takes that foot, later moves (translate, scale,
//   transformations) move the stored origin as it is. Transformations do not re-normalise the
//   direction.
// - Plane signed distances are positive on the RIGHT of the direction of travel. A point on a
//   segment's supporting line (cross product 0) gets the negative sign.
// - ERInfLine2D::isParallelTo(other, tol) is true when |D1 . D2| <= tol: when the directions are
//   PERPENDICULAR within tol. ERInfLine3D::IsParallelTo is the parallel test, 1 - |D1 . D2| <= tol.
// - Segment parameters are not clamped by operator() and splitAt; SignedMinimalDistance clamps
//   the u it reports into [0, 1] and calls the band (-1e-7, 1.0000001) the segment's inside.
// - Coincident points give a zero direction (no error): a zero-length segment projects nothing
//   (the parameter is NaN) and measures distances to P1. ERInfLine2D(0, 0, c) is the degenerate
//   line of zero direction through the coordinate origin.
// - intersectWithAxeY / intersectWithPlanZ / intersectWith of a segment parallel to the line or
//   plane return 0 and leave params alone; otherwise they append the crossing when it lies in
//   [0, 1] and return the length of params. intersectWith is solved in closed form, not through
//   a turned copy, so it holds at every magnitude.
// - Directions, lengths and distances hold from 1e-300 to 1e300 (scaled like std::hypot).
// - isValid(): every coordinate finite (a NaN or infinite point or direction is invalid; a zero
//   direction is degenerate, not invalid). Print forms show a NaN as "nan", never signed.
//
// ConvertToNurbs of a segment: the degree-1 curve with poles P1, P2 of weight 1 over [0, 1]
// (defined with the pole curves).
//
// Stored images (after the ERObject part, which writes nothing), little-endian doubles:
//   ERInfLine2D  direction x, y, origin x, y          32 bytes
//   ERInfLine3D  direction x, y, z, origin x, y, z    48 bytes
//   ERSegment2D  P1 x, y, P2 x, y                     32 bytes
//   ERSegment3D  P1 x, y, z, P2 x, y, z               48 bytes
// A short record leaves the object as it was.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "qorv/foundation/finite_entity.h"

class ERSegment2D;
class ERSegment3D;

// ---------------------------------------------------------------------------------------------
class QORV_API ERInfLine2D : public virtual EREntity2DWF {
 public:
  QORV_DECLARE_CLASS(ERInfLine2D, EREntity2DWF);

  // Direction (1, 0) through the coordinate origin.
  ERInfLine2D() : dir_(1.0, 0.0) {}
  // Direction p2 - p1.
  ERInfLine2D(const ERPoint2D& p1, const ERPoint2D& p2);
  ERInfLine2D(const ERVector2D& v, const ERPoint2D& p);
  // The line a x + b y + c = 0, directed along (-b, a).
  ERInfLine2D(double a, double b, double c);
  explicit ERInfLine2D(const ERSegment2D& s);

  const ERVector2D& dirVector() const { return dir_; }
  const ERPoint2D& origine() const { return origin_; }
  // The left normal (-d.y, d.x), as long as the direction.
  ERVector2D normalVector() const { return ERVector2D(-dir_.y(), dir_.x()); }
  ERPoint2D projectPt(const ERPoint2D& p) const;
  // Moves the line by dist along its left normal.
  void offset(double dist);
  ERInfLine2D parallele(double dist) const;
  // |D1 . D2| <= tol: the directions are perpendicular within tol.
  int isParallelTo(const ERInfLine2D& other, double tol = equalityTolerance) const;

  // d = (p - O) x D: positive on the right; DISTMIN_NORMAL.
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d) const override;
  void scale(double s) override { origin_ *= s; }
  void translate(const ERPoint2D& v) override { origin_ += v; }
  void transformFrom(const ERTransfo2D& T) override;
  void transformTo(const ERTransfo2D& T) override;
  // The ERInfLine3D of the line lifted to z = 0 and placed by the frame.
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;
  void reverse() override { dir_ = -dir_; }

  int isValid() const override;
  // printOn, precision 3: "InfLine2D O" origin " V" direction (each coordinate in width 5), then
  // " (  " d.y " *x + " -d.x " *y + " (d.x O.y - d.y O.x) " = 0 )", line end.
  QORV_DECLARE_STORED(ERInfLine2D);

 private:
  ERVector2D dir_;
  ERPoint2D origin_;
};

// The unsigned distance from p to the line.
namespace qorv {
QORV_API double distance(const ERInfLine2D& line, const ERPoint2D& p);
}  // namespace qorv

// ---------------------------------------------------------------------------------------------
class QORV_API ERInfLine3D : public virtual EREntity3DWF {
 public:
  QORV_DECLARE_CLASS(ERInfLine3D, EREntity3DWF);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  // The Z axis.
  ERInfLine3D() : dir_(0.0, 0.0, 1.0) {}
  ERInfLine3D(const ERPoint3D& p1, const ERPoint3D& p2);
  ERInfLine3D(const ERVector3D& v, const ERPoint3D& p);
  explicit ERInfLine3D(const ERSegment3D& s);
  // The plane line lifted onto the plane of the axis at height h.
  ERInfLine3D(const ERInfLine2D& line, Coord3D axis, double h);
  // The plane line in the frame's XY plane, placed by the frame.
  ERInfLine3D(const ERInfLine2D& line, const ERPmIsometrie3D& frame);

  const ERVector3D& dirVector() const { return dir_; }
  const ERPoint3D& origine() const { return origin_; }
  ERPoint3D projectPt(const ERPoint3D& p) const;
  // 1 - |D1 . D2| <= tol.
  int IsParallelTo(const ERInfLine3D& other, double tol = equalityTolerance) const;

  // d = |p - projectPt(p)|, never negative; DISTMIN_UNSIGNED.
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& d) const override;
  void scale(double s) override { origin_ *= s; }
  void translate(const ERPoint3D& v) override { origin_ += v; }
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;
  // Origin and direction expressed in the frame, z dropped: a new ERInfLine2D.
  t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D& frame) const override;
  void reverse() override { dir_ = -dir_; }

  int isValid() const override;
  // printOn: "Droite Infinie Org=" origin " Vec=" direction, line end.
  QORV_DECLARE_STORED(ERInfLine3D);

 private:
  ERVector3D dir_;
  ERPoint3D origin_;
};

namespace qorv {
QORV_API double distance(const ERInfLine3D& line, const ERPoint3D& p);
}  // namespace qorv

// ---------------------------------------------------------------------------------------------
class QORV_API ERSegment2D : public ERFiniteEntity2DWF {
 public:
  QORV_DECLARE_CLASS(ERSegment2D, ERFiniteEntity2DWF);
  using ERFiniteEntity2DWF::SignedMinimalDistance;

  ERSegment2D() = default;
  ERSegment2D(const ERPoint2D& p1, const ERPoint2D& p2) : p1_(p1), p2_(p2) {}

  const ERPoint2D& getP1() const { return p1_; }
  const ERPoint2D& getP2() const { return p2_; }
  void setP1(const ERPoint2D& p) { p1_ = p; }
  void setP2(const ERPoint2D& p) { p2_ = p; }
  // P2 - P1 normalised (zero for coincident points).
  ERVector2D dirVector() const { return ERVector2D(p1_, p2_).normalize(); }
  // The left normal of dirVector().
  ERVector2D normalVector() const;
  ERVector2D normal(double) const override { return normalVector(); }

  ERPoint2D operator()(double u) const override;
  ERInfoPoint2D PtCur(double u) const override;
  int isClosed(double) const override { return 0; }
  ERMinimax2D getBox() const override { return ERMinimax2D(p1_, p2_); }
  // |P2 - P1| times the parameter length; the tolerance takes no part.
  double arcLength(const ERLimites& range, double tol) const override;
  double arcLength(double tol) const override;
  // The points at the two ends of the range: a straight chord needs no refinement.
  QuickAlgebra::ERVec<ERPoint2D> approxime(const ERLimites& range, double tol) const override;
  // P1 and P2, whatever n.
  QuickAlgebra::ERVec<ERPoint2D> approxime(int n) const override;
  int splitAt(t_SmartPtr<ERFiniteEntity2DWF>& first, t_SmartPtr<ERFiniteEntity2DWF>& second,
              double u) const override;
  int intersectWithAxeY(double x, QuickAlgebra::ERVec<double>& params) const override;
  // In closed form, the same at every magnitude (the default goes through a frame).
  int intersectWith(const ERPoint2D& p, const ERVector2D& v,
                    QuickAlgebra::ERVec<double>& params) const override;
  // Appends t = ((p - P1) . D) / |P2 - P1| when it lies in [0, 1].
  int ProjectPoint(const ERPoint2D& p, QuickAlgebra::ERVec<double>& params,
                   double tol) const override;
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d, double& u) const override;

  void scale(double s) override { p1_ *= s, p2_ *= s; }
  void translate(const ERPoint2D& v) override { p1_ += v, p2_ += v; }
  void transformFrom(const ERTransfo2D& T) override;
  void transformTo(const ERTransfo2D& T) override;
  // Both points lifted to z = 0 and placed by the frame: a new ERSegment3D.
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;
  void reverse() override;
  NurbsPtr ConvertToNurbs() const override;

  int isValid() const override;
  // printOn: "Segment 2D : P1=" P1 " P2=" P2, line end.
  QORV_DECLARE_STORED(ERSegment2D);

 private:
  ERPoint2D p1_;
  ERPoint2D p2_;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERSegment3D : public ERFiniteEntity3DWF {
 public:
  QORV_DECLARE_CLASS(ERSegment3D, ERFiniteEntity3DWF);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  ERSegment3D() = default;
  ERSegment3D(const ERPoint3D& p1, const ERPoint3D& p2) : p1_(p1), p2_(p2) {}

  const ERPoint3D& getP1() const { return p1_; }
  const ERPoint3D& getP2() const { return p2_; }
  void setP1(const ERPoint3D& p) { p1_ = p; }
  void setP2(const ERPoint3D& p) { p2_ = p; }
  ERVector3D dirVector() const { return ERVector3D(p1_, p2_).normalize(); }

  ERPoint3D operator()(double u) const override;
  ERInfoPoint3DWF PtCur(double u) const override;
  int isClosed(double) const override { return 0; }
  ERMinimax3D getBox() const override { return ERMinimax3D(p1_, p2_); }
  double arcLength(const ERLimites& range, double tol) const override;
  double arcLength(double tol) const override;
  QuickAlgebra::ERVec<ERPoint3D> approxime(const ERLimites& range, double tol) const override;
  QuickAlgebra::ERVec<ERPoint3D> approxime(int n) const override;
  int splitAt(t_SmartPtr<ERFiniteEntity3DWF>& first, t_SmartPtr<ERFiniteEntity3DWF>& second,
              double u) const override;
  int intersectWithPlanZ(double z, QuickAlgebra::ERVec<double>& params) const override;
  // In closed form: the default goes through a frame, whose translation is dropped when it is
  // below equalityTolerance, which loses segments of the size of 1e-12 and smaller.
  int intersectWith(const ERPoint3D& p, const ERVector3D& v,
                    QuickAlgebra::ERVec<double>& params) const override;
  // d never negative: DISTMIN_NORMAL inside the band, DISTMIN_END_POINT to the nearer end.
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& d) const override;

  void scale(double s) override { p1_ *= s, p2_ *= s; }
  void translate(const ERPoint3D& v) override { p1_ += v, p2_ += v; }
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;
  // Both points expressed in the frame, z dropped: a new ERSegment2D.
  t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D& frame) const override;
  void reverse() override;

  NurbsPtr ConvertToNurbs() const override;
  int isValid() const override;
  // printOn: "Segment 3D : P1=" P1 " P2=" P2, line end.
  QORV_DECLARE_STORED(ERSegment3D);

 private:
  ERPoint3D p1_;
  ERPoint3D p2_;
};
