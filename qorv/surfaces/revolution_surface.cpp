#include "qorv/surfaces/revolution_surface.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include "qorv/curves/circles.h"
#include "qorv/foundation/numerics.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/persistence/file.h"

using namespace qorv;

QORV_DEFINE_CLASS(ERSurOfRevolution);

namespace {

using qorv::detail::finite;
using qorv::detail::kNaN;
using qorv::detail::kTwoPi;
using qorv::detail::maxAbs;

// Samples of the generatrix in the global searches.
constexpr int kSamples = 512;

// Rotation by the angle (c = cos, s = sin) about the unit direction d (Rodrigues).
ERVector3D turn(const ERVector3D& w, const ERVector3D& d, double c, double s) {
  const double h = w * d;
  return d * h + (w - d * h) * c + (d ^ w) * s;
}

ERVector3D radial(const ERVector3D& w, const ERVector3D& d) { return w - d * (w * d); }

// The angle of b from a about d, in (-pi, pi].
double angleAbout(const ERVector3D& a, const ERVector3D& b, const ERVector3D& d) {
  return std::atan2((a ^ b) * d, a * b);
}

// v scaled by a power of two that brings its largest component into [1, 2) (exact).
ERVector3D nearOne(const ERVector3D& v) {
  const double m = std::max({std::fabs(v.x()), std::fabs(v.y()), std::fabs(v.z())});
  if (!(m > 0) || !std::isfinite(m)) return v;
  return v * std::ldexp(1.0, -std::ilogb(m));
}

// x reduced into [0, 2pi).
double wrapTurn(double x) {
  double r = std::fmod(x, kTwoPi);
  if (r < 0) r += kTwoPi;
  if (r >= kTwoPi) r = 0.0;
  return r;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

ERSurOfRevolution::ERSurOfRevolution() : ref_(1.0, 0.0, 0.0) {}

ERSurOfRevolution::ERSurOfRevolution(const ERSurOfRevolution& o)
    : ERSurface(o), ERAnyBoundedSurface(o), axis_(o.axis_), angles_(o.angles_), ref_(o.ref_) {
  if (o.gen_) gen_ = ERFiniteEntity3DWF::castdown(o.gen_->getCopy());
}

ERSurOfRevolution& ERSurOfRevolution::operator=(const ERSurOfRevolution& o) {
  if (this == &o) return *this;
  ERAnyBoundedSurface::operator=(o);
  axis_ = o.axis_;
  gen_ = o.gen_ ? t_SmartPtr<ERFiniteEntity3DWF>(ERFiniteEntity3DWF::castdown(o.gen_->getCopy()))
                : t_SmartPtr<ERFiniteEntity3DWF>();
  angles_ = o.angles_;
  ref_ = o.ref_;
  genCacheValid_ = false;
  return *this;
}

ERSurOfRevolution::ERSurOfRevolution(const t_SmartPtr<ERFiniteEntity3DWF>& generatrix,
                                     const ERInfLine3D& axis, const ERLimites& angles)
    : axis_(axis), angles_(angles) {
  if (generatrix) gen_ = ERFiniteEntity3DWF::castdown(generatrix->getCopy());
  computeReference();
}

void ERSurOfRevolution::computeReference() {
  ERPoint3D point, foot;
  double param = 0.0;
  if (getOnePointOfTheGeneratrixNotOnTheAxis(point, param, foot)) {
    ref_ = (point - foot).getnormalized();
    return;
  }
  ERVector3D x, y;
  GetOrthogonalDirections(axis_.dirVector(), x, y);
  ref_ = x.norme2() > 0 ? x.getnormalized() : ERVector3D(1.0, 0.0, 0.0);
}

int ERSurOfRevolution::getOnePointOfTheGeneratrixNotOnTheAxis(ERPoint3D& point, double& param,
                                                              ERPoint3D& foot) const {
  if (!gen_) return 0;
  const ERVector3D d = axis_.dirVector().getnormalized();
  const ERPoint3D a = axis_.origine();
  double best = 0.0;
  int found = 0;
  for (int i = 0; i <= 32; ++i) {
    const double u = gen_->udeb() + (gen_->ufin() - gen_->udeb()) * (i / 32.0);
    const ERPoint3D c = (*gen_)(u);
    if (!finite(c)) continue;
    const ERVector3D w = c - a;
    const double r = radial(w, d).norme();
    // Off the axis beyond the rounding of the points' coordinates.
    if (r > best && r > 1e-14 * std::max(maxAbs(c), maxAbs(a))) {
      best = r, found = 1;
      point = c, param = u, foot = a + d * (w * d);
    }
  }
  return found;
}

void ERSurOfRevolution::getVectors(ERVector3D& x, ERVector3D& y) const {
  x = ref_;
  y = axis_.dirVector() ^ ref_;
}

ERPmIsometrie3D ERSurOfRevolution::getRepere3D() const {
  ERVector3D x, y;
  getVectors(x, y);
  return ERChgRepere3D(x, y, axis_.origine());
}

// ---------------------------------------------------------------------------------------------
// Evaluation

double ERSurOfRevolution::udeb() const { return gen_ ? gen_->udeb() : 0.0; }
double ERSurOfRevolution::ufin() const { return gen_ ? gen_->ufin() : 0.0; }
double ERSurOfRevolution::vdeb() const { return std::min(angles_.start(), angles_.end()); }
double ERSurOfRevolution::vfin() const { return std::max(angles_.start(), angles_.end()); }

ERInfoPoint3DSurf ERSurOfRevolution::PtCur(double u, double v) const {
  // Filled in place: no matrix on the heap per point.
  ERInfoPoint3DSurf rec(ERPoint2D(u, v), ERInfoPoint3DSurf::Order2{});
  if (!gen_) {
    for (int k = 0; k < 9; ++k) rec.set(k % 3, k / 3, kNaN, kNaN, kNaN);
    return rec;
  }
  const ERInfoPoint3DWF info = gen_->PtCur(u);
  ERVector3D c2;
  if (gen_->isKindOf(ERCpoleRep3D::desc()) || gen_->isKindOf(ERSegment3D::desc())) {
    c2 = info.secondOrder();
  } else {
    // Central differences of the tangent: the curves' second-order vectors are not all
    // second derivatives (a circle's points outwards).
    const double span = std::fabs(gen_->ufin() - gen_->udeb());
    const double h = 6e-6 * (span > 0 && std::isfinite(span) ? span : std::max(1.0, std::fabs(u)));
    c2 = (gen_->PtCur(u + h).tangente() - gen_->PtCur(u - h).tangente()) / (2.0 * h);
  }
  const ERVector3D d = axis_.dirVector().getnormalized();
  const ERPoint3D a = axis_.origine();
  const double cs = std::cos(v), sn = std::sin(v);
  const ERVector3D b[3] = {turn(info.point() - a, d, cs, sn), turn(info.tangente(), d, cs, sn),
                           turn(c2, d, cs, sn)};
  for (int i = 0; i < 3; ++i) {
    const ERVector3D dv = d ^ b[i];
    if (i == 0) {
      const ERPoint3D p = a + b[0];
      rec.set(0, 0, p.x(), p.y(), p.z());
    } else {
      rec.set(i, 0, b[i].x(), b[i].y(), b[i].z());
    }
    rec.set(i, 1, dv.x(), dv.y(), dv.z());
    const ERVector3D dvv = d ^ dv;
    rec.set(i, 2, dvv.x(), dvv.y(), dvv.z());
  }
  return rec;
}

ERPoint3D ERSurOfRevolution::operator()(double u, double v) const {
  if (!gen_) return ERPoint3D(kNaN, kNaN, kNaN);
  const ERPoint3D a = axis_.origine();
  return a + turn((*gen_)(u)-a, axis_.dirVector().getnormalized(), std::cos(v), std::sin(v));
}

ERMinimax3D ERSurOfRevolution::getBox() const {
  ERMinimax3D box;
  if (!gen_) return box;
  const ERMinimax3D g = gen_->getBox();
  if (g.invalid()) return box;
  const ERVector3D d = axis_.dirVector().getnormalized();
  const ERPoint3D a = axis_.origine();
  const ERPoint3D lo = g.MinPoint(), hi = g.MaxPoint();
  double hmin = DBL_MAX, hmax = -DBL_MAX, rmax = 0.0;
  for (int k = 0; k < 8; ++k) {
    const ERPoint3D q((k & 1) ? hi.x() : lo.x(), (k & 2) ? hi.y() : lo.y(),
                      (k & 4) ? hi.z() : lo.z());
    const ERVector3D w = q - a;
    const double h = w * d;
    hmin = std::min(hmin, h), hmax = std::max(hmax, h);
    rmax = std::max(rmax, radial(w, d).norme());
  }
  // Every swept point lies at a height in [hmin, hmax] and within rmax of the axis.
  const double grow = 1.0 + 8 * DBL_EPSILON;
  double mn[3], mx[3];
  for (int k = 0; k < 3; ++k) {
    const double dk = d.data()[k];
    const double side = rmax * std::sqrt(std::max(0.0, 1.0 - dk * dk)) * grow;
    const double h0 = std::min(hmin * dk, hmax * dk), h1 = std::max(hmin * dk, hmax * dk);
    const double slack = 4 * DBL_EPSILON * (std::fabs(a.data()[k]) + std::fabs(h0) + std::fabs(h1));
    mn[k] = a.data()[k] + h0 - side - slack;
    mx[k] = a.data()[k] + h1 + side + slack;
  }
  box.Garnir(mn[0], mn[1], mn[2], mx[0], mx[1], mx[2]);
  box.Update(g.MinPoint()), box.Update(g.MaxPoint());
  return box;
}

t_SmartPtr<ERFiniteEntity3DWF> ERSurOfRevolution::getEntityIsoU(double u) const {
  if (!gen_) return {};
  const ERVector3D d = axis_.dirVector().getnormalized();
  const ERPoint3D a = axis_.origine();
  const ERVector3D w = (*gen_)(u)-a;
  const ERVector3D rv = radial(w, d);
  const double r = rv.norme();
  const ERVector3D x = r > 0 ? rv / r : ref_;
  const ERPoint3D centre = a + d * (w * d);
  // A frame holds an origin within 1e-11 of zero as zero: such an arc would be elsewhere.
  if (maxAbs(centre) <= 1e-11 && maxAbs(centre) > 0) return {};
  const ERPmIsometrie3D frame = ERChgRepere3D(x, d ^ x, centre);
  return t_SmartPtr<ERFiniteEntity3DWF>(
      new ERArc3D(frame, ERCircle2D(ERPoint2D(0, 0), r), vdeb(), vfin()));
}

t_SmartPtr<ERFiniteEntity3DWF> ERSurOfRevolution::getEntityIsoV(double v) const {
  if (!gen_) return {};
  t_SmartPtr<ERFiniteEntity3DWF> c(ERFiniteEntity3DWF::castdown(gen_->getCopy()));
  const ERVector3D d = axis_.dirVector().getnormalized();
  const ERVector3D x = ref_, xv = turn(ref_, d, std::cos(v), std::sin(v));
  // Frames at the coordinate origin: a frame would drop an origin within 1e-11 of zero.
  const ERPoint3D a = axis_.origine();
  c->translate(ERPoint3D() - ERVector3D(a));
  c->transformTo(ERChgRepere3D(x, d ^ x, ERPoint3D()));
  c->transformFrom(ERChgRepere3D(xv, d ^ xv, ERPoint3D()));
  c->translate(a);
  return c;
}

// ---------------------------------------------------------------------------------------------
// Projections

double ERSurOfRevolution::bestAngle(const ERPoint3D& c, const ERPoint3D& p) const {
  const double lo = vdeb(), hi = vfin();
  const ERVector3D d = axis_.dirVector().getnormalized();
  const ERPoint3D a = axis_.origine();
  // Scaled near 1: the angle holds at every magnitude (no product overflows or underflows).
  const ERVector3D rc = nearOne(radial(c - a, d)), rp = nearOne(radial(p - a, d));
  if (rc == ERVector3D() || rp == ERVector3D() || !(hi >= lo)) return lo;
  const double span = hi - lo;
  const double delta = wrapTurn(angleAbout(rc, rp, d) - lo);
  if (span >= kTwoPi || delta <= span) return lo + delta;
  return delta - span <= kTwoPi - delta ? hi : lo;
}

const std::vector<ERSurOfRevolution::GenSample>& ERSurOfRevolution::generatrixSamples() const {
  if (genCacheValid_) return genCache_;
  genCache_.clear();
  const double u0 = udeb(), u1 = ufin();
  // The generatrix's corners are candidates of their own.
  QuickAlgebra::ERVec<double> corners;
  gen_->GetDiscontinuities(1, corners);
  for (const auto& [u, corner] : qorv::detail::cornerSampledParameters(u0, u1, kSamples, corners)) {
    const ERInfoPoint3DWF c = gen_->PtCur(u);
    genCache_.push_back(GenSample{u, c.point(), c.tangente(), corner});
  }
  genCacheValid_ = true;
  return genCache_;
}

void ERSurOfRevolution::CleanUpTemporaries(int level) {
  ERAnyBoundedSurface::CleanUpTemporaries(level);
  genCacheValid_ = false;
  genCache_.clear();
}

double ERSurOfRevolution::unitScale(const ERPoint3D& p) const {
  // A power of two that brings the sizes about p and the generatrix near 1: squared
  // distances neither overflow at 1e300 nor underflow at 1e-300, and scale exactly.
  const ERPoint3D a = axis_.origine();
  double ref = maxAbs(ERPoint3D() + (p - a));
  if (gen_) {
    const std::vector<GenSample>& g = generatrixSamples();
    for (std::size_t k = 0; k < g.size(); k += 64)
      ref = std::max(ref, maxAbs(ERPoint3D() + (g[k].c - a)));
  }
  if (!(ref > 0) || !std::isfinite(ref)) return 1.0;
  return std::ldexp(1.0, -std::ilogb(ref));
}

namespace {

// The squared distance from p to the nearest point of the circle arc of C(u), and its
// derivative along u (half of it: (S - p) . Su, the angle's own derivative vanishing at its
// best value or at a window end).
struct Reduced {
  double u = 0, v = 0, g = DBL_MAX, dg = 0;
};

}  // namespace

double ERSurOfRevolution::nearest(const ERPoint3D& p, ERPoint2D& uv) const {
  if (!gen_ || !finite(p)) return kNaN;
  const ERVector3D d = axis_.dirVector().getnormalized();
  const ERPoint3D a = axis_.origine();
  const double u0 = udeb(), u1 = ufin();
  // Squared distances in units of sigma.
  const double sigma = unitScale(p);
  const ERVector3D wp = (p - a) * sigma;
  auto reduceAt = [&](double u, const ERPoint3D& c, const ERVector3D& t) {
    Reduced r;
    r.u = u;
    r.v = bestAngle(c, p);
    const double cs = std::cos(r.v), sn = std::sin(r.v);
    const ERVector3D e = turn((c - a) * sigma, d, cs, sn) - wp;
    r.g = e * e;
    r.dg = e * turn(t * sigma, d, cs, sn);
    if (!std::isfinite(r.g)) r.g = DBL_MAX;
    return r;
  };
  auto reduce = [&](double u) {
    const ERInfoPoint3DWF c = gen_->PtCur(u);
    return reduceAt(u, c.point(), c.tangente());
  };
  const std::vector<GenSample>& cache = generatrixSamples();
  const int n = static_cast<int>(cache.size()) - 1;
  std::vector<Reduced> s(cache.size());
  for (int i = 0; i <= n; ++i) {
    const GenSample& g = cache[static_cast<std::size_t>(i)];
    s[i] = reduceAt(g.u, g.c, g.t);
  }
  Reduced best = s[0];
  auto offer = [&](const Reduced& r) {
    if (r.g < best.g) best = r;
  };
  offer(s[n]);
  for (int i = 1; i < n; ++i)
    if (cache[static_cast<std::size_t>(i)].corner) offer(s[i]);
  // Each bracket where the derivative along the range goes from falling to rising.
  const double dir = u1 >= u0 ? 1.0 : -1.0;
  for (int i = 0; i < n; ++i) {
    Reduced lo = s[i], hi = s[i + 1];
    if (!(dir * lo.dg < 0 && dir * hi.dg > 0)) continue;
    qorv::detail::narrowSlopeBracket(
        lo, hi, dir, [](const Reduced& r) { return r.u; }, reduce);
    offer(reduce(lo.u));
    offer(reduce(hi.u));
  }
  // Sampled minima stand for kinks (a corner of the generatrix, a change of the best window
  // end); one displaces a solved foot only when nearer by more than the rounding of the
  // squared distances, which is flat about a foot.
  const double noise = 64 * DBL_EPSILON * std::max({maxAbs(p), maxAbs(a), 1e-300}) * sigma;
  for (int i = 1; i < n; ++i) {
    if (!(s[i].g <= s[i - 1].g && s[i].g <= s[i + 1].g)) continue;
    const double margin = noise * (2 * std::sqrt(best.g) + noise);
    if (s[i].g < best.g - margin) best = s[i];
  }
  if (best.g == DBL_MAX) return kNaN;
  uv = ERPoint2D(best.u, best.v);
  return std::sqrt(best.g) / sigma;
}

ERVector3D ERSurOfRevolution::normalAt(double u, double v) const {
  const ERInfoPoint3DSurf info = PtCur(u, v);
  if (!gen_) return ERVector3D();
  // Su x Sv with Sv = d x (S - a) = rc (d x r): its direction is Su x (d x r) whatever rc,
  // so the normal keeps its sense where the generatrix meets the axis (r then follows Su).
  const ERVector3D d = axis_.dirVector().getnormalized();
  const ERVector3D su = info.tangenteU();
  ERVector3D r = radial(info.point() - axis_.origine(), d);
  const double rc = r.norme(), scale = std::max(maxAbs(info.point()), maxAbs(axis_.origine()));
  if (!(rc > 1e-13 * scale)) r = radial(su, d);
  if (r.norme() == 0) r = turn(ref_, d, std::cos(v), std::sin(v));
  const ERVector3D n = su ^ (d ^ r.getnormalized());
  if (n.norme() > 0 && std::isfinite(n.norme())) return n.getnormalized();
  int degenerate = 0;
  return get_stable_normal(static_cast<const ERAnyBoundedSurface&>(*this), info, degenerate);
}

int ERSurOfRevolution::isFoot(const ERPoint3D& p, const ERPoint2D& uv) const {
  const ERPoint3D s = (*this)(uv.x(), uv.y());
  const ERVector3D e = p - s;
  const double len = e.norme();
  if (len <= 4 * DBL_EPSILON * std::max(maxAbs(p), maxAbs(s))) return 1;
  return (e ^ normalAt(uv.x(), uv.y())).norme() <= 1e-3 * len;
}

int ERSurOfRevolution::ProjectionNormale(const ERPoint3D& p, double tol, ERPoint2D& uv,
                                         int flag) const {
  (void)tol, (void)flag;
  ERPoint2D at;
  if (!std::isfinite(nearest(p, at))) return 0;
  uv = at;
  return isFoot(p, at);
}

ERPoint3D ERSurOfRevolution::project_inbound(const ERPoint3D& p) const {
  ERPoint2D uv;
  if (!std::isfinite(nearest(p, uv))) return p;
  return (*this)(uv.x(), uv.y());
}

EREntity::DISTMINRES ERSurOfRevolution::SignedMinimalDistance(const ERPoint3D& p,
                                                              double& dist) const {
  ERPoint2D uv;
  const double dd = nearest(p, uv);
  if (!std::isfinite(dd)) return DISTMIN_NONE;
  if (!isFoot(p, uv)) {
    dist = dd;
    return DISTMIN_END_POINT;
  }
  dist = (p - (*this)(uv.x(), uv.y())) * normalAt(uv.x(), uv.y()) < 0 ? -dd : dd;
  return DISTMIN_NORMAL;
}

int ERSurOfRevolution::ReajustProjection(ERPoint3D& p, ERPoint2D& uv, int flag) const {
  (void)flag;
  if (!gen_ || !finite(p) || !std::isfinite(uv.x()) || !std::isfinite(uv.y())) return 0;
  const double ul = std::min(udeb(), ufin()), uh = std::max(udeb(), ufin());
  const double vl = vdeb(), vh = vfin();
  double u = std::clamp(uv.x(), ul, uh), v = std::clamp(uv.y(), vl, vh);
  const double sigma = unitScale(p);  // the equations scale by sigma^2 and keep their roots
  for (int it = 0; it < 60; ++it) {
    const ERInfoPoint3DSurf s = PtCur(u, v);
    const auto& m = s.derivatives();
    const ERVector3D r = (s.point() - p) * sigma;
    const ERVector3D Su = ERVector3D(m[1]) * sigma, Sv = ERVector3D(m[3]) * sigma;
    const ERVector3D Suu = ERVector3D(m[2]) * sigma, Suv = ERVector3D(m[4]) * sigma,
                     Svv = ERVector3D(m[6]) * sigma;
    const double f0 = r * Su, f1 = r * Sv;
    const double a = Su * Su + r * Suu, b = Su * Sv + r * Suv, c = Sv * Sv + r * Svv;
    const double det = a * c - b * b;
    if (!(det != 0) || !std::isfinite(det)) break;
    const double du = (c * f0 - b * f1) / det, dv = (a * f1 - b * f0) / det;
    const double nu = std::clamp(u - du, ul, uh), nv = std::clamp(v - dv, vl, vh);
    if (nu == u && nv == v) break;
    u = nu, v = nv;
  }
  uv = ERPoint2D(u, v);
  const ERPoint3D target = p;
  p = (*this)(u, v);
  return isFoot(target, uv);
}

void ERSurOfRevolution::ProjectPoint(const ERPoint3D& p, ERRaySurfaceResult& res,
                                     int inside) const {
  lineCrossings(p, ERVector3D(0.0, 0.0, 1.0), res, inside);
}

void ERSurOfRevolution::ProjectPoint(const ERPoint3D& p, const ERVector3D& D,
                                     ERRaySurfaceResult& res, int inside) const {
  const ERVector3D e = D.getnormalized();
  if (!(e.norme2() > 0) || !std::isfinite(e.norme2())) return;
  lineCrossings(p, e, res, inside);
}

void ERSurOfRevolution::lineCrossings(const ERPoint3D& p, const ERVector3D& e,
                                      ERRaySurfaceResult& res, int inside) const {
  (void)inside;
  if (!gen_ || !finite(p)) return;
  const ERVector3D d = axis_.dirVector().getnormalized();
  const ERPoint3D a = axis_.origine();
  // Lengths (and the line's parameter t) in units of sigma: the tube test squares them.
  const double sigma = unitScale(p);
  const ERVector3D wp = (p - a) * sigma;
  const double hp = wp * d, ez = e * d;
  const ERVector3D rp = radial(wp, d), ep = radial(e, d);
  const double u0 = udeb(), u1 = ufin();
  // Along the axis the line meets each parallel circle's plane once: compare radii there.
  // Across it, the line meets the cylinder of each radius at two heights: compare heights.
  const bool along = std::fabs(ez) >= ep.norme();
  const int branches = along ? 1 : 2;
  auto value = [&](double u, int branch, double& t) {
    const ERVector3D w = ((*gen_)(u)-a) * sigma;
    const double hc = w * d, rc = radial(w, d).norme();
    if (along) {
      t = (hc - hp) / ez;
      return (rp + ep * t).norme() - rc;
    }
    const double A = ep * ep, B = rp * ep, C = (rp * rp) - rc * rc;
    const double disc = B * B - A * C;
    if (!(disc >= 0)) return kNaN;
    t = (-B + (branch == 0 ? 1 : -1) * std::sqrt(disc)) / A;
    return hp + t * ez - hc;
  };
  struct Hit {
    double u, t;
  };
  std::vector<Hit> hits;
  // Newton on (u, t) for h(t) = hc(u), |r(t)|^2 = rc(u)^2 from a start near a crossing: 1 when
  // it reaches the surface (within 1e-12 of the local size).
  auto polish = [&](double& u, double& t) {
    const double ul = std::min(u0, u1), uh = std::max(u0, u1);
    for (int it = 0; it < 60; ++it) {
      const ERInfoPoint3DWF c = gen_->PtCur(u);
      const ERVector3D w = (c.point() - a) * sigma, rc = radial(w, d),
                       rct = radial(c.tangente() * sigma, d);
      const ERVector3D rt = rp + ep * t;
      const double f1 = hp + t * ez - w * d, f2 = rt * rt - rc * rc;
      const double size = std::max({rc.norme(), rt.norme(), std::fabs(hp - w * d), 1e-300});
      if (std::fabs(f1) <= 1e-12 * size && std::fabs(f2) <= 1e-12 * size * size) return true;
      // J = [[-hc', ez], [-2 rc.rc', 2 rt.ep]]
      const double j11 = -(c.tangente() * d), j12 = ez, j21 = -2 * (rc * rct), j22 = 2 * (rt * ep);
      const double det = j11 * j22 - j12 * j21;
      if (!(det != 0) || !std::isfinite(det)) return false;
      const double du = (f1 * j22 - f2 * j12) / det, dt = (j11 * f2 - j21 * f1) / det;
      u = std::clamp(u - du, ul, uh), t -= dt;
      if (!std::isfinite(u) || !std::isfinite(t)) return false;
    }
    return false;
  };
  // The root of a sign change between lo and hi (values flo, fhi of opposite signs).
  auto solve = [&](double lo, double hi, double flo, int branch) {
    double tm = 0;
    for (int it = 0; it < 200; ++it) {
      const double m = 0.5 * (lo + hi);
      if (m == lo || m == hi) break;
      const double fm = value(m, branch, tm);
      if (!std::isfinite(fm)) break;
      if ((fm < 0) == (flo < 0)) {
        lo = m, flo = fm;
      } else {
        hi = m;
      }
    }
    double th = 0;
    value(hi, branch, th);
    hits.push_back({hi, th});
  };
  // Two crossings inside one step (a line nearly along the surface) leave no sign change: a
  // sampled dip of |f| is searched for its extreme, which splits the step when it changes sign.
  auto dip = [&](double a0, double a1, double fm, int branch) {
    const double sg = fm < 0 ? -1.0 : 1.0;
    const double g = 0.5 * (std::sqrt(5.0) - 1);
    double x0 = a0, x3 = a1, x1 = x3 - g * (x3 - x0), x2 = x0 + g * (x3 - x0), tt = 0;
    double f1 = sg * value(x1, branch, tt), f2 = sg * value(x2, branch, tt);
    for (int it = 0; it < 120 && std::isfinite(f1) && std::isfinite(f2); ++it) {
      if (f1 <= 0 || f2 <= 0) break;
      if (f1 < f2) {
        x3 = x2, x2 = x1, f2 = f1, x1 = x3 - g * (x3 - x0), f1 = sg * value(x1, branch, tt);
      } else {
        x0 = x1, x1 = x2, f1 = f2, x2 = x0 + g * (x3 - x0), f2 = sg * value(x2, branch, tt);
      }
    }
    double xm = f1 < f2 ? x1 : x2;
    const double fmin = std::min(f1, f2);
    if (!std::isfinite(fmin)) return;
    if (fmin <= 0) {
      if (fmin == 0) {
        value(xm, branch, tt);
        hits.push_back({xm, tt});
        return;
      }
      solve(a0, xm, value(a0, branch, tt), branch);
      solve(xm, a1, sg * fmin, branch);
      return;
    }
    // A tangent contact: Newton tells a touch from a near miss.
    value(xm, branch, tt);
    if (polish(xm, tt)) hits.push_back({xm, tt});
  };
  for (int branch = 0; branch < branches; ++branch) {
    double tp = 0, up = u0;
    double fp = value(u0, branch, tp);
    if (fp == 0) hits.push_back({u0, tp});
    double fpp = kNaN, upp = u0;
    for (int i = 1; i <= kSamples; ++i) {
      const double u = i == kSamples ? u1 : u0 + (u1 - u0) * (double(i) / kSamples);
      double t = 0;
      const double f = value(u, branch, t);
      if (std::isfinite(fpp) && std::isfinite(fp) && std::isfinite(f) && fp != 0 &&
          (fpp < 0) == (fp < 0) && (f < 0) == (fp < 0) && std::fabs(fp) < std::fabs(fpp) &&
          std::fabs(fp) <= std::fabs(f)) {
        dip(upp, u, fp, branch);
      }
      const double u2 = upp, f2 = fpp;  // the sample before the previous one
      upp = up, fpp = fp;
      if (f == 0) {
        hits.push_back({u, t});
      } else if (std::isfinite(f) && std::isfinite(fp)) {
        if (fp != 0 && (f < 0) != (fp < 0)) solve(up, u, fp, branch);
      } else if (std::isfinite(f) != std::isfinite(fp)) {
        // The line leaves the tube of the generatrix's radii inside this step: find where
        // (the two branches meet there) and look for a sign change up to it.
        double in = std::isfinite(f) ? u : up, out = std::isfinite(f) ? up : u;
        const double fin = std::isfinite(f) ? f : fp;
        double tb = 0, fb = fin;
        for (int it = 0; it < 200; ++it) {
          const double m = 0.5 * (in + out);
          if (m == in || m == out) break;
          const double fm = value(m, branch, tb);
          if (std::isfinite(fm)) {
            in = m, fb = fm;
          } else {
            out = m;
          }
        }
        double edge = in;
        value(edge, branch, tb);
        if (fb == 0) {
          hits.push_back({edge, tb});
        } else if (fin != 0 && (fb < 0) != (fin < 0)) {
          if (std::isfinite(f)) {
            solve(edge, u, fb, branch);
          } else {
            solve(up, edge, fp, branch);
          }
        } else if (fin != 0) {
          // Two crossings, a grazing one in the band where the rounding of the tube test
          // hides it, or a tangent contact, near the edge: from the edge to the sample, and
          // on to the sample beyond it when the values there are on the same side.
          if (std::isfinite(f)) {
            dip(edge, u, fin, branch);
          } else {
            const bool back = std::isfinite(f2) && (f2 < 0) == (fin < 0);
            dip(back ? u2 : up, edge, fin, branch);
          }
        }
        // Entering the tube: the next step's dip test starts at the edge.
        if (std::isfinite(f)) upp = edge, fpp = fb;
      }
      up = u, fp = f, tp = t;
    }
  }
  std::sort(hits.begin(), hits.end(), [](const Hit& x, const Hit& y) { return x.u < y.u; });
  const double lo = vdeb(), hi = vfin(), span = hi - lo;
  ERPoint3D last;
  bool any = false;
  for (const Hit& h : hits) {
    const ERPoint3D q = p + e * (h.t / sigma);
    // A root found from both branches, or at a sample and by a bracket, is given once.
    if (any && qorv::distance(q, last) <= 1e-12 * std::max(maxAbs(q), 1e-300)) {
      continue;
    }
    any = true, last = q;
    const ERVector3D rc = radial((*gen_)(h.u) - a, d), rq = radial(q - a, d);
    double v = lo;
    if (rc.norme() > 0 && rq.norme() > 0) {
      const double delta = wrapTurn(angleAbout(nearOne(rc), nearOne(rq), d) - lo);
      if (span >= kTwoPi || delta <= span + 1e-12) {
        v = lo + std::min(delta, span);
      } else if (kTwoPi - delta <= 1e-12) {
        v = lo;
      } else {
        continue;
      }
    }
    ERInfoPoint3DSurf info = PtCur(h.u, v);
    res.AddPointSolution(info);
  }
}

// ---------------------------------------------------------------------------------------------
// Estimates, splitting, conversion

double ERSurOfRevolution::upperEstimateInU() const { return gen_ ? gen_->upperEstimate() : 0.0; }

double ERSurOfRevolution::upperEstimateInV() const {
  if (!gen_) return 0.0;
  const ERMinimax3D g = gen_->getBox();
  if (g.invalid()) return 0.0;
  const ERVector3D d = axis_.dirVector().getnormalized();
  double rmax = 0.0;
  for (int k = 0; k < 8; ++k) {
    const ERPoint3D q((k & 1) ? g.MaxPoint().x() : g.MinPoint().x(),
                      (k & 2) ? g.MaxPoint().y() : g.MinPoint().y(),
                      (k & 4) ? g.MaxPoint().z() : g.MinPoint().z());
    rmax = std::max(rmax, radial(q - axis_.origine(), d).norme());
  }
  return rmax * (vfin() - vdeb());
}

int ERSurOfRevolution::SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low,
                                t_SmartPtr<ERAnyBoundedSurface>& high, double u) const {
  if (!gen_ || !(std::min(udeb(), ufin()) < u && u < std::max(udeb(), ufin()))) return 0;
  t_SmartPtr<ERFiniteEntity3DWF> first, second;
  if (!gen_->splitAt(first, second, u) || !first || !second) return 0;
  auto* a = new ERSurOfRevolution(*this);
  auto* b = new ERSurOfRevolution(*this);
  a->gen_ = first, b->gen_ = second;
  a->CleanUpTemporaries(-1), b->CleanUpTemporaries(-1);
  low = a, high = b;
  return 1;
}

int ERSurOfRevolution::SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low,
                                t_SmartPtr<ERAnyBoundedSurface>& high, double v) const {
  if (!gen_ || !(vdeb() < v && v < vfin())) return 0;
  auto* a = new ERSurOfRevolution(*this);
  auto* b = new ERSurOfRevolution(*this);
  a->angles_ = ERLimites(vdeb(), v), b->angles_ = ERLimites(v, vfin());
  a->CleanUpTemporaries(-1), b->CleanUpTemporaries(-1);
  low = a, high = b;
  return 1;
}

t_SmartPtr<ERSpoleNURBS3D> ERSurOfRevolution::ConvertToNurbs() const {
  if (!gen_) return {};
  const double lo = vdeb(), span = vfin() - vdeb();
  if (!(span > 0) || !std::isfinite(span) || !std::isfinite(lo)) return {};
  t_SmartPtr<ERCpoleNURBS3D> c = gen_->ConvertToNurbs();
  if (!c || !c->isValid()) return {};
  c->adjust();
  const QuickAlgebra::ERVec<ERPole3DH>& gp = c->poles();
  const int n = gp.length();
  // Arcs of at most a quarter turn: the middle pole's weight cos(a / 2) stays >= 0.707.
  const int arcs = std::max(1, static_cast<int>(std::ceil(span / (0.25 * kTwoPi) - 1e-12)));
  if (arcs > 4096) return {};
  const double step = span / arcs, wm = std::cos(0.5 * step);
  const int rows = 2 * arcs + 1;
  const ERVector3D d = axis_.dirVector().getnormalized();
  const ERPoint3D a = axis_.origine();
  QuickAlgebra::ERMatrix<ERPole3DH> poles(rows, n);
  for (int j = 0; j < n; ++j) {
    const double w = gp[j].w();
    const ERPoint3D c0(gp[j].x(), gp[j].y(), gp[j].z());
    const ERVector3D wv = c0 - a;
    const ERPoint3D foot = a + d * (wv * d);
    const ERVector3D rv = radial(wv, d);
    for (int k = 0; k < rows; ++k) {
      const double ang = lo + 0.5 * step * k;
      const bool middle = k % 2 == 1;
      const ERPoint3D q =
          foot + turn(rv, d, std::cos(ang), std::sin(ang)) * (middle ? 1.0 / wm : 1.0);
      const double W = middle ? w * wm : w;
      poles[k * n + j] = ERPole3DH(q.x() * W, q.y() * W, q.z() * W, W);
    }
  }
  std::vector<double> kv;
  kv.push_back(lo), kv.push_back(lo), kv.push_back(lo);
  for (int k = 1; k < arcs; ++k) {
    const double t = lo + step * k;
    kv.push_back(t), kv.push_back(t);
  }
  const double hi = vfin();
  kv.push_back(hi), kv.push_back(hi), kv.push_back(hi);
  const ERKnotVector knotsV(2, kv.data(), static_cast<int>(kv.size()));
  return t_SmartPtr<ERSpoleNURBS3D>(new ERSpoleNURBS3D(poles, c->knotVector(), knotsV));
}

// ---------------------------------------------------------------------------------------------
// Moves

void ERSurOfRevolution::reverse() {
  CleanUpTemporaries(-1);
  ERAnyBoundedSurface::reverse();
}

void ERSurOfRevolution::scale(double k) {
  ERAnyBoundedSurface::scale(k);
  genCacheValid_ = false;
  axis_.scale(k);
  if (gen_) gen_->scale(k);
  if (k < 0) ref_ = -ref_;
}

void ERSurOfRevolution::translate(const ERPoint3D& t) {
  ERAnyBoundedSurface::translate(t);
  genCacheValid_ = false;
  axis_.translate(t);
  if (gen_) gen_->translate(t);
}

void ERSurOfRevolution::moveBy(const ERPmSimilitude3D& T, bool forward) {
  genCacheValid_ = false;
  const ERVector3D d = axis_.dirVector().getnormalized();
  const ERVector3D y = d ^ ref_;
  auto vec = [&](const ERVector3D& v) { return forward ? T >> v : T << v; };
  const ERVector3D td = vec(d), tx = vec(ref_), ty = vec(y);
  const ERPoint3D o = forward ? T >> axis_.origine() : T << axis_.origine();
  // A mirror turns right-handed rotations into left-handed ones: the axis turns round so
  // that S(u, v) keeps following the moved points.
  const bool mirrored = ((tx ^ ty) * td) < 0;
  axis_ = ERInfLine3D(mirrored ? -td : td, o);
  ref_ = tx.getnormalized();
  if (gen_) {
    if (forward) {
      gen_->transformFrom(T);
    } else {
      gen_->transformTo(T);
    }
  }
}

void ERSurOfRevolution::transformFrom(const ERPmSimilitude3D& T) {
  ERAnyBoundedSurface::transformFrom(T);
  moveBy(T, true);
}

void ERSurOfRevolution::transformTo(const ERPmSimilitude3D& T) {
  ERAnyBoundedSurface::transformTo(T);
  moveBy(T, false);
}

// ---------------------------------------------------------------------------------------------
// Object

QORV_DEFINE_COPYABLE(ERSurOfRevolution);

void ERSurOfRevolution::printOn(std::ostream& os) const {
  os << "Axe          = ";
  axis_.printOn(os);
  os << '\n';
  os << "Generatrice  = ";
  if (gen_) gen_->printOn(os);
  os << '\n';
  os << "Start Angle  = " << angles_.start() << '\n';
  os << "End   Angle  = " << angles_.end() << '\n';
  os << "Vector       = " << ref_ << '\n';
}

void ERSurOfRevolution::saveGuts(ERFile& f) const {
  ERAnyBoundedSurface::saveGuts(f);
  f.Write(angles_.start()), f.Write(angles_.end());
  axis_.saveGuts(f);
  f.Write(static_cast<long>(gen_ ? 0 : 1));
  if (gen_) gen_->recursiveSaveOn(f);
  f.Write(ref_.x()), f.Write(ref_.y()), f.Write(ref_.z());
}

void ERSurOfRevolution::restoreGuts(ERFile& f) {
  ERAnyBoundedSurface::restoreGuts(f);
  double ang[2], line[6], ref[3];
  if (!detail::restoreDoubles(f, ang, 2)) return;
  const long at = f.CurOffset();
  if (!detail::restoreDoubles(f, line, 6)) return;
  f.SeekTo(at);
  ERInfLine3D axis;
  axis.restoreGuts(f);
  long flag = -1;
  if (!f.Read(flag) || (flag != 0 && flag != 1)) return;
  t_SmartPtr<ERFiniteEntity3DWF> gen;
  if (flag == 0) {
    t_SmartPtr<ERObject> o = recursiveRestoreFrom(f);
    if (!o || !o->isKindOf(ERFiniteEntity3DWF::desc())) return;
    gen = ERFiniteEntity3DWF::castdown(o.get());
  }
  if (!detail::restoreDoubles(f, ref, 3)) return;
  axis_ = axis;
  gen_ = gen;
  angles_ = ERLimites(ang[0], ang[1]);
  ref_ = ERVector3D(ref[0], ref[1], ref[2]);
  CleanUpTemporaries(-1);
}

std::uint32_t ERSurOfRevolution::binaryStoreSize() const {
  return ERAnyBoundedSurface::binaryStoreSize() + 16 + axis_.binaryStoreSize() + 4 +
         (gen_ ? gen_->recursiveStoreSize() : 0) + 24;
}
