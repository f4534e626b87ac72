// qorv/measurement/gap_and_flush.h
//
// gmGapAndFlush: the result of a gap-and-flush measurement between two adjacent parts, a frame
// at the measurement location (origin the centre, x the measuring direction, y the auxiliary
// direction, z the normal) and the two values: the gap (the opening between the parts) and the
// flush (their offset along the normal).
//
// Conventions a caller gets wrong:
// - From (centre, direction d, normal n): y = n x d, x = y x n, so a direction that is not
//   perpendicular to the normal keeps only its part across it ((1,0,1) with normal (0,0,1) gives
//   x = (1,0,0)). A normal of any length counts as its direction. A direction parallel to the
//   normal (or zero) has no part across it: the frame then takes the normal as its z axis and
//   completes it as every frame built from a normal alone does; never a NaN axis.
// - scale(f) and a similitude's ratio multiply gap and flush; an isometry leaves them. Setting a
//   value does not mark the object dirty.
// - It has no plane projection: get2DEntProjectedOn() is always null.
// - Print form, each line ended: "Gap and Flush:", the frame's form (a line end added when it
//   has none of its own, as the identity's), "               : Gap " gap, "               : Flush "
//   flush.
//
// Stored image: the planar entity's frame, then gap (double), flush (double): 16 bytes more than
// the frame's record.
#pragma once

#include <ostream>

#include "qorv/foundation/finite_entity.h"

class QORV_API gmGapAndFlush : public ERPlanarEntity3DWF {
 public:
  QORV_DECLARE_CLASS(gmGapAndFlush, ERPlanarEntity3DWF);
  using ERPlanarEntity3DWF::transformFrom;
  using ERPlanarEntity3DWF::transformTo;

  gmGapAndFlush() = default;
  gmGapAndFlush(const ERPmIsometrie3D& frame, double gap, double flush)
      : ERPlanarEntity3DWF(frame), gap_(gap), flush_(flush) {}
  gmGapAndFlush(const ERPoint3D& centre, const ERVector3D& direction, const ERVector3D& normal,
                double gap, double flush);
  gmGapAndFlush(const gmGapAndFlush&) = default;
  gmGapAndFlush& operator=(const gmGapAndFlush&) = default;

  double gap() const { return gap_; }
  void gap(double g) { gap_ = g; }
  double flush() const { return flush_; }
  void flush(double f) { flush_ = f; }
  ERPoint3D centre() const { return frame().origine(); }
  ERVector3D direction() const { return frame().getVector(Coord3D::X); }
  ERVector3D auxiliary_direction() const { return frame().getVector(Coord3D::Y); }
  ERVector3D normal() const { return frame().getVector(Coord3D::Z); }

  t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D&) const override { return {}; }
  void reverse() override {}
  void scale(double f) override;
  void translate(const ERPoint3D& v) override { translateFrame(v); }
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;
  QORV_DECLARE_STORED(gmGapAndFlush);

 private:
  double gap_ = 0;
  double flush_ = 0;
};

// A copy of g moved by T (transformFrom).
QORV_API gmGapAndFlush operator>>(const ERPmIsometrie3D& T, const gmGapAndFlush& g);
