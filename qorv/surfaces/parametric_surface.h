// qorv/surfaces/parametric_surface.h
//
// The parametric interface of every surface with a rectangular parameter domain,
// ERAnyBoundedSurface: evaluation with derivatives, limits, iso-curves, boxes, splitting, spans,
// a cached grid of samples, and the orthogonal projection and the projection along a line that
// the concrete surfaces supply. With it: ERRaySurfaceResult (the records a line projection
// finds), get_stable_normal (a normal where the partial derivatives degenerate) and
// FunctorNormalProjection (the objective a surface minimises to project a point).
//
// Conventions a caller gets wrong:
// - ERAnyBoundedSurface derives VIRTUALLY from ERSurface. Its non-virtual PtCur(ERPoint2D) and
//   operator()(ERPoint2D), and the pairs ProjectionNormale, ProjectPoint, SplitInU and SplitInV,
//   share names: a subclass that overrides one form brings the others back with
//   `using ERAnyBoundedSurface::PtCur;` (and likewise for the other names).
// - PtCur(ERPoint2D) clamps the parameter into the limits; operator()(ERPoint2D) does not.
// - ProjectionNormale(P, foot, normal) calls the parameter form ProjectionNormale(P, 0, uv, 1),
//   clamps uv into the limits and answers the point there with normale(); where normale() has
//   no direction (both partials zero) the stable normal stands in, so the normal is unit
//   whenever the answer is 1. On 0 nothing is written.
// - The line projection ProjectPoint(P, D, res, inside) moves a copy into the frame whose Z axis
//   is D at P, asks the copy for the records on its Z axis and maps the new ones back; a zero or
//   non-finite D, or a non-finite P, adds nothing.
// - getMatricePoint(nu, nv) caches its grid: element (i, j) at j nu + i is the point at the i-th
//   of nu u values and the j-th of nv v values, limits included (one value is the lower limit).
//   Asked again with the same sizes it gives the cached grid back without evaluating; other
//   sizes rebuild it; a grid of more than 2^27 points is refused (the cache is emptied and
//   returned). The points come from getEntityIsoU(u) at v, or, when the curve's range is not
//   the V limits (a segment's [0, 1]), at the affine image of v in its range; a null iso-curve
//   is sampled by evaluating the surface directly. The
//   cache moves with scale, translate and the transformations, is transposed by reverse and
//   emptied by CleanUpTemporaries; copies share it (copy on write).
// - randomPoint draws v first, then u, from std::rand, each inside its limits.
// - get_stable_normal returns (Su x Sv) normalised when |Su|^2, |Sv|^2 > 1e-14 and
//   |Su x Sv|^2 > 1e-14 |Su|^2 |Sv|^2; otherwise it sets degenerate = 1 and crosses finite
//   differences of the points 1e-5 of the domain away, stepping towards the farther limit
//   in each direction (the shorter difference gives way to the diagonal).
// - FunctorNormalProjection answers 3.4028234663852886e38 (the largest float) outside the
//   limits without evaluating; inside, the squared distance from Q to the surface's normal line
//   at (u, v), keeping the evaluation it made.
// - ERRaySurfaceResult owns its records: a copy holds copies, filtre deletes what it removes.
//
// Stored image: nothing of its own beyond ERSurface's; the sample cache is never stored.
#pragma once

class gmProcessMesh;

#include <cfloat>
#include <limits>
#include <utility>
#include <vector>

#include "qorv/foundation/angles.h"
#include "qorv/foundation/boxes.h"
#include "qorv/foundation/finite_entity.h"
#include "qorv/freeform/solvers.h"
#include "qorv/support/lists.h"
#include "qorv/support/quick_algebra.h"
#include "qorv/surfaces/surface.h"

// ---------------------------------------------------------------------------------------------
// The records a projection along a line finds, in the order they were added.
class QORV_API ERRaySurfaceResult {
 public:
  ERRaySurfaceResult() = default;
  ERRaySurfaceResult(const ERRaySurfaceResult& o);
  ERRaySurfaceResult& operator=(const ERRaySurfaceResult& o);
  virtual ~ERRaySurfaceResult();

  // Appends a heap copy of info.
  virtual void AddPointSolution(ERInfoPoint3DSurf& info);
  // fn on every record, in order.
  void apply(void (*fn)(ERInfoPoint3DSurf*, void*), void* ctx);
  // Removes and deletes every record for which pred answers non-zero; the others keep their
  // order.
  void filtre(int (*pred)(ERInfoPoint3DSurf*, void*), void* ctx);

  int entries() const { return list_.entries(); }
  // Record i, null for a bad index.
  ERInfoPoint3DSurf* at(int i) const;
  const ERTPtrDlist<ERInfoPoint3DSurf>& list() const { return list_; }

 private:
  void destroyAll();

  ERTPtrDlist<ERInfoPoint3DSurf> list_;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERAnyBoundedSurface : public virtual ERSurface {
 public:
  QORV_DECLARE_CLASS(ERAnyBoundedSurface, ERSurface);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  ERAnyBoundedSurface() = default;
  ERAnyBoundedSurface(const ERAnyBoundedSurface&) = default;
  ERAnyBoundedSurface& operator=(const ERAnyBoundedSurface&) = default;
  ~ERAnyBoundedSurface() override = default;

  virtual double udeb() const = 0;
  virtual double ufin() const = 0;
  virtual double vdeb() const = 0;
  virtual double vfin() const = 0;
  virtual ERLimites getBoundU() const { return ERLimites(udeb(), ufin()); }
  virtual ERLimites getBoundV() const { return ERLimites(vdeb(), vfin()); }
  // The untrimmed surface that carries this one: this surface itself by default.
  virtual t_SmartPtr<ERAnyBoundedSurface> base_surface() const;
  // S(udeb, vdeb), S(ufin, vdeb), S(ufin, vfin), S(udeb, vfin).
  virtual QuickAlgebra::ERVec<ERPoint3D> boundary_points() const;
  // Evaluation with the derivatives to order 2 at least in u and v.
  virtual ERInfoPoint3DSurf PtCur(double u, double v) const = 0;
  virtual ERPoint3D operator()(double u, double v) const { return PtCur(u, v).point(); }
  virtual ERInfoPoint3DSurf randomPoint() const;
  virtual ERMinimax3D getBox() const = 0;
  virtual t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoU(double u) const = 0;
  virtual t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoV(double v) const = 0;
  // The surface points on the line through p parallel to Z; nothing by default.
  virtual void ProjectPoint(const ERPoint3D& p, ERRaySurfaceResult& res, int inside) const {
    (void)p, (void)res, (void)inside;
  }
  // The same on the line through p along d, through ProjectPoint on a moved copy.
  virtual void ProjectPoint(const ERPoint3D& p, const ERVector3D& d, ERRaySurfaceResult& res,
                            int inside) const;
  // The parameter of the orthogonal projection of p: 1 when found, else 0.
  virtual int ProjectionNormale(const ERPoint3D& p, double tol, ERPoint2D& uv, int flag) const {
    (void)p, (void)tol, (void)uv, (void)flag;
    return 0;
  }
  // The GLOBAL nearest point of the surface within its limits (edges and corners included): its
  // distance, uv its parameter. NaN (uv untouched) when the class has no such search, for a
  // non-finite p or a degenerate surface.
  virtual double nearest(const ERPoint3D& p, ERPoint2D& uv) const {
    (void)p, (void)uv;
    return std::numeric_limits<double>::quiet_NaN();
  }
  // The same, single set to 0 when p sees a whole curve of nearest points (on an axis of
  // revolution, at a centre) and uv is one of them; 1 otherwise, and for every class that does
  // not tell.
  virtual double nearest(const ERPoint3D& p, ERPoint2D& uv, int& single) const {
    single = 1;
    return nearest(p, uv);
  }
  // How a move renumbers the parameters, asked before the move: the moved surface at m(u, v) is
  // the image of S(u, v) now. The identity by default (pole surfaces and surfaces of revolution
  // carry their parameters with their points); the placed surfaces scale or turn theirs (see
  // bounded_surfaces.h); offset and trimmed surfaces answer for their base.
  virtual ERTransfo2D parameterMapOfScale(double k) const;
  virtual ERTransfo2D parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const;
  // The point of the bounded surface nearest to p; the origin by default.
  virtual ERPoint3D project_inbound(const ERPoint3D& p) const {
    (void)p;
    return ERPoint3D();
  }
  // Refines a projection from uv; 0 (nothing done) by default.
  virtual int ReajustProjection(ERPoint3D& p, ERPoint2D& uv, int flag) const {
    (void)p, (void)uv, (void)flag;
    return 0;
  }
  virtual double upperEstimateInU() const = 0;
  virtual double upperEstimateInV() const = 0;
  // At the middle of the limits.
  virtual int SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low,
                       t_SmartPtr<ERAnyBoundedSurface>& high) const;
  virtual int SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,
                       double u) const = 0;
  virtual int SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low,
                       t_SmartPtr<ERAnyBoundedSurface>& high) const;
  virtual int SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,
                       double v) const = 0;
  virtual int IsContinuous(int order) const {
    (void)order;
    return 0;
  }
  // Empties params; 1.
  virtual int GetDiscontinuitiesU(int order, QuickAlgebra::ERVec<double>& params) const;
  virtual int GetDiscontinuitiesV(int order, QuickAlgebra::ERVec<double>& params) const;
  virtual void GetNumberOfSpans(int& nu, int& nv) const { nu = nv = 1; }
  // One box per span, nu x nv; one box, getBox(), by default.
  virtual void GetSpanBoxes(QuickAlgebra::ERSimpleVec2<ERMinimax3D>& boxes) const;
  virtual const QuickAlgebra::ERMatrix<ERPoint3D>& getMatricePoint(int nu, int nv) const;
  // The iso-lines into a mesh builder: u_density() + 1 iso-curves in u over the v limits, then
  // v_density() + 1 in v over the u limits (none in a direction whose limits are empty), each
  // discretised at the builder's chordal deviation and handed to on_add_polyline(). A null
  // iso-curve is sampled on the surface directly.
  virtual void tessalate(gmProcessMesh& mesh) const;

  // Clamps uv into the limits.
  ERInfoPoint3DSurf PtCur(const ERPoint2D& uv) const;
  // No clamping.
  ERPoint3D operator()(const ERPoint2D& uv) const { return (*this)(uv.x(), uv.y()); }

  int ProjectionNormale(const ERPoint3D& p, ERPoint3D& foot, ERVector3D& normal) const override;
  // Transposes the sample cache; a subclass turns its own geometry.
  void reverse() override;
  // These move the sample cache; a subclass moves its own geometry too.
  void scale(double k) override;
  void translate(const ERPoint3D& t) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;
  void CleanUpTemporaries(int level) override;

 private:
  mutable QuickAlgebra::ERMatrix<ERPoint3D> samples_;  // nv rows of nu points
};

// ---------------------------------------------------------------------------------------------
template <class Surface>
ERVector3D get_stable_normal(const Surface& s, const ERInfoPoint3DSurf& info, int& degenerate);
extern template QORV_API ERVector3D
get_stable_normal<ERAnyBoundedSurface>(const ERAnyBoundedSurface&, const ERInfoPoint3DSurf&, int&);

// The squared distance from Q to the normal line of the surface at (u, v): zero at the
// parameters of Q's orthogonal projections.
template <class Surface>
class FunctorNormalProjection : public FunctorBase {
 public:
  FunctorNormalProjection(const Surface* s, const ERPoint3D& q)
      : FunctorBase(2),
        surface_(s),
        q_(q),
        eval_(ERPoint2D(DBL_MAX, DBL_MAX), QuickAlgebra::ERMatrix<ERPoint3D>()) {}

  double operator()(const QuickAlgebra::ERVec<double>& x) override;

  const ERInfoPoint3DSurf& evaluation() const { return eval_; }
  const ERPoint3D& target() const { return q_; }

 private:
  const Surface* surface_;
  ERPoint3D q_;
  ERInfoPoint3DSurf eval_;
};
extern template class QORV_API FunctorNormalProjection<ERAnyBoundedSurface>;

namespace qorv::detail {

// The parameters a nearest-point search samples along a curve: n + 1 equal steps from t0 to t1
// and each corner (where the tangent jumps) strictly inside, with a sample just before it, so
// that every smooth piece is bracketed on its own; second = true marks a corner. In the order
// from t0 to t1. At most 2^16 corners are taken.
QORV_API std::vector<std::pair<double, bool>> cornerSampledParameters(
    double t0, double t1, int n, const QuickAlgebra::ERVec<double>& corners);

}  // namespace qorv::detail
