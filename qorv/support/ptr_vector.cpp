#include "qorv/support/ptr_vector.h"

#include <algorithm>

ERPtrVector::ERPtrVector(int n, void* fill) : length_(n > 0 ? n : 0) {
  if (length_ > 0) {
    array_ = new void*[static_cast<std::size_t>(length_)];
    std::fill_n(array_, length_, fill);
  }
}

ERPtrVector::ERPtrVector(const ERPtrVector& o) : length_(o.length_) {
  if (length_ > 0) {
    array_ = new void*[static_cast<std::size_t>(length_)];
    std::copy_n(o.array_, length_, array_);
  }
}

ERPtrVector& ERPtrVector::operator=(const ERPtrVector& o) {
  if (this != &o) {
    ERPtrVector copy(o);
    *this = std::move(copy);
  }
  return *this;
}

ERPtrVector& ERPtrVector::operator=(void* p) {
  std::fill_n(array_, length_, p);
  return *this;
}

void ERPtrVector::reshape(int n) {
  if (n < 0) n = 0;
  if (n == length_) return;
  void** fresh = n > 0 ? new void*[static_cast<std::size_t>(n)] : nullptr;
  std::copy_n(array_, std::min(n, length_), fresh);
  delete[] array_;
  array_ = fresh;
  length_ = n;
}

void ERPtrVector::resize(int n) {
  if (n < 0) n = 0;
  const int old = length_;
  reshape(n);
  if (n > old) std::fill(array_ + old, array_ + n, nullptr);
}

void*& ERPtrVector::badSlot() {
  thread_local void* slot = nullptr;
  slot = nullptr;
  return slot;
}
