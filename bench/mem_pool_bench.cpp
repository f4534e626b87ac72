// Size-class pools against plain new/delete for 24-byte and 376-byte objects: one object at a
// time (allocate, release), and in batches of 1,000 live objects released in allocation order
// (as a list is emptied). The peers run in the same program, so the ratios compare like with
// like.
#include <benchmark/benchmark.h>

#include <vector>

#include "qorv/support/mem_pool.h"

namespace {

template <std::size_t N>
struct Plain {
  char bytes[N];
};
template <std::size_t N>
struct Pooled : ERMemoryPool {
  char bytes[N];
};

constexpr int kBatch = 1000;

template <class T>
void BM_OneAtATime(benchmark::State& state) {
  for (auto _ : state) {
    T* p = new T;
    benchmark::DoNotOptimize(p);
    delete p;
  }
}
BENCHMARK(BM_OneAtATime<Pooled<24>>)->Name("BM_PoolOneAtATime/24");
BENCHMARK(BM_OneAtATime<Plain<24>>)->Name("BM_NewDeleteOneAtATime/24");
BENCHMARK(BM_OneAtATime<Pooled<376>>)->Name("BM_PoolOneAtATime/376");
BENCHMARK(BM_OneAtATime<Plain<376>>)->Name("BM_NewDeleteOneAtATime/376");

template <class T>
void BM_Batch(benchmark::State& state) {
  std::vector<T*> live(kBatch);
  for (auto _ : state) {
    for (auto& p : live) {
      p = new T;
      benchmark::DoNotOptimize(p);
    }
    for (T* p : live) delete p;
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_Batch<Pooled<24>>)->Name("BM_PoolBatch/24");
BENCHMARK(BM_Batch<Plain<24>>)->Name("BM_NewDeleteBatch/24");
BENCHMARK(BM_Batch<Pooled<376>>)->Name("BM_PoolBatch/376");
BENCHMARK(BM_Batch<Plain<376>>)->Name("BM_NewDeleteBatch/376");

}  // namespace

BENCHMARK_MAIN();
