// qorv/foundation/entity.h
//
// The roots of geometry: EREntity, the plane and space entities EREntity2D / EREntity3D, and
// the wireframe (curve) entities EREntity2DWF / EREntity3DWF. All abstract. The finite curves
// build on them in finite_entity.h, the evaluation records are in info_points.h.
//
// Conventions a caller gets wrong:
// - transformFrom(T) moves the entity from T's local frame into the global one (T >> x);
//   transformTo(T) applies the inverse (T << x).
// - translate takes a point (the displacement as coordinates), as every entity class does.
// - EREntity2DWF and EREntity3DWF are virtual bases of every class below them, so a curve with
//   two curve parents (an arc is an angle-bounded curve and a circle) holds one of each; the
//   most derived class must therefore override what both parents override.
// - SignedMinimalDistance answers a DISTMINRES kind, and the distance in d; the entity roots
//   answer DISTMIN_NONE and leave d alone. The sign convention is the class's own (plane
//   curves: positive on the right of the direction of travel).
// - On an isometry, transformFrom / transformTo of a space entity default to the similitude
//   forms (an isometry is a similitude); planar entities compose their frame instead. A class
//   that overrides one form brings the others back with a using-declaration, or a call with an
//   isometry silently takes the similitude override.
#pragma once

#include "qorv/foundation/object.h"
#include "qorv/foundation/points.h"
#include "qorv/foundation/transfo2d.h"
#include "qorv/foundation/transfo3d.h"

class EREntity2DWF;
class EREntity3DWF;

class QORV_API EREntity : public ERObject {
 public:
  QORV_DECLARE_CLASS(EREntity, ERObject);

  // The result kind of the signed minimal distances.
  enum DISTMINRES {
    DISTMIN_NONE = 0,        // not computed
    DISTMIN_NORMAL = 1,      // to the foot of a perpendicular inside the range (signed if sided)
    DISTMIN_DEGENERATE = 2,  // every point of the entity is equally near (a circle's centre)
    DISTMIN_END_POINT = 3,   // the nearest point is an end point of a bounded curve
    DISTMIN_UNSIGNED = 4,    // an unsigned distance in space
  };

  ~EREntity() override = default;

  virtual void scale(double s) = 0;
};

class QORV_API EREntity2D : public EREntity {
 public:
  QORV_DECLARE_CLASS(EREntity2D, EREntity);

  virtual DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d) const;
  virtual void translate(const ERPoint2D& v) = 0;
  virtual void transformFrom(const ERTransfo2D& T) = 0;
  virtual void transformTo(const ERTransfo2D& T) = 0;
};

class QORV_API EREntity3D : public EREntity {
 public:
  QORV_DECLARE_CLASS(EREntity3D, EREntity);

  virtual DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& d) const;
  virtual void translate(const ERPoint3D& v) = 0;
  virtual void transformFrom(const ERPmSimilitude3D& T) = 0;
  virtual void transformFrom(const ERPmIsometrie3D& T);
  virtual void transformTo(const ERPmSimilitude3D& T) = 0;
  virtual void transformTo(const ERPmIsometrie3D& T);
};

class QORV_API EREntity2DWF : public EREntity2D {
 public:
  QORV_DECLARE_CLASS(EREntity2DWF, EREntity2D);

  // The space curve this plane curve becomes when its plane is placed by the frame; null for a
  // class without a space counterpart.
  virtual t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const;
  virtual void reverse() = 0;
};

class QORV_API EREntity3DWF : public EREntity3D {
 public:
  QORV_DECLARE_CLASS(EREntity3DWF, EREntity3D);

  // The curve expressed in the frame with the normal coordinate dropped; null for a class
  // without a plane counterpart.
  virtual t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D& frame) const;
  virtual void reverse() = 0;
};
