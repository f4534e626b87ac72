#include "qorv/surfaces/offset_surface.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include "qorv/foundation/numerics.h"
#include "qorv/persistence/file.h"

using namespace qorv;

QORV_DEFINE_CLASS(EROffsetSurface);
QORV_DEFINE_CLASS(EROffsetSurfaceIsoParam);
QORV_DEFINE_COPYABLE(EROffsetSurface);

namespace {

using qorv::detail::finite;
using qorv::detail::kNaN;
using qorv::detail::maxAbs;

// A stored reference: long 1 for none, else 0 and the identifier.
void saveRef(ERFile& f, const ERObject* o) {
  f.Write(static_cast<long>(o != nullptr ? 0 : 1));
  if (o != nullptr) o->recursiveSaveOn(f);
}

// 1 and the object (null for none) when the record reads and holds a surface; 0 otherwise.
template <class T>
int readRef(ERFile& f, t_SmartPtr<T>& out) {
  long flag = -1;
  if (!f.Read(flag) || (flag != 0 && flag != 1)) return 0;
  out = nullptr;
  if (flag == 1) return 1;
  t_SmartPtr<ERObject> o = ERObject::recursiveRestoreFrom(f);
  if (!o || !o->isKindOf(T::desc())) return 0;
  out = T::castdown(o.get());
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// EROffsetSurface

EROffsetSurface::EROffsetSurface(const EROffsetSurface& o)
    : ERSurface(o),
      ERAnyBoundedSurface(o),
      offset_(o.offset_),
      indicator_(o.indicator_),
      equivValue_(o.equivValue_) {
  copyGeometry(o);
}

EROffsetSurface& EROffsetSurface::operator=(const EROffsetSurface& o) {
  if (this == &o) return *this;
  ERAnyBoundedSurface::operator=(o);
  offset_ = o.offset_, indicator_ = o.indicator_, equivValue_ = o.equivValue_;
  copyGeometry(o);
  return *this;
}

void EROffsetSurface::copyGeometry(const EROffsetSurface& o) {
  base_ = o.base_
              ? t_SmartPtr<ERAnyBoundedSurface>(ERAnyBoundedSurface::castdown(o.base_->getCopy()))
              : t_SmartPtr<ERAnyBoundedSurface>();
  if (o.equiv_ && o.equiv_ == o.base_) {
    equiv_ = base_;
  } else {
    equiv_ =
        o.equiv_
            ? t_SmartPtr<ERAnyBoundedSurface>(ERAnyBoundedSurface::castdown(o.equiv_->getCopy()))
            : t_SmartPtr<ERAnyBoundedSurface>();
  }
}

EROffsetSurface::EROffsetSurface(const ERAnyBoundedSurface& base, double offset,
                                 const ERVector3D& indicator)
    : offset_(offset), indicator_(indicator) {
  base_ = ERAnyBoundedSurface::castdown(base.getCopy());
  Normalize();
}

EROffsetSurface::EROffsetSurface(ERAnyBoundedSurface* base, double offset,
                                 const ERVector3D& indicator)
    : base_(base), offset_(offset), indicator_(indicator) {
  Normalize();
}

t_SmartPtr<ERAnyBoundedSurface> EROffsetSurface::getEquivSurface(double value) const {
  (void)value;
  return base_;
}

ERVector3D EROffsetSurface::offsetNormal(const ERInfoPoint3DSurf& e) const {
  const ERVector3D a = e.tangenteU().getnormalized(), b = e.tangenteV().getnormalized();
  const ERVector3D c = a ^ b;
  // 1e-14: the sine of the angle of the partials squared, as get_stable_normal reads it.
  if (c.norme2() > 1e-14 && finite(c)) return c.getnormalized();
  if (!base_) return ERVector3D();
  // The limit of the neighbours' normals: a step of 1e-9 of the limits towards the farther
  // limit, in u, then in v (a pole degenerates along one direction only); then the finite
  // differences of get_stable_normal.
  const double u = e.parameter().x(), v = e.parameter().y();
  const double u0 = udeb(), u1 = ufin(), v0 = vdeb(), v1 = vfin();
  const double su = 1e-9 * (u1 - u0) * (u - u0 > u1 - u ? -1 : 1);
  const double sv = 1e-9 * (v1 - v0) * (v - v0 > v1 - v ? -1 : 1);
  for (int k = 0; k < 2; ++k) {
    const ERInfoPoint3DSurf f = base_->PtCur(k == 0 ? u + su : u, k == 0 ? v : v + sv);
    const ERVector3D g = f.tangenteU().getnormalized() ^ f.tangenteV().getnormalized();
    if (g.norme2() > 1e-14 && finite(g)) return g.getnormalized();
  }
  int degenerate = 0;
  const ERVector3D s = get_stable_normal(*base_, e, degenerate);
  if (finite(s) && s.norme2() > 0) return s.getnormalized();
  const ERVector3D n = e.normale();
  return finite(n) ? n : ERVector3D();
}

ERVector3D EROffsetSurface::middleNormal() const {
  if (!base_) return ERVector3D();
  const double u = ERLimites(base_->udeb(), base_->ufin())(0.5);
  const double v = ERLimites(base_->vdeb(), base_->vfin())(0.5);
  return offsetNormal(base_->PtCur(u, v));
}

void EROffsetSurface::Normalize() {
  if (middleNormal() * indicator_ < 0) {
    indicator_ = -indicator_;
    offset_ = -offset_;
  }
}

double EROffsetSurface::udeb() const { return base_ ? base_->udeb() : 0.0; }
double EROffsetSurface::ufin() const { return base_ ? base_->ufin() : 0.0; }
double EROffsetSurface::vdeb() const { return base_ ? base_->vdeb() : 0.0; }
double EROffsetSurface::vfin() const { return base_ ? base_->vfin() : 0.0; }
ERLimites EROffsetSurface::getBoundU() const { return base_ ? base_->getBoundU() : ERLimites(); }
ERLimites EROffsetSurface::getBoundV() const { return base_ ? base_->getBoundV() : ERLimites(); }

ERInfoPoint3DSurf EROffsetSurface::PtCur(double u, double v) const {
  if (!base_) {
    QuickAlgebra::ERMatrix<ERPoint3D> m(3, 3, ERPoint3D(kNaN, kNaN, kNaN));
    return ERInfoPoint3DSurf(ERPoint2D(u, v), std::move(m));
  }
  ERInfoPoint3DSurf e = base_->PtCur(u, v);
  QuickAlgebra::ERMatrix<ERPoint3D> m = e.derivatives();
  if (m.length() == 0) return e;
  m[0] = e.point() + offsetNormal(e) * offset_;
  return ERInfoPoint3DSurf(e.parameter(), std::move(m));
}

ERPoint3D EROffsetSurface::operator()(double u, double v) const { return PtCur(u, v).point(); }

ERMinimax3D EROffsetSurface::getBox() const {
  if (!base_) return ERMinimax3D();
  ERMinimax3D box = base_->getBox();
  // The inflation's own rounding: one part in 2^50 of the coordinates.
  const double slack = 1e-15 * std::max(maxAbs(box.MinPoint()), maxAbs(box.MaxPoint()));
  box.Inflate(std::fabs(offset_) * (1 + 4 * DBL_EPSILON) + slack);
  return box;
}

t_SmartPtr<EROffsetSurface> EROffsetSurface::holder() const {
  // Shared when a smart pointer already holds this surface; otherwise (on the stack, a
  // member, a bare new) a holder would end up deleting it: a copy then.
  if (isOnTheHeap() && references() >= 1) return const_cast<EROffsetSurface*>(this);
  return new EROffsetSurface(*this);
}

t_SmartPtr<ERFiniteEntity3DWF> EROffsetSurface::getEntityIsoU(double u) const {
  return t_SmartPtr<ERFiniteEntity3DWF>(
      new EROffsetSurfaceIsoParam(holder(), EROffsetSurfaceIsoParam::ISO_U, u));
}

t_SmartPtr<ERFiniteEntity3DWF> EROffsetSurface::getEntityIsoV(double v) const {
  return t_SmartPtr<ERFiniteEntity3DWF>(
      new EROffsetSurfaceIsoParam(holder(), EROffsetSurfaceIsoParam::ISO_V, v));
}

void EROffsetSurface::ProjectPoint(const ERPoint3D& p, ERRaySurfaceResult& res, int inside) const {
  (void)inside;
  if (!base_ || !std::isfinite(p.x()) || !std::isfinite(p.y())) return;
  constexpr int N = 33;
  const double u0 = udeb(), u1 = ufin(), v0 = vdeb(), v1 = vfin();
  const double ul = std::min(u0, u1), uh = std::max(u0, u1), vl = std::min(v0, v1),
               vh = std::max(v0, v1);
  std::vector<ERPoint3D> grid(N * N);
  std::vector<double> dist(N * N);
  double size = 0;
  for (int j = 0; j < N; ++j)
    for (int i = 0; i < N; ++i) {
      const ERPoint3D q =
          (*this)(ERLimites(u0, u1)(i / (N - 1.0)), ERLimites(v0, v1)(j / (N - 1.0)));
      grid[j * N + i] = q;
      dist[j * N + i] = std::hypot(q.x() - p.x(), q.y() - p.y());
      if (std::isfinite(dist[j * N + i])) size = std::max(size, maxAbs(q));
    }
  // The largest horizontal step between neighbouring samples: a crossing lies within it of
  // some sample. Seeds: those samples and the local minima, nearest first, at most 256.
  double step = 0;
  for (int j = 0; j < N; ++j)
    for (int i = 0; i < N; ++i) {
      const ERPoint3D& a = grid[j * N + i];
      if (i + 1 < N)
        step = std::max(
            step, std::hypot(a.x() - grid[j * N + i + 1].x(), a.y() - grid[j * N + i + 1].y()));
      if (j + 1 < N)
        step = std::max(
            step, std::hypot(a.x() - grid[(j + 1) * N + i].x(), a.y() - grid[(j + 1) * N + i].y()));
    }
  std::vector<std::pair<double, int>> seeds;
  for (int j = 0; j < N; ++j)
    for (int i = 0; i < N; ++i) {
      const double d0 = dist[j * N + i];
      if (!std::isfinite(d0)) continue;
      bool minimum = true;
      for (int dj = -1; dj <= 1 && minimum; ++dj)
        for (int di = -1; di <= 1; ++di) {
          const int a = i + di, b = j + dj;
          if ((di == 0 && dj == 0) || a < 0 || b < 0 || a >= N || b >= N) continue;
          if (dist[b * N + a] < d0) {
            minimum = false;
            break;
          }
        }
      if (minimum || d0 <= step) seeds.emplace_back(d0, j * N + i);
    }
  std::sort(seeds.begin(), seeds.end());
  if (seeds.size() > 256) seeds.resize(256);
  std::vector<ERPoint3D> found;
  for (const auto& seed : seeds) {
    const int i = seed.second % N, j = seed.second / N;
    // Newton on the horizontal offset of S(u, v) from p, Jacobian by central differences.
    double u = ERLimites(u0, u1)(i / (N - 1.0)), v = ERLimites(v0, v1)(j / (N - 1.0));
    const double hu = 1e-7 * std::max(uh - ul, 1e-300), hv = 1e-7 * std::max(vh - vl, 1e-300);
    bool ok = false;
    for (int it = 0; it < 40; ++it) {
      const ERPoint3D s = (*this)(u, v);
      const double fx = s.x() - p.x(), fy = s.y() - p.y();
      if (std::hypot(fx, fy) <= 1e-12 * std::max(size, 1e-300)) {
        ok = true;
        break;
      }
      // In units of the surface's size: the determinant's products stay finite.
      const double k = std::ldexp(1.0, -std::ilogb(std::max(size, 1e-300)));
      const ERVector3D du = ((*this)(u + hu, v) - (*this)(u - hu, v)) * (k / (2 * hu));
      const ERVector3D dv = ((*this)(u, v + hv) - (*this)(u, v - hv)) * (k / (2 * hv));
      const double gx = fx * k, gy = fy * k;
      const double det = du.x() * dv.y() - du.y() * dv.x();
      if (!(det != 0) || !std::isfinite(det)) break;
      const double su = (gx * dv.y() - gy * dv.x()) / det, sv = (du.x() * gy - du.y() * gx) / det;
      u = std::clamp(u - su, ul, uh), v = std::clamp(v - sv, vl, vh);
    }
    if (!ok) continue;
    ERInfoPoint3DSurf e = PtCur(u, v);
    const ERPoint3D q = e.point();
    bool seen = false;
    for (const ERPoint3D& f : found) seen = seen || distance(f, q) <= 1e-9 * std::max(size, 1e-300);
    if (seen) continue;
    found.push_back(q);
    res.AddPointSolution(e);
  }
}

double EROffsetSurface::estimate(bool inU) const {
  if (!base_) return 0.0;
  const double base = inU ? base_->upperEstimateInU() : base_->upperEstimateInV();
  constexpr int N = 17;
  double turn = 0;
  for (int k = 0; k < N; ++k) {
    double sum = 0;
    ERVector3D prev;
    for (int i = 0; i < N; ++i) {
      const double a = i / (N - 1.0), b = k / (N - 1.0);
      const double u = ERLimites(udeb(), ufin())(inU ? a : b),
                   v = ERLimites(vdeb(), vfin())(inU ? b : a);
      const ERVector3D n = offsetNormal(base_->PtCur(u, v));
      if (i > 0) sum += (n - prev).norme();
      prev = n;
    }
    turn = std::max(turn, sum);
  }
  return base + std::fabs(offset_) * turn;
}

double EROffsetSurface::upperEstimateInU() const { return estimate(true); }
double EROffsetSurface::upperEstimateInV() const { return estimate(false); }

int EROffsetSurface::split(t_SmartPtr<EROffsetSurface>& low, t_SmartPtr<EROffsetSurface>& high,
                           double t, bool inU) const {
  if (!base_) return 0;
  t_SmartPtr<ERAnyBoundedSurface> a, b;
  if (!(inU ? base_->SplitInU(a, b, t) : base_->SplitInV(a, b, t)) || !a || !b) return 0;
  auto piece = [&](const t_SmartPtr<ERAnyBoundedSurface>& s) {
    auto* o = new EROffsetSurface(*this);
    o->CleanUpTemporaries(-1);
    o->base_ = s;
    o->equiv_ = nullptr, o->equivValue_ = 0.0;
    const ERVector3D n = o->middleNormal();
    o->indicator_ = n.norme2() > 0 ? n : indicator_;
    return o;
  };
  low = piece(a), high = piece(b);
  return 1;
}

int EROffsetSurface::SplitInU(t_SmartPtr<EROffsetSurface>& low, t_SmartPtr<EROffsetSurface>& high,
                              double u) const {
  return split(low, high, u, true);
}
int EROffsetSurface::SplitInV(t_SmartPtr<EROffsetSurface>& low, t_SmartPtr<EROffsetSurface>& high,
                              double v) const {
  return split(low, high, v, false);
}
int EROffsetSurface::SplitInU(t_SmartPtr<EROffsetSurface>& low,
                              t_SmartPtr<EROffsetSurface>& high) const {
  return split(low, high, ERLimites(udeb(), ufin())(0.5), true);
}
int EROffsetSurface::SplitInV(t_SmartPtr<EROffsetSurface>& low,
                              t_SmartPtr<EROffsetSurface>& high) const {
  return split(low, high, ERLimites(vdeb(), vfin())(0.5), false);
}
int EROffsetSurface::SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low,
                              t_SmartPtr<ERAnyBoundedSurface>& high, double u) const {
  t_SmartPtr<EROffsetSurface> a, b;
  if (!split(a, b, u, true)) return 0;
  low = a, high = b;
  return 1;
}
int EROffsetSurface::SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low,
                              t_SmartPtr<ERAnyBoundedSurface>& high, double v) const {
  t_SmartPtr<EROffsetSurface> a, b;
  if (!split(a, b, v, false)) return 0;
  low = a, high = b;
  return 1;
}

void EROffsetSurface::reverse() {
  ERAnyBoundedSurface::reverse();
  if (!base_) return;
  const ERPoint3D p0 = (*base_)(ERLimites(udeb(), ufin())(0.5), ERLimites(vdeb(), vfin())(0.5));
  const ERVector3D n0 = middleNormal();
  base_->reverse();
  const ERPoint3D p1 = (*base_)(ERLimites(udeb(), ufin())(0.5), ERLimites(vdeb(), vfin())(0.5));
  const ERVector3D n1 = middleNormal();
  const double size = std::max({maxAbs(p0), maxAbs(p1), 1e-300});
  // The middle stays the middle when a reverse exchanges or keeps the parameters; otherwise
  // the normal's turn cannot be read there, and the base is taken to have turned.
  const bool turned = distance(p0, p1) > 1e-9 * size || n0 * n1 < 0;
  if (turned) offset_ = -offset_, indicator_ = -indicator_;
}

ERTransfo2D EROffsetSurface::parameterMapOfScale(double k) const {
  return base_ ? base_->parameterMapOfScale(k) : ERTransfo2D();
}

ERTransfo2D EROffsetSurface::parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const {
  return base_ ? base_->parameterMapOfMove(T, forward) : ERTransfo2D();
}

void EROffsetSurface::scale(double k) {
  ERAnyBoundedSurface::scale(k);
  if (base_) base_->scale(k);
  if (equiv_ && equiv_ != base_) equiv_->scale(k);
  offset_ *= std::fabs(k);
  if (k < 0) indicator_ = -indicator_;
  Normalize();
}

void EROffsetSurface::translate(const ERPoint3D& t) {
  ERAnyBoundedSurface::translate(t);
  if (base_) base_->translate(t);
  if (equiv_ && equiv_ != base_) equiv_->translate(t);
}

void EROffsetSurface::transformFrom(const ERPmSimilitude3D& T) {
  ERAnyBoundedSurface::transformFrom(T);
  if (base_) base_->transformFrom(T);
  if (equiv_ && equiv_ != base_) equiv_->transformFrom(T);
  const ERVector3D i = T >> indicator_;
  offset_ *= i.norme() / std::max(indicator_.norme(), 1e-300);
  indicator_ = i.getnormalized();
  Normalize();
}

void EROffsetSurface::transformTo(const ERPmSimilitude3D& T) {
  ERAnyBoundedSurface::transformTo(T);
  if (base_) base_->transformTo(T);
  if (equiv_ && equiv_ != base_) equiv_->transformTo(T);
  const ERVector3D i = T << indicator_;
  offset_ *= i.norme() / std::max(indicator_.norme(), 1e-300);
  indicator_ = i.getnormalized();
  Normalize();
}

void EROffsetSurface::printOn(std::ostream& os) const {
  os << "Surface Offset " << '\n';
  os << "   Offset      : " << offset_ << '\n';
  os << "   Indicateur  : " << indicator_ << '\n';
  os << "   Based On    : ";
  if (base_) base_->printOn(os);
  os << '\n';
  os << "  Equiv Entity : ";
  if (equiv_) equiv_->printOn(os);
  os << '\n';
}

void EROffsetSurface::saveGuts(ERFile& f) const {
  ERAnyBoundedSurface::saveGuts(f);
  f.Write(offset_), f.Write(equivValue_);
  f.Write(indicator_.x()), f.Write(indicator_.y()), f.Write(indicator_.z());
  saveRef(f, base_.get());
  saveRef(f, equiv_.get());
}

void EROffsetSurface::restoreGuts(ERFile& f) {
  ERAnyBoundedSurface::restoreGuts(f);
  double v[5];
  if (!detail::restoreDoubles(f, v, 5)) return;
  t_SmartPtr<ERAnyBoundedSurface> base, equiv;
  if (!readRef(f, base) || !readRef(f, equiv)) return;
  offset_ = v[0], equivValue_ = v[1];
  indicator_ = ERVector3D(v[2], v[3], v[4]);
  base_ = base, equiv_ = equiv;
  CleanUpTemporaries(-1);
}

std::uint32_t EROffsetSurface::binaryStoreSize() const {
  return ERAnyBoundedSurface::binaryStoreSize() + 40 + 4 + (base_ ? 4 : 0) + 4 + (equiv_ ? 4 : 0);
}

// ---------------------------------------------------------------------------------------------
// EROffsetSurfaceIsoParam

EROffsetSurfaceIsoParam::EROffsetSurfaceIsoParam(t_SmartPtr<EROffsetSurface> surface, TYPE type,
                                                 double p)
    : surface_(std::move(surface)), type_(type == ISO_U ? ISO_U : ISO_V), p_(p) {}

QORV_DEFINE_COPYABLE(EROffsetSurfaceIsoParam);

double EROffsetSurfaceIsoParam::udeb() const {
  if (!surface_) return 0.0;
  return type_ == ISO_U ? surface_->vdeb() : surface_->udeb();
}

double EROffsetSurfaceIsoParam::ufin() const {
  if (!surface_) return 0.0;
  return type_ == ISO_U ? surface_->vfin() : surface_->ufin();
}

ERLimites EROffsetSurfaceIsoParam::getBound() const {
  return ERLimites(std::min(udeb(), ufin()), std::max(udeb(), ufin()));
}

ERPoint3D EROffsetSurfaceIsoParam::operator()(double t) const {
  if (!surface_) return ERPoint3D(kNaN, kNaN, kNaN);
  const ERPoint2D uv = uvOf(t);
  return (*surface_)(uv.x(), uv.y());
}

namespace {

// The derivative of the offset surface along u (alongU) or v: B' + offset n', with n' the
// derivative of (Su x Sv)/|Su x Sv|.
ERVector3D offsetDerivative(const EROffsetSurface& s, const ERInfoPoint3DSurf& e, bool alongU) {
  const auto& m = e.derivatives();
  if (m.length() < 9) return ERVector3D(kNaN, kNaN, kNaN);
  const ERVector3D base = alongU ? ERVector3D(m[1]) : ERVector3D(m[3]);
  // n and its derivative do not change when every partial is scaled by one power of two:
  // one that keeps their products finite at every magnitude.
  const double ref = std::max(ERVector3D(m[1]).norme(), ERVector3D(m[3]).norme());
  const double k = ref > 0 && std::isfinite(ref) ? std::ldexp(1.0, -std::ilogb(ref)) : 1.0;
  const ERVector3D su = ERVector3D(m[1]) * k, sv = ERVector3D(m[3]) * k, suu = ERVector3D(m[2]) * k,
                   suv = ERVector3D(m[4]) * k, svv = ERVector3D(m[6]) * k;
  const ERVector3D N = su ^ sv;
  const double len = N.norme();
  if (!(len > 0) || s.getOffset() == 0) return base;
  const ERVector3D dN = alongU ? (suu ^ sv) + (su ^ suv) : (suv ^ sv) + (su ^ svv);
  const ERVector3D n = N / len;
  const ERVector3D dn = (dN - n * (n * dN)) / len;
  const ERVector3D sign = s.offsetNormal(e);
  // The offset normal may be the opposite of N / |N| (never, as built) or a fall-back.
  const double side = sign * n < 0 ? -1.0 : 1.0;
  return base + dn * (side * s.getOffset());
}

}  // namespace

ERInfoPoint3DWF EROffsetSurfaceIsoParam::PtCur(double t) const {
  if (!surface_) {
    const ERVector3D nan(kNaN, kNaN, kNaN);
    return ERInfoPoint3DWF(t, 1, ERPoint3D(kNaN, kNaN, kNaN), nan, nan);
  }
  const ERPoint2D uv = uvOf(t);
  const ERInfoPoint3DSurf e = surface_->PtCur(uv.x(), uv.y());
  const bool alongU = type_ != ISO_U;
  const ERVector3D d1 = offsetDerivative(*surface_, e, alongU);
  const double span = std::fabs(ufin() - udeb());
  const double h = 6e-6 * (span > 0 && std::isfinite(span) ? span : 1.0);
  const ERPoint2D a = uvOf(t - h), b = uvOf(t + h);
  const ERVector3D d2 = (offsetDerivative(*surface_, surface_->PtCur(b.x(), b.y()), alongU) -
                         offsetDerivative(*surface_, surface_->PtCur(a.x(), a.y()), alongU)) /
                        (2 * h);
  return ERInfoPoint3DWF(t, 1, e.point(), d1, d2);
}

ERMinimax3D EROffsetSurfaceIsoParam::getBox() const {
  if (!surface_) return ERMinimax3D();
  const t_SmartPtr<ERAnyBoundedSurface> base = surface_->getBaseSurface();
  t_SmartPtr<ERFiniteEntity3DWF> iso;
  if (base) iso = type_ == ISO_U ? base->getEntityIsoU(p_) : base->getEntityIsoV(p_);
  if (!iso || iso->isKindOf(EROffsetSurfaceIsoParam::desc())) return surface_->getBox();
  ERMinimax3D box = iso->getBox();
  const double slack = 1e-15 * std::max(maxAbs(box.MinPoint()), maxAbs(box.MaxPoint()));
  box.Inflate(std::fabs(surface_->getOffset()) * (1 + 4 * DBL_EPSILON) + slack);
  return box;
}

double EROffsetSurfaceIsoParam::arcLength(const ERLimites& range, double tol) const {
  (void)tol;
  if (!surface_) return 0.0;
  // Gauss-Legendre, 5 points on each of 64 pieces of the range.
  static const double x[5] = {0.0, -0.5384693101056831, 0.5384693101056831, -0.9061798459386640,
                              0.9061798459386640};
  static const double w[5] = {0.5688888888888889, 0.4786286704993665, 0.4786286704993665,
                              0.2369268850561891, 0.2369268850561891};
  const bool alongU = type_ != ISO_U;
  double sum = 0;
  constexpr int pieces = 64;
  const double step = (range.end() - range.start()) / pieces;
  for (int k = 0; k < pieces; ++k) {
    const double mid = range.start() + (k + 0.5) * step;
    for (int i = 0; i < 5; ++i) {
      const ERPoint2D uv = uvOf(mid + 0.5 * step * x[i]);
      sum += w[i] * offsetDerivative(*surface_, surface_->PtCur(uv.x(), uv.y()), alongU).norme();
    }
  }
  return std::fabs(0.5 * step * sum);
}

int EROffsetSurfaceIsoParam::splitAt(t_SmartPtr<ERFiniteEntity3DWF>& first,
                                     t_SmartPtr<ERFiniteEntity3DWF>& second, double t) const {
  if (!surface_) return 0;
  t_SmartPtr<EROffsetSurface> a, b;
  if (!(type_ == ISO_U ? surface_->SplitInV(a, b, t) : surface_->SplitInU(a, b, t))) return 0;
  first = new EROffsetSurfaceIsoParam(a, type_, p_);
  second = new EROffsetSurfaceIsoParam(b, type_, p_);
  return 1;
}

ERFiniteEntity3DWF::NurbsPtr EROffsetSurfaceIsoParam::ConvertToNurbs() const {
  if (!surface_) return {};
  constexpr int n = 129;
  const double t0 = udeb(), t1 = ufin();
  if (!(t1 > t0) || !std::isfinite(t1 - t0)) return {};
  QuickAlgebra::ERVec<ERPole3DH> poles(n);
  std::vector<double> knots;
  knots.push_back(t0);
  for (int i = 0; i < n; ++i) {
    const double t = i == n - 1 ? t1 : t0 + (t1 - t0) * i / (n - 1.0);
    const ERPoint3D p = (*this)(t);
    poles[i] = ERPole3DH(p, 1.0);
    knots.push_back(t);
  }
  knots.push_back(t1);
  return NurbsPtr(new ERCpoleNURBS3D(poles, ERKnotVector(1, knots.data(), n + 2)));
}

void EROffsetSurfaceIsoParam::detach() {
  if (surface_) surface_ = EROffsetSurface::castdown(surface_->getCopy());
}

void EROffsetSurfaceIsoParam::scale(double k) {
  detach();
  if (surface_) surface_->scale(k);
}

void EROffsetSurfaceIsoParam::translate(const ERPoint3D& t) {
  detach();
  if (surface_) surface_->translate(t);
}

void EROffsetSurfaceIsoParam::transformFrom(const ERPmSimilitude3D& T) {
  detach();
  if (surface_) surface_->transformFrom(T);
}

void EROffsetSurfaceIsoParam::transformTo(const ERPmSimilitude3D& T) {
  detach();
  if (surface_) surface_->transformTo(T);
}

void EROffsetSurfaceIsoParam::printOn(std::ostream& os) const {
  os << "Offset Iso " << (type_ == ISO_U ? "U = " : "V = ") << p_ << '\n';
}

void EROffsetSurfaceIsoParam::saveGuts(ERFile& f) const {
  ERFiniteEntity3DWF::saveGuts(f);
  f.Write(static_cast<long>(type_));
  f.Write(p_);
  saveRef(f, surface_.get());
}

void EROffsetSurfaceIsoParam::restoreGuts(ERFile& f) {
  ERFiniteEntity3DWF::restoreGuts(f);
  long type = 0;
  double p = 0;
  if (!f.Read(type) || !detail::restoreDoubles(f, &p, 1)) return;
  t_SmartPtr<EROffsetSurface> s;
  if (!readRef(f, s)) return;
  type_ = type == 0 ? ISO_U : ISO_V, p_ = p, surface_ = s;
}

std::uint32_t EROffsetSurfaceIsoParam::binaryStoreSize() const {
  return ERFiniteEntity3DWF::binaryStoreSize() + 4 + 8 + 4 + (surface_ ? 4 : 0);
}
