// qorv/support/ptr_vector.h
//
// ERPtrVector: a fixed-length array of untyped pointers (a 32-bit length and the array), grown
// or shrunk explicitly. It owns the array, never the pointees.
//
// Conventions a caller gets wrong:
// - reshape(n) keeps the first min(n, length) pointers and leaves the new slots UNSET; resize(n)
//   sets them to null. Reshaping to the same length does nothing.
// - [] and () are checked: a bad index is a bug (asserted); without assertions it reaches a
//   scratch slot that reads null, never memory outside the array.
#pragma once

#include <cstdint>
#include <utility>

#include "qorv/platform/api.h"
#include "qorv/foundation/assert.h"

class QORV_API ERPtrVector {
 public:
  ERPtrVector() = default;
  // n slots (a negative n is 0), each set to fill.
  explicit ERPtrVector(int n, void* fill = nullptr);
  ERPtrVector(const ERPtrVector& o);
  ERPtrVector(ERPtrVector&& o) noexcept
      : length_(std::exchange(o.length_, 0)), array_(std::exchange(o.array_, nullptr)) {}
  ~ERPtrVector() { delete[] array_; }

  ERPtrVector& operator=(const ERPtrVector& o);
  ERPtrVector& operator=(ERPtrVector&& o) noexcept {
    std::swap(length_, o.length_);
    std::swap(array_, o.array_);
    return *this;
  }
  // Every slot.
  ERPtrVector& operator=(void* p);

  void*& operator[](int i) { return inRange(i) ? array_[i] : badSlot(); }
  void* operator[](int i) const { return inRange(i) ? array_[i] : nullptr; }
  void*& operator()(int i) { return (*this)[i]; }
  void* operator()(int i) const { return (*this)[i]; }

  void reshape(int n);
  void resize(int n);

  int length() const { return length_; }
  void** data() { return array_; }
  void* const* data() const { return array_; }

 private:
  bool inRange(int i) const {
    const bool ok = static_cast<std::uint32_t>(i) < static_cast<std::uint32_t>(length_);
    QORV_ASSERT(ok);
    return ok;
  }
  // A per-thread slot reset to null at each bad access.
  static void*& badSlot();

  std::int32_t length_ = 0;
  void** array_ = nullptr;
};
