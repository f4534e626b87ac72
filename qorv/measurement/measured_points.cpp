#include "qorv/measurement/measured_points.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <sstream>
#include <thread>

#include "qorv/foundation/huge_pages.h"

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s, bool tabs = true) {
  auto isBlank = [tabs](char c) { return c == ' ' || (tabs && c == '\t'); };
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// from_chars takes neither a leading '+' nor a "0x" prefix, strtod takes both (once).
bool parseUnsigned(std::string_view s, double& v) {
  if (s.empty() || s.front() == '+' || s.front() == '-') return false;
  std::chars_format how = std::chars_format::general;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    if (s.front() == '+' || s.front() == '-') return false;
    how = std::chars_format::hex;
  }
  double parsed = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), parsed, how);
  if (r.ptr != s.data() + s.size()) return false;
  if (r.ec == std::errc::result_out_of_range) {
    // strtod answers these too: an overflow is infinite, an underflow is 0.
    std::string copy(s);
    if (how == std::chars_format::hex) copy = "0x" + copy;
    parsed = std::strtod(copy.c_str(), nullptr);
    parsed = std::isinf(parsed) || std::fabs(parsed) >= 1 ? HUGE_VAL : 0.0;
  } else if (r.ec != std::errc()) {
    return false;
  }
  v = parsed;
  return true;
}

// The UTF-8 bytes of code point c.
void appendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 text (after its byte-order mark) as UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::istream& in, bool little) {
  std::string out;
  char pair[2];
  std::uint32_t high = 0;
  while (in.read(pair, 2)) {
    const auto b0 = static_cast<unsigned char>(pair[0]), b1 = static_cast<unsigned char>(pair[1]);
    const std::uint32_t unit = little ? (b1 << 8 | b0) : (b0 << 8 | b1);
    if (unit >= 0xD800 && unit < 0xDC00) {
      if (high) appendUtf8(out, 0xFFFD);
      high = unit;
      continue;
    }
    if (unit >= 0xDC00 && unit < 0xE000) {
      appendUtf8(out, high ? 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00) : 0xFFFD);
      high = 0;
      continue;
    }
    if (high) appendUtf8(out, 0xFFFD);
    high = 0;
    appendUtf8(out, unit);
  }
  if (high || in.gcount() == 1) appendUtf8(out, 0xFFFD);
  return out;
}

// Splits a line into fields (RFC 4180 quotes); "" when sound, else why not.
const char* split(std::string_view line, char delimiter, std::vector<std::string>& fields) {
  // The strings of the last line are written over (a long coordinate keeps its buffer).
  std::size_t used = 0;
  const auto next = [&]() -> std::string& {
    if (used == fields.size()) fields.emplace_back();
    std::string& f = fields[used++];
    f.clear();
    return f;
  };
  const auto done = [&](const char* why) {
    fields.resize(used);
    return why;
  };
  const bool blanks = delimiter == ' ';
  std::size_t i = 0;
  const std::size_t n = line.size();
  auto skipBlanks = [&] {
    while (i < n && (line[i] == ' ' || (line[i] == '\t' && delimiter != '\t'))) ++i;
  };
  if (blanks) skipBlanks();
  while (true) {
    skipBlanks();
    std::string& field = next();
    if (i < n && line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < n) {
        if (line[i] == '"') {
          if (i + 1 < n && line[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        field += line[i++];
      }
      if (!closed) return done("a quote is not closed");
      skipBlanks();
      if (i < n && !(blanks ? blank(line[i]) : line[i] == delimiter))
        return done("text after a closing quote");
    } else {
      const std::size_t start = i;
      while (i < n && !(blanks ? blank(line[i]) : line[i] == delimiter)) ++i;
      const std::string_view text = trim(line.substr(start, i - start), delimiter != '\t');
      if (text.find('"') != std::string_view::npos) return done("a quote inside an unquoted field");
      field.assign(text);
    }
    if (blanks) {
      skipBlanks();
      if (i >= n) return done("");
    } else {
      if (i >= n) return done("");
      ++i;  // the delimiter
    }
  }
}

// The lines of a stream as getline gives them (the end of line dropped, a last line without
// one kept), read a block at a time: no string per line.
class LineReader {
 public:
  explicit LineReader(std::istream& in) : in_(in) {}
  bool next(std::string_view& line) {
    for (;;) {
      if (const void* nl = std::memchr(buf_.data() + pos_, '\n', end_ - pos_)) {
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(nl) - buf_.data());
        line = std::string_view(buf_.data() + pos_, at - pos_);
        pos_ = at + 1;
        return true;
      }
      if (eof_) {
        if (pos_ == end_) return false;
        line = std::string_view(buf_.data() + pos_, end_ - pos_);
        pos_ = end_;
        return true;
      }
      // Keep the partial line, then fill the rest (twice the room when a line fills it all).
      std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
      end_ -= pos_, pos_ = 0;
      if (buf_.size() - end_ < kBlock / 2) buf_.resize(std::max(kBlock, 2 * buf_.size()));
      in_.read(buf_.data() + end_, static_cast<std::streamsize>(buf_.size() - end_));
      end_ += static_cast<std::size_t>(in_.gcount());
      eof_ = !in_;
    }
  }

  // What is left: the unread part of the block and the rest of the stream.
  std::string rest() {
    std::string out(buf_.data() + pos_, end_ - pos_);
    pos_ = end_;
    // A file says how much is left: the text is made once, at its size.
    if (!eof_) {
      const std::istream::pos_type here = in_.tellg();
      if (here != std::istream::pos_type(-1) && in_.seekg(0, std::ios::end)) {
        const std::istream::pos_type last = in_.tellg();
        in_.seekg(here);
        if (last != std::istream::pos_type(-1) && last > here) {
          out.reserve(out.size() + static_cast<std::size_t>(last - here));
          qorv::detail::adviseHugePages(out.data(), out.capacity());
        }
      }
      in_.clear(in_.rdstate() & ~std::ios::failbit);
    }
    while (!eof_) {
      const std::size_t at = out.size();
      out.resize(std::max(out.capacity(), at + kBlock));
      in_.read(out.data() + at, static_cast<std::streamsize>(out.size() - at));
      out.resize(at + static_cast<std::size_t>(in_.gcount()));
      eof_ = !in_;
    }
    return out;
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 20;
  std::istream& in_;
  std::string buf_;
  std::size_t pos_ = 0, end_ = 0;
  bool eof_ = false;
};

char detectDelimiter(std::string_view line) {
  int tabs = 0, semicolons = 0, commas = 0;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    tabs += c == '\t';
    semicolons += c == ';';
    commas += c == ',';
  }
  // A separator that makes the four fields a point needs; blanks last (they also pad fields).
  if (tabs >= 3) return '\t';
  if (semicolons >= 3) return ';';
  if (commas >= 3) return ',';
  std::vector<std::string> words;
  if (*split(line, ' ', words) == 0 && words.size() >= 4) return ' ';
  return tabs ? '\t' : semicolons ? ';' : commas ? ',' : ' ';
}

}  // namespace

int gmParseNumber(std::string_view field, double& v, char decimal) {
  std::string_view s = trim(field);
  if (s.empty()) return 0;
  bool negative = false;
  if (s.front() == '+' || s.front() == '-') {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  double parsed = 0;
  if (decimal != '.') {
    if (s.find('.') != std::string_view::npos) return 0;
    std::string copy(s);
    const std::size_t at = copy.find(decimal);
    if (at != std::string::npos) copy[at] = '.';
    if (!parseUnsigned(copy, parsed)) return 0;
  } else if (!parseUnsigned(s, parsed)) {
    return 0;
  }
  v = negative ? -parsed : parsed;
  return 1;
}

namespace {

// What the lines read so far have decided: the separator and the decimal mark (0 until a line
// shows them), and whether a content line has been seen (the first may be a header).
struct LineState {
  gmMeasuredFormat format;
  char decimal = 0;
  bool first = true;
  // Every later line reads as it would on its own: the tail may be split over threads.
  bool settled() const { return format.delimiter != 0 && decimal != 0 && !first; }
};

// One line's point, or its reason in skipped; f is scratch kept between lines.
void readLine(std::string_view text, long line, LineState& s, std::vector<std::string>& f,
              std::vector<gmMeasuredPoint>& points, std::vector<gmSkippedLine>& skipped) {
  gmMeasuredFormat& format = s.format;
  char& decimal = s.decimal;
  const std::string_view t = trim(text);
  if (t.empty() || t.front() == '#') return;
  if (format.delimiter == 0) format.delimiter = detectDelimiter(t);
  if (decimal == 0 && format.delimiter == ',') decimal = '.';
  const bool isFirst = s.first;
  s.first = false;
  auto skip = [&](const char* why) { skipped.push_back({line, why}); };
  if (const char* why = split(t, format.delimiter, f); *why) return skip(why);
  if (f.size() < 4) {
    if (isFirst)
      format.header = true;
    else
      skip("expected id, x, y, z[, feature[, probe diameter]]");
    return;
  }
  // Until a coordinate shows its decimal mark, whole numbers read either way.
  char mark = decimal;
  if (mark == 0) {
    for (int k = 1; k <= 3 && mark == 0; ++k)
      mark = f[static_cast<std::size_t>(k)].find('.') != std::string::npos   ? '.'
             : f[static_cast<std::size_t>(k)].find(',') != std::string::npos ? ','
                                                                             : 0;
  }
  double xyz[3];
  bool numbers = true;
  for (int k = 0; k < 3; ++k)
    numbers =
        numbers && gmParseNumber(f[static_cast<std::size_t>(k + 1)], xyz[k], mark ? mark : '.');
  if (!numbers) {
    // A first line of names is the header.
    if (isFirst)
      format.header = true;
    else
      skip("x, y or z is not a number");
    return;
  }
  if (decimal == 0) decimal = mark;
  if (f.size() > 6) return skip("more than six fields");
  if (!std::isfinite(xyz[0]) || !std::isfinite(xyz[1]) || !std::isfinite(xyz[2]))
    return skip("a coordinate is not finite");
  gmMeasuredPoint p;
  p.line = line;
  p.id = std::move(f[0]);
  p.centre = ERPoint3D(xyz[0], xyz[1], xyz[2]);
  if (f.size() >= 5) p.feature = std::move(f[4]);
  if (f.size() == 6 && !f[5].empty()) {
    if (!gmParseNumber(f[5], p.diameter, decimal ? decimal : '.') || !std::isfinite(p.diameter) ||
        p.diameter < 0)
      return skip("the probe diameter is not a number of 0 or more");
  }
  points.push_back(std::move(p));
}

// The lines of text (whole lines, the last one's end of line optional) read on up to threads
// threads, each a run of lines cut at a line end; their numbers follow line. Returns how many.
// progress(bytes) now and then, bytes of text an estimate.
long readTail(std::string_view text, long line, double bytesPerLine, const LineState& state,
              int threads, std::vector<gmMeasuredPoint>& points,
              std::vector<gmSkippedLine>& skipped,
              const std::function<void(std::uint64_t)>& progress) {
  // A thread a megabyte at least: below, starting it costs more than it saves.
  const std::size_t parts =
      std::clamp<std::size_t>(text.size() >> 20, 1, static_cast<std::size_t>(std::max(threads, 1)));
  std::vector<std::string_view> run(parts);
  for (std::size_t k = 0, from = 0; k < parts; ++k) {
    std::size_t to = k + 1 == parts ? text.size() : text.size() / parts * (k + 1);
    if (to < text.size()) {
      const std::size_t nl = text.find('\n', std::max(to, from));
      to = nl == std::string_view::npos ? text.size() : nl + 1;
    }
    run[k] = text.substr(from, to - from);
    from = to;
  }
  struct Part {
    std::vector<gmMeasuredPoint> points;
    std::vector<gmSkippedLine> skipped;
    long lines = 0;
  };
  std::vector<Part> out(parts);
  // Room for the points the lines so far promise, made once: a vector that doubles touches
  // twice its memory, and the page faults of two threads queue in the kernel. A point takes 8
  // bytes at least ("a,1,2,3" and its end); room that cannot be had is not an error.
  auto reserve = [](std::vector<gmMeasuredPoint>& v, std::size_t more, std::size_t bytes,
                    double perLine) {
    const double promised = 1.25 * static_cast<double>(bytes) / perLine;
    const std::size_t n = std::min(static_cast<std::size_t>(promised), bytes / 8) + 1024;
    try {
      v.reserve(more + n);
    } catch (const std::bad_alloc&) {
      return;
    }
    qorv::detail::adviseHugePages(v.data(), v.capacity() * sizeof(gmMeasuredPoint));
  };
  reserve(points, points.size(), text.size(), bytesPerLine);
  for (std::size_t k = 1; k < parts; ++k) reserve(out[k].points, 0, run[k].size(), bytesPerLine);
  auto work = [&](std::size_t k) {
    LineState s = state;
    std::vector<std::string> f;
    std::vector<gmMeasuredPoint>& p = k == 0 ? points : out[k].points;
    std::vector<gmSkippedLine>& q = k == 0 ? skipped : out[k].skipped;
    std::string_view rest = run[k];
    long n = 0;
    while (!rest.empty()) {
      const std::size_t nl = rest.find('\n');
      const std::string_view l = rest.substr(0, nl);
      rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
      readLine(l, ++n, s, f, p, q);
      // The first run speaks for all: the runs are of a size and go at one pace.
      if (k == 0 && progress && (n & 0xFFFF) == 0)
        progress(parts * static_cast<std::uint64_t>(run[0].size() - rest.size()));
    }
    out[k].lines = n;
  };
  // Line numbers count from each run's start, put right below.
  const std::size_t firstPoint = points.size(), firstSkip = skipped.size();
  std::vector<std::thread> pool;
  for (std::size_t k = 1; k < parts; ++k) pool.emplace_back(work, k);
  work(0);
  for (std::thread& t : pool) t.join();
  long offset = line;
  for (std::size_t i = firstPoint; i < points.size(); ++i) points[i].line += offset;
  for (std::size_t i = firstSkip; i < skipped.size(); ++i) skipped[i].line += offset;
  offset += out[0].lines;
  for (std::size_t k = 1; k < parts; ++k) {
    for (gmMeasuredPoint& p : out[k].points) p.line += offset;
    for (gmSkippedLine& q : out[k].skipped) q.line += offset;
    points.insert(points.end(), std::make_move_iterator(out[k].points.begin()),
                  std::make_move_iterator(out[k].points.end()));
    skipped.insert(skipped.end(), std::make_move_iterator(out[k].skipped.begin()),
                   std::make_move_iterator(out[k].skipped.end()));
    offset += out[k].lines;
  }
  return offset - line;
}

}  // namespace

gmMeasuredFormat gmReadMeasuredPoints(std::istream& in, std::vector<gmMeasuredPoint>& points,
                                      std::vector<gmSkippedLine>& skipped, gmMeasuredFormat format,
                                      const std::function<void(std::uint64_t)>& progress,
                                      int threads) {
  // UTF-16 (with its mark) is read whole and turned into UTF-8; UTF-8's mark is dropped.
  std::istringstream converted;
  std::istream* source = &in;
  std::uint64_t consumed = 0;
  {
    const int c0 = in.peek();
    if (c0 == 0xFF || c0 == 0xFE) {
      char mark[2] = {0, 0};
      in.read(mark, 2);
      const auto m0 = static_cast<unsigned char>(mark[0]), m1 = static_cast<unsigned char>(mark[1]);
      if (in.gcount() == 2 && ((m0 == 0xFF && m1 == 0xFE) || (m0 == 0xFE && m1 == 0xFF))) {
        converted.str(utf16ToUtf8(in, m0 == 0xFF));
        source = &converted;
      } else {
        // Not a mark: give the bytes back to the line reader.
        converted.str(std::string(mark, static_cast<std::size_t>(in.gcount())) +
                      std::string(std::istreambuf_iterator<char>(in), {}));
        source = &converted;
      }
    }
  }
  const std::size_t firstPoint = points.size(), firstSkip = skipped.size();
  std::string_view text;
  LineReader lines(*source);
  std::vector<std::string> f;
  long line = 0;
  LineState state;
  state.format = format;
  state.decimal = format.decimal;
  // Once the first block has shown it is text and the lines have settled the format, the rest
  // of the stream is read whole and parsed on the threads.
  while (!(threads > 1 && consumed >= 4096 && state.settled()) && lines.next(text)) {
    ++line;
    const std::uint64_t start = consumed;
    consumed += text.size() + 1;
    if (line == 1 && text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
      text.remove_prefix(3);
    if (start < 4096 &&
        std::memchr(text.data(), 0, std::min<std::size_t>(text.size(), 4096 - start)) != nullptr) {
      // A binary file (a database, an image) is not a list of points with garbage lines.
      points.resize(firstPoint);
      skipped.resize(firstSkip);
      state.format.binary = true;
      break;
    }
    if (progress && (line & 0xFFFF) == 0) progress(consumed);
    readLine(text, line, state, f, points, skipped);
  }
  if (!state.format.binary && threads > 1 && state.settled()) {
    const std::string tail = lines.rest();
    const std::uint64_t before = consumed;
    line += readTail(tail, line, static_cast<double>(consumed) / static_cast<double>(line), state,
                     threads, points, skipped, [&](std::uint64_t bytes) {
                       if (progress) progress(before + std::min<std::uint64_t>(bytes, tail.size()));
                     });
    consumed += tail.size();
  }
  if (progress) progress(consumed);
  format = state.format;
  format.decimal = state.decimal ? state.decimal : '.';
  if (format.delimiter == 0) format.delimiter = ',';
  format.lines = line;
  return format;
}
