// Form at 10^5 points: the minimum zone of a plane, a circle and a cylinder from the points
// (least squares, then the sequence of linear programmes), and the first linear programme of
// each, at the least-squares element, solved by qorv's dual simplex over a working set and by
// GLPK's simplex on the whole programme (with QORV_BENCH_PEERS); both report the zone's width.
#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "bench/ratio_reporter.h"
#include "qorv/measurement/form.h"

#ifdef QORV_HAVE_GLPK
#include <glpk.h>
#endif

namespace {

constexpr int kPoints = 100000;

// A part's surface with lobes and noise of a few micrometres on a 20 mm feature.
const std::vector<ERPoint3D>& points(gmForm::Kind k) {
  static std::vector<ERPoint3D> sets[8];
  std::vector<ERPoint3D>& p = sets[k];
  if (!p.empty()) return p;
  std::mt19937_64 rng(4107);
  std::uniform_real_distribution<double> u(-1, 1);
  const double pi = std::acos(-1.0);
  for (int i = 0; i < kPoints; ++i) {
    const double a = pi * u(rng), z = u(rng), e = 0.002 * u(rng) + 0.001 * std::sin(3 * a);
    switch (k) {
      case gmForm::PLANE:
        p.emplace_back(30 * a, 20 * z, e + 0.001 * z * z);
        break;
      case gmForm::CIRCLE2D:
        p.emplace_back((10 + e) * std::cos(a), (10 + e) * std::sin(a), 0);
        break;
      default:
        p.emplace_back((10 + e) * std::cos(a), (10 + e) * std::sin(a), 20 * z);
        break;
    }
  }
  return p;
}

void minimumZone(benchmark::State& state, gmForm::Kind k) {
  const std::vector<ERPoint3D>& p = points(k);
  gmFormResult r;
  for (auto _ : state) {
    // Not DoNotOptimize(r.width): GCC may take the double through a general register there
    // and store back other bits.
    r = gmFit(p, k, gmForm::MINIMUM_ZONE);
    benchmark::ClobberMemory();
  }
  state.counters["width"] = r.width;
  state.counters["certified"] = r.certified;
  state.counters["iterations"] = r.iterations;
}

struct Programme {
  int n = 0;
  std::vector<double> g, J;
};

// The first linear programme of the first m points' minimum zone.
const Programme& programme(gmForm::Kind k, int m) {
  static std::map<std::pair<int, int>, Programme> sets;
  Programme& lp = sets[{k, m}];
  if (lp.n == 0) {
    const std::vector<ERPoint3D> p(points(k).begin(), points(k).begin() + m);
    gmFormLinearisation(p, k, gmForm::MINIMUM_ZONE, lp.n, lp.g, lp.J);
  }
  return lp;
}

// The same bound on the step for both solvers (the data are scaled to unit size).
constexpr double kTrust = 0.1;

void zoneQorv(benchmark::State& state, gmForm::Kind k) {
  const Programme& lp = programme(k, static_cast<int>(state.range(0)));
  gmLinearZone z;
  z.n = lp.n, z.trust = kTrust, z.m = lp.g.size(), z.g = lp.g.data(), z.J = lp.J.data();
  gmZoneSolution s;
  for (auto _ : state) {
    s = gmSolveLinearZone(z);
    benchmark::ClobberMemory();
  }
  state.counters["zone"] = s.h - s.l;
  state.counters["pivots"] = s.pivots;
}

#ifdef QORV_HAVE_GLPK
// min h - l  subject to  J_i p - h <= -g_i,  J_i p - l >= -g_i,  |p_j| <= trust.
void zoneGlpk(benchmark::State& state, gmForm::Kind k) {
  const Programme& lp = programme(k, static_cast<int>(state.range(0)));
  const int n = lp.n, m = static_cast<int>(lp.g.size());
  double zone = 0;
  for (auto _ : state) {
    glp_prob* P = glp_create_prob();
    glp_set_obj_dir(P, GLP_MIN);
    glp_add_cols(P, n + 2);
    for (int j = 1; j <= n; ++j) glp_set_col_bnds(P, j, GLP_DB, -kTrust, kTrust);
    glp_set_col_bnds(P, n + 1, GLP_FR, 0, 0);
    glp_set_col_bnds(P, n + 2, GLP_FR, 0, 0);
    glp_set_obj_coef(P, n + 1, 1);
    glp_set_obj_coef(P, n + 2, -1);
    glp_add_rows(P, 2 * m);
    std::vector<int> ia(1), ja(1);
    std::vector<double> ar(1);
    for (int i = 0; i < m; ++i) {
      glp_set_row_bnds(P, 2 * i + 1, GLP_UP, 0, -lp.g[static_cast<std::size_t>(i)]);
      glp_set_row_bnds(P, 2 * i + 2, GLP_LO, -lp.g[static_cast<std::size_t>(i)], 0);
      for (int side = 0; side < 2; ++side) {
        for (int j = 0; j < n; ++j)
          ia.push_back(2 * i + 1 + side), ja.push_back(j + 1),
              ar.push_back(lp.J[static_cast<std::size_t>(i) * static_cast<std::size_t>(n) +
                                static_cast<std::size_t>(j)]);
        ia.push_back(2 * i + 1 + side), ja.push_back(n + 1 + side), ar.push_back(-1);
      }
    }
    glp_load_matrix(P, static_cast<int>(ia.size()) - 1, ia.data(), ja.data(), ar.data());
    glp_smcp parm;
    glp_init_smcp(&parm);
    parm.msg_lev = GLP_MSG_OFF;
    parm.meth = GLP_DUALP;  // the dual first: faster here than the primal
    glp_simplex(P, &parm);
    zone = glp_get_obj_val(P);
    glp_delete_prob(P);
  }
  state.counters["zone"] = zone;
}
#endif

}  // namespace

BENCHMARK_CAPTURE(minimumZone, flatness, gmForm::PLANE)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(minimumZone, roundness, gmForm::CIRCLE2D)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(minimumZone, cylindricity, gmForm::CYLINDER)->Unit(benchmark::kMillisecond);
// GLPK's time includes loading the programme (2 m rows); its dual simplex (the primal takes
// minutes at 10^5 points).
BENCHMARK_CAPTURE(zoneQorv, plane, gmForm::PLANE)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(kPoints)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zoneQorv, circle, gmForm::CIRCLE2D)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(kPoints)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zoneQorv, cylinder, gmForm::CYLINDER)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(kPoints)
    ->Unit(benchmark::kMillisecond);
#ifdef QORV_HAVE_GLPK
BENCHMARK_CAPTURE(zoneGlpk, plane, gmForm::PLANE)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(kPoints)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zoneGlpk, circle, gmForm::CIRCLE2D)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(kPoints)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zoneGlpk, cylinder, gmForm::CYLINDER)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(kPoints)
    ->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char** argv) {
  return qorv_bench::runWithRatios(argc, argv,
                                   {{"zoneQorv/plane/1000", "zoneGlpk/plane/1000"},
                                    {"zoneQorv/plane/10000", "zoneGlpk/plane/10000"},
                                    {"zoneQorv/circle/1000", "zoneGlpk/circle/1000"},
                                    {"zoneQorv/circle/10000", "zoneGlpk/circle/10000"},
                                    {"zoneQorv/cylinder/1000", "zoneGlpk/cylinder/1000"},
                                    {"zoneQorv/cylinder/10000", "zoneGlpk/cylinder/10000"},
                                    {"zoneQorv/plane/100000", "zoneGlpk/plane/100000"},
                                    {"zoneQorv/circle/100000", "zoneGlpk/circle/100000"},
                                    {"zoneQorv/cylinder/100000", "zoneGlpk/cylinder/100000"}});
}
