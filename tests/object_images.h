// tests/object_images.h
//
// Stored images of objects and values for the tests: what saveGuts writes, read back as bytes,
// and an object restored from given bytes; little-endian doubles for building expected images.
#pragma once

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>

#include "qorv/foundation/object.h"
#include "qorv/persistence/file.h"
#include "tests/persistence/test_files.h"

namespace qorv_test {

template <class T>
Bytes imageOf(const T& o) {
  TempFile tmp("image");
  {
    ERFile f(tmp.c_str(),
             ::qorv::platform::CFile::modeCreate | ::qorv::platform::CFile::modeReadWrite);
    o.saveGuts(f);
  }
  return readBytes(tmp.path);
}

inline void restoreFrom(ERObject& o, const Bytes& bytes) {
  TempFile tmp("image");
  writeBytes(tmp.path, bytes);
  ERFile f(tmp.c_str(), ::qorv::platform::CFile::modeRead);
  o.restoreGuts(f);
}

inline void appendDouble(Bytes& out, double v) {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  for (int k = 0; k < 8; ++k) out.push_back(static_cast<unsigned char>(bits >> (8 * k)));
}

inline Bytes doubles(std::initializer_list<double> values) {
  Bytes out;
  for (double v : values) appendDouble(out, v);
  return out;
}

template <class T>
std::string printed(const T& o) {
  std::ostringstream os;
  o.printOn(os);
  return os.str();
}

}  // namespace qorv_test
