#include "qorv/siblings/archive_streams/archive_strings.h"

#include <cstdint>
#include <cstring>
#include <string>

using namespace qorv::platform;

namespace qorv::siblings {

namespace {

constexpr std::int32_t kNull = -1;
constexpr std::size_t kPiece = 4096;

void store(CArchive& ar, const char* text, std::size_t length) {
  ar << static_cast<std::int32_t>(length);
  ar.Write(text, static_cast<UINT>(length));
}

}  // namespace

CArchive& operator<<(CArchive& ar, const char* text) {
  if (text == nullptr) return ar << kNull;
  store(ar, text, std::strlen(text));
  return ar;
}

CArchive& operator<<(CArchive& ar, const utString& text) {
  if (text.is_null()) return ar << kNull;
  store(ar, text.c_str(), text.length());
  return ar;
}

CArchive& operator>>(CArchive& ar, utString& text) {
  std::int32_t length = 0;
  ar >> length;
  if (length == kNull) {
    text = utString();
    return ar;
  }
  if (length < 0) throw CArchiveException(CArchiveException::genericException);
  // Grows with what actually arrives, never with the length word alone.
  std::string bytes;
  char piece[kPiece];
  std::size_t left = static_cast<std::size_t>(length);
  while (left != 0) {
    const UINT want = static_cast<UINT>(left < kPiece ? left : kPiece);
    const UINT got = ar.Read(piece, want);
    bytes.append(piece, got);
    if (got != want) throw CArchiveException(CArchiveException::endOfFile);
    left -= got;
  }
  text = utString(bytes.data(), bytes.size());
  return ar;
}

}  // namespace qorv::siblings
