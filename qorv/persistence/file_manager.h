// qorv/persistence/file_manager.h
//
// The block heap: ERFileManager turns an ERFile into a heap of blocks handed out by allocate
// and taken back by deallocate; the free space is kept in the file by a list manager behind the
// ERLMan interface (ERListManager: first fit over a ring of free-list nodes, merging neighbours).
//
// File header (little-endian, 4-byte longs whatever the host):
//   OFFSET  SIZE  FIELD
//        0     4  start: payload offset of the first block ever allocated, -1 in a new file
//        4     4  endData: just past the last byte in use, 280 in a new file
//        8     4  node size, always 268; how the file is recognised
//       12   268  root free-list node
//      280     .  blocks
// Free-list node (268 bytes; the root at 12, every other one filling a 268-byte block of its
// own from the block's first byte, size word included):
//        0     2  magic 588 (0x024C)
//        2     2  filler, written 0, ignored
//        4   128  uint32 offset[32]: free extents, ascending
//      132   128  uint32 size[32]: their sizes in bytes, 0 past count
//      260     4  int32 count, 0..32
//      264     4  int32 next: the nodes form one ring through the root; a lone root points at 12
// Block: a uint32 size word (the whole block, itself included, a multiple of 4), then the
// payload. allocate and deallocate speak in payload offsets (block + 4); a free extent covers
// whole former blocks, size words included.
//
// Invariant: every byte of [280, endData) is in exactly one place: an allocated block, a free
// extent or a free-list node. The one exception is a 4-byte sliver: a node that takes a 272-byte
// extent whole (4 bytes could not stay free) still counts as 268 bytes, and its deletion frees
// 268, so those 4 bytes are never reused.
//
// Bytes from the file are checked before they are trusted: a count outside 0..32, an extent or
// node outside [280, endData), extents out of order, a ring link that does not lead back to
// where the walk began, or a short read stop the walk that meets them; allocate then answers -1
// and deallocate does nothing, and neither writes anything. The next walk starts from the root.
// A node whose magic is wrong but whose fields are sound is used, after the debug message
// "BAD MAGIC NUMBER". Walks read nodes through a write-through cache of their images (only the
// manager writes nodes), so a long ring costs no reads. A walk that would pass many nodes (a free
// past full ones, an allocation past small extents, the node before an emptied one) is answered
// from an index of the ring kept beside that cache: each node's place along the ring, the
// extents by offset, the nodes with room and by largest extent. It names the node the walk would
// stop at, so the file is written byte for byte as by the walk; whatever it cannot follow (a
// failed write, a trimmed cache, a ring that does not check out) drops it until it is rebuilt.
//
// Pages and transactions. Every read and write of the manager goes through a cache of 4096-byte
// pages (read once; clean pages are dropped beyond a limit). Outside a transaction a write goes to
// the file at once, as above. Inside one (beginTransaction) writes stay in the cache; at
// commitTransaction the original bytes of every page the transaction changed are written to a
// rollback journal beside the file (FILE-journal): its records, then its header, checksum word
// last, then synced; then the changed pages are written (runs of adjacent pages in one write) and
// synced, then the journal is removed: that removal is the commit. Journal image (little-endian):
//   OFFSET  SIZE  FIELD
//        0     8  "qorvjnl2"
//        8     4  uint32 page size, 4096
//       12     4  uint32 n, pages saved
//       16     8  uint64 length of the file before the transaction
//       24     8  uint64 FNV-1a of bytes 0..23 (1 if that is 0): 0 means the header is unfinished
//       32     .  n x record: uint32 page number, 4096 original bytes, uint64 FNV-1a of the 4100
//                 bytes before it
// (The first format, "qorvjnl1", had records without checksums and one FNV-1a over all of them at
// 24; a whole one is still played back.) A manager that opens a file with a journal beside it and
// no live writer (a hot journal: a writer died between the two):
// - whole (sound header, every record verifying, nothing more): puts the original bytes back
//   first (read-only: in its cache only, the file is not touched) and, writing, removes it;
// - empty, or without its header's checksum word (the writer died before finishing it, so before
//   touching the file): a writer removes it, a reader ignores it;
// - anything else (a record that does not verify, cut short, a header that does not check out),
//   or a journal that cannot be read: refused, ERJournalRefused thrown, both files left as they
//   are. recoverJournal then plays back every record that verifies and keeps the journal aside.
//   So is a journal beside a file that does not exist (no file is made).
// A journal of another database, or a stale one put back beside a restored backup, is whole and
// cannot be told from the file's own: it would be played back. Never copy one by hand.
// Synchronous: full syncs the journal's records, then its header, then the file; normal syncs the
// journal once and then the file (a power cut before that sync can leave a header over records
// that did not reach the disk: refused, though the file was not touched; recovery then plays
// back the records that did); off never syncs (a killed process loses nothing, a power cut may).
//
// Locks (one byte each, past the end of any file, see CFile::LockByte): a reader holds SHARED
// from opening to closing; a writer holds WRITER while open (one writer at a time) and takes
// PENDING then SHARED exclusively only while it changes the file: at opening, when it plays back
// a journal or lays out a new file, and at each commit, from the journal's sync to its removal.
// So readers come in beside a writer and see the file as last committed for as long as they stay
// open; a commit waits for the readers to leave (and keeps new ones out meanwhile) up to the lock
// timeout, then fails with sharingViolation (rolled back, as any failed commit). A reader that
// finds a journal beside a live writer ignores it: it is that writer's commit, waiting for it.
// Writes outside a transaction take no lock: they are for files no reader has open.
//   OFFSET    LOCK
//   2^40      PENDING
//   2^40 + 1  WRITER
//   2^40 + 2  SHARED
//
// Conventions a caller gets wrong:
// - allocate(n) gives a block of at least n payload bytes, not exactly n: sizes are rounded up
//   to 4, and a free extent that would leave less than 8 bytes is handed out whole.
// - The start block (the first ever allocated) is never freed; deallocate ignores it.
// - allocate leaves the file position at the payload it returns; deallocate moves it anywhere.
// - Outside a transaction every change is written through at once: the file is consistent after
//   each call returns. A failed write throws CFileException (diskFull, accessDenied for a
//   read-only manager) and leaves the file consistent, at worst with the space of the failed
//   call unreachable. Inside one, nothing reaches the file before commitTransaction, and the
//   file only ever holds the state before or after the whole transaction.
// - The manager's reads, writes, seeks and length are those of the cache: read the file through
//   the manager, not beside it, while a transaction is open. A transaction keeps every page it
//   changed in memory until it ends.
// - The transaction's journal is FILE-journal: a file of that name beside a database is part of
//   it (never delete it by hand while the database is not open: it holds the only copy of what
//   a killed writer had overwritten). No error path removes a journal the manager did not write.
// - A reader holds its shared lock while open: a reader left open keeps every commit out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "qorv/persistence/file.h"

class ERFileManager;

namespace qorv::detail {

// Memory in 2 MiB chunks that the kernel may back with huge pages (advice only), for the large
// in-memory images of a file: its pages, a tree's node cache. Look-ups at random over tens of
// megabytes then miss the address translation caches far less often. Freed with the owner.
class QORV_API HugeChunks {
 public:
  static constexpr std::size_t kChunk = std::size_t(2) << 20;
  HugeChunks() = default;
  HugeChunks(const HugeChunks&) = delete;
  HugeChunks& operator=(const HugeChunks&) = delete;
  ~HugeChunks();
  // n bytes (0 < n <= kChunk), 64-byte aligned, not zeroed; a chunk's tail too short for them
  // is left unused.
  void* take(std::size_t n);

 private:
  std::vector<void*> chunks_;
  std::size_t used_ = kChunk;  // of the last chunk
};

}  // namespace qorv::detail

// When a commit syncs (see above).
enum class ERFileManagerSynchronous { off = 0, normal = 1, full = 2 };

// What recoverJournal found and did.
struct ERJournalRecovery {
  enum Kind { absent, unstarted, whole, damaged, unreadable };
  Kind kind = absent;
  int version = 0;            // 1 or 2; 0 when the header is not sound
  bool headerSound = false;   // its page count and original length were trusted
  std::uint32_t records = 0;  // announced by the header, else found
  std::uint32_t playedBack = 0;
  std::vector<std::uint32_t> unverified;  // the records there that were not played back
  std::uint32_t missing = 0;              // records announced past the journal's end
  std::string keptAs;                     // where the journal went, when it was kept
};

// Thrown by opening when a hot journal cannot be trusted or read (see above); the cause is
// invalidFile (damaged) or the file exception of the failed read (unreadable).
class QORV_API ERJournalRefused : public ::qorv::platform::CFileException {
 public:
  ERJournalRefused(ERJournalRecovery::Kind kind, long osError, const std::string& fileName);
  ERJournalRecovery::Kind kind() const { return kind_; }
  std::string describe() const override;

 private:
  ERJournalRecovery::Kind kind_;
};

// Holds a database file against every other reader and writer (the locks of a commit and a
// writer's), for as long as it lives: taken before a file is replaced. held() is false when they
// did not leave within the lock timeout, or the file cannot be opened for writing.
class QORV_API ERFileLock {
 public:
  explicit ERFileLock(const char* fileName);
  ~ERFileLock();
  ERFileLock(const ERFileLock&) = delete;
  ERFileLock& operator=(const ERFileLock&) = delete;
  bool held() const { return held_; }

 private:
  ::qorv::platform::CFile file_;
  bool held_ = false;
};

// The free-space manager of a file manager.
class QORV_API ERLMan {
 public:
  virtual ~ERLMan() = default;
  // Payload offset of a new block of at least size payload bytes, or -1.
  virtual long allocate(std::uint32_t size) = 0;
  // Returns the block at that payload offset to the free space.
  virtual void deallocate(long offset) = 0;
  // Asks for what deallocate(offset) will read, ahead of it (a hint: changes nothing).
  virtual void prefetchFree(long) const {}
};

// A free-list node, in memory exactly as on disk (the host is little-endian).
struct ERFreeListNode {
  static constexpr std::uint16_t kMagic = 588;
  static constexpr int kCapacity = 32;

  std::uint16_t magic = kMagic;
  std::uint16_t filler = 0;
  std::uint32_t offset[kCapacity] = {};
  std::uint32_t size[kCapacity] = {};
  std::int32_t count = 0;
  std::int32_t next = 0;
};
static_assert(sizeof(ERFreeListNode) == 268, "the node image is its disk image");

class QORV_API ERListManager : public ERLMan {
 public:
  static constexpr long kNodeSize = 268;

  // fresh: writes a new lone root at the root offset; otherwise loads the root from the file.
  ERListManager(ERFileManager* fileManager, int fresh);
  // Copies take the file manager, the current offset and the node image, not the cache.
  ERListManager(const ERListManager& other);
  ERListManager& operator=(const ERListManager& other);
  ~ERListManager() override;

  long allocate(std::uint32_t size) override;
  void deallocate(long offset) override;

  void prefetchFree(long offset) const override;
  // The node the next walk starts from (the root after opening).
  long currentOffset() const { return current_; }
  // Process-wide, on by default; for tests that hold the index's answers against the walk's.
  static void setIndexed(bool on);

 private:
  enum class Insert { accepted, full, refused };

  // A node image with what a walk asks of it: its shape checked once, the largest extent, and
  // how far into the file it and its next link reach (it is sound while endData >= reach).
  struct CachedNode {
    ERFreeListNode node;
    std::int64_t reach;
    std::uint32_t largest;
    bool shapeOk;
    // The node its next leads to, as last looked up (valid while linkEpoch is the cache's).
    mutable const CachedNode* link = nullptr;
    mutable long linkAt = -1;
    mutable std::uint64_t linkEpoch = 0;
  };
  using Cache = std::unordered_map<long, CachedNode>;

  static CachedNode describe(long offset, const ERFreeListNode& node);
  // The node at offset, read through the cache; null when it cannot be trusted.
  QORV_LOCAL const CachedNode* peekNode(long offset);
  // The node at offset, reached from the node before it in a walk.
  QORV_LOCAL const CachedNode* peekNext(const CachedNode* from, long offset);
  const CachedNode* rememberLink(const CachedNode* from, long offset, const CachedNode* to);
  QORV_LOCAL static bool touches(const ERFreeListNode& node, long at, long blockOffset,
                                 std::uint32_t size);
  // Loads the node at offset into out; false (out untouched) when it cannot be trusted.
  bool loadNode(long offset, ERFreeListNode& out);
  // Writes a node through, keeping the cache in step.
  void storeNode(long offset, const ERFreeListNode& node);
  Cache::iterator remember(long offset, const ERFreeListNode& node);
  bool readNode(long offset);
  bool advance() { return readNode(node_.next); }
  void writeNode();
  // Reloads the current node when a failed write may have left the image ahead of the file.
  bool ensureCurrent();
  // After a walk met a corrupt link: the next walk starts from the root again, so a bad
  // cycle is never taken for the whole ring.
  void restartAtRoot();

  int readHeader(long blockOffset, std::uint32_t& size) const;
  void writeHeader(long blockOffset, std::uint32_t size);

  void addToFreeList(long blockOffset, std::uint32_t size);
  Insert insertInto(ERFreeListNode& node, long blockOffset, std::uint32_t size) const;
  void extendFreeList(long blockOffset, std::uint32_t size);
  void deleteNode();

  QORV_LOCAL bool nodeSlotIsSound(long offset) const;
  // Number of nodes a walk may meet before the ring is taken for corrupt.
  std::uint64_t walkLimit() const;

  // Node images as last read or written, so a walk does not read the file again; every
  // write still goes to the file at once. Only this manager writes nodes.
  static constexpr std::size_t kCachedNodes = std::size_t(1) << 17;

  ERFileManager* fm_;
  long current_;
  ERFreeListNode node_;
  bool haveNode_ = false;  // node_ matches the file at current_
  Cache cache_;
  std::uint64_t epoch_ = 1;  // rises whenever a node leaves the cache
  int depth_ = 0;            // allocate calls itself (a new free-list node): trim only outside
  void trimCache();

  // The ring as a whole, kept beside the cache so that a free does not walk past every full
  // node: each node's place along the ring, the free extents by offset, the nodes with room.
  // It answers with the node the walk would stop at, or not at all (then the walk runs);
  // anything it cannot follow drops it, and it is built again from the cache later.
  struct Ring;
  std::unique_ptr<Ring> ring_;
  unsigned ringRetry_ = 0;  // frees to wait before building it again after a failed build
  bool buildRing();
  void dropRing();
  void followRing(long offset, const CachedNode* old, const CachedNode& now);
  // Whether the ring can answer for a walk from origin (built first if need be).
  bool ringReady(long origin);
  // The node a walk from origin along the ring would stop at to free the extent, or -1.
  long ringStop(long origin, long blockOffset, std::uint32_t size);
  // The same for an allocation of need bytes, size word included.
  long ringAllocationStop(long origin, std::uint32_t need);
};

class QORV_API ERFileManager : public ERFile {
 public:
  static constexpr long kRootOffset = 12;
  static constexpr long kFirstBlock = 280;
  static constexpr std::int64_t kMaxOffset = INT32_MAX;  // offsets are 32-bit on disk
  static constexpr std::uint32_t kPageSize = 4096;

  using Synchronous = ERFileManagerSynchronous;
  // What the manager is about to do to the disk, as told to the I/O hook.
  enum class IoEvent { fileWrite, fileSync, journalWrite, journalSync, journalRemove };
  // The hook's answer: go on, fail (nothing done, diskFull thrown), or tear (half the bytes of a
  // write done, then diskFull thrown).
  enum class IoAction { proceed = 0, fail = 1, tear = 2 };
  using IoHook = IoAction (*)(IoEvent event, std::uint32_t bytes, void* data);
  // Process-wide; for tests that crash or starve the disk at a chosen point. Null: none.
  static void setIoHook(IoHook hook, void* data);

  // Opens (creating it if need be) and initialises a new file. Read-only: beside other readers
  // and a writer; read-write: one writer at a time (see Locks above). Throws CFileException when
  // the file cannot be opened, its locks are not given within the lock timeout
  // (sharingViolation), a hot journal cannot be trusted (ERJournalRefused), or it is missing or
  // empty and cannot be initialised because the manager is read-only (accessDenied; a file this
  // call created is removed again).
  ERFileManager(const char* fileName, int readOnly);
  // How long opening and committing wait for other openers' locks; process-wide, 2000 ms.
  static void setLockTimeout(unsigned milliseconds);
  // For a file whose journal was refused: plays back every record that verifies (truncating the
  // file to its length before the transaction when the header is sound), then removes the
  // journal when it was whole or unfinished, else renames it to FILE-journal.damaged. Takes the
  // file's locks as a committing writer does. Throws CFileException when the file or the journal
  // cannot be read or written, or the locks are not given.
  static ERJournalRecovery recoverJournal(const char* fileName);
  ~ERFileManager() override;
  ERFileManager(const ERFileManager&) = delete;
  ERFileManager& operator=(const ERFileManager&) = delete;

  // -1 without a list manager (unrecognised header), or when the free list or endData is
  // corrupt, or the heap would pass the 2 GiB reach of its 32-bit offsets.
  long allocate(std::uint32_t size);
  // Ignores -1, the start block, and an offset whose block does not lie in used space.
  void deallocate(long offset);

  // Transactions (a read-only manager ignores them). Commit throws CFileException when the file
  // cannot be brought up to date; the transaction is then rolled back (in memory and on disk, or,
  // when even that fails, by the journal at the next opening).
  void beginTransaction();
  void commitTransaction();
  void rollbackTransaction();
  bool inTransaction() const { return inTransaction_; }
  void setSynchronous(Synchronous s) { sync_ = s; }
  Synchronous synchronous() const { return sync_; }
  // Clean pages kept, at least 16.
  void setCachePages(std::size_t pages);
  std::string journalPath() const { return GetFilePath() + "-journal"; }
  // Reads the header words again and rebuilds the list manager from what the file holds now
  // (after a rollback).
  void reload();

  // A window over one record: reads that would pass end fail (short) and are remembered, writes
  // that would pass it throw invalidFile having written nothing. end -1: no window.
  struct Window {
    std::int64_t end = -1;
    bool failed = false;
  };
  Window window() const { return window_; }
  std::uint64_t bytesLeft() const override;
  void markDamaged() override {
    if (window_.end >= 0) window_.failed = true;
  }
  void setWindow(Window w) { window_ = w; }

  // The cached file: the framework's reads, writes, seeks and length go through the pages.
  using ERFile::Read;
  using ERFile::Write;
  ::qorv::platform::UINT Read(void* buffer, ::qorv::platform::UINT count) override;
  void Write(const void* buffer, ::qorv::platform::UINT count) override;
  std::uint64_t Seek(std::int64_t offset, ::qorv::platform::UINT from) override;
  std::uint64_t GetLength() const override { return size_; }
  void SetLength(std::uint64_t length) override;
  ::qorv::platform::UINT ReadAt(std::uint64_t position, void* buffer, ::qorv::platform::UINT count);
  // The count bytes at position where they lie in the cache, when one cached page holds them
  // all, else null (nothing is read). Valid until the next read or write through the manager.
  const char* cachedSpan(std::uint64_t position, ::qorv::platform::UINT count) const;
  // Asks for what deallocate(offset) will read, ahead of it; reads and changes nothing.
  void prefetchFree(long offset) const;
  // Whether the page cache can hold every page of the file, so that none is ever dropped.
  bool cachesWholeFile() const { return size_ <= std::uint64_t(cachePages_) * kPageSize; }
  void WriteAt(std::uint64_t position, const void* buffer, ::qorv::platform::UINT count);

  long start() const { return start_; }
  long endData() const { return endData_; }
  int isReadOnly() const { return readOnly_; }
  long rootOffset() const { return kRootOffset; }
  // Null when the header was not recognised.
  ERLMan* listManager() const { return listManager_.get(); }

 protected:
  // Old endData, which then grows by size; no size word. -1 when endData is corrupt or would
  // overflow.
  long allocateAtEnd(std::uint32_t size);
  // 0 when offset + size lies below endData; else endData becomes offset and 1.
  int deallocateFromEnd(long offset, std::uint32_t size);

  virtual void readErr() {}
  virtual void seekErr() {}
  virtual void writeErr() {}

 private:
  friend class ERListManager;

  void writeWord(long offset, std::int32_t value);
  // Positional reads and writes; writes stay inside the header or [kFirstBlock, limit).
  int readAt(long offset, void* p, unsigned n);
  void writeAt(long offset, const void* p, unsigned n);

  struct Page;
  QORV_LOCAL Page* page(std::uint64_t number, bool forWrite);
  QORV_LOCAL Page* cached(std::uint64_t number) const;
  void forget(std::uint64_t number);
  void dropCleanPages();
  void dropAllPages();
  void recoverJournal();
  void ioWrite(::qorv::platform::CFile& f, IoEvent event, std::uint64_t at, const void* p,
               ::qorv::platform::UINT n);
  void ioSync(::qorv::platform::CFile& f, IoEvent event);
  void writeDirtyPages(const std::vector<Page*>& pages);
  void restoreOriginals(const std::vector<Page*>& pages);
  void endTransaction();
  void readHeaderWords();

  std::int32_t readOnly_;
  std::unique_ptr<ERLMan> listManager_;
  std::int32_t start_ = -1;
  std::int32_t endData_ = -1;

  struct PageArena;
  struct PageRelease {
    PageArena* arena = nullptr;
    void operator()(Page* page) const;
  };
  using PagePtr = std::unique_ptr<Page, PageRelease>;
  // A page with its header set and its bytes unset.
  PagePtr newPage();
  std::unique_ptr<PageArena> arena_;  // declared first: the pages go back to it before it goes
  std::vector<PagePtr> pages_;        // by page number
  std::size_t pageCount_ = 0;
  std::size_t hand_ = 0;
  Page* lastPage_ = nullptr;
  std::uint64_t lastNumber_ = 0;  // lastPage_'s number, without reading its header
  std::vector<Page*> dirty_;
  // Whether each page is in dirty_, by number: a write to a page already changed then reads
  // this dense table, not the page's header (a cache miss of its own in a large file).
  std::vector<std::uint8_t> dirtyPages_;
  std::size_t cachePages_ = 16384;
  std::uint64_t size_ = 0;      // the file's length as seen through the cache
  std::uint64_t diskSize_ = 0;  // its length on disk
  std::uint64_t txnSize_ = 0;   // its length when the transaction began
  bool inTransaction_ = false;
  bool exclusive_ = false;  // holds PENDING and SHARED exclusively
  Synchronous sync_ = Synchronous::full;
  Window window_;
};
