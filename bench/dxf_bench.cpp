// Reading a 1,000,000-vertex polyline (an R12 POLYLINE and an LWPOLYLINE), vertices per second,
// with ezdxf reading the same files in the same run when it is installed (its own reading time,
// interpreter start and import excluded); and Smash of a curve on a surface at tolerances 1e-2
// to 1e-5.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include <unistd.h>

#include "bench/scratch.h"
#include "qorv/qorv.h"

namespace {

constexpr int kVertices = 1000000;

const std::string& fileOf(bool light) {
  // 140 MB together: in the run's scratch folder, removed at exit.
  static const std::string paths[2] = {qorv::bench::scratchPath("r12.dxf"), qorv::bench::scratchPath("lw.dxf")};
  static bool written[2] = {false, false};
  const int k = light ? 1 : 0;
  if (!written[k]) {
    std::ofstream out(paths[k]);
    out.precision(17);
    out << "  0\nSECTION\n  2\nENTITIES\n";
    if (light) {
      out << "  0\nLWPOLYLINE\n  5\n2A\n100\nAcDbEntity\n  8\n0\n100\nAcDbPolyline\n 90\n"
          << kVertices << "\n 70\n0\n 38\n1.5\n";
      for (int i = 0; i < kVertices; ++i)
        out << " 10\n" << 0.001 * i << "\n 20\n" << std::sin(0.001 * i) << "\n";
    } else {
      out << "  0\nPOLYLINE\n  8\n0\n 66\n1\n 10\n0.0\n 20\n0.0\n 30\n0.0\n 70\n8\n";
      for (int i = 0; i < kVertices; ++i)
        out << "  0\nVERTEX\n  8\n0\n 10\n" << 0.001 * i << "\n 20\n" << std::sin(0.001 * i)
            << "\n 30\n" << std::cos(0.001 * i) << "\n 70\n32\n";
      out << "  0\nSEQEND\n  8\n0\n";
    }
    out << "  0\nENDSEC\n  0\nEOF\n";
    written[k] = true;
  }
  return paths[k];
}

void BM_QorvRead(benchmark::State& state) {
  const std::string& path = fileOf(state.range(0) != 0);
  for (auto _ : state) {
    gmInDXF in(path.c_str());
    QuickAlgebra::ERVec<ERPoint3D> points;
    if (!in.read(points) || points.length() != kVertices) state.SkipWithError(in.reason().c_str());
  }
  state.SetItemsProcessed(state.iterations() * kVertices);
}
BENCHMARK(BM_QorvRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// ezdxf's reading time, measured inside the interpreter.
void BM_EzdxfRead(benchmark::State& state) {
  const std::string& path = fileOf(state.range(0) != 0);
  const std::string command =
      "/usr/bin/python3 -c \"import time, ezdxf\nt = time.perf_counter()\n"
      "doc = ezdxf.readfile('" + path + "')\n"
      "e = doc.modelspace()[0]\n"
      "n = len(e.vertices) if e.dxftype() == 'POLYLINE' else len(e)\n"
      "print(time.perf_counter() - t, n)\" 2>/dev/null";
  for (auto _ : state) {
    FILE* p = ::popen(command.c_str(), "r");
    double seconds = -1;
    long n = 0;
    if (p == nullptr || std::fscanf(p, "%lf %ld", &seconds, &n) != 2 || n != kVertices) {
      if (p) ::pclose(p);
      state.SkipWithError("ezdxf is not installed (python3-ezdxf)");
      return;
    }
    ::pclose(p);
    state.SetIterationTime(seconds);
  }
  state.SetItemsProcessed(state.iterations() * kVertices);
}
BENCHMARK(BM_EzdxfRead)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A torus patch; the curve on it is the diagonal of its parameter square.
class TorusPatch : public ERAnyBoundedSurface {
 public:
  using ERAnyBoundedSurface::operator();
  using ERAnyBoundedSurface::PtCur;
  double udeb() const override { return 0; }
  double ufin() const override { return 2 * M_PI; }
  double vdeb() const override { return 0; }
  double vfin() const override { return 2 * M_PI; }
  ERInfoPoint3DSurf PtCur(double u, double v) const override {
    QuickAlgebra::ERMatrix<ERPoint3D> m(1, 1);
    const double r = 50 + 8 * std::cos(v);
    m(0, 0) = ERPoint3D(r * std::cos(u), r * std::sin(u), 8 * std::sin(v));
    return ERInfoPoint3DSurf(ERPoint2D(u, v), m);
  }
  ERMinimax3D getBox() const override { return ERMinimax3D(ERPoint3D(-58, -58, -8), ERPoint3D(58, 58, 8)); }
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoU(double) const override { return nullptr; }
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoV(double) const override { return nullptr; }
  double upperEstimateInU() const override { return 2 * M_PI * 58; }
  double upperEstimateInV() const override { return 2 * M_PI * 8; }
  int SplitInU(t_SmartPtr<ERAnyBoundedSurface>&, t_SmartPtr<ERAnyBoundedSurface>&, double) const override {
    return 0;
  }
  int SplitInV(t_SmartPtr<ERAnyBoundedSurface>&, t_SmartPtr<ERAnyBoundedSurface>&, double) const override {
    return 0;
  }
  ERObject* getCopy() const override { return new TorusPatch(*this); }
  void printOn(std::ostream&) const override {}
};

void BM_SmashSurfaceCurve(benchmark::State& state) {
  const TorusPatch torus;
  const double tol = std::pow(10.0, -static_cast<double>(state.range(0)));
  long nodes = 0;
  for (auto _ : state) {
    ERPoint23List list;
    list.append(torus(0, 0), ERPoint2D(0, 0));
    list.append(torus(2 * M_PI, 2 * M_PI), ERPoint2D(2 * M_PI, 2 * M_PI));
    list.Smash(torus, tol);
    nodes = list.entries();
  }
  state.counters["nodes"] = static_cast<double>(nodes);
  state.SetItemsProcessed(state.iterations() * nodes);
}
BENCHMARK(BM_SmashSurfaceCurve)->DenseRange(2, 5)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
