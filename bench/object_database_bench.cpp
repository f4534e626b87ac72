// The object database against SQLite on the same work: 100,000 2D segments stored, retrieved by
// identifier in random order, half deleted and stored again, then the file size. Both sides with
// a rollback journal, synchronous NORMAL and a 64 MiB page cache. Arg 0: one transaction for each
// batch. Arg 1: one transaction per object (fewer objects: every commit syncs twice on both sides).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "bench/scratch.h"
#include "qorv/qorv.h"
#ifdef QORV_HAVE_SQLITE
#include "bench/sqlite_objects.h"
#endif

namespace {

constexpr int kObjects = 100000;
constexpr int kObjectsPerTransaction = 500;

int objectsFor(int perObject) { return perObject ? kObjectsPerTransaction : kObjects; }

// The stored objects: 2D segments, 32 bytes each after the class signature.
ERSegment2D segmentAt(double a, double b) { return ERSegment2D(ERPoint2D(a, b), ERPoint2D(b, a)); }

// In the run's scratch folder: journals and the peer's files go with it at exit.
std::string benchPath(const char* name) { return qorv::bench::scratchPath(name); }

long fileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::vector<long> shuffled(int n, unsigned seed) {
  std::vector<long> ids(static_cast<std::size_t>(n));
  std::iota(ids.begin(), ids.end(), 1L);
  std::shuffle(ids.begin(), ids.end(), std::mt19937(seed));
  return ids;
}

double secs(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void BM_QorvDataBase(benchmark::State& state) {
  const std::string path = benchPath("odb.qdb");
  const bool perObject = state.range(0) != 0;
  const int n = objectsFor(state.range(0));
  for (auto _ : state) {
    std::remove(path.c_str());
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    db->setSynchronous(ERObjectDataBase::Synchronous::normal);
    db->Open(path.c_str(), 0);
    std::vector<ERSegment2D> segments;
    segments.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) segments.push_back(segmentAt(i, -i));
    auto t0 = std::chrono::steady_clock::now();
    if (!perObject) db->begin();
    for (auto& s : segments) db->Store(s);
    if (!perObject) db->commit();
    auto t1 = std::chrono::steady_clock::now();
    // Read with the page cache as the stores left it, as the peer's are: a close and reopen
    // here would make qorv read every page again from the file, and the peer none.
    const long sizeAfterStore = fileSize(path);
    auto t2 = std::chrono::steady_clock::now();
    double check = 0;
    for (long id : shuffled(n, 7)) {
      t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
      check += ERSegment2D::castdown(o.get())->getP1().x();
    }
    auto t3 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(check);
    // Delete half, then store them again (new identifiers: they left the database).
    std::vector<long> ids = shuffled(n, 11);
    ids.resize(static_cast<std::size_t>(n / 2));
    if (!perObject) db->begin();
    for (long id : ids) db->Delete(id);
    for (long id : ids) {
      ERSegment2D s = segmentAt(static_cast<double>(id), 0);
      db->Store(s);
    }
    if (!perObject) db->commit();
    auto t4 = std::chrono::steady_clock::now();
    db->Close();
    state.counters["store/s"] = n / secs(t0, t1);
    state.counters["retrieve/s"] = n / secs(t2, t3);
    state.counters["del+store/s"] = n / secs(t3, t4);
    state.counters["bytes_after_store"] = static_cast<double>(sizeAfterStore);
    state.counters["bytes_at_end"] = static_cast<double>(fileSize(path));
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_QorvDataBase)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

#ifdef QORV_HAVE_SQLITE
void BM_SqliteSameWork(benchmark::State& state) {
  const std::string path = benchPath("peer.sqlite");
  const bool perObject = state.range(0) != 0;
  const int n = objectsFor(state.range(0));
  for (auto _ : state) {
    std::remove(path.c_str());
    qorv::bench::SqliteObjects db(path);
    auto exec = [&](const char* sql) {
      if (!perObject) db.exec(sql);
    };
    auto t0 = std::chrono::steady_clock::now();
    exec("BEGIN");
    for (int i = 0; i < n; ++i) db.store(i + 1, i, -i);
    exec("COMMIT");
    auto t1 = std::chrono::steady_clock::now();
    const long sizeAfterStore = fileSize(path);
    auto t2 = std::chrono::steady_clock::now();
    double check = 0;
    exec("BEGIN");
    for (long id : shuffled(n, 7)) check += db.fetch(id);
    exec("COMMIT");
    auto t3 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(check);
    std::vector<long> ids = shuffled(n, 11);
    ids.resize(static_cast<std::size_t>(n / 2));
    exec("BEGIN");
    for (long id : ids) db.erase(id);
    long next = n + 1;
    for (long id : ids) db.store(next++, static_cast<double>(id), 0);
    exec("COMMIT");
    auto t4 = std::chrono::steady_clock::now();
    state.counters["store/s"] = n / secs(t0, t1);
    state.counters["retrieve/s"] = n / secs(t2, t3);
    state.counters["del+store/s"] = n / secs(t3, t4);
    state.counters["bytes_after_store"] = static_cast<double>(sizeAfterStore);
    state.counters["bytes_at_end"] = static_cast<double>(fileSize(path));
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_SqliteSameWork)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
#endif

}  // namespace

BENCHMARK_MAIN();
