#include "qorv/freeform/pole_curves.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "qorv/foundation/numerics.h"
#include "qorv/freeform/bezier_primitives.h"
#include "qorv/freeform/polynomial.h"
#include "qorv/measurement/sampling_lists.h"

using namespace qorv;

using QuickAlgebra::ERMatrix;
using QuickAlgebra::ERVec;

QORV_DEFINE_ABSTRACT_CLASS(ERCpoleRep2D);
QORV_DEFINE_ABSTRACT_CLASS(ERCpoleRep3D);
QORV_DEFINE_CLASS(ERCpoleBezier2D);
QORV_DEFINE_CLASS(ERCpoleBezier3D);
QORV_DEFINE_CLASS(ERCpoleBezier2DR);
QORV_DEFINE_CLASS(ERCpoleBezier3DR);
QORV_DEFINE_CLASS(ERCpoleNURBS2D);
QORV_DEFINE_CLASS(ERCpoleNURBS3D);

namespace {

using qorv::detail::kNaN;

// The point and first two derivatives of the spline on its non-empty span s at u, from the de
// Boor triangle on the p + 1 poles P (K doubles each): the last two levels are the blossoms
// f(u^(p-1), U[s]), f(u^(p-1), U[s+1]) and f(u^(p-2), U[s-1+i], U[s+i]), whose differences
// are the derivatives. Every knot difference met spans the span, so none is zero. Degrees up to
// kFastDegree.
constexpr int kFastDegree = 12;
template <int K>
void deBoor2(const double* U, int s, int p, double u, const double* P, double* a0, double* a1,
             double* a2) {
  double d[(kFastDegree + 1) * K], L1[2 * K], L2[3 * K];
  std::copy(P, P + (p + 1) * K, d);
  auto save = [&](int r) {
    if (r == p - 2) std::copy(d + (p - 2) * K, d + (p + 1) * K, L2);
    if (r == p - 1) std::copy(d + (p - 1) * K, d + (p + 1) * K, L1);
  };
  save(0);
  for (int r = 1; r <= p; ++r) {
    for (int j = p; j >= r; --j) {
      const int i = s - p + j;
      const double al = (u - U[i]) / (U[i + p + 1 - r] - U[i]);
      for (int k = 0; k < K; ++k)
        d[j * K + k] = (1.0 - al) * d[(j - 1) * K + k] + al * d[j * K + k];
    }
    save(r);
  }
  const double h = U[s + 1] - U[s];
  for (int k = 0; k < K; ++k) {
    a0[k] = d[p * K + k];
    a1[k] = p >= 1 ? p * (L1[K + k] - L1[k]) / h : 0.0;
    a2[k] = p >= 2 ? p * (p - 1.0) / h *
                         ((L2[2 * K + k] - L2[K + k]) / (U[s + 2] - U[s]) -
                          (L2[K + k] - L2[k]) / (U[s + 1] - U[s - 1]))
                   : 0.0;
  }
}

// The Bezier poles (p + 1 of K doubles) of the non-empty span s of the B-spline with knots U
// and flat poles H: the blossom at (a^(p-i), b^i), a de Boor run per pole. Every knot
// difference met is at least the span's length, so nothing divides by zero.
void spanBezier(const double* H, int K, const ERKnotVector& U, int s, double* out) {
  const int p = U.degree();
  const double a = U[s], b = U[s + 1];
  std::vector<double> w(static_cast<std::size_t>(p + 1) * K);
  for (int i = 0; i <= p; ++i) {
    std::copy(H + (s - p) * K, H + (s + 1) * K, w.begin());
    for (int j = 1; j <= p; ++j) {
      const double x = j <= p - i ? a : b;
      for (int l = p; l >= j; --l) {
        const int idx = s - p + l;
        const double al = (x - U[idx]) / (U[idx + p + 1 - j] - U[idx]);
        for (int k = 0; k < K; ++k)
          w[l * K + k] = (1.0 - al) * w[(l - 1) * K + k] + al * w[l * K + k];
      }
    }
    std::copy(w.begin() + p * K, w.begin() + (p + 1) * K, out + i * K);
  }
}

// One polynomial per coordinate of N Bezier poles of K doubles: the power form in s.
ERTValVector<ERPolynome> bezierToPower(const double* B, int N, int K) {
  ERTValVector<ERPolynome> r(K);
  const int n = N - 1;
  for (int k = 0; k < K; ++k) {
    ERPolynome q(polyConstructTag, n);
    for (int d = 0; d <= n; ++d) {
      double sum = 0.0;
      for (int j = 0; j <= d; ++j) sum += ((d - j) % 2 ? -1.0 : 1.0) * Cnp(d, j) * B[j * K + k];
      q[d] = Cnp(n, d) * sum;
    }
    r[k] = q;
  }
  return r;
}

// The largest distance of the points from the line through a and b (from a when they meet).
template <class Point>
double heightOverChord(const Point& a, const Point& b, const std::vector<Point>& pts) {
  constexpr int D = Point::kSize;
  double d[D], len = 0.0;
  for (int k = 0; k < D; ++k) d[k] = b.data()[k] - a.data()[k], len += d[k] * d[k];
  len = std::sqrt(len);
  double h = 0.0;
  for (const Point& q : pts) {
    double v[D], dot = 0.0;
    for (int k = 0; k < D; ++k) v[k] = q.data()[k] - a.data()[k];
    if (len > 0.0) {
      for (int k = 0; k < D; ++k) dot += v[k] * d[k] / len;
      for (int k = 0; k < D; ++k) v[k] -= dot * d[k] / len;
    }
    double e = 0.0;
    for (int k = 0; k < D; ++k) e += v[k] * v[k];
    h = std::max(h, std::sqrt(e));
    if (std::isnan(e)) return e;
  }
  return h;
}

// ---- degree and knot edits on flat homogeneous poles (K doubles each)

// The mismatch allowed between two estimates of a pole: 'rel' of the largest coordinate of the
// poles given, taken apart for the positions and for the weight (the last coordinate when
// 'weighted'), so that neither scale hides the other.
struct PoleTolerance {
  double pos = 0.0, w = 0.0;
  int K = 0;
  bool weighted = false;
  PoleTolerance(const double* P, int count, int K_, bool weighted_, double rel)
      : K(K_), weighted(weighted_) {
    const int D = weighted ? K - 1 : K;
    for (int i = 0; i < count; ++i) {
      for (int k = 0; k < D; ++k) pos = std::max(pos, std::fabs(P[i * K + k]));
      if (weighted) w = std::max(w, std::fabs(P[i * K + D]));
    }
    pos *= rel, w *= rel;
  }
  bool agree(const double* a, const double* b) const {
    const int D = weighted ? K - 1 : K;
    for (int k = 0; k < D; ++k)
      if (!(std::fabs(a[k] - b[k]) <= pos)) return false;
    return !weighted || std::fabs(a[D] - b[D]) <= w;
  }
};

constexpr double kRemovalTolerance = 1e-12;
// The highest degree elevation reaches: a NURBS curve's knot removals grow with the cube of it.
constexpr int kMaxNurbsDegree = 64;
constexpr int kMaxBezierDegree = 1024;
constexpr double kReductionTolerance = 1e-11;

// Least squares by Householder reflections: A (m x n, row-major, full column rank) X = B (m x
// K); X replaces the first n rows of B. A and B are overwritten.
void leastSquares(std::vector<double>& A, int m, int n, std::vector<double>& B, int K) {
  std::vector<double> v(m);
  for (int j = 0; j < n; ++j) {
    double norm = 0.0;
    for (int i = j; i < m; ++i) norm += A[i * n + j] * A[i * n + j];
    norm = std::sqrt(norm);
    if (norm == 0.0) continue;
    const double alpha = A[j * n + j] > 0.0 ? -norm : norm;
    double vv = 0.0;
    for (int i = j; i < m; ++i) v[i] = A[i * n + j] - (i == j ? alpha : 0.0), vv += v[i] * v[i];
    if (vv == 0.0) continue;
    for (int c = j; c < n; ++c) {
      double dot = 0.0;
      for (int i = j; i < m; ++i) dot += v[i] * A[i * n + c];
      for (int i = j; i < m; ++i) A[i * n + c] -= 2.0 * dot / vv * v[i];
    }
    for (int k = 0; k < K; ++k) {
      double dot = 0.0;
      for (int i = j; i < m; ++i) dot += v[i] * B[i * K + k];
      for (int i = j; i < m; ++i) B[i * K + k] -= 2.0 * dot / vv * v[i];
    }
  }
  for (int j = n - 1; j >= 0; --j)
    for (int k = 0; k < K; ++k) {
      double x = B[j * K + k];
      for (int c = j + 1; c < n; ++c) x -= A[j * n + c] * B[c * K + k];
      B[j * K + k] = x / A[j * n + j];
    }
}

// Removes the knot U[r] (its last occurrence; s its multiplicity) once from the degree-p
// spline. The p - s new poles are the least-squares solution of the p - s + 1 insertion
// equations that give back the old poles; the residual is exactly how far the old poles, and
// so the curve, move. Without 'force', false (nothing changed) when it exceeds the tolerance
// of the neighbouring poles.
bool removeKnotOnce(std::vector<double>& P, std::vector<double>& U, int K, int p, int r, int s,
                    bool weighted, bool force) {
  const int n = static_cast<int>(P.size()) / K;
  const int first = r - p, last = r - s;
  if (s < 1 || first < 1 || last + 1 >= n || r + 1 >= static_cast<int>(U.size())) return false;
  const double u = U[r];
  const int L = last - first, m = L + 1;
  const double* left = &P[(first - 1) * K];
  const double* right = &P[(last + 1) * K];
  // Row i: P[first + i] = a Q[first + i] + (1 - a) Q[first + i - 1], the outer Q known.
  std::vector<double> A(static_cast<std::size_t>(m) * std::max(L, 1), 0.0),
      B(static_cast<std::size_t>(m) * K);
  for (int i = 0; i < m; ++i) {
    const int row = first + i;
    const double a = (u - U[row]) / (U[row + p + 1] - U[row]);
    for (int k = 0; k < K; ++k) B[i * K + k] = P[row * K + k];
    if (i < L)
      A[i * L + i] = a;
    else
      for (int k = 0; k < K; ++k) B[i * K + k] -= a * right[k];
    if (i > 0)
      A[i * L + i - 1] = 1.0 - a;
    else
      for (int k = 0; k < K; ++k) B[k] -= (1.0 - a) * left[k];
  }
  const std::vector<double> A0(A), B0(B);
  if (L > 0) leastSquares(A, m, L, B, K);
  // The residual, pole by pole.
  std::vector<double> moved(static_cast<std::size_t>(m) * K), zero(K, 0.0);
  for (int i = 0; i < m; ++i)
    for (int k = 0; k < K; ++k) {
      double v = -B0[i * K + k];
      if (i < L) v += A0[i * L + i] * B[i * K + k];
      if (i > 0 && L > 0) v += A0[i * L + i - 1] * B[(i - 1) * K + k];
      if (!std::isfinite(v)) return false;
      moved[i * K + k] = v;
    }
  for (int k = 0; k < L * K; ++k)
    if (!std::isfinite(B[k])) return false;
  if (!force) {
    const PoleTolerance tol(left, L + 3, K, weighted, kRemovalTolerance);
    for (int i = 0; i < m; ++i)
      if (!tol.agree(&moved[i * K], zero.data())) return false;
  }
  std::vector<double> out;
  out.reserve(P.size() - K);
  out.insert(out.end(), P.begin(), P.begin() + first * K);
  out.insert(out.end(), B.begin(), B.begin() + L * K);
  out.insert(out.end(), P.begin() + (last + 1) * K, P.end());
  P.swap(out);
  U.erase(U.begin() + r);
  return true;
}

// The last index of the value u in U and its multiplicity; -1 when u is not a knot.
int lastIndexOf(const std::vector<double>& U, double u, int& s) {
  s = 0;
  int r = -1;
  for (int i = 0; i < static_cast<int>(U.size()); ++i)
    if (U[i] == u) r = i, ++s;
  return r;
}

// A clamped spline of degree p over the breakpoints of the domain of (P, U): the Bezier pieces
// of its non-empty spans, each changed by 'edit' (which may change their degree to q and
// returns false to give up), joined again with the breakpoints at multiplicity q (q + 1 where
// the old multiplicity was p + 1, a jump) and q + 1 at the ends. mult receives the old
// multiplicity of each interior breakpoint, x the breakpoints.
template <class Edit>
bool rebuildByPieces(const std::vector<double>& P, const ERKnotVector& U, int K, int q, Edit edit,
                     std::vector<double>& outP, std::vector<double>& outU, std::vector<double>& x,
                     std::vector<int>& mult) {
  const int p = U.degree(), n = static_cast<int>(P.size()) / K;
  outP.clear(), outU.clear(), x.clear(), mult.clear();
  std::vector<double> piece;
  bool any = false;
  for (int s = p; s < n; ++s) {
    if (!(U[s] < U[s + 1])) continue;
    piece.assign(static_cast<std::size_t>(std::max(p, q) + 1) * K, 0.0);
    spanBezier(P.data(), K, U, s, piece.data());
    if (!edit(piece.data())) return false;
    if (!any) {
      x.push_back(U[s]);
      outU.insert(outU.end(), q + 1, U[s]);
      outP.insert(outP.end(), piece.begin(), piece.begin() + (q + 1) * K);
    } else {
      int m = 0;
      for (int i = 0; i < static_cast<int>(U.length()); ++i) m += U[i] == U[s];
      mult.push_back(m);
      x.push_back(U[s]);
      if (m >= p + 1) {
        outU.insert(outU.end(), q + 1, U[s]);
        outP.insert(outP.end(), piece.begin(), piece.begin() + (q + 1) * K);
      } else {
        outU.insert(outU.end(), q, U[s]);
        double* joint = &outP[outP.size() - K];
        for (int k = 0; k < K; ++k) joint[k] = 0.5 * joint[k] + 0.5 * piece[k];
        outP.insert(outP.end(), piece.begin() + K, piece.begin() + (q + 1) * K);
      }
    }
    any = true;
  }
  if (!any) return false;
  // The last non-empty span ends at the domain end.
  x.push_back(U[n]);
  outU.insert(outU.end(), q + 1, U[n]);
  return true;
}

// Degree reduction of N Bezier poles (K doubles) in place, to N - 1 (n = N - 1, h = n / 2): the
// ends stay; the poles 1 .. h - 1 come forward from the start and h .. n - 2 backward from the
// end, whose last step (the equation of pole h) gives a second estimate of pole h - 1: averaged
// with the forward one when that is an inner pole, the first pole staying. True when the two
// estimates agree within 'rel' of the largest coordinate (the reduction is exact).
bool reduceBezier(double* P, int N, int K, bool weighted, double rel) {
  const int n = N - 1;
  if (n < 1) return false;
  const PoleTolerance tol(P, N, K, weighted, rel);
  std::vector<double> Q(static_cast<std::size_t>(n) * K), est(K);
  std::copy(P, P + K, Q.begin());
  std::copy(P + n * K, P + N * K, Q.begin() + (n - 1) * K);
  if (n == 1) return tol.agree(P, P + K);
  const int h = n / 2;
  for (int i = 1; i <= h - 1; ++i)
    for (int k = 0; k < K; ++k)
      Q[i * K + k] = Q[(i - 1) * K + k] + n / double(n - i) * (P[i * K + k] - Q[(i - 1) * K + k]);
  for (int i = n - 1; i >= h + 1; --i)
    for (int k = 0; k < K; ++k)
      Q[(i - 1) * K + k] = Q[i * K + k] + n / double(i) * (P[i * K + k] - Q[i * K + k]);
  for (int k = 0; k < K; ++k) est[k] = Q[h * K + k] + n / double(h) * (P[h * K + k] - Q[h * K + k]);
  double* meet = &Q[(h - 1) * K];
  const bool exact = tol.agree(est.data(), meet);
  if (h - 1 >= 1)
    for (int k = 0; k < K; ++k) meet[k] = 0.5 * meet[k] + 0.5 * est[k];
  std::copy(Q.begin(), Q.end(), P);
  return exact;
}

ERPoint2D originOf(const ERTransfo2D&) { return ERPoint2D(0.0, 0.0); }
ERPoint3D originOf(const ERPmSimilitude3D&) { return ERPoint3D(0.0, 0.0, 0.0); }
ERPoint2D mapFrom(const ERTransfo2D& T, const ERPoint2D& p) { return T >> p; }
ERVector2D mapFrom(const ERTransfo2D& T, const ERVector2D& v) { return T >> v; }
ERPoint2D mapTo(const ERTransfo2D& T, ERPoint2D p) { return T.TransTo(p), p; }
ERVector2D mapTo(const ERTransfo2D& T, ERVector2D v) { return T.TransTo(v), v; }
ERPoint3D mapFrom(const ERPmSimilitude3D& T, const ERPoint3D& p) { return T >> p; }
ERVector3D mapFrom(const ERPmSimilitude3D& T, const ERVector3D& v) { return T >> v; }
ERPoint3D mapTo(const ERPmSimilitude3D& T, const ERPoint3D& p) { return T << p; }
ERVector3D mapTo(const ERPmSimilitude3D& T, const ERVector3D& v) { return T << v; }

// The body shared by every pole curve: Pole is a Cartesian point (weight 1) or a weighted pole.
template <class Pole, class Point, class Vector, class Info, class Box>
struct PoleOps {
  static constexpr int D = Point::kSize;
  static constexpr int K = Pole::kSize;
  static constexpr bool kWeighted = K == D + 1;
  static_assert(sizeof(Pole) == sizeof(double) * K, "poles are packed doubles");

  static const double* flat(const ERVec<Pole>& p) {
    return reinterpret_cast<const double*>(p.data());
  }
  static double* flat(ERVec<Pole>& p) { return reinterpret_cast<double*>(p.data()); }

  static Point nanPoint() {
    Point p;
    for (int k = 0; k < D; ++k) p.data()[k] = kNaN;
    return p;
  }
  static Info nanInfo(double u) {
    Vector v;
    for (int k = 0; k < D; ++k) v.data()[k] = kNaN;
    return Info(u, 1, nanPoint(), v, v);
  }
  static double weight(const Pole& p) {
    if constexpr (kWeighted)
      return p.data()[D];
    else
      return 1.0;
  }
  static Point cartesian(const Pole& p) {
    Point r;
    const double w = weight(p);
    for (int k = 0; k < D; ++k) r.data()[k] = p.data()[k] / w;
    return r;
  }
  // The Cartesian point of a homogeneous value (K doubles); NaN unless finite.
  static Point divide(const double* a) {
    Point r;
    const double w = kWeighted ? a[D] : 1.0;
    for (int k = 0; k < D; ++k) {
      const double x = a[k] / w;
      if (!std::isfinite(x) || w == 0.0) return nanPoint();
      r.data()[k] = x;
    }
    return r;
  }
  // Point and two derivatives from the homogeneous value and its derivatives (quotient rule).
  static Info quotient(double u, const double* a, const double* a1, const double* a2) {
    const double w = kWeighted ? a[D] : 1.0;
    const double w1 = kWeighted ? a1[D] : 0.0, w2 = kWeighted ? a2[D] : 0.0;
    Point P;
    Vector T, A;
    for (int k = 0; k < D; ++k) {
      const double x = a[k] / w;
      const double x1 = (a1[k] - w1 * x) / w;
      const double x2 = (a2[k] - 2.0 * w1 * x1 - w2 * x) / w;
      if (w == 0.0 || !std::isfinite(x) || !std::isfinite(x1) || !std::isfinite(x2))
        return nanInfo(u);
      P.data()[k] = x, T.data()[k] = x1, A.data()[k] = x2;
    }
    return Info(u, 1, P, T, A);
  }

  static int finitePoles(const ERVec<Pole>& p) {
    for (int i = 0; i < p.length(); ++i) {
      for (int k = 0; k < K; ++k)
        if (!std::isfinite(p[i].data()[k])) return 0;
      if (!(weight(p[i]) > 0.0)) return 0;
    }
    return 1;
  }

  // ---- Bezier over [t0, t1]
  static Info bezierPtCur(const ERVec<Pole>& poles, double t0, double t1, double t) {
    const int N = poles.length();
    const double h = t1 - t0;
    const double s = (t - t0) / h;
    if (N == 0) return nanInfo(s);
    const std::size_t size = static_cast<std::size_t>(N) * (N + 1) / 2 * K;
    qorv::detail::StackBuffer<double, 512> buf(size);
    double* tri = buf.get();
    CasteljauAll(flat(poles), tri, N, s, K);
    const double* last = tri + size - K;
    double a1[K] = {}, a2[K] = {};
    const int n = N - 1;
    if (N >= 2) {
      const double* q = last - 2 * K;
      for (int k = 0; k < K; ++k) a1[k] = n / h * (q[K + k] - q[k]);
    }
    if (N >= 3) {
      const double* r = last - 5 * K;
      const double f = n * (n - 1.0) / (h * h);
      for (int k = 0; k < K; ++k) a2[k] = f * (r[2 * K + k] - 2.0 * r[K + k] + r[k]);
    }
    return quotient(s, last, a1, a2);
  }

  static Point bezierPoint(const ERVec<Pole>& poles, double t0, double t1, double t) {
    const int N = poles.length();
    if (N == 0) return nanPoint();
    double a[K];
    Casteljau(flat(poles), N, (t - t0) / (t1 - t0), K, a);
    return divide(a);
  }

  // ---- NURBS
  static int fits(const ERVec<Pole>& poles, const ERKnotVector& U) {
    return poles.length() > 0 && U.length() == poles.length() + U.degree() + 1;
  }
  // The span of t, -1 when the poles do not cover it.
  static int span(const ERVec<Pole>& poles, const ERKnotVector& U, double t) {
    if (!fits(poles, U)) return -1;
    const int s = U.FindSpan(t), p = U.degree();
    return s >= p && s < poles.length() ? s : -1;
  }

  static Info nurbsPtCur(const ERVec<Pole>& poles, const ERKnotVector& U, double t) {
    const int s = span(poles, U, t);
    if (s < 0) return nanInfo(t);
    const int p = U.degree();
    double a[3][K] = {};
    if (p <= kFastDegree && U[s] < U[s + 1]) {
      deBoor2<K>(U.data(), s, p, t, poles[s - p].data(), a[0], a[1], a[2]);
      return quotient(t, a[0], a[1], a[2]);
    }
    const ERMatrix<double> ders = U.DersBasisFuns(s, t, 2);
    for (int j = 0; j <= p; ++j) {
      const Pole& P = poles[s - p + j];
      const double w = weight(P);
      for (int d = 0; d < 3; ++d) {
        const double n = ders(d, j);
        for (int k = 0; k < D; ++k) a[d][k] += n * P.data()[k];
        if constexpr (kWeighted) a[d][D] += n * w;
      }
    }
    return quotient(t, a[0], a[1], a[2]);
  }

  static Pole nurbsHomogeneous(const ERVec<Pole>& poles, const ERKnotVector& U, double t) {
    Pole r;
    const int s = span(poles, U, t);
    if (s < 0) {
      for (int k = 0; k < K; ++k) r.data()[k] = kNaN;
      return r;
    }
    const int p = U.degree();
    qorv::detail::StackBuffer<double, 512> buf(static_cast<std::size_t>(p) + 1);
    double* N = buf.get();
    U.BasisFunsBuffer(s, t, N);
    for (int k = 0; k < K; ++k) r.data()[k] = 0.0;
    for (int j = 0; j <= p; ++j)
      for (int k = 0; k < K; ++k) r.data()[k] += N[j] * poles[s - p + j].data()[k];
    return r;
  }

  // Inserts u r times (Piegl and Tiller's A5.1 on the homogeneous poles): q gets the new poles,
  // r is cut to p - s and at is where the knots go; 0 when nothing is to be inserted.
  static int boehm(const ERVec<Pole>& P, const ERKnotVector& U, double u, int& r, ERVec<Pole>& q,
                   int& at) {
    const int p = U.degree(), np = P.length();
    if (r <= 0 || !fits(P, U) || !(U.first() <= u && u < U.last())) return 0;
    int k = p;  // the last index with U[k] <= u
    while (k + 1 < np && U[k + 1] <= u) ++k;
    int s = 0;
    while (s <= k && U[k - s] == u) ++s;
    r = std::min(r, p - s);
    if (r <= 0) return 0;
    q = ERVec<Pole>(np + r);
    for (int i = 0; i <= k - p; ++i) q[i] = P[i];
    for (int i = k - s; i < np; ++i) q[i + r] = P[i];
    std::vector<Pole> R(P.data() + (k - p), P.data() + (k - s) + 1);
    int L = k - p;
    for (int j = 1; j <= r; ++j) {
      L = k - p + j;
      for (int i = 0; i <= p - j - s; ++i) {
        const double a = (u - U[L + i]) / (U[i + k + 1] - U[L + i]);
        for (int d = 0; d < K; ++d)
          R[i].data()[d] = a * R[i + 1].data()[d] + (1.0 - a) * R[i].data()[d];
      }
      q[L] = R[0];
      q[k + r - j - s] = R[p - j - s];
    }
    for (int i = L + 1; i < k - s; ++i) q[i] = R[i - L];
    at = k + 1;
    return 1;
  }

  static int knotsValid(const ERKnotVector& U, int nbPoles) {
    const int m = U.length();
    if (m != nbPoles + U.degree() + 1) return 0;
    for (int i = 0; i < m; ++i) {
      if (!std::isfinite(U[i])) return 0;
      if (i > 0 && U[i] < U[i - 1]) return 0;
    }
    return U.first() < U.last();
  }

  // ---- shared edits
  static void scale(ERVec<Pole>& poles, double f) {
    for (Pole& P : poles)
      for (int k = 0; k < D; ++k) P.data()[k] *= f;
  }
  static void translate(ERVec<Pole>& poles, const Point& v) {
    for (Pole& P : poles) {
      const double w = weight(P);
      for (int k = 0; k < D; ++k) P.data()[k] += w * v.data()[k];
    }
  }
  // Weighted poles: (w x, w) -> (L(w x) + w o, w), so a zero weight stays a direction.
  template <class Transfo, class MapPoint, class MapVector>
  static void transform(ERVec<Pole>& poles, const Transfo& T, MapPoint mapPoint,
                        MapVector mapVector) {
    const Point o = mapPoint(T, originOf(T));
    for (Pole& P : poles) {
      if constexpr (kWeighted) {
        Vector v;
        for (int k = 0; k < D; ++k) v.data()[k] = P.data()[k];
        const Vector r = mapVector(T, v);
        const double w = P.data()[D];
        for (int k = 0; k < D; ++k) P.data()[k] = r.data()[k] + w * o.data()[k];
      } else {
        P = mapPoint(T, P);
      }
    }
  }
  static void reversePoles(ERVec<Pole>& poles) {
    if (poles.length() > 1) std::reverse(poles.begin(), poles.end());
  }

  // The power form of span i (knot span U[p + i], U[p + i + 1]); empty when the span is not
  // one of the curve's, or is at most 1e-11 long.
  static ERTValVector<ERPolynome> spanPower(const ERVec<Pole>& poles, const ERKnotVector& U, int i,
                                            bool bezier) {
    const int p = U.degree(), n = poles.length();
    if (!fits(poles, U) || i < 0 || i >= n - p) return {};
    if (bezier) return bezierToPower(flat(poles), n, K);
    const int s = p + i;
    if (!(U[s + 1] - U[s] > 1e-11)) return {};
    std::vector<double> B(static_cast<std::size_t>(p + 1) * K);
    spanBezier(flat(poles), K, U, s, B.data());
    return bezierToPower(B.data(), p + 1, K);
  }

  static std::vector<double> toFlat(const ERVec<Pole>& poles) {
    return std::vector<double>(flat(poles),
                               flat(poles) + static_cast<std::size_t>(poles.length()) * K);
  }
  static ERVec<Pole> fromFlat(const std::vector<double>& P) {
    ERVec<Pole> r(static_cast<int>(P.size() / K));
    std::copy(P.begin(), P.end(), flat(r));
    return r;
  }
  static bool positiveWeights(const std::vector<double>& P) {
    if constexpr (kWeighted)
      for (std::size_t i = D; i < P.size(); i += K)
        if (!(P[i] > 0.0)) return false;
    return true;
  }

  // Degree elevation by t through the Bezier pieces, then back to multiplicity s + t at every
  // interior breakpoint (s the old one): the knots become incDegree(t) of the clamped vector.
  static bool elevate(ERVec<Pole>& poles, ERKnotVector& U, int t) {
    if (t <= 0 || t > kMaxNurbsDegree - U.degree() || !finitePoles(poles) ||
        !knotsValid(U, poles.length()))
      return false;
    const int p = U.degree(), q = p + t;
    std::vector<double> outP, outU, x;
    std::vector<int> mult;
    auto edit = [&](double* piece) {
      BezierIncreaseDegree(piece, p + 1, t, K);
      return true;
    };
    if (!rebuildByPieces(toFlat(poles), U, K, q, edit, outP, outU, x, mult)) return false;
    for (std::size_t j = 0; j < mult.size(); ++j)
      for (int s = 0, r = lastIndexOf(outU, x[j + 1], s); s > mult[j] + t;
           r = lastIndexOf(outU, x[j + 1], s))
        if (!removeKnotOnce(outP, outU, K, q, r, s, kWeighted, true)) return false;
    poles = fromFlat(outP);
    U = ERKnotVector(q, outU.data(), static_cast<int>(outU.size()));
    return true;
  }

  // Degree reduction by one when every Bezier piece reduces exactly and every breakpoint comes
  // back to its multiplicity - 1 within tolerance.
  static bool reduce(ERVec<Pole>& poles, ERKnotVector& U) {
    const int p = U.degree();
    if (p < 1 || !finitePoles(poles) || !knotsValid(U, poles.length())) return false;
    const int q = p - 1;
    std::vector<double> outP, outU, x;
    std::vector<int> mult;
    auto edit = [&](double* piece) {
      return reduceBezier(piece, p + 1, K, kWeighted, kReductionTolerance);
    };
    if (!rebuildByPieces(toFlat(poles), U, K, q, edit, outP, outU, x, mult)) return false;
    for (std::size_t j = 0; j < mult.size(); ++j)
      for (int s = 0, r = lastIndexOf(outU, x[j + 1], s); s > std::max(mult[j] - 1, 0);
           r = lastIndexOf(outU, x[j + 1], s))
        if (!removeKnotOnce(outP, outU, K, q, r, s, kWeighted, false)) return false;
    if (!positiveWeights(outP)) return false;
    poles = fromFlat(outP);
    U = ERKnotVector(q, outU.data(), static_cast<int>(outU.size()));
    return true;
  }

  // Removes u (strictly inside the domain) min(r, multiplicity) times, every removal within
  // tolerance; false and nothing changed otherwise.
  static bool removeKnot(ERVec<Pole>& poles, ERKnotVector& U, double u, int r) {
    if (r <= 0 || !finitePoles(poles) || !knotsValid(U, poles.length()) ||
        !(U.first() < u && u < U.last()))
      return false;
    const int p = U.degree();
    std::vector<double> P = toFlat(poles), V(U.data(), U.data() + U.length());
    int s = 0;
    if (lastIndexOf(V, u, s) < 0) return false;
    for (int k = std::min(r, s); k > 0; --k) {
      const int idx = lastIndexOf(V, u, s);
      if (!removeKnotOnce(P, V, K, p, idx, s, kWeighted, false)) return false;
    }
    if (!positiveWeights(P)) return false;
    poles = fromFlat(P);
    U = ERKnotVector(p, V.data(), static_cast<int>(V.size()));
    return true;
  }

  // The poles and knots of the mirror image t -> -t (exact: negation does not round).
  static void mirror(ERVec<Pole>& poles, ERKnotVector& U) {
    reversePoles(poles);
    std::vector<double> k(U.length());
    for (int i = 0; i < U.length(); ++i) k[i] = -U[U.length() - 1 - i];
    U = ERKnotVector(U.degree(), k.data(), static_cast<int>(k.size()));
  }
  // Restricts a valid spline to [a, b] inside its domain, clamped at both ends: b and a are
  // inserted up to multiplicity p (b as the start of the mirror image) and the outer poles
  // and knots dropped. False, nothing changed, otherwise.
  static bool clampTo(ERVec<Pole>& poles, ERKnotVector& U, double a, double b) {
    if (!fits(poles, U) || !knotsValid(U, poles.length()) ||
        !(U.first() <= a && a < b && b <= U.last()))
      return false;
    const int p = U.degree();
    ERVec<Pole> P(poles), q;
    ERKnotVector V(U);
    int at = 0, r = p;
    mirror(P, V);
    if (boehm(P, V, -b, r, q, at)) P = q, V.insertAt(at, -b, r);
    mirror(P, V);
    r = p;
    if (boehm(P, V, a, r, q, at)) P = q, V.insertAt(at, a, r);
    int e = -1, f = -1;
    for (int i = 0; i < V.length(); ++i) {
      if (V[i] == a) e = i;
      if (V[i] == b && f < 0) f = i;
    }
    if (e < p || f <= e || f > P.length()) return false;
    std::vector<double> k(p + 1, a);
    for (int i = e + 1; i < f; ++i) k.push_back(V[i]);
    k.insert(k.end(), p + 1, b);
    poles = ERVec<Pole>(P.data() + (e - p), f - e + p);
    U = ERKnotVector(p, k.data(), static_cast<int>(k.size()));
    return true;
  }

  // first then second, end to end: the same degree p >= 1, second's knots starting where
  // first's end, both clamped. second's weights are scaled to meet first's at the joint, whose
  // pole is first's end (keep 0), second's start (1) or their middle (2).
  static void join(ERVec<Pole>& poles, ERKnotVector& U, const ERVec<Pole>& A,
                   const ERKnotVector& UA, ERVec<Pole> B, const ERKnotVector& UB, int keep) {
    const int p = UA.degree(), nA = A.length();
    if constexpr (kWeighted) {
      const double f = weight(A[nA - 1]) / weight(B[0]);
      for (Pole& P : B)
        for (int k = 0; k < K; ++k) P.data()[k] *= f;
    }
    ERVec<Pole> out(A.data(), nA - 1);
    Pole joint = keep == 0 ? A[nA - 1] : B[0];
    if (keep == 2)
      for (int k = 0; k < K; ++k)
        joint.data()[k] = 0.5 * A[nA - 1].data()[k] + 0.5 * B[0].data()[k];
    out.append(joint);
    for (int i = 1; i < B.length(); ++i) out.append(B[i]);
    std::vector<double> k(UA.data(), UA.data() + (UA.length() - p - 1));
    k.insert(k.end(), p, UA.last());
    k.insert(k.end(), UB.data() + p + 1, UB.data() + UB.length());
    poles = out;
    U = ERKnotVector(p, k.data(), static_cast<int>(k.size()));
  }

  static void printPoles(std::ostream& os, const ERVec<Pole>& poles) {
    os << "Poles :\n(" << poles.length() << ")[";
    for (int i = 0; i < poles.length(); ++i) {
      if (i != 0) os << ',';
      poles[i].printOn(os);
    }
    os << "]\n";
  }

  static Box box(const Pole* poles, int n) {
    Box b;
    for (int i = 0; i < n; ++i) b.Update(cartesian(poles[i]));
    return b;
  }
};

using OpsB2 = PoleOps<ERPoint2D, ERPoint2D, ERVector2D, ERInfoPoint2D, ERMinimax2D>;
using OpsB3 = PoleOps<ERPoint3D, ERPoint3D, ERVector3D, ERInfoPoint3DWF, ERMinimax3D>;
using OpsH2 = PoleOps<ERPole2DH, ERPoint2D, ERVector2D, ERInfoPoint2D, ERMinimax2D>;
using OpsH3 = PoleOps<ERPole3DH, ERPoint3D, ERVector3D, ERInfoPoint3DWF, ERMinimax3D>;

// Adaptive Simpson on the speed.
template <class Curve>
double simpson(const Curve& c, double a, double b, double fa, double fm, double fb, double whole,
               double tol, int depth) {
  const double m = 0.5 * (a + b), lm = 0.5 * (a + m), rm = 0.5 * (m + b);
  const double flm = c.PtCur(lm).tangente().norme(), frm = c.PtCur(rm).tangente().norme();
  const double left = (m - a) / 6.0 * (fa + 4.0 * flm + fm);
  const double right = (b - m) / 6.0 * (fm + 4.0 * frm + fb);
  const double both = left + right;
  if (depth <= 0 || !(std::fabs(both - whole) > 15.0 * tol)) return both + (both - whole) / 15.0;
  return simpson(c, a, m, fa, flm, fm, left, 0.5 * tol, depth - 1) +
         simpson(c, m, b, fm, frm, fb, right, 0.5 * tol, depth - 1);
}

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
      sum += simpson(c, x0, x1, f0, fm, f1, (x1 - x0) / 6.0 * (f0 + 4.0 * fm + f1), share, 40);
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

// Members common to the six classes; the pole record and the transformations.
#define QORV_CPOLE_COMMON_BODY(Class, Rep, Ops, Point, Pole, Transfo)                   \
  double Class::poleWeight(int i) const {                                               \
    return i >= 0 && i < poles_.length() ? Ops::weight(poles_[i]) : kNaN;               \
  }                                                                                     \
  Point Class::operator[](int i) const {                                                \
    return i >= 0 && i < poles_.length() ? Ops::cartesian(poles_[i]) : Ops::nanPoint(); \
  }                                                                                     \
  void Class::scale(double s) {                                                         \
    ResetCachedInfo();                                                                  \
    Ops::scale(poles_, s);                                                              \
  }                                                                                     \
  void Class::translate(const Point& v) {                                               \
    ResetCachedInfo();                                                                  \
    Ops::translate(poles_, v);                                                          \
  }                                                                                     \
  void Class::transformFrom(const Transfo& T) {                                         \
    ResetCachedInfo();                                                                  \
    Ops::transform(                                                                     \
        poles_, T, [](const Transfo& M, const Point& p) { return mapFrom(M, p); },      \
        [](const Transfo& M, const auto& v) { return mapFrom(M, v); });                 \
  }                                                                                     \
  void Class::transformTo(const Transfo& T) {                                           \
    ResetCachedInfo();                                                                  \
    Ops::transform(                                                                     \
        poles_, T, [](const Transfo& M, const Point& p) { return mapTo(M, p); },        \
        [](const Transfo& M, const auto& v) { return mapTo(M, v); });                   \
  }                                                                                     \
  QORV_DEFINE_COPYABLE(Class)

#define QORV_CPOLE_BEZIER_BODY(Class, Rep, Ops, Point, Pole, Info, Box, Transfo)                  \
  QORV_CPOLE_COMMON_BODY(Class, Rep, Ops, Point, Pole, Transfo)                                   \
  Class::Class(const ERVec<Pole>& poles, const ERLimites& range) : Rep(range), poles_(poles) {}   \
  int Class::degree() const { return poles_.length() - 1; }                                       \
  ERKnotVector Class::knotVector() const {                                                        \
    return BezierKnotVector(poles_.length() - 1, domain());                                       \
  }                                                                                               \
  Point Class::operator()(double t) const { return Ops::bezierPoint(poles_, Ndeb(), Nfin(), t); } \
  ERTValVector<ERPolynome> Class::getSpanPower(int i) const {                                     \
    if (const auto* c = spanCache_.find(i)) return *c;                                            \
    const ERTValVector<ERPolynome> r = Ops::spanPower(poles_, knotVector(), i, true);             \
    spanCache_.store(i, 1, r);                                                                    \
    return r;                                                                                     \
  }                                                                                               \
  void Class::incrDegree(int t) {                                                                 \
    ResetCachedInfo();                                                                            \
    const int n = poles_.length();                                                                \
    if (t <= 0 || n == 0 || t > kMaxBezierDegree - (n - 1)) return;                               \
    ERVec<Pole> q(n + t);                                                                         \
    std::copy(poles_.begin(), poles_.end(), q.begin());                                           \
    BezierIncreaseDegree(Ops::flat(q), n, t, Pole::kSize);                                        \
    poles_ = q;                                                                                   \
  }                                                                                               \
  int Class::decrDegree() {                                                                       \
    ResetCachedInfo();                                                                            \
    const int n = poles_.length();                                                                \
    if (n < 3) return 0;                                                                          \
    ERVec<Pole> q(poles_);                                                                        \
    const int exact =                                                                             \
        reduceBezier(Ops::flat(q), n, Pole::kSize, Ops::kWeighted, kReductionTolerance);          \
    poles_ = ERVec<Pole>(q.data(), n - 1);                                                        \
    return exact;                                                                                 \
  }                                                                                               \
  double Class::cordalHeight() const {                                                            \
    const int n = poles_.length();                                                                \
    if (n <= 2) return 0.0;                                                                       \
    std::vector<Point> inner;                                                                     \
    for (int i = 1; i < n - 1; ++i) inner.push_back((*this)[i]);                                  \
    return heightOverChord((*this)[0], (*this)[n - 1], inner);                                    \
  }                                                                                               \
  Info Class::PtCur(double t) const { return Ops::bezierPtCur(poles_, Ndeb(), Nfin(), t); }       \
  Box Class::getBox() const {                                                                     \
    ERVec<Pole> piece(poles_);                                                                    \
    const double h = Nfin() - Ndeb();                                                             \
    if (isTrimmed() && piece.length() > 0)                                                        \
      RedefineDomain(Ops::flat(piece), piece.length(), (udeb() - Ndeb()) / h,                     \
                     (ufin() - Ndeb()) / h, Pole::kSize);                                         \
    return Ops::box(piece.data(), piece.length());                                                \
  }                                                                                               \
  int Class::isValid() const {                                                                    \
    return poles_.length() > 0 && Ops::finitePoles(poles_) && std::isfinite(Ndeb()) &&            \
           std::isfinite(Nfin()) && Ndeb() < Nfin();                                              \
  }                                                                                               \
  void Class::redefineDomain(const ERLimites& d) {                                                \
    ResetCachedInfo();                                                                            \
    const double h = Nfin() - Ndeb();                                                             \
    if (poles_.length() > 0 && h != 0.0 && std::isfinite(h))                                      \
      RedefineDomain(Ops::flat(poles_), poles_.length(), (d.start() - Ndeb()) / h,                \
                     (d.end() - Ndeb()) / h, Pole::kSize);                                        \
    Rep::redefineDomain(d);                                                                       \
  }                                                                                               \
  void Class::reverse() {                                                                         \
    ResetCachedInfo();                                                                            \
    Ops::reversePoles(poles_);                                                                    \
    Rep::reverse();                                                                               \
  }                                                                                               \
  void Class::printOn(std::ostream& os) const {                                                   \
    os << #Class "\n";                                                                            \
    Rep::printOn(os);                                                                             \
    Ops::printPoles(os, poles_);                                                                  \
  }                                                                                               \
  void Class::saveGuts(ERFile& f) const {                                                         \
    Rep::saveGuts(f);                                                                             \
    poles_.saveGuts(f);                                                                           \
  }                                                                                               \
  void Class::restoreGuts(ERFile& f) {                                                            \
    ResetCachedInfo();                                                                            \
    const ERLimites dom = domain(), bounds = getBound();                                          \
    Rep::restoreGuts(f);                                                                          \
    ERVec<Pole> poles;                                                                            \
    if (!poles.restoreGuts(f)) {                                                                  \
      setDomain(dom, bounds);                                                                     \
      return;                                                                                     \
    }                                                                                             \
    poles_ = poles;                                                                               \
  }                                                                                               \
  std::uint32_t Class::binaryStoreSize() const {                                                  \
    return Rep::binaryStoreSize() + poles_.binaryStoreSize();                                     \
  }

QORV_CPOLE_BEZIER_BODY(ERCpoleBezier2D, ERCpoleRep2D, OpsB2, ERPoint2D, ERPoint2D, ERInfoPoint2D,
                       ERMinimax2D, ERTransfo2D)
QORV_CPOLE_BEZIER_BODY(ERCpoleBezier3D, ERCpoleRep3D, OpsB3, ERPoint3D, ERPoint3D, ERInfoPoint3DWF,
                       ERMinimax3D, ERPmSimilitude3D)
QORV_CPOLE_BEZIER_BODY(ERCpoleBezier2DR, ERCpoleRep2D, OpsH2, ERPoint2D, ERPole2DH, ERInfoPoint2D,
                       ERMinimax2D, ERTransfo2D)
QORV_CPOLE_BEZIER_BODY(ERCpoleBezier3DR, ERCpoleRep3D, OpsH3, ERPoint3D, ERPole3DH, ERInfoPoint3DWF,
                       ERMinimax3D, ERPmSimilitude3D)

enum class JoinAt { kEnd, kStart, kNearest };

// Joins the trimmed piece of b to the trimmed piece of a (a becomes the result): after it,
// before it, or at the pair of ends that lie nearest (b reversed when need be). Refused (0, a
// unchanged) for an invalid curve, ends farther apart than the tolerance, or a result that
// would not be valid.
template <class Curve, class Ops>
int joinCurves(Curve& a, const Curve& b, double tol, int flag, JoinAt where) {
  a.ResetCachedInfo();
  Curve B(b);
  B.adjust();
  if (!B.isValid() || B.isTrimmed()) return 0;
  if (a.nbPoles() == 0 && a.knotVector().length() == 0) {
    a = B;
    return 1;
  }
  Curve A(a);
  A.adjust();
  if (!A.isValid() || A.isTrimmed()) return 0;
  const auto boxA = A.getBox(), boxB = B.getBox();
  const double size = std::max(qorv::distance(boxA.MinPoint(), boxA.MaxPoint()),
                               qorv::distance(boxB.MinPoint(), boxB.MaxPoint()));
  const double allowed = std::max(tol, 1e-11 * size);
  const double d[4] = {
      qorv::distance(A.lastPt(), B.firstPt()), qorv::distance(A.lastPt(), B.lastPt()),
      qorv::distance(A.firstPt(), B.lastPt()), qorv::distance(A.firstPt(), B.firstPt())};
  int pick = where == JoinAt::kStart ? 2 : 0;
  if (where == JoinAt::kNearest)
    for (int i = 1; i < 4; ++i)
      if (d[i] < d[pick]) pick = i;
  if (!(tol < 0.0) && !(d[pick] <= allowed)) return 0;
  if (pick == 1 || pick == 3) B.reverse();
  // One degree for both, at least 1.
  const int p = std::max({A.degree(), B.degree(), 1});
  if (A.degree() < p) A.incrDegree(p - A.degree());
  if (B.degree() < p) B.incrDegree(p - B.degree());
  if (A.degree() != p || B.degree() != p) return 0;
  const ERKnotVector UA = A.knotVector(), UB = B.knotVector();
  const double lenB = UB.last() - UB.first();
  decltype(A.poles()) PA = A.poles();
  auto poles = PA;
  ERKnotVector U;
  if (pick <= 1) {
    B.reparametrize(ERLimites(UA.last(), UA.last() + lenB));
    Ops::join(poles, U, PA, UA, B.poles(), B.knotVector(), flag ? 2 : 0);
  } else {
    B.reparametrize(ERLimites(UA.first() - lenB, UA.first()));
    Ops::join(poles, U, B.poles(), B.knotVector(), PA, UA, flag ? 2 : 1);
  }
  const Curve joined(poles, U);
  if (!joined.isValid()) return 0;
  a = joined;
  return 1;
}

#define QORV_CPOLE_NURBS_BODY(Class, Rep, Ops, Point, Pole, Info, Box, Transfo)                 \
  QORV_CPOLE_COMMON_BODY(Class, Rep, Ops, Point, Pole, Transfo)                                 \
  Class::Class(const ERVec<Pole>& poles)                                                        \
      : Class(poles, ERKnotVector(std::max(poles.length() - 1, 0), ERLimites(0.0, 1.0))) {}     \
  Class::Class(const ERVec<Pole>& poles, const ERKnotVector& knots)                             \
      : Class(poles, knots, ERLimites(knots.first(), knots.last())) {}                          \
  Class::Class(const ERVec<Pole>& poles, const ERKnotVector& knots, const ERLimites& range)     \
      : Rep(ERLimites(knots.first(), knots.last()), range), knots_(knots), poles_(poles) {}     \
  int Class::degree() const { return knots_.degree(); }                                         \
  Pole Class::CalOnNurbs_H(double t) const { return Ops::nurbsHomogeneous(poles_, knots_, t); } \
  Point Class::operator()(double t) const {                                                     \
    const Pole h = CalOnNurbs_H(t);                                                             \
    return Ops::divide(h.data());                                                               \
  }                                                                                             \
  Info Class::PtCur(double t) const { return Ops::nurbsPtCur(poles_, knots_, t); }              \
  ERTValVector<ERPolynome> Class::getSpanPower(int i) const {                                   \
    if (const auto* c = spanCache_.find(i)) return *c;                                          \
    const ERTValVector<ERPolynome> r = Ops::spanPower(poles_, knots_, i, false);                \
    if (Ops::fits(poles_, knots_)) spanCache_.store(i, poles_.length() - knots_.degree(), r);   \
    return r;                                                                                   \
  }                                                                                             \
  double Class::cordalHeight() const {                                                          \
    const int p = knots_.degree(), n = poles_.length();                                         \
    const int lo = Ops::span(poles_, knots_, std::min(udeb(), ufin()));                         \
    const int hi = Ops::span(poles_, knots_, std::max(udeb(), ufin()));                         \
    if (lo < 0 || hi < 0) return n == 0 ? 0.0 : kNaN;                                           \
    std::vector<Point> pts;                                                                     \
    for (int i = lo - p; i <= hi; ++i) pts.push_back((*this)[i]);                               \
    return heightOverChord((*this)(udeb()), (*this)(ufin()), pts);                              \
  }                                                                                             \
  Box Class::getBox() const {                                                                   \
    const int p = knots_.degree(), n = poles_.length();                                         \
    const int lo = Ops::span(poles_, knots_, std::min(udeb(), ufin()));                         \
    const int hi = Ops::span(poles_, knots_, std::max(udeb(), ufin()));                         \
    if (lo < 0 || hi < 0) return Ops::box(poles_.data(), n);                                    \
    return Ops::box(poles_.data() + (lo - p), hi - lo + p + 1);                                 \
  }                                                                                             \
  int Class::isValid() const {                                                                  \
    return poles_.length() > 0 && Ops::finitePoles(poles_) &&                                   \
           Ops::knotsValid(knots_, poles_.length());                                            \
  }                                                                                             \
  void Class::insertKnot(double u, int r) {                                                     \
    ResetCachedInfo();                                                                          \
    ERVec<Pole> q;                                                                              \
    int at = 0;                                                                                 \
    if (!Ops::boehm(poles_, knots_, u, r, q, at)) return;                                       \
    poles_ = q;                                                                                 \
    knots_.insertAt(at, u, r);                                                                  \
  }                                                                                             \
  void Class::redefineDomain(const ERLimites& d) {                                              \
    ResetCachedInfo();                                                                          \
    setBound(d);                                                                                \
  }                                                                                             \
  void Class::adjust() {                                                                        \
    ResetCachedInfo();                                                                          \
    const double a = std::min(udeb(), ufin()), b = std::max(udeb(), ufin());                    \
    if (Ops::clampTo(poles_, knots_, a, b)) setDomain(ERLimites(a, b), ERLimites(a, b));        \
  }                                                                                             \
  int Class::append(const Class& other, double tol, int flag) {                                 \
    return joinCurves<Class, Ops>(*this, other, tol, flag, JoinAt::kEnd);                       \
  }                                                                                             \
  int Class::prepend(const Class& other, double tol, int flag) {                                \
    return joinCurves<Class, Ops>(*this, other, tol, flag, JoinAt::kStart);                     \
  }                                                                                             \
  int Class::merge(const Class& other, double tol, int flag) {                                  \
    return joinCurves<Class, Ops>(*this, other, tol, flag, JoinAt::kNearest);                   \
  }                                                                                             \
  int Class::GetDiscontinuities(int order, ERVec<double>& params) const {                       \
    params = ERVec<double>();                                                                   \
    ERVec<double> all;                                                                          \
    knots_.GetDiscontinuities(order, all);                                                      \
    const double lo = std::min(udeb(), ufin()), hi = std::max(udeb(), ufin());                  \
    for (int i = 0; i < all.length(); ++i)                                                      \
      if (all[i] > lo && all[i] < hi &&                                                         \
          (params.length() == 0 || all[i] != params[params.length() - 1]))                      \
        params.append(all[i]);                                                                  \
    return 1;                                                                                   \
  }                                                                                             \
  int Class::IsContinuous(int order) const {                                                    \
    ERVec<double> params;                                                                       \
    GetDiscontinuities(order, params);                                                          \
    return params.length() == 0 ? 1 : 0;                                                        \
  }                                                                                             \
  int Class::reduceKnotMultiplicity(double u, int r) {                                          \
    ResetCachedInfo();                                                                          \
    return Ops::removeKnot(poles_, knots_, u, r) ? 1 : 0;                                       \
  }                                                                                             \
  void Class::incrDegree(int t) {                                                               \
    ResetCachedInfo();                                                                          \
    if (Ops::elevate(poles_, knots_, t))                                                        \
      setDomain(ERLimites(knots_.first(), knots_.last()), getBound());                          \
  }                                                                                             \
  int Class::decrDegree() {                                                                     \
    ResetCachedInfo();                                                                          \
    if (!Ops::reduce(poles_, knots_)) return 0;                                                 \
    setDomain(ERLimites(knots_.first(), knots_.last()), getBound());                            \
    return 1;                                                                                   \
  }                                                                                             \
  void Class::reparametrize(const ERLimites& d) {                                               \
    ResetCachedInfo();                                                                          \
    const int m = knots_.length();                                                              \
    const double a = knots_.first(), b = knots_.last();                                         \
    const double k = (d.end() - d.start()) / (b - a);                                           \
    if (m == 0 || !(b > a) || !std::isfinite(k)) return;                                        \
    knots_.reparametrize(                                                                       \
        ERLimites(d.start() + (knots_[0] - a) * k, d.start() + (knots_[m - 1] - a) * k));       \
    Rep::reparametrize(d);                                                                      \
    setDomain(ERLimites(knots_.first(), knots_.last()), getBound());                            \
  }                                                                                             \
  void Class::reverse() {                                                                       \
    ResetCachedInfo();                                                                          \
    const int m = knots_.length();                                                              \
    if (m == 0 || !(knots_[m - 1] > knots_[0])) return;                                         \
    const double sum = knots_[0] + knots_[m - 1];                                               \
    Ops::reversePoles(poles_);                                                                  \
    knots_.reverse();                                                                           \
    const ERLimites b = getBound();                                                             \
    setDomain(ERLimites(knots_.first(), knots_.last()),                                         \
              ERLimites(sum - b.end(), sum - b.start()));                                       \
  }                                                                                             \
  void Class::printOn(std::ostream& os) const {                                                 \
    os << #Class "\n";                                                                          \
    Rep::printOn(os);                                                                           \
    Ops::printPoles(os, poles_);                                                                \
    os << "\nKnotVecteur\n";                                                                    \
    knots_.printOn(os);                                                                         \
  }                                                                                             \
  void Class::saveGuts(ERFile& f) const {                                                       \
    Rep::saveGuts(f);                                                                           \
    poles_.saveGuts(f);                                                                         \
    knots_.saveGuts(f);                                                                         \
  }                                                                                             \
  void Class::restoreGuts(ERFile& f) {                                                          \
    ResetCachedInfo();                                                                          \
    const ERLimites dom = domain(), bounds = getBound();                                        \
    Rep::restoreGuts(f);                                                                        \
    ERVec<Pole> poles;                                                                          \
    ERKnotVector knots;                                                                         \
    const int ok = poles.restoreGuts(f) && knots.restoreGuts(f);                                \
    const int empty = poles.length() == 0 && knots.length() == 0;                               \
    if (!ok || (!empty && knots.length() != poles.length() + knots.degree() + 1)) {             \
      setDomain(dom, bounds);                                                                   \
      return;                                                                                   \
    }                                                                                           \
    poles_ = poles;                                                                             \
    knots_ = knots;                                                                             \
  }                                                                                             \
  std::uint32_t Class::binaryStoreSize() const {                                                \
    return Rep::binaryStoreSize() + poles_.binaryStoreSize() + knots_.binaryStoreSize();        \
  }

QORV_CPOLE_NURBS_BODY(ERCpoleNURBS2D, ERCpoleRep2D, OpsH2, ERPoint2D, ERPole2DH, ERInfoPoint2D,
                      ERMinimax2D, ERTransfo2D)
QORV_CPOLE_NURBS_BODY(ERCpoleNURBS3D, ERCpoleRep3D, OpsH3, ERPoint3D, ERPole3DH, ERInfoPoint3DWF,
                      ERMinimax3D, ERPmSimilitude3D)

// ---- dimension changes and transformation operators
namespace {

ERPoint3D liftPole(const ERPmIsometrie3D& F, const ERPoint2D& p) {
  return F >> p.castToPoint3D(Coord3D::Z, 0.0);
}
// (w x, w y, w) -> (L (w x, w y, 0) + w o, w): a zero weight stays a direction.
ERPole3DH liftPole(const ERPmIsometrie3D& F, const ERPole2DH& h) {
  const ERVector3D v = F >> ERVector3D(h.data()[0], h.data()[1], 0.0);
  const ERPoint3D o = F >> ERPoint3D(0.0, 0.0, 0.0);
  const double w = h.data()[2];
  ERPole3DH r;
  for (int k = 0; k < 3; ++k) r.data()[k] = v.data()[k] + w * o.data()[k];
  r.data()[3] = w;
  return r;
}
ERPoint2D dropPole(const ERPmIsometrie3D& F, const ERPoint3D& p) {
  return (F << p).castToPoint2D(Coord3D::Z);
}
ERPole2DH dropPole(const ERPmIsometrie3D& F, const ERPole3DH& h) {
  const ERVector3D v = F << ERVector3D(h.data()[0], h.data()[1], h.data()[2]);
  const ERPoint3D o = F << ERPoint3D(0.0, 0.0, 0.0);
  const double w = h.data()[3];
  ERPole2DH r;
  for (int k = 0; k < 2; ++k) r.data()[k] = v.data()[k] + w * o.data()[k];
  r.data()[2] = w;
  return r;
}

template <class To, class From, class Map>
To* mappedBezier(const From& c, Map map) {
  ERVec<std::decay_t<decltype(map(c.poles()[0]))>> q;
  for (int i = 0; i < c.poles().length(); ++i) q.append(map(c.poles()[i]));
  To* r = new To(q, c.domain());
  r->setBound(c.getBound());
  return r;
}
template <class To, class From, class Map>
To* mappedNurbs(const From& c, Map map) {
  ERVec<std::decay_t<decltype(map(c.poles()[0]))>> q;
  for (int i = 0; i < c.poles().length(); ++i) q.append(map(c.poles()[i]));
  return new To(q, c.knotVector(), c.getBound());
}

}  // namespace

#define QORV_CPOLE_DIM_BODY(From, To, Mapped)                                        \
  t_SmartPtr<EREntity3DWF> From::get3DEquiv(const ERPmIsometrie3D& F) const {        \
    return t_SmartPtr<EREntity3DWF>(                                                 \
        Mapped<To>(*this, [&](const auto& P) { return liftPole(F, P); }));           \
  }                                                                                  \
  t_SmartPtr<EREntity2DWF> To::get2DEntProjectedOn(const ERPmIsometrie3D& F) const { \
    return t_SmartPtr<EREntity2DWF>(                                                 \
        Mapped<From>(*this, [&](const auto& P) { return dropPole(F, P); }));         \
  }

QORV_CPOLE_DIM_BODY(ERCpoleBezier2D, ERCpoleBezier3D, mappedBezier)
QORV_CPOLE_DIM_BODY(ERCpoleBezier2DR, ERCpoleBezier3DR, mappedBezier)
QORV_CPOLE_DIM_BODY(ERCpoleNURBS2D, ERCpoleNURBS3D, mappedNurbs)

#define QORV_CPOLE_OPERATORS_BODY(Class, Transfo)      \
  Class operator>>(const Transfo& T, const Class& c) { \
    Class r(c);                                        \
    r.transformFrom(T);                                \
    return r;                                          \
  }                                                    \
  Class operator<<(const Transfo& T, const Class& c) { \
    Class r(c);                                        \
    r.transformTo(T);                                  \
    return r;                                          \
  }

QORV_CPOLE_OPERATORS_BODY(ERCpoleBezier2D, ERTransfo2D)
QORV_CPOLE_OPERATORS_BODY(ERCpoleBezier2DR, ERTransfo2D)
QORV_CPOLE_OPERATORS_BODY(ERCpoleNURBS2D, ERTransfo2D)
QORV_CPOLE_OPERATORS_BODY(ERCpoleBezier3D, ERPmIsometrie3D)
QORV_CPOLE_OPERATORS_BODY(ERCpoleBezier3DR, ERPmIsometrie3D)
QORV_CPOLE_OPERATORS_BODY(ERCpoleNURBS3D, ERPmIsometrie3D)
