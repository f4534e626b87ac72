// Composite curves: PtCur and ProjectPoint on chains of 10, 100 and 1,000 segments and arcs
// (the per-call cost should not grow with the chain for PtCur: the element index), and the
// Projection of 1e6 points onto a 1,000-vertex polygon and onto a rectangle (foot, edge and
// distance), the same distances alone through the batch Distances, and Boost.Geometry's
// distance to the same closed outline when it is found.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cmath>
#include <random>
#include <vector>

#include "qorv/curves/circles.h"
#include "qorv/curves/composite_curves.h"
#include "qorv/curves/lines.h"
#include "qorv/curves/planar_shapes.h"

#ifdef QORV_HAVE_BOOST_GEOMETRY
#include <boost/geometry.hpp>
#endif

namespace {

constexpr double kPi = 3.14159265358979323846;
using Pts = QuickAlgebra::ERVec<ERPoint2D>;

// n elements, segments and quarter arcs alternating, each arc turning left.
ERCompCurve2D chain(int n) {
  ERCompCurve2D c;
  ERPoint2D p(0, 0);
  double heading = 0;
  for (int i = 0; i < n; ++i) {
    if (i % 2 == 0) {
      const ERPoint2D q(p.x() + std::cos(heading), p.y() + std::sin(heading));
      c.append(ERSegment2D(p, q), 1e-9);
    } else {
      const double r = 0.5;
      const ERPoint2D centre(p.x() - r * std::sin(heading), p.y() + r * std::cos(heading));
      const double a0 = heading - kPi / 2;
      c.append(ERArc2D(centre, r, a0, a0 + kPi / 7), 1e-9);
      heading += kPi / 7;
    }
    p = c.lastPt();
  }
  return c;
}

void BM_PtCur(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const ERCompCurve2D c = chain(n);
  std::mt19937 g(1);
  std::vector<double> ts(4096);
  for (double& t : ts) t = std::uniform_real_distribution<double>(0, n)(g);
  std::size_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(c.PtCur(ts[k++ & 4095]));
}
BENCHMARK(BM_PtCur)->Arg(10)->Arg(100)->Arg(1000);

void BM_ProjectPoint(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const ERCompCurve2D c = chain(n);
  const ERMinimax2D box = c.getBox();
  std::mt19937 g(2);
  std::vector<ERPoint2D> ps(1024);
  for (ERPoint2D& p : ps)
    p = ERPoint2D(std::uniform_real_distribution<double>(box.xmin(), box.xmax())(g),
                  std::uniform_real_distribution<double>(box.ymin(), box.ymax())(g));
  QuickAlgebra::ERVec<double> params;
  std::size_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(c.ProjectPoint(ps[k++ & 1023], params, 0.0));
}
BENCHMARK(BM_ProjectPoint)->Arg(10)->Arg(100)->Arg(1000);

Pts polygon(int n) {
  Pts v;
  std::mt19937 g(3);
  for (int i = 0; i < n; ++i) {
    const double a = 2 * kPi * i / n, r = 1 + 0.3 * std::uniform_real_distribution<double>(0, 1)(g);
    v.append(ERPoint2D(r * std::cos(a), r * std::sin(a)));
  }
  return v;
}

std::vector<ERPoint2D> points(int n) {
  std::mt19937 g(4);
  std::uniform_real_distribution<double> u(-1.5, 1.5);
  std::vector<ERPoint2D> p(static_cast<std::size_t>(n));
  for (ERPoint2D& q : p) q = ERPoint2D(u(g), u(g));
  return p;
}

void projectAll(benchmark::State& state, const Pts& outline) {
  const std::vector<ERPoint2D> ps = points(1000000);
  for (auto _ : state) {
    double sum = 0;
    for (const ERPoint2D& p : ps) {
      ERPoint2D foot;
      double d = 0;
      int edge = 0;
      qorv::Projection(p, outline, foot, d, edge);
      sum += d;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}

void BM_Projection_Polygon1000(benchmark::State& state) { projectAll(state, polygon(1000)); }
BENCHMARK(BM_Projection_Polygon1000)->Unit(benchmark::kMillisecond)->Iterations(1);
void BM_Projection_Rectangle(benchmark::State& state) {
  projectAll(state, ERRectangle2D(ERPoint2D(0, 0), ERVector2D(1, 1), 2, 1).points());
}
BENCHMARK(BM_Projection_Rectangle)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same distances through the batch entry point, which answers the distance alone.
void distancesAll(benchmark::State& state, const Pts& outline) {
  std::vector<double> xy;
  for (const ERPoint2D& p : points(1000000)) xy.push_back(p.x()), xy.push_back(p.y());
  std::vector<double> d(1000000);
  for (auto _ : state) {
    qorv::Distances(outline, xy.data(), d.size(), d.data());
    double sum = 0;
    for (double v : d) sum += v;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}
void BM_Distances_Polygon1000(benchmark::State& state) { distancesAll(state, polygon(1000)); }
BENCHMARK(BM_Distances_Polygon1000)->Unit(benchmark::kMillisecond)->Iterations(1);
void BM_Distances_Rectangle(benchmark::State& state) {
  distancesAll(state, ERRectangle2D(ERPoint2D(0, 0), ERVector2D(1, 1), 2, 1).points());
}
BENCHMARK(BM_Distances_Rectangle)->Unit(benchmark::kMillisecond)->Iterations(3);

#ifdef QORV_HAVE_BOOST_GEOMETRY
namespace bg = boost::geometry;
using BPoint = bg::model::d2::point_xy<double>;
using BLine = bg::model::linestring<BPoint>;

void boostAll(benchmark::State& state, const Pts& outline) {
  BLine ring;
  for (int i = 0; i <= outline.length(); ++i) {
    const ERPoint2D& p = outline[i % outline.length()];
    ring.push_back(BPoint(p.x(), p.y()));
  }
  const std::vector<ERPoint2D> ps = points(1000000);
  for (auto _ : state) {
    double sum = 0;
    for (const ERPoint2D& p : ps) sum += bg::distance(BPoint(p.x(), p.y()), ring);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}
void BM_BoostDistance_Polygon1000(benchmark::State& state) { boostAll(state, polygon(1000)); }
BENCHMARK(BM_BoostDistance_Polygon1000)->Unit(benchmark::kMillisecond)->Iterations(1);
void BM_BoostDistance_Rectangle(benchmark::State& state) {
  boostAll(state, ERRectangle2D(ERPoint2D(0, 0), ERVector2D(1, 1), 2, 1).points());
}
BENCHMARK(BM_BoostDistance_Rectangle)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

}  // namespace

int main(int argc, char** argv) {
  return qorv_bench::runWithRatios(
      argc, argv,
      {{"BM_Projection_Polygon1000/iterations:1", "BM_BoostDistance_Polygon1000/iterations:1"},
       {"BM_Projection_Rectangle/iterations:3", "BM_BoostDistance_Rectangle/iterations:3"},
       {"BM_Distances_Polygon1000/iterations:1", "BM_BoostDistance_Polygon1000/iterations:1"},
       {"BM_Distances_Rectangle/iterations:3", "BM_BoostDistance_Rectangle/iterations:3"}});
}
