#include "qorv/siblings/utility_toolkit/tku_string.h"

namespace qorv::siblings {

namespace {

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Case folding of ASCII and Latin-1 capitals (U+00D7, the multiplication sign, is no letter).
wchar_t fold(wchar_t c) {
  if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  return c;
}

int sign(long long v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

std::uint32_t tku_fnv1a_hash(const void* data, std::size_t length) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < length; ++i) {
    h ^= p[i];
    h *= 16777619u;
  }
  return h;
}

bool tkuLogicalStringEquals::operator()(std::string_view a, std::string_view b) const {
  return a == b;
}

int tkuLogicalStringCompare::operator()(std::wstring_view a, std::wstring_view b) const {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      // Compare the two numbers without converting them: skip leading zeros, then the longer
      // run of significant digits is the larger; equal lengths compare digit by digit.
      while (i < a.size() && a[i] == L'0') ++i;
      while (j < b.size() && b[j] == L'0') ++j;
      std::size_t ei = i, ej = j;
      while (ei < a.size() && isDigit(a[ei])) ++ei;
      while (ej < b.size() && isDigit(b[ej])) ++ej;
      if (ei - i != ej - j) return ei - i < ej - j ? -1 : 1;
      for (; i < ei; ++i, ++j)
        if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
      continue;
    }
    const wchar_t ca = fold(a[i]), cb = fold(b[j]);
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return sign(a.compare(b));
}

}  // namespace qorv::siblings
