// qorv/surfaces/analytic_surfaces.h
//
// The unbounded analytic surfaces kept by their defining elements, not by a parameterisation:
// ERPlane (a x + b y + c z + d = 0), ERCylinder (axis line, radius), ERCone (apex, unit
// direction, half-angle), ERSphere (centre, radius) and ERTorus (core radius R, tube radius r,
// axis vector, centre). They answer the orthogonal projection with the normal, the signed
// distance (positive on the outer side), moves, persistence and a print form; the static forms
// take the elements explicitly.
//
// Conventions a caller gets wrong:
// - Every plane constructor divides by the normal's length; a zero normal (ERPlane(0, 0, 0, d),
//   parallel V1 and V2) is kept as given, prints "Plane : Indefini" and projects nothing
//   (ProjectionNormale answers 0, project(P) gives P back). So do NaN or infinite coefficients.
// - ERPlane(P, V1, V2) takes the normal along V1 x V2 from the unit V1 and V2, so that it holds
//   at every magnitude.
// - Plane moves keep the normal: offset(e) and getOffset(e) lower d by e, scale(k) multiplies
//   d by k, a transformation carries the normal as a vector and origine() as a point (a
//   similitude's factor is taken out of the normal again).
// - The sphere's projection fails only when P is exactly the centre; its signed distance is
//   |P - centre| - radius, reported 2 (DISTMIN_DEGENERATE) within 1e-11 of the centre.
//   transformFrom with a similitude multiplies the radius by |k|, transformTo divides by it.
// - The cylinder's projection fails (0, nothing written) when P is on the axis, each coordinate
//   within 1e-11 of its axis foot, an absolute test; its signed distance is then |P - A| - radius,
//   reported 2, as it is whenever |P - A| <= 1e-11. The normal points away from the axis whatever
//   the radius' sign; with radius 0 the foot is the axis foot and the normal the direction from the
//   axis to P.
// - A cylinder moved by a similitude is the image of the old one: the radius takes |k| and the
//   axis direction is made unit again (the line alone would keep a k-long direction).
// - The cone has both nappes: a point behind the apex is measured against the nappe on its side,
//   so reverse() (which negates the direction) changes neither projections nor distances. Its
//   projection fails when P - apex is parallel to the axis within 1e-11 rad (the apex itself
//   included); its distance is rho cos a - t sin a (t the height along the axis on P's side,
//   rho the distance to the axis), positive outside, and is always reported 1, the axis too.
//   Its NORMAL POINTS TO THE AXIS, (g x m) with g the generator in P's half-plane and
//   m = dir x (P - apex): P - foot = -dist * normal. A half-angle outside [0, pi/2] is read as
//   the acute angle its generator lines make with the axis (a, -a and pi - a are one surface),
//   so the foot is always the nearest point. getOffset moves the apex back by e / sin a; a
//   cone of half-angle 0 (a line) has no offset cone and comes back unchanged. A similitude
//   keeps the direction unit.
// - The torus's vect may have any non-zero length; only its direction counts. The projection
//   fails when P - origin is parallel to vect within 1e-11 rad (the centre included) or P is on
//   the core circle (perpendicular within 1e-11 rad and |R - |P - origin|| <= 1e-11). The foot
//   is the nearest point of the two tube circles of P's meridian plane: for r < R always the
//   one on P's side, for a spindle torus (r >= R) possibly the opposite one. The normal points
//   from the chosen tube centre to P and the distance is |P - Q| - r along it; it is reported 2
//   on the axis (within 1e-11, or by the projection's angle test), on the core circle (distance
//   -r) and where both tube circles are equally near. A similitude multiplies R and r by |k|.
// - Projections of non-finite points, or onto surfaces with non-finite elements, answer 0 and
//   write nothing. A zero or negative radius gives the formulas' answers (a negative sphere
//   radius puts the foot on the far side of the centre, the normal still points from the centre
//   to P; a cylinder's section circle is the same for r and -r; a negative torus r puts the foot
//   beyond its tube centre; a negative R is the same torus as |R|).
// - The cylinder's print form holds a blank line: the axis line's form ends its own line, and
//   the label's line end follows it. The cone prints its half-angle in degrees.
//
// Stored images (after the ERObject part, which writes nothing), little-endian doubles:
//   ERPlane    a, b, c, d                                           32 bytes
//   ERCylinder axis direction x, y, z, axis origin x, y, z, radius  56 bytes
//   ERCone     direction x, y, z, apex x, y, z, half-angle (rad)    56 bytes
//   ERSphere   centre x, y, z, radius                               32 bytes
//   ERTorus    vect x, y, z, origin x, y, z, r, R                   64 bytes
// A short record leaves the object as it was.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "qorv/curves/lines.h"
#include "qorv/surfaces/surface.h"

class ERBoundedPlane;
class ERBoundedCylinder;
class ERBoundedCone;
class ERBoundedSphere;
class ERBoundedTorus;

class QORV_API ERPlane : public ERSurface {
 public:
  QORV_DECLARE_CLASS(ERPlane, ERSurface);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  // The plane z = 0.
  ERPlane() : a_(0.0), b_(0.0), c_(1.0), d_(0.0) {}
  // a x + b y + c z + d = 0, all four divided by |(a, b, c)|.
  ERPlane(double a, double b, double c, double d);
  // Through p with normal n (normalised).
  ERPlane(const ERPoint3D& p, const ERVector3D& n);
  // Through p, normal along v1 x v2.
  ERPlane(const ERPoint3D& p, const ERVector3D& v1, const ERVector3D& v2);
  // Through the frame's origin, normal along the frame's axis.
  ERPlane(const ERPmIsometrie3D& frame, Coord3D axis);
  // Through the placement's origin, normal along its Z axis.
  ERPlane(const ERBoundedPlane& s);

  void getCoefficients(double& a, double& b, double& c, double& d) const {
    a = a_, b = b_, c = c_, d = d_;
  }
  ERVector3D normalVector() const { return ERVector3D(a_, b_, c_); }
  double distanceOrg() const { return d_; }
  double distancePt(const ERPoint3D& p) const;
  // -d (a, b, c): the foot of the coordinate origin.
  ERPoint3D origine() const;
  ERPmIsometrie3D getTransfo() const;
  ERPlane getOffset(double e) const;
  ERPlane getreversed() const { return ERPlane(Raw{}, -a_, -b_, -c_, -d_); }
  ERPoint3D project(const ERPoint3D& p) const;
  // n x (v x n): the part of v in the plane.
  ERVector3D project(const ERVector3D& v) const;
  ERInfLine3D project(const ERInfLine3D& line) const;
  int is_perpendicular(const ERInfLine3D& line, double tol) const;
  // Each coefficient within 1e-11.
  bool operator==(const ERPlane& o) const;

  // dist = a x + b y + c z + d; DISTMIN_NORMAL. The vector takes no part.
  static DISTMINRES SignedMinimalDistancePlane(const ERPoint3D& p, const ERVector3D& unused,
                                               double a, double b, double c, double d,
                                               double& dist);
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& dist) const override;
  void SignedDistances(const double* xyz, std::size_t n, double* out) const override;
  int ProjectionNormale(const ERPoint3D& p, ERPoint3D& foot, ERVector3D& normal) const override;
  void reverse() override { a_ = -a_, b_ = -b_, c_ = -c_, d_ = -d_; }
  void offset(double e) override { d_ -= e; }
  void scale(double k) override { d_ *= k; }
  void translate(const ERPoint3D& t) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;

  // printOn: "Plane (" m ")" a/m "," b/m "," c/m "," d/m with m = |(a, b, c)|, or
  // "Plane : Indefini" when m <= 1e-11; line end.
  QORV_DECLARE_STORED(ERPlane);

 private:
  struct Raw {};
  ERPlane(Raw, double a, double b, double c, double d) : a_(a), b_(b), c_(c), d_(d) {}
  // The normal and origin point rebuilt into coefficients (a zero normal stays zero).
  void rebuild(ERVector3D n, const ERPoint3D& p);
  bool projectable() const;

  double a_, b_, c_, d_;
};

class QORV_API ERCylinder : public ERSurface {
 public:
  QORV_DECLARE_CLASS(ERCylinder, ERSurface);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  // Radius 1 about the Z axis.
  ERCylinder() : radius_(1.0) {}
  ERCylinder(const ERInfLine3D& axis, double radius) : radius_(radius), axis_(axis) {}
  // Same radius; the line of its axis segment (from udeb to ufin; the placement's Z axis when
  // the segment is a point).
  ERCylinder(const ERBoundedCylinder& s);

  const ERInfLine3D& axe() const { return axis_; }
  double radius() const { return radius_; }
  void radius(double r) { radius_ = r; }
  void diameter(double d) { radius_ = 0.5 * d; }
  void reverse_axis() { axis_.reverse(); }

  static int ProjectionNormaleCylinder(const ERPoint3D& p, const ERInfLine3D& axis, double radius,
                                       ERPoint3D& foot, ERVector3D& normal);
  // |P - A| - radius with A the axis foot; DISTMIN_DEGENERATE when |P - A| <= 1e-11 or P is
  // on the axis by the projection's test.
  static DISTMINRES SignedMinimalDistanceCylinder(const ERPoint3D& p, const ERInfLine3D& axis,
                                                  double radius, double& dist);
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& dist) const override {
    return SignedMinimalDistanceCylinder(p, axis_, radius_, dist);
  }
  void SignedDistances(const double* xyz, std::size_t n, double* out) const override;
  int ProjectionNormale(const ERPoint3D& p, ERPoint3D& foot, ERVector3D& normal) const override {
    return ProjectionNormaleCylinder(p, axis_, radius_, foot, normal);
  }
  void offset(double e) override { radius_ += e; }
  void scale(double k) override;
  void translate(const ERPoint3D& t) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;

  // printOn: "Cylindre :   Segment =" axis (its own form, with its line end), line end,
  // "         :   Radius  =" radius, line end.
  QORV_DECLARE_STORED(ERCylinder);

 private:
  double radius_;
  ERInfLine3D axis_;
};

class QORV_API ERSphere : public ERSurface {
 public:
  QORV_DECLARE_CLASS(ERSphere, ERSurface);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  ERSphere() : radius_(0.0) {}
  ERSphere(const ERPoint3D& centre, double radius) : centre_(centre), radius_(radius) {}
  ERSphere(const ERBoundedSphere& s);

  const ERPoint3D& center() const { return centre_; }
  void center(const ERPoint3D& c) { centre_ = c; }
  double radius() const { return radius_; }
  void diameter(double d) { radius_ = 0.5 * d; }
  // 0 when p is exactly the centre, else 1 with the foot.
  int project(const ERPoint3D& p, ERPoint3D& foot) const;

  static int ProjectionNormaleSphere(const ERPoint3D& p, const ERPoint3D& centre, double radius,
                                     ERPoint3D& foot, ERVector3D& normal);
  static DISTMINRES SignedMinimalDistanceSphere(const ERPoint3D& p, const ERPoint3D& centre,
                                                double radius, double& dist);
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& dist) const override {
    return SignedMinimalDistanceSphere(p, centre_, radius_, dist);
  }
  void SignedDistances(const double* xyz, std::size_t n, double* out) const override;
  int ProjectionNormale(const ERPoint3D& p, ERPoint3D& foot, ERVector3D& normal) const override {
    return ProjectionNormaleSphere(p, centre_, radius_, foot, normal);
  }
  void offset(double e) override { radius_ += e; }
  void scale(double k) override { centre_ *= k, radius_ *= k; }
  void translate(const ERPoint3D& t) override { centre_ += t; }
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;

  // printOn: "\n Sphere : centre " centre " Rayon =" radius, line end.
  QORV_DECLARE_STORED(ERSphere);

 private:
  ERPoint3D centre_;
  double radius_;
};

class QORV_API ERCone : public ERSurface {
 public:
  QORV_DECLARE_CLASS(ERCone, ERSurface);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  // Everything zero.
  ERCone() : alpha_(0.0) {}
  // dir normalised.
  ERCone(const ERPoint3D& apex, const ERVector3D& dir, double halfAngle)
      : alpha_(halfAngle), apex_(apex), dir_(dir.getnormalized()) {}
  // Same half-angle and apex; the direction of its axis segment (udeb to ufin).
  ERCone(const ERBoundedCone& s);

  const ERPoint3D& sommet() const { return apex_; }
  const ERVector3D& direction() const { return dir_; }
  double demiAngle() const { return alpha_; }
  ERInfLine3D axe() const { return ERInfLine3D(dir_, apex_); }
  // tan(a) h and 2 tan(a) h: the section at height h.
  double radius(double h) const;
  double diameter(double h) const;
  // Apex - (e / sin a) dir; unchanged when sin a is 0.
  ERCone getOffset(double e) const;
  // Computes nothing; 1.
  int project(const ERPoint3D& p, ERPoint3D& a, ERPoint3D& b, double& x, double& y,
              double& z) const;

  static int ProjectionNormaleCone(const ERVector3D& dir, const ERPoint3D& apex, double alpha,
                                   const ERPoint3D& p, ERPoint3D& foot, ERVector3D& normal);
  static DISTMINRES SignedMinimalDistanceCone(const ERPoint3D& p, const ERPoint3D& apex,
                                              const ERVector3D& dir, double alpha, double& dist);
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& dist) const override {
    return SignedMinimalDistanceCone(p, apex_, dir_, alpha_, dist);
  }
  void SignedDistances(const double* xyz, std::size_t n, double* out) const override;
  int ProjectionNormale(const ERPoint3D& p, ERPoint3D& foot, ERVector3D& normal) const override {
    return ProjectionNormaleCone(dir_, apex_, alpha_, p, foot, normal);
  }
  void reverse() override { dir_ = -dir_; }
  void offset(double e) override { *this = getOffset(e); }
  void scale(double k) override { apex_ *= k; }
  void translate(const ERPoint3D& t) override { apex_ += t; }
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;

  // printOn: "Cone     :   Sommet     =" apex, "         :   Axe        =" direction,
  // "         :  1/2Angle    =" the half-angle in degrees, each with its line end.
  QORV_DECLARE_STORED(ERCone);

 private:
  double alpha_;
  ERPoint3D apex_;
  ERVector3D dir_;
};

class QORV_API ERTorus : public ERSurface {
 public:
  QORV_DECLARE_CLASS(ERTorus, ERSurface);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  // R 10, r 1 about the Z axis through the coordinate origin.
  ERTorus() : R_(10.0), r_(1.0), vect_(0.0, 0.0, 1.0) {}
  ERTorus(double R, double r, const ERVector3D& vect, const ERPoint3D& origin)
      : R_(R), r_(r), vect_(vect), origin_(origin) {}
  ERTorus(const ERBoundedTorus& s);

  const ERPoint3D& origin() const { return origin_; }
  void origin(const ERPoint3D& o) { origin_ = o; }
  const ERVector3D& vect() const { return vect_; }
  void vect(const ERVector3D& v) { vect_ = v; }
  double radius() const { return R_; }
  void radius(double R) { R_ = R; }
  double small_radius() const { return r_; }
  void small_radius(double r) { r_ = r; }

  static int ProjectionNormalTorus(const ERPoint3D& centre, const ERVector3D& vect, double R,
                                   double r, const ERPoint3D& p, ERPoint3D& foot,
                                   ERVector3D& normal);
  static DISTMINRES SignedMinimalDistanceTorus(const ERPoint3D& p, const ERPoint3D& centre,
                                               const ERVector3D& vect, double R, double r,
                                               double& dist);
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& dist) const override {
    return SignedMinimalDistanceTorus(p, origin_, vect_, R_, r_, dist);
  }
  void SignedDistances(const double* xyz, std::size_t n, double* out) const override;
  int ProjectionNormale(const ERPoint3D& p, ERPoint3D& foot, ERVector3D& normal) const override {
    return ProjectionNormalTorus(origin_, vect_, R_, r_, p, foot, normal);
  }
  void offset(double e) override { r_ += e; }
  void scale(double k) override;
  void translate(const ERPoint3D& t) override;
  void transformFrom(const ERPmSimilitude3D& T) override;
  void transformTo(const ERPmSimilitude3D& T) override;

  // printOn: "Tore :   Vector       =" vect, "     :   Origin       =" origin,
  // "     :   Radius       =" R, "     :   Small Radius =" r, each with its line end.
  QORV_DECLARE_STORED(ERTorus);

 private:
  double R_;
  double r_;
  ERVector3D vect_;
  ERPoint3D origin_;
};
