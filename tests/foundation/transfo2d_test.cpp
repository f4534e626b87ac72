#include "qorv/foundation/transfo2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/test_seed.h"

using namespace qorv;

namespace {

using qorv_test::Bytes;
constexpr double kPi = std::numbers::pi;

void expectNear(const ERPoint2D& a, const ERPoint2D& b, double tol) {
  EXPECT_TRUE(Near(Seq{a.x(), a.y()}, Seq{b.x(), b.y()}, tol));
}

// The map as a 3 x 3 homogeneous matrix, to check products against.
struct M3 {
  double m[9];
  explicit M3(const ERTransfo2D& T)
      : m{T.a11(), T.a12(), T.tx(), T.a21(), T.a22(), T.ty(), 0, 0, 1} {}
  M3() : m{1, 0, 0, 0, 1, 0, 0, 0, 1} {}
  M3 operator*(const M3& b) const {
    M3 c;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        c.m[3 * i + j] = m[3 * i] * b.m[j] + m[3 * i + 1] * b.m[3 + j] + m[3 * i + 2] * b.m[6 + j];
    return c;
  }
  ERPoint2D operator*(const ERPoint2D& p) const {
    return ERPoint2D(m[0] * p.x() + m[1] * p.y() + m[2], m[3] * p.x() + m[4] * p.y() + m[5]);
  }
};

TEST(Transfo2D, ConstructorsOnTheirEdgeCases) {
  const ERTransfo2D sx(Coord2D::X), sy(Coord2D::Y), both(static_cast<Coord2D>(7));
  EXPECT_EQ((Seq{sx >> ERPoint2D(1, 2), sy >> ERPoint2D(1, 2), both >> ERPoint2D(1, 2)}),
            (Seq{ERPoint2D(1, -2), ERPoint2D(-1, 2), ERPoint2D(-1, -2)}));

  const ERTransfo2D h(2.0, ERPoint2D(1, 1));
  EXPECT_EQ(h >> ERPoint2D(1, 1), ERPoint2D(1, 1));
  EXPECT_EQ(h >> ERPoint2D(2, 1), ERPoint2D(3, 1));
  EXPECT_EQ(h >> ERVector2D(1, 1), ERVector2D(2, 2));  // vectors: no translation

  const ERTransfo2D quarter = qorv::rotation(kPi / 2);
  expectNear(quarter * quarter >> ERPoint2D(1, 0), ERPoint2D(-1, 0), 1e-15);

  // The X axis goes to d normalised, the origin to t.
  const ERTransfo2D frame(ERVector2D(3, 4), ERPoint2D(5, 6));
  expectNear(frame >> ERPoint2D(1, 0), ERPoint2D(5.6, 6.8), 1e-15);
  expectNear(frame >> ERPoint2D(0, 1), ERPoint2D(4.2, 6.6), 1e-15);
  EXPECT_NEAR(frame.angle(), std::atan2(4, 3), 1e-15);
  EXPECT_EQ(ERTransfo2D(ERVector2D(1, 2)) >> ERPoint2D(1, 1), ERPoint2D(2, 3));
  EXPECT_EQ(qorv::Scaling(3) >> ERPoint2D(1, -2), ERPoint2D(3, -6));
}

TEST(Transfo2D, SymmetryReflectsAcrossTheLineOfItsDirection) {
  for (const ERVector2D& v : {ERVector2D(1, 0), ERVector2D(1, 1), ERVector2D(-2, 1),
                              ERVector2D(0, 3), ERVector2D(1, -1), ERVector2D(-1, -3)}) {
    const ERTransfo2D S = qorv::Symmetry(v);
    expectNear(S >> ERPoint2D(v.x(), v.y()), ERPoint2D(v.x(), v.y()), 1e-14);
    expectNear(S >> ERPoint2D(-v.y(), v.x()), ERPoint2D(v.y(), -v.x()), 1e-14);
    EXPECT_FALSE(S.isDirect());
    if (v.y() >= 0) {  // the documented matrix, with the unsigned angle from X
      const double th = std::atan2(std::fabs(v.y()), v.x());
      EXPECT_TRUE(Near(Seq{S.a11(), S.a12()}, Seq{std::cos(2 * th), std::sin(2 * th)}, 1e-15));
    }
  }
}

TEST(Transfo2D, CompositionInverseAndDecomposition) {
  QORV_SEEDED(std::mt19937 gen, 3001);
  std::uniform_real_distribution<double> u(-5, 5);
  for (int i = 0; i < 200; ++i) {
    const ERTransfo2D a(u(gen), u(gen), u(gen), u(gen), u(gen), u(gen));
    const ERTransfo2D b(u(gen), u(gen), u(gen), u(gen), u(gen), u(gen));
    const ERPoint2D p(u(gen), u(gen));
    const ERPoint2D want = M3(a) * (M3(b) * p);
    expectNear((a * b) >> p, want, 1e-10);
    expectNear((M3(a) * M3(b)) * p, want, 1e-10);
    const double tol = 1e-9 / std::fabs(a.a11() * a.a22() - a.a12() * a.a21());
    expectNear(~a >> (a >> p), p, tol);
    expectNear(a << (a >> p), p, tol);
    const ERVector2D v(p);
    const ERVector2D back = a << (a >> v);
    expectNear(ERPoint2D(back), p, tol);

    // T H Sym R rebuilt from Decompose.
    ERVector2D t;
    double k, angle;
    int direct;
    const ERTransfo2D m = ERTransfo2D(ERVector2D(1, 2)) * qorv::Scaling(u(gen) + 6) *
                          (i % 2 ? ERTransfo2D(Coord2D::X) : ERTransfo2D()) *
                          qorv::rotation(u(gen) / 2);
    m.Decompose(t, k, direct, angle);
    EXPECT_EQ((Seq{t, direct}), (Seq{ERVector2D(1, 2), int(i % 2 == 0)}));
    EXPECT_NEAR(k, m.factHomo(), 0);
    const ERTransfo2D rebuilt = ERTransfo2D(t) * qorv::Scaling(k) *
                                (direct ? ERTransfo2D() : ERTransfo2D(Coord2D::X)) *
                                qorv::rotation(angle);
    expectNear(rebuilt >> p, m >> p, 1e-12);
  }
}

TEST(Transfo2D, PolesAndVectorsOfPoints) {
  const ERTransfo2D T(2, -1, 1, 3, 4, 5);
  QuickAlgebra::ERVec<ERPoint2D> pts = {ERPoint2D(1, 2), ERPoint2D(-3, 0.5)};
  QuickAlgebra::ERVec<ERPole2DH> poles = {ERPole2DH(2, 4, 2), ERPole2DH(-1.5, 0.25, 0.5)};
  T.TransFrom(pts);
  T.TransFrom(poles);
  for (int i = 0; i < 2; ++i) expectNear(poles[i].castToPoint(), pts[i], 1e-14);
  EXPECT_EQ(poles[0].w(), 2.0);
  T.TransTo(pts);
  T.TransTo(poles);
  expectNear(pts[1], ERPoint2D(-3, 0.5), 1e-14);
  expectNear(poles[1].castToPoint(), ERPoint2D(-3, 0.5), 1e-14);
  // A singular map divides by zero and says nothing.
  const ERPoint2D lost = qorv::Scaling(0) << ERPoint2D(1, 1);
  EXPECT_FALSE(std::isfinite(lost.x()));
}

TEST(Transfo2D, PrintForm) {
  EXPECT_EQ(qorv_test::printed(ERTransfo2D(Coord2D::X)),
            "Transfo2D definie par :  T*H*Sym*R :\n"
            // atan2(-a12, a11) with a12 = +0: the angle is -0.
            "    Rotation d'angle  :                  :  -0  (-0)\n"
            "    Symetrie par rapport a l'axe 'Ox' ?  :  Oui\n"
            "    Homothetie de rapport                :  1\n"
            "    Translation de vecteur               :  [0,0]\n"
            "    Matrice de transfo                   :  \n"
            "    [         1 ,        0 |        0 ] \n"
            "    [         0 ,       -1 |        0 ] \n");
  const std::string direct = qorv_test::printed(ERTransfo2D(ERVector2D(1.5, -2)) *
                                                qorv::rotation(kPi / 2) * qorv::Scaling(2));
  for (const char* part :
       {"Rotation d'angle  :                  :  1.5708  (90)\n", "'Ox' ?  :  Non\n",
        "Homothetie de rapport                :  2\n", "[1.5,-2]"})
    EXPECT_NE(direct.find(part), std::string::npos) << part;
}

TEST(Transfo2D, StoredImageAndRoundTrip) {
  const ERTransfo2D T(0.5, -1, 2, 3.25, -7, 1e-300);
  const Bytes want = qorv_test::doubles({0.5, -1.0, 2.0, 3.25, -7.0, 1e-300});
  EXPECT_EQ((Seq{qorv_test::imageOf(T), T.binaryStoreSize()}), (Seq{want, 48u}));

  auto restoredFrom = [&](const Bytes& bytes) {
    ERTransfo2D back(Coord2D::Y);
    qorv_test::restoreFrom(back, bytes);
    return back;
  };
  const ERTransfo2D back = restoredFrom(want);
  EXPECT_EQ((Seq{back.a12(), back.ty()}), (Seq{-1.0, 1e-300}));
  const ERTransfo2D kept = restoredFrom(Bytes(want.begin(), want.begin() + 47));
  EXPECT_EQ(kept.a11(), -1.0);  // a short record changes nothing
  EXPECT_EQ(kept.a12(), 0.0);
}

}  // namespace
