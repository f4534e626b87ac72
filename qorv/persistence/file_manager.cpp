#include "qorv/persistence/file_manager.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "qorv/platform/debug.h"

using namespace qorv::platform;

namespace {

constexpr long kRoot = ERFileManager::kRootOffset;
constexpr long kFirst = ERFileManager::kFirstBlock;
constexpr long kNode = ERListManager::kNodeSize;
constexpr std::int64_t kMaxOffset = INT32_MAX;  // offsets are 32-bit on disk

// Bounds a walk along next links and stops it early on a cycle that misses its origin
// (Brent's cycle detection: a checkpoint moved at power-of-two step counts).
class RingWalk {
 public:
  RingWalk(long origin, std::uint64_t limit) : saved_(origin), limit_(limit) {}
  // False when the walk must stop: too many steps, or back at a checkpoint.
  bool step(long next) {
    if (++steps_ > limit_ || next == saved_) return false;
    if (++lam_ == power_) {
      saved_ = next;
      power_ *= 2;
      lam_ = 0;
    }
    return true;
  }

 private:
  long saved_;
  std::uint64_t limit_;
  std::uint64_t steps_ = 0;
  std::uint64_t power_ = 1;
  std::uint64_t lam_ = 0;
};

void removeEntry(ERFreeListNode& n, int i) {
  for (int j = i; j + 1 < n.count; ++j) {
    n.offset[j] = n.offset[j + 1];
    n.size[j] = n.size[j + 1];
  }
  --n.count;
  n.offset[n.count] = 0;
  n.size[n.count] = 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ERFileManager

struct ERFileManager::Page {
  std::uint64_t number = 0;
  bool dirty = false;
  bool pinned = false;                // put back from a journal by a reader: never dropped
  std::unique_ptr<char[]> original;   // the bytes before the transaction changed them
  char data[kPageSize];
};

namespace {

ERFileManager::IoHook g_ioHook = nullptr;
void* g_ioHookData = nullptr;

constexpr char kJournalMagic[8] = {'q', 'o', 'r', 'v', 'j', 'n', 'l', '1'};
constexpr std::size_t kJournalHeader = 32;
constexpr std::size_t kJournalRecord = 4 + ERFileManager::kPageSize;
// One write never carries more than this many pages.
constexpr std::size_t kRunPages = 256;

std::uint64_t fnv1a(const char* p, std::size_t n) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < n; ++i) {
    h ^= static_cast<unsigned char>(p[i]);
    h *= 1099511628211ull;
  }
  return h;
}

template <class T>
void put(std::vector<char>& b, std::size_t at, T v) {
  std::memcpy(b.data() + at, &v, sizeof v);
}
template <class T>
T get(const std::vector<char>& b, std::size_t at) {
  T v;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

}  // namespace

void ERFileManager::setIoHook(IoHook hook, void* data) {
  g_ioHook = hook;
  g_ioHookData = data;
}

ERFileManager::ERFileManager(const char* fileName, int readOnly) : readOnly_(readOnly) {
  const bool existed = ERFile::Exists(fileName) != 0;
  const UINT flags = typeBinary | modeCreate | modeNoTruncate |
                     (readOnly ? modeRead | shareDenyWrite : modeReadWrite | shareExclusive);
  CFileException error;
  if (!Open(fileName, flags, &error))
    AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
  try {
    diskSize_ = size_ = CFile::GetLength();
    recoverJournal();
    if (GetLength() == 0) {
      // A reader cannot lay out a new heap; refuse now rather than at the first write.
      if (readOnly_) AfxThrowFileException(CFileException::accessDenied, EACCES, fileName);
      writeWord(0, -1);
      writeWord(4, static_cast<std::int32_t>(kFirst));
      writeWord(8, static_cast<std::int32_t>(kNode));
      endData_ = static_cast<std::int32_t>(kFirst);
      listManager_ = std::make_unique<ERListManager>(this, 1);
    } else {
      readHeaderWords();
    }
  } catch (CFileException&) {
    // Leave no half-made file behind; an existing one is never touched.
    if (!existed) std::remove(fileName);
    Abort();
    throw;
  }
}

void ERFileManager::readHeaderWords() {
  start_ = endData_ = -1;
  listManager_.reset();
  std::int32_t word;
  if (readAt(0, &word, 4)) start_ = word;
  if (readAt(4, &word, 4)) endData_ = word;
  if (readAt(8, &word, 4) && word == kNode) listManager_ = std::make_unique<ERListManager>(this, 0);
}

void ERFileManager::reload() { readHeaderWords(); }

ERFileManager::~ERFileManager() {
  listManager_.reset();
  // Whatever a transaction left uncommitted is dropped, as by a crash.
  if (inTransaction_) rollbackTransaction();
  try {
    Close();
  } catch (CFileException& e) {
  }
}

long ERFileManager::allocate(std::uint32_t size) {
  if (!listManager_) return -1;
  const long r = listManager_->allocate(size);
  if (start_ == -1 && r != -1) {
    writeWord(0, static_cast<std::int32_t>(r));
    start_ = static_cast<std::int32_t>(r);
  }
  return r;
}

void ERFileManager::deallocate(long offset) {
  if (!listManager_ || offset == -1 || offset == start_) return;
  listManager_->deallocate(offset);
}

long ERFileManager::allocateAtEnd(std::uint32_t size) {
  const std::int64_t end = std::int64_t(endData_) + size;
  if (endData_ < kFirst || end > kMaxOffset) return -1;
  writeWord(4, static_cast<std::int32_t>(end));
  const long old = endData_;
  endData_ = static_cast<std::int32_t>(end);
  return old;
}

int ERFileManager::deallocateFromEnd(long offset, std::uint32_t size) {
  if (offset + std::int64_t(size) < endData_) return 0;
  if (offset < kFirst || offset > endData_) return 0;  // would raise endData or cut the header
  writeWord(4, static_cast<std::int32_t>(offset));
  endData_ = static_cast<std::int32_t>(offset);
  return 1;
}

void ERFileManager::writeWord(long offset, std::int32_t value) { writeAt(offset, &value, 4); }

int ERFileManager::readAt(long offset, void* p, unsigned n) {
  if (offset < 0 || offset + std::int64_t(n) > kMaxOffset + 1 ||
      ReadAt(static_cast<std::uint64_t>(offset), p, n) != n) {
    readErr();
    return 0;
  }
  return 1;
}

void ERFileManager::writeAt(long offset, const void* p, unsigned n) {
  if (offset < 0 || offset + std::int64_t(n) > kMaxOffset + 1) {
    seekErr();
    AfxThrowFileException(CFileException::badSeek, EINVAL, GetFilePath());
  }
  try {
    WriteAt(static_cast<std::uint64_t>(offset), p, n);
  } catch (CFileException&) {
    writeErr();
    throw;
  }
}

// ---------------------------------------------------------------------------------------------
// Pages, transactions and the journal

void ERFileManager::setCachePages(std::size_t pages) {
  cachePages_ = std::max<std::size_t>(pages, 16);
  if (pageCount_ > cachePages_ + dirty_.size()) dropCleanPages();
}

ERFileManager::Page* ERFileManager::cached(std::uint64_t number) const {
  return number < pages_.size() ? pages_[number].get() : nullptr;
}

void ERFileManager::forget(std::uint64_t number) {
  if (number < pages_.size() && pages_[number]) {
    if (lastPage_ == pages_[number].get()) lastPage_ = nullptr;
    pages_[number].reset();
    --pageCount_;
  }
}

ERFileManager::Page* ERFileManager::page(std::uint64_t number, bool) {
  if (lastPage_ != nullptr && lastPage_->number == number) return lastPage_;
  Page* found = cached(number);
  if (found == nullptr) {
    if (pageCount_ >= cachePages_ + dirty_.size()) dropCleanPages();
    std::unique_ptr<Page> fresh(new Page);  // the bytes are filled below, not zeroed twice
    fresh->number = number;
    const std::uint64_t at = number * kPageSize;
    UINT got = 0;
    if (at < diskSize_) {
      const UINT want = static_cast<UINT>(std::min<std::uint64_t>(kPageSize, diskSize_ - at));
      got = CFile::ReadAt(at, fresh->data, want);
    }
    std::memset(fresh->data + got, 0, kPageSize - got);
    if (number >= pages_.size()) pages_.resize(std::max<std::uint64_t>(number + 1, pages_.size() * 2));
    found = fresh.get();
    pages_[number] = std::move(fresh);
    ++pageCount_;
  }
  lastPage_ = found;
  return found;
}

void ERFileManager::dropCleanPages() {
  lastPage_ = nullptr;
  const std::size_t keep = cachePages_ / 4 * 3;
  // A clock hand goes round the table, so that no part of the file is always the one dropped.
  for (std::size_t visited = 0; visited < pages_.size() && pageCount_ > keep + dirty_.size();
       ++visited) {
    if (++hand_ >= pages_.size()) hand_ = 0;
    const Page* pg = pages_[hand_].get();
    if (pg != nullptr && !pg->dirty && !pg->pinned) forget(hand_);
  }
}

void ERFileManager::dropAllPages() {
  lastPage_ = nullptr;
  pages_.clear();
  pageCount_ = 0;
  dirty_.clear();
}

UINT ERFileManager::ReadAt(std::uint64_t position, void* buffer, UINT count) {
  if (!isOpen()) AfxThrowFileException(CFileException::invalidFile, EBADF, GetFilePath());
  const std::uint32_t within = static_cast<std::uint32_t>(position % kPageSize);
  if (position + count <= size_ && within + count <= kPageSize) {
    // The common case: a value or a node inside one page.
    const std::uint64_t number = position / kPageSize;
    const Page* pg = (lastPage_ != nullptr && lastPage_->number == number) ? lastPage_
                                                                            : page(number, false);
    std::memcpy(buffer, pg->data + within, count);
    return count;
  }
  if (position >= size_) return 0;
  const UINT n = static_cast<UINT>(std::min<std::uint64_t>(count, size_ - position));
  auto* out = static_cast<char*>(buffer);
  for (UINT done = 0; done < n;) {
    const std::uint64_t at = position + done;
    const std::uint32_t in = static_cast<std::uint32_t>(at % kPageSize);
    const UINT chunk = std::min<UINT>(n - done, kPageSize - in);
    std::memcpy(out + done, page(at / kPageSize, false)->data + in, chunk);
    done += chunk;
  }
  return n;
}

void ERFileManager::WriteAt(std::uint64_t position, const void* buffer, UINT count) {
  if (!isOpen()) AfxThrowFileException(CFileException::invalidFile, EBADF, GetFilePath());
  if (readOnly_) AfxThrowFileException(CFileException::accessDenied, EBADF, GetFilePath());
  if (count == 0) return;
  const auto* in = static_cast<const char*>(buffer);
  if (!inTransaction_) {
    // Straight to the file; the pages that are cached follow.
    try {
      ioWrite(*this, IoEvent::fileWrite, position, buffer, count);
    } catch (CFileException&) {
      dropAllPages();
      diskSize_ = size_ = CFile::GetLength();
      throw;
    }
    diskSize_ = std::max(diskSize_, position + count);
    size_ = std::max(size_, position + count);
    for (UINT done = 0; done < count;) {
      const std::uint64_t at = position + done;
      const std::uint32_t o = static_cast<std::uint32_t>(at % kPageSize);
      const UINT chunk = std::min<UINT>(count - done, kPageSize - o);
      if (Page* pg = cached(at / kPageSize)) std::memcpy(pg->data + o, in + done, chunk);
      done += chunk;
    }
    return;
  }
  {
    const std::uint32_t o = static_cast<std::uint32_t>(position % kPageSize);
    if (lastPage_ != nullptr && lastPage_->dirty && lastPage_->number == position / kPageSize &&
        o + count <= kPageSize) {
      std::memcpy(lastPage_->data + o, in, count);
      size_ = std::max(size_, position + count);
      return;
    }
  }
  for (UINT done = 0; done < count;) {
    const std::uint64_t at = position + done;
    const std::uint32_t o = static_cast<std::uint32_t>(at % kPageSize);
    const UINT chunk = std::min<UINT>(count - done, kPageSize - o);
    Page* pg = page(at / kPageSize, true);
    if (!pg->dirty) {
      if (pg->number * kPageSize < txnSize_) {
        pg->original.reset(new char[kPageSize]);
        std::memcpy(pg->original.get(), pg->data, kPageSize);
      }
      pg->dirty = true;
      dirty_.push_back(pg);
    }
    std::memcpy(pg->data + o, in + done, chunk);
    done += chunk;
  }
  size_ = std::max(size_, position + count);
}

UINT ERFileManager::Read(void* buffer, UINT count) {
  if (!isOpen()) AfxThrowFileException(CFileException::invalidFile, EBADF, GetFilePath());
  UINT want = count;
  if (window_.end >= 0 && pos_ + std::int64_t(count) > window_.end) {
    window_.failed = true;
    want = pos_ < window_.end ? static_cast<UINT>(window_.end - pos_) : 0;
  }
  const UINT got = ReadAt(static_cast<std::uint64_t>(pos_), buffer, want);
  if (got < count) window_.failed = true;
  pos_ += got;
  return got;
}

std::uint64_t ERFileManager::bytesLeft() const {
  const auto position = static_cast<std::uint64_t>(pos_);
  std::uint64_t end = size_;
  if (window_.end >= 0) end = std::min(end, static_cast<std::uint64_t>(window_.end));
  return position < end ? end - position : 0;
}

void ERFileManager::Write(const void* buffer, UINT count) {
  if (!isOpen()) AfxThrowFileException(CFileException::invalidFile, EBADF, GetFilePath());
  if (window_.end >= 0 && pos_ + std::int64_t(count) > window_.end)
    AfxThrowFileException(CFileException::invalidFile, EINVAL, GetFilePath());
  WriteAt(static_cast<std::uint64_t>(pos_), buffer, count);
  pos_ += count;
}

std::uint64_t ERFileManager::Seek(std::int64_t offset, UINT from) {
  if (!isOpen()) AfxThrowFileException(CFileException::invalidFile, EBADF, GetFilePath());
  std::int64_t base = 0;
  if (from == current) base = pos_;
  if (from == end) base = static_cast<std::int64_t>(size_);
  if ((offset < 0 && base < INT64_MIN - offset) || (offset > 0 && base > INT64_MAX - offset) ||
      base + offset < 0)
    AfxThrowFileException(CFileException::badSeek, EINVAL, GetFilePath());
  pos_ = base + offset;
  return static_cast<std::uint64_t>(pos_);
}

void ERFileManager::SetLength(std::uint64_t length) {
  if (inTransaction_) AfxThrowFileException(CFileException::invalidFile, EINVAL, GetFilePath());
  CFile::SetLength(length);
  dropAllPages();
  diskSize_ = size_ = length;
}

void ERFileManager::ioWrite(CFile& f, IoEvent event, std::uint64_t at, const void* p, UINT n) {
  const IoAction action = g_ioHook ? g_ioHook(event, n, g_ioHookData) : IoAction::proceed;
  if (action == IoAction::fail)
    AfxThrowFileException(CFileException::diskFull, ENOSPC, f.GetFilePath());
  if (action == IoAction::tear) {
    f.WriteAt(at, p, n / 2);
    AfxThrowFileException(CFileException::diskFull, ENOSPC, f.GetFilePath());
  }
  f.WriteAt(at, p, n);
}

void ERFileManager::ioSync(CFile& f, IoEvent event) {
  const IoAction action = g_ioHook ? g_ioHook(event, 0, g_ioHookData) : IoAction::proceed;
  if (action != IoAction::proceed)
    AfxThrowFileException(CFileException::hardIO, EIO, f.GetFilePath());
  f.FlushData();
}

void ERFileManager::beginTransaction() {
  if (readOnly_ || inTransaction_) return;
  inTransaction_ = true;
  txnSize_ = size_;
}

void ERFileManager::endTransaction() {
  for (Page* pg : dirty_) {
    pg->dirty = false;
    pg->original.reset();
  }
  dirty_.clear();
  inTransaction_ = false;
  if (pageCount_ > cachePages_) dropCleanPages();
}

void ERFileManager::writeDirtyPages(const std::vector<Page*>& pages) {
  std::vector<char> run;
  for (std::size_t i = 0; i < pages.size();) {
    std::size_t j = i + 1;
    while (j < pages.size() && j - i < kRunPages && pages[j]->number == pages[j - 1]->number + 1)
      ++j;
    const std::uint64_t at = pages[i]->number * kPageSize;
    const std::uint64_t end = std::min<std::uint64_t>(size_, (pages[j - 1]->number + 1) * kPageSize);
    if (end > at) {
      const UINT n = static_cast<UINT>(end - at);
      if (j - i == 1) {
        ioWrite(*this, IoEvent::fileWrite, at, pages[i]->data, n);
      } else {
        run.resize((j - i) * kPageSize);
        for (std::size_t k = i; k < j; ++k)
          std::memcpy(run.data() + (k - i) * kPageSize, pages[k]->data, kPageSize);
        ioWrite(*this, IoEvent::fileWrite, at, run.data(), n);
      }
    }
    i = j;
  }
}

void ERFileManager::restoreOriginals(const std::vector<Page*>& pages) {
  for (Page* pg : pages) {
    const std::uint64_t at = pg->number * kPageSize;
    if (!pg->original || at >= txnSize_) continue;
    const UINT n = static_cast<UINT>(std::min<std::uint64_t>(kPageSize, txnSize_ - at));
    ioWrite(*this, IoEvent::fileWrite, at, pg->original.get(), n);
  }
  if (CFile::GetLength() > txnSize_) CFile::SetLength(txnSize_);
  if (sync_ != Synchronous::off) ioSync(*this, IoEvent::fileSync);
}

void ERFileManager::commitTransaction() {
  if (!inTransaction_) return;
  if (dirty_.empty()) {
    endTransaction();
    return;
  }
  std::sort(dirty_.begin(), dirty_.end(),
            [](const Page* a, const Page* b) { return a->number < b->number; });
  std::size_t saved = 0;
  for (const Page* pg : dirty_)
    if (pg->original) ++saved;
  std::vector<char> journal(kJournalHeader + saved * kJournalRecord);
  std::size_t at = kJournalHeader;
  for (const Page* pg : dirty_) {
    if (!pg->original) continue;
    put(journal, at, static_cast<std::uint32_t>(pg->number));
    std::memcpy(journal.data() + at + 4, pg->original.get(), kPageSize);
    at += kJournalRecord;
  }
  std::memcpy(journal.data(), kJournalMagic, 8);
  put(journal, 8, static_cast<std::uint32_t>(kPageSize));
  put(journal, 12, static_cast<std::uint32_t>(saved));
  put(journal, 16, static_cast<std::uint64_t>(txnSize_));
  put(journal, 24, fnv1a(journal.data() + kJournalHeader, journal.size() - kJournalHeader));

  const std::string path = journalPath();
  try {
    CFile j;
    CFileException e;
    if (!j.Open(path.c_str(), modeCreate | modeReadWrite | shareDenyNone | typeBinary, &e))
      AfxThrowFileException(e.m_cause, e.m_lOsError, path);
    if (sync_ == Synchronous::full) {
      // The records first, then the header that makes them a journal: a disk that reorders
      // writes cannot show a whole header over torn records.
      std::vector<char> blank(kJournalHeader, 0);
      ioWrite(j, IoEvent::journalWrite, 0, blank.data(), static_cast<UINT>(blank.size()));
      ioWrite(j, IoEvent::journalWrite, kJournalHeader, journal.data() + kJournalHeader,
              static_cast<UINT>(journal.size() - kJournalHeader));
      ioSync(j, IoEvent::journalSync);
      ioWrite(j, IoEvent::journalWrite, 0, journal.data(), static_cast<UINT>(kJournalHeader));
      ioSync(j, IoEvent::journalSync);
    } else {
      ioWrite(j, IoEvent::journalWrite, 0, journal.data(), static_cast<UINT>(journal.size()));
      if (sync_ != Synchronous::off) ioSync(j, IoEvent::journalSync);
    }
    j.Close();
  } catch (CFileException&) {
    std::remove(path.c_str());
    rollbackTransaction();
    throw;
  }
  try {
    writeDirtyPages(dirty_);
    if (sync_ != Synchronous::off) ioSync(*this, IoEvent::fileSync);
    const IoAction action = g_ioHook ? g_ioHook(IoEvent::journalRemove, 0, g_ioHookData)
                                     : IoAction::proceed;
    if (action != IoAction::proceed || std::remove(path.c_str()) != 0)
      AfxThrowFileException(CFileException::accessDenied, EACCES, path);
  } catch (CFileException&) {
    // The file may hold part of the transaction: put the originals back. Should that fail too,
    // the journal stays and the next opening rolls back.
    try {
      restoreOriginals(dirty_);
      std::remove(path.c_str());
    } catch (CFileException& again) {
    }
    dropAllPages();
    inTransaction_ = false;
    diskSize_ = size_ = CFile::GetLength();
    throw;
  }
  diskSize_ = size_;
  endTransaction();
}

void ERFileManager::rollbackTransaction() {
  if (!inTransaction_) return;
  lastPage_ = nullptr;
  for (Page* pg : dirty_) {
    if (pg->original) {
      std::memcpy(pg->data, pg->original.get(), kPageSize);
      pg->original.reset();
      pg->dirty = false;
    } else {
      forget(pg->number);
    }
  }
  dirty_.clear();
  size_ = txnSize_;
  inTransaction_ = false;
}

void ERFileManager::recoverJournal() {
  const std::string path = journalPath();
  if (!ERFile::Exists(path.c_str())) return;
  std::vector<char> journal;
  {
    CFile j;
    if (!j.Open(path.c_str(), modeRead | shareDenyNone | typeBinary)) return;
    const std::uint64_t length = j.GetLength();
    if (length > (std::uint64_t(1) << 31)) return;
    journal.resize(static_cast<std::size_t>(length));
    if (length > 0 && j.Read(journal.data(), static_cast<UINT>(length)) != length) return;
  }
  bool whole = journal.size() >= kJournalHeader &&
               std::memcmp(journal.data(), kJournalMagic, 8) == 0 &&
               get<std::uint32_t>(journal, 8) == kPageSize;
  std::uint32_t n = 0;
  std::uint64_t original = 0;
  if (whole) {
    n = get<std::uint32_t>(journal, 12);
    original = get<std::uint64_t>(journal, 16);
    whole = journal.size() == kJournalHeader + std::size_t(n) * kJournalRecord &&
            get<std::uint64_t>(journal, 24) ==
                fnv1a(journal.data() + kJournalHeader, journal.size() - kJournalHeader);
  }
  if (!whole) {
    // Its writer died before the journal was synced, so before the file was touched.
    if (!readOnly_) std::remove(path.c_str());
    return;
  }
  if (readOnly_) {
    // A reader sees the file as it was before the unfinished transaction, without writing it.
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::size_t at = kJournalHeader + std::size_t(i) * kJournalRecord;
      auto pg = std::make_unique<Page>();
      pg->number = get<std::uint32_t>(journal, at);
      pg->pinned = true;
      std::memcpy(pg->data, journal.data() + at + 4, kPageSize);
      const std::uint64_t number = pg->number;
      if (number >= pages_.size()) pages_.resize(number + 1);
      if (!pages_[number]) ++pageCount_;
      pages_[number] = std::move(pg);
    }
    size_ = original;
    return;
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::size_t at = kJournalHeader + std::size_t(i) * kJournalRecord;
    const std::uint64_t where = std::uint64_t(get<std::uint32_t>(journal, at)) * kPageSize;
    if (where >= original) continue;
    const UINT len = static_cast<UINT>(std::min<std::uint64_t>(kPageSize, original - where));
    ioWrite(*this, IoEvent::fileWrite, where, journal.data() + at + 4, len);
  }
  if (CFile::GetLength() != original) CFile::SetLength(original);
  ioSync(*this, IoEvent::fileSync);
  std::remove(path.c_str());
  diskSize_ = size_ = original;
}

// ---------------------------------------------------------------------------------------------
// ERListManager

ERListManager::ERListManager(ERFileManager* fileManager, int fresh)
    : fm_(fileManager), current_(kRoot) {
  if (fresh) {
    node_ = ERFreeListNode{};
    node_.next = static_cast<std::int32_t>(kRoot);
    storeNode(kRoot, node_);
    haveNode_ = true;
  } else {
    haveNode_ = loadNode(kRoot, node_);
  }
}

bool ERListManager::nodeSlotIsSound(long offset) const {
  return offset == kRoot ||
         (offset >= kFirst && offset % 4 == 0 && offset + kNode <= fm_->endData_);
}

ERListManager::CachedNode ERListManager::describe(long offset, const ERFreeListNode& n) {
  CachedNode c{n, 0, 0, false};
  if (n.count < 0 || n.count > ERFreeListNode::kCapacity) return c;
  const std::int64_t next = n.next;
  if (next != kRoot && (next < kFirst || next % 4 != 0 || next == offset)) return c;
  std::int64_t reach = std::max<std::int64_t>(offset == kRoot ? 0 : offset + kNode,
                                              next == kRoot ? 0 : next + kNode);
  std::int64_t previousEnd = kFirst;
  for (int i = 0; i < n.count; ++i) {
    const std::int64_t o = n.offset[i], sz = n.size[i], e = o + sz;
    if (o < previousEnd || o % 4 != 0 || sz < 4 || sz % 4 != 0) return c;
    if (offset != kRoot && o < offset + kNode && offset < e) return c;  // covers itself
    previousEnd = e;
    c.largest = std::max(c.largest, n.size[i]);
  }
  c.reach = std::max(reach, previousEnd);
  c.shapeOk = true;
  return c;
}

std::uint64_t ERListManager::walkLimit() const {
  const std::int64_t used = std::int64_t(fm_->endData_) - kFirst;
  return used > 0 ? static_cast<std::uint64_t>(used / kNode) + 2 : 2;
}

const ERListManager::CachedNode* ERListManager::peekNode(long offset) {
  if (!nodeSlotIsSound(offset)) return nullptr;
  auto hit = cache_.find(offset);
  if (hit == cache_.end()) {
    ERFreeListNode n;
    if (!fm_->readAt(offset, &n, sizeof n)) return nullptr;
    hit = remember(offset, n);
  }
  const CachedNode& c = hit->second;
  if (c.node.magic != ERFreeListNode::kMagic) OutputDebugStringA("BAD MAGIC NUMBER");
  // The shape is checked once; the bounds on every load, as endData may have dropped since.
  if (!c.shapeOk || c.reach > fm_->endData_) return nullptr;
  return &c;
}

const ERListManager::CachedNode* ERListManager::peekNext(const CachedNode* from, long offset) {
  // A walk follows each node's next: the element it leads to is remembered with the node, so
  // a long ring costs no hash look-ups. Any removal from the cache forgets every such link.
  if (from == nullptr || from->linkEpoch != epoch_ || from->linkAt != offset)
    return rememberLink(from, offset, peekNode(offset));
  if (!nodeSlotIsSound(offset)) return nullptr;
  const CachedNode& c = *from->link;
  if (c.node.magic != ERFreeListNode::kMagic) OutputDebugStringA("BAD MAGIC NUMBER");
  if (!c.shapeOk || c.reach > fm_->endData_) return nullptr;
  return &c;
}

const ERListManager::CachedNode* ERListManager::rememberLink(const CachedNode* from, long offset,
                                                             const CachedNode* to) {
  if (from != nullptr && to != nullptr) {
    from->link = to;
    from->linkAt = offset;
    from->linkEpoch = epoch_;
  }
  return to;
}

bool ERListManager::loadNode(long offset, ERFreeListNode& out) {
  const CachedNode* c = peekNode(offset);
  if (c == nullptr) return false;
  out = c->node;
  return true;
}

ERListManager::Cache::iterator ERListManager::remember(long offset, const ERFreeListNode& n) {
  auto it = cache_.find(offset);
  if (it != cache_.end()) {
    it->second = describe(offset, n);
    return it;
  }

  return cache_.emplace(offset, describe(offset, n)).first;
}

void ERListManager::storeNode(long offset, const ERFreeListNode& n) {
  try {
    fm_->writeAt(offset, &n, sizeof n);
  } catch (CFileException&) {
    cache_.erase(offset);  // the file may hold part of it: read it again
    ++epoch_;
    throw;
  }
  remember(offset, n);
}

bool ERListManager::readNode(long offset) {
  if (!loadNode(offset, node_)) return false;
  current_ = offset;
  haveNode_ = true;
  return true;
}

void ERListManager::writeNode() {
  // endData can only have dropped below a linked node through a bogus free: never write there.
  if (!nodeSlotIsSound(current_)) {
    haveNode_ = false;
    return;
  }
  storeNode(current_, node_);
}

void ERListManager::restartAtRoot() {
  if (!readNode(kRoot)) {
    current_ = kRoot;
    haveNode_ = false;
  }
}

bool ERListManager::ensureCurrent() {
  if (haveNode_) return true;
  if (readNode(current_)) return true;
  return current_ != kRoot && readNode(kRoot);
}

int ERListManager::readHeader(long blockOffset, std::uint32_t& size) const {
  return fm_->readAt(blockOffset, &size, 4);
}

void ERListManager::writeHeader(long blockOffset, std::uint32_t size) {
  fm_->writeAt(blockOffset, &size, 4);
}

void ERListManager::trimCache() {
  // Only between walks: a walk holds pointers into the cache.
  if (cache_.size() >= kCachedNodes) {
    cache_.clear();
    ++epoch_;
  }
}

long ERListManager::allocate(std::uint32_t size) {
  if (depth_ == 0) trimCache();
  ++depth_;
  struct Leave {
    int& d;
    ~Leave() { --d; }
  } leave{depth_};
  // The payload rounded up to 4, plus the size word.
  const std::uint64_t wanted = (std::uint64_t(size) + 7) & ~std::uint64_t(3);
  if (wanted > static_cast<std::uint64_t>(kMaxOffset)) return -1;
  auto need = static_cast<std::uint32_t>(wanted);
  try {
    if (!ensureCurrent()) return -1;
    const long origin = current_;
    RingWalk walk(origin, walkLimit());
    for (;;) {
      int i = 0;
      while (i < node_.count && node_.size[i] < need) ++i;
      if (i < node_.count) {
        const long o = node_.offset[i];
        const std::uint32_t s = node_.size[i];
        if (s - need < 8) {
          need = s;  // a remainder too small to be a block of its own goes with it
          removeEntry(node_, i);
        } else {
          node_.offset[i] += need;
          node_.size[i] -= need;
        }
        if (node_.count > 0 || (current_ == kRoot && node_.next == kRoot)) {
          writeNode();
        } else {
          deleteNode();
        }
        writeHeader(o, need);
        fm_->Seek(o + 4, CFile::begin);
        return o + 4;
      }
      if (node_.next == origin) break;  // every node tried
      // On to the next node that has a large enough extent, or the last one before origin.
      long at = node_.next;
      const CachedNode* c = nullptr;
      const CachedNode* from = peekNode(current_);
      for (;;) {
        if (!walk.step(at) || (c = peekNext(from, at)) == nullptr) {
          restartAtRoot();
          return -1;
        }
        if (c->largest >= need || c->node.next == origin) break;
        from = c;
        at = c->node.next;
      }
      node_ = c->node;
      current_ = at;
    }
    // Cut from the end. The size word goes first: if the file cannot grow, endData is unchanged.
    const long o = fm_->endData_;
    if (o < kFirst || o + std::int64_t(need) > kMaxOffset) return -1;
    writeHeader(o, need);
    fm_->writeWord(4, static_cast<std::int32_t>(o + need));
    fm_->endData_ = static_cast<std::int32_t>(o + need);
    fm_->Seek(o + 4, CFile::begin);
    return o + 4;
  } catch (CFileException&) {
    haveNode_ = false;  // the image may be ahead of the file: reload it next time
    throw;
  }
}

void ERListManager::deallocate(long offset) {
  if (depth_ == 0) trimCache();
  ++depth_;
  struct Leave {
    int& d;
    ~Leave() { --d; }
  } leave{depth_};
  if (offset < kFirst + 4 || offset > kMaxOffset || offset % 4 != 0) return;
  const long b = offset - 4;
  std::uint32_t s;
  if (!readHeader(b, s)) return;
  if (s < 4 || s % 4 != 0 || b + std::int64_t(s) > fm_->endData_) return;  // not a block
  try {
    addToFreeList(b, s);
  } catch (CFileException&) {
    haveNode_ = false;
    throw;
  }
}

void ERListManager::addToFreeList(long b, std::uint32_t s) {
  if (fm_->endData_ <= b + std::int64_t(s)) {
    fm_->deallocateFromEnd(b, s);  // the last block: used space shrinks, the file does not
    return;
  }
  if (!ensureCurrent()) return;
  const long origin = current_;
  RingWalk walk(origin, walkLimit());
  for (;;) {
    switch (insertInto(node_, b, s)) {
      case Insert::accepted:
        writeNode();
        return;
      case Insert::refused:
        return;
      case Insert::full:
        break;
    }
    if (node_.next == origin) {
      extendFreeList(b, s);
      return;
    }
    // On along the ring, past the nodes that are full and do not touch the extent without
    // copying them: the first that would take or refuse it, or the last one, becomes current.
    long at = node_.next;
    const CachedNode* from = peekNode(current_);
    const CachedNode* c = nullptr;
    for (;;) {
      if (!walk.step(at) || (c = peekNext(from, at)) == nullptr) {
        restartAtRoot();
        return;
      }
      if (c->node.count < ERFreeListNode::kCapacity || c->node.next == origin ||
          touches(c->node, at, b, s))
        break;
      from = c;
      at = c->node.next;
    }
    node_ = c->node;
    current_ = at;
    haveNode_ = true;
  }
}

bool ERListManager::touches(const ERFreeListNode& n, long at, long b, std::uint32_t s) {
  // Whether a full node would do anything but refuse for want of room: merge with a neighbour,
  // or refuse because the extent overlaps the node or one of its extents.
  const std::int64_t e = b + std::int64_t(s);
  if (at != kRoot && b < at + kNode && at < e) return true;
  const int j = static_cast<int>(
      std::upper_bound(n.offset, n.offset + n.count, b,
                       [](std::int64_t v, std::uint32_t o) { return v < std::int64_t(o); }) -
      n.offset);
  if (j > 0 && std::int64_t(n.offset[j - 1]) + n.size[j - 1] >= b) return true;
  return j < n.count && e >= n.offset[j];
}

ERListManager::Insert ERListManager::insertInto(ERFreeListNode& n, long b, std::uint32_t s) const {
  const std::int64_t e = b + std::int64_t(s);
  // An extent that overlaps this node is a second free or not a block at all.
  if (current_ != kRoot && b < current_ + kNode && current_ < e) return Insert::refused;
  // The entries are sorted and disjoint: only the neighbours of b can touch or overlap it, the
  // one before (which it may follow) examined first, as a scan in index order would.
  const int j = static_cast<int>(
      std::upper_bound(n.offset, n.offset + n.count, b,
                       [](std::int64_t v, std::uint32_t o) { return v < std::int64_t(o); }) -
      n.offset);
  if (j > 0) {
    const std::int64_t before = std::int64_t(n.offset[j - 1]) + n.size[j - 1];
    if (before > b) return Insert::refused;
    if (before == b) {
      const int i = j - 1;
      n.size[i] += s;
      if (i + 1 < n.count && n.offset[i] + n.size[i] == n.offset[i + 1]) {
        n.size[i] += n.size[i + 1];
        removeEntry(n, i + 1);
      }
      return Insert::accepted;
    }
  }
  if (j < n.count) {
    if (e > n.offset[j]) return Insert::refused;
    if (e == n.offset[j]) {
      n.offset[j] = static_cast<std::uint32_t>(b);
      n.size[j] += s;
      return Insert::accepted;
    }
  }
  if (n.count == ERFreeListNode::kCapacity) return Insert::full;
  for (int k = n.count; k > j; --k) {
    n.offset[k] = n.offset[k - 1];
    n.size[k] = n.size[k - 1];
  }
  n.offset[j] = static_cast<std::uint32_t>(b);
  n.size[j] = s;
  ++n.count;
  return Insert::accepted;
}

void ERListManager::extendFreeList(long b, std::uint32_t s) {
  const long payload = allocate(kNode - 4);
  if (payload < 0) return;  // no room for a node: the extent stays out of reach
  const long at = payload - 4;
  ERFreeListNode fresh;
  fresh.next = node_.next;
  fresh.count = 1;
  fresh.offset[0] = static_cast<std::uint32_t>(b);
  fresh.size[0] = s;
  // The new node is on disk before anything links to it; if it cannot be written, its block
  // goes back when it is the last one, and the extent stays allocated to the caller.
  try {
    storeNode(at, fresh);
  } catch (CFileException&) {
    try {
      fm_->deallocateFromEnd(at, static_cast<std::uint32_t>(kNode));
    } catch (CFileException& again) {
    }
    throw;
  }
  node_.next = static_cast<std::int32_t>(at);
  writeNode();
  current_ = at;
  node_ = fresh;
  haveNode_ = true;
}

void ERListManager::deleteNode() {
  const long d = current_;
  if (d != kRoot) {
    // The node before D, found along remembered links; only it is copied.
    long at = kRoot;
    const CachedNode* c = peekNode(kRoot);
    bool found = c != nullptr;
    RingWalk walk(kRoot, walkLimit());
    while (found && c->node.next != d) {
      if (c->node.next == kRoot || !walk.step(c->node.next)) {
        found = false;
      } else {
        at = c->node.next;
        c = peekNext(c, at);
        found = c != nullptr;
      }
    }
    ERFreeListNode before;
    if (found) before = c->node;
    if (!found || node_.next == d) {
      writeNode();  // unreachable from the root: keep it, empty, where it is
      return;
    }
    before.next = node_.next;
    storeNode(at, before);
    current_ = at;
    node_ = before;
    cache_.erase(d);
    ++epoch_;
    addToFreeList(d, static_cast<std::uint32_t>(kNode));
  } else {
    // The root stays at its offset: it takes over the next node, whose block is freed.
    const long n = node_.next;
    ERFreeListNode following;
    if (!loadNode(n, following) || following.next == n) {
      writeNode();
      return;
    }
    storeNode(kRoot, following);
    node_ = following;
    cache_.erase(n);
    ++epoch_;
    addToFreeList(n, static_cast<std::uint32_t>(kNode));
  }
}
