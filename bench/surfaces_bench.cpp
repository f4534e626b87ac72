// Foot with normal, and signed distance, of 65,536 random points around the analytic surfaces
// in a tilted frame: a cylinder of radius 25, a cone of half-angle 20 degrees, a sphere of
// radius 40 and a torus 50 / 8. With QORV_HAVE_OCCT the same queries go to the same surfaces
// as gp_ primitives: the foot by ElSLib::Parameters and ElSLib::D1 (point and partials, the
// normal crossed from them), the distance by Extrema_ExtPElS (the nearest of its extrema).
// Beside them the batch entry point over an array, and the peer's closed forms (gp_Lin, gp_Pnt,
// gp_Circ distances less the radius): the ratios are printed at the end.
// The per_query counter is seconds per query.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "qorv/surfaces/analytic_surfaces.h"

#ifdef QORV_HAVE_OCCT
#include <ElSLib.hxx>
#include <Extrema_ExtPElS.hxx>
#include <gp_Ax3.hxx>
#include <gp_Circ.hxx>
#include <gp_Lin.hxx>
#include <gp_Cone.hxx>
#include <gp_Cylinder.hxx>
#include <gp_Sphere.hxx>
#include <gp_Torus.hxx>
#endif

namespace {

constexpr int kQueries = 1 << 16;
constexpr double kPi = std::numbers::pi;

void setPerQuery(benchmark::State& state, double queries) {
  state.counters["per_query"] = benchmark::Counter(
      queries, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The tilted frame every surface is placed in, and points around a surface of size `size`.
struct Scene {
  ERPmIsometrie3D T =
      ERChgRepere3D(ERVector3D(0.3, -0.5, 0.8), ERVector3D(1, 0.2, 0.1), ERPoint3D(120, -40, 75));
  ERPoint3D origin() const { return T >> ERPoint3D(); }
  ERVector3D x() const { return T >> ERVector3D(1, 0, 0); }
  ERVector3D z() const { return T >> ERVector3D(0, 0, 1); }
  std::vector<ERPoint3D> points(double size) const {
    std::mt19937_64 rng(1919);
    std::uniform_real_distribution<double> u(-2 * size, 2 * size);
    std::vector<ERPoint3D> p(kQueries);
    for (auto& q : p) q = T >> ERPoint3D(u(rng), u(rng), u(rng));
    return p;
  }
};

const Scene& scene() {
  static const Scene s;
  return s;
}

template <class Surface>
void footAndNormal(benchmark::State& state, const Surface& s, double size) {
  const auto pts = scene().points(size);
  for (auto _ : state) {
    double sum = 0;
    ERPoint3D foot;
    ERVector3D n;
    for (const auto& p : pts)
      if (s.ProjectionNormale(p, foot, n)) sum += foot.x() + n.z();
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}

template <class Surface>
void signedDistance(benchmark::State& state, const Surface& s, double size) {
  const auto pts = scene().points(size);
  for (auto _ : state) {
    double sum = 0, d = 0;
    for (const auto& p : pts) {
      s.SignedMinimalDistance(p, d);
      sum += d;
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}

ERCylinder cylinder() { return ERCylinder(ERInfLine3D(scene().z(), scene().origin()), 25); }
ERCone cone() { return ERCone(scene().origin(), scene().z(), 20 * kPi / 180); }
ERSphere sphere() { return ERSphere(scene().origin(), 40); }
ERTorus torus() { return ERTorus(50, 8, scene().z(), scene().origin()); }

void BM_CylinderFootNormal(benchmark::State& st) { footAndNormal(st, cylinder(), 25); }
void BM_ConeFootNormal(benchmark::State& st) { footAndNormal(st, cone(), 40); }
void BM_SphereFootNormal(benchmark::State& st) { footAndNormal(st, sphere(), 40); }
void BM_TorusFootNormal(benchmark::State& st) { footAndNormal(st, torus(), 58); }
void BM_CylinderDistance(benchmark::State& st) { signedDistance(st, cylinder(), 25); }
void BM_ConeDistance(benchmark::State& st) { signedDistance(st, cone(), 40); }
void BM_SphereDistance(benchmark::State& st) { signedDistance(st, sphere(), 40); }
void BM_TorusDistance(benchmark::State& st) { signedDistance(st, torus(), 58); }
// The batch entry point: the same distances, bit for bit, over an array.
template <class Surface>
void batchDistance(benchmark::State& state, const Surface& s, double size) {
  std::vector<double> xyz, d(kQueries);
  for (const auto& p : scene().points(size)) xyz.insert(xyz.end(), {p.x(), p.y(), p.z()});
  for (auto _ : state) {
    s.SignedDistances(xyz.data(), kQueries, d.data());
    benchmark::DoNotOptimize(d.data());
  }
  setPerQuery(state, kQueries);
}
void BM_CylinderBatch(benchmark::State& st) { batchDistance(st, cylinder(), 25); }
void BM_ConeBatch(benchmark::State& st) { batchDistance(st, cone(), 40); }
void BM_SphereBatch(benchmark::State& st) { batchDistance(st, sphere(), 40); }
void BM_TorusBatch(benchmark::State& st) { batchDistance(st, torus(), 58); }
BENCHMARK(BM_CylinderBatch);
BENCHMARK(BM_ConeBatch);
BENCHMARK(BM_SphereBatch);
BENCHMARK(BM_TorusBatch);
BENCHMARK(BM_CylinderFootNormal);
BENCHMARK(BM_ConeFootNormal);
BENCHMARK(BM_SphereFootNormal);
BENCHMARK(BM_TorusFootNormal);
BENCHMARK(BM_CylinderDistance);
BENCHMARK(BM_ConeDistance);
BENCHMARK(BM_SphereDistance);
BENCHMARK(BM_TorusDistance);

#ifdef QORV_HAVE_OCCT
gp_Ax3 axes() {
  const ERPoint3D o = scene().origin();
  const ERVector3D z = scene().z(), x = scene().x();
  return gp_Ax3(gp_Pnt(o.x(), o.y(), o.z()), gp_Dir(z.x(), z.y(), z.z()),
                gp_Dir(x.x(), x.y(), x.z()));
}

std::vector<gp_Pnt> occtPoints(double size) {
  std::vector<gp_Pnt> out;
  for (const auto& p : scene().points(size)) out.emplace_back(p.x(), p.y(), p.z());
  return out;
}

template <class Surface>
void occtFootAndNormal(benchmark::State& state, const Surface& s, double size) {
  const auto pts = occtPoints(size);
  for (auto _ : state) {
    double sum = 0;
    for (const auto& p : pts) {
      double u = 0, v = 0;
      ElSLib::Parameters(s, p, u, v);
      gp_Pnt foot;
      gp_Vec du, dv;
      ElSLib::D1(u, v, s, foot, du, dv);
      const gp_Vec n = du.Crossed(dv);
      const double m = n.Magnitude();
      if (m > 0) sum += foot.X() + n.Z() / m;
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}

template <class Surface>
void occtDistance(benchmark::State& state, const Surface& s, double size) {
  const auto pts = occtPoints(size);
  for (auto _ : state) {
    double sum = 0;
    for (const auto& p : pts) {
      Extrema_ExtPElS ext(p, s, 1e-9);
      if (!ext.IsDone()) continue;
      double best = INFINITY;
      for (int i = 1; i <= ext.NbExt(); ++i) best = std::min(best, ext.SquareDistance(i));
      sum += std::sqrt(best);
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}

void BM_OcctCylinderFootNormal(benchmark::State& st) {
  occtFootAndNormal(st, gp_Cylinder(axes(), 25), 25);
}
void BM_OcctConeFootNormal(benchmark::State& st) {
  occtFootAndNormal(st, gp_Cone(axes(), 20 * kPi / 180, 0), 40);
}
void BM_OcctSphereFootNormal(benchmark::State& st) {
  occtFootAndNormal(st, gp_Sphere(axes(), 40), 40);
}
void BM_OcctTorusFootNormal(benchmark::State& st) {
  occtFootAndNormal(st, gp_Torus(axes(), 50, 8), 58);
}
void BM_OcctCylinderDistance(benchmark::State& st) {
  occtDistance(st, gp_Cylinder(axes(), 25), 25);
}
void BM_OcctConeDistance(benchmark::State& st) {
  occtDistance(st, gp_Cone(axes(), 20 * kPi / 180, 0), 40);
}
void BM_OcctSphereDistance(benchmark::State& st) { occtDistance(st, gp_Sphere(axes(), 40), 40); }
void BM_OcctTorusDistance(benchmark::State& st) { occtDistance(st, gp_Torus(axes(), 50, 8), 58); }
// The peer's closed forms a careful user writes for the unsigned-then-shifted distance: to the
// axis line less the radius, to the centre less the radius, to the core circle less the tube's.
template <class Distance>
void occtClosedForm(benchmark::State& state, Distance distance, double size) {
  const auto pts = occtPoints(size);
  std::vector<double> d(pts.size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < pts.size(); ++i) d[i] = distance(pts[i]);
    benchmark::DoNotOptimize(d.data());
  }
  setPerQuery(state, kQueries);
}
void BM_OcctCylinderClosedForm(benchmark::State& st) {
  const gp_Lin axis(axes().Axis());
  occtClosedForm(st, [&](const gp_Pnt& p) { return axis.Distance(p) - 25; }, 25);
}
void BM_OcctSphereClosedForm(benchmark::State& st) {
  const gp_Pnt c = axes().Location();
  occtClosedForm(st, [&](const gp_Pnt& p) { return p.Distance(c) - 40; }, 40);
}
void BM_OcctTorusClosedForm(benchmark::State& st) {
  const gp_Circ core(axes().Ax2(), 50);
  occtClosedForm(st, [&](const gp_Pnt& p) { return core.Distance(p) - 8; }, 58);
}
BENCHMARK(BM_OcctCylinderClosedForm);
BENCHMARK(BM_OcctSphereClosedForm);
BENCHMARK(BM_OcctTorusClosedForm);
BENCHMARK(BM_OcctCylinderFootNormal);
BENCHMARK(BM_OcctConeFootNormal);
BENCHMARK(BM_OcctSphereFootNormal);
BENCHMARK(BM_OcctTorusFootNormal);
BENCHMARK(BM_OcctCylinderDistance);
BENCHMARK(BM_OcctConeDistance);
BENCHMARK(BM_OcctSphereDistance);
BENCHMARK(BM_OcctTorusDistance);
#endif

}  // namespace

int main(int argc, char** argv) {
  return qorv_bench::runWithRatios(argc, argv,
                                   {{"BM_CylinderBatch", "BM_OcctCylinderClosedForm"},
                                    {"BM_SphereBatch", "BM_OcctSphereClosedForm"},
                                    {"BM_TorusBatch", "BM_OcctTorusClosedForm"},
                                    {"BM_CylinderDistance", "BM_OcctCylinderClosedForm"},
                                    {"BM_SphereDistance", "BM_OcctSphereClosedForm"},
                                    {"BM_TorusDistance", "BM_OcctTorusClosedForm"}});
}
