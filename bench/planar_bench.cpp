// Chaining shuffled, half-reversed polygon edges against a plain n^2 matcher, and classifying
// 1e6 random points against a 1,000-vertex polygon with 20 holes by Inside, CheckPoint and the
// region grid, with Boost.Geometry and CGAL on the same points when they are found. The
// counter "disagree" counts points off the boundary where a peer and CheckPoint differ.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "qorv/planar/chainer.h"
#include "qorv/planar/grid.h"
#include "qorv/planar/regions.h"

#ifdef QORV_HAVE_BOOST_GEOMETRY
#include <boost/geometry.hpp>
#endif
#ifdef QORV_HAVE_CGAL
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Polygon_2_algorithms.h>

using namespace qorv;
#endif

namespace {

using Pts = QuickAlgebra::ERVec<ERPoint2D>;
constexpr double kTwoPi = 6.283185307179586;

class Piece : public ERChainerSeg2D {
 public:
  Piece(ERPoint2D a, ERPoint2D b) : a_(a), b_(b) {}
  ERPoint2D getExt1() const override { return a_; }
  ERPoint2D getExt2() const override { return b_; }
  ERVector2D getTan1() const override { return ERVector2D(a_, b_); }
  ERVector2D getTan2() const override { return ERVector2D(a_, b_); }
  ERObject* getCopy() const override { return new Piece(a_, b_); }

 private:
  ERPoint2D a_, b_;
};

struct Edge {
  ERPoint2D a, b;
};

// n edges of closed 20-gons spread over the plane, shuffled, half of them reversed.
std::vector<Edge> polygonEdges(int n) {
  std::mt19937 g(12345);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<Edge> e;
  for (int k = 0; static_cast<int>(e.size()) < n; ++k) {
    const double cx = (k % 100) * 10.0, cy = (k / 100) * 10.0;
    std::vector<double> ang(20);
    for (double& a : ang) a = u(g) * kTwoPi;
    std::sort(ang.begin(), ang.end());
    for (int i = 0; i < 20 && static_cast<int>(e.size()) < n; ++i) {
      const double a = ang[static_cast<std::size_t>(i)],
                   b = ang[static_cast<std::size_t>((i + 1) % 20)];
      Edge s{{cx + 3 * std::cos(a), cy + 3 * std::sin(a)},
             {cx + 3 * std::cos(b), cy + 3 * std::sin(b)}};
      if (u(g) < 0.5) std::swap(s.a, s.b);
      e.push_back(s);
    }
  }
  std::shuffle(e.begin(), e.end(), g);
  return e;
}

void BM_Chainer(benchmark::State& state) {
  const auto edges = polygonEdges(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ERChainerProcessor p(1e-6);
    for (const Edge& s : edges) p.insert(t_SmartPtr<ERChainerSeg2D>(new Piece(s.a, s.b)));
    benchmark::DoNotOptimize(p.nbchains());
    state.counters["chains"] = p.nbchains();
  }
}
BENCHMARK(BM_Chainer)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The plain matcher: grow each chain at its end, then at its start, scanning every piece.
void BM_NaiveMatcher(benchmark::State& state) {
  const auto edges = polygonEdges(static_cast<int>(state.range(0)));
  const double t2 = 1e-12;
  for (auto _ : state) {
    std::vector<char> used(edges.size(), 0);
    int chains = 0;
    for (std::size_t s = 0; s < edges.size(); ++s) {
      if (used[s]) continue;
      used[s] = 1, ++chains;
      ERPoint2D head = edges[s].a, tail = edges[s].b;
      for (bool grown = true; grown;) {
        grown = false;
        for (std::size_t k = 0; k < edges.size(); ++k) {
          if (used[k]) continue;
          if (qorv::distance2(tail, edges[k].a) < t2)
            tail = edges[k].b;
          else if (qorv::distance2(tail, edges[k].b) < t2)
            tail = edges[k].a;
          else if (qorv::distance2(head, edges[k].b) < t2)
            head = edges[k].a;
          else if (qorv::distance2(head, edges[k].a) < t2)
            head = edges[k].b;
          else
            continue;
          used[k] = 1, grown = true;
        }
      }
    }
    benchmark::DoNotOptimize(chains);
    state.counters["chains"] = chains;
  }
}
BENCHMARK(BM_NaiveMatcher)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
struct Scene {
  std::vector<Pts> loops;  // outer counter-clockwise, then the holes clockwise
  ERRegion2D region{21, 1};
  std::vector<ERPoint2D> points;
  std::vector<int> truth;  // CheckPoint: 0 in, 1 out, 2/3 boundary
  Scene() {
    std::mt19937 g(7);
    std::uniform_real_distribution<double> u(0, 1);
    Pts outer;
    for (int i = 0; i < 1000; ++i) {
      const double a = kTwoPi * i / 1000, r = 8 + 2 * u(g);
      outer.append(ERPoint2D(r * std::cos(a), r * std::sin(a)));
    }
    loops.push_back(outer);
    for (int h = 0; h < 20; ++h) {
      const double cx = -4 + 2 * (h % 5), cy = -3 + 2 * (h / 5);
      Pts hole;
      for (int i = 0; i < 10; ++i) {
        const double a = -kTwoPi * i / 10;
        hole.append(ERPoint2D(cx + 0.6 * std::cos(a), cy + 0.6 * std::sin(a)));
      }
      loops.push_back(hole);
    }
    for (const Pts& l : loops) region.Add(l);
    for (int i = 0; i < 1000000; ++i) points.emplace_back(-11 + 22 * u(g), -11 + 22 * u(g));
    int loop;
    for (const ERPoint2D& p : points) truth.push_back(region.CheckPoint(p, loop));
  }
};

const Scene& scene() {
  static const Scene s;
  return s;
}

void BM_Inside(benchmark::State& state) {
  const Scene& s = scene();
  for (auto _ : state) {
    int in = 0;
    for (const ERPoint2D& p : s.points) {
      int r = qorv::Inside(p, s.loops[0]) == 0;
      for (std::size_t h = 1; r && h < s.loops.size(); ++h) r = qorv::Inside(p, s.loops[h]) == 3;
      in += r;
    }
    benchmark::DoNotOptimize(in);
  }
}
BENCHMARK(BM_Inside)->Unit(benchmark::kMillisecond);

void BM_CheckPoint(benchmark::State& state) {
  const Scene& s = scene();
  for (auto _ : state) {
    int in = 0, loop;
    for (const ERPoint2D& p : s.points) in += s.region.CheckPoint(p, loop) == 0;
    benchmark::DoNotOptimize(in);
  }
}
BENCHMARK(BM_CheckPoint)->Unit(benchmark::kMillisecond);

void BM_Grid(benchmark::State& state) {
  const Scene& s = scene();
  const ERRegion2DGrid grid(s.region);
  for (auto _ : state) {
    int in = 0, loop, disagree = 0;
    for (std::size_t i = 0; i < s.points.size(); ++i) {
      const ERPoint2D& p = s.points[i];
      const auto c = grid.inside(p);
      const int r = c == ERRegion2DGrid::BOUNDARY ? s.region.CheckPoint(p, loop) == 0
                                                  : c == ERRegion2DGrid::INSIDE;
      in += r;
      if (s.truth[i] < 2) disagree += r != (s.truth[i] == 0);
    }
    benchmark::DoNotOptimize(in);
    state.counters["disagree"] = disagree;
  }
}
BENCHMARK(BM_Grid)->Unit(benchmark::kMillisecond);

#ifdef QORV_HAVE_BOOST_GEOMETRY
namespace bg = boost::geometry;
using BPoint = bg::model::d2::point_xy<double>;
using BPolygon = bg::model::polygon<BPoint>;

void BM_BoostCoveredBy(benchmark::State& state) {
  const Scene& s = scene();
  BPolygon poly;
  for (std::size_t l = 0; l < s.loops.size(); ++l) {
    auto& ring = l == 0 ? poly.outer() : (poly.inners().emplace_back(), poly.inners().back());
    const Pts& c = s.loops[l];
    for (int i = 0; i < c.length(); ++i) ring.emplace_back(c[i].x(), c[i].y());
    ring.emplace_back(c[0].x(), c[0].y());
  }
  bg::correct(poly);
  for (auto _ : state) {
    int in = 0, disagree = 0;
    for (std::size_t i = 0; i < s.points.size(); ++i) {
      const int r = bg::covered_by(BPoint(s.points[i].x(), s.points[i].y()), poly);
      in += r;
      if (s.truth[i] < 2) disagree += r != (s.truth[i] == 0);
    }
    benchmark::DoNotOptimize(in);
    state.counters["disagree"] = disagree;
  }
}
BENCHMARK(BM_BoostCoveredBy)->Unit(benchmark::kMillisecond);
#endif

#ifdef QORV_HAVE_CGAL
using K = CGAL::Exact_predicates_inexact_constructions_kernel;

void BM_CgalBoundedSide(benchmark::State& state) {
  const Scene& s = scene();
  // As a careful user calls it: each ring's box first, the ring only when the box holds q.
  std::vector<std::vector<K::Point_2>> rings;
  std::vector<CGAL::Bbox_2> boxes;
  for (const Pts& c : s.loops) {
    rings.emplace_back();
    for (int i = 0; i < c.length(); ++i) rings.back().emplace_back(c[i].x(), c[i].y());
    boxes.push_back(CGAL::bbox_2(rings.back().begin(), rings.back().end()));
  }
  const auto inBox = [](const CGAL::Bbox_2& b, const K::Point_2& q) {
    return b.xmin() <= q.x() && q.x() <= b.xmax() && b.ymin() <= q.y() && q.y() <= b.ymax();
  };
  for (auto _ : state) {
    int in = 0, disagree = 0;
    for (std::size_t i = 0; i < s.points.size(); ++i) {
      const K::Point_2 q(s.points[i].x(), s.points[i].y());
      int r = inBox(boxes[0], q) && CGAL::bounded_side_2(rings[0].begin(), rings[0].end(), q,
                                                         K()) != CGAL::ON_UNBOUNDED_SIDE;
      for (std::size_t h = 1; r && h < rings.size(); ++h)
        r = !inBox(boxes[h], q) ||
            CGAL::bounded_side_2(rings[h].begin(), rings[h].end(), q, K()) != CGAL::ON_BOUNDED_SIDE;
      in += r;
      if (s.truth[i] < 2) disagree += r != (s.truth[i] == 0);
    }
    benchmark::DoNotOptimize(in);
    state.counters["disagree"] = disagree;
  }
}
BENCHMARK(BM_CgalBoundedSide)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
int main(int argc, char** argv) {
  return qorv_bench::runWithRatios(argc, argv,
                                   {{"BM_CheckPoint", "BM_CgalBoundedSide"},
                                    {"BM_CheckPoint", "BM_BoostCoveredBy"},
                                    {"BM_Grid", "BM_CgalBoundedSide"}});
}
