// qorv/foundation/object.h
//
// The root of every persistent or dynamically typed object: ERReference (the intrusive count),
// ERObject (identity in a database, dirty state, persistence hooks), ERClassRegistration (the
// process-wide registry that names classes and creates them from a stored name), t_SmartPtr, and
// the one-line registration that every registered class uses:
//
//   class QORV_API ERSegment2D : public ERFiniteEntity2DWF {
//    public:
//     QORV_DECLARE_CLASS(ERSegment2D, ERFiniteEntity2DWF);
//     ...
//   };
//   QORV_DEFINE_CLASS(ERSegment2D)             // in the .cpp; creator when not abstract
//   QORV_DEFINE_ABSTRACT_CLASS(ERTr3D)          // registered without a creator
//
// A stored class adds its overrides by role (QORV_DECLARE_STORED(ERSegment2D) for the copy,
// printOn and the stored image; see the macros below) and QORV_DEFINE_COPYABLE in the .cpp.
//
// The macro declares desc(), the four castdown overloads, isA, className, _castdown and the
// framework run-time class; it never changes access, and checks that each named base is a base.
//
// Conventions a caller gets wrong:
// - The counter stores "references minus one": a new object has references() == 0, and the
//   smart pointer that drops the last reference deletes the object. Objects on the stack or held
//   as members are never deleted through the count.
// - Copying an object gives a new, unstored, clean object with no reference; assignment never
//   changes the counter.
// - castdown returns null for null or for an object of another class; it never throws.
// - new (db) T(...) files the object in db during construction (it has its identifier at once),
//   but only as far as the root is built; it stays dirty, and the record is rewritten as the
//   complete T at the first touch of the object once built (getObjectID, Database, isDirty,
//   Save, Load, Delete, a smart pointer taking it), at the next new (db), or at the database's
//   commit or Close. An object destroyed before any of these takes its provisional record with
//   it: the file never holds a root record standing for a T. Objects built meanwhile
//   (temporaries in the arguments, members, objects T's constructor makes) neither take the
//   request nor complete it early.
// - Save of a clean object writes nothing while its database holds its record; once the record
//   is gone (its transaction rolled back or its commit failed, or deleted by identifier), Save
//   stores it again under its identifier, and so does saving an object that references it.
#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>

#include "qorv/platform/afx.h"

class ERFile;
class ERObject;
class ERObjectDataBase;

// ---------------------------------------------------------------------------------------------
// Intrusive reference count.
class QORV_API ERReference {
 public:
  ERReference() : count_(0xFFFFFFFFu) {}
  explicit ERReference(long n) : count_(static_cast<std::uint32_t>(n - 1)) {}
  ERReference(const ERReference& other) : count_(other.count_.load()) {}
  ERReference& operator=(const ERReference& other) {
    count_.store(other.count_.load());
    return *this;
  }

  void addReference() { count_.fetch_add(1); }
  // The counter's value before the decrement: 0 means the last reference just went.
  std::uint32_t removeReference() { return count_.fetch_sub(1); }
  std::uint32_t references() const { return count_.load() + 1; }

 private:
  std::atomic<std::uint32_t> count_;  // references - 1; all ones is "none"
};

// ---------------------------------------------------------------------------------------------
// One per registered class, built during static initialisation and pushed on a process-wide list.
class QORV_API ERClassRegistration {
 public:
  using Creator = ERObject* (*)();

  // bases and members are null-terminated arrays that outlive the registration.
  ERClassRegistration(const char* name, std::uint64_t size, const ERClassRegistration* const* bases,
                      const ERClassRegistration* const* members, Creator creator,
                      bool isAbstract = false);
  ~ERClassRegistration();
  ERClassRegistration(const ERClassRegistration&) = delete;
  ERClassRegistration& operator=(const ERClassRegistration&) = delete;

  const char* getName() const { return name_; }
  std::uint64_t instanceSize() const { return size_; }
  const ERClassRegistration* const* bases() const { return bases_; }
  Creator creator() const { return creator_; }
  // The C++ class is abstract. A concrete class may still have no creator (registered as
  // abstract, like the database's auxiliary index): it cannot be re-created by name.
  bool isAbstract() const { return abstract_; }
  const ERClassRegistration* next() const { return next_; }

  // This class is r or derives from it (depth first, bases in declaration order).
  int isKindOf(const ERClassRegistration* r) const;
  int hasMember(const ERClassRegistration* r) const;

  // Exact, case-sensitive name look-ups over the whole list; null when absent (or abstract, for
  // the creator).
  static const ERClassRegistration* findClassRegistration(const char* name);
  static Creator findCreator(const char* name);
  static const ERClassRegistration* first();
  static void DumpAllClasses() {}

  // Draws the bases below this class, one line each: depth + 1 tabs, "+------->", the name.
  // DumpBased sends it to the debug output; drawBases returns the same text.
  void DumpBased(int depth) const;
  std::string drawBases(int depth) const;

 private:
  const char* name_;
  std::uint64_t size_;
  const ERClassRegistration* const* bases_;
  const ERClassRegistration* const* members_;
  Creator creator_;
  bool abstract_;
  ERClassRegistration* next_;
};

// Called when castdown fails, with the class asked for and the object's class. Does nothing
// unless a hook is installed (a debugging aid); returns the previous hook.
using ERCastdownHook = void (*)(const ERClassRegistration& target,
                                const ERClassRegistration* actual);
QORV_API ERCastdownHook ERSetCastdownHook(ERCastdownHook hook);
QORV_API void ERCastdownFailed(const ERClassRegistration& target,
                               const ERClassRegistration* actual);

namespace qorv::detail {
// The object new (db) T left half-stored (its record written before T was built), or null.
QORV_API extern ERObject* pendingStore;
// Rewrites that record as the complete object.
QORV_API void completePendingStore();
inline void touchPendingStore(const ERObject* o) {
  if (o == pendingStore && o != nullptr) completePendingStore();
}
inline void touchPendingStore(const void*) {}
}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
// Intrusive smart pointer over ERObject-derived classes.
template <class T>
class t_SmartPtr {
 public:
  t_SmartPtr() = default;
  t_SmartPtr(std::nullptr_t) {}
  t_SmartPtr(T* p) : ptr_(p) { acquire(); }
  t_SmartPtr(const t_SmartPtr& o) : ptr_(o.ptr_) { acquire(); }
  t_SmartPtr(t_SmartPtr&& o) noexcept : ptr_(std::exchange(o.ptr_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  t_SmartPtr(const t_SmartPtr<U>& o) : ptr_(o.get()) {
    acquire();
  }
  virtual ~t_SmartPtr() { release(); }

  t_SmartPtr& operator=(const t_SmartPtr& o) { return reset(o.ptr_); }
  t_SmartPtr& operator=(t_SmartPtr&& o) noexcept {
    if (this != &o) {
      release();
      ptr_ = std::exchange(o.ptr_, nullptr);
    }
    return *this;
  }
  t_SmartPtr& operator=(T* p) { return reset(p); }

  // Takes the new reference before dropping the old one, so self-assignment is safe.
  t_SmartPtr& reset(T* p = nullptr) {
    T* old = ptr_;
    ptr_ = p;
    acquire();
    if (old != nullptr && old->removeReference() == 0) delete old;
    return *this;
  }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  bool isNull() const { return ptr_ == nullptr; }
  bool operator==(const t_SmartPtr& o) const { return ptr_ == o.ptr_; }
  bool operator==(const T* p) const { return ptr_ == p; }

 private:
  void acquire() {
    if (ptr_ != nullptr) ptr_->addReference();
    qorv::detail::touchPendingStore(ptr_);
  }
  void release() {
    if (ptr_ != nullptr && ptr_->removeReference() == 0) delete ptr_;
    ptr_ = nullptr;
  }
  T* ptr_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERObject : public ::qorv::platform::CObject, public ERReference {
 public:
  static const ERClassRegistration* desc();
  static ERObject* castdown(ERObject* p) { return p; }
  static const ERObject* castdown(const ERObject* p) { return p; }
  static ERObject* castdown(ERObject& p) { return &p; }
  static const ERObject* castdown(const ERObject& p) { return &p; }
  static ::qorv::platform::CRuntimeClass classERObject;
  static ::qorv::platform::CRuntimeClass* GetThisClass() { return &classERObject; }

  ERObject();
  ERObject(const ERObject& other);
  ERObject& operator=(const ERObject& other);
  ~ERObject() override;

  // Framework slots.
  ::qorv::platform::CRuntimeClass* GetRuntimeClass() const override;
  void Serialize(::qorv::platform::CArchive&) override {}
  void AssertValid() const override {}
  void Dump(::qorv::platform::CDumpContext& dc) const override;

  virtual const ERClassRegistration* isA() const;
  virtual const char* className() const;
  virtual void* _castdown(const ERClassRegistration& r) const;
  virtual ERObject* getCopy() const = 0;
  virtual int isKindOf(const ERClassRegistration* r) const;
  virtual int isMemberOf(const ERClassRegistration* r) const;
  virtual int isValid() const { return 1; }
  virtual void printOn(std::ostream& out) const = 0;
  virtual void saveGuts(ERFile&) const {}
  virtual void restoreGuts(ERFile&) {}
  virtual std::uint32_t binaryStoreSize() const { return 0; }
  virtual void CleanUpTemporaries(int) {}
  virtual int Delete();
  virtual int Save(ERObjectDataBase* db);
  virtual int Load(long id, ERObjectDataBase* db);

  long getObjectID() const { return qorv::detail::touchPendingStore(this), objectId_; }
  ERObjectDataBase* Database() const { return qorv::detail::touchPendingStore(this), database_; }
  int isDirty() const { return qorv::detail::touchPendingStore(this), dirty_; }
  void setDirty() { dirty_ = 1; }
  int isOnTheHeap() const { return onHeap_; }

  // Reports an invalid object (isValid() == 0) with its class, file and line.
  void assertValid(const char* file, int line) const;

  // A member object stored by reference: saved in the current database, its identifier written.
  void recursiveSaveOn(ERFile& file) const;
  std::uint32_t recursiveStoreSize() const { return 4; }
  static t_SmartPtr<ERObject> recursiveRestoreFrom(ERFile& file);

  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, const char* file, int line);
  static void* operator new(std::size_t, void* where) noexcept { return where; }
  static void* operator new(std::size_t size, ERObjectDataBase* db);
  static void operator delete(void* p) noexcept;
  static void operator delete(void* p, const char* file, int line) noexcept;
  static void operator delete(void*, void*) noexcept {}
  static void operator delete(void* p, ERObjectDataBase* db) noexcept;

 private:
  friend class ERObjectDataBase;
  friend void qorv::detail::completePendingStore();

  void takePendingDatabase();

  long objectId_ = -1;
  ERObjectDataBase* database_ = nullptr;
  int dirty_ = 0;
  int onHeap_ = 0;
};

QORV_API std::ostream& operator<<(std::ostream& out, const ERObject& o);

// ---------------------------------------------------------------------------------------------
// Registration machinery behind QORV_DECLARE_CLASS / QORV_DEFINE_CLASS.
namespace qorv::detail {

template <class... B>
struct BaseList {};

template <class C, class... B>
const ERClassRegistration* const* basesOf(BaseList<B...>) {
  static_assert((std::is_base_of_v<B, C> && ...), "a registered base is not a base of the class");
  static const ERClassRegistration* const bases[] = {B::desc()..., nullptr};
  return bases;
}

QORV_API const ERClassRegistration* const* noMembers();

template <class C, class B>
void* castdownBase(const C* self, const ERClassRegistration& r) {
  return self->B::_castdown(r);
}

// The first base (in declaration order) that holds the sub-object wins.
template <class C, class... B>
void* castdownBases(const C* self, const ERClassRegistration& r, BaseList<B...>) {
  void* p = nullptr;
  ((p = (p != nullptr ? p : castdownBase<C, B>(self, r))), ...);
  return p;
}

template <class C>
constexpr ERClassRegistration::Creator creatorOf() {
  if constexpr (std::is_abstract_v<C>) {
    return nullptr;
  } else {
    return []() -> ERObject* { return new C; };
  }
}

}  // namespace qorv::detail

#define QORV_DECLARE_CLASS(Class, ...)                                     \
  using qorvBases = ::qorv::detail::BaseList<__VA_ARGS__>;                 \
  static const ERClassRegistration* desc();                                \
  static Class* castdown(ERObject* p);                                     \
  static const Class* castdown(const ERObject* p);                         \
  static Class* castdown(ERObject& p) { return castdown(&p); }             \
  static const Class* castdown(const ERObject& p) { return castdown(&p); } \
  const ERClassRegistration* isA() const override;                         \
  const char* className() const override;                                  \
  void* _castdown(const ERClassRegistration& r) const override;            \
  static ::qorv::platform::CRuntimeClass class##Class;                                       \
  static ::qorv::platform::CRuntimeClass* GetThisClass() { return &class##Class; }           \
  ::qorv::platform::CRuntimeClass* GetRuntimeClass() const override

// The overrides of a stored class, one macro per role, so that a class lists its roles rather
// than their signatures:
//   QORV_DECLARE_COPYABLE(Class)  getCopy, defined by QORV_DEFINE_COPYABLE(Class) in the .cpp
//                                 (a copy of the complete object on the heap)
//   QORV_DECLARE_GUTS             saveGuts, restoreGuts and binaryStoreSize: the stored image
//   QORV_DECLARE_STORED(Class)    the copy, printOn and the guts: a concrete stored class
// Like QORV_DECLARE_CLASS they declare only and leave access to the class.
#define QORV_DECLARE_COPYABLE(Class) ERObject* getCopy() const override
#define QORV_DECLARE_GUTS                  \
  void saveGuts(ERFile& f) const override; \
  void restoreGuts(ERFile& f) override;    \
  std::uint32_t binaryStoreSize() const override
#define QORV_DECLARE_STORED(Class)               \
  QORV_DECLARE_COPYABLE(Class);                  \
  void printOn(std::ostream& os) const override; \
  QORV_DECLARE_GUTS
#define QORV_DEFINE_COPYABLE(Class) \
  ERObject* Class::getCopy() const { return new Class(*this); }

#define QORV_DEFINE_CLASS_WITH_CREATOR(Class, creator)                                           \
  ::qorv::platform::CRuntimeClass Class::class##Class = {#Class,  static_cast<int>(sizeof(Class)), 0xFFFF,         \
                                       nullptr, &::qorv::platform::CObject::classCObject,          nullptr};       \
  ::qorv::platform::CRuntimeClass* Class::GetRuntimeClass() const { return &class##Class; }                        \
  const ERClassRegistration* Class::desc() {                                                     \
    static const ERClassRegistration registration(#Class, sizeof(Class),                         \
                                                  ::qorv::detail::basesOf<Class>(qorvBases{}),   \
                                                  ::qorv::detail::noMembers(), creator,          \
                                                  std::is_abstract_v<Class>);                    \
    return &registration;                                                                        \
  }                                                                                              \
  Class* Class::castdown(ERObject* p) {                                                          \
    if (p == nullptr) return nullptr;                                                            \
    void* sub = p->_castdown(*desc());                                                           \
    if (sub == nullptr) ERCastdownFailed(*desc(), p->isA());                                     \
    return static_cast<Class*>(sub);                                                             \
  }                                                                                              \
  const Class* Class::castdown(const ERObject* p) { return castdown(const_cast<ERObject*>(p)); } \
  const ERClassRegistration* Class::isA() const { return desc(); }                               \
  const char* Class::className() const { return desc()->getName(); }                             \
  void* Class::_castdown(const ERClassRegistration& r) const {                                   \
    if (&r == desc()) return static_cast<void*>(const_cast<Class*>(this));                       \
    return ::qorv::detail::castdownBases(this, r, qorvBases{});                                  \
  }                                                                                              \
  /* Registered during static initialisation, not at first use. */                               \
  [[maybe_unused]] static const ERClassRegistration* const qorvRegistration_##Class = Class::desc()

#define QORV_DEFINE_CLASS(Class) \
  QORV_DEFINE_CLASS_WITH_CREATOR(Class, ::qorv::detail::creatorOf<Class>())
#define QORV_DEFINE_ABSTRACT_CLASS(Class) QORV_DEFINE_CLASS_WITH_CREATOR(Class, nullptr)

// Reports through the library's assertion routine when the object is not valid.
#define QORV_ASSERT_VALID(obj) (obj).assertValid(__FILE__, __LINE__)
