// tools/qorv/align_command.cpp
#include "tools/qorv/align_command.h"

#include <cmath>
#include <fstream>
#include <iostream>
#include <numbers>
#include <sstream>

#include "tools/qorv/commands.h"
#include "tools/qorv/nominal.h"
#include "tools/qorv/text.h"

namespace qorv::tool {

std::string alignPoints(const std::string& method, const std::vector<gmInspectionFeature>& features,
                        std::vector<gmMeasuredPoint>& points, double diameter, double maxDistance,
                        gmAlignment& result) {
  if (method == "best-fit") {
    gmAlignmentOptions o;
    o.defaultDiameter = diameter;
    o.maxDistance = maxDistance;
    o.fromAnywhere = 1;
    result = gmBestFitAlignment(features, points, o);
  } else if (method.rfind("datums:", 0) == 0) {
    std::vector<std::string> ids;
    std::stringstream s(method.substr(7));
    for (std::string id; std::getline(s, id, ',');) ids.push_back(id);
    result = gmDatumAlignment(features, points, ids, diameter);
  } else if (method.rfind("rps:", 0) == 0) {
    const std::string path = method.substr(4);
    std::ifstream in(path, std::ios::binary);
    if (!in) return "the reference points " + path + " cannot be read";
    std::vector<gmReferencePoint> refs;
    std::string why;
    if (!gmReadReferencePoints(in, refs, why)) return path + ": " + why;
    result = gmRpsAlignment(refs, points);
  } else {
    return "unknown alignment '" + method + "' (best-fit, datums:A,B,C or rps:FILE)";
  }
  if (!result.ok) return "cannot align: " + result.problem;
  for (auto& p : points) p.centre = result.transfo >> p.centre;
  return "";
}

std::string alignmentJson(const gmAlignment& a) {
  std::ostringstream j;
  auto list = [&](const double* v, int n, double k = 1) {
    j << "[";
    for (int i = 0; i < n; ++i) j << (i ? ", " : "") << jsonNumber(v[i] * k);
    j << "]";
  };
  j << "{\"matrix\": ";
  list(a.matrix, 16);
  j << ", \"angles_deg\": ";
  list(a.angles, 3, 180 / std::numbers::pi);
  j << ", \"translation\": ";
  list(a.translation, 3);
  j << ", \"uncertainty_deg\": ";
  list(a.sigma, 3, 180 / std::numbers::pi);
  j << ", \"uncertainty_translation\": ";
  list(a.sigma + 3, 3);
  j << ", \"rms\": " << jsonNumber(a.rms) << ", \"max_residual\": " << jsonNumber(a.maxResidual)
    << ", \"iterations\": " << a.iterations << ", \"points_used\": " << a.used
    << ", \"unassigned\": " << a.unassigned.size()
    << ", \"ambiguous\": " << (a.ambiguous ? "true" : "false")
    << ", \"free_directions\": " << jsonString(a.freeDirections) << "}";
  return j.str();
}

void storeAlignment(ERDBObject& o, const std::string& method, const gmAlignment& a) {
  const double deg = 180 / std::numbers::pi;
  o.name("alignment");
  o.level_name(method.c_str());
  for (int i = 0; i < 12; ++i) o.property(200 + i, a.matrix[i]);
  for (int i = 0; i < 3; ++i) {
    o.property(212 + i, a.angles[i] * deg);
    o.property(215 + i, a.translation[i]);
    o.property(218 + i, a.sigma[i] * deg);
    o.property(221 + i, a.sigma[3 + i]);
  }
  o.property(224, a.rms);
  o.property(225, a.maxResidual);
  o.property(226, static_cast<long>(a.iterations));
  o.property(227, static_cast<long>(a.used));
  o.property(228, static_cast<long>(a.unassigned.size()));
  o.property(229, static_cast<long>(a.ambiguous));
  if (a.ambiguous) o.property(230, a.freeDirections.c_str());
}

int align(const AlignOptions& o, Output& out) {
  std::vector<gmInspectionFeature> features;
  try {
    features = readNominal(o.nominal);
  } catch (const NominalError& e) {
    std::cerr << "qorv: " << o.nominal << ": " << e.why << "\n";
    return 2;
  }
  std::vector<gmMeasuredPoint> points;
  std::vector<gmSkippedLine> skipped;
  {
    std::ifstream in(o.measured, std::ios::binary);
    if (!in) return fail(o.measured, "cannot be read");
    gmReadMeasuredPoints(in, points, skipped);
  }
  if (points.empty()) return fail(o.measured, "no measured point could be read");
  gmAlignment a;
  const std::string why =
      alignPoints(o.method, features, points, o.probeDiameter, o.maxDistance, a);
  if (!why.empty()) {
    std::cerr << "qorv align: " << why << "\n";
    return 1;
  }
  std::ofstream file;
  if (!o.out.empty()) {
    file.open(o.out, std::ios::binary);
    if (!file) return fail(o.out, "cannot be written");
  }
  std::ostream& csv = o.out.empty() ? out.utf8() : file;
  csv << "id,x,y,z,diameter,feature\n";
  for (const auto& p : points)
    csv << p.id << "," << jsonNumber(p.centre.x()) << "," << jsonNumber(p.centre.y()) << ","
        << jsonNumber(p.centre.z()) << "," << (p.diameter >= 0 ? jsonNumber(p.diameter) : "") << ","
        << p.feature << "\n";
  (o.out.empty() ? std::cerr : out.utf8()) << "{\"alignment\": " << alignmentJson(a) << "}\n";
  if (file.is_open() && !file.flush()) return fail(o.out, "cannot be written");
  return a.ambiguous ? 1 : 0;
}

}  // namespace qorv::tool
