// qorv/persistence/object_database.h
//
// The object database: ERObject instances stored in one container file under 32-bit
// identifiers and re-created from the identifier alone.
//
// Inside the block heap of the file (every offset is a block payload):
//   start block, 24 bytes (the file's first block):
//     OFFSET  SIZE  FIELD
//          0     4  uint32 database version, 1001
//          4     4  int32 info block of the class-name tree
//          8     4  int32 info block of the object tree
//         12     4  int32 last identifier assigned (the first object gets 1)
//         16     4  int32 number of objects stored under a new identifier (never lowered)
//         20     4  uint32 last class signature assigned (the first class gets 1)
//   class-name tree: 60-byte string keys (className()) -> signature; cache 10, order 10, min 10
//   object tree: 4-byte raw keys (the identifier's bytes) -> record offset; cache 1000, order 10
//   record (one block of binaryStoreSize() + 4 bytes): uint32 signature, then saveGuts
// The header counters reach the file only at Close (and at creation).
//
// Conventions a caller gets wrong:
// - Store of an object filed in another database gives it a new identifier here; the other
//   database keeps its record.
// - Re-storing moves the record to a new block; the identifier stays.
// - Objects keep a non-owning pointer to their database; the database does not track them.
// - Process-wide and unguarded (database work is single-threaded by contract): the current
//   default database, set by Store and RetrieveAndCreate so that the objects a stored object
//   references go to the same file.
// - File exceptions (CFileException*) pass through to the caller; ERObject::Save/Delete and
//   ERDataBase catch them.
//
// Bytes from the file are checked before they are trusted: a file that is not a block heap, whose
// start block or trees cannot be read, or of a newer version is refused by Open; a record offset
// outside the used space, an unknown signature, or references nested deeper than any real object
// give 0 or null from retrieval.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <unordered_map>

#include "qorv/foundation/object.h"

class ERFileManager;
class ERBTreeOnDisk;

// The raw 4-byte key of an identifier in the database's trees: its bytes, little-endian.
struct ERIdentifierKey {
  explicit ERIdentifierKey(long id) {
    const auto v = static_cast<std::uint32_t>(id);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  char bytes[4];
};

class QORV_API ERObjectDataBase : public ERReference {
 public:
  static constexpr int kCurrentVersion = 1001;

  ERObjectDataBase();
  virtual ~ERObjectDataBase();
  ERObjectDataBase(const ERObjectDataBase&) = delete;
  ERObjectDataBase& operator=(const ERObjectDataBase&) = delete;

  // 1 when open (an existing file, or a new one unless read-only), 0 when refused.
  virtual int Open(const char* fileName, int readOnly);
  virtual void Close();
  // The object's identifier in this database.
  virtual long Store(ERObject& object);
  virtual int Retrieve(long id, ERObject& object);
  virtual t_SmartPtr<ERObject> RetrieveAndCreate(long id);
  virtual int Delete(long id);
  virtual void summarize(std::ostream& out);
  virtual int get_db_version() const { return version_; }
  virtual int get_db_current_version() const { return kCurrentVersion; }

  ERFileManager* fileManager() const { return fileManager_.get(); }
  long getNbObj() const { return objectCount_; }
  bool isOpen() const { return fileManager_ != nullptr; }

  // Calls f(id, record offset) for every stored object, in the object tree's key order.
  template <class F>
  void forEachObject(F&& f) {
    forEachObjectImpl(
        [](long id, long offset, void* data) { (*static_cast<F*>(data))(id, offset); }, &f);
  }
  // The signature of a stored record, 0 when it cannot be read.
  std::uint32_t signatureAt(long offset);
  // The class name of a signature, empty when unknown.
  std::string classNameOf(std::uint32_t signature) const;

  static ERObjectDataBase* current();
  static void setCurrent(ERObjectDataBase* db);

 protected:
  std::uint32_t GetOrCreateSignature(const char* className);

  // What Store and RetrieveAndCreate record in the object they file.
  static void attach(ERObject& object, long id, ERObjectDataBase* db) {
    object.objectId_ = id;
    object.database_ = db;
  }

  int version_ = kCurrentVersion;

 private:
  void forEachObjectImpl(void (*f)(long, long, void*), void* data);
  long recordOffset(long id);
  bool openExisting(const char* fileName, int readOnly);
  void createNew(const char* fileName);

  std::unique_ptr<ERFileManager> fileManager_;
  std::unique_ptr<ERBTreeOnDisk> classTree_;
  std::unique_ptr<ERBTreeOnDisk> objectTree_;
  long classTreeBase_ = 0;
  long objectTreeBase_ = 0;
  long lastId_ = 0;
  long objectCount_ = 0;
  std::uint32_t lastSignature_ = 0;
  std::unordered_map<std::string, std::uint32_t> signatures_;
  std::unordered_map<std::uint32_t, ERClassRegistration::Creator> factories_;
  std::unordered_map<std::uint32_t, std::string> classNames_;
  int restoreDepth_ = 0;
};
