// qorv inspect: measured probe points against nominal features, with statistics, stored results
// and a report. The nominal JSON is described by examples/inspection/part.schema.json.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "qorv/measurement/inspection.h"
#include "qorv/persistence/db_object.h"
#include "qorv/persistence/object_database.h"
#include "qorv/platform/file.h"
#include "tools/qorv/commands.h"
#include "tools/qorv/inspect_report.h"
#include "tools/qorv/nominal.h"
#include "tools/qorv/safe_replace.h"

using nlohmann::json;

namespace qorv::tool {

namespace {

std::string shortest(double v) {
  if (!std::isfinite(v)) return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, r.ptr);
}

std::string fixed(double v, int digits = 4) {
  std::ostringstream s;
  s << std::fixed << std::setprecision(digits) << v;
  return s.str();
}

json number(double v) {
  if (std::isfinite(v)) return v;
  return std::isnan(v) ? json("nan") : json(v > 0 ? "inf" : "-inf");
}

json xyz(const ERPoint3D& p) { return json::array({number(p.x()), number(p.y()), number(p.z())}); }
json xyz(const ERVector3D& p) { return json::array({number(p.x()), number(p.y()), number(p.z())}); }

// Stores the target points and one summary object per feature (properties documented in the
// schema file) in a new database at temp; path names it in messages.
int writeResults(const std::string& path, const std::string& temp, const gmInspection& inspection,
                 const std::vector<gmInspectedPoint>& results, const std::vector<gmFeatureSummary>& summaries) {
  try {
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    if (!db->Open(temp.c_str(), 0)) return fail(path, "cannot create the results database");
    db->begin();
    for (const gmInspectedPoint& r : results) {
      if (r.feature < 0) continue;
      gmTargetPoint t = r.target;
      db->Store(t);
    }
    for (std::size_t k = 0; k < summaries.size(); ++k) {
      const gmInspectionFeature& f = inspection.features()[k];
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
      o.set_faults(s.outOfTolerance);
      db->Store(o);
    }
    db->commit();
    db->Close();
  } catch (qorv::platform::CFileException& e) {
    return fail(path, e.describe());
  }
  return 0;
}

// The old results stay whole until the new ones are (see safe_replace.h).
int storeResults(const std::string& path, const gmInspection& inspection,
                 const std::vector<gmInspectedPoint>& results, const std::vector<gmFeatureSummary>& summaries) {
  return replaceDatabase(path, [&](const std::string& temp) {
    return writeResults(path, temp, inspection, results, summaries);
  });
}

}  // namespace

int inspect(const InspectOptions& o, Output& out) {
  std::vector<gmInspectionFeature> features;
  try {
    features = readNominal(o.nominal);
  } catch (const NominalError& e) {
    std::cerr << "qorv: " << o.nominal << ": " << e.why << "\n";
    return 2;
  }
  const gmInspection inspection(std::move(features));
  std::vector<gmMeasuredPoint> points;
  std::vector<gmSkippedLine> skipped;
  {
    std::ifstream in(o.measured, std::ios::binary);
    if (!in) {
      std::cerr << "qorv: " << o.measured << ": cannot be read\n";
      return 2;
    }
    gmReadMeasuredPoints(in, points, skipped);
  }
  const int threads = o.threads > 0 ? o.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const bool bar = !o.quiet && ::isatty(2);
  auto progress = [&](std::size_t done) {
    if (!bar) return;
    const int pct = points.empty() ? 100 : static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(points.size()));
    std::cerr << "\rqorv inspect: " << done << " / " << points.size() << " points (" << pct << "%)" << std::flush;
  };
  const std::vector<gmInspectedPoint> results = inspection.run(points, o.probeDiameter, threads, progress);
  if (bar) std::cerr << "\n";
  const std::vector<gmFeatureSummary> summaries = inspection.summarize(results, points);

  // Skipped points join the malformed lines, in line order.
  const std::size_t malformed = skipped.size();
  for (std::size_t i = 0; i < results.size(); ++i)
    if (results[i].feature < 0) skipped.push_back({points[i].line, results[i].skipReason});
  std::sort(skipped.begin(), skipped.end(), [](const gmSkippedLine& a, const gmSkippedLine& b) { return a.line < b.line; });
  int outside = 0;
  std::size_t inspected = 0;
  for (const gmInspectedPoint& r : results) {
    if (r.feature < 0) continue;
    ++inspected;
    if (!r.inTolerance) ++outside;
  }
  const auto& fs = inspection.features();

  if (o.format == Format::json) {
    json doc;
    doc["points"] = points.size() + malformed;
    doc["inspected"] = inspected;
    doc["skipped"] = json::array();
    for (const gmSkippedLine& s : skipped) doc["skipped"].push_back({{"line", s.line}, {"reason", s.reason}});
    doc["out_of_tolerance"] = outside;
    doc["features"] = json::array();
    for (std::size_t k = 0; k < fs.size(); ++k) {
      const gmFeatureSummary& s = summaries[k];
      json f = {{"id", fs[k].id()},
                {"kind", fs[k].label()},
                {"count", s.stats.num_projected()},
                {"tolerance", json::array({number(fs[k].lower()), number(fs[k].upper())})},
                {"out_of_tolerance", s.outOfTolerance},
                {"skipped", s.skipped}};
      if (s.stats.num_projected() > 0) {
        f["min"] = number(s.stats.min_value());
        f["max"] = number(s.stats.max_value());
        f["mean"] = number(s.stats.mean());
        f["std_dev"] = number(s.stats.standard_deviation());
      }
      if (s.fitted) {
        f["fit"] = {{"form_error", number(s.formError)}, {"iterations", s.iterations}};
        if (fs[k].kind() != gmInspectionFeature::PLANE) f["fit"]["radius"] = number(s.size);
        f["fit"][fs[k].kind() == gmInspectionFeature::PLANE ? "normal" : "axis"] = xyz(s.fitAxis);
        f["fit"][fs[k].kind() == gmInspectionFeature::PLANE ? "centroid" : "centre"] = xyz(s.fitCentre);
      }
      doc["features"].push_back(f);
    }
    doc["results"] = json::array();
    for (std::size_t i = 0; i < results.size(); ++i) {
      const gmInspectedPoint& r = results[i];
      if (r.feature < 0) continue;
      ERVector3D n;
      r.target.get_surface_normal(n);
      doc["results"].push_back({{"line", points[i].line},
                                {"id", points[i].id},
                                {"feature", fs[static_cast<std::size_t>(r.feature)].id()},
                                {"deviation", number(r.deviation)},
                                {"in_tolerance", r.inTolerance},
                                {"calculated", xyz(r.target.calculated_point())},
                                {"nominal", xyz(r.target.target_point())},
                                {"normal", xyz(n)}});
    }
    out.utf8() << doc.dump(2) << "\n";
  } else if (o.format == Format::csv) {
    std::ostream& s = out.stream();
    s << "line,id,feature,deviation,status,x,y,z,nominal_x,nominal_y,nominal_z,nx,ny,nz\n";
    for (std::size_t i = 0; i < results.size(); ++i) {
      const gmInspectedPoint& r = results[i];
      if (r.feature < 0) continue;
      const ERPoint3D q = r.target.calculated_point(), t = r.target.target_point();
      ERVector3D n;
      r.target.get_surface_normal(n);
      s << points[i].line << "," << points[i].id << "," << fs[static_cast<std::size_t>(r.feature)].id() << ","
        << shortest(r.deviation) << "," << (r.inTolerance ? "in" : "out") << "," << shortest(q.x()) << ","
        << shortest(q.y()) << "," << shortest(q.z()) << "," << shortest(t.x()) << "," << shortest(t.y()) << ","
        << shortest(t.z()) << "," << shortest(n.x()) << "," << shortest(n.y()) << "," << shortest(n.z()) << "\n";
    }
    for (const gmSkippedLine& k : skipped) s << k.line << ",,,,skipped,,,,,,,,,\n";
  } else {
    std::ostream& s = out.stream();
    s << "qorv inspect: " << inspected << " points inspected, " << skipped.size() << " skipped, "
      << outside << " out of tolerance\n\n";
    s << std::left << std::setw(12) << "feature" << std::setw(10) << "kind" << std::right << std::setw(8)
      << "points" << std::setw(11) << "min" << std::setw(11) << "max" << std::setw(11) << "mean"
      << std::setw(11) << "std dev" << std::setw(6) << "out" << std::setw(11) << "fit size" << std::setw(11)
      << "form" << std::setw(6) << "iter" << "\n";
    for (std::size_t k = 0; k < fs.size(); ++k) {
      const gmFeatureSummary& f = summaries[k];
      const bool any = f.stats.num_projected() > 0;
      s << std::left << std::setw(12) << fs[k].id() << std::setw(10) << fs[k].label()
        << std::right << std::setw(8) << f.stats.num_projected() << std::setw(11)
        << (any ? fixed(f.stats.min_value()) : "-") << std::setw(11) << (any ? fixed(f.stats.max_value()) : "-")
        << std::setw(11) << (any ? fixed(f.stats.mean()) : "-") << std::setw(11)
        << (any ? fixed(f.stats.standard_deviation()) : "-") << std::setw(6) << f.outOfTolerance << std::setw(11)
        << (f.fitted && fs[k].kind() != gmInspectionFeature::PLANE ? fixed(f.size) : "-") << std::setw(11)
        << (f.fitted ? fixed(f.formError) : "-") << std::setw(6) << (f.fitted ? std::to_string(f.iterations) : "-")
        << "\n";
    }
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
        s << "  line " << points[i].line << "  " << points[i].id << "  " << f.id() << "  deviation "
          << fixed(r.deviation) << "  band [" << shortest(f.lower()) << ", " << shortest(f.upper()) << "]\n";
      }
    }
    if (!skipped.empty()) {
      s << "\nskipped:\n";
      for (const gmSkippedLine& k : skipped) s << "  line " << k.line << ": " << k.reason << "\n";
    }
  }
  if (!o.out.empty()) {
    if (int status = storeResults(o.out, inspection, results, summaries); status != 0) return status;
  }
  if (!o.report.empty()) {
    std::ofstream html(o.report, std::ios::binary | std::ios::trunc);
    if (!html) return fail(o.report, "cannot be written");
    writeReport(html, o.nominal, inspection, points, results, summaries, skipped);
    if (!html) return fail(o.report, "cannot be written");
  }
  return outside > 0 ? 1 : 0;
}

}  // namespace qorv::tool
