#include "tools/qorv/nominal.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <tuple>

#include <nlohmann/json.hpp>

#include "qorv/freeform/pole_curves.h"
#include "qorv/freeform/pole_surfaces.h"
#include "qorv/persistence/db_object.h"
#include "qorv/persistence/object_database.h"
#include "qorv/platform/file.h"
#include "qorv/surfaces/offset_surface.h"
#include "qorv/surfaces/trimmed_surface.h"
#include "tools/qorv/commands.h"

using nlohmann::json;

namespace qorv::tool {

namespace {

constexpr double kDegree = std::numbers::pi / 180;

ERPoint3D point3(const json& f, const char* key) {
  if (!f.contains(key)) throw NominalError{std::string("'") + key + "' is missing"};
  const json& v = f.at(key);
  if (!v.is_array() || v.size() != 3 || !v[0].is_number() || !v[1].is_number() || !v[2].is_number())
    throw NominalError{std::string("'") + key + "' must be an array of three numbers"};
  return ERPoint3D(v[0].get<double>(), v[1].get<double>(), v[2].get<double>());
}

ERVector3D direction(const json& f, const char* key) {
  const ERPoint3D p = point3(f, key);
  const ERVector3D v(p.x(), p.y(), p.z());
  if (!(v.norme() > 0) || !std::isfinite(v.norme()))
    throw NominalError{std::string("'") + key + "' must be a non-zero finite vector"};
  return v;
}

double scalar(const json& f, const char* key) {
  if (!f.contains(key) || !f.at(key).is_number())
    throw NominalError{std::string("'") + key + "' must be a number"};
  return f.at(key).get<double>();
}

// A [low, high] pair; absent: the default.
std::pair<double, double> range(const json& f, const char* key, double lo, double hi,
                                double unit = 1) {
  if (!f.contains(key)) return {lo, hi};
  const json& v = f.at(key);
  if (!v.is_array() || v.size() != 2 || !v[0].is_number() || !v[1].is_number())
    throw NominalError{std::string("'") + key + "' must be an array [low, high]"};
  return {v[0].get<double>() * unit, v[1].get<double>() * unit};
}

// The frame whose z axis is axis, x along xAxis's part across it when given.
ERPmIsometrie3D frameOf(const json& f, const ERPoint3D& origin, const ERVector3D& axis) {
  if (!f.contains("x_axis")) return ERChgRepere3D(axis, origin);
  const ERVector3D x = direction(f, "x_axis");
  const ERVector3D z = axis.getnormalized();
  const ERVector3D across = x - (x * z) * z;
  if (!(across.norme() > 1e-9 * x.norme())) throw NominalError{"'x_axis' is parallel to the axis"};
  return ERChgRepere3D(across, z ^ across, origin);
}

std::vector<double> numbers(const json& f, const char* key) {
  if (!f.contains(key) || !f.at(key).is_array())
    throw NominalError{std::string("'") + key + "' must be an array of numbers"};
  std::vector<double> out;
  for (const json& v : f.at(key)) {
    if (!v.is_number())
      throw NominalError{std::string("'") + key + "' must be an array of numbers"};
    out.push_back(v.get<double>());
  }
  return out;
}

// A NURBS surface: poles as rows of [x, y, z] (one row per v index, one column per u index),
// optional weights of the same shape, knot vectors and degrees in u and v. Its own normal
// (Su x Sv) points out of the material for "inside" (the default), into it for "outside".
gmInspectionFeature nurbsFeature(const json& f, const std::string& id,
                                 gmInspectionFeature::Material material, double lower,
                                 double upper) {
  if (!f.contains("poles") || !f.at("poles").is_array() || f.at("poles").empty())
    throw NominalError{"'poles' must be rows of [x, y, z]"};
  const json& rows = f.at("poles");
  const std::size_t nv = rows.size(), nu = rows[0].is_array() ? rows[0].size() : 0;
  if (nu == 0 || nv * nu > 1000000)
    throw NominalError{"'poles' must be rows of [x, y, z], at most 1e6 poles"};
  const bool weighted = f.contains("weights");
  if (weighted && (!f.at("weights").is_array() || f.at("weights").size() != nv))
    throw NominalError{"'weights' must have the shape of the poles"};
  QuickAlgebra::ERMatrix<ERPole3DH> poles(static_cast<int>(nv), static_cast<int>(nu));
  for (std::size_t r = 0; r < nv; ++r) {
    if (!rows[r].is_array() || rows[r].size() != nu)
      throw NominalError{"every row of 'poles' must have the same length"};
    for (std::size_t c = 0; c < nu; ++c) {
      const json& p = rows[r][c];
      if (!p.is_array() || p.size() != 3 || !p[0].is_number() || !p[1].is_number() ||
          !p[2].is_number())
        throw NominalError{"a pole must be [x, y, z]"};
      double w = 1;
      if (weighted) {
        const json& wr = f.at("weights")[r];
        if (!wr.is_array() || wr.size() != nu || !wr[c].is_number())
          throw NominalError{"'weights' must have the shape of the poles"};
        w = wr[c].get<double>();
        if (!(w > 0) || !std::isfinite(w)) throw NominalError{"weights must be positive"};
      }
      poles(static_cast<int>(r), static_cast<int>(c)) =
          ERPole3DH(p[0].get<double>() * w, p[1].get<double>() * w, p[2].get<double>() * w, w);
    }
  }
  const std::vector<double> ku = numbers(f, "knots_u"), kv = numbers(f, "knots_v");
  const int du = static_cast<int>(scalar(f, "degree_u")),
            dv = static_cast<int>(scalar(f, "degree_v"));
  if (du < 1 || dv < 1 || ku.size() != nu + static_cast<std::size_t>(du) + 1 ||
      kv.size() != nv + static_cast<std::size_t>(dv) + 1)
    throw NominalError{"knots must number poles + degree + 1 in each direction"};
  t_SmartPtr<ERAnyBoundedSurface> s(
      new ERSpoleNURBS3D(poles, ERKnotVector(du, ku.data(), static_cast<int>(ku.size())),
                         ERKnotVector(dv, kv.data(), static_cast<int>(kv.size()))));
  if (!s->isValid()) throw NominalError{"not a valid NURBS surface (knots, weights)"};
  gmInspectionFeature feature(id, s, material == gmInspectionFeature::OUTSIDE, lower, upper);
  if (!feature.problem().empty()) throw NominalError{feature.problem()};
  return feature;
}

// A closed polygon of the parameter plane, as a closed pole curve of degree 1 (its vertices
// exact, so the face classifies them exactly); the second coordinate scaled by vUnit.
t_SmartPtr<ERCpoleNURBS2D> loopOf(const json& l, const char* what, double vUnit) {
  if (!l.is_array() || l.size() < 3)
    throw NominalError{std::string(what) + " must be an array of at least three [u, v] points"};
  std::vector<ERPoint2D> pts;
  for (const json& q : l) {
    if (!q.is_array() || q.size() != 2 || !q[0].is_number() || !q[1].is_number())
      throw NominalError{std::string(what) + " must be an array of [u, v] points"};
    pts.emplace_back(q[0].get<double>(), q[1].get<double>() * vUnit);
    if (!std::isfinite(pts.back().x()) || !std::isfinite(pts.back().y()))
      throw NominalError{std::string(what) + " has a point that is not finite"};
  }
  if (distance(pts.front(), pts.back()) > 0) pts.push_back(pts.front());
  const int n = static_cast<int>(pts.size());
  QuickAlgebra::ERVec<ERPole2DH> poles(n);
  std::vector<double> knots{0.0};
  for (int i = 0; i < n; ++i) {
    poles[i] =
        ERPole2DH(pts[static_cast<std::size_t>(i)].x(), pts[static_cast<std::size_t>(i)].y(), 1.0);
    knots.push_back(i);
  }
  knots.push_back(n - 1);
  t_SmartPtr<ERCpoleNURBS2D> c(
      new ERCpoleNURBS2D(poles, ERKnotVector(1, knots.data(), static_cast<int>(knots.size()))));
  if (!c->isValid()) throw NominalError{std::string(what) + " is not a usable polygon"};
  return c;
}

gmInspectionFeature featureOf(const json& f, std::size_t index);

// A trimmed face: a base surface ("plane", "cylinder" or "nurbs", described as those features
// are, without a tolerance) and polygons in its parameters: an "outer" loop and "holes".
gmInspectionFeature trimmedFeature(const json& f, const std::string& id,
                                   gmInspectionFeature::Material material, double lower,
                                   double upper) {
  if (!f.contains("base") || !f.at("base").is_object())
    throw NominalError{"'base' must be a surface object"};
  json b = f.at("base");
  const std::string kind =
      b.contains("kind") && b.at("kind").is_string() ? b.at("kind").get<std::string>() : "";
  b["tolerance"] = json::array({lower, upper});
  if (!b.contains("material") && f.contains("material")) b["material"] = f.at("material");
  t_SmartPtr<ERAnyBoundedSurface> base;
  bool inward = false;
  double vUnit = 1;
  if (kind == "plane" || kind == "cylinder") {
    const gmInspectionFeature g = featureOf(b, 0);
    const ERPmIsometrie3D& T = g.frame();
    if (kind == "plane") {
      // Without limits of its own the plane spans the outer loop.
      ERMinimax2D span;
      if (!b.contains("u") || !b.contains("v"))
        span = loopOf(f.contains("outer") ? f.at("outer") : json(), "'outer'", 1)->getBox();
      const ERLimites U = b.contains("u") ? ERLimites(g.u0(), g.u1())
                                          : ERLimites(span.MinPoint().x(), span.MaxPoint().x());
      const ERLimites V = b.contains("v") ? ERLimites(g.v0(), g.v1())
                                          : ERLimites(span.MinPoint().y(), span.MaxPoint().y());
      base = new ERBoundedPlane(T, U, V);
    } else {
      // Parameters (height along the axis, angle about it): the loops give angles in degrees.
      auto* c = new ERBoundedCylinder(T, 1.0, g.r1(), ERRadian(g.u0()), ERRadian(g.u1()));
      c->setBound(ERLimites(g.v0(), g.v1()), ERLimites(g.u0(), g.u1()));
      c->adjust();
      base = c;
      vUnit = kDegree;
      // The cylinder's own normal points to its axis: into the material of a shaft.
      inward = material == gmInspectionFeature::INSIDE;
    }
  } else if (kind == "nurbs") {
    const gmInspectionFeature g = featureOf(b, 0);
    base = g.surface();
    inward = material == gmInspectionFeature::OUTSIDE;
  } else {
    throw NominalError{"'base' kind must be plane, cylinder or nurbs"};
  }
  t_SmartPtr<ERTrimmedSurface> face(new ERTrimmedSurface(*base));
  if (!f.contains("outer")) throw NominalError{"'outer' (the outer loop) is missing"};
  if (!face->addBound(*loopOf(f.at("outer"), "'outer'", vUnit), ERSurfaceBoundary::OUTER))
    throw NominalError{"'outer' is refused as the outer loop"};
  if (f.contains("holes")) {
    if (!f.at("holes").is_array()) throw NominalError{"'holes' must be an array of loops"};
    for (const json& h : f.at("holes"))
      if (!face->addBound(*loopOf(h, "a hole", vUnit), ERSurfaceBoundary::INNER))
        throw NominalError{"a hole is refused"};
  }
  gmInspectionFeature feature(id, t_SmartPtr<ERAnyBoundedSurface>(face.get()), inward, lower,
                              upper);
  if (!feature.problem().empty()) throw NominalError{feature.problem()};
  return feature;
}

// "form" (minimum-zone by default when a form_tolerance is given), "size" (least-squares by
// default when a size_tolerance is given) and their tolerances.
void readForm(const json& f, gmInspectionFeature& feature) {
  gmFeatureForm declared;
  auto association = [&](const char* key, gmForm::Association& a) {
    if (!f.contains(key)) return false;
    const std::string v = f.at(key).is_string() ? f.at(key).get<std::string>() : "";
    if (!gmForm::parseAssociation(v, a))
      throw NominalError{std::string("'") + key + "' must be " +
                         (std::string(key) == "form"
                              ? "\"minimum-zone\" or \"least-squares\""
                              : "\"least-squares\", \"inscribed\" or \"circumscribed\"")};
    return true;
  };
  declared.form = association("form", declared.formAssociation) || f.contains("form_tolerance");
  declared.size = association("size", declared.sizeAssociation) || f.contains("size_tolerance");
  if (f.contains("form_tolerance")) declared.formTolerance = scalar(f, "form_tolerance");
  std::tie(declared.sizeLower, declared.sizeUpper) =
      range(f, "size_tolerance", -HUGE_VAL, HUGE_VAL);
  if (!declared.form && !declared.size) return;
  if (const std::string why = feature.setForm(declared); !why.empty()) throw NominalError{why};
}

// "datum": a letter the feature carries; "position", "parallelism", "perpendicularity",
// "angularity": {"tolerance": t, "datums": [primary, ...], "angle": degrees (angularity)}.
bool hasTolerances(const json& f) {
  for (const char* key : {"datum", "position", "parallelism", "perpendicularity", "angularity"})
    if (f.contains(key)) return true;
  return false;
}

void readTolerances(const json& f, gmInspectionFeature& feature) {
  if (!hasTolerances(f)) return;
  std::string datum;
  if (f.contains("datum")) {
    if (!f.at("datum").is_string() || f.at("datum").get<std::string>().empty())
      throw NominalError{"'datum' must be a non-empty string"};
    datum = f.at("datum").get<std::string>();
  }
  std::vector<gmToleranceSpec> specs;
  for (gmTolerance::Kind k : {gmTolerance::POSITION, gmTolerance::PARALLELISM,
                              gmTolerance::PERPENDICULARITY, gmTolerance::ANGULARITY}) {
    const char* key = gmTolerance::kindName(k);
    if (!f.contains(key)) continue;
    const json& t = f.at(key);
    const std::string where = std::string("'") + key + "'";
    if (!t.is_object()) throw NominalError{where + " must be an object"};
    gmToleranceSpec declared;
    declared.kind = k;
    try {
      declared.tolerance = scalar(t, "tolerance");
      if (k == gmTolerance::ANGULARITY) declared.angle = scalar(t, "angle") * kDegree;
    } catch (const NominalError& e) {
      throw NominalError{where + ": " + e.why};
    }
    if (!t.contains("datums") || !t.at("datums").is_array())
      throw NominalError{where + ": 'datums' must be an array of datum letters"};
    for (const json& d : t.at("datums")) {
      if (!d.is_string())
        throw NominalError{where + ": 'datums' must be an array of datum letters"};
      declared.datums.push_back(d.get<std::string>());
    }
    specs.push_back(std::move(declared));
  }
  if (const std::string why = feature.setTolerances(datum, std::move(specs)); !why.empty())
    throw NominalError{why};
}

gmInspectionFeature featureOf(const json& f, std::size_t index) {
  if (!f.is_object()) throw NominalError{"feature " + std::to_string(index) + " is not an object"};
  const std::string id = f.contains("id") && f.at("id").is_string() ? f.at("id").get<std::string>()
                                                                    : std::to_string(index + 1);
  try {
    if (!f.contains("kind") || !f.at("kind").is_string()) throw NominalError{"'kind' is missing"};
    const std::string kind = f.at("kind").get<std::string>();
    // Plain names (a lambda below takes them; clang refuses structured bindings there).
    const std::pair<double, double> band = range(f, "tolerance", -HUGE_VAL, HUGE_VAL);
    const double lower = band.first, upper = band.second;
    if (!f.contains("tolerance")) throw NominalError{"'tolerance' [lower, upper] is missing"};
    gmInspectionFeature::Material material = gmInspectionFeature::INSIDE;
    if (f.contains("material")) {
      const std::string m = f.at("material").is_string() ? f.at("material").get<std::string>() : "";
      if (m == "outside") {
        material = gmInspectionFeature::OUTSIDE;
      } else if (m != "inside") {
        throw NominalError{
            "'material' must be \"inside\" (shaft, boss, ball) or \"outside\" (bore, seat)"};
      }
    }
    const auto [a0, a1] = range(f, "angle", 0, 2 * std::numbers::pi, kDegree);
    auto make = [&](gmInspectionFeature::Kind k, const ERPmIsometrie3D& frame, double r1, double r2,
                    std::pair<double, double> u, std::pair<double, double> v) {
      gmInspectionFeature feature(id, k, frame, r1, r2, u.first, u.second, v.first, v.second,
                                  material, lower, upper);
      if (!feature.problem().empty()) throw NominalError{feature.problem()};
      readFeatureAsks(f, feature);
      return feature;
    };
    if (kind == "plane") {
      const ERPoint3D o = point3(f, "origin");
      return make(gmInspectionFeature::PLANE, frameOf(f, o, direction(f, "normal")), 0, 0,
                  range(f, "u", 0, 0), range(f, "v", 0, 0));
    }
    if (kind == "cylinder") {
      const ERPoint3D o = point3(f, "origin");
      return make(gmInspectionFeature::CYLINDER, frameOf(f, o, direction(f, "axis")),
                  scalar(f, "radius"), 0, {a0, a1}, range(f, "height", 0, 0));
    }
    if (kind == "cone") {
      const ERPoint3D o = point3(f, "apex");
      return make(gmInspectionFeature::CONE, frameOf(f, o, direction(f, "axis")),
                  scalar(f, "half_angle") * kDegree, 0, {a0, a1}, range(f, "distance", 0, 0));
    }
    if (kind == "sphere") {
      const ERPoint3D o = point3(f, "center");
      const ERVector3D axis = f.contains("axis") ? direction(f, "axis") : ERVector3D(0, 0, 1);
      return make(gmInspectionFeature::SPHERE, frameOf(f, o, axis), scalar(f, "radius"), 0,
                  range(f, "longitude", 0, 2 * std::numbers::pi, kDegree),
                  range(f, "latitude", -std::numbers::pi / 2, std::numbers::pi / 2, kDegree));
    }
    if (kind == "torus") {
      const ERPoint3D o = point3(f, "center");
      return make(gmInspectionFeature::TORUS, frameOf(f, o, direction(f, "axis")),
                  scalar(f, "major_radius"), scalar(f, "minor_radius"), {a0, a1},
                  range(f, "tube_angle", -std::numbers::pi, std::numbers::pi, kDegree));
    }
    if (f.contains("form") || f.contains("size") || f.contains("form_tolerance") ||
        f.contains("size_tolerance"))
      if (kind == "nurbs" || kind == "trimmed")
        throw NominalError{"form and size are judged on planes, cylinders, cones and spheres"};
    if (hasTolerances(f) && (kind == "nurbs" || kind == "trimmed"))
      throw NominalError{
          "datums and orientation and location tolerances are planes, cylinders, cones and "
          "spheres"};
    if (kind == "nurbs") return nurbsFeature(f, id, material, lower, upper);
    if (kind == "trimmed") return trimmedFeature(f, id, material, lower, upper);
    throw NominalError{"unknown kind '" + kind +
                       "' (plane, cylinder, cone, sphere, torus, nurbs or trimmed)"};
  } catch (const NominalError& e) {
    throw NominalError{"feature '" + id + "': " + e.why};
  }
}

}  // namespace

void readFeatureAsks(const json& f, gmInspectionFeature& feature) {
  readForm(f, feature);
  readTolerances(f, feature);
}

void checkDatums(const std::vector<gmInspectionFeature>& features) {
  for (const gmInspectionFeature& f : features) {
    for (const gmInspectionFeature& g : features)
      if (&g < &f && !f.datum().empty() && g.datum() == f.datum())
        throw NominalError{"datum '" + f.datum() + "' is carried by '" + g.id() + "' and '" +
                           f.id() + "'"};
    for (const gmToleranceSpec& t : f.tolerances())
      for (const std::string& d : t.datums)
        if (std::none_of(features.begin(), features.end(),
                         [&](const gmInspectionFeature& g) { return g.datum() == d; }))
          throw NominalError{"feature '" + f.id() + "': " + gmTolerance::kindName(t.kind) +
                             ": datum '" + d + "' is carried by no feature"};
  }
}

// A database: every bounded surface is a feature named by its identifier; a database object
// referencing one gives its tolerance (properties 106 lower, 107 upper) and, with property
// 111 = 1, says the surface's normal points into the material. Bare surfaces have no band.
std::vector<gmInspectionFeature> readNominalDatabase(const std::string& path) {
  std::vector<gmInspectionFeature> features;
  try {
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    if (!db->Open(path.c_str(), 1)) throw NominalError{"cannot be opened as a qorv database"};
    std::vector<long> ids;
    db->forEachObject([&](long id, long) { ids.push_back(id); });
    std::vector<long> described;
    for (long id : ids) {
      t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
      ERDBObject* d = ERDBObject::castdown(o.get());
      if (d == nullptr) continue;
      const t_SmartPtr<ERObject> target = d->object();
      ERAnyBoundedSurface* s = ERAnyBoundedSurface::castdown(target.get());
      if (s == nullptr) continue;
      auto value = [&](long key, double otherwise) {
        const ERDBObjProperty* p = d->findProperty(key);
        return p == nullptr ? otherwise : static_cast<double>(*p);
      };
      const ERDBObjProperty* inward = d->findProperty(111);
      features.emplace_back(std::to_string(s->getObjectID()), t_SmartPtr<ERAnyBoundedSurface>(s),
                            inward != nullptr && static_cast<long>(*inward) == 1,
                            value(106, -HUGE_VAL), value(107, HUGE_VAL));
      described.push_back(s->getObjectID());
    }
    // The surface a trimmed face or an offset surface is built on is part of it, not a feature
    // of its own.
    std::vector<t_SmartPtr<ERAnyBoundedSurface>> bare;
    std::vector<long> bases;
    for (long id : ids) {
      if (std::find(described.begin(), described.end(), id) != described.end()) continue;
      t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
      ERAnyBoundedSurface* s = dynamic_cast<ERAnyBoundedSurface*>(o.get());
      if (s == nullptr) continue;
      bare.emplace_back(s);
      t_SmartPtr<ERAnyBoundedSurface> base;
      if (const auto* t = dynamic_cast<const ERTrimmedSurface*>(s)) base = t->getBaseSurface();
      if (const auto* f = dynamic_cast<const EROffsetSurface*>(s)) base = f->getBaseSurface();
      if (base) bases.push_back(base->getObjectID());
    }
    for (const t_SmartPtr<ERAnyBoundedSurface>& s : bare)
      if (std::find(bases.begin(), bases.end(), s->getObjectID()) == bases.end())
        features.emplace_back(std::to_string(s->getObjectID()), s, false, -HUGE_VAL, HUGE_VAL);
    db->Close();
  } catch (qorv::platform::CFileException& e) {
    throw NominalError{e.describe()};
  }
  for (const gmInspectionFeature& f : features)
    if (!f.problem().empty()) throw NominalError{"surface " + f.id() + ": " + f.problem()};
  if (features.empty()) throw NominalError{"the database holds no bounded surface"};
  return features;
}

std::vector<gmInspectionFeature> readNominal(const std::string& path, const CadNominalOptions& cad,
                                             std::string* units) {
  if (units != nullptr) *units = isCadPath(path) ? "mm" : "";
  if (std::error_code ec; std::filesystem::is_directory(path, ec))
    throw NominalError{"is a directory, not a nominal part"};
  if (isCadPath(path)) return readCadNominal(path, cad);
  if (whyNotADatabase(path).empty()) return readNominalDatabase(path);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw NominalError{"cannot be read"};
  json doc;
  try {
    doc = json::parse(in);
  } catch (const json::exception& e) {
    throw NominalError{std::string("not valid JSON: ") + e.what()};
  } catch (const std::exception& e) {
    throw NominalError{std::string("cannot be read: ") + e.what()};
  }
  if (!doc.is_object() || !doc.contains("features") || !doc.at("features").is_array())
    throw NominalError{"expected an object with a \"features\" array"};
  if (units != nullptr && doc.contains("units") && doc.at("units").is_string())
    *units = doc.at("units");
  std::vector<gmInspectionFeature> features;
  const json& list = doc.at("features");
  for (std::size_t i = 0; i < list.size(); ++i) {
    try {
      features.push_back(featureOf(list[i], i));
    } catch (const json::exception& e) {
      throw NominalError{"feature " + std::to_string(i + 1) + ": " + e.what()};
    }
    for (std::size_t k = 0; k + 1 < features.size(); ++k)
      if (features[k].id() == features.back().id())
        throw NominalError{"feature id '" + features.back().id() + "' is used twice"};
  }
  if (features.empty()) throw NominalError{"no features"};
  checkDatums(features);
  return features;
}

}  // namespace qorv::tool
