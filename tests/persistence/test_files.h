// tests/persistence/test_files.h
//
// Temporary files for the persistence tests: unique per process and call, under QORV_TEST_TMP
// when set, else /tmp; removed when the holder goes.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
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

// In one read: the suites read whole files after every operation, unoptimised under the
// sanitizers, where a character at a time costs more than the operation under test.
inline Bytes readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Bytes b(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)));
  in.seekg(0).read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
  b.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return b;
}

inline void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Little-endian words: read at an offset (all ones past the end), written at one, appended.
inline std::uint32_t u32(const Bytes& b, std::size_t at) {
  if (at + 4 > b.size()) return 0xFFFFFFFFu;
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
inline std::int32_t i32(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>(u32(b, at));
}
inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<unsigned char>(v >> (8 * k));
}
inline void put32(Bytes& b, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<unsigned char>(v >> (8 * k)));
}

// The cause of the file exception f() throws, or -1 when it throws none.
template <class FileException, class F>
int causeOf(F&& f) {
  try {
    f();
  } catch (FileException& e) {
    return e.m_cause;
  }
  return -1;
}

}  // namespace qorv_test
