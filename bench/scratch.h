// Files a benchmark writes: one folder per run under the temporary folder ($TMPDIR or /tmp),
// removed with everything in it when the program ends, however many files the runs made.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace qorv::bench {

inline const std::filesystem::path& scratchFolder() {
  struct Folder {
    std::filesystem::path path;
    Folder() {
      const char* tmp = std::getenv("TMPDIR");
      path = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / ("qorv_bench_" + std::to_string(::getpid()));
      std::filesystem::create_directories(path);
    }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static const Folder folder;
  return folder.path;
}

inline std::string scratchPath(const std::string& name) { return (scratchFolder() / name).string(); }

}  // namespace qorv::bench
