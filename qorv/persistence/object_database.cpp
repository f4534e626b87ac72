#include "qorv/persistence/object_database.h"

#include <cstring>
#include <iomanip>
#include <vector>

#include "qorv/platform/file.h"
#include "qorv/foundation/assert.h"
#include "qorv/persistence/btree.h"
#include "qorv/persistence/file_manager.h"

using namespace qorv::platform;

namespace {

ERObjectDataBase* g_currentDataBase = nullptr;

constexpr int kHeaderSize = 24;
constexpr unsigned kClassKeyLength = 60;
constexpr unsigned kObjectKeyLength = 4;
constexpr unsigned kOrder = 10;
constexpr unsigned kMinimumFill = 10;
constexpr unsigned kClassCache = 10;
constexpr unsigned kObjectCache = 1000;
constexpr int kCreate = 1;
constexpr int kOpen = 0;
// Deeper than any real chain of references: a stored cycle ends here instead of in a crash.
constexpr int kMaxRestoreDepth = 256;

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
    } catch (CFileException* e) {
      e->Delete();
    }
  }
  if (g_currentDataBase == this) g_currentDataBase = nullptr;
}

int ERObjectDataBase::Open(const char* fileName, int readOnly) {
  if (isOpen()) Close();
  if (fileName == nullptr || *fileName == '\0') return 0;
  if (ERFile::Exists(fileName)) return openExisting(fileName, readOnly) ? 1 : 0;
  if (readOnly) return 0;
  createNew(fileName);
  return 1;
}

bool ERObjectDataBase::openExisting(const char* fileName, int readOnly) {
  fileManager_ = std::make_unique<ERFileManager>(fileName, readOnly);
  ERFileManager& fm = *fileManager_;
  auto refuse = [this] {
    Close();
    return false;
  };
  const long start = fm.start();
  if (fm.listManager() == nullptr || start < 0 || start + kHeaderSize > fm.endData())
    return refuse();

  fm.SeekTo(start);
  std::uint32_t version = 0, lastSignature = 0;
  int classBase = 0, objectBase = 0, lastId = 0, count = 0;
  if (!fm.Read(version) || !fm.Read(classBase) || !fm.Read(objectBase) || !fm.Read(lastId) ||
      !fm.Read(count) || !fm.Read(lastSignature))
    return refuse();
  if (version > static_cast<std::uint32_t>(kCurrentVersion)) return refuse();
  version_ = static_cast<int>(version);
  classTreeBase_ = classBase;
  objectTreeBase_ = objectBase;
  lastId_ = lastId;
  objectCount_ = count;
  lastSignature_ = lastSignature;
  // A tree location that is not a tree is a damaged file, never an empty database.
  if (!treeInfoAt(fm, classTreeBase_, kClassKeyLength, 0) ||
      !treeInfoAt(fm, objectTreeBase_, kObjectKeyLength, 1))
    return refuse();

  classTree_ = std::make_unique<ERBTreeOnDisk>(&fm, kClassCache, kOpen, kClassKeyLength, 0,
                                               classTreeBase_, kOrder, kMinimumFill);
  objectTree_ = std::make_unique<ERBTreeOnDisk>(&fm, kObjectCache, kOpen, kObjectKeyLength, 1,
                                                objectTreeBase_, kOrder, kMinimumFill);
  if (classTree_->isRefused() || objectTree_->isRefused()) return refuse();

  // ERdiskMetaTreeExtractMap: every known class, name -> signature -> factory.
  classTree_->applyToKeyAndValue(
      [](char* key, long value, void* data) {
        auto* db = static_cast<ERObjectDataBase*>(data);
        const std::string name = keyToName(key);
        const auto signature = static_cast<std::uint32_t>(value);
        db->signatures_[name] = signature;
        db->classNames_[signature] = name;
        db->factories_[signature] = ERClassRegistration::findCreator(name.c_str());
      },
      this, 1);
  return true;
}

void ERObjectDataBase::createNew(const char* fileName) {
  fileManager_ = std::make_unique<ERFileManager>(fileName, 0);
  ERFileManager& fm = *fileManager_;
  const long header = fm.allocate(kHeaderSize);
  if (header < 0) AfxThrowFileException(CFileException::invalidFile, -1, fileName);
  classTree_ = std::make_unique<ERBTreeOnDisk>(&fm, kClassCache, kCreate, kClassKeyLength, 0, -1L,
                                               kOrder, kMinimumFill);
  objectTree_ = std::make_unique<ERBTreeOnDisk>(&fm, kObjectCache, kCreate, kObjectKeyLength, 1,
                                                -1L, kOrder, kMinimumFill);
  classTreeBase_ = classTree_->baseLocation();
  objectTreeBase_ = objectTree_->baseLocation();
  version_ = kCurrentVersion;
  lastId_ = 0;
  objectCount_ = 0;
  lastSignature_ = 0;
  fm.SeekTo(header);
  fm.Write(static_cast<std::uint32_t>(kCurrentVersion));
  fm.Write(static_cast<int>(classTreeBase_));
  fm.Write(static_cast<int>(objectTreeBase_));
  fm.Write(0);
  fm.Write(0);
  fm.Write(0u);
}

void ERObjectDataBase::Close() {
  signatures_.clear();
  if (fileManager_ != nullptr && !fileManager_->isReadOnly() &&
      fileManager_->listManager() != nullptr && fileManager_->start() >= 0) {
    ERFileManager& fm = *fileManager_;
    fm.SeekTo(fm.start() + 12);
    fm.Write(static_cast<int>(lastId_));
    fm.Write(static_cast<int>(objectCount_));
    fm.Write(lastSignature_);
  }
  classTree_.reset();
  objectTree_.reset();
  fileManager_.reset();
  factories_.clear();
  classNames_.clear();
  lastId_ = 0;
  objectCount_ = 0;
  lastSignature_ = 0;
  version_ = kCurrentVersion;
  if (g_currentDataBase == this) g_currentDataBase = nullptr;
}

std::uint32_t ERObjectDataBase::GetOrCreateSignature(const char* className) {
  const std::string name = className ? std::string(className).substr(0, kClassKeyLength) : "";
  if (auto it = signatures_.find(name); it != signatures_.end()) return it->second;

  char key[kClassKeyLength] = {};
  std::memcpy(key, name.data(), name.size());
  const long found = classTree_->findValue(key);
  std::uint32_t signature;
  if (found != -1) {
    signature = static_cast<std::uint32_t>(found);
  } else {
    signature = ++lastSignature_;
    classTree_->insertKeyAndValue(key, static_cast<long>(signature));
  }
  signatures_[name] = signature;
  classNames_[signature] = name;
  factories_[signature] = ERClassRegistration::findCreator(name.c_str());
  return signature;
}

long ERObjectDataBase::Store(ERObject& object) {
  if (!isOpen()) AfxThrowFileException(CFileException::invalidFile);
  ERFileManager& fm = *fileManager_;
  const bool isNew = object.getObjectID() == -1 || object.Database() != this;
  long id = object.getObjectID();
  if (isNew) {
    id = ++lastId_;
    ++objectCount_;
  }
  attach(object, id, this);
  const std::uint32_t signature = GetOrCreateSignature(object.className());
  setCurrent(this);

  const std::uint32_t size = object.binaryStoreSize();
  const long position = fm.CurOffset();
  const long block = fm.allocate(size + 4);
  if (block < 0) AfxThrowFileException(CFileException::diskFull, -1, fm.GetFilePath());
  fm.SeekTo(block);
  fm.Write(signature);
  object.saveGuts(fm);
  // A class that writes more than it announced would overwrite its neighbour's record.
  QORV_ASSERT(fm.CurOffset() <= block + 4 + static_cast<long>(size));
  fm.SeekTo(position);

  const ObjectKey key(id);
  if (isNew) {
    objectTree_->insertKeyAndValue(key.bytes, block);
  } else {
    long old = -1;
    if (objectTree_->replaceValue(key.bytes, block, old)) {
      fm.deallocate(old);  // only now that the new record is written
    } else {
      objectTree_->insertKeyAndValue(key.bytes, block);
    }
  }
  return id;
}

long ERObjectDataBase::recordOffset(long id) {
  if (!isOpen()) return -1;
  const ObjectKey key(id);
  const long offset = objectTree_->findValue(key.bytes);
  // A record lies in the used space after the container header, with room for its signature.
  if (offset < 284 || offset + 4 > fileManager_->endData()) return -1;
  return offset;
}

int ERObjectDataBase::Retrieve(long id, ERObject& object) {
  const long offset = recordOffset(id);
  if (offset < 0) return 0;
  ERFileManager& fm = *fileManager_;
  fm.SeekTo(offset);
  std::uint32_t signature;
  if (!fm.Read(signature)) return 0;
  attach(object, id, this);
  setCurrent(this);
  ++restoreDepth_;
  object.restoreGuts(fm);
  --restoreDepth_;
  return 1;
}

t_SmartPtr<ERObject> ERObjectDataBase::RetrieveAndCreate(long id) {
  if (restoreDepth_ >= kMaxRestoreDepth) return {};
  const long offset = recordOffset(id);
  if (offset < 0) return {};
  ERFileManager& fm = *fileManager_;
  fm.SeekTo(offset);
  std::uint32_t signature;
  if (!fm.Read(signature)) return {};
  auto factory = factories_.find(signature);
  if (factory == factories_.end() || factory->second == nullptr) return {};

  t_SmartPtr<ERObject> object(factory->second());
  if (!object) return {};
  attach(*object, id, this);
  fm.SeekTo(offset + 4);
  setCurrent(this);
  ++restoreDepth_;
  try {
    object->restoreGuts(fm);
  } catch (...) {
    --restoreDepth_;
    throw;
  }
  --restoreDepth_;
  return object;
}

int ERObjectDataBase::Delete(long id) {
  if (!isOpen()) return 0;
  const ObjectKey key(id);
  const long offset = objectTree_->findValue(key.bytes);
  if (offset == -1) return 0;
  objectTree_->remove(key.bytes);
  fileManager_->deallocate(offset);
  return 1;
}

void ERObjectDataBase::forEachObjectImpl(void (*f)(long, long, void*), void* data) {
  if (!isOpen()) return;
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
