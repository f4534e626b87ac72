// qorv/foundation/transfo2d.h
//
// ERTransfo2D, the affine map of the plane P' = M P + t (M the 2 x 2 matrix a11 a12 / a21 a22),
// with its constructors for translations, homotheties, rotations and axis symmetries, and the
// free builders rotation, Scaling and Symmetry. Points, vectors and poles move with T >> x
// (TransFrom) and T << x (TransTo).
//
// Conventions a caller gets wrong:
// - a * b applies b first: (a * b) >> P equals a >> (b >> P).
// - TransTo and ~ divide by det M without looking: a singular map gives infinities or NaN.
// - Vectors take M alone, no translation. Poles move as their Cartesian point and keep their
//   weight.
// - angle() is atan2(-a12, a11): the rotation angle of a direct map, and of the rotation part of
//   an indirect one read as T H Sym(Ox) R, the decomposition printOn and Decompose report.
// - Symmetry(v) reflects across the line through the origin along v, whatever the sign of v.y:
//   [[cos 2a, sin 2a], [sin 2a, -cos 2a]] with a = atan2(v.y, v.x). A zero v is the X axis.
//
// Stored form (after the ERObject part): a11, a12, a21, a22, tx, ty as little-endian doubles,
// 48 bytes. A short record leaves the map as it was.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "qorv/foundation/angles.h"
#include "qorv/foundation/object.h"
#include "qorv/foundation/points.h"
#include "qorv/support/quick_algebra.h"

class QORV_API ERTransfo2D : public ERObject {
 public:
  QORV_DECLARE_CLASS(ERTransfo2D, ERObject);

  // The identity.
  ERTransfo2D() = default;
  // The translation by t.
  explicit ERTransfo2D(const ERVector2D& t) : tx_(t.x()), ty_(t.y()) {}
  // The homothety of ratio k and centre c: M = k I, t = (1 - k) c.
  ERTransfo2D(double k, const ERPoint2D& c);
  // The rotation that takes the X axis to d (normalised), then the translation by t.
  ERTransfo2D(ERVector2D d, const ERPoint2D& t);
  // The symmetry about the axis: X gives diag(1, -1), Y diag(-1, 1), any other value -I.
  explicit ERTransfo2D(Coord2D axis);
  // The matrix row by row, then the translation.
  ERTransfo2D(double a11, double a12, double a21, double a22, double tx, double ty)
      : a11_(a11), a12_(a12), a21_(a21), a22_(a22), tx_(tx), ty_(ty) {}

  double a11() const { return a11_; }
  double a12() const { return a12_; }
  double a21() const { return a21_; }
  double a22() const { return a22_; }
  double tx() const { return tx_; }
  double ty() const { return ty_; }

  void TransFrom(ERPoint2D& p) const {
    p.set(a11_ * p.x() + a12_ * p.y() + tx_, a21_ * p.x() + a22_ * p.y() + ty_);
  }
  void TransFrom(ERVector2D& v) const {
    v.set(a11_ * v.x() + a12_ * v.y(), a21_ * v.x() + a22_ * v.y());
  }
  void TransFrom(ERPole2DH& h) const;
  void TransFrom(QuickAlgebra::ERVec<ERPoint2D>& points) const;
  void TransFrom(QuickAlgebra::ERVec<ERPole2DH>& poles) const;
  // M^-1 (P - t).
  void TransTo(ERPoint2D& p) const;
  void TransTo(ERVector2D& v) const;
  void TransTo(ERPole2DH& h) const;
  void TransTo(QuickAlgebra::ERVec<ERPoint2D>& points) const;
  void TransTo(QuickAlgebra::ERVec<ERPole2DH>& poles) const;

  // det M > 0.
  int isDirect() const { return det() > 0.0; }
  // atan2(-a12, a11).
  double angle() const;
  // The homothety ratio sqrt(|det M|), without overflow for ratios up to the doubles' range.
  double factHomo() const;
  // (tx, ty).
  ERPoint2D origine() const { return ERPoint2D(tx_, ty_); }
  // T H Sym R: t the translation, k = sqrt(|det M|), direct = det M > 0, angle as angle().
  void Decompose(ERVector2D& t, double& k, int& direct, double& angle) const;

  QORV_DECLARE_STORED(ERTransfo2D);

 private:
  double det() const { return a11_ * a22_ - a12_ * a21_; }

  double a11_ = 1.0, a12_ = 0.0;
  double a21_ = 0.0, a22_ = 1.0;
  double tx_ = 0.0, ty_ = 0.0;
};

namespace qorv {

// [[cos a, -sin a], [sin a, cos a]], no translation.
QORV_API ERTransfo2D rotation(ERRadian a);
// k I, no translation.
QORV_API ERTransfo2D Scaling(double k);
// The reflection across the line through the origin along v.
QORV_API ERTransfo2D Symmetry(const ERVector2D& v);

}  // namespace qorv

// a * b: b first, then a. ~a: the inverse (the adjugate over det M).
QORV_API ERTransfo2D operator*(const ERTransfo2D& a, const ERTransfo2D& b);
QORV_API ERTransfo2D operator~(const ERTransfo2D& a);

inline ERPoint2D operator>>(const ERTransfo2D& T, ERPoint2D p) { return T.TransFrom(p), p; }
inline ERVector2D operator>>(const ERTransfo2D& T, ERVector2D v) { return T.TransFrom(v), v; }
inline ERPole2DH operator>>(const ERTransfo2D& T, ERPole2DH h) { return T.TransFrom(h), h; }
inline ERPoint2D operator<<(const ERTransfo2D& T, ERPoint2D p) { return T.TransTo(p), p; }
inline ERVector2D operator<<(const ERTransfo2D& T, ERVector2D v) { return T.TransTo(v), v; }
inline ERPole2DH operator<<(const ERTransfo2D& T, ERPole2DH h) { return T.TransTo(h), h; }
