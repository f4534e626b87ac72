// qorv/surfaces/revolution_surface.h
//
// ERSurOfRevolution: a space curve (the generatrix, any finite curve) swept about an axis line
// through a window of angles. u is the generatrix's parameter over its own range, v the angle.
//
// Conventions a caller gets wrong:
// - S(u, v) is the generatrix point C(u) turned by v RIGHT-HANDED about the axis direction:
//   v = 0 is the generatrix itself, whatever the reference vector. The reference vector (from
//   the axis towards the generatrix point farthest from it among 33 samples) only fixes the
//   frame of getVectors / getRepere3D; a generatrix lying on its axis (or none) takes the first
//   direction of GetOrthogonalDirections(axis).
// - The angular limits are taken as [min, max]; a window wider than a turn overlaps itself.
// - PtCur fills the 3 x 3 derivative matrix. Generatrix second derivatives are the pole curves'
//   own (exact) and, for other curves, central differences of their tangents.
// - nearest(p, uv) is the GLOBAL nearest point over the limits, for every p: for each u the
//   best angle is closed form (the angle of p in the plane of the generatrix point's circle,
//   wrapped into the window, else the nearer end angle), and the distance so reduced to u is
//   sampled at 512 steps and at the generatrix's corners (GetDiscontinuities(1), each a
//   candidate); the brackets of its derivative's sign changes are solved to full
//   precision, the range ends and sampled kinks also compete. A point on the axis (or a
//   generatrix point on it) has a circle of equally near feet: v = the lower angle is given.
//   ProjectionNormale(p, tol, uv, flag) writes that uv whatever tol and answers 1 when the
//   nearest point is a foot (sine of the angle between p - S and the normal at most 0.001,
//   or p on the surface), 0 at an edge without one. That normal is Su x (d x r), r the radial
//   direction, so it keeps its sense where the generatrix meets the axis (r then along Su).
//   project_inbound and SignedMinimalDistance (signed by the normal at a foot, DISTMIN_END_POINT
//   otherwise) answer through nearest.
// - ProjectPoint(p, res, inside) gives the surface points on the line through p along Z (and
//   ProjectPoint(p, D, res, inside) along D, without a frame change): the crossings of the
//   line's image in the meridian half-plane with the generatrix, sampled at 512 steps of u and
//   bisected; a step where the image dips towards the generatrix without crossing it (two
//   crossings inside one step, a grazing line) is searched for its extreme and split there, a
//   contact confirmed by Newton on (u, t). Kept when their angle lies in the window; records in
//   increasing u, a crossing found twice given once.
// - ConvertToNurbs is the same surface (to rounding): the generatrix's NURBS form cut to its
//   range, swept by rational quadratic arcs of at most a quarter turn; its v parameter runs
//   over the same window but is not the angle inside the arcs. Null when the generatrix has
//   no NURBS form or the window is empty or not finite.
// - reverse() only empties and transposes the sample cache: the generatrix and the angles are
//   kept (so the normal does not turn).
// - A mirror similitude keeps S'(u, v) = T S(u, v) by turning the axis direction round;
//   scale(k) keeps S'(u, v) = k S(u, v) as it is (a turn commutes with k; the reference vector
//   follows the generatrix).
// - getEntityIsoU(u) is the arc of C(u)'s circle over the window, its parameter the angle v;
//   null when its centre has every coordinate within 1e-11 of zero without being the origin
//   (a frame would drop it). getEntityIsoV(v) is a copy of the generatrix turned by v.
// - getBox holds the surface: the generatrix box's heights along the axis and its farthest
//   corner from the axis, swept through a whole turn (not tight).
// - The nearest-point search keeps its generatrix samples with the surface until an edit (a
//   move, a restore, CleanUpTemporaries; a caller who edits the curve generatrix() gives calls
//   CleanUpTemporaries(-1) after): one surface is not to be searched from two threads
//   at once.
// - A null generatrix gives limits [0, 0], NaN evaluations, an empty box, no projections.
//
// Stored image (after the ERObject part, which writes nothing; little-endian, long 4 bytes):
//   16   angular limits: start, end (doubles)
//   48   the axis: direction x, y, z, origin x, y, z
//    4   long 1 when there is no generatrix, else 0
//   (4)  the generatrix's object identifier (recursiveSaveOn), only when there is one
//   24   the reference vector x, y, z
// A short record, or a generatrix that does not read back as a finite curve, leaves the
// surface as it was.
//
// Print form: "Axe          = " axis, "Generatrice  = " generatrix (or nothing), "Start Angle  = "
// lower angle, "End   Angle  = " upper angle, "Vector       = " reference vector, each followed
// by a line end (the axis's own form ends its line first).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "qorv/curves/lines.h"
#include "qorv/freeform/pole_surfaces.h"
#include "qorv/surfaces/parametric_surface.h"

class QORV_API ERSurOfRevolution : public ERAnyBoundedSurface {
 public:
  QORV_DECLARE_CLASS(ERSurOfRevolution, ERAnyBoundedSurface);
  using ERAnyBoundedSurface::operator();
  using ERAnyBoundedSurface::ProjectionNormale;
  using ERAnyBoundedSurface::PtCur;
  using ERAnyBoundedSurface::SplitInU;
  using ERAnyBoundedSurface::SplitInV;
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  ERSurOfRevolution();
  ERSurOfRevolution(const ERSurOfRevolution& o);
  ERSurOfRevolution& operator=(const ERSurOfRevolution& o);
  // The curve is copied.
  ERSurOfRevolution(const t_SmartPtr<ERFiniteEntity3DWF>& generatrix, const ERInfLine3D& axis,
                    const ERLimites& angles);

  const ERInfLine3D& axis() const { return axis_; }
  t_SmartPtr<ERFiniteEntity3DWF> generatrix() const { return gen_; }
  const ERLimites& angles() const { return angles_; }
  const ERVector3D& referenceVector() const { return ref_; }
  // x = the reference vector, y = axis direction x x.
  void getVectors(ERVector3D& x, ERVector3D& y) const;
  // X along the reference vector, Z along the axis, origin the axis point.
  ERPmIsometrie3D getRepere3D() const;
  // The sampled generatrix point farthest from the axis, its parameter and its foot on the
  // axis; 0 when every sample lies on the axis (or there is no generatrix).
  int getOnePointOfTheGeneratrixNotOnTheAxis(ERPoint3D& point, double& param,
                                             ERPoint3D& foot) const;
  t_SmartPtr<ERSpoleNURBS3D> ConvertToNurbs() const;

  double udeb() const override;
  double ufin() const override;
  double vdeb() const override;
  double vfin() const override;
  ERInfoPoint3DSurf PtCur(double u, double v) const override;
  ERPoint3D operator()(double u, double v) const override;
  ERMinimax3D getBox() const override;
  // The circle arc of C(u) over the window (its parameter is v); the generatrix turned by v.
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoU(double u) const override;
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoV(double v) const override;
  void ProjectPoint(const ERPoint3D& p, ERRaySurfaceResult& res, int inside) const override;
  // The same along D, in closed form (no frame change).
  void ProjectPoint(const ERPoint3D& p, const ERVector3D& D, ERRaySurfaceResult& res,
                    int inside) const override;
  using ERAnyBoundedSurface::nearest;
  double nearest(const ERPoint3D& p, ERPoint2D& uv) const override;
  int ProjectionNormale(const ERPoint3D& p, double tol, ERPoint2D& uv, int flag) const override;
  ERPoint3D project_inbound(const ERPoint3D& p) const override;
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& dist) const override;
  // Newton from uv towards the foot of p within the limits; p := the point reached. 1 when it
  // is a foot.
  int ReajustProjection(ERPoint3D& p, ERPoint2D& uv, int flag) const override;
  double upperEstimateInU() const override;
  double upperEstimateInV() const override;
  int SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,
               double u) const override;
  int SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,
               double v) const override;
  void reverse() override;
  void scale(double k) override;
  void translate(const ERPoint3D& t) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;
  // Empties the sample cache and the generatrix samples of the nearest-point search.
  void CleanUpTemporaries(int level) override;

  QORV_DECLARE_STORED(ERSurOfRevolution);

 private:
  void computeReference();
  // The unit normal, along Su x Sv, kept where the generatrix meets the axis.
  ERVector3D normalAt(double u, double v) const;
  // 1 when p - S(uv) lies along the normal (sine at most 0.001), or p is on the surface.
  int isFoot(const ERPoint3D& p, const ERPoint2D& uv) const;
  void lineCrossings(const ERPoint3D& p, const ERVector3D& e, ERRaySurfaceResult& res,
                     int inside) const;
  void moveBy(const ERPmSimilitude3D& T, bool forward);
  // A power of two bringing the distances about p to about 1.
  double unitScale(const ERPoint3D& p) const;
  // The best angle for the generatrix point c seen from p, and the point there.
  double bestAngle(const ERPoint3D& c, const ERPoint3D& p) const;

  struct GenSample {
    double u;
    ERPoint3D c;
    ERVector3D t;
    bool corner;  // a parameter where the generatrix's tangent jumps
  };
  // The generatrix at the nearest-point search's sample parameters, kept until an edit.
  const std::vector<GenSample>& generatrixSamples() const;

  ERInfLine3D axis_;
  t_SmartPtr<ERFiniteEntity3DWF> gen_;
  ERLimites angles_;
  ERVector3D ref_;
  mutable std::vector<GenSample> genCache_;
  mutable bool genCacheValid_ = false;
};
