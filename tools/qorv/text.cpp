#include "tools/qorv/text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <sstream>

// Debian's libfmt-dev, header-only, for its Dragonbox: the shortest digits of a double several
// times faster than to_chars (a JSON of a million points holds ten million of them).
#if __has_include(<fmt/format.h>)
#define FMT_HEADER_ONLY
#include <fmt/format.h>
#define QORV_TOOL_DRAGONBOX 1
#endif

namespace qorv::tool {

namespace {

// The code point at s[i] and its length in bytes; length 0 when ill-formed.
std::uint32_t decode(std::string_view s, std::size_t i, std::size_t& length) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char c = b(0);
  length = 0;
  if (c < 0x80) return length = 1, c;
  std::size_t n;
  std::uint32_t cp, min;
  if ((c & 0xE0) == 0xC0)
    n = 2, cp = c & 0x1F, min = 0x80;
  else if ((c & 0xF0) == 0xE0)
    n = 3, cp = c & 0x0F, min = 0x800;
  else if ((c & 0xF8) == 0xF0)
    n = 4, cp = c & 0x07, min = 0x10000;
  else
    return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b(k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0;
  length = n;
  return cp;
}

void appendLatin1(std::string& out, unsigned char c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool combining(std::uint32_t c) {
  return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
         (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
         (c >= 0xFE20 && c <= 0xFE2F) || c == 0x200B || c == 0x200D;
}

bool wide(std::uint32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
         (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

std::string validUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n;
    decode(text, i, n);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::string utf8OrLatin1(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n;
    decode(text, i, n);
    if (n == 0) {
      std::string out;
      for (char c : text) appendLatin1(out, static_cast<unsigned char>(c));
      return out;
    }
    i += n;
  }
  return std::string(text);
}

std::size_t displayWidth(std::string_view s) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n;
    const std::uint32_t c = decode(s, i, n);
    if (n == 0) {
      ++width, ++i;
      continue;
    }
    i += n;
    width += combining(c) ? 0 : wide(c) ? 2 : 1;
  }
  return width;
}

std::string padded(std::string_view s, std::size_t width, bool left) {
  const std::size_t w = displayWidth(s);
  const std::string fill(w < width ? width - w : 0, ' ');
  return left ? std::string(s) + fill : fill + std::string(s);
}

std::string csvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void appendJsonString(std::string& out, std::string_view text) {
  // Printable ASCII without a quote or a backslash (every id a probe writes) goes as it is.
  bool plain = true;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    plain = plain && c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
  }
  out += '"';
  if (plain) {
    out.append(text);
    out += '"';
    return;
  }
  for (char ch : validUtf8(text)) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          static const char* hex = "0123456789abcdef";
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

std::string jsonString(std::string_view text) {
  std::string out;
  appendJsonString(out, text);
  return out;
}

#ifdef QORV_TOOL_DRAGONBOX
namespace {

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void pair(char* p, std::uint32_t v) { std::memcpy(p, kPairs + 2 * v, 2); }

// The 8 digits of v < 10^8, leading zeros kept: two independent halves, a pair at a time.
void eight(char* p, std::uint32_t v) {
  const std::uint32_t hi = v / 10000, lo = v % 10000;
  pair(p, hi / 100), pair(p + 2, hi % 100), pair(p + 4, lo / 100), pair(p + 6, lo % 100);
}

// How many digits v < 10^8 has (1 for 0).
int digits8(std::uint32_t v) {
  return v < 10000 ? (v < 100 ? 1 + (v >= 10) : 3 + (v >= 1000))
                   : (v < 1000000 ? 5 + (v >= 100000) : 7 + (v >= 10000000));
}

}  // namespace
#endif

char* toShortest(char* p, double v) {
#ifdef QORV_TOOL_DRAGONBOX
  if (!std::isfinite(v) || v == 0) return std::to_chars(p, p + 32, v).ptr;
  const auto d = fmt::detail::dragonbox::to_decimal(std::fabs(v));
  std::uint64_t m = d.significand;  // at most 17 digits
  int e = d.exponent;               // the value is m 10^e
  while (m % 10 == 0) m /= 10, ++e;
  char digits[40] = {};  // room for the fixed-size copies below
  char* const end = digits + 17;
  // Eight digits at a time, leading zeros and all; the significant ones start at q.
  int n;
  if (m < 100000000) {
    eight(end - 8, static_cast<std::uint32_t>(m));
    n = digits8(static_cast<std::uint32_t>(m));
  } else {
    const std::uint64_t high = m / 100000000;  // below 10^9
    eight(end - 8, static_cast<std::uint32_t>(m % 100000000));
    eight(end - 16, static_cast<std::uint32_t>(high % 100000000));
    end[-17] = static_cast<char>('0' + high / 100000000);
    n = 8 + (high < 100000000 ? digits8(static_cast<std::uint32_t>(high)) : 9);
  }
  const char* const q = end - n;
  const int x = e + n - 1;  // the scientific exponent
  // The shorter of the fixed and the scientific forms, fixed in a tie (as to_chars chooses).
  // Copies are of a fixed size, past the digits if need be (digits and p have the room): a
  // copy of a variable size is a call.
  const int fixedLength = e >= 0 ? n + e : n + e > 0 ? n + 1 : 2 - e;
  const int sciLength = n + (n > 1) + 2 + (x >= 100 || x <= -100 ? 3 : 2);
  if (fixedLength <= sciLength) {
    // A whole number past 2^53 is written exactly by to_chars, not as its digits and zeros.
    if (e > 0) return std::to_chars(p, p + 32, v).ptr;
    if (std::signbit(v)) *p++ = '-';
    if (e == 0) return std::memcpy(p, q, 17), p + n;
    if (n + e > 0) {  // n + e <= 16 digits before the point, -e <= 16 after
      std::memcpy(p, q, 16);
      p[n + e] = '.';
      std::memcpy(p + n + e + 1, q + n + e, 16);
      return p + n + 1;
    }
    // 0.000ddd: at most three zeros after the point, or the scientific form is shorter.
    std::memcpy(p, "0.000", 5);
    p += 2 - e - n;
    std::memcpy(p, q, 17);
    return p + n;
  }
  if (std::signbit(v)) *p++ = '-';
  *p++ = *q;
  if (n > 1) *p++ = '.', std::memcpy(p, q + 1, 16), p += n - 1;
  *p++ = 'e', *p++ = x < 0 ? '-' : '+';
  auto a = static_cast<std::uint32_t>(x < 0 ? -x : x);
  if (a >= 100) *p++ = static_cast<char>('0' + a / 100), a %= 100;
  pair(p, a);
  return p + 2;
#else
  return std::to_chars(p, p + 32, v).ptr;
#endif
}

void appendShortest(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
    return;
  }
  char buffer[kShortestRoom];
  out.append(buffer, toShortest(buffer, v));
}

void appendJsonNumber(std::string& out, double v) {
  if (std::isfinite(v)) return appendShortest(out, v);
  out += '"';
  appendShortest(out, v);
  out += '"';
}

std::string shortest(double v) {
  std::string out;
  appendShortest(out, v);
  return out;
}

std::string jsonNumber(double v) {
  std::string out;
  appendJsonNumber(out, v);
  return out;
}

std::string fixed(double v, int digits) {
  if (!std::isfinite(v)) return shortest(v);
  std::ostringstream s;
  s << std::fixed << std::setprecision(digits) << v;
  return s.str();
}

std::string xyz(double x, double y, double z) {
  return "[" + jsonNumber(x) + ", " + jsonNumber(y) + ", " + jsonNumber(z) + "]";
}

}  // namespace qorv::tool
