// The space circles and ellipses: a plane curve in the XY plane of a frame. Evaluation, boxes
// and crossings work on C + cos t A + sin t B with C, A, B carried to global coordinates.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <ostream>

#include "qorv/curves/circles.h"
#include "qorv/curves/ellipses.h"
#include "qorv/curves/lines.h"
#include "qorv/foundation/numerics.h"
#include "qorv/measurement/sampling_lists.h"

using namespace qorv;

QORV_DEFINE_CLASS(ERCircle3D);
QORV_DEFINE_CLASS(ERArc3D);
QORV_DEFINE_CLASS(EREllipse3D);
QORV_DEFINE_CLASS(ERArcEllipse3D);

using QuickAlgebra::ERVec;

namespace {

using qorv::detail::kPi;
using qorv::detail::kTwoPi;

using qorv::detail::kCentreTol;

// Process-wide, unguarded: set before concurrent use.
double gProjectionPrecision = 1e-10;

ERPoint3D lift(const ERPmIsometrie3D& F, const ERPoint2D& p) {
  return F >> p.castToPoint3D(Coord3D::Z, 0.0);
}
ERVector3D lift(const ERPmIsometrie3D& F, const ERVector2D& v) {
  return F >> v.castToVector3D(Coord3D::Z, 0.0);
}
ERPoint2D drop(const ERPmIsometrie3D& F, const ERPoint3D& p) {
  return (F << p).castToPoint2D(Coord3D::Z);
}
ERVector2D drop(const ERPmIsometrie3D& F, const ERVector3D& v) {
  return (F << v).castToVector2D(Coord3D::Z);
}

// Seeds at the ends and every quarter turn of the parameter.
template <class Curve>
void quarterSeeds(const Curve& c, ERPoint13List& list, const ERLimites& range) {
  const double a = range.start(), b = range.end();
  list.append(c(a), a);
  const double quarters = std::fabs(b - a) / (kPi / 2.0);
  const int n = quarters <= 64.0 ? static_cast<int>(quarters) : (quarters > 64.0 ? 64 : 0);
  for (int i = 1; i <= n; ++i) {
    const double t = a + (b - a) * i / (n + 1);
    list.append(c(t), t);
  }
  list.append(c(b), b);
}

// The extent of C + cos t A + sin t B along the unit w, over [lo, hi].
void extentAlong(const ERVector3D& A, const ERVector3D& B, const ERVector3D& w, double lo,
                 double hi, double& smin, double& smax) {
  const double a = A * w, b = B * w;
  auto s = [&](double t) { return a * std::cos(t) + b * std::sin(t); };
  smin = std::fmin(s(lo), s(hi));
  smax = std::fmax(s(lo), s(hi));
  const double t = std::atan2(b, a);
  for (double e : {t, t + kPi})
    if (qorv::detail::angleInRange(e, lo, hi))
      smin = std::fmin(smin, s(e)), smax = std::fmax(smax, s(e));
}

// The projection of C + cos t A + sin t B (t from t0 to t1, either way) onto F, for a curve of
// normal N.
t_SmartPtr<EREntity2DWF> projectConic(const ERPmIsometrie3D& F, const ERVector3D& N,
                                      const ERPoint3D& C, const ERVector3D& A, const ERVector3D& B,
                                      double t0, double t1, bool arc) {
  const double lo = std::fmin(t0, t1), hi = std::fmax(t0, t1);
  const ERVector3D M = F.getVector(Coord3D::Z);
  const double p = gProjectionPrecision;
  if ((N ^ M).norme() > p && std::fabs(N * M) <= p) {
    const ERVector3D w = (N ^ M).normalize();
    double smin = 0, smax = 0;
    extentAlong(A, B, w, lo, hi, smin, smax);
    return t_SmartPtr<EREntity2DWF>(new ERSegment2D(drop(F, C + smin * w), drop(F, C + smax * w)));
  }
  const EREllipse2D e = qorv::detail::ellipseFromConjugates(drop(F, C), drop(F, A), drop(F, B));
  if (!arc) return t_SmartPtr<EREntity2DWF>(new EREllipse2D(e));
  // The ends' central angles about the projected major axis, in the arc's own direction. The
  // projected curve is e run by its eccentric parameter shifted by a constant (forwards when
  // the projection keeps the orientation, backwards when it turns it over), and a central angle
  // stays within a quarter turn of its eccentric parameter: the end's angle is the
  // representative nearest to the start's moved by the sweep, whatever the sweep.
  const ERPoint2D c2 = e.center();
  const ERVector2D X = e.getBigAxisDirection(), Y = e.getSmallAxisDirection();
  auto central = [&](double t) {
    const ERVector2D v(c2, drop(F, C + std::cos(t) * A + std::sin(t) * B));
    return std::atan2(v * Y, v * X);
  };
  const bool kept = (drop(F, A) ^ drop(F, B)) > 0.0;
  const double s = central(t0);
  const double aim = kept ? s + (t1 - t0) : s - (t1 - t0);
  const double t = aim + std::remainder(central(t1) - aim, kTwoPi);
  return t_SmartPtr<EREntity2DWF>(new ERArcEllipse2D(e, s, t));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ERCircle3D

ERCircle3D::ERCircle3D(const ERPoint3D& centre, const ERVector3D& normal, double r)
    : ERPlanarEntity3DWF(ERChgRepere3D(normal, centre)), circle_(ERPoint2D(), r) {}

ERCircle3D::ERCircle3D(const ERCircle2D& c, Coord3D axis, double h)
    : ERPlanarEntity3DWF(ERChgRepere3D(ERVector2D(1, 0).castToVector3D(axis, 0.0),
                                       ERVector2D(0, 1).castToVector3D(axis, 0.0),
                                       ERPoint2D().castToPoint3D(axis, h))),
      circle_(c.center(), c.radius()) {}

ERPoint3D ERCircle3D::center() const { return lift(frame(), circle_.center()); }

void ERCircle3D::setCenter(const ERPoint3D& c) {
  ERPoint3D v = c;
  v -= ERVector3D(center());
  translateFrame(v);
}

void ERCircle3D::setNormale(const ERVector3D& n) {
  const ERPoint3D c = center();
  setRepere(ERChgRepere3D(n, c));
  circle_.setCenter(ERPoint2D());
}

EREntity::DISTMINRES ERCircle3D::SignedMinimalDistance(const ERPoint3D& p, double& d) const {
  const ERPoint3D q = frame() << p;
  const double rho = std::hypot(q.x() - circle_.center().x(), q.y() - circle_.center().y());
  d = std::hypot(rho - radius(), q.z());
  return rho <= kCentreTol ? DISTMIN_DEGENERATE : DISTMIN_NORMAL;
}

// The frame's origin and the plane centre both scale: a centre away from the frame's origin
// moves too.
void ERCircle3D::scale(double s) {
  scaleFrame(s);
  circle_.scale(s);
}

int ERCircle3D::isValid() const { return circle_.isValid() && frameIsValid(); }

void ERCircle3D::translate(const ERPoint3D& v) { translateFrame(v); }

void ERCircle3D::transformFrom(const ERPmSimilitude3D& T) {
  const double k = moveFrame(T, true);
  circle_.scale(k);
}

void ERCircle3D::transformTo(const ERPmSimilitude3D& T) {
  const double k = moveFrame(T, false);
  circle_.scale(k);
}

void ERCircle3D::SetProjectionPrecision(double p) { gProjectionPrecision = p; }
double ERCircle3D::GetProjectionPrecision() { return gProjectionPrecision; }

int ERCircle3D::Project2DWillBeCircle(const ERPmIsometrie3D& F) const {
  return (normale() ^ F.getVector(Coord3D::Z)).norme() <= gProjectionPrecision;
}

int ERCircle3D::Project2DWillBeSegment(const ERPmIsometrie3D& F) const {
  return std::fabs(normale() * F.getVector(Coord3D::Z)) <= gProjectionPrecision;
}

int ERCircle3D::Project2DWillBeEllipse(const ERPmIsometrie3D& F) const {
  return !Project2DWillBeCircle(F) && !Project2DWillBeSegment(F);
}

t_SmartPtr<EREntity2DWF> ERCircle3D::get2DEntProjectedOn(const ERPmIsometrie3D& F) const {
  if (Project2DWillBeCircle(F))
    return t_SmartPtr<EREntity2DWF>(new ERCircle2D(drop(F, center()), radius()));
  const double r = radius();
  return projectConic(F, normale(), center(), r * axisX(), r * axisY(), 0.0, kTwoPi, false);
}

QORV_DEFINE_COPYABLE(ERCircle3D);

void ERCircle3D::printOn(std::ostream& os) const {
  os << "Cercle :" << '\n'
     << "       : Normale " << normale() << '\n'
     << "       : Centre  " << center() << '\n'
     << "       : Radius  " << qorv::detail::printable(radius()) << '\n';
}

void ERCircle3D::saveGuts(ERFile& f) const {
  ERPlanarEntity3DWF::saveGuts(f);
  circle_.saveGuts(f);
}

void ERCircle3D::restoreGuts(ERFile& f) {
  ERPlanarEntity3DWF::restoreGuts(f);
  circle_.restoreGuts(f);
}

std::uint32_t ERCircle3D::binaryStoreSize() const {
  return ERPlanarEntity3DWF::binaryStoreSize() + circle_.binaryStoreSize();
}

t_SmartPtr<EREntity3DWF> ERCircle2D::get3DEquiv(const ERPmIsometrie3D& frame) const {
  return t_SmartPtr<EREntity3DWF>(new ERCircle3D(frame, *this));
}

// ---------------------------------------------------------------------------------------------
// ERArc3D

ERPoint3D ERArc3D::operator()(double theta) const { return lift(frame(), circle_.pointAt(theta)); }

ERInfoPoint3DWF ERArc3D::PtCur(double theta) const {
  return ERInfoPoint3DWF(Arc2D().PtCur(theta), frame(), Coord3D::Z, 0.0);
}

ERMinimax3D ERArc3D::getBox() const {
  const ERLimites b = getBound();
  const double r = radius();
  return qorv::detail::conicBox<ERMinimax3D>(center(), r * axisX(), r * axisY(), b.start(),
                                             b.end());
}

double ERArc3D::arcLength(const ERLimites& range, double tol) const {
  return Arc2D().arcLength(range, tol);
}

double ERArc3D::arcLength(double tol) const { return Arc2D().arcLength(tol); }

int ERArc3D::splitAt(t_SmartPtr<ERFiniteEntity3DWF>& first, t_SmartPtr<ERFiniteEntity3DWF>& second,
                     double theta) const {
  first = new ERArc3D(frame(), circle_, udeb(), theta);
  second = new ERArc3D(frame(), circle_, theta, ufin());
  return 1;
}

int ERArc3D::isValid() const {
  return ERCircle3D::isValid() && std::isfinite(udeb()) && std::isfinite(ufin());
}

void ERArc3D::scale(double s) {
  ERCircle3D::scale(s);
  if (s < 0.0) setLimites(udeb() + kPi, ufin() + kPi);
}

int ERArc3D::intersectWith(const ERPoint3D& p, const ERVector3D& v, ERVec<double>& params) const {
  const ERVector3D n = v.getnormalized();
  const ERLimites b = getBound();
  const double r = radius();
  qorv::detail::appendTrigRoots(r * (axisX() * n), r * (axisY() * n), ERVector3D(center(), p) * n,
                                b.start(), b.end(), params);
  return params.length();
}

int ERArc3D::intersectWithPlanZ(double z, ERVec<double>& params) const {
  const ERLimites b = getBound();
  const double r = radius();
  qorv::detail::appendTrigRoots(r * axisX().z(), r * axisY().z(), z - center().z(), b.start(),
                                b.end(), params);
  return params.length();
}

EREntity::DISTMINRES ERArc3D::SignedMinimalDistance(const ERPoint3D& p, double& d) const {
  const ERPoint3D q = frame() << p;
  double d2 = 0.0, u = 0.0;
  const DISTMINRES kind = Arc2D().SignedMinimalDistance(q.castToPoint2D(Coord3D::Z), d2, u);
  if (kind == DISTMIN_END_POINT) {
    d = std::fmin(distance(p, firstPt()), distance(p, lastPt()));
    return kind;
  }
  d = std::hypot(d2, q.z());
  return kind;
}

t_SmartPtr<EREntity2DWF> ERArc3D::get2DEntProjectedOn(const ERPmIsometrie3D& F) const {
  if (Project2DWillBeCircle(F)) {
    const ERPoint2D c = drop(F, center());
    const ERPoint2D s = drop(F, firstPt());
    const double start = std::atan2(s.y() - c.y(), s.x() - c.x());
    const double sweep = ufin() - udeb();
    const double end = normale() * F.getVector(Coord3D::Z) > 0.0 ? start + sweep : start - sweep;
    return t_SmartPtr<EREntity2DWF>(new ERArc2D(c, radius(), start, end));
  }
  const double r = radius();
  return projectConic(F, normale(), center(), r * axisX(), r * axisY(), udeb(), ufin(), true);
}

QORV_DEFINE_COPYABLE(ERArc3D);

void ERArc3D::printOn(std::ostream& os) const {
  ERCircle3D::printOn(os);
  ERFiniteEntity3DWFBoundedWithAngle::printOn(os);
}

void ERArc3D::saveGuts(ERFile& f) const {
  ERCircle3D::saveGuts(f);
  ERFiniteEntity3DWFBoundedWithAngle::saveGuts(f);
}

void ERArc3D::restoreGuts(ERFile& f) {
  ERCircle3D::restoreGuts(f);
  ERFiniteEntity3DWFBoundedWithAngle::restoreGuts(f);
}

std::uint32_t ERArc3D::binaryStoreSize() const { return ERCircle3D::binaryStoreSize() + 16; }

void ERArc3D::prepareApprox(ERPoint13List& list, const ERLimites& range, double) const {
  quarterSeeds(*this, list, range);
}

t_SmartPtr<EREntity3DWF> ERArc2D::get3DEquiv(const ERPmIsometrie3D& frame) const {
  return t_SmartPtr<EREntity3DWF>(new ERArc3D(frame, *this));
}

// ---------------------------------------------------------------------------------------------
// EREllipse3D

ERPoint3D EREllipse3D::center() const { return lift(frame(), ellipse_.center()); }

ERPoint3D EREllipse3D::get_closest(const ERPoint3D& p) const {
  return lift(frame(), ellipse_.get_closest(drop(frame(), p)));
}

EREntity::DISTMINRES EREllipse3D::SignedMinimalDistance(const ERPoint3D& p, double& d) const {
  const ERPoint3D q = frame() << p;
  double t = 0.0;
  const ERPoint2D n = ellipse_.nearest(q.castToPoint2D(Coord3D::Z), t);
  d = std::hypot(distance(n, q.castToPoint2D(Coord3D::Z)), q.z());
  return DISTMIN_NORMAL;
}

void EREllipse3D::scale(double s) {
  scaleFrame(s);
  ellipse_.scale(s);
}

void EREllipse3D::translate(const ERPoint3D& v) { translateFrame(v); }

void EREllipse3D::transformFrom(const ERPmSimilitude3D& T) {
  const double k = moveFrame(T, true);
  ellipse_.scale(k);
}

void EREllipse3D::transformTo(const ERPmSimilitude3D& T) {
  const double k = moveFrame(T, false);
  ellipse_.scale(k);
}

t_SmartPtr<EREntity2DWF> EREllipse3D::get2DEntProjectedOn(const ERPmIsometrie3D& F) const {
  const ERVector3D A = lift(frame(), ellipse_.getBigAxe() / 2.0 * ellipse_.getBigAxisDirection());
  const ERVector3D B =
      lift(frame(), ellipse_.getSmallAxe() / 2.0 * ellipse_.getSmallAxisDirection());
  return projectConic(F, normale(), center(), A, B, 0.0, kTwoPi, false);
}

int EREllipse3D::isValid() const { return ellipse_.isValid() && frameIsValid(); }

QORV_DEFINE_COPYABLE(EREllipse3D);

void EREllipse3D::printOn(std::ostream& os) const {
  os << "Ellipse 3D :" << '\n' << "       : Normale " << normale() << '\n';
  ellipse_.printOn(os);
}

void EREllipse3D::saveGuts(ERFile& f) const {
  ERPlanarEntity3DWF::saveGuts(f);
  ellipse_.saveGuts(f);
}

void EREllipse3D::restoreGuts(ERFile& f) {
  ERPlanarEntity3DWF::restoreGuts(f);
  ellipse_.restoreGuts(f);
}

std::uint32_t EREllipse3D::binaryStoreSize() const {
  return ERPlanarEntity3DWF::binaryStoreSize() + ellipse_.binaryStoreSize();
}

t_SmartPtr<EREntity3DWF> EREllipse2D::get3DEquiv(const ERPmIsometrie3D& frame) const {
  return t_SmartPtr<EREntity3DWF>(new EREllipse3D(frame, *this));
}

// ---------------------------------------------------------------------------------------------
// ERArcEllipse3D

ERPoint3D ERArcEllipse3D::operator()(double t) const { return lift(frame(), ellipse_.pointAt(t)); }

ERPoint3D ERArcEllipse3D::firstPt() const { return lift(frame(), Arc2D().firstPt()); }
ERPoint3D ERArcEllipse3D::lastPt() const { return lift(frame(), Arc2D().lastPt()); }

ERInfoPoint3DWF ERArcEllipse3D::randomPoint() const {
  const ERArcEllipse2D arc = Arc2D();
  const ERLimites r = arc.getBound();
  const bool forward = !(ufin() < udeb());
  return qorv::detail::randomPointBetween(*this, forward ? r.start() : r.end(),
                                          forward ? r.end() : r.start());
}

ERVec<ERPoint3D> ERArcEllipse3D::approxime(int n) const {
  const ERLimites r = getBound();
  const bool forward = !(ufin() < udeb());
  return qorv::detail::sampleBetween(*this, n, forward ? r.start() : r.end(),
                                     forward ? r.end() : r.start());
}

void ERArcEllipse3D::scale(double s) {
  const bool round = distance2(ellipse_.getFocus1(), ellipse_.getFocus2()) == 0.0;
  EREllipse3D::scale(s);
  if (round && s < 0.0) setLimites(udeb() + kPi, ufin() + kPi);
}

int ERArcEllipse3D::isValid() const {
  return EREllipse3D::isValid() && std::isfinite(udeb()) && std::isfinite(ufin());
}

int ERArcEllipse3D::intersectWith(const ERPoint3D& p, const ERVector3D& v,
                                  ERVec<double>& params) const {
  const ERVector3D n = v.getnormalized();
  const ERLimites b = getBound();
  const ERVector3D A = lift(frame(), ellipse_.getBigAxe() / 2.0 * ellipse_.getBigAxisDirection());
  const ERVector3D B =
      lift(frame(), ellipse_.getSmallAxe() / 2.0 * ellipse_.getSmallAxisDirection());
  qorv::detail::appendTrigRoots(A * n, B * n, ERVector3D(center(), p) * n, b.start(), b.end(),
                                params);
  return params.length();
}

// The nearest point of a plane curve to p is the nearest to p's foot on the plane.
EREntity::DISTMINRES ERArcEllipse3D::SignedMinimalDistance(const ERPoint3D& p, double& d) const {
  const ERPoint3D q = frame() << p;
  bool atEnd = false;
  double dist = 0.0;
  Arc2D().nearestOnArc(q.castToPoint2D(Coord3D::Z), dist, atEnd);
  d = std::hypot(dist, q.z());
  return atEnd ? DISTMIN_END_POINT : DISTMIN_NORMAL;
}

t_SmartPtr<EREntity2DWF> ERArcEllipse3D::get2DEntProjectedOn(const ERPmIsometrie3D& F) const {
  const ERArcEllipse2D arc = Arc2D();
  const ERLimites b = arc.getBound();
  const ERVector3D A = lift(frame(), ellipse_.getBigAxe() / 2.0 * ellipse_.getBigAxisDirection());
  const ERVector3D B =
      lift(frame(), ellipse_.getSmallAxe() / 2.0 * ellipse_.getSmallAxisDirection());
  const bool forward = !(ufin() < udeb());
  return projectConic(F, normale(), center(), A, B, forward ? b.start() : b.end(),
                      forward ? b.end() : b.start(), true);
}

ERInfoPoint3DWF ERArcEllipse3D::PtCur(double t) const {
  return ERInfoPoint3DWF(Arc2D().PtCur(t), frame(), Coord3D::Z, 0.0);
}

ERMinimax3D ERArcEllipse3D::getBox() const {
  const ERLimites b = getBound();
  const ERVector3D A = lift(frame(), ellipse_.getBigAxe() / 2.0 * ellipse_.getBigAxisDirection());
  const ERVector3D B =
      lift(frame(), ellipse_.getSmallAxe() / 2.0 * ellipse_.getSmallAxisDirection());
  return qorv::detail::conicBox<ERMinimax3D>(center(), A, B, b.start(), b.end());
}

double ERArcEllipse3D::arcLength(const ERLimites& range, double tol) const {
  return Arc2D().arcLength(range, tol);
}

double ERArcEllipse3D::arcLength(double tol) const { return Arc2D().arcLength(tol); }

int ERArcEllipse3D::splitAt(t_SmartPtr<ERFiniteEntity3DWF>& first,
                            t_SmartPtr<ERFiniteEntity3DWF>& second, double t) const {
  t_SmartPtr<ERFiniteEntity2DWF> a, b;
  Arc2D().splitAt(a, b, t);
  first = new ERArcEllipse3D(frame(), ellipse_, a->udeb(), a->ufin());
  second = new ERArcEllipse3D(frame(), ellipse_, b->udeb(), b->ufin());
  return 1;
}

int ERArcEllipse3D::intersectWithPlanZ(double z, ERVec<double>& params) const {
  const ERLimites b = getBound();
  const ERVector3D A = lift(frame(), ellipse_.getBigAxe() / 2.0 * ellipse_.getBigAxisDirection());
  const ERVector3D B =
      lift(frame(), ellipse_.getSmallAxe() / 2.0 * ellipse_.getSmallAxisDirection());
  qorv::detail::appendTrigRoots(A.z(), B.z(), z - center().z(), b.start(), b.end(), params);
  return params.length();
}

QORV_DEFINE_COPYABLE(ERArcEllipse3D);

void ERArcEllipse3D::printOn(std::ostream& os) const {
  EREllipse3D::printOn(os);
  ERFiniteEntity3DWFBoundedWithAngle::printOn(os);
}

void ERArcEllipse3D::saveGuts(ERFile& f) const {
  EREllipse3D::saveGuts(f);
  ERFiniteEntity3DWFBoundedWithAngle::saveGuts(f);
}

void ERArcEllipse3D::restoreGuts(ERFile& f) {
  EREllipse3D::restoreGuts(f);
  ERFiniteEntity3DWFBoundedWithAngle::restoreGuts(f);
}

std::uint32_t ERArcEllipse3D::binaryStoreSize() const {
  return EREllipse3D::binaryStoreSize() + 16;
}

void ERArcEllipse3D::prepareApprox(ERPoint13List& list, const ERLimites& range, double) const {
  quarterSeeds(*this, list, range);
}

t_SmartPtr<EREntity3DWF> ERArcEllipse2D::get3DEquiv(const ERPmIsometrie3D& frame) const {
  return t_SmartPtr<EREntity3DWF>(new ERArcEllipse3D(frame, ellipse(), udeb(), ufin()));
}
