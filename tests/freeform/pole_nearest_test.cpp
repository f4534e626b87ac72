#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/freeform/pole_curves.h"
#include "tests/freeform/pole_test_curves.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv;

using QuickAlgebra::ERVec;

namespace {

using LD = long double;

// A curve drawn at random (clamped knots, homogeneous poles) and its trim bounds, for the
// long-double reference.
template <int D>
struct RefCurve {
  qorv_test::poles::RandomCurve c{D, 0, {}, {}};
  LD lo = 0, hi = 0;

  LD dist(LD t, const std::vector<LD>& P) const {
    const std::vector<LD> x = qorv_test::poles::refPoint(c, t);
    LD s = 0;
    for (int k = 0; k < D; ++k) s += (x[k] - P[k]) * (x[k] - P[k]);
    return std::sqrt(s);
  }
  // Dense sampling, every sampled local minimum refined by golden section, and both ends.
  LD nearest(const std::vector<LD>& P) const {
    std::vector<LD> ts;
    for (std::size_t i = 0; i + 1 < c.U.size(); ++i) {
      const LD a = std::max(LD(c.U[i]), lo), b = std::min(LD(c.U[i + 1]), hi);
      if (!(a < b)) continue;
      for (int j = 0; j < 48; ++j) ts.push_back(a + (b - a) * j / 48);
    }
    ts.push_back(hi);
    std::vector<LD> ds(ts.size());
    for (std::size_t i = 0; i < ts.size(); ++i) ds[i] = dist(ts[i], P);
    LD best = std::min(ds.front(), ds.back());
    for (std::size_t i = 0; i < ts.size(); ++i) {
      const bool left = i == 0 || ds[i - 1] >= ds[i];
      const bool right = i + 1 == ts.size() || ds[i + 1] >= ds[i];
      if (!left || !right) continue;
      LD a = ts[i == 0 ? 0 : i - 1], b = ts[i + 1 == ts.size() ? i : i + 1];
      const LD g = (std::sqrt(5.0L) - 1) / 2;
      LD x1 = b - g * (b - a), x2 = a + g * (b - a);
      LD f1 = dist(x1, P), f2 = dist(x2, P);
      for (int it = 0; it < 120 && b - a > 0; ++it) {
        if (f1 < f2) {
          b = x2, x2 = x1, f2 = f1, x1 = b - g * (b - a), f1 = dist(x1, P);
        } else {
          a = x1, x1 = x2, f1 = f2, x2 = a + g * (b - a), f2 = dist(x2, P);
        }
      }
      best = std::min({best, ds[i], f1, f2});
    }
    return best;
  }
};

template <int D, class PoleH, class Point, class Curve, bool kBezier = false>
void checkFamily(unsigned fixed, int curves, int pointsPerCurve) {
  QORV_SEEDED(std::mt19937_64 rng, fixed);
  std::uniform_real_distribution<double> uni(-1.0, 1.0), u01(0.0, 1.0);
  for (int c = 0; c < curves; ++c) {
    SCOPED_TRACE(::testing::Message() << "curve " << c);
    RefCurve<D> ref;
    const int p = 1 + static_cast<int>(rng() % 5);
    ref.c.p = p;
    // Interior knots of every multiplicity up to p (p: a C0 corner).
    std::vector<double> knots(p + 1, 0.0);
    const int interior = kBezier ? 0 : static_cast<int>(rng() % 5);
    double k = 0.0;
    for (int i = 0; i < interior; ++i) {
      k += 0.2 + u01(rng);
      const int mult = 1 + static_cast<int>(rng() % p);
      for (int m = 0; m < mult; ++m) knots.push_back(k);
    }
    k += 0.2 + u01(rng);
    for (int i = 0; i <= p; ++i) knots.push_back(k);
    const int n = static_cast<int>(knots.size()) - p - 1;
    const bool rational = rng() % 2, closed = rng() % 3 == 0;
    const double scale = std::pow(10.0, 4.0 * uni(rng));
    double off[3];
    for (double& o : off) o = 100.0 * scale * uni(rng);
    ERVec<PoleH> poles(n);
    for (int i = 0; i < n; ++i) {
      const double w = rational ? 0.3 + 2.7 * u01(rng) : 1.0;
      double x[3];
      for (int q = 0; q < D; ++q) x[q] = off[q] + scale * uni(rng);
      if (closed && i == n - 1)
        for (int q = 0; q < D; ++q) x[q] = poles[0].data()[q] / poles[0].data()[D];
      for (int q = 0; q < D; ++q) poles[i].data()[q] = w * x[q];
      poles[i].data()[D] = w;
    }
    double lo = knots.front(), hi = knots.back();
    if (!kBezier && rng() % 3 == 0) {
      const double a = lo + (hi - lo) * u01(rng), b = lo + (hi - lo) * u01(rng);
      lo = std::min(a, b), hi = std::max(a, b);
    }
    ERVec<double> kv(static_cast<int>(knots.size()));
    for (std::size_t i = 0; i < knots.size(); ++i) kv[static_cast<int>(i)] = knots[i];
    const Curve curve = [&] {
      if constexpr (kBezier)
        return Curve(poles, ERLimites(lo, hi));
      else
        return Curve(poles, ERKnotVector(p, kv), ERLimites(lo, hi));
    }();
    ASSERT_TRUE(curve.isValid());
    ref.c.U = knots;
    ref.lo = lo, ref.hi = hi;
    for (int i = 0; i < n; ++i)
      for (int q = 0; q <= D; ++q) ref.c.H.push_back(poles[i].data()[q]);
    for (int t = 0; t < pointsPerCurve; ++t) {
      const int kind = t % 3;
      Point P;
      if (kind == 0) {  // near: among the poles
        for (int q = 0; q < D; ++q) P.data()[q] = off[q] + 1.2 * scale * uni(rng);
      } else if (kind == 1) {  // 100 times the curve's size away
        double v[3], s2 = 0.0;
        for (int q = 0; q < D; ++q) v[q] = uni(rng), s2 += v[q] * v[q];
        for (int q = 0; q < D; ++q) P.data()[q] = off[q] + 200.0 * scale * v[q] / std::sqrt(s2);
      } else {  // on the evolute: a centre of curvature
        const auto info = curve.PtCur(lo + (hi - lo) * u01(rng));
        double tt = 0.0, at = 0.0;
        for (int q = 0; q < D; ++q)
          tt += info.tangente().data()[q] * info.tangente().data()[q],
              at += info.secondOrder().data()[q] * info.tangente().data()[q];
        double nrm[3], nn = 0.0;
        for (int q = 0; q < D; ++q)
          nrm[q] = info.secondOrder().data()[q] - at / tt * info.tangente().data()[q],
          nn += nrm[q] * nrm[q];
        const double rho = tt / std::sqrt(nn);
        for (int q = 0; q < D; ++q)
          P.data()[q] = info.point().data()[q] + rho * nrm[q] / std::sqrt(nn);
        bool finite = std::isfinite(rho);
        for (int q = 0; q < D; ++q)
          finite = finite && std::fabs(P.data()[q] - off[q]) < 1e3 * scale;
        if (!finite)
          for (int q = 0; q < D; ++q) P.data()[q] = off[q] + scale * uni(rng);
      }
      std::vector<LD> PL(D);
      for (int q = 0; q < D; ++q) PL[q] = P.data()[q];
      double u = 0.0;
      const double d = curve.nearest(P, u);
      const LD want = ref.nearest(PL);
      const double tol = 1e-12 * static_cast<double>(want + 2.0 * scale);
      SCOPED_TRACE(::testing::Message() << "point kind " << kind << " degree " << p);
      ASSERT_LE(d, static_cast<double>(want) + tol);
      ASSERT_TRUE(u >= lo && u <= hi);
      ASSERT_NEAR(d, static_cast<double>(ref.dist(u, PL)), tol);
      if constexpr (D == 2) {
        double sd = 0.0, su = 0.0;
        const auto kindOf = curve.SignedMinimalDistance(P, sd, su);
        ASSERT_EQ((Seq{std::fabs(sd), su, kindOf == EREntity::DISTMIN_END_POINT}),
                  (Seq{d, u, u == lo || u == hi}));
        const auto info = curve.PtCur(u);
        const double cross = ERVector2D(info.point(), P) ^ info.tangente();
        if (std::fabs(cross) > 1e-9 * scale * info.tangente().norme() * (d + scale)) {
          ASSERT_EQ(sd > 0.0, cross > 0.0);
        }
      } else {
        // In space: the unsigned distance, the same after a far turn, a mirror or a scale.
        double sd = -1.0;
        const auto kindOf = curve.SignedMinimalDistance(P, sd);
        ASSERT_EQ((Seq{sd, kindOf == EREntity::DISTMIN_END_POINT}), (Seq{d, u == lo || u == hi}));
        const double f = (rng() % 2 ? -1 : 1) * (0.5 + 3 * u01(rng));
        const ERPmSimilitude3D S =
            ERPmSimilitude3D(ERChgRepere3D(ERVector3D(uni(rng), uni(rng), 1),
                                           ERPoint3D(1e3 * scale * uni(rng), 0, 0))) *
            ERPmSimilitude3D(_ERScaling3D(f));
        Curve moved = curve;
        moved.transformFrom(S);
        double md = -1.0;
        ASSERT_NE(moved.SignedMinimalDistance(S >> P, md), EREntity::DISTMIN_NONE);
        ASSERT_NEAR(md, std::fabs(f) * d, 1e-10 * std::fabs(f) * (d + 1e3 * scale));
      }
    }
  }
}

TEST(PoleNearest, MatchesDenseReferenceIn2D) {
  checkFamily<2, ERPole2DH, ERPoint2D, ERCpoleNURBS2D>(1801, 250, 21);
}

TEST(PoleNearest, MatchesDenseReferenceIn3D) {
  checkFamily<3, ERPole3DH, ERPoint3D, ERCpoleNURBS3D>(1802, 250, 21);
}

TEST(PoleNearest, RationalBezierCurvesMatchTheReference) {
  checkFamily<2, ERPole2DH, ERPoint2D, ERCpoleBezier2DR, true>(1803, 60, 21);
  checkFamily<3, ERPole3DH, ERPoint3D, ERCpoleBezier3DR, true>(1804, 60, 21);
}

TEST(PoleNearest, ProjectPointListsTheFeetOfNearSpans) {
  ERVec<ERPoint2D> poles(3);
  poles[0] = ERPoint2D(0.0, 0.0), poles[1] = ERPoint2D(1.0, 2.0), poles[2] = ERPoint2D(2.0, 0.0);
  const ERCpoleBezier2D c(poles, ERLimites(0.0, 1.0));
  ERVec<double> params;
  params.append(7.0);
  EXPECT_EQ((Seq{c.ProjectPoint(ERPoint2D(1.0, 5.0), params, 0.1), params.length()}), (Seq{0, 0}));
  ASSERT_EQ(c.ProjectPoint(ERPoint2D(1.0, 1.0), params, 0.1), 1);
  EXPECT_NEAR(params[0], 0.5, 1e-15);
  // A zero-length span (a repeated knot) is skipped; each listed parameter is a foot.
  ERVec<ERPole3DH> h(5);
  for (int i = 0; i < 5; ++i) h[i] = ERPole3DH(i, (i % 2) * 2.0, 0.0, 1.0);
  const double kv[] = {0, 0, 0, 1, 1, 2, 2, 2};
  const ERCpoleNURBS3D n(h, ERKnotVector(2, kv, 8));
  const ERPoint3D P(1.5, 0.9, 0.0);
  const int k = n.ProjectPoint(P, params, 0.5);
  ASSERT_GE(k, 1);
  for (int i = 0; i < params.length(); ++i) {
    const auto info = n.PtCur(params[i]);
    EXPECT_NEAR(ERVector3D(P, info.point()) * info.tangente(), 0.0, 1e-12);
  }
  double u = 0.0;
  const double d = n.nearest(P, u);
  bool listed = false;
  for (int i = 0; i < params.length(); ++i) listed = listed || std::fabs(params[i] - u) < 1e-9;
  EXPECT_TRUE(listed) << d;
  EXPECT_EQ(n.ProjectPoint(ERPoint3D(NAN, 0.0, 0.0), params, 0.1), 0);
}

TEST(PoleNearest, BezierCurvesAndBadInput) {
  // A Bezier parabola over [2, 4]: y = x^2 on x in [-1, 1]; (0, -1) is nearest the vertex.
  ERVec<ERPoint2D> poles(3);
  poles[0] = ERPoint2D(-1.0, 1.0), poles[1] = ERPoint2D(0.0, -1.0), poles[2] = ERPoint2D(1.0, 1.0);
  const ERCpoleBezier2D par(poles, ERLimites(2.0, 4.0));
  double u = 0.0;
  EXPECT_NEAR(par.nearest(ERPoint2D(0.0, -1.0), u), 1.0, 1e-15);
  EXPECT_NEAR(u, 3.0, 1e-12);
  double d = 0.0;
  EXPECT_EQ(par.SignedMinimalDistance(ERPoint2D(0.0, -1.0), d, u), EREntity::DISTMIN_NORMAL);
  EXPECT_NEAR(d, 1.0, 1e-15);  // on the right of travel from left to right
  EXPECT_EQ(par.SignedMinimalDistance(ERPoint2D(3.0, 0.5), d, u), EREntity::DISTMIN_END_POINT);
  EXPECT_EQ(u, 4.0);
  // Above the evolute's cusp two feet are equally near by symmetry; each is a true foot.
  const double dd = par.nearest(ERPoint2D(0.0, 1.0), u);
  EXPECT_NEAR(dd, std::sqrt(0.75), 1e-14);
  EXPECT_NEAR(std::fabs(u - 3.0), std::sqrt(0.5), 1e-12);

  EXPECT_TRUE(std::isnan(par.nearest(ERPoint2D(NAN, 0.0), u)));
  EXPECT_TRUE(std::isnan(u));
  const ERCpoleNURBS3D empty;
  EXPECT_TRUE(std::isnan(empty.nearest(ERPoint3D(0.0, 0.0, 0.0), u)));
  ERVec<ERPole2DH> bad(2);
  bad[0] = ERPole2DH(0.0, 0.0, 1.0), bad[1] = ERPole2DH(1.0, 0.0, -1.0);
  EXPECT_EQ(ERCpoleNURBS2D(bad).SignedMinimalDistance(ERPoint2D(0.0, 1.0), d, u),
            EREntity::DISTMIN_NONE);
}

}  // namespace
