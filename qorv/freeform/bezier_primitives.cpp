#include "qorv/freeform/bezier_primitives.h"

#include <algorithm>
#include <vector>
#include "qorv/foundation/numerics.h"

using QuickAlgebra::ERVec;

namespace {

using Scratch = qorv::detail::StackBuffer<double, 128>;

// Collapses the N poles in w (in place) to one with one parameter per level:
// levels 0 .. split-1 use a, the others b.
void collapse(double* w, int N, int dim, double a, double b, int split) {
  for (int k = 1; k < N; ++k) {
    const double t = k <= split ? a : b;
    const double t1 = 1.0 - t;
    for (int j = 0; j < N - k; ++j)
      for (int d = 0; d < dim; ++d) w[j * dim + d] = t1 * w[j * dim + d] + t * w[(j + 1) * dim + d];
  }
}

}  // namespace

namespace qorv {

double Bernstein(int i, int n, double t) {
  if (n < 0 || i < 0 || i > n) return 0.0;
  Scratch s(static_cast<std::size_t>(n) + 1);
  double* b = s.get();
  std::fill(b, b + n + 1, 0.0);
  b[n - i] = 1.0;
  const double t1 = 1.0 - t;
  for (int k = 1; k <= n; ++k)
    for (int j = n; j >= k; --j) b[j] = t1 * b[j] + t * b[j - 1];
  return b[n];
}

ERVec<double> AllBernsteins(int n, double t) {
  if (n < 0) return ERVec<double>();
  ERVec<double> out(n + 1);
  double* b = out.data();
  b[0] = 1.0;
  const double t1 = 1.0 - t;
  for (int j = 1; j <= n; ++j) {
    double saved = 0.0;
    for (int k = 0; k < j; ++k) {
      const double tmp = b[k];
      b[k] = saved + t1 * tmp;
      saved = t * tmp;
    }
    b[j] = saved;
  }
  return out;
}

void Casteljau(const double* P, int N, double t, int dim, double* out) {
  if (N < 1 || dim < 1) return;
  const std::size_t n = static_cast<std::size_t>(N) * dim;
  Scratch s(n);
  double* w = s.get();
  std::copy(P, P + n, w);
  collapse(w, N, dim, t, t, N);
  std::copy(w, w + dim, out);
}

void CasteljauAll(const double* P, double* tri, int N, double t, int dim) {
  if (N < 1 || dim < 1) return;
  std::copy(P, P + static_cast<std::size_t>(N) * dim, tri);
  const double t1 = 1.0 - t;
  const double* prev = tri;
  double* cur = tri + static_cast<std::size_t>(N) * dim;
  for (int k = 1; k < N; ++k) {
    for (int j = 0; j < N - k; ++j)
      for (int d = 0; d < dim; ++d)
        cur[j * dim + d] = t1 * prev[j * dim + d] + t * prev[(j + 1) * dim + d];
    prev = cur;
    cur += static_cast<std::size_t>(N - k) * dim;
  }
}

void Hodographe(const double* P, double* Q, int N, int dim) {
  if (N < 2 || dim < 1) return;
  for (int i = 0; i + 1 < N; ++i)
    for (int d = 0; d < dim; ++d) Q[i * dim + d] = P[(i + 1) * dim + d] - P[i * dim + d];
}

void BezierIncreaseDegree(double* P, int N, int times, int dim) {
  if (N < 1 || dim < 1) return;
  for (int m = N; m < N + times; ++m) {
    // m poles become m + 1; from the top down so that P_{i-1} and P_i are still the old ones.
    for (int d = 0; d < dim; ++d) P[m * dim + d] = P[(m - 1) * dim + d];
    for (int i = m - 1; i >= 1; --i) {
      const double a = static_cast<double>(i) / m;
      for (int d = 0; d < dim; ++d)
        P[i * dim + d] = a * P[(i - 1) * dim + d] + (1.0 - a) * P[i * dim + d];
    }
  }
}

void RedefineDomain(double* P, int N, double a, double b, int dim) {
  if (N < 1 || dim < 1) return;
  const std::size_t n = static_cast<std::size_t>(N) * dim;
  Scratch s(2 * n);
  double* src = s.get();
  double* w = src + n;
  std::copy(P, P + n, src);
  // New pole k is the blossom at (a^(N-1-k), b^k).
  for (int k = 0; k < N; ++k) {
    std::copy(src, src + n, w);
    collapse(w, N, dim, a, b, N - 1 - k);
    std::copy(w, w + dim, P + static_cast<std::size_t>(k) * dim);
  }
}

void HodographeU(const double* P, double* Q, int Nu, int Nv, int dim) {
  if (Nu < 2 || Nv < 1 || dim < 1) return;
  for (int j = 0; j < Nv; ++j)
    Hodographe(P + static_cast<std::size_t>(j) * Nu * dim,
               Q + static_cast<std::size_t>(j) * (Nu - 1) * dim, Nu, dim);
}

void HodographeV(const double* P, double* Q, int Nu, int Nv, int dim) {
  if (Nu < 1 || Nv < 2 || dim < 1) return;
  const std::size_t row = static_cast<std::size_t>(Nu) * dim;
  for (std::size_t j = 0; j + 1 < static_cast<std::size_t>(Nv); ++j)
    for (std::size_t k = 0; k < row; ++k) Q[j * row + k] = P[(j + 1) * row + k] - P[j * row + k];
}

void RedefineDomainU(double* P, int Nu, int Nv, double a, double b, int dim) {
  if (Nu < 1 || Nv < 1 || dim < 1) return;
  for (int j = 0; j < Nv; ++j)
    RedefineDomain(P + static_cast<std::size_t>(j) * Nu * dim, Nu, a, b, dim);
}

void RedefineDomainV(double* P, int Nu, int Nv, double a, double b, int dim) {
  if (Nu < 1 || Nv < 1 || dim < 1) return;
  // Each column is a curve of Nv poles whose stride is a row: gathered, restricted, put back.
  const std::size_t row = static_cast<std::size_t>(Nu) * dim;
  Scratch s(static_cast<std::size_t>(Nv) * dim);
  double* col = s.get();
  for (int i = 0; i < Nu; ++i) {
    for (int j = 0; j < Nv; ++j)
      std::copy_n(P + j * row + static_cast<std::size_t>(i) * dim, dim, col + j * dim);
    RedefineDomain(col, Nv, a, b, dim);
    for (int j = 0; j < Nv; ++j)
      std::copy_n(col + j * dim, dim, P + j * row + static_cast<std::size_t>(i) * dim);
  }
}

void SpolyPatch2Pole(const double* C, int Nu, int Nv, int dim, double* P) {
  if (Nu < 1 || Nv < 1 || dim < 1) return;
  // In one direction of degree n: pole i = sum over k <= i of C(i, k) / C(n, k) c_k.
  auto convert = [](const double* c, std::size_t stride, int N, int dim, double* out, double* tmp) {
    const int n = N - 1;
    for (int i = 0; i < N; ++i)
      for (int d = 0; d < dim; ++d) {
        double sum = 0.0, ratio = 1.0;  // C(i, k) / C(n, k), from k = 0
        for (int k = 0; k <= i; ++k) {
          sum += ratio * c[k * stride + d];
          ratio *= static_cast<double>(i - k) / (n - k);
        }
        tmp[i * dim + d] = sum;
      }
    for (int i = 0; i < N; ++i)
      for (int d = 0; d < dim; ++d) out[i * stride + d] = tmp[i * dim + d];
  };
  const std::size_t row = static_cast<std::size_t>(Nu) * dim;
  Scratch s(static_cast<std::size_t>(std::max(Nu, Nv)) * dim);
  if (P != C) std::copy(C, C + row * Nv, P);
  for (int j = 0; j < Nv; ++j) convert(P + j * row, dim, Nu, dim, P + j * row, s.get());
  for (int i = 0; i < Nu; ++i)
    convert(P + static_cast<std::size_t>(i) * dim, row, Nv, dim,
            P + static_cast<std::size_t>(i) * dim, s.get());
}

void Horner(const double* C, int N, double t, int dim, double* out) {
  if (N < 1 || dim < 1) return;
  for (int d = 0; d < dim; ++d) {
    double r = C[(N - 1) * dim + d];
    for (int k = N - 2; k >= 0; --k) r = r * t + C[k * dim + d];
    out[d] = r;
  }
}

void HornerIsoU(const double* C, int Nu, int Nv, double u, int dim, double* out) {
  if (Nu < 1 || Nv < 1 || dim < 1) return;
  for (int j = 0; j < Nv; ++j)
    Horner(C + static_cast<std::size_t>(j) * Nu * dim, Nu, u, dim,
           out + static_cast<std::size_t>(j) * dim);
}

void HornerIsoV(const double* C, int Nu, int Nv, double v, int dim, double* out) {
  if (Nu < 1 || Nv < 1 || dim < 1) return;
  const std::size_t row = static_cast<std::size_t>(Nu) * dim;
  for (std::size_t k = 0; k < row; ++k) {
    double r = C[(Nv - 1) * row + k];
    for (int j = Nv - 2; j >= 0; --j) r = r * v + C[j * row + k];
    out[k] = r;
  }
}

void Horner(const double* C, int Nu, int Nv, double u, double v, int dim, double* out) {
  if (Nu < 1 || Nv < 1 || dim < 1) return;
  Scratch s(static_cast<std::size_t>(Nv) * dim);
  HornerIsoU(C, Nu, Nv, u, dim, s.get());
  Horner(s.get(), Nv, v, dim, out);
}

ERKnotVector BezierKnotVector(int degree, const ERLimites& range) {
  return ERKnotVector(degree < 0 ? 0 : degree, range);
}

}  // namespace qorv
