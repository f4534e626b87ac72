// The qorv Python module: points in and out as numpy arrays of shape (n, 3), the bulk calls
// without the GIL and over several threads. Pythonic names; the kernel's own names stay as
// aliases (PtCur, ProjectionNormale, ...).
#include <filesystem>
#include <fstream>

#include "python/module.h"
#include "qorv/measurement/point_clouds.h"
#include "tools/qorv/inspect_report.h"
#include "tools/qorv/nominal.h"
#if QORV_HAVE_STEP
#include "qorv/exchange/cad_reader.h"
#endif

namespace qorv::python {

std::vector<gmInspectionFeature> nominalFeatures(const std::string& nominal, std::string* units) {
  if (!std::filesystem::is_regular_file(nominal)) throw OsError(nominal + ": no such file");
  try {
    return qorv::tool::readNominal(nominal, {}, units);
  } catch (const qorv::tool::NominalError& e) {
    throw std::invalid_argument(nominal + ": " + e.why);
  }
}

namespace {

// ---------------------------------------------------------------------------------------------
// Inspection

// One dict per feature: the statistics, the fit, the form and size with their verdicts.
py::list summaryList(const gmInspection& inspection,
                     const std::vector<gmFeatureSummary>& summaries) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  py::list summary;
  for (std::size_t k = 0; k < summaries.size(); ++k) {
    const gmFeatureSummary& s = summaries[k];
    const gmInspectionFeature& f = inspection.features()[k];
    py::dict d;
    d["id"] = f.id(), d["kind"] = f.label(), d["count"] = s.stats.num_projected();
    d["lower"] = f.lower(), d["upper"] = f.upper(), d["out_of_tolerance"] = s.outOfTolerance;
    d["min"] = s.stats.num_projected() ? s.stats.min_value() : nan;
    d["max"] = s.stats.num_projected() ? s.stats.max_value() : nan;
    d["mean"] = s.stats.mean(), d["std_dev"] = s.stats.standard_deviation();
    if (s.fitted)
      d["fit_radius"] = s.size, d["form_error"] = s.formError, d["fit_iterations"] = s.iterations;
    // In tolerance: True, False, or None when the fit was not made.
    auto verdict = [](int v) {
      return v < 0 ? py::object(py::none()) : py::object(py::bool_(v == 1));
    };
    if (f.form().form)
      d["form"] = formDict(s.formFit), d["form_in_tolerance"] = verdict(s.formInTolerance);
    if (f.form().size)
      d["size"] = formDict(s.sizeFit), d["size_in_tolerance"] = verdict(s.sizeInTolerance);
    // The band is the profile of a surface; orientation and location against the datums.
    d["profile_in_tolerance"] = verdict(s.stats.num_projected() ? s.outOfTolerance == 0 : -1);
    if (!f.datum().empty()) d["datum"] = f.datum();
    py::list tolerances;
    for (std::size_t i = 0; i < f.tolerances().size(); ++i) {
      const gmToleranceSpec& t = f.tolerances()[i];
      const gmToleranceResult r = i < s.tolerances.size() ? s.tolerances[i] : gmToleranceResult();
      py::dict e;
      e["kind"] = gmTolerance::kindName(t.kind), e["tolerance"] = t.tolerance;
      e["datums"] = t.datums, e["angle"] = t.angle;
      e["value"] = r.ok ? r.value : nan, e["in_tolerance"] = verdict(r.inTolerance);
      e["reason"] = r.ok ? "" : r.reason.empty() ? "no points" : r.reason;
      tolerances.append(e);
    }
    d["tolerances"] = tolerances;
    summary.append(d);
  }
  return summary;
}

py::dict inspect(const std::string& nominal, const py::handle& points, double probeDiameter,
                 std::optional<std::vector<std::string>> features, int threads,
                 std::optional<std::string> report, const py::object& probeDiameters,
                 double maxDistance) {
  if (!(probeDiameter >= 0) || !std::isfinite(probeDiameter))
    throw std::invalid_argument("probe_diameter must be a finite number of 0 or more");
  if (!(maxDistance > 0))
    throw std::invalid_argument("max_distance must be greater than 0 (inf: no limit)");
  std::string units;
  std::vector<gmInspectionFeature> fs = nominalFeatures(nominal, &units);
  gmInspection inspection(std::move(fs));
  inspection.setMaxDistance(maxDistance);
  const std::vector<ERPoint3D> in = pointsOf<3>(points, "points");
  if (features && features->size() != in.size())
    throw std::invalid_argument("one feature id per point");
  std::vector<gmMeasuredPoint> pts(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    pts[i].line = static_cast<long>(i), pts[i].centre = in[i];
    if (features) pts[i].feature = (*features)[i];
  }
  if (!probeDiameters.is_none()) {
    const std::vector<double> d = valuesOf(probeDiameters, "probe_diameters");
    if (d.size() != in.size())
      throw std::invalid_argument(
          "probe_diameters must have shape (n,): one per point (< 0: probe_diameter)");
    for (std::size_t i = 0; i < in.size(); ++i) pts[i].diameter = d[i];
  }
  std::vector<gmInspectedPoint> results;
  {
    py::gil_scoped_release release;
    results = inspection.run(pts, probeDiameter, threads > 0 ? threads : workerCount());
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> dev(in.size());
  std::vector<ERPoint3D> calc(in.size()), nominalPts(in.size()), normals(in.size());
  py::array_t<int> feature(static_cast<py::ssize_t>(in.size()));
  py::array_t<bool> inTol(static_cast<py::ssize_t>(in.size()));
  py::array_t<bool> unassigned(static_cast<py::ssize_t>(in.size()));
  py::list reasons;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const gmInspectedPoint& r = results[i];
    feature.mutable_data()[i] = r.feature;
    inTol.mutable_data()[i] = r.feature >= 0 && r.inTolerance;
    unassigned.mutable_data()[i] = r.unassigned();
    reasons.append(inspection.skipReason(r, pts[i]));
    if (r.feature < 0) {
      dev[i] = nan, calc[i] = nominalPts[i] = normals[i] = ERPoint3D(nan, nan, nan);
      continue;
    }
    dev[i] = r.deviation, calc[i] = r.calculated, nominalPts[i] = r.nominal;
    normals[i] = ERPoint3D(r.normal.x(), r.normal.y(), r.normal.z());
  }
  const std::vector<gmFeatureSummary> summaries = inspection.summarize(results, pts);
  if (report) {
    std::ofstream html(*report, std::ios::binary | std::ios::trunc);
    qorv::tool::ReportInputs in;
    const std::vector<gmSkippedLine> none;
    in.nominalPath = nominal, in.units = units;
    in.probeDiameter = probeDiameter, in.probeDiameterGiven = true;
    for (const gmInspectedPoint& r : results) {
      in.inspected += r.feature >= 0, in.unassigned += r.unassigned();
      in.notJudged += r.feature < 0 && !r.unassigned(),
          in.outside += r.feature >= 0 && !r.inTolerance;
    }
    in.inspection = &inspection, in.points = &pts, in.results = &results;
    in.summaries = &summaries, in.skipped = &none;
    if (html) qorv::tool::writeReport(html, in);
    if (!html) throw OsError(*report + ": cannot be written");
  }
  py::list summary = summaryList(inspection, summaries);
  py::list ids;
  for (const gmInspectionFeature& f : inspection.features()) ids.append(f.id());
  py::dict out;
  out["deviation"] = arrayOf(dev), out["in_tolerance"] = inTol, out["feature"] = feature;
  out["feature_ids"] = ids, out["calculated"] = arrayOf(calc), out["nominal"] = arrayOf(nominalPts);
  out["normal"] = arrayOf(normals), out["skip_reason"] = reasons, out["features"] = summary;
  out["unassigned"] = unassigned;
  return out;
}

// A scanner's surface points, judged flat: no per-point records beyond the arrays returned.
py::dict inspectCloud(const std::string& nominal, const py::handle& points, double probeDiameter,
                      int threads, double maxDistance) {
  if (!(probeDiameter >= 0) || !std::isfinite(probeDiameter))
    throw std::invalid_argument("probe_diameter must be a finite number of 0 or more");
  if (!(maxDistance > 0))
    throw std::invalid_argument("max_distance must be greater than 0 (inf: no limit)");
  gmInspection inspection(nominalFeatures(nominal));
  inspection.setMaxDistance(maxDistance);
  const std::vector<ERPoint3D> in = pointsOf<3>(points, "points");
  std::vector<double> xyz(3 * in.size());
  for (std::size_t i = 0; i < in.size(); ++i)
    xyz[3 * i] = in[i].x(), xyz[3 * i + 1] = in[i].y(), xyz[3 * i + 2] = in[i].z();
  gmCloudResults r;
  std::vector<gmFeatureSummary> summaries;
  {
    py::gil_scoped_release release;
    r = inspection.runCloud(xyz.data(), in.size(), probeDiameter,
                            threads > 0 ? threads : workerCount());
    summaries = inspection.summarizeCloud(xyz.data(), r, probeDiameter, 20000,
                                          threads > 0 ? threads : workerCount());
  }
  const auto n = static_cast<py::ssize_t>(in.size());
  py::array_t<double> deviation(n);
  py::array_t<int> feature(n);
  py::array_t<bool> inTol(n), unassigned(n);
  const auto& fs = inspection.features();
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::int32_t k = r.feature[i];
    feature.mutable_data()[i] = k >= 0 ? k : -1;
    deviation.mutable_data()[i] =
        k >= 0 ? r.deviation[i] : std::numeric_limits<double>::quiet_NaN();
    inTol.mutable_data()[i] = k >= 0 && fs[static_cast<std::size_t>(k)].lower() <= r.deviation[i] &&
                              r.deviation[i] <= fs[static_cast<std::size_t>(k)].upper();
    unassigned.mutable_data()[i] = gmCloudResults::skipOf(k) == gmSkip::unassigned;
  }
  py::list ids;
  for (const gmInspectionFeature& f : fs) ids.append(f.id());
  py::dict out;
  out["deviation"] = deviation, out["feature"] = feature, out["in_tolerance"] = inTol;
  out["unassigned"] = unassigned, out["feature_ids"] = ids,
  out["features"] = summaryList(inspection, summaries);
  return out;
}

// Measured points from a CSV file as CMM software exports it.
py::dict readMeasured(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw OsError(path + ": cannot be read");
  std::vector<gmMeasuredPoint> pts;
  std::vector<gmSkippedLine> skipped;
  gmReadMeasuredPoints(in, pts, skipped);
  std::vector<ERPoint3D> centres(pts.size());
  std::vector<double> diameters(pts.size()), lines(pts.size());
  py::list ids, features, skippedLines;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    centres[i] = pts[i].centre, diameters[i] = pts[i].diameter;
    ids.append(pts[i].id), features.append(pts[i].feature);
    lines[i] = static_cast<double>(pts[i].line);
  }
  for (const gmSkippedLine& k : skipped) skippedLines.append(py::make_tuple(k.line, k.reason));
  py::dict out;
  out["points"] = arrayOf(centres), out["ids"] = ids, out["features"] = features;
  out["probe_diameters"] = arrayOf(diameters), out["lines"] = arrayOf(lines),
  out["skipped"] = skippedLines;
  return out;
}

// A scanner's cloud (PLY, XYZ, ASC, PTS): its points, and the rows not read.
py::dict readCloud(const std::string& path, int threads) {
  if (!std::filesystem::is_regular_file(path)) throw OsError(path + ": no such file");
  gmPointCloud cloud;
  {
    py::gil_scoped_release release;
    cloud = gmReadPointCloud(path, threads > 0 ? threads : workerCount());
  }
  if (cloud.error == "cannot be read") throw OsError(path + ": cannot be read");
  if (!cloud.ok())
    throw std::invalid_argument(path + ": refused at byte " + std::to_string(cloud.errorOffset) +
                                ": " + cloud.error);
  py::array_t<double> points({static_cast<py::ssize_t>(cloud.size()), py::ssize_t{3}});
  std::copy(cloud.xyz.begin(), cloud.xyz.end(), points.mutable_data());
  py::list skipped;
  for (const gmCloudSkip& k : cloud.skipped)
    skipped.append(py::make_tuple(k.offset, k.line, k.reason));
  static const char* kinds[] = {"csv", "ply", "xyz", "pts"};
  py::dict out;
  out["points"] = points, out["skipped"] = skipped, out["skipped_count"] = cloud.skippedCount();
  out["kind"] = kinds[static_cast<int>(cloud.kind)];
  return out;
}

}  // namespace
}  // namespace qorv::python

using namespace qorv::python;

// The features of a STEP or IGES model, as qorv inspect forms them by default.
py::list readCad(const std::string& path, bool merge) {
#if QORV_HAVE_STEP
  qorv::exchange::CadOptions options;
  options.merge = merge;
  const qorv::exchange::CadModel model = qorv::exchange::readCad(path, options);
  if (!model.error.empty()) throw std::invalid_argument(path + ": " + model.error);
  py::list out;
  for (const qorv::exchange::CadGroup& g : model.groups) {
    py::dict d;
    py::list faces, names, colours;
    for (int k : g.faces) {
      faces.append(model.faces[static_cast<std::size_t>(k)].index);
      names.append(model.faces[static_cast<std::size_t>(k)].name);
      colours.append(model.faces[static_cast<std::size_t>(k)].colour);
    }
    const ERPoint3D lo = g.box.MinPoint(), hi = g.box.MaxPoint();
    d["id"] = g.id, d["kind"] = g.kind, d["faces"] = faces, d["names"] = names;
    d["colours"] = colours;
    d["area"] = g.area, d["normal_inward"] = g.normalInward;
    d["box"] = py::make_tuple(py::make_tuple(lo.x(), lo.y(), lo.z()),
                              py::make_tuple(hi.x(), hi.y(), hi.z()));
    d["surface"] = Surface{g.surface};
    out.append(d);
  }
  return out;
#else
  (void)merge;
  throw std::invalid_argument(path + ": this qorv was built without OpenCASCADE");
#endif
}

PYBIND11_MODULE(qorv, m) {
  m.doc() =
      "qorv: a geometry kernel for dimensional measurement and inspection. Points are numpy "
      "arrays of shape (n, 3); bulk calls release the GIL and use every core.";
  m.attr("__version__") = QORV_VERSION_STRING;
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const OsError& e) {
      PyErr_SetString(PyExc_OSError, e.what());
    }
  });

  py::class_<Transform>(m, "Transform", "A rigid motion or similitude of space (local to global).")
      .def_static("frame", &Transform::frame, py::arg("origin"), py::arg("z_axis"),
                  py::arg("x_axis") = py::none(),
                  "The frame at origin whose z axis is z_axis (x along x_axis's part across it).")
      .def_static("rotation", &Transform::rotation, py::arg("axis"), py::arg("angle"),
                  py::arg("centre") = py::none(),
                  "A right-handed turn by angle (radians) about axis through centre.")
      .def_static("translation", &Transform::translation, py::arg("vector"), "A translation.")
      .def_static("scaling", &Transform::scaling, py::arg("factor"), "A scaling about the origin.")
      .def(
          "__mul__", [](const Transform& a, const Transform& b) { return Transform{a.t * b.t}; },
          "a * b: b first, then a.")
      .def(
          "inverse", [](const Transform& a) { return Transform{~a.t}; },
          "The inverse transformation.")
      .def("apply", &Transform::apply, py::arg("points"), "Maps points (n, 3) or one point (3,).")
      .def("apply_vectors", &Transform::applyVectors, py::arg("vectors"),
           "Maps vectors (no translation).")
      .def("matrix", &Transform::matrix, "The 4 x 4 homogeneous matrix.")
      .def_property_readonly(
          "scale", [](const Transform& a) { return a.t.getFactHomo(); }, "The scale factor.");

  bindValues(m);
  bindSurfaces(m);
  bindCurves(m);
  bindDatabase(m);
  bindForm(m);
  bindAlignment(m);

  m.def(
      "inspect", &inspect, py::arg("nominal"), py::arg("points"), py::arg("probe_diameter") = 0.0,
      py::arg("features") = py::none(), py::arg("threads") = 0, py::arg("report") = py::none(),
      py::arg("probe_diameters") = py::none(), py::arg("max_distance") = 5.0,
      "Measured probe centres (n, 3) against a nominal part (JSON or qorv database), as qorv "
      "inspect "
      "does: deviation, in_tolerance, feature index (-1 skipped), calculated, nominal and normal "
      "arrays, skip reasons, and a summary per feature. features: a feature id per point (\"\" the "
      "nearest); probe_diameters: one per point (< 0: probe_diameter); report: a path for the "
      "HTML report; max_distance: a point that names no feature and lies farther than this from "
      "every feature after compensation is unassigned (feature -1, unassigned True), as in qorv "
      "inspect.");
  m.def("read_cad", &readCad, py::arg("path"), py::arg("merge") = true,
        "The features of a STEP or IGES model (lengths in mm): a list of dicts with id, kind, "
        "faces (numbers from 1), names, colours (\"#rrggbb\" or \"\"), area, box, "
        "normal_inward (the surface's own normal points into the material) and surface (the "
        "trimmed face or group: evaluate, nearest, box). merge=False: each face its own "
        "feature. ValueError when the file cannot be read.");
  m.def("inspect_cloud", &inspectCloud, py::arg("nominal"), py::arg("points"),
        py::arg("probe_diameter") = 0.0, py::arg("threads") = 0, py::arg("max_distance") = 5.0,
        "A scanner's surface points (n, 3) against a nominal part, as qorv inspect judges a cloud, "
        "in "
        "about 40 bytes a point: deviation (NaN where not judged), feature index (-1 not judged), "
        "in_tolerance, unassigned, feature_ids, and a summary per feature (statistics over every "
        "point; fits, form and size over an even subset of at most 20,000 per feature). No "
        "compensation unless probe_diameter is given.");
  m.def("read_cloud", &readCloud, py::arg("path"), py::arg("threads") = 0,
        "A scanner's surface points from PLY (ascii or binary), XYZ, ASC or PTS: points (n, 3), "
        "kind, the rows not read as (byte offset, line or 0, reason) (the first 1000) and their "
        "count. ValueError with the byte offset and reason when the file is damaged.");
  m.def("read_measured", &readMeasured, py::arg("path"),
        "Measured points from a CSV or text file (id, x, y, z, optional feature, optional probe "
        "diameter; separator and decimal mark detected as qorv inspect does; optional header): "
        "points (n, 3), ids, features, probe_diameters (-1 "
        "where none), line numbers, and the skipped lines as (line, reason).");
}
