// ConvertToNurbs of segments, circular and elliptic arcs, polynomial patches and pole curves.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "qorv/curves/circles.h"
#include "qorv/curves/ellipses.h"
#include "qorv/curves/lines.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/freeform/polynomial_patch.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv;

using QuickAlgebra::ERVec;

namespace {

constexpr double kPi = std::numbers::pi;

// Limits in every window: reversed, across 2pi, a full turn, a microradian, below -pi.
void randomLimits(std::mt19937_64& rng, double& start, double& end) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  start = 3 * kPi * u(rng);
  switch (rng() % 6) {
    case 0:
      end = start + 2 * kPi;
      break;
    case 1:
      end = start + (rng() % 2 ? 1e-6 : -1e-6);
      break;
    case 2:
      end = start + kPi / 2 * (1 + rng() % 4) * (rng() % 2 ? 1 : -1);
      break;
    case 3:
      start = 7 * kPi / 4, end = 9 * kPi / 4;
      break;
    default:
      end = start + 2 * kPi * u(rng);
      break;
  }
}

// The NURBS runs from the first to the last point over getBound(), its knots at the angles the
// arc's parameter gives them (the start plus or minus the distance from the window's start),
// every point of it on the curve with its angle going one way from start to end.
// 'angleOf' gives the (wrapped) angle of a point of the NURBS, 'at' the arc's point there.
template <class Nurbs, class Arc, class AngleOf, class At, class OnCurve>
void expectArcNurbs(const Nurbs& n, const Arc& arc, double a0, double a1, double size,
                    AngleOf angleOf, At at, OnCurve onCurve) {
  const ERLimites w = arc.getBound();
  ASSERT_EQ(n.isValid(), 1);
  EXPECT_EQ((Seq{n.getBound(), n.degree()}), (Seq{w, 2}));
  const double sweep = a1 - a0, dir = sweep > 0 ? 1.0 : -1.0;
  EXPECT_LE(qorv::distance(n(w.start()), arc.firstPt()), 1e-14 * size);
  EXPECT_LE(qorv::distance(n(w.end()), arc.lastPt()), 1e-14 * size);
  // Pieces of at most a quarter turn.
  const int pieces = (n.nbPoles() - 1) / 2;
  EXPECT_LE(std::fabs(sweep) / pieces, kPi / 2 * (1 + 1e-15));
  const ERKnotVector U = n.knotVector();
  for (int i = 0; i < U.length(); ++i) {
    const double angle = a0 + dir * (U[i] - w.start());
    ASSERT_LE(qorv::distance(n(U[i]), at(angle)), 1e-12 * size) << "knot " << i;
  }
  // The unwrapped angle moves one way, from a0 to a1, and every point is on the curve.
  double prev = a0;
  for (int k = 1; k <= 400; ++k) {
    const double t = k == 400 ? w.end() : w.start() + (w.end() - w.start()) * k / 400.0;
    const auto p = n(t);
    ASSERT_LE(onCurve(p), 1e-14 * size) << t;
    double a = angleOf(p);
    a += 2 * kPi * std::round((prev - a) / (2 * kPi));
    ASSERT_GE((a - prev) * dir, -1e-12) << t;
    ASSERT_LE(qorv::distance(p, at(a)), 1e-12 * size) << t;
    prev = a;
  }
  EXPECT_NEAR(prev, a1, 1e-12 * (1 + std::fabs(a1)));
}

// A circular and an elliptic arc over the same limits about the same centre, both also placed
// in one frame.
TEST(NurbsConversion, CircularAndEllipticArcsInThePlaneAndInSpace) {
  QORV_SEEDED(std::mt19937_64 rng, 1851);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int rep = 0; rep < 400; ++rep) {
    SCOPED_TRACE(rep);
    double s = 0, e = 0;
    randomLimits(rng, s, e);
    const double scale = std::pow(10.0, int(rng() % 41) - 20);
    const double r = scale * (0.1 + std::fabs(u(rng)));
    const double a = scale * (0.5 + std::fabs(u(rng))), b = a * (0.05 + 0.9 * std::fabs(u(rng)));
    const double phi = kPi * u(rng);
    const ERPoint2D c(scale * 100 * u(rng), scale * 100 * u(rng));
    const ERPmIsometrie3D F =
        ERChgRepere3D(ERVector3D(u(rng), u(rng), u(rng)), ERVector3D(u(rng), u(rng), u(rng)),
                      ERPoint3D(scale * u(rng), scale * u(rng), 0));
    ERArc2D arc(c, r, s, e);
    if (rep % 3 == 0) {
      // Mirrored: the arc keeps its points, its limits change.
      arc.transformFrom(ERTransfo2D(1, 0, 0, -1, 0, 0));
    }
    const t_SmartPtr<ERCpoleNURBS2D> n = arc.ConvertToNurbs();
    ASSERT_TRUE(n);
    const ERPoint2D C = arc.center();
    const double size = r + std::fabs(C.x()) + std::fabs(C.y());
    expectArcNurbs(
        *n, arc, arc.udeb(), arc.ufin(), size,
        [&](const ERPoint2D& p) { return std::atan2(p.y() - C.y(), p.x() - C.x()); },
        [&](double t) { return arc(t); },
        [&](const ERPoint2D& p) { return std::fabs(qorv::distance(p, C) - r); });

    const ERArc3D arc3(F, ERCircle2D(c, r), s, e);
    const t_SmartPtr<ERCpoleNURBS3D> n3 = arc3.ConvertToNurbs();
    ASSERT_TRUE(n3);
    const ERPoint3D C3 = arc3.center();
    const double size3 = r + std::fabs(C3.x()) + std::fabs(C3.y()) + std::fabs(C3.z());
    expectArcNurbs(
        *n3, arc3, s, e, size3,
        [&](const ERPoint3D& p) {
          const ERPoint3D q = F << p;
          return std::atan2(q.y() - c.y(), q.x() - c.x());
        },
        [&](double t) { return arc3(t); },
        [&](const ERPoint3D& p) {
          const ERPoint3D q = F << p;
          return std::hypot(std::hypot(q.x() - c.x(), q.y() - c.y()) - r, q.z());
        });

    ERArcEllipse2D el(a, b, phi, c, s, e);
    if (rep % 3 == 0) el.transformFrom(ERTransfo2D(1, 0, 0, -1, 0, 0));
    const t_SmartPtr<ERCpoleNURBS2D> ne = el.ConvertToNurbs();
    ASSERT_TRUE(ne);
    // Coordinates in the axes of an ellipse, in units of its semi-axes.
    auto localIn = [](const EREllipse2D& el) {
      const ERPoint2D m = el.center();
      const ERVector2D X = el.getBigAxisDirection(), Y = el.getSmallAxisDirection();
      const double A = el.getBigAxe() / 2, B = el.getSmallAxe() / 2;
      return [=](const ERPoint2D& p, double& x, double& y) {
        const ERVector2D d(m, p);
        x = (d * X) / A, y = (d * Y) / B;
      };
    };
    const ERPoint2D m = el.center();
    const double A = el.getBigAxe() / 2, B = el.getSmallAxe() / 2;
    const double esize = A + std::fabs(m.x()) + std::fabs(m.y());
    auto local = localIn(el.ellipse());
    const double a0 = el.central_to_param(el.udeb());
    const double a1 = el.udeb() == el.ufin() ? a0 + 2 * kPi : el.central_to_param(el.ufin());
    expectArcNurbs(
        *ne, el, a0, a1, esize,
        [&](const ERPoint2D& p) {
          double x, y;
          local(p, x, y);
          return std::atan2(y, x);
        },
        [&](double t) { return el.pointAt(t); },
        [&](const ERPoint2D& p) {
          double x, y;
          local(p, x, y);
          // Off the ellipse by about |1 - (x^2 + y^2)| times the small axis.
          return std::fabs(1 - std::hypot(x, y)) * B;
        });

    const ERArcEllipse3D earc3(F, EREllipse2D(a, b, phi, c), s, e);
    const t_SmartPtr<ERCpoleNURBS3D> ne3 = earc3.ConvertToNurbs();
    ASSERT_TRUE(ne3);
    const ERArcEllipse2D in = earc3.Arc2D();
    const auto local3 = localIn(in.ellipse());
    const double b0 = in.central_to_param(in.udeb());
    const double b1 = in.udeb() == in.ufin() ? b0 + 2 * kPi : in.central_to_param(in.ufin());
    const ERPoint3D m3 = earc3.center();
    expectArcNurbs(
        *ne3, earc3, b0, b1, A + std::fabs(m3.x()) + std::fabs(m3.y()) + std::fabs(m3.z()),
        [&](const ERPoint3D& p) {
          double x, y;
          local3((F << p).castToPoint2D(Coord3D::Z), x, y);
          return std::atan2(y, x);
        },
        [&](double t) { return earc3(t); },
        [&](const ERPoint3D& p) {
          const ERPoint3D q = F << p;
          double x, y;
          local3(q.castToPoint2D(Coord3D::Z), x, y);
          return std::hypot(std::fabs(1 - std::hypot(x, y)) * B, q.z());
        });
  }
  // A zero sweep, a NaN limit, a negative radius: no NURBS.
  EXPECT_FALSE(ERArc2D(ERPoint2D(0, 0), 1.0, 1.0, 1.0).ConvertToNurbs());
  EXPECT_FALSE(ERArc2D(ERPoint2D(0, 0), 1.0, std::nan(""), 1.0).ConvertToNurbs());
  EXPECT_FALSE(ERArc2D(ERPoint2D(0, 0), -1.0, 0.0, 1.0).ConvertToNurbs());
  EXPECT_FALSE(
      ERArcEllipse2D(ERPoint2D(std::nan(""), 0), ERPoint2D(1, 0), 3.0, 0.0, 1.0).ConvertToNurbs());
}

ERTValVector<ERPolynome> polysOf(std::initializer_list<std::vector<double>> cs) {
  ERTValVector<ERPolynome> v;
  for (const auto& c : cs) v.append(ERPolynome(c.data(), int(c.size())));
  return v;
}

TEST(NurbsConversion, SegmentsPatchesAndPoleCurves) {
  const ERSegment2D seg(ERPoint2D(1, 2), ERPoint2D(-3, 5));
  const t_SmartPtr<ERCpoleNURBS2D> ns = seg.ConvertToNurbs();
  ASSERT_TRUE(ns);
  EXPECT_EQ((Seq{ns->degree(), ns->poleWeight(0)}), (Seq{1, 1.0}));
  for (int k = 0; k <= 10; ++k)
    EXPECT_NEAR(qorv::distance((*ns)(k / 10.0), seg(k / 10.0)), 0, 1e-15);
  const ERSegment3D seg3(ERPoint3D(1, 2, 3), ERPoint3D(-3, 5, 0));
  ASSERT_TRUE(seg3.ConvertToNurbs());
  EXPECT_EQ(seg3.ConvertToNurbs()->getBound(), ERLimites(0, 1));
  EXPECT_FALSE(ERSegment2D(ERPoint2D(std::nan(""), 0), ERPoint2D(0, 0)).ConvertToNurbs());

  // x = t, y = t^2 on [0, 1]: poles (0,0), (0.5,0), (1,1).
  const ERPatchCPoly2D p(polysOf({{0, 1}, {0, 0, 1}}), ERLimites(0, 1));
  const t_SmartPtr<ERCpoleNURBS2D> np = p.ConvertToNurbs();
  ASSERT_TRUE(np);
  ASSERT_EQ(np->nbPoles(), 3);
  EXPECT_EQ((Seq{(*np)[1], (*np)[2]}), (Seq{ERPoint2D(0.5, 0), ERPoint2D(1, 1)}));
  EXPECT_EQ(np->knotVector().getVec(), ERKnotVector(2, ERLimites(0, 1)).getVec());
  const t_SmartPtr<ERCpoleRep2D> cp = p.castToCpole();
  ASSERT_TRUE(cp);
  EXPECT_NE(ERCpoleNURBS2D::castdown(cp.get()), nullptr);
  EXPECT_FALSE(ERPatchCPoly2D(polysOf({{0, 1}, {0, 0, 1}}), ERLimites(1, 1)).ConvertToNurbs());
  EXPECT_FALSE(ERPatchCPoly2D(polysOf({{0, 1}}), ERLimites(0, 1)).ConvertToNurbs());

  // Random patches, plain and rational, on any domain: the same curve at every parameter.
  QORV_SEEDED(std::mt19937_64 rng, 1853);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int rep = 0; rep < 200; ++rep) {
    SCOPED_TRACE(rep);
    const bool rational = rep % 2 == 1;
    const int count = 3 + rational;
    ERTValVector<ERPolynome> polys;
    for (int c = 0; c < count; ++c) {
      std::vector<double> co(1 + rng() % 6);
      for (double& v : co) v = u(rng);
      if (c == 3) co.assign({1.5, 0.1 * u(rng), 0.1 * u(rng)});  // positive on the domain
      polys.append(ERPolynome(co.data(), int(co.size())));
    }
    const double t0 = 2 * u(rng), t1 = t0 + 0.1 + std::fabs(u(rng));
    const ERPatchCPoly3D patch(polys, ERLimites(t0, t1));
    const t_SmartPtr<ERCpoleNURBS3D> n = patch.ConvertToNurbs();
    ASSERT_TRUE(n);
    EXPECT_EQ(n->getBound(), ERLimites(t0, t1));
    for (int k = 0; k <= 100; ++k) {
      const double t = k == 100 ? t1 : t0 + (t1 - t0) * k / 100.0;
      ASSERT_LE(qorv::distance((*n)(t), patch(t)), 1e-13 * 64) << t;
    }
  }

  // Bezier curves: the same poles on the Bezier knots of their domain, trimmed alike.
  ERVec<ERPole3DH> h;
  for (int i = 0; i < 5; ++i) h.append(ERPole3DH(i * 2.0, i * i * 1.5, 1.0 - i, 0.5 + i * 0.25));
  ERCpoleBezier3DR bz(h, ERLimites(-1.0, 3.0));
  bz.setBound(ERLimites(0.0, 2.0));
  const t_SmartPtr<ERCpoleNURBS3D> nb = bz.ConvertToNurbs();
  ASSERT_TRUE(nb);
  EXPECT_EQ((Seq{nb->getBound(), nb->poles() == bz.poles()}), (Seq{ERLimites(0.0, 2.0), true}));
  for (int k = 0; k <= 40; ++k) {
    const double t = -1.0 + k / 10.0;
    EXPECT_LE(qorv::distance((*nb)(t), bz(t)), 1e-14 * 16) << t;
  }
  ERVec<ERPoint2D> q;
  q.append(ERPoint2D(0, 0)), q.append(ERPoint2D(1, 2)), q.append(ERPoint2D(2, 0));
  const t_SmartPtr<ERCpoleNURBS2D> n2 = ERCpoleBezier2D(q, ERLimites(0, 2)).ConvertToNurbs();
  ASSERT_TRUE(n2);
  EXPECT_EQ((Seq{n2->poleWeight(1), (*n2)(1.0)}), (Seq{1.0, ERPoint2D(1, 1)}));
  EXPECT_FALSE(ERCpoleBezier2D().ConvertToNurbs());
  const t_SmartPtr<ERCpoleNURBS3D> same = nb->ConvertToNurbs();
  ASSERT_TRUE(same);
  EXPECT_NE(same.get(), nb.get());
  EXPECT_TRUE(same->poles() == nb->poles());
}

}  // namespace
