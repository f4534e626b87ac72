#include "qorv/support/cstring.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "qorv/foundation/assert.h"
#include "qorv/persistence/file.h"
#include "qorv/support/regexp.h"

namespace {

constexpr int kIncrement = 15;

// ASCII case mapping, independent of the process locale.
inline unsigned char lowerByte(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }
inline unsigned char upperByte(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

inline std::uint32_t rotl5(std::uint32_t h) { return (h << 5) | (h >> 27); }

int checkedLength(std::size_t n) {
  QORV_ASSERT(n <= static_cast<std::size_t>(INT_MAX - 2 * kIncrement));
  return static_cast<int>(n);
}

int cStringLength(const char* s) { return s == nullptr ? 0 : checkedLength(std::strlen(s)); }

// Whether p points into [begin, end), without comparing unrelated pointers directly.
bool inside(const char* p, const char* begin, const char* end) {
  const std::less<const char*> less;
  return p != nullptr && !less(p, begin) && less(p, end);
}

bool sameBytes(const char* a, const char* b, int n, ERCString::caseCompare cmp) {
  if (cmp == ERCString::exact) return std::memcmp(a, b, static_cast<std::size_t>(n)) == 0;
  for (int i = 0; i < n; ++i)
    if (lowerByte(static_cast<unsigned char>(a[i])) != lowerByte(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The smallest c0 + 15k (k >= 0) not below n, or above n when strictlyAbove.
int grownCapacity(int c0, int n, bool strictlyAbove) {
  const long long need = static_cast<long long>(n) + (strictlyAbove ? 1 : 0);
  if (need <= c0) return c0;
  const long long steps = (need - c0 + kIncrement - 1) / kIncrement;
  return static_cast<int>(c0 + steps * kIncrement);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Representation management

ERCStringRef* ERCString::newRep(int length, int capacity) {
  QORV_ASSERT(length >= 0 && capacity >= length);
  void* block = ::operator new(sizeof(ERCStringRef) + static_cast<std::size_t>(capacity) + 1);
  auto* rep = new (block) ERCStringRef(length, capacity);
  rep->data()[length] = '\0';
  return rep;
}

void ERCString::release(ERCStringRef* rep) {
  // The owner that takes the counter from 0 (one reference) frees the block.
  if (rep->refs_.fetch_sub(1, std::memory_order_acq_rel) == 0) {
    rep->~ERCStringRef();
    ::operator delete(rep);
  }
}

int ERCString::adjustCapacity(int n) {
  if (n < 16) return kIncrement;
  return static_cast<int>((static_cast<long long>(n) + kIncrement - 1) / kIncrement * kIncrement);
}

void ERCString::clone(int capacity) {
  const int n = std::min(length(), capacity);
  ERCStringRef* fresh = newRep(n, capacity);
  std::memcpy(fresh->data(), data(), static_cast<std::size_t>(n));
  release(rep_);
  rep_ = fresh;
}

void ERCString::cow() {
  if (rep_->references() > 1) clone(length());
}

void ERCString::cow(int n) {
  if (rep_->references() > 1 || capacity() < n) clone(n);
}

void ERCString::emptyUnshared(int n) {
  cow(n);
  rep_->length_ = 0;
  rep_->data()[0] = '\0';
}

void ERCString::takeGrown(const char* text, int n, int c0, bool oneMore) {
  const int cap = grownCapacity(c0, n, oneMore);
  if (cap != capacity()) clone(cap);  // the string is unshared and empty here
  std::memcpy(rep_->data(), text, static_cast<std::size_t>(n));
  rep_->length_ = n;
  rep_->data()[n] = '\0';
}

// ---------------------------------------------------------------------------------------------
// Construction

ERCString::ERCString() : rep_(newRep(0, kIncrement)) {}

ERCString::ERCString(const char* s) : ERCString(s, cStringLength(s)) {}

ERCString::ERCString(const char* s, int n) {
  if (s == nullptr || n < 0) n = 0;
  rep_ = newRep(n, adjustCapacity(n));
  if (n != 0) std::memcpy(rep_->data(), s, static_cast<std::size_t>(n));
}

ERCString::ERCString(char c) : ERCString(c, 1) {}

ERCString::ERCString(char c, int count) {
  if (count < 0) count = 0;
  rep_ = newRep(count, adjustCapacity(count));
  std::memset(rep_->data(), c, static_cast<std::size_t>(count));
}

ERCString::ERCString(ERSize_T capacity) : rep_(newRep(0, checkedLength(capacity.value))) {}

ERCString::ERCString(const ERCSubString& sub) : ERCString(sub.data(), sub.length()) {}

ERCString::ERCString(const ERCString& other) : rep_(other.rep_) {
  rep_->refs_.fetch_add(1, std::memory_order_relaxed);
}

ERCString::~ERCString() { release(rep_); }

ERCString& ERCString::operator=(const ERCString& other) {
  other.rep_->refs_.fetch_add(1, std::memory_order_relaxed);
  release(rep_);
  rep_ = other.rep_;
  return *this;
}

ERCString& ERCString::operator=(const char* s) { return replace(0, length(), s, cStringLength(s)); }

ERCString ERCString::copy() const { return ERCString(data(), length()); }

// ---------------------------------------------------------------------------------------------
// Reading

bool ERCString::isAscii() const {
  for (int i = 0; i < length(); ++i)
    if (static_cast<unsigned char>(data()[i]) >= 0x80) return false;
  return true;
}

char ERCString::operator[](int i) const {
  QORV_ASSERT(i >= 0 && i <= length());
  return (i < 0 || i > length()) ? '\0' : data()[i];
}

char& ERCString::operator[](int i) {
  QORV_ASSERT(i >= 0 && i < length());
  cow();
  // Out of range: a scratch byte, so a wrong index never writes outside the string.
  static thread_local char scratch;
  if (i < 0 || i >= length()) return scratch = '\0';
  return rep_->data()[i];
}

int ERCString::first(char c) const {
  const void* p = std::memchr(data(), c, static_cast<std::size_t>(length()));
  return p == nullptr ? -1 : static_cast<int>(static_cast<const char*>(p) - data());
}

int ERCString::first(const char* set) const {
  if (set == nullptr) return -1;
  const std::size_t n = std::strlen(set);
  for (int i = 0; i < length(); ++i)
    if (std::memchr(set, data()[i], n) != nullptr) return i;
  return -1;
}

int ERCString::last(char c) const {
  for (int i = length() - 1; i >= 0; --i)
    if (data()[i] == c) return i;
  return -1;
}

unsigned ERCString::hash(caseCompare cmp) const {
  const auto* p = reinterpret_cast<const unsigned char*>(data());
  const int n = length();
  std::uint32_t h = static_cast<std::uint32_t>(n);
  if (cmp == ignoreCase) {
    for (int i = 0; i < n; ++i) h = upperByte(p[i]) ^ rotl5(h);
    return h;
  }
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const std::uint32_t w =
        p[i] | p[i + 1] << 8 | p[i + 2] << 16 | static_cast<std::uint32_t>(p[i + 3]) << 24;
    h = rotl5(h) ^ w;
  }
  if (i < n) {
    std::uint32_t v = 0;
    for (; i < n; ++i)
      v = (v << 8) |
          static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(p[i])));
    h = rotl5(h) ^ v;
  }
  return h;
}

namespace {

int compareBytes(const char* a, int na, const char* b, int nb, ERCString::caseCompare cmp) {
  if (nb == 0) return na != 0 ? 1 : 0;
  const int n = std::min(na, nb);
  for (int i = 0; i < n; ++i) {
    int d;
    if (cmp == ERCString::exact) {
      d = static_cast<signed char>(a[i]) - static_cast<signed char>(b[i]);
    } else {
      d = static_cast<signed char>(
          static_cast<unsigned char>(lowerByte(static_cast<unsigned char>(a[i])) -
                                     lowerByte(static_cast<unsigned char>(b[i]))));
    }
    if (d != 0) return d < 0 ? -1 : 1;
  }
  if (na < nb) return -1;
  return na > nb ? 1 : 0;
}

}  // namespace

int ERCString::compareTo(const ERCString& s, caseCompare cmp) const {
  return compareBytes(data(), length(), s.data(), s.length(), cmp);
}

int ERCString::compareTo(const char* s, caseCompare cmp) const {
  return compareBytes(data(), length(), s == nullptr ? "" : s, cStringLength(s), cmp);
}

bool ERCString::contains(const ERCString& pat, caseCompare cmp) const {
  return index(pat.data(), pat.length(), 0, cmp) != -1;
}

bool ERCString::contains(const char* pat, caseCompare cmp) const {
  return index(pat, cStringLength(pat), 0, cmp) != -1;
}

int ERCString::index(const char* pat, int start, caseCompare cmp) const {
  return index(pat, cStringLength(pat), start, cmp);
}

int ERCString::index(const char* pat, int patLength, int start, caseCompare cmp) const {
  if (pat == nullptr || patLength < 0) patLength = 0;
  if (start < 0) return -1;
  if (static_cast<long long>(start) + patLength > length()) return -1;
  if (patLength == 0) return start;
  const int lastStart = length() - patLength;
  for (int i = start; i <= lastStart; ++i)
    if (sameBytes(data() + i, pat, patLength, cmp)) return i;
  return -1;
}

int ERCString::index(const ERCString& pat, int start, caseCompare cmp) const {
  return index(pat.data(), pat.length(), start, cmp);
}

int ERCString::index(const ERCString& pat, int patLength, int start, caseCompare cmp) const {
  return index(pat.data(), std::min(patLength, pat.length()), start, cmp);
}

int ERCString::index(const ERCRegexp& re, int start) const {
  int len = 0;
  return re.index(*this, &len, start);
}

int ERCString::index(const ERCRegexp& re, int* matchLength, int start) const {
  int len = 0;
  const int at = re.index(*this, &len, start);
  if (matchLength != nullptr) *matchLength = len;
  return at;
}

// ---------------------------------------------------------------------------------------------
// Changing

ERCString& ERCString::replace(int pos, int n, const char* s, int k) {
  const int len = length();
  if (pos < 0 || pos > len) {
    subStringError(len, pos, n);
    pos = std::clamp(pos, 0, len);
  }
  n = std::clamp(n, 0, len - pos);
  if (s == nullptr || k < 0) k = 0;
  const int tail = len - pos - n;
  const int newLength = checkedLength(static_cast<std::size_t>(len) - n + k);
  char* buf = rep_->data();
  const bool ownText = inside(s, buf, buf + capacity() + 1);
  if (rep_->references() == 1 && newLength <= capacity() && capacity() - newLength <= 15 &&
      !ownText) {
    if (n != k && tail != 0)
      std::memmove(buf + pos + k, buf + pos + n, static_cast<std::size_t>(tail));
    if (k != 0) std::memcpy(buf + pos, s, static_cast<std::size_t>(k));
    rep_->length_ = newLength;
    buf[newLength] = '\0';
    return *this;
  }
  ERCStringRef* fresh = newRep(newLength, adjustCapacity(newLength));
  char* out = fresh->data();
  std::memcpy(out, buf, static_cast<std::size_t>(pos));
  if (k != 0) std::memcpy(out + pos, s, static_cast<std::size_t>(k));
  std::memcpy(out + pos + k, buf + pos + n, static_cast<std::size_t>(tail));
  release(rep_);
  rep_ = fresh;
  return *this;
}

ERCString& ERCString::replace(int pos, int n, const char* s) {
  return replace(pos, n, s, cStringLength(s));
}
ERCString& ERCString::replace(int pos, int n, const ERCString& s) {
  return replace(pos, n, s.data(), s.length());
}
ERCString& ERCString::replace(int pos, int n, const ERCString& s, int k) {
  return replace(pos, n, s.data(), std::clamp(k, 0, s.length()));
}

ERCString& ERCString::append(const char* s) { return replace(length(), 0, s, cStringLength(s)); }
ERCString& ERCString::append(const char* s, int n) { return replace(length(), 0, s, n); }
ERCString& ERCString::append(const ERCString& s) { return replace(length(), 0, s); }
ERCString& ERCString::append(const ERCString& s, int n) { return replace(length(), 0, s, n); }
ERCString& ERCString::append(char c, int count) {
  if (count <= 0) return *this;
  const std::string text(static_cast<std::size_t>(count), c);
  return replace(length(), 0, text.data(), count);
}

ERCString& ERCString::prepend(const char* s) { return replace(0, 0, s, cStringLength(s)); }
ERCString& ERCString::prepend(const char* s, int n) { return replace(0, 0, s, n); }
ERCString& ERCString::prepend(const ERCString& s) { return replace(0, 0, s); }
ERCString& ERCString::prepend(const ERCString& s, int n) { return replace(0, 0, s, n); }
ERCString& ERCString::prepend(char c, int count) {
  if (count <= 0) return *this;
  const std::string text(static_cast<std::size_t>(count), c);
  return replace(0, 0, text.data(), count);
}

ERCString& ERCString::insert(int pos, const char* s) { return replace(pos, 0, s); }
ERCString& ERCString::insert(int pos, const char* s, int n) { return replace(pos, 0, s, n); }
ERCString& ERCString::insert(int pos, const ERCString& s) { return replace(pos, 0, s); }
ERCString& ERCString::insert(int pos, const ERCString& s, int n) { return replace(pos, 0, s, n); }

ERCString& ERCString::remove(int pos) { return replace(pos, length() - pos, nullptr, 0); }
ERCString& ERCString::remove(int pos, int n) { return replace(pos, n, nullptr, 0); }

ERCString& ERCString::resize(int n) {
  if (n < 0) n = 0;
  if (n < length()) return remove(n);
  if (n > length()) return append(' ', n - length());
  return *this;
}

int ERCString::capacity(int n) {
  if (n > length() && n != capacity()) clone(n);
  return capacity();
}

ERCString& ERCString::toLower() {
  cow();
  char* p = rep_->data();
  for (int i = 0; i < length(); ++i)
    p[i] = static_cast<char>(lowerByte(static_cast<unsigned char>(p[i])));
  return *this;
}

ERCString& ERCString::toUpper() {
  cow();
  char* p = rep_->data();
  for (int i = 0; i < length(); ++i)
    p[i] = static_cast<char>(upperByte(static_cast<unsigned char>(p[i])));
  return *this;
}

// ---------------------------------------------------------------------------------------------
// Substrings

ERCSubString ERCString::operator()(int start, int len) {
  return static_cast<const ERCString&>(*this)(start, len);
}

ERCSubString ERCString::operator()(int start, int len) const {
  if (start < 0 || len < 0 || static_cast<long long>(start) + len > length()) {
    subStringError(length(), start, len);
    return ERCSubString(*this, -1, 0);
  }
  return ERCSubString(*this, start, len);
}

ERCSubString ERCString::subString(const char* pat, int start, caseCompare cmp) {
  return static_cast<const ERCString&>(*this).subString(pat, start, cmp);
}

ERCSubString ERCString::subString(const char* pat, int start, caseCompare cmp) const {
  const int n = cStringLength(pat);
  const int at = index(pat, n, start, cmp);
  return at == -1 ? ERCSubString(*this, -1, 0) : ERCSubString(*this, at, n);
}

ERCSubString ERCString::strip(stripType s, char c) {
  return static_cast<const ERCString&>(*this).strip(s, c);
}

ERCSubString ERCString::strip(stripType s, char c) const {
  int begin = 0, end = length();
  if (s & leading)
    while (begin < end && data()[begin] == c) ++begin;
  if (s & trailing)
    while (end > begin && data()[end - 1] == c) --end;
  if (begin == end) return ERCSubString(*this, -1, 0);
  return ERCSubString(*this, begin, end - begin);
}

ERCSubString ERCString::operator()(const ERCRegexp& re, int start) {
  return static_cast<const ERCString&>(*this)(re, start);
}

ERCSubString ERCString::operator()(const ERCRegexp& re, int start) const {
  int len = 0;
  const int at = re.index(*this, &len, start);
  return at == -1 ? ERCSubString(*this, -1, 0) : ERCSubString(*this, at, len);
}

// ---------------------------------------------------------------------------------------------
// Streams. The text is gathered first, then stored once in the capacity that growing the
// buffer by 15 from its starting capacity would have reached; the stream states follow the
// standard extraction functions (an empty field is a success).

std::istream& ERCString::readToDelim(std::istream& in, char delim) {
  emptyUnshared(kIncrement);
  const int c0 = capacity();
  std::string text;
  std::getline(in, text, delim);
  takeGrown(text.data(), checkedLength(text.size()), c0, false);
  return in;
}

std::istream& ERCString::readLine(std::istream& in, bool skipWhite) {
  if (skipWhite) in >> std::ws;
  return readToDelim(in, '\n');
}

std::istream& ERCString::readString(std::istream& in) { return readToDelim(in, '\0'); }

std::istream& ERCString::readToken(std::istream& in) {
  emptyUnshared(kIncrement);
  const int c0 = capacity();
  std::string text;
  in >> std::ws;
  std::istream::sentry ok(in, true);
  if (ok) {
    std::streambuf* buf = in.rdbuf();
    for (;;) {
      const int c = buf->sgetc();
      if (c == std::char_traits<char>::eof()) {
        in.setstate(std::ios::eofbit);
        break;
      }
      buf->sbumpc();
      if (std::isspace(c)) break;
      text.push_back(static_cast<char>(c));
    }
  }
  if (text.empty()) in.setstate(std::ios::failbit);
  takeGrown(text.data(), checkedLength(text.size()), c0, false);
  return in;
}

std::istream& ERCString::readFile(std::istream& in) {
  emptyUnshared(0);
  const int c0 = capacity();
  std::string text;
  char block[4096];
  while (in.good()) {
    in.read(block, sizeof block);
    text.append(block, static_cast<std::size_t>(in.gcount()));
  }
  // A block that fills the free space exactly leaves the stream good, so the buffer then
  // grows once more: the capacity ends strictly above the text.
  takeGrown(text.data(), checkedLength(text.size()), c0, true);
  return in;
}

// ---------------------------------------------------------------------------------------------
// Persistence

void ERCString::saveOn(ERFile& file) const {
  file.Write(static_cast<int>(length()));
  file.Write(data(), static_cast<unsigned>(length()));
}

int ERCString::restoreFrom(ERFile& file) {
  int n = 0;
  std::string text;
  bool ok = file.Read(n) != 0;
  if (ok) {
    // The length word is trusted only as far as the file reaches.
    const std::uint64_t position = file.GetPosition(), size = file.GetLength();
    const std::uint64_t left = size > position ? size - position : 0;
    ok = n >= 0 && static_cast<std::uint64_t>(n) <= left;
  }
  if (ok) {
    text.resize(static_cast<std::size_t>(n));
    ok = file.Read(text.data(), static_cast<unsigned>(n)) != 0;
  }
  if (!ok) text.clear();
  replace(0, length(), text.data(), static_cast<int>(text.size()));
  return ok ? 1 : 0;
}

ERFile& operator<<(ERFile& file, const ERCString& s) {
  s.saveOn(file);
  return file;
}

ERFile& operator>>(ERFile& file, ERCString& s) {
  s.restoreFrom(file);
  return file;
}

// ---------------------------------------------------------------------------------------------
// Substring windows

char ERCSubString::operator[](int i) const {
  QORV_ASSERT(i >= 0 && i < extent_);
  if (isNull() || i < 0 || i >= extent_) return '\0';
  return str_->data()[begin_ + i];
}

char& ERCSubString::operator[](int i) {
  QORV_ASSERT(i >= 0 && i < extent_);
  static thread_local char scratch;
  if (isNull() || i < 0 || i >= extent_) return scratch = '\0';
  return (*str_)[begin_ + i];
}

ERCSubString& ERCSubString::assign(const char* s, int n) {
  if (isNull()) return *this;
  str_->replace(begin_, extent_, s, n);
  extent_ = n;
  return *this;
}

ERCSubString& ERCSubString::operator=(const ERCString& s) { return assign(s.data(), s.length()); }

ERCSubString& ERCSubString::operator=(const char* s) {
  return assign(s, s == nullptr ? 0 : static_cast<int>(std::strlen(s)));
}

ERCSubString& ERCSubString::operator=(const ERCSubString& s) {
  // The source may be a window on the same string: take its text first.
  const ERCString text(s);
  return assign(text.data(), text.length());
}

void ERCSubString::toLower() {
  if (isNull() || extent_ == 0) return;
  str_->cow();
  char* p = str_->rep_->data() + begin_;
  for (int i = 0; i < extent_; ++i)
    p[i] = static_cast<char>(lowerByte(static_cast<unsigned char>(p[i])));
}

void ERCSubString::toUpper() {
  if (isNull() || extent_ == 0) return;
  str_->cow();
  char* p = str_->rep_->data() + begin_;
  for (int i = 0; i < extent_; ++i)
    p[i] = static_cast<char>(upperByte(static_cast<unsigned char>(p[i])));
}

// ---------------------------------------------------------------------------------------------
// Free operators

bool operator==(const ERCString& a, const ERCString& b) {
  return a.length() == b.length() &&
         std::memcmp(a.data(), b.data(), static_cast<std::size_t>(a.length())) == 0;
}

bool operator==(const ERCString& a, const char* b) {
  if (b == nullptr) return a.length() == 0;
  const std::size_t n = std::strlen(b);
  return n == static_cast<std::size_t>(a.length()) && std::memcmp(a.data(), b, n) == 0;
}

bool operator==(const ERCSubString& a, const char* b) {
  if (b == nullptr) return a.length() == 0;
  const std::size_t n = std::strlen(b);
  return n == static_cast<std::size_t>(a.length()) && std::memcmp(a.data(), b, n) == 0;
}

ERCString operator+(const ERCString& a, const ERCString& b) {
  ERCString r(a.data(), a.length());
  return r.append(b);
}

ERCString operator+(const ERCString& a, const char* b) {
  ERCString r(a.data(), a.length());
  return r.append(b);
}

ERCString operator+(const char* a, const ERCString& b) {
  ERCString r(a);
  return r.append(b);
}

std::ostream& operator<<(std::ostream& out, const ERCString& s) {
  return out.write(s.data(), s.length());
}

std::ostream& operator<<(std::ostream& out, const ERCSubString& s) {
  return out.write(s.data(), s.length());
}

std::istream& operator>>(std::istream& in, ERCString& s) { return s.readToken(in); }
