// qorv/support/regexp.h
//
// ERCRegexp: a compiled pattern of a small regular-expression language, searched in ERCStrings.
//
// Language: literal bytes; `.` any byte; `[...]` a class (`[^...]` negated, `a-z` ranges, a
// reversed range taken in order, `-` literal when first or just before `]`); the closures `*`
// (zero or more), `+` (one or more) and `?` (zero or one) after an element; `^` first in the
// pattern anchors at the start of the searched text and `$` last in the pattern at its end
// (elsewhere both are literals). Escapes, letter case ignored: \b 8, \e 27, \f 12, \n 10,
// \r 13, \s 32, \t 9, \xHH (up to two hex digits), \^X control (X - 64), \ooo (one to three
// octal digits), a final \ is a backslash, \ before anything else is that byte.
//
// Compiled form: at most 128 32-bit codes, the end code included. A literal is its byte value;
// other codes are 0x8000 + the pattern character: 0x8000 end, 0x8024 end of line, 0x802A `*`,
// 0x802B `+`, 0x803F `?`, 0x802E any, 0x805E beginning of line, 0x805B class followed by 16
// words whose low 16 bits hold the 256-bit set (bit c % 16 of word c / 16). A closure code
// stands before the element it applies to.
//
// Conventions a caller gets wrong:
// - status() reports the compilation (0 compiled; 1 empty pattern or a leading closure; 2 no
//   pattern buffer; 3 too long, a closure after `^`, `$` or another closure, or a class without
//   its `]`) and then resets to 0; the pattern itself stays unusable and never matches.
// - Matching is greedy and leftmost: the first start position that matches wins, and each
//   closure gives back one byte at a time only as far as the rest of the pattern needs.
// - `^` matches at the start position of the search, not only at the string's first byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "qorv/platform/api.h"

class ERCString;

class QORV_API ERCRegexp {
 public:
  enum statVal { OK = 0, ILLEGAL = 1, NOMEMORY = 2, TOOLONG = 3 };

  static constexpr int kMaxCodes = 128;
  static constexpr std::uint32_t kEnd = 0x8000;
  static constexpr std::uint32_t kEol = 0x8024;
  static constexpr std::uint32_t kStar = 0x802A;
  static constexpr std::uint32_t kPlus = 0x802B;
  static constexpr std::uint32_t kAny = 0x802E;
  static constexpr std::uint32_t kOptional = 0x803F;
  static constexpr std::uint32_t kClass = 0x805B;
  static constexpr std::uint32_t kBol = 0x805E;

  explicit ERCRegexp(const char* pattern);
  explicit ERCRegexp(const ERCString& pattern);
  ERCRegexp(const ERCRegexp& other);
  ERCRegexp& operator=(const ERCRegexp& other);
  ERCRegexp& operator=(const char* pattern);
  ERCRegexp& operator=(const ERCString& pattern);
  ~ERCRegexp();

  // Start (in s) of the first match at or after start, or -1; *matchLength gets its length
  // (0 when none).
  int index(const ERCString& s, int* matchLength, int start = 0) const;
  // The compilation status, which then resets to 0.
  statVal status();

  // The compiled codes (kMaxCodes of them), null without a buffer.
  const std::uint32_t* codes() const { return codes_.get(); }

 private:
  void compile(const char* pattern, std::size_t length);

  std::unique_ptr<std::uint32_t[]> codes_;
  statVal stat_ = OK;
  bool usable_ = false;  // compiled without error: an unusable pattern matches nothing
};
