#include "qorv/support/cir_buf.h"

#include <algorithm>
#include <utility>

#include "qorv/foundation/assert.h"

ER_CirBuf::ER_CirBuf(int size)
    : buffer_(new char[static_cast<std::size_t>(std::max(size, 1))]()), size_(std::max(size, 0)) {}

ER_CirBuf::ER_CirBuf(const ER_CirBuf& o)
    : buffer_(new char[static_cast<std::size_t>(std::max(o.size_, 1))]),
      write_(o.write_),
      read_(o.read_),
      count_(o.count_),
      size_(o.size_) {
  std::copy_n(o.buffer_, std::max(o.size_, 1), buffer_);
}

ER_CirBuf& ER_CirBuf::operator=(const ER_CirBuf& o) {
  if (this != &o) {
    ER_CirBuf copy(o);
    std::swap(buffer_, copy.buffer_);
    write_ = o.write_, read_ = o.read_, count_ = o.count_, size_ = o.size_;
  }
  return *this;
}

ER_CirBuf::~ER_CirBuf() { delete[] buffer_; }

char ER_CirBuf::operator[](int i) const {
  const bool ok = i >= 0 && i < count_;
  QORV_ASSERT(ok);
  return ok ? buffer_[(read_ + i) % size_] : '\0';
}

void ER_CirBuf::Put(char c) {
  if (size_ < 2) {
    OnDebord();
    return;
  }
  while ((write_ + 1) % size_ == read_) OnDebord();
  buffer_[write_] = c;
  ++count_;
  write_ = (write_ + 1) % size_;
}

void ER_CirBuf::Put(const char* s, int n) {
  for (int i = 0; i < n; ++i) Put(s[i]);
}

unsigned char ER_CirBuf::Get() {
  if (count_ == 0 || size_ == 0) return 255;
  const auto c = static_cast<unsigned char>(buffer_[read_]);
  read_ = (read_ + 1) % size_;
  --count_;
  return c;
}

void ER_CirBuf::Consomme(int n) {
  if (n < 0) n = 0;
  if (n < count_) {
    read_ = (read_ + n) % size_;
    count_ -= n;
  } else {
    read_ = write_;
    count_ = 0;
  }
}
