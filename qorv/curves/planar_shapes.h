// qorv/curves/planar_shapes.h
//
// Closed planar outlines that measurement features are made of: ERRectangle2D,
// ERRegularPolygon2D, ERRoundedSlot2D (two half circles joined by two straight sides), their
// space forms ERRectangle3D / ERRegularPolygon3D / ERRoundedSlot3D (the plane shape drawn in the
// XY plane of an ERPlanarEntity3DWF frame), and the free Projection of a point on a closed
// vertex outline.
//
// Conventions a caller gets wrong:
// - A rectangle from (centre C, direction D, length L, width W) has the corners
//   C -+ (L/2) D -+ (W/2) N with N = (-D.y, D.x) the left normal of D normalised, in the order
//   (-,-), (+,-), (+,+), (-,+): counter-clockwise for W > 0, clockwise for W < 0. length() and
//   width() are the side lengths |p0 p1| and |p1 p2|, never negative.
// - Signed distances (Project, SignedMinimalDistance) are negative on the LEFT of the nearest
//   edge (edge vector x (p - its first vertex) > 0): inside a counter-clockwise outline, outside
//   a clockwise one. Projection picks the nearest edge: a line foot counts when its fraction
//   lies in [0, 1), else the nearer vertex; of two feet equally near within 1e-11 the earlier
//   stays, and the answer is DISTMIN_DEGENERATE (2) unless both feet agree within 1e-11 (a
//   vertex reached from both of its edges). Both 1e-11 are scaled by the outline's diagonal
//   when it is below 1, so a tiny outline keeps its nearest edge. 0 when there is no vertex or p is
//   not finite. ProjectPt and Get_Entity_Number are true only for a unique nearest element (answer
//   1).
// - A regular polygon from (centre C, direction D, side s, n): circumradius
//   R = s / (2 cos((pi - 2 pi / n) / 2)), vertex i at the angle a0 + 2 pi i / n about C, with a0
//   the UNSIGNED angle between D and the X axis (anglePI, in [0, pi]: D = (0, -1) puts vertex 0
//   above the centre, not below). n < 3, n > 1e6, a side that is 0 or not finite, or a NaN
//   direction give no vertices: barycenter the origin, sizes 0, zero-radius circles, axes
//   (1, 0) and (0, 1).
// - offset(d) moves every side outwards by d (scaling about the barycentre); when the scaled set
//   fails the regularity check (sides and radii equal within 1e-9) the polygon is unchanged.
// - PtCur(t) of a rectangle (a polygon of n sides): t brought into [0, 4] ([0, n]) by whole turns
//   (t = 4 stays 4), side k the FIRST with k <= t <= k + 1, so a whole t > 0 is the end of side
//   t - 1 and takes its tangent; the point moves along side k, the tangent is the side vector.
//   A non-finite t gives a NaN point.
// - A rounded slot is the set of points at distance r from the segment [center1, center2]:
//   PtCur on [0, 4] runs the half circle about center1 (from center1 + r nL through
//   center1 - r d), the right side, the half circle about center2, the left side, d the unit
//   direction from center1 to center2 and nL its left normal. The half circles get their true
//   derivatives (a zero tangent there would say the outline stops). Coincident centres take
//   d = (1, 0), nL = (0, 1). Outside [0, 4] the record holds t only. Its signed distance is
//   the distance to the segment minus r (negative inside); a point on the segment has the two
//   sides equally near (DISTMIN_DEGENERATE).
// - composite_curve() is the outline as an ERCompCurve2D, appended with tolerance 1e-7, running
//   as PtCur runs.
// - The space forms evaluate and measure in their frame: a point is brought into the frame and
//   its height dropped before the plane shape answers.
//
// Stored images (little-endian):
//   ERRectangle2D, ERRegularPolygon2D   4 byte length L (16 per vertex), L the vertex
//                                        coordinates as doubles (the polyline's array format)
//   ERRoundedSlot2D                     center1 x, y, center2 x, y, radius: 40 bytes
//   the space forms                     the frame (116 bytes, see finite_entity.h), then the
//                                        plane shape's image
// A damaged array leaves the shape as it was.
//
// Print forms (each label followed by its value and a line end):
//   "Rectangle 2D:" (no value), "            : Corner1 " .. "            : Corner4 ",
//   "            : Length  ", "            : Width   ";
//   "Regular Polygon 2D: " (no value), "Barycenter        : ", "Number of side    : ",
//   "Length of side    : ";
//   "Rounded Slot 2D:" (no value), "               : Center1 ", "               : Center2 ",
//   "               : Radius  ".
// A space form prints its plane shape, then "Repere : " and a line end and the frame's print.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "qorv/curves/circles.h"
#include "qorv/curves/composite_curves.h"
#include "qorv/foundation/finite_entity.h"
#include "qorv/support/quick_algebra.h"

namespace qorv {
// The nearest point of the closed outline through verts (edge i from vertex i to vertex
// (i + 1) mod n): foot, unsigned distance and edge index; see the conventions for the answer.
QORV_API EREntity::DISTMINRES Projection(const ERPoint2D& p,
                                         const QuickAlgebra::ERVec<ERPoint2D>& verts,
                                         ERPoint2D& foot, double& distance, int& edge);
// The unsigned distances of n points (x, y interleaved in xy) to the same closed outline, into
// out: the least distance to its edges (Projection's distance, but for its tie rule, which may
// keep an earlier foot up to a tie farther), within a few roundings of the coordinates; NaN for
// a point that is not finite and for an empty outline. Where only the distance is wanted, many
// points at a time cost a fraction of as many Projection calls.
QORV_API void Distances(const QuickAlgebra::ERVec<ERPoint2D>& verts, const double* xy,
                        std::size_t n, double* out);
}  // namespace qorv

// The queries of a shape given by its vertices (rectangle, regular polygon).
#define QORV_VERTEX_SHAPE(Class)                                                       \
 public:                                                                               \
  QuickAlgebra::ERVec<ERPoint2D>& points() { return points_; }                         \
  const QuickAlgebra::ERVec<ERPoint2D>& points() const { return points_; }             \
  void points(const QuickAlgebra::ERVec<ERPoint2D>& pts) { points_ = pts; }            \
  ERPoint2D operator()(double t) const { return PtCur(t).point(); }                    \
  /* Signed (see the conventions); the answer of Projection. */                        \
  DISTMINRES Project(const ERPoint2D& p, ERPoint2D& foot, double& d, int& edge) const; \
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d) const override;      \
  bool ProjectPt(const ERPoint2D& p, ERPoint2D& foot) const;                           \
  bool Get_Entity_Number(const ERPoint2D& p, int& edge) const;                         \
  ERCompCurve2D composite_curve() const;                                               \
  ERMinimax2D getBox() const { return ERMinimax2D(points_); }                          \
  void scale(double s) override;                                                       \
  void translate(const ERPoint2D& v) override;                                         \
  void transformFrom(const ERTransfo2D& T) override;                                   \
  void transformTo(const ERTransfo2D& T) override;                                     \
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;    \
  QORV_DECLARE_STORED(Class);                                                          \
                                                                                       \
 private:                                                                              \
  QuickAlgebra::ERVec<ERPoint2D> points_

class QORV_API ERRectangle2D : public virtual EREntity2DWF {
 public:
  QORV_DECLARE_CLASS(ERRectangle2D, EREntity2DWF);
  ERRectangle2D() = default;
  ERRectangle2D(const ERPoint2D& centre, const ERVector2D& direction, double length, double width);

  // |p0 p1|, |p1 p2| (0 without corners); (p0 + p2) / 2 (the origin without corners).
  double length() const;
  double width() const;
  ERPoint2D centre() const;
  // unit(p1 - p0), unit(p3 - p0); (1, 0) and (0, 1) without corners.
  ERVector2D main_direction() const;
  ERVector2D auxiliary_direction() const;
  ERInfoPoint2D PtCur(double t) const;
  // The corners in the order p1, p0, p3, p2: the same rectangle run the other way.
  void reverse() override;
  QORV_VERTEX_SHAPE(ERRectangle2D);
  explicit ERRectangle2D(const QuickAlgebra::ERVec<ERPoint2D>& corners) : points_(corners) {}
};

class QORV_API ERRegularPolygon2D : public virtual EREntity2DWF {
 public:
  QORV_DECLARE_CLASS(ERRegularPolygon2D, EREntity2DWF);
  ERRegularPolygon2D() = default;
  ERRegularPolygon2D(const ERPoint2D& centre, const ERVector2D& direction, double side, int n);

  ERPoint2D barycenter() const;
  int nb_side() const;
  double length_side() const;
  // About the barycentre: through p0 / tangent to the side p0 p1.
  ERCircle2D outside_circle() const;
  ERCircle2D inside_circle() const;
  // 1 when the sides moved outwards by d; 0 and unchanged when the result is not regular.
  int offset(double d);
  // unit(p1 - p0) and its left normal; (1, 0) and (0, 1) with fewer than 3 vertices.
  ERVector2D main_direction() const;
  ERVector2D auxiliary_direction() const;
  ERInfoPoint2D PtCur(double t) const;
  // The vertices in the opposite order.
  void reverse() override;
  QORV_VERTEX_SHAPE(ERRegularPolygon2D);
  // Kept only when regular (as offset checks); otherwise no vertices.
  explicit ERRegularPolygon2D(const QuickAlgebra::ERVec<ERPoint2D>& vertices);
};

class QORV_API ERRoundedSlot2D : public virtual EREntity2DWF {
 public:
  QORV_DECLARE_CLASS(ERRoundedSlot2D, EREntity2DWF);
  ERRoundedSlot2D() = default;
  ERRoundedSlot2D(const ERPoint2D& center1, const ERPoint2D& center2, double radius)
      : c1_(center1), c2_(center2), r_(radius) {}

  const ERPoint2D& center1() const { return c1_; }
  void center1(const ERPoint2D& p) { c1_ = p; }
  const ERPoint2D& center2() const { return c2_; }
  void center2(const ERPoint2D& p) { c2_ = p; }
  ERPoint2D center() const { return qorv::milieu(c1_, c2_); }
  double radius() const { return r_; }
  void radius(double r) { r_ = r; }
  double diameter() const { return 2.0 * r_; }
  void diameter(double d) { r_ = d / 2.0; }
  // The overall length |c1 c2| + 2 r.
  double length() const;
  ERVector2D main_direction() const;
  ERVector2D auxiliary_direction() const;

  ERInfoPoint2D PtCur(double t) const;
  ERPoint2D operator()(double t) const { return PtCur(t).point(); }
  // Edge 0 .. 3 in PtCur's order; signed as the conventions say.
  DISTMINRES Project(const ERPoint2D& p, ERPoint2D& foot, double& d, int& edge) const;
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d) const override;
  bool ProjectPt(const ERPoint2D& p, ERPoint2D& foot) const;
  bool Get_Entity_Number(const ERPoint2D& p, int& edge) const;
  // The outline's polyline within tol.
  QuickAlgebra::ERVec<ERPoint2D> approxime(double tol) const;
  ERCompCurve2D composite_curve() const;
  ERMinimax2D getBox() const;
  // Swaps the centres.
  void reverse() override { std::swap(c1_, c2_); }
  void scale(double s) override;
  void translate(const ERPoint2D& v) override { c1_ += v, c2_ += v; }
  void transformFrom(const ERTransfo2D& T) override;
  void transformTo(const ERTransfo2D& T) override;
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;
  QORV_DECLARE_STORED(ERRoundedSlot2D);

 private:
  // d, nL and |c1 c2|, with the documented axes for coincident centres.
  void axes(ERVector2D& d, ERVector2D& nL, double& L) const;
  ERPoint2D c1_, c2_;
  double r_ = 0.0;
};

// ---------------------------------------------------------------------------------------------
// The space forms: the plane shape in the XY plane of the frame.
#define QORV_PLANAR_SHAPE_3D(Class, Shape)                                                       \
  class QORV_API Class : public ERPlanarEntity3DWF {                                             \
   public:                                                                                       \
    QORV_DECLARE_CLASS(Class, ERPlanarEntity3DWF);                                               \
    using ERPlanarEntity3DWF::transformFrom;                                                     \
    using ERPlanarEntity3DWF::transformTo;                                                       \
    Class() = default;                                                                           \
    Class(const Shape& shape, const ERPmIsometrie3D& frame)                                      \
        : ERPlanarEntity3DWF(frame), shape_(shape) {}                                            \
    const Shape& shape() const { return shape_; }                                                \
    ERInfoPoint3DWF PtCur(double t) const;                                                       \
    ERPoint3D operator()(double t) const { return PtCur(t).point(); }                            \
    /* The plane shape's signed distance of p brought into the frame, its height dropped. */     \
    DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& d) const override;              \
    ERCompCurve3D composite_curve() const;                                                       \
    ERMinimax3D getBox() const;                                                                  \
    void scale(double s) override;                                                               \
    void translate(const ERPoint3D& v) override { translateFrame(v); }                           \
    void transformFrom(const ERPmSimilitude3D& T) override { shape_.scale(moveFrame(T, true)); } \
    void transformTo(const ERPmSimilitude3D& T) override { shape_.scale(moveFrame(T, false)); }  \
    void reverse() override { shape_.reverse(); }                                                \
    /* The plane shape, seen in the given frame when it is this one's; else null. */             \
    t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D& frame) const override;   \
    QORV_DECLARE_STORED(Class);                                                                  \
                                                                                                 \
   private:                                                                                      \
    Shape shape_;                                                                                \
  }

QORV_PLANAR_SHAPE_3D(ERRectangle3D, ERRectangle2D);
QORV_PLANAR_SHAPE_3D(ERRegularPolygon3D, ERRegularPolygon2D);
QORV_PLANAR_SHAPE_3D(ERRoundedSlot3D, ERRoundedSlot2D);
