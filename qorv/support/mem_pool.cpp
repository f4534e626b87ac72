#include "qorv/support/mem_pool.h"

#include <limits>
#include <new>

#include "qorv/platform/debug.h"
#include "qorv/foundation/assert.h"
#include "qorv/foundation/thread_data.h"

using namespace qorv::platform;

namespace {

std::atomic<int> g_debugLevel{0};

// Elements are chained through their first word while free.
inline void*& link(void* element) { return *static_cast<void**>(element); }

constexpr std::size_t kSlotArea = ERChunk::kSize - ERChunk::kHeader;

// A slot: the chunk pointer and the element, rounded up to whole words so that every chunk
// pointer stays aligned (the pools of the thread table need no rounding).
inline std::size_t slotSize(std::size_t elementSize) {
  return (elementSize + 8 + 7) & ~std::size_t{7};
}

}  // namespace

int qorvDebugLevel() { return g_debugLevel.load(std::memory_order_relaxed); }
int qorvSetDebugLevel(int level) { return g_debugLevel.exchange(level); }

// -------------------------------------------------------------------------------------------
static_assert(sizeof(ERChunk) == ERChunk::kHeader, "the chunk header is 64 bytes");

ERChunk::ERChunk(ERMemPool* pool, std::size_t elementSize)
    : elementSize_(elementSize),
      capacity_(kSlotArea / slotSize(elementSize)),
      nextNew_(0),
      inUse_(0),
      previous_(nullptr),
      next_(nullptr),
      freeList_(nullptr),
      pool_(pool) {}

ERChunk* ERChunk::create(ERMemPool* pool, std::size_t elementSize) {
  void* block = ::operator new (kSize, std::align_val_t{64});
  return new (block) ERChunk(pool, elementSize);
}

void* ERChunk::GetNextFreeItem() {
  void* element = freeList_;
  if (element != nullptr) {
    freeList_ = link(element);
  } else {
    if (nextNew_ + 1 >= capacity_) return nullptr;
    char* slot = reinterpret_cast<char*>(this) + kHeader + nextNew_ * slotSize(elementSize_);
    *reinterpret_cast<ERChunk**>(slot) = this;
    element = slot + 8;
    ++nextNew_;
  }
  inUse_.store(inUse_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  return element;
}

void ERChunk::FreeItem(void* element) {
  link(element) = freeList_;
  freeList_ = element;
  inUse_.store(inUse_.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
}

void ERChunk::linkAfter(ERChunk* after) {
  previous_ = after;
  next_ = after != nullptr ? after->next_ : nullptr;
  if (after != nullptr) after->next_ = this;
  if (next_ != nullptr) next_->previous_ = this;
}

void ERChunk::unlinkAndDelete() {
  if (previous_ != nullptr) previous_->next_ = next_;
  if (next_ != nullptr) next_->previous_ = previous_;
  this->~ERChunk();
  ::operator delete (static_cast<void*>(this), std::align_val_t{64});
}

void ERChunk::releaseOrphan() {
  if (inUse_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    this->~ERChunk();
    ::operator delete (static_cast<void*>(this), std::align_val_t{64});
  }
}

// -------------------------------------------------------------------------------------------
ERMemPool::ERMemPool(std::size_t size, std::size_t freeThreshold)
    : elementSize_(size + 8), threshold_(freeThreshold) {}

ERMemPool::~ERMemPool() { purge(); }

void* ERMemPool::allocate() {
  if (freeList_ != nullptr) {
    void* element = freeList_;
    freeList_ = link(element);
    --count_;
    return element;
  }
  // A chunk that cannot hand out one slot would be replaced forever.
  if (kSlotArea / slotSize(elementSize_) < 2) return nullptr;
  if (current_ == nullptr) current_ = ERChunk::create(this, elementSize_);
  if (void* element = current_->GetNextFreeItem()) return element;
  ERChunk* fresh = ERChunk::create(this, elementSize_);
  fresh->linkAfter(current_);
  current_ = fresh;
  return fresh->GetNextFreeItem();
}

void ERMemPool::deleteChunk(ERChunk* chunk) {
  if (chunk == current_) current_ = chunk->previous_ != nullptr ? chunk->previous_ : chunk->next_;
  chunk->unlinkAndDelete();
}

void ERMemPool::returnToChunk(void* element) {
  ERChunk* chunk = ERChunk::of(element);
  chunk->FreeItem(element);
  if (chunk->inUse_.load(std::memory_order_relaxed) == 0) deleteChunk(chunk);
}

void ERMemPool::release(void* element) {
  if (threshold_ == 0) {
    returnToChunk(element);
    return;
  }
  link(element) = freeList_;
  freeList_ = element;
  ++count_;
  if (threshold_ != kNever && count_ > threshold_) collateFreeSpace();
}

void ERMemPool::collateFreeSpace() {
  const bool trace = qorvDebugLevel() > 0;
  if (trace) OutputDebugStringA("Garbage Collecting ");
  while (freeList_ != nullptr) {
    void* element = freeList_;
    freeList_ = link(element);
    returnToChunk(element);
  }
  count_ = 0;
  if (trace) OutputDebugStringA("done\n");
}

template <class F>
void ERMemPool::forEachChunk(F f) {
  if (current_ == nullptr) return;
  ERChunk* before = current_->previous_;
  for (ERChunk* c = current_; c != nullptr;) {
    ERChunk* next = c->next_;
    f(c);
    c = next;
  }
  while (before != nullptr) {
    ERChunk* previous = before->previous_;
    f(before);
    before = previous;
  }
}

void ERMemPool::purge() {
  forEachChunk([](ERChunk* c) {
    c->~ERChunk();
    ::operator delete (static_cast<void*>(c), std::align_val_t{64});
  });
  current_ = nullptr;
  freeList_ = nullptr;
  count_ = 0;
}

void ERMemPool::retire() {
  if (freeList_ != nullptr) collateFreeSpace();
  forEachChunk([](ERChunk* c) {
    if (c->inUse_.load(std::memory_order_relaxed) == 0) {
      c->~ERChunk();
      ::operator delete (static_cast<void*>(c), std::align_val_t{64});
    } else {
      // The outstanding elements free it; publish the orphan state with the count.
      c->previous_ = c->next_ = nullptr;
      c->freeList_ = nullptr;
      c->pool_ = nullptr;
      c->inUse_.store(c->inUse_.load(std::memory_order_relaxed), std::memory_order_release);
    }
  });
  current_ = nullptr;
}

std::size_t ERMemPool::chunkCount() const {
  std::size_t n = 0;
  const_cast<ERMemPool*>(this)->forEachChunk([&n](ERChunk*) { ++n; });
  return n;
}

// -------------------------------------------------------------------------------------------
namespace {

// The word before the caller's bytes holds the serving chunk.
inline void* handOut(void* element) {
  *static_cast<ERChunk**>(element) = ERChunk::of(element);
  return static_cast<char*>(element) + 8;
}

void* fromHeap(std::size_t n) {
  if (n > std::numeric_limits<std::size_t>::max() - 8) throw std::bad_alloc();
  void* block = ::operator new(n + 8);
  *static_cast<ERChunk**>(block) = nullptr;
  return static_cast<char*>(block) + 8;
}

}  // namespace

void* ERMemoryPool::allocate(std::size_t n) {
  if (n < kPooledLimit) {
    if (qorvThreadLocalData* data = qorvThreadLocalData::current()) {
      if (void* element = data->pool(static_cast<int>((n + 8) / 8))->allocate())
        return handOut(element);
    }
  }
  return fromHeap(n);
}

void* ERMemoryPool::allocate(std::size_t n, ERMemPool& pool) {
  if (n <= pool.elementSize() - 8) {
    if (void* element = pool.allocate()) return handOut(element);
  }
  return fromHeap(n);
}

void* ERMemoryPool::allocate(std::size_t n, std::size_t count) {
  if (count != 0 && n > std::numeric_limits<std::size_t>::max() / count) throw std::bad_alloc();
  return allocate(n * count);
}

void ERMemoryPool::release(void* p) {
  if (p == nullptr) return;
  ERChunk* chunk = chunkOf(p);
  void* element = static_cast<char*>(p) - 8;
  if (chunk == nullptr) {
    ::operator delete(element);
  } else if (ERMemPool* pool = chunk->pool_) {
    QORV_ASSERT(pool->owner() == nullptr || pool->owner() == qorvThreadLocalData::peek());
    pool->release(element);
  } else {
    chunk->releaseOrphan();
  }
}
