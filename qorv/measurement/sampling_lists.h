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
#pragma once

#include "qorv/platform/api.h"
#include "qorv/foundation/point_records.h"
#include "qorv/support/mem_pool.h"
#include "qorv/support/quick_algebra.h"

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
