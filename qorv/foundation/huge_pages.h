// qorv/foundation/huge_pages.h
//
// Large memory filled once or read at random (measured points, their results, a file's text, a
// database's page images): asked to live in huge pages, so that a first touch costs a page fault
// per 2 MB, not per 4 KB, and random reads miss the address translation caches less often.
// The whole 2 MB pages inside the range are advised; below `least` bytes (8 MB unless given),
// or off Linux, nothing is done. Advice only: the kernel may keep ordinary pages.
// Beside it, the hint that fetches one line ahead of a read at random.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace qorv::detail {

inline void adviseHugePages(const void* p, std::size_t bytes,
                            std::size_t least = std::size_t{8} << 20) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes < least) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t huge = std::uintptr_t{2} << 20, from = (begin + huge - 1) & ~(huge - 1);
  const std::uintptr_t to = (begin + bytes) & ~(huge - 1);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)p, (void)bytes, (void)least;
#endif
}

// Asks for the cache line at p ahead of its use, so that a miss overlaps other work (a hint: it
// reads nothing the program sees and never faults; nothing where the compiler has no such hint).
inline void prefetch(const void* p, bool forWrite = false) {
#if defined(__GNUC__) || defined(__clang__)
  if (forWrite)
    __builtin_prefetch(p, 1);
  else
    __builtin_prefetch(p, 0);
#else
  (void)p, (void)forWrite;
#endif
}

// For a container read at random (a table by index): 2 MB and more come 2 MB-aligned and
// advised before the first touch, so that whole huge pages back them; less, as from new.
template <class T>
struct HugeAllocator {
  using value_type = T;
  static constexpr std::size_t kHuge = std::size_t{2} << 20;
  HugeAllocator() = default;
  template <class U>
  HugeAllocator(const HugeAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T) - kHuge) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kHuge) return static_cast<T*>(::operator new(bytes));
    const std::size_t whole = (bytes + kHuge - 1) / kHuge * kHuge;
    void* p = ::operator new(whole, std::align_val_t(kHuge));
    adviseHugePages(p, whole, kHuge);
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n * sizeof(T) < kHuge)
      ::operator delete(p);
    else
      ::operator delete(p, std::align_val_t(kHuge));
  }
  template <class U>
  bool operator==(const HugeAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace qorv::detail
