// qorv/support/val_vector.h
//
// ERTValVector<T>: a growable vector of values that are not plain bytes (polynomials, vectors
// of points), each element copied and destroyed as itself.
//
// Stored form (ERFile): the element count as a 4-byte integer, then each element's own record
// (its saveGuts); binaryStoreSize = 4 + the sum of the elements' binaryStoreSize.
//
// Conventions a caller gets wrong:
// - reshape(n) and resize(n) both keep the first min(n, length) elements; new ones are T().
// - Indexing is checked by assertion only.
// - restoreGuts returns 0 and leaves the vector as it was on a negative count, a count larger
//   than the rest of the file, or an element that cannot be read (one that reports failure or
//   reads no byte).
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "qorv/platform/file.h"
#include "qorv/foundation/assert.h"
#include "qorv/persistence/file.h"

template <class T>
class ERTValVector {
 public:
  using value_type = T;

  ERTValVector() = default;
  // n values T(), or n copies of value; a negative n is 0.
  explicit ERTValVector(int n) : v_(count(n)) {}
  ERTValVector(int n, const T& value) : v_(count(n), value) {}
  // Every element.
  ERTValVector& operator=(const T& value) {
    std::fill(v_.begin(), v_.end(), value);
    return *this;
  }

  int length() const { return static_cast<int>(v_.size()); }
  int entries() const { return length(); }
  bool isEmpty() const { return v_.empty(); }
  T& operator[](int i) {
    QORV_ASSERT(inRange(i));
    return v_[static_cast<std::size_t>(i)];
  }
  const T& operator[](int i) const {
    QORV_ASSERT(inRange(i));
    return v_[static_cast<std::size_t>(i)];
  }
  T& operator()(int i) { return (*this)[i]; }
  const T& operator()(int i) const { return (*this)[i]; }
  T* data() { return v_.data(); }
  const T* data() const { return v_.data(); }
  auto begin() { return v_.begin(); }
  auto end() { return v_.end(); }
  auto begin() const { return v_.begin(); }
  auto end() const { return v_.end(); }

  void reshape(int n) { v_.resize(count(n)); }
  void resize(int n) { v_.resize(count(n)); }
  void clear() { v_.clear(); }
  void append(const T& value) { v_.push_back(value); }
  // Before element i (0 <= i <= length); 0 for a bad index.
  int insertAt(int i, const T& value) {
    if (i < 0 || i > length()) return bad();
    v_.insert(v_.begin() + i, value);
    return 1;
  }
  int removeAt(int i) {
    if (!inRange(i)) return bad();
    v_.erase(v_.begin() + i);
    return 1;
  }

  bool operator==(const ERTValVector& o) const { return v_ == o.v_; }
  bool operator!=(const ERTValVector& o) const { return !(*this == o); }

  void saveGuts(ERFile& f) const {
    f.Write(length());
    for (const T& x : v_) x.saveGuts(f);
  }
  std::uint32_t binaryStoreSize() const {
    std::uint32_t n = 4;
    for (const T& x : v_) n += x.binaryStoreSize();
    return n;
  }
  int restoreGuts(ERFile& f) {
    try {
      int n = 0;
      if (!f.Read(n) || n < 0) return 0;
      const std::uint64_t end = f.GetLength();
      if (f.GetPosition() > end || static_cast<std::uint64_t>(n) > end - f.GetPosition()) return 0;
      std::vector<T> read;
      for (int i = 0; i < n; ++i) {
        const std::uint64_t before = f.GetPosition();
        T x;
        if constexpr (std::is_void_v<decltype(x.restoreGuts(f))>) {
          x.restoreGuts(f);
        } else {
          if (!x.restoreGuts(f)) return 0;
        }
        if (f.GetPosition() == before) return 0;
        read.push_back(std::move(x));
      }
      v_ = std::move(read);
      return 1;
    } catch (::qorv::platform::CFileException& e) {
      return 0;
    }
  }

 private:
  static std::size_t count(int n) { return n > 0 ? static_cast<std::size_t>(n) : 0; }
  bool inRange(int i) const { return static_cast<unsigned>(i) < static_cast<unsigned>(length()); }
  static int bad() {
    QORV_ASSERT(!"index out of range");
    return 0;
  }

  std::vector<T> v_;
};
