#include "qorv/freeform/polynomial.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "qorv/foundation/library.h"
#include "qorv/foundation/numerics.h"

using namespace qorv;

using QuickAlgebra::ERMatrix;
using QuickAlgebra::ERVec;

// ---------------------------------------------------------------------------------------------
double& ERPolynome::operator()(int i) {
  if (i >= c_.length()) adjustDegree(i);
  return c_[i];
}

int ERPolynome::degree() const {
  int n = c_.length();
  if (n == 0) return 0;
  const double* c = static_cast<const ERVec<double>&>(c_).data();
  if (c[n - 1] != 0.0) return n - 1;
  while (n > 0 && c[n - 1] == 0.0) --n;
  c_.resize(n);
  return n > 0 ? n - 1 : 0;
}

void ERPolynome::adjustDegree(int d) {
  if (d < 0) {
    degree();
    return;
  }
  if (d >= c_.length()) c_.resize(d + 1);
}

double ERPolynome::evaluate(double x) const {
  const int n = c_.length();
  if (n == 0) return 0.0;
  const double* c = static_cast<const ERVec<double>&>(c_).data();
  if (x == 0.0) return c[0];
  double r = c[n - 1];
  for (int i = n - 2; i >= 0; --i) r = r * x + c[i];
  return r;
}

ERPolynome ERPolynome::getDerived(int k) const {
  const int d = degree();
  if (d < k || k < 0) return k < 0 ? *this : ERPolynome();
  ERVec<double> c(static_cast<const ERVec<double>&>(c_).data(), d + 1);
  double* a = c.data();
  for (int step = 0; step < k; ++step)
    for (int i = 0; i < d - step; ++i) a[i] = (i + 1) * a[i + 1];
  c.resize(d - k + 1);
  return ERPolynome(c);
}

void ERPolynome::reduce(double eps) {
  const int n = c_.length();
  if (n == 0) return;
  double* c = c_.data();
  double threshold = eps;
  for (int i = 0; i < n; ++i, threshold *= eps)
    if (std::fabs(c[i]) < threshold) c[i] = 0.0;
  degree();
}

ERPolynome ERPolynome::operator()(const ERPolynome& q) const {
  const int d = degree();
  if (d == 0) return *this;
  if (q.degree() == 0) return ERPolynome(polyValueTag, evaluate(q.length() > 0 ? q[0] : 0.0));
  const double* c = static_cast<const ERVec<double>&>(c_).data();
  ERPolynome r(polyValueTag, c[d]);
  for (int i = d - 1; i >= 0; --i) {
    r = r * q;
    r[0] += c[i];
  }
  r.degree();
  return r;
}

ERPolynome operator*(const ERPolynome& p, const ERPolynome& q) {
  const int np = p.length(), nq = q.length();
  if (np == 0 || nq == 0) return ERPolynome();
  ERPolynome r(polyConstructTag, np + nq - 2);
  double* out = r.data();
  const double* a = p.data();
  const double* b = q.data();
  for (int i = 0; i < np; ++i)
    for (int j = 0; j < nq; ++j) out[i + j] += a[i] * b[j];
  return r;
}

ERPolynome operator*(double s, const ERPolynome& p) {
  ERPolynome r(p);
  for (int i = 0, n = r.length(); i < n; ++i) r[i] *= s;
  return r;
}

ERPolynome operator/(const ERPolynome& p, double s) {
  ERPolynome r(p);
  for (int i = 0, n = r.length(); i < n; ++i) r[i] /= s;
  return r;
}

namespace {
using qorv::detail::twoProduct;
using qorv::detail::twoSum;
template <class Op>
ERPolynome combine(const ERPolynome& p, const ERPolynome& q, Op op) {
  const int n = std::max(p.degree(), q.degree()) + 1;
  ERPolynome r(polyConstructTag, n - 1);
  double* out = r.data();
  for (int i = 0; i < n; ++i) out[i] = op(p(i), q(i));
  return r;
}
}  // namespace

ERPolynome operator+(const ERPolynome& p, const ERPolynome& q) {
  return combine(p, q, [](double a, double b) { return a + b; });
}
ERPolynome operator-(const ERPolynome& p, const ERPolynome& q) {
  return combine(p, q, [](double a, double b) { return a - b; });
}

ERPolynome& ERPolynome::operator*=(const ERPolynome& q) { return *this = *this * q; }
ERPolynome& ERPolynome::operator*=(double s) { return *this = s * *this; }
ERPolynome& ERPolynome::operator+=(const ERPolynome& q) { return *this = *this + q; }
ERPolynome& ERPolynome::operator-=(const ERPolynome& q) { return *this = *this - q; }
ERPolynome& ERPolynome::operator/=(double s) { return *this = *this / s; }

bool ERPolynome::operator==(const ERPolynome& q) const {
  const int n = std::max(length(), q.length());
  for (int i = 0; i < n; ++i)
    if ((*this)(i) != q(i)) return false;
  return true;
}

void ERPolynome::printOn(std::ostream& os) const {
  const int n = c_.length();
  if (n == 0) {
    os << "polynome NULL\n";
    return;
  }
  bool printed = false;
  for (int i = 0; i < n; ++i) {
    const double c = c_[i];
    if (c == 0.0) continue;
    if (i >= 1 && c > 0 && printed) os << '+';
    if (!(c == 1.0 && i >= 1)) os << c;
    if (i >= 1) os << (c == 1.0 ? "x" : "*x");
    if (i > 1) os << "**" << i;
    printed = true;
  }
  os << '\n';
}

std::ostream& operator<<(std::ostream& os, const ERPolynome& p) {
  p.printOn(os);
  return os;
}

// ---------------------------------------------------------------------------------------------
ERPolynome2Var::ERPolynome2Var(const ERVec<double>& c, int rows, int rowLength) {
  if (rows > 0 && rowLength > 0 && static_cast<long long>(rows) * rowLength == c.length())
    c_ = ERMatrix<double>(c, rows, rowLength);
  else
    c_ = ERMatrix<double>(rows, rowLength);
}

double& ERPolynome2Var::coefficient(int i, int j) {
  if (i >= c_.rows() || j >= c_.cols())
    c_.reshape(std::max(i + 1, c_.rows()), std::max(j + 1, c_.cols()));
  return c_(i, j);
}

double ERPolynome2Var::coefficient(int i, int j) const {
  return (i >= 0 && j >= 0 && i < c_.rows() && j < c_.cols()) ? c_(i, j) : 0.0;
}

int ERPolynome2Var::degreeU() const {
  const ERMatrix<double>& m = c_;
  int cols = m.cols();
  auto zeroCol = [&](int j) {
    for (int i = 0; i < m.rows(); ++i)
      if (m(i, j) != 0.0) return false;
    return true;
  };
  while (cols > 1 && zeroCol(cols - 1)) --cols;
  if (cols != m.cols()) c_.reshape(m.rows(), cols);
  return cols > 0 ? cols - 1 : 0;
}

int ERPolynome2Var::degreeV() const {
  const ERMatrix<double>& m = c_;
  int rows = m.rows();
  auto zeroRow = [&](int i) {
    for (int j = 0; j < m.cols(); ++j)
      if (m(i, j) != 0.0) return false;
    return true;
  };
  while (rows > 1 && zeroRow(rows - 1)) --rows;
  if (rows != m.rows()) c_.reshape(rows, m.cols());
  return rows > 0 ? rows - 1 : 0;
}

void ERPolynome2Var::adjustDegreeU(int d) {
  if (d < 0) {
    degreeU();
    return;
  }
  if (d + 1 > c_.cols()) c_.reshape(std::max(c_.rows(), 1), d + 1);
}

void ERPolynome2Var::adjustDegreeV(int d) {
  if (d < 0) {
    degreeV();
    return;
  }
  if (d + 1 > c_.rows()) c_.reshape(d + 1, std::max(c_.cols(), 1));
}

double ERPolynome2Var::eval(double u, double v) const {
  const ERMatrix<double>& m = c_;
  if (m.length() == 0) return 0.0;
  double sum = 0.0, vi = 1.0;
  for (int i = 0; i < m.rows(); ++i, vi *= v) {
    double row = 0.0, uj = 1.0;
    const double* r = m.rowData(i);
    for (int j = 0; j < m.cols(); ++j, uj *= u) row += r[j] * uj;
    sum += row * vi;
  }
  return sum;
}

void ERPolynome2Var::printOn(std::ostream& os) const {
  os << "Polynome 2Var dU=" << degreeU() << ", dv=" << degreeV() << ")";
  c_.printOn(os);
  os << '\n';
}

// ---------------------------------------------------------------------------------------------
// Real roots.
namespace {

constexpr double kU = DBL_EPSILON / 2;  // unit roundoff

// Polynomial c[0..d] at x with compensated Horner; also sum |c_i||x|^i.
inline double compensatedHorner(const double* c, int d, double x, double& absSum) {
  double s = c[d], err = 0.0, a = std::fabs(c[d]);
  const double ax = std::fabs(x);
  for (int i = d - 1; i >= 0; --i) {
    double p, pe, se;
    twoProduct(s, x, p, pe);
    twoSum(p, c[i], s, se);
    err = err * x + (pe + se);
    a = a * ax + std::fabs(c[i]);
  }
  absSum = a;
  return s + err;
}

// Value and derivative by plain Horner.
inline void horner2(const double* c, int d, double x, double& f, double& df) {
  f = c[d], df = 0.0;
  for (int i = d - 1; i >= 0; --i) {
    df = df * x + f;
    f = f * x + c[i];
  }
}

// Value, derivative and sum |c_i||x|^i by plain Horner.
inline void horner3(const double* c, int d, double x, double& f, double& df, double& absSum) {
  const double ax = std::fabs(x);
  f = c[d], df = 0.0, absSum = std::fabs(c[d]);
  for (int i = d - 1; i >= 0; --i) {
    df = df * x + f;
    f = f * x + c[i];
    absSum = absSum * ax + std::fabs(c[i]);
  }
}

struct Root {
  double x;
  int mult;
};

struct Point {
  double x;
  double v;
  int mult;  // multiplicity as a root of the derivative; 0 for a range end
  bool zero;
  bool report;
};

// The real roots of c[0..d] (c[d] != 0, d >= 1) in [L, H], through the derivative sequence:
// level j is the j-th derivative; the roots of level j + 1 split the range into pieces where
// level j is monotone.
class RealRootFinder {
 public:
  RealRootFinder(const double* c, int d, double L, double H)
      : d_(d), L_(L), H_(H), coef_(tri(d)), roots_(tri(d)), pts_(static_cast<std::size_t>(d) + 2) {
    double* lvl = coef_.get();
    std::copy(c, c + d + 1, lvl);
    for (int j = 1; j <= d; ++j) {
      const double* prev = level(j - 1);
      double* cur = level(j);
      for (int i = 0; i <= d - j; ++i) cur[i] = (i + 1) * prev[i + 1];
    }
  }

  // Roots of the polynomial itself, ascending; returns their count.
  int solve(Root*& out) {
    int nCrit = 0;
    for (int j = d_ - 1; j >= 0; --j) nCrit = solveLevel(j, nCrit);
    out = roots_.get() + offset(0);
    return nCrit;
  }

 private:
  static std::size_t tri(int d) { return static_cast<std::size_t>(d + 1) * (d + 2) / 2; }
  int offset(int j) const { return j * (d_ + 1) - j * (j - 1) / 2; }
  double* level(int j) { return coef_.get() + offset(j); }

  // Value of level j at x with its zero test; plain Horner when it settles the test.
  void evaluate(const double* q, int dj, Point& p) const {
    const double K = 2.0 * (dj + 1) * kU;
    double f = q[dj], a = std::fabs(q[dj]);
    const double ax = std::fabs(p.x);
    for (int i = dj - 1; i >= 0; --i) {
      f = f * p.x + q[i];
      a = a * ax + std::fabs(q[i]);
    }
    // Plain Horner errs by at most 2 dj u sum |c_i||x|^i.
    if (std::fabs(f) > (K + 2.0 * (dj + 1) * kU) * a) {
      p.v = f;
      p.zero = false;
    } else {
      p.v = compensatedHorner(q, dj, p.x, a);
      // An overflowing magnitude bound says nothing: only an exact zero is a zero there.
      p.zero = std::isfinite(a) ? !(std::fabs(p.v) > K * a) : p.v == 0.0;
    }
    p.report = p.zero;
  }

  // Roots of level j from the nCrit roots of level j + 1; returns their count.
  int solveLevel(int j, int nCrit) {
    const int dj = d_ - j;
    const double* q = level(j);
    const Root* crit = roots_.get() + offset(j + 1);
    Root* out = roots_.get() + offset(j);
    Point* pts = pts_.get();
    int n = 0;
    pts[n++] = {L_, 0.0, 0, false, false};
    for (int i = 0; i < nCrit; ++i) {
      Point& last = pts[n - 1];
      if (crit[i].x <= last.x) {  // on the range start or on the previous stationary point
        if (last.mult == 0) last.x = crit[i].x;
        last.mult += crit[i].mult;
        continue;
      }
      pts[n++] = {crit[i].x, 0.0, crit[i].mult, false, false};
    }
    if (H_ > pts[n - 1].x) pts[n++] = {H_, 0.0, 0, false, false};
    for (int i = 0; i < n; ++i) evaluate(q, dj, pts[i]);
    // A range end that is zero beside a zero neighbour is the same root.
    if (n >= 2) {
      Point& s = pts[0];
      Point& t = pts[1];
      if (s.mult == 0 && s.zero && t.zero) {
        if (t.mult != 0)
          s.report = false;
        else if (std::fabs(s.v) <= std::fabs(t.v))
          t.report = false;
        else
          s.report = false;
      }
      Point& e = pts[n - 1];
      const Point& f = pts[n - 2];
      if (e.mult == 0 && e.zero && f.zero && f.mult != 0) e.report = false;
    }
    int count = 0;
    for (int i = 0; i < n; ++i) {
      // A multiple root sits on a simple root of the derivative, found to plain accuracy only:
      // polish it on the derivative now.
      if (pts[i].report && pts[i].mult == 1) pts[i].x = refine(level(j + 1), dj - 1, pts[i].x);
      if (pts[i].report) out[count++] = {pts[i].x, pts[i].mult + 1};
      if (i + 1 == n) break;
      const Point& a = pts[i];
      const Point& b = pts[i + 1];
      if (a.zero || b.zero || (a.v < 0) == (b.v < 0)) continue;
      out[count++] = {bracketed(q, dj, a.x, b.x, a.v, b.v, a.mult != 0, b.mult != 0, j == 0), 1};
    }
    return count;
  }

  // The one root of q in (a, b) where q is monotone and changes sign: safeguarded Newton, then
  // (for the polynomial itself) Newton on the compensated value.
  static double bracketed(const double* q, int d, double a, double b, double va, double vb,
                          bool flatA, bool flatB, bool polish) {
    const bool negA = va < 0;
    double lo = a, hi = b;
    const double r = va / (va - vb);  // in (0, 1)
    double t = r;
    if (flatA && flatB) {
      // Both ends stationary: the root of the cubic with those values and zero end slopes,
      // 3 t^2 - 2 t^3 = r.
      t = 0.5;
      for (int it = 0; it < 3; ++it) t -= (t * t * (3.0 - 2.0 * t) - r) / (6.0 * t * (1.0 - t));
    } else if (flatA) {
      t = std::sqrt(r);  // value rising like t^2 from a stationary start
    } else if (flatB) {
      t = 1.0 - std::sqrt(1.0 - r);
    }
    double x = a + t * (b - a);
    if (!(x > a && x < b)) x = 0.5 * (a + b);
    double dxOld = b - a, dx = dxOld;
    const double noise = 2.0 * (d + 1) * kU;
    const double scale = std::max(std::fabs(a), std::fabs(b)) + (b - a);
    for (int it = 0; it < 200; ++it) {
      double f, df, absSum;
      horner3(q, d, x, f, df, absSum);
      // Inside the roundoff of plain evaluation its signs mean nothing: polish from here.
      if (std::fabs(f) <= noise * absSum) break;
      if ((f < 0) == negA)
        lo = x;
      else
        hi = x;
      double xn = x - f / df;
      if (!(xn > lo && xn < hi) || std::fabs(2.0 * (xn - x)) > std::fabs(dxOld)) {
        xn = lo + 0.5 * (hi - lo);
      }
      dxOld = dx;
      dx = xn - x;
      // Near a simple root Newton squares the error: a step below 1e-9 of the scale leaves
      // an error far below the roundoff of the evaluation.
      if (xn == x || xn == lo || xn == hi || std::fabs(dx) <= 1e-9 * scale) {
        x = xn;
        break;
      }
      x = xn;
    }
    // A derivative's root only splits the range: plain accuracy is enough unless the level
    // above nearly vanishes there, which the compensated zero test of that level then decides.
    for (int it = 0, n = polish ? 4 : 0; it < n; ++it) {
      double a1, f0, df;
      const double f = compensatedHorner(q, d, x, a1);
      horner2(q, d, x, f0, df);
      if (f == 0.0 || df == 0.0 || !std::isfinite(df)) break;
      const double xn = x - f / df;
      if (!(xn >= a && xn <= b)) break;
      const double step = std::fabs(xn - x);
      x = xn;
      // The next correction is of the order of the square of this one.
      if (step <= 1e-11 * scale) break;
    }
    return x;
  }

  // Newton on the compensated value from x, staying within the range.
  double refine(const double* q, int d, double x) const {
    for (int it = 0; it < 4; ++it) {
      double a1, f0, df;
      const double f = compensatedHorner(q, d, x, a1);
      horner2(q, d, x, f0, df);
      if (f == 0.0 || df == 0.0 || !std::isfinite(df)) break;
      const double xn = x - f / df;
      if (!(xn >= L_ && xn <= H_)) break;
      const double step = std::fabs(xn - x);
      x = xn;
      if (step <= 1e-11 * (std::fabs(x) + (H_ - L_))) break;
    }
    return x;
  }

  int d_;
  double L_, H_;
  qorv::detail::StackBuffer<double, 256> coef_;
  qorv::detail::StackBuffer<Root, 256> roots_;
  qorv::detail::StackBuffer<Point, 64> pts_;
};

}  // namespace

ERVec<double> qorv::Zeros1(const ERPolynome& p, const ERLimites& range) {
  ERVec<double> roots;
  const int deg = p.degree();
  if (p.length() == 0) return roots;
  const double* c0 = p.data();
  int d = deg;
  while (d >= 1 && std::fabs(c0[d]) <= 1e-10) --d;
  if (d == 0) return roots;
  for (int i = 0; i <= d; ++i)
    if (!std::isfinite(c0[i])) return roots;
  const double lo = range.start(), hi = range.end();
  if (!(lo <= hi)) return roots;
  // Roots at 0 come off exactly.
  int z = 0;
  while (z < d && c0[z] == 0.0) ++z;
  // Scale by a power of two (exact) so the largest coefficient is near 1.
  double big = 0.0;
  for (int i = z; i <= d; ++i) big = std::max(big, std::fabs(c0[i]));
  int e = 0;
  std::frexp(big, &e);
  const int dr = d - z;
  std::vector<double> c(static_cast<std::size_t>(dr + 1));
  for (int i = 0; i <= dr; ++i) c[i] = std::ldexp(c0[z + i], -e);
  // Every root lies within the Cauchy bound.
  double R = 0.0;
  for (int i = 0; i < dr; ++i) R = std::max(R, std::fabs(c[i] / c[dr]));
  R = std::min((1.0 + R) * (1.0 + 4 * kU), 0x1p1000);  // roots past 1e301 are not doubles anyway
  const double a = std::max(lo, -R), b = std::min(hi, R);
  const double delta =
      16.0 * kU * std::max({std::fabs(a), std::fabs(b), std::isfinite(b - a) ? b - a : 0.0});
  std::vector<Root> found;
  if (dr >= 1 && a <= b) {
    RealRootFinder finder(c.data(), dr, a - delta, b + delta);
    Root* r = nullptr;
    const int n = finder.solve(r);
    found.assign(r, r + n);
  }
  if (z > 0 && lo - delta <= 0.0 && 0.0 <= hi + delta) {
    const double at = std::min(std::max(0.0, lo), hi);
    auto pos = std::lower_bound(found.begin(), found.end(), at,
                                [](const Root& r, double v) { return r.x < v; });
    found.insert(pos, Root{at, z});
  }
  roots.reserve(d);
  for (const Root& r : found) {
    if (!std::isfinite(r.x)) continue;
    const double x = std::min(std::max(r.x, lo), hi);
    for (int k = 0; k < r.mult; ++k) roots.append(x);
  }
  return roots;
}

int qorv::ZerosMethode1(const ERPolynome& p, const ERLimites& range, ERVec<double>& roots) {
  roots.clear();
  if (p.degree() == 0) return (p.length() == 0 || p[0] == 0.0) ? -1 : 0;
  roots = Zeros1(p, range);
  return roots.length();
}

int qorv::Zeros(const ERPolynome& p, const ERLimites& range, ERVec<double>& roots) {
  return ZerosMethode1(p, range, roots);
}

ERVec<double> qorv::Zeros(const ERPolynome& p, const ERLimites& range) {
  ERVec<double> roots;
  ZerosMethode1(p, range, roots);
  return roots;
}

int ProjectionPointOnCpoly(const ERTValVector<ERPolynome>& polys, int dim, const double* point,
                           const ERLimites& range, ERVec<double>& params) {
  params.clear();
  const int n = polys.length();
  if ((dim != 2 && dim != 3) || (n != dim && n != dim + 1) || point == nullptr) return 0;
  const bool rational = n == dim + 1;
  const ERPolynome one(polyValueTag, 1.0);
  const ERPolynome& W = rational ? polys[dim] : one;
  const ERPolynome dW = W.getDerived(1);
  ERPolynome F(polyValueTag, 0.0);
  for (int k = 0; k < dim; ++k) {
    const ERPolynome& X = polys[k];
    const ERPolynome rel = X - point[k] * W;
    const ERPolynome speed = rational ? X.getDerived(1) * W - X * dW : X.getDerived(1);
    F += rel * speed;
  }
  return Zeros(F, range, params);
}

// ---------------------------------------------------------------------------------------------
TableauDePascal::TableauDePascal() {
  for (auto& r : rows_) r.store(nullptr, std::memory_order_relaxed);
}

TableauDePascal::~TableauDePascal() {
  for (auto& r : rows_) delete[] r.load(std::memory_order_relaxed);
}

void TableauDePascal::ComputeTo(int N) {
  N = std::min(N, kMaxRow);
  std::lock_guard<std::mutex> hold(grow_);
  int top = highest_.load(std::memory_order_relaxed);
  for (int r = top + 1; r <= N; ++r) {
    double* row = new double[static_cast<std::size_t>(r) + 1];
    row[0] = row[r] = 1.0;
    const double* prev = r > 0 ? rows_[r - 1].load(std::memory_order_relaxed) : nullptr;
    for (int j = 1; j < r; ++j) row[j] = prev[j - 1] + prev[j];
    rows_[r].store(row, std::memory_order_release);
  }
  if (N > top) highest_.store(N, std::memory_order_release);
}

const double* TableauDePascal::Cnp(int n) {
  if (n < 0 || n > kMaxRow) return nullptr;
  if (n > highest_.load(std::memory_order_acquire)) ComputeTo((n / 20 + 1) * 20);
  return rows_[n].load(std::memory_order_acquire);
}

double TableauDePascal::Cnp(int n, int p) {
  if (n < 0 || p < 0 || p > n) return 0.0;
  if (n > kMaxRow) {
    p = std::min(p, n - p);
    double r = 1.0;
    for (int i = 1; i <= p; ++i) r = r * (n - p + i) / i;
    return r;
  }
  return Cnp(n)[p];
}

TableauDePascal& TableauDePascal::instance() {
  static TableauDePascal table;
  return table;
}

double qorv::Cnp(int n, int p) { return TableauDePascal::instance().Cnp(n, p); }

// ---------------------------------------------------------------------------------------------
namespace {
constexpr double kFactorials[28] = {1.0,
                                    1.0,
                                    2.0,
                                    6.0,
                                    24.0,
                                    120.0,
                                    720.0,
                                    5040.0,
                                    40320.0,
                                    362880.0,
                                    3628800.0,
                                    39916800.0,
                                    479001600.0,
                                    6227020800.0,
                                    87178291200.0,
                                    1307674368000.0,
                                    20922789888000.0,
                                    355687428096000.0,
                                    6402373705728000.0,
                                    121645100408832000.0,
                                    2432902008176640000.0,
                                    51090942171709440000.0,
                                    1124000727777607680000.0,
                                    25852016738884976640000.0,
                                    620448401733239439360000.0,
                                    15511210043330985984000000.0,
                                    403291461126605635584000000.0,
                                    10888869450418352160768000000.0};
}  // namespace

ERFactorialFactory::~ERFactorialFactory() { delete[] cache_; }

double ERFactorialFactory::Fact(int n) {
  if (n < 0) return 0.0;
  if (n < 28) return kFactorials[n];
  if (n > 170) return std::numeric_limits<double>::infinity();
  std::lock_guard<std::mutex> hold(lock_);
  if (n > top_) {
    const int M = 16 * ((n + 1) / 16 + 1);
    double* grown = new double[static_cast<std::size_t>(M) + 1];
    int from = 1;
    grown[0] = 1.0;
    if (cache_ != nullptr) {
      std::copy(cache_, cache_ + top_ + 1, grown);
      from = top_ + 1;
    }
    for (int i = from; i <= M; ++i) grown[i] = i * grown[i - 1];
    delete[] cache_;
    cache_ = grown;
    top_ = M;
  }
  return cache_[n];
}

ERFactorialFactory& ERFactorialFactory::instance() {
  if (CDynLinkLibraryQORV* lib = qorvLibrary()) return lib->factorials();
  static ERFactorialFactory fallback;
  return fallback;
}
