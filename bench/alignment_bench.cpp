// Best-fit alignment against the sample part (examples/inspection/part.json, read as the tool
// reads it): exact surface points spread by area (none over a hole), moved by a random rigid
// move, then aligned back.
// - Start rate: 200 starts off the true move by a turn of up to 45 degrees about the part's
//   centre and a shift of up to a fifth of its size, the local solver from each; a start
//   succeeds when the move found maps the part's box corners within 1e-6 of its size of the true
//   move's images. The same for the start from anywhere (the points' principal axes) on every
//   tenth trial's move.
// - Time per alignment (median of a few, wall and CPU) for 10^3, 10^4 and 10^5 points, both
//   starts, every core.
// With --points FILE the points of the first size and the true move are written (x y z, then the
// 4 x 4 measured-to-nominal matrix) for a peer's run (bench/alignment_peer.py). With --once N
// only one alignment of N points from each start is timed (for a profiler's run).
//   alignment_bench [--points FILE | --once N]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/measurement/alignment.h"
#include "tools/qorv/nominal.h"

namespace {

constexpr double kPi = std::numbers::pi;

// A turn by angle about a random axis and a shift of the given length in a random direction,
// about centre.
ERPmIsometrie3D randomMove(std::mt19937_64& rng, double angle, double shift, const ERPoint3D& c) {
  std::normal_distribution<double> g;
  const ERVector3D a = ERVector3D(g(rng), g(rng), g(rng)).normalize();
  ERVector3D x(g(rng), g(rng), g(rng));
  x = (x - (x * a) * a).normalize();
  const ERVector3D y = a ^ x, x2 = std::cos(angle) * x + std::sin(angle) * y, y2 = a ^ x2;
  const ERVector3D t = shift * ERVector3D(g(rng), g(rng), g(rng)).normalize();
  const ERPmIsometrie3D C{_ERTranslation3D(c)};
  return ERPmIsometrie3D(_ERTranslation3D(ERPoint3D(0, 0, 0) + t)) * C *
         ERChgRepere3D(x2, y2, ERPoint3D(0, 0, 0)) * ~ERChgRepere3D(x, y, ERPoint3D(0, 0, 0)) * ~C;
}

// Points by area: a feature drawn by its area (from a 24 x 24 grid of its parameters), a
// parameter pair accepted by its area element, kept where the nearest feature's foot is itself.
std::vector<gmMeasuredPoint> sample(const std::vector<gmInspectionFeature>& fs, std::size_t n,
                                    std::mt19937_64& rng) {
  constexpr int G = 24;
  std::vector<double> area(fs.size()), peak(fs.size());
  auto element = [](const gmInspectionFeature& f, double u, double v, double du, double dv) {
    const ERVector3D pu = f.point(u + du, v) - f.point(u - du, v),
                     pv = f.point(u, v + dv) - f.point(u, v - dv);
    return (pu ^ pv).norme();
  };
  for (std::size_t k = 0; k < fs.size(); ++k) {
    const auto& f = fs[k];
    const double du = (f.u1() - f.u0()) / G, dv = (f.v1() - f.v0()) / G;
    for (int i = 0; i < G; ++i)
      for (int j = 0; j < G; ++j) {
        const double a =
            element(f, f.u0() + (i + 0.5) * du, f.v0() + (j + 0.5) * dv, du / 2, dv / 2);
        area[k] += a, peak[k] = std::max(peak[k], a);
      }
  }
  std::discrete_distribution<std::size_t> pick(area.begin(), area.end());
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<gmMeasuredPoint> out;
  while (out.size() < n) {
    const std::size_t k = pick(rng);
    const auto& f = fs[k];
    const double u = f.u0() + unit(rng) * (f.u1() - f.u0()),
                 v = f.v0() + unit(rng) * (f.v1() - f.v0());
    const double du = (f.u1() - f.u0()) / (2 * G), dv = (f.v1() - f.v0()) / (2 * G);
    if (unit(rng) * 1.2 * peak[k] > element(f, u, v, du, dv)) continue;
    const ERPoint3D p = f.point(u, v);
    double best = HUGE_VAL;
    ERPoint3D foot;
    for (const auto& h : fs) {
      ERPoint3D F;
      ERVector3D N;
      if (h.foot(p, F, N) && qorv::distance(p, F) < best) best = qorv::distance(p, F), foot = F;
    }
    if (qorv::distance(foot, p) > 1e-9) continue;
    gmMeasuredPoint m;
    m.id = "P";
    m.id += std::to_string(out.size() + 1);  // GCC 12 warns of "P" + string at -O3
    m.centre = p;
    out.push_back(m);
  }
  return out;
}

double gap(const ERPmIsometrie3D& A, const ERPmIsometrie3D& B, const ERMinimax3D& box) {
  double g = 0;
  for (int c = 0; c < 8; ++c) {
    const ERPoint3D p(c & 1 ? box.xmax() : box.xmin(), c & 2 ? box.ymax() : box.ymin(),
                      c & 4 ? box.zmax() : box.zmin());
    g = std::max(g, qorv::distance(A >> p, B >> p));
  }
  return g;
}

void matrixOf(const ERPmIsometrie3D& T, double* m) {
  const ERPoint3D o = T >> ERPoint3D(0, 0, 0);
  for (int j = 0; j < 3; ++j) {
    const ERVector3D c = (T >> ERPoint3D(j == 0, j == 1, j == 2)) - o;
    m[j] = c.x(), m[4 + j] = c.y(), m[8 + j] = c.z();
  }
  m[3] = o.x(), m[7] = o.y(), m[11] = o.z(), m[12] = m[13] = m[14] = 0, m[15] = 1;
}

// For the peer: the true and the start matrices (4 x 4, measured to nominal), the measured
// points, then 10^6 nominal points by area with their outward normals.
void writePeerInput(const char* path, const std::vector<gmInspectionFeature>& fs,
                    const std::vector<gmMeasuredPoint>& pts, const ERPmIsometrie3D& M,
                    const ERPmIsometrie3D& start, std::mt19937_64& rng) {
  FILE* f = std::fopen(path, "w");
  if (f == nullptr) return;
  double m[16];
  for (const ERPmIsometrie3D* T : {&M, &start}) {
    matrixOf(*T, m);
    for (int i = 0; i < 16; ++i) std::fprintf(f, "%.17g%c", m[i], i == 15 ? '\n' : ' ');
  }
  std::fprintf(f, "%zu\n", pts.size());
  for (const auto& p : pts)
    std::fprintf(f, "%.17g %.17g %.17g\n", p.centre.x(), p.centre.y(), p.centre.z());
  const std::vector<gmMeasuredPoint> dense = sample(fs, 1000000, rng);
  std::fprintf(f, "%zu\n", dense.size());
  for (const auto& p : dense) {
    ERPoint3D F;
    ERVector3D N;
    double best = HUGE_VAL;
    ERVector3D n(0, 0, 1);
    for (const auto& h : fs)
      if (h.foot(p.centre, F, N) && qorv::distance(p.centre, F) < best)
        best = qorv::distance(p.centre, F), n = N;
    std::fprintf(f, "%.17g %.17g %.17g %.9g %.9g %.9g\n", p.centre.x(), p.centre.y(), p.centre.z(),
                 n.x(), n.y(), n.z());
  }
  std::fclose(f);
}

double seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
// The process's CPU time over every thread: what a loaded machine does not inflate.
double cpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const char* pointsFile = argc == 3 && std::strcmp(argv[1], "--points") == 0 ? argv[2] : nullptr;
  const std::size_t once =
      argc == 3 && std::strcmp(argv[1], "--once") == 0 ? std::strtoul(argv[2], nullptr, 10) : 0;
  const std::vector<gmInspectionFeature> fs =
      qorv::tool::readNominal(QORV_SOURCE_DIR "/examples/inspection/part.json");
  ERMinimax3D box;
  for (const auto& f : fs) box.Update(f.box());
  const double size =
      std::hypot(box.xmax() - box.xmin(), box.ymax() - box.ymin(), box.zmax() - box.zmin());
  const ERPoint3D centre((box.xmin() + box.xmax()) / 2, (box.ymin() + box.ymax()) / 2,
                         (box.zmin() + box.zmax()) / 2);
  std::mt19937_64 rng(2026);
  std::uniform_real_distribution<double> unit(0, 1);
  std::printf("sample part: %zu features, box diagonal %.6g\n", fs.size(), size);

  // Start rate on 10^3 points.
  if (once == 0) {
    const std::vector<gmMeasuredPoint> nominal = sample(fs, 1000, rng);
    int local = 0, anywhere = 0;
    double worstLocal = 0;
    constexpr int kTrials = 200;
    for (int t = 0; t < kTrials; ++t) {
      const ERPmIsometrie3D M = randomMove(rng, unit(rng) * kPi, unit(rng) * 2 * size, centre);
      std::vector<gmMeasuredPoint> pts = nominal;
      for (auto& p : pts) p.centre = ~M >> p.centre;
      gmAlignmentOptions o;
      o.start = randomMove(rng, unit(rng) * kPi / 4, unit(rng) * size / 5, centre) * M;
      const gmAlignment a = gmBestFitAlignment(fs, pts, o);
      const double g = a.ok ? gap(a.transfo, M, box) : HUGE_VAL;
      local += g < 1e-6 * size, worstLocal = std::max(worstLocal, g);
      if (t % 10 != 0) continue;  // the start from anywhere costs some 24 local ones
      o.fromAnywhere = 1;
      const gmAlignment b = gmBestFitAlignment(fs, pts, o);
      anywhere += b.ok && gap(b.transfo, M, box) < 1e-6 * size;
    }
    std::printf(
        "start rate, 1000 points, %d trials: from a start within 45 degrees and size/5: "
        "%.1f%% (worst miss %.3g of the size); from anywhere (%d of them): %.1f%%\n",
        kTrials, 100.0 * local / kTrials, worstLocal / size, kTrials / 10,
        100.0 * anywhere / (kTrials / 10));
  }

  // Time per alignment.
  const std::vector<std::size_t> sizes =
      once ? std::vector<std::size_t>{once} : std::vector<std::size_t>{1000, 10000, 100000};
  for (std::size_t n : sizes) {
    const std::vector<gmMeasuredPoint> nominal = sample(fs, n, rng);
    const int runs = once ? 1 : n >= 100000 ? 3 : 7;
    std::vector<double> tl, ta, cl, ca;
    double worst = 0;
    int iterations = 0;
    for (int r = 0; r < runs; ++r) {
      const ERPmIsometrie3D M = randomMove(rng, unit(rng) * kPi, unit(rng) * 2 * size, centre);
      std::vector<gmMeasuredPoint> pts = nominal;
      for (auto& p : pts) p.centre = ~M >> p.centre;
      gmAlignmentOptions o;
      o.start = randomMove(rng, unit(rng) * kPi / 4, unit(rng) * size / 5, centre) * M;
      if (pointsFile != nullptr && r == 0 && n == 100000)
        writePeerInput(pointsFile, fs, pts, M, o.start, rng);
      auto t0 = std::chrono::steady_clock::now();
      double c0 = cpuSeconds();
      const gmAlignment a = gmBestFitAlignment(fs, pts, o);
      tl.push_back(seconds(t0)), cl.push_back(cpuSeconds() - c0);
      worst = std::max(worst, a.ok ? gap(a.transfo, M, box) : HUGE_VAL);
      iterations = std::max(iterations, a.iterations);
      o.fromAnywhere = 1;
      t0 = std::chrono::steady_clock::now(), c0 = cpuSeconds();
      const gmAlignment b = gmBestFitAlignment(fs, pts, o);
      ta.push_back(seconds(t0)), ca.push_back(cpuSeconds() - c0);
      worst = std::max(worst, b.ok ? gap(b.transfo, M, box) : HUGE_VAL);
    }
    for (auto* v : {&tl, &ta, &cl, &ca}) std::sort(v->begin(), v->end());
    const std::size_t m = tl.size() / 2;
    std::printf(
        "%7zu points: %.3f s (CPU %.3f s) from a start, %.3f s (CPU %.3f s) from anywhere "
        "(median of %d; at most %d iterations; worst miss %.3g of the size)\n",
        n, tl[m], cl[m], ta[m], ca[m], runs, iterations, worst / size);
  }
  return 0;
}
