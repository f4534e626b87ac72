// Database objects and CAD identifiers:
// - set and read 1e6 properties over 1,000 objects;
// - store and re-create 100,000 database objects of four properties, one transaction, against
//   SQLite doing the same in the same run (a table of object, key, type, value; journal DELETE,
//   synchronous NORMAL on both sides);
// - hash and look up 1e6 identifiers in the identifier table against an unordered_set of their
//   texts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include <unistd.h>

#include "bench/scratch.h"
#include "qorv/qorv.h"
#ifdef QORV_HAVE_SQLITE
#include <sqlite3.h>
#endif

using qorv::siblings::utString;

namespace {

constexpr int kStored = 100000;

std::string benchPath(const char* name) { return qorv::bench::scratchPath(name); }

void BM_PropertiesSetAndRead(benchmark::State& state) {
  std::vector<ERDBObject> objects(1000);
  for (auto _ : state) {
    for (int i = 0; i < 1000000; ++i) {
      ERDBObject& o = objects[static_cast<std::size_t>(i % 1000)];
      const long key = i / 1000 % 50;
      o.property(key, i);
    }
    long sum = 0;
    for (int i = 0; i < 1000000; ++i) {
      const ERDBObject& o = objects[static_cast<std::size_t>(i % 1000)];
      if (const ERDBObjProperty* p = o.findProperty(i / 1000 % 50)) sum += static_cast<long>(*p);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 2000000);
}
BENCHMARK(BM_PropertiesSetAndRead)->Unit(benchmark::kMillisecond);

void BM_QorvStoreAndRecreate(benchmark::State& state) {
  const std::string path = benchPath("dbobj.qdb");
  for (auto _ : state) {
    std::remove(path.c_str());
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    db->setSynchronous(ERObjectDataBase::Synchronous::normal);
    db->Open(path.c_str(), 0);
    db->begin();
    std::vector<long> ids;
    ids.reserve(kStored);
    for (int i = 0; i < kStored; ++i) {
      ERDBObject o;
      o.name(("feature " + std::to_string(i)).c_str());
      o.color(i % 16);
      o.level(i % 7);
      o.property(100, 0.001 * i);
      ids.push_back(db->Store(o));
    }
    db->commit();
    db->Close();
    db->Open(path.c_str(), 1);
    long colours = 0;
    for (long id : ids) {
      t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
      if (const ERDBObject* d = ERDBObject::castdown(o.get())) colours += d->color();
    }
    benchmark::DoNotOptimize(colours);
    db->Close();
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * kStored);
}
BENCHMARK(BM_QorvStoreAndRecreate)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef QORV_HAVE_SQLITE
void BM_SqliteStoreAndRecreate(benchmark::State& state) {
  const std::string path = benchPath("dbobj.sqlite");
  for (auto _ : state) {
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db,
                 "CREATE TABLE props(object INTEGER, key INTEGER, type INTEGER, value, "
                 "PRIMARY KEY(object, key)) WITHOUT ROWID",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO props VALUES(?, ?, ?, ?)", -1, &insert, nullptr);
    auto put = [&](long object, int key, int type, auto bind) {
      sqlite3_bind_int64(insert, 1, object);
      sqlite3_bind_int(insert, 2, key);
      sqlite3_bind_int(insert, 3, type);
      bind(insert);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    };
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < kStored; ++i) {
      const std::string name = "feature " + std::to_string(i);
      put(i + 1, 3, 3, [&](sqlite3_stmt* s) {
        sqlite3_bind_text(s, 4, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
      });
      put(i + 1, 1, 1, [&](sqlite3_stmt* s) { sqlite3_bind_int(s, 4, i % 16); });
      put(i + 1, 2, 1, [&](sqlite3_stmt* s) { sqlite3_bind_int(s, 4, i % 7); });
      put(i + 1, 100, 2, [&](sqlite3_stmt* s) { sqlite3_bind_double(s, 4, 0.001 * i); });
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(insert);
    sqlite3_close(db);
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT key, type, value FROM props WHERE object = ?", -1, &select,
                       nullptr);
    // Every read in one transaction, as a careful user reads: one lock, one cache check.
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    long colours = 0;
    for (int i = 0; i < kStored; ++i) {
      // Re-create: every property of the object into a table, as the kernel does.
      ERDBObject o;
      sqlite3_bind_int64(select, 1, i + 1);
      while (sqlite3_step(select) == SQLITE_ROW) {
        const int key = sqlite3_column_int(select, 0);
        switch (sqlite3_column_int(select, 1)) {
          case 1: o.property(key, sqlite3_column_int(select, 2)); break;
          case 2: o.property(key, sqlite3_column_double(select, 2)); break;
          default:
            o.property(key, reinterpret_cast<const char*>(sqlite3_column_text(select, 2)));
        }
      }
      sqlite3_reset(select);
      colours += o.color();
    }
    benchmark::DoNotOptimize(colours);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(select);
    sqlite3_close(db);
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * kStored);
}
BENCHMARK(BM_SqliteStoreAndRecreate)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

std::vector<CADObjectID> identifiers() {
  std::vector<CADObjectID> ids;
  ids.reserve(1000000);
  for (std::uint32_t i = 0; i < 1000000; ++i) {
    if (i % 2 == 0) {
      ids.emplace_back(i, i % 97);
    } else {
      const std::string group = "body/shell " + std::to_string(i % 50);
      ids.emplace_back(i, utString(group.c_str()), utString("Face"), i % 97);
      ids.back().set_name_space(gmIDNameSpace(gmNSTypeName, "Model"));
    }
  }
  return ids;
}

void BM_IdentifierTable(benchmark::State& state) {
  const std::vector<CADObjectID> ids = identifiers();
  for (auto _ : state) {
    CADObjectIDzrkSurfPtrcoTable table;
    for (const CADObjectID& id : ids) table.insert(id, qorv::siblings::zrkSurfPtr());
    std::size_t found = 0;
    for (const CADObjectID& id : ids) found += table.contains(id) ? 1 : 0;
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * 2000000);
}
BENCHMARK(BM_IdentifierTable)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_StringSetOfTexts(benchmark::State& state) {
  const std::vector<CADObjectID> ids = identifiers();
  for (auto _ : state) {
    std::unordered_set<std::string> set;
    for (const CADObjectID& id : ids) set.insert(id.as_string(gmRepresentationDisplay));
    std::size_t found = 0;
    for (const CADObjectID& id : ids) found += set.count(id.as_string(gmRepresentationDisplay));
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * 2000000);
}
BENCHMARK(BM_StringSetOfTexts)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
