#include "qorv/freeform/bezier_primitives.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv;

namespace {

using LD = long double;

LD binom(int n, int k) {
  LD r = 1;
  for (int j = 1; j <= k; ++j) r = r * (n - k + j) / j;
  return r;
}

LD bernsteinRef(int i, int n, LD t) {
  if (i < 0 || i > n) return 0;
  return binom(n, i) * std::pow(t, LD(i)) * std::pow(1 - t, LD(n - i));
}

// Derivative r of the Bezier curve at t, from the closed form with forward differences.
std::vector<LD> bezierRef(const std::vector<double>& P, int N, int dim, LD t, int r = 0) {
  std::vector<LD> D(P.begin(), P.end());
  int M = N;
  LD factor = 1;
  for (int k = 0; k < r && M > 0; ++k) {
    for (int i = 0; i + 1 < M; ++i)
      for (int d = 0; d < dim; ++d) D[i * dim + d] = D[(i + 1) * dim + d] - D[i * dim + d];
    factor *= M - 1;
    --M;
  }
  std::vector<LD> out(dim, 0);
  for (int i = 0; i < M; ++i)
    for (int d = 0; d < dim; ++d) out[d] += factor * bernsteinRef(i, M - 1, t) * D[i * dim + d];
  return out;
}

std::vector<double> randomPoles(std::mt19937_64& rng, int N, int dim, double scale) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> P(static_cast<std::size_t>(N) * dim);
  for (double& x : P) x = scale * u(rng);
  return P;
}

double maxAbs(const std::vector<double>& P) {
  double m = 0;
  for (double x : P) m = std::max(m, std::fabs(x));
  return m;
}

double pickScale(std::mt19937_64& rng) {
  std::uniform_int_distribution<int> e(-300, 300);
  return std::pow(10.0, e(rng));
}

TEST(BezierPrimitives, BernsteinAgainstClosedForm) {
  QORV_SEEDED(std::mt19937_64 rng, 1801);
  std::uniform_real_distribution<double> ut(-0.5, 1.5);
  for (int n = 0; n <= 30; ++n) {
    for (int rep = 0; rep < 20; ++rep) {
      const double t = rep == 0 ? 0.0 : rep == 1 ? 1.0 : ut(rng);
      const auto all = AllBernsteins(n, t);
      ASSERT_EQ(all.length(), n + 1);
      LD sum = 0, absSum = 0;
      for (int i = 0; i <= n; ++i) {
        const LD ref = bernsteinRef(i, n, t);
        absSum += std::fabs(ref);
        sum += all[i];
        EXPECT_NEAR(Bernstein(i, n, t), double(ref), 1e-14 * double(absSum + 1))
            << n << " " << i << " " << t;
        EXPECT_NEAR(all[i], double(ref), 1e-14 * double(absSum + 1));
      }
      if (t >= 0 && t <= 1) {
        EXPECT_NEAR(double(sum), 1.0, 1e-14);
      }
    }
  }
  EXPECT_EQ((Seq{Bernstein(-1, 3, 0.5), Bernstein(4, 3, 0.5), Bernstein(0, -1, 0.5)}),
            (Seq{0.0, 0.0, 0.0}));
  EXPECT_EQ((Seq{AllBernsteins(-1, 0.5).length(), Bernstein(0, 0, 0.3)}), (Seq{0, 1.0}));
}

TEST(BezierPrimitives, CasteljauPointAndDerivativesFromTriangle) {
  QORV_SEEDED(std::mt19937_64 rng, 1802);
  std::uniform_real_distribution<double> ut(0.0, 1.0);
  for (int rep = 0; rep < 2000; ++rep) {
    const int N = 1 + int(rng() % 14), dim = 1 + int(rng() % 4);
    const double scale = pickScale(rng);
    const auto P = randomPoles(rng, N, dim, scale);
    const double t = rep % 10 == 0 ? double(rep % 20 == 0) : ut(rng);
    SCOPED_TRACE(testing::Message()
                 << "N " << N << " dim " << dim << " t " << t << " scale " << scale);
    const double m = maxAbs(P);
    std::vector<double> pt(dim), tri(std::size_t(N) * (N + 1) / 2 * dim);
    Casteljau(P.data(), N, t, dim, pt.data());
    CasteljauAll(P.data(), tri.data(), N, t, dim);
    const int n = N - 1;
    const double* last = tri.data() + tri.size() - dim;
    const auto ref0 = bezierRef(P, N, dim, t);
    for (int d = 0; d < dim; ++d) {
      EXPECT_NEAR(pt[d], double(ref0[d]), 4e-15 * m * N);
      EXPECT_EQ(last[d], pt[d]);
    }
    if (N >= 2) {
      // Level n - 1: two poles just before the last.
      const double* q = last - 2 * dim;
      const auto ref1 = bezierRef(P, N, dim, t, 1);
      for (int d = 0; d < dim; ++d)
        EXPECT_NEAR(n * (q[dim + d] - q[d]), double(ref1[d]), 1e-14 * m * N * N);
    }
    if (N >= 3) {
      const double* r = last - 5 * dim;
      const auto ref2 = bezierRef(P, N, dim, t, 2);
      for (int d = 0; d < dim; ++d)
        EXPECT_NEAR(n * (n - 1) * (r[2 * dim + d] - 2 * r[dim + d] + r[d]), double(ref2[d]),
                    4e-14 * m * N * N * N);
    }
  }
}

TEST(BezierPrimitives, HodographIsTheDerivativeOverDegree) {
  const std::vector<double> P = {0, 0, 1, 2, 2, 0};  // (0,0) (1,2) (2,0)
  std::vector<double> Q(4);
  Hodographe(P.data(), Q.data(), 3, 2);
  EXPECT_EQ(Q, (std::vector<double>{1, 2, 1, -2}));
  // P'(0.5) = 2 * Q(0.5) = (2, 0); the triangle's second level gives the same.
  double d[2];
  Casteljau(Q.data(), 2, 0.5, 2, d);
  EXPECT_EQ((Seq{2 * d[0], 2 * d[1]}), (Seq{2.0, 0.0}));
  std::vector<double> untouched = {7};
  Hodographe(P.data(), untouched.data(), 1, 2);
  EXPECT_EQ(untouched[0], 7.0);
}

TEST(BezierPrimitives, DegreeElevationKeepsTheCurve) {
  QORV_SEEDED(std::mt19937_64 rng, 1803);
  for (int rep = 0; rep < 300; ++rep) {
    const int N = 1 + int(rng() % 10), dim = 1 + int(rng() % 4), times = int(rng() % 5);
    const auto P0 = randomPoles(rng, N, dim, pickScale(rng));
    auto P1 = P0;
    P1.resize(std::size_t(N + times) * dim);
    BezierIncreaseDegree(P1.data(), N, times, dim);
    const double m = maxAbs(P0);
    for (int k = 0; k <= 1000; ++k) {
      const double t = k / 1000.0;
      std::vector<double> a(dim), b(dim);
      Casteljau(P0.data(), N, t, dim, a.data());
      Casteljau(P1.data(), N + times, t, dim, b.data());
      for (int d = 0; d < dim; ++d) ASSERT_NEAR(a[d], b[d], 1e-14 * m) << rep << " " << t;
    }
  }
}

TEST(BezierPrimitives, RedefineDomainGivesThePieceReversedOrExtended) {
  QORV_SEEDED(std::mt19937_64 rng, 1804);
  std::uniform_real_distribution<double> ub(-0.5, 1.5), ut(0.0, 1.0);
  for (int rep = 0; rep < 500; ++rep) {
    const int N = 1 + int(rng() % 10), dim = 1 + int(rng() % 4);
    const auto P0 = randomPoles(rng, N, dim, pickScale(rng));
    const double a = ub(rng), b = rep % 7 == 0 ? a : ub(rng);
    SCOPED_TRACE(testing::Message() << "N " << N << " a " << a << " b " << b);
    auto P1 = P0;
    RedefineDomain(P1.data(), N, a, b, dim);
    const double m = maxAbs(P0);
    for (int k = 0; k < 50; ++k) {
      const double s = k == 0 ? 0.0 : k == 1 ? 1.0 : ut(rng);
      std::vector<double> got(dim);
      Casteljau(P1.data(), N, s, dim, got.data());
      const auto ref = bezierRef(P0, N, dim, LD(a) + (LD(b) - LD(a)) * s);
      // Extension to 1.5 grows the poles by up to 3^n.
      for (int d = 0; d < dim; ++d)
        ASSERT_NEAR(got[d], double(ref[d]), 1e-14 * m * std::pow(3.0, N - 1) * N) << s;
    }
  }
}

TEST(BezierPrimitives, HornerCurvesPatchesAndIsoCurves) {
  QORV_SEEDED(std::mt19937_64 rng, 1805);
  std::uniform_real_distribution<double> ut(-2.0, 2.0);
  for (int rep = 0; rep < 500; ++rep) {
    const int Nu = 1 + int(rng() % 8), Nv = 1 + int(rng() % 8), dim = 1 + int(rng() % 4);
    const auto C = randomPoles(rng, Nu * Nv, dim, pickScale(rng));
    const double u = ut(rng), v = ut(rng);
    const double m = maxAbs(C);
    // Curve: the first row.
    std::vector<double> c(dim);
    Horner(C.data(), Nu, u, dim, c.data());
    for (int d = 0; d < dim; ++d) {
      LD ref = 0;
      for (int i = 0; i < Nu; ++i) ref += LD(C[i * dim + d]) * std::pow(LD(u), LD(i));
      EXPECT_NEAR(c[d], double(ref), 1e-14 * m * std::pow(2.0, Nu) * Nu);
    }
    std::vector<double> s(dim), isoU(std::size_t(Nv) * dim), isoV(std::size_t(Nu) * dim), a(dim),
        b(dim);
    Horner(C.data(), Nu, Nv, u, v, dim, s.data());
    HornerIsoU(C.data(), Nu, Nv, u, dim, isoU.data());
    HornerIsoV(C.data(), Nu, Nv, v, dim, isoV.data());
    Horner(isoU.data(), Nv, v, dim, a.data());
    Horner(isoV.data(), Nu, u, dim, b.data());
    const double tol = 1e-14 * m * std::pow(2.0, Nu + Nv) * Nu * Nv;
    for (int d = 0; d < dim; ++d) {
      LD ref = 0;
      for (int j = 0; j < Nv; ++j)
        for (int i = 0; i < Nu; ++i)
          ref += LD(C[(j * Nu + i) * dim + d]) * std::pow(LD(u), LD(i)) * std::pow(LD(v), LD(j));
      EXPECT_TRUE(Near(Seq{s[d], a[d], b[d]}, Seq{double(ref), double(ref), double(ref)}, tol));
    }
  }
}

TEST(BezierPrimitives, EmptyInputsLeaveOutputsAlone) {
  double out[2] = {5, 6};
  const double P[2] = {1, 2};
  Casteljau(P, 0, 0.5, 2, out);
  Horner(P, 0, 0.5, 2, out);
  Horner(P, 1, 0, 0.5, 0.5, 2, out);
  CasteljauAll(P, out, 1, 0.5, 0);
  EXPECT_EQ((Seq{out[0], out[1]}), (Seq{5.0, 6.0}));
  // One pole: the constant curve.
  Casteljau(P, 1, 0.7, 2, out);
  EXPECT_EQ((Seq{out[0], out[1]}), (Seq{1.0, 2.0}));
}

TEST(BezierPrimitives, BezierKnotVector) {
  const ERKnotVector k = BezierKnotVector(3, ERLimites(0.0, 2.0));
  ASSERT_EQ(k.length(), 8);
  EXPECT_EQ(k.degree(), 3);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(k[i], i < 4 ? 0.0 : 2.0);
  EXPECT_EQ(BezierKnotVector(-2, ERLimites(0.0, 1.0)).degree(), 0);
}

}  // namespace
