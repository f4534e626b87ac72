#include "qorv/surfaces/surface.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/in_order.h"

using QuickAlgebra::ERMatrix;

namespace {

// A 3 x 3 record: point, Su, Suu on the first row; Sv, Suv on the second; Svv on the third.
ERInfoPoint3DSurf record(const ERPoint3D& p, const ERVector3D& su, const ERVector3D& suu,
                         const ERVector3D& sv, const ERVector3D& svv) {
  ERMatrix<ERPoint3D> d(3, 3);
  d(0, 0) = p, d(0, 1) = ERPoint3D(su), d(0, 2) = ERPoint3D(suu);
  d(1, 0) = ERPoint3D(sv);
  d(2, 0) = ERPoint3D(svv);
  return ERInfoPoint3DSurf(ERPoint2D(0.5, 2.0), d);
}

void expectVector(const ERVector3D& v, double x, double y, double z) {
  EXPECT_TRUE(Near(Seq{v.x(), v.y(), v.z()}, Seq{x, y, z}, 1e-15));
}

TEST(InfoPoint3DSurf, NormalAndItsFallBacksAtDegeneratePartials) {
  const ERPoint3D p(1, 2, 3);
  const ERVector3D suu(0, 0, 4), svv(0, -5, 0);
  // Regular: Su x Sv normalised, in that order.
  expectVector(record(p, {2, 0, 0}, suu, {0, 3, 0}, svv).normale(), 0, 0, 1);
  expectVector(record(p, {0, 3, 0}, suu, {2, 0, 0}, svv).normale(), 0, 0, -1);
  // Su zero (within 1e-11 per component): Svv's direction.
  expectVector(record(p, {1e-11, -1e-11, 0}, suu, {0, 3, 0}, svv).normale(), 0, -1, 0);
  // Just above the threshold Su counts and the cross product decides.
  expectVector(record(p, {2e-11, 0, 0}, suu, {0, 3, 0}, svv).normale(), 0, 0, 1);
  // Sv zero: Suu's direction; both zero: the zero vector.
  expectVector(record(p, {2, 0, 0}, suu, {0, 0, 1e-12}, svv).normale(), 0, 0, 1);
  expectVector(record(p, {0, 0, 0}, suu, {0, 0, 0}, svv).normale(), 0, 0, 0);
  // Partials under the threshold count as zero, however regular their directions.
  expectVector(record(p, {1e-200, 0, 0}, suu, {0, 1e-200, 0}, svv).normale(), 0, 0, 0);
  expectVector(record(p, {1e-3, 0, 0}, suu, {0, 1e-3, 0}, svv).normale(), 0, 0, 1);
}

TEST(InfoPoint3DSurf, AccessorsAndAnEmptyRecordNeverReadOutside) {
  const auto r = record({1, 2, 3}, {4, 5, 6}, {0, 0, 1}, {7, 8, 9}, {0, 1, 0});
  EXPECT_EQ((Seq{r.point().x(), r.tangenteU().z(), r.tangenteV().y()}), (Seq{1, 6, 8}));
  const ERInfoPoint3DSurf empty;
  EXPECT_EQ((Seq{empty.point().x(), empty.parameter().y()}), (Seq{0, 0}));
  expectVector(empty.normale(), 0, 0, 0);
  // A first-order record (2 x 2) has no second derivatives: the fall-back reads zero.
  ERMatrix<ERPoint3D> d(2, 2);
  d(1, 0) = ERPoint3D(0, 1, 0);
  expectVector(ERInfoPoint3DSurf(ERPoint2D(), d).normale(), 0, 0, 0);
}

// The inline order-2 record answers as the matrix-built one, also after a move and once its
// matrix has been built (a set or a transformation must not leave that copy stale).
TEST(InfoPoint3DSurf, InlineOrder2RecordAgreesWithTheMatrixForm) {
  const auto m = record({1, 2, 3}, {4, 5, 6}, {0, 0, 1}, {7, 8, -9}, {0, 1, 0});
  ERInfoPoint3DSurf r(m.parameter(), ERInfoPoint3DSurf::Order2{});
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const ERVector3D d = m.partial(i, j);
      r.set(i, j, d.x(), d.y(), d.z());
    }
  auto same = [](const ERInfoPoint3DSurf& a, const ERInfoPoint3DSurf& b) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_EQ(a.partial(i, j), b.partial(i, j)) << i << j;
    EXPECT_EQ(a.derivatives().rows(), 3);
    for (int k = 0; k < 9; ++k) EXPECT_EQ(a.derivatives()[k], b.derivatives()[k]) << k;
    EXPECT_EQ((Seq{a.normale(), a.courbureMoyenne()}), (Seq{b.normale(), b.courbureMoyenne()}));
  };
  same(r, m);
  EXPECT_EQ(r.partial(3, 0), ERVector3D(0, 0, 0));
  EXPECT_EQ(r.partial(-1, 1), ERVector3D(0, 0, 0));
  const ERPmIsometrie3D T(ERChgRepere3D(ERVector3D(1, 2, 2), ERPoint3D(5, -1, 3)));
  ERInfoPoint3DSurf rt = r, mt = m;
  rt.transformFrom(T), mt.transformFrom(T);
  same(rt, mt);
  rt.transformTo(T), mt.transformTo(T);
  same(rt, mt);
  ERInfoPoint3DSurf copy = r;
  (void)copy.derivatives();
  copy.set(0, 0, 9, 9, 9);
  EXPECT_EQ((Seq{copy.derivatives()[0], r.point()}), (Seq{ERPoint3D(9, 9, 9), ERPoint3D(1, 2, 3)}));
}

TEST(InfoPoint3DSurf, PrintForm) {
  const auto r = record({1, 2, 3}, {1, 0, 0}, {}, {0, 1, 0}, {});
  std::ostringstream got;
  got << r;
  EXPECT_EQ(got.str(), "- Parametre     :  u = [0.5,2]\n- Point courant :  P = [1,2,3]\n");
}

}  // namespace
