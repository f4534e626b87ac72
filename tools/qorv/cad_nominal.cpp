#include "tools/qorv/cad_nominal.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "tools/qorv/nominal.h"
#if QORV_HAVE_STEP
#include "qorv/exchange/cad_reader.h"
#include "qorv/foundation/transfo3d.h"
#endif

using nlohmann::json;

namespace qorv::tool {

bool isCadPath(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".step" || ext == ".stp" || ext == ".iges" || ext == ".igs";
}

void addCadOptions(CLI::App* inspect, CadNominalOptions& o) {
  inspect->add_option("--tolerance", o.tolerance,
                      "a STEP or IGES nominal's default band LOWER,UPPER in mm (default -0.1,0.1; "
                      "write --tolerance=-0.05,0.1)");
  inspect->add_flag(
      "--no-merge", [&o](std::int64_t) { o.merge = false; },
      "a STEP or IGES nominal: each face its own feature (default: the faces on "
      "one analytic surface form one)");
  inspect->add_option("--side", o.side,
                      "a STEP or IGES nominal's side file (JSON): feature ids, bands and "
                      "material sides by face number, name or box");
}

namespace {

std::pair<double, double> band(const std::string& text) {
  if (text.empty()) return {-0.1, 0.1};
  std::istringstream in(text);
  double lo = NAN, hi = NAN;
  char comma = 0;
  if (!(in >> lo >> comma >> hi) || comma != ',' || !(in >> std::ws).eof() || !(lo <= hi) ||
      !std::isfinite(lo) || !std::isfinite(hi))
    throw NominalError{"--tolerance must be LOWER,UPPER with LOWER <= UPPER (got '" + text + "')"};
  return {lo, hi};
}

}  // namespace

#if QORV_HAVE_STEP

namespace {

using exchange::CadGroup;
using exchange::CadModel;

std::pair<double, double> jsonBand(const json& e, const std::string& what,
                                   std::pair<double, double> otherwise) {
  if (!e.contains("tolerance")) return otherwise;
  const json& t = e.at("tolerance");
  if (!t.is_array() || t.size() != 2 || !t[0].is_number() || !t[1].is_number() ||
      !(t[0].get<double>() <= t[1].get<double>()))
    throw NominalError{what + ": 'tolerance' must be [lower, upper], lower <= upper"};
  return {t[0].get<double>(), t[1].get<double>()};
}

struct Selection {
  std::string id;
  std::vector<int> faces;  // indices in the model's faces
  std::pair<double, double> band;
  bool reversed = false;
  json entry;  // the side file's object: form, size, datum, tolerances
};

// The keys that need the element the faces lie on.
bool asksForElement(const json& e) {
  for (const char* k : {"form", "size", "form_tolerance", "size_tolerance", "datum", "position",
                        "parallelism", "perpendicularity", "angularity"})
    if (e.contains(k)) return true;
  return false;
}

std::vector<Selection> readSide(const std::string& path, const CadModel& model,
                                std::pair<double, double>& defaultBand) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw NominalError{"side file " + path + " cannot be read"};
  json doc;
  try {
    doc = json::parse(in);
  } catch (const std::exception& e) {
    throw NominalError{"side file " + path + " is not valid JSON: " + e.what()};
  }
  const std::string where = "side file " + path;
  if (!doc.is_object() || !doc.contains("features") || !doc.at("features").is_array())
    throw NominalError{where + ": expected an object with a \"features\" array"};
  defaultBand = jsonBand(doc, where, defaultBand);
  std::vector<Selection> out;
  std::vector<bool> taken(model.faces.size(), false);
  const json& list = doc.at("features");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const json& e = list[i];
    std::string what = where + ": feature " + std::to_string(i + 1);
    if (!e.is_object() || !e.contains("id") || !e.at("id").is_string() ||
        e.at("id").get<std::string>().empty())
      throw NominalError{what + ": 'id' (a non-empty string) is missing"};
    Selection s;
    s.id = e.at("id").get<std::string>();
    s.entry = e;
    what = where + ": feature '" + s.id + "'";
    for (const Selection& o : out)
      if (o.id == s.id) throw NominalError{what + ": the id is used twice"};
    s.band = jsonBand(e, what, defaultBand);
    if (e.contains("material")) {
      const std::string m = e.at("material").is_string() ? e.at("material").get<std::string>() : "";
      if (m != "model" && m != "reversed")
        throw NominalError{what + ": 'material' must be \"model\" or \"reversed\""};
      s.reversed = m == "reversed";
    }
    std::vector<int> numbers;
    if (e.contains("faces")) {
      if (!e.at("faces").is_array()) throw NominalError{what + ": 'faces' must be face numbers"};
      for (const json& n : e.at("faces")) {
        if (!n.is_number_integer()) throw NominalError{what + ": 'faces' must be face numbers"};
        numbers.push_back(n.get<int>());
      }
    }
    std::string name;
    if (e.contains("name")) {
      if (!e.at("name").is_string()) throw NominalError{what + ": 'name' must be a string"};
      name = e.at("name").get<std::string>();
    }
    bool hasBox = false;
    double lo[3], hi[3];
    if (e.contains("box")) {
      const json& b = e.at("box");
      bool ok = b.is_array() && b.size() == 2;
      for (std::size_t k = 0; ok && k < 2; ++k) {
        ok = b[k].is_array() && b[k].size() == 3;
        for (std::size_t c = 0; ok && c < 3; ++c) {
          ok = b[k][c].is_number();
          if (ok) (k == 0 ? lo : hi)[c] = b[k][c].get<double>();
        }
      }
      if (!ok) throw NominalError{what + ": 'box' must be [[x, y, z], [x, y, z]]"};
      hasBox = true;
    }
    // "#RRGGBB" in either case; "colour" and "color" are one selector.
    std::vector<std::string> colours;
    for (const char* key : {"colour", "color"}) {
      if (!e.contains(key)) continue;
      std::string c = e.at(key).is_string() ? e.at(key).get<std::string>() : "";
      for (char& ch : c) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (c.size() != 7 || c[0] != '#' ||
          c.find_first_not_of("0123456789abcdef", 1) != std::string::npos)
        throw NominalError{what + ": '" + key + "' must be a colour \"#RRGGBB\""};
      colours.push_back(c);
    }
    if (numbers.empty() && name.empty() && colours.empty() && !hasBox)
      throw NominalError{what + ": select faces by 'faces', 'name', 'colour' or 'box'"};
    for (std::size_t k = 0; k < model.faces.size(); ++k) {
      const exchange::CadFace& f = model.faces[k];
      if (taken[k]) continue;
      if (!numbers.empty() && std::find(numbers.begin(), numbers.end(), f.index) == numbers.end())
        continue;
      if (!name.empty() && f.name != name) continue;
      if (std::any_of(colours.begin(), colours.end(),
                      [&](const std::string& c) { return c != f.colour; }))
        continue;
      if (hasBox) {
        const ERPoint3D a = f.box.MinPoint(), b = f.box.MaxPoint();
        if (a.x() < lo[0] || a.y() < lo[1] || a.z() < lo[2] || b.x() > hi[0] || b.y() > hi[1] ||
            b.z() > hi[2])
          continue;
      }
      s.faces.push_back(static_cast<int>(k));
      taken[k] = true;
    }
    if (s.faces.empty()) throw NominalError{what + ": selects no face"};
    out.push_back(std::move(s));
  }
  return out;
}

CadModel readModel(const std::string& path, bool merge) {
  CadModel model = exchange::readCad(path, [&] {
    exchange::CadOptions o;
    o.merge = merge;
    return o;
  }());
  if (!model.error.empty()) throw NominalError{model.error};
  for (const std::string& p : model.problems) std::cerr << "qorv: " << path << ": " << p << "\n";
  if (model.faces.empty())
    throw NominalError{"no face could be converted (" + std::to_string(model.faceCount) +
                       " in the file)"};
  return model;
}

}  // namespace

std::vector<gmInspectionFeature> readCadNominal(const std::string& path,
                                                const CadNominalOptions& options) {
  band(options.tolerance);  // a bad band is told before a long read
  return cadFeatures(readModel(path, options.merge), options);
}

std::vector<gmInspectionFeature> cadFeatures(const exchange::CadModel& model,
                                             const CadNominalOptions& options) {
  std::pair<double, double> defaultBand = band(options.tolerance);
  std::vector<Selection> chosen;
  if (!options.side.empty()) chosen = readSide(options.side, model, defaultBand);
  std::vector<bool> taken(model.faces.size(), false);
  std::vector<gmInspectionFeature> features;
  auto add = [&](const CadGroup& g, std::pair<double, double> b, bool reversed) {
    features.emplace_back(g.id, g.surface, g.normalInward != reversed, b.first, b.second);
    if (!features.back().problem().empty())
      throw NominalError{"feature '" + g.id + "': " + features.back().problem()};
  };
  for (const Selection& s : chosen) {
    for (int k : s.faces) taken[static_cast<std::size_t>(k)] = true;
    const CadGroup g = exchange::groupOf(model, s.faces, s.id);
    add(g, s.band, s.reversed);
    if (!asksForElement(s.entry)) continue;
    const std::string what = "side file: feature '" + s.id + "': ";
    const exchange::CadElement& e = g.element;
    const gmInspectionFeature::Kind kind = e.kind == "plane"      ? gmInspectionFeature::PLANE
                                           : e.kind == "cylinder" ? gmInspectionFeature::CYLINDER
                                           : e.kind == "cone"     ? gmInspectionFeature::CONE
                                           : e.kind == "sphere"   ? gmInspectionFeature::SPHERE
                                                                  : gmInspectionFeature::SURFACE;
    if (kind == gmInspectionFeature::SURFACE)
      throw NominalError{what +
                         "form, size, datums and tolerances need faces on one plane, cylinder, "
                         "cone or sphere"};
    if (const std::string why =
            features.back().setElement(kind, ERChgRepere3D(e.axis, e.origin), e.r1);
        !why.empty())
      throw NominalError{what + why};
    try {
      readFeatureAsks(s.entry, features.back());
    } catch (const NominalError& x) {
      throw NominalError{what + x.why};
    } catch (const json::exception& x) {
      throw NominalError{what + x.what()};
    }
  }
  for (const CadGroup& g : model.groups) {
    std::vector<int> rest;
    for (int k : g.faces)
      if (!taken[static_cast<std::size_t>(k)]) rest.push_back(k);
    if (rest.empty()) continue;
    const std::string id =
        "face" + std::to_string(model.faces[static_cast<std::size_t>(rest[0])].index);
    for (const Selection& s : chosen)
      if (s.id == id) throw NominalError{"side file: the id '" + id + "' names a model's face"};
    add(rest.size() == g.faces.size() ? g : exchange::groupOf(model, rest, id), defaultBand, false);
  }
  checkDatums(features);
  return features;
}

#else

std::vector<gmInspectionFeature> readCadNominal(const std::string&, const CadNominalOptions& o) {
  band(o.tolerance);
  throw NominalError{"this qorv was built without OpenCASCADE: it reads no STEP or IGES file"};
}

#endif

}  // namespace qorv::tool
