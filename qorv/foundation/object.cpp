#include "qorv/foundation/object.h"

#include <cstring>
#include <new>
#include <sstream>

#include "qorv/foundation/assert.h"
#include "qorv/persistence/file.h"
#include "qorv/persistence/object_database.h"
#include "qorv/platform/debug.h"
#include "qorv/platform/file.h"

using namespace qorv::platform;

// ---------------------------------------------------------------------------------------------
// Registry.

namespace {

// Written only during static initialisation and unload; read without locks.
ERClassRegistration* g_firstRegistration = nullptr;

std::atomic<ERCastdownHook> g_castdownHook{nullptr};

}  // namespace

ERClassRegistration::ERClassRegistration(const char* name, std::uint64_t size,
                                         const ERClassRegistration* const* bases,
                                         const ERClassRegistration* const* members, Creator creator,
                                         bool isAbstract)
    : name_(name),
      size_(size),
      bases_(bases),
      members_(members),
      creator_(creator),
      abstract_(isAbstract),
      next_(g_firstRegistration) {
  g_firstRegistration = this;
}

ERClassRegistration::~ERClassRegistration() {
  for (ERClassRegistration** link = &g_firstRegistration; *link != nullptr;
       link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
}

int ERClassRegistration::isKindOf(const ERClassRegistration* r) const {
  if (r == this) return 1;
  if (bases_ == nullptr) return 0;
  for (const ERClassRegistration* const* b = bases_; *b != nullptr; ++b)
    if ((*b)->isKindOf(r)) return 1;
  return 0;
}

int ERClassRegistration::hasMember(const ERClassRegistration* r) const {
  if (r == this) return 1;
  if (members_ == nullptr) return 0;
  for (const ERClassRegistration* const* m = members_; *m != nullptr; ++m)
    if ((*m)->hasMember(r)) return 1;
  return 0;
}

const ERClassRegistration* ERClassRegistration::findClassRegistration(const char* name) {
  if (name == nullptr) return nullptr;
  for (const ERClassRegistration* r = g_firstRegistration; r != nullptr; r = r->next_)
    if (std::strcmp(r->name_, name) == 0) return r;
  return nullptr;
}

ERClassRegistration::Creator ERClassRegistration::findCreator(const char* name) {
  const ERClassRegistration* r = findClassRegistration(name);
  return r ? r->creator_ : nullptr;
}

const ERClassRegistration* ERClassRegistration::first() { return g_firstRegistration; }

std::string ERClassRegistration::drawBases(int depth) const {
  std::string text;
  if (bases_ == nullptr) return text;
  for (const ERClassRegistration* const* b = bases_; *b != nullptr; ++b) {
    text.append(static_cast<std::size_t>(depth + 1), '\t');
    text += "+------->";
    text += (*b)->getName();
    text += "\n";
    text += (*b)->drawBases(depth + 1);
  }
  return text;
}

void ERClassRegistration::DumpBased(int depth) const {
  if (bases_ == nullptr) return;
  for (const ERClassRegistration* const* b = bases_; *b != nullptr; ++b) {
    std::string line(static_cast<std::size_t>(depth + 1), '\t');
    line += "+------->";
    line += (*b)->getName();
    line += "\n";
    OutputDebugStringA(line.c_str());
    (*b)->DumpBased(depth + 1);
  }
}

ERCastdownHook ERSetCastdownHook(ERCastdownHook hook) { return g_castdownHook.exchange(hook); }

void ERCastdownFailed(const ERClassRegistration& target, const ERClassRegistration* actual) {
  if (ERCastdownHook hook = g_castdownHook.load()) hook(target, actual);
}

const ERClassRegistration* const* qorv::detail::noMembers() {
  static const ERClassRegistration* const none[] = {nullptr};
  return none;
}

// ---------------------------------------------------------------------------------------------
// Heap marking. operator new records the block it hands out; the ERObject constructor looks for
// the block that contains `this` and, finding one, knows it is on the heap. A small stack per
// thread copes with objects allocated while another allocation awaits its constructor
// (new A(new B)). Stack objects, members and placement-new objects find no block and read 0.

namespace {

struct PendingBlock {
  const char* begin;
  std::size_t size;
};

struct PendingBlocks {
  static constexpr int kCapacity = 16;
  PendingBlock blocks[kCapacity];
  int count = 0;

  void push(void* p, std::size_t size) {
    if (count == kCapacity) {  // deeper nesting than any real construction: forget the oldest
      for (int i = 1; i < kCapacity; ++i) blocks[i - 1] = blocks[i];
      --count;
    }
    blocks[count++] = {static_cast<const char*>(p), size};
  }
  // Removes and reports the newest block containing p.
  bool take(const void* p) {
    const char* c = static_cast<const char*>(p);
    for (int i = count - 1; i >= 0; --i) {
      if (c >= blocks[i].begin && c < blocks[i].begin + blocks[i].size) {
        for (int j = i + 1; j < count; ++j) blocks[j - 1] = blocks[j];
        --count;
        return true;
      }
    }
    return false;
  }
  void forget(const void* p) {
    for (int i = count - 1; i >= 0; --i) {
      if (blocks[i].begin == p) {
        for (int j = i + 1; j < count; ++j) blocks[j - 1] = blocks[j];
        --count;
        return;
      }
    }
  }
};

PendingBlocks& pendingBlocks() {
  thread_local PendingBlocks pending;
  return pending;
}

// The one-shot request of new (db) T: process-wide and unguarded by contract (database work is
// single-threaded).
struct PendingDatabase {
  int armed = 0;
  ERObjectDataBase* db = nullptr;
  const char* begin = nullptr;  // the block allocated for the object
  std::size_t size = 0;
  bool holds(const void* p) const {
    const char* c = static_cast<const char*>(p);
    return armed && c >= begin && c < begin + size;
  }
};
PendingDatabase g_pendingDatabase;

}  // namespace

namespace qorv::detail {

ERObject* pendingStore = nullptr;

void completePendingStore() {
  ERObject* object = std::exchange(pendingStore, nullptr);
  if (object == nullptr) return;
  object->dirty_ = 1;
  object->Save(nullptr);
}

}  // namespace qorv::detail

void* ERObject::operator new(std::size_t size) {
  void* p = ::operator new(size);
  pendingBlocks().push(p, size);
  return p;
}

void* ERObject::operator new(std::size_t size, const char*, int) {
  return ERObject::operator new(size);
}

void* ERObject::operator new(std::size_t size, ERObjectDataBase* db) {
  void* p = ERObject::operator new(size);
  g_pendingDatabase = {1, db, static_cast<const char*>(p), size};
  return p;
}

void ERObject::operator delete(void* p) noexcept {
  if (p == nullptr) return;
  pendingBlocks().forget(p);  // a constructor that threw leaves its block pending
  ::operator delete(p);
}

void ERObject::operator delete(void* p, const char*, int) noexcept { ERObject::operator delete(p); }

void ERObject::operator delete(void* p, ERObjectDataBase*) noexcept {
  g_pendingDatabase = {};
  ERObject::operator delete(p);
}

// ---------------------------------------------------------------------------------------------
// ERObject.

CRuntimeClass ERObject::classERObject = {
    "ERObject", static_cast<int>(sizeof(ERObject)), 0xFFFF, nullptr, &CObject::classCObject,
    nullptr};

const ERClassRegistration* ERObject::desc() {
  static const ERClassRegistration registration(
      "ERObject", sizeof(ERObject), qorv::detail::noMembers(), qorv::detail::noMembers(), nullptr);
  return &registration;
}

[[maybe_unused]] static const ERClassRegistration* const qorvRegistration_ERObject =
    ERObject::desc();

// new (db) T: only the root built in the requested block takes the request (a temporary made
// for T's arguments does not). The record written here is the root's, the rest of T not being
// built yet; it is rewritten as T at the first touch of the built object.
void ERObject::takePendingDatabase() {
  if (!g_pendingDatabase.holds(this)) return;
  ERObjectDataBase* db = g_pendingDatabase.db;
  g_pendingDatabase = {};
  qorv::detail::completePendingStore();  // the previous one is built by now
  if (db != nullptr && Save(db)) {
    dirty_ = 1;
    qorv::detail::pendingStore = this;
  }
}

ERObject::ERObject() : onHeap_(pendingBlocks().take(this) ? 1 : 0) { takePendingDatabase(); }

ERObject::ERObject(const ERObject& other)
    : CObject(other), ERReference(), onHeap_(pendingBlocks().take(this) ? 1 : 0) {
  takePendingDatabase();
}

ERObject& ERObject::operator=(const ERObject& other) {
  if (this != &other) {
    CObject::operator=(other);
    objectId_ = -1;
    database_ = nullptr;
    dirty_ = 0;
  }
  return *this;
}

ERObject::~ERObject() {
  if (qorv::detail::pendingStore != this) return;
  qorv::detail::pendingStore = nullptr;
  // Destroyed before it was complete in the file: its provisional record holds only the root's
  // part, which must not pass for the object. It goes, and the identifier with it.
  if (database_ == nullptr || objectId_ <= 0) return;
  try {
    database_->Delete(objectId_);
  } catch (...) {
  }
}

CRuntimeClass* ERObject::GetRuntimeClass() const { return &classERObject; }

const ERClassRegistration* ERObject::isA() const { return desc(); }

const char* ERObject::className() const { return isA()->getName(); }

void* ERObject::_castdown(const ERClassRegistration& r) const {
  return &r == desc() ? static_cast<void*>(const_cast<ERObject*>(this)) : nullptr;
}

int ERObject::isKindOf(const ERClassRegistration* r) const { return isA()->isKindOf(r); }

int ERObject::isMemberOf(const ERClassRegistration* r) const {
  return r != nullptr && r->hasMember(isA());
}

void ERObject::Dump(CDumpContext& dc) const {
  dc << "ERObject which is a " << className() << "\n";
  dc << "E : " << isA()->getName() << "\n";
  std::ostringstream text;
  printOn(text);
  dc << text.str();
}

void ERObject::assertValid(const char* file, int line) const {
  if (isValid()) return;
  const std::string message = std::string(className()) + " is not valid";
  qorvAssertFailed(file, line, message.c_str());
}

int ERObject::Save(ERObjectDataBase* db) {
  qorv::detail::touchPendingStore(this);
  if (db == nullptr && database_ == nullptr) return 0;
  try {
    if (db != nullptr && db != database_) {
      if (database_ != nullptr && dirty_ && objectId_ != -1) objectId_ = database_->Store(*this);
      database_ = nullptr;
      objectId_ = db->Store(*this);
      dirty_ = 0;
      return 1;
    }
    // Clean, but its record gone (its transaction lost, or deleted by identifier): a store
    // again, or what references it would name nothing.
    if (!dirty_ && (!database_->isOpen() || database_->holds(objectId_))) return 1;
    objectId_ = database_->Store(*this);
    dirty_ = 0;
    return 1;
  } catch (CFileException& e) {
    return 0;
  }
}

int ERObject::Delete() {
  qorv::detail::touchPendingStore(this);
  if (database_ == nullptr || objectId_ == -1) return 0;
  try {
    if (!database_->Delete(objectId_)) return 0;
    database_ = nullptr;
    objectId_ = -1;
    return 1;
  } catch (CFileException& e) {
    return 0;
  }
}

int ERObject::Load(long id, ERObjectDataBase* db) {
  qorv::detail::touchPendingStore(this);
  if (id == -1 && objectId_ == -1) return 0;
  if (db == nullptr && database_ == nullptr) return 0;
  return 1;
}

void ERObject::recursiveSaveOn(ERFile& file) const {
  const long position = file.CurOffset();
  // Saving records the identifier, which is state of the stored object, not of its value.
  auto* self = const_cast<ERObject*>(this);
  self->Save(ERObjectDataBase::current());
  file.SeekTo(position);
  file.Write(objectId_);
}

t_SmartPtr<ERObject> ERObject::recursiveRestoreFrom(ERFile& file) {
  long id = -1;
  if (!file.Read(id)) return {};
  const long position = file.CurOffset();
  ERObjectDataBase* db = ERObjectDataBase::current();
  t_SmartPtr<ERObject> object;
  if (db != nullptr) object = db->RetrieveAndCreate(id);
  file.SeekTo(position);
  return object;
}

std::ostream& operator<<(std::ostream& out, const ERObject& o) {
  o.printOn(out);
  return out;
}
