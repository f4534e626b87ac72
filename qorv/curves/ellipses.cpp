#include "qorv/curves/ellipses.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numbers>
#include <ostream>
#include <utility>

#include "qorv/curves/circles.h"
#include "qorv/curves/ellipse_math.h"
#include "qorv/foundation/numerics.h"
#include "qorv/measurement/sampling_lists.h"
#include "qorv/siblings/surface_kernel/ellipse.h"

using namespace qorv::siblings;

using namespace qorv;

QORV_DEFINE_CLASS(EREllipse2D);
QORV_DEFINE_CLASS(ERArcEllipse2D);

using QuickAlgebra::ERVec;

namespace {

using qorv::detail::kPi;
using qorv::detail::kTwoPi;

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

// Sum of products carried in twice the working precision (error-free products by fma, error-
// free sums): the value of a conic at its centre, where the terms cancel to a small remainder.
class CompensatedSum {
 public:
  void add(double v) {
    const double s = hi_ + v, b = s - hi_;
    lo_ += (hi_ - (s - b)) + (v - b);
    hi_ = s;
  }
  // a * b exactly, as hi + lo.
  void addProduct(double a, double b) {
    const double h = a * b;
    add(h);
    lo_ += std::fma(a, b, -h);
  }
  // a * b * c to about twice the precision.
  void addProduct(double a, double b, double c) {
    const double h = a * b, l = std::fma(a, b, -h);
    addProduct(h, c);
    lo_ += l * c;
  }
  double value() const { return hi_ + lo_; }

 private:
  double hi_ = 0.0, lo_ = 0.0;
};

// Centre, semi-axes and angle of the conic, false when it is no real ellipse. The coefficients
// are scaled by a power of two (exact) so that 4AC - B^2 neither overflows nor underflows; the
// conic's value at the centre is evaluated, not derived, because it is stationary there: the
// centre's own rounding error does not reach it.
bool conicToEllipse(double A, double B, double C, double D, double E, double F, ERPoint2D& centre,
                    double& a, double& b, double& angle) {
  const double m = std::max(
      {std::fabs(A), std::fabs(B), std::fabs(C), std::fabs(D), std::fabs(E), std::fabs(F)});
  if (!(m > 0.0) || !std::isfinite(m)) return false;
  // The quadratic part sets the scale: the centre and axes depend on ratios only.
  const double q = std::max({std::fabs(A), std::fabs(B), std::fabs(C)});
  if (!(q > 0.0)) return false;
  const int e = std::ilogb(q);
  A = std::scalbn(A, -e), B = std::scalbn(B, -e), C = std::scalbn(C, -e);
  D = std::scalbn(D, -e), E = std::scalbn(E, -e), F = std::scalbn(F, -e);
  const double det = 4.0 * A * C - B * B;
  if (!(det > 0.0) || !std::isfinite(det)) return false;
  double x0 = (B * E - 2.0 * C * D) / det, y0 = (B * D - 2.0 * A * E) / det;
  if (!std::isfinite(x0) || !std::isfinite(y0)) return false;
  // One step of refinement on the gradient 2A x + B y + D = 0, B x + 2C y + E = 0.
  for (int i = 0; i < 2; ++i) {
    CompensatedSum g1, g2;
    g1.addProduct(2.0 * A, x0), g1.addProduct(B, y0), g1.add(D);
    g2.addProduct(B, x0), g2.addProduct(2.0 * C, y0), g2.add(E);
    const double r1 = g1.value(), r2 = g2.value();
    x0 -= (2.0 * C * r1 - B * r2) / det;
    y0 -= (2.0 * A * r2 - B * r1) / det;
  }
  CompensatedSum value;
  value.addProduct(A, x0, x0), value.addProduct(B, x0, y0), value.addProduct(C, y0, y0);
  value.addProduct(D, x0), value.addProduct(E, y0), value.add(F);
  const double f0 = value.value();
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

// The parameters t in [lo, hi] (with their turns) where A cos t + B sin t = C, ascending. The
// half-opening w comes from atan2 of sqrt((R - C)(R + C)) and C: exact near a tangency, where
// acos(C / R) is not.
void solveTrig(double A, double B, double C, double lo, double hi, ERVec<double>& params) {
  const double R = std::hypot(A, B);
  if (!(R > 0.0) || !(std::fabs(C) <= R) || !(lo <= hi)) return;
  const double phi = std::atan2(B, A);
  const double w = std::atan2(std::sqrt((R - C) * (R + C)), C);
  const double found[2] = {phi - w, phi + w};
  const int n = w == 0.0 ? 1 : 2;
  double out[8];
  int m = 0;
  for (int i = 0; i < n; ++i) m += qorv::detail::windowAngles(found[i], lo, hi, out + m, 4);
  for (int i = 1; i < m; ++i)  // a handful of roots: insertion sort
    for (int k = i; k > 0 && out[k] < out[k - 1]; --k) std::swap(out[k], out[k - 1]);
  for (int i = 0; i < m; ++i)
    if (i == 0 || out[i] != out[i - 1]) params.append(out[i]);
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
  const double d = distance(F1, F2);
  if (d > std::fabs(L)) L_ = std::hypot(L, d);
}

EREllipse2D::EREllipse2D(double a, double b, double angle, const ERPoint2D& centre) : L_(2.0 * a) {
  if (a >= 0.0 && b > a) {  // the major axis is the one across angle
    L_ = 2.0 * b;
    angle += kPi / 2.0;
    std::swap(a, b);
  }
  const double hi = std::fmax(a, b), lo = std::fmin(a, b);
  const double c = std::sqrt((hi - lo) * (hi + lo));
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
  // Points on one line carry no ellipse: the smaller principal spread of the centred points
  // against the larger.
  double sxx = 0, sxy = 0, syy = 0;
  for (const ERPoint2D& q : p) {
    const double x = (q.x() - mx) / spread, y = (q.y() - my) / spread;
    sxx += x * x, sxy += x * y, syy += y * y;
  }
  const double half = 0.5 * (sxx + syy), root = std::hypot(0.5 * (sxx - syy), sxy);
  const double big = half + root, small = (sxx * syy - sxy * sxy) / big;
  if (!(small > 1e-20 * big)) return;  // spread ratio below 1e-10
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
  const EREllipse2D found(a * spread, b * spread, angle,
                          ERPoint2D(mx + centre.x() * spread, my + centre.y() * spread));
  // A conic through the points that is no ellipse through them (a nearly degenerate system
  // solved into noise) is refused.
  for (const ERPoint2D& q : p) {
    double d = 0.0;
    found.SignedMinimalDistance(q, d);
    if (!(std::fabs(d) <= 1e-7 * found.getBigAxe())) return;
  }
  *this = found;
}

ERPoint2D EREllipse2D::center() const {
  return ERPoint2D((f1_.x() + f2_.x()) / 2.0, (f1_.y() + f2_.y()) / 2.0);
}

// sqrt(L^2 - |F1F2|^2), factored so that neither square leaves the doubles.
double EREllipse2D::getSmallAxe() const {
  const double d = distance(f1_, f2_);
  return std::sqrt((L_ - d) * (L_ + d));
}

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

int EREllipse2D::isValid() const {
  return std::isfinite(f1_.x()) && std::isfinite(f1_.y()) && std::isfinite(f2_.x()) &&
         std::isfinite(f2_.y()) && std::isfinite(L_) && L_ > 0.0 && L_ >= distance(f1_, f2_);
}

// The extent of C + a cos t X + b sin t Y along each axis: hypot of the two semi-axes' parts.
ERMinimax2D EREllipse2D::getBox() const {
  const ERPoint2D c = center();
  const double a = L_ / 2.0, b = getSmallAxe() / 2.0;
  const ERVector2D X = getBigAxisDirection();
  const double hx = std::hypot(a * X.x(), b * X.y()), hy = std::hypot(a * X.y(), b * X.x());
  return ERMinimax2D(c.x() - hx, c.y() - hy, c.x() + hx, c.y() + hy);
}

// The axes' frame is the foci's unit direction itself, not cos and sin of its angle: foci on a
// coordinate axis give an exact frame (the rounded pi/2 of an angle would tilt it).
ERPoint2D EREllipse2D::pointAt(double t) const {
  const double a = L_ / 2.0, b = getSmallAxe() / 2.0, ct = std::cos(t), st = std::sin(t);
  const ERVector2D X = getBigAxisDirection();
  const double cp = X.x(), sp = X.y();
  const ERPoint2D m = center();
  return ERPoint2D(m.x() + a * ct * cp - b * st * sp, m.y() + a * ct * sp + b * st * cp);
}

ERPoint2D EREllipse2D::get_closest(const ERPoint2D& p) const {
  const ERVector2D X = getBigAxisDirection();
  const double c = X.x(), s = X.y();
  const ERPoint2D m = center();
  const double px = p.x() - m.x(), py = p.y() - m.y();
  double qx = px * c + py * s;
  const double qy = py * c - px * s;
  if (qx == -DBL_MAX) qx = DBL_MAX;
  const zrkEllipse2 e(getSmallAxe() / 2.0, L_ / 2.0);
  zrkCurvePointList2 list;
  int code = ZRK_NOT_COMPUTED;
  e.global_closest_point(giPoint2(qx, qy), list, code);
  if (!(code == ZRK_UNIQUE || code == ZRK_ON_CURVE || code == ZRK_SEVERAL) || list.empty())
    return ERPoint2D(0.0, 0.0);
  const giPoint2 r = list[0];
  return ERPoint2D(m.x() + (r.x * c - r.y * s), m.y() + (r.x * s + r.y * c));
}

ERPoint2D EREllipse2D::nearest(const ERPoint2D& p, double& t) const {
  const ERPoint2D m = center();
  const ERPoint2D q = get_closest(p);
  const ERVector2D X = getBigAxisDirection(), Y = getSmallAxisDirection();
  const ERVector2D v(m, q);
  const double a = L_ / 2.0, b = getSmallAxe() / 2.0;
  t = std::atan2(b > 0.0 ? (v * Y) / b : 0.0, a > 0.0 ? (v * X) / a : 1.0);
  return q;
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

QORV_DEFINE_COPYABLE(EREllipse2D);
std::uint32_t EREllipse2D::binaryStoreSize() const { return 40; }

void EREllipse2D::printOn(std::ostream& os) const {
  os << "Ellipse" << '\n'
     << "focus 1 " << f1_ << '\n'
     << "focus 2 " << f2_ << '\n'
     << "Big Axe " << qorv::detail::printable(L_) << '\n'
     << "Small Axe " << qorv::detail::printable(getSmallAxe()) << '\n'
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

// tan t = (a / b) tan theta, taken in the quarter turn of theta: the two never differ by a
// quarter turn or more, so the nearest representative is the right one whatever the turn.
double ERArcEllipse2D::central_to_param(double theta) const {
  const double a = getBigAxe() / 2.0, b = getSmallAxe() / 2.0;
  const double t = std::atan2(a * std::sin(theta), b * std::cos(theta));
  return theta + std::remainder(t - theta, kTwoPi);
}

double ERArcEllipse2D::param_to_central(double t) const {
  const double a = getBigAxe() / 2.0, b = getSmallAxe() / 2.0;
  const double c = std::atan2(b * std::sin(t), a * std::cos(t));
  return t + std::remainder(c - t, kTwoPi);
}

ERLimites ERArcEllipse2D::getBound() const {
  if (getBigAxe() == 0.0 || udeb() == ufin()) return ERLimites(0.0, kTwoPi);
  const double t0 = central_to_param(udeb()), t1 = central_to_param(ufin());
  return ERLimites(std::fmin(t0, t1), std::fmax(t0, t1));
}

ERInfoPoint2D ERArcEllipse2D::randomPoint() const {
  const ERLimites r = getBound();
  const bool forward = !(ufin() < udeb());
  return qorv::detail::randomPointBetween(*this, forward ? r.start() : r.end(),
                                          forward ? r.end() : r.start());
}

ERVec<ERPoint2D> ERArcEllipse2D::approxime(int n) const {
  const ERLimites r = getBound();
  const bool forward = !(ufin() < udeb());
  return qorv::detail::sampleBetween(*this, n, forward ? r.start() : r.end(),
                                     forward ? r.end() : r.start());
}

int ERArcEllipse2D::isValid() const {
  return EREllipse2D::isValid() && std::isfinite(udeb()) && std::isfinite(ufin());
}

// The central angles are measured from the major axis, which a direct map or a scaling carries
// along; only a round ellipse (coinciding foci) measures them from the X axis, like a circle.
void ERArcEllipse2D::scale(double s) {
  const bool round = distance2(getFocus1(), getFocus2()) == 0.0;
  EREllipse2D::scale(s);
  if (round && s < 0.0) setLimites(udeb() + kPi, ufin() + kPi);
}

void ERArcEllipse2D::transformFrom(const ERTransfo2D& T) {
  const bool round = distance2(getFocus1(), getFocus2()) == 0.0;
  EREllipse2D::transformFrom(T);
  const double a = T.angle();
  if (round) {
    if (T.isDirect()) {
      setLimites(udeb() + a, ufin() + a);
    } else {
      setLimites(-a - udeb(), -a - ufin());
    }
  } else if (!T.isDirect()) {
    setLimites(-udeb(), -ufin());
  }
}

void ERArcEllipse2D::transformTo(const ERTransfo2D& T) {
  const bool round = distance2(getFocus1(), getFocus2()) == 0.0;
  EREllipse2D::transformTo(T);
  const double a = T.angle();
  if (round) {
    if (T.isDirect()) {
      setLimites(udeb() - a, ufin() - a);
    } else {
      setLimites(-a - udeb(), -a - ufin());
    }
  } else if (!T.isDirect()) {
    setLimites(-udeb(), -ufin());
  }
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

// From the start limit to t and from t to the end limit: a reversed arc stays reversed.
int ERArcEllipse2D::splitAt(t_SmartPtr<ERFiniteEntity2DWF>& first,
                            t_SmartPtr<ERFiniteEntity2DWF>& second, double t) const {
  const double c = param_to_central(t);
  first = new ERArcEllipse2D(ellipse(), udeb(), c);
  second = new ERArcEllipse2D(ellipse(), c, ufin());
  return 1;
}

int ERArcEllipse2D::intersectWithAxeY(double x, ERVec<double>& params) const {
  const ERLimites r = getBound();
  const ERVector2D X = getBigAxisDirection(), Y = getSmallAxisDirection();
  solveTrig(getBigAxe() / 2.0 * X.x(), getSmallAxe() / 2.0 * Y.x(), x - center().x(), r.start(),
            r.end(), params);
  return params.length();
}

int ERArcEllipse2D::intersectWith(const ERPoint2D& p, const ERVector2D& v,
                                  ERVec<double>& params) const {
  const ERVector2D n = v.getnormalized();
  const ERLimites r = getBound();
  const ERVector2D X = getBigAxisDirection(), Y = getSmallAxisDirection();
  solveTrig(getBigAxe() / 2.0 * (X * n), getSmallAxe() / 2.0 * (Y * n), ERVector2D(center(), p) * n,
            r.start(), r.end(), params);
  return params.length();
}

namespace {

// The eccentric parameters of the stationary points of the distance from (qx, qy) (in the
// ellipse's axes, a >= b > 0) besides the global foot, and the four vertices. With s the
// Lagrange parameter a stationary point is (a^2 qx / (s + a^2), b^2 qy / (s + b^2)) where
// F(s) = (a qx / (s + a^2))^2 + (b qy / (s + b^2))^2 = 1; F is convex on (-a^2, -b^2), infinite
// at both ends, least at s* = -(b^2 + r a^2) / (1 + r) with r = (b |qy| / (a |qx|))^(2/3), so it
// has there two roots (a local minimum's and a local maximum's, near each other on a thin
// ellipse, where a grid of the arc misses them) or none. On an axis the other stationary pair
// is s = -b^2 (major axis) or s = -a^2 (minor axis), in closed form.
void otherStationaryPoints(double a, double b, double qx, double qy, double out[8], int& n) {
  n = 0;
  for (int k = 0; k < 4; ++k) out[n++] = k * 0.5 * std::numbers::pi;
  if (!(a > b && b > 0.0)) return;
  // In units of a: the ellipse (cos t, B sin t).
  const double B = b / a, B2 = B * B, X = qx / a, Y = qy / a;
  if (!std::isfinite(X) || !std::isfinite(Y)) return;
  if (Y == 0.0) {
    const double c = X / ((1.0 - B) * (1.0 + B));
    if (std::fabs(c) <= 1.0) {
      const double t = std::acos(c);
      out[n++] = t, out[n++] = -t;
    }
    return;
  }
  if (X == 0.0) {
    const double sn = B * Y / ((B - 1.0) * (B + 1.0));
    if (std::fabs(sn) <= 1.0) {
      const double t = std::asin(sn);
      out[n++] = t, out[n++] = std::numbers::pi - t;
    }
    return;
  }
  auto F = [&](double s) {
    const double u = X / (s + 1.0), v = B * Y / (s + B2);
    return u * u + v * v - 1.0;
  };
  const double r = std::cbrt((B * Y / X) * (B * Y / X));
  const double sMin = -(B2 + r) / (1.0 + r);
  if (!(F(sMin) < 0.0)) return;
  for (int side = 0; side < 2; ++side) {
    // F falls from +inf to its least value on (-1, s*) and rises again on (s*, -B^2).
    double lo = side == 0 ? -1.0 : sMin, hi = side == 0 ? sMin : -B2;
    for (int it = 0; it < 200; ++it) {
      const double m = 0.5 * (lo + hi);
      if (m == lo || m == hi) break;
      const bool positive = F(m) > 0.0;
      if ((side == 0) == positive) {
        lo = m;
      } else {
        hi = m;
      }
    }
    const double s = 0.5 * (lo + hi);
    out[n++] = std::atan2(B * Y / (s + B2), X / (s + 1.0));
  }
}

}  // namespace

// The global foot when it is on the arc; otherwise the nearest of the two ends and of the local
// minima of the distance inside: sign changes - to + of its derivative on a grid of the arc and
// the stationary points in closed form (otherStationaryPoints), each refined by safeguarded
// Newton.
double ERArcEllipse2D::nearestOnArc(const ERPoint2D& p, double& dist, bool& atEnd) const {
  const ERLimites r = getBound();
  const double lo = r.start(), hi = r.end();
  double t = 0.0;
  const ERPoint2D foot = nearest(p, t);
  double u = 0.0;
  if (qorv::detail::windowAngle(t, lo, hi, u)) {
    atEnd = false;
    dist = distance(p, foot);
    return u;
  }
  const double a = getBigAxe() / 2.0, b = getSmallAxe() / 2.0;
  const ERVector2D X = getBigAxisDirection(), Y = getSmallAxisDirection();
  const ERVector2D w(center(), p);
  const double qx = w * X, qy = w * Y, k = (b - a) * (b + a);
  // Half the derivative of the squared distance, and its derivative.
  auto f = [&](double x) {
    const double c = std::cos(x), s = std::sin(x);
    return k * s * c + a * qx * s - b * qy * c;
  };
  auto df = [&](double x) {
    const double c = std::cos(x), s = std::sin(x);
    return k * (c - s) * (c + s) + a * qx * c + b * qy * s;
  };
  double best = lo, bestD = distance(p, pointAt(lo));
  atEnd = true;
  const double dHi = distance(p, pointAt(hi));
  if (dHi < bestD) best = hi, bestD = dHi;
  if (!(lo < hi) || !std::isfinite(hi - lo)) {
    dist = bestD;
    return best;
  }
  const int steps = std::clamp(static_cast<int>(std::ceil((hi - lo) / kTwoPi * 96.0)), 8, 192);
  double x0 = lo, f0 = f(lo);
  for (int i = 1; i <= steps; ++i) {
    const double x1 = i == steps ? hi : lo + (hi - lo) * i / steps, f1 = f(x1);
    if (f0 < 0.0 && f1 >= 0.0) {
      double xa = x0, xb = x1, x = 0.5 * (x0 + x1);
      for (int it = 0; it < 60; ++it) {
        const double fx = f(x);
        if (fx == 0.0) break;
        if (fx < 0.0)
          xa = x;
        else
          xb = x;
        const double d = df(x);
        double next = d > 0.0 ? x - fx / d : 0.5 * (xa + xb);
        if (!(next > xa && next < xb)) next = 0.5 * (xa + xb);
        if (next == x || xb - xa <= 4e-16 * std::fmax(1.0, std::fabs(x))) {
          x = next;
          break;
        }
        x = next;
      }
      const double d = distance(p, pointAt(x));
      if (d < bestD) best = x, bestD = d, atEnd = false;
    }
    x0 = x1, f0 = f1;
  }
  double cands[8];
  int nc = 0;
  otherStationaryPoints(a, b, qx, qy, cands, nc);
  for (int i = 0; i < nc; ++i) {
    double x = 0.0;
    if (!qorv::detail::windowAngle(cands[i], lo, hi, x)) continue;
    // Newton on the derivative, kept within the limits and only while it brings p nearer.
    double d = distance(p, pointAt(x));
    for (int it = 0; it < 8; ++it) {
      const double dd = df(x);
      if (!(dd != 0.0)) break;
      const double next = std::clamp(x - f(x) / dd, lo, hi);
      const double dn = distance(p, pointAt(next));
      if (!(dn < d)) break;
      x = next, d = dn;
    }
    if (d < bestD) best = x, bestD = d, atEnd = false;
  }
  dist = bestD;
  return best;
}

EREntity::DISTMINRES ERArcEllipse2D::SignedMinimalDistance(const ERPoint2D& p, double& d,
                                                           double& u) const {
  bool atEnd = false;
  double dist = 0.0;
  u = nearestOnArc(p, dist, atEnd);
  // Negative inside the ellipse: the sum of the focal distances below L.
  const bool inside = distance(p, getFocus1()) + distance(p, getFocus2()) < getBigAxe();
  d = inside ? -dist : dist;
  return atEnd ? DISTMIN_END_POINT : DISTMIN_NORMAL;
}

EREntity::DISTMINRES ERArcEllipse2D::SignedMinimalDistance(const ERPoint2D& p, double& d) const {
  double u = 0.0;
  return SignedMinimalDistance(p, d, u);
}

QORV_DEFINE_COPYABLE(ERArcEllipse2D);
std::uint32_t ERArcEllipse2D::binaryStoreSize() const { return 56; }

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
