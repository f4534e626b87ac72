// qorv/support/mem_pool.h
//
// The size-class allocator for small objects (list nodes, hash-table nodes, sampling nodes):
// ERChunk is one 4096-byte chunk of fixed-size slots, ERMemPool a pool of chunks for one slot
// size, ERMemoryPool the allocation operators that pick the calling thread's pool for a size.
//
// Chunk layout (a plain heap block, host-native words):
//   OFFSET            SIZE  FIELD
//        0               8  element size (the pool's)
//        8               8  capacity = 4032 / (element size + 8) slots
//       16               8  index of the next never-used slot
//       24               8  elements in use
//       32               8  previous chunk
//       40               8  next chunk
//       48               8  head of the chunk's free list (linked through the elements)
//       56               8  owning pool (null once the pool is gone, see below)
//       64 + i*(es + 8)  8  slot i: a pointer back to the chunk
//       72 + i*(es + 8) es  slot i: the element
// A chunk hands out at most capacity - 1 never-used slots: it is full when next + 1 == capacity.
// (es + 8 is rounded up to a multiple of 8 for pools whose element size is not one; the pools
// of the thread table have elements of 8 (k + 1) bytes and need no rounding.)
//
// Block handed out by ERMemoryPool (the element, or a heap block of n + 8 bytes):
//        0               8  the chunk that served it, or 0 for a heap block
//        8               n  the caller's bytes (8-byte aligned)
// Sizes: a request of n bytes has size class k = (n + 8) / 8; k < 49 (n < 384) is served by
// pool k of the calling thread, whose elements are 8 (k + 1) bytes (24 bytes -> pool 4, 40-byte
// elements; 376 -> pool 48); larger requests go to the heap.
//
// Conventions a caller gets wrong:
// - A pool slot must be released on the thread whose pool served it (pools take no lock).
//   Heap blocks may be released anywhere. When a thread ends, its pools free the chunks that
//   hold nothing and abandon the others to their outstanding elements: such an element may then
//   be released from any thread (the last one frees the chunk), so a static list whose nodes
//   outlive the main thread's data stays safe.
// - With a free threshold of 0 a released element goes straight back to its chunk, and a chunk
//   left empty is deleted. Otherwise released elements wait on the pool's free list and are
//   returned to their chunks in one pass (collateFreeSpace) once the list holds more than the
//   threshold; ERMemPool::kNever never collates.
// - purge() deletes every chunk, in use or not: only an owner that drops all its elements at
//   once (the sampling lists) calls it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "qorv/platform/api.h"

class ERMemPool;

// The library's debug level; above 0, collateFreeSpace traces its passes to the debug output.
QORV_API int qorvDebugLevel();
// Returns the previous level.
QORV_API int qorvSetDebugLevel(int level);

class QORV_API ERChunk {
 public:
  static constexpr std::size_t kSize = 4096;
  static constexpr std::size_t kHeader = 64;

  // A new, unlinked chunk for elements of elementSize bytes (the heap's failure behaviour).
  static ERChunk* create(ERMemPool* pool, std::size_t elementSize);

  // The head of the chunk's free list, else the next never-used slot; null when full.
  void* GetNextFreeItem();
  // Puts the element back on this chunk's free list.
  void FreeItem(void* element);
  ERChunk* GetPrevious() const { return previous_; }
  ERChunk* GetNext() const { return next_; }
  // Links this chunk right after `after`.
  void linkAfter(ERChunk* after);
  // Unlinks the chunk from its neighbours and frees it.
  void unlinkAndDelete();

  std::size_t elementSize() const { return static_cast<std::size_t>(elementSize_); }
  std::size_t capacity() const { return static_cast<std::size_t>(capacity_); }
  std::size_t inUse() const {
    return static_cast<std::size_t>(inUse_.load(std::memory_order_relaxed));
  }
  ERMemPool* pool() const { return pool_; }

  // The chunk of an element handed out by a pool (the pointer stored before it).
  static ERChunk* of(const void* element) {
    return *reinterpret_cast<ERChunk* const*>(static_cast<const char*>(element) - 8);
  }

 private:
  friend class ERMemPool;
  friend class ERMemoryPool;
  ERChunk(ERMemPool* pool, std::size_t elementSize);
  ~ERChunk() = default;
  // Releases an element of a chunk whose pool is gone; the last one frees the chunk.
  void releaseOrphan();

  std::uint64_t elementSize_;
  std::uint64_t capacity_;
  std::uint64_t nextNew_;
  // Written only by the owning thread while the pool lives; atomically by any thread after.
  std::atomic<std::int64_t> inUse_;
  ERChunk* previous_;
  ERChunk* next_;
  void* freeList_;
  ERMemPool* pool_;
};

class QORV_API ERMemPool {
 public:
  // A free threshold that never collates.
  static constexpr std::size_t kNever = ~static_cast<std::size_t>(0);

  // Elements of size + 8 bytes.
  ERMemPool(std::size_t size, std::size_t freeThreshold);
  ~ERMemPool();  // purge()
  ERMemPool(const ERMemPool&) = delete;
  ERMemPool& operator=(const ERMemPool&) = delete;

  // One element of elementSize() bytes; null when such an element cannot fit a chunk at all.
  void* allocate();
  void release(void* element);
  // Returns every element of the pool's free list to its chunk, deleting chunks left empty.
  void collateFreeSpace();
  // Deletes every chunk and forgets the free list.
  void purge();
  // At thread exit: collates, deletes the empty chunks, abandons those still in use.
  void retire();

  std::size_t elementSize() const { return elementSize_; }
  std::size_t freeThreshold() const { return threshold_; }
  // Elements waiting on the pool's free list.
  std::size_t freeCount() const { return count_; }
  ERChunk* currentChunk() const { return current_; }
  // The per-thread data a pool of the thread table belongs to (null for other pools); only
  // assertion builds check it on release.
  const void* owner() const { return owner_; }
  void setOwner(const void* owner) { owner_ = owner; }
  // Chunks reachable from the current one (a walk; tests and diagnostics).
  std::size_t chunkCount() const;

 private:
  void deleteChunk(ERChunk* chunk);
  void returnToChunk(void* element);
  template <class F>
  void forEachChunk(F f);

  ERChunk* current_ = nullptr;
  std::size_t elementSize_;
  std::size_t threshold_;
  std::size_t count_ = 0;
  void* freeList_ = nullptr;
  const void* owner_ = nullptr;
};

// The allocation operators. Classes that derive from ERMemoryPool take their objects from the
// size-class pools; the static forms serve raw blocks. Every form is released by release().
class QORV_API ERMemoryPool {
 public:
  static constexpr std::size_t kClasses = 48;
  // Requests below this many bytes come from the pools.
  static constexpr std::size_t kPooledLimit = 8 * (kClasses + 1) - 8;

  static void* allocate(std::size_t n);
  // From the given pool when n + 8 bytes fit its elements, else from the heap.
  static void* allocate(std::size_t n, ERMemPool& pool);
  // n * count bytes (an overflowing product is the heap's failure).
  static void* allocate(std::size_t n, std::size_t count);
  // Any block of the three forms; null does nothing.
  static void release(void* p);

  // The size class of a request, 0 for the heap.
  static int sizeClass(std::size_t n) {
    return n < kPooledLimit ? static_cast<int>((n + 8) / 8) : 0;
  }
  // The chunk that served a block, null for a heap block.
  static ERChunk* chunkOf(const void* p) {
    return *reinterpret_cast<ERChunk* const*>(static_cast<const char*>(p) - 8);
  }

  static void* operator new(std::size_t n) { return allocate(n); }
  static void* operator new(std::size_t n, ERMemPool& pool) { return allocate(n, pool); }
  static void* operator new[](std::size_t n) { return allocate(n); }
  static void operator delete(void* p) noexcept { release(p); }
  static void operator delete(void* p, ERMemPool&) noexcept { release(p); }
  static void operator delete[](void* p) noexcept { release(p); }
};
