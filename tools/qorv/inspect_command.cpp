// qorv inspect: measured probe points against nominal features, with statistics, stored results
// and a report. The nominal JSON is described by examples/inspection/part.schema.json.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qorv/measurement/inspection.h"
#include "qorv/measurement/point_clouds.h"
#include "qorv/persistence/db_object.h"
#include "qorv/persistence/object_database.h"
#include "qorv/platform/file.h"
#include "tools/qorv/align_command.h"
#include "tools/qorv/commands.h"
#include "tools/qorv/form_output.h"
#include "tools/qorv/inspect_report.h"
#include "tools/qorv/nominal.h"
#include "tools/qorv/safe_replace.h"
#include "tools/qorv/text.h"

namespace qorv::tool {

namespace {

using qorv::tool::xyz;  // beside the point and vector forms below
std::string xyz(const ERPoint3D& p) { return xyz(p.x(), p.y(), p.z()); }
std::string xyz(const ERVector3D& v) { return xyz(v.x(), v.y(), v.z()); }

// Progress on a terminal: the stage, how far, and the time left once it can be guessed.
class Progress {
 public:
  // tty: one line rewritten in place; else a line per step of 10 % (for logs).
  Progress(bool on, bool tty) : on_(on), tty_(tty) {}
  ~Progress() { end(); }
  void stage(const char* name, std::uint64_t total) {
    end();
    name_ = name;
    total_ = total;
    start_ = last_ = std::chrono::steady_clock::now();
    shown_ = false;
    logged_ = -1;
  }
  void update(std::uint64_t done, bool force = false) {
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!tty_) {
      const int step =
          total_ ? static_cast<int>(10 * std::min<std::uint64_t>(done, total_) / total_) : 10;
      if (step <= logged_) return;
      logged_ = step;
      std::cerr << "qorv inspect: " << name_ << " " << 10 * step << "%\n" << std::flush;
      return;
    }
    if (!force && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double part =
        total_ ? std::min(1.0, static_cast<double>(done) / static_cast<double>(total_)) : 1.0;
    std::ostringstream line;
    line << "\rqorv inspect: " << name_ << " " << static_cast<int>(100 * part) << "%";
    if (part > 0.02 && part < 1 && elapsed > 0.5)
      line << ", about " << static_cast<long>(elapsed * (1 - part) / part + 0.5) << " s left";
    line << "        ";
    std::cerr << line.str() << std::flush;
    shown_ = true;
  }
  void end() {
    if (on_ && tty_ && shown_) std::cerr << "\r" << std::string(60, ' ') << "\r" << std::flush;
    shown_ = false;
  }

 private:
  bool on_, tty_;
  int logged_ = -1;
  const char* name_ = "";
  std::uint64_t total_ = 0;
  std::chrono::steady_clock::time_point start_, last_;
  bool shown_ = false;
};

// A literal copied to p (a copy of a known size, no call); returns its end.
template <std::size_t N>
char* put(char* p, const char (&literal)[N]) {
  std::memcpy(p, literal, N - 1);
  return p + N - 1;
}

// Text made a block of items at a time on background threads and on the writer's own, written in
// order: the JSON's results are formatted while the fits run. At most kAhead blocks wait in
// memory (a million points make 300 MB of text, and fresh memory costs a page fault a page).
class BlockPipe {
 public:
  using Format = std::function<void(std::size_t block, std::string& out)>;
  BlockPipe(std::size_t blocks, int threads, Format format)
      : format_(std::move(format)), ready_(blocks, 0), slots_(blocks), count_(blocks) {
    for (int t = 1; t < threads; ++t)
      pool_.emplace_back([this] {
        for (std::size_t b; claim(b);) make(b);
      });
  }
  ~BlockPipe() {
    {
      const std::lock_guard<std::mutex> lock(m_);
      next_ = count_;
    }
    cv_.notify_all();
    for (std::thread& t : pool_) t.join();
  }
  BlockPipe(const BlockPipe&) = delete;
  BlockPipe& operator=(const BlockPipe&) = delete;

  // Every block to out in order, this thread formatting too while the next is not ready.
  void write(std::ostream& out, const std::function<void(std::size_t)>& written) {
    for (std::size_t w = 0; w < count_; ++w) {
      std::unique_lock<std::mutex> lock(m_);
      while (!ready_[w]) {
        std::size_t b;
        if (next_ < count_ && next_ < w + kAhead) {
          b = next_++;
          lock.unlock();
          make(b);
          lock.lock();
        } else {
          cv_.wait(lock);
        }
      }
      std::string text = std::move(slots_[w]);
      written_ = w + 1;
      lock.unlock();
      cv_.notify_all();
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      written(w);
      text.clear();
      lock.lock();
      spare_.push_back(std::move(text));  // its memory serves a later block
    }
  }

 private:
  static constexpr std::size_t kAhead = 48;

  bool claim(std::size_t& b) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return next_ >= count_ || next_ < written_ + kAhead; });
    if (next_ >= count_) return false;
    b = next_++;
    return true;
  }
  void make(std::size_t b) {
    std::string text;
    {
      const std::lock_guard<std::mutex> lock(m_);
      if (!spare_.empty()) text = std::move(spare_.back()), spare_.pop_back();
      // The size of the last block, with a margin: a string that doubles copies itself.
      text.reserve(typical_ + typical_ / 8);
    }
    format_(b, text);
    {
      const std::lock_guard<std::mutex> lock(m_);
      typical_ = std::max(typical_, text.size());
      slots_[b] = std::move(text);
      ready_[b] = 1;
    }
    cv_.notify_all();
  }

  Format format_;
  std::vector<char> ready_;
  std::vector<std::string> slots_, spare_;
  std::size_t count_, next_ = 0, written_ = 0, typical_ = 0;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::thread> pool_;
};

void writeFeaturesJson(std::ostream& s, const std::vector<gmInspectionFeature>& fs,
                       const std::vector<gmFeatureSummary>& summaries) {
  for (std::size_t k = 0; k < fs.size(); ++k) {
    const gmFeatureSummary& f = summaries[k];
    s << (k ? "," : "") << "\n    {\"id\": " << jsonString(fs[k].id())
      << ", \"kind\": " << jsonString(fs[k].label()) << ", \"count\": " << f.stats.num_projected()
      << ", \"tolerance\": [" << jsonNumber(fs[k].lower()) << ", " << jsonNumber(fs[k].upper())
      << "], \"out_of_tolerance\": " << f.outOfTolerance << ", \"skipped\": " << f.skipped;
    if (f.stats.num_projected() > 0)
      s << ", \"min\": " << jsonNumber(f.stats.min_value())
        << ", \"max\": " << jsonNumber(f.stats.max_value())
        << ", \"mean\": " << jsonNumber(f.stats.mean())
        << ", \"std_dev\": " << jsonNumber(f.stats.standard_deviation());
    if (f.fitted) {
      const bool plane = fs[k].kind() == gmInspectionFeature::PLANE;
      s << ", \"fit\": {\"form_error\": " << jsonNumber(f.formError)
        << ", \"iterations\": " << f.iterations;
      if (!plane) s << ", \"radius\": " << jsonNumber(f.size);
      s << ", \"" << (plane ? "normal" : "axis") << "\": " << xyz(f.fitAxis) << ", \""
        << (plane ? "centroid" : "centre") << "\": " << xyz(f.fitCentre) << "}";
    }
    writeFormJson(s, fs[k], f);
    writeToleranceJson(s, fs[k], f);
    s << "}";
  }
}

void writeFeatureTable(std::ostream& s, const std::vector<gmInspectionFeature>& fs,
                       const std::vector<gmFeatureSummary>& summaries) {
  std::size_t idWidth = 12;
  for (const gmInspectionFeature& f : fs)
    idWidth = std::max(idWidth, displayWidth(validUtf8(f.id())) + 2);
  s << padded("feature", idWidth, true) << padded("kind", 10, true) << padded("points", 8, false)
    << padded("min", 11, false) << padded("max", 11, false) << padded("mean", 11, false)
    << padded("std dev", 11, false) << padded("out", 6, false) << padded("profile", 9, false)
    << padded("fit size", 11, false) << padded("form", 11, false) << padded("iter", 6, false)
    << "\n";
  for (std::size_t k = 0; k < fs.size(); ++k) {
    const gmFeatureSummary& f = summaries[k];
    const bool any = f.stats.num_projected() > 0;
    s << padded(validUtf8(fs[k].id()), idWidth, true) << padded(fs[k].label(), 10, true)
      << padded(std::to_string(f.stats.num_projected()), 8, false)
      << padded(any ? fixed(f.stats.min_value()) : "-", 11, false)
      << padded(any ? fixed(f.stats.max_value()) : "-", 11, false)
      << padded(any ? fixed(f.stats.mean()) : "-", 11, false)
      << padded(any ? fixed(f.stats.standard_deviation()) : "-", 11, false)
      << padded(std::to_string(f.outOfTolerance), 6, false)
      << padded(!any               ? "-"
                : f.outOfTolerance ? "FAIL"
                                   : "PASS",
                9, false)
      << padded(f.fitted && fs[k].kind() != gmInspectionFeature::PLANE ? fixed(f.size) : "-", 11,
                false)
      << padded(f.fitted ? fixed(f.formError) : "-", 11, false)
      << padded(f.fitted ? std::to_string(f.iterations) : "-", 6, false) << "\n";
  }
}

// An input that cannot be inspected: "qorv: PATH: why", status 2.
int fail2(const std::string& path, const std::string& why) {
  std::cerr << "qorv: " << path << ": " << why << "\n";
  return 2;
}

int usage(const std::string& why) {
  std::cerr << "qorv inspect: " << why << "\n";
  return 2;
}

// Stores the target points (each with a record naming its point and feature) and one summary
// object per feature (properties documented in the schema file) in a new database at temporary;
// path names it in messages.
int writeResults(const std::string& path, const std::string& temporary,
                 const gmInspection& inspection, const std::vector<gmMeasuredPoint>& points,
                 const std::vector<gmInspectedPoint>& results,
                 const std::vector<gmFeatureSummary>& summaries, const std::string& alignMethod,
                 const gmAlignment& alignment) {
  try {
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    if (!db->Open(temporary.c_str(), 0)) return fail(path, "cannot create the results database");
    db->begin();
    const auto& fs = inspection.features();
    std::vector<long> worstId(summaries.size(), 0);
    std::vector<std::pair<int, double>> worst(summaries.size(), {-1, 0.0});
    for (std::size_t i = 0; i < results.size(); ++i) {
      const gmInspectedPoint& r = results[i];
      if (r.feature < 0) continue;
      t_SmartPtr<gmTargetPoint> t(new gmTargetPoint(inspection.target(r, points[i])));
      const long id = db->Store(*t);
      const auto k = static_cast<std::size_t>(r.feature);
      // The worst point: farthest outside the band, else farthest from its centre.
      const std::pair<int, double> score = pointBadness(fs[k], r);
      if (score > worst[k]) worst[k] = score, worstId[k] = id;
      ERDBObject o;
      o.name(points[i].id.c_str());
      o.level_name(fs[k].id().c_str());
      o.property(100, points[i].line);
      o.object(t_SmartPtr<ERObject>(t));
      db->Store(o);
    }
    for (std::size_t k = 0; k < summaries.size(); ++k) {
      const gmInspectionFeature& f = fs[k];
      const gmFeatureSummary& s = summaries[k];
      ERDBObject o;
      o.name(f.id().c_str());
      o.level_name(f.label());
      o.property(100, static_cast<long>(s.stats.num_projected()));
      o.property(101, s.stats.num_projected() ? s.stats.min_value() : 0.0);
      o.property(102, s.stats.num_projected() ? s.stats.max_value() : 0.0);
      o.property(103, s.stats.mean());
      o.property(104, s.stats.standard_deviation());
      o.property(105, static_cast<long>(s.outOfTolerance));
      o.property(106, f.lower());
      o.property(107, f.upper());
      if (s.fitted) {
        o.property(108, s.size);
        o.property(109, s.formError);
        o.property(110, static_cast<long>(s.iterations));
      }
      if (worstId[k] > 0) o.property(111, worstId[k]);
      o.set_faults(s.outOfTolerance);
      db->Store(o);
    }
    if (!alignMethod.empty()) {
      ERDBObject o;
      storeAlignment(o, alignMethod, alignment);
      db->Store(o);
    }
    db->commit();
    db->Close();
  } catch (qorv::platform::CFileException& e) {
    return fail(path, e.describe());
  }
  return 0;
}

// The old results stay whole until the new ones are, and are never replaced while another
// process holds them (see safe_replace.h).
int storeResults(const std::string& path, const gmInspection& inspection,
                 const std::vector<gmMeasuredPoint>& points,
                 const std::vector<gmInspectedPoint>& results,
                 const std::vector<gmFeatureSummary>& summaries, const std::string& alignMethod,
                 const gmAlignment& alignment) {
  return replaceDatabase(path, [&](const std::string& temporary) {
    return writeResults(path, temporary, inspection, points, results, summaries, alignMethod,
                        alignment);
  });
}

bool isDirectory(const std::string& path) {
  struct stat s {};
  return ::stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}

// The report at path: HTML, or (chromium given) a PDF printed from the page written beside it,
// which then goes. 0, or the failure's status.
int emitReport(const std::string& path, const std::string& chromium, const ReportInputs& report) {
  if (isDirectory(path)) return fail(path, "is a directory");
  const std::string page = chromium.empty() ? path : path + ".html";
  std::ofstream html(page, std::ios::binary | std::ios::trunc);
  if (!html) return fail(page, "cannot be written");
  writeReport(html, report);
  html.close();
  if (!html) return fail(page, "cannot be written");
  if (chromium.empty()) return 0;
  const std::string why = printPdf(chromium, page, path);
  std::remove(page.c_str());
  return why.empty() ? 0 : fail2(path, why);
}

bool isPdfPath(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == ".pdf";
}

std::uint64_t fileSize(const std::string& path) {
  struct stat s {};
  return ::stat(path.c_str(), &s) == 0 ? static_cast<std::uint64_t>(s.st_size) : 0;
}

// A scanner's cloud: surface points without ids, read, judged and written flat (about 36 bytes a
// point beyond the file); statistics as for probe points, fits on an even subset.
int inspectCloud(const InspectOptions& o, Output& out, const gmInspection& inspection,
                 Progress& progress, const std::string& units, const std::string& chromium) {
  if (o.align.rfind("rps:", 0) == 0)
    return usage("--align rps:FILE names probe points by id (CSV); a cloud has none");
  if (!o.out.empty())
    return usage("--out stores probe points (CSV); a cloud's results go to --cloud-out");
  if (!o.delimiter.empty() || !o.decimal.empty())
    return usage("--delimiter and --decimal apply to CSV files");
  const int threads = o.threads > 0
                          ? o.threads
                          : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  progress.stage("reading", fileSize(o.measured));
  gmPointCloud cloud =
      gmReadPointCloud(o.measured, threads, [&](std::uint64_t bytes) { progress.update(bytes); });
  if (!cloud.ok()) {
    progress.end();
    if (cloud.error == "cannot be read") return fail2(o.measured, cloud.error);
    return fail2(o.measured,
                 "refused at byte " + std::to_string(cloud.errorOffset) + ": " + cloud.error);
  }
  if (cloud.size() == 0) {
    progress.end();
    std::string why = "no point could be read";
    if (!cloud.skipped.empty())
      why += " (" + std::to_string(cloud.skippedCount()) + " rows skipped, the first at byte " +
             std::to_string(cloud.skipped.front().offset) + ": " + cloud.skipped.front().reason +
             ")";
    return fail2(o.measured, why);
  }
  const double diameter = o.probeDiameterGiven ? o.probeDiameter : 0.0;
  const std::size_t n = cloud.size();
  // Aligned on an even subset (a move has six parameters: a hundred thousand points fix it as
  // well as ten million), then every point moved.
  gmAlignment alignment;
  if (!o.align.empty()) {
    progress.stage("aligning", n);
    constexpr std::size_t kAlignPoints = 100000;
    std::vector<gmMeasuredPoint> subset;
    for (std::size_t k = 0, m = std::min(n, kAlignPoints); k < m; ++k) {
      const std::size_t i = k * n / m;
      gmMeasuredPoint p;
      p.line = static_cast<long>(i) + 1;
      p.centre = ERPoint3D(cloud.xyz[3 * i], cloud.xyz[3 * i + 1], cloud.xyz[3 * i + 2]);
      subset.push_back(p);
    }
    const std::string why =
        alignPoints(o.align, inspection.features(), subset, diameter, o.maxDistance, alignment);
    if (!why.empty()) return fail2(o.measured, why);
    for (std::size_t i = 0; i < n; ++i) {
      const ERPoint3D q = alignment.transfo >>
                          ERPoint3D(cloud.xyz[3 * i], cloud.xyz[3 * i + 1], cloud.xyz[3 * i + 2]);
      cloud.xyz[3 * i] = q.x(), cloud.xyz[3 * i + 1] = q.y(), cloud.xyz[3 * i + 2] = q.z();
    }
  }
  progress.stage("judging", n);
  const gmCloudResults results = inspection.runCloud(
      cloud.xyz.data(), n, diameter, threads, [&](std::size_t done) { progress.update(done); });
  const std::vector<gmFeatureSummary> summaries =
      inspection.summarizeCloud(cloud.xyz.data(), results, diameter, 20000, threads);
  const auto& fs = inspection.features();
  std::size_t inspected = 0, unassigned = 0, outside = 0;
  auto inBand = [&](std::size_t i) {
    const gmInspectionFeature& f = fs[static_cast<std::size_t>(results.feature[i])];
    return f.lower() <= results.deviation[i] && results.deviation[i] <= f.upper();
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (results.feature[i] >= 0) {
      ++inspected;
      outside += inBand(i) ? 0 : 1;
    } else if (gmCloudResults::skipOf(results.feature[i]) == gmSkip::unassigned) {
      ++unassigned;
    }
  }
  const std::size_t notJudged = n - inspected - unassigned;
  auto where = [](const gmCloudSkip& k) {
    return k.line > 0 ? "line " + std::to_string(k.line) : "byte " + std::to_string(k.offset);
  };
  progress.stage("writing", n);
  std::ostringstream s;
  auto flushBlock = [&](bool always) {
    if (!always && s.tellp() < (1 << 16)) return;
    out.utf8() << s.view();
    s.str("");
  };
  auto reason = [&](std::size_t i) {
    gmInspectedPoint r;
    r.skip = gmCloudResults::skipOf(results.feature[i]);
    r.deviation = results.deviation[i];
    return inspection.skipReason(r, gmMeasuredPoint{});
  };
  if (o.format == Format::json) {
    s << "{\n  \"points\": " << n + cloud.skippedCount() << ",\n  \"inspected\": " << inspected
      << ",\n  \"unassigned\": " << unassigned << ",\n  \"out_of_tolerance\": " << outside
      << ",\n  \"max_distance\": " << jsonNumber(o.maxDistance)
      << ",\n  \"rows_skipped\": " << cloud.skippedCount();
    if (!o.align.empty()) s << ",\n  \"alignment\": " << alignmentJson(alignment);
    s << ",\n  \"skipped\": [";
    for (std::size_t k = 0; k < cloud.skipped.size(); ++k)
      s << (k ? "," : "") << "\n    {\"offset\": " << cloud.skipped[k].offset
        << ", \"line\": " << cloud.skipped[k].line
        << ", \"reason\": " << jsonString(cloud.skipped[k].reason) << "}";
    s << (cloud.skipped.empty() ? "" : "\n  ") << "],\n  \"features\": [";
    writeFeaturesJson(s, fs, summaries);
    s << (fs.empty() ? "" : "\n  ") << "],\n  \"results\": [";
    for (std::size_t i = 0; i < n; ++i) {
      s << (i ? "," : "") << "\n    {\"index\": " << i
        << ", \"point\": " << xyz(cloud.xyz[3 * i], cloud.xyz[3 * i + 1], cloud.xyz[3 * i + 2]);
      if (results.feature[i] >= 0)
        s << ", \"feature\": " << jsonString(fs[static_cast<std::size_t>(results.feature[i])].id())
          << ", \"deviation\": " << jsonNumber(results.deviation[i])
          << ", \"in_tolerance\": " << (inBand(i) ? "true" : "false");
      else
        s << ", \"feature\": null, \"reason\": " << jsonString(reason(i));
      s << "}";
      flushBlock(false);
      if ((i & 0xFFFF) == 0) progress.update(i);
    }
    s << (n ? "\n  " : "") << "]\n}\n";
  } else if (o.format == Format::csv) {
    s << "index,feature,deviation,status,x,y,z,reason\n";
    for (std::size_t i = 0; i < n; ++i) {
      s << i << ",";
      if (results.feature[i] >= 0)
        s << csvField(validUtf8(fs[static_cast<std::size_t>(results.feature[i])].id())) << ","
          << shortest(results.deviation[i]) << "," << (inBand(i) ? "in" : "out");
      else
        s << ",,"
          << (gmCloudResults::skipOf(results.feature[i]) == gmSkip::unassigned ? "unassigned"
                                                                               : "skipped");
      s << "," << shortest(cloud.xyz[3 * i]) << "," << shortest(cloud.xyz[3 * i + 1]) << ","
        << shortest(cloud.xyz[3 * i + 2]) << ","
        << (results.feature[i] >= 0 ? "" : csvField(reason(i))) << "\n";
      flushBlock(false);
      if ((i & 0xFFFF) == 0) progress.update(i);
    }
  } else {
    s << "qorv inspect: " << inspected << " points inspected, " << notJudged << " skipped, "
      << unassigned << " unassigned, " << outside << " out of tolerance, " << cloud.skippedCount()
      << " rows not read\n\n";
    writeFeatureTable(s, fs, summaries);
    writeFormTable(s, fs, summaries);
    writeToleranceTable(s, fs, summaries);
    if (!cloud.skipped.empty()) {
      s << "\nrows not read:\n";
      for (const gmCloudSkip& k : cloud.skipped)
        s << "  " << where(k) << ": " << validUtf8(k.reason) << "\n";
      if (cloud.skippedCount() > cloud.skipped.size())
        s << "  ... and " << cloud.skippedCount() - cloud.skipped.size() << " more\n";
    }
  }
  flushBlock(true);
  if (!o.cloudOut.empty()) {
    if (isDirectory(o.cloudOut)) return fail(o.cloudOut, "is a directory");
    std::ofstream ply(o.cloudOut, std::ios::binary | std::ios::trunc);
    // The report's colour scale: one and a half times the widest tolerance half-band.
    double band = 0;
    for (const gmInspectionFeature& f : fs) {
      if (std::isfinite(f.lower())) band = std::max(band, -f.lower());
      if (std::isfinite(f.upper())) band = std::max(band, f.upper());
    }
    if (!ply || !gmWritePly(ply, cloud.xyz.data(), n, results.deviation.data(),
                            results.feature.data(), 1.5 * (band > 0 ? band : 1.0),
                            [&](std::size_t done) { progress.update(done); }))
      return fail(o.cloudOut, "cannot be written");
    ply.close();
    if (!ply) return fail(o.cloudOut, "cannot be written");
  }
  progress.end();
  if (o.format != Format::text && !o.quiet)
    std::cerr << "qorv inspect: " << inspected << " points inspected, " << notJudged << " skipped, "
              << unassigned << " unassigned, " << outside << " out of tolerance, "
              << cloud.skippedCount() << " rows not read\n";
  if (inspected == 0) return fail2(o.measured, "no point could be judged");
  if (!o.report.empty()) {
    // The report is given every point out of tolerance up to its cap (past it the farthest
    // outside their band) and an even subset of the others; its caption counts the whole cloud.
    const auto& fs = inspection.features();
    auto judged = [&](std::size_t i) {
      gmInspectedPoint r;
      r.feature = results.feature[i], r.deviation = results.deviation[i];
      const gmInspectionFeature& f = fs[static_cast<std::size_t>(r.feature)];
      r.inTolerance = f.lower() <= r.deviation && r.deviation <= f.upper();
      return r;
    };
    std::vector<std::size_t> outs, ins;
    for (std::size_t i = 0; i < n; ++i)
      if (results.feature[i] >= 0) (judged(i).inTolerance ? ins : outs).push_back(i);
    const std::size_t outTotal = outs.size(), inTotal = ins.size();
    auto recordOf = [&](std::size_t i, gmMeasuredPoint& m) {
      m.line = static_cast<long>(i) + 1;
      m.centre = ERPoint3D(cloud.xyz[3 * i], cloud.xyz[3 * i + 1], cloud.xyz[3 * i + 2]);
      return inspection.inspect(m, diameter);
    };
    if (outs.size() > kMaxOutsideShown) {
      std::vector<std::pair<std::pair<int, double>, std::size_t>> by;
      for (std::size_t i : outs) {
        const gmInspectedPoint r = judged(i);
        by.push_back({pointBadness(fs[static_cast<std::size_t>(r.feature)], r), i});
      }
      std::nth_element(by.begin(), by.begin() + kMaxOutsideShown, by.end(),
                       [](const auto& a, const auto& b) { return a.first > b.first; });
      by.resize(kMaxOutsideShown);
      outs.clear();
      for (const auto& b : by) outs.push_back(b.second);
    }
    if (ins.size() > kMaxInsideShown) {
      std::vector<std::size_t> even;
      for (std::size_t k = 0; k < kMaxInsideShown; ++k)
        even.push_back(ins[k * inTotal / kMaxInsideShown]);
      ins.swap(even);
    }
    std::vector<std::size_t> chosen(outs);
    chosen.insert(chosen.end(), ins.begin(), ins.end());
    std::sort(chosen.begin(), chosen.end());
    std::vector<gmMeasuredPoint> shown(chosen.size());
    std::vector<gmInspectedPoint> shownResults(chosen.size());
    for (std::size_t k = 0; k < chosen.size(); ++k) shownResults[k] = recordOf(chosen[k], shown[k]);
    const std::vector<gmSkippedLine> none;
    ReportInputs report;
    report.nominalPath = o.nominal, report.measuredPath = o.measured, report.units = units;
    report.probeDiameter = diameter, report.probeDiameterGiven = o.probeDiameterGiven;
    report.inspected = inspected, report.notJudged = notJudged, report.unassigned = unassigned;
    report.outside = static_cast<std::size_t>(outside),
    report.failuresFirst = o.reportFailuresFirst;
    report.inspection = &inspection, report.points = &shown, report.results = &shownResults;
    report.summaries = &summaries, report.skipped = &none;
    report.alignMethod = o.align, report.alignment = alignment;
    auto group = [](std::size_t v) { return std::to_string(v); };
    report.shownOf =
        "Shown: " + group(outs.size()) + " of the " + group(outTotal) + " points out of tolerance" +
        (outs.size() == outTotal ? " (all of them)" : " (those farthest outside their band)") +
        ", and " + group(ins.size()) + " of the " + group(inTotal) + " points in tolerance" +
        (ins.size() == inTotal ? " (all of them)" : " (an even subset)") + "; " +
        group(cloud.skippedCount()) + " rows not read.";
    if (int status = emitReport(o.report, chromium, report); status != 0) return status;
  }
  return outside > 0 ? 1 : 0;
}

}  // namespace

int inspect(const InspectOptions& o, Output& out) {
  // Arguments out of their domain are usage errors, found before any work.
  if (o.probeDiameterGiven && !(o.probeDiameter >= 0 && std::isfinite(o.probeDiameter)))
    return usage("--probe-diameter must be a finite number of 0 or more");
  if (!(o.maxDistance > 0))
    return usage("--max-distance must be a number greater than 0 (inf: no limit)");
  gmMeasuredFormat format;
  if (!o.delimiter.empty()) {
    const std::string& d = o.delimiter;
    format.delimiter = d == "tab" || d == "\t"    ? '\t'
                       : d == "space" || d == " " ? ' '
                       : d.size() == 1            ? d[0]
                                                  : 0;
    if (format.delimiter != ',' && format.delimiter != ';' && format.delimiter != '\t' &&
        format.delimiter != ' ')
      return usage("--delimiter must be ',', ';', 'tab' or 'space'");
  }
  if (!o.decimal.empty()) {
    if (o.decimal != "." && o.decimal != ",") return usage("--decimal must be '.' or ','");
    format.decimal = o.decimal[0];
  }
  if (format.delimiter != 0 && format.delimiter == format.decimal)
    return usage("the delimiter and the decimal mark must differ");

  const bool pdf = isPdfPath(o.report);
  const std::string chromium = pdf ? findChromium() : "";
  if (pdf && chromium.empty())
    return fail2(o.report,
                 "a PDF report prints through headless Chromium, which was not found (install "
                 "chromium, or name it in QORV_CHROMIUM); an .html report needs none");
  std::string units;
  std::vector<gmInspectionFeature> features;
  try {
    features = readNominal(o.nominal, o.cad, &units);
  } catch (const NominalError& e) {
    std::cerr << "qorv: " << o.nominal << ": " << e.why << "\n";
    return 2;
  }
  gmInspection inspection(std::move(features));
  inspection.setMaxDistance(o.maxDistance);

  Progress progress(o.progress || (!o.quiet && ::isatty(2)), ::isatty(2));
  std::vector<gmMeasuredPoint> points;
  std::vector<gmSkippedLine> skipped;
  if (isDirectory(o.measured))
    return fail2(o.measured, "is a directory, not a file of measured points");
  {
    char head[8] = {};
    std::ifstream in(o.measured, std::ios::binary);
    in.read(head, sizeof head);
    const gmCloudKind kind =
        gmDetectCloud(o.measured, std::string_view(head, static_cast<std::size_t>(in.gcount())));
    if (kind != gmCloudKind::csv)
      return inspectCloud(o, out, inspection, progress, units, chromium);
  }
  if (!o.cloudOut.empty())
    return usage("--cloud-out writes point clouds (PLY, XYZ, ASC or PTS measured files)");
  const int threads = o.threads > 0
                          ? o.threads
                          : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  {
    std::ifstream in(o.measured, std::ios::binary);
    if (!in) return fail2(o.measured, "cannot be read");
    progress.stage("reading", fileSize(o.measured));
    format = gmReadMeasuredPoints(
        in, points, skipped, format, [&](std::uint64_t bytes) { progress.update(bytes); }, threads);
    if (in.bad()) return fail2(o.measured, "cannot be read");
  }
  if (format.binary)
    return fail2(o.measured, "is a binary file, not measured points (CSV or text)");
  if (points.empty()) {
    std::string why = "no measured point could be read";
    if (!skipped.empty())
      why += " (" + std::to_string(skipped.size()) + " lines skipped, the first, line " +
             std::to_string(skipped.front().line) + ": " + skipped.front().reason + ")";
    else if (format.lines == 0)
      why += " (the file is empty)";
    return fail2(o.measured, why);
  }
  bool anyDiameter = o.probeDiameterGiven;
  for (std::size_t i = 0; i < points.size() && !anyDiameter; ++i)
    anyDiameter = points[i].diameter >= 0;
  if (!anyDiameter)
    std::cerr << "qorv inspect: no probe diameter given (--probe-diameter or per point): points "
                 "are judged "
                 "uncompensated\n";
  const double diameter = o.probeDiameterGiven ? o.probeDiameter : 0.0;
  gmAlignment alignment;
  if (!o.align.empty()) {
    const std::string why =
        alignPoints(o.align, inspection.features(), points, diameter, o.maxDistance, alignment);
    if (!why.empty()) return fail2(o.measured, why);
  }

  progress.stage("judging", points.size());
  const std::vector<gmInspectedPoint> results =
      inspection.run(points, diameter, threads, [&](std::size_t done) { progress.update(done); });
  // JSON: the results are formatted a block at a time from here on, on threads - 1 threads
  // while the fits run and on every thread once the document's head is written; no string per
  // value.
  const auto& fs = inspection.features();
  std::vector<std::string> names(fs.size());
  for (std::size_t k = 0; k < fs.size(); ++k) appendJsonString(names[k], fs[k].id());
  std::size_t firstJudged = 0;
  while (firstJudged < results.size() && results[firstJudged].feature < 0) ++firstJudged;
  constexpr std::size_t kBlock = 1 << 12;
  auto formatBlock = [&](std::size_t block, std::string& b) {
    // A point's numbers and keys go to text first: one copy into the block, not one a value.
    char text[10 * kShortestRoom + 256];
    auto number = [](char* p, double v) {
      if (std::isfinite(v)) return toShortest(p, v);
      const char* word = std::isnan(v) ? "\"nan\"" : v > 0 ? "\"inf\"" : "\"-inf\"";
      const std::size_t n = std::strlen(word);
      return static_cast<char*>(std::memcpy(p, word, n)) + n;
    };
    auto xyz = [&](char* p, const double* v) {
      p = number(p, v[0]), p = put(p, ", ");
      p = number(p, v[1]), p = put(p, ", ");
      p = number(p, v[2]);
      *p++ = ']';
      return p;
    };
    for (std::size_t i = block * kBlock, to = std::min(results.size(), i + kBlock); i < to; ++i) {
      const gmInspectedPoint& r = results[i];
      if (r.feature < 0) continue;
      b += i == firstJudged ? "\n    {\"line\": " : ",\n    {\"line\": ";
      b.append(text, std::to_chars(text, text + 32, points[i].line).ptr);
      b += ", \"id\": ";
      appendJsonString(b, points[i].id);
      b += ", \"feature\": ";
      b += names[static_cast<std::size_t>(r.feature)];
      char* p = put(text, ", \"deviation\": ");
      p = number(p, r.deviation);
      p = r.inTolerance ? put(p, ", \"in_tolerance\": true") : put(p, ", \"in_tolerance\": false");
      p = xyz(put(p, ", \"calculated\": ["), r.calculated.data());
      p = xyz(put(p, ", \"nominal\": ["), r.nominal.data());
      p = xyz(put(p, ", \"normal\": ["), r.normal.data());
      *p++ = '}';
      b.append(text, p);
    }
  };
  std::optional<BlockPipe> blocks;
  if (o.format == Format::json)
    blocks.emplace((results.size() + kBlock - 1) / kBlock, std::max(1, threads), formatBlock);
  const std::vector<gmFeatureSummary> summaries = inspection.summarize(results, points, threads);

  // Skipped and unassigned points join the malformed lines, in line order.
  const std::size_t malformed = skipped.size();
  std::size_t unassigned = 0;
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (results[i].feature >= 0) continue;
    if (results[i].unassigned()) ++unassigned;
    skipped.push_back({points[i].line, inspection.skipReason(results[i], points[i])});
  }
  std::stable_sort(skipped.begin(), skipped.end(),
                   [](const gmSkippedLine& a, const gmSkippedLine& b) { return a.line < b.line; });
  int outside = 0;
  std::size_t inspected = 0;
  for (const gmInspectedPoint& r : results) {
    if (r.feature < 0) continue;
    ++inspected;
    if (!r.inTolerance) ++outside;
  }
  const std::size_t notJudged = skipped.size() - unassigned;
  auto featureName = [&](const gmInspectedPoint& r) -> const std::string& {
    return fs[static_cast<std::size_t>(r.feature)].id();
  };

  progress.stage("writing", results.size());
  // Written in blocks: standard output synchronised with C's stdio costs a call per piece.
  std::ostringstream s;
  auto flushBlock = [&](bool always) {
    if (!always && s.tellp() < (1 << 16)) return;
    out.utf8() << s.view();
    s.str("");
  };
  if (o.format == Format::json) {
    // Streamed: a million points would make a document of gigabytes in memory.
    s << "{\n  \"points\": " << points.size() + malformed << ",\n  \"inspected\": " << inspected
      << ",\n  \"unassigned\": " << unassigned << ",\n  \"out_of_tolerance\": " << outside
      << ",\n  \"max_distance\": " << jsonNumber(o.maxDistance);
    if (!o.align.empty()) s << ",\n  \"alignment\": " << alignmentJson(alignment);
    s << ",\n  \"skipped\": [";
    for (std::size_t k = 0; k < skipped.size(); ++k)
      s << (k ? "," : "") << "\n    {\"line\": " << skipped[k].line
        << ", \"reason\": " << jsonString(skipped[k].reason) << "}";
    s << (skipped.empty() ? "" : "\n  ") << "],\n  \"features\": [";
    writeFeaturesJson(s, fs, summaries);
    s << (fs.empty() ? "" : "\n  ") << "],\n  \"results\": [";
    flushBlock(true);
    blocks->write(out.utf8(), [&](std::size_t b) { progress.update(b * kBlock); });
    const bool firstResult = firstJudged == results.size();
    s << (firstResult ? "" : "\n  ") << "]\n}\n";
  } else if (o.format == Format::csv) {
    s << "line,id,feature,deviation,status,x,y,z,nominal_x,nominal_y,nominal_z,nx,ny,nz,reason\n";
    std::size_t next = 0;  // the skipped lines, merged in line order
    for (std::size_t i = 0; i <= results.size(); ++i) {
      const long line = i < results.size() ? points[i].line : LONG_MAX;
      for (; next < skipped.size() && skipped[next].line <= line; ++next) {
        if (i < results.size() && skipped[next].line == line && results[i].feature < 0) {
          s << line << "," << csvField(validUtf8(points[i].id)) << ","
            << csvField(validUtf8(points[i].feature)) << ",,"
            << (results[i].unassigned() ? "unassigned" : "skipped") << ",,,,,,,,,,"
            << csvField(validUtf8(skipped[next].reason)) << "\n";
          continue;
        }
        s << skipped[next].line << ",,,,skipped,,,,,,,,,,"
          << csvField(validUtf8(skipped[next].reason)) << "\n";
      }
      if (i == results.size()) break;
      const gmInspectedPoint& r = results[i];
      if (r.feature < 0) continue;
      const ERPoint3D q = r.calculated, t = r.nominal;
      const ERVector3D n = r.normal;
      s << points[i].line << "," << csvField(validUtf8(points[i].id)) << ","
        << csvField(validUtf8(featureName(r))) << "," << shortest(r.deviation) << ","
        << (r.inTolerance ? "in" : "out") << "," << shortest(q.x()) << "," << shortest(q.y()) << ","
        << shortest(q.z()) << "," << shortest(t.x()) << "," << shortest(t.y()) << ","
        << shortest(t.z()) << "," << shortest(n.x()) << "," << shortest(n.y()) << ","
        << shortest(n.z()) << ",\n";
      flushBlock(false);
      if ((i & 0xFFFF) == 0) progress.update(i);
    }
  } else {
    s << "qorv inspect: " << inspected << " points inspected, " << notJudged << " skipped, "
      << unassigned << " unassigned, " << outside << " out of tolerance\n\n";
    writeFeatureTable(s, fs, summaries);
    writeFormTable(s, fs, summaries);
    writeToleranceTable(s, fs, summaries);
    if (outside > 0) {
      s << "\nout of tolerance:\n";
      int listed = 0;
      for (std::size_t i = 0; i < results.size(); ++i) {
        const gmInspectedPoint& r = results[i];
        if (r.feature < 0 || r.inTolerance) continue;
        // The table stays readable; CSV and JSON list every point.
        if (++listed > 50) {
          s << "  ... and " << outside - 50 << " more (--format csv or json lists them all)\n";
          break;
        }
        const gmInspectionFeature& f = fs[static_cast<std::size_t>(r.feature)];
        s << "  line " << points[i].line << "  " << validUtf8(points[i].id) << "  "
          << validUtf8(f.id()) << "  deviation " << fixed(r.deviation) << "  band ["
          << shortest(f.lower()) << ", " << shortest(f.upper()) << "]\n";
      }
    }
    if (!skipped.empty()) {
      s << "\nskipped:\n";
      for (const gmSkippedLine& k : skipped)
        s << "  line " << k.line << ": " << validUtf8(k.reason) << "\n";
    }
  }
  flushBlock(true);
  progress.end();
  if (o.format != Format::text && !o.quiet)
    std::cerr << "qorv inspect: " << inspected << " points inspected, " << notJudged << " skipped, "
              << unassigned << " unassigned, " << outside << " out of tolerance\n";
  if (inspected == 0) return fail2(o.measured, "no point could be judged (see the skipped lines)");
  if (!o.out.empty()) {
    if (int status =
            storeResults(o.out, inspection, points, results, summaries, o.align, alignment);
        status != 0)
      return status;
  }
  if (!o.report.empty()) {
    ReportInputs report;
    report.nominalPath = o.nominal, report.measuredPath = o.measured, report.units = units;
    report.alignMethod = o.align, report.alignment = alignment;
    report.probeDiameter = diameter, report.probeDiameterGiven = o.probeDiameterGiven;
    report.inspected = inspected, report.notJudged = notJudged, report.unassigned = unassigned;
    report.outside = static_cast<std::size_t>(outside),
    report.failuresFirst = o.reportFailuresFirst;
    report.inspection = &inspection, report.points = &points, report.results = &results;
    report.summaries = &summaries, report.skipped = &skipped;
    if (int status = emitReport(o.report, chromium, report); status != 0) return status;
  }
  return outside > 0 ? 1 : 0;
}

}  // namespace qorv::tool
