#include "qorv/surfaces/analytic_surfaces.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>

#include "qorv/foundation/numerics.h"
#include "qorv/persistence/file.h"

using namespace qorv;

QORV_DEFINE_CLASS(ERPlane);
QORV_DEFINE_CLASS(ERCylinder);
QORV_DEFINE_CLASS(ERSphere);
QORV_DEFINE_CLASS(ERCone);
QORV_DEFINE_CLASS(ERTorus);

namespace {
using qorv::detail::length2;

using qorv::detail::finite;

// a - b, halved first when the plain difference overflows (the direction is what counts).
ERVector3D difference(const ERPoint3D& a, const ERPoint3D& b) {
  ERVector3D w = a - b;
  if (!finite(ERPoint3D(w))) w = ERPoint3D(a * 0.5) - ERPoint3D(b * 0.5);
  return w;
}

double dot(const ERVector3D& n, const ERPoint3D& p) { return n * ERVector3D(p); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// ERPlane

ERPlane::ERPlane(double a, double b, double c, double d) : a_(a), b_(b), c_(c), d_(d) {
  const double m = ERVector3D(a, b, c).norme();
  if (m > 0.0 && std::isfinite(m)) a_ /= m, b_ /= m, c_ /= m, d_ /= m;
}

ERPlane::ERPlane(const ERPoint3D& p, const ERVector3D& n) { rebuild(n, p); }

ERPlane::ERPlane(const ERPoint3D& p, const ERVector3D& v1, const ERVector3D& v2) {
  rebuild(v1.getnormalized() ^ v2.getnormalized(), p);
}

ERPlane::ERPlane(const ERPmIsometrie3D& frame, Coord3D axis) {
  ERVector3D u(0.0, 0.0, 0.0);
  u.data()[static_cast<int>(axis)] = 1.0;
  rebuild(frame >> u, frame >> ERPoint3D(0.0, 0.0, 0.0));
}

void ERPlane::rebuild(ERVector3D n, const ERPoint3D& p) {
  n.normalize();
  a_ = n.x(), b_ = n.y(), c_ = n.z();
  d_ = -dot(n, p);
}

bool ERPlane::projectable() const {
  const double m = normalVector().norme();
  return m > 1e-11 && std::isfinite(m) && std::isfinite(d_);
}

double ERPlane::distancePt(const ERPoint3D& p) const { return dot(normalVector(), p) + d_; }

ERPoint3D ERPlane::origine() const { return ERPoint3D(normalVector() * -d_); }

ERPmIsometrie3D ERPlane::getTransfo() const { return ERChgRepere3D(normalVector(), origine()); }

ERPlane ERPlane::getOffset(double e) const { return ERPlane(Raw{}, a_, b_, c_, d_ - e); }

ERPoint3D ERPlane::project(const ERPoint3D& p) const {
  if (!projectable()) return p;
  const ERVector3D n = normalVector();
  return p - n * (distancePt(p) / n.norme2());
}

ERVector3D ERPlane::project(const ERVector3D& v) const {
  const ERVector3D n = normalVector();
  return n ^ (v ^ n);
}

ERInfLine3D ERPlane::project(const ERInfLine3D& line) const {
  return ERInfLine3D(project(line.dirVector()), project(line.origine()));
}

int ERPlane::is_perpendicular(const ERInfLine3D& line, double tol) const {
  return isParallel(normalVector(), line.dirVector(), tol);
}

bool ERPlane::operator==(const ERPlane& o) const {
  return std::fabs(a_ - o.a_) <= 1e-11 && std::fabs(b_ - o.b_) <= 1e-11 &&
         std::fabs(c_ - o.c_) <= 1e-11 && std::fabs(d_ - o.d_) <= 1e-11;
}

EREntity::DISTMINRES ERPlane::SignedMinimalDistancePlane(const ERPoint3D& p, const ERVector3D&,
                                                         double a, double b, double c, double d,
                                                         double& dist) {
  dist = a * p.x() + b * p.y() + c * p.z() + d;
  return DISTMIN_NORMAL;
}

EREntity::DISTMINRES ERPlane::SignedMinimalDistance(const ERPoint3D& p, double& dist) const {
  return SignedMinimalDistancePlane(p, ERVector3D(), a_, b_, c_, d_, dist);
}

void ERPlane::SignedDistances(const double* xyz, std::size_t n, double* out) const {
  for (std::size_t i = 0; i < n; ++i, xyz += 3)
    out[i] = a_ * xyz[0] + b_ * xyz[1] + c_ * xyz[2] + d_;
}

int ERPlane::ProjectionNormale(const ERPoint3D& p, ERPoint3D& foot, ERVector3D& normal) const {
  if (!projectable() || !finite(p)) return 0;
  foot = project(p);
  normal = normalVector().getnormalized();
  return 1;
}

void ERPlane::translate(const ERPoint3D& t) { d_ -= dot(normalVector(), t); }

void ERPlane::transformFrom(const ERPmSimilitude3D& T) {
  const ERPoint3D o = origine();
  rebuild(T >> normalVector(), T >> o);
}

void ERPlane::transformTo(const ERPmSimilitude3D& T) {
  const ERPoint3D o = origine();
  rebuild(T << normalVector(), T << o);
}

QORV_DEFINE_COPYABLE(ERPlane);

void ERPlane::printOn(std::ostream& os) const {
  const double m = normalVector().norme();
  if (!(m > 1e-11)) {
    os << "Plane : Indefini" << '\n';
    return;
  }
  os << "Plane (" << m << ")" << a_ / m << "," << b_ / m << "," << c_ / m << "," << d_ / m << '\n';
}

void ERPlane::saveGuts(ERFile& f) const {
  ERSurface::saveGuts(f);
  f.Write(a_), f.Write(b_), f.Write(c_), f.Write(d_);
}

void ERPlane::restoreGuts(ERFile& f) {
  ERSurface::restoreGuts(f);
  double v[4];
  if (!detail::restoreDoubles(f, v, 4)) return;
  a_ = v[0], b_ = v[1], c_ = v[2], d_ = v[3];
}

std::uint32_t ERPlane::binaryStoreSize() const { return ERSurface::binaryStoreSize() + 32; }

// ---------------------------------------------------------------------------------------------
// ERCylinder

namespace {

bool onAxis(const ERPoint3D& p, const ERPoint3D& a) {
  return std::fabs(p.x() - a.x()) <= 1e-11 && std::fabs(p.y() - a.y()) <= 1e-11 &&
         std::fabs(p.z() - a.z()) <= 1e-11;
}

bool usableAxis(const ERInfLine3D& axis) {
  const double m = axis.dirVector().norme();
  return m > 0.0 && std::isfinite(m) && finite(axis.origine());
}

}  // namespace

int ERCylinder::ProjectionNormaleCylinder(const ERPoint3D& p, const ERInfLine3D& axis,
                                          double radius, ERPoint3D& foot, ERVector3D& normal) {
  if (!finite(p) || !usableAxis(axis) || !std::isfinite(radius)) return 0;
  const ERPoint3D a = axis.projectPt(p);
  if (onAxis(p, a)) return 0;
  // Of the two crossings of the section circle with the line (A, P), the one on P's side. The
  // rounding of A leaves P - A a little along the axis, which matters near it: taken out, the
  // normal is square to the axis to the last bit.
  const ERVector3D d = axis.dirVector().getnormalized();
  ERVector3D w = difference(p, a);
  w = w - (w * d) * d;
  const ERVector3D u = w.normalize();
  if (!finite(ERPoint3D(u)) || u.norme2() == 0.0) return 0;
  foot = a + u * std::fabs(radius);
  normal = u;
  return 1;
}

EREntity::DISTMINRES ERCylinder::SignedMinimalDistanceCylinder(const ERPoint3D& p,
                                                               const ERInfLine3D& axis,
                                                               double radius, double& dist) {
  const ERPoint3D a = axis.projectPt(p);
  const double rho = (p - a).norme();
  dist = rho - radius;
  // Wherever the projection finds no foot, the nearest point is not unique either.
  return rho <= 1e-11 || onAxis(p, a) ? DISTMIN_DEGENERATE : DISTMIN_NORMAL;
}

void ERCylinder::SignedDistances(const double* xyz, std::size_t n, double* out) const {
  // The per-point formula (the axis foot, then the length), its elements read once.
  const double* o = axis_.origine().data();
  const double* d = axis_.dirVector().data();
  const auto general = [&](const double* q) {
    const double v[3] = {q[0] - o[0], q[1] - o[1], q[2] - o[2]};
    const double t = v[0] * d[0] + v[1] * d[1] + v[2] * d[2];
    const double e[3] = {q[0] - (o[0] + t * d[0]), q[1] - (o[1] + t * d[1]),
                         q[2] - (o[2] + t * d[2])};
    return detail::coordLength<3>(e) - radius_;
  };
  // The same operations on plain numbers, free of branches, a block of points at a time taken
  // apart into coordinates (the loop vectorises; the axis and radius copied so that the results
  // cannot alias them); where the square leaves the range the length takes unscaled, NaN marks
  // the point for the formula above.
  const double o0 = o[0], o1 = o[1], o2 = o[2], d0 = d[0], d1 = d[1], d2 = d[2], R = radius_;
  constexpr double kLow = 0x1p-968, kHigh = 0x1p968;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr std::size_t kBlock = 256;
  double x0[kBlock], x1[kBlock], x2[kBlock];
  for (std::size_t b = 0; b < n; b += kBlock) {
    const std::size_t len = std::min(kBlock, n - b);
    const double* q = xyz + 3 * b;
    for (std::size_t i = 0; i < len; ++i)
      x0[i] = q[3 * i], x1[i] = q[3 * i + 1], x2[i] = q[3 * i + 2];
    double* r = out + b;
    for (std::size_t i = 0; i < len; ++i) {
      const double t = (x0[i] - o0) * d0 + (x1[i] - o1) * d1 + (x2[i] - o2) * d2;
      const double e0 = x0[i] - (o0 + t * d0), e1 = x1[i] - (o1 + t * d1),
                   e2 = x2[i] - (o2 + t * d2);
      const double s = e0 * e0 + e1 * e1 + e2 * e2;
      r[i] = ((s >= kLow) & (s <= kHigh)) ? std::sqrt(s) - R : nan;
    }
  }
  for (std::size_t i = 0; i < n; ++i)
    if (std::isnan(out[i])) out[i] = general(xyz + 3 * i);
}

void ERCylinder::scale(double k) {
  CleanUpTemporaries(-1);
  axis_.scale(k);
  radius_ *= k;
}

void ERCylinder::translate(const ERPoint3D& t) {
  CleanUpTemporaries(-1);
  axis_.translate(t);
}

void ERCylinder::transformFrom(const ERPmSimilitude3D& T) {
  CleanUpTemporaries(-1);
  axis_ = ERInfLine3D(T >> axis_.dirVector(), T >> axis_.origine());
  radius_ *= std::fabs(T.getFactHomo());
}

void ERCylinder::transformTo(const ERPmSimilitude3D& T) {
  CleanUpTemporaries(-1);
  axis_ = ERInfLine3D(T << axis_.dirVector(), T << axis_.origine());
  radius_ /= std::fabs(T.getFactHomo());
}

QORV_DEFINE_COPYABLE(ERCylinder);

void ERCylinder::printOn(std::ostream& os) const {
  os << "Cylindre :   Segment =";
  axis_.printOn(os);
  os << '\n' << "         :   Radius  =" << radius_ << '\n';
}

void ERCylinder::saveGuts(ERFile& f) const {
  ERSurface::saveGuts(f);
  axis_.saveGuts(f);
  f.Write(radius_);
}

void ERCylinder::restoreGuts(ERFile& f) {
  ERSurface::restoreGuts(f);
  ERInfLine3D axis;
  axis.restoreGuts(f);
  double r;
  if (!f.Read(r)) return;  // a short record: the axis part was short too, or this one is
  axis_ = axis;
  radius_ = r;
}

std::uint32_t ERCylinder::binaryStoreSize() const {
  return ERSurface::binaryStoreSize() + axis_.binaryStoreSize() + 8;
}

// ---------------------------------------------------------------------------------------------
// ERSphere

int ERSphere::project(const ERPoint3D& p, ERPoint3D& foot) const {
  ERVector3D normal;
  return ProjectionNormaleSphere(p, centre_, radius_, foot, normal);
}

int ERSphere::ProjectionNormaleSphere(const ERPoint3D& p, const ERPoint3D& centre, double radius,
                                      ERPoint3D& foot, ERVector3D& normal) {
  if (!finite(p) || !finite(centre) || !std::isfinite(radius)) return 0;
  if (p.x() == centre.x() && p.y() == centre.y() && p.z() == centre.z()) return 0;
  const ERVector3D n = difference(p, centre).normalize();
  foot = centre + n * radius;
  normal = n;
  return 1;
}

EREntity::DISTMINRES ERSphere::SignedMinimalDistanceSphere(const ERPoint3D& p,
                                                           const ERPoint3D& centre, double radius,
                                                           double& dist) {
  const double r = (p - centre).norme();
  dist = r - radius;
  return r <= 1e-11 ? DISTMIN_DEGENERATE : DISTMIN_NORMAL;
}

void ERSphere::SignedDistances(const double* xyz, std::size_t n, double* out) const {
  for (std::size_t i = 0; i < n; ++i, xyz += 3)
    out[i] = (ERPoint3D(xyz[0], xyz[1], xyz[2]) - centre_).norme() - radius_;
}

void ERSphere::transformFrom(const ERPmSimilitude3D& T) {
  centre_ = T >> centre_;
  radius_ *= std::fabs(T.getFactHomo());
}

void ERSphere::transformTo(const ERPmSimilitude3D& T) {
  centre_ = T << centre_;
  radius_ /= std::fabs(T.getFactHomo());
}

QORV_DEFINE_COPYABLE(ERSphere);

void ERSphere::printOn(std::ostream& os) const {
  os << "\n Sphere : centre " << centre_ << " Rayon =" << radius_ << '\n';
}

void ERSphere::saveGuts(ERFile& f) const {
  ERSurface::saveGuts(f);
  centre_.saveGuts(f);
  f.Write(radius_);
}

void ERSphere::restoreGuts(ERFile& f) {
  ERSurface::restoreGuts(f);
  double v[4];
  if (!detail::restoreDoubles(f, v, 4)) return;
  centre_ = ERPoint3D(v[0], v[1], v[2]);
  radius_ = v[3];
}

std::uint32_t ERSphere::binaryStoreSize() const { return ERSurface::binaryStoreSize() + 32; }

// ---------------------------------------------------------------------------------------------
// Surfaces of revolution: the cone and the torus work in P's meridian half-plane.

namespace {

// P - o split along the unit axis d: w = h d + rho e with rho >= 0 and e unit (zero on the
// axis). When P - o overflows, the halved operands are used and k = 2: w, h and rho are then
// half the true lengths.
struct Meridian {
  ERVector3D w, d, e;
  double h, rho, k;
};

// A direction already unit to rounding is taken as it is.
ERVector3D unitAxis(const ERVector3D& axis) {
  return std::fabs(axis.norme2() - 1.0) <= 4e-16 ? axis : axis.getnormalized();
}

// P - o along the unit axis d: w, h and the part e perpendicular to d (not yet unit) with its
// length rho; halved (k = 2) where P - o overflows.
void splitAlong(const ERPoint3D& p, const ERPoint3D& o, Meridian& m) {
  m.k = 1.0;
  m.w = p - o;
  if (!finite(ERPoint3D(m.w))) m.w = ERPoint3D(p * 0.5) - ERPoint3D(o * 0.5), m.k = 2.0;
  m.h = m.w * m.d;
  // Perpendicular to d to the last bit, however near the axis P is; all of w without an axis.
  m.e = m.d.norme2() > 0.0 ? (m.d ^ m.w) ^ m.d : m.w;
  m.rho = m.e.norme();
}

Meridian meridianOf(const ERPoint3D& p, const ERPoint3D& o, const ERVector3D& axis) {
  Meridian m;
  m.d = unitAxis(axis);
  splitAlong(p, o, m);
  if (m.rho >= 0x1p-480 && m.rho <= 0x1p480)
    m.e *= 1.0 / m.rho;
  else
    m.e.normalize();
  return m;
}

// P - o within 1e-11 rad of the axis, on either side (the apex or centre itself included):
// atan2(rho, |h|) <= 1e-11.
bool alongAxis(const Meridian& m) { return m.rho <= 1e-11 * std::fabs(m.h); }

bool usableAxis(const ERVector3D& v) {
  const double n = v.norme();
  return n > 0.0 && std::isfinite(n);
}

// The acute angle the generator lines make with the axis (both nappes count, so a, -a and
// pi - a describe one surface), with its cosine and sine; the last one is kept per thread, a
// cone being asked many points in a row.
struct HalfAngle {
  double alpha, c, s;
};

const HalfAngle& halfAngleOf(double alpha) {
  thread_local HalfAngle last{std::nan(""), 1.0, 0.0};
  if (alpha == last.alpha) return last;
  double a = alpha;
  if (!(a >= 0.0 && a <= 0.5 * M_PI)) {
    a = std::fmod(std::fabs(alpha), M_PI);
    if (a > 0.5 * M_PI) a = M_PI - a;
  }
  last = {alpha, std::cos(a), std::sin(a)};
  return last;
}

// The tube circle of P's meridian plane nearer to P: its centre at c e (c = +-R/k) and P's
// offset (x e + y d) from it, of length len.
struct Tube {
  double c, x, y, len;
  bool tie;
};

Tube nearestTube(const Meridian& m, double R, double r) {
  const double Rk = R / m.k, rk = r / m.k;
  const double near = length2(m.rho - Rk, m.h), far = length2(m.rho + Rk, m.h);
  const double en = std::fabs(near - rk), ef = std::fabs(far - rk);
  if (ef < en) return {-Rk, m.rho + Rk, m.h, far, false};
  return {Rk, m.rho - Rk, m.h, near, ef == en};
}

// Perpendicular to the axis within 1e-11 rad and |R - |P - origin|| <= 1e-11.
bool onCoreCircle(const Meridian& m, double R) {
  return std::fabs(m.h) <= 1e-11 * m.rho && std::fabs(R - m.k * length2(m.rho, m.h)) <= 1e-11;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ERCone

double ERCone::radius(double h) const { return std::tan(alpha_) * h; }

double ERCone::diameter(double h) const { return 2.0 * std::tan(alpha_) * h; }

ERCone ERCone::getOffset(double e) const {
  const double s = std::sin(alpha_);
  if (s == 0.0) return *this;
  ERCone c(*this);
  c.apex_ = apex_ - dir_ * (e / s);
  return c;
}

int ERCone::project(const ERPoint3D&, ERPoint3D&, ERPoint3D&, double&, double&, double&) const {
  return 1;
}

int ERCone::ProjectionNormaleCone(const ERVector3D& dir, const ERPoint3D& apex, double alpha,
                                  const ERPoint3D& p, ERPoint3D& foot, ERVector3D& normal) {
  if (!finite(p) || !finite(apex) || !usableAxis(dir) || !std::isfinite(alpha)) return 0;
  Meridian m = meridianOf(p, apex, dir);
  if (alongAxis(m) || m.rho == 0.0) return 0;
  if (m.h < 0.0) m.d = -m.d, m.h = -m.h;  // the nappe on P's side
  const HalfAngle& a = halfAngleOf(alpha);
  const double ca = a.c, sa = a.s;
  // The generator of P's half-plane, and P's foot on it (never behind the apex).
  const ERVector3D g = m.d * ca + m.e * sa;
  const ERVector3D step = g * (m.h * ca + m.rho * sa);
  foot = m.k == 1.0 ? apex + step : apex + step + step;
  normal = (m.d * sa - m.e * ca).normalize();
  return 1;
}

EREntity::DISTMINRES ERCone::SignedMinimalDistanceCone(const ERPoint3D& p, const ERPoint3D& apex,
                                                       const ERVector3D& dir, double alpha,
                                                       double& dist) {
  const Meridian m = meridianOf(p, apex, dir);
  const HalfAngle& a = halfAngleOf(alpha);
  dist = m.k * (m.rho * a.c - std::fabs(m.h) * a.s);
  return DISTMIN_NORMAL;
}

void ERCone::SignedDistances(const double* xyz, std::size_t n, double* out) const {
  Meridian m;
  m.d = unitAxis(dir_);
  const HalfAngle a = halfAngleOf(alpha_);
  for (std::size_t i = 0; i < n; ++i, xyz += 3) {
    splitAlong(ERPoint3D(xyz[0], xyz[1], xyz[2]), apex_, m);
    out[i] = m.k * (m.rho * a.c - std::fabs(m.h) * a.s);
  }
}

void ERCone::transformFrom(const ERPmSimilitude3D& T) {
  apex_ = T >> apex_;
  dir_ = (T >> dir_).normalize();
}

void ERCone::transformTo(const ERPmSimilitude3D& T) {
  apex_ = T << apex_;
  dir_ = (T << dir_).normalize();
}

QORV_DEFINE_COPYABLE(ERCone);

void ERCone::printOn(std::ostream& os) const {
  os << "Cone     :   Sommet     =" << apex_ << '\n';
  os << "         :   Axe        =" << dir_ << '\n';
  os << "         :  1/2Angle    =" << alpha_ * 57.29577951308232 << '\n';
}

void ERCone::saveGuts(ERFile& f) const {
  ERSurface::saveGuts(f);
  dir_.saveGuts(f);
  apex_.saveGuts(f);
  f.Write(alpha_);
}

void ERCone::restoreGuts(ERFile& f) {
  ERSurface::restoreGuts(f);
  double v[7];
  if (!detail::restoreDoubles(f, v, 7)) return;
  dir_ = ERVector3D(v[0], v[1], v[2]);
  apex_ = ERPoint3D(v[3], v[4], v[5]);
  alpha_ = v[6];
}

std::uint32_t ERCone::binaryStoreSize() const { return ERSurface::binaryStoreSize() + 56; }

// ---------------------------------------------------------------------------------------------
// ERTorus

int ERTorus::ProjectionNormalTorus(const ERPoint3D& centre, const ERVector3D& vect, double R,
                                   double r, const ERPoint3D& p, ERPoint3D& foot,
                                   ERVector3D& normal) {
  if (!finite(p) || !finite(centre) || !usableAxis(vect) || !std::isfinite(R) || !std::isfinite(r))
    return 0;
  const Meridian m = meridianOf(p, centre, vect);
  if (alongAxis(m) || m.rho == 0.0 || onCoreCircle(m, R)) return 0;
  const Tube t = nearestTube(m, R, r);
  if (!(t.len > 0.0) || !std::isfinite(t.len)) return 0;
  const double nx = t.x / t.len, ny = t.y / t.len, rk = r / m.k;
  const ERVector3D local = m.e * (t.c + rk * nx) + m.d * (rk * ny);
  foot = m.k == 1.0 ? centre + local : centre + local + local;
  normal = (m.e * nx + m.d * ny).normalize();
  return 1;
}

EREntity::DISTMINRES ERTorus::SignedMinimalDistanceTorus(const ERPoint3D& p,
                                                         const ERPoint3D& centre,
                                                         const ERVector3D& vect, double R, double r,
                                                         double& dist) {
  const Meridian m = meridianOf(p, centre, vect);
  if (!usableAxis(vect)) {  // no axis: every point is on it
    dist = m.k * length2(m.w.norme(), R / m.k) - r;
    return DISTMIN_DEGENERATE;
  }
  const Tube t = nearestTube(m, R, r);
  dist = m.k * t.len - r;
  const bool onAxis = m.k * m.rho <= 1e-11 || alongAxis(m);
  return onAxis || t.tie || onCoreCircle(m, R) ? DISTMIN_DEGENERATE : DISTMIN_NORMAL;
}

void ERTorus::SignedDistances(const double* xyz, std::size_t n, double* out) const {
  if (!usableAxis(vect_)) {
    ERSurface::SignedDistances(xyz, n, out);
    return;
  }
  Meridian m;
  m.d = unitAxis(vect_);
  // A ring torus (0 <= r < R): the tube circle on P's side is always the nearer one, by 2 (R - r)
  // at least; with r <= 0.9 R no rounding can make the other one look nearer.
  const bool ring = 0.0 <= r_ && r_ <= 0.9 * R_ && std::isfinite(R_);
  auto general = [&](const double* q) {
    splitAlong(ERPoint3D(q[0], q[1], q[2]), origin_, m);
    return ring && m.k == 1.0 ? length2(m.rho - R_, m.h) - r_
                              : m.k * nearestTube(m, R_, r_).len - r_;
  };
  if (!ring) {
    for (std::size_t i = 0; i < n; ++i) out[i] = general(xyz + 3 * i);
    return;
  }
  // The same operations as splitAlong and length2, on plain numbers and free of branches, a
  // block of points at a time taken apart into coordinates (the loop vectorises); where a
  // square leaves the range they take unscaled (an overflow, a point on the axis or the core
  // circle, a coordinate not finite), NaN marks the point for the general path.
  const double d0 = m.d.x(), d1 = m.d.y(), d2 = m.d.z();
  const double o0 = origin_.x(), o1 = origin_.y(), o2 = origin_.z(), R = R_, r = r_;
  constexpr double kLow = 0x1p-968, kHigh = 0x1p968;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr std::size_t kBlock = 256;
  double w0[kBlock], w1[kBlock], w2[kBlock];
  for (std::size_t b = 0; b < n; b += kBlock) {
    const std::size_t len = std::min(kBlock, n - b);
    const double* q = xyz + 3 * b;
    for (std::size_t i = 0; i < len; ++i)
      w0[i] = q[3 * i] - o0, w1[i] = q[3 * i + 1] - o1, w2[i] = q[3 * i + 2] - o2;
    double* d = out + b;
    for (std::size_t i = 0; i < len; ++i) {
      const double h = w0[i] * d0 + w1[i] * d1 + w2[i] * d2;
      const double c0 = d1 * w2[i] - d2 * w1[i], c1 = d2 * w0[i] - d0 * w2[i],
                   c2 = d0 * w1[i] - d1 * w0[i];
      const double e0 = c1 * d2 - c2 * d1, e1 = c2 * d0 - c0 * d2, e2 = c0 * d1 - c1 * d0;
      const double s = e0 * e0 + e1 * e1 + e2 * e2;
      const double rho = std::sqrt(s), a = rho - R;
      const double t = a * a + h * h;
      const bool ok = (s >= kLow) & (s <= kHigh) & (t >= kLow) & (t <= kHigh);
      d[i] = ok ? std::sqrt(t) - r : nan;
    }
  }
  for (std::size_t i = 0; i < n; ++i)
    if (std::isnan(out[i])) out[i] = general(xyz + 3 * i);
}

void ERTorus::scale(double k) {
  CleanUpTemporaries(-1);
  R_ *= k, r_ *= k;
  origin_ *= k;
}

void ERTorus::translate(const ERPoint3D& t) {
  CleanUpTemporaries(-1);
  origin_ += t;
}

void ERTorus::transformFrom(const ERPmSimilitude3D& T) {
  CleanUpTemporaries(-1);
  origin_ = T >> origin_;
  vect_ = T >> vect_;
  const double k = std::fabs(T.getFactHomo());
  R_ *= k, r_ *= k;
}

void ERTorus::transformTo(const ERPmSimilitude3D& T) {
  CleanUpTemporaries(-1);
  origin_ = T << origin_;
  vect_ = T << vect_;
  const double k = std::fabs(T.getFactHomo());
  R_ /= k, r_ /= k;
}

QORV_DEFINE_COPYABLE(ERTorus);

void ERTorus::printOn(std::ostream& os) const {
  os << "Tore :   Vector       =" << vect_ << '\n';
  os << "     :   Origin       =" << origin_ << '\n';
  os << "     :   Radius       =" << R_ << '\n';
  os << "     :   Small Radius =" << r_ << '\n';
}

void ERTorus::saveGuts(ERFile& f) const {
  ERSurface::saveGuts(f);
  vect_.saveGuts(f);
  origin_.saveGuts(f);
  f.Write(r_);
  f.Write(R_);
}

void ERTorus::restoreGuts(ERFile& f) {
  ERSurface::restoreGuts(f);
  double v[8];
  if (!detail::restoreDoubles(f, v, 8)) return;
  vect_ = ERVector3D(v[0], v[1], v[2]);
  origin_ = ERPoint3D(v[3], v[4], v[5]);
  r_ = v[6];
  R_ = v[7];
}

std::uint32_t ERTorus::binaryStoreSize() const { return ERSurface::binaryStoreSize() + 64; }
