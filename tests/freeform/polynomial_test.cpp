#include "qorv/freeform/polynomial.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "tests/freeform/freeform_support.h"
#include "tests/in_order.h"

using namespace qorv;

using QuickAlgebra::ERVec;

namespace {

ERPolynome poly(std::vector<double> c) { return ERPolynome(c.data(), int(c.size())); }

std::vector<double> roots(const ERPolynome& p, double a, double b, int* count = nullptr) {
  ERVec<double> r;
  const int n = Zeros(p, ERLimites(a, b), r);
  if (count != nullptr) *count = n;
  EXPECT_EQ(n < 0 ? 0 : n, r.length());
  return std::vector<double>(r.begin(), r.end());
}

// Coefficients of prod (x - r_i) built in long double from the given roots.
ERPolynome fromRoots(const std::vector<double>& rs, double lead = 1.0) {
  std::vector<long double> c{static_cast<long double>(lead)};
  for (double r : rs) {
    std::vector<long double> n(c.size() + 1, 0.0L);
    for (std::size_t i = 0; i < c.size(); ++i) n[i + 1] += c[i], n[i] -= c[i] * r;
    c = n;
  }
  std::vector<double> d(c.begin(), c.end());
  return poly(d);
}

// The root of p's very coefficients near x0, by Newton in binary128.
double polishQ(const ERPolynome& p, double x0) {
  __float128 x = x0;
  for (int it = 0; it < 80; ++it) {
    __float128 f = p[p.length() - 1], df = 0;
    for (int i = p.length() - 2; i >= 0; --i) df = df * x + f, f = f * x + p[i];
    if (df == 0) break;
    x -= f / df;
  }
  return static_cast<double>(x);
}

}  // namespace

TEST(Polynomial, DegreeEvaluationDerivativeReduce) {
  ERPolynome p = poly({1, 0, 0});
  EXPECT_EQ((Seq{p.degree(), p.length()}), (Seq{0, 1}));
  const ERPolynome empty(nullptr, 0);
  EXPECT_EQ((Seq{empty.degree(), qorv_test::printed(empty)}), (Seq{0, "polynome NULL\n"}));
  const ERPolynome c = poly({1, -2, 0, 1});
  EXPECT_EQ((Seq{c.evaluate(2), poly({7, std::nan("")}).evaluate(0)}), (Seq{5.0, 7.0}));
  EXPECT_EQ((Seq{c.getDerived(4), c.getDerived(2), qorv_test::printed(c),
                 qorv_test::printed(poly({0, -1, 2.5, 1}))}),
            (Seq{poly({0}), poly({0, 6}), "1-2*x+x**3\n", "-1*x+2.5*x**2+x**3\n"}));
  ERPolynome r = poly({0.05, 0.5, 2});
  const ERPolynome before = r;
  r.reduce(0.1);
  EXPECT_EQ((Seq{r, before}), (Seq{poly({0, 0.5, 2}), poly({0.05, 0.5, 2})}));
  const ERPolynome sq = poly({0, 0, 1});
  EXPECT_EQ((Seq{sq(poly({3})), sq(poly({1, 2})), poly({1, 1}) * poly({-1, 1}),
                 (poly({1, 1}) + poly({0, 0, 3})).length()}),
            (Seq{poly({9}), poly({1, 4, 4}), poly({-1, 0, 1}), 3}));
  ERPolynome g;
  g(4) = 2.0;
  EXPECT_EQ((Seq{g.degree(), static_cast<const ERPolynome&>(g)(9)}), (Seq{4, 0.0}));
}

TEST(Polynomial, ZerosDocumentedCases) {
  EXPECT_EQ(roots(poly({-1, 0, 1}), 0, 2), (std::vector<double>{1}));
  EXPECT_EQ(roots(poly({-1, 0, 1}), -1, 1), (std::vector<double>{-1, 1}));
  EXPECT_TRUE(roots(poly({1, 0, 1}), -5, 5).empty());
  int n = 0;
  roots(poly({0, 0}), 0, 1, &n);
  EXPECT_EQ(n, -1);
  roots(ERPolynome(nullptr, 0), 0, 1, &n);
  EXPECT_EQ(n, -1);
  roots(poly({5}), 0, 1, &n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(roots(poly({-0.5, 1, 0, 1e-11}), -10, 10), (std::vector<double>{0.5}));
  // c0 = 0 and c1 = 0: a double root at 0 exactly.
  EXPECT_EQ(roots(poly({0, 0, -1, 1}), -1, 2), (std::vector<double>{0, 0, 1}));
  // Bad input: NaN coefficient, NaN or reversed range.
  EXPECT_TRUE(roots(poly({std::nan(""), 1}), -1, 1).empty());
  EXPECT_TRUE(roots(poly({-0.5, 1}), std::nan(""), 1).empty());
  EXPECT_TRUE(roots(poly({-0.5, 1}), 1, 0).empty());
  // Infinite range: clipped to the root bound.
  EXPECT_EQ(roots(poly({-4, 0, 1}), -INFINITY, INFINITY), (std::vector<double>{-2, 2}));
  // A root an ulp outside the range is its end.
  const double out = std::nextafter(1.0, 2.0);
  EXPECT_EQ(roots(poly({-out, 1}), 0, 1), (std::vector<double>{1}));
  EXPECT_EQ(roots(fromRoots({-1e-17, 0.5}), 0, 1).front(), 0.0);
  // Degenerate range on a root.
  EXPECT_EQ(roots(poly({-0.25, 0, 1}), 0.5, 0.5), (std::vector<double>{0.5}));
}

TEST(Polynomial, ZerosClosePairsMultipleRootsComplexPairs) {
  for (double a : {0.3, -0.7, 0.1234567, 3.25}) {
    SCOPED_TRACE(a);
    // A real pair 1e-6 apart: two roots.
    const ERPolynome pair = fromRoots({a, a + 1e-6});
    auto r = roots(pair, a - 1, a + 1);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_NEAR(r[0], polishQ(pair, a - 1e-7), 1e-14 * std::fabs(a));
    EXPECT_NEAR(r[1], polishQ(pair, a + 1.1e-6), 1e-14 * std::fabs(a));
    // A complex pair 1e-6 off the axis: none.
    ERPolynome c = fromRoots({a, a});
    c[0] += 1e-12;
    EXPECT_TRUE(roots(c, a - 1, a + 1).empty());
    if (std::fabs(a) < 1) {
      EXPECT_TRUE(roots(c * fromRoots({a + 0.5}), a - 1, a + 0.2).empty());
    }
    // Double and triple roots from rounded coefficients.
    r = roots(fromRoots({a, a}), a - 1, a + 1);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_NEAR(r[0], a, 1e-7);
    EXPECT_EQ(r[0], r[1]);
    r = roots(fromRoots({a, a, a, a + 0.5}), a - 1, a + 1);
    ASSERT_EQ(r.size(), 4u);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(r[k], a, 1e-5);
    // A double root exactly on either end of the range.
    r = roots(fromRoots({a, a, a + 0.25}), a, a + 1);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_NEAR(r[0], a, 1e-7);
    EXPECT_EQ(r[1], r[0]);
    r = roots(fromRoots({a, a, a - 0.25}), a - 1, a);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_NEAR(r[2], a, 1e-7);
    EXPECT_EQ(r[1], r[2]);
  }
}

// Polynomials from dyadic roots have exact coefficients: every root, with its multiplicity,
// including those on the range ends.
TEST(Polynomial, ZerosOfDyadicRootPolynomials) {
  QORV_SEEDED(std::mt19937 rng, 7);
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<double> rs;
    const int distinct = 1 + int(rng() % 6);
    for (int i = 0; i < distinct; ++i) {
      const double r = (int(rng() % 17) - 8) / 8.0;
      if (std::find(rs.begin(), rs.end(), r) != rs.end()) continue;
      const int mult = 1 + int(rng() % 3);
      for (int k = 0; k < mult; ++k) rs.push_back(r);
    }
    if (rs.size() > 14) continue;
    std::sort(rs.begin(), rs.end());
    const double lead = (rng() % 2 ? 1 : -1) * std::ldexp(1.0, int(rng() % 9) - 4);
    const ERPolynome p = fromRoots(rs, lead);
    // Ends on roots, or between them.
    const double a = (rng() % 2) ? rs[rng() % rs.size()] : (int(rng() % 17) - 8) / 8.0 - 1.0 / 32;
    const double b = a + (int(rng() % 17)) / 8.0;
    std::vector<double> expected;
    for (double r : rs)
      if (a <= r && r <= b) expected.push_back(r);
    const auto got = roots(p, a, b);
    ASSERT_EQ(got.size(), expected.size()) << "trial " << trial << " range " << a << " " << b;
    for (std::size_t i = 0; i < got.size(); ++i) {
      std::size_t k = i;
      int mult = 0;
      while (k > 0 && expected[k - 1] == expected[i]) --k;
      for (double r : rs) mult += r == expected[i];
      const double tol = mult == 1 ? 1e-14 : (mult == 2 ? 1e-12 : 1e-8);
      EXPECT_NEAR(got[i], expected[i], tol) << "trial " << trial << " mult " << mult;
    }
  }
}

// Random polynomials up to degree 20 against roots polished in binary128 on the very
// coefficients Zeros sees.
TEST(Polynomial, ZerosOfRandomPolynomialsMatchQuadReference) {
  QORV_SEEDED(std::mt19937 rng, 2024);
  std::uniform_real_distribution<double> uni(-1.5, 1.5), far(2.0, 6.0), im(0.3, 2.0);
  int checked = 0;
  for (int trial = 0; trial < 10000; ++trial) {
    const int deg = 1 + int(rng() % 20);
    std::vector<double> real;
    std::vector<std::pair<double, double>> cplx;
    int left = deg;
    int nearCount = 0;
    while (left > 0) {
      const int kind = int(rng() % 3);
      if (kind == 0 && nearCount < 8) {
        const double r = uni(rng);
        bool ok = true;
        for (double q : real) ok = ok && std::fabs(q - r) >= 0.05;
        if (!ok) continue;
        real.push_back(r), ++nearCount, --left;
      } else if (kind == 1 || left == 1) {
        real.push_back((rng() % 2 ? 1 : -1) * far(rng)), --left;
      } else {
        cplx.push_back({uni(rng), im(rng)}), left -= 2;
      }
    }
    // Exact product in binary128, rounded once to double.
    std::vector<__float128> c{static_cast<__float128>((rng() % 2 ? 1 : -1) * (0.5 + uni(rng) / 3))};
    auto mul = [&](std::vector<__float128> f) {
      std::vector<__float128> n(c.size() + f.size() - 1, 0);
      for (std::size_t i = 0; i < c.size(); ++i)
        for (std::size_t j = 0; j < f.size(); ++j) n[i + j] += c[i] * f[j];
      c = n;
    };
    for (double r : real) mul({-static_cast<__float128>(r), 1});
    for (auto [re, imv] : cplx)
      mul({static_cast<__float128>(re) * re + static_cast<__float128>(imv) * imv,
           -2 * static_cast<__float128>(re), 1});
    std::vector<double> cd(c.begin(), c.end());
    const ERPolynome p = poly(cd);
    auto evalQ = [&](__float128 x, __float128& df) {
      __float128 f = cd.back();
      df = 0;
      for (int i = int(cd.size()) - 2; i >= 0; --i) df = df * x + f, f = f * x + cd[i];
      return f;
    };
    double a = uni(rng), b = uni(rng);
    if (a > b) std::swap(a, b);
    std::vector<double> ref;
    bool ambiguous = false;
    for (double r : real) {
      __float128 x = r, df;
      for (int it = 0; it < 60; ++it) {
        const __float128 f = evalQ(x, df);
        if (df == 0) break;
        x -= f / df;
      }
      const double xr = static_cast<double>(x);
      if (std::fabs(xr - a) < 1e-9 || std::fabs(xr - b) < 1e-9) ambiguous = true;
      if (a <= xr && xr <= b) ref.push_back(xr);
    }
    if (ambiguous) continue;
    std::sort(ref.begin(), ref.end());
    const auto got = roots(p, a, b);
    ASSERT_EQ(got.size(), ref.size()) << "trial " << trial << " degree " << deg;
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_NEAR(got[i], ref[i], 1e-11 * std::max(1.0, std::fabs(ref[i]))) << "trial " << trial;
    ++checked;
  }
  EXPECT_GT(checked, 9900);
}

TEST(Polynomial, TwoVariables) {
  ERPolynome2Var q(1, 2);
  q.at(0, 0) = 1;
  q.at(1, 2) = 2;  // 1 + 2 v u^2
  EXPECT_EQ((Seq{q.eval(3, 0.5), q.degreeU(), q.degreeV()}), (Seq{1 + 2 * 0.5 * 9, 2, 1}));
  q.coefficient(3, 0) = 0.0;
  EXPECT_EQ(q.degreeV(), 1);  // all-zero rows trimmed
  EXPECT_EQ(static_cast<const ERPolynome2Var&>(q).coefficient(7, 7), 0.0);
  EXPECT_EQ(qorv_test::printed(ERPolynome2Var(0, 1)),
            "Polynome 2Var dU=0, dv=0)( r= 1, c=1)\n0\n\n");
  const ERPolynome2Var e;
  EXPECT_EQ(e.eval(1, 1), 0.0);
}

TEST(Polynomial, StoredImages) {
  const ERPolynome p = poly({1.5, -2});
  qorv_test::Bytes expected;
  qorv_test::putInt(expected, 16);
  for (double v : {1.5, -2.0}) qorv_test::putDouble(expected, v);
  EXPECT_EQ((Seq{qorv_test::imageOf(p), p.binaryStoreSize()}), (Seq{expected, 20u}));
  ERPolynome back;
  ASSERT_EQ(qorv_test::restoreValue(back, expected), 1);
  EXPECT_EQ(back, p);
  ERPolynome keep = poly({9});
  EXPECT_EQ(qorv_test::restoreValue(keep, qorv_test::Bytes(expected.begin(), expected.end() - 3)),
            0);
  EXPECT_EQ(keep, poly({9}));

  ERPolynome2Var q(0, 1);
  q.at(0, 1) = 4;
  qorv_test::Bytes e2;
  for (int n : {1, 2, 16}) qorv_test::putInt(e2, n);
  for (double v : {0.0, 4.0}) qorv_test::putDouble(e2, v);
  EXPECT_EQ(qorv_test::imageOf(q), e2);
  ERPolynome2Var q2;
  ASSERT_EQ(qorv_test::restoreValue(q2, e2), 1);
  EXPECT_EQ(q2, q);
}

TEST(Polynomial, BinomialsAndFactorials) {
  EXPECT_EQ((Seq{Cnp(5, 2), Cnp(20, 3), Cnp(0, 0), Cnp(-1, 0), Cnp(4, 5), Cnp(4, -1)}),
            (Seq{10.0, 1140.0, 1.0, 0.0, 0.0, 0.0}));
  EXPECT_EQ((Seq{Cnp(2000, 1), std::isinf(Cnp(1099, 549)), TableauDePascal::instance().Cnp(5000)}),
            (Seq{2000.0, true, nullptr}));
  ERFactorialFactory& f = ERFactorialFactory::instance();
  EXPECT_EQ(
      (Seq{f.Fact(27), f.Fact(28), std::isinf(f.Fact(171)), f.Fact(-3)}),
      (Seq{10888869450418352160768000000.0, 28 * 10888869450418352160768000000.0, true, 0.0}));
  EXPECT_DOUBLE_EQ(f.Fact(170), std::tgamma(171.0));
}

// Concurrent first use of fresh tables: every thread reads correct values (run under TSan).
TEST(Polynomial, TablesSurviveConcurrentFirstUse) {
  TableauDePascal table;
  ERFactorialFactory fact;
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < 400; n += 1 + t) {
        if (table.Cnp(n, 1) != n && n > 0) ++bad;
        if (table.Cnp(n, n) != 1) ++bad;
        const int k = 20 + (n % 150);
        if (fact.Fact(k) != fact.Fact(k - 1) * k) ++bad;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST(Polynomial, ProjectionOnPatches) {
  ERTValVector<ERPolynome> parabola;
  parabola.append(poly({0, 1}));
  parabola.append(poly({0, 0, 1}));
  ERVec<double> params;
  const double p1[] = {0, 1};
  ASSERT_EQ(ProjectionPointOnCpoly(parabola, 2, p1, ERLimites(-1, 1), params), 3);
  EXPECT_NEAR(params[0], -std::sqrt(0.5), 1e-15);
  EXPECT_EQ(params[1], 0.0);
  // The centre of curvature of the vertex: a triple root.
  const double centre[] = {0, 0.5};
  ASSERT_EQ(ProjectionPointOnCpoly(parabola, 2, centre, ERLimites(-1, 1), params), 3);
  EXPECT_EQ((Seq{params[0], params[2]}), (Seq{0.0, 0.0}));
  // A rational unit circle: its centre is equidistant from every point.
  ERTValVector<ERPolynome> circle;
  for (const auto& x : {poly({1, 0, -1}), poly({0, 2}), poly({1, 0, 1})}) circle.append(x);
  const double origin[] = {0, 0};
  EXPECT_EQ(ProjectionPointOnCpoly(circle, 2, origin, ERLimites(-1, 1), params), -1);
  const double outside[] = {3, 4};  // nearest at (0.6, 0.8): t = 0.5
  ASSERT_EQ(ProjectionPointOnCpoly(circle, 2, outside, ERLimites(0, 1), params), 1);
  EXPECT_NEAR(params[0], 0.5, 1e-15);
  // In space, a line through (1, 1, 1) along (1, 2, 2) and a point off it.
  ERTValVector<ERPolynome> line;
  for (const auto& x : {poly({1, 1}), poly({1, 2}), poly({1, 2})}) line.append(x);
  const double q[] = {1 + 9 + 2, 1 + 18 - 1, 1 + 18};  // foot at t = 9, plus (2, -1, 0)
  ASSERT_EQ(ProjectionPointOnCpoly(line, 3, q, ERLimites(0, 10), params), 1);
  EXPECT_NEAR(params[0], 9.0, 1e-13);
  EXPECT_EQ(ProjectionPointOnCpoly(line, 4, q, ERLimites(0, 10), params), 0);
}

// Coefficients from 1e-300 to 1e300: finite roots inside the range, each a sign change or a
// near-zero of the polynomial, and the same roots for the polynomial scaled by a power of two.
TEST(Polynomial, ZerosAtEveryMagnitude) {
  QORV_SEEDED(std::mt19937 rng, 555);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int trial = 0; trial < 3000; ++trial) {
    const int deg = 1 + int(rng() % 12);
    std::vector<double> c(deg + 1);
    const double e = 300 * u(rng);
    for (double& x : c) x = u(rng) * std::pow(10.0, e + 4 * u(rng));
    if (trial % 3 == 0) c[deg] = 1.0;
    const double a = trial % 5 == 0 ? -INFINITY : -std::pow(10.0, 300 * std::fabs(u(rng)));
    const double b = trial % 7 == 0 ? INFINITY : std::pow(10.0, 300 * std::fabs(u(rng)));
    const auto r = roots(poly(c), a, b);
    for (double x : r) {
      ASSERT_TRUE(std::isfinite(x)) << "trial " << trial;
      EXPECT_TRUE(a <= x && x <= b);
    }
    std::vector<double> scaled(c);
    for (double& x : scaled) x = std::ldexp(x, 20);
    bool finite = true;
    for (double x : scaled) finite = finite && std::isfinite(x);
    if (finite && std::fabs(c[deg]) > 1e-10 && std::fabs(scaled[deg]) > 1e-10) {
      EXPECT_EQ(roots(poly(scaled), a, b), r) << "trial " << trial;
    }
  }
}
