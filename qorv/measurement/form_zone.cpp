// The linear Chebyshev problem of form.h, solved as the dual of its linear programme.
//
// Primal, over x = (p, h, l): minimise h - l (or h, or -l) subject to
//   g_i + J_i p <= h,  g_i + J_i p >= l,  |p_j| <= trust.
// Dual, in standard form with n + sides equality rows and non-negative weights:
//   sum(y_up J_i) - sum(y_lo J_i) + sum(+-y_trust e_j) = 0,  sum y_up = 1,  sum y_lo = 1,
// minimising sum(-g_i y_up) + sum(g_i y_lo) + trust sum(y_trust). A revised simplex keeps the
// (at most 7 x 7) basis inverse explicitly; its simplex multipliers are the primal x. Only the
// columns of a working set are priced; after each optimum every point is checked against the
// primal solution and the worst violators join the set. Adding columns keeps the basis feasible,
// so each exchange round resumes where the last stopped.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "qorv/measurement/form.h"

namespace {

constexpr int kMaxRows = 8;

struct Dual {
  const gmLinearZone& z;
  int n, k, hrow, lrow;

  explicit Dual(const gmLinearZone& zone)
      : z(zone),
        n(zone.n),
        k(zone.n + (zone.upper ? 1 : 0) + (zone.lower ? 1 : 0)),
        hrow(zone.upper ? zone.n : -1),
        lrow(zone.lower ? zone.n + (zone.upper ? 1 : 0) : -1) {}

  // Columns: 0 .. 2n-1 the trust bounds (+e_j, -e_j), then two per point (upper, lower).
  void column(long c, double* a, double& cost) const {
    std::fill(a, a + k, 0.0);
    if (c < 2L * n) {
      a[c / 2] = (c % 2 == 0) ? 1.0 : -1.0;
      cost = z.trust;
      return;
    }
    const long t = c - 2L * n;
    const std::size_t i = static_cast<std::size_t>(t / 2);
    const double* J = z.J + i * static_cast<std::size_t>(n);
    if (t % 2 == 0) {
      for (int j = 0; j < n; ++j) a[j] = J[j];
      a[hrow] = -1.0;
      cost = -z.g[i];
    } else {
      for (int j = 0; j < n; ++j) a[j] = -J[j];
      a[lrow] = 1.0;
      cost = z.g[i];
    }
  }
};

// Inverts the k x k matrix m (row-major) into inv; 0 when singular.
int invert(int k, const double* m, double* inv) {
  double a[kMaxRows][2 * kMaxRows];
  for (int r = 0; r < k; ++r)
    for (int c = 0; c < k; ++c) a[r][c] = m[r * k + c], a[r][k + c] = (r == c) ? 1.0 : 0.0;
  for (int c = 0; c < k; ++c) {
    int piv = c;
    for (int r = c + 1; r < k; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    if (!(std::fabs(a[piv][c]) > 1e-300)) return 0;
    if (piv != c)
      for (int j = 0; j < 2 * k; ++j) std::swap(a[c][j], a[piv][j]);
    const double d = 1.0 / a[c][c];
    for (int j = 0; j < 2 * k; ++j) a[c][j] *= d;
    for (int r = 0; r < k; ++r) {
      if (r == c || a[r][c] == 0) continue;
      const double f = a[r][c];
      for (int j = 0; j < 2 * k; ++j) a[r][j] -= f * a[c][j];
    }
  }
  for (int r = 0; r < k; ++r)
    for (int c = 0; c < k; ++c) inv[r * k + c] = a[r][k + c];
  return 1;
}

}  // namespace

gmZoneSolution gmSolveLinearZone(const gmLinearZone& z) {
  gmZoneSolution out;
  const std::size_t m = z.m;
  if (z.n < 0 || z.n > 5 || (!z.upper && !z.lower) || m == 0 || !(z.trust > 0)) return out;
  const Dual d(z);
  const int n = z.n, k = d.k;
  double beta[kMaxRows] = {};
  if (z.upper) beta[d.hrow] = -1.0;
  if (z.lower) beta[d.lrow] = 1.0;

  // A feasible start: the highest point on the upper side, the lowest on the lower, and the
  // trust columns that balance their gradients.
  std::size_t iu = 0, il = 0;
  for (std::size_t i = 1; i < m; ++i) {
    if (z.g[i] > z.g[iu]) iu = i;
    if (z.g[i] < z.g[il]) il = i;
  }
  std::vector<long> basis;
  double bal[kMaxRows] = {};
  if (z.upper) {
    basis.push_back(2L * n + 2L * static_cast<long>(iu));
    for (int j = 0; j < n; ++j) bal[j] -= z.J[iu * static_cast<std::size_t>(n) + j];
  }
  if (z.lower) {
    basis.push_back(2L * n + 2L * static_cast<long>(il) + 1);
    for (int j = 0; j < n; ++j) bal[j] += z.J[il * static_cast<std::size_t>(n) + j];
  }
  for (int j = 0; j < n; ++j) basis.insert(basis.begin() + j, bal[j] >= 0 ? 2L * j : 2L * j + 1);

  // The working set: trust columns and a few extreme points of each side.
  std::vector<char> inSet(2 * m, 0);
  std::vector<long> set;
  for (int c = 0; c < 2 * n; ++c) set.push_back(c);
  auto add = [&](std::size_t i, int side) {
    const std::size_t key = 2 * i + static_cast<std::size_t>(side);
    if (inSet[key]) return;
    inSet[key] = 1;
    set.push_back(2L * n + static_cast<long>(key));
  };
  {
    std::vector<std::size_t> idx(m);
    for (std::size_t i = 0; i < m; ++i) idx[i] = i;
    const std::size_t take = std::min<std::size_t>(m, 8 * static_cast<std::size_t>(k));
    if (z.upper) {
      std::nth_element(idx.begin(), idx.begin() + static_cast<long>(take - 1), idx.end(),
                       [&](std::size_t a, std::size_t b) { return z.g[a] > z.g[b]; });
      for (std::size_t t = 0; t < take; ++t) add(idx[t], 0);
    }
    if (z.lower) {
      std::nth_element(idx.begin(), idx.begin() + static_cast<long>(take - 1), idx.end(),
                       [&](std::size_t a, std::size_t b) { return z.g[a] < z.g[b]; });
      for (std::size_t t = 0; t < take; ++t) add(idx[t], 1);
    }
    if (z.upper) add(iu, 0);
    if (z.lower) add(il, 1);
  }

  double B[kMaxRows * kMaxRows], Binv[kMaxRows * kMaxRows], a[kMaxRows], xB[kMaxRows], pi[kMaxRows],
      cB[kMaxRows];
  double cost = 0;
  int degenerate = 0;
  const double tolCost = 1e-14, tolPivot = 1e-11;
  for (int round = 0; round < 10000; ++round) {
    // Simplex on the working set.
    for (;;) {
      if (++out.pivots > 200000) return out;
      for (int c = 0; c < k; ++c) {
        d.column(basis[static_cast<std::size_t>(c)], a, cB[c]);
        for (int r = 0; r < k; ++r) B[r * k + c] = a[r];
      }
      if (!invert(k, B, Binv)) return out;
      for (int r = 0; r < k; ++r) {
        xB[r] = 0, pi[r] = 0;
        for (int s = 0; s < k; ++s)
          xB[r] += Binv[r * k + s] * beta[s], pi[r] += cB[s] * Binv[s * k + r];
      }
      long enter = -1;
      double best = -tolCost;
      const bool bland = degenerate > 50;
      for (long c : set) {
        if (std::find(basis.begin(), basis.end(), c) != basis.end()) continue;
        d.column(c, a, cost);
        double red = cost;
        for (int r = 0; r < k; ++r) red -= pi[r] * a[r];
        if (bland ? (red < -tolCost && (enter < 0 || c < enter)) : red < best)
          enter = c, best = red;
      }
      if (enter < 0) break;
      d.column(enter, a, cost);
      double w[kMaxRows];
      int leave = -1;
      double ratio = HUGE_VAL;
      for (int r = 0; r < k; ++r) {
        w[r] = 0;
        for (int s = 0; s < k; ++s) w[r] += Binv[r * k + s] * a[s];
        if (w[r] > tolPivot) {
          const double q = std::max(xB[r], 0.0) / w[r];
          if (q < ratio || (q == ratio && w[r] > w[leave])) ratio = q, leave = r;
        }
      }
      if (leave < 0) return out;  // the primal is infeasible: cannot happen with trust bounds
      degenerate = ratio == 0 ? degenerate + 1 : 0;
      basis[static_cast<std::size_t>(leave)] = enter;
    }
    // The primal solution; points it violates join the set.
    const double* p = pi;
    const double h = z.upper ? pi[d.hrow] : 0.0, l = z.lower ? pi[d.lrow] : 0.0;
    double scale = 0;
    if (z.upper) scale = std::max(scale, std::fabs(h));
    if (z.lower) scale = std::max(scale, std::fabs(l));
    const double tolViol = 1e-13 * std::max(scale, 1.0) + 1e-15;
    std::vector<std::pair<double, std::size_t>> up, lo;
    for (std::size_t i = 0; i < m; ++i) {
      const double* J = z.J + i * static_cast<std::size_t>(n);
      double v = z.g[i];
      for (int j = 0; j < n; ++j) v += J[j] * p[j];
      if (z.upper && v - h > tolViol && !inSet[2 * i]) up.push_back({v - h, i});
      if (z.lower && l - v > tolViol && !inSet[2 * i + 1]) lo.push_back({l - v, i});
    }
    if (up.empty() && lo.empty()) {
      out.ok = 1;
      out.p.assign(pi, pi + n);
      out.h = h, out.l = l;
      out.trustActive = 0;
      for (int r = 0; r < k; ++r) {
        const long c = basis[static_cast<std::size_t>(r)];
        const double y = std::max(xB[r], 0.0);
        if (c < 2L * n) {
          if (y > 1e-12) out.trustActive = 1;
          continue;
        }
        if (!(y > 1e-13)) continue;  // a degenerate basic column, on no boundary
        const long t = c - 2L * n;
        if (t % 2 == 0)
          out.upperContacts.push_back(static_cast<int>(t / 2)), out.upperWeights.push_back(y);
        else
          out.lowerContacts.push_back(static_cast<int>(t / 2)), out.lowerWeights.push_back(y);
      }
      return out;
    }
    const std::size_t keep = 16 * static_cast<std::size_t>(k);
    for (auto* v : {&up, &lo}) {
      if (v->size() > keep) {
        std::nth_element(v->begin(), v->begin() + static_cast<long>(keep - 1), v->end(),
                         [](const auto& x, const auto& y) { return x.first > y.first; });
        v->resize(keep);
      }
    }
    for (const auto& e : up) add(e.second, 0);
    for (const auto& e : lo) add(e.second, 1);
    degenerate = 0;
  }
  return out;
}
