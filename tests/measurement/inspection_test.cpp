// Inspection: the foot on every feature kind against dense sampling of the patch in turned and
// mirrored frames, known deviations recovered, statistics against a two-pass computation, fits
// recovering known sizes and forms, points that cannot be judged.
#include "qorv/measurement/inspection.h"

#include <cmath>
#include <numbers>
#include <random>

#include <gtest/gtest.h>

#include "qorv/surfaces/bounded_surfaces.h"
#include "tests/in_order.h"
#include "tests/measurement/inspection_draws.h"
#include "tests/test_seed.h"

namespace {

constexpr double kPi = std::numbers::pi;

// The nearest point of a dense grid of the patch, refined by shrinking pattern search.
double sampledDistance(const gmInspectionFeature& f, const ERPoint3D& p) {
  constexpr int N = 120;
  double bu = 0, bv = 0, best = HUGE_VAL;
  for (int i = 0; i <= N; ++i)
    for (int j = 0; j <= N; ++j) {
      const double u = f.u0() + (f.u1() - f.u0()) * i / N, v = f.v0() + (f.v1() - f.v0()) * j / N;
      const double d = qorv::distance(f.point(u, v), p);
      if (d < best) best = d, bu = u, bv = v;
    }
  double hu = (f.u1() - f.u0()) / N, hv = (f.v1() - f.v0()) / N;
  for (int it = 0; it < 200 && (hu > 0 || hv > 0); ++it) {
    bool moved = false;
    for (int du = -1; du <= 1; ++du)
      for (int dv = -1; dv <= 1; ++dv) {
        const double u = std::clamp(bu + du * hu, f.u0(), f.u1()),
                     v = std::clamp(bv + dv * hv, f.v0(), f.v1());
        const double d = qorv::distance(f.point(u, v), p);
        if (d < best) best = d, bu = u, bv = v, moved = true;
      }
    if (!moved) hu /= 2, hv /= 2;
  }
  return best;
}

}  // namespace

TEST(InspectionFeature, FootIsTheNearestPointOfThePatch) {
  QORV_SEEDED(std::mt19937_64 rng, 2801);
  std::normal_distribution<double> g;
  for (int kind = 0; kind < 5; ++kind) {
    for (int round = 0; round < 60; ++round) {
      const double scale = std::pow(10.0, static_cast<double>(rng() % 7) - 3.0);
      const gmInspectionFeature f =
          qorv_test::randomFeature(static_cast<gmInspectionFeature::Kind>(kind), rng, scale);
      ASSERT_EQ(f.problem(), "") << kind;
      const ERPoint3D centre = f.frame().origine();
      for (int k = 0; k < 8; ++k) {
        const double spread = scale * (k < 4 ? 0.5 : 4.0);
        const ERPoint3D p = centre + ERVector3D(spread * g(rng), spread * g(rng), spread * g(rng));
        ERPoint3D foot;
        ERVector3D n;
        if (!f.foot(p, foot, n)) continue;  // on an axis: no single foot
        const double reach = qorv::distance(p, foot);
        const double sampled = sampledDistance(f, p);
        const double tol = 1e-9 * (scale + qorv::distance(centre, p));
        EXPECT_LE(reach, sampled + tol) << "kind " << kind << " round " << round;
        EXPECT_NEAR(n.norme(), 1.0, 1e-12);
        // The foot lies on the patch: its box holds it.
        EXPECT_TRUE(f.box().contains(foot) || qorv::distance(foot, foot) == 0);
      }
    }
  }
}

// Among many features (boxes overlapping, exact copies tying), the box-ordered search finds
// the feature every foot search finds: the nearest foot, the lowest index among equal ones.
TEST(InspectionFeature, NearestAmongManyIsTheExhaustiveOne) {
  QORV_SEEDED(std::mt19937_64 rng, 2807);
  std::normal_distribution<double> g;
  for (int round = 0; round < 12; ++round) {
    const double scale = std::pow(10.0, static_cast<double>(rng() % 7) - 3.0);
    std::vector<gmInspectionFeature> fs;
    const int count = (round % 3 == 0) ? 6 : (round % 3 == 1 ? 40 : 90);  // each way of searching
    for (int i = 0; i < count; ++i) {
      if (i % 13 == 12) {
        fs.push_back(fs[rng() % fs.size()]);  // a copy: ties everywhere on it
        continue;
      }
      fs.push_back(
          qorv_test::randomFeature(static_cast<gmInspectionFeature::Kind>(rng() % 5), rng, scale));
    }
    for (int k = 0; k < 200; ++k) {
      const ERPoint3D p(300 * scale * g(rng), 300 * scale * g(rng), 300 * scale * g(rng));
      int want = -1;
      double best = HUGE_VAL, other = HUGE_VAL;  // the nearest foot's and the next one's
      for (std::size_t i = 0; i < fs.size(); ++i) {
        ERPoint3D f;
        ERVector3D n;
        if (!fs[i].foot(p, f, n)) continue;
        const double d2 = qorv::distance2(f, p);
        if (d2 < best)
          other = best, best = d2, want = static_cast<int>(i);
        else
          other = std::min(other, d2);
      }
      ERPoint3D foot;
      ERVector3D n;
      double second = 0;
      ASSERT_EQ(gmNearestFeature(fs, p, foot, n, &second), want)
          << "round " << round << " point " << k;
      // The bound on the others holds below every other foot.
      EXPECT_LE(second, std::sqrt(other) * (1 + 1e-12)) << "round " << round << " point " << k;
      if (want >= 0) {
        EXPECT_EQ(qorv::distance2(foot, p), best);
      }
    }
  }
}

// A feature over a bounded surface finds the same foot as the closed form of the same patch,
// beside the patch (its border) as well as over it.
TEST(InspectionFeature, AnyBoundedSurfaceAgreesWithTheClosedForm) {
  QORV_SEEDED(std::mt19937_64 rng, 2804);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> g;
  for (int round = 0; round < 40; ++round) {
    // Right-handed: a mirrored bounded cylinder's normal points away from its axis.
    const ERPmIsometrie3D frame = qorv_test::randomFrame(rng, 50, false);
    const double h = 1 + 10 * u(rng), R = 1 + 5 * u(rng), a1 = -kPi + 2 * kPi * u(rng),
                 a2 = a1 + 0.5 + 5 * u(rng);
    const t_SmartPtr<ERAnyBoundedSurface> cyl(
        new ERBoundedCylinder(frame, h, R, ERRadian(a1), ERRadian(a2)));
    // The bounded cylinder's normal points to its axis: out of the material of a bore.
    const gmInspectionFeature generic("g", cyl, false, -1, 1);
    const gmInspectionFeature closed("c", gmInspectionFeature::CYLINDER, frame, R, 0, a1, a2, -h, h,
                                     gmInspectionFeature::OUTSIDE, -1, 1);
    ASSERT_EQ(generic.problem(), "");
    EXPECT_STREQ(generic.label(), "cylinder");
    for (int k = 0; k < 25; ++k) {
      const ERPoint3D p = frame >> ERPoint3D(3 * R * g(rng), 3 * R * g(rng), 1.5 * h * g(rng));
      ERPoint3D f1, f2;
      ERVector3D n1, n2;
      if (!closed.foot(p, f1, n1)) continue;
      ASSERT_EQ(generic.foot(p, f2, n2), 1);
      EXPECT_NEAR(qorv::distance(p, f2), qorv::distance(p, f1), 1e-9 * (R + h))
          << round << " " << k;
      EXPECT_NEAR(qorv::distance(f1, f2), 0, 1e-6 * (R + h)) << round << " " << k;
      EXPECT_GT(n1 * n2, 0.999);
    }
  }
}

// A feature over a double cone whose unbounded foot lies on the other nappe: the patch's own
// interior foot (half-angle 1.2, heights [0.5, 5], angles [-1, 1], P = (3, 0, -0.5)).
TEST(InspectionFeature, ConeSurfaceFindsTheInteriorFoot) {
  auto* cone = new ERBoundedCone(ERPmIsometrie3D(), ERRadian(1.2), 0.5, 5);
  cone->setBound(ERLimites(0.5, 5), ERLimites(-1, 1));
  const gmInspectionFeature f("c", t_SmartPtr<ERAnyBoundedSurface>(cone), false, -1, 1);
  ERPoint3D foot;
  ERVector3D n;
  const ERPoint3D p(3, 0, -0.5);
  ASSERT_EQ(f.foot(p, foot, n), 1);
  const ERVector3D w = p - ERPoint3D(), g(std::sin(1.2), 0, std::cos(1.2));
  EXPECT_NEAR(qorv::distance(p, foot), (w - (w * g) * g).norme(), 1e-14);
}

TEST(Inspection, KnownDeviationsComeBack) {
  QORV_SEEDED(std::mt19937_64 rng, 2802);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int kind = 0; kind < 5; ++kind) {
    for (int round = 0; round < 100; ++round) {
      const double scale = std::pow(10.0, static_cast<double>(rng() % 5) - 2.0);
      const gmInspectionFeature f =
          qorv_test::randomFeature(static_cast<gmInspectionFeature::Kind>(kind), rng, scale);
      const gmInspection inspection({f});
      const double a = f.u0() + (0.2 + 0.6 * u(rng)) * (f.u1() - f.u0());
      const double b = f.v0() + (0.2 + 0.6 * u(rng)) * (f.v1() - f.v0());
      ERVector3D n;
      const ERPoint3D T = f.point(a, b, &n);
      // Small against the curvature, both signs, probe radius too.
      // The cone's radius of curvature is its local radius, b sin(half-angle).
      const double curvature =
          kind == 0   ? scale
          : kind == 2 ? std::min(scale, b * std::sin(f.r1()))
                      : std::min({f.r1() > 0 ? f.r1() : scale, f.r2() > 0 ? f.r2() : scale, scale});
      const double dev = 0.05 * curvature * (2 * u(rng) - 1), r = 0.1 * curvature * u(rng);
      gmMeasuredPoint m;
      m.centre = T + (dev + r) * n;
      m.feature = "f";
      m.diameter = 2 * r;
      const gmInspectedPoint got = inspection.inspect(m, 0);
      if (got.feature < 0) continue;  // near the cone's apex the normal line may leave the patch
      const double tol = 1e-9 * (scale + qorv::distance(ERPoint3D(), T));
      EXPECT_NEAR(got.deviation, dev, tol) << "kind " << kind << " round " << round;
      EXPECT_NEAR(qorv::distance(got.nominal, T), 0, tol);
    }
  }
}

TEST(Inspection, StatisticsFitsAndThreads) {
  // A bore of radius 10 measured with a three-lobed form of 0.01 and an offset of 0.004.
  const ERPmIsometrie3D frame = ERChgRepere3D(ERVector3D(1, 2, 3), ERPoint3D(5, -7, 11));
  const gmInspectionFeature bore("bore", gmInspectionFeature::CYLINDER, frame, 10, 0, 0, 2 * kPi, 0,
                                 20, gmInspectionFeature::OUTSIDE, -0.012, 0.012);
  const gmInspectionFeature ball(
      "ball", gmInspectionFeature::SPHERE, ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(100, 0, 0)),
      5, 0, 0, 2 * kPi, -kPi / 2, kPi / 2, gmInspectionFeature::INSIDE, -0.1, 0.1);
  const gmInspection inspection({bore, ball});
  std::vector<gmMeasuredPoint> pts;
  std::vector<double> devs;
  std::mt19937_64 rng(qorv_test::seedFor(2803));
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int i = 0; i < 3000; ++i) {
    const double a = 2 * kPi * u(rng), h = 1 + 18 * u(rng);
    const double dev = 0.004 + 0.01 * std::cos(3 * a);
    ERVector3D n;
    const ERPoint3D T = bore.point(a, h, &n);
    gmMeasuredPoint m;
    m.line = i + 2;
    m.id = std::to_string(i);
    m.centre = T + (dev + 1.5) * n;
    pts.push_back(m);
    devs.push_back(dev);
  }
  const std::vector<gmInspectedPoint> one = inspection.run(pts, 3.0, 1);
  const std::vector<gmInspectedPoint> three = inspection.run(pts, 3.0, 3);
  ASSERT_EQ(one.size(), pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    ASSERT_EQ(one[i].feature, 0) << i;
    EXPECT_EQ(one[i].deviation, three[i].deviation);
    EXPECT_NEAR(one[i].deviation, devs[i], 1e-12);
  }
  const std::vector<gmFeatureSummary> s = inspection.summarize(one, pts);
  // Two passes over the known deviations.
  double mean = 0, lo = HUGE_VAL, hi = -HUGE_VAL;
  int out = 0;
  for (double d : devs)
    mean += d, lo = std::min(lo, d), hi = std::max(hi, d), out += (d < -0.012 || d > 0.012);
  mean /= static_cast<double>(devs.size());
  double var = 0;
  for (double d : devs) var += (d - mean) * (d - mean);
  var /= static_cast<double>(devs.size() - 1);
  EXPECT_EQ(s[0].stats.num_projected(), 3000);
  EXPECT_TRUE(Near(Seq{s[0].stats.mean(), s[0].stats.standard_deviation(), s[0].stats.min_value()},
                   Seq{mean, std::sqrt(var), lo}, 1e-12));
  EXPECT_NEAR(s[0].stats.max_value(), hi, 1e-12);
  EXPECT_EQ(s[0].outOfTolerance, out);
  // The bore's fitted radius: 10 less the mean offset (more material, a smaller hole); the form
  // is the lobes' peak to valley.
  ASSERT_EQ(s[0].fitted, 1);
  // The lobes average to zero only over the whole turn: a random sample of 3,000 leaves a few
  // 1e-4 in the radius.
  EXPECT_NEAR(s[0].size, 10 - 0.004, 6e-4);
  // Least squares tilts the axis a little with the random sampling: the spread is near 0.02.
  EXPECT_NEAR(s[0].formError, 0.02, 3e-3);
  EXPECT_GE(s[0].iterations, 1);
  EXPECT_EQ((Seq{s[1].stats.num_projected(), s[1].fitted}), (Seq{0, 0}));

  // Exact fits: points on a sphere, a cylinder and a plane in a turned frame.
  std::vector<ERPoint3D> sphere, cylinder, plane;
  for (int i = 0; i < 200; ++i) {
    const double a = 2 * kPi * u(rng), b = -1.2 + 2.4 * u(rng);
    sphere.push_back(ball.point(a, b) + ERVector3D(0.25, 0, 0));
    cylinder.push_back(bore.point(a, 20 * u(rng)));
    plane.push_back(frame >> ERPoint3D(u(rng), u(rng), 0));
  }
  ERPoint3D c(100, 0, 0);
  double radius = 5, form = 1;
  int iterations = 0;
  ASSERT_EQ(gmFitSphere(sphere, c, radius, form, iterations), 1);
  EXPECT_TRUE(
      Near(Seq{qorv::distance(c, ERPoint3D(100.25, 0, 0)), radius, form}, Seq{0, 5, 0}, 1e-9));
  ERPoint3D axisPoint = frame.origine() + ERVector3D(0.1, 0, 0);
  ERVector3D axis = frame.getVector(Coord3D::Z) + ERVector3D(0.01, 0, 0);
  radius = 9.9;
  ASSERT_EQ(gmFitCylinder(cylinder, axisPoint, axis, radius, form, iterations), 1);
  EXPECT_NEAR(radius, 10, 1e-8);
  EXPECT_NEAR(form, 0, 1e-7);
  EXPECT_NEAR(std::fabs(axis * frame.getVector(Coord3D::Z)), 1, 1e-12);
  ERPoint3D centroid;
  ERVector3D normal = frame.getVector(Coord3D::Z);
  ASSERT_EQ(gmFitPlane(plane, centroid, normal, form), 1);
  EXPECT_TRUE(Near(Seq{normal * frame.getVector(Coord3D::Z), form}, Seq{1, 0}, 1e-12));
  EXPECT_EQ(gmFitPlane({ERPoint3D(), ERPoint3D(1, 0, 0)}, centroid, normal, form), 0);
}

// Unknown features, no foot, no diameter: skipped with the reason, never fatal.
TEST(Inspection, PointsThatCannotBeJudgedAreSkipped) {
  const gmInspection inspection({gmInspectionFeature(
      "bore", gmInspectionFeature::CYLINDER, ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D()), 5, 0,
      0, 2 * kPi, 0, 10, gmInspectionFeature::OUTSIDE, -1, 1)});
  gmMeasuredPoint m;
  m.feature = "nope";
  EXPECT_NE(inspection.skipReason(inspection.inspect(m, 1), m).find("unknown feature"),
            std::string::npos);
  m.feature = "bore";
  m.centre = ERPoint3D(0, 0, 5);  // on the axis
  EXPECT_EQ(inspection.inspect(m, 1).feature, -1);
  m.centre = ERPoint3D(4, 0, 5);
  EXPECT_EQ(inspection.inspect(m, -1).feature, -1);
  EXPECT_EQ(inspection.inspect(m, 1).feature, 0);
}
