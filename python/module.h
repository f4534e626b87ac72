// Shared pieces of the qorv Python module: array conversion with the shape checks every call
// makes, the worker pool of the bulk calls, and the wrapped geometry the parts hand each other.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "qorv/qorv.h"

namespace qorv::python {

namespace py = pybind11;
using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Raised as OSError.
struct OsError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A float64 C-contiguous copy of a numeric array-like; ValueError naming the expected shape for
// anything else (strings, objects, complex numbers, booleans).
inline Array numeric(const py::handle& h, const std::string& what, const std::string& shape) {
  py::array a = py::array::ensure(h);
  if (!a) throw std::invalid_argument(what + " must be an array of numbers of shape " + shape);
  const char kind = a.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u')
    throw std::invalid_argument(what + " must be an array of numbers of shape " + shape +
                                ", not of dtype " + std::string(py::str(a.dtype())));
  return Array::ensure(a);
}

template <int D>
using PointOf = std::conditional_t<D == 2, ERPoint2D, ERPoint3D>;
template <int D>
using VectorOf = std::conditional_t<D == 2, ERVector2D, ERVector3D>;

inline std::string pointShape(int d) { return d == 2 ? "(n, 2)" : "(n, 3)"; }

template <int D>
PointOf<D> makePoint(const double* d) {
  if constexpr (D == 2)
    return ERPoint2D(d[0], d[1]);
  else
    return ERPoint3D(d[0], d[1], d[2]);
}

// (n, D) or one point (D,); single says which it was.
template <int D>
std::vector<PointOf<D>> pointsOf(const py::handle& h, const char* what, bool* single = nullptr) {
  const Array a = numeric(h, what, pointShape(D) + " or (" + std::to_string(D) + ",)");
  const bool one = a.ndim() == 1 && a.shape(0) == D;
  if (single) *single = one;
  if (!one && (a.ndim() != 2 || a.shape(1) != D))
    throw std::invalid_argument(std::string(what) + " must have shape " + pointShape(D) + " or (" +
                                std::to_string(D) + ",)");
  const std::size_t n = one ? 1 : static_cast<std::size_t>(a.shape(0));
  std::vector<PointOf<D>> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = makePoint<D>(a.data() + D * i);
  return out;
}

// Points read in place from the caller's array (kept alive here): no copy for float64 C order.
template <int D>
struct PointsView {
  Array keep;
  const double* d = nullptr;
  std::size_t n = 0;
  bool single = false;
  PointOf<D> operator[](std::size_t i) const { return makePoint<D>(d + D * i); }
  std::size_t size() const { return n; }
};

template <int D>
PointsView<D> pointsView(const py::handle& h, const char* what) {
  PointsView<D> v;
  v.keep = numeric(h, what, pointShape(D) + " or (" + std::to_string(D) + ",)");
  v.single = v.keep.ndim() == 1 && v.keep.shape(0) == D;
  if (!v.single && (v.keep.ndim() != 2 || v.keep.shape(1) != D))
    throw std::invalid_argument(std::string(what) + " must have shape " + pointShape(D) + " or (" +
                                std::to_string(D) + ",)");
  v.n = v.single ? 1 : static_cast<std::size_t>(v.keep.shape(0));
  v.d = v.keep.data();
  return v;
}

// An output array of n points (or one point of shape (D,)), written in place by the workers.
inline Array pointsOut(std::size_t n, int d, bool single) {
  if (single) return Array(py::ssize_t{d});
  return Array({static_cast<py::ssize_t>(n), py::ssize_t{d}});
}
inline void put(double* out, std::size_t i, const ERPoint3D& p) {
  out[3 * i] = p.x(), out[3 * i + 1] = p.y(), out[3 * i + 2] = p.z();
}
inline void put(double* out, std::size_t i, const ERVector3D& v) {
  out[3 * i] = v.x(), out[3 * i + 1] = v.y(), out[3 * i + 2] = v.z();
}

template <int D>
PointOf<D> pointOf(const py::handle& h, const char* what) {
  const Array a = numeric(h, what, "(" + std::to_string(D) + ",)");
  if (a.ndim() != 1 || a.shape(0) != D)
    throw std::invalid_argument(std::string(what) + " must have shape (" + std::to_string(D) +
                                ",)");
  return makePoint<D>(a.data());
}

inline ERPoint3D point3(const py::handle& h, const char* what) { return pointOf<3>(h, what); }
inline ERVector3D vector3(const py::handle& h, const char* what) {
  return ERVector3D(pointOf<3>(h, what));
}

// Any shape, flattened in C order.
inline std::vector<double> valuesOf(const py::handle& h, const char* what) {
  const Array a = numeric(h, what, "(n,)");
  return std::vector<double>(a.data(), a.data() + a.size());
}

template <class P>
Array arrayOf(const std::vector<P>& p) {
  constexpr int D = std::is_same_v<P, ERPoint2D> ? 2 : 3;
  Array out({static_cast<py::ssize_t>(p.size()), py::ssize_t{D}});
  double* d = out.mutable_data();
  for (std::size_t i = 0; i < p.size(); ++i) {
    d[D * i] = p[i].x(), d[D * i + 1] = p[i].y();
    if constexpr (D == 3) d[D * i + 2] = p[i].z();
  }
  return out;
}
inline Array arrayOf(const std::vector<double>& v) {
  Array out(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), out.mutable_data());
  return out;
}
inline Array arrayOf(const ERPoint3D& p) {
  Array out(py::ssize_t{3});
  double* d = out.mutable_data();
  d[0] = p.x(), d[1] = p.y(), d[2] = p.z();
  return out;
}
inline Array arrayOf(const ERPoint2D& p) {
  Array out(py::ssize_t{2});
  double* d = out.mutable_data();
  d[0] = p.x(), d[1] = p.y();
  return out;
}
// One point back as (D,) when one came in, else (n, D).
template <class P>
py::object shaped(const std::vector<P>& p, bool single) {
  if (single) return arrayOf(p[0]);
  return arrayOf(p);
}

inline int workerCount() {
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// f(begin, end, worker) over [0, n) on up to every core, without the GIL.
inline void parallel(std::size_t n, const std::function<void(std::size_t, std::size_t, int)>& f) {
  py::gil_scoped_release release;
  const int t = static_cast<int>(
      std::clamp<std::size_t>(n / 2048, 1, static_cast<std::size_t>(workerCount())));
  const auto at = [&](int k) {
    return n * static_cast<std::size_t>(k) / static_cast<std::size_t>(t);
  };
  std::vector<std::thread> pool;
  for (int k = 1; k < t; ++k) pool.emplace_back(f, at(k), at(k + 1), k);
  f(0, at(1), 0);
  for (std::thread& th : pool) th.join();
}

// The library's print form, decoded from Latin-1.
inline py::str printForm(const ERObject& o) {
  std::ostringstream s;
  o.printOn(s);
  const std::string t = s.str();
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeLatin1(t.data(), static_cast<Py_ssize_t>(t.size()), nullptr));
}

// class_name and __repr__ (the print form) of a wrapper whose object get(w) returns.
template <class W, class Get>
void describeWith(py::class_<W>& c, Get get) {
  c.def_property_readonly(
       "class_name", [get](const W& w) { return std::string(get(w).className()); },
       "The kernel's class name.")
      .def(
          "__repr__", [get](const W& w) { return printForm(get(w)); }, "The print form.");
}

// Copies for the workers: entities keep caches that one thread at a time may fill.
template <class T>
std::vector<t_SmartPtr<T>> copiesOf(const t_SmartPtr<T>& o) {
  std::vector<t_SmartPtr<T>> c{o};
  for (int k = 1; k < workerCount(); ++k) c.emplace_back(dynamic_cast<T*>(o->getCopy()));
  return c;
}

// ---------------------------------------------------------------------------------------------
// Transformations: a similitude (an isometry when the scale is 1).

struct Transform {
  ERPmSimilitude3D t;

  static Transform frame(const py::handle& origin, const py::handle& zAxis,
                         const py::object& xAxis) {
    const ERPoint3D o = point3(origin, "origin");
    const ERVector3D z = vector3(zAxis, "z_axis");
    if (!(z.norme() > 0)) throw std::invalid_argument("z_axis must not be zero");
    if (xAxis.is_none()) return {ERChgRepere3D(z, o)};
    const ERVector3D x = vector3(xAxis, "x_axis"), zn = z.getnormalized();
    const ERVector3D across = x - (x * zn) * zn;
    if (!(across.norme() > 1e-12 * x.norme()))
      throw std::invalid_argument("x_axis is parallel to z_axis");
    return {ERChgRepere3D(across, zn ^ across, o)};
  }
  static Transform rotation(const py::handle& axis, double angle, const py::object& centre) {
    const ERVector3D k = vector3(axis, "axis").getnormalized();
    if (!(k.norme() > 0)) throw std::invalid_argument("axis must not be zero");
    auto turn = [&](const ERVector3D& v) {
      return std::cos(angle) * v + std::sin(angle) * (k ^ v) +
             ((1 - std::cos(angle)) * (k * v)) * k;
    };
    const ERPoint3D c = centre.is_none() ? ERPoint3D() : point3(centre, "centre");
    const ERVector3D cv(c.x(), c.y(), c.z());
    const ERVector3D o = cv - turn(cv);
    return {ERChgRepere3D(turn(ERVector3D(1, 0, 0)), turn(ERVector3D(0, 1, 0)),
                          ERPoint3D(o.x(), o.y(), o.z()))};
  }
  static Transform translation(const py::handle& v) {
    return {ERChgRepere3D(ERVector3D(1, 0, 0), ERVector3D(0, 1, 0), point3(v, "vector"))};
  }
  static Transform scaling(double k) { return {ERPmSimilitude3D(_ERScaling3D(k))}; }

  // As an isometry (axes normalised), for placements.
  ERPmIsometrie3D isometry() const {
    return ERChgRepere3D((t >> ERVector3D(1, 0, 0)).normalize(),
                         (t >> ERVector3D(0, 1, 0)).normalize(), t >> ERPoint3D());
  }
  py::object apply(const py::handle& pts) const {
    bool single = false;
    const std::vector<ERPoint3D> in = pointsOf<3>(pts, "points", &single);
    std::vector<ERPoint3D> out(in.size());
    parallel(in.size(), [&](std::size_t b, std::size_t e, int) {
      for (std::size_t i = b; i < e; ++i) out[i] = t >> in[i];
    });
    return shaped(out, single);
  }
  py::object applyVectors(const py::handle& vs) const {
    bool single = false;
    std::vector<ERPoint3D> in = pointsOf<3>(vs, "vectors", &single);
    for (ERPoint3D& p : in) p = ERPoint3D(t >> ERVector3D(p));
    return shaped(in, single);
  }
  Array matrix() const {
    Array m({4, 4});
    double* d = m.mutable_data();
    const ERVector3D c[3] = {t >> ERVector3D(1, 0, 0), t >> ERVector3D(0, 1, 0),
                             t >> ERVector3D(0, 0, 1)};
    const ERPoint3D o = t >> ERPoint3D();
    for (int r = 0; r < 3; ++r) {
      for (int k = 0; k < 3; ++k) d[r * 4 + k] = r == 0 ? c[k].x() : (r == 1 ? c[k].y() : c[k].z());
      d[r * 4 + 3] = r == 0 ? o.x() : (r == 1 ? o.y() : o.z());
    }
    d[12] = d[13] = d[14] = 0, d[15] = 1;
    return m;
  }
};

// A bounded surface: evaluation, normal projection and global nearest points in bulk.
struct Surface {
  t_SmartPtr<ERAnyBoundedSurface> s;
};

// A curve in its exact NURBS form, in the plane (D = 2) or in space.
template <int D>
struct Curve {
  using Nurbs = std::conditional_t<D == 2, ERCpoleNURBS2D, ERCpoleNURBS3D>;
  t_SmartPtr<Nurbs> c;
};

// A stored object re-created from a database, as it came.
struct StoredObject {
  t_SmartPtr<ERObject> o;
  long id = 0;
};

void bindValues(py::module_& m);
void bindCurves(py::module_& m);
void bindSurfaces(py::module_& m);
void bindDatabase(py::module_& m);
void bindForm(py::module_& m);

// A form association's result as qorv.fit returns it.
py::dict formDict(const gmFormResult& r);
void bindAlignment(py::module_& m);

// The features of a nominal part as qorv inspect reads it: OSError for a missing file,
// ValueError with the reader's reason for one it refuses.
std::vector<gmInspectionFeature> nominalFeatures(const std::string& nominal,
                                                 std::string* units = nullptr);

}  // namespace qorv::python
