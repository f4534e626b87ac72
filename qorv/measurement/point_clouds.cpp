#include "qorv/measurement/point_clouds.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <thread>

#include "qorv/measurement/measured_points.h"

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#define QORV_HAVE_MMAP 1
#endif

namespace {

// The bytes of a file: mapped where the system can, else read whole.
class FileBytes {
 public:
  explicit FileBytes(const std::string& path) {
#if QORV_HAVE_MMAP
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      opened_ = true;
      size_ = static_cast<std::size_t>(st.st_size);
      if (size_ > 0) {
        void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p != MAP_FAILED) {
          ::madvise(p, size_, MADV_SEQUENTIAL);
          map_ = p;
        } else {
          opened_ = false;
        }
      }
    }
    ::close(fd);
#else
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    copy_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    opened_ = !in.bad();
    size_ = copy_.size();
#endif
  }
  ~FileBytes() {
#if QORV_HAVE_MMAP
    if (map_) ::munmap(map_, size_);
#endif
  }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  bool opened() const { return opened_; }
  std::string_view view() const {
    return map_ ? std::string_view(static_cast<const char*>(map_), size_)
                : std::string_view(copy_.data(), size_);
  }

 private:
  void* map_ = nullptr;
  std::vector<char> copy_;
  std::size_t size_ = 0;
  bool opened_ = false;
};

int threadCount(int threads) {
  return threads > 0 ? threads
                     : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// Runs work(task) for every task on up to `threads` threads, the tasks handed out one at a time;
// the calling thread reports progress after each of its tasks.
template <class Work>
void parallelTasks(std::size_t tasks, int threads, Work work,
                   const std::function<void(std::size_t)>& after = {}) {
  std::atomic<std::size_t> next{0};
  auto loop = [&](bool first) {
    for (std::size_t k; (k = next.fetch_add(1, std::memory_order_relaxed)) < tasks;) {
      work(k);
      if (first && after) after(k);
    }
  };
  std::vector<std::thread> pool;
  const auto t = static_cast<std::size_t>(std::max(1, threads));
  for (std::size_t k = 1; k < std::min(t, tasks); ++k) pool.emplace_back(loop, false);
  loop(true);
  for (std::thread& th : pool) th.join();
}

bool finite3(const double* v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

void addSkip(gmPointCloud& c, std::uint64_t offset, long line, std::string reason) {
  if (c.skipped.size() < gmPointCloud::kMaxReported)
    c.skipped.push_back({offset, line, std::move(reason)});
  ++c.skippedTotal;
}

gmPointCloud refused(gmPointCloud c, std::uint64_t offset, std::string why) {
  c.xyz.clear();
  c.xyz.shrink_to_fit();
  c.skipped.clear();
  c.skippedTotal = 0;
  c.errorOffset = offset;
  c.error = std::move(why);
  return c;
}

std::string_view lineAt(std::string_view s, std::size_t at, std::size_t& next) {
  const std::size_t end = s.find('\n', at);
  next = end == std::string_view::npos ? s.size() : end + 1;
  std::string_view line = s.substr(at, (end == std::string_view::npos ? s.size() : end) - at);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// ---------------------------------------------------------------------------------------------
// Text: runs of whole lines, parsed in parallel into their place and closed up afterwards.

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Splits a text row into at most `most` fields (blanks, tabs, or one comma between); returns
// the count, or -1 for an empty field between commas.
int splitRow(std::string_view line, std::string_view* fields, int most) {
  std::size_t i = 0, n = line.size();
  int count = 0;
  while (i < n && isBlank(line[i])) ++i;
  if (i == n) return 0;
  for (;;) {
    if (i == n || line[i] == ',') return -1;  // a field was wanted
    const std::size_t start = i;
    while (i < n && !isBlank(line[i]) && line[i] != ',') ++i;
    if (count < most) fields[count] = line.substr(start, i - start);
    ++count;
    while (i < n && isBlank(line[i])) ++i;
    if (i == n) return count;
    if (line[i] == ',') {
      ++i;
      while (i < n && isBlank(line[i])) ++i;
    }
  }
}

bool ignoredLine(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && isBlank(line[i])) ++i;
  return i == line.size() || line[i] == '#' || line.substr(i, 2) == "//";
}

// One run of lines' outcome.
struct TextRun {
  std::size_t begin = 0, end = 0;  // bytes
  long firstLine = 0;              // the number of its first line
  std::size_t rows = 0;            // points written at its slot
  std::size_t skippedTotal = 0;
  std::vector<gmCloudSkip> skipped;
  long long announced = 0;  // PTS counts seen
  std::size_t countLines = 0;
  std::uint64_t firstCountOffset = 0;
  std::size_t dataRows = 0;  // rows taken or skipped (what a count counts)
  std::string error;
  std::uint64_t errorOffset = 0;
};

std::vector<TextRun> splitRuns(std::string_view s, std::size_t from, std::size_t to, int threads) {
  const std::size_t target =
      std::max<std::size_t>(1 << 20, (to - from) / (static_cast<std::size_t>(threads) * 8) + 1);
  std::vector<TextRun> runs;
  std::size_t at = from;
  while (at < to) {
    std::size_t end = std::min(to, at + target);
    if (end < to) {
      const std::size_t nl = s.find('\n', end);
      end = nl == std::string_view::npos || nl >= to ? to : nl + 1;
    }
    TextRun r;
    r.begin = at, r.end = end;
    runs.push_back(std::move(r));
    at = end;
  }
  return runs;
}

// Lines per run (a last line without its end counts), the runs' first line numbers and the
// slots they write to.
std::vector<std::size_t> numberRuns(std::string_view s, std::vector<TextRun>& runs, long firstLine,
                                    int threads) {
  std::vector<std::size_t> lines(runs.size());
  parallelTasks(runs.size(), threads, [&](std::size_t k) {
    const TextRun& r = runs[k];
    std::size_t n =
        static_cast<std::size_t>(std::count(s.data() + r.begin, s.data() + r.end, '\n'));
    if (r.end > r.begin && s[r.end - 1] != '\n') ++n;
    lines[k] = n;
  });
  std::vector<std::size_t> slot(runs.size() + 1, 0);
  long line = firstLine;
  for (std::size_t k = 0; k < runs.size(); ++k) {
    runs[k].firstLine = line;
    line += static_cast<long>(lines[k]);
    slot[k + 1] = slot[k] + lines[k];
  }
  return slot;
}

// Closes up the runs' points in order and gathers their skips.
void gather(gmPointCloud& c, std::vector<TextRun>& runs, const std::vector<std::size_t>& slot) {
  std::size_t kept = 0;
  for (std::size_t k = 0; k < runs.size(); ++k) {
    TextRun& r = runs[k];
    if (kept != slot[k] && r.rows)
      std::memmove(c.xyz.data() + 3 * kept, c.xyz.data() + 3 * slot[k],
                   3 * r.rows * sizeof(double));
    kept += r.rows;
    for (gmCloudSkip& s : r.skipped)
      if (c.skipped.size() < gmPointCloud::kMaxReported) c.skipped.push_back(std::move(s));
    c.skippedTotal += r.skippedTotal;
  }
  c.xyz.resize(3 * kept);
  c.xyz.shrink_to_fit();
}

void runSkip(TextRun& r, std::uint64_t offset, long line, std::string reason) {
  if (r.skipped.size() < gmPointCloud::kMaxReported)
    r.skipped.push_back({offset, line, std::move(reason)});
  ++r.skippedTotal;
}

std::string quoted(std::string_view f) {
  std::string s(f.substr(0, 40));
  for (char& ch : s)
    if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) >= 0x7F) ch = '?';
  return "'" + s + (f.size() > 40 ? "...'" : "'");
}

// XYZ, ASC and PTS rows.
void parseTextRun(std::string_view s, TextRun& r, double* out, bool pts) {
  long line = r.firstLine;
  for (std::size_t at = r.begin, next; at < r.end; at = next, ++line) {
    const std::string_view text = lineAt(s, at, next);
    if (ignoredLine(text)) continue;
    std::string_view f[3];
    const int n = splitRow(text, f, 3);
    double v[3];
    if (n == 1 && pts) {
      // A count: digits only.
      double count = 0;
      if (f[0].find_first_not_of("0123456789") == std::string_view::npos &&
          gmParseNumber(f[0], count)) {
        if (r.countLines++ == 0) r.firstCountOffset = at;
        r.announced += static_cast<long long>(std::min(count, 1e15));
        continue;
      }
    }
    ++r.dataRows;
    if (n < 3) {
      runSkip(r, at, line, n < 0 ? "an empty field" : "fewer than three coordinates");
      continue;
    }
    int bad = -1;
    for (int k = 0; k < 3 && bad < 0; ++k)
      if (!gmParseNumber(f[k], v[k])) bad = k;
    if (bad >= 0) {
      runSkip(r, at, line,
              std::string(1, static_cast<char>('x' + bad)) + " is not a number: " + quoted(f[bad]));
      continue;
    }
    if (!finite3(v)) {
      runSkip(r, at, line, "a coordinate is not finite");
      continue;
    }
    std::memcpy(out + 3 * r.rows, v, sizeof v);
    ++r.rows;
  }
}

gmPointCloud readText(std::string_view s, gmCloudKind kind, int threads,
                      const std::function<void(std::uint64_t)>& progress) {
  gmPointCloud c;
  c.kind = kind;
  std::size_t from = 0;
  if (s.substr(0, 3) == "\xEF\xBB\xBF") from = 3;
  if (std::memchr(s.data() + from, 0, std::min<std::size_t>(s.size() - from, 4096)))
    return refused(std::move(c), s.find('\0'), "a NUL byte: the file is binary, not text");
  // A first content line that does not start with a number is a header.
  for (std::size_t at = from, next; at < s.size(); at = next) {
    const std::string_view text = lineAt(s, at, next);
    if (ignoredLine(text)) continue;
    std::string_view f[3];
    double v = 0;
    if (splitRow(text, f, 3) > 0 && !gmParseNumber(f[0], v)) from = next;
    break;
  }
  const long firstLine = 1 + static_cast<long>(std::count(s.data(), s.data() + from, '\n'));
  std::vector<TextRun> runs = splitRuns(s, from, s.size(), threads);
  const std::vector<std::size_t> slot = numberRuns(s, runs, firstLine, threads);
  c.xyz.resize(3 * slot.back());
  std::atomic<std::uint64_t> done{0};
  parallelTasks(
      runs.size(), threads,
      [&](std::size_t k) {
        parseTextRun(s, runs[k], c.xyz.data() + 3 * slot[k], kind == gmCloudKind::pts);
        done.fetch_add(runs[k].end - runs[k].begin, std::memory_order_relaxed);
      },
      [&](std::size_t) {
        if (progress) progress(done.load(std::memory_order_relaxed));
      });
  long long announced = 0, rows = 0;
  std::size_t countLines = 0;
  std::uint64_t countAt = 0;
  for (const TextRun& r : runs) {
    if (r.countLines && !countLines) countAt = r.firstCountOffset;
    countLines += r.countLines, announced += r.announced,
        rows += static_cast<long long>(r.dataRows);
  }
  if (countLines && announced != rows)
    return refused(std::move(c), countAt,
                   "the counts announce " + std::to_string(announced) + " rows, the file holds " +
                       std::to_string(rows));
  gather(c, runs, slot);
  if (progress) progress(s.size());
  return c;
}

// ---------------------------------------------------------------------------------------------
// PLY

enum class PlyType : std::uint8_t { i8, u8, i16, u16, i32, u32, f32, f64 };

int sizeOf(PlyType t) {
  static const int sizes[] = {1, 1, 2, 2, 4, 4, 4, 8};
  return sizes[static_cast<int>(t)];
}

bool plyType(std::string_view name, PlyType& t) {
  static const std::pair<std::string_view, PlyType> names[] = {
      {"char", PlyType::i8},    {"int8", PlyType::i8},     {"uchar", PlyType::u8},
      {"uint8", PlyType::u8},   {"short", PlyType::i16},   {"int16", PlyType::i16},
      {"ushort", PlyType::u16}, {"uint16", PlyType::u16},  {"int", PlyType::i32},
      {"int32", PlyType::i32},  {"uint", PlyType::u32},    {"uint32", PlyType::u32},
      {"float", PlyType::f32},  {"float32", PlyType::f32}, {"double", PlyType::f64},
      {"float64", PlyType::f64}};
  for (const auto& [n, type] : names)
    if (n == name) return t = type, true;
  return false;
}

template <class T>
T loadAs(const char* p, bool swap) {
  unsigned char b[sizeof(T)];
  std::memcpy(b, p, sizeof(T));
  if (swap) std::reverse(b, b + sizeof(T));
  T v;
  std::memcpy(&v, b, sizeof(T));
  return v;
}

double load(const char* p, PlyType t, bool swap) {
  switch (t) {
    case PlyType::i8:
      return static_cast<signed char>(*p);
    case PlyType::u8:
      return static_cast<unsigned char>(*p);
    case PlyType::i16:
      return loadAs<std::int16_t>(p, swap);
    case PlyType::u16:
      return loadAs<std::uint16_t>(p, swap);
    case PlyType::i32:
      return loadAs<std::int32_t>(p, swap);
    case PlyType::u32:
      return loadAs<std::uint32_t>(p, swap);
    case PlyType::f32:
      return loadAs<float>(p, swap);
    case PlyType::f64:
      return loadAs<double>(p, swap);
  }
  return 0;
}

struct PlyProperty {
  std::string name;
  PlyType type = PlyType::f32;
  bool list = false;
  PlyType countType = PlyType::u8;
};

struct PlyElement {
  std::string name;
  std::uint64_t count = 0;
  std::vector<PlyProperty> props;
  bool hasList() const {
    return std::any_of(props.begin(), props.end(), [](const PlyProperty& p) { return p.list; });
  }
  std::size_t stride() const {
    std::size_t s = 0;
    for (const PlyProperty& p : props) s += static_cast<std::size_t>(sizeOf(p.type));
    return s;
  }
};

void words(std::string_view line, std::vector<std::string_view>& w) {
  w.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isBlank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !isBlank(line[i])) ++i;
    if (i > start) w.push_back(line.substr(start, i - start));
  }
}

// A binary element walked from `at`; false when the body ends first (index: the element cut).
bool walkElement(std::string_view s, const PlyElement& e, bool swap, std::size_t& at,
                 std::uint64_t& index) {
  if (!e.hasList()) {
    const std::size_t stride = e.stride(), room = s.size() - at;
    if (stride == 0) return true;
    if (e.count > room / stride) return index = room / stride, false;
    at += static_cast<std::size_t>(e.count) * stride;
    return true;
  }
  for (index = 0; index < e.count; ++index)
    for (const PlyProperty& p : e.props) {
      if (!p.list) {
        if (s.size() - at < static_cast<std::size_t>(sizeOf(p.type))) return false;
        at += static_cast<std::size_t>(sizeOf(p.type));
        continue;
      }
      if (s.size() - at < static_cast<std::size_t>(sizeOf(p.countType))) return false;
      const double n = load(s.data() + at, p.countType, swap);
      at += static_cast<std::size_t>(sizeOf(p.countType));
      if (!(n >= 0)) return false;
      const double bytes = n * sizeOf(p.type);
      if (bytes > static_cast<double>(s.size() - at)) return false;
      at += static_cast<std::size_t>(bytes);
    }
  return true;
}

gmPointCloud readPly(std::string_view s, int threads,
                     const std::function<void(std::uint64_t)>& progress) {
  gmPointCloud c;
  c.kind = gmCloudKind::ply;
  // The header: lines up to "end_header", at most 64 KiB.
  std::size_t at = 0, next = 0;
  int format = -1;  // 0 ascii, 1 little, 2 big
  std::vector<PlyElement> elements;
  bool ended = false;
  for (long line = 1; at < s.size() && at < (1u << 16); at = next, ++line) {
    const std::string_view text = lineAt(s, at, next);
    std::vector<std::string_view> w;
    words(text, w);
    auto bad = [&](const std::string& why) {
      return refused(std::move(c), at, "bad header line " + std::to_string(line) + ": " + why);
    };
    if (line == 1) {
      if (w.size() != 1 || w[0] != "ply") return bad("a PLY file starts with 'ply'");
      continue;
    }
    if (w.empty() || w[0] == "comment" || w[0] == "obj_info") continue;
    if (w[0] == "format") {
      if (w.size() != 3 || w[2] != "1.0")
        return bad("the format is 'ascii', 'binary_little_endian' or 'binary_big_endian' 1.0");
      format = w[1] == "ascii"                  ? 0
               : w[1] == "binary_little_endian" ? 1
               : w[1] == "binary_big_endian"    ? 2
                                                : -1;
      if (format < 0) return bad("unknown format " + quoted(w[1]));
    } else if (w[0] == "element") {
      double count = 0;
      if (w.size() != 3 || w[2].find_first_not_of("0123456789") != std::string_view::npos ||
          !gmParseNumber(w[2], count) || count > 1e18)
        return bad("an element is 'element NAME COUNT'");
      elements.push_back({std::string(w[1]), static_cast<std::uint64_t>(count), {}});
    } else if (w[0] == "property") {
      if (elements.empty()) return bad("a property before any element");
      PlyProperty p;
      if (w.size() == 5 && w[1] == "list") {
        p.list = true;
        if (!plyType(w[2], p.countType) || !plyType(w[3], p.type) || p.countType == PlyType::f32 ||
            p.countType == PlyType::f64)
          return bad("a list is 'property list COUNT_TYPE TYPE NAME' with an integer count type");
        p.name = w[4];
      } else if (w.size() == 3 && plyType(w[1], p.type)) {
        p.name = w[2];
      } else {
        return bad("a property is 'property TYPE NAME' or 'property list COUNT_TYPE TYPE NAME'");
      }
      elements.back().props.push_back(p);
    } else if (w[0] == "end_header" && w.size() == 1) {
      ended = true;
      at = next;
      break;
    } else {
      return bad("unknown keyword " + quoted(w[0]));
    }
  }
  if (!ended)
    return refused(std::move(c), std::min(at, s.size()), "bad header: no 'end_header' line");
  if (format < 0) return refused(std::move(c), 0, "bad header: no 'format' line");
  std::size_t vertexAt = elements.size();
  for (std::size_t k = 0; k < elements.size() && vertexAt == elements.size(); ++k)
    if (elements[k].name == "vertex") vertexAt = k;
  if (vertexAt == elements.size())
    return refused(std::move(c), 0, "bad header: no 'vertex' element");
  const PlyElement& vertex = elements[vertexAt];
  int ix[3] = {-1, -1, -1};
  for (std::size_t k = 0; k < vertex.props.size(); ++k)
    for (int a = 0; a < 3; ++a)
      if (vertex.props[k].name == std::string(1, static_cast<char>('x' + a)))
        ix[a] = static_cast<int>(k);
  if (ix[0] < 0 || ix[1] < 0 || ix[2] < 0 || vertex.props[static_cast<std::size_t>(ix[0])].list ||
      vertex.props[static_cast<std::size_t>(ix[1])].list ||
      vertex.props[static_cast<std::size_t>(ix[2])].list)
    return refused(std::move(c), 0, "bad header: the vertex element has no scalar x, y and z");
  if (vertex.hasList())
    return refused(std::move(c), 0,
                   "bad header: list properties in the vertex element are not read");
  const std::uint64_t n = vertex.count;

  if (format != 0) {
    const bool swap = (format == 2) == (std::endian::native == std::endian::little);
    std::uint64_t index = 0;
    for (std::size_t k = 0; k < vertexAt; ++k) {
      const PlyElement& e = elements[k];
      if (!walkElement(s, e, swap, at, index))
        return refused(std::move(c), s.size(),
                       "truncated: the body ends inside " + e.name + " " + std::to_string(index) +
                           " of the " + std::to_string(e.count) + " the header announces");
    }
    const std::size_t stride = vertex.stride();
    const std::uint64_t room = (s.size() - at) / stride;
    if (room < n)
      return refused(std::move(c), s.size(),
                     "truncated: the body ends inside vertex " + std::to_string(room) + " of the " +
                         std::to_string(n) + " the header announces");
    std::size_t offset[3];
    PlyType type[3];
    for (int a = 0; a < 3; ++a) {
      offset[a] = 0;
      for (int k = 0; k < ix[a]; ++k)
        offset[a] +=
            static_cast<std::size_t>(sizeOf(vertex.props[static_cast<std::size_t>(k)].type));
      type[a] = vertex.props[static_cast<std::size_t>(ix[a])].type;
    }
    const std::size_t body = at;
    std::size_t end = at + static_cast<std::size_t>(n) * stride;
    for (std::size_t k = vertexAt + 1; k < elements.size(); ++k) {
      const PlyElement& e = elements[k];
      if (!walkElement(s, e, swap, end, index))
        return refused(std::move(c), s.size(),
                       "truncated: the body ends inside " + e.name + " " + std::to_string(index) +
                           " of the " + std::to_string(e.count) + " the header announces");
    }
    if (end != s.size())
      return refused(
          std::move(c), end,
          std::to_string(s.size() - end) +
              " bytes after the last element: the header's counts do not describe the body");
    c.xyz.resize(3 * static_cast<std::size_t>(n));
    const std::size_t block = 1 << 16, tasks = (static_cast<std::size_t>(n) + block - 1) / block;
    const bool plainFloats =
        !swap && type[0] == PlyType::f32 && type[1] == PlyType::f32 && type[2] == PlyType::f32;
    parallelTasks(
        tasks, threads,
        [&](std::size_t t) {
          const std::size_t i0 = t * block,
                            i1 = std::min<std::size_t>(static_cast<std::size_t>(n), i0 + block);
          double* out = c.xyz.data() + 3 * i0;
          for (std::size_t i = i0; i < i1; ++i, out += 3) {
            const char* v = s.data() + body + i * stride;
            if (plainFloats) {
              float f[3];
              std::memcpy(&f[0], v + offset[0], 4), std::memcpy(&f[1], v + offset[1], 4),
                  std::memcpy(&f[2], v + offset[2], 4);
              out[0] = f[0], out[1] = f[1], out[2] = f[2];
            } else {
              for (int a = 0; a < 3; ++a) out[a] = load(v + offset[a], type[a], swap);
            }
          }
        },
        [&](std::size_t t) {
          if (progress)
            progress(body +
                     std::min<std::size_t>(static_cast<std::size_t>(n), (t + 1) * block) * stride);
        });
    // Not finite rows leave; the rest close up.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
      const double* v = c.xyz.data() + 3 * i;
      if (!finite3(v)) {
        addSkip(c, body + i * stride, 0,
                "vertex " + std::to_string(i) + ": a coordinate is not finite");
        continue;
      }
      if (kept != i) std::memmove(c.xyz.data() + 3 * kept, v, 3 * sizeof(double));
      ++kept;
    }
    c.xyz.resize(3 * kept);
    if (progress) progress(s.size());
    return c;
  }

  // ascii: one element a line.
  long line = 1 + static_cast<long>(std::count(s.data(), s.data() + at, '\n'));
  auto skipLines = [&](std::uint64_t count, const PlyElement& e) -> bool {
    for (std::uint64_t i = 0; i < count; ++i) {
      if (at >= s.size()) {
        c = refused(std::move(c), s.size(),
                    "truncated: the file ends after " + std::to_string(i) + " of the " +
                        std::to_string(count) + " " + e.name + " lines the header announces");
        return false;
      }
      lineAt(s, at, next);
      at = next, ++line;
    }
    return true;
  };
  for (std::size_t k = 0; k < vertexAt; ++k)
    if (!skipLines(elements[k].count, elements[k])) return c;
  const std::size_t vertexBegin = at;
  const long vertexLine = line;
  if (!skipLines(n, vertex)) return c;
  const std::size_t vertexEnd = at;
  for (std::size_t k = vertexAt + 1; k < elements.size(); ++k)
    if (!skipLines(elements[k].count, elements[k])) return c;
  for (std::size_t i = at; i < s.size(); ++i)
    if (!isBlank(s[i]) && s[i] != '\n')
      return refused(std::move(c), i,
                     "text after the last element: the header's counts do not describe the body");
  std::vector<TextRun> runs = splitRuns(s, vertexBegin, vertexEnd, threads);
  const std::vector<std::size_t> slot = numberRuns(s, runs, vertexLine, threads);
  c.xyz.resize(3 * slot.back());
  const std::size_t props = vertex.props.size();
  parallelTasks(
      runs.size(), threads,
      [&](std::size_t k) {
        TextRun& r = runs[k];
        double* out = c.xyz.data() + 3 * slot[k];
        std::vector<std::string_view> w;
        long ln = r.firstLine;
        for (std::size_t p = r.begin, nx; p < r.end; p = nx, ++ln) {
          const std::string_view text = lineAt(s, p, nx);
          words(text, w);
          if (w.size() != props) {
            r.error = "vertex line " + std::to_string(ln) + " has " + std::to_string(w.size()) +
                      " values, the header declares " + std::to_string(props);
            r.errorOffset = p;
            return;
          }
          double v[3], ignored;
          for (std::size_t q = 0; q < props; ++q) {
            double& into = static_cast<int>(q) == ix[0]   ? v[0]
                           : static_cast<int>(q) == ix[1] ? v[1]
                           : static_cast<int>(q) == ix[2] ? v[2]
                                                          : ignored;
            if (!gmParseNumber(w[q], into)) {
              r.error = "vertex line " + std::to_string(ln) + ": not a number: " + quoted(w[q]);
              r.errorOffset = p + static_cast<std::size_t>(w[q].data() - text.data());
              return;
            }
          }
          if (!finite3(v)) {
            runSkip(r, p, ln, "a coordinate is not finite");
            continue;
          }
          std::memcpy(out + 3 * r.rows, v, sizeof v);
          ++r.rows;
        }
      },
      [&](std::size_t k) {
        if (progress) progress(runs[k].end);
      });
  for (const TextRun& r : runs)
    if (!r.error.empty()) return refused(std::move(c), r.errorOffset, r.error);
  gather(c, runs, slot);
  if (progress) progress(s.size());
  return c;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& ch : out) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return out;
}

}  // namespace

gmCloudKind gmDetectCloud(std::string_view path, std::string_view head) {
  if (head.substr(0, 4) == "ply\n" || head.substr(0, 5) == "ply\r\n") return gmCloudKind::ply;
  const std::size_t dot = path.rfind('.'), slash = path.find_last_of("/\\");
  const std::string ext =
      dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)
          ? ""
          : lower(path.substr(dot + 1));
  if (ext == "ply") return gmCloudKind::ply;
  if (ext == "pts") return gmCloudKind::pts;
  if (ext == "xyz" || ext == "asc") return gmCloudKind::xyz;
  return gmCloudKind::csv;
}

gmPointCloud gmReadPointCloud(std::string_view bytes, gmCloudKind kind, int threads,
                              const std::function<void(std::uint64_t)>& progress) {
  threads = threadCount(threads);
  if (kind == gmCloudKind::ply) return readPly(bytes, threads, progress);
  if (kind == gmCloudKind::csv) {
    gmPointCloud c;
    c.kind = kind;
    return refused(std::move(c), 0, "measured points with ids are read by gmReadMeasuredPoints");
  }
  return readText(bytes, kind, threads, progress);
}

gmPointCloud gmReadPointCloud(const std::string& path, int threads,
                              const std::function<void(std::uint64_t)>& progress) {
  const FileBytes file(path);
  if (!file.opened()) {
    gmPointCloud c;
    c.error = "cannot be read";
    return c;
  }
  const std::string_view s = file.view();
  return gmReadPointCloud(s, gmDetectCloud(path, s.substr(0, 8)), threads, progress);
}

void gmDeviationColour(double t, unsigned char rgb[3]) {
  t = std::clamp(std::isfinite(t) ? t : 0.0, -1.0, 1.0);
  const double lo[3] = {33, 102, 172}, mid[3] = {247, 247, 247}, hi[3] = {178, 24, 43};
  const double* end = t < 0 ? lo : hi;
  const double a = std::fabs(t);
  for (int k = 0; k < 3; ++k) rgb[k] = static_cast<unsigned char>(mid[k] + (end[k] - mid[k]) * a);
}

bool gmWritePly(std::ostream& out, const double* xyz, std::size_t n, const double* deviation,
                const std::int32_t* feature, double scale,
                const std::function<void(std::size_t)>& progress) {
  out << "ply\nformat binary_little_endian 1.0\ncomment deviation: along the outward normal, NaN "
         "where not "
         "judged\nelement vertex "
      << n
      << "\nproperty float x\nproperty float y\nproperty float z\nproperty float "
         "deviation\nproperty uchar "
         "red\nproperty uchar green\nproperty uchar blue\nend_header\n";
  constexpr std::size_t kRecord = 19, kBlock = 1 << 14;
  std::vector<char> buffer(kRecord * kBlock);
  auto put = [](char* at, float v) {
    unsigned char b[4];
    std::memcpy(b, &v, 4);
    if constexpr (std::endian::native == std::endian::big) std::reverse(b, b + 4);
    std::memcpy(at, b, 4);
  };
  for (std::size_t begin = 0; begin < n && out; begin += kBlock) {
    const std::size_t end = std::min(n, begin + kBlock);
    char* at = buffer.data();
    for (std::size_t i = begin; i < end; ++i, at += kRecord) {
      const double d = feature[i] >= 0 ? deviation[i] : std::numeric_limits<double>::quiet_NaN();
      for (int k = 0; k < 3; ++k)
        put(at + 4 * k, static_cast<float>(xyz[3 * i + static_cast<std::size_t>(k)]));
      put(at + 12, static_cast<float>(d));
      gmDeviationColour(scale > 0 ? d / scale : 0.0, reinterpret_cast<unsigned char*>(at + 16));
    }
    out.write(buffer.data(), static_cast<std::streamsize>(at - buffer.data()));
    if (progress) progress(end);
  }
  return static_cast<bool>(out);
}
