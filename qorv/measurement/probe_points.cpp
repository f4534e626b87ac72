#include "qorv/measurement/probe_points.h"

#include <ostream>

#include "qorv/persistence/file.h"
#include "qorv/platform/archive.h"

using namespace qorv::platform;

// ---------------------------------------------------------------------------------------------
// ERCMMPoint

void ERCMMPoint::save(ERFile& f) const {
  f.Write(static_cast<int>(id_));
  f << centre_ << pretouch_;
}

int ERCMMPoint::restore(ERFile& f) {
  int id = 0;
  double v[6];
  if (!f.Read(id) || !qorv::detail::restoreDoubles(f, v, 6)) return 0;
  id_ = id;
  centre_ = ERPoint3D(v[0], v[1], v[2]);
  pretouch_ = ERPoint3D(v[3], v[4], v[5]);
  return 1;
}

void ERCMMPoint::store(CArchive& ar) const {
  ar << static_cast<std::uint16_t>(static_cast<std::uint32_t>(id_) & 0xFFFFu);
  ar << centre_ << pretouch_;
}

void ERCMMPoint::load(CArchive& ar) {
  std::uint16_t id = 0;
  ERPoint3D centre, pretouch;
  ar >> id >> centre >> pretouch;
  id_ = id;
  centre_ = centre;
  pretouch_ = pretouch;
}

ERFile& operator<<(ERFile& f, const ERCMMPoint& p) {
  p.save(f);
  return f;
}

ERFile& operator>>(ERFile& f, ERCMMPoint& p) {
  p.restore(f);
  return f;
}

std::ostream& operator<<(std::ostream& os, const ERCMMPoint& p) {
  return os << "CMM Point  " << p.probe_center() << " pretouch=" << p.pretouch_point() << std::endl;
}

CArchive& operator<<(CArchive& ar, const ERCMMPoint& p) {
  p.store(ar);
  return ar;
}

CArchive& operator>>(CArchive& ar, ERCMMPoint& p) {
  p.load(ar);
  return ar;
}

// ---------------------------------------------------------------------------------------------
// ERCMMPointWithDiameter

CRuntimeClass ERCMMPointWithDiameter::classERCMMPointWithDiameter = {
    "ERCMMPointWithDiameter", static_cast<int>(sizeof(ERCMMPointWithDiameter)),
    VERSIONABLE_SCHEMA | 1, &ERCMMPointWithDiameter::CreateObject, &CObject::classCObject, nullptr};
CRuntimeClass ERCMMPointWithDiameter::classCMMPointWithDiameter = {
    "CMMPointWithDiameter", static_cast<int>(sizeof(ERCMMPointWithDiameter)), 0,
    &ERCMMPointWithDiameter::CreateObject, &ERCMMPointWithDiameter::classERCMMPointWithDiameter,
    nullptr};
CRuntimeClass ERCMMPointWithDiameter::classPointMesureDegauSurForme = {
    "PointMesureDegauSurForme", static_cast<int>(sizeof(ERCMMPointWithDiameter)), 0,
    &ERCMMPointWithDiameter::CreateObject, &ERCMMPointWithDiameter::classERCMMPointWithDiameter,
    nullptr};

namespace {
// The three names archives can carry, known from start-up on.
[[maybe_unused]] const bool registered = [] {
  AfxClassInit(&ERCMMPointWithDiameter::classERCMMPointWithDiameter);
  AfxClassInit(&ERCMMPointWithDiameter::classCMMPointWithDiameter);
  AfxClassInit(&ERCMMPointWithDiameter::classPointMesureDegauSurForme);
  return true;
}();
}  // namespace

CObject* ERCMMPointWithDiameter::CreateObject() { return new ERCMMPointWithDiameter; }

CRuntimeClass* ERCMMPointWithDiameter::GetRuntimeClass() const {
  return &classERCMMPointWithDiameter;
}

void ERCMMPointWithDiameter::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << static_cast<const ERCMMPoint&>(*this) << diameter_;
    return;
  }
  ERCMMPoint point;
  double diameter = 0;
  ar >> point >> diameter;
  ERCMMPoint::operator=(point);
  diameter_ = diameter;
}

CArchive& operator<<(CArchive& ar, const ERCMMPointWithDiameter& p) {
  if (!ar.IsStoring()) throw CArchiveException(CArchiveException::readOnly);
  const_cast<ERCMMPointWithDiameter&>(p).Serialize(ar);
  return ar;
}

CArchive& operator>>(CArchive& ar, ERCMMPointWithDiameter& p) {
  if (!ar.IsLoading()) throw CArchiveException(CArchiveException::writeOnly);
  p.Serialize(ar);
  return ar;
}

// ---------------------------------------------------------------------------------------------
// gmUncompensatedCurve

QORV_DEFINE_CLASS(gmUncompensatedCurve);
QORV_DEFINE_COPYABLE(gmUncompensatedCurve);

ERMinimax3D gmUncompensatedCurve::box() const {
  ERMinimax3D b;
  for (const ERCpoleNURBS3D& s : spans_) b = qorv::Union(b, s.getBox());
  return b;
}

void gmUncompensatedCurve::reverse() {
  for (ERCpoleNURBS3D& s : spans_) s.reverse();
  const std::size_t n = spans_.size();
  for (std::size_t i = 0; i < n / 2; ++i) {
    ERCpoleNURBS3D keep(spans_[i]);
    spans_[i] = spans_[n - 1 - i];
    spans_[n - 1 - i] = keep;
  }
}

void gmUncompensatedCurve::scale(double f) {
  for (ERCpoleNURBS3D& s : spans_) s.scale(f);
}
void gmUncompensatedCurve::translate(const ERPoint3D& v) {
  for (ERCpoleNURBS3D& s : spans_) s.translate(v);
}
void gmUncompensatedCurve::transformFrom(const ERPmSimilitude3D& T) {
  for (ERCpoleNURBS3D& s : spans_) s.transformFrom(T);
}
void gmUncompensatedCurve::transformTo(const ERPmSimilitude3D& T) {
  for (ERCpoleNURBS3D& s : spans_) s.transformTo(T);
}
void gmUncompensatedCurve::transformFrom(const ERPmIsometrie3D& T) {
  for (ERCpoleNURBS3D& s : spans_) s.transformFrom(T);
}
void gmUncompensatedCurve::transformTo(const ERPmIsometrie3D& T) {
  for (ERCpoleNURBS3D& s : spans_) s.transformTo(T);
}

void gmUncompensatedCurve::printOn(std::ostream& os) const {
  os << "gmUncompensatedCurve {" << std::endl;
  os << "(" << spans_.size() << ")[";
  bool first = true;
  for (const ERCpoleNURBS3D& s : spans_) {
    if (!first) os << ",";
    first = false;
    s.printOn(os);
  }
  os << "]" << std::endl;
  os << "}" << std::endl;
}
