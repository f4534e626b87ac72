// qorv/surfaces/offset_surface.h
//
// EROffsetSurface: any parametric surface (the base) displaced by a constant distance along its
// unit normal, S(u, v) = B(u, v) + offset n(u, v), over the base's limits; and
// EROffsetSurfaceIsoParam, one of its iso-parametric curves, usable as a finite space curve.
//
// Conventions a caller gets wrong:
// - Normalize (run by the constructors and after every move) evaluates the base at the middle
//   of its limits and, when the normal there points against the indicator, negates indicator
//   and offset: the indicator then runs along the base normal and the offset's sign tells the
//   side. A positive offset given with an indicator is therefore a displacement TOWARDS the
//   indicator's side.
// - n is (Su x Sv) normalised, as normale() gives it where both partials are non-zero. Where
//   the cross product vanishes (a sphere's pole, a cone's apex, a collapsed edge), n is the
//   limit of the neighbouring normals (get_stable_normal's differences), not normale()'s
//   second-derivative fall-back, whose sense can be the opposite one (a pole) or which can be
//   zero (an apex): the offset points stay on their side and never NaN. Only when every
//   fall-back fails (a point-like base) is the base point itself given.
// - PtCur is the base's evaluation with the point replaced by B + offset n; the derivatives
//   are the base's, not those of the offset surface. An offset past a radius of curvature
//   (a cylinder offset through its axis) gives the folded-over surface, as the formula says.
// - getBox is the base's box inflated by |offset|: it holds the surface.
// - ProjectionNormale and ReajustProjection answer 0 (no orthogonal projection here).
//   ProjectPoint(p, res, inside) finds the points on the line through p along Z by Newton on
//   (u, v) (differenced Jacobian) from the samples of a 33 x 33 grid of the limits that lie
//   within one grid step of the line horizontally, and from the local minima of that distance,
//   nearest first, at most 256 starts; roots within 1e-9 of the size of one found are given
//   once.
// - reverse() reverses the base and keeps the points: offset and indicator are negated when
//   the base's reverse turned its normal at the middle of the limits (a NURBS surface, a
//   plane), kept when it did not (the bounded cylinder, cone, sphere and torus keep theirs).
// - Splitting splits the base and gives pieces with the same offset, each indicator set
//   along its own middle normal (never a flipped side). 0 when the base refuses.
// - A shared base (pointer constructor) is moved with the offset surface; a copy of the
//   offset surface holds its own copy of the base.
// - upperEstimateInU/V: the base's estimate plus |offset| times the largest turn of the
//   sampled normals along an iso-curve (an estimate, sampled 17 x 17).
// - getEquivSurface returns the base; the equivalent surface and its value are stored and
//   printed but not used.
// - EROffsetSurfaceIsoParam of type 0 is u fixed (its parameter runs over the v limits),
//   any other type v fixed. getEntityIsoU/V share the surface when a smart pointer holds it,
//   and hold a copy otherwise (a surface on the stack is never adopted). Its tangent is the offset
//   surface's derivative (normal derivative included); its second-order vector central differences
//   of the tangent. It shares the surface: its moves act on a private copy. reverse() does nothing
//   (the curve has no range of its own). ConvertToNurbs is the degree-1 NURBS through 129 points at
//   equal parameter steps, on the same parameters (a chordal approximation).
//
// Stored images (after the ERObject part, which writes nothing; little-endian, long 4 bytes):
//   EROffsetSurface
//      8  offset (double)
//      8  equivalent value (double)
//     24  indicator x, y, z
//      4  long 1 when there is no base, else 0; (4) the base's identifier when there is one
//      4  long 1 when there is no equivalent, else 0; (4) its identifier when there is one
//   EROffsetSurfaceIsoParam
//      4  long type
//      8  fixed parameter
//      4  long 1 when there is no surface, else 0; (4) the surface's identifier
// A short record, a flag other than 0 or 1, or a reference that does not read back as a
// surface leaves the object as it was.
//
// Print forms: "Surface Offset " line end, "   Offset      : " offset, "   Indicateur  : "
// indicator, "   Based On    : " base (nothing without one), "  Equiv Entity : " equivalent
// (nothing without one), each followed by a line end. The iso-curve: "Offset Iso " then
// "U = " or "V = " and the fixed parameter, a line end.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "qorv/freeform/pole_curves.h"
#include "qorv/surfaces/parametric_surface.h"

class EROffsetSurface;

// ---------------------------------------------------------------------------------------------
class QORV_API EROffsetSurfaceIsoParam : public ERFiniteEntity3DWF {
 public:
  QORV_DECLARE_CLASS(EROffsetSurfaceIsoParam, ERFiniteEntity3DWF);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;
  enum TYPE { ISO_U = 0, ISO_V = 1 };

  EROffsetSurfaceIsoParam() = default;
  EROffsetSurfaceIsoParam(t_SmartPtr<EROffsetSurface> surface, TYPE type, double p);

  t_SmartPtr<EROffsetSurface> surface() const { return surface_; }
  TYPE type() const { return type_; }
  double fixedParameter() const { return p_; }

  double udeb() const override;
  double ufin() const override;
  ERLimites getBound() const override;
  ERPoint3D operator()(double t) const override;
  ERInfoPoint3DWF PtCur(double t) const override;
  ERMinimax3D getBox() const override;
  double arcLength(const ERLimites& range, double tol) const override;
  double arcLength(double tol) const override { return arcLength(getBound(), tol); }
  int splitAt(t_SmartPtr<ERFiniteEntity3DWF>& first, t_SmartPtr<ERFiniteEntity3DWF>& second,
              double t) const override;
  NurbsPtr ConvertToNurbs() const override;
  void reverse() override {}
  void scale(double k) override;
  void translate(const ERPoint3D& t) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;

  QORV_DECLARE_STORED(EROffsetSurfaceIsoParam);

 private:
  // The surface parameter of the curve's t.
  ERPoint2D uvOf(double t) const { return type_ == ISO_U ? ERPoint2D(p_, t) : ERPoint2D(t, p_); }
  void detach();

  t_SmartPtr<EROffsetSurface> surface_;
  TYPE type_ = ISO_U;
  double p_ = 0.0;
};

// ---------------------------------------------------------------------------------------------
class QORV_API EROffsetSurface : public ERAnyBoundedSurface {
 public:
  QORV_DECLARE_CLASS(EROffsetSurface, ERAnyBoundedSurface);
  using ERAnyBoundedSurface::operator();
  using ERAnyBoundedSurface::ProjectionNormale;
  using ERAnyBoundedSurface::ProjectPoint;
  using ERAnyBoundedSurface::PtCur;
  using ERAnyBoundedSurface::SplitInU;
  using ERAnyBoundedSurface::SplitInV;
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  EROffsetSurface() = default;
  // Copies hold copies of the base and of the equivalent surface.
  EROffsetSurface(const EROffsetSurface& o);
  EROffsetSurface& operator=(const EROffsetSurface& o);
  // A copy of the base.
  EROffsetSurface(const ERAnyBoundedSurface& base, double offset, const ERVector3D& indicator);
  // The base shared.
  EROffsetSurface(ERAnyBoundedSurface* base, double offset, const ERVector3D& indicator);

  t_SmartPtr<ERAnyBoundedSurface> getBaseSurface() const { return base_; }
  double getOffset() const { return offset_; }
  const ERVector3D& getOffsetIndicator() const { return indicator_; }
  t_SmartPtr<ERAnyBoundedSurface> getEquivSurface(double value) const;
  // See the conventions.
  void Normalize();
  // The unit normal of the base used for the offset at (u, v); zero for a point-like base.
  ERVector3D offsetNormal(const ERInfoPoint3DSurf& base) const;

  double udeb() const override;
  double ufin() const override;
  double vdeb() const override;
  double vfin() const override;
  ERLimites getBoundU() const override;
  ERLimites getBoundV() const override;
  ERInfoPoint3DSurf PtCur(double u, double v) const override;
  ERPoint3D operator()(double u, double v) const override;
  ERMinimax3D getBox() const override;
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoU(double u) const override;
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoV(double v) const override;
  void ProjectPoint(const ERPoint3D& p, ERRaySurfaceResult& res, int inside) const override;
  double upperEstimateInU() const override;
  double upperEstimateInV() const override;
  int SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,
               double u) const override;
  int SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,
               double v) const override;
  int SplitInU(t_SmartPtr<EROffsetSurface>& low, t_SmartPtr<EROffsetSurface>& high) const;
  int SplitInU(t_SmartPtr<EROffsetSurface>& low, t_SmartPtr<EROffsetSurface>& high, double u) const;
  int SplitInV(t_SmartPtr<EROffsetSurface>& low, t_SmartPtr<EROffsetSurface>& high) const;
  int SplitInV(t_SmartPtr<EROffsetSurface>& low, t_SmartPtr<EROffsetSurface>& high, double v) const;
  void reverse() override;
  ERTransfo2D parameterMapOfScale(double k) const override;
  ERTransfo2D parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const override;
  void scale(double k) override;
  void translate(const ERPoint3D& t) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;

  QORV_DECLARE_STORED(EROffsetSurface);

 private:
  void copyGeometry(const EROffsetSurface& o);
  t_SmartPtr<EROffsetSurface> holder() const;
  int split(t_SmartPtr<EROffsetSurface>& low, t_SmartPtr<EROffsetSurface>& high, double t,
            bool inU) const;
  // The base's unit normal at the middle of its limits (zero when it has none).
  ERVector3D middleNormal() const;
  double estimate(bool inU) const;

  t_SmartPtr<ERAnyBoundedSurface> base_;
  double offset_ = 0.0;
  ERVector3D indicator_;
  t_SmartPtr<ERAnyBoundedSurface> equiv_;
  double equivValue_ = 0.0;
};
