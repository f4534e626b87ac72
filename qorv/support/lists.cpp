#include "qorv/support/lists.h"

// ---------------------------------------------------------------------------------------------
void ERIsvDlist::init() {
  head_.next_ = &tail_;
  head_.prev_ = &head_;
  tail_.prev_ = &head_;
  tail_.next_ = &tail_;
  nitems_ = 0;
}

ERIsvDlist::ERIsvDlist(ERIsvDlist&& o) noexcept {
  init();
  *this = std::move(o);
}

ERIsvDlist& ERIsvDlist::operator=(ERIsvDlist&& o) noexcept {
  if (this == &o) return *this;
  clear();
  if (o.nitems_ != 0) {
    head_.next_ = o.head_.next_;
    tail_.prev_ = o.tail_.prev_;
    head_.next_->prev_ = &head_;
    tail_.prev_->next_ = &tail_;
    nitems_ = o.nitems_;
    o.init();
  }
  return *this;
}

void ERIsvDlist::insertAfterLink(ERIsvDlink* after, ERIsvDlink* a) {
  QORV_ASSERT(a != nullptr && after != &tail_);
  a->prev_ = after;
  a->next_ = after->next_;
  after->next_->prev_ = a;
  after->next_ = a;
  ++nitems_;
}

int ERIsvDlist::insertAt(int i, ERIsvDlink* a) {
  if (i < 0 || i > nitems_) {
    QORV_ASSERT(!"index out of range");
    return 0;
  }
  insertAfterLink(i == nitems_ ? tail_.prev_ : at(i)->prev_, a);
  return 1;
}

ERIsvDlink* ERIsvDlist::at(int i) const {
  if (i < 0 || i >= nitems_) return nullptr;
  // From the nearer end.
  if (i <= nitems_ / 2) {
    ERIsvDlink* p = head_.next_;
    while (i-- > 0) p = p->next_;
    return p;
  }
  ERIsvDlink* p = tail_.prev_;
  for (int k = nitems_ - 1; k > i; --k) p = p->prev_;
  return p;
}

ERIsvDlink* ERIsvDlist::unlink(ERIsvDlink* a) {
  a->prev_->next_ = a->next_;
  a->next_->prev_ = a->prev_;
  a->next_ = a->prev_ = nullptr;
  --nitems_;
  return a;
}

ERIsvDlink* ERIsvDlist::removeAt(int i) {
  ERIsvDlink* a = at(i);
  return a != nullptr ? unlink(a) : nullptr;
}

ERIsvDlink* ERIsvDlist::removeReference(ERIsvDlink* a) {
  for (ERIsvDlink* p = head_.next_; p != &tail_; p = p->next_)
    if (p == a) return unlink(a);
  return nullptr;
}

int ERIsvDlist::occurrencesOfReference(const ERIsvDlink* a) const {
  int n = 0;
  for (const ERIsvDlink* p = head_.next_; p != &tail_; p = p->next_) n += p == a ? 1 : 0;
  return n;
}

void ERIsvDlist::clear() {
  for (ERIsvDlink* p = head_.next_; p != &tail_;) {
    ERIsvDlink* next = p->next_;
    p->next_ = p->prev_ = nullptr;
    p = next;
  }
  init();
}

// ---------------------------------------------------------------------------------------------
void ERIsvSlist::init() {
  head_.next_ = &tail_;
  tail_.next_ = &head_;
  nitems_ = 0;
}

ERIsvSlist::ERIsvSlist(ERIsvSlist&& o) noexcept {
  init();
  *this = std::move(o);
}

ERIsvSlist& ERIsvSlist::operator=(ERIsvSlist&& o) noexcept {
  if (this == &o) return *this;
  clear();
  if (o.nitems_ != 0) {
    head_.next_ = o.head_.next_;
    tail_.next_ = o.tail_.next_;
    tail_.next_->next_ = &tail_;
    nitems_ = o.nitems_;
    o.init();
  }
  return *this;
}

void ERIsvSlist::insertAfterLink(ERIsvSlink* after, ERIsvSlink* a) {
  QORV_ASSERT(a != nullptr && after != &tail_);
  a->next_ = after->next_;
  after->next_ = a;
  if (tail_.next_ == after) tail_.next_ = a;
  ++nitems_;
}

int ERIsvSlist::insertAt(int i, ERIsvSlink* a) {
  if (i < 0 || i > nitems_) {
    QORV_ASSERT(!"index out of range");
    return 0;
  }
  insertAfterLink(i == 0 ? &head_ : at(i - 1), a);
  return 1;
}

ERIsvSlink* ERIsvSlist::at(int i) const {
  if (i < 0 || i >= nitems_) return nullptr;
  if (i == nitems_ - 1) return tail_.next_;
  ERIsvSlink* p = head_.next_;
  while (i-- > 0) p = p->next_;
  return p;
}

ERIsvSlink* ERIsvSlist::findLeftIsv(const ERIsvSlink* a) const {
  const ERIsvSlink* left = &head_;
  for (const ERIsvSlink* p = head_.next_; p != &tail_; left = p, p = p->next_)
    if (p == a) return const_cast<ERIsvSlink*>(left);
  return nullptr;
}

ERIsvSlink* ERIsvSlist::removeRight(ERIsvSlink* left) {
  if (left == nullptr || left->next_ == &tail_) return nullptr;
  ERIsvSlink* victim = left->next_;
  left->next_ = victim->next_;
  if (tail_.next_ == victim) tail_.next_ = left;
  victim->next_ = nullptr;
  --nitems_;
  return victim;
}

ERIsvSlink* ERIsvSlist::removeLast() {
  return nitems_ != 0 ? removeRight(findLeftIsv(tail_.next_)) : nullptr;
}

ERIsvSlink* ERIsvSlist::removeAt(int i) {
  if (i < 0 || i >= nitems_) return nullptr;
  return removeRight(i == 0 ? &head_ : at(i - 1));
}

ERIsvSlink* ERIsvSlist::removeReference(ERIsvSlink* a) { return removeRight(findLeftIsv(a)); }

int ERIsvSlist::occurrencesOfReference(const ERIsvSlink* a) const {
  int n = 0;
  for (const ERIsvSlink* p = head_.next_; p != &tail_; p = p->next_) n += p == a ? 1 : 0;
  return n;
}

void ERIsvSlist::clear() {
  for (ERIsvSlink* p = head_.next_; p != &tail_;) {
    ERIsvSlink* next = p->next_;
    p->next_ = nullptr;
    p = next;
  }
  init();
}
