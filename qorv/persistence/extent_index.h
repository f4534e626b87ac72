// qorv/persistence/extent_index.h
//
// The free extents of a block heap by offset, each with the free-list node that holds it: the
// index the free list keeps beside its ring of nodes (see file_manager.h), so that freeing and
// allocating find their node without walking the ring. Internal; not part of the file image.
//
// The extents are kept in buckets of kSpan bytes of the file, by the offset they start at: a
// look-up goes straight to its bucket (a few cache lines), and no edit moves more than one
// bucket's entries, however long the free list grows (a sorted index of all of them moved large
// parts of itself whenever a run of it filled or emptied). A two-level bitmap of the buckets in
// use finds the next or previous one past any stretch of empty ones.
//
// Its memory grows with the highest offset held (24 bytes of bucket per 2 KiB of file, about 1.2%
// of the file's size), not only with the number of extents.
//
// Conventions a caller gets wrong:
// - Entries never overlap: insert refuses (false, nothing added) an extent that would.
// - Pointers and positions it returns are valid until the next insert, erase or shrink.
#pragma once

#include <algorithm>
#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "qorv/foundation/huge_pages.h"

namespace qorv::detail {

// How many of the n sorted values from a come before the first that fails below (the index
// std::partition_point gives), without a branch on the comparisons: the offsets sought are
// random, so a branch would be mispredicted every other step.
template <class T, class Below>
std::size_t countBelow(const T* a, std::size_t n, Below below) {
  if (n == 0) return 0;
  const T* base = a;
  while (n > 1) {
    const std::size_t half = n / 2;
    base = below(base[half]) ? base + half : base;
    n -= half;
  }
  return std::size_t(base - a) + (below(*base) ? 1 : 0);
}

class ExtentIndex {
 public:
  struct Entry {
    std::uint32_t offset;
    std::uint32_t size;
    std::int32_t owner;  // a node's offset, 32-bit as on disk: 12 bytes an entry
  };
  struct Pos {
    std::size_t chunk, index;  // bucket, and place in it
  };

  // The entry at offset, or null.
  Entry* find(std::uint32_t o) {
    const std::size_t b = o >> kShift;
    if (b >= buckets_.size()) return nullptr;
    auto& v = buckets_[b];
    const std::size_t i = lowerIn(v, o);
    return i < v.size() && v[i].offset == o ? &v[i] : nullptr;
  }
  // Asks for the bucket that an edit at o will read, ahead of the edit.
  void prefetch(std::uint32_t o) const {
    if (const std::size_t b = o >> kShift; b < buckets_.size()) ask(buckets_[b]);
  }
  // The entry before p (the last one when p is the end), or null at the beginning.
  Entry* before(Pos& p) {
    if (p.index > 0) return &buckets_[p.chunk][--p.index];
    const std::size_t b = used_.previous(p.chunk);
    if (b == kNone) return nullptr;
    p = {b, buckets_[b].size() - 1};
    return &buckets_[b][p.index];
  }
  Entry* at(Pos p) {
    return p.chunk < buckets_.size() && p.index < buckets_[p.chunk].size()
               ? &buckets_[p.chunk][p.index]
               : nullptr;
  }
  // The first entry whose offset is not less than o, {bucket count, 0} when none.
  Pos lowerBound(std::uint32_t o) const {
    std::size_t b = o >> kShift;
    if (b >= buckets_.size()) return end();
    const std::size_t i = lowerIn(buckets_[b], o);
    if (i < buckets_[b].size()) return {b, i};
    b = used_.next(b + 1);
    return b == kNone ? end() : Pos{b, 0};
  }
  // The first entry whose offset is greater than o.
  Pos upperBound(std::uint32_t o) const { return o == UINT32_MAX ? end() : lowerBound(o + 1); }
  // False (nothing added) when it would overlap an entry.
  bool insert(std::uint32_t o, std::uint32_t size, long owner) {
    if (owner < INT32_MIN || owner > INT32_MAX) return false;
    Pos p = lowerBound(o);
    if (const Entry* next = at(p); next && std::int64_t(next->offset) < std::int64_t(o) + size)
      return false;
    if (const Entry* prev = before(p); prev && std::int64_t(prev->offset) + prev->size > o)
      return false;
    place(Entry{o, size, static_cast<std::int32_t>(owner)});
    return true;
  }
  bool erase(std::uint32_t o, long owner) {
    const std::size_t b = o >> kShift;
    if (b >= buckets_.size()) return false;
    auto& v = buckets_[b];
    const std::size_t i = lowerIn(v, o);
    if (i == v.size() || v[i].offset != o || v[i].owner != owner) return false;
    v.erase(v.begin() + std::ptrdiff_t(i));
    if (v.empty()) used_.reset(b);
    return true;
  }
  // Moves the entry at o to [to, to + size), which lies within it: the order stays.
  bool shrink(std::uint32_t o, std::uint32_t to, std::uint32_t size, long owner) {
    Entry* e = find(o);
    if (e == nullptr || e->owner != owner || to < o ||
        std::int64_t(to) + size > std::int64_t(o) + e->size)
      return false;
    if ((to >> kShift) == (o >> kShift)) {
      e->offset = to;
      e->size = size;
      return true;
    }
    // Into a later bucket, where nothing starts before it (that space was the entry's).
    const Entry moved{to, size, e->owner};
    erase(o, owner);
    place(moved);
    return true;
  }
  // The entry after the one at offset o (which is present) starts at or past end.
  bool roomAfter(std::uint32_t o, std::int64_t end) {
    const Entry* next = at(upperBound(o));
    return next == nullptr || std::int64_t(next->offset) >= end;
  }

 private:
  static constexpr unsigned kShift = 11;
  static constexpr std::size_t kNone = SIZE_MAX;

  // Which buckets hold entries: a bit each, and a summary bit per word of them.
  class Bits {
   public:
    void set(std::size_t i) {
      if (i / 64 >= words_.size()) {
        words_.resize(i / 64 + 1, 0);
        summary_.resize(words_.size() / 64 + 1, 0);
      }
      words_[i / 64] |= bit(i);
      summary_[i / 4096] |= bit(i / 64);
    }
    void reset(std::size_t i) {
      if (i / 64 >= words_.size()) return;
      words_[i / 64] &= ~bit(i);
      if (words_[i / 64] == 0) summary_[i / 4096] &= ~bit(i / 64);
    }
    // The first set bit at or after i, kNone if none.
    std::size_t next(std::size_t i) const {
      const std::size_t w = i / 64;
      if (w >= words_.size()) return kNone;
      if (const std::uint64_t m = words_[w] & (kAll << (i % 64)))
        return w * 64 + std::size_t(std::countr_zero(m));
      for (std::size_t j = w + 1; j < words_.size();) {  // the next word in use, by the summary
        const std::size_t s = j / 64;
        if (const std::uint64_t m = summary_[s] & (kAll << (j % 64))) {
          const std::size_t v = s * 64 + std::size_t(std::countr_zero(m));
          return v * 64 + std::size_t(std::countr_zero(words_[v]));
        }
        j = (s + 1) * 64;
      }
      return kNone;
    }
    // The last set bit before i, kNone if none.
    std::size_t previous(std::size_t i) const {
      if (i == 0 || words_.empty()) return kNone;
      const std::size_t last = std::min(i, words_.size() * 64) - 1;
      const std::size_t w = last / 64;
      if (const std::uint64_t m = words_[w] & (kAll >> (63 - last % 64)))
        return w * 64 + 63 - std::size_t(std::countl_zero(m));
      if (w == 0) return kNone;
      for (std::size_t j = w - 1;;) {  // the previous word in use, by the summary
        const std::size_t s = j / 64;
        if (const std::uint64_t m = summary_[s] & (kAll >> (63 - j % 64))) {
          const std::size_t v = s * 64 + 63 - std::size_t(std::countl_zero(m));
          return v * 64 + 63 - std::size_t(std::countl_zero(words_[v]));
        }
        if (s == 0) return kNone;
        j = s * 64 - 1;
      }
    }

   private:
    static constexpr std::uint64_t kAll = ~std::uint64_t(0);
    static std::uint64_t bit(std::size_t i) { return std::uint64_t(1) << (i % 64); }
    std::vector<std::uint64_t> words_, summary_;
  };

  Pos end() const { return {buckets_.size(), 0}; }
  // A bucket's lines all asked for at once: the search's probes depend on each other, and would
  // otherwise miss one after another.
  static void ask(const std::vector<Entry>& v) {
    const char* p = reinterpret_cast<const char*>(v.data());
    for (const char* end = p + v.size() * sizeof(Entry); p < end; p += 64) detail::prefetch(p);
  }
  static std::size_t lowerIn(const std::vector<Entry>& v, std::uint32_t o) {
    if (v.size() * sizeof(Entry) > 64) ask(v);
    return countBelow(v.data(), v.size(), [o](const Entry& e) { return e.offset < o; });
  }
  void place(const Entry& e) {
    const std::size_t b = e.offset >> kShift;
    if (b >= buckets_.size()) buckets_.resize(b + 1);
    auto& v = buckets_[b];
    v.insert(v.begin() + std::ptrdiff_t(lowerIn(v, e.offset)), e);
    used_.set(b);
  }

  std::vector<std::vector<Entry>> buckets_;
  Bits used_;
};

}  // namespace qorv::detail
