// qorv/support/hashed_string.h
//
// gmHashedString: a BaseUtilities string (utString) kept with its 32-bit FNV-1a hash, so that
// unequal names are told apart by one integer comparison; and the hashing and naming helpers of
// CAD names.
//
// Conventions a caller gets wrong:
// - The invalid object holds the null string and hash 0; a valid one may hold the empty string.
//   Two invalid objects are equal, an invalid and a valid one are not.
// - Equality is the hash, then the UtilityToolkit's logical equality; compare() is the
//   toolkit's logical (natural, case-insensitive first) order of the names widened with the
//   platform's single-byte code page, so "a2" < "A10"; an invalid object sorts after every
//   valid one.
// - The archive form is the string alone (the hash is recomputed on loading); a null string in
//   the archive loads as the invalid object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qorv/platform/api.h"
#include "qorv/siblings/base_utilities/ut_string.h"

namespace qorv::platform {
class CArchive;
}

class QORV_API gmHashedString {
 public:
  gmHashedString() = default;
  explicit gmHashedString(const ::qorv::siblings::utString& s);
  gmHashedString(const gmHashedString&) = default;
  gmHashedString(gmHashedString&& other) noexcept;
  gmHashedString& operator=(const gmHashedString&) = default;
  gmHashedString& operator=(gmHashedString&& other) noexcept;
  ~gmHashedString() = default;

  const ::qorv::siblings::utString& string() const { return string_; }
  std::uint32_t hash() const { return hash_; }
  bool invalid() const { return string_.is_null(); }
  void set_invalid();

  bool operator==(const gmHashedString& other) const;
  bool operator!=(const gmHashedString& other) const { return !(*this == other); }
  // Negative, zero or positive.
  int compare(const gmHashedString& other) const;

  void serialize(::qorv::platform::CArchive& ar);

 private:
  ::qorv::siblings::utString string_;
  std::uint32_t hash_ = 0;
};

// The UtilityToolkit's FNV-1a hash of the string's bytes.
QORV_API std::uint32_t gm_cad_string_hash(const ::qorv::siblings::utString& s);
QORV_API std::uint32_t gm_cad_string_hash(const char* buffer, std::size_t length);
// Every slash of a non-null name becomes a backslash.
QORV_API void gm_replace_name_slashes(::qorv::siblings::utString& s);
