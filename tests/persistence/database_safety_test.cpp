// The database under damage, misuse and failing disks: truncation at every byte, every header
// word damaged, a class that writes more than it announced, identifiers out of range, empty
// files, failed creations, failed and torn writes, a journal left by a killed writer.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <map>
#include <random>

#include "qorv/persistence/database.h"
#include "qorv/persistence/file_manager.h"
#include "qorv/persistence/object_database.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/persistence/safety_classes.h"
#include "tests/persistence/test_files.h"
#include "tests/test_seed.h"

using namespace qorv::platform;

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::TempFile, qorv_test::TPair;
using qorv_test::TValue;

using qorv_test::contents;
const auto writeBytes = qorv_test::writeFreshBytes;

namespace qorv_test {
QORV_DEFINE_CLASS(TValue);
QORV_DEFINE_CLASS(TPair);
}  // namespace qorv_test

namespace {

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

// A small database: values 1..6, a pair referring to value 2, value 3 deleted, 4 re-stored.
std::map<long, double> makeSmall(const std::string& path) {
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  EXPECT_EQ(db->Open(path.c_str(), 0), 1);
  std::vector<t_SmartPtr<TValue>> values;
  for (int i = 1; i <= 6; ++i) {
    values.emplace_back(new TValue(i * 1.5, i));
    db->Store(*values.back());
  }
  t_SmartPtr<TPair> pair(new TPair);
  pair->first = values[1];
  pair->second = 0.25;
  db->Store(*pair);
  db->Delete(3);
  values[3]->value = 99;
  db->Store(*values[3]);
  std::map<long, double> expected = contents(*db);
  db->Close();
  return expected;
}

// Opened read-only: refused, or every object that comes back is the one stored.
void expectNothingWrong(const std::string& path, const std::map<long, double>& expected) {
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  try {
    if (!db->Open(path.c_str(), 1)) return;
    for (const auto& [id, value] : expected) {
      t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
      if (!o) continue;
      const TValue* v = TValue::castdown(o.get());
      const TPair* p = TPair::castdown(o.get());
      const double got = v ? v->value : (p && p->first) ? p->first->value + p->second : -1;
      EXPECT_EQ(got, value) << "object " << id;
    }
  } catch (CFileException& e) {
  }
}

}  // namespace

TEST(DataBaseCheck, SoundFilesHaveNoProblemsAndCountersReachTheFileAtOnce) {
  TempFile file("safety_sound");
  const std::map<long, double> expected = makeSmall(file.path);
  EXPECT_EQ(joined(ERObjectDataBase::check(file.c_str())), "");
  {
    ERDataBase facade;
    TempFile f2("safety_facade");
    ASSERT_EQ(facade.Open(f2.c_str(), 0), gmSuccess);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(facade.save(new TValue(i)), gmSuccess);
    facade.Close();
    EXPECT_EQ(joined(ERObjectDataBase::check(f2.c_str())), "");
  }
  // The counters are in the file without Close: a second reader sees them.
  auto db = qorv_test::openedDb(file.c_str(), 0);
  TValue v(7);
  const long id = db->Store(v);
  EXPECT_EQ(id, 8);
  const Bytes now = readBytes(file.path);
  std::uint32_t start, lastId;
  std::memcpy(&start, now.data(), 4);
  std::memcpy(&lastId, now.data() + start + 12, 4);
  EXPECT_EQ((Seq{lastId, joined(db->check())}), (Seq{8u, ""}));
}

TEST(DataBaseDamage, TruncationAtEveryByteNeverGivesAWrongObject) {
  TempFile file("safety_trunc"), copy("safety_trunc_copy");
  const std::map<long, double> expected = makeSmall(file.path);
  const Bytes good = readBytes(file.path);
  for (std::size_t n = 0; n < good.size(); ++n) {
    SCOPED_TRACE(n);
    const Bytes cut(good.begin(), good.begin() + static_cast<long>(n));
    writeBytes(copy.path, cut);
    expectNothingWrong(copy.path, expected);
    // A writer either refuses without a byte changed or makes it a sound database.
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    try {
      if (db->Open(copy.c_str(), 0)) {
        // Up to 3 bytes short is how a file whose last record does not fill its block ends:
        // the cut record reads short (checked above), nothing else is lost.
        const bool padding = good.size() - n <= 3;
        EXPECT_TRUE(n == 0 || padding || db->created()) << "a cut file was taken for a database";
        db->Close();
        if (!padding) {
          EXPECT_EQ(joined(ERObjectDataBase::check(copy.c_str())), "");
        }
      } else {
        EXPECT_TRUE(readBytes(copy.path) == cut);
      }
    } catch (CFileException& e) {
    }
  }
}

TEST(DataBaseDamage, EveryHeaderWordDamagedOpenedReadWrite) {
  TempFile file("safety_words"), copy("safety_words_copy");
  const std::map<long, double> expected = makeSmall(file.path);
  const Bytes good = readBytes(file.path);
  std::uint32_t start;
  std::memcpy(&start, good.data(), 4);
  std::int32_t header[6];
  std::memcpy(header, good.data() + start, 24);
  // The container header, the root free-list node, the database header, both tree infos.
  std::vector<std::size_t> words;
  for (std::size_t at = 0; at < 280; at += 4) words.push_back(at);
  for (std::size_t at = start; at < start + 24; at += 4) words.push_back(at);
  for (int t : {1, 2})
    for (std::size_t at = header[t]; at < static_cast<std::size_t>(header[t]) + 40; at += 4)
      words.push_back(at);
  const std::uint32_t kinds[] = {0u, 0xFFFFFFFFu, 0x7FFFFFFFu};
  int refused = 0, opened = 0;
  for (std::size_t at : words) {
    std::uint32_t was;
    std::memcpy(&was, good.data() + at, 4);
    std::vector<std::uint32_t> values(std::begin(kinds), std::end(kinds));
    for (std::uint32_t d : {4u, 280u}) {
      values.push_back(was + d);
      values.push_back(was - d);
    }
    values.push_back(was ^ 0x00010000u);
    for (std::uint32_t v : values) {
      if (v == was) continue;
      SCOPED_TRACE(testing::Message() << "word at " << at << " = " << v);
      Bytes bad = good;
      std::memcpy(bad.data() + at, &v, 4);
      writeBytes(copy.path, bad);
      t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
      db->setSynchronous(ERObjectDataBase::Synchronous::off);
      try {
        if (!db->Open(copy.c_str(), 0)) {
          ++refused;
          EXPECT_TRUE(readBytes(copy.path) == bad) << "a refused opening wrote to the file";
          continue;
        }
      } catch (CFileException& e) {
        EXPECT_TRUE(readBytes(copy.path) == bad);
        continue;
      }
      ++opened;
      // Taken: then it is sound enough to work on, and what it held is still there.
      TValue a(1e6), b(2e6);
      try {
        db->begin();
        db->Store(a);
        db->Store(b);
        db->Delete(a.getObjectID());
        db->commit();
      } catch (CFileException& e) {
      }
      try {
        db->Close();
      } catch (CFileException& e) {
      }
      EXPECT_EQ(joined(ERObjectDataBase::check(copy.c_str())), "");
      expectNothingWrong(copy.path, expected);
    }
  }
  EXPECT_GT(refused, 50);
  EXPECT_GT(opened, 10);
}

TEST(DataBaseDamage, ARecordCutShortOrPointingElsewhereIsNull) {
  TempFile file("safety_record");
  makeSmall(file.path);
  long offset = -1;
  {
    auto db = qorv_test::openedDb(file.c_str(), 1);
    db->forEachObject([&](long id, long at) {
      if (id == 2) offset = at;
    });
  }
  Bytes b = readBytes(file.path);
  const std::uint32_t small = 8;  // a block with room for the signature alone
  std::memcpy(b.data() + offset - 4, &small, 4);
  writeBytes(file.path, b);
  auto db = qorv_test::openedDb(file.c_str(), 1);
  EXPECT_FALSE(db->RetrieveAndCreate(2));
  TValue into;
  EXPECT_EQ(db->Retrieve(2, into), 0);
  // The pair refers to object 2: it cannot come back whole either.
  EXPECT_FALSE(db->RetrieveAndCreate(7));
  EXPECT_TRUE(db->RetrieveAndCreate(1));
  EXPECT_NE(joined(db->check()), "");
  db->Close();
  EXPECT_NE(joined(ERObjectDataBase::check(file.c_str())), "");
}

TEST(DataBaseMisuse, AClassWritingMoreThanItAnnouncesIsRefused) {
  TempFile file("safety_liar");
  auto db = qorv_test::openedDb(file.c_str(), 0);
  TValue first(1);
  db->Store(first);
  const Bytes before = readBytes(file.path);
  TValue liar(2);
  liar.extra = 12;
  EXPECT_EQ((Seq{liar.Save(db.get()), liar.getObjectID()}), (Seq{0, -1}));
  EXPECT_TRUE(readBytes(file.path) == before);
  // Inside a transaction the refusal undoes only itself.
  ASSERT_EQ(db->begin(), 1);
  TValue second(3);
  db->Store(second);
  EXPECT_EQ(qorv_test::causeOf<CFileException>([&] { db->Store(liar); }),
            CFileException::invalidFile);
  // A pair whose referenced object lies is refused as a whole.
  t_SmartPtr<TPair> pair(new TPair);
  pair->first = new TValue(5);
  pair->first->extra = 1;
  EXPECT_EQ(pair->Save(db.get()), 0);
  ASSERT_EQ(db->commit(), 1);
  EXPECT_EQ(joined(db->check()), "");
  const std::map<long, double> got = contents(*db);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ((Seq{got.at(first.getObjectID()), got.at(second.getObjectID())}), (Seq{1, 3}));
}

TEST(DataBaseMisuse, IdentifiersOutsideOneToTwoToTheThirtyOneAreAbsent) {
  TempFile file("safety_ids");
  auto db = qorv_test::openedDb(file.c_str(), 0);
  std::vector<t_SmartPtr<TValue>> keep;
  for (int i = 1; i <= 6; ++i) {
    keep.emplace_back(new TValue(i));
    db->Store(*keep.back());
  }
  for (long id : {0L, -1L, 2147483648L, 4294967302L, -4294967290L, LONG_MAX, LONG_MIN}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(db->RetrieveAndCreate(id));
    TValue v;
    EXPECT_EQ((Seq{db->Retrieve(id, v), db->Delete(id)}), (Seq{0, 0}));
  }
  EXPECT_TRUE(db->RetrieveAndCreate(6));
  EXPECT_EQ((Seq{db->getNbObj(), joined(db->check())}), (Seq{6, ""}));
}

TEST(DataBaseMisuse, TheLastIdentifierIsNeverPassed) {
  TempFile file("safety_last");
  {
    auto db = qorv_test::openedDb(file.c_str(), 0);
    TValue v(1);
    db->Store(v);
  }
  // A file whose last identifier is the largest there is (and whose counts agree).
  Bytes b = readBytes(file.path);
  std::uint32_t start;
  std::memcpy(&start, b.data(), 4);
  const std::int32_t last = INT32_MAX;
  std::memcpy(b.data() + start + 12, &last, 4);
  writeBytes(file.path, b);
  auto db = qorv_test::openedDb(file.c_str(), 0);
  TValue v(2);
  EXPECT_EQ((Seq{v.Save(db.get()), v.getObjectID()}), (Seq{0, -1}));
  EXPECT_TRUE(db->RetrieveAndCreate(1));
}

TEST(DataBaseFiles, AnEmptyFileBecomesADatabaseOnlyForAWriter) {
  TempFile file("safety_empty");
  writeBytes(file.path, {});
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  EXPECT_EQ((Seq{db->Open(file.c_str(), 1), readBytes(file.path).empty()}), (Seq{0, true}));
  ASSERT_EQ(db->Open(file.c_str(), 0), 1);
  EXPECT_TRUE(db->created());
  TValue v(4);
  EXPECT_EQ(db->Store(v), 1);
  db->Close();
  EXPECT_EQ(joined(ERObjectDataBase::check(file.c_str())), "");
  writeBytes(file.path, {});
  ERDataBase facade;
  ASSERT_EQ(facade.Open(file.c_str(), 0), gmSuccess);
  EXPECT_EQ(facade.save(new TValue(1)), gmSuccess);
  facade.Close();
  ASSERT_EQ(facade.Open(file.c_str(), 1), gmSuccess);
  EXPECT_EQ(facade.getNbEnt(), 1);
}

namespace {

struct FailAt {
  int countdown;
  ERFileManager::IoAction action;
  int seen = 0;
};

ERFileManager::IoAction failAt(ERFileManager::IoEvent, std::uint32_t, void* data) {
  auto* f = static_cast<FailAt*>(data);
  ++f->seen;
  return --f->countdown == 0 ? f->action : ERFileManager::IoAction::proceed;
}

struct HookGuard {
  ~HookGuard() { ERFileManager::setIoHook(nullptr, nullptr); }
};

}  // namespace

TEST(DataBaseFiles, AFailedCreationLeavesNoFile) {
  TempFile file("safety_create");
  HookGuard guard;
  for (auto action : {ERFileManager::IoAction::fail, ERFileManager::IoAction::tear}) {
    for (int k = 1;; ++k) {
      SCOPED_TRACE(k);
      FailAt f{k, action};
      ERFileManager::setIoHook(failAt, &f);
      bool made = false;
      {
        ERDataBase facade;
        made = facade.Open(file.c_str(), 0) == gmSuccess;
      }
      ERFileManager::setIoHook(nullptr, nullptr);
      if (made) {
        EXPECT_EQ(joined(ERObjectDataBase::check(file.c_str())), "");
        std::remove(file.c_str());
        break;
      }
      EXPECT_FALSE(ERFile::Exists(file.c_str()));
      EXPECT_FALSE(ERFile::Exists((file.path + "-journal").c_str()));
      ASSERT_LT(k, 100);
    }
  }
  // A file-size limit below the first commit: the same.
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit lim{300, 300};
    setrlimit(RLIMIT_FSIZE, &lim);
    ERDataBase facade;
    const gmErrorCode code = facade.Open(file.c_str(), 0);
    _exit(code == gmDiskFull && !ERFile::Exists(file.c_str()) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(DataBaseFiles, FailedOrTornWritesAtEveryPointOfACommitRollBack) {
  TempFile file("safety_fail");
  HookGuard guard;
  makeSmall(file.path);
  for (auto action : {ERFileManager::IoAction::fail, ERFileManager::IoAction::tear}) {
    std::map<long, double> expected;
    long nextId = 0;
    {
      auto db = qorv_test::openedDb(file.c_str(), 1);
      expected = contents(*db);
      nextId = db->getNbObj() + 1;
    }
    for (int k = 1;; ++k) {
      SCOPED_TRACE(testing::Message() << "event " << k << " action " << int(action));
      auto db = qorv_test::openedDb(file.c_str(), 0);
      db->begin();
      std::vector<t_SmartPtr<TValue>> fresh;
      for (int i = 0; i < 300; ++i) {
        fresh.emplace_back(new TValue(1000 + i));
        db->Store(*fresh.back());
      }
      db->Delete(1);
      FailAt f{k, action};
      ERFileManager::setIoHook(failAt, &f);
      bool committed = true;
      try {
        db->commit();
      } catch (CFileException& e) {
        committed = false;
      }
      ERFileManager::setIoHook(nullptr, nullptr);
      if (committed) {
        EXPECT_LT(f.seen, k) << "the failure went unnoticed";
        break;
      }
      EXPECT_FALSE(db->inTransaction());
      EXPECT_EQ((Seq{contents(*db), joined(db->check())}), (Seq{expected, ""}));
      // The database goes on working; the lost transaction's identifiers stay with its objects.
      TValue after(5);
      db->Store(after);
      EXPECT_GT(after.getObjectID(), fresh.back()->getObjectID());
      EXPECT_GE(after.getObjectID(), nextId);
      db->Delete(after.getObjectID());
      db->Close();
      EXPECT_EQ(joined(ERObjectDataBase::check(file.c_str())), "");
      ASSERT_LT(k, 200);
    }
  }
}

TEST(DataBaseFiles, AJournalLeftByAKilledWriterIsRolledBack) {
  TempFile file("safety_journal");
  const std::map<long, double> expected = makeSmall(file.path);
  const Bytes before = readBytes(file.path);
  const std::string journal = file.path + "-journal";
  // Killed after the journal is synced, at the first write to the file, then at later ones.
  for (int writes = 1; writes <= 3; ++writes) {
    SCOPED_TRACE(writes);
    const pid_t child = fork();
    if (child == 0) {
      static int left;
      left = writes;
      ERFileManager::setIoHook(
          [](ERFileManager::IoEvent event, std::uint32_t, void*) {
            if (event == ERFileManager::IoEvent::fileWrite && --left == 0) raise(SIGKILL);
            return ERFileManager::IoAction::proceed;
          },
          nullptr);
      t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
      if (!db->Open(file.c_str(), 0)) _exit(2);
      db->begin();
      for (int i = 0; i < 2000; ++i) {
        TValue v(i);
        db->Store(v);
      }
      db->Delete(1);
      db->commit();
      _exit(3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (writes > 1 && WIFEXITED(status) && WEXITSTATUS(status) == 3) {
      // Fewer writes than that: the child committed; put the file back for what follows.
      writeBytes(file.path, before);
      break;
    }
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(ERFile::Exists(journal.c_str()));
    // A reader sees the file as it was, and leaves both files alone.
    const Bytes torn = readBytes(file.path);
    {
      auto db = qorv_test::openedDb(file.c_str(), 1);
      EXPECT_EQ((Seq{contents(*db), joined(db->check())}), (Seq{expected, ""}));
    }
    EXPECT_TRUE(readBytes(file.path) == torn);
    EXPECT_TRUE(ERFile::Exists(journal.c_str()));
    // A writer puts the file back byte for byte.
    {
      auto db = qorv_test::openedDb(file.c_str(), 0);
      EXPECT_FALSE(ERFile::Exists(journal.c_str()));
      EXPECT_EQ(contents(*db), expected);
    }
    EXPECT_TRUE(readBytes(file.path) == before);
  }
}

// Transactions change when bytes reach the file, never which bytes: the same work done call by
// call, in one transaction, or in several (one of them rolled back and redone) closes to the same
// file.
TEST(DataBaseFiles, TransactionsLeaveTheSameFileAsSingleCalls) {
  auto run = [](const std::string& path, int batch, bool withRollback) {
    std::remove(path.c_str());
    std::mt19937 rng(77);
    ERDataBase facade;
    EXPECT_EQ(facade.Open(path.c_str(), 0), gmSuccess);
    ERObjectDataBase& db = facade.objectDataBase();
    db.setSynchronous(ERObjectDataBase::Synchronous::off);
    std::vector<t_SmartPtr<TValue>> live;
    for (int i = 0; i < 1500; ++i) {
      if (batch > 0 && i % batch == 0) db.begin();
      const unsigned r = rng() % 10;
      if (r < 6 || live.empty()) {
        live.emplace_back(new TValue(i, i % 5));
        if (r % 2 == 0) {
          EXPECT_EQ(facade.save(t_SmartPtr<ERObject>(live.back().get())), gmSuccess);
        } else {
          db.Store(*live.back());
        }
      } else if (r < 8) {
        const std::size_t k = rng() % live.size();
        db.Delete(live[k]->getObjectID());
        live.erase(live.begin() + static_cast<long>(k));
      } else {
        TValue& v = *live[rng() % live.size()];
        v.value += 1;
        db.Store(v);
      }
      if (batch > 0 && (i + 1) % batch == 0) db.commit();
    }
    if (db.inTransaction()) db.commit();
    if (withRollback) {
      // (A new object would leave its identifier reserved: a different header.)
      db.begin();
      live.back()->value += 1;
      db.Store(*live.back());
      db.Delete(live.front()->getObjectID());
      db.rollback();
    }
    facade.Close();
    return readBytes(path);
  };
  TempFile a("txn_single"), b("txn_one"), c("txn_many");
  const Bytes single = run(a.path, 0, false);
  EXPECT_EQ((Seq{run(b.path, 100000, false) == single, run(c.path, 37, true) == single,
                 joined(ERObjectDataBase::check(a.c_str()))}),
            (Seq{true, true, ""}));
}

// A transaction lost by rollback, a failed or torn commit, or Close, then retried as a caller
// would (the same objects stored again, a new one beside them): no identifier names two objects,
// nothing committed is overwritten, and the file reopens sound with every object in it.
TEST(DataBaseFiles, RetriesAfterALostTransactionNeverReuseAnIdentifier) {
  enum Loss { rollback, failedCommit, tornCommit, closed };
  HookGuard guard;
  for (Loss loss : {rollback, failedCommit, tornCommit, closed}) {
    SCOPED_TRACE(testing::Message() << "loss " << int(loss));
    TempFile file("retry");
    auto db = qorv_test::openedDb(file.c_str(), 0);
    TValue x(1);
    db->Store(x);
    std::vector<t_SmartPtr<TValue>> batch;
    ASSERT_EQ(db->begin(), 1);
    for (int i = 0; i < 5; ++i) {
      batch.emplace_back(new TValue(10 + i));
      db->Store(*batch.back());
    }
    // A pair whose value is stored with it: stored again, it must bring its value back too.
    t_SmartPtr<TPair> pair(new TPair);
    pair->first = new TValue(20);
    pair->second = 0.5;
    EXPECT_EQ(pair->Save(db.get()), 1);
    if (loss == rollback) {
      db->rollback();
    } else if (loss == closed) {
      db->Close();
      ASSERT_EQ(db->Open(file.c_str(), 0), 1);
    } else {
      FailAt f{
          1, loss == failedCommit ? ERFileManager::IoAction::fail : ERFileManager::IoAction::tear};
      ERFileManager::setIoHook(failAt, &f);
      EXPECT_THROW(db->commit(), CFileException);
      ERFileManager::setIoHook(nullptr, nullptr);
    }
    // Another object first: it must not take an identifier the lost objects still carry.
    TValue b(2);
    db->Store(b);
    ASSERT_EQ(db->begin(), 1);
    for (auto& v : batch) db->Store(*v);
    db->Store(*pair);
    db->commit();
    std::map<long, double> expected{{x.getObjectID(), 1}, {b.getObjectID(), 2}};
    for (auto& v : batch) expected[v->getObjectID()] = v->value;
    expected[pair->getObjectID()] = 20.5;
    expected[pair->first->getObjectID()] = 20;
    EXPECT_EQ(expected.size(), 9u) << "an identifier names two objects";
    EXPECT_EQ((Seq{contents(*db), joined(db->check())}), (Seq{expected, ""}));
    db->Close();
    ASSERT_EQ(db->Open(file.c_str(), 0), 1);
    EXPECT_EQ(contents(*db), expected);
    TValue c(3);
    EXPECT_GT(db->Store(c), expected.rbegin()->first);
    db->Close();
    EXPECT_EQ(joined(ERObjectDataBase::check(file.c_str())), "");
  }
}

// A rolled-back transaction that added or removed entries leaves the trees' counts as they were
// committed, also when the file is closed right after it: the file checks clean and reopens.
TEST(DataBaseFiles, ARolledBackTransactionLeavesNoCountBehind) {
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    TempFile file("rollback_counts");
    long kept = 0;
    {
      auto db = qorv_test::openedDb(file.c_str(), 0);
      TValue a(1), b(2);
      kept = db->Store(a);
      ASSERT_EQ(db->begin(), 1);
      if (variant == 1)
        db->Delete(kept);
      else
        db->Store(b);
      if (variant == 2)
        db->Close();  // a transaction left open is dropped by Close
      else
        ASSERT_EQ(db->rollback(), 1);
    }
    EXPECT_EQ(joined(ERObjectDataBase::check(file.c_str())), "");
    auto db = qorv_test::openedDb(file.c_str(), 1);
    EXPECT_EQ(db->getNbObj(), 1);
    t_SmartPtr<ERObject> back = db->RetrieveAndCreate(kept);
    ASSERT_TRUE(back);
    EXPECT_EQ(TValue::castdown(back.get())->value, 1);
  }
}

// A free extent laid over a live record (what a damaged free list looks like): the check names
// the overlap, a writer refuses the file untouched (its next Store would overwrite the object),
// and so does a reader.
TEST(DataBaseCheck, AFreeExtentOverALiveRecordIsFoundAndRefusedByWriters) {
  TempFile file("check_overlap");
  const std::map<long, double> expected = makeSmall(file.path);
  long offset = -1;
  {
    auto db = qorv_test::openedDb(file.c_str(), 1);
    db->forEachObject([&](long id, long at) {
      if (id == 5) offset = at;
    });
  }
  Bytes b = readBytes(file.path);
  ERFreeListNode root;
  std::memcpy(&root, b.data() + 12, sizeof root);
  ASSERT_LT(root.count, 32);
  // Entries stay sorted: the record's block goes where it belongs.
  int at = 0;
  while (at < root.count && root.offset[at] < static_cast<std::uint32_t>(offset - 4)) ++at;
  for (int k = root.count; k > at; --k) {
    root.offset[k] = root.offset[k - 1];
    root.size[k] = root.size[k - 1];
  }
  root.offset[at] = static_cast<std::uint32_t>(offset - 4);
  root.size[at] = 24;  // the value's block: size word, signature, 16 bytes
  ++root.count;
  std::memcpy(b.data() + 12, &root, sizeof root);
  writeBytes(file.path, b);

  const std::string problems = joined(ERObjectDataBase::check(file.c_str()));
  EXPECT_NE(problems.find("space: bytes " + std::to_string(offset - 4)), std::string::npos)
      << problems;
  // Readers refuse it as writers do: object 5's record lies in free space.
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  for (int readOnly : {0, 1}) {
    EXPECT_EQ(db->Open(file.c_str(), readOnly), 0);
    EXPECT_EQ(db->refusal(), ERObjectDataBase::Refusal::damaged);
  }
  EXPECT_TRUE(readBytes(file.path) == b);
  (void)expected;
}

// Lookups by identifier go through a table of the object tree's entries: every store, re-store,
// delete, rollback and reopening must leave what Retrieve answers as a walk of the tree would (a
// model of the committed and pending objects here), also for identifiers never given, for an
// object re-stored under the identifier a rollback took from it, and once identifiers are too
// sparse for a table.
TEST(DataBaseFiles, RetrievalsFollowEveryChangeOnceTheTreeIsReadWhole) {
  QORV_SEEDED(std::mt19937 rng, 3601);
  TempFile file("lookups");
  auto db = qorv_test::openedDb(file.c_str(), 0);
  std::map<long, t_SmartPtr<TValue>> live;  // what the database holds, committed or pending
  std::map<long, t_SmartPtr<TValue>> committed;
  std::map<long, double> committedValue;
  long lastId = 0;
  std::vector<t_SmartPtr<TValue>> lost;  // objects of rolled-back transactions
  auto pick = [&](const std::map<long, t_SmartPtr<TValue>>& m) {
    auto it = m.begin();
    std::advance(it, std::uniform_int_distribution<long>(0, long(m.size()) - 1)(rng));
    return it;
  };
  auto lookups = [&](int count) {
    for (int k = 0; k < count; ++k) {
      const long id = std::uniform_int_distribution<long>(-1, lastId + 3)(rng);
      const auto it = live.find(id);
      t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
      const TValue* v = TValue::castdown(o.get());
      ASSERT_EQ(v ? v->value : -1, it == live.end() ? -1 : it->second->value) << "object " << id;
    }
  };
  for (int i = 0; i < 4500; ++i) {
    t_SmartPtr<TValue> v(new TValue(i));
    live[lastId = db->Store(*v)] = v;
  }
  auto keep = [&]() {
    committed = live;
    for (auto& [id, v] : live) committedValue[id] = v->value;
  };
  keep();
  for (int round = 0; round < 120; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    const bool txn = rng() % 3 == 0;
    if (txn) {
      ASSERT_EQ(db->begin(), 1);
    }
    for (int op = int(rng() % 12); op > 0; --op) {
      const unsigned what = rng() % 4;
      if (what == 0 || live.size() < 10) {
        t_SmartPtr<TValue> v(new TValue(1e6 + round * 100 + op));
        live[lastId = db->Store(*v)] = v;
      } else if (what == 1) {
        const auto it = pick(live);
        it->second->value += 0.5;
        ASSERT_EQ(db->Store(*it->second), it->first);
      } else if (what == 2) {
        const auto it = pick(live);
        ASSERT_EQ(db->Delete(it->first), 1);
        live.erase(it);
      } else if (!lost.empty()) {
        // Back under the identifier it carries, which names nothing now.
        t_SmartPtr<TValue> v = lost.back();
        lost.pop_back();
        if (live.count(v->getObjectID()) == 0) live[db->Store(*v)] = v;
      }
    }
    if (txn && rng() % 2 == 0) {
      ASSERT_EQ(db->rollback(), 1);
      for (auto& [id, v] : live)
        if (committed.count(id) == 0 || committed[id] != v) lost.push_back(v);
      live = committed;
      for (auto& [id, v] : live) v->value = committedValue[id];  // re-stores rolled back
    } else {
      if (txn) {
        ASSERT_EQ(db->commit(), 1);
      }
      keep();
    }
    lookups(rng() % 2 ? 40 : 400);
    if (round % 40 == 39) {
      db->Close();
      ASSERT_EQ(db->Open(file.c_str(), round % 80 == 39), 1);
      lookups(600);
      db->Close();
      ASSERT_EQ(db->Open(file.c_str(), 0), 1);
    }
  }
  // Nearly all deleted: the identifiers are too sparse for a table, and the walks answer.
  for (auto it = live.begin(); live.size() > 5;) {
    ASSERT_EQ(db->Delete(it->first), 1);
    it = live.erase(it);
  }
  db->Close();
  ASSERT_EQ(db->Open(file.c_str(), 0), 1);
  lookups(600);
  EXPECT_EQ(joined(db->check()), "");
}
