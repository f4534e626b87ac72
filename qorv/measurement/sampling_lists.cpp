#include "qorv/measurement/sampling_lists.h"

#include <cmath>
#include <new>

#include "qorv/foundation/finite_entity.h"

using namespace qorv;

namespace {

// Below this parameter gap a chord is never split: it bounds the depth of the refinement.
constexpr double kParameterFloor = 1e-7;

// Distance from m to the line through a and b; to a itself when a and b coincide.
double chordDistance(const ERPoint2D& a, const ERPoint2D& b, const ERPoint2D& m) {
  const ERVector2D d(a, b);
  const double len = d.norme();
  if (len == 0.0) return distance(a, m);
  return std::fabs(d ^ ERVector2D(a, m)) / len;
}

double chordDistance(const ERPoint3D& a, const ERPoint3D& b, const ERPoint3D& m) {
  const ERVector3D d(a, b);
  const double len = d.norme();
  if (len == 0.0) return distance(a, m);
  return (d ^ ERVector3D(a, m)).norme() / len;
}

bool strictlyBetween(double m, double a, double b) { return (a < m && m < b) || (b < m && m < a); }

}  // namespace

namespace qorv::detail {

template <class Node, class Point, class Curve>
Node* SampleList<Node, Point, Curve>::newNode(const Point& p, double u) {
  void* slot = pool_.allocate();
  return slot == nullptr ? nullptr : ::new (slot) Node(p, u);
}

template <class Node, class Point, class Curve>
void SampleList<Node, Point, Curve>::append(const Point& p, double u) {
  Node* n = newNode(p, u);
  if (n == nullptr) return;
  if (last_ == nullptr) {
    first_ = n;
  } else {
    last_->next = n;
  }
  last_ = n;
  ++count_;
}

template <class Node, class Point, class Curve>
void SampleList<Node, Point, Curve>::Smash(const Curve& curve, double tol) {
  Node* a = first_;
  while (a != nullptr && a->next != nullptr) {
    Node* b = a->next;
    const double m = (a->u + b->u) / 2;
    if (std::fabs(b->u - a->u) > kParameterFloor && strictlyBetween(m, a->u, b->u)) {
      const Point pm = curve(m);
      if (chordDistance(a->point, b->point, pm) > tol) {
        if (Node* n = newNode(pm, m)) {
          n->next = b;
          a->next = n;
          ++count_;
          continue;  // (a, n) next
        }
      }
    }
    a = b;
  }
}

template <class Node, class Point, class Curve>
QuickAlgebra::ERVec<Point> SampleList<Node, Point, Curve>::toVec() const {
  QuickAlgebra::ERVec<Point> out;
  out.reserve(count_);
  for (const Node* n = first_; n != nullptr; n = n->next) out.append(n->point);
  return out;
}

template <class Node, class Point, class Curve>
QuickAlgebra::ERVec<double> SampleList<Node, Point, Curve>::toParams() const {
  QuickAlgebra::ERVec<double> out;
  out.reserve(count_);
  for (const Node* n = first_; n != nullptr; n = n->next) out.append(n->u);
  return out;
}

template class SampleList<ERPoint12, ERPoint2D, ERFiniteEntity2DWF>;
template class SampleList<ERPoint13, ERPoint3D, ERFiniteEntity3DWF>;

}  // namespace qorv::detail
