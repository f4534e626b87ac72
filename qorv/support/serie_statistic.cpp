#include "qorv/support/serie_statistic.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

void ERSerieStatistic::append(double v, double w, double lo, double hi) {
  values_.append(v);
  const bool noBand = lo == -DBL_MAX && hi == DBL_MAX;
  if (noBand) ++accepted_;
  if (v == DBL_MAX) return;

  const double n = counted_ + 1;
  mean_ = (n - 1) / n * mean_ + v / n;
  meanSquares_ = (n - 1) / n * meanSquares_ + v * v / n;
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
    variance_ = (meanSquares_ * n - mean_ * mean_ * n) / (n - 1);
  }
}

void ERSerieStatistic::reset() {
  values_.clear();
  mean_ = variance_ = meanSquares_ = min_ = max_ = minAboveTol_ = weightedMeanSquares_ = 0.0;
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
