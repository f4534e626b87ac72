// CFile over POSIX: the cause of each failure, sharing between processes, and failing writes.
#include "qorv/platform/file.h"

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/in_order.h"
#include "tests/persistence/test_files.h"

using namespace qorv::platform;

namespace {

using qorv_test::TempFile, qorv_test::tempPath;

constexpr UINT kNew = CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary;
constexpr UINT kWriter = CFile::modeReadWrite | CFile::shareExclusive | CFile::modeCreate |
                         CFile::modeNoTruncate | CFile::typeBinary;
constexpr UINT kReader = CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary;

// The cause of the exception that f throws, or -1 when it throws none.
int causeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (CFileException& e) {
    const int cause = e.m_cause;
    return cause;
  }
  return -1;
}

int openCause(const std::string& path, UINT flags) {
  CFileException e;
  CFile f;
  return f.Open(path.c_str(), flags, &e) ? -1 : e.m_cause;
}

// Runs holder in a child process that keeps it open until the parent is done with probe.
void whileHeldByChild(const std::string& path, UINT holderFlags,
                      const std::function<void()>& probe) {
  int ready[2], done[2];
  ASSERT_EQ((Seq{pipe(ready), pipe(done)}), (Seq{0, 0}));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CFile f;
    char c = f.Open(path.c_str(), holderFlags) ? 1 : 0;
    if (write(ready[1], &c, 1) != 1 || read(done[0], &c, 1) != 1) _exit(2);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 1) << "the child could not open";
  probe();
  EXPECT_EQ(write(done[1], &c, 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

}  // namespace

TEST(CFileCauses, OpenFailuresMapToTheFrameworkCauses) {
  TempFile t("causes");
  EXPECT_EQ(openCause(t.path, CFile::modeRead), CFileException::fileNotFound);
  EXPECT_EQ(openCause("", CFile::modeRead), CFileException::fileNotFound);
  EXPECT_EQ(openCause(t.path + "/below/a/file", kNew), CFileException::fileNotFound);
  { CFile f(t.path.c_str(), kNew); }
  EXPECT_EQ(openCause(t.path + "/below", kNew), CFileException::badPath);  // a file as directory
  EXPECT_EQ(openCause(std::filesystem::path(t.path).parent_path().string(), CFile::modeRead),
            CFileException::accessDenied);  // a directory
  EXPECT_EQ(causeOf([&] { CFile f((t.path + "x").c_str(), CFile::modeRead); }),
            CFileException::fileNotFound);  // the constructor throws what Open reports
}

TEST(CFileCauses, TransfersThroughTheWrongDirectionAreAccessDenied) {
  TempFile t("direction");
  {
    CFile f(t.path.c_str(), kNew);
    f.Write("abcd", 4);
  }
  CFile reader(t.path.c_str(), CFile::modeRead);
  EXPECT_EQ(causeOf([&] { reader.Write("x", 1); }), CFileException::accessDenied);
  EXPECT_EQ(causeOf([&] { reader.WriteAt(0, "x", 1); }), CFileException::accessDenied);
  CFile writer(t.path.c_str(), CFile::modeWrite);
  char c;
  EXPECT_EQ(causeOf([&] { writer.Read(&c, 1); }), CFileException::accessDenied);
  CFile closed;
  EXPECT_EQ(causeOf([&] { closed.Write("x", 1); }), CFileException::invalidFile);
  EXPECT_EQ(causeOf([&] { reader.Seek(-1, CFile::begin); }), CFileException::badSeek);
}

TEST(CFileCauses, AFailureIsAStdExceptionThatSaysWhyAndWhere) {
  // A host that catches std::exception, or nothing at all, still learns the cause and the file.
  const std::string missing = tempPath("missing") + ".absent";
  try {
    CFile f(missing.c_str(), CFile::modeRead);
    FAIL() << "opened a missing file";
  } catch (const std::exception& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("file not found"), std::string::npos) << what;
    EXPECT_NE(what.find(missing), std::string::npos) << what;
  }
}

TEST(CFileTransfers, ShortReadsAndPositionalForms) {
  TempFile t("transfer");
  CFile f(t.path.c_str(), kNew);
  f.Write("0123456789", 10);
  f.Seek(2, CFile::begin);
  char buf[16] = {};
  EXPECT_EQ(f.ReadAt(7, buf, 8), 3u);  // short at end of file, no exception
  EXPECT_EQ(std::string(buf, 3), "789");
  f.WriteAt(12, "AB", 2);          // past the end: the gap reads as zeros
  EXPECT_EQ(f.GetPosition(), 2u);  // positional forms leave the position alone
  EXPECT_EQ((Seq{f.GetLength(), f.Read(buf, 16), buf[8], buf[10], f.Read(buf, 1)}),
            (Seq{14u, 12u, '\0', 'A', 0u}));
}

TEST(CFileSharing, ExclusiveAndDenyWriteHoldAcrossProcesses) {
  TempFile t("share");
  {
    CFile f(t.path.c_str(), kNew);
    f.Write("keep", 4);
  }
  whileHeldByChild(t.path, kWriter, [&] {
    EXPECT_EQ(openCause(t.path, kWriter), CFileException::sharingViolation);
    EXPECT_EQ(openCause(t.path, kReader), CFileException::sharingViolation);
    // A refused open that would truncate leaves the holder's bytes alone.
    EXPECT_EQ(openCause(t.path, kNew | CFile::shareExclusive), CFileException::sharingViolation);
    EXPECT_EQ(std::filesystem::file_size(t.path), 4u);
  });
  whileHeldByChild(t.path, kReader, [&] {
    EXPECT_EQ(openCause(t.path, kReader), -1);  // readers share
    EXPECT_EQ(openCause(t.path, kWriter), CFileException::sharingViolation);
  });
  EXPECT_EQ(openCause(t.path, kWriter), -1);  // released with the holder
}

TEST(CFileWriteFailure, AFileSizeLimitIsDiskFull) {
  TempFile t("fsize");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit lim{1000, 1000};
    setrlimit(RLIMIT_FSIZE, &lim);
    char block[300] = {};
    int cause = -1;
    try {
      CFile f(t.path.c_str(), kNew);
      for (int i = 0; i < 10; ++i) f.Write(block, sizeof block);  // the 4th crosses the limit
    } catch (CFileException& e) {
      cause = e.m_cause;
    }
    int positional = -1;
    try {
      CFile f(t.path.c_str(), CFile::modeReadWrite);
      f.WriteAt(2000, block, 1);
    } catch (CFileException& e) {
      positional = e.m_cause;
    }
    _exit(cause == CFileException::diskFull && positional == CFileException::diskFull ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(std::filesystem::file_size(t.path), 1000u);  // what fitted was written
}
