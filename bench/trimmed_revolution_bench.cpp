// isInBound of 65,536 random (u, v) on a face with a 128-edge outer polygon and 8 polygonal
// holes (closed degree-1 pole curves), the region built before timing; the global nearest point
// of that face for 256 points around it. The nearest point of a
// surface of revolution (a cubic NURBS generatrix about a tilted axis, 300 degrees) for random
// points, against a 64 x 64 sampling of the same surface refined by Newton (the simple way a
// caller would do it, and not global). The per_query counter is seconds per query.
// With QORV_HAVE_OCCT (scripts/bench.sh) the peer in the same run:
// - the same face on a plane (uv = x, y) from BRepBuilderAPI_MakePolygon and
//   BRepBuilderAPI_MakeFace, classified by BRepClass_FaceClassifier (with and without its box
//   option; the first 4096 points, as it is slow) and by BRepTopAdaptor_FClass2d built once;
//   "disagree" counts points classified otherwise than by qorv (ON counts as inside);
// - the surface of revolution as Geom_SurfaceOfRevolution (its U the angle, V the generatrix's
//   parameter: qorv's (u, v) is its (v, u)): D0 and D2 at 4096 random parameters, and
//   GeomAPI_ProjectPointOnSurf initialised once on the 300 degree window, Perform per point;
//   "nonglobal" counts its answers farther than qorv's by more than 1e-9 mm and its points
//   without an answer, "nonglobal_foot" those of them whose nearest point is a foot inside the
//   limits (the others lie on an edge, which the peer does not look for).
// The ratios qorv / peer of CPU time per query (medians with repetitions) are printed at the
// end.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "qorv/freeform/pole_curves.h"
#include "qorv/surfaces/bounded_surfaces.h"
#include "qorv/surfaces/revolution_surface.h"
#include "qorv/surfaces/trimmed_surface.h"

#ifdef QORV_HAVE_OCCT
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepClass_FaceClassifier.hxx>
#include <BRepTopAdaptor_FClass2d.hxx>
#include <GeomAPI_ProjectPointOnSurf.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_SurfaceOfRevolution.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Ax1.hxx>
#include <gp_Pln.hxx>
#endif

namespace {

constexpr double kPi = std::numbers::pi;

void setPerQuery(benchmark::State& state, double queries) {
  state.counters["per_query"] = benchmark::Counter(
      queries, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The n vertices of a wobbly polygon, counter-clockwise.
std::vector<ERPoint2D> polygonPoints(double cx, double cy, double r, int n, double wobble) {
  std::vector<ERPoint2D> pts;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * kPi * i / n;
    const double rr = r * (1 + wobble * std::sin(7.0 * a));
    pts.push_back(ERPoint2D(cx + rr * std::cos(a), cy + rr * std::sin(a)));
  }
  return pts;
}

t_SmartPtr<ERFiniteEntity2DWF> polygon(double cx, double cy, double r, int n, double wobble) {
  const std::vector<ERPoint2D> pts = polygonPoints(cx, cy, r, n, wobble);
  QuickAlgebra::ERVec<ERPole2DH> poles(n + 1);
  for (int i = 0; i <= n; ++i) poles[i] = ERPole2DH(pts[i % n], 1.0);
  return t_SmartPtr<ERFiniteEntity2DWF>(
      new ERCpoleNURBS2D(poles, ERKnotVector(1, n + 1, ERLimites(0, 1))));
}

struct HoleSpec {
  double cx, cy;
};
std::vector<HoleSpec> holes() {
  std::vector<HoleSpec> r;
  for (int h = 0; h < 8; ++h) {
    const double a = 2 * kPi * h / 8;
    r.push_back({0.8 * std::cos(a), 0.8 * std::sin(a)});
  }
  return r;
}
constexpr double kOuterR = 1.5, kOuterWobble = 0.1, kHoleR = 0.15, kHoleWobble = 0.2;
constexpr int kOuterN = 128, kHoleN = 12;

ERTrimmedSurface holedFace() {
  ERTrimmedSurface face(ERBoundedPlane(ERPmIsometrie3D(), ERLimites(-2, 2), ERLimites(-2, 2)));
  face.addBound(polygon(0, 0, kOuterR, kOuterN, kOuterWobble).get(), ERSurfaceBoundary::OUTER);
  for (const HoleSpec& h : holes())
    face.addBound(polygon(h.cx, h.cy, kHoleR, kHoleN, kHoleWobble).get(), ERSurfaceBoundary::INNER);
  return face;
}

const std::vector<ERPoint2D>& facePoints() {
  static const std::vector<ERPoint2D> pts = [] {
    std::mt19937_64 rng(2424);
    std::uniform_real_distribution<double> u(-1.8, 1.8);
    std::vector<ERPoint2D> r(1 << 16);
    for (auto& p : r) p = ERPoint2D(u(rng), u(rng));
    return r;
  }();
  return pts;
}

void BM_IsInBound(benchmark::State& state) {
  const ERTrimmedSurface face = holedFace();
  const auto& pts = facePoints();
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
  const ERTrimmedSurface face = holedFace();
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
  std::vector<ERPoint3D> generatrix;  // the cubic's poles, clamped uniform knots on [0, 1]
  ERPoint3D axisPoint;
  ERVector3D axisDir;
  std::vector<std::pair<double, double>> params;  // (u, v) over the limits
  Revolution() {
    const ERPmIsometrie3D T =
        ERChgRepere3D(ERVector3D(0.3, -0.5, 0.8), ERVector3D(1, 0.2, 0.1), ERPoint3D(120, -40, 75));
    QuickAlgebra::ERVec<ERPole3DH> poles(6);
    const double xs[6] = {20, 35, 15, 40, 25, 30};
    for (int i = 0; i < 6; ++i) {
      generatrix.push_back(T >> ERPoint3D(xs[i], 3, 12.0 * i));
      poles[i] = ERPole3DH(generatrix.back(), 1.0);
    }
    t_SmartPtr<ERFiniteEntity3DWF> g(
        new ERCpoleNURBS3D(poles, ERKnotVector(3, 6, ERLimites(0, 1))));
    axisPoint = T >> ERPoint3D(), axisDir = T >> ERVector3D(0, 0, 1);
    surface = ERSurOfRevolution(g, ERInfLine3D(axisDir, axisPoint), ERLimites(0, 300 * kPi / 180));
    std::mt19937_64 rng(1919);
    std::uniform_real_distribution<double> u(-60, 60);
    points.resize(1024);
    for (auto& q : points) q = T >> ERPoint3D(u(rng), u(rng), 30 + u(rng));
    std::uniform_real_distribution<double> u01(0, 1);
    for (int i = 0; i < 4096; ++i) params.push_back({u01(rng), surface.vfin() * u01(rng)});
  }
};

const Revolution& revolution() {
  static const Revolution r;
  return r;
}

void BM_RevolutionPtCur(benchmark::State& state) {
  const Revolution& r = revolution();
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [u, v] : r.params) sum += r.surface.PtCur(u, v).partial(1, 1).x();
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, static_cast<double>(r.params.size()));
}
BENCHMARK(BM_RevolutionPtCur)->Unit(benchmark::kMicrosecond);

void BM_RevolutionPoint(benchmark::State& state) {
  const Revolution& r = revolution();
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [u, v] : r.params) sum += r.surface(u, v).x();
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, static_cast<double>(r.params.size()));
}
BENCHMARK(BM_RevolutionPoint)->Unit(benchmark::kMicrosecond);

void BM_RevolutionNearest(benchmark::State& state) {
  const Revolution& r = revolution();
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
  const Revolution& r = revolution();
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

#ifdef QORV_HAVE_OCCT
TopoDS_Face occtFace() {
  // Outer loop counter-clockwise, holes clockwise: the material on the left.
  auto wire = [](const std::vector<ERPoint2D>& pts, bool reversed) {
    BRepBuilderAPI_MakePolygon poly;
    const int n = int(pts.size());
    for (int i = 0; i < n; ++i) {
      const ERPoint2D& p = pts[reversed ? n - 1 - i : i];
      poly.Add(gp_Pnt(p.x(), p.y(), 0));
    }
    poly.Close();
    return poly.Wire();
  };
  BRepBuilderAPI_MakeFace mk(gp_Pln(),
                             wire(polygonPoints(0, 0, kOuterR, kOuterN, kOuterWobble), false));
  for (const HoleSpec& h : holes())
    mk.Add(wire(polygonPoints(h.cx, h.cy, kHoleR, kHoleN, kHoleWobble), true));
  return mk.Face();
}

// Points classified otherwise than by qorv (ON taken as inside).
template <class Classify>
int disagreements(const std::vector<ERPoint2D>& pts, Classify&& classify) {
  const ERTrimmedSurface face = holedFace();
  int n = 0;
  for (const auto& p : pts) {
    const TopAbs_State st = classify(p);
    const int in = st == TopAbs_IN || st == TopAbs_ON;
    n += in != face.isInBound(p);
  }
  return n;
}

// The peer's classifier takes near a millisecond a point here: the first 4096 points only.
void faceClassifier(benchmark::State& state, bool useBox) {
  const TopoDS_Face face = occtFace();
  const std::vector<ERPoint2D> pts(facePoints().begin(), facePoints().begin() + 4096);
  auto classify = [&](const ERPoint2D& p) {
    BRepClass_FaceClassifier fc;
    fc.Perform(face, gp_Pnt2d(p.x(), p.y()), 1e-9, useBox);
    return fc.State();
  };
  state.counters["disagree"] = disagreements(pts, classify);
  for (auto _ : state) {
    int in = 0;
    for (const auto& p : pts) in += classify(p) != TopAbs_OUT;
    benchmark::DoNotOptimize(in);
  }
  setPerQuery(state, static_cast<double>(pts.size()));
}
void BM_IsInBoundOcct(benchmark::State& state) { faceClassifier(state, false); }
BENCHMARK(BM_IsInBoundOcct)->Unit(benchmark::kMillisecond);
void BM_IsInBoundOcctBox(benchmark::State& state) { faceClassifier(state, true); }
BENCHMARK(BM_IsInBoundOcctBox)->Unit(benchmark::kMillisecond);

// The peer's polygonal classifier, built once per face (its fastest way for many points).
void BM_IsInBoundOcctFClass2d(benchmark::State& state) {
  const TopoDS_Face face = occtFace();
  const BRepTopAdaptor_FClass2d fc(face, 1e-9);
  const auto& pts = facePoints();
  state.counters["disagree"] =
      disagreements(pts, [&](const ERPoint2D& p) { return fc.Perform(gp_Pnt2d(p.x(), p.y())); });
  for (auto _ : state) {
    int in = 0;
    for (const auto& p : pts) in += fc.Perform(gp_Pnt2d(p.x(), p.y())) != TopAbs_OUT;
    benchmark::DoNotOptimize(in);
  }
  setPerQuery(state, static_cast<double>(pts.size()));
}
BENCHMARK(BM_IsInBoundOcctFClass2d)->Unit(benchmark::kMillisecond);

Handle(Geom_SurfaceOfRevolution) occtRevolution(const Revolution& r) {
  TColgp_Array1OfPnt P(1, 6);
  for (int i = 0; i < 6; ++i) {
    const ERPoint3D& p = r.generatrix[i];
    P.SetValue(i + 1, gp_Pnt(p.x(), p.y(), p.z()));
  }
  TColStd_Array1OfReal K(1, 4);
  TColStd_Array1OfInteger M(1, 4);
  for (int i = 0; i < 4; ++i)
    K.SetValue(i + 1, i / 3.0), M.SetValue(i + 1, i == 0 || i == 3 ? 4 : 1);
  Handle(Geom_BSplineCurve) c = new Geom_BSplineCurve(P, K, M, 3);
  const gp_Ax1 axis(gp_Pnt(r.axisPoint.x(), r.axisPoint.y(), r.axisPoint.z()),
                    gp_Dir(r.axisDir.x(), r.axisDir.y(), r.axisDir.z()));
  return new Geom_SurfaceOfRevolution(c, axis);
}

void BM_RevolutionD2Occt(benchmark::State& state) {
  const Revolution& r = revolution();
  const Handle(Geom_SurfaceOfRevolution) s = occtRevolution(r);
  gp_Pnt P;
  gp_Vec D1U, D1V, D2U, D2V, D2UV;
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [u, v] : r.params) s->D2(v, u, P, D1U, D1V, D2U, D2V, D2UV), sum += D2UV.X();
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, static_cast<double>(r.params.size()));
}
BENCHMARK(BM_RevolutionD2Occt)->Unit(benchmark::kMicrosecond);

void BM_RevolutionD0Occt(benchmark::State& state) {
  const Revolution& r = revolution();
  const Handle(Geom_SurfaceOfRevolution) s = occtRevolution(r);
  // The two are one surface: the largest gap between the points, in mm.
  double gap = 0;
  for (const auto& [u, v] : r.params) {
    const gp_Pnt P = s->Value(v, u);
    gap = std::max(gap, qorv::distance(r.surface(u, v), ERPoint3D(P.X(), P.Y(), P.Z())));
  }
  state.counters["max_gap_mm"] = gap;
  gp_Pnt P;
  for (auto _ : state) {
    double sum = 0;
    for (const auto& [u, v] : r.params) s->D0(v, u, P), sum += P.X();
    benchmark::DoNotOptimize(sum);
  }
  setPerQuery(state, static_cast<double>(r.params.size()));
}
BENCHMARK(BM_RevolutionD0Occt)->Unit(benchmark::kMicrosecond);

void BM_RevolutionNearestOcct(benchmark::State& state) {
  const Revolution& r = revolution();
  const Handle(Geom_SurfaceOfRevolution) s = occtRevolution(r);
  GeomAPI_ProjectPointOnSurf proj;
  proj.Init(s, r.surface.vdeb(), r.surface.vfin(), 0, 1);
  // Misses where the nearest point is a foot inside the limits are counted apart from those
  // where it lies on an edge (which the peer, looking for feet only, cannot give).
  int nonglobal = 0, nonglobalInside = 0, none = 0, qorvFarther = 0;
  for (const ERPoint3D& p : r.points) {
    ERPoint2D uv;
    const double ref = r.surface.nearest(p, uv);
    const bool inside = uv.x() > r.surface.udeb() && uv.x() < r.surface.ufin() &&
                        uv.y() > r.surface.vdeb() && uv.y() < r.surface.vfin();
    proj.Perform(gp_Pnt(p.x(), p.y(), p.z()));
    const bool miss = proj.NbPoints() == 0 || !(proj.LowerDistance() <= ref + 1e-9);
    none += proj.NbPoints() == 0;
    nonglobal += miss;
    nonglobalInside += miss && inside;
    qorvFarther += proj.NbPoints() > 0 && proj.LowerDistance() < ref - 1e-9;
  }
  for (auto _ : state) {
    double sum = 0;
    for (const ERPoint3D& p : r.points) {
      proj.Perform(gp_Pnt(p.x(), p.y(), p.z()));
      if (proj.NbPoints() > 0) sum += proj.LowerDistance();
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["nonglobal"] = nonglobal;
  state.counters["nonglobal_foot"] = nonglobalInside;
  state.counters["no_answer"] = none;
  state.counters["qorv_farther"] = qorvFarther;
  setPerQuery(state, static_cast<double>(r.points.size()));
}
BENCHMARK(BM_RevolutionNearestOcct)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
  return qorv_bench::runWithRatios(argc, argv,
                                   {{"BM_IsInBound", "BM_IsInBoundOcct"},
                                    {"BM_IsInBound", "BM_IsInBoundOcctBox"},
                                    {"BM_IsInBound", "BM_IsInBoundOcctFClass2d"},
                                    {"BM_RevolutionPtCur", "BM_RevolutionD2Occt"},
                                    {"BM_RevolutionPoint", "BM_RevolutionD0Occt"},
                                    {"BM_RevolutionNearest", "BM_RevolutionNearestOcct"}});
}
