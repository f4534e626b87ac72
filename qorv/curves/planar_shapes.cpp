// Rectangles, regular polygons, rounded slots and their space forms.
#include "qorv/curves/planar_shapes.h"
#include "qorv/foundation/numerics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include "qorv/curves/lines.h"
#include "qorv/curves/polylines.h"
#include "qorv/persistence/file.h"

using QuickAlgebra::ERVec;

QORV_DEFINE_CLASS(ERRectangle2D);
QORV_DEFINE_CLASS(ERRegularPolygon2D);
QORV_DEFINE_CLASS(ERRoundedSlot2D);
QORV_DEFINE_CLASS(ERRectangle3D);
QORV_DEFINE_CLASS(ERRegularPolygon3D);
QORV_DEFINE_CLASS(ERRoundedSlot3D);
QORV_DEFINE_COPYABLE(ERRoundedSlot2D);

namespace {

using qorv::detail::kPi;

ERVector2D unit(const ERVector2D& v, const ERVector2D& fallback) {
  ERVector2D u = v;
  u.normalize();
  return u.norme() > 0.0 ? u : fallback;
}

double cross(const ERVector2D& a, const ERVector2D& b) { return a.x() * b.y() - a.y() * b.x(); }

bool agree(const ERPoint2D& a, const ERPoint2D& b, double tol) {
  return std::fabs(a.x() - b.x()) <= tol && std::fabs(a.y() - b.y()) <= tol;
}

// t brought into [0, n] by whole turns, as the while loops of the outline parameters would.
double wrap(double t, double n) {
  if (!std::isfinite(t)) return std::numeric_limits<double>::quiet_NaN();
  if (t < 0.0) {
    t = std::fmod(t, n);
    if (t < 0.0) t += n;
  } else if (t > n) {
    t = std::fmod(t, n);
    if (t == 0.0) t = n;
  }
  return t;
}

// The point on side k of the closed outline, and the side vector as tangent: k the first side
// with k <= t <= k + 1, so that a whole t ends side t - 1 (t = 0 starts side 0).
ERInfoPoint2D onOutline(const ERVec<ERPoint2D>& v, double t) {
  const int n = v.length();
  ERInfoPoint2D info;
  info.setSens(1);
  if (n == 0) {
    info.setParameter(t);
    return info;
  }
  t = wrap(t, n);
  info.setParameter(t);
  const int k = std::isnan(t) ? 0 : std::clamp(static_cast<int>(std::ceil(t)) - 1, 0, n - 1);
  const ERVector2D side = v[(k + 1) % n] - v[k];
  info.setPoint(v[k] + side * (t - k));
  info.setTangente(side);
  return info;
}

ERCompCurve2D outline(const ERVec<ERPoint2D>& v) {
  ERCompCurve2D c;
  const int n = v.length();
  for (int i = 0; i < n; ++i) c.append(ERSegment2D(v[i], v[(i + 1) % n]), 1e-7);
  return c;
}

EREntity::DISTMINRES signedProject(const ERVec<ERPoint2D>& v, const ERPoint2D& p, ERPoint2D& foot,
                                   double& d, int& edge) {
  const EREntity::DISTMINRES r = qorv::Projection(p, v, foot, d, edge);
  if (r != EREntity::DISTMIN_NONE) {
    const int n = v.length();
    if (cross(v[(edge + 1) % n] - v[edge], p - v[edge]) > 0.0) d = -d;
  }
  return r;
}

void printLine(std::ostream& os, const char* label) { os << label << '\n'; }
template <class V>
void printLine(std::ostream& os, const char* label, const V& value) {
  os << label << value << '\n';
}

}  // namespace

// ---------------------------------------------------------------------------------------------
namespace qorv {

EREntity::DISTMINRES Projection(const ERPoint2D& p, const ERVec<ERPoint2D>& verts, ERPoint2D& foot,
                                double& distance, int& edge) {
  const int n = verts.length();
  const ERPoint2D* v = n > 0 ? &verts[0] : nullptr;
  EREntity::DISTMINRES result = EREntity::DISTMIN_NONE;
  double best = std::numeric_limits<double>::infinity();
  // Ties are read at 1e-11, scaled down with outlines smaller than 1 (every distance of a
  // 1e-78 outline is below 1e-11: all its edges would tie); that scale needs the outline's
  // extent, taken only when a tie is in question: the culling below uses its upper bound.
  double tieScale = -1.0;
  const auto tieOf = [&] {
    if (tieScale < 0.0) {
      double x0 = std::numeric_limits<double>::infinity(), x1 = -x0, y0 = x0, y1 = -x0;
      for (int i = 0; i < n; ++i) {
        x0 = std::min(x0, v[i].x()), x1 = std::max(x1, v[i].x());
        y0 = std::min(y0, v[i].y()), y1 = std::max(y1, v[i].y());
      }
      const double ex = x1 - x0, ey = y1 - y0;
      tieScale = n == 0 || ex >= 1.0 || ey >= 1.0 ? 1e-11 : 1e-11 * std::hypot(ex, ey);
    }
    return tieScale;
  };
  constexpr double kTieBound = 1.5e-11;  // above every tie: 1e-11 hypot(ex, ey) with ex, ey < 1
  // The nearest vertex bounds the answer: edges whose box lies beyond it (and a tie) can
  // neither win nor tie, and are skipped on comparisons alone (exact, and free of overflow).
  // Four running minima, not one: the same minimum (a NaN is passed over by each), without
  // waiting on the previous comparison at every vertex. A rectangle's few edges cost less
  // than the bound: they are culled by the best edge so far alone.
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr int kFew = 8;
  double bound = kInf;
  if (n > kFew) {
    double m[4] = {kInf, kInf, kInf, kInf};
    const auto d2 = [&](int i) {
      const double dx = v[i].x() - p.x(), dy = v[i].y() - p.y();
      return dx * dx + dy * dy;
    };
    int i4 = 0;
    for (; i4 + 4 <= n; i4 += 4)
      for (int k = 0; k < 4; ++k) m[k] = std::min(m[k], d2(i4 + k));
    for (; i4 < n; ++i4) m[0] = std::min(m[0], d2(i4));
    const double near2 = std::min(std::min(m[0], m[1]), std::min(m[2], m[3]));
    if (std::isfinite(near2)) bound = std::sqrt(near2) * (1 + 1e-15) + kTieBound;
  }
  // qorv::distance(p, q), its common case inline.
  const auto toVertex = [&](const ERPoint2D& q) {
    const double dx = q.x() - p.x(), dy = q.y() - p.y(), s2 = dx * dx + dy * dy;
    return s2 >= 0x1p-968 && s2 <= 0x1p968 ? std::sqrt(s2) : qorv::distance(p, q);
  };
  // An edge's length, the foot's parameter and the distance to its line.
  struct Along {
    double len, s, line;
  };
  const auto along = [&](int i) {
    const ERPoint2D& a = v[i];
    const ERVector2D e = v[i + 1 < n ? i + 1 : 0] - a;
    const double len2 = e.x() * e.x() + e.y() * e.y();
    // sqrt of the plain sum where it neither overflows nor underflows, else the scaled length.
    Along g{len2 > 1e-290 && len2 < 1e290 ? std::sqrt(len2) : e.norme(), 0.0, 0.0};
    if (g.len > 0.0) {
      g.s = ((p - a) * e) / (g.len * g.len);
      g.line = std::fabs(cross(e, p - a)) / g.len;
    }
    return g;
  };
  // A few edges: every one's quantities first, each independent of the others (their square
  // roots and quotients overlap), then the same choice as below; many: made only for the edges
  // the culling keeps.
  Along few[kFew];
  if (n <= kFew)
    for (int i = 0; i < n; ++i) few[i] = along(i);
  for (int i = 0; i < n; ++i) {
    const ERPoint2D& a = v[i];
    const ERPoint2D& b = v[i + 1 < n ? i + 1 : 0];
    const double gx = std::max(std::min(a.x(), b.x()) - p.x(), p.x() - std::max(a.x(), b.x()));
    const double gy = std::max(std::min(a.y(), b.y()) - p.y(), p.y() - std::max(a.y(), b.y()));
    const double reach = std::min(best + kTieBound, bound);
    if (gx > reach || gy > reach) continue;
    const Along g = n <= kFew ? few[i] : along(i);
    if (!(g.len > 0.0)) {  // a point-like edge: its vertex
      const double dv = toVertex(a);
      if (dv < best) best = dv, foot = a, edge = i, result = EREntity::DISTMIN_NORMAL;
      continue;
    }
    const double s = g.s, line = g.line;
    if (!(line <= best)) continue;
    if (s >= 0.0 && s < 1.0) {
      const ERPoint2D f = a + (b - a) * s;
      if (std::fabs(line - best) <= kTieBound && std::fabs(line - best) <= tieOf()) {
        if (!agree(f, foot, tieOf())) result = EREntity::DISTMIN_DEGENERATE;
      } else {
        best = line, foot = f, edge = i, result = EREntity::DISTMIN_NORMAL;
      }
    } else {
      const ERPoint2D& end = s < 0.0 ? a : b;
      const double dv = toVertex(end);
      if (dv < best) best = dv, foot = end, edge = i, result = EREntity::DISTMIN_NORMAL;
    }
  }
  if (result != EREntity::DISTMIN_NONE) distance = best;
  return result;
}

void Distances(const ERVec<ERPoint2D>& verts, const double* xy, std::size_t n, double* out) {
  const int m = verts.length();
  // The edges once: first vertex, vector and inverse squared length (0 for a point-like edge,
  // whose clamped foot is then its vertex).
  std::vector<double> edges(5 * std::size_t(m) + 1);
  double* ax = edges.data();
  double *ay = ax + m, *ex = ay + m, *ey = ex + m, *inv = ey + m;
  double extent = 0.0;
  for (int i = 0; i < m; ++i) {
    const ERPoint2D& a = verts[i];
    const ERPoint2D& b = verts[i + 1 < m ? i + 1 : 0];
    ax[i] = a.x(), ay[i] = a.y(), ex[i] = b.x() - a.x(), ey[i] = b.y() - a.y();
    const double len2 = ex[i] * ex[i] + ey[i] * ey[i];
    inv[i] = len2 > 0.0 ? 1.0 / len2 : 0.0;
    extent = std::max(extent, std::max(std::fabs(a.x()), std::fabs(a.y())));
  }
  // Squares of such outlines leave the range: every point goes to Projection.
  const bool plain = m > 0 && extent <= 0x1p480;
  // A block of points against each edge in turn (the loop over the block vectorises): the
  // squared distance to the clamped foot, its least kept.
  constexpr std::size_t kBlock = 256;
  double px[kBlock], py[kBlock], best[kBlock];
  for (std::size_t b0 = 0; plain && b0 < n; b0 += kBlock) {
    const std::size_t len = std::min(kBlock, n - b0);
    for (std::size_t k = 0; k < len; ++k)
      px[k] = xy[2 * (b0 + k)], py[k] = xy[2 * (b0 + k) + 1], best[k] = HUGE_VAL;
    for (int i = 0; i < m; ++i) {
      const double x0 = ax[i], y0 = ay[i], vx = ex[i], vy = ey[i], w = inv[i];
      for (std::size_t k = 0; k < len; ++k) {
        const double wx = px[k] - x0, wy = py[k] - y0;
        const double t = std::min(std::max((wx * vx + wy * vy) * w, 0.0), 1.0);
        const double dx = wx - t * vx, dy = wy - t * vy;
        best[k] = std::min(best[k], dx * dx + dy * dy);
      }
    }
    for (std::size_t k = 0; k < len; ++k) out[b0 + k] = best[k];
  }
  // The square root where the square is in range; Projection (scaled throughout) elsewhere: a
  // point far out, one on the outline or nearly (its square may have underflowed), NaN.
  for (std::size_t k = 0; k < n; ++k) {
    const double s = plain ? out[k] : 0.0;
    if (s >= 0x1p-968 && s <= 0x1p968) {
      out[k] = std::sqrt(s);
      continue;
    }
    ERPoint2D foot;
    double d = std::numeric_limits<double>::quiet_NaN();
    int edge = 0;
    if (Projection(ERPoint2D(xy[2 * k], xy[2 * k + 1]), verts, foot, d, edge) ==
        EREntity::DISTMIN_NONE)
      d = std::numeric_limits<double>::quiet_NaN();
    out[k] = d;
  }
}

}  // namespace qorv

// ---------------------------------------------------------------------------------------------
// The vertex shapes' shared members.
#define QORV_VERTEX_SHAPE_BODIES(Class)                                                          \
  EREntity::DISTMINRES Class::Project(const ERPoint2D& p, ERPoint2D& foot, double& d, int& edge) \
      const {                                                                                    \
    return signedProject(points_, p, foot, d, edge);                                             \
  }                                                                                              \
  EREntity::DISTMINRES Class::SignedMinimalDistance(const ERPoint2D& p, double& d) const {       \
    ERPoint2D foot;                                                                              \
    int edge = 0;                                                                                \
    return signedProject(points_, p, foot, d, edge);                                             \
  }                                                                                              \
  bool Class::ProjectPt(const ERPoint2D& p, ERPoint2D& foot) const {                             \
    double d = 0.0;                                                                              \
    int edge = 0;                                                                                \
    return qorv::Projection(p, points_, foot, d, edge) == DISTMIN_NORMAL;                        \
  }                                                                                              \
  bool Class::Get_Entity_Number(const ERPoint2D& p, int& edge) const {                           \
    ERPoint2D foot;                                                                              \
    double d = 0.0;                                                                              \
    return qorv::Projection(p, points_, foot, d, edge) == DISTMIN_NORMAL;                        \
  }                                                                                              \
  ERCompCurve2D Class::composite_curve() const { return outline(points_); }                      \
  void Class::scale(double s) {                                                                  \
    for (int i = 0; i < points_.length(); ++i) points_[i] *= s;                                  \
  }                                                                                              \
  void Class::translate(const ERPoint2D& v) {                                                    \
    for (int i = 0; i < points_.length(); ++i) points_[i] += v;                                  \
  }                                                                                              \
  void Class::transformFrom(const ERTransfo2D& T) {                                              \
    for (int i = 0; i < points_.length(); ++i) points_[i] = T >> points_[i];                     \
  }                                                                                              \
  void Class::transformTo(const ERTransfo2D& T) {                                                \
    for (int i = 0; i < points_.length(); ++i) points_[i] = T << points_[i];                     \
  }                                                                                              \
  QORV_DEFINE_COPYABLE(Class)                                                                    \
  void Class::saveGuts(ERFile& f) const {                                                        \
    EREntity2DWF::saveGuts(f);                                                                   \
    qorv::detail::savePoints(f, points_);                                                        \
  }                                                                                              \
  void Class::restoreGuts(ERFile& f) {                                                           \
    EREntity2DWF::restoreGuts(f);                                                                \
    qorv::detail::restorePoints(f, points_);                                                     \
  }                                                                                              \
  std::uint32_t Class::binaryStoreSize() const {                                                 \
    return EREntity2DWF::binaryStoreSize() + qorv::detail::pointsStoreSize(points_);             \
  }

QORV_VERTEX_SHAPE_BODIES(ERRectangle2D)
QORV_VERTEX_SHAPE_BODIES(ERRegularPolygon2D)

// ---------------------------------------------------------------------------------------------
ERRectangle2D::ERRectangle2D(const ERPoint2D& C, const ERVector2D& direction, double L, double W) {
  const ERVector2D D = unit(direction, ERVector2D(1.0, 0.0));
  const ERVector2D N(-D.y(), D.x());
  points_.append(C - D * (L / 2) - N * (W / 2));
  points_.append(C + D * (L / 2) - N * (W / 2));
  points_.append(C + D * (L / 2) + N * (W / 2));
  points_.append(C - D * (L / 2) + N * (W / 2));
}

double ERRectangle2D::length() const {
  return points_.length() >= 2 ? qorv::distance(points_[0], points_[1]) : 0.0;
}
double ERRectangle2D::width() const {
  return points_.length() >= 3 ? qorv::distance(points_[1], points_[2]) : 0.0;
}
ERPoint2D ERRectangle2D::centre() const {
  return points_.length() >= 3 ? qorv::milieu(points_[0], points_[2]) : ERPoint2D();
}
ERVector2D ERRectangle2D::main_direction() const {
  return points_.length() >= 4 ? unit(points_[1] - points_[0], ERVector2D(1, 0)) : ERVector2D(1, 0);
}
ERVector2D ERRectangle2D::auxiliary_direction() const {
  return points_.length() >= 4 ? unit(points_[3] - points_[0], ERVector2D(0, 1)) : ERVector2D(0, 1);
}
ERInfoPoint2D ERRectangle2D::PtCur(double t) const { return onOutline(points_, t); }
void ERRectangle2D::reverse() {
  if (points_.length() != 4) return;
  ERVec<ERPoint2D> r;
  r.append(points_[1]), r.append(points_[0]), r.append(points_[3]), r.append(points_[2]);
  points_ = r;
}
t_SmartPtr<EREntity3DWF> ERRectangle2D::get3DEquiv(const ERPmIsometrie3D& frame) const {
  return t_SmartPtr<EREntity3DWF>(new ERRectangle3D(*this, frame));
}
void ERRectangle2D::printOn(std::ostream& os) const {
  printLine(os, "Rectangle 2D:");
  static const char* const labels[4] = {"            : Corner1 ", "            : Corner2 ",
                                        "            : Corner3 ", "            : Corner4 "};
  for (int i = 0; i < std::min(4, points_.length()); ++i) printLine(os, labels[i], points_[i]);
  printLine(os, "            : Length  ", length());
  printLine(os, "            : Width   ", width());
}

// ---------------------------------------------------------------------------------------------
namespace {
// Sides equal to the first within 1e-9 and vertices at the first one's distance from the
// barycentre within 1e-9.
bool isRegular(const ERVec<ERPoint2D>& v) {
  const int n = v.length();
  if (n < 3) return false;
  ERPoint2D g;
  for (int i = 0; i < n; ++i) g += v[i];
  g = g / n;
  const double side = qorv::distance(v[0], v[1]), radius = qorv::distance(v[0], g);
  for (int i = 0; i < n; ++i) {
    if (!(std::fabs(qorv::distance(v[i], v[(i + 1) % n]) - side) <= 1e-9)) return false;
    if (!(std::fabs(qorv::distance(v[i], g) - radius) <= 1e-9)) return false;
  }
  return true;
}

ERVec<ERPoint2D> counterClockwise(const ERVec<ERPoint2D>& v) {
  double area = 0.0;
  const int n = v.length();
  for (int i = 0; i < n; ++i) area += cross(v[i] - ERPoint2D(), v[(i + 1) % n] - ERPoint2D());
  if (area >= 0.0) return v;
  ERVec<ERPoint2D> r;
  for (int i = n - 1; i >= 0; --i) r.append(v[i]);
  return r;
}
}  // namespace

ERRegularPolygon2D::ERRegularPolygon2D(const ERPoint2D& C, const ERVector2D& direction, double side,
                                       int n) {
  if (n < 3 || n > 1000000 || side == 0.0 || !std::isfinite(side)) return;
  const double a0 = qorv::anglePI(direction, ERVector2D(1.0, 0.0));
  if (!std::isfinite(a0)) return;
  const double R = side / (2.0 * std::cos((kPi - 2.0 * kPi / n) / 2.0));
  for (int i = 0; i < n; ++i) {
    const double a = a0 + 2.0 * kPi * i / n;
    points_.append(ERPoint2D(C.x() + R * std::cos(a), C.y() + R * std::sin(a)));
  }
}

ERRegularPolygon2D::ERRegularPolygon2D(const ERVec<ERPoint2D>& vertices) {
  if (isRegular(vertices)) points_ = counterClockwise(vertices);
}

ERPoint2D ERRegularPolygon2D::barycenter() const {
  const int n = points_.length();
  if (n < 3) return ERPoint2D();
  ERPoint2D g;
  for (int i = 0; i < n; ++i) g += points_[i];
  return g / n;
}
int ERRegularPolygon2D::nb_side() const { return points_.length() >= 3 ? points_.length() : 0; }
double ERRegularPolygon2D::length_side() const {
  return points_.length() >= 3 ? qorv::distance(points_[0], points_[1]) : 0.0;
}
ERCircle2D ERRegularPolygon2D::outside_circle() const {
  if (points_.length() < 3) return ERCircle2D(ERPoint2D(), 0.0);
  const ERPoint2D g = barycenter();
  return ERCircle2D(g, qorv::distance(g, points_[0]));
}
ERCircle2D ERRegularPolygon2D::inside_circle() const {
  if (points_.length() < 3) return ERCircle2D(ERPoint2D(), 0.0);
  const ERPoint2D g = barycenter();
  const ERVector2D e = points_[1] - points_[0];
  const double len = e.norme();
  const double r = len > 0.0 ? std::fabs(cross(e, g - points_[0])) / len : 0.0;
  return ERCircle2D(g, r);
}
int ERRegularPolygon2D::offset(double d) {
  const int n = points_.length();
  if (n < 3) return 0;
  const ERPoint2D g = barycenter();
  const double R = qorv::distance(points_[0], g);
  const double k = 1.0 + d / (std::cos(kPi / n) * R);
  if (!std::isfinite(k)) return 0;
  ERVec<ERPoint2D> v;
  for (int i = 0; i < n; ++i) v.append(g + (points_[i] - g) * k);
  if (!isRegular(v)) return 0;
  points_ = counterClockwise(v);
  return 1;
}
ERVector2D ERRegularPolygon2D::main_direction() const {
  return points_.length() >= 3 ? unit(points_[1] - points_[0], ERVector2D(1, 0)) : ERVector2D(1, 0);
}
ERVector2D ERRegularPolygon2D::auxiliary_direction() const {
  if (points_.length() < 3) return ERVector2D(0, 1);
  const ERVector2D d = main_direction();
  return ERVector2D(-d.y(), d.x());
}
ERInfoPoint2D ERRegularPolygon2D::PtCur(double t) const { return onOutline(points_, t); }
void ERRegularPolygon2D::reverse() {
  ERVec<ERPoint2D> r;
  for (int i = points_.length() - 1; i >= 0; --i) r.append(points_[i]);
  points_ = r;
}
t_SmartPtr<EREntity3DWF> ERRegularPolygon2D::get3DEquiv(const ERPmIsometrie3D& frame) const {
  return t_SmartPtr<EREntity3DWF>(new ERRegularPolygon3D(*this, frame));
}
void ERRegularPolygon2D::printOn(std::ostream& os) const {
  printLine(os, "Regular Polygon 2D: ");
  printLine(os, "Barycenter        : ", barycenter());
  printLine(os, "Number of side    : ", nb_side());
  printLine(os, "Length of side    : ", length_side());
}

// ---------------------------------------------------------------------------------------------
void ERRoundedSlot2D::axes(ERVector2D& d, ERVector2D& nL, double& L) const {
  const ERVector2D v = c2_ - c1_;
  L = v.norme();
  d = L > 0.0 ? v / L : ERVector2D(1.0, 0.0);
  if (!std::isfinite(d.x()) || !std::isfinite(d.y())) d = ERVector2D(1.0, 0.0);
  nL = ERVector2D(-d.y(), d.x());
}
double ERRoundedSlot2D::length() const { return qorv::distance(c1_, c2_) + 2.0 * r_; }
ERVector2D ERRoundedSlot2D::main_direction() const {
  ERVector2D d, nL;
  double L = 0.0;
  axes(d, nL, L);
  return d;
}
ERVector2D ERRoundedSlot2D::auxiliary_direction() const {
  ERVector2D d, nL;
  double L = 0.0;
  axes(d, nL, L);
  return nL;
}

ERInfoPoint2D ERRoundedSlot2D::PtCur(double t) const {
  ERInfoPoint2D info;
  info.setParameter(t);
  info.setSens(1);
  if (!(t >= 0.0 && t <= 4.0)) return info;
  ERVector2D d, nL;
  double L = 0.0;
  axes(d, nL, L);
  const double r = r_;
  if (t <= 1.0) {
    const double c = std::cos(kPi * t), s = std::sin(kPi * t);
    info.setPoint(c1_ + nL * (r * c) - d * (r * s));
    info.setTangente((nL * (-s) - d * c) * (r * kPi));
    info.setSecondOrder((nL * (-c) + d * s) * (r * kPi * kPi));
  } else if (t <= 2.0) {
    info.setPoint(c1_ - nL * r + d * ((t - 1.0) * L));
    info.setTangente(d * L);
  } else if (t <= 3.0) {
    const double c = std::cos(kPi * (t - 2.0)), s = std::sin(kPi * (t - 2.0));
    info.setPoint(c2_ - nL * (r * c) + d * (r * s));
    info.setTangente((nL * s + d * c) * (r * kPi));
    info.setSecondOrder((nL * c - d * s) * (r * kPi * kPi));
  } else {
    info.setPoint(c2_ + nL * r - d * ((t - 3.0) * L));
    info.setTangente(d * (-L));
  }
  return info;
}

EREntity::DISTMINRES ERRoundedSlot2D::Project(const ERPoint2D& p, ERPoint2D& foot, double& dist,
                                              int& edge) const {
  ERVector2D d, nL;
  double L = 0.0;
  axes(d, nL, L);
  if (!std::isfinite(p.x()) || !std::isfinite(p.y())) return DISTMIN_NONE;
  const double s = std::clamp((p - c1_) * d, 0.0, L);
  const ERPoint2D q = c1_ + d * s;
  const ERVector2D w = p - q;
  const double away = w.norme();
  const double side = cross(d, p - c1_);
  if (s <= 0.0 && (p - c1_) * d < 0.0) {
    edge = 0;
  } else if (s >= L && (p - c1_) * d > L) {
    edge = 2;
  } else {
    edge = side < 0.0 ? 1 : 3;
  }
  DISTMINRES r = DISTMIN_NORMAL;
  if (away > 0.0) {
    foot = q + w * (r_ / away);
  } else {
    foot = q + nL * r_;  // on the axis: both sides are equally near
    edge = 3;
    r = DISTMIN_DEGENERATE;
  }
  dist = away - r_;
  return r;
}
EREntity::DISTMINRES ERRoundedSlot2D::SignedMinimalDistance(const ERPoint2D& p, double& d) const {
  ERPoint2D foot;
  int edge = 0;
  return Project(p, foot, d, edge);
}
bool ERRoundedSlot2D::ProjectPt(const ERPoint2D& p, ERPoint2D& foot) const {
  double d = 0.0;
  int edge = 0;
  return Project(p, foot, d, edge) == DISTMIN_NORMAL;
}
bool ERRoundedSlot2D::Get_Entity_Number(const ERPoint2D& p, int& edge) const {
  ERPoint2D foot;
  double d = 0.0;
  return Project(p, foot, d, edge) == DISTMIN_NORMAL;
}
ERVec<ERPoint2D> ERRoundedSlot2D::approxime(double tol) const {
  return composite_curve().approxime(ERLimites(0.0, 4.0), tol);
}
ERCompCurve2D ERRoundedSlot2D::composite_curve() const {
  ERVector2D d, nL;
  double L = 0.0;
  axes(d, nL, L);
  const double a = std::atan2(d.y(), d.x());
  ERCompCurve2D c;
  const ERArc2D first(c1_, r_, a + kPi / 2, a + 3 * kPi / 2);
  const ERArc2D second(c2_, r_, a - kPi / 2, a + kPi / 2);
  c.append(first, 1e-7);
  c.append(ERSegment2D(first.lastPt(), second.firstPt()), 1e-7);
  c.append(second, 1e-7);
  c.append(ERSegment2D(second.lastPt(), first.firstPt()), 1e-7);
  return c;
}
ERMinimax2D ERRoundedSlot2D::getBox() const {
  const double r = std::fabs(r_);
  ERMinimax2D b(c1_, c2_);
  b.Inflate(r);
  return b;
}
void ERRoundedSlot2D::scale(double s) {
  c1_ *= s, c2_ *= s;
  r_ *= std::fabs(s);
}
void ERRoundedSlot2D::transformFrom(const ERTransfo2D& T) {
  c1_ = T >> c1_, c2_ = T >> c2_;
  r_ = T.factHomo() * r_;
}
void ERRoundedSlot2D::transformTo(const ERTransfo2D& T) {
  c1_ = T << c1_, c2_ = T << c2_;
  const double k = T.factHomo();
  if (k > 0.0) r_ = r_ / k;
}
t_SmartPtr<EREntity3DWF> ERRoundedSlot2D::get3DEquiv(const ERPmIsometrie3D& frame) const {
  return t_SmartPtr<EREntity3DWF>(new ERRoundedSlot3D(*this, frame));
}
void ERRoundedSlot2D::printOn(std::ostream& os) const {
  printLine(os, "Rounded Slot 2D:");
  printLine(os, "               : Center1 ", c1_);
  printLine(os, "               : Center2 ", c2_);
  printLine(os, "               : Radius  ", r_);
}
void ERRoundedSlot2D::saveGuts(ERFile& f) const {
  EREntity2DWF::saveGuts(f);
  f.Write(c1_.x()), f.Write(c1_.y()), f.Write(c2_.x()), f.Write(c2_.y()), f.Write(r_);
}
void ERRoundedSlot2D::restoreGuts(ERFile& f) {
  EREntity2DWF::restoreGuts(f);
  double v[5];
  try {
    for (double& x : v)
      if (!f.Read(x)) return;
  } catch (::qorv::platform::CFileException&) {
    return;
  }
  c1_ = ERPoint2D(v[0], v[1]), c2_ = ERPoint2D(v[2], v[3]), r_ = v[4];
}
std::uint32_t ERRoundedSlot2D::binaryStoreSize() const {
  return EREntity2DWF::binaryStoreSize() + 40;
}

// ---------------------------------------------------------------------------------------------
#define QORV_PLANAR_SHAPE_3D_BODIES(Class)                                                    \
  ERInfoPoint3DWF Class::PtCur(double t) const {                                              \
    return ERInfoPoint3DWF(shape_.PtCur(t), frame(), Coord3D::Z, 0.0);                        \
  }                                                                                           \
  EREntity::DISTMINRES Class::SignedMinimalDistance(const ERPoint3D& p, double& d) const {    \
    return shape_.SignedMinimalDistance((frame() << p).castToPoint2D(Coord3D::Z), d);         \
  }                                                                                           \
  ERCompCurve3D Class::composite_curve() const {                                              \
    t_SmartPtr<EREntity3DWF> c = shape_.composite_curve().get3DEquiv(frame());                \
    const ERCompCurve3D* c3 = ERCompCurve3D::castdown(c.get());                               \
    return c3 != nullptr ? *c3 : ERCompCurve3D();                                             \
  }                                                                                           \
  ERMinimax3D Class::getBox() const {                                                         \
    const ERMinimax2D b = shape_.getBox();                                                    \
    ERMinimax3D out;                                                                          \
    if (b.invalid()) return out;                                                              \
    for (const ERPoint2D& q : b.getVertice())                                                 \
      out.Update(frame() >> q.castToPoint3D(Coord3D::Z, 0.0));                                \
    return out;                                                                               \
  }                                                                                           \
  void Class::scale(double s) {                                                               \
    scaleFrame(s);                                                                            \
    shape_.scale(s);                                                                          \
  }                                                                                           \
  t_SmartPtr<EREntity2DWF> Class::get2DEntProjectedOn(const ERPmIsometrie3D& F) const {       \
    const ERPmIsometrie3D& G = frame();                                                       \
    const bool same = qorv::distance(F >> ERPoint3D(), G >> ERPoint3D()) <= 1e-12 &&          \
                      (F.getVector(Coord3D::X) - G.getVector(Coord3D::X)).norme() <= 1e-12 && \
                      (F.getVector(Coord3D::Y) - G.getVector(Coord3D::Y)).norme() <= 1e-12;   \
    if (!same) return {};                                                                     \
    return t_SmartPtr<EREntity2DWF>(                                                          \
        static_cast<EREntity2DWF*>(EREntity2DWF::castdown(shape_.getCopy())));                \
  }                                                                                           \
  QORV_DEFINE_COPYABLE(Class)                                                                 \
  void Class::printOn(std::ostream& os) const {                                               \
    shape_.printOn(os);                                                                       \
    os << "Repere : " << '\n';                                                                \
    frame().printOn(os);                                                                      \
  }                                                                                           \
  void Class::saveGuts(ERFile& f) const {                                                     \
    ERPlanarEntity3DWF::saveGuts(f);                                                          \
    shape_.saveGuts(f);                                                                       \
  }                                                                                           \
  void Class::restoreGuts(ERFile& f) {                                                        \
    ERPlanarEntity3DWF::restoreGuts(f);                                                       \
    shape_.restoreGuts(f);                                                                    \
  }                                                                                           \
  std::uint32_t Class::binaryStoreSize() const {                                              \
    return ERPlanarEntity3DWF::binaryStoreSize() + shape_.binaryStoreSize();                  \
  }

QORV_PLANAR_SHAPE_3D_BODIES(ERRectangle3D)
QORV_PLANAR_SHAPE_3D_BODIES(ERRegularPolygon3D)
QORV_PLANAR_SHAPE_3D_BODIES(ERRoundedSlot3D)
