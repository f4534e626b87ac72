// The report shows, without any script: the summary per feature, a histogram of deviations, and
// the calculated points in three orthographic views, coloured by deviation on a diverging scale
// centred on 0 (blue: less material, red: more), the tolerance band marked on the colour bar and
// the points out of tolerance drawn larger with a dark ring. Past 20,000 points a view shows an
// even subset (every point out of tolerance kept) and says so.
#include "tools/qorv/inspect_report.h"
#include "tools/qorv/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>

namespace qorv::tool {

namespace {

constexpr std::size_t kMaxDrawn = 20000;

std::string escaped(const std::string& text) {
  const std::string s = validUtf8(text);
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string num(double v, int digits = 4) {
  if (!std::isfinite(v)) return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
  std::ostringstream s;
  s << std::fixed << std::setprecision(digits) << v;
  return s.str();
}

// Blue - white - red for t in [-1, 1].
std::string colour(double t) {
  t = std::clamp(std::isfinite(t) ? t : 0.0, -1.0, 1.0);
  const double lo[3] = {33, 102, 172}, mid[3] = {247, 247, 247}, hi[3] = {178, 24, 43};
  const double* end = t < 0 ? lo : hi;
  const double a = std::fabs(t);
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x", static_cast<int>(mid[0] + (end[0] - mid[0]) * a),
                static_cast<int>(mid[1] + (end[1] - mid[1]) * a), static_cast<int>(mid[2] + (end[2] - mid[2]) * a));
  return buffer;
}

}  // namespace

void writeReport(std::ostream& html, const std::string& nominalName, const gmInspection& inspection,
                 const std::vector<gmMeasuredPoint>& points, const std::vector<gmInspectedPoint>& results,
                 const std::vector<gmFeatureSummary>& summaries, const std::vector<gmSkippedLine>& skipped,
                 const std::string& shownOf) {
  const auto& fs = inspection.features();
  std::vector<std::size_t> judged;
  for (std::size_t i = 0; i < results.size(); ++i)
    if (results[i].feature >= 0) judged.push_back(i);
  std::size_t outside = 0;
  for (std::size_t i : judged) outside += results[i].inTolerance ? 0 : 1;
  // The colour scale: one and a half times the widest tolerance half-band.
  double band = 0, lower = 0, upper = 0;
  for (const gmInspectionFeature& f : fs) {
    if (std::isfinite(f.lower())) band = std::max(band, -f.lower()), lower = std::min(lower, f.lower());
    if (std::isfinite(f.upper())) band = std::max(band, f.upper()), upper = std::max(upper, f.upper());
  }
  if (!(band > 0)) {
    for (std::size_t i : judged) band = std::max(band, std::fabs(results[i].deviation));
    if (!(band > 0)) band = 1;
  }
  const double scale = 1.5 * band;

  html << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Inspection of "
       << escaped(nominalName) << "</title>\n<style>\nbody{font-family:sans-serif;margin:2em;color:#222}"
       << "table{border-collapse:collapse;margin:1em 0}td,th{border:1px solid #bbb;padding:3px 8px;text-align:right}"
       << "th{background:#eee}td.l,th.l{text-align:left}.bad{color:#b2182b;font-weight:bold}"
       << "svg{border:1px solid #ccc;margin:4px;background:#fff}figure{display:inline-block;margin:0 1em 1em 0}"
       << "\n</style></head><body>\n";
  html << "<h1>Inspection of " << escaped(nominalName) << "</h1>\n<p>";
  if (!shownOf.empty())
    html << escaped(shownOf);
  else
    html << judged.size() << " points inspected, " << skipped.size() << " skipped, <span class=\""
         << (outside ? "bad" : "") << "\">" << outside << " out of tolerance</span>.";
  html << "</p>\n";

  html << "<h2>Features</h2>\n<table><tr><th class=\"l\">feature</th><th class=\"l\">kind</th><th>points</th>"
       << "<th>lower</th><th>upper</th><th>min</th><th>max</th><th>mean</th><th>std dev</th><th>out</th>"
       << "<th>fit radius</th><th>form error</th><th>iterations</th></tr>\n";
  for (std::size_t k = 0; k < fs.size(); ++k) {
    const gmFeatureSummary& s = summaries[k];
    const bool any = s.stats.num_projected() > 0;
    html << "<tr><td class=\"l\">" << escaped(fs[k].id()) << "</td><td class=\"l\">"
         << fs[k].label() << "</td><td>" << s.stats.num_projected() << "</td><td>"
         << num(fs[k].lower()) << "</td><td>" << num(fs[k].upper()) << "</td><td>"
         << (any ? num(s.stats.min_value()) : "-") << "</td><td>" << (any ? num(s.stats.max_value()) : "-")
         << "</td><td>" << (any ? num(s.stats.mean()) : "-") << "</td><td>"
         << (any ? num(s.stats.standard_deviation()) : "-") << "</td><td"
         << (s.outOfTolerance ? " class=\"bad\"" : "") << ">" << s.outOfTolerance << "</td><td>"
         << (s.fitted && fs[k].kind() != gmInspectionFeature::PLANE ? num(s.size) : "-") << "</td><td>"
         << (s.fitted ? num(s.formError) : "-") << "</td><td>" << (s.fitted ? std::to_string(s.iterations) : "-")
         << "</td></tr>\n";
  }
  html << "</table>\n";

  // Histogram of every deviation, bars coloured by their value.
  html << "<h2>Deviations</h2>\n";
  {
    constexpr int kBins = 40, W = 640, H = 220, M = 30;
    double lo = -scale, hi = scale;
    for (std::size_t i : judged) lo = std::min(lo, results[i].deviation), hi = std::max(hi, results[i].deviation);
    std::vector<int> bins(kBins, 0);
    for (std::size_t i : judged) {
      const int b = std::clamp(static_cast<int>((results[i].deviation - lo) / (hi - lo) * kBins), 0, kBins - 1);
      ++bins[static_cast<std::size_t>(b)];
    }
    const int top = std::max(1, *std::max_element(bins.begin(), bins.end()));
    html << "<svg id=\"histogram\" width=\"" << W << "\" height=\"" << H
         << "\" xmlns=\"http://www.w3.org/2000/svg\">\n";
    auto x = [&](double v) { return M + (v - lo) / (hi - lo) * (W - 2 * M); };
    for (int b = 0; b < kBins; ++b) {
      const double h = (H - 2 * M) * bins[static_cast<std::size_t>(b)] / static_cast<double>(top);
      const double v0 = lo + (hi - lo) * b / kBins, v1 = lo + (hi - lo) * (b + 1) / kBins;
      html << "<rect x=\"" << num(x(v0), 1) << "\" y=\"" << num(H - M - h, 1) << "\" width=\""
           << num(x(v1) - x(v0) - 1, 1) << "\" height=\"" << num(h, 1) << "\" fill=\""
           << colour((v0 + v1) / 2 / scale) << "\" stroke=\"#555\" stroke-width=\"0.5\"/>\n";
    }
    for (double v : {lower, upper})
      if (v != 0)
        html << "<line x1=\"" << num(x(v), 1) << "\" x2=\"" << num(x(v), 1) << "\" y1=\"" << M / 2 << "\" y2=\""
             << H - M << "\" stroke=\"#000\" stroke-dasharray=\"4 3\"/>\n";
    html << "<line x1=\"" << num(x(0), 1) << "\" x2=\"" << num(x(0), 1) << "\" y1=\"" << M / 2 << "\" y2=\"" << H - M
         << "\" stroke=\"#888\"/>\n";
    html << "<text x=\"" << M << "\" y=\"" << H - 8 << "\" font-size=\"11\">" << num(lo) << "</text>"
         << "<text x=\"" << W - M << "\" y=\"" << H - 8 << "\" font-size=\"11\" text-anchor=\"end\">" << num(hi)
         << "</text><text x=\"" << num(x(0), 1) << "\" y=\"" << H - 8
         << "\" font-size=\"11\" text-anchor=\"middle\">0</text>\n</svg>\n";
  }

  // Colour bar with the tolerance band.
  {
    constexpr int W = 640, H = 50, M = 30, kSteps = 64;
    html << "<div><svg id=\"colourbar\" width=\"" << W << "\" height=\"" << H << "\" xmlns=\"http://www.w3.org/2000/svg\">\n";
    for (int i = 0; i < kSteps; ++i) {
      const double t = -1 + 2.0 * (i + 0.5) / kSteps;
      html << "<rect x=\"" << num(M + (W - 2.0 * M) * i / kSteps, 1) << "\" y=\"5\" width=\""
           << num((W - 2.0 * M) / kSteps + 0.5, 1) << "\" height=\"20\" fill=\"" << colour(t) << "\"/>\n";
    }
    auto x = [&](double v) { return M + (v + scale) / (2 * scale) * (W - 2 * M); };
    for (double v : {-scale, lower, 0.0, upper, scale}) {
      html << "<line x1=\"" << num(x(v), 1) << "\" x2=\"" << num(x(v), 1) << "\" y1=\"3\" y2=\"29\" stroke=\"#000\""
           << ((v == lower || v == upper) && v != 0 ? " stroke-width=\"2\"" : "") << "/>"
           << "<text x=\"" << num(x(v), 1) << "\" y=\"43\" font-size=\"11\" text-anchor=\"middle\">" << num(v)
           << "</text>\n";
    }
    html << "</svg></div>\n";
  }

  // Three orthographic views.
  std::vector<std::size_t> drawn = judged;
  if (drawn.size() > kMaxDrawn) {
    std::vector<std::size_t> subset;
    const double step = static_cast<double>(drawn.size()) / kMaxDrawn;
    for (std::size_t k = 0; k < kMaxDrawn; ++k) subset.push_back(drawn[static_cast<std::size_t>(k * step)]);
    for (std::size_t i : drawn)
      if (!results[i].inTolerance && subset.size() < 2 * kMaxDrawn) subset.push_back(i);
    std::sort(subset.begin(), subset.end());
    subset.erase(std::unique(subset.begin(), subset.end()), subset.end());
    drawn.swap(subset);
  }
  // Points out of tolerance last, so they are drawn on top.
  std::stable_partition(drawn.begin(), drawn.end(), [&](std::size_t i) { return results[i].inTolerance; });
  html << "<h2>Points</h2>\n";
  if (drawn.size() < judged.size())
    html << "<p>Showing " << drawn.size() << " of " << judged.size() << " points (every point out of tolerance).</p>\n";
  ERMinimax3D box;
  for (std::size_t i : judged) box += results[i].calculated;
  const char* names[3] = {"top (x, y)", "front (x, z)", "side (y, z)"};
  const int axes[3][2] = {{0, 1}, {0, 2}, {1, 2}};
  for (int v = 0; v < 3; ++v) {
    constexpr int S = 420, M = 20;
    auto coord = [&](const ERPoint3D& p, int a) { return a == 0 ? p.x() : (a == 1 ? p.y() : p.z()); };
    const ERPoint3D lo = judged.empty() ? ERPoint3D() : box.MinPoint(), hi = judged.empty() ? ERPoint3D(1, 1, 1) : box.MaxPoint();
    const double ex = coord(hi, axes[v][0]) - coord(lo, axes[v][0]), ey = coord(hi, axes[v][1]) - coord(lo, axes[v][1]);
    const double span = std::max({ex, ey, 1e-12});
    html << "<figure><svg class=\"view\" width=\"" << S << "\" height=\"" << S
         << "\" xmlns=\"http://www.w3.org/2000/svg\">\n";
    for (std::size_t i : drawn) {
      const gmInspectedPoint& r = results[i];
      const ERPoint3D p = r.calculated;
      const double px = M + (coord(p, axes[v][0]) - coord(lo, axes[v][0])) / span * (S - 2 * M);
      const double py = S - M - (coord(p, axes[v][1]) - coord(lo, axes[v][1])) / span * (S - 2 * M);
      html << "<circle cx=\"" << num(px, 1) << "\" cy=\"" << num(py, 1) << "\" r=\""
           << (r.inTolerance ? "2.5" : "4.5") << "\" fill=\"" << colour(r.deviation / scale) << "\""
           << (r.inTolerance ? "" : " stroke=\"#000\" stroke-width=\"1.2\"") << "/>\n";
    }
    html << "</svg><figcaption>" << names[v] << "</figcaption></figure>\n";
  }

  if (!skipped.empty()) {
    html << "<h2>Skipped</h2>\n<table><tr><th>line</th><th class=\"l\">reason</th></tr>\n";
    for (const gmSkippedLine& s : skipped)
      html << "<tr><td>" << s.line << "</td><td class=\"l\">" << escaped(s.reason) << "</td></tr>\n";
    html << "</table>\n";
  }
  (void)points;
  html << "</body></html>\n";
}

}  // namespace qorv::tool
