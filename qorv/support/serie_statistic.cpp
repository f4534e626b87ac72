#include "qorv/support/serie_statistic.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// s := s + a, s a double-double (Knuth's two-sum, then the low parts).
void addTo(double s[2], double a) {
  const double t = s[0] + a, b = t - s[0];
  const double e = (s[0] - (t - b)) + (a - b) + s[1];
  s[0] = t + e;
  s[1] = e - (s[0] - t);
}

}  // namespace

void ERSerieStatistic::append(double v, double w, double lo, double hi) {
  values_.append(v);
  const bool noBand = lo == -DBL_MAX && hi == DBL_MAX;
  if (noBand) ++accepted_;
  if (v == DBL_MAX) return;

  const double n = counted_ + 1;
  if (counted_ == 0) shift_ = v;
  const double d = v - shift_, d2 = d * d;
  addTo(sum_, d);
  addTo(sumSquares_, d2);
  addTo(sumSquares_, std::fma(d, d, -d2));
  // mean = v1 + S1 / n; mean of squares = v1^2 + (2 v1 S1 + S2) / n.
  const double m1 = sum_[0] / n + sum_[1] / n;
  mean_ = shift_ + m1;
  meanSquares_ = shift_ * shift_ + (2.0 * shift_ * sum_[0] + sumSquares_[0] + sumSquares_[1]) / n;
  if (lo < v + 0.0001 && v - 0.0001 < hi) {
    if (!noBand) ++accepted_;
    ++inBand_;
    const double m = inBand_;
    weightedMeanSquares_ = (m - 1) / m * weightedMeanSquares_ + v * v * w / m;
  }
  counted_ += 1;
  if (counted_ == 1) {
    min_ = max_ = v;
    minAboveTol_ = v - lo;
  } else {
    min_ = std::min(min_, v);
    max_ = std::max(max_, v);
    minAboveTol_ = std::min(minAboveTol_, v - lo);
    // (S2 - S1^2 / n) / (n - 1) in double-double: S1^2 / n exactly up to the low parts.
    const double p = sum_[0] * sum_[0];
    const double pe = std::fma(sum_[0], sum_[0], -p) + 2.0 * sum_[0] * sum_[1];
    const double q = p / n, qe = (std::fma(-q, n, p) + pe) / n;
    double diff[2] = {sumSquares_[0], sumSquares_[1]};
    addTo(diff, -q);
    addTo(diff, -qe);
    variance_ = (diff[0] + diff[1]) / (n - 1);
  }
}

void ERSerieStatistic::reset() {
  values_.clear();
  mean_ = variance_ = meanSquares_ = min_ = max_ = minAboveTol_ = weightedMeanSquares_ = 0.0;
  shift_ = sum_[0] = sum_[1] = sumSquares_[0] = sumSquares_[1] = 0.0;
  counted_ = inBand_ = accepted_ = 0;
}

double ERSerieStatistic::standard_deviation() const { return std::sqrt(std::fabs(variance_)); }

double ERSerieStatistic::square_deviation() const { return std::sqrt(std::fabs(meanSquares_)); }

bool operator<(const ERSerieStatistic& a, const ERSerieStatistic& b) {
  if (a.type() == gmStatMinimum) return a.min_value() > b.min_value();
  if (a.type() == gmStatMinAboveTol) return a.min_above_tol() > b.min_above_tol();
  const long long acceptedGap =
      std::llabs(static_cast<long long>(a.num_accepted()) - b.num_accepted());
  const long long countedGap =
      std::llabs(static_cast<long long>(a.num_projected()) - b.num_projected());
  if (acceptedGap > countedGap) return a.num_accepted() > b.num_accepted();
  if (a.num_projected() != 0 && b.num_projected() != 0)
    return a.num_projected() * b.weighted_mean_of_squares() >
           b.num_projected() * a.weighted_mean_of_squares();
  return a.num_projected() > b.num_projected();
}
