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

template <int D>
void bindPoint(py::module_& m, const char* name, const char* doc) {
  using P = PointOf<D>;
  using V = VectorOf<D>;
  bindValue<D, P>(m, name, doc)
      .def(
          "__sub__", [](const P& a, const P& b) { return V(a - b); }, "The vector from b to a.")
      .def(
          "__add__", [](const P& a, const V& v) { return P(a + v); }, "The point moved by v.")
      .def(
          "distance", [](const P& a, const P& b) { return qorv::distance(a, b); }, py::arg("other"),
          "The distance.");
}

template <int D>
py::class_<VectorOf<D>> bindVector(py::module_& m, const char* name, const char* doc) {
  using V = VectorOf<D>;
  auto c = bindValue<D, V>(m, name, doc);
  c.def("__add__", [](const V& a, const V& b) { return V(a + b); })
      .def("__sub__", [](const V& a, const V& b) { return V(a - b); })
      .def(
          "__mul__", [](const V& a, double k) { return V(a * k); }, "Scaled by k.")
      .def(
          "__rmul__", [](const V& a, double k) { return V(a * k); }, "Scaled by k.")
      .def("__neg__", [](const V& a) { return V(-a); })
      .def(
          "dot", [](const V& a, const V& b) { return a * b; }, py::arg("other"), "The dot product.")
      .def(
          "norm", [](const V& a) { return a.norme(); }, "The length.")
      .def(
          "normalized", [](const V& a) { return a.getnormalized(); },
          "The unit vector (zero stays zero).");
  return c;
}

}  // namespace

void bindValues(py::module_& m) {
  bindPoint<2>(m, "Point2D", "A point of the plane.");
  bindPoint<3>(m, "Point3D", "A point of space.");
  bindVector<2>(m, "Vector2D", "A vector of the plane.");
  bindVector<3>(m, "Vector3D", "A vector of space.")
      .def(
          "cross", [](const ERVector3D& a, const ERVector3D& b) { return ERVector3D(a ^ b); },
          py::arg("other"), "The cross product.");
}

}  // namespace qorv::python
