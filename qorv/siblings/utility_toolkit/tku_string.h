// qorv/siblings/utility_toolkit/tku_string.h
//
// UtilityToolkit string services: the 32-bit FNV-1a hash of a byte sequence, and the logical
// ("natural") equality and order of names.
//
// tku_fnv1a_hash is the standard 32-bit FNV-1a (offset basis 2166136261, prime 16777619, each
// byte XORed in before the multiplication); the empty input hashes to 0x811C9DC5.
//
// Logical order (tkuLogicalStringCompare), on wide strings:
// - runs of decimal digits compare by numeric value, so "file9" < "file10" (leading zeros do not
//   change the value: "a007" and "a7" tie at this stage);
// - other characters compare case-insensitively (ASCII and the Latin-1 letters);
// - a string that is a logical prefix of the other is smaller;
// - a logical tie is broken by the plain code-unit comparison, so the order is total and
//   compare == 0 exactly when the strings are identical, which keeps it in step with the
//   equality below and with the byte hash.
// tkuLogicalStringEquals is that equality: the same length and the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "qorv/platform/api.h"

namespace qorv::siblings {

QORV_API std::uint32_t tku_fnv1a_hash(const void* data, std::size_t length);

class QORV_API tkuLogicalStringEquals {
 public:
  bool operator()(std::string_view a, std::string_view b) const;
};

class QORV_API tkuLogicalStringCompare {
 public:
  // -1, 0 or 1.
  int operator()(std::wstring_view a, std::wstring_view b) const;
};

}  // namespace qorv::siblings
