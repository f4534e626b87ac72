#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "qorv/persistence/object_database.h"
#include "qorv/surfaces/analytic_surfaces.h"
#include "qorv/surfaces/bounded_surfaces.h"
#include "tests/object_images.h"
#include "tests/persistence/test_files.h"
#include "tests/surfaces/bounded_draws.h"

using qorv_test::imageOf;
using qorv_test::printed;
using qorv_test::TempFile;

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
  TempFile file("surfaces_db");
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  ASSERT_EQ(db->Open(file.c_str(), 0), 1);
  std::vector<long> ids;
  for (const auto& s : surfaces) ids.push_back(db->Store(*s));
  db->Close();

  ASSERT_EQ(db->Open(file.c_str(), 1), 1);
  for (size_t k = 0; k < surfaces.size(); ++k) {
    SCOPED_TRACE(surfaces[k]->className());
    t_SmartPtr<ERObject> back = db->RetrieveAndCreate(ids[k]);
    ASSERT_TRUE(back);
    EXPECT_STREQ(back->className(), surfaces[k]->className());
    EXPECT_EQ(imageOf(*back), imageOf(*surfaces[k]));
    EXPECT_EQ(printed(*back), printed(*surfaces[k]));
    EXPECT_NE(ERSurface::castdown(back.get()), nullptr);
    // Into an object of the class that holds other values.
    std::unique_ptr<ERObject> into(ERClassRegistration::findCreator(back->className())());
    ASSERT_EQ(db->Retrieve(ids[k], *into), 1);
    EXPECT_EQ(imageOf(*into), imageOf(*surfaces[k]));
  }
  db->Close();
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
  TempFile file("bounded_db");
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  ASSERT_EQ(db->Open(file.c_str(), 0), 1);
  std::vector<long> ids;
  for (const auto& s : surfaces) ids.push_back(db->Store(*s));
  db->Close();

  ASSERT_EQ(db->Open(file.c_str(), 1), 1);
  for (size_t k = 0; k < surfaces.size(); ++k) {
    SCOPED_TRACE(surfaces[k]->className());
    t_SmartPtr<ERObject> back = db->RetrieveAndCreate(ids[k]);
    ASSERT_TRUE(back);
    EXPECT_STREQ(back->className(), surfaces[k]->className());
    EXPECT_EQ(imageOf(*back), imageOf(*surfaces[k]));
    EXPECT_EQ(printed(*back), printed(*surfaces[k]));
    const ERAnyBoundedSurface* b = ERAnyBoundedSurface::castdown(back.get());
    const ERAnyBoundedSurface* a = dynamic_cast<const ERAnyBoundedSurface*>(surfaces[k].get());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(qorv::distance((*b)(0.75, 0.5), (*a)(0.75, 0.5)), 0);
    std::unique_ptr<ERObject> into(ERClassRegistration::findCreator(back->className())());
    ASSERT_EQ(db->Retrieve(ids[k], *into), 1);
    EXPECT_EQ(imageOf(*into), imageOf(*surfaces[k]));
  }
  db->Close();
}

}  // namespace
