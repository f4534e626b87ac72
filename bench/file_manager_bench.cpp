// The block heap under a mixed load: 100,000 allocate/deallocate operations of 16 to 512 bytes
// on a fresh file, the same seeded sequence every iteration. items_per_second is operations per
// second, every change written through to the file as the heap requires.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/scratch.h"
#include "qorv/persistence/file_manager.h"

namespace {

constexpr int kOperations = 100000;

std::string benchPath() { return qorv::bench::scratchPath("heap.bin"); }

// One operation: a size to allocate, or (size 0) the index among live blocks of one to free.
struct Op {
  std::uint32_t size;
  std::uint32_t pick;
};

// Allocation-biased until `cap` blocks live, then balanced, so the free list is busy.
std::vector<Op> makeOps(std::uint32_t seed, std::size_t cap) {
  std::mt19937 rng(seed);
  std::vector<Op> ops;
  std::size_t live = 0;
  for (int i = 0; i < kOperations; ++i) {
    const bool allocate = live == 0 || rng() % 100 < (live < cap ? 70u : 50u);
    if (allocate) {
      ops.push_back({16 + static_cast<std::uint32_t>(rng() % 497), 0});
      ++live;
    } else {
      ops.push_back({0, static_cast<std::uint32_t>(rng())});
      --live;
    }
  }
  return ops;
}

void BM_FileManagerMixed(benchmark::State& state) {
  const std::vector<Op> ops = makeOps(42, static_cast<std::size_t>(state.range(0)));
  const std::string path = benchPath();
  std::vector<long> live;
  live.reserve(kOperations);
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(path.c_str());
    live.clear();
    state.ResumeTiming();
    ERFileManager fm(path.c_str(), 0);
    for (const Op& op : ops) {
      if (op.size != 0) {
        live.push_back(fm.allocate(op.size));
      } else {
        const std::size_t k = op.pick % live.size();
        fm.deallocate(live[k]);
        live[k] = live.back();
        live.pop_back();
      }
    }
    benchmark::DoNotOptimize(fm.endData());
    state.counters["endData"] = static_cast<double>(fm.endData());
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * kOperations);
}

}  // namespace

// Argument: the number of live blocks the load settles around.
BENCHMARK(BM_FileManagerMixed)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
