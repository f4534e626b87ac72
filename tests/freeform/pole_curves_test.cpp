#include "qorv/freeform/pole_curves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <vector>

#include "tests/freeform/freeform_support.h"
#include "tests/freeform/pole_test_curves.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv;

using qorv_test::Bytes, QuickAlgebra::ERVec;
using namespace qorv_test::poles;

namespace {

template <class Info>
void expectNearRef(const Info& got, const RandomCurve& c, double t, double tol0) {
  const RefResult r = refEval(c.H, c.dim, c.U, c.p, t);
  // A k-th derivative is bounded by the size times (p / shortest span)^k times the weight ratio.
  const double growth = c.p / c.minSpan * 4.0;
  const double* g[3] = {got.point().data(), got.tangente().data(), got.secondOrder().data()};
  for (int k = 0; k < 3; ++k)
    for (int d = 0; d < c.dim; ++d) {
      const double tol = tol0 * (std::fabs(double(r.c[k][d])) + c.size * std::pow(growth, k));
      ASSERT_NEAR(g[k][d], double(r.c[k][d]), tol) << "derivative " << k << " at " << t << [&] {
        std::ostringstream os;
        os.precision(17);
        os << " knots";
        for (double v : c.U) os << ' ' << v;
        os << " poles";
        for (double v : c.H) os << ' ' << v;
        return os.str();
      }();
    }
}

template <class Curve, class Pole>
void checkNurbsFamily(int dim, unsigned fixed) {
  QORV_SEEDED(std::mt19937_64 rng, fixed);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 300; ++rep) {
    const bool unclamped = rep % 3 == 2;
    const RandomCurve c = randomCurve(rng, dim, false, unclamped);
    SCOPED_TRACE(testing::Message()
                 << "rep " << rep << " p " << c.p << " poles " << c.H.size() / (dim + 1));
    const Curve curve(polesOf<Pole>(c), ERKnotVector(c.p, c.U.data(), int(c.U.size())));
    ASSERT_EQ(curve.isValid(), 1);
    const int n = int(c.U.size()) - c.p - 1;
    std::vector<double> ts;
    for (int i = c.p; i <= n; ++i) ts.push_back(c.U[i]);
    for (int k = 0; k < 20; ++k) ts.push_back(c.U[c.p] + (c.U[n] - c.U[c.p]) * u01(rng));
    for (double t : ts) {
      const auto info = curve.PtCur(t);
      EXPECT_EQ(info.parameter(), t);
      expectNearRef(info, c, t, 1e-12);
      const auto pt = curve(t);
      for (int d = 0; d < dim; ++d)
        ASSERT_NEAR(pt.data()[d], info.point().data()[d], 1e-13 * c.size);
    }
    // The box holds the curve over its trim bounds.
    const auto box = curve.getBox();
    for (int k = 0; k <= 200; ++k) {
      const auto q = curve(c.U[c.p] + (c.U[n] - c.U[c.p]) * k / 200.0);
      auto b2 = box;
      b2.Inflate(1e-12 * c.size);
      ASSERT_TRUE(b2.contains(q)) << k;
    }
  }
}

template <class Curve, class Pole>
void checkBezierFamily(int dim, bool weighted, unsigned fixed) {
  QORV_SEEDED(std::mt19937_64 rng, fixed);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 300; ++rep) {
    RandomCurve c = randomCurve(rng, dim, true, false);
    if (!weighted)
      for (std::size_t i = 0; i < c.H.size(); i += dim + 1) {
        for (int d = 0; d < dim; ++d) c.H[i + d] /= c.H[i + dim];
        c.H[i + dim] = 1.0;
      }
    ERVec<Pole> poles;
    for (std::size_t i = 0; i < c.H.size(); i += dim + 1) {
      Pole P;
      for (int d = 0; d < Pole::kSize; ++d) P.data()[d] = c.H[i + d];
      poles.append(P);
    }
    const double t0 = c.U.front(), t1 = c.U.back();
    const Curve curve(poles, ERLimites(t0, t1));
    ASSERT_EQ(curve.isValid(), 1);
    for (int k = 0; k <= 20; ++k) {
      const double t = k == 20 ? t1 : t0 + (t1 - t0) * (k == 0 ? 0.0 : u01(rng));
      const auto info = curve.PtCur(t);
      EXPECT_NEAR(info.parameter(), (t - t0) / (t1 - t0), 1e-15);
      expectNearRef(info, c, t, 1e-12);
    }
    // A trimmed piece's box holds the piece and is no larger than the whole.
    ERLimites trim(t0 + 0.3 * (t1 - t0), t0 + 0.6 * (t1 - t0));
    Curve piece(curve);
    piece.setBound(trim);
    auto box = piece.getBox();
    box.Inflate(1e-12 * c.size);
    for (int k = 0; k <= 100; ++k)
      ASSERT_TRUE(box.contains(curve(trim.start() + (trim.end() - trim.start()) * k / 100.0)));
  }
}

TEST(PoleCurves, NurbsDerivativesAgainstLongDoubleDeBoor) {
  checkNurbsFamily<ERCpoleNURBS2D, ERPole2DH>(2, 1811);
  checkNurbsFamily<ERCpoleNURBS3D, ERPole3DH>(3, 1812);
}

TEST(PoleCurves, BezierDerivativesAgainstLongDoubleEvaluation) {
  checkBezierFamily<ERCpoleBezier2D, ERPoint2D>(2, false, 1813);
  checkBezierFamily<ERCpoleBezier3D, ERPoint3D>(3, false, 1814);
  checkBezierFamily<ERCpoleBezier2DR, ERPole2DH>(2, true, 1815);
  checkBezierFamily<ERCpoleBezier3DR, ERPole3DH>(3, true, 1816);
}

ERVec<ERPoint2D> parabola() {
  ERVec<ERPoint2D> p;
  for (const auto& x : {ERPoint2D(0, 0), ERPoint2D(1, 2), ERPoint2D(2, 0)}) p.append(x);
  return p;
}

TEST(PoleCurves, QuadraticBezierValues) {
  // Values and derivatives: BezierDerivativesAgainstLongDoubleEvaluation.
  const ERCpoleBezier2D b(parabola(), ERLimites(0.0, 2.0));
  const ERKnotVector k = b.knotVector();
  ASSERT_EQ(k.length(), 6);
  EXPECT_EQ(k[5], 2.0);
  // Cut to [0.5, 1.5] the curve keeps its shape.
  ERCpoleBezier2D c(b);
  c.redefineDomain(ERLimites(0.5, 1.5));
  for (int s = 0; s <= 10; ++s) {
    const double t = 0.5 + s / 10.0;
    EXPECT_TRUE(Near(Seq{c(t).x(), c(t).y()}, Seq{b(t).x(), b(t).y()}, 1e-15));
  }
  // A NURBS with Bezier knots is a Bezier curve.
  ERVec<ERPole2DH> h;
  for (const ERPoint2D& q : parabola()) h.append(ERPole2DH(q, 1.0));
  const ERCpoleNURBS2D n(h);
  EXPECT_EQ((Seq{n.isBezier(), n.PtCur(0.5).secondOrder()}), (Seq{1, ERVector2D(0, -8)}));
}

TEST(PoleCurves, VanishingWeightsAndBrokenCurvesGiveNaN) {
  // End weight 0: the curve's weight vanishes at t = 0.
  ERVec<ERPole2DH> h;
  for (const auto& x : {ERPole2DH(0, 0, 0), ERPole2DH(1, 1, 1), ERPole2DH(2, 0, 1)}) h.append(x);
  const ERCpoleNURBS2D a(h);
  EXPECT_EQ((Seq{a.isValid(), std::isnan(a.PtCur(0.0).point().x()),
                 std::isnan(a.PtCur(0.0).tangente().y())}),
            (Seq{0, true, true}));
  EXPECT_EQ((Seq{std::isnan(a(0.0).x()), std::isnan(a(0.5).x())}), (Seq{true, false}));
  // Zero weight on the pole of a C0 corner: the curve's weight vanishes there.
  ERVec<ERPole2DH> g;
  for (const auto& x : {ERPole2DH(0, 0, 1), ERPole2DH(1, 1, 0), ERPole2DH(2, 0, 1)}) g.append(x);
  const double U[] = {0, 0, 0.5, 1, 1};
  const ERCpoleNURBS2D b(g, ERKnotVector(1, U, 5));
  EXPECT_EQ(b.isValid(), 0);
  EXPECT_EQ((Seq{std::isnan(b.PtCur(0.5).point().x()), std::isnan(b(0.5).y())}), (Seq{true, true}));
  EXPECT_FALSE(std::isnan(b.PtCur(0.25).point().x()));
  const ERCpoleBezier2DR c(g, ERLimites(0.0, 1.0));
  EXPECT_EQ(c.isValid(), 0);
  EXPECT_FALSE(std::isnan(c.PtCur(0.5).point().x()));  // 0.5 (0,0) + 0.5 (2,0) over w = 0.5

  // Structural faults.
  EXPECT_EQ(
      (Seq{ERCpoleNURBS2D().isValid(), std::isnan(ERCpoleNURBS2D().PtCur(0.0).point().x()),
           ERCpoleBezier2D().isValid(), std::isnan(ERCpoleBezier2D().PtCur(0.0).point().x())}),
      (Seq{0, true, 0, true}));
  const double few[] = {0, 0, 1, 1};
  const ERCpoleNURBS2D d(g, ERKnotVector(1, few, 4));  // 3 poles on 2 pole slots
  EXPECT_EQ(d.isValid(), 0);
  EXPECT_TRUE(std::isnan(d.PtCur(0.5).point().x()));
  const double down[] = {0, 0, 0, 1, 0.5, 1};  // decreasing
  ERVec<ERPole2DH> f(g);
  f[1] = ERPole2DH(1, 1, 1);
  EXPECT_EQ(ERCpoleNURBS2D(f, ERKnotVector(2, down, 6)).isValid(), 0);
  ERVec<ERPole2DH> nanPoles(f);
  nanPoles[1] = ERPole2DH(std::nan(""), 1, 1);
  EXPECT_EQ((Seq{ERCpoleNURBS2D(nanPoles).isValid(), ERCpoleNURBS2D(f).isValid()}), (Seq{0, 1}));
  EXPECT_EQ(ERCpoleBezier2D(parabola(), ERLimites(1.0, 1.0)).isValid(), 0);
}

Bytes expectedNurbsImage() {
  Bytes b;
  for (double v : {0.0, 1.0, 0.25, 1.0}) qorv_test::putDouble(b, v);
  qorv_test::putInt(b, 72);
  for (double v : {0.0, 0.0, 1.0, 2.0, 4.0, 2.0, 2.0, 0.0, 1.0}) qorv_test::putDouble(b, v);
  qorv_test::putInt(b, 48);
  for (double v : {0.0, 0.0, 0.0, 1.0, 1.0, 1.0}) qorv_test::putDouble(b, v);
  for (int n : {2, 0}) qorv_test::putInt(b, n);  // degree, flag
  return b;
}

ERCpoleNURBS2D sampleNurbs() {
  ERVec<ERPole2DH> h;
  for (const auto& x : {ERPole2DH(0, 0, 1), ERPole2DH(2, 4, 2), ERPole2DH(2, 0, 1)}) h.append(x);
  const double U[] = {0, 0, 0, 1, 1, 1};
  return ERCpoleNURBS2D(h, ERKnotVector(2, U, 6), ERLimites(0.25, 1.0));
}

TEST(PoleCurves, StoredImagesAndDamagedRecords) {
  const ERCpoleNURBS2D n = sampleNurbs();
  const Bytes image = qorv_test::imageOf(n);
  EXPECT_EQ((Seq{image, n.binaryStoreSize()}), (Seq{expectedNurbsImage(), image.size()}));
  ERCpoleNURBS2D back;
  qorv_test::restoreValue(back, image);
  EXPECT_EQ(qorv_test::imageOf(back), image);
  EXPECT_EQ(back.PtCur(0.5).point(), n.PtCur(0.5).point());

  const ERCpoleBezier3D bz(ERVec<ERPoint3D>{ERPoint3D(1, 2, 3), ERPoint3D(4, 5, 6)},
                           ERLimites(-1.0, 1.0));
  Bytes b;
  for (double v : {-1.0, 1.0, -1.0, 1.0}) qorv_test::putDouble(b, v);
  qorv_test::putInt(b, 48);
  for (double v : {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}) qorv_test::putDouble(b, v);
  EXPECT_EQ((Seq{qorv_test::imageOf(bz), bz.binaryStoreSize()}), (Seq{b, b.size()}));

  // Every truncation, a pole length that is not whole poles, and a pole count that does not fit
  // the knots leave the curve as it was.
  const ERCpoleNURBS2D other = [] {
    ERCpoleNURBS2D c = sampleNurbs();
    c.translate(ERPoint2D(10, 20));
    c.setBound(ERLimites(0.5, 0.75));
    return c;
  }();
  const Bytes before = qorv_test::imageOf(other);
  for (std::size_t cut = 0; cut < image.size(); ++cut) {
    ERCpoleNURBS2D c(other);
    qorv_test::restoreValue(c, Bytes(image.begin(), image.begin() + cut));
    ASSERT_EQ(qorv_test::imageOf(c), before) << cut;
  }
  Bytes odd = image;
  odd[32] = 64;  // 64 bytes: not a whole number of 24-byte poles
  ERCpoleNURBS2D c1(other);
  qorv_test::restoreValue(c1, odd);
  EXPECT_EQ(qorv_test::imageOf(c1), before);
  Bytes misfit = image;
  misfit[32] = 48;  // two poles for a quadratic on six knots
  misfit.erase(misfit.begin() + 36 + 48, misfit.begin() + 36 + 72);
  ERCpoleNURBS2D c2(other);
  qorv_test::restoreValue(c2, misfit);
  EXPECT_EQ(qorv_test::imageOf(c2), before);
  ERCpoleBezier3D b3(bz);
  b3.translate(ERPoint3D(1, 1, 1));
  const Bytes b3before = qorv_test::imageOf(b3);
  for (std::size_t cut = 0; cut < b.size(); ++cut) {
    ERCpoleBezier3D c(b3);
    qorv_test::restoreValue(c, Bytes(b.begin(), b.begin() + cut));
    ASSERT_EQ(qorv_test::imageOf(c), b3before) << cut;
  }
}

using qorv_test::printed;

TEST(PoleCurves, PrintForms) {
  const ERCpoleNURBS2D n = sampleNurbs();
  std::string expect = "ERCpoleNURBS2D\nDomaine : " + printed(ERLimites(0.0, 1.0)) +
                       "\nBornes  : " + printed(ERLimites(0.25, 1.0)) + "\nPoles :\n(3)[" +
                       printed(ERPole2DH(0, 0, 1)) + "," + printed(ERPole2DH(2, 4, 2)) + "," +
                       printed(ERPole2DH(2, 0, 1)) + "]\n\nKnotVecteur\n" + printed(n.knotVector());
  EXPECT_EQ(printed(n), expect);
  const ERCpoleBezier2D b(parabola(), ERLimites(0.0, 1.0));
  EXPECT_EQ(printed(b), "ERCpoleBezier2D\nDomaine : " + printed(ERLimites(0.0, 1.0)) +
                            "\nBornes  : " + printed(ERLimites(0.0, 1.0)) + "\nPoles :\n(3)[" +
                            printed(ERPoint2D(0, 0)) + "," + printed(ERPoint2D(1, 2)) + "," +
                            printed(ERPoint2D(2, 0)) + "]\n");
}

TEST(PoleCurves, MovesActOnTheCurve) {
  ERCpoleNURBS2D n = sampleNurbs();
  const ERCpoleNURBS2D old(n);
  n.translate(ERPoint2D(3, -1));
  n.scale(2.0);
  for (int k = 0; k <= 10; ++k) {
    const double t = k / 10.0;
    EXPECT_NEAR(n(t).x(), 2 * (old(t).x() + 3), 1e-14);
    EXPECT_NEAR(n(t).y(), 2 * (old(t).y() - 1), 1e-14);
  }
  // The points of a reversed curve: InsertionAndReversalKeepTheShape.
  ERCpoleNURBS2D r(old);
  r.reverse();
  EXPECT_EQ(r.getBound(), ERLimites(0.0, 0.75));
}

template <class Curve, class Pole>
void checkEditsKeepShape(int dim, unsigned fixed) {
  QORV_SEEDED(std::mt19937_64 rng, fixed);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 200; ++rep) {
    const RandomCurve c = randomCurve(rng, dim, rep % 5 == 0, rep % 3 == 2);
    const int n = int(c.U.size()) - c.p - 1;
    const Curve curve(polesOf<Pole>(c), ERKnotVector(c.p, c.U.data(), int(c.U.size())));
    const double a = c.U[c.p], b = c.U[n];
    // Insertion at an existing knot, at the domain start, or anywhere, up to past full
    // multiplicity.
    const int pick = int(rng() % 3);
    const double u = pick == 0   ? c.U[c.p + int(rng() % (n - c.p))]
                     : pick == 1 ? a
                                 : a + (b - a) * u01(rng);
    const int r = 1 + int(rng() % (c.p + 1));
    int s = 0;
    for (double v : c.U) s += v == u;
    SCOPED_TRACE(testing::Message()
                 << "rep " << rep << " p " << c.p << " u " << u << " r " << r << " s " << s);
    Curve ins(curve);
    ins.insertKnot(u, r);
    const int added = std::max(0, std::min(r, c.p - s));
    ASSERT_EQ((Seq{ins.knotVector().length(), ins.nbPoles(), ins.isValid()}),
              (Seq{int(c.U.size()) + added, n + added, 1}));
    Curve rev(curve);
    rev.reverse();
    const double sum = c.U.front() + c.U.back();
    for (int k = 0; k < 1000; ++k) {
      const double t = k == 999 ? b : a + (b - a) * k / 999.0;
      const auto p0 = curve(t), p1 = ins(t), p2 = rev(sum - t);
      for (int d = 0; d < dim; ++d) {
        ASSERT_NEAR(p1.data()[d], p0.data()[d], 1e-12 * c.size) << t;
        // Mirrored knots and parameters round on the scale of the knot offset.
        ASSERT_NEAR(p2.data()[d], p0.data()[d], 1e-12 * c.size * (1 + std::fabs(sum) / (b - a)))
            << t;
      }
    }
  }
}

TEST(PoleCurves, InsertionAndReversalKeepTheShape) {
  checkEditsKeepShape<ERCpoleNURBS2D, ERPole2DH>(2, 1817);
  checkEditsKeepShape<ERCpoleNURBS3D, ERPole3DH>(3, 1818);

  // A clamped cubic cut at its middle.
  ERVec<ERPole2DH> h;
  for (int i = 0; i < 4; ++i) h.append(ERPole2DH(i, i % 2, 1.0 + i));
  const double U[] = {0, 0, 0, 0, 1, 1, 1, 1};
  ERCpoleNURBS2D c(h, ERKnotVector(3, U, 8));
  const ERCpoleNURBS2D old(c);
  c.insertKnot(0.5, 1);
  EXPECT_EQ(c.nbPoles(), 5);
  const double expect[] = {0, 0, 0, 0, 0.5, 1, 1, 1, 1};
  ASSERT_EQ(c.knotVector().length(), 9);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(c.knotVector()[i], expect[i]);
  // Nothing at the domain end, past it, or for r <= 0.
  for (double u : {1.0, 2.0, -1.0, std::nan("")}) {
    ERCpoleNURBS2D d(old);
    d.insertKnot(u, 2);
    EXPECT_EQ(d.nbPoles(), 4) << u;
  }
  ERCpoleNURBS2D d(old);
  d.insertKnot(0.5, 0);
  EXPECT_EQ(d.nbPoles(), 4);

  // A Bezier curve reversed runs backwards over the same domain.
  const ERCpoleBezier2DR bz(h, ERLimites(1.0, 3.0));
  ERCpoleBezier2DR rb(bz);
  rb.reverse();
  for (int k = 0; k <= 1000; ++k) {
    const double t = 1.0 + 2.0 * k / 1000.0;
    EXPECT_TRUE(Near(Seq{rb(t).x(), rb(t).y()}, Seq{bz(4.0 - t).x(), bz(4.0 - t).y()}, 1e-14));
  }
}

}  // namespace
