// The nearest point of a pole surface: spans ordered by the distance to the box of their poles
// (a lower bound of the distance to the span when the weights are positive), each span that can
// still hold a nearer point sampled and its best samples refined by a bounded Newton on the
// squared distance inside the span, whose active set keeps a parameter on a limit while the
// gradient pushes outward (edges and corners without a perpendicular foot, and the creases of
// knots of full multiplicity, which are edges of two spans).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "qorv/freeform/pole_surfaces.h"

using namespace qorv;
using QuickAlgebra::ERVec;

namespace {

// The squared distance from p to the box b, both scaled by t.
double boxDistance2(const double* b, const double* p, double t) {
  double s = 0.0;
  for (int c = 0; c < 3; ++c) {
    const double e =
        p[c] < b[c] ? (b[c] - p[c]) * t : (p[c] > b[c + 3] ? (p[c] - b[c + 3]) * t : 0.0);
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

// Bounded Newton on f = |S - P|^2 from (u, v) inside [ua, ub] x [va, vb]; f at the end.
double refine(const Scaled& E, double& u, double& v, double ua, double ub, double va, double vb) {
  double d[9][3], e[9][3];
  double f = E.eval(u, v, 2, d);
  if (!std::isfinite(f)) return f;
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
    bool moved = false, stalled = true;
    auto tryStep = [&](double a0, double a1, int halvings) {
      if (!std::isfinite(a0) || !std::isfinite(a1)) return false;
      double k = 1.0;
      if (std::fabs(a0) > ub - ua) k = std::min(k, (ub - ua) / std::fabs(a0));
      if (std::fabs(a1) > vb - va) k = std::min(k, (vb - va) / std::fabs(a1));
      a0 *= k, a1 *= k;
      for (int h = 0; h < halvings; ++h, a0 *= 0.5, a1 *= 0.5) {
        const double un = std::clamp(u + a0, ua, ub), vn = std::clamp(v + a1, va, vb);
        if (un == u && vn == v) return false;
        const double fn = E.eval(un, vn, 0, e);
        if (fn < f) {
          stalled = std::fabs(un - u) <= tu && std::fabs(vn - v) <= tv;
          u = un, v = vn, f = E.eval(u, v, 2, d);
          return true;
        }
      }
      return false;
    };
    moved = tryStep(s0, s1, 12);
    if (!moved) {
      const double D0 = dot(Su, Su) + std::fabs(dot(Suu, r)),
                   D1 = dot(Sv, Sv) + std::fabs(dot(Svv, r));
      moved = tryStep(D0 > 0 ? -G0 / D0 : -G0, D1 > 0 ? -G1 / D1 : -G1, 50);
    }
    if (moved && stalled) break;
    if (!moved) break;
  }
  return f;
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

}  // namespace

const std::vector<ERSpoleRep::Cell>& ERSpoleRep::cells() const {
  if (cellsValid_) return cells_;
  cells_.clear();
  cellsValid_ = true;
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  if (!n.fits()) return cells_;
  int u0, u1, v0, v1;
  trimmedSpans(n, u0, u1, v0, v1);
  const double a = std::min(udeb(), ufin()), b = std::max(udeb(), ufin());
  const double c = std::min(vdeb(), vfin()), e = std::max(vdeb(), vfin());
  for (int su = u0; su <= u1; ++su) {
    if (!(n.ku[su] < n.ku[su + 1])) continue;
    for (int sv = v0; sv <= v1; ++sv) {
      if (!(n.kv[sv] < n.kv[sv + 1])) continue;
      Cell cell;
      // The end spans reach the limits even when these lie beyond the knots.
      cell.u0 = su == u0 ? a : std::max(a, n.ku[su]);
      cell.u1 = su == u1 ? b : std::min(b, n.ku[su + 1]);
      cell.v0 = sv == v0 ? c : std::max(c, n.kv[sv]);
      cell.v1 = sv == v1 ? e : std::min(e, n.kv[sv + 1]);
      ERMinimax3D box;
      for (int j = sv - n.pv; j <= sv; ++j)
        for (int i = su - n.pu; i <= su; ++i) {
          double w;
          box.Update(cartesian(n, i, j, w));
        }
      cell.box[0] = box.xmin(), cell.box[1] = box.ymin(), cell.box[2] = box.zmin();
      cell.box[3] = box.xmax(), cell.box[4] = box.ymax(), cell.box[5] = box.zmax();
      cell.su = su, cell.sv = sv, cell.grid = 0, cell.reach = 0.0;
      cells_.push_back(cell);
    }
  }
  // Every cell's sample grid, kept while it stays below 2^22 samples (96 MB); larger nets
  // sample each cell again per query.
  const int gu = gridSize(n.pu), gv = gridSize(n.pv);
  const std::size_t per = static_cast<std::size_t>(gu) * gv;
  grid_.clear();
  if (per * cells_.size() <= (std::size_t(1) << 22)) {
    grid_.resize(3 * per * cells_.size());
    for (std::size_t k = 0; k < cells_.size(); ++k) {
      Cell& c = cells_[k];
      c.grid = 3 * per * k;
      sampleCell(n, c, gu, gv, &grid_[c.grid]);
      c.reach = reachOf(&grid_[c.grid], gu, gv);
    }
  }
  return cells_;
}

// The grid of a cell through its span's basis: the rows combined at each u, then the columns.
void ERSpoleRep::sampleCell(const detail::NetView& n, const Cell& c, int gu, int gv,
                            double* out) const {
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

double ERSpoleRep::nearest(const ERPoint3D& p, ERPoint2D& uv) const {
  ERVec<double> bu, bv;
  const detail::NetView n = view(bu, bv);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (!n.fits() || !std::isfinite(p.x() + p.y() + p.z())) return nan;
  const std::vector<Cell>& cs = cells();
  if (cs.empty()) return nan;
  // Box bounds count only for positive weights.
  bool bounded = true;
  for (int k = 0; k < n.nu * n.nv && bounded && n.stride == 4; ++k)
    bounded = n.poles[4 * k + 3] > 0.0;
  const ERMinimax3D whole = getBox();
  double ext = 0.0;
  for (double x : {whole.xmin(), whole.ymin(), whole.zmin(), whole.xmax(), whole.ymax(),
                   whole.zmax(), p.x(), p.y(), p.z()})
    if (std::isfinite(x)) ext = std::max(ext, std::fabs(x));
  if (!(ext > 0.0)) ext = 1.0;
  Scaled E{&n, std::ldexp(1.0, -std::ilogb(ext)), ufin(), vfin(), {}};
  E.P[0] = p.x() * E.t, E.P[1] = p.y() * E.t, E.P[2] = p.z() * E.t;

  std::vector<std::pair<double, int>> order(cs.size());
  const double P[3] = {p.x(), p.y(), p.z()};
  for (std::size_t k = 0; k < cs.size(); ++k)
    order[k] = {bounded ? boxDistance2(cs[k].box, P, E.t) : 0.0, int(k)};
  std::sort(order.begin(), order.end());

  double best = HUGE_VAL, bu_ = std::min(udeb(), ufin()), bv_ = std::min(vdeb(), vfin());
  const int gu = gridSize(n.pu), gv = gridSize(n.pv);
  const std::size_t per = static_cast<std::size_t>(gu) * gv;
  std::vector<double> f(per), own;
  if (grid_.empty()) own.resize(3 * per);
  for (const auto& [lb, k] : order) {
    if (lb > best) break;
    const Cell& c = cs[k];
    const double* g = nullptr;
    if (grid_.empty()) {
      sampleCell(n, c, gu, gv, own.data());
      g = own.data();
    } else {
      g = &grid_[c.grid];
    }
    const double reach = (grid_.empty() ? reachOf(g, gu, gv) : c.reach) * E.t;
    double fmin = HUGE_VAL;
    for (std::size_t s = 0; s < per; ++s) {
      const double x = g[3 * s] * E.t - E.P[0], y = g[3 * s + 1] * E.t - E.P[1],
                   z = g[3 * s + 2] * E.t - E.P[2];
      f[s] = x * x + y * y + z * z;
      fmin = std::min(fmin, f[s]);
    }
    // No point of the span is nearer than a sample less twice the spacing of the samples (the
    // margin holds the bulge of the surface between them).
    auto hopeless = [&](double fs) {
      const double m = std::sqrt(fs) - 2.0 * reach;
      return m > 0.0 && m * m > best;
    };
    if (hopeless(fmin)) continue;
    // Within the span's own polynomial: a crease at a knot is then an edge of the box.
    E.uTop = c.u1, E.vTop = c.v1;
    // Newton from the discrete local minima of the samples, those of the grid and those of
    // each edge of the span taken alone (an edge minimum without a foot), best first.
    auto lowAmong = [&](int i, int j) {
      const double x = f[j * gu + i];
      for (int dj = -1; dj <= 1; ++dj)
        for (int di = -1; di <= 1; ++di) {
          const int ii = i + di, jj = j + dj;
          if ((di || dj) && ii >= 0 && jj >= 0 && ii < gu && jj < gv && f[jj * gu + ii] < x)
            return false;
        }
      return true;
    };
    // Along one edge: the neighbours at +-1 in u (alongU) or in v.
    auto lowOnEdge = [&](int i, int j, bool alongU) {
      const double x = f[j * gu + i];
      for (int k = -1; k <= 1; k += 2) {
        const int ii = alongU ? i + k : i, jj = alongU ? j : j + k;
        if (ii >= 0 && jj >= 0 && ii < gu && jj < gv && f[jj * gu + ii] < x) return false;
      }
      return true;
    };
    std::vector<std::pair<double, int>> starts;
    for (int j = 0; j < gv; ++j)
      for (int i = 0; i < gu; ++i) {
        if (!std::isfinite(f[j * gu + i])) continue;
        const bool onV = j == 0 || j == gv - 1, onU = i == 0 || i == gu - 1;
        if (lowAmong(i, j) || (onV && lowOnEdge(i, j, true)) || (onU && lowOnEdge(i, j, false)))
          starts.push_back({f[j * gu + i], j * gu + i});
      }
    std::sort(starts.begin(), starts.end());
    if (starts.size() > 8) starts.resize(8);
    for (const auto& [x, at] : starts) {
      if (hopeless(x)) continue;
      const int i = at % gu, j = at / gu;
      double u = i == gu - 1 ? c.u1 : c.u0 + (c.u1 - c.u0) * i / (gu - 1);
      double v = j == gv - 1 ? c.v1 : c.v0 + (c.v1 - c.v0) * j / (gv - 1);
      if (x < best) best = x, bu_ = u, bv_ = v;
      const double r = refine(E, u, v, c.u0, c.u1, c.v0, c.v1);
      if (r < best) best = r, bu_ = u, bv_ = v;
    }
  }
  if (!std::isfinite(best)) return nan;
  uv = ERPoint2D(bu_, bv_);
  return std::sqrt(best) / E.t;
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
  if (!std::isfinite(refine(E, u, v, ua, ub, va, vb))) return 0;
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
