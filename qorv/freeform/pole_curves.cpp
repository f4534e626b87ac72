// The six pole curves: evaluation, boxes, edits, joins and stored images, one template body
// (PoleOps) for all of them. Their measures and nearest points are in pole_curve_queries.cpp,
// the knot and degree edits on flat poles in pole_curve_knots.cpp.

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

// The highest degree elevation reaches: a NURBS curve's knot removals grow with the cube of it.
constexpr int kMaxNurbsDegree = 64;
constexpr int kMaxBezierDegree = 1024;

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
    qorv::detail::spanBezier(flat(poles), K, U, s, B.data());
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
  // Degree elevation by t (see elevateSplineDegree).
  static bool elevate(ERVec<Pole>& poles, ERKnotVector& U, int t) {
    if (t <= 0 || t > kMaxNurbsDegree - U.degree() || !finitePoles(poles) ||
        !knotsValid(U, poles.length()))
      return false;
    std::vector<double> P = toFlat(poles);
    if (!qorv::detail::elevateSplineDegree(P, U, K, kWeighted, t)) return false;
    poles = fromFlat(P);
    return true;
  }

  // Degree reduction by one when it is exact (see reduceSplineDegree).
  static bool reduce(ERVec<Pole>& poles, ERKnotVector& U) {
    if (U.degree() < 1 || !finitePoles(poles) || !knotsValid(U, poles.length())) return false;
    std::vector<double> P = toFlat(poles);
    if (!qorv::detail::reduceSplineDegree(P, U, K, kWeighted)) return false;
    poles = fromFlat(P);
    return true;
  }

  // Removes u (strictly inside the domain) min(r, multiplicity) times, every removal within
  // tolerance; false and nothing changed otherwise.
  static bool removeKnot(ERVec<Pole>& poles, ERKnotVector& U, double u, int r) {
    if (r <= 0 || !finitePoles(poles) || !knotsValid(U, poles.length()) ||
        !(U.first() < u && u < U.last()))
      return false;
    std::vector<double> P = toFlat(poles);
    if (!qorv::detail::removeSplineKnot(P, U, K, kWeighted, u, r)) return false;
    poles = fromFlat(P);
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

}  // namespace

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
    const int exact = qorv::detail::reduceBezier(Ops::flat(q), n, Pole::kSize, Ops::kWeighted);   \
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
