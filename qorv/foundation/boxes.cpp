#include "qorv/foundation/boxes.h"

#include <algorithm>
#include <ostream>
#include <utility>

#include "qorv/platform/archive.h"
#include "qorv/persistence/file.h"

using namespace qorv::platform;

using namespace qorv;

namespace {

// Out-of-line bodies shared by both boxes: b[0..N) minima, b[N..2N) maxima.
template <int N>
bool isEmptyBox(const double* b) {
  return b[0] == DBL_MAX;
}

// A box whose minimum exceeds its maximum on some axis (or holds a NaN) contains nothing.
template <int N>
bool isProper(const double* b) {
  for (int i = 0; i < N; ++i)
    if (!(b[i] <= b[N + i])) return false;
  return true;
}

template <class Box, int N>
Box intersectionOf(const Box& a, const Box& b) {
  Box r;
  if (isEmptyBox<N>(a.data()) || isEmptyBox<N>(b.data())) return r;
  const double* p = a.data();
  const double* q = b.data();
  for (int i = 0; i < N; ++i)
    if (p[i] >= q[N + i] || q[i] > p[N + i]) return r;
  double* o = r.data();
  for (int i = 0; i < N; ++i) {
    o[i] = std::max(p[i], q[i]);
    o[N + i] = std::min(p[N + i], q[N + i]);
  }
  return r;
}

template <int N>
int relativePositionOf(const double* a, const double* b) {
  for (int i = 0; i < N; ++i)
    if (a[i] > b[N + i] || b[i] > a[N + i]) return 0;
  bool strict = true, inside = true;
  for (int i = 0; i < N; ++i) {
    strict = strict && a[i] < b[i] && b[N + i] < a[N + i];
    inside = inside && a[i] >= b[i] && a[N + i] <= b[N + i];
  }
  if (strict) return 2;
  if (inside) return 1;
  return 3;
}

template <int N>
double minimumSquaredDistanceOf(const double* b, const double* p) {
  double s = 0.0;
  for (int i = 0; i < N; ++i) {
    double d = 0.0;
    if (p[i] < b[i])
      d = b[i] - p[i];
    else if (p[i] > b[N + i])
      d = p[i] - b[N + i];
    s += d * d;
  }
  return s;
}

template <int N>
double maximumSquaredDistanceOf(const double* b, const double* p) {
  double s = 0.0;
  for (int i = 0; i < N; ++i) {
    const double d = std::max(std::fabs(p[i] - b[i]), std::fabs(p[i] - b[N + i]));
    s += d * d;
  }
  return s;
}

// Slab test in exact arithmetic: whether the line p + t v meets the closed box. A zero
// component is parallel to its slab and passes when p lies between the bounds.
template <int N>
bool anyNaN(const double* v) {
  for (int i = 0; i < N; ++i)
    if (v[i] != v[i]) return true;
  return false;
}

template <int N>
int lineMeetsOf(const double* b, const double* p, const double* v) {
  if (!isProper<N>(b) || anyNaN<N>(p) || anyNaN<N>(v)) return 0;
  double t0 = -HUGE_VAL, t1 = HUGE_VAL;
  for (int i = 0; i < N; ++i) {
    if (v[i] == 0.0) {
      if (!(b[i] <= p[i] && p[i] <= b[N + i])) return 0;
      continue;
    }
    double ta = (b[i] - p[i]) / v[i], tb = (b[N + i] - p[i]) / v[i];
    if (v[i] < 0.0) std::swap(ta, tb);
    t0 = std::max(t0, ta);
    t1 = std::min(t1, tb);
    if (!(t0 <= t1)) return 0;
  }
  return 1;
}

// Liang-Barsky on [0, 1]: the parameters of the part of a-c inside the closed box.
bool clipSegment(const ERMinimax2D& box, const ERPoint2D& a, const ERPoint2D& c, double& ta,
                 double& tb) {
  const double* b = box.data();
  if (!isProper<2>(b) || a.invalid() || c.invalid()) return false;
  ta = 0.0, tb = 1.0;
  const double d[2] = {c.x() - a.x(), c.y() - a.y()};
  for (int i = 0; i < 2; ++i) {
    const double p = a.data()[i];
    if (d[i] == 0.0) {
      if (!(b[i] <= p && p <= b[2 + i])) return false;
      continue;
    }
    double lo = (b[i] - p) / d[i], hi = (b[2 + i] - p) / d[i];
    if (d[i] < 0.0) std::swap(lo, hi);
    ta = std::max(ta, lo);
    tb = std::min(tb, hi);
    if (!(ta <= tb)) return false;
  }
  return true;
}

ERPoint2D along(const ERPoint2D& a, const ERPoint2D& c, double t) {
  return ERPoint2D(a.x() + t * (c.x() - a.x()), a.y() + t * (c.y() - a.y()));
}

// 0 outside, 1 through the open box, 3 touching its border only (for an edge that is not wholly
// inside, and for one that is: a chord whose midpoint is strictly inside enters the open box,
// as a convex set holds every chord; one whose midpoint is on the border lies along a side).
int edgeAgainstBox(const ERMinimax2D& box, const ERPoint2D& a, const ERPoint2D& c) {
  double ta, tb;
  if (!clipSegment(box, a, c, ta, tb)) return 0;
  return box.stricklyContains(along(a, c, 0.5 * (ta + tb))) ? 1 : 3;
}

// Even-odd crossing count; the caller knows p is on no edge.
bool insidePolygon(const ERPoint2D* pts, int n, const ERPoint2D& p) {
  bool inside = false;
  for (int i = 0, j = n - 1; i < n; j = i++) {
    const ERPoint2D& a = pts[i];
    const ERPoint2D& b = pts[j];
    if ((a.y() > p.y()) != (b.y() > p.y())) {
      const double x = a.x() + (b.x() - a.x()) * (p.y() - a.y()) / (b.y() - a.y());
      if (p.x() < x) inside = !inside;
    }
  }
  return inside;
}

enum : int { kLeft = 1, kRight = 2, kBottom = 4, kTop = 8 };

int outcode(const ERMinimax2D& b, const ERPoint2D& p) {
  int c = 0;
  if (p.x() < b.xmin())
    c |= kLeft;
  else if (p.x() > b.xmax())
    c |= kRight;
  if (p.y() < b.ymin())
    c |= kBottom;
  else if (p.y() > b.ymax())
    c |= kTop;
  return c;
}

template <class Box, int N>
void printBox(std::ostream& os, const Box& b) {
  const std::streamsize w = os.width();
  os.width(1);
  os << '[';
  os.width(w);
  qorv::detail::printDoubles(os, b.data(), N);
  os.width(1);
  os << ',';
  os.width(w);
  qorv::detail::printDoubles(os, b.data() + N, N);
  os.width(1);
  os << ']';
}

}  // namespace

// ---------------------------------------------------------------------------------------------

ERMinimax2D qorv::Union(const ERMinimax2D& a, const ERMinimax2D& b) { return ERMinimax2D(a) += b; }
ERMinimax3D qorv::Union(const ERMinimax3D& a, const ERMinimax3D& b) { return ERMinimax3D(a) += b; }
ERMinimax2D qorv::intersection(const ERMinimax2D& a, const ERMinimax2D& b) {
  return intersectionOf<ERMinimax2D, 2>(a, b);
}
ERMinimax3D qorv::intersection(const ERMinimax3D& a, const ERMinimax3D& b) {
  return intersectionOf<ERMinimax3D, 3>(a, b);
}
int qorv::RelativePosition(const ERMinimax2D& a, const ERMinimax2D& b) {
  return relativePositionOf<2>(a.data(), b.data());
}
int qorv::RelativePosition(const ERMinimax3D& a, const ERMinimax3D& b) {
  if (a.invalid() || b.invalid()) return 4;
  return relativePositionOf<3>(a.data(), b.data());
}
double qorv::minimumSquaredDistance(const ERMinimax2D& b, const ERPoint2D& p) {
  return minimumSquaredDistanceOf<2>(b.data(), p.data());
}
double qorv::minimumSquaredDistance(const ERMinimax3D& b, const ERPoint3D& p) {
  return minimumSquaredDistanceOf<3>(b.data(), p.data());
}
double qorv::maximumSquaredDistance(const ERMinimax2D& b, const ERPoint2D& p) {
  return maximumSquaredDistanceOf<2>(b.data(), p.data());
}
double qorv::maximumSquaredDistance(const ERMinimax3D& b, const ERPoint3D& p) {
  return maximumSquaredDistanceOf<3>(b.data(), p.data());
}

std::array<ERPoint2D, 4> ERMinimax2D::getVertice() const {
  return {ERPoint2D(v_[0], v_[1]), ERPoint2D(v_[2], v_[1]), ERPoint2D(v_[2], v_[3]),
          ERPoint2D(v_[0], v_[3])};
}

std::array<ERPoint3D, 8> ERMinimax3D::getVertice() const {
  std::array<ERPoint3D, 8> r;
  for (int k = 0; k < 2; ++k) {
    const double z = v_[k == 0 ? 2 : 5];
    r[4 * k + 0] = ERPoint3D(v_[0], v_[1], z);
    r[4 * k + 1] = ERPoint3D(v_[3], v_[1], z);
    r[4 * k + 2] = ERPoint3D(v_[3], v_[4], z);
    r[4 * k + 3] = ERPoint3D(v_[0], v_[4], z);
  }
  return r;
}

int ERMinimax2D::intersect(const ERPoint2D& P, const ERVector2D& V) const {
  return lineMeetsOf<2>(v_, P.data(), V.data());
}

int ERMinimax3D::intersect(const ERPoint3D& P, const ERVector3D& V) const {
  return lineMeetsOf<3>(v_, P.data(), V.data());
}

// ---------------------------------------------------------------------------------------------
// Slab clipping of a line in space.

int ERMinimax3D::clip(const ERPoint3D& P, const ERVector3D& V, double& t0, double& t1) const {
  t0 = -DBL_MAX;
  t1 = DBL_MAX;
  return clip_bounded(P, V, t0, t1) != gmClipMiss;
}

gmClipStatus ERMinimax3D::clip_bounded(const ERPoint3D& P, const ERVector3D& V, double& t0,
                                       double& t1) const {
  // 1e-9, not the equality tolerance: a direction component, not a length.
  constexpr double kParallel = 1e-9;
  const double given0 = t0, given1 = t1;
  bool narrowed = false;
  for (int i = 0; i < 3; ++i) {
    const double p = P.data()[i], v = V.data()[i];
    const double lo = v_[i], hi = v_[3 + i];
    if (std::fabs(v) < kParallel) {
      if (lo <= p && p <= hi) continue;
      t0 = given0, t1 = given1;
      return gmClipMiss;
    }
    // A bound at +-DBL_MAX stands for infinity: its parameter is +-DBL_MAX, not an overflow.
    const double sign = v > 0.0 ? 1.0 : -1.0;
    auto param = [&](double bound) {
      return (bound == DBL_MAX || bound == -DBL_MAX) ? bound * sign : (bound - p) / v;
    };
    double enter = param(lo), leave = param(hi);
    if (v < 0.0) std::swap(enter, leave);
    if (!(enter <= leave && enter <= t1 && leave >= t0)) {
      t0 = given0, t1 = given1;
      return gmClipMiss;
    }
    if (enter <= t0 && leave >= t1) continue;
    t0 = std::max(t0, enter);
    t1 = std::min(t1, leave);
    narrowed = true;
  }
  if (!narrowed) {
    t0 = given0, t1 = given1;
    return gmClipUnchanged;
  }
  return gmClipNarrowed;
}

// ---------------------------------------------------------------------------------------------
// Segments and polygons against a 2D box.

int ERMinimax2D::isVisible(const ERPoint2D& p1, const ERPoint2D& p2) const {
  double ta, tb;
  return clipSegment(*this, p1, p2, ta, tb);
}

ER_MINMAX_POSITION_SEGMENT ERMinimax2D::positionRelative(const ERPoint2D& p1,
                                                         const ERPoint2D& p2) const {
  if (contains(p1) && contains(p2)) return ER_MINMAX_SEGMENT_INSIDE;
  switch (edgeAgainstBox(*this, p1, p2)) {
    case 1:
      return ER_MINMAX_SEGMENT_CROSSING;
    case 3:
      return ER_MINMAX_SEGMENT_TOUCHING;
  }
  return ER_MINMAX_SEGMENT_OUTSIDE;
}

ER_MINMAX_POSITION_POLYGONE ERMinimax2D::positionRelative(const ERPoint2D* pts, int n) const {
  if (pts == nullptr || n <= 0 || !isProper<2>(v_)) return ER_MINMAX_POLYGONE_OUTSIDE;
  bool touching = false;
  for (int i = 0; i < n; ++i) {
    const int r = edgeAgainstBox(*this, pts[i], pts[i + 1 < n ? i + 1 : 0]);
    if (r == 1) return ER_MINMAX_POLYGONE_CROSSING;
    touching = touching || r == 3;
  }
  if (touching) return ER_MINMAX_POLYGONE_TOUCHING;
  // No edge meets the box: it lies wholly on one side, which its centre tells.
  return insidePolygon(pts, n, center_point()) ? ER_MINMAX_POLYGONE_INSIDE
                                               : ER_MINMAX_POLYGONE_OUTSIDE;
}

int qorv::SutherCohen(const ERPoint2D& a, const ERPoint2D& b, const ERMinimax2D& box, ERPoint2D& c,
                ERPoint2D& d) {
  if (!isProper<2>(box.data()) || a.invalid() || b.invalid()) return 0;
  ERPoint2D p = a, q = b;
  int cp = outcode(box, p), cq = outcode(box, q);
  // Each pass moves one end onto a side it was outside of: four passes settle any segment;
  // the bound only guards against rounding that would bounce an end between two sides.
  for (int pass = 0; pass < 8; ++pass) {
    if ((cp | cq) == 0) {
      c = p, d = q;
      return 1;
    }
    if ((cp & cq) != 0) return 0;
    const int out = cp != 0 ? cp : cq;
    double x, y;
    if (out & kTop) {
      x = p.x() + (q.x() - p.x()) * (box.ymax() - p.y()) / (q.y() - p.y());
      y = box.ymax();
    } else if (out & kBottom) {
      x = p.x() + (q.x() - p.x()) * (box.ymin() - p.y()) / (q.y() - p.y());
      y = box.ymin();
    } else if (out & kRight) {
      y = p.y() + (q.y() - p.y()) * (box.xmax() - p.x()) / (q.x() - p.x());
      x = box.xmax();
    } else {
      y = p.y() + (q.y() - p.y()) * (box.xmin() - p.x()) / (q.x() - p.x());
      x = box.xmin();
    }
    if (out == cp) {
      p = ERPoint2D(x, y);
      cp = outcode(box, p);
    } else {
      q = ERPoint2D(x, y);
      cq = outcode(box, q);
    }
  }
  return 0;
}

int qorv::SutherCohen(const ERPoint2D& P, const ERVector2D& V, const ERMinimax2D& box, ERPoint2D& c,
                ERPoint2D& d) {
  if (!isProper<2>(box.data()) || P.invalid()) return 0;
  const double vv = V * V;
  if (vv == 0.0) {
    if (!box.contains(P)) return 0;
    c = d = P;
    return 1;
  }
  // A segment of the line that spans the box's shadow on it, with a margin on both sides.
  double tmin = HUGE_VAL, tmax = -HUGE_VAL;
  for (const ERPoint2D& corner : box.getVertice()) {
    const double t = ERVector2D(P, corner) * V / vv;
    tmin = std::min(tmin, t);
    tmax = std::max(tmax, t);
  }
  const double margin = std::max(tmax - tmin, 1.0);
  return SutherCohen(P + (tmin - margin) * V, P + (tmax + margin) * V, box, c, d);
}

// ---------------------------------------------------------------------------------------------
// Persistence and text.

#define QORV_BOX_IO(T, N)                                                        \
  void T::saveGuts(ERFile& f) const { qorv::detail::saveDoubles(f, v_, kSize); } \
  void T::restoreGuts(ERFile& f) { qorv::detail::restoreDoubles(f, v_, kSize); } \
  void T::printOn(std::ostream& os) const { printBox<T, N>(os, *this); }         \
  ERFile& operator<<(ERFile& f, const T& v) { return v.saveGuts(f), f; }         \
  ERFile& operator>>(ERFile& f, T& v) { return v.restoreGuts(f), f; }            \
  CArchive& operator<<(CArchive& ar, const T& v) {                               \
    return qorv::detail::storeDoubles(ar, v.data(), T::kSize), ar;               \
  }                                                                              \
  CArchive& operator>>(CArchive& ar, T& v) {                                     \
    return qorv::detail::loadDoubles(ar, v.data(), T::kSize), ar;                \
  }                                                                              \
  std::ostream& operator<<(std::ostream& os, const T& v) { return v.printOn(os), os; }

QORV_BOX_IO(ERMinimax2D, 2)
QORV_BOX_IO(ERMinimax3D, 3)

#undef QORV_BOX_IO
