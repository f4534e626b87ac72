// Models of many faces read from STEP as the tool reads them.
// Judging points: a plate with a 17 x 17 grid of through holes (295 faces). qorv: the nearest
// feature of each point (features visited by box, a foot search on the few that can win); the
// peer: OpenCASCADE's BRepExtrema_DistShapeShape from a vertex to the shape, its general
// point-to-shape distance.
// Reading: a plate with an 18 x 18 grid of counterbored holes (978 faces), coloured (the part,
// each counterbore's floor) and written through the XDE writer. qorv's read (the XDE transfer,
// then every face converted and checked), in a child first as the tool reads it, and in process
// only; the peers: OpenCASCADE's plain read (STEPControl_Reader, TransferRoots) and its XDE read
// into a document with colours.
#include <benchmark/benchmark.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <Bnd_Box.hxx>
#include <Interface_Static.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_Printer.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPControl_Reader.hxx>
#include <STEPControl_Writer.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_ListOfShape.hxx>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "bench/ratio_reporter.h"
#include "bench/scratch.h"
#include "qorv/exchange/cad_reader.h"
#include "qorv/measurement/inspection.h"
#include "tests/exchange/styled_model.h"

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

constexpr int kCounterbores = 18;

const std::string& counterboredPlate() {
  static const std::string path = [] {
    for (Message_SequenceOfPrinters::Iterator it(Message::DefaultMessenger()->Printers());
         it.More(); it.Next())
      it.Value()->SetTraceLevel(Message_Fail);
    TopTools_ListOfShape args, tools;
    const double n = kCounterbores;
    args.Append(BRepPrimAPI_MakeBox(gp_Pnt(0, 0, 0), 20 * n, 20 * n, 20).Shape());
    for (int i = 0; i < kCounterbores; ++i)
      for (int j = 0; j < kCounterbores; ++j) {
        const double x = 10 + 20 * i, y = 10 + 20 * j;
        tools.Append(BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(x, y, -1), gp::DZ()), 3, 22).Shape());
        tools.Append(BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(x, y, 15), gp::DZ()), 6, 6).Shape());
      }
    BRepAlgoAPI_Cut cut;
    cut.SetArguments(args);
    cut.SetTools(tools);
    cut.Build();
    std::vector<qorv_test::StyledFace> floors;
    for (TopExp_Explorer ex(cut.Shape(), TopAbs_FACE); ex.More(); ex.Next()) {
      Bnd_Box b;
      BRepBndLib::Add(ex.Current(), b);
      const double z0 = b.CornerMin().Z(), z1 = b.CornerMax().Z();
      if (std::fabs(z0 - 15) < 0.01 && std::fabs(z1 - 15) < 0.01)
        floors.push_back({ex.Current(), 0xc08040, ""});
    }
    const std::string out = qorv::bench::scratchPath("counterbores.step");
    if (!qorv_test::writeStyled(out, cut.Shape(), 0x123456, floors)) std::abort();
    return out;
  }();
  return path;
}

// CPU seconds per read, the reading child's included, as "per_query" (the ratios use it: on a
// shared machine it moves less than the wall-clock time, which the table also gives).
double cpuSeconds() {
  double s = 0;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage u{};
    getrusage(who, &u);
    s += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
  }
  return s;
}

template <class Read>
void timeReads(benchmark::State& state, Read read) {
  const std::string& path = counterboredPlate();
  double seconds = 0;
  for (auto _ : state) {
    const double t0 = cpuSeconds();
    read(path);
    seconds += cpuSeconds() - t0;
  }
  state.counters["per_query"] = seconds / static_cast<double>(state.iterations());
}

void qorvRead(benchmark::State& state, bool isolate) {
  timeReads(state, [&](const std::string& path) {
    qorv::exchange::CadOptions o;
    o.isolate = isolate;
    const qorv::exchange::CadModel m = qorv::exchange::readCad(path, o);
    state.counters["faces"] = static_cast<double>(m.faces.size());
    state.counters["coloured"] = static_cast<double>(std::count_if(
        m.faces.begin(), m.faces.end(), [](const auto& f) { return f.colour == "#c08040"; }));
  });
}

void BM_Qorv_ReadCad(benchmark::State& state) { qorvRead(state, true); }
BENCHMARK(BM_Qorv_ReadCad)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Qorv_ReadCadInProcess(benchmark::State& state) { qorvRead(state, false); }
BENCHMARK(BM_Qorv_ReadCadInProcess)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Occt_TransferRoots(benchmark::State& state) {
  timeReads(state, [&](const std::string& path) {
    Interface_Static::SetCVal("xstep.cascade.unit", "MM");
    STEPControl_Reader r;
    r.ReadFile(path.c_str());
    r.TransferRoots();
    benchmark::DoNotOptimize(r.OneShape());
  });
}
BENCHMARK(BM_Occt_TransferRoots)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Occt_XdeTransfer(benchmark::State& state) {
  timeReads(state, [&](const std::string& path) {
    Interface_Static::SetCVal("xstep.cascade.unit", "MM");
    Handle(TDocStd_Document) doc = new TDocStd_Document("BinXCAF");
    STEPCAFControl_Reader r;
    r.SetColorMode(true), r.SetNameMode(false), r.SetLayerMode(false), r.SetPropsMode(false);
    r.SetSHUOMode(false), r.SetGDTMode(false), r.SetMatMode(false), r.SetViewMode(false);
    r.ReadFile(path.c_str());
    benchmark::DoNotOptimize(r.Transfer(doc));
  });
}
BENCHMARK(BM_Occt_XdeTransfer)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return qorv_bench::runWithRatios(
      argc, argv,
      {{"BM_Qorv_ReadCad/iterations:3/real_time", "BM_Occt_TransferRoots/iterations:3/real_time"},
       {"BM_Qorv_ReadCadInProcess/iterations:3/real_time",
        "BM_Occt_TransferRoots/iterations:3/real_time"},
       {"BM_Occt_XdeTransfer/iterations:3/real_time",
        "BM_Occt_TransferRoots/iterations:3/real_time"},
       {"BM_Qorv_NearestFeature", "BM_Occt_DistShapeShape/iterations:200"}});
}
