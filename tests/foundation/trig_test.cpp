#include "qorv/foundation/trig.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

#include "tests/in_order.h"
#include "tests/test_seed.h"

namespace {

// The error of a against the long double reference t, in units of the last place of t.
double ulps(double a, long double t) {
  const double td = static_cast<double>(t);
  const double ulp = std::nextafter(std::fabs(td), INFINITY) - std::fabs(td);
  return static_cast<double>(std::fabs(static_cast<long double>(a) - t) / ulp);
}

void expectFaithful(double x) {
  double s, c;
  qorv::sinCos(x, s, c);
  ASSERT_LT(ulps(s, sinl(x)), 1.0) << std::hexfloat << x;
  ASSERT_LT(ulps(c, cosl(x)), 1.0) << std::hexfloat << x;
}

// Random angles in every magnitude window up to the reduction's limit, both signs, and the
// hardest ones: the doubles next to multiples of pi/2, where the reduced angle cancels.
TEST(SinCos, WithinOneUlpOfTheTrueValuesEverywhere) {
  QORV_SEEDED(std::mt19937_64 rng, 4101);
  for (double hi : {1e-300, 1e-8, 0.7, 1.0, 4.0, 100.0, 1e4, 8.2e5}) {
    std::uniform_real_distribution<double> d(hi / 16, hi);
    for (int i = 0; i < 100000; ++i) expectFaithful(i % 2 ? d(rng) : -d(rng));
  }
  for (long k = 1; k < 300000; k += 1 + k / 64) {
    const double x = static_cast<double>(k) * 1.5707963267948966;
    for (double y : {x, std::nextafter(x, 0.0), std::nextafter(x, INFINITY), -x})
      if (std::fabs(y) < 823549.0) expectFaithful(y);
  }
}

TEST(SinCos, ExactValuesAndTheLibraryBeyondTheReductionsRange) {
  double s, c;
  qorv::sinCos(0.0, s, c);
  EXPECT_EQ((Seq{s, c}), (Seq{0.0, 1.0}));
  qorv::sinCos(-0.0, s, c);
  EXPECT_TRUE(std::signbit(s));
  for (double x : {1e6, -3e9, 1e300, DBL_MAX}) {
    qorv::sinCos(x, s, c);
    EXPECT_EQ((Seq{s, c}), (Seq{std::sin(x), std::cos(x)}));
  }
  const double inf = std::numeric_limits<double>::infinity();
  for (double x : {std::numeric_limits<double>::quiet_NaN(), inf, -inf}) {
    qorv::sinCos(x, s, c);
    EXPECT_TRUE(std::isnan(s) && std::isnan(c));
  }
}

}  // namespace
