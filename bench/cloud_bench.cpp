// A scanner's cloud against the sample part, end to end: `qorv inspect` reads a binary PLY of
// 10^6 and 10^7 surface points, judges them and writes the coloured PLY, on 1 and 2 threads;
// wall time, CPU per point, the judging alone, peak resident memory of the run (getrusage of the
// child: the mapped input file's resident pages included, so the memory beyond the file is at
// most this) and the speed-up. The generator knows every deviation exactly: the
// library's error against them is measured on the same points. With CloudCompare installed
// (scripts/bench.sh), its command line computes cloud-to-mesh signed distances for the same
// points against the part tessellated to 0.01 mm chordal tolerance: its wall time and error.
// The peer's run: CloudCompare's command line (-SILENT, offscreen), the cloud and the mesh as
// binary PLY, -C2M_DIST with its defaults (signed by the triangles' normals, octree level chosen
// by it, every core), the result saved as binary PLY; its wall time includes loading and saving,
// as qorv's includes reading and writing. It holds coordinates in single precision.
//   cloud_bench [POINTS...]        default 1000000 10000000
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/child_run.h"
#include "bench/scratch.h"
#include "qorv/measurement/inspection.h"
#include "qorv/measurement/point_clouds.h"
#include "tools/qorv/nominal.h"

namespace {

using qorv::bench::Run;
using qorv::bench::run;
using qorv::bench::scratchPath;

struct Cloud {
  std::vector<double> xyz, deviation;
  std::vector<int> feature;
};

// Points well inside each feature (as many on each), on the face itself (not over a hole), moved
// along the outward normal by a smooth form error with noise; kept only where the nearest
// feature's foot is the point they came from.
Cloud generate(const gmInspection& inspection, std::size_t n) {
  const auto& fs = inspection.features();
  Cloud c;
  std::mt19937_64 rng(2026);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<double> candidates, truth;
  std::vector<int> from;
  while (c.deviation.size() < n) {
    const std::size_t want = (n - c.deviation.size()) * 5 / 4 + 64;
    candidates.clear(), truth.clear(), from.clear();
    for (std::size_t i = 0; i < want; ++i) {
      const int k = static_cast<int>(rng() % fs.size());
      const gmInspectionFeature& f = fs[static_cast<std::size_t>(k)];
      const double u = f.u0() + (0.05 + 0.9 * unit(rng)) * (f.u1() - f.u0());
      const double v = f.v0() + (0.05 + 0.9 * unit(rng)) * (f.v1() - f.v0());
      ERVector3D normal;
      const ERPoint3D T = f.point(u, v, &normal);
      if (f.kind() == gmInspectionFeature::SURFACE) {
        // A trimmed face's parameters span its holes too: a scanner sees only the face.
        ERPoint3D foot;
        ERVector3D n;
        if (!f.foot(T, foot, n) || qorv::distance(foot, T) > 1e-9) continue;
      }
      const double band = std::max(std::fabs(f.lower()), std::fabs(f.upper()));
      const double dev = 0.4 * band * std::sin(3 * u + 2 * v) + 0.1 * band * noise(rng);
      const ERPoint3D P = T + dev * normal;
      candidates.insert(candidates.end(), {P.x(), P.y(), P.z()});
      truth.push_back(dev);
      from.push_back(k);
    }
    const gmCloudResults r = inspection.runCloud(candidates.data(), want, 0, 2);
    for (std::size_t i = 0; i < want && c.deviation.size() < n; ++i) {
      if (r.feature[i] != from[i] || std::fabs(r.deviation[i] - truth[i]) > 1e-6)
        continue;  // another foot
      c.xyz.insert(c.xyz.end(), candidates.begin() + 3 * static_cast<long>(i),
                   candidates.begin() + 3 * static_cast<long>(i) + 3);
      c.deviation.push_back(truth[i]);
      c.feature.push_back(from[i]);
    }
  }
  return c;
}

void writeCloud(const std::string& path, const Cloud& c) {
  std::ofstream out(path, std::ios::binary);
  out << "ply\nformat binary_little_endian 1.0\nelement vertex " << c.deviation.size()
      << "\nproperty double x\nproperty double y\nproperty double z\nend_header\n";
  out.write(reinterpret_cast<const char*>(c.xyz.data()),
            static_cast<std::streamsize>(c.xyz.size() * sizeof(double)));
}

// The part as triangles, each feature a grid over its parameters refined until the midpoints of
// the cells lie within tol of their corners' mean; a trimmed face keeps the cells on the face.
// Triangles turn counter-clockwise about the outward normal.
std::size_t writeMesh(const std::string& path, const gmInspection& inspection, double tol) {
  std::vector<double> vertices;
  std::vector<std::int32_t> faces;
  for (const gmInspectionFeature& f : inspection.features()) {
    int nu = 4, nv = 4;
    auto at = [&](int i, int j, ERVector3D* n = nullptr) {
      return f.point(f.u0() + (f.u1() - f.u0()) * i / nu, f.v0() + (f.v1() - f.v0()) * j / nv, n);
    };
    for (int round = 0; round < 12; ++round) {
      double eu = 0, ev = 0;
      for (int i = 0; i < nu; ++i)
        for (int j = 0; j <= nv; ++j) {
          const ERPoint3D a = f.point(f.u0() + (f.u1() - f.u0()) * (i + 0.5) / nu,
                                      f.v0() + (f.v1() - f.v0()) * j / nv);
          const ERPoint3D m = at(i, j) + 0.5 * (at(i + 1, j) - at(i, j));
          eu = std::max(eu, qorv::distance(a, m));
        }
      for (int i = 0; i <= nu; ++i)
        for (int j = 0; j < nv; ++j) {
          const ERPoint3D a = f.point(f.u0() + (f.u1() - f.u0()) * i / nu,
                                      f.v0() + (f.v1() - f.v0()) * (j + 0.5) / nv);
          const ERPoint3D m = at(i, j) + 0.5 * (at(i, j + 1) - at(i, j));
          ev = std::max(ev, qorv::distance(a, m));
        }
      if (eu <= tol / 2 && ev <= tol / 2) break;
      if (eu > tol / 2) nu *= 2;
      if (ev > tol / 2) nv *= 2;
    }
    const auto base = static_cast<std::int32_t>(vertices.size() / 3);
    for (int i = 0; i <= nu; ++i)
      for (int j = 0; j <= nv; ++j) {
        const ERPoint3D p = at(i, j);
        vertices.insert(vertices.end(), {p.x(), p.y(), p.z()});
      }
    for (int i = 0; i < nu; ++i)
      for (int j = 0; j < nv; ++j) {
        ERVector3D n;
        const ERPoint3D centre = f.point(f.u0() + (f.u1() - f.u0()) * (i + 0.5) / nu,
                                         f.v0() + (f.v1() - f.v0()) * (j + 0.5) / nv, &n);
        if (f.kind() == gmInspectionFeature::SURFACE) {
          ERPoint3D foot;
          ERVector3D outward;
          if (!f.foot(centre, foot, outward) || qorv::distance(foot, centre) > 1e-6)
            continue;  // a hole
        }
        const std::int32_t a = base + i * (nv + 1) + j, b = a + nv + 1, c = b + 1, d = a + 1;
        const ERVector3D du = at(i + 1, j) - at(i, j), dv = at(i, j + 1) - at(i, j);
        const bool ccw = (du ^ dv) * n >= 0;
        if (ccw)
          faces.insert(faces.end(), {a, b, c, a, c, d});
        else
          faces.insert(faces.end(), {a, c, b, a, d, c});
      }
  }
  std::ofstream out(path, std::ios::binary);
  out << "ply\nformat binary_little_endian 1.0\nelement vertex " << vertices.size() / 3
      << "\nproperty double x\nproperty double y\nproperty double z\nelement face "
      << faces.size() / 3 << "\nproperty list uchar int vertex_indices\nend_header\n";
  out.write(reinterpret_cast<const char*>(vertices.data()),
            static_cast<std::streamsize>(vertices.size() * sizeof(double)));
  for (std::size_t t = 0; t < faces.size(); t += 3) {
    out.put(3);
    out.write(reinterpret_cast<const char*>(&faces[t]), 12);
  }
  return faces.size() / 3;
}

// The scalar field a binary little-endian PLY's vertices carry last (a float or double).
std::vector<double> lastScalar(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::size_t n = 0, stride = 0, lastSize = 0;
  bool inVertex = false;
  while (std::getline(in, line) && line.rfind("end_header", 0) != 0) {
    if (line.rfind("element", 0) == 0) {
      inVertex = line.rfind("element vertex", 0) == 0;
      if (inVertex) n = std::stoul(line.substr(15));
    } else if (inVertex && line.rfind("property", 0) == 0) {
      const bool dbl =
          line.find(" double ") != std::string::npos || line.find(" float64 ") != std::string::npos;
      const bool uc =
          line.find(" uchar ") != std::string::npos || line.find(" uint8 ") != std::string::npos;
      lastSize = dbl ? 8 : uc ? 1 : 4;
      stride += lastSize;
    }
  }
  std::vector<char> body(n * stride);
  in.read(body.data(), static_cast<std::streamsize>(body.size()));
  std::vector<double> out(n);
  for (std::size_t i = 0; i < n && in; ++i) {
    const char* p = body.data() + i * stride + stride - lastSize;
    if (lastSize == 8) {
      std::memcpy(&out[i], p, 8);
    } else {
      float f;
      std::memcpy(&f, p, 4);
      out[i] = f;
    }
  }
  return out;
}

struct Errors {
  double max = 0, rms = 0, p99 = 0;
};

Errors errors(const std::vector<double>& got, const std::vector<double>& truth) {
  Errors e;
  if (got.size() != truth.size()) return {-1, -1, -1};
  std::vector<double> d(got.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    d[i] = std::isfinite(got[i]) ? std::fabs(got[i] - truth[i]) : HUGE_VAL;
    e.rms += d[i] * d[i];
  }
  e.rms = std::sqrt(e.rms / static_cast<double>(std::max<std::size_t>(1, d.size())));
  std::nth_element(d.begin(), d.begin() + static_cast<long>(d.size() * 99 / 100), d.end());
  e.p99 = d[d.size() * 99 / 100];
  e.max = *std::max_element(d.begin(), d.end());
  return e;
}

bool onPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> sizes;
  for (int k = 1; k < argc; ++k) sizes.push_back(static_cast<std::size_t>(std::atof(argv[k])));
  if (sizes.empty()) sizes = {1000000, 10000000};
  const std::string part = QORV_SOURCE_DIR "/examples/inspection/part.json";
  const gmInspection inspection(qorv::tool::readNominal(part));
  const std::string cloudPath = scratchPath("cloud.ply"), outPath = scratchPath("judged.ply");
  const std::string meshPath = scratchPath("part_mesh.ply");
  const bool peer = onPath("CloudCompare");
  if (peer)
    std::printf("mesh: %zu triangles at 0.01 mm chordal tolerance\n",
                writeMesh(meshPath, inspection, 0.01));
  std::printf("%10s %8s %8s %8s %7s %9s %9s %9s %10s %8s\n", "points", "file MB", "1 thr s",
              "2 thr s", "speedup", "cpu ns/pt", "judge ns", "peak B/pt", "qorv err", "loadavg");
  for (std::size_t n : sizes) {
    const Cloud c = generate(inspection, n);
    writeCloud(cloudPath, c);
    const double fileBytes = static_cast<double>(24 * n + 100);
    Run runs[2];
    for (int t = 1; t <= 2; ++t)
      runs[t - 1] = run({QORV_TOOL, "inspect", "--nominal", part, "--measured", cloudPath,
                         "--cloud-out", outPath, "-q", "-j", std::to_string(t)},
                        "/dev/null");
    // The library's own error on the same points (the tool's PLY holds floats), and the judging
    // alone on one thread.
    auto since = [](std::chrono::steady_clock::time_point t) {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    };
    auto start = std::chrono::steady_clock::now();
    const gmPointCloud read = gmReadPointCloud(cloudPath, 2);
    const double reading = since(start);
    start = std::chrono::steady_clock::now();
    const gmCloudResults r = inspection.runCloud(read.xyz.data(), read.size(), 0, 1);
    const double judge = since(start);
    start = std::chrono::steady_clock::now();
    const gmCloudResults r2 = inspection.runCloud(read.xyz.data(), read.size(), 0, 2);
    const double judge2 = since(start);
    start = std::chrono::steady_clock::now();
    const auto summaries = inspection.summarizeCloud(read.xyz.data(), r2, 0, 20000, 2);
    const double summary = since(start);
    start = std::chrono::steady_clock::now();
    {
      std::ofstream ply(outPath, std::ios::binary);
      gmWritePly(ply, read.xyz.data(), read.size(), r2.deviation.data(), r2.feature.data(), 0.075);
    }
    const double writing = since(start);
    std::vector<double> got(r.deviation);
    for (std::size_t i = 0; i < got.size(); ++i)
      if (r.feature[i] != c.feature[i]) got[i] = HUGE_VAL;
    const Errors qe = errors(got, c.deviation);
    double load[1] = {0};
    (void)::getloadavg(load, 1);
    const double peakBytes =
        static_cast<double>(std::max(runs[0].peakKiB, runs[1].peakKiB)) * 1024.0;
    std::printf("%10zu %8.0f %8.2f %8.2f %7.2f %9.0f %9.0f %9.1f %10.1e %8.2f%s\n", n,
                fileBytes / 1e6, runs[0].wall, runs[1].wall, runs[0].wall / runs[1].wall,
                1e9 * runs[0].cpu / static_cast<double>(n), 1e9 * judge / static_cast<double>(n),
                peakBytes / static_cast<double>(n), qe.max, load[0],
                runs[0].status <= 1 && runs[1].status <= 1 ? "" : "  (the tool failed)");
    // The stages in this process: what stays on one thread bounds the speed-up.
    std::printf(
        "  stages: read %.2f s (2 threads), judge %.2f s (1 thread) %.2f s (2: %.2fx), statistics "
        "and "
        "fits %.2f s, PLY written %.2f s\n",
        reading, judge, judge2, judge / judge2, summary, writing);
    if (n == sizes.front()) {
      // Where the judging goes: one thread over each feature's own points.
      std::printf("  judging per point, one thread, by the feature the points lie on:");
      for (std::size_t k = 0; k < inspection.features().size(); ++k) {
        std::vector<double> mine;
        for (std::size_t i = 0; i < n; ++i)
          if (c.feature[i] == static_cast<int>(k))
            mine.insert(mine.end(), &c.xyz[3 * i], &c.xyz[3 * i] + 3);
        const auto t0 = std::chrono::steady_clock::now();
        const gmCloudResults part = inspection.runCloud(mine.data(), mine.size() / 3, 0, 1);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf(" %s %.0f ns", inspection.features()[k].id().c_str(),
                    1e9 * s / static_cast<double>(std::max<std::size_t>(1, part.feature.size())));
      }
      std::printf("\n");
    }
    if (!peer) continue;
    const std::string ccOut = scratchPath("cc_out.ply");
    const Run cc = run({"CloudCompare", "-SILENT", "-AUTO_SAVE", "OFF", "-NO_TIMESTAMP",
                        "-C_EXPORT_FMT", "PLY", "-PLY_EXPORT_FMT", "BINARY_LE", "-O", cloudPath,
                        "-O", meshPath, "-C2M_DIST", "-SAVE_CLOUDS", "FILE", ccOut},
                       scratchPath("cc.log"), true);
    const Errors ce = errors(lastScalar(ccOut), c.deviation);
    std::printf(
        "  CloudCompare C2M: %.2f s (status %d); wall time CloudCompare / qorv on 2 threads: %.2f; "
        "error max %.1e, rms "
        "%.1e, "
        "99th percentile %.1e\n",
        cc.wall, cc.status, cc.wall / runs[1].wall, ce.max, ce.rms, ce.p99);
  }
  if (!peer) std::printf("CloudCompare not found: peer not run (scripts/bench.sh installs it)\n");
  return 0;
}
