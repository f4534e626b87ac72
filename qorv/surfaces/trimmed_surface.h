// qorv/surfaces/trimmed_surface.h
//
// Trimmed faces: a parametric surface (the base) restricted to a region of its (u, v) plane
// bounded by closed plane curves, at most one outer loop and any number of holes.
//   ERSurfaceBoundary  one loop: its 2D curve, its side, status bits, and cached polylines of
//                      it in (u, v) and on the base surface in space
//   ERTrimmedSurface   the base, its loops (outer first) and the region built from them
//
// Conventions a caller gets wrong:
// - A boundary's status starts at 20 (bits 2 and 4); bit 0 flags a curve whose ends are more
//   than 0.001 apart (open). isClose() is bits 0 and 3 both clear. setBoundary refuses an open
//   curve (0, nothing changed); a boundary BUILT from one is kept, flagged, and its polyline
//   is closed implicitly by the region.
// - getBound2DasPolyline(-1) uses 1e-6 of the curve box's diagonal; a cached polyline serves
//   any request with a tolerance at least as large as its own. Pole curves of degree 1 give
//   their vertices exactly, so polygonal loops classify exactly.
// - isInBound(uv): 0 outside the base's limits (inclusive, NaN outside), without building the
//   region; else 1 unless the region's CheckPoint says outside: points on a loop's edge or
//   vertex are inside, points in a hole outside, and with no loop at all everything within the
//   limits is inside. The region is built on the first classification and dropped by addBound.
// - addBound: side 2 (outer) goes first; a second outer loop is refused. Side 0 (not
//   classified) becomes the outer loop when there is none (it goes first, so the first-is-outer
//   flag is true to its name), and is refused when there is one. Side 1 appends a hole. Any
//   other side and a null curve are refused (0). The limits (udeb ... vfin) are the outer
//   loop's box once there is one, the base's limits otherwise.
// - Evaluation, iso-curves, boxes and estimates are the base's, untrimmed. Splitting answers 0.
//   The projections are the base's, with inside != 0 dropping feet outside the region.
// - nearest(p, uv) is the GLOBAL nearest point of the face, for every p: the feet of the base
//   inside the region (the base's own global nearest point when it has one: pole surfaces,
//   surfaces of revolution, the placed kinds; and Newton from the local minima of a 48 x 48
//   grid over the face's box), against the nearest points of the boundary: each loop lifted onto
//   the base (512 samples of its parameter plus its corners, GetDiscontinuities(1), each a
//   candidate; the sign changes of the derivative of the distance solved on each smooth piece) and
//   the base's own edges, each kept where it bounds the face, with the points where a loop
//   leaves the base's limits. project_inbound(p) and SignedMinimalDistance(p, d) answer
//   through it: signed by the base normal at an interior foot (DISTMIN_NORMAL), unsigned on
//   the boundary (DISTMIN_END_POINT), DISTMIN_NONE without a base or for a non-finite p.
//   The samples that do not depend on p (the grid, the lifted loops and edges) are kept with
//   the face until an edit (addBound, a move, a restore, CleanUpTemporaries; a caller who
//   edits the base or a loop through the pointers it holds calls CleanUpTemporaries(-1)):
//   one face is not to be searched from two threads at once.
// - extract_wireframe(t, dir, n, mesh) cuts the iso-line u = t (gmMeshDirU) or v = t
//   (gmMeshDirV) by the region, sampled at n points (65 when n < 2), refines each kept piece to
//   the mesh's chordal deviation on the base, and hands the pieces to on_add_polyline; it
//   returns their number. extract_u_wireframe / extract_v_wireframe draw u_density() + 1 /
//   v_density() + 1 of them over the limits; extract_wireframe(mesh) both.
// - Moves (scale, the similitudes) take the loops and the limits through the base's parameter
//   change (parameterMapOfScale / parameterMapOfMove), so the face stays the image of itself
//   whatever the base kind, mirrors and negative factors included. A loop's curve is replaced
//   by its image: a moved copy when the change is a similitude of the (u, v) plane or the
//   curve's class keeps affine images (segments, polylines, pole curves), else its NURBS form
//   moved (a circular hole on a cylinder scaled by 2 becomes an elliptic one; a curve without
//   one, its polyline at 1e-9 of its size); a shared curve is not touched.
// - A copy of a trimmed surface holds copies of the base and of the loops (their base pointer
//   set to the new base); the shared forms of the constructors and of addBound share.
//
// Stored images (after the ERObject part, which writes nothing; little-endian, long and int 4
// bytes):
//   ERSurfaceBoundary
//      4  long: the base surface's identifier (-1 when it has none yet), 0 without a base
//      4  long 1 without a curve, else 0; (4) the curve's identifier (recursiveSaveOn)
//      4  int 2D polyline valid, 4 int 3D polyline valid
//      8  double 3D polyline tolerance, 8 double 2D polyline tolerance
//      .  the 2D polyline, then the 3D polyline (vector storage: long byte length, points)
//      4  int side, 4 int status
//   binaryStoreSize = 36 + 4 (+ 4 with a curve) + the two vectors' sizes.
//   ERTrimmedSurface
//      4  long 1 without a base, else 0; (4) the base's identifier
//      4  int first-is-outer
//     32  the boundary box: umin, vmin, umax, vmax
//      .  the loops: long count, then per loop long null flag and (4) its identifier
// Reading never trusts a count or a flag: a short record, a flag other than 0 or 1, a curve or
// base that does not read back as one, leaves the object as it was. After reading, every
// loop's base surface is set to the trimmed surface's base.
//
// Print forms: the boundary: "Surface Boundary : " line end, "A Pointer to a
// ERFiniteEntity2DWF", then "( " curve class " ) with " its references " references", a line
// end and the curve's print form, or " (NULL) " and a line end; then a line end. The trimmed
// surface: "TRIMMED SURFACE :  " line end, " Base Surface " and the base's print form or
// "    No Base Surface ", a line end, " Boundary box   : " box, line end, " 1st is Outer   : "
// flag, line end, " The Boundaries : " line end, then each loop's print form.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "qorv/freeform/pole_surfaces.h"
#include "qorv/planar/regions.h"
#include "qorv/support/lists.h"
#include "qorv/surfaces/parametric_surface.h"

class gmProcessMesh;

enum gmMeshDir { gmMeshDirU = 0, gmMeshDirV = 1 };

// ---------------------------------------------------------------------------------------------
class QORV_API ERSurfaceBoundary : public ERObject {
 public:
  QORV_DECLARE_CLASS(ERSurfaceBoundary, ERObject);
  // 32-bit; a stored or given value outside the three is kept, and refused by addBound.
  enum Side : std::int32_t { NOT_CLASSIFIED = 0, INNER = 1, OUTER = 2 };

  ERSurfaceBoundary() = default;
  ERSurfaceBoundary(const ERSurfaceBoundary& o);
  ERSurfaceBoundary& operator=(const ERSurfaceBoundary& o);
  // A copy of the curve.
  ERSurfaceBoundary(const ERFiniteEntity2DWF& curve, Side side);
  // The curve shared.
  ERSurfaceBoundary(ERFiniteEntity2DWF* curve, Side side);

  int setBoundary(const ERFiniteEntity2DWF& curve);
  int setBoundary(ERFiniteEntity2DWF* curve);
  t_SmartPtr<ERFiniteEntity2DWF> getBound2D() const { return curve_; }
  Side getSide() const { return side_; }
  Side setSide(Side s);
  int getStatus() const { return status_; }
  int isClose() const { return (status_ & 0x9) == 0; }
  ERAnyBoundedSurface* getBaseSurface() const { return base_; }
  void setBaseSurface(ERAnyBoundedSurface* base);

  const QuickAlgebra::ERVec<ERPoint2D>& getBound2DasPolyline(double tol) const;
  const QuickAlgebra::ERVec<ERPoint3D>& smash(double tol) const;
  void smash(QuickAlgebra::ERVec<ERPoint3D>& pts3, QuickAlgebra::ERVec<ERPoint2D>& pts2,
             double tol) const;
  ERMinimax2D getBox() const;

  void scale(double k);
  void translate(const ERPoint3D& t);
  void transformFrom(const ERPmSimilitude3D& T);
  void transformTo(const ERPmSimilitude3D& T);
  // The curve replaced by its image through m (a map of the base's parameters): a copy moved
  // by m, through the curve's NURBS form when m is not a similitude and the curve's class does
  // not keep affine images; both caches dropped.
  void mapParameters(const ERTransfo2D& m);

  QORV_DECLARE_STORED(ERSurfaceBoundary);

 private:
  static int closed(const ERFiniteEntity2DWF& c);
  double defaultTolerance() const;
  void invalidate() { poly2Valid_ = 0, poly3Valid_ = 0; }

  ERAnyBoundedSurface* base_ = nullptr;
  t_SmartPtr<ERFiniteEntity2DWF> curve_;
  Side side_ = NOT_CLASSIFIED;
  int status_ = 0;
  mutable int poly2Valid_ = 0;
  mutable double poly2Tol_ = 0.0;
  mutable QuickAlgebra::ERVec<ERPoint2D> poly2_;
  mutable int poly3Valid_ = 0;
  mutable QuickAlgebra::ERVec<ERPoint3D> poly3_;
  mutable double poly3Tol_ = 0.0;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERTrimmedSurface : public ERAnyBoundedSurface {
 public:
  QORV_DECLARE_CLASS(ERTrimmedSurface, ERAnyBoundedSurface);
  using ERAnyBoundedSurface::operator();
  using ERAnyBoundedSurface::ProjectionNormale;
  using ERAnyBoundedSurface::PtCur;
  using ERAnyBoundedSurface::SplitInU;
  using ERAnyBoundedSurface::SplitInV;
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;
  using BoundList = ERTValDlist<t_SmartPtr<ERSurfaceBoundary>>;

  ERTrimmedSurface() = default;
  ERTrimmedSurface(const ERTrimmedSurface& o);
  ERTrimmedSurface& operator=(const ERTrimmedSurface& o);
  ~ERTrimmedSurface() override;
  // A copy of the surface.
  explicit ERTrimmedSurface(const ERAnyBoundedSurface& base);
  // The surface shared.
  explicit ERTrimmedSurface(ERAnyBoundedSurface* base);
  // A bilinear patch placed by T over the curve's box inflated by 1, the curve (shared) its
  // outer loop: S(u, v) = T >> (u, v, 0).
  ERTrimmedSurface(const ERPmIsometrie3D& T, ERFiniteEntity2DWF* outer);

  int addBound(const ERFiniteEntity2DWF& curve, ERSurfaceBoundary::Side side);
  int addBound(ERFiniteEntity2DWF* curve, ERSurfaceBoundary::Side side);
  int nbBounds() const { return bounds_.entries(); }
  const BoundList& getBoundList() const { return bounds_; }
  BoundList::const_iterator getBoundIterator() const { return bounds_.begin(); }
  t_SmartPtr<ERFiniteEntity2DWF> getOutBnd() const;
  t_SmartPtr<ERFiniteEntity2DWF> getInBnd(int i) const;
  int isFirstOuter() const { return firstIsOuter_; }
  const ERMinimax2D& boundaryBox() const { return box_; }

  int isInBound(const ERPoint2D& uv) const;
  ER_MINMAX_POSITION_POLYGONE PositionFenetre(ERMinimax2D& box) const;
  ERRegion2D* GetRegion() const;
  t_SmartPtr<ERAnyBoundedSurface> getBaseSurface() const { return base_; }
  t_SmartPtr<ERAnyBoundedSurface> base_surface() const override { return base_; }

  // The global nearest point of the face: its distance, uv its parameter (see the
  // conventions). NaN and uv unchanged without a base or for a non-finite p.
  using ERAnyBoundedSurface::nearest;
  double nearest(const ERPoint3D& p, ERPoint2D& uv) const override;
  ERPoint3D project_inbound(const ERPoint3D& p) const override;
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& dist) const override;

  int extract_wireframe(double t, gmMeshDir dir, int n, gmProcessMesh& mesh) const;
  void extract_u_wireframe(gmProcessMesh& mesh) const;
  void extract_v_wireframe(gmProcessMesh& mesh) const;
  void extract_wireframe(gmProcessMesh& mesh) const;

  double udeb() const override { return box_.xmin(); }
  double ufin() const override { return box_.xmax(); }
  double vdeb() const override { return box_.ymin(); }
  double vfin() const override { return box_.ymax(); }
  ERInfoPoint3DSurf PtCur(double u, double v) const override;
  ERPoint3D operator()(double u, double v) const override;
  ERInfoPoint3DSurf randomPoint() const override;
  ERMinimax3D getBox() const override;
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoU(double u) const override;
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoV(double v) const override;
  void ProjectPoint(const ERPoint3D& p, ERRaySurfaceResult& res, int inside) const override;
  void ProjectPoint(const ERPoint3D& p, const ERVector3D& d, ERRaySurfaceResult& res,
                    int inside) const override;
  int ProjectionNormale(const ERPoint3D& p, double tol, ERPoint2D& uv, int inside) const override;
  int ReajustProjection(ERPoint3D& p, ERPoint2D& uv, int inside) const override;
  double upperEstimateInU() const override;
  double upperEstimateInV() const override;
  int SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,
               double u) const override;
  int SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,
               double v) const override;
  void reverse() override;
  // Those of the base, whose parameters the loops follow.
  ERTransfo2D parameterMapOfScale(double k) const override;
  ERTransfo2D parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const override;
  void scale(double k) override;
  void translate(const ERPoint3D& t) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;
  // Empties the sample cache and the samples of the nearest-point search.
  void CleanUpTemporaries(int level) override;

  QORV_DECLARE_STORED(ERTrimmedSurface);

 private:
  // What the nearest-point search keeps between calls: the base over a grid of the face's
  // box, and each loop and base edge sampled and lifted (with the derivative along it and
  // whether the sample bounds the face). Loops first, in list order, then the 4 edges.
  struct PathSamples {
    int own = -1;  // the loop's index, -1 for a base edge
    std::vector<double> t;
    std::vector<ERPoint2D> uv;
    std::vector<ERPoint3D> s;
    std::vector<ERVector3D> ds;
    std::vector<unsigned char> in;
    std::vector<unsigned char> corner;  // a parameter where the loop's tangent jumps
  };
  struct NearCache {
    bool valid = false;
    double ul = 0, uh = 0, vl = 0, vh = 0;
    double extent = 0;  // the largest coordinate difference of the grid's points
    std::vector<ERPoint2D> nodes;
    std::vector<ERPoint3D> points;
    std::vector<PathSamples> paths;
  };
  const NearCache& nearCache() const;
  // Path k of the cache at t: its (u, v) and the derivative of (u, v) along it.
  void pathAt(int k, double t, ERPoint2D& q, ERVector2D& dq) const;
  // 1 when q, a point of loop own (or of a base edge, own < 0), bounds the face.
  int onFace(const ERPoint2D& q, int own) const;
  void dropCaches() const;
  // The loops and the limits taken through m after the base moved.
  void followBase(const ERTransfo2D& m);
  int addBoundary(ERSurfaceBoundary* b);
  void calculateBoundingBox();
  void dropRegion() const;
  void copyFrom(const ERTrimmedSurface& o);

  t_SmartPtr<ERAnyBoundedSurface> base_;
  ERMinimax2D box_;
  int firstIsOuter_ = 0;
  BoundList bounds_;
  mutable ERRegion2D* region_ = nullptr;
  mutable NearCache near_;
};
