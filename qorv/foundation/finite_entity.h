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
//   complete NURBS classes to be built or released.
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

// ---------------------------------------------------------------------------------------------
class QORV_API ERFiniteEntity2DWF : public virtual EREntity2DWF {
 public:
  QORV_DECLARE_CLASS(ERFiniteEntity2DWF, EREntity2DWF);

  virtual double udeb() const { return 0.0; }
  virtual double ufin() const { return 1.0; }
  virtual int isTrimmed() const { return 0; }
  virtual ERLimites getBound() const { return ERLimites(0.0, 1.0); }
  // The points at udeb() and ufin() agree within tol on every coordinate.
  virtual int isClosed(double tol) const;
  virtual ERInfoPoint2D PtCur(double u) const = 0;
  virtual ERPoint2D firstPt() const { return (*this)(udeb()); }
  virtual ERPoint2D lastPt() const { return (*this)(ufin()); }
  virtual ERPoint2D operator()(double u) const { return PtCur(u).point(); }
  virtual ERInfoPoint2D randomPoint() const;
  virtual QuickAlgebra::ERVec<ERPoint2D> approxime(const ERLimites& range, double tol) const;
  // n points at equal parameter steps over [udeb, ufin] (two when n < 2).
  virtual QuickAlgebra::ERVec<ERPoint2D> approxime(int n) const;
  virtual ERMinimax2D getBox() const = 0;
  virtual double arcLength(const ERLimites& range, double tol) const = 0;
  virtual double arcLength(double tol) const = 0;
  virtual double upperEstimate() const { return arcLength(1e-7); }
  virtual int splitAt(t_SmartPtr<ERFiniteEntity2DWF>& first, t_SmartPtr<ERFiniteEntity2DWF>& second,
                      double u) const = 0;
  // Parameters where the curve meets the line x = value, ascending.
  virtual int intersectWithAxeY(double x, QuickAlgebra::ERVec<double>& params) const;
  // Parameters where the curve crosses the line through p whose normal is v.
  virtual int intersectWith(const ERPoint2D& p, const ERVector2D& v,
                            QuickAlgebra::ERVec<double>& params) const;
  // Parameters of the orthogonal projections of p; the default projects nothing (0).
  virtual int ProjectPoint(const ERPoint2D& p, QuickAlgebra::ERVec<double>& params,
                           double tol) const;
  // The left normal of the tangent at u, normalised.
  virtual ERVector2D normal(double u) const { return PtCur(u).normale(); }
  // d signed (positive on the right of the direction of travel), u the nearest point's
  // parameter. The default searches the projections, then a sampling, and the two ends.
  virtual DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d, double& u) const;
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d) const override;
  virtual int IsContinuous(int order) const;
  // Empties params; returns 1.
  virtual int GetDiscontinuities(int order, QuickAlgebra::ERVec<double>& params) const;

 protected:
  // Seeds the approximation: the points at the two ends of the range. Curves add breakpoints.
  virtual void prepareApprox(ERPoint12List& list, const ERLimites& range, double tol) const;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERFiniteEntity3DWF : public virtual EREntity3DWF {
 public:
  QORV_DECLARE_CLASS(ERFiniteEntity3DWF, EREntity3DWF);

  virtual double udeb() const { return 0.0; }
  virtual double ufin() const { return 1.0; }
  virtual int isTrimmed() const { return 0; }
  virtual ERLimites getBound() const { return ERLimites(0.0, 1.0); }
  virtual int isClosed(double tol) const;
  virtual ERInfoPoint3DWF PtCur(double u) const = 0;
  virtual ERPoint3D firstPt() const { return (*this)(udeb()); }
  virtual ERPoint3D lastPt() const { return (*this)(ufin()); }
  virtual ERPoint3D operator()(double u) const { return PtCur(u).point(); }
  virtual ERInfoPoint3DWF randomPoint() const;
  virtual QuickAlgebra::ERVec<ERPoint3D> approxime(const ERLimites& range, double tol) const;
  virtual QuickAlgebra::ERVec<ERPoint3D> approxime(int n) const;
  virtual ERMinimax3D getBox() const = 0;
  virtual double arcLength(const ERLimites& range, double tol) const = 0;
  virtual double arcLength(double tol) const = 0;
  virtual double upperEstimate() const { return arcLength(1e-7); }
  virtual int splitAt(t_SmartPtr<ERFiniteEntity3DWF>& first, t_SmartPtr<ERFiniteEntity3DWF>& second,
                      double u) const = 0;
  // Parameters where the curve meets the plane z = value, ascending.
  virtual int intersectWithPlanZ(double z, QuickAlgebra::ERVec<double>& params) const;
  // Parameters where the curve crosses the plane through p with normal v.
  virtual int intersectWith(const ERPoint3D& p, const ERVector3D& v,
                            QuickAlgebra::ERVec<double>& params) const;
  virtual int ProjectPoint(const ERPoint3D& p, QuickAlgebra::ERVec<double>& params,
                           double tol) const;
  virtual int IsContinuous(int order) const;
  virtual int GetDiscontinuities(int order, QuickAlgebra::ERVec<double>& params) const;

 protected:
  virtual void prepareApprox(ERPoint13List& list, const ERLimites& range, double tol) const;
};

// ---------------------------------------------------------------------------------------------
// A natural parameter domain. Subclasses re-map their own data in redefineDomain and
// reparametrize, then call these.
class QORV_API ERLimitedEntity2DWF : public ERFiniteEntity2DWF {
 public:
  QORV_DECLARE_CLASS(ERLimitedEntity2DWF, ERFiniteEntity2DWF);

  ERLimitedEntity2DWF() = default;
  explicit ERLimitedEntity2DWF(const ERLimites& domain) : domain_(domain) {}

  double udeb() const override { return domain_.start(); }
  double ufin() const override { return domain_.end(); }
  ERLimites getBound() const override { return domain_; }
  double Ndeb() const { return domain_.start(); }
  double Nfin() const { return domain_.end(); }
  const ERLimites& domain() const { return domain_; }
  virtual void redefineDomain(const ERLimites& domain) { domain_ = domain; }
  virtual void reparametrize(const ERLimites& domain) { domain_ = domain; }

  // "Domaine : " domain, line end.
  void printOn(std::ostream& os) const override;
  void saveGuts(ERFile& f) const override;
  void restoreGuts(ERFile& f) override;
  std::uint32_t binaryStoreSize() const override;

 private:
  ERLimites domain_;
};

class QORV_API ERLimitedEntity3DWF : public ERFiniteEntity3DWF {
 public:
  QORV_DECLARE_CLASS(ERLimitedEntity3DWF, ERFiniteEntity3DWF);

  ERLimitedEntity3DWF() = default;
  explicit ERLimitedEntity3DWF(const ERLimites& domain) : domain_(domain) {}

  double udeb() const override { return domain_.start(); }
  double ufin() const override { return domain_.end(); }
  ERLimites getBound() const override { return domain_; }
  double Ndeb() const { return domain_.start(); }
  double Nfin() const { return domain_.end(); }
  const ERLimites& domain() const { return domain_; }
  virtual void redefineDomain(const ERLimites& domain) { domain_ = domain; }
  virtual void reparametrize(const ERLimites& domain) { domain_ = domain; }

  void printOn(std::ostream& os) const override;
  void saveGuts(ERFile& f) const override;
  void restoreGuts(ERFile& f) override;
  std::uint32_t binaryStoreSize() const override;

 private:
  ERLimites domain_;
};

// ---------------------------------------------------------------------------------------------
// Trim bounds inside the domain. redefineDomain trims and adjusts (the curve becomes the
// piece); reparametrize maps the trim bounds with the domain; reverse mirrors the trim bounds
// in the domain (subclasses reverse their own data and call it).
class QORV_API ERTrimmedEntity2DWF : public ERLimitedEntity2DWF {
 public:
  QORV_DECLARE_CLASS(ERTrimmedEntity2DWF, ERLimitedEntity2DWF);

  ERTrimmedEntity2DWF() = default;
  explicit ERTrimmedEntity2DWF(const ERLimites& domain)
      : ERLimitedEntity2DWF(domain), bounds_(domain) {}
  ERTrimmedEntity2DWF(const ERLimites& domain, const ERLimites& bounds)
      : ERLimitedEntity2DWF(domain), bounds_(bounds) {}

  double udeb() const override { return bounds_.start(); }
  double ufin() const override { return bounds_.end(); }
  ERLimites getBound() const override { return bounds_; }
  int isTrimmed() const override { return bounds_ != domain(); }
  // Returns the previous bounds.
  ERLimites setBound(const ERLimites& bounds);
  // The domain becomes the trim bounds.
  virtual void adjust();
  void redefineDomain(const ERLimites& domain) override;
  void reparametrize(const ERLimites& domain) override;
  void reverse() override;

  // The domain, then "Bornes  : " bounds, line end.
  void printOn(std::ostream& os) const override;
  void saveGuts(ERFile& f) const override;
  void restoreGuts(ERFile& f) override;
  std::uint32_t binaryStoreSize() const override;

 private:
  ERLimites bounds_;
};

class QORV_API ERTrimmedEntity3DWF : public ERLimitedEntity3DWF {
 public:
  QORV_DECLARE_CLASS(ERTrimmedEntity3DWF, ERLimitedEntity3DWF);

  ERTrimmedEntity3DWF() = default;
  explicit ERTrimmedEntity3DWF(const ERLimites& domain)
      : ERLimitedEntity3DWF(domain), bounds_(domain) {}
  ERTrimmedEntity3DWF(const ERLimites& domain, const ERLimites& bounds)
      : ERLimitedEntity3DWF(domain), bounds_(bounds) {}

  double udeb() const override { return bounds_.start(); }
  double ufin() const override { return bounds_.end(); }
  ERLimites getBound() const override { return bounds_; }
  int isTrimmed() const override { return bounds_ != domain(); }
  ERLimites setBound(const ERLimites& bounds);
  virtual void adjust();
  void redefineDomain(const ERLimites& domain) override;
  void reparametrize(const ERLimites& domain) override;
  void reverse() override;

  void printOn(std::ostream& os) const override;
  void saveGuts(ERFile& f) const override;
  void restoreGuts(ERFile& f) override;
  std::uint32_t binaryStoreSize() const override;

 private:
  ERLimites bounds_;
};

// ---------------------------------------------------------------------------------------------
// The range is the angle pair: udeb() the start angle, ufin() the end angle, unordered.
class QORV_API ERFiniteEntity2DWFBoundedWithAngle : public ERFiniteEntity2DWF, public EREntAngle {
 public:
  QORV_DECLARE_CLASS(ERFiniteEntity2DWFBoundedWithAngle, ERFiniteEntity2DWF);

  ERFiniteEntity2DWFBoundedWithAngle() = default;
  ERFiniteEntity2DWFBoundedWithAngle(ERRadian start, ERRadian end) : EREntAngle(start, end) {}

  double udeb() const override { return startAngle(); }
  double ufin() const override { return endAngle(); }
  ERLimites getBound() const override;
  // Start equals end + 2pi or end - 2pi exactly; tol takes no part.
  int isClosed(double tol) const override { return EREntAngle::isClosed(tol); }
  // Swaps the angles.
  void reverse() override { EREntAngle::reverse(); }

  // The angles ("Angle de Debut:" ..., "Angle de Fin  :" ...).
  void printOn(std::ostream& os) const override { EREntAngle::printOn(os); }
  void saveGuts(ERFile& f) const override { EREntAngle::saveGuts(f); }
  void restoreGuts(ERFile& f) override { EREntAngle::restoreGuts(f); }
  std::uint32_t binaryStoreSize() const override;
};

class QORV_API ERFiniteEntity3DWFBoundedWithAngle : public ERFiniteEntity3DWF, public EREntAngle {
 public:
  QORV_DECLARE_CLASS(ERFiniteEntity3DWFBoundedWithAngle, ERFiniteEntity3DWF);

  ERFiniteEntity3DWFBoundedWithAngle() = default;
  ERFiniteEntity3DWFBoundedWithAngle(ERRadian start, ERRadian end) : EREntAngle(start, end) {}

  double udeb() const override { return startAngle(); }
  double ufin() const override { return endAngle(); }
  ERLimites getBound() const override;
  int isClosed(double tol) const override { return EREntAngle::isClosed(tol); }
  void reverse() override { EREntAngle::reverse(); }

  void printOn(std::ostream& os) const override { EREntAngle::printOn(os); }
  void saveGuts(ERFile& f) const override { EREntAngle::saveGuts(f); }
  void restoreGuts(ERFile& f) override { EREntAngle::restoreGuts(f); }
  std::uint32_t binaryStoreSize() const override;
};

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

  void saveGuts(ERFile& f) const override;
  void restoreGuts(ERFile& f) override;
  std::uint32_t binaryStoreSize() const override;

 protected:
  const ERPmIsometrie3D& frame() const { return frame_; }

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
