// The disk B-tree with the object tree's shape (4-byte raw keys, order 10, minimum 10, a cache of
// 1000 nodes): insert, find and remove 100,000 keys in a seeded random order, every change
// written through to the file. The same keys in std::map give the in-memory scale.
// items_per_second is operations per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/scratch.h"
#include "qorv/persistence/btree.h"

namespace {

constexpr int kKeys = 100000;

std::string benchPath() { return qorv::bench::scratchPath("btree.bin"); }

// Identifiers 0..n-1 in a seeded random order: the insertion order, and a second order for
// finds and removals.
std::vector<std::int32_t> shuffled(std::uint32_t seed) {
  std::vector<std::int32_t> ids(kKeys);
  std::iota(ids.begin(), ids.end(), 0);
  std::mt19937 rng(seed);
  std::shuffle(ids.begin(), ids.end(), rng);
  return ids;
}

struct FileTree {
  explicit FileTree(const std::string& path) {
    std::remove(path.c_str());
    fm = std::make_unique<ERFileManager>(path.c_str(), 0);
    tree = std::make_unique<ERBTreeOnDisk>(fm.get(), 1000, ERBTreeOnDisk::createMode, 4, 1, -1, 10,
                                           10);
  }
  ~FileTree() {
    tree.reset();
    fm.reset();
  }
  void fill(const std::vector<std::int32_t>& ids) {
    for (const std::int32_t id : ids)
      tree->insertKeyAndValue(reinterpret_cast<const char*>(&id), id);
  }
  std::unique_ptr<ERFileManager> fm;
  std::unique_ptr<ERBTreeOnDisk> tree;
};

void BM_BTreeInsert(benchmark::State& state) {
  const std::vector<std::int32_t> ids = shuffled(1);
  const std::string path = benchPath();
  for (auto _ : state) {
    FileTree t(path);
    t.fill(ids);
    benchmark::DoNotOptimize(t.tree->entries());
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_BTreeFind(benchmark::State& state) {
  const std::vector<std::int32_t> ids = shuffled(1), probes = shuffled(2);
  const std::string path = benchPath();
  FileTree t(path);
  t.fill(ids);
  for (auto _ : state) {
    long sum = 0;
    for (const std::int32_t id : probes)
      sum += t.tree->findValue(reinterpret_cast<const char*>(&id));
    benchmark::DoNotOptimize(sum);
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_BTreeRemove(benchmark::State& state) {
  const std::vector<std::int32_t> ids = shuffled(1), order = shuffled(2);
  const std::string path = benchPath();
  for (auto _ : state) {
    state.PauseTiming();
    auto t = std::make_unique<FileTree>(path);
    t->fill(ids);
    state.ResumeTiming();
    for (const std::int32_t id : order) t->tree->remove(reinterpret_cast<const char*>(&id));
    benchmark::DoNotOptimize(t->tree->entries());
    state.PauseTiming();
    t.reset();
    state.ResumeTiming();
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_MapInsert(benchmark::State& state) {
  const std::vector<std::int32_t> ids = shuffled(1);
  for (auto _ : state) {
    std::map<std::int32_t, std::int32_t> m;
    for (const std::int32_t id : ids) m.emplace(id, id);
    benchmark::DoNotOptimize(m.size());
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_MapFind(benchmark::State& state) {
  const std::vector<std::int32_t> ids = shuffled(1), probes = shuffled(2);
  std::map<std::int32_t, std::int32_t> m;
  for (const std::int32_t id : ids) m.emplace(id, id);
  for (auto _ : state) {
    long sum = 0;
    for (const std::int32_t id : probes) sum += m.find(id)->second;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_MapRemove(benchmark::State& state) {
  const std::vector<std::int32_t> ids = shuffled(1), order = shuffled(2);
  for (auto _ : state) {
    state.PauseTiming();
    std::map<std::int32_t, std::int32_t> m;
    for (const std::int32_t id : ids) m.emplace(id, id);
    state.ResumeTiming();
    for (const std::int32_t id : order) m.erase(id);
    benchmark::DoNotOptimize(m.size());
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}

}  // namespace

BENCHMARK(BM_BTreeInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BTreeFind)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BTreeRemove)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapFind)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapRemove)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
