// Degree changes, convex hulls, the net routines and the projection function of the pole
// surfaces, against direct evaluation, finite differences and the transformed poles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/freeform/bezier_primitives.h"
#include "qorv/freeform/pole_surfaces.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv;
using QuickAlgebra::ERMatrix, QuickAlgebra::ERVec;

namespace {

// Clamped knots of degree p for n poles, random interior knots (a double one now and then).
std::vector<double> knots(std::mt19937_64& rng, int p, int n) {
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  std::vector<double> U(p + 1, 0.0), inner;
  while (int(inner.size()) < n - p - 1) {
    const double t = 0.1 + 0.8 * u01(rng);
    inner.push_back(t);
    if (int(inner.size()) < n - p - 1 && p > 1 && rng() % 4 == 0) inner.push_back(t);
  }
  std::sort(inner.begin(), inner.end());
  U.insert(U.end(), inner.begin(), inner.end());
  U.insert(U.end(), p + 1, 1.0);
  return U;
}

// A wavy rational sheet of nu x nv poles, of size about `size` around `at`.
ERMatrix<ERPole3DH> sheet(std::mt19937_64& rng, int nu, int nv, double size, double at) {
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  ERMatrix<ERPole3DH> H(nv, nu);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double w = 0.5 + 1.5 * u01(rng);
      const double x = at + size * (double(i) / nu + 0.1 * u01(rng));
      const double y = at + size * (double(j) / nv + 0.1 * u01(rng));
      const double z = at + size * 0.3 * (u01(rng) - 0.5);
      H(j, i) = ERPole3DH(w * x, w * y, w * z, w);
    }
  return H;
}

ERSpoleNURBS3D randomNurbs(std::mt19937_64& rng, double size, double at) {
  const int p = 1 + int(rng() % 3), q = 1 + int(rng() % 3);
  const int nu = p + 1 + int(rng() % 4), nv = q + 1 + int(rng() % 4);
  const std::vector<double> U = knots(rng, p, nu), V = knots(rng, q, nv);
  return ERSpoleNURBS3D(sheet(rng, nu, nv, size, at), ERKnotVector(p, U.data(), int(U.size())),
                        ERKnotVector(q, V.data(), int(V.size())));
}

// The largest distance between the two surfaces at random parameters of the first's limits.
double gap(const ERSpoleRep& a, const ERSpoleRep& b, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  double worst = 0.0;
  for (int k = 0; k < 60; ++k) {
    const double u = a.udeb() + (a.ufin() - a.udeb()) * u01(rng);
    const double v = a.vdeb() + (a.vfin() - a.vdeb()) * u01(rng);
    worst = std::max(worst, qorv::distance(a(u, v), b(u, v)));
  }
  return worst;
}

double binomial(int n, int k) {
  double r = 1.0;
  for (int i = 1; i <= k; ++i) r = r * (n - k + i) / i;
  return r;
}

// The tensor Bezier patch of the flat net at (u, v): the Bernstein sum written out.
std::vector<double> bezierAt(const std::vector<double>& P, int Nu, int Nv, int dim, double u,
                             double v) {
  std::vector<double> out(dim, 0.0);
  for (int j = 0; j < Nv; ++j)
    for (int i = 0; i < Nu; ++i) {
      const double b = binomial(Nu - 1, i) * std::pow(u, i) * std::pow(1 - u, Nu - 1 - i) *
                       binomial(Nv - 1, j) * std::pow(v, j) * std::pow(1 - v, Nv - 1 - j);
      for (int d = 0; d < dim; ++d) out[d] += b * P[(j * Nu + i) * dim + d];
    }
  return out;
}

}  // namespace

// The net routines: poles of a power form, differences along u and v, restriction of a domain.
TEST(PoleSurfaceNets, PowerFormsHodographsAndRestrictionsAgreeWithTheBernsteinSum) {
  QORV_SEEDED(std::mt19937_64 rng, 2131);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 40; ++rep) {
    const int Nu = 1 + int(rng() % 6), Nv = 1 + int(rng() % 6), dim = 1 + int(rng() % 4);
    const double scale = std::ldexp(1.0, int(rng() % 41) - 20);
    std::vector<double> C(Nu * Nv * dim), P(C.size());
    for (double& c : C) c = scale * (2 * u01(rng) - 1);
    SpolyPatch2Pole(C.data(), Nu, Nv, dim, P.data());
    std::vector<double> same(C);
    SpolyPatch2Pole(same.data(), Nu, Nv, dim, same.data());
    EXPECT_EQ(same, P);
    for (int k = 0; k < 5; ++k) {
      const double u = u01(rng), v = u01(rng);
      std::vector<double> h(dim);
      Horner(C.data(), Nu, Nv, u, v, dim, h.data());
      const std::vector<double> b = bezierAt(P, Nu, Nv, dim, u, v);
      for (int d = 0; d < dim; ++d) EXPECT_NEAR(b[d], h[d], 1e-13 * scale * Nu * Nv) << rep;
    }
    // The hodographs give the partials (times the degree): against central differences of the
    // patch, exact to rounding for these low degrees with a step of 1e-3 and Richardson's rule.
    for (const bool alongV : {false, true}) {
      const int n = alongV ? Nv : Nu, qu = alongV ? Nu : Nu - 1, qv = alongV ? Nv - 1 : Nv;
      if (n < 2) continue;
      std::vector<double> Q(qu * qv * dim);
      (alongV ? HodographeV : HodographeU)(P.data(), Q.data(), Nu, Nv, dim);
      const double u = u01(rng), v = u01(rng), hs = 1e-3;
      const std::vector<double> a = bezierAt(Q, qu, qv, dim, u, v);
      auto diff = [&](double step, int d) {
        const double du = alongV ? 0 : step, dv = alongV ? step : 0;
        return (bezierAt(P, Nu, Nv, dim, u + du, v + dv)[d] -
                bezierAt(P, Nu, Nv, dim, u - du, v - dv)[d]) /
               (2 * step);
      };
      for (int d = 0; d < dim; ++d)
        EXPECT_NEAR((n - 1) * a[d], (4 * diff(hs / 2, d) - diff(hs, d)) / 3, 1e-9 * scale)
            << (alongV ? "v" : "u");
    }
    // Restricted to [a, b] (reversed or beyond [0, 1] too) in u, then in v.
    const double a = 1.5 * u01(rng) - 0.25, b = 1.5 * u01(rng) - 0.25;
    std::vector<double> R(P);
    RedefineDomainU(R.data(), Nu, Nv, a, b, dim);
    std::vector<double> S(P);
    RedefineDomainV(S.data(), Nu, Nv, a, b, dim);
    for (int k = 0; k < 5; ++k) {
      const double s = u01(rng), t = u01(rng);
      const std::vector<double> x = bezierAt(R, Nu, Nv, dim, s, t);
      const std::vector<double> y = bezierAt(P, Nu, Nv, dim, a + s * (b - a), t);
      const std::vector<double> z = bezierAt(S, Nu, Nv, dim, s, t);
      const std::vector<double> w = bezierAt(P, Nu, Nv, dim, s, a + t * (b - a));
      for (int d = 0; d < dim; ++d)
        EXPECT_TRUE(Near(Seq{x[d], z[d]}, Seq{y[d], w[d]}, 1e-12 * scale * Nu * Nv));
    }
  }
  // Counts below 1 leave the output alone.
  double keep[3] = {7, 7, 7};
  const double in[3] = {1, 2, 3};
  HodographeU(in, keep, 1, 1, 3);
  SpolyPatch2Pole(in, 0, 1, 3, keep);
  RedefineDomainV(keep, 1, 0, 0.2, 0.5, 3);
  EXPECT_EQ(keep[0], 7);
}

// The hull holds every pole that acts (after the isometry), its corners are poles, it turns
// counter-clockwise from the lowest point, and the surface's shadow lies in it.
TEST(PoleSurfaceHull, HoldsThePolesAndTheSurfaceInTurnedFrames) {
  QORV_SEEDED(std::mt19937_64 rng, 2132);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 40; ++rep) {
    const double size = std::ldexp(1.0, int(rng() % 21) - 10), at = rep % 3 == 0 ? 1e4 * size : 0;
    const ERSpoleNURBS3D s = randomNurbs(rng, size, at);
    const ERPmIsometrie3D T =
        ERChgRepere3D(ERVector3D(u01(rng) - 0.5, u01(rng) - 0.5, u01(rng) - 0.5),
                      ERPoint3D(size * u01(rng), -at, 3 * size));
    const ERVec<ERPoint2D> h = rep % 2 ? s.getConvexHull(T) : s.getConvexHull();
    auto move = [&](const ERPoint3D& p) { return rep % 2 ? T >> p : p; };
    ASSERT_GE(h.length(), 3);
    const double tol = 1e-12 * (size + std::fabs(at));
    auto cross = [](const ERPoint2D& o, const ERPoint2D& a, const ERPoint2D& b) {
      return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
    };
    auto inside = [&](const ERPoint2D& q) {
      for (int k = 0; k < h.length(); ++k)
        if (cross(h[k], h[(k + 1) % h.length()], q) < -tol * size * 4) return false;
      return true;
    };
    for (int k = 0; k < h.length(); ++k) {
      EXPECT_GT(cross(h[k], h[(k + 1) % h.length()], h[(k + 2) % h.length()]), 0.0) << k;
      EXPECT_TRUE(h[0].y() < h[k].y() || (h[0].y() == h[k].y() && h[0].x() <= h[k].x()));
    }
    int corners = 0;
    for (int k = 0; k < s.poles().length(); ++k) {
      const ERPole3DH& H = s.poles().data()[k];
      const double w = H.data()[3];
      const ERPoint3D p = move(ERPoint3D(H.wx() / w, H.wy() / w, H.wz() / w));
      EXPECT_TRUE(inside(ERPoint2D(p.x(), p.y())));
      for (int c = 0; c < h.length(); ++c) corners += h[c].x() == p.x() && h[c].y() == p.y();
    }
    EXPECT_EQ(corners, h.length());
    for (int k = 0; k < 50; ++k) {
      const ERPoint3D p = move(s(u01(rng), u01(rng)));
      EXPECT_TRUE(inside(ERPoint2D(p.x(), p.y())));
    }
  }
  // Poles on a line: its two ends; a translation moves the cached hull; no net, no hull.
  ERMatrix<ERPoint3D> line(2, 3);
  for (int k = 0; k < 6; ++k) line.data()[k] = ERPoint3D(k % 3, k % 3, k / 3);
  ERSpoleBezier3D b(line);
  ERVec<ERPoint2D> h = b.getConvexHull();
  ASSERT_EQ(h.length(), 2);
  EXPECT_EQ((Seq{h[0].x(), h[1].x()}), (Seq{0, 2}));
  b.translate(ERPoint3D(5, 0, 0));
  EXPECT_EQ(b.getConvexHull()[0].x(), 5);
  EXPECT_EQ(ERSpoleNURBS3D().getConvexHull().length(), 0);
}

// Degree changes keep the surface; a reduction is exact after an elevation and reported inexact
// (Bezier: still made, corners kept; NURBS: refused, nothing changed) otherwise.
TEST(PoleSurfaceDegrees, ElevationAndReductionKeepTheSurface) {
  QORV_SEEDED(std::mt19937_64 rng, 2133);
  for (int rep = 0; rep < 30; ++rep) {
    const double size = std::ldexp(1.0, int(rng() % 41) - 20), at = rep % 3 == 0 ? 1e3 * size : 0;
    const double tol = 1e-10 * (size + at);
    const int du = int(rng() % 3), dv = int(rng() % 3);
    SCOPED_TRACE(testing::Message() << "rep " << rep << " du " << du << " dv " << dv);
    // NURBS
    const ERSpoleNURBS3D s = randomNurbs(rng, size, at);
    ERSpoleNURBS3D up(s);
    up.incrDegree(du, dv);
    EXPECT_EQ((Seq{up.degreeU(), up.degreeV()}), (Seq{s.degreeU() + du, s.degreeV() + dv}));
    EXPECT_LE(gap(s, up, rng), tol);
    if (du + dv > 0) {
      EXPECT_EQ((Seq{up.decrDegree(du, dv), up.degreeU(), up.degreeV(), up.nbPolesU()}),
                (Seq{1, s.degreeU(), s.degreeV(), s.nbPolesU()}));
      EXPECT_LE(gap(s, up, rng), tol);
    }
    // A generic net is not of a lower degree: refused, unchanged.
    if (s.degreeU() >= 2) {
      ERSpoleNURBS3D down(s);
      EXPECT_EQ((Seq{down.decrDegree(1, 0), down.degreeU(), gap(s, down, rng)}),
                (Seq{0, s.degreeU(), 0.0}));
    }
    // Bezier
    ERMatrix<ERPole3DH> H = sheet(rng, 2 + int(rng() % 4), 2 + int(rng() % 4), size, at);
    const ERSpoleBezier3DR z(H);
    ERSpoleBezier3DR zu(z);
    zu.incrDegree(du, dv);
    EXPECT_LE(gap(z, zu, rng), tol);
    EXPECT_EQ((Seq{zu.decrDegree(du, dv), zu.nbPolesU()}), (Seq{1, z.nbPolesU()}));
    EXPECT_LE(gap(z, zu, rng), tol);
    if (z.degreeU() >= 2) {
      ERSpoleBezier3DR zd(z);
      EXPECT_EQ((Seq{zd.decrDegree(1, 0), zd.degreeU(), qorv::distance(zd(0, 0), z(0, 0))}),
                (Seq{0, z.degreeU() - 1, 0.0}));
      EXPECT_LE(qorv::distance(zd(1, 1), z(1, 1)), tol);
    }
  }
  // Cartesian Bezier patch: a bilinear patch raised to bicubic comes back exactly.
  ERMatrix<ERPoint3D> bl(2, 2);
  bl(0, 0) = ERPoint3D(0, 0, 0), bl(0, 1) = ERPoint3D(1, 0, 1), bl(1, 0) = ERPoint3D(0, 1, 2),
        bl(1, 1) = ERPoint3D(1, 1, -1);
  ERSpoleBezier3D c(bl);
  c.incrDegree(2, 2);
  EXPECT_EQ((Seq{c.degreeU(), c.decrDegree(2, 2)}), (Seq{3, 1}));
  ASSERT_EQ(c.nbPolesU(), 2);
  for (int k = 0; k < 4; ++k) EXPECT_LE(qorv::distance(c.poles().data()[k], bl.data()[k]), 1e-14);
  // A degree 1 direction cannot go lower; an invalid net refuses.
  EXPECT_EQ((Seq{c.decrDegree(1, 0), c.degreeU(), ERSpoleNURBS3D().decrDegree(1, 1)}),
            (Seq{0, 1, 0}));
}

// The projection function: its gradient and Hessian against differences of the distance and of
// the gradient; the damped solver reaches the nearest point from a nearby start.
TEST(PoleSurfaceProjectionFunction, AnalyticDerivativesAndTheDampedSolver) {
  QORV_SEEDED(std::mt19937_64 rng, 2134);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  int solved = 0;
  for (int rep = 0; rep < 30; ++rep) {
    const double size = std::ldexp(1.0, int(rng() % 21) - 10);
    const ERSpoleNURBS3D s = randomNurbs(rng, size, rep % 2 ? 100 * size : 0.0);
    const ERInfoPoint3DSurf at = s.PtCur(0.2 + 0.6 * u01(rng), 0.2 + 0.6 * u01(rng));
    const ERPoint3D p = at.point() + at.normale() * (0.05 * size * (u01(rng) - 0.5)) +
                        ERVector3D(u01(rng), u01(rng), u01(rng)) * (0.2 * size);
    FctProjSpoleOnSurface<ERSpoleNURBS3D> F(s, p);
    for (int k = 0; k < 4; ++k) {
      // Away from knots (the partials jump there): at the middle of a span of each direction.
      ERVec<double> x(2);
      x[0] = 0.1 + 0.8 * u01(rng), x[1] = 0.1 + 0.8 * u01(rng);
      const double h = 1e-5;
      // The knots run over [0, 1]: no difference across one.
      bool across = false;
      for (int i = 0; i < s.knotsU().length(); ++i)
        across = across || std::fabs(s.knotsU()[i] - x[0]) < 2 * h;
      for (int i = 0; i < s.knotsV().length(); ++i)
        across = across || std::fabs(s.knotsV()[i] - x[1]) < 2 * h;
      if (across) continue;
      const ERVec<double> g = F.f(x);
      const ERMatrix<double> H = F.fprime(x);
      // Central differences with Richardson's rule (error of order h^4).
      auto central = [&](auto&& fn, int a, int b) {
        auto at = [&](double step) {
          ERVec<double> xp(x), xm(x);
          xp[a] += step, xm[a] -= step;
          return (fn(xp, b) - fn(xm, b)) / (2 * step);
        };
        return (4 * at(h / 2) - at(h)) / 3;
      };
      auto value = [&](const ERVec<double>& y, int) { return F.phi(y); };
      auto slope = [&](const ERVec<double>& y, int b) { return F.f(y)[b]; };
      for (int a = 0; a < 2; ++a) {
        EXPECT_NEAR(g[a], central(value, a, 0), 1e-7 * (size + std::fabs(g[a])));
        for (int b = 0; b < 2; ++b)
          EXPECT_NEAR(H(b, a), central(slope, a, b), 1e-6 * (size + std::fabs(H(b, a))));
      }
      EXPECT_EQ(H(0, 1), H(1, 0));
    }
  }
  // The damped solver on a smooth patch, from near the foot (within the basin of the distance,
  // which narrows with the distance itself).
  for (int rep = 0; rep < 30; ++rep) {
    const double size = std::ldexp(1.0, int(rng() % 21) - 10);
    const ERSpoleBezier3DR s(sheet(rng, 4, 4, size, rep % 2 ? 100 * size : 0.0));
    const double u = 0.2 + 0.6 * u01(rng), v = 0.2 + 0.6 * u01(rng);
    const ERInfoPoint3DSurf at = s.PtCur(u, v);
    const ERPoint3D p = at.point() + at.normale() * (size * (0.1 + 0.2 * u01(rng)));
    FctProjSpoleOnSurface<ERSpoleBezier3DR> F(s, p);
    ERPoint2D uv;
    const double d = s.nearest(p, uv);
    ERVec<double> X(2);
    X[0] = uv.x() + 0.04 * (u01(rng) - 0.5), X[1] = uv.y() + 0.04 * (u01(rng) - 0.5);
    ERNewtonMSolverEx solver(&F, 1e-14, 50);
    solver.Resoudre(X, 1e-12);
    if (std::fabs(F.phi(X) - d) <= 1e-9 * size) ++solved;
  }
  // Every start lies in the basin; one may still stall on the solver's smallest damping.
  EXPECT_GE(solved, 28);
  ERMatrix<ERPoint3D> flat(2, 2);
  flat(0, 0) = ERPoint3D(0, 0, 0), flat(0, 1) = ERPoint3D(1, 0, 0), flat(1, 0) = ERPoint3D(0, 1, 0),
          flat(1, 1) = ERPoint3D(1, 1, 0);
  const ERSpoleBezier3D plane(flat);
  FctProjSpoleOnSurface<ERSpoleBezier3D> G(plane, ERPoint3D(0.25, 0.5, 0));
  ERVec<double> x(2);
  x[0] = 0.25, x[1] = 0.5;
  EXPECT_EQ((Seq{G.phi(x), G.f(x)[0]}), (Seq{0.0, 0.0}));
  EXPECT_EQ(G.fprime(x)(0, 0), 1.0);  // J^T J of the unit square
  EXPECT_EQ(G.HDomaine(x), 0);
  x[0] = 1.5;
  EXPECT_EQ((Seq{G.HDomaine(x), std::isnan(G.phi(ERVec<double>(3))),
                 std::isnan(G.fprime(ERVec<double>(1))(1, 1))}),
            (Seq{1, true, true}));
}

// Awkward nets: the nearest point stays global where it can (a degree past the Bezier bounds, a
// net too large to keep its samples, a weight of 0 or below), NaN where nothing evaluates, and
// never loops or reads outside the net.
TEST(PoleSurfaceNearestEdgeCases, AwkwardNetsAndPoints) {
  QORV_SEEDED(std::mt19937_64 rng, 2135);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  // The dense reference of a point: the grid's best sample, never beaten by more than rounding.
  auto sampled = [](const ERSpoleRep& s, const ERPoint3D& p, int n) {
    double best = HUGE_VAL;
    for (int j = 0; j <= n; ++j)
      for (int i = 0; i <= n; ++i) {
        const double d = qorv::distance(
            s(s.udeb() + (s.ufin() - s.udeb()) * i / n, s.vdeb() + (s.vfin() - s.vdeb()) * j / n),
            p);
        if (std::isfinite(d)) best = std::min(best, d);
      }
    return best;
  };
  {  // degree 45 in u (no Bezier bounds), 2 in v
    ERMatrix<ERPole3DH> H = sheet(rng, 46, 3, 1.0, 0.0);
    const ERSpoleBezier3DR s(H);
    for (int k = 0; k < 10; ++k) {
      const ERPoint3D p(u01(rng), u01(rng), u01(rng) - 0.5);
      ERPoint2D uv;
      const double d = s.nearest(p, uv);
      EXPECT_LE(d, sampled(s, p, 200) + 1e-12);
    }
  }
  {  // 300 x 300 bicubic spans: more samples than are kept
    const int n = 303;
    ERMatrix<ERPole3DH> H(n, n);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        const double x = double(i) / n, y = double(j) / n;
        H(j, i) = ERPole3DH(x, y, 0.05 * std::sin(7 * x) * std::cos(5 * y), 1.0);
      }
    std::vector<double> U(4, 0.0);
    for (int k = 1; k < n - 3; ++k) U.push_back(double(k) / (n - 3));
    U.insert(U.end(), 4, 1.0);
    const ERKnotVector K(3, U.data(), int(U.size()));
    const ERSpoleNURBS3D s(H, K, K);
    for (int k = 0; k < 5; ++k) {
      const ERInfoPoint3DSurf at = s.PtCur(u01(rng), u01(rng));
      const ERPoint3D p = at.point() + at.normale() * 0.001;
      ERPoint2D uv;
      EXPECT_NEAR(s.nearest(p, uv), 0.001, 1e-12);
    }
  }
  const double k2[] = {0, 0, 0, 1, 1, 1};
  ERMatrix<ERPole3DH> H(3, 3);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) H(j, i) = ERPole3DH(i, j, (i - 1) * (j - 1), 1.0);
  const ERKnotVector K(2, k2, 6);
  for (double w : {0.0, -0.5}) {  // a corner weight of 0 or below: no pruning, no crash
    ERMatrix<ERPole3DH> Z = H;
    Z(1, 1) = ERPole3DH(w, w, 0, w);
    const ERSpoleNURBS3D s(Z, K, K);
    ERPoint2D uv;
    const ERPoint3D p(0.5, 0.7, 2.0);
    const double d = s.nearest(p, uv);
    if (std::isfinite(d)) {
      EXPECT_LE(d, sampled(s, p, 200) + 1e-12);
    }
  }
  {  // a NaN or infinite pole: nothing evaluates, NaN
    for (double bad : {std::nan(""), HUGE_VAL}) {
      ERMatrix<ERPole3DH> Z = H;
      Z(1, 1) = ERPole3DH(bad, 0, 0, 1);
      const ERSpoleNURBS3D s(Z, K, K);
      ERPoint2D uv(7, 7);
      EXPECT_EQ((Seq{std::isnan(s.nearest(ERPoint3D(0, 0, 0), uv)), uv.x()}), (Seq{true, 7}));
    }
  }
  {  // points at the ends of the doubles
    const ERSpoleNURBS3D s(H, K, K);
    ERPoint2D uv;
    EXPECT_NEAR(s.nearest(ERPoint3D(1, 1, 1e300), uv), 1e300, 1e288);
    EXPECT_TRUE(std::isnan(s.nearest(ERPoint3D(HUGE_VAL, 0, 0), uv)));
    EXPECT_NEAR(s.nearest(ERPoint3D(1, 1, 1e-300), uv), 1e-300, 1e-312);
  }
}
