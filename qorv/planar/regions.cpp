#include "qorv/planar/regions.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>

#include "qorv/foundation/numerics.h"

using namespace qorv;

QORV_DEFINE_CLASS(ERRegion2D);
QORV_DEFINE_COPYABLE(ERRegion2D);

// ---------------------------------------------------------------------------------------------
// Exact orientation: a floating-point filter, then error-free expansions.
namespace {

using qorv::detail::meets;
using qorv::detail::twoProduct;
using qorv::detail::twoSum;

struct Expansion {
  double c[32];
  int n = 0;
};

// Adds b to the non-overlapping expansion x, keeping it exact.
void grow(Expansion& x, double b) {
  double q = b;
  int k = 0;
  for (int i = 0; i < x.n; ++i) {
    double s, e;
    twoSum(q, x.c[i], s, e);
    q = s;
    if (e != 0.0) x.c[k++] = e;
  }
  if (q != 0.0) x.c[k++] = q;
  x.n = k;
}

int exactOrient(double ax, double ay, double bx, double by, double px, double py) {
  // Each difference as hi + lo exactly.
  double d[4][2];
  twoSum(bx, -ax, d[0][0], d[0][1]);
  twoSum(py, -ay, d[1][0], d[1][1]);
  twoSum(by, -ay, d[2][0], d[2][1]);
  twoSum(px, -ax, d[3][0], d[3][1]);
  // Scale by a power of two so that the products neither overflow nor underflow.
  double big = 0.0;
  for (auto& r : d) big = std::max(big, std::fabs(r[0]));
  if (big == 0.0) return 0;
  int e = 0;
  std::frexp(big, &e);
  for (auto& r : d) r[0] = std::ldexp(r[0], -e), r[1] = std::ldexp(r[1], -e);
  Expansion x;
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      double p, q;
      twoProduct(d[0][i], d[1][j], p, q);
      grow(x, p), grow(x, q);
      twoProduct(-d[2][i], d[3][j], p, q);
      grow(x, p), grow(x, q);
    }
  for (int i = x.n - 1; i >= 0; --i)
    if (x.c[i] != 0.0) return x.c[i] > 0.0 ? 1 : -1;
  return 0;
}

inline bool finite(const ERPoint2D& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

}  // namespace

int qorv::detail::orient2d(const ERPoint2D& a, const ERPoint2D& b, const ERPoint2D& p) {
  const double l = (b.x() - a.x()) * (p.y() - a.y());
  const double r = (b.y() - a.y()) * (p.x() - a.x());
  const double det = l - r;
  const double bound = 3.3306690738754716e-16 * (std::fabs(l) + std::fabs(r));
  if (std::isfinite(det) && std::fabs(det) > bound && bound > 1e-290) return det > 0 ? 1 : -1;
  return exactOrient(a.x(), a.y(), b.x(), b.y(), p.x(), p.y());
}

// ---------------------------------------------------------------------------------------------
// Point in polygon.
namespace {

// 1 on a vertex, 2 on the edge, 0 no crossing, -1 a crossing of the ray going to +x.
// Most edges lie wholly above, below or left of P: that test comes first (a NaN passes it and
// a non-finite end is then refused; an infinite end it rejects would have been refused too).
inline int edgeTest(const ERPoint2D& a, const ERPoint2D& b, const ERPoint2D& P) {
  const double x = P.x(), y = P.y();
  if ((a.y() > y && b.y() > y) || (a.y() < y && b.y() < y) || (a.x() < x && b.x() < x)) return 0;
  if (!finite(a) || !finite(b)) return 0;
  if (a == P || b == P) return 1;
  const int o = detail::orient2d(a, b, P);
  if (o == 0) {
    // Collinear: on the edge only between its ends (y lies within its span already).
    if (std::min(a.x(), b.x()) <= x && x <= std::max(a.x(), b.x())) return 2;
    return 0;
  }
  if (a.y() == b.y()) return 0;
  const bool up = a.y() < b.y();
  const double lo = up ? a.y() : b.y();
  if (!(y > lo)) return 0;
  // The crossing lies right of P when P is left of the upward edge.
  return (up ? o > 0 : o < 0) ? -1 : 0;
}

// Inside over the loop's edges in runs of run edges, in order; skip(r) passes over run r whole
// (the caller knows it crosses nothing).
template <class Skip>
relpos insideRuns(const ERPoint2D& P, const ERPoint2D* pts, int n, int run, const Skip& skip) {
  if (pts == nullptr || n <= 0 || !finite(P)) return RELPOS_OUTSIDE;
  if (P == pts[0]) return RELPOS_ON_VERTEX;
  int crossings = 0;
  bool onEdge = false;  // a vertex elsewhere takes precedence
  const int edges = pts[n - 1] == pts[0] ? n - 1 : n;
  for (int e0 = 0, r = 0; e0 < edges; e0 += run, ++r) {
    if (skip(r)) continue;
    for (int i = e0, e1 = std::min(e0 + run, edges); i < e1; ++i) {
      const int t = edgeTest(pts[i], pts[i + 1 < n ? i + 1 : 0], P);
      if (t == 1) return RELPOS_ON_VERTEX;
      if (t == 2) onEdge = true;
      if (t < 0) ++crossings;
    }
  }
  if (onEdge) return RELPOS_ON_EDGE;
  return (crossings & 1) ? RELPOS_INSIDE : RELPOS_OUTSIDE;
}

}  // namespace

relpos qorv::Inside(const ERPoint2D& P, const ERPoint2D* pts, int n, int) {
  return insideRuns(P, pts, n, std::max(n, 1), [](int) { return false; });
}

relpos qorv::Inside(const ERPoint2D& P, const QuickAlgebra::ERVec<ERPoint2D>& polygon) {
  const QuickAlgebra::ERVec<ERPoint2D>& c = polygon;
  return Inside(P, c.data(), c.length(), 0);
}

// ---------------------------------------------------------------------------------------------
ERRegion2D::ERRegion2D(int capacity, int firstIsOuter)
    : loops_(static_cast<std::size_t>(std::max(capacity, 0))),
      boxes_(static_cast<std::size_t>(std::max(capacity, 0))),
      runs_(static_cast<std::size_t>(std::max(capacity, 0))),
      firstIsOuter_(firstIsOuter ? 1 : 0) {}

int ERRegion2D::Add(const QuickAlgebra::ERVec<ERPoint2D>& loop) {
  if (count_ >= capacity()) return 0;
  const auto i = static_cast<std::size_t>(count_);
  loops_[i] = loop;
  ERMinimax2D box;
  const QuickAlgebra::ERVec<ERPoint2D>& c = loop;
  for (int k = 0; k < c.length(); ++k)
    if (finite(c[k])) box.Update(c[k]);
  boxes_[i] = box;
  // Edge e runs from vertex e to vertex e + 1 (the last to vertex 0 when the loop is open).
  const int n = c.length(), edges = n > 0 && c[n - 1] == c[0] ? n - 1 : n;
  std::vector<Run>& runs = runs_[i];
  runs.clear();
  for (int e0 = 0; e0 < edges; e0 += kRun) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    Run r{kInf, -kInf, -kInf};
    const int e1 = std::min(e0 + kRun, edges);
    for (int v = e0; v <= e1; ++v) {
      const ERPoint2D& q = c[v < n ? v : 0];
      if (!finite(q)) {
        r = Run{-kInf, kInf, kInf};
        break;
      }
      r.ymin = std::min(r.ymin, q.y()), r.ymax = std::max(r.ymax, q.y());
      r.xmax = std::max(r.xmax, q.x());
    }
    runs.push_back(r);
  }
  ++count_;
  return 1;
}

// Inside(P, loop k) with the loop's runs: a run wholly above, below or left of P crosses
// nothing (each of its edges would be refused by edgeTest's first test), so it is passed over
// whole; the others go edge by edge, in order, as Inside does.
relpos ERRegion2D::insideLoop(const ERPoint2D& P, std::size_t k) const {
  const QuickAlgebra::ERVec<ERPoint2D>& c = loops_[k];
  const std::vector<Run>& runs = runs_[k];
  const double x = P.x(), y = P.y();
  return insideRuns(P, c.data(), c.length(), kRun, [&](int r) {
    const Run& b = runs[static_cast<std::size_t>(r)];
    return b.ymin > y || b.ymax < y || b.xmax < x;
  });
}

QuickAlgebra::ERVec<ERPoint2D> ERRegion2D::Contour(int i) const {
  if (i < 0 || i >= count_) return {};
  return loops_[static_cast<std::size_t>(i)];
}

ERMinimax2D ERRegion2D::getBox() const { return count_ > 0 ? boxes_[0] : ERMinimax2D(); }

PosContours ERRegion2D::CheckPoint(const ERPoint2D& P, int& loop) const {
  loop = 0;
  if (count_ == 0) return POSCONTOURS_INSIDE;
  int first = 0;
  if (firstIsOuter_) {
    if (!boxes_[0].contains(P)) return POSCONTOURS_OUTSIDE;
    switch (insideLoop(P, 0)) {
      case RELPOS_ON_VERTEX:
        return POSCONTOURS_ON_VERTEX;
      case RELPOS_ON_EDGE:
        return POSCONTOURS_ON_EDGE;
      case RELPOS_OUTSIDE:
        return POSCONTOURS_OUTSIDE;
      default:
        break;
    }
    first = 1;
  }
  for (int i = first; i < count_; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (!boxes_[k].contains(P)) continue;
    loop = i;
    switch (insideLoop(P, k)) {
      case RELPOS_INSIDE:
        return POSCONTOURS_OUTSIDE;
      case RELPOS_ON_VERTEX:
        return POSCONTOURS_ON_VERTEX;
      case RELPOS_ON_EDGE:
        return POSCONTOURS_ON_EDGE;
      default:
        break;
    }
  }
  if (count_ > first) loop = count_ - 1;
  return POSCONTOURS_INSIDE;
}

ER_MINMAX_POSITION_POLYGONE ERRegion2D::IsInDomain(const ERMinimax2D& box) const {
  if (count_ == 0) return ER_MINMAX_POLYGONE_TOUCHING;
  bool inOuter = false, holesClear = true;
  for (int i = 0; i < count_; ++i) {
    const ER_MINMAX_POSITION_POLYGONE r = box.positionRelative(loops_[static_cast<std::size_t>(i)]);
    if (r == ER_MINMAX_POLYGONE_CROSSING) return r;
    if (i == 0 && firstIsOuter_) {
      if (r == ER_MINMAX_POLYGONE_OUTSIDE || r == ER_MINMAX_POLYGONE_TOUCHING) return r;
      inOuter = true;
    } else {
      if (r == ER_MINMAX_POLYGONE_INSIDE) return ER_MINMAX_POLYGONE_OUTSIDE;
      if (r != ER_MINMAX_POLYGONE_OUTSIDE) holesClear = false;
    }
  }
  return firstIsOuter_ && inOuter && holesClear ? ER_MINMAX_POLYGONE_INSIDE
                                                : ER_MINMAX_POLYGONE_CROSSING;
}

// ---------------------------------------------------------------------------------------------
// Clipping.
namespace {

using Poly = QuickAlgebra::ERVec<ERPoint2D>;

// Parameters on [p, q] where it meets the edge [a, b], appended to ts.
void crossings(const ERPoint2D& p, const ERPoint2D& q, const ERPoint2D& a, const ERPoint2D& b,
               std::vector<double>& ts) {
  const ERVector2D d(p, q), e(a, b);
  const double dd = d.x() * d.x() + d.y() * d.y();
  const int oa = detail::orient2d(p, q, a), ob = detail::orient2d(p, q, b);
  if (oa == 0 && ob == 0) {
    // Collinear: the edge's ends that lie on the segment.
    for (const ERPoint2D* v : {&a, &b}) {
      const double t = ((v->x() - p.x()) * d.x() + (v->y() - p.y()) * d.y()) / dd;
      if (t > 0.0 && t < 1.0) ts.push_back(t);
    }
    return;
  }
  if (oa * ob > 0) return;
  const int op = detail::orient2d(a, b, p), oq = detail::orient2d(a, b, q);
  if (op * oq > 0) return;
  if (op == 0 || oq == 0) return;  // at a vertex of the polyline: already a record
  double t;
  if (oa == 0) {
    t = ((a.x() - p.x()) * d.x() + (a.y() - p.y()) * d.y()) / dd;
  } else if (ob == 0) {
    t = ((b.x() - p.x()) * d.x() + (b.y() - p.y()) * d.y()) / dd;
  } else {
    const double den = d.x() * e.y() - d.y() * e.x();
    t = ((a.x() - p.x()) * e.y() - (a.y() - p.y()) * e.x()) / den;
  }
  if (t > 0.0 && t < 1.0) ts.push_back(t);
}

void pushPiece(ERTValVector<Poly>& pieces, Poly& cur) {
  if (cur.length() >= 2) pieces.append(cur);
  cur = Poly();
}

double totalLength(const ERTValVector<Poly>& pieces) {
  double s = 0.0;
  for (int i = 0; i < pieces.length(); ++i) {
    const Poly& p = pieces[i];
    for (int k = 1; k < p.length(); ++k) s += distance(p[k - 1], p[k]);
  }
  return s;
}

// Each point moved by d along the left normal of its segment; near-repeated points dropped.
Poly offsetPolyline(const Poly& in, double d) {
  Poly kept;
  for (int k = 0; k < in.length(); ++k)
    if (kept.length() == 0 || distance(kept.last(), in[k]) >= 1e-7) kept.append(in[k]);
  const Poly& c = kept;
  Poly out;
  const int n = c.length();
  if (n < 2) return kept;
  for (int k = 0; k < n; ++k) {
    const int s = k + 1 < n ? k : k - 1;
    const ERVector2D t = ERVector2D(c[s], c[s + 1]).normalize();
    out.append(ERPoint2D(c[k].x() - d * t.y(), c[k].y() + d * t.x()));
  }
  return out;
}

}  // namespace

void ERRegion2D::Intersect(const Poly& polyline, ERTValVector<Poly>& pieces,
                           ERDebugIntersect* debug) const {
  pieces = ERTValVector<Poly>();
  const Poly& pl = polyline;
  Poly pts;
  for (int k = 0; k < pl.length(); ++k)
    if (finite(pl[k]) && (pts.length() == 0 || !(pts.last() == pl[k]))) pts.append(pl[k]);
  const Poly& v = pts;
  if (v.length() < 2) return;
  if (count_ > 0 && firstIsOuter_) {
    ERMinimax2D pbox;
    pbox.Update(v);
    if (!meets(pbox, boxes_[0])) {
      if (debug) debug->trace("polyline box misses the outer loop");
      return;
    }
  }
  Poly cur;
  std::vector<double> ts;
  for (int s = 0; s + 1 < v.length(); ++s) {
    const ERPoint2D& p = v[s];
    const ERPoint2D& q = v[s + 1];
    const ERMinimax2D sbox(p, q);
    ts.assign({0.0, 1.0});
    for (int l = 0; l < count_; ++l) {
      const auto li = static_cast<std::size_t>(l);
      if (!meets(sbox, boxes_[li])) continue;
      const Poly& lp = loops_[li];
      const int n = lp.length();
      for (int k = 0; k < n; ++k) {
        const ERPoint2D& a = lp[k];
        const ERPoint2D& b = lp[k + 1 < n ? k + 1 : 0];
        if (!finite(a) || !finite(b) || a == b) continue;
        crossings(p, q, a, b, ts);
      }
    }
    std::sort(ts.begin(), ts.end());
    ts.erase(std::unique(ts.begin(), ts.end()), ts.end());
    auto at = [&](double t) {
      if (t == 0.0) return p;
      if (t == 1.0) return q;
      return ERPoint2D(p.x() + t * (q.x() - p.x()), p.y() + t * (q.y() - p.y()));
    };
    for (std::size_t k = 0; k + 1 < ts.size(); ++k) {
      const ERPoint2D a = at(ts[k]), b = at(ts[k + 1]);
      if (a == b) continue;
      int loop;
      const PosContours r = CheckPoint(milieu(a, b), loop);
      if (r == POSCONTOURS_INSIDE || r == POSCONTOURS_ON_EDGE) {
        if (cur.length() > 0 && !(cur.last() == a)) pushPiece(pieces, cur);
        if (cur.length() == 0) cur.append(a);
        cur.append(b);
      } else {
        pushPiece(pieces, cur);
      }
    }
  }
  pushPiece(pieces, cur);
  if (debug) debug->trace("pieces collected");
}

void ERRegion2D::IntersectWithSnap(const Poly& polyline, ERTValVector<Poly>& pieces,
                                   double snap) const {
  Intersect(polyline, pieces, nullptr);
  const double l0 = totalLength(pieces);
  auto side = [&](double d, double& len) {
    ERTValVector<Poly> out;
    Intersect(offsetPolyline(polyline, d), out, nullptr);
    ERTValVector<Poly> back;
    for (int i = 0; i < out.length(); ++i) back.append(offsetPolyline(out[i], -d));
    len = totalLength(back);
    return out;
  };
  double lm = 0.0, lp = 0.0;
  ERTValVector<Poly> minus = side(-snap, lm);
  ERTValVector<Poly> plus = side(snap, lp);
  if (lp > lm) {
    if (lp > l0 + 10.0 * snap) pieces = plus;
  } else if (lm > l0 + 10.0 * snap) {
    pieces = minus;
  }
}

void ERRegion2D::printOn(std::ostream& os) const {
  os << "// contour :  " << count_ << " loops , first is outer " << firstIsOuter_ << '\n';
  for (int i = 0; i < count_; ++i) {
    const Poly& c = loops_[static_cast<std::size_t>(i)];
    os << "//  contour " << i << '\n' << '(' << c.length() << ")[";
    for (int k = 0; k < c.length(); ++k) {
      if (k) os << ',';
      os << c[k];
    }
    os << "]\n\n";
  }
}

// ---------------------------------------------------------------------------------------------
namespace {

bool farthest(const QuickAlgebra::ERVec<ERPoint3D>& pts, ERPoint3D& A, ERPoint3D& B, bool& bad) {
  const int n = pts.length();
  bad = false;
  if (n == 0) return false;
  for (int i = 0; i < n; ++i)
    if (pts[i].invalid()) bad = true;
  if (bad) return false;
  auto far = [&](const ERPoint3D& from) {
    int best = 0;
    double bd = -1.0;
    for (int i = 0; i < n; ++i) {
      const double d = distance2(from, pts[i]);
      if (d > bd) bd = d, best = i;
    }
    return pts[best];
  };
  A = far(pts[0]);
  B = far(A);
  return !(std::fabs(A.x() - B.x()) <= 1e-11 && std::fabs(A.y() - B.y()) <= 1e-11 &&
           std::fabs(A.z() - B.z()) <= 1e-11);
}

}  // namespace

gmCollinearState gmCollinearUtils::are_collinear(const QuickAlgebra::ERVec<ERPoint3D>& pts,
                                                 ERInfLine3D* line) {
  ERPoint3D A, B;
  bool bad;
  if (!farthest(pts, A, B, bad)) return bad ? gmNotCollinear : gmCollinear;
  const ERInfLine3D l(B, A);
  if (line) *line = l;
  if (pts.length() < 3) return gmCollinear;
  for (int i = 0; i < pts.length(); ++i) {
    const double d = distance(l, pts[i]);
    if (d * d >= 1e-7) return gmNotCollinear;
  }
  return gmCollinear;
}

bool gmCollinearUtils::find_line(const QuickAlgebra::ERVec<ERPoint3D>& pts, ERInfLine3D& line) {
  ERPoint3D A, B;
  bool bad;
  if (!farthest(pts, A, B, bad)) return false;
  line = ERInfLine3D(B, A);
  return true;
}
