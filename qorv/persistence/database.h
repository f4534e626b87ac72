// qorv/persistence/database.h
//
// ERDataBase: a thin facade over one ERObjectDataBase that numbers the objects it saves
// 0, 1, 2, ... (entity numbers) and reports failures as gmErrorCode values instead of
// exceptions. The numbering lives in an auxiliary index, ERAuxilaryIndex, itself object 1 of the
// file: a tree from entity number to object identifier.
//
// Conventions a caller gets wrong:
// - Entity numbers are not object identifiers: on a new file the auxiliary index is object 1, so
//   the first saved entity is entity 0 with identifier 2.
// - Codes 1 to 14 are the causes of the file exception passed through; 15 means the object
//   database refused the file (another kind of file, a newer version, a damaged header), or, from
//   save, that the object could not be numbered (it is then not stored either). 16: a journal
//   left beside the file by a writer that died cannot be trusted or read; nothing was changed
//   (ERFileManager::recoverJournal, or qorv db recover).
// - Read-only on a file whose creation was cut short before its first commit: success, no entity.
// - save stores the object and its number in one transaction (or inside the caller's, opened on
//   objectDataBase()); a failure leaves neither.
#pragma once

#include <memory>
#include <ostream>

#include "qorv/foundation/object.h"
#include "qorv/persistence/object_database.h"
#include "qorv/platform/file.h"

class ERBTreeOnDisk;
class ERFileManager;

enum gmErrorCode {
  gmSuccess = 0,
  gmGenericFileError = 1,
  gmFileNotFound = 2,
  gmBadPath = 3,
  gmTooManyOpenFiles = 4,
  gmAccessDenied = 5,
  gmInvalidFile = 6,
  gmRemoveCurrentDir = 7,
  gmDirectoryFull = 8,
  gmBadSeek = 9,
  gmHardIO = 10,
  gmSharingViolation = 11,
  gmLockViolation = 12,
  gmDiskFull = 13,
  gmEndOfFile = 14,
  gmDataBaseRefused = 15,
  gmJournalRefused = 16,
};

// Entity number -> object identifier, kept in a tree of 4-byte raw keys (cache 10, order 10,
// minimum 10). Stored image after the ERObject part: the tree's base location (4 bytes).
class QORV_API ERAuxilaryIndex : public ERObject {
 public:
  QORV_DECLARE_CLASS(ERAuxilaryIndex, ERObject);

  ERAuxilaryIndex();
  // A new, empty tree in that file.
  explicit ERAuxilaryIndex(ERFileManager& fileManager);
  ERAuxilaryIndex(const ERAuxilaryIndex& other);
  ~ERAuxilaryIndex() override;

  // Opens the tree at the restored base location; 0 when no tree is there.
  int init(ERFileManager& fileManager);
  int Find(long key, long& value) const;
  int Insert(long key, long value);
  long entries() const;
  // Writes the tree's entry count now (it is committed with the entries).
  void flush();
  long baseLocation() const { return base_; }

  QORV_DECLARE_STORED(ERAuxilaryIndex);

 private:
  std::unique_ptr<ERBTreeOnDisk> tree_;
  long base_ = -1;
};

class QORV_API ERDataBase {
 public:
  ERDataBase();
  virtual ~ERDataBase();
  ERDataBase(const ERDataBase&) = delete;
  ERDataBase& operator=(const ERDataBase&) = delete;

  virtual void printOn(std::ostream&) const {}
  virtual int get_db_version() const { return db_->get_db_version(); }
  virtual int get_db_current_version() const { return db_->get_db_current_version(); }

  gmErrorCode Open(const char* fileName, int readOnly);
  gmErrorCode Close();
  gmErrorCode save(const t_SmartPtr<ERObject>& object);
  t_SmartPtr<ERObject> restore(long entity, gmErrorCode& code);
  int getNbEnt() const { return entities_; }
  ERObjectDataBase& objectDataBase() { return *db_; }

  // The cause of a file exception as an error code (1 to 14, else 1).
  static gmErrorCode exception_to_error_code(const ::qorv::platform::CFileException& e);

 private:
  t_SmartPtr<ERObjectDataBase> db_;
  std::unique_ptr<ERAuxilaryIndex> index_;
  int entities_ = 0;
};
