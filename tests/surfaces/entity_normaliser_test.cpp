#include "qorv/surfaces/entity_normaliser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "qorv/foundation/transfo3d_kinds.h"
#include "tests/in_order.h"
#include "tests/surfaces/bounded_draws.h"
#include "tests/test_seed.h"

using namespace qorv;
using qorv_test::BoundedDraw, qorv_test::Kind, qorv_test::maxAbs;

namespace {

constexpr double kDeg = M_PI / 180.0;

struct Exposed : EREntityNormaliser {
  using EREntityNormaliser::IncrementAndFormatAngles;
  using EREntityNormaliser::IncrementAndFormatAngularLimits;
};

double lerp(double a, double b, double f) { return a + (b - a) * f; }

// The frame turned by t about its own Z axis.
ERPmIsometrie3D turnedAboutZ(const ERPmIsometrie3D& F, double t) {
  const double c = std::cos(t), s = std::sin(t);
  const double m[9] = {c, -s, 0, s, c, 0, 0, 0, 1};
  return F * ERPmIsometrie3D(_ERRotation3D(QuickAlgebra::ERMatrix<double>(3, 3, m)));
}

// Two angle windows are the same up to whole turns (both ends by the same turn).
void expectSameWindow(double a1, double a2, double b1, double b2, double tol) {
  const double k = std::round((b1 - a1) / (2 * M_PI));
  EXPECT_TRUE(Near(Seq{b1 - 2 * M_PI * k, b2 - 2 * M_PI * k}, Seq{a1, a2}, tol));
}

// ---------------------------------------------------------------------------------------------
TEST(EntityNormaliser, TheShiftRuleAsWritten) {
  double a1 = 350 * kDeg, a2 = 370 * kDeg;
  Exposed::IncrementAndFormatAngles(a1, a2, 30 * kDeg);
  EXPECT_TRUE(Near(Seq{a1, a2}, Seq{20 * kDeg, 40 * kDeg}, 1e-14));
  // Step 4 reads (delta < 0 and a1 < -2pi) or a2 < -2pi: a positive delta raises a2 too.
  a1 = 0, a2 = -7;
  Exposed::IncrementAndFormatAngles(a1, a2, 0.1);
  EXPECT_TRUE(Near(Seq{a1, a2}, Seq{0.1 + 2 * M_PI, -6.9 + 2 * M_PI}, 1e-15));
  // delta > 0 past 2pi comes down a turn; delta < 0 below -2pi comes up one.
  a1 = 6, a2 = 6.2;
  Exposed::IncrementAndFormatAngles(a1, a2, 0.5);
  EXPECT_NEAR(a1, 6.5 - 2 * M_PI, 1e-15);
  a1 = -6.2, a2 = -6;
  Exposed::IncrementAndFormatAngles(a1, a2, -0.5);
  EXPECT_TRUE(Near(Seq{a1, a2}, Seq{-6.7 + 2 * M_PI, -6.5 + 2 * M_PI}, 1e-15));
  ERLimites l(1, 2);
  Exposed::IncrementAndFormatAngularLimits(l, -M_PI / 2);
  EXPECT_EQ(l, ERLimites(1 - M_PI / 2, 2 - M_PI / 2));
}

TEST(EntityNormaliser, FrameAngleSignAndCanonicalFrames) {
  // Already canonical: angle 0, the same angles back.
  const ERPmIsometrie3D canonical = ERChgRepere3D(ERVector3D(0.3, -0.4, 0.8), ERPoint3D(1, 2, 3));
  ERPmIsometrie3D out;
  double angle = 1;
  EXPECT_EQ(EREntityNormaliser::ComputeNormalizationParameters(canonical, out, angle), 1);
  EXPECT_NEAR(angle, 0, 1e-15);
  const ERArc3D arc(canonical, ERCircle2D(ERPoint2D(), 2), 0.5, 2);
  const ERArc3D same = EREntityNormaliser::Normalise(arc);
  EXPECT_EQ((Seq{same.udeb(), same.ufin()}), (Seq{0.5, 2}));
  // X 90 degrees clockwise of the canonical one: angle -pi/2, the limits decrease by pi/2.
  const ERPmIsometrie3D cw = turnedAboutZ(canonical, -M_PI / 2);
  EREntityNormaliser::ComputeNormalizationParameters(cw, out, angle);
  EXPECT_NEAR(angle, -M_PI / 2, 1e-15);
  const ERArc3D turned =
      EREntityNormaliser::Normalise(ERArc3D(cw, ERCircle2D(ERPoint2D(), 2), 2, 3));
  EXPECT_TRUE(Near(Seq{turned.udeb(), turned.ufin()}, Seq{2 - M_PI / 2, 3 - M_PI / 2}, 1e-15));
  // A frame without a Z axis is kept, angle 0 and finite.
  const ERPmIsometrie3D broken =
      qorv_test::frameFromAxes(ERVector3D(), ERVector3D(), ERVector3D(), ERPoint3D(1, 1, 1));
  angle = std::nan("");
  EREntityNormaliser::ComputeNormalizationParameters(broken, out, angle);
  EXPECT_EQ(angle, 0);
  const ERArc3D flat =
      EREntityNormaliser::Normalise(ERArc3D(broken, ERCircle2D(ERPoint2D(), 1), 0, 1));
  EXPECT_EQ(flat.udeb(), 0);
}

TEST(EntityNormaliser, FlipKeepsThePointsAndTurnsTheNormal) {
  const ERPmIsometrie3D F =
      ERChgRepere3D(ERVector3D(0, 1, 0), ERVector3D(0, 0, 1), ERPoint3D(1, 2, 3));
  ERArc3D arc(F, ERCircle2D(ERPoint2D(0.5, -1), 2), 0.25, 1.75);
  const ERArc3D before = arc;
  EREntityNormaliser::Flip(arc);
  EXPECT_EQ((Seq{arc.udeb(), arc.ufin(), arc.radius()}), (Seq{-0.25, -1.75, 2}));
  EXPECT_LE(distance(arc.center(), before.center()), 1e-15);
  EXPECT_LE((arc.normale() + before.normale()).norme(), 1e-15);
  for (double f : {0.0, 0.3, 1.0})
    EXPECT_LE(distance(arc(lerp(-0.25, -1.75, f)), before(lerp(0.25, 1.75, f))), 1e-14);
  ERBoundedCylinder c(F, 2, 1.5, 0.5, 2);
  c.setBound(ERLimites(-1, 1.5), ERLimites(0.5, 1));
  const ERBoundedCylinder cb = c;
  EREntityNormaliser::Flip(c);
  EXPECT_EQ((Seq{c.getBoundU(), c.getBoundV(), ERLimites(c.NUdeb(), c.NUfin())}),
            (Seq{ERLimites(-1.5, 1), ERLimites(-1, -0.5), ERLimites(-2, 2)}));
  EXPECT_LE((c.getNormale() + cb.getNormale()).norme(), 1e-15);
  EXPECT_LE(distance(c(-1.2, -0.7), cb(1.2, 0.7)), 1e-14);
}

// The flipped outlines have the same points in the same order and the opposite normal, in
// random frames (turned, far off).
TEST(EntityNormaliser, FlipOfOutlinesKeepsThePointsAndTurnsTheNormal) {
  QORV_SEEDED(BoundedDraw draw, 2007);
  for (int i = 0; i < 100; ++i) {
    const double s = draw.magnitude(-6, 6);
    const ERPmIsometrie3D F = draw.placement(s);
    ERRectangle3D rect(
        ERRectangle2D(ERPoint2D(0.3 * s, -0.2 * s), ERVector2D(1, 2), 2 * s, (i % 2 ? -1 : 1) * s),
        F);
    ERRoundedSlot3D slot(ERRoundedSlot2D(ERPoint2D(-s, 0.5 * s), ERPoint2D(s, 0.1 * s), 0.4 * s),
                         F);
    const ERRectangle3D r0 = rect;
    const ERRoundedSlot3D s0 = slot;
    EREntityNormaliser::Flip(rect);
    EREntityNormaliser::Flip(slot);
    const double tol = 1e-13 * (s + distance(F >> ERPoint3D(), ERPoint3D()));
    for (double t = 0; t <= 4; t += 0.125) {
      EXPECT_LE(distance(rect(t), r0(t)), tol) << t;
      // The slot's outline is the same point set, run the other way round.
      double d1 = 1, d2 = 1;
      s0.SignedMinimalDistance(slot(t), d1);
      slot.SignedMinimalDistance(s0(t), d2);
      EXPECT_LE(std::fabs(d1) + std::fabs(d2), tol) << t;
    }
    EXPECT_LE((rect.normale() + r0.normale()).norme(), 1e-14);
    EXPECT_LE((slot.normale() + s0.normale()).norme(), 1e-14);
    EXPECT_EQ(slot.shape().radius(), s0.shape().radius());
  }
}

// Random entities in random frames (turned, mirrored, far off, tiny and huge), limits in every
// window: the normalised entity has the same points at the same fractions of its limits, and
// two descriptions turned about Z with compensated limits normalise alike.
TEST(EntityNormaliser, NormalisedEntitiesKeepTheirPoints) {
  QORV_SEEDED(BoundedDraw draw, 2006);
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE("draw " + std::to_string(i));
    const double s = draw.magnitude(-9, 290);
    const ERPmIsometrie3D F = draw.placement(s);
    const ERLimites w = draw.angles(3 * M_PI);
    const double tol = 1e-12 * std::max(maxAbs(F.origine()), s);
    // Arcs, centred or not.
    const ERPoint2D c2 =
        i % 3 == 0 ? ERPoint2D(draw.uniform(-1, 1) * s, draw.uniform(-1, 1) * s) : ERPoint2D();
    const ERArc3D arc(F, ERCircle2D(c2, s * draw.uniform(0.1, 2)), w.start(), w.end());
    const ERArc3D na = EREntityNormaliser::Normalise(arc);
    EXPECT_LE((na.normale() - (F >> ERVector3D(0, 0, 1))).norme(), 1e-15);
    for (double f : {0.0, 0.25, 0.5, 1.0})
      EXPECT_LE(distance(na(lerp(na.udeb(), na.ufin(), f)), arc(lerp(w.start(), w.end(), f))), tol);
    // The same arc described in a frame turned about Z, its limits compensated.
    const double t = draw.uniform(-M_PI, M_PI);
    const ERPmIsometrie3D G = turnedAboutZ(F, t);
    const ERPoint3D gc = G << arc.center();
    const ERArc3D other(G, ERCircle2D(ERPoint2D(gc.x(), gc.y()), arc.radius()), w.start() - t,
                        w.end() - t);
    const ERArc3D no = EREntityNormaliser::Normalise(other);
    expectSameWindow(na.udeb(), na.ufin(), no.udeb(), no.ufin(),
                     1e-12 * (1 + std::fabs(w.start())));
    // Elliptic arcs (the ellipses square their axes: not past 1e150).
    if (s > 1e150) continue;
    const EREllipse2D e(s * draw.uniform(1, 2), s * draw.uniform(0.2, 1), draw.uniform(0, 2 * M_PI),
                        c2);
    const ERArcEllipse3D ea(F, e, w.start(), std::min(w.end(), w.start() + 2 * M_PI));
    const ERArcEllipse3D ne = EREntityNormaliser::Normalise(ea);
    EXPECT_LE(distance(ne.firstPt(), ea.firstPt()), tol);
    EXPECT_LE(distance(ne.lastPt(), ea.lastPt()), tol);
    const QuickAlgebra::ERVec<ERPoint3D> pa = ea.approxime(7), pn = ne.approxime(7);
    ASSERT_EQ(pa.length(), pn.length());
    for (int k = 0; k < pa.length(); ++k) EXPECT_LE(distance(pa[k], pn[k]), tol) << k;
  }
}

TEST(EntityNormaliser, NormalisedSurfacesKeepTheirPoints) {
  QORV_SEEDED(BoundedDraw draw, 2007);
  for (Kind k : {Kind::Cylinder, Kind::Cone, Kind::Sphere, Kind::Torus})
    for (int i = 0; i < 100; ++i) {
      SCOPED_TRACE(std::string(qorv_test::nameOf(k)) + " draw " + std::to_string(i));
      const double s = draw.magnitude(-9, 290);
      const auto surf = draw.surface(k, s, s);
      std::unique_ptr<ERBoundedSurface> n;
      const ERPmIsometrie3D* placement = nullptr;
      if (k == Kind::Cylinder) {
        auto* c = static_cast<ERBoundedCylinder*>(surf.get());
        n.reset(new ERBoundedCylinder(EREntityNormaliser::Normalise(*c)));
        EXPECT_EQ(ERLimites(n->NUdeb(), n->NUfin()), ERLimites(-1, 1));
        placement = &c->getMatrix();
      } else if (k == Kind::Cone) {
        auto* c = static_cast<ERBoundedCone*>(surf.get());
        n.reset(new ERBoundedCone(EREntityNormaliser::Normalise(*c)));
        placement = &c->getMatrix();
      } else if (k == Kind::Sphere) {
        auto* c = static_cast<ERBoundedSphere*>(surf.get());
        n.reset(new ERBoundedSphere(EREntityNormaliser::Normalise(*c)));
        placement = &c->getMatrix();
      } else {
        auto* c = static_cast<ERBoundedTorus*>(surf.get());
        n.reset(new ERBoundedTorus(EREntityNormaliser::Normalise(*c)));
        placement = &c->getMatrix();
      }
      const ERPmIsometrie3D& out = dynamic_cast<ERSurfaceBasedOnTransfo3D&>(*n).getMatrix();
      EXPECT_LE((out.getVector(Coord3D::X) -
                 ERChgRepere3D(placement->getVector(Coord3D::Z), ERPoint3D()).getVector(Coord3D::X))
                    .norme(),
                1e-15);
      const double tol = 1e-12 * std::max(maxAbs(placement->origine()), s);
      const bool angularU = k == Kind::Sphere || k == Kind::Torus;
      for (double fu : {0.0, 0.4, 1.0})
        for (double fv : {0.0, 0.7, 1.0}) {
          const ERPoint3D a = (*surf)(surf->getBoundU()(fu), surf->getBoundV()(fv));
          // A left-handed placement's angle runs the other way in the canonical frame.
          const bool turned = !placement->isDirect();
          const double gu = turned && angularU ? 1 - fu : fu,
                       gv = turned && !angularU ? 1 - fv : fv;
          const ERPoint3D b = (*n)(n->getBoundU()(gu), n->getBoundV()(gv));
          EXPECT_LE(distance(a, b), tol) << fu << " " << fv;
        }
    }
}

}  // namespace
