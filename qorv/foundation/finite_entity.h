// qorv/foundation/finite_entity.h
//
// The curves with a parameter range, and the planar space entities:
//   ERFiniteEntity2DWF / 3DWF      the finite-curve interface and its defaults, range [0, 1]
//   ERLimitedEntity2DWF / 3DWF     a natural parameter domain
//   ERTrimmedEntity2DWF / 3DWF     a domain and trim bounds inside it
//   ERFiniteEntity2DWFBoundedWithAngle / 3DWF...   the range is a pair of angles (EREntAngle)
//   ERPlanarEntity3DWF             a space entity placed by a plane frame
// All abstract. Every curve class derives from one of them; the curve twins share one body per
// operation (finite_entity.cpp), written over the point, vector and record types.
//
// Conventions a caller gets wrong:
// - The range is [udeb(), ufin()] as the class defines it: the trim bounds of a trimmed curve,
//   the start and end angles of an angle-bounded one (so udeb() may exceed ufin(): an arc from
//   3pi/2 to pi/2); getBound() is always [min, max].
// - approxime(range, tol) refines the polyline until every chord's mid-parameter point lies
//   within tol of the line through the chord's ends; chords shorter than 1e-7 in parameter are
//   never split. A NaN tolerance gives the two end points.
// - randomPoint() draws u = udeb + (ufin - udeb) rand() / RAND_MAX, uniform over the range
//   whatever the C library's ceiling (not the / 32767 of 16-bit hosts, which pins nearly every
//   draw to the end where rand() reaches 2^31 - 1); seed it with srand() for a repeatable draw.
// - intersectWithAxeY / intersectWithPlanZ / ProjectPoint append to params and return how many
//   entries params then holds, not how many they added.
// - isTrimmed() compares exactly; setBound() does not check that the bounds lie in the domain.
// - The default intersectWithAxeY / intersectWithPlanZ sample the range in 64 equal steps and
//   refine each sign change by bisection: a crossing inside one step that enters and leaves it
//   again is missed. Curves with an exact answer override them.
// - ConvertToNurbs joins this interface with the pole curves, whose smart pointer needs the
//   complete NURBS classes to be built or released: include qorv/freeform/pole_curves.h to call
//   it. Segments, arcs, elliptic arcs, polynomial patches and the pole curves fill it.
//
// Stored images (after the ERObject part, which writes nothing), little-endian doubles:
//   limited     domain start, end                                   16 bytes
//   trimmed     the limited part, then trim start, end              32 bytes
//   angles      start angle, end angle                              16 bytes
//   planar      the frame (an ERPmIsometrie3D envelope record)     116 bytes
// A short record leaves the object as it was.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "qorv/foundation/angles.h"
#include "qorv/foundation/boxes.h"
#include "qorv/foundation/entity.h"
#include "qorv/foundation/info_points.h"
#include "qorv/support/quick_algebra.h"

class ERPoint12List;
class ERPoint13List;
class ERCpoleNURBS2D;
class ERCpoleNURBS3D;

// ---------------------------------------------------------------------------------------------
// The finite-curve interface, declared once over the dimension's types in three pieces that
// keep the table's order; each class adds the operations of its dimension between them (the
// axis crossing, and in the plane the normal and the signed distance with its parameter).
//   isClosed: the points at udeb() and ufin() agree within tol on every coordinate.
//   approxime(n): n points at equal parameter steps over [udeb, ufin] (two when n < 2).
//   intersectWith: the parameters where the curve crosses the line (plane) through p of
//     normal v.
//   ProjectPoint: the parameters of the orthogonal projections of p; the default projects
//     nothing (0).
//   GetDiscontinuities: empties params, returns 1.
//   prepareApprox: seeds the approximation with the points at the two ends of the range;
//     curves add breakpoints.
#define QORV_FINITE_ENTITY_EVALUATION(Class, Point, Info, Box)                            \
  virtual double udeb() const { return 0.0; }                                             \
  virtual double ufin() const { return 1.0; }                                             \
  virtual int isTrimmed() const { return 0; }                                             \
  virtual ERLimites getBound() const { return ERLimites(0.0, 1.0); }                      \
  virtual int isClosed(double tol) const;                                                 \
  virtual Info PtCur(double u) const = 0;                                                 \
  virtual Point firstPt() const { return (*this)(udeb()); }                               \
  virtual Point lastPt() const { return (*this)(ufin()); }                                \
  virtual Point operator()(double u) const { return PtCur(u).point(); }                   \
  virtual Info randomPoint() const;                                                       \
  virtual QuickAlgebra::ERVec<Point> approxime(const ERLimites& range, double tol) const; \
  virtual QuickAlgebra::ERVec<Point> approxime(int n) const;                              \
  virtual Box getBox() const = 0;                                                         \
  virtual double arcLength(const ERLimites& range, double tol) const = 0;                 \
  virtual double arcLength(double tol) const = 0;                                         \
  virtual double upperEstimate() const { return arcLength(1e-7); }                        \
  virtual int splitAt(t_SmartPtr<Class>& first, t_SmartPtr<Class>& second, double u) const = 0

#define QORV_FINITE_ENTITY_PROJECTIONS(Point, Vector)                                             \
  virtual int intersectWith(const Point& p, const Vector& v, QuickAlgebra::ERVec<double>& params) \
      const;                                                                                      \
  virtual int ProjectPoint(const Point& p, QuickAlgebra::ERVec<double>& params, double tol) const

#define QORV_FINITE_ENTITY_CONTINUITY(SeedList)                                         \
  virtual int IsContinuous(int order) const;                                            \
  virtual int GetDiscontinuities(int order, QuickAlgebra::ERVec<double>& params) const; \
                                                                                        \
 protected:                                                                             \
  virtual void prepareApprox(SeedList& list, const ERLimites& range, double tol) const

class QORV_API ERFiniteEntity2DWF : public virtual EREntity2DWF {
 public:
  QORV_DECLARE_CLASS(ERFiniteEntity2DWF, EREntity2DWF);
  QORV_FINITE_ENTITY_EVALUATION(ERFiniteEntity2DWF, ERPoint2D, ERInfoPoint2D, ERMinimax2D);
  using NurbsPtr = t_SmartPtr<ERCpoleNURBS2D>;
  // The same curve as a NURBS over the same parameters (see the curves that fill it); null by
  // default and for a curve that has none (degenerate or damaged).
  virtual NurbsPtr ConvertToNurbs() const;
  // Parameters where the curve meets the line x = value, ascending.
  virtual int intersectWithAxeY(double x, QuickAlgebra::ERVec<double>& params) const;
  QORV_FINITE_ENTITY_PROJECTIONS(ERPoint2D, ERVector2D);
  // The left normal of the tangent at u, normalised.
  virtual ERVector2D normal(double u) const { return PtCur(u).normale(); }
  // d signed (positive on the right of the direction of travel), u the nearest point's
  // parameter. The default searches the projections, then a sampling, and the two ends.
  virtual DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d, double& u) const;
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d) const override;
  QORV_FINITE_ENTITY_CONTINUITY(ERPoint12List);
};

class QORV_API ERFiniteEntity3DWF : public virtual EREntity3DWF {
 public:
  QORV_DECLARE_CLASS(ERFiniteEntity3DWF, EREntity3DWF);
  QORV_FINITE_ENTITY_EVALUATION(ERFiniteEntity3DWF, ERPoint3D, ERInfoPoint3DWF, ERMinimax3D);
  using NurbsPtr = t_SmartPtr<ERCpoleNURBS3D>;
  virtual NurbsPtr ConvertToNurbs() const;
  // Parameters where the curve meets the plane z = value, ascending.
  virtual int intersectWithPlanZ(double z, QuickAlgebra::ERVec<double>& params) const;
  QORV_FINITE_ENTITY_PROJECTIONS(ERPoint3D, ERVector3D);
  QORV_FINITE_ENTITY_CONTINUITY(ERPoint13List);
};

// ---------------------------------------------------------------------------------------------
// The bounded curve classes, each written once for both dimensions: Base is the finite class
// of the dimension (ERFiniteEntity2DWF or 3DWF) or the limited class below it. A twin is one
// line.

// A natural parameter domain. Subclasses re-map their own data in redefineDomain and
// reparametrize, then call these. printOn writes "Domaine : " domain, line end.
#define QORV_LIMITED_ENTITY(Class, Base)                                       \
  class QORV_API Class : public Base {                                         \
   public:                                                                     \
    QORV_DECLARE_CLASS(Class, Base);                                           \
    Class() = default;                                                         \
    explicit Class(const ERLimites& domain) : domain_(domain) {}               \
    double udeb() const override { return domain_.start(); }                   \
    double ufin() const override { return domain_.end(); }                     \
    ERLimites getBound() const override { return domain_; }                    \
    double Ndeb() const { return domain_.start(); }                            \
    double Nfin() const { return domain_.end(); }                              \
    const ERLimites& domain() const { return domain_; }                        \
    virtual void redefineDomain(const ERLimites& domain) { domain_ = domain; } \
    virtual void reparametrize(const ERLimites& domain) { domain_ = domain; }  \
    void printOn(std::ostream& os) const override;                             \
    QORV_DECLARE_GUTS;                                                         \
                                                                               \
   private:                                                                    \
    ERLimites domain_;                                                         \
  }

// Trim bounds inside the domain. redefineDomain trims and adjusts (the curve becomes the
// piece); reparametrize maps the trim bounds with the domain; reverse mirrors the trim bounds
// in the domain (subclasses reverse their own data and call it); setBound returns the previous
// bounds; adjust() makes the domain the trim bounds. printOn writes the domain, then
// "Bornes  : " bounds, line end.
#define QORV_TRIMMED_ENTITY(Class, Base)                                                       \
  class QORV_API Class : public Base {                                                         \
   public:                                                                                     \
    QORV_DECLARE_CLASS(Class, Base);                                                           \
    Class() = default;                                                                         \
    explicit Class(const ERLimites& domain) : Base(domain), bounds_(domain) {}                 \
    Class(const ERLimites& domain, const ERLimites& bounds) : Base(domain), bounds_(bounds) {} \
    double udeb() const override { return bounds_.start(); }                                   \
    double ufin() const override { return bounds_.end(); }                                     \
    ERLimites getBound() const override { return bounds_; }                                    \
    int isTrimmed() const override { return bounds_ != domain(); }                             \
    ERLimites setBound(const ERLimites& bounds);                                               \
    virtual void adjust();                                                                     \
    void redefineDomain(const ERLimites& domain) override;                                     \
    void reparametrize(const ERLimites& domain) override;                                      \
    void reverse() override;                                                                   \
    void printOn(std::ostream& os) const override;                                             \
    QORV_DECLARE_GUTS;                                                                         \
                                                                                               \
   private:                                                                                    \
    ERLimites bounds_;                                                                         \
  }

// The range is the angle pair: udeb() the start angle, ufin() the end angle, unordered.
// isClosed: start equals end + 2pi or end - 2pi exactly (tol takes no part); reverse swaps the
// angles; printOn writes the angles ("Angle de Debut:" ..., "Angle de Fin  :" ...).
#define QORV_ANGLE_BOUNDED_ENTITY(Class, Base)                                    \
  class QORV_API Class : public Base, public EREntAngle {                         \
   public:                                                                        \
    QORV_DECLARE_CLASS(Class, Base);                                              \
    Class() = default;                                                            \
    Class(ERRadian start, ERRadian end) : EREntAngle(start, end) {}               \
    double udeb() const override { return startAngle(); }                         \
    double ufin() const override { return endAngle(); }                           \
    ERLimites getBound() const override;                                          \
    int isClosed(double tol) const override { return EREntAngle::isClosed(tol); } \
    void reverse() override { EREntAngle::reverse(); }                            \
    void printOn(std::ostream& os) const override { EREntAngle::printOn(os); }    \
    void saveGuts(ERFile& f) const override { EREntAngle::saveGuts(f); }          \
    void restoreGuts(ERFile& f) override { EREntAngle::restoreGuts(f); }          \
    std::uint32_t binaryStoreSize() const override;                               \
  }

QORV_LIMITED_ENTITY(ERLimitedEntity2DWF, ERFiniteEntity2DWF);
QORV_LIMITED_ENTITY(ERLimitedEntity3DWF, ERFiniteEntity3DWF);
QORV_TRIMMED_ENTITY(ERTrimmedEntity2DWF, ERLimitedEntity2DWF);
QORV_TRIMMED_ENTITY(ERTrimmedEntity3DWF, ERLimitedEntity3DWF);
QORV_ANGLE_BOUNDED_ENTITY(ERFiniteEntity2DWFBoundedWithAngle, ERFiniteEntity2DWF);
QORV_ANGLE_BOUNDED_ENTITY(ERFiniteEntity3DWFBoundedWithAngle, ERFiniteEntity3DWF);

// ---------------------------------------------------------------------------------------------
// The declarations of the conic arcs (circle and ellipse), written once for the family. In the
// plane, QORV_PLANE_ARC_OVERRIDES(Class, Curve): the parameter's point is Curve::pointAt, and
// the arc translates as Curve. In space, the curves drawn in a frame:
// QORV_PLANAR_CURVE_OVERRIDES(Class) for the full curve; QORV_PLANAR_ARC_OVERRIDES(Class, Curve)
// for its arc, which delegates the moves to Curve. The arcs' macros end in the protected
// section.
#define QORV_PLANE_ARC_OVERRIDES(Class, Curve)                                                    \
  ERPoint2D operator()(double t) const override { return pointAt(t); }                            \
  ERInfoPoint2D PtCur(double t) const override;                                                   \
  ERMinimax2D getBox() const override;                                                            \
  double arcLength(const ERLimites& range, double tol) const override;                            \
  double arcLength(double tol) const override;                                                    \
  int splitAt(t_SmartPtr<ERFiniteEntity2DWF>& first, t_SmartPtr<ERFiniteEntity2DWF>& second,      \
              double t) const override;                                                           \
  int intersectWithAxeY(double x, QuickAlgebra::ERVec<double>& params) const override;            \
  int intersectWith(const ERPoint2D& p, const ERVector2D& v, QuickAlgebra::ERVec<double>& params) \
      const override;                                                                             \
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d, double& u) const override;      \
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d) const override;                 \
  int isValid() const override;                                                                   \
  void scale(double s) override;                                                                  \
  void translate(const ERPoint2D& v) override { Curve::translate(v); }                            \
  void transformFrom(const ERTransfo2D& T) override;                                              \
  void transformTo(const ERTransfo2D& T) override;                                                \
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;               \
  void reverse() override { ERFiniteEntity2DWFBoundedWithAngle::reverse(); }                      \
  NurbsPtr ConvertToNurbs() const override;                                                       \
  QORV_DECLARE_STORED(Class);                                                                     \
                                                                                                  \
 protected:                                                                                       \
  void prepareApprox(ERPoint12List& list, const ERLimites& range, double tol) const override

#define QORV_PLANAR_CURVE_OVERRIDES(Class)                                               \
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& d) const override;        \
  int isValid() const override;                                                          \
  void scale(double s) override;                                                         \
  void translate(const ERPoint3D& v) override;                                           \
  void transformFrom(const ERPmSimilitude3D& T) override;                                \
  void transformTo(const ERPmSimilitude3D& T) override;                                  \
  void reverse() override {}                                                             \
  t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D& F) const override; \
  QORV_DECLARE_STORED(Class)

#define QORV_PLANAR_ARC_OVERRIDES(Class, Curve)                                                   \
  ERPoint3D operator()(double t) const override;                                                  \
  ERInfoPoint3DWF PtCur(double t) const override;                                                 \
  ERMinimax3D getBox() const override;                                                            \
  double arcLength(const ERLimites& range, double tol) const override;                            \
  double arcLength(double tol) const override;                                                    \
  int splitAt(t_SmartPtr<ERFiniteEntity3DWF>& first, t_SmartPtr<ERFiniteEntity3DWF>& second,      \
              double t) const override;                                                           \
  int intersectWithPlanZ(double z, QuickAlgebra::ERVec<double>& params) const override;           \
  int intersectWith(const ERPoint3D& p, const ERVector3D& v, QuickAlgebra::ERVec<double>& params) \
      const override;                                                                             \
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& d) const override;                 \
  t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D& F) const override;          \
  NurbsPtr ConvertToNurbs() const override;                                                       \
  void reverse() override { ERFiniteEntity3DWFBoundedWithAngle::reverse(); }                      \
  int isValid() const override;                                                                   \
  void scale(double s) override;                                                                  \
  void translate(const ERPoint3D& v) override { Curve::translate(v); }                            \
  void transformFrom(const ERPmSimilitude3D& T) override { Curve::transformFrom(T); }             \
  void transformTo(const ERPmSimilitude3D& T) override { Curve::transformTo(T); }                 \
  QORV_DECLARE_STORED(Class);                                                                     \
                                                                                                  \
 protected:                                                                                       \
  void prepareApprox(ERPoint13List& list, const ERLimites& range, double tol) const override

// ---------------------------------------------------------------------------------------------
// A space entity drawn in the XY plane of its frame. Isometries compose the frame; the entity's
// own data, expressed in the frame, does not move.
class QORV_API ERPlanarEntity3DWF : public virtual EREntity3DWF {
 public:
  QORV_DECLARE_CLASS(ERPlanarEntity3DWF, EREntity3DWF);
  using EREntity3D::transformFrom;
  using EREntity3D::transformTo;

  ERPlanarEntity3DWF() = default;
  explicit ERPlanarEntity3DWF(const ERPmIsometrie3D& frame) : frame_(frame) {}

  ERPmIsometrie3D getRepere() const { return frame_; }
  void setRepere(const ERPmIsometrie3D& frame) { frame_ = frame; }
  // The frame's Z axis in global coordinates.
  ERVector3D normale() const { return frame_.getVector(Coord3D::Z); }

  // frame = T * frame, and frame = ~T * frame.
  void transformFrom(const ERPmIsometrie3D& T) override;
  void transformTo(const ERPmIsometrie3D& T) override;

  QORV_DECLARE_GUTS;

 protected:
  const ERPmIsometrie3D& frame() const { return frame_; }
  // 1 when the frame maps: a representation whose matrix, translation and factor are finite.
  int frameIsValid() const;
  // The frame's origin scaled about the global origin, or moved by v; the axes stay.
  void scaleFrame(double s);
  void translateFrame(const ERPoint3D& v);
  // The frame carried through T (forward: T >> frame, else T << frame), axes re-normalised;
  // returns the factor lengths in the plane must take.
  double moveFrame(const ERPmSimilitude3D& T, bool forward);

 private:
  ERPmIsometrie3D frame_;
};

namespace qorv::detail {
// randomPoint() and approxime(n) over the parameters [a, b], for curves whose udeb()/ufin() are
// not parameters (the central angles of an elliptic arc).
QORV_API ERInfoPoint2D randomPointBetween(const ERFiniteEntity2DWF& c, double a, double b);
QORV_API ERInfoPoint3DWF randomPointBetween(const ERFiniteEntity3DWF& c, double a, double b);
QORV_API QuickAlgebra::ERVec<ERPoint2D> sampleBetween(const ERFiniteEntity2DWF& c, int n, double a,
                                                      double b);
QORV_API QuickAlgebra::ERVec<ERPoint3D> sampleBetween(const ERFiniteEntity3DWF& c, int n, double a,
                                                      double b);
}  // namespace qorv::detail
