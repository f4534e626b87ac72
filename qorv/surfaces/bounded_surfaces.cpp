#include "qorv/surfaces/bounded_surfaces.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <ostream>
#include <type_traits>
#include <utility>

#include "qorv/foundation/numerics.h"
#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/foundation/trig.h"
#include "qorv/persistence/file.h"

using namespace qorv;

QORV_DEFINE_ABSTRACT_CLASS(ERBoundedSurface);
QORV_DEFINE_ABSTRACT_CLASS(ERSurfaceBasedOnTransfo3D);
QORV_DEFINE_CLASS(ERBoundedPlane);
QORV_DEFINE_CLASS(ERBoundedCylinder);
QORV_DEFINE_CLASS(ERBoundedCone);
QORV_DEFINE_CLASS(ERBoundedSphere);
QORV_DEFINE_CLASS(ERBoundedTorus);

namespace {
using qorv::detail::length2;

using qorv::detail::finite;
using qorv::detail::kPi;
using qorv::detail::kTwoPi;

constexpr double kFloatEps = 1.1920928955078125e-7;

const ERPoint3D kOrigin(0.0, 0.0, 0.0);
const ERVector3D kX(1.0, 0.0, 0.0), kY(0.0, 1.0, 0.0), kZ(0.0, 0.0, 1.0);

ERLimites negated(const ERLimites& l) { return ERLimites(-l.end(), -l.start()); }
ERLimites scaledBy(const ERLimites& l, double k) { return ERLimites(l.start() * k, l.end() * k); }
ERLimites shiftedBy(const ERLimites& l, double d) { return ERLimites(l.start() + d, l.end() + d); }
using qorv::detail::clampInto;
double sign(double x) { return x < 0.0 ? -1.0 : 1.0; }

// lower + the angle of (x, y) counted counter-clockwise from the direction at angle lower, in
// [0, 2pi). A direction within rounding below the lower one (a point of the seam) is the lower
// one, not a turn later: limits are inclusive. noise is the absolute rounding of x and y (that
// of the point's mapping into the local frame).
double angleFrom(double x, double y, double lower, double noise) {
  double t = std::atan2(y, x) - lower;
  t -= kTwoPi * std::floor(t * (1.0 / kTwoPi));
  if (!(t < kTwoPi - 1e-9)) {  // near the seam: how near counts
    const double rho = std::hypot(x, y);
    double slack = 8.0 * DBL_EPSILON * std::max(kTwoPi, std::fabs(lower));
    if (rho > 0.0) slack = std::max(slack, std::min(1e-9, noise / rho));
    if (!(t < kTwoPi - slack)) t = 0.0;
  }
  if (t < 0.0) t = 0.0;
  return lower + t;
}

// The record of a surface of revolution about the local Z axis, P = (rho(s) cos f,
// rho(s) sin f, z(s)), built in world coordinates at once: with X, Y, Z the placement's axes,
// d^(i+j)P / ds^i df^j = rho^(i)(s) W_j + z^(i)(s) Z [j = 0], where W_0 = cos f X + sin f Y,
// W_1 = -sin f X + cos f Y, W_2 = -W_0. The profile parameter s is u when uIsProfile, else v.
struct Profile {
  double rho[3], z[3];
};
template <bool uIsProfile>
ERInfoPoint3DSurf placedRevolution(double u, double v, const qorv::detail::PlacementMap& T,
                                   const Profile& p) {
  double sn, c;
  qorv::sinCos(uIsProfile ? v : u, sn, c);
  const double* r = T.r;
  const double k = T.k;
  const ERVector3D X(r[0] * k, r[3] * k, r[6] * k), Y(r[1] * k, r[4] * k, r[7] * k),
      Z(r[2] * k, r[5] * k, r[8] * k);
  const ERVector3D W0 = X * c + Y * sn, W1 = Y * c - X * sn;
  ERInfoPoint3DSurf rec(ERPoint2D(u, v), ERInfoPoint3DSurf::Order2{});
  const auto put = [&rec](int i, int j, const ERVector3D& d) {  // i: profile order, j: angle
    if (uIsProfile)
      rec.set(i, j, d.x(), d.y(), d.z());
    else
      rec.set(j, i, d.x(), d.y(), d.z());
  };
  const ERVector3D P = W0 * p.rho[0] + Z * p.z[0];
  put(0, 0, ERVector3D(P.x() + T.t[0], P.y() + T.t[1], P.z() + T.t[2]));
  put(0, 1, W1 * p.rho[0]);
  put(0, 2, W0 * -p.rho[0]);
  for (int i = 1; i < 3; ++i) {
    put(i, 0, W0 * p.rho[i] + Z * p.z[i]);
    put(i, 1, W1 * p.rho[i]);
    put(i, 2, W0 * -p.rho[i]);
  }
  return rec;
}

// An arc of the surface drawn in a local plane: centre c, unit axes X and Y, radius r (a
// negative radius turns the axes, so the arc keeps its points and its parameter).
ERArc3D placedArc(const ERPmIsometrie3D& T, const ERPoint3D& c, ERVector3D X, ERVector3D Y,
                  double r, const ERLimites& angles) {
  if (r < 0.0) X = -X, Y = -Y, r = -r;
  return ERArc3D(ERChgRepere3D(T >> X, T >> Y, T >> c), ERCircle2D(ERPoint2D(0.0, 0.0), r),
                 angles.start(), angles.end());
}

// Adds the exact box of C + r cos t X + r sin t Y (local C, X, Y mapped through T) over the
// window of t: per coordinate the two ends and the extremes at atan2(B, A) (+ pi) inside it.
// Computed directly, not through an arc's frame, so that it holds at every scale.
void addArcBox(ERMinimax3D& box, const ERPmIsometrie3D& T, const ERPoint3D& c, const ERVector3D& X,
               const ERVector3D& Y, double r, const ERLimites& window) {
  const ERPoint3D C = T >> c;
  const ERVector3D A = (T >> X) * r, B = (T >> Y) * r;
  const double lo = std::min(window.start(), window.end()),
               hi = std::max(window.start(), window.end());
  auto at = [&](double t) { return C + A * std::cos(t) + B * std::sin(t); };
  box.Update(at(lo));
  box.Update(at(hi));
  for (int i = 0; i < 3; ++i) {
    const double e = std::atan2(B.data()[i], A.data()[i]);
    for (double t : {e, e + kPi})
      if (qorv::detail::angleInRange(t, lo, hi)) box.Update(at(t));
  }
}

// An arc whose frame the transformations could not hold (its origin, below their 1e-11
// tolerance, was taken for zero): null, so that callers evaluate the surface instead.
t_SmartPtr<ERFiniteEntity3DWF> heldArc(const ERArc3D& a, const ERPmIsometrie3D& T,
                                       const ERPoint3D& c) {
  const ERPoint3D want = T >> c, got = a.getRepere().origine();
  const double m = std::max({std::fabs(want.x()), std::fabs(want.y()), std::fabs(want.z())});
  if (distance(want, got) > 1e-12 * m) return t_SmartPtr<ERFiniteEntity3DWF>();
  return t_SmartPtr<ERFiniteEntity3DWF>(new ERArc3D(a));
}

// The box grown by a few units in the last place of its largest coordinate, so that points
// evaluated along another path of roundings stay inside.
ERMinimax3D padded(ERMinimax3D box) {
  if (box.invalid()) return box;
  double m = 0.0;
  for (int i = 0; i < 6; ++i) m = std::max(m, std::fabs(box.data()[i]));
  if (std::isfinite(m)) box.Inflate(16.0 * DBL_EPSILON * m + DBL_MIN);
  return box;
}

// 2^-e bringing the larger of |a| and |b| into [1, 2): the unbounded forms' absolute tests
// (1e-11 from the axis, from the core circle) then read relative to the surface's size, and the
// scaling is exact.
double unitScale(double a, double b) {
  const double m = std::max(std::fabs(a), std::fabs(b));
  if (!(m > 0.0) || !std::isfinite(m)) return 1.0;
  return std::ldexp(1.0, -std::ilogb(m));
}

bool inWindow(double a, const ERLimites& l) {
  return qorv::detail::angleInRange(a, std::min(l.start(), l.end()), std::max(l.start(), l.end()));
}

// The world axes seen in the local frame: the directions whose extremes make the box.
void localAxes(const ERPmIsometrie3D& T, ERVector3D w[3]) {
  w[0] = T << kX, w[1] = T << kY, w[2] = T << kZ;
}

template <class Surface>
int splitCopies(const Surface& s, t_SmartPtr<ERAnyBoundedSurface>& low,
                t_SmartPtr<ERAnyBoundedSurface>& high, double x, bool inU) {
  const ERLimites U = s.getBoundU(), V = s.getBoundV();
  const ERLimites& L = inU ? U : V;
  if (!(L.start() <= x && x <= L.end())) return 0;
  Surface* a = new Surface(s);
  Surface* b = new Surface(s);
  if (inU) {
    a->setBound(ERLimites(U.start(), x), V);
    b->setBound(ERLimites(x, U.end()), V);
  } else {
    a->setBound(U, ERLimites(V.start(), x));
    b->setBound(U, ERLimites(x, V.end()));
  }
  low = a, high = b;
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ERBoundedSurface

void ERBoundedSurface::setBound(const ERLimites& U, const ERLimites& V) {
  tu_ = U, tv_ = V;
  emptyCache();
}

void ERBoundedSurface::adjust() { nu_ = tu_, nv_ = tv_; }

void ERBoundedSurface::redefineDomainU(const ERLimites& U) {
  tu_ = U;
  adjust();
  emptyCache();
}

void ERBoundedSurface::redefineDomainV(const ERLimites& V) {
  tv_ = V;
  adjust();
  emptyCache();
}

void ERBoundedSurface::redefinedDomain(const ERLimites& U, const ERLimites& V) {
  tu_ = U, tv_ = V;
  adjust();
  emptyCache();
}

void ERBoundedSurface::setLimits(const ERLimites& nu, const ERLimites& nv, const ERLimites& tu,
                                 const ERLimites& tv) {
  nu_ = nu, nv_ = nv, tu_ = tu, tv_ = tv;
  emptyCache();
}

void ERBoundedSurface::reverse() {
  ERAnyBoundedSurface::reverse();
  std::swap(nu_, nv_);
  std::swap(tu_, tv_);
}

void ERBoundedSurface::printOn(std::ostream& os) const {
  os << "Lim  U " << nu_ << '\n';
  os << "Lim  V " << nv_ << '\n';
  os << "Trim U " << tu_ << '\n';
  os << "Trim V " << tv_ << '\n';
}

void ERBoundedSurface::saveGuts(ERFile& f) const {
  ERAnyBoundedSurface::saveGuts(f);
  for (const ERLimites* l : {&nu_, &nv_, &tu_, &tv_}) f.Write(l->start()), f.Write(l->end());
}

void ERBoundedSurface::restoreGuts(ERFile& f) {
  ERAnyBoundedSurface::restoreGuts(f);
  double v[8];
  if (!detail::restoreDoubles(f, v, 8)) return;
  setLimits(ERLimites(v[0], v[1]), ERLimites(v[2], v[3]), ERLimites(v[4], v[5]),
            ERLimites(v[6], v[7]));
}

std::uint32_t ERBoundedSurface::binaryStoreSize() const {
  return ERAnyBoundedSurface::binaryStoreSize() + 64;
}

// ---------------------------------------------------------------------------------------------
// ERSurfaceBasedOnTransfo3D

void ERSurfaceBasedOnTransfo3D::transformFrom(const ERPmIsometrie3D& T) { assign(T * placement_); }

void ERSurfaceBasedOnTransfo3D::transformTo(const ERPmIsometrie3D& T) { assign(~T * placement_); }

void ERSurfaceBasedOnTransfo3D::translate(const ERPoint3D& t) {
  ERPoint3D o = placement_.origine();
  o += t;
  assign(ERPmIsometrie3D(_ERTranslation3D(o)) * placement_.get_rotation_matrix());
}

void ERSurfaceBasedOnTransfo3D::scale(double k) {
  ERPoint3D o = placement_.origine();
  o *= k;
  assign(ERPmIsometrie3D(_ERTranslation3D(o)) * placement_.get_rotation_matrix());
}

int ERSurfaceBasedOnTransfo3D::mirrorsPlacement(const ERPmSimilitude3D& T, bool forward,
                                                double& k) const {
  const ERPmSimilitude3D M = forward ? T : ~T;
  k = std::fabs(M.getFactHomo());
  const bool keepsHandedness = (M.isDirect() != 0) == (M.getFactHomo() > 0.0);
  return !keepsHandedness && placement_.isDirect() ? 1 : 0;
}

int ERSurfaceBasedOnTransfo3D::movePlacement(const ERPmSimilitude3D& T, bool forward, double& k) {
  const ERPmSimilitude3D M = forward ? T : ~T;
  k = std::fabs(M.getFactHomo());
  const ERPoint3D o = M >> placement_.origine();
  const ERVector3D x = M >> placement_.getVector(Coord3D::X);
  const ERVector3D y = M >> placement_.getVector(Coord3D::Y);
  // isDirect() reads the orthogonal part; a negative factor turns space over once more.
  const bool keepsHandedness = (M.isDirect() != 0) == (M.getFactHomo() > 0.0);
  if (keepsHandedness) {  // the turn of M after the placement's own axes, any handedness
    const ERPmIsometrie3D turn = ERChgRepere3D(M >> kX, M >> kY, kOrigin);
    assign(ERPmIsometrie3D(_ERTranslation3D(o)) * turn * placement_.get_rotation_matrix());
    return 0;
  }
  if (placement_.isDirect()) {  // a mirror of a right-handed frame: local y turns over
    assign(ERChgRepere3D(x, -y, o));
    return 1;
  }
  assign(ERChgRepere3D(x, y, o));  // a mirror of a left-handed frame is right-handed
  return 0;
}

void ERSurfaceBasedOnTransfo3D::transformFrom(const ERPmSimilitude3D& T) {
  double k;
  movePlacement(T, true, k);
}

void ERSurfaceBasedOnTransfo3D::transformTo(const ERPmSimilitude3D& T) {
  double k;
  movePlacement(T, false, k);
}

void ERSurfaceBasedOnTransfo3D::printOn(std::ostream& os) const { placement_.printOn(os); }

void ERSurfaceBasedOnTransfo3D::saveGuts(ERFile& f) const { placement_.saveGuts(f); }

void ERSurfaceBasedOnTransfo3D::restoreGuts(ERFile& f) {
  ERPmIsometrie3D T = placement_;
  T.restoreGuts(f);
  assign(T);
}

void ERSurfaceBasedOnTransfo3D::assign(const ERPmIsometrie3D& placement) {
  placement_ = placement;
  map_.read(placement_);
}

void qorv::detail::PlacementMap::read(const ERPmIsometrie3D& T) {
  *this = PlacementMap();
  if (T.getRep() == nullptr) return;  // maps nothing
  const QuickAlgebra::ERMatrix<double> R = T.getMatrix();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[3 * i + j] = i < R.rows() && j < R.cols() ? R(i, j) : 0.0;
  const ERPoint3D o = T.getTrans();
  t[0] = o.x(), t[1] = o.y(), t[2] = o.z();
  k = T.getFactHomo();
  valid = T.isValid() != 0;
}

std::uint32_t ERSurfaceBasedOnTransfo3D::binaryStoreSize() const {
  return placement_.binaryStoreSize();
}

// ---------------------------------------------------------------------------------------------
// What the five placed classes share: moves of the cache with the placement, persistence of the
// limits and placement in the class's order, all or nothing.

namespace {

// Reads a placement and eight limit doubles (in the given order) and n trailing doubles; 1 when
// all were there.
int readPlacedRecord(ERFile& f, bool limitsFirst, ERPmIsometrie3D& T, double lim[8], double* tail,
                     int n) {
  auto readPlacement = [&] {
    const long at = f.CurOffset();
    ERPmIsometrie3D t;
    t.restoreGuts(f);
    if (f.CurOffset() - at != static_cast<long>(t.binaryStoreSize())) return 0;
    T = t;
    return 1;
  };
  if (limitsFirst) {
    if (!detail::restoreDoubles(f, lim, 8) || !readPlacement()) return 0;
  } else if (!readPlacement() || !detail::restoreDoubles(f, lim, 8)) {
    return 0;
  }
  return n == 0 || detail::restoreDoubles(f, tail, static_cast<unsigned>(n));
}

void writeLimits(ERFile& f, const ERBoundedSurface& s) {
  for (double v :
       {s.NUdeb(), s.NUfin(), s.NVdeb(), s.NVfin(), s.udeb(), s.ufin(), s.vdeb(), s.vfin()})
    f.Write(v);
}

}  // namespace

#define QORV_PLACED_SURFACE_MOVES(Class)                                                           \
  void Class::translate(const ERPoint3D& t) {                                                      \
    ERSurfaceBasedOnTransfo3D::translate(t);                                                       \
    ERAnyBoundedSurface::translate(t);                                                             \
  }                                                                                                \
  void Class::transformFrom(const ERPmIsometrie3D& T) {                                            \
    ERSurfaceBasedOnTransfo3D::transformFrom(T);                                                   \
    ERAnyBoundedSurface::transformFrom(static_cast<const ERPmSimilitude3D&>(T));                   \
  }                                                                                                \
  void Class::transformTo(const ERPmIsometrie3D& T) {                                              \
    ERSurfaceBasedOnTransfo3D::transformTo(T);                                                     \
    ERAnyBoundedSurface::transformTo(static_cast<const ERPmSimilitude3D&>(T));                     \
  }                                                                                                \
  void Class::transformFrom(const ERPmSimilitude3D& T) { moveBy(*this, T, true); }                 \
  void Class::transformTo(const ERPmSimilitude3D& T) { moveBy(*this, T, false); }                  \
  int Class::ProjectionNormale(const ERPoint3D& p, double, ERPoint2D& uv, int inside) const {      \
    return projectParameters(*this, p, uv, inside);                                                \
  }                                                                                                \
  ERPoint3D Class::project_inbound(const ERPoint3D& p) const { return inbound(*this, p); }         \
  QORV_DEFINE_COPYABLE(Class)                                                                      \
  int Class::SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high, \
                      double u) const {                                                            \
    return splitCopies(*this, low, high, u, true);                                                 \
  }                                                                                                \
  int Class::SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high, \
                      double v) const {                                                            \
    return splitCopies(*this, low, high, v, false);                                                \
  }                                                                                                \
  ERPoint3D Class::operator()(double u, double v) const { return PtCur(u, v).point(); }

// ---------------------------------------------------------------------------------------------
// ERBoundedPlane

ERBoundedPlane::ERBoundedPlane(const ERPlane& plane, const ERLimites& U, const ERLimites& V)
    : ERBoundedSurface(U, V),
      ERSurfaceBasedOnTransfo3D(ERChgRepere3D(plane.normalVector(), plane.origine())) {}

ERInfoPoint3DSurf ERBoundedPlane::PtCur(double u, double v) const {
  ERInfoPoint3DSurf rec(ERPoint2D(u, v), ERInfoPoint3DSurf::Order2{});
  const ERPoint3D p = toWorld(ERPoint3D(u, v, 0.0));
  const ERVector3D su = toWorld(kX), sv = toWorld(kY);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rec.set(i, j, 0.0, 0.0, 0.0);
  rec.set(0, 0, p.x(), p.y(), p.z());
  rec.set(1, 0, su.x(), su.y(), su.z());
  rec.set(0, 1, sv.x(), sv.y(), sv.z());
  return rec;
}

ERPoint3D ERBoundedPlane::centroid() const { return (*this)(getBoundU()(0.5), getBoundV()(0.5)); }

ERSegment3D ERBoundedPlane::getIsoU(double u) const {
  return ERSegment3D((*this)(u, vdeb()), (*this)(u, vfin()));
}

ERSegment3D ERBoundedPlane::getIsoV(double v) const {
  return ERSegment3D((*this)(udeb(), v), (*this)(ufin(), v));
}

t_SmartPtr<ERFiniteEntity3DWF> ERBoundedPlane::getEntityIsoU(double u) const {
  return t_SmartPtr<ERFiniteEntity3DWF>(new ERSegment3D(getIsoU(u)));
}

t_SmartPtr<ERFiniteEntity3DWF> ERBoundedPlane::getEntityIsoV(double v) const {
  return t_SmartPtr<ERFiniteEntity3DWF>(new ERSegment3D(getIsoV(v)));
}

ERMinimax3D ERBoundedPlane::getBox() const {
  ERMinimax3D box;
  for (const ERPoint3D& p : {(*this)(udeb(), vdeb()), (*this)(ufin(), vdeb()),
                             (*this)(ufin(), vfin()), (*this)(udeb(), vfin())})
    box.Update(p);
  return padded(box);
}

int ERBoundedPlane::footParameters(const ERPoint3D& l, ERPoint2D& uv, int, double) const {
  uv = ERPoint2D(l.x(), l.y());
  return 1;
}

EREntity::DISTMINRES ERBoundedPlane::SignedMinimalDistance(const ERPoint3D& p, double& dist) const {
  const ERPoint3D l = toLocal(p);
  dist = l.z();
  return getBoundU().inBound(l.x()) && getBoundV().inBound(l.y()) ? DISTMIN_NORMAL
                                                                  : DISTMIN_END_POINT;
}

double ERBoundedPlane::upperEstimateInU() const { return std::fabs(ufin() - udeb()); }
double ERBoundedPlane::upperEstimateInV() const { return std::fabs(vfin() - vdeb()); }

void ERBoundedPlane::reverse() {
  const ERPmIsometrie3D& T = getMatrix();
  const ERLimites U = getBoundU(), V = getBoundV();
  setMatrix(ERChgRepere3D(T.getVector(Coord3D::Y), T.getVector(Coord3D::X), T.origine()));
  setBound(V, U);
}

void ERBoundedPlane::scale(double k) {
  ERSurfaceBasedOnTransfo3D::scale(k);
  ERLimites U = scaledBy(getBoundU(), k), V = scaledBy(getBoundV(), k);
  if (k < 0.0) U = ERLimites(U.end(), U.start()), V = ERLimites(V.end(), V.start());
  setBound(U, V);
}

void ERBoundedPlane::printOn(std::ostream&) const {}

void ERBoundedPlane::saveGuts(ERFile& f) const {
  ERSurface::saveGuts(f);
  getMatrix().saveGuts(f);
  writeLimits(f, *this);
}

void ERBoundedPlane::restoreGuts(ERFile& f) {
  ERSurface::restoreGuts(f);
  ERPmIsometrie3D T;
  double l[8];
  if (!readPlacedRecord(f, false, T, l, nullptr, 0)) return;
  setMatrix(T);
  setLimits({l[0], l[1]}, {l[2], l[3]}, {l[4], l[5]}, {l[6], l[7]});
}

std::uint32_t ERBoundedPlane::binaryStoreSize() const {
  return ERSurface::binaryStoreSize() + getMatrix().binaryStoreSize() + 64;
}

// ---------------------------------------------------------------------------------------------
// ERBoundedCylinder

ERBoundedCylinder::ERBoundedCylinder()
    : ERBoundedSurface(ERLimites(0.0, 1.0), ERLimites(0.0, kTwoPi)), radius_(1.0) {}

ERBoundedCylinder::ERBoundedCylinder(const ERPmIsometrie3D& placement, double h, double radius,
                                     ERRadian a1, ERRadian a2)
    : ERBoundedSurface(ERLimites(-h, h), ERLimites(a1, a2)),
      ERSurfaceBasedOnTransfo3D(placement),
      radius_(radius) {}

ERInfoPoint3DSurf ERBoundedCylinder::PtCur(double u, double v) const {
  const Profile p{{radius_, 0.0, 0.0}, {u, 1.0, 0.0}};
  return placedRevolution<true>(u, v, placementMap(), p);
}

ERSegment3D ERBoundedCylinder::axe() const {
  return ERSegment3D(toWorld(ERPoint3D(0, 0, udeb())), toWorld(ERPoint3D(0, 0, ufin())));
}

ERArc3D ERBoundedCylinder::getArc(double u) const {
  return placedArc(getMatrix(), ERPoint3D(0, 0, u), kX, kY, radius_, getBoundV());
}

t_SmartPtr<ERFiniteEntity3DWF> ERBoundedCylinder::getEntityIsoU(double u) const {
  return heldArc(getArc(u), getMatrix(), ERPoint3D(0, 0, u));
}

t_SmartPtr<ERFiniteEntity3DWF> ERBoundedCylinder::getEntityIsoV(double v) const {
  return t_SmartPtr<ERFiniteEntity3DWF>(new ERSegment3D((*this)(udeb(), v), (*this)(ufin(), v)));
}

ERMinimax3D ERBoundedCylinder::getBox() const {  // ruled: the two end sections hold it
  ERMinimax3D box;
  for (double u : {udeb(), ufin()})
    addArcBox(box, getMatrix(), ERPoint3D(0, 0, u), kX, kY, radius_, getBoundV());
  return padded(box);
}

int ERBoundedCylinder::footParameters(const ERPoint3D& l, ERPoint2D& uv, int mode,
                                      double noise) const {
  // The unbounded cylinder's foot on the local Z axis: none when P is within 1e-11 of the axis
  // in each coordinate (scaled to the radius); else at P's height in P's direction.
  const double k = unitScale(radius_, 0.0);
  if (std::isfinite(radius_) && (std::fabs(l.x() * k) > 1e-11 || std::fabs(l.y() * k) > 1e-11)) {
    const double s = sign(radius_);
    uv = ERPoint2D(l.z(), angleFrom(s * l.x(), s * l.y(), vdeb(), noise));
    return 1;
  }
  if (mode > 0) uv = ERPoint2D(l.z(), vdeb());  // on the axis: every section point is as near
  return 0;
}

// ---------------------------------------------------------------------------------------------
// ERBoundedCone

ERBoundedCone::ERBoundedCone()
    : ERBoundedSurface(ERLimites(0.0, 1.0), ERLimites(0.0, kTwoPi)), alpha_(0.0) {
  setAngleParts();
}

ERBoundedCone::ERBoundedCone(const ERCone& cone, const ERPoint3D& p1, const ERPoint3D& p2)
    : ERSurfaceBasedOnTransfo3D(ERChgRepere3D(cone.direction(), cone.sommet())),
      alpha_(cone.demiAngle()) {
  setAngleParts();
  const ERVector3D d = cone.direction();
  const double h1 = (p1 - cone.sommet()) * d, h2 = (p2 - cone.sommet()) * d;
  const ERLimites U(std::min(h1, h2), std::max(h1, h2)), V(0.0, kTwoPi);
  setLimits(U, V, U, V);
}

ERBoundedCone::ERBoundedCone(const ERPmIsometrie3D& placement, ERRadian alpha, double h1, double h2)
    : ERSurfaceBasedOnTransfo3D(placement), alpha_(alpha) {
  setAngleParts();
  setBound(ERLimites(h1, h2), ERLimites(0.0, kTwoPi));
  adjust();
}

void ERBoundedCone::setAngleParts() {
  tan_ = std::tan(alpha_);
  // The acute angle the generators make with the axis (a, -a and pi - a are one double cone).
  double a = alpha_;
  if (!(a >= 0.0 && a <= 0.5 * kPi)) {
    a = std::fmod(std::fabs(alpha_), kPi);
    if (a > 0.5 * kPi) a = kPi - a;
  }
  cosA_ = std::cos(a), sinA_ = std::sin(a);
}

double ERBoundedCone::radius(double h) const { return tan_ * h; }

ERInfoPoint3DSurf ERBoundedCone::PtCur(double u, double v) const {
  const double t = tan_;
  const Profile p{{u * t, t, 0.0}, {u, 1.0, 0.0}};
  return placedRevolution<true>(u, v, placementMap(), p);
}

ERSegment3D ERBoundedCone::axe() const {
  return ERSegment3D(toWorld(ERPoint3D(0, 0, udeb())), toWorld(ERPoint3D(0, 0, ufin())));
}

ERArc3D ERBoundedCone::sectionAt(double u) const {
  return placedArc(getMatrix(), ERPoint3D(0, 0, u), kX, kY, radius(u), getBoundV());
}

t_SmartPtr<ERFiniteEntity3DWF> ERBoundedCone::getEntityIsoU(double u) const {
  return heldArc(sectionAt(u), getMatrix(), ERPoint3D(0, 0, u));
}

t_SmartPtr<ERFiniteEntity3DWF> ERBoundedCone::getEntityIsoV(double v) const {
  return t_SmartPtr<ERFiniteEntity3DWF>(new ERSegment3D((*this)(udeb(), v), (*this)(ufin(), v)));
}

ERMinimax3D ERBoundedCone::getBox() const {  // ruled: the two end sections hold it
  ERMinimax3D box;
  for (double u : {udeb(), ufin()})
    addArcBox(box, getMatrix(), ERPoint3D(0, 0, u), kX, kY, radius(u), getBoundV());
  return padded(box);
}

int ERBoundedCone::footParameters(const ERPoint3D& l, ERPoint2D& uv, int mode, double noise) const {
  // The unbounded cone's foot, read in P's meridian half-plane (radial rho along e, height h):
  // none when P is within 1e-11 rad of the axis (the apex included); else on the generator of
  // P's nappe at (|h| cos a + rho sin a) from the apex, a the acute half-angle, that is at the
  // height u = sign(h) cos a (|h| cos a + rho sin a), where S's radial direction is
  // sign(u tan a) e.
  const double t = tan_;
  const double rho = length2(l.x(), l.y()), h = l.z();
  if (std::isfinite(alpha_) && rho > 0.0 && !(rho <= 1e-11 * std::fabs(h))) {
    const double along = std::fabs(h) * cosA_ + rho * sinA_;
    const double u = (h < 0.0 ? -along : along) * cosA_;
    const double s = u * t < 0.0 ? -1.0 : 1.0;
    uv = ERPoint2D(u, u * t == 0.0 ? vdeb() : angleFrom(s * l.x(), s * l.y(), vdeb(), noise));
    return 1;
  }
  if (mode > 0) {  // on the axis: the foot on the generator at vdeb
    const ERVector3D g(t * std::cos(vdeb()), t * std::sin(vdeb()), 1.0);
    const double u = (ERVector3D(l) * g) / (g * g);
    uv = ERPoint2D(std::isfinite(u) ? u : 0.0, vdeb());
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// ERBoundedSphere

ERBoundedSphere::ERBoundedSphere()
    : ERBoundedSurface(ERLimites(0.0, kTwoPi), ERLimites(-0.5 * kPi, 0.5 * kPi)), radius_(1.0) {}

ERBoundedSphere::ERBoundedSphere(const ERPmIsometrie3D& placement, double radius,
                                 const ERLimites& U, const ERLimites& V)
    : ERBoundedSurface(U, V), ERSurfaceBasedOnTransfo3D(placement), radius_(radius) {}

ERBoundedSphere::ERBoundedSphere(const ERSphere& sphere, const ERLimites& U, const ERLimites& V)
    : ERBoundedSurface(U, V),
      ERSurfaceBasedOnTransfo3D(ERPmIsometrie3D(_ERTranslation3D(sphere.center()))),
      radius_(sphere.radius()) {}

ERInfoPoint3DSurf ERBoundedSphere::PtCur(double u, double v) const {
  double s, c;
  qorv::sinCos(v, s, c);
  const double R = radius_;
  const Profile p{{R * c, -R * s, -R * c}, {R * s, R * c, -R * s}};
  return placedRevolution<false>(u, v, placementMap(), p);
}

ERArc3D ERBoundedSphere::getIsoU(double u) const {
  const ERVector3D X(std::cos(u), std::sin(u), 0.0);
  return placedArc(getMatrix(), kOrigin, X, kZ, radius_, getBoundV());
}

ERArc3D ERBoundedSphere::getIsoV(double v) const {
  return placedArc(getMatrix(), ERPoint3D(0, 0, radius_ * std::sin(v)), kX, kY,
                   radius_ * std::cos(v), getBoundU());
}

t_SmartPtr<ERFiniteEntity3DWF> ERBoundedSphere::getEntityIsoU(double u) const {
  return heldArc(getIsoU(u), getMatrix(), kOrigin);
}

t_SmartPtr<ERFiniteEntity3DWF> ERBoundedSphere::getEntityIsoV(double v) const {
  return heldArc(getIsoV(v), getMatrix(), ERPoint3D(0, 0, radius_ * std::sin(v)));
}

ERMinimax3D ERBoundedSphere::getBox() const {
  ERMinimax3D box;
  const ERPmIsometrie3D& T = getMatrix();
  for (double u : {udeb(), ufin()})
    addArcBox(box, T, kOrigin, ERVector3D(std::cos(u), std::sin(u), 0.0), kZ, radius_, getBoundV());
  for (double v : {vdeb(), vfin()})
    addArcBox(box, T, ERPoint3D(0, 0, radius_ * std::sin(v)), kX, kY, radius_ * std::cos(v),
              getBoundU());
  // Inside: the extreme of w . S is at S = +-R w, reached at (t, f) and (t + pi, pi - f).
  ERVector3D w[3];
  localAxes(getMatrix(), w);
  for (const ERVector3D& a : w)
    for (double s : {1.0, -1.0}) {
      const double rho = std::hypot(a.x(), a.y());
      if (rho == 0.0) continue;  // every longitude: the boundary meridian holds it
      const double t = std::atan2(s * a.y(), s * a.x()), f = std::atan2(s * a.z(), rho);
      for (const auto& [uu, vv] : {std::pair{t, f}, std::pair{t + kPi, kPi - f}})
        if (inWindow(uu, getBoundU()) && inWindow(vv, getBoundV())) box.Update((*this)(uu, vv));
    }
  return padded(box);
}

int ERBoundedSphere::footParameters(const ERPoint3D& l, ERPoint2D& uv, int mode,
                                    double noise) const {
  // The unbounded sphere's foot is R n with n = P / |P| (local): none at the centre exactly.
  // S = R n whatever R's sign, so the angles are those of n, which are P's own.
  if (!std::isfinite(radius_) || (l.x() == 0.0 && l.y() == 0.0 && l.z() == 0.0)) {
    if (mode > 0) uv = ERPoint2D(udeb(), vdeb());  // the centre: every point is as near
    return 0;
  }
  (void)noise;
  const ERPoint3D& n = l;
  const double u0 = udeb(), u1 = ufin(), v0 = vdeb(), v1 = vfin();
  double t = std::atan2(n.y(), n.x()) + kTwoPi * std::floor(u0 / kTwoPi + 0.5);
  if (t < u0) {
    if (t + kFloatEps >= u0)
      t = u0;
    else if (t + kTwoPi <= u1)
      t += kTwoPi;
  }
  if (t > u1) {
    if (t - kFloatEps <= u1)
      t = u1;
    else if (t - kTwoPi >= u0)
      t -= kTwoPi;
  }
  double f = std::atan2(n.z(), length2(n.x(), n.y()));
  if (f < v0 && f + kFloatEps >= v0) f = v0;
  if (f > v1 && f - kFloatEps <= v1) f = v1;
  uv = ERPoint2D(t, f);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// ERBoundedTorus

ERBoundedTorus::ERBoundedTorus(const ERPmIsometrie3D& placement, double R, double r, double ua,
                               double ub, double va, double vb)
    : ERSurfaceBasedOnTransfo3D(placement), R_(R), r_(r) {
  setBound(ERLimites(ua, ub), ERLimites(va, vb));
}

ERBoundedTorus::ERBoundedTorus(const ERTorus& torus)
    : ERBoundedSurface(ERLimites(0.0, kTwoPi), ERLimites(0.0, kTwoPi)),
      ERSurfaceBasedOnTransfo3D(ERChgRepere3D(torus.vect(), torus.origin())),
      R_(torus.radius()),
      r_(torus.small_radius()) {}

ERInfoPoint3DSurf ERBoundedTorus::PtCur(double u, double v) const {
  double s, c;
  qorv::sinCos(v, s, c);
  const Profile p{{R_ + r_ * c, -r_ * s, -r_ * c}, {r_ * s, r_ * c, -r_ * s}};
  return placedRevolution<false>(u, v, placementMap(), p);
}

ERCircle3D ERBoundedTorus::GetSpine() const {
  return ERCircle3D(ERChgRepere3D(toWorld(kX), toWorld(kY), origin()), std::fabs(R_));
}

double ERBoundedTorus::dist2(const ERPoint3D& p) const {
  double d = 0.0;
  ERTorus::SignedMinimalDistanceTorus(p, origin(), vect(), R_, r_, d);
  return d * d;
}

t_SmartPtr<ERFiniteEntity3DWF> ERBoundedTorus::getEntityIsoU(double u) const {
  const ERVector3D X(std::cos(u), std::sin(u), 0.0);
  const ERPoint3D c(X * R_);
  return heldArc(placedArc(getMatrix(), c, X, kZ, r_, getBoundV()), getMatrix(), c);
}

t_SmartPtr<ERFiniteEntity3DWF> ERBoundedTorus::getEntityIsoV(double v) const {
  const ERPoint3D c(0, 0, r_ * std::sin(v));
  return heldArc(placedArc(getMatrix(), c, kX, kY, R_ + r_ * std::cos(v), getBoundU()), getMatrix(),
                 c);
}

ERMinimax3D ERBoundedTorus::getBox() const {
  ERMinimax3D box;
  const ERPmIsometrie3D& T = getMatrix();
  for (double u : {udeb(), ufin()}) {
    const ERVector3D X(std::cos(u), std::sin(u), 0.0);
    addArcBox(box, T, ERPoint3D(X * R_), X, kZ, r_, getBoundV());
  }
  for (double v : {vdeb(), vfin()})
    addArcBox(box, T, ERPoint3D(0, 0, r_ * std::sin(v)), kX, kY, R_ + r_ * std::cos(v),
              getBoundU());
  // Inside: w . S = +-rho (R + r cos v) + c r sin v at u = atan2(b, a) (+ pi), extreme at
  // v = atan2(c, +-rho) (+ pi).
  ERVector3D w[3];
  localAxes(getMatrix(), w);
  for (const ERVector3D& a : w) {
    const double rho = std::hypot(a.x(), a.y());
    if (rho == 0.0) continue;  // every u alike: the boundary meridians hold the extremes
    const double t = std::atan2(a.y(), a.x());
    for (double s : {1.0, -1.0}) {
      const double u = s > 0.0 ? t : t + kPi, f = std::atan2(a.z(), s * rho);
      for (double v : {f, f + kPi})
        if (inWindow(u, getBoundU()) && inWindow(v, getBoundV())) box.Update((*this)(u, v));
    }
  }
  return padded(box);
}

int ERBoundedTorus::footParameters(const ERPoint3D& l, ERPoint2D& uv, int mode,
                                   double noise) const {
  // The unbounded torus's foot, read in P's meridian half-plane (radial rho along e, height h):
  // the nearer of the two tube circles centred at +-R e (the far one can win on a spindle
  // torus, r >= R), the tie going to the near one; no foot when P is within 1e-11 rad of the
  // axis or on the core circle (within 1e-11, at the torus's scale). Then R (cos u, sin u) is
  // the chosen centre and v the angle of P about it.
  const double k = unitScale(R_, r_);
  const double rho = length2(l.x(), l.y()), h = l.z();
  const bool foot =
      std::isfinite(R_) && std::isfinite(r_) && rho > 0.0 && !(rho <= 1e-11 * std::fabs(h)) &&
      !(std::fabs(h) <= 1e-11 * rho && std::fabs(R_ * k - length2(rho * k, h * k)) <= 1e-11);
  if (foot) {
    const double near = length2(rho - R_, h), far = length2(rho + R_, h);
    const bool farSide = std::fabs(far - r_) < std::fabs(near - r_);
    const double s = farSide ? -1.0 : 1.0;  // the centre R (cos u, sin u) is +-R e
    const double u = angleFrom(s * l.x(), s * l.y(), udeb(), noise);
    if (mode < 0 && !getBoundU().inBound(u)) {  // the inside test on u comes first
      uv = ERPoint2D(u, uv.y());
      return -1;
    }
    // P less the centre, along (cos u, sin u) and along Z.
    const double radial = s * rho - R_;
    if (!(length2(radial, h) > 0.0)) return 0;
    uv = ERPoint2D(u, angleFrom(radial, h, vdeb(), noise));
    return 1;
  }
  if (mode > 0) {  // on the axis or the core circle: in the meridian of udeb or of P
    const double rho = std::hypot(l.x(), l.y());
    const double s = sign(R_);
    const double u =
        rho > 0.0 && std::isfinite(rho) ? angleFrom(s * l.x(), s * l.y(), udeb(), noise) : udeb();
    const ERVector3D w = ERVector3D(l) - ERVector3D(R_ * std::cos(u), R_ * std::sin(u), 0.0);
    const double rw = w.x() * std::cos(u) + w.y() * std::sin(u);
    const double q = sign(r_);
    const bool onCore = !(w.norme() > 1e-11 * std::max(std::fabs(R_), std::fabs(r_)));
    uv = ERPoint2D(u, onCore ? vdeb() : angleFrom(q * rw, q * w.z(), vdeb(), noise));
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Shared bodies: the parameter projection, the closest point, the similitude moves, the
// negative scale, the print forms' common parts, the unbounded distances.

namespace {

// The rounding of a point's local coordinates: a few units in the last place of the larger of
// the point and the placement's origin.
template <class S>
double noiseOf(const S& s, const ERPoint3D& p) {
  const ERPoint3D o = s.placementMap().origin();
  const double m = std::max({std::fabs(p.x()), std::fabs(p.y()), std::fabs(p.z()), std::fabs(o.x()),
                             std::fabs(o.y()), std::fabs(o.z())});
  return 16.0 * DBL_EPSILON * m;
}

template <class S>
int projectParameters(const S& s, const ERPoint3D& p, ERPoint2D& uv, int inside) {
  if constexpr (std::is_same_v<S, ERBoundedPlane>) inside = 1;  // the plane always checks
  if (!finite(p) || !s.placementMap().valid) return 0;
  const ERPoint3D l = s.toLocal(p);
  if (!finite(l)) return 0;
  ERPoint2D q = uv;
  const int r = s.footParameters(l, q, inside ? -1 : 0, noiseOf(s, p));
  if (r == 0) return 0;
  uv = q;
  if (r < 0) return 0;
  return !inside || (s.getBoundU().inBound(q.x()) && s.getBoundV().inBound(q.y()));
}

template <class S>
ERPoint3D inbound(const S& s, const ERPoint3D& p) {
  ERPoint2D uv(s.udeb(), s.vdeb());
  const ERPoint3D l = s.toLocal(p);
  if (finite(p) && s.placementMap().valid && finite(l)) s.footParameters(l, uv, 1, noiseOf(s, p));
  return s(clampInto(uv.x(), s.getBoundU()), clampInto(uv.y(), s.getBoundV()));
}

// The angle of the window w (inclusive, either order) nearest to psi on the circle; a window of a
// turn or more holds every direction once from its lower end.
// own: whether the answer is psi's direction itself (not a nearer end).
double nearestInWindow(double psi, const ERLimites& w, bool& own) {
  const double a0 = std::min(w.start(), w.end()), a1 = std::max(w.start(), w.end());
  double t = psi - a0;
  t -= kTwoPi * std::floor(t * (1.0 / kTwoPi));
  if (!(t >= 0.0 && t < kTwoPi)) t = 0.0;
  t += a0;
  own = t <= a1;
  if (own) return t;
  return t - a1 <= a0 + kTwoPi - t ? a1 : a0;
}

// +1 when cos >= 0 over the whole window, -1 when cos <= 0, 0 when it takes both signs.
int cosSignOver(const ERLimites& w) {
  const double a0 = std::min(w.start(), w.end()), len = std::fabs(w.end() - w.start());
  if (!(len <= kPi)) return 0;
  const double b0 = a0 - kTwoPi * std::floor((a0 + 0.5 * kPi) * (1.0 / kTwoPi));  // [-pi/2, 3pi/2)
  if (b0 + len <= 0.5 * kPi) return 1;
  if (b0 >= 0.5 * kPi && b0 + len <= 1.5 * kPi) return -1;
  return 0;
}

ERLimites ordered(const ERLimites& l) {
  return ERLimites(std::min(l.start(), l.end()), std::max(l.start(), l.end()));
}

// The nearest point of a surface of revolution about the local Z axis, (x, y, z) a local point
// scaled to about 1. For a fixed profile point of radius rho(s) the nearest angle is the window's
// nearest to P's direction (rho > 0) or to the opposite one (rho < 0), so the global nearest point
// lies in one of those two half-planes; in each, profile(A, z, s) gives the squared distance from
// the point (A, z) of the half-plane to the profile's nearest point and s its parameter.
// radialSign: the sign rho keeps over the limits, 0 when it changes (both half-planes searched).
struct MeridianFoot {
  double d2 = HUGE_VAL;
  double theta = 0.0;
  double s = 0.0;
  double A = 0.0;  // the point's radial coordinate in the chosen half-plane
};
template <class Profile>
MeridianFoot meridianNearest(double x, double y, double z, double rho, const ERLimites& window,
                             int radialSign, Profile profile) {
  MeridianFoot best;
  best.theta = std::min(window.start(), window.end());
  const bool onAxis = x == 0.0 && y == 0.0;  // every half-plane alike
  const double phi = onAxis ? 0.0 : std::atan2(y, x);
  for (int k = 0; k < 2; ++k) {
    if (radialSign != 0 && (k == 0) != (radialSign > 0)) continue;
    bool own = false;
    const double theta =
        onAxis ? best.theta : nearestInWindow(k == 0 ? phi : phi + kPi, window, own);
    double A = 0.0, B = 0.0;
    if (own) {  // p's own half-plane (or the opposite one): nothing to turn
      A = k == 0 ? rho : -rho;
    } else {
      double sn, c;
      qorv::sinCos(theta, sn, c);
      A = x * c + y * sn, B = y * c - x * sn;
    }
    double s = 0.0;
    const double d2 = B * B + profile(A, z, s);
    if (d2 < best.d2 || (k == 0 && !(d2 == d2))) best = MeridianFoot{d2, theta, s, A};
    if (onAxis) break;
  }
  return best;
}

// 1 while the largest of the local point's coordinates and the surface's size squares safely,
// else 2^-e bringing it to about 1: the squares then neither overflow nor underflow, and the
// scaling is exact.
double meridianScale(const ERPoint3D& l, double size) {
  const double m = std::max({std::fabs(l.x()), std::fabs(l.y()), std::fabs(l.z()), size});
  return m >= 0x1p-400 && m <= 0x1p400 ? 1.0 : unitScale(m, 0.0);
}

// The shared frame of the five searches: the local point (0 when p or the placement cannot give
// one) and the world distance of a local one.
template <class S>
bool localPoint(const S& s, const ERPoint3D& p, ERPoint3D& l) {
  if (!finite(p) || !s.placementMap().valid) return false;
  l = s.toLocal(p);
  return finite(l);
}

template <class S>
double worldDistance(const S& s, double localScaled2, double sigma) {
  return std::sqrt(localScaled2) / sigma * std::fabs(s.placementMap().k);
}

constexpr double kNaNd = std::numeric_limits<double>::quiet_NaN();

// Both pairs of limits of one direction mapped alike.
template <class F>
void mapU(ERBoundedSurface& s, F f) {
  s.setLimits(f(ERLimites(s.NUdeb(), s.NUfin())), ERLimites(s.NVdeb(), s.NVfin()), f(s.getBoundU()),
              s.getBoundV());
}
template <class F>
void mapV(ERBoundedSurface& s, F f) {
  s.setLimits(ERLimites(s.NUdeb(), s.NUfin()), f(ERLimites(s.NVdeb(), s.NVfin())), s.getBoundU(),
              f(s.getBoundV()));
}

void moveBy(ERBoundedPlane& s, const ERPmSimilitude3D& T, bool forward) {
  double k = 1.0;
  const int flip = s.movePlacement(T, forward, k);
  mapU(s, [k](const ERLimites& l) { return scaledBy(l, k); });
  mapV(s,
       [k, flip](const ERLimites& l) { return flip ? negated(scaledBy(l, k)) : scaledBy(l, k); });
}

void moveBy(ERBoundedCylinder& s, const ERPmSimilitude3D& T, bool forward) {
  double k = 1.0;
  const int flip = s.movePlacement(T, forward, k);
  s.radius(s.radius() * k);
  mapU(s, [k](const ERLimites& l) { return scaledBy(l, k); });
  if (flip) mapV(s, negated);
}

void moveBy(ERBoundedCone& s, const ERPmSimilitude3D& T, bool forward) {
  double k = 1.0;
  const int flip = s.movePlacement(T, forward, k);
  mapU(s, [k](const ERLimites& l) { return scaledBy(l, k); });
  if (flip) mapV(s, negated);
}

void moveBy(ERBoundedSphere& s, const ERPmSimilitude3D& T, bool forward) {
  double k = 1.0;
  const int flip = s.movePlacement(T, forward, k);
  s.radius(s.radius() * k);
  if (flip) mapU(s, negated);
}

void moveBy(ERBoundedTorus& s, const ERPmSimilitude3D& T, bool forward) {
  double k = 1.0;
  const int flip = s.movePlacement(T, forward, k);
  s.radius(s.radius() * k);
  s.small_radius(s.small_radius() * k);
  if (flip) mapU(s, negated);
}

ERLimites halfTurn(const ERLimites& l) { return shiftedBy(l, kPi); }

}  // namespace

QORV_PLACED_SURFACE_MOVES(ERBoundedPlane)
QORV_PLACED_SURFACE_MOVES(ERBoundedCylinder)
QORV_PLACED_SURFACE_MOVES(ERBoundedCone)
QORV_PLACED_SURFACE_MOVES(ERBoundedSphere)
QORV_PLACED_SURFACE_MOVES(ERBoundedTorus)

// The curved classes keep their points and parameters.
void ERBoundedCylinder::reverse() {}
void ERBoundedCone::reverse() {}
void ERBoundedSphere::reverse() {}
void ERBoundedTorus::reverse() {}

// Scaling about the world origin: a negative factor is a point reflection, which each canonical
// surface takes into itself with its parameters turned.
void ERBoundedCylinder::scale(double k) {
  ERSurfaceBasedOnTransfo3D::scale(k);
  const double a = std::fabs(k);
  radius_ *= a;
  mapU(*this,
       [a, k](const ERLimites& l) { return k < 0 ? negated(scaledBy(l, a)) : scaledBy(l, a); });
  if (k < 0.0) mapV(*this, halfTurn);  // -S(u, v) = S(-u, v + pi)
}

void ERBoundedCone::scale(double k) {
  ERSurfaceBasedOnTransfo3D::scale(k);
  const double a = std::fabs(k);
  mapU(*this,
       [a, k](const ERLimites& l) { return k < 0 ? negated(scaledBy(l, a)) : scaledBy(l, a); });
}

void ERBoundedSphere::scale(double k) {
  ERSurfaceBasedOnTransfo3D::scale(k);
  radius_ *= std::fabs(k);
  emptyCache();
  if (k < 0.0) mapU(*this, halfTurn), mapV(*this, negated);  // -S(u, v) = S(u + pi, -v)
}

void ERBoundedTorus::scale(double k) {
  ERSurfaceBasedOnTransfo3D::scale(k);
  R_ *= std::fabs(k), r_ *= std::fabs(k);
  emptyCache();
  if (k < 0.0) mapU(*this, halfTurn), mapV(*this, negated);  // -S(u, v) = S(u + pi, -v)
}

// ---------------------------------------------------------------------------------------------
// The global nearest point of each patch, in closed form: the plane's clamp, the others through
// meridianNearest with the profile's own nearest point (a segment for the cylinder and the cone,
// an arc for the sphere and the torus). The "no single foot" tests read at 1e-12 of the size.

#define QORV_PLACED_NEAREST(Class)                                 \
  double Class::nearest(const ERPoint3D& p, ERPoint2D& uv) const { \
    int single = 1;                                                \
    return nearest(p, uv, single);                                 \
  }
QORV_PLACED_NEAREST(ERBoundedPlane)
QORV_PLACED_NEAREST(ERBoundedCylinder)
QORV_PLACED_NEAREST(ERBoundedCone)
QORV_PLACED_NEAREST(ERBoundedSphere)
QORV_PLACED_NEAREST(ERBoundedTorus)
#undef QORV_PLACED_NEAREST

double ERBoundedPlane::nearest(const ERPoint3D& p, ERPoint2D& uv, int& single) const {
  single = 1;
  ERPoint3D l;
  if (!localPoint(*this, p, l)) return kNaNd;
  const double u = clampInto(l.x(), ordered(ERBoundedSurface::getBoundU())),
               v = clampInto(l.y(), ordered(ERBoundedSurface::getBoundV()));
  const double sigma = meridianScale(l, 0.0);
  const double dx = (l.x() - u) * sigma, dy = (l.y() - v) * sigma, dz = l.z() * sigma;
  uv = ERPoint2D(u, v);
  return worldDistance(*this, dx * dx + dy * dy + dz * dz, sigma);
}

double ERBoundedCylinder::nearest(const ERPoint3D& p, ERPoint2D& uv, int& single) const {
  single = 1;
  ERPoint3D l;
  if (!localPoint(*this, p, l) || !std::isfinite(radius_)) return kNaNd;
  const ERLimites U = ordered(ERBoundedSurface::getBoundU());
  const double sigma =
      meridianScale(l, std::max({std::fabs(radius_), std::fabs(U.start()), std::fabs(U.end())}));
  const double R = radius_ * sigma, h0 = U.start() * sigma, h1 = U.end() * sigma;
  const double x = l.x() * sigma, y = l.y() * sigma, rho = length2(x, y);
  const MeridianFoot f = meridianNearest(x, y, l.z() * sigma, rho, ERBoundedSurface::getBoundV(),
                                         R < 0.0 ? -1 : 1, [&](double A, double z, double& s) {
                                           s = std::clamp(z, h0, h1);
                                           return (A - R) * (A - R) + (z - s) * (z - s);
                                         });
  if (!(f.d2 <= DBL_MAX)) return kNaNd;
  single = !(rho <= 1e-12 * std::fabs(R)) || R == 0.0;
  uv = ERPoint2D(f.s / sigma, f.theta);
  return worldDistance(*this, f.d2, sigma);
}

double ERBoundedCone::nearest(const ERPoint3D& p, ERPoint2D& uv, int& single) const {
  single = 1;
  ERPoint3D l;
  const double t = tan_;
  if (!localPoint(*this, p, l) || !std::isfinite(t)) return kNaNd;
  const ERLimites U = ordered(ERBoundedSurface::getBoundU());
  const double reach = std::max(std::fabs(U.start()), std::fabs(U.end())) * std::sqrt(1.0 + t * t);
  const double sigma = meridianScale(l, reach);
  const double u0 = U.start() * sigma, u1 = U.end() * sigma, q = 1.0 / (t * t + 1.0);
  const int radialSign = t == 0.0 || (u0 * t >= 0.0 && u1 * t >= 0.0) ? 1
                         : (u0 * t <= 0.0 && u1 * t <= 0.0)           ? -1
                                                                      : 0;
  const double x = l.x() * sigma, y = l.y() * sigma, z = l.z() * sigma, rho = length2(x, y);
  // The generator of a half-plane is the line (s t, s): the foot at s = (A t + z) / (t^2 + 1).
  const MeridianFoot f = meridianNearest(x, y, z, rho, ERBoundedSurface::getBoundV(), radialSign,
                                         [&](double A, double h, double& s) {
                                           s = std::clamp((A * t + h) * q, u0, u1);
                                           return (A - s * t) * (A - s * t) + (h - s) * (h - s);
                                         });
  if (!(f.d2 <= DBL_MAX)) return kNaNd;
  single = !(rho <= 1e-12 * (std::fabs(z) + reach * sigma)) || f.s * t == 0.0;
  uv = ERPoint2D(f.s / sigma, f.theta);
  return worldDistance(*this, f.d2, sigma);
}

double ERBoundedSphere::nearest(const ERPoint3D& p, ERPoint2D& uv, int& single) const {
  single = 1;
  ERPoint3D l;
  if (!localPoint(*this, p, l) || !std::isfinite(radius_)) return kNaNd;
  const double sigma = meridianScale(l, std::fabs(radius_));
  const double R = radius_ * sigma;
  const ERLimites V = ERBoundedSurface::getBoundV();
  const int cs = cosSignOver(V);
  const double x = l.x() * sigma, y = l.y() * sigma, z = l.z() * sigma, rho = length2(x, y);
  // The meridian is the arc R (cos v, sin v): the window's angle nearest to the point's own.
  const MeridianFoot f = meridianNearest(
      x, y, z, rho, ERBoundedSurface::getBoundU(),
      R == 0.0  ? 1
      : R > 0.0 ? cs
                : -cs,
      [&](double A, double h, double& s) {
        bool own = false;
        s = nearestInWindow(R >= 0.0 ? std::atan2(h, A) : std::atan2(-h, -A), V, own);
        if (own) {  // on the ray from the centre through (A, h)
          const double e = length2(A, h) - std::fabs(R);
          return e * e;
        }
        double sn, c;
        qorv::sinCos(s, sn, c);
        return (A - R * c) * (A - R * c) + (h - R * sn) * (h - R * sn);
      });
  if (!(f.d2 <= DBL_MAX)) return kNaNd;
  const bool centre = x == 0.0 && y == 0.0 && z == 0.0;
  single = !centre && !(rho <= 1e-12 * std::fabs(R) && std::fabs(std::cos(f.s)) > 1e-12);
  uv = ERPoint2D(f.theta, f.s);
  return worldDistance(*this, f.d2, sigma);
}

double ERBoundedTorus::nearest(const ERPoint3D& p, ERPoint2D& uv, int& single) const {
  single = 1;
  ERPoint3D l;
  if (!localPoint(*this, p, l) || !std::isfinite(R_) || !std::isfinite(r_)) return kNaNd;
  const double sigma = meridianScale(l, std::max(std::fabs(R_), std::fabs(r_)));
  const double R = R_ * sigma, r = r_ * sigma;
  const ERLimites V = ERBoundedSurface::getBoundV();
  // R + r cos v keeps R's sign when the tube stays off the axis.
  const int radialSign = std::fabs(r) < std::fabs(R) ? (R > 0.0 ? 1 : -1) : 0;
  const double x = l.x() * sigma, y = l.y() * sigma, z = l.z() * sigma, rho = length2(x, y);
  // The meridian is the tube circle about (R, 0): its nearest point to the point's angle about it.
  const MeridianFoot f = meridianNearest(
      x, y, z, rho, ERBoundedSurface::getBoundU(), radialSign, [&](double A, double h, double& s) {
        const double a = A - R;
        bool own = false;
        s = nearestInWindow(r >= 0.0 ? std::atan2(h, a) : std::atan2(-h, -a), V, own);
        if (own) {  // on the ray from the tube's centre through (A, h)
          const double e = length2(a, h) - std::fabs(r);
          return e * e;
        }
        double sn, c;
        qorv::sinCos(s, sn, c);
        return (a - r * c) * (a - r * c) + (h - r * sn) * (h - r * sn);
      });
  if (!(f.d2 <= DBL_MAX)) return kNaNd;
  const double size = std::max(std::fabs(R), std::fabs(r));
  const bool axis = rho <= 1e-12 * std::fabs(R) && std::fabs(R + r * std::cos(f.s)) > 1e-12 * size;
  const bool core = length2(f.A - R, z) <= 1e-12 * std::fabs(r) && r != 0.0;
  single = !axis && !core;
  uv = ERPoint2D(f.theta, f.s);
  return worldDistance(*this, f.d2, sigma);
}

// The parameter maps of the moves above: u' = a u + b, v' = c v + d.
namespace {
ERTransfo2D diagonal(double a, double b, double c, double d) {
  return ERTransfo2D(a, 0, 0, c, b, d);
}
}  // namespace

ERTransfo2D ERBoundedPlane::parameterMapOfScale(double k) const { return diagonal(k, 0, k, 0); }
ERTransfo2D ERBoundedPlane::parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const {
  double k = 1.0;
  const int flip = mirrorsPlacement(T, forward, k);
  return diagonal(k, 0, flip ? -k : k, 0);
}
ERTransfo2D ERBoundedCylinder::parameterMapOfScale(double k) const {
  return diagonal(k, 0, 1, k < 0.0 ? kPi : 0.0);
}
ERTransfo2D ERBoundedCylinder::parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const {
  double k = 1.0;
  const int flip = mirrorsPlacement(T, forward, k);
  return diagonal(k, 0, flip ? -1 : 1, 0);
}
ERTransfo2D ERBoundedCone::parameterMapOfScale(double k) const { return diagonal(k, 0, 1, 0); }
ERTransfo2D ERBoundedCone::parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const {
  double k = 1.0;
  const int flip = mirrorsPlacement(T, forward, k);
  return diagonal(k, 0, flip ? -1 : 1, 0);
}
ERTransfo2D ERBoundedSphere::parameterMapOfScale(double k) const {
  return k < 0.0 ? diagonal(1, kPi, -1, 0) : ERTransfo2D();
}
ERTransfo2D ERBoundedSphere::parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const {
  double k = 1.0;
  const int flip = mirrorsPlacement(T, forward, k);
  return diagonal(flip ? -1 : 1, 0, 1, 0);
}
ERTransfo2D ERBoundedTorus::parameterMapOfScale(double k) const {
  return k < 0.0 ? diagonal(1, kPi, -1, 0) : ERTransfo2D();
}
ERTransfo2D ERBoundedTorus::parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const {
  double k = 1.0;
  const int flip = mirrorsPlacement(T, forward, k);
  return diagonal(flip ? -1 : 1, 0, 1, 0);
}

EREntity::DISTMINRES ERBoundedCylinder::SignedMinimalDistance(const ERPoint3D& p,
                                                              double& dist) const {
  return ERCylinder::SignedMinimalDistanceCylinder(p, ERInfLine3D(getNormale(), toWorld(kOrigin)),
                                                   radius_, dist);
}

EREntity::DISTMINRES ERBoundedCone::SignedMinimalDistance(const ERPoint3D& p, double& dist) const {
  return ERCone::SignedMinimalDistanceCone(p, apex(), direction(), alpha_, dist);
}

EREntity::DISTMINRES ERBoundedSphere::SignedMinimalDistance(const ERPoint3D& p,
                                                            double& dist) const {
  return ERSphere::SignedMinimalDistanceSphere(p, center(), radius_, dist);
}

EREntity::DISTMINRES ERBoundedTorus::SignedMinimalDistance(const ERPoint3D& p, double& dist) const {
  return ERTorus::SignedMinimalDistanceTorus(p, origin(), vect(), R_, r_, dist);
}

// Lengths of the iso-curves along u and along v.
double ERBoundedCylinder::upperEstimateInU() const { return std::fabs(ufin() - udeb()); }
double ERBoundedCylinder::upperEstimateInV() const {
  return std::fabs(radius_) * std::fabs(vfin() - vdeb());
}
double ERBoundedCone::upperEstimateInU() const {
  const double t = tan_;
  return std::fabs(ufin() - udeb()) * std::sqrt(1.0 + t * t);
}
double ERBoundedCone::upperEstimateInV() const {
  return std::max(std::fabs(udeb()), std::fabs(ufin())) * std::fabs(tan_) *
         std::fabs(vfin() - vdeb());
}
double ERBoundedSphere::upperEstimateInU() const {
  return std::fabs(radius_) * std::fabs(ufin() - udeb());
}
double ERBoundedSphere::upperEstimateInV() const {
  return std::fabs(radius_) * std::fabs(vfin() - vdeb());
}
double ERBoundedTorus::upperEstimateInU() const {
  return (std::fabs(R_) + std::fabs(r_)) * std::fabs(ufin() - udeb());
}
double ERBoundedTorus::upperEstimateInV() const {
  return std::fabs(r_) * std::fabs(vfin() - vdeb());
}

// Print forms.
void ERBoundedCylinder::printOn(std::ostream& os) const {
  os << "Cylindre :   Segment =";
  axe().printOn(os);
  os << '\n' << "         :   Radius  =" << radius_ << '\n';
  ERSurfaceBasedOnTransfo3D::printOn(os);
  ERBoundedSurface::printOn(os);
}

void ERBoundedCone::printOn(std::ostream& os) const {
  constexpr double kDeg = 57.29577951308232;
  os << "BoundedCone     :   Sommet     =" << apex() << '\n';
  os << "                :   Axe        =" << direction() << '\n';
  os << "                :  1/2Angle    =" << alpha_ * kDeg << '\n';
  os << "                :  H1          =" << udeb() << '\n';
  os << "                :  H2          =" << ufin() << '\n';
  os << "                :  AngleStart  =" << vdeb() * kDeg << '\n';
  os << "                :  AngleEnd    =" << vfin() * kDeg << '\n';
}

void ERBoundedSphere::printOn(std::ostream& os) const {
  ERSurfaceBasedOnTransfo3D::printOn(os);
  ERBoundedSurface::printOn(os);
  os << "\n Sphere : centre " << center() << " Rayon =" << radius_ << '\n';
}

void ERBoundedTorus::printOn(std::ostream& os) const {
  os << "Tore     : Radius        =" << R_ << '\n';
  os << "         : Small Radius  =" << r_ << '\n';
  ERSurfaceBasedOnTransfo3D::printOn(os);
  ERBoundedSurface::printOn(os);
}

// Stored images.
#define QORV_PLACED_SURFACE_IMAGE(Class, field, after)                            \
  void Class::saveGuts(ERFile& f) const {                                         \
    ERSurface::saveGuts(f);                                                       \
    getMatrix().saveGuts(f);                                                      \
    writeLimits(f, *this);                                                        \
    f.Write(field);                                                               \
  }                                                                               \
  void Class::restoreGuts(ERFile& f) {                                            \
    ERSurface::restoreGuts(f);                                                    \
    ERPmIsometrie3D T;                                                            \
    double l[8], x = 0.0;                                                         \
    if (!readPlacedRecord(f, false, T, l, &x, 1)) return;                         \
    setMatrix(T);                                                                 \
    setLimits({l[0], l[1]}, {l[2], l[3]}, {l[4], l[5]}, {l[6], l[7]});            \
    field = x;                                                                    \
    after;                                                                        \
  }                                                                               \
  std::uint32_t Class::binaryStoreSize() const {                                  \
    return ERSurface::binaryStoreSize() + getMatrix().binaryStoreSize() + 64 + 8; \
  }

QORV_PLACED_SURFACE_IMAGE(ERBoundedCylinder, radius_, (void)0)
QORV_PLACED_SURFACE_IMAGE(ERBoundedCone, alpha_, setAngleParts())
QORV_PLACED_SURFACE_IMAGE(ERBoundedSphere, radius_, (void)0)

void ERBoundedTorus::saveGuts(ERFile& f) const {
  ERSurface::saveGuts(f);
  f.Write(static_cast<long>(1));
  writeLimits(f, *this);
  getMatrix().saveGuts(f);
  f.Write(r_);
  f.Write(R_);
}

void ERBoundedTorus::restoreGuts(ERFile& f) {
  ERSurface::restoreGuts(f);
  long version = 0;
  if (!f.Read(version)) return;
  ERPmIsometrie3D T;
  double l[8], radii[2];
  if (!readPlacedRecord(f, true, T, l, radii, 2)) return;
  setMatrix(T);
  setLimits({l[0], l[1]}, {l[2], l[3]}, {l[4], l[5]}, {l[6], l[7]});
  r_ = radii[0], R_ = radii[1];
}

std::uint32_t ERBoundedTorus::binaryStoreSize() const {
  return ERSurface::binaryStoreSize() + 4 + 64 + getMatrix().binaryStoreSize() + 16;
}

// ---------------------------------------------------------------------------------------------
// The unbounded surfaces from the bounded ones.

ERPlane::ERPlane(const ERBoundedPlane& s) { rebuild(s.getNormale(), s.getMatrix().origine()); }

ERCylinder::ERCylinder(const ERBoundedCylinder& s) : radius_(s.radius()) {
  const ERVector3D z = s.getNormale();
  axis_ = ERInfLine3D(s.ufin() < s.udeb() ? -z : z, s.axe().getP1());
}

ERCone::ERCone(const ERBoundedCone& s)
    : alpha_(s.demiAngle()),
      apex_(s.apex()),
      dir_(s.ufin() < s.udeb() ? -s.direction() : s.direction()) {}

ERSphere::ERSphere(const ERBoundedSphere& s) : centre_(s.center()), radius_(s.radius()) {}

ERTorus::ERTorus(const ERBoundedTorus& s)
    : R_(s.radius()), r_(s.small_radius()), vect_(s.vect()), origin_(s.origin()) {}
