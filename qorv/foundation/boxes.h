// qorv/foundation/boxes.h
//
// Axis-aligned boxes: ERMinimax2D (xmin, ymin, xmax, ymax) and ERMinimax3D (xmin, ymin, zmin,
// xmax, ymax, zmax), their unions, intersections, relative positions, and the clipping of lines,
// segments and polygons against them.
//
// Conventions a caller gets wrong:
// - The empty box has every minimum at +DBL_MAX and every maximum at -DBL_MAX; the default
//   constructor and Reset() make it, and invalid() tests xmin == +DBL_MAX only. Union with an
//   empty box changes nothing; intersection with one is empty.
// - ::qorv::RelativePosition(a, b): 0 disjoint, 2 b strictly inside a, 1 a inside b (or equal), 3
//   overlap; the 3D form answers 4 first when either box is empty. The operators read the same
//   codes: a >> b is 2, a << b is 1, a < b is 1 or 3, a > b is 2 or 3, a | b is 0 (separated).
// - The 2D Inflate moves the bounds of an empty box too (DBL_MAX - d); the 3D one leaves an
//   empty box alone.
// - intersection(a, b) is empty on touching boxes when a.min == b.max, but not when
//   b.min == a.max: the tests are a.min >= b.max and b.min > a.max, per axis.
// - positionRelative of a segment says where the segment is (2 inside the box); of a polygon,
//   where the box is (2 inside the polygon). Both answer 1 when a part of the segment or of an
//   edge runs through the open interior of the box, and 3 when they only touch its border.
//
// clip is the slab method (Kay and Kajiya), axis by axis, with 1e-9 as the threshold under
// which a direction component counts as parallel to its slab: V is a direction, not a length,
// so the equality tolerance does not apply. SutherCohen is the Cohen-Sutherland outcode
// clipper, with every intersection snapped onto the side it was computed against.
//
// Stored images: the bounds in member order as little-endian doubles, 32 bytes in the plane,
// 48 in space; CArchive the same.
#pragma once

#include <array>
#include <cfloat>
#include <concepts>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "qorv/foundation/points.h"
#include "qorv/platform/api.h"

enum class MinMax2D : int { XMIN = 0, YMIN = 1, XMAX = 2, YMAX = 3 };
enum class MinMax3D : int { XMIN = 0, YMIN = 1, ZMIN = 2, XMAX = 3, YMAX = 4, ZMAX = 5 };

// A segment against a box (where the segment lies).
enum ER_MINMAX_POSITION_SEGMENT {
  ER_MINMAX_SEGMENT_OUTSIDE = 0,   // no point of the segment in the closed box
  ER_MINMAX_SEGMENT_CROSSING = 1,  // part inside the open box, part outside
  ER_MINMAX_SEGMENT_INSIDE = 2,    // the whole segment in the closed box
  ER_MINMAX_SEGMENT_TOUCHING = 3,  // outside but for points of the border
};

// A box against a polygon (where the box lies); the codes of the region queries.
enum ER_MINMAX_POSITION_POLYGONE {
  ER_MINMAX_POLYGONE_OUTSIDE = 0,   // the box is outside the polygon
  ER_MINMAX_POLYGONE_CROSSING = 1,  // an edge runs through the open box
  ER_MINMAX_POLYGONE_INSIDE = 2,    // the box is inside the polygon
  ER_MINMAX_POLYGONE_TOUCHING = 3,  // edges meet the border of the box without entering it
};

// Result of a bounded slab clip.
enum gmClipStatus {
  gmClipMiss = 0,       // the line misses the box within the range
  gmClipUnchanged = 1,  // every slab holds the whole range
  gmClipNarrowed = 2,   // the range was narrowed to the part inside the box
};

// A sequence of points or poles (ERVec, std::vector, ...): length() or size(), and [i] whose
// castToPoint() gives the point.
template <class V, class P>
concept ERPointSequence = requires(const V& v, int i) {
  { v[i].castToPoint() } -> std::convertible_to<P>;
}
&&(
    requires(const V& v) { v.length(); } || requires(const V& v) { v.size(); });

namespace qorv::detail {

template <class V>
long long sequenceLength(const V& v) {
  if constexpr (requires { v.length(); })
    return static_cast<long long>(v.length());
  else
    return static_cast<long long>(v.size());
}

// One body for both boxes: b[0..N) are the minima, b[N..2N) the maxima.
template <int N>
struct BoxN {
  static void reset(double* b) {
    for (int i = 0; i < N; ++i) b[i] = DBL_MAX, b[N + i] = -DBL_MAX;
  }
  static void update(double* b, const double* p) {
    for (int i = 0; i < N; ++i) {
      if (p[i] < b[i]) b[i] = p[i];
      if (p[i] > b[N + i]) b[N + i] = p[i];
    }
  }
  static void unite(double* b, const double* o) {
    for (int i = 0; i < N; ++i) {
      if (o[i] < b[i]) b[i] = o[i];
      if (o[N + i] > b[N + i]) b[N + i] = o[N + i];
    }
  }
  static bool contains(const double* b, const double* p) {
    for (int i = 0; i < N; ++i)
      if (!(b[i] <= p[i] && p[i] <= b[N + i])) return false;
    return true;
  }
  static bool strictlyContains(const double* b, const double* p) {
    for (int i = 0; i < N; ++i)
      if (!(b[i] < p[i] && p[i] < b[N + i])) return false;
    return true;
  }
  static bool onBorder(const double* b, const double* p) {
    if (!contains(b, p)) return false;
    for (int i = 0; i < N; ++i)
      if (p[i] == b[i] || p[i] == b[N + i]) return true;
    return false;
  }
  static void inflate(double* b, double d) {
    for (int i = 0; i < N; ++i) b[i] -= d, b[N + i] += d;
  }
};

}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
class QORV_API ERMinimax2D {
 public:
  static constexpr int kSize = 4;
  using Ops = qorv::detail::BoxN<2>;

  ERMinimax2D() { Ops::reset(v_); }
  // The box of the two points.
  ERMinimax2D(const ERPoint2D& a, const ERPoint2D& b) : ERMinimax2D() { Update(a), Update(b); }
  ERMinimax2D(double xmin, double ymin, double xmax, double ymax) : v_{xmin, ymin, xmax, ymax} {}
  ERMinimax2D(const ERPoint2D* pts, int n) : ERMinimax2D() { Update(pts, n); }
  ERMinimax2D(const ERPole2DH* poles, int n) : ERMinimax2D() { Update(poles, n); }
  template <ERPointSequence<ERPoint2D> V>
  explicit ERMinimax2D(const V& pts) : ERMinimax2D() {
    Update(pts);
  }

  void Reset() { Ops::reset(v_); }
  int invalid() const { return v_[0] == DBL_MAX; }
  void Garnir(double xmin, double ymin, double xmax, double ymax) {
    v_[0] = xmin, v_[1] = ymin, v_[2] = xmax, v_[3] = ymax;
  }
  void Garnir(const ERPoint2D& min, const ERPoint2D& max) {
    Garnir(min.x(), min.y(), max.x(), max.y());
  }

  void Update(const ERPoint2D& p) { Ops::update(v_, p.data()); }
  void Update(const ERMinimax2D& b) { Ops::unite(v_, b.v_); }
  void Update(const ERPoint2D* pts, int n) {
    for (int i = 0; i < n; ++i) Update(pts[i]);
  }
  // Poles count by their Cartesian values.
  void Update(const ERPole2DH* poles, int n) {
    for (int i = 0; i < n; ++i) Update(poles[i].castToPoint());
  }
  template <ERPointSequence<ERPoint2D> V>
  void Update(const V& pts) {
    const long long n = qorv::detail::sequenceLength(pts);
    for (long long i = 0; i < n; ++i) Update(ERPoint2D(pts[static_cast<int>(i)].castToPoint()));
  }
  ERMinimax2D& operator+=(const ERPoint2D& p) { return Update(p), *this; }
  ERMinimax2D& operator+=(const ERMinimax2D& b) { return Update(b), *this; }
  // Subtracts d from the minima and adds it to the maxima, empty box or not.
  void Inflate(double d) { Ops::inflate(v_, d); }
  ERMinimax2D& operator+=(double d) { return Inflate(d), *this; }
  ERMinimax2D& operator-=(double d) { return Inflate(-d), *this; }

  double xmin() const { return v_[0]; }
  double ymin() const { return v_[1]; }
  double xmax() const { return v_[2]; }
  double ymax() const { return v_[3]; }
  double operator[](MinMax2D i) const { return v_[static_cast<int>(i)]; }
  double& operator[](MinMax2D i) { return v_[static_cast<int>(i)]; }
  const double* data() const { return v_; }
  double* data() { return v_; }

  ERPoint2D MinPoint() const { return ERPoint2D(v_[0], v_[1]); }
  ERPoint2D MaxPoint() const { return ERPoint2D(v_[2], v_[3]); }
  ERPoint2D center_point() const { return qorv::milieu(MinPoint(), MaxPoint()); }
  double xlength() const { return v_[2] - v_[0]; }
  double ylength() const { return v_[3] - v_[1]; }
  double length(Coord2D axis) const { return axis == Coord2D::X ? xlength() : ylength(); }
  // The length of the diagonal.
  double DiametreBoule() const { return qorv::distance(MinPoint(), MaxPoint()); }
  // Counter-clockwise from the minimum: (xmin, ymin), (xmax, ymin), (xmax, ymax), (xmin, ymax).
  std::array<ERPoint2D, 4> getVertice() const;

  // Inside or on the border.
  int contains(const ERPoint2D& p) const { return Ops::contains(v_, p.data()); }
  int stricklyContains(const ERPoint2D& p) const { return Ops::strictlyContains(v_, p.data()); }
  int onBorder(const ERPoint2D& p) const { return Ops::onBorder(v_, p.data()); }

  // Whether the line P + tV meets the closed box; a zero V is the point P.
  int intersect(const ERPoint2D& P, const ERVector2D& V) const;
  // Whether some point of the segment lies in the closed box.
  int isVisible(const ERPoint2D& p1, const ERPoint2D& p2) const;
  ER_MINMAX_POSITION_SEGMENT positionRelative(const ERPoint2D& p1, const ERPoint2D& p2) const;
  // The polygon is closed implicitly (last point back to the first).
  ER_MINMAX_POSITION_POLYGONE positionRelative(const ERPoint2D* pts, int n) const;
  template <ERPointSequence<ERPoint2D> V>
  ER_MINMAX_POSITION_POLYGONE positionRelative(const V& pts) const {
    const long long n = qorv::detail::sequenceLength(pts);
    std::vector<ERPoint2D> copy;
    copy.reserve(n > 0 ? static_cast<std::size_t>(n) : 0u);
    for (long long i = 0; i < n; ++i) copy.push_back(pts[static_cast<int>(i)].castToPoint());
    return positionRelative(copy.data(), static_cast<int>(copy.size()));
  }

  bool operator==(const ERMinimax2D& o) const { return qorv::detail::coordEqual(*this, o); }
  bool operator!=(const ERMinimax2D& o) const { return !(*this == o); }

  void saveGuts(ERFile& f) const;
  void restoreGuts(ERFile& f);
  std::uint32_t binaryStoreSize() const { return 32; }
  // "[" MinPoint "," MaxPoint "]", each in the point form.
  void printOn(std::ostream& os) const;

 private:
  double v_[4];
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERMinimax3D {
 public:
  static constexpr int kSize = 6;
  using Ops = qorv::detail::BoxN<3>;

  ERMinimax3D() { Ops::reset(v_); }
  ERMinimax3D(const ERPoint3D& a, const ERPoint3D& b) : ERMinimax3D() { Update(a), Update(b); }
  ERMinimax3D(double xmin, double ymin, double zmin, double xmax, double ymax, double zmax)
      : v_{xmin, ymin, zmin, xmax, ymax, zmax} {}
  ERMinimax3D(const ERPoint3D* pts, int n) : ERMinimax3D() { Update(pts, n); }
  ERMinimax3D(const ERPole3DH* poles, int n) : ERMinimax3D() { Update(poles, n); }
  template <ERPointSequence<ERPoint3D> V>
  explicit ERMinimax3D(const V& pts) : ERMinimax3D() {
    Update(pts);
  }

  void Reset() { Ops::reset(v_); }
  int invalid() const { return v_[0] == DBL_MAX; }
  void Garnir(double xmin, double ymin, double zmin, double xmax, double ymax, double zmax) {
    v_[0] = xmin, v_[1] = ymin, v_[2] = zmin, v_[3] = xmax, v_[4] = ymax, v_[5] = zmax;
  }
  void Garnir(const ERPoint3D& min, const ERPoint3D& max) {
    Garnir(min.x(), min.y(), min.z(), max.x(), max.y(), max.z());
  }

  void Update(const ERPoint3D& p) { Ops::update(v_, p.data()); }
  void Update(const ERMinimax3D& b) { Ops::unite(v_, b.v_); }
  void Update(const ERPoint3D* pts, int n) {
    for (int i = 0; i < n; ++i) Update(pts[i]);
  }
  void Update(const ERPole3DH* poles, int n) {
    for (int i = 0; i < n; ++i) Update(poles[i].castToPoint());
  }
  template <ERPointSequence<ERPoint3D> V>
  void Update(const V& pts) {
    const long long n = qorv::detail::sequenceLength(pts);
    for (long long i = 0; i < n; ++i) Update(ERPoint3D(pts[static_cast<int>(i)].castToPoint()));
  }
  ERMinimax3D& operator+=(const ERPoint3D& p) { return Update(p), *this; }
  ERMinimax3D& operator+=(const ERMinimax3D& b) { return Update(b), *this; }
  // Subtracts d from the minima and adds it to the maxima; an empty box stays empty.
  void Inflate(double d) {
    if (!invalid()) Ops::inflate(v_, d);
  }
  ERMinimax3D& operator+=(double d) { return Inflate(d), *this; }
  ERMinimax3D& operator-=(double d) { return Inflate(-d), *this; }

  double xmin() const { return v_[0]; }
  double ymin() const { return v_[1]; }
  double zmin() const { return v_[2]; }
  double xmax() const { return v_[3]; }
  double ymax() const { return v_[4]; }
  double zmax() const { return v_[5]; }
  double operator[](MinMax3D i) const { return v_[static_cast<int>(i)]; }
  double& operator[](MinMax3D i) { return v_[static_cast<int>(i)]; }
  const double* data() const { return v_; }
  double* data() { return v_; }

  ERPoint3D MinPoint() const { return ERPoint3D(v_[0], v_[1], v_[2]); }
  ERPoint3D MaxPoint() const { return ERPoint3D(v_[3], v_[4], v_[5]); }
  ERPoint3D center_point() const { return qorv::milieu(MinPoint(), MaxPoint()); }
  double xlength() const { return v_[3] - v_[0]; }
  double ylength() const { return v_[4] - v_[1]; }
  double zlength() const { return v_[5] - v_[2]; }
  double length(Coord3D axis) const {
    return axis == Coord3D::X ? xlength() : (axis == Coord3D::Y ? ylength() : zlength());
  }
  // The length of the diagonal.
  double diagonal() const { return qorv::distance(MinPoint(), MaxPoint()); }
  // The face z = zmin counter-clockwise from the minimum, then the face z = zmax the same way.
  std::array<ERPoint3D, 8> getVertice() const;

  int contains(const ERPoint3D& p) const { return Ops::contains(v_, p.data()); }
  int stricklyContains(const ERPoint3D& p) const { return Ops::strictlyContains(v_, p.data()); }
  int onBorder(const ERPoint3D& p) const { return Ops::onBorder(v_, p.data()); }

  // Whether the line P + tV meets the closed box; a zero V is the point P.
  int intersect(const ERPoint3D& P, const ERVector3D& V) const;
  // The part of the line P + tV inside the box: t0 and t1 receive its parameters (unchanged at
  // -DBL_MAX and +DBL_MAX when nothing bounds it). Whether the line meets the box.
  int clip(const ERPoint3D& P, const ERVector3D& V, double& t0, double& t1) const;

  bool operator==(const ERMinimax3D& o) const { return qorv::detail::coordEqual(*this, o); }
  bool operator!=(const ERMinimax3D& o) const { return !(*this == o); }

  void saveGuts(ERFile& f) const;
  void restoreGuts(ERFile& f);
  std::uint32_t binaryStoreSize() const { return 48; }
  void printOn(std::ostream& os) const;

 private:
  // Narrows [t0, t1] slab by slab (x, y, z), stopping at the first miss; on any result other
  // than gmClipNarrowed, t0 and t1 come back as given.
  gmClipStatus clip_bounded(const ERPoint3D& P, const ERVector3D& V, double& t0, double& t1) const;

  double v_[6];
};

// ---------------------------------------------------------------------------------------------
// Combinations, one body per family.
namespace qorv {

QORV_API ERMinimax2D Union(const ERMinimax2D& a, const ERMinimax2D& b);
QORV_API ERMinimax3D Union(const ERMinimax3D& a, const ERMinimax3D& b);
QORV_API ERMinimax2D intersection(const ERMinimax2D& a, const ERMinimax2D& b);
QORV_API ERMinimax3D intersection(const ERMinimax3D& a, const ERMinimax3D& b);
QORV_API int RelativePosition(const ERMinimax2D& a, const ERMinimax2D& b);
QORV_API int RelativePosition(const ERMinimax3D& a, const ERMinimax3D& b);
// Squared distance from p to the nearest point of the box (0 inside) and to its farthest corner.
QORV_API double minimumSquaredDistance(const ERMinimax2D& b, const ERPoint2D& p);
QORV_API double minimumSquaredDistance(const ERMinimax3D& b, const ERPoint3D& p);
QORV_API double maximumSquaredDistance(const ERMinimax2D& b, const ERPoint2D& p);
QORV_API double maximumSquaredDistance(const ERMinimax3D& b, const ERPoint3D& p);

// Cohen-Sutherland: the part of the segment a-b inside the closed box, in c-d (same direction).
// 1 when there is one (c, d written), 0 otherwise (c, d untouched).
QORV_API int SutherCohen(const ERPoint2D& a, const ERPoint2D& b, const ERMinimax2D& box,
                         ERPoint2D& c, ERPoint2D& d);
// The same for the whole line P + tV, c before d along V.
QORV_API int SutherCohen(const ERPoint2D& P, const ERVector2D& V, const ERMinimax2D& box,
                         ERPoint2D& c, ERPoint2D& d);

}  // namespace qorv

#define QORV_BOX_OPERATORS(B, P)                                                                \
  inline B operator+(const B& a, const B& b) { return ::qorv::Union(a, b); }                    \
  inline B operator-(const B& a, const B& b) { return ::qorv::intersection(a, b); }             \
  inline B operator+(const B& a, double d) { return B(a) += d; }                                \
  inline B operator-(const B& a, double d) { return B(a) -= d; }                                \
  inline int operator>>(const B& a, const B& b) { return ::qorv::RelativePosition(a, b) == 2; } \
  inline int operator<<(const B& a, const B& b) { return ::qorv::RelativePosition(a, b) == 1; } \
  inline int operator<(const B& a, const B& b) {                                                \
    const int r = ::qorv::RelativePosition(a, b);                                               \
    return r == 1 || r == 3;                                                                    \
  }                                                                                             \
  inline int operator>(const B& a, const B& b) {                                                \
    const int r = ::qorv::RelativePosition(a, b);                                               \
    return r == 2 || r == 3;                                                                    \
  }                                                                                             \
  inline int operator|(const B& a, const B& b) { return ::qorv::RelativePosition(a, b) == 0; }  \
  inline int operator<<(const P& p, const B& b) { return b.contains(p); }                       \
  inline int operator>>(const B& b, const P& p) { return b.contains(p); }                       \
  inline int operator|(const B& b, const P& p) { return !b.contains(p); }                       \
  inline int operator|(const P& p, const B& b) { return !b.contains(p); }

QORV_BOX_OPERATORS(ERMinimax2D, ERPoint2D)
QORV_BOX_OPERATORS(ERMinimax3D, ERPoint3D)
#undef QORV_BOX_OPERATORS

QORV_API ERFile& operator<<(ERFile& f, const ERMinimax2D& b);
QORV_API ERFile& operator<<(ERFile& f, const ERMinimax3D& b);
QORV_API ERFile& operator>>(ERFile& f, ERMinimax2D& b);
QORV_API ERFile& operator>>(ERFile& f, ERMinimax3D& b);
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar,
                                                const ERMinimax2D& b);
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar,
                                                const ERMinimax3D& b);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar, ERMinimax2D& b);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar, ERMinimax3D& b);
QORV_API std::ostream& operator<<(std::ostream& os, const ERMinimax2D& b);
QORV_API std::ostream& operator<<(std::ostream& os, const ERMinimax3D& b);

namespace qorv::detail {
// The closed boxes share a point.
inline bool meets(const ERMinimax2D& a, const ERMinimax2D& b) {
  return a.xmin() <= b.xmax() && b.xmin() <= a.xmax() && a.ymin() <= b.ymax() &&
         b.ymin() <= a.ymax();
}
}  // namespace qorv::detail
