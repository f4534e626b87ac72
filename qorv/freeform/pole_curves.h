// qorv/freeform/pole_curves.h
//
// The free-form curves defined by poles: Bezier curves with Cartesian poles (ERCpoleBezier2D/3D)
// or weighted ones (ERCpoleBezier2DR/3DR), and NURBS curves (ERCpoleNURBS2D/3D: weighted poles
// and an ERKnotVector), all trimmed entities under the abstract ERCpoleRep2D/3D. One declaration
// and one template body serve both dimensions.
//
// Conventions a caller gets wrong:
// - A weighted pole stores (w x, w y (, w z), w): ERPole2DH(p, w) does not multiply p by w.
// - A Bezier curve runs over its domain [t0, t1]: the local parameter is s = (t - t0)/(t1 - t0),
//   and PtCur's record holds s as its parameter (a NURBS record holds t). Derivatives are with
//   respect to t. redefineDomain of a Bezier curve recomputes the poles, so the curve becomes
//   the piece over the new domain; reparametrize only relabels.
// - A NURBS curve runs over its knot domain [U[p], U[n]] (the trimmed-entity domain); the
//   interval given to the constructor becomes the trim bounds. PtCur at a knot uses the span on
//   its right (the one-sided derivatives there), and the domain end the last span; an unclamped
//   vector evaluates the same way inside [U[p], U[n]]. redefineDomain of a NURBS curve trims it
//   (poles and knots are kept).
// - Where the weight of the curve is 0 (a zero weight with no neighbour to carry it, at an end
//   or a full-multiplicity knot) or anything is not finite, PtCur gives NaN point and
//   derivatives, never infinities. isValid refuses such curves up front: it asks for at least
//   one pole, finite poles, weights > 0, a non-empty domain and, for a NURBS curve, a finite
//   non-decreasing knot vector with exactly nbPoles + degree + 1 knots.
// - getBox holds the curve over its trim bounds for a valid curve: a Bezier curve gives the box
//   of the poles of the trimmed piece, a NURBS curve the box of the poles acting on the trimmed
//   spans. For a curve with a weight <= 0 it is only the box of those poles.
// - insertKnot(u, r) inserts u into a NURBS curve while the shape stays: r is cut to p - s (s the
//   present multiplicity of u), so an interior knot reaches at most multiplicity p; u outside
//   [U[p], U[n]) (the domain end included: it has no span on its right), r <= 0 or a curve whose
//   poles do not fit its knots change nothing.
// - reduceKnotMultiplicity(u, r) removes min(r, s) of the s occurrences of a knot u strictly
//   inside the domain and returns 1. Each removal takes the least-squares solution of the
//   insertion equations, whose residual is how far the old poles, and so the curve, move; it is
//   accepted when that is at most 1e-12 of the largest nearby pole coordinate (positions and
//   weights apart). Otherwise, and for r <= 0, a u that is not an interior knot or an invalid
//   curve, it returns 0 and the curve is unchanged (all or nothing).
// - incrDegree(t) keeps the shape; t <= 0, a degree past 1024 (Bezier) or 64 (NURBS) or an
//   invalid NURBS curve does nothing. Bezier: t elevations of the poles.
//   NURBS: the Bezier pieces of the spans are elevated and each breakpoint of old multiplicity s
//   brought back to s + t by knot removal, so the knots become incDegree(t) of the old ones. An
//   unclamped curve comes out clamped at its domain ends (its knots outside the domain go).
// - decrDegree lowers the degree by one. Bezier (3 poles or more, degree n, h = n / 2): the
//   ends stay, poles 1 .. h - 1 come forward from the start and h .. n - 2 backward from the
//   end, whose last step gives a second estimate of pole h - 1 (averaged with the forward one
//   when it is an inner pole); 1 when the two estimates agree within 1e-11 of the largest pole
//   coordinate (relative, so the flag holds at every scale), 0 otherwise, and the reduced
//   poles replace the old ones in both cases; fewer than 3 poles: 0 and unchanged. NURBS: 1 when
//   the curve is exactly of the lower degree (every Bezier piece reduces exactly and every
//   breakpoint goes back to multiplicity s - 1 within the removal tolerance, weights positive),
//   otherwise 0 and the curve unchanged.
// - adjust() makes a NURBS curve its trimmed piece: the knots are cut at the trim bounds
//   (inserted to full multiplicity) and the curve comes out clamped on them, its domain the
//   bounds. An invalid curve or empty bounds leave it as it was.
// - append(other, tol, flag) / prepend join the trimmed piece of other after / before the
//   trimmed piece of this curve (merge: at the pair of ends that lie nearest, other reversed
//   when need be). other is never modified; its parameters are shifted to follow on (append:
//   from this curve's end, prepend: up to its start) with their own length. The ends must lie
//   within max(tol, 1e-11 of the larger box diagonal); a negative tol checks nothing. The lower
//   degree is raised to the higher (at least 1); the joint is a C0 knot whose pole is this
//   curve's end (flag 0) or the middle of the two ends (flag != 0), other's weights scaled to
//   meet this curve's there. The result is untrimmed. An empty curve (no poles, no knots)
//   becomes other's piece. Refused (0, nothing changed): an invalid curve on either side or
//   ends too far apart.
// - reverse keeps the shape: C'(t) = C(a + b - t), [a, b] the domain of a Bezier curve and the
//   knot range U[0], U[m-1] of a NURBS curve (its domain when clamped); the trim bounds are
//   mirrored the same way.
// - ConvertToNurbs: a Bezier curve gives the NURBS of its poles (weight 1 for Cartesian ones) on
//   the Bezier knots of its domain, with its trim bounds; a NURBS curve a copy; no poles: null.
// - T >> c and T << c (an ERTransfo2D in the plane, an ERPmIsometrie3D in space) return the
//   curve moved as transformFrom / transformTo move it. get3DEquiv places a plane curve in the
//   XY plane of a frame and get2DEntProjectedOn expresses a space curve in a frame and drops the
//   normal coordinate; both keep the family (Cartesian Bezier, weighted Bezier, NURBS), the
//   knots, the domain and the trim bounds.
// - IsContinuous / GetDiscontinuities of a NURBS curve read the knots: the distinct knots
//   strictly inside the trim bounds where a multiplicity m gives p - m < order (parametric
//   continuity; a removable knot still counts). The ends are no discontinuity.
// - intersectWithAxeY (x = value) / intersectWithPlanZ (z = value) append, ascending, every
//   parameter within the trim bounds where the coordinate crosses or touches the value: the
//   real roots of x(s) - value w(s) on each span's power form (a double root once), a span
//   lying on the line or plane giving its two ends. They return the length of params; an
//   invalid curve or a non-finite value appends nothing. They fill the span cache.
// - approxime(range, tol) seeds the polyline with the range's ends, every knot inside it (so C0
//   corners are vertices) and p points per span, in the range's direction, then refines it.
// - isRational is 1 for every class (Cartesian Bezier poles have weight 1).
// - getSpanPower(i) is the power form of span i (the knot span [U[p+i], U[p+i+1]]; a Bezier
//   curve has the one span 0) in its local parameter s in [0, 1], one polynomial per stored
//   coordinate: x, y (, z) for Cartesian poles, then w for weighted ones (numerators and weight).
//   It is empty for an index out of range, a NURBS span at most 1e-11 long, or poles that do
//   not fit the knots. Each span's form is kept until the next edit: every mutation and restore
//   calls ResetCachedInfo, and a copy starts with no cache. getSpanPower fills the cache from a
//   const call, so one curve is not to be asked from several threads at once; PtCur, nearest
//   and ProjectPoint never touch the cache.
// - cordalHeight bounds the distance of the curve from its chord line. Bezier: the largest
//   distance of a pole from the line through the first and last poles (from the first pole when
//   they coincide; 0 for two poles or fewer). NURBS: the same for the poles acting on the trim
//   bounds and the line through the points at udeb() and ufin().
// - splitAt(c1, c2, u) / split(c1, c2) (the middle of the trim bounds) give new copies owned by
//   the caller, trimmed to [udeb, u] and [u, ufin] (a Bezier copy recomputed on its half); 0
//   with null pointers when u is not strictly inside the trim bounds.
// - nearest is global over the trim bounds (ends, corners and span junctions included) and
//   exact up to roundoff: the candidate feet are the real roots, span by span, of the exact
//   power form of (C - p).C' (for a weighted curve, of its numerator), plus the span ends;
//   a span whose pole box is farther than the best foot so far is skipped. Of two feet
//   equally near (the same computed distance) the one with the smaller parameter is returned.
//   An invalid curve or a non-finite point gives NaN for the distance and u.
// - ProjectPoint(p, params, tol) clears params and returns 0 when the box of p inflated by tol
//   is away from getBox (or the curve is invalid); otherwise it appends, for every span longer
//   than 1e-11 whose pole box meets that box, the parameters where (C - p).C' vanishes (the
//   span's middle when it vanishes identically), and returns their count, or -1 when no span
//   was near. Candidates only, over the whole knot range: use nearest for the nearest point.
// - SignedMinimalDistance(p, d, u) is positive on the right of the direction of travel; it
//   answers DISTMIN_END_POINT when the foot is a trim bound, DISTMIN_NONE for an invalid curve.
//   In space, SignedMinimalDistance(p, d) is the distance to nearest's point, never negative
//   (space has no side), with the same answers, as the space segments and arcs give.
//
// Stored image (little-endian):
//   SIZE    FIELD
//     32    trimmed-entity part: domain start, end; trim start, end (doubles)
//      4    byte length L of the poles: N poles of 8 k bytes
//      L    the poles, coordinates in the order x, y (, z) (, w) as doubles
//           (k = 2 / 3 for Cartesian poles, 3 / 4 for weighted ones)
//  NURBS only, then the knot vector:
//      4    byte length 8 m; 8 m the knots; 4 degree; 4 unclamped flag
// restoreGuts leaves the curve as it was on a short record, a pole length that is not a whole
// number of poles, a damaged knot vector, or a NURBS pole count other than m - degree - 1.
//
// Print form: the class name ("ERCpoleBezier2D", "ERCpoleBezier2DR", "ERCpoleNURBS2D", ...) and
// a line end, the trimmed-entity part ("Domaine : ...", "Bornes  : ..."), "Poles :" and a line
// end, then "(" N ")[" the poles' prints separated by "," "]" and a line end; a NURBS curve then
// writes a line end, "KnotVecteur", a line end and the knot vector's print.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "qorv/foundation/finite_entity.h"
#include "qorv/foundation/transfo2d.h"
#include "qorv/foundation/transfo3d.h"
#include "qorv/freeform/knot_vector.h"
#include "qorv/freeform/polynomial.h"
#include "qorv/support/quick_algebra.h"
#include "qorv/support/val_vector.h"

namespace qorv::detail {
// The power forms of the spans, filled one span at a time; a copy of a curve starts empty.
class SpanPowerCache {
 public:
  SpanPowerCache() = default;
  SpanPowerCache(const SpanPowerCache&) {}
  SpanPowerCache& operator=(const SpanPowerCache&) {
    clear();
    return *this;
  }
  void clear() { slots_.clear(), filled_.clear(); }
  const ERTValVector<ERPolynome>* find(int i) const {
    return i >= 0 && i < static_cast<int>(filled_.size()) && filled_[i] ? &slots_[i] : nullptr;
  }
  void store(int i, int slots, const ERTValVector<ERPolynome>& v) {
    if (i < 0 || i >= slots) return;
    if (static_cast<int>(slots_.size()) != slots)
      slots_.assign(slots, {}), filled_.assign(slots, 0);
    slots_[i] = v, filled_[i] = 1;
  }
  int filled() const {
    int n = 0;
    for (char f : filled_) n += f;
    return n;
  }

 private:
  std::vector<ERTValVector<ERPolynome>> slots_;
  std::vector<char> filled_;
};
}  // namespace qorv::detail

// The abstract pole curve of a dimension.
#define QORV_CPOLE_REP(Class, Trimmed, Limited, Finite, Point, Extra)                            \
  class QORV_API Class : public Trimmed {                                                        \
   public:                                                                                       \
    QORV_DECLARE_CLASS(Class, Trimmed);                                                          \
    Class() = default;                                                                           \
    explicit Class(const ERLimites& domain) : Trimmed(domain) {}                                 \
    Class(const ERLimites& domain, const ERLimites& bounds) : Trimmed(domain, bounds) {}         \
    /* Pole i as a Cartesian point (weighted poles divided by their weight). */                  \
    virtual Point operator[](int i) const = 0;                                                   \
    using Finite::operator();                                                                    \
    virtual ERKnotVector knotVector() const = 0;                                                 \
    virtual int degree() const = 0;                                                              \
    virtual int nbPoles() const = 0;                                                             \
    virtual int isBezier() const = 0;                                                            \
    virtual int isRational() const { return 1; }                                                 \
    /* Raises the degree by t, the shape kept; see the conventions. */                           \
    virtual void incrDegree(int t) = 0;                                                          \
    /* Lowers the degree by one; 1 when exact, see the conventions. */                           \
    virtual int decrDegree() = 0;                                                                \
    /* Adaptive Simpson on the speed, split at the knots. */                                     \
    double arcLength(const ERLimites& range, double tol) const override;                         \
    double arcLength(double tol) const override { return arcLength(getBound(), tol); }           \
    /* Two copies trimmed to [udeb, u] and [u, ufin]; 0 when u is not strictly inside. */        \
    int splitAt(t_SmartPtr<Finite>& first, t_SmartPtr<Finite>& second, double u) const override; \
    /* Empties the span cache; every edit calls it. */                                           \
    virtual void ResetCachedInfo() { spanCache_.clear(); }                                       \
    /* The power form of span i in its local parameter s in [0, 1]; see the conventions. */      \
    virtual ERTValVector<ERPolynome> getSpanPower(int i) const = 0;                              \
    /* How far the poles stray from the chord of the curve; see the conventions. */              \
    virtual double cordalHeight() const = 0;                                                     \
    /* New copies (owned by the caller) cut at u / at the middle of the trim bounds. */          \
    virtual int splitAt(Class*& first, Class*& second, double u) const;                          \
    virtual int split(Class*& first, Class*& second) const;                                      \
    /* The number of span power forms held (for the cache's own checks). */                      \
    int cachedSpans() const { return spanCache_.filled(); }                                      \
    /* The weight of pole i (1 for Cartesian poles). */                                          \
    virtual double poleWeight(int i) const = 0;                                                  \
    /* The global nearest point over the trim bounds: its distance, u its parameter. */          \
    double nearest(const Point& p, double& u) const;                                             \
    /* Every stationary point of the distance in the spans near p; see the conventions. */       \
    int ProjectPoint(const Point& p, QuickAlgebra::ERVec<double>& params,                        \
                     double tol) const override;                                                 \
    Extra                                                                                        \
                                                                                                 \
        protected : /* The range's ends, every knot inside it and p points per span. */          \
                    void                                                                         \
                    prepareApprox(QORV_CPOLE_LIST_##Class& list, const ERLimites& range,         \
                                  double tol) const override;                                    \
    /* Sets the domain and the trim bounds as they are. */                                       \
    void setDomain(const ERLimites& domain, const ERLimites& bounds) {                           \
      Limited::redefineDomain(domain);                                                           \
      setBound(bounds);                                                                          \
    }                                                                                            \
    mutable qorv::detail::SpanPowerCache spanCache_;                                             \
  }

#define QORV_CPOLE_LIST_ERCpoleRep2D ERPoint12List
#define QORV_CPOLE_LIST_ERCpoleRep3D ERPoint13List
// The dimension change of each family: the curve placed in a frame's XY plane, or seen in it.
#define QORV_CPOLE_DIM_ERCpoleRep2D \
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;
#define QORV_CPOLE_DIM_ERCpoleRep3D \
  t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D& frame) const override;

#define QORV_CPOLE_SIGNED_2D                                                                 \
  using ERFiniteEntity2DWF::SignedMinimalDistance;                                           \
  DISTMINRES SignedMinimalDistance(const ERPoint2D& p, double& d, double& u) const override; \
  /* Every crossing with the line x = value, from the span power forms. */                   \
  int intersectWithAxeY(double x, QuickAlgebra::ERVec<double>& params) const override;
#define QORV_CPOLE_CROSSING_3D                                                    \
  /* The unsigned distance to the nearest point (see the conventions). */         \
  DISTMINRES SignedMinimalDistance(const ERPoint3D& p, double& d) const override; \
  /* Every crossing with the plane z = value, from the span power forms. */       \
  int intersectWithPlanZ(double z, QuickAlgebra::ERVec<double>& params) const override;

QORV_CPOLE_REP(ERCpoleRep2D, ERTrimmedEntity2DWF, ERLimitedEntity2DWF, ERFiniteEntity2DWF,
               ERPoint2D, QORV_CPOLE_SIGNED_2D);
QORV_CPOLE_REP(ERCpoleRep3D, ERTrimmedEntity3DWF, ERLimitedEntity3DWF, ERFiniteEntity3DWF,
               ERPoint3D, QORV_CPOLE_CROSSING_3D);

// The members every concrete pole curve declares.
#define QORV_CPOLE_COMMON(Class, Rep, Point, Pole, Info, Box, Transfo) \
  QORV_DECLARE_CLASS(Class, Rep);                                      \
  ~Class() override = default;                                         \
  Point operator[](int i) const override;                              \
  Point operator()(double t) const override;                           \
  Info PtCur(double t) const override;                                 \
  Box getBox() const override;                                         \
  int degree() const override;                                         \
  int nbPoles() const override { return poles_.length(); }             \
  double poleWeight(int i) const override;                             \
  ERTValVector<ERPolynome> getSpanPower(int i) const override;         \
  double cordalHeight() const override;                                \
  void incrDegree(int t) override;                                     \
  int decrDegree() override;                                           \
  int isValid() const override;                                        \
  const QuickAlgebra::ERVec<Pole>& poles() const { return poles_; }    \
  void scale(double s) override;                                       \
  void translate(const Point& v) override;                             \
  using Rep::transformFrom;                                            \
  using Rep::transformTo;                                              \
  void transformFrom(const Transfo& T) override;                       \
  void transformTo(const Transfo& T) override;                         \
  void reverse() override;                                             \
  NurbsPtr ConvertToNurbs() const override;                            \
  QORV_CPOLE_DIM_##Rep QORV_DECLARE_STORED(Class);                     \
                                                                       \
 private:                                                              \
  QuickAlgebra::ERVec<Pole> poles_

// A Bezier curve over [t0, t1]; Pole is the Cartesian point or the weighted pole.
#define QORV_CPOLE_BEZIER(Class, Rep, Point, Pole, Info, Box, Transfo)     \
  class QORV_API Class : public Rep {                                      \
   public:                                                                 \
    Class() = default;                                                     \
    Class(const Class&) = default;                                         \
    Class(const QuickAlgebra::ERVec<Pole>& poles, const ERLimites& range); \
    ERKnotVector knotVector() const override;                              \
    int isBezier() const override { return 1; }                            \
    void redefineDomain(const ERLimites& domain) override;                 \
    QORV_CPOLE_COMMON(Class, Rep, Point, Pole, Info, Box, Transfo);        \
  }

// A NURBS curve: weighted poles and a knot vector.
#define QORV_CPOLE_NURBS(Class, Rep, Point, Pole, Info, Box, Transfo)                      \
  class QORV_API Class : public Rep {                                                      \
   public:                                                                                 \
    Class() = default;                                                                     \
    Class(const Class&) = default;                                                         \
    /* The Bezier knot sequence of degree N - 1 on [0, 1]. */                              \
    explicit Class(const QuickAlgebra::ERVec<Pole>& poles);                                \
    Class(const QuickAlgebra::ERVec<Pole>& poles, const ERKnotVector& knots);              \
    /* range: the trim bounds. */                                                          \
    Class(const QuickAlgebra::ERVec<Pole>& poles, const ERKnotVector& knots,               \
          const ERLimites& range);                                                         \
    ERKnotVector knotVector() const override { return knots_; }                            \
    int isBezier() const override {                                                        \
      return poles_.length() == knots_.degree() + 1 && !knots_.isUnclamped();              \
    }                                                                                      \
    /* The homogeneous point (weighted coordinates and weight). */                         \
    Pole CalOnNurbs_H(double t) const;                                                     \
    /* Boehm insertion of u, r times; the curve keeps its shape. */                        \
    void insertKnot(double u, int r);                                                      \
    /* Removes u r times while the shape stays; 0 and unchanged otherwise. */              \
    int reduceKnotMultiplicity(double u, int r);                                           \
    /* Joins the trimmed piece of other after / before / at either end of */               \
    /* this one; 0 and nothing changed when refused. See the conventions. */               \
    int append(const Class& other, double tol, int flag);                                  \
    int prepend(const Class& other, double tol, int flag);                                 \
    int merge(const Class& other, double tol, int flag);                                   \
    /* The curve becomes its trimmed piece, clamped at the trim bounds. */                 \
    void adjust() override;                                                                \
    void redefineDomain(const ERLimites& domain) override;                                 \
    void reparametrize(const ERLimites& domain) override;                                  \
    /* The knots inside the trim bounds where the curve is not C^order. */                 \
    int IsContinuous(int order) const override;                                            \
    int GetDiscontinuities(int order, QuickAlgebra::ERVec<double>& params) const override; \
                                                                                           \
   private:                                                                                \
    ERKnotVector knots_;                                                                   \
                                                                                           \
   public:                                                                                 \
    QORV_CPOLE_COMMON(Class, Rep, Point, Pole, Info, Box, Transfo);                        \
  }

QORV_CPOLE_BEZIER(ERCpoleBezier2D, ERCpoleRep2D, ERPoint2D, ERPoint2D, ERInfoPoint2D, ERMinimax2D,
                  ERTransfo2D);
QORV_CPOLE_BEZIER(ERCpoleBezier3D, ERCpoleRep3D, ERPoint3D, ERPoint3D, ERInfoPoint3DWF, ERMinimax3D,
                  ERPmSimilitude3D);
QORV_CPOLE_BEZIER(ERCpoleBezier2DR, ERCpoleRep2D, ERPoint2D, ERPole2DH, ERInfoPoint2D, ERMinimax2D,
                  ERTransfo2D);
QORV_CPOLE_BEZIER(ERCpoleBezier3DR, ERCpoleRep3D, ERPoint3D, ERPole3DH, ERInfoPoint3DWF,
                  ERMinimax3D, ERPmSimilitude3D);
QORV_CPOLE_NURBS(ERCpoleNURBS2D, ERCpoleRep2D, ERPoint2D, ERPole2DH, ERInfoPoint2D, ERMinimax2D,
                 ERTransfo2D);
QORV_CPOLE_NURBS(ERCpoleNURBS3D, ERCpoleRep3D, ERPoint3D, ERPole3DH, ERInfoPoint3DWF, ERMinimax3D,
                 ERPmSimilitude3D);

// The curve moved by T (T >> c, as transformFrom) or by its inverse (T << c, as transformTo).
#define QORV_CPOLE_OPERATORS(Class, Transfo)                   \
  QORV_API Class operator>>(const Transfo& T, const Class& c); \
  QORV_API Class operator<<(const Transfo& T, const Class& c)

QORV_CPOLE_OPERATORS(ERCpoleBezier2D, ERTransfo2D);
QORV_CPOLE_OPERATORS(ERCpoleBezier2DR, ERTransfo2D);
QORV_CPOLE_OPERATORS(ERCpoleNURBS2D, ERTransfo2D);
QORV_CPOLE_OPERATORS(ERCpoleBezier3D, ERPmIsometrie3D);
QORV_CPOLE_OPERATORS(ERCpoleBezier3DR, ERPmIsometrie3D);
QORV_CPOLE_OPERATORS(ERCpoleNURBS3D, ERPmIsometrie3D);

// The edits behind the pole curves, on flat homogeneous poles (K doubles each, the last the
// weight when weighted) and clamped knots: true and P, U replaced, or false and U unchanged.
namespace qorv::detail {
// The Bezier poles (p + 1 of K doubles) of the non-empty span s of the B-spline (H, U).
void spanBezier(const double* H, int K, const ERKnotVector& U, int s, double* out);
// One degree less for N Bezier poles, in place; true when exact (see decrDegree).
bool reduceBezier(double* P, int N, int K, bool weighted);
bool elevateSplineDegree(std::vector<double>& P, ERKnotVector& U, int K, bool weighted, int t);
bool reduceSplineDegree(std::vector<double>& P, ERKnotVector& U, int K, bool weighted);
bool removeSplineKnot(std::vector<double>& P, ERKnotVector& U, int K, bool weighted, double u,
                      int r);
}  // namespace qorv::detail
