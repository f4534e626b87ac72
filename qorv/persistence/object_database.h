// qorv/persistence/object_database.h
//
// The object database: stores ERObject instances in one container file under 32-bit
// identifiers and re-creates them from the identifier alone. This header is the interface the
// object root saves, deletes and restores through; the stored layout and its implementation
// come with the disk B-tree.
//
// Process-wide state, unguarded by contract (database work is single-threaded): the current
// default database, set by Store and RetrieveAndCreate to the database at work so that objects
// referenced by a stored object go to the same database.
#pragma once

#include <ostream>

#include "qorv/foundation/object.h"

class QORV_API ERObjectDataBase : public ERReference {
 public:
  static constexpr int kCurrentVersion = 1001;

  ERObjectDataBase();
  virtual ~ERObjectDataBase();
  ERObjectDataBase(const ERObjectDataBase&) = delete;
  ERObjectDataBase& operator=(const ERObjectDataBase&) = delete;

  virtual int Open(const char* fileName, int readOnly);
  virtual void Close();
  virtual long Store(ERObject& object);
  virtual int Retrieve(long id, ERObject& object);
  virtual t_SmartPtr<ERObject> RetrieveAndCreate(long id);
  virtual int Delete(long id);
  virtual void summarize(std::ostream& out);
  virtual int get_db_version() const { return version_; }
  virtual int get_db_current_version() const { return kCurrentVersion; }

  static ERObjectDataBase* current();
  static void setCurrent(ERObjectDataBase* db);

 protected:
  // What Store and RetrieveAndCreate record in the object they file.
  static void attach(ERObject& object, long id, ERObjectDataBase* db) {
    object.objectId_ = id;
    object.database_ = db;
  }

  int version_ = kCurrentVersion;
};
