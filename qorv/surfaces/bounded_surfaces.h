// qorv/surfaces/bounded_surfaces.h
//
// The CAD faces of an inspection: surfaces with a rectangular parameter domain and a placement.
//   ERBoundedSurface           natural ("Lim") and trimmed ("Trim") limits of u and v
//   ERSurfaceBasedOnTransfo3D  a placement (an ERPmIsometrie3D, local frame to world)
//   ERBoundedPlane     S = (u, v, 0)                                  [0, 1]; [0, 1]
//   ERBoundedCylinder  S = (R cos v, R sin v, u)                      [0, 1]; [0, 2pi]
//   ERBoundedCone      S = (u tan a cos v, u tan a sin v, u)           [0, 1]; [0, 2pi]
//   ERBoundedSphere    S = R (cos v cos u, cos v sin u, sin v)         [0, 2pi]; [-pi/2, pi/2]
//   ERBoundedTorus     S = ((R + r cos v) cos u, (R + r cos v) sin u, r sin v)   [0, 1]; [0, 1]
// each S in the local frame, mapped through the placement (the point as a point, every
// derivative as a vector), so a mirrored placement mirrors the surface and its parameters.
//
// Conventions a caller gets wrong:
// - Every operation of the parametric interface sees the TRIMMED limits only; natural limits
//   change only through the constructors, adjust() and the redefine operations. Every change of
//   the trimmed limits empties the sample cache.
// - PtCur(u, v) fills all nine elements of the 3 x 3 derivative matrix (d^(i+j)S / du^i dv^j at
//   j * 3 + i) and accepts parameters outside the limits.
// - ProjectionNormale(P, tol, uv, inside) gives the parameters of P's foot on the unbounded
//   surface, such that S(uv) IS the foot: the linear parameter is the foot's local height (the
//   cone's u is negative on the far nappe), an angle other than the sphere's lies in
//   [lower, lower + 2pi) and is never wrapped down past the upper limit. Limits are inclusive,
//   and a foot below the lower angle by no more than its mapping's rounding (a point of the
//   seam) gets the lower angle, not a turn more.
//   The plane answers 1 only inside its limits, whatever inside is; the torus answers 0 on u
//   before it computes v. The sphere's longitude follows its own rule: the representative
//   nearest the lower limit's turn, then one turn up or down when that brings it inside, then a
//   snap of 1.1920928955078125e-7 (a float's epsilon) to a limit it misses by less, the snap
//   tried before the wrap (a foot 1e-8 below u = 0 on [0, 2pi] gets 0, not 2pi - 1e-8); its
//   latitude snaps the same way. A snapped parameter is within 1.2e-7 R of the foot.
// - Where there is no foot (P on the axis of the cylinder or cone, at the apex, at the sphere's
//   centre, on the torus's axis or core circle), in a non-finite P or through a placement that
//   maps nothing (invalid), ProjectionNormale answers 0 and leaves uv as it was.
//   project_inbound then uses the parameters of a nearest point in the half-plane of the lower
//   angular limit (u of the axis point's height on the cylinder, the foot on the generator at
//   vdeb on the cone, (udeb, vdeb) at the sphere's centre, the nearest point of the meridian at
//   udeb on the torus's axis, v = vdeb on its core circle), clamped into the limits.
// - The feet are those of the unbounded forms (their tests for "no foot" and their choice of
//   the nearer tube circle), read in the local frame: the cylinder's and the torus's absolute
//   tests (1e-11 from the axis, from the core circle) apply to the local point scaled by a power
//   of two that brings the radii to about 1, so that they read relative to the surface's size: a
//   cylinder of radius 1e-90 has feet too.
// - The cone's half-angle takes any value: S is the formula, and its foot is that of the
//   unbounded cone (generators at the acute angle), whatever tan a's sign. A zero radius gives
//   the formula's surface (a line, a point).
// - reverse(): the plane exchanges u and v and turns its normal (S'(u, v) = S(v, u)); the
//   curved classes keep their points and parameters, as their unbounded forms do (exchanging
//   their limits, the generic behaviour, would give another surface).
// - scale(k) scales the placement's origin; the plane multiplies its trimmed limits by k (ends
//   exchanged for k < 0, natural limits untouched); the curved classes also scale radii and
//   linear limits by |k|, and for k < 0 turn their parameters so the image is the scaled set.
//   A similitude moves the placement's axes; a mirror keeps the placement right-handed and
//   negates the angle about its Z axis (the plane's v), limits included.
// - getBox holds the surface (exact up to rounding): the plane's corners, the boxes of the
//   bounding arcs of the ruled cylinder and cone, and for sphere and torus those arcs plus the
//   interior extremes of each coordinate inside the limits.
// - Iso-curves carry the surface's parameter: getEntityIsoU(u) is S(u, .) at parameter v (an
//   arc for an angle, a segment from S(u, vdeb) to S(u, vfin) otherwise, its parameter in
//   [0, 1]; the sample grid reads it through the affine map of the limits). A placement is a
//   transformation, which holds an origin whose coordinates are all within 1e-11 of zero as
//   zero: an arc whose frame would lose such an offset comes back null (callers then evaluate
//   the surface), and surfaces that small should be placed at the coordinate origin. Split pieces
//   are copies with the trimmed limits cut at the value (0 outside them).
// - The cylinder's print form holds a blank line, as the unbounded one's: the axis segment's
//   form ends its own line and the label's line end follows it. The cone prints its half-angle
//   and angular limits in degrees (radians x 57.29577951308232).
// - SignedMinimalDistance is that of the unbounded surface (limits ignored), except the plane:
//   its local z, with 3 when the local (x, y) lies outside the limits.
// - nearest(p, uv) is the GLOBAL nearest point of the patch (the trimmed limits, edges and
//   corners included), in closed form: the plane clamps the local (x, y); the others are
//   surfaces of revolution, where a profile point of radius rho > 0 is nearest in the window's
//   angle nearest to p's direction (rho < 0: to the opposite one), so the answer lies in one of
//   those two half-planes, searched both only when rho changes sign over the limits (the double
//   cone's other nappe, the spindle torus, a sphere's latitudes past a pole). In a half-plane
//   the profile's nearest point is a segment's (cylinder, cone) or an arc's (sphere, torus).
//   single is 0 when p sees a whole curve of nearest points: within 1e-12 of the size from the
//   axis while the foot is off it, at the sphere's centre, on the torus's core circle; uv is
//   then the one in the lower angle's half-plane. project_inbound keeps its own rule (above).
// - A move changes the parameters as scale and the similitudes say above:
//   parameterMapOfScale / parameterMapOfMove give that change before the move (a trimmed face
//   takes its loops through it).
//
// Stored images (after the ERObject part, which writes nothing; little-endian, long 4 bytes):
//   limits     natural U, natural V, trim U, trim V: 8 doubles               64 bytes
//   placement  the ERPmIsometrie3D envelope record                          116 bytes
//   ERBoundedPlane     placement, limits                                    180 bytes
//   ERBoundedCylinder  placement, limits, radius                            188 bytes
//   ERBoundedCone      placement, limits, half-angle (rad)                  188 bytes
//   ERBoundedSphere    placement, limits, radius                            188 bytes
//   ERBoundedTorus     long 1 (format version, not read back), limits, placement, r, R  200 bytes
// A short record leaves the object as it was.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "qorv/curves/circles.h"
#include "qorv/curves/lines.h"
#include "qorv/surfaces/analytic_surfaces.h"
#include "qorv/surfaces/parametric_surface.h"

// ---------------------------------------------------------------------------------------------
class QORV_API ERBoundedSurface : public ERAnyBoundedSurface {
 public:
  QORV_DECLARE_CLASS(ERBoundedSurface, ERAnyBoundedSurface);
  using ERAnyBoundedSurface::operator();
  using ERAnyBoundedSurface::ProjectionNormale;
  using ERAnyBoundedSurface::PtCur;
  using ERAnyBoundedSurface::SplitInU;
  using ERAnyBoundedSurface::SplitInV;

  // All four limits [0, 1].
  ERBoundedSurface() : nu_(0, 1), nv_(0, 1), tu_(0, 1), tv_(0, 1) {}
  // Natural and trimmed limits alike.
  ERBoundedSurface(const ERLimites& U, const ERLimites& V) : nu_(U), nv_(V), tu_(U), tv_(V) {}

  double udeb() const override { return tu_.start(); }
  double ufin() const override { return tu_.end(); }
  double vdeb() const override { return tv_.start(); }
  double vfin() const override { return tv_.end(); }
  ERLimites getBoundU() const override { return tu_; }
  ERLimites getBoundV() const override { return tv_; }

  virtual double NUdeb() const { return nu_.start(); }
  virtual double NUfin() const { return nu_.end(); }
  virtual double NVdeb() const { return nv_.start(); }
  virtual double NVfin() const { return nv_.end(); }
  // Trim := (U, V).
  virtual void setBound(const ERLimites& U, const ERLimites& V);
  // Natural := trim.
  virtual void adjust();
  virtual void redefineDomainU(const ERLimites& U);
  virtual void redefineDomainV(const ERLimites& V);
  virtual void redefinedDomain(const ERLimites& U, const ERLimites& V);

  // Transposes the sample cache, exchanges the U and V limits.
  void reverse() override;
  // Natural and trimmed pairs at once (moves), emptying the cache.
  void setLimits(const ERLimites& nu, const ERLimites& nv, const ERLimites& tu,
                 const ERLimites& tv);
  // "Lim  U ", "Lim  V ", "Trim U ", "Trim V ", each with its limits and a line end.
  void printOn(std::ostream& os) const override;
  QORV_DECLARE_GUTS;

 protected:
  ERLimites naturalU() const { return nu_; }
  ERLimites naturalV() const { return nv_; }
  void emptyCache() { ERAnyBoundedSurface::CleanUpTemporaries(-1); }

 private:
  ERLimites nu_, nv_, tu_, tv_;
};

namespace qorv::detail {

// A placement's map read once into plain numbers, P -> R (k P) + t, so that evaluations and
// projections map points without a call per point. The same arithmetic as the transformation's
// own (rows of R, then t); an envelope without a representation maps nothing (identity).
struct PlacementMap {
  double r[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  double t[3] = {0, 0, 0};
  double k = 1.0;
  bool valid = true;

  void read(const ERPmIsometrie3D& T);
  ERPoint3D world(const ERPoint3D& p) const {
    const ERVector3D v = world(ERVector3D(p));
    return ERPoint3D(v.x() + t[0], v.y() + t[1], v.z() + t[2]);
  }
  ERVector3D world(const ERVector3D& v) const {
    double x = v.x(), y = v.y(), z = v.z();
    if (k != 1.0) x *= k, y *= k, z *= k;
    return ERVector3D(r[0] * x + r[1] * y + r[2] * z, r[3] * x + r[4] * y + r[5] * z,
                      r[6] * x + r[7] * y + r[8] * z);
  }
  ERPoint3D local(const ERPoint3D& p) const {
    const double x = p.x() - t[0], y = p.y() - t[1], z = p.z() - t[2];
    const double ik = 1.0 / k;
    return ERPoint3D((r[0] * x + r[3] * y + r[6] * z) * ik, (r[1] * x + r[4] * y + r[7] * z) * ik,
                     (r[2] * x + r[5] * y + r[8] * z) * ik);
  }
  ERPoint3D origin() const { return ERPoint3D(t[0], t[1], t[2]); }
};

}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
class QORV_API ERSurfaceBasedOnTransfo3D : public virtual ERSurface {
 public:
  QORV_DECLARE_CLASS(ERSurfaceBasedOnTransfo3D, ERSurface);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  ERSurfaceBasedOnTransfo3D() = default;
  explicit ERSurfaceBasedOnTransfo3D(const ERPmIsometrie3D& placement) { assign(placement); }

  const ERPmIsometrie3D& getMatrix() const { return placement_; }
  void setMatrix(const ERPmIsometrie3D& placement) { assign(placement); }
  // The placement's Z axis.
  ERVector3D getNormale() const { return placement_.getVector(Coord3D::Z); }

  // placement := T * placement, ~T * placement, translation * placement.
  void transformFrom(const ERPmIsometrie3D& T) override;
  void transformTo(const ERPmIsometrie3D& T) override;
  void translate(const ERPoint3D& t) override;
  // The placement's origin times k.
  void scale(double k) override;
  // The placement's axes and origin through T; 1 when T is a mirror and the placement was
  // right-handed, in which case the new placement's Y axis is the image of -Y (local y
  // negated). k receives |factor|.
  int movePlacement(const ERPmSimilitude3D& T, bool forward, double& k);
  // What movePlacement would answer, the placement left as it is.
  int mirrorsPlacement(const ERPmSimilitude3D& T, bool forward, double& k) const;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;

  // Those of the placement.
  void printOn(std::ostream& os) const override;
  QORV_DECLARE_GUTS;

  // Local to world and back, through the placement's map read into numbers.
  const qorv::detail::PlacementMap& placementMap() const { return map_; }
  ERPoint3D toWorld(const ERPoint3D& p) const { return map_.world(p); }
  ERVector3D toWorld(const ERVector3D& v) const { return map_.world(v); }
  ERPoint3D toLocal(const ERPoint3D& p) const { return map_.local(p); }

 private:
  void assign(const ERPmIsometrie3D& placement);

  ERPmIsometrie3D placement_;
  qorv::detail::PlacementMap map_;
};

// The shared declarations of the five placed classes.
#define QORV_PLACED_SURFACE_OVERRIDES                                                              \
  using ERAnyBoundedSurface::operator();                                                           \
  using ERAnyBoundedSurface::ProjectionNormale;                                                    \
  using ERAnyBoundedSurface::PtCur;                                                                \
  using ERAnyBoundedSurface::SplitInU;                                                             \
  using ERAnyBoundedSurface::SplitInV;                                                             \
  using EREntity3D::transformFrom;                                                                 \
  using EREntity3D::transformTo;                                                                   \
  ERInfoPoint3DSurf PtCur(double u, double v) const override;                                      \
  ERPoint3D operator()(double u, double v) const override;                                         \
  ERMinimax3D getBox() const override;                                                             \
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoU(double u) const override;                           \
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoV(double v) const override;                           \
  int ProjectionNormale(const ERPoint3D& p, double tol, ERPoint2D& uv, int inside) const override; \
  ERPoint3D project_inbound(const ERPoint3D& p) const override;                                    \
  double nearest(const ERPoint3D& p, ERPoint2D& uv) const override;                                \
  ERTransfo2D parameterMapOfScale(double k) const override;                                        \
  ERTransfo2D parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const override;          \
  double nearest(const ERPoint3D& p, ERPoint2D& uv, int& single) const override;                   \
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& dist) const override;               \
  double upperEstimateInU() const override;                                                        \
  double upperEstimateInV() const override;                                                        \
  int SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,        \
               double u) const override;                                                           \
  int SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low, t_SmartPtr<ERAnyBoundedSurface>& high,        \
               double v) const override;                                                           \
  void reverse() override;                                                                         \
  void scale(double k) override;                                                                   \
  void translate(const ERPoint3D& t) override;                                                     \
  void transformFrom(const ERPmIsometrie3D& T) override;                                           \
  void transformTo(const ERPmIsometrie3D& T) override;                                             \
  void transformFrom(const ERPmSimilitude3D& T) override;                                          \
  void transformTo(const ERPmSimilitude3D& T) override;                                            \
  QORV_DECLARE_STORED(Class);                                                                      \
  /* The parameters of the foot of a LOCAL point: 1 found, 0 no foot (uv written only with */      \
  /* mode 1, the fall-back of project_inbound), -1 a torus u outside its limits (mode -1); */      \
  /* noise: the absolute rounding of the local coordinates (seams snap within it). */              \
  int footParameters(const ERPoint3D& local, ERPoint2D& uv, int mode, double noise) const

// ---------------------------------------------------------------------------------------------
class QORV_API ERBoundedPlane : public ERBoundedSurface, public ERSurfaceBasedOnTransfo3D {
 public:
  QORV_DECLARE_CLASS(ERBoundedPlane, ERBoundedSurface, ERSurfaceBasedOnTransfo3D);
  QORV_PLACED_SURFACE_OVERRIDES;

  ERBoundedPlane() = default;
  // Placement ERChgRepere3D(normal, plane.origine()).
  ERBoundedPlane(const ERPlane& plane, const ERLimites& U, const ERLimites& V);
  ERBoundedPlane(const ERPmIsometrie3D& placement, const ERLimites& U, const ERLimites& V)
      : ERBoundedSurface(U, V), ERSurfaceBasedOnTransfo3D(placement) {}

  // S at the middle of both limits.
  ERPoint3D centroid() const;
  ERSegment3D getIsoU(double u) const;
  ERSegment3D getIsoV(double v) const;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERBoundedCylinder : public ERBoundedSurface, public ERSurfaceBasedOnTransfo3D {
 public:
  QORV_DECLARE_CLASS(ERBoundedCylinder, ERBoundedSurface, ERSurfaceBasedOnTransfo3D);
  QORV_PLACED_SURFACE_OVERRIDES;

  // Radius 1, U [0, 1], V [0, 2pi].
  ERBoundedCylinder();
  // U = [-h, h], V = [a1, a2].
  ERBoundedCylinder(const ERPmIsometrie3D& placement, double h, double radius, ERRadian a1,
                    ERRadian a2);

  double radius() const { return radius_; }
  void radius(double r) { radius_ = r, emptyCache(); }
  double diameter() const { return 2.0 * radius_; }
  void diameter(double d) { radius(0.5 * d); }
  // From the centre of the section u = udeb to that of u = ufin.
  ERSegment3D axe() const;
  double height() const { return ufin() - udeb(); }
  // The section at height u over the V limits.
  ERArc3D getArc(double u) const;

 private:
  double radius_;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERBoundedCone : public ERBoundedSurface, public ERSurfaceBasedOnTransfo3D {
 public:
  QORV_DECLARE_CLASS(ERBoundedCone, ERBoundedSurface, ERSurfaceBasedOnTransfo3D);
  QORV_PLACED_SURFACE_OVERRIDES;

  // Half-angle 0, U [0, 1], V [0, 2pi].
  ERBoundedCone();
  // Placement ERChgRepere3D(cone direction, apex); U = [min, max] of the heights of p1 and p2
  // along the axis; V = [0, 2pi].
  ERBoundedCone(const ERCone& cone, const ERPoint3D& p1, const ERPoint3D& p2);
  // U = [h1, h2] (as given), V = [0, 2pi], natural = trimmed.
  ERBoundedCone(const ERPmIsometrie3D& placement, ERRadian alpha, double h1, double h2);

  ERPoint3D apex() const { return toWorld(ERPoint3D(0, 0, 0)); }
  ERVector3D direction() const { return getNormale(); }
  double demiAngle() const { return alpha_; }
  // tan(a) h and 2 tan(a) h: the section at height h.
  double radius(double h) const;
  double diameter(double h) const { return 2.0 * radius(h); }
  ERSegment3D axe() const;
  double height() const { return ufin() - udeb(); }
  // The section at height u over the V limits (radius |u tan a|).
  ERArc3D sectionAt(double u) const;
  ERArc3D topBase() const { return sectionAt(udeb()); }
  ERArc3D bottomBase() const { return sectionAt(ufin()); }

 private:
  void setAngleParts();

  double alpha_;
  // Kept with alpha_, not stored: tan(alpha_), and the cosine and sine of the acute angle the
  // generators make with the axis.
  double tan_, cosA_, sinA_;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERBoundedSphere : public ERBoundedSurface, public ERSurfaceBasedOnTransfo3D {
 public:
  QORV_DECLARE_CLASS(ERBoundedSphere, ERBoundedSurface, ERSurfaceBasedOnTransfo3D);
  QORV_PLACED_SURFACE_OVERRIDES;

  // Radius 1, U [0, 2pi], V [-pi/2, pi/2].
  ERBoundedSphere();
  ERBoundedSphere(const ERPmIsometrie3D& placement, double radius, const ERLimites& U,
                  const ERLimites& V);
  // Placement: the translation to the sphere's centre (world axes).
  ERBoundedSphere(const ERSphere& sphere, const ERLimites& U, const ERLimites& V);

  ERPoint3D center() const { return toWorld(ERPoint3D(0, 0, 0)); }
  double radius() const { return radius_; }
  void radius(double r) { radius_ = r, emptyCache(); }
  double diameter() const { return 2.0 * radius_; }
  // The meridian at longitude u over V, the parallel at latitude v over U.
  ERArc3D getIsoU(double u) const;
  ERArc3D getIsoV(double v) const;

 private:
  double radius_;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERBoundedTorus : public ERBoundedSurface, public ERSurfaceBasedOnTransfo3D {
 public:
  QORV_DECLARE_CLASS(ERBoundedTorus, ERBoundedSurface, ERSurfaceBasedOnTransfo3D);
  QORV_PLACED_SURFACE_OVERRIDES;

  // R 10, r 1, limits [0, 1].
  ERBoundedTorus() : R_(10.0), r_(1.0) {}
  ERBoundedTorus(const ERPmIsometrie3D& placement, double R, double r, const ERLimites& U,
                 const ERLimites& V)
      : ERBoundedSurface(U, V), ERSurfaceBasedOnTransfo3D(placement), R_(R), r_(r) {}
  // Trimmed limits U = [ua, ub], V = [va, vb]; natural limits stay [0, 1].
  ERBoundedTorus(const ERPmIsometrie3D& placement, double R, double r, double ua, double ub,
                 double va, double vb);
  // Placement ERChgRepere3D(vect, origin); U = V = [0, 2pi].
  explicit ERBoundedTorus(const ERTorus& torus);

  double radius() const { return R_; }
  double small_radius() const { return r_; }
  void radius(double R) { R_ = R, emptyCache(); }
  void small_radius(double r) { r_ = r, emptyCache(); }
  ERVector3D vect() const { return getNormale(); }
  ERPoint3D origin() const { return toWorld(ERPoint3D(0, 0, 0)); }
  // The core circle.
  ERCircle3D GetSpine() const;
  // The squared distance from p to the unbounded torus.
  double dist2(const ERPoint3D& p) const;

 private:
  double R_;
  double r_;
};

#undef QORV_PLACED_SURFACE_OVERRIDES
