#include "qorv/freeform/polynomial_patch.h"

#include <algorithm>
#include <cmath>

#include "qorv/foundation/quadrature.h"

using namespace qorv;

using QuickAlgebra::ERVec;

QORV_DEFINE_CLASS(ERPatchCPoly2D);
QORV_DEFINE_CLASS(ERPatchCPoly3D);

void ERPatchCPoly::printOn(std::ostream& os) const {
  os << "Patch Polynomial\n";
  for (int i = 0; i < polys_.length(); ++i) {
    polys_[i].printOn(os);
    os << '\n';
  }
}

int ERPatchCPoly::restorePolys(ERFile& f) {
  ERTValVector<ERPolynome> polys;
  if (!polys.restoreGuts(f)) return 0;
  const int n = polys.length(), d = dimension();
  if (n != d && n != d + 1) return 0;
  polys_ = polys;
  return 1;
}

void ERPatchCPoly::scale(double s) {
  const int d = std::min(dimension(), polys_.length());
  for (int k = 0; k < d; ++k) polys_[k] *= s;
}

namespace {

const ERPolynome& unitWeight() {
  static const ERPolynome one(polyValueTag, 1.0);
  return one;
}

// The body shared by the two patches.
template <class Patch, class Point, class Vector, class Info>
struct PatchOps {
  static constexpr int D = Point::kSize;

  static const ERPolynome& weight(const ERTValVector<ERPolynome>& p) {
    return p.length() == D + 1 ? p[D] : unitWeight();
  }

  // Value, first and second derivative of component k.
  static void eval3(const ERPolynome& q, double t, double& v, double& d1, double& d2) {
    const int n = q.length();
    v = d1 = d2 = 0.0;
    for (int i = n - 1; i >= 0; --i) {
      d2 = d2 * t + 2.0 * d1;
      d1 = d1 * t + v;
      v = v * t + q[i];
    }
  }

  static Info ptCur(const ERTValVector<ERPolynome>& p, double t) {
    Point P;
    Vector T, A;
    double w = 1.0, w1 = 0.0, w2 = 0.0;
    if (p.length() == D + 1) eval3(p[D], t, w, w1, w2);
    for (int k = 0; k < D && k < p.length(); ++k) {
      double v, d1, d2;
      eval3(p[k], t, v, d1, d2);
      const double x = v / w;
      const double x1 = (d1 - x * w1) / w;
      const double x2 = (d2 - 2.0 * x1 * w1 - x * w2) / w;
      P.data()[k] = x, T.data()[k] = x1, A.data()[k] = x2;
    }
    return Info(t, 1, P, T, A);
  }

  static double speed(const ERTValVector<ERPolynome>& p, double t) {
    return ptCur(p, t).tangente().norme();
  }

  static double arcLength(const ERTValVector<ERPolynome>& p, double a, double b, double tol) {
    if (!(b > a)) return b == a ? 0.0 : -arcLength(p, b, a, tol);
    if (!(tol > 0.0)) tol = 1e-9;
    // Four panels first, so a single panel never misses a loop.
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) {
      const double x0 = a + (b - a) * i / 4.0, x1 = a + (b - a) * (i + 1) / 4.0;
      const double f0 = speed(p, x0), f1 = speed(p, x1), fm = speed(p, 0.5 * (x0 + x1));
      const auto at = [&p](double t) { return speed(p, t); };
      sum += qorv::detail::adaptiveSimpson(at, x0, x1, f0, fm, f1,
                                           (x1 - x0) / 6.0 * (f0 + 4.0 * fm + f1), tol / 4.0, 40);
    }
    return sum;
  }

  template <class Box>
  static Box box(const ERTValVector<ERPolynome>& p, const ERLimites& dom) {
    Box b;
    b.Update(ptCur(p, dom.start()).point());
    b.Update(ptCur(p, dom.end()).point());
    const ERPolynome& W = weight(p);
    const ERPolynome dW = W.getDerived(1);
    for (int k = 0; k < D && k < p.length(); ++k) {
      const ERPolynome num = p[k].getDerived(1) * W - p[k] * dW;
      ERVec<double> roots;
      if (Zeros(num, ERLimites(std::min(dom.start(), dom.end()), std::max(dom.start(), dom.end())),
                roots) > 0)
        for (double t : roots) b.Update(ptCur(p, t).point());
    }
    return b;
  }

  // Every polynomial composed with q.
  static void compose(ERTValVector<ERPolynome>& p, const ERPolynome& q) {
    for (int i = 0; i < p.length(); ++i) p[i] = p[i](q);
  }

  // Coefficient-wise affine map on the homogeneous components: (X, W) -> (L X + t W, W).
  template <class MapVector>
  static void affine(ERTValVector<ERPolynome>& p, MapVector linear, const Point& shift) {
    if (p.length() < D) return;
    const ERPolynome& W = weight(p);
    int n = W.length();
    for (int k = 0; k < D; ++k) n = std::max(n, p[k].length());
    for (int k = 0; k < D; ++k) p[k].adjustDegree(n - 1);
    for (int i = 0; i < n; ++i) {
      Vector v;
      for (int k = 0; k < D; ++k) v.data()[k] = p[k][i];
      Vector r = linear(v);
      const double wi = W(i);
      for (int k = 0; k < D; ++k) p[k][i] = r.data()[k] + shift.data()[k] * wi;
    }
  }
};

using Ops2 = PatchOps<ERPatchCPoly2D, ERPoint2D, ERVector2D, ERInfoPoint2D>;
using Ops3 = PatchOps<ERPatchCPoly3D, ERPoint3D, ERVector3D, ERInfoPoint3DWF>;

}  // namespace

// ---------------------------------------------------------------------------------------------
// The member bodies, written once for both twins.
#define QORV_PATCH_CPOLY_BODY(Class, Limited, Finite, Ops, Point, Vector, Info, Box)          \
  Class::Class(const ERTValVector<ERPolynome>& polys, const ERLimites& range)                 \
      : ERPatchCPoly(polys), Limited(range) {}                                                \
  Info Class::PtCur(double t) const { return Ops::ptCur(polys_, t); }                         \
  Box Class::getBox() const { return Ops::box<Box>(polys_, domain()); }                       \
  double Class::arcLength(const ERLimites& r, double tol) const {                             \
    return Ops::arcLength(polys_, r.start(), r.end(), tol);                                   \
  }                                                                                           \
  double Class::arcLength(double tol) const { return arcLength(domain(), tol); }              \
  int Class::splitAt(t_SmartPtr<Finite>& first, t_SmartPtr<Finite>& second, double u) const { \
    if (!(udeb() < u && u < ufin())) return 0;                                                \
    first = t_SmartPtr<Finite>(new Class(polys_, ERLimites(udeb(), u)));                      \
    second = t_SmartPtr<Finite>(new Class(polys_, ERLimites(u, ufin())));                     \
    return 1;                                                                                 \
  }                                                                                           \
  int Class::ProjectPoint(const Point& p, ERVec<double>& params, double) const {              \
    ERVec<double> found;                                                                      \
    const ERLimites d(std::min(udeb(), ufin()), std::max(udeb(), ufin()));                    \
    const int n = ProjectionPointOnCpoly(polys_, Point::kSize, p.data(), d, found);           \
    if (n < 0) return -1;                                                                     \
    params.append(found);                                                                     \
    return params.length();                                                                   \
  }                                                                                           \
  void Class::reparametrize(const ERLimites& r) {                                             \
    const double t0 = udeb(), t1 = ufin();                                                    \
    const double k = (t1 - t0) / (r.end() - r.start());                                       \
    if (!std::isfinite(k)) return;                                                            \
    const double c[2] = {t0 - r.start() * k, k};                                              \
    Ops::compose(polys_, ERPolynome(c, 2));                                                   \
    Limited::reparametrize(r);                                                                \
  }                                                                                           \
  void Class::reverse() {                                                                     \
    const double c[2] = {udeb() + ufin(), -1.0};                                              \
    Ops::compose(polys_, ERPolynome(c, 2));                                                   \
  }                                                                                           \
  void Class::scale(double s) { ERPatchCPoly::scale(s); }                                     \
  void Class::translate(const Point& v) {                                                     \
    Ops::affine(                                                                              \
        polys_, [](const Vector& x) { return x; }, v);                                        \
  }                                                                                           \
  QORV_DEFINE_COPYABLE(Class)                                                                 \
  void Class::printOn(std::ostream& os) const {                                               \
    Limited::printOn(os);                                                                     \
    ERPatchCPoly::printOn(os);                                                                \
  }                                                                                           \
  void Class::saveGuts(ERFile& f) const {                                                     \
    Limited::saveGuts(f);                                                                     \
    ERPatchCPoly::saveGuts(f);                                                                \
  }                                                                                           \
  void Class::restoreGuts(ERFile& f) {                                                        \
    const ERLimites keep = domain();                                                          \
    Limited::restoreGuts(f);                                                                  \
    if (!restorePolys(f)) Limited::redefineDomain(keep);                                      \
  }                                                                                           \
  std::uint32_t Class::binaryStoreSize() const {                                              \
    return Limited::binaryStoreSize() + ERPatchCPoly::binaryStoreSize();                      \
  }

QORV_PATCH_CPOLY_BODY(ERPatchCPoly2D, ERLimitedEntity2DWF, ERFiniteEntity2DWF, Ops2, ERPoint2D,
                      ERVector2D, ERInfoPoint2D, ERMinimax2D)
QORV_PATCH_CPOLY_BODY(ERPatchCPoly3D, ERLimitedEntity3DWF, ERFiniteEntity3DWF, Ops3, ERPoint3D,
                      ERVector3D, ERInfoPoint3DWF, ERMinimax3D)

void ERPatchCPoly2D::transformFrom(const ERTransfo2D& T) {
  const ERPoint2D o = T >> ERPoint2D(0.0, 0.0);
  Ops2::affine(
      polys_, [&](const ERVector2D& v) { return T >> v; }, o);
}

void ERPatchCPoly2D::transformTo(const ERTransfo2D& T) {
  const ERPoint2D o = T << ERPoint2D(0.0, 0.0);
  Ops2::affine(
      polys_,
      [&](ERVector2D v) {
        T.TransTo(v);
        return v;
      },
      o);
}

void ERPatchCPoly3D::transformFrom(const ERPmSimilitude3D& T) {
  const ERPoint3D o = T >> ERPoint3D(0.0, 0.0, 0.0);
  Ops3::affine(
      polys_, [&](const ERVector3D& v) { return T >> v; }, o);
}

void ERPatchCPoly3D::transformTo(const ERPmSimilitude3D& T) {
  const ERPoint3D o = T << ERPoint3D(0.0, 0.0, 0.0);
  Ops3::affine(
      polys_, [&](const ERVector3D& v) { return T << v; }, o);
}

t_SmartPtr<EREntity3DWF> ERPatchCPoly2D::get3DEquiv(const ERPmIsometrie3D& frame) const {
  ERTValVector<ERPolynome> p;
  p.append(polys_[0]);
  p.append(polys_[1]);
  p.append(ERPolynome(polyValueTag, 0.0));
  if (isRational()) p.append(polys_[2]);
  ERPatchCPoly3D* c = new ERPatchCPoly3D(p, domain());
  c->transformFrom(frame);
  return t_SmartPtr<EREntity3DWF>(c);
}

t_SmartPtr<EREntity2DWF> ERPatchCPoly3D::get2DEntProjectedOn(const ERPmIsometrie3D& frame) const {
  ERPatchCPoly3D local(*this);
  local.transformTo(frame);
  ERTValVector<ERPolynome> p;
  p.append(local.polys_[0]);
  p.append(local.polys_[1]);
  if (isRational()) p.append(local.polys_[3]);
  return t_SmartPtr<EREntity2DWF>(new ERPatchCPoly2D(p, domain()));
}
