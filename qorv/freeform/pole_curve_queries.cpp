// What ERCpoleRep2D / 3D answer for every pole curve, through its poles and knots: arc length,
// splits, the global nearest point and the projections, the crossings with an axis line or
// plane, and the approximation's seeds.

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "qorv/foundation/numerics.h"
#include "qorv/foundation/quadrature.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/freeform/polynomial.h"
#include "qorv/measurement/sampling_lists.h"

using namespace qorv;

using QuickAlgebra::ERMatrix;
using QuickAlgebra::ERVec;

namespace {

using qorv::detail::kNaN;

template <class Curve>
double arcLengthOf(const Curve& c, double a, double b, double tol) {
  if (!(b > a)) return b == a ? 0.0 : -arcLengthOf(c, b, a, tol);
  if (!(tol > 0.0)) tol = 1e-9;
  std::vector<double> cuts{a};
  const ERKnotVector U = c.knotVector();
  for (int i = 0; i < U.length(); ++i)
    if (U[i] > cuts.back() && U[i] < b) cuts.push_back(U[i]);
  cuts.push_back(b);
  double sum = 0.0;
  const double share = tol / (4.0 * (cuts.size() - 1));
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k)
    for (int i = 0; i < 4; ++i) {
      const double x0 = cuts[k] + (cuts[k + 1] - cuts[k]) * i / 4.0;
      const double x1 = i == 3 ? cuts[k + 1] : cuts[k] + (cuts[k + 1] - cuts[k]) * (i + 1) / 4.0;
      // Inside the piece, so a knot's right-hand span is not used for the piece on its left.
      const double f0 = c.PtCur(x0 + (x1 - x0) * 1e-12).tangente().norme();
      const double f1 = c.PtCur(x1 - (x1 - x0) * 1e-12).tangente().norme();
      const double fm = c.PtCur(0.5 * (x0 + x1)).tangente().norme();
      const auto speed = [&c](double t) { return c.PtCur(t).tangente().norme(); };
      sum += qorv::detail::adaptiveSimpson(speed, x0, x1, f0, fm, f1,
                                           (x1 - x0) / 6.0 * (f0 + 4.0 * fm + f1), share, 40);
    }
  return sum;
}

// ---- global nearest point

using Coeffs = std::vector<double>;

Coeffs product(const Coeffs& a, const Coeffs& b) {
  Coeffs r(a.size() + b.size() - 1, 0.0);
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < b.size(); ++j) r[i + j] += a[i] * b[j];
  return r;
}
Coeffs derivative(const Coeffs& a) {
  if (a.size() <= 1) return Coeffs(1, 0.0);
  Coeffs r(a.size() - 1);
  for (std::size_t i = 1; i < a.size(); ++i) r[i - 1] = i * a[i];
  return r;
}
void addTo(Coeffs& r, const Coeffs& a, double f) {
  if (r.size() < a.size()) r.resize(a.size(), 0.0);
  for (std::size_t i = 0; i < a.size(); ++i) r[i] += f * a[i];
}

// Keeps the better of two feet: nearer, or as near with the smaller parameter.
struct Best {
  double d = std::numeric_limits<double>::infinity();
  double u = kNaN;
  void offer(double dd, double uu) {
    if (dd < d || (dd == d && uu < u)) d = dd, u = uu;
  }
};

// (C - P).C' on span s (its numerator for weighted poles) in power form in x = (t - a) / h,
// scaled to a largest coefficient of 1; empty when it vanishes identically or overflows. H holds
// the homogeneous poles moved so that P is the origin.
template <int D>
Coeffs footPolynomial(const ERKnotVector& U, const std::vector<double>& H, int s, int p) {
  const double a = U[s], h = U[s + 1] - U[s];
  // Power form in x = (t - a) / h from the derivatives at the span start.
  const ERMatrix<double> ders = U.DersBasisFuns(s, a, p);
  Coeffs Y[D + 1];
  for (int k = 0; k <= D; ++k) Y[k].assign(p + 1, 0.0);
  double f = 1.0;
  for (int d = 0; d <= p; ++d) {
    for (int j = 0; j <= p; ++j)
      for (int k = 0; k <= D; ++k) Y[k][d] += ders(d, j) * H[(s - p + j) * (D + 1) + k];
    for (int k = 0; k <= D; ++k) Y[k][d] *= f;
    f *= h / (d + 1);
  }
  bool constantWeight = true;
  for (int j = 1; j <= p; ++j)
    constantWeight = constantWeight && H[(s - p + j) * (D + 1) + D] == H[(s - p) * (D + 1) + D];
  Coeffs F(1, 0.0);
  if (constantWeight) {
    for (int k = 0; k < D; ++k) addTo(F, product(Y[k], derivative(Y[k])), 1.0);
  } else {
    const Coeffs W = Y[D], W1 = derivative(W);
    for (int k = 0; k < D; ++k) {
      Coeffs g = product(derivative(Y[k]), W);
      addTo(g, product(Y[k], W1), -1.0);
      addTo(F, product(Y[k], g), 1.0);
    }
  }
  double m = 0.0;
  for (double v : F) m = std::max(m, std::fabs(v));
  if (!(m > 0.0) || !std::isfinite(m)) return Coeffs();
  for (double& v : F) v /= m;
  return F;
}

template <class Curve, class Point>
double nearestOn(const Curve& c, const Point& P, double& u) {
  constexpr int D = Point::kSize;
  u = kNaN;
  for (int k = 0; k < D; ++k)
    if (!std::isfinite(P.data()[k])) return kNaN;
  if (!c.isValid()) return kNaN;
  const double lo = std::min(c.udeb(), c.ufin()), hi = std::max(c.udeb(), c.ufin());
  if (!std::isfinite(lo) || !std::isfinite(hi)) return kNaN;
  const ERKnotVector U = c.knotVector();
  const int p = U.degree(), n = c.nbPoles();
  if (U.length() != n + p + 1) return kNaN;
  Best best;
  auto offer = [&](double t) {
    t = std::clamp(t, lo, hi);
    const double d = qorv::distance(c(t), P);
    if (std::isfinite(d)) best.offer(d, t);
  };
  offer(lo);
  offer(hi);
  if (!(lo < hi)) {
    u = best.u;
    return best.d;
  }
  // Homogeneous poles of the curve moved so that P is the origin.
  std::vector<double> H(static_cast<std::size_t>(n) * (D + 1));
  std::vector<double> cart(static_cast<std::size_t>(n) * D);
  for (int i = 0; i < n; ++i) {
    const double w = c.poleWeight(i);
    const Point q = c[i];
    for (int k = 0; k < D; ++k) {
      cart[i * D + k] = q.data()[k] - P.data()[k];
      H[i * (D + 1) + k] = w * cart[i * D + k];
    }
    H[i * (D + 1) + D] = w;
  }
  struct Span {
    int s;
    double bound;
  };
  std::vector<Span> spans;
  for (int s = p; s < n; ++s) {
    if (!(U[s] < U[s + 1]) || U[s + 1] < lo || U[s] > hi) continue;
    // The span lies in the convex hull of its poles (positive weights).
    double b2 = 0.0;
    for (int k = 0; k < D; ++k) {
      double mn = cart[(s - p) * D + k], mx = mn;
      for (int j = 1; j <= p; ++j) {
        const double x = cart[(s - p + j) * D + k];
        mn = std::min(mn, x), mx = std::max(mx, x);
      }
      const double g = mn > 0.0 ? mn : (mx < 0.0 ? -mx : 0.0);
      b2 += g * g;
    }
    spans.push_back({s, std::sqrt(b2)});
  }
  std::stable_sort(spans.begin(), spans.end(),
                   [](const Span& a, const Span& b) { return a.bound < b.bound; });
  ERVec<double> roots;
  for (const Span& sp : spans) {
    if (sp.bound > best.d) break;
    const int s = sp.s;
    const double a = U[s], h = U[s + 1] - U[s];
    const double xa = std::max(0.0, (lo - a) / h), xb = std::min(1.0, (hi - a) / h);
    offer(a + xa * h);
    offer(xb == 1.0 ? U[s + 1] : a + xb * h);
    const Coeffs F = footPolynomial<D>(U, H, s, p);
    if (F.empty()) continue;
    roots = ERVec<double>();
    Zeros(ERPolynome(F.data(), static_cast<int>(F.size())), ERLimites(xa, xb), roots);
    const double ta = a + xa * h, tb = xb == 1.0 ? U[s + 1] : a + xb * h;
    for (int i = 0; i < roots.length(); ++i) {
      double t = std::clamp(a + roots[i] * h, ta, tb);
      offer(t);
      // One Newton step on (C - P).C' polishes a root of the rescaled numerator.
      const auto info = c.PtCur(t);
      double g = 0.0, g1 = 0.0;
      for (int k = 0; k < D; ++k) {
        const double e = info.point().data()[k] - P.data()[k];
        g += e * info.tangente().data()[k];
        g1 += info.tangente().data()[k] * info.tangente().data()[k] +
              e * info.secondOrder().data()[k];
      }
      if (g1 > 0.0) {
        t = std::clamp(t - g / g1, ta, tb);
        offer(t);
      }
    }
  }
  u = best.u;
  return std::isfinite(best.d) ? best.d : kNaN;
}

template <class Box>
bool boxesRelated(const Box& x, const Box& y) {
  const int r1 = RelativePosition(x, y), r2 = RelativePosition(y, x);
  return r1 == 2 || r1 == 3 || r2 == 2 || r2 == 3;
}

// Every stationary point of the distance in the spans whose pole box meets the point's box.
template <class Box, class Curve, class Point>
int projectOn(const Curve& c, const Point& P, ERVec<double>& params, double tol) {
  constexpr int D = Point::kSize;
  params = ERVec<double>();
  Box bp;
  bp.Update(P);
  bp.Inflate(tol);
  if (!boxesRelated(bp, c.getBox()) || !c.isValid()) return 0;
  const ERKnotVector U = c.knotVector();
  const int p = U.degree(), n = c.nbPoles();
  if (U.length() != n + p + 1) return 0;
  std::vector<double> H(static_cast<std::size_t>(n) * (D + 1));
  for (int i = 0; i < n; ++i) {
    const double w = c.poleWeight(i);
    const Point q = c[i];
    for (int k = 0; k < D; ++k) H[i * (D + 1) + k] = w * (q.data()[k] - P.data()[k]);
    H[i * (D + 1) + D] = w;
  }
  bool any = false;
  ERVec<double> roots;
  for (int s = p; s < n; ++s) {
    const double a = U[s], b = U[s + 1];
    if (!(b - a > 1e-11)) continue;
    Box bs;
    for (int j = 0; j <= p; ++j) bs.Update(c[s - p + j]);
    if (!boxesRelated(bs, bp)) continue;
    any = true;
    const Coeffs F = footPolynomial<D>(U, H, s, p);
    if (F.empty()) {
      params.append(0.5 * (a + b));
      continue;
    }
    roots = ERVec<double>();
    Zeros(ERPolynome(F.data(), static_cast<int>(F.size())), ERLimites(0.0, 1.0), roots);
    for (int i = 0; i < roots.length(); ++i) {
      if (i > 0 && roots[i] == roots[i - 1]) continue;
      params.append(std::clamp((1.0 - roots[i]) * a + roots[i] * b, a, b));
    }
  }
  return any ? params.length() : -1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
#define QORV_CPOLE_REP_BODY(Class, Finite)                                                    \
  double Class::arcLength(const ERLimites& r, double tol) const {                             \
    return arcLengthOf(*this, r.start(), r.end(), tol);                                       \
  }                                                                                           \
  int Class::splitAt(Class*& first, Class*& second, double u) const {                         \
    first = second = nullptr;                                                                 \
    const double a = std::min(udeb(), ufin()), b = std::max(udeb(), ufin());                  \
    if (!(a < u && u < b)) return 0;                                                          \
    first = Class::castdown(getCopy());                                                       \
    second = Class::castdown(getCopy());                                                      \
    first->redefineDomain(ERLimites(udeb(), u));                                              \
    second->redefineDomain(ERLimites(u, ufin()));                                             \
    return 1;                                                                                 \
  }                                                                                           \
  int Class::split(Class*& first, Class*& second) const {                                     \
    const double a = std::min(udeb(), ufin()), b = std::max(udeb(), ufin());                  \
    return splitAt(first, second, std::clamp(0.5 * a + 0.5 * b, a, b));                       \
  }                                                                                           \
  int Class::splitAt(t_SmartPtr<Finite>& first, t_SmartPtr<Finite>& second, double u) const { \
    Class *c1 = nullptr, *c2 = nullptr;                                                       \
    if (!splitAt(c1, c2, u)) return 0;                                                        \
    first = t_SmartPtr<Finite>(c1);                                                           \
    second = t_SmartPtr<Finite>(c2);                                                          \
    return 1;                                                                                 \
  }

// The seeds of the polyline: the ends of the range, the knots strictly inside it (corners stay
// vertices) and p points inside every piece (a span's loops and inflections get a vertex).
template <class Curve, class List>
void seedApprox(const Curve& c, List& list, const ERLimites& range) {
  const double a = range.start(), b = range.end();
  const double lo = std::min(a, b), hi = std::max(a, b);
  std::vector<double> cuts{lo};
  const ERKnotVector U = c.knotVector();
  for (int i = 0; i < U.length(); ++i)
    if (U[i] > cuts.back() && U[i] < hi) cuts.push_back(U[i]);
  cuts.push_back(hi);
  const int per = std::clamp(c.degree(), 1, std::max(1, 4096 / static_cast<int>(cuts.size())));
  std::vector<double> ts;
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k)
    for (int j = 0; j < per; ++j) ts.push_back(cuts[k] + (cuts[k + 1] - cuts[k]) * j / per);
  ts.push_back(hi);
  if (a > b) std::reverse(ts.begin(), ts.end());
  if (!(lo < hi)) ts.assign({a, b});
  for (double t : ts) list.append(c(t), t);
}

QORV_CPOLE_REP_BODY(ERCpoleRep2D, ERFiniteEntity2DWF)
QORV_CPOLE_REP_BODY(ERCpoleRep3D, ERFiniteEntity3DWF)

// A root of the power form polished on the curve itself: the power form's coefficients carry
// the rounding of the conversion (relative 1e-9 on curves far from the origin), the curve's own
// evaluation does not. Newton steps kept inside [lo, hi], each taken only when it brings the
// coordinate nearer to the value.
template <class Curve>
double polishedCrossing(const Curve& c, int axis, double value, double t, double lo, double hi) {
  double g = c(t).data()[axis] - value;
  for (int it = 0; it < 6 && g != 0.0; ++it) {
    const double slope = c.PtCur(t).tangente().data()[axis];
    if (!(std::fabs(slope) > 0.0) || !std::isfinite(slope)) break;
    const double next = std::clamp(t - g / slope, lo, hi);
    const double gn = c(next).data()[axis] - value;
    if (!(std::fabs(gn) < std::fabs(g))) break;
    t = next, g = gn;
  }
  return t;
}

// The parameters within the trim bounds where coordinate 'axis' equals value, span by span from
// the power forms: the roots of X(s) - value W(s) (W = 1 for Cartesian poles).
template <int D, class Curve>
int crossingsOf(const Curve& c, int axis, double value, ERVec<double>& params) {
  if (!c.isValid() || !std::isfinite(value)) return params.length();
  const ERKnotVector U = c.knotVector();
  const int p = U.degree(), n = c.nbPoles();
  const double lo = std::min(c.udeb(), c.ufin()), hi = std::max(c.udeb(), c.ufin());
  std::vector<double> found;
  ERVec<double> roots;
  for (int i = 0; i < n - p; ++i) {
    const double a = U[p + i], b = U[p + i + 1], h = b - a;
    if (!(a < b) || b < lo || a > hi) continue;
    const ERTValVector<ERPolynome> F = c.getSpanPower(i);
    if (F.length() == 0) continue;
    const bool weighted = F.length() == D + 1;
    const int deg = std::max(F[axis].length(), weighted ? F[D].length() : 1);
    std::vector<double> q(deg, 0.0);
    double m = 0.0;
    for (int k = 0; k < deg; ++k) {
      q[k] = F[axis](k) - value * (weighted ? F[D](k) : (k == 0 ? 1.0 : 0.0));
      m = std::max(m, std::fabs(q[k]));
    }
    const double xa = std::max(0.0, (lo - a) / h), xb = std::min(1.0, (hi - a) / h);
    const double ta = a + xa * h, tb = xb == 1.0 ? b : a + xb * h;
    if (m == 0.0) {
      found.push_back(ta), found.push_back(tb);
      continue;
    }
    if (!std::isfinite(m)) continue;
    for (double& v : q) v /= m;
    roots = ERVec<double>();
    Zeros(ERPolynome(q.data(), deg), ERLimites(xa, xb), roots);
    for (int r = 0; r < roots.length(); ++r)
      found.push_back(
          polishedCrossing(c, axis, value, std::clamp(a + roots[r] * h, ta, tb), ta, tb));
  }
  std::sort(found.begin(), found.end());
  // A root at a span junction comes from both spans; a multiple root counts once.
  const double close = 1e-12 * (hi - lo);
  for (std::size_t k = 0; k < found.size(); ++k)
    if (k == 0 || found[k] - found[k - 1] > close) params.append(found[k]);
  return params.length();
}

int ERCpoleRep2D::intersectWithAxeY(double x, ERVec<double>& params) const {
  return crossingsOf<2>(*this, 0, x, params);
}
int ERCpoleRep3D::intersectWithPlanZ(double z, ERVec<double>& params) const {
  return crossingsOf<3>(*this, 2, z, params);
}

void ERCpoleRep2D::prepareApprox(ERPoint12List& list, const ERLimites& range, double) const {
  seedApprox(*this, list, range);
}
void ERCpoleRep3D::prepareApprox(ERPoint13List& list, const ERLimites& range, double) const {
  seedApprox(*this, list, range);
}

double ERCpoleRep2D::nearest(const ERPoint2D& p, double& u) const { return nearestOn(*this, p, u); }
double ERCpoleRep3D::nearest(const ERPoint3D& p, double& u) const { return nearestOn(*this, p, u); }
int ERCpoleRep2D::ProjectPoint(const ERPoint2D& p, ERVec<double>& params, double tol) const {
  return projectOn<ERMinimax2D>(*this, p, params, tol);
}
int ERCpoleRep3D::ProjectPoint(const ERPoint3D& p, ERVec<double>& params, double tol) const {
  return projectOn<ERMinimax3D>(*this, p, params, tol);
}

EREntity::DISTMINRES ERCpoleRep3D::SignedMinimalDistance(const ERPoint3D& p, double& d) const {
  double u = 0.0;
  const double dist = nearest(p, u);
  if (std::isnan(dist)) return DISTMIN_NONE;
  d = dist;
  const bool atEnd = u == std::min(udeb(), ufin()) || u == std::max(udeb(), ufin());
  return atEnd ? DISTMIN_END_POINT : DISTMIN_NORMAL;
}

EREntity::DISTMINRES ERCpoleRep2D::SignedMinimalDistance(const ERPoint2D& p, double& d,
                                                         double& u) const {
  const double dist = nearest(p, u);
  if (std::isnan(dist)) return DISTMIN_NONE;
  const ERInfoPoint2D info = PtCur(u);
  d = (ERVector2D(info.point(), p) ^ info.tangente()) > 0.0 ? dist : -dist;
  const bool atEnd = u == std::min(udeb(), ufin()) || u == std::max(udeb(), ufin());
  return atEnd ? DISTMIN_END_POINT : DISTMIN_NORMAL;
}
