#include "qorv/foundation/entity.h"

QORV_DEFINE_ABSTRACT_CLASS(EREntity);
QORV_DEFINE_ABSTRACT_CLASS(EREntity2D);
QORV_DEFINE_ABSTRACT_CLASS(EREntity3D);
QORV_DEFINE_ABSTRACT_CLASS(EREntity2DWF);
QORV_DEFINE_ABSTRACT_CLASS(EREntity3DWF);

EREntity::DISTMINRES EREntity2D::SignedMinimalDistance(const ERPoint2D&, double&) const {
  return DISTMIN_NONE;
}

EREntity::DISTMINRES EREntity3D::SignedMinimalDistance(const ERPoint3D&, double&) const {
  return DISTMIN_NONE;
}

void EREntity3D::transformFrom(const ERPmIsometrie3D& T) {
  transformFrom(static_cast<const ERPmSimilitude3D&>(T));
}

void EREntity3D::transformTo(const ERPmIsometrie3D& T) {
  transformTo(static_cast<const ERPmSimilitude3D&>(T));
}

t_SmartPtr<EREntity3DWF> EREntity2DWF::get3DEquiv(const ERPmIsometrie3D&) const { return {}; }

t_SmartPtr<EREntity2DWF> EREntity3DWF::get2DEntProjectedOn(const ERPmIsometrie3D&) const {
  return {};
}
