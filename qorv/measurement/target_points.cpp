#include "qorv/measurement/target_points.h"

#include <cmath>
#include <ostream>

#include "qorv/foundation/numerics.h"
#include "qorv/persistence/file.h"
#include "qorv/platform/archive.h"

using namespace qorv::platform;

namespace {

using qorv::detail::finite;

// The unit direction of any finite non-zero vector; zero for zero or a non-finite one.
ERVector3D unitOrZero(const ERVector3D& v) {
  if (!finite(v)) return ERVector3D();
  return v.getnormalized();
}

double length(const ERVector3D& v) { return v.norme(); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// gmTargetPoint

QORV_DEFINE_CLASS(gmTargetPoint);
QORV_DEFINE_COPYABLE(gmTargetPoint);
std::uint32_t gmTargetPoint::binaryStoreSize() const { return EREntity3D::binaryStoreSize() + 125; }

gmTargetPoint::gmTargetPoint(const ERPoint3D& target, const ERCMMPointWithDiameter& measured)
    : mode_(DIRECT), target_(target), measured_(measured), calculated_(measured.probe_center()) {}

gmTargetPoint::gmTargetPoint(const ERPoint3D& target, const ERCMMPointWithDiameter& measured,
                             const ERVector3D& normal)
    : mode_(ON_PLANE), target_(target), measured_(measured) {
  gmCompensate(measured.probe_center(), measured.probe_diameter(), normal, normal_, calculated_);
}

void gmCompensate(const ERPoint3D& centre, double diameter, const ERVector3D& normal,
                  ERVector3D& unit, ERPoint3D& calculated) {
  unit = unitOrZero(normal);
  calculated = centre - (diameter / 2.0) * unit;
  // A zero normal leaves the centre exactly, even for an infinite diameter.
  if (unit == ERVector3D()) calculated = centre;
}

double gmTargetPoint::toPlane() const { return (calculated_ - target_) * normal_; }

double gmTargetPoint::onPlane() const {
  const ERVector3D w = calculated_ - target_;
  return length(w - (w * normal_) * normal_);
}

bool gmTargetPoint::get_surface_normal(ERVector3D& n) const {
  if (mode_ != ON_PLANE) return false;
  n = normal_;
  return true;
}

bool gmTargetPoint::get_distance_to_plane(double& d) const {
  if (mode_ != ON_PLANE) return false;
  d = toPlane();
  return true;
}

bool gmTargetPoint::get_distance_on_plane(double& d) const {
  if (mode_ != ON_PLANE) return false;
  d = onPlane();
  return true;
}

double gmTargetPoint::distance_to_point() const { return qorv::distance(target_, calculated_); }

double gmTargetPoint::acceptance_distance() const {
  return mode_ == ON_PLANE ? onPlane() : distance_to_point();
}

void gmTargetPoint::scale(double f) {
  target_ *= f;
  calculated_ *= f;
  measured_.scale(f);
}

void gmTargetPoint::translate(const ERPoint3D& v) {
  target_ += v;
  calculated_ += v;
  measured_.set(measured_.probe_center() + ERVector3D(v.x(), v.y(), v.z()),
                measured_.pretouch_point() + ERVector3D(v.x(), v.y(), v.z()), measured_.id());
}

template <bool Forward>
void gmTargetPoint::move(const ERPmSimilitude3D& T) {
  auto map = [&](const auto& x) { return Forward ? T >> x : T << x; };
  target_ = map(target_);
  calculated_ = map(calculated_);
  measured_.set(map(measured_.probe_center()), map(measured_.pretouch_point()), measured_.id());
  normal_ = unitOrZero(map(normal_));
}

void gmTargetPoint::transformFrom(const ERPmSimilitude3D& T) { move<true>(T); }
void gmTargetPoint::transformTo(const ERPmSimilitude3D& T) { move<false>(T); }

void gmTargetPoint::printOn(std::ostream& os) const {
  os << "gmTargetPoint {" << std::endl;
  if (mode_ == DIRECT) {
    os << "  DIRECT" << std::endl;
    os << "  Target:   " << target_ << std::endl;
    os << "  Point:    " << static_cast<const ERCMMPoint&>(measured_);
    os << "  Calc:     " << calculated_ << std::endl;
    os << "  Distance: " << distance_to_point() << std::endl;
  } else if (mode_ == ON_PLANE) {
    os << "  ON PLANE" << std::endl;
    os << "  Target:        " << target_ << std::endl;
    os << "  Point:         " << static_cast<const ERCMMPoint&>(measured_);
    os << "  Calc:          " << calculated_ << std::endl;
    os << "  Distance:      " << distance_to_point() << std::endl;
    os << "  Normal:        " << normal_ << std::endl;
    os << "  Dist to plane: " << toPlane() << std::endl;
    os << "  Dist on plane: " << onPlane() << std::endl;
  }
  os << "}" << std::endl;
}

void gmTargetPoint::saveGuts(ERFile& f) const {
  EREntity3D::saveGuts(f);
  f.Write(static_cast<unsigned char>(mode_));
  f << target_;
  f.Write(static_cast<int>(measured_.id()));
  f << measured_.probe_center() << measured_.pretouch_point() << calculated_ << normal_;
}

void gmTargetPoint::restoreGuts(ERFile& f) {
  EREntity3D::restoreGuts(f);
  unsigned char mode = 0;
  double target[3];
  int id = 0;
  double rest[12];
  if (!f.Read(mode) || !qorv::detail::restoreDoubles(f, target, 3) || !f.Read(id) ||
      !qorv::detail::restoreDoubles(f, rest, 12))
    return;
  mode_ = mode;
  target_ = ERPoint3D(target[0], target[1], target[2]);
  measured_.set(ERPoint3D(rest[0], rest[1], rest[2]), ERPoint3D(rest[3], rest[4], rest[5]), id);
  calculated_ = ERPoint3D(rest[6], rest[7], rest[8]);
  normal_ = ERVector3D(rest[9], rest[10], rest[11]);
}

void gmTargetPoint::write_serialize(CArchive& ar) const {
  ar << mode_ << target_ << measured_ << calculated_ << normal_;
}

void gmTargetPoint::read_serialize(CArchive& ar) {
  std::uint8_t mode = 0;
  ERPoint3D target, calculated;
  ERCMMPointWithDiameter measured;
  ERVector3D normal;
  ar >> mode >> target >> measured >> calculated >> normal;
  mode_ = mode;
  target_ = target;
  measured_ = measured;
  calculated_ = calculated;
  normal_ = normal;
}

void gmTargetPoint::read_serialize_old(CArchive& ar) {
  std::uint8_t mode = 0;
  ERPoint3D target, calculated;
  ERVector3D normal;
  ar >> mode >> target >> calculated >> normal;
  mode_ = mode;
  target_ = target;
  calculated_ = calculated;
  normal_ = normal;
  measured_ = ERCMMPointWithDiameter(calculated, calculated + ERVector3D(0, 0, 1), 0.0, 0);
}

// ---------------------------------------------------------------------------------------------
// Persistent points and vectors

QORV_DEFINE_CLASS(ERPersistentPoint2D);
QORV_DEFINE_CLASS(ERPersistentPoint3D);
QORV_DEFINE_CLASS(ERPersistentVector3D);
QORV_DEFINE_CLASS(gmPersistentPoint3DPair);
QORV_DEFINE_COPYABLE(ERPersistentPoint2D);
QORV_DEFINE_COPYABLE(ERPersistentPoint3D);
QORV_DEFINE_COPYABLE(ERPersistentVector3D);
QORV_DEFINE_COPYABLE(gmPersistentPoint3DPair);
std::uint32_t ERPersistentPoint2D::binaryStoreSize() const {
  return EREntity2D::binaryStoreSize() + 16;
}
std::uint32_t ERPersistentPoint3D::binaryStoreSize() const {
  return EREntity3D::binaryStoreSize() + 24;
}
std::uint32_t ERPersistentVector3D::binaryStoreSize() const {
  return ERObject::binaryStoreSize() + 24;
}
std::uint32_t gmPersistentPoint3DPair::binaryStoreSize() const {
  return EREntity3D::binaryStoreSize() + 48;
}

void ERPersistentPoint2D::printOn(std::ostream& os) const { os << "(P) " << point(); }
void ERPersistentPoint2D::saveGuts(ERFile& f) const {
  EREntity2D::saveGuts(f);
  f << point();
}
void ERPersistentPoint2D::restoreGuts(ERFile& f) {
  EREntity2D::restoreGuts(f);
  f >> static_cast<ERPoint2D&>(*this);
}

void ERPersistentPoint3D::printOn(std::ostream& os) const { os << "(P) " << point(); }
void ERPersistentPoint3D::saveGuts(ERFile& f) const {
  EREntity3D::saveGuts(f);
  f << point();
}
void ERPersistentPoint3D::restoreGuts(ERFile& f) {
  EREntity3D::restoreGuts(f);
  f >> point3D();
}

void ERPersistentVector3D::printOn(std::ostream& os) const { os << "(P) " << vector(); }
void ERPersistentVector3D::saveGuts(ERFile& f) const {
  ERObject::saveGuts(f);
  f << vector();
}
void ERPersistentVector3D::restoreGuts(ERFile& f) {
  ERObject::restoreGuts(f);
  f >> static_cast<ERVector3D&>(*this);
}

void gmPersistentPoint3DPair::scale(double f) {
  first_.scale(f);
  second_.scale(f);
}
void gmPersistentPoint3DPair::translate(const ERPoint3D& v) {
  first_.translate(v);
  second_.translate(v);
}
void gmPersistentPoint3DPair::transformFrom(const ERPmSimilitude3D& T) {
  first_.transformFrom(T);
  second_.transformFrom(T);
}
void gmPersistentPoint3DPair::transformTo(const ERPmSimilitude3D& T) {
  first_.transformTo(T);
  second_.transformTo(T);
}
void gmPersistentPoint3DPair::printOn(std::ostream& os) const {
  first_.printOn(os);
  second_.printOn(os);
}
void gmPersistentPoint3DPair::saveGuts(ERFile& f) const {
  EREntity3D::saveGuts(f);
  first_.saveGuts(f);
  second_.saveGuts(f);
}
void gmPersistentPoint3DPair::restoreGuts(ERFile& f) {
  EREntity3D::restoreGuts(f);
  double v[6];
  if (!qorv::detail::restoreDoubles(f, v, 6)) return;
  first_ = ERPoint3D(v[0], v[1], v[2]);
  second_ = ERPoint3D(v[3], v[4], v[5]);
}
