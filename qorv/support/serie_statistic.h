// qorv/support/serie_statistic.h
//
// ERSerieStatistic: the running statistics of a series of deviations (mean, variance, mean of
// squares, extremes, the in-band and accepted counts) and the ranking of two series.
//
// Conventions a caller gets wrong:
// - A value of +DBL_MAX marks a point that could not be measured: it is kept in the series
//   (length(), []) but counts in no statistic (num_projected()).
// - A tolerance band [lo, hi] is "no band" only when lo is -DBL_MAX and hi is +DBL_MAX; a value
//   is in its band with a margin of 0.0001 on both sides. The accepted count takes every value
//   without a band (measured or not) and the measured values inside the band they were given.
// - The mean, the variance and the mean of squares come from the sums of d = v - v1 and d^2
//   (v1 the first counted value), kept in double-double with the squares exact (fma): each is
//   correct to a few units in the last place whatever the count and however far the values sit
//   from zero (a running mean of squares loses the spread's digits to the offset's, more with
//   every value). The variance is 0 until two values count; standard_deviation() is the square
//   root of its absolute value, square_deviation() the square root of the mean of squares (the
//   quadratic deviation). The weighted mean of squares is a running update.
// - min_above_tol() is the least value - lo over the counted values.
// - a < b ranks the series with a's type: type 1 (gmStatMinimum) puts first the series with
//   the greater minimum, type 2 (gmStatMinAboveTol) the greater minimum above tolerance;
//   otherwise, when the accepted counts differ by more than the counted-value counts do, the
//   series with more accepted values; else, when both counts are non-zero, the one with the
//   smaller weighted mean of squares (compared as count(a) wmsq(b) > count(b) wmsq(a)); else
//   the one with more counted values.
#pragma once

#include <cfloat>
#include <cstdint>

#include "qorv/platform/api.h"
#include "qorv/support/quick_algebra.h"

enum gmStatType : std::int32_t {
  gmStatDefault = 0,
  gmStatMinimum = 1,
  gmStatMinAboveTol = 2,
};

class QORV_API ERSerieStatistic {
 public:
  ERSerieStatistic() = default;

  // v a deviation, w its weight, [lo, hi] its tolerance band.
  void append(double v, double w = 1.0, double lo = -DBL_MAX, double hi = DBL_MAX);
  // Empties the series (keeping its storage) and zeroes every statistic and count.
  void reset();
  // Room for n values.
  void capacity(int n) { values_.reserve(n); }
  int length() const { return values_.length(); }
  double operator[](int i) const { return values_[i]; }

  double mean() const { return mean_; }
  double variance() const { return variance_; }
  double standard_deviation() const;
  double square_deviation() const;
  double mean_of_squares() const { return meanSquares_; }
  double weighted_mean_of_squares() const { return weightedMeanSquares_; }
  double min_value() const { return min_; }
  double max_value() const { return max_; }
  double min_above_tol() const { return minAboveTol_; }
  int num_projected() const { return counted_; }
  int num_in_band() const { return inBand_; }
  int num_accepted() const { return accepted_; }
  void set_type(gmStatType t) { type_ = t; }
  gmStatType type() const { return type_; }

  const QuickAlgebra::ERVec<double>& values() const { return values_; }

 private:
  QuickAlgebra::ERVec<double> values_;
  double mean_ = 0.0;
  double variance_ = 0.0;
  double meanSquares_ = 0.0;
  double min_ = 0.0;
  double max_ = 0.0;
  double minAboveTol_ = 0.0;
  std::int32_t counted_ = 0;
  gmStatType type_ = gmStatDefault;
  double weightedMeanSquares_ = 0.0;
  std::int32_t inBand_ = 0;
  std::int32_t accepted_ = 0;
  // The first counted value and the double-double sums of d and d^2 (high, low).
  double shift_ = 0.0;
  double sum_[2] = {0.0, 0.0};
  double sumSquares_[2] = {0.0, 0.0};
};

QORV_API bool operator<(const ERSerieStatistic& a, const ERSerieStatistic& b);
