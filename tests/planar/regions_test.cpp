// Point in polygon, regions with holes, clipping and collinearity.
//
// The random polygons live on an integer lattice so that an exact winding number in 64-bit
// integers can judge every boundary case; they are then moved by exact maps (quarter turns,
// mirrors, powers of two, far-off translations) and by arbitrary turns (checked away from the
// boundary only). Fixed seeds; QORV_TEST_SEED=<n> explores others.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#include "qorv/planar/regions.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv;

namespace {

using QuickAlgebra::ERVec;
using Pts = ERVec<ERPoint2D>;

Pts poly(std::initializer_list<ERPoint2D> l) { return Pts(l); }

struct IP {
  std::int64_t x, y;
};

// Exact reference on lattice points: 1 vertex, 2 edge, 0 odd winding, 3 even.
int referenceInside(const IP& p, const std::vector<IP>& v) {
  const std::size_t n = v.size();
  if (n == 0) return 3;
  for (const IP& a : v)
    if (a.x == p.x && a.y == p.y) return 1;
  int wn = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const IP& a = v[i];
    const IP& b = v[(i + 1) % n];
    const std::int64_t cr = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    if (cr == 0 && std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) &&
        std::min(a.y, b.y) <= p.y && p.y <= std::max(a.y, b.y))
      return 2;
    if (a.y <= p.y) {
      if (b.y > p.y && cr > 0) ++wn;
    } else if (b.y <= p.y && cr < 0) {
      --wn;
    }
  }
  return (wn & 1) ? 0 : 3;
}

// An exact map of the lattice: optional swap and signs, a power-of-two scale, an offset.
struct ExactMap {
  bool swap = false;
  int sx = 1, sy = 1;
  double scale = 1.0, ox = 0.0, oy = 0.0;
  ERPoint2D operator()(const IP& p) const {
    double x = static_cast<double>(p.x), y = static_cast<double>(p.y);
    if (swap) std::swap(x, y);
    return ERPoint2D(sx * x * scale + ox, sy * y * scale + oy);
  }
};

// Vertices, edges, rays along edges or through vertices, explicit closing, self-crossing
// outlines: the lattice property test below. Here what the lattice cannot hold.
TEST(Inside, BoundaryTable) {
  // One ulp either side of the edge x + y = 1 of a triangle.
  const Pts tri = poly({{0, 0}, {1, 0}, {0, 1}});
  EXPECT_EQ(
      (Seq{Inside(ERPoint2D(0.5, 0.5), tri), Inside(ERPoint2D(0.5, std::nextafter(0.5, 0.0)), tri),
           Inside(ERPoint2D(0.5, std::nextafter(0.5, 1.0)), tri),
           Inside(ERPoint2D(0.25, 0.75), tri)}),
      (Seq{2, 0, 3, 2}));
  EXPECT_EQ(Inside(ERPoint2D(std::nextafter(0.25, 1.0), 0.75), tri), 3);
  // Tiny and huge frames keep exact boundaries.
  for (double s : {1e-300, 1e-150, 1e150, 1e300}) {
    const Pts t = poly({{0, 0}, {s, 0}, {0, s}});
    EXPECT_EQ((Seq{Inside(ERPoint2D(0.5 * s, 0.5 * s), t), Inside(ERPoint2D(0.25 * s, 0.25 * s), t),
                   Inside(ERPoint2D(0.75 * s, 0.75 * s), t)}),
              (Seq{2, 0, 3}))
        << s;
  }
}

TEST(Inside, DegenerateAndBadInput) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ((Seq{Inside(ERPoint2D(0, 0), Pts()), Inside(ERPoint2D(0, 0), nullptr, 4),
                 Inside(ERPoint2D(1, 1), poly({{1, 1}})), Inside(ERPoint2D(1, 2), poly({{1, 1}}))}),
            (Seq{3, 3, 1, 3}));
  const Pts two = poly({{0, 0}, {2, 2}});
  EXPECT_EQ((Seq{Inside(ERPoint2D(1, 1), two), Inside(ERPoint2D(2, 2), two)}), (Seq{2, 1}));
  EXPECT_EQ(Inside(ERPoint2D(1, 0.5), two), 3);
  const Pts sq = poly({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
  EXPECT_EQ(Inside(ERPoint2D(nan, 0.5), sq), 3);
  EXPECT_EQ(Inside(ERPoint2D(std::numeric_limits<double>::infinity(), 0.5), sq), 3);
  // A NaN vertex drops its two edges; nothing reads past the array.
  const Pts withNan = poly({{0, 0}, {1, 0}, {nan, 0.5}, {1, 1}, {0, 1}});
  EXPECT_NE(Inside(ERPoint2D(0.5, 0.5), withNan), 1);
}

TEST(Inside, RandomLatticePolygonsAgainstWindingNumber) {
  QORV_SEEDED(std::mt19937 g, 2323);
  auto ri = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(g); };
  int counts[4] = {};
  for (int round = 0; round < 3000; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    const int n = ri(3, 12);
    std::vector<IP> v(static_cast<std::size_t>(n));
    for (IP& p : v) p = {ri(-6, 6) * 2, ri(-6, 6) * 2};
    if (ri(0, 1)) std::reverse(v.begin(), v.end());
    ExactMap m;
    m.swap = ri(0, 1);
    m.sx = ri(0, 1) ? 1 : -1;
    m.sy = ri(0, 1) ? 1 : -1;
    m.scale = std::ldexp(1.0, ri(-40, 40));
    if (ri(0, 2) == 0) m.ox = std::ldexp(3.0, ri(0, 40)) * m.scale, m.oy = -m.ox;
    Pts pts;
    for (const IP& p : v) pts.append(m(p));
    if (ri(0, 1)) pts.append(pts[0]);
    for (int q = 0; q < 20; ++q) {
      const IP p{ri(-14, 14), ri(-14, 14)};  // odd coordinates sit mid-edge or mid-cell
      const int want = referenceInside(p, v);
      ++counts[want];
      ASSERT_EQ(Inside(m(p), pts), want) << "point " << p.x << "," << p.y;
    }
  }
  for (int c : counts) EXPECT_GT(c, 100);
}

TEST(Inside, TurnedFramesAwayFromTheBoundary) {
  QORV_SEEDED(std::mt19937 g, 777);
  auto ri = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(g); };
  auto ud = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(g); };
  for (int round = 0; round < 2000; ++round) {
    const int n = ri(3, 10);
    std::vector<IP> v(static_cast<std::size_t>(n));
    for (IP& p : v) p = {ri(-100, 100), ri(-100, 100)};
    const double a = ud(0, 6.283185307179586), c = std::cos(a), s = std::sin(a);
    const double scale = std::pow(10.0, ud(-5, 5)), off = ri(0, 1) ? 1e6 * scale : 0.0;
    auto T = [&](double x, double y) {
      return ERPoint2D(scale * (c * x - s * y) + off, scale * (s * x + c * y) - off);
    };
    Pts pts;
    for (const IP& p : v) pts.append(T(static_cast<double>(p.x), static_cast<double>(p.y)));
    for (int q = 0; q < 20; ++q) {
      // Lattice points of a 1/4 grid: the reference is exact on 4 times the coordinates.
      const IP p4{ri(-420, 420), ri(-420, 420)};
      std::vector<IP> v4;
      for (const IP& w : v) v4.push_back({w.x * 4, w.y * 4});
      const int want = referenceInside(p4, v4);
      if (want == 1 || want == 2) continue;
      // Skip points within 1e-6 (lattice units) of an edge: the turn moves them.
      double dmin = 1e300;
      for (std::size_t i = 0; i < v4.size(); ++i) {
        const IP& A = v4[i];
        const IP& B = v4[(i + 1) % v4.size()];
        const double dx = double(B.x - A.x), dy = double(B.y - A.y);
        const double px = double(p4.x - A.x), py = double(p4.y - A.y);
        const double L2 = dx * dx + dy * dy;
        const double t = L2 > 0 ? std::clamp((px * dx + py * dy) / L2, 0.0, 1.0) : 0.0;
        dmin = std::min(dmin, std::hypot(px - t * dx, py - t * dy));
      }
      if (dmin < 1e-6) continue;
      ASSERT_EQ(Inside(T(p4.x / 4.0, p4.y / 4.0), pts), want) << round << " " << q;
    }
  }
}

// ---------------------------------------------------------------------------------------------
ERRegion2D squareWithHole() {
  ERRegion2D r(2, 1);
  r.Add(poly({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}));
  r.Add(poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
  return r;
}

TEST(Region, CheckPointTable) {
  const ERRegion2D r = squareWithHole();
  // The codes of every kind of point: the lattice property below; here the loop reported.
  int loop = -1;
  EXPECT_EQ((Seq{r.CheckPoint(ERPoint2D(5, 5), loop), loop}), (Seq{1, 1}));
  EXPECT_EQ((Seq{r.CheckPoint(ERPoint2D(5, 4), loop), loop}), (Seq{2, 1}));
  EXPECT_EQ((Seq{r.CheckPoint(ERPoint2D(20, 20), loop), loop}), (Seq{1, 0}));
  EXPECT_EQ((Seq{r.CheckPoint(ERPoint2D(10, 10), loop), loop}), (Seq{3, 0}));

  // Holes touching each other and the outer loop: shared edges and vertices are boundary.
  ERRegion2D t(3, 1);
  t.Add(poly({{0, 0}, {10, 0}, {10, 10}, {0, 10}}));
  t.Add(poly({{0, 2}, {4, 2}, {4, 6}, {0, 6}}));  // on the outer edge x = 0
  t.Add(poly({{4, 2}, {8, 2}, {8, 6}, {4, 6}}));  // shares the edge x = 4
  EXPECT_EQ(t.CheckPoint(ERPoint2D(0, 4), loop), 2);
  EXPECT_EQ((Seq{t.CheckPoint(ERPoint2D(4, 4), loop), t.CheckPoint(ERPoint2D(4, 6), loop),
                 t.CheckPoint(ERPoint2D(6, 4), loop), t.CheckPoint(ERPoint2D(6, 8), loop)}),
            (Seq{2, 3, 1, 0}));

  // Holes only: the plane minus the holes.
  ERRegion2D h(1, 0);
  h.Add(poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
  EXPECT_EQ((Seq{h.CheckPoint(ERPoint2D(100, -3), loop), h.CheckPoint(ERPoint2D(5, 5), loop),
                 ERRegion2D(0, 1).CheckPoint(ERPoint2D(5, 5), loop)}),
            (Seq{0, 1, 0}));
}

// CheckPoint against the lattice reference applied loop by loop: outer first, then holes.
TEST(Region, CheckPointRandomLatticeRegions) {
  QORV_SEEDED(std::mt19937 g, 515);
  auto ri = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(g); };
  for (int round = 0; round < 1000; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    const int outer = ri(0, 1), nloops = ri(1, 3);
    // Mirrored too; long loops (up to 60 edges) are read in runs of edges.
    const double scale = std::ldexp(1.0, ri(-30, 30)), off = ri(0, 1) ? std::ldexp(scale, 45) : 0;
    const double sx = ri(0, 1) ? scale : -scale, sy = ri(0, 1) ? scale : -scale;
    const auto at = [&](const IP& p) { return ERPoint2D(p.x * sx + off, p.y * sy - off); };
    ERRegion2D r(nloops, outer);
    std::vector<std::vector<IP>> loops;
    for (int l = 0; l < nloops; ++l) {
      std::vector<IP> v(static_cast<std::size_t>(ri(3, ri(0, 1) ? 7 : 60)));
      for (IP& p : v) p = {ri(-8, 8), ri(-8, 8)};
      Pts pts;
      for (const IP& p : v) pts.append(at(p));
      r.Add(pts);
      loops.push_back(v);
    }
    for (int q = 0; q < 30; ++q) {
      const IP p{ri(-9, 9), ri(-9, 9)};
      int want = 0;
      for (int l = 0; l < nloops; ++l) {
        const int in = referenceInside(p, loops[static_cast<std::size_t>(l)]);
        if (in == 1) {
          want = 3;
          break;
        }
        if (in == 2) {
          want = 2;
          break;
        }
        if (l == 0 && outer) {
          if (in == 3) {
            want = 1;
            break;
          }
        } else if (in == 0) {
          want = 1;
          break;
        }
      }
      int loop;
      ASSERT_EQ(r.CheckPoint(at(p), loop), want) << p.x << "," << p.y;
    }
  }
}

TEST(Region, IsInDomainCodes) {
  const ERRegion2D r = squareWithHole();
  EXPECT_EQ((Seq{r.IsInDomain(ERMinimax2D(4.5, 4.5, 5.5, 5.5)),
                 r.IsInDomain(ERMinimax2D(3.5, 3.5, 4.5, 4.5)),
                 r.IsInDomain(ERMinimax2D(1, 1, 2, 2)), r.IsInDomain(ERMinimax2D(20, 20, 30, 30))}),
            (Seq{0, 1, 2, 0}));
  EXPECT_EQ(r.IsInDomain(ERMinimax2D(-2, -2, 0, 0)), 3);  // touches the outer loop
  EXPECT_EQ(r.IsInDomain(ERMinimax2D(3, 3, 7, 7)), 1);    // holds the hole
  ERRegion2D h(2, 0);
  h.Add(poly({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
  EXPECT_EQ(h.IsInDomain(ERMinimax2D(0, 0, 1, 1)), 1);  // never 2 without an outer loop
  EXPECT_EQ(h.IsInDomain(ERMinimax2D(4.5, 4.5, 5, 5)), 0);
  EXPECT_EQ(ERRegion2D(1, 1).IsInDomain(ERMinimax2D(0, 0, 1, 1)), 3);
}

TEST(Region, BadInputAndCapacity) {
  ERRegion2D r(1, 1);
  EXPECT_EQ(r.Add(poly({{0, 0}, {1, 0}, {0, 1}})), 1);
  EXPECT_EQ((Seq{r.Add(poly({{5, 5}, {6, 5}, {5, 6}})), r.entries(), r.Contour(1).length()}),
            (Seq{0, 1, 0}));
  EXPECT_EQ(r.Contour(-1).length(), 0);
  ERRegion2D neg(-3, 1);
  EXPECT_EQ(neg.Add(poly({{0, 0}})), 0);
  int loop;
  ERRegion2D tiny(3, 1);
  tiny.Add(Pts());
  EXPECT_EQ(tiny.CheckPoint(ERPoint2D(0, 0), loop), 1);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(r.CheckPoint(ERPoint2D(nan, nan), loop), 1);
}

TEST(Region, PrintForm) {
  ERRegion2D r(2, 1);
  r.Add(poly({{0, 0}, {1, 0}, {0, 1}}));
  std::ostringstream os;
  r.printOn(os);
  EXPECT_EQ(os.str(),
            "// contour :  1 loops , first is outer 1\n//  contour 0\n(3)[[0,0],[1,0],[0,1]]\n\n");
}

// ---------------------------------------------------------------------------------------------
double polyLength(const Pts& p) {
  double s = 0;
  for (int i = 1; i < p.length(); ++i) s += qorv::distance(p[i - 1], p[i]);
  return s;
}

TEST(Region, IntersectTable) {
  const ERRegion2D r = squareWithHole();
  ERTValVector<Pts> pieces;
  r.Intersect(poly({{-5, 5}, {15, 5}}), pieces, nullptr);
  ASSERT_EQ(pieces.length(), 2);
  EXPECT_EQ((Seq{pieces[0][0], pieces[0][1], pieces[1][0], pieces[1][1]}),
            (Seq{ERPoint2D(0, 5), ERPoint2D(4, 5), ERPoint2D(6, 5), ERPoint2D(10, 5)}));
  // Along an edge of the outer loop: in.
  r.Intersect(poly({{-5, 0}, {15, 0}}), pieces, nullptr);
  ASSERT_EQ(pieces.length(), 1);
  EXPECT_EQ(pieces[0].length(), 2);
  EXPECT_DOUBLE_EQ(polyLength(pieces[0]), 10.0);
  // Touching a corner only: nothing.
  r.Intersect(poly({{-1, 9}, {1, 11}}), pieces, nullptr);
  EXPECT_EQ(pieces.length(), 0);
  // Through the hole's vertices and back out: vertex crossings once.
  r.Intersect(poly({{2, 2}, {8, 8}, {12, 8}}), pieces, nullptr);
  ASSERT_EQ(pieces.length(), 2);
  EXPECT_EQ((Seq{pieces[0].length(), pieces[0][1], pieces[1][0], pieces[1].length()}),
            (Seq{2, ERPoint2D(4, 4), ERPoint2D(6, 6), 3}));
  EXPECT_EQ(pieces[1][2], ERPoint2D(10, 8));
  // Far away: nothing; degenerate polylines: nothing.
  r.Intersect(poly({{50, 50}, {60, 60}}), pieces, nullptr);
  EXPECT_EQ(pieces.length(), 0);
  r.Intersect(poly({{5, 1}, {5, 1}}), pieces, nullptr);
  EXPECT_EQ(pieces.length(), 0);
}

// A trace measured just beside the border snaps onto the side whose clipping gains more than
// ten snaps of length; a trace that gains nothing keeps its plain clipping.
TEST(Region, IntersectWithSnapTakesTheSideThatGainsLength) {
  const ERRegion2D r = squareWithHole();
  ERTValVector<Pts> pieces;
  for (const double y : {-0.001, 10.001}) {
    for (const bool reversed : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "y " << y << (reversed ? " reversed" : ""));
      const Pts trace = reversed ? poly({{15, y}, {-5, y}}) : poly({{-5, y}, {15, y}});
      r.Intersect(trace, pieces, nullptr);
      EXPECT_EQ(pieces.length(), 0);
      r.IntersectWithSnap(trace, pieces, 0.01);
      ASSERT_EQ(pieces.length(), 1);
      EXPECT_NEAR(polyLength(pieces[0]), 10.0, 1e-9);
      int loop = -1;
      for (int k = 0; k < pieces[0].length(); ++k) {
        EXPECT_NE(r.CheckPoint(pieces[0][k], loop), POSCONTOURS_OUTSIDE) << pieces[0][k];
        EXPECT_NEAR(std::fabs(pieces[0][k].y() - y), 0.01, 1e-12);
      }
    }
  }
  // Well inside: both offsets gain nothing, the plain clipping stays.
  r.IntersectWithSnap(poly({{1, 2}, {3, 2}}), pieces, 0.01);
  ASSERT_EQ(pieces.length(), 1);
  EXPECT_EQ((Seq{pieces[0][0], pieces[0][1]}), (Seq{ERPoint2D(1, 2), ERPoint2D(3, 2)}));
  // Far away or gaining less than ten snaps: nothing.
  r.IntersectWithSnap(poly({{50, 50}, {60, 50}}), pieces, 0.01);
  EXPECT_EQ(pieces.length(), 0);
  r.IntersectWithSnap(poly({{-0.001, 3}, {-0.001, 3.05}}), pieces, 0.01);
  EXPECT_EQ(pieces.length(), 0);
}

TEST(Region, IntersectRandomAgainstSampling) {
  QORV_SEEDED(std::mt19937 g, 99);
  auto ri = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(g); };
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    ERRegion2D r(2, 1);
    Pts outer, hole;
    for (int k = 0; k < ri(3, 8); ++k) outer.append(ERPoint2D(ri(-10, 10), ri(-10, 10)));
    for (int k = 0; k < ri(3, 5); ++k) hole.append(ERPoint2D(ri(-5, 5), ri(-5, 5)));
    r.Add(outer), r.Add(hole);
    Pts line;
    for (int k = 0; k < ri(2, 5); ++k) line.append(ERPoint2D(ri(-12, 12), ri(-12, 12)));
    ERTValVector<Pts> pieces;
    r.Intersect(line, pieces, nullptr);
    int loop;
    for (int i = 0; i < pieces.length(); ++i) {
      ASSERT_GE(pieces[i].length(), 2);
      for (int k = 1; k < pieces[i].length(); ++k) {
        ASSERT_FALSE(pieces[i][k] == pieces[i][k - 1]);
        const auto c = r.CheckPoint(qorv::milieu(pieces[i][k - 1], pieces[i][k]), loop);
        ASSERT_TRUE(c == 0 || c == 2) << i << " " << k;
      }
    }
    // Every sampled point of the polyline strictly inside the region lies on a piece.
    for (int s = 0; s + 1 < line.length(); ++s)
      for (int k = 1; k < 64; ++k) {
        const double t = k / 64.0;
        const ERPoint2D p(line[s].x() + t * (line[s + 1].x() - line[s].x()),
                          line[s].y() + t * (line[s + 1].y() - line[s].y()));
        if (r.CheckPoint(p, loop) != 0) continue;
        bool on = false;
        for (int i = 0; i < pieces.length() && !on; ++i)
          for (int j = 1; j < pieces[i].length() && !on; ++j) {
            const ERPoint2D& a = pieces[i][j - 1];
            const ERPoint2D& b = pieces[i][j];
            const double cr = (b.x() - a.x()) * (p.y() - a.y()) - (b.y() - a.y()) * (p.x() - a.x());
            on = std::fabs(cr) < 1e-9 && std::min(a.x(), b.x()) - 1e-9 <= p.x() &&
                 p.x() <= std::max(a.x(), b.x()) + 1e-9 && std::min(a.y(), b.y()) - 1e-9 <= p.y() &&
                 p.y() <= std::max(a.y(), b.y()) + 1e-9;
          }
        ASSERT_TRUE(on) << "segment " << s << " t " << t;
      }
  }
}

TEST(Collinear, Table) {
  ERInfLine3D line(ERPoint3D(0, 0, 0), ERPoint3D(0, 0, 7));
  const ERInfLine3D before = line;
  ERVec<ERPoint3D> same({ERPoint3D(1, 2, 3), ERPoint3D(1, 2, 3), ERPoint3D(1, 2, 3)});
  EXPECT_EQ((Seq{gmCollinearUtils::are_collinear(same, &line), line.origine(),
                 bool(gmCollinearUtils::find_line(same, line))}),
            (Seq{1, before.origine(), false}));
  ERVec<ERPoint3D> tri({ERPoint3D(0, 0, 0), ERPoint3D(1, 0, 0), ERPoint3D(0, 1, 0)});
  EXPECT_EQ(gmCollinearUtils::are_collinear(tri, nullptr), 2);
  // The 1e-7 threshold on the squared distance.
  ERVec<ERPoint3D> near({ERPoint3D(0, 0, 0), ERPoint3D(10, 0, 0), ERPoint3D(5, 3e-4, 0)});
  EXPECT_EQ(gmCollinearUtils::are_collinear(near, &line), 1);
  EXPECT_NEAR(std::fabs(line.dirVector().x()), 1.0, 1e-12);
  ERVec<ERPoint3D> off({ERPoint3D(0, 0, 0), ERPoint3D(10, 0, 0), ERPoint3D(5, 3.2e-4, 0)});
  EXPECT_EQ(gmCollinearUtils::are_collinear(off, nullptr), 2);
  EXPECT_EQ(gmCollinearUtils::are_collinear(ERVec<ERPoint3D>(), nullptr), 1);
  ERVec<ERPoint3D> bad({ERPoint3D(0, 0, 0), ERPoint3D(std::nan(""), 0, 0)});
  EXPECT_EQ(gmCollinearUtils::are_collinear(bad, nullptr), 2);
  EXPECT_FALSE(gmCollinearUtils::find_line(bad, line));
}

}  // namespace
