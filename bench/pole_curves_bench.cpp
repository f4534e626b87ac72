// The costs of a NURBS curve: a rational cubic in space with 50 poles (weights 0.5 - 2,
// non-uniform knots, one double knot) inside a 100 mm box.
// - point and two derivatives at 4096 random parameters: PtCur against OpenCASCADE's
//   Geom_BSplineCurve::D2, with D0 (the point alone) beside;
// - the nearest point of 1000 points within 5 mm of the curve and 300 at 20 to 80 mm: nearest
//   against GeomAPI_ProjectPointOnCurve initialised once, Perform per point. Before timing both
//   are checked against dense sampling refined by golden section with the ends: the counters
//   nonglobal count the points whose answer is farther than that reference by more than 1e-9 mm
//   (the peer's answers without any point count too);
// - knot insertion (1 and 20 knots) and degree elevation 3 -> 5, on a fresh copy each time.
// The peer is built only with QORV_HAVE_OCCT (scripts/bench.sh). The ratios qorv / peer of CPU
// time are printed at the end (below 1: qorv faster).
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "qorv/freeform/pole_curves.h"

#ifdef QORV_HAVE_OCCT
#include <GeomAPI_ProjectPointOnCurve.hxx>
#include <Geom_BSplineCurve.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <gp_Pnt.hxx>
#include <gp_Vec.hxx>
#endif

using QuickAlgebra::ERVec;

namespace {

constexpr int kPoles = 50, kDegree = 3;

struct Fixture {
  std::vector<ERPoint3D> pts;
  std::vector<double> w;
  std::vector<double> knots;  // distinct values
  std::vector<int> mults;
};

const Fixture& fixture() {
  static const Fixture s = [] {
    Fixture r;
    std::mt19937_64 rng(1870);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < kPoles; ++i) {
      r.pts.emplace_back(2.0 * i + 1.5 * u(rng), 30 * std::sin(i / 5.0) + 3 * u(rng),
                         20 * std::cos(i / 7.0) + 3 * u(rng));
      r.w.push_back(0.5 + 1.5 * u(rng));
    }
    // 50 poles of degree 3: 54 knots, 46 interior ones on 45 values, one of them double.
    std::vector<double> inner;
    double t = 0;
    for (int i = 0; i < 45; ++i) inner.push_back(t += 0.3 + u(rng));
    r.knots.push_back(0);
    r.mults.push_back(kDegree + 1);
    for (int i = 0; i < 45; ++i) {
      r.knots.push_back(inner[i] / (t + 1.0));
      r.mults.push_back(i == 20 ? 2 : 1);
    }
    r.knots.push_back(1);
    r.mults.push_back(kDegree + 1);
    return r;
  }();
  return s;
}

ERCpoleNURBS3D qorvCurve() {
  const Fixture& s = fixture();
  ERVec<ERPole3DH> h;
  for (int i = 0; i < kPoles; ++i)
    h.append(
        ERPole3DH(s.pts[i].x() * s.w[i], s.pts[i].y() * s.w[i], s.pts[i].z() * s.w[i], s.w[i]));
  std::vector<double> U;
  for (std::size_t i = 0; i < s.knots.size(); ++i) U.insert(U.end(), s.mults[i], s.knots[i]);
  return ERCpoleNURBS3D(h, ERKnotVector(kDegree, U.data(), int(U.size())));
}

std::vector<double> randomParams() {
  std::mt19937_64 rng(1871);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> v(4096);
  for (double& x : v) x = u(rng);
  return v;
}

// 1000 points within 5 mm of the curve, then 300 at 20 to 80 mm.
const std::vector<ERPoint3D>& queryPoints() {
  static const std::vector<ERPoint3D> pts = [] {
    const ERCpoleNURBS3D c = qorvCurve();
    std::mt19937_64 rng(1872);
    std::uniform_real_distribution<double> u(0.0, 1.0), s(-1.0, 1.0);
    std::vector<ERPoint3D> v;
    for (int i = 0; i < 1300; ++i) {
      ERVector3D d(s(rng), s(rng), s(rng));
      while (d.norme() < 1e-3) d = ERVector3D(s(rng), s(rng), s(rng));
      const double r = i < 1000 ? 5.0 * u(rng) : 20.0 + 60.0 * u(rng);
      const ERPoint3D q = c(u(rng));
      const ERVector3D off = d.getnormalized() * r;
      v.emplace_back(q.x() + off.x(), q.y() + off.y(), q.z() + off.z());
    }
    return v;
  }();
  return pts;
}

// Dense sampling with the ends, each sampled local minimum refined by golden section.
double referenceDistance(const ERCpoleNURBS3D& c, const ERPoint3D& p) {
  const int n = 20000;
  std::vector<double> d(n + 1);
  for (int i = 0; i <= n; ++i) d[i] = qorv::distance(c(double(i) / n), p);
  double best = std::min(d[0], d[n]);
  for (int i = 0; i <= n; ++i) {
    if ((i > 0 && d[i - 1] < d[i]) || (i < n && d[i + 1] < d[i])) continue;
    double a = std::max(0, i - 1) / double(n), b = std::min(n, i + 1) / double(n);
    const double g = (std::sqrt(5.0) - 1) / 2;
    for (int it = 0; it < 80; ++it) {
      const double x1 = b - g * (b - a), x2 = a + g * (b - a);
      if (qorv::distance(c(x1), p) < qorv::distance(c(x2), p))
        b = x2;
      else
        a = x1;
    }
    best = std::min({best, d[i], qorv::distance(c(0.5 * (a + b)), p)});
  }
  return best;
}

const std::vector<double>& referenceDistances() {
  static const std::vector<double> ref = [] {
    const ERCpoleNURBS3D c = qorvCurve();
    std::vector<double> r;
    for (const ERPoint3D& p : queryPoints()) r.push_back(referenceDistance(c, p));
    return r;
  }();
  return ref;
}

void perCall(benchmark::State& state, int n) {
  state.counters["per_call_ns"] = benchmark::Counter(
      n * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_PtCurQorv(benchmark::State& state) {
  const ERCpoleNURBS3D c = qorvCurve();
  const auto ts = randomParams();
  for (auto _ : state) {
    double sum = 0;
    for (double t : ts) sum += c.PtCur(t).secondOrder().x();
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
BENCHMARK(BM_PtCurQorv);

void BM_PointQorv(benchmark::State& state) {
  const ERCpoleNURBS3D c = qorvCurve();
  const auto ts = randomParams();
  for (auto _ : state) {
    double sum = 0;
    for (double t : ts) sum += c(t).x();
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
BENCHMARK(BM_PointQorv);

void BM_NearestQorv(benchmark::State& state) {
  const ERCpoleNURBS3D c = qorvCurve();
  const auto& pts = queryPoints();
  const auto& ref = referenceDistances();
  int nonglobal = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    double u = 0;
    if (!(c.nearest(pts[i], u) <= ref[i] + 1e-9)) ++nonglobal;
  }
  for (auto _ : state) {
    double sum = 0, u = 0;
    for (const ERPoint3D& p : pts) sum += c.nearest(p, u);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["nonglobal"] = nonglobal;
  perCall(state, int(pts.size()));
}
BENCHMARK(BM_NearestQorv);

void BM_InsertQorv(benchmark::State& state) {
  const ERCpoleNURBS3D c = qorvCurve();
  const int count = int(state.range(0));
  for (auto _ : state) {
    ERCpoleNURBS3D e(c);
    for (int k = 0; k < count; ++k) e.insertKnot((k + 0.5) / count * 0.999, 1);
    benchmark::DoNotOptimize(e.nbPoles());
  }
}
BENCHMARK(BM_InsertQorv)->Arg(1)->Arg(20);

void BM_ElevateQorv(benchmark::State& state) {
  const ERCpoleNURBS3D c = qorvCurve();
  for (auto _ : state) {
    ERCpoleNURBS3D e(c);
    e.incrDegree(2);
    benchmark::DoNotOptimize(e.nbPoles());
  }
}
BENCHMARK(BM_ElevateQorv);

#ifdef QORV_HAVE_OCCT
Handle(Geom_BSplineCurve) occtCurve() {
  const Fixture& s = fixture();
  TColgp_Array1OfPnt P(1, kPoles);
  TColStd_Array1OfReal W(1, kPoles);
  for (int i = 0; i < kPoles; ++i) {
    P.SetValue(i + 1, gp_Pnt(s.pts[i].x(), s.pts[i].y(), s.pts[i].z()));
    W.SetValue(i + 1, s.w[i]);
  }
  const int nk = int(s.knots.size());
  TColStd_Array1OfReal K(1, nk);
  TColStd_Array1OfInteger M(1, nk);
  for (int i = 0; i < nk; ++i) K.SetValue(i + 1, s.knots[i]), M.SetValue(i + 1, s.mults[i]);
  return new Geom_BSplineCurve(P, W, K, M, kDegree);
}

void BM_D2Occt(benchmark::State& state) {
  const Handle(Geom_BSplineCurve) c = occtCurve();
  const auto ts = randomParams();
  gp_Pnt P;
  gp_Vec V1, V2;
  for (auto _ : state) {
    double sum = 0;
    for (double t : ts) c->D2(t, P, V1, V2), sum += V2.X();
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
BENCHMARK(BM_D2Occt);

void BM_D0Occt(benchmark::State& state) {
  const Handle(Geom_BSplineCurve) c = occtCurve();
  const auto ts = randomParams();
  gp_Pnt P;
  for (auto _ : state) {
    double sum = 0;
    for (double t : ts) c->D0(t, P), sum += P.X();
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
BENCHMARK(BM_D0Occt);

void BM_NearestOcct(benchmark::State& state) {
  const Handle(Geom_BSplineCurve) c = occtCurve();
  const auto& pts = queryPoints();
  const auto& ref = referenceDistances();
  GeomAPI_ProjectPointOnCurve proj;
  proj.Init(c, c->FirstParameter(), c->LastParameter());
  int nonglobal = 0, none = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    proj.Perform(gp_Pnt(pts[i].x(), pts[i].y(), pts[i].z()));
    if (proj.NbPoints() == 0) {
      ++none, ++nonglobal;
    } else if (!(proj.LowerDistance() <= ref[i] + 1e-9)) {
      ++nonglobal;
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
  perCall(state, int(pts.size()));
}
BENCHMARK(BM_NearestOcct);

void BM_InsertOcct(benchmark::State& state) {
  const Handle(Geom_BSplineCurve) c = occtCurve();
  const int count = int(state.range(0));
  for (auto _ : state) {
    Handle(Geom_BSplineCurve) e = Handle(Geom_BSplineCurve)::DownCast(c->Copy());
    for (int k = 0; k < count; ++k) e->InsertKnot((k + 0.5) / count * 0.999, 1);
    benchmark::DoNotOptimize(e->NbPoles());
  }
}
BENCHMARK(BM_InsertOcct)->Arg(1)->Arg(20);

void BM_ElevateOcct(benchmark::State& state) {
  const Handle(Geom_BSplineCurve) c = occtCurve();
  for (auto _ : state) {
    Handle(Geom_BSplineCurve) e = Handle(Geom_BSplineCurve)::DownCast(c->Copy());
    e->IncreaseDegree(5);
    benchmark::DoNotOptimize(e->NbPoles());
  }
}
BENCHMARK(BM_ElevateOcct);
#endif

}  // namespace

int main(int argc, char** argv) {
  return qorv_bench::runWithRatios(argc, argv,
                                   {{"BM_PtCurQorv", "BM_D2Occt"},
                                    {"BM_PointQorv", "BM_D0Occt"},
                                    {"BM_NearestQorv", "BM_NearestOcct"},
                                    {"BM_InsertQorv/1", "BM_InsertOcct/1"},
                                    {"BM_InsertQorv/20", "BM_InsertOcct/20"},
                                    {"BM_ElevateQorv", "BM_ElevateOcct"}});
}
