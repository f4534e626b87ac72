// The report's tessellation: on random patches of every analytic kind, in turned, mirrored, scaled
// and far-off frames with angle windows anywhere, each vertex lies on the surface and each edge's
// midpoint within the chordal tolerance, by the surface's implicit equation in its own frame.
#include "tools/qorv/report_mesh.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "tests/measurement/inspection_draws.h"
#include "tests/test_seed.h"

namespace {

// How far p lies from the unbounded surface of f's kind (exact for each kind).
double offSurface(const gmInspectionFeature& f, const ERPoint3D& p) {
  const ERPmIsometrie3D& T = f.frame();
  const ERVector3D d(p.x() - T.origine().x(), p.y() - T.origine().y(), p.z() - T.origine().z());
  const double x = d * T.getVector(Coord3D::X), y = d * T.getVector(Coord3D::Y),
               z = d * T.getVector(Coord3D::Z);
  const double rho = std::hypot(x, y);
  switch (f.kind()) {
    case gmInspectionFeature::PLANE:
      return std::fabs(z);
    case gmInspectionFeature::CYLINDER:
      return std::fabs(rho - f.r1());
    case gmInspectionFeature::SPHERE:
      return std::fabs(std::hypot(rho, z) - f.r1());
    case gmInspectionFeature::CONE:
      return std::fabs(rho * std::cos(f.r1()) - z * std::sin(f.r1()));
    case gmInspectionFeature::TORUS:
      return std::fabs(std::hypot(rho - f.r1(), z) - f.r2());
    default:
      return HUGE_VAL;
  }
}

TEST(ReportMesh, ChordsStayWithinTheTolerance) {
  QORV_SEEDED(std::mt19937_64 rng, 4301);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  using K = gmInspectionFeature;
  for (K::Kind kind : {K::PLANE, K::CYLINDER, K::CONE, K::SPHERE, K::TORUS})
    for (int trial = 0; trial < 30; ++trial) {
      SCOPED_TRACE(std::string(K::kindName(kind)) + " trial " + std::to_string(trial));
      // Floats carry the mesh: magnitudes within a float's range, far off by up to 1e5 sizes.
      const double s = std::pow(10.0, -6 + 12 * u(rng)), off = s * std::pow(10.0, 5 * u(rng));
      const K f = qorv_test::randomFeature(kind, rng, s, off);
      ASSERT_EQ(f.problem(), "");
      const double tol = f.box().diagonal() / 1000;
      const ERPoint3D origin = f.box().center_point();
      qorv::tool::ReportMesh m;
      qorv::tool::tessellateFeature(f, tol, origin, 1u << 20, m);
      ASSERT_GT(m.triangles.size(), 0u);
      auto vertex = [&](std::uint32_t k) {
        return ERPoint3D(origin.x() + m.positions[3 * k], origin.y() + m.positions[3 * k + 1],
                         origin.z() + m.positions[3 * k + 2]);
      };
      const double rounding = 1e-6 * f.box().diagonal();  // a float's digits
      double worstVertex = 0, worstChord = 0;
      for (std::size_t t = 0; t < m.triangles.size(); t += 3)
        for (int e = 0; e < 3; ++e) {
          const ERPoint3D p = vertex(m.triangles[t + e]), q = vertex(m.triangles[t + (e + 1) % 3]);
          worstVertex = std::max(worstVertex, offSurface(f, p));
          worstChord = std::max(worstChord, offSurface(f, qorv::milieu(p, q)));
        }
      EXPECT_LE(worstVertex, rounding);
      // A cell's diagonal misses by both directions' chords at most.
      EXPECT_LE(worstChord, 2 * tol + rounding);
    }
}

}  // namespace
