// qorv/measurement/sampling_lists.h
//
// The sampling lists that curve approximation refines: ERPoint12List (plane points and their
// curve parameters) and ERPoint13List (space points). Nodes (point_records.h) are singly linked
// in order of increasing parameter and come from the list's own pool, freed all at once with
// the list.
//
// Conventions a caller gets wrong:
// - append() adds at the end without sorting: append the samples in parameter order.
// - Smash(curve, tol) needs the two end samples already appended. It walks the pairs (a, b) of
//   neighbours: when |u_b - u_a| > 1e-7 the curve point M at m = (u_a + u_b) / 2 is measured
//   against the LINE through a and b (not the segment; the point a itself when a and b
//   coincide); when that distance exceeds tol, (M, m) goes between them and (a, M) is examined
//   next, else the walk moves on to b. A pair whose mid parameter does not fall strictly
//   between its ends (infinite or NaN parameters) is left alone, so the walk always ends; a NaN
//   tolerance or distance inserts nothing.
// - The lists are not copyable; toVec() copies the points out.
// - ERPoint23List (space points with their surface parameters (u, v)): Smash(surface, tol)
//   examines a pair when its u differ by more than 1e-6 of the surface's u range or its v by
//   more than 1e-6 of its v range (an empty or infinite range: of the list's own extent in that
//   parameter); the mid parameter is the mean of the two, and the surface point there goes in
//   when its squared distance to the chord's line exceeds tol^2. NaN parameters or points
//   insert nothing; past 2^24 nodes nothing more is inserted, so the walk always ends.
// - ERVecPoint23 stores the 3D points, then the parameter points, each as a vector (int32 byte
//   count, then the coordinates); a record whose two vectors differ in length is refused.
#pragma once

#include "qorv/platform/api.h"
#include "qorv/foundation/point_records.h"
#include "qorv/support/mem_pool.h"
#include "qorv/support/quick_algebra.h"

#include "qorv/foundation/object.h"

class ERAnyBoundedSurface;
class ERFiniteEntity2DWF;
class ERFiniteEntity3DWF;

namespace qorv::detail {

// The chain and its pool, one body for both lists.
template <class Node, class Point, class Curve>
class SampleList {
 public:
  SampleList() : pool_(sizeof(Node), 1024) {}
  ~SampleList() = default;  // the pool frees every node
  SampleList(const SampleList&) = delete;
  SampleList& operator=(const SampleList&) = delete;

  void append(const Point& p, double u);
  int entries() const { return count_; }
  void Smash(const Curve& curve, double tol);
  QuickAlgebra::ERVec<Point> toVec() const;
  QuickAlgebra::ERVec<double> toParams() const;
  const Node* first() const { return first_; }

 private:
  Node* newNode(const Point& p, double u);

  ERMemPool pool_;
  Node* first_ = nullptr;
  Node* last_ = nullptr;
  int count_ = 0;
};

extern template class QORV_API SampleList<ERPoint12, ERPoint2D, ERFiniteEntity2DWF>;
extern template class QORV_API SampleList<ERPoint13, ERPoint3D, ERFiniteEntity3DWF>;

}  // namespace qorv::detail

class QORV_API ERPoint12List
    : public qorv::detail::SampleList<ERPoint12, ERPoint2D, ERFiniteEntity2DWF> {};

class QORV_API ERPoint13List
    : public qorv::detail::SampleList<ERPoint13, ERPoint3D, ERFiniteEntity3DWF> {};

class QORV_API ERPoint23List {
 public:
  static constexpr int kMaxNodes = 1 << 24;

  ERPoint23List() : pool_(sizeof(ERPoint23), 1024) {}
  ERPoint23List(const ERPoint23List&) = delete;
  ERPoint23List& operator=(const ERPoint23List&) = delete;

  void append(const ERPoint3D& p, const ERPoint2D& uv);
  int entries() const { return count_; }
  void Smash(const ERAnyBoundedSurface& surface, double tol);
  QuickAlgebra::ERVec<ERPoint3D> toVec() const;
  QuickAlgebra::ERVec<ERPoint2D> toVec2D() const;
  const ERPoint23* first() const { return first_; }

 private:
  ERPoint23* newNode(const ERPoint3D& p, const ERPoint2D& uv);

  ERMemPool pool_;
  ERPoint23* first_ = nullptr;
  ERPoint23* last_ = nullptr;
  int count_ = 0;
};

class QORV_API ERVecPoint23 : public ERObject {
 public:
  QORV_DECLARE_CLASS(ERVecPoint23, ERObject);

  ERVecPoint23() = default;
  explicit ERVecPoint23(const ERPoint23List& list) : uv_(list.toVec2D()), points_(list.toVec()) {}
  ERVecPoint23(const ERVecPoint23&) = default;
  ERVecPoint23& operator=(const ERVecPoint23&) = default;

  const QuickAlgebra::ERVec<ERPoint2D>& parameters() const { return uv_; }
  const QuickAlgebra::ERVec<ERPoint3D>& points() const { return points_; }
  bool operator==(const ERVecPoint23& o) const;
  bool operator!=(const ERVecPoint23& o) const { return !(*this == o); }

  QORV_DECLARE_STORED(ERVecPoint23);

 private:
  QuickAlgebra::ERVec<ERPoint2D> uv_;
  QuickAlgebra::ERVec<ERPoint3D> points_;
};
