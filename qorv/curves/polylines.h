// qorv/curves/polylines.h
//
// Polylines through a list of points: ERPolyline2D / ERPolyline3D, and the polygons
// ERPolygone2D / ERPolygone3D (the same curve, named closed; no operation of their own). One
// declaration (QORV_POLYLINE) and one template body serve both dimensions.
//
// Conventions a caller gets wrong:
// - The parameter range is [0, n - 1] for n points: segment i joins point i to i + 1 and covers
//   [i, i + 1]. length() is the POINT COUNT, not a distance (arcLength is the distance). An empty
//   or one-point polyline has the range [0, 0].
// - Construction keeps an input point only when it differs EXACTLY (in some coordinate) from the
//   previous input point; with fewer than 3 points the array is kept as given. cleanUp() keeps
//   the points that differ by more than 1e-11 in some coordinate from the last point kept.
// - points(v) shares v's representation (copy on write), as ERVec copies do.
// - PtCur(t): the segment covering t (the first for t <= 0, the last for t >= n - 1, so outside
//   the range the end segments extend); at an interior integer t the point is that vertex and
//   the tangent the mean of the incoming and outgoing chords (not normalised). The record
//   carries t and direction 1. No point: the origin; one point: that point; zero tangent.
// - ProjectPoint walks every segment i -> (i + 1) mod n, so it includes the CLOSING segment from
//   the last point back to the first even for an open polyline, whose feet are reported as
//   n - 1 + s, past ufin(). The fraction s along a segment is read on its coordinate of largest
//   extent and kept when 0 <= s < 1; segments whose ends agree within 1e-11 in every coordinate
//   are skipped; with tol > 0 a foot farther than tol from p is skipped and nothing is asked
//   when the box of p inflated by tol misses the polyline's box.
// - arcLength(range, tol): with the limits truncated to integers, the sum of the whole segments
//   from lo up to min(n - 1, hi), hi excluded; partial segments do not count. tol takes no part.
// - approxime (both forms) is a copy of the points.
// - ConvertToNurbs: the degree-1 NURBS of the points (weight 1) parametrised on [0, 1], not on
//   [0, n - 1]; null with fewer than 2 points.
// - IsContinuous(order) is 1 only for order 0; GetDiscontinuities lists 0, 1, ..., n - 1.
// - splitAt(first, second, u): two polylines, points 0 .. floor(u) then the point at u, and the
//   point at u then the rest (the cut point is not repeated when u is a vertex); 0 and null
//   outputs when u is not strictly inside (0, n - 1).
// - NaN coordinates or parameters give NaN points, never a loop or an out-of-range read.
//
// Stored image (little-endian; the ERObject part after the array writes nothing):
//   SIZE  FIELD
//      4  byte length L of the coordinates (16 n in the plane, 24 n in space)
//      L  the coordinates x, y (, z) of each point in order, as doubles
// restoreGuts leaves the polyline as it was when L is negative, not a whole number of points or
// longer than the rest of the record.
//
// Print form: "(" n ")[" the points separated by "," "]" and a line end.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "qorv/foundation/finite_entity.h"
#include "qorv/foundation/transfo2d.h"
#include "qorv/foundation/transfo3d.h"
#include "qorv/support/quick_algebra.h"

namespace qorv::detail {
// The stored point array: byte length, then the raw coordinates. The read gives 0 (and leaves
// pts alone) on a damaged record.
QORV_API void savePoints(ERFile& f, const QuickAlgebra::ERVec<ERPoint2D>& pts);
QORV_API void savePoints(ERFile& f, const QuickAlgebra::ERVec<ERPoint3D>& pts);
QORV_API int restorePoints(ERFile& f, QuickAlgebra::ERVec<ERPoint2D>& pts);
QORV_API int restorePoints(ERFile& f, QuickAlgebra::ERVec<ERPoint3D>& pts);
template <class Point>
std::uint32_t pointsStoreSize(const QuickAlgebra::ERVec<Point>& pts) {
  return 4u + static_cast<std::uint32_t>(pts.length()) * 8u * Point::kSize;
}
// "(" n ")[" points "," ... "]" line end.
QORV_API void printPoints(std::ostream& os, const QuickAlgebra::ERVec<ERPoint2D>& pts);
QORV_API void printPoints(std::ostream& os, const QuickAlgebra::ERVec<ERPoint3D>& pts);
template <class Point>
struct PolylineBody;
}  // namespace qorv::detail

#define QORV_POLYLINE_MOVES_2D                       \
  void transformFrom(const ERTransfo2D& T) override; \
  void transformTo(const ERTransfo2D& T) override;   \
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;

#define QORV_POLYLINE_MOVES_3D                            \
  using EREntity3D::transformFrom;                        \
  using EREntity3D::transformTo;                          \
  void transformFrom(const ERPmSimilitude3D& T) override; \
  void transformTo(const ERPmSimilitude3D& T) override;   \
  t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D& frame) const override;

#define QORV_POLYLINE(Class, Finite, Point, Info, Box, Moves)                                    \
  class QORV_API Class : public Finite {                                                         \
   public:                                                                                       \
    QORV_DECLARE_CLASS(Class, Finite);                                                           \
    using Finite::isClosed;                                                                      \
                                                                                                 \
    Class() = default;                                                                           \
    explicit Class(const QuickAlgebra::ERVec<Point>& pts);                                       \
    Class(const Class&) = default;                                                               \
    Class& operator=(const Class&) = default;                                                    \
                                                                                                 \
    QuickAlgebra::ERVec<Point>& points() { return points_; }                                     \
    const QuickAlgebra::ERVec<Point>& points() const { return points_; }                         \
    void points(const QuickAlgebra::ERVec<Point>& pts) { points_ = pts; }                        \
    /* The point count. */                                                                       \
    int length() const { return points_.length(); }                                              \
    /* First and last points within 1e-11 in every coordinate. */                                \
    int isClosed() const;                                                                        \
    void cleanUp();                                                                              \
                                                                                                 \
    double udeb() const override { return 0.0; }                                                 \
    double ufin() const override { return points_.length() > 1 ? points_.length() - 1.0 : 0.0; } \
    ERLimites getBound() const override { return ERLimites(0.0, ufin()); }                       \
    Point operator()(double t) const override { return PtCur(t).point(); }                       \
    Info PtCur(double t) const override;                                                         \
    int ProjectPoint(const Point& p, QuickAlgebra::ERVec<double>& params,                        \
                     double tol) const override;                                                 \
    Box getBox() const override { return Box(points_); }                                         \
    double arcLength(const ERLimites& range, double tol) const override;                         \
    double arcLength(double tol) const override;                                                 \
    QuickAlgebra::ERVec<Point> approxime(const ERLimites&, double) const override {              \
      return points_;                                                                            \
    }                                                                                            \
    QuickAlgebra::ERVec<Point> approxime(int) const override { return points_; }                 \
    NurbsPtr ConvertToNurbs() const override;                                                    \
    int splitAt(t_SmartPtr<Finite>& first, t_SmartPtr<Finite>& second, double u) const override; \
    int IsContinuous(int order) const override { return order == 0; }                            \
    int GetDiscontinuities(int order, QuickAlgebra::ERVec<double>& params) const override;       \
    void reverse() override;                                                                     \
    void scale(double s) override;                                                               \
    void translate(const Point& v) override;                                                     \
    Moves QORV_DECLARE_STORED(Class);                                                            \
    void AssertValid() const override;                                                           \
                                                                                                 \
   private:                                                                                      \
    friend struct qorv::detail::PolylineBody<Point>;                                             \
    QuickAlgebra::ERVec<Point> points_;                                                          \
  }

QORV_POLYLINE(ERPolyline2D, ERFiniteEntity2DWF, ERPoint2D, ERInfoPoint2D, ERMinimax2D,
              QORV_POLYLINE_MOVES_2D);
QORV_POLYLINE(ERPolyline3D, ERFiniteEntity3DWF, ERPoint3D, ERInfoPoint3DWF, ERMinimax3D,
              QORV_POLYLINE_MOVES_3D);

// A closed outline through its points: the polyline under another name.
#define QORV_POLYGONE(Class, Polyline, Point)                                \
  class QORV_API Class : public Polyline {                                   \
   public:                                                                   \
    QORV_DECLARE_CLASS(Class, Polyline);                                     \
    Class() = default;                                                       \
    explicit Class(const QuickAlgebra::ERVec<Point>& pts) : Polyline(pts) {} \
    QORV_DECLARE_COPYABLE(Class);                                            \
  }

QORV_POLYGONE(ERPolygone2D, ERPolyline2D, ERPoint2D);
QORV_POLYGONE(ERPolygone3D, ERPolyline3D, ERPoint3D);
