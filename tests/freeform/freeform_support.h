// tests/freeform/freeform_support.h
//
// Helpers for the free-form tests: stored images of value classes (anything with saveGuts and
// restoreGuts on an ERFile), exact rationals for reference values.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "qorv/persistence/file.h"
#include "tests/object_images.h"
#include "tests/persistence/test_files.h"
#include "tests/test_seed.h"

namespace qorv_test {

__extension__ typedef __int128 Int128;

template <class T>
int restoreValue(T& v, const Bytes& bytes) {
  TempFile tmp("ffimage");
  writeBytes(tmp.path, bytes);
  ERFile f(tmp.c_str(), ::qorv::platform::CFile::modeRead);
  if constexpr (std::is_void_v<decltype(v.restoreGuts(f))>) {
    v.restoreGuts(f);
    return 1;
  } else {
    return v.restoreGuts(f);
  }
}

inline void putLE(Bytes& out, std::uint64_t bits, int n) {
  for (int k = 0; k < n; ++k) out.push_back(static_cast<unsigned char>(bits >> (8 * k)));
}
inline void putInt(Bytes& out, std::int32_t v) { putLE(out, static_cast<std::uint32_t>(v), 4); }
inline void putDouble(Bytes& out, double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, 8);
  putLE(out, b, 8);
}

// An exact rational on 128-bit integers, always reduced, positive denominator.
struct Rational {
  Int128 n = 0, d = 1;
  Rational() = default;
  Rational(long long v) : n(v) {}  // NOLINT
  Rational(Int128 num, Int128 den) : n(num), d(den) { norm(); }
  static Int128 gcd(Int128 a, Int128 b) {
    if (a < 0) a = -a;
    if (b < 0) b = -b;
    while (b != 0) {
      const Int128 t = a % b;
      a = b, b = t;
    }
    return a == 0 ? 1 : a;
  }
  void norm() {
    if (d < 0) n = -n, d = -d;
    const Int128 g = gcd(n, d);
    n /= g, d /= g;
  }
  friend Rational operator+(Rational a, Rational b) { return {a.n * b.d + b.n * a.d, a.d * b.d}; }
  friend Rational operator-(Rational a, Rational b) { return {a.n * b.d - b.n * a.d, a.d * b.d}; }
  friend Rational operator*(Rational a, Rational b) { return {a.n * b.n, a.d * b.d}; }
  // 0 / 0 and x / 0 give 0, the convention of the B-spline recurrences.
  friend Rational operator/(Rational a, Rational b) {
    if (b.n == 0) return {};
    return {a.n * b.d, a.d * b.n};
  }
  friend bool operator<(Rational a, Rational b) { return a.n * b.d < b.n * a.d; }
  friend bool operator<=(Rational a, Rational b) { return !(b < a); }
  double toDouble() const {
    return static_cast<double>(static_cast<long double>(n) / static_cast<long double>(d));
  }
};

}  // namespace qorv_test
