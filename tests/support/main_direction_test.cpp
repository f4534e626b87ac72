#include "qorv/support/main_direction.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include "tests/in_order.h"

namespace {

using D = ERMainDirection;

TEST(MainDirection, FromVectors) {
  EXPECT_EQ((Seq{D(ERVector3D(0, -2, 1)), D(ERVector3D(0, 0, 0)), D(ERVector3D(3, -2, 1))}),
            (Seq{D::MINUS_Y, D::MINUS_Z, D::PLUS_X}));
  EXPECT_EQ(D(ERVector3D(-0.0, 0, 0)), D::MINUS_Z);
  EXPECT_EQ(ERVector3D(0, 5, -5).mainDirection(), D::MINUS_Z);  // tie: the later axis
  EXPECT_EQ(D(ERVector3D(0, 1, 0), -1), D::MINUS_Y);
  EXPECT_EQ(D(ERVector3D(0, 1, 0), 1), D::PLUS_Y);
  std::mt19937 g(4242u);
  SCOPED_TRACE("seed 4242");
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  for (int i = 0; i < 100; ++i) {
    const ERVector3D v(d(g), d(g), d(g));
    const D m = v.mainDirection();
    // The chosen axis carries the largest component, and the sign is its sign.
    const ERVector3D u = m.vector();
    EXPECT_GT(u * v, 0.0);
    EXPECT_GE(std::fabs(u * v), std::fabs(v.x()) - 1e-300);
    EXPECT_GE(std::fabs(u * v), std::fabs(v.y()));
    EXPECT_GE(std::fabs(u * v), std::fabs(v.z()));
  }
}

TEST(MainDirection, CodesStringsAndOpposites) {
  EXPECT_EQ((Seq{D("Z-"), D("X+"), D("y+")}), (Seq{D::MINUS_Z, D::PLUS_X, D::PLUS_Y}));
  EXPECT_EQ(D("Y"), D::MINUS_Y);  // anything but '+' is negative
  EXPECT_EQ((Seq{D(""), D(static_cast<const char*>(nullptr)), D(Coord3D::Z, -1)}),
            (Seq{D::PLUS_X, D::PLUS_X, D::MINUS_Z}));
  EXPECT_EQ(D(Coord3D::Y, 1), D::PLUS_Y);
  for (int c = 0; c < 6; ++c) {
    const D d(static_cast<D::TypeDir>(c));
    EXPECT_EQ((Seq{static_cast<int>(d.axe()), d.sens()}), (Seq{c / 2, c % 2 ? -1 : 1}));
    const ERVector3D v = d;
    EXPECT_EQ((Seq{v, D(v), -(-d)}), (Seq{d.sens() * ERVector3D(d.axe()), d, d}));
    EXPECT_EQ((-d).vector(), -v);
    D s = d;
    s.swap();
    EXPECT_EQ(s, -d);
    std::ostringstream os;
    os << d;
    EXPECT_EQ(D(os.str().c_str()), d) << os.str();
    EXPECT_EQ(static_cast<D::TypeDir>(d), c);
  }
}

}  // namespace
