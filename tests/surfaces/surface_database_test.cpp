#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "qorv/persistence/object_database.h"
#include "qorv/surfaces/analytic_surfaces.h"
#include "qorv/surfaces/bounded_surfaces.h"
#include "tests/object_images.h"
#include "tests/surfaces/bounded_draws.h"

namespace {

// Every analytic surface, with values that no default shares, goes into a database file and
// comes back from it, by identifier alone and into an existing object, field for field.
TEST(SurfaceDataBase, AnalyticSurfacesRoundTrip) {
  std::vector<std::unique_ptr<ERSurface>> surfaces;
  surfaces.emplace_back(new ERPlane(1, -2, 2, 7.5));
  surfaces.emplace_back(
      new ERCylinder(ERInfLine3D(ERVector3D(0, 0.6, 0.8), ERPoint3D(1, -3, 2.25)), 4.125));
  surfaces.emplace_back(new ERCone(ERPoint3D(-1, 2, 1e-300), ERVector3D(1, 1, 0), 0.3));
  surfaces.emplace_back(new ERSphere(ERPoint3D(1e300, -2, 3), 0.1));
  surfaces.emplace_back(new ERTorus(50, 8, ERVector3D(0, -1e-20, 3), ERPoint3D(5, 6, -7)));
  surfaces.emplace_back(new ERTorus(-1, std::nan(""), ERVector3D(), ERPoint3D()));
  qorv_test::expectRoundTrip(surfaces, [](const ERObject& back, std::size_t) {
    EXPECT_NE(ERSurface::castdown(back), nullptr);
  });
}

// The bounded surfaces, in turned and mirrored placements with limits no default shares, go
// into a database file and come back by identifier and into objects of other values.
TEST(SurfaceDataBase, BoundedSurfacesRoundTrip) {
  const ERPmIsometrie3D T =
      ERChgRepere3D(ERVector3D(0.6, 0, 0.8), ERVector3D(0, 1, 0), ERPoint3D(1e5, -3, 0.25));
  const ERPmIsometrie3D M = qorv_test::mirroredOf(T);
  std::vector<std::unique_ptr<ERSurface>> surfaces;
  surfaces.emplace_back(new ERBoundedPlane(T, ERLimites(-1, 2.5), ERLimites(0.5, 3)));
  auto* cyl = new ERBoundedCylinder(M, 4, 1.5, -0.5, 2);
  cyl->setBound(ERLimites(-1, 3), ERLimites(0, 1));
  surfaces.emplace_back(cyl);
  surfaces.emplace_back(new ERBoundedCone(T, 0.4, -2, 7));
  surfaces.emplace_back(new ERBoundedSphere(M, 3.5, ERLimites(1, 4), ERLimites(-0.5, 1)));
  surfaces.emplace_back(new ERBoundedTorus(T, 20, 3, -1, 2, 0.5, 6));
  qorv_test::expectRoundTrip(surfaces, [&](const ERObject& back, std::size_t k) {
    const ERAnyBoundedSurface* b = ERAnyBoundedSurface::castdown(back);
    const ERAnyBoundedSurface* a = dynamic_cast<const ERAnyBoundedSurface*>(surfaces[k].get());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(qorv::distance((*b)(0.75, 0.5), (*a)(0.75, 0.5)), 0);
  });
}

}  // namespace
