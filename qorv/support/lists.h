// qorv/support/lists.h
//
// Intrusive lists and the templates built on them: ERIsvDlist / ERIsvSlist (doubly and singly
// linked lists of links embedded in the elements), ERTIsvDlist<L> / ERTIsvSlist<L> (the same,
// typed), ERTValDlist<T> / ERTValSlist<T> (nodes holding a copy of each value) and
// ERTPtrDlist<T> / ERTPtrSlist<T> (nodes holding a T*). The singly and doubly linked twins
// share one template body.
//
// Conventions a caller gets wrong:
// - An intrusive list owns nothing: clear() and the destructor forget the links, they never
//   delete the elements. A link belongs to one list at a time.
// - Value and pointer list nodes come from the size-class pools (qorv/support/mem_pool.h): a
//   list must be destroyed or emptied on the thread that filled it (or after that thread ended).
// - A pointer list never deletes its pointees unless asked (clearAndDestroy). Its find,
//   contains, index and remove compare the pointees (*p == *q); the Reference forms compare the
//   pointers themselves.
// - A value list of t_SmartPtr holds one reference per node.
// - Bad indices are bugs (asserted); without assertions at() gives a reference to a scratch
//   default value, the removals give a default value or null, and insertAt returns 0.
// - removeLast, at and removeAt walk a singly linked list: they are linear there.
//
// Stored form of a list of t_SmartPtr<U> (ERTValDlist/ERTValSlist) or of pointers to ERObject
// classes (ERTPtrDlist/ERTPtrSlist), little-endian:
//   SIZE  FIELD
//      4  entry count
//   then per node, in order:
//      4  null flag: 1 for a null element, 0 otherwise
//      4  (non-null elements only) the element's identifier, written by recursiveSaveOn into
//         the current database
// binaryStoreSize = 4 + per node 4 + (4 when non-null). Restoring empties the list first and
// refuses (0) a negative count, a count larger than the rest of the file can hold, and a short
// read; an element whose class is not U, or that the database cannot re-create, reads as null.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "qorv/platform/api.h"
#include "qorv/foundation/assert.h"
#include "qorv/foundation/object.h"
#include "qorv/persistence/file.h"
#include "qorv/support/mem_pool.h"

template <class T, class Isv>
class ERTValList;

// ---------------------------------------------------------------------------------------------
class QORV_API ERIsvDlink {
 public:
  ERIsvDlink() = default;
  // A copied element is not in the list of the original.
  ERIsvDlink(const ERIsvDlink&) {}
  ERIsvDlink& operator=(const ERIsvDlink&) { return *this; }

  ERIsvDlink* next() const { return next_; }
  ERIsvDlink* prev() const { return prev_; }
  void clearLinks() { next_ = prev_ = nullptr; }

 private:
  friend class ERIsvDlist;
  ERIsvDlink* next_ = nullptr;
  ERIsvDlink* prev_ = nullptr;
};

// Two sentinels, head and tail, then the entry count. Empty: head.next = tail, tail.prev =
// head; the head's prev and the tail's next point at the sentinels themselves.
class QORV_API ERIsvDlist {
 public:
  using Link = ERIsvDlink;

  ERIsvDlist() { init(); }
  ERIsvDlist(const ERIsvDlist&) = delete;
  ERIsvDlist& operator=(const ERIsvDlist&) = delete;
  // Moving takes the links over; the source is left empty.
  ERIsvDlist(ERIsvDlist&& o) noexcept;
  ERIsvDlist& operator=(ERIsvDlist&& o) noexcept;
  ~ERIsvDlist() { clear(); }

  void append(ERIsvDlink* a) { insertAfterLink(tail_.prev_, a); }
  void prepend(ERIsvDlink* a) { insertAfterLink(&head_, a); }
  void insert(ERIsvDlink* a) { append(a); }
  // Before the element at i (0 <= i <= entries()); 0 for a bad index.
  int insertAt(int i, ERIsvDlink* a);

  // Null for a bad index or an empty list.
  ERIsvDlink* at(int i) const;
  ERIsvDlink* first() const { return nitems_ != 0 ? head_.next_ : nullptr; }
  ERIsvDlink* last() const { return nitems_ != 0 ? tail_.prev_ : nullptr; }

  // Each removal returns the link taken out, null when there was none.
  ERIsvDlink* get() { return removeFirst(); }
  ERIsvDlink* removeFirst() { return nitems_ != 0 ? unlink(head_.next_) : nullptr; }
  ERIsvDlink* removeLast() { return nitems_ != 0 ? unlink(tail_.prev_) : nullptr; }
  ERIsvDlink* removeAt(int i);
  // Removes a when it is in this list (found by walking the list).
  ERIsvDlink* removeReference(ERIsvDlink* a);
  int containsReference(const ERIsvDlink* a) const { return occurrencesOfReference(a) != 0; }
  int occurrencesOfReference(const ERIsvDlink* a) const;

  int entries() const { return nitems_; }
  int isEmpty() const { return nitems_ == 0; }
  // Forgets every link.
  void clear();

  // Iteration: from firstLink() while the link is not endLink().
  ERIsvDlink* firstLink() const { return head_.next_; }
  const ERIsvDlink* endLink() const { return &tail_; }

 protected:
  void insertAfterLink(ERIsvDlink* after, ERIsvDlink* a);
  // Unlinks a link known to be in this list.
  ERIsvDlink* unlink(ERIsvDlink* a);

 private:
  template <class, class>
  friend class ERTValList;
  void init();

  ERIsvDlink head_;
  ERIsvDlink tail_;
  std::int32_t nitems_ = 0;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERIsvSlink {
 public:
  ERIsvSlink() = default;
  ERIsvSlink(const ERIsvSlink&) {}
  ERIsvSlink& operator=(const ERIsvSlink&) { return *this; }

  ERIsvSlink* next() const { return next_; }
  void clearLinks() { next_ = nullptr; }

 private:
  friend class ERIsvSlist;
  ERIsvSlink* next_ = nullptr;
};

// A head sentinel whose next is the first link, a tail sentinel that ends the chain and whose
// next is the last link (the head when empty), then the entry count.
class QORV_API ERIsvSlist {
 public:
  using Link = ERIsvSlink;

  ERIsvSlist() { init(); }
  ERIsvSlist(const ERIsvSlist&) = delete;
  ERIsvSlist& operator=(const ERIsvSlist&) = delete;
  ERIsvSlist(ERIsvSlist&& o) noexcept;
  ERIsvSlist& operator=(ERIsvSlist&& o) noexcept;
  ~ERIsvSlist() { clear(); }

  void append(ERIsvSlink* a) { insertAfterLink(tail_.next_, a); }
  void prepend(ERIsvSlink* a) { insertAfterLink(&head_, a); }
  void insert(ERIsvSlink* a) { append(a); }
  int insertAt(int i, ERIsvSlink* a);

  ERIsvSlink* at(int i) const;
  ERIsvSlink* first() const { return nitems_ != 0 ? head_.next_ : nullptr; }
  ERIsvSlink* last() const { return nitems_ != 0 ? tail_.next_ : nullptr; }

  ERIsvSlink* get() { return removeFirst(); }
  ERIsvSlink* removeFirst() { return nitems_ != 0 ? removeRight(&head_) : nullptr; }
  ERIsvSlink* removeLast();
  ERIsvSlink* removeAt(int i);
  ERIsvSlink* removeReference(ERIsvSlink* a);
  int containsReference(const ERIsvSlink* a) const { return occurrencesOfReference(a) != 0; }
  int occurrencesOfReference(const ERIsvSlink* a) const;

  int entries() const { return nitems_; }
  int isEmpty() const { return nitems_ == 0; }
  void clear();

  ERIsvSlink* firstLink() const { return head_.next_; }
  const ERIsvSlink* endLink() const { return &tail_; }

 protected:
  void insertAfterLink(ERIsvSlink* after, ERIsvSlink* a);
  // The link before a (the head sentinel for the first), null when a is not in the list.
  ERIsvSlink* findLeftIsv(const ERIsvSlink* a) const;
  // Removes the link after `left`; null when left is the last.
  ERIsvSlink* removeRight(ERIsvSlink* left);
  // Unlinks a link known to be in this list.
  ERIsvSlink* unlink(ERIsvSlink* a) { return removeRight(findLeftIsv(a)); }

 private:
  template <class, class>
  friend class ERTValList;
  void init();

  ERIsvSlink head_;
  ERIsvSlink tail_;
  std::int32_t nitems_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Typed intrusive lists: L derives from the link.
template <class L, class Isv>
class ERTIsvList : public Isv {
  using Link = typename Isv::Link;
  static_assert(std::is_base_of_v<Link, L>, "the element must derive from the list's link");

 public:
  int insertAt(int i, L* a) { return Isv::insertAt(i, a); }
  L* at(int i) const { return cast(Isv::at(i)); }
  L* first() const { return cast(Isv::first()); }
  L* last() const { return cast(Isv::last()); }
  L* get() { return cast(Isv::get()); }
  L* removeFirst() { return cast(Isv::removeFirst()); }
  L* removeLast() { return cast(Isv::removeLast()); }
  L* removeAt(int i) { return cast(Isv::removeAt(i)); }
  L* removeReference(L* a) { return cast(Isv::removeReference(a)); }
  // Calls f on every element, in order.
  template <class F>
  void apply(F f) const {
    for (Link* p = Isv::firstLink(); p != Isv::endLink(); p = p->next()) f(static_cast<L*>(p));
  }

 private:
  static L* cast(Link* p) { return static_cast<L*>(p); }
};

template <class L>
using ERTIsvDlist = ERTIsvList<L, ERIsvDlist>;
template <class L>
using ERTIsvSlist = ERTIsvList<L, ERIsvSlist>;

// ---------------------------------------------------------------------------------------------
// The nodes of the value and pointer lists, from the size-class pools.
template <class T, class Link>
class ERTValLink : public Link, public ERMemoryPool {
  static_assert(alignof(T) <= 8, "pool slots are 8-byte aligned");

 public:
  explicit ERTValLink(const T& v) : value_(v) {}
  T& value() { return value_; }
  const T& value() const { return value_; }

 private:
  T value_;
};

template <class T>
using ERTValDlink = ERTValLink<T, ERIsvDlink>;
template <class T>
using ERTValSlink = ERTValLink<T, ERIsvSlink>;

namespace qorv::detail {

template <class X>
struct SmartPtrTraits : std::false_type {};
template <class U>
struct SmartPtrTraits<t_SmartPtr<U>> : std::true_type {
  using Object = U;
};
template <class X>
struct ObjectPtrTraits : std::false_type {};
template <class U>
struct ObjectPtrTraits<U*> : std::bool_constant<std::is_base_of_v<ERObject, U>> {
  using Object = U;
};

// A value that a bad index reaches: default, per thread, reset at each use.
template <class T>
T& scratchValue() {
  thread_local T value{};
  value = T{};
  return value;
}

// Persistence of a list of object references (smart or plain pointers).
template <class List>
void saveReferences(const List& list, ERFile& f) {
  f.Write(list.entries());
  list.apply([&f](const auto& element) {
    if (!element) {
      f.Write(static_cast<long>(1));
    } else {
      f.Write(static_cast<long>(0));
      element->recursiveSaveOn(f);
    }
  });
}

template <class List>
std::uint32_t referencesStoreSize(const List& list) {
  std::uint32_t n = 4;
  list.apply([&n](const auto& element) { n += 4 + (element ? element->recursiveStoreSize() : 0); });
  return n;
}

// Reads the count and each flag; make(object or null) appends. 0 on a refused record.
template <class Object, class Make>
int restoreReferences(ERFile& f, Make make) {
  try {
    int n = 0;
    if (!f.Read(n) || n < 0) return 0;
    const std::uint64_t end = f.GetLength(), position = f.GetPosition();
    if (position > end || static_cast<std::uint64_t>(n) > (end - position) / 4) return 0;
    for (int i = 0; i < n; ++i) {
      long isNull = 1;
      if (!f.Read(isNull)) return 0;
      if (isNull != 0) {
        make(nullptr);
        continue;
      }
      if (f.GetLength() - f.GetPosition() < 4) return 0;
      t_SmartPtr<ERObject> object = ERObject::recursiveRestoreFrom(f);
      make(Object::castdown(object.get()) != nullptr ? object : t_SmartPtr<ERObject>());
    }
    return 1;
  } catch (::qorv::platform::CFileException& e) {
    return 0;
  }
}

}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
// The value list body, over either intrusive list.
template <class T, class Isv>
class ERTValList {
 protected:
  using Link = typename Isv::Link;
  using Node = ERTValLink<T, Link>;

 public:
  using value_type = T;

  template <class V, class L>
  class Iterator {
   public:
    explicit Iterator(L* p) : p_(p) {}
    V& operator*() const { return static_cast<Node*>(const_cast<Link*>(p_))->value(); }
    V* operator->() const { return &**this; }
    Iterator& operator++() {
      p_ = p_->next();
      return *this;
    }
    bool operator==(const Iterator& o) const { return p_ == o.p_; }
    bool operator!=(const Iterator& o) const { return p_ != o.p_; }

   private:
    L* p_;
  };
  using iterator = Iterator<T, Link>;
  using const_iterator = Iterator<const T, const Link>;

  ERTValList() = default;
  ERTValList(const ERTValList& o) {
    for (const T& v : o) append(v);
  }
  ERTValList(ERTValList&& o) noexcept : list_(std::move(o.list_)) {}
  ERTValList& operator=(const ERTValList& o) {
    if (this != &o) {
      ERTValList copy(o);
      clear();
      list_ = std::move(copy.list_);
    }
    return *this;
  }
  ERTValList& operator=(ERTValList&& o) noexcept {
    if (this != &o) {
      clear();
      list_ = std::move(o.list_);
    }
    return *this;
  }
  virtual ~ERTValList() { clear(); }

  void append(const T& v) { list_.append(new Node(v)); }
  void prepend(const T& v) { list_.prepend(new Node(v)); }
  void insert(const T& v) { append(v); }
  // Before the element at i (0 <= i <= entries()); 0 for a bad index.
  int insertAt(int i, const T& v) {
    if (i < 0 || i > entries()) return badIndex(0);
    list_.insertAt(i, new Node(v));
    return 1;
  }

  T& at(int i) { return valueOr(list_.at(i)); }
  const T& at(int i) const { return valueOr(list_.at(i)); }
  T& operator[](int i) { return at(i); }
  const T& operator[](int i) const { return at(i); }
  T& first() { return valueOr(list_.first()); }
  const T& first() const { return valueOr(list_.first()); }
  T& last() { return valueOr(list_.last()); }
  const T& last() const { return valueOr(list_.last()); }

  // Each removal returns the value taken out, a default value when there was none.
  T get() { return take(list_.removeFirst()); }
  T removeFirst() { return take(list_.removeFirst()); }
  T removeLast() { return take(list_.removeLast()); }
  T removeAt(int i) {
    if (i < 0 || i >= entries()) return badIndex(T());
    return take(list_.removeAt(i));
  }
  // The first element equal to v; 1 when one was removed.
  int remove(const T& v) {
    for (Link* p = list_.firstLink(); p != list_.endLink(); p = p->next())
      if (node(p)->value() == v) {
        destroy(unlinkKnown(p));
        return 1;
      }
    return 0;
  }
  // Every element equal to v; the number removed.
  int removeAll(const T& v) {
    int n = 0;
    for (Link* p = list_.firstLink(); p != list_.endLink();) {
      Link* next = p->next();
      if (node(p)->value() == v) {
        destroy(unlinkKnown(p));
        ++n;
      }
      p = next;
    }
    return n;
  }

  // The first index holding v, -1 when none.
  int index(const T& v) const {
    int i = 0;
    for (const T& x : *this) {
      if (x == v) return i;
      ++i;
    }
    return -1;
  }
  int contains(const T& v) const { return index(v) >= 0; }
  int occurrencesOf(const T& v) const {
    int n = 0;
    for (const T& x : *this) n += x == v ? 1 : 0;
    return n;
  }

  int entries() const { return list_.entries(); }
  int isEmpty() const { return list_.isEmpty(); }
  void clear() {
    while (Link* p = list_.removeFirst()) destroy(p);
  }

  iterator begin() { return iterator(list_.firstLink()); }
  iterator end() { return iterator(const_cast<Link*>(list_.endLink())); }
  const_iterator begin() const { return const_iterator(list_.firstLink()); }
  const_iterator end() const { return const_iterator(list_.endLink()); }
  template <class F>
  void apply(F f) const {
    for (const T& v : *this) f(v);
  }

  bool operator==(const ERTValList& o) const {
    if (entries() != o.entries()) return false;
    const_iterator a = begin(), b = o.begin();
    for (; a != end(); ++a, ++b)
      if (!(*a == *b)) return false;
    return true;
  }

  // Persistence, for lists of t_SmartPtr (see the header comment).
  void saveGuts(ERFile& f) const requires qorv::detail::SmartPtrTraits<T>::value {
    qorv::detail::saveReferences(*this, f);
  }
  std::uint32_t binaryStoreSize() const requires qorv::detail::SmartPtrTraits<T>::value {
    return qorv::detail::referencesStoreSize(*this);
  }
  int restoreGuts(ERFile& f) requires qorv::detail::SmartPtrTraits<T>::value {
    using Object = typename qorv::detail::SmartPtrTraits<T>::Object;
    clear();
    return qorv::detail::restoreReferences<Object>(f, [this](const t_SmartPtr<ERObject>& o) {
      append(T(o ? Object::castdown(o.get()) : nullptr));
    });
  }

 protected:
  static Node* node(Link* p) { return static_cast<Node*>(p); }
  static const Node* node(const Link* p) { return static_cast<const Node*>(p); }
  static void destroy(Link* p) { delete node(p); }
  Link* unlinkKnown(Link* p) { return list_.unlink(p); }
  T take(Link* p) {
    if (p == nullptr) return T();
    T v = std::move(node(p)->value());
    destroy(p);
    return v;
  }
  T& valueOr(Link* p) const {
    if (p != nullptr) return node(p)->value();
    QORV_ASSERT(!"index out of range or empty list");
    return qorv::detail::scratchValue<T>();
  }
  template <class R>
  static R badIndex(R r) {
    QORV_ASSERT(!"index out of range or empty list");
    return r;
  }

  Isv list_;
};

template <class T>
class ERTValDlist : public ERTValList<T, ERIsvDlist> {
 public:
  using ERTValList<T, ERIsvDlist>::ERTValList;
};
template <class T>
class ERTValSlist : public ERTValList<T, ERIsvSlist> {
 public:
  using ERTValList<T, ERIsvSlist>::ERTValList;
};

// ---------------------------------------------------------------------------------------------
// The pointer list body: nodes hold a T*.
template <class T, class Isv>
class ERTPtrList : public ERTValList<T*, Isv> {
  using Base = ERTValList<T*, Isv>;
  using Link = typename Base::Link;

 public:
  using Base::Base;

  void append(T* p) { Base::append(p); }
  void prepend(T* p) { Base::prepend(p); }
  void insert(T* p) { Base::append(p); }
  int insertAt(int i, T* p) { return Base::insertAt(i, p); }
  // Null for an empty list.
  T* first() const { return Base::isEmpty() ? nullptr : Base::first(); }
  T* last() const { return Base::isEmpty() ? nullptr : Base::last(); }
  T* get() { return Base::removeFirst(); }

  // The first element whose pointee equals *v, null when none.
  T* find(const T* v) const {
    for (T* p : *this)
      if (p != nullptr && v != nullptr && *p == *v) return p;
    return nullptr;
  }
  int contains(const T* v) const { return find(v) != nullptr; }
  int index(const T* v) const {
    int i = 0;
    for (T* p : *this) {
      if (p != nullptr && v != nullptr && *p == *v) return i;
      ++i;
    }
    return -1;
  }
  int occurrencesOf(const T* v) const {
    int n = 0;
    for (T* p : *this) n += (p != nullptr && v != nullptr && *p == *v) ? 1 : 0;
    return n;
  }
  // Removes the first element whose pointee equals *v and returns it; null when none.
  T* remove(const T* v) {
    for (Link* l = this->list_.firstLink(); l != this->list_.endLink(); l = l->next()) {
      T* p = Base::node(l)->value();
      if (p != nullptr && v != nullptr && *p == *v) {
        Base::destroy(Base::unlinkKnown(l));
        return p;
      }
    }
    return nullptr;
  }
  int removeAll(const T* v) {
    int n = 0;
    while (remove(v) != nullptr) ++n;
    return n;
  }
  // The pointer itself: removed (and returned) when it is in the list.
  T* removeReference(const T* p) {
    for (Link* l = this->list_.firstLink(); l != this->list_.endLink(); l = l->next())
      if (Base::node(l)->value() == p) {
        Base::destroy(Base::unlinkKnown(l));
        return const_cast<T*>(p);
      }
    return nullptr;
  }
  int containsReference(const T* p) const { return Base::contains(const_cast<T*>(p)); }
  int occurrencesOfReference(const T* p) const { return Base::occurrencesOf(const_cast<T*>(p)); }

  // Deletes every pointee, then empties the list.
  void clearAndDestroy() {
    while (!Base::isEmpty()) delete Base::removeFirst();
  }

  // Persistence, for pointers to ERObject classes (see the header comment). Restored elements
  // are new objects owned by the caller (clearAndDestroy), holding no reference.
  void saveGuts(ERFile& f) const requires std::is_base_of_v<ERObject, T> {
    qorv::detail::saveReferences(*this, f);
  }
  std::uint32_t binaryStoreSize() const requires std::is_base_of_v<ERObject, T> {
    return qorv::detail::referencesStoreSize(*this);
  }
  int restoreGuts(ERFile& f) requires std::is_base_of_v<ERObject, T> {
    Base::clear();
    const int ok = qorv::detail::restoreReferences<T>(f, [this](const t_SmartPtr<ERObject>& o) {
      T* p = o ? T::castdown(o.get()) : nullptr;
      if (p != nullptr) p->addReference();  // outlives the smart pointer that made it
      Base::append(p);
    });
    // The list owns them as plain pointers: back to "no reference", nothing deleted.
    for (T* p : *this)
      if (p != nullptr) p->removeReference();
    return ok;
  }
};

template <class T>
class ERTPtrDlist : public ERTPtrList<T, ERIsvDlist> {
 public:
  using ERTPtrList<T, ERIsvDlist>::ERTPtrList;
};
template <class T>
class ERTPtrSlist : public ERTPtrList<T, ERIsvSlist> {
 public:
  using ERTPtrList<T, ERIsvSlist>::ERTPtrList;
};
