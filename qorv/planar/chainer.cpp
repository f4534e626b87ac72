#include "qorv/planar/chainer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <typeinfo>
#include <vector>

#include "qorv/foundation/numerics.h"

using namespace qorv;

QORV_DEFINE_ABSTRACT_CLASS(ERChainerSeg2D);
QORV_DEFINE_CLASS(ERChainedMetaSeg2D);

namespace {

using qorv::detail::kNaN;

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
  if (chain.get() == nullptr || members_.count(chain.get()) != 0) return 0;
  const bool closed = chain->isClosed();
  if (!closed && !(chain->length() >= tol_)) return 0;
  if (2 * live_ + 16 < static_cast<int>(slots_.size())) compact();
  if (dirty_) rebuildIndex();

  // A piece already held by a listed chain may be reversed under that chain's indexed ends:
  // walk the whole list and re-index afterwards.
  std::vector<const ERChainerSeg2D*> own;
  own.reserve(static_cast<std::size_t>(chain->entries()));
  bool shared = false;
  for (const auto& p : chain->segments()) {
    own.push_back(p.get());
    shared = shared || pieces_.count(p.get()) != 0;
  }
  const auto keep = [&](const t_SmartPtr<ERChainedMetaSeg2D>& c) {
    slots_.push_back(c);
    members_.insert(c.get());
    ++live_;
    pieces_.insert(own.begin(), own.end());
    if (shared) dirty_ = sharedPieces_ = true;
    if (!dirty_) indexSlot(static_cast<int>(slots_.size()) - 1);
    return 1;
  };
  if (closed || live_ == 0) return keep(chain);

  // The walk records the absorbed entries and removes them afterwards, so a refusal before
  // any merge leaves the list untouched. The grid yields, in list order, the entries after
  // the last one visited that have an end near the current chain's ends; others answer 0.
  const bool all = !indexed_ || shared || sharedPieces_;
  std::vector<int> absorbed, cand;
  t_SmartPtr<ERChainedMetaSeg2D> x = chain;
  int pos = -1;
  bool more = true;
  while (more) {
    more = false;
    candidates(*x, pos, all, cand);
    for (const int s : cand) {
      pos = s;
      const t_SmartPtr<ERChainedMetaSeg2D> k = slots_[static_cast<std::size_t>(s)];
      const SegCompState r = compare_(*k, *x, tol_);
      if (r == SEGCOMP_NONE) continue;
      if (r == SEGCOMP_AMBIGUOUS || r == SEGCOMP_AMBIGUOUS2 || r < 0 || r > SEGCOMP_LAST_LAST) {
        if (absorbed.empty()) return 0;
        more = false;
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
      absorbed.push_back(s);
      if (!all) {  // the chain's ends moved: look again around them
        more = true;
        break;
      }
    }
  }
  for (const int s : absorbed) {
    members_.erase(slots_[static_cast<std::size_t>(s)].get());
    slots_[static_cast<std::size_t>(s)] = t_SmartPtr<ERChainedMetaSeg2D>();
    --live_;
  }
  return keep(x);
}

void ERChainerProcessor::compact() const {
  std::size_t n = 0;
  for (std::size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].get() != nullptr) slots_[n++] = slots_[i];
  if (n == slots_.size()) return;
  slots_.resize(n);
  dirty_ = true;
}

void ERChainerProcessor::rebuildIndex() {
  compact();
  grid_.clear();
  always_.clear();
  const double a = std::fabs(tol_);
  indexed_ = compare_ == &StandardCompare && a >= 1e-150 && a <= 1e150;
  inv_ = indexed_ ? 0.5 / a : 0.0;
  dirty_ = false;
  if (!indexed_) return;
  for (int i = 0; i < static_cast<int>(slots_.size()); ++i) indexSlot(i);
}

// 0: a non-finite end, which meets nothing; 1: c set; 2: beyond the grid.
int ERChainerProcessor::cellOf(const ERPoint2D& p, Cell& c) const {
  if (!std::isfinite(p.x()) || !std::isfinite(p.y())) return 0;
  const double u = std::floor(p.x() * inv_), v = std::floor(p.y() * inv_);
  constexpr double kMax = 1099511627776.0;  // 2^40
  if (!(std::fabs(u) < kMax && std::fabs(v) < kMax)) return 2;
  c = Cell(static_cast<std::int64_t>(u), static_cast<std::int64_t>(v));
  return 1;
}

// Cells are 2 tol wide: two ends whose computed squared distance is below tol^2 lie in the
// same or neighbouring cells whatever the rounding.
void ERChainerProcessor::indexSlot(int slot) {
  if (!indexed_) return;
  const ERChainedMetaSeg2D* c = slots_[static_cast<std::size_t>(slot)].get();
  // A derived chain may answer its own way: compare it always.
  if (typeid(*c) != typeid(ERChainedMetaSeg2D)) return always_.push_back(slot);
  Cell e[2];
  const int r0 = cellOf(c->first(), e[0]), r1 = cellOf(c->last(), e[1]);
  if (r0 == 2 || r1 == 2) return always_.push_back(slot);
  if (r0 == 1) grid_[e[0]].push_back(slot);
  if (r1 == 1 && !(r0 == 1 && e[1] == e[0])) grid_[e[1]].push_back(slot);
}

void ERChainerProcessor::candidates(const ERChainedMetaSeg2D& x, int after, bool all,
                                    std::vector<int>& out) const {
  out.clear();
  const auto live = [&](int s) {
    return s > after && slots_[static_cast<std::size_t>(s)].get() != nullptr;
  };
  Cell e[2];
  const int r[2] = {all ? 2 : cellOf(x.first(), e[0]), all ? 2 : cellOf(x.last(), e[1])};
  if (r[0] == 2 || r[1] == 2) {
    for (int s = after + 1; s < static_cast<int>(slots_.size()); ++s)
      if (live(s)) out.push_back(s);
    return;
  }
  for (int i = 0; i < 2; ++i) {
    if (r[i] != 1) continue;
    // Within tol of the end: its cell and the neighbours on the near side, both sides when
    // the end sits about mid-cell (rounding of the cell coordinate is far below the margin).
    const ERPoint2D p = i == 0 ? x.first() : x.last();
    const double fu = p.x() * inv_ - static_cast<double>(e[i].first),
                 fv = p.y() * inv_ - static_cast<double>(e[i].second);
    const std::int64_t u0 = fu < 0.51 ? -1 : 0, u1 = fu > 0.49 ? 1 : 0;
    const std::int64_t v0 = fv < 0.51 ? -1 : 0, v1 = fv > 0.49 ? 1 : 0;
    for (std::int64_t du = u0; du <= u1; ++du)
      for (std::int64_t dv = v0; dv <= v1; ++dv) {
        const auto f = grid_.find(Cell(e[i].first + du, e[i].second + dv));
        if (f == grid_.end()) continue;
        for (const int s : f->second)
          if (live(s)) out.push_back(s);
      }
  }
  for (const int s : always_)
    if (live(s)) out.push_back(s);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
}

const ERChainedMetaSeg2D* ERChainerProcessor::getAt(int i) const {
  if (i < 0 || i >= live_) return nullptr;
  compact();
  return slots_[static_cast<std::size_t>(i)].get();
}

void ERChainerProcessor::applyOnMChain(void (*fn)(ERChainedMetaSeg2D*, void*), void* ctx) {
  if (fn == nullptr) return;
  dirty_ = true;
  for (auto& c : slots_)
    if (c.get() != nullptr) fn(c.get(), ctx);
}

void ERChainerProcessor::applyOnSegment(void (*fn)(ERChainerSeg2D*, void*), void* ctx) {
  if (fn == nullptr) return;
  dirty_ = true;
  for (auto& c : slots_)
    if (c.get() != nullptr) c->applyOnSegment(fn, ctx);
}

void ERChainerProcessor::printOn(std::ostream& os) const {
  os << "Gestionnaire de Chaine 2D \n";
  os << "   nb de chaines : " << live_ << '\n';
  int i = 0;
  for (const auto& c : slots_) {
    if (c.get() == nullptr) continue;
    os << "   chaine n\xB0" << i++ << '\n';
    c->printOn(os);
  }
}
