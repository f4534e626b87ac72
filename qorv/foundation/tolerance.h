// qorv/foundation/tolerance.h
//
// The library's default geometric tolerance and the floating-point classification helpers.
//
// Conventions: equality operators of values are exact; a tolerant comparison takes its
// tolerance explicitly, and equalityTolerance (1e-11) is the default that the library's own
// algorithms use wherever they compare lengths against "zero". gmMathUtils::is_inf is true for
// anything outside [-DBL_MAX, +DBL_MAX], so it is false for NaN; is_valid is false for both.
#pragma once

#include <cfloat>

#include "qorv/platform/api.h"

// 1e-11: the default tolerance of the library's geometric comparisons.
extern QORV_API const double equalityTolerance;

struct gmMathUtils {
  static bool is_nan(double v) { return v != v; }
  static bool is_inf(double v) { return v < -DBL_MAX || v > DBL_MAX; }
  static bool is_valid(double v) { return v >= -DBL_MAX && v <= DBL_MAX; }
};
