#include "qorv/curves/ellipses.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numbers>
#include <ostream>
#include <utility>

#include "qorv/curves/circles.h"
#include "qorv/curves/ellipse_math.h"
#include "qorv/measurement/sampling_lists.h"
#include "qorv/siblings/surface_kernel/ellipse.h"

using namespace qorv::siblings;

using namespace qorv;

QORV_DEFINE_CLASS(EREllipse2D);
QORV_DEFINE_CLASS(ERArcEllipse2D);

using QuickAlgebra::ERVec;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Determinant of an n x n matrix (row-major, n <= 5) by elimination with partial pivoting.
double determinant(double* m, int n) {
  double det = 1.0;
  for (int c = 0; c < n; ++c) {
    int piv = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(m[r * n + c]) > std::fabs(m[piv * n + c])) piv = r;
    if (m[piv * n + c] == 0.0) return 0.0;
    if (piv != c) {
      for (int k = 0; k < n; ++k) std::swap(m[c * n + k], m[piv * n + k]);
      det = -det;
    }
    det *= m[c * n + c];
    for (int r = c + 1; r < n; ++r) {
      const double f = m[r * n + c] / m[c * n + c];
      for (int k = c; k < n; ++k) m[r * n + k] -= f * m[c * n + k];
    }
  }
  return det;
}

// Centre, semi-axes and angle of the conic, false when it is no real ellipse.
bool conicToEllipse(double A, double B, double C, double D, double E, double F, ERPoint2D& centre,
                    double& a, double& b, double& angle) {
  const double det = 4.0 * A * C - B * B;
  if (!(det > 0.0) || !std::isfinite(det)) return false;
  const double x0 = (B * E - 2.0 * C * D) / det, y0 = (B * D - 2.0 * A * E) / det;
  const double f0 = F + (D * x0 + E * y0) / 2.0;  // the conic's value at its centre
  const double theta = 0.5 * std::atan2(B, A - C);
  const double c = std::cos(theta), s = std::sin(theta);
  const double l1 = A * c * c + B * c * s + C * s * s;  // along theta
  const double l2 = A * s * s - B * c * s + C * c * c;  // across
  const double a2 = -f0 / l1, b2 = -f0 / l2;
  if (!(a2 > 0.0 && b2 > 0.0 && std::isfinite(a2) && std::isfinite(b2))) return false;
  centre.set(x0, y0);
  if (a2 >= b2) {
    a = std::sqrt(a2), b = std::sqrt(b2), angle = theta;
  } else {
    a = std::sqrt(b2), b = std::sqrt(a2), angle = theta + kPi / 2.0;
  }
  return true;
}

// The parameters t in [lo, hi] (with their turns) where A cos t + B sin t = C, ascending.
void solveTrig(double A, double B, double C, double lo, double hi, ERVec<double>& params) {
  const double R = std::hypot(A, B);
  if (!(R > 0.0) || std::fabs(C) > R || !(lo <= hi)) return;
  const double phi = std::atan2(B, A), w = std::acos(std::clamp(C / R, -1.0, 1.0));
  const double found[2] = {phi - w, phi + w};
  const int n = w == 0.0 ? 1 : 2;
  double out[4];
  int m = 0;
  for (int i = 0; i < n; ++i) {
    double t = lo + std::fmod(std::fmod(found[i] - lo, kTwoPi) + kTwoPi, kTwoPi);
    for (; t <= hi && m < 4; t += kTwoPi) out[m++] = t;
  }
  for (int i = 1; i < m; ++i)  // a handful of roots: insertion sort
    for (int k = i; k > 0 && out[k] < out[k - 1]; --k) std::swap(out[k], out[k - 1]);
  for (int i = 0; i < m; ++i) params.append(out[i]);
}

}  // namespace

namespace qorv::detail {

EREllipse2D ellipseFromConjugates(const ERPoint2D& c, const ERVector2D& A, const ERVector2D& B) {
  // The parameter of a vertex: tan 2t = 2 A.B / (|A|^2 - |B|^2).
  const double t0 = 0.5 * std::atan2(2.0 * (A * B), A * A - B * B);
  const ERVector2D u = std::cos(t0) * A + std::sin(t0) * B;
  const ERVector2D v = std::cos(t0) * B - std::sin(t0) * A;
  const double a = u.norme(), b = v.norme();
  if (a >= b) return EREllipse2D(a, b, std::atan2(u.y(), u.x()), c);
  return EREllipse2D(b, a, std::atan2(v.y(), v.x()), c);
}

void appendTrigRoots(double A, double B, double C, double lo, double hi, ERVec<double>& params) {
  solveTrig(A, B, C, lo, hi, params);
}
}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
// EREllipse2D

EREllipse2D::EREllipse2D(const ERPoint2D& F1, const ERPoint2D& F2, double L)
    : f1_(F1), f2_(F2), L_(L) {
  const double d2 = distance2(F1, F2);
  if (d2 > L * L) L_ = std::sqrt(L * L + d2);
}

EREllipse2D::EREllipse2D(double a, double b, double angle, const ERPoint2D& centre) : L_(2.0 * a) {
  const double hi = std::fmax(a, b), lo = std::fmin(a, b);
  const double c = std::sqrt(hi * hi - lo * lo);
  const ERVector2D u(c * std::cos(angle), c * std::sin(angle));
  f1_ = centre - u;
  f2_ = centre + u;
}

EREllipse2D::EREllipse2D(double A, double B, double C, double D, double E, double F) {
  ERPoint2D centre;
  double a = 0, b = 0, angle = 0;
  if (conicToEllipse(A, B, C, D, E, F, centre, a, b, angle))
    *this = EREllipse2D(a, b, angle, centre);
}

EREllipse2D::EREllipse2D(const ERPoint2D& p1, const ERPoint2D& p2, const ERPoint2D& p3,
                         const ERPoint2D& p4, const ERPoint2D& p5) {
  const ERPoint2D p[5] = {p1, p2, p3, p4, p5};
  double mx = 0, my = 0;
  for (const ERPoint2D& q : p) mx += q.x() / 5, my += q.y() / 5;
  double spread = 0;
  for (const ERPoint2D& q : p) spread = std::fmax(spread, std::hypot(q.x() - mx, q.y() - my));
  if (!(spread > 0.0) || !std::isfinite(spread)) return;
  double rows[5][6];
  for (int i = 0; i < 5; ++i) {
    const double x = (p[i].x() - mx) / spread, y = (p[i].y() - my) / spread;
    const double r[6] = {x * x, x * y, y * y, x, y, 1.0};
    std::copy(r, r + 6, rows[i]);
  }
  double coef[6];
  for (int j = 0; j < 6; ++j) {
    double m[25];
    for (int i = 0; i < 5; ++i)
      for (int k = 0, c = 0; k < 6; ++k)
        if (k != j) m[i * 5 + c++] = rows[i][k];
    coef[j] = ((j & 1) ? -1.0 : 1.0) * determinant(m, 5);
  }
  ERPoint2D centre;
  double a = 0, b = 0, angle = 0;
  if (!conicToEllipse(coef[0], coef[1], coef[2], coef[3], coef[4], coef[5], centre, a, b, angle))
    return;
  *this = EREllipse2D(a * spread, b * spread, angle,
                      ERPoint2D(mx + centre.x() * spread, my + centre.y() * spread));
}

ERPoint2D EREllipse2D::center() const {
  return ERPoint2D((f1_.x() + f2_.x()) / 2.0, (f1_.y() + f2_.y()) / 2.0);
}

double EREllipse2D::getSmallAxe() const { return std::sqrt(L_ * L_ - distance2(f1_, f2_)); }

double EREllipse2D::getAngle() const {
  const ERVector2D d(f1_, f2_);
  const double n = d.norme();
  if (n == 0.0) return 0.0;
  const double a = std::acos(std::clamp(d.x() / n, -1.0, 1.0));
  return d.y() < 0.0 ? kTwoPi - a : a;
}

ERVector2D EREllipse2D::getBigAxisDirection() const {
  const ERVector2D d(f1_, f2_);
  return d.norme() == 0.0 ? ERVector2D(1.0, 0.0) : d.getnormalized();
}

ERVector2D EREllipse2D::getSmallAxisDirection() const {
  const ERVector2D d = getBigAxisDirection();
  return ERVector2D(-d.y(), d.x());
}

ERMinimax2D EREllipse2D::getBox() const {
  const ERPoint2D c = center();
  const double a = L_ / 2.0, b = getSmallAxe() / 2.0;
  return ERMinimax2D(c.x() - a, c.y() - b, c.x() + a, c.y() + b);
}

ERPoint2D EREllipse2D::pointAt(double t) const {
  const double phi = std::atan2(f2_.y() - f1_.y(), f2_.x() - f1_.x());
  const double a = L_ / 2.0, b = getSmallAxe() / 2.0, ct = std::cos(t), st = std::sin(t);
  const double cp = std::cos(phi), sp = std::sin(phi);
  const ERPoint2D m = center();
  return ERPoint2D(m.x() + a * ct * cp - b * st * sp, m.y() + a * ct * sp + b * st * cp);
}

ERPoint2D EREllipse2D::get_closest(const ERPoint2D& p) const {
  const double phi = getAngle(), c = std::cos(phi), s = std::sin(phi);
  double qx = p.x() * c + p.y() * s;
  const double qy = p.y() * c - p.x() * s;
  if (qx == -DBL_MAX) qx = DBL_MAX;
  const zrkEllipse2 e(getSmallAxe() / 2.0, L_ / 2.0);
  zrkCurvePointList2 list;
  int code = ZRK_NOT_COMPUTED;
  e.global_closest_point(giPoint2(qx, qy), list, code);
  if (!(code == ZRK_UNIQUE || code == ZRK_ON_CURVE || code == ZRK_SEVERAL) || list.empty())
    return ERPoint2D(0.0, 0.0);
  const giPoint2 r = list[0];
  return ERPoint2D(r.x * c - r.y * s, r.x * s + r.y * c);
}

ERPoint2D EREllipse2D::nearest(const ERPoint2D& p, double& t) const {
  const ERPoint2D m = center();
  const ERPoint2D q = get_closest(ERPoint2D(p.x() - m.x(), p.y() - m.y()));
  const ERVector2D X = getBigAxisDirection(), Y = getSmallAxisDirection();
  const ERVector2D v(q.x(), q.y());
  const double a = L_ / 2.0, b = getSmallAxe() / 2.0;
  t = std::atan2(b > 0.0 ? (v * Y) / b : 0.0, a > 0.0 ? (v * X) / a : 1.0);
  return ERPoint2D(m.x() + q.x(), m.y() + q.y());
}

EREntity::DISTMINRES EREllipse2D::SignedMinimalDistance(const ERPoint2D& p, double& d) const {
  double t = 0.0;
  const ERPoint2D q = nearest(p, t);
  d = distance(p, q);
  // Inside when the sum of the focal distances is below L.
  if (distance(p, f1_) + distance(p, f2_) < L_) d = -d;
  return DISTMIN_NORMAL;
}

void EREllipse2D::transformFrom(const ERTransfo2D& T) {
  T.TransFrom(f1_);
  T.TransFrom(f2_);
  L_ *= T.factHomo();
}

void EREllipse2D::transformTo(const ERTransfo2D& T) {
  T.TransTo(f1_);
  T.TransTo(f2_);
  L_ /= T.factHomo();
}

ERObject* EREllipse2D::getCopy() const { return new EREllipse2D(*this); }

void EREllipse2D::printOn(std::ostream& os) const {
  os << "Ellipse" << '\n'
     << "focus 1 " << f1_ << '\n'
     << "focus 2 " << f2_ << '\n'
     << "Big Axe " << L_ << '\n'
     << "Small Axe " << getSmallAxe() << '\n'
     << "Center  " << center() << '\n';
}

void EREllipse2D::saveGuts(ERFile& f) const {
  const double v[5] = {f1_.x(), f1_.y(), f2_.x(), f2_.y(), L_};
  qorv::detail::saveDoubles(f, v, 5);
}

void EREllipse2D::restoreGuts(ERFile& f) {
  double v[5];
  if (qorv::detail::restoreDoubles(f, v, 5)) f1_.set(v[0], v[1]), f2_.set(v[2], v[3]), L_ = v[4];
}

// ---------------------------------------------------------------------------------------------
// ERArcEllipse2D

double ERArcEllipse2D::central_to_param(double theta) const {
  return EllipseMath::central_to_param(theta, getBigAxe(), getSmallAxe());
}

double ERArcEllipse2D::param_to_central(double t) const {
  const double a = getBigAxe() / 2.0, b = getSmallAxe() / 2.0;
  const double c = std::atan2(b * std::sin(t), a * std::cos(t));
  return t + std::remainder(c - t, kTwoPi);  // same quadrant: the two differ by under pi/2
}

ERLimites ERArcEllipse2D::getBound() const {
  if (getBigAxe() == 0.0) return ERLimites(0.0, kTwoPi);
  const double t0 = central_to_param(udeb()), t1 = central_to_param(ufin());
  if (t1 > t0) return ERLimites(t0, t1);
  if (t1 == t0) return ERLimites(0.0, kTwoPi);
  return ERLimites(t1, t0);
}

ERInfoPoint2D ERArcEllipse2D::PtCur(double t) const {
  const double phi =
      std::atan2(EREllipse2D::getBigAxisDirection().y(), EREllipse2D::getBigAxisDirection().x());
  const double a = getBigAxe() / 2.0, b = getSmallAxe() / 2.0, ct = std::cos(t), st = std::sin(t);
  const double cp = std::cos(phi), sp = std::sin(phi);
  const ERVector2D d1(-a * st * cp - b * ct * sp, -a * st * sp + b * ct * cp);
  return ERInfoPoint2D(t, 1, pointAt(t), d1, ERVector2D(d1.y(), -d1.x()));
}

ERMinimax2D ERArcEllipse2D::getBox() const {
  const ERLimites r = getBound();
  return qorv::detail::conicBox<ERMinimax2D>(center(), getBigAxe() / 2.0 * getBigAxisDirection(),
                                             getSmallAxe() / 2.0 * getSmallAxisDirection(),
                                             r.start(), r.end());
}

double ERArcEllipse2D::arcLength(const ERLimites& range, double) const {
  return EllipseMath::arcLength(getBigAxe() / 2.0, getSmallAxe() / 2.0, range.start(), range.end());
}

double ERArcEllipse2D::arcLength(double tol) const { return arcLength(getBound(), tol); }

int ERArcEllipse2D::splitAt(t_SmartPtr<ERFiniteEntity2DWF>& first,
                            t_SmartPtr<ERFiniteEntity2DWF>& second, double t) const {
  const ERLimites r = getBound();
  const double c = param_to_central(t);
  first = new ERArcEllipse2D(ellipse(), param_to_central(r.start()), c);
  second = new ERArcEllipse2D(ellipse(), c, param_to_central(r.end()));
  return 1;
}

int ERArcEllipse2D::intersectWithAxeY(double x, ERVec<double>& params) const {
  const ERLimites r = getBound();
  const ERVector2D X = getBigAxisDirection(), Y = getSmallAxisDirection();
  solveTrig(getBigAxe() / 2.0 * X.x(), getSmallAxe() / 2.0 * Y.x(), x - center().x(), r.start(),
            r.end(), params);
  return params.length();
}

EREntity::DISTMINRES ERArcEllipse2D::SignedMinimalDistance(const ERPoint2D& p, double& d,
                                                           double& u) const {
  const ERLimites r = getBound();
  double t = 0.0;
  const ERPoint2D q = nearest(p, t);
  const double sign = EREllipse2D::SignedMinimalDistance(p, d) == DISTMIN_NORMAL && d < 0 ? -1 : 1;
  if (qorv::detail::angleInRange(t, r.start(), r.end())) {
    u = r.start() + std::fmod(std::fmod(t - r.start(), kTwoPi) + kTwoPi, kTwoPi);
    if (u > r.end()) u = r.end();
    d = sign * distance(p, q);
    return DISTMIN_NORMAL;
  }
  const double d0 = distance(p, pointAt(r.start())), d1 = distance(p, pointAt(r.end()));
  u = d0 <= d1 ? r.start() : r.end();
  d = sign * std::fmin(d0, d1);
  return DISTMIN_END_POINT;
}

EREntity::DISTMINRES ERArcEllipse2D::SignedMinimalDistance(const ERPoint2D& p, double& d) const {
  double u = 0.0;
  return SignedMinimalDistance(p, d, u);
}

ERObject* ERArcEllipse2D::getCopy() const { return new ERArcEllipse2D(*this); }

void ERArcEllipse2D::printOn(std::ostream& os) const {
  EREllipse2D::printOn(os);
  ERFiniteEntity2DWFBoundedWithAngle::printOn(os);
}

void ERArcEllipse2D::saveGuts(ERFile& f) const {
  EREllipse2D::saveGuts(f);
  ERFiniteEntity2DWFBoundedWithAngle::saveGuts(f);
}

void ERArcEllipse2D::restoreGuts(ERFile& f) {
  double v[7];
  if (!qorv::detail::restoreDoubles(f, v, 7)) return;
  setFoci(ERPoint2D(v[0], v[1]), ERPoint2D(v[2], v[3]), v[4]);
  setLimites(v[5], v[6]);
}

void ERArcEllipse2D::prepareApprox(ERPoint12List& list, const ERLimites& range, double) const {
  const double a = range.start(), b = range.end();
  list.append(pointAt(a), a);
  const double quarters = std::fabs(b - a) / (kPi / 2.0);
  const int n = quarters <= 64.0 ? static_cast<int>(quarters) : (quarters > 64.0 ? 64 : 0);
  for (int i = 1; i <= n; ++i) {
    const double t = a + (b - a) * i / (n + 1);
    list.append(pointAt(t), t);
  }
  list.append(pointAt(b), b);
}
