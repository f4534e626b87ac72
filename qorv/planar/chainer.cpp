#include "qorv/planar/chainer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

using namespace qorv;

QORV_DEFINE_ABSTRACT_CLASS(ERChainerSeg2D);
QORV_DEFINE_CLASS(ERChainedMetaSeg2D);

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class T>
std::vector<T> toVector(const ERTValDlist<T>& l) {
  std::vector<T> v;
  v.reserve(static_cast<std::size_t>(l.entries()));
  for (const T& x : l) v.push_back(x);
  return v;
}
}  // namespace

// ---------------------------------------------------------------------------------------------
double ERChainerSeg2D::length() const { return distance(getExt1(), getExt2()); }

SegCompState ERChainerSeg2D::compareEnds(const ERChainerSeg2D* other, double tol) const {
  if (other == nullptr || !sameDepth(*other)) return SEGCOMP_NONE;
  const double t = tol * tol;
  const ERPoint2D f = first(), l = last(), of = other->first(), ol = other->last();
  const double d11 = distance2(f, of), d12 = distance2(f, ol);
  const double d21 = distance2(l, of), d22 = distance2(l, ol);
  if ((d11 < t && d12 < t) || (d21 < t && d22 < t)) return SEGCOMP_AMBIGUOUS;
  if (d11 < t && d12 >= d11 && d21 > d11 && d22 > std::max(other->length(), length()))
    return SEGCOMP_FIRST_FIRST;
  if (d12 < t && d11 >= d12 && d21 > d12 && d22 > d12) return SEGCOMP_FIRST_LAST;
  if (d21 < t && d22 >= d21) return SEGCOMP_LAST_FIRST;
  if (d22 < t && d21 >= d22) return SEGCOMP_LAST_LAST;
  return SEGCOMP_NONE;
}

SegCompState ERChainerSeg2D::compareWith(const ERChainerSeg2D* other, double tol) const {
  return compareEnds(other, tol);
}

void ERChainerSeg2D::printOn(std::ostream& os) const {
  os << " reverse :" << reversed_ << '\n';
  os << "  first  = " << first() << " last  = " << last() << '\n';
  os << "  firstT = " << firstT() << " lastT = " << lastT() << '\n';
}

// ---------------------------------------------------------------------------------------------
ERChainedMetaSeg2D::ERChainedMetaSeg2D(t_SmartPtr<ERChainerSeg2D> seg) { insert(seg); }

void ERChainedMetaSeg2D::insert(t_SmartPtr<ERChainerSeg2D> seg) {
  if (seg.get() == nullptr) return;
  length_ += seg->length();
  segments_.append(seg);
}

void ERChainedMetaSeg2D::merge(ERChainedMetaSeg2D& other) {
  // A snapshot: merging a chain into itself must not walk the pieces it appends.
  const auto pieces = toVector(other.segments_);
  for (const auto& p : pieces) insert(p);
}

void ERChainedMetaSeg2D::reverse() {
  const auto pieces = toVector(segments_);
  segments_.clear();
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
    (*it)->reverse();
    segments_.append(*it);
  }
}

int ERChainedMetaSeg2D::isClosed() const {
  const ERPoint2D a = last(), b = first();
  return std::fabs(a.x() - b.x()) <= 1e-11 && std::fabs(a.y() - b.y()) <= 1e-11;
}

t_SmartPtr<ERChainerSeg2D> ERChainedMetaSeg2D::firstSeg() const {
  return segments_.entries() ? segments_.first() : t_SmartPtr<ERChainerSeg2D>();
}

t_SmartPtr<ERChainerSeg2D> ERChainedMetaSeg2D::lastSeg() const {
  return segments_.entries() ? segments_.last() : t_SmartPtr<ERChainerSeg2D>();
}

void ERChainedMetaSeg2D::applyOnSegment(void (*fn)(ERChainerSeg2D*, void*), void* ctx) {
  if (fn == nullptr) return;
  for (auto& p : segments_) fn(p.get(), ctx);
}

ERPoint2D ERChainedMetaSeg2D::getExt1() const {
  return segments_.entries() ? segments_.first()->first() : ERPoint2D(kNaN, kNaN);
}
ERPoint2D ERChainedMetaSeg2D::getExt2() const {
  return segments_.entries() ? segments_.last()->last() : ERPoint2D(kNaN, kNaN);
}
ERVector2D ERChainedMetaSeg2D::getTan1() const {
  return segments_.entries() ? segments_.first()->firstT() : ERVector2D(kNaN, kNaN);
}
ERVector2D ERChainedMetaSeg2D::getTan2() const {
  return segments_.entries() ? segments_.last()->lastT() : ERVector2D(kNaN, kNaN);
}

SegCompState ERChainedMetaSeg2D::compareWith(const ERChainerSeg2D* other, double tol) const {
  if (compareEnds(other, tol) == SEGCOMP_NONE) return SEGCOMP_NONE;
  const ERChainedMetaSeg2D* o = dynamic_cast<const ERChainedMetaSeg2D*>(other);
  if (o == nullptr || entries() == 0 || o->entries() == 0) return compareEnds(other, tol);
  const t_SmartPtr<ERChainerSeg2D> f = firstSeg(), l = lastSeg();
  const t_SmartPtr<ERChainerSeg2D> of = o->firstSeg(), ol = o->lastSeg();
  if (f->compareWith(of.get(), tol) == SEGCOMP_FIRST_FIRST) return SEGCOMP_FIRST_FIRST;
  if (f->compareWith(ol.get(), tol) == SEGCOMP_FIRST_LAST) return SEGCOMP_FIRST_LAST;
  if (l->compareWith(of.get(), tol) == SEGCOMP_LAST_FIRST) return SEGCOMP_LAST_FIRST;
  if (l->compareWith(ol.get(), tol) == SEGCOMP_LAST_LAST) return SEGCOMP_LAST_LAST;
  return SEGCOMP_NONE;
}

ERObject* ERChainedMetaSeg2D::getCopy() const {
  auto* c = new ERChainedMetaSeg2D;
  for (const auto& p : segments_) c->insert(p);
  return c;
}

void ERChainedMetaSeg2D::printOn(std::ostream& os) const {
  os << "  chaine  : \n";
  os << "  nb d'elements " << segments_.entries() << '\n';
  ERChainerSeg2D::printOn(os);
  int i = 0;
  for (const auto& p : segments_) {
    os << "   elements n\xB0 " << i++ << " adresse " << static_cast<const void*>(p.get()) << '\n';
    p->printOn(os);
  }
}

// ---------------------------------------------------------------------------------------------
SegCompState ERChainerProcessor::StandardCompare(const ERChainedMetaSeg2D& a,
                                                 const ERChainedMetaSeg2D& b, double tol) {
  return a.compareWith(&b, tol);
}

int ERChainerProcessor::insert(t_SmartPtr<ERChainerSeg2D> seg) {
  if (seg.get() == nullptr) return 0;
  return insert(t_SmartPtr<ERChainedMetaSeg2D>(new ERChainedMetaSeg2D(seg)));
}

int ERChainerProcessor::insert(t_SmartPtr<ERChainedMetaSeg2D> chain) {
  if (chain.get() == nullptr) return 0;
  for (const auto& k : chains_)
    if (k.get() == chain.get()) return 0;
  if (chain->isClosed()) return chains_.append(chain), 1;
  if (!(chain->length() >= tol_)) return 0;
  if (chains_.entries() == 0) return chains_.append(chain), 1;

  // The walk records the absorbed entries and removes them afterwards, so a refusal before
  // any merge leaves the list untouched.
  std::vector<int> absorbed;
  t_SmartPtr<ERChainedMetaSeg2D> x = chain;
  int idx = 0;
  for (auto it = chains_.begin(); it != chains_.end(); ++it, ++idx) {
    const t_SmartPtr<ERChainedMetaSeg2D> k = *it;
    const SegCompState r = compare_(*k, *x, tol_);
    if (r == SEGCOMP_NONE) continue;
    if (r == SEGCOMP_AMBIGUOUS || r == SEGCOMP_AMBIGUOUS2 || r < 0 || r > SEGCOMP_LAST_LAST) {
      if (absorbed.empty()) return 0;
      break;  // keep what this insertion already merged
    }
    switch (r) {
      case SEGCOMP_FIRST_FIRST:
        x->reverse();
        x->merge(*k);
        break;
      case SEGCOMP_FIRST_LAST:
        x->merge(*k);
        break;
      case SEGCOMP_LAST_FIRST:
        k->merge(*x);
        x = k;
        break;
      default:  // SEGCOMP_LAST_LAST
        x->reverse();
        k->merge(*x);
        x = k;
        break;
    }
    absorbed.push_back(idx);
  }
  for (auto i = absorbed.rbegin(); i != absorbed.rend(); ++i) chains_.removeAt(*i);
  chains_.append(x);
  return 1;
}

const ERChainedMetaSeg2D* ERChainerProcessor::getAt(int i) const {
  if (i < 0 || i >= chains_.entries()) return nullptr;
  return chains_.at(i).get();
}

void ERChainerProcessor::applyOnMChain(void (*fn)(ERChainedMetaSeg2D*, void*), void* ctx) {
  if (fn == nullptr) return;
  for (auto& c : chains_) fn(c.get(), ctx);
}

void ERChainerProcessor::applyOnSegment(void (*fn)(ERChainerSeg2D*, void*), void* ctx) {
  if (fn == nullptr) return;
  for (auto& c : chains_) c->applyOnSegment(fn, ctx);
}

void ERChainerProcessor::printOn(std::ostream& os) const {
  os << "Gestionnaire de Chaine 2D \n";
  os << "   nb de chaines : " << chains_.entries() << '\n';
  int i = 0;
  for (const auto& c : chains_) {
    os << "   chaine n\xB0" << i++ << '\n';
    c->printOn(os);
  }
}
