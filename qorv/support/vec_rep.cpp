#include "qorv/support/vec_rep.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

#include "qorv/platform/file.h"
#include "qorv/foundation/thread_data.h"
#include "qorv/persistence/file.h"

using namespace qorv::platform;

// The stored record is the raw bytes of little-endian values.
static_assert(std::endian::native == std::endian::little, "vector records are host images");
static_assert(sizeof(ERVecRep) == 32, "the block header is 32 bytes");

namespace {

std::atomic<std::size_t> g_initial{64};
std::atomic<std::size_t> g_increment{64};
std::atomic<std::size_t> g_waste{64};

// Past this a request is the heap's failure, before any capacity arithmetic can wrap.
constexpr std::size_t kMaxBytes = std::numeric_limits<std::size_t>::max() / 4;

inline bool fits(std::size_t at, std::size_t stride, std::size_t count, std::size_t run,
                 std::size_t length) {
  if (count == 0) return true;
  if (count > 1 && stride > (kMaxBytes - at) / (count - 1)) return false;
  const std::size_t last = at + (count - 1) * stride;
  return last <= length && run <= length - last;
}

}  // namespace

// What the hot paths need, inlined into this file's callers: capacity arithmetic, the cache's
// take and put, block allocation and release. The exported members forward here.
struct ERVecRepInternals {
  static std::size_t capacityFor(std::size_t bytes) {
    const std::size_t initial = g_initial.load(std::memory_order_relaxed);
    if (bytes <= initial) return initial;
    if (bytes > kMaxBytes) throw std::bad_alloc();
    const std::size_t inc = g_increment.load(std::memory_order_relaxed);
    const std::size_t span = bytes - 1 + inc - initial;
    // The default increment is a power of two: a mask, not a division.
    return initial + ((inc & (inc - 1)) == 0 ? span & ~(inc - 1) : span / inc * inc);
  }

  // The links of a cached block live in its header: length_ chains the blocks of one capacity,
  // data_ chains the capacity classes of one bucket (through each class's top block).
  static ERVecRep* same(const ERVecRep* b) {
    return reinterpret_cast<ERVecRep*>(static_cast<std::uintptr_t>(b->length_));
  }
  static void setSame(ERVecRep* b, ERVecRep* n) {
    b->length_ = reinterpret_cast<std::uintptr_t>(n);
  }
  static ERVecRep* nextClass(const ERVecRep* b) { return reinterpret_cast<ERVecRep*>(b->data_); }
  static void setNextClass(ERVecRep* b, ERVecRep* n) { b->data_ = reinterpret_cast<char*>(n); }

  static ERVecRep* take(ERVecRepCache& c, std::size_t capacity) {
    void** slot = c.table_.data() + c.bucketOf(capacity);
    ERVecRep* previous = nullptr;
    for (ERVecRep* head = static_cast<ERVecRep*>(*slot); head != nullptr;
         previous = head, head = nextClass(head)) {
      if (head->capacity_ != capacity) continue;
      ERVecRep* after = nextClass(head);
      if (ERVecRep* below = same(head)) {
        setNextClass(below, after);
        after = below;
      } else {
        --c.classes_;
      }
      if (previous != nullptr)
        setNextClass(previous, after);
      else
        *slot = after;
      c.bytes_ -= capacity;
      --c.blocks_;
      return head;
    }
    return nullptr;
  }

  static void put(ERVecRepCache& c, ERVecRep* block) {
    if (c.bytes_ > c.byteLimit_ || c.blocks_ > c.blockLimit_) c.empty();
    const std::size_t capacity = block->capacity_;
    void** slot = c.table_.data() + c.bucketOf(capacity);
    ERVecRep* previous = nullptr;
    ERVecRep* head = static_cast<ERVecRep*>(*slot);
    while (head != nullptr && head->capacity_ != capacity) {
      previous = head;
      head = nextClass(head);
    }
    if (head != nullptr) {
      setSame(block, head);
      setNextClass(block, nextClass(head));
      if (previous != nullptr)
        setNextClass(previous, block);
      else
        *slot = block;
    } else {
      setSame(block, nullptr);
      setNextClass(block, static_cast<ERVecRep*>(*slot));
      *slot = block;
      if (++c.classes_ > 2 * static_cast<std::size_t>(c.table_.length())) c.grow();
    }
    c.bytes_ += capacity;
    ++c.blocks_;
  }

  // The data starts on a cache line (the 32-byte header ends one): stores of a whole vector
  // never straddle two lines.
  static constexpr std::size_t kLine = 64;
  static void* heapBlock(std::size_t capacity) {
    char* raw = static_cast<char*>(::operator new (capacity + kLine, std::align_val_t{kLine}));
    return raw + (kLine - sizeof(ERVecRep));
  }
  static void freeHeapBlock(ERVecRep* rep) {
    ::operator delete (reinterpret_cast<char*>(rep) - (kLine - sizeof(ERVecRep)),
                       std::align_val_t{kLine});
  }

  // A fresh block of exactly `capacity` bytes, length `bytes`, one holder.
  static ERVecRep* allocate(std::size_t capacity, std::size_t bytes) {
    void* memory = nullptr;
    if (capacity <= ERVecRep::kMaxCached) {
      if (qorvThreadLocalData* d = qorvThreadLocalData::current())
        memory = take(d->vecCache(), capacity);
    }
    if (memory == nullptr) memory = heapBlock(capacity);
    auto* rep = new (memory) ERVecRep();
    rep->refs_.store(0, std::memory_order_relaxed);
    rep->capacity_ = capacity;
    rep->length_ = bytes;
    rep->data_ = rep->data();
    return rep;
  }

  static void recycle(ERVecRep* rep) {
    if (rep->capacity_ <= ERVecRep::kMaxCached) {
      if (qorvThreadLocalData* d = qorvThreadLocalData::current()) {
        put(d->vecCache(), rep);
        return;
      }
    }
    freeHeapBlock(rep);
  }

  // ERVecRep::free() for this file's own calls.
  static void unref(ERVecRep* rep) {
    if (rep == &ERVecRep::nullref) return;
    if (rep->refs_.load(std::memory_order_acquire) == 0 ||
        rep->refs_.fetch_sub(1, std::memory_order_acq_rel) == 0)
      recycle(rep);
  }
};

using I = ERVecRepInternals;

constinit ERVecRep ERVecRep::nullref;

std::size_t ERVecRep::initialCapacity(std::size_t bytes) { return g_initial.exchange(bytes); }
std::size_t ERVecRep::resizeIncrement(std::size_t bytes) {
  return g_increment.exchange(std::max<std::size_t>(bytes, 1));
}
std::size_t ERVecRep::maxWaste(std::size_t bytes) { return g_waste.exchange(bytes); }
std::size_t ERVecRep::getInitialCapacity() { return g_initial.load(std::memory_order_relaxed); }
std::size_t ERVecRep::getResizeIncrement() { return g_increment.load(std::memory_order_relaxed); }
std::size_t ERVecRep::getMaxWaste() { return g_waste.load(std::memory_order_relaxed); }
std::size_t ERVecRep::adjustCapacity(std::size_t bytes) { return I::capacityFor(bytes); }

void ERVecRep::release() { I::recycle(this); }

ERVecRep* ERVecRep::getRep(std::size_t bytes, int noZero) {
  ERVecRep* rep = I::allocate(I::capacityFor(bytes), bytes);
  if (!noZero) std::memset(rep->data(), 0, bytes);
  return rep;
}

ERVecRep* ERVecRep::getRep(std::size_t count, std::size_t elementSize, const void* value) {
  if (elementSize != 0 && count > kMaxBytes / elementSize) throw std::bad_alloc();
  ERVecRep* rep = getRep(count * elementSize, 1);
  rep->init(value, elementSize);
  return rep;
}

ERVecRep* ERVecRep::getRep(const void* data, std::size_t bytes) {
  ERVecRep* rep = getRep(bytes, 1);
  if (bytes != 0) std::memcpy(rep->data(), data, bytes);
  return rep;
}

ERVecRep* ERVecRep::getRep(ERFile& file) {
  ERVecRep* rep = nullptr;
  try {
    int n = 0;
    if (!file.Read(n) || n < 0) return nullptr;
    const std::uint64_t end = file.GetLength();
    const std::uint64_t position = file.GetPosition();
    if (position > end || static_cast<std::uint64_t>(n) > end - position) return nullptr;
    rep = getRep(static_cast<std::size_t>(n), 1);
    if (n > 0 && !file.Read(rep->data(), static_cast<unsigned>(n))) {
      I::unref(rep);
      return nullptr;
    }
    return rep;
  } catch (CFileException& e) {
  } catch (const std::bad_alloc&) {
  }
  if (rep != nullptr) I::unref(rep);
  return nullptr;
}

ERVecRep* ERVecRep::clone(const ERVecRep* rep, std::size_t bytes) {
  ERVecRep* copy = getRep(bytes, 1);
  const std::size_t kept = std::min<std::size_t>(bytes, rep->length_);
  if (kept != 0) std::memcpy(copy->data(), rep->data(), kept);
  if (bytes > kept) std::memset(copy->data() + kept, 0, bytes - kept);
  return copy;
}

ERVecRep* ERVecRep::own(ERVecRep* rep) {
  if (!rep->isShared() || rep == &nullref) return rep;
  ERVecRep* copy = clone(rep, rep->length());
  I::unref(rep);
  return copy;
}

ERVecRep* ERVecRep::resize(ERVecRep* rep, std::size_t bytes, bool amortised) {
  if (bytes == 0) {
    I::unref(rep);
    return &nullref;
  }
  const std::size_t old = rep->length();
  auto wasteOk = [&] {
    const std::size_t fit = I::capacityFor(bytes);
    return rep->capacity_ <= fit || rep->capacity_ - fit <= getMaxWaste();
  };
  if (!rep->isShared() && bytes <= rep->capacity_ && (bytes >= old || wasteOk())) {
    if (bytes > old) std::memset(rep->data() + old, 0, bytes - old);
    rep->length_ = bytes;
    return rep;
  }
  std::size_t want = bytes;
  if (amortised && rep != &nullref) want = std::max(bytes, rep->capacity() + rep->capacity() / 2);
  ERVecRep* fresh = I::allocate(I::capacityFor(want), bytes);
  const std::size_t kept = std::min(bytes, old);
  if (kept != 0) std::memcpy(fresh->data(), rep->data(), kept);
  if (bytes > kept) std::memset(fresh->data() + kept, 0, bytes - kept);
  I::unref(rep);
  return fresh;
}

ERVecRep* ERVecRep::reserve(ERVecRep* rep, std::size_t bytes) {
  if (rep->capacity_ >= bytes && !rep->isShared()) return rep;
  const std::size_t length = rep->length();
  ERVecRep* fresh = I::allocate(I::capacityFor(std::max(bytes, length)), length);
  if (length != 0) std::memcpy(fresh->data(), rep->data(), length);
  I::unref(rep);
  return fresh;
}

void ERVecRep::init(const void* value, std::size_t elementSize) {
  QORV_ASSERT(!isShared());
  if (elementSize == 0 || length_ == 0) return;
  char* out = data();
  const std::size_t n = length_ / elementSize;
  if (elementSize == 8) {
    std::uint64_t word;
    std::memcpy(&word, value, 8);
    std::fill_n(reinterpret_cast<std::uint64_t*>(out), n, word);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) std::memcpy(out + i * elementSize, value, elementSize);
}

ERVecRep* ERVecRep::polyInsert(std::size_t at, std::size_t stride, std::size_t count,
                               std::size_t bytes) {
  const std::size_t length = this->length();
  const bool valid = !isShared() && fits(at, stride, count, 0, length) &&
                     (count == 0 || bytes <= (kMaxBytes - length) / count);
  QORV_ASSERT(valid);
  if (!valid || count == 0 || bytes == 0) return this;
  const std::size_t grown = length + count * bytes;
  auto position = [&](std::size_t k) { return k < count ? at + k * stride : length; };
  if (grown <= capacity_) {
    char* d = data();
    for (std::size_t k = count; k-- > 0;) {
      const std::size_t from = position(k);
      std::memmove(d + from + (k + 1) * bytes, d + from, position(k + 1) - from);
      std::memset(d + from + k * bytes, 0, bytes);
    }
    length_ = grown;
    return this;
  }
  ERVecRep* fresh =
      I::allocate(I::capacityFor(std::max(grown, capacity() + capacity() / 2)), grown);
  const char* s = data();
  char* d = fresh->data();
  std::memcpy(d, s, position(0));
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t from = position(k);
    std::memset(d + from + k * bytes, 0, bytes);
    std::memcpy(d + from + (k + 1) * bytes, s + from, position(k + 1) - from);
  }
  I::unref(this);
  return fresh;
}

ERVecRep* ERVecRep::polyRemove(std::size_t at, std::size_t stride, std::size_t count,
                               std::size_t bytes) {
  const bool valid =
      !isShared() && (count <= 1 || stride >= bytes) && fits(at, stride, count, bytes, length());
  QORV_ASSERT(valid);
  if (!valid || count == 0 || bytes == 0) return this;
  char* d = data();
  std::size_t write = at;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t read = at + k * stride + bytes;
    const std::size_t next = k + 1 < count ? at + (k + 1) * stride : length();
    std::memmove(d + write, d + read, next - read);
    write += next - read;
  }
  length_ = write;
  return this;
}

void ERVecRep::replace(std::size_t at, std::size_t stride, std::size_t count, const void* src,
                       std::size_t bytes) {
  const bool valid = !isShared() && fits(at, stride, count, bytes, length());
  QORV_ASSERT(valid);
  if (!valid) return;
  const char* s = static_cast<const char*>(src);
  for (std::size_t k = 0; k < count; ++k)
    std::memcpy(data() + at + k * stride, s + k * bytes, bytes);
}

void ERVecRep::saveGuts(ERFile& file) const {
  QORV_ASSERT(length_ <= static_cast<std::uint64_t>(std::numeric_limits<int>::max()));
  file.Write(static_cast<int>(length_));
  if (length_ != 0) file.Write(data(), static_cast<unsigned>(length_));
}

// -------------------------------------------------------------------------------------------
ERVecRepCache::ERVecRepCache() : table_(kInitialBuckets, nullptr) {}

ERVecRep* ERVecRepCache::take(std::size_t capacity) { return I::take(*this, capacity); }

void ERVecRepCache::put(ERVecRep* block) {
  QORV_ASSERT(block->capacity_ <= ERVecRep::kMaxCached);
  I::put(*this, block);
}

void ERVecRepCache::empty() {
  void** slots = table_.data();
  for (int b = 0; b < table_.length(); ++b) {
    for (ERVecRep* head = static_cast<ERVecRep*>(slots[b]); head != nullptr;) {
      ERVecRep* nextClass = I::nextClass(head);
      for (ERVecRep* block = head; block != nullptr;) {
        ERVecRep* below = I::same(block);
        I::freeHeapBlock(block);
        block = below;
      }
      head = nextClass;
    }
    slots[b] = nullptr;
  }
  bytes_ = blocks_ = classes_ = 0;
}

void ERVecRepCache::grow() {
  ERPtrVector old(std::move(table_));
  table_ = ERPtrVector(old.length() * 2, nullptr);
  for (int b = 0; b < old.length(); ++b) {
    for (ERVecRep* head = static_cast<ERVecRep*>(old.data()[b]); head != nullptr;) {
      ERVecRep* next = I::nextClass(head);
      void** slot = table_.data() + bucketOf(head->capacity_);
      I::setNextClass(head, static_cast<ERVecRep*>(*slot));
      *slot = head;
      head = next;
    }
  }
}
