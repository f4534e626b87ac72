// Alignment: random rigid moves of points sampled on a part holding every feature kind and a
// trimmed face, recovered exactly without noise, within the reported uncertainties with noise,
// unmoved by gross outliers; free directions of parts the points do not fix; 3-2-1 frames
// against frames built by hand.
#include "qorv/measurement/alignment.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/surfaces/bounded_surfaces.h"
#include "qorv/surfaces/trimmed_surface.h"
#include "tests/in_order.h"
#include "tests/surfaces/bounded_draws.h"
#include "tests/test_seed.h"

namespace {

constexpr double kPi = std::numbers::pi;
using F = gmInspectionFeature;

ERPmIsometrie3D frameOf(const ERVector3D& x, const ERVector3D& z, const ERPoint3D& o) {
  return ERChgRepere3D(x, z ^ x, o);
}

t_SmartPtr<ERFiniteEntity2DWF> square(double u0, double v0, double u1, double v1) {
  const ERPoint2D p[4] = {{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}};
  QuickAlgebra::ERVec<ERPole2DH> poles(5);
  for (int i = 0; i <= 4; ++i) poles[i] = ERPole2DH(p[i % 4], 1.0);
  return t_SmartPtr<ERFiniteEntity2DWF>(
      new ERCpoleNURBS2D(poles, ERKnotVector(1, 5, ERLimites(0, 1))));
}

// A block 100 x 60 x 30 (times s) placed by P, with a bore, a countersink, a seat, a fillet and a
// side face with a square hole. The hole is recorded for sampling.
struct Part {
  std::vector<F> features;
  double size = 0;
};

Part block(double s, const ERPmIsometrie3D& P) {
  Part part;
  auto& f = part.features;
  const ERVector3D X(1, 0, 0), Y(0, 1, 0), Z(0, 0, 1);
  auto at = [&](const ERVector3D& x, const ERVector3D& z, double ox, double oy, double oz) {
    return P * frameOf(x, z, ERPoint3D(ox * s, oy * s, oz * s));
  };
  f.emplace_back("top", F::PLANE, at(X, Z, 0, 0, 30), 0, 0, 0, 100 * s, 0, 60 * s, F::INSIDE, -1,
                 1);
  f.emplace_back("front", F::PLANE, at(X, -1.0 * Y, 0, 0, 0), 0, 0, 0, 100 * s, 0, 30 * s,
                 F::INSIDE, -1, 1);
  f.emplace_back("left", F::PLANE, at(Y, -1.0 * X, 0, 0, 0), 0, 0, 0, 60 * s, -30 * s, 0, F::INSIDE,
                 -1, 1);
  f.emplace_back("bore", F::CYLINDER, at(X, Z, 30, 30, 0), 8 * s, 0, 0, 2 * kPi, 5 * s, 30 * s,
                 F::OUTSIDE, -1, 1);
  f.emplace_back("sink", F::CONE, at(X, Z, 60, 10, 24), kPi / 4, 0, 0, 2 * kPi, 4 * s, 8.4 * s,
                 F::OUTSIDE, -1, 1);
  f.emplace_back("seat", F::SPHERE, at(X, Z, 20, 48, 34), 6 * s, 0, 0, 2 * kPi, -kPi / 2, -kPi / 4,
                 F::OUTSIDE, -1, 1);
  f.emplace_back("fillet", F::TORUS, at(X, Z, 75, 30, 32), 8 * s, 2 * s, 0, 2 * kPi, kPi, 1.5 * kPi,
                 F::OUTSIDE, -1, 1);
  // The side x = 100: u along y, v along z, a hole [20, 40] x [10, 20].
  const ERBoundedPlane base(at(Y, X, 100, 0, 0), ERLimites(0, 60 * s), ERLimites(0, 30 * s));
  t_SmartPtr<ERTrimmedSurface> face(new ERTrimmedSurface(base));
  face->addBound(*square(0, 0, 60 * s, 30 * s), ERSurfaceBoundary::OUTER);
  face->addBound(*square(20 * s, 10 * s, 40 * s, 20 * s), ERSurfaceBoundary::INNER);
  f.emplace_back("side", t_SmartPtr<ERAnyBoundedSurface>(face.get()), false, -1, 1);
  part.size = std::hypot(100, 60, 34) * s;
  return part;
}

// Probe centres on the named features (all when none named), n per feature, inside the
// limits; the side face's points avoid its hole, read in the frame of its base.
std::vector<gmMeasuredPoint> sample(const Part& part, std::mt19937_64& rng, int n, double diameter,
                                    const std::vector<std::string>& only = {}) {
  std::uniform_real_distribution<double> u01(0.02, 0.98);
  std::vector<gmMeasuredPoint> out;
  for (const auto& f : part.features) {
    if (!only.empty() && std::find(only.begin(), only.end(), f.id()) == only.end()) continue;
    for (int k = 0; k < n; ++k) {
      ERPoint3D p;
      ERVector3D nrm;
      const double a = u01(rng), b = u01(rng);
      if (f.kind() == F::SURFACE && a > 0.3 && a < 0.7 && b > 0.3 && b < 0.7) continue;  // the hole
      p = f.point(f.u0() + (f.u1() - f.u0()) * a, f.v0() + (f.v1() - f.v0()) * b, &nrm);
      gmMeasuredPoint m;
      m.centre = p + (diameter / 2) * nrm;
      m.diameter = diameter;
      m.feature = f.id();
      out.push_back(m);
    }
  }
  return out;
}

// The points as a scanner gives them, naming no feature: those whose centre is clearly nearest
// their own feature, as a probe touching it alone is (not in a hole that the untrimmed top
// covers, nor within its radius of a neighbour).
std::vector<gmMeasuredPoint> unnamed(const std::vector<gmMeasuredPoint>& pts, const Part& part) {
  std::vector<gmMeasuredPoint> out;
  for (gmMeasuredPoint m : pts) {
    double own = HUGE_VAL, other = HUGE_VAL;
    for (const auto& f : part.features) {
      ERPoint3D foot;
      ERVector3D n;
      if (!f.foot(m.centre, foot, n)) continue;
      double& d = f.id() == m.feature ? own : other;
      d = std::min(d, qorv::distance(foot, m.centre));
    }
    m.feature.clear();
    if (own + 1e-3 * part.size < other) out.push_back(m);
  }
  return out;
}

// A random proper rigid move: a turn of the given angle about a random axis, a shift.
ERPmIsometrie3D randomMove(std::mt19937_64& rng, double angle, double shift) {
  std::normal_distribution<double> g;
  const ERVector3D a = ERVector3D(g(rng), g(rng), g(rng)).normalize();
  ERVector3D x = ERVector3D(g(rng), g(rng), g(rng));
  x = (x - (x * a) * a).normalize();
  const ERVector3D y = a ^ x;
  const ERVector3D x2 = std::cos(angle) * x + std::sin(angle) * y, y2 = a ^ x2;
  // The map taking (x, y, a) onto (x2, y2, a), then the shift.
  const ERPmIsometrie3D A = ERChgRepere3D(x, y, ERPoint3D(0, 0, 0)),
                        B = ERChgRepere3D(x2, y2, ERPoint3D(0, 0, 0));
  const ERPoint3D t(shift * g(rng), shift * g(rng), shift * g(rng));
  return ERPmIsometrie3D(_ERTranslation3D(t)) * B * ~A;
}

// The largest distance between the two maps' images of the part's box corners.
double mapGap(const ERPmIsometrie3D& A, const ERPmIsometrie3D& B, const Part& part) {
  ERMinimax3D box;
  for (const auto& f : part.features) box.Update(f.box());
  double g = 0;
  for (int c = 0; c < 8; ++c) {
    const ERPoint3D p(c & 1 ? box.xmax() : box.xmin(), c & 2 ? box.ymax() : box.ymin(),
                      c & 4 ? box.zmax() : box.zmin());
    g = std::max(g, qorv::distance(A >> p, B >> p));
  }
  return g;
}

std::vector<gmMeasuredPoint> movedBy(std::vector<gmMeasuredPoint> pts, const ERPmIsometrie3D& T) {
  for (auto& p : pts) p.centre = T >> p.centre;
  return pts;
}

// A start within a local solver's reach of M: off by a turn about the part's centre and a shift
// of a fiftieth of its size.
ERPmIsometrie3D nearStart(const Part& part, const ERPmIsometrie3D& M, std::mt19937_64& rng,
                          double turn = 0.1) {
  const ERMinimax3D& b = part.features[0].box();
  const ERPoint3D centre((b.xmin() + b.xmax()) / 2, (b.ymin() + b.ymax()) / 2,
                         (b.zmin() + b.zmax()) / 2);
  const ERPmIsometrie3D C = ERPmIsometrie3D(_ERTranslation3D(centre));
  return C * randomMove(rng, turn, 0.02 * part.size) * ~C * M;
}

double logUniform(std::mt19937_64& rng, double lo, double hi) {
  return std::exp(std::uniform_real_distribution<double>(std::log(lo), std::log(hi))(rng));
}

TEST(Alignment, RecoversRandomMovesOfEveryKind) {
  struct Row {
    const char* name;
    std::vector<std::string> features;  // measured; empty: all
    double scale, diameter;
    bool anywhere;
    bool named = true;  // else each point goes to its nearest feature
    int perFeature = 40;
  } rows[] = {
      {"all, from anywhere", {}, 1, 2, true},
      {"all, tiny part, unnamed", {}, 1e-6, 0, true, false},
      {"all, huge part", {}, 1e6, 0, true},
      {"planes and the trimmed face, unnamed", {"top", "front", "side"}, 1, 2, false, false},
      {"curved only", {"bore", "sink", "seat", "fillet"}, 1, 1, false},
      {"all, unnamed, enough points to go coarse to fine", {}, 1, 2, false, false, 2000},
  };
  QORV_SEEDED(std::mt19937_64 rng, 40);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (int trial = 0; trial < 3; ++trial) {
      const bool mirror = trial % 2;
      ERPmIsometrie3D P =
          randomMove(rng, kPi * std::uniform_real_distribution<double>(0, 1)(rng), 50 * row.scale);
      if (mirror) P = qorv_test::mirroredOf(P);
      const Part part = block(row.scale, P);
      std::vector<gmMeasuredPoint> exact =
          sample(part, rng, row.perFeature, row.diameter * row.scale, row.features);
      if (!row.named) exact = unnamed(exact, part);
      const double angle = logUniform(rng, 1e-2 * kPi / 180, kPi);
      const ERPmIsometrie3D M = randomMove(rng, angle, 10 * part.size);
      gmAlignmentOptions o;
      o.fromAnywhere = row.anywhere;
      o.start = nearStart(part, M, rng, 0.03);
      const gmAlignment a = gmBestFitAlignment(part.features, movedBy(exact, ~M), o);
      SCOPED_TRACE("trial " + std::to_string(trial) + " angle " + std::to_string(angle));
      ASSERT_EQ(a.ok, 1) << a.problem;
      EXPECT_EQ(a.ambiguous, 0) << a.freeDirections;
      EXPECT_LT(mapGap(a.transfo, M, part), 1e-10 * part.size);
      EXPECT_LT(a.rms, 1e-10 * part.size);
      EXPECT_EQ(a.used, static_cast<int>(exact.size()));
      // The matrix, angles and translation tell the same move.
      const double* m = a.matrix;
      const ERPoint3D q(0.3, -0.7, 0.2), r = a.transfo >> q;
      EXPECT_NEAR(m[0] * q.x() + m[1] * q.y() + m[2] * q.z() + m[3], r.x(),
                  1e-9 * (1 + std::fabs(r.x())));
      EXPECT_NEAR(m[8] * q.x() + m[9] * q.y() + m[10] * q.z() + m[11], r.z(),
                  1e-9 * (1 + std::fabs(r.z())));
      const double cx = std::cos(a.angles[0]), sy = std::sin(a.angles[1]),
                   cy = std::cos(a.angles[1]);
      EXPECT_TRUE(Near(Seq{m[8], m[10]}, Seq{-sy, cy * cx}, 1e-12));
      EXPECT_NEAR(m[3], a.translation[0], 0);
      // One thread or three, the same move to the last bit.
      if (row.perFeature < 1000) continue;
      o.threads = 3;
      const gmAlignment b = gmBestFitAlignment(part.features, movedBy(exact, ~M), o);
      o.threads = 1;
      const gmAlignment c = gmBestFitAlignment(part.features, movedBy(exact, ~M), o);
      for (int k = 0; k < 16; ++k) EXPECT_EQ(b.matrix[k], c.matrix[k]) << k;
    }
  }
}

// The error of the recovered move in the reported parameters: a turn after the true one, and
// the translation.
void moveError(const gmAlignment& a, const ERPmIsometrie3D& M, double err[6]) {
  const ERPoint3D o = M >> ERPoint3D(0, 0, 0);
  const ERPoint3D ro = a.transfo >> ERPoint3D(0, 0, 0);
  // R_rec R_true^T as (R_rec - R_true) R_true^T ~ [w]x: its skew part from the images of axes.
  double W[9] = {};
  for (int j = 0; j < 3; ++j) {
    const ERPoint3D e(j == 0, j == 1, j == 2);
    const ERVector3D t = (M >> e) - o, r = (a.transfo >> e) - ro;
    // sum_j r_j t_j^T - I = [w]x for small w
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) W[3 * i + k] += r.data()[i] * t.data()[k];
  }
  err[0] = (W[7] - W[5]) / 2, err[1] = (W[2] - W[6]) / 2, err[2] = (W[3] - W[1]) / 2;
  err[3] = ro.x() - o.x(), err[4] = ro.y() - o.y(), err[5] = ro.z() - o.z();
}

TEST(Alignment, NoiseStaysWithinTheReportedUncertaintyAndOutliersDoNotMoveIt) {
  struct Row {
    const char* name;
    gmAlignmentOptions::Loss loss;
    double outliers;  // share of points thrown off by millimetres
    bool fixTurnXYShiftZ;
    bool named = true;  // else each point goes to its nearest feature
    int perFeature = 60;
  } rows[] = {
      {"huber", gmAlignmentOptions::HUBER, 0, false},
      {"least squares", gmAlignmentOptions::LEAST_SQUARES, 0, false},
      {"least squares, unnamed, coarse to fine", gmAlignmentOptions::LEAST_SQUARES, 0, false, false,
       2000},
      {"huber, 2% outliers", gmAlignmentOptions::HUBER, 0.02, false},
      {"tukey, 2% outliers, coarse to fine", gmAlignmentOptions::TUKEY, 0.02, false, true, 2000},
      {"turn about Z and shift in XY only", gmAlignmentOptions::HUBER, 0.02, true},
  };
  QORV_SEEDED(std::mt19937_64 rng, 41);
  std::normal_distribution<double> g;
  int within = 0, total = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (int trial = 0; trial < 3; ++trial) {
      const Part part = block(1, randomMove(rng, 1.0, 20));
      std::vector<gmMeasuredPoint> exact = sample(part, rng, row.perFeature, 2);
      if (!row.named) exact = unnamed(exact, part);
      ERPmIsometrie3D M = randomMove(rng, 0.2, 2 * part.size);
      if (row.fixTurnXYShiftZ) {  // a move the options allow: a turn about Z, a shift in XY
        const double c = std::cos(0.03), s = std::sin(0.03);
        M = ERPmIsometrie3D(_ERTranslation3D(ERPoint3D(g(rng), g(rng), 0))) *
            ERChgRepere3D(ERVector3D(c, s, 0), ERVector3D(-s, c, 0), ERPoint3D(0, 0, 0));
      }
      std::vector<gmMeasuredPoint> pts = movedBy(exact, ~M);
      const double sigma = 0.002;
      for (auto& p : pts)
        p.centre = p.centre + ERVector3D(sigma * g(rng), sigma * g(rng), sigma * g(rng));
      std::vector<gmMeasuredPoint> clean = pts;
      for (auto& p : pts)
        if (std::uniform_real_distribution<double>(0, 1)(rng) < row.outliers)
          p.centre = p.centre +
                     ERVector3D(g(rng), g(rng), g(rng)).normalize() * (1 + 4 * std::fabs(g(rng)));
      gmAlignmentOptions o;
      o.loss = row.loss;
      if (!row.fixTurnXYShiftZ) o.start = nearStart(part, M, rng);
      o.maxDistance = 0.5;
      if (row.fixTurnXYShiftZ) o.fixed[0] = o.fixed[1] = o.fixed[5] = true;
      const gmAlignment a = gmBestFitAlignment(part.features, pts, o);
      ASSERT_EQ(a.ok, 1) << a.problem;
      double err[6];
      moveError(a, M, err);
      for (int k = 0; k < 6; ++k) {
        if (o.fixed[k]) {
          EXPECT_EQ(a.sigma[k], 0);
          EXPECT_NEAR(err[k], 0, 1e-9 * part.size);
          continue;
        }
        EXPECT_GT(a.sigma[k], 0);
        ++total;
        within += std::fabs(err[k]) <= 3 * a.sigma[k];
        EXPECT_LE(std::fabs(err[k]), 4 * a.sigma[k]) << "parameter " << k;
      }
      // The outliers are set aside, the clean points all kept.
      if (row.outliers > 0) {
        const gmAlignment b = gmBestFitAlignment(part.features, clean, o);
        EXPECT_LT(mapGap(a.transfo, b.transfo, part), 3 * sigma);
        EXPECT_GT(a.unassigned.size(), 0u);
        EXPECT_TRUE(b.unassigned.empty());
        EXPECT_EQ(a.used + static_cast<int>(a.unassigned.size()), static_cast<int>(pts.size()));
      }
      if (row.outliers == 0) {
        EXPECT_NEAR(a.rms, sigma, 0.2 * sigma);
      }
      // Least squares ends where the gradient of the sum over all the points kept vanishes,
      // each against its named feature or its nearest foot found by trying every feature (not at
      // a subset's minimum: there it is some sigma times the root of its diagonal).
      if (row.loss != gmAlignmentOptions::LEAST_SQUARES) continue;
      double grad[6] = {}, diag[6] = {};
      for (std::size_t i = 0; i < pts.size(); ++i) {
        if (std::count(a.unassigned.begin(), a.unassigned.end(), static_cast<int>(i))) continue;
        const ERPoint3D q = a.transfo >> pts[i].centre;
        double best = HUGE_VAL, r = 0;
        ERVector3D n;
        for (const auto& f : part.features) {
          ERPoint3D F;
          ERVector3D N;
          if (!pts[i].feature.empty() && f.id() != pts[i].feature) continue;
          if (f.foot(q, F, N) && qorv::distance(q, F) < best)
            best = qorv::distance(q, F), r = (q - F) * N - pts[i].diameter / 2, n = N;
        }
        const ERVector3D m = (q - ERPoint3D(0, 0, 0)) ^ n;
        const double J[6] = {m.x(), m.y(), m.z(), n.x(), n.y(), n.z()};
        for (int k = 0; k < 6; ++k) grad[k] += J[k] * r, diag[k] += J[k] * J[k];
      }
      for (int k = 0; k < 6; ++k)
        EXPECT_LT(std::fabs(grad[k]), 1e-3 * sigma * std::sqrt(diag[k])) << "parameter " << k;
    }
  }
  // Three uncertainties hold 99.7% of normal errors.
  EXPECT_GE(within, total - 2) << within << " of " << total;
}

TEST(Alignment, FreeDirectionsAreNamed) {
  QORV_SEEDED(std::mt19937_64 rng, 42);
  // A plain cylinder turns about and slides along its axis.
  const Part part = block(1, ERPmIsometrie3D());
  std::vector<gmMeasuredPoint> bore;
  for (const auto& p : sample(part, rng, 200, 0, {"bore"}))
    if (p.centre.z() > 10 && p.centre.z() < 25) bore.push_back(p);
  const ERPmIsometrie3D M = randomMove(rng, 0.01, 0.3);
  gmAlignment a = gmBestFitAlignment(part.features, movedBy(bore, ~M));
  ASSERT_EQ(a.ok, 1);
  EXPECT_EQ(a.ambiguous, 1);
  EXPECT_NE(a.freeDirections.find("turn about (0, 0, 1) through (30, 30,"), std::string::npos)
      << a.freeDirections;
  EXPECT_NE(a.freeDirections.find("shift along (0, 0, 1)"), std::string::npos) << a.freeDirections;
  EXPECT_LT(a.rms, 1e-9);

  // A plain box from anywhere: the half turns that map it onto itself.
  std::vector<F> box(part.features.begin(), part.features.begin() + 3);
  box.emplace_back("bottom", F::PLANE,
                   frameOf(ERVector3D(1, 0, 0), ERVector3D(0, 0, -1), ERPoint3D(0, 0, 0)), 0, 0, 0,
                   100, -60, 0, F::INSIDE, -1, 1);
  box.emplace_back("back", F::PLANE,
                   frameOf(ERVector3D(1, 0, 0), ERVector3D(0, 1, 0), ERPoint3D(0, 60, 0)), 0, 0, 0,
                   100, -30, 0, F::INSIDE, -1, 1);
  box.emplace_back("right", F::PLANE,
                   frameOf(ERVector3D(0, 1, 0), ERVector3D(1, 0, 0), ERPoint3D(100, 0, 0)), 0, 0, 0,
                   60, 0, 30, F::INSIDE, -1, 1);
  Part boxPart{box, part.size};
  gmAlignmentOptions o;
  o.fromAnywhere = 1;
  a = gmBestFitAlignment(box, movedBy(unnamed(sample(boxPart, rng, 30, 0), boxPart), ~M), o);
  ASSERT_EQ(a.ok, 1);
  EXPECT_EQ(a.ambiguous, 1);
  EXPECT_NE(a.freeDirections.find("turn of 180 degrees"), std::string::npos) << a.freeDirections;
}

TEST(Alignment, DatumFramesMatchFramesBuiltByHand) {
  struct Row {
    std::vector<std::string> datums;
  } rows[] = {{{"top", "front", "left"}}, {{"bore", "front", "top"}}, {{"top", "left", "seat"}}};
  QORV_SEEDED(std::mt19937_64 rng, 43);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.datums[0] + "," + row.datums[1] + "," + row.datums[2]);
    const Part part = block(1, randomMove(rng, 2.0, 100));
    const ERPmIsometrie3D M = randomMove(rng, logUniform(rng, 1e-4, kPi), 5 * part.size);
    const auto pts = movedBy(sample(part, rng, 30, 2), ~M);
    const gmAlignment a = gmDatumAlignment(part.features, pts, row.datums, 2);
    ASSERT_EQ(a.ok, 1) << a.problem;
    EXPECT_LT(mapGap(a.transfo, M, part), 1e-9 * part.size);
    EXPECT_LT(a.rms, 1e-9 * part.size);
  }
  // 3-2-1 by hand: the top measured tilted, the front and left true. The primary's normal is
  // taken as it is; the front fixes the turn about it; the corner of the three fitted planes
  // goes to the nominal corner.
  const Part part = block(1, ERPmIsometrie3D());
  std::vector<gmMeasuredPoint> pts = sample(part, rng, 30, 0, {"top", "front", "left"});
  const double tilt = 0.01;
  for (auto& p : pts)
    if (p.feature == "top") p.centre.z() += tilt * (p.centre.x() - 50);
  const gmAlignment a = gmDatumAlignment(part.features, pts, {"top", "front", "left"});
  ASSERT_EQ(a.ok, 1) << a.problem;
  const ERVector3D n = ERVector3D(-tilt, 0, 1).normalize(), e2(0, -1, 0), e3 = n ^ e2;
  const ERPoint3D corner(0, 0, 30 - 50 * tilt);  // on the tilted top, y = 0, x = 0
  for (const ERPoint3D& p : {ERPoint3D(10, 20, 5), ERPoint3D(-300, 7, 1e3)}) {
    const ERVector3D d = p - corner;
    const ERPoint3D x = a.transfo >> p;
    EXPECT_TRUE(Near(Seq{x.x(), x.y(), x.z()}, Seq{d * e3, -(d * e2), 30 + d * n},
                     1e-9 * (1 + qorv::distance(p, corner))));
  }
  // Bad datums: unknown, not a datum kind, too few points.
  EXPECT_EQ(gmDatumAlignment(part.features, pts, {"top", "nope", "left"}).ok, 0);
  EXPECT_EQ(gmDatumAlignment(part.features, pts, {"top", "fillet", "left"}).ok, 0);
  EXPECT_EQ(gmDatumAlignment(part.features, pts, {"top", "bore", "left"}).ok, 0);
  EXPECT_EQ(gmDatumAlignment(part.features, pts, {"top", "front"}).ok, 0);
}

// A point goes to the feature it names, else to the one whose foot is nearest its centre, as in
// the inspection; not to the one of the smallest residual: each row's point has no residual
// against another feature. All six motions held, the residual is the point's own.
TEST(Alignment, PointsGoToTheNearestFootAsInTheInspection) {
  struct Row {
    const char* name;
    bool block;  // the block's features, else two squares 10 wide, one beside the other's edge
    ERPoint3D at;
    double diameter, residual;
    const char* named = "";
  } rows[] = {
      {"in a square's plane beyond its edge, near the other square", false, {19.5, 5, 0}, 0, 0.5},
      {"probe in the bore within its radius of the untrimmed top", true, {37, 30, 29.5}, 2, 1.5},
      {"the same naming the bore", true, {37, 30, 29.5}, 2, 0, "bore"},
  };
  QORV_SEEDED(std::mt19937_64 rng, 46);
  for (const Row& row : rows)
    for (int trial = 0; trial < 4; ++trial) {
      SCOPED_TRACE(std::string(row.name) + ", trial " + std::to_string(trial));
      const double s = logUniform(rng, 1e-3, 1e3);
      ERPmIsometrie3D P = randomMove(rng, 3.0, 1e4 * s);
      if (trial % 2) P = qorv_test::mirroredOf(P);
      const ERVector3D X(1, 0, 0), Y(0, 1, 0), Z(0, 0, 1);
      const std::vector<F> fs =
          row.block ? block(s, P).features
                    : std::vector<F>{F("a", F::PLANE, P * frameOf(X, Z, ERPoint3D(0, 0, 0)), 0, 0,
                                       0, 10 * s, 0, 10 * s, F::INSIDE, -1, 1),
                                     F("b", F::PLANE, P * frameOf(Y, X, ERPoint3D(20 * s, 0, 0)), 0,
                                       0, 0, 10 * s, -5 * s, 5 * s, F::INSIDE, -1, 1)};
      gmMeasuredPoint m;
      m.centre = P >> ERPoint3D(s * row.at.x(), s * row.at.y(), s * row.at.z());
      m.diameter = row.diameter * s;
      m.feature = row.named;
      gmAlignmentOptions o;
      for (bool& f : o.fixed) f = true;
      const gmAlignment a = gmBestFitAlignment(fs, {m}, o);
      ASSERT_EQ(a.ok, 1) << a.problem;
      EXPECT_NEAR(a.maxResidual, row.residual * s, 1e-9 * s);
      EXPECT_NEAR(std::fabs(gmInspection(fs).inspect(m, 0).deviation), a.maxResidual, 1e-9 * s);
    }
}

TEST(Alignment, BadInputGetsItsResult) {
  const Part part = block(1, ERPmIsometrie3D());
  std::mt19937_64 rng(44);
  std::vector<gmMeasuredPoint> pts = sample(part, rng, 10, 0);
  pts[0].centre = ERPoint3D(NAN, 0, 0), pts[1].diameter = NAN, pts[2].feature = "nope";
  const gmAlignment a = gmBestFitAlignment(part.features, pts);
  EXPECT_EQ((Seq{a.ok, a.used, gmBestFitAlignment({}, pts).ok}),
            (Seq{1, static_cast<int>(pts.size()) - 3, 0}));
  EXPECT_EQ(gmBestFitAlignment(part.features, {}).ok, 0);
}

// Reference points placed in a hand-built nominal frame (turned, mirrored or not, far off) and
// measured after a random move: the move found takes every measured point to its nominal.
TEST(Alignment, ReferencePointsRecoverMovesInBuiltFrames) {
  struct Row {
    const char* name;
    std::vector<const char*> fixes;  // per point of the local layout below
    bool fullStart;                  // unfixed nominal values given
    double turn, shift, noise;
  } rows[] = {
      {"3-2-1", {"xyz", "yz", "z"}, true, kPi, 10, 0},
      {"3-2-1 from the points' frame", {"xyz", "yz", "z"}, false, 0.05, 0.01, 0},
      {"2-2-1-1", {"xz", "yz", "z", "x"}, true, 2.0, 10, 0},
      {"all fixed, noisy", {"xyz", "xyz", "xyz", "xyz"}, true, kPi, 10, 1e-3},
      {"3-2-1 and more, noisy", {"xyz", "yz", "z", "z"}, true, 1.0, 1e4, 1e-3},
  };
  const ERPoint3D local[4] = {{0, 0, 0}, {400, 10, 5}, {150, 250, -20}, {380, 230, 40}};
  QORV_SEEDED(std::mt19937_64 rng, 45);
  std::normal_distribution<double> g;
  for (const Row& row : rows)
    for (int mirrored = 0; mirrored < 2; ++mirrored)
      for (double far : {0.0, 1e6}) {
        SCOPED_TRACE(std::string(row.name) + (mirrored ? ", mirrored" : "") + " at " +
                     std::to_string(far));
        // The nominal frame: turned by quarter turns and a little more, its third axis reversed
        // when mirrored. The fixes follow the layout's own axes, as a set made for the part does
        // (in a frame turned anyhow a 3-2-1 set may hold a turn by a lever of nothing).
        int perm[3] = {0, 1, 2};
        std::shuffle(perm, perm + 3, rng);
        double R[9] = {};
        for (int j = 0; j < 3; ++j) R[3 * perm[j] + j] = rng() & 1 ? 1 : -1;
        const ERPmIsometrie3D F =
            ERChgRepere3D(ERVector3D(R[0], R[3], R[6]), ERVector3D(R[1], R[4], R[7]),
                          ERPoint3D(0, 0, 0)) *
            randomMove(rng, std::uniform_real_distribution<double>(0, 0.3)(rng), 0);
        const ERVector3D X = F >> ERVector3D(1, 0, 0), Y = F >> ERVector3D(0, 1, 0),
                         Z = (mirrored ? -1.0 : 1.0) * (X ^ Y);
        const ERPoint3D O(far, -far / 2, far / 3);
        const double size = 500;
        const ERPmIsometrie3D M = randomMove(rng, row.turn, row.shift * size);
        std::vector<gmReferencePoint> refs;
        std::vector<gmMeasuredPoint> pts;
        std::vector<ERPoint3D> nominal;
        for (std::size_t i = 0; i < row.fixes.size(); ++i) {
          const ERPoint3D n = O + local[i].x() * X + local[i].y() * Y + local[i].z() * Z;
          gmReferencePoint r;
          r.id = "R" + std::to_string(i + 1);
          for (const char* c = row.fixes[i]; *c; ++c) r.fixes[perm[*c - 'x']] = true;
          for (int k = 0; k < 3; ++k)
            if (r.fixes[k] || row.fullStart) r.nominal[k] = k == 0 ? n.x() : k == 1 ? n.y() : n.z();
          refs.push_back(r);
          gmMeasuredPoint p;
          p.id = r.id;
          p.centre = ~M >> (n + row.noise * ERVector3D(g(rng), g(rng), g(rng)));
          pts.push_back(p), nominal.push_back(n);
        }
        pts.insert(pts.begin(), gmMeasuredPoint{0, "R1", ERPoint3D(NAN, 0, 0), -1, ""});
        const gmAlignment a = gmRpsAlignment(refs, pts);
        ASSERT_EQ(a.ok, 1) << a.problem;
        EXPECT_EQ(a.used, static_cast<int>(refs.size()));
        int n = 0;
        for (const auto& r : refs) n += r.fixes[0] + r.fixes[1] + r.fixes[2];
        if (row.noise == 0) {
          for (std::size_t i = 0; i < nominal.size(); ++i)
            EXPECT_LT(qorv::distance(a.transfo >> pts[i + 1].centre, nominal[i]),
                      1e-9 * size + 1e-15 * far)
                << i;
          continue;
        }
        // With noise: within the reported uncertainties where enough fixes estimate them.
        double err[6];
        moveError(a, M, err);
        for (int k = 0; k < 6 && n >= 12; ++k) EXPECT_LT(std::fabs(err[k]), 8 * a.sigma[k]) << k;
        // Least squares: no small turn or shift of the result lowers the sum of squares.
        auto cost = [&](const ERPmIsometrie3D& T) {
          double c = 0;
          for (const auto& r : refs) {
            const auto p = std::find_if(pts.begin() + 1, pts.end(),
                                        [&](const auto& q) { return q.id == r.id; });
            const ERPoint3D q = T >> p->centre;
            for (int k = 0; k < 3; ++k)
              if (r.fixes[k])
                c += std::pow((k == 0 ? q.x() : k == 1 ? q.y() : q.z()) - r.nominal[k], 2);
          }
          return c;
        };
        const double c0 = cost(a.transfo);
        EXPECT_NEAR(a.rms, std::sqrt(c0 / n), 1e-9);
        const ERPoint3D c = a.transfo >> pts[1].centre;
        const ERPmIsometrie3D toC{_ERTranslation3D(c)};
        for (int k = 0; k < 12; ++k)
          EXPECT_GE(cost(toC * randomMove(rng, 1e-5, 1e-5 * size) * ~toC * a.transfo),
                    c0 * (1 - 1e-9));
        for (int k = 0; k < 6; ++k) EXPECT_GT(a.sigma[k], 0) << k;
      }
}

TEST(Alignment, ReferencePointSetsAndFilesThatCannotServe) {
  auto parse = [](const std::string& text, std::vector<gmReferencePoint>& refs) {
    std::istringstream in(text);
    std::string why;
    return gmReadReferencePoints(in, refs, why) ? std::string() : why;
  };
  std::vector<gmReferencePoint> refs;
  ASSERT_EQ(
      parse("id,fixes,x,y,z\n# a comment\n\nR1, xyz ,1,2,3\r\nR2,zy,,5,6\nR3,Z,7,8,9\n", refs), "");
  ASSERT_EQ(refs.size(), 3u);
  EXPECT_TRUE(refs[1].fixes[1] && refs[1].fixes[2] && !refs[1].fixes[0] &&
              std::isnan(refs[1].nominal[0]));
  EXPECT_EQ(refs[2].nominal[0], 7);
  struct Bad {
    std::string text;
    const char* why;
  } bad[] = {{"", "no reference point"},
             {"R1,xyw,1,2,3", "line 1: fixes 'xyw'"},
             {"R1,xx,1,2,3", "line 1: fixes 'xx'"},
             {"R1,,1,2,3", "line 1: fixes names no"},
             {"# c\nR1,z,1,2", "line 2: five fields"},
             {"R1,z,1,2,3,4", "line 1: five fields"},
             {"R1,z,1,2,", "line 1: the fixed z has no value"},
             {"R1,x,abc,,", "line 1: 'abc'"},
             {"R1,x,nan,,", "line 1: 'nan'"},
             {"R1,x,1e999,,", "line 1: '1e999'"},
             {",x,1,,", "line 1: no id"},
             {std::string("R1,x\0\xff,1,,", 10), "line 1"}};
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.text);
    EXPECT_EQ(parse(b.text, refs).rfind(b.why, 0), 0u) << parse(b.text, refs);
    EXPECT_TRUE(refs.empty());
  }
  // Sets that leave motions free, named; ids not measured.
  std::vector<gmMeasuredPoint> pts;
  const ERPoint3D at[3] = {{0, 0, 0}, {100, 0, 0}, {50, 80, 0}};
  for (int i = 0; i < 3; ++i) pts.push_back({0, "R" + std::to_string(i + 1), at[i], -1, ""});
  auto ref = [](const char* id, const char* fixes, ERPoint3D p) {
    gmReferencePoint r;
    r.id = id;
    for (const char* c = fixes; *c; ++c) r.fixes[*c - 'x'] = true;
    r.nominal[0] = p.x(), r.nominal[1] = p.y(), r.nominal[2] = p.z();
    return r;
  };
  struct Free {
    std::vector<gmReferencePoint> refs;
    std::vector<const char*> names;
  } free[] = {
      {{ref("R1", "z", at[0]), ref("R2", "z", at[1]), ref("R3", "z", at[2])},
       {"shift along (1, 0, 0)", "shift along (0, 1, 0)", "turn about (0, 0, 1)"}},
      {{ref("R1", "xyz", at[0]), ref("R2", "xyz", at[1])},
       {"turn about (1, 0, 0) through (", ", 0, 0)"}},
      {{ref("R1", "xyz", at[0]), ref("R2", "yz", at[1]), ref("R3", "x", at[2])},
       {"turn about (1, 0, 0) through (", ", 0, 0)"}},
      {{ref("R4", "xyz", at[0])}, {"reference point R4 is not among"}},
      {{}, {"no reference point fixes"}},
  };
  for (const Free& f : free) {
    const gmAlignment a = gmRpsAlignment(f.refs, pts);
    EXPECT_EQ(a.ok, 0);
    for (const char* name : f.names)
      EXPECT_NE(a.problem.find(name), std::string::npos) << a.problem;
  }
  const gmAlignment a =
      gmRpsAlignment({ref("R1", "xyz", at[0]), ref("R2", "yz", at[1]), ref("R3", "z", at[2])}, pts);
  EXPECT_EQ(a.ok, 1) << a.problem;
}

}  // namespace
