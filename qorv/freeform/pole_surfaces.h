// qorv/freeform/pole_surfaces.h
//
// The free-form surfaces defined by a net of poles: tensor-product Bezier patches with Cartesian
// poles (ERSpoleBezier3D) or weighted ones (ERSpoleBezier3DR), and NURBS surfaces
// (ERSpoleNURBS3D: weighted poles and a knot vector in each direction), all bounded surfaces
// under the abstract ERSpoleRep. One evaluator serves the three: a Bezier patch is the NURBS
// surface whose knots are its degree + 1 copies of each natural limit.
//
// Conventions a caller gets wrong:
// - The pole matrix has one ROW per v index and one COLUMN per u index: nbPolesU is the row
//   length, nbPolesV the row count, pole (i in u, j in v) is element (j, i).
// - A weighted pole stores (w x, w y, w z, w): ERPole3DH(p, w) does not multiply p by w.
// - A Bezier patch runs over its NATURAL limits: s = (u - NUdeb) / (NUfin - NUdeb). setBound
//   trims it without moving a pole; a NURBS surface runs over its knots [U[p], U[n]] whatever
//   its limits. Parameters outside the domain evaluate the end spans' polynomials.
// - PtCur fills the 3 x 3 derivative matrix (d^(i+j)S / du^i dv^j at j * 3 + i), derivatives
//   with respect to the surface's own parameters, the rational quotient rule applied. At an
//   interior knot it takes the span on the right, at or past the upper trimmed limit (ufin,
//   vfin) the span on the left: the one-sided derivatives of the piece that holds the point.
// - Where the weight of the surface is 0 or anything is not finite, PtCur gives a record of
//   NaN; a net that does not fit its knots (m != n + p + 1 in either direction, an empty net,
//   no non-empty span, a degree above 1024) gives the NaN record for every (u, v), never a read
//   outside the net. isValid refuses such nets up front, and also non-finite poles, weights <= 0,
//   decreasing or non-finite knots and (Bezier) empty or non-finite limits.
// - Where a partial vanishes (a collapsed edge, Su = 0), the record holds the true zero vector:
//   normale() falls back on Suu or Svv, get_stable_normal on finite differences.
// - PtCur1 is PtCur to first order only: the point, Su and Sv as PtCur gives them (same span
//   choice, same NaN record), every second-order element (Suv too) zero. For callers that need
//   no curvature; its normale() has no second-order fall-back on a collapsed edge (use PtCur).
// - getBox holds the surface over its trimmed limits when the weights are positive: the box of
//   the poles that act on the trimmed spans (convex hull property). Limits beyond the knot
//   domain are not covered; a net with a weight <= 0 gets the box of those poles only (not a
//   bound); an invalid net the empty box. Cached; every edit drops it.
// - upperEstimateInU/V: the longest control polygon of the rows (columns) times the ratio of
//   the largest to the smallest weight; a bound of every iso-curve's length for positive
//   weights. Infinity for a net with a weight <= 0, 0 for an invalid one.
// - SplitInU/V(low, high, t) give two copies trimmed at t (0 when t is not strictly inside
//   the trimmed limits); the poles are not cut.
// - getEntityIsoU(u) is the pole curve v -> S(u, v) (a Bezier curve over the natural V limits,
//   Cartesian for ERSpoleBezier3D, or a NURBS curve on the v knots), trimmed to the V limits,
//   so that its parameter is the surface's; getEntityIsoV likewise; null for an invalid net.
// - nearest(p, uv) is the GLOBAL nearest point over the trimmed limits, for every p: a branch
//   and bound over the spans. Each span's piece is bounded by the oriented box of its Bezier
//   poles (on the piece's own axes) and sampled on a (4p + 4) x (4q + 4) grid (at most 80 a
//   side); each square of samples is bounded by the box of its corners on those axes grown by
//   the bulge (twice the largest gap, measured at build time on a grid twice as fine, between
//   the surface and the bilinear interpolation of the samples). The span under p is searched
//   first, then every span whose box is nearer than the best distance found; in a span, a
//   Newton bounded to the span descends from the lowest sample, then from the nearest corner of
//   each square whose bound still beats the best and that no earlier descent started in or ended
//   beside (at most 17 descents a span). Edges, corners and creases without a perpendicular foot
//   are reached through the bounds. The bounds, the tree and the grids are built once per surface
//   (grids up to 2^20 samples; beyond, the spacing of the samples stands for the bulge). With a
//   weight
//   <= 0 no span is pruned by its box. Of several equally near points (the seam of a closed
//   surface, the axis of a surface of revolution) the first found is given. project_inbound
//   and SignedMinimalDistance answer through it.
// - ProjectionNormale(p, tol, uv, flag) answers 0 without searching when the box of the
//   surface inflated by 0.2 and that of p inflated by tol are apart: tol is the reach of the
//   search (pass a large one, or call nearest, for far points). Otherwise uv receives the
//   parameter of the nearest point and the answer is 1 when that point is a foot (the sine of
//   the angle between p - S and the normal at most 0.001), 0 on an edge without a foot.
// - ProjectPoint(p, res, inside) along Z: nothing when p lies outside the box in x or y;
//   otherwise each rational Bezier patch of the decomposition is halved (de Casteljau, u and
//   v in turn) while the xy box of its poles holds p, down to a piece a thousandth of
//   the patch's xy size or 24 halvings, then Newton on (x, y) from the piece's middle. Hits
//   within 1e-9 of the size and of the limits of one already found (an edge shared by two
//   patches, a root reached from two pieces) are given once. At most 4096 pieces per patch are
//   visited (a ray along a vertical wall of the surface), so a tangent contact gives the roots
//   Newton reaches from those pieces. Weights <= 0: the pieces are not pruned by their boxes.
// - getConvexHull: the 2D convex hull (x and y, after T >> pole for the second form) of the
//   Cartesian poles that act on the trimmed spans, the poles that are not finite left out:
//   counter-clockwise from the lowest point (the leftmost of the lowest), no point inside an
//   edge; one or two points when all lie on a point or a line, empty for an invalid net. It holds
//   the xy shadow of the surface over its limits when the weights are positive.
// - incrDegree(du, dv) keeps the surface (the curve elevation of every row, then of every
//   column; NURBS: each breakpoint keeps its continuity, the knots those of the curves'
//   elevation); a negative count does nothing in that direction.
// - decrDegree(du, dv) lowers the degrees by du and dv through the curve reduction of every row
//   (u) then of every column (v), repeated, and answers 1 when the surface was exactly of the
//   lower degrees. A Bezier patch is reduced in every case (an inexact reduction is an
//   approximation that keeps the corner poles; a degree 1 direction, or du, dv < 0, stays); a
//   NURBS surface only when the reduction is exact in every row and column (otherwise 0 and the
//   surface as it was).
// - A Bezier patch's adjust and redefine operations set its natural limits, which re-maps the
//   same poles (another surface): cut a piece with SplitInU/V, which trim.
// - Caches (box, estimates, the nearest point's bounds and grids) are built on first use, safely
//   when several threads call const members of one surface at once; every edit, restoreGuts and
//   CleanUpTemporaries drop them (an edit must not run while another thread reads). A copy
//   starts without them.
//
// Stored images (after the ERObject part, which writes nothing; little-endian, long 4 bytes):
//   bounded part   natural U, natural V, trim U, trim V: 8 doubles            64 bytes
//   pole matrix    long rows, long cols, the vector record (long byte length 24 or 32 per pole
//                  times the count, then the poles' doubles)                  12 + 24/32 rc
//   knot vector    long 8 m, m doubles, long degree, long unclamped flag      8 m + 12
//   ERSpoleBezier3D    bounded part, pole matrix (ERPoint3D, 24 bytes each)
//   ERSpoleBezier3DR   bounded part, pole matrix (ERPole3DH, 32 bytes each)
//   ERSpoleNURBS3D     bounded part, pole matrix (ERPole3DH), knots in u, knots in v
// restoreGuts of a short or damaged record (or, for NURBS, knots that do not fit the net)
// leaves the surface as it was; a record that reads drops every cache.
//
// Print forms: NURBS: the bounded part, "Control Points :", a line end, the pole matrix, a
// line end, "Knot u         :" and the u knot vector, a line end, "Knot v         :" and the v
// knot vector, a line end. Bezier: the bounded part, "Les Poles :", a line end, the pole matrix
// and a line end.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "qorv/freeform/knot_vector.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/freeform/solvers.h"
#include "qorv/surfaces/bounded_surfaces.h"

namespace qorv::detail {

// A read-only view of a net for the evaluator: poles of Stride doubles (3: Cartesian, weight 1;
// 4: homogeneous), row j (v index) after row j - 1, and the knots of each direction.
struct NetView {
  const double* poles = nullptr;
  int stride = 4;
  int nu = 0, nv = 0;  // poles per row, rows
  int pu = 0, pv = 0;  // degrees
  const double* ku = nullptr;
  int mu = 0;
  const double* kv = nullptr;
  int mv = 0;
  // The net fits its knots (m = n + p + 1 both ways, a non-empty span in each).
  bool fits() const;
};

// The point and derivatives to order (ou, ov) <= (2, 2) at (u, v): d[j * 3 + i] holds
// d^(i+j)S / du^i dv^j (3 doubles). leftU / leftV take the span on the left of a knot. NaN when
// the weight is 0 or the net does not fit.
QORV_API void evaluateNet(const NetView& net, double u, double v, bool leftU, bool leftV, int ou,
                          int ov, double d[9][3]);

// The point alone, as evaluateNet's order (0, 0) gives it.
QORV_API ERPoint3D evaluatePoint(const NetView& net, double u, double v, bool leftU, bool leftV);

// The p + 1 basis functions of span s at u (the span's polynomials, also beyond it).
QORV_API void basisValues(const double* U, int p, int s, double u, double* out);

// The spans' bounds, their tree and sample grids for the nearest point
// (pole_surface_projection.cpp).
struct PoleSearch;

// A value built from const members on first use, safely from several threads at once; edits of
// the owner drop it (never while another thread reads). A copy shares what the original has
// built (the members it was built from are copied too), so per-thread copies of a surface do
// not each build it again.
template <class T>
class Lazy {
 public:
  Lazy() = default;
  Lazy(const Lazy& o) { share(o); }
  Lazy& operator=(const Lazy& o) {
    if (this != &o) reset(), share(o);
    return *this;
  }
  template <class Build>
  const T& get(Build&& build) const {
    if (const T* p = ptr_.load(std::memory_order_acquire)) return *p;
    std::lock_guard<std::mutex> lock(mutex_);
    if (const T* p = ptr_.load(std::memory_order_relaxed)) return *p;
    owner_ = std::make_shared<const T>(build());
    ptr_.store(owner_.get(), std::memory_order_release);
    return *owner_;
  }
  void reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    ptr_.store(nullptr, std::memory_order_relaxed);
    owner_.reset();
  }

 private:
  void share(const Lazy& o) {
    std::shared_ptr<const T> built;
    {
      std::lock_guard<std::mutex> lock(o.mutex_);
      built = o.owner_;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    owner_ = std::move(built);
    ptr_.store(owner_.get(), std::memory_order_release);
  }
  mutable std::atomic<const T*> ptr_{nullptr};
  mutable std::mutex mutex_;
  mutable std::shared_ptr<const T> owner_;
};

}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
class QORV_API ERSpoleRep : public ERBoundedSurface {
 public:
  QORV_DECLARE_CLASS(ERSpoleRep, ERBoundedSurface);
  using ERAnyBoundedSurface::operator();
  using ERAnyBoundedSurface::ProjectionNormale;
  using ERAnyBoundedSurface::PtCur;
  using ERAnyBoundedSurface::SplitInU;
  using ERAnyBoundedSurface::SplitInV;
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  ERSpoleRep() = default;
  ERSpoleRep(const ERLimites& U, const ERLimites& V) : ERBoundedSurface(U, V) {}

  virtual int degreeU() const = 0;
  virtual int degreeV() const = 0;
  virtual int nbPolesU() const = 0;
  virtual int nbPolesV() const = 0;
  virtual int isRational() const { return 1; }
  virtual int isBezier() const = 0;
  // Degree changes of the subclasses (see the conventions); here they only drop the caches, and
  // decrDegree answers 0.
  virtual void incrDegree(int du, int dv);
  virtual int decrDegree(int du, int dv);
  // See the conventions.
  int isValid() const override = 0;
  // The net as weighted poles and its knots (a Bezier patch: its Bezier sequences).
  virtual QuickAlgebra::ERMatrix<ERPole3DH> homogeneousPoles() const = 0;
  virtual ERKnotVector knotsU() const = 0;
  virtual ERKnotVector knotsV() const = 0;

  // The convex hull of the poles that act on the trimmed spans, their x and y (after T >> pole
  // in the second form); see the conventions. The first form is cached.
  QuickAlgebra::ERVec<ERPoint2D> getConvexHull() const;
  QuickAlgebra::ERVec<ERPoint2D> getConvexHull(const ERPmIsometrie3D& T) const;

  ERInfoPoint3DSurf PtCur(double u, double v) const override;
  // The point and first partials only; see the conventions.
  ERInfoPoint3DSurf PtCur1(double u, double v) const;
  ERPoint3D operator()(double u, double v) const override;
  ERMinimax3D getBox() const override;
  double upperEstimateInU() const override;
  double upperEstimateInV() const override;
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoU(double u) const override;
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoV(double v) const override;
  // The global nearest point of the surface over its trimmed limits: its distance, uv its
  // parameter; see the conventions. NaN and uv unchanged for an invalid net or a non-finite p.
  using ERAnyBoundedSurface::nearest;
  double nearest(const ERPoint3D& p, ERPoint2D& uv) const override;
  // 0 when the boxes of the surface (inflated by 0.2) and of p (inflated by tol) are apart;
  // otherwise uv := the parameter of the nearest point, and 1 when that point is a foot.
  int ProjectionNormale(const ERPoint3D& p, double tol, ERPoint2D& uv, int flag) const override;
  // The nearest point; p itself for an invalid net.
  ERPoint3D project_inbound(const ERPoint3D& p) const override;
  // The distance to the nearest point, signed by the normal there when it is a foot
  // (DISTMIN_NORMAL), unsigned on the boundary (DISTMIN_END_POINT); DISTMIN_NONE for an
  // invalid net.
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& dist) const override;
  // Newton from uv towards the foot of p within the limits; p := the point reached. 1 when it
  // is a foot (sine of the angle between p - S and the normal at most 0.001).
  int ReajustProjection(ERPoint3D& p, ERPoint2D& uv, int flag) const override;
  // Every point of the surface (trimmed limits) on the line through p parallel to Z, appended
  // to res; see the conventions. Nothing when p is outside the box in x or y.
  void ProjectPoint(const ERPoint3D& p, ERRaySurfaceResult& res, int inside) const override;
  using ERAnyBoundedSurface::ProjectPoint;
  void GetNumberOfSpans(int& nu, int& nv) const override;
  void GetSpanBoxes(QuickAlgebra::ERSimpleVec2<ERMinimax3D>& boxes) const override;
  void CleanUpTemporaries(int level) override;

  // The limit edits of the bounded surface, dropping the caches too.
  void setBound(const ERLimites& U, const ERLimites& V) override;
  void adjust() override;
  void redefineDomainU(const ERLimites& U) override;
  void redefineDomainV(const ERLimites& V) override;
  void redefinedDomain(const ERLimites& U, const ERLimites& V) override;

  void ResetCacheBox();
  void ResetCacheConvexHull() { hull_.reset(); }
  // Every cache of the surface (box, estimates, the subclasses' own).
  virtual void ResetCaches();

 protected:
  // The view of the net for the evaluator; knot buffers for a Bezier patch are built into
  // the two arrays given (2 (p + 1) doubles each, or fewer when the view does not fit).
  virtual qorv::detail::NetView view(QuickAlgebra::ERVec<double>& bu,
                                     QuickAlgebra::ERVec<double>& bv) const = 0;
  virtual ERMinimax3D _calculateBox() const;
  // T null: the poles as they are.
  virtual QuickAlgebra::ERVec<ERPoint2D> _calculateConvexHull(const ERPmIsometrie3D* T) const;
  virtual double _calculateUpperEstimateU() const;
  virtual double _calculateUpperEstimateV() const;
  // The poles (i in u, j in v) as Cartesian points and weights.
  ERPoint3D cartesian(const qorv::detail::NetView& n, int i, int j, double& w) const;
  // The indices of the spans (first, last) that the trimmed limits touch in each direction.
  void trimmedSpans(const qorv::detail::NetView& n, int& u0, int& u1, int& v0, int& v1) const;
  // The iso-curve's weighted poles: column (u fixed, alongV) or row combination at t.
  QuickAlgebra::ERVec<ERPole3DH> isoPoles(const qorv::detail::NetView& n, double t,
                                          bool alongV) const;

 private:
  t_SmartPtr<ERFiniteEntity3DWF> isoCurve(double t, bool alongV) const;
  double upperEstimate(bool inU) const;

  using Search = qorv::detail::PoleSearch;
  const Search& search() const;
  Search buildSearch() const;

  mutable qorv::detail::Lazy<ERMinimax3D> box_;
  mutable qorv::detail::Lazy<QuickAlgebra::ERVec<ERPoint2D>> hull_;
  mutable qorv::detail::Lazy<double> estU_, estV_;
  mutable qorv::detail::Lazy<Search> search_;
};

// ---------------------------------------------------------------------------------------------
// The members the three concrete classes declare alike.
#define QORV_SPOLE_COMMON(Class, Pole)                                                         \
  QORV_DECLARE_CLASS(Class, ERSpoleRep);                                                       \
  Class(const Class&) = default;                                                               \
  Class& operator=(const Class&) = default;                                                    \
  ~Class() override = default;                                                                 \
  int degreeU() const override;                                                                \
  int degreeV() const override;                                                                \
  int nbPolesU() const override { return poles_.cols(); }                                      \
  int nbPolesV() const override { return poles_.rows(); }                                      \
  int isValid() const override;                                                                \
  QuickAlgebra::ERMatrix<ERPole3DH> homogeneousPoles() const override;                         \
  ERKnotVector knotsU() const override;                                                        \
  ERKnotVector knotsV() const override;                                                        \
  const QuickAlgebra::ERMatrix<Pole>& poles() const { return poles_; }                         \
  /* Exchanges u and v (the net transposed): the normal turns. */                              \
  void reverse() override;                                                                     \
  void scale(double k) override;                                                               \
  void translate(const ERPoint3D& t) override;                                                 \
  void transformFrom(const ERPmIsometrie3D& T) override { moveBy(T, true); }                   \
  void transformTo(const ERPmIsometrie3D& T) override { moveBy(T, false); }                    \
  void transformFrom(const ERPmSimilitude3D& T) override { moveBy(T, true); }                  \
  void transformTo(const ERPmSimilitude3D& T) override { moveBy(T, false); }                   \
  int SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,    \
               double u) const override;                                                       \
  int SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,    \
               double v) const override;                                                       \
  QORV_DECLARE_STORED(Class);                                                                  \
                                                                                               \
 protected:                                                                                    \
  qorv::detail::NetView view(QuickAlgebra::ERVec<double>& bu, QuickAlgebra::ERVec<double>& bv) \
      const override;                                                                          \
                                                                                               \
 private:                                                                                      \
  void moveBy(const ERPmSimilitude3D& T, bool forward);                                        \
  QuickAlgebra::ERMatrix<Pole> poles_

// A Bezier patch with Cartesian poles over its natural limits.
class QORV_API ERSpoleBezier3D : public ERSpoleRep {
 public:
  ERSpoleBezier3D() = default;
  // Limits [0, 1] by default; natural and trimmed alike.
  explicit ERSpoleBezier3D(const QuickAlgebra::ERMatrix<ERPoint3D>& poles,
                           const ERLimites& U = ERLimites(0, 1),
                           const ERLimites& V = ERLimites(0, 1))
      : ERSpoleRep(U, V), poles_(poles) {}
  int isBezier() const override { return 1; }
  // Raises the degrees by du and dv, the surface kept (the curve elevation on every row, then
  // on every column); negative or past 1024 does nothing in that direction.
  void incrDegree(int du, int dv) override;
  // Lowers the degrees by du and dv; see the conventions.
  int decrDegree(int du, int dv) override;
  QORV_SPOLE_COMMON(ERSpoleBezier3D, ERPoint3D);
};

// A Bezier patch with weighted poles.
class QORV_API ERSpoleBezier3DR : public ERSpoleRep {
 public:
  ERSpoleBezier3DR() = default;
  explicit ERSpoleBezier3DR(const QuickAlgebra::ERMatrix<ERPole3DH>& poles,
                            const ERLimites& U = ERLimites(0, 1),
                            const ERLimites& V = ERLimites(0, 1))
      : ERSpoleRep(U, V), poles_(poles) {}
  int isBezier() const override { return 1; }
  void incrDegree(int du, int dv) override;
  int decrDegree(int du, int dv) override;
  int isDummy() const { return dummy_; }
  void setDummy(int d) { dummy_ = d; }
  QORV_SPOLE_COMMON(ERSpoleBezier3DR, ERPole3DH);

 private:
  int dummy_ = 0;  // a caller's mark, not stored
};

// A NURBS surface: weighted poles and a knot vector in each direction.
class QORV_API ERSpoleNURBS3D : public ERSpoleRep {
 public:
  ERSpoleNURBS3D() = default;
  // Limits: the knot domains [U[p], U[n]], natural and trimmed alike.
  ERSpoleNURBS3D(const QuickAlgebra::ERMatrix<ERPole3DH>& poles, const ERKnotVector& ku,
                 const ERKnotVector& kv);
  // nbPolesU = degreeU + 1, nbPolesV = degreeV + 1 and neither vector unclamped.
  int isBezier() const override;
  // Boehm insertion of a knot r times (cut so that it reaches at most the degree); the surface
  // keeps its shape, the limits stay.
  void insertKnotU(double u, int r);
  void insertKnotV(double v, int r);
  // Degree changes in u and v, the surface kept; see the conventions.
  void incrDegree(int du, int dv) override;
  int decrDegree(int du, int dv) override;
  QORV_SPOLE_COMMON(ERSpoleNURBS3D, ERPole3DH);

 private:
  ERKnotVector ku_, kv_;
};

#undef QORV_SPOLE_COMMON

// ---------------------------------------------------------------------------------------------
// Knot insertion on a net (rows are v indices): the curve insertion applied to every row
// (BoehmInU) or every column (BoehmInV), r cut to degree - multiplicity; u outside
// [U[p], U[n]) or a net that does not fit its knots changes nothing. 1 when knots were added.
namespace qorv {
QORV_API int BoehmInU(QuickAlgebra::ERMatrix<ERPole3DH>& poles, ERKnotVector& knotsU, double u,
                      int r);
QORV_API int BoehmInV(QuickAlgebra::ERMatrix<ERPole3DH>& poles, ERKnotVector& knotsV, double v,
                      int r);
}  // namespace qorv

// The rational Bezier patches of a NURBS surface, one per non-empty span (u index i, v index j),
// each on its span's parameters: every interior knot raised to full multiplicity (an unclamped
// vector first clamped on its domain). An invalid net has no patch.
class QORV_API Nurbs3DToBezier3DRDecomposer {
 public:
  explicit Nurbs3DToBezier3DRDecomposer(const ERSpoleNURBS3D& s);
  int nu() const { return nu_; }
  int nv() const { return nv_; }
  // Null for an index outside [0, nu) x [0, nv).
  t_SmartPtr<ERSpoleBezier3DR> Bezier(int i, int j) const;
  // Applied to every patch.
  void reverse();
  void scale(double k);
  void translate(const ERPoint3D& t);
  void transformFrom(const ERPmSimilitude3D& T);
  void transformTo(const ERPmSimilitude3D& T);
  Nurbs3DToBezier3DRDecomposer* getCopy() const { return new Nurbs3DToBezier3DRDecomposer(*this); }

 private:
  ERSpoleNURBS3D net_;        // the refined net
  std::vector<int> su_, sv_;  // the span index of each patch
  int nu_ = 0, nv_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The projection of a point P on a surface as a problem for the damped Newton solver
// (ERNewtonMSolverEx): x = (s, t) the local parameters over the surface's limits,
// u = (1 - s) u0 + s u1 and v likewise; phi the distance |S(u, v) - P|; f its gradient and
// fprime its Hessian, both from the surface's record to second order (Surface: any class with
// PtCur(u, v) and udeb/ufin/vdeb/vfin, the pole surfaces and the surfaces of revolution).
// Conventions a caller gets wrong:
// - HDomaine answers 1 OUTSIDE [0, 1]^2 and 0 inside: the solver damps the steps for which it
//   answers non-zero, and those are the steps that leave the domain.
// - Where S(u, v) = P the distance has no gradient: f is 0 there and fprime the Gauss-Newton
//   matrix J^T J of the partials in (s, t). A record without second partials counts them as 0.
// - x of another length than 2: phi and f NaN, fprime a 2 x 2 NaN matrix.
template <class Surface>
class FctProjSpoleOnSurface : public ERCNewtonH {
 public:
  FctProjSpoleOnSurface(const Surface& surface, const ERPoint3D& p) : s_(&surface), p_(p) {}
  double phi(const QuickAlgebra::ERVec<double>& x) override {
    Local l;
    return at(x, l) ? std::sqrt(l.rr) : std::numeric_limits<double>::quiet_NaN();
  }
  QuickAlgebra::ERVec<double> f(const QuickAlgebra::ERVec<double>& x) override {
    QuickAlgebra::ERVec<double> g(2, std::numeric_limits<double>::quiet_NaN());
    Local l;
    if (!at(x, l)) return g;
    const double len = std::sqrt(l.rr);
    for (int a = 0; a < 2; ++a) g[a] = len > 0.0 ? dot(l.d[a], l.r) / len : 0.0;
    return g;
  }
  QuickAlgebra::ERMatrix<double> fprime(const QuickAlgebra::ERVec<double>& x) override {
    QuickAlgebra::ERMatrix<double> H(2, 2, std::numeric_limits<double>::quiet_NaN());
    Local l;
    if (!at(x, l)) return H;
    const double len = std::sqrt(l.rr);
    // d2 |r| = (Sa.Sb + r.Sab) / |r| - (Sa.r)(Sb.r) / |r|^3.
    const double* second[2][2] = {{l.dss, l.dst}, {l.dst, l.dtt}};
    for (int a = 0; a < 2; ++a)
      for (int b = 0; b < 2; ++b)
        H(a, b) = len > 0.0 ? (dot(l.d[a], l.d[b]) + dot(l.r, second[a][b])) / len -
                                  dot(l.d[a], l.r) * dot(l.d[b], l.r) / (len * len * len)
                            : dot(l.d[a], l.d[b]);
    return H;
  }
  int HDomaine(const QuickAlgebra::ERVec<double>& x) override {
    return x.length() == 2 && x[0] >= 0.0 && x[0] <= 1.0 && x[1] >= 0.0 && x[1] <= 1.0 ? 0 : 1;
  }

 private:
  struct Local {
    double r[3];     // S - P
    double rr;       // |r|^2
    double d[2][3];  // S_s, S_t
    double dss[3], dst[3], dtt[3];
  };
  static double dot(const double* a, const double* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  }
  bool at(const QuickAlgebra::ERVec<double>& x, Local& l) const {
    if (x.length() != 2) return false;
    const double hu = s_->ufin() - s_->udeb(), hv = s_->vfin() - s_->vdeb();
    const double u = (1.0 - x[0]) * s_->udeb() + x[0] * s_->ufin();
    const double v = (1.0 - x[1]) * s_->vdeb() + x[1] * s_->vfin();
    const ERInfoPoint3DSurf info = s_->PtCur(u, v);
    const QuickAlgebra::ERMatrix<ERPoint3D>& D = info.derivatives();
    auto get = [&](int i, int j, double k, double* out) {
      const bool has = j < D.rows() && i < D.cols();
      const ERPoint3D q = has ? D.data()[j * D.cols() + i] : ERPoint3D(0, 0, 0);
      out[0] = q.x() * k, out[1] = q.y() * k, out[2] = q.z() * k;
    };
    double S[3];
    get(0, 0, 1.0, S);
    for (int c = 0; c < 3; ++c) l.r[c] = S[c] - (c == 0 ? p_.x() : (c == 1 ? p_.y() : p_.z()));
    l.rr = dot(l.r, l.r);
    get(1, 0, hu, l.d[0]), get(0, 1, hv, l.d[1]);
    get(2, 0, hu * hu, l.dss), get(1, 1, hu * hv, l.dst), get(0, 2, hv * hv, l.dtt);
    return true;
  }

  const Surface* s_;
  ERPoint3D p_;
};
