// tests/persistence/test_files.h
//
// Temporary files for the persistence tests: unique per process and call, under QORV_TEST_TMP
// when set, else /tmp; removed when the holder goes.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace qorv_test {

inline std::string tempPath(const char* tag) {
  static std::atomic<int> counter{0};
  const char* env = std::getenv("QORV_TEST_TMP");
  std::string dir = (env != nullptr && *env != '\0') ? env : "/tmp";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir + "/qorv_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) +
         ".bin";
}

struct TempFile {
  explicit TempFile(const char* tag) : path(tempPath(tag)) { std::remove(path.c_str()); }
  ~TempFile() { std::remove(path.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const char* c_str() const { return path.c_str(); }
  std::string path;
};

using Bytes = std::vector<unsigned char>;

inline Bytes readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

}  // namespace qorv_test
