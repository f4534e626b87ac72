#include "qorv/foundation/angles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>

#include "tests/in_order.h"

namespace {

constexpr double kPi = std::numbers::pi;

TEST(Limites, EvaluationClampsOnlyInsideTheUnitRange) {
  const ERLimites l(2.0, 4.0);
  EXPECT_EQ((Seq{l(0.5), l(1.5), l(-0.5), l(0.0), l(1.0), l(ERLimites(0.25, 2.0))}),
            (Seq{3.0, 5.0, 1.0, 2.0, 4.0, ERLimites(2.5, 6.0)}));
  // Raised to start, then lowered to end: a backward interval answers its end in [0, 1].
  const ERLimites back(4.0, 2.0);
  EXPECT_EQ((Seq{back(0.5), back(2.0), ERLimites()}), (Seq{2.0, 0.0, ERLimites(0.0, 0.0)}));
}

TEST(Limites, RatioInvertsEvaluationAndBoundsAreExact) {
  const ERLimites l(-1.0, 3.0);
  for (double t : {0.0, 0.125, 0.5, 0.75, 1.0, 2.0, -3.0}) EXPECT_DOUBLE_EQ(l.ratio(l(t)), t);
  EXPECT_EQ((Seq{l.ratio(ERLimites(-1.0, 3.0)), l.amplitude()}), (Seq{ERLimites(0.0, 1.0), 4.0}));
  EXPECT_EQ(
      (Seq{l.inBound(-1.0) && l.inBound(3.0), l.strictlyInBound(-1.0) || l.strictlyInBound(3.0),
           bool(l.strictlyInBound(0.0)), bool(ERLimites(1.0, 1.0 + 1e-12).isEmpty(1e-11)),
           bool(ERLimites(1.0, 1.1).isEmpty(1e-11))}),
      (Seq{true, false, true, true, false}));
  EXPECT_TRUE(std::isinf(ERLimites(1.0, 1.0).ratio(2.0)));

  ERLimites m(1.0, 5.0);
  m.centre();
  EXPECT_EQ(m, ERLimites(-2.0, 2.0));
  m += 1.0;
  m *= 2.0;
  m -= 0.5;
  EXPECT_EQ(m, ERLimites(-2.5, 5.5));
}

TEST(EntAngle, ClosedOnlyOnAnExactTurn) {
  EXPECT_EQ((Seq{bool(EREntAngle(0.0, 2 * kPi).isClosed(0.0)),
                 bool(EREntAngle(0.0, 2 * kPi).isClosed(100.0)),
                 bool(EREntAngle(2 * kPi, 0.0).isClosed()),
                 bool(EREntAngle(0.0, 2 * kPi - 1e-12).isClosed(1.0))}),
            (Seq{true, true, true, false}));
  EXPECT_FALSE(EREntAngle(0.0, 0.0).isClosed());
}

TEST(EntAngle, SettersReturnThePreviousValue) {
  EREntAngle a(1.0, 2.0);
  EXPECT_TRUE(a.isDirect());
  EXPECT_EQ((Seq{a.startAngle(ERRadian(-7.0)), a.endAngle(ERRadian(9.0))}), (Seq{1.0, 2.0}));
  EXPECT_EQ(a.startAngle(), -7.0);  // not normalised
  a.reverse();
  EXPECT_EQ((Seq{a.startAngle(), a.endAngle()}), (Seq{9.0, -7.0}));
  EXPECT_FALSE(a.isDirect());
  a.setLimites(0.5, 0.5);
  EXPECT_EQ((Seq{bool(a.isDirect()), a.binaryStoreSize()}), (Seq{false, 16u}));
  const ERRadian r(kPi / 3);
  EXPECT_DOUBLE_EQ(r.cosinus(), 0.5);
  EXPECT_DOUBLE_EQ(r.sinus(), std::sqrt(3.0) / 2);
}

TEST(EntAngle, PrintForm) {
  std::ostringstream os;
  os << EREntAngle(-0.5, kPi);
  EXPECT_EQ(os.str(), "Angle de Debut:-0.5 (-28.6479)\nAngle de Fin  :3.14159 (180)\n");
}

}  // namespace
