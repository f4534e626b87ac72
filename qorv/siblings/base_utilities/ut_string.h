// qorv/siblings/base_utilities/ut_string.h
//
// BaseUtilities: utRef, the intrusive atomic reference count of shared representations, and
// utString, a byte string that shares its representation between copies and copies it only
// when a shared one is about to change.
//
// Conventions a caller gets wrong:
// - A utString may be null (no representation), which is not the same as the empty string "":
//   is_null() tells them apart, empty() is true for both, and == treats both as empty text.
//   Constructing from a null character pointer gives the null string.
// - c_str() never returns null: a null string reads as "".
// - to_wide() widens with this platform's single-byte code page, ISO 8859-1: each byte becomes
//   the code point of the same value, so the conversion never fails and is reversible.
// - extract_string skips empty pieces: leading, doubled and trailing separators yield nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "qorv/platform/api.h"

namespace qorv::siblings {

// The count of references to a shared representation, kept as "references minus one" so that a
// fresh object (one owner) holds 0.
class QORV_API utRef {
 public:
  utRef() = default;
  utRef(const utRef&) = delete;
  utRef& operator=(const utRef&) = delete;

  void ref() const { count_.fetch_add(1, std::memory_order_relaxed); }
  // True when the caller dropped the last reference and must destroy the object.
  bool unref() const { return count_.fetch_sub(1, std::memory_order_acq_rel) == 0; }
  std::int32_t references() const { return count_.load(std::memory_order_acquire) + 1; }
  bool shared() const { return references() > 1; }

 protected:
  ~utRef() = default;

 private:
  mutable std::atomic<std::int32_t> count_{0};
};

class QORV_API utString {
 public:
  utString() = default;
  utString(const char* text);  // NOLINT: a character string converts implicitly
  utString(const char* text, std::size_t length);
  explicit utString(std::string_view text) : utString(text.data(), text.size()) {}
  utString(const utString& other);
  utString(utString&& other) noexcept : rep_(other.rep_) { other.rep_ = nullptr; }
  utString& operator=(const utString& other);
  utString& operator=(utString&& other) noexcept;
  ~utString();

  bool is_null() const { return rep_ == nullptr; }
  bool empty() const { return length() == 0; }
  std::size_t length() const;
  const char* c_str() const;
  const char* data() const { return c_str(); }
  std::string_view view() const { return {c_str(), length()}; }

  // Replaces every byte `from` by `to`; returns the number replaced. A null string stays null.
  std::size_t convert(char from, char to);
  utString& append(const char* text, std::size_t length);
  utString& operator+=(const utString& other) { return append(other.c_str(), other.length()); }
  utString& operator+=(const char* text);

  // The next piece of text between separator bytes, starting the scan at position (updated to
  // just past the piece); the null string when no piece is left.
  utString extract_string(std::size_t& position, const char* separators) const;

  // Byte-wise three-way comparison (unsigned bytes; a proper prefix is smaller).
  int compare(const utString& other) const;
  std::wstring to_wide() const;

  friend bool operator==(const utString& a, const utString& b) { return a.view() == b.view(); }
  friend bool operator!=(const utString& a, const utString& b) { return !(a == b); }
  friend bool operator<(const utString& a, const utString& b) { return a.compare(b) < 0; }

 private:
  struct Rep;
  static Rep* make(const char* text, std::size_t length, std::size_t capacity);
  static void release(Rep* rep);
  // Gives this string a representation of its own, able to hold `capacity` bytes.
  void own(std::size_t capacity);

  Rep* rep_ = nullptr;
};

}  // namespace qorv::siblings
