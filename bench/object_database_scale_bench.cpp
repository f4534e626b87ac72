// The object database as it grows: 2D segments stored in one transaction, retrieved by
// identifier in random order, half of them deleted in one transaction and as many stored again in
// another, at 10^4, 10^5, 10^6 and 3·10^6 objects. Each phase reports its cost per object (us), so
// that the sizes compare directly; free_extents is the length of the free list after the deletion
// (the index of the block heap's free list must keep up with it); each phase's processor time
// per object (*_cpu, us) beside it, which the disk and other work on the machine sway less.
// Synchronous normal, as the comparison with SQLite in object_database_bench. SQLite does the same
// work at each size beside it (same 64 MiB page cache, reads in one transaction): how much of a
// phase's rise with the size is the memory hierarchy's, which any store of that size pays.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "bench/scratch.h"
#include "qorv/qorv.h"
#ifdef QORV_HAVE_SQLITE
#include "bench/sqlite_objects.h"
#endif

namespace {

double secs(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Processor time of the process (s): apart from the disk and from other work on the machine.
double cpu() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The free extents of a closed file: its free-list ring walked from the root node.
long freeExtents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  long extents = 0;
  std::int64_t at = ERFileManager::kRootOffset;
  for (long nodes = 0; nodes < 10000000; ++nodes) {
    ERFreeListNode node;
    in.seekg(at);
    if (!in.read(reinterpret_cast<char*>(&node), sizeof node)) return -1;
    extents += node.count;
    if (node.next == ERFileManager::kRootOffset) return extents;
    at = node.next;
  }
  return -1;
}

long fileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// Both sides at each size, once each (a run at 3·10^6 takes minutes).
void sizes(benchmark::internal::Benchmark* b) {
  for (long n : {10000L, 100000L, 1000000L, 3000000L}) b->Arg(n);
  b->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

// The wall and processor clocks at the ends of the four phases: store, retrieve, delete half,
// store again. Each phase's cost per object is its span over the objects it handled.
struct Phases {
  std::chrono::steady_clock::time_point wall[8];
  double processor[8] = {};
  void mark(int i) {
    wall[i] = std::chrono::steady_clock::now();
    processor[i] = cpu();
  }
  void report(benchmark::State& state, int n) const {
    const char* names[] = {"store", "retrieve", "delete", "store_again"};
    const double objects[] = {double(n), double(n), double(n / 2), double(n / 2)};
    for (int k = 0; k < 4; ++k) {
      const std::string name = names[k];
      state.counters[name + "_us"] = secs(wall[2 * k], wall[2 * k + 1]) / objects[k] * 1e6;
      state.counters[name + "_cpu"] = (processor[2 * k + 1] - processor[2 * k]) / objects[k] * 1e6;
    }
  }
};

void BM_QorvDataBaseScale(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string path = qorv::bench::scratchPath("scale.qdb");
  for (auto _ : state) {
    std::remove(path.c_str());
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    db->setSynchronous(ERObjectDataBase::Synchronous::normal);
    db->Open(path.c_str(), 0);
    std::vector<ERSegment2D> segments;
    segments.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) segments.emplace_back(ERPoint2D(i, -i), ERPoint2D(-i, i));
    Phases at;
    at.mark(0);
    db->begin();
    for (auto& s : segments) db->Store(s);
    db->commit();
    at.mark(1);
    segments.clear();
    segments.shrink_to_fit();
    std::vector<long> ids(static_cast<std::size_t>(n));
    std::iota(ids.begin(), ids.end(), 1L);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
    double check = 0;
    at.mark(2);
    for (long id : ids) {
      t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
      check += ERSegment2D::castdown(o.get())->getP1().x();
    }
    at.mark(3);
    benchmark::DoNotOptimize(check);
    const int half = n / 2;
    at.mark(4);
    db->begin();
    for (int i = 0; i < half; ++i) db->Delete(ids[static_cast<std::size_t>(i)]);
    db->commit();
    at.mark(5);
    db->Close();
    const long extents = freeExtents(path);
    db->Open(path.c_str(), 0);
    at.mark(6);
    db->begin();
    for (int i = 0; i < half; ++i) {
      ERSegment2D s(ERPoint2D(i, 1), ERPoint2D(1, i));
      db->Store(s);
    }
    db->commit();
    at.mark(7);
    db->Close();
    at.report(state, n);
    state.counters["free_extents"] = static_cast<double>(extents);
    state.counters["bytes"] = static_cast<double>(fileSize(path));
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_QorvDataBaseScale)->Apply(sizes);

#ifdef QORV_HAVE_SQLITE
void BM_SqliteScale(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string path = qorv::bench::scratchPath("scale.sqlite");
  for (auto _ : state) {
    std::remove(path.c_str());
    qorv::bench::SqliteObjects db(path);
    Phases at;
    at.mark(0);
    db.exec("BEGIN");
    for (int i = 0; i < n; ++i) db.store(i + 1, i, -i);
    db.exec("COMMIT");
    at.mark(1);
    std::vector<long> ids(static_cast<std::size_t>(n));
    std::iota(ids.begin(), ids.end(), 1L);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
    double check = 0;
    at.mark(2);
    db.exec("BEGIN");
    for (long id : ids) check += db.fetch(id);
    db.exec("COMMIT");
    at.mark(3);
    benchmark::DoNotOptimize(check);
    const int half = n / 2;
    at.mark(4);
    db.exec("BEGIN");
    for (int i = 0; i < half; ++i) db.erase(ids[static_cast<std::size_t>(i)]);
    db.exec("COMMIT");
    at.mark(5);
    at.mark(6);
    db.exec("BEGIN");
    for (int i = 0; i < half; ++i) db.store(n + 1 + i, i, 1);
    db.exec("COMMIT");
    at.mark(7);
    at.report(state, n);
    state.counters["bytes"] = static_cast<double>(fileSize(path));
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_SqliteScale)->Apply(sizes);
#endif

}  // namespace

BENCHMARK_MAIN();
