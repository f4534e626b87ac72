// Target points: build, compensate and store 100,000 of them in one transaction, close, then
// retrieve them all (objects per second), against SQLite storing the same 125-byte records in
// the same run (journal DELETE, synchronous NORMAL on both sides); and compensation with the
// three distances alone, per point.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/scratch.h"
#include "qorv/qorv.h"
#ifdef QORV_HAVE_SQLITE
#include <sqlite3.h>
#endif

namespace {

constexpr int kPoints = 100000;

std::string benchPath(const char* name) { return qorv::bench::scratchPath(name); }

// Probe hits on a bore of radius 10 about the z axis, measured 0.01 oversize.
struct Hit {
  ERPoint3D target, centre;
  ERVector3D normal;
};
std::vector<Hit> hits(int n) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Hit> out;
  out.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double t = 6.283185307179586 * u(rng), z = 20 * u(rng);
    const ERVector3D radial(std::cos(t), std::sin(t), 0);
    out.push_back({ERPoint3D(10 * radial.x(), 10 * radial.y(), z),
                   ERPoint3D(9.01 * radial.x(), 9.01 * radial.y(), z), -1.0 * radial});
  }
  return out;
}

void BM_CompensateAndMeasure(benchmark::State& state) {
  const std::vector<Hit> h = hits(4096);
  std::size_t i = 0;
  double sum = 0;
  for (auto _ : state) {
    const Hit& x = h[i++ & 4095];
    const gmTargetPoint t(x.target, ERCMMPointWithDiameter(x.centre, x.normal, 2.0, 1), x.normal);
    double a = 0, b = 0;
    t.get_distance_to_plane(a);
    t.get_distance_on_plane(b);
    sum += a + b + t.distance_to_point();
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_CompensateAndMeasure);

void BM_QorvStoreAndRetrieve(benchmark::State& state) {
  const std::string path = benchPath("targets.qdb");
  const std::vector<Hit> h = hits(kPoints);
  for (auto _ : state) {
    std::remove(path.c_str());
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    db->setSynchronous(ERObjectDataBase::Synchronous::normal);
    db->Open(path.c_str(), 0);
    db->begin();
    for (int i = 0; i < kPoints; ++i) {
      const Hit& x = h[static_cast<std::size_t>(i)];
      gmTargetPoint t(x.target, ERCMMPointWithDiameter(x.centre, x.normal, 2.0, i), x.normal);
      db->Store(t);
    }
    db->commit();
    db->Close();
    db->Open(path.c_str(), 1);
    double sum = 0;
    for (long id = 1; id <= kPoints; ++id) {
      t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
      if (const gmTargetPoint* t = gmTargetPoint::castdown(o.get())) sum += t->acceptance_distance();
    }
    benchmark::DoNotOptimize(sum);
    db->Close();
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_QorvStoreAndRetrieve)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef QORV_HAVE_SQLITE
void BM_SqliteStoreAndRetrieve(benchmark::State& state) {
  const std::string path = benchPath("targets.sqlite");
  const std::vector<Hit> h = hits(kPoints);
  for (auto _ : state) {
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "CREATE TABLE targets(id INTEGER PRIMARY KEY, rec BLOB)", nullptr, nullptr,
                 nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO targets VALUES(?, ?)", -1, &insert, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < kPoints; ++i) {
      // The same work before the write: build and compensate, then the 125-byte record.
      const Hit& x = h[static_cast<std::size_t>(i)];
      const gmTargetPoint t(x.target, ERCMMPointWithDiameter(x.centre, x.normal, 2.0, i), x.normal);
      unsigned char rec[125];
      rec[0] = 1;
      const ERPoint3D pts[] = {t.target_point(), t.measured_point().probe_center(),
                               t.measured_point().pretouch_point(), t.calculated_point()};
      std::memcpy(rec + 1, pts[0].data(), 24);
      std::int32_t id = i;
      std::memcpy(rec + 25, &id, 4);
      std::memcpy(rec + 29, pts[1].data(), 24);
      std::memcpy(rec + 53, pts[2].data(), 24);
      std::memcpy(rec + 77, pts[3].data(), 24);
      std::memcpy(rec + 101, x.normal.data(), 24);
      sqlite3_bind_int64(insert, 1, i + 1);
      sqlite3_bind_blob(insert, 2, rec, sizeof rec, SQLITE_STATIC);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(insert);
    sqlite3_close(db);
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT rec FROM targets WHERE id = ?", -1, &select, nullptr);
    // Every read in one transaction, as a careful user reads: one lock, one cache check.
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    double sum = 0;
    for (long id = 1; id <= kPoints; ++id) {
      sqlite3_bind_int64(select, 1, id);
      if (sqlite3_step(select) == SQLITE_ROW) {
        // Re-create the object from its record, as the database does.
        const auto* rec = static_cast<const unsigned char*>(sqlite3_column_blob(select, 0));
        double v[15];
        std::memcpy(v, rec + 1, 24);
        std::memcpy(v + 3, rec + 29, 72);
        std::memcpy(v + 12, rec + 101, 24);
        const ERVector3D n(v[12], v[13], v[14]);
        const gmTargetPoint t(ERPoint3D(v[0], v[1], v[2]),
                              ERCMMPointWithDiameter(ERPoint3D(v[3], v[4], v[5]),
                                                     ERPoint3D(v[6], v[7], v[8]), 0.0, 0),
                              n);
        sum += t.acceptance_distance();
      }
      sqlite3_reset(select);
    }
    benchmark::DoNotOptimize(sum);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(select);
    sqlite3_close(db);
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_SqliteStoreAndRetrieve)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace

BENCHMARK_MAIN();
