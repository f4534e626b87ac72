// qorv/measurement/probe_points.h
//
// What a coordinate measuring machine reports: ERCMMPoint (the probe centre at contact, the
// pretouch point it came from, an identifier), ERCMMPointWithDiameter (with the probe diameter, a
// framework object that travels through archives), and gmUncompensatedCurve (a probe-centre path
// before radius compensation, as a sequence of NURBS spans).
//
// Conventions a caller gets wrong:
// - == compares identifiers only: two different measurements with the same identifier are equal.
// - IJK() and outer_material_direction() are pretouch - centre, NOT normalised.
// - scale(f) multiplies coordinates and diameter; compensate(f) only the coordinates.
// - Archives carry the identifier in 16 bits: only its low 16 bits are written, and it loads as
//   an unsigned value 0..65535 (70000 comes back as 4464, -1 as 65535).
// - The archive class names "CMMPointWithDiameter" and "PointMesureDegauSurForme" (older
//   writers) load as ERCMMPointWithDiameter.
// - gmUncompensatedCurve keeps its spans out of its stored record: storing it keeps only the
//   entity part.
//
// Stored image of ERCMMPoint (ERFile, little-endian): int32 identifier, probe centre (3 doubles),
// pretouch point (3 doubles): 52 bytes.
// Archive form of ERCMMPointWithDiameter (Serialize): uint16 identifier, probe centre and
// pretouch point (3 doubles each), diameter (double): 58 bytes.
#pragma once

#include <cstdint>
#include <ostream>

#include "qorv/foundation/finite_entity.h"
#include "qorv/foundation/points.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/platform/afx.h"
#include "qorv/siblings/container_library/co_containers.h"

class ERFile;

class QORV_API ERCMMPoint {
 public:
  ERCMMPoint() = default;
  ERCMMPoint(const ERPoint3D& centre, const ERPoint3D& pretouch, long id)
      : id_(static_cast<std::int32_t>(id)), centre_(centre), pretouch_(pretouch) {}
  ERCMMPoint(const ERPoint3D& centre, const ERVector3D& approach, long id)
      : id_(static_cast<std::int32_t>(id)), centre_(centre), pretouch_(centre + approach) {}

  long id() const { return id_; }
  const ERPoint3D& probe_center() const { return centre_; }
  const ERPoint3D& pretouch_point() const { return pretouch_; }
  ERVector3D IJK() const { return pretouch_ - centre_; }
  ERVector3D outer_material_direction() const { return pretouch_ - centre_; }
  void scale(double f) {
    centre_ *= f;
    pretouch_ *= f;
  }
  bool operator==(const ERCMMPoint& o) const { return id_ == o.id_; }
  bool operator!=(const ERCMMPoint& o) const { return id_ != o.id_; }
  std::uint32_t binaryStoreSize() const { return 52; }

  // The archive form of the point part (16-bit identifier).
  void store(::qorv::platform::CArchive& ar) const;
  void load(::qorv::platform::CArchive& ar);
  // All or nothing: 0 on a short read, the point unchanged.
  int restore(ERFile& f);
  void save(ERFile& f) const;

 protected:
  void setId(long id) { id_ = static_cast<std::int32_t>(id); }
  void setPoints(const ERPoint3D& centre, const ERPoint3D& pretouch) {
    centre_ = centre;
    pretouch_ = pretouch;
  }

 private:
  std::int32_t id_ = 0;
  ERPoint3D centre_;
  ERPoint3D pretouch_;
};

QORV_API ERFile& operator<<(ERFile& f, const ERCMMPoint& p);
QORV_API ERFile& operator>>(ERFile& f, ERCMMPoint& p);
// "CMM Point  " centre " pretouch=" pretouch, then the end of the line.
QORV_API std::ostream& operator<<(std::ostream& os, const ERCMMPoint& p);
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar, const ERCMMPoint& p);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar, ERCMMPoint& p);

class QORV_API ERCMMPointWithDiameter : public ::qorv::platform::CObject, public ERCMMPoint {
 public:
  static ::qorv::platform::CRuntimeClass classERCMMPointWithDiameter;
  // The older archive names, read only.
  static ::qorv::platform::CRuntimeClass classCMMPointWithDiameter;
  static ::qorv::platform::CRuntimeClass classPointMesureDegauSurForme;
  static ::qorv::platform::CObject* CreateObject();
  ::qorv::platform::CRuntimeClass* GetRuntimeClass() const override;

  ERCMMPointWithDiameter() = default;
  ERCMMPointWithDiameter(const ERCMMPoint& p, double diameter) : ERCMMPoint(p), diameter_(diameter) {}
  ERCMMPointWithDiameter(const ERPoint3D& centre, const ERPoint3D& pretouch, double diameter, long id)
      : ERCMMPoint(centre, pretouch, id), diameter_(diameter) {}
  ERCMMPointWithDiameter(const ERPoint3D& centre, const ERVector3D& approach, double diameter, long id)
      : ERCMMPoint(centre, approach, id), diameter_(diameter) {}
  ERCMMPointWithDiameter(double x, double y, double z, double i, double j, double k, double diameter,
                         long id)
      : ERCMMPoint(ERPoint3D(x, y, z), ERPoint3D(x + i, y + j, z + k), id), diameter_(diameter) {}
  ERCMMPointWithDiameter(const ERCMMPointWithDiameter& o) : CObject(), ERCMMPoint(o), diameter_(o.diameter_) {}
  ERCMMPointWithDiameter& operator=(const ERCMMPointWithDiameter& o) {
    ERCMMPoint::operator=(o);
    diameter_ = o.diameter_;
    return *this;
  }

  double probe_diameter() const { return diameter_; }
  void probe_diameter(double d) { diameter_ = d; }
  void scale(double f) {
    ERCMMPoint::scale(f);
    diameter_ *= f;
  }
  void compensate(double f) { ERCMMPoint::scale(f); }
  // Storing writes, loading reads (all or nothing: a short archive throws and changes nothing).
  void Serialize(::qorv::platform::CArchive& ar) override;

  // Every field of the point, for placing it (the identifier, centre and pretouch point).
  void set(const ERPoint3D& centre, const ERPoint3D& pretouch, long id) {
    setId(id);
    setPoints(centre, pretouch);
  }

 private:
  double diameter_ = 0;
};

// Serialize: the point without its class (use WriteObject / << on a pointer for the class form).
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar,
                                                const ERCMMPointWithDiameter& p);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar,
                                                ERCMMPointWithDiameter& p);

// Spans in curve order, two per page.
using ERCpoleNURBS3DcoPageArr = ::qorv::siblings::coPageArr<ERCpoleNURBS3D, 2>;

class QORV_API gmUncompensatedCurve : public EREntity3DWF {
 public:
  QORV_DECLARE_CLASS(gmUncompensatedCurve, EREntity3DWF);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  gmUncompensatedCurve() = default;
  explicit gmUncompensatedCurve(const ERCpoleNURBS3D& span) { spans_.append(span); }
  explicit gmUncompensatedCurve(const ERCpoleNURBS3DcoPageArr& spans) : spans_(spans) {}
  gmUncompensatedCurve(const gmUncompensatedCurve& o) : EREntity3DWF(o), spans_(o.spans_) {}
  gmUncompensatedCurve& operator=(const gmUncompensatedCurve& o) {
    if (this != &o) {
      EREntity3DWF::operator=(o);
      spans_ = o.spans_;
    }
    return *this;
  }

  void append_span(const ERCpoleNURBS3D& span) { spans_.append(span); }
  // Null past the last span.
  const ERCpoleNURBS3D* span(int i) const {
    return i < 0 ? nullptr : spans_.at(static_cast<std::size_t>(i));
  }
  int number_of_spans() const { return static_cast<int>(spans_.size()); }
  const ERCpoleNURBS3DcoPageArr& spans() const { return spans_; }
  // The union of the spans' boxes (empty without spans).
  ERMinimax3D box() const;

  void reverse() override;
  void scale(double f) override;
  void translate(const ERPoint3D& v) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;
  void transformFrom(const ERPmIsometrie3D& T) override;
  void transformTo(const ERPmIsometrie3D& T) override;
  t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D&) const override { return {}; }
  QORV_DECLARE_COPYABLE(gmUncompensatedCurve);
  void printOn(std::ostream& os) const override;

 private:
  ERCpoleNURBS3DcoPageArr spans_;
};
