#include "qorv/persistence/file.h"

#include <bit>
#include <climits>
#include <cstring>
#include <type_traits>
#include <vector>

#include "qorv/foundation/object.h"

using namespace qorv::platform;

static_assert(std::endian::native == std::endian::little,
              "the on-disk images are the in-memory images of a little-endian host");

namespace {

// Disk width of each host type: long is 4 bytes on disk whatever the host says.
template <class T>
constexpr std::size_t diskWidth() {
  if constexpr (std::is_same_v<T, long> || std::is_same_v<T, unsigned long>)
    return 4;
  else
    return sizeof(T);
}

// Chunk size for array conversions, so a long array never needs one big temporary.
constexpr unsigned kChunk = 512;

}  // namespace

int ERFile::readRaw(void* p, std::size_t n) {
  std::size_t done = 0;
  auto* c = static_cast<char*>(p);
  while (done < n) {
    const UINT want = static_cast<UINT>(std::min<std::size_t>(n - done, 1u << 30));
    // Through the virtual form, so that a cached file (the file manager) sees every read.
    const UINT got = static_cast<CFile*>(this)->Read(static_cast<void*>(c + done), want);
    done += got;
    if (got < want) return 0;
  }
  return 1;
}

void ERFile::writeRaw(const void* p, std::size_t n) {
  std::size_t done = 0;
  const auto* c = static_cast<const char*>(p);
  while (done < n) {
    const UINT chunk = static_cast<UINT>(std::min<std::size_t>(n - done, 1u << 30));
    static_cast<CFile*>(this)->Write(static_cast<const void*>(c + done), chunk);
    done += chunk;
  }
}

#define QORV_ERFILE_SAME_WIDTH(T)                                                       \
  int ERFile::Read(T& v) { return readRaw(&v, sizeof(T)); }                             \
  int ERFile::Read(T* v, unsigned n) { return readRaw(v, std::size_t(n) * sizeof(T)); } \
  int ERFile::Write(T v) {                                                              \
    writeRaw(&v, sizeof(T));                                                            \
    return 1;                                                                           \
  }                                                                                     \
  int ERFile::Write(const T* v, unsigned n) {                                           \
    writeRaw(v, std::size_t(n) * sizeof(T));                                            \
    return 1;                                                                           \
  }

QORV_ERFILE_SAME_WIDTH(char)
QORV_ERFILE_SAME_WIDTH(unsigned char)
QORV_ERFILE_SAME_WIDTH(short)
QORV_ERFILE_SAME_WIDTH(unsigned short)
QORV_ERFILE_SAME_WIDTH(int)
QORV_ERFILE_SAME_WIDTH(unsigned int)
QORV_ERFILE_SAME_WIDTH(float)
QORV_ERFILE_SAME_WIDTH(double)
#undef QORV_ERFILE_SAME_WIDTH

static_assert(sizeof(int) == 4 && sizeof(short) == 2 && sizeof(float) == 4 && sizeof(double) == 8);

int ERFile::Read(long& v) {
  std::int32_t w;
  if (!readRaw(&w, 4)) return 0;
  v = w;
  return 1;
}
int ERFile::Read(unsigned long& v) {
  std::uint32_t w;
  if (!readRaw(&w, 4)) return 0;
  v = w;
  return 1;
}
int ERFile::Write(long v) {
  const auto w = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  writeRaw(&w, 4);
  return 1;
}
int ERFile::Write(unsigned long v) {
  const auto w = static_cast<std::uint32_t>(v);
  writeRaw(&w, 4);
  return 1;
}

int ERFile::Read(long* v, unsigned n) {
  std::int32_t buf[kChunk];
  for (unsigned i = 0; i < n;) {
    const unsigned k = std::min(kChunk, n - i);
    if (!readRaw(buf, std::size_t(k) * 4)) return 0;
    for (unsigned j = 0; j < k; ++j) v[i + j] = buf[j];
    i += k;
  }
  return 1;
}
int ERFile::Read(unsigned long* v, unsigned n) {
  std::uint32_t buf[kChunk];
  for (unsigned i = 0; i < n;) {
    const unsigned k = std::min(kChunk, n - i);
    if (!readRaw(buf, std::size_t(k) * 4)) return 0;
    for (unsigned j = 0; j < k; ++j) v[i + j] = buf[j];
    i += k;
  }
  return 1;
}
int ERFile::Write(const long* v, unsigned n) {
  std::uint32_t buf[kChunk];
  for (unsigned i = 0; i < n;) {
    const unsigned k = std::min(kChunk, n - i);
    for (unsigned j = 0; j < k; ++j) buf[j] = static_cast<std::uint32_t>(v[i + j]);
    writeRaw(buf, std::size_t(k) * 4);
    i += k;
  }
  return 1;
}
int ERFile::Write(const unsigned long* v, unsigned n) {
  std::uint32_t buf[kChunk];
  for (unsigned i = 0; i < n;) {
    const unsigned k = std::min(kChunk, n - i);
    for (unsigned j = 0; j < k; ++j) buf[j] = static_cast<std::uint32_t>(v[i + j]);
    writeRaw(buf, std::size_t(k) * 4);
    i += k;
  }
  return 1;
}

int ERFile::Read(char* s) { return Read(s, SIZE_MAX, 0); }

int ERFile::Read(char* s, std::size_t capacity, int bounded) {
  if (s == nullptr || (bounded && capacity == 0)) return 0;
  std::size_t len = 0;
  for (;;) {
    unsigned char c;
    if (static_cast<CFile*>(this)->Read(static_cast<void*>(&c), 1) != 1 || c == 0x00 || c == 0xFF)
      break;
    if (!bounded || len + 1 < capacity) s[len++] = static_cast<char>(c);
  }
  s[len] = '\0';
  return 1;
}

int ERFile::Write(const char* s) {
  if (s == nullptr) s = "";
  writeRaw(s, std::strlen(s) + 1);
  return 1;
}

int ERFile::Exists() const {
  CFileStatus st;
  return isOpen() && GetStatus(st);
}

int ERFile::Exists(const char* fileName) {
  CFileStatus st;
  return CFile::GetStatus(fileName, st);
}

ERFile& operator<<(ERFile& f, const ERObject& o) {
  o.saveGuts(f);
  return f;
}

ERFile& operator>>(ERFile& f, ERObject& o) {
  o.restoreGuts(f);
  return f;
}
