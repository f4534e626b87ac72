#include "qorv/foundation/angles.h"

#include <ostream>
#include <utility>

#include "qorv/foundation/numerics.h"
#include "qorv/foundation/points.h"
#include "qorv/persistence/file.h"
#include "qorv/platform/archive.h"

using namespace qorv::platform;

namespace {
using qorv::detail::kDegreesPerRadian;

using qorv::detail::kTwoPi;
}  // namespace

void ERRadian::printOn(std::ostream& os) const { os << a_; }

ERRadian EREntAngle::startAngle(ERRadian a) { return std::exchange(start_, a); }
ERRadian EREntAngle::endAngle(ERRadian a) { return std::exchange(end_, a); }

int EREntAngle::isClosed(double) const {
  return start_ == end_ + kTwoPi || start_ == end_ - kTwoPi;
}

void EREntAngle::reverse() { std::swap(start_, end_); }

void EREntAngle::printOn(std::ostream& os) const {
  os << "Angle de Debut:" << qorv::detail::printable(start_) << " ("
     << qorv::detail::printable(start_ * kDegreesPerRadian) << ")" << '\n';
  os << "Angle de Fin  :" << qorv::detail::printable(end_) << " ("
     << qorv::detail::printable(end_ * kDegreesPerRadian) << ")" << '\n';
}

void EREntAngle::saveGuts(ERFile& f) const {
  const double v[2] = {start_, end_};
  qorv::detail::saveDoubles(f, v, 2);
}

void EREntAngle::restoreGuts(ERFile& f) {
  double v[2] = {start_, end_};
  if (qorv::detail::restoreDoubles(f, v, 2)) start_ = v[0], end_ = v[1];
}

double ERLimites::operator()(double t) const {
  double v = (1.0 - t) * start_ + t * end_;
  if (t >= 0.0 && t <= 1.0) {
    if (v < start_) v = start_;
    if (v > end_) v = end_;
  }
  return v;
}

ERLimites& ERLimites::centre() {
  const double half = 0.5 * (end_ - start_);
  start_ = -half;
  end_ = half;
  return *this;
}

void ERLimites::saveGuts(ERFile& f) const {
  const double v[2] = {start_, end_};
  qorv::detail::saveDoubles(f, v, 2);
}

void ERLimites::restoreGuts(ERFile& f) {
  double v[2] = {start_, end_};
  if (qorv::detail::restoreDoubles(f, v, 2)) start_ = v[0], end_ = v[1];
}

void ERLimites::printOn(std::ostream& os) const {
  const double v[2] = {start_, end_};
  qorv::detail::printDoubles(os, v, 2);
}

std::ostream& operator<<(std::ostream& os, const ERRadian& a) { return a.printOn(os), os; }
std::ostream& operator<<(std::ostream& os, const EREntAngle& a) { return a.printOn(os), os; }
std::ostream& operator<<(std::ostream& os, const ERLimites& l) { return l.printOn(os), os; }
ERFile& operator<<(ERFile& f, const ERLimites& l) { return l.saveGuts(f), f; }
ERFile& operator>>(ERFile& f, ERLimites& l) { return l.restoreGuts(f), f; }

CArchive& operator<<(CArchive& ar, const ERLimites& l) { return ar << l.start() << l.end(); }

CArchive& operator>>(CArchive& ar, ERLimites& l) {
  double v[2];
  ar >> v[0] >> v[1];
  l.set(v[0], v[1]);
  return ar;
}
