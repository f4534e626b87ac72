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
#include <sqlite3.h>
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
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = cpu();
    db->begin();
    for (auto& s : segments) db->Store(s);
    db->commit();
    const auto t1 = std::chrono::steady_clock::now();
    const double c1 = cpu();
    segments.clear();
    segments.shrink_to_fit();
    std::vector<long> ids(static_cast<std::size_t>(n));
    std::iota(ids.begin(), ids.end(), 1L);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
    double check = 0;
    const auto t2 = std::chrono::steady_clock::now();
    const double c2 = cpu();
    for (long id : ids) {
      t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
      check += ERSegment2D::castdown(o.get())->getP1().x();
    }
    const auto t3 = std::chrono::steady_clock::now();
    const double c3 = cpu();
    benchmark::DoNotOptimize(check);
    const int half = n / 2;
    db->begin();
    for (int i = 0; i < half; ++i) db->Delete(ids[static_cast<std::size_t>(i)]);
    db->commit();
    const auto t4 = std::chrono::steady_clock::now();
    const double c4 = cpu();
    db->Close();
    const long extents = freeExtents(path);
    db->Open(path.c_str(), 0);
    const auto t5 = std::chrono::steady_clock::now();
    const double c5 = cpu();
    db->begin();
    for (int i = 0; i < half; ++i) {
      ERSegment2D s(ERPoint2D(i, 1), ERPoint2D(1, i));
      db->Store(s);
    }
    db->commit();
    const auto t6 = std::chrono::steady_clock::now();
    const double c6 = cpu();
    db->Close();
    state.counters["store_us"] = secs(t0, t1) / n * 1e6;
    state.counters["retrieve_us"] = secs(t2, t3) / n * 1e6;
    state.counters["delete_us"] = secs(t3, t4) / half * 1e6;
    state.counters["store_again_us"] = secs(t5, t6) / half * 1e6;
    state.counters["store_cpu"] = (c1 - c0) / n * 1e6;
    state.counters["retrieve_cpu"] = (c3 - c2) / n * 1e6;
    state.counters["delete_cpu"] = (c4 - c3) / half * 1e6;
    state.counters["store_again_cpu"] = (c6 - c5) / half * 1e6;
    state.counters["free_extents"] = static_cast<double>(extents);
    state.counters["bytes"] = static_cast<double>(fileSize(path));
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_QorvDataBaseScale)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Arg(3000000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

#ifdef QORV_HAVE_SQLITE
void BM_SqliteScale(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string path = qorv::bench::scratchPath("scale.sqlite");
  for (auto _ : state) {
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    auto exec = [&](const char* sql) { sqlite3_exec(db, sql, nullptr, nullptr, nullptr); };
    exec("PRAGMA journal_mode=DELETE");
    exec("PRAGMA synchronous=NORMAL");
    exec("PRAGMA cache_size=-65536");
    exec("CREATE TABLE objects(id INTEGER PRIMARY KEY, rec BLOB)");
    sqlite3_stmt *insert = nullptr, *select = nullptr, *erase = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO objects VALUES(?, ?)", -1, &insert, nullptr);
    sqlite3_prepare_v2(db, "SELECT rec FROM objects WHERE id = ?", -1, &select, nullptr);
    sqlite3_prepare_v2(db, "DELETE FROM objects WHERE id = ?", -1, &erase, nullptr);
    // The record qorv stores: a 4-byte signature and two points.
    auto store = [&](long id, double a, double b) {
      unsigned char rec[36] = {1, 0, 0, 0};
      const double p[4] = {a, b, b, a};
      std::memcpy(rec + 4, p, 32);
      sqlite3_bind_int64(insert, 1, id);
      sqlite3_bind_blob(insert, 2, rec, sizeof rec, SQLITE_STATIC);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    };
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = cpu();
    exec("BEGIN");
    for (int i = 0; i < n; ++i) store(i + 1, i, -i);
    exec("COMMIT");
    const auto t1 = std::chrono::steady_clock::now();
    const double c1 = cpu();
    std::vector<long> ids(static_cast<std::size_t>(n));
    std::iota(ids.begin(), ids.end(), 1L);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
    double check = 0;
    exec("BEGIN");
    for (long id : ids) {
      sqlite3_bind_int64(select, 1, id);
      if (sqlite3_step(select) == SQLITE_ROW) {
        double p[4];
        std::memcpy(p, static_cast<const unsigned char*>(sqlite3_column_blob(select, 0)) + 4, 32);
        check += p[0];
      }
      sqlite3_reset(select);
    }
    exec("COMMIT");
    const auto t2 = std::chrono::steady_clock::now();
    const double c2 = cpu();
    benchmark::DoNotOptimize(check);
    const int half = n / 2;
    exec("BEGIN");
    for (int i = 0; i < half; ++i) {
      sqlite3_bind_int64(erase, 1, ids[static_cast<std::size_t>(i)]);
      sqlite3_step(erase);
      sqlite3_reset(erase);
    }
    exec("COMMIT");
    const auto t3 = std::chrono::steady_clock::now();
    const double c3 = cpu();
    exec("BEGIN");
    for (int i = 0; i < half; ++i) store(n + 1 + i, i, 1);
    exec("COMMIT");
    const auto t4 = std::chrono::steady_clock::now();
    const double c4 = cpu();
    sqlite3_finalize(insert);
    sqlite3_finalize(select);
    sqlite3_finalize(erase);
    sqlite3_close(db);
    state.counters["store_us"] = secs(t0, t1) / n * 1e6;
    state.counters["retrieve_us"] = secs(t1, t2) / n * 1e6;
    state.counters["delete_us"] = secs(t2, t3) / half * 1e6;
    state.counters["store_again_us"] = secs(t3, t4) / half * 1e6;
    state.counters["store_cpu"] = (c1 - c0) / n * 1e6;
    state.counters["retrieve_cpu"] = (c2 - c1) / n * 1e6;
    state.counters["delete_cpu"] = (c3 - c2) / half * 1e6;
    state.counters["store_again_cpu"] = (c4 - c3) / half * 1e6;
    state.counters["bytes"] = static_cast<double>(fileSize(path));
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_SqliteScale)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Arg(3000000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
#endif

}  // namespace

BENCHMARK_MAIN();
