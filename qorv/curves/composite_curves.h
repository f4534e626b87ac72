// qorv/curves/composite_curves.h
//
// Composite curves: an ordered chain of finite curves that answers as one finite curve.
//   ERCompCurve2D / 3D     elements: any finite curve of the dimension
//   ERCrvCompPoly2D / 3D   elements: polynomial patches (ERPatchCPoly2D / 3D)
// One declaration (QORV_COMP_CURVE) and one template body serve the four classes.
//
// Conventions a caller gets wrong:
// - Parameters. After every successful append / prepend the natural limits and the trim bounds
//   are [0, N] (N elements): element i covers [i, i + 1] (the default parametrisation).
//   reparametrize changes only the global-to-local map of PtCur and operator(); ProjectPoint,
//   approxime and splitAt keep reading and reporting default parameters.
// - Global to local: with natural limits [t0, t1], x = (t - t0) / (t1 - t0) N; at or below t0
//   the first element with the fraction f = x (extrapolated, not clamped), at or above t1 the
//   last with f = x - N + 1, otherwise element floor(x) (held in [0, N - 1] against rounding)
//   with f = x - floor(x). Natural limits of zero width or a NaN t give the first element at
//   f = 0.
// - The element's direction of travel, not its getBound(), orients f. With [a, b] = getBound(),
//   an element runs forwards when udeb() <= ufin(): u = a + f (b - a); it runs backwards when
//   udeb() > ufin() (an arc or elliptic arc appended reversed): u = b - f (b - a). So f = 0 is
//   always the element's firstPt() and f = 1 its lastPt(), and evaluation, projection,
//   approxime, splitAt and ConvertToNurbs follow the chain. u is clamped into [a, b] when f lies
//   in [0, 1]. A local parameter maps back the same way; an element of zero width maps every
//   parameter to f = 0.
// - PtCur returns the element's record unchanged: the parameter and the derivatives in it are
//   the element's own (an arc's record holds its angle and d/dtheta).
// - append / prepend always store a copy (the caller's element is never modified). With an
//   empty chain or tol < 0 the copy goes in unchecked; otherwise the Euclidean distance from the
//   chain's end (append: lastPt of the last element; prepend: firstPt of the first) to the
//   element's first point is tried before its last (prepend: last before first), each inclusive
//   (<= tol); a match with the far end stores the copy reversed. No match, a NaN tol, a null
//   element or one that cannot be copied: 0, and the chain is untouched. Null elements (restored
//   from a file that stored them) are skipped when the chain's end is looked for and by every
//   other operation; a null element evaluates to the default record carrying t.
// - at(i) is the held pointer (null for a null element and for i outside [0, N)), reached through
//   an index of the list kept with it, so evaluation does not walk the list.
// - ProjectPoint(p, params, tol): with tol > 0 the point's box inflated by tol must meet the
//   chain's box, otherwise 0 (a foot within tol lies in that box; the strict containment or
//   overlap codes would turn away a point on a flat chain's border), and each element is asked
//   with tol. With tol <= 0 every element is asked, with a tolerance that reaches over its whole
//   box (a pole curve gates its spans by boxes and would miss feet of points outside them).
//   Each element's parameters are mapped to i + f; non-finite ones (a
//   zero-length segment) and those whose f leaves [0, 1] by more than 1e-9 (pole curves report
//   candidates over their whole knot range) are dropped, f in [-1e-9, 0) and (1, 1 + 1e-9] is
//   clamped. An element that answers -1 (every point equally near: an arc about its centre)
//   gives i + 0.5, when its ends and middle are indeed equally near (a pole curve also answers
//   -1 when no span is near: nothing is appended then). The result is -1 when every non-null
//   element answered -1, else the number of parameters; both feet at a joint are reported (k from
//   element k - 1, k from element k).
// - intersectWithAxeY (x = value) / intersectWithPlanZ (z = value) ask every element and map its
//   crossings to the chain's own (natural) parameters, ascending, a crossing at a joint once
//   (the sampling of the finite-curve default would miss crossings on chains of many elements).
// - getBox is the union of the element boxes (the empty box for an empty chain).
// - arcLength, both forms: the sum of the element lengths at 1e-7; the limits and the caller's
//   tolerance take no part.
// - approxime(limits, tol): the limits are default parameters (swapped limits give the reversed
//   polyline); each element meeting them contributes its own approximation of the covered
//   piece, in the chain's direction; a piece's first point is dropped when it repeats the last
//   point within 1e-11 in every coordinate. The walk stops at the first element past the range.
// - ConvertToNurbs: each element's NURBS cut to its trim bounds and relabelled [i, i + 1], joined
//   end to start without end checks (a gap is closed at the earlier element's end); the result
//   is then relabelled to the chain's natural limits and trimmed to its bounds, so it runs with
//   PtCur's parameter. Null for an empty chain or when an element has no NURBS form.
// - splitAt(first, second, t): t is a default parameter, k = floor(t). t < 0 or NaN: 0, outputs
//   untouched. t >= N with t - N > 1e-11, or an empty chain: first = a copy of the chain, second
//   untouched, 0. Otherwise two new chains: elements 0 .. k - 1 and, unless t is within 1e-11
//   of k, the first piece of element k split at its local parameter for the fraction t - k go to
//   first; the rest to second (t = N gives an empty second). Elements move as they are stored
//   (no end checks, no re-orientation), so a chain with gaps splits into chains with the same
//   gaps. An element that refuses the split at a fraction so near an end that its local
//   parameter is that end goes whole to the nearer side.
// - reverse: each element reversed in place, the order reversed, the trim bounds mirrored.
//   Placement operations move the elements in place; copies and assignment copy every element.
// - get3DEquiv / get2DEntProjectedOn: the twin chain (ERCompCurve3D / 2D, ERCrvCompPoly3D / 2D)
//   of the elements' own equivalents, appended unchecked; an element without one is left out.
// - T >> c and T << c return the chain moved by transformFrom / transformTo.
//
// Stored image (little-endian; after the trimmed-entity part: domain start, end, trim start,
// end as doubles, 32 bytes):
//   SIZE  FIELD
//      4  element count N
//   then per element:
//      4  null flag: 1 for a null element, 0 otherwise
//      4  (non-null only) the element's identifier in the current database (recursiveSaveOn)
// binaryStoreSize = 32 + 4 + per element 4 + (4 when non-null). restoreGuts refuses a negative
// count, a count larger than the rest of the record can hold, or a short record: the chain
// keeps its former elements and limits. An element of the wrong class reads as null.
//
// Print form, each item followed by a line end: a rule of 53 "=", "<class> with " N
// " elements", the trimmed-entity part; per non-null element "Start Point : " first point,
// "End Point   : " last point, from the second on " Dist = " the gap to the previous element's
// last point, "Curve     : ---------------- ", the element's print, "End Curve : ----------------
// "; the closing rule.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "qorv/foundation/finite_entity.h"
#include "qorv/foundation/transfo2d.h"
#include "qorv/foundation/transfo3d.h"
#include "qorv/freeform/polynomial_patch.h"
#include "qorv/support/lists.h"
#include "qorv/support/quick_algebra.h"

namespace qorv::detail {
template <class C>
struct CompBody;
}  // namespace qorv::detail

#define QORV_COMP_MOVES_2D                                                             \
  int intersectWithAxeY(double x, QuickAlgebra::ERVec<double>& params) const override; \
  void translate(const ERPoint2D& v) override;                                         \
  void transformFrom(const ERTransfo2D& T) override;                                   \
  void transformTo(const ERTransfo2D& T) override;                                     \
  t_SmartPtr<EREntity3DWF> get3DEquiv(const ERPmIsometrie3D& frame) const override;

#define QORV_COMP_MOVES_3D                                                              \
  int intersectWithPlanZ(double z, QuickAlgebra::ERVec<double>& params) const override; \
  void translate(const ERPoint3D& v) override;                                          \
  void transformFrom(const ERPmSimilitude3D& T) override;                               \
  void transformFrom(const ERPmIsometrie3D& T) override;                                \
  void transformTo(const ERPmSimilitude3D& T) override;                                 \
  void transformTo(const ERPmIsometrie3D& T) override;                                  \
  t_SmartPtr<EREntity2DWF> get2DEntProjectedOn(const ERPmIsometrie3D& frame) const override;

#define QORV_COMP_CURVE(Class, Trimmed, Finite, Element, Point, Info, Box, Moves)                \
  class QORV_API Class : public Trimmed {                                                        \
   public:                                                                                       \
    QORV_DECLARE_CLASS(Class, Trimmed);                                                          \
    using BaseCurve = Trimmed;                                                                   \
    using ElementType = Element;                                                                 \
    using ElementPtr = t_SmartPtr<Element>;                                                      \
    using Trimmed::approxime;                                                                    \
                                                                                                 \
    Class() = default;                                                                           \
    /* A chain of one copy of e. */                                                              \
    explicit Class(const Element& e);                                                            \
    Class(const Class& o);                                                                       \
    Class& operator=(const Class& o);                                                            \
    ~Class() override;                                                                           \
                                                                                                 \
    /* 1 when a copy of e was added, 0 when refused; see the conventions. */                     \
    int append(const ElementPtr& e, double tol);                                                 \
    int append(const Element& e, double tol);                                                    \
    int prepend(const ElementPtr& e, double tol);                                                \
    int prepend(const Element& e, double tol);                                                   \
    /* Element i from 0; null outside [0, N) or for a null element. */                           \
    const ElementPtr& at(int i) const;                                                           \
    int entries() const { return elements_.entries(); }                                          \
                                                                                                 \
    Point operator()(double t) const override;                                                   \
    Info PtCur(double t) const override;                                                         \
    int ProjectPoint(const Point& p, QuickAlgebra::ERVec<double>& params,                        \
                     double tol) const override;                                                 \
    Box getBox() const override;                                                                 \
    double arcLength(const ERLimites& range, double tol) const override;                         \
    double arcLength(double tol) const override;                                                 \
    QuickAlgebra::ERVec<Point> approxime(const ERLimites& range, double tol) const override;     \
    NurbsPtr ConvertToNurbs() const override;                                                    \
    int splitAt(t_SmartPtr<Finite>& first, t_SmartPtr<Finite>& second, double t) const override; \
    void reverse() override;                                                                     \
    void adjust() override {}                                                                    \
    void scale(double s) override;                                                               \
    Moves QORV_DECLARE_STORED(Class);                                                            \
                                                                                                 \
   protected:                                                                                    \
    /* The element covering t (natural parametrisation) and the fraction through it. */          \
    ElementPtr findPatch(double t) const;                                                        \
    double matchParamToPatch(double t) const;                                                    \
                                                                                                 \
   private:                                                                                      \
    friend struct qorv::detail::CompBody<Class>;                                                 \
    ERTValDlist<ElementPtr> elements_;                                                           \
    std::vector<const ElementPtr*> index_; /* the list's entries in order, rebuilt on change */  \
  }

QORV_COMP_CURVE(ERCompCurve2D, ERTrimmedEntity2DWF, ERFiniteEntity2DWF, ERFiniteEntity2DWF,
                ERPoint2D, ERInfoPoint2D, ERMinimax2D, QORV_COMP_MOVES_2D);
QORV_COMP_CURVE(ERCompCurve3D, ERTrimmedEntity3DWF, ERFiniteEntity3DWF, ERFiniteEntity3DWF,
                ERPoint3D, ERInfoPoint3DWF, ERMinimax3D, QORV_COMP_MOVES_3D);
QORV_COMP_CURVE(ERCrvCompPoly2D, ERTrimmedEntity2DWF, ERFiniteEntity2DWF, ERPatchCPoly2D, ERPoint2D,
                ERInfoPoint2D, ERMinimax2D, QORV_COMP_MOVES_2D);
QORV_COMP_CURVE(ERCrvCompPoly3D, ERTrimmedEntity3DWF, ERFiniteEntity3DWF, ERPatchCPoly3D, ERPoint3D,
                ERInfoPoint3DWF, ERMinimax3D, QORV_COMP_MOVES_3D);

// The chain moved by T (T >> c, as transformFrom) or by its inverse (T << c, as transformTo).
#define QORV_COMP_OPERATORS(Class, Transfo)                    \
  QORV_API Class operator>>(const Transfo& T, const Class& c); \
  QORV_API Class operator<<(const Transfo& T, const Class& c)

QORV_COMP_OPERATORS(ERCompCurve2D, ERTransfo2D);
QORV_COMP_OPERATORS(ERCrvCompPoly2D, ERTransfo2D);
QORV_COMP_OPERATORS(ERCompCurve3D, ERPmIsometrie3D);
QORV_COMP_OPERATORS(ERCrvCompPoly3D, ERPmIsometrie3D);
