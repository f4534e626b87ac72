// Deviation statistics against a straightforward recomputation on seeded random series, the
// unmeasured-point and band rules, reset, and the ranking operator.
#include "qorv/support/serie_statistic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "tests/in_order.h"

namespace {

__extension__ typedef __int128 Int128;  // exact sums of squares

struct Sample {
  double v, w, lo, hi;
};

// Two-pass statistics over the measured values, as a reviewer would write them.
struct Reference {
  explicit Reference(const std::vector<Sample>& s) {
    std::vector<double> counted;
    double wsq = 0.0;
    for (const Sample& x : s) {
      const bool noBand = x.lo == -DBL_MAX && x.hi == DBL_MAX;
      if (noBand) ++accepted;
      if (x.v == DBL_MAX) continue;
      counted.push_back(x.v);
      if (x.lo < x.v + 0.0001 && x.v - 0.0001 < x.hi) {
        if (!noBand) ++accepted;
        ++inBand;
        wsq += x.v * x.v * x.w;
      }
      minAbove = counted.size() == 1 ? x.v - x.lo : std::min(minAbove, x.v - x.lo);
    }
    n = static_cast<int>(counted.size());
    if (n == 0) return;
    for (double v : counted) mean += v / n, meanSq += v * v / n;
    if (n > 1)
      for (double v : counted) variance += (v - mean) * (v - mean) / (n - 1);
    min = *std::min_element(counted.begin(), counted.end());
    max = *std::max_element(counted.begin(), counted.end());
    wmsq = inBand != 0 ? wsq / inBand : 0.0;
  }
  int n = 0, inBand = 0, accepted = 0;
  double mean = 0, meanSq = 0, variance = 0, min = 0, max = 0, minAbove = 0, wmsq = 0;
};

}  // namespace

// Series of up to 10^5 values sitting far from zero (offsets up to 10^6 times their spread):
// the mean and the standard deviation against exact integer sums of the values, all multiples
// of 2^-40, to 1e-14 relative.
TEST(SerieStatistic, MeanAndDeviationExactToRoundingAtAnyCountAndOffset) {
  const unsigned seed = 8087u;
  std::mt19937_64 g(seed);
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  const double unit = std::ldexp(1.0, -40);
  for (int n : {2, 3, 17, 1000, 10000, 60000, 100000}) {
    for (int e = 0; e <= 6; e += 2) {
      // Values O + k in units: k within +-2^30 (a spread of about 2^-10 before the unit).
      const long long O =
          static_cast<long long>(std::ldexp(1.0, 30) * std::pow(10.0, e)) * (g() % 2 ? 1 : -1);
      ERSerieStatistic stat;
      // The sums of k and k^2: the spread does not depend on O.
      Int128 s1 = 0, s2 = 0;
      for (int i = 0; i < n; ++i) {
        const long long k = static_cast<long long>(g() % (1u << 31)) - (1ll << 30);
        s1 += k, s2 += static_cast<Int128>(k) * k;
        stat.append(static_cast<double>(O + k) * unit);
      }
      SCOPED_TRACE(testing::Message() << "n " << n << " offset 1e" << e);
      const long double mean = (O + static_cast<long double>(s1) / n) * unit;
      EXPECT_NEAR(stat.mean(), static_cast<double>(mean),
                  1e-15 * std::fabs(static_cast<double>(mean)));
      // n (n - 1) variance = n S2 - S1^2, exactly.
      const Int128 num = static_cast<Int128>(n) * s2 - s1 * s1;
      const long double sd =
          std::sqrt(static_cast<long double>(num) / (static_cast<long double>(n) * (n - 1))) * unit;
      EXPECT_NEAR(stat.standard_deviation(), static_cast<double>(sd),
                  1e-14 * static_cast<double>(sd));
    }
  }
}

TEST(SerieStatistic, AgreesWithARecomputationOnRandomSeries) {
  constexpr unsigned kSeed = 8086u;
  std::mt19937 g(kSeed);
  SCOPED_TRACE(testing::Message() << "seed " << kSeed);
  std::uniform_real_distribution<double> dev(-0.5, 0.5), weight(0.5, 2.0);
  for (int trial = 0; trial < 50; ++trial) {
    std::vector<Sample> s;
    ERSerieStatistic stat;
    const int n = 1 + static_cast<int>(g() % 60);
    for (int i = 0; i < n; ++i) {
      Sample x{dev(g), weight(g), -DBL_MAX, DBL_MAX};
      if (g() % 7 == 0) x.v = DBL_MAX;  // not measured
      if (g() % 2 == 0) x.lo = -0.2, x.hi = 0.3;
      s.push_back(x);
      stat.append(x.v, x.w, x.lo, x.hi);
    }
    const Reference r(s);
    ASSERT_EQ(stat.length(), n);
    EXPECT_EQ(stat[n - 1], s.back().v);
    EXPECT_EQ((Seq{stat.num_projected(), stat.num_in_band(), stat.num_accepted()}),
              (Seq{r.n, r.inBand, r.accepted}));
    EXPECT_TRUE(Near(Seq{stat.mean(), stat.mean_of_squares()}, Seq{r.mean, r.meanSq}, 1e-12));
    EXPECT_NEAR(stat.variance(), r.variance, 1e-9);
    EXPECT_NEAR(stat.standard_deviation(), std::sqrt(r.variance), 1e-6);
    EXPECT_NEAR(stat.square_deviation(), std::sqrt(r.meanSq), 1e-12);
    EXPECT_NEAR(stat.weighted_mean_of_squares(), r.wmsq, 1e-12);
    if (r.n > 0) {
      EXPECT_EQ((Seq{stat.min_value(), stat.max_value(), stat.min_above_tol()}),
                (Seq{r.min, r.max, r.minAbove}));
    }
  }
}

TEST(SerieStatistic, UnmeasuredPointsBandsAndReset) {
  ERSerieStatistic s;
  s.append(DBL_MAX);  // not measured, no band: accepted, not counted
  EXPECT_EQ((Seq{s.num_accepted(), s.num_projected()}), (Seq{1, 0}));
  s.append(DBL_MAX, 1.0, -1.0, 1.0);  // not measured, with a band: nothing
  EXPECT_EQ(s.num_accepted(), 1);
  s.append(1.00005, 2.0, -1.0, 1.0);  // inside the band by the 0.0001 margin
  EXPECT_EQ((Seq{s.num_accepted(), s.num_in_band()}), (Seq{2, 1}));
  EXPECT_DOUBLE_EQ(s.weighted_mean_of_squares(), 1.00005 * 1.00005 * 2.0);
  EXPECT_EQ(s.variance(), 0.0);  // one counted value
  EXPECT_EQ(s.min_above_tol(), 1.00005 + 1.0);
  s.append(2.0, 1.0, -1.0, 1.0);  // outside
  EXPECT_EQ((Seq{s.num_accepted(), s.num_in_band(), s.num_projected(), s.max_value()}),
            (Seq{2, 1, 2, 2.0}));
  s.set_type(gmStatMinimum);
  s.capacity(100);
  const int capacity = s.values().capacity();
  s.reset();
  EXPECT_EQ(s.length(), 0);
  EXPECT_EQ(s.values().capacity(), capacity);  // storage kept
  EXPECT_EQ((Seq{s.num_projected(), s.num_accepted(), s.mean(), s.type()}),
            (Seq{0, 0, 0.0, gmStatMinimum}));
}

TEST(SerieStatistic, Ranking) {
  auto series = [](std::initializer_list<double> values, double lo = -DBL_MAX,
                   double hi = DBL_MAX) {
    ERSerieStatistic s;
    for (double v : values) s.append(v, 1.0, lo, hi);
    return s;
  };
  ERSerieStatistic a = series({0.1, 0.2}), b = series({0.05, 0.3});
  a.set_type(gmStatMinimum);
  EXPECT_TRUE(a < b);  // the greater minimum ranks first
  EXPECT_FALSE(b < a);
  ERSerieStatistic c = series({0.1, 0.2}, -0.5, 0.5), d = series({0.1, 0.2}, -0.05, 0.5);
  c.set_type(gmStatMinAboveTol);
  EXPECT_TRUE(c < d);  // 0.6 above its lower tolerance against 0.15
  // Default type: more accepted values rank first when that gap beats the counted gap.
  ERSerieStatistic e = series({0.1, 0.1, 0.1}, -0.2, 0.2), f = series({0.1, 0.9, 0.9}, -0.2, 0.2);
  EXPECT_EQ((Seq{e < f, f < e}), (Seq{true, false}));
  // Same counts: the smaller weighted mean of squares ranks first.
  ERSerieStatistic g = series({0.1, 0.1}), h = series({0.2, 0.2});
  EXPECT_EQ((Seq{g < h, h < g}), (Seq{true, false}));
  // Nothing counted on one side (accepted 1 each): the one with more counted values.
  ERSerieStatistic none = series({DBL_MAX}), one = series({0.5});
  EXPECT_EQ((Seq{one < none, none < one}), (Seq{true, false}));
}
