#include "qorv/support/bit_vec.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>
#include <utility>
#include <vector>

#include "qorv/platform/file.h"
#include "qorv/foundation/assert.h"
#include "qorv/persistence/file.h"

using namespace qorv::platform;

namespace {

unsigned char* allocateBytes(int count) {
  return count > 0 ? new unsigned char[static_cast<std::size_t>(count)]() : nullptr;
}

}  // namespace

ERBitVec::ERBitVec(int n, bool value) : n_(n > 0 ? n : 0), bytes_(allocateBytes(bytesFor(n_))) {
  if (value) *this = true;
}

ERBitVec::ERBitVec(const unsigned char* bytes, int n)
    : n_(n > 0 ? n : 0), bytes_(allocateBytes(bytesFor(n_))) {
  if (n_ > 0) std::memcpy(bytes_, bytes, static_cast<std::size_t>(byteCount()));
  clearPadding();
}

ERBitVec::ERBitVec(const ERBitVec& o) : n_(o.n_), bytes_(allocateBytes(o.byteCount())) {
  if (n_ > 0) std::memcpy(bytes_, o.bytes_, static_cast<std::size_t>(byteCount()));
}

ERBitVec::ERBitVec(ERBitVec&& o) noexcept
    : n_(std::exchange(o.n_, 0)), bytes_(std::exchange(o.bytes_, nullptr)) {}

ERBitVec::~ERBitVec() { delete[] bytes_; }

ERBitVec& ERBitVec::operator=(const ERBitVec& o) {
  if (this != &o) {
    ERBitVec copy(o);
    *this = std::move(copy);
  }
  return *this;
}

ERBitVec& ERBitVec::operator=(ERBitVec&& o) noexcept {
  std::swap(n_, o.n_);
  std::swap(bytes_, o.bytes_);
  return *this;
}

ERBitVec& ERBitVec::operator=(bool value) {
  if (n_ > 0) std::memset(bytes_, value ? 0xFF : 0, static_cast<std::size_t>(byteCount()));
  clearPadding();
  return *this;
}

bool ERBitVec::operator==(bool value) const { return (value ? firstFalse() : firstTrue()) < 0; }

bool ERBitVec::inRange(int i) const {
  const bool ok = static_cast<unsigned>(i) < static_cast<unsigned>(n_);
  QORV_ASSERT(ok);
  return ok;
}

void ERBitVec::clearPadding() {
  if (n_ % 8 != 0) bytes_[n_ / 8] &= static_cast<unsigned char>((1u << (n_ % 8)) - 1);
}

ERBitRef ERBitVec::operator[](int i) {
  if (inRange(i)) return ERBitRef(bytes_ + i / 8, static_cast<unsigned>(i % 8));
  thread_local unsigned char lost = 0;
  return ERBitRef(&lost, 0);
}

void ERBitVec::setBit(int i) {
  if (inRange(i)) bytes_[i / 8] = static_cast<unsigned char>(bytes_[i / 8] | (1u << (i % 8)));
}

void ERBitVec::clearBit(int i) {
  if (inRange(i)) bytes_[i / 8] = static_cast<unsigned char>(bytes_[i / 8] & ~(1u << (i % 8)));
}

bool ERBitVec::testBit(int i) const { return inRange(i) && ((bytes_[i / 8] >> (i % 8)) & 1u) != 0; }

int ERBitVec::firstTrue() const {
  for (int b = 0; b < byteCount(); ++b)
    if (bytes_[b] != 0)
      for (int k = 0; k < 8; ++k)
        if ((bytes_[b] >> k) & 1u) return 8 * b + k;
  return -1;
}

int ERBitVec::firstFalse() const {
  for (int b = 0; b < byteCount(); ++b)
    if (bytes_[b] != 0xFF)
      for (int k = 0; k < 8; ++k) {
        const int i = 8 * b + k;
        if (i >= n_) return -1;
        if (!((bytes_[b] >> k) & 1u)) return i;
      }
  return -1;
}

std::uint32_t ERBitVec::hash() const {
  std::uint32_t h = 2166136261u;
  auto mix = [&h](unsigned char c) { h = (h ^ c) * 16777619u; };
  for (int k = 0; k < 4; ++k)
    mix(static_cast<unsigned char>(static_cast<std::uint32_t>(n_) >> (8 * k)));
  for (int b = 0; b < byteCount(); ++b) mix(bytes_[b]);
  return h;
}

int ERBitVec::isEqual(const ERBitVec& o) const {
  return n_ == o.n_ &&
         (n_ == 0 || std::memcmp(bytes_, o.bytes_, static_cast<std::size_t>(byteCount())) == 0);
}

void ERBitVec::resize(int n) {
  if (n < 0) n = 0;
  if (n == n_) return;
  unsigned char* fresh = allocateBytes(bytesFor(n));
  const int kept = std::min(bytesFor(n), byteCount());
  if (kept > 0) std::memcpy(fresh, bytes_, static_cast<std::size_t>(kept));
  delete[] bytes_;
  bytes_ = fresh;
  n_ = n;
  clearPadding();
}

template <class F>
ERBitVec& ERBitVec::combine(const ERBitVec& o, F f) {
  QORV_ASSERT(n_ == o.n_);
  const int common = std::min(n_, o.n_);
  const int whole = common / 8;
  for (int b = 0; b < whole; ++b) bytes_[b] = static_cast<unsigned char>(f(bytes_[b], o.bytes_[b]));
  for (int i = 8 * whole; i < common; ++i) (*this)[i] = f(testBit(i), o.testBit(i)) != 0;
  return *this;
}

ERBitVec& ERBitVec::operator&=(const ERBitVec& o) {
  return combine(o, [](unsigned a, unsigned b) { return a & b; });
}
ERBitVec& ERBitVec::operator|=(const ERBitVec& o) {
  return combine(o, [](unsigned a, unsigned b) { return a | b; });
}
ERBitVec& ERBitVec::operator^=(const ERBitVec& o) {
  return combine(o, [](unsigned a, unsigned b) { return a ^ b; });
}

ERBitVec operator&(const ERBitVec& a, const ERBitVec& b) { return ERBitVec(a) &= b; }
ERBitVec operator|(const ERBitVec& a, const ERBitVec& b) { return ERBitVec(a) |= b; }
ERBitVec operator^(const ERBitVec& a, const ERBitVec& b) { return ERBitVec(a) ^= b; }

void ERBitVec::printOn(std::ostream& os) const {
  os << "[\n  ";
  for (int i = 0; i < n_; ++i) {
    if (i != 0 && i % 25 == 0) os << "\n  ";
    os << (testBit(i) ? "1 " : "0 ");
  }
  os << "\n]";
}

void ERBitVec::scanFrom(std::istream& is) {
  char c = 0;
  if (!(is >> c) || c != '[') {
    is.setstate(std::ios::failbit);
    return;
  }
  std::vector<bool> bits;
  while (is >> c) {
    if (c == ']') {
      ERBitVec v(static_cast<int>(bits.size()));
      for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i]) v.setBit(static_cast<int>(i));
      *this = std::move(v);
      return;
    }
    if (c != '0' && c != '1') break;
    bits.push_back(c == '1');
  }
  is.setstate(std::ios::failbit);
}

void ERBitVec::saveOn(ERFile& f) const {
  f.Write(n_);
  if (n_ > 0) f.Write(bytes_, static_cast<unsigned>(byteCount()));
}

int ERBitVec::restoreFrom(ERFile& f) {
  try {
    int n = 0;
    if (!f.Read(n) || n < 0) return 0;
    const std::uint64_t end = f.GetLength(), position = f.GetPosition();
    const int count = bytesFor(n);
    if (position > end || static_cast<std::uint64_t>(count) > end - position) return 0;
    ERBitVec v(n);
    if (count > 0 && !f.Read(v.bytes_, static_cast<unsigned>(count))) return 0;
    v.clearPadding();
    *this = std::move(v);
    return 1;
  } catch (CFileException& e) {
    return 0;
  }
}

std::ostream& operator<<(std::ostream& os, const ERBitVec& v) {
  v.printOn(os);
  return os;
}

std::istream& operator>>(std::istream& is, ERBitVec& v) {
  v.scanFrom(is);
  return is;
}
