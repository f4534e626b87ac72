#include "qorv/foundation/finite_entity.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>

#include "qorv/measurement/sampling_lists.h"
#include "qorv/persistence/file.h"

using namespace qorv;

QORV_DEFINE_ABSTRACT_CLASS(ERFiniteEntity2DWF);
QORV_DEFINE_ABSTRACT_CLASS(ERFiniteEntity3DWF);
QORV_DEFINE_ABSTRACT_CLASS(ERLimitedEntity2DWF);
QORV_DEFINE_ABSTRACT_CLASS(ERLimitedEntity3DWF);
QORV_DEFINE_ABSTRACT_CLASS(ERTrimmedEntity2DWF);
QORV_DEFINE_ABSTRACT_CLASS(ERTrimmedEntity3DWF);
QORV_DEFINE_ABSTRACT_CLASS(ERFiniteEntity2DWFBoundedWithAngle);
QORV_DEFINE_ABSTRACT_CLASS(ERFiniteEntity3DWFBoundedWithAngle);
QORV_DEFINE_ABSTRACT_CLASS(ERPlanarEntity3DWF);

using QuickAlgebra::ERVec;

namespace {

// Steps of the default crossing and nearest-point searches.
constexpr int kSearchSteps = 64;

template <class Curve>
struct CurveKin;
template <>
struct CurveKin<ERFiniteEntity2DWF> {
  using Point = ERPoint2D;
  using Info = ERInfoPoint2D;
};
template <>
struct CurveKin<ERFiniteEntity3DWF> {
  using Point = ERPoint3D;
  using Info = ERInfoPoint3DWF;
};

template <class Curve>
int isClosedOf(const Curve& c, double tol) {
  return isEqual(c(c.udeb()), c(c.ufin()), tol);
}

// rand() / RAND_MAX spreads the draw uniformly over the range, whatever the C library's
// ceiling (32767 on some hosts, 2^31 - 1 on others).
template <class Curve>
typename CurveKin<Curve>::Info randomPointOf(const Curve& c, double a, double b) {
  double u = a + (b - a) * (static_cast<double>(std::rand()) / RAND_MAX);
  const double lo = std::min(a, b), hi = std::max(a, b);
  if (u < lo) u = lo;
  if (u > hi) u = hi;
  return c.PtCur(u);
}

template <class Curve>
ERVec<typename CurveKin<Curve>::Point> sampleEvenly(const Curve& c, int n, double a, double b) {
  if (n < 2) n = 2;
  ERVec<typename CurveKin<Curve>::Point> out;
  out.reserve(n);
  for (int i = 0; i < n; ++i) out.append(c(i == n - 1 ? b : a + (b - a) * i / (n - 1)));
  return out;
}

// The crossings of one coordinate of the curve with a value: equal steps over getBound(), each
// sign change narrowed by bisection until the halves stop shrinking.
template <class Curve>
int crossingsOf(const Curve& c, int axis, double value, ERVec<double>& params) {
  const ERLimites r = c.getBound();
  const double lo = r.start(), hi = r.end();
  if (!(std::isfinite(lo) && std::isfinite(hi) && lo <= hi)) return params.length();
  auto f = [&](double u) { return c(u).data()[axis] - value; };
  double u0 = lo, f0 = f(lo);
  if (f0 == 0.0) params.append(lo);
  if (lo == hi) return params.length();
  for (int i = 1; i <= kSearchSteps; ++i) {
    const double u1 = i == kSearchSteps ? hi : lo + (hi - lo) * i / kSearchSteps;
    const double f1 = f(u1);
    if (f1 == 0.0) {
      params.append(u1);
    } else if (f0 != 0.0 && ((f0 < 0.0 && f1 > 0.0) || (f0 > 0.0 && f1 < 0.0))) {
      double a = u0, b = u1, fa = f0;
      for (;;) {
        const double m = (a + b) / 2;
        if (!(a < m && m < b)) break;
        const double fm = f(m);
        if (fm == 0.0) {
          a = b = m;
          break;
        }
        if ((fm < 0.0) == (fa < 0.0)) {
          a = m, fa = fm;
        } else {
          b = m;
        }
      }
      params.append((a + b) / 2);
    }
    u0 = u1, f0 = f1;
  }
  return params.length();
}

// The parameter of the nearest point: the projections the curve offers, else the best of equal
// steps narrowed by golden section; then the two ends. atEnd says an end won.
template <class Curve, class Point>
double nearestParameter(const Curve& c, const Point& p, bool& atEnd) {
  const ERLimites r = c.getBound();
  const double lo = r.start(), hi = r.end();
  auto dist2 = [&](double u) { return distance2(c(u), p); };
  double best = lo, bestD = dist2(lo);
  atEnd = true;
  auto consider = [&](double u, bool end) {
    const double d = dist2(u);
    if (d < bestD) best = u, bestD = d, atEnd = end;
  };
  consider(hi, true);
  ERVec<double> params;
  if (c.ProjectPoint(p, params, equalityTolerance) > 0) {
    for (double u : static_cast<const ERVec<double>&>(params))
      if (lo <= u && u <= hi) consider(u, false);
    return best;
  }
  if (!(std::isfinite(lo) && std::isfinite(hi) && lo < hi)) return best;
  const double step = (hi - lo) / kSearchSteps;
  int bestI = 0;
  double sampleD = bestD + 1.0;
  for (int i = 0; i <= kSearchSteps; ++i) {
    const double d = dist2(i == kSearchSteps ? hi : lo + step * i);
    if (i == 0 || d < sampleD) sampleD = d, bestI = i;
  }
  double a = std::max(lo, lo + step * (bestI - 1)), b = std::min(hi, lo + step * (bestI + 1));
  constexpr double kGolden = 0.6180339887498949;
  double x1 = b - kGolden * (b - a), x2 = a + kGolden * (b - a);
  double d1 = dist2(x1), d2 = dist2(x2);
  for (int k = 0; k < 100 && a < x1 && x2 < b; ++k) {
    if (d1 < d2) {
      b = x2, x2 = x1, d2 = d1;
      x1 = b - kGolden * (b - a), d1 = dist2(x1);
    } else {
      a = x1, x1 = x2, d1 = d2;
      x2 = a + kGolden * (b - a), d2 = dist2(x2);
    }
  }
  consider((a + b) / 2, false);
  return best;
}

// A short record leaves the interval as it was.
void restoreLimites(ERFile& f, ERLimites& l) {
  double v[2];
  if (qorv::detail::restoreDoubles(f, v, 2)) l.set(v[0], v[1]);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Finite curves, plane and space.

int ERFiniteEntity2DWF::isClosed(double tol) const { return isClosedOf(*this, tol); }
int ERFiniteEntity3DWF::isClosed(double tol) const { return isClosedOf(*this, tol); }

ERInfoPoint2D ERFiniteEntity2DWF::randomPoint() const {
  return randomPointOf(*this, udeb(), ufin());
}
ERInfoPoint3DWF ERFiniteEntity3DWF::randomPoint() const {
  return randomPointOf(*this, udeb(), ufin());
}

ERVec<ERPoint2D> ERFiniteEntity2DWF::approxime(const ERLimites& range, double tol) const {
  ERPoint12List list;
  prepareApprox(list, range, tol);
  list.Smash(*this, tol);
  return list.toVec();
}

ERVec<ERPoint3D> ERFiniteEntity3DWF::approxime(const ERLimites& range, double tol) const {
  ERPoint13List list;
  prepareApprox(list, range, tol);
  list.Smash(*this, tol);
  return list.toVec();
}

ERVec<ERPoint2D> ERFiniteEntity2DWF::approxime(int n) const {
  return sampleEvenly(*this, n, udeb(), ufin());
}
ERVec<ERPoint3D> ERFiniteEntity3DWF::approxime(int n) const {
  return sampleEvenly(*this, n, udeb(), ufin());
}

namespace qorv::detail {
ERInfoPoint2D randomPointBetween(const ERFiniteEntity2DWF& c, double a, double b) {
  return randomPointOf(c, a, b);
}
ERInfoPoint3DWF randomPointBetween(const ERFiniteEntity3DWF& c, double a, double b) {
  return randomPointOf(c, a, b);
}
ERVec<ERPoint2D> sampleBetween(const ERFiniteEntity2DWF& c, int n, double a, double b) {
  return sampleEvenly(c, n, a, b);
}
ERVec<ERPoint3D> sampleBetween(const ERFiniteEntity3DWF& c, int n, double a, double b) {
  return sampleEvenly(c, n, a, b);
}
}  // namespace qorv::detail

void ERFiniteEntity2DWF::prepareApprox(ERPoint12List& list, const ERLimites& range, double) const {
  list.append((*this)(range.start()), range.start());
  list.append((*this)(range.end()), range.end());
}

void ERFiniteEntity3DWF::prepareApprox(ERPoint13List& list, const ERLimites& range, double) const {
  list.append((*this)(range.start()), range.start());
  list.append((*this)(range.end()), range.end());
}

int ERFiniteEntity2DWF::intersectWithAxeY(double x, ERVec<double>& params) const {
  return crossingsOf(*this, 0, x, params);
}

int ERFiniteEntity3DWF::intersectWithPlanZ(double z, ERVec<double>& params) const {
  return crossingsOf(*this, 2, z, params);
}

// A copy brought into the frame whose X axis is v at p: the line becomes x = 0.
int ERFiniteEntity2DWF::intersectWith(const ERPoint2D& p, const ERVector2D& v,
                                      ERVec<double>& params) const {
  const t_SmartPtr<ERObject> copy(getCopy());
  ERFiniteEntity2DWF* c = castdown(copy.get());
  if (c == nullptr) return params.length();
  c->transformTo(ERTransfo2D(v, p));
  return c->intersectWithAxeY(0.0, params);
}

// A copy brought into the frame whose Z axis is v at p: the plane becomes z = 0.
int ERFiniteEntity3DWF::intersectWith(const ERPoint3D& p, const ERVector3D& v,
                                      ERVec<double>& params) const {
  const t_SmartPtr<ERObject> copy(getCopy());
  ERFiniteEntity3DWF* c = castdown(copy.get());
  if (c == nullptr) return params.length();
  c->transformTo(ERChgRepere3D(v, p));
  return c->intersectWithPlanZ(0.0, params);
}

int ERFiniteEntity2DWF::ProjectPoint(const ERPoint2D&, ERVec<double>&, double) const { return 0; }
int ERFiniteEntity3DWF::ProjectPoint(const ERPoint3D&, ERVec<double>&, double) const { return 0; }

EREntity::DISTMINRES ERFiniteEntity2DWF::SignedMinimalDistance(const ERPoint2D& p, double& d,
                                                               double& u) const {
  bool atEnd = false;
  u = nearestParameter(*this, p, atEnd);
  const ERInfoPoint2D info = PtCur(u);
  d = distance(info.point(), p);
  if (!((ERVector2D(info.point(), p) ^ info.tangente()) > 0.0)) d = -d;
  return atEnd ? DISTMIN_END_POINT : DISTMIN_NORMAL;
}

EREntity::DISTMINRES ERFiniteEntity2DWF::SignedMinimalDistance(const ERPoint2D& p,
                                                               double& d) const {
  double u = 0.0;
  return SignedMinimalDistance(p, d, u);
}

int ERFiniteEntity2DWF::IsContinuous(int) const { return 1; }
int ERFiniteEntity3DWF::IsContinuous(int) const { return 1; }

int ERFiniteEntity2DWF::GetDiscontinuities(int, ERVec<double>& params) const {
  params.clear();
  return 1;
}

int ERFiniteEntity3DWF::GetDiscontinuities(int, ERVec<double>& params) const {
  params.clear();
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Limited and trimmed curves.

#define QORV_LIMITED_BODIES(Limited, Trimmed)                                              \
  void Limited::printOn(std::ostream& os) const { os << "Domaine : " << domain_ << '\n'; } \
  void Limited::saveGuts(ERFile& f) const {                                                \
    ERObject::saveGuts(f);                                                                 \
    domain_.saveGuts(f);                                                                   \
  }                                                                                        \
  void Limited::restoreGuts(ERFile& f) {                                                   \
    ERObject::restoreGuts(f);                                                              \
    restoreLimites(f, domain_);                                                            \
  }                                                                                        \
  std::uint32_t Limited::binaryStoreSize() const {                                         \
    return ERObject::binaryStoreSize() + domain_.binaryStoreSize();                        \
  }                                                                                        \
  ERLimites Trimmed::setBound(const ERLimites& bounds) {                                   \
    const ERLimites previous = bounds_;                                                    \
    bounds_ = bounds;                                                                      \
    return previous;                                                                       \
  }                                                                                        \
  void Trimmed::adjust() { Limited::redefineDomain(bounds_); }                             \
  void Trimmed::redefineDomain(const ERLimites& domain) {                                  \
    bounds_ = domain;                                                                      \
    adjust();                                                                              \
  }                                                                                        \
  /* The trim bounds keep their place in the domain. */                                    \
  void Trimmed::reparametrize(const ERLimites& to) {                                       \
    const ERLimites from = domain();                                                       \
    const double k = to.amplitude() / from.amplitude();                                    \
    if (std::isfinite(k)) {                                                                \
      bounds_.set(to.start() + (bounds_.start() - from.start()) * k,                       \
                  to.start() + (bounds_.end() - from.start()) * k);                        \
    } else {                                                                               \
      bounds_ = to;                                                                        \
    }                                                                                      \
    Limited::reparametrize(to);                                                            \
  }                                                                                        \
  void Trimmed::reverse() {                                                                \
    const double sum = Ndeb() + Nfin();                                                    \
    bounds_.set(sum - bounds_.end(), sum - bounds_.start());                               \
  }                                                                                        \
  void Trimmed::printOn(std::ostream& os) const {                                          \
    Limited::printOn(os);                                                                  \
    os << "Bornes  : " << bounds_ << '\n';                                                 \
  }                                                                                        \
  void Trimmed::saveGuts(ERFile& f) const {                                                \
    Limited::saveGuts(f);                                                                  \
    bounds_.saveGuts(f);                                                                   \
  }                                                                                        \
  void Trimmed::restoreGuts(ERFile& f) {                                                   \
    Limited::restoreGuts(f);                                                               \
    restoreLimites(f, bounds_);                                                            \
  }                                                                                        \
  std::uint32_t Trimmed::binaryStoreSize() const {                                         \
    return Limited::binaryStoreSize() + bounds_.binaryStoreSize();                         \
  }

QORV_LIMITED_BODIES(ERLimitedEntity2DWF, ERTrimmedEntity2DWF)
QORV_LIMITED_BODIES(ERLimitedEntity3DWF, ERTrimmedEntity3DWF)
#undef QORV_LIMITED_BODIES

// ---------------------------------------------------------------------------------------------
// Angle-bounded curves.

#define QORV_ANGLE_BOUNDED_BODIES(Class, Base)                      \
  ERLimites Class::getBound() const {                               \
    return ERLimites(std::min<double>(startAngle(), endAngle()),    \
                     std::max<double>(startAngle(), endAngle()));   \
  }                                                                 \
  std::uint32_t Class::binaryStoreSize() const {                    \
    return Base::binaryStoreSize() + EREntAngle::binaryStoreSize(); \
  }

QORV_ANGLE_BOUNDED_BODIES(ERFiniteEntity2DWFBoundedWithAngle, ERFiniteEntity2DWF)
QORV_ANGLE_BOUNDED_BODIES(ERFiniteEntity3DWFBoundedWithAngle, ERFiniteEntity3DWF)
#undef QORV_ANGLE_BOUNDED_BODIES

// ---------------------------------------------------------------------------------------------
// Planar entities.

int ERPlanarEntity3DWF::frameIsValid() const {
  if (frame_.getRep() == nullptr || !frame_.isValid()) return 0;
  const QuickAlgebra::ERMatrix<double> R = frame_.getMatrix();
  for (int k = 0; k < R.length(); ++k)
    if (!std::isfinite(R.data()[k])) return 0;
  const ERPoint3D t = frame_.getTrans();
  return std::isfinite(t.x()) && std::isfinite(t.y()) && std::isfinite(t.z()) &&
         std::isfinite(frame_.getFactHomo());
}

void ERPlanarEntity3DWF::transformFrom(const ERPmIsometrie3D& T) { frame_ = T * frame_; }
void ERPlanarEntity3DWF::transformTo(const ERPmIsometrie3D& T) { frame_ = ~T * frame_; }

void ERPlanarEntity3DWF::scaleFrame(double s) {
  ERPoint3D o = frame_.origine();
  o *= s;
  frame_ = ERChgRepere3D(frame_.getVector(Coord3D::X), frame_.getVector(Coord3D::Y), o);
}

void ERPlanarEntity3DWF::translateFrame(const ERPoint3D& v) {
  ERPoint3D o = frame_.origine();
  o += v;
  frame_ = ERChgRepere3D(frame_.getVector(Coord3D::X), frame_.getVector(Coord3D::Y), o);
}

double ERPlanarEntity3DWF::moveFrame(const ERPmSimilitude3D& T, bool forward) {
  const ERPoint3D o = frame_.origine();
  const ERVector3D x = frame_.getVector(Coord3D::X), y = frame_.getVector(Coord3D::Y);
  if (forward) {
    frame_ = ERChgRepere3D((T >> x).normalize(), (T >> y).normalize(), T >> o);
    return T.getFactHomo();
  }
  frame_ = ERChgRepere3D((T << x).normalize(), (T << y).normalize(), T << o);
  return 1.0 / T.getFactHomo();
}

void ERPlanarEntity3DWF::saveGuts(ERFile& f) const {
  EREntity3DWF::saveGuts(f);
  frame_.saveGuts(f);
}

void ERPlanarEntity3DWF::restoreGuts(ERFile& f) {
  EREntity3DWF::restoreGuts(f);
  frame_.restoreGuts(f);
}

std::uint32_t ERPlanarEntity3DWF::binaryStoreSize() const {
  return EREntity3DWF::binaryStoreSize() + frame_.binaryStoreSize();
}
