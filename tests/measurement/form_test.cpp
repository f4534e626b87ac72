// Form and size associations: sets built with a known minimum zone (contacts in the alternating
// pattern that makes them optimal, plus interior points) in turned, mirrored, scaled and
// far-off frames; random sets checked by their certificate and by searches over the element
// computed here; least squares recovering exact elements; sizes against hand computations.
#include "qorv/measurement/form.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include <gtest/gtest.h>

#include "tests/in_order.h"
#include "tests/measurement/similarities.h"
#include "tests/test_seed.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kEps = 2.220446049250313e-16;

using Placement = qorv_test::Similarity;

struct Designed {
  gmForm::Kind kind;
  gmForm::Association association;
  const char* name;
  double width;  // of the zone, in the canonical frame
};

// Points whose minimum zone is known: first the contacts, upper then lower, then interior.
std::vector<std::array<double, 3>> designed(const Designed& d, int& nUpper, int& nLower,
                                            std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  const double h = d.width / 2;
  std::vector<std::array<double, 3>> p;
  auto polar = [](double r, double deg, double z) {
    return std::array<double, 3>{r * std::cos(deg * kPi / 180), r * std::sin(deg * kPi / 180), z};
  };
  const bool arc = std::string(d.name).find("60") != std::string::npos;
  // The contact angles of the circles and cylinders, alternating outer and inner.
  const double a[4] = {arc ? -30.0 : 0.0, arc ? 10.0 : 180.0, arc ? -10.0 : 90.0,
                       arc ? 30.0 : 270.0};
  switch (d.kind) {
    case gmForm::LINE2D:
      p = {{-1, h, 0}, {1, h, 0}, {0, -h, 0}}, nUpper = 2, nLower = 1;
      for (int i = 0; i < 60; ++i) p.push_back({u(rng), 0.9 * h * u(rng), 0});
      break;
    case gmForm::PLANE:
      p = {polar(1, 0, h), polar(1, 120, h), polar(1, 240, h), {0, 0, -h}}, nUpper = 3, nLower = 1;
      for (int i = 0; i < 60; ++i)
        p.push_back(polar(0.9 * std::fabs(u(rng)), 180 * u(rng), 0.9 * h * u(rng)));
      break;
    case gmForm::CIRCLE2D:
    case gmForm::CIRCLE3D:
      p = {polar(1 + h, a[0], 0), polar(1 + h, a[1], 0), polar(1 - h, a[2], 0),
           polar(1 - h, a[3], 0)};
      nUpper = 2, nLower = 2;
      for (int i = 0; i < 60; ++i)
        p.push_back(polar(1 + 0.9 * h * u(rng), (arc ? 30 : 180) * u(rng), 0));
      break;
    case gmForm::SPHERE:
      p = {{0, 0, 1 + h},  {0, 0, -1 - h}, {1 - h, 0, 0},
           {-1 + h, 0, 0}, {0, 1 - h, 0},  {0, -1 + h, 0}};
      nUpper = 2, nLower = 4;
      for (int i = 0; i < 60; ++i) {
        std::array<double, 3> v{u(rng), u(rng), u(rng)};
        const double r = (1 + 0.9 * h * u(rng)) / std::hypot(v[0], v[1], v[2]);
        p.push_back({v[0] * r, v[1] * r, v[2] * r});
      }
      break;
    case gmForm::CYLINDER:
      p = {polar(1 + h, a[0], 1),  polar(1 + h, a[0], -1), polar(1 + h, a[1], 1),
           polar(1 + h, a[1], -1), polar(1 - h, a[2], 1),  polar(1 - h, a[2], -1),
           polar(1 - h, a[3], 1),  polar(1 - h, a[3], -1)};
      nUpper = 4, nLower = 4;
      for (int i = 0; i < 80; ++i)
        p.push_back(polar(1 + 0.9 * h * u(rng), (arc ? 30 : 180) * u(rng), u(rng)));
      break;
    case gmForm::LINE3D:
      p = {polar(h, 0, 1), polar(h, 0, -1), polar(h, 180, 1), polar(h, 180, -1)}, nUpper = 4,
      nLower = 0;
      for (int i = 0; i < 60; ++i)
        p.push_back(polar(0.9 * h * std::fabs(u(rng)), 180 * u(rng), u(rng)));
      break;
    default:
      break;
  }
  return p;
}

TEST(FormMinimumZone, KnownZonesInEveryFrame) {
  QORV_SEEDED(std::mt19937_64 rng, 4101);
  const Designed table[] = {
      {gmForm::LINE2D, gmForm::MINIMUM_ZONE, "straightness", 0.1},
      {gmForm::PLANE, gmForm::MINIMUM_ZONE, "flatness", 0.05},
      {gmForm::CIRCLE2D, gmForm::MINIMUM_ZONE, "roundness", 0.05},
      {gmForm::CIRCLE2D, gmForm::MINIMUM_ZONE, "roundness 60 deg", 0.02},
      {gmForm::CIRCLE3D, gmForm::MINIMUM_ZONE, "roundness in space", 0.05},
      {gmForm::SPHERE, gmForm::MINIMUM_ZONE, "sphericity", 0.05},
      {gmForm::CYLINDER, gmForm::MINIMUM_ZONE, "cylindricity", 0.05},
      {gmForm::CYLINDER, gmForm::MINIMUM_ZONE, "cylindricity 60 deg", 0.02},
      {gmForm::LINE3D, gmForm::MINIMUM_ZONE, "straightness in space", 0.1},
  };
  for (const Designed& d : table) {
    const bool planar = d.kind == gmForm::LINE2D || d.kind == gmForm::CIRCLE2D;
    for (int frame = 0; frame <= 5; ++frame) {
      SCOPED_TRACE(std::string(d.name) + ", frame " + std::to_string(frame));
      int nu = 0, nl = 0;
      const auto canon = designed(d, nu, nl, rng);
      const Placement pl = qorv_test::frameOf(frame, rng, planar);
      std::vector<ERPoint3D> pts;
      for (const auto& c : canon) pts.push_back(pl(c[0], c[1], c[2]));
      const gmFormResult r = gmFit(pts, d.kind, d.association);
      ASSERT_TRUE(r.ok) << r.reason;
      const double scale = std::fabs(pl.s), w = d.width * scale;
      const double rounding =
          8 * kEps * std::max({std::fabs(pl.t.x()), std::fabs(pl.t.y()), std::fabs(pl.t.z())});
      EXPECT_NEAR(r.width, w, 1e-9 * w + rounding);
      EXPECT_GE(r.width, w * (1 - 1e-12) - rounding);
      EXPECT_TRUE(r.certified) << "stationarity " << r.stationarity;
      // Each boundary's contacts are designed contacts of one side (a line's or plane's normal
      // may point either way).
      const bool swap = (!r.upperContacts.empty() && r.upperContacts[0] >= nu) ||
                        (!r.lowerContacts.empty() && r.lowerContacts[0] < nu);
      for (const std::vector<int>* side : {&r.upperContacts, &r.lowerContacts}) {
        const bool upper = side == &r.upperContacts;
        for (int i : *side) EXPECT_TRUE((upper != swap) ? i < nu : (i >= nu && i < nu + nl)) << i;
      }
    }
  }
}

// The signed distance of p to the element as this test reads the element, independently of
// the library's own frames.
double distanceTo(gmForm::Kind k, const gmFormElement& e, const ERPoint3D& p) {
  const ERVector3D d(e.point, p);
  const ERVector3D a = e.axis;
  switch (k) {
    case gmForm::LINE2D:
      return a.x() * d.y() - a.y() * d.x();
    case gmForm::PLANE:
      return d * a;
    case gmForm::CIRCLE2D:
      return std::hypot(d.x(), d.y());
    case gmForm::CIRCLE3D:
      return (d - (d * a) * a).norme();
    case gmForm::SPHERE:
      return d.norme();
    case gmForm::LINE3D:
    case gmForm::CYLINDER:
      return (d ^ a).norme();
    case gmForm::CONE:
      return (d ^ a).norme() * std::cos(e.angle) - (d * a) * std::sin(e.angle);
  }
  return 0;
}

// What the association minimises, about an element: the zone's width (a line in space: its
// diameter), the circumscribed radius, the inscribed radius negated, the rms residual (offset
// at its best, computed in units of size so that squares neither overflow nor vanish).
double objective(gmForm::Kind k, gmForm::Association as, const gmFormElement& e,
                 const std::vector<ERPoint3D>& pts, double size) {
  double lo = HUGE_VAL, hi = -HUGE_VAL, mean = 0, ss = 0;
  for (const ERPoint3D& p : pts) {
    const double v = distanceTo(k, e, p);
    lo = std::min(lo, v), hi = std::max(hi, v), mean += v / size;
  }
  mean = k == gmForm::LINE3D ? 0.0 : mean / static_cast<double>(pts.size());
  for (const ERPoint3D& p : pts) ss += std::pow(distanceTo(k, e, p) / size - mean, 2);
  if (as == gmForm::LEAST_SQUARES) return size * std::sqrt(ss / static_cast<double>(pts.size()));
  if (k == gmForm::LINE3D) return 2 * hi;
  if (as == gmForm::CIRCUMSCRIBED) return hi;
  if (as == gmForm::INSCRIBED) return -lo;
  return hi - lo;
}

gmFormElement perturbed(const gmFormElement& e, double eps, double size, std::mt19937_64& rng,
                        bool planar) {
  std::normal_distribution<double> g;
  gmFormElement o = e;
  o.point = ERPoint3D(e.point.x() + eps * size * g(rng), e.point.y() + eps * size * g(rng),
                      planar ? e.point.z() : e.point.z() + eps * size * g(rng));
  o.axis = ERVector3D(e.axis.x() + eps * g(rng), e.axis.y() + eps * g(rng),
                      planar ? 0.0 : e.axis.z() + eps * g(rng));
  if (planar && o.axis.norme() == 0) o.axis = e.axis;
  o.axis.normalize();
  o.angle = e.angle + eps * g(rng);
  return o;
}

// Every association on noisy sets: no element nearby does better than the one found.
TEST(FormAssociations, RandomSetsAreCertifiedAndNoNearbyElementDoesBetter) {
  QORV_SEEDED(std::mt19937_64 rng, 4102);
  std::uniform_real_distribution<double> u(-1, 1);
  struct Case {
    gmForm::Kind kind;
    gmForm::Association as;
  };
  const Case cases[] = {
      {gmForm::LINE2D, gmForm::MINIMUM_ZONE},   {gmForm::PLANE, gmForm::MINIMUM_ZONE},
      {gmForm::CIRCLE2D, gmForm::MINIMUM_ZONE}, {gmForm::CIRCLE3D, gmForm::MINIMUM_ZONE},
      {gmForm::SPHERE, gmForm::MINIMUM_ZONE},   {gmForm::CYLINDER, gmForm::MINIMUM_ZONE},
      {gmForm::CONE, gmForm::MINIMUM_ZONE},     {gmForm::LINE3D, gmForm::MINIMUM_ZONE},
      {gmForm::CIRCLE2D, gmForm::INSCRIBED},    {gmForm::CIRCLE2D, gmForm::CIRCUMSCRIBED},
      {gmForm::CYLINDER, gmForm::INSCRIBED},    {gmForm::CYLINDER, gmForm::CIRCUMSCRIBED},
      {gmForm::SPHERE, gmForm::CIRCUMSCRIBED},  {gmForm::LINE2D, gmForm::LEAST_SQUARES},
      {gmForm::PLANE, gmForm::LEAST_SQUARES},   {gmForm::CIRCLE2D, gmForm::LEAST_SQUARES},
      {gmForm::SPHERE, gmForm::LEAST_SQUARES},  {gmForm::CYLINDER, gmForm::LEAST_SQUARES},
      {gmForm::CONE, gmForm::LEAST_SQUARES},    {gmForm::LINE3D, gmForm::LEAST_SQUARES}};
  for (const Case& c : cases) {
    const bool planar = c.kind == gmForm::LINE2D || c.kind == gmForm::CIRCLE2D;
    for (int frame = 0; frame <= 5; ++frame) {
      SCOPED_TRACE(std::string(gmForm::kindName(c.kind)) + " " + gmForm::associationName(c.as) +
                   ", frame " + std::to_string(frame));
      const Placement pl = qorv_test::frameOf(frame, rng, planar);
      std::vector<ERPoint3D> pts;
      const double noise = 0.01;
      for (int i = 0; i < 150; ++i) {
        const double a = kPi * u(rng), z = u(rng), e = noise * u(rng);
        switch (c.kind) {
          case gmForm::LINE2D:
            pts.push_back(pl(a, e, 0));
            break;
          case gmForm::PLANE:
            pts.push_back(pl(a, z, e));
            break;
          case gmForm::CIRCLE2D:
            pts.push_back(pl((1 + e) * std::cos(a), (1 + e) * std::sin(a), 0));
            break;
          case gmForm::CIRCLE3D:
            pts.push_back(pl((1 + e) * std::cos(a), (1 + e) * std::sin(a), noise * u(rng)));
            break;
          case gmForm::SPHERE: {
            const double b = std::asin(u(rng));
            pts.push_back(pl((1 + e) * std::cos(a) * std::cos(b),
                             (1 + e) * std::sin(a) * std::cos(b), (1 + e) * std::sin(b)));
            break;
          }
          case gmForm::CYLINDER:
            pts.push_back(pl((1 + e) * std::cos(a), (1 + e) * std::sin(a), z));
            break;
          case gmForm::CONE: {
            const double r = 1 + 0.4 * z + e;
            pts.push_back(pl(r * std::cos(a), r * std::sin(a), z));
            break;
          }
          case gmForm::LINE3D:
            pts.push_back(pl(noise * u(rng), noise * u(rng), z));
            break;
        }
      }
      const gmFormResult r = gmFit(pts, c.kind, c.as);
      ASSERT_TRUE(r.ok) << r.reason;
      if (c.as != gmForm::LEAST_SQUARES) {
        EXPECT_TRUE(r.certified) << "stationarity " << r.stationarity << ", " << r.iterations
                                 << " iterations";
      }
      const double size = std::fabs(pl.s);
      const double rounding =
          64 * kEps *
          (size + std::max({std::fabs(pl.t.x()), std::fabs(pl.t.y()), std::fabs(pl.t.z())}));
      const double value = c.as == gmForm::MINIMUM_ZONE    ? r.width
                           : c.as == gmForm::LEAST_SQUARES ? r.rms
                           : c.as == gmForm::INSCRIBED     ? -r.size / 2
                                                           : r.size / 2;
      EXPECT_NEAR(objective(c.kind, c.as, r.element, pts, size), value, 1e-12 * size + rounding);
      if (c.as == gmForm::MINIMUM_ZONE) {
        const gmFormResult ls = gmFit(pts, c.kind, gmForm::LEAST_SQUARES);
        ASSERT_TRUE(ls.ok);
        EXPECT_LE(r.width, ls.width + rounding);
      }
      double best = HUGE_VAL;
      for (int t = 0; t < 1000; ++t) {
        const double eps = std::pow(10.0, -1 - 7 * std::fabs(u(rng)));
        gmFormElement e = perturbed(r.element, eps, size, rng, planar);
        if (c.kind == gmForm::CIRCLE3D) {  // in the least-squares plane, which is not free
          e.axis = r.element.axis;
          e.point -= (ERVector3D(r.element.point, e.point) * e.axis) * e.axis;
        }
        const double w = objective(c.kind, c.as, e, pts, size);
        best = std::min(best, w);
      }
      EXPECT_GE(best, value - 1e-9 * std::fabs(value) - rounding);
    }
  }
}

// The plane's minimum zone against every direction: a dense net of normals, each refined.
TEST(FormMinimumZone, FlatnessAgainstASearchOverDirections) {
  QORV_SEEDED(std::mt19937_64 rng, 4103);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int trial = 0; trial < 4; ++trial) {
    std::vector<ERPoint3D> pts;
    for (int i = 0; i < 40; ++i)
      pts.push_back(ERPoint3D(u(rng), 0.5 * u(rng), 0.05 * u(rng) + 0.02 * u(rng) * u(rng)));
    const gmFormResult r = gmFit(pts, gmForm::PLANE, gmForm::MINIMUM_ZONE);
    ASSERT_TRUE(r.ok);
    auto width = [&](ERVector3D n) {
      n.normalize();
      double lo = HUGE_VAL, hi = -HUGE_VAL;
      for (const ERPoint3D& p : pts)
        lo = std::min(lo, ERVector3D(p) * n), hi = std::max(hi, ERVector3D(p) * n);
      return hi - lo;
    };
    double best = HUGE_VAL;
    const int N = 20000;
    for (int i = 0; i < N; ++i) {  // a Fibonacci net on the hemisphere, then a shrinking search
      const double z = 1 - (i + 0.5) / N, rho = std::sqrt(1 - z * z),
                   phi = i * kPi * (3 - std::sqrt(5.0));
      ERVector3D n(rho * std::cos(phi), rho * std::sin(phi), z);
      double w = width(n);
      if (w > 2 * r.width) continue;
      for (double step = 0.02; step > 1e-12; step *= 0.7)
        for (int k = 0; k < 8; ++k) {
          const ERVector3D m(n.x() + step * u(rng), n.y() + step * u(rng), n.z() + step * u(rng));
          const double wm = width(m);
          if (wm < w) w = wm, n = m.getnormalized();
        }
      best = std::min(best, w);
    }
    EXPECT_GE(best, r.width * (1 - 1e-12));
    EXPECT_NEAR(best, r.width, 1e-4 * r.width);  // the search refines less than the solver
  }
}

TEST(FormLeastSquares, ExactElementsRecoveredOnArcsAndFarOff) {
  QORV_SEEDED(std::mt19937_64 rng, 4104);
  std::uniform_real_distribution<double> u(-1, 1);
  for (gmForm::Kind k :
       {gmForm::CIRCLE2D, gmForm::CIRCLE3D, gmForm::SPHERE, gmForm::CYLINDER, gmForm::CONE}) {
    const bool planar = k == gmForm::CIRCLE2D;
    for (int frame : {0, 1, 2, 3}) {
      for (double span : {kPi, kPi / 6}) {  // whole turns and 60 degree arcs
        SCOPED_TRACE(std::string(gmForm::kindName(k)) + ", frame " + std::to_string(frame) +
                     ", span " + std::to_string(span));
        const Placement pl = qorv_test::frameOf(frame, rng, planar);
        std::vector<ERPoint3D> pts;
        for (int i = 0; i < 100; ++i) {
          const double a = span * u(rng), z = u(rng);
          const double r = k == gmForm::CONE ? 2 + 0.5 * z : 2;
          const double b = k == gmForm::SPHERE ? span * u(rng) / 2 : 0;
          pts.push_back(pl(r * std::cos(a) * std::cos(b), r * std::sin(a) * std::cos(b),
                           k == gmForm::SPHERE                            ? r * std::sin(b)
                           : (k == gmForm::CYLINDER || k == gmForm::CONE) ? z
                                                                          : 0.0));
        }
        const gmFormResult r = gmFit(pts, k, gmForm::LEAST_SQUARES);
        ASSERT_TRUE(r.ok) << r.reason;
        const double size = std::fabs(pl.s),
                     far =
                         std::max({std::fabs(pl.t.x()), std::fabs(pl.t.y()), std::fabs(pl.t.z())});
        const double tol = 1e-12 * size + 8 * kEps * far / (span < 1 ? 1e-2 : 1);
        const ERPoint3D centre = pl(0, 0, 0);
        const ERVector3D axis(pl(0, 0, 1), pl(0, 0, 0));
        if (k == gmForm::CONE) {
          EXPECT_NEAR(r.element.angle, std::atan(0.5), 1e-12 + tol);
          EXPECT_NEAR(std::fabs(r.element.axis * axis.getnormalized()), 1.0, 1e-12 + tol);
        } else {
          EXPECT_NEAR(r.size, 4 * size, 2 * tol);
          const double off = k == gmForm::CYLINDER
                                 ? (ERVector3D(centre, r.element.point) ^ r.element.axis).norme()
                                 : ERVector3D(centre, r.element.point).norme();
          EXPECT_LE(off, tol);
        }
        EXPECT_LE(r.width, 1e-10 * size + tol);
      }
    }
  }
}

TEST(FormSize, InscribedCircumscribedAndTwoPointAgainstHandComputations) {
  std::vector<ERPoint3D> square, prism, cube, faces;
  for (int i = 0; i < 200; ++i) {  // the boundary of the square [-1, 1]^2, edge midpoints included
    const double t = -1 + i / 100.0;
    for (const ERPoint3D& p :
         {ERPoint3D(t, -1, 0), ERPoint3D(1, t, 0), ERPoint3D(-t, 1, 0), ERPoint3D(-1, -t, 0)}) {
      square.push_back(p);
      for (double z : {-1.0, 0.0, 1.0}) prism.emplace_back(p.x(), p.y(), z);
    }
  }
  for (int i = 0; i < 8; ++i) cube.emplace_back(i & 1 ? 1 : -1, i & 2 ? 1 : -1, i & 4 ? 1 : -1);
  faces = {ERPoint3D(1, 0, 0),  ERPoint3D(-1, 0, 0), ERPoint3D(0, 1, 0),
           ERPoint3D(0, -1, 0), ERPoint3D(0, 0, 1),  ERPoint3D(0, 0, -1)};
  const std::vector<ERPoint3D> triangle = {ERPoint3D(0, 0, 0), ERPoint3D(4, 0, 0),
                                           ERPoint3D(1, 3, 0), ERPoint3D(2, 1, 0)};
  struct Case {
    const char* name;
    const std::vector<ERPoint3D>& pts;
    gmForm::Kind kind;
    gmForm::Association as;
    double diameter;
    ERPoint3D centre;
  };
  const Case cases[] = {
      {"square, circumscribed", square, gmForm::CIRCLE2D, gmForm::CIRCUMSCRIBED, 2 * std::sqrt(2.0),
       ERPoint3D()},
      {"square, inscribed", square, gmForm::CIRCLE2D, gmForm::INSCRIBED, 2, ERPoint3D()},
      {"prism, circumscribed", prism, gmForm::CYLINDER, gmForm::CIRCUMSCRIBED, 2 * std::sqrt(2.0),
       ERPoint3D()},
      {"prism, inscribed", prism, gmForm::CYLINDER, gmForm::INSCRIBED, 2, ERPoint3D()},
      {"cube, circumscribed", cube, gmForm::SPHERE, gmForm::CIRCUMSCRIBED, 2 * std::sqrt(3.0),
       ERPoint3D()},
      {"face centres, inscribed", faces, gmForm::SPHERE, gmForm::INSCRIBED, 2, ERPoint3D()},
      // The circumcircle of (0,0), (4,0), (1,3): centre (2, 1), radius sqrt 5.
      {"acute triangle, circumscribed", triangle, gmForm::CIRCLE3D, gmForm::CIRCUMSCRIBED,
       2 * std::sqrt(5.0), ERPoint3D(2, 1, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const gmFormResult r = gmFit(c.pts, c.kind, c.as);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_NEAR(r.size, c.diameter, 1e-12);
    const ERVector3D off(c.centre, r.element.point);
    EXPECT_NEAR(c.kind == gmForm::CYLINDER ? (off ^ r.element.axis).norme() : off.norme(), 0, 1e-9);
    EXPECT_TRUE(r.certified);
  }
  // Two-point sizes of an ellipse of semi-axes 2 and 1, vertices sampled: 2 and 4.
  std::vector<ERPoint3D> ellipse;
  for (int i = 0; i < 360; ++i)
    ellipse.emplace_back(2 * std::cos(i * kPi / 180), std::sin(i * kPi / 180), 0);
  const gmFormResult e = gmFit(ellipse, gmForm::CIRCLE2D, gmForm::LEAST_SQUARES);
  double lo = 0, hi = 0;
  ASSERT_TRUE(gmTwoPointSize(ellipse, e, lo, hi));
  EXPECT_TRUE(Near(Seq{lo, hi}, Seq{2, 4}, 1e-12));
}

// A cylinder's two-point sizes section by section (rings one apart, beyond the axial band that
// pairs points; 36 points each, every one with its opposite): a taper 10 to 10.2, an oval of
// axes 10.1 and 9.9; in every frame.
TEST(FormSizes, CylinderTwoPointSizesPerSection) {
  QORV_SEEDED(std::mt19937_64 rng, 4103);
  for (const double oval : {0.0, 0.05})
    for (int frame = 0; frame < 4; ++frame) {
      const Placement P = qorv_test::frameOf(frame, rng);
      std::vector<ERPoint3D> pts;
      for (int i = 0; i < 396; ++i) {
        const double z = i / 36, f = (i % 36) * kPi / 18, r = 5 + (oval > 0 ? 0 : 0.01 * z);
        pts.push_back(P((r + oval) * std::cos(f), (r - oval) * std::sin(f), z));
      }
      double lo = 0, hi = 0;
      ASSERT_TRUE(gmTwoPointSize(pts, gmFit(pts, gmForm::CYLINDER, gmForm::LEAST_SQUARES), lo, hi));
      EXPECT_NEAR(lo / std::fabs(P.s), oval > 0 ? 9.9 : 10, 1e-9) << frame;
      EXPECT_NEAR(hi / std::fabs(P.s), oval > 0 ? 10.1 : 10.2, 1e-9) << frame;
    }
}

TEST(FormRefusals, TooFewDegenerateOrUnboundedSetsSayWhy) {
  const double nan = std::nan("");
  std::vector<ERPoint3D> line, flat, arc;
  for (int i = 0; i < 10; ++i)
    line.emplace_back(i, 2 * i, 3 * i), flat.emplace_back(i % 3, i / 3, 0);
  for (int i = 0; i <= 12; ++i) arc.emplace_back(std::cos(i * kPi / 36), std::sin(i * kPi / 36), 0);
  struct Case {
    std::vector<ERPoint3D> pts;
    gmForm::Kind kind;
    gmForm::Association as;
    const char* reason;
  };
  const ERPoint3D o(0, 0, 0), x(1, 0, 0), y(0, 1, 0), one(1, 1, 1);
  const Case cases[] = {
      {{o, x}, gmForm::CIRCLE2D, gmForm::LEAST_SQUARES, "too few points"},
      {{o, x, y}, gmForm::SPHERE, gmForm::MINIMUM_ZONE, "too few points"},
      {{o, ERPoint3D(1, nan, 0), y}, gmForm::PLANE, gmForm::LEAST_SQUARES, "a point is not finite"},
      {{one, one, one}, gmForm::PLANE, gmForm::LEAST_SQUARES, "the points coincide"},
      {line, gmForm::CIRCLE2D, gmForm::LEAST_SQUARES, "collinear points fix no circle"},
      {line, gmForm::CIRCLE3D, gmForm::MINIMUM_ZONE, "collinear points fix no circle"},
      {line, gmForm::PLANE, gmForm::MINIMUM_ZONE, "collinear points fix no plane"},
      {line, gmForm::CYLINDER, gmForm::LEAST_SQUARES, "collinear points fix no cylinder"},
      {flat, gmForm::SPHERE, gmForm::LEAST_SQUARES, "coplanar points fix no sphere"},
      {flat, gmForm::PLANE, gmForm::INSCRIBED, "a plane has no inscribed element"},
      {arc, gmForm::CIRCLE2D, gmForm::INSCRIBED, "the points bound no inscribed element"},
  };
  for (const Case& c : cases) {
    const gmFormResult r = gmFit(c.pts, c.kind, c.as);
    EXPECT_EQ((Seq{bool(r.ok), r.reason}), (Seq{false, c.reason}));
  }
  // A 60 degree arc has its least-squares and circumscribed circles all the same.
  EXPECT_TRUE(gmFit(arc, gmForm::CIRCLE2D, gmForm::LEAST_SQUARES).ok);
  EXPECT_TRUE(gmFit(arc, gmForm::CIRCLE2D, gmForm::CIRCUMSCRIBED).ok);
}

}  // namespace
