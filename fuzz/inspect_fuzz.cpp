// The inspection's inputs as a user hands them over: the first byte chooses a measured-points
// file or a nominal part (JSON), the rest is its contents. Any crash, hang, out-of-bounds access,
// an uncaught exception, a point that is not finite, points read otherwise on two threads, or a
// nominal that reads but judges a point into NaN is a finding.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

#include <unistd.h>

#include "qorv/measurement/inspection.h"
#include "tools/qorv/nominal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    std::istringstream in(text);
    std::vector<gmMeasuredPoint> points;
    std::vector<gmSkippedLine> skipped;
    gmMeasuredFormat format;
    format.delimiter = "\0,;\t "[(data[0] >> 1) % 5];
    gmReadMeasuredPoints(in, points, skipped, format);
    for (const gmMeasuredPoint& p : points)
      if (!std::isfinite(p.centre.x()) || !std::isfinite(p.centre.y()) ||
          !std::isfinite(p.centre.z()) || (p.diameter != -1 && !(p.diameter >= 0)))
        __builtin_trap();
    for (const gmSkippedLine& s : skipped)
      if (s.reason.empty() || s.line < 1) __builtin_trap();
    // Read on threads, the same points and skipped lines.
    std::istringstream again(text);
    std::vector<gmMeasuredPoint> points2;
    std::vector<gmSkippedLine> skipped2;
    gmReadMeasuredPoints(again, points2, skipped2, format, {}, 2);
    if (points2.size() != points.size() || skipped2.size() != skipped.size()) __builtin_trap();
    for (std::size_t i = 0; i < points.size(); ++i)
      if (points2[i].line != points[i].line || points2[i].id != points[i].id) __builtin_trap();
    for (std::size_t i = 0; i < skipped.size(); ++i)
      if (skipped2[i].line != skipped[i].line || skipped2[i].reason != skipped[i].reason)
        __builtin_trap();
    return 0;
  }
  static const std::string path = [] {
    const char* dir = std::getenv("QORV_FUZZ_TMP");
    return std::string(dir ? dir : "/tmp") + "/qorv_nominal_fuzz_" + std::to_string(::getpid()) +
           ".json";
  }();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  } else {
    return 0;
  }
  try {
    const gmInspection inspection(qorv::tool::readNominal(path));
    for (int k = 0; k < 4; ++k) {
      gmMeasuredPoint p;
      p.centre = ERPoint3D(k * 1.5 - 2, 0.25 * k, 1.0 - k);
      const gmInspectedPoint r = inspection.inspect(p, 0.5);
      if (r.feature >= 0 && std::isnan(r.deviation)) __builtin_trap();
    }
  } catch (const qorv::tool::NominalError&) {
  }
  return 0;
}
