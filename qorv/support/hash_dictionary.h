// qorv/support/hash_dictionary.h
//
// ERTValHashDictionary: a small chained hash table from keys to values, stored by value, whose
// order of iteration is part of what callers rely on (the property table writes its entries in
// that order, so it is a file format).
//
// Conventions a caller gets wrong:
// - The bucket of a key is hash(key) modulo the bucket count; each bucket is a singly linked
//   list and a new key goes to the END of its bucket. Iteration runs bucket 0 to n - 1, each in
//   list order: it is neither insertion order nor key order.
// - findOrCreate() adds a default-constructed value for an absent key; find() never changes the
//   table. Assigning to an existing key keeps its place.
// - The nodes come from the size-class pools of the thread that inserts them (ERMemoryPool) and
//   go back through the same release, which any thread may call.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "qorv/support/mem_pool.h"

template <class K, class V>
class ERTValHashDictionary {
 public:
  using HashFunction = unsigned long (*)(const K&);

  ERTValHashDictionary(HashFunction hash, std::size_t buckets)
      : hash_(hash), buckets_(buckets == 0 ? 1 : buckets, nullptr) {}
  ERTValHashDictionary(const ERTValHashDictionary& other)
      : hash_(other.hash_), buckets_(other.buckets_.size(), nullptr) {
    copyFrom(other);
  }
  ERTValHashDictionary& operator=(const ERTValHashDictionary& other) {
    if (this != &other) {
      ERTValHashDictionary copy(other);
      swap(copy);
    }
    return *this;
  }
  ERTValHashDictionary(ERTValHashDictionary&& other) noexcept
      : hash_(other.hash_), buckets_(std::move(other.buckets_)), entries_(other.entries_) {
    other.buckets_.assign(buckets_.size(), nullptr);
    other.entries_ = 0;
  }
  ERTValHashDictionary& operator=(ERTValHashDictionary&& other) noexcept {
    if (this != &other) {
      clear();
      swap(other);
    }
    return *this;
  }
  ~ERTValHashDictionary() { clear(); }

  void swap(ERTValHashDictionary& other) noexcept {
    std::swap(hash_, other.hash_);
    buckets_.swap(other.buckets_);
    std::swap(entries_, other.entries_);
  }

  std::size_t entries() const { return entries_; }
  std::size_t buckets() const { return buckets_.size(); }
  bool isEmpty() const { return entries_ == 0; }

  // The value of key, null when absent.
  V* find(const K& key) {
    for (Node* n = buckets_[bucketOf(key)]; n != nullptr; n = n->next)
      if (n->key == key) return &n->value;
    return nullptr;
  }
  const V* find(const K& key) const { return const_cast<ERTValHashDictionary*>(this)->find(key); }
  bool contains(const K& key) const { return find(key) != nullptr; }

  // The value of key, appended to its bucket default-constructed when absent.
  V& findOrCreate(const K& key) {
    Node** link = &buckets_[bucketOf(key)];
    for (; *link != nullptr; link = &(*link)->next)
      if ((*link)->key == key) return (*link)->value;
    void* memory = ERMemoryPool::allocate(sizeof(Node));
    Node* node = nullptr;
    try {
      node = new (memory) Node{key, V(), nullptr};
    } catch (...) {
      ERMemoryPool::release(memory);
      throw;
    }
    *link = node;
    ++entries_;
    return node->value;
  }
  void insertKeyAndValue(const K& key, const V& value) { findOrCreate(key) = value; }

  // 1 when the key was there.
  int remove(const K& key) {
    for (Node** link = &buckets_[bucketOf(key)]; *link != nullptr; link = &(*link)->next) {
      if ((*link)->key == key) {
        Node* gone = *link;
        *link = gone->next;
        destroy(gone);
        --entries_;
        return 1;
      }
    }
    return 0;
  }

  void clear() {
    for (Node*& head : buckets_) {
      while (head != nullptr) {
        Node* next = head->next;
        destroy(head);
        head = next;
      }
    }
    entries_ = 0;
  }

  // f(key, value) in iteration order.
  template <class F>
  void forEach(F&& f) const {
    for (const Node* head : buckets_)
      for (const Node* n = head; n != nullptr; n = n->next) f(n->key, n->value);
  }
  template <class F>
  void forEach(F&& f) {
    for (Node* head : buckets_)
      for (Node* n = head; n != nullptr; n = n->next) f(n->key, n->value);
  }

 private:
  struct Node {
    K key;
    V value;
    Node* next;
  };

  std::size_t bucketOf(const K& key) const { return hash_(key) % buckets_.size(); }
  static void destroy(Node* n) {
    n->~Node();
    ERMemoryPool::release(n);
  }
  // Same buckets, same order.
  void copyFrom(const ERTValHashDictionary& other) {
    for (std::size_t b = 0; b < other.buckets_.size(); ++b) {
      Node** link = &buckets_[b];
      for (const Node* n = other.buckets_[b]; n != nullptr; n = n->next) {
        void* memory = ERMemoryPool::allocate(sizeof(Node));
        try {
          *link = new (memory) Node{n->key, n->value, nullptr};
        } catch (...) {
          ERMemoryPool::release(memory);
          clear();
          throw;
        }
        link = &(*link)->next;
        ++entries_;
      }
    }
  }

  HashFunction hash_;
  std::vector<Node*> buckets_;
  std::size_t entries_ = 0;
};
