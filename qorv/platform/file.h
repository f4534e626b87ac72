// qorv/platform/file.h
//
// The framework's binary file class and its exception, over POSIX descriptors.
//
// Sharing is enforced between processes (and between two opens in one process) with advisory
// whole-file locks taken at open: shareExclusive takes an exclusive lock, shareDenyWrite a
// shared one, so a file open read-write exclusively is never opened by anybody else, and a file
// open read-only with deny-write is never opened read-write. A refused lock is a sharing
// violation. shareDenyNone (and shareCompat) take no lock.
//
// LockByte takes finer advisory locks, one byte each (past the end of the file if need be):
// Linux open-file-description locks, held by the open file and not the process, so that two
// opens in one process conflict as two processes do; closing releases them.
//
// Failures throw CFileException(cause, errno, name) by value. Read
// reports a short count at end of file; only I/O errors throw. Writing through a descriptor
// opened for reading only (or reading through a write-only one) is accessDenied, as the OS of
// the framework reports it; a full disk or a file-size limit is diskFull.
#pragma once

#include <cstdint>
#include <string>

#include "qorv/platform/afx.h"

namespace qorv::platform {

class QORV_API CFileException : public CException {
 public:
  // The framework's cause codes; the database facade passes 1 to 14 on as its error codes.
  enum {
    none = 0,
    genericException = 1,
    fileNotFound = 2,
    badPath = 3,
    tooManyOpenFiles = 4,
    accessDenied = 5,
    invalidFile = 6,
    removeCurrentDir = 7,
    directoryFull = 8,
    badSeek = 9,
    hardIO = 10,
    sharingViolation = 11,
    lockViolation = 12,
    diskFull = 13,
    endOfFile = 14,
  };

  CFileException() = default;
  CFileException(int cause, long osError = -1, std::string fileName = {})
      : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}

  // The cause for an errno value, as the OS error of a failed call.
  static int OsErrorToException(long osError);
  std::string describe() const override;

  int m_cause = none;
  long m_lOsError = -1;
  std::string m_strFileName;
};

[[noreturn]] QORV_API void AfxThrowFileException(int cause, long osError = -1,
                                                 const std::string& fileName = {});

struct CFileStatus {
  std::int64_t m_size = 0;
  std::int64_t m_mtime = 0;
  std::string m_szFullName;
};

class QORV_API CFile : public CObject {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000,
  };
  enum SeekPosition { begin = 0, current = 1, end = 2 };

  CFile() = default;
  // Opens at once; failure throws the file exception.
  CFile(const char* fileName, UINT openFlags);
  ~CFile() override;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // 1 on success; on failure 0, with the cause in *error when given.
  virtual BOOL Open(const char* fileName, UINT openFlags, CFileException* error = nullptr);
  // Closes; an error on close throws.
  virtual void Close();
  // Closes, ignoring errors.
  virtual void Abort();

  // Bytes read, fewer than count only at end of file.
  virtual UINT Read(void* buffer, UINT count);
  // All bytes or the exception (disk full, read-only descriptor, ...).
  virtual void Write(const void* buffer, UINT count);
  // Positional forms (not in the framework): the current position is left where it was.
  // Same results and exceptions as Read and Write.
  UINT ReadAt(std::uint64_t position, void* buffer, UINT count);
  void WriteAt(std::uint64_t position, const void* buffer, UINT count);
  virtual std::uint64_t Seek(std::int64_t offset, UINT from);
  void SeekToBegin() { Seek(0, begin); }
  std::uint64_t SeekToEnd() { return Seek(0, end); }
  virtual std::uint64_t GetPosition() const;
  virtual std::uint64_t GetLength() const;
  virtual void SetLength(std::uint64_t length);
  virtual void Flush();
  // Flush for the data and what reading it back needs (the length), not the times: fdatasync.
  void FlushData();

  enum LockKind { unlock = 0, sharedLock = 1, exclusiveLock = 2 };
  // Takes (or converts, or drops) a lock on the byte at offset without waiting; false when another
  // open holds a conflicting lock (or locks are not supported).
  bool LockByte(std::int64_t offset, LockKind kind);
  // Whether another open holds a lock on that byte that would conflict with kind.
  bool ByteLockedByOther(std::int64_t offset, LockKind kind) const;

  BOOL GetStatus(CFileStatus& status) const;
  static BOOL GetStatus(const char* fileName, CFileStatus& status);
  const std::string& GetFilePath() const { return path_; }
  std::string GetFileName() const;
  bool isOpen() const { return fd_ >= 0; }

 protected:
  int fd_ = -1;
  std::int64_t pos_ = 0;
  std::string path_;
};

}  // namespace qorv::platform
