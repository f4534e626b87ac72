// qorv/foundation/angles.h
//
// Angles and parameter intervals: ERRadian (one angle), EREntAngle (the start and end angles
// of a curve bounded by angles, a polymorphic base of the angle-bounded curves) and ERLimites
// (a parameter interval [start, end]).
//
// Conventions a caller gets wrong:
// - Nothing is normalised: an ERRadian or an EREntAngle keeps 7.0 as 7.0, and an interval
//   may run backwards (start > end).
// - EREntAngle::isClosed ignores its tolerance: it is true only when start is exactly
//   end + 2pi or end - 2pi.
// - ERLimites(t) clamps into [start, end] only for t in [0, 1]; outside it extrapolates, so
//   ERLimites(2, 4)(1.5) is 5. The clamp raises to start first, then lowers to end.
// - ratio() divides by end - start: an empty interval gives infinities or NaN.
//
// Stored images: EREntAngle writes start then end, 16 bytes; ERLimites the same.
#pragma once

#include <cmath>
#include <cstdint>
#include <iosfwd>

#include "qorv/platform/api.h"
#include "qorv/foundation/tolerance.h"

class ERFile;
namespace qorv::platform {
class CArchive;
}

class QORV_API ERRadian {
 public:
  constexpr ERRadian(double a = 0.0) : a_(a) {}
  constexpr operator double() const { return a_; }
  double cosinus() const { return std::cos(a_); }
  double sinus() const { return std::sin(a_); }
  void printOn(std::ostream& os) const;

 private:
  double a_;
};

class QORV_API EREntAngle {
 public:
  EREntAngle() : start_(0.0), end_(0.0) {}
  EREntAngle(ERRadian start, ERRadian end) : start_(start), end_(end) {}
  EREntAngle(const EREntAngle&) = default;
  EREntAngle& operator=(const EREntAngle&) = default;
  virtual ~EREntAngle() = default;

  ERRadian startAngle() const { return start_; }
  ERRadian endAngle() const { return end_; }
  // Set and return the previous value.
  ERRadian startAngle(ERRadian a);
  ERRadian endAngle(ERRadian a);
  void setLimites(ERRadian start, ERRadian end) { start_ = start, end_ = end; }

  int isDirect() const { return end_ > start_; }
  // Exact: start == end + 2pi or start == end - 2pi; tol takes no part.
  int isClosed(double tol = equalityTolerance) const;
  void reverse();

  // "Angle de Debut:" start " (" degrees ")" line end, "Angle de Fin  :" end " (" degrees ")"
  // line end.
  virtual void printOn(std::ostream& os) const;
  virtual void saveGuts(ERFile& f) const;
  virtual void restoreGuts(ERFile& f);
  virtual std::uint32_t binaryStoreSize() const { return 16; }

 private:
  double start_;
  double end_;
};

class QORV_API ERLimites {
 public:
  constexpr ERLimites() : start_(0.0), end_(0.0) {}
  constexpr ERLimites(double start, double end) : start_(start), end_(end) {}

  double start() const { return start_; }
  double end() const { return end_; }
  void set(double start, double end) { start_ = start, end_ = end; }
  double amplitude() const { return end_ - start_; }

  // (1 - t) start + t end; for t in [0, 1] raised to start, then lowered to end.
  double operator()(double t) const;
  ERLimites operator()(const ERLimites& t) const {
    return ERLimites((*this)(t.start_), (*this)(t.end_));
  }
  // (x - start) / (end - start).
  double ratio(double x) const { return (x - start_) / (end_ - start_); }
  ERLimites ratio(const ERLimites& x) const { return ERLimites(ratio(x.start_), ratio(x.end_)); }

  int inBound(double x) const { return start_ <= x && x <= end_; }
  int strictlyInBound(double x) const { return start_ < x && x < end_; }
  int isEmpty(double tol = equalityTolerance) const { return std::fabs(start_ - end_) <= tol; }
  // Symmetric about 0 with the same length.
  ERLimites& centre();

  ERLimites& operator+=(double d) { return start_ += d, end_ += d, *this; }
  ERLimites& operator-=(double d) { return start_ -= d, end_ -= d, *this; }
  ERLimites& operator*=(double k) { return start_ *= k, end_ *= k, *this; }
  bool operator==(const ERLimites& o) const { return start_ == o.start_ && end_ == o.end_; }
  bool operator!=(const ERLimites& o) const { return !(*this == o); }

  void saveGuts(ERFile& f) const;
  void restoreGuts(ERFile& f);
  std::uint32_t binaryStoreSize() const { return 16; }
  // "[" start "," end "]", as the points print.
  void printOn(std::ostream& os) const;

 private:
  double start_;
  double end_;
};

QORV_API std::ostream& operator<<(std::ostream& os, const ERRadian& a);
QORV_API std::ostream& operator<<(std::ostream& os, const EREntAngle& a);
QORV_API std::ostream& operator<<(std::ostream& os, const ERLimites& l);
QORV_API ERFile& operator<<(ERFile& f, const ERLimites& l);
QORV_API ERFile& operator>>(ERFile& f, ERLimites& l);
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar, const ERLimites& l);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar, ERLimites& l);
