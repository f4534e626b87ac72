// Crash test: a child process runs random transactions of stores, re-stores and deletes on one
// database file and dies (SIGKILL) at a random disk event, sometimes after tearing that write in
// half; other children see a write fail and go on. A transaction that is rolled back or whose
// commit fails is retried: its objects stored again, as a caller would. Beside each writer a
// reader process opens the file again and again and checks what it sees. After every death the
// parent opens the file and checks: the integrity check finds nothing, every committed object
// reads back equal, the one transaction in flight is there whole or not at all, and no identifier
// is given twice. Before that, a journal left by the dead writer is sometimes damaged, cut or made
// unreadable: opening must refuse it and leave both files alone (then it is put back), and when
// the writer had not touched the file yet, recovery from the damaged journal must give back the
// committed state.
//
// QORV_CRASH_ROUNDS (default 150) and QORV_CRASH_SECONDS (default 8) bound the run; QORV_TEST_SEED
// changes the seed.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "qorv/persistence/file_manager.h"
#include "qorv/persistence/object_database.h"
#include "tests/persistence/safety_classes.h"
#include "tests/persistence/test_files.h"

using namespace qorv::platform;

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::TempFile, qorv_test::TPair;
using qorv_test::TValue, qorv_test::writeBytes;

namespace {

unsigned envNumber(const char* name, unsigned fallback) {
  const char* v = std::getenv(name);
  return (v != nullptr && *v != '\0') ? static_cast<unsigned>(std::strtoul(v, nullptr, 10))
                                      : fallback;
}

// What the parent knows of an object: its class (value 'V' or pair 'P') and its value (a pair:
// the value it refers to plus its own).
struct Known {
  char kind;
  double value;
  long ref;  // a pair: the identifier of the value it refers to
  bool operator==(const Known& o) const {
    return kind == o.kind && value == o.value && ref == o.ref;
  }
};
using Model = std::map<long, Known>;

// One operation of a transaction as the child reports it: S id kind value (stored, new or
// again) or D id (deleted).
struct Op {
  char what;
  long id;
  Known known;
};
struct Transaction {
  std::vector<Op> ops;
  char status = 'P';  // P in flight, C committed, A rolled back
};

Model apply(Model m, const Transaction& t) {
  for (const Op& op : t.ops) {
    if (op.what == 'S')
      m[op.id] = op.known;
    else
      m.erase(op.id);
  }
  return m;
}

Model read(ERObjectDataBase& db) {
  std::vector<long> ids;
  db.forEachObject([&](long id, long) { ids.push_back(id); });
  Model m;
  for (long id : ids) {
    t_SmartPtr<ERObject> o = db.RetrieveAndCreate(id);
    if (const TValue* v = TValue::castdown(o.get()))
      m[id] = {'V', v->value, 0};
    else if (const TPair* p = TPair::castdown(o.get()); p && p->first)
      m[id] = {'P', p->first->value + p->second, p->first->getObjectID()};
    else
      m[id] = {'?', 0, 0};
  }
  return m;
}

// The child's disk: dies at event number `at`, after tearing it when asked; or fails it once.
struct Fate {
  long at = 0;
  int mode = 0;  // 0 kill, 1 tear then kill, 2 fail once and go on
  long seen = 0;
  bool torn = false;
  bool afterCommit = false;  // dies once the commit is done, before telling the parent
};
Fate g_fate;

ERFileManager::IoAction childDisk(ERFileManager::IoEvent event, std::uint32_t bytes, void*) {
  if (g_fate.torn) raise(SIGKILL);  // the next event after a torn write: the process is gone
  if (++g_fate.seen != g_fate.at) return ERFileManager::IoAction::proceed;
  if (g_fate.mode == 0 && event == ERFileManager::IoEvent::journalRemove && g_fate.seen % 2 == 0) {
    g_fate.afterCommit = true;
    return ERFileManager::IoAction::proceed;
  }
  if (g_fate.mode == 0) raise(SIGKILL);
  if (g_fate.mode == 1 && bytes > 1) {
    g_fate.torn = true;
    return ERFileManager::IoAction::tear;
  }
  if (g_fate.mode == 1) raise(SIGKILL);
  return ERFileManager::IoAction::fail;
}

void say(int fd, const std::string& s) {
  std::size_t done = 0;
  while (done < s.size()) {
    const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n <= 0) _exit(9);
    done += static_cast<std::size_t>(n);
  }
}

// What a transaction stored under new identifiers, to be stored again when it is lost.
struct Pending {
  t_SmartPtr<TValue> value;
  t_SmartPtr<TPair> pair;  // with value as its first
};

[[noreturn]] void child(const std::string& path, unsigned seed, const Model& model, int fd) {
  std::mt19937 rng(seed);
  ERFileManager::setIoHook(childDisk, nullptr);
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  const ERObjectDataBase::Synchronous syncs[] = {ERObjectDataBase::Synchronous::off,
                                                 ERObjectDataBase::Synchronous::normal,
                                                 ERObjectDataBase::Synchronous::full};
  db->setSynchronous(syncs[rng() % 5 < 3 ? 0 : 1 + rng() % 2]);
  try {
    if (!db->Open(path.c_str(), 0)) _exit(4);
  } catch (CFileException& e) {
    _exit(5);  // a failed write while recovering or creating: nothing to do this round
  }
  // What may be re-stored or deleted: not the values that pairs refer to.
  std::set<long> referred;
  for (const auto& [id, k] : model)
    if (k.kind == 'P') referred.insert(k.ref);
  std::vector<long> live;
  for (const auto& [id, k] : model)
    if (referred.count(id) == 0) live.push_back(id);
  std::vector<Pending> retry;
  for (int t = 0; t < 40; ++t) {
    std::ostringstream line;
    Transaction done;
    const std::vector<long> liveBefore = live;
    std::vector<Pending> pending;
    db->begin();
    try {
      // The lost transaction's new objects again, under the identifiers they kept.
      for (const Pending& p : retry) {
        db->Store(p.pair ? static_cast<ERObject&>(*p.pair) : *p.value);
        done.ops.push_back({'S', p.value->getObjectID(), {'V', p.value->value, 0}});
        if (p.pair)
          done.ops.push_back(
              {'S', p.pair->getObjectID(), {'P', p.value->value + 0.5, p.value->getObjectID()}});
        live.push_back(p.pair ? p.pair->getObjectID() : p.value->getObjectID());
        pending.push_back(p);
      }
      retry.clear();
      const int n = 1 + static_cast<int>(rng() % 6);
      for (int i = 0; i < n; ++i) {
        // Deletions keep the file small: more of them once it holds a few hundred objects.
        const unsigned r = live.size() > 200 ? rng() % 8 : 2 + rng() % 8;
        if (r < 3 && !live.empty()) {
          const std::size_t k = rng() % live.size();
          if (db->Delete(live[k])) done.ops.push_back({'D', live[k], {}});
          live.erase(live.begin() + static_cast<long>(k));
        } else if (r < 5 && !live.empty()) {
          // Re-store: the same identifier, new contents, a new record.
          const long id = live[rng() % live.size()];
          t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
          if (TValue* v = TValue::castdown(o.get())) {
            v->value = static_cast<double>(rng() % 100000);
            db->Store(*v);
            done.ops.push_back({'S', id, {'V', v->value, 0}});
          }
        } else if (r < 8) {
          t_SmartPtr<TValue> v(
              new TValue(static_cast<double>(rng() % 100000), static_cast<int>(rng() % 7)));
          const long id = db->Store(*v);
          done.ops.push_back({'S', id, {'V', v->value, 0}});
          live.push_back(id);
          pending.push_back({v, {}});
        } else {
          t_SmartPtr<TPair> p(new TPair);
          p->first = new TValue(static_cast<double>(rng() % 1000));
          p->second = 0.5;
          const long id = db->Store(*p);
          done.ops.push_back({'S', p->first->getObjectID(), {'V', p->first->value, 0}});
          done.ops.push_back({'S', id, {'P', p->first->value + 0.5, p->first->getObjectID()}});
          live.push_back(id);
          pending.push_back({p->first, p});
        }
      }
    } catch (CFileException& e) {
      say(fd, "X\n");  // a failed write inside a store: the transaction is gone
      _exit(6);
    }
    for (const Op& op : done.ops)
      line << op.what << ' ' << op.id << ' ' << (op.known.kind ? op.known.kind : '-') << ' '
           << op.known.value << ' ' << op.known.ref << '\n';
    say(fd, "T\n" + line.str() + "E\n");
    try {
      if (rng() % 8 == 0) {
        db->rollback();
        say(fd, "A\n");
        live = liveBefore;
        retry = pending;
        continue;
      }
      db->commit();
      if (g_fate.afterCommit) raise(SIGKILL);
      say(fd, "C\n");
    } catch (CFileException& e) {
      say(fd, "A\n");
      live = liveBefore;  // what this transaction did is gone again
      retry = pending;
    }
  }
  _exit(0);
}

// A reader beside the writer: opens the file again and again until told to stop; every time it
// gets in, what it sees checks out. Exits 1 at the first problem.
volatile sig_atomic_t g_stopReading = 0;

void stopReading(int) { g_stopReading = 1; }

// (The handler is installed before the fork: a stop that comes before the reader has run a line
// must not kill it.)
[[noreturn]] void reader(const std::string& path) {
  ERFileManager::setLockTimeout(20);
  while (!g_stopReading) {
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    try {
      if (db->Open(path.c_str(), 1)) {
        const std::vector<std::string> problems = db->check();
        if (!problems.empty()) {
          std::fprintf(stderr, "reader: %s\n", problems.front().c_str());
          _exit(1);
        }
        read(*db);
      } else if (db->refusal() == ERObjectDataBase::Refusal::damaged) {
        std::fprintf(stderr, "reader: a damaged file\n");
        _exit(1);
      }
    } catch (CFileException& e) {
      // Locked by a commit or by the parent's recovery, or a file not made yet.
    }
    db = nullptr;
    usleep(2000);
  }
  _exit(0);
}

std::vector<Transaction> parse(const std::string& text) {
  std::vector<Transaction> out;
  std::istringstream in(text);
  std::string tag;
  while (in >> tag) {
    if (tag == "T") {
      out.emplace_back();
      std::string w;
      while (in >> w && w != "E") {
        Op op{w[0], 0, {}};
        std::string kind;
        in >> op.id >> kind >> op.known.value >> op.known.ref;
        op.known.kind = kind[0] == '-' ? 0 : kind[0];
        out.back().ops.push_back(op);
      }
    } else if ((tag == "C" || tag == "A") && !out.empty()) {
      out.back().status = tag[0];
    }
  }
  return out;
}

// The identifiers a committed transaction gave to new objects were never given before.
void expectNewIdentifiersFresh(const Transaction& t, const Model& before, std::set<long>& given) {
  std::set<long> here;
  for (const Op& op : t.ops)
    if (op.what == 'S' && before.count(op.id) == 0 && here.insert(op.id).second) {
      EXPECT_TRUE(given.insert(op.id).second) << "identifier " << op.id << " given twice";
    }
}

std::string describe(const Model& m) {
  std::ostringstream s;
  for (const auto& [id, k] : m) s << id << ':' << k.kind << k.value << ' ';
  return s.str();
}

}  // namespace

TEST(DataBaseCrash, KilledWritersLoseNothingCommittedAndLeaveNothingHalfDone) {
  const unsigned seed = envNumber("QORV_TEST_SEED", 20261207);
  const unsigned rounds = envNumber("QORV_CRASH_ROUNDS", 150);
  const unsigned seconds = envNumber("QORV_CRASH_SECONDS", 8);
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937 rng(seed);
  TempFile file("crash");
  const std::string journal = file.path + "-journal";
  std::remove(journal.c_str());
  Model model;
  std::set<long> given;  // identifiers of committed new objects, ever
  const auto begin = std::chrono::steady_clock::now();
  int kills = 0, tears = 0, failures = 0, inFlightKept = 0, readers = 0, damagedJournals = 0,
      recovered = 0;
  for (unsigned round = 0; round < rounds; ++round) {
    if (std::chrono::steady_clock::now() - begin > std::chrono::seconds(seconds)) break;
    SCOPED_TRACE(testing::Message() << "round " << round);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const unsigned childSeed = static_cast<unsigned>(rng());
    g_fate = Fate{};
    g_fate.at = 1 + static_cast<long>(rng() % 120);
    g_fate.mode = static_cast<int>(rng() % 5) < 3 ? 0 : (rng() % 2 ? 1 : 2);
    const Bytes before = readBytes(file.path);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      child(file.path, childSeed, model, fds[1]);
    }
    ::close(fds[1]);
    signal(SIGUSR1, stopReading);
    const pid_t readerPid = round % 3 == 0 ? fork() : -1;
    if (readerPid == 0) {
      ::close(fds[0]);
      reader(file.path);
    }
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
      text.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (readerPid > 0) {
      // The reader also meets the dead writer's journal before it stops.
      usleep(5000);
      kill(readerPid, SIGUSR1);
      int readerStatus = 0;
      waitpid(readerPid, &readerStatus, 0);
      EXPECT_TRUE(WIFEXITED(readerStatus) && WEXITSTATUS(readerStatus) == 0)
          << "the reader beside the writer saw a damaged file";
      ++readers;
    }
    if (WIFSIGNALED(status)) {
      ++kills;
      if (g_fate.mode == 1) ++tears;
    } else {
      ++failures;
    }

    const std::vector<Transaction> log = parse(text);
    const Transaction* inFlight = nullptr;
    for (const Transaction& t : log) {
      if (t.status == 'C') {
        expectNewIdentifiersFresh(t, model, given);
        model = apply(model, t);
      } else if (t.status == 'P') {
        inFlight = &t;
      }
    }
    // A journal left behind, damaged: refused with both files kept, then put back. When the
    // writer died before touching the file, recovery from the damaged journal is exact.
    if (ERFile::Exists(journal.c_str()) && rng() % 2 == 0) {
      const Bytes hot = readBytes(journal), file0 = readBytes(file.path);
      const bool untouched = file0 == before;
      // A journal whose header's checksum word is missing was never finished: the file was not
      // touched, and the journal is dropped whatever its records hold.
      bool finished = false;
      for (std::size_t i = 24; i < 32 && i < hot.size(); ++i) finished = finished || hot[i] != 0;
      Bytes damaged = hot;
      const unsigned how = static_cast<unsigned>(rng() % 3);
      // A record damaged: when one holds a page the writer had not overwritten yet, that one,
      // so that recovery without it still gives back exactly the committed state.
      bool exact = false;
      if (how == 0 && damaged.size() > 40) {
        constexpr std::size_t kRecord = 4 + 4096 + 8;
        std::size_t at = 32 + rng() % (damaged.size() - 32);
        for (std::size_t r = 32; finished && r + kRecord <= hot.size(); r += kRecord) {
          std::uint32_t page;
          std::memcpy(&page, hot.data() + r, 4);
          const std::size_t from = std::size_t(page) * 4096;
          const std::size_t n =
              from < file0.size() ? std::min<std::size_t>(4096, file0.size() - from) : 0;
          if (n > 0 && std::memcmp(hot.data() + r + 4, file0.data() + from, n) == 0) {
            at = r + 4 + rng() % n;
            exact = true;
            break;
          }
        }
        damaged[at] ^= 0x10;
      }
      // (Cut to nothing it would look unfinished, as a writer that died before writing it
      // leaves it: documented as undetectable.)
      if (how == 1 && damaged.size() > 1) damaged.resize(1 + rng() % (damaged.size() - 1));
      if (how == 2) {
        std::remove(journal.c_str());
        ASSERT_EQ(::mkdir(journal.c_str(), 0755), 0);
      } else {
        writeBytes(journal, damaged);
      }
      const bool stillTrusted = how != 2 && (damaged == hot || (!finished && damaged.size() >= 32));
      t_SmartPtr<ERObjectDataBase> probe(new ERObjectDataBase);
      if (!stillTrusted) {
        ++damagedJournals;
        for (int readOnly : {1, 0}) {
          bool refused = false;
          try {
            refused = probe->Open(file.c_str(), readOnly) == 0 &&
                      probe->refusal() != ERObjectDataBase::Refusal::damaged &&
                      probe->refusal() != ERObjectDataBase::Refusal::none;
          } catch (CFileException& e) {
          }
          probe->Close();
          EXPECT_TRUE(refused) << "a damaged journal (" << how << ") was not refused";
          EXPECT_TRUE(readBytes(file.path) == file0);
        }
        if (how == 2) {
          ::rmdir(journal.c_str());
          writeBytes(journal, hot);
        } else if ((untouched || exact) && how == 0) {
          EXPECT_EQ(readBytes(journal), damaged);
          const ERJournalRecovery r = ERFileManager::recoverJournal(file.c_str());
          EXPECT_EQ(r.kind, ERJournalRecovery::damaged);
          std::remove(r.keptAs.c_str());
          ++recovered;
        } else {
          writeBytes(journal, hot);
        }
      }
    }
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    db->setSynchronous(ERObjectDataBase::Synchronous::off);
    ASSERT_EQ(db->Open(file.c_str(), 0), 1) << "child status " << status;
    EXPECT_FALSE(ERFile::Exists(journal.c_str()));
    const std::vector<std::string> problems = db->check();
    ASSERT_TRUE(problems.empty()) << problems.front();
    const Model found = read(*db);
    if (found != model) {
      ASSERT_NE(inFlight, nullptr)
          << "lost or half-committed:\nfound " << describe(found) << "\nmodel " << describe(model);
      const Model whole = apply(model, *inFlight);
      ASSERT_TRUE(found == whole) << "half a transaction:\nfound " << describe(found) << "\nbefore "
                                  << describe(model) << "\nafter " << describe(whole);
      expectNewIdentifiersFresh(*inFlight, model, given);
      model = whole;
      ++inFlightKept;
    }
    db->Close();
  }
  std::printf(
      "[ crash ] seed %u: %d kills (%d after a torn write), %d failed writes survived, %d "
      "transactions committed at the moment of death, %zu objects; %d readers beside, %d "
      "damaged journals refused (%d recovered)\n",
      seed, kills, tears, failures, inFlightKept, model.size(), readers, damagedJournals,
      recovered);
  EXPECT_GT(kills, 0);
}
