// isInBound of 65,536 random (u, v) on a face with a 128-edge outer polygon and 8 polygonal
// holes (closed degree-1 pole curves), the region built before timing; the global nearest point
// of that face for 256 points around it. The nearest point of a
// surface of revolution (a cubic NURBS generatrix about a tilted axis, 300 degrees) for random
// points, against a 64 x 64 sampling of the same surface refined by Newton (the simple way a
// caller would do it, and not global). The per_query counter is seconds per query.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "qorv/freeform/pole_curves.h"
#include "qorv/surfaces/bounded_surfaces.h"
#include "qorv/surfaces/revolution_surface.h"
#include "qorv/surfaces/trimmed_surface.h"

namespace {

constexpr double kPi = std::numbers::pi;

void setPerQuery(benchmark::State& state, double queries) {
  state.counters["per_query"] = benchmark::Counter(
      queries, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

t_SmartPtr<ERFiniteEntity2DWF> polygon(double cx, double cy, double r, int n, double wobble) {
  QuickAlgebra::ERVec<ERPole2DH> poles(n + 1);
  for (int i = 0; i <= n; ++i) {
    const double a = 2 * kPi * (i % n) / n;
    const double rr = r * (1 + wobble * std::sin(7.0 * a));
    poles[i] = ERPole2DH(ERPoint2D(cx + rr * std::cos(a), cy + rr * std::sin(a)), 1.0);
  }
  return t_SmartPtr<ERFiniteEntity2DWF>(
      new ERCpoleNURBS2D(poles, ERKnotVector(1, n + 1, ERLimites(0, 1))));
}

void BM_IsInBound(benchmark::State& state) {
  ERTrimmedSurface face(ERBoundedPlane(ERPmIsometrie3D(), ERLimites(-2, 2), ERLimites(-2, 2)));
  face.addBound(polygon(0, 0, 1.5, 128, 0.1).get(), ERSurfaceBoundary::OUTER);
  for (int h = 0; h < 8; ++h) {
    const double a = 2 * kPi * h / 8;
    face.addBound(polygon(0.8 * std::cos(a), 0.8 * std::sin(a), 0.15, 12, 0.2).get(),
                  ERSurfaceBoundary::INNER);
  }
  std::mt19937_64 rng(2424);
  std::uniform_real_distribution<double> u(-1.8, 1.8);
  std::vector<ERPoint2D> pts(1 << 16);
  for (auto& p : pts) p = ERPoint2D(u(rng), u(rng));
  face.GetRegion();
  for (auto _ : state) {
    int in = 0;
    for (const auto& p : pts) in += face.isInBound(p);
    benchmark::DoNotOptimize(in);
  }
  setPerQuery(state, static_cast<double>(pts.size()));
}
BENCHMARK(BM_IsInBound)->Unit(benchmark::kMillisecond);

// The global nearest point of that face for points above and beside it.
void BM_FaceNearest(benchmark::State& state) {
  ERTrimmedSurface face(ERBoundedPlane(ERPmIsometrie3D(), ERLimites(-2, 2), ERLimites(-2, 2)));
  face.addBound(polygon(0, 0, 1.5, 128, 0.1).get(), ERSurfaceBoundary::OUTER);
  for (int h = 0; h < 8; ++h) {
    const double a = 2 * kPi * h / 8;
    face.addBound(polygon(0.8 * std::cos(a), 0.8 * std::sin(a), 0.15, 12, 0.2).get(),
                  ERSurfaceBoundary::INNER);
  }
  std::mt19937_64 rng(2425);
  std::uniform_real_distribution<double> u(-2, 2);
  std::vector<ERPoint3D> pts(256);
  for (auto& p : pts) p = ERPoint3D(u(rng), u(rng), u(rng));
  for (auto _ : state) {
    double sum = 0;
    for (const auto& p : pts) {
      ERPoint2D uv;
      sum += face.nearest(p, uv);
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, static_cast<double>(pts.size()));
}
BENCHMARK(BM_FaceNearest)->Unit(benchmark::kMillisecond);

struct Revolution {
  ERSurOfRevolution surface;
  std::vector<ERPoint3D> points;
  Revolution() {
    const ERPmIsometrie3D T =
        ERChgRepere3D(ERVector3D(0.3, -0.5, 0.8), ERVector3D(1, 0.2, 0.1), ERPoint3D(120, -40, 75));
    QuickAlgebra::ERVec<ERPole3DH> poles(6);
    const double xs[6] = {20, 35, 15, 40, 25, 30};
    for (int i = 0; i < 6; ++i) poles[i] = ERPole3DH(T >> ERPoint3D(xs[i], 3, 12.0 * i), 1.0);
    t_SmartPtr<ERFiniteEntity3DWF> g(
        new ERCpoleNURBS3D(poles, ERKnotVector(3, 6, ERLimites(0, 1))));
    surface = ERSurOfRevolution(g, ERInfLine3D(T >> ERVector3D(0, 0, 1), T >> ERPoint3D()),
                                ERLimites(0, 300 * kPi / 180));
    std::mt19937_64 rng(1919);
    std::uniform_real_distribution<double> u(-60, 60);
    points.resize(1024);
    for (auto& q : points) q = T >> ERPoint3D(u(rng), u(rng), 30 + u(rng));
  }
};

void BM_RevolutionNearest(benchmark::State& state) {
  const Revolution r;
  for (auto _ : state) {
    double sum = 0;
    for (const auto& p : r.points) {
      ERPoint2D uv;
      sum += r.surface.nearest(p, uv);
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, static_cast<double>(r.points.size()));
}
BENCHMARK(BM_RevolutionNearest)->Unit(benchmark::kMillisecond);

void BM_RevolutionSampledNewton(benchmark::State& state) {
  const Revolution r;
  constexpr int N = 64;
  for (auto _ : state) {
    double sum = 0;
    for (const auto& p : r.points) {
      double best = HUGE_VAL;
      ERPoint2D at;
      for (int a = 0; a <= N; ++a)
        for (int b = 0; b <= N; ++b) {
          const double u = a / double(N),
                       v = r.surface.vdeb() + (r.surface.vfin() - r.surface.vdeb()) * b / N;
          const double d = qorv::distance(r.surface(u, v), p);
          if (d < best) best = d, at = ERPoint2D(u, v);
        }
      ERPoint3D q = p;
      r.surface.ReajustProjection(q, at, 1);
      sum += qorv::distance(q, p);
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, static_cast<double>(r.points.size()));
}
BENCHMARK(BM_RevolutionSampledNewton)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
