#include "qorv/curves/composite_curves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#include "qorv/curves/circles.h"
#include "qorv/curves/ellipses.h"
#include "qorv/curves/lines.h"
#include "qorv/curves/polylines.h"
#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/freeform/pole_curves.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/test_seed.h"

using qorv_test::imageOf, qorv_test::printed, qorv_test::restoreFrom, QuickAlgebra::ERVec;

namespace {

constexpr double kPi = 3.14159265358979323846;
using ElementPtr = t_SmartPtr<ERFiniteEntity2DWF>;

using qorv::distance;

// The point a fraction f along an element's way, from udeb() to ufin() (segments, arcs and
// NURBS pieces: the way is their own parameter).
ERPoint2D along(const ERFiniteEntity2DWF& e, double f) {
  return e(e.udeb() + f * (e.ufin() - e.udeb()));
}

// Random chains: segments, arcs run either way, arcs given end-first (stored reversed), NURBS
// pieces with random weights; around a far-off origin, at a random scale.
struct ChainMaker {
  explicit ChainMaker(unsigned seed) : rng(seed) {}
  std::mt19937 rng;
  double scale = 1.0;
  double U(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); }

  ElementPtr next(const ERPoint2D& P) {
    const int kind = int(U(0, 4));
    const double phi = U(-kPi, kPi);
    const double len = scale * U(0.2, 2.0);
    if (kind == 0)
      return new ERSegment2D(P,
                             ERPoint2D(P.x() + len * std::cos(phi), P.y() + len * std::sin(phi)));
    if (kind == 1 || kind == 2) {
      const ERPoint2D C(P.x() + len * std::cos(phi), P.y() + len * std::sin(phi));
      const double a0 = std::atan2(P.y() - C.y(), P.x() - C.x());
      const double sweep = U(0.3, 2.5) * (U(0, 1) < 0.5 ? -1 : 1);
      if (kind == 1) return new ERArc2D(C, len, a0, a0 + sweep);
      return new ERArc2D(C, len, a0 + sweep, a0);  // ends at P: the chain turns it round
    }
    ERVec<ERPole2DH> poles;
    poles.append(ERPole2DH(P, 1.0));
    ERPoint2D q = P;
    const int n = 2 + int(U(0, 3));
    for (int k = 0; k < n; ++k) {
      const double w = k + 1 == n ? 1.0 : U(0.5, 2.0);
      q = ERPoint2D(q.x() + scale * U(-1, 1), q.y() + scale * U(-1, 1));
      poles.append(ERPole2DH(ERPoint2D(q.x() * w, q.y() * w), w));
    }
    return new ERCpoleNURBS2D(poles);
  }

  ERCompCurve2D chain(int n, const ERPoint2D& origin) {
    ERCompCurve2D c;
    ERPoint2D P = origin;
    for (int i = 0; i < n; ++i) {
      ElementPtr e = next(P);
      EXPECT_EQ(c.append(e, 1e-9 * (scale + distance(origin, ERPoint2D()))), 1);
      P = c.at(c.entries() - 1)->lastPt();
    }
    return c;
  }
};

// The nearest point of the chain by dense sampling refined by golden section, element by
// element, in the elements' own way.
double nearestBySampling(const ERCompCurve2D& c, const ERPoint2D& p) {
  double best = std::numeric_limits<double>::infinity();
  for (int i = 0; i < c.entries(); ++i) {
    const ERFiniteEntity2DWF& e = *c.at(i);
    const int n = 200;
    for (int k = 0; k <= n; ++k) {
      double a = std::max(0.0, (k - 1.0) / n), b = std::min(1.0, (k + 1.0) / n);
      const double g = (std::sqrt(5.0) - 1) / 2;
      for (int it = 0; it < 50; ++it) {
        const double x1 = b - g * (b - a), x2 = a + g * (b - a);
        if (distance(along(e, x1), p) < distance(along(e, x2), p))
          b = x2;
        else
          a = x1;
      }
      best = std::min({best, distance(along(e, a), p), distance(along(e, double(k) / n), p)});
    }
  }
  return best;
}

TEST(CompCurve, MappingTableMixedBoundsAndReparametrised) {
  ERCompCurve2D c(ERSegment2D(ERPoint2D(0, 0), ERPoint2D(2, 0)));
  // An arc about (2, 1) run clockwise from -pi/2 to -pi (udeb > ufin): from (2, 0) to (1, 1).
  ASSERT_EQ(c.append(ERArc2D(ERPoint2D(2, 1), 1, -kPi / 2, -kPi), 1e-12), 1);
  // A quarter given end-first: from (1, 3) ... stored reversed to run from (1, 1).
  ASSERT_EQ(c.append(ERArc2D(ERPoint2D(1, 2), 1, kPi / 2, 3 * kPi / 2), 1e-12), 1);
  ASSERT_EQ(c.entries(), 3);
  EXPECT_EQ(c.getBound(), ERLimites(0, 3));
  struct Row {
    double t;
    ERPoint2D p;
  };
  const double h = std::sqrt(0.5);
  const Row rows[] = {{0.0, {0, 0}}, {0.5, {1, 0}}, {1.0, {2, 0}}, {1.5, {2 - h, 1 - h}},
                      {2.0, {1, 1}}, {2.5, {0, 2}}, {3.0, {1, 3}}, {-0.5, {-1, 0}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.t);
    EXPECT_TRUE(Near(Seq{c(r.t).x(), c(r.t).y(), c.PtCur(r.t).point().x()},
                     Seq{r.p.x(), r.p.y(), r.p.x()}, 1e-15));
  }
  // The record is the element's own: the arc's angle.
  EXPECT_NEAR(c.PtCur(1.5).parameter(), -3 * kPi / 4, 1e-15);
  // Reparametrised to [10, 16]: the same points at the mapped parameters.
  c.reparametrize(ERLimites(10, 16));
  for (const Row& r : rows) {
    SCOPED_TRACE(r.t);
    EXPECT_TRUE(Near(Seq{c(10 + 2 * r.t).x(), c(10 + 2 * r.t).y()}, Seq{r.p.x(), r.p.y()}, 1e-14));
  }
  // A polyline element (bound [0, n - 1]) in the chain: its middle vertex halfway; its closing
  // segment's feet lie past its bound and are not reported.
  ERVec<ERPoint2D> zig;
  zig.append(ERPoint2D(1, 3)), zig.append(ERPoint2D(3, 3)), zig.append(ERPoint2D(3, 5));
  ERCompCurve2D withPolyline = c;
  withPolyline.reparametrize(ERLimites(0, 3));
  ASSERT_EQ(withPolyline.append(ERPolyline2D(zig), 0.0), 1);
  EXPECT_EQ((Seq{withPolyline(3.5), withPolyline(3.25)}), (Seq{ERPoint2D(3, 3), ERPoint2D(2, 3)}));
  ERVec<double> feet;
  EXPECT_EQ(withPolyline.ProjectPoint(ERPoint2D(2.5, 4.5), feet, 0.0), 2);
  EXPECT_DOUBLE_EQ(feet[0], 3.375);
  EXPECT_DOUBLE_EQ(feet[1], 3.875);
  // Natural limits of zero width: the first element's start.
  c.reparametrize(ERLimites(1, 1));
  EXPECT_EQ((Seq{c(5), c(std::nan(""))}), (Seq{ERPoint2D(0, 0), ERPoint2D(0, 0)}));
}

TEST(CompCurve, EndChecksAtTheTolerance) {
  const ERSegment2D first(ERPoint2D(0, 0), ERPoint2D(1, 0));
  ERCompCurve2D c(first);
  const ERSegment2D gapped(ERPoint2D(1, 0.5), ERPoint2D(3, 0.5));
  // Gap equal to tol: in; one ulp beyond: out, the chain untouched.
  ERCompCurve2D refused = c;
  EXPECT_EQ(
      (Seq{refused.append(gapped, std::nextafter(0.5, 0.0)), refused.entries(), imageOf(refused)}),
      (Seq{0, 1, imageOf(c)}));
  EXPECT_EQ((Seq{refused.append(gapped, std::nan("")), c.append(gapped, 0.5), c.getBound()}),
            (Seq{0, 1, ERLimites(0, 2)}));
  // End-first: stored reversed; the caller's element is not modified.
  const ERSegment2D backwards(ERPoint2D(5, 5), ERPoint2D(3, 0.5));
  EXPECT_EQ((Seq{c.append(backwards, 0.0), backwards.getP1(), c.at(2)->firstPt()}),
            (Seq{1, ERPoint2D(5, 5), ERPoint2D(3, 0.5)}));
  EXPECT_EQ(c.lastPt(), ERPoint2D(5, 5));
  // Prepend: end of e before its start; gap of tol and one ulp beyond.
  const ERSegment2D before(ERPoint2D(-2, 0), ERPoint2D(-0.25, 0));
  EXPECT_EQ(c.prepend(before, std::nextafter(0.25, 0.0)), 0);
  EXPECT_EQ((Seq{c.prepend(before, 0.25), c.firstPt()}), (Seq{1, ERPoint2D(-2, 0)}));
  EXPECT_EQ(c.prepend(ERSegment2D(ERPoint2D(-2, 0), ERPoint2D(-2, -7)), 0.0), 1);
  EXPECT_EQ((Seq{c.firstPt(), c.entries(), c.getBound()}),
            (Seq{ERPoint2D(-2, -7), 5, ERLimites(0, 5)}));
  // Negative tolerance and empty chains never check; a null element is refused.
  EXPECT_EQ(c.append(ERSegment2D(ERPoint2D(100, 100), ERPoint2D(101, 100)), -1.0), 1);
  ERCompCurve2D empty;
  EXPECT_EQ((Seq{empty.append(ERSegment2D(ERPoint2D(9, 9), ERPoint2D(8, 8)), 0.0),
                 empty.append(ElementPtr(), 1.0), bool(c.at(-1)), bool(c.at(c.entries()))}),
            (Seq{1, 0, false, false}));
}

TEST(CompCurve, RandomChainsEvaluateJoinAndProject) {
  QORV_SEEDED(ChainMaker mk, 2201);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    mk.scale = std::pow(10.0, mk.U(-3, 3));
    const ERPoint2D origin(mk.U(-1, 1) * 1e4 * mk.scale, mk.U(-1, 1) * 1e4 * mk.scale);
    ERCompCurve2D c = mk.chain(2 + int(mk.U(0, 6)), origin);
    // Turned, mirrored or not, moved.
    const double a = mk.U(-kPi, kPi), m = mk.U(0, 1) < 0.5 ? -1.0 : 1.0;
    const ERTransfo2D T(std::cos(a), -m * std::sin(a), std::sin(a), m * std::cos(a),
                        mk.U(-1, 1) * mk.scale, mk.U(-1, 1) * mk.scale);
    c = T >> c;
    const double size = mk.scale + distance(origin, ERPoint2D()), tol = 1e-11 * size;
    const int n = c.entries();
    for (int k = 1; k < n; ++k) {
      EXPECT_LE(distance(c.at(k - 1)->lastPt(), c.at(k)->firstPt()), 1e-9 * size);
      EXPECT_LE(distance(c(k - 1e-12 * 0), c(k)), tol);
      EXPECT_LE(distance(c(std::nextafter(double(k), 0.0)), c(k)), 1e-8 * size);
    }
    for (int s = 0; s < 50; ++s) {
      const double t = mk.U(0, n);
      const int i = std::min(int(t), n - 1);
      EXPECT_LE(distance(c(t), along(*c.at(i), t - i)), tol) << t;
    }
    // Projection: the nearest of the feet and the joints is the global nearest point.
    for (int s = 0; s < 4; ++s) {
      const ERMinimax2D b = c.getBox();
      const ERPoint2D p(mk.U(b.xmin(), b.xmax()) + mk.U(-1, 1) * mk.scale,
                        mk.U(b.ymin(), b.ymax()) + mk.U(-1, 1) * mk.scale);
      ERVec<double> params;
      const int r = c.ProjectPoint(p, params, 0.0);
      ASSERT_EQ(r, params.length());
      double best = std::numeric_limits<double>::infinity();
      for (int k = 0; k < params.length(); ++k) {
        EXPECT_TRUE(params[k] >= 0 && params[k] <= n) << params[k];
        best = std::min(best, distance(c(params[k]), p));
      }
      for (int k = 0; k <= n; ++k) best = std::min(best, distance(c(k), p));
      EXPECT_NEAR(best, nearestBySampling(c, p), 1e-9 * size);
    }
    // Placed in space by a frame: the same points, carried by the frame.
    const ERPmIsometrie3D frame = ERChgRepere3D(ERVector3D(mk.U(-1, 1), mk.U(-1, 1), 1),
                                                ERPoint3D(mk.U(-1, 1), 0, 1) * mk.scale);
    t_SmartPtr<EREntity3DWF> up = c.get3DEquiv(frame);
    const ERCompCurve3D* c3 = ERCompCurve3D::castdown(up.get());
    ASSERT_TRUE(c3);
    ASSERT_EQ(c3->entries(), n);
    for (int s = 0; s < 10; ++s) {
      const double t = mk.U(0, n);
      EXPECT_LE(qorv::distance((*c3)(t), frame >> c(t).castToPoint3D(Coord3D::Z, 0.0)),
                1e-9 * size);
    }
    // The NURBS form is the same curve: through the joints, every point on its element.
    ERFiniteEntity2DWF::NurbsPtr nurbs = c.ConvertToNurbs();
    ASSERT_TRUE(nurbs);
    EXPECT_EQ(nurbs->getBound(), c.getBound());
    for (int k = 0; k <= n; ++k) EXPECT_LE(distance((*nurbs)(k), c(k)), 1e-9 * size);
    for (int s = 0; s < 6; ++s) {
      const double t = mk.U(0, n);
      const int i = std::min(int(t), n - 1);
      ERCompCurve2D one(*c.at(i));
      EXPECT_LE(nearestBySampling(one, (*nurbs)(t)), 1e-8 * size) << t;
    }
  }
}

TEST(CompCurve, ProjectionOnArcsOfOneCircleAndTheBoxGate) {
  ERCompCurve2D c(ERArc2D(ERPoint2D(3, 4), 2, 0, kPi / 2));
  ASSERT_EQ(c.append(ERArc2D(ERPoint2D(3, 4), 2, kPi / 2, 2), 1e-12), 1);
  ERVec<double> params;
  EXPECT_EQ(c.ProjectPoint(ERPoint2D(3, 4), params, 0.0), -1);
  ASSERT_EQ(params.length(), 2);
  EXPECT_EQ((Seq{params[0], params[1]}), (Seq{0.5, 1.5}));
  // Far from the box, within a positive tolerance: nothing.
  params.append(7.0);
  EXPECT_EQ((Seq{c.ProjectPoint(ERPoint2D(30, 40), params, 1.0), params.length()}), (Seq{0, 0}));
  // A point at the joint: both feet.
  ERCompCurve2D l(ERSegment2D(ERPoint2D(0, 0), ERPoint2D(1, 0)));
  ASSERT_EQ(l.append(ERSegment2D(ERPoint2D(1, 0), ERPoint2D(1, 0)), 0.0), 1);  // zero length
  ASSERT_EQ(l.append(ERSegment2D(ERPoint2D(1, 0), ERPoint2D(2, 0)), 0.0), 1);
  EXPECT_EQ((Seq{l.ProjectPoint(ERPoint2D(1, 0.5), params, 0.0), params[0], params[1]}),
            (Seq{2, 1.0, 2.0}));
  // The flat chain's box is met by a point on it with tol > 0.
  EXPECT_EQ(l.ProjectPoint(ERPoint2D(0.5, 0), params, 1e-3), 1);
  ERCompCurve2D empty;
  EXPECT_EQ(empty.ProjectPoint(ERPoint2D(0, 0), params, 0.0), 0);
}

ERCompCurve2D threeSegments() {
  ERCompCurve2D c(ERSegment2D(ERPoint2D(0, 0), ERPoint2D(1, 0)));
  c.append(ERSegment2D(ERPoint2D(1, 0), ERPoint2D(1, 1)), 0.0);
  c.append(ERArc2D(ERPoint2D(1, 2), 1, -kPi / 2, -3 * kPi / 2), 0.0);  // clockwise, to (1, 3)
  return c;
}

TEST(CompCurve, SplitAtJointsAndInsideElements) {
  const ERCompCurve2D c = threeSegments();
  t_SmartPtr<ERFiniteEntity2DWF> a, b;
  ASSERT_EQ(c.splitAt(a, b, 1.0), 1);
  auto* A = ERCompCurve2D::castdown(a.get());
  auto* B = ERCompCurve2D::castdown(b.get());
  ASSERT_TRUE(A && B);
  EXPECT_EQ((Seq{A->entries(), B->entries()}), (Seq{1, 2}));
  ASSERT_EQ(c.splitAt(a, b, 2.25), 1);
  A = ERCompCurve2D::castdown(a.get()), B = ERCompCurve2D::castdown(b.get());
  ASSERT_EQ(A->entries(), 3);
  ASSERT_EQ(B->entries(), 1);
  // The reversed arc is cut where the chain is, a quarter of its way.
  EXPECT_LE(distance(A->lastPt(), c(2.25)), 1e-15);
  EXPECT_LE(distance(B->firstPt(), c(2.25)), 1e-15);
  EXPECT_LE(distance(B->lastPt(), ERPoint2D(1, 3)), 1e-15);
  // t = N: the whole chain and an empty one; past it, a copy and 0; before 0 or NaN: untouched.
  ASSERT_EQ(c.splitAt(a, b, 3.0), 1);
  EXPECT_EQ(ERCompCurve2D::castdown(b.get())->entries(), 0);
  t_SmartPtr<ERFiniteEntity2DWF> x, y;
  EXPECT_EQ(c.splitAt(x, y, 3.5), 0);
  ASSERT_TRUE(x);
  EXPECT_EQ((Seq{bool(y), imageOf(*x)}), (Seq{false, imageOf(c)}));
  t_SmartPtr<ERFiniteEntity2DWF> u, v;
  EXPECT_EQ((Seq{c.splitAt(u, v, -0.5), c.splitAt(u, v, std::nan(""))}), (Seq{0, 0}));
  EXPECT_EQ((Seq{bool(u), bool(v)}), (Seq{false, false}));
}

TEST(CompCurve, ReverseAndApproximation) {
  ERCompCurve2D c = threeSegments();
  const ERCompCurve2D original = c;
  c.reverse();
  EXPECT_EQ(c.firstPt(), original.lastPt());
  for (int s = 0; s <= 30; ++s) EXPECT_LE(distance(c(s * 0.1), original(3 - s * 0.1)), 1e-14) << s;
  EXPECT_TRUE(ERArc2D::castdown(c.at(0).get()));
  // Partial limits: the covered pieces in the chain's direction, no repeated joint.
  const ERVec<ERPoint2D> pts = original.approxime(ERLimites(0.5, 2.5), 1e-4);
  ASSERT_GE(pts.length(), 4);
  EXPECT_EQ((Seq{pts[0], pts[1], pts[2]}),
            (Seq{ERPoint2D(0.5, 0), ERPoint2D(1, 0), ERPoint2D(1, 1)}));
  EXPECT_LE(distance(pts[pts.length() - 1], original(2.5)), 1e-15);
  for (int k = 1; k < pts.length(); ++k) EXPECT_NE(pts[k], pts[k - 1]);
  for (int k = 3; k < pts.length(); ++k) {
    EXPECT_NEAR(distance(pts[k], ERPoint2D(1, 2)), 1.0, 1e-14);
    EXPECT_LE(pts[k].x(), 1.0 + 1e-15);  // the left half: the clockwise way
  }
  const ERVec<ERPoint2D> back = original.approxime(ERLimites(2.5, 0.5), 1e-4);
  ASSERT_EQ(back.length(), pts.length());
  EXPECT_EQ(back[0], pts[pts.length() - 1]);
  EXPECT_EQ(ERCompCurve2D().approxime(ERLimites(0, 1), 1e-3).length(), 0);
  EXPECT_DOUBLE_EQ(original.arcLength(1e-3), 2 + kPi);
}

TEST(CompCurve, ReversedEllipticArcFollowsTheChain) {
  const ERArcEllipse2D e(EREllipse2D(3, 1, 0.4, ERPoint2D(5, -2)), 2.0, 0.5);  // backwards
  ERCompCurve2D c(e);
  EXPECT_LE(distance(c(0), e.firstPt()), 1e-14);
  EXPECT_LE(distance(c(1), e.lastPt()), 1e-14);
  // Split and approximated along its way.
  t_SmartPtr<ERFiniteEntity2DWF> a, b;
  ASSERT_EQ(c.splitAt(a, b, 0.3), 1);
  EXPECT_LE(distance(a->lastPt(), c(0.3)), 1e-13);
  EXPECT_LE(distance(b->firstPt(), c(0.3)), 1e-13);
  const ERVec<ERPoint2D> pts = c.approxime(ERLimites(0, 1), 1e-3);
  ASSERT_GE(pts.length(), 3);
  EXPECT_LE(distance(pts[0], e.firstPt()), 1e-14);
  EXPECT_LE(distance(pts[pts.length() - 1], e.lastPt()), 1e-14);
}

TEST(CompCurve, StoredImagePrintAndDamagedRecords) {
  ERCompCurve2D c(ERSegment2D(ERPoint2D(0, 0), ERPoint2D(1, 0)));
  c.append(ERSegment2D(ERPoint2D(1, 0), ERPoint2D(1, 2)), 0.0);
  qorv_test::Bytes expected = qorv_test::doubles({0, 2, 0, 2});
  for (std::uint32_t v : {2u, 0u, 0xFFFFFFFFu, 0u, 0xFFFFFFFFu})
    for (int k = 0; k < 4; ++k) expected.push_back((v >> (8 * k)) & 0xFF);
  EXPECT_EQ(imageOf(c), expected);  // no database: identifiers -1
  EXPECT_EQ(c.binaryStoreSize(), expected.size());
  std::ostringstream want;
  want << "=====================================================\n"
       << "ERCompCurve2D with 2 elements\n"
       << "Domaine : " << ERLimites(0, 2) << "\nBornes  : " << ERLimites(0, 2) << "\n"
       << "Start Point : " << ERPoint2D(0, 0) << "\nEnd Point   : " << ERPoint2D(1, 0) << "\n"
       << "Curve     : ---------------- \n"
       << printed(*c.at(0)) << "End Curve : ---------------- \n"
       << "Start Point : " << ERPoint2D(1, 0) << "\nEnd Point   : " << ERPoint2D(1, 2) << "\n"
       << " Dist = 0\n"
       << "Curve     : ---------------- \n"
       << printed(*c.at(1)) << "End Curve : ---------------- \n"
       << "=====================================================\n";
  EXPECT_EQ(printed(c), want.str());
  // A count larger than the record, a short record: refused, the chain kept.
  ERCompCurve2D into = c;
  qorv_test::Bytes big = qorv_test::doubles({0, 9, 0, 9});
  for (unsigned char b : {0x00, 0x00, 0x00, 0x40, 0, 0, 0, 0}) big.push_back(b);
  restoreFrom(into, big);
  EXPECT_EQ((Seq{into.entries(), into.getBound()}), (Seq{2, ERLimites(0, 2)}));
  // Null entries restore as null and every operation skips them.
  qorv_test::Bytes nulls = qorv_test::doubles({0, 2, 0, 2});
  for (std::uint32_t v : {2u, 1u, 1u})
    for (int k = 0; k < 4; ++k) nulls.push_back((v >> (8 * k)) & 0xFF);
  restoreFrom(into, nulls);
  ASSERT_EQ(into.entries(), 2);
  EXPECT_FALSE(into.at(0));
  ERVec<double> params;
  EXPECT_EQ((Seq{into.ProjectPoint(ERPoint2D(0, 0), params, 0.0), bool(into.getBox().invalid()),
                 into(0.5), bool(into.ConvertToNurbs())}),
            (Seq{0, true, ERPoint2D(0, 0), false}));
  into.reverse();
  EXPECT_EQ(into.approxime(ERLimites(0, 2), 1e-3).length(), 0);
}

TEST(CompCurve, SpaceTwinsAndPolynomialChains) {
  const ERPmIsometrie3D frame = ERChgRepere3D(ERVector3D(0.3, -0.5, 0.8), ERPoint3D(1e3, -2e3, 5));
  const ERCompCurve2D c = threeSegments();
  t_SmartPtr<EREntity3DWF> up = c.get3DEquiv(frame);
  auto* c3 = ERCompCurve3D::castdown(up.get());
  ASSERT_TRUE(c3);
  ASSERT_EQ(c3->entries(), 3);
  t_SmartPtr<EREntity2DWF> down = c3->get2DEntProjectedOn(frame);
  auto* back = ERCompCurve2D::castdown(down.get());
  ASSERT_TRUE(back);
  for (int s = 0; s <= 30; ++s) EXPECT_LE(distance((*back)(s * 0.1), c(s * 0.1)), 1e-9) << s;
  const ERCompCurve3D moved = (~frame) >> *c3;
  EXPECT_LE(std::fabs(moved(2.5).z()), 1e-9);
  // Chains of polynomial patches: x = t, y = t^2 on [0, 1], then the line from (1, 1).
  auto poly = [](std::vector<double> v) { return ERPolynome(v.data(), int(v.size())); };
  ERTValVector<ERPolynome> pa, pb;
  pa.append(poly({0, 1})), pa.append(poly({0, 0, 1}));
  pb.append(poly({1, 1})), pb.append(poly({1, -2}));
  ERCrvCompPoly2D p(ERPatchCPoly2D(pa, ERLimites(0, 1)));
  EXPECT_EQ(p.append(ERPatchCPoly2D(pb, ERLimites(0, 1)), 1e-12), 1);
  EXPECT_LE(distance(p(0.5), ERPoint2D(0.5, 0.25)), 1e-15);
  EXPECT_LE(distance(p(1.5), ERPoint2D(1.5, 0)), 1e-15);
  auto nurbs = p.ConvertToNurbs();
  ASSERT_TRUE(nurbs);
  EXPECT_LE(distance((*nurbs)(1.5), ERPoint2D(1.5, 0)), 1e-14);
  // Split inside the first patch: two chains of patches meeting there; reversed end to end.
  t_SmartPtr<ERFiniteEntity2DWF> a, b;
  ASSERT_EQ(p.splitAt(a, b, 0.5), 1);
  auto* ca = ERCrvCompPoly2D::castdown(a.get());
  auto* cb = ERCrvCompPoly2D::castdown(b.get());
  ASSERT_TRUE(ca && cb);
  EXPECT_EQ((Seq{ca->entries(), cb->entries()}), (Seq{1, 2}));
  EXPECT_LE(distance(ca->lastPt(), ERPoint2D(0.5, 0.25)), 1e-15);
  EXPECT_LE(distance(cb->firstPt(), ERPoint2D(0.5, 0.25)), 1e-15);
  ERCrvCompPoly2D r = p;
  r.reverse();
  for (int s = 0; s <= 20; ++s) EXPECT_LE(distance(r(s * 0.1), p(2 - s * 0.1)), 1e-14) << s;
}

// A zigzag of 200 segments across x = 0.5, and an arc at its end: every crossing is found (64
// samples over the whole chain would miss most), each once, in the chain's own parameters.
TEST(CompCurve, CrossingsOfEveryElement) {
  ERCompCurve2D c;
  for (int i = 0; i < 200; ++i)
    c.append(ERSegment2D(ERPoint2D(i % 2, i), ERPoint2D((i + 1) % 2, i + 1)), 0.0);
  ASSERT_EQ(c.append(ERArc2D(ERPoint2D(0.5, 200), 0.5, kPi, 0), 1e-12),
            1);  // clockwise over the top
  ERVec<double> params;
  ASSERT_EQ(c.intersectWithAxeY(0.5, params), 201);
  for (int k = 0; k < 200; ++k) EXPECT_NEAR(params[k], k + 0.5, 1e-12) << k;
  EXPECT_NEAR(params[200], 200.5, 1e-12);
  for (int k = 0; k < 201; ++k) EXPECT_NEAR(c(params[k]).x(), 0.5, 1e-12) << k;
  // A joint on the line is reported once; natural parameters after reparametrize.
  params.clear();
  EXPECT_EQ((Seq{c.intersectWithAxeY(0.0, params), params[0], params[1]}), (Seq{101, 0.0, 2.0}));
  c.reparametrize(ERLimites(0, 402));
  params.clear();
  c.intersectWithAxeY(0.5, params);
  EXPECT_NEAR(params[3], 7.0, 1e-12);
  // In space, against the plane z = value: a segment placed along Z by the frame.
  const ERPmIsometrie3D frame =
      ERChgRepere3D(ERVector3D(0, 0, 1), ERVector3D(1, 0, 0), ERPoint3D());
  t_SmartPtr<EREntity3DWF> up =
      ERCompCurve2D(ERSegment2D(ERPoint2D(0, 0), ERPoint2D(2, 0))).get3DEquiv(frame);
  params.clear();
  ASSERT_EQ(ERCompCurve3D::castdown(up.get())->intersectWithPlanZ(0.5, params), 1);
  EXPECT_NEAR(params[0], 0.25, 1e-15);
}

}  // namespace
