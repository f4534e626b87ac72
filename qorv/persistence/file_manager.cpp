#include "qorv/persistence/file_manager.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <thread>
#include <unordered_map>

#include "qorv/foundation/huge_pages.h"
#include "qorv/platform/debug.h"

using namespace qorv::platform;

// ---------------------------------------------------------------------------------------------
// ERFileManager

struct ERFileManager::Page {
  std::uint64_t number = 0;
  bool dirty = false;
  bool pinned = false;               // put back from a journal by a reader: never dropped
  bool pooled = false;               // carved from the arena's chunks
  std::unique_ptr<char[]> original;  // the bytes before the transaction changed them
  char data[kPageSize];
};

namespace {

ERFileManager::IoHook g_ioHook = nullptr;
void* g_ioHookData = nullptr;

constexpr char kJournalMagic1[8] = {'q', 'o', 'r', 'v', 'j', 'n', 'l', '1'};
constexpr char kJournalMagic[8] = {'q', 'o', 'r', 'v', 'j', 'n', 'l', '2'};
constexpr std::size_t kJournalHeader = 32;
constexpr std::size_t kJournalRecord1 = 4 + ERFileManager::kPageSize;
constexpr std::size_t kJournalRecord = 4 + ERFileManager::kPageSize + 8;
// The lock bytes, far past the 2 GiB reach of the file's offsets (see file_manager.h).
constexpr std::int64_t kLockPending = std::int64_t(1) << 40;
constexpr std::int64_t kLockWriter = kLockPending + 1;
constexpr std::int64_t kLockShared = kLockPending + 2;
std::atomic<unsigned> g_lockTimeoutMs{2000};
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
void put(char* b, std::size_t at, T v) {
  std::memcpy(b + at, &v, sizeof v);
}
template <class T>
T get(const std::vector<char>& b, std::size_t at) {
  T v;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

// Retries a lock that another open holds until it is given or the lock timeout passes.
template <class Try>
bool waitFor(Try attempt) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(g_lockTimeoutMs.load());
  for (int pause = 1;; pause = std::min(pause * 2, 50)) {
    if (attempt()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  }
}

// Readers: the shared lock, taken only while no writer waits for its exclusive one.
bool lockShared(CFile& f) {
  return waitFor([&] {
    if (!f.LockByte(kLockPending, CFile::sharedLock)) return false;
    const bool ok = f.LockByte(kLockShared, CFile::sharedLock);
    f.LockByte(kLockPending, CFile::unlock);
    return ok;
  });
}

// Writers, while they write the file: pending first (no new reader comes in), then exclusive
// once the readers have left.
bool lockExclusive(CFile& f) {
  if (!waitFor([&] { return f.LockByte(kLockPending, CFile::exclusiveLock); })) return false;
  if (waitFor([&] { return f.LockByte(kLockShared, CFile::exclusiveLock); })) return true;
  f.LockByte(kLockPending, CFile::unlock);
  return false;
}

void unlockExclusive(CFile& f) {
  f.LockByte(kLockShared, CFile::unlock);
  f.LockByte(kLockPending, CFile::unlock);
}

// A record's checksum: its page number and original bytes.
std::uint64_t recordSum(const char* record) { return fnv1a(record, 4 + ERFileManager::kPageSize); }

// The sums of the n records laid end to end from first, each written after its record. One
// chain of multiplications waits on the last; four records' chains side by side keep the
// multiplier busy, for the same sums.
void writeRecordSums(char* first, std::size_t n, std::size_t stride) {
  constexpr std::size_t kLength = 4 + ERFileManager::kPageSize;
  constexpr std::uint64_t kBasis = 1469598103934665603ull, kPrime = 1099511628211ull;
  std::size_t r = 0;
  for (; r + 4 <= n; r += 4) {
    const auto* a = reinterpret_cast<const unsigned char*>(first + r * stride);
    const unsigned char* b = a + stride;
    const unsigned char* c = b + stride;
    const unsigned char* d = c + stride;
    std::uint64_t h[4] = {kBasis, kBasis, kBasis, kBasis};
    for (std::size_t i = 0; i < kLength; ++i) {
      h[0] = (h[0] ^ a[i]) * kPrime;
      h[1] = (h[1] ^ b[i]) * kPrime;
      h[2] = (h[2] ^ c[i]) * kPrime;
      h[3] = (h[3] ^ d[i]) * kPrime;
    }
    for (std::size_t k = 0; k < 4; ++k)
      std::memcpy(first + (r + k) * stride + kLength, &h[k], sizeof h[k]);
  }
  for (; r < n; ++r) {
    const std::uint64_t h = recordSum(first + r * stride);
    std::memcpy(first + r * stride + kLength, &h, sizeof h);
  }
}

// What a journal beside a database holds, read record by record.
struct JournalScan {
  ERJournalRecovery::Kind kind = ERJournalRecovery::absent;
  int version = 0;
  bool headerSound = false;
  std::uint32_t pages = 0;  // records announced (or, without a sound header, found)
  std::uint64_t original = 0;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> good;  // page number, data offset
  std::vector<std::uint32_t> bad;                             // records that do not verify
  std::uint32_t missing = 0;  // announced records past the journal's end
  int osError = 0;
};

JournalScan scanJournal(const std::string& path) {
  JournalScan scan;
  CFile j;
  CFileException e;
  if (!j.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary, &e)) {
    if (e.m_lOsError != ENOENT) {
      scan.kind = ERJournalRecovery::unreadable;
      scan.osError = static_cast<int>(e.m_lOsError);
    }
    return scan;
  }
  try {
    const std::uint64_t length = j.GetLength();
    scan.kind = ERJournalRecovery::damaged;
    if (length == 0) {
      scan.kind = ERJournalRecovery::unstarted;
      return scan;
    }
    if (length < kJournalHeader) return scan;
    std::vector<char> header(kJournalHeader);
    if (j.ReadAt(0, header.data(), kJournalHeader) != kJournalHeader) return scan;
    // The header is written last, its checksum word last of all: without that word the writer
    // died before the file was touched.
    if (get<std::uint64_t>(header, 24) == 0) {
      scan.kind = ERJournalRecovery::unstarted;
      return scan;
    }
    const std::uint32_t pageSize = get<std::uint32_t>(header, 8);
    scan.pages = get<std::uint32_t>(header, 12);
    scan.original = get<std::uint64_t>(header, 16);
    std::vector<char> record(kJournalRecord);
    if (std::memcmp(header.data(), kJournalMagic1, 8) == 0 &&
        pageSize == ERFileManager::kPageSize) {
      // The first format: one checksum over every record, nothing to verify one by one.
      scan.version = 1;
      scan.headerSound = true;
      std::uint64_t h = 1469598103934665603ull;
      const bool sized = length == kJournalHeader + std::uint64_t(scan.pages) * kJournalRecord1;
      for (std::uint32_t i = 0; sized && i < scan.pages; ++i) {
        const std::uint64_t at = kJournalHeader + std::uint64_t(i) * kJournalRecord1;
        if (j.ReadAt(at, record.data(), kJournalRecord1) != kJournalRecord1) break;
        for (std::size_t k = 0; k < kJournalRecord1; ++k) {
          h ^= static_cast<unsigned char>(record[k]);
          h *= 1099511628211ull;
        }
        scan.good.emplace_back(get<std::uint32_t>(record, 0), at + 4);
      }
      if (!sized || scan.good.size() != scan.pages || h != get<std::uint64_t>(header, 24)) {
        // Records the header announces past the journal's end are missing, not unverified: a
        // count from a damaged header must not size anything.
        const auto present = static_cast<std::uint32_t>(
            std::min<std::uint64_t>((length - kJournalHeader) / kJournalRecord1, scan.pages));
        scan.good.clear();
        scan.missing = scan.pages - present;
        for (std::uint32_t i = 0; i < present; ++i) scan.bad.push_back(i);
        return scan;
      }
      scan.kind = ERJournalRecovery::whole;
      return scan;
    }
    scan.headerSound = std::memcmp(header.data(), kJournalMagic, 8) == 0 &&
                       pageSize == ERFileManager::kPageSize &&
                       fnv1a(header.data(), 24) == get<std::uint64_t>(header, 24);
    scan.version = scan.headerSound ? 2 : 0;
    const auto present = static_cast<std::uint32_t>(
        std::min<std::uint64_t>((length - kJournalHeader) / kJournalRecord, UINT32_MAX));
    if (!scan.headerSound) scan.pages = present;
    // A header may announce more than is there (cut short): those are missing, not read.
    scan.missing = scan.pages > present ? scan.pages - present : 0;
    for (std::uint32_t i = 0; i < scan.pages - scan.missing; ++i) {
      const std::uint64_t at = kJournalHeader + std::uint64_t(i) * kJournalRecord;
      const bool read = j.ReadAt(at, record.data(), kJournalRecord) == kJournalRecord;
      const std::uint32_t page = read ? get<std::uint32_t>(record, 0) : 0;
      const bool inside =
          !scan.headerSound || std::uint64_t(page) * ERFileManager::kPageSize < scan.original;
      if (read && inside && page < (std::uint32_t(1) << 19) &&
          recordSum(record.data()) == get<std::uint64_t>(record, 4 + ERFileManager::kPageSize))
        scan.good.emplace_back(page, at + 4);
      else
        scan.bad.push_back(i);
    }
    if (scan.headerSound && scan.bad.empty() && scan.missing == 0 &&
        length == kJournalHeader + std::uint64_t(scan.pages) * kJournalRecord)
      scan.kind = ERJournalRecovery::whole;
  } catch (CFileException& failure) {
    scan.kind = ERJournalRecovery::unreadable;
    scan.osError = static_cast<int>(failure.m_lOsError);
  }
  return scan;
}

// The journal again, for the original bytes of its verified records.
class JournalReader {
 public:
  explicit JournalReader(const std::string& path)
      : open_(j_.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) {}
  bool read(std::uint64_t at, char* out) {
    return open_ && j_.ReadAt(at, out, ERFileManager::kPageSize) == ERFileManager::kPageSize;
  }

 private:
  CFile j_;
  bool open_;
};

}  // namespace

ERJournalRefused::ERJournalRefused(ERJournalRecovery::Kind kind, long osError,
                                   const std::string& fileName)
    : CFileException(kind == ERJournalRecovery::unreadable
                         ? (osError > 0 ? OsErrorToException(osError) : int(accessDenied))
                         : int(invalidFile),
                     osError, fileName),
      kind_(kind) {}

std::string ERJournalRefused::describe() const {
  return std::string(kind_ == ERJournalRecovery::unreadable
                         ? "a journal left beside it by a writer that died cannot be read"
                         : "a journal left beside it by a writer that died is damaged") +
         " (both files kept; qorv db recover plays back what verifies)" +
         (m_strFileName.empty() ? "" : ": " + m_strFileName);
}

void ERFileManager::setLockTimeout(unsigned milliseconds) { g_lockTimeoutMs = milliseconds; }

ERFileLock::ERFileLock(const char* fileName) {
  if (file_.Open(fileName, CFile::modeReadWrite | CFile::shareDenyNone | CFile::typeBinary)) {
    held_ = lockExclusive(file_);
    if (held_ && !file_.LockByte(kLockWriter, CFile::exclusiveLock)) {
      unlockExclusive(file_);
      held_ = false;
    }
  }
}

ERFileLock::~ERFileLock() = default;

void ERFileManager::setIoHook(IoHook hook, void* data) {
  g_ioHook = hook;
  g_ioHookData = data;
}

ERFileManager::ERFileManager(const char* fileName, int readOnly) : readOnly_(readOnly) {
  const bool existed = ERFile::Exists(fileName) != 0;
  const UINT flags = typeBinary | modeCreate | modeNoTruncate | shareDenyNone |
                     (readOnly ? modeRead : modeReadWrite);
  CFileException error;
  if (!Open(fileName, flags, &error))
    AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
  try {
    if (readOnly_) {
      if (!lockShared(*this))
        AfxThrowFileException(CFileException::sharingViolation, EWOULDBLOCK, fileName);
    } else {
      // Exclusive while a journal is played back or a new file laid out; the writer's own lock
      // for as long as it is open.
      if (!lockExclusive(*this))
        AfxThrowFileException(CFileException::sharingViolation, EWOULDBLOCK, fileName);
      exclusive_ = true;
      if (!LockByte(kLockWriter, exclusiveLock))
        AfxThrowFileException(CFileException::sharingViolation, EWOULDBLOCK, fileName);
    }
    diskSize_ = size_ = CFile::GetLength();
    // A journal whose file is gone belongs to no file this call could make: it stays as it is.
    if (!existed && ERFile::Exists(journalPath().c_str()))
      throw ERJournalRefused(ERJournalRecovery::damaged, -1, fileName);
    recoverJournal();
    if (GetLength() == 0) {
      // A reader cannot lay out a new heap; refuse now rather than at the first write.
      if (readOnly_) AfxThrowFileException(CFileException::accessDenied, EACCES, fileName);
      writeWord(0, -1);
      writeWord(4, static_cast<std::int32_t>(kFirstBlock));
      writeWord(8, static_cast<std::int32_t>(ERListManager::kNodeSize));
      endData_ = static_cast<std::int32_t>(kFirstBlock);
      listManager_ = std::make_unique<ERListManager>(this, 1);
    } else {
      readHeaderWords();
    }
    if (exclusive_) {
      unlockExclusive(*this);
      exclusive_ = false;
    }
  } catch (CFileException&) {
    // Leave no half-made file behind; an existing one is never touched.
    if (!existed) std::remove(fileName);
    Abort();  // and every lock with it
    throw;
  }
}

void ERFileManager::readHeaderWords() {
  start_ = endData_ = -1;
  listManager_.reset();
  std::int32_t word;
  if (readAt(0, &word, 4)) start_ = word;
  if (readAt(4, &word, 4)) endData_ = word;
  if (readAt(8, &word, 4) && word == ERListManager::kNodeSize)
    listManager_ = std::make_unique<ERListManager>(this, 0);
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
  if (endData_ < kFirstBlock || end > kMaxOffset) return -1;
  writeWord(4, static_cast<std::int32_t>(end));
  const long old = endData_;
  endData_ = static_cast<std::int32_t>(end);
  return old;
}

int ERFileManager::deallocateFromEnd(long offset, std::uint32_t size) {
  if (offset + std::int64_t(size) < endData_) return 0;
  if (offset < kFirstBlock || offset > endData_) return 0;  // would raise endData or cut the header
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

namespace qorv::detail {

HugeChunks::~HugeChunks() {
  for (void* c : chunks_) ::operator delete(c, std::align_val_t(kChunk));
}

void* HugeChunks::take(std::size_t n) {
  n = (n + 63) / 64 * 64;
  if (n > kChunk) return nullptr;
  if (kChunk - used_ < n) {
    chunks_.reserve(chunks_.size() + 1);
    void* c = ::operator new(kChunk, std::align_val_t(kChunk));
    qorv::detail::adviseHugePages(c, kChunk, kChunk);
    chunks_.push_back(c);
    used_ = 0;
  }
  void* at = static_cast<char*>(chunks_.back()) + used_;
  used_ += n;
  return at;
}

}  // namespace qorv::detail

// Pages past the first few hundred come from huge-page chunks (see HugeChunks); a small file's
// pages are allocated one by one, so that opening it costs no chunk. Freed pages are reused.
struct ERFileManager::PageArena {
  static constexpr std::size_t kLoose = 512;  // pages allocated one by one before the chunks

  Page* make() {
    if (loose < kLoose) {
      ++loose;
      return new Page;
    }
    void* at;
    if (!spare.empty()) {
      at = spare.back();
      spare.pop_back();
    } else {
      at = chunks.take(sizeof(Page));
    }
    Page* page = new (at) Page;
    page->pooled = true;
    return page;
  }
  void release(Page* page) {
    if (!page->pooled) {
      --loose;
      delete page;
      return;
    }
    page->~Page();
    spare.push_back(page);
  }

  qorv::detail::HugeChunks chunks;
  std::vector<void*> spare;  // slots of released pages
  std::size_t loose = 0;     // pages allocated one by one, alive
};

void ERFileManager::PageRelease::operator()(Page* page) const {
  if (arena != nullptr) arena->release(page);
}

ERFileManager::PagePtr ERFileManager::newPage() {
  if (!arena_) arena_ = std::make_unique<PageArena>();
  return PagePtr(arena_->make(), PageRelease{arena_.get()});
}

ERFileManager::Page* ERFileManager::page(std::uint64_t number, bool) {
  if (lastPage_ != nullptr && lastNumber_ == number) return lastPage_;
  Page* found = cached(number);
  if (found == nullptr) {
    if (pageCount_ >= cachePages_ + dirty_.size()) dropCleanPages();
    PagePtr fresh = newPage();  // the bytes are filled below, not zeroed twice
    fresh->number = number;
    const std::uint64_t at = number * kPageSize;
    UINT got = 0;
    if (at < diskSize_) {
      const UINT want = static_cast<UINT>(std::min<std::uint64_t>(kPageSize, diskSize_ - at));
      got = CFile::ReadAt(at, fresh->data, want);
    }
    std::memset(fresh->data + got, 0, kPageSize - got);
    if (number >= pages_.size())
      pages_.resize(std::max<std::uint64_t>(number + 1, pages_.size() * 2));
    found = fresh.get();
    pages_[number] = std::move(fresh);
    ++pageCount_;
  }
  lastPage_ = found;
  lastNumber_ = number;
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
  dirtyPages_.clear();
}

UINT ERFileManager::ReadAt(std::uint64_t position, void* buffer, UINT count) {
  if (!isOpen()) AfxThrowFileException(CFileException::invalidFile, EBADF, GetFilePath());
  const std::uint32_t within = static_cast<std::uint32_t>(position % kPageSize);
  if (position + count <= size_ && within + count <= kPageSize) {
    // The common case: a value or a node inside one page.
    const std::uint64_t number = position / kPageSize;
    const Page* pg =
        (lastPage_ != nullptr && lastNumber_ == number) ? lastPage_ : page(number, false);
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

const char* ERFileManager::cachedSpan(std::uint64_t position, UINT count) const {
  const std::uint32_t within = static_cast<std::uint32_t>(position % kPageSize);
  if (position + count > size_ || within + count > kPageSize) return nullptr;
  const Page* pg = cached(position / kPageSize);
  return pg != nullptr ? pg->data + within : nullptr;
}

void ERFileManager::prefetchFree(long offset) const {
  if (offset < 4 || offset > kMaxOffset) return;
  if (const char* p = cachedSpan(std::uint64_t(offset - 4), 4)) qorv::detail::prefetch(p);
  if (listManager_) listManager_->prefetchFree(offset);
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
    const std::uint64_t number = position / kPageSize;
    if (lastPage_ != nullptr && lastNumber_ == number && o + count <= kPageSize &&
        number < dirtyPages_.size() && dirtyPages_[number]) {
      std::memcpy(lastPage_->data + o, in, count);
      size_ = std::max(size_, position + count);
      return;
    }
  }
  for (UINT done = 0; done < count;) {
    const std::uint64_t at = position + done;
    const std::uint32_t o = static_cast<std::uint32_t>(at % kPageSize);
    const UINT chunk = std::min<UINT>(count - done, kPageSize - o);
    const std::uint64_t number = at / kPageSize;
    if (number >= dirtyPages_.size())
      dirtyPages_.resize(std::max<std::uint64_t>(number + 1, dirtyPages_.size() * 2));
    Page* pg = page(number, true);
    if (!dirtyPages_[number]) {
      if (pg->number * kPageSize < txnSize_) {
        pg->original.reset(new char[kPageSize]);
        std::memcpy(pg->original.get(), pg->data, kPageSize);
      }
      pg->dirty = true;
      dirtyPages_[number] = 1;
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
    dirtyPages_[pg->number] = 0;
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
    const std::uint64_t end =
        std::min<std::uint64_t>(size_, (pages[j - 1]->number + 1) * kPageSize);
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
  // Every byte is written below: not zeroed first (a large transaction's journal is megabytes).
  const std::size_t journalSize = kJournalHeader + saved * kJournalRecord;
  const auto journal = std::make_unique_for_overwrite<char[]>(journalSize);
  std::size_t at = kJournalHeader;
  for (const Page* pg : dirty_) {
    if (!pg->original) continue;
    put(journal.get(), at, static_cast<std::uint32_t>(pg->number));
    std::memcpy(journal.get() + at + 4, pg->original.get(), kPageSize);
    at += kJournalRecord;
  }
  writeRecordSums(journal.get() + kJournalHeader, saved, kJournalRecord);
  std::memcpy(journal.get(), kJournalMagic, 8);
  put(journal.get(), 8, static_cast<std::uint32_t>(kPageSize));
  put(journal.get(), 12, static_cast<std::uint32_t>(saved));
  put(journal.get(), 16, static_cast<std::uint64_t>(txnSize_));
  std::uint64_t headerSum = fnv1a(journal.get(), 24);
  put(journal.get(), 24, headerSum != 0 ? headerSum : 1);  // never 0: 0 marks a header not written

  const std::string path = journalPath();
  bool ours = false;
  try {
    CFile j;
    CFileException e;
    if (!j.Open(path.c_str(),
                modeCreate | modeNoTruncate | modeReadWrite | shareDenyNone | typeBinary, &e))
      AfxThrowFileException(e.m_cause, e.m_lOsError, path);
    // A journal already there is not ours to overwrite (nor, below, to remove).
    if (j.GetLength() != 0) AfxThrowFileException(CFileException::accessDenied, EEXIST, path);
    ours = true;
    // The records first, then the header that makes them a journal, its checksum word last:
    // a journal without that word was never finished, and the file was never touched.
    ioWrite(j, IoEvent::journalWrite, kJournalHeader, journal.get() + kJournalHeader,
            static_cast<UINT>(journalSize - kJournalHeader));
    if (sync_ == Synchronous::full) ioSync(j, IoEvent::journalSync);
    ioWrite(j, IoEvent::journalWrite, 0, journal.get(), static_cast<UINT>(kJournalHeader));
    if (sync_ != Synchronous::off) ioSync(j, IoEvent::journalSync);
    j.Close();
    // Readers leave before a byte of the file changes.
    if (!lockExclusive(*this))
      AfxThrowFileException(CFileException::sharingViolation, EWOULDBLOCK, GetFilePath());
    exclusive_ = true;
  } catch (CFileException&) {
    if (ours) std::remove(path.c_str());
    rollbackTransaction();
    throw;
  }
  try {
    writeDirtyPages(dirty_);
    if (sync_ != Synchronous::off) ioSync(*this, IoEvent::fileSync);
    const IoAction action =
        g_ioHook ? g_ioHook(IoEvent::journalRemove, 0, g_ioHookData) : IoAction::proceed;
    if (action != IoAction::proceed || std::remove(path.c_str()) != 0)
      AfxThrowFileException(CFileException::accessDenied, EACCES, path);
  } catch (CFileException&) {
    // The file may hold part of the transaction: put the originals back. Should that fail too,
    // the journal stays and the next opening rolls back.
    // Readers stay out until then: the file is not what the journal's absence would tell them.
    try {
      restoreOriginals(dirty_);
      std::remove(path.c_str());
      unlockExclusive(*this);
      exclusive_ = false;
    } catch (CFileException& again) {
    }
    dropAllPages();
    inTransaction_ = false;
    diskSize_ = size_ = CFile::GetLength();
    throw;
  }
  unlockExclusive(*this);
  exclusive_ = false;
  diskSize_ = size_;
  endTransaction();
}

void ERFileManager::rollbackTransaction() {
  if (!inTransaction_) return;
  lastPage_ = nullptr;
  for (Page* pg : dirty_) {
    dirtyPages_[pg->number] = 0;
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
  // Beside a live writer (it holds its lock) a journal is that writer's commit in progress, which
  // has not touched the file while this reader holds its shared lock.
  if (readOnly_ && ByteLockedByOther(kLockWriter, exclusiveLock)) return;
  const JournalScan scan = scanJournal(path);
  switch (scan.kind) {
    case ERJournalRecovery::absent:
      return;
    case ERJournalRecovery::unstarted:
      if (!readOnly_) std::remove(path.c_str());
      return;
    case ERJournalRecovery::damaged:
    case ERJournalRecovery::unreadable:
      throw ERJournalRefused(scan.kind, scan.osError, GetFilePath());
    case ERJournalRecovery::whole:
      break;
  }
  JournalReader originals(path);
  if (readOnly_) {
    // A reader sees the file as it was before the unfinished transaction, without writing it.
    for (const auto& [number, at] : scan.good) {
      PagePtr pg = newPage();
      std::memset(pg->data, 0, kPageSize);
      pg->number = number;
      pg->pinned = true;
      if (!originals.read(at, pg->data))
        throw ERJournalRefused(ERJournalRecovery::unreadable, EIO, GetFilePath());
      if (number >= pages_.size()) pages_.resize(number + 1);
      if (!pages_[number]) ++pageCount_;
      pages_[number] = std::move(pg);
    }
    size_ = scan.original;
    return;
  }
  std::vector<char> original(kPageSize);
  for (const auto& [number, at] : scan.good) {
    const std::uint64_t where = std::uint64_t(number) * kPageSize;
    if (where >= scan.original) continue;
    if (!originals.read(at, original.data()))
      throw ERJournalRefused(ERJournalRecovery::unreadable, EIO, GetFilePath());
    const UINT len = static_cast<UINT>(std::min<std::uint64_t>(kPageSize, scan.original - where));
    ioWrite(*this, IoEvent::fileWrite, where, original.data(), len);
  }
  if (CFile::GetLength() != scan.original) CFile::SetLength(scan.original);
  ioSync(*this, IoEvent::fileSync);
  std::remove(path.c_str());
  diskSize_ = size_ = scan.original;
}

ERJournalRecovery ERFileManager::recoverJournal(const char* fileName) {
  ERJournalRecovery r;
  CFile f;
  CFileException e;
  if (!f.Open(fileName, modeReadWrite | shareDenyNone | typeBinary, &e))
    AfxThrowFileException(e.m_cause, e.m_lOsError, fileName);
  if (!lockExclusive(f))
    AfxThrowFileException(CFileException::sharingViolation, EWOULDBLOCK, fileName);
  if (!f.LockByte(kLockWriter, exclusiveLock))
    AfxThrowFileException(CFileException::sharingViolation, EWOULDBLOCK, fileName);
  const std::string path = std::string(fileName) + "-journal";
  const JournalScan scan = scanJournal(path);
  r.kind = scan.kind;
  r.version = scan.version;
  r.headerSound = scan.headerSound;
  r.records = scan.pages;
  r.missing = scan.missing;
  r.unverified = scan.bad;
  if (scan.kind == ERJournalRecovery::absent) return r;
  if (scan.kind == ERJournalRecovery::unreadable)
    AfxThrowFileException(CFileException::OsErrorToException(scan.osError), scan.osError, path);
  // A transaction only ever grows the file: without a trusted length, the file's own bounds it.
  const std::uint64_t length = scan.headerSound ? scan.original : f.GetLength();
  std::vector<char> original(kPageSize);
  JournalReader originals(path);
  for (const auto& [number, at] : scan.good) {
    const std::uint64_t where = std::uint64_t(number) * kPageSize;
    if (where >= length) continue;
    if (!originals.read(at, original.data())) {
      r.unverified.push_back(number);
      continue;
    }
    const UINT len = static_cast<UINT>(std::min<std::uint64_t>(kPageSize, length - where));
    f.WriteAt(where, original.data(), len);
    ++r.playedBack;
  }
  if (scan.headerSound && f.GetLength() != scan.original) f.SetLength(scan.original);
  f.FlushData();
  if (scan.kind == ERJournalRecovery::whole || scan.kind == ERJournalRecovery::unstarted) {
    std::remove(path.c_str());
  } else {
    // What could not be verified stays readable for whoever wants to look at it, out of the
    // way of the next opening.
    r.keptAs = path + ".damaged";
    if (std::rename(path.c_str(), r.keptAs.c_str()) != 0)
      AfxThrowFileException(CFileException::OsErrorToException(errno), errno, path);
  }
  return r;
}
