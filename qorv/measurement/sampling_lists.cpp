#include "qorv/measurement/sampling_lists.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "qorv/foundation/finite_entity.h"
#include "qorv/persistence/file.h"
#include "qorv/surfaces/parametric_surface.h"

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

// ---------------------------------------------------------------------------------------------
// Samples of a curve on a surface.

ERPoint23* ERPoint23List::newNode(const ERPoint3D& p, const ERPoint2D& uv) {
  if (count_ >= kMaxNodes) return nullptr;
  void* slot = pool_.allocate();
  return slot == nullptr ? nullptr : ::new (slot) ERPoint23(p, uv);
}

void ERPoint23List::append(const ERPoint3D& p, const ERPoint2D& uv) {
  ERPoint23* n = newNode(p, uv);
  if (n == nullptr) return;
  if (last_ == nullptr) {
    first_ = n;
  } else {
    last_->next = n;
  }
  last_ = n;
  ++count_;
}

namespace {

// 1e-6 of the range; of the samples' own extent when the range is empty or not finite.
double floorOf(double range, double lo, double hi) {
  if (std::isfinite(range) && range > 0) return 1e-6 * range;
  const double extent = hi - lo;
  return std::isfinite(extent) && extent > 0 ? 1e-6 * extent : HUGE_VAL;
}

}  // namespace

void ERPoint23List::Smash(const ERAnyBoundedSurface& surface, double tol) {
  double ulo = HUGE_VAL, uhi = -HUGE_VAL, vlo = HUGE_VAL, vhi = -HUGE_VAL;
  for (const ERPoint23* n = first_; n != nullptr; n = n->next) {
    ulo = std::min(ulo, n->uv.x()), uhi = std::max(uhi, n->uv.x());
    vlo = std::min(vlo, n->uv.y()), vhi = std::max(vhi, n->uv.y());
  }
  const double du = floorOf(surface.ufin() - surface.udeb(), ulo, uhi);
  const double dv = floorOf(surface.vfin() - surface.vdeb(), vlo, vhi);
  const double tol2 = tol * tol;
  ERPoint23* a = first_;
  while (a != nullptr && a->next != nullptr) {
    ERPoint23* b = a->next;
    const ERPoint2D m((a->uv.x() + b->uv.x()) / 2, (a->uv.y() + b->uv.y()) / 2);
    const bool splitU = std::fabs(b->uv.x() - a->uv.x()) > du && strictlyBetween(m.x(), a->uv.x(), b->uv.x());
    const bool splitV = std::fabs(b->uv.y() - a->uv.y()) > dv && strictlyBetween(m.y(), a->uv.y(), b->uv.y());
    if (splitU || splitV) {
      const ERPoint3D pm = surface(m.x(), m.y());
      const double d = chordDistance(a->point, b->point, pm);
      if (d * d > tol2) {
        if (ERPoint23* n = newNode(pm, m)) {
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

QuickAlgebra::ERVec<ERPoint3D> ERPoint23List::toVec() const {
  QuickAlgebra::ERVec<ERPoint3D> out;
  out.reserve(count_);
  for (const ERPoint23* n = first_; n != nullptr; n = n->next) out.append(n->point);
  return out;
}

QuickAlgebra::ERVec<ERPoint2D> ERPoint23List::toVec2D() const {
  QuickAlgebra::ERVec<ERPoint2D> out;
  out.reserve(count_);
  for (const ERPoint23* n = first_; n != nullptr; n = n->next) out.append(n->uv);
  return out;
}

QORV_DEFINE_CLASS(ERVecPoint23);
QORV_DEFINE_COPYABLE(ERVecPoint23);

bool ERVecPoint23::operator==(const ERVecPoint23& o) const {
  if (uv_.length() != o.uv_.length() || points_.length() != o.points_.length()) return false;
  for (int i = 0; i < uv_.length(); ++i)
    if (uv_[i] != o.uv_[i]) return false;
  for (int i = 0; i < points_.length(); ++i)
    if (points_[i] != o.points_[i]) return false;
  return true;
}

void ERVecPoint23::printOn(std::ostream& os) const {
  os << "ERVecPoint23 (" << points_.length() << ")" << std::endl;
  for (int i = 0; i < points_.length() && i < uv_.length(); ++i)
    os << "  " << uv_[i] << " " << points_[i] << std::endl;
}

void ERVecPoint23::saveGuts(ERFile& f) const {
  ERObject::saveGuts(f);
  points_.saveGuts(f);
  uv_.saveGuts(f);
}

void ERVecPoint23::restoreGuts(ERFile& f) {
  ERObject::restoreGuts(f);
  QuickAlgebra::ERVec<ERPoint3D> points;
  QuickAlgebra::ERVec<ERPoint2D> uv;
  if (!points.restoreGuts(f) || !uv.restoreGuts(f)) return;
  if (points.length() != uv.length()) {
    f.markDamaged();
    return;
  }
  points_ = points;
  uv_ = uv;
}

std::uint32_t ERVecPoint23::binaryStoreSize() const {
  return ERObject::binaryStoreSize() + points_.binaryStoreSize() + uv_.binaryStoreSize();
}
