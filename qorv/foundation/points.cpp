#include "qorv/foundation/points.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <ostream>
#include <vector>

#include "qorv/foundation/numerics.h"
#include "qorv/persistence/file.h"
#include "qorv/platform/archive.h"

using namespace qorv::platform;

using namespace qorv;

namespace qorv::detail {

void saveDoubles(ERFile& f, const double* v, unsigned n) { f.Write(v, n); }

int restoreDoubles(ERFile& f, double* v, unsigned n) {
  double stack[16];
  std::vector<double> heap;
  double* tmp = stack;
  if (n > 16) tmp = (heap.resize(n), heap.data());
  if (!f.Read(tmp, n)) return 0;
  std::copy(tmp, tmp + n, v);
  return 1;
}

void storeDoubles(CArchive& ar, const double* v, int n) {
  for (int i = 0; i < n; ++i) ar << v[i];
}

void loadDoubles(CArchive& ar, double* v, int n) {
  for (int i = 0; i < n; ++i) ar >> v[i];
}

// When the largest |v_i| lies in [2^-200, 2^200] and no other is below 2^-400 (zero aside), the
// largest square is normal, no sum overflows, a square that underflows lies far below the sum's
// last bit and no quotient is subnormal: scaling by a power of two, exact, changes no bit of
// the sum, its root or the quotients, so the plain formulas give the scaled ones' results.
bool plainIsExact(const double* v, int n) {
  double m = 0.0, low = HUGE_VAL;
  for (int i = 0; i < n; ++i) {
    const double a = std::fabs(v[i]);
    m = std::fmax(m, a);
    if (a != 0.0) low = std::fmin(low, a);
  }
  return m >= 0x1p-200 && m <= 0x1p200 && low >= 0x1p-400;
}

// max |v_i| as 2^e times [1, 2): scaling by 2^-e is exact and puts every square in range.
double scaledLength(const double* v, int n) {
  double m = 0.0;
  bool nan = false;
  for (int i = 0; i < n; ++i) {
    const double a = std::fabs(v[i]);
    if (std::isinf(a)) return a;
    nan = nan || a != a;
    m = std::fmax(m, a);
  }
  if (nan) return std::numeric_limits<double>::quiet_NaN();
  if (m == 0.0) return 0.0;
  if (plainIsExact(v, n)) {
    double s = 0.0;
    for (int i = 0; i < n; ++i) s += v[i] * v[i];
    return std::sqrt(s);
  }
  const int e = std::ilogb(m);
  double s = 0.0;
  for (int i = 0; i < n; ++i) {
    const double a = std::scalbn(v[i], -e);
    s += a * a;
  }
  return std::scalbn(std::sqrt(s), e);
}

void normalizeCoords(double* v, int n) {
  double m = 0.0;
  for (int i = 0; i < n; ++i) m = std::fmax(m, std::fabs(v[i]));
  if (m == 0.0 || !std::isfinite(m)) {
    if (m != 0.0) {  // an infinity or NaN: divide as the plain rule would
      const double len = scaledLength(v, n);
      for (int i = 0; i < n; ++i) v[i] /= len;
    }
    return;
  }
  if (plainIsExact(v, n)) {
    double s = 0.0;
    for (int i = 0; i < n; ++i) s += v[i] * v[i];
    const double len = std::sqrt(s);
    for (int i = 0; i < n; ++i) v[i] /= len;
    return;
  }
  // Scaled so that the largest component lies in [1, 2): no quotient is subnormal for want of
  // bits, no square overflows.
  const int e = std::ilogb(m);
  double s = 0.0;
  for (int i = 0; i < n; ++i) {
    v[i] = std::scalbn(v[i], -e);
    s += v[i] * v[i];
  }
  const double len = std::sqrt(s);
  for (int i = 0; i < n; ++i) v[i] /= len;
}

void printDoubles(std::ostream& os, const double* v, int n) {
  const std::streamsize w = os.width();
  os.width(1);
  os << '[';
  for (int i = 0; i < n; ++i) {
    if (i > 0) {
      os.width(1);
      os << ',';
    }
    os.width(w);
    os << printable(v[i]);
  }
  os.width(1);
  os << ']';
}

}  // namespace qorv::detail

namespace {

using qorv::detail::kPi;

using qorv::detail::loadDoubles;
using qorv::detail::printDoubles;
using qorv::detail::restoreDoubles;
using qorv::detail::saveDoubles;
using qorv::detail::storeDoubles;

// NaN passes through, unlike std::clamp's documented precondition.
double clampCosine(double c) { return c < -1.0 ? -1.0 : (c > 1.0 ? 1.0 : c); }

template <class V>
V& normalizeInPlace(V& v) {
  qorv::detail::normalizeCoords(v.data(), V::kSize);
  return v;
}

template <class V>
double acuteOf(const V& u, const V& v) {
  const double a = anglePI(u, v);
  return a > kPi / 2 ? kPi - a : a;
}

// The angle from atan2 in the plane too: acos of a cosine that rounds to 1 - 2^-53 is already
// 1.5e-8, far above the tolerances callers pass for parallelism.
double accurateAngle(const ERVector2D& u, const ERVector2D& v) {
  const ERVector2D a = u.getnormalized(), b = v.getnormalized();
  return std::atan2(std::fabs(a ^ b), a * b);
}
double accurateAngle(const ERVector3D& u, const ERVector3D& v) { return qorv::anglePI(u, v); }

template <class V>
int parallelOf(const V& u, const V& v, double tol) {
  const double a = accurateAngle(u, v);
  return a <= tol || kPi - a <= tol;
}

// The ratio along the component of largest magnitude of b - a; the same choice, ties included,
// as axeOptimum.
template <class T>
double ratioAlong(const T& a, const T& b, const T& c) {
  double d[T::kSize];
  for (int i = 0; i < T::kSize; ++i) d[i] = std::fabs(b.data()[i] - a.data()[i]);
  int k;
  if constexpr (T::kSize == 2)
    k = d[0] > d[1] ? 0 : 1;
  else
    k = (d[0] > d[1] && d[0] > d[2]) ? 0 : (d[1] > d[2] ? 1 : 2);
  return (c.data()[k] - a.data()[k]) / (b.data()[k] - a.data()[k]);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Dimension changes.

ERPoint3D ERPoint2D::castToPoint3D(Coord3D axis, double h) const {
  switch (axis) {
    case Coord3D::X:
      return ERPoint3D(h, v_[0], v_[1]);
    case Coord3D::Y:
      return ERPoint3D(v_[0], h, v_[1]);
    case Coord3D::Z:
      return ERPoint3D(v_[0], v_[1], h);
  }
  return ERPoint3D();
}

ERPoint2D ERPoint3D::castToPoint2D(Coord3D axis) const {
  switch (axis) {
    case Coord3D::X:
      return ERPoint2D(v_[1], v_[2]);
    case Coord3D::Y:
      return ERPoint2D(v_[0], v_[2]);
    case Coord3D::Z:
      return ERPoint2D(v_[0], v_[1]);
  }
  return ERPoint2D();
}

ERVector3D ERVector2D::castToVector3D(Coord3D axis, double h) const {
  const ERPoint3D p = ERPoint2D(v_[0], v_[1]).castToPoint3D(axis, h);
  return ERVector3D(p.x(), p.y(), p.z());
}

ERVector2D ERVector3D::castToVector2D(Coord3D axis) const {
  const ERPoint2D p = ERPoint3D(v_[0], v_[1], v_[2]).castToPoint2D(axis);
  return ERVector2D(p.x(), p.y());
}

ERPole3DH ERPole2DH::castToPole3D(Coord3D axis, double h) const {
  switch (axis) {
    case Coord3D::X:
      return ERPole3DH(h, v_[0], v_[1], v_[2]);
    case Coord3D::Y:
      return ERPole3DH(v_[0], h, v_[1], v_[2]);
    case Coord3D::Z:
      return ERPole3DH(v_[0], v_[1], h, v_[2]);
  }
  return ERPole3DH(0.0, 0.0, 0.0, 0.0);
}

ERPole2DH ERPole3DH::castToPole2D(Coord3D axis) const {
  switch (axis) {
    case Coord3D::X:
      return ERPole2DH(v_[1], v_[2], v_[3]);
    case Coord3D::Y:
      return ERPole2DH(v_[0], v_[2], v_[3]);
    case Coord3D::Z:
      return ERPole2DH(v_[0], v_[1], v_[3]);
  }
  return ERPole2DH(0.0, 0.0, 0.0);
}

// ---------------------------------------------------------------------------------------------
// Vectors.

ERVector2D::ERVector2D(Coord2D axis)
    : v_{axis == Coord2D::X ? 1.0 : 0.0, axis == Coord2D::Y ? 1.0 : 0.0} {}

ERVector3D::ERVector3D(Coord3D axis)
    : v_{axis == Coord3D::X ? 1.0 : 0.0, axis == Coord3D::Y ? 1.0 : 0.0,
         axis == Coord3D::Z ? 1.0 : 0.0} {}

ERVector2D& ERVector2D::normalize() { return normalizeInPlace(*this); }
ERVector3D& ERVector3D::normalize() { return normalizeInPlace(*this); }

Coord2D ERVector2D::axeOptimum() const {
  return std::fabs(v_[0]) > std::fabs(v_[1]) ? Coord2D::X : Coord2D::Y;
}

Coord3D ERVector3D::axeOptimum() const {
  const double ax = std::fabs(v_[0]), ay = std::fabs(v_[1]), az = std::fabs(v_[2]);
  if (ax > ay && ax > az) return Coord3D::X;
  if (ay > az) return Coord3D::Y;
  return Coord3D::Z;
}

ERVector3D ERVector3D::find_perpendicular() const {
  const ERVector3D a(std::fabs(v_[1]) > std::fabs(v_[0]) ? Coord3D::X : Coord3D::Y);
  ERVector3D r = a ^ *this;
  return r.normalize();
}

// ---------------------------------------------------------------------------------------------
// Angles.

double qorv::anglePI(const ERVector2D& u, const ERVector2D& v) {
  return std::acos(clampCosine(u.getnormalized() * v.getnormalized()));
}

double qorv::anglePI(const ERVector3D& u, const ERVector3D& v) {
  const ERVector3D a = u.getnormalized(), b = v.getnormalized();
  return std::atan2((a ^ b).norme(), a * b);
}

double qorv::acute_angle(const ERVector2D& u, const ERVector2D& v) { return acuteOf(u, v); }
double qorv::acute_angle(const ERVector3D& u, const ERVector3D& v) { return acuteOf(u, v); }

double qorv::angle2PI(const ERVector3D& u, const ERVector3D& v, const ERVector3D& n) {
  const double a = anglePI(u, v);
  return ((u.getnormalized() ^ v.getnormalized()) * n < 0.0) ? 2.0 * kPi - a : a;
}

double qorv::angle2PI(const ERVector2D& u, const ERVector2D& v) {
  const double a = anglePI(u, v);
  return (u.getnormalized() ^ v.getnormalized()) < 0.0 ? 2.0 * kPi - a : a;
}

int qorv::isParallel(const ERVector2D& u, const ERVector2D& v, double tol) {
  return parallelOf(u, v, tol);
}
int qorv::isParallel(const ERVector3D& u, const ERVector3D& v, double tol) {
  return parallelOf(u, v, tol);
}

double qorv::div_vect(const ERPoint2D& a, const ERPoint2D& b, const ERPoint2D& c) {
  return ratioAlong(a, b, c);
}
double qorv::div_vect(const ERPoint3D& a, const ERPoint3D& b, const ERPoint3D& c) {
  return ratioAlong(a, b, c);
}
double qorv::div_vect(const ERVector2D& a, const ERVector2D& b, const ERVector2D& c) {
  return ratioAlong(a, b, c);
}
double qorv::div_vect(const ERVector3D& a, const ERVector3D& b, const ERVector3D& c) {
  return ratioAlong(a, b, c);
}

// ---------------------------------------------------------------------------------------------
// Persistence and text, one body per value through its coordinates.

#define QORV_VALUE_IO(T)                                                                       \
  void T::saveGuts(ERFile& f) const { saveDoubles(f, v_, kSize); }                             \
  void T::restoreGuts(ERFile& f) { restoreDoubles(f, v_, kSize); }                             \
  void T::printOn(std::ostream& os) const { printDoubles(os, v_, kSize); }                     \
  ERFile& operator<<(ERFile& f, const T& v) { return v.saveGuts(f), f; }                       \
  ERFile& operator>>(ERFile& f, T& v) { return v.restoreGuts(f), f; }                          \
  CArchive& operator<<(CArchive& ar, const T& v) {                                             \
    return storeDoubles(ar, v.data(), T::kSize), ar;                                           \
  }                                                                                            \
  CArchive& operator>>(CArchive& ar, T& v) { return loadDoubles(ar, v.data(), T::kSize), ar; } \
  std::ostream& operator<<(std::ostream& os, const T& v) { return v.printOn(os), os; }

QORV_VALUE_IO(ERPoint2D)
QORV_VALUE_IO(ERPoint3D)
QORV_VALUE_IO(ERVector2D)
QORV_VALUE_IO(ERVector3D)
QORV_VALUE_IO(ERPole2DH)
QORV_VALUE_IO(ERPole3DH)

#undef QORV_VALUE_IO

void Coordinate::printOn(std::ostream& os) const {
  const double v[3] = {x, y, z};
  printDoubles(os, v, 3);
}

std::ostream& operator<<(std::ostream& os, const Coordinate& v) { return v.printOn(os), os; }
