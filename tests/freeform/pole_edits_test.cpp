// Edits of the pole curves: span power forms and their cache, chord height, splitting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "qorv/freeform/bezier_primitives.h"
#include "qorv/freeform/pole_curves.h"
#include "tests/freeform/freeform_support.h"
#include "tests/freeform/pole_test_curves.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv;
using namespace qorv_test::poles;

using QuickAlgebra::ERVec;

namespace {

// Every coordinate of p within tol of the long-double reference at t.
template <class Point>
::testing::AssertionResult nearRef(const Point& p, const RandomCurve& c, double t, double tol) {
  const std::vector<LD> r = refPoint(c, t);
  for (int d = 0; d < c.dim; ++d)
    if (!(std::fabs(p.data()[d] - double(r[d])) <= tol))
      return ::testing::AssertionFailure()
             << "coordinate " << d << " at " << t << ": " << p.data()[d] << " vs " << double(r[d]);
  return ::testing::AssertionSuccess();
}

double horner(const ERPolynome& q, double s) {
  double v = 0.0;
  for (int k = q.length() - 1; k >= 0; --k) v = v * s + q[k];
  return v;
}

template <class Curve, class Pole>
void checkSpanPowersAndChordHeight(int dim, unsigned fixed) {
  QORV_SEEDED(std::mt19937_64 rng, fixed);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 150; ++rep) {
    const RandomCurve c = randomCurve(rng, dim, rep % 4 == 0, rep % 3 == 2);
    SCOPED_TRACE(rep);
    const Curve curve = nurbsOf<Curve, Pole>(c);
    const int n = curve.nbPoles(), p = c.p;
    EXPECT_EQ(curve.getSpanPower(-1).length(), 0);
    EXPECT_EQ(curve.getSpanPower(n - p).length(), 0);
    int filled = 0;
    for (int i = 0; i < n - p; ++i) {
      const double a = c.U[p + i], b = c.U[p + i + 1];
      const ERTValVector<ERPolynome> f = curve.getSpanPower(i);
      EXPECT_EQ(curve.cachedSpans(), ++filled);
      if (!(b - a > 1e-11)) {
        EXPECT_EQ(f.length(), 0);
        continue;
      }
      ASSERT_EQ(f.length(), dim + 1);
      EXPECT_TRUE(curve.getSpanPower(i) == f);  // the cached copy
      for (int k = 0; k <= 8; ++k) {
        // s from the rounded t, so both name the same point.
        const double t = k == 8 ? b : a + (b - a) * (k / 8.0);
        const double s = (t - a) / (b - a);
        const double w = horner(f[dim], s);
        auto q = curve(t);
        for (int d = 0; d < dim; ++d) q.data()[d] = horner(f[d], s) / w;
        // A Bernstein-to-power change of degree p grows rounding by up to 2^p.
        ASSERT_TRUE(nearRef(q, c, t, 1e-13 * c.size * (1 << p)))
            << "span " << i << " p " << p << " size " << c.size << " s " << s;
      }
    }
    // Trimmed anywhere, its chord height bounds it.
    Curve trimmed(curve);
    const double a = trimmed.knotVector().first(), b = trimmed.knotVector().last();
    const double lo = a + 0.3 * (b - a) * u01(rng), hi = b - 0.3 * (b - a) * u01(rng);
    trimmed.setBound(ERLimites(lo, hi));
    const double h = trimmed.cordalHeight();
    // Every point of the trimmed curve lies within h of the chord line.
    const auto A = trimmed(lo), B = trimmed(hi);
    std::vector<std::decay_t<decltype(A)>> pts;
    for (int k = 0; k <= 400; ++k) pts.push_back(trimmed(lo + (hi - lo) * k / 400.0));
    double worst = 0.0;
    for (const auto& q : pts) {
      double len2 = 0.0, dot = 0.0, v[3], e[3];
      for (int k = 0; k < dim; ++k) {
        v[k] = q.data()[k] - A.data()[k], e[k] = B.data()[k] - A.data()[k];
        len2 += e[k] * e[k], dot += v[k] * e[k];
      }
      double d2 = 0.0;
      for (int k = 0; k < dim; ++k) {
        const double r = v[k] - (len2 > 0 ? dot / len2 : 0.0) * e[k];
        d2 += r * r;
      }
      worst = std::max(worst, std::sqrt(d2));
    }
    EXPECT_LE(worst, h + 1e-9 * c.size)
        << "size " << c.size << " h " << h << " p " << c.p << " lo " << lo << " hi " << hi
        << " knots " << ::testing::PrintToString(c.U);
  }
}

// The span power forms evaluate to the curve; the chord height bounds it wherever trimmed.
TEST(PoleEdits, SpanPowerFormsAndChordHeight) {
  checkSpanPowersAndChordHeight<ERCpoleNURBS2D, ERPole2DH>(2, 1831);
  checkSpanPowersAndChordHeight<ERCpoleNURBS3D, ERPole3DH>(3, 1832);

  // The parabola through (0,0), (1,2), (2,0): x = 2s, y = 4s - 4s^2, cached until edited.
  ERVec<ERPoint2D> pts;
  pts.append(ERPoint2D(0, 0)), pts.append(ERPoint2D(1, 2)), pts.append(ERPoint2D(2, 0));
  ERCpoleBezier2D bz(pts, ERLimites(0.0, 2.0));
  const ERTValVector<ERPolynome> f = bz.getSpanPower(0);
  ASSERT_EQ(f.length(), 2);
  EXPECT_EQ((Seq{f[0](0), f[0](1), f[0](2), f[1](0), f[1](1), f[1](2)}),
            (Seq{0.0, 2.0, 0.0, 0.0, 4.0, -4.0}));
  EXPECT_EQ((Seq{bz.cachedSpans(), bz.getSpanPower(1).length()}), (Seq{1, 0}));
  bz.reverse();
  EXPECT_EQ((Seq{bz.cachedSpans(), bz.getSpanPower(0)[0](1)}), (Seq{0, -2.0}));

  // A zero-length span has an empty power form; so has every span of a broken curve.
  ERVec<ERPole2DH> h;
  for (int i = 0; i < 5; ++i) h.append(ERPole2DH(i, i * i, 1.0));
  const double U[] = {0, 0, 0, 0.5, 0.5, 1, 1, 1};
  const ERCpoleNURBS2D z(h, ERKnotVector(2, U, 8));
  EXPECT_EQ((Seq{z.getSpanPower(0).length(), z.getSpanPower(1).length()}), (Seq{3, 0}));
  EXPECT_EQ(z.getSpanPower(2).length(), 3);
  h.append(ERPole2DH(9, 9, 1));
  const ERCpoleNURBS2D broken(h, ERKnotVector(2, U, 8));
  EXPECT_EQ((Seq{broken.getSpanPower(0).length(), broken.cachedSpans()}), (Seq{0, 0}));

  // The parabola's chord height.
  EXPECT_EQ(ERCpoleBezier2D(pts, ERLimites(0, 1)).cordalHeight(), 2.0);
  pts.append(ERPoint2D(0, 0));
  // Closed: the farthest pole from the first one.
  EXPECT_DOUBLE_EQ(ERCpoleBezier2D(pts, ERLimites(0, 1)).cordalHeight(), std::sqrt(5.0));
  ERVec<ERPoint3D> two;
  two.append(ERPoint3D(0, 0, 0)), two.append(ERPoint3D(5, 1, 1));
  EXPECT_EQ(ERCpoleBezier3D(two, ERLimites(0, 1)).cordalHeight(), 0.0);
  EXPECT_EQ(ERCpoleNURBS2D().cordalHeight(), 0.0);
}

// Each edit empties the cache, and what is computed afterwards is the edited curve's.
template <class Curve>
void expectFresh(const Curve& edited, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(edited.cachedSpans(), 0);
  const Curve fresh(edited.poles(), edited.knotVector(), edited.getBound());
  for (int i = 0; i < edited.nbPoles() - edited.degree(); ++i)
    EXPECT_TRUE(edited.getSpanPower(i) == fresh.getSpanPower(i)) << i;
}

TEST(PoleEdits, EveryEditEmptiesTheSpanCache) {
  QORV_SEEDED(std::mt19937_64 rng, 1833);
  for (int rep = 0; rep < 40; ++rep) {
    const RandomCurve c = randomCurve(rng, 2, false, rep % 2 == 1);
    ERCpoleNURBS2D curve = nurbsOf<ERCpoleNURBS2D, ERPole2DH>(c);
    auto fill = [&]() {
      for (int i = 0; i < curve.nbPoles() - curve.degree(); ++i) curve.getSpanPower(i);
    };
    const double mid = 0.5 * (curve.knotVector().first() + curve.knotVector().last());
    const std::pair<const char*, std::function<void()>> edits[] = {
        {"insertKnot", [&] { curve.insertKnot(mid, 1); }},
        {"translate", [&] { curve.translate(ERPoint2D(1.0, -2.0)); }},
        {"scale", [&] { curve.scale(3.0); }},
        {"transformFrom", [&] { curve.transformFrom(ERTransfo2D(0.3, -1.0, 0.7, 0.2, 5.0, 6.0)); }},
        {"reverse", [&] { curve.reverse(); }},
        {"reparametrize", [&] { curve.reparametrize(ERLimites(-4.0, 7.0)); }},
    };
    for (const auto& [name, edit] : edits) {
      fill();
      edit();
      expectFresh(curve, name);
    }
    fill();
    const qorv_test::Bytes image = qorv_test::imageOf(curve);
    ERCpoleNURBS2D other = nurbsOf<ERCpoleNURBS2D, ERPole2DH>(randomCurve(rng, 2, false, false));
    other.getSpanPower(0);
    ASSERT_EQ(qorv_test::restoreValue(other, image), 1);
    expectFresh(other, "restoreGuts");
    // A copy does not share its original's cache.
    fill();
    const ERCpoleNURBS2D copy(curve);
    EXPECT_EQ(copy.cachedSpans(), 0);
  }
}

template <class Curve>
void expectHalves(const Curve& whole, const ERCpoleRep2D* f, const ERCpoleRep2D* s, double u) {
  ASSERT_NE(f, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(f->udeb(), whole.udeb());
  EXPECT_EQ((Seq{f->ufin(), s->udeb()}), (Seq{u, u}));
  EXPECT_EQ(s->ufin(), whole.ufin());
  const double size = whole.getBox().DiametreBoule() + 1.0;
  for (int k = 0; k <= 50; ++k) {
    const double t1 = whole.udeb() + (u - whole.udeb()) * k / 50.0;
    const double t2 = u + (whole.ufin() - u) * k / 50.0;
    EXPECT_NEAR(qorv::distance((*f)(t1), whole(t1)), 0.0, 1e-13 * size);
    EXPECT_NEAR(qorv::distance((*s)(t2), whole(t2)), 0.0, 1e-13 * size);
  }
}

TEST(PoleEdits, SplitGivesTheTwoHalves) {
  ERVec<ERPole2DH> h;
  for (int i = 0; i < 6; ++i) h.append(ERPole2DH(i, (i * 7) % 5, 1.0 + 0.1 * i));
  const double U[] = {0, 0, 0, 0, 0.3, 0.6, 1, 1, 1, 1};
  ERCpoleNURBS2D n(h, ERKnotVector(3, U, 10), ERLimites(0.1, 0.9));
  ERCpoleRep2D *f = nullptr, *s = nullptr;
  ASSERT_EQ(n.split(f, s), 1);
  expectHalves(n, f, s, 0.5);
  EXPECT_NE(ERCpoleNURBS2D::castdown(f), nullptr);
  delete f, delete s;
  // At a knot and anywhere inside: the random curves below. Not strictly inside: nothing.
  for (double u : {0.1, 0.9, 2.0, std::nan("")}) {
    EXPECT_EQ(n.splitAt(f, s, u), 0) << u;
    EXPECT_EQ((Seq{f, s}), (Seq{nullptr, nullptr}));
  }
  ERVec<ERPoint2D> pts;
  for (int i = 0; i < 4; ++i) pts.append(ERPoint2D(i, i % 2));
  const ERCpoleBezier2D bz(pts, ERLimites(2.0, 4.0));
  ASSERT_EQ(bz.split(f, s), 1);
  expectHalves(bz, f, s, 3.0);
  // A Bezier piece is recomputed on its own half.
  EXPECT_EQ(ERCpoleBezier2D::castdown(f)->domain(), ERLimites(2.0, 3.0));
  delete f, delete s;
  ERCpoleBezier2D flat(pts, ERLimites(1.0, 1.0));
  EXPECT_EQ(flat.split(f, s), 0);

  // Random curves cut anywhere: each half is the curve over its part.
  QORV_SEEDED(std::mt19937_64 rng, 1839);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 100; ++rep) {
    SCOPED_TRACE(rep);
    const RandomCurve c = randomCurve(rng, 2, rep % 4 == 0, rep % 3 == 2);
    const ERCpoleNURBS2D whole = nurbsOf<ERCpoleNURBS2D, ERPole2DH>(c);
    const double a = whole.udeb(), b = whole.ufin();
    const int inner = int(c.U.size()) - 2 * c.p - 2;  // interior knots
    const double u = rep % 5 == 1 && inner > 0 ? c.U[c.p + 1 + rng() % inner]
                                               : a + (b - a) * (0.01 + 0.98 * u01(rng));
    if (!(a < u && u < b)) continue;
    ASSERT_EQ(whole.splitAt(f, s, u), 1);
    for (int k = 0; k <= 200; ++k) {
      const double t1 = k == 200 ? u : a + (u - a) * k / 200.0;
      const double t2 = k == 200 ? b : u + (b - u) * k / 200.0;
      ASSERT_TRUE(nearRef((*f)(t1), c, t1, 1e-12 * c.size)) << t1;
      ASSERT_TRUE(nearRef((*s)(t2), c, t2, 1e-12 * c.size)) << t2;
    }
    delete f, delete s;
    // A Bezier curve recomputes its poles on each half.
    ERVec<ERPoint2D> q;
    for (std::size_t i = 0; i < c.H.size(); i += 3)
      q.append(ERPoint2D(c.H[i] / c.H[i + 2], c.H[i + 1] / c.H[i + 2]));
    const ERCpoleBezier2D bz(q, ERLimites(a, b));
    ASSERT_EQ(bz.splitAt(f, s, u), 1);
    for (int k = 0; k <= 50; ++k) {
      const double t1 = a + (u - a) * k / 50.0, t2 = u + (b - u) * k / 50.0;
      ASSERT_LE(qorv::distance((*f)(t1), bz(t1)), 1e-11 * c.size) << t1;
      ASSERT_LE(qorv::distance((*s)(t2), bz(t2)), 1e-11 * c.size) << t2;
    }
    delete f, delete s;
  }
}

// The edited curve against the long-double evaluation of the original at 1000 parameters.
template <class Curve>
void expectShapeKept(const Curve& edited, const RandomCurve& c, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_EQ(edited.isValid(), 1);
  const int n = int(c.U.size()) - c.p - 1;
  const double a = c.U[c.p], b = c.U[n];
  for (int k = 0; k < 1000; ++k) {
    const double t = k == 999 ? b : a + (b - a) * k / 999.0;
    ASSERT_TRUE(nearRef(edited(t), c, t, 1e-12 * c.size));
  }
}

template <class Curve>
::testing::AssertionResult sameData(const Curve& x, const Curve& y) {
  if (!(x.poles() == y.poles())) return ::testing::AssertionFailure() << "poles differ";
  if (!(x.knotVector().getVec() == y.knotVector().getVec()) ||
      x.knotVector().degree() != y.knotVector().degree())
    return ::testing::AssertionFailure() << "knots differ";
  if (x.getBound() != y.getBound()) return ::testing::AssertionFailure() << "bounds differ";
  return ::testing::AssertionSuccess();
}

// The largest pole difference, in units of 'size' for the weighted coordinates and of 'w' for
// the weights.
template <class Pole>
double poleGap(const ERVec<Pole>& x, const ERVec<Pole>& y, double size, double w, int dim) {
  if (x.length() != y.length()) return HUGE_VAL;
  double g = 0.0;
  for (int i = 0; i < x.length(); ++i)
    for (int k = 0; k < Pole::kSize; ++k)
      g = std::max(g, std::fabs(x[i].data()[k] - y[i].data()[k]) / (k < dim ? size : w));
  return g;
}

template <class Curve, class Pole>
void checkDegreeAndKnotEdits(int dim, unsigned fixed) {
  QORV_SEEDED(std::mt19937_64 rng, fixed);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 400; ++rep) {
    const bool unclamped = rep % 3 == 2;
    const RandomCurve c = randomCurve(rng, dim, rep % 5 == 0, unclamped);
    SCOPED_TRACE(testing::Message()
                 << "rep " << rep << " p " << c.p << " knots " << ::testing::PrintToString(c.U));
    const Curve curve = nurbsOf<Curve, Pole>(c);
    const int p = c.p, n = curve.nbPoles();
    const double a = c.U[p], b = c.U[n];
    double wmax = 0.0;
    for (int i = 0; i < n; ++i) wmax = std::max(wmax, curve.poleWeight(i));

    // Elevation: the shape stays and every breakpoint gains t in multiplicity.
    const int t = 1 + int(rng() % 2);
    Curve up(curve);
    up.incrDegree(t);
    EXPECT_EQ(up.degree(), p + t);
    expectShapeKept(up, c, "incrDegree");
    std::vector<double> distinct;
    for (int i = p; i <= n; ++i)
      if (distinct.empty() || c.U[i] != distinct.back()) distinct.push_back(c.U[i]);
    ERVec<double> want;
    for (std::size_t j = 0; j < distinct.size(); ++j) {
      int s = 0;
      for (double v : c.U) s += v == distinct[j];
      if (j == 0 || j + 1 == distinct.size()) s = p + 1;
      for (int k = 0; k < s + t; ++k) want.append(distinct[j]);
    }
    EXPECT_TRUE(up.knotVector().getVec() == want);
    if (!unclamped) {
      ERKnotVector k(curve.knotVector());
      k.incDegree(t);
      EXPECT_TRUE(up.knotVector().getVec() == k.getVec());
    }

    // Back down one degree at a time: exact, with the original knots and poles when clamped.
    Curve down(up);
    for (int k = 0; k < t; ++k) ASSERT_EQ(down.decrDegree(), 1) << k;
    EXPECT_EQ(down.degree(), p);
    expectShapeKept(down, c, "decrDegree");
    if (!unclamped) {
      EXPECT_TRUE(down.knotVector().getVec() == curve.knotVector().getVec());
      EXPECT_LE(poleGap(down.poles(), curve.poles(), c.size * wmax, wmax, dim), 1e-11);
    }
    // A curve drawn at random is of full degree: refused, nothing changed.
    Curve same(curve);
    EXPECT_EQ(same.decrDegree(), 0);
    EXPECT_TRUE(sameData(same, curve));

    // Insertion then removal gives the poles back.
    const double u =
        rng() % 2 ? a + (b - a) * (0.05 + 0.9 * u01(rng)) : c.U[p + 1 + rng() % (n - p)];
    int s = 0;
    for (double v : c.U) s += v == u;
    if (u > a && u < b && s < p) {
      const int r = 1 + int(rng() % (p - s));
      Curve ins(curve);
      ins.insertKnot(u, r);
      ASSERT_EQ(ins.nbPoles(), n + r);
      // Asked for more than the knot holds, the removal stops at the inserted ones; asked to
      // go into the curve's own knot, it is refused.
      EXPECT_EQ(ins.reduceKnotMultiplicity(u, r + 3), s == 0 ? 1 : 0);
      EXPECT_EQ(ins.nbPoles(), s == 0 ? n : n + r);
      Curve back(curve);
      back.insertKnot(u, r);
      ASSERT_EQ(back.reduceKnotMultiplicity(u, r), 1);
      EXPECT_TRUE(back.knotVector().getVec() == curve.knotVector().getVec());
      EXPECT_LE(poleGap(back.poles(), curve.poles(), c.size * wmax, wmax, dim), 1e-12);
      expectShapeKept(back, c, "reduceKnotMultiplicity");
    }
    // A knot of the random curve itself cannot go: refused, nothing changed.
    if (n > p + 1) {
      const double k = c.U[p + 1 + rng() % (n - p - 1)];
      if (k > a && k < b) {
        Curve keep(curve);
        EXPECT_EQ(keep.reduceKnotMultiplicity(k, 1), 0) << k;
        EXPECT_TRUE(sameData(keep, curve));
      }
    }
    for (double bad : {a, b, a - 1.0, 0.5 * (a + b) + 1e-9 * (b - a), std::nan("")}) {
      Curve keep(curve);
      if (keep.knotVector().quicklyFind(bad) >= 0 && bad > a && bad < b) continue;
      EXPECT_EQ(keep.reduceKnotMultiplicity(bad, 1), 0) << bad;
      EXPECT_TRUE(sameData(keep, curve));
    }
  }
}

TEST(PoleEdits, DegreeAndKnotEditsKeepTheShape) {
  checkDegreeAndKnotEdits<ERCpoleNURBS2D, ERPole2DH>(2, 1836);
  checkDegreeAndKnotEdits<ERCpoleNURBS3D, ERPole3DH>(3, 1837);
}

TEST(PoleEdits, BezierDegreeRaiseAndReduction) {
  ERVec<ERPoint2D> pts;
  pts.append(ERPoint2D(0, 0)), pts.append(ERPoint2D(1, 2)), pts.append(ERPoint2D(2, 0));
  ERCpoleBezier2D bz(pts, ERLimites(0.0, 1.0));
  bz.getSpanPower(0);
  bz.incrDegree(1);
  EXPECT_EQ(bz.cachedSpans(), 0);
  EXPECT_EQ((Seq{bz.nbPoles(), bz.decrDegree(), bz.nbPoles()}), (Seq{4, 1, 3}));
  // Inexact: still reduced, with the ends kept.
  ERVec<ERPoint2D> s;
  s.append(ERPoint2D(0, 0)), s.append(ERPoint2D(1, 3)), s.append(ERPoint2D(2, -3)),
      s.append(ERPoint2D(3, 0));
  ERCpoleBezier2D cubic(s, ERLimites(0.0, 1.0));
  EXPECT_EQ(cubic.decrDegree(), 0);
  ASSERT_EQ(cubic.nbPoles(), 3);
  EXPECT_EQ(cubic[0], s[0]);
  EXPECT_EQ(cubic[1], ERPoint2D(1.5, -4.5));  // from the end: 3 + 1.5 (2 - 3), 1.5 (-3)
  EXPECT_EQ(cubic[2], s[3]);
  // Two poles: refused.
  ERCpoleBezier2D line(ERVec<ERPoint2D>(s.data(), 2), ERLimites(0.0, 1.0));
  EXPECT_EQ((Seq{line.decrDegree(), line.nbPoles()}), (Seq{0, 2}));

  // Random weighted and Cartesian curves at every scale: raised, the shape is the same; back
  // down, exact and the poles come back.
  QORV_SEEDED(std::mt19937_64 rng, 1838);
  for (int rep = 0; rep < 100; ++rep) {
    const RandomCurve c = randomCurve(rng, 3, true, false);
    SCOPED_TRACE(rep);
    const ERCpoleBezier3DR orig(polesOf<ERPole3DH>(c), ERLimites(c.U.front(), c.U.back()));
    ERCpoleBezier3DR e(orig);
    const int t = 1 + int(rng() % 3);
    e.incrDegree(t);
    EXPECT_EQ(e.degree(), c.p + t);
    expectShapeKept(e, c, "raise");
    for (int k = 0; k < t; ++k) EXPECT_EQ(e.decrDegree(), 1);
    EXPECT_LE(poleGap(e.poles(), orig.poles(), c.size * 2.0, 2.0, 3), 1e-11);
    ERVec<ERPoint2D> q;
    for (int i = 0; i <= c.p; ++i)
      q.append(ERPoint2D(c.H[4 * i] / c.H[4 * i + 3], c.H[4 * i + 1] / c.H[4 * i + 3]));
    ERCpoleBezier2D flat(q, ERLimites(0.0, 1.0));
    ERCpoleBezier2D raised(flat);
    raised.incrDegree(2);
    for (int k = 0; k <= 100; ++k)
      ASSERT_NEAR(qorv::distance(raised(k / 100.0), flat(k / 100.0)), 0.0, 1e-13 * c.size);
  }
}

TEST(PoleEdits, DamagedCurvesAreLeftAsTheyAre) {
  ERVec<ERPole2DH> h;
  for (int i = 0; i < 5; ++i) h.append(ERPole2DH(i, i % 2, 1.0));
  const double U[] = {0, 0, 0, 0.5, 0.7, 1, 1, 1};
  const ERCpoleNURBS2D good(h, ERKnotVector(2, U, 8));
  ERVec<ERPole2DH> nan(h);
  nan[2] = ERPole2DH(std::nan(""), 0, 1);
  const double wrong[] = {0, 0, 0, 0.5, 1, 1, 1};
  const double falling[] = {0, 0, 0, 0.7, 0.5, 1, 1, 1};
  const ERCpoleNURBS2D broken[] = {
      ERCpoleNURBS2D(nan, ERKnotVector(2, U, 8)), ERCpoleNURBS2D(h, ERKnotVector(2, wrong, 7)),
      ERCpoleNURBS2D(h, ERKnotVector(2, falling, 8)), ERCpoleNURBS2D()};
  for (const ERCpoleNURBS2D& b : broken) {
    ERCpoleNURBS2D c(b);
    c.incrDegree(1);
    EXPECT_EQ((Seq{c.decrDegree(), c.reduceKnotMultiplicity(0.5, 1)}), (Seq{0, 0}));
    c.adjust();
    c.insertKnot(0.3, 1);
    EXPECT_TRUE(c.poles() == b.poles() || c.nbPoles() == b.nbPoles() + 1);
    EXPECT_EQ(c.knotVector().degree(), b.knotVector().degree());
  }
  // Elevation past the largest degree does nothing; so does t <= 0.
  for (int t : {0, -3, 63, 1 << 30}) {
    ERCpoleNURBS2D c(good);
    c.incrDegree(t);
    EXPECT_EQ(c.degree(), 2) << t;
  }
  ERVec<ERPoint2D> q;
  q.append(ERPoint2D(0, 0)), q.append(ERPoint2D(1, 1));
  ERCpoleBezier2D bz(q, ERLimites(0, 1));
  bz.incrDegree(1 << 30);
  EXPECT_EQ(bz.degree(), 1);
  ERCpoleBezier2D none;
  none.incrDegree(2);
  EXPECT_EQ((Seq{none.nbPoles(), none.decrDegree()}), (Seq{0, 0}));
}

}  // namespace
