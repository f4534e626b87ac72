#include "qorv/freeform/pole_surfaces.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include "qorv/foundation/numerics.h"
#include "qorv/persistence/file.h"

using namespace qorv;
using QuickAlgebra::ERMatrix;
using QuickAlgebra::ERVec;

QORV_DEFINE_ABSTRACT_CLASS(ERSpoleRep);
QORV_DEFINE_CLASS(ERSpoleBezier3D);
QORV_DEFINE_CLASS(ERSpoleBezier3DR);
QORV_DEFINE_CLASS(ERSpoleNURBS3D);

namespace {

using qorv::detail::kNaN;

// SpanScratch that stays on the stack for the usual degrees.
struct SpanScratch {
  double local[256];
  std::vector<double> heap;
  double* get(std::size_t n) {
    if (n <= 256) return local;
    heap.assign(n, 0.0);
    return heap.data();
  }
};

// The span of u among the knots U[0..m-1] of degree p with n = m - p - 1 poles: the non-empty
// [U[s], U[s+1]) that holds u (left: the (U[s], U[s+1]] that holds it), the end spans beyond
// the domain. The net fits (a non-empty span exists).
// An empty span s: the non-empty one on the side asked, else the other.
[[gnu::noinline]] int nonEmptySpan(const double* U, int p, int n, int s, double u, bool left) {
  int k = s;
  if (left || !(u >= U[s]))
    while (k > p && U[k] == U[k + 1]) --k;
  if (U[k] == U[k + 1]) {
    k = s;
    while (k < n - 1 && U[k] == U[k + 1]) ++k;
  }
  if (U[k] == U[k + 1]) {
    k = s;
    while (k > p && U[k] == U[k + 1]) --k;
  }
  return k;
}

// The span of u among the knots U[0..m-1] of degree p with n = m - p - 1 poles: the non-empty
// [U[s], U[s+1]) that holds u (left: the (U[s], U[s+1]] that holds it), the end spans beyond
// the domain. The net fits (a non-empty span exists).
[[gnu::always_inline]] inline int spanOf(const double* U, int m, int p, double u, bool left) {
  const int n = m - p - 1;
  // lower_bound (left) or upper_bound over U[p..n], the same comparisons halving without a
  // branch: a random parameter would mispredict every other step. A mask, not a product, moves
  // the base: the search is a chain of dependent loads, each step's latency counts.
  const double* base = U + p;
  std::ptrdiff_t len = n + 1 - p;
  while (len > 1) {
    const std::ptrdiff_t half = len / 2;
    const bool right = left ? base[half - 1] < u : !(u < base[half - 1]);
    base += half & -static_cast<std::ptrdiff_t>(right);
    len -= half;
  }
  if (len == 1) base += left ? *base < u : !(u < *base);
  int s = static_cast<int>(base - U) - 1;
  if (s < p) s = p;
  if (s > n - 1) s = n - 1;
  return U[s] == U[s + 1] ? nonEmptySpan(U, p, n, s, u, left) : s;
}

// The values alone (the first row of basisDerivatives, the same operations), for degrees up to 8.
template <int PF>
void basisValuesIn(const double* U, int pRun, int s, double u, double* N) {
  double left[9], right[9];
  qorv::detail::basisTriangle<PF>(U, pRun, s, u, N, left, right);
}

void basisDers(const double* U, int p, int s, double u, int nd, double* ders, SpanScratch& sc) {
  if (nd == 0 && p <= 8)
    return p == 3 ? basisValuesIn<3>(U, p, s, u, ders) : basisValuesIn<-1>(U, p, s, u, ders);
  switch (p) {
    case 1: {
      double mem[2 * 6];
      return qorv::detail::basisDerivatives<1>(U, p, s, u, nd, ders, mem);
    }
    case 2: {
      double mem[3 * 7];
      return qorv::detail::basisDerivatives<2>(U, p, s, u, nd, ders, mem);
    }
    case 3: {
      // The bicubic net, the usual one, at the orders evaluateNet asks.
      double mem[4 * 8];
      if (nd == 1) return qorv::detail::basisDerivatives<3, 1>(U, p, s, u, nd, ders, mem);
      if (nd == 2) return qorv::detail::basisDerivatives<3, 2>(U, p, s, u, nd, ders, mem);
      return qorv::detail::basisDerivatives<3>(U, p, s, u, nd, ders, mem);
    }
    default:
      return qorv::detail::basisDerivatives<-1>(
          U, p, s, u, nd, ders, sc.get(static_cast<std::size_t>((p + 1) * (p + 5))));
  }
}

bool finite3(const ERPoint3D& p) {
  return std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z());
}

bool knotsOk(const double* U, int m, int p, int n) {
  if (p < 0 || n < p + 1 || m != n + p + 1) return false;
  for (int i = 0; i < m; ++i)
    if (!std::isfinite(U[i]) || (i > 0 && U[i] < U[i - 1])) return false;
  return U[p] < U[n];
}

}  // namespace

// ---------------------------------------------------------------------------------------------
namespace qorv::detail {

void basisValues(const double* U, int p, int s, double u, double* out) {
  SpanScratch sc;
  basisDers(U, p, s, u, 0, out, sc);
}

// NetView::fits, inlined where a point is evaluated.
[[gnu::always_inline]] inline bool netFits(const NetView& n) {
  // Degrees past 1024 (a damaged record) would cost their square in scratch memory.
  if (n.poles == nullptr || n.nu <= 0 || n.nv <= 0 || n.pu < 0 || n.pv < 0 || n.pu > 1024 ||
      n.pv > 1024)
    return false;
  if (n.mu != n.nu + n.pu + 1 || n.mv != n.nv + n.pv + 1 || n.ku == nullptr || n.kv == nullptr)
    return false;
  // A non-empty span in each direction, found without trusting the order of the knots.
  bool su = false, sv = false;
  for (int s = n.pu; s < n.nu && !su; ++s) su = n.ku[s] < n.ku[s + 1];
  for (int s = n.pv; s < n.nv && !sv; ++s) sv = n.kv[s] < n.kv[s + 1];
  return su && sv;
}

bool NetView::fits() const { return netFits(*this); }

// The homogeneous partials A[l][k] = d^(k+l) / du^k dv^l to orders (O, O), poles of ST doubles.
// Inlined into its callers: a call costs a tenth of a bicubic point.
template <int O, int ST, int PF = -1, int QF = -1>
[[gnu::always_inline]] inline void tensorSum(const NetView& net, int su, int sv, const double* Nu,
                                             const double* Nv, double A[3][3][4]) {
  const int p = PF >= 0 ? PF : net.pu, q = QF >= 0 ? QF : net.pv;
  for (int j = 0; j <= q; ++j) {
    const double* row = net.poles + static_cast<std::ptrdiff_t>(sv - q + j) * net.nu * ST;
    double T[O + 1][4] = {};
    for (int i = 0; i <= p; ++i) {
      const double* P = row + static_cast<std::ptrdiff_t>(su - p + i) * ST;
      const double w = ST == 4 ? P[3] : 1.0;
      for (int k = 0; k <= O; ++k) {
        const double b = Nu[k * (p + 1) + i];
        T[k][0] += b * P[0], T[k][1] += b * P[1], T[k][2] += b * P[2], T[k][3] += b * w;
      }
    }
    for (int l = 0; l <= O; ++l) {
      const double b = Nv[l * (q + 1) + j];
      for (int k = 0; k <= O; ++k)
        for (int c = 0; c < 4; ++c) A[l][k][c] += b * T[k][c];
    }
  }
}

// The body of evaluatePoint, inlined into the surfaces' own point query as well (a call
// through the library's exported entry costs a tenth of a bicubic point).
[[gnu::always_inline]] inline ERPoint3D pointOf(const NetView& net, double u, double v, bool leftU,
                                                bool leftV) {
  if (!netFits(net)) return ERPoint3D(kNaN, kNaN, kNaN);
  const int p = net.pu, q = net.pv;
  if (p > 8 || q > 8) {
    double d[9][3];
    evaluateNet(net, u, v, leftU, leftV, 0, 0, d);
    return ERPoint3D(d[0][0], d[0][1], d[0][2]);
  }
  // The point alone, the common query: the values of the basis, one tensor sum, one quotient.
  const int su = spanOf(net.ku, net.mu, p, u, leftU);
  const int sv = spanOf(net.kv, net.mv, q, v, leftV);
  double Nu[9], Nv[9];
  const bool cubic = p == 3 && q == 3;
  if (cubic) {
    basisValuesIn<3>(net.ku, p, su, u, Nu), basisValuesIn<3>(net.kv, q, sv, v, Nv);
  } else {
    basisValuesIn<-1>(net.ku, p, su, u, Nu), basisValuesIn<-1>(net.kv, q, sv, v, Nv);
  }
  double A[3][3][4] = {};
  net.stride == 4 ? (cubic ? tensorSum<0, 4, 3, 3>(net, su, sv, Nu, Nv, A)
                           : tensorSum<0, 4>(net, su, sv, Nu, Nv, A))
                  : (cubic ? tensorSum<0, 3, 3, 3>(net, su, sv, Nu, Nv, A)
                           : tensorSum<0, 3>(net, su, sv, Nu, Nv, A));
  const double w = A[0][0][3];
  const double x = A[0][0][0] / w, y = A[0][0][1] / w, z = A[0][0][2] / w;
  if (!(w != 0.0) || !std::isfinite(w) || !std::isfinite(x + y + z))
    return ERPoint3D(kNaN, kNaN, kNaN);
  return ERPoint3D(x, y, z);
}

ERPoint3D evaluatePoint(const NetView& net, double u, double v, bool leftU, bool leftV) {
  return pointOf(net, u, v, leftU, leftV);
}

void evaluateNet(const NetView& net, double u, double v, bool leftU, bool leftV, int ou, int ov,
                 double d[9][3]) {
  for (int k = 0; k < 9; ++k) d[k][0] = d[k][1] = d[k][2] = kNaN;
  if (!net.fits()) return;
  ou = std::clamp(ou, 0, 2), ov = std::clamp(ov, 0, 2);
  // Orders (0, 0) alone, everything to (1, 1) or to (2, 2), the unasked elements zeroed at
  // the end.
  const int o = std::max(ou, ov);
  const int p = net.pu, q = net.pv;
  const int su = spanOf(net.ku, net.mu, p, u, leftU);
  const int sv = spanOf(net.kv, net.mv, q, v, leftV);
  SpanScratch s1, s2, s3;
  double* Nu = s1.get(static_cast<std::size_t>(3 * (p + 1)));
  basisDers(net.ku, p, su, u, o, Nu, s2);
  double* Nv = s3.get(static_cast<std::size_t>(3 * (q + 1)));
  basisDers(net.kv, q, sv, v, o, Nv, s2);
  double A[3][3][4] = {};
  // Bicubic nets, the usual case, with the loops unrolled.
  const bool cubic = p == 3 && q == 3;
  if (o == 0)
    net.stride == 4 ? (cubic ? tensorSum<0, 4, 3, 3>(net, su, sv, Nu, Nv, A)
                             : tensorSum<0, 4>(net, su, sv, Nu, Nv, A))
                    : (cubic ? tensorSum<0, 3, 3, 3>(net, su, sv, Nu, Nv, A)
                             : tensorSum<0, 3>(net, su, sv, Nu, Nv, A));
  else if (o == 1)
    net.stride == 4 ? (cubic ? tensorSum<1, 4, 3, 3>(net, su, sv, Nu, Nv, A)
                             : tensorSum<1, 4>(net, su, sv, Nu, Nv, A))
                    : (cubic ? tensorSum<1, 3, 3, 3>(net, su, sv, Nu, Nv, A)
                             : tensorSum<1, 3>(net, su, sv, Nu, Nv, A));
  else
    net.stride == 4 ? (cubic ? tensorSum<2, 4, 3, 3>(net, su, sv, Nu, Nv, A)
                             : tensorSum<2, 4>(net, su, sv, Nu, Nv, A))
                    : (cubic ? tensorSum<2, 3, 3, 3>(net, su, sv, Nu, Nv, A)
                             : tensorSum<2, 3>(net, su, sv, Nu, Nv, A));
  const int ou0 = ou, ov0 = ov;
  ou = ov = o;
  const double w0 = A[0][0][3];
  if (!(w0 != 0.0) || !std::isfinite(w0)) return;
  static const double binom[3][3] = {{1, 0, 0}, {1, 1, 0}, {1, 2, 1}};
  double S[3][3][3];  // S[l][k]
  for (int l = 0; l <= ov; ++l)
    for (int k = 0; k <= ou; ++k) {
      double r[3] = {A[l][k][0], A[l][k][1], A[l][k][2]};
      for (int j = 1; j <= l; ++j)
        for (int c = 0; c < 3; ++c) r[c] -= binom[l][j] * A[j][0][3] * S[l - j][k][c];
      for (int i = 1; i <= k; ++i)
        for (int j = 0; j <= l; ++j)
          for (int c = 0; c < 3; ++c)
            r[c] -= binom[k][i] * binom[l][j] * A[j][i][3] * S[l - j][k - i][c];
      for (int c = 0; c < 3; ++c) S[l][k][c] = r[c] / w0;
    }
  for (int l = 0; l < 3; ++l)
    for (int k = 0; k < 3; ++k)
      for (int c = 0; c < 3; ++c) d[l * 3 + k][c] = (l <= ov0 && k <= ou0) ? S[l][k][c] : 0.0;
  bool ok = true;
  for (int k = 0; k < 9 && ok; ++k) ok = std::isfinite(d[k][0] + d[k][1] + d[k][2]);
  if (!ok)
    for (int k = 0; k < 9; ++k) d[k][0] = d[k][1] = d[k][2] = kNaN;
}

}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
// ERSpoleRep

void ERSpoleRep::incrDegree(int, int) { ResetCaches(); }
int ERSpoleRep::decrDegree(int, int) {
  ResetCaches();
  return 0;
}

void ERSpoleRep::setBound(const ERLimites& U, const ERLimites& V) {
  ERBoundedSurface::setBound(U, V);
  ResetCaches();
}
void ERSpoleRep::adjust() {
  ERBoundedSurface::adjust();
  ResetCaches();
}
void ERSpoleRep::redefineDomainU(const ERLimites& U) {
  ERBoundedSurface::redefineDomainU(U);
  ResetCaches();
}
void ERSpoleRep::redefineDomainV(const ERLimites& V) {
  ERBoundedSurface::redefineDomainV(V);
  ResetCaches();
}
void ERSpoleRep::redefinedDomain(const ERLimites& U, const ERLimites& V) {
  ERBoundedSurface::redefinedDomain(U, V);
  ResetCaches();
}

void ERSpoleRep::ResetCacheBox() { box_.reset(); }

void ERSpoleRep::ResetCaches() {
  box_.reset(), hull_.reset(), estU_.reset(), estV_.reset(), search_.reset();
  emptyCache();
}

void ERSpoleRep::CleanUpTemporaries(int level) {
  ERBoundedSurface::CleanUpTemporaries(level);
  box_.reset(), hull_.reset(), estU_.reset(), estV_.reset(), search_.reset();
}

ERInfoPoint3DSurf ERSpoleRep::PtCur(double u, double v) const {
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  double d[9][3];
  detail::evaluateNet(n, u, v, !(u < ufin()), !(v < vfin()), 2, 2, d);
  ERInfoPoint3DSurf rec(ERPoint2D(u, v), ERInfoPoint3DSurf::Order2{});
  for (int k = 0; k < 9; ++k) rec.set(k % 3, k / 3, d[k][0], d[k][1], d[k][2]);
  return rec;
}

ERInfoPoint3DSurf ERSpoleRep::PtCur1(double u, double v) const {
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  double d[9][3];
  detail::evaluateNet(n, u, v, !(u < ufin()), !(v < vfin()), 1, 1, d);
  ERInfoPoint3DSurf rec(ERPoint2D(u, v), ERInfoPoint3DSurf::Order2{});
  for (int k = 0; k < 9; ++k) {
    // Suv was computed on the way; the record holds first-order elements only.
    if (k == 4) d[k][0] = d[k][1] = d[k][2] = std::isnan(d[0][0]) ? kNaN : 0.0;
    rec.set(k % 3, k / 3, d[k][0], d[k][1], d[k][2]);
  }
  return rec;
}

ERPoint3D ERSpoleRep::operator()(double u, double v) const {
  ERVec<double> bu, bv;
  return detail::pointOf(view(bu, bv), u, v, !(u < ufin()), !(v < vfin()));
}

ERPoint3D ERSpoleRep::cartesian(const detail::NetView& n, int i, int j, double& w) const {
  const double* P = n.poles + (static_cast<std::ptrdiff_t>(j) * n.nu + i) * n.stride;
  w = n.stride == 4 ? P[3] : 1.0;
  if (n.stride == 3) return ERPoint3D(P[0], P[1], P[2]);
  return ERPoint3D(P[0] / w, P[1] / w, P[2] / w);
}

void ERSpoleRep::trimmedSpans(const detail::NetView& n, int& u0, int& u1, int& v0, int& v1) const {
  const double a = std::min(udeb(), ufin()), b = std::max(udeb(), ufin());
  const double c = std::min(vdeb(), vfin()), e = std::max(vdeb(), vfin());
  u0 = spanOf(n.ku, n.mu, n.pu, a, false), u1 = spanOf(n.ku, n.mu, n.pu, b, true);
  v0 = spanOf(n.kv, n.mv, n.pv, c, false), v1 = spanOf(n.kv, n.mv, n.pv, e, true);
  if (u1 < u0) std::swap(u0, u1);
  if (v1 < v0) std::swap(v0, v1);
}

ERMinimax3D ERSpoleRep::_calculateBox() const {
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  ERMinimax3D box;
  if (!n.fits()) return box;
  int u0, u1, v0, v1;
  trimmedSpans(n, u0, u1, v0, v1);
  for (int j = v0 - n.pv; j <= v1; ++j)
    for (int i = u0 - n.pu; i <= u1; ++i) {
      double w;
      const ERPoint3D p = cartesian(n, i, j, w);
      if (finite3(p)) box.Update(p);
    }
  return box;
}

QuickAlgebra::ERVec<ERPoint2D> ERSpoleRep::_calculateConvexHull(const ERPmIsometrie3D* T) const {
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  std::vector<ERPoint2D> pts;
  if (n.fits()) {
    int u0, u1, v0, v1;
    trimmedSpans(n, u0, u1, v0, v1);
    for (int j = v0 - n.pv; j <= v1; ++j)
      for (int i = u0 - n.pu; i <= u1; ++i) {
        double w;
        ERPoint3D p = cartesian(n, i, j, w);
        if (T != nullptr) p = *T >> p;
        if (finite3(p)) pts.push_back(ERPoint2D(p.x(), p.y()));
      }
  }
  // Monotone chains over the points sorted by y then x: the lower chain from the lowest point,
  // then the upper one back; collinear and repeated points dropped.
  std::sort(pts.begin(), pts.end(), [](const ERPoint2D& a, const ERPoint2D& b) {
    return a.y() < b.y() || (a.y() == b.y() && a.x() < b.x());
  });
  pts.erase(std::unique(pts.begin(), pts.end(),
                        [](const ERPoint2D& a, const ERPoint2D& b) {
                          return a.x() == b.x() && a.y() == b.y();
                        }),
            pts.end());
  if (pts.size() < 3) return ERVec<ERPoint2D>(pts.data(), int(pts.size()));
  auto cross = [](const ERPoint2D& o, const ERPoint2D& a, const ERPoint2D& b) {
    return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
  };
  // Sorted by (y, x), the chains run right of the way up (x of the turn test mirrored).
  std::vector<ERPoint2D> h(2 * pts.size());
  std::size_t k = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    while (k >= 2 && cross(h[k - 2], h[k - 1], pts[i]) >= 0.0) --k;
    h[k++] = pts[i];
  }
  for (std::size_t i = pts.size() - 1, t = k + 1; i-- > 0;) {
    while (k >= t && cross(h[k - 2], h[k - 1], pts[i]) >= 0.0) --k;
    h[k++] = pts[i];
  }
  h.resize(k - 1);
  // Those chains turn clockwise: reversed, keeping the lowest point first.
  std::reverse(h.begin() + 1, h.end());
  return ERVec<ERPoint2D>(h.data(), int(h.size()));
}

QuickAlgebra::ERVec<ERPoint2D> ERSpoleRep::getConvexHull() const {
  return hull_.get([this] { return _calculateConvexHull(nullptr); });
}

QuickAlgebra::ERVec<ERPoint2D> ERSpoleRep::getConvexHull(const ERPmIsometrie3D& T) const {
  return _calculateConvexHull(&T);
}

ERMinimax3D ERSpoleRep::getBox() const {
  return box_.get([this] { return _calculateBox(); });
}

double ERSpoleRep::upperEstimate(bool inU) const {
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  if (!n.fits()) return 0.0;
  double wmin = HUGE_VAL, wmax = 0.0, longest = 0.0;
  const int outer = inU ? n.nv : n.nu, inner = inU ? n.nu : n.nv;
  for (int a = 0; a < outer; ++a) {
    double len = 0.0;
    ERPoint3D prev;
    for (int b = 0; b < inner; ++b) {
      double w;
      const ERPoint3D p = inU ? cartesian(n, b, a, w) : cartesian(n, a, b, w);
      wmin = std::min(wmin, w), wmax = std::max(wmax, w);
      if (b > 0) len += qorv::distance(prev, p);
      prev = p;
    }
    longest = std::max(longest, len);
  }
  if (!(wmin > 0.0)) return HUGE_VAL;
  return longest * (wmax / wmin);
}

double ERSpoleRep::_calculateUpperEstimateU() const { return upperEstimate(true); }
double ERSpoleRep::_calculateUpperEstimateV() const { return upperEstimate(false); }

double ERSpoleRep::upperEstimateInU() const {
  return estU_.get([this] { return _calculateUpperEstimateU(); });
}
double ERSpoleRep::upperEstimateInV() const {
  return estV_.get([this] { return _calculateUpperEstimateV(); });
}

ERVec<ERPole3DH> ERSpoleRep::isoPoles(const detail::NetView& n, double t, bool alongV) const {
  // alongV: u = t fixed, the curve runs in v over the rows' combinations.
  const int p = alongV ? n.pu : n.pv;
  const double* K = alongV ? n.ku : n.kv;
  const int m = alongV ? n.mu : n.mv;
  const bool left = alongV ? !(t < ufin()) : !(t < vfin());
  const int s = spanOf(K, m, p, t, left);
  SpanScratch sc, sb;
  double* N = sc.get(static_cast<std::size_t>(p + 1));
  basisDers(K, p, s, t, 0, N, sb);
  const int count = alongV ? n.nv : n.nu;
  ERVec<ERPole3DH> out(count);
  for (int c = 0; c < count; ++c) {
    double h[4] = {0, 0, 0, 0};
    for (int r = 0; r <= p; ++r) {
      const int i = alongV ? s - p + r : c, j = alongV ? c : s - p + r;
      const double* P = n.poles + (static_cast<std::ptrdiff_t>(j) * n.nu + i) * n.stride;
      const double w = n.stride == 4 ? P[3] : 1.0;
      h[0] += N[r] * P[0], h[1] += N[r] * P[1], h[2] += N[r] * P[2], h[3] += N[r] * w;
    }
    out[c] = ERPole3DH(h[0], h[1], h[2], h[3]);
  }
  return out;
}

// The pole curve at a fixed parameter t of one direction (alongV: S(t, .)), over the other
// direction's limits: Bezier forms for Bezier patches, else NURBS on that direction's knots.
t_SmartPtr<ERFiniteEntity3DWF> ERSpoleRep::isoCurve(double t, bool alongV) const {
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  if (!n.fits() || !std::isfinite(t)) return t_SmartPtr<ERFiniteEntity3DWF>();
  const ERVec<ERPole3DH> h = isoPoles(n, t, alongV);
  const ERLimites trim = alongV ? getBoundV() : getBoundU();
  if (isBezier() && dynamic_cast<const ERSpoleNURBS3D*>(this) == nullptr) {
    const ERLimites dom = alongV ? ERLimites(NVdeb(), NVfin()) : ERLimites(NUdeb(), NUfin());
    if (n.stride == 3) {
      ERVec<ERPoint3D> pts(h.length());
      for (int i = 0; i < h.length(); ++i) pts[i] = ERPoint3D(h[i].wx(), h[i].wy(), h[i].wz());
      auto* c = new ERCpoleBezier3D(pts, dom);
      if (!(trim == dom)) c->setBound(trim);
      return t_SmartPtr<ERFiniteEntity3DWF>(c);
    }
    auto* c = new ERCpoleBezier3DR(h, dom);
    if (!(trim == dom)) c->setBound(trim);
    return t_SmartPtr<ERFiniteEntity3DWF>(c);
  }
  return t_SmartPtr<ERFiniteEntity3DWF>(new ERCpoleNURBS3D(h, alongV ? knotsV() : knotsU(), trim));
}

t_SmartPtr<ERFiniteEntity3DWF> ERSpoleRep::getEntityIsoU(double u) const {
  return isoCurve(u, true);
}
t_SmartPtr<ERFiniteEntity3DWF> ERSpoleRep::getEntityIsoV(double v) const {
  return isoCurve(v, false);
}

void ERSpoleRep::GetNumberOfSpans(int& nu, int& nv) const {
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  nu = nv = 0;
  if (!n.fits()) return;
  int u0, u1, v0, v1;
  trimmedSpans(n, u0, u1, v0, v1);
  for (int s = u0; s <= u1; ++s) nu += n.ku[s] < n.ku[s + 1];
  for (int s = v0; s <= v1; ++s) nv += n.kv[s] < n.kv[s + 1];
}

void ERSpoleRep::GetSpanBoxes(QuickAlgebra::ERSimpleVec2<ERMinimax3D>& boxes) const {
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  int cu = 0, cv = 0;
  GetNumberOfSpans(cu, cv);
  boxes.reshape(cu, cv);
  if (cu == 0 || cv == 0) return;
  int u0, u1, v0, v1;
  trimmedSpans(n, u0, u1, v0, v1);
  int iu = 0;
  for (int su = u0; su <= u1; ++su) {
    if (!(n.ku[su] < n.ku[su + 1])) continue;
    int iv = 0;
    for (int sv = v0; sv <= v1; ++sv) {
      if (!(n.kv[sv] < n.kv[sv + 1])) continue;
      ERMinimax3D b;
      for (int j = sv - n.pv; j <= sv; ++j)
        for (int i = su - n.pu; i <= su; ++i) {
          double w;
          const ERPoint3D p = cartesian(n, i, j, w);
          if (finite3(p)) b.Update(p);
        }
      boxes(iu, iv) = b;
      ++iv;
    }
    ++iu;
  }
}

// ---------------------------------------------------------------------------------------------
// The three classes

namespace {

// Weighted pole moved by a similitude: L(w x) + w o (a zero weight stays a direction).
ERPole3DH movePole(const ERPmSimilitude3D& T, const ERPole3DH& h, bool forward) {
  const ERVector3D xyz(h.wx(), h.wy(), h.wz());
  const ERVector3D v = forward ? (T >> xyz) : (T << xyz);
  const ERPoint3D o = forward ? (T >> ERPoint3D(0, 0, 0)) : (T << ERPoint3D(0, 0, 0));
  const double w = h.data()[3];
  return ERPole3DH(v.x() + w * o.x(), v.y() + w * o.y(), v.z() + w * o.z(), w);
}
ERPoint3D movePole(const ERPmSimilitude3D& T, const ERPoint3D& p, bool forward) {
  return forward ? (T >> p) : (T << p);
}
ERPole3DH scaled(const ERPole3DH& h, double k) {
  return ERPole3DH(h.wx() * k, h.wy() * k, h.wz() * k, h.data()[3]);
}
ERPoint3D scaled(const ERPoint3D& p, double k) {
  return ERPoint3D(p.x() * k, p.y() * k, p.z() * k);
}
ERPole3DH shifted(const ERPole3DH& h, const ERPoint3D& t) {
  const double w = h.data()[3];
  return ERPole3DH(h.wx() + w * t.x(), h.wy() + w * t.y(), h.wz() + w * t.z(), w);
}
ERPoint3D shifted(const ERPoint3D& p, const ERPoint3D& t) {
  return ERPoint3D(p.x() + t.x(), p.y() + t.y(), p.z() + t.z());
}
ERPole3DH toHomogeneous(const ERPole3DH& h) { return h; }
ERPole3DH toHomogeneous(const ERPoint3D& p) { return ERPole3DH(p, 1.0); }

template <class Pole>
ERMatrix<Pole> transposed(const ERMatrix<Pole>& m) {
  ERMatrix<Pole> t(m.cols(), m.rows());
  for (int i = 0; i < m.rows(); ++i)
    for (int j = 0; j < m.cols(); ++j) t(j, i) = m(i, j);
  return t;
}

template <class Pole>
bool polesOk(const ERMatrix<Pole>& m) {
  if (m.rows() <= 0 || m.cols() <= 0) return false;
  for (int k = 0; k < m.length(); ++k) {
    const double* d = m.data()[k].data();
    for (int c = 0; c < Pole::kSize; ++c)
      if (!std::isfinite(d[c])) return false;
    if constexpr (Pole::kSize == 4)
      if (!(d[3] > 0.0)) return false;
  }
  return true;
}

// The Bezier sequence of degree p on [a, b] into buf.
const double* bezierKnots(ERVec<double>& buf, int p, double a, double b) {
  if (p < 0) return nullptr;
  buf = ERVec<double>(2 * (p + 1));
  for (int i = 0; i <= p; ++i) buf[i] = a, buf[p + 1 + i] = b;
  return buf.data();
}

// A split of a copy at t: the trimmed limits cut there. 0 when t is not strictly inside.
template <class Class>
int splitCopy(const Class& s, t_SmartPtr<ERAnyBoundedSurface>& low,
              t_SmartPtr<ERAnyBoundedSurface>& high, double t, bool inU) {
  const ERLimites b = inU ? s.getBoundU() : s.getBoundV();
  if (!(t > std::min(b.start(), b.end()) && t < std::max(b.start(), b.end()))) return 0;
  auto* a = new Class(s);
  auto* c = new Class(s);
  if (inU) {
    a->setBound(ERLimites(b.start(), t), s.getBoundV());
    c->setBound(ERLimites(t, b.end()), s.getBoundV());
  } else {
    a->setBound(s.getBoundU(), ERLimites(b.start(), t));
    c->setBound(s.getBoundU(), ERLimites(t, b.end()));
  }
  a->ResetCaches(), c->ResetCaches();
  low = t_SmartPtr<ERAnyBoundedSurface>(a);
  high = t_SmartPtr<ERAnyBoundedSurface>(c);
  return 1;
}

}  // namespace

#define QORV_SPOLE_BODY(Class, Pole, Stride)                                                       \
  int Class::degreeU() const { return QORV_SPOLE_DEG_U_##Class; }                                  \
  int Class::degreeV() const { return QORV_SPOLE_DEG_V_##Class; }                                  \
  ERMatrix<ERPole3DH> Class::homogeneousPoles() const {                                            \
    ERMatrix<ERPole3DH> h(poles_.rows(), poles_.cols());                                           \
    for (int k = 0; k < poles_.length(); ++k) h.data()[k] = toHomogeneous(poles_.data()[k]);       \
    return h;                                                                                      \
  }                                                                                                \
  void Class::scale(double k) {                                                                    \
    for (int i = 0; i < poles_.length(); ++i) poles_.data()[i] = scaled(poles_.data()[i], k);      \
    ResetCaches();                                                                                 \
  }                                                                                                \
  void Class::translate(const ERPoint3D& t) {                                                      \
    for (int i = 0; i < poles_.length(); ++i) poles_.data()[i] = shifted(poles_.data()[i], t);     \
    ResetCaches();                                                                                 \
  }                                                                                                \
  void Class::moveBy(const ERPmSimilitude3D& T, bool forward) {                                    \
    for (int i = 0; i < poles_.length(); ++i)                                                      \
      poles_.data()[i] = movePole(T, poles_.data()[i], forward);                                   \
    ResetCaches();                                                                                 \
  }                                                                                                \
  int Class::SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high, \
                      double u) const {                                                            \
    return splitCopy(*this, low, high, u, true);                                                   \
  }                                                                                                \
  int Class::SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high, \
                      double v) const {                                                            \
    return splitCopy(*this, low, high, v, false);                                                  \
  }                                                                                                \
  QORV_DEFINE_COPYABLE(Class)

#define QORV_SPOLE_DEG_U_ERSpoleBezier3D poles_.cols() - 1
#define QORV_SPOLE_DEG_V_ERSpoleBezier3D poles_.rows() - 1
#define QORV_SPOLE_DEG_U_ERSpoleBezier3DR poles_.cols() - 1
#define QORV_SPOLE_DEG_V_ERSpoleBezier3DR poles_.rows() - 1
#define QORV_SPOLE_DEG_U_ERSpoleNURBS3D ku_.degree()
#define QORV_SPOLE_DEG_V_ERSpoleNURBS3D kv_.degree()

QORV_SPOLE_BODY(ERSpoleBezier3D, ERPoint3D, 3)
QORV_SPOLE_BODY(ERSpoleBezier3DR, ERPole3DH, 4)
QORV_SPOLE_BODY(ERSpoleNURBS3D, ERPole3DH, 4)

// ---- Bezier patches
#define QORV_SPOLE_BEZIER_BODY(Class, Stride)                                             \
  detail::NetView Class::view(ERVec<double>& bu, ERVec<double>& bv) const {               \
    detail::NetView n;                                                                    \
    n.poles = poles_.length() > 0 ? poles_.data()[0].data() : nullptr;                    \
    n.stride = Stride;                                                                    \
    n.nu = poles_.cols(), n.nv = poles_.rows();                                           \
    n.pu = n.nu - 1, n.pv = n.nv - 1;                                                     \
    n.ku = bezierKnots(bu, n.pu, NUdeb(), NUfin()), n.mu = bu.length();                   \
    n.kv = bezierKnots(bv, n.pv, NVdeb(), NVfin()), n.mv = bv.length();                   \
    return n;                                                                             \
  }                                                                                       \
  ERKnotVector Class::knotsU() const {                                                    \
    return ERKnotVector(std::max(0, poles_.cols() - 1), ERLimites(NUdeb(), NUfin()));     \
  }                                                                                       \
  ERKnotVector Class::knotsV() const {                                                    \
    return ERKnotVector(std::max(0, poles_.rows() - 1), ERLimites(NVdeb(), NVfin()));     \
  }                                                                                       \
  int Class::isValid() const {                                                            \
    if (!polesOk(poles_) || poles_.cols() > 1025 || poles_.rows() > 1025) return 0;       \
    for (double x : {NUdeb(), NUfin(), NVdeb(), NVfin(), udeb(), ufin(), vdeb(), vfin()}) \
      if (!std::isfinite(x)) return 0;                                                    \
    return NUdeb() < NUfin() && NVdeb() < NVfin();                                        \
  }                                                                                       \
  void Class::reverse() {                                                                 \
    poles_ = transposed(poles_);                                                          \
    ERBoundedSurface::reverse();                                                          \
    ResetCaches();                                                                        \
  }                                                                                       \
  void Class::printOn(std::ostream& os) const {                                           \
    ERBoundedSurface::printOn(os);                                                        \
    os << "Les Poles :" << '\n';                                                          \
    poles_.printOn(os);                                                                   \
    os << '\n';                                                                           \
  }                                                                                       \
  void Class::saveGuts(ERFile& f) const {                                                 \
    ERBoundedSurface::saveGuts(f);                                                        \
    poles_.saveGuts(f);                                                                   \
  }                                                                                       \
  void Class::restoreGuts(ERFile& f) {                                                    \
    const ERLimites nu = naturalU(), nv = naturalV(), tu = getBoundU(), tv = getBoundV(); \
    ERBoundedSurface::restoreGuts(f);                                                     \
    decltype(poles_) poles;                                                               \
    if (!poles.restoreGuts(f)) {                                                          \
      setLimits(nu, nv, tu, tv);                                                          \
      ResetCaches();                                                                      \
      return;                                                                             \
    }                                                                                     \
    poles_ = poles;                                                                       \
    ResetCaches();                                                                        \
  }                                                                                       \
  std::uint32_t Class::binaryStoreSize() const {                                          \
    return ERBoundedSurface::binaryStoreSize() + poles_.binaryStoreSize();                \
  }

QORV_SPOLE_BEZIER_BODY(ERSpoleBezier3D, 3)

namespace {

// Every row of a Bezier net elevated by t through the curve's own elevation.
template <class Curve, class Pole>
ERMatrix<Pole> elevateRows(const ERMatrix<Pole>& m, int t) {
  if (t <= 0 || m.rows() == 0 || m.cols() - 1 + t > 1024) return m;
  ERMatrix<Pole> out(m.rows(), m.cols() + t);
  for (int j = 0; j < m.rows(); ++j) {
    Curve c(m.row(j), ERLimites(0, 1));
    c.incrDegree(t);
    if (c.nbPoles() != out.cols()) return m;
    std::copy_n(c.poles().data(), out.cols(), out.rowData(j));
  }
  return out;
}

}  // namespace

namespace {

// Every row of a Bezier net lowered t times through the curve's own reduction; exact drops to 0
// when a row's reduction is not exact or cannot be made (fewer than 3 poles).
template <class Curve, class Pole>
ERMatrix<Pole> reduceRows(const ERMatrix<Pole>& m, int t, int& exact) {
  ERMatrix<Pole> cur = m;
  for (int k = 0; k < t; ++k) {
    if (cur.cols() < 3 || cur.rows() == 0) {
      exact = 0;
      break;
    }
    ERMatrix<Pole> out(cur.rows(), cur.cols() - 1);
    for (int j = 0; j < cur.rows(); ++j) {
      Curve c(cur.row(j), ERLimites(0, 1));
      if (c.decrDegree() != 1) exact = 0;
      if (c.nbPoles() != out.cols()) return m;
      std::copy_n(c.poles().data(), out.cols(), out.rowData(j));
    }
    cur = out;
  }
  return cur;
}

template <class Curve, class Pole>
int reduceNet(ERMatrix<Pole>& poles, int du, int dv) {
  int exact = 1;
  poles = transposed(reduceRows<Curve>(transposed(reduceRows<Curve>(poles, du, exact)), dv, exact));
  return exact;
}

}  // namespace

int ERSpoleBezier3D::decrDegree(int du, int dv) {
  ResetCaches();
  return reduceNet<ERCpoleBezier3D>(poles_, du, dv);
}

int ERSpoleBezier3DR::decrDegree(int du, int dv) {
  ResetCaches();
  return reduceNet<ERCpoleBezier3DR>(poles_, du, dv);
}

void ERSpoleBezier3D::incrDegree(int du, int dv) {
  ResetCaches();
  poles_ = transposed(
      elevateRows<ERCpoleBezier3D>(transposed(elevateRows<ERCpoleBezier3D>(poles_, du)), dv));
}
QORV_SPOLE_BEZIER_BODY(ERSpoleBezier3DR, 4)

void ERSpoleBezier3DR::incrDegree(int du, int dv) {
  ResetCaches();
  poles_ = transposed(
      elevateRows<ERCpoleBezier3DR>(transposed(elevateRows<ERCpoleBezier3DR>(poles_, du)), dv));
}

// ---- NURBS surfaces

ERSpoleNURBS3D::ERSpoleNURBS3D(const ERMatrix<ERPole3DH>& poles, const ERKnotVector& ku,
                               const ERKnotVector& kv)
    : ERSpoleRep(ERLimites(ku.first(), ku.last()), ERLimites(kv.first(), kv.last())),
      poles_(poles),
      ku_(ku),
      kv_(kv) {}

int ERSpoleNURBS3D::isBezier() const {
  return poles_.cols() == ku_.degree() + 1 && poles_.rows() == kv_.degree() + 1 &&
         !ku_.isUnclamped() && !kv_.isUnclamped();
}

detail::NetView ERSpoleNURBS3D::view(ERVec<double>&, ERVec<double>&) const {
  detail::NetView n;
  n.poles = poles_.length() > 0 ? poles_.data()[0].data() : nullptr;
  n.stride = 4;
  n.nu = poles_.cols(), n.nv = poles_.rows();
  n.pu = ku_.degree(), n.pv = kv_.degree();
  n.ku = ku_.data(), n.mu = ku_.length();
  n.kv = kv_.data(), n.mv = kv_.length();
  return n;
}

ERKnotVector ERSpoleNURBS3D::knotsU() const { return ku_; }
ERKnotVector ERSpoleNURBS3D::knotsV() const { return kv_; }

int ERSpoleNURBS3D::isValid() const {
  if (!polesOk(poles_) || ku_.degree() > 1024 || kv_.degree() > 1024) return 0;
  if (!knotsOk(ku_.data(), ku_.length(), ku_.degree(), poles_.cols())) return 0;
  if (!knotsOk(kv_.data(), kv_.length(), kv_.degree(), poles_.rows())) return 0;
  for (double x : {udeb(), ufin(), vdeb(), vfin()})
    if (!std::isfinite(x)) return 0;
  return 1;
}

void ERSpoleNURBS3D::reverse() {
  poles_ = transposed(poles_);
  std::swap(ku_, kv_);
  ERBoundedSurface::reverse();
  ResetCaches();
}

void ERSpoleNURBS3D::printOn(std::ostream& os) const {
  ERBoundedSurface::printOn(os);
  os << "Control Points :" << '\n';
  poles_.printOn(os);
  os << '\n' << "Knot u         :";
  ku_.printOn(os);
  os << '\n' << "Knot v         :";
  kv_.printOn(os);
  os << '\n';
}

void ERSpoleNURBS3D::saveGuts(ERFile& f) const {
  ERBoundedSurface::saveGuts(f);
  poles_.saveGuts(f);
  ku_.saveGuts(f);
  kv_.saveGuts(f);
}

void ERSpoleNURBS3D::restoreGuts(ERFile& f) {
  const ERLimites nu = naturalU(), nv = naturalV(), tu = getBoundU(), tv = getBoundV();
  ERBoundedSurface::restoreGuts(f);
  ERMatrix<ERPole3DH> poles;
  ERKnotVector ku, kv;
  const int ok = poles.restoreGuts(f) && ku.restoreGuts(f) && kv.restoreGuts(f);
  const bool empty = poles.length() == 0 && ku.length() == 0 && kv.length() == 0;
  if (!ok || (!empty && (ku.length() != poles.cols() + ku.degree() + 1 ||
                         kv.length() != poles.rows() + kv.degree() + 1))) {
    setLimits(nu, nv, tu, tv);
    ResetCaches();
    return;
  }
  poles_ = poles, ku_ = ku, kv_ = kv;
  ResetCaches();
}

std::uint32_t ERSpoleNURBS3D::binaryStoreSize() const {
  return ERBoundedSurface::binaryStoreSize() + poles_.binaryStoreSize() + ku_.binaryStoreSize() +
         kv_.binaryStoreSize();
}

// ---------------------------------------------------------------------------------------------
// Knot insertion and decomposition

namespace {

template <class Pole>
ERMatrix<Pole> transposedNet(const ERMatrix<Pole>& m) {
  return transposed(m);
}

bool netFits(const ERMatrix<ERPole3DH>& poles, const ERKnotVector& k) {
  return poles.rows() > 0 && poles.cols() > 0 && k.length() == poles.cols() + k.degree() + 1;
}

// Every row of the net through the curve operation op (which edits a NURBS curve); the rows
// must come out alike.
template <class Op>
int eachRow(ERMatrix<ERPole3DH>& poles, ERKnotVector& knots, Op op) {
  if (!netFits(poles, knots)) return 0;
  ERMatrix<ERPole3DH> out;
  ERKnotVector nk;
  for (int j = 0; j < poles.rows(); ++j) {
    ERCpoleNURBS3D c(poles.row(j), knots);
    op(c);
    if (j == 0) {
      nk = c.knotVector();
      out = ERMatrix<ERPole3DH>(poles.rows(), c.nbPoles());
    } else if (c.nbPoles() != out.cols()) {
      return 0;
    }
    std::copy_n(c.poles().data(), out.cols(), out.rowData(j));
  }
  const int changed = nk.length() != knots.length() || !(nk.getVec() == knots.getVec());
  poles = out, knots = nk;
  return changed;
}

}  // namespace

int qorv::BoehmInU(ERMatrix<ERPole3DH>& poles, ERKnotVector& knotsU, double u, int r) {
  if (!std::isfinite(u) || r <= 0) return 0;
  return eachRow(poles, knotsU, [&](ERCpoleNURBS3D& c) { c.insertKnot(u, r); });
}

int qorv::BoehmInV(ERMatrix<ERPole3DH>& poles, ERKnotVector& knotsV, double v, int r) {
  ERMatrix<ERPole3DH> t = transposedNet(poles);
  const int done = BoehmInU(t, knotsV, v, r);
  if (done) poles = transposedNet(t);
  return done;
}

namespace {

// A degree change of every row of a NURBS net (op on each row's curve, true when it succeeded),
// then of every column; the net and knots change only when every curve succeeded alike.
template <class Op>
bool changeDegrees(ERMatrix<ERPole3DH>& poles, ERKnotVector& ku, ERKnotVector& kv, int du, int dv,
                   Op op) {
  ERMatrix<ERPole3DH> P = poles;
  ERKnotVector a = ku, b = kv;
  bool ok = true;
  auto one = [&](ERMatrix<ERPole3DH>& net, ERKnotVector& k, int t) {
    if (t <= 0 || !ok) return;
    const int target = k.degree() + op.step * t;
    ERKnotVector first;
    bool have = false;
    eachRow(net, k, [&](ERCpoleNURBS3D& c) {
      for (int i = 0; i < t && ok; ++i) ok = op(c);
      const ERKnotVector kc = c.knotVector();
      if (c.degree() != target) ok = false;
      if (!have)
        first = kc, have = true;
      else if (kc.length() != first.length() || !(kc.getVec() == first.getVec()))
        ok = false;
    });
    if (k.degree() != target) ok = false;
  };
  if (!netFits(P, a) || !netFits(transposedNet(P), b)) return false;
  one(P, a, du);
  ERMatrix<ERPole3DH> T = transposedNet(P);
  one(T, b, dv);
  if (!ok) return false;
  poles = transposedNet(T), ku = a, kv = b;
  return true;
}

struct Raise {
  int step = 1;
  bool operator()(ERCpoleNURBS3D& c) const {
    c.incrDegree(1);
    return true;
  }
};
struct Lower {
  int step = -1;
  bool operator()(ERCpoleNURBS3D& c) const { return c.decrDegree() == 1; }
};

}  // namespace

void ERSpoleNURBS3D::incrDegree(int du, int dv) {
  ResetCaches();
  if (!isValid()) return;
  changeDegrees(poles_, ku_, kv_, du, dv, Raise{});
}

int ERSpoleNURBS3D::decrDegree(int du, int dv) {
  ResetCaches();
  if (!isValid() || (du <= 0 && dv <= 0)) return 0;
  return changeDegrees(poles_, ku_, kv_, du, dv, Lower{}) ? 1 : 0;
}

void ERSpoleNURBS3D::insertKnotU(double u, int r) {
  ResetCaches();
  BoehmInU(poles_, ku_, u, r);
}

void ERSpoleNURBS3D::insertKnotV(double v, int r) {
  ResetCaches();
  BoehmInV(poles_, kv_, v, r);
}

namespace {

// Every row of a net on clamped knots cut into its Bezier pieces in one sweep (the rows in step,
// as the ratios depend on the knots only): each distinct interior knot raised to multiplicity p,
// the pieces sharing their end poles. False, and nothing changed, for knots it does not handle
// (unclamped, an interior multiplicity above p), which the insertion one knot at a time does.
bool bezierRows(ERMatrix<ERPole3DH>& net, ERKnotVector& k) {
  const int p = k.degree(), m = k.length() - 1, n = m - p - 1, rows = net.rows();
  const double* U = k.data();
  if (p < 1 || n < p || net.cols() != n + 1 || rows <= 0) return false;
  for (int i = 1; i <= p; ++i)
    if (U[i] != U[0] || U[m - i] != U[m]) return false;
  if (!(U[p] < U[p + 1]) || !(U[n] < U[n + 1])) return false;
  int pieces = 1;
  for (int i = p + 1; i <= n;) {
    int j = i;
    while (j < n && U[j + 1] == U[j]) ++j;
    if (j - i + 1 > p) return false;
    ++pieces, i = j + 1;
  }
  const int cols = pieces * p + 1;
  ERMatrix<ERPole3DH> out(rows, cols);
  std::vector<double> knots;
  knots.reserve(static_cast<std::size_t>(pieces * p + p + 2));
  for (int i = 0; i <= p; ++i) knots.push_back(U[0]);
  std::vector<double> alphas(static_cast<std::size_t>(p));
  // The piece of index nb runs over columns nb p .. nb p + p of out.
  auto Q = [&](int r, int nb, int i) -> double* { return out.rowData(r)[nb * p + i].data(); };
  for (int r = 0; r < rows; ++r)
    for (int i = 0; i <= p; ++i) out.rowData(r)[i] = net.rowData(r)[i];
  int a = p, b = p + 1, nb = 0;
  while (b < m) {
    const int i0 = b;
    while (b < m && U[b + 1] == U[b]) ++b;
    const int mult = b - i0 + 1;
    if (b < m) knots.insert(knots.end(), static_cast<std::size_t>(p), U[b]);
    if (mult < p) {
      const double numer = U[b] - U[a];
      for (int j = p; j > mult; --j) alphas[j - mult - 1] = numer / (U[a + j] - U[a]);
      const int rr = p - mult;
      for (int j = 1; j <= rr; ++j) {
        const int save = rr - j, s0 = mult + j;
        for (int row = 0; row < rows; ++row) {
          for (int kk = p; kk >= s0; --kk) {
            const double al = alphas[kk - s0];
            double* q = Q(row, nb, kk);
            const double* q1 = Q(row, nb, kk - 1);
            for (int c = 0; c < 4; ++c) q[c] = al * q[c] + (1.0 - al) * q1[c];
          }
          // The next piece's pole `save` (its columns overlap this piece's last one only).
          if (b < m && save > 0) {
            const double* last = Q(row, nb, p);
            double* nx = Q(row, nb + 1, save);
            for (int c = 0; c < 4; ++c) nx[c] = last[c];
          }
        }
      }
    }
    ++nb;
    if (b < m) {
      for (int row = 0; row < rows; ++row)
        for (int i = p - mult; i <= p; ++i)
          if (i > 0) out.rowData(row)[nb * p + i] = net.rowData(row)[b - p + i];
      a = b, b = b + 1;
    }
  }
  for (int i = 0; i <= p; ++i) knots.push_back(U[m]);
  net = std::move(out);
  k = ERKnotVector(p, knots.data(), static_cast<int>(knots.size()));
  return true;
}

}  // namespace

Nurbs3DToBezier3DRDecomposer::Nurbs3DToBezier3DRDecomposer(const ERSpoleNURBS3D& s) {
  if (!s.isValid()) return;
  ERMatrix<ERPole3DH> P = s.poles();
  ERKnotVector ku = s.knotsU(), kv = s.knotsV();
  // Both directions alike, v through the transposed net.
  auto refine = [](ERMatrix<ERPole3DH>& net, ERKnotVector& k) {
    if (k.isUnclamped()) eachRow(net, k, [](ERCpoleNURBS3D& c) { c.adjust(); });
    if (bezierRows(net, k)) return;
    const int p = k.degree();
    std::vector<double> inner;
    for (int i = p + 1; i < k.length() - p - 1; ++i)
      if (k[i] > k.first() && k[i] < k.last() && (inner.empty() || inner.back() != k[i]))
        inner.push_back(k[i]);
    for (double x : inner) BoehmInU(net, k, x, p);
  };
  refine(P, ku);
  ERMatrix<ERPole3DH> T = transposedNet(P);
  refine(T, kv);
  P = transposedNet(T);
  net_ = ERSpoleNURBS3D(P, ku, kv);
  const int pu = ku.degree(), pv = kv.degree();
  for (int i = pu; i + 1 < ku.length() - pu; ++i)
    if (ku[i] < ku[i + 1]) su_.push_back(i);
  for (int j = pv; j + 1 < kv.length() - pv; ++j)
    if (kv[j] < kv[j + 1]) sv_.push_back(j);
  nu_ = int(su_.size()), nv_ = int(sv_.size());
}

t_SmartPtr<ERSpoleBezier3DR> Nurbs3DToBezier3DRDecomposer::Bezier(int i, int j) const {
  if (i < 0 || j < 0 || i >= nu_ || j >= nv_) return t_SmartPtr<ERSpoleBezier3DR>();
  const ERKnotVector ku = net_.knotsU(), kv = net_.knotsV();
  const int pu = ku.degree(), pv = kv.degree(), su = su_[i], sv = sv_[j];
  ERMatrix<ERPole3DH> B(pv + 1, pu + 1);
  for (int b = 0; b <= pv; ++b)
    for (int a = 0; a <= pu; ++a) B(b, a) = net_.poles()(sv - pv + b, su - pu + a);
  return t_SmartPtr<ERSpoleBezier3DR>(
      new ERSpoleBezier3DR(B, ERLimites(ku[su], ku[su + 1]), ERLimites(kv[sv], kv[sv + 1])));
}

void Nurbs3DToBezier3DRDecomposer::reverse() {
  net_.reverse();
  std::swap(su_, sv_);
  std::swap(nu_, nv_);
}
void Nurbs3DToBezier3DRDecomposer::scale(double k) { net_.scale(k); }
void Nurbs3DToBezier3DRDecomposer::translate(const ERPoint3D& t) { net_.translate(t); }
void Nurbs3DToBezier3DRDecomposer::transformFrom(const ERPmSimilitude3D& T) {
  net_.transformFrom(T);
}
void Nurbs3DToBezier3DRDecomposer::transformTo(const ERPmSimilitude3D& T) { net_.transformTo(T); }
