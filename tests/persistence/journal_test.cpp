// Journals left by writers that died, as they are found (whole, damaged, cut, unfinished,
// unreadable, of the first format), readers beside a live writer, and a file killed at its first
// commit. Opening trusts only a whole journal, never removes one it cannot trust, and recovery
// plays back every record that verifies.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "qorv/persistence/database.h"
#include "qorv/persistence/file_manager.h"
#include "qorv/persistence/object_database.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/persistence/safety_classes.h"
#include "tests/persistence/test_files.h"

using namespace qorv::platform;

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::TempFile, qorv_test::TValue;

namespace {

constexpr std::size_t kHeader = 32;
constexpr std::size_t kRecord = 4 + 4096 + 8;

const auto writeBytes = qorv_test::writeFreshBytes;
using qorv_test::contents;

// A child process runs work on a writer opened on path and dies at the first write to the file
// after a journal write (the journal whole and synced, the file not yet touched).
void dieAtFirstFileWrite(const std::string& path,
                         const std::function<void(ERObjectDataBase&)>& work) {
  const pid_t child = fork();
  if (child == 0) {
    static bool journaled;
    journaled = false;
    ERFileManager::setIoHook(
        [](ERFileManager::IoEvent event, std::uint32_t, void*) {
          if (event == ERFileManager::IoEvent::journalWrite) journaled = true;
          if (event == ERFileManager::IoEvent::fileWrite && journaled) raise(SIGKILL);
          return ERFileManager::IoAction::proceed;
        },
        nullptr);
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    if (!db->Open(path.c_str(), 0)) _exit(2);
    work(*db);
    _exit(3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child did not die at its commit";
}

std::map<long, double> makeValues(const std::string& path, int n) {
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  EXPECT_EQ(db->Open(path.c_str(), 0), 1);
  for (int i = 0; i < n; ++i) {
    TValue v(i * 0.5);
    db->Store(v);
  }
  std::map<long, double> out = contents(*db);
  db->Close();
  return out;
}

void bigTransaction(ERObjectDataBase& db) {
  db.begin();
  for (int i = 0; i < 3000; ++i) {
    TValue v(1e6 + i);
    db.Store(v);
  }
  db.Delete(1);
  db.commit();
}

struct Opened {
  int reader, writer;
  ERObjectDataBase::Refusal why;
};

Opened openBoth(const std::string& path) {
  Opened o{};
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  o.reader = db->Open(path.c_str(), 1);
  db->Close();
  o.writer = db->Open(path.c_str(), 0);
  o.why = db->refusal();
  db->Close();
  return o;
}

}  // namespace

TEST(Journal, OnlyAWholeJournalIsTrustedAndNoneIsRemovedUntrusted) {
  TempFile file("journal");
  const std::string journal = file.path + "-journal";
  const std::map<long, double> expected = makeValues(file.path, 400);
  const Bytes before = readBytes(file.path);
  dieAtFirstFileWrite(file.path, bigTransaction);
  const Bytes hot = readBytes(journal);
  ASSERT_GT(hot.size(), kHeader + 3 * kRecord);
  ASSERT_EQ((hot.size() - kHeader) % kRecord, 0u);
  const std::size_t records = (hot.size() - kHeader) / kRecord;

  // The first format: no record checksums, one FNV-1a over every record at 24.
  Bytes first(kHeader);
  std::memcpy(first.data(), hot.data(), kHeader);
  std::memcpy(first.data(), "qorvjnl1", 8);
  for (std::size_t i = 0; i < records; ++i) {
    const auto at = hot.begin() + static_cast<long>(kHeader + i * kRecord);
    first.insert(first.end(), at, at + 4 + 4096);
  }
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = kHeader; i < first.size(); ++i) h = (h ^ first[i]) * 1099511628211ull;
  std::memcpy(first.data() + 24, &h, 8);

  Bytes flipped = hot;
  flipped[kHeader + kRecord + 100] ^= 1;  // inside the second record's page
  Bytes cut(hot.begin(), hot.begin() + static_cast<long>(kHeader + 2 * kRecord + 50));
  Bytes unfinished = hot;
  std::memset(unfinished.data() + 24, 0, 8);  // the header's checksum word not yet written
  Bytes badHeader = hot;
  badHeader[13] ^= 1;  // the page count
  // A header that checks out but announces four billion records.
  Bytes huge = hot;
  const std::uint32_t many = 0xFFFFFFFFu;
  std::memcpy(huge.data() + 12, &many, 4);
  std::uint64_t sum = 1469598103934665603ull;
  for (std::size_t i = 0; i < 24; ++i) sum = (sum ^ huge[i]) * 1099511628211ull;
  std::memcpy(huge.data() + 24, &sum, 8);

  Bytes firstHuge = first;  // the first format's count is covered by no checksum
  std::memcpy(firstHuge.data() + 12, &many, 4);

  enum Outcome { rolledBack, dropped, refused };
  const struct {
    const char* name;
    Bytes bytes;
    Outcome outcome;
    std::uint32_t playedBack;  // by recovery, when refused
  } cases[] = {
      {"whole", hot, rolledBack, 0},
      {"first format", first, rolledBack, 0},
      {"unfinished header", unfinished, dropped, 0},
      {"empty", {}, dropped, 0},
      {"a record damaged", flipped, refused, std::uint32_t(records - 1)},
      {"cut inside a record", cut, refused, 2},
      {"cut inside the header", Bytes(hot.begin(), hot.begin() + 20), refused, 0},
      {"header damaged", badHeader, refused, std::uint32_t(records)},
      {"four billion records announced", huge, refused, std::uint32_t(records)},
      {"first format, four billion announced", firstHuge, refused, 0},
      {"not a journal", Bytes(100, 7), refused, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeBytes(file.path, before);
    writeBytes(journal, c.bytes);
    const Opened o = openBoth(file.path);
    if (c.outcome == refused) {
      EXPECT_EQ((Seq{o.reader, o.writer, o.why}),
                (Seq{0, 0, ERObjectDataBase::Refusal::journalDamaged}));
      EXPECT_TRUE(readBytes(file.path) == before);
      EXPECT_TRUE(readBytes(journal) == c.bytes) << "a refused journal was changed";
      ERDataBase facade;
      EXPECT_EQ(facade.Open(file.c_str(), 1), gmJournalRefused);
      // Recovery plays back what verifies and keeps the journal aside.
      const ERJournalRecovery r = ERFileManager::recoverJournal(file.c_str());
      EXPECT_EQ((Seq{r.kind, r.playedBack}), (Seq{ERJournalRecovery::damaged, c.playedBack}));
      EXPECT_FALSE(ERFile::Exists(journal.c_str()));
      EXPECT_TRUE(readBytes(r.keptAs) == c.bytes);
      std::remove(r.keptAs.c_str());
    } else {
      EXPECT_EQ((Seq{o.reader, o.writer}), (Seq{1, 1}));
      EXPECT_FALSE(ERFile::Exists(journal.c_str()));
    }
    // The writer never touched the file: whatever was played back puts back what was there.
    EXPECT_TRUE(readBytes(file.path) == before);
    auto db = qorv_test::openedDb(file.c_str(), 1);
    EXPECT_EQ(contents(*db), expected);
  }
}

TEST(Journal, AJournalThatCannotBeReadIsRefusedAndKept) {
  TempFile file("journal_unreadable");
  const std::string journal = file.path + "-journal";
  makeValues(file.path, 50);
  const Bytes before = readBytes(file.path);
  dieAtFirstFileWrite(file.path, bigTransaction);
  const Bytes hot = readBytes(journal);
  // Unreadable by permission (not for root), or by being no regular file at all.
  for (bool folder : {false, true}) {
    SCOPED_TRACE(folder);
    if (folder) {
      std::remove(journal.c_str());
      ASSERT_EQ(::mkdir(journal.c_str(), 0755), 0);
    } else {
      if (::geteuid() == 0) continue;
      ASSERT_EQ(::chmod(journal.c_str(), 0), 0);
    }
    const Opened o = openBoth(file.path);
    EXPECT_EQ((Seq{o.reader, o.writer, o.why}),
              (Seq{0, 0, ERObjectDataBase::Refusal::journalUnreadable}));
    EXPECT_THROW(ERFileManager::recoverJournal(file.c_str()), CFileException);
    EXPECT_TRUE(readBytes(file.path) == before);
    if (folder) {
      EXPECT_TRUE(std::filesystem::is_directory(journal));
      ::rmdir(journal.c_str());
    } else {
      ASSERT_EQ(::chmod(journal.c_str(), 0644), 0);
      EXPECT_TRUE(readBytes(journal) == hot);
    }
  }
}

// A journal without its file (the file deleted by hand) is left alone, and no file is made.
TEST(Journal, AJournalWithoutItsFileIsLeftAlone) {
  TempFile file("journal_orphan");
  const std::string journal = file.path + "-journal";
  makeValues(file.path, 10);
  dieAtFirstFileWrite(file.path, bigTransaction);
  const Bytes hot = readBytes(journal);
  std::remove(file.c_str());
  for (int readOnly : {1, 0}) {
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    EXPECT_EQ(db->Open(file.c_str(), readOnly), 0);
    EXPECT_EQ((Seq{ERFile::Exists(file.c_str()), readBytes(journal) == hot}), (Seq{false, true}));
  }
  std::remove(journal.c_str());
}

// A journal that appears beside a live writer (not its own) is never overwritten nor removed by
// that writer's commit: the commit fails instead.
TEST(Journal, ACommitNeverTouchesAJournalItDidNotWrite) {
  TempFile file("journal_foreign");
  const std::string journal = file.path + "-journal";
  makeValues(file.path, 10);
  auto db = qorv_test::openedDb(file.c_str(), 0);
  const Bytes foreign(5000, 9);
  writeBytes(journal, foreign);
  const Bytes before = readBytes(file.path);
  TValue v(1);
  EXPECT_THROW(db->Store(v), CFileException);
  EXPECT_TRUE(readBytes(journal) == foreign);
  EXPECT_TRUE(readBytes(file.path) == before);
  std::remove(journal.c_str());
  db->Close();
  EXPECT_TRUE(ERObjectDataBase::check(file.c_str()).empty());
}

// A new file whose writer died at its first commit: readers see an empty database, the file
// untouched; a writer then makes it.
TEST(Journal, ANewFileKilledAtItsFirstCommitReadsEmpty) {
  for (bool withJournal : {true, false}) {
    SCOPED_TRACE(withJournal);
    TempFile file("journal_new");
    const std::string journal = file.path + "-journal";
    dieAtFirstFileWrite(file.path, [](ERObjectDataBase&) {});
    if (!withJournal) {
      // As if the writer had died before its journal: the heap's header alone.
      std::remove(journal.c_str());
    }
    ASSERT_EQ(ERFile::Exists(journal.c_str()) != 0, withJournal);
    const Bytes left = readBytes(file.path);
    {
      auto db = qorv_test::openedDb(file.c_str(), 1);
      EXPECT_EQ((Seq{bool(db->empty()), db->getNbObj(), bool(contents(*db).empty()),
                     db->check().empty(), bool(db->RetrieveAndCreate(1))}),
                (Seq{true, 0, true, true, false}));
      ERDataBase facade;
      EXPECT_EQ((Seq{facade.Open(file.c_str(), 1), facade.getNbEnt()}), (Seq{gmSuccess, 0}));
    }
    EXPECT_EQ((Seq{bool(ERObjectDataBase::check(file.c_str()).empty()),
                   readBytes(file.path) == left, ERFile::Exists(journal.c_str()) != 0}),
              (Seq{true, true, withJournal}));
    auto db = qorv_test::openedDb(file.c_str(), 0);
    EXPECT_TRUE(db->created());
    TValue v(4);
    EXPECT_EQ(db->Store(v), 1);
  }
}

// Readers beside a writer: they come in while it is open and see what it last committed; a commit
// waits for them to leave, and fails (rolled back) when they do not; a reader finds no way in
// while a commit writes.
TEST(Journal, ReadersComeInBesideAWriterAndCommitsWaitForThem) {
  TempFile file("journal_readers");
  ERFileManager::setLockTimeout(150);
  makeValues(file.path, 5);
  auto writer = qorv_test::openedDb(file.c_str(), 0);
  writer->begin();
  TValue a(100);
  writer->Store(a);
  {
    auto reader = qorv_test::openedDb(file.c_str(), 1);
    EXPECT_EQ(contents(*reader).size(), 5u);
    EXPECT_EQ(qorv_test::causeOf<CFileException>([&] { writer->commit(); }),
              CFileException::sharingViolation);
    EXPECT_EQ(contents(*reader).size(), 5u);
  }
  TValue b(101);
  writer->Store(b);
  EXPECT_EQ(contents(*writer).size(), 6u);
  // A reader that tries while the commit writes the file is told the file is locked; one that
  // comes in while the commit only writes its journal sees the last commit.
  static int readerOpened;
  static std::string path;
  path = file.path;
  std::size_t seen = 0;
  for (auto event : {ERFileManager::IoEvent::journalWrite, ERFileManager::IoEvent::fileWrite}) {
    SCOPED_TRACE(int(event));
    readerOpened = -1;
    ERFileManager::setIoHook(
        event == ERFileManager::IoEvent::journalWrite
            ? +[](ERFileManager::IoEvent e, std::uint32_t, void* d) {
                if (e != ERFileManager::IoEvent::journalWrite) return ERFileManager::IoAction::proceed;
                ERFileManager::setIoHook(nullptr, nullptr);
                t_SmartPtr<ERObjectDataBase> reader(new ERObjectDataBase);
                readerOpened = reader->Open(path.c_str(), 1);
                *static_cast<std::size_t*>(d) = contents(*reader).size();
                return ERFileManager::IoAction::proceed;
              }
            : +[](ERFileManager::IoEvent e, std::uint32_t, void*) {
                if (e != ERFileManager::IoEvent::fileWrite) return ERFileManager::IoAction::proceed;
                ERFileManager::setIoHook(nullptr, nullptr);
                t_SmartPtr<ERObjectDataBase> reader(new ERObjectDataBase);
                try {
                  readerOpened = reader->Open(path.c_str(), 1);
                } catch (CFileException& failure) {
                  readerOpened = failure.m_cause == CFileException::sharingViolation ? 2 : 3;
                }
                return ERFileManager::IoAction::proceed;
              },
        &seen);
    TValue c(102);
    writer->Store(c);  // its own transaction
    ERFileManager::setIoHook(nullptr, nullptr);
    if (event == ERFileManager::IoEvent::journalWrite) {
      EXPECT_EQ((Seq{readerOpened, seen}), (Seq{1, 6u}));
    } else {
      EXPECT_EQ(readerOpened, 2) << "a reader came in while a commit wrote the file";
    }
  }
  writer->Close();
  ERFileManager::setLockTimeout(2000);
  EXPECT_TRUE(ERObjectDataBase::check(file.c_str()).empty());
}
