// ConvertToNurbs of the finite curves that have an exact NURBS form: segments, circular and
// elliptic arcs (plane and space), polynomial patches and the pole curves themselves.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "qorv/curves/circles.h"
#include "qorv/curves/ellipses.h"
#include "qorv/curves/lines.h"
#include "qorv/freeform/bezier_primitives.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/freeform/polynomial_patch.h"

using namespace qorv;

using QuickAlgebra::ERVec;

ERFiniteEntity2DWF::NurbsPtr ERFiniteEntity2DWF::ConvertToNurbs() const { return {}; }
ERFiniteEntity3DWF::NurbsPtr ERFiniteEntity3DWF::ConvertToNurbs() const { return {}; }

namespace {

constexpr double kQuarterTurn = std::numbers::pi / 2;
constexpr double kTurn = 2 * std::numbers::pi;
// Sweeps past a thousand turns have no NURBS form here.
constexpr double kMaxQuarters = 4000;

template <class Point>
bool finite(const Point& p) {
  for (int k = 0; k < Point::kSize; ++k)
    if (!std::isfinite(p.data()[k])) return false;
  return true;
}

// The arc o + cos(a) X + sin(a) Y for a running from a0 to a1 (either way), over the
// parameters [lo, hi]: N equal rational quadratic pieces of at most a quarter turn each, the
// middle pole where the end tangents meet with the weight cos(half sweep). The knots are
// lo + k (hi - lo) / N (double inside), so where the sweep equals hi - lo the curve passes at a
// knot t through the angle a0 + (t - lo) or a0 - (t - lo). False for a zero or non-finite sweep
// or window, or one past a thousand turns.
template <class Pole, class Point>
bool arcToNurbs(const Point& o, const Point& X, const Point& Y, double a0, double a1, double lo,
                double hi, ERVec<Pole>& poles, ERKnotVector& knots) {
  constexpr int D = Point::kSize;
  const double sweep = a1 - a0;
  if (!std::isfinite(sweep) || sweep == 0.0 || !std::isfinite(lo) || !std::isfinite(hi) ||
      !(lo < hi) || !finite(o) || !finite(X) || !finite(Y))
    return false;
  const double quarters = std::fabs(sweep) / kQuarterTurn;
  if (!(quarters <= kMaxQuarters)) return false;
  const int N = std::max(1, static_cast<int>(std::ceil(quarters)));
  const double half = 0.5 * sweep / N, w = std::cos(half);
  poles = ERVec<Pole>();
  auto put = [&](double a, double reach, double weight) {
    Pole P;
    const double c = std::cos(a) * reach, s = std::sin(a) * reach;
    for (int k = 0; k < D; ++k)
      P.data()[k] = weight * (o.data()[k] + c * X.data()[k] + s * Y.data()[k]);
    P.data()[D] = weight;
    poles.append(P);
  };
  std::vector<double> U(3, lo);
  for (int k = 0; k < N; ++k) {
    const double start = k == 0 ? a0 : a0 + sweep * k / N;
    put(start, 1.0, 1.0);
    put(start + half, 1.0 / w, w);
    if (k > 0) U.insert(U.end(), 2, lo + (hi - lo) * k / N);
  }
  put(a1, 1.0, 1.0);
  U.insert(U.end(), 3, hi);
  knots = ERKnotVector(2, U.data(), static_cast<int>(U.size()));
  return true;
}

ERPoint3D lifted(const ERPmIsometrie3D& F, const ERPoint2D& p) {
  return F >> p.castToPoint3D(Coord3D::Z, 0.0);
}
ERPoint3D liftedVector(const ERPmIsometrie3D& F, const ERVector2D& v) {
  const ERVector3D r = F >> v.castToVector3D(Coord3D::Z, 0.0);
  return ERPoint3D(r.x(), r.y(), r.z());
}

// Centre, axis vectors and eccentric limits of an elliptic arc, a full turn for equal limits.
struct EllipseFrame {
  ERPoint2D m, X, Y;
  double a0 = 0, a1 = 0;
  ERLimites window;
};
EllipseFrame frameOf(const ERArcEllipse2D& arc) {
  EllipseFrame f;
  const ERPoint2D F1 = arc.getFocus1(), F2 = arc.getFocus2();
  const double phi = std::atan2(F2.y() - F1.y(), F2.x() - F1.x());
  const double a = arc.getBigAxe() / 2.0, b = arc.getSmallAxe() / 2.0;
  const double cp = std::cos(phi), sp = std::sin(phi);
  f.m = arc.center();
  f.X = ERPoint2D(a * cp, a * sp);
  f.Y = ERPoint2D(-b * sp, b * cp);
  f.a0 = arc.central_to_param(arc.udeb());
  f.a1 = arc.udeb() == arc.ufin() ? f.a0 + kTurn : arc.central_to_param(arc.ufin());
  f.window = arc.getBound();
  return f;
}

// The Bezier poles of a polynomial patch in s over [0, 1]: b_i = sum_j C(i, j) / C(n, j) a_j,
// one column per polynomial; weight 1 appended when not rational.
template <class Pole>
bool patchPoles(const ERTValVector<ERPolynome>& polys, int D, ERVec<Pole>& poles, int& n) {
  const int count = polys.length();
  if (count != D && count != D + 1) return false;
  n = 0;
  for (const ERPolynome& q : polys) n = std::max(n, q.degree());
  poles = ERVec<Pole>(n + 1);
  for (int c = 0; c <= D; ++c)
    for (int i = 0; i <= n; ++i) {
      double b = 0.0;
      if (c < count)
        for (int j = 0; j <= i; ++j) b += Cnp(i, j) / Cnp(n, j) * polys[c](j);
      else
        b = 1.0;
      if (!std::isfinite(b)) return false;
      poles[i].data()[c] = b;
    }
  return true;
}

template <class Nurbs, class Pole, class Patch>
t_SmartPtr<Nurbs> patchToNurbs(const Patch& patch, int D) {
  const double t0 = patch.Ndeb(), t1 = patch.Nfin();
  if (!std::isfinite(t0) || !std::isfinite(t1) || !(t0 < t1)) return {};
  Patch local(patch);
  if (!(t0 == 0.0 && t1 == 1.0)) local.reparametrize(ERLimites(0.0, 1.0));
  ERVec<Pole> poles;
  int n = 0;
  if (!patchPoles(local.polynomials(), D, poles, n)) return {};
  return t_SmartPtr<Nurbs>(new Nurbs(poles, ERKnotVector(n, ERLimites(t0, t1))));
}

template <class Nurbs, class Pole, class Bezier>
t_SmartPtr<Nurbs> bezierToNurbs(const Bezier& c) {
  const int n = c.nbPoles();
  if (n == 0) return {};
  ERVec<Pole> poles(n);
  for (int i = 0; i < n; ++i) {
    const double w = c.poleWeight(i);
    const auto p = c[i];
    for (int k = 0; k < Pole::kSize - 1; ++k) poles[i].data()[k] = w * p.data()[k];
    poles[i].data()[Pole::kSize - 1] = w;
  }
  return t_SmartPtr<Nurbs>(new Nurbs(poles, ERKnotVector(n - 1, c.domain()), c.getBound()));
}

}  // namespace

// ---- segments
ERFiniteEntity2DWF::NurbsPtr ERSegment2D::ConvertToNurbs() const {
  if (!finite(getP1()) || !finite(getP2())) return {};
  ERVec<ERPole2DH> h;
  h.append(ERPole2DH(getP1(), 1.0)), h.append(ERPole2DH(getP2(), 1.0));
  return NurbsPtr(new ERCpoleNURBS2D(h, ERKnotVector(1, ERLimites(0.0, 1.0))));
}
ERFiniteEntity3DWF::NurbsPtr ERSegment3D::ConvertToNurbs() const {
  if (!finite(getP1()) || !finite(getP2())) return {};
  ERVec<ERPole3DH> h;
  h.append(ERPole3DH(getP1(), 1.0)), h.append(ERPole3DH(getP2(), 1.0));
  return NurbsPtr(new ERCpoleNURBS3D(h, ERKnotVector(1, ERLimites(0.0, 1.0))));
}

// ---- circular arcs: the parameter is the angle, so the knots are angles.
ERFiniteEntity2DWF::NurbsPtr ERArc2D::ConvertToNurbs() const {
  if (!isValid()) return {};
  const double r = radius();
  const ERLimites b = getBound();
  ERVec<ERPole2DH> poles;
  ERKnotVector U;
  if (!arcToNurbs(center(), ERPoint2D(r, 0.0), ERPoint2D(0.0, r), udeb(), ufin(), b.start(),
                  b.end(), poles, U))
    return {};
  return NurbsPtr(new ERCpoleNURBS2D(poles, U));
}
ERFiniteEntity3DWF::NurbsPtr ERArc3D::ConvertToNurbs() const {
  if (!isValid()) return {};
  const ERPmIsometrie3D F = getRepere();
  const double r = radius();
  const ERLimites b = getBound();
  ERVec<ERPole3DH> poles;
  ERKnotVector U;
  if (!arcToNurbs(lifted(F, Circle2D().center()), liftedVector(F, ERVector2D(r, 0.0)),
                  liftedVector(F, ERVector2D(0.0, r)), udeb(), ufin(), b.start(), b.end(), poles,
                  U))
    return {};
  return NurbsPtr(new ERCpoleNURBS3D(poles, U));
}

// ---- elliptic arcs: the parameter is the eccentric angle.
ERFiniteEntity2DWF::NurbsPtr ERArcEllipse2D::ConvertToNurbs() const {
  if (!isValid()) return {};
  const EllipseFrame f = frameOf(*this);
  ERVec<ERPole2DH> poles;
  ERKnotVector U;
  if (!arcToNurbs(f.m, f.X, f.Y, f.a0, f.a1, f.window.start(), f.window.end(), poles, U)) return {};
  return NurbsPtr(new ERCpoleNURBS2D(poles, U));
}
ERFiniteEntity3DWF::NurbsPtr ERArcEllipse3D::ConvertToNurbs() const {
  if (!isValid()) return {};
  const ERPmIsometrie3D F = getRepere();
  const EllipseFrame f = frameOf(Arc2D());
  ERVec<ERPole3DH> poles;
  ERKnotVector U;
  if (!arcToNurbs(lifted(F, f.m), liftedVector(F, ERVector2D(f.X.x(), f.X.y())),
                  liftedVector(F, ERVector2D(f.Y.x(), f.Y.y())), f.a0, f.a1, f.window.start(),
                  f.window.end(), poles, U))
    return {};
  return NurbsPtr(new ERCpoleNURBS3D(poles, U));
}

// ---- polynomial patches
ERFiniteEntity2DWF::NurbsPtr ERPatchCPoly2D::ConvertToNurbs() const {
  return patchToNurbs<ERCpoleNURBS2D, ERPole2DH>(*this, 2);
}
ERFiniteEntity3DWF::NurbsPtr ERPatchCPoly3D::ConvertToNurbs() const {
  return patchToNurbs<ERCpoleNURBS3D, ERPole3DH>(*this, 3);
}
t_SmartPtr<ERCpoleRep2D> ERPatchCPoly2D::castToCpole() const {
  return t_SmartPtr<ERCpoleRep2D>(ConvertToNurbs());
}
t_SmartPtr<ERCpoleRep3D> ERPatchCPoly3D::castToCpole() const {
  return t_SmartPtr<ERCpoleRep3D>(ConvertToNurbs());
}

// ---- the pole curves: a Bezier curve keeps its poles on the Bezier knots of its domain.
ERFiniteEntity2DWF::NurbsPtr ERCpoleBezier2D::ConvertToNurbs() const {
  return bezierToNurbs<ERCpoleNURBS2D, ERPole2DH>(*this);
}
ERFiniteEntity3DWF::NurbsPtr ERCpoleBezier3D::ConvertToNurbs() const {
  return bezierToNurbs<ERCpoleNURBS3D, ERPole3DH>(*this);
}
ERFiniteEntity2DWF::NurbsPtr ERCpoleBezier2DR::ConvertToNurbs() const {
  return bezierToNurbs<ERCpoleNURBS2D, ERPole2DH>(*this);
}
ERFiniteEntity3DWF::NurbsPtr ERCpoleBezier3DR::ConvertToNurbs() const {
  return bezierToNurbs<ERCpoleNURBS3D, ERPole3DH>(*this);
}
ERFiniteEntity2DWF::NurbsPtr ERCpoleNURBS2D::ConvertToNurbs() const {
  return poles().length() == 0 ? NurbsPtr() : NurbsPtr(new ERCpoleNURBS2D(*this));
}
ERFiniteEntity3DWF::NurbsPtr ERCpoleNURBS3D::ConvertToNurbs() const {
  return poles().length() == 0 ? NurbsPtr() : NurbsPtr(new ERCpoleNURBS3D(*this));
}
