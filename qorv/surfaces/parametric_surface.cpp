#include "qorv/surfaces/parametric_surface.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "qorv/foundation/numerics.h"
#include "qorv/measurement/mesh_builder.h"
#include "qorv/measurement/sampling_lists.h"

using namespace qorv;

QORV_DEFINE_ABSTRACT_CLASS(ERAnyBoundedSurface);

// ---------------------------------------------------------------------------------------------
// ERRaySurfaceResult

ERRaySurfaceResult::ERRaySurfaceResult(const ERRaySurfaceResult& o) {
  for (const ERInfoPoint3DSurf* r : o.list_) list_.append(new ERInfoPoint3DSurf(*r));
}

ERRaySurfaceResult& ERRaySurfaceResult::operator=(const ERRaySurfaceResult& o) {
  if (this == &o) return *this;
  ERTPtrDlist<ERInfoPoint3DSurf> copies;
  for (const ERInfoPoint3DSurf* r : o.list_) copies.append(new ERInfoPoint3DSurf(*r));
  destroyAll();
  while (!copies.isEmpty()) list_.append(copies.get());
  return *this;
}

ERRaySurfaceResult::~ERRaySurfaceResult() { destroyAll(); }

void ERRaySurfaceResult::destroyAll() {
  while (!list_.isEmpty()) delete list_.get();
}

void ERRaySurfaceResult::AddPointSolution(ERInfoPoint3DSurf& info) {
  list_.append(new ERInfoPoint3DSurf(info));
}

void ERRaySurfaceResult::apply(void (*fn)(ERInfoPoint3DSurf*, void*), void* ctx) {
  if (fn == nullptr) return;
  for (ERInfoPoint3DSurf* r : list_) fn(r, ctx);
}

void ERRaySurfaceResult::filtre(int (*pred)(ERInfoPoint3DSurf*, void*), void* ctx) {
  if (pred == nullptr) return;
  ERTPtrDlist<ERInfoPoint3DSurf> kept;
  while (!list_.isEmpty()) {
    ERInfoPoint3DSurf* r = list_.get();
    if (pred(r, ctx) != 0)
      delete r;
    else
      kept.append(r);
  }
  while (!kept.isEmpty()) list_.append(kept.get());
}

ERInfoPoint3DSurf* ERRaySurfaceResult::at(int i) const {
  if (i < 0 || i >= list_.entries()) return nullptr;
  for (ERInfoPoint3DSurf* r : list_)
    if (i-- == 0) return r;
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// ERAnyBoundedSurface

namespace {

using qorv::detail::finite;

// The largest grid getMatricePoint builds (3 GB of points).
constexpr long long kMaxSamples = 1LL << 27;

using qorv::detail::clampInto;

// The k-th of n values from lo to hi, both included, clamped into the limits.
double gridValue(int k, int n, const ERLimites& l) {
  const double t = n > 1 ? static_cast<double>(k) / (n - 1) : 0.0;
  return l(t);
}

}  // namespace

t_SmartPtr<ERAnyBoundedSurface> ERAnyBoundedSurface::base_surface() const {
  return t_SmartPtr<ERAnyBoundedSurface>(const_cast<ERAnyBoundedSurface*>(this));
}

QuickAlgebra::ERVec<ERPoint3D> ERAnyBoundedSurface::boundary_points() const {
  const double u0 = udeb(), u1 = ufin(), v0 = vdeb(), v1 = vfin();
  return QuickAlgebra::ERVec<ERPoint3D>(
      {(*this)(u0, v0), (*this)(u1, v0), (*this)(u1, v1), (*this)(u0, v1)});
}

ERInfoPoint3DSurf ERAnyBoundedSurface::randomPoint() const {
  const ERLimites lu = getBoundU(), lv = getBoundV();
  const double v = lv(static_cast<double>(std::rand()) / RAND_MAX);
  const double u = lu(static_cast<double>(std::rand()) / RAND_MAX);
  return PtCur(u, v);
}

void ERAnyBoundedSurface::ProjectPoint(const ERPoint3D& p, const ERVector3D& d,
                                       ERRaySurfaceResult& res, int inside) const {
  const double len = d.norme();
  if (!finite(p) || !(len > 0.0) || !std::isfinite(len)) return;
  ERObject* raw = getCopy();
  t_SmartPtr<ERAnyBoundedSurface> copy(ERAnyBoundedSurface::castdown(raw));
  if (!copy) {
    delete raw;
    return;
  }
  const ERPmIsometrie3D T = ERChgRepere3D(d, p);
  copy->transformTo(T);
  const int n = res.entries();
  copy->ProjectPoint(ERPoint3D(0.0, 0.0, 0.0), res, inside);
  for (int i = n; i < res.entries(); ++i) res.at(i)->transformFrom(T);
}

int ERAnyBoundedSurface::SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low,
                                  t_SmartPtr<ERAnyBoundedSurface>& high) const {
  return SplitInU(low, high, getBoundU()(0.5));
}

int ERAnyBoundedSurface::SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low,
                                  t_SmartPtr<ERAnyBoundedSurface>& high) const {
  return SplitInV(low, high, getBoundV()(0.5));
}

int ERAnyBoundedSurface::GetDiscontinuitiesU(int, QuickAlgebra::ERVec<double>& params) const {
  params.clear();
  return 1;
}

int ERAnyBoundedSurface::GetDiscontinuitiesV(int, QuickAlgebra::ERVec<double>& params) const {
  params.clear();
  return 1;
}

void ERAnyBoundedSurface::GetSpanBoxes(QuickAlgebra::ERSimpleVec2<ERMinimax3D>& boxes) const {
  boxes.reshape(1, 1);
  boxes(0, 0) = getBox();
}

const QuickAlgebra::ERMatrix<ERPoint3D>& ERAnyBoundedSurface::getMatricePoint(int nu,
                                                                              int nv) const {
  nu = std::max(nu, 0), nv = std::max(nv, 0);
  if (samples_.cols() == nu && samples_.rows() == nv) return samples_;
  if (static_cast<long long>(nu) * nv > kMaxSamples) {  // refused: an empty grid
    samples_ = QuickAlgebra::ERMatrix<ERPoint3D>();
    return samples_;
  }
  QuickAlgebra::ERMatrix<ERPoint3D> grid(nv, nu);
  const ERLimites lu = getBoundU(), lv = getBoundV();
  for (int i = 0; i < nu; ++i) {
    const double u = gridValue(i, nu, lu);
    const t_SmartPtr<ERFiniteEntity3DWF> iso = getEntityIsoU(u);
    // An iso-curve over another range (a segment's [0, 1]) is read through the affine map of
    // the V limits onto it.
    const bool same = iso && iso->udeb() == lv.start() && iso->ufin() == lv.end();
    for (int j = 0; j < nv; ++j) {
      const double v = gridValue(j, nv, lv);
      if (!iso) {
        grid(j, i) = (*this)(u, v);
      } else if (same) {
        grid(j, i) = (*iso)(v);
      } else {
        const double t = lv.amplitude() != 0.0 ? lv.ratio(v) : 0.0;
        grid(j, i) = (*iso)(iso->udeb() + t * (iso->ufin() - iso->udeb()));
      }
    }
  }
  samples_ = grid;
  return samples_;
}

ERInfoPoint3DSurf ERAnyBoundedSurface::PtCur(const ERPoint2D& uv) const {
  return PtCur(clampInto(uv.x(), getBoundU()), clampInto(uv.y(), getBoundV()));
}

int ERAnyBoundedSurface::ProjectionNormale(const ERPoint3D& p, ERPoint3D& foot,
                                           ERVector3D& normal) const {
  ERPoint2D uv;
  if (ProjectionNormale(p, 0.0, uv, 1) == 0) return 0;
  const ERInfoPoint3DSurf info = PtCur(uv);
  ERVector3D n = info.normale();
  if (n.norme2() == 0.0) {
    int degenerate = 0;
    n = get_stable_normal(*this, info, degenerate);
  }
  foot = info.point();
  normal = n;
  return 1;
}

void ERAnyBoundedSurface::reverse() {
  const int nu = samples_.cols(), nv = samples_.rows();
  if (nu == 0 || nv == 0) return;
  QuickAlgebra::ERMatrix<ERPoint3D> t(nu, nv);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) t(i, j) = samples_(j, i);
  samples_ = t;
}

ERTransfo2D ERAnyBoundedSurface::parameterMapOfScale(double k) const {
  (void)k;
  return ERTransfo2D();
}

ERTransfo2D ERAnyBoundedSurface::parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const {
  (void)T, (void)forward;
  return ERTransfo2D();
}

void ERAnyBoundedSurface::scale(double k) {
  if (samples_.isEmpty()) return;
  for (ERPoint3D& p : samples_) p *= k;
}

void ERAnyBoundedSurface::translate(const ERPoint3D& t) {
  if (samples_.isEmpty()) return;
  for (ERPoint3D& p : samples_) p += t;
}

void ERAnyBoundedSurface::transformFrom(const ERPmSimilitude3D& T) {
  if (samples_.isEmpty()) return;
  for (ERPoint3D& p : samples_) p = T >> p;
}

void ERAnyBoundedSurface::transformTo(const ERPmSimilitude3D& T) {
  if (samples_.isEmpty()) return;
  for (ERPoint3D& p : samples_) p = T << p;
}

void ERAnyBoundedSurface::CleanUpTemporaries(int level) {
  ERSurface::CleanUpTemporaries(level);
  samples_ = QuickAlgebra::ERMatrix<ERPoint3D>();
}

// ---------------------------------------------------------------------------------------------
// The stable normal and the projection objective.

template <class Surface>
ERVector3D get_stable_normal(const Surface& s, const ERInfoPoint3DSurf& info, int& degenerate) {
  degenerate = 0;
  const ERLimites lu = s.getBoundU(), lv = s.getBoundV();
  const ERVector3D su = info.tangenteU(), sv = info.tangenteV();
  const double e = su.norme2(), g = sv.norme2();
  if (e > 1e-14 && g > 1e-14) {
    const ERVector3D n = su ^ sv;
    if (n.norme2() > 1e-14 * e * g) return n.getnormalized();
  }
  degenerate = 1;
  const double u = info.parameter().x(), v = info.parameter().y();
  double du = lu.amplitude() * 1e-5, dv = lv.amplitude() * 1e-5;
  if (u - lu.start() > lu.end() - u) du = -du;  // towards the farther limit
  if (v - lv.start() > lv.end() - v) dv = -dv;
  const ERPoint3D p = info.point();
  ERVector3D a = s(u + du, v) - p, b = s(u, v + dv) - p;
  const ERVector3D diagonal = s(u + du, v + dv) - p;
  if (b.norme() > a.norme())
    a = diagonal;
  else
    b = diagonal;
  ERVector3D n = a ^ b;
  if (du * dv < 0.0) n = -n;
  return n.normalize();
}

template QORV_API ERVector3D get_stable_normal<ERAnyBoundedSurface>(const ERAnyBoundedSurface&,
                                                                    const ERInfoPoint3DSurf&, int&);

template <class Surface>
double FunctorNormalProjection<Surface>::operator()(const QuickAlgebra::ERVec<double>& x) {
  if (x.length() < 2 || surface_ == nullptr) return 3.4028234663852886e38;
  const double u = x[0], v = x[1];
  if (!surface_->getBoundU().inBound(u) || !surface_->getBoundV().inBound(v))
    return 3.4028234663852886e38;
  eval_ = surface_->PtCur(u, v);
  int degenerate = 0;
  const ERVector3D n = get_stable_normal(*surface_, eval_, degenerate);
  const ERVector3D d = eval_.point() - q_;
  const double along = d * n;
  return std::max(0.0, d * d - along * along);
}

template class FunctorNormalProjection<ERAnyBoundedSurface>;

// ---------------------------------------------------------------------------------------------
// Tessellation into a mesh builder.

namespace {

// One iso-line at fixed u (alongU) or fixed v, over the other parameter's limits.
void emitIso(const ERAnyBoundedSurface& s, gmProcessMesh& mesh, bool fixedU, double t) {
  const double tol = mesh.chordal_deviation();
  const ERLimites range = fixedU ? s.getBoundV() : s.getBoundU();
  const t_SmartPtr<ERFiniteEntity3DWF> iso = fixedU ? s.getEntityIsoU(t) : s.getEntityIsoV(t);
  if (iso) {
    mesh.on_add_polyline(iso->approxime(range, tol));
    return;
  }
  ERPoint23List samples;
  const ERPoint2D a = fixedU ? ERPoint2D(t, range.start()) : ERPoint2D(range.start(), t);
  const ERPoint2D b = fixedU ? ERPoint2D(t, range.end()) : ERPoint2D(range.end(), t);
  samples.append(s(a.x(), a.y()), a);
  samples.append(s(b.x(), b.y()), b);
  samples.Smash(s, tol);
  mesh.on_add_polyline(samples.toVec());
}

void emitDirection(const ERAnyBoundedSurface& s, gmProcessMesh& mesh, bool fixedU) {
  const double lo = fixedU ? s.udeb() : s.vdeb(), hi = fixedU ? s.ufin() : s.vfin();
  if (!(hi - lo > 0)) return;
  const int count = std::max(1, fixedU ? mesh.u_density() : mesh.v_density());
  for (int i = 0; i <= count; ++i) {
    const double t = std::clamp(lo + (static_cast<double>(i) / count) * (hi - lo), lo, hi);
    emitIso(s, mesh, fixedU, t);
  }
}

}  // namespace

void ERAnyBoundedSurface::tessalate(gmProcessMesh& mesh) const {
  emitDirection(*this, mesh, true);
  emitDirection(*this, mesh, false);
}

std::vector<std::pair<double, bool>> qorv::detail::cornerSampledParameters(
    double t0, double t1, int n, const QuickAlgebra::ERVec<double>& corners) {
  std::vector<std::pair<double, bool>> ts;
  for (int i = 0; i <= n; ++i)
    ts.emplace_back(i == n ? t1 : t0 + (t1 - t0) * (double(i) / n), false);
  const double lo = std::min(t0, t1), hi = std::max(t0, t1), eps = 1e-9 * (hi - lo);
  for (int i = 0; i < std::min(corners.length(), 1 << 16); ++i) {
    const double c = corners[i];
    if (!(lo < c && c < hi)) continue;
    ts.emplace_back(c, true);
    ts.emplace_back(t1 >= t0 ? c - eps : c + eps, false);
  }
  std::sort(ts.begin(), ts.end(), [&](const auto& x, const auto& y) {
    return t1 >= t0 ? x.first < y.first : x.first > y.first;
  });
  return ts;
}
