#include "qorv/support/regexp.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "qorv/support/cstring.h"

namespace {

using Code = std::uint32_t;
constexpr int kClassWords = 16;

bool isClosure(Code c) {
  return c == ERCRegexp::kStar || c == ERCRegexp::kPlus || c == ERCRegexp::kOptional;
}

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one byte of the pattern at i, through the escape rules; advances i past it.
unsigned char readByte(const unsigned char* p, std::size_t n, std::size_t& i) {
  if (p[i] != '\\') return p[i++];
  if (i + 1 == n) {  // a final backslash is itself
    ++i;
    return '\\';
  }
  const unsigned char c = p[i + 1];
  i += 2;
  switch (c | 0x20) {  // the escape letter's case does not matter
    case 'b':
      return 8;
    case 'e':
      return 27;
    case 'f':
      return 12;
    case 'n':
      return 10;
    case 'r':
      return 13;
    case 's':
      return 32;
    case 't':
      return 9;
    case 'x': {
      int v = 0;
      for (int k = 0; k < 2 && i < n && hexValue(p[i]) >= 0; ++k) v = v * 16 + hexValue(p[i++]);
      return static_cast<unsigned char>(v);
    }
    default:
      break;
  }
  if (c == '^') {
    if (i == n) return '^';  // nothing to make a control character of
    return static_cast<unsigned char>(p[i++] - 64);
  }
  if (c >= '0' && c <= '7') {
    int v = c - '0';
    for (int k = 1; k < 3 && i < n && p[i] >= '0' && p[i] <= '7'; ++k) v = v * 8 + (p[i++] - '0');
    return static_cast<unsigned char>(v);
  }
  return c;
}

// Size in codes of the element at pi (a closure's element, a literal, any, or a class).
int elementSize(const Code* codes, int pi) { return codes[pi] == ERCRegexp::kClass ? 17 : 1; }

bool elementMatches(const Code* codes, int pi, unsigned char c) {
  const Code code = codes[pi];
  if (code == ERCRegexp::kAny) return true;
  if (code == ERCRegexp::kClass) return (codes[pi + 1 + c / 16] >> (c % 16)) & 1u;
  return code == c;
}

// Backtracking matcher over one text. A failed (closure, text position) pair is remembered
// when the pattern has two closures or more, so nested closures cost at most one trial per
// pair instead of a product of counts.
class Matcher {
 public:
  Matcher(const Code* codes, const unsigned char* text, int n) : codes_(codes), text_(text), n_(n) {
    for (int pi = 0; codes_[pi] != ERCRegexp::kEnd; pi += isClosure(codes_[pi]) ? 1 : size(pi))
      if (isClosure(codes_[pi])) closureSlot_[pi] = closures_++;
    if (closures_ >= 2)
      failed_.assign(static_cast<std::size_t>(closures_) * (static_cast<std::size_t>(n) + 1),
                     false);
  }

  // End of the match of codes[pi...] against text[ti...], or -1.
  int match(int pi, int ti) {
    for (;;) {
      const Code code = codes_[pi];
      if (code == ERCRegexp::kEnd) return ti;
      if (isClosure(code)) return closure(pi, ti);
      if (code == ERCRegexp::kBol) {
        if (ti != 0) return -1;
        ++pi;
      } else if (code == ERCRegexp::kEol) {
        if (ti != n_) return -1;
        ++pi;
      } else {
        if (ti >= n_ || !elementMatches(codes_, pi, text_[ti])) return -1;
        ++ti;
        pi += size(pi);
      }
    }
  }

 private:
  int size(int pi) const {
    return codes_[pi] == ERCRegexp::kBol || codes_[pi] == ERCRegexp::kEol ? 1
                                                                          : elementSize(codes_, pi);
  }

  int closure(int pi, int ti) {
    const std::size_t memo =
        failed_.empty() ? 0 : static_cast<std::size_t>(closureSlot_[pi]) * (n_ + 1) + ti;
    if (!failed_.empty() && failed_[memo]) return -1;
    const Code code = codes_[pi];
    const int element = pi + 1, next = element + elementSize(codes_, element);
    const int most = code == ERCRegexp::kOptional ? std::min(1, n_ - ti) : n_ - ti;
    const int least = code == ERCRegexp::kPlus ? 1 : 0;
    int count = 0;
    while (count < most && elementMatches(codes_, element, text_[ti + count])) ++count;
    for (int k = count; k >= least; --k) {
      const int end = match(next, ti + k);
      if (end >= 0) return end;
    }
    if (!failed_.empty()) failed_[memo] = true;
    return -1;
  }

  const Code* codes_;
  const unsigned char* text_;
  int n_;
  int closures_ = 0;
  int closureSlot_[ERCRegexp::kMaxCodes] = {};
  std::vector<bool> failed_;
};

}  // namespace

ERCRegexp::ERCRegexp(const char* pattern) {
  compile(pattern, pattern == nullptr ? 0 : std::strlen(pattern));
}

ERCRegexp::ERCRegexp(const ERCString& pattern) {
  compile(pattern.data(), static_cast<std::size_t>(pattern.length()));
}

ERCRegexp::ERCRegexp(const ERCRegexp& other)
    : codes_(new (std::nothrow) Code[kMaxCodes]), stat_(other.stat_), usable_(other.usable_) {
  if (!codes_) {
    stat_ = NOMEMORY;
    usable_ = false;
  } else if (other.codes_) {
    std::copy_n(other.codes_.get(), kMaxCodes, codes_.get());
  } else {
    usable_ = false;
  }
}

ERCRegexp& ERCRegexp::operator=(const ERCRegexp& other) {
  if (this == &other) return *this;
  if (!codes_) codes_.reset(new (std::nothrow) Code[kMaxCodes]);
  stat_ = other.stat_;
  usable_ = other.usable_ && codes_ && other.codes_;
  if (!codes_) {
    stat_ = NOMEMORY;
  } else if (other.codes_) {
    std::copy_n(other.codes_.get(), kMaxCodes, codes_.get());
  }
  return *this;
}

ERCRegexp& ERCRegexp::operator=(const char* pattern) {
  compile(pattern, pattern == nullptr ? 0 : std::strlen(pattern));
  return *this;
}

ERCRegexp& ERCRegexp::operator=(const ERCString& pattern) {
  compile(pattern.data(), static_cast<std::size_t>(pattern.length()));
  return *this;
}

ERCRegexp::~ERCRegexp() = default;

ERCRegexp::statVal ERCRegexp::status() {
  const statVal s = stat_;
  stat_ = OK;
  return s;
}

void ERCRegexp::compile(const char* pattern, std::size_t n) {
  usable_ = false;
  if (!codes_) codes_.reset(new (std::nothrow) Code[kMaxCodes]);
  if (!codes_) {
    stat_ = NOMEMORY;
    return;
  }
  Code* codes = codes_.get();
  std::fill_n(codes, kMaxCodes, 0);
  codes[0] = kEnd;  // whatever happens below, the buffer holds a terminated pattern
  const auto* p = reinterpret_cast<const unsigned char*>(pattern);
  if (n == 0 || p[0] == '*' || p[0] == '+' || p[0] == '?') {
    stat_ = ILLEGAL;
    return;
  }

  enum class Last { none, element, anchor, closure };
  Last last = Last::none;
  int lastStart = -1;  // first code of the last element (of its closure, once it has one)
  int used = 0;
  // Room for `extra` more codes and the end code.
  auto fits = [&](int extra) { return used + extra + 1 <= kMaxCodes; };
  auto fail = [&](statVal s) {
    codes[0] = kEnd;
    stat_ = s;
  };

  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c == '*' || c == '+' || c == '?') {
      if (last != Last::element) return fail(TOOLONG);
      if (!fits(1)) return fail(TOOLONG);
      std::copy_backward(codes + lastStart, codes + used, codes + used + 1);
      codes[lastStart] = 0x8000u + c;
      ++used;
      last = Last::closure;
      ++i;
      continue;
    }
    if (c == '^' && i == 0) {
      if (!fits(1)) return fail(TOOLONG);
      lastStart = used;
      codes[used++] = kBol;
      last = Last::anchor;
      ++i;
      continue;
    }
    if (c == '$' && i + 1 == n) {
      if (!fits(1)) return fail(TOOLONG);
      lastStart = used;
      codes[used++] = kEol;
      last = Last::anchor;
      ++i;
      continue;
    }
    if (c == '[') {
      ++i;
      const bool negate = i < n && p[i] == '^';
      if (negate) ++i;
      Code set[kClassWords] = {};
      auto add = [&set](unsigned a, unsigned b) {
        if (a > b) std::swap(a, b);
        for (unsigned v = a; v <= b; ++v) set[v / 16] |= 1u << (v % 16);
      };
      bool first = true, closed = false;
      while (i < n) {
        if (p[i] == ']') {
          closed = true;
          ++i;
          break;
        }
        if (p[i] == '-' && (first || (i + 1 < n && p[i + 1] == ']'))) {
          add('-', '-');
          ++i;
        } else {
          const unsigned char lo = readByte(p, n, i);
          if (i + 1 < n && p[i] == '-' && p[i + 1] != ']') {
            ++i;
            add(lo, readByte(p, n, i));
          } else {
            add(lo, lo);
          }
        }
        first = false;
      }
      if (!closed || !fits(1 + kClassWords)) return fail(TOOLONG);
      lastStart = used;
      codes[used++] = kClass;
      for (int k = 0; k < kClassWords; ++k) codes[used++] = negate ? (~set[k] & 0xFFFFu) : set[k];
      last = Last::element;
      continue;
    }
    if (!fits(1)) return fail(TOOLONG);
    lastStart = used;
    codes[used++] = c == '.' ? kAny : readByte(p, n, i);
    if (c == '.') ++i;
    last = Last::element;
  }
  codes[used] = kEnd;
  stat_ = OK;
  usable_ = true;
}

int ERCRegexp::index(const ERCString& s, int* matchLength, int start) const {
  if (matchLength != nullptr) *matchLength = 0;
  if (!usable_ || !codes_ || start < 0 || start > s.length()) return -1;
  const auto* text = reinterpret_cast<const unsigned char*>(s.data()) + start;
  const int n = s.length() - start;
  Matcher m(codes_.get(), text, n);
  const bool anchored = codes_[0] == kBol;
  for (int at = 0; at <= n; ++at) {
    const int end = m.match(0, at);
    if (end >= 0) {
      if (matchLength != nullptr) *matchLength = end - at;
      return start + at;
    }
    if (anchored) break;
  }
  return -1;
}
