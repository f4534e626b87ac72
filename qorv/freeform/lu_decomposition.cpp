#include "qorv/freeform/lu_decomposition.h"

#include <cmath>
#include <vector>

using namespace qorv;

using QuickAlgebra::ERMatrix;
using QuickAlgebra::ERVec;

namespace {

constexpr double kPivotTolerance = 1e-20;

// Elimination on a rows x cols row-major block (cols >= rows); perm holds rows ints.
int eliminate(double* a, int n, int cols, int* perm, int& parity, double tol) {
  parity = 1;
  for (int i = 0; i < n; ++i) perm[i] = i;
  for (int k = 0; k < n; ++k) {
    int best = k;
    double big = std::fabs(a[k * cols + k]);
    for (int i = k + 1; i < n; ++i) {
      const double v = std::fabs(a[i * cols + k]);
      if (v > big) big = v, best = i;
    }
    if (!(big >= tol) || !std::isfinite(big)) return 0;
    if (best != k) {
      double* r1 = a + k * cols;
      double* r2 = a + best * cols;
      for (int j = 0; j < cols; ++j) std::swap(r1[j], r2[j]);
      std::swap(perm[k], perm[best]);
      parity = -parity;
    }
    const double* pk = a + k * cols;
    const double inv = 1.0 / pk[k];
    for (int i = k + 1; i < n; ++i) {
      double* ri = a + i * cols;
      const double l = ri[k] * inv;
      ri[k] = l;
      if (l == 0.0) continue;
      for (int j = k + 1; j < cols; ++j) ri[j] -= l * pk[j];
    }
  }
  return 1;
}

// Forward then back substitution of one right-hand side in place (x already permuted).
void substitute(const double* lu, int n, int cols, double* x) {
  for (int i = 1; i < n; ++i) {
    const double* r = lu + i * cols;
    double s = x[i];
    for (int j = 0; j < i; ++j) s -= r[j] * x[j];
    x[i] = s;
  }
  for (int i = n - 1; i >= 0; --i) {
    const double* r = lu + i * cols;
    double s = x[i];
    for (int j = i + 1; j < n; ++j) s -= r[j] * x[j];
    x[i] = s / r[i];
  }
}

}  // namespace

int qorv::MatriceGaussPivot(ERMatrix<double>& A, int*& perm, int& parity, double tol) {
  const int n = A.rows();
  if (n == 0 || A.cols() < n) return 0;
  if (perm == nullptr) perm = new int[static_cast<std::size_t>(n)];
  return eliminate(A.data(), n, A.cols(), perm, parity, tol);
}

ERLUDecomp::ERLUDecomp(const ERMatrix<double>& a) { factorise(a); }

ERLUDecomp& ERLUDecomp::operator=(const ERMatrix<double>& a) {
  factorise(a);
  return *this;
}

void ERLUDecomp::factorise(const ERMatrix<double>& a) {
  const ERMatrix<double> keep(a);  // a may be this object
  input_ = keep;
  ERMatrix<double>::operator=(keep);
  const int n = keep.rows(), c = keep.cols();
  perm_ = QuickAlgebra::ERSimpleVec<std::int32_t>(n);
  parity_ = 1;
  singular_ = 1;
  if (n == 0 || (c != n && c != n + 1)) return;
  for (double v : keep)
    if (!std::isfinite(v)) return;
  int parity = 1;
  const int ok = eliminate(data(), n, c, perm_.data(), parity, kPivotTolerance);
  parity_ = parity;
  singular_ = ok ? 0 : 1;
}

ERMatrix<double> ERLUDecomp::L() const {
  const int n = rows();
  ERMatrix<double> l(n, n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < i; ++j) l(i, j) = (*this)(i, j);
    l(i, i) = 1.0;
  }
  return l;
}

ERMatrix<double> ERLUDecomp::U() const {
  const int n = rows();
  ERMatrix<double> u(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = i; j < n; ++j) u(i, j) = (*this)(i, j);
  return u;
}

ERMatrix<double> ERLUDecomp::P() const {
  const int n = rows();
  ERMatrix<double> p(n, n);
  for (int i = 0; i < n; ++i) p(i, perm_[i]) = 1.0;
  return p;
}

ERVec<double> qorv::solve(const ERLUDecomp& lu, const ERVec<double>& b) {
  const int n = lu.rows();
  if (lu.isSingular() || b.length() != n) return ERVec<double>();
  ERVec<double> x(n);
  double* xs = x.data();
  const double* bs = b.data();
  const int* perm = lu.permutation();
  for (int i = 0; i < n; ++i) xs[i] = bs[perm[i]];
  substitute(lu.data(), n, lu.cols(), xs);
  return x;
}

ERMatrix<double> qorv::solve(const ERLUDecomp& lu, const ERMatrix<double>& B) {
  const int n = lu.rows(), m = B.cols();
  if (lu.isSingular() || B.rows() != n) return ERMatrix<double>();
  ERMatrix<double> X(n, m);
  std::vector<double> col(static_cast<std::size_t>(n));
  const int* perm = lu.permutation();
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < n; ++i) col[i] = B(perm[i], j);
    substitute(lu.data(), n, lu.cols(), col.data());
    for (int i = 0; i < n; ++i) X(i, j) = col[i];
  }
  return X;
}

ERVec<double> qorv::solve(const ERLUDecomp& lu) {
  const int n = lu.rows();
  if (lu.isSingular() || lu.cols() != n + 1) return ERVec<double>();
  // The right-hand side went through the elimination with its rows: only back substitution.
  ERVec<double> x(n);
  double* xs = x.data();
  const double* a = lu.data();
  for (int i = n - 1; i >= 0; --i) {
    const double* r = a + i * (n + 1);
    double s = r[n];
    for (int j = i + 1; j < n; ++j) s -= r[j] * xs[j];
    xs[i] = s / r[i];
  }
  return x;
}

double qorv::determinant(const ERLUDecomp& lu) {
  if (lu.isSingular()) return 0.0;
  double d = lu.parity();
  for (int i = 0; i < lu.rows(); ++i) d *= lu(i, i);
  return d;
}

ERMatrix<double> qorv::inverse(const ERLUDecomp& lu) {
  if (lu.isSingular()) return ERMatrix<double>();
  return solve(lu, IdentityMatrix(lu.rows()));
}

ERMatrix<double> qorv::IdentityMatrix(int n) { return ERMatrix<double>::identity(n); }
