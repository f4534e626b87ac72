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
// - the same three against a plain textbook evaluator written here (the target: at most 1.3
//   times its cost).
// The peer is built only with QORV_HAVE_OCCT (scripts/bench.sh). The ratios qorv / peer of CPU
// time per iteration are printed at the end.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <algorithm>
#include <array>
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

// The reference a careful user writes from the textbook: the span by binary search, the
// triangular basis (with its derivatives), the tensor sum of homogeneous poles and the quotient
// rule; no caches, no special cases. qorv's evaluation is held to 1.3 times its cost.
class PlainNurbs {
 public:
  PlainNurbs() {
    const Fixture& s = fixture();
    for (std::size_t k = 0; k < s.knots.size(); ++k)
      for (int m = 0; m < s.mults[k]; ++m) U_.push_back(s.knots[k]);
    for (int k = 0; k < kPoles * kPoles; ++k) {
      const ERPoint3D& q = s.pts[static_cast<std::size_t>(k)];
      const double w = s.w[static_cast<std::size_t>(k)];
      Pw_.push_back({q.x() * w, q.y() * w, q.z() * w, w});
    }
  }
  ERPoint3D point(double u, double v) const {
    const int su = span(u), sv = span(v);
    double Nu[kDegree + 1], Nv[kDegree + 1];
    basis(su, u, Nu), basis(sv, v, Nv);
    double h[4] = {};
    for (int l = 0; l <= kDegree; ++l) {
      double t[4] = {};
      for (int k = 0; k <= kDegree; ++k) {
        const auto& P = Pw_[static_cast<std::size_t>((sv - kDegree + l) * kPoles + su - kDegree + k)];
        for (int c = 0; c < 4; ++c) t[c] += Nu[k] * P[c];
      }
      for (int c = 0; c < 4; ++c) h[c] += Nv[l] * t[c];
    }
    return ERPoint3D(h[0] / h[3], h[1] / h[3], h[2] / h[3]);
  }
  // S[l][k]: d^(k+l)S / du^k dv^l for k, l <= d.
  void derivatives(double u, double v, int d, double S[3][3][3]) const {
    const int su = span(u), sv = span(v);
    double Nu[3][kDegree + 1], Nv[3][kDegree + 1];
    basisDers(su, u, d, Nu), basisDers(sv, v, d, Nv);
    double A[3][3][4] = {};
    for (int l = 0; l <= d; ++l)
      for (int k = 0; k <= d; ++k)
        for (int b = 0; b <= kDegree; ++b) {
          double t[4] = {};
          for (int a = 0; a <= kDegree; ++a) {
            const auto& P =
                Pw_[static_cast<std::size_t>((sv - kDegree + b) * kPoles + su - kDegree + a)];
            for (int c = 0; c < 4; ++c) t[c] += Nu[k][a] * P[c];
          }
          for (int c = 0; c < 4; ++c) A[l][k][c] += Nv[l][b] * t[c];
        }
    static const double bin[3][3] = {{1, 0, 0}, {1, 1, 0}, {1, 2, 1}};
    for (int l = 0; l <= d; ++l)
      for (int k = 0; k <= d; ++k) {
        double r[3] = {A[l][k][0], A[l][k][1], A[l][k][2]};
        for (int j = 1; j <= l; ++j)
          for (int c = 0; c < 3; ++c) r[c] -= bin[l][j] * A[j][0][3] * S[l - j][k][c];
        for (int i = 1; i <= k; ++i)
          for (int j = 0; j <= l; ++j)
            for (int c = 0; c < 3; ++c)
              r[c] -= bin[k][i] * bin[l][j] * A[j][i][3] * S[l - j][k - i][c];
        for (int c = 0; c < 3; ++c) S[l][k][c] = r[c] / A[0][0][3];
      }
  }

 private:
  int span(double t) const {
    const int n = kPoles - 1;
    if (t >= U_[n + 1]) return n;
    if (t <= U_[kDegree]) return kDegree;
    int lo = kDegree, hi = n + 1, mid = (lo + hi) / 2;
    while (t < U_[mid] || t >= U_[mid + 1]) {
      (t < U_[mid] ? hi : lo) = mid;
      mid = (lo + hi) / 2;
    }
    return mid;
  }
  void basis(int i, double t, double* N) const {
    double left[kDegree + 1], right[kDegree + 1];
    N[0] = 1;
    for (int j = 1; j <= kDegree; ++j) {
      left[j] = t - U_[i + 1 - j], right[j] = U_[i + j] - t;
      double saved = 0;
      for (int r = 0; r < j; ++r) {
        const double temp = N[r] / (right[r + 1] + left[j - r]);
        N[r] = saved + right[r + 1] * temp;
        saved = left[j - r] * temp;
      }
      N[j] = saved;
    }
  }
  void basisDers(int i, double t, int n, double ders[3][kDegree + 1]) const {
    constexpr int p = kDegree;
    double ndu[p + 1][p + 1], left[p + 1], right[p + 1], a[2][p + 1] = {};
    ndu[0][0] = 1;
    for (int j = 1; j <= p; ++j) {
      left[j] = t - U_[i + 1 - j], right[j] = U_[i + j] - t;
      double saved = 0;
      for (int r = 0; r < j; ++r) {
        ndu[j][r] = right[r + 1] + left[j - r];
        const double temp = ndu[r][j - 1] / ndu[j][r];
        ndu[r][j] = saved + right[r + 1] * temp;
        saved = left[j - r] * temp;
      }
      ndu[j][j] = saved;
    }
    for (int j = 0; j <= p; ++j) ders[0][j] = ndu[j][p];
    for (int r = 0; r <= p; ++r) {
      int s1 = 0, s2 = 1;
      a[0][0] = 1;
      for (int k = 1; k <= n; ++k) {
        double d = 0;
        const int rk = r - k, pk = p - k;
        if (r >= k) a[s2][0] = a[s1][0] / ndu[pk + 1][rk], d = a[s2][0] * ndu[rk][pk];
        const int j1 = rk >= -1 ? 1 : -rk, j2 = r - 1 <= pk ? k - 1 : p - r;
        for (int j = j1; j <= j2; ++j) {
          a[s2][j] = (a[s1][j] - a[s1][j - 1]) / ndu[pk + 1][rk + j];
          d += a[s2][j] * ndu[rk + j][pk];
        }
        if (r <= pk) a[s2][k] = -a[s1][k - 1] / ndu[pk + 1][r], d += a[s2][k] * ndu[r][pk];
        ders[k][r] = d;
        std::swap(s1, s2);
      }
    }
    for (int k = 1, r = p; k <= n; ++k, r *= p - k + 1)
      for (int j = 0; j <= p; ++j) ders[k][j] *= r;
  }
  std::vector<double> U_;
  std::vector<std::array<double, 4>> Pw_;
};

const PlainNurbs& plain() {
  static const PlainNurbs s;
  return s;
}

void plainDerivatives(benchmark::State& state, int d) {
  const auto& ts = randomParams();
  for (auto _ : state) {
    double sum = 0, S[3][3][3];
    for (const auto& [u, v] : ts) plain().derivatives(u, v, d, S), sum += S[d][d][0];
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
void BM_PointPlain(benchmark::State& state) {
  const auto& ts = randomParams();
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [u, v] : ts) sum += plain().point(u, v).x();
    benchmark::DoNotOptimize(sum);
  }
  perCall(state, int(ts.size()));
}
void BM_Order1Plain(benchmark::State& state) { plainDerivatives(state, 1); }
void BM_Order2Plain(benchmark::State& state) { plainDerivatives(state, 2); }
BENCHMARK(BM_PointPlain);
BENCHMARK(BM_Order1Plain);
BENCHMARK(BM_Order2Plain);

// The reference agrees with qorv (else the comparison would flatter one of them).
[[maybe_unused]] const bool kPlainAgrees = [] {
  double worst = 0;
  for (const auto& [u, v] : randomParams()) {
    double S[3][3][3];
    plain().derivatives(u, v, 2, S);
    const ERInfoPoint3DSurf q = qorvSurface().PtCur(u, v);
    for (int l = 0; l <= 2; ++l)
      for (int k = 0; k <= 2; ++k) {
        const ERVector3D d = q.partial(k, l);
        const double e = std::fabs(d.x() - S[l][k][0]) + std::fabs(d.y() - S[l][k][1]) +
                         std::fabs(d.z() - S[l][k][2]);
        worst = std::max(worst, e / (1 + std::fabs(S[l][k][0]) + std::fabs(S[l][k][1]) +
                                     std::fabs(S[l][k][2])));
      }
  }
  if (worst > 1e-9) std::fprintf(stderr, "the plain evaluator disagrees with qorv: %g\n", worst);
  return true;
}();

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
                                   {{"BM_PointQorv", "BM_PointPlain"},
                                    {"BM_PtCur1Qorv", "BM_Order1Plain"},
                                    {"BM_PtCurQorv", "BM_Order2Plain"},
                                    {"BM_PtCurQorv", "BM_D2Occt"},
                                    {"BM_PtCur1Qorv", "BM_D1Occt"},
                                    {"BM_DecomposeQorv", "BM_DecomposeOcct"},
                                    {"BM_PointQorv", "BM_D0Occt"},
                                    {"BM_NearestQorv", "BM_NearestOcct"},
                                    {"BM_NearestQorv", "BM_NearestOcctTree"}});
}
