// Curves from Python: every finite curve in its exact NURBS form (so one evaluator and one
// global nearest point serve them all), and infinite lines in closed form.
#include <array>
#include <cmath>
#include <numbers>

#include "python/module.h"
#include "qorv/curves/planar_shapes.h"

namespace qorv::python {
namespace {

template <int D>
Array evaluate(const Curve<D>& c, const py::handle& t) {
  const std::vector<double> ts = valuesOf(t, "t");
  std::vector<PointOf<D>> out(ts.size());
  const auto copies = copiesOf(c.c);
  parallel(ts.size(), [&](std::size_t b, std::size_t e, int k) {
    for (std::size_t i = b; i < e; ++i) out[i] = (*copies[static_cast<std::size_t>(k)])(ts[i]);
  });
  return arrayOf(out);
}

template <int D>
py::dict nearest(const Curve<D>& c, const py::handle& points) {
  bool single = false;
  const std::vector<PointOf<D>> in = pointsOf<D>(points, "points", &single);
  std::vector<PointOf<D>> feet(in.size());
  std::vector<double> params(in.size()), dist(in.size());
  py::array_t<int> codes(static_cast<py::ssize_t>(in.size()));
  int* code = codes.mutable_data();
  const auto copies = copiesOf(c.c);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  parallel(in.size(), [&](std::size_t b, std::size_t e, int k) {
    const auto& mine = *copies[static_cast<std::size_t>(k)];
    for (std::size_t i = b; i < e; ++i) {
      double u = 0;
      dist[i] = mine.nearest(in[i], u);
      params[i] = u, feet[i] = mine(u), code[i] = std::isfinite(dist[i]) ? 1 : 0;
      if (!code[i])
        params[i] = dist[i] = nan,
        feet[i] = makePoint<D>(std::array<double, 3>{nan, nan, nan}.data());
    }
  });
  py::dict out;
  out["feet"] = shaped(feet, single), out["parameters"] = arrayOf(params),
  out["distances"] = arrayOf(dist), out["codes"] = codes;
  return out;
}

template <int D>
Curve<D> fromFinite(const std::conditional_t<D == 2, ERFiniteEntity2DWF, ERFiniteEntity3DWF>& e) {
  using Nurbs = typename Curve<D>::Nurbs;
  auto n = e.ConvertToNurbs();
  Nurbs* c = n ? dynamic_cast<Nurbs*>(n.get()) : nullptr;
  if (c == nullptr) throw std::invalid_argument("the curve has no NURBS form (degenerate)");
  return {t_SmartPtr<Nurbs>(c)};
}

template <int D>
Curve<D> nurbsCurve(const py::handle& poles, const py::handle& knots, int degree,
                    const py::object& weights) {
  using Nurbs = typename Curve<D>::Nurbs;
  using Pole = std::conditional_t<D == 2, ERPole2DH, ERPole3DH>;
  const std::vector<PointOf<D>> p = pointsOf<D>(poles, "poles");
  const std::vector<double> k = valuesOf(knots, "knots");
  std::vector<double> w(p.size(), 1.0);
  if (!weights.is_none()) {
    w = valuesOf(weights, "weights");
    if (w.size() != p.size())
      throw std::invalid_argument("weights must have shape (n,): one per pole");
  }
  if (degree < 1 || p.size() < static_cast<std::size_t>(degree) + 1 ||
      k.size() != p.size() + static_cast<std::size_t>(degree) + 1)
    throw std::invalid_argument(
        "knots must number poles + degree + 1, with more poles than the degree");
  QuickAlgebra::ERVec<Pole> h(static_cast<int>(p.size()));
  for (std::size_t i = 0; i < p.size(); ++i) {
    if constexpr (D == 2)
      h[static_cast<int>(i)] = ERPole2DH(p[i].x() * w[i], p[i].y() * w[i], w[i]);
    else
      h[static_cast<int>(i)] = ERPole3DH(p[i].x() * w[i], p[i].y() * w[i], p[i].z() * w[i], w[i]);
  }
  t_SmartPtr<Nurbs> c(new Nurbs(h, ERKnotVector(degree, k.data(), static_cast<int>(k.size()))));
  if (!c->isValid()) throw std::invalid_argument("not a valid NURBS curve (knots, weights)");
  return {c};
}

// An infinite line p + t d, d of unit length.
template <int D>
struct Line {
  PointOf<D> p;
  VectorOf<D> d;
};

template <int D>
Line<D> line(const py::handle& point, const py::handle& direction) {
  const PointOf<D> p = pointOf<D>(point, "point");
  const VectorOf<D> d(pointOf<D>(direction, "direction"));
  const double n = d.norme();
  if (!(n > 0) || !std::isfinite(n))
    throw std::invalid_argument("direction must be a finite non-zero vector");
  return {p, d * (1.0 / n)};
}

template <int D>
void bindCurve(py::module_& m, const char* name, const char* doc) {
  py::class_<Curve<D>> c(m, name, doc);
  c.def("evaluate", &evaluate<D>, py::arg("t"),
        "Points at the parameters t (any shape, flattened).")
      .def("__call__", &evaluate<D>, py::arg("t"), "Alias of evaluate.")
      .def("nearest", &nearest<D>, py::arg("points"),
           "The global nearest point of each point over the parameter limits: a dict of feet, "
           "parameters, distances and codes (1; 0 and NaN for a point that is not finite).")
      .def("ProjectPoint", &nearest<D>, py::arg("points"), "Alias of nearest.")
      .def_property_readonly(
          "limits", [](const Curve<D>& c) { return std::make_pair(c.c->udeb(), c.c->ufin()); },
          "The parameter limits (start, end).")
      .def_property_readonly(
          "degree", [](const Curve<D>& c) { return c.c->degree(); }, "The degree.")
      .def(
          "length", [](const Curve<D>& c, double tol) { return c.c->arcLength(tol); },
          py::arg("tol") = 1e-9, "The arc length over the limits.");
  describeWith(c, [](const Curve<D>& k) -> const ERObject& { return *k.c; });
}

template <int D>
void bindLine(py::module_& m, const char* name) {
  py::class_<Line<D>>(m, name, "An infinite line p + t d (d of unit length).")
      .def(py::init(&line<D>), py::arg("point"), py::arg("direction"),
           "The line through point along direction.")
      .def_property_readonly(
          "point", [](const Line<D>& l) { return arrayOf(l.p); }, "Its point at t = 0.")
      .def_property_readonly(
          "direction", [](const Line<D>& l) { return arrayOf(PointOf<D>(l.d)); },
          "Its unit direction.")
      .def(
          "evaluate",
          [](const Line<D>& l, const py::handle& t) {
            const std::vector<double> ts = valuesOf(t, "t");
            std::vector<PointOf<D>> out(ts.size());
            for (std::size_t i = 0; i < ts.size(); ++i) out[i] = l.p + l.d * ts[i];
            return arrayOf(out);
          },
          py::arg("t"), "Points at the parameters t.")
      .def(
          "nearest",
          [](const Line<D>& l, const py::handle& points) {
            bool single = false;
            const std::vector<PointOf<D>> in = pointsOf<D>(points, "points", &single);
            std::vector<PointOf<D>> feet(in.size());
            std::vector<double> t(in.size()), dist(in.size());
            for (std::size_t i = 0; i < in.size(); ++i) {
              t[i] = (in[i] - l.p) * l.d, feet[i] = l.p + l.d * t[i];
              dist[i] = qorv::distance(in[i], feet[i]);
            }
            py::dict out;
            out["feet"] = shaped(feet, single), out["parameters"] = arrayOf(t),
            out["distances"] = arrayOf(dist);
            return out;
          },
          py::arg("points"),
          "The foot of the perpendicular from each point: feet, parameters, distances.");
}

}  // namespace

void bindCurves(py::module_& m) {
  bindCurve<3>(m, "Curve",
               "A curve in space in its exact NURBS form: evaluation and nearest points in bulk.");
  bindCurve<2>(m, "Curve2D",
               "A plane curve in its exact NURBS form: evaluation and nearest points in bulk.");
  bindLine<3>(m, "Line");
  bindLine<2>(m, "Line2D");
  constexpr double kTurn = 2 * std::numbers::pi;

  m.def("NurbsCurve", &nurbsCurve<3>, py::arg("poles"), py::arg("knots"), py::arg("degree"),
        py::arg("weights") = py::none(),
        "A NURBS curve from poles (n, 3), knots (n + degree + 1) and weights (n,).");
  m.def("NurbsCurve2D", &nurbsCurve<2>, py::arg("poles"), py::arg("knots"), py::arg("degree"),
        py::arg("weights") = py::none(),
        "A plane NURBS curve from poles (n, 2), knots and weights.");
  m.def(
      "outline_distances",
      [](const py::handle& outline, const py::handle& points) {
        const std::vector<ERPoint2D> v = pointsOf<2>(outline, "outline");
        bool single = false;
        const std::vector<ERPoint2D> p = pointsOf<2>(points, "points", &single);
        QuickAlgebra::ERVec<ERPoint2D> verts;
        for (const ERPoint2D& q : v) verts.append(q);
        std::vector<double> xy(2 * p.size()), d(p.size());
        for (std::size_t i = 0; i < p.size(); ++i) xy[2 * i] = p[i].x(), xy[2 * i + 1] = p[i].y();
        parallel(p.size(), [&](std::size_t b, std::size_t e, int) {
          qorv::Distances(verts, xy.data() + 2 * b, e - b, d.data() + b);
        });
        return arrayOf(d);
      },
      py::arg("outline"), py::arg("points"),
      "Distances of points (n, 2) to the closed outline through the vertices (m, 2): the least "
      "distance to its edges, NaN for a point that is not finite or an empty outline.");
  m.def(
      "Segment",
      [](const py::handle& a, const py::handle& b) {
        return fromFinite<3>(ERSegment3D(point3(a, "start"), point3(b, "end")));
      },
      py::arg("start"), py::arg("end"), "A straight segment, parameter in [0, 1].");
  m.def(
      "Segment2D",
      [](const py::handle& a, const py::handle& b) {
        return fromFinite<2>(ERSegment2D(pointOf<2>(a, "start"), pointOf<2>(b, "end")));
      },
      py::arg("start"), py::arg("end"), "A plane segment, parameter in [0, 1].");
  m.def(
      "Arc",
      [](const py::handle& centre, const py::handle& normal, double radius, double start,
         double end) {
        return fromFinite<3>(ERArc3D(point3(centre, "centre"), vector3(normal, "normal"), radius,
                                     ERRadian(start), ERRadian(end)));
      },
      py::arg("centre"), py::arg("normal"), py::arg("radius"), py::arg("start"), py::arg("end"),
      "A circular arc from angle start to end (radians, counter-clockwise about normal); the "
      "parameter is the angle.");
  m.def(
      "Circle",
      [=](const py::handle& centre, const py::handle& normal, double radius) {
        return fromFinite<3>(ERArc3D(point3(centre, "centre"), vector3(normal, "normal"), radius,
                                     ERRadian(0.0), ERRadian(kTurn)));
      },
      py::arg("centre"), py::arg("normal"), py::arg("radius"),
      "A full circle, parameter the angle in [0, 2 pi].");
  m.def(
      "Arc2D",
      [](const py::handle& centre, double radius, double start, double end) {
        return fromFinite<2>(
            ERArc2D(pointOf<2>(centre, "centre"), radius, ERRadian(start), ERRadian(end)));
      },
      py::arg("centre"), py::arg("radius"), py::arg("start"), py::arg("end"),
      "A plane circular arc from angle start to end (radians, counter-clockwise); the parameter is "
      "the angle.");
  m.def(
      "Circle2D",
      [=](const py::handle& centre, double radius) {
        return fromFinite<2>(
            ERArc2D(pointOf<2>(centre, "centre"), radius, ERRadian(0.0), ERRadian(kTurn)));
      },
      py::arg("centre"), py::arg("radius"),
      "A full plane circle, parameter the angle in [0, 2 pi].");
  m.def(
      "Ellipse2D",
      [=](const py::handle& centre, double a, double b, double angle, double start, double end) {
        if (!(a > 0) || !(b > 0)) throw std::invalid_argument("the semi-axes must be positive");
        return fromFinite<2>(ERArcEllipse2D(a, b, angle, pointOf<2>(centre, "centre"),
                                            ERRadian(start), ERRadian(end)));
      },
      py::arg("centre"), py::arg("a"), py::arg("b"), py::arg("angle") = 0.0, py::arg("start") = 0.0,
      py::arg("end") = kTurn,
      "An elliptic arc: semi-axes a (turned by angle from x) and b, between the central angles "
      "start and end.");
  m.def(
      "Ellipse",
      [=](const Transform& frame, double a, double b, double start, double end) {
        if (!(a > 0) || !(b > 0)) throw std::invalid_argument("the semi-axes must be positive");
        return fromFinite<3>(ERArcEllipse3D(frame.isometry(),
                                            EREllipse2D(a, b, 0.0, ERPoint2D(0, 0)),
                                            ERRadian(start), ERRadian(end)));
      },
      py::arg("frame"), py::arg("a"), py::arg("b"), py::arg("start") = 0.0, py::arg("end") = kTurn,
      "An elliptic arc in the xy plane of frame (a Transform): semi-axes a along x and b along y.");
}

}  // namespace qorv::python
