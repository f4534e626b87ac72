// qorv/measurement/alignment.cpp
#include "qorv/measurement/alignment.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "qorv/foundation/numerics.h"
#include "qorv/foundation/transfo3d_kinds.h"

namespace {
using qorv::detail::cross;
using qorv::detail::dot;
using qorv::detail::mul33;
using qorv::detail::unit;

using Vec3 = std::array<double, 3>;

Vec3 vec(const ERPoint3D& p) { return {p.x(), p.y(), p.z()}; }
Vec3 vec(const ERVector3D& p) { return {p.x(), p.y(), p.z()}; }
Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3 add3(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec3 scale(const Vec3& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }
double norm(const Vec3& a) { return std::hypot(a[0], a[1], a[2]); }
// A direction in words: unit, its largest component positive, rounding dust cleared.
std::string direction(Vec3 d) {
  d = unit(d);
  int k = 0;
  for (int i = 1; i < 3; ++i)
    if (std::fabs(d[i]) > std::fabs(d[k])) k = i;
  if (d[k] < 0) d = scale(d, -1);
  for (double& x : d)
    if (std::fabs(x) < 1e-9) x = 0;
  char buf[96];
  std::snprintf(buf, sizeof buf, "(%.6g, %.6g, %.6g)", d[0], d[1], d[2]);
  return buf;
}
std::string position(Vec3 p, double size) {
  for (double& x : p)
    if (std::fabs(x) < 1e-9 * size) x = 0;
  char buf[96];
  std::snprintf(buf, sizeof buf, "(%.9g, %.9g, %.9g)", p[0], p[1], p[2]);
  return buf;
}

// p -> R p + t, R row-major.
struct Rigid {
  double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  Vec3 t = {0, 0, 0};
  Vec3 rot(const Vec3& p) const {
    return {R[0] * p[0] + R[1] * p[1] + R[2] * p[2], R[3] * p[0] + R[4] * p[1] + R[5] * p[2],
            R[6] * p[0] + R[7] * p[1] + R[8] * p[2]};
  }
  Vec3 operator()(const Vec3& p) const { return add3(rot(p), t); }
};

Rigid fromTransfo(const ERPmIsometrie3D& T) {
  Rigid r;
  const Vec3 o = vec(T >> ERPoint3D(0, 0, 0));
  for (int j = 0; j < 3; ++j) {
    ERPoint3D e(j == 0, j == 1, j == 2);
    const Vec3 c = sub(vec(T >> e), o);
    for (int i = 0; i < 3; ++i) r.R[3 * i + j] = c[i];
  }
  r.t = o;
  return r;
}

// Rodrigues: the turn by |w| about w.
void turn(const Vec3& w, double* R) {
  const double a = norm(w);
  const Vec3 k = a > 0 ? scale(w, 1 / a) : Vec3{0, 0, 1};
  const double c = std::cos(a), s = std::sin(a), v = 1 - c;
  R[0] = c + k[0] * k[0] * v, R[1] = k[0] * k[1] * v - k[2] * s, R[2] = k[0] * k[2] * v + k[1] * s;
  R[3] = k[1] * k[0] * v + k[2] * s, R[4] = c + k[1] * k[1] * v, R[5] = k[1] * k[2] * v - k[0] * s;
  R[6] = k[2] * k[0] * v - k[1] * s, R[7] = k[2] * k[1] * v + k[0] * s, R[8] = c + k[2] * k[2] * v;
}

// Cyclic Jacobi on a symmetric n x n matrix (n <= 6): eigenvalues descending, vectors in the
// columns of V.
void eigenSym(int n, double* A, double* val, double* V) {
  for (int i = 0; i < n * n; ++i) V[i] = i % (n + 1) == 0;
  for (int sweep = 0; sweep < 60; ++sweep) {
    double off = 0, diag = 0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) (i == j ? diag : off) += A[i * n + j] * A[i * n + j];
    if (!(off > 1e-32 * diag)) break;
    for (int p = 0; p < n; ++p)
      for (int q = p + 1; q < n; ++q) {
        const double apq = A[p * n + q];
        if (apq == 0) continue;
        const double th = (A[q * n + q] - A[p * n + p]) / (2 * apq);
        const double t = (th >= 0 ? 1 : -1) / (std::fabs(th) + std::sqrt(th * th + 1));
        const double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (int k = 0; k < n; ++k) {
          const double akp = A[k * n + p], akq = A[k * n + q];
          A[k * n + p] = c * akp - s * akq, A[k * n + q] = s * akp + c * akq;
        }
        for (int k = 0; k < n; ++k) {
          const double apk = A[p * n + k], aqk = A[q * n + k];
          A[p * n + k] = c * apk - s * aqk, A[q * n + k] = s * apk + c * aqk;
        }
        for (int k = 0; k < n; ++k) {
          const double vkp = V[k * n + p], vkq = V[k * n + q];
          V[k * n + p] = c * vkp - s * vkq, V[k * n + q] = s * vkp + c * vkq;
        }
      }
  }
  for (int i = 0; i < n; ++i) val[i] = A[i * n + i];
  for (int i = 0; i < n; ++i) {  // selection sort, descending
    int m = i;
    for (int j = i + 1; j < n; ++j)
      if (val[j] > val[m]) m = j;
    if (m == i) continue;
    std::swap(val[i], val[m]);
    for (int k = 0; k < n; ++k) std::swap(V[k * n + i], V[k * n + m]);
  }
}

// Solves the symmetric positive system by Cholesky; 0 when not positive.
int cholSolve(int n, const double* A, const double* b, double* x) {
  double L[36];
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = A[i * n + j];
      for (int k = 0; k < j; ++k) s -= L[i * n + k] * L[j * n + k];
      if (i == j) {
        if (!(s > 0)) return 0;
        L[i * n + i] = std::sqrt(s);
      } else {
        L[i * n + j] = s / L[j * n + j];
      }
    }
  double y[6];
  for (int i = 0; i < n; ++i) {
    double s = b[i];
    for (int k = 0; k < i; ++k) s -= L[i * n + k] * y[k];
    y[i] = s / L[i * n + i];
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = y[i];
    for (int k = i + 1; k < n; ++k) s -= L[k * n + i] * x[k];
    x[i] = s / L[i * n + i];
  }
  return 1;
}

// From the weighted normal equations H (turns scaled by L, about c) at the solution T, with
// sum the weighted squared residuals of n points: the free directions when some, else the
// standard uncertainties.
void spread(const double* H, const bool* fixed, double sum, int n, const Vec3& c, const Rigid& T,
            double L, gmAlignment& out) {
  int idx[6], m = 0;
  for (int i = 0; i < 6; ++i)
    if (!fixed[i]) idx[m++] = i;
  if (m == 0) return;
  double A[36] = {}, val[6], V[36];
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) A[m * i + j] = H[6 * idx[i] + idx[j]];
  double B[36];
  std::copy(A, A + 36, B);
  eigenSym(m, B, val, V);
  // The null space: its pure shifts, then turns (the shifts taken out of their motion).
  std::vector<std::array<double, 6>> null;
  for (int k = 0; k < m; ++k) {
    if (val[k] > 1e-9 * val[0] && val[0] > 0) continue;
    std::array<double, 6> v{};
    for (int i = 0; i < m; ++i) v[idx[i]] = V[i * m + k];
    for (int i = 0; i < 3; ++i) v[i] /= L;
    null.push_back(v);
  }
  if (!null.empty()) {
    const int k = static_cast<int>(null.size());
    double G[36], gv[6], GV[36];
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < k; ++j)
        G[k * i + j] =
            (null[i][0] * null[j][0] + null[i][1] * null[j][1] + null[i][2] * null[j][2]) * L * L;
    eigenSym(k, G, gv, GV);
    std::vector<Vec3> shifts;
    std::vector<std::array<double, 6>> turns;
    for (int j = 0; j < k; ++j) {
      std::array<double, 6> v{};
      for (int i = 0; i < k; ++i)
        for (int q = 0; q < 6; ++q) v[q] += GV[i * k + j] * null[i][q];
      if (gv[j] < 1e-12)
        shifts.push_back(unit(Vec3{v[3], v[4], v[5]}));
      else
        turns.push_back(v);
    }
    std::string names;
    auto add = [&](const std::string& s) { names += (names.empty() ? "" : "; ") + s; };
    for (const auto& d : shifts) add("shift along " + direction(d));
    for (auto v : turns) {
      Vec3 w{v[0], v[1], v[2]}, dt{v[3], v[4], v[5]};
      for (const auto& d : shifts) dt = sub(dt, scale(d, dot(dt, d)));
      // The motion's axis: the points it leaves still (up to a slide along it).
      const Vec3 p = add3(c, scale(cross(w, dt), 1 / dot(w, w)));
      add("turn about " + direction(w) + " through " + position(p, L));
    }
    out.ambiguous = 1;
    out.freeDirections = names;
    return;
  }
  // sigma^2 H^-1, then from the turn about c to T's own translation: dt_T = dt + (c - t) x w.
  const double s2 = n > m ? sum / (n - m) : 0;
  double C[36] = {};
  for (int j = 0; j < m; ++j) {
    double e[6] = {}, x[6];
    e[j] = 1;
    if (!cholSolve(m, A, e, x)) return;
    for (int i = 0; i < m; ++i) C[6 * idx[i] + idx[j]] = s2 * x[i];
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 6; ++j) C[6 * i + j] /= L, C[6 * j + i] /= L;
  // A = [[I, 0], [[c]x, I]]
  double Am[36] = {};
  for (int i = 0; i < 6; ++i) Am[7 * i] = 1;
  const Vec3 k = sub(c, T.t);
  const double X[9] = {0, -k[2], k[1], k[2], 0, -k[0], -k[1], k[0], 0};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) Am[6 * (3 + i) + j] = X[3 * i + j];
  for (int i = 0; i < 6; ++i) {
    double v = 0;
    for (int k = 0; k < 6; ++k)
      for (int l = 0; l < 6; ++l) v += Am[6 * i + k] * C[6 * k + l] * Am[6 * i + l];
    out.sigma[i] = fixed[i] ? 0 : std::sqrt(std::max(v, 0.0));
  }
}

struct Sample {
  Vec3 p;
  double radius;
  int index;
  int named;  // the feature it names, -1 for none
  // The last search for its nearest feature: where the moved point was, the feature found (-1:
  // none yet) and how much nearer it was than any other; a move of less than half that keeps it.
  Vec3 at{0, 0, 0};
  double margin = 0;
  int feature = -1;
};

struct Eval {
  Vec3 q;    // the moved point
  Vec3 n;    // outward normal at its foot
  double r;  // compensated residual
  bool ok;
};

class Fitter {
 public:
  Fitter(const std::vector<gmInspectionFeature>& f, const gmAlignmentOptions& o) : f_(f), o_(o) {
    ERMinimax3D box;
    for (const auto& x : f_)
      if (x.problem().empty()) box.Update(x.box()), usable_ = true;
    if (usable_) {
      size_ = std::hypot(box.xmax() - box.xmin(), box.ymax() - box.ymin(), box.zmax() - box.zmin());
      centre_ = {(box.xmin() + box.xmax()) / 2, (box.ymin() + box.ymax()) / 2,
                 (box.zmin() + box.zmax()) / 2};
    }
    if (!(size_ > 0) || !std::isfinite(size_)) usable_ = false;
    for (int i = 0; i < 6; ++i) free_ += !o_.fixed[i];
    threads_ = o_.threads > 0 ? o_.threads
                              : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    // Surfaces keep search caches: each thread but the first works on its own copies.
    bool surfaces = false;
    for (const auto& x : f_) surfaces = surfaces || x.kind() == gmInspectionFeature::SURFACE;
    if (surfaces && threads_ > 1) {
      copies_.resize(static_cast<std::size_t>(threads_ - 1));
      for (auto& c : copies_)
        for (const auto& x : f_) c.push_back(x.clone());
    }
  }
  bool usable() const { return usable_; }
  double size() const { return size_; }
  const Vec3& centre() const { return centre_; }
  int freeCount() const { return free_; }

  // The moved point against its feature as the inspection assigns it: the one it names, else
  // the nearest (nearest foot, lowest index among equally near). The nearest of the last search
  // is kept while the point has moved by less than half its margin: no other can have come
  // nearer.
  Eval evalWith(const std::vector<gmInspectionFeature>& features, const Rigid& T, Sample& s) const {
    Eval e{T(s.p), {0, 0, 0}, 0, false};
    const ERPoint3D q(e.q[0], e.q[1], e.q[2]);
    ERPoint3D F;
    ERVector3D N;
    int k = -1;
    if (s.named >= 0) {
      if (!features[static_cast<std::size_t>(s.named)].foot(q, F, N)) return e;
      k = s.named;
    } else if (s.feature >= 0 && 2 * norm(sub(e.q, s.at)) < s.margin &&
               features[static_cast<std::size_t>(s.feature)].foot(q, F, N)) {
      k = s.feature;
    }
    if (k < 0) {
      double second = 0;
      k = gmNearestFeature(features, q, F, N, &second);
      s.at = e.q, s.feature = k, s.margin = k >= 0 ? second - norm(sub(e.q, vec(F))) : 0;
      if (k < 0) return e;
    }
    e.n = vec(N);
    e.r = dot(sub(e.q, vec(F)), e.n) - s.radius;
    e.ok = std::isfinite(e.r);
    return e;
  }

  // The loss: rho and weight of a residual at scale s.
  double rho(double r, double s) const {
    const double a = std::fabs(r);
    switch (o_.loss) {
      case gmAlignmentOptions::LEAST_SQUARES:
        return r * r / 2;
      case gmAlignmentOptions::HUBER: {
        const double k = (o_.tuning > 0 ? o_.tuning : 1.345) * s;
        return a <= k ? r * r / 2 : k * a - k * k / 2;
      }
      case gmAlignmentOptions::TUKEY: {
        const double c = (o_.tuning > 0 ? o_.tuning : 4.685) * s;
        if (a >= c) return c * c / 6;
        const double u = 1 - (r / c) * (r / c);
        return c * c / 6 * (1 - u * u * u);
      }
    }
    return r * r / 2;
  }
  double weight(double r, double s) const {
    const double a = std::fabs(r);
    switch (o_.loss) {
      case gmAlignmentOptions::LEAST_SQUARES:
        return 1;
      case gmAlignmentOptions::HUBER: {
        const double k = (o_.tuning > 0 ? o_.tuning : 1.345) * s;
        return a <= k ? 1 : k / a;
      }
      case gmAlignmentOptions::TUKEY: {
        const double c = (o_.tuning > 0 ? o_.tuning : 4.685) * s;
        if (a >= c) return 0;
        const double u = 1 - (r / c) * (r / c);
        return u * u;
      }
    }
    return 1;
  }
  double robustScale(const std::vector<Eval>& ev) const {
    std::vector<double> a;
    a.reserve(ev.size());
    for (const auto& e : ev)
      if (e.ok) a.push_back(std::fabs(e.r));
    if (a.empty()) return size_;
    std::nth_element(a.begin(), a.begin() + a.size() / 2, a.end());
    return std::max(1.4826 * a[a.size() / 2], 1e-15 * size_);
  }
  double cost(const std::vector<Eval>& ev, double s) const {
    double c = 0;
    for (const auto& e : ev)
      if (e.ok) c += rho(e.r, s);
    return c;
  }
  std::vector<Eval> evalAll(const Rigid& T, std::vector<Sample>& pts) const {
    std::vector<Eval> ev(pts.size());
    constexpr std::size_t kChunk = 1024;
    const int t = std::min<int>(threads_, static_cast<int>(pts.size() / (2 * kChunk)));
    if (t <= 1) {
      for (std::size_t i = 0; i < pts.size(); ++i) ev[i] = evalWith(f_, T, pts[i]);
      return ev;
    }
    // Chunks handed out in turn: every point's result lands in its own slot, so the order of
    // the sums that follow, and the result, are those of one thread.
    std::atomic<std::size_t> next{0};
    auto work = [&](int k) {
      const auto& mine = k > 0 && !copies_.empty() ? copies_[static_cast<std::size_t>(k - 1)] : f_;
      for (;;) {
        const std::size_t begin = next.fetch_add(kChunk, std::memory_order_relaxed);
        if (begin >= pts.size()) break;
        const std::size_t end = std::min(pts.size(), begin + kChunk);
        for (std::size_t i = begin; i < end; ++i) ev[i] = evalWith(mine, T, pts[i]);
      }
    };
    std::vector<std::thread> pool;
    for (int k = 1; k < t; ++k) pool.emplace_back(work, k);
    work(0);
    for (auto& th : pool) th.join();
    return ev;
  }

  // The turn centre and the weighted normal equations in (w L, dt).
  Vec3 pivot(const std::vector<Eval>& ev) const {
    if (o_.fixed[3] || o_.fixed[4] || o_.fixed[5]) return {0, 0, 0};
    Vec3 c{0, 0, 0};
    int n = 0;
    for (const auto& e : ev)
      if (e.ok) c = add3(c, e.q), ++n;
    return n ? scale(c, 1.0 / n) : c;
  }
  void normal(const std::vector<Eval>& ev, const Vec3& c, double s, double* H, double* g) const {
    std::fill(H, H + 36, 0.0), std::fill(g, g + 6, 0.0);
    for (const auto& e : ev) {
      if (!e.ok) continue;
      const double w = weight(e.r, s);
      if (w == 0) continue;
      const Vec3 a = scale(cross(sub(e.q, c), e.n), 1 / size_);
      const double J[6] = {a[0], a[1], a[2], e.n[0], e.n[1], e.n[2]};
      for (int i = 0; i < 6; ++i) {
        g[i] += w * J[i] * e.r;
        for (int j = 0; j < 6; ++j) H[6 * i + j] += w * J[i] * J[j];
      }
    }
  }

  static Rigid moved(const Rigid& T, const double* x, const Vec3& c, double L) {
    Rigid N;
    double D[9];
    turn({x[0] / L, x[1] / L, x[2] / L}, D);
    mul33(D, T.R, N.R);
    Vec3 tc = sub(T.t, c);
    const Rigid d{{D[0], D[1], D[2], D[3], D[4], D[5], D[6], D[7], D[8]}, {0, 0, 0}};
    N.t = add3(add3(d.rot(tc), c), {x[3], x[4], x[5]});
    return N;
  }

  // Levenberg-Marquardt with the robust weights redrawn at each accepted step.
  Rigid solve(Rigid T, std::vector<Sample>& pts, int maxIt, int& iterations) const {
    if (o_.loss ==
        gmAlignmentOptions::TUKEY) {  // Tukey's loss rejects: first get near with Huber's
      gmAlignmentOptions h = o_;
      h.loss = gmAlignmentOptions::HUBER, h.tuning = 0;
      int k = 0;
      T = Fitter(f_, h).descend(T, pts, maxIt, k);
      const Rigid R = descend(T, pts, maxIt, iterations);
      iterations += k;
      return R;
    }
    return descend(T, pts, maxIt, iterations);
  }
  // Coarse to fine: solved on the coarse subset, then the last iterations on all the points,
  // which start at the subset's minimum and end at theirs.
  Rigid solve(Rigid T, std::vector<Sample>& coarse, std::vector<Sample>& pts, int maxIt,
              int& iterations) const {
    T = solve(T, coarse, maxIt, iterations);
    if (coarse.size() == pts.size()) return T;
    int k = 0;
    T = descend(T, pts, maxIt, k);
    iterations += k;
    return T;
  }
  Rigid descend(Rigid T, std::vector<Sample>& pts, int maxIt, int& iterations) const {
    std::vector<Eval> ev = evalAll(T, pts);
    double s = robustScale(ev), c0 = cost(ev, s), lambda = 1e-4;
    iterations = 0;
    while (iterations < maxIt) {
      ++iterations;
      const Vec3 c = pivot(ev);
      double H[36], g[6];
      normal(ev, c, s, H, g);
      bool accepted = false, tiny = false;
      while (lambda < 1e16) {
        double A[36], b[6], x[6] = {0, 0, 0, 0, 0, 0};
        int idx[6], m = 0;
        for (int i = 0; i < 6; ++i)
          if (!o_.fixed[i]) idx[m++] = i;
        if (m == 0) return T;
        double maxDiag = 0;
        for (int i = 0; i < m; ++i) maxDiag = std::max(maxDiag, H[7 * idx[i]]);
        for (int i = 0; i < m; ++i) {
          b[i] = -g[idx[i]];
          for (int j = 0; j < m; ++j) A[m * i + j] = H[6 * idx[i] + idx[j]];
          // Damped by the diagonal, floored so that a direction the points leave free stays put.
          A[m * i + i] += lambda * std::max(H[7 * idx[i]], 1e-12 * maxDiag) + 1e-300;
        }
        double y[6];
        if (!cholSolve(m, A, b, y)) {
          lambda *= 10;
          continue;
        }
        for (int i = 0; i < m; ++i) x[idx[i]] = y[i];
        const double step = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2] + x[3] * x[3] +
                                      x[4] * x[4] + x[5] * x[5]);
        if (!std::isfinite(step)) {
          lambda *= 10;
          continue;
        }
        const Rigid N = moved(T, x, c, size_);
        std::vector<Eval> en = evalAll(N, pts);
        const double c1 = cost(en, s);
        if (c1 <= c0) {
          T = N, ev = std::move(en);
          lambda = std::max(lambda / 10, 1e-12);
          s = robustScale(ev), c0 = cost(ev, s);
          accepted = true;
          tiny = step < 1e-12 * size_;
          break;
        }
        if (step < 1e-12 * size_) {
          tiny = true;
          break;
        }
        lambda *= 10;
      }
      if (!accepted || tiny) break;
    }
    return T;
  }

  // The covariance of (w, t) and the free directions of the final normal equations.
  void finish(const Rigid& T, std::vector<Sample>& pts, gmAlignment& out) const {
    const std::vector<Eval> ev = evalAll(T, pts);
    const double s = robustScale(ev);
    const Vec3 c = pivot(ev);
    double H[36], g[6];
    normal(ev, c, s, H, g);
    double sum = 0, wsum = 0, sq = 0, mx = 0;
    int n = 0;
    for (const auto& e : ev) {
      if (!e.ok) continue;
      const double w = weight(e.r, s);
      sum += w * e.r * e.r, wsum += w, sq += e.r * e.r, mx = std::max(mx, std::fabs(e.r)), ++n;
    }
    out.used = n, out.rms = n ? std::sqrt(sq / n) : 0, out.maxResidual = mx;
    spread(H, o_.fixed, sum, n, c, T, size_, out);
  }

 private:
  const std::vector<gmInspectionFeature>& f_;
  const gmAlignmentOptions& o_;
  bool usable_ = false;
  double size_ = 0;
  Vec3 centre_{0, 0, 0};
  int free_ = 0;
  int threads_ = 1;
  std::vector<std::vector<gmInspectionFeature>> copies_;
};

void fillOut(const Rigid& T, gmAlignment& out) {
  QuickAlgebra::ERMatrix<double> M(3, 3, T.R);
  out.transfo = ERPmIsometrie3D(
      _ERWorkplane(_ERRotation3D(M), _ERTranslation3D(ERPoint3D(T.t[0], T.t[1], T.t[2]))));
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out.matrix[4 * i + j] = T.R[3 * i + j];
    out.matrix[4 * i + 3] = out.translation[i] = T.t[i];
  }
  const double* R = T.R;
  out.angles[0] = std::atan2(R[7], R[8]);
  out.angles[1] = std::atan2(-R[6], std::hypot(R[7], R[8]));
  out.angles[2] = std::atan2(R[3], R[0]);
}

// The usable points; one naming a feature the nominal lacks is left out, as the inspection
// skips it.
std::vector<Sample> samplesOf(const std::vector<gmInspectionFeature>& features,
                              const std::vector<gmMeasuredPoint>& points, double defaultDiameter) {
  std::unordered_map<std::string, int> index;
  for (std::size_t k = features.size(); k-- > 0;) index[features[k].id()] = static_cast<int>(k);
  std::vector<Sample> s;
  s.reserve(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    const auto& p = points[i];
    const double d = p.diameter >= 0 ? p.diameter : defaultDiameter;
    const Vec3 c = vec(p.centre);
    if (!std::isfinite(c[0]) || !std::isfinite(c[1]) || !std::isfinite(c[2]) || !(d >= 0) ||
        !std::isfinite(d) || std::isnan(p.diameter))
      continue;
    int named = -1;
    if (!p.feature.empty()) {
      const auto it = index.find(p.feature);
      if (it == index.end()) continue;
      named = it->second;
    }
    s.push_back({c, d / 2, static_cast<int>(i), named});
  }
  return s;
}

// Centroid and second moments (row-major 3 x 3) of weighted points.
void moments(const std::vector<Vec3>& p, const std::vector<double>& w, Vec3& c, double* M) {
  double W = 0;
  c = {0, 0, 0};
  for (std::size_t i = 0; i < p.size(); ++i) W += w[i], c = add3(c, scale(p[i], w[i]));
  c = W > 0 ? scale(c, 1 / W) : c;
  std::fill(M, M + 9, 0.0);
  for (std::size_t i = 0; i < p.size(); ++i) {
    const Vec3 d = sub(p[i], c);
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) M[3 * a + b] += w[i] * d[a] * d[b] / (W > 0 ? W : 1);
  }
}

// The rigid moves that take the points' principal frame onto the nominal's, every proper
// permutation and sign of the axes.
std::vector<Rigid> principalStarts(const std::vector<gmInspectionFeature>& features,
                                   const std::vector<Sample>& pts) {
  std::vector<Vec3> np, mp;
  std::vector<double> nw, mw;
  constexpr int G = 24;
  for (const auto& f : features) {
    if (!f.problem().empty()) continue;
    const double du = (f.u1() - f.u0()) / G, dv = (f.v1() - f.v0()) / G;
    for (int i = 0; i < G; ++i)
      for (int j = 0; j < G; ++j) {
        const double u = f.u0() + (i + 0.5) * du, v = f.v0() + (j + 0.5) * dv;
        const Vec3 p = vec(f.point(u, v));
        const Vec3 pu = scale(sub(vec(f.point(u + du / 2, v)), vec(f.point(u - du / 2, v))), 1.0);
        const Vec3 pv = scale(sub(vec(f.point(u, v + dv / 2)), vec(f.point(u, v - dv / 2))), 1.0);
        const double a = norm(cross(pu, pv));
        if (std::isfinite(a) && std::isfinite(p[0] + p[1] + p[2])) np.push_back(p), nw.push_back(a);
      }
  }
  for (const auto& s : pts) mp.push_back(s.p), mw.push_back(1);
  Vec3 cn, cm;
  double Mn[9], Mm[9], en[3], em[3], Vn[9], Vm[9];
  moments(np, nw, cn, Mn), moments(mp, mw, cm, Mm);
  eigenSym(3, Mn, en, Vn), eigenSym(3, Mm, em, Vm);
  std::vector<Rigid> out;
  const int perm[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  for (const auto& P : perm)
    for (int sg = 0; sg < 8; ++sg) {
      // R = Vn S P Vm^T: measured axis P[k] goes to nominal axis k.
      double R[9] = {};
      for (int k = 0; k < 3; ++k) {
        const double sk = (sg >> k) & 1 ? -1 : 1;
        for (int i = 0; i < 3; ++i)
          for (int j = 0; j < 3; ++j) R[3 * i + j] += sk * Vn[3 * i + k] * Vm[3 * j + P[k]];
      }
      const double det = R[0] * (R[4] * R[8] - R[5] * R[7]) - R[1] * (R[3] * R[8] - R[5] * R[6]) +
                         R[2] * (R[3] * R[7] - R[4] * R[6]);
      if (det < 0) continue;
      Rigid T;
      std::copy(R, R + 9, T.R);
      T.t = sub(cn, T.rot(cm));
      out.push_back(T);
    }
  return out;
}

// A fixed draw of at most kCoarse of the points, in their order: the solver's iterations far
// from the answer need no more, and the same points whatever the thread count.
constexpr std::size_t kCoarse = 5000;
std::vector<Sample> coarseSubset(const std::vector<Sample>& pts) {
  if (pts.size() <= 2 * kCoarse) return pts;
  std::vector<std::size_t> idx(pts.size());
  for (std::size_t i = 0; i < idx.size(); ++i) idx[i] = i;
  std::mt19937_64 rng(0x5eed);
  for (std::size_t i = 0; i < kCoarse; ++i) std::swap(idx[i], idx[i + rng() % (idx.size() - i)]);
  std::sort(idx.begin(), idx.begin() + kCoarse);
  std::vector<Sample> out;
  out.reserve(kCoarse);
  for (std::size_t i = 0; i < kCoarse; ++i) out.push_back(pts[idx[i]]);
  return out;
}

// The mean absolute residual of the best 90% of the points: a start's score that a few gross
// outliers do not decide.
double trimmedMean(const std::vector<Eval>& ev) {
  std::vector<double> a;
  for (const auto& e : ev)
    if (e.ok) a.push_back(std::fabs(e.r));
  if (a.empty()) return HUGE_VAL;
  const std::size_t n = std::max<std::size_t>(1, a.size() * 9 / 10);
  std::nth_element(a.begin(), a.begin() + (n - 1), a.end());
  double s = 0;
  for (std::size_t i = 0; i < n; ++i) s += a[i];
  return s / n;
}

// The turn taking A to B (B A^T): angle and axis.
double relativeTurn(const Rigid& A, const Rigid& B, Vec3& axis) {
  double BT[9], Rr[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) BT[3 * i + j] = A.R[3 * j + i];
  mul33(B.R, BT, Rr);
  axis = unit(Vec3{Rr[7] - Rr[5], Rr[2] - Rr[6], Rr[3] - Rr[1]});
  const double tr = Rr[0] + Rr[4] + Rr[8];
  const double s = std::hypot(Rr[7] - Rr[5], Rr[2] - Rr[6], Rr[3] - Rr[1]) / 2;
  const double ang = std::atan2(s, (tr - 1) / 2);
  if (s < 1e-6) {  // near a half turn: the axis is the largest column of R + I
    int k = 0;
    for (int i = 1; i < 3; ++i)
      if (Rr[4 * i] > Rr[4 * k]) k = i;
    axis = unit(Vec3{Rr[k] + (k == 0), Rr[3 + k] + (k == 1), Rr[6 + k] + (k == 2)});
  }
  return ang;
}

}  // namespace

gmAlignment gmBestFitAlignment(const std::vector<gmInspectionFeature>& features,
                               const std::vector<gmMeasuredPoint>& points,
                               const gmAlignmentOptions& options) {
  gmAlignment out;
  Fitter fit(features, options);
  if (!fit.usable()) {
    out.problem = "no usable feature";
    return out;
  }
  std::vector<Sample> pts = samplesOf(features, points, options.defaultDiameter);
  if (static_cast<int>(pts.size()) < std::max(fit.freeCount(), 1)) {
    out.problem = "too few points";
    return out;
  }
  std::vector<Sample> coarse = coarseSubset(pts);
  const int maxIt = std::max(options.maxIterations, 1);
  Rigid T = fromTransfo(options.start);
  int iterations = 0, it = 0;
  std::vector<Rigid> rivals;
  // From a start with every degree of freedom free, the principal-axes starts that lie within
  // 60 degrees of it are tried beside it: the local solver's reach from a turned start is short.
  std::vector<Rigid> starts;
  bool anyFixed = false;
  for (bool f : options.fixed) anyFixed = anyFixed || f;
  if (options.fromAnywhere) {
    starts = principalStarts(features, pts);
  } else {
    starts.push_back(T);
    if (!anyFixed)
      for (const Rigid& S : principalStarts(features, pts)) {
        Vec3 axis;
        if (relativeTurn(T, S, axis) < std::numbers::pi / 3) starts.push_back(S);
      }
  }
  if (starts.size() > 1) {
    // A few iterations from each start on a thinned set; the likeliest few go on to the end.
    std::vector<Sample> few;
    const std::size_t stride = std::max<std::size_t>(1, pts.size() / 400);
    for (std::size_t i = 0; i < pts.size(); i += stride) few.push_back(pts[i]);
    std::vector<std::pair<double, Rigid>> tried;
    for (const Rigid& S : starts) {
      const Rigid R = fit.solve(S, few, 10, it);
      tried.push_back({trimmedMean(fit.evalAll(R, few)), R});
      iterations += it;
    }
    std::sort(tried.begin(), tried.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    if (tried.empty() || !std::isfinite(tried[0].first)) {
      out.problem = "no start";
      return out;
    }
    // The likeliest go on to the end on the coarse subset, the best of them on all the points.
    std::vector<std::pair<double, Rigid>> done;
    for (std::size_t k = 0; k < tried.size() && k < 4; ++k) {
      if (k > 0 && tried[k].first > 3 * tried[0].first + 1e-9 * fit.size()) break;
      const Rigid R = fit.solve(tried[k].second, coarse, maxIt, it);
      iterations += it;
      done.push_back({trimmedMean(fit.evalAll(R, coarse)), R});
    }
    std::sort(done.begin(), done.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    T = done[0].second;
    for (std::size_t k = 1; k < done.size(); ++k)
      if (done[k].first <= done[0].first * 1.01 + 1e-9 * fit.size())
        rivals.push_back(done[k].second);
    if (coarse.size() < pts.size()) {
      T = fit.descend(T, pts, maxIt, it);
      iterations += it;
    }
  } else {
    T = fit.solve(T, coarse, pts, maxIt, it);
    iterations += it;
  }
  // Points beyond the distance are set aside and the rest refitted once.
  if (std::isfinite(options.maxDistance)) {
    std::vector<Sample> kept;
    const std::vector<Eval> ev = fit.evalAll(T, pts);
    for (std::size_t i = 0; i < pts.size(); ++i) {
      if (ev[i].ok && std::fabs(ev[i].r) > options.maxDistance)
        out.unassigned.push_back(pts[i].index);
      else
        kept.push_back(pts[i]);
    }
    if (!out.unassigned.empty() && static_cast<int>(kept.size()) >= fit.freeCount()) {
      pts.swap(kept);
      coarse = coarseSubset(pts);
      T = fit.solve(T, coarse, pts, maxIt, it);
      iterations += it;
    }
  }
  out.iterations = iterations;
  fillOut(T, out);
  fit.finish(T, pts, out);
  out.ok = 1;
  // A rival start that ends as well as the best and elsewhere is a symmetry the points cannot
  // tell apart.
  for (const Rigid& R : rivals) {
    Vec3 axis;
    const double ang = relativeTurn(T, R, axis);
    if (ang > 1e-6) {
      char buf[48];
      std::snprintf(buf, sizeof buf, "turn of %.6g degrees about ", ang * 180 / std::numbers::pi);
      out.ambiguous = 1;
      out.freeDirections +=
          (out.freeDirections.empty() ? "" : "; ") + std::string(buf) + direction(axis);
      break;
    }
  }
  return out;
}

namespace {

// One datum: a direction (plane normal or axis; zero for a point) and a point of it.
struct Datum {
  enum Type { PLANE, LINE, POINT } type;
  Vec3 d, o;
};

// The nominal datum of a feature: planes, cylinders and cones (their axis), spheres (centre).
int nominalDatum(const gmInspectionFeature& f, Datum& out) {
  const Vec3 o = vec(f.frame() >> ERPoint3D(0, 0, 0));
  const Vec3 z = unit(sub(vec(f.frame() >> ERPoint3D(0, 0, 1)), o));
  switch (f.kind()) {
    case gmInspectionFeature::PLANE:
      out = {Datum::PLANE, z, o};
      return 1;
    case gmInspectionFeature::CYLINDER:
      out = {Datum::LINE, z, o};
      return 1;
    case gmInspectionFeature::SPHERE:
      out = {Datum::POINT, {0, 0, 0}, o};
      return 1;
    default:
      return 0;
  }
}

// A sphere through the points, linear in (centre, |c|^2 - r^2): the start of the fit.
int algebraicSphere(const std::vector<ERPoint3D>& pts, ERPoint3D& c, double& r) {
  double A[16] = {}, b[4] = {}, x[4];
  Vec3 m{0, 0, 0};
  for (const auto& p : pts) m = add3(m, vec(p));
  m = scale(m, 1.0 / pts.size());
  for (const auto& p : pts) {
    const Vec3 q = sub(vec(p), m);
    const double row[4] = {2 * q[0], 2 * q[1], 2 * q[2], 1}, rhs = dot(q, q);
    for (int i = 0; i < 4; ++i) {
      b[i] += row[i] * rhs;
      for (int j = 0; j < 4; ++j) A[4 * i + j] += row[i] * row[j];
    }
  }
  if (!cholSolve(4, A, b, x)) return 0;
  const Vec3 cc{x[0], x[1], x[2]};
  r = std::sqrt(std::max(dot(cc, cc) + x[3], 0.0));
  c = ERPoint3D(cc[0] + m[0], cc[1] + m[1], cc[2] + m[2]);
  return std::isfinite(r) && r > 0;
}

// The datum fitted to the points naming the feature, of the nominal's type. The fits start
// from the points alone: a sphere from its algebraic fit, a cylinder along each principal axis
// of the points in turn, the smallest form error kept.
int measuredDatum(Datum::Type type, const std::vector<ERPoint3D>& pts, Datum& out) {
  double form = 0;
  int it = 0;
  ERPoint3D c;
  ERVector3D n;
  double r = 0;
  switch (type) {
    case Datum::PLANE:
      if (!gmFitPlane(pts, c, n, form)) return 0;
      out = {type, unit(vec(n)), vec(c)};
      return 1;
    case Datum::LINE: {
      if (pts.size() < 5) return 0;
      std::vector<Vec3> p;
      for (const auto& q : pts) p.push_back(vec(q));
      Vec3 m;
      double M[9], ev[3], V[9];
      moments(p, std::vector<double>(p.size(), 1.0), m, M);
      eigenSym(3, M, ev, V);
      double best = HUGE_VAL;
      for (int k = 0; k < 3; ++k) {
        const Vec3 a{V[k], V[3 + k], V[6 + k]};
        double r0 = 0;
        for (const auto& q : p) {
          const Vec3 d = sub(q, m);
          r0 += norm(sub(d, scale(a, dot(d, a)))) / p.size();
        }
        ERPoint3D ap(m[0], m[1], m[2]);
        ERVector3D ax(a[0], a[1], a[2]);
        double rr = r0, fe = 0;
        if (gmFitCylinder(pts, ap, ax, rr, fe, it) && fe < best)
          best = fe, out = {type, unit(vec(ax)), vec(ap)};
      }
      return best < HUGE_VAL;
    }
    case Datum::POINT:
      if (!algebraicSphere(pts, c, r) || !gmFitSphere(pts, c, r, form, it)) return 0;
      out = {type, {0, 0, 0}, vec(c)};
      return 1;
  }
  return 0;
}

// The 3-2-1 frame of three datums: axes e1 (primary), e2, e3 in the columns of E, origin O
// from the first three independent constraints in datum order.
int datumFrame(const Datum* D, double* E, Vec3& O) {
  if (D[0].type == Datum::POINT) return 0;
  const Vec3 e1 = D[0].d;
  Vec3 e2{0, 0, 0};
  for (int k = 1; k < 3 && norm(e2) < 1e-6; ++k)
    if (D[k].type != Datum::POINT) e2 = sub(D[k].d, scale(e1, dot(D[k].d, e1)));
  if (norm(e2) < 1e-6) return 0;
  e2 = unit(e2);
  const Vec3 e3 = cross(e1, e2);
  for (int i = 0; i < 3; ++i) E[3 * i] = e1[i], E[3 * i + 1] = e2[i], E[3 * i + 2] = e3[i];
  // Constraint rows n . O = n . o, each kept when it adds a new direction.
  std::vector<Vec3> rows, basis;
  std::vector<double> rhs;
  auto offer = [&](const Vec3& n, const Vec3& o) {
    Vec3 r = n;
    for (const auto& b : basis) r = sub(r, scale(b, dot(r, b)));
    if (norm(r) < 1e-3 || rows.size() == 3) return;
    basis.push_back(unit(r)), rows.push_back(n), rhs.push_back(dot(n, o));
  };
  for (int k = 0; k < 3; ++k) {
    const Datum& d = D[k];
    if (d.type == Datum::PLANE) {
      offer(d.d, d.o);
    } else {
      const Vec3 dirs[3] = {e1, e2, e3};
      for (const auto& v : dirs) {
        const Vec3 w = d.type == Datum::LINE ? sub(v, scale(d.d, dot(v, d.d))) : v;
        if (norm(w) > 0.5) offer(unit(w), d.o);
      }
    }
  }
  if (rows.size() < 3) return 0;
  // Cramer on the 3 x 3 rows.
  const Vec3 &a = rows[0], &b = rows[1], &c = rows[2];
  const double det = dot(a, cross(b, c));
  if (std::fabs(det) < 1e-12) return 0;
  O = scale(add3(add3(scale(cross(b, c), rhs[0]), scale(cross(c, a), rhs[1])),
                 scale(cross(a, b), rhs[2])),
            1 / det);
  return 1;
}

}  // namespace

gmAlignment gmDatumAlignment(const std::vector<gmInspectionFeature>& features,
                             const std::vector<gmMeasuredPoint>& points,
                             const std::vector<std::string>& datums, double defaultDiameter) {
  gmAlignment out;
  if (datums.size() != 3) {
    out.problem = "three datums are needed";
    return out;
  }
  gmAlignmentOptions o;
  o.defaultDiameter = defaultDiameter;
  o.loss = gmAlignmentOptions::LEAST_SQUARES;
  Fitter fit(features, o);
  if (!fit.usable()) {
    out.problem = "no usable feature";
    return out;
  }
  // Reference sides: the centroid of all points, the nominal features' box centre.
  Vec3 cm{0, 0, 0};
  int n = 0;
  for (const auto& p : points) {
    const Vec3 v = vec(p.centre);
    if (std::isfinite(v[0] + v[1] + v[2])) cm = add3(cm, v), ++n;
  }
  if (n) cm = scale(cm, 1.0 / n);
  Datum nom[3], mea[3];
  for (int k = 0; k < 3; ++k) {
    const auto it = std::find_if(features.begin(), features.end(),
                                 [&](const auto& f) { return f.id() == datums[k]; });
    if (it == features.end() || !it->problem().empty() || !nominalDatum(*it, nom[k])) {
      out.problem = "datum " + datums[k] + " is not a plane, cylinder or sphere of the nominal";
      return out;
    }
    std::vector<ERPoint3D> pts;
    for (const auto& p : points) {
      const Vec3 v = vec(p.centre);
      if (p.feature == datums[k] && std::isfinite(v[0] + v[1] + v[2])) pts.push_back(p.centre);
    }
    if (!measuredDatum(nom[k].type, pts, mea[k])) {
      out.problem = "datum " + datums[k] + " cannot be fitted";
      return out;
    }
    if (nom[k].type != Datum::POINT) {
      const double sn = dot(sub(fit.centre(), nom[k].o), nom[k].d),
                   sm = dot(sub(cm, mea[k].o), mea[k].d);
      if (sn * sm < 0) mea[k].d = scale(mea[k].d, -1);
    }
    // Probe centres lie off a plane by the radius, on the material's outer side.
    if (nom[k].type == Datum::PLANE) {
      double r = 0;
      int c = 0;
      for (const auto& p : points)
        if (p.feature == datums[k]) r += (p.diameter >= 0 ? p.diameter : defaultDiameter) / 2, ++c;
      if (c) mea[k].o = sub(mea[k].o, scale(mea[k].d, r / c));
    }
  }
  double En[9], Em[9];
  Vec3 On, Om;
  if (!datumFrame(nom, En, On) || !datumFrame(mea, Em, Om)) {
    out.problem = "the datums do not fix a frame";
    return out;
  }
  Rigid T;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      T.R[3 * i + j] =
          En[3 * i] * Em[3 * j] + En[3 * i + 1] * Em[3 * j + 1] + En[3 * i + 2] * Em[3 * j + 2];
  T.t = sub(On, T.rot(Om));
  fillOut(T, out);
  gmAlignmentOptions all = o;
  for (bool& f : all.fixed) f = true;
  Fitter stats(features, all);
  std::vector<Sample> pts = samplesOf(features, points, defaultDiameter);
  stats.finish(T, pts, out);
  out.ok = 1;
  return out;
}

namespace {

std::string trimmedField(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// One fixed coordinate: the moved point's coordinate k is to be v.
struct Fix {
  Vec3 p;
  int k;
  double v;
};

// Horn's quaternion: the turn taking the centred a onto the centred b in the least-squares sense.
Rigid bestTurn(const std::vector<Vec3>& a, const std::vector<Vec3>& b) {
  Vec3 ca{0, 0, 0}, cb{0, 0, 0};
  for (std::size_t i = 0; i < a.size(); ++i) ca = add3(ca, a[i]), cb = add3(cb, b[i]);
  ca = scale(ca, 1.0 / a.size()), cb = scale(cb, 1.0 / b.size());
  double S[9] = {};
  for (std::size_t i = 0; i < a.size(); ++i) {
    const Vec3 p = sub(a[i], ca), q = sub(b[i], cb);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) S[3 * r + c] += p[r] * q[c];
  }
  const double xx = S[0], xy = S[1], xz = S[2], yx = S[3], yy = S[4], yz = S[5], zx = S[6],
               zy = S[7], zz = S[8];
  double N[16] = {xx + yy + zz, yz - zy,      zx - xz,       xy - yx,  //
                  yz - zy,      xx - yy - zz, xy + yx,       zx + xz,  //
                  zx - xz,      xy + yx,      -xx + yy - zz, yz + zy,  //
                  xy - yx,      zx + xz,      yz + zy,       -xx - yy + zz};
  double val[4], V[16];
  eigenSym(4, N, val, V);
  const double w = V[0], x = V[4], y = V[8], z = V[12];
  Rigid T;
  const double R[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
                       2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
                       2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
  std::copy(R, R + 9, T.R);
  T.t = sub(cb, T.rot(ca));
  return T;
}

// The normal equations of the fixes at T about c, turns scaled by L; the sum of squares.
double rpsNormal(const std::vector<Fix>& fixes, const Rigid& T, const Vec3& c, double L, double* H,
                 double* g) {
  std::fill(H, H + 36, 0.0), std::fill(g, g + 6, 0.0);
  double sum = 0;
  for (const Fix& f : fixes) {
    const Vec3 q = T(f.p);
    Vec3 e{0, 0, 0};
    e[f.k] = 1;
    const Vec3 a = scale(cross(sub(q, c), e), 1 / L);
    const double J[6] = {a[0], a[1], a[2], e[0], e[1], e[2]}, r = q[f.k] - f.v;
    sum += r * r;
    for (int i = 0; i < 6; ++i) {
      g[i] += J[i] * r;
      for (int j = 0; j < 6; ++j) H[6 * i + j] += J[i] * J[j];
    }
  }
  return sum;
}

}  // namespace

int gmReadReferencePoints(std::istream& in, std::vector<gmReferencePoint>& out,
                          std::string& problem) {
  out.clear(), problem.clear();
  std::string line;
  long number = 0;
  bool first = true;
  auto bad = [&](const std::string& why) {
    problem = "line " + std::to_string(number) + ": " + why;
    out.clear();
    return 0;
  };
  while (std::getline(in, line)) {
    ++number;
    line = trimmedField(line);
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream s(line);
    for (std::string x; std::getline(s, x, ',');) f.push_back(trimmedField(x));
    if (!line.empty() && line.back() == ',') f.push_back("");
    const bool header = first && !f.empty() && (f[0] == "id" || f[0] == "ID" || f[0] == "Id");
    first = false;
    if (header) continue;
    if (f.size() != 5) return bad("five fields are needed: id, fixes, x, y, z");
    gmReferencePoint r;
    r.id = f[0];
    if (r.id.empty()) return bad("no id");
    if (f[1].empty()) return bad("fixes names no coordinate (x, y, z)");
    for (char c : f[1]) {
      const int k = c == 'x' || c == 'X'   ? 0
                    : c == 'y' || c == 'Y' ? 1
                    : c == 'z' || c == 'Z' ? 2
                                           : -1;
      if (k < 0 || r.fixes[k]) return bad("fixes '" + f[1] + "' is not a set of x, y, z");
      r.fixes[k] = true;
    }
    for (int k = 0; k < 3; ++k) {
      const std::string& v = f[2 + k];
      if (v.empty()) {
        if (r.fixes[k]) return bad(std::string("the fixed ") + "xyz"[k] + " has no value");
        continue;
      }
      char* end = nullptr;
      const double x = std::strtod(v.c_str(), &end);
      if (end != v.c_str() + v.size() || !std::isfinite(x))
        return bad("'" + v + "' is not a finite number");
      r.nominal[k] = x;
    }
    out.push_back(r);
  }
  if (out.empty()) problem = "no reference point";
  return !out.empty();
}

gmAlignment gmRpsAlignment(const std::vector<gmReferencePoint>& references,
                           const std::vector<gmMeasuredPoint>& points) {
  gmAlignment out;
  std::vector<Fix> fixes;
  std::vector<Vec3> fullA, fullB;
  std::vector<std::string> seen;
  Vec3 lo{HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (const gmReferencePoint& r : references) {
    const auto it = std::find_if(points.begin(), points.end(), [&](const gmMeasuredPoint& p) {
      const Vec3 v = vec(p.centre);
      return p.id == r.id && std::isfinite(v[0] + v[1] + v[2]);
    });
    if (it == points.end()) {
      out.problem = "reference point " + r.id + " is not among the measured points";
      return out;
    }
    const Vec3 p = vec(it->centre);
    bool full = true;
    for (int k = 0; k < 3; ++k) {
      full = full && std::isfinite(r.nominal[k]);
      if (!r.fixes[k]) continue;
      if (!std::isfinite(r.nominal[k])) {
        out.problem = "reference point " + r.id + ": a fixed coordinate has no finite value";
        return out;
      }
      fixes.push_back({p, k, r.nominal[k]});
    }
    if (full) fullA.push_back(p), fullB.push_back({r.nominal[0], r.nominal[1], r.nominal[2]});
    for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
    if (std::find(seen.begin(), seen.end(), r.id) == seen.end()) seen.push_back(r.id);
  }
  if (fixes.empty()) {
    out.problem = "no reference point fixes a coordinate";
    return out;
  }
  double L = std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
  if (!(L > 0) || !std::isfinite(L)) L = 1;
  // The start: the full nominal positions where two or more are known, else the shift that
  // meets the fixed coordinates on average.
  Rigid T;
  if (fullA.size() >= 2) {
    T = bestTurn(fullA, fullB);
  } else {
    double s[3] = {}, n[3] = {};
    for (const Fix& f : fixes) s[f.k] += f.v - f.p[f.k], ++n[f.k];
    for (int k = 0; k < 3; ++k) T.t[k] = n[k] ? s[k] / n[k] : 0;
  }
  // Levenberg-Marquardt about the moved points' centroid.
  auto centroid = [&](const Rigid& R) {
    Vec3 c{0, 0, 0};
    for (const Fix& f : fixes) c = add3(c, R(f.p));
    return scale(c, 1.0 / fixes.size());
  };
  double H[36], g[6], lambda = 1e-6;
  Vec3 c = centroid(T);
  double c0 = rpsNormal(fixes, T, c, L, H, g);
  int it = 0;
  for (; it < 200; ++it) {
    bool accepted = false, tiny = false;
    while (lambda < 1e16) {
      double A[36], b[6], x[6];
      double maxDiag = 0;
      for (int i = 0; i < 6; ++i) maxDiag = std::max(maxDiag, H[7 * i]);
      for (int i = 0; i < 36; ++i) A[i] = H[i];
      for (int i = 0; i < 6; ++i) {
        b[i] = -g[i];
        A[7 * i] += lambda * std::max(H[7 * i], 1e-12 * maxDiag) + 1e-300;
      }
      if (!cholSolve(6, A, b, x)) {
        lambda *= 10;
        continue;
      }
      const double step = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2] + x[3] * x[3] +
                                    x[4] * x[4] + x[5] * x[5]);
      if (!std::isfinite(step)) {
        lambda *= 10;
        continue;
      }
      const Rigid N = Fitter::moved(T, x, c, L);
      double Hn[36], gn[6];
      const Vec3 cn = centroid(N);
      const double c1 = rpsNormal(fixes, N, cn, L, Hn, gn);
      if (c1 <= c0) {
        T = N, c = cn, c0 = c1;
        std::copy(Hn, Hn + 36, H), std::copy(gn, gn + 6, g);
        lambda = std::max(lambda / 10, 1e-12);
        accepted = true;
        tiny = step < 1e-14 * L;
        break;
      }
      if (step < 1e-14 * L) {
        tiny = true;
        break;
      }
      lambda *= 10;
    }
    if (!accepted || tiny) {
      ++it;
      break;
    }
  }
  const bool none[6] = {false, false, false, false, false, false};
  spread(H, none, c0, static_cast<int>(fixes.size()), c, T, L, out);
  if (out.ambiguous) {
    out.problem = "the reference points leave free: " + out.freeDirections;
    return out;
  }
  double mx = 0;
  for (const Fix& f : fixes) mx = std::max(mx, std::fabs(T(f.p)[f.k] - f.v));
  out.iterations = it;
  out.used = static_cast<int>(seen.size());
  out.rms = std::sqrt(c0 / fixes.size());
  out.maxResidual = mx;
  fillOut(T, out);
  out.ok = std::isfinite(out.rms) ? 1 : 0;
  if (!out.ok) out.problem = "no finite solution";
  return out;
}
