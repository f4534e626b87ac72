#include "qorv/freeform/pole_surfaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/persistence/object_database.h"
#include "tests/freeform/freeform_support.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/persistence/test_files.h"
#include "tests/test_seed.h"

using namespace qorv;
using qorv_test::Bytes, QuickAlgebra::ERMatrix;

namespace {

using LD = long double;

// A random net: knots of every multiplicity, weights in [0.3, 3], coordinates of size `size`.
struct RandomNet {
  int p = 1, q = 1, nu = 2, nv = 2;
  std::vector<double> U, V;
  std::vector<double> H;  // (w x, w y, w z, w), row j (v) after row j - 1
  double size = 1.0;
  bool weighted = true;
};

std::vector<double> randomKnots(std::mt19937_64& rng, int p, int n) {
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  std::vector<double> U;
  const double a = std::ldexp(u01(rng) - 0.5, int(rng() % 7) - 3);
  const double len = std::ldexp(0.5 + u01(rng), int(rng() % 7) - 3);
  for (int i = 0; i <= p; ++i) U.push_back(a);
  // n - p - 1 interior knots, in runs of multiplicity 1 .. p.
  std::vector<double> inner;
  while (int(inner.size()) < n - p - 1) {
    const double t = a + len * (0.05 + 0.9 * u01(rng));
    const int mult = std::min<int>(1 + int(rng() % p), n - p - 1 - int(inner.size()));
    for (int k = 0; k < mult; ++k) inner.push_back(t);
  }
  std::sort(inner.begin(), inner.end());
  U.insert(U.end(), inner.begin(), inner.end());
  for (int i = 0; i <= p; ++i) U.push_back(a + len);
  return U;
}

RandomNet randomNet(std::mt19937_64& rng, bool bezier, bool weighted) {
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  RandomNet r;
  r.p = 1 + int(rng() % 5), r.q = 1 + int(rng() % 5);
  r.nu = bezier ? r.p + 1 : r.p + 1 + int(rng() % 6);
  r.nv = bezier ? r.q + 1 : r.q + 1 + int(rng() % 6);
  r.U = randomKnots(rng, r.p, r.nu);
  r.V = randomKnots(rng, r.q, r.nv);
  static const double scales[] = {1e-300, 1e-20, 1e-3, 1.0, 1e3, 1e20, 1e290};
  r.size = scales[rng() % 7];
  r.weighted = weighted;
  for (int k = 0; k < r.nu * r.nv; ++k) {
    const double w = weighted ? 0.3 + 2.7 * u01(rng) : 1.0;
    for (int c = 0; c < 3; ++c) r.H.push_back(w * r.size * (2 * u01(rng) - 1));
    r.H.push_back(w);
  }
  return r;
}

ERMatrix<ERPole3DH> homogeneous(const RandomNet& r) {
  ERMatrix<ERPole3DH> m(r.nv, r.nu);
  for (int k = 0; k < r.nu * r.nv; ++k)
    m.data()[k] = ERPole3DH(r.H[4 * k], r.H[4 * k + 1], r.H[4 * k + 2], r.H[4 * k + 3]);
  return m;
}
ERMatrix<ERPoint3D> cartesian(const RandomNet& r) {
  ERMatrix<ERPoint3D> m(r.nv, r.nu);
  for (int k = 0; k < r.nu * r.nv; ++k)
    m.data()[k] = ERPoint3D(r.H[4 * k], r.H[4 * k + 1], r.H[4 * k + 2]);
  return m;
}
ERSpoleNURBS3D nurbsOf(const RandomNet& r) {
  return ERSpoleNURBS3D(homogeneous(r), ERKnotVector(r.p, r.U.data(), int(r.U.size())),
                        ERKnotVector(r.q, r.V.data(), int(r.V.size())));
}
// The rational Bezier patch on the knots' limits, or the NURBS surface.
std::unique_ptr<ERSpoleRep> surfaceOf(const RandomNet& r, bool bezier) {
  if (!bezier) return std::make_unique<ERSpoleNURBS3D>(nurbsOf(r));
  return std::make_unique<ERSpoleBezier3DR>(homogeneous(r), ERLimites(r.U.front(), r.U.back()),
                                            ERLimites(r.V.front(), r.V.back()));
}

// A unit circle of four rational quadratic pieces, closed in u, swept `length` along z (along x
// when alongX): the poles over kCircleU x kCircleV.
const double kCircleU[] = {0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 4}, kCircleV[] = {0, 0, 1, 1};
ERMatrix<ERPole3DH> circlePoles(double length, bool alongX) {
  const double c[9][2] = {{1, 0},   {1, 1},  {0, 1},  {-1, 1}, {-1, 0},
                          {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
  ERMatrix<ERPole3DH> H(2, 9);
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 9; ++i) {
      const double w = i % 2 ? std::sqrt(0.5) : 1.0, h = w * length * j;
      H(j, i) = alongX ? ERPole3DH(h, w * c[i][0], w * c[i][1], w)
                       : ERPole3DH(w * c[i][0], w * c[i][1], h, w);
    }
  return H;
}

// A smooth random sheet (the poles on a wavy grid), as a NURBS surface or a rational Bezier patch.
std::unique_ptr<ERSpoleRep> wavySheet(std::mt19937_64& rng, int rep, RandomNet& r) {
  r = randomNet(rng, rep % 5 == 0, rep % 3 != 0);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int j = 0; j < r.nv; ++j)
    for (int i = 0; i < r.nu; ++i) {
      double* h = &r.H[4 * (j * r.nu + i)];
      const double w = h[3];
      h[0] = w * r.size * (double(i) / r.nu + 0.1 * u01(rng));
      h[1] = w * r.size * (double(j) / r.nv + 0.1 * u01(rng));
      h[2] = w * r.size * 0.4 * (u01(rng) - 0.5);
    }
  return surfaceOf(r, rep % 5 == 0);
}

// The span the record is to use: on the right of u, on the left at or past the upper limit.
int refSpan(const std::vector<double>& U, int p, double u, double top) {
  const int n = int(U.size()) - p - 1;
  int s = p;
  if (u >= top) {
    for (int k = p; k < n; ++k)
      if (U[k] < u && U[k] < U[k + 1]) s = k;
  } else {
    for (int k = p; k < n; ++k)
      if (U[k] <= u && U[k] < U[k + 1]) s = k;
  }
  return s;
}

// de Boor's algorithm on the span's polynomial, long double, homogeneous.
void deBoor(const std::vector<double>& U, int p, int s, const LD* P, int stride, LD t, LD* out) {
  std::vector<LD> d((p + 1) * 4);
  for (int j = 0; j <= p; ++j)
    for (int c = 0; c < 4; ++c) d[j * 4 + c] = P[(s - p + j) * stride + c];
  for (int r = 1; r <= p; ++r)
    for (int j = p; j >= r; --j) {
      const int i = s - p + j;
      const LD den = LD(U[i + p - r + 1]) - LD(U[i]);
      const LD a = den != 0 ? (t - LD(U[i])) / den : 0;
      for (int c = 0; c < 4; ++c) d[j * 4 + c] = (1 - a) * d[(j - 1) * 4 + c] + a * d[j * 4 + c];
    }
  for (int c = 0; c < 4; ++c) out[c] = d[p * 4 + c];
}

// S(u, v) of the spans (su, sv), extended beyond them: rows at u, then the column at v.
void refPoint(const RandomNet& r, int su, int sv, LD u, LD v, LD out[3]) {
  std::vector<LD> col(r.nv * 4), row(r.nu * 4);
  for (int j = 0; j < r.nv; ++j) {
    for (int i = 0; i < r.nu * 4; ++i) row[i] = r.H[j * r.nu * 4 + i];
    deBoor(r.U, r.p, su, row.data(), 4, u, &col[j * 4]);
  }
  LD h[4];
  deBoor(r.V, r.q, sv, col.data(), 4, v, h);
  for (int c = 0; c < 3; ++c) out[c] = h[c] / h[3];
}

// The nine derivatives by five-point differences of the span's polynomial.
void refDerivatives(const RandomNet& r, double u, double v, double utop, double vtop, LD d[9][3]) {
  const int su = refSpan(r.U, r.p, u, utop), sv = refSpan(r.V, r.q, v, vtop);
  // Steps of a thousandth of the spans' own lengths: the polynomials there are smooth.
  const LD hu = LD(r.U[su + 1] - r.U[su]) * 1e-4L, hv = LD(r.V[sv + 1] - r.V[sv]) * 1e-4L;
  LD f[5][5][3];
  for (int a = 0; a < 5; ++a)
    for (int b = 0; b < 5; ++b) refPoint(r, su, sv, u + (a - 2) * hu, v + (b - 2) * hv, f[a][b]);
  const LD w1[5] = {1, -8, 0, 8, -1}, w2[5] = {-1, 16, -30, 16, -1};
  for (int c = 0; c < 3; ++c) {
    auto mix = [&](const LD* wa, const LD* wb, bool da, bool db) {
      LD s = 0;
      for (int a = 0; a < 5; ++a)
        for (int b = 0; b < 5; ++b) {
          const LD ca = da ? wa[a] : (a == 2 ? 1 : 0), cb = db ? wb[b] : (b == 2 ? 1 : 0);
          if (ca != 0 && cb != 0) s += ca * cb * f[a][b][c];
        }
      return s;
    };
    d[0][c] = f[2][2][c];
    d[1][c] = mix(w1, w1, true, false) / (12 * hu);
    d[2][c] = mix(w2, w2, true, false) / (12 * hu * hu);
    d[3][c] = mix(w1, w1, false, true) / (12 * hv);
    d[4][c] = mix(w1, w1, true, true) / (144 * hu * hv);
    d[6][c] = mix(w2, w2, false, true) / (12 * hv * hv);
    // Elements 5, 7 and 8 (past order 2 in sum) are not compared.
  }
}

std::string describe(const RandomNet& r) {
  std::ostringstream os;
  os.precision(17);
  os << "p " << r.p << " q " << r.q << " nu " << r.nu << " nv " << r.nv << " size " << r.size
     << " U";
  for (double x : r.U) os << ' ' << x;
  os << " V";
  for (double x : r.V) os << ' ' << x;
  return os.str();
}

void checkRecord(const ERSpoleRep& s, const RandomNet& r, double u, double v) {
  const ERInfoPoint3DSurf info = s.PtCur(u, v);
  ASSERT_EQ((Seq{info.derivatives().rows(), info.derivatives().cols()}), (Seq{3, 3}));
  LD d[9][3];
  refDerivatives(r, u, v, s.ufin(), s.vfin(), d);
  const double lu = r.U.back() - r.U.front(), lv = r.V.back() - r.V.front();
  // Size of a derivative: the net's size times (degree / length)^k, with room for the
  // weights and the short spans.
  const double gu = 40.0 * r.p / lu * 40, gv = 40.0 * r.q / lv * 40;
  static const int orders[9][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1},
                                   {2, 1}, {0, 2}, {1, 2}, {2, 2}};
  for (int k : {0, 1, 2, 3, 4, 6}) {
    const double scale = r.size * std::pow(gu, orders[k][0]) * std::pow(gv, orders[k][1]);
    const double tol = (k == 0 ? 1e-13 : 2e-7) * scale;
    for (int c = 0; c < 3; ++c)
      ASSERT_NEAR(info.derivatives().data()[k].data()[c], double(d[k][c]), tol)
          << "element " << k << " at (" << u << ", " << v << ")";
  }
  const ERPoint3D p = s(u, v);
  for (int c = 0; c < 3; ++c) ASSERT_EQ(p.data()[c], info.point().data()[c]);
  // The first-order record: the same point and first partials, nothing of order two.
  const ERInfoPoint3DSurf first = s.PtCur1(u, v);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      const ERVector3D want = i + j <= 1 ? info.partial(i, j) : ERVector3D(0, 0, 0);
      ASSERT_EQ(first.partial(i, j), want) << "first order " << i << j << " at " << u << ", " << v;
    }
}

std::vector<double> probes(std::mt19937_64& rng, const std::vector<double>& U, int p) {
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  const int n = int(U.size()) - p - 1;
  std::vector<double> t;
  for (int i = p; i <= n; ++i) t.push_back(U[i]);
  for (int k = 0; k < 4; ++k) t.push_back(U[p] + (U[n] - U[p]) * u01(rng));
  return t;
}

// ---------------------------------------------------------------------------------------------
TEST(PoleSurfaces, NurbsRecordAgainstLongDoubleDeBoorAtKnotsBoundsAndCorners) {
  QORV_SEEDED(std::mt19937_64 rng, 2101);
  for (int rep = 0; rep < 150; ++rep) {
    const RandomNet r = randomNet(rng, false, rep % 4 != 0);
    SCOPED_TRACE(describe(r));
    ERSpoleNURBS3D s = nurbsOf(r);
    ASSERT_EQ(s.isValid(), 1);
    for (double u : probes(rng, r.U, r.p))
      for (double v : probes(rng, r.V, r.q)) checkRecord(s, r, u, v);
    // A trimmed surface evaluates on the left at its upper limits, interior knots included.
    const double tu = r.U[r.p + (r.nu - r.p) / 2], tv = r.V[r.q + (r.nv - r.q) / 2];
    if (tu > s.udeb() && tv > s.vdeb()) {
      s.setBound(ERLimites(s.udeb(), tu), ERLimites(s.vdeb(), tv));
      checkRecord(s, r, tu, tv);
      checkRecord(s, r, s.udeb(), tv);
    }
  }
}

TEST(PoleSurfaces, BezierRecordsOnTheirNaturalLimits) {
  QORV_SEEDED(std::mt19937_64 rng, 2102);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 120; ++rep) {
    const bool weighted = rep % 2 == 0;
    const RandomNet r = randomNet(rng, true, weighted);
    SCOPED_TRACE(describe(r));
    const ERLimites U(r.U.front(), r.U.back()), V(r.V.front(), r.V.back());
    std::unique_ptr<ERSpoleRep> s;
    if (weighted)
      s.reset(new ERSpoleBezier3DR(homogeneous(r), U, V));
    else
      s.reset(new ERSpoleBezier3D(cartesian(r), U, V));
    ASSERT_EQ(s->isValid(), 1);
    for (double u : {U.start(), U.end(), U.start() + (U.end() - U.start()) * u01(rng)})
      for (double v : {V.start(), V.end(), V.start() + (V.end() - V.start()) * u01(rng)})
        checkRecord(*s, r, u, v);
    // Trimming keeps the shape: the mapping reads the natural limits.
    const ERPoint3D before =
        (*s)(U.start() + 0.4 * (U.end() - U.start()), V.start() + 0.7 * (V.end() - V.start()));
    s->setBound(ERLimites(U.start() + 0.25 * (U.end() - U.start()), U.end()), V);
    const ERPoint3D after =
        (*s)(U.start() + 0.4 * (U.end() - U.start()), V.start() + 0.7 * (V.end() - V.start()));
    EXPECT_EQ(before, after);
  }
}

TEST(PoleSurfaces, CollapsedEdgeHasAZeroPartialAndAStableNormal) {
  // Row v = 0 collapses into the apex of a dome: Su = 0 along that edge.
  ERMatrix<ERPole3DH> H(3, 3);
  for (int i = 0; i < 3; ++i) {
    H(0, i) = ERPole3DH(0, 0, 1, 1);
    H(1, i) = ERPole3DH(i - 1.0, 1, 1, 1);
    H(2, i) = ERPole3DH(i - 1.0, 2, 0, 1);
  }
  const double k[] = {0, 0, 0, 1, 1, 1};
  const ERSpoleNURBS3D s(H, ERKnotVector(2, k, 6), ERKnotVector(2, k, 6));
  for (double u : {0.0, 0.3, 1.0}) {
    const ERInfoPoint3DSurf info = s.PtCur(u, 0.0);
    EXPECT_EQ(info.tangenteU().norme(), 0.0);
    int degenerate = 0;
    const ERVector3D n =
        get_stable_normal(static_cast<const ERAnyBoundedSurface&>(s), info, degenerate);
    EXPECT_EQ(degenerate, 1);
    EXPECT_NEAR(n.norme(), 1.0, 1e-12);
    // The normal is the limit of the normals nearby.
    const ERVector3D near = s.PtCur(u, 1e-6).normale();
    EXPECT_GT(n * near, 0.999) << u;
  }
}

TEST(PoleSurfaces, BrokenNetsGiveNaNRecordsAndNoBox) {
  const double k3[] = {0, 0, 0, 1, 1, 1}, kShort[] = {0, 0, 1, 1};
  ERMatrix<ERPole3DH> H(3, 3);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) H(j, i) = ERPole3DH(i, j, i * j, 1.0);
  auto isNaN = [](const ERInfoPoint3DSurf& info) {
    for (int k = 0; k < info.derivatives().length(); ++k)
      if (!std::isnan(info.derivatives().data()[k].x())) return false;
    return info.derivatives().length() == 9;
  };
  {  // knots that do not fit the net
    const ERSpoleNURBS3D s(H, ERKnotVector(2, kShort, 4), ERKnotVector(2, k3, 6));
    EXPECT_EQ(s.isValid(), 0);
    EXPECT_EQ((Seq{isNaN(s.PtCur(0.5, 0.5)), isNaN(s.PtCur1(0.5, 0.5))}), (Seq{true, true}));
    EXPECT_EQ((Seq{s.getBox(), bool(s.getEntityIsoU(0.5).isNull())}), (Seq{ERMinimax3D(), true}));
    int cu = 1, cv = 1;
    s.GetNumberOfSpans(cu, cv);
    EXPECT_EQ(cu + cv, 0);
  }
  {  // a degree past 1024, as a damaged record could hold
    ERMatrix<ERPole3DH> row(1, 1500, ERPole3DH(1, 2, 3, 1));
    const double kv0[] = {0, 1};
    const ERSpoleNURBS3D s(row, ERKnotVector(1499, ERLimites(0, 1)), ERKnotVector(0, kv0, 2));
    EXPECT_EQ((Seq{s.isValid(), bool(isNaN(s.PtCur(0.5, 0.5)))}), (Seq{0, true}));
    ERPoint2D uv;
    EXPECT_TRUE(std::isnan(s.nearest(ERPoint3D(0, 0, 0), uv)));
  }
  {  // an empty net
    const ERSpoleNURBS3D s;
    EXPECT_EQ((Seq{s.isValid(), bool(isNaN(s.PtCur(0, 0)))}), (Seq{0, true}));
    const ERSpoleBezier3D b;
    EXPECT_EQ((Seq{isNaN(b.PtCur(0, 0)), std::isnan(b(0.2, 0.2).x())}), (Seq{true, true}));
  }
  {  // a zero weight at a corner: NaN there, values elsewhere
    ERMatrix<ERPole3DH> Z = H;
    Z(0, 0) = ERPole3DH(0, 0, 0, 0);
    const ERSpoleNURBS3D s(Z, ERKnotVector(2, k3, 6), ERKnotVector(2, k3, 6));
    EXPECT_EQ(s.isValid(), 0);
    EXPECT_EQ((Seq{isNaN(s.PtCur(0, 0)), isNaN(s.PtCur1(0, 0)), std::isfinite(s(0.5, 0.5).x())}),
              (Seq{true, true, true}));
  }
  {  // NaN pole and NaN parameter
    ERMatrix<ERPole3DH> Z = H;
    Z(1, 1) = ERPole3DH(NAN, 0, 0, 1);
    const ERSpoleNURBS3D s(Z, ERKnotVector(2, k3, 6), ERKnotVector(2, k3, 6));
    EXPECT_EQ((Seq{s.isValid(), bool(isNaN(s.PtCur(0.5, 0.5)))}), (Seq{0, true}));
    const ERSpoleNURBS3D t(H, ERKnotVector(2, k3, 6), ERKnotVector(2, k3, 6));
    EXPECT_EQ((Seq{isNaN(t.PtCur(NAN, 0.5)), isNaN(t.PtCur1(0.5, NAN))}), (Seq{true, true}));
    EXPECT_TRUE(t.getEntityIsoV(NAN).isNull());
  }
}

TEST(PoleSurfaces, MovesActOnEveryPoint) {
  QORV_SEEDED(std::mt19937_64 rng, 2104);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 30; ++rep) {
    RandomNet r = randomNet(rng, false, true);
    for (std::size_t k = 0; k < r.H.size(); ++k)
      if (k % 4 != 3) r.H[k] /= r.size;
    r.size = 1.0;
    const ERSpoleNURBS3D s = nurbsOf(r);
    const ERPmIsometrie3D T =
        ERChgRepere3D(ERVector3D(u01(rng) - 0.5, u01(rng) - 0.5, u01(rng) + 0.1),
                      ERPoint3D(100 * u01(rng), -50, 3));
    ERSpoleNURBS3D a(s), b(s), c(s);
    a.transformFrom(T);
    b.transformTo(T);
    c.reverse();
    ERSpoleNURBS3D d(s);
    d.scale(-2.5);
    d.translate(ERPoint3D(1, 2, 3));
    for (int k = 0; k < 20; ++k) {
      const double u = s.udeb() + (s.ufin() - s.udeb()) * u01(rng);
      const double v = s.vdeb() + (s.vfin() - s.vdeb()) * u01(rng);
      const ERPoint3D p = s(u, v);
      EXPECT_LE(qorv::distance(a(u, v), T >> p), 1e-11 * (1 + ERVector3D(p).norme()) * 100);
      EXPECT_LE(qorv::distance(b(u, v), T << p), 1e-11 * (1 + ERVector3D(p).norme()) * 100);
      EXPECT_LE(qorv::distance(c(v, u), p), 1e-14);
      const ERPoint3D e(-2.5 * p.x() + 1, -2.5 * p.y() + 2, -2.5 * p.z() + 3);
      EXPECT_LE(qorv::distance(d(u, v), e), 1e-13 * 10);
      // reverse turns the normal.
      EXPECT_LT(c.PtCur(v, u).normale() * s.PtCur(u, v).normale(), -0.999);
    }
    t_SmartPtr<ERAnyBoundedSurface> lo, hi;
    const double m = 0.5 * (s.udeb() + s.ufin());
    ASSERT_EQ(s.SplitInU(lo, hi, m), 1);
    EXPECT_EQ((Seq{lo->ufin(), hi->udeb()}), (Seq{m, m}));
    EXPECT_EQ((*hi)(m, s.vdeb()), s(m, s.vdeb()));
    EXPECT_EQ(s.SplitInV(lo, hi, s.vfin()), 0);
  }
}

TEST(PoleSurfaces, StoredImagesPrintFormsAndDamagedRecords) {
  const double ku[] = {0, 0, 1, 2, 2}, kv[] = {0, 0, 1, 1};
  ERMatrix<ERPole3DH> H(2, 3);
  for (int k = 0; k < 6; ++k) H.data()[k] = ERPole3DH(k, -k, 0.5 * k, 1.0 + k);
  const ERSpoleNURBS3D s(H, ERKnotVector(1, ku, 5), ERKnotVector(1, kv, 4));
  Bytes expect;
  for (int t = 0; t < 2; ++t)
    for (double x : {0.0, 2.0, 0.0, 1.0}) qorv_test::putDouble(expect, x);
  qorv_test::putInt(expect, 2), qorv_test::putInt(expect, 3), qorv_test::putInt(expect, 6 * 32);
  for (int k = 0; k < 6; ++k)
    for (double x : {double(k), double(-k), 0.5 * k, 1.0 + k}) qorv_test::putDouble(expect, x);
  qorv_test::putInt(expect, 40);
  for (double x : ku) qorv_test::putDouble(expect, x);
  qorv_test::putInt(expect, 1), qorv_test::putInt(expect, 0);
  qorv_test::putInt(expect, 32);
  for (double x : kv) qorv_test::putDouble(expect, x);
  qorv_test::putInt(expect, 1), qorv_test::putInt(expect, 0);
  const Bytes image = qorv_test::imageOf(s);
  EXPECT_EQ((Seq{image, s.binaryStoreSize()}), (Seq{expect, image.size()}));

  ERSpoleNURBS3D back;
  qorv_test::restoreValue(back, image);
  EXPECT_EQ((Seq{qorv_test::imageOf(back), back(0.7, 0.2)}), (Seq{image, s(0.7, 0.2)}));
  // Every truncation and knots that do not fit the net leave the surface as it was.
  for (std::size_t cut = 0; cut < image.size(); cut += 7) {
    ERSpoleNURBS3D t(s);
    qorv_test::restoreValue(t, Bytes(image.begin(), image.begin() + cut));
    ASSERT_EQ(qorv_test::imageOf(t), image) << cut;
  }
  Bytes misfit = image;
  misfit[64 + 4] = 2;  // 2 columns for knots of 3 poles
  misfit[64 + 8] = 4 * 32;
  misfit.erase(misfit.begin() + 64 + 12 + 4 * 32, misfit.begin() + 64 + 12 + 6 * 32);
  ERSpoleNURBS3D t(s);
  qorv_test::restoreValue(t, misfit);
  EXPECT_EQ(qorv_test::imageOf(t), image);

  const std::string form = qorv_test::printed(s);
  std::ostringstream os;
  os << "Lim  U " << ERLimites(0, 2) << "\nLim  V " << ERLimites(0, 1) << "\nTrim U "
     << ERLimites(0, 2) << "\nTrim V " << ERLimites(0, 1) << "\nControl Points :\n";
  H.printOn(os);
  os << "\nKnot u         :";
  ERKnotVector(1, ku, 5).printOn(os);
  os << "\nKnot v         :";
  ERKnotVector(1, kv, 4).printOn(os);
  os << "\n";
  EXPECT_EQ(form, os.str());

  ERMatrix<ERPoint3D> P(2, 2);
  P(1, 1) = ERPoint3D(1, 2, 3);
  const ERSpoleBezier3D b(P);
  Bytes eb;
  for (int t2 = 0; t2 < 4; ++t2) qorv_test::putDouble(eb, 0.0), qorv_test::putDouble(eb, 1.0);
  qorv_test::putInt(eb, 2), qorv_test::putInt(eb, 2), qorv_test::putInt(eb, 4 * 24);
  for (int k = 0; k < 12; ++k) qorv_test::putDouble(eb, k < 9 ? 0.0 : 1.0 + (k - 9));
  EXPECT_EQ(qorv_test::imageOf(b), eb);
  std::ostringstream ob;
  ob << "Lim  U " << ERLimites(0, 1) << "\nLim  V " << ERLimites(0, 1) << "\nTrim U "
     << ERLimites(0, 1) << "\nTrim V " << ERLimites(0, 1) << "\nLes Poles :\n";
  P.printOn(ob);
  ob << "\n";
  EXPECT_EQ(qorv_test::printed(b), ob.str());
}

// ---------------------------------------------------------------------------------------------

// The reference nearest point: a dense grid over the limits, refined by a clamped
// Gauss-Newton step with halving, and the four boundary curves sampled and refined alike.
double refNearest(const ERSpoleRep& s, const ERPoint3D& p, int grid, ERPoint2D* at = nullptr) {
  const double ua = s.udeb(), ub = s.ufin(), va = s.vdeb(), vb = s.vfin();
  auto dist = [&](double u, double v) { return qorv::distance(s(u, v), p); };
  ERPoint2D where;
  double whereD = HUGE_VAL;
  auto polish = [&](double u, double v, bool fu, bool fv) {
    double best = dist(u, v);
    struct Keep {
      double& u;
      double& v;
      double& best;
      ERPoint2D& where;
      double& whereD;
      ~Keep() {
        if (best < whereD) whereD = best, where = ERPoint2D(u, v);
      }
    } keep{u, v, best, where, whereD};
    for (int it = 0; it < 60; ++it) {
      const ERInfoPoint3DSurf info = s.PtCur(u, v);
      const ERVector3D r(p, info.point());
      const ERVector3D Su = info.tangenteU(), Sv = info.tangenteV();
      double a = fu ? 1 : Su * Su, b = fu || fv ? 0 : Su * Sv, c = fv ? 1 : Sv * Sv;
      const double g0 = fu ? 0 : Su * r, g1 = fv ? 0 : Sv * r;
      const double det = a * c - b * b;
      if (!(det > 0)) break;
      double s0 = -(c * g0 - b * g1) / det, s1 = -(a * g1 - b * g0) / det;
      bool moved = false;
      for (int k = 0; k < 30 && !moved; ++k, s0 *= 0.5, s1 *= 0.5) {
        const double un = std::clamp(u + s0, ua, ub), vn = std::clamp(v + s1, va, vb);
        const double dn = dist(un, vn);
        if (dn < best) best = dn, u = un, v = vn, moved = true;
      }
      if (!moved) break;
    }
    return best;
  };
  double best = HUGE_VAL, bu = ua, bv = va;
  for (int j = 0; j <= grid; ++j)
    for (int i = 0; i <= grid; ++i) {
      const double u = ua + (ub - ua) * i / grid, v = va + (vb - va) * j / grid;
      const double d = dist(u, v);
      if (d < best) best = d, bu = u, bv = v;
    }
  best = std::min(best, polish(bu, bv, false, false));
  const int edge = 20 * grid;
  for (int side = 0; side < 4; ++side) {
    double eb = HUGE_VAL, et = 0;
    for (int k = 0; k <= edge; ++k) {
      const double t = double(k) / edge;
      const double u = side < 2 ? ua + (ub - ua) * t : (side == 2 ? ua : ub);
      const double v = side < 2 ? (side == 0 ? va : vb) : va + (vb - va) * t;
      const double d = dist(u, v);
      if (d < eb) eb = d, et = t;
    }
    const double u = side < 2 ? ua + (ub - ua) * et : (side == 2 ? ua : ub);
    const double v = side < 2 ? (side == 0 ? va : vb) : va + (vb - va) * et;
    best = std::min({best, eb, polish(u, v, side >= 2, side < 2)});
  }
  if (at != nullptr) *at = where;
  return best;
}

ERPoint3D probePoint(std::mt19937_64& rng, const ERSpoleRep& s, double size, int kind) {
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  const double u = s.udeb() + (s.ufin() - s.udeb()) * u01(rng);
  const double v = s.vdeb() + (s.vfin() - s.vdeb()) * u01(rng);
  const ERInfoPoint3DSurf info = s.PtCur(u, v);
  const ERVector3D n = info.normale();
  const ERVector3D r(u01(rng) - 0.5, u01(rng) - 0.5, u01(rng) - 0.5);
  switch (kind) {
    case 0:  // near, on either side
      return info.point() + n * ((u01(rng) - 0.5) * 0.1 * size);
    case 1:  // far
      return info.point() + r * (20 * size);
    default: {  // beyond an edge or a corner
      const double cu = u01(rng) < 0.5 ? s.udeb() : s.ufin();
      const double cv = kind == 2 ? v : (u01(rng) < 0.5 ? s.vdeb() : s.vfin());
      const ERInfoPoint3DSurf c = s.PtCur(cu, cv);
      const double su = cu == s.udeb() ? -1 : 1;
      ERVector3D out = c.tangenteU() * su;
      if (kind == 3) out = out + c.tangenteV() * (cv == s.vdeb() ? -1.0 : 1.0);
      const double len = out.norme();
      if (!(len > 0)) return c.point() + r * size;
      return c.point() + out * (u01(rng) * size / len) + r * (0.3 * size);
    }
  }
}

// Points of every kind about s (of size `size`) against the dense grid of `grid` steps each way
// refined by Newton: the nearest distance is never worse, and its parameters, the signed
// distance and the point of the bounded surface agree with it.
void expectNearestNeverWorse(std::mt19937_64& rng, const ERSpoleRep& s, double size, int grid,
                             int points) {
  for (int k = 0; k < points; ++k) {
    const ERPoint3D p = probePoint(rng, s, size, k % 4);
    ERPoint2D uv;
    const double got = s.nearest(p, uv);
    ASSERT_TRUE(std::isfinite(got));
    EXPECT_NEAR(qorv::distance(s(uv.x(), uv.y()), p), got, 1e-12 * size);
    EXPECT_GE(uv.x(), s.udeb());
    EXPECT_LE(uv.y(), s.vfin());
    ERPoint2D refAt;
    const double ref = refNearest(s, p, grid, &refAt);
    if (got > ref * (1 + 1e-12) + 1e-14 * size)
      ADD_FAILURE() << "point kind " << k % 4 << " got " << got << " at " << uv.x() << ' ' << uv.y()
                    << " ref " << ref << " at " << refAt.x() << ' ' << refAt.y();
    double sd = 0;
    EXPECT_NE(s.SignedMinimalDistance(p, sd), EREntity::DISTMIN_NONE);
    EXPECT_NEAR(std::fabs(sd), got, 1e-12 * size);
    EXPECT_NEAR(qorv::distance(s.project_inbound(p), p), got, 1e-12 * size);
  }
}

TEST(PoleSurfaceNearest, ClosedSurfaceAtTheSeamAndAFlatPatch) {
  // A quarter-circle rational quadratic swept along z, closed by four such pieces in u.
  const ERMatrix<ERPole3DH> H = circlePoles(2.0, false);
  const ERSpoleNURBS3D cyl(H, ERKnotVector(2, kCircleU, 12), ERKnotVector(1, kCircleV, 4));
  ASSERT_EQ(cyl.isValid(), 1);
  std::mt19937_64 rng(qorv_test::seedFor(2106));
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int k = 0; k < 200; ++k) {
    // Around the seam (angle near 0) and everywhere, inside and outside the tube.
    const double a = k < 100 ? (u01(rng) - 0.5) * 0.01 : 2 * M_PI * u01(rng);
    const double rho = k % 2 ? 0.3 + 0.6 * u01(rng) : 1.2 + 3 * u01(rng);
    const ERPoint3D p(rho * std::cos(a), rho * std::sin(a), 2 * u01(rng));
    ERPoint2D uv;
    const double d = cyl.nearest(p, uv);
    EXPECT_NEAR(d, std::fabs(rho - 1.0), 1e-12) << k;
    EXPECT_EQ(cyl.ProjectionNormale(p, 4.0, uv, 1), 1);
    EXPECT_NEAR(qorv::distance(cyl(uv.x(), uv.y()), p), d, 1e-12);
  }
  // Beyond the top rim: the nearest point is on the rim, no foot.
  ERPoint2D uv;
  EXPECT_NEAR(cyl.nearest(ERPoint3D(2, 0, 3), uv), std::sqrt(2.0), 1e-12);
  double sd;
  EXPECT_EQ(cyl.SignedMinimalDistance(ERPoint3D(2, 0, 3), sd), EREntity::DISTMIN_END_POINT);
  EXPECT_EQ(cyl.SignedMinimalDistance(ERPoint3D(2, 0, 1), sd), EREntity::DISTMIN_NORMAL);
  EXPECT_NEAR(std::fabs(sd), 1.0, 1e-12);

  // A far point is refused by the normal projection (outside the inflated boxes) unless the
  // tolerance reaches it; the nearest point is given anyway.
  const ERPoint3D far(0, 0, 10);
  EXPECT_EQ(cyl.ProjectionNormale(far, 0.0, uv, 1), 0);
  EXPECT_NEAR(cyl.nearest(far, uv), std::sqrt(65.0), 1e-12);
  ERPoint3D q(1.5, 0.1, 1.0);
  ERPoint2D start(0.1, 0.4);
  EXPECT_EQ(cyl.ReajustProjection(q, start, 1), 1);
  EXPECT_NEAR(ERVector3D(q).norme(), std::sqrt(1.0 + 1.0), 1e-12);

  // Broken nets give no nearest point.
  const ERSpoleNURBS3D broken(H, ERKnotVector(2, kCircleU, 11), ERKnotVector(1, kCircleV, 4));
  EXPECT_EQ((Seq{std::isnan(broken.nearest(far, uv)), broken.ProjectionNormale(far, 1e9, uv, 1),
                 broken.SignedMinimalDistance(far, sd),
                 std::isnan(cyl.nearest(ERPoint3D(NAN, 0, 0), uv))}),
            (Seq{true, 0, EREntity::DISTMIN_NONE, true}));
}

// A rigid motion x -> Q x + t, Q orthogonal (a reflection when mirrored).
struct Motion {
  double Q[3][3];
  double t[3];
  ERPoint3D operator()(const ERPoint3D& x) const {
    const double a[3] = {x.x(), x.y(), x.z()};
    double b[3];
    for (int r = 0; r < 3; ++r) b[r] = Q[r][0] * a[0] + Q[r][1] * a[1] + Q[r][2] * a[2] + t[r];
    return ERPoint3D(b[0], b[1], b[2]);
  }
};

Motion randomMotion(std::mt19937_64& rng, bool mirrored, double offset) {
  std::normal_distribution<double> g(0.0, 1.0);
  double q[4], n = 0;
  for (double& x : q) x = g(rng), n += x * x;
  n = std::sqrt(n);
  const double w = q[0] / n, x = q[1] / n, y = q[2] / n, z = q[3] / n;
  Motion m{{{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
            {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
            {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}},
           {offset * g(rng), offset * g(rng), offset * g(rng)}};
  if (mirrored)
    for (auto& row : m.Q) row[0] = -row[0];
  return m;
}

// The Bezier patches of s cover its spans, each of degrees (p, q), and reproduce it inside: at
// random points a share `inset` away from the patch's edges, and at its (start, end) corner too
// when inset is 0.
void expectPatchesReproduce(std::mt19937_64& rng, const ERSpoleNURBS3D& s, const RandomNet& r,
                            double inset) {
  std::uniform_real_distribution<double> u01(inset, 1 - inset);
  const Nurbs3DToBezier3DRDecomposer dec(s);
  int cu, cv;
  s.GetNumberOfSpans(cu, cv);
  ASSERT_EQ((Seq{dec.nu(), dec.nv()}), (Seq{cu, cv}));
  EXPECT_EQ((Seq{dec.Bezier(cu, 0).isNull(), dec.Bezier(0, -1).isNull()}), (Seq{true, true}));
  for (int i = 0; i < cu; ++i)
    for (int j = 0; j < cv; ++j) {
      const auto b = dec.Bezier(i, j);
      ASSERT_FALSE(b.isNull());
      ASSERT_EQ((Seq{b->nbPolesU(), b->nbPolesV()}), (Seq{r.p + 1, r.q + 1}));
      if (j == 0) {
        EXPECT_EQ(b->udeb(), i == 0 ? s.udeb() : dec.Bezier(i - 1, 0)->ufin());
        if (i == cu - 1) {
          EXPECT_EQ(b->ufin(), s.ufin());
        }
      }
      for (int k = 0; k < 6; ++k) {
        const bool corner = k == 0 && inset == 0;
        const double u = b->udeb() + (b->ufin() - b->udeb()) * (corner ? 0.0 : u01(rng));
        const double v = b->vdeb() + (b->vfin() - b->vdeb()) * (corner ? 1.0 : u01(rng));
        ASSERT_LE(qorv::distance((*b)(u, v), s(u, v)), 1e-12 * r.size * 8) << i << ' ' << j;
      }
    }
}

}  // namespace

// The nearest point is never worse than a dense grid refined by Newton (on a smoother net than
// the evaluation draws: poles on a wavy sheet), trimmed or not. It commutes with rigid motions:
// the moved surface (its poles moved here, not by the library) and the moved point give the
// same distance, for turned, mirrored and far-off frames, both orientations of the parameters,
// and every kind of point.
TEST(PoleSurfaceNearest, NeverWorseThanADenseGridAndTheSameInEveryFrame) {
  QORV_SEEDED(std::mt19937_64 rng, 2105);
  for (int rep = 0; rep < 40; ++rep) {
    RandomNet r;
    std::unique_ptr<ERSpoleRep> s = wavySheet(rng, rep, r);
    SCOPED_TRACE(describe(r));
    const double offset = r.size * (rep % 3 == 0 ? 0.0 : (rep % 3 == 1 ? 1e3 : 1e6));
    const Motion M = randomMotion(rng, rep % 2 == 1, offset);
    RandomNet moved = r;
    for (int k = 0; k < r.nu * r.nv; ++k) {
      double* h = &moved.H[4 * k];
      const double w = h[3];
      const ERPoint3D x = M(ERPoint3D(h[0] / w, h[1] / w, h[2] / w));
      h[0] = w * x.x(), h[1] = w * x.y(), h[2] = w * x.z();
    }
    std::unique_ptr<ERSpoleRep> t = surfaceOf(moved, rep % 5 == 0);
    // The other orientation: u and v exchanged.
    if (rep % 4 >= 2) t->reverse();
    // The coordinates' own rounding in the far frames.
    const double tol = 1e-11 * r.size + 1e-14 * offset;
    for (int k = 0; k < 12; ++k) {
      const ERPoint3D p = probePoint(rng, *s, r.size, k % 4);
      ERPoint2D uv, uvMoved;
      const double d = s->nearest(p, uv), dm = t->nearest(M(p), uvMoved);
      ASSERT_TRUE(std::isfinite(d) && std::isfinite(dm)) << k;
      EXPECT_NEAR(dm, d, tol) << "kind " << k % 4;
      EXPECT_NEAR(qorv::distance((*t)(uvMoved.x(), uvMoved.y()), M(p)), dm, tol);
    }
    if (rep % 4 == 1)
      s->setBound(ERLimites(s->udeb() + 0.2 * (s->ufin() - s->udeb()), s->ufin()),
                  ERLimites(s->vdeb(), s->vfin() - 0.3 * (s->vfin() - s->vdeb())));
    expectNearestNeverWorse(rng, *s, r.size, 120, 12);
  }
}

// A rational bicubic sheet of 20 x 20 poles with a double knot each way (the size of a measured
// part): points near both sides, far ones, beyond the edges and corners, against the dense grid.
TEST(PoleSurfaceNearest, ATwentyByTwentySheetAgainstTheDenseGrid) {
  QORV_SEEDED(std::mt19937_64 rng, 2108);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  constexpr int N = 20;
  ERMatrix<ERPole3DH> H(N, N);
  for (int j = 0; j < N; ++j)
    for (int i = 0; i < N; ++i) {
      const double x = 10.0 * i + 2 * u01(rng), y = 10.0 * j + 2 * u01(rng);
      const double z = 15 * std::sin(x / 40) * std::cos(y / 55) + 3 * u01(rng);
      const double w = 0.7 + 0.7 * u01(rng);
      H(j, i) = ERPole3DH(w * x, w * y, w * z, w);
    }
  std::vector<double> U(4, 0.0);
  for (int k = 1; k <= 15; ++k) U.insert(U.end(), k == 8 ? 2 : 1, k / 16.0);
  U.insert(U.end(), 4, 1.0);
  const ERKnotVector K(3, U.data(), int(U.size()));
  const ERSpoleNURBS3D s(H, K, K);
  ASSERT_EQ(s.isValid(), 1);
  // Near points within 10 mm along the normal, either side.
  expectNearestNeverWorse(rng, s, 100.0, 300, 48);
}

// The search built lazily answers the same from two threads at once on one surface; every edit
// drops it (a moved, refined, trimmed or restored surface answers for its new shape).
TEST(PoleSurfaceNearest, SharedByThreadsAndDroppedByEdits) {
  QORV_SEEDED(std::mt19937_64 rng, 2109);
  RandomNet r;
  std::unique_ptr<ERSpoleRep> base = wavySheet(rng, 1, r);
  while (r.size < 1e-3 || r.size > 1e3) base = wavySheet(rng, 1, r);
  auto& s = dynamic_cast<ERSpoleNURBS3D&>(*base);
  std::vector<ERPoint3D> pts;
  for (int k = 0; k < 300; ++k) pts.push_back(probePoint(rng, s, r.size, k % 4));
  std::vector<double> alone;
  {
    const ERSpoleNURBS3D copy(s);
    ERPoint2D uv;
    for (const ERPoint3D& p : pts) alone.push_back(copy.nearest(p, uv));
  }
  std::vector<double> a(pts.size()), b(pts.size());
  auto run = [&](std::vector<double>& out) {
    ERPoint2D uv;
    for (std::size_t k = 0; k < pts.size(); ++k) out[k] = s.nearest(pts[k], uv);
  };
  std::thread t1(run, std::ref(a)), t2(run, std::ref(b));
  t1.join(), t2.join();
  EXPECT_EQ((Seq{a, b}), (Seq{alone, alone}));

  ERPoint2D uv;
  const ERPoint3D shift(3 * r.size, -r.size, 0.5 * r.size);
  auto expectAsAlone = [&](const ERSpoleNURBS3D& t, const ERVector3D& by, const char* edit) {
    for (std::size_t k = 0; k < 20; ++k)
      EXPECT_NEAR(t.nearest(pts[k] + by, uv), alone[k], 1e-12 * r.size) << edit << ' ' << k;
  };
  {  // a copy starts with what the original built; a move drops it from the copy alone
    ERSpoleNURBS3D moved(s);
    moved.translate(shift);
    expectAsAlone(moved, ERVector3D(shift), "moved copy");
    for (std::size_t k = 0; k < 20; ++k) EXPECT_EQ(s.nearest(pts[k], uv), alone[k]) << k;
  }
  s.translate(shift);
  expectAsAlone(s, ERVector3D(shift), "moved");
  s.translate(ERPoint3D(-shift.x(), -shift.y(), -shift.z()));
  s.insertKnotU(0.5 * (s.udeb() + s.ufin()), 2);
  expectAsAlone(s, ERVector3D(), "refined");
  // Trimmed to a quarter: never nearer, and the answer inside the new limits.
  const double um = 0.5 * (s.udeb() + s.ufin()), vm = 0.5 * (s.vdeb() + s.vfin());
  s.setBound(ERLimites(s.udeb(), um), ERLimites(vm, s.vfin()));
  for (std::size_t k = 0; k < 40; ++k) {
    const double d = s.nearest(pts[k], uv);
    EXPECT_GE(d, alone[k] * (1 - 1e-12));
    EXPECT_LE(uv.x(), um);
    EXPECT_GE(uv.y(), vm);
    EXPECT_LE(d, refNearest(s, pts[k], 120) * (1 + 1e-12));
  }
  // Restored from another surface's image: that surface's answers.
  RandomNet r2;
  std::unique_ptr<ERSpoleRep> other = wavySheet(rng, 2, r2);
  qorv_test::restoreValue(s, qorv_test::imageOf(dynamic_cast<ERSpoleNURBS3D&>(*other)));
  for (std::size_t k = 0; k < 20; ++k) {
    ERPoint2D w;
    EXPECT_EQ(s.nearest(pts[k], uv), other->nearest(pts[k], w)) << k;
  }
}

// ---------------------------------------------------------------------------------------------
// Knot insertion and the Bezier patches keep the surface; then, trimmed one time in two, the
// boxes hold it, the iso-curves carry its parameters and the estimates bound its iso-curves.
TEST(PoleSurfaces, KnotsPatchesBoxesIsoCurvesAndEstimatesHoldTheSurface) {
  QORV_SEEDED(std::mt19937_64 rng, 2107);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int rep = 0; rep < 60; ++rep) {
    const RandomNet r = randomNet(rng, false, true);
    SCOPED_TRACE(describe(r));
    ERSpoleNURBS3D s = nurbsOf(r);
    auto randomU = [&] { return s.udeb() + (s.ufin() - s.udeb()) * u01(rng); };
    auto randomV = [&] { return s.vdeb() + (s.vfin() - s.vdeb()) * u01(rng); };
    // Insertion at a new value and at an existing knot, in both directions.
    ERSpoleNURBS3D t(s);
    const double iu = rep % 2 ? randomU() : r.U[r.p + (r.nu - r.p) / 2];
    t.insertKnotU(iu, 1 + int(rng() % 3));
    t.insertKnotV(randomV(), 2);
    EXPECT_EQ((Seq{t.isValid(), t.udeb()}), (Seq{1, s.udeb()}));
    EXPECT_GE(t.nbPolesV(), s.nbPolesV());
    for (int k = 0; k < 30; ++k) {
      const double u = randomU(), v = randomV();
      ASSERT_LE(qorv::distance(t(u, v), s(u, v)), 1e-12 * r.size * 8) << u << ' ' << v;
    }
    // The patches cover the spans and reproduce the surface on each.
    expectPatchesReproduce(rng, s, r, 0.0);

    if (rep % 2) {  // a trimmed window
      const double a = s.udeb() + 0.3 * (s.ufin() - s.udeb()),
                   c = s.vdeb() + 0.5 * (s.vfin() - s.vdeb());
      s.setBound(ERLimites(a, s.ufin()), ERLimites(s.vdeb(), c));
    }
    ERMinimax3D box = s.getBox();
    box.Inflate(1e-12 * r.size);
    QuickAlgebra::ERSimpleVec2<ERMinimax3D> spans;
    s.GetSpanBoxes(spans);
    int cu, cv;
    s.GetNumberOfSpans(cu, cv);
    ASSERT_EQ((Seq{spans.dim1(), spans.dim2()}), (Seq{cu, cv}));
    for (int k = 0; k < 200; ++k) {
      const double u = randomU(), v = randomV();
      const ERPoint3D p = s(u, v);
      ASSERT_TRUE(box.contains(p)) << u << ' ' << v;
      bool inSome = false;
      for (int i = 0; i < cu && !inSome; ++i)
        for (int j = 0; j < cv && !inSome; ++j) {
          ERMinimax3D b = spans(i, j);
          b.Inflate(1e-12 * r.size);
          inSome = b.contains(p);
        }
      ASSERT_TRUE(inSome);
      // The iso-curves carry the surface's parameter.
      const auto iu = s.getEntityIsoU(u), iv = s.getEntityIsoV(v);
      ASSERT_EQ((Seq{bool(iu.isNull()), bool(iv.isNull())}), (Seq{false, false}));
      EXPECT_LE(qorv::distance(iu->PtCur(v).point(), p), 1e-12 * r.size);
      EXPECT_LE(qorv::distance(iv->PtCur(u).point(), p), 1e-12 * r.size);
    }
    // The estimates bound the lengths of iso-curves.
    for (int k = 0; k < 5; ++k) {
      const double v = randomV();
      double len = 0.0;
      ERPoint3D prev = s(s.udeb(), v);
      for (int i = 1; i <= 400; ++i) {
        const ERPoint3D q = s(s.udeb() + (s.ufin() - s.udeb()) * i / 400.0, v);
        len += qorv::distance(prev, q), prev = q;
      }
      EXPECT_LE(len, s.upperEstimateInU() * (1 + 1e-12));
    }
  }
  // A broken net has no patch, and insertion into it changes nothing.
  const double ku[] = {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, kv[] = {0, 0, 0, 1, 1, 1};
  ERMatrix<ERPole3DH> H(3, 5);
  for (int k = 0; k < 15; ++k) H.data()[k] = ERPole3DH(k, k * k % 7, 1, 1);
  ERMatrix<ERPole3DH> bad = H;
  ERKnotVector shortK(3, ku, 8);
  EXPECT_EQ((Seq{BoehmInU(bad, shortK, 0.25, 1), bad}), (Seq{0, H}));
  EXPECT_EQ(Nurbs3DToBezier3DRDecomposer(ERSpoleNURBS3D(H, shortK, ERKnotVector(2, kv, 6))).nu(),
            0);
}

// ---------------------------------------------------------------------------------------------
// Unclamped knots and interior knots of multiplicity p + 1 (a break in the surface): each patch
// still reproduces the surface on its span, seen from the span's inside.
TEST(PoleSurfaceKnots, DecompositionOfUnclampedAndBrokenKnotVectors) {
  QORV_SEEDED(std::mt19937_64 rng, 2111);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  int checked = 0;
  for (int rep = 0; rep < 40; ++rep) {
    RandomNet r = randomNet(rng, false, true);
    std::vector<double>& U = r.U;
    if (rep % 2 == 0) {  // uniform, unclamped
      for (std::size_t i = 0; i < U.size(); ++i) U[i] = double(i) * 0.25 - 1.0;
    } else {  // p + 1 copies of each end and of the middle
      const double a = U.front(), e = U.back();
      U.assign(std::size_t(r.p + 1), a);
      U.insert(U.end(), std::size_t(r.p + 1), 0.5 * (a + e));
      U.insert(U.end(), std::size_t(r.p + 1), e);
      r.nu = int(U.size()) - r.p - 1;
      r.H.clear();
      for (int k = 0; k < r.nu * r.nv; ++k) {
        const double w = 0.3 + 2.7 * u01(rng);
        for (int c = 0; c < 3; ++c) r.H.push_back(w * r.size * (2 * u01(rng) - 1));
        r.H.push_back(w);
      }
    }
    SCOPED_TRACE(describe(r));
    const ERSpoleNURBS3D s = nurbsOf(r);
    if (!s.isValid()) continue;
    ++checked;
    expectPatchesReproduce(rng, s, r, 0.01);
  }
  EXPECT_GT(checked, 30);
}

TEST(PoleSurfaceRays, HitsOnTheLineOnceEachAndNoneOutsideTheBox) {
  // A tube along x: vertical lines through it cross it twice.
  const ERSpoleNURBS3D tube(circlePoles(3.0, true), ERKnotVector(2, kCircleU, 12),
                            ERKnotVector(1, kCircleV, 4));
  std::mt19937_64 rng(qorv_test::seedFor(2108));
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  for (int k = 0; k < 100; ++k) {
    const double x = 3 * u01(rng), y = k == 0 ? 0.0 : (k == 1 ? 1.0 : 1.8 * u01(rng) - 0.9);
    ERRaySurfaceResult res;
    tube.ProjectPoint(ERPoint3D(x, y, 17), res, 1);
    // y = 0 crosses at the knots u = 1 and 3 (edges shared by two patches); y = 1 touches.
    ASSERT_EQ(res.entries(), k == 1 ? 1 : 2) << y;
    for (int i = 0; i < res.entries(); ++i) {
      const ERPoint3D q = res.at(i)->point();
      EXPECT_TRUE(Near(Seq{q.x(), q.y()}, Seq{x, y}, 1e-9));
      EXPECT_NEAR(std::fabs(q.z()), std::sqrt(1 - y * y), k == 1 ? 1e-4 : 1e-9);
    }
  }
  ERRaySurfaceResult none;
  tube.ProjectPoint(ERPoint3D(3.5, 0, 0), none, 1);
  tube.ProjectPoint(ERPoint3D(1, 1.01, 0), none, 1);
  tube.ProjectPoint(ERPoint3D(NAN, 0, 0), none, 1);
  EXPECT_EQ(none.entries(), 0);
  // Along any direction, through the moved copy.
  ERRaySurfaceResult along;
  tube.ProjectPoint(ERPoint3D(1.5, -5, 0.2), ERVector3D(0, 1, 0), along, 1);
  ASSERT_EQ(along.entries(), 2);
  for (int i = 0; i < 2; ++i)
    EXPECT_NEAR(std::fabs(along.at(i)->point().y()), std::sqrt(1 - 0.04), 1e-9);

  // A random wavy sheet over the xy plane: one hit for every line through its box's interior
  // that meets it, against a grid search refined by Newton.
  QORV_SEEDED(std::mt19937_64 g, 2109);
  for (int rep = 0; rep < 20; ++rep) {
    RandomNet r = randomNet(g, rep % 4 == 0, true);
    for (int j = 0; j < r.nv; ++j)
      for (int i = 0; i < r.nu; ++i) {
        double* h = &r.H[4 * (j * r.nu + i)];
        h[0] = h[3] * r.size * double(i) / (r.nu - 1);
        h[1] = h[3] * r.size * double(j) / (r.nv - 1);
        h[2] = h[3] * r.size * 0.3 * (u01(g) - 0.5);
      }
    SCOPED_TRACE(describe(r));
    const ERSpoleNURBS3D s = nurbsOf(r);
    for (int k = 0; k < 10; ++k) {
      // At a knot line sometimes: a hit on the edge of two spans.
      const double u =
          k % 3 == 0 ? r.U[r.p + (r.nu - r.p) / 2] : s.udeb() + (s.ufin() - s.udeb()) * u01(g);
      const double v = s.vdeb() + (s.vfin() - s.vdeb()) * u01(g);
      const ERPoint3D on = s(u, v);
      ERRaySurfaceResult res;
      s.ProjectPoint(ERPoint3D(on.x(), on.y(), 0), res, 1);
      ASSERT_EQ(res.entries(), 1) << u << ' ' << v;
      EXPECT_LE(qorv::distance(res.at(0)->point(), on), 1e-9 * r.size);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The three classes, trimmed and with values no default shares, go into a database file and
// come back by identifier and into existing objects.
TEST(PoleSurfaceDataBase, RoundTrips) {
  std::mt19937_64 rng(qorv_test::seedFor(2110));
  const RandomNet r = randomNet(rng, false, true), b = randomNet(rng, true, true);
  std::vector<std::unique_ptr<ERSpoleRep>> surfaces;
  surfaces.push_back(surfaceOf(r, false));
  surfaces.emplace_back(new ERSpoleBezier3DR(homogeneous(b), ERLimites(-1, 2), ERLimites(3, 4)));
  surfaces.emplace_back(new ERSpoleBezier3D(cartesian(b), ERLimites(0.5, 1), ERLimites(0, 1e-3)));
  surfaces[0]->setBound(ERLimites(surfaces[0]->udeb(), surfaces[0]->ufin() - 1e-3),
                        surfaces[0]->getBoundV());
  qorv_test::expectRoundTrip(surfaces, [&](const ERObject& back, std::size_t k) {
    const ERSpoleRep* s = ERSpoleRep::castdown(back);
    ASSERT_NE(s, nullptr);
    const double u = 0.3 * s->udeb() + 0.7 * s->ufin(), v = 0.6 * s->vdeb() + 0.4 * s->vfin();
    EXPECT_EQ((*s)(u, v), (*surfaces[k])(u, v));
  });
}
