// qorv/measurement/target_points.h
//
// Target points (a nominal point paired with a probe measurement and the point derived from it
// for comparison) and the plain points and vectors a host stores in the object database.
//
// Conventions a caller gets wrong:
// - DIRECT: calculated = probe centre, normal zero. ON PLANE: calculated = probe centre minus
//   the probe radius along the unit normal, the normal pointing OUT of the material (towards the
//   probe): a bore measured oversize or a shaft undersize gives a negative distance to plane.
// - A normal of any finite length compensates as its direction (1e-200 and 1e200 alike). A zero
//   normal, or one with a NaN or infinite component, is stored as zero: calculated = probe
//   centre, distance to plane 0, distance on plane |Q - T|; never a NaN.
// - The distance to plane is computed as (Q - T)·n, the same quantity as the plane through T
//   evaluated at Q, without the cancellation of the plane form far from the origin; the
//   distance on plane is the length of the part of Q - T across n.
// - The calculated point and the normal are computed once, at construction: scale, translate
//   and the transformations move them, they are never recomputed. A similitude keeps the normal
//   a unit vector (its direction is mapped, then normalised); the probe diameter stays as it is
//   under transformations and is multiplied by scale().
// - A mode other than 0 (DIRECT) and 1 (ON PLANE), read from a file, prints only the first and
//   last lines, and every query that can answer false does; acceptance_distance() is |T - Q|.
// - The probe diameter is not part of the stored record: restoring keeps the diameter the object
//   had.
//
// Stored images (little-endian):
//   gmTargetPoint        mode (1 byte), target (24), probe identifier (int32), probe centre (24),
//                        pretouch point (24), calculated point (24), normal (24): 125 bytes
//   ERPersistentPoint2D  the point (16)    ERPersistentPoint3D, ERPersistentVector3D  (24)
//   gmPersistentPoint3DPair  the first point's record, then the second's (48)
// Archive forms (framework archive): write_serialize / read_serialize: mode (1 byte), target
// (3 doubles), the probe point (uint16 identifier, centre, pretouch, diameter), calculated point,
// normal; read_serialize_old: mode, target, calculated point, normal.
#pragma once

#include <cstdint>
#include <ostream>

#include "qorv/foundation/entity.h"
#include "qorv/measurement/probe_points.h"

// The compensation of a target point ON PLANE: unit = the normal made unit (zero for a zero or
// non-finite one), calculated = centre - diameter / 2 * unit (the centre itself without a unit).
QORV_API void gmCompensate(const ERPoint3D& centre, double diameter, const ERVector3D& normal, ERVector3D& unit,
                           ERPoint3D& calculated);

class QORV_API gmTargetPoint : public EREntity3D {
 public:
  QORV_DECLARE_CLASS(gmTargetPoint, EREntity3D);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  enum Mode : std::uint8_t { DIRECT = 0, ON_PLANE = 1 };

  gmTargetPoint() = default;
  gmTargetPoint(const ERPoint3D& target, const ERCMMPointWithDiameter& measured);
  gmTargetPoint(const ERPoint3D& target, const ERCMMPointWithDiameter& measured,
                const ERVector3D& normal);
  gmTargetPoint(const gmTargetPoint&) = default;
  gmTargetPoint& operator=(const gmTargetPoint&) = default;

  int mode() const { return mode_; }
  bool is_compensated() const { return mode_ == ON_PLANE; }
  const ERPoint3D& target_point() const { return target_; }
  const ERCMMPointWithDiameter& measured_point() const { return measured_; }
  const ERPoint3D& calculated_point() const { return calculated_; }
  // False (the output untouched) unless ON PLANE.
  bool get_surface_normal(ERVector3D& n) const;
  bool get_distance_to_plane(double& d) const;
  bool get_distance_on_plane(double& d) const;
  double distance_to_point() const;
  double acceptance_distance() const;

  void scale(double f) override;
  void translate(const ERPoint3D& v) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;
  QORV_DECLARE_STORED(gmTargetPoint);

  // Loading is all or nothing: a short archive throws and leaves the point as it was.
  void write_serialize(::qorv::platform::CArchive& ar) const;
  void read_serialize(::qorv::platform::CArchive& ar);
  void read_serialize_old(::qorv::platform::CArchive& ar);

 private:
  template <bool Forward>
  void move(const ERPmSimilitude3D& T);
  double toPlane() const;
  double onPlane() const;

  std::uint8_t mode_ = DIRECT;
  ERPoint3D target_;
  ERCMMPointWithDiameter measured_;
  ERPoint3D calculated_;
  ERVector3D normal_;
};

class QORV_API ERPersistentPoint2D : public EREntity2D, public ERPoint2D {
 public:
  QORV_DECLARE_CLASS(ERPersistentPoint2D, EREntity2D);

  ERPersistentPoint2D() = default;
  ERPersistentPoint2D(const ERPoint2D& p) : ERPoint2D(p) {}  // NOLINT
  ERPersistentPoint2D(const ERPersistentPoint2D&) = default;
  ERPersistentPoint2D& operator=(const ERPersistentPoint2D&) = default;
  ERPersistentPoint2D& operator=(const ERPoint2D& p) {
    ERPoint2D::operator=(p);
    return *this;
  }

  const ERPoint2D& point() const { return *this; }
  void scale(double f) override { *this *= f; }
  void translate(const ERPoint2D& v) override { *this += v; }
  void translate(const ERVector2D& v) { ERPoint2D::translate(v); }
  void transformFrom(const ERTransfo2D& T) override { T.TransFrom(*this); }
  void transformTo(const ERTransfo2D& T) override { T.TransTo(*this); }
  QORV_DECLARE_STORED(ERPersistentPoint2D);
};

class QORV_API ERPersistentPoint3D : public EREntity3D, public ERPoint3D {
 public:
  QORV_DECLARE_CLASS(ERPersistentPoint3D, EREntity3D);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  ERPersistentPoint3D() = default;
  ERPersistentPoint3D(const ERPoint3D& p) : ERPoint3D(p) {}  // NOLINT
  ERPersistentPoint3D(const ERPersistentPoint3D&) = default;
  ERPersistentPoint3D& operator=(const ERPersistentPoint3D&) = default;
  ERPersistentPoint3D& operator=(const ERPoint3D& p) {
    ERPoint3D::operator=(p);
    return *this;
  }

  const ERPoint3D& point() const { return *this; }
  void scale(double f) override { *this *= f; }
  void translate(const ERPoint3D& v) override { *this += v; }
  void translate(const ERVector3D& v) { ERPoint3D::translate(v); }
  void transformFrom(const ERPmSimilitude3D& T) override { point3D() = T >> point(); }
  void transformTo(const ERPmSimilitude3D& T) override { point3D() = T << point(); }
  QORV_DECLARE_STORED(ERPersistentPoint3D);

 private:
  ERPoint3D& point3D() { return *this; }
};

class QORV_API ERPersistentVector3D : public ERObject, public ERVector3D {
 public:
  QORV_DECLARE_CLASS(ERPersistentVector3D, ERObject);

  ERPersistentVector3D() = default;
  ERPersistentVector3D(const ERVector3D& v) : ERVector3D(v) {}  // NOLINT
  ERPersistentVector3D(const ERPersistentVector3D&) = default;
  ERPersistentVector3D(ERPersistentVector3D&& o) noexcept : ERObject(o), ERVector3D(o) {}
  ERPersistentVector3D& operator=(const ERPersistentVector3D&) = default;
  ERPersistentVector3D& operator=(const ERVector3D& v) {
    ERVector3D::operator=(v);
    return *this;
  }

  const ERVector3D& vector() const { return *this; }
  void scale(double f) { *this *= f; }
  void translate(const ERVector3D& v) { *this += v; }
  QORV_DECLARE_STORED(ERPersistentVector3D);
};

class QORV_API gmPersistentPoint3DPair : public EREntity3D {
 public:
  QORV_DECLARE_CLASS(gmPersistentPoint3DPair, EREntity3D);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  gmPersistentPoint3DPair() = default;
  gmPersistentPoint3DPair(const ERPersistentPoint3D& first, const ERPersistentPoint3D& second)
      : first_(first), second_(second) {}
  gmPersistentPoint3DPair(const gmPersistentPoint3DPair&) = default;
  gmPersistentPoint3DPair(gmPersistentPoint3DPair&& o) noexcept
      : EREntity3D(o), first_(o.first_), second_(o.second_) {}
  gmPersistentPoint3DPair& operator=(const gmPersistentPoint3DPair&) = default;

  ERPersistentPoint3D get_first_point() const { return first_; }
  ERPersistentPoint3D get_second_point() const { return second_; }
  void scale(double f) override;
  void translate(const ERPoint3D& v) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;
  QORV_DECLARE_STORED(gmPersistentPoint3DPair);

 private:
  ERPersistentPoint3D first_;
  ERPersistentPoint3D second_;
};
