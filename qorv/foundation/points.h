// qorv/foundation/points.h
//
// Points, vectors and homogeneous poles in the plane and in space, the axis enums that index
// them, and the free functions of elementary vector geometry (distances, angles, products).
//
// Conventions a caller gets wrong:
// - The axis enums are scoped: Coord3D::X, Coord2DH::W. Casting an out-of-range value to an axis
//   enum is allowed only for the dimension changes (castToPoint3D, castToPoint2D, ...), which
//   then answer zeros; indexing with it is a bug.
// - A pole stores weighted coordinates then the weight: ERPole2DH(p, w) keeps p's coordinates
//   as they are (it does not multiply them by w). pole[Coord2D::X] is the Cartesian value
//   wx / w; pole[Coord2DH::X] is the stored wx.
// - p - q of two points is a vector (from q to p); p + q is a point (for barycentres).
// - == and != are exact. isEqual(a, b, tol) is the tolerant test, inclusive of tol.
// - Lengths, distances and normalize() scale like std::hypot: any finite vector from 1e-300 to
//   1e300 has its true length and unit direction; norme2() and distance2() are the plain sums
//   of squares and do overflow and underflow.
// - normalize() of a zero vector leaves it zero; nothing here divides silently by zero except
//   the Cartesian view of a pole of weight 0 (infinities or NaN, as floating point gives).
// - mainDirection() needs "qorv/support/main_direction.h" (or "qorv/foundation/values.h").
//
// anglePI is atan2(|u x v|, u.v) in space, accurate near 0 and pi where acos is not; the plane
// form is acos of the clamped cosine.
//
// Stored image (ERFile and CArchive alike): the coordinates in order as little-endian doubles,
// no tag: 16 bytes for 2D points and vectors, 24 for 3D ones and ERPole2DH, 32 for ERPole3DH.
#pragma once

#include <cmath>
#include <cstdint>
#include <iosfwd>
#include <utility>

#include "qorv/foundation/assert.h"
#include "qorv/foundation/tolerance.h"
#include "qorv/platform/api.h"

class ERFile;
namespace qorv::platform {
class CArchive;
}
class ERMainDirection;

enum class Coord2D : int { X = 0, Y = 1 };
enum class Coord3D : int { X = 0, Y = 1, Z = 2 };
// Homogeneous indices: the last one names the weight.
enum class Coord2DH : int { X = 0, Y = 1, W = 2 };
enum class Coord3DH : int { X = 0, Y = 1, Z = 2, W = 3 };

class ERPoint2D;
class ERPoint3D;
class ERVector2D;
class ERVector3D;
class ERPole2DH;
class ERPole3DH;

// ---------------------------------------------------------------------------------------------
// One body for the coordinate-wise arithmetic of every value that exposes kSize and data().
namespace qorv::detail {

template <class R, class A, class B, class F>
inline R coordZip(const A& a, const B& b, F f) {
  R r;
  for (int i = 0; i < R::kSize; ++i) r.data()[i] = f(a.data()[i], b.data()[i]);
  return r;
}

template <class R, class A, class F>
inline R coordMap(const A& a, F f) {
  R r;
  for (int i = 0; i < R::kSize; ++i) r.data()[i] = f(a.data()[i]);
  return r;
}

template <class A, class B>
inline double coordDot(const A& a, const B& b) {
  double s = a.data()[0] * b.data()[0];
  for (int i = 1; i < A::kSize; ++i) s += a.data()[i] * b.data()[i];
  return s;
}

template <class A>
inline bool coordEqual(const A& a, const A& b) {
  for (int i = 0; i < A::kSize; ++i)
    if (!(a.data()[i] == b.data()[i])) return false;
  return true;
}

// Inclusive: a difference of exactly tol is equal. NaN is never equal.
template <class A>
inline int coordNear(const A& a, const A& b, double tol) {
  for (int i = 0; i < A::kSize; ++i)
    if (!(std::fabs(a.data()[i] - b.data()[i]) <= tol)) return 0;
  return 1;
}

template <class A>
inline double coordDistance2(const A& a, const A& b) {
  double s = 0.0;
  for (int i = 0; i < A::kSize; ++i) {
    const double d = b.data()[i] - a.data()[i];
    s = i == 0 ? d * d : s + d * d;
  }
  return s;
}

// The length of (v0, ..., vn-1) without overflow or underflow (the way std::hypot is exact):
// the plain sum of squares while it stays well inside the range, else the components scaled by
// a power of two first. NaN and infinities pass through as std::hypot has them.
QORV_API double scaledLength(const double* v, int n);
template <int N>
inline double coordLength(const double* v) {
  double s = v[0] * v[0];
  for (int i = 1; i < N; ++i) s += v[i] * v[i];
  if (s >= 0x1p-968 && s <= 0x1p968) return std::sqrt(s);
  return scaledLength(v, N);
}
template <class A>
inline double coordDistance(const A& a, const A& b) {
  double d[A::kSize];
  for (int i = 0; i < A::kSize; ++i) d[i] = b.data()[i] - a.data()[i];
  return coordLength<A::kSize>(d);
}
// Divides v by its length, any finite non-zero v giving its unit direction to the last bits
// (a tiny vector is scaled up by a power of two first). Zero stays zero.
QORV_API void normalizeCoords(double* v, int n);

// Persistence and printing shared by every value of the foundation.
void saveDoubles(ERFile& f, const double* v, unsigned n);
// All or nothing: on a short read the destination keeps its values and the result is 0.
int restoreDoubles(ERFile& f, double* v, unsigned n);
void storeDoubles(::qorv::platform::CArchive& ar, const double* v, int n);
void loadDoubles(::qorv::platform::CArchive& ar, double* v, int n);
// "[" v0 "," v1 ... "]": each value in the stream's current width, separators in width 1.
QORV_API void printDoubles(std::ostream& os, const double* v, int n);
// v as print forms show it: a NaN without its sign bit, so that it prints as "nan" and never
// as "-nan", a number's look.
inline double printable(double v) { return v != v ? std::fabs(v) : v; }

}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
class QORV_API ERPoint2D {
 public:
  static constexpr int kSize = 2;

  constexpr ERPoint2D() : v_{0.0, 0.0} {}
  constexpr ERPoint2D(double x, double y) : v_{x, y} {}
  explicit ERPoint2D(const ERVector2D& v);

  double x() const { return v_[0]; }
  double y() const { return v_[1]; }
  double& x() { return v_[0]; }
  double& y() { return v_[1]; }
  void set(double x, double y) { v_[0] = x, v_[1] = y; }
  double operator[](Coord2D c) const { return v_[index(c)]; }
  double& operator[](Coord2D c) { return v_[index(c)]; }
  const double* data() const { return v_; }
  double* data() { return v_; }

  // Template hooks shared with the poles.
  int getDim() const { return 2; }
  int isRational() const { return 0; }
  double weigth() const { return 1.0; }
  const ERPoint2D& thePoint() const { return *this; }
  ERPoint2D castToPoint() const { return *this; }
  // Inserts h as the coordinate of the given axis: X gives (h, x, y), Y (x, h, y), Z (x, y, h).
  ERPoint3D castToPoint3D(Coord3D axis, double h = 0.0) const;

  void translate(const ERVector2D& v);
  int invalid() const { return v_[0] != v_[0] || v_[1] != v_[1]; }

  ERPoint2D& operator+=(const ERVector2D& v);
  ERPoint2D& operator-=(const ERVector2D& v);
  ERPoint2D& operator+=(const ERPoint2D& p);
  ERPoint2D& operator*=(double k) { return v_[0] *= k, v_[1] *= k, *this; }
  ERPoint2D& operator/=(double k) { return v_[0] /= k, v_[1] /= k, *this; }
  bool operator==(const ERPoint2D& o) const { return qorv::detail::coordEqual(*this, o); }
  bool operator!=(const ERPoint2D& o) const { return !(*this == o); }

  void saveGuts(ERFile& f) const;
  void restoreGuts(ERFile& f);
  std::uint32_t binaryStoreSize() const { return 16; }
  void printOn(std::ostream& os) const;

 private:
  static int index(Coord2D c) {
    QORV_ASSERT(static_cast<unsigned>(c) < 2u);
    return static_cast<int>(c);
  }
  double v_[2];
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERPoint3D {
 public:
  static constexpr int kSize = 3;

  constexpr ERPoint3D() : v_{0.0, 0.0, 0.0} {}
  constexpr ERPoint3D(double x, double y, double z) : v_{x, y, z} {}
  explicit ERPoint3D(const ERVector3D& v);

  double x() const { return v_[0]; }
  double y() const { return v_[1]; }
  double z() const { return v_[2]; }
  double& x() { return v_[0]; }
  double& y() { return v_[1]; }
  double& z() { return v_[2]; }
  void set(double x, double y, double z) { v_[0] = x, v_[1] = y, v_[2] = z; }
  double operator[](Coord3D c) const { return v_[index(c)]; }
  double& operator[](Coord3D c) { return v_[index(c)]; }
  const double* data() const { return v_; }
  double* data() { return v_; }

  int getDim() const { return 3; }
  int isRational() const { return 0; }
  double weigth() const { return 1.0; }
  const ERPoint3D& thePoint() const { return *this; }
  ERPoint3D castToPoint() const { return *this; }
  // Drops the given axis: X gives (y, z), Y (x, z), Z (x, y).
  ERPoint2D castToPoint2D(Coord3D axis) const;

  void translate(const ERVector3D& v);
  // True when any coordinate is NaN.
  int invalid() const { return v_[0] != v_[0] || v_[1] != v_[1] || v_[2] != v_[2]; }

  ERPoint3D& operator+=(const ERVector3D& v);
  ERPoint3D& operator-=(const ERVector3D& v);
  ERPoint3D& operator+=(const ERPoint3D& p);
  ERPoint3D& operator*=(double k) { return v_[0] *= k, v_[1] *= k, v_[2] *= k, *this; }
  ERPoint3D& operator/=(double k) { return v_[0] /= k, v_[1] /= k, v_[2] /= k, *this; }
  bool operator==(const ERPoint3D& o) const { return qorv::detail::coordEqual(*this, o); }
  bool operator!=(const ERPoint3D& o) const { return !(*this == o); }

  void saveGuts(ERFile& f) const;
  void restoreGuts(ERFile& f);
  std::uint32_t binaryStoreSize() const { return 24; }
  void printOn(std::ostream& os) const;

 private:
  static int index(Coord3D c) {
    QORV_ASSERT(static_cast<unsigned>(c) < 3u);
    return static_cast<int>(c);
  }
  double v_[3];
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERVector2D {
 public:
  static constexpr int kSize = 2;

  constexpr ERVector2D() : v_{0.0, 0.0} {}
  constexpr ERVector2D(double x, double y) : v_{x, y} {}
  // The unit vector of the axis; zero for an out-of-range axis.
  explicit ERVector2D(Coord2D axis);
  // p2 - p1.
  ERVector2D(const ERPoint2D& p1, const ERPoint2D& p2) : v_{p2.x() - p1.x(), p2.y() - p1.y()} {}
  explicit ERVector2D(const ERPoint2D& p) : v_{p.x(), p.y()} {}

  double x() const { return v_[0]; }
  double y() const { return v_[1]; }
  double& x() { return v_[0]; }
  double& y() { return v_[1]; }
  void set(double x, double y) { v_[0] = x, v_[1] = y; }
  double operator[](Coord2D c) const { return v_[index(c)]; }
  double& operator[](Coord2D c) { return v_[index(c)]; }
  const double* data() const { return v_; }
  double* data() { return v_; }
  int getDim() const { return 2; }

  double norme() const { return qorv::detail::coordLength<2>(v_); }
  double norme2() const { return v_[0] * v_[0] + v_[1] * v_[1]; }
  // Divides by the length; a zero vector stays zero.
  ERVector2D& normalize();
  ERVector2D getnormalized() const { return ERVector2D(*this).normalize(); }
  // X when |x| > |y|, else Y.
  Coord2D axeOptimum() const;
  ERVector3D castToVector3D(Coord3D axis, double h = 0.0) const;

  ERVector2D& operator+=(const ERVector2D& o) { return v_[0] += o.v_[0], v_[1] += o.v_[1], *this; }
  ERVector2D& operator-=(const ERVector2D& o) { return v_[0] -= o.v_[0], v_[1] -= o.v_[1], *this; }
  ERVector2D& operator*=(double k) { return v_[0] *= k, v_[1] *= k, *this; }
  ERVector2D& operator/=(double k) { return v_[0] /= k, v_[1] /= k, *this; }
  bool operator==(const ERVector2D& o) const { return qorv::detail::coordEqual(*this, o); }
  bool operator!=(const ERVector2D& o) const { return !(*this == o); }

  void saveGuts(ERFile& f) const;
  void restoreGuts(ERFile& f);
  std::uint32_t binaryStoreSize() const { return 16; }
  void printOn(std::ostream& os) const;

 private:
  static int index(Coord2D c) {
    QORV_ASSERT(static_cast<unsigned>(c) < 2u);
    return static_cast<int>(c);
  }
  double v_[2];
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERVector3D {
 public:
  static constexpr int kSize = 3;

  constexpr ERVector3D() : v_{0.0, 0.0, 0.0} {}
  constexpr ERVector3D(double x, double y, double z) : v_{x, y, z} {}
  // The unit vector of the axis; zero for an out-of-range axis.
  explicit ERVector3D(Coord3D axis);
  // p2 - p1.
  ERVector3D(const ERPoint3D& p1, const ERPoint3D& p2)
      : v_{p2.x() - p1.x(), p2.y() - p1.y(), p2.z() - p1.z()} {}
  explicit ERVector3D(const ERPoint3D& p) : v_{p.x(), p.y(), p.z()} {}

  double x() const { return v_[0]; }
  double y() const { return v_[1]; }
  double z() const { return v_[2]; }
  double& x() { return v_[0]; }
  double& y() { return v_[1]; }
  double& z() { return v_[2]; }
  void set(double x, double y, double z) { v_[0] = x, v_[1] = y, v_[2] = z; }
  double operator[](Coord3D c) const { return v_[index(c)]; }
  double& operator[](Coord3D c) { return v_[index(c)]; }
  const double* data() const { return v_; }
  double* data() { return v_; }
  int getDim() const { return 3; }

  double norme() const { return qorv::detail::coordLength<3>(v_); }
  double norme2() const { return v_[0] * v_[0] + v_[1] * v_[1] + v_[2] * v_[2]; }
  // Divides by the length; a zero vector stays zero.
  ERVector3D& normalize();
  ERVector3D getnormalized() const { return ERVector3D(*this).normalize(); }
  // normalise(a x v), a the X axis when |y| > |x| and the Y axis otherwise; a zero result
  // (the zero vector) comes back as it is.
  ERVector3D find_perpendicular() const;
  // X when |x| > |y| and |x| > |z|, else Y when |y| > |z|, else Z (so the zero vector gives Z).
  Coord3D axeOptimum() const;
  // Defined with ERMainDirection in qorv/support/main_direction.cpp.
  ERMainDirection mainDirection() const;
  ERVector2D castToVector2D(Coord3D axis) const;

  ERVector3D& operator+=(const ERVector3D& o) {
    return v_[0] += o.v_[0], v_[1] += o.v_[1], v_[2] += o.v_[2], *this;
  }
  ERVector3D& operator-=(const ERVector3D& o) {
    return v_[0] -= o.v_[0], v_[1] -= o.v_[1], v_[2] -= o.v_[2], *this;
  }
  ERVector3D& operator*=(double k) { return v_[0] *= k, v_[1] *= k, v_[2] *= k, *this; }
  ERVector3D& operator/=(double k) { return v_[0] /= k, v_[1] /= k, v_[2] /= k, *this; }
  bool operator==(const ERVector3D& o) const { return qorv::detail::coordEqual(*this, o); }
  bool operator!=(const ERVector3D& o) const { return !(*this == o); }

  void saveGuts(ERFile& f) const;
  void restoreGuts(ERFile& f);
  std::uint32_t binaryStoreSize() const { return 24; }
  void printOn(std::ostream& os) const;

 private:
  static int index(Coord3D c) {
    QORV_ASSERT(static_cast<unsigned>(c) < 3u);
    return static_cast<int>(c);
  }
  double v_[3];
};

// ---------------------------------------------------------------------------------------------
// The homogeneous poles: weighted coordinates, then the weight. What the two dimensions share
// is declared once (QORV_POLE_MEMBERS, N the dimension): the Cartesian view by axis
// (weighted / weight), the stored view by homogeneous axis, the weight, the point views
// (thePoint() the weighted coordinates, castToPoint() divided by the weight), translate (adds
// weight x v: the Cartesian point moves by v), the arithmetic and the stored image; the macro
// ends in the private section with the storage.
#define QORV_POLE_MEMBERS(Class, Point, Vector, Coord, CoordH, N)                      \
  static constexpr int kSize = N + 1;                                                  \
  double w() const { return v_[N]; }                                                   \
  double operator[](Coord c) const { return v_[index(c)] / v_[N]; }                    \
  double operator[](CoordH c) const { return v_[index(c)]; }                           \
  double& operator[](CoordH c) { return v_[index(c)]; }                                \
  const double* data() const { return v_; }                                            \
  double* data() { return v_; }                                                        \
  int getDim() const { return N; }                                                     \
  int isRational() const { return 1; }                                                 \
  double weigth() const { return v_[N]; }                                              \
  void setWeigth(double w) { v_[N] = w; }                                              \
  Point thePoint() const {                                                             \
    Point p;                                                                           \
    for (int i = 0; i < N; ++i) p.data()[i] = v_[i];                                   \
    return p;                                                                          \
  }                                                                                    \
  Point castToPoint() const {                                                          \
    Point p;                                                                           \
    for (int i = 0; i < N; ++i) p.data()[i] = v_[i] / v_[N];                           \
    return p;                                                                          \
  }                                                                                    \
  void translate(const Vector& v) {                                                    \
    for (int i = 0; i < N; ++i) v_[i] += v_[N] * v.data()[i];                          \
  }                                                                                    \
  Class& operator+=(const Class& o);                                                   \
  Class& operator-=(const Class& o);                                                   \
  Class& operator*=(double k);                                                         \
  Class& operator/=(double k);                                                         \
  bool operator==(const Class& o) const { return qorv::detail::coordEqual(*this, o); } \
  bool operator!=(const Class& o) const { return !(*this == o); }                      \
  void saveGuts(ERFile& f) const;                                                      \
  void restoreGuts(ERFile& f);                                                         \
  std::uint32_t binaryStoreSize() const { return 8 * (N + 1); }                        \
  void printOn(std::ostream& os) const;                                                \
                                                                                       \
 private:                                                                              \
  template <class C>                                                                   \
  static int index(C c) {                                                              \
    QORV_ASSERT(static_cast<unsigned>(c) < unsigned(N + 1));                           \
    return static_cast<int>(c);                                                        \
  }                                                                                    \
  double v_[N + 1]

// Weighted coordinates (wx, wy) then the weight w.
class QORV_API ERPole2DH {
 public:
  constexpr ERPole2DH() : v_{0.0, 0.0, 1.0} {}
  constexpr ERPole2DH(double wx, double wy, double w) : v_{wx, wy, w} {}
  // The point's coordinates are stored unchanged as the weighted coordinates.
  ERPole2DH(const ERPoint2D& p, double w) : v_{p.x(), p.y(), w} {}

  double wx() const { return v_[0]; }
  double wy() const { return v_[1]; }
  // Cartesian values.
  double x() const { return v_[0] / v_[2]; }
  double y() const { return v_[1] / v_[2]; }
  // Inserts h as the stored value of the axis, keeping the weight; zeros for a bad axis.
  ERPole3DH castToPole3D(Coord3D axis, double h = 0.0) const;

  QORV_POLE_MEMBERS(ERPole2DH, ERPoint2D, ERVector2D, Coord2D, Coord2DH, 2);
};

// ---------------------------------------------------------------------------------------------
// Weighted coordinates (wx, wy, wz) then the weight w.
class QORV_API ERPole3DH {
 public:
  constexpr ERPole3DH() : v_{0.0, 0.0, 0.0, 1.0} {}
  constexpr ERPole3DH(double wx, double wy, double wz, double w) : v_{wx, wy, wz, w} {}
  // The point's coordinates are stored unchanged as the weighted coordinates.
  ERPole3DH(const ERPoint3D& p, double w) : v_{p.x(), p.y(), p.z(), w} {}

  double wx() const { return v_[0]; }
  double wy() const { return v_[1]; }
  double wz() const { return v_[2]; }
  double x() const { return v_[0] / v_[3]; }
  double y() const { return v_[1] / v_[3]; }
  double z() const { return v_[2] / v_[3]; }
  // Drops the stored value of the axis, keeping the weight; zeros for a bad axis.
  ERPole2DH castToPole2D(Coord3D axis) const;

  QORV_POLE_MEMBERS(ERPole3DH, ERPoint3D, ERVector3D, Coord3D, Coord3DH, 3);
};

// ---------------------------------------------------------------------------------------------
// Three doubles read either as a point or as a vector.
struct QORV_API Coordinate {
  double x = 0.0, y = 0.0, z = 0.0;

  ERPoint3D AsPoint3D() const { return ERPoint3D(x, y, z); }
  ERVector3D AsVector3D() const { return ERVector3D(x, y, z); }
  void Init(const ERPoint3D& p) { x = p.x(), y = p.y(), z = p.z(); }
  void Init(const ERVector3D& v) { x = v.x(), y = v.y(), z = v.z(); }
  // True when all three equal v.
  bool operator==(double v) const { return x == v && y == v && z == v; }
  bool operator!=(double v) const { return !(*this == v); }
  void printOn(std::ostream& os) const;
};

// ---------------------------------------------------------------------------------------------
// Inline definitions that need the later classes.
inline ERPoint2D::ERPoint2D(const ERVector2D& v) : v_{v.x(), v.y()} {}
inline ERPoint3D::ERPoint3D(const ERVector3D& v) : v_{v.x(), v.y(), v.z()} {}
inline void ERPoint2D::translate(const ERVector2D& v) { v_[0] += v.x(), v_[1] += v.y(); }
inline void ERPoint3D::translate(const ERVector3D& v) {
  v_[0] += v.x(), v_[1] += v.y(), v_[2] += v.z();
}
inline ERPoint2D& ERPoint2D::operator+=(const ERVector2D& v) { return translate(v), *this; }
inline ERPoint2D& ERPoint2D::operator-=(const ERVector2D& v) {
  return v_[0] -= v.x(), v_[1] -= v.y(), *this;
}
inline ERPoint2D& ERPoint2D::operator+=(const ERPoint2D& p) {
  return v_[0] += p.x(), v_[1] += p.y(), *this;
}
inline ERPoint3D& ERPoint3D::operator+=(const ERVector3D& v) { return translate(v), *this; }
inline ERPoint3D& ERPoint3D::operator-=(const ERVector3D& v) {
  return v_[0] -= v.x(), v_[1] -= v.y(), v_[2] -= v.z(), *this;
}
inline ERPoint3D& ERPoint3D::operator+=(const ERPoint3D& p) {
  return v_[0] += p.x(), v_[1] += p.y(), v_[2] += p.z(), *this;
}

// ---------------------------------------------------------------------------------------------
// Arithmetic. Points: point +- vector, point + point, point - point (a vector), scaling.
namespace qorv::detail {
inline constexpr auto kAdd = [](double a, double b) { return a + b; };
inline constexpr auto kSub = [](double a, double b) { return a - b; };
inline constexpr auto kMul = [](double a, double b) { return a * b; };
}  // namespace qorv::detail

#define QORV_VALUE_SCALING(T)                                             \
  inline T operator*(const T& a, double k) {                              \
    return qorv::detail::coordMap<T>(a, [k](double c) { return c * k; }); \
  }                                                                       \
  inline T operator*(double k, const T& a) {                              \
    return qorv::detail::coordMap<T>(a, [k](double c) { return k * c; }); \
  }                                                                       \
  inline T operator/(const T& a, double k) {                              \
    return qorv::detail::coordMap<T>(a, [k](double c) { return c / k; }); \
  }                                                                       \
  inline T operator-(const T& a) {                                        \
    return qorv::detail::coordMap<T>(a, [](double c) { return -c; });     \
  }

#define QORV_POINT_ARITHMETIC(P, V)                             \
  QORV_VALUE_SCALING(P)                                         \
  inline P operator+(const P& p, const V& v) {                  \
    return qorv::detail::coordZip<P>(p, v, qorv::detail::kAdd); \
  }                                                             \
  inline P operator+(const V& v, const P& p) {                  \
    return qorv::detail::coordZip<P>(v, p, qorv::detail::kAdd); \
  }                                                             \
  inline P operator-(const P& p, const V& v) {                  \
    return qorv::detail::coordZip<P>(p, v, qorv::detail::kSub); \
  }                                                             \
  inline P operator+(const P& a, const P& b) {                  \
    return qorv::detail::coordZip<P>(a, b, qorv::detail::kAdd); \
  }                                                             \
  inline V operator-(const P& a, const P& b) {                  \
    return qorv::detail::coordZip<V>(a, b, qorv::detail::kSub); \
  }

#define QORV_VECTOR_ARITHMETIC(V)                               \
  QORV_VALUE_SCALING(V)                                         \
  inline V operator+(const V& a, const V& b) {                  \
    return qorv::detail::coordZip<V>(a, b, qorv::detail::kAdd); \
  }                                                             \
  inline V operator-(const V& a, const V& b) {                  \
    return qorv::detail::coordZip<V>(a, b, qorv::detail::kSub); \
  }                                                             \
  /* dot product */                                             \
  inline double operator*(const V& a, const V& b) { return qorv::detail::coordDot(a, b); }

#define QORV_POLE_ARITHMETIC(H)                                 \
  QORV_VALUE_SCALING(H)                                         \
  inline H operator+(const H& a, const H& b) {                  \
    return qorv::detail::coordZip<H>(a, b, qorv::detail::kAdd); \
  }                                                             \
  inline H operator-(const H& a, const H& b) {                  \
    return qorv::detail::coordZip<H>(a, b, qorv::detail::kSub); \
  }

QORV_POINT_ARITHMETIC(ERPoint2D, ERVector2D)
QORV_POINT_ARITHMETIC(ERPoint3D, ERVector3D)
QORV_VECTOR_ARITHMETIC(ERVector2D)
QORV_VECTOR_ARITHMETIC(ERVector3D)
QORV_POLE_ARITHMETIC(ERPole2DH)
QORV_POLE_ARITHMETIC(ERPole3DH)

#undef QORV_POINT_ARITHMETIC
#undef QORV_VECTOR_ARITHMETIC
#undef QORV_POLE_ARITHMETIC
#undef QORV_VALUE_SCALING

inline ERPole2DH& ERPole2DH::operator+=(const ERPole2DH& o) { return *this = *this + o; }
inline ERPole2DH& ERPole2DH::operator-=(const ERPole2DH& o) { return *this = *this - o; }
inline ERPole2DH& ERPole2DH::operator*=(double k) { return *this = *this * k; }
inline ERPole2DH& ERPole2DH::operator/=(double k) { return *this = *this / k; }
inline ERPole3DH& ERPole3DH::operator+=(const ERPole3DH& o) { return *this = *this + o; }
inline ERPole3DH& ERPole3DH::operator-=(const ERPole3DH& o) { return *this = *this - o; }
inline ERPole3DH& ERPole3DH::operator*=(double k) { return *this = *this * k; }
inline ERPole3DH& ERPole3DH::operator/=(double k) { return *this = *this / k; }

// Cross products: a vector in space, the scalar u.x v.y - u.y v.x in the plane.
inline ERVector3D operator^(const ERVector3D& u, const ERVector3D& v) {
  return ERVector3D(u.y() * v.z() - u.z() * v.y(), u.z() * v.x() - u.x() * v.z(),
                    u.x() * v.y() - u.y() * v.x());
}
inline double operator^(const ERVector2D& u, const ERVector2D& v) {
  return u.x() * v.y() - u.y() * v.x();
}

// ---------------------------------------------------------------------------------------------
// Free functions, one body per family.
namespace qorv {

inline double norme(const ERVector2D& v) { return v.norme(); }
inline double norme(const ERVector3D& v) { return v.norme(); }
inline double norme2(const ERVector2D& v) { return v.norme2(); }
inline double norme2(const ERVector3D& v) { return v.norme2(); }

inline double distance2(const ERPoint2D& a, const ERPoint2D& b) {
  return qorv::detail::coordDistance2(a, b);
}
inline double distance2(const ERPoint3D& a, const ERPoint3D& b) {
  return qorv::detail::coordDistance2(a, b);
}
inline double distance(const ERPoint2D& a, const ERPoint2D& b) {
  return qorv::detail::coordDistance(a, b);
}
inline double distance(const ERPoint3D& a, const ERPoint3D& b) {
  return qorv::detail::coordDistance(a, b);
}

inline ERPoint2D milieu(const ERPoint2D& a, const ERPoint2D& b) {
  return qorv::detail::coordZip<ERPoint2D>(a, b, [](double p, double q) { return 0.5 * (p + q); });
}
inline ERPoint3D milieu(const ERPoint3D& a, const ERPoint3D& b) {
  return qorv::detail::coordZip<ERPoint3D>(a, b, [](double p, double q) { return 0.5 * (p + q); });
}

// Every coordinate within tol, inclusive.
inline int isEqual(const ERPoint2D& a, const ERPoint2D& b, double tol = equalityTolerance) {
  return qorv::detail::coordNear(a, b, tol);
}
inline int isEqual(const ERPoint3D& a, const ERPoint3D& b, double tol = equalityTolerance) {
  return qorv::detail::coordNear(a, b, tol);
}
inline int isEqual(const ERVector2D& a, const ERVector2D& b, double tol = equalityTolerance) {
  return qorv::detail::coordNear(a, b, tol);
}
inline int isEqual(const ERVector3D& a, const ERVector3D& b, double tol = equalityTolerance) {
  return qorv::detail::coordNear(a, b, tol);
}
inline int isEqual(const ERPole2DH& a, const ERPole2DH& b, double tol = equalityTolerance) {
  return qorv::detail::coordNear(a, b, tol);
}
inline int isEqual(const ERPole3DH& a, const ERPole3DH& b, double tol = equalityTolerance) {
  return qorv::detail::coordNear(a, b, tol);
}

inline void swap(ERPoint2D& a, ERPoint2D& b) { std::swap(a, b); }
inline void swap(ERPoint3D& a, ERPoint3D& b) { std::swap(a, b); }
inline void swap(ERVector2D& a, ERVector2D& b) { std::swap(a, b); }
inline void swap(ERVector3D& a, ERVector3D& b) { std::swap(a, b); }

// Component-wise absolute value, sign (+1 for zero) and product.
inline ERVector2D abs(const ERVector2D& v) {
  return ERVector2D(std::fabs(v.x()), std::fabs(v.y()));
}
inline ERVector3D abs(const ERVector3D& v) {
  return ERVector3D(std::fabs(v.x()), std::fabs(v.y()), std::fabs(v.z()));
}
inline ERVector2D signes(const ERVector2D& v) {
  return qorv::detail::coordMap<ERVector2D>(v, [](double c) { return c < 0.0 ? -1.0 : 1.0; });
}
inline ERVector3D signes(const ERVector3D& v) {
  return qorv::detail::coordMap<ERVector3D>(v, [](double c) { return c < 0.0 ? -1.0 : 1.0; });
}
inline ERVector2D mul_idx2idx(const ERVector2D& u, const ERVector2D& v) {
  return qorv::detail::coordZip<ERVector2D>(u, v, qorv::detail::kMul);
}
inline ERVector3D mul_idx2idx(const ERVector3D& u, const ERVector3D& v) {
  return qorv::detail::coordZip<ERVector3D>(u, v, qorv::detail::kMul);
}

// |u.v| <= tol; the vectors are not normalised first.
inline int isPerpendicular(const ERVector2D& u, const ERVector2D& v,
                           double tol = equalityTolerance) {
  return std::fabs(u * v) <= tol;
}
inline int isPerpendicular(const ERVector3D& u, const ERVector3D& v,
                           double tol = equalityTolerance) {
  return std::fabs(u * v) <= tol;
}

// Angles between directions, in radians.
// [0, pi]: acos of the clamped cosine of the normalised vectors.
QORV_API double anglePI(const ERVector2D& u, const ERVector2D& v);
// [0, pi]: atan2(|u^ x v^|, u^ . v^) of the normalised vectors.
QORV_API double anglePI(const ERVector3D& u, const ERVector3D& v);
// anglePI folded into [0, pi/2].
QORV_API double acute_angle(const ERVector2D& u, const ERVector2D& v);
QORV_API double acute_angle(const ERVector3D& u, const ERVector3D& v);
// [0, 2pi): anglePI, replaced by 2pi - angle when (u^ x v^).n < 0.
QORV_API double angle2PI(const ERVector3D& u, const ERVector3D& v, const ERVector3D& n);
// [0, 2pi): counter-clockwise from u to v.
QORV_API double angle2PI(const ERVector2D& u, const ERVector2D& v);
// The angle between u and v (measured with atan2 in both dimensions) is within tol of 0 or pi.
QORV_API int isParallel(const ERVector2D& u, const ERVector2D& v, double tol = equalityTolerance);
QORV_API int isParallel(const ERVector3D& u, const ERVector3D& v, double tol = equalityTolerance);

// The position of c along a -> b as a ratio, measured on the component of b - a of largest
// magnitude (x when |dx| > |dy|, else y; in space x, else y when |dy| > |dz|, else z).
QORV_API double div_vect(const ERPoint2D& a, const ERPoint2D& b, const ERPoint2D& c);
QORV_API double div_vect(const ERPoint3D& a, const ERPoint3D& b, const ERPoint3D& c);
QORV_API double div_vect(const ERVector2D& a, const ERVector2D& b, const ERVector2D& c);
QORV_API double div_vect(const ERVector3D& a, const ERVector3D& b, const ERVector3D& c);

}  // namespace qorv

// ---------------------------------------------------------------------------------------------
// Stored images, framework archives and text.
QORV_API ERFile& operator<<(ERFile& f, const ERPoint2D& v);
QORV_API ERFile& operator<<(ERFile& f, const ERPoint3D& v);
QORV_API ERFile& operator<<(ERFile& f, const ERVector2D& v);
QORV_API ERFile& operator<<(ERFile& f, const ERVector3D& v);
QORV_API ERFile& operator<<(ERFile& f, const ERPole2DH& v);
QORV_API ERFile& operator<<(ERFile& f, const ERPole3DH& v);
QORV_API ERFile& operator>>(ERFile& f, ERPoint2D& v);
QORV_API ERFile& operator>>(ERFile& f, ERPoint3D& v);
QORV_API ERFile& operator>>(ERFile& f, ERVector2D& v);
QORV_API ERFile& operator>>(ERFile& f, ERVector3D& v);
QORV_API ERFile& operator>>(ERFile& f, ERPole2DH& v);
QORV_API ERFile& operator>>(ERFile& f, ERPole3DH& v);

QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar, const ERPoint2D& v);
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar, const ERPoint3D& v);
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar,
                                                const ERVector2D& v);
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar,
                                                const ERVector3D& v);
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar, const ERPole2DH& v);
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar, const ERPole3DH& v);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar, ERPoint2D& v);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar, ERPoint3D& v);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar, ERVector2D& v);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar, ERVector3D& v);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar, ERPole2DH& v);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar, ERPole3DH& v);

QORV_API std::ostream& operator<<(std::ostream& os, const ERPoint2D& v);
QORV_API std::ostream& operator<<(std::ostream& os, const ERPoint3D& v);
QORV_API std::ostream& operator<<(std::ostream& os, const ERVector2D& v);
QORV_API std::ostream& operator<<(std::ostream& os, const ERVector3D& v);
QORV_API std::ostream& operator<<(std::ostream& os, const ERPole2DH& v);
QORV_API std::ostream& operator<<(std::ostream& os, const ERPole3DH& v);
QORV_API std::ostream& operator<<(std::ostream& os, const Coordinate& v);
