// Polylines: one template body (PolylineBody) for the plane and space classes.
#include "qorv/curves/polylines.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "qorv/freeform/knot_vector.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/persistence/file.h"

using QuickAlgebra::ERVec;

QORV_DEFINE_CLASS(ERPolyline2D);
QORV_DEFINE_CLASS(ERPolyline3D);
QORV_DEFINE_CLASS(ERPolygone2D);
QORV_DEFINE_CLASS(ERPolygone3D);
QORV_DEFINE_COPYABLE(ERPolygone2D);
QORV_DEFINE_COPYABLE(ERPolygone3D);

namespace qorv::detail {

namespace {
template <class Point>
void savePointArray(ERFile& f, const ERVec<Point>& pts) {
  f.Write(static_cast<long>(pts.length() * 8 * Point::kSize));
  for (int i = 0; i < pts.length(); ++i)
    for (int k = 0; k < Point::kSize; ++k) f.Write(pts[i].data()[k]);
}

template <class Point>
int restorePointArray(ERFile& f, ERVec<Point>& pts) {
  try {
    long bytes = -1;
    if (!f.Read(bytes) || bytes < 0 || bytes % (8 * Point::kSize) != 0) return 0;
    const std::uint64_t end = f.GetLength(), position = f.GetPosition();
    if (position > end || static_cast<std::uint64_t>(bytes) > end - position) return 0;
    const int n = static_cast<int>(bytes / (8 * Point::kSize));
    ERVec<Point> read;
    read.resize(n);
    for (int i = 0; i < n; ++i)
      for (int k = 0; k < Point::kSize; ++k)
        if (!f.Read(read[i].data()[k])) return 0;
    pts = read;
    return 1;
  } catch (::qorv::platform::CFileException&) {
    return 0;
  }
}

template <class Point>
void printPointArray(std::ostream& os, const ERVec<Point>& pts) {
  os << "(" << pts.length() << ")[";
  for (int i = 0; i < pts.length(); ++i) os << (i ? "," : "") << pts[i];
  os << "]" << '\n';
}
}  // namespace

void savePoints(ERFile& f, const ERVec<ERPoint2D>& pts) { savePointArray(f, pts); }
void savePoints(ERFile& f, const ERVec<ERPoint3D>& pts) { savePointArray(f, pts); }
int restorePoints(ERFile& f, ERVec<ERPoint2D>& pts) { return restorePointArray(f, pts); }
int restorePoints(ERFile& f, ERVec<ERPoint3D>& pts) { return restorePointArray(f, pts); }
void printPoints(std::ostream& os, const ERVec<ERPoint2D>& pts) { printPointArray(os, pts); }
void printPoints(std::ostream& os, const ERVec<ERPoint3D>& pts) { printPointArray(os, pts); }

template <class Point>
bool differs(const Point& a, const Point& b, double tol) {
  for (int k = 0; k < Point::kSize; ++k)
    if (!(std::fabs(a.data()[k] - b.data()[k]) <= tol)) return true;
  return false;
}

template <class Point>
struct PolylineBody {
  // The constructor's rule: with 3 points or more, a point equal (exactly) to the previous
  // input point is dropped.
  static ERVec<Point> construct(const ERVec<Point>& in) {
    if (in.length() < 3) return in;
    ERVec<Point> out;
    out.append(in[0]);
    for (int i = 1; i < in.length(); ++i)
      if (in[i] != in[i - 1]) out.append(in[i]);
    return out;
  }

  static ERVec<Point> cleaned(const ERVec<Point>& in) {
    if (in.length() == 0) return in;
    ERVec<Point> kept;
    kept.append(in[0]);
    for (int i = 1; i < in.length(); ++i)
      if (differs(in[i], kept[kept.length() - 1], 1e-11)) kept.append(in[i]);
    return construct(kept);
  }

  template <class Info, class Vector>
  static Info ptCur(const ERVec<Point>& p, double t) {
    const int n = p.length();
    Info info;
    info.setParameter(t);
    info.setSens(1);
    if (n == 0) return info;
    if (n == 1) {
      info.setPoint(p[0]);
      return info;
    }
    int i0 = 0;
    if (t >= n - 1) {
      i0 = n - 2;
    } else if (t > 0) {
      i0 = static_cast<int>(std::floor(t));
      if (i0 == t) {  // an interior vertex
        info.setPoint(p[i0]);
        info.setTangente(((p[i0] - p[i0 - 1]) + (p[i0 + 1] - p[i0])) * 0.5);
        return info;
      }
    }
    const Vector d = p[i0 + 1] - p[i0];
    info.setPoint(p[i0] + d * (t - i0));
    info.setTangente(d);
    return info;
  }

  template <class Box>
  static int project(const ERVec<Point>& p, const Point& q, ERVec<double>& params, double tol) {
    params.clear();
    const int n = p.length();
    if (n == 0) return 0;
    if (tol > 0.0) {
      Box pb;
      pb.Update(q);
      pb.Inflate(tol);
      if (qorv::RelativePosition(pb, Box(p)) == 0) return 0;
    }
    for (int i = 0; i < n; ++i) {
      const Point& a = p[i];
      const Point& b = p[(i + 1) % n];
      if (!differs(a, b, 1e-11)) continue;
      const auto d = b - a;
      const double len2 = d * d;
      const double s0 = ((q - a) * d) / len2;
      const Point foot = a + d * s0;
      if (tol > 0.0 && qorv::distance(foot, q) > tol) continue;
      int axis = 0;
      for (int k = 1; k < Point::kSize; ++k)
        if (std::fabs(d.data()[k]) >= std::fabs(d.data()[axis])) axis = k;
      const double s = (foot.data()[axis] - a.data()[axis]) / d.data()[axis];
      if (s >= 0.0 && s < 1.0) params.append(i + s);
    }
    return params.length();
  }

  static double length(const ERVec<Point>& p, double lo, double hi) {
    double sum = 0.0;
    const int n = p.length();
    for (double i = std::max(0.0, lo); i < std::min<double>(n - 1, hi); i += 1.0) {
      const int k = static_cast<int>(i);
      sum += qorv::distance(p[k], p[k + 1]);
    }
    return sum;
  }

  template <class Poly, class Finite>
  static int split(const ERVec<Point>& p, t_SmartPtr<Finite>& first, t_SmartPtr<Finite>& second,
                   double u, const Poly& self) {
    const int n = p.length();
    if (!(u > 0.0 && u < n - 1)) {
      first = nullptr, second = nullptr;
      return 0;
    }
    const int k = static_cast<int>(std::floor(u));
    const Point cut = self(u);
    ERVec<Point> a, b;
    for (int i = 0; i <= k; ++i) a.append(p[i]);
    if (u != k) a.append(cut);
    b.append(u != k ? cut : p[k]);
    for (int i = k + 1; i < n; ++i) b.append(p[i]);
    Poly* pa = Poly::castdown(self.getCopy());
    Poly* pb = Poly::castdown(self.getCopy());
    pa->points(a), pb->points(b);
    first = t_SmartPtr<Finite>(pa), second = t_SmartPtr<Finite>(pb);
    return 1;
  }
};

}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
#define QORV_POLYLINE_BODIES(Class, Finite, Point, Vector, Info, Box, Nurbs, Pole)             \
  Class::Class(const ERVec<Point>& pts)                                                        \
      : points_(qorv::detail::PolylineBody<Point>::construct(pts)) {}                          \
  int Class::isClosed() const {                                                                \
    const int n = points_.length();                                                            \
    return n > 0 && !qorv::detail::differs(points_[0], points_[n - 1], 1e-11);                 \
  }                                                                                            \
  void Class::cleanUp() { points_ = qorv::detail::PolylineBody<Point>::cleaned(points_); }     \
  Info Class::PtCur(double t) const {                                                          \
    return qorv::detail::PolylineBody<Point>::ptCur<Info, Vector>(points_, t);                 \
  }                                                                                            \
  int Class::ProjectPoint(const Point& p, ERVec<double>& params, double tol) const {           \
    return qorv::detail::PolylineBody<Point>::project<Box>(points_, p, params, tol);           \
  }                                                                                            \
  double Class::arcLength(const ERLimites& range, double) const {                              \
    return qorv::detail::PolylineBody<Point>::length(points_, std::trunc(range.start()),       \
                                                     std::trunc(range.end()));                 \
  }                                                                                            \
  double Class::arcLength(double) const {                                                      \
    return qorv::detail::PolylineBody<Point>::length(points_, 0.0, points_.length());          \
  }                                                                                            \
  Class::NurbsPtr Class::ConvertToNurbs() const {                                              \
    const int n = points_.length();                                                            \
    if (n < 2) return {};                                                                      \
    ERVec<Pole> poles;                                                                         \
    for (int i = 0; i < n; ++i) poles.append(Pole(points_[i], 1.0));                           \
    return NurbsPtr(new Nurbs(poles, ERKnotVector(1, n, ERLimites(0.0, 1.0))));                \
  }                                                                                            \
  int Class::splitAt(t_SmartPtr<Finite>& first, t_SmartPtr<Finite>& second, double u) const {  \
    return qorv::detail::PolylineBody<Point>::split(points_, first, second, u, *this);         \
  }                                                                                            \
  int Class::GetDiscontinuities(int, ERVec<double>& params) const {                            \
    params.resize(points_.length());                                                           \
    for (int i = 0; i < points_.length(); ++i) params[i] = i;                                  \
    return 1;                                                                                  \
  }                                                                                            \
  void Class::reverse() {                                                                      \
    ERVec<Point> r;                                                                            \
    for (int i = points_.length() - 1; i >= 0; --i) r.append(points_[i]);                      \
    points_ = r;                                                                               \
  }                                                                                            \
  void Class::scale(double s) {                                                                \
    for (int i = 0; i < points_.length(); ++i) points_[i] *= s;                                \
  }                                                                                            \
  void Class::translate(const Point& v) {                                                      \
    for (int i = 0; i < points_.length(); ++i) points_[i] += v;                                \
  }                                                                                            \
  QORV_DEFINE_COPYABLE(Class)                                                                  \
  void Class::printOn(std::ostream& os) const { qorv::detail::printPoints(os, points_); }      \
  void Class::saveGuts(ERFile& f) const {                                                      \
    qorv::detail::savePoints(f, points_);                                                      \
    Finite::saveGuts(f);                                                                       \
  }                                                                                            \
  void Class::restoreGuts(ERFile& f) {                                                         \
    if (qorv::detail::restorePoints(f, points_)) Finite::restoreGuts(f);                       \
  }                                                                                            \
  std::uint32_t Class::binaryStoreSize() const {                                               \
    return Finite::binaryStoreSize() + qorv::detail::pointsStoreSize(points_);                 \
  }                                                                                            \
  void Class::AssertValid() const {                                                            \
    for (int i = 0; i < points_.length(); ++i)                                                 \
      for (int k = 0; k < Point::kSize; ++k) QORV_ASSERT(std::isfinite(points_[i].data()[k])); \
  }

QORV_POLYLINE_BODIES(ERPolyline2D, ERFiniteEntity2DWF, ERPoint2D, ERVector2D, ERInfoPoint2D,
                     ERMinimax2D, ERCpoleNURBS2D, ERPole2DH)
QORV_POLYLINE_BODIES(ERPolyline3D, ERFiniteEntity3DWF, ERPoint3D, ERVector3D, ERInfoPoint3DWF,
                     ERMinimax3D, ERCpoleNURBS3D, ERPole3DH)

void ERPolyline2D::transformFrom(const ERTransfo2D& T) {
  for (int i = 0; i < points_.length(); ++i) points_[i] = T >> points_[i];
}
void ERPolyline2D::transformTo(const ERTransfo2D& T) {
  for (int i = 0; i < points_.length(); ++i) points_[i] = T << points_[i];
}
t_SmartPtr<EREntity3DWF> ERPolyline2D::get3DEquiv(const ERPmIsometrie3D& frame) const {
  ERVec<ERPoint3D> pts;
  for (int i = 0; i < points_.length(); ++i)
    pts.append(frame >> points_[i].castToPoint3D(Coord3D::Z, 0.0));
  auto* out = new ERPolyline3D;
  out->points(pts);
  return t_SmartPtr<EREntity3DWF>(out);
}
void ERPolyline3D::transformFrom(const ERPmSimilitude3D& T) {
  for (int i = 0; i < points_.length(); ++i) points_[i] = T >> points_[i];
}
void ERPolyline3D::transformTo(const ERPmSimilitude3D& T) {
  for (int i = 0; i < points_.length(); ++i) points_[i] = T << points_[i];
}
t_SmartPtr<EREntity2DWF> ERPolyline3D::get2DEntProjectedOn(const ERPmIsometrie3D& frame) const {
  ERVec<ERPoint2D> pts;
  for (int i = 0; i < points_.length(); ++i)
    pts.append((frame << points_[i]).castToPoint2D(Coord3D::Z));
  auto* out = new ERPolyline2D;
  out->points(pts);
  return t_SmartPtr<EREntity2DWF>(out);
}
