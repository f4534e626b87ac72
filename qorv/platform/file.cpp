#include "qorv/platform/file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorv::platform {

int CFileException::OsErrorToException(long osError) {
  switch (osError) {
    case 0:
      return none;
    case ENOENT:
      return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
      return badPath;
    case EMFILE:
    case ENFILE:
      return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return accessDenied;
    case EBADF:
      return invalidFile;
    case EBUSY:
      return removeCurrentDir;
    case ENOTEMPTY:
    case EMLINK:
      return directoryFull;
    case ESPIPE:
    case EOVERFLOW:
      return badSeek;
    case EIO:
    case ENXIO:
      return hardIO;
    case EWOULDBLOCK:
      return sharingViolation;
    case ENOLCK:
    case EDEADLK:
      return lockViolation;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return diskFull;
    default:
      return genericException;
  }
}

std::string CFileException::describe() const {
  static const char* const kText[] = {"no error",
                                      "generic file error",
                                      "file not found",
                                      "bad path",
                                      "too many open files",
                                      "access denied",
                                      "invalid file",
                                      "cannot remove current dir",
                                      "directory full",
                                      "bad seek",
                                      "hardware I/O error",
                                      "sharing violation",
                                      "lock violation",
                                      "disk full",
                                      "end of file reached"};
  std::string s = (m_cause >= 0 && m_cause <= endOfFile) ? kText[m_cause] : "file error";
  if (!m_strFileName.empty()) s += ": " + m_strFileName;
  return s;
}

void AfxThrowFileException(int cause, long osError, const std::string& fileName) {
  throw CFileException(cause, osError, fileName);
}

namespace {

[[noreturn]] void throwErrno(int err, const std::string& path) {
  AfxThrowFileException(CFileException::OsErrorToException(err), err, path);
}

}  // namespace

CFile::CFile(const char* fileName, UINT openFlags) {
  CFileException e;
  if (!Open(fileName, openFlags, &e))
    AfxThrowFileException(e.m_cause, e.m_lOsError, e.m_strFileName);
}

CFile::~CFile() {
  if (fd_ >= 0) Abort();
}

BOOL CFile::Open(const char* fileName, UINT openFlags, CFileException* error) {
  if (fd_ >= 0) Abort();
  auto fail = [&](int err) {
    if (error) {
      error->m_cause = CFileException::OsErrorToException(err);
      error->m_lOsError = err;
      error->m_strFileName = fileName ? fileName : "";
    }
    return 0;
  };
  if (fileName == nullptr || *fileName == '\0') return fail(ENOENT);

  int flags = O_CLOEXEC;
  switch (openFlags & 3) {
    case modeRead:
      flags |= O_RDONLY;
      break;
    case modeWrite:
      flags |= O_WRONLY;
      break;
    default:
      flags |= O_RDWR;
      break;
  }
  if (openFlags & modeCreate) {
    flags |= O_CREAT;
    if (!(openFlags & modeNoTruncate)) flags |= O_TRUNC;
  }

  // Lock before truncating, so a refused open never empties somebody else's file.
  const bool truncate = (flags & O_TRUNC) != 0;
  int fd;
  do {
    fd = ::open(fileName, flags & ~O_TRUNC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail(errno);

  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return fail(EISDIR);
  }

  const UINT share = openFlags & 0x70;
  int lockOp = 0;
  if (share == shareExclusive || share == shareDenyRead)
    lockOp = LOCK_EX;
  else if (share == shareDenyWrite)
    lockOp = LOCK_SH;
  if (lockOp != 0) {
    int r;
    do {
      r = ::flock(fd, lockOp | LOCK_NB);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
      const int err = (errno == EWOULDBLOCK) ? EWOULDBLOCK : errno;
      ::close(fd);
      return fail(err);
    }
  }
  if (truncate && ::ftruncate(fd, 0) < 0) {
    const int err = errno;
    ::close(fd);
    return fail(err);
  }
  fd_ = fd;
  pos_ = 0;
  path_ = fileName;
  return 1;
}

void CFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) < 0 && errno != EINTR) throwErrno(errno, path_);
}

void CFile::Abort() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

namespace {

// A descriptor that is open but refuses the transfer was opened for the other direction.
[[noreturn]] void throwTransfer(int err, const std::string& path) {
  if (err == EBADF) AfxThrowFileException(CFileException::accessDenied, err, path);
  throwErrno(err, path);
}

// Reads until count bytes or end of file; at < 0 reads at the current position.
UINT readFully(int fd, std::int64_t at, char* p, UINT count, const std::string& path) {
  UINT done = 0;
  while (done < count) {
    const ssize_t n = at < 0 ? ::read(fd, p + done, count - done)
                             : ::pread(fd, p + done, count - done, static_cast<off_t>(at + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throwTransfer(errno, path);
    }
    if (n == 0) break;
    done += static_cast<UINT>(n);
  }
  return done;
}

void writeFully(int fd, std::int64_t at, const char* p, UINT count, const std::string& path) {
  UINT done = 0;
  while (done < count) {
    const ssize_t n = at < 0 ? ::write(fd, p + done, count - done)
                             : ::pwrite(fd, p + done, count - done, static_cast<off_t>(at + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throwTransfer(errno, path);
    }
    if (n == 0) throwErrno(ENOSPC, path);
    done += static_cast<UINT>(n);
  }
}

}  // namespace

// The position is kept here rather than in the descriptor: reads and writes go to pread/pwrite
// at it, and asking for it or moving it costs no system call. Nothing else moves the
// descriptor's offset (the sharing locks keep other writers out).
UINT CFile::Read(void* buffer, UINT count) {
  if (fd_ < 0) AfxThrowFileException(CFileException::invalidFile, EBADF, path_);
  const UINT done = readFully(fd_, pos_, static_cast<char*>(buffer), count, path_);
  pos_ += done;
  return done;
}

void CFile::Write(const void* buffer, UINT count) {
  if (fd_ < 0) AfxThrowFileException(CFileException::invalidFile, EBADF, path_);
  writeFully(fd_, pos_, static_cast<const char*>(buffer), count, path_);
  pos_ += count;
}

UINT CFile::ReadAt(std::uint64_t position, void* buffer, UINT count) {
  if (fd_ < 0) AfxThrowFileException(CFileException::invalidFile, EBADF, path_);
  if (position > static_cast<std::uint64_t>(INT64_MAX) - count)
    AfxThrowFileException(CFileException::badSeek, EINVAL, path_);
  return readFully(fd_, static_cast<std::int64_t>(position), static_cast<char*>(buffer), count,
                   path_);
}

void CFile::WriteAt(std::uint64_t position, const void* buffer, UINT count) {
  if (fd_ < 0) AfxThrowFileException(CFileException::invalidFile, EBADF, path_);
  if (position > static_cast<std::uint64_t>(INT64_MAX) - count)
    AfxThrowFileException(CFileException::badSeek, EINVAL, path_);
  writeFully(fd_, static_cast<std::int64_t>(position), static_cast<const char*>(buffer), count,
             path_);
}

std::uint64_t CFile::Seek(std::int64_t offset, UINT from) {
  if (fd_ < 0) AfxThrowFileException(CFileException::invalidFile, EBADF, path_);
  std::int64_t base = 0;
  if (from == current) {
    base = pos_;
  } else if (from == end) {
    struct stat st;
    if (::fstat(fd_, &st) < 0) throwErrno(errno, path_);
    base = st.st_size;
  }
  // As lseek: a position before the start is refused, one past the end is allowed.
  if ((offset < 0 && base < INT64_MIN - offset) || (offset > 0 && base > INT64_MAX - offset) ||
      base + offset < 0)
    AfxThrowFileException(CFileException::badSeek, EINVAL, path_);
  pos_ = base + offset;
  return static_cast<std::uint64_t>(pos_);
}

std::uint64_t CFile::GetPosition() const {
  if (fd_ < 0) AfxThrowFileException(CFileException::invalidFile, EBADF, path_);
  return static_cast<std::uint64_t>(pos_);
}

std::uint64_t CFile::GetLength() const {
  if (fd_ < 0) AfxThrowFileException(CFileException::invalidFile, EBADF, path_);
  struct stat st;
  if (::fstat(fd_, &st) < 0) throwErrno(errno, path_);
  return static_cast<std::uint64_t>(st.st_size);
}

void CFile::SetLength(std::uint64_t length) {
  if (fd_ < 0) AfxThrowFileException(CFileException::invalidFile, EBADF, path_);
  if (::ftruncate(fd_, static_cast<off_t>(length)) < 0) throwErrno(errno, path_);
}

void CFile::Flush() {
  if (fd_ >= 0 && ::fsync(fd_) < 0 && errno != EINVAL && errno != EROFS) throwErrno(errno, path_);
}

void CFile::FlushData() {
  if (fd_ >= 0 && ::fdatasync(fd_) < 0 && errno != EINVAL && errno != EROFS)
    throwErrno(errno, path_);
}

namespace {

struct flock byteLock(std::int64_t offset, short type) {
  struct flock l {};
  l.l_type = type;
  l.l_whence = SEEK_SET;
  l.l_start = static_cast<off_t>(offset);
  l.l_len = 1;
  l.l_pid = 0;  // open-file-description locks require 0
  return l;
}

short lockType(CFile::LockKind kind) {
  return kind == CFile::unlock ? F_UNLCK : kind == CFile::sharedLock ? F_RDLCK : F_WRLCK;
}

}  // namespace

bool CFile::LockByte(std::int64_t offset, LockKind kind) {
  if (fd_ < 0) return false;
  struct flock l = byteLock(offset, lockType(kind));
  int r;
  do {
    r = ::fcntl(fd_, F_OFD_SETLK, &l);
  } while (r < 0 && errno == EINTR);
  return r == 0;
}

bool CFile::ByteLockedByOther(std::int64_t offset, LockKind kind) const {
  if (fd_ < 0 || kind == unlock) return false;
  struct flock l = byteLock(offset, lockType(kind));
  if (::fcntl(fd_, F_OFD_GETLK, &l) < 0) return true;  // cannot tell: assume held
  return l.l_type != F_UNLCK;
}

BOOL CFile::GetStatus(CFileStatus& status) const {
  if (fd_ < 0) return 0;
  struct stat st;
  if (::fstat(fd_, &st) < 0) return 0;
  status.m_size = st.st_size;
  status.m_mtime = st.st_mtime;
  status.m_szFullName = path_;
  return 1;
}

BOOL CFile::GetStatus(const char* fileName, CFileStatus& status) {
  if (fileName == nullptr) return 0;
  struct stat st;
  if (::stat(fileName, &st) < 0) return 0;
  status.m_size = st.st_size;
  status.m_mtime = st.st_mtime;
  status.m_szFullName = fileName;
  return 1;
}

std::string CFile::GetFileName() const {
  const auto slash = path_.find_last_of('/');
  return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

}  // namespace qorv::platform
