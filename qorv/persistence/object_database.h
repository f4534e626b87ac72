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
//   object tree: 4-byte raw keys (the identifier's bytes) -> record offset; order 10, minimum 10
//   record (one block of binaryStoreSize() + 4 bytes): uint32 signature, then saveGuts
// The header counters are committed with the data they count (nothing else is added to the file).
//
// Transactions: begin() ... commit() makes every change in between one atomic unit; rollback()
// drops them. Outside begin/commit every Store and Delete is a transaction of its own (a Store
// with the objects it references). The file manager keeps the changes in its page cache and
// commits through a rollback journal beside the file (FILE-journal, see file_manager.h); Open
// finds a journal left by a writer that died and rolls the file back first (a reader in memory
// only); a journal it cannot trust or read makes Open refuse (refusal(): journalDamaged,
// journalUnreadable) with both files left as they are, for ERFileManager::recoverJournal. Readers
// open beside a writer and see its last commit while they stay open; a commit waits for them
// (see the locks in file_manager.h): close a reader when done. A refused Store
// (below) undoes itself and leaves an open transaction going; any other failure inside an
// explicit transaction rolls back the whole transaction. Close rolls back a transaction left
// open. Objects stored or deleted in a transaction that is rolled back (or whose commit failed)
// keep the identifier they were given: it stays reserved (the last identifier is not lowered, and
// reaches the file with the next commit or Close), so it never names another object; stored
// again, such an object gets a record under it, counted like a new one. The same holds for an
// object whose record was deleted by identifier.
//
// Identifiers are 1..2^31-1: any other is absent for Retrieve, RetrieveAndCreate and Delete, and
// Store refuses to assign past the last. Store refuses (throws CFileException invalidFile, having
// written nothing, the object keeping its previous identifier and database) an object whose
// saveGuts writes more than its binaryStoreSize, a class or identifier the trees refuse to index.
//
// Opening, read-only or not, checks the file against itself before anything is written or read
// back: the block heap's header (endData within the file), the start block, the version, both
// trees (sound, every node met once), every identifier within 1..last identifier, the number of
// objects against the tree, every signature within 1..last signature, the free list, and no byte
// of the used space in two places (so no record lies in a tree node or free space). A file
// failing any of these is refused (0, the file byte for byte as it was). The check reads the
// whole file: an opening costs time in proportion to its size. The last block's padding to 4 bytes
// is never written, as in every file of the format, so a sound file may end up to 3 bytes short of
// endData; a file cut by 1 to 3 bytes looks the same, and its last record then reads short (null)
// until a writer extends the file past it. An existing empty file opened read-write becomes a new
// database; a creation that fails leaves no file behind (an empty one empty).
//
// Retrieval reads a record only inside its block: a record whose block or size word is not
// sound, a read that falls short or passes the block, an unknown signature, or a referenced
// object that is damaged in its turn give 0 / null, never a default-valued object. A reference
// to an identifier that is not stored is not damage: the referencing object is restored without
// it.
//
// Conventions a caller gets wrong:
// - Store of an object filed in another database gives it a new identifier here; the other
//   database keeps its record.
// - Re-storing moves the record to a new block; the identifier stays.
// - Objects keep a non-owning pointer to their database; the database does not track them.
// - Process-wide and unguarded (database work is single-threaded by contract): the current
//   default database, set by Store and RetrieveAndCreate so that the objects a stored object
//   references go to the same file.
// - File exceptions (CFileException, by value) pass through to the caller; ERObject::Save/Delete
//   and ERDataBase catch them. Open throws sharingViolation when the file's locks are not given
//   within the lock timeout (another writer, or a writer committing or recovering).
// - An ERObjectDataBase closed and opened on another file still stamps its objects as its own:
//   give an object of the first file identifier -1 (a copy) before storing it in the second.
// - Memory: an open database keeps its identifiers' record offsets in a table of 4 bytes an
//   identifier, read with the trees (at Open and after a rollback) and kept by every change; a
//   walk of a large tree per lookup misses the processor caches at every level. Identifiers
//   sparser than one in two, and a tree whose keys a walk would not find in order, keep the walks.
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
#include <vector>

#include "qorv/foundation/huge_pages.h"
#include "qorv/foundation/object.h"
#include "qorv/persistence/file_manager.h"

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

  using Synchronous = ERFileManagerSynchronous;
  // When the file is synced at commit (see file_manager.h); full by default. Applies at once and
  // to later openings.
  void setSynchronous(Synchronous s);
  // 1 when a transaction begins; 0 when closed, read-only or already in one.
  int begin();
  // 1 when the transaction is in the file; 0 when none was open. A file that cannot be brought up
  // to date throws CFileException, the transaction rolled back.
  int commit();
  // 1 when a transaction was dropped, 0 when none was open.
  int rollback();
  bool inTransaction() const;
  // Whether the last Open made a new database (a missing or empty file).
  bool created() const { return created_; }
  // Why the last Open returned 0 on an existing file: the file failed its checks (or is of a
  // newer version), or a journal left beside it by a writer that died cannot be trusted or read
  // (both files are then left as they are: ERFileManager::recoverJournal).
  enum class Refusal { none, damaged, journalDamaged, journalUnreadable };
  Refusal refusal() const { return refusal_; }
  // Open read-only on a file whose creation was cut short before its first commit: a database
  // with no class and no object (a writer makes it).
  bool empty() const { return isOpen() && !objectTree_; }

  // Every problem found in the open database, one line each, empty when sound: the block heap
  // (header, free-list ring and extents), both trees (node blocks, counts, fill, depth, key
  // order, entry counts), the counters against the trees, every record (block, signature, the
  // object restored whole within its block), and no byte of the used space in two places.
  std::vector<std::string> check();
  // The same for a file, opened read-only (also when Open would refuse it: the reasons come
  // first); "cannot be opened: ..." when it is not a database at all (or its journal is refused),
  // kLocked alone when its locks were not given (a writer committing or recovering).
  static std::vector<std::string> check(const char* fileName);
  static constexpr const char* kLocked = "locked: another process is writing it";

  // Whether the object tree has a record under id.
  bool holds(long id);
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
  struct Scope;
  friend struct Scope;
  // Offset and block end of the record of id; false when absent or not sound.
  bool record(long id, long& offset, long& end, bool& damaged);
  // The object tree's value for id, -1 when absent: from the table of its entries when there is
  // one (a walk of a large tree misses the processor caches at every level), else by a walk.
  long recordOffset(long id);
  // A changed entry of the object tree (-1: removed), so that the table stays its copy.
  void noteRecord(long id, long offset);
  // The table read from the whole tree (as the trees are loaded), or none.
  void readRecords();
  void forgetRecords();
  bool openExisting(const char* fileName, int readOnly, std::vector<std::string>* report);
  void createNew(const char* fileName);
  void initNew();
  bool loadState(std::vector<std::string>* report);
  void counterProblems(std::vector<std::string>& problems);
  std::vector<std::string> checkImpl(bool restoreAll);
  void writeCounters();
  void commitChanges();
  void rollbackChanges();
  void teardown();
  long storeObject(ERObject& object);

  std::unique_ptr<ERFileManager> fileManager_;
  std::unique_ptr<ERBTreeOnDisk> classTree_;
  std::unique_ptr<ERBTreeOnDisk> objectTree_;
  long classTreeBase_ = 0;
  long objectTreeBase_ = 0;
  long lastId_ = 0;
  long objectCount_ = 0;
  std::uint32_t lastSignature_ = 0;
  std::unordered_map<std::string, std::uint32_t> signatures_;
  const std::pair<const std::string, std::uint32_t>* lastClass_ = nullptr;  // in signatures_
  std::unordered_map<std::uint32_t, ERClassRegistration::Creator> factories_;
  std::unordered_map<std::uint32_t, std::string> classNames_;
  int restoreDepth_ = 0;
  // The object tree's entries by identifier (-1: none); empty: none kept, lookups walk the tree.
  using RecordTable = std::vector<std::int32_t, qorv::detail::HugeAllocator<std::int32_t>>;
  RecordTable records_;
  // The counters as the file holds them.
  long committedLastId_ = 0;
  long committedCount_ = 0;
  std::uint32_t committedSignature_ = 0;
  int explicit_ = 0;  // an explicit transaction is open
  int depth_ = 0;     // nesting of Store calls (referenced objects)
  bool created_ = false;
  Refusal refusal_ = Refusal::none;
  bool refusedStore_ = false;   // the failing Store undid itself
  bool nestedFailure_ = false;  // a referenced object could not be stored
  ERFileManagerSynchronous sync_ = ERFileManagerSynchronous::full;
};
