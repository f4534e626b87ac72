// Surfaces from Python: the bounded analytic and NURBS surfaces (evaluation, perpendicular feet
// and the global nearest point in bulk), and the unbounded analytic surfaces (feet and normals).
#include <cmath>
#include <numbers>

#include "python/module.h"

namespace qorv::python {
namespace {

constexpr double kPi = std::numbers::pi;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const ERPoint3D kNaNPoint(kNaN, kNaN, kNaN);

using Limits = std::pair<double, double>;
// Arguments out of their domain raise ValueError naming the argument, before any object is built.
ERLimites limits(const Limits& l, const char* what = "limits") {
  if (!std::isfinite(l.first) || !std::isfinite(l.second) || !(l.first < l.second))
    throw std::invalid_argument(std::string(what) + " must be finite (low, high) with low < high");
  return ERLimites(l.first, l.second);
}
double positive(double v, const char* what) {
  if (!(v > 0) || !std::isfinite(v))
    throw std::invalid_argument(std::string(what) + " must be a finite number > 0");
  return v;
}
ERLimites angles(const Limits& l, const char* what) {
  const ERLimites a = limits(l, what);
  if (l.second - l.first > 2 * kPi * (1 + 1e-15))
    throw std::invalid_argument(std::string(what) + " must span at most one turn (2 pi)");
  return a;
}

py::tuple surfaceEvaluate(const Surface& s, const py::handle& u, const py::handle& v) {
  const std::vector<double> us = valuesOf(u, "u"), vs = valuesOf(v, "v");
  if (us.size() != vs.size()) throw std::invalid_argument("u and v must have the same length");
  std::vector<ERPoint3D> pts(us.size()), normals(us.size());
  const auto copies = copiesOf(s.s);
  parallel(us.size(), [&](std::size_t b, std::size_t e, int k) {
    const ERAnyBoundedSurface& mine = *copies[static_cast<std::size_t>(k)];
    for (std::size_t i = b; i < e; ++i) {
      const ERInfoPoint3DSurf info = mine.PtCur(us[i], vs[i]);
      int degenerate = 0;
      pts[i] = info.point(), normals[i] = ERPoint3D(get_stable_normal(mine, info, degenerate));
    }
  });
  return py::make_tuple(arrayOf(pts), arrayOf(normals));
}

py::array_t<int> codesOf(const std::vector<int>& c) {
  py::array_t<int> out(static_cast<py::ssize_t>(c.size()));
  std::copy(c.begin(), c.end(), out.mutable_data());
  return out;
}

// The perpendicular foot within the limits.
py::dict project(const Surface& s, const py::handle& points) {
  const PointsView<3> in = pointsView<3>(points, "points");
  const std::size_t n = in.size();
  Array feet = pointsOut(n, 3, in.single), uvs({static_cast<py::ssize_t>(n), py::ssize_t{2}});
  Array dist(static_cast<py::ssize_t>(n));
  py::array_t<int> codes(static_cast<py::ssize_t>(n));
  double *f = feet.mutable_data(), *uv = uvs.mutable_data(), *dd = dist.mutable_data();
  int* c = codes.mutable_data();
  const auto copies = copiesOf(s.s);
  parallel(n, [&](std::size_t b, std::size_t e, int k) {
    const ERAnyBoundedSurface& mine = *copies[static_cast<std::size_t>(k)];
    double reach = 2 * mine.getBox().diagonal() + 1;  // every point: the search is global
    if (!std::isfinite(reach)) reach = 1e300;
    for (std::size_t i = b; i < e; ++i) {
      ERPoint2D q;
      const ERPoint3D p = in[i];
      const int ok = mine.ProjectionNormale(p, reach, q, 1);
      const bool inside = ok && q.x() >= mine.udeb() && q.x() <= mine.ufin() &&
                          q.y() >= mine.vdeb() && q.y() <= mine.vfin();
      if (!inside) {
        put(f, i, kNaNPoint), uv[2 * i] = uv[2 * i + 1] = dd[i] = kNaN, c[i] = 0;
        continue;
      }
      const ERInfoPoint3DSurf info = mine.PtCur(q.x(), q.y());
      int degenerate = 0;
      const ERVector3D nrm = get_stable_normal(mine, info, degenerate);
      put(f, i, info.point()), uv[2 * i] = q.x(), uv[2 * i + 1] = q.y();
      dd[i] = (p - info.point()) * nrm, c[i] = 1;
    }
  });
  py::dict out;
  out["feet"] = feet, out["parameters"] = uvs, out["distances"] = dist, out["codes"] = codes;
  return out;
}

// The global nearest point of the bounded surface (a foot inside, else a point of its border).
py::dict surfaceNearest(const Surface& s, const py::handle& points) {
  const PointsView<3> in = pointsView<3>(points, "points");
  const std::size_t n = in.size();
  Array feet = pointsOut(n, 3, in.single), normals = pointsOut(n, 3, in.single);
  Array dist(static_cast<py::ssize_t>(n));
  py::array_t<int> codes(static_cast<py::ssize_t>(n));
  double *f = feet.mutable_data(), *nn = normals.mutable_data(), *dd = dist.mutable_data();
  int* c = codes.mutable_data();
  std::vector<gmInspectionFeature> features{gmInspectionFeature("", s.s, false, 0.0, 0.0)};
  if (!features[0].problem().empty()) throw std::invalid_argument(features[0].problem());
  for (int k = 1; k < workerCount(); ++k) features.push_back(features[0].clone());
  parallel(n, [&](std::size_t b, std::size_t e, int k) {
    const gmInspectionFeature& mine = features[static_cast<std::size_t>(k)];
    for (std::size_t i = b; i < e; ++i) {
      const ERPoint3D p = in[i];
      ERPoint3D foot;
      ERVector3D nrm;
      c[i] = mine.foot(p, foot, nrm);
      if (!c[i]) {
        put(f, i, kNaNPoint), put(nn, i, kNaNPoint), dd[i] = kNaN;
        continue;
      }
      // Beside the patch the offset is not along the normal: the distance, signed by the side.
      put(f, i, foot), put(nn, i, nrm);
      dd[i] = std::copysign(qorv::distance(p, foot), (p - foot) * nrm);
    }
  });
  py::dict out;
  out["feet"] = feet, out["normals"] = normals, out["distances"] = dist, out["codes"] = codes;
  return out;
}

// An unbounded analytic surface.
struct Analytic {
  t_SmartPtr<ERSurface> s;
};

py::dict projectAnalytic(const Analytic& a, const py::handle& points) {
  bool single = false;
  const std::vector<ERPoint3D> in = pointsOf<3>(points, "points", &single);
  std::vector<ERPoint3D> feet(in.size()), normals(in.size());
  std::vector<double> dist(in.size());
  std::vector<int> codes(in.size());
  const ERSurface& s = *a.s;  // closed forms: no caches, one object serves every thread
  parallel(in.size(), [&](std::size_t b, std::size_t e, int) {
    for (std::size_t i = b; i < e; ++i) {
      ERPoint3D f;
      ERVector3D n;
      codes[i] = s.ProjectionNormale(in[i], f, n);
      if (!codes[i]) {
        feet[i] = normals[i] = kNaNPoint, dist[i] = kNaN;
        continue;
      }
      feet[i] = f, normals[i] = ERPoint3D(n), dist[i] = (in[i] - f) * n;
    }
  });
  py::dict out;
  out["feet"] = shaped(feet, single), out["normals"] = shaped(normals, single);
  out["distances"] = arrayOf(dist), out["codes"] = codesOf(codes);
  return out;
}

ERVector3D unitOf(const py::handle& h, const char* what) {
  const ERVector3D v = vector3(h, what);
  const double n = v.norme();
  if (!(n > 0) || !std::isfinite(n))
    throw std::invalid_argument(std::string(what) + " must be a finite non-zero vector");
  return v * (1.0 / n);
}

Surface nurbsSurface(const py::handle& poles, const py::handle& knotsU, const py::handle& knotsV,
                     int degreeU, int degreeV, const py::object& weights) {
  const Array p = numeric(poles, "poles", "(nu, nv, 3)");
  if (p.ndim() != 3 || p.shape(2) != 3 || p.shape(0) < 2 || p.shape(1) < 2)
    throw std::invalid_argument("poles must have shape (nu, nv, 3)");
  const int nu = static_cast<int>(p.shape(0)), nv = static_cast<int>(p.shape(1));
  std::vector<double> w(static_cast<std::size_t>(nu) * static_cast<std::size_t>(nv), 1.0);
  if (!weights.is_none()) {
    const Array wa = numeric(weights, "weights", "(nu, nv)");
    if (wa.ndim() != 2 || wa.shape(0) != nu || wa.shape(1) != nv)
      throw std::invalid_argument("weights must have shape (nu, nv), as the poles");
    w.assign(wa.data(), wa.data() + wa.size());
  }
  const std::vector<double> ku = valuesOf(knotsU, "knots_u"), kv = valuesOf(knotsV, "knots_v");
  if (degreeU < 1 || degreeV < 1 || degreeU >= nu || degreeV >= nv ||
      ku.size() != static_cast<std::size_t>(nu + degreeU + 1) ||
      kv.size() != static_cast<std::size_t>(nv + degreeV + 1))
    throw std::invalid_argument(
        "knots must number poles + degree + 1 in each direction, with more poles than the degree");
  // The net's rows run along v: row j holds the poles P(i, j) for every i.
  QuickAlgebra::ERMatrix<ERPole3DH> net(nv, nu);
  for (int i = 0; i < nu; ++i)
    for (int j = 0; j < nv; ++j) {
      const double* q = p.data() + 3 * (static_cast<std::size_t>(i) * nv + j);
      const double wk = w[static_cast<std::size_t>(i) * nv + j];
      net(j, i) = ERPole3DH(q[0] * wk, q[1] * wk, q[2] * wk, wk);
    }
  t_SmartPtr<ERAnyBoundedSurface> s(
      new ERSpoleNURBS3D(net, ERKnotVector(degreeU, ku.data(), static_cast<int>(ku.size())),
                         ERKnotVector(degreeV, kv.data(), static_cast<int>(kv.size()))));
  if (!s->isValid()) throw std::invalid_argument("not a valid NURBS surface (knots, weights)");
  return {s};
}

// A closed polygon of the parameter plane as a closed pole curve of degree 1.
t_SmartPtr<ERCpoleNURBS2D> polygonLoop(const py::handle& h, const char* what) {
  std::vector<ERPoint2D> pts = pointsOf<2>(h, what);
  if (pts.size() < 3)
    throw std::invalid_argument(std::string(what) + " must have shape (n, 2) with n >= 3");
  for (const ERPoint2D& q : pts)
    if (!std::isfinite(q.x()) || !std::isfinite(q.y()))
      throw std::invalid_argument(std::string(what) + " has a point that is not finite");
  if (qorv::distance(pts.front(), pts.back()) > 0) pts.push_back(pts.front());
  const int n = static_cast<int>(pts.size());
  QuickAlgebra::ERVec<ERPole2DH> poles(n);
  std::vector<double> knots{0.0};
  for (int i = 0; i < n; ++i) {
    poles[i] =
        ERPole2DH(pts[static_cast<std::size_t>(i)].x(), pts[static_cast<std::size_t>(i)].y(), 1.0);
    knots.push_back(i);
  }
  knots.push_back(n - 1);
  return new ERCpoleNURBS2D(poles, ERKnotVector(1, knots.data(), static_cast<int>(knots.size())));
}

Surface trimmed(const Surface& base, const py::handle& outer, const py::object& holes) {
  t_SmartPtr<ERTrimmedSurface> face(new ERTrimmedSurface(*base.s));
  if (!face->addBound(*polygonLoop(outer, "outer"), ERSurfaceBoundary::OUTER))
    throw std::invalid_argument("outer is refused as an outer loop");
  if (!holes.is_none())
    for (const py::handle& h : holes)
      if (!face->addBound(*polygonLoop(h, "a hole"), ERSurfaceBoundary::INNER))
        throw std::invalid_argument("a hole is refused");
  return {t_SmartPtr<ERAnyBoundedSurface>(face.get())};
}

}  // namespace

void bindSurfaces(py::module_& m) {
  py::class_<Surface> surface(
      m, "Surface", "A bounded surface: evaluation, projection and nearest points in bulk.");
  surface
      .def("evaluate", &surfaceEvaluate, py::arg("u"), py::arg("v"),
           "Points (n, 3) and unit normals (n, 3) at the parameters.")
      .def("PtCur", &surfaceEvaluate, py::arg("u"), py::arg("v"), "Alias of evaluate.")
      .def(
          "project", &project, py::arg("points"),
          "The perpendicular foot of each point within the limits: feet, parameters (n, 2), signed "
          "distances along the normal and codes (1 a foot, 0 none: on an axis, or its foot outside "
          "the limits; then NaN).")
      .def("ProjectionNormale", &project, py::arg("points"), "Alias of project.")
      .def("nearest", &surfaceNearest, py::arg("points"),
           "The global nearest point of the bounded surface for each point (the foot inside the "
           "limits, else a point of the border): feet, unit normals, distances signed by the side "
           "of the normal and codes (0 where no single nearest point exists, e.g. on an axis).")
      .def_property_readonly(
          "u_limits", [](const Surface& s) { return Limits(s.s->udeb(), s.s->ufin()); },
          "The u limits.")
      .def_property_readonly(
          "v_limits", [](const Surface& s) { return Limits(s.s->vdeb(), s.s->vfin()); },
          "The v limits.")
      .def(
          "box",
          [](const Surface& s) {
            const ERMinimax3D b = s.s->getBox();
            return py::make_tuple(arrayOf(b.MinPoint()), arrayOf(b.MaxPoint()));
          },
          "The corners of a box that holds the surface.");
  describeWith(surface, [](const Surface& s) -> const ERObject& { return *s.s; });

  m.def(
      "BoundedPlane",
      [](const Transform& frame, Limits u, Limits v) {
        return Surface{new ERBoundedPlane(frame.isometry(), limits(u, "u"), limits(v, "v"))};
      },
      py::arg("frame"), py::arg("u"), py::arg("v"), "S(u, v) = frame * (u, v, 0) over the limits.");
  m.def(
      "BoundedCylinder",
      [](const Transform& frame, double halfHeight, double radius, Limits angles) {
        positive(halfHeight, "half_height"), positive(radius, "radius"),
            qorv::python::angles(angles, "angles");
        return Surface{new ERBoundedCylinder(frame.isometry(), halfHeight, radius,
                                             ERRadian(angles.first), ERRadian(angles.second))};
      },
      py::arg("frame"), py::arg("half_height"), py::arg("radius"),
      py::arg("angles") = Limits(0, 2 * kPi),
      "S(u, v) = frame * (R cos v, R sin v, u), u in [-half_height, half_height]; its normal "
      "points to the axis.");
  m.def(
      "BoundedCone",
      [](const Transform& frame, double halfAngle, Limits heights) {
        if (!(halfAngle > 0 && halfAngle < kPi / 2))
          throw std::invalid_argument("half_angle must lie in (0, pi/2)");
        limits(heights, "heights");
        return Surface{new ERBoundedCone(frame.isometry(), ERRadian(halfAngle), heights.first,
                                         heights.second)};
      },
      py::arg("frame"), py::arg("half_angle"), py::arg("heights"),
      "S(u, v) = frame * (u tan a cos v, u tan a sin v, u).");
  m.def(
      "BoundedSphere",
      [](const Transform& frame, double radius, Limits u, Limits v) {
        positive(radius, "radius");
        if (v.first < -kPi / 2 || v.second > kPi / 2)
          throw std::invalid_argument("latitude must lie in [-pi/2, pi/2]");
        return Surface{new ERBoundedSphere(frame.isometry(), radius, angles(u, "longitude"),
                                           limits(v, "latitude"))};
      },
      py::arg("frame"), py::arg("radius"), py::arg("longitude") = Limits(0, 2 * kPi),
      py::arg("latitude") = Limits(-kPi / 2, kPi / 2),
      "S(u, v) = frame * R (cos v cos u, cos v sin u, sin v).");
  m.def(
      "BoundedTorus",
      [](const Transform& frame, double R, double r, Limits u, Limits v) {
        positive(R, "major_radius"), positive(r, "minor_radius");
        return Surface{new ERBoundedTorus(frame.isometry(), R, r, angles(u, "u"), angles(v, "v"))};
      },
      py::arg("frame"), py::arg("major_radius"), py::arg("minor_radius"),
      py::arg("u") = Limits(0, 2 * kPi), py::arg("v") = Limits(-kPi, kPi),
      "S(u, v) = frame * ((R + r cos v) cos u, (R + r cos v) sin u, r sin v).");
  m.def("TrimmedSurface", &trimmed, py::arg("base"), py::arg("outer"),
        py::arg("holes") = py::none(),
        "A trimmed face: the bounded surface base restricted to the polygon outer (n, 2) of its "
        "parameters, less the polygons holes (a list of (n, 2)); a point of a loop belongs to the "
        "face. nearest gives the face's global nearest point, on a loop when the base's foot is "
        "outside the face.");
  m.def(
      "SurfaceOfRevolution",
      [](const Curve<3>& generatrix, const py::handle& point, const py::handle& direction,
         Limits angles) {
        t_SmartPtr<ERFiniteEntity3DWF> g(
            dynamic_cast<ERFiniteEntity3DWF*>(generatrix.c->getCopy()));
        const ERInfLine3D axis(unitOf(direction, "direction"), point3(point, "point"));
        return Surface{t_SmartPtr<ERAnyBoundedSurface>(
            new ERSurOfRevolution(g, axis, qorv::python::angles(angles, "angles")))};
      },
      py::arg("generatrix"), py::arg("point"), py::arg("direction"),
      py::arg("angles") = Limits(0, 2 * kPi),
      "The generatrix turned about the axis through point along direction (right-handed), u the "
      "generatrix's parameter, v the angle.");
  m.def(
      "NurbsSurface", &nurbsSurface, py::arg("poles"), py::arg("knots_u"), py::arg("knots_v"),
      py::arg("degree_u"), py::arg("degree_v"), py::arg("weights") = py::none(),
      "A NURBS surface: poles (nu, nv, 3) with poles[i, j] the pole i along u and j along v, knots "
      "(nu + degree_u + 1) and (nv + degree_v + 1), weights (nu, nv). Its limits are the knot "
      "domains.");

  py::class_<Analytic> analytic(m, "AnalyticSurface",
                                "An unbounded plane, cylinder, cone, sphere or torus.");
  analytic
      .def("project", &projectAnalytic, py::arg("points"),
           "The nearest foot of each point: feet, unit normals, signed distances along the normal, "
           "codes (0 where no single foot exists: on an axis, at a centre; then NaN).")
      .def("ProjectionNormale", &projectAnalytic, py::arg("points"), "Alias of project.");
  describeWith(analytic, [](const Analytic& a) -> const ERObject& { return *a.s; });
  m.def(
      "Plane",
      [](const py::handle& p, const py::handle& n) {
        return Analytic{new ERPlane(point3(p, "point"), unitOf(n, "normal"))};
      },
      py::arg("point"), py::arg("normal"), "The plane through point with the given normal.");
  m.def(
      "Cylinder",
      [](const py::handle& p, const py::handle& d, double r) {
        positive(r, "radius");
        return Analytic{new ERCylinder(ERInfLine3D(unitOf(d, "direction"), point3(p, "point")), r)};
      },
      py::arg("point"), py::arg("direction"), py::arg("radius"),
      "The cylinder of radius about the line through point.");
  m.def(
      "Cone",
      [](const py::handle& apex, const py::handle& d, double halfAngle) {
        if (!(halfAngle > 0 && halfAngle < kPi / 2))
          throw std::invalid_argument("half_angle must lie in (0, pi/2)");
        return Analytic{new ERCone(point3(apex, "apex"), unitOf(d, "direction"), halfAngle)};
      },
      py::arg("apex"), py::arg("direction"), py::arg("half_angle"),
      "The cone (one nappe towards direction and the other).");
  m.def(
      "Sphere",
      [](const py::handle& c, double r) {
        positive(r, "radius");
        return Analytic{new ERSphere(point3(c, "centre"), r)};
      },
      py::arg("centre"), py::arg("radius"), "The sphere.");
  m.def(
      "Torus",
      [](const py::handle& c, const py::handle& axis, double R, double r) {
        positive(R, "major_radius"), positive(r, "minor_radius");
        return Analytic{new ERTorus(R, r, unitOf(axis, "axis"), point3(c, "centre"))};
      },
      py::arg("centre"), py::arg("axis"), py::arg("major_radius"), py::arg("minor_radius"),
      "The torus about axis.");
}

}  // namespace qorv::python
