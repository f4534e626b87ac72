// Judging points against a model of many faces: a plate with a 17 x 17 grid of through holes
// (295 faces), read from STEP as the tool reads it. qorv: the nearest feature of each point
// (features visited by box, a foot search on the few that can win); the peer: OpenCASCADE's
// BRepExtrema_DistShapeShape from a vertex to the shape, its general point-to-shape distance.
#include <benchmark/benchmark.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <STEPControl_Writer.hxx>
#include <TopTools_ListOfShape.hxx>

#include <cmath>
#include <random>

#include "bench/scratch.h"
#include "qorv/exchange/cad_reader.h"
#include "qorv/measurement/inspection.h"

namespace {

constexpr int kHoles = 17;

struct Plate {
  TopoDS_Shape shape;
  std::vector<gmInspectionFeature> features;
  std::vector<ERPoint3D> points;  // half on the top face between the holes, half in the holes
};

const Plate& plate() {
  static const Plate p = [] {
    Plate out;
    TopTools_ListOfShape args, tools;
    args.Append(BRepPrimAPI_MakeBox(gp_Pnt(0, 0, 0), 20 * kHoles, 20 * kHoles, 20).Shape());
    for (int i = 0; i < kHoles; ++i)
      for (int j = 0; j < kHoles; ++j)
        tools.Append(
            BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(10 + 20 * i, 10 + 20 * j, -1), gp::DZ()), 4, 22)
                .Shape());
    BRepAlgoAPI_Cut cut;
    cut.SetArguments(args);
    cut.SetTools(tools);
    cut.Build();
    out.shape = cut.Shape();
    const std::string path = qorv::bench::scratchPath("plate.step");
    STEPControl_Writer w;
    w.Transfer(out.shape, STEPControl_AsIs);
    w.Write(path.c_str());
    const qorv::exchange::CadModel m = qorv::exchange::readCad(path);
    for (const auto& g : m.groups)
      out.features.emplace_back(g.id, g.surface, g.normalInward, -0.1, 0.1);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(0, 1), d(-0.05, 0.05);
    for (int k = 0; k < 4096; ++k) {
      const int i = static_cast<int>(rng() % kHoles), j = static_cast<int>(rng() % kHoles);
      const double cx = 10 + 20 * i, cy = 10 + 20 * j, a = 2 * M_PI * u(rng);
      if (k % 2 == 0) {
        const double r = 5 + 4 * u(rng);  // between the holes, off this hole's rim
        out.points.emplace_back(cx + r * std::cos(a), cy + r * std::sin(a), 20 + d(rng));
      } else {
        out.points.emplace_back(cx + (4 + d(rng)) * std::cos(a), cy + (4 + d(rng)) * std::sin(a),
                                1 + 18 * u(rng));
      }
    }
    return out;
  }();
  return p;
}

void BM_Qorv_NearestFeature(benchmark::State& state) {
  const Plate& p = plate();
  std::size_t k = 0;
  ERPoint3D foot;
  ERVector3D n;
  for (auto _ : state) {
    benchmark::DoNotOptimize(gmNearestFeature(p.features, p.points[k], foot, n));
    k = (k + 1) % p.points.size();
  }
  state.counters["faces"] = static_cast<double>(p.features.size());
}
BENCHMARK(BM_Qorv_NearestFeature);

void BM_Occt_DistShapeShape(benchmark::State& state) {
  const Plate& p = plate();
  std::size_t k = 0;
  // The distances compared point by point: qorv's never larger beyond 1e-9.
  int qorvLarger = 0, peerLarger = 0;
  for (auto _ : state) {
    const ERPoint3D& q = p.points[k];
    BRepExtrema_DistShapeShape dss(BRepBuilderAPI_MakeVertex(gp_Pnt(q.x(), q.y(), q.z())), p.shape);
    const double peer = dss.Value();
    state.PauseTiming();
    ERPoint3D foot;
    ERVector3D n;
    if (gmNearestFeature(p.features, q, foot, n) >= 0) {
      const double mine = qorv::distance(foot, q);
      qorvLarger += mine > peer + 1e-9;
      peerLarger += peer > mine + 1e-9;
    }
    state.ResumeTiming();
    k = (k + 1) % p.points.size();
  }
  state.counters["qorv_larger"] = qorvLarger;
  state.counters["peer_larger"] = peerLarger;
}
BENCHMARK(BM_Occt_DistShapeShape)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
