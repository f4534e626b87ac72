// A rational bicubic NURBS surface of 20 x 20 poles (a wavy sheet about 200 mm wide, weights in
// [0.7, 1.4], uniform interior knots with one double in each direction):
// - PtCur (point and partials to order 2 in u and v) at 4096 random (u, v), against
//   Geom_BSplineSurface::D2; PtCur1 (point, Su, Sv) against D1;
// - the decomposition into rational Bezier patches (every patch taken out), against
//   GeomConvert_BSplineSurfaceToBezierSurface and its Patches;
// - the nearest point of 1000 points within 5 mm of the surface and 300 at 20 to 80 mm, against
//   GeomAPI_ProjectPointOnSurf initialised once, Perform per point. Before timing, each answer is
//   compared with qorv's global one: "nonglobal" counts the peer's answers farther by more than
//   1e-9 mm, and its points without an answer. Extrema_ExtPS with its tree algorithm (minima
//   only) beside.
// The peer is built only with QORV_HAVE_OCCT (scripts/bench.sh). The ratios qorv / peer of CPU
// time per iteration are printed at the end.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "qorv/freeform/pole_surfaces.h"

#ifdef QORV_HAVE_OCCT
#include <Extrema_ExtPS.hxx>
#include <GeomAPI_ProjectPointOnSurf.hxx>
#include <GeomAdaptor_Surface.hxx>
#include <GeomConvert_BSplineSurfaceToBezierSurface.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_BezierSurface.hxx>
#include <TColGeom_Array2OfBezierSurface.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColStd_Array2OfReal.hxx>
#include <TColgp_Array2OfPnt.hxx>
#endif

using QuickAlgebra::ERMatrix;

namespace {

constexpr int kPoles = 20, kDegree = 3;

struct Fixture {
  std::vector<ERPoint3D> pts;  // pole (i in u, j in v) at j * kPoles + i
  std::vector<double> w;
  std::vector<double> knots;  // distinct values
  std::vector<int> mults;
};

const Fixture& fixture() {
  static const Fixture s = [] {
    Fixture r;
    std::mt19937_64 rng(2121);
    std::uniform_real_distribution<double> u01(0, 1);
    for (int j = 0; j < kPoles; ++j)
      for (int i = 0; i < kPoles; ++i) {
        const double x = 10.0 * i + 2 * u01(rng), y = 10.0 * j + 2 * u01(rng);
        const double z = 15 * std::sin(x / 40) * std::cos(y / 55) + 3 * u01(rng);
        r.pts.push_back(ERPoint3D(x, y, z));
        r.w.push_back(0.7 + 0.7 * u01(rng));
      }
    // 20 poles, degree 3: 16 interior knots, 14 single and one double, 15 values.
    r.knots.push_back(0), r.mults.push_back(4);
    for (int k = 1; k <= 15; ++k) r.knots.push_back(k / 16.0), r.mults.push_back(k == 8 ? 2 : 1);
    r.knots.push_back(1), r.mults.push_back(4);
    return r;
  }();
  return s;
}

ERKnotVector flatKnots() {
  const Fixture& s = fixture();
  std::vector<double> U;
  for (std::size_t k = 0; k < s.knots.size(); ++k)
    for (int m = 0; m < s.mults[k]; ++m) U.push_back(s.knots[k]);
  return ERKnotVector(kDegree, U.data(), int(U.size()));
}

const ERSpoleNURBS3D& qorvSurface() {
  static const ERSpoleNURBS3D surface = [] {
    const Fixture& s = fixture();
    ERMatrix<ERPole3DH> H(kPoles, kPoles);
    for (int k = 0; k < kPoles * kPoles; ++k) {
      const ERPoint3D& p = s.pts[k];
      H.data()[k] = ERPole3DH(p.x() * s.w[k], p.y() * s.w[k], p.z() * s.w[k], s.w[k]);
    }
    return ERSpoleNURBS3D(H, flatKnots(), flatKnots());
  }();
  return surface;
}

const std::vector<std::pair<double, double>>& randomParams() {
  static const std::vector<std::pair<double, double>> ts = [] {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u01(0, 1);
    std::vector<std::pair<double, double>> r;
    for (int i = 0; i < 4096; ++i) r.push_back({u01(rng), u01(rng)});
    return r;
  }();
  return ts;
}

// 1000 points within 5 mm, 300 at 20 to 80 mm, off random points of the surface.
const std::vector<ERPoint3D>& queryPoints() {
  static const std::vector<ERPoint3D> pts = [] {
    const ERSpoleNURBS3D& s = qorvSurface();
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u01(0, 1);
    std::vector<ERPoint3D> r;
    for (int i = 0; i < 1300; ++i) {
      const ERInfoPoint3DSurf info = s.PtCur(u01(rng), u01(rng));
      ERVector3D d(u01(rng) - 0.5, u01(rng) - 0.5, u01(rng) - 0.5);
      d = d * (1.0 / d.norme());
      const double len = i < 1000 ? 5 * u01(rng) : 20 + 60 * u01(rng);
      // Near points mostly along the normal, the others in any direction.
      const ERVector3D n = info.normale();
      const ERVector3D dir = i < 1000 ? (n * 0.9 + d * 0.1) : d;
      r.push_back(info.point() + dir * (len / dir.norme()));
    }
    return r;
  }();
  return pts;
}

[[maybe_unused]] const std::vector<double>& qorvDistances() {
  static const std::vector<double> d = [] {
    std::vector<double> r;
    ERPoint2D uv;
    for (const ERPoint3D& p : queryPoints()) r.push_back(qorvSurface().nearest(p, uv));
    return r;
  }();
  return d;
}

void perCall(benchmark::State& state, int n) {
  state.counters["per_call"] = benchmark::Counter(
      n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_PtCurQorv(benchmark::State& state) {
  const ERSpoleNURBS3D& s = qorvSurface();
  const auto& ts = randomParams();
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [u, v] : ts) sum += s.PtCur(u, v).partial(1, 1).x();
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
BENCHMARK(BM_PtCurQorv);

void BM_PtCur1Qorv(benchmark::State& state) {
  const ERSpoleNURBS3D& s = qorvSurface();
  const auto& ts = randomParams();
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [u, v] : ts) sum += s.PtCur1(u, v).partial(0, 1).x();
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
BENCHMARK(BM_PtCur1Qorv);

void BM_DecomposeQorv(benchmark::State& state) {
  const ERSpoleNURBS3D& s = qorvSurface();
  for (auto _ : state) {
    const Nurbs3DToBezier3DRDecomposer d(s);
    double sum = 0;
    for (int j = 0; j < d.nv(); ++j)
      for (int i = 0; i < d.nu(); ++i) sum += d.Bezier(i, j)->nbPolesU();
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_DecomposeQorv)->Unit(benchmark::kMicrosecond);

void BM_PointQorv(benchmark::State& state) {
  const ERSpoleNURBS3D& s = qorvSurface();
  const auto& ts = randomParams();
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [u, v] : ts) sum += s(u, v).x();
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
BENCHMARK(BM_PointQorv);

void BM_NearestQorv(benchmark::State& state) {
  const ERSpoleNURBS3D& s = qorvSurface();
  const auto& pts = queryPoints();
  for (auto _ : state) {
    double sum = 0;
    ERPoint2D uv;
    for (const ERPoint3D& p : pts) sum += s.nearest(p, uv);
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(pts.size()));
}
BENCHMARK(BM_NearestQorv);

#ifdef QORV_HAVE_OCCT
Handle(Geom_BSplineSurface) occtSurface() {
  const Fixture& s = fixture();
  TColgp_Array2OfPnt P(1, kPoles, 1, kPoles);
  TColStd_Array2OfReal W(1, kPoles, 1, kPoles);
  for (int j = 0; j < kPoles; ++j)
    for (int i = 0; i < kPoles; ++i) {
      const ERPoint3D& p = s.pts[j * kPoles + i];
      P.SetValue(i + 1, j + 1, gp_Pnt(p.x(), p.y(), p.z()));
      W.SetValue(i + 1, j + 1, s.w[j * kPoles + i]);
    }
  const int nk = int(s.knots.size());
  TColStd_Array1OfReal K(1, nk);
  TColStd_Array1OfInteger M(1, nk);
  for (int i = 0; i < nk; ++i) K.SetValue(i + 1, s.knots[i]), M.SetValue(i + 1, s.mults[i]);
  return new Geom_BSplineSurface(P, W, K, K, M, M, kDegree, kDegree);
}

void BM_D2Occt(benchmark::State& state) {
  const Handle(Geom_BSplineSurface) c = occtSurface();
  const auto& ts = randomParams();
  gp_Pnt P;
  gp_Vec D1U, D1V, D2U, D2V, D2UV;
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [u, v] : ts) c->D2(u, v, P, D1U, D1V, D2U, D2V, D2UV), sum += D2UV.X();
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
BENCHMARK(BM_D2Occt);

void BM_D1Occt(benchmark::State& state) {
  const Handle(Geom_BSplineSurface) c = occtSurface();
  const auto& ts = randomParams();
  gp_Pnt P;
  gp_Vec D1U, D1V;
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [u, v] : ts) c->D1(u, v, P, D1U, D1V), sum += D1V.X();
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
BENCHMARK(BM_D1Occt);

void BM_DecomposeOcct(benchmark::State& state) {
  const Handle(Geom_BSplineSurface) c = occtSurface();
  for (auto _ : state) {
    GeomConvert_BSplineSurfaceToBezierSurface d(c);
    TColGeom_Array2OfBezierSurface patches(1, d.NbUPatches(), 1, d.NbVPatches());
    d.Patches(patches);
    double sum = 0;
    for (int i = 1; i <= d.NbUPatches(); ++i)
      for (int j = 1; j <= d.NbVPatches(); ++j) sum += patches(i, j)->NbUPoles();
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_DecomposeOcct)->Unit(benchmark::kMicrosecond);

void BM_D0Occt(benchmark::State& state) {
  const Handle(Geom_BSplineSurface) c = occtSurface();
  const auto& ts = randomParams();
  gp_Pnt P;
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [u, v] : ts) c->D0(u, v, P), sum += P.X();
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
BENCHMARK(BM_D0Occt);

void BM_NearestOcct(benchmark::State& state) {
  const Handle(Geom_BSplineSurface) c = occtSurface();
  const auto& pts = queryPoints();
  const auto& ref = qorvDistances();
  GeomAPI_ProjectPointOnSurf proj;
  proj.Init(c, 0, 1, 0, 1);
  int nonglobal = 0, none = 0, qorvWorse = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    proj.Perform(gp_Pnt(pts[i].x(), pts[i].y(), pts[i].z()));
    if (proj.NbPoints() == 0) {
      ++none, ++nonglobal;
    } else if (!(proj.LowerDistance() <= ref[i] + 1e-9)) {
      ++nonglobal;
    } else if (proj.LowerDistance() < ref[i] - 1e-9) {
      ++qorvWorse;
    }
  }
  for (auto _ : state) {
    double sum = 0;
    for (const ERPoint3D& p : pts) {
      proj.Perform(gp_Pnt(p.x(), p.y(), p.z()));
      if (proj.NbPoints() > 0) sum += proj.LowerDistance();
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["nonglobal"] = nonglobal;
  state.counters["no_answer"] = none;
  state.counters["qorv_farther"] = qorvWorse;
  perCall(state, int(pts.size()));
}
BENCHMARK(BM_NearestOcct);

// The peer's extremum search with its tree of cells, minima only (faster, not always global).
void BM_NearestOcctTree(benchmark::State& state) {
  const Handle(Geom_BSplineSurface) c = occtSurface();
  const GeomAdaptor_Surface adaptor(c);
  const auto& pts = queryPoints();
  const auto& ref = qorvDistances();
  Extrema_ExtPS ext;
  ext.SetFlag(Extrema_ExtFlag_MIN);
  ext.SetAlgo(Extrema_ExtAlgo_Tree);
  ext.Initialize(adaptor, 0, 1, 0, 1, 1e-9, 1e-9);
  auto lowest = [&](const ERPoint3D& p) {
    ext.Perform(gp_Pnt(p.x(), p.y(), p.z()));
    double best = HUGE_VAL;
    if (ext.IsDone())
      for (int k = 1; k <= ext.NbExt(); ++k) best = std::min(best, ext.SquareDistance(k));
    return std::sqrt(best);
  };
  int nonglobal = 0;
  for (std::size_t i = 0; i < pts.size(); ++i)
    if (!(lowest(pts[i]) <= ref[i] + 1e-9)) ++nonglobal;
  for (auto _ : state) {
    double sum = 0;
    for (const ERPoint3D& p : pts) sum += lowest(p);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["nonglobal"] = nonglobal;
  perCall(state, int(pts.size()));
}
BENCHMARK(BM_NearestOcctTree);
#endif

}  // namespace

int main(int argc, char** argv) {
  return qorv_bench::runWithRatios(argc, argv,
                                   {{"BM_PtCurQorv", "BM_D2Occt"},
                                    {"BM_PtCur1Qorv", "BM_D1Occt"},
                                    {"BM_DecomposeQorv", "BM_DecomposeOcct"},
                                    {"BM_PointQorv", "BM_D0Occt"},
                                    {"BM_NearestQorv", "BM_NearestOcct"},
                                    {"BM_NearestQorv", "BM_NearestOcctTree"}});
}
