#include "qorv/measurement/dxf_input.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kMaxLine = 4096;

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// A decimal number, correctly rounded. 0 when the text is not one or is not finite.
int parseNumber(std::string_view text, double& v) {
  std::string_view s = trimmed(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return 0;
  double parsed = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), parsed, std::chars_format::general);
  if (r.ptr != s.data() + s.size()) return 0;
  if (r.ec == std::errc::result_out_of_range) {
    // Too small for a double rounds to zero; too large is refused. The exponent's sign, else
    // the integer digits, tell which.
    const std::size_t e = s.find_first_of("eE");
    bool underflow;
    if (e != std::string_view::npos) {
      underflow = e + 1 < s.size() && s[e + 1] == '-';
    } else {
      const std::string_view whole = s.substr(0, s.find('.'));
      underflow = whole.find_first_of("123456789") == std::string_view::npos;
    }
    if (!underflow) return 0;
    v = s.front() == '-' ? -0.0 : 0.0;
    return 1;
  }
  if (r.ec != std::errc() || !std::isfinite(parsed)) return 0;
  v = parsed;
  return 1;
}

bool isKeyword(std::string_view line, std::string_view keyword) { return trimmed(line) == keyword; }

std::string inQuotes(std::string_view s) {
  if (s.size() > 40) return "'" + std::string(s.substr(0, 40)) + "...'";
  return "'" + std::string(s) + "'";
}

}  // namespace

gmInDXF::gmInDXF(const char* path) {
  file_ = path == nullptr ? nullptr : std::fopen(path, "rb");
  if (file_ == nullptr) return;
  std::string text;
  while (nextLine(text)) {
    if (isKeyword(text, "ENTITIES")) {
      inEntities_ = true;
      return;
    }
  }
}

gmInDXF::~gmInDXF() {
  if (file_ != nullptr) std::fclose(file_);
}

bool gmInDXF::nextLine(std::string& text) {
  text.clear();
  if (file_ == nullptr) return false;
  int c = std::getc(file_);
  if (c == EOF) return false;
  bool tooLong = false;
  for (; c != EOF && c != '\n'; c = std::getc(file_)) {
    if (text.size() < kMaxLine) {
      text.push_back(static_cast<char>(c));
    } else {
      tooLong = true;
    }
  }
  ++line_;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  // A line cut at the bound cannot be taken for a shorter value: mark it.
  if (tooLong) text.push_back('\x01');
  return true;
}

bool gmInDXF::fail(const std::string& why) {
  reason_ = why;
  return false;
}

bool gmInDXF::nextPair(int& code, std::string& value) {
  if (pending_) {
    pending_ = false;
    code = pendingCode_;
    value = pendingValue_;
    return true;
  }
  std::string text;
  if (!nextLine(text))
    return fail("end of file inside a polyline (line " + std::to_string(line_) + ")");
  const std::string_view c = trimmed(text);
  const auto r = std::from_chars(c.data(), c.data() + c.size(), code);
  if (c.empty() || r.ec != std::errc() || r.ptr != c.data() + c.size())
    return fail("line " + std::to_string(line_) + ": " + inQuotes(text) + " is not a group code");
  if (!nextLine(value))
    return fail("end of file after group code " + std::to_string(code) + " (line " +
                std::to_string(line_) + ")");
  return true;
}

bool gmInDXF::read(QuickAlgebra::ERVec<ERPoint3D>& points) {
  points = QuickAlgebra::ERVec<ERPoint3D>();
  reason_.clear();
  if (file_ == nullptr) return fail("the file cannot be opened");
  if (!inEntities_) return fail("no ENTITIES section");
  // A failed polyline gives no points at all.
  auto finish = [&](bool ok) {
    if (!ok) points = QuickAlgebra::ERVec<ERPoint3D>();
    return ok;
  };
  // A light polyline's end may have read the next entity's start already.
  if (pending_) {
    pending_ = false;
    if (pendingCode_ == 0 && isKeyword(pendingValue_, "POLYLINE"))
      return finish(readPolyline(points));
    if (pendingCode_ == 0 && isKeyword(pendingValue_, "LWPOLYLINE"))
      return finish(readLightPolyline(points));
    if (pendingCode_ == 0 && isKeyword(pendingValue_, "ENDSEC")) {
      inEntities_ = false;
      return fail("no further polyline in the ENTITIES section");
    }
  }
  std::string text;
  while (nextLine(text)) {
    if (isKeyword(text, "POLYLINE")) return finish(readPolyline(points));
    if (isKeyword(text, "LWPOLYLINE")) return finish(readLightPolyline(points));
    if (isKeyword(text, "ENDSEC")) break;
  }
  inEntities_ = false;
  return fail("no further polyline in the ENTITIES section");
}

bool gmInDXF::readPolyline(QuickAlgebra::ERVec<ERPoint3D>& points) {
  int code = 0;
  std::string value;
  double elevation = 0;
  // The polyline's own groups, up to its first vertex or its end.
  for (;;) {
    if (!nextPair(code, value)) return false;
    if (code == 0) break;
    if (code == 30 && !parseNumber(value, elevation))
      return fail("line " + std::to_string(line_) + ": elevation " + inQuotes(value) +
                  " is not a number");
  }
  for (;;) {
    if (isKeyword(value, "SEQEND")) return true;
    if (!isKeyword(value, "VERTEX"))
      return fail("line " + std::to_string(line_) + ": " + inQuotes(trimmed(value)) +
                  " inside a polyline (VERTEX or SEQEND expected)");
    double xyz[3] = {0, 0, elevation};
    bool seen[3] = {false, false, false};
    for (;;) {
      if (!nextPair(code, value)) return false;
      if (code == 0) break;
      if (code == 10 || code == 20 || code == 30) {
        const int k = code / 10 - 1;
        if (!parseNumber(value, xyz[k]))
          return fail("line " + std::to_string(line_) + ": coordinate " + inQuotes(value) +
                      " is not a finite number");
        seen[k] = true;
      }
    }
    if (!seen[0] || !seen[1])
      return fail("line " + std::to_string(line_) + ": a vertex without x or y");
    points.append(ERPoint3D(xyz[0], xyz[1], xyz[2]));
  }
}

bool gmInDXF::readLightPolyline(QuickAlgebra::ERVec<ERPoint3D>& points) {
  int code = 0;
  std::string value;
  double elevation = 0;
  std::vector<double> xy;
  bool wantY = false;
  for (;;) {
    if (!nextPair(code, value)) return false;
    if (code == 0) break;
    double v = 0;
    if (code == 10 || code == 20 || code == 38) {
      if (!parseNumber(value, v))
        return fail("line " + std::to_string(line_) + ": coordinate " + inQuotes(value) +
                    " is not a finite number");
    }
    if (code == 10) {
      if (wantY) return fail("line " + std::to_string(line_) + ": a vertex without y");
      xy.push_back(v);
      wantY = true;
    } else if (code == 20) {
      if (!wantY) return fail("line " + std::to_string(line_) + ": y without x");
      xy.push_back(v);
      wantY = false;
    } else if (code == 38) {
      elevation = v;
    }
  }
  if (wantY) return fail("line " + std::to_string(line_) + ": a vertex without y");
  // The entity that ended this one is read again by the next read().
  pending_ = true;
  pendingCode_ = code;
  pendingValue_ = value;
  for (std::size_t i = 0; i + 1 < xy.size(); i += 2)
    points.append(ERPoint3D(xy[i], xy[i + 1], elevation));
  return true;
}
