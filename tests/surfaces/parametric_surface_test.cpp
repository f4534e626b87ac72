#include "qorv/surfaces/parametric_surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "qorv/curves/lines.h"
#include "qorv/foundation/transfo3d_kinds.h"
#include "tests/in_order.h"
#include "tests/surfaces/surface_draws.h"
#include "tests/test_seed.h"

using qorv_test::Draw, qorv_test::Frame, QuickAlgebra::ERMatrix;

namespace {

// A bounded parametric surface for the tests, placed by a centre and three axes (a similitude
// scales them):
//   sphere  S(u, v) = c + R (cos v cos u X + cos v sin u Y + sin v Z)
//   plane   S(u, v) = c + u X + v Y
//   cone    S(u, v) = c + v (t cos u X + t sin u Y + Z), t = tan 30 degrees
class Patch : public ERAnyBoundedSurface {
 public:
  enum Kind { Sphere, Plane, Cone };
  using ERAnyBoundedSurface::operator();
  using ERAnyBoundedSurface::ProjectionNormale, ERAnyBoundedSurface::ProjectPoint;
  using ERAnyBoundedSurface::PtCur, ERAnyBoundedSurface::SplitInU, ERAnyBoundedSurface::SplitInV;

  Patch(Kind k, double u0, double u1, double v0, double v1, double R = 1)
      : kind_(k), u0_(u0), u1_(u1), v0_(v0), v1_(v1), R_(R) {}

  double udeb() const override { return u0_; }
  double ufin() const override { return u1_; }
  double vdeb() const override { return v0_; }
  double vfin() const override { return v1_; }

  ERInfoPoint3DSurf PtCur(double u, double v) const override {
    ++evaluations;
    const double cu = std::cos(u), su = std::sin(u), cv = std::cos(v), sv = std::sin(v);
    // Local coordinates of the point and its partials.
    ERVector3D d[6];  // S, Su, Sv, Suu, Suv, Svv
    if (kind_ == Sphere) {
      const double R = R_;
      d[0] = {R * cv * cu, R * cv * su, R * sv};
      d[1] = {-R * cv * su, R * cv * cu, 0};
      d[2] = {-R * sv * cu, -R * sv * su, R * cv};
      d[3] = {-R * cv * cu, -R * cv * su, 0};
      d[4] = {R * sv * su, -R * sv * cu, 0};
      d[5] = {-R * cv * cu, -R * cv * su, -R * sv};
    } else if (kind_ == Plane) {
      d[0] = {u, v, 0}, d[1] = {1, 0, 0}, d[2] = {0, 1, 0};
    } else {
      const double t = std::tan(M_PI / 6);
      d[0] = {v * t * cu, v * t * su, v};
      d[1] = {-v * t * su, v * t * cu, 0};
      d[2] = {t * cu, t * su, 1};
      d[3] = {-v * t * cu, -v * t * su, 0};
      d[4] = {-t * su, t * cu, 0};
    }
    ERMatrix<ERPoint3D> m(3, 3);
    m(0, 0) = c_ + place(d[0]);
    m(0, 1) = ERPoint3D(place(d[1])), m(1, 0) = ERPoint3D(place(d[2]));
    m(0, 2) = ERPoint3D(place(d[3])), m(1, 1) = ERPoint3D(place(d[4]));
    m(2, 0) = ERPoint3D(place(d[5]));
    return ERInfoPoint3DSurf(ERPoint2D(u, v), m);
  }
  ERMinimax3D getBox() const override {
    ERMinimax3D box;
    for (int i = 0; i <= 8; ++i)
      for (int j = 0; j <= 8; ++j) box += (*this)(getBoundU()(i / 8.0), getBoundV()(j / 8.0));
    return box;
  }
  // Segments carry their parameter in [0, 1]: the plane patch on [0, 1]^2 has them.
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoU(double u) const override {
    ++isoCurves;
    if (kind_ != Plane) return nullptr;
    return new ERSegment3D((*this)(u, 0.0), (*this)(u, 1.0));
  }
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoV(double v) const override {
    if (kind_ != Plane) return nullptr;
    return new ERSegment3D((*this)(0.0, v), (*this)(1.0, v));
  }
  // The points on the line through p along Z: the plane's crossing, the sphere's two.
  void ProjectPoint(const ERPoint3D& p, ERRaySurfaceResult& res, int inside) const override {
    std::vector<ERPoint2D> uvs;
    const ERVector3D z(0, 0, 1);
    if (kind_ == Plane) {
      const ERVector3D n = X_ ^ Y_;
      if (std::fabs(n * z) < 1e-12 * n.norme()) return;
      const ERPoint3D q = p + z * (((c_ - p) * n) / (z * n));
      const ERVector3D w = q - c_;
      uvs.push_back(ERPoint2D(w * X_ / X_.norme2(), w * Y_ / Y_.norme2()));
    } else if (kind_ == Sphere) {
      const double rho = R_ * X_.norme();
      const ERVector3D w = p - c_;
      const double b = w * z, disc = b * b - (w * w - rho * rho);
      if (disc < 0) return;
      for (double t : {-b - std::sqrt(disc), -b + std::sqrt(disc)}) {
        const ERVector3D q = w + z * t;
        const double x = q * X_ / X_.norme2(), y = q * Y_ / Y_.norme2(), zz = q * Z_ / Z_.norme2();
        uvs.push_back(ERPoint2D(std::atan2(y, x), std::atan2(zz, std::hypot(x, y))));
      }
    }
    for (const ERPoint2D& uv : uvs) {
      if (inside && !(getBoundU().inBound(uv.x()) && getBoundV().inBound(uv.y()))) continue;
      ERInfoPoint3DSurf info = PtCur(uv.x(), uv.y());
      res.AddPointSolution(info);
    }
  }
  // The sphere's parameters of p's radial foot, when inside the limits.
  int ProjectionNormale(const ERPoint3D& p, double, ERPoint2D& uv, int) const override {
    if (kind_ != Sphere) return 0;
    const ERVector3D w = p - c_;
    const double x = w * X_, y = w * Y_, z = w * Z_;
    uv = ERPoint2D(std::atan2(y, x), std::atan2(z, std::hypot(x, y)));
    return getBoundU().inBound(uv.x()) && getBoundV().inBound(uv.y());
  }
  double upperEstimateInU() const override { return R_ * (u1_ - u0_); }
  double upperEstimateInV() const override { return R_ * (v1_ - v0_); }
  int SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,
               double u) const override {
    lastSplit = u;
    low = new Patch(kind_, u0_, u, v0_, v1_, R_);
    high = new Patch(kind_, u, u1_, v0_, v1_, R_);
    return 1;
  }
  int SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,
               double v) const override {
    lastSplit = v;
    low = new Patch(kind_, u0_, u1_, v0_, v, R_);
    high = new Patch(kind_, u0_, u1_, v, v1_, R_);
    return 1;
  }
  void scale(double k) override {
    ERAnyBoundedSurface::scale(k);
    c_ *= k, X_ *= k, Y_ *= k, Z_ *= k;
  }
  void translate(const ERPoint3D& t) override {
    ERAnyBoundedSurface::translate(t);
    c_ += t;
  }
  void transformFrom(const ERPmSimilitude3D& T) override {
    ERAnyBoundedSurface::transformFrom(T);
    c_ = T >> c_, X_ = T >> X_, Y_ = T >> Y_, Z_ = T >> Z_;
  }
  void transformTo(const ERPmSimilitude3D& T) override {
    ERAnyBoundedSurface::transformTo(T);
    c_ = T << c_, X_ = T << X_, Y_ = T << Y_, Z_ = T << Z_;
  }
  ERObject* getCopy() const override { return new Patch(*this); }
  void printOn(std::ostream& os) const override { os << "Patch"; }

  mutable int evaluations = 0;
  mutable int isoCurves = 0;
  mutable double lastSplit = 0;

 private:
  ERVector3D place(const ERVector3D& l) const { return X_ * l.x() + Y_ * l.y() + Z_ * l.z(); }

  Kind kind_;
  double u0_, u1_, v0_, v1_, R_;
  ERPoint3D c_;
  ERVector3D X_{1, 0, 0}, Y_{0, 1, 0}, Z_{0, 0, 1};
};

double angleBetween(const ERVector3D& a, const ERVector3D& b) { return qorv::anglePI(a, b); }

// ---------------------------------------------------------------------------------------------
TEST(BoundedSurface, LimitsEvaluationsAndDefaults) {
  Patch s(Patch::Sphere, -1, 2, -0.5, 1, 3);
  // PtCur(uv) clamps; operator()(uv) does not.
  const ERInfoPoint3DSurf c = s.PtCur(ERPoint2D(5, -7));
  EXPECT_EQ((Seq{c.parameter().x(), c.parameter().y()}), (Seq{2, -0.5}));
  EXPECT_EQ(qorv::distance(s(ERPoint2D(5, -7)), s(5.0, -7.0)), 0);
  EXPECT_GT(qorv::distance(s(ERPoint2D(5, -7)), c.point()), 1);
  const auto corners = s.boundary_points();
  ASSERT_EQ(corners.length(), 4);
  const double cu[] = {-1, 2, 2, -1}, cv[] = {-0.5, -0.5, 1, 1};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(qorv::distance(corners[k], s(cu[k], cv[k])), 0) << k;
  for (int i = 0; i < 200; ++i) {
    const ERInfoPoint3DSurf r = s.randomPoint();
    EXPECT_TRUE(s.getBoundU().inBound(r.parameter().x()));
    EXPECT_TRUE(s.getBoundV().inBound(r.parameter().y()));
  }
  // The base surface is this one, held by one more reference.
  {
    Patch* heap = new Patch(s);
    t_SmartPtr<ERAnyBoundedSurface> held(heap);
    const t_SmartPtr<ERAnyBoundedSurface> base = heap->base_surface();
    EXPECT_EQ((Seq{base.get(), heap->references()}), (Seq{heap, 2u}));
  }
  // Splits at the middle; continuity, spans and projections default.
  Patch p(Patch::Plane, 2, 4, 0, 1);
  t_SmartPtr<ERAnyBoundedSurface> low, high;
  EXPECT_EQ((Seq{p.SplitInU(low, high), p.lastSplit, low->ufin(), p.SplitInV(low, high)}),
            (Seq{1, 3, 3, 1}));
  EXPECT_EQ((Seq{p.lastSplit, p.IsContinuous(2)}), (Seq{0.5, 0}));
  QuickAlgebra::ERVec<double> params({1.0, 2.0});
  EXPECT_EQ((Seq{p.GetDiscontinuitiesU(1, params), params.length()}), (Seq{1, 0}));
  params = QuickAlgebra::ERVec<double>({1.0});
  EXPECT_EQ((Seq{p.GetDiscontinuitiesV(1, params), params.length()}), (Seq{1, 0}));
  int nu = 0, nv = 0;
  p.GetNumberOfSpans(nu, nv);
  EXPECT_EQ((Seq{nu, nv}), (Seq{1, 1}));
  QuickAlgebra::ERSimpleVec2<ERMinimax3D> boxes(3, 3);
  p.GetSpanBoxes(boxes);
  ASSERT_EQ((Seq{boxes.dim1(), boxes.dim2()}), (Seq{1, 1}));
  EXPECT_TRUE(boxes(0, 0) == p.getBox());
  ERPoint3D q(1, 2, 3);
  ERPoint2D uv(7, 7);
  EXPECT_EQ(p.ReajustProjection(q, uv, 1), 0);
  EXPECT_EQ(qorv::distance(p.project_inbound(q), ERPoint3D()), 0);
  ERPoint3D foot(9, 9, 9);
  ERVector3D normal;
  EXPECT_EQ(p.ProjectionNormale(q, foot, normal), 0);  // no parameter projection: nothing
  EXPECT_EQ(foot.x(), 9);
}

TEST(BoundedSurface, SampleGridIsCachedMovedTransposedAndDropped) {
  Patch p(Patch::Plane, 0, 1, 0, 1);
  p.translate(ERPoint3D(0, 0, 5));
  const ERMatrix<ERPoint3D>& g = p.getMatricePoint(3, 2);
  ASSERT_EQ((Seq{g.cols(), g.rows()}), (Seq{3, 2}));
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 3; ++i)
      EXPECT_LE(qorv::distance(g.data()[j * 3 + i], ERPoint3D(i / 2.0, j, 5)), 1e-15) << i << j;
  const int calls = p.isoCurves;
  EXPECT_EQ(&p.getMatricePoint(3, 2), &g);
  EXPECT_EQ(p.isoCurves, calls);  // the cached grid, nothing evaluated
  EXPECT_EQ(p.getMatricePoint(2, 2).cols(), 2);
  EXPECT_GT(p.isoCurves, calls);
  // One value per direction is the lower limit; no values give an empty grid.
  EXPECT_LE(qorv::distance(p.getMatricePoint(1, 1).data()[0], ERPoint3D(0, 0, 5)), 1e-15);
  EXPECT_EQ(p.getMatricePoint(0, 4).length(), 0);
  EXPECT_EQ(p.getMatricePoint(1 << 16, 1 << 16).length(), 0);  // refused, not attempted
  // The cache moves with the surface and matches a fresh grid of the moved surface.
  const ERPmIsometrie3D T =
      ERChgRepere3D(ERVector3D(0, 1, 1), ERVector3D(-1, 0, 2), ERPoint3D(7, 8, 9));
  p.getMatricePoint(4, 3);
  p.transformFrom(T);
  p.scale(2);
  const ERMatrix<ERPoint3D> moved = p.getMatricePoint(4, 3);
  p.CleanUpTemporaries(-1);
  const ERMatrix<ERPoint3D>& fresh = p.getMatricePoint(4, 3);
  for (int k = 0; k < 12; ++k) EXPECT_LE(qorv::distance(moved.data()[k], fresh.data()[k]), 1e-13);
  // reverse transposes it.
  const ERMatrix<ERPoint3D> before = fresh;
  p.reverse();
  const ERMatrix<ERPoint3D>& t = p.getMatricePoint(3, 4);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(qorv::distance(t.data()[i * 3 + j], before.data()[j * 4 + i]), 0);
  // A surface without iso-curves is sampled directly.
  Patch s(Patch::Sphere, 0, M_PI, -1, 1, 2);
  const ERMatrix<ERPoint3D>& sg = s.getMatricePoint(3, 3);
  EXPECT_LE(qorv::distance(sg.data()[5], s(M_PI, 0.0)), 1e-15);
}

TEST(BoundedSurface, OrthogonalProjectionAndThePoleNormal) {
  Patch s(Patch::Sphere, -M_PI, M_PI, -M_PI / 2, M_PI / 2, 2);
  s.translate(ERPoint3D(1, 1, 1));
  ERPoint3D foot;
  ERVector3D normal;
  ASSERT_EQ(s.ProjectionNormale(ERPoint3D(1, 1 + 10, 1), foot, normal), 1);
  EXPECT_LE(qorv::distance(foot, ERPoint3D(1, 3, 1)), 1e-15);
  EXPECT_LE((normal - ERVector3D(0, 1, 0)).norme(), 1e-15);
  // At the pole Su vanishes: normale() takes Svv's direction, towards the centre.
  ASSERT_EQ(s.ProjectionNormale(ERPoint3D(1, 1, 9), foot, normal), 1);
  EXPECT_LE(qorv::distance(foot, ERPoint3D(1, 1, 3)), 1e-15);
  EXPECT_LE((normal - ERVector3D(0, 0, -1)).norme(), 1e-15);
  // Outside the limits the parameter projection fails and nothing is written.
  Patch half(Patch::Sphere, 0, M_PI, -1, 1, 2);
  foot = ERPoint3D(9, 9, 9);
  EXPECT_EQ(half.ProjectionNormale(ERPoint3D(0, -5, 0), foot, normal), 0);
  EXPECT_EQ(foot.x(), 9);
}

// The stable normal: the cross product where it is sound, finite differences stepping towards
// the farther limits elsewhere, agreeing with the true normal's sense in every corner.
TEST(BoundedSurface, StableNormalAtPolesApexesAndEveryCorner) {
  Patch s(Patch::Sphere, -M_PI, M_PI, -M_PI / 2, M_PI / 2, 2);
  int degenerate = 7;
  const ERInfoPoint3DSurf regular = s.PtCur(0.3, 0.2);
  EXPECT_LE(
      (get_stable_normal<ERAnyBoundedSurface>(s, regular, degenerate) - regular.normale()).norme(),
      1e-15);
  EXPECT_EQ(degenerate, 0);
  for (double v : {M_PI / 2, -M_PI / 2}) {  // the poles, at vfin and vdeb
    const ERVector3D n = get_stable_normal<ERAnyBoundedSurface>(s, s.PtCur(0.3, v), degenerate);
    EXPECT_EQ(degenerate, 1);
    const double near = v > 0 ? v - 1e-3 : v + 1e-3;
    EXPECT_LT(angleBetween(n, s.PtCur(0.3, near).normale()), 2e-3) << v;
  }
  Patch cone(Patch::Cone, 0, 2 * M_PI, 0, 3);
  for (double u : {0.0, 1.0, 2 * M_PI}) {
    const ERVector3D n = get_stable_normal<ERAnyBoundedSurface>(cone, cone.PtCur(u, 0), degenerate);
    EXPECT_EQ(degenerate, 1);
    EXPECT_LT(angleBetween(n, cone.PtCur(u, 1e-3).normale()), 1e-3) << u;
  }
  // A record whose Su is hidden, anywhere in the domain: finite differences in the true sense.
  QORV_SEEDED(Draw draw, 1908);
  Patch plane(Patch::Plane, -2, 3, 1, 4);
  for (int i = 0; i < 400; ++i) {
    const Frame F = draw.placed(10);
    Patch moved(i % 2 ? plane : Patch(Patch::Sphere, -2, 2, -1.2, 1.2, 3));
    moved.transformFrom(F.T);
    if (F.mirrored) moved.transformFrom(ERPmSimilitude3D(_ERScaling3D(-1)));
    const double u = moved.getBoundU()(i % 5 == 0 ? 1.0 : draw.uniform(0, 1));
    const double v = moved.getBoundV()(i % 7 == 0 ? 0.0 : draw.uniform(0, 1));
    const ERInfoPoint3DSurf info = moved.PtCur(u, v);
    ERMatrix<ERPoint3D> d = info.derivatives();
    d(0, 1) = ERPoint3D();  // Su hidden
    const ERVector3D n = get_stable_normal<ERAnyBoundedSurface>(
        moved, ERInfoPoint3DSurf(info.parameter(), d), degenerate);
    EXPECT_EQ(degenerate, 1);
    EXPECT_LT(angleBetween(n, info.normale()), 1e-4) << i;
  }
}

TEST(BoundedSurface, RayResultsOwnTheirRecords) {
  ERRaySurfaceResult res;
  Patch s(Patch::Sphere, -M_PI, M_PI, -1.5, 1.5, 2);
  for (int i = 0; i < 5; ++i) {
    ERInfoPoint3DSurf info = s.PtCur(0.1 * i, 0.2);
    res.AddPointSolution(info);
  }
  ASSERT_EQ(res.entries(), 5);
  EXPECT_EQ((Seq{res.at(5), res.at(-1)}), (Seq{nullptr, nullptr}));
  {
    ERRaySurfaceResult copy(res);
    EXPECT_NE(copy.at(0), res.at(0));
    EXPECT_EQ(copy.at(3)->parameter().x(), res.at(3)->parameter().x());
    ERRaySurfaceResult assigned;
    assigned = copy;
    assigned = assigned;
    EXPECT_EQ(assigned.entries(), 5);
  }  // the copies go, the records of res stay
  std::vector<double> seen;
  res.apply(
      [](ERInfoPoint3DSurf* r, void* ctx) {
        static_cast<std::vector<double>*>(ctx)->push_back(r->parameter().x());
      },
      &seen);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_NEAR(seen[4], 0.4, 1e-15);
  // Drop the odd ones: the others keep their order.
  res.filtre([](ERInfoPoint3DSurf* r,
                void*) { return static_cast<int>(std::lround(r->parameter().x() * 10)) % 2; },
             nullptr);
  ASSERT_EQ(res.entries(), 3);
  EXPECT_NEAR(res.at(1)->parameter().x(), 0.2, 1e-15);
  EXPECT_NEAR(res.at(2)->parameter().x(), 0.4, 1e-15);
  res.filtre([](ERInfoPoint3DSurf*, void*) { return 1; }, nullptr);
  EXPECT_EQ(res.entries(), 0);
}

// Lines in random directions through random points against a sphere patch in a random frame:
// every record on the line and on the sphere, as many as the line's crossings.
TEST(BoundedSurface, ProjectionAlongALine) {
  QORV_SEEDED(Draw draw, 1909);
  for (int i = 0; i < 500; ++i) {
    const double scale = draw.magnitude(-3, 6);
    const Frame F = draw.placed(scale);
    Patch s(Patch::Sphere, -M_PI, M_PI, -M_PI / 2, M_PI / 2, 2 * scale);
    s.transformFrom(F.T);
    const ERPoint3D centre = F.origin();
    const ERPoint3D p = centre + draw.direction() * (scale * draw.uniform(0, 5));
    const ERVector3D d = draw.direction() * draw.magnitude(-5, 5);
    ERRaySurfaceResult res;
    ERInfoPoint3DSurf keep = s.PtCur(0, 0);
    res.AddPointSolution(keep);  // records already there stay as they are
    s.ProjectPoint(p, d, res, 0);
    const ERVector3D u = d.getnormalized();
    const double off = ((centre - p) ^ u).norme();  // the line's distance from the centre
    const int crossings = off < 2 * scale * (1 - 1e-9) ? 2 : off > 2 * scale * (1 + 1e-9) ? 0 : -1;
    if (crossings >= 0) {
      ASSERT_EQ(res.entries(), 1 + crossings) << i;
    }
    EXPECT_EQ(qorv::distance(res.at(0)->point(), keep.point()), 0);
    for (int k = 1; k < res.entries(); ++k) {
      const ERPoint3D q = res.at(k)->point();
      EXPECT_LE(((q - p) ^ u).norme(), 1e-11 * scale) << i;
      EXPECT_NEAR(qorv::distance(q, centre), 2 * scale, 1e-11 * scale) << i;
      EXPECT_LE(qorv::distance(q, s(res.at(k)->parameter())), 1e-11 * scale) << i;
    }
  }
  Patch s(Patch::Sphere, -M_PI, M_PI, -M_PI / 2, M_PI / 2, 2);
  ERRaySurfaceResult res;
  s.ProjectPoint(ERPoint3D(), ERVector3D(), res, 0);
  s.ProjectPoint(ERPoint3D(NAN, 0, 0), ERVector3D(1, 0, 0), res, 0);
  EXPECT_EQ(res.entries(), 0);
}

// The objective: the squared distance from Q to the normal line, zero at Q's foot, the largest
// float outside the limits without evaluating.
TEST(BoundedSurface, NormalProjectionObjective) {
  Patch s(Patch::Sphere, -2, 2, -1, 1, 3);
  const ERPoint3D q(4, 5, 2);
  FunctorNormalProjection<ERAnyBoundedSurface> f(&s, q);
  EXPECT_EQ((Seq{f.nbVariables(), f.evaluation().parameter().x()}), (Seq{2, DBL_MAX}));
  const int before = s.evaluations;
  EXPECT_EQ(f(QuickAlgebra::ERVec<double>({2.5, 0.0})), 3.4028234663852886e38);
  EXPECT_EQ(f(QuickAlgebra::ERVec<double>({0.0, -1.01})), 3.4028234663852886e38);
  EXPECT_EQ((Seq{s.evaluations, f.evaluation().parameter().y()}), (Seq{before, DBL_MAX}));
  // At Q's radial foot the normal line passes through Q.
  const double u = std::atan2(5.0, 4.0), v = std::atan2(2.0, std::hypot(4.0, 5.0));
  EXPECT_NEAR(f(QuickAlgebra::ERVec<double>({u, v})), 0, 1e-13);
  EXPECT_EQ(f.evaluation().parameter().x(), u);
  const QuickAlgebra::ERVec<double> g = f.gradient(QuickAlgebra::ERVec<double>({u, v}));
  EXPECT_TRUE(Near(Seq{g[0], g[1]}, Seq{0, 0}, 1e-5));
  const QuickAlgebra::ERMatrix<double> H = f.hessian(QuickAlgebra::ERVec<double>({u, v}));
  EXPECT_GT(H(0, 0), 0);
  EXPECT_GT(H(1, 1), 0);
  // Elsewhere: the squared distance from Q to the line through S along the radial direction.
  for (double uu : {-1.5, 0.0, 1.9}) {
    const double vv = 0.3;
    const ERPoint3D p = s(uu, vv);
    const ERVector3D n = (p - ERPoint3D()).getnormalized();
    const double d = ((q - p) ^ n).norme();
    EXPECT_NEAR(f(QuickAlgebra::ERVec<double>({uu, vv})), d * d, 1e-12) << uu;
  }
}

}  // namespace
