// qorv/support/bit_vec.h
//
// ERBitVec: a vector of bits (a 32-bit bit count and ceil(bits / 8) bytes; bit i is bit
// i mod 8 of byte i / 8), and ERBitRef, the proxy the non-const [] returns.
//
// Stored form (ERFile): the bit count as a 4-byte integer, then the ceil(bits / 8) packed bytes.
// Print form: "[\n  ", then "1 " or "0 " per bit with "\n  " before every bit whose index is a
// non-zero multiple of 25, then "\n]"; scanFrom reads it back (any whitespace between digits).
//
// Conventions a caller gets wrong:
// - The unused high bits of the last byte are always 0, so equal vectors have equal bytes.
// - &=, |= and ^= combine vectors of one length; another length is a bug (asserted), and only
//   the common bits are combined.
// - A bad index is a bug (asserted); without assertions a read gives false and a write is lost.
// - restoreFrom returns 0 and leaves the vector as it was on a short read or on a bit count
//   that is negative or larger than the rest of the file can hold.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "qorv/platform/api.h"

class ERFile;

class QORV_API ERBitRef {
 public:
  ERBitRef(unsigned char* byte, unsigned bit)
      : byte_(byte), mask_(static_cast<unsigned char>(1u << bit)) {}
  operator bool() const { return (*byte_ & mask_) != 0; }
  ERBitRef& operator=(bool b) {
    if (b)
      *byte_ = static_cast<unsigned char>(*byte_ | mask_);
    else
      *byte_ = static_cast<unsigned char>(*byte_ & ~mask_);
    return *this;
  }
  ERBitRef& operator=(const ERBitRef& o) { return *this = static_cast<bool>(o); }
  ERBitRef& operator&=(bool b) { return *this = *this && b; }
  ERBitRef& operator|=(bool b) { return *this = *this || b; }
  ERBitRef& operator^=(bool b) { return *this = *this != b; }

 private:
  unsigned char* byte_;
  unsigned char mask_;
};

class QORV_API ERBitVec {
 public:
  ERBitVec() = default;
  // n bits (a negative n is 0), all false or all `value`.
  explicit ERBitVec(int n, bool value = false);
  // n bits from packed bytes (ceil(n / 8) of them are read).
  ERBitVec(const unsigned char* bytes, int n);
  ERBitVec(const ERBitVec& o);
  ERBitVec(ERBitVec&& o) noexcept;
  ~ERBitVec();

  ERBitVec& operator=(const ERBitVec& o);
  ERBitVec& operator=(ERBitVec&& o) noexcept;
  // Every bit.
  ERBitVec& operator=(bool value);

  bool operator==(const ERBitVec& o) const { return isEqual(o) != 0; }
  bool operator!=(const ERBitVec& o) const { return !isEqual(o); }
  // Every bit equals value (true for an empty vector).
  bool operator==(bool value) const;
  bool operator!=(bool value) const { return !(*this == value); }

  ERBitRef operator[](int i);
  bool operator[](int i) const { return testBit(i); }
  ERBitRef operator()(int i) { return (*this)[i]; }
  bool operator()(int i) const { return testBit(i); }

  ERBitVec& operator&=(const ERBitVec& o);
  ERBitVec& operator|=(const ERBitVec& o);
  ERBitVec& operator^=(const ERBitVec& o);

  void setBit(int i);
  void clearBit(int i);
  bool testBit(int i) const;
  // Index of the first set (clear) bit, -1 when none.
  int firstTrue() const;
  int firstFalse() const;

  // FNV-1a over the bit count and the bytes.
  std::uint32_t hash() const;
  int isEqual(const ERBitVec& o) const;
  int length() const { return n_; }
  // New bits are false.
  void resize(int n);
  const unsigned char* data() const { return bytes_; }

  void printOn(std::ostream& os) const;
  // Reads a print form; on a malformed one the stream's failbit is set and the vector is kept.
  void scanFrom(std::istream& is);
  void saveOn(ERFile& f) const;
  int restoreFrom(ERFile& f);
  std::uint32_t binaryStoreSize() const { return 4 + static_cast<std::uint32_t>(byteCount()); }

 private:
  static int bytesFor(int n) { return static_cast<int>((static_cast<std::uint32_t>(n) + 7u) / 8u); }
  int byteCount() const { return bytesFor(n_); }
  bool inRange(int i) const;
  void clearPadding();
  template <class F>
  ERBitVec& combine(const ERBitVec& o, F f);

  std::int32_t n_ = 0;
  unsigned char* bytes_ = nullptr;
};

QORV_API ERBitVec operator&(const ERBitVec& a, const ERBitVec& b);
QORV_API ERBitVec operator|(const ERBitVec& a, const ERBitVec& b);
QORV_API ERBitVec operator^(const ERBitVec& a, const ERBitVec& b);
QORV_API std::ostream& operator<<(std::ostream& os, const ERBitVec& v);
QORV_API std::istream& operator>>(std::istream& is, ERBitVec& v);
