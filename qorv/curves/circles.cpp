#include "qorv/curves/circles.h"

#include <cmath>
#include <numbers>
#include <ostream>

#include "qorv/curves/ellipses.h"
#include "qorv/foundation/numerics.h"
#include "qorv/measurement/sampling_lists.h"

using namespace qorv;

QORV_DEFINE_CLASS(ERCircle2D);
QORV_DEFINE_CLASS(ERArc2D);

using QuickAlgebra::ERVec;

namespace {

using qorv::detail::kPi;
using qorv::detail::kTwoPi;

using qorv::detail::kCentreTol;

}  // namespace

// ---------------------------------------------------------------------------------------------
// ERCircle2D

ERPoint2D ERCircle2D::pointAt(double theta) const {
  return ERPoint2D(centre_.x() + radius_ * std::cos(theta),
                   centre_.y() + radius_ * std::sin(theta));
}

int ERCircle2D::isValid() const {
  return std::isfinite(centre_.x()) && std::isfinite(centre_.y()) && std::isfinite(radius_) &&
         radius_ >= 0.0;
}

void ERCircle2D::scale(double s) {
  centre_ *= s;
  radius_ *= std::fabs(s);
}

ERMinimax2D ERCircle2D::getBox() const {
  return ERMinimax2D(ERPoint2D(centre_.x() - radius_, centre_.y() - radius_),
                     ERPoint2D(centre_.x() + radius_, centre_.y() + radius_));
}

EREntity::DISTMINRES ERCircle2D::SignedMinimalDistance(const ERPoint2D& p, double& d) const {
  const double rho = distance(p, centre_);
  d = rho - radius_;
  return rho <= kCentreTol ? DISTMIN_DEGENERATE : DISTMIN_NORMAL;
}

void ERCircle2D::transformFrom(const ERTransfo2D& T) {
  T.TransFrom(centre_);
  radius_ *= T.factHomo();
}

void ERCircle2D::transformTo(const ERTransfo2D& T) {
  T.TransTo(centre_);
  radius_ /= T.factHomo();
}

QORV_DEFINE_COPYABLE(ERCircle2D);
std::uint32_t ERCircle2D::binaryStoreSize() const { return 24; }

void ERCircle2D::printOn(std::ostream& os) const {
  os << "Cercle2D : Centre  " << centre_ << '\n'
     << "         : Radius  " << qorv::detail::printable(radius_) << '\n';
}

void ERCircle2D::saveGuts(ERFile& f) const {
  const double v[3] = {centre_.x(), centre_.y(), radius_};
  qorv::detail::saveDoubles(f, v, 3);
}

void ERCircle2D::restoreGuts(ERFile& f) {
  double v[3];
  if (qorv::detail::restoreDoubles(f, v, 3)) centre_.set(v[0], v[1]), radius_ = v[2];
}

// ---------------------------------------------------------------------------------------------
// ERArc2D

ERInfoPoint2D ERArc2D::PtCur(double theta) const {
  const double r = radius(), c = std::cos(theta), s = std::sin(theta);
  return ERInfoPoint2D(theta, 1, pointAt(theta), ERVector2D(-r * s, r * c),
                       ERVector2D(r * c, r * s));
}

ERVector2D ERArc2D::normal(double theta) const {
  return ERVector2D(-std::cos(theta), -std::sin(theta));
}

ERMinimax2D ERArc2D::getBox() const {
  const ERLimites b = getBound();
  const double r = radius();
  return qorv::detail::conicBox<ERMinimax2D>(center(), ERVector2D(r, 0.0), ERVector2D(0.0, r),
                                             b.start(), b.end());
}

double ERArc2D::arcLength(const ERLimites& range, double) const {
  return std::fabs(range.end() - range.start()) * radius();
}

double ERArc2D::arcLength(double) const { return std::fabs(ufin() - udeb()) * radius(); }

void ERArc2D::normalized() {
  double s = udeb(), e = ufin();
  if (0.0 <= s && s < e && e <= kTwoPi) return;
  while (s > kPi) s -= kTwoPi, e -= kTwoPi;
  setLimites(s, e);
}

int ERArc2D::splitAt(t_SmartPtr<ERFiniteEntity2DWF>& first, t_SmartPtr<ERFiniteEntity2DWF>& second,
                     double theta) const {
  first = new ERArc2D(circle(), udeb(), theta);
  second = new ERArc2D(circle(), theta, ufin());
  return 1;
}

int ERArc2D::isValid() const {
  return ERCircle2D::isValid() && std::isfinite(udeb()) && std::isfinite(ufin());
}

void ERArc2D::scale(double s) {
  ERCircle2D::scale(s);
  // p -> s p turns every point half a turn about the centre when s < 0.
  if (s < 0.0) setLimites(udeb() + kPi, ufin() + kPi);
}

int ERArc2D::intersectWithAxeY(double x, ERVec<double>& params) const {
  const ERLimites b = getBound();
  qorv::detail::appendTrigRoots(radius(), 0.0, x - center().x(), b.start(), b.end(), params);
  return params.length();
}

// (centre + r (cos, sin) - p) . n = 0, solved in closed form in the arc's own angles.
int ERArc2D::intersectWith(const ERPoint2D& p, const ERVector2D& v, ERVec<double>& params) const {
  const ERVector2D n = v.getnormalized();
  const ERLimites b = getBound();
  const double r = radius();
  qorv::detail::appendTrigRoots(r * n.x(), r * n.y(), ERVector2D(center(), p) * n, b.start(),
                                b.end(), params);
  return params.length();
}

int ERArc2D::ProjectPoint(const ERPoint2D& p, ERVec<double>& params, double) const {
  if (p == center()) return -1;
  const double theta = std::atan2(p.y() - center().y(), p.x() - center().x());
  const ERLimites b = getBound();
  double reps[8];
  const int n = qorv::detail::windowAngles(theta, b.start(), b.end(), reps, 8);
  for (int i = 0; i < n; ++i) params.append(reps[i]);
  return params.length();
}

EREntity::DISTMINRES ERArc2D::SignedMinimalDistance(const ERPoint2D& p, double& d,
                                                    double& u) const {
  const ERLimites b = getBound();
  const double rho = distance(p, center());
  if (rho <= kCentreTol) {
    d = -radius();
    u = udeb();
    return DISTMIN_DEGENERATE;
  }
  const double theta = std::atan2(p.y() - center().y(), p.x() - center().x());
  if (qorv::detail::windowAngle(theta, b.start(), b.end(), u)) {
    d = rho - radius();
    return DISTMIN_NORMAL;
  }
  const double d0 = distance(p, pointAt(b.start())), d1 = distance(p, pointAt(b.end()));
  u = d0 <= d1 ? b.start() : b.end();
  d = std::fmin(d0, d1);
  if (rho < radius()) d = -d;
  return DISTMIN_END_POINT;
}

EREntity::DISTMINRES ERArc2D::SignedMinimalDistance(const ERPoint2D& p, double& d) const {
  double u = 0.0;
  return SignedMinimalDistance(p, d, u);
}

// A direct map turns the angles by its angle a; a mirror, k [[cos b, sin b], [sin b, -cos b]]
// with b = -a, sends the angle t to b - t (and is its own inverse up to the factor), so the
// arc keeps its points and its direction of travel.
void ERArc2D::transformFrom(const ERTransfo2D& T) {
  ERCircle2D::transformFrom(T);
  const double a = T.angle();
  if (T.isDirect()) {
    setLimites(udeb() + a, ufin() + a);
  } else {
    setLimites(-a - udeb(), -a - ufin());
  }
}

void ERArc2D::transformTo(const ERTransfo2D& T) {
  ERCircle2D::transformTo(T);
  const double a = T.angle();
  if (T.isDirect()) {
    setLimites(udeb() - a, ufin() - a);
  } else {
    setLimites(-a - udeb(), -a - ufin());
  }
}

QORV_DEFINE_COPYABLE(ERArc2D);
std::uint32_t ERArc2D::binaryStoreSize() const { return 40; }

void ERArc2D::printOn(std::ostream& os) const {
  os << "Arc : Centre :" << center() << '\n'
     << "      Rayon  :" << qorv::detail::printable(radius()) << '\n'
     << "      StartAg:" << qorv::detail::printable(udeb()) << '\n'
     << "      EndAg  :" << qorv::detail::printable(ufin());
}

void ERArc2D::saveGuts(ERFile& f) const {
  ERCircle2D::saveGuts(f);
  ERFiniteEntity2DWFBoundedWithAngle::saveGuts(f);
}

void ERArc2D::restoreGuts(ERFile& f) {
  double v[5];
  if (!qorv::detail::restoreDoubles(f, v, 5)) return;
  setCenter(ERPoint2D(v[0], v[1]));
  setRadius(v[2]);
  setLimites(v[3], v[4]);
}

void ERArc2D::prepareApprox(ERPoint12List& list, const ERLimites& range, double) const {
  const double a = range.start(), b = range.end();
  list.append(pointAt(a), a);
  // Quarter turns keep every chord under half a turn, where the mid point measures the error.
  const double quarters = std::fabs(b - a) / (kPi / 2.0);
  const int n = quarters <= 64.0 ? static_cast<int>(quarters) : (quarters > 64.0 ? 64 : 0);
  for (int i = 1; i <= n; ++i) {
    const double t = a + (b - a) * i / (n + 1);
    list.append(pointAt(t), t);
  }
  list.append(pointAt(b), b);
}
