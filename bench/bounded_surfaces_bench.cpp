// Evaluation to order 2 (PtCur) and the parameters of the foot (ProjectionNormale with inside
// set) on bounded cylinder, cone, sphere and torus in a tilted placement: 65,536 random
// parameter pairs and points. With QORV_HAVE_OCCT the same queries go to the same gp_ surfaces:
// ElSLib::D2 (point, first and second partials) and ElSLib::Parameters. The per_query counter is
// seconds per query.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "qorv/surfaces/bounded_surfaces.h"

#ifdef QORV_HAVE_OCCT
#include <ElSLib.hxx>
#include <gp_Ax3.hxx>
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

const ERPmIsometrie3D& placement() {
  static const ERPmIsometrie3D T =
      ERChgRepere3D(ERVector3D(0.3, -0.5, 0.8), ERVector3D(1, 0.2, 0.1), ERPoint3D(120, -40, 75));
  return T;
}

struct Queries {
  std::vector<double> u, v;
  std::vector<ERPoint3D> p;
};

Queries queries(const ERLimites& U, const ERLimites& V, double size) {
  std::mt19937_64 rng(2020);
  std::uniform_real_distribution<double> t(0, 1), c(-2 * size, 2 * size);
  Queries q;
  for (int i = 0; i < kQueries; ++i) {
    q.u.push_back(U(t(rng))), q.v.push_back(V(t(rng)));
    q.p.push_back(placement() >> ERPoint3D(c(rng), c(rng), c(rng)));
  }
  return q;
}

ERBoundedCylinder cylinder() { return ERBoundedCylinder(placement(), 30, 25, 0.5, 5.5); }
ERBoundedCone cone() {
  ERBoundedCone c(placement(), 20 * kPi / 180, 5, 60);
  c.setBound(c.getBoundU(), ERLimites(0.5, 5.5));
  return c;
}
ERBoundedSphere sphere() {
  return ERBoundedSphere(placement(), 40, ERLimites(0.5, 5.5), ERLimites(-1.2, 1.2));
}
ERBoundedTorus torus() {
  return ERBoundedTorus(placement(), 50, 8, ERLimites(0.5, 5.5), ERLimites(0.5, 5.5));
}

template <class Surface>
void evaluate(benchmark::State& state, const Surface& s, double size) {
  const Queries q = queries(s.getBoundU(), s.getBoundV(), size);
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < kQueries; ++i) {
      const ERInfoPoint3DSurf e = s.PtCur(q.u[i], q.v[i]);
      sum += e.point().x() + e.partial(0, 1).y() + e.partial(0, 2).z();
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}

template <class Surface>
void parameters(benchmark::State& state, const Surface& s, double size) {
  const Queries q = queries(s.getBoundU(), s.getBoundV(), size);
  for (auto _ : state) {
    double sum = 0;
    ERPoint2D uv;
    for (const ERPoint3D& p : q.p)
      if (s.ProjectionNormale(p, 0.0, uv, 1)) sum += uv.x() + uv.y();
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}

void BM_CylinderPtCur(benchmark::State& st) { evaluate(st, cylinder(), 25); }
void BM_ConePtCur(benchmark::State& st) { evaluate(st, cone(), 40); }
void BM_SpherePtCur(benchmark::State& st) { evaluate(st, sphere(), 40); }
void BM_TorusPtCur(benchmark::State& st) { evaluate(st, torus(), 58); }
void BM_CylinderParameters(benchmark::State& st) { parameters(st, cylinder(), 25); }
void BM_ConeParameters(benchmark::State& st) { parameters(st, cone(), 40); }
void BM_SphereParameters(benchmark::State& st) { parameters(st, sphere(), 40); }
void BM_TorusParameters(benchmark::State& st) { parameters(st, torus(), 58); }
BENCHMARK(BM_CylinderPtCur);
BENCHMARK(BM_ConePtCur);
BENCHMARK(BM_SpherePtCur);
BENCHMARK(BM_TorusPtCur);
BENCHMARK(BM_CylinderParameters);
BENCHMARK(BM_ConeParameters);
BENCHMARK(BM_SphereParameters);
BENCHMARK(BM_TorusParameters);

#ifdef QORV_HAVE_OCCT
gp_Ax3 axes() {
  const ERPoint3D o = placement() >> ERPoint3D(0, 0, 0);
  const ERVector3D z = placement() >> ERVector3D(0, 0, 1), x = placement() >> ERVector3D(1, 0, 0);
  return gp_Ax3(gp_Pnt(o.x(), o.y(), o.z()), gp_Dir(z.x(), z.y(), z.z()),
                gp_Dir(x.x(), x.y(), x.z()));
}

// OCCT's parameters run (angle, height) on cylinders and cones: the same queries, swapped.
template <class Surface>
void occtEvaluate(benchmark::State& state, const Surface& s, const ERLimites& U, const ERLimites& V,
                  double size, bool swap) {
  const Queries q = queries(U, V, size);
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < kQueries; ++i) {
      gp_Pnt p;
      gp_Vec du, dv, duu, dvv, duv;
      const double u = swap ? q.v[i] : q.u[i], v = swap ? q.u[i] : q.v[i];
      ElSLib::D2(u, v, s, p, du, dv, duu, dvv, duv);
      sum += p.X() + du.Y() + duu.Z();
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}

template <class Surface>
void occtParameters(benchmark::State& state, const Surface& s, const ERLimites& U,
                    const ERLimites& V, double size) {
  const Queries q = queries(U, V, size);
  std::vector<gp_Pnt> pts;
  for (const ERPoint3D& p : q.p) pts.emplace_back(p.x(), p.y(), p.z());
  for (auto _ : state) {
    double sum = 0;
    for (const gp_Pnt& p : pts) {
      double u = 0, v = 0;
      ElSLib::Parameters(s, p, u, v);
      if (U.inBound(u) && V.inBound(v)) sum += u + v;
    }
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, kQueries);
}

void BM_OcctCylinderD2(benchmark::State& st) {
  const ERBoundedCylinder c = cylinder();
  occtEvaluate(st, gp_Cylinder(axes(), 25), c.getBoundU(), c.getBoundV(), 25, true);
}
void BM_OcctConeD2(benchmark::State& st) {
  const ERBoundedCone c = cone();
  occtEvaluate(st, gp_Cone(axes(), 20 * kPi / 180, 0), c.getBoundU(), c.getBoundV(), 40, true);
}
void BM_OcctSphereD2(benchmark::State& st) {
  const ERBoundedSphere c = sphere();
  occtEvaluate(st, gp_Sphere(axes(), 40), c.getBoundU(), c.getBoundV(), 40, false);
}
void BM_OcctTorusD2(benchmark::State& st) {
  const ERBoundedTorus c = torus();
  occtEvaluate(st, gp_Torus(axes(), 50, 8), c.getBoundU(), c.getBoundV(), 58, false);
}
void BM_OcctCylinderParameters(benchmark::State& st) {
  const ERBoundedCylinder c = cylinder();
  occtParameters(st, gp_Cylinder(axes(), 25), c.getBoundV(), c.getBoundU(), 25);
}
void BM_OcctConeParameters(benchmark::State& st) {
  const ERBoundedCone c = cone();
  occtParameters(st, gp_Cone(axes(), 20 * kPi / 180, 0), c.getBoundV(), c.getBoundU(), 40);
}
void BM_OcctSphereParameters(benchmark::State& st) {
  const ERBoundedSphere c = sphere();
  occtParameters(st, gp_Sphere(axes(), 40), c.getBoundU(), c.getBoundV(), 40);
}
void BM_OcctTorusParameters(benchmark::State& st) {
  const ERBoundedTorus c = torus();
  occtParameters(st, gp_Torus(axes(), 50, 8), c.getBoundU(), c.getBoundV(), 58);
}
BENCHMARK(BM_OcctCylinderD2);
BENCHMARK(BM_OcctConeD2);
BENCHMARK(BM_OcctSphereD2);
BENCHMARK(BM_OcctTorusD2);
BENCHMARK(BM_OcctCylinderParameters);
BENCHMARK(BM_OcctConeParameters);
BENCHMARK(BM_OcctSphereParameters);
BENCHMARK(BM_OcctTorusParameters);
#endif

}  // namespace

BENCHMARK_MAIN();
