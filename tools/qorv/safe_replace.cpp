#include "tools/qorv/safe_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "qorv/persistence/file_manager.h"
#include "tools/qorv/commands.h"

namespace qorv::tool {

namespace {

std::string folderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The rename is durable once the folder is synced.
void syncFolder(const std::string& path) {
  const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

std::string temporaryBeside(const std::string& path) {
  for (int attempt = 0;; ++attempt) {
    std::string candidate =
        path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    struct stat st {};
    if (::lstat(candidate.c_str(), &st) != 0 && errno == ENOENT &&
        ::lstat((candidate + "-journal").c_str(), &st) != 0 && errno == ENOENT)
      return candidate;
  }
}

int replaceDatabase(const std::string& path, const std::function<int(const std::string&)>& build) {
  std::unique_ptr<ERFileLock> lock;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return fail(path, "exists and is not a regular file: not replaced");
    if (std::string why = whyNotADatabase(path); !why.empty())
      return fail(path, why + ": not replaced");
    if (::lstat((path + "-journal").c_str(), &st) == 0)
      return fail(path,
                  "a writer that died left a journal beside it (qorv db recover): not replaced");
    lock = std::make_unique<ERFileLock>(path.c_str());
    if (!lock->held()) return fail(path, "in use by another process: not replaced");
  } else if (errno != ENOENT) {
    return fail(path, std::strerror(errno));
  }
  const std::string temp = temporaryBeside(path);
  const int status = build(temp);
  if (status != 0 || std::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    std::remove(temp.c_str());
    std::remove((temp + "-journal").c_str());
    return status != 0 ? status
                       : fail(path, std::string("cannot be written: ") + std::strerror(error));
  }
  syncFolder(path);
  return 0;
}

}  // namespace qorv::tool
