// qorv/siblings/container_library/co_containers.h
//
// ContainerLibrary: the paged array (coPageArr) and the hash table (coTable) that the kernel
// instantiates for CAD identifiers and curve spans, with forward iterators.
//
// Conventions a caller gets wrong:
// - coPageArr keeps its elements in pages of PageSize that never move once allocated: a
//   reference to an element stays good while elements are appended (not across remove_last or
//   clear). Indexing past the end is a bug (asserted); at() returns null instead.
// - coTable hashes with coHash<K> (the key's container_hash() by default, computed once per
//   insertion and kept beside the entry) and compares with == only where hashes agree. Keys are
//   unique: insert() on a present key replaces its value. Iteration runs in insertion order until
//   a removal, which moves the last entry into the removed one's place; a reference to a value
//   lasts until the next insertion or removal.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace qorv::siblings {

template <class K>
struct coHash {
  std::uint32_t operator()(const K& key) const { return key.container_hash(); }
};

template <class T, std::size_t PageSize = 64>
class coPageArr {
  static_assert(PageSize > 0);

 public:
  coPageArr() = default;
  coPageArr(const coPageArr& other) {
    for (const T& v : other) append(v);
  }
  coPageArr& operator=(const coPageArr& other) {
    if (this != &other) {
      coPageArr copy(other);
      swap(copy);
    }
    return *this;
  }
  coPageArr(coPageArr&& other) noexcept
      : pages_(std::move(other.pages_)), size_(std::exchange(other.size_, 0)) {}
  coPageArr& operator=(coPageArr&& other) noexcept {
    if (this != &other) {
      clear();
      swap(other);
    }
    return *this;
  }
  ~coPageArr() { clear(); }

  void swap(coPageArr& other) noexcept {
    pages_.swap(other.pages_);
    std::swap(size_, other.size_);
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  static constexpr std::size_t page_size() { return PageSize; }
  std::size_t pages() const { return pages_.size(); }

  T& append(const T& v) { return emplace(v); }
  T& append(T&& v) { return emplace(std::move(v)); }
  template <class... A>
  T& emplace(A&&... args) {
    if (size_ == pages_.size() * PageSize) pages_.push_back(std::make_unique<Page>());
    T* slot = pages_.back()->at(size_ % PageSize);
    new (slot) T(std::forward<A>(args)...);
    ++size_;
    return *slot;
  }
  void remove_last() {
    if (size_ == 0) return;
    --size_;
    pages_[size_ / PageSize]->at(size_ % PageSize)->~T();
    if (size_ % PageSize == 0) pages_.pop_back();
  }
  void clear() {
    while (size_ != 0) remove_last();
    pages_.clear();
  }

  T& operator[](std::size_t i) {
    assert(i < size_);
    return *pages_[i / PageSize]->at(i % PageSize);
  }
  const T& operator[](std::size_t i) const { return const_cast<coPageArr&>(*this)[i]; }
  T* at(std::size_t i) { return i < size_ ? &(*this)[i] : nullptr; }
  const T* at(std::size_t i) const { return i < size_ ? &(*this)[i] : nullptr; }

  template <class A, class V>
  class basic_iterator {
   public:
    basic_iterator(A* array, std::size_t i) : array_(array), i_(i) {}
    V& operator*() const { return (*array_)[i_]; }
    V* operator->() const { return &(*array_)[i_]; }
    basic_iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator==(const basic_iterator& o) const { return i_ == o.i_ && array_ == o.array_; }
    bool operator!=(const basic_iterator& o) const { return !(*this == o); }
    std::size_t index() const { return i_; }

   private:
    A* array_;
    std::size_t i_;
  };
  using iterator = basic_iterator<coPageArr, T>;
  using const_iterator = basic_iterator<const coPageArr, const T>;
  iterator begin() { return {this, 0}; }
  iterator end() { return {this, size_}; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }

 private:
  struct Page {
    alignas(T) unsigned char bytes[PageSize * sizeof(T)];
    T* at(std::size_t i) { return reinterpret_cast<T*>(bytes) + i; }
  };
  std::vector<std::unique_ptr<Page>> pages_;
  std::size_t size_ = 0;
};

template <class K, class V, class H = coHash<K>>
class coTable {
 public:
  coTable() { slots_.assign(16, Slot{}); }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // The value now held for key.
  V& insert(const K& key, const V& value) {
    const std::uint32_t h = H()(key);
    if (V* v = find(key, h)) return *v = value;
    if ((entries_.size() + tombstones_ + 1) * 4 > slots_.size() * 3) grow();
    entries_.emplace_back(key, value);
    place(h, static_cast<std::uint32_t>(entries_.size() - 1));
    return entries_.back().second;
  }
  V* find(const K& key) { return find(key, H()(key)); }
  const V* find(const K& key) const { return const_cast<coTable*>(this)->find(key); }
  bool contains(const K& key) const { return find(key) != nullptr; }
  // 1 when the key was there. The last entry takes the removed one's place.
  int remove(const K& key) {
    const std::uint32_t h = H()(key);
    const std::size_t s = slotOf(key, h);
    if (s == kNone) return 0;
    const std::uint32_t gone = slots_[s].index;
    slots_[s].index = kTombstone;
    ++tombstones_;
    const auto last = static_cast<std::uint32_t>(entries_.size() - 1);
    if (gone != last) {
      slots_[slotOfIndex(last)].index = gone;
      entries_[gone] = std::move(entries_[last]);
    }
    entries_.pop_back();
    return 1;
  }
  void clear() {
    entries_.clear();
    slots_.assign(16, Slot{});
    tombstones_ = 0;
  }

  using const_iterator = typename std::vector<std::pair<K, V>>::const_iterator;
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu, kTombstone = 0xFFFFFFFEu;
  static constexpr std::size_t kNone = ~std::size_t(0);
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t index = kEmpty;
  };

  std::size_t mask() const { return slots_.size() - 1; }
  std::size_t slotOf(const K& key, std::uint32_t h) const {
    for (std::size_t s = mix(h) & mask();; s = (s + 1) & mask()) {
      const Slot& slot = slots_[s];
      if (slot.index == kEmpty) return kNone;
      if (slot.index != kTombstone && slot.hash == h && entries_[slot.index].first == key) return s;
    }
  }
  std::size_t slotOfIndex(std::uint32_t index) const {
    const std::uint32_t h = H()(entries_[index].first);
    for (std::size_t s = mix(h) & mask();; s = (s + 1) & mask())
      if (slots_[s].index == index) return s;
  }
  V* find(const K& key, std::uint32_t h) {
    const std::size_t s = slotOf(key, h);
    return s == kNone ? nullptr : &entries_[slots_[s].index].second;
  }
  void place(std::uint32_t h, std::uint32_t index) {
    std::size_t s = mix(h) & mask();
    while (slots_[s].index != kEmpty && slots_[s].index != kTombstone) s = (s + 1) & mask();
    if (slots_[s].index == kTombstone) --tombstones_;
    slots_[s] = Slot{h, index};
  }
  void grow() {
    std::size_t n = slots_.size();
    while ((entries_.size() + 1) * 4 > n * 3 / 2) n *= 2;
    slots_.assign(n, Slot{});
    tombstones_ = 0;
    for (std::uint32_t i = 0; i < entries_.size(); ++i) place(H()(entries_[i].first), i);
  }
  // Spreads hashes whose low bits agree.
  static std::size_t mix(std::uint32_t h) { return static_cast<std::uint32_t>(h * 2654435769u) >> 7 ^ h; }

  std::vector<std::pair<K, V>> entries_;
  std::vector<Slot> slots_;
  std::size_t tombstones_ = 0;
};

}  // namespace qorv::siblings
