// Points and vectors as Python values: built from numbers or arrays, back to numpy with
// numpy.asarray(v), the library's arithmetic and print forms.
#include <cmath>

#include "python/module.h"

namespace qorv::python {
namespace {

template <int D, class T>
T fromArgs(const py::args& args) {
  if (args.size() == D) {
    double c[3] = {0, 0, 0};
    for (int k = 0; k < D; ++k) c[k] = args[static_cast<std::size_t>(k)].cast<double>();
    return T(makePoint<D>(c));
  }
  if (args.size() == 1) return T(pointOf<D>(args[0], "value"));
  throw std::invalid_argument("expected " + std::to_string(D) + " numbers or an array of shape (" +
                              std::to_string(D) + ",)");
}

template <int D, class T>
py::str printed(const T& v) {
  std::ostringstream s;
  s << v;
  const std::string t = s.str();
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeLatin1(t.data(), static_cast<Py_ssize_t>(t.size()), nullptr));
}

template <int D, class T>
py::class_<T> bindValue(py::module_& m, const char* name, const char* doc) {
  py::class_<T> c(m, name, doc);
  c.def(py::init(&fromArgs<D, T>), D == 2 ? "From its coordinates, or from an array of shape (2,)."
                                          : "From its coordinates, or from an array of shape (3,).")
      .def_property_readonly(
          "x", [](const T& v) { return v.x(); }, "The x coordinate.")
      .def_property_readonly(
          "y", [](const T& v) { return v.y(); }, "The y coordinate.")
      .def(
          "numpy", [](const T& v) { return arrayOf(PointOf<D>(v)); },
          "The coordinates as a numpy array.")
      .def(
          "__array__",
          [](const T& v, const py::object&, const py::object&) { return arrayOf(PointOf<D>(v)); },
          py::arg("dtype") = py::none(), py::arg("copy") = py::none(), "numpy.asarray support.")
      .def("__len__", [](const T&) { return D; })
      .def(
          "__getitem__",
          [](const T& v, int k) {
            if (k < 0) k += D;
            if (k < 0 || k >= D) throw py::index_error("coordinate index out of range");
            const PointOf<D> p(v);
            if constexpr (D == 3)
              if (k == 2) return p.z();
            return k == 0 ? p.x() : p.y();
          },
          "A coordinate.")
      .def("__eq__", [](const T& a, const T& b) { return a == b; })
      .def("__repr__", &printed<D, T>, "The print form.");
  if constexpr (D == 3)
    c.def_property_readonly(
        "z", [](const T& v) { return v.z(); }, "The z coordinate.");
  return c;
}

}  // namespace

void bindValues(py::module_& m) {
  using P2 = ERPoint2D;
  using P3 = ERPoint3D;
  using V2 = ERVector2D;
  using V3 = ERVector3D;
  bindValue<2, P2>(m, "Point2D", "A point of the plane.")
      .def(
          "__sub__", [](const P2& a, const P2& b) { return V2(a - b); }, "The vector from b to a.")
      .def(
          "__add__", [](const P2& a, const V2& v) { return P2(a + v); }, "The point moved by v.")
      .def(
          "distance", [](const P2& a, const P2& b) { return qorv::distance(a, b); },
          py::arg("other"), "The distance.");
  bindValue<3, P3>(m, "Point3D", "A point of space.")
      .def(
          "__sub__", [](const P3& a, const P3& b) { return V3(a - b); }, "The vector from b to a.")
      .def(
          "__add__", [](const P3& a, const V3& v) { return P3(a + v); }, "The point moved by v.")
      .def(
          "distance", [](const P3& a, const P3& b) { return qorv::distance(a, b); },
          py::arg("other"), "The distance.");
  bindValue<2, V2>(m, "Vector2D", "A vector of the plane.")
      .def("__add__", [](const V2& a, const V2& b) { return V2(a + b); })
      .def("__sub__", [](const V2& a, const V2& b) { return V2(a - b); })
      .def(
          "__mul__", [](const V2& a, double k) { return V2(a * k); }, "Scaled by k.")
      .def(
          "__rmul__", [](const V2& a, double k) { return V2(a * k); }, "Scaled by k.")
      .def("__neg__", [](const V2& a) { return V2(-a); })
      .def(
          "dot", [](const V2& a, const V2& b) { return a * b; }, py::arg("other"),
          "The dot product.")
      .def(
          "norm", [](const V2& a) { return a.norme(); }, "The length.")
      .def(
          "normalized", [](const V2& a) { return a.getnormalized(); },
          "The unit vector (zero stays zero).");
  bindValue<3, V3>(m, "Vector3D", "A vector of space.")
      .def("__add__", [](const V3& a, const V3& b) { return V3(a + b); })
      .def("__sub__", [](const V3& a, const V3& b) { return V3(a - b); })
      .def(
          "__mul__", [](const V3& a, double k) { return V3(a * k); }, "Scaled by k.")
      .def(
          "__rmul__", [](const V3& a, double k) { return V3(a * k); }, "Scaled by k.")
      .def("__neg__", [](const V3& a) { return V3(-a); })
      .def(
          "dot", [](const V3& a, const V3& b) { return a * b; }, py::arg("other"),
          "The dot product.")
      .def(
          "cross", [](const V3& a, const V3& b) { return V3(a ^ b); }, py::arg("other"),
          "The cross product.")
      .def(
          "norm", [](const V3& a) { return a.norme(); }, "The length.")
      .def(
          "normalized", [](const V3& a) { return a.getnormalized(); },
          "The unit vector (zero stays zero).");
}

}  // namespace qorv::python
