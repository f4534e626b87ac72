// qorv/planar/regions.h
//
// Point-in-polygon (Inside), planar regions bounded by closed polylines (ERRegion2D: an
// optional outer loop and holes) and the collinearity test of 3D point sets (gmCollinearUtils).
//
// Conventions a caller gets wrong:
// - Inside answers relpos: 0 inside, 1 on a vertex, 2 on an edge, 3 outside. The polygon is
//   closed implicitly when its last point differs from its first. Crossings are counted with the
//   even-odd rule, so a self-crossing polygon (a bow-tie) has outside lobes where it overlaps.
// - The boundary is exact: orientations are decided by an exact predicate, not by a tolerance,
//   so a point one ulp off an edge is inside or outside, never "on the edge". A point collinear
//   with an edge but beyond its ends is not on it. The ray is the infinite one: a point at
//   x > 1e12 is classified like any other. Vertices on the ray count once (an edge counts when
//   P.y lies in (lower y, upper y]). A vertex that also lies on another edge answers 1.
// - Non-finite input: a NaN or infinite P is outside (3); an edge with a non-finite end is
//   skipped. Loops of 0 points answer 3; of 1 point 1 at that point, else 3; of 2 points 1 or 2
//   on the segment, else 3.
// - CheckPoint answers PosContours with other codes: 0 inside, 1 outside, 2 on an edge, 3 on a
//   vertex. A region without loops is the whole plane (0); without an outer loop it is the plane
//   minus the holes. IsInDomain never answers 2 for a region made of holes only.
// - Add beyond the capacity fixed at construction is refused (0) and changes nothing; a loop
//   is kept by sharing its buffer, as are the loops of a copied region.
// - Intersect returns the parts of the polyline in the closed region (a part running along a
//   loop edge is in; a part touching the region at a single vertex is not), in order along the
//   polyline, each of at least two distinct points, none repeated. Crossings at vertices of
//   either side are found exactly once.
// - gmCollinearUtils: a squared distance of 1e-7 or more from the line of the two farthest
//   points makes a set non-collinear; points that agree within 1e-11 have no line (collinear,
//   find_line false). A set with a NaN coordinate is not collinear and has no line.
//
// Stored image: ERRegion2D writes nothing beyond its ERObject part.
#pragma once

#include <iosfwd>
#include <vector>

#include "qorv/curves/lines.h"
#include "qorv/foundation/boxes.h"
#include "qorv/foundation/debug_intersect.h"
#include "qorv/foundation/object.h"
#include "qorv/foundation/points.h"
#include "qorv/support/quick_algebra.h"
#include "qorv/support/val_vector.h"

// Result of Inside.
enum relpos { RELPOS_INSIDE = 0, RELPOS_ON_VERTEX = 1, RELPOS_ON_EDGE = 2, RELPOS_OUTSIDE = 3 };

// Result of ERRegion2D::CheckPoint.
enum PosContours {
  POSCONTOURS_INSIDE = 0,
  POSCONTOURS_OUTSIDE = 1,
  POSCONTOURS_ON_EDGE = 2,
  POSCONTOURS_ON_VERTEX = 3,
};

namespace qorv {
QORV_API relpos Inside(const ERPoint2D& P, const QuickAlgebra::ERVec<ERPoint2D>& polygon);
// The fourth argument is not used.
QORV_API relpos Inside(const ERPoint2D& P, const ERPoint2D* pts, int n, int = 0);
}  // namespace qorv

namespace qorv::detail {
// The sign (-1, 0, 1) of (b - a) x (p - a), exact for finite input.
QORV_API int orient2d(const ERPoint2D& a, const ERPoint2D& b, const ERPoint2D& p);
}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
class QORV_API ERRegion2D : public ERObject {
 public:
  QORV_DECLARE_CLASS(ERRegion2D, ERObject);

  explicit ERRegion2D(int capacity = 1, int firstIsOuter = 1);
  ERRegion2D(const ERRegion2D&) = default;
  ERRegion2D& operator=(const ERRegion2D&) = default;

  // 1 when stored, 0 beyond the capacity.
  int Add(const QuickAlgebra::ERVec<ERPoint2D>& loop);
  PosContours CheckPoint(const ERPoint2D& P, int& loop) const;
  ER_MINMAX_POSITION_POLYGONE IsInDomain(const ERMinimax2D& box) const;
  void Intersect(const QuickAlgebra::ERVec<ERPoint2D>& polyline,
                 ERTValVector<QuickAlgebra::ERVec<ERPoint2D>>& pieces,
                 ERDebugIntersect* debug = nullptr) const;
  void IntersectWithSnap(const QuickAlgebra::ERVec<ERPoint2D>& polyline,
                         ERTValVector<QuickAlgebra::ERVec<ERPoint2D>>& pieces, double snap) const;

  int entries() const { return count_; }
  int capacity() const { return static_cast<int>(loops_.size()); }
  // Loop i; an empty loop for a bad index.
  QuickAlgebra::ERVec<ERPoint2D> Contour(int i) const;
  int IsFirstOuter() const { return firstIsOuter_; }
  // The box of loop 0 (empty without loops).
  ERMinimax2D getBox() const;
  const ERMinimax2D& loopBox(int i) const { return boxes_[static_cast<std::size_t>(i)]; }

  QORV_DECLARE_COPYABLE(ERRegion2D);
  // "// contour :  " n " loops , first is outer " flag; per loop "//  contour " i, then
  // "(" count ")[" points joined by "," "]", then an empty line.
  void printOn(std::ostream& os) const override;

 private:
  // The bounds of each run of kRun edges of a loop (a run with a non-finite end never passes).
  struct Run {
    double ymin, ymax, xmax;
  };
  static constexpr int kRun = 16;
  relpos insideLoop(const ERPoint2D& P, std::size_t k) const;

  std::vector<QuickAlgebra::ERVec<ERPoint2D>> loops_;
  std::vector<ERMinimax2D> boxes_;
  std::vector<std::vector<Run>> runs_;
  int firstIsOuter_ = 1;
  int count_ = 0;
};

// ---------------------------------------------------------------------------------------------
enum gmCollinearState { gmCollinear = 1, gmNotCollinear = 2 };

class QORV_API gmCollinearUtils {
 public:
  static gmCollinearState are_collinear(const QuickAlgebra::ERVec<ERPoint3D>& pts,
                                        ERInfLine3D* line);
  static bool find_line(const QuickAlgebra::ERVec<ERPoint3D>& pts, ERInfLine3D& line);
};
