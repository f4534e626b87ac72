#include "qorv/freeform/knot_vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tests/freeform/freeform_support.h"
#include "tests/in_order.h"

using namespace qorv;

using qorv_test::Rational, QuickAlgebra::ERVec;

namespace {

ERKnotVector kv(int p, std::vector<double> k) { return ERKnotVector(p, k.data(), int(k.size())); }

std::vector<double> knots(const ERKnotVector& k) {
  return std::vector<double>(k.data(), k.data() + k.length());
}

// N_{i,p}(u) and its k-th derivative by the recursive definition, in exact rationals.
Rational basisExact(const std::vector<Rational>& U, int i, int p, Rational u, int k) {
  if (p == 0) {
    if (k > 0) return Rational();
    return (U[i] <= u && u < U[i + 1]) ? Rational(1) : Rational();
  }
  if (k == 0) {
    const Rational a = (u - U[i]) / (U[i + p] - U[i]) * basisExact(U, i, p - 1, u, 0);
    const Rational b =
        (U[i + p + 1] - u) / (U[i + p + 1] - U[i + 1]) * basisExact(U, i + 1, p - 1, u, 0);
    return a + b;
  }
  const Rational a = basisExact(U, i, p - 1, u, k - 1) / (U[i + p] - U[i]);
  const Rational b = basisExact(U, i + 1, p - 1, u, k - 1) / (U[i + p + 1] - U[i + 1]);
  return Rational(p) * (a - b);
}

}  // namespace

TEST(KnotVector, ConstructorsAndClampingRule) {
  EXPECT_EQ(knots(ERKnotVector(3, 6, ERLimites(0, 1))),
            (std::vector<double>{0, 0, 0, 0, 1.0 / 3, 2.0 / 3, 1, 1, 1, 1}));
  EXPECT_EQ(knots(ERKnotVector(2, ERLimites(0, 1))), (std::vector<double>{0, 0, 0, 1, 1, 1}));
  const ERKnotVector un = kv(2, {0, 0, 1, 2, 2, 2});
  EXPECT_EQ(un.isUnclamped(), 1);
  EXPECT_NE(qorv_test::printed(un).find("  (**UNCLAMPLED**)\n"), std::string::npos);
  const double k[] = {0, 0, 0, 1, 1, 1};
  const ERKnotVector d(k, 6);
  EXPECT_EQ((Seq{d.degree(), d.isUnclamped()}), (Seq{2, 0}));
  // Too few poles for the degree: a Bezier sequence, never a short one.
  EXPECT_EQ(ERKnotVector(3, 1, ERLimites(0, 1)).length(), 8);
  // Copies share the buffer until one changes.
  ERKnotVector a = kv(2, {0, 0, 0, 1, 2, 2, 2});
  ERKnotVector b = a;
  EXPECT_EQ(a.data(), b.data());
  b.insertAt(3, 0.5);
  EXPECT_EQ((Seq{a.length(), b.length()}), (Seq{7, 8}));
}

TEST(KnotVector, FindSpanClampedExamples) {
  const ERKnotVector k = kv(3, {0, 0, 0, 0, 1, 2, 3, 3, 3, 3});
  EXPECT_EQ((Seq{k.FindSpan(0), k.FindSpan(3), k.FindSpan(1), k.FindSpan(2.5)}), (Seq{3, 5, 4, 5}));
  EXPECT_EQ((Seq{k.FindSpan(-1), k.FindSpan(std::nan("")), k.FindSpan(-INFINITY)}), (Seq{3, 3, 3}));
  EXPECT_EQ((Seq{k.FindSpan(INFINITY), k.FindSpan(std::nextafter(3.0, 0.0))}), (Seq{5, 5}));
  // Runs at the domain ends of an unclamped vector are stepped over.
  const ERKnotVector u = kv(2, {0, 1, 1, 1, 2, 3, 3, 3, 4});  // n = 6, domain [1, 3]
  EXPECT_EQ((Seq{u.FindSpan(1), u.FindSpan(3)}), (Seq{3, 4}));
  // No span at all.
  EXPECT_EQ(kv(2, {0, 0, 1, 1}).FindSpan(0.5), -1);
  EXPECT_EQ(kv(2, {0, 0, 0, 1, 1}).FindSpan(0.5), 2);
  EXPECT_EQ((Seq{ERKnotVector().FindSpan(0.0), k.first(), k.last()}), (Seq{-1, 0.0, 3.0}));
  EXPECT_EQ(kv(0, {0, 1, 2}).limites(), ERLimites(0, 2));  // U[m - p] past the end
  EXPECT_EQ(ERKnotVector().limites(), ERLimites());        // degree 0, no knots: n = -1
}

// Every sequence (sorted with runs, unclamped, all equal, decreasing, with NaN) and every u:
// an index in [p, n-1]; on a sorted sequence a non-empty span holding u when one exists.
TEST(KnotVector, FindSpanIsTotal) {
  QORV_SEEDED(std::mt19937 rng, 1701);
  std::uniform_int_distribution<int> deg(0, 5), kind(0, 5), len(0, 20), val(0, 6);
  for (int trial = 0; trial < 20000; ++trial) {
    const int p = deg(rng);
    const int m = len(rng);
    std::vector<double> U(m);
    for (double& x : U) x = val(rng) * 0.5;
    const int kd = kind(rng);
    if (kd <= 2) std::sort(U.begin(), U.end());
    if (kd == 3) std::sort(U.rbegin(), U.rend());
    if (kd == 4 && m > 0) U[rng() % m] = std::nan("");
    const ERKnotVector k = kv(p, U);
    const int n = m - p - 1;
    const double us[] = {std::nan(""),
                         INFINITY,
                         -INFINITY,
                         -1.0,
                         4.0,
                         val(rng) * 0.5,
                         val(rng) * 0.5 + 0.25,
                         m > 0 ? U[rng() % m] : 0.0};
    for (double u : us) {
      const int s = k.FindSpan(u);
      if (n < p) {
        EXPECT_EQ(s, -1);
        continue;
      }
      if (n == p) {
        EXPECT_EQ(s, p);
        continue;
      }
      ASSERT_GE(s, p) << "trial " << trial;
      ASSERT_LE(s, n - 1) << "trial " << trial;
      if (kd > 2) continue;
      bool hasSpan = false;
      for (int i = p; i < n; ++i) hasSpan = hasSpan || U[i] < U[i + 1];
      if (hasSpan) {
        EXPECT_LT(U[s], U[s + 1]) << "trial " << trial << " u " << u;
      }
      if (hasSpan && u >= U[p] && u < U[n]) {
        EXPECT_TRUE(U[s] <= u && u < U[s + 1]);
      }
    }
  }
}

// Basis functions and all their derivatives against the recursive definition, exactly.
TEST(KnotVector, BasisFunctionsMatchRecursiveDefinition) {
  QORV_SEEDED(std::mt19937 rng, 42);
  for (int trial = 0; trial < 300; ++trial) {
    const int p = 1 + trial % 5;
    const int nPoles = p + 1 + int(rng() % 5);
    const int m = nPoles + p + 1;
    // Clamped, interior knots k/8 with runs up to p.
    std::vector<long long> ki(m);
    for (int i = 0; i <= p; ++i) ki[i] = 0, ki[m - 1 - i] = 32;
    for (int i = p + 1; i < nPoles; ++i) ki[i] = 1 + long(rng() % 31);
    std::sort(ki.begin(), ki.end());
    std::vector<double> U(m);
    std::vector<Rational> UR(m);
    for (int i = 0; i < m; ++i) U[i] = ki[i] / 8.0, UR[i] = Rational(ki[i], 8);
    const ERKnotVector k = kv(p, U);
    for (int j = 0; j < 10; ++j) {
      const long long ui = long(rng() % 256);  // u = ui / 64 in [0, 4)
      const double u = ui / 64.0;
      const int s = k.FindSpan(u);
      const auto N = k.BasisFuns(s, u);
      const auto D = k.DersBasisFuns(s, u, p + 1);
      ASSERT_EQ(D.rows(), p + 2);
      for (int r = 0; r <= p; ++r) {
        for (int d = 0; d <= p; ++d) {
          const double exact = basisExact(UR, s - p + r, p, Rational(ui, 64), d).toDouble();
          const double scale = std::max(1.0, std::fabs(exact));
          if (d == 0) {
            EXPECT_NEAR(N[r], exact, 4e-15) << "p " << p << " u " << u;
          }
          EXPECT_NEAR(D(d, r), exact, 1e-12 * scale * std::pow(8.0, d)) << "p " << p << " d " << d;
        }
        EXPECT_EQ(D(p + 1, r), 0.0);  // past the degree: zero rows
      }
    }
  }
}

TEST(KnotVector, BadSpansAndPolesGiveZeros) {
  const ERKnotVector k = kv(2, {0, 0, 0, 1, 2, 2, 2});
  for (int span : {-5, 0, 1, 5, 100}) {
    const auto N = k.BasisFuns(span, 0.5);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(N[i], 0.0);
    EXPECT_EQ(k.DersBasisFuns(span, 0.5, 2).norme2(), 0.0);
  }
  EXPECT_EQ(k.DersBasisFuns(2, 0.5, -1).length(), 0);
  ERVec<ERPole2DH> poles(4, ERPole2DH(1, 2, 1));
  const ERPole2DH ok = k.CalOnNurbs(1.5, 2, poles);
  EXPECT_DOUBLE_EQ(ok.w(), 1.0);
  EXPECT_DOUBLE_EQ(ok.wy(), 2.0);
  EXPECT_EQ(k.CalOnNurbs(1.5, 3, poles).w(), 0.0);                // wrong degree
  EXPECT_EQ(k.CalOnNurbs(1.5, 2, ERVec<ERPole2DH>(2)).w(), 0.0);  // too few poles
  // An all-equal (damaged) sequence: a span index and finite zeros, no division by zero.
  const ERKnotVector flat = kv(2, {1, 1, 1, 1, 1, 1, 1});
  const auto N = flat.BasisFuns(flat.FindSpan(1), 1);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(N[i]));
}

TEST(KnotVector, SequenceOperations) {
  ERKnotVector a = kv(2, {0, 0, 0, 1, 2, 2, 2});
  a.incDegree(1);
  EXPECT_EQ(knots(a), (std::vector<double>{0, 0, 0, 0, 1, 1, 2, 2, 2, 2}));
  EXPECT_EQ(a.degree(), 3);

  ERVec<double> out;
  kv(3, {0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2}).GetDiscontinuities(1, out);
  EXPECT_EQ(std::vector<double>(out.begin(), out.end()), (std::vector<double>{0, 1, 2}));
  ERVec<double> out2;
  kv(3, {0, 0, 0, 0, 1, 1, 2, 2, 2, 2}).GetDiscontinuities(1, out2);
  EXPECT_EQ(std::vector<double>(out2.begin(), out2.end()), (std::vector<double>{0, 2}));
  EXPECT_EQ(kv(3, {0, 0, 0, 0, 1, 2, 2, 2, 2}).IsContinuous(0), 0);
  EXPECT_EQ(kv(3, {0, 0, 0, 0, 1, 2, 2, 2, 2}).IsContinuous(-1), 1);

  const ERKnotVector d = Diff(kv(2, {0, 0, 0, 0.5, 0.5, 1, 1, 1}), kv(2, {0, 0, 0, 0.5, 1, 1, 1}));
  EXPECT_EQ((Seq{knots(d), d.isUnclamped()}), (Seq{(std::vector<double>{0.5}), 1}));
  const ERKnotVector u = Union(kv(1, {0, 0, 1, 1}), kv(1, {0, 0, 0.5, 1, 1}));
  EXPECT_EQ((Seq{knots(u), u.isUnclamped()}), (Seq{(std::vector<double>{0, 0, 0.5, 1, 1}), 0}));
  // Vectors that do not end together, or damaged ones, still merge to the end of both.
  EXPECT_EQ(knots(Union(kv(1, {0, 0, 1, 1}), kv(1, {0, 0, 3, 3}))),
            (std::vector<double>{0, 0, 1, 1, 3, 3}));
  EXPECT_EQ(Union(kv(1, {2, 1, 0}), kv(1, {std::nan(""), 0, 5})).length(), 6);

  ERKnotVector r = kv(1, {0, 0, 1, 3, 3});
  r.reverse();
  EXPECT_EQ(knots(r), (std::vector<double>{0, 0, 2, 3, 3}));
  ERKnotVector s = kv(1, {0, 0, 1, 2, 2});
  s.reparametrize(ERLimites(10, 20));
  EXPECT_EQ(knots(s), (std::vector<double>{10, 10, 15, 20, 20}));
  ERKnotVector s2 = kv(1, {0, 0, 0.1, 0.3, 0.3});
  s2.reparametrize(ERLimites(0.7, 1.9));
  EXPECT_EQ(s2[4], 1.9);  // the ends exactly
  ERKnotVector z = kv(1, {1, 1, 1});
  z.reverse();
  z.reparametrize(ERLimites(0, 5));
  EXPECT_EQ(knots(z), (std::vector<double>{1, 1, 1}));

  ERKnotVector c = kv(2, {0, 0, 0, 1, 1, 1});
  c.concat(kv(2, {1, 1, 1, 2, 2, 2}));
  EXPECT_EQ(knots(c), (std::vector<double>{0, 0, 0, 1, 1, 1, 2, 2, 2}));
  const ERKnotVector sub = kv(2, {0, 0, 0, 1, 2, 2, 2}).subVector(1, 5);
  EXPECT_EQ((Seq{knots(sub), sub.isUnclamped(), kv(2, {0, 1, 2}).subVector(-3, 50).length()}),
            (Seq{(std::vector<double>{0, 0, 1, 2, 2}), 1, 3}));
  EXPECT_EQ(knots(kv(1, {0, 0, 1, 2, 2}).GetPrautzsch(2)),
            (std::vector<double>{0, 0, 1, 1, 2, 2, 2}));

  ERVec<double> rep{0, 1, 0.9999999, 2};
  EXPECT_EQ((Seq{CheckAndRepairKnotVector(rep, 0, 1e-6), rep[2]}), (Seq{1, 1.0}));
  ERVec<double> bad{0, 1, 0.9999999, 2};
  EXPECT_EQ(CheckAndRepairKnotVector(bad, 0, 1e-9), 0);
  ERVec<double> nan{0, std::nan(""), 2};
  EXPECT_EQ(CheckAndRepairKnotVector(nan, 0, 1e-6), 0);
}

TEST(KnotVector, CursorWalk) {
  const ERKnotVector k = kv(1, {0, 0, 1, 1, 1, 2});
  ERKnot c(k);
  EXPECT_EQ((Seq{c.index(), c.multiplicity(), ++c, c.index(), c.multiplicity(), ++c}),
            (Seq{0, 2, 1, 2, 3, 1}));
  EXPECT_EQ((Seq{c.index(), bool(c.isLast()), ++c, bool(c.overflow())}), (Seq{5, true, 0, true}));
  EXPECT_EQ((Seq{c.reach(0.5), c.value(), --c}), (Seq{0, 0.0, 0}));
  EXPECT_TRUE(c.underflow());
  c.reset();
  EXPECT_FALSE(c.underflow());
  ERKnot bad(k, 1.5);
  EXPECT_EQ((Seq{bool(bad.error()), bad.index()}), (Seq{true, 2}));
  std::ostringstream os;
  os << ERKnot(k, 1.0);
  EXPECT_EQ(os.str(), " Valeur = 1 Mult   = 3 index  = 2\n");
  ERKnotVector w = kv(1, {0, 0, 1, 1, 1, 2});
  ERKnot cw(w, 1.0);
  cw = 1.5;
  EXPECT_EQ(knots(w), (std::vector<double>{0, 0, 1.5, 1.5, 1.5, 2}));
  ERKnotVector empty;
  ERKnot ce(empty);
  EXPECT_EQ((Seq{bool(ce.error()), ++ce}), (Seq{true, 0}));

  ERKnotVector kb = kv(2, {0, 0, 0, 1, 2, 2, 2});
  double uk, uk1;
  int ki, s, k1, s1, span = -7, r;
  PrepareBoehm(kb, 0.5, 1, uk, ki, s, uk1, k1, s1, span, r);
  EXPECT_EQ((Seq{uk, uk1, span, s}), (Seq{0.0, 1.0, 2, 0}));
  PrepareBoehm(kb, 1.0, 1, uk, ki, s, uk1, k1, s1, span, r);
  EXPECT_EQ((Seq{uk, span, s}), (Seq{1.0, 3, 1}));
}

TEST(KnotVector, StoredImageAndPrintForm) {
  const ERKnotVector k = kv(1, {0, 0, 0.5, 1, 1});
  qorv_test::Bytes expected;
  qorv_test::putInt(expected, 40);
  for (double v : {0.0, 0.0, 0.5, 1.0, 1.0}) qorv_test::putDouble(expected, v);
  for (int n : {1, 0}) qorv_test::putInt(expected, n);  // degree, flag
  EXPECT_EQ((Seq{qorv_test::imageOf(k), k.binaryStoreSize()}), (Seq{expected, expected.size()}));
  ERKnotVector back;
  ASSERT_EQ(qorv_test::restoreValue(back, expected), 1);
  EXPECT_EQ(knots(back), knots(k));
  EXPECT_EQ(qorv_test::printed(k), "KnotVector degree 1  ( Regular )\n(5)[0,0,0.5,1,1]\n");
  // Damaged records leave the vector as it was.
  for (std::size_t cut = 0; cut < expected.size(); cut += 3) {
    qorv_test::Bytes b(expected.begin(), expected.begin() + long(cut));
    ERKnotVector v = kv(2, {7, 7, 7});
    EXPECT_EQ((Seq{qorv_test::restoreValue(v, b), v.length()}), (Seq{0, 3}));
  }
  for (int field : {-1, 9}) {
    qorv_test::Bytes b = expected;
    b[44] = static_cast<unsigned char>(field);  // degree
    if (field < 0) b[45] = b[46] = b[47] = 0xFF;
    ERKnotVector v;
    EXPECT_EQ(qorv_test::restoreValue(v, b), 0);
  }
  qorv_test::Bytes f = expected;
  f[48] = 2;  // flag
  ERKnotVector v;
  EXPECT_EQ(qorv_test::restoreValue(v, f), 0);
}
