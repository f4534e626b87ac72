// Degree and knot edits of the pole curves, on flat homogeneous poles (K doubles each, the last
// the weight when weighted): knot removal by least squares, degree elevation and reduction
// through the Bezier pieces.

#include <algorithm>
#include <cmath>
#include <vector>

#include "qorv/freeform/bezier_primitives.h"
#include "qorv/freeform/pole_curves.h"

namespace {

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
    qorv::detail::spanBezier(P.data(), K, U, s, piece.data());
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

// Only weighted poles have a weight to check.
bool positiveWeights(const std::vector<double>& P, int K, bool weighted) {
  if (weighted)
    for (std::size_t i = K - 1; i < P.size(); i += K)
      if (!(P[i] > 0.0)) return false;
  return true;
}

}  // namespace

namespace qorv::detail {

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

// Degree reduction of N Bezier poles (K doubles) in place, to N - 1 (n = N - 1, h = n / 2): the
// ends stay; the poles 1 .. h - 1 come forward from the start and h .. n - 2 backward from the
// end, whose last step (the equation of pole h) gives a second estimate of pole h - 1: averaged
// with the forward one when that is an inner pole, the first pole staying. True when the two
// estimates agree within 1e-11 of the largest coordinate (the reduction is exact).
bool reduceBezier(double* P, int N, int K, bool weighted) {
  const int n = N - 1;
  if (n < 1) return false;
  const PoleTolerance tol(P, N, K, weighted, kReductionTolerance);
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

// Degree elevation by t through the Bezier pieces, then back to multiplicity s + t at every
// interior breakpoint (s the old one): the knots become incDegree(t) of the clamped vector.
bool elevateSplineDegree(std::vector<double>& P, ERKnotVector& U, int K, bool weighted, int t) {
  const int p = U.degree(), q = p + t;
  std::vector<double> outP, outU, x;
  std::vector<int> mult;
  auto edit = [&](double* piece) {
    BezierIncreaseDegree(piece, p + 1, t, K);
    return true;
  };
  if (!rebuildByPieces(P, U, K, q, edit, outP, outU, x, mult)) return false;
  for (std::size_t j = 0; j < mult.size(); ++j)
    for (int s = 0, r = lastIndexOf(outU, x[j + 1], s); s > mult[j] + t;
         r = lastIndexOf(outU, x[j + 1], s))
      if (!removeKnotOnce(outP, outU, K, q, r, s, weighted, true)) return false;
  P.swap(outP);
  U = ERKnotVector(q, outU.data(), static_cast<int>(outU.size()));
  return true;
}

// Degree reduction by one when every Bezier piece reduces exactly and every breakpoint comes
// back to its multiplicity - 1 within tolerance.
bool reduceSplineDegree(std::vector<double>& P, ERKnotVector& U, int K, bool weighted) {
  const int p = U.degree(), q = p - 1;
  std::vector<double> outP, outU, x;
  std::vector<int> mult;
  auto edit = [&](double* piece) { return reduceBezier(piece, p + 1, K, weighted); };
  if (!rebuildByPieces(P, U, K, q, edit, outP, outU, x, mult)) return false;
  for (std::size_t j = 0; j < mult.size(); ++j)
    for (int s = 0, r = lastIndexOf(outU, x[j + 1], s); s > std::max(mult[j] - 1, 0);
         r = lastIndexOf(outU, x[j + 1], s))
      if (!removeKnotOnce(outP, outU, K, q, r, s, weighted, false)) return false;
  if (!positiveWeights(outP, K, weighted)) return false;
  P.swap(outP);
  U = ERKnotVector(q, outU.data(), static_cast<int>(outU.size()));
  return true;
}

// Removes u min(r, multiplicity) times, every removal within tolerance.
bool removeSplineKnot(std::vector<double>& P, ERKnotVector& U, int K, bool weighted, double u,
                      int r) {
  const int p = U.degree();
  std::vector<double> V(U.data(), U.data() + U.length());
  int s = 0;
  if (lastIndexOf(V, u, s) < 0) return false;
  for (int k = std::min(r, s); k > 0; --k) {
    const int idx = lastIndexOf(V, u, s);
    if (!removeKnotOnce(P, V, K, p, idx, s, weighted, false)) return false;
  }
  if (!positiveWeights(P, K, weighted)) return false;
  U = ERKnotVector(p, V.data(), static_cast<int>(V.size()));
  return true;
}

}  // namespace qorv::detail
