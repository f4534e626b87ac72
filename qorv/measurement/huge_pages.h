// qorv/measurement/huge_pages.h
//
// Arrays of a million entries filled once (measured points, their results, a file's text): asked
// to live in huge pages, so that their first touch costs a page fault per 2 MB, not per 4 KB.
// The whole 2 MB pages inside the range are advised; below 8 MB, or off Linux, nothing is done.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace qorv::detail {

inline void adviseHugePages(const void* p, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes < (std::size_t{8} << 20)) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t huge = std::uintptr_t{2} << 20, from = (begin + huge - 1) & ~(huge - 1);
  const std::uintptr_t to = (begin + bytes) & ~(huge - 1);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)p, (void)bytes;
#endif
}

}  // namespace qorv::detail
