#include "qorv/freeform/polynomial_patch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "qorv/foundation/transfo3d_kinds.h"
#include "tests/freeform/freeform_support.h"
#include "tests/in_order.h"

using QuickAlgebra::ERVec;

namespace {

ERPolynome poly(std::vector<double> c) { return ERPolynome(c.data(), int(c.size())); }

ERTValVector<ERPolynome> polys(std::initializer_list<std::vector<double>> cs) {
  ERTValVector<ERPolynome> v;
  for (const auto& c : cs) v.append(poly(c));
  return v;
}

// The rational unit circle quarter (1 - t^2, 2t) / (1 + t^2), t in [0, 1].
ERPatchCPoly2D quarter() {
  return ERPatchCPoly2D(polys({{1, 0, -1}, {0, 2}, {1, 0, 1}}), ERLimites(0, 1));
}

}  // namespace

TEST(PolynomialPatch, EvaluationReparametrisationReversal) {
  const ERPatchCPoly2D c = quarter();
  EXPECT_TRUE(c.isRational());
  for (double t : {0.0, 0.3, 1.0}) {
    const ERInfoPoint2D i = c.PtCur(t);
    EXPECT_NEAR(std::hypot(i.point().x(), i.point().y()), 1.0, 1e-15);
    EXPECT_NEAR(i.point().x() * i.tangente().x() + i.point().y() * i.tangente().y(), 0.0, 1e-15);
    // Second derivative against central differences of the first.
    const ERVector2D d = (c.PtCur(t + 1e-6).tangente() - c.PtCur(t - 1e-6).tangente()) / 2e-6;
    EXPECT_TRUE(Near(Seq{i.secondOrder().x(), i.secondOrder().y()}, Seq{d.x(), d.y()}, 1e-6));
  }
  EXPECT_NEAR(c.arcLength(1e-10), std::acos(-1.0) / 2, 1e-9);

  ERPatchCPoly2D line(polys({{0, 1}, {0, 0}}), ERLimites(0, 1));
  line.reverse();
  EXPECT_EQ((Seq{line.polynomials()[0], line.udeb()}), (Seq{poly({1, -1}), 0.0}));
  ERPatchCPoly2D moved = quarter();
  moved.reparametrize(ERLimites(2, 5));
  EXPECT_EQ(moved.udeb(), 2.0);
  for (double s : {2.0, 3.5, 5.0}) {
    const ERPoint2D a = moved.PtCur(s).point(), b = c.PtCur((s - 2) / 3).point();
    EXPECT_TRUE(Near(Seq{a.x(), a.y()}, Seq{b.x(), b.y()}, 1e-14));
  }
  t_SmartPtr<ERFiniteEntity2DWF> first, second;
  EXPECT_EQ((Seq{c.splitAt(first, second, 0.25), first->ufin(), second->udeb()}),
            (Seq{1, 0.25, 0.25}));
  EXPECT_EQ(c.splitAt(first, second, 1.0), 0);
}

TEST(PolynomialPatch, BoxProjectionAndTransformations) {
  // y = (t - 0.5)^2 - 1 over [0, 2]: the box holds the vertex.
  const ERPatchCPoly2D p(polys({{0, 1}, {-0.75, -1, 1}}), ERLimites(0, 2));
  const ERMinimax2D box = p.getBox();
  EXPECT_TRUE(Near(Seq{box.ymin(), box.ymax()}, Seq{-1.0, 1.25}, 1e-15));
  ERVec<double> params{99.0};
  EXPECT_EQ(p.ProjectPoint(ERPoint2D(0.5, -3), params, 1e-9), 2);  // appends the vertex
  EXPECT_NEAR(params[1], 0.5, 1e-15);
  // The vertex's centre of curvature: a triple stationary point.
  EXPECT_EQ(p.ProjectPoint(ERPoint2D(0.5, -0.5), params, 1e-9), 5);
  EXPECT_NEAR(params[4], 0.5, 1e-15);
  ERVec<double> none;
  EXPECT_EQ(quarter().ProjectPoint(ERPoint2D(0, 0), none, 1e-9), -1);

  QORV_SEEDED(std::mt19937 rng, 314);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int trial = 0; trial < 200; ++trial) {
    const double a = u(rng) * 3.2, k = std::pow(10.0, 3 * u(rng));
    const ERTransfo2D T(k * std::cos(a), -k * std::sin(a), k * std::sin(a), k * std::cos(a),
                        1e3 * u(rng), 1e3 * u(rng));
    ERPatchCPoly2D c = trial % 2 ? quarter() : p;
    const ERPatchCPoly2D original = c;
    c.transformFrom(T);
    const double t = c.udeb() + (c.ufin() - c.udeb()) * (0.5 + 0.5 * u(rng));
    const ERPoint2D want = T >> original.PtCur(t).point(), got = c.PtCur(t).point();
    const double tol = 1e-12 * (1e3 + 3 * k);
    EXPECT_TRUE(Near(Seq{got.x(), got.y()}, Seq{want.x(), want.y()}, tol));
    c.transformTo(T);
    EXPECT_NEAR(c.PtCur(t).point().x(), original.PtCur(t).point().x(), tol / k + 1e-9);
    c.translate(ERPoint2D(3, -4));
    EXPECT_NEAR(c.PtCur(t).point().y(), original.PtCur(t).point().y() - 4, tol / k + 1e-9);
  }

  // Into space and back through a frame.
  const ERPmIsometrie3D frame =
      ERChgRepere3D(ERVector3D(0, 0, 1), ERVector3D(1, 0, 0), ERPoint3D(5, 6, 7));
  const t_SmartPtr<EREntity3DWF> space = quarter().get3DEquiv(frame);
  const ERPatchCPoly3D* s = ERPatchCPoly3D::castdown(space.get());
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->isRational());
  const ERPoint3D q = s->PtCur(0.5).point(), w = frame >> ERPoint3D(0.6, 0.8, 0);
  EXPECT_NEAR((q - w).norme(), 0.0, 1e-14);
  const t_SmartPtr<EREntity2DWF> back = s->get2DEntProjectedOn(frame);
  const ERPatchCPoly2D* b = ERPatchCPoly2D::castdown(back.get());
  ASSERT_NE(b, nullptr);
  EXPECT_NEAR(b->PtCur(0.5).point().x(), 0.6, 1e-14);
}

TEST(PolynomialPatch, StoredImageAndPrintForm) {
  const ERPatchCPoly2D p(polys({{1, 2}, {0, 0, 1}}), ERLimites(0, 1));
  // The domain, the count, then each polynomial: its byte length and coefficients.
  qorv_test::Bytes expected = qorv_test::doubles({0, 1});
  for (int n : {2, 16}) qorv_test::putInt(expected, n);
  for (double v : {1.0, 2.0}) qorv_test::putDouble(expected, v);
  qorv_test::putInt(expected, 24);
  for (double v : {0.0, 0.0, 1.0}) qorv_test::putDouble(expected, v);
  EXPECT_EQ((Seq{qorv_test::imageOf(p), p.binaryStoreSize()}), (Seq{expected, expected.size()}));
  ERPatchCPoly2D r;
  qorv_test::restoreValue(r, expected);
  EXPECT_EQ((Seq{r.polynomials()[1], r.ufin()}), (Seq{p.polynomials()[1], 1.0}));
  const std::string text = qorv_test::printed(p);
  EXPECT_EQ(text.substr(text.find("Patch")), "Patch Polynomial\n1+2*x\n\nx**2\n\n");
  // Damaged: a count that does not fit the plane, and short records.
  qorv_test::Bytes bad = expected;
  bad[16] = 5;
  ERPatchCPoly2D keep = quarter();
  qorv_test::restoreValue(keep, bad);
  EXPECT_EQ((Seq{keep.nbPolynomials(), keep.ufin()}), (Seq{3, 1.0}));
  for (std::size_t cut = 0; cut < expected.size(); cut += 7) {
    ERPatchCPoly2D k2(polys({{1, 2}, {3}}), ERLimites(4, 9));
    qorv_test::restoreValue(k2, qorv_test::Bytes(expected.begin(), expected.begin() + long(cut)));
    EXPECT_EQ((Seq{k2.ufin(), k2.polynomials()[1]}), (Seq{9.0, poly({3})}));
  }
}
