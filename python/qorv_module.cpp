// The qorv Python module: points in and out as numpy arrays of shape (n, 3), the bulk calls
// without the GIL and over several threads. Pythonic names; the kernel's own names stay as
// aliases (PtCur, ProjectionNormale, ...).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "qorv/qorv.h"
#include "tools/qorv/nominal.h"

namespace py = pybind11;
using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

namespace {

// ---------------------------------------------------------------------------------------------
// Arrays

std::vector<ERPoint3D> pointsOf(const Array& a, const char* what) {
  if (a.ndim() == 1 && a.shape(0) == 3) return {ERPoint3D(a.at(0), a.at(1), a.at(2))};
  if (a.ndim() != 2 || a.shape(1) != 3) throw std::invalid_argument(std::string(what) + " must have shape (n, 3)");
  std::vector<ERPoint3D> out(static_cast<std::size_t>(a.shape(0)));
  const double* d = a.data();
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = ERPoint3D(d[3 * i], d[3 * i + 1], d[3 * i + 2]);
  return out;
}

ERPoint3D pointOf(const Array& a, const char* what) {
  if (a.ndim() != 1 || a.shape(0) != 3) throw std::invalid_argument(std::string(what) + " must be 3 numbers");
  return ERPoint3D(a.at(0), a.at(1), a.at(2));
}

ERVector3D vectorOf(const Array& a, const char* what) {
  const ERPoint3D p = pointOf(a, what);
  return ERVector3D(p.x(), p.y(), p.z());
}

std::vector<double> valuesOf(const Array& a) {
  // C-contiguous: the values in order whatever the shape.
  return std::vector<double>(a.data(), a.data() + a.size());
}

Array arrayOf(const std::vector<ERPoint3D>& p) {
  Array out({static_cast<py::ssize_t>(p.size()), py::ssize_t{3}});
  double* d = out.mutable_data();
  for (std::size_t i = 0; i < p.size(); ++i) d[3 * i] = p[i].x(), d[3 * i + 1] = p[i].y(), d[3 * i + 2] = p[i].z();
  return out;
}

Array arrayOf(const std::vector<double>& v) {
  Array out(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), out.mutable_data());
  return out;
}

Array arrayOf(const ERPoint3D& p) {
  Array out(py::ssize_t{3});
  double* d = out.mutable_data();
  d[0] = p.x(), d[1] = p.y(), d[2] = p.z();
  return out;
}

// f(begin, end, worker) over [0, n) on up to every core, without the GIL.
void parallel(std::size_t n, const std::function<void(std::size_t, std::size_t, int)>& f) {
  py::gil_scoped_release release;
  const int t = static_cast<int>(std::clamp<std::size_t>(n / 2048, 1, std::max(1u, std::thread::hardware_concurrency())));
  std::vector<std::thread> pool;
  for (int k = 1; k < t; ++k)
    pool.emplace_back(f, n * static_cast<std::size_t>(k) / static_cast<std::size_t>(t),
                      n * static_cast<std::size_t>(k + 1) / static_cast<std::size_t>(t), k);
  f(0, n / static_cast<std::size_t>(t), 0);
  for (std::thread& th : pool) th.join();
}

// ---------------------------------------------------------------------------------------------
// Transformations: a similitude (an isometry when the scale is 1).

struct Transform {
  ERPmSimilitude3D t;

  static Transform frame(const Array& origin, const Array& zAxis, std::optional<Array> xAxis) {
    const ERPoint3D o = pointOf(origin, "origin");
    const ERVector3D z = vectorOf(zAxis, "z_axis");
    if (!(z.norme() > 0)) throw std::invalid_argument("z_axis must not be zero");
    if (!xAxis) return {ERChgRepere3D(z, o)};
    const ERVector3D x = vectorOf(*xAxis, "x_axis"), zn = z.getnormalized();
    const ERVector3D across = x - (x * zn) * zn;
    if (!(across.norme() > 1e-12 * x.norme())) throw std::invalid_argument("x_axis is parallel to z_axis");
    return {ERChgRepere3D(across, zn ^ across, o)};
  }
  static Transform rotation(const Array& axis, double angle, std::optional<Array> centre) {
    const ERVector3D k = vectorOf(axis, "axis").getnormalized();
    if (!(k.norme() > 0)) throw std::invalid_argument("axis must not be zero");
    auto turn = [&](const ERVector3D& v) {
      return std::cos(angle) * v + std::sin(angle) * (k ^ v) + ((1 - std::cos(angle)) * (k * v)) * k;
    };
    const ERPoint3D c = centre ? pointOf(*centre, "centre") : ERPoint3D();
    const ERVector3D cv(c.x(), c.y(), c.z());
    const ERVector3D o = cv - turn(cv);
    return {ERChgRepere3D(turn(ERVector3D(1, 0, 0)), turn(ERVector3D(0, 1, 0)), ERPoint3D(o.x(), o.y(), o.z()))};
  }
  static Transform translation(const Array& v) {
    return {ERChgRepere3D(ERVector3D(1, 0, 0), ERVector3D(0, 1, 0), pointOf(v, "vector"))};
  }
  static Transform scaling(double k) { return {ERPmSimilitude3D(_ERScaling3D(k))}; }

  // As an isometry (axes normalised), for placements.
  ERPmIsometrie3D isometry() const {
    return ERChgRepere3D((t >> ERVector3D(1, 0, 0)).normalize(), (t >> ERVector3D(0, 1, 0)).normalize(),
                         t >> ERPoint3D());
  }
  Array apply(const Array& pts) const {
    const std::vector<ERPoint3D> in = pointsOf(pts, "points");
    std::vector<ERPoint3D> out(in.size());
    parallel(in.size(), [&](std::size_t b, std::size_t e, int) {
      for (std::size_t i = b; i < e; ++i) out[i] = t >> in[i];
    });
    return pts.ndim() == 1 ? arrayOf(out[0]) : arrayOf(out);
  }
  Array applyVectors(const Array& vs) const {
    std::vector<ERPoint3D> in = pointsOf(vs, "vectors");
    for (ERPoint3D& p : in) {
      const ERVector3D v = t >> ERVector3D(p.x(), p.y(), p.z());
      p = ERPoint3D(v.x(), v.y(), v.z());
    }
    return vs.ndim() == 1 ? arrayOf(in[0]) : arrayOf(in);
  }
  Array matrix() const {
    Array m({4, 4});
    double* d = m.mutable_data();
    const ERVector3D c[3] = {t >> ERVector3D(1, 0, 0), t >> ERVector3D(0, 1, 0), t >> ERVector3D(0, 0, 1)};
    const ERPoint3D o = t >> ERPoint3D();
    for (int r = 0; r < 3; ++r) {
      for (int k = 0; k < 3; ++k) d[r * 4 + k] = r == 0 ? c[k].x() : (r == 1 ? c[k].y() : c[k].z());
      d[r * 4 + 3] = r == 0 ? o.x() : (r == 1 ? o.y() : o.z());
    }
    d[12] = d[13] = d[14] = 0, d[15] = 1;
    return m;
  }
};

// ---------------------------------------------------------------------------------------------
// Surfaces

struct Surface {
  t_SmartPtr<ERAnyBoundedSurface> s;

  std::pair<double, double> uLimits() const { return {s->udeb(), s->ufin()}; }
  std::pair<double, double> vLimits() const { return {s->vdeb(), s->vfin()}; }
  py::tuple evaluate(const Array& u, const Array& v) const {
    const std::vector<double> us = valuesOf(u), vs = valuesOf(v);
    if (us.size() != vs.size()) throw std::invalid_argument("u and v must have the same length");
    std::vector<ERPoint3D> pts(us.size()), normals(us.size());
    // Each worker on its own copy: surfaces keep caches.
    std::vector<t_SmartPtr<ERAnyBoundedSurface>> copies = clones();
    parallel(us.size(), [&](std::size_t b, std::size_t e, int k) {
      const ERAnyBoundedSurface& mine = *copies[static_cast<std::size_t>(k)];
      for (std::size_t i = b; i < e; ++i) {
        const ERInfoPoint3DSurf info = mine.PtCur(us[i], vs[i]);
        int degenerate = 0;
        const ERVector3D n = get_stable_normal(mine, info, degenerate);
        pts[i] = info.point(), normals[i] = ERPoint3D(n.x(), n.y(), n.z());
      }
    });
    return py::make_tuple(arrayOf(pts), arrayOf(normals));
  }
  // feet (n, 3), parameters (n, 2), signed distances (n,) along the normal, codes (n,): 1 a foot
  // within the limits, 0 none (on an axis, or outside the limits: then the point is NaN).
  py::dict project(const Array& points) const {
    const std::vector<ERPoint3D> in = pointsOf(points, "points");
    std::vector<ERPoint3D> feet(in.size());
    std::vector<double> uv(2 * in.size()), dist(in.size());
    std::vector<double> codes(in.size());
    std::vector<t_SmartPtr<ERAnyBoundedSurface>> copies = clones();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    parallel(in.size(), [&](std::size_t b, std::size_t e, int k) {
      const ERAnyBoundedSurface& mine = *copies[static_cast<std::size_t>(k)];
      for (std::size_t i = b; i < e; ++i) {
        ERPoint2D q;
        const int ok = mine.ProjectionNormale(in[i], 0.0, q, 1);
        const bool inside = ok && q.x() >= mine.udeb() && q.x() <= mine.ufin() && q.y() >= mine.vdeb() &&
                            q.y() <= mine.vfin();
        if (!inside) {
          feet[i] = ERPoint3D(nan, nan, nan), uv[2 * i] = uv[2 * i + 1] = dist[i] = nan, codes[i] = 0;
          continue;
        }
        const ERInfoPoint3DSurf info = mine.PtCur(q.x(), q.y());
        int degenerate = 0;
        const ERVector3D n = get_stable_normal(mine, info, degenerate);
        feet[i] = info.point(), uv[2 * i] = q.x(), uv[2 * i + 1] = q.y();
        dist[i] = (in[i] - info.point()) * n, codes[i] = 1;
      }
    });
    Array uvs({static_cast<py::ssize_t>(in.size()), py::ssize_t{2}});
    std::copy(uv.begin(), uv.end(), uvs.mutable_data());
    py::array_t<int> c(static_cast<py::ssize_t>(in.size()));
    for (std::size_t i = 0; i < in.size(); ++i) c.mutable_data()[i] = static_cast<int>(codes[i]);
    py::dict out;
    out["feet"] = arrayOf(feet), out["parameters"] = uvs, out["distances"] = arrayOf(dist), out["codes"] = c;
    return out;
  }
  py::tuple box() const {
    const ERMinimax3D b = s->getBox();
    return py::make_tuple(arrayOf(b.MinPoint()), arrayOf(b.MaxPoint()));
  }
  std::vector<t_SmartPtr<ERAnyBoundedSurface>> clones() const {
    std::vector<t_SmartPtr<ERAnyBoundedSurface>> c{s};
    const unsigned n = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned k = 1; k < n; ++k) c.emplace_back(ERAnyBoundedSurface::castdown(s->getCopy()));
    return c;
  }
};

// ---------------------------------------------------------------------------------------------
// Curves: every curve as its exact NURBS form.

struct Curve {
  t_SmartPtr<ERCpoleNURBS3D> c;

  Array evaluate(const Array& t) const {
    const std::vector<double> ts = valuesOf(t);
    std::vector<ERPoint3D> out(ts.size());
    std::vector<t_SmartPtr<ERCpoleNURBS3D>> copies = clones();
    parallel(ts.size(), [&](std::size_t b, std::size_t e, int k) {
      for (std::size_t i = b; i < e; ++i) out[i] = (*copies[static_cast<std::size_t>(k)])(ts[i]);
    });
    return arrayOf(out);
  }
  py::dict nearest(const Array& points) const {
    const std::vector<ERPoint3D> in = pointsOf(points, "points");
    std::vector<ERPoint3D> feet(in.size());
    std::vector<double> params(in.size()), dist(in.size());
    std::vector<t_SmartPtr<ERCpoleNURBS3D>> copies = clones();
    parallel(in.size(), [&](std::size_t b, std::size_t e, int k) {
      const ERCpoleNURBS3D& mine = *copies[static_cast<std::size_t>(k)];
      for (std::size_t i = b; i < e; ++i) {
        double u = 0;
        dist[i] = mine.nearest(in[i], u);
        params[i] = u, feet[i] = mine(u);
      }
    });
    py::dict out;
    out["feet"] = arrayOf(feet), out["parameters"] = arrayOf(params), out["distances"] = arrayOf(dist);
    return out;
  }
  std::pair<double, double> limits() const { return {c->udeb(), c->ufin()}; }
  std::vector<t_SmartPtr<ERCpoleNURBS3D>> clones() const {
    std::vector<t_SmartPtr<ERCpoleNURBS3D>> v{c};
    const unsigned n = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned k = 1; k < n; ++k) v.emplace_back(ERCpoleNURBS3D::castdown(c->getCopy()));
    return v;
  }
};

Curve nurbsCurve(const Array& poles, const Array& knots, int degree, std::optional<Array> weights) {
  const std::vector<ERPoint3D> p = pointsOf(poles, "poles");
  const std::vector<double> k = valuesOf(knots);
  std::vector<double> w(p.size(), 1.0);
  if (weights) {
    w = valuesOf(*weights);
    if (w.size() != p.size()) throw std::invalid_argument("one weight per pole");
  }
  if (degree < 1 || k.size() != p.size() + static_cast<std::size_t>(degree) + 1)
    throw std::invalid_argument("knots must number poles + degree + 1");
  QuickAlgebra::ERVec<ERPole3DH> h(static_cast<int>(p.size()));
  for (std::size_t i = 0; i < p.size(); ++i)
    h[static_cast<int>(i)] = ERPole3DH(p[i].x() * w[i], p[i].y() * w[i], p[i].z() * w[i], w[i]);
  t_SmartPtr<ERCpoleNURBS3D> c(new ERCpoleNURBS3D(h, ERKnotVector(degree, k.data(), static_cast<int>(k.size()))));
  if (!c->isValid()) throw std::invalid_argument("not a valid NURBS curve (knots, weights)");
  return {c};
}

Curve fromFinite(const ERFiniteEntity3DWF& e) {
  auto n = e.ConvertToNurbs();
  ERCpoleNURBS3D* c = n ? ERCpoleNURBS3D::castdown(n.get()) : nullptr;
  if (c == nullptr) throw std::invalid_argument("the curve has no NURBS form (degenerate)");
  return {t_SmartPtr<ERCpoleNURBS3D>(c)};
}

// ---------------------------------------------------------------------------------------------
// Inspection

py::dict inspect(const std::string& nominal, const Array& points, double probeDiameter,
                 std::optional<std::vector<std::string>> features, int threads) {
  std::vector<gmInspectionFeature> fs;
  try {
    fs = qorv::tool::readNominal(nominal);
  } catch (const qorv::tool::NominalError& e) {
    throw std::invalid_argument(nominal + ": " + e.why);
  }
  const gmInspection inspection(std::move(fs));
  const std::vector<ERPoint3D> in = pointsOf(points, "points");
  if (features && features->size() != in.size()) throw std::invalid_argument("one feature id per point");
  std::vector<gmMeasuredPoint> pts(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    pts[i].line = static_cast<long>(i), pts[i].centre = in[i];
    if (features) pts[i].feature = (*features)[i];
  }
  std::vector<gmInspectedPoint> results;
  {
    py::gil_scoped_release release;
    results = inspection.run(pts, probeDiameter, threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> dev(in.size());
  std::vector<ERPoint3D> calc(in.size()), nominalPts(in.size()), normals(in.size());
  py::array_t<int> feature(static_cast<py::ssize_t>(in.size()));
  py::array_t<bool> inTol(static_cast<py::ssize_t>(in.size()));
  py::list reasons;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const gmInspectedPoint& r = results[i];
    feature.mutable_data()[i] = r.feature;
    inTol.mutable_data()[i] = r.feature >= 0 && r.inTolerance;
    reasons.append(r.skipReason);
    if (r.feature < 0) {
      dev[i] = nan, calc[i] = nominalPts[i] = normals[i] = ERPoint3D(nan, nan, nan);
      continue;
    }
    ERVector3D n;
    r.target.get_surface_normal(n);
    dev[i] = r.deviation, calc[i] = r.target.calculated_point(), nominalPts[i] = r.target.target_point();
    normals[i] = ERPoint3D(n.x(), n.y(), n.z());
  }
  const std::vector<gmFeatureSummary> summaries = inspection.summarize(results, pts);
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
    if (s.fitted) d["fit_radius"] = s.size, d["form_error"] = s.formError, d["fit_iterations"] = s.iterations;
    summary.append(d);
  }
  py::list ids;
  for (const gmInspectionFeature& f : inspection.features()) ids.append(f.id());
  py::dict out;
  out["deviation"] = arrayOf(dev), out["in_tolerance"] = inTol, out["feature"] = feature;
  out["feature_ids"] = ids, out["calculated"] = arrayOf(calc), out["nominal"] = arrayOf(nominalPts);
  out["normal"] = arrayOf(normals), out["skip_reason"] = reasons, out["features"] = summary;
  return out;
}

}  // namespace

PYBIND11_MODULE(qorv, m) {
  m.doc() = "qorv: a geometry kernel for dimensional measurement and inspection. Points are numpy "
            "arrays of shape (n, 3); bulk calls release the GIL and use every core.";
  m.attr("__version__") = QORV_VERSION_STRING;

  py::class_<Transform>(m, "Transform", "A rigid motion or similitude of space (local to global).")
      .def_static("frame", &Transform::frame, py::arg("origin"), py::arg("z_axis"), py::arg("x_axis") = py::none(),
                  "The frame at origin whose z axis is z_axis (x along x_axis's part across it).")
      .def_static("rotation", &Transform::rotation, py::arg("axis"), py::arg("angle"), py::arg("centre") = py::none(),
                  "A right-handed turn by angle (radians) about axis through centre.")
      .def_static("translation", &Transform::translation, py::arg("vector"), "A translation.")
      .def_static("scaling", &Transform::scaling, py::arg("factor"), "A scaling about the origin.")
      .def("__mul__", [](const Transform& a, const Transform& b) { return Transform{a.t * b.t}; },
           "a * b: b first, then a.")
      .def("inverse", [](const Transform& a) { return Transform{~a.t}; }, "The inverse transformation.")
      .def("apply", &Transform::apply, py::arg("points"), "Maps points (n, 3) or one point (3,).")
      .def("apply_vectors", &Transform::applyVectors, py::arg("vectors"), "Maps vectors (no translation).")
      .def("matrix", &Transform::matrix, "The 4 x 4 homogeneous matrix.")
      .def_property_readonly("scale", [](const Transform& a) { return a.t.getFactHomo(); }, "The scale factor.");

  py::class_<Surface>(m, "Surface", "A bounded surface: evaluation and projection in bulk.")
      .def("evaluate", &Surface::evaluate, py::arg("u"), py::arg("v"),
           "Points (n, 3) and unit normals (n, 3) at the parameters.")
      .def("PtCur", &Surface::evaluate, py::arg("u"), py::arg("v"), "Alias of evaluate.")
      .def("project", &Surface::project, py::arg("points"),
           "Feet, parameters (n, 2), signed distances along the normal and codes (1 foot within the "
           "limits, 0 none) of points (n, 3).")
      .def("ProjectionNormale", &Surface::project, py::arg("points"), "Alias of project.")
      .def_property_readonly("u_limits", &Surface::uLimits, "The u limits.")
      .def_property_readonly("v_limits", &Surface::vLimits, "The v limits.")
      .def("box", &Surface::box, "The corners of a box that holds the surface.");

  m.def(
      "BoundedPlane",
      [](const Transform& frame, std::pair<double, double> u, std::pair<double, double> v) {
        return Surface{new ERBoundedPlane(frame.isometry(), ERLimites(u.first, u.second), ERLimites(v.first, v.second))};
      },
      py::arg("frame"), py::arg("u"), py::arg("v"), "S(u, v) = frame * (u, v, 0) over the limits.");
  m.def(
      "BoundedCylinder",
      [](const Transform& frame, double halfHeight, double radius, std::pair<double, double> angles) {
        return Surface{new ERBoundedCylinder(frame.isometry(), halfHeight, radius, ERRadian(angles.first),
                                             ERRadian(angles.second))};
      },
      py::arg("frame"), py::arg("half_height"), py::arg("radius"), py::arg("angles") = std::pair<double, double>(0, 2 * std::numbers::pi),
      "S(u, v) = frame * (R cos v, R sin v, u), u in [-half_height, half_height]; its normal points to the axis.");
  m.def(
      "BoundedCone",
      [](const Transform& frame, double halfAngle, std::pair<double, double> heights) {
        return Surface{new ERBoundedCone(frame.isometry(), ERRadian(halfAngle), heights.first, heights.second)};
      },
      py::arg("frame"), py::arg("half_angle"), py::arg("heights"), "S(u, v) = frame * (u tan a cos v, u tan a sin v, u).");
  m.def(
      "BoundedSphere",
      [](const Transform& frame, double radius, std::pair<double, double> u, std::pair<double, double> v) {
        return Surface{new ERBoundedSphere(frame.isometry(), radius, ERLimites(u.first, u.second), ERLimites(v.first, v.second))};
      },
      py::arg("frame"), py::arg("radius"), py::arg("longitude") = std::pair<double, double>(0, 2 * std::numbers::pi),
      py::arg("latitude") = std::pair<double, double>(-std::numbers::pi / 2, std::numbers::pi / 2),
      "S(u, v) = frame * R (cos v cos u, cos v sin u, sin v).");
  m.def(
      "BoundedTorus",
      [](const Transform& frame, double R, double r, std::pair<double, double> u, std::pair<double, double> v) {
        return Surface{new ERBoundedTorus(frame.isometry(), R, r, ERLimites(u.first, u.second), ERLimites(v.first, v.second))};
      },
      py::arg("frame"), py::arg("major_radius"), py::arg("minor_radius"),
      py::arg("u") = std::pair<double, double>(0, 2 * std::numbers::pi),
      py::arg("v") = std::pair<double, double>(-std::numbers::pi, std::numbers::pi),
      "S(u, v) = frame * ((R + r cos v) cos u, (R + r cos v) sin u, r sin v).");

  py::class_<Curve>(m, "Curve", "A curve in its exact NURBS form: evaluation and nearest points in bulk.")
      .def("evaluate", &Curve::evaluate, py::arg("t"), "Points (n, 3) at the parameters.")
      .def("nearest", &Curve::nearest, py::arg("points"),
           "The global nearest point of each of points (n, 3): feet, parameters, distances.")
      .def_property_readonly("limits", &Curve::limits, "The parameter limits.");
  m.def("NurbsCurve", &nurbsCurve, py::arg("poles"), py::arg("knots"), py::arg("degree"),
        py::arg("weights") = py::none(), "A NURBS curve from poles (n, 3), knots (n + degree + 1) and weights.");
  m.def(
      "Segment", [](const Array& a, const Array& b) { return fromFinite(ERSegment3D(pointOf(a, "start"), pointOf(b, "end"))); },
      py::arg("start"), py::arg("end"), "A straight segment, parameter in [0, 1].");
  m.def(
      "Arc",
      [](const Array& centre, const Array& normal, double radius, double start, double end) {
        return fromFinite(ERArc3D(pointOf(centre, "centre"), vectorOf(normal, "normal"), radius, ERRadian(start), ERRadian(end)));
      },
      py::arg("centre"), py::arg("normal"), py::arg("radius"), py::arg("start"), py::arg("end"),
      "A circular arc from angle start to end (radians) about normal; the parameter is the angle.");

  m.def("inspect", &inspect, py::arg("nominal"), py::arg("points"), py::arg("probe_diameter") = 0.0,
        py::arg("features") = py::none(), py::arg("threads") = 0,
        "Measured probe centres (n, 3) against a nominal part (JSON or qorv database), as qorv inspect "
        "does: deviation, in_tolerance, feature index (-1 skipped), calculated, nominal and normal "
        "arrays, skip reasons, and a summary per feature.");
}
