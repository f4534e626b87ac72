// qorv inspect's engine: 1,000,000 probe centres against ten analytic bounded features (two
// planes, two bores, a shaft, a sphere, two cones, two tori), each point assigned to its nearest
// feature, compensated and judged; on 1 and 2 threads (points per second, and per feature kind
// with each point naming its feature); and 100,000 points against a bicubic NURBS surface of
// 20 x 20 poles.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "qorv/qorv.h"

namespace {

constexpr double kPi = std::numbers::pi;

std::vector<gmInspectionFeature> tenFeatures() {
  using F = gmInspectionFeature;
  auto at = [](double x, double y, double z) { return ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(x, y, z)); };
  return {
      F("top", F::PLANE, at(0, 0, 30), 0, 0, 0, 200, 0, 100, F::INSIDE, -0.05, 0.05),
      F("side", F::PLANE, ERChgRepere3D(ERVector3D(0, 0, 1), ERVector3D(1, 0, 0), ERPoint3D(0, 0, 0)), 0, 0, 0, 30, 0, 200,
        F::INSIDE, -0.05, 0.05),
      F("bore1", F::CYLINDER, at(40, 50, 0), 8, 0, 0, 2 * kPi, 0, 30, F::OUTSIDE, -0.02, 0.02),
      F("bore2", F::CYLINDER, at(80, 50, 0), 5, 0, 0, 2 * kPi, 0, 30, F::OUTSIDE, -0.02, 0.02),
      F("shaft", F::CYLINDER, at(120, 50, 30), 6, 0, 0, 2 * kPi, 0, 20, F::INSIDE, -0.02, 0.02),
      F("ball", F::SPHERE, at(160, 50, 40), 7, 0, 0, 2 * kPi, -kPi / 4, kPi / 2, F::INSIDE, -0.02, 0.02),
      F("sink1", F::CONE, at(40, 20, 20), kPi / 4, 0, 0, 2 * kPi, 4, 14, F::OUTSIDE, -0.04, 0.04),
      F("sink2", F::CONE, at(80, 20, 20), kPi / 4, 0, 0, 2 * kPi, 4, 14, F::OUTSIDE, -0.04, 0.04),
      F("fillet1", F::TORUS, at(120, 50, 32), 8, 2, 0, 2 * kPi, kPi, 1.5 * kPi, F::OUTSIDE, -0.05, 0.05),
      F("fillet2", F::TORUS, at(160, 80, 32), 8, 2, 0, 2 * kPi, kPi, 1.5 * kPi, F::OUTSIDE, -0.05, 0.05)};
}

// Points near each feature (probe centres 1 mm out, with form error), evenly over the features.
std::vector<gmMeasuredPoint> points(const std::vector<gmInspectionFeature>& fs, std::size_t n, bool named) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(0.1, 0.9);
  std::vector<gmMeasuredPoint> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const gmInspectionFeature& f = fs[i % fs.size()];
    ERVector3D normal;
    const ERPoint3D T = f.point(f.u0() + u(rng) * (f.u1() - f.u0()), f.v0() + u(rng) * (f.v1() - f.v0()), &normal);
    gmMeasuredPoint m;
    m.centre = T + (1.0 + 0.01 * (u(rng) - 0.5)) * normal;
    if (named) m.feature = f.id();
    out.push_back(m);
  }
  return out;
}

void BM_InspectTenFeatures(benchmark::State& state) {
  const gmInspection inspection(tenFeatures());
  const std::vector<gmMeasuredPoint> pts = points(inspection.features(), 1000000, false);
  for (auto _ : state) {
    const auto results = inspection.run(pts, 2.0, static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(results.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(pts.size()));
}
BENCHMARK(BM_InspectTenFeatures)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// One kind at a time, each point naming its feature: the cost of a foot and a compensation.
void BM_InspectByKind(benchmark::State& state) {
  const std::vector<gmInspectionFeature> all = tenFeatures();
  const int kinds[] = {0, 2, 6, 5, 8};  // plane, cylinder, cone, sphere, torus
  const gmInspection inspection({all[static_cast<std::size_t>(kinds[state.range(0)])]});
  const std::vector<gmMeasuredPoint> pts = points(inspection.features(), 200000, true);
  for (auto _ : state) {
    const auto results = inspection.run(pts, 2.0, 1);
    benchmark::DoNotOptimize(results.data());
  }
  state.SetLabel(gmInspectionFeature::kindName(inspection.features()[0].kind()));
  state.SetItemsProcessed(state.iterations() * static_cast<long>(pts.size()));
}
BENCHMARK(BM_InspectByKind)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->UseRealTime();

// 100,000 points against a bicubic NURBS surface of 20 x 20 poles (a wavy sheet 190 x 190).
void BM_InspectNurbs(benchmark::State& state) {
  constexpr int N = 20, p = 3;
  QuickAlgebra::ERMatrix<ERPole3DH> poles(N, N);
  for (int r = 0; r < N; ++r)
    for (int c = 0; c < N; ++c)
      poles(r, c) = ERPole3DH(10.0 * c, 10.0 * r, 3.0 * std::sin(0.7 * c) * std::cos(0.5 * r), 1.0);
  std::vector<double> knots;
  for (int i = 0; i <= p; ++i) knots.push_back(0);
  for (int i = 1; i < N - p; ++i) knots.push_back(static_cast<double>(i) / (N - p));
  for (int i = 0; i <= p; ++i) knots.push_back(1);
  const ERKnotVector kv(p, knots.data(), static_cast<int>(knots.size()));
  t_SmartPtr<ERAnyBoundedSurface> sheet(new ERSpoleNURBS3D(poles, kv, kv));
  const gmInspection inspection({gmInspectionFeature("sheet", sheet, false, -0.05, 0.05)});
  const std::vector<gmMeasuredPoint> pts = points(inspection.features(), 100000, true);
  for (auto _ : state) {
    const auto results = inspection.run(pts, 2.0, static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(results.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(pts.size()));
}
BENCHMARK(BM_InspectNurbs)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
