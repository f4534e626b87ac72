#include "qorv/persistence/database.h"

#include <cstdio>

#include "qorv/persistence/btree.h"
#include "qorv/persistence/file_manager.h"

using namespace qorv::platform;

QORV_DEFINE_ABSTRACT_CLASS(ERAuxilaryIndex);
QORV_DEFINE_COPYABLE(ERAuxilaryIndex);
std::uint32_t ERAuxilaryIndex::binaryStoreSize() const { return ERObject::binaryStoreSize() + 4; }

namespace {

constexpr unsigned kCache = 10;
constexpr unsigned kIndexOrder = 10;
constexpr unsigned kIndexMinimumFill = 10;

using Key = ERIdentifierKey;

}  // namespace

ERAuxilaryIndex::ERAuxilaryIndex() = default;

ERAuxilaryIndex::ERAuxilaryIndex(ERFileManager& fileManager)
    : tree_(std::make_unique<ERBTreeOnDisk>(&fileManager, kCache, 1, 4, 1, -1L, kIndexOrder,
                                            kIndexMinimumFill)),
      base_(tree_->baseLocation()) {}

// A copy names the same tree but does not open it.
ERAuxilaryIndex::ERAuxilaryIndex(const ERAuxilaryIndex& other)
    : ERObject(other), base_(other.base_) {}

ERAuxilaryIndex::~ERAuxilaryIndex() = default;

int ERAuxilaryIndex::init(ERFileManager& fileManager) {
  if (base_ < ERFileManager::kFirstBlock + 4 || base_ + 40 > fileManager.endData()) return 0;
  tree_ = std::make_unique<ERBTreeOnDisk>(&fileManager, kCache, 0, 4, 1, base_, kIndexOrder,
                                          kIndexMinimumFill);
  // The tree takes its key length and mode from the file: anything but 4 raw bytes is not ours,
  // and keys of another length would be read past our 4-byte ones.
  if (tree_->isRefused() || tree_->keyLength() != 4 || !tree_->ignoreNulls()) {
    tree_.reset();
    return 0;
  }
  return 1;
}

int ERAuxilaryIndex::Find(long key, long& value) const {
  if (!tree_) return 0;
  const Key k(key);
  const long v = tree_->findValue(k.bytes);
  if (v == -1 && !tree_->contains(k.bytes)) return 0;
  value = v;
  return 1;
}

int ERAuxilaryIndex::Insert(long key, long value) {
  if (!tree_) return 0;
  const Key k(key);
  return tree_->insertKeyAndValue(k.bytes, value);
}

void ERAuxilaryIndex::flush() {
  if (tree_) tree_->flushInfo();
}

long ERAuxilaryIndex::entries() const { return tree_ ? static_cast<long>(tree_->entries()) : 0; }

void ERAuxilaryIndex::printOn(std::ostream& out) const {
  out << "ERAuxilaryIndex base=" << base_ << " entries=" << entries() << "\n";
}

void ERAuxilaryIndex::saveGuts(ERFile& file) const {
  ERObject::saveGuts(file);
  file.Write(base_);
}

void ERAuxilaryIndex::restoreGuts(ERFile& file) {
  ERObject::restoreGuts(file);
  long base = -1;
  if (file.Read(base)) base_ = base;
}

ERDataBase::ERDataBase() : db_(new ERObjectDataBase) {}

ERDataBase::~ERDataBase() {
  index_.reset();
  try {
    if (db_->isOpen()) db_->Close();
  } catch (CFileException& e) {
  }
}

gmErrorCode ERDataBase::exception_to_error_code(const CFileException& e) {
  const int cause = e.m_cause;
  return (cause >= 1 && cause <= 14) ? static_cast<gmErrorCode>(cause) : gmGenericFileError;
}

gmErrorCode ERDataBase::Open(const char* fileName, int readOnly) {
  const bool existed = fileName != nullptr && ERFile::Exists(fileName);
  try {
    index_.reset();
    entities_ = 0;
    if (existed || !readOnly) {
      if (!db_->Open(fileName, readOnly)) {
        if (!existed) return gmAccessDenied;
        const auto why = db_->refusal();
        return why == ERObjectDataBase::Refusal::journalDamaged ||
                       why == ERObjectDataBase::Refusal::journalUnreadable
                   ? gmJournalRefused
                   : gmDataBaseRefused;
      }
    } else {
      return gmAccessDenied;
    }
    if (db_->empty()) return gmSuccess;
    if (!db_->created()) {
      auto index = std::make_unique<ERAuxilaryIndex>();
      if (!db_->Retrieve(1, *index) || !index->init(*db_->fileManager())) {
        db_->Close();
        return gmDataBaseRefused;
      }
      index_ = std::move(index);
      entities_ = static_cast<int>(index_->entries());
      return gmSuccess;
    }
    // A new database: the index is object 1, made in the same transaction as its tree.
    try {
      db_->begin();
      index_ = std::make_unique<ERAuxilaryIndex>(*db_->fileManager());
      db_->Store(*index_);
      db_->commit();
    } catch (CFileException&) {
      index_.reset();
      db_->rollback();
      db_->Close();
      if (!existed) std::remove(fileName);
      throw;
    }
    return gmSuccess;
  } catch (CFileException& e) {
    index_.reset();
    return exception_to_error_code(e);
  }
}

gmErrorCode ERDataBase::Close() {
  try {
    if (index_ && db_->isOpen() && !db_->fileManager()->isReadOnly()) {
      db_->begin();
      index_->flush();
      db_->commit();
    }
    index_.reset();
    entities_ = 0;
    db_->Close();
    return gmSuccess;
  } catch (CFileException& e) {
    index_.reset();
    entities_ = 0;
    try {
      db_->Close();
    } catch (CFileException& again) {
    }
    return exception_to_error_code(e);
  }
}

gmErrorCode ERDataBase::save(const t_SmartPtr<ERObject>& object) {
  if (!object || !index_) return gmGenericFileError;
  ERObjectDataBase& db = *db_;
  const bool own = db.begin() != 0;
  try {
    const long id = db.Store(*object);
    if (!index_->Insert(entities_, id)) {
      // Unnumbered, the object could never be restored through this facade: it goes again.
      db.Delete(id);
      if (own) db.commit();
      return gmDataBaseRefused;
    }
    index_->flush();
    if (own) db.commit();
    ++entities_;
    return gmSuccess;
  } catch (CFileException& e) {
    if (own) db.rollback();
    // A rollback read the file again: so does the index.
    if (db.isOpen()) {
      index_->init(*db.fileManager());
      entities_ = static_cast<int>(index_->entries());
    }
    return exception_to_error_code(e);
  }
}

t_SmartPtr<ERObject> ERDataBase::restore(long entity, gmErrorCode& code) {
  code = gmSuccess;
  if (!index_) return {};
  try {
    long id = -1;
    if (!index_->Find(entity, id)) return {};
    return db_->RetrieveAndCreate(id);
  } catch (CFileException& e) {
    code = exception_to_error_code(e);
    return {};
  }
}
