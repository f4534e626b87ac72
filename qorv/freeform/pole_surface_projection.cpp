// The nearest point of a pole surface, a branch and bound over the spans. Each span (cell) keeps
// the Bezier poles of its piece, whose oriented box (on the piece's own axes) bounds the distance
// from below when the weights are positive, a grid of samples and, for each square of samples,
// the box of its corners grown by the measured bulge of the surface over the squares. A tree of
// axis boxes over the cells orders the search: the cell under the point first, which usually
// finds the answer, then only the cells whose bounds still beat it, and in them only the squares
// that do. A bounded Newton on the squared distance descends from the samples; its active set
// keeps a parameter on a limit while the gradient pushes outward (edges and corners without a
// perpendicular foot, and the creases of knots of full multiplicity, which are edges of two
// spans).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "qorv/freeform/pole_surfaces.h"

using namespace qorv;
using QuickAlgebra::ERVec;

struct qorv::detail::PoleSearch {
  struct Cell {
    double u0, u1, v0, v1;  // its part of the trimmed limits
    int su, sv;             // the span
    std::size_t grid;       // offset of its samples in grid (3 doubles each)
    double reach;           // the largest distance between neighbouring samples
    double bulge;           // twice the largest gap between the surface and the bilinear
                            // interpolation of the samples, at the middles of squares and edges
    // The Bezier poles of the piece projected on orthonormal axes about o: [lo, hi] on each.
    double o[3], ax[3][3], lo[3], hi[3];
    bool bounded;  // positive finite weights: the oriented box holds the piece
  };
  struct Node {
    double lo[3], hi[3];  // the axis box of its cells (infinite when one is not bounded)
    int first, second;    // children; a leaf: first = the cell, second = -1
  };
  std::vector<Cell> cells;
  std::vector<Node> nodes;      // the root first
  std::vector<double> grid;     // every cell's samples, empty when too many
  std::vector<double> squares;  // with them, the boxes of their squares (6 doubles each)
  int gu = 0, gv = 0;           // samples per cell in u and v
};

namespace {

// The squared distance from p to the box [lo, hi], both scaled by t (0 inside).
double boxDistance2(const double* lo, const double* hi, const double* p, double t) {
  double s = 0.0;
  for (int c = 0; c < 3; ++c) {
    const double e = p[c] < lo[c] ? (lo[c] - p[c]) * t : (p[c] > hi[c] ? (p[c] - hi[c]) * t : 0.0);
    s += e * e;
  }
  return s;
}

// Evaluations in scaled coordinates (a power of two, exact) so that squares neither overflow
// nor underflow at any size of the surface.
struct Scaled {
  const detail::NetView* net;
  double t;
  double uTop, vTop;
  double P[3];

  // d[k] scaled; returns the squared distance from P.
  double eval(double u, double v, int order, double d[9][3]) const {
    detail::evaluateNet(*net, u, v, !(u < uTop), !(v < vTop), order, order, d);
    const int n = order == 0 ? 1 : 9;
    for (int k = 0; k < n; ++k)
      for (int c = 0; c < 3; ++c) d[k][c] *= t;
    double s = 0.0;
    for (int c = 0; c < 3; ++c) s += (d[0][c] - P[c]) * (d[0][c] - P[c]);
    return s;
  }
};

double dot(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Bounded Newton on f = |S - P|^2 from (u, v) inside [ua, ub] x [va, vb]; f at the end, the
// point reached in at. A plain Newton step that moves the point by less than sqrt(tiny2)
// ends it: the next one would move it by about the square of that over the size.
double refine(const Scaled& E, double& u, double& v, double ua, double ub, double va, double vb,
              double tiny2, double at[3]) {
  double A[9][3], B[9][3], e[9][3];
  double(*d)[3] = A;
  double(*nd)[3] = B;
  double f = E.eval(u, v, 2, d);
  auto done = [&] {
    std::copy(d[0], d[0] + 3, at);
    return f;
  };
  if (!std::isfinite(f)) return done();
  const double tu = 4 * DBL_EPSILON * std::max(std::fabs(ua), std::fabs(ub)) + 1e-300;
  const double tv = 4 * DBL_EPSILON * std::max(std::fabs(va), std::fabs(vb)) + 1e-300;
  for (int it = 0; it < 40; ++it) {
    double r[3];
    for (int c = 0; c < 3; ++c) r[c] = d[0][c] - E.P[c];
    const double *Su = d[1], *Suu = d[2], *Sv = d[3], *Suv = d[4], *Svv = d[6];
    const double g0 = dot(Su, r), g1 = dot(Sv, r);
    double H00 = dot(Su, Su) + dot(Suu, r), H01 = dot(Su, Sv) + dot(Suv, r),
           H11 = dot(Sv, Sv) + dot(Svv, r);
    const bool fix0 = (u <= ua && g0 > 0) || (u >= ub && g0 < 0) || ua == ub;
    const bool fix1 = (v <= va && g1 > 0) || (v >= vb && g1 < 0) || va == vb;
    if (fix0) H01 = 0, H00 = 1;
    if (fix1) H01 = 0, H11 = 1;
    const double G0 = fix0 ? 0.0 : g0, G1 = fix1 ? 0.0 : g1;
    if (G0 == 0.0 && G1 == 0.0) break;
    // Levenberg's shift until the model is convex.
    double lam = 0.0;
    const double base = std::fabs(H00) + std::fabs(H11) + 1e-300;
    double s0 = 0, s1 = 0;
    for (int k = 0; k < 60; ++k) {
      const double a = H00 + lam, c = H11 + lam, det = a * c - H01 * H01;
      if (a > 0 && det > 0) {
        s0 = -(c * G0 - H01 * G1) / det;
        s1 = -(a * G1 - H01 * G0) / det;
        break;
      }
      lam = lam == 0.0 ? 1e-6 * base : lam * 4;
    }
    // The Newton step, then a diagonally scaled gradient step, each cut to the box's size,
    // projected on the box and halved until f decreases.
    bool stalled = true, converged = false;
    auto tryStep = [&](double a0, double a1, int halvings, bool newton) {
      if (!std::isfinite(a0) || !std::isfinite(a1)) return false;
      double k = 1.0;
      if (std::fabs(a0) > ub - ua) k = std::min(k, (ub - ua) / std::fabs(a0));
      if (std::fabs(a1) > vb - va) k = std::min(k, (vb - va) / std::fabs(a1));
      a0 *= k, a1 *= k;
      for (int h = 0; h < halvings; ++h, a0 *= 0.5, a1 *= 0.5) {
        const double un = std::clamp(u + a0, ua, ub), vn = std::clamp(v + a1, va, vb);
        if (un == u && vn == v) return false;
        // The full step usually succeeds: evaluated with its derivatives at once.
        const bool full = h == 0;
        const double fn = E.eval(un, vn, full ? 2 : 0, full ? nd : e);
        if (fn < f) {
          stalled = std::fabs(un - u) <= tu && std::fabs(vn - v) <= tv;
          if (newton && full && lam == 0.0) {
            double m[3];
            for (int c = 0; c < 3; ++c) m[c] = Su[c] * (un - u) + Sv[c] * (vn - v);
            converged = dot(m, m) <= tiny2;
          }
          u = un, v = vn, f = fn;
          if (full)
            std::swap(d, nd);
          else
            E.eval(u, v, 2, d);
          return true;
        }
      }
      return false;
    };
    // A step below the tolerance, or one whose predicted decrease of f (half of -G.s for a
    // Newton step) is below f's rounding, ends the descent: taken when it does not raise f (it
    // often cannot lower it any more: f is at its rounding there).
    if (lam == 0.0) {
      double m[3];
      for (int c = 0; c < 3; ++c) m[c] = Su[c] * s0 + Sv[c] * s1;
      if (dot(m, m) <= tiny2 || -0.5 * (G0 * s0 + G1 * s1) <= 8 * DBL_EPSILON * f) {
        const double un = std::clamp(u + s0, ua, ub), vn = std::clamp(v + s1, va, vb);
        const double fn = E.eval(un, vn, 2, nd);
        if (fn <= f) u = un, v = vn, f = fn, std::swap(d, nd);
        break;
      }
    }
    bool moved = tryStep(s0, s1, 12, true);
    if (!moved) {
      const double D0 = dot(Su, Su) + std::fabs(dot(Suu, r)),
                   D1 = dot(Sv, Sv) + std::fabs(dot(Svv, r));
      moved = tryStep(D0 > 0 ? -G0 / D0 : -G0, D1 > 0 ? -G1 / D1 : -G1, 50, false);
    }
    if (!moved || stalled || converged) break;
  }
  return done();
}

int gridSize(int degree) { return std::min(4 * degree + 4, 80); }

double reachOf(const double* g, int gu, int gv) {
  double r = 0.0;
  for (int j = 0; j < gv; ++j)
    for (int i = 0; i < gu; ++i) {
      const double* a = g + 3 * (j * gu + i);
      for (const double* b : {i + 1 < gu ? a + 3 : nullptr, j + 1 < gv ? a + 3 * gu : nullptr}) {
        if (b == nullptr) continue;
        const double d = std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
        if (d > r || !std::isfinite(d)) r = std::isfinite(d) ? d : HUGE_VAL;
      }
    }
  return r;
}

using Cell = detail::PoleSearch::Cell;

// The grid of a cell through its span's basis: the rows combined at each u, then the columns.
void sampleCell(const detail::NetView& n, const Cell& c, int gu, int gv, double* out) {
  const int p = n.pu, q = n.pv, st = n.stride;
  std::vector<double> N(static_cast<std::size_t>(std::max(p, q) + 1));
  std::vector<double> R(static_cast<std::size_t>(4 * (q + 1) * gu));
  for (int i = 0; i < gu; ++i) {
    const double u = i == gu - 1 ? c.u1 : c.u0 + (c.u1 - c.u0) * i / (gu - 1);
    detail::basisValues(n.ku, p, c.su, u, N.data());
    for (int j = 0; j <= q; ++j) {
      const double* row = n.poles + static_cast<std::ptrdiff_t>(c.sv - q + j) * n.nu * st;
      double h[4] = {0, 0, 0, 0};
      for (int r = 0; r <= p; ++r) {
        const double* P = row + static_cast<std::ptrdiff_t>(c.su - p + r) * st;
        h[0] += N[r] * P[0], h[1] += N[r] * P[1], h[2] += N[r] * P[2];
        h[3] += N[r] * (st == 4 ? P[3] : 1.0);
      }
      std::copy(h, h + 4, &R[4 * (j * gu + i)]);
    }
  }
  for (int jj = 0; jj < gv; ++jj) {
    const double v = jj == gv - 1 ? c.v1 : c.v0 + (c.v1 - c.v0) * jj / (gv - 1);
    detail::basisValues(n.kv, q, c.sv, v, N.data());
    for (int i = 0; i < gu; ++i) {
      double h[4] = {0, 0, 0, 0};
      for (int j = 0; j <= q; ++j)
        for (int k = 0; k < 4; ++k) h[k] += N[j] * R[4 * (j * gu + i) + k];
      double* o = out + 3 * (jj * gu + i);
      o[0] = h[0] / h[3], o[1] = h[1] / h[3], o[2] = h[2] / h[3];
    }
  }
}

// The blossom of span s's polynomial (degree p on the knots U) at the arguments x[0..p-1], from
// its p + 1 homogeneous poles d (overwritten); the result in d[p]. Every argument list of a
// copies of a and p - a copies of b gives a Bezier pole of the piece over [a, b], wherever these
// lie.
void blossom(const double* U, int p, int s, const double* x, double (*d)[4]) {
  for (int r = 1; r <= p; ++r)
    for (int i = p; i >= r; --i) {
      const double lo = U[s - p + i], al = (x[r - 1] - lo) / (U[s + i + 1 - r] - lo);
      for (int c = 0; c < 4; ++c) d[i][c] = (1.0 - al) * d[i - 1][c] + al * d[i][c];
    }
}

// The degree up to which a cell's Bezier poles are worked out (the cost grows as its cube).
constexpr int kMaxBoundDegree = 40;

// The oriented box of the cell's piece from its Bezier poles; bounded false when a weight is not
// positive or anything is not finite. Also the axis box (lo, hi) of the same poles.
void boundCell(const detail::NetView& n, Cell& c, double box[6]) {
  const int p = n.pu, q = n.pv, st = n.stride;
  c.bounded = false;
  for (int k = 0; k < 3; ++k) box[k] = -HUGE_VAL, box[k + 3] = HUGE_VAL;
  if (p > kMaxBoundDegree || q > kMaxBoundDegree) return;
  std::vector<double> X(static_cast<std::size_t>(std::max(p, q)) + 1);
  std::vector<double> W(4 * static_cast<std::size_t>(std::max(p, q) + 1));
  std::vector<double> H(4 * static_cast<std::size_t>((p + 1) * (q + 1)));  // (l in v, k in u)
  auto work = reinterpret_cast<double(*)[4]>(W.data());
  // Along u on each row of the span's poles, then along v on each column of the result.
  std::vector<double> R(4 * static_cast<std::size_t>((p + 1) * (q + 1)));  // (row j, k in u)
  for (int j = 0; j <= q; ++j)
    for (int k = 0; k <= p; ++k) {
      for (int i = 0; i <= p; ++i) {
        const double* P =
            n.poles + (static_cast<std::ptrdiff_t>(c.sv - q + j) * n.nu + c.su - p + i) * st;
        work[i][0] = P[0], work[i][1] = P[1], work[i][2] = P[2], work[i][3] = st == 4 ? P[3] : 1;
      }
      for (int a = 0; a < p; ++a) X[a] = a < p - k ? c.u0 : c.u1;
      blossom(n.ku, p, c.su, X.data(), work);
      std::copy_n(work[p], 4, &R[4 * (j * (p + 1) + k)]);
    }
  for (int k = 0; k <= p; ++k)
    for (int l = 0; l <= q; ++l) {
      for (int j = 0; j <= q; ++j) std::copy_n(&R[4 * (j * (p + 1) + k)], 4, work[j]);
      for (int a = 0; a < q; ++a) X[a] = a < q - l ? c.v0 : c.v1;
      blossom(n.kv, q, c.sv, X.data(), work);
      std::copy_n(work[q], 4, &H[4 * (l * (p + 1) + k)]);
    }
  // Cartesian poles.
  const int count = (p + 1) * (q + 1);
  for (int k = 0; k < count; ++k) {
    double* h = &H[4 * k];
    if (!(h[3] > 0.0) || !std::isfinite(h[3])) return;
    for (int a = 0; a < 3; ++a) h[a] /= h[3];
    if (!std::isfinite(h[0] + h[1] + h[2])) return;
  }
  auto C = [&](int k, int l) { return &H[4 * (l * (p + 1) + k)]; };
  // Axes: along the piece's u, across it in its v, and the normal of the two.
  double e1[3], e2[3], e3[3];
  for (int a = 0; a < 3; ++a) {
    e1[a] = C(p, 0)[a] + C(p, q)[a] - C(0, 0)[a] - C(0, q)[a];
    e2[a] = C(0, q)[a] + C(p, q)[a] - C(0, 0)[a] - C(p, 0)[a];
  }
  auto normalize = [](double* x) {
    const double len = std::hypot(x[0], x[1], x[2]);
    if (!(len > 0.0) || !std::isfinite(len)) return false;
    for (int a = 0; a < 3; ++a) x[a] /= len;
    return true;
  };
  auto cross = [](const double* a, const double* b, double* out) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
  };
  if (!normalize(e1)) e1[0] = 1, e1[1] = e1[2] = 0;
  cross(e1, e2, e3);
  if (!normalize(e3)) {
    // No second direction: any perpendicular to e1.
    const double other[3] = {std::fabs(e1[0]) < 0.6 ? 1.0 : 0.0, std::fabs(e1[0]) < 0.6 ? 0.0 : 1.0,
                             0.0};
    cross(e1, other, e3);
    normalize(e3);
  }
  cross(e3, e1, e2);
  std::copy_n(e1, 3, c.ax[0]), std::copy_n(e2, 3, c.ax[1]), std::copy_n(e3, 3, c.ax[2]);
  std::copy_n(C(0, 0), 3, c.o);
  for (int a = 0; a < 3; ++a) c.lo[a] = HUGE_VAL, c.hi[a] = -HUGE_VAL;
  for (int k = 0; k < 3; ++k) box[k] = HUGE_VAL, box[k + 3] = -HUGE_VAL;
  for (int m = 0; m < count; ++m) {
    const double* x = &H[4 * m];
    const double r[3] = {x[0] - c.o[0], x[1] - c.o[1], x[2] - c.o[2]};
    for (int a = 0; a < 3; ++a) {
      const double s = dot(r, c.ax[a]);
      c.lo[a] = std::min(c.lo[a], s), c.hi[a] = std::max(c.hi[a], s);
      box[a] = std::min(box[a], x[a]), box[a + 3] = std::max(box[a + 3], x[a]);
    }
  }
  // Rounding of the poles and of the projections: a sliver of the extent.
  double ext = 0.0;
  for (int a = 0; a < 3; ++a)
    ext = std::max(
        {ext, std::fabs(c.o[a]), c.hi[a] - c.lo[a], std::fabs(box[a]), std::fabs(box[a + 3])});
  const double slack = 64 * DBL_EPSILON * ext;
  for (int a = 0; a < 3; ++a)
    c.lo[a] -= slack, c.hi[a] += slack, box[a] -= slack, box[a + 3] += slack;
  c.bounded = true;
}

// The squared distance from the scaled point P to the cell's oriented box, scaled by t.
double orientedDistance2(const Cell& c, const double* P, double t) {
  const double r[3] = {P[0] - c.o[0] * t, P[1] - c.o[1] * t, P[2] - c.o[2] * t};
  double s = 0.0;
  for (int a = 0; a < 3; ++a) {
    const double x = dot(r, c.ax[a]), lo = c.lo[a] * t, hi = c.hi[a] * t;
    const double e = x < lo ? lo - x : (x > hi ? x - hi : 0.0);
    s += e * e;
  }
  return s;
}

// The frame of a cell: its oriented box's axes about o, or the coordinate axes.
const double kAxes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
const double kZero3[3] = {0, 0, 0};
const double (*axesOf(const Cell& c))[3] { return c.bounded ? c.ax : kAxes; }
const double* originOf(const Cell& c) { return c.bounded ? c.o : kZero3; }

// The box of each square of the samples g (gu x gv) in the cell's frame, grown by the bulge:
// (lo, hi) per square, (gu - 1) (gv - 1) squares, u fastest. The surface over a square lies in
// it when its gap to the corners' bilinear interpolation stays within the bulge.
void squareBoxes(const Cell& c, const double* g, int gu, int gv, double bulge, double* out) {
  const double(*ax)[3] = axesOf(c);
  const double* o = originOf(c);
  std::vector<double> local(3 * static_cast<std::size_t>(gu) * gv);
  for (int k = 0; k < gu * gv; ++k) {
    const double r[3] = {g[3 * k] - o[0], g[3 * k + 1] - o[1], g[3 * k + 2] - o[2]};
    for (int a = 0; a < 3; ++a) local[3 * k + a] = dot(r, ax[a]);
  }
  const double grow = std::isfinite(bulge) ? bulge : HUGE_VAL;
  for (int j = 0; j + 1 < gv; ++j)
    for (int i = 0; i + 1 < gu; ++i) {
      double* b = out + 6 * (j * (gu - 1) + i);
      for (int a = 0; a < 3; ++a) {
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        for (int k = 0; k < 4; ++k) {
          const double x = local[3 * ((j + k / 2) * gu + i + k % 2) + a];
          lo = std::min(lo, x), hi = std::max(hi, x);
        }
        // A corner that is not finite: no bound.
        if (!(lo <= hi)) lo = HUGE_VAL, hi = -HUGE_VAL;
        b[a] = lo - grow, b[a + 3] = hi + grow;
        if (!(b[a] <= b[a + 3])) b[a] = -HUGE_VAL, b[a + 3] = HUGE_VAL;
      }
    }
}

// Twice the largest gap between the samples f of a cell taken twice as finely (2 gu - 1 by
// 2 gv - 1) and the bilinear interpolation of its even samples, at the middles of the squares
// and of their edges; infinity when a sample is not finite.
double bulgeOf(const double* fine, int gu, int gv) {
  const int fu = 2 * gu - 1, fv = 2 * gv - 1;
  auto F = [&](int i, int j) { return fine + 3 * (j * fu + i); };
  double gap = 0.0;
  auto off = [&](const double* x, std::initializer_list<const double*> ends) {
    double m[3] = {0, 0, 0};
    for (const double* e : ends)
      for (int a = 0; a < 3; ++a) m[a] += e[a] / double(ends.size());
    const double d = std::hypot(x[0] - m[0], x[1] - m[1], x[2] - m[2]);
    gap = std::isfinite(d) ? std::max(gap, d) : HUGE_VAL;
  };
  for (int j = 0; j < fv; ++j)
    for (int i = 0; i < fu; ++i) {
      if (i % 2 == 1 && j % 2 == 1)
        off(F(i, j), {F(i - 1, j - 1), F(i + 1, j - 1), F(i - 1, j + 1), F(i + 1, j + 1)});
      else if (i % 2 == 1)
        off(F(i, j), {F(i - 1, j), F(i + 1, j)});
      else if (j % 2 == 1)
        off(F(i, j), {F(i, j - 1), F(i, j + 1)});
    }
  return 2.0 * gap;
}

}  // namespace

const ERSpoleRep::Search& ERSpoleRep::search() const {
  return search_.get([this] { return buildSearch(); });
}

ERSpoleRep::Search ERSpoleRep::buildSearch() const {
  Search S;
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  if (!n.fits()) return S;
  int u0, u1, v0, v1;
  trimmedSpans(n, u0, u1, v0, v1);
  const double a = std::min(udeb(), ufin()), b = std::max(udeb(), ufin());
  const double c = std::min(vdeb(), vfin()), e = std::max(vdeb(), vfin());
  std::vector<int> spansU, spansV;
  for (int su = u0; su <= u1; ++su)
    if (n.ku[su] < n.ku[su + 1]) spansU.push_back(su);
  for (int sv = v0; sv <= v1; ++sv)
    if (n.kv[sv] < n.kv[sv + 1]) spansV.push_back(sv);
  const int NU = int(spansU.size()), NV = int(spansV.size());
  std::vector<double> boxes(6 * static_cast<std::size_t>(NU) * NV);
  for (int iu = 0; iu < NU; ++iu)
    for (int iv = 0; iv < NV; ++iv) {
      const int su = spansU[iu], sv = spansV[iv];
      Cell cell{};
      // The end spans reach the limits even when these lie beyond the knots.
      cell.u0 = su == u0 ? a : std::max(a, n.ku[su]);
      cell.u1 = su == u1 ? b : std::min(b, n.ku[su + 1]);
      cell.v0 = sv == v0 ? c : std::max(c, n.kv[sv]);
      cell.v1 = sv == v1 ? e : std::min(e, n.kv[sv + 1]);
      cell.su = su, cell.sv = sv, cell.grid = 0, cell.reach = 0.0;
      boundCell(n, cell, &boxes[6 * S.cells.size()]);
      S.cells.push_back(cell);
    }
  // The tree: halves of the cells' index rectangle, the longer side cut.
  S.nodes.reserve(2 * S.cells.size());
  auto build = [&](auto&& self, int i0, int i1, int j0, int j1) -> int {
    const int at = int(S.nodes.size());
    S.nodes.push_back(Search::Node{});
    Search::Node node{};
    if (i1 - i0 == 1 && j1 - j0 == 1) {
      const int k = i0 * NV + j0;
      std::copy_n(&boxes[6 * k], 3, node.lo), std::copy_n(&boxes[6 * k + 3], 3, node.hi);
      node.first = k, node.second = -1;
    } else {
      int f, s;
      if (i1 - i0 >= j1 - j0) {
        const int m = (i0 + i1) / 2;
        f = self(self, i0, m, j0, j1), s = self(self, m, i1, j0, j1);
      } else {
        const int m = (j0 + j1) / 2;
        f = self(self, i0, i1, j0, m), s = self(self, i0, i1, m, j1);
      }
      for (int k = 0; k < 3; ++k) {
        node.lo[k] = std::min(S.nodes[f].lo[k], S.nodes[s].lo[k]);
        node.hi[k] = std::max(S.nodes[f].hi[k], S.nodes[s].hi[k]);
      }
      node.first = f, node.second = s;
    }
    S.nodes[at] = node;
    return at;
  };
  if (NU > 0 && NV > 0) build(build, 0, NU, 0, NV);
  // Every cell's samples and square boxes, kept up to 2^20 samples (72 MB with the boxes); larger
  // nets sample each cell again per query.
  S.gu = gridSize(n.pu), S.gv = gridSize(n.pv);
  const std::size_t per = static_cast<std::size_t>(S.gu) * S.gv;
  if (per * S.cells.size() <= (std::size_t(1) << 20)) {
    S.grid.resize(3 * per * S.cells.size());
    const std::size_t sq = static_cast<std::size_t>(S.gu - 1) * (S.gv - 1);
    S.squares.resize(6 * sq * S.cells.size());
    const int fu = 2 * S.gu - 1, fv = 2 * S.gv - 1;
    std::vector<double> fine(3 * static_cast<std::size_t>(fu) * fv);
    for (std::size_t k = 0; k < S.cells.size(); ++k) {
      Cell& cell = S.cells[k];
      cell.grid = 3 * per * k;
      // Sampled twice as finely: the even samples are the grid, the others measure the bulge.
      sampleCell(n, cell, fu, fv, fine.data());
      double* out = &S.grid[cell.grid];
      for (int j = 0; j < S.gv; ++j)
        for (int i = 0; i < S.gu; ++i)
          std::copy_n(&fine[3 * (2 * j * fu + 2 * i)], 3, out + 3 * (j * S.gu + i));
      cell.reach = reachOf(out, S.gu, S.gv);
      cell.bulge = bulgeOf(fine.data(), S.gu, S.gv);
      squareBoxes(cell, out, S.gu, S.gv, cell.bulge, &S.squares[6 * sq * k]);
    }
  }
  return S;
}

double ERSpoleRep::nearest(const ERPoint3D& p, ERPoint2D& uv) const {
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (!n.fits() || !std::isfinite(p.x() + p.y() + p.z())) return nan;
  const Search& S = search();
  if (S.cells.empty()) return nan;
  const ERMinimax3D whole = getBox();
  double ext = 0.0;
  for (double x : {whole.xmin(), whole.ymin(), whole.zmin(), whole.xmax(), whole.ymax(),
                   whole.zmax(), p.x(), p.y(), p.z()})
    if (std::isfinite(x)) ext = std::max(ext, std::fabs(x));
  if (!(ext > 0.0)) ext = 1.0;
  Scaled E{&n, std::ldexp(1.0, -std::ilogb(ext)), ufin(), vfin(), {}};
  E.P[0] = p.x() * E.t, E.P[1] = p.y() * E.t, E.P[2] = p.z() * E.t;
  const double P[3] = {p.x(), p.y(), p.z()};

  double best = HUGE_VAL;
  double bu_ = std::min(udeb(), ufin()), bv_ = std::min(vdeb(), vfin());
  const int gu = S.gu, gv = S.gv;
  const std::size_t per = static_cast<std::size_t>(gu) * gv;
  const std::size_t nsq = static_cast<std::size_t>(gu - 1) * (gv - 1);
  std::vector<double> f(per), own, ownSquares, lb(nsq);
  std::vector<char> covered(nsq);
  if (S.grid.empty()) own.resize(3 * per), ownSquares.resize(6 * nsq);

  auto searchCell = [&](int k) {
    const Cell& c = S.cells[static_cast<std::size_t>(k)];
    if (c.bounded && orientedDistance2(c, E.P, E.t) > best) return;
    const double *g = nullptr, *boxes = nullptr;
    if (S.grid.empty()) {
      // Without a measured bulge, the largest spacing of the samples stands for it.
      sampleCell(n, c, gu, gv, own.data());
      g = own.data();
      squareBoxes(c, g, gu, gv, reachOf(g, gu, gv), ownSquares.data());
      boxes = ownSquares.data();
    } else {
      g = &S.grid[c.grid];
      boxes = &S.squares[6 * nsq * static_cast<std::size_t>(k)];
    }
    // The point in the cell's frame; the lower bound of the distance to each square.
    const double(*ax)[3] = axesOf(c);
    const double* o = originOf(c);
    const double r[3] = {E.P[0] - o[0] * E.t, E.P[1] - o[1] * E.t, E.P[2] - o[2] * E.t};
    const double Q[3] = {dot(r, ax[0]), dot(r, ax[1]), dot(r, ax[2])};
    double lbMin = HUGE_VAL;
    for (std::size_t s = 0; s < nsq; ++s) {
      const double* b = boxes + 6 * s;
      double d2 = 0.0;
      for (int a = 0; a < 3; ++a) {
        const double lo = b[a] * E.t, hi = b[a + 3] * E.t;
        const double e = Q[a] < lo ? lo - Q[a] : (Q[a] > hi ? Q[a] - hi : 0.0);
        d2 += e * e;
      }
      lb[s] = std::isnan(d2) ? 0.0 : d2;
      lbMin = std::min(lbMin, lb[s]);
    }
    if (lbMin > best) return;
    double fmin = HUGE_VAL;
    int lowest = -1;
    for (std::size_t s = 0; s < per; ++s) {
      const double x = g[3 * s] * E.t - E.P[0], y = g[3 * s + 1] * E.t - E.P[1],
                   z = g[3 * s + 2] * E.t - E.P[2];
      f[s] = x * x + y * y + z * z;
      if (f[s] < fmin) fmin = f[s], lowest = int(s);
    }
    if (lowest < 0) return;
    // Within the span's own polynomial: a crease at a knot is then an edge of the box.
    E.uTop = c.u1, E.vTop = c.v1;
    double cellSize2 = 0.0;  // scaled
    if (c.bounded)
      for (int a = 0; a < 3; ++a) cellSize2 += std::pow((c.hi[a] - c.lo[a]) * E.t, 2);
    else
      cellSize2 = std::pow(c.reach * E.t, 2) * double(gu * gu + gv * gv);
    const double tiny2 = std::isfinite(cellSize2) ? 1e-18 * cellSize2 : 0.0;
    std::fill(covered.begin(), covered.end(), 0);
    // The squares around (u, v) (a square's own parameters and its neighbours).
    auto cover = [&](double u, double v) {
      const int i = std::clamp(int(std::floor((u - c.u0) / (c.u1 - c.u0) * (gu - 1))), 0, gu - 2);
      const int j = std::clamp(int(std::floor((v - c.v0) / (c.v1 - c.v0) * (gv - 1))), 0, gv - 2);
      for (int jj = std::max(j - 1, 0); jj <= std::min(j + 1, gv - 2); ++jj)
        for (int ii = std::max(i - 1, 0); ii <= std::min(i + 1, gu - 2); ++ii)
          covered[static_cast<std::size_t>(jj * (gu - 1) + ii)] = 1;
    };
    auto descend = [&](int at) {
      const int i = at % gu, j = at / gu;
      double u = i == gu - 1 ? c.u1 : c.u0 + (c.u1 - c.u0) * i / (gu - 1);
      double v = j == gv - 1 ? c.v1 : c.v0 + (c.v1 - c.v0) * j / (gv - 1);
      if (f[static_cast<std::size_t>(at)] < best) {
        best = f[static_cast<std::size_t>(at)], bu_ = u, bv_ = v;
      }
      cover(u, v);
      double reached[3];
      const double r = refine(E, u, v, c.u0, c.u1, c.v0, c.v1, tiny2, reached);
      if (r < best) best = r, bu_ = u, bv_ = v;
      if (std::isfinite(u + v)) cover(u, v);
    };
    // The lowest sample first: its descent usually ends at the answer.
    descend(lowest);
    // Then every square that may still hold a nearer point and that no descent has passed
    // through, the lowest bound first, from its nearest corner (at most 16 descents more).
    for (int round = 0; round < 16; ++round) {
      std::size_t pick = nsq;
      for (std::size_t s = 0; s < nsq; ++s)
        if (!covered[s] && lb[s] <= best && (pick == nsq || lb[s] < lb[pick])) pick = s;
      if (pick == nsq) break;
      const int i = int(pick % static_cast<std::size_t>(gu - 1)),
                j = int(pick / static_cast<std::size_t>(gu - 1));
      int corner = j * gu + i;
      for (int m = 1; m < 4; ++m) {
        const int at = (j + m / 2) * gu + i + m % 2;
        if (f[static_cast<std::size_t>(at)] < f[static_cast<std::size_t>(corner)]) corner = at;
      }
      covered[pick] = 1;
      descend(corner);
    }
  };

  // The lower bound of a node: its axis box (0 for a box that is not a bound).
  auto bound = [&](int k) {
    const Search::Node& node = S.nodes[static_cast<std::size_t>(k)];
    return boxDistance2(node.lo, node.hi, P, E.t);
  };
  // The cell under the point first: down the tree by the nearer box, the ties by the nearer
  // middle of the box.
  int at = 0;
  while (S.nodes[static_cast<std::size_t>(at)].second >= 0) {
    const Search::Node& node = S.nodes[static_cast<std::size_t>(at)];
    const double l1 = bound(node.first), l2 = bound(node.second);
    if (l1 != l2) {
      at = l1 < l2 ? node.first : node.second;
      continue;
    }
    auto middle2 = [&](int k) {
      const Search::Node& m = S.nodes[static_cast<std::size_t>(k)];
      double s = 0.0;
      for (int a = 0; a < 3; ++a) {
        const double x = (0.5 * m.lo[a] + 0.5 * m.hi[a] - P[a]) * E.t;
        s += std::isfinite(x) ? x * x : 0.0;
      }
      return s;
    };
    at = middle2(node.first) <= middle2(node.second) ? node.first : node.second;
  }
  const int first = S.nodes[static_cast<std::size_t>(at)].first;
  searchCell(first);
  // Then every cell whose bounds beat the best distance, nearer boxes first.
  std::vector<std::pair<int, double>> stack{{0, bound(0)}};
  while (!stack.empty()) {
    const auto [k, lb] = stack.back();
    stack.pop_back();
    if (lb > best) continue;
    const Search::Node& node = S.nodes[static_cast<std::size_t>(k)];
    if (node.second < 0) {
      if (node.first != first) searchCell(node.first);
      continue;
    }
    const double l1 = bound(node.first), l2 = bound(node.second);
    const bool firstNearer = l1 <= l2;
    const std::pair<int, double> nearer{firstNearer ? node.first : node.second,
                                        firstNearer ? l1 : l2};
    const std::pair<int, double> farther{firstNearer ? node.second : node.first,
                                         firstNearer ? l2 : l1};
    if (farther.second <= best) stack.push_back(farther);
    if (nearer.second <= best) stack.push_back(nearer);
  }
  if (!std::isfinite(best)) return nan;
  uv = ERPoint2D(bu_, bv_);
  // The distance again from the point's differences: a square below the smallest double (a
  // distance below 1e-154 of the size) has lost it.
  double d[9][3];
  detail::evaluateNet(n, bu_, bv_, !(bu_ < ufin()), !(bv_ < vfin()), 0, 0, d);
  const double r =
      std::hypot(d[0][0] * E.t - E.P[0], d[0][1] * E.t - E.P[1], d[0][2] * E.t - E.P[2]) / E.t;
  return std::isfinite(r) ? r : std::sqrt(best) / E.t;
}

namespace {

// The sine of the angle between p - S and the normal at the record (0 when p is on S).
double footSine(const ERInfoPoint3DSurf& info, const ERVector3D& n, const ERPoint3D& p) {
  ERVector3D d(info.point(), p);
  const double len = d.norme();
  if (!(len > 0.0) || !(n.norme() > 0.0)) return 0.0;
  d = d * (1.0 / len);
  return (d ^ n).norme();
}

}  // namespace

int ERSpoleRep::ProjectionNormale(const ERPoint3D& p, double tol, ERPoint2D& uv, int) const {
  ERMinimax3D box = getBox();
  box.Inflate(0.2);
  ERMinimax3D at(p, p);
  at.Inflate(std::isfinite(tol) ? std::fabs(tol) : 0.0);
  if (box.xmax() < at.xmin() || at.xmax() < box.xmin() || box.ymax() < at.ymin() ||
      at.ymax() < box.ymin() || box.zmax() < at.zmin() || at.zmax() < box.zmin())
    return 0;
  ERPoint2D q = uv;
  const double dist = nearest(p, q);
  if (!std::isfinite(dist)) return 0;
  uv = q;
  const ERInfoPoint3DSurf info = PtCur(q.x(), q.y());
  int degenerate = 0;
  const ERVector3D n =
      get_stable_normal(static_cast<const ERAnyBoundedSurface&>(*this), info, degenerate);
  return footSine(info, n, p) <= 0.001 ? 1 : 0;
}

ERPoint3D ERSpoleRep::project_inbound(const ERPoint3D& p) const {
  ERPoint2D uv;
  if (!std::isfinite(nearest(p, uv))) return p;
  return (*this)(uv.x(), uv.y());
}

EREntity::DISTMINRES ERSpoleRep::SignedMinimalDistance(const ERPoint3D& p, double& dist) const {
  ERPoint2D uv;
  const double d = nearest(p, uv);
  if (!std::isfinite(d)) return DISTMIN_NONE;
  const ERInfoPoint3DSurf info = PtCur(uv.x(), uv.y());
  int degenerate = 0;
  const ERVector3D n =
      get_stable_normal(static_cast<const ERAnyBoundedSurface&>(*this), info, degenerate);
  if (footSine(info, n, p) <= 0.001) {
    dist = ERVector3D(info.point(), p) * n < 0.0 ? -d : d;
    return DISTMIN_NORMAL;
  }
  dist = d;
  return DISTMIN_END_POINT;
}

int ERSpoleRep::ReajustProjection(ERPoint3D& p, ERPoint2D& uv, int) const {
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  if (!n.fits() || !std::isfinite(p.x() + p.y() + p.z()) || !std::isfinite(uv.x() + uv.y()))
    return 0;
  const ERMinimax3D whole = getBox();
  double ext = std::max({std::fabs(p.x()), std::fabs(p.y()), std::fabs(p.z())});
  for (double x :
       {whole.xmin(), whole.ymin(), whole.zmin(), whole.xmax(), whole.ymax(), whole.zmax()})
    if (std::isfinite(x)) ext = std::max(ext, std::fabs(x));
  if (!(ext > 0.0)) ext = 1.0;
  Scaled E{&n, std::ldexp(1.0, -std::ilogb(ext)), ufin(), vfin(), {}};
  E.P[0] = p.x() * E.t, E.P[1] = p.y() * E.t, E.P[2] = p.z() * E.t;
  const double ua = std::min(udeb(), ufin()), ub = std::max(udeb(), ufin());
  const double va = std::min(vdeb(), vfin()), vb = std::max(vdeb(), vfin());
  double u = std::clamp(uv.x(), ua, ub), v = std::clamp(uv.y(), va, vb);
  double size2 = 0.0, reached[3];
  for (double x :
       {whole.xmax() - whole.xmin(), whole.ymax() - whole.ymin(), whole.zmax() - whole.zmin()})
    if (std::isfinite(x * E.t)) size2 += (x * E.t) * (x * E.t);
  if (!std::isfinite(refine(E, u, v, ua, ub, va, vb, 1e-18 * size2, reached))) return 0;
  uv = ERPoint2D(u, v);
  const ERInfoPoint3DSurf info = PtCur(u, v);
  int degenerate = 0;
  const ERVector3D nrm =
      get_stable_normal(static_cast<const ERAnyBoundedSurface&>(*this), info, degenerate);
  const int ok = footSine(info, nrm, p) <= 0.001 ? 1 : 0;
  p = info.point();
  return ok;
}

// ---------------------------------------------------------------------------------------------
// Projection along Z

namespace {

// A rational Bezier net: (q + 1) rows of (p + 1) homogeneous poles, on [u0, u1] x [v0, v1].
struct Piece {
  int p, q;
  std::vector<double> h;
  double u0, u1, v0, v1;
  double* at(int i, int j) { return &h[4 * (j * (p + 1) + i)]; }
};

// The halves at the middle, in u (alongU) or in v.
void halve(const Piece& a, bool alongU, Piece& lo, Piece& hi) {
  lo = a, hi = a;
  const int n = alongU ? a.p : a.q, lines = alongU ? a.q + 1 : a.p + 1;
  std::vector<double> w(static_cast<std::size_t>(4 * (n + 1)));
  for (int l = 0; l < lines; ++l) {
    auto idx = [&](int k) { return alongU ? 4 * (l * (a.p + 1) + k) : 4 * (k * (a.p + 1) + l); };
    for (int k = 0; k <= n; ++k) std::copy_n(&a.h[idx(k)], 4, &w[4 * k]);
    for (int r = 1; r <= n; ++r) {
      for (int c = 0; c < 4; ++c) lo.h[idx(r - 1) + c] = w[c];
      std::copy_n(&w[4 * (n - r + 1)], 4, &hi.h[idx(n - r + 1)]);
      for (int k = 0; k + r <= n; ++k)
        for (int c = 0; c < 4; ++c) w[4 * k + c] = 0.5 * (w[4 * k + c] + w[4 * (k + 1) + c]);
    }
    std::copy_n(&w[0], 4, &lo.h[idx(n)]);
    std::copy_n(&w[0], 4, &hi.h[idx(0)]);
  }
  if (alongU) {
    const double m = 0.5 * (a.u0 + a.u1);
    lo.u1 = m, hi.u0 = m;
  } else {
    const double m = 0.5 * (a.v0 + a.v1);
    lo.v1 = m, hi.v0 = m;
  }
}

// The xy box of the Cartesian poles; false when a weight is not positive (no bound).
bool xyBox(const Piece& a, double b[4]) {
  b[0] = b[1] = HUGE_VAL, b[2] = b[3] = -HUGE_VAL;
  for (std::size_t k = 0; k < a.h.size(); k += 4) {
    const double w = a.h[k + 3];
    if (!(w > 0.0)) return false;
    const double x = a.h[k] / w, y = a.h[k + 1] / w;
    b[0] = std::min(b[0], x), b[1] = std::min(b[1], y);
    b[2] = std::max(b[2], x), b[3] = std::max(b[3], y);
  }
  return true;
}

}  // namespace

void ERSpoleRep::ProjectPoint(const ERPoint3D& p, ERRaySurfaceResult& res, int) const {
  if (!std::isfinite(p.x() + p.y())) return;
  const ERMinimax3D box = getBox();
  if (p.x() < box.xmin() || p.x() > box.xmax() || p.y() < box.ymin() || p.y() > box.ymax()) return;
  const ERSpoleNURBS3D whole(homogeneousPoles(), knotsU(), knotsV());
  const Nurbs3DToBezier3DRDecomposer dec(whole);
  const double size =
      std::max({box.xmax() - box.xmin(), box.ymax() - box.ymin(), box.zmax() - box.zmin(), 1e-300});
  const double ua = std::min(udeb(), ufin()), ub = std::max(udeb(), ufin());
  const double va = std::min(vdeb(), vfin()), vb = std::max(vdeb(), vfin());
  std::vector<ERPoint2D> found;
  std::vector<ERPoint3D> foundAt;
  std::vector<bool> grazed;
  const double k2 = std::ldexp(1.0, -std::ilogb(size));
  const double du = 1e-9 * (ub - ua), dv = 1e-9 * (vb - va), dp = 1e-9 * size;
  // Newton on (x, y) from (u, v) inside the piece's patch; records a new root.
  auto newton = [&](double u, double v, double pu0, double pu1, double pv0, double pv1) {
    for (int it = 0; it < 30; ++it) {
      const ERInfoPoint3DSurf info = PtCur(u, v);
      const ERPoint3D S = info.point();
      // Scaled by a power of two near the size, so that the products stay in range.
      const ERVector3D Su = info.tangenteU() * k2, Sv = info.tangenteV() * k2;
      const double fx = (S.x() - p.x()) * k2, fy = (S.y() - p.y()) * k2;
      if (std::hypot(fx, fy) <= 1e-13 * size * k2) break;
      const double det = Su.x() * Sv.y() - Su.y() * Sv.x();
      if (!(det != 0.0) || !std::isfinite(det)) return;
      const double su = -(fx * Sv.y() - fy * Sv.x()) / det, sv = -(Su.x() * fy - Su.y() * fx) / det;
      u = std::clamp(u + su, pu0, pu1), v = std::clamp(v + sv, pv0, pv1);
    }
    if (u < ua || u > ub || v < va || v > vb) return;
    ERInfoPoint3DSurf info = PtCur(u, v);
    const ERPoint3D S = info.point();
    if (!(std::hypot(S.x() - p.x(), S.y() - p.y()) <= 1e-9 * size)) return;
    // A grazing line (normal nearly across Z) meets the surface in a cluster of roots
    // sqrt(tolerance) wide: one contact.
    const bool grazing = std::fabs(info.normale().z()) <= 1e-2;
    for (std::size_t k = 0; k < found.size(); ++k) {
      const double gap = qorv::distance(foundAt[k], S);
      if ((std::fabs(found[k].x() - u) <= du && std::fabs(found[k].y() - v) <= dv) || gap <= dp ||
          (grazing && grazed[k] && gap <= 1e-4 * size))
        return;
    }
    found.push_back(ERPoint2D(u, v)), foundAt.push_back(S), grazed.push_back(grazing);
    res.AddPointSolution(info);
  };
  for (int i = 0; i < dec.nu(); ++i)
    for (int j = 0; j < dec.nv(); ++j) {
      const t_SmartPtr<ERSpoleBezier3DR> b = dec.Bezier(i, j);
      if (b->ufin() < ua || b->udeb() > ub || b->vfin() < va || b->vdeb() > vb) continue;
      Piece root{b->degreeU(), b->degreeV(), {}, b->udeb(), b->ufin(), b->vdeb(), b->vfin()};
      for (int k = 0; k < b->poles().length(); ++k) {
        const double* d = b->poles().data()[k].data();
        root.h.insert(root.h.end(), d, d + 4);
      }
      double rb[4];
      const bool pruned = xyBox(root, rb);
      const double xySize = pruned ? std::max(rb[2] - rb[0], rb[3] - rb[1]) : size;
      std::vector<std::pair<Piece, int>> stack{{root, 0}};
      int visited = 0;
      while (!stack.empty() && visited < 4096) {
        auto [piece, depth] = std::move(stack.back());
        stack.pop_back();
        ++visited;
        double pb[4];
        const bool bounded = xyBox(piece, pb);
        const double tol = 1e-12 * size;
        if (bounded && (p.x() < pb[0] - tol || p.x() > pb[2] + tol || p.y() < pb[1] - tol ||
                        p.y() > pb[3] + tol))
          continue;
        const bool small = bounded && std::max(pb[2] - pb[0], pb[3] - pb[1]) <= 1e-3 * xySize;
        if (small || depth >= 24) {
          newton(0.5 * (piece.u0 + piece.u1), 0.5 * (piece.v0 + piece.v1), b->udeb(), b->ufin(),
                 b->vdeb(), b->vfin());
          continue;
        }
        Piece lo, hi;
        halve(piece, depth % 2 == 0, lo, hi);
        stack.push_back({std::move(hi), depth + 1});
        stack.push_back({std::move(lo), depth + 1});
      }
    }
}
