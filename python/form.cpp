// qorv.fit: the form and size associations of qorv/measurement/form.h.
#include "python/module.h"

namespace qorv::python {

namespace {

py::array_t<long> indexArray(const std::vector<int>& v) {
  py::array_t<long> out(static_cast<py::ssize_t>(v.size()));
  for (std::size_t i = 0; i < v.size(); ++i) out.mutable_data()[i] = v[i];
  return out;
}

py::dict fit(const py::handle& points, const std::string& kind, const std::string& association,
             const py::object& axis) {
  gmForm::Kind k;
  gmForm::Association a;
  if (!gmForm::parseKind(kind, k))
    throw std::invalid_argument(
        "kind must be line2d, line3d, plane, circle2d, circle3d, sphere, "
        "cylinder or cone ('line', 'circle': in space), not '" +
        kind + "'");
  if (!gmForm::parseAssociation(association, a))
    throw std::invalid_argument(
        "association must be least-squares, minimum-zone, inscribed or "
        "circumscribed, not '" +
        association + "'");
  const ERVector3D hint = axis.is_none() ? ERVector3D() : vector3(axis, "axis");
  std::vector<ERPoint3D> pts;
  const Array raw = numeric(points, "points", "(n, 3) or (n, 2)");
  if (raw.ndim() == 2 && raw.shape(1) == 2) {
    for (const ERPoint2D& p : pointsOf<2>(points, "points")) pts.emplace_back(p.x(), p.y(), 0.0);
  } else {
    pts = pointsOf<3>(points, "points");
  }
  gmFormResult r;
  {
    py::gil_scoped_release release;
    r = gmFit(pts, k, a, hint);
  }
  if (!r.ok) throw std::invalid_argument(r.reason);
  return formDict(r);
}

}  // namespace

py::dict formDict(const gmFormResult& r) {
  py::dict d;
  d["ok"] = r.ok != 0;
  if (!r.ok) {
    d["reason"] = r.reason;
    return d;
  }
  d["kind"] = gmForm::kindName(r.kind), d["association"] = gmForm::associationName(r.association);
  d["point"] = arrayOf(r.element.point), d["axis"] = arrayOf(ERPoint3D(r.element.axis));
  d["radius"] = r.element.radius, d["half_angle"] = r.element.angle;
  d["width"] = r.width, d["size"] = r.size, d["rms"] = r.rms, d["iterations"] = r.iterations;
  d["upper_contacts"] = indexArray(r.upperContacts),
  d["lower_contacts"] = indexArray(r.lowerContacts);
  d["upper_weights"] = arrayOf(r.upperWeights), d["lower_weights"] = arrayOf(r.lowerWeights);
  d["certified"] = r.certified != 0, d["stationarity"] = r.stationarity;
  return d;
}

void bindForm(py::module_& m) {
  m.def("fit", &fit, py::arg("points"), py::arg("kind"), py::arg("association") = "least-squares",
        py::arg("axis") = py::none(),
        "The element points (n, 3), or (n, 2) for line2d and circle2d, define by an association "
        "(least-squares, minimum-zone, inscribed, circumscribed) for a kind (line2d, line3d, "
        "plane, circle2d, circle3d, sphere, cylinder, cone): a dict with the element (point, "
        "axis, radius, half_angle in radians), width (the form: the zone's width, a line in "
        "space the zone cylinder's diameter; else the residuals' spread), size (a diameter), "
        "rms, iterations and, for the zone associations, the contact point indices of each "
        "boundary with their weights and whether the optimality conditions hold (certified). "
        "axis: a starting axis for cylinders and cones. A set that fixes no element raises "
        "ValueError saying why.");
}

}  // namespace qorv::python
