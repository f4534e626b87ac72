// Least squares, minimum zone, inscribed and circumscribed elements (see form.h).
//
// Every kind is one model over a local frame (o; e1, e2, e3) of the element in the centred and
// scaled data: a residual g (the distance to the element up to a constant offset: the radius,
// the plane's shift) and its gradient in a small step p of the element's position, from which
// step() builds the next frame. The offset is the free constant s of least squares and the
// pair of boundaries (l, h) of the zone, so it never enters p.
#include "qorv/measurement/form.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "qorv/foundation/numerics.h"

namespace {
using qorv::detail::cross;
using qorv::detail::dot;
using qorv::detail::unit;

using V3 = std::array<double, 3>;

V3 axpy(const V3& a, double k, const V3& b) {
  return {a[0] + k * b[0], a[1] + k * b[1], a[2] + k * b[2]};
}

struct Element {
  V3 o{0, 0, 0}, e1{1, 0, 0}, e2{0, 1, 0}, e3{0, 0, 1};
  double psi = 0, cosPsi = 1, sinPsi = 0;  // a cone's angle, its sine and cosine taken once

  void setPsi(double a) { psi = a, cosPsi = std::cos(a), sinPsi = std::sin(a); }

  // e3 kept; e1, e2 re-made orthonormal about it, e1 as near its old self as can be.
  void reframe() {
    e3 = unit(e3);
    V3 a = axpy(e1, -dot(e1, e3), e3);
    if (std::hypot(a[0], a[1], a[2]) < 0.5) {
      const V3 t = std::fabs(e3[0]) < 0.6 ? V3{1, 0, 0} : V3{0, 1, 0};
      a = axpy(t, -dot(t, e3), e3);
    }
    e1 = unit(a);
    e2 = cross(e3, e1);
  }
};

// The model's own kind: circles in space are circles in their plane's coordinates.
int params(gmForm::Kind k) {
  switch (k) {
    case gmForm::LINE2D:
      return 1;
    case gmForm::PLANE:
    case gmForm::CIRCLE2D:
    case gmForm::CIRCLE3D:
      return 2;
    case gmForm::SPHERE:
      return 3;
    case gmForm::LINE3D:
    case gmForm::CYLINDER:
      return 4;
    case gmForm::CONE:
      return 5;
  }
  return 0;
}

// sqrt(x^2 + y^2 [+ z^2]): the plain sum while it stays well inside the range, else hypot.
double len(double x, double y) { return qorv::detail::length2(x, y); }
double len(double x, double y, double z) {
  const double q = x * x + y * y + z * z;
  if (q >= 0x1p-968 && q <= 0x1p968) return std::sqrt(q);
  return std::hypot(x, y, z);
}

// The residual of q and its gradient in the step parameters.
double residual(gmForm::Kind k, const Element& e, const V3& q, double* grad) {
  const V3 d{q[0] - e.o[0], q[1] - e.o[1], q[2] - e.o[2]};
  const double x = dot(d, e.e1), y = dot(d, e.e2), z = dot(d, e.e3);
  switch (k) {
    case gmForm::LINE2D:
      if (grad) grad[0] = -x;
      return y;
    case gmForm::PLANE:
      if (grad) grad[0] = -x, grad[1] = -y;
      return z;
    case gmForm::CIRCLE2D:
    case gmForm::CIRCLE3D: {
      const double r = len(x, y), inv = r > 0 ? 1 / r : 0;
      if (grad) grad[0] = -x * inv, grad[1] = -y * inv;
      return r;
    }
    case gmForm::SPHERE: {
      const double r = len(x, y, z), inv = r > 0 ? 1 / r : 0;
      if (grad) grad[0] = -x * inv, grad[1] = -y * inv, grad[2] = -z * inv;
      return r;
    }
    case gmForm::LINE3D:
    case gmForm::CYLINDER: {
      const double r = len(x, y), inv = r > 0 ? 1 / r : 0;
      if (grad)
        grad[0] = -x * inv, grad[1] = -y * inv, grad[2] = -x * z * inv, grad[3] = -y * z * inv;
      return r;
    }
    case gmForm::CONE: {
      const double r = len(x, y), inv = r > 0 ? 1 / r : 0;
      const double c = e.cosPsi, s = e.sinPsi;
      if (grad) {
        grad[0] = -c * x * inv, grad[1] = -c * y * inv;
        grad[2] = -c * x * z * inv - s * x, grad[3] = -c * y * z * inv - s * y;
        grad[4] = -r * s - z * c;
      }
      return r * c - z * s;
    }
  }
  return 0;
}

Element step(gmForm::Kind k, Element e, const double* p) {
  switch (k) {
    case gmForm::LINE2D:
      e.e1 = unit(axpy(e.e1, p[0], e.e2));
      e.e2 = {-e.e1[1], e.e1[0], 0};
      break;
    case gmForm::PLANE:
      e.e3 = axpy(axpy(e.e3, -p[0], e.e1), -p[1], e.e2);
      e.reframe();
      break;
    case gmForm::CIRCLE2D:
    case gmForm::CIRCLE3D:
      e.o = axpy(axpy(e.o, p[0], e.e1), p[1], e.e2);
      break;
    case gmForm::SPHERE:
      e.o = axpy(axpy(axpy(e.o, p[0], e.e1), p[1], e.e2), p[2], e.e3);
      break;
    case gmForm::LINE3D:
    case gmForm::CYLINDER:
    case gmForm::CONE:
      e.o = axpy(axpy(e.o, p[0], e.e1), p[1], e.e2);
      e.e3 = axpy(axpy(e.e3, p[2], e.e1), p[3], e.e2);
      e.reframe();
      // The axis point nearest the centroid (the origin) keeps z small; a cone's offset
      // depends on that point, so it stays where the step put it.
      if (k == gmForm::CONE)
        e.setPsi(e.psi + p[4]);
      else
        e.o = axpy(e.o, -dot(e.o, e.e3), e.e3);
      break;
  }
  return e;
}

// Symmetric 3 x 3 eigen decomposition (Jacobi); values ascending, vectors as columns of v.
void eigen3(double m[3][3], double val[3], V3 vec[3]) {
  double v[3][3];
  qorv::detail::jacobi3(m, v);
  int idx[3] = {0, 1, 2};
  std::sort(idx, idx + 3, [&](int a, int b) { return m[a][a] < m[b][b]; });
  for (int i = 0; i < 3; ++i) {
    val[i] = m[idx[i]][idx[i]];
    vec[i] = unit(V3{v[0][idx[i]], v[1][idx[i]], v[2][idx[i]]});
  }
}

// Solves the n x n system (n <= 6) by elimination with partial pivoting; 0 when singular.
int solveSmall(int n, double* a, double* b) {
  for (int c = 0; c < n; ++c) {
    int piv = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(a[r * n + c]) > std::fabs(a[piv * n + c])) piv = r;
    if (!(std::fabs(a[piv * n + c]) > 1e-300)) return 0;
    if (piv != c) {
      for (int j = 0; j < n; ++j) std::swap(a[c * n + j], a[piv * n + j]);
      std::swap(b[c], b[piv]);
    }
    for (int r = c + 1; r < n; ++r) {
      const double f = a[r * n + c] / a[c * n + c];
      for (int j = c; j < n; ++j) a[r * n + j] -= f * a[c * n + j];
      b[r] -= f * b[c];
    }
  }
  for (int r = n - 1; r >= 0; --r) {
    for (int j = r + 1; j < n; ++j) b[r] -= a[r * n + j] * b[j];
    b[r] /= a[r * n + r];
  }
  for (int r = 0; r < n; ++r)
    if (!std::isfinite(b[r])) return 0;
  return 1;
}

// An algebraic circle through 2D coordinates (x, y): x^2 + y^2 + D x + E y + F = 0 in least
// squares. 0 when the system is singular.
int algebraicCircle(const std::vector<std::array<double, 2>>& xy, double& cx, double& cy,
                    double& r) {
  double a[9] = {}, b[3] = {};
  for (const auto& p : xy) {
    const double row[3] = {p[0], p[1], 1}, rhs = -(p[0] * p[0] + p[1] * p[1]);
    for (int i = 0; i < 3; ++i) {
      b[i] += row[i] * rhs;
      for (int j = 0; j < 3; ++j) a[i * 3 + j] += row[i] * row[j];
    }
  }
  if (!solveSmall(3, a, b)) return 0;
  cx = -b[0] / 2, cy = -b[1] / 2;
  const double r2 = cx * cx + cy * cy - b[2];
  if (!(r2 > 0)) return 0;
  r = std::sqrt(r2);
  return 1;
}

struct Problem {
  gmForm::Kind kind;
  std::vector<V3> q;  // centred, scaled; circles in space: in their plane's coordinates
  V3 centre{0, 0, 0};
  double scale = 1;
  Element plane;  // circles in space: the fitted plane (o, e1, e2, e3 in the scaled frame)
};

struct Fit {
  Element e;
  double s = 0;  // the offset
  double ssr = HUGE_VAL;
  int iterations = 0;
};

// Levenberg-Marquardt over (p, s).
int leastSquares(const Problem& pb, Fit& f) {
  const int n = params(pb.kind), k = n + 1;
  std::vector<double> grad(static_cast<std::size_t>(n));
  auto ssrOf = [&](const Element& e, double s) {
    double t = 0;
    for (const V3& q : pb.q) {
      const double r = residual(pb.kind, e, q, nullptr) - s;
      t += r * r;
    }
    return t;
  };
  f.ssr = ssrOf(f.e, f.s);
  double lambda = 1e-6;
  for (f.iterations = 1; f.iterations <= 200; ++f.iterations) {
    double A[36] = {}, g[6] = {};
    for (const V3& q : pb.q) {
      double row[6];
      const double r = residual(pb.kind, f.e, q, row) - f.s;
      row[n] = -1;
      for (int a = 0; a < k; ++a) {
        g[a] -= row[a] * r;
        for (int b = 0; b < k; ++b) A[a * k + b] += row[a] * row[b];
      }
    }
    for (;;) {
      double M[36], x[6];
      std::memcpy(M, A, sizeof M);
      std::memcpy(x, g, sizeof x);
      for (int a = 0; a < k; ++a) M[a * k + a] += lambda * (A[a * k + a] + 1e-300);
      if (!solveSmall(k, M, x)) return 0;
      const Element e2 = step(pb.kind, f.e, x);
      const double s2 = f.s + x[n];
      const double ssr2 = ssrOf(e2, s2);
      double change = 0;
      for (int a = 0; a < k; ++a) change = std::max(change, std::fabs(x[a]));
      // 1e-14 of the unit size: below it a step is the rounding of the normal equations.
      if (ssr2 <= f.ssr) {
        f.e = e2, f.s = s2, f.ssr = ssr2;
        lambda = std::max(lambda / 10, 1e-12);
        if (change <= 1e-14) return 1;
        break;
      }
      if (change <= 1e-14) return 1;
      lambda *= 10;
      if (lambda > 1e12) return 1;
    }
  }
  return 1;
}

// The objective of the zone: h - l, h or -l.
struct Zone {
  double h = -HUGE_VAL, l = HUGE_VAL;
};
Zone zoneOf(const Problem& pb, const Element& e) {
  Zone z;
  for (const V3& q : pb.q) {
    const double r = residual(pb.kind, e, q, nullptr);
    z.h = std::max(z.h, r), z.l = std::min(z.l, r);
  }
  return z;
}

struct Sides {
  bool upper, lower;
  double objective(const Zone& z) const { return (upper ? z.h : 0.0) - (lower ? z.l : 0.0); }
};

void linearise(const Problem& pb, const Element& e, std::vector<double>& g,
               std::vector<double>& J) {
  const std::size_t n = static_cast<std::size_t>(params(pb.kind));
  g.resize(pb.q.size()), J.resize(pb.q.size() * n);
  for (std::size_t i = 0; i < pb.q.size(); ++i) g[i] = residual(pb.kind, e, pb.q[i], &J[i * n]);
}

// Sequential linear programmes from the least-squares element; the certificate of the last.
int chebyshev(const Problem& pb, Sides sides, Fit& f, gmZoneSolution& cert, std::string& reason) {
  const int n = params(pb.kind);
  std::vector<double> g, J;
  double trust = 0.1;
  double F = sides.objective(zoneOf(pb, f.e));
  for (int it = 1; it <= 1000; ++it) {
    f.iterations = it;
    linearise(pb, f.e, g, J);
    gmLinearZone z;
    z.n = n, z.upper = sides.upper, z.lower = sides.lower, z.trust = trust, z.m = g.size();
    z.g = g.data(), z.J = J.data();
    cert = gmSolveLinearZone(z);
    if (!cert.ok) {
      reason = "the linear programme failed";
      return 0;
    }
    const double predicted = (sides.upper ? cert.h : 0.0) - (sides.lower ? cert.l : 0.0);
    if (F - predicted <= 1e-15 * std::max(std::fabs(F), 1e-300) && !cert.trustActive) break;
    double pmax = 0;
    for (double v : cert.p) pmax = std::max(pmax, std::fabs(v));
    // The step, else shorter ones along it: where the zone curves strongly (points near a
    // line's axis) the linear programme's step overshoots, and a cut trust region alone would
    // creep.
    bool moved = false;
    for (double t = 1; t > 1e-3 && !moved; t /= 4) {
      std::vector<double> q = cert.p;
      for (double& v : q) v *= t;
      const Element e2 = step(pb.kind, f.e, q.data());
      const double F2 = sides.objective(zoneOf(pb, e2));
      if (F2 < F) {
        f.e = e2, F = F2, moved = true;
        if (t == 1 && cert.trustActive) trust = std::min(trust * 4, 1e3);
        if (t < 1) trust = std::max(t * pmax, 1e-16);
      }
    }
    if (!moved) {
      trust = pmax / 4;
      if (trust < 1e-16) break;
    }
    if (std::hypot(f.e.o[0], f.e.o[1], f.e.o[2]) > 1e4) {
      reason = "the points bound no inscribed element";
      return 0;
    }
  }
  // The certificate at the element found. A small trust region: where the zone is flat to first
  // order (contacts whose gradients ignore a direction) an unbounded step would bring in points
  // far from the boundaries that the linearisation wrongly lets touch.
  linearise(pb, f.e, g, J);
  gmLinearZone z;
  z.n = n, z.upper = sides.upper, z.lower = sides.lower, z.trust = 1e-6, z.m = g.size();
  z.g = g.data(), z.J = J.data();
  cert = gmSolveLinearZone(z);
  return 1;
}

double hypotMax(const V3& a) {
  return std::max({std::fabs(a[0]), std::fabs(a[1]), std::fabs(a[2])});
}

ERPoint3D toWorld(const Problem& pb, const V3& p) {
  V3 w = p;
  if (pb.kind == gmForm::CIRCLE3D) w = axpy(axpy(pb.plane.o, p[0], pb.plane.e1), p[1], pb.plane.e2);
  return ERPoint3D(pb.centre[0] + pb.scale * w[0], pb.centre[1] + pb.scale * w[1],
                   pb.centre[2] + pb.scale * w[2]);
}

// Loads, centres and scales the points; "" or why not.
std::string prepare(const std::vector<ERPoint3D>& pts, gmForm::Kind kind, Problem& pb) {
  pb.kind = kind;
  if (static_cast<int>(pts.size()) < gmForm::minimumPoints(kind)) return "too few points";
  const bool flat = kind == gmForm::LINE2D || kind == gmForm::CIRCLE2D;
  V3 mean{0, 0, 0};
  double count = 0;
  for (const ERPoint3D& p : pts) {
    const V3 v{p.x(), p.y(), flat ? 0.0 : p.z()};
    if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2]))
      return "a point is not finite";
    count += 1;
    for (int i = 0; i < 3; ++i) mean[static_cast<std::size_t>(i)] += (v[i] - mean[i]) / count;
  }
  double spread = 0;
  for (const ERPoint3D& p : pts)
    spread = std::max(spread,
                      hypotMax(V3{p.x() - mean[0], p.y() - mean[1], flat ? 0.0 : p.z() - mean[2]}));
  if (!(spread > 0) || !std::isfinite(spread)) return "the points coincide";
  pb.centre = mean, pb.scale = spread;
  pb.q.reserve(pts.size());
  for (const ERPoint3D& p : pts)
    pb.q.push_back(V3{(p.x() - mean[0]) / spread, (p.y() - mean[1]) / spread,
                      flat ? 0.0 : (p.z() - mean[2]) / spread});
  return "";
}

// The principal axes of the scaled points (the centroid is the origin up to rounding).
void principal(const std::vector<V3>& q, double val[3], V3 vec[3]) {
  V3 c{0, 0, 0};
  for (const V3& p : q)
    for (int i = 0; i < 3; ++i) c[static_cast<std::size_t>(i)] += p[i];
  for (double& v : c) v /= static_cast<double>(q.size());
  double m[3][3] = {};
  for (const V3& p : q)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] += (p[i] - c[i]) * (p[j] - c[j]);
  for (auto& row : m)
    for (double& v : row) v /= static_cast<double>(q.size());
  eigen3(m, val, vec);
}

// Degenerate to rounding: a principal spread below 1e-12 of the largest.
// Collinear (along the largest axis) or coplanar (across the smallest) to rounding: no point
// farther than 1e-12 of the unit size from the line or plane. Measured on the points, not on
// the eigenvalues, whose small ones carry the rounding of the large.
bool collinear(const std::vector<V3>& q, const V3 vec[3]) {
  double d = 0;
  for (const V3& p : q) {
    const V3 r = axpy(p, -dot(p, vec[2]), vec[2]);
    d = std::max(d, len(r[0], r[1], r[2]));
  }
  return !(d > 1e-12);
}
bool coplanar(const std::vector<V3>& q, const V3 vec[3]) {
  double d = 0;
  for (const V3& p : q) d = std::max(d, std::fabs(dot(p, vec[0])));
  return !(d > 1e-12);
}

// The least-squares element and its start; "" or why not.
std::string leastSquaresFit(Problem& pb, const V3& hint, Fit& best) {
  double val[3];
  V3 vec[3];
  principal(pb.q, val, vec);
  const gmForm::Kind k = pb.kind;
  if (k == gmForm::LINE2D || k == gmForm::LINE3D) {
    best.e.e1 = vec[2];
    if (k == gmForm::LINE2D) {
      best.e.e1[2] = 0, best.e.e1 = unit(best.e.e1);
      best.e.e2 = {-best.e.e1[1], best.e.e1[0], 0}, best.e.e3 = {0, 0, 1};
    } else {
      best.e.e3 = vec[2], best.e.e1 = vec[0], best.e.reframe();
    }
    if (k == gmForm::LINE3D) {
      best.iterations = 1;
      best.ssr = 0;
      for (const V3& q : pb.q) best.ssr += std::pow(residual(k, best.e, q, nullptr), 2);
      return "";
    }
    return leastSquares(pb, best) ? "" : "the fit does not converge";
  }
  if (k == gmForm::PLANE || k == gmForm::CIRCLE3D) {
    if (collinear(pb.q, vec))
      return k == gmForm::PLANE ? "collinear points fix no plane"
                                : "collinear points fix no circle";
    Element pl;
    pl.e3 = vec[0], pl.e1 = vec[2];
    pl.reframe();
    if (k == gmForm::PLANE) {
      best.e = pl;
      return leastSquares(pb, best) ? "" : "the fit does not converge";
    }
    // Circles in space: in the least-squares plane's coordinates from here on.
    Fit plane;
    plane.e = pl;
    Problem flat = pb;
    flat.kind = gmForm::PLANE;
    if (!leastSquares(flat, plane)) return "the fit does not converge";
    pb.plane = plane.e;
    pb.plane.o = axpy(pb.plane.o, plane.s, pb.plane.e3);
    for (V3& q : pb.q) {
      const V3 d{q[0] - pb.plane.o[0], q[1] - pb.plane.o[1], q[2] - pb.plane.o[2]};
      q = {dot(d, pb.plane.e1), dot(d, pb.plane.e2), 0};
    }
  }
  if (k == gmForm::CIRCLE2D || k == gmForm::CIRCLE3D) {
    if (k == gmForm::CIRCLE2D && collinear(pb.q, vec)) return "collinear points fix no circle";
    std::vector<std::array<double, 2>> xy;
    for (const V3& q : pb.q) xy.push_back({q[0], q[1]});
    double cx, cy, r;
    if (!algebraicCircle(xy, cx, cy, r)) return "collinear points fix no circle";
    best.e = Element();
    best.e.o = {cx, cy, 0}, best.s = r;
    return leastSquares(pb, best) ? "" : "the fit does not converge";
  }
  if (k == gmForm::SPHERE) {
    if (coplanar(pb.q, vec)) return "coplanar points fix no sphere";
    double a[16] = {}, b[4] = {};
    for (const V3& q : pb.q) {
      const double row[4] = {q[0], q[1], q[2], 1}, rhs = -dot(q, q);
      for (int i = 0; i < 4; ++i) {
        b[i] += row[i] * rhs;
        for (int j = 0; j < 4; ++j) a[i * 4 + j] += row[i] * row[j];
      }
    }
    if (!solveSmall(4, a, b)) return "coplanar points fix no sphere";
    best.e = Element();
    best.e.o = {-b[0] / 2, -b[1] / 2, -b[2] / 2};
    const double r2 = dot(best.e.o, best.e.o) - b[3];
    best.s = r2 > 0 ? std::sqrt(r2) : 1;
    return leastSquares(pb, best) ? "" : "the fit does not converge";
  }
  // Cylinders and cones: from the hint, else from the direction (the principal axes and a net
  // over the hemisphere: a cylinder about as long as it is wide has two principal spreads
  // alike, and its axis mixes with a radial direction) about which a subsample's algebraic
  // circle fits best, and for a cone its best cylinder's axis; the next start when one does
  // not converge.
  if (collinear(pb.q, vec))
    return k == gmForm::CONE ? "collinear points fix no cone" : "collinear points fix no cylinder";
  std::vector<V3> axes;
  if (hypotMax(hint) > 0) {
    axes.push_back(unit(hint));
  } else {
    axes = {vec[2], vec[1], vec[0]};
    const int net = 96;
    for (int i = 0; i < net; ++i) {
      const double z = 1 - (i + 0.5) / net, rho = std::sqrt(1 - z * z);
      const double phi = i * 2.399963229728653;  // the golden angle
      axes.push_back({rho * std::cos(phi), rho * std::sin(phi), z});
    }
  }
  // Starts are ranked on at most 2000 points, spread through the set.
  const std::size_t stride = std::max<std::size_t>(1, pb.q.size() / 2000);
  if (k == gmForm::CONE) {
    // A patch of a cone is nearer its best cylinder than any principal axis.
    Problem cyl = pb;
    cyl.kind = gmForm::CYLINDER;
    Fit c;
    if (leastSquaresFit(cyl, hint, c).empty()) axes.insert(axes.begin(), c.e.e3);
  }
  std::vector<Fit> starts;
  for (const V3& axis : axes) {
    Fit f;
    f.e.e3 = axis;
    f.e.reframe();
    std::vector<std::array<double, 2>> xy;
    for (std::size_t i = 0; i < pb.q.size(); i += stride)
      xy.push_back({dot(pb.q[i], f.e.e1), dot(pb.q[i], f.e.e2)});
    double cx, cy, r;
    if (!algebraicCircle(xy, cx, cy, r)) continue;
    f.e.o = axpy(V3{cx * f.e.e1[0], cx * f.e.e1[1], cx * f.e.e1[2]}, cy, f.e.e2);
    f.s = r;
    if (k == gmForm::CONE) {
      // rho = rho0 + z tan(psi) in least squares.
      double sz = 0, sr = 0, szz = 0, szr = 0, cnt = 0;
      for (std::size_t i = 0; i < pb.q.size(); i += stride) {
        const V3& q = pb.q[i];
        const V3 d{q[0] - f.e.o[0], q[1] - f.e.o[1], q[2] - f.e.o[2]};
        const double z = dot(d, f.e.e3), rho = len(dot(d, f.e.e1), dot(d, f.e.e2));
        sz += z, sr += rho, szz += z * z, szr += z * rho, cnt += 1;
      }
      const double det = cnt * szz - sz * sz;
      const double t = det > 0 ? (cnt * szr - sz * sr) / det : 0;
      f.e.setPsi(std::atan(t));
      f.s = (sr - t * sz) / cnt * f.e.cosPsi;
    }
    f.ssr = 0;
    for (std::size_t i = 0; i < pb.q.size(); i += stride)
      f.ssr += std::pow(residual(k, f.e, pb.q[i], nullptr) - f.s, 2);
    starts.push_back(f);
  }
  std::stable_sort(starts.begin(), starts.end(),
                   [](const Fit& a, const Fit& b) { return a.ssr < b.ssr; });
  if (starts.size() > 4) starts.resize(4);
  for (Fit& f : starts)
    if (leastSquares(pb, f)) return best = f, "";
  return "the fit does not converge";
}

bool bounded(gmForm::Kind k) {
  return k == gmForm::CIRCLE2D || k == gmForm::CIRCLE3D || k == gmForm::SPHERE ||
         k == gmForm::CYLINDER;
}

}  // namespace

const char* gmForm::kindName(Kind k) {
  static const char* const names[] = {"line2d",   "line3d", "plane",    "circle2d",
                                      "circle3d", "sphere", "cylinder", "cone"};
  return (k >= LINE2D && k <= CONE) ? names[k] : "?";
}

const char* gmForm::associationName(Association a) {
  static const char* const names[] = {"least-squares", "minimum-zone", "inscribed",
                                      "circumscribed"};
  return (a >= LEAST_SQUARES && a <= CIRCUMSCRIBED) ? names[a] : "?";
}

int gmForm::parseKind(const std::string& s, Kind& k) {
  for (int i = LINE2D; i <= CONE; ++i)
    if (s == kindName(static_cast<Kind>(i))) return k = static_cast<Kind>(i), 1;
  if (s == "line") return k = LINE3D, 1;
  if (s == "circle") return k = CIRCLE3D, 1;
  return 0;
}

int gmForm::parseAssociation(const std::string& s, Association& a) {
  for (int i = LEAST_SQUARES; i <= CIRCUMSCRIBED; ++i)
    if (s == associationName(static_cast<Association>(i)))
      return a = static_cast<Association>(i), 1;
  return 0;
}

int gmForm::minimumPoints(Kind k) {
  switch (k) {
    case LINE2D:
    case LINE3D:
      return 2;
    case PLANE:
    case CIRCLE2D:
    case CIRCLE3D:
      return 3;
    case SPHERE:
      return 4;
    case CYLINDER:
      return 5;
    case CONE:
      return 6;
  }
  return 0;
}

gmFormResult gmFit(const std::vector<ERPoint2D>& points, gmForm::Kind kind,
                   gmForm::Association association) {
  std::vector<ERPoint3D> p;
  p.reserve(points.size());
  for (const ERPoint2D& q : points) p.emplace_back(q.x(), q.y(), 0.0);
  return gmFit(p, kind, association);
}

gmFormResult gmFit(const std::vector<ERPoint3D>& points, gmForm::Kind kind,
                   gmForm::Association association, const ERVector3D& axisHint) {
  gmFormResult out;
  out.kind = kind, out.association = association;
  if (kind < gmForm::LINE2D || kind > gmForm::CONE || association < gmForm::LEAST_SQUARES ||
      association > gmForm::CIRCUMSCRIBED) {
    out.reason = "unknown kind or association";
    return out;
  }
  if ((association == gmForm::INSCRIBED || association == gmForm::CIRCUMSCRIBED) &&
      !bounded(kind)) {
    out.reason = std::string("a ") + gmForm::kindName(kind) + " has no " +
                 gmForm::associationName(association) + " element";
    return out;
  }
  Problem pb;
  out.reason = prepare(points, kind, pb);
  if (!out.reason.empty()) return out;
  const V3 hint{axisHint.x(), axisHint.y(), axisHint.z()};
  const V3 hintOk = std::isfinite(hint[0] + hint[1] + hint[2]) ? hint : V3{0, 0, 0};
  Fit f;
  out.reason = leastSquaresFit(pb, hintOk, f);
  if (!out.reason.empty()) return out;
  out.iterations = f.iterations;

  gmZoneSolution cert;
  if (association != gmForm::LEAST_SQUARES) {
    Sides sides{true, true};
    if (association == gmForm::INSCRIBED) sides.upper = false;
    if (association == gmForm::CIRCUMSCRIBED || kind == gmForm::LINE3D) sides.lower = false;
    Fit z = f;
    if (!chebyshev(pb, sides, z, cert, out.reason)) return out;
    f.e = z.e;
    out.iterations = z.iterations;
    const Zone zz = zoneOf(pb, f.e);
    f.s = association == gmForm::MINIMUM_ZONE ? (sides.lower ? (zz.h + zz.l) / 2 : 0.0)
          : association == gmForm::INSCRIBED  ? zz.l
                                              : zz.h;
    // Contacts and the check of the optimality conditions.
    out.upperContacts = cert.upperContacts, out.lowerContacts = cert.lowerContacts;
    out.upperWeights = cert.upperWeights, out.lowerWeights = cert.lowerWeights;
    const int n = params(kind);
    double bal[6] = {}, gmax = 0, su = 0, sl = 0;
    std::vector<double> grad(static_cast<std::size_t>(n));
    const double F = (sides.upper ? zz.h : 0.0) - (sides.lower ? zz.l : 0.0);
    const double tol = 1e-9 * std::max(std::fabs(F), 1e-12) + 1e-13;
    // A trust bound carrying weight shows as imbalance of the contacts' gradients.
    bool onBoundary = cert.ok;
    for (int side = 0; side < 2; ++side) {
      const std::vector<int>& c = side == 0 ? cert.upperContacts : cert.lowerContacts;
      const std::vector<double>& w = side == 0 ? cert.upperWeights : cert.lowerWeights;
      for (std::size_t t = 0; t < c.size(); ++t) {
        const double r = residual(kind, f.e, pb.q[static_cast<std::size_t>(c[t])], grad.data());
        if (std::fabs(r - (side == 0 ? zz.h : zz.l)) > tol || !(w[t] >= 0)) onBoundary = false;
        for (int j = 0; j < n; ++j) {
          bal[j] += (side == 0 ? 1 : -1) * w[t] * grad[static_cast<std::size_t>(j)];
          gmax = std::max(gmax, std::fabs(grad[static_cast<std::size_t>(j)]));
        }
        (side == 0 ? su : sl) += w[t];
      }
    }
    double b = 0;
    for (int j = 0; j < n; ++j) b = std::max(b, std::fabs(bal[j]));
    out.stationarity = gmax > 0 ? b / gmax : 0;
    const bool sums =
        (!sides.upper || std::fabs(su - 1) < 1e-9) && (!sides.lower || std::fabs(sl - 1) < 1e-9);
    // 1e-5, not the rounding: along a direction in which the zone is flat to first order
    // (contacts whose gradients ignore it) the element is fixed only to about the square root
    // of the rounding, and so is the balance of the gradients there.
    out.certified = onBoundary && sums && out.stationarity <= 1e-5;
  }

  // Back to the caller's frame.
  Element& e = f.e;
  if (kind == gmForm::CONE && e.psi < 0) e.e3 = {-e.e3[0], -e.e3[1], -e.e3[2]}, e.setPsi(-e.psi);
  V3 point = e.o, axis = e.e3;
  double radius = 0;
  switch (kind) {
    case gmForm::LINE2D:
      point = axpy(e.o, f.s, e.e2), axis = e.e1;
      break;
    case gmForm::LINE3D:
      break;
    case gmForm::PLANE:
      point = axpy(e.o, f.s, e.e3);
      break;
    case gmForm::CIRCLE2D:
      axis = {0, 0, 1}, radius = f.s;
      break;
    case gmForm::CIRCLE3D:
      axis = pb.plane.e3, radius = f.s;
      break;
    case gmForm::SPHERE:
      axis = {0, 0, 1}, radius = f.s;
      break;
    case gmForm::CYLINDER:
      radius = f.s;
      break;
    case gmForm::CONE:
      radius = f.s / std::cos(e.psi);
      break;
  }
  if (kind != gmForm::CONE && dot(axis, hintOk) < 0) axis = {-axis[0], -axis[1], -axis[2]};
  out.element.point = toWorld(pb, point);
  out.element.axis = ERVector3D(axis[0], axis[1], axis[2]);
  out.element.radius = pb.scale * radius;
  out.element.angle = kind == gmForm::CONE ? e.psi : 0.0;
  double lo = HUGE_VAL, hi = -HUGE_VAL, ss = 0;
  for (const V3& q : pb.q) {
    const double r = residual(kind, e, q, nullptr) - (kind == gmForm::LINE3D ? 0.0 : f.s);
    lo = std::min(lo, r), hi = std::max(hi, r), ss += r * r;
  }
  out.lowest = pb.scale * lo, out.highest = pb.scale * hi;
  out.rms = pb.scale * std::sqrt(ss / static_cast<double>(pb.q.size()));
  out.width = pb.scale * (kind == gmForm::LINE3D ? 2 * hi : hi - lo);
  out.size = (kind == gmForm::LINE2D || kind == gmForm::LINE3D || kind == gmForm::PLANE)
                 ? 0.0
                 : 2 * out.element.radius;
  out.ok = 1;
  return out;
}

int gmFormLinearisation(const std::vector<ERPoint3D>& points, gmForm::Kind kind,
                        gmForm::Association association, int& n, std::vector<double>& g,
                        std::vector<double>& J) {
  (void)association;
  Problem pb;
  if (!prepare(points, kind, pb).empty()) return 0;
  Fit f;
  if (!leastSquaresFit(pb, V3{0, 0, 0}, f).empty()) return 0;
  n = params(kind);
  linearise(pb, f.e, g, J);
  return 1;
}

int gmTwoPointSize(const std::vector<ERPoint3D>& points, const gmFormResult& fit, double& minSize,
                   double& maxSize) {
  if (!fit.ok || !(fit.kind == gmForm::CIRCLE2D || fit.kind == gmForm::CIRCLE3D ||
                   fit.kind == gmForm::CYLINDER))
    return 0;
  const ERVector3D a = fit.element.axis;
  const ERPoint3D& c = fit.element.point;
  const double band = fit.element.radius / 10;
  struct Polar {
    double angle, height;
  };
  ERVector3D u = std::fabs(a.x()) < 0.6 ? ERVector3D(1, 0, 0) : ERVector3D(0, 1, 0);
  u = (u - (u * a) * a).normalize();
  const ERVector3D v = a ^ u;
  std::vector<Polar> polar;
  for (const ERPoint3D& p : points) {
    const ERVector3D d(c, p);
    polar.push_back({std::atan2(d * v, d * u), d * a});
  }
  minSize = HUGE_VAL, maxSize = 0;
  const double pi = std::acos(-1.0);
  for (std::size_t i = 0; i < points.size(); ++i) {
    std::size_t best = i;
    double off = HUGE_VAL;
    for (std::size_t j = 0; j < points.size(); ++j) {
      if (j == i || std::fabs(polar[j].height - polar[i].height) > band) continue;
      const double dphi = std::fabs(std::remainder(polar[j].angle - polar[i].angle - pi, 2 * pi));
      if (dphi < off) off = dphi, best = j;
    }
    if (best == i || off > pi / 8) continue;
    const double s = ERVector3D(points[i], points[best]).norme();
    minSize = std::min(minSize, s), maxSize = std::max(maxSize, s);
  }
  return minSize <= maxSize ? 1 : 0;
}

namespace qorv::detail {

void jacobi3(double m[3][3], double v[3][3]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) v[i][j] = i == j ? 1.0 : 0.0;
  for (int sweep = 0; sweep < 64; ++sweep) {
    const double off = m[0][1] * m[0][1] + m[0][2] * m[0][2] + m[1][2] * m[1][2];
    if (off == 0) break;
    for (int p = 0; p < 2; ++p)
      for (int q = p + 1; q < 3; ++q) {
        if (m[p][q] == 0) continue;
        const double theta = (m[q][q] - m[p][p]) / (2 * m[p][q]);
        const double t =
            (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
        const double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (int k = 0; k < 3; ++k) {
          const double a = m[k][p], b = m[k][q];
          m[k][p] = c * a - s * b, m[k][q] = s * a + c * b;
        }
        for (int k = 0; k < 3; ++k) {
          const double a = m[p][k], b = m[q][k];
          m[p][k] = c * a - s * b, m[q][k] = s * a + c * b;
        }
        for (int k = 0; k < 3; ++k) {
          const double a = v[k][p], b = v[k][q];
          v[k][p] = c * a - s * b, v[k][q] = s * a + c * b;
        }
      }
  }
}

}  // namespace qorv::detail
