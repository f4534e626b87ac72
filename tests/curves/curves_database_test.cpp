#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qorv/curves/circles.h"
#include "qorv/curves/composite_curves.h"
#include "qorv/curves/lines.h"
#include "qorv/curves/planar_shapes.h"
#include "qorv/curves/polylines.h"
#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/persistence/object_database.h"
#include "tests/in_order.h"
#include "tests/object_images.h"

using qorv_test::printed, QuickAlgebra::ERVec;

namespace {

constexpr double kPi = 3.14159265358979323846;

ERCompCurve2D mixedChain() {
  ERCompCurve2D c(ERSegment2D(ERPoint2D(0, 0), ERPoint2D(2, 0)));
  c.append(ERArc2D(ERPoint2D(2, 1), 1, -kPi / 2, -kPi), 1e-12);
  ERVec<ERPole2DH> poles;
  poles.append(ERPole2DH(ERPoint2D(1, 1), 1));
  poles.append(ERPole2DH(ERPoint2D(0, 4), 2));
  poles.append(ERPole2DH(ERPoint2D(-1, 1), 1));
  c.append(ERCpoleNURBS2D(poles), 1e-12);
  c.reparametrize(ERLimites(-1, 5));
  return c;
}

ERCrvCompPoly2D polyChain() {
  auto poly = [](std::vector<double> v) { return ERPolynome(v.data(), int(v.size())); };
  ERTValVector<ERPolynome> pa, pb;
  pa.append(poly({0, 1})), pa.append(poly({0, 0, 1}));
  pb.append(poly({1, 1})), pb.append(poly({1, -2}));
  ERCrvCompPoly2D p(ERPatchCPoly2D(pa, ERLimites(0, 1)));
  p.append(ERPatchCPoly2D(pb, ERLimites(0, 1)), 1e-12);
  return p;
}

// Every class of the family goes into a database file and comes back by its identifier: the
// same class, print, evaluation, and (for the classes without stored references) image.
TEST(CurvesDataBase, EveryClassRoundTrips) {
  const ERPmIsometrie3D frame = ERChgRepere3D(ERVector3D(0.2, -1, 0.5), ERPoint3D(7, 8, -9));
  ERVec<ERPoint2D> p2;
  p2.append(ERPoint2D(1, 2)), p2.append(ERPoint2D(-3, 4.5)), p2.append(ERPoint2D(1e300, -1e-300));
  ERVec<ERPoint3D> p3;
  p3.append(ERPoint3D(1, 2, 3)), p3.append(ERPoint3D(-3, 4.5, 6));
  const ERRectangle2D rect(ERPoint2D(1, -1), ERVector2D(1, 2), 3, -2);
  const ERRegularPolygon2D poly(ERPoint2D(2, 2), ERVector2D(-1, 1), 0.75, 5);
  const ERRoundedSlot2D slot(ERPoint2D(-1, 0), ERPoint2D(3, 2), 0.5);

  std::vector<std::unique_ptr<ERObject>> plain;
  plain.emplace_back(new ERPolyline2D(p2));
  plain.emplace_back(new ERPolygone2D(p2));
  plain.emplace_back(new ERPolyline3D(p3));
  plain.emplace_back(new ERPolygone3D(p3));
  plain.emplace_back(new ERRectangle2D(rect));
  plain.emplace_back(new ERRegularPolygon2D(poly));
  plain.emplace_back(new ERRoundedSlot2D(slot));
  plain.emplace_back(new ERRectangle3D(rect, frame));
  plain.emplace_back(new ERRegularPolygon3D(poly, frame));
  plain.emplace_back(new ERRoundedSlot3D(slot, frame));

  const ERCompCurve2D c2 = mixedChain();
  t_SmartPtr<EREntity3DWF> up = c2.get3DEquiv(frame);
  const ERCrvCompPoly2D q2 = polyChain();
  t_SmartPtr<EREntity3DWF> qup = q2.get3DEquiv(frame);
  std::vector<ERObject*> chains = {const_cast<ERCompCurve2D*>(&c2), up.get(),
                                   const_cast<ERCrvCompPoly2D*>(&q2), qup.get()};
  std::vector<std::string> prints;
  for (ERObject* c : chains) prints.push_back(printed(*c));

  qorv_test::expectRoundTrip(plain);
  const qorv_test::DataBaseRoundTrip trip(chains);
  for (size_t k = 0; k < chains.size(); ++k) {
    SCOPED_TRACE(chains[k]->className());
    t_SmartPtr<ERObject> back = trip.back(k);
    ASSERT_TRUE(back);
    EXPECT_STREQ(back->className(), chains[k]->className());
    EXPECT_EQ(printed(*back), prints[k]);
    if (k != 0) continue;
    if (auto* b = ERCompCurve2D::castdown(back.get())) {
      EXPECT_EQ((Seq{b->entries(), b->getBound()}), (Seq{3, c2.getBound()}));
      for (int s = 0; s <= 12; ++s) EXPECT_EQ((*b)(-1 + s * 0.5), c2(-1 + s * 0.5)) << s;
    }
  }
}

}  // namespace
