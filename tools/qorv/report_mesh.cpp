#include "tools/qorv/report_mesh.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "qorv/surfaces/trimmed_surface.h"
#if QORV_HAVE_STEP
#include "qorv/exchange/face_group.h"
#endif

namespace qorv::tool {

namespace {

using Eval = std::function<ERPoint3D(double, double)>;
using Inside = std::function<bool(double, double)>;

bool finite(const ERPoint3D& p) {
  return std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z());
}

// The largest miss of the chords of n intervals along one direction, over a few lines across.
double chordMiss(const Eval& at, double a0, double a1, double b0, double b1, int n, bool alongU) {
  double worst = 0;
  for (int j = 0; j <= 8; ++j) {
    const double b = b0 + (b1 - b0) * j / 8;
    for (int i = 0; i < n; ++i) {
      const double s = a0 + (a1 - a0) * i / n, t = a0 + (a1 - a0) * (i + 1) / n;
      const ERPoint3D p = alongU ? at(s, b) : at(b, s), q = alongU ? at(t, b) : at(b, t);
      const ERPoint3D m = alongU ? at((s + t) / 2, b) : at(b, (s + t) / 2);
      if (!finite(p) || !finite(q) || !finite(m)) continue;
      const ERPoint3D c((p.x() + q.x()) / 2, (p.y() + q.y()) / 2, (p.z() + q.z()) / 2);
      worst = std::max(worst, distance(m, c));
    }
  }
  return worst;
}

int intervals(const Eval& at, double a0, double a1, double b0, double b1, bool alongU, double tol,
              int least) {
  int n = least;
  while (n < 128 && !(chordMiss(at, a0, a1, b0, b1, n, alongU) <= tol)) n *= 2;
  return std::min(n, 128);
}

void grid(const Eval& at, const Inside& inside, double u0, double u1, double v0, double v1,
          double tol, int least, const ERPoint3D& origin, std::size_t maxVertices, ReportMesh& m) {
  if (!(std::isfinite(u0) && std::isfinite(u1) && std::isfinite(v0) && std::isfinite(v1))) return;
  if (!(u1 > u0) || !(v1 > v0)) return;
  const int nu = intervals(at, u0, u1, v0, v1, true, tol, least);
  const int nv = intervals(at, v0, v1, u0, u1, false, tol, least);
  const std::size_t cols = static_cast<std::size_t>(nu) + 1;
  if (m.positions.size() / 3 + cols * (static_cast<std::size_t>(nv) + 1) > maxVertices) {
    m.cut = true;
    return;
  }
  const auto first = static_cast<std::uint32_t>(m.positions.size() / 3);
  std::vector<char> ok;
  for (int j = 0; j <= nv; ++j)
    for (int i = 0; i <= nu; ++i) {
      const ERPoint3D p = at(u0 + (u1 - u0) * i / nu, v0 + (v1 - v0) * j / nv);
      ok.push_back(finite(p));
      for (double c : {p.x() - origin.x(), p.y() - origin.y(), p.z() - origin.z()})
        m.positions.push_back(std::isfinite(c) ? static_cast<float>(c) : 0.0f);
    }
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const std::size_t a = static_cast<std::size_t>(j) * cols + static_cast<std::size_t>(i);
      const std::size_t b = a + 1, c = a + cols, d = c + 1;
      if (!ok[a] || !ok[b] || !ok[c] || !ok[d]) continue;
      if (inside && !inside(u0 + (u1 - u0) * (i + 0.5) / nu, v0 + (v1 - v0) * (j + 0.5) / nv))
        continue;
      for (std::size_t k : {a, b, d, a, d, c})
        m.triangles.push_back(first + static_cast<std::uint32_t>(k));
    }
}

void surfaceMesh(const ERAnyBoundedSurface& s, double tol, const ERPoint3D& origin,
                 std::size_t maxVertices, ReportMesh& m, int depth) {
#if QORV_HAVE_STEP
  if (const auto* group = dynamic_cast<const ERFaceGroup*>(&s)) {
    for (int k = 0; k < group->count() && depth < 4; ++k)
      if (group->face(k)) surfaceMesh(*group->face(k), tol, origin, maxVertices, m, depth + 1);
    return;
  }
#else
  (void)depth;
#endif
  const Eval at = [&s](double u, double v) { return s.PtCur(u, v).point(); };
  Inside inside;
  int least = 4;
  if (const auto* trimmed = dynamic_cast<const ERTrimmedSurface*>(&s)) {
    inside = [trimmed](double u, double v) { return trimmed->isInBound(ERPoint2D(u, v)) != 0; };
    least = 64;
  }
  grid(at, inside, s.udeb(), s.ufin(), s.vdeb(), s.vfin(), tol, least, origin, maxVertices, m);
}

}  // namespace

void tessellateFeature(const gmInspectionFeature& f, double tolerance, const ERPoint3D& origin,
                       std::size_t maxVertices, ReportMesh& mesh) {
  if (!f.problem().empty() || !(tolerance > 0)) return;
  if (f.kind() == gmInspectionFeature::SURFACE) {
    if (f.surface()) surfaceMesh(*f.surface(), tolerance, origin, maxVertices, mesh, 0);
    return;
  }
  const Eval at = [&f](double u, double v) { return f.point(u, v); };
  grid(at, {}, f.u0(), f.u1(), f.v0(), f.v1(), tolerance, 4, origin, maxVertices, mesh);
}

}  // namespace qorv::tool
