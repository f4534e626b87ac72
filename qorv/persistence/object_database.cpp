#include "qorv/persistence/object_database.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <new>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "qorv/foundation/assert.h"
#include "qorv/persistence/btree.h"
#include "qorv/persistence/database.h"
#include "qorv/persistence/file_manager.h"
#include "qorv/platform/file.h"

using namespace qorv::platform;

namespace {

ERObjectDataBase* g_currentDataBase = nullptr;

constexpr int kHeaderSize = 24;
constexpr unsigned kClassKeyLength = 60;
constexpr unsigned kObjectKeyLength = 4;
constexpr unsigned kOrder = 10;
constexpr unsigned kMinimumFill = 10;
constexpr unsigned kClassCache = 10;
// Node images of the object tree kept in memory (about 300 bytes each): the whole tree of a few
// million objects, so that a look-up costs the same at 10^6 objects as at 10^5.
constexpr unsigned kObjectCache = 1u << 18;
constexpr int kCreate = 1;
constexpr int kOpen = 0;
// Deeper than any real chain of references: a stored cycle ends here instead of in a crash.
constexpr int kMaxRestoreDepth = 256;
constexpr long kMaxId = INT32_MAX;
// A record's block must stay within the 2 GiB reach of 32-bit offsets.
constexpr std::uint32_t kMaxRecord = INT32_MAX - 16;

using ObjectKey = ERIdentifierKey;

long keyToId(const char* key) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(key[i])) << (8 * i);
  return static_cast<std::int32_t>(v);
}

// A class-name key: at most 60 bytes, zero-padded, not terminated when exactly 60 long.
std::string keyToName(const char* key) {
  std::size_t n = 0;
  while (n < kClassKeyLength && key[n] != '\0') ++n;
  return std::string(key, n);
}

// Whether a tree info block with the database's parameters lies at base: 40 bytes in the used
// space, magic 1365, the key length and key mode expected.
bool treeInfoAt(ERFileManager& fm, long base, std::uint32_t keyLength, std::uint32_t rawKeys) {
  if (base < ERFileManager::kFirstBlock + 4 || base + 40 > fm.endData()) return false;
  const long position = fm.CurOffset();
  std::uint32_t info[10];
  fm.SeekTo(base);
  const bool read = fm.Read(info, 10) != 0;
  fm.SeekTo(position);
  return read && info[2] == 1365 && info[4] == keyLength && info[5] >= 1 && info[5] <= 1024 &&
         (info[9] & 1) == rawKeys;
}

}  // namespace

ERObjectDataBase* ERObjectDataBase::current() { return g_currentDataBase; }
void ERObjectDataBase::setCurrent(ERObjectDataBase* db) { g_currentDataBase = db; }

ERObjectDataBase::ERObjectDataBase() = default;

ERObjectDataBase::~ERObjectDataBase() {
  if (isOpen()) {
    try {
      Close();
    } catch (CFileException& e) {
    }
  }
  if (g_currentDataBase == this) g_currentDataBase = nullptr;
}

void ERObjectDataBase::setSynchronous(Synchronous s) {
  sync_ = s;
  if (fileManager_) fileManager_->setSynchronous(s);
}

int ERObjectDataBase::Open(const char* fileName, int readOnly) {
  if (isOpen()) Close();
  created_ = false;
  refusal_ = Refusal::none;
  if (fileName == nullptr || *fileName == '\0') return 0;
  try {
    CFileStatus status;
    if (CFile::GetStatus(fileName, status)) {
      // An empty file (with no journal to put back) is a database not yet made.
      const std::string journal = std::string(fileName) + "-journal";
      if (status.m_size == 0 && !ERFile::Exists(journal.c_str())) {
        if (readOnly) return 0;
        createNew(fileName);
        return 1;
      }
      if (openExisting(fileName, readOnly, nullptr)) return 1;
      refusal_ = Refusal::damaged;
      return 0;
    }
    if (readOnly) return 0;
    createNew(fileName);
    return 1;
  } catch (ERJournalRefused& e) {
    refusal_ = e.kind() == ERJournalRecovery::unreadable ? Refusal::journalUnreadable
                                                         : Refusal::journalDamaged;
    return 0;
  }
}

void ERObjectDataBase::forgetRecords() {
  records_.clear();
  records_.shrink_to_fit();
}

void ERObjectDataBase::readRecords() {
  forgetRecords();
  const long entries = objectTree_->entries();
  // Identifiers dense enough for a table by index, and a count the file can hold (a damaged
  // header or info block may claim any).
  if (lastId_ > 2 * entries + 4096 || lastId_ > fileManager_->endData() / 8 + 4096) return;
  struct Read {
    RecordTable table;
    long n = 0;
    unsigned char last[4] = {};
    bool ordered = true;
  } r;
  try {
    r.table.assign(static_cast<std::size_t>(lastId_) + 1, -1);
  } catch (const std::bad_alloc&) {
    return;
  }
  // The walks' answers only: keys in the tree's order (a misplaced key is found by no walk),
  // within the identifiers handed out, every one the info block counts.
  const int sound = objectTree_->applyToKeyAndValue(
      [](char* key, long value, void* data) {
        auto& r = *static_cast<Read*>(data);
        const long id = keyToId(key);
        if (r.n++ > 0 && std::memcmp(r.last, key, 4) >= 0) r.ordered = false;
        std::memcpy(r.last, key, 4);
        if (id < 1 || id >= static_cast<long>(r.table.size()))
          r.ordered = false;
        else
          r.table[static_cast<std::size_t>(id)] = static_cast<std::int32_t>(value);
      },
      &r, 1);
  if (sound && r.ordered && r.n == entries) records_ = std::move(r.table);
}

void ERObjectDataBase::teardown() {
  // Nothing of a refused or abandoned state reaches the file: whatever the trees still write
  // goes into a transaction that is dropped.
  if (fileManager_ && !fileManager_->isReadOnly() && !fileManager_->inTransaction())
    fileManager_->beginTransaction();
  classTree_.reset();
  objectTree_.reset();
  forgetRecords();
  if (fileManager_) fileManager_->rollbackTransaction();
  fileManager_.reset();
  signatures_.clear();
  lastClass_ = nullptr;
  factories_.clear();
  classNames_.clear();
  lastId_ = objectCount_ = 0;
  lastSignature_ = 0;
  committedLastId_ = committedCount_ = 0;
  committedSignature_ = 0;
  explicit_ = 0;
  depth_ = 0;
  restoreDepth_ = 0;
  version_ = kCurrentVersion;
  if (g_currentDataBase == this) g_currentDataBase = nullptr;
}

bool ERObjectDataBase::loadState(std::vector<std::string>* report) {
  ERFileManager& fm = *fileManager_;
  classTree_.reset();
  objectTree_.reset();
  forgetRecords();
  signatures_.clear();
  lastClass_ = nullptr;
  factories_.clear();
  classNames_.clear();
  auto bad = [&](const std::string& why) {
    if (report) report->push_back(why);
    return false;
  };
  if (fm.listManager() == nullptr) return bad("block heap: the header is not a block heap's");
  const std::uint64_t length = fm.GetLength();
  const long endData = fm.endData();
  // The last block's padding to 4 bytes is never written: the file may end up to 3 bytes short
  // of endData.
  if (endData < ERFileManager::kFirstBlock || endData % 4 != 0 ||
      static_cast<std::uint64_t>(endData) > length + 3)
    return bad("block heap: end of used space " + std::to_string(endData) + " outside the file (" +
               std::to_string(length) + " bytes)");
  const long start = fm.start();
  if (start < ERFileManager::kFirstBlock + 4 || start % 4 != 0 || start + kHeaderSize > endData)
    return bad("database header: start block " + std::to_string(start) + " outside the used space");
  std::uint32_t blockSize = 0;
  if (fm.ReadAt(static_cast<std::uint64_t>(start - 4), &blockSize, 4) != 4 ||
      blockSize < kHeaderSize + 4 || blockSize % 4 != 0 || start - 4 + blockSize > endData)
    return bad("database header: the start block's size word " + std::to_string(blockSize) +
               " is not a header block's");
  std::int32_t header[6];
  if (fm.ReadAt(static_cast<std::uint64_t>(start), header, kHeaderSize) != kHeaderSize)
    return bad("database header: cannot be read");
  const auto version = static_cast<std::uint32_t>(header[0]);
  if (version > static_cast<std::uint32_t>(kCurrentVersion))
    return bad("database header: version " + std::to_string(version) + " is newer than " +
               std::to_string(kCurrentVersion));
  if (header[3] < 0 || header[4] < 0)
    return bad("database header: negative counters (last identifier " + std::to_string(header[3]) +
               ", objects " + std::to_string(header[4]) + ")");
  version_ = static_cast<int>(version);
  classTreeBase_ = header[1];
  objectTreeBase_ = header[2];
  lastId_ = committedLastId_ = header[3];
  objectCount_ = committedCount_ = header[4];
  lastSignature_ = committedSignature_ = static_cast<std::uint32_t>(header[5]);
  // A tree location that is not a tree is a damaged file, never an empty database.
  if (!treeInfoAt(fm, classTreeBase_, kClassKeyLength, 0))
    return bad("class tree: no tree info block at " + std::to_string(classTreeBase_));
  if (!treeInfoAt(fm, objectTreeBase_, kObjectKeyLength, 1))
    return bad("object tree: no tree info block at " + std::to_string(objectTreeBase_));
  classTree_ = std::make_unique<ERBTreeOnDisk>(&fm, kClassCache, kOpen, kClassKeyLength, 0,
                                               classTreeBase_, kOrder, kMinimumFill);
  objectTree_ = std::make_unique<ERBTreeOnDisk>(&fm, kObjectCache, kOpen, kObjectKeyLength, 1,
                                                objectTreeBase_, kOrder, kMinimumFill);
  if (classTree_->isRefused()) return bad("class tree: its info block or root is not sound");
  if (objectTree_->isRefused()) return bad("object tree: its info block or root is not sound");

  // ERdiskMetaTreeExtractMap: every known class, name -> signature -> factory.
  const int sound = classTree_->applyToKeyAndValue(
      [](char* key, long value, void* data) {
        auto* db = static_cast<ERObjectDataBase*>(data);
        const std::string name = keyToName(key);
        const auto signature = static_cast<std::uint32_t>(value);
        db->signatures_[name] = signature;
        db->classNames_[signature] = name;
        db->factories_[signature] = ERClassRegistration::findCreator(name.c_str());
      },
      this, 1);
  if (!sound) return bad("class tree: a node cannot be read or is not sound");
  readRecords();
  return true;
}

void ERObjectDataBase::counterProblems(std::vector<std::string>& problems) {
  struct Walk {
    long n = 0, maxId = 0, outside = 0, firstOutside = 0;
  } w;
  const int sound = objectTree_->applyToKeyAndValue(
      [](char* key, long, void* data) {
        auto& w = *static_cast<Walk*>(data);
        const long id = keyToId(key);
        ++w.n;
        if (id < 1) {
          if (w.outside++ == 0) w.firstOutside = id;
        }
        w.maxId = std::max(w.maxId, id);
      },
      &w, 1);
  if (!sound) problems.push_back("object tree: a node cannot be read or is not sound");
  if (w.outside > 0)
    problems.push_back("object tree: " + std::to_string(w.outside) +
                       " identifiers outside 1..2147483647 (first " +
                       std::to_string(w.firstOutside) + ")");
  if (w.maxId > lastId_)
    problems.push_back("database header: last identifier " + std::to_string(lastId_) +
                       " is below stored identifier " + std::to_string(w.maxId));
  if (w.n != objectTree_->entries())
    problems.push_back("object tree: its info block counts " +
                       std::to_string(objectTree_->entries()) + " entries, the tree holds " +
                       std::to_string(w.n));
  if (objectCount_ < w.n)
    problems.push_back("database header: object count " + std::to_string(objectCount_) +
                       " is below the " + std::to_string(w.n) + " objects stored");
  if (objectCount_ > lastId_)
    problems.push_back("database header: object count " + std::to_string(objectCount_) +
                       " is above the last identifier " + std::to_string(lastId_));
  std::uint32_t maxSignature = 0;
  for (const auto& [signature, name] : classNames_)
    maxSignature = std::max(maxSignature, signature);
  if (maxSignature > lastSignature_)
    problems.push_back("database header: last signature " + std::to_string(lastSignature_) +
                       " is below stored signature " + std::to_string(maxSignature));
  long classes = 0;
  classTree_->applyToKeyAndValue([](char*, long, void* n) { ++*static_cast<long*>(n); }, &classes,
                                 1);
  if (classNames_.size() != static_cast<std::size_t>(classes))
    problems.push_back("class tree: " + std::to_string(classes) + " classes share " +
                       std::to_string(classNames_.size()) + " signatures");
  if (classes != classTree_->entries())
    problems.push_back("class tree: its info block counts " +
                       std::to_string(classTree_->entries()) + " entries, the tree holds " +
                       std::to_string(classes));
}

bool ERObjectDataBase::openExisting(const char* fileName, int readOnly,
                                    std::vector<std::string>* report) {
  fileManager_ = std::make_unique<ERFileManager>(fileName, readOnly);
  ERFileManager& fm = *fileManager_;
  fm.setSynchronous(sync_);
  // A heap in which nothing was ever allocated (a creation cut short) is a database not yet made:
  // empty to a reader, made by a writer.
  if (fm.listManager() != nullptr && fm.start() == -1 &&
      fm.endData() == ERFileManager::kFirstBlock &&
      fm.GetLength() == static_cast<std::uint64_t>(ERFileManager::kFirstBlock)) {
    if (readOnly) {
      version_ = kCurrentVersion;
      return true;
    }
    try {
      initNew();
    } catch (CFileException&) {
      teardown();
      throw;
    }
    created_ = true;
    return true;
  }
  // Nothing reaches the file before every check has passed.
  fm.beginTransaction();
  bool ok = loadState(report);
  if (ok) {
    // The whole heap is checked first, by readers too: a free extent over a live block would
    // have the next Store overwrite an object, a record offset into a tree node or a free extent
    // would give a reader a wrong object. (A report is for check(), which checks it all anyway.)
    if (!report && !checkImpl(false).empty()) ok = false;
  }
  if (!ok) {
    teardown();
    return false;
  }
  fm.rollbackTransaction();
  return true;
}

void ERObjectDataBase::initNew() {
  ERFileManager& fm = *fileManager_;
  fm.beginTransaction();
  const long header = fm.allocate(kHeaderSize);
  if (header < 0) AfxThrowFileException(CFileException::invalidFile, -1, fm.GetFilePath());
  classTree_ = std::make_unique<ERBTreeOnDisk>(&fm, kClassCache, kCreate, kClassKeyLength, 0, -1L,
                                               kOrder, kMinimumFill);
  objectTree_ = std::make_unique<ERBTreeOnDisk>(&fm, kObjectCache, kCreate, kObjectKeyLength, 1,
                                                -1L, kOrder, kMinimumFill);
  classTreeBase_ = classTree_->baseLocation();
  objectTreeBase_ = objectTree_->baseLocation();
  version_ = kCurrentVersion;
  lastId_ = objectCount_ = committedLastId_ = committedCount_ = 0;
  lastSignature_ = committedSignature_ = 0;
  readRecords();
  const std::int32_t image[6] = {kCurrentVersion,
                                 static_cast<std::int32_t>(classTreeBase_),
                                 static_cast<std::int32_t>(objectTreeBase_),
                                 0,
                                 0,
                                 0};
  fm.WriteAt(static_cast<std::uint64_t>(header), image, kHeaderSize);
  commitChanges();
}

void ERObjectDataBase::createNew(const char* fileName) {
  const bool existed = ERFile::Exists(fileName) != 0;
  try {
    fileManager_ = std::make_unique<ERFileManager>(fileName, 0);
    fileManager_->setSynchronous(sync_);
    initNew();
    created_ = true;
  } catch (CFileException&) {
    teardown();
    // No half-made database is left: a new file goes, an empty one is emptied again.
    if (!existed) {
      std::remove(fileName);
    } else {
      CFile f;
      if (f.Open(fileName, CFile::modeReadWrite | CFile::shareExclusive | CFile::typeBinary)) {
        try {
          f.SetLength(0);
        } catch (CFileException& e) {
        }
        f.Abort();
      }
    }
    throw;
  }
}

void ERObjectDataBase::writeCounters() {
  if (lastId_ == committedLastId_ && objectCount_ == committedCount_ &&
      lastSignature_ == committedSignature_)
    return;
  const std::int32_t words[3] = {static_cast<std::int32_t>(lastId_),
                                 static_cast<std::int32_t>(objectCount_),
                                 static_cast<std::int32_t>(lastSignature_)};
  fileManager_->WriteAt(static_cast<std::uint64_t>(fileManager_->start() + 12), words, 12);
}

void ERObjectDataBase::commitChanges() {
  ERFileManager& fm = *fileManager_;
  try {
    writeCounters();
    if (classTree_) classTree_->flushInfo();
    if (objectTree_) objectTree_->flushInfo();
    fm.commitTransaction();
  } catch (CFileException&) {
    rollbackChanges();
    throw;
  }
  committedLastId_ = lastId_;
  committedCount_ = objectCount_;
  committedSignature_ = lastSignature_;
}

void ERObjectDataBase::rollbackChanges() {
  explicit_ = 0;
  if (!fileManager_) return;
  ERFileManager& fm = *fileManager_;
  // The trees and the list manager hold images of what was dropped: read everything again. The
  // trees' counts must not reach the file on their way out.
  for (auto* tree : {classTree_.get(), objectTree_.get()})
    if (tree) tree->discardInfo();
  fm.rollbackTransaction();
  classTree_.reset();
  objectTree_.reset();
  fm.reload();
  // The identifiers handed out stay spent: objects of the dropped transaction still carry them,
  // and a store of another object must never be given one.
  const long reserved = lastId_;
  loadState(nullptr);
  lastId_ = std::max(lastId_, reserved);
}

int ERObjectDataBase::begin() {
  if (!isOpen() || fileManager_->isReadOnly() || explicit_) return 0;
  fileManager_->beginTransaction();
  explicit_ = 1;
  return 1;
}

int ERObjectDataBase::commit() {
  qorv::detail::completePendingStore();  // an object of new (db) T is complete by now
  if (!isOpen() || !explicit_) return 0;
  explicit_ = 0;
  commitChanges();
  return 1;
}

int ERObjectDataBase::rollback() {
  if (!isOpen() || !explicit_) return 0;
  rollbackChanges();
  return 1;
}

bool ERObjectDataBase::inTransaction() const { return explicit_ != 0; }

void ERObjectDataBase::Close() {
  qorv::detail::completePendingStore();  // an object of new (db) T is complete by now
  std::optional<CFileException> failure;
  if (fileManager_ && !fileManager_->isReadOnly() && classTree_ && objectTree_) {
    if (explicit_) rollbackChanges();  // a transaction left open is dropped, as by a crash
    // What is left to write is the counters, the reserved identifiers among them.
    if (classTree_ && objectTree_) {
      try {
        fileManager_->beginTransaction();
        commitChanges();
      } catch (CFileException& e) {
        failure = e;
      }
    }
  }
  teardown();
  if (failure) throw *failure;
}

std::uint32_t ERObjectDataBase::GetOrCreateSignature(const char* className) {
  // A batch stores one class after another: the last one is tried before a string is made.
  if (className != nullptr && lastClass_ != nullptr &&
      std::strncmp(className, lastClass_->first.c_str(), kClassKeyLength) == 0)
    return lastClass_->second;
  const std::string name = className ? std::string(className).substr(0, kClassKeyLength) : "";
  if (auto it = signatures_.find(name); it != signatures_.end()) {
    lastClass_ = &*it;
    return it->second;
  }

  char key[kClassKeyLength] = {};
  std::memcpy(key, name.data(), name.size());
  const long found = classTree_->findValue(key);
  std::uint32_t signature;
  if (found != -1) {
    signature = static_cast<std::uint32_t>(found);
  } else {
    if (lastSignature_ == UINT32_MAX) return 0;
    signature = lastSignature_ + 1;
    if (!classTree_->insertKeyAndValue(key, static_cast<long>(signature))) return 0;
    lastSignature_ = signature;
  }
  signatures_[name] = signature;
  classNames_[signature] = name;
  factories_[signature] = ERClassRegistration::findCreator(name.c_str());
  return signature;
}

long ERObjectDataBase::Store(ERObject& object) {
  if (!isOpen()) AfxThrowFileException(CFileException::invalidFile);
  ERFileManager& fm = *fileManager_;
  if (fm.isReadOnly())
    AfxThrowFileException(CFileException::accessDenied, EACCES, fm.GetFilePath());
  const bool outer = depth_ == 0;
  const bool own = outer && !explicit_;
  if (outer) refusedStore_ = false;
  if (own) fm.beginTransaction();
  ++depth_;
  long id;
  try {
    id = storeObject(object);
  } catch (CFileException&) {
    --depth_;
    // A refusal has undone itself; anything else leaves state that only a rollback clears.
    if (!outer) nestedFailure_ = true;
    if (outer && (own || !refusedStore_)) rollbackChanges();
    throw;
  }
  --depth_;
  if (own) commitChanges();
  return id;
}

long ERObjectDataBase::storeObject(ERObject& object) {
  ERFileManager& fm = *fileManager_;
  const long oldId = object.getObjectID();
  ERObjectDataBase* const oldDb = object.Database();
  const bool isNew = oldId == -1 || oldDb != this;
  bool counted = false;
  auto refuse = [&]() {
    attach(object, oldId, oldDb);
    if (counted) --objectCount_;
    refusedStore_ = true;
    AfxThrowFileException(CFileException::invalidFile, EINVAL, fm.GetFilePath());
  };
  if (!isNew && (oldId < 1 || oldId > kMaxId)) refuse();
  if (isNew && lastId_ >= kMaxId) refuse();
  const std::uint32_t signature = GetOrCreateSignature(object.className());
  if (signature == 0) refuse();
  const std::uint32_t size = object.binaryStoreSize();
  if (size > kMaxRecord) refuse();
  long id = oldId;
  if (isNew) {
    id = ++lastId_;  // spent even if refused below: identifiers are never given twice
    ++objectCount_;
    counted = true;
  }
  attach(object, id, this);
  setCurrent(this);

  const long position = fm.CurOffset();
  const ERFileManager::Window outerWindow = fm.window();
  const long block = fm.allocate(size + 4);
  if (block < 0) {
    fm.SeekTo(position);
    refuse();
  }
  const bool nestedBefore = nestedFailure_;
  nestedFailure_ = false;
  bool written = false;
  try {
    fm.SeekTo(block);
    // The record may fill its block and no more: a class that writes past what it announced
    // is stopped before the first byte beyond.
    fm.setWindow({block + 4 + static_cast<std::int64_t>(size), false});
    fm.Write(signature);
    object.saveGuts(fm);
    written = !nestedFailure_;
  } catch (CFileException& e) {
  }
  nestedFailure_ = nestedBefore;
  fm.setWindow(outerWindow);
  fm.SeekTo(position);
  if (!written) {
    fm.deallocate(block);
    refuse();
  }

  const ObjectKey key(id);
  if (isNew) {
    if (!objectTree_->insertKeyAndValue(key.bytes, block)) {
      fm.deallocate(block);
      refuse();
    }
    noteRecord(id, block);
  } else {
    long old = -1;
    if (objectTree_->replaceValue(key.bytes, block, old)) {
      noteRecord(id, block);
      fm.deallocate(old);  // only now that the new record is written
    } else {
      // An identifier that names no record (its transaction was rolled back, its commit failed,
      // or its record was deleted): a record of its own again, and the counters cover it.
      if (!objectTree_->insertKeyAndValue(key.bytes, block)) {
        fm.deallocate(block);
        refuse();
      }
      noteRecord(id, block);
      lastId_ = std::max(lastId_, id);
      objectCount_ = std::max<long>(std::min(objectCount_ + 1, lastId_), objectTree_->entries());
    }
  }
  return id;
}

bool ERObjectDataBase::holds(long id) {
  if (!isOpen() || !objectTree_ || id < 1 || id > kMaxId) return false;
  return recordOffset(id) != -1;
}

long ERObjectDataBase::recordOffset(long id) {
  if (!records_.empty())
    return static_cast<unsigned long>(id) < records_.size() ? records_[std::size_t(id)] : -1;
  const ObjectKey key(id);
  return objectTree_->findValue(key.bytes);
}

void ERObjectDataBase::noteRecord(long id, long offset) {
  if (records_.empty()) return;
  if (id >= static_cast<long>(records_.size())) {
    if (id > 2 * objectTree_->entries() + 4096) return forgetRecords();
    records_.resize(static_cast<std::size_t>(id) + 1, -1);
  }
  records_[static_cast<std::size_t>(id)] = static_cast<std::int32_t>(offset);
}

bool ERObjectDataBase::record(long id, long& offset, long& end, bool& damaged) {
  damaged = false;
  if (!isOpen() || !objectTree_ || id < 1 || id > kMaxId) return false;
  offset = recordOffset(id);
  if (offset == -1) return false;
  ERFileManager& fm = *fileManager_;
  std::uint32_t size = 0;
  // A record lies in a block of the used space, with room for its signature.
  damaged = offset < ERFileManager::kFirstBlock + 4 || offset % 4 != 0 ||
            offset + 4 > fm.endData() ||
            fm.ReadAt(static_cast<std::uint64_t>(offset - 4), &size, 4) != 4 || size < 8 ||
            size % 4 != 0 || offset - 4 + std::int64_t(size) > fm.endData();
  if (damaged) return false;
  end = offset - 4 + static_cast<long>(size);
  return true;
}

int ERObjectDataBase::Retrieve(long id, ERObject& object) {
  if (!isOpen()) return 0;
  ERFileManager& fm = *fileManager_;
  ERFileManager::Window outer = fm.window();
  auto damage = [&]() {
    if (outer.end >= 0) outer.failed = true;
    fm.setWindow(outer);
    return 0;
  };
  long offset = -1, end = -1;
  bool damaged = false;
  if (!record(id, offset, end, damaged)) return damaged ? damage() : 0;
  fm.setWindow({end, false});
  fm.SeekTo(offset);
  std::uint32_t signature;
  if (!fm.Read(signature)) return damage();
  attach(object, id, this);
  setCurrent(this);
  ++restoreDepth_;
  try {
    object.restoreGuts(fm);
  } catch (...) {
    --restoreDepth_;
    fm.setWindow(outer);
    throw;
  }
  --restoreDepth_;
  if (fm.window().failed) return damage();
  fm.setWindow(outer);
  return 1;
}

t_SmartPtr<ERObject> ERObjectDataBase::RetrieveAndCreate(long id) {
  if (!isOpen()) return {};
  ERFileManager& fm = *fileManager_;
  ERFileManager::Window outer = fm.window();
  // A damaged record also fails the object being restored around it, if any.
  auto damage = [&]() {
    if (outer.end >= 0) outer.failed = true;
    fm.setWindow(outer);
    return t_SmartPtr<ERObject>();
  };
  if (restoreDepth_ >= kMaxRestoreDepth) return damage();
  long offset = -1, end = -1;
  bool damaged = false;
  if (!record(id, offset, end, damaged)) return damaged ? damage() : t_SmartPtr<ERObject>();
  fm.setWindow({end, false});
  fm.SeekTo(offset);
  std::uint32_t signature;
  if (!fm.Read(signature)) return damage();
  auto factory = factories_.find(signature);
  if (factory == factories_.end() || factory->second == nullptr) return damage();

  t_SmartPtr<ERObject> object(factory->second());
  if (!object) return damage();
  attach(*object, id, this);
  setCurrent(this);
  ++restoreDepth_;
  try {
    object->restoreGuts(fm);
  } catch (...) {
    --restoreDepth_;
    fm.setWindow(outer);
    throw;
  }
  --restoreDepth_;
  if (fm.window().failed) return damage();
  fm.setWindow(outer);
  return object;
}

int ERObjectDataBase::Delete(long id) {
  if (!isOpen() || id < 1 || id > kMaxId || fileManager_->isReadOnly()) return 0;
  ERFileManager& fm = *fileManager_;
  const bool own = depth_ == 0 && !explicit_;
  if (own) fm.beginTransaction();
  try {
    const ObjectKey key(id);
    // What freeing the record reads is asked for now, to come in while the tree is walked.
    // Only from the identifier table: without it, finding the offset is the tree walk itself.
    if (!records_.empty() && static_cast<unsigned long>(id) < records_.size())
      fm.prefetchFree(records_[std::size_t(id)]);
    ERCString removed;
    const std::uint32_t entries = objectTree_->info().entries;
    const long offset = objectTree_->removeKeyAndValue(key.bytes, removed);
    if (objectTree_->info().entries == entries) {
      // Absent, or a tree that refused to change: nothing was written.
      if (own) fm.rollbackTransaction();
      return 0;
    }
    noteRecord(id, -1);
    fm.deallocate(offset);
    if (own) commitChanges();
    return 1;
  } catch (CFileException&) {
    rollbackChanges();
    throw;
  }
}

void ERObjectDataBase::forEachObjectImpl(void (*f)(long, long, void*), void* data) {
  if (!isOpen() || !objectTree_) return;
  struct Walk {
    void (*f)(long, long, void*);
    void* data;
  } walk{f, data};
  objectTree_->applyToKeyAndValue(
      [](char* key, long value, void* d) {
        auto* w = static_cast<Walk*>(d);
        w->f(keyToId(key), value, w->data);
      },
      &walk, 1);
}

std::uint32_t ERObjectDataBase::signatureAt(long offset) {
  if (!isOpen() || offset < 0 || offset + 4 > fileManager_->endData()) return 0;
  ERFileManager& fm = *fileManager_;
  const long position = fm.CurOffset();
  fm.SeekTo(offset);
  std::uint32_t signature = 0;
  if (!fm.Read(signature)) signature = 0;
  fm.SeekTo(position);
  return signature;
}

std::string ERObjectDataBase::classNameOf(std::uint32_t signature) const {
  auto it = classNames_.find(signature);
  return it == classNames_.end() ? std::string() : it->second;
}

void ERObjectDataBase::summarize(std::ostream& out) {
  if (!isOpen()) return;
  const char* const stars = "*************************************************************";
  const char* const rule = "--------------------------------------------";
  out << stars << std::endl;
  out << "  Base de Donn" << '\xE9' << "es :  " << fileManager_->GetFilePath() << std::endl;
  out << stars << std::endl;
  out << " File Manager : " << std::endl;
  out << rule << std::endl;
  out << "liste des classes presentes  : " << std::endl;
  if (classTree_)
    classTree_->applyToKeyAndValue(
        [](char* key, long value, void* data) {
          auto& o = *static_cast<std::ostream*>(data);
          o << " Signature " << std::setw(8) << value << " :  " << keyToName(key) << "\n";
        },
        &out, 1);
  out << rule << std::endl;
  out << "|       liste des objects                  |" << std::endl;
  out << rule << std::endl;
  out << "|ObjectID | Location | Signature             |" << std::endl;
  forEachObject([&](long id, long offset) {
    const std::uint32_t signature = offset < 0 ? 0 : signatureAt(offset);
    out << "| " << std::setw(8) << id << "| " << std::setw(8) << offset << " | " << std::setw(8)
        << signature << std::endl;
  });
}

// ---------------------------------------------------------------------------------------------
// Integrity check: everything read again from the file, independently of the trees' and the
// list manager's own code.

namespace {

struct Region {
  std::int64_t begin, end;
  const std::string* what;  // names interned by the checker
  std::int64_t at;
  std::string name() const { return *what + " at " + std::to_string(at); }
};

class Checker {
 public:
  Checker(ERFileManager& fm, std::vector<std::string>& problems) : fm_(fm), problems_(problems) {}

  void problem(const std::string& line) {
    // A badly damaged file would list thousands: the first ones tell the story.
    if (problems_.size() < kMaxLines)
      problems_.push_back(line);
    else if (problems_.size() == kMaxLines)
      problems_.push_back("... and more");
  }

  bool read(std::int64_t at, void* p, std::size_t n) {
    return at >= 0 && fm_.ReadAt(static_cast<std::uint64_t>(at), p, static_cast<UINT>(n)) == n;
  }

  // The block around a payload: its size word sound and inside the used space; its extent.
  bool block(std::int64_t payload, std::uint32_t least, const std::string& what,
             std::uint32_t* sizeOut = nullptr) {
    std::uint32_t size = 0;
    if (payload < ERFileManager::kFirstBlock + 4 || payload % 4 != 0 ||
        !read(payload - 4, &size, 4) || size < least + 4 || size % 4 != 0 ||
        payload - 4 + std::int64_t(size) > fm_.endData()) {
      problem(what + ": block at " + std::to_string(payload) + " is not a block of the used space" +
              " (size word " + std::to_string(size) + ")");
      return false;
    }
    regions_.push_back({payload - 4, payload - 4 + size, intern(what), payload});
    if (sizeOut) *sizeOut = size;
    return true;
  }

  void freeList() {
    const std::int64_t endData = fm_.endData();
    std::int64_t at = ERFileManager::kRootOffset;
    const std::int64_t limit = (endData - ERFileManager::kFirstBlock) / 268 + 2;
    std::unordered_map<std::int64_t, int> seen;
    for (std::int64_t steps = 0;; ++steps) {
      if (steps > limit || !seen.emplace(at, 0).second) {
        problem("free list: the ring does not come back to the root");
        return;
      }
      const std::string name = "free list: node at " + std::to_string(at);
      if (at != ERFileManager::kRootOffset &&
          (at < ERFileManager::kFirstBlock || at % 4 != 0 || at + 268 > endData)) {
        problem(name + " lies outside the used space");
        return;
      }
      ERFreeListNode n;
      if (!read(at, &n, sizeof n)) {
        problem(name + " cannot be read");
        return;
      }
      if (n.magic != ERFreeListNode::kMagic)
        problem(name + " has magic " + std::to_string(n.magic));
      if (at != ERFileManager::kRootOffset)
        regions_.push_back({at, at + 268, intern("free-list node"), at});
      if (n.count < 0 || n.count > ERFreeListNode::kCapacity) {
        problem(name + " has count " + std::to_string(n.count));
        return;
      }
      std::int64_t previous = ERFileManager::kFirstBlock;
      for (int i = 0; i < n.count; ++i) {
        const std::int64_t o = n.offset[i], e = o + n.size[i];
        if (o < previous || o % 4 != 0 || n.size[i] < 4 || n.size[i] % 4 != 0 || e > endData) {
          problem(name + ": extent " + std::to_string(i) + " (" + std::to_string(o) + ", " +
                  std::to_string(n.size[i]) + ") is out of order or outside the used space");
          continue;
        }
        previous = e;
        regions_.push_back({o, e, intern("free extent"), o});
      }
      if (n.next == ERFileManager::kRootOffset) return;
      at = n.next;
    }
  }

  // A tree whose info block is at base: its nodes, fill, depth, key order and entry count.
  void tree(std::int64_t base, const std::string& name, std::uint32_t keyLength, bool raw) {
    if (!block(base, 40, name + " info")) return;
    ERBTreeInfo info;
    if (!read(base, &info, sizeof info) || info.magic != ERBTreeInfo::kMagic) {
      problem(name + ": info block at " + std::to_string(base) + " has no tree magic");
      return;
    }
    if (info.keyLength != keyLength || ((info.flags & 1) != 0) != raw || info.order < 1 ||
        info.order > 1024 || info.minimum > info.order) {
      problem(name + ": info block has parameters K " + std::to_string(info.keyLength) + ", M " +
              std::to_string(info.order) + ", minimum " + std::to_string(info.minimum));
      return;
    }
    TreeWalk w;
    w.name = name;
    w.info = info;
    w.nodeSize = 2 * std::size_t(info.order) * (keyLength + 8) + 8;
    w.raw = raw;
    w.nodeName = name + " node";
    if (info.root != -1) node(w, info.root, 1, true);
    if (w.entries != info.entries)
      problem(name + ": its info block counts " + std::to_string(info.entries) +
              " entries, the tree holds " + std::to_string(w.entries));
    treeEntries_ = w.entries;
  }

  void overlaps() {
    std::sort(regions_.begin(), regions_.end(),
              [](const Region& a, const Region& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < regions_.size(); ++i) {
      const Region& a = regions_[i - 1];
      const Region& b = regions_[i];
      if (b.begin < a.end)
        problem("space: bytes " + std::to_string(b.begin) + ".." + std::to_string(a.end - 1) +
                " belong to both " + a.name() + " and " + b.name());
    }
  }

  std::uint64_t treeEntries_ = 0;

 private:
  const std::string* intern(const std::string& what) { return &*names_.insert(what).first; }
  std::set<std::string> names_;
  static constexpr std::size_t kMaxLines = 200;

  struct TreeWalk {
    std::string name;
    ERBTreeInfo info;
    std::size_t nodeSize = 0;
    bool raw = false;
    std::string nodeName;
    std::uint64_t entries = 0;
    int leafDepth = -1;
    std::vector<char> lastKey;
    std::unordered_map<std::int64_t, int> seen;
  };

  int compare(const TreeWalk& w, const char* a, const char* b) {
    return w.raw ? std::memcmp(a, b, w.info.keyLength) : std::strncmp(a, b, w.info.keyLength);
  }

  void node(TreeWalk& w, std::int64_t at, int depth, bool root) {
    const auto nameOf = [&] { return w.name + ": node at " + std::to_string(at); };
    if (depth > 64 || !w.seen.emplace(at, 0).second) {
      problem(nameOf() + " is met twice or lies too deep");
      return;
    }
    std::uint32_t size = 0;
    if (!block(at, static_cast<std::uint32_t>(w.nodeSize), w.nodeName, &size)) return;
    std::vector<char> image(w.nodeSize);
    if (!read(at, image.data(), image.size())) {
      problem(nameOf() + " cannot be read");
      return;
    }
    std::int32_t count;
    std::memcpy(&count, image.data(), 4);
    const int m = static_cast<int>(w.info.order);
    if (count < 0 || count > 2 * m) {
      problem(nameOf() + " has count " + std::to_string(count));
      return;
    }
    if (!root && count < static_cast<std::int32_t>(std::max(w.info.minimum, 1u)))
      problem(nameOf() + " holds " + std::to_string(count) + " keys, below the minimum fill " +
              std::to_string(w.info.minimum));
    auto son = [&](int i) {
      std::int32_t v;
      std::memcpy(&v, image.data() + 4 + 4 * i, 4);
      return v;
    };
    const char* keys = image.data() + 16 * std::size_t(m) + 8;
    const bool leaf = son(0) == -1;
    if (leaf) {
      if (w.leafDepth == -1) w.leafDepth = depth;
      if (w.leafDepth != depth)
        problem(nameOf() + ": leaves at depths " + std::to_string(w.leafDepth) + " and " +
                std::to_string(depth));
    }
    for (int i = 0; i <= count; ++i) {
      if (!leaf) {
        if (son(i) == -1)
          problem(nameOf() + ": son " + std::to_string(i) + " missing");
        else
          node(w, son(i), depth + 1, false);
      } else if (son(i) != -1) {
        problem(nameOf() + ": a leaf with a son");
      }
      if (i == count) break;
      const char* key = keys + std::size_t(i) * w.info.keyLength;
      if (!w.lastKey.empty() && compare(w, w.lastKey.data(), key) >= 0)
        problem(nameOf() + ": key " + std::to_string(i) + " is out of order");
      w.lastKey.assign(key, key + w.info.keyLength);
      ++w.entries;
    }
  }

  ERFileManager& fm_;
  std::vector<std::string>& problems_;
  std::vector<Region> regions_;
};

}  // namespace

std::vector<std::string> ERObjectDataBase::check() { return checkImpl(true); }

std::vector<std::string> ERObjectDataBase::checkImpl(bool restoreAll) {
  std::vector<std::string> problems;
  if (isOpen() && empty()) return problems;
  if (!isOpen() || !classTree_ || !objectTree_) {
    problems.push_back("database: not open");
    return problems;
  }
  ERFileManager& fm = *fileManager_;
  Checker c(fm, problems);
  counterProblems(problems);
  c.block(fm.start(), kHeaderSize, "database header");
  c.freeList();
  c.tree(classTreeBase_, "class tree", kClassKeyLength, false);
  c.tree(objectTreeBase_, "object tree", kObjectKeyLength, true);
  std::vector<std::pair<long, long>> objects;
  forEachObject([&](long id, long offset) { objects.emplace_back(id, offset); });
  const std::string record = "record";
  for (const auto& [id, offset] : objects) {
    const auto nameOf = [id = id] { return "object " + std::to_string(id); };
    std::uint32_t size = 0;
    if (!c.block(offset, 4, record, &size)) continue;
    std::uint32_t signature = 0;
    c.read(offset, &signature, 4);
    const auto known = classNames_.find(signature);
    if (known == classNames_.end()) {
      c.problem(nameOf() + ": signature " + std::to_string(signature) + " names no class");
      continue;
    }
    auto factory = factories_.find(signature);
    if (factory == factories_.end() || factory->second == nullptr) continue;  // not ours to read
    if (!restoreAll && known->second != ERAuxilaryIndex::desc()->getName()) continue;
    const std::string name = nameOf();
    t_SmartPtr<ERObject> object = RetrieveAndCreate(id);
    if (!object) {
      c.problem(name + ": the record of its class " + classNames_[signature] +
                " cannot be read whole within its block");
      continue;
    }
    if (std::uint64_t(object->binaryStoreSize()) + 8 > size)
      c.problem(name + ": its block of " + std::to_string(size) + " bytes is smaller than its " +
                std::to_string(object->binaryStoreSize()) + " bytes and signature");
    // The facade's numbering tree lives in blocks of its own.
    if (const ERAuxilaryIndex* index = ERAuxilaryIndex::castdown(object.get()))
      c.tree(index->baseLocation(), "auxiliary tree of object " + std::to_string(id),
             kObjectKeyLength, true);
  }
  c.overlaps();
  std::vector<std::string> unique;
  for (const std::string& line : problems)
    if (std::find(unique.begin(), unique.end(), line) == unique.end()) unique.push_back(line);
  return unique;
}

std::vector<std::string> ERObjectDataBase::check(const char* fileName) {
  std::vector<std::string> problems;
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  try {
    if (fileName == nullptr || !ERFile::Exists(fileName)) {
      problems.push_back("cannot be opened: no such file");
      return problems;
    }
    if (!db->openExisting(fileName, 1, &problems)) {
      if (problems.empty()) problems.push_back("cannot be opened: not a database");
      return problems;
    }
    // openExisting reported the counters; check() lists them again.
    std::vector<std::string> more = db->check();
    for (const std::string& line : more)
      if (std::find(problems.begin(), problems.end(), line) == problems.end())
        problems.push_back(line);
    db->Close();
  } catch (CFileException& e) {
    const bool locked =
        e.m_cause == CFileException::sharingViolation || e.m_cause == CFileException::lockViolation;
    problems.push_back(locked ? std::string(kLocked) : "cannot be opened: " + e.describe());
  }
  return problems;
}
