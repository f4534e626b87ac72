// The costs of the free-form numerics, each against its peer where one exists (Eigen, when
// found at configure time: QORV_HAVE_EIGEN):
// - real roots in [0, 1] of 256 polynomials per degree 5..10 whose roots all lie in [0, 1] at
//   least 0.02 apart: Zeros against Eigen's PolynomialSolver (companion eigenvalues) plus the
//   selection of its real roots in range. Before timing, both are checked against the known
//   roots polished by Newton in binary128 on the very double coefficients: the counters
//   max_err and eigen_err are the largest distances, miss and eigen_miss the polynomials whose
//   root count differs;
// - LU factorisation and one solve, n = 3, 6, 12: ERLUDecomp + solve against Eigen's
//   PartialPivLU on MatrixXd, with the fixed-size Eigen matrix beside;
// - BasisFuns (into a buffer and as a vector) and DersBasisFuns, degrees 3 and 5.
// At the end the ratios qorv / Eigen of CPU time are printed (below 1: qorv faster); CPU time,
// because the machine that measures is often shared.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "qorv/freeform/knot_vector.h"
#include "qorv/freeform/lu_decomposition.h"
#include "qorv/freeform/polynomial.h"

#ifdef QORV_HAVE_EIGEN
#include <Eigen/Dense>
#include <unsupported/Eigen/Polynomials>

using namespace qorv;
#endif

using QuickAlgebra::ERMatrix;
using QuickAlgebra::ERVec;

namespace {

constexpr int kPolys = 256;

struct RootSet {
  std::vector<std::vector<double>> coeffs;  // c[0..d]
  std::vector<std::vector<double>> refs;    // sorted reference roots in [0, 1]
};

std::vector<double> polish(const std::vector<double>& c, const std::vector<double>& start) {
  std::vector<double> out;
  for (double r : start) {
    __float128 x = r;
    for (int it = 0; it < 60; ++it) {
      __float128 f = c.back(), df = 0;
      for (int i = int(c.size()) - 2; i >= 0; --i) df = df * x + f, f = f * x + c[i];
      if (df == 0) break;
      x -= f / df;
    }
    out.push_back(static_cast<double>(x));
  }
  return out;
}

const RootSet& rootSet(int degree) {
  static std::map<int, RootSet> sets;
  auto it = sets.find(degree);
  if (it != sets.end()) return it->second;
  RootSet s;
  std::mt19937_64 rng(5000 + degree);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  while (int(s.coeffs.size()) < kPolys) {
    std::vector<double> roots;
    while (int(roots.size()) < degree) {
      const double r = u(rng);
      bool ok = true;
      for (double q : roots) ok = ok && std::fabs(q - r) >= 0.02;
      if (ok) roots.push_back(r);
    }
    std::sort(roots.begin(), roots.end());
    std::vector<__float128> c{1};
    for (double r : roots) {
      std::vector<__float128> n(c.size() + 1, 0);
      for (std::size_t i = 0; i < c.size(); ++i) n[i + 1] += c[i], n[i] -= c[i] * r;
      c = n;
    }
    std::vector<double> cd(c.begin(), c.end());
    std::vector<double> ref = polish(cd, roots);
    bool inside = true;
    for (double r : ref) inside = inside && r >= 0 && r <= 1;
    if (!inside) continue;
    s.coeffs.push_back(cd);
    s.refs.push_back(ref);
  }
  return sets.emplace(degree, std::move(s)).first->second;
}

double compare(const std::vector<double>& got, const std::vector<double>& ref, int& miss) {
  if (got.size() != ref.size()) {
    ++miss;
    return 0.0;
  }
  double e = 0.0;
  for (std::size_t i = 0; i < got.size(); ++i) e = std::max(e, std::fabs(got[i] - ref[i]));
  return e;
}

void BM_ZerosQorv(benchmark::State& state) {
  const int d = int(state.range(0));
  const RootSet& s = rootSet(d);
  std::vector<ERPolynome> polys;
  for (const auto& c : s.coeffs) polys.emplace_back(c.data(), int(c.size()));
  double err = 0;
  int miss = 0;
  for (int i = 0; i < kPolys; ++i) {
    ERVec<double> r;
    qorv::Zeros(polys[i], ERLimites(0, 1), r);
    err = std::max(err, compare(std::vector<double>(r.begin(), r.end()), s.refs[i], miss));
  }
  ERVec<double> r;
  for (auto _ : state) {
    int total = 0;
    for (const ERPolynome& p : polys) total += qorv::Zeros(p, ERLimites(0, 1), r);
    benchmark::DoNotOptimize(total);
  }
  state.counters["max_err"] = err;
  state.counters["miss"] = miss;
  state.counters["per_poly_ns"] = benchmark::Counter(
      kPolys * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ZerosQorv)->DenseRange(5, 10);

#ifdef QORV_HAVE_EIGEN
std::vector<double> eigenRoots(Eigen::PolynomialSolver<double, Eigen::Dynamic>& solver,
                               const Eigen::VectorXd& c) {
  solver.compute(c);
  std::vector<double> all, in;
  solver.realRoots(all);
  for (double x : all)
    if (x >= 0 && x <= 1) in.push_back(x);
  std::sort(in.begin(), in.end());
  return in;
}

void BM_ZerosEigen(benchmark::State& state) {
  const int d = int(state.range(0));
  const RootSet& s = rootSet(d);
  std::vector<Eigen::VectorXd> polys;
  for (const auto& c : s.coeffs)
    polys.push_back(Eigen::Map<const Eigen::VectorXd>(c.data(), c.size()));
  Eigen::PolynomialSolver<double, Eigen::Dynamic> solver;
  double err = 0;
  int miss = 0;
  for (int i = 0; i < kPolys; ++i)
    err = std::max(err, compare(eigenRoots(solver, polys[i]), s.refs[i], miss));
  for (auto _ : state) {
    std::size_t total = 0;
    for (const auto& c : polys) total += eigenRoots(solver, c).size();
    benchmark::DoNotOptimize(total);
  }
  state.counters["eigen_err"] = err;
  state.counters["eigen_miss"] = miss;
  state.counters["per_poly_ns"] = benchmark::Counter(
      kPolys * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ZerosEigen)->DenseRange(5, 10);
#endif

// ---------------------------------------------------------------------------------------------
constexpr int kSystems = 64;

std::vector<std::vector<double>> systems(int n) {
  std::mt19937_64 rng(77 + n);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<std::vector<double>> out(kSystems, std::vector<double>(n * n + n));
  for (auto& m : out)
    for (double& v : m) v = u(rng);
  return out;
}

void BM_LUQorv(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<ERMatrix<double>> A;
  std::vector<ERVec<double>> b;
  for (const auto& m : systems(n)) {
    A.emplace_back(n, n, m.data());
    b.emplace_back(m.data() + n * n, n);
  }
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < kSystems; ++i) {
      const ERLUDecomp lu(A[i]);
      sum += qorv::solve(lu, b[i])[0];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["per_system_ns"] = benchmark::Counter(
      kSystems * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LUQorv)->Arg(3)->Arg(6)->Arg(12);

#ifdef QORV_HAVE_EIGEN
void BM_LUEigen(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<Eigen::MatrixXd> A;
  std::vector<Eigen::VectorXd> b;
  for (const auto& m : systems(n)) {
    A.push_back(
        Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(
            m.data(), n, n));
    b.push_back(Eigen::Map<const Eigen::VectorXd>(m.data() + n * n, n));
  }
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < kSystems; ++i) {
      const Eigen::PartialPivLU<Eigen::MatrixXd> lu(A[i]);
      const Eigen::VectorXd x = lu.solve(b[i]);
      sum += x[0];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["per_system_ns"] = benchmark::Counter(
      kSystems * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LUEigen)->Arg(3)->Arg(6)->Arg(12);

template <int N>
void BM_LUEigenFixed(benchmark::State& state) {
  using M = Eigen::Matrix<double, N, N>;
  using V = Eigen::Matrix<double, N, 1>;
  std::vector<M> A;
  std::vector<V> b;
  for (const auto& m : systems(N)) {
    A.push_back(
        Eigen::Map<const Eigen::Matrix<double, N, N, N == 1 ? Eigen::ColMajor : Eigen::RowMajor>>(
            m.data()));
    b.push_back(Eigen::Map<const V>(m.data() + N * N));
  }
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < kSystems; ++i) {
      const Eigen::PartialPivLU<M> lu(A[i]);
      const V x = lu.solve(b[i]);
      sum += x[0];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["per_system_ns"] = benchmark::Counter(
      kSystems * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK_TEMPLATE(BM_LUEigenFixed, 3);
BENCHMARK_TEMPLATE(BM_LUEigenFixed, 6);
BENCHMARK_TEMPLATE(BM_LUEigenFixed, 12);
#endif

// ---------------------------------------------------------------------------------------------
ERKnotVector benchKnots(int p) { return ERKnotVector(p, 20, ERLimites(0, 1)); }

std::vector<double> params() {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> v(1024);
  for (double& x : v) x = u(rng);
  return v;
}

void BM_BasisFunsBuffer(benchmark::State& state) {
  const ERKnotVector k = benchKnots(int(state.range(0)));
  const auto us = params();
  double N[16];
  for (auto _ : state) {
    double sum = 0;
    for (double u : us) {
      k.BasisFunsBuffer(k.FindSpan(u), u, N);
      sum += N[0];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["per_call_ns"] = benchmark::Counter(
      1024 * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BasisFunsBuffer)->Arg(3)->Arg(5);

void BM_BasisFuns(benchmark::State& state) {
  const ERKnotVector k = benchKnots(int(state.range(0)));
  const auto us = params();
  for (auto _ : state) {
    double sum = 0;
    for (double u : us) sum += k.BasisFuns(k.FindSpan(u), u)[0];
    benchmark::DoNotOptimize(sum);
  }
  state.counters["per_call_ns"] = benchmark::Counter(
      1024 * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BasisFuns)->Arg(3)->Arg(5);

void BM_DersBasisFuns(benchmark::State& state) {
  const int p = int(state.range(0));
  const ERKnotVector k = benchKnots(p);
  const auto us = params();
  for (auto _ : state) {
    double sum = 0;
    for (double u : us) sum += k.DersBasisFuns(k.FindSpan(u), u, 2)(1, 0);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["per_call_ns"] = benchmark::Counter(
      1024 * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DersBasisFuns)->Arg(3)->Arg(5);

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int d = 5; d <= 10; ++d)
    pairs.emplace_back("BM_ZerosQorv/" + std::to_string(d), "BM_ZerosEigen/" + std::to_string(d));
  for (int n : {3, 6, 12}) {
    pairs.emplace_back("BM_LUQorv/" + std::to_string(n), "BM_LUEigen/" + std::to_string(n));
    pairs.emplace_back("BM_LUQorv/" + std::to_string(n),
                       "BM_LUEigenFixed<" + std::to_string(n) + ">");
  }
  return qorv_bench::runWithRatios(argc, argv, std::move(pairs));
}
