// qorv/siblings/container_library/co_containers.h
//
// ContainerLibrary: the paged array (coPageArr) and the hash table (coTable) that the kernel
// instantiates for CAD identifiers and curve spans, with forward iterators.
//
// Conventions a caller gets wrong:
// - coPageArr keeps its elements in pages of PageSize that never move once allocated: a
//   reference to an element stays good while elements are appended (not across remove_last or
//   clear). Indexing past the end is a bug (asserted); at() returns null instead.
// - coTable hashes with coHash<K> (the key's container_hash() by default) and compares with ==.
//   Keys are unique: insert() on a present key replaces its value. Iteration order is the
//   buckets' order, not insertion order; a rehash (the table grows past 3/4 full) changes it.
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
  coTable() : buckets_(16) {}

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // The value now held for key.
  V& insert(const K& key, const V& value) {
    if (V* v = find(key)) return *v = value;
    if (size_ + 1 > buckets_.size() / 4 * 3) rehash(buckets_.size() * 2);
    auto& bucket = buckets_[H()(key) % buckets_.size()];
    bucket.emplace_back(key, value);
    ++size_;
    return bucket.back().second;
  }
  V* find(const K& key) {
    auto& bucket = buckets_[H()(key) % buckets_.size()];
    for (auto& entry : bucket)
      if (entry.first == key) return &entry.second;
    return nullptr;
  }
  const V* find(const K& key) const { return const_cast<coTable*>(this)->find(key); }
  bool contains(const K& key) const { return find(key) != nullptr; }
  // 1 when the key was there.
  int remove(const K& key) {
    auto& bucket = buckets_[H()(key) % buckets_.size()];
    for (auto it = bucket.begin(); it != bucket.end(); ++it) {
      if (it->first == key) {
        bucket.erase(it);
        --size_;
        return 1;
      }
    }
    return 0;
  }
  void clear() {
    buckets_.assign(16, {});
    size_ = 0;
  }

  class const_iterator {
   public:
    const_iterator(const coTable* t, std::size_t b, std::size_t i) : t_(t), b_(b), i_(i) { skip(); }
    const std::pair<K, V>& operator*() const { return t_->buckets_[b_][i_]; }
    const std::pair<K, V>* operator->() const { return &t_->buckets_[b_][i_]; }
    const_iterator& operator++() {
      ++i_;
      skip();
      return *this;
    }
    bool operator==(const const_iterator& o) const { return b_ == o.b_ && i_ == o.i_; }
    bool operator!=(const const_iterator& o) const { return !(*this == o); }

   private:
    void skip() {
      while (b_ < t_->buckets_.size() && i_ >= t_->buckets_[b_].size()) {
        ++b_;
        i_ = 0;
      }
    }
    const coTable* t_;
    std::size_t b_, i_;
  };
  const_iterator begin() const { return {this, 0, 0}; }
  const_iterator end() const { return {this, buckets_.size(), 0}; }

 private:
  void rehash(std::size_t n) {
    std::vector<std::vector<std::pair<K, V>>> fresh(n);
    for (auto& bucket : buckets_)
      for (auto& entry : bucket) fresh[H()(entry.first) % n].push_back(std::move(entry));
    buckets_.swap(fresh);
  }

  std::vector<std::vector<std::pair<K, V>>> buckets_;
  std::size_t size_ = 0;
};

}  // namespace qorv::siblings
