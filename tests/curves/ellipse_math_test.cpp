#include "qorv/curves/ellipse_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "tests/in_order.h"

namespace {

using namespace EllipseMath;

const long double kPiL = 3.141592653589793238462643383279502884L;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Reference: adaptive 15-point Gauss-Kronrod in long double of the speed
// sqrt(a^2 sin^2 t + b^2 cos^2 t), the span first cut at the vertices (multiples of pi/2).
struct Reference {
  long double a, b;
  static constexpr long double xk[8] = {
      0.991455371120812639206854697526329L, 0.949107912342758524526189684047851L,
      0.864864423359769072789712788640926L, 0.741531185599394439863864773280788L,
      0.586087235467691130294144845693013L, 0.405845151377397166906606412076961L,
      0.207784955007898467600689403773245L, 0.0L};
  static constexpr long double wk[8] = {
      0.022935322010529224963732008058970L, 0.063092092629978553290700663189204L,
      0.104790010322250183839876322541518L, 0.140653259715525918745189590510238L,
      0.169004726639267902826583426598550L, 0.190350578064785409913256402421014L,
      0.204432940075298892414161999234649L, 0.209482141084727828012999174891714L};
  static constexpr long double wg[4] = {
      0.129484966168869693270611432679082L, 0.279705391489276667901467771423780L,
      0.381830050505118944950369775488975L, 0.417959183673469387755102040816327L};

  long double speed(long double t) const {
    const long double s = std::sin(t), c = std::cos(t);
    return std::sqrt(a * a * s * s + b * b * c * c);
  }
  // Each piece to 1e-15 of itself by the Gauss-Kronrod difference (the Kronrod sum is far
  // better than that difference on a piece where it is met).
  long double adapt(long double lo, long double hi, int depth) const {
    const long double mid = 0.5L * (lo + hi), half = 0.5L * (hi - lo);
    long double fc = speed(mid), k = wk[7] * fc, g = wg[3] * fc;
    for (int i = 0; i < 7; ++i) {
      const long double f = speed(mid - half * xk[i]) + speed(mid + half * xk[i]);
      k += wk[i] * f;
      if (i % 2 == 1) g += wg[i / 2] * f;
    }
    k *= half;
    g *= half;
    if (std::fabs(k - g) <= 1e-15L * k || depth > 50) return k;
    return adapt(lo, mid, depth + 1) + adapt(mid, hi, depth + 1);
  }
  long double length(double t0, double t1) const {
    long double lo = std::min(t0, t1), hi = std::max(t0, t1);
    long double sum = 0;
    while (lo < hi) {
      long double next = (std::floor(lo / (kPiL / 2)) + 1) * (kPiL / 2);
      if (next <= lo) next += kPiL / 2;  // lo on a vertex, its quotient rounded down
      next = std::min(hi, next);
      sum += adapt(lo, next, 0);
      lo = next;
    }
    return sum;
  }
};

void expectRelative(double got, long double want, long double rel) {
  EXPECT_LE(std::fabs(got - want), rel * want)
      << "got " << got << " want " << static_cast<double>(want);
}

TEST(EllipseArcLength, MatchesAdaptiveQuadratureToOnePartIn1e12) {
  constexpr unsigned kSeed = 4242u;
  SCOPED_TRACE(testing::Message() << "seed " << kSeed);
  std::mt19937_64 rng(kSeed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto logUniform = [&](double lo, double hi) {
    return std::exp(std::log(lo) + unit(rng) * (std::log(hi) - std::log(lo)));
  };
  for (int i = 0; i < 1500; ++i) {
    const double big = logUniform(1e-3, 1e3);
    const double small = i % 9 == 0 ? big : big * logUniform(1e-6, 1.0);
    const bool tall = unit(rng) < 0.5;
    const double a = tall ? small : big, b = tall ? big : small;
    double t0 = (2 * unit(rng) - 1) * 30, t1 = 0;
    switch (i % 5) {
      case 0:  // anything
        t1 = (2 * unit(rng) - 1) * 30;
        break;
      case 1:  // short spans anywhere
        t1 = t0 + logUniform(1e-12, 1e-1);
        break;
      case 2:  // from or to a vertex, or just beside one
        t0 = std::round(t0 / (M_PI / 2)) * (M_PI / 2) + (i % 3 - 1) * logUniform(1e-12, 1e-2);
        t1 = t0 + (unit(rng) < 0.5 ? -1 : 1) * logUniform(1e-10, 3);
        break;
      case 3:  // several turns
        t1 = t0 + 2 * M_PI * (1 + i % 4) + unit(rng);
        break;
      case 4:  // short spans near a vertex of a flat ellipse's sharp end
        t0 = std::round(t0 / M_PI) * M_PI + (2 * unit(rng) - 1) * 1e-5;
        t1 = t0 + logUniform(1e-9, 1e-4);
        break;
    }
    SCOPED_TRACE(testing::Message()
                 << std::hexfloat << "a " << a << " b " << b << " t0 " << t0 << " t1 " << t1);
    const double got = arcLength(a, b, t0, t1);
    EXPECT_EQ(got, arcLength(a, b, t1, t0));
    expectRelative(got, Reference{a, b}.length(t0, t1), 1e-12L);
    if (::testing::Test::HasFailure()) break;
  }
}

TEST(EllipseArcLength, CirclesSegmentsAndWholeTurns) {
  // A circle's arc is r times the angle; the reference quadrature agrees with it too.
  for (double r : {1e-300, 0.5, 3.0, 1e300}) {
    EXPECT_DOUBLE_EQ(arcLength(r, r, -1.0, 2.5), 3.5 * r);
    EXPECT_DOUBLE_EQ(perimeter(r, r), 2 * M_PI * r);
  }
  expectRelative(3.5, Reference{1, 1}.length(-1, 2.5), 1e-18L);
  // A zero semi-axis is a segment run back and forth: 4a a turn.
  EXPECT_DOUBLE_EQ(perimeter(2, 0), 8);
  EXPECT_DOUBLE_EQ(arcLength(0, 2, 0, M_PI / 3), 2 * std::sin(M_PI / 3));
  EXPECT_EQ(perimeter(0, 0), 0);
  // The whole ellipse, from anywhere, in any order of axes and in either direction.
  const double p = perimeter(3, 1e-4);
  for (double t0 : {-7.0, 0.0, 0.3, 100.0}) {
    EXPECT_NEAR(arcLength(3, 1e-4, t0, t0 + 2 * M_PI), p, 4e-15 * p);
    EXPECT_NEAR(arcLength(1e-4, 3, t0, t0 - 4 * M_PI), 2 * p, 8e-15 * p);
  }
  // Known value: 4 E(m = 3/4) for the ellipse of semi-axes 1 and 1/2.
  EXPECT_NEAR(perimeter(1, 0.5), 4.844224110273838099214251, 1e-15);
  // Additive across vertices, exchanging the axes turns the parameter a quarter.
  EXPECT_TRUE(Near(
      Seq{arcLength(2, 0.1, -1, 0.2) + arcLength(2, 0.1, 0.2, 4), arcLength(2, 0.1, 0.3, 1.1)},
      Seq{arcLength(2, 0.1, -1, 4), arcLength(0.1, 2, 0.3 + M_PI / 2, 1.1 + M_PI / 2)}, 1e-14));
  EXPECT_EQ(arcLength(-2, 0.1, 0.3, 1.1), arcLength(2, -0.1, 0.3, 1.1));
  EXPECT_EQ(arcLength(2, 1, 5, 5), 0);
  for (double bad : {kNaN, kInf})
    EXPECT_EQ((Seq{std::isnan(arcLength(bad, 1, 0, 1)), std::isnan(arcLength(1, 1, 0, bad)),
                   std::isnan(perimeter(1, bad))}),
              (Seq{true, true, true}));
}

TEST(CarlsonIntegrals, SpecialValuesAndDomain) {
  // Carlson (1995), section 3 test values.
  EXPECT_NEAR(carlsonRF(1, 2, 0), 1.3110287771461, 1e-13);
  EXPECT_NEAR(carlsonRF(2, 3, 4), 0.58408284167715, 1e-14);
  EXPECT_NEAR(carlsonRD(0, 2, 1), 1.7972103521034, 1e-13);
  EXPECT_NEAR(carlsonRD(2, 3, 4), 0.16510527294261, 1e-14);
  // Degree -1/2 and -3/2 homogeneity, equal arguments, R_F(0, 1, 1) = pi/2.
  EXPECT_DOUBLE_EQ(carlsonRF(4e6, 4e6, 4e6), 5e-4);
  EXPECT_DOUBLE_EQ(carlsonRD(4, 4, 4), 0.125);
  EXPECT_DOUBLE_EQ(carlsonRF(0, 1, 1), M_PI / 2);
  EXPECT_DOUBLE_EQ(carlsonRF(0, 4e-20, 8e-20), carlsonRF(0, 1, 2) * 5e9);
  EXPECT_DOUBLE_EQ(carlsonRD(0, 4e-20, 8e-20), carlsonRD(0, 1, 2) * 1.25e29);
  // Out of the domain.
  EXPECT_EQ((Seq{std::isnan(carlsonRF(-1, 1, 1)), std::isnan(carlsonRF(0, 0, 1)),
                 std::isnan(carlsonRF(kNaN, 1, 1)), std::isnan(carlsonRD(1, 1, 0)),
                 std::isnan(carlsonRD(0, 0, 1))}),
            (Seq{true, true, true, true, true}));
}

TEST(CentralToParam, QuadrantsTurnsAndTheInversePolarAngle) {
  // The ellipse of axes 6 and 4.
  EXPECT_DOUBLE_EQ(central_to_param(M_PI / 2, 6, 4), M_PI / 2);
  EXPECT_DOUBLE_EQ(central_to_param(M_PI / 4, 6, 4), std::atan(1.5));
  EXPECT_EQ((Seq{central_to_param(2 * M_PI, 6, 4), central_to_param(0, 6, 4)}), (Seq{2 * M_PI, 0}));
  // The point at the parameter sits at the central angle: atan2(b sin t, a cos t) = theta.
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> angle(0.0, 2 * M_PI);
  for (int i = 0; i < 500; ++i) {
    const double th = angle(rng), t = central_to_param(th, 6, 4);
    EXPECT_GE(t, 0);
    EXPECT_LE(t, 2 * M_PI);
    double polar = std::atan2(2 * std::sin(t), 3 * std::cos(t));
    if (polar < 0) polar += 2 * M_PI;
    EXPECT_NEAR(std::remainder(polar - th, 2 * M_PI), 0, 1e-14) << th;
    // A negative angle keeps its sign: one turn less than its positive equivalent.
    EXPECT_NEAR(central_to_param(th - 2 * M_PI, 6, 4), t - 2 * M_PI, 1e-13) << th;
    EXPECT_NEAR(central_to_param(th + 4 * M_PI, 6, 4), t, 1e-13) << th;
  }
  EXPECT_LE(central_to_param(-1e-20, 6, 4), 0);
  for (double th : {-1000.5, -1e6 - 0.5}) {  // raised turn by turn, then by one remainder
    const double t = central_to_param(th, 6, 4);
    EXPECT_NEAR(t, central_to_param(std::fmod(th, 2 * M_PI), 6, 4), 1e-11) << th;
    EXPECT_GT(t, -2 * M_PI);
  }
  EXPECT_TRUE(std::isnan(central_to_param(kNaN, 6, 4)));
  EXPECT_TRUE(std::isnan(central_to_param(-kInf, 6, 4)));
}

}  // namespace
