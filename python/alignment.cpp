// qorv.align: measured points onto a nominal part, by best fit, 3-2-1 datums or reference points.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>

#include "python/module.h"
#include "qorv/measurement/alignment.h"
#include "tools/qorv/nominal.h"

namespace qorv::python {

namespace {

py::array_t<double> arrayOf(const double* v, py::ssize_t rows, py::ssize_t cols) {
  py::array_t<double> a(cols > 1 ? std::vector<py::ssize_t>{rows, cols}
                                 : std::vector<py::ssize_t>{rows});
  std::copy(v, v + rows * cols, a.mutable_data());
  return a;
}

py::dict align(const std::string& nominal, const py::handle& points, const std::string& method,
               std::optional<std::vector<std::string>> fixed,
               std::optional<std::vector<std::string>> datums,
               std::optional<std::vector<std::string>> features, double probeDiameter,
               double maxDistance, const py::object& probeDiameters, std::optional<std::string> rps,
               std::optional<std::vector<std::string>> ids) {
  if (!(probeDiameter >= 0) || !std::isfinite(probeDiameter))
    throw std::invalid_argument("probe_diameter must be a finite number of 0 or more");
  std::vector<gmInspectionFeature> fs = nominalFeatures(nominal);
  const std::vector<ERPoint3D> in = pointsOf<3>(points, "points");
  if (features && features->size() != in.size())
    throw std::invalid_argument("one feature id per point");
  if (ids && ids->size() != in.size()) throw std::invalid_argument("one id per point");
  std::vector<gmMeasuredPoint> pts(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    pts[i].centre = in[i];
    if (features) pts[i].feature = (*features)[i];
    if (ids) pts[i].id = (*ids)[i];
  }
  if (!probeDiameters.is_none()) {
    const std::vector<double> d = valuesOf(probeDiameters, "probe_diameters");
    if (d.size() != in.size())
      throw std::invalid_argument("probe_diameters: one per point (< 0: probe_diameter)");
    for (std::size_t i = 0; i < in.size(); ++i) pts[i].diameter = d[i];
  }
  gmAlignment a;
  if (method == "best-fit") {
    gmAlignmentOptions o;
    o.defaultDiameter = probeDiameter, o.maxDistance = maxDistance, o.fromAnywhere = 1;
    static const char* names[6] = {"rx", "ry", "rz", "tx", "ty", "tz"};
    for (const std::string& f : fixed.value_or(std::vector<std::string>{})) {
      const auto k = std::find(names, names + 6, f) - names;
      if (k == 6)
        throw std::invalid_argument("fixed: '" + f + "' is none of rx, ry, rz, tx, ty, tz");
      o.fixed[k] = true;
    }
    if (fixed) o.fromAnywhere = 0;  // held degrees of freedom keep the points' own frame
    py::gil_scoped_release release;
    a = gmBestFitAlignment(fs, pts, o);
  } else if (method == "datums") {
    if (!datums || datums->size() != 3) throw std::invalid_argument("datums: three feature ids");
    if (!features)
      throw std::invalid_argument("datums: the points need their feature ids (features=)");
    a = gmDatumAlignment(fs, pts, *datums, probeDiameter);
  } else if (method == "rps") {
    if (!rps) throw std::invalid_argument("rps: the reference points file");
    if (!ids) throw std::invalid_argument("rps: the points need their ids (ids=)");
    std::ifstream file(std::filesystem::path(*rps), std::ios::binary);
    if (!file) throw std::invalid_argument("rps: " + *rps + " cannot be read");
    std::vector<gmReferencePoint> refs;
    std::string why;
    if (!gmReadReferencePoints(file, refs, why)) throw std::invalid_argument("rps: " + why);
    a = gmRpsAlignment(refs, pts);
  } else {
    throw std::invalid_argument("method: 'best-fit', 'datums' or 'rps'");
  }
  py::dict d;
  d["ok"] = a.ok != 0;
  d["problem"] = a.problem;
  d["matrix"] = arrayOf(a.matrix, 4, 4);
  d["angles"] = arrayOf(a.angles, 3, 1);
  d["translation"] = arrayOf(a.translation, 3, 1);
  d["uncertainty"] = arrayOf(a.sigma, 6, 1);
  d["rms"] = a.rms;
  d["max_residual"] = a.maxResidual;
  d["iterations"] = a.iterations;
  d["points_used"] = a.used;
  d["unassigned"] =
      py::array_t<int>(static_cast<py::ssize_t>(a.unassigned.size()), a.unassigned.data());
  d["ambiguous"] = a.ambiguous != 0;
  d["free_directions"] = a.freeDirections;
  return d;
}

}  // namespace

void bindAlignment(py::module_& m) {
  m.def("align", &align, py::arg("nominal"), py::arg("points"), py::arg("method") = "best-fit",
        py::arg("fixed") = py::none(), py::arg("datums") = py::none(),
        py::arg("features") = py::none(), py::arg("probe_diameter") = 0.0,
        py::arg("max_distance") = HUGE_VAL, py::arg("probe_diameters") = py::none(),
        py::arg("rps") = py::none(), py::arg("ids") = py::none(),
        "The rigid move of measured probe centres (n, 3) onto a nominal part (JSON): method "
        "'best-fit' (from anywhere; fixed names held parameters among rx, ry, rz, tx, ty, tz, "
        "then from the points' own frame; a point goes to its feature when features gives it, "
        "else to its nearest, as the inspection assigns it) or 'datums' (3-2-1 on three feature "
        "ids, the points' features given) or 'rps' (reference points: rps names their file, "
        "id,fixes,x,y,z a line; ids names the points). Returns matrix (4, 4; nominal = matrix "
        "@ measured), angles (rx, ry, rz, radians, R = Rz Ry Rx), translation, uncertainty (6: "
        "turns, then shifts), rms, max_residual, iterations, points_used, unassigned (indices), "
        "ambiguous, free_directions.");
}

}  // namespace qorv::python
