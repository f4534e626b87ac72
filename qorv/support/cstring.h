// qorv/support/cstring.h
//
// ERCString, the library's byte string, and ERCSubString, a window on one.
//
// An ERCString is a handle on a shared representation (ERCStringRef): one heap block of the
// 12-byte header below and capacity + 1 bytes of characters, always zero-terminated at length.
//   OFFSET  SIZE  FIELD
//        0     4  references minus one (0: one owner), changed atomically
//        4     4  length, bytes in use
//        8     4  capacity, usable bytes
//       12     .  the characters, a zero byte at [length]
// Copies share it; the first change to a shared string gives that string a copy of its own
// (copy on write). Every edit goes through replace(): it works in place only when the
// representation is unshared, holds the new length with at most 15 bytes to spare, and the
// replacement text is not inside the string's own buffer; otherwise a new representation of
// capacity adjustCapacity(new length) is made: 15 below 16 bytes, else the next multiple of 15.
// A string that shrinks by 16 bytes or more is therefore reallocated smaller.
//
// Conventions a caller gets wrong:
// - Positions and lengths are 32-bit ints; "not found" is -1.
// - Bytes compare as signed chars (compareTo), so "\x80" < "a"; hash() is not a byte hash but
//   the rotate-and-XOR of 4-byte little-endian words described at hash().
// - The capacity setters initialCapacity/resizeIncrement/maxWaste change nothing: the sizing
//   constants are fixed at 15.
// - Out-of-range substring bounds give the null substring (start -1), never a window past the
//   end; the non-const operator[] and operator() copy a shared string before returning a
//   reference, and that reference dies with the next edit.
// - readToDelim and its relatives treat an empty field as a success (an empty string, the
//   stream still good); nothing read before the end of the stream sets failbit.
// - ERFile << writes a 4-byte length then the characters, no terminator; >> refuses (an empty
//   string, result 0 from restoreFrom) a negative length or one longer than the rest of the
//   file, and never allocates more than the file holds.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>

#include "qorv/platform/api.h"

class ERCString;
class ERCSubString;
class ERCRegexp;
class ERFile;

// A capacity, kept apart from the character and count arguments of the constructors.
struct ERSize_T {
  explicit ERSize_T(std::size_t n) : value(n) {}
  std::size_t value;
};

// The shared representation; the characters follow the header in the same block.
class QORV_API ERCStringRef {
 public:
  std::int32_t length() const { return length_; }
  std::int32_t capacity() const { return capacity_; }
  std::int32_t references() const { return refs_.load(std::memory_order_acquire) + 1; }
  char* data() { return reinterpret_cast<char*>(this + 1); }
  const char* data() const { return reinterpret_cast<const char*>(this + 1); }

 private:
  friend class ERCString;
  ERCStringRef(std::int32_t length, std::int32_t capacity)
      : refs_(0), length_(length), capacity_(capacity) {}

  std::atomic<std::int32_t> refs_;
  std::int32_t length_;
  std::int32_t capacity_;
};
static_assert(sizeof(ERCStringRef) == 12, "a representation is 12 header bytes + capacity + 1");

class QORV_API ERCString {
 public:
  enum caseCompare { exact = 0, ignoreCase = 1 };
  enum stripType { leading = 1, trailing = 2, both = 3 };

  ERCString();
  ERCString(const char* s);  // NOLINT: implicit, as a literal is a string
  ERCString(const char* s, int n);
  explicit ERCString(char c);
  ERCString(char c, int count);
  explicit ERCString(ERSize_T capacity);
  ERCString(const ERCSubString& sub);  // NOLINT
  ERCString(const ERCString& other);
  ~ERCString();
  ERCString& operator=(const ERCString& other);
  ERCString& operator=(const char* s);

  // Sizing constants, fixed; the setters return their argument and change nothing.
  static int getInitialCapacity() { return 15; }
  static int getResizeIncrement() { return 15; }
  static int getMaxWaste() { return 15; }
  static int initialCapacity(int n) { return n; }
  static int resizeIncrement(int n) { return n; }
  static int maxWaste(int n) { return n; }
  // 15 when n < 16, else the smallest multiple of 15 not below n.
  static int adjustCapacity(int n);

  // ---- reading
  int length() const { return rep_->length_; }
  int capacity() const { return rep_->capacity_; }
  bool isNull() const { return rep_->length_ == 0; }
  bool isAscii() const;
  const char* data() const { return rep_->data(); }
  operator const char*() const { return rep_->data(); }  // NOLINT
  // The representation, for tests of sharing.
  const ERCStringRef* rep() const { return rep_; }

  char operator[](int i) const;
  char& operator[](int i);
  char operator()(int i) const { return (*this)[i]; }
  char& operator()(int i) { return (*this)[i]; }

  int first(char c) const;
  // First byte that is one of the bytes of set.
  int first(const char* set) const;
  int last(char c) const;

  // Exact: h = length, then for each whole 4-byte little-endian word w, h = rotl(h, 5) ^ w, and
  // the 1 to 3 bytes left fold into v = (v << 8) | sign-extended byte, h = rotl(h, 5) ^ v.
  // Ignoring case: h = length, then for each byte h = toupper(byte) ^ rotl(h, 5).
  unsigned hash(caseCompare cmp = exact) const;

  // -1, 0 or 1; bytes as signed chars, or lower-cased with the difference as a signed char.
  int compareTo(const ERCString& s, caseCompare cmp = exact) const;
  int compareTo(const char* s, caseCompare cmp = exact) const;
  bool contains(const ERCString& pat, caseCompare cmp = exact) const;
  bool contains(const char* pat, caseCompare cmp = exact) const;

  // Lowest position from start on where the pattern matches; start itself for an empty
  // pattern; -1 when start + pattern length passes the end.
  int index(const char* pat, int start = 0, caseCompare cmp = exact) const;
  int index(const char* pat, int patLength, int start, caseCompare cmp = exact) const;
  int index(const ERCString& pat, int start = 0, caseCompare cmp = exact) const;
  int index(const ERCString& pat, int patLength, int start, caseCompare cmp = exact) const;
  int index(const ERCRegexp& re, int start = 0) const;
  int index(const ERCRegexp& re, int* matchLength, int start = 0) const;

  // ---- changing; each returns the string
  ERCString& append(const char* s);
  ERCString& append(const char* s, int n);
  ERCString& append(const ERCString& s);
  ERCString& append(const ERCString& s, int n);
  ERCString& append(char c, int count = 1);
  ERCString& prepend(const char* s);
  ERCString& prepend(const char* s, int n);
  ERCString& prepend(const ERCString& s);
  ERCString& prepend(const ERCString& s, int n);
  ERCString& prepend(char c, int count = 1);
  ERCString& insert(int pos, const char* s);
  ERCString& insert(int pos, const char* s, int n);
  ERCString& insert(int pos, const ERCString& s);
  ERCString& insert(int pos, const ERCString& s, int n);
  // The single edit primitive: n bytes from pos (cut to what is there) become the k bytes of s.
  ERCString& replace(int pos, int n, const char* s);
  ERCString& replace(int pos, int n, const char* s, int k);
  ERCString& replace(int pos, int n, const ERCString& s);
  ERCString& replace(int pos, int n, const ERCString& s, int k);
  ERCString& remove(int pos);
  ERCString& remove(int pos, int n);
  ERCString& operator+=(const char* s) { return append(s); }
  ERCString& operator+=(const ERCString& s) { return append(s); }
  ERCString& operator+=(char c) { return append(c, 1); }
  // Grows with blanks or cuts.
  ERCString& resize(int n);
  // Reserves: when n exceeds the length and differs from the capacity, the string gets an
  // unshared representation of capacity n. Returns the capacity.
  int capacity(int n);
  ERCString& toLower();
  ERCString& toUpper();
  // An unshared copy.
  ERCString copy() const;

  // ---- substrings
  ERCSubString operator()(int start, int len);
  ERCSubString operator()(int start, int len) const;
  ERCSubString subString(const char* pat, int start = 0, caseCompare cmp = exact);
  ERCSubString subString(const char* pat, int start = 0, caseCompare cmp = exact) const;
  // Skips bytes equal to c at the start (bit 0) and the end (bit 1) of the string.
  ERCSubString strip(stripType s = trailing, char c = ' ');
  ERCSubString strip(stripType s = trailing, char c = ' ') const;
  ERCSubString operator()(const ERCRegexp& re, int start = 0);
  ERCSubString operator()(const ERCRegexp& re, int start = 0) const;

  // ---- streams
  std::istream& readLine(std::istream& in, bool skipWhite = true);
  std::istream& readString(std::istream& in);
  std::istream& readToDelim(std::istream& in, char delim = '\n');
  std::istream& readToken(std::istream& in);
  std::istream& readFile(std::istream& in);

  // ---- persistence
  void saveOn(ERFile& file) const;
  // 1, or 0 (the string empty) on a short read or a length the file cannot hold.
  int restoreFrom(ERFile& file);
  std::uint32_t binaryStoreSize() const { return static_cast<std::uint32_t>(length()) + 4; }

 private:
  friend class ERCSubString;

  static ERCStringRef* newRep(int length, int capacity);
  static void release(ERCStringRef* rep);
  // Before a change that keeps the size: a shared representation is copied (capacity = length).
  void cow();
  // Before a change that needs n bytes: copied with capacity n when shared or too small.
  void cow(int n);
  void clone(int capacity);
  // Empties the string, keeping an unshared representation of capacity at least n.
  void emptyUnshared(int n);
  // Takes text read from a stream whose buffer would have grown by 15 from start capacity c0.
  void takeGrown(const char* text, int length, int c0, bool oneMore);
  // Called with bounds that do not fit; does nothing.
  static void subStringError(int length, int start, int len) {
    static_cast<void>(length), static_cast<void>(start), static_cast<void>(len);
  }

  ERCStringRef* rep_;
};

class QORV_API ERCSubString {
 public:
  // Start -1 is the null substring.
  ERCSubString(const ERCString& s, int start, int len)
      : str_(const_cast<ERCString*>(&s)), begin_(start), extent_(start < 0 ? 0 : len) {}
  ERCSubString(const ERCSubString& other) = default;

  int length() const { return extent_; }
  int start() const { return begin_; }
  bool isNull() const { return begin_ == -1; }
  bool operator!() const { return isNull(); }
  // The window's first byte in the string (not terminated at the window's end); "" when null.
  const char* data() const { return isNull() ? "" : str_->data() + begin_; }

  char operator[](int i) const;
  char& operator[](int i);
  char operator()(int i) const { return (*this)[i]; }
  char& operator()(int i) { return (*this)[i]; }

  // Replace the window's text in the string; the window then covers the new text. A null
  // substring ignores them.
  ERCSubString& operator=(const ERCString& s);
  ERCSubString& operator=(const char* s);
  ERCSubString& operator=(const ERCSubString& s);

  void toLower();
  void toUpper();

 private:
  ERCSubString& assign(const char* s, int n);

  ERCString* str_;
  std::int32_t begin_;
  std::int32_t extent_;
};

QORV_API bool operator==(const ERCString& a, const ERCString& b);
QORV_API bool operator==(const ERCString& a, const char* b);
inline bool operator!=(const ERCString& a, const ERCString& b) { return !(a == b); }
inline bool operator!=(const ERCString& a, const char* b) { return !(a == b); }
inline bool operator<(const ERCString& a, const ERCString& b) { return a.compareTo(b) < 0; }
inline bool operator>(const ERCString& a, const ERCString& b) { return a.compareTo(b) > 0; }
inline bool operator<=(const ERCString& a, const ERCString& b) { return a.compareTo(b) <= 0; }
inline bool operator>=(const ERCString& a, const ERCString& b) { return a.compareTo(b) >= 0; }
QORV_API bool operator==(const ERCSubString& a, const char* b);
inline bool operator!=(const ERCSubString& a, const char* b) { return !(a == b); }

QORV_API ERCString operator+(const ERCString& a, const ERCString& b);
QORV_API ERCString operator+(const ERCString& a, const char* b);
QORV_API ERCString operator+(const char* a, const ERCString& b);

QORV_API std::ostream& operator<<(std::ostream& out, const ERCString& s);
QORV_API std::ostream& operator<<(std::ostream& out, const ERCSubString& s);
// Reads a token (readToken).
QORV_API std::istream& operator>>(std::istream& in, ERCString& s);

QORV_API ERFile& operator<<(ERFile& file, const ERCString& s);
QORV_API ERFile& operator>>(ERFile& file, ERCString& s);
