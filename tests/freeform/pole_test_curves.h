// tests/freeform/pole_test_curves.h
//
// Random pole curves for the property tests (random degree 1-5, interior knots of every
// multiplicity, clamped or unclamped, weights 0.5-2, coordinates from 1e-30 to 1e30 with an
// offset) and a long-double B-spline evaluator from the recursive definition of the basis.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "qorv/freeform/pole_curves.h"

namespace qorv_test::poles {

using LD = long double;

// N_{i,q}(u) and its first two derivatives by the recursive definition (0/0 = 0), in long
// double. The right-hand span owns a knot; the domain end U[n] belongs to the last non-empty
// span before it.
struct RefBasis {
  std::vector<LD> U;
  int last;  // the span that owns U[n]
  LD N0(int i, LD u) const {
    if (u == U[last + 1]) return i == last ? 1 : 0;
    return U[i] <= u && u < U[i + 1] ? 1 : 0;
  }
  LD N(int i, int q, LD u, int k) const {
    if (q == 0) return k == 0 ? N0(i, u) : 0;
    const LD d1 = U[i + q] - U[i], d2 = U[i + q + 1] - U[i + 1];
    LD r = 0;
    if (k == 0) {
      if (d1 != 0) r += (u - U[i]) / d1 * N(i, q - 1, u, 0);
      if (d2 != 0) r += (U[i + q + 1] - u) / d2 * N(i + 1, q - 1, u, 0);
    } else {
      if (d1 != 0) r += q / d1 * N(i, q - 1, u, k - 1);
      if (d2 != 0) r -= q / d2 * N(i + 1, q - 1, u, k - 1);
    }
    return r;
  }
};

// Point and derivatives of the rational curve (K = dim + 1 homogeneous values per pole).
struct RefResult {
  std::vector<LD> c[3];
};
inline RefResult refEval(const std::vector<double>& H, int dim, const std::vector<double>& U, int p,
                         LD u) {
  const int n = int(U.size()) - p - 1;
  RefBasis B{std::vector<LD>(U.begin(), U.end()), p};
  for (int i = p; i < n; ++i)
    if (U[i] < U[i + 1]) B.last = i;
  const int K = dim + 1;
  std::vector<LD> A[3];
  for (auto& a : A) a.assign(K, 0);
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) {
      const LD b = B.N(i, p, u, k);
      for (int d = 0; d < K; ++d) A[k][d] += b * H[i * K + d];
    }
  RefResult r;
  for (auto& c : r.c) c.assign(dim, 0);
  const LD w = A[0][dim], w1 = A[1][dim], w2 = A[2][dim];
  for (int d = 0; d < dim; ++d) {
    r.c[0][d] = A[0][d] / w;
    r.c[1][d] = (A[1][d] - w1 * r.c[0][d]) / w;
    r.c[2][d] = (A[2][d] - 2 * w1 * r.c[1][d] - w2 * r.c[0][d]) / w;
  }
  return r;
}

struct RandomCurve {
  int dim, p;
  std::vector<double> H;  // homogeneous poles
  std::vector<double> U;
  double size = 0;  // largest Cartesian coordinate
  double minSpan = 1;
};

inline RandomCurve randomCurve(std::mt19937_64& rng, int dim, bool bezier, bool unclamped) {
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  RandomCurve c;
  c.dim = dim;
  c.p = 1 + int(rng() % 5);
  const int p = c.p;
  std::vector<double> interior;
  if (!bezier) {
    const int distinct = int(rng() % 5);
    for (int k = 0; k < distinct; ++k) {
      const double v = 0.05 + 0.9 * u01(rng);
      const int mult = 1 + int(rng() % p);
      for (int j = 0; j < mult; ++j) interior.push_back(v);
    }
    std::sort(interior.begin(), interior.end());
  }
  const double a = std::ldexp(u01(rng) - 0.5, int(rng() % 20)),
               len = std::ldexp(0.5 + u01(rng), int(rng() % 8) - 4);
  if (unclamped) {
    for (int j = p; j >= 1; --j) c.U.push_back(-0.1 * j - 0.05 * u01(rng));
  } else {
    for (int j = 0; j < p; ++j) c.U.push_back(0.0);
  }
  c.U.push_back(0.0);
  for (double v : interior) c.U.push_back(v);
  c.U.push_back(1.0);
  if (unclamped) {
    for (int j = 1; j <= p; ++j) c.U.push_back(1.0 + 0.1 * j + 0.05 * u01(rng));
  } else {
    for (int j = 0; j < p; ++j) c.U.push_back(1.0);
  }
  for (double& v : c.U) v = a + len * v;
  const int n = int(c.U.size()) - p - 1;
  const double scale = std::pow(10.0, int(rng() % 61) - 30);
  const double off = scale * 1e3 * (u01(rng) - 0.5);
  for (int i = 0; i < n; ++i) {
    const double w = 0.5 + 1.5 * u01(rng);
    for (int d = 0; d < dim; ++d) {
      const double x = off + scale * (u01(rng) - 0.5);
      c.size = std::max(c.size, std::fabs(x));
      c.H.push_back(x * w);
    }
    c.H.push_back(w);
  }
  c.minSpan = 1e300;
  for (int i = p; i < n; ++i)
    if (c.U[i + 1] > c.U[i]) c.minSpan = std::min(c.minSpan, c.U[i + 1] - c.U[i]);
  return c;
}

template <class Pole>
QuickAlgebra::ERVec<Pole> polesOf(const RandomCurve& c) {
  QuickAlgebra::ERVec<Pole> v;
  const int K = c.dim + 1;
  for (std::size_t i = 0; i < c.H.size() / K; ++i) {
    Pole P;
    for (int d = 0; d < K; ++d) P.data()[d] = c.H[i * K + d];
    v.append(P);
  }
  return v;
}

// The NURBS curve of the drawn poles and knots.
template <class Curve, class Pole>
Curve nurbsOf(const RandomCurve& c) {
  return Curve(polesOf<Pole>(c), ERKnotVector(c.p, c.U.data(), int(c.U.size())));
}

// The point alone by de Boor's algorithm in long double: faster than refEval for dense checks.
inline std::vector<LD> refPoint(const RandomCurve& c, LD t) {
  const int p = c.p, K = c.dim + 1, n = int(c.U.size()) - p - 1;
  int s = p;
  while (s + 1 < n && c.U[s + 1] <= t) ++s;
  while (s > p && !(c.U[s] < c.U[s + 1])) --s;  // the domain end belongs to the last span
  std::vector<LD> d((p + 1) * K);
  for (int j = 0; j <= p; ++j)
    for (int k = 0; k < K; ++k) d[j * K + k] = c.H[(s - p + j) * K + k];
  for (int r = 1; r <= p; ++r)
    for (int j = p; j >= r; --j) {
      const int i = s - p + j;
      const LD den = LD(c.U[i + p - r + 1]) - c.U[i];
      const LD a = den == 0 ? 0 : (t - c.U[i]) / den;
      for (int k = 0; k < K; ++k) d[j * K + k] = (1 - a) * d[(j - 1) * K + k] + a * d[j * K + k];
    }
  std::vector<LD> x(c.dim);
  for (int k = 0; k < c.dim; ++k) x[k] = d[p * K + k] / d[p * K + c.dim];
  return x;
}

}  // namespace qorv_test::poles
