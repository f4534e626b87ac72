// qorv/support/vec_rep.h
//
// ERVecRep, the shared, copy-on-write storage block behind every QuickAlgebra vector and
// matrix, its process-wide capacity settings, and ERVecRepCache, the per-thread cache of free
// blocks it is recycled through.
//
// Block (one heap allocation, host-native words; a handle points at the data):
//   OFFSET  SIZE      FIELD
//        0     4      holders - 1, atomic: 0 is one holder (a private block)
//        4     4      padding
//        8     8      capacity in bytes
//       16     8      length in bytes (elements = length / element size)
//       24     8      pointer to the data (offset 32)
//       32  capacity  the data
// Stored record (ERFile): a 4-byte byte length, then the raw bytes (little-endian values).
//
// Capacity policy (process-wide, each setter returns the previous value): a request for n bytes
// gets the initial capacity (64) when n is at most that, else initial + k * increment (64), the
// smallest such value >= n: 1 and 64 bytes -> 64, 65 -> 128, 129 -> 192. Growth by appending
// asks for at least 1.5 times the old capacity, so appends are amortised. A block shrinks when
// resizing would leave more than maxWaste (64) bytes unused.
//
// Conventions a caller gets wrong:
// - One process-wide empty block (nullRep()) is shared by every empty vector; it is never freed
//   nor counted, and it always reads as shared, so any write into it takes a block of its own.
// - Never write into a shared block (isShared()): own() it first. The handles of
//   qorv/support/quick_algebra.h do this on every non-const access.
// - getRep and release go through the calling thread's cache: a block released on another
//   thread than the one that took it joins the releasing thread's cache. Blocks over 0x20000
//   bytes, and blocks released after the thread's data is gone (static handles destroyed at
//   exit), go to the heap.
// - getRep(ERFile&) returns null on a short read, a negative length, or a length larger than the
//   rest of the file (it never allocates for a length the file cannot hold).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "qorv/platform/api.h"
#include "qorv/foundation/assert.h"
#include "qorv/support/ptr_vector.h"

class ERFile;

class QORV_API ERVecRep {
 public:
  // Blocks of larger capacity are never cached.
  static constexpr std::size_t kMaxCached = 0x20000;

  // Settings; the increment is at least 1.
  static std::size_t initialCapacity(std::size_t bytes);
  static std::size_t resizeIncrement(std::size_t bytes);
  static std::size_t maxWaste(std::size_t bytes);
  static std::size_t getInitialCapacity();
  static std::size_t getResizeIncrement();
  static std::size_t getMaxWaste();
  static std::size_t adjustCapacity(std::size_t bytes);

  // The shared empty block.
  static ERVecRep* nullRep() { return &nullref; }

  // A private block of `bytes` bytes, zero-filled unless noZero.
  static ERVecRep* getRep(std::size_t bytes, int noZero = 0);
  // count copies of the elementSize-byte value.
  static ERVecRep* getRep(std::size_t count, std::size_t elementSize, const void* value);
  // A copy of raw data.
  static ERVecRep* getRep(const void* data, std::size_t bytes);
  // A stored record, or null (see the header comment); a file exception is caught and deleted.
  static ERVecRep* getRep(ERFile& file);
  // A private block of `bytes` bytes holding rep's first min(bytes, length) bytes, then zeros.
  static ERVecRep* clone(const ERVecRep* rep, std::size_t bytes);

  // Consume one holder of rep and return a private block with the same bytes (rep itself when it
  // was private already).
  static ERVecRep* own(ERVecRep* rep);
  // The same with the length changed to `bytes` (new bytes zero); shrinks when the waste would
  // pass maxWaste, grows amortised when `amortised`.
  static ERVecRep* resize(ERVecRep* rep, std::size_t bytes, bool amortised = false);
  // The same with at least `bytes` of capacity and the length unchanged.
  static ERVecRep* reserve(ERVecRep* rep, std::size_t bytes);

  // One more holder.
  ERVecRep* duplicate() {
    if (this != &nullref) refs_.fetch_add(1, std::memory_order_relaxed);
    return this;
  }
  // One holder less; the last one releases the block (the sole holder skips the atomic write).
  void free() {
    if (this == &nullref) return;
    if (refs_.load(std::memory_order_acquire) == 0 ||
        refs_.fetch_sub(1, std::memory_order_acq_rel) == 0)
      release();
  }

  // The block whose data starts at `data`.
  static ERVecRep* of(const void* data) {
    return reinterpret_cast<ERVecRep*>(const_cast<char*>(static_cast<const char*>(data))) - 1;
  }
  char* data() { return reinterpret_cast<char*>(this + 1); }
  const char* data() const { return reinterpret_cast<const char*>(this + 1); }
  std::size_t length() const { return static_cast<std::size_t>(length_); }
  // Within the capacity, on a private block.
  void setLength(std::size_t bytes) {
    QORV_ASSERT(bytes <= capacity_ && !isShared());
    length_ = bytes;
  }
  std::size_t capacity() const { return static_cast<std::size_t>(capacity_); }
  bool isShared() const { return refs_.load(std::memory_order_acquire) != 0; }
  // Holders (the empty block reports a large constant).
  std::uint32_t references() const { return refs_.load(std::memory_order_relaxed) + 1; }

  // Fills every element of the length with the elementSize-byte value (private block).
  void init(const void* value, std::size_t elementSize);
  // Strided edits of a private block, as matrices add and drop rows and columns. Offsets are in
  // the block as it is before the edit; the runs must lie in it and not overlap.
  // Inserts `bytes` zero bytes before each offset at + k * stride, k < count (at + k * stride
  // may equal the length: an insertion at the end). Returns the block holding the result.
  ERVecRep* polyInsert(std::size_t at, std::size_t stride, std::size_t count, std::size_t bytes);
  // Removes `bytes` bytes at each offset at + k * stride, k < count.
  ERVecRep* polyRemove(std::size_t at, std::size_t stride, std::size_t count, std::size_t bytes);
  // Copies count runs of `bytes` bytes, consecutive in src, to the offsets at + k * stride.
  void replace(std::size_t at, std::size_t stride, std::size_t count, const void* src,
               std::size_t bytes);

  void saveGuts(ERFile& file) const;
  std::uint32_t binaryStoreSize() const { return static_cast<std::uint32_t>(length_ + 4); }

 private:
  friend class ERVecRepCache;
  friend struct ERVecRepInternals;
  constexpr ERVecRep() : refs_(0x7FFFFFFFu), pad_(0), capacity_(0), length_(0), data_(nullptr) {}
  // Gives the memory back (cache or heap).
  void release();

  static ERVecRep nullref;

  std::atomic<std::uint32_t> refs_;
  [[maybe_unused]] std::uint32_t pad_;  // keeps capacity_ 8-aligned whatever the atomic's size
  std::uint64_t capacity_;
  std::uint64_t length_;  // while cached: the next block of the same capacity
  char* data_;            // while cached: the next capacity class of the bucket
};

// The per-thread cache of free blocks: a hash table keyed by capacity (20 buckets to start,
// doubled as capacity classes accumulate), each bucket a chain of capacity classes, each class
// a stack of blocks linked through their headers. When a release finds the cached bytes over
// byteLimit() or the cached blocks over blockLimit(), the whole cache is emptied first.
class QORV_API ERVecRepCache {
 public:
  static constexpr std::size_t kByteLimit = 0x1FA000;
  static constexpr std::size_t kBlockLimit = 10000;
  static constexpr int kInitialBuckets = 20;

  ERVecRepCache();
  ~ERVecRepCache() { empty(); }
  ERVecRepCache(const ERVecRepCache&) = delete;
  ERVecRepCache& operator=(const ERVecRepCache&) = delete;

  // A cached block of exactly this capacity, or null.
  ERVecRep* take(std::size_t capacity);
  // Caches a free block of at most ERVecRep::kMaxCached bytes.
  void put(ERVecRep* block);
  // Frees every cached block.
  void empty();

  std::size_t bytes() const { return bytes_; }
  std::size_t blocks() const { return blocks_; }
  std::size_t byteLimit() const { return byteLimit_; }
  std::size_t blockLimit() const { return blockLimit_; }
  int buckets() const { return table_.length(); }

 private:
  friend struct ERVecRepInternals;
  // Fibonacci hashing, then a multiply-shift into the bucket range: no division.
  std::size_t bucketOf(std::size_t capacity) const {
    const std::uint32_t h = static_cast<std::uint32_t>(capacity >> 3) * 0x9E3779B1u;
    return static_cast<std::size_t>(
        (static_cast<std::uint64_t>(h) * static_cast<std::uint32_t>(table_.length())) >> 32);
  }
  void grow();

  // Each count beside its limit: two adjacent counts get updated as one vector in one path and
  // as two words in the other, and the wide load then waits for both narrow stores.
  std::size_t byteLimit_ = kByteLimit;
  std::size_t bytes_ = 0;
  std::size_t blockLimit_ = kBlockLimit;
  std::size_t blocks_ = 0;
  ERPtrVector table_;
  std::size_t classes_ = 0;
};
