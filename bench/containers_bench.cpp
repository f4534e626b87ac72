// Short-lived vectors, as evaluation and projection code makes them: create (zero-filled) and
// destroy an ERVec<double> of n elements against std::vector<double>; the same with a write of
// every element and a copy; and a small matrix product. The peers run in the same program, so
// the ratios compare like with like.
#include <benchmark/benchmark.h>

#include <vector>

#include "qorv/support/quick_algebra.h"

using QuickAlgebra::ERMatrix;
using QuickAlgebra::ERVec;

namespace {

void sizes(benchmark::internal::Benchmark* b) {
  for (int n : {3, 4, 8, 16, 32, 64}) b->Arg(n);
}

void BM_ERVecCreateDestroy(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    ERVec<double> v(n);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_ERVecCreateDestroy)->Apply(sizes);

void BM_StdVectorCreateDestroy(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    std::vector<double> v(n);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_StdVectorCreateDestroy)->Apply(sizes);

// Fill, copy (a share for ERVec, a deep copy for std::vector), read back, destroy both.
void BM_ERVecFillCopy(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    ERVec<double> v(n);
    double* d = v.data();
    for (int i = 0; i < n; ++i) d[i] = i;
    const ERVec<double> c = v;
    benchmark::DoNotOptimize(c.data()[n - 1]);
  }
}
BENCHMARK(BM_ERVecFillCopy)->Apply(sizes);

void BM_StdVectorFillCopy(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<double>(i);
    const std::vector<double> c = v;
    benchmark::DoNotOptimize(c.data()[n - 1]);
  }
}
BENCHMARK(BM_StdVectorFillCopy)->Apply(sizes);

void BM_ERMatrixProduct3x3(benchmark::State& state) {
  ERMatrix<double> a = ERMatrix<double>::identity(3);
  a(0, 1) = 0.5;
  const ERMatrix<double> b = a.transpose();
  for (auto _ : state) {
    const ERMatrix<double> c = a * b;
    benchmark::DoNotOptimize(c.data());
  }
}
BENCHMARK(BM_ERMatrixProduct3x3);

}  // namespace

BENCHMARK_MAIN();
