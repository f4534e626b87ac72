// qorv/support/quick_algebra.h
//
// The QuickAlgebra vectors and matrices: ERSimpleVec<T> (the copy-on-write array), ERVec<T>
// (the polymorphic vector with arithmetic, norms and persistence), ERMatrix<T> (row-major
// r x c on an ERVec<T>) and ERSimpleVec2<T> (a plain two-index array). Their storage is an
// ERVecRep block (qorv/support/vec_rep.h), shared between copies and recycled per thread.
// Elements are trivially copyable values: doubles, points, poles, boxes.
//
// Conventions a caller gets wrong:
// - Copies share the block; every non-const access (operator[], operator(), data(), begin())
//   first makes it private, copying it when shared. Read through a const reference, or a read
//   of a shared vector pays for a copy.
// - A pointer or reference into a vector dies with the next non-const access of a shared
//   handle and with any length change.
// - Element (i, j) of a matrix is element i * cols() + j of the vector; cols() is the row
//   length. Rows and columns are inserted and removed through the matrix, never through the
//   length-changing members of the vector (hidden in ERMatrix).
// - Indexing is checked by assertion only. Operations on mismatched shapes (a sum of unequal
//   lengths, a product of incompatible matrices) assert and give an empty result, never a
//   plausible one.
// - norme2() is the sum of the squares of all elements (the squared Frobenius norm of a matrix,
//   every coordinate of a point): the norm the solvers use.
//
// Stored forms (ERFile, little-endian): a vector is its element record, a 4-byte byte length
// then the raw elements (8 bytes per double, 24 per ERPoint3D, ...); a matrix is r and c as
// 4-byte integers, then the element record. binaryStoreSize counts exactly those bytes.
// restoreGuts returns 0 and leaves the object as it was on a short, inconsistent or oversized
// record.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>
#include <ostream>
#include <type_traits>
#include <utility>

#include "qorv/foundation/assert.h"
#include "qorv/foundation/points.h"
#include "qorv/persistence/file.h"
#include "qorv/support/vec_rep.h"

namespace QuickAlgebra {

namespace detail {

// The square of an element: x * x for numbers, the sum over the coordinates for values.
template <class T>
inline double squares(const T& x) {
  if constexpr (std::is_arithmetic_v<T>) {
    return static_cast<double>(x) * static_cast<double>(x);
  } else {
    return qorv::detail::coordDot(x, x);
  }
}

template <class T>
inline void printElement(std::ostream& os, const T& x) {
  if constexpr (requires { os << x; }) {
    os << x;
  } else if constexpr (requires { x.printOn(os); }) {
    x.printOn(os);
  }
}

// Values whose default is not all zero bytes are constructed in place.
template <class T>
inline void constructDefaults(T* first, std::size_t n) {
  if constexpr (!std::is_arithmetic_v<T> && !std::is_pointer_v<T>) {
    for (std::size_t i = 0; i < n; ++i) ::new (static_cast<void*>(first + i)) T();
  } else {
    (void)first, (void)n;
  }
}

inline std::size_t count(int n) { return n > 0 ? static_cast<std::size_t>(n) : 0; }

}  // namespace detail

// ---------------------------------------------------------------------------------------------
template <class T>
class ERSimpleVec {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                "vector storage copies elements as bytes");

 public:
  using value_type = T;

  ERSimpleVec() noexcept : data_(emptyData()) {}
  // n default elements (zeros for numbers and points); a negative n is 0.
  explicit ERSimpleVec(int n)
      : data_(n > 0 ? at(ERVecRep::getRep(detail::count(n) * sizeof(T))) : emptyData()) {
    if (n > 0) detail::constructDefaults(data_, detail::count(n));
  }
  ERSimpleVec(int n, const T& value)
      : data_(n > 0 ? at(ERVecRep::getRep(detail::count(n), sizeof(T), &value)) : emptyData()) {}
  ERSimpleVec(const T* values, int n)
      : data_(n > 0 ? at(ERVecRep::getRep(values, detail::count(n) * sizeof(T))) : emptyData()) {}
  ERSimpleVec(std::initializer_list<T> values)
      : ERSimpleVec(values.begin(), static_cast<int>(values.size())) {}
  ERSimpleVec(const ERSimpleVec& o) noexcept : data_(o.data_) { rep()->duplicate(); }
  ERSimpleVec(ERSimpleVec&& o) noexcept : data_(std::exchange(o.data_, emptyData())) {}
  ~ERSimpleVec() { rep()->free(); }

  ERSimpleVec& operator=(const ERSimpleVec& o) noexcept {
    o.rep()->duplicate();
    rep()->free();
    data_ = o.data_;
    return *this;
  }
  ERSimpleVec& operator=(ERSimpleVec&& o) noexcept {
    std::swap(data_, o.data_);
    return *this;
  }
  // Every element.
  ERSimpleVec& operator=(const T& value) {
    fill(value);
    return *this;
  }

  int length() const { return static_cast<int>(rep()->length() / sizeof(T)); }
  bool isEmpty() const { return rep()->length() == 0; }
  // Elements the block holds without reallocating.
  int capacity() const { return static_cast<int>(rep()->capacity() / sizeof(T)); }

  const T* data() const { return data_; }
  T* data() {
    makePrivate();
    return data_;
  }
  const T& operator[](int i) const {
    QORV_ASSERT(inRange(i));
    return data_[i];
  }
  T& operator[](int i) {
    QORV_ASSERT(inRange(i));
    makePrivate();
    return data_[i];
  }
  const T& operator()(int i) const { return (*this)[i]; }
  T& operator()(int i) { return (*this)[i]; }
  const T& first() const { return (*this)[0]; }
  const T& last() const { return (*this)[length() - 1]; }

  const T* begin() const { return data_; }
  const T* end() const { return data_ + length(); }
  T* begin() { return data(); }
  T* end() { return data() + length(); }

  // Keeps the first min(n, length) elements; new ones are default values.
  void resize(int n) {
    const int old = length();
    set(ERVecRep::resize(rep(), detail::count(n) * sizeof(T)));
    if (n > old) detail::constructDefaults(data_ + old, static_cast<std::size_t>(n - old));
  }
  void reshape(int n) { resize(n); }
  // Room for n elements without changing the length.
  void reserve(int n) { set(ERVecRep::reserve(rep(), detail::count(n) * sizeof(T))); }
  // Length 0; a private block keeps its storage for the next appends.
  void clear() {
    ERVecRep* r = rep();
    if (r->isShared()) {
      r->free();
      data_ = emptyData();
    } else {
      r->setLength(0);
    }
  }
  void fill(const T& value) {
    if (isEmpty()) return;
    makePrivate();
    rep()->init(&value, sizeof(T));
  }

  void append(const T& value) {
    const T copy = value;  // value may live in this vector
    const int n = length();
    set(ERVecRep::resize(rep(), (detail::count(n) + 1) * sizeof(T), true));
    data_[n] = copy;
  }
  void append(const T* values, int n) { insertAt(length(), values, n); }
  void append(const ERSimpleVec& o) {
    const ERSimpleVec keep(o);  // o may be this vector
    insertAt(length(), keep.data_, keep.length());
  }
  void prepend(const T& value) { insertAt(0, value); }
  // count copies of value before element i (0 <= i <= length); 0 for a bad index.
  int insertAt(int i, const T& value, int count = 1) {
    if (i < 0 || i > length() || count < 0) return badIndex();
    const T copy = value;
    openGap(i, count);
    std::fill_n(data_ + i, count, copy);
    return 1;
  }
  // n values before element i; 0 for a bad index.
  int insertAt(int i, const T* values, int n) {
    if (i < 0 || i > length() || n < 0) return badIndex();
    if (n == 0) return 1;
    // values may point into this vector: copy them before the block moves.
    const ERSimpleVec source(values, n);
    openGap(i, n);
    std::memcpy(static_cast<void*>(data_ + i), source.data_,
                static_cast<std::size_t>(n) * sizeof(T));
    return 1;
  }
  // Removes count elements from i; 0 for a bad range.
  int removeAt(int i, int count = 1) {
    if (i < 0 || count < 0 || count > length() - i) return badIndex();
    if (count == 0) return 1;
    makePrivate();
    set(rep()->polyRemove(static_cast<std::size_t>(i) * sizeof(T), 0, 1,
                          static_cast<std::size_t>(count) * sizeof(T)));
    return 1;
  }
  void removeLast() { removeAt(length() - 1); }
  // Reverses the order of the elements.
  void reverse() {
    if (length() > 1) std::reverse(begin(), end());
  }

  // The first index holding value, -1 when none.
  int index(const T& value) const {
    for (int i = 0, n = length(); i < n; ++i)
      if (data_[i] == value) return i;
    return -1;
  }
  int contains(const T& value) const { return index(value) >= 0; }

  bool operator==(const ERSimpleVec& o) const {
    if (data_ == o.data_) return true;
    const int n = length();
    if (n != o.length()) return false;
    for (int i = 0; i < n; ++i)
      if (!(data_[i] == o.data_[i])) return false;
    return true;
  }
  bool operator!=(const ERSimpleVec& o) const { return !(*this == o); }

  void swap(ERSimpleVec& o) noexcept { std::swap(data_, o.data_); }

  ERVecRep* rep() const { return ERVecRep::of(data_); }
  bool isShared() const { return rep()->isShared(); }

 protected:
  static T* at(ERVecRep* r) { return reinterpret_cast<T*>(r->data()); }
  static T* emptyData() { return at(ERVecRep::nullRep()); }
  void set(ERVecRep* r) { data_ = at(r); }
  void makePrivate() {
    ERVecRep* r = rep();
    if (r->isShared()) set(ERVecRep::own(r));
  }
  bool inRange(int i) const { return static_cast<unsigned>(i) < static_cast<unsigned>(length()); }
  static int badIndex() {
    QORV_ASSERT(!"index out of range");
    return 0;
  }
  // Makes room for n default elements before element i.
  void openGap(int i, int n) {
    if (n == 0) return;
    ERVecRep* r = rep();
    if (r == ERVecRep::nullRep()) {
      r = ERVecRep::getRep(static_cast<std::size_t>(n) * sizeof(T));
    } else {
      r = ERVecRep::own(r)->polyInsert(static_cast<std::size_t>(i) * sizeof(T), 0, 1,
                                       static_cast<std::size_t>(n) * sizeof(T));
    }
    set(r);
  }

  T* data_;
};

// ---------------------------------------------------------------------------------------------
template <class T>
class ERVec : public ERSimpleVec<T> {
  using Base = ERSimpleVec<T>;

 public:
  using Base::Base;
  ERVec() noexcept = default;
  ERVec(const Base& v) noexcept : Base(v) {}
  ERVec(const ERVec&) noexcept = default;
  ERVec(ERVec&&) noexcept = default;
  ERVec& operator=(const ERVec&) noexcept = default;
  ERVec& operator=(ERVec&&) noexcept = default;
  ERVec& operator=(const T& value) {
    Base::fill(value);
    return *this;
  }
  virtual ~ERVec() = default;

  // "( n= " n ")", a line end, the elements separated by " ", a line end.
  virtual void printOn(std::ostream& os) const {
    os << "( n= " << this->length() << ")\n";
    for (int i = 0, n = this->length(); i < n; ++i) {
      if (i != 0) os << ' ';
      detail::printElement(os, this->data_[i]);
    }
    os << '\n';
  }
  virtual std::uint32_t binaryStoreSize() const { return this->rep()->binaryStoreSize(); }
  virtual void saveGuts(ERFile& f) const { this->rep()->saveGuts(f); }
  virtual int restoreGuts(ERFile& f) {
    ERVecRep* r = ERVecRep::getRep(f);
    if (r == nullptr) return 0;
    if (r->length() % sizeof(T) != 0) {
      r->free();
      return 0;
    }
    this->rep()->free();
    this->set(r);
    return 1;
  }

  ERVec& operator+=(const ERVec& o) {
    return combine(o, [](T& a, const T& b) { a += b; });
  }
  ERVec& operator-=(const ERVec& o) {
    return combine(o, [](T& a, const T& b) { a -= b; });
  }
  ERVec& operator*=(double k) {
    for (T& x : *this) x *= k;
    return *this;
  }
  ERVec& operator/=(double k) {
    for (T& x : *this) x /= k;
    return *this;
  }

  double norme2() const {
    double s = 0.0;
    for (const T& x : static_cast<const Base&>(*this)) s += detail::squares(x);
    return s;
  }
  double norme() const { return std::sqrt(norme2()); }

 private:
  template <class F>
  ERVec& combine(const ERVec& o, F f) {
    const int n = this->length();
    if (n != o.length()) {
      QORV_ASSERT(!"vector lengths differ");
      this->clear();
      return *this;
    }
    const ERVec keep(o);  // o may be this vector
    T* a = this->data();
    for (int i = 0; i < n; ++i) f(a[i], keep.data_[i]);
    return *this;
  }
};

template <class T>
ERVec<T> operator+(const ERVec<T>& a, const ERVec<T>& b) {
  ERVec<T> r(a);
  return r += b;
}
template <class T>
ERVec<T> operator-(const ERVec<T>& a, const ERVec<T>& b) {
  ERVec<T> r(a);
  return r -= b;
}
template <class T>
ERVec<T> operator-(const ERVec<T>& a) {
  ERVec<T> r(a);
  return r *= -1.0;
}
template <class T>
ERVec<T> operator*(const ERVec<T>& a, double k) {
  ERVec<T> r(a);
  return r *= k;
}
template <class T>
ERVec<T> operator*(double k, const ERVec<T>& a) {
  return a * k;
}
template <class T>
ERVec<T> operator/(const ERVec<T>& a, double k) {
  ERVec<T> r(a);
  return r /= k;
}
// The dot product; 0 with an assertion for unequal lengths.
inline double dot(const ERSimpleVec<double>& a, const ERSimpleVec<double>& b) {
  const int n = a.length();
  if (n != b.length()) {
    QORV_ASSERT(!"vector lengths differ");
    return 0.0;
  }
  const double* x = a.data();
  const double* y = b.data();
  double s = 0.0;
  for (int i = 0; i < n; ++i) s += x[i] * y[i];
  return s;
}

template <class T>
std::ostream& operator<<(std::ostream& os, const ERVec<T>& v) {
  v.printOn(os);
  return os;
}

// ---------------------------------------------------------------------------------------------
template <class T>
class ERMatrix : public ERVec<T> {
  using Vec = ERVec<T>;

 public:
  ERMatrix() noexcept = default;
  // rows x cols default elements (zeros); negative sizes are 0.
  ERMatrix(int rows, int cols)
      : Vec(checkedSize(rows, cols)), c_(clampDim(cols)), r_(clampDim(rows)) {}
  ERMatrix(int rows, int cols, const T& value)
      : Vec(checkedSize(rows, cols), value), c_(clampDim(cols)), r_(clampDim(rows)) {}
  // rows x cols elements read row after row.
  ERMatrix(int rows, int cols, const T* rowMajor)
      : Vec(rowMajor, checkedSize(rows, cols)), c_(clampDim(cols)), r_(clampDim(rows)) {}
  // Shares the elements; a vector of another length than rows x cols is cut or padded (and
  // asserted).
  ERMatrix(const ERSimpleVec<T>& elements, int rows, int cols)
      : Vec(elements), c_(clampDim(cols)), r_(clampDim(rows)) {
    const int n = checkedSize(rows, cols);
    if (this->length() != n) {
      QORV_ASSERT(!"element count is not rows x cols");
      Vec::resize(n);
    }
  }
  ERMatrix(const ERMatrix&) noexcept = default;
  ERMatrix(ERMatrix&&) noexcept = default;
  ERMatrix& operator=(const ERMatrix&) noexcept = default;
  ERMatrix& operator=(ERMatrix&&) noexcept = default;
  ERMatrix& operator=(const T& value) {
    Vec::fill(value);
    return *this;
  }
  ~ERMatrix() override = default;

  // n x n, ones on the diagonal.
  static ERMatrix identity(int n) {
    ERMatrix m(n, n);
    T* d = m.data();
    for (int i = 0; i < m.r_; ++i) d[i * m.c_ + i] = T(1);
    return m;
  }

  int rows() const { return r_; }
  int cols() const { return c_; }

  const T& operator()(int i, int j) const {
    QORV_ASSERT(inMatrix(i, j));
    return this->data_[i * c_ + j];
  }
  T& operator()(int i, int j) {
    QORV_ASSERT(inMatrix(i, j));
    return this->data()[i * c_ + j];
  }
  using Vec::operator();
  // The first element of row i (private for the non-const form).
  const T* rowData(int i) const { return this->data_ + static_cast<std::ptrdiff_t>(i) * c_; }
  T* rowData(int i) { return this->data() + static_cast<std::ptrdiff_t>(i) * c_; }

  ERVec<T> row(int i) const {
    if (i < 0 || i >= r_) return badShape<ERVec<T>>();
    return ERVec<T>(rowData(i), c_);
  }
  ERVec<T> col(int j) const {
    if (j < 0 || j >= c_) return badShape<ERVec<T>>();
    ERVec<T> v(r_);
    T* out = v.data();
    for (int i = 0; i < r_; ++i) out[i] = (*this)(i, j);
    return v;
  }
  // 0 for a bad index or a vector of another length.
  int setRow(int i, const ERSimpleVec<T>& v) {
    if (i < 0 || i >= r_ || v.length() != c_) return Vec::badIndex();
    const ERSimpleVec<T> keep(v);
    std::copy_n(keep.data(), c_, rowData(i));
    return 1;
  }
  int setCol(int j, const ERSimpleVec<T>& v) {
    if (j < 0 || j >= c_ || v.length() != r_) return Vec::badIndex();
    const ERSimpleVec<T> keep(v);
    T* d = this->data();
    for (int i = 0; i < r_; ++i) d[i * c_ + j] = keep.data()[i];
    return 1;
  }
  void swapRows(int i, int k) {
    QORV_ASSERT(inMatrix(i, 0) && inMatrix(k, 0));
    if (i != k) std::swap_ranges(rowData(i), rowData(i) + c_, rowData(k));
  }
  void swapCols(int j, int k) {
    QORV_ASSERT(inMatrix(0, j) && inMatrix(0, k));
    if (j == k) return;
    T* d = this->data();
    for (int i = 0; i < r_; ++i) std::swap(d[i * c_ + j], d[i * c_ + k]);
  }

  ERMatrix transpose() const {
    ERMatrix t(c_, r_);
    T* out = t.data();
    for (int i = 0; i < r_; ++i)
      for (int j = 0; j < c_; ++j) out[j * r_ + i] = this->data_[i * c_ + j];
    return t;
  }

  // rows x cols, element (i, j) kept where it fits, new ones default.
  void reshape(int rows, int cols) {
    rows = clampDim(rows), cols = clampDim(cols);
    if (cols < c_) removeCols(cols, c_ - cols);
    if (cols > c_) insertCols(c_, cols - c_);
    if (rows < r_) removeRows(rows, r_ - rows);
    if (rows > r_) insertRows(r_, rows - r_);
  }
  void resize(int rows, int cols) { reshape(rows, cols); }

  // n default rows before row i (0 <= i <= rows()); 0 for a bad index.
  int insertRows(int i, int n = 1) {
    if (i < 0 || i > r_ || n < 0) return Vec::badIndex();
    edit(&ERVecRep::polyInsert, bytes(i) * c_, 0, 1, bytes(n) * c_);
    r_ += n;
    fillDefaults([&](int ri, int) { return ri >= i && ri < i + n; });
    return 1;
  }
  int removeRows(int i, int n = 1) {
    if (i < 0 || n < 0 || n > r_ - i) return Vec::badIndex();
    edit(&ERVecRep::polyRemove, bytes(i) * c_, 0, 1, bytes(n) * c_);
    r_ -= n;
    return 1;
  }
  // n default columns before column j (0 <= j <= cols()); 0 for a bad index.
  int insertCols(int j, int n = 1) {
    if (j < 0 || j > c_ || n < 0) return Vec::badIndex();
    edit(&ERVecRep::polyInsert, bytes(j), bytes(c_), static_cast<std::size_t>(r_), bytes(n));
    c_ += n;
    fillDefaults([&](int, int cj) { return cj >= j && cj < j + n; });
    return 1;
  }
  int removeCols(int j, int n = 1) {
    if (j < 0 || n < 0 || n > c_ - j) return Vec::badIndex();
    edit(&ERVecRep::polyRemove, bytes(j), bytes(c_), static_cast<std::size_t>(r_), bytes(n));
    c_ -= n;
    return 1;
  }
  int insertRow(int i) { return insertRows(i, 1); }
  int removeRow(int i) { return removeRows(i, 1); }
  int insertColumn(int j) { return insertCols(j, 1); }
  int removeColumn(int j) { return removeCols(j, 1); }

  ERMatrix& operator+=(const ERMatrix& o) {
    return sameShape(o) ? (Vec::operator+=(o), *this) : clearShape();
  }
  ERMatrix& operator-=(const ERMatrix& o) {
    return sameShape(o) ? (Vec::operator-=(o), *this) : clearShape();
  }
  ERMatrix& operator*=(double k) {
    Vec::operator*=(k);
    return *this;
  }
  ERMatrix& operator/=(double k) {
    Vec::operator/=(k);
    return *this;
  }

  bool operator==(const ERMatrix& o) const {
    return r_ == o.r_ && c_ == o.c_ && Vec::operator==(o);
  }
  bool operator!=(const ERMatrix& o) const { return !(*this == o); }

  // "( r= " r ", c=" c ")", a line end, then each row: elements separated by " ", a line end.
  void printOn(std::ostream& os) const override {
    os << "( r= " << r_ << ", c=" << c_ << ")\n";
    for (int i = 0; i < r_; ++i) {
      for (int j = 0; j < c_; ++j) {
        if (j != 0) os << ' ';
        detail::printElement(os, this->data_[i * c_ + j]);
      }
      os << '\n';
    }
  }
  std::uint32_t binaryStoreSize() const override { return 8 + Vec::binaryStoreSize(); }
  void saveGuts(ERFile& f) const override {
    f.Write(r_);
    f.Write(c_);
    Vec::saveGuts(f);
  }
  int restoreGuts(ERFile& f) override {
    int rows = 0, cols = 0;
    if (!f.Read(rows) || !f.Read(cols) || rows < 0 || cols < 0) return 0;
    // A shape with no elements has no rows and no columns: a billion empty rows read from a
    // damaged record would cost as much to print as to hold.
    if ((rows == 0) != (cols == 0)) return 0;
    Vec elements;
    if (!elements.restoreGuts(f)) return 0;
    if (static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(cols) !=
        static_cast<std::uint64_t>(elements.length()))
      return 0;
    Vec::operator=(std::move(elements));
    r_ = rows, c_ = cols;
    return 1;
  }

 private:
  // The length-changing members of the vector would break the shape.
  using Vec::append;
  using Vec::clear;
  using Vec::insertAt;
  using Vec::prepend;
  using Vec::removeAt;
  using Vec::removeLast;
  using Vec::reserve;

  static int clampDim(int n) { return n > 0 ? n : 0; }
  static int checkedSize(int rows, int cols) {
    const long long n = static_cast<long long>(clampDim(rows)) * clampDim(cols);
    QORV_ASSERT(n <= 0x7FFFFFFF);
    return n <= 0x7FFFFFFF ? static_cast<int>(n) : 0;
  }
  static std::size_t bytes(int n) { return static_cast<std::size_t>(n) * sizeof(T); }
  bool inMatrix(int i, int j) const {
    return static_cast<unsigned>(i) < static_cast<unsigned>(r_) &&
           static_cast<unsigned>(j) < static_cast<unsigned>(c_);
  }
  bool sameShape(const ERMatrix& o) const { return r_ == o.r_ && c_ == o.c_; }
  ERMatrix& clearShape() {
    QORV_ASSERT(!"matrix shapes differ");
    *this = ERMatrix();
    return *this;
  }
  template <class R>
  static R badShape() {
    QORV_ASSERT(!"index out of range");
    return R();
  }
  template <class Op>
  void edit(Op op, std::size_t at, std::size_t stride, std::size_t count, std::size_t run) {
    if (run == 0 || count == 0) return;
    ERVecRep* r = this->rep();
    r = r == ERVecRep::nullRep() ? ERVecRep::getRep(0) : ERVecRep::own(r);
    this->set((r->*op)(at, stride, count, run));
  }
  template <class Pred>
  void fillDefaults(Pred isNew) {
    if constexpr (!std::is_arithmetic_v<T>) {
      if (this->isEmpty()) return;
      T* d = this->data();
      for (int i = 0; i < r_; ++i)
        for (int j = 0; j < c_; ++j)
          if (isNew(i, j)) ::new (static_cast<void*>(d + i * c_ + j)) T();
    } else {
      (void)isNew;
    }
  }

  std::int32_t c_ = 0;  // row length
  std::int32_t r_ = 0;  // row count
};

template <class T>
ERMatrix<T> operator+(const ERMatrix<T>& a, const ERMatrix<T>& b) {
  ERMatrix<T> r(a);
  return r += b;
}
template <class T>
ERMatrix<T> operator-(const ERMatrix<T>& a, const ERMatrix<T>& b) {
  ERMatrix<T> r(a);
  return r -= b;
}
template <class T>
ERMatrix<T> operator-(const ERMatrix<T>& a) {
  ERMatrix<T> r(a);
  return r *= -1.0;
}
template <class T>
ERMatrix<T> operator*(const ERMatrix<T>& a, double k) {
  ERMatrix<T> r(a);
  return r *= k;
}
template <class T>
ERMatrix<T> operator*(double k, const ERMatrix<T>& a) {
  return a * k;
}
template <class T>
ERMatrix<T> operator/(const ERMatrix<T>& a, double k) {
  ERMatrix<T> r(a);
  return r /= k;
}
// The matrix product; an empty matrix (asserted) when a.cols() != b.rows().
template <class T>
ERMatrix<T> operator*(const ERMatrix<T>& a, const ERMatrix<T>& b) {
  const int n = a.rows(), m = a.cols(), p = b.cols();
  if (m != b.rows()) {
    QORV_ASSERT(!"matrix shapes differ");
    return ERMatrix<T>();
  }
  ERMatrix<T> c(n, p);
  T* out = c.data();
  const T* x = a.data();
  const T* y = b.data();
  for (int i = 0; i < n; ++i) {
    T* row = out + static_cast<std::ptrdiff_t>(i) * p;
    for (int k = 0; k < m; ++k) {
      const T aik = x[i * m + k];
      const T* yk = y + static_cast<std::ptrdiff_t>(k) * p;
      for (int j = 0; j < p; ++j) row[j] += aik * yk[j];
    }
  }
  return c;
}
// M v; an empty vector (asserted) when v.length() != M.cols().
template <class T>
ERVec<T> operator*(const ERMatrix<T>& a, const ERVec<T>& v) {
  const int n = a.rows(), m = a.cols();
  if (m != v.length()) {
    QORV_ASSERT(!"matrix and vector shapes differ");
    return ERVec<T>();
  }
  ERVec<T> r(n);
  T* out = r.data();
  const T* x = a.data();
  const T* y = v.data();
  for (int i = 0; i < n; ++i) {
    T s = T();
    for (int k = 0; k < m; ++k) s += x[i * m + k] * y[k];
    out[i] = s;
  }
  return r;
}
// v^T M (v as a row); an empty vector (asserted) when v.length() != M.rows().
template <class T>
ERVec<T> operator*(const ERVec<T>& v, const ERMatrix<T>& a) {
  const int n = a.rows(), m = a.cols();
  if (n != v.length()) {
    QORV_ASSERT(!"matrix and vector shapes differ");
    return ERVec<T>();
  }
  ERVec<T> r(m);
  T* out = r.data();
  const T* x = a.data();
  const T* y = v.data();
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < m; ++j) out[j] += y[i] * x[i * m + j];
  return r;
}
template <class T>
ERMatrix<T> transpose(const ERMatrix<T>& m) {
  return m.transpose();
}

// ---------------------------------------------------------------------------------------------
// A plain n1 x n2 array: element (i, j) at i * n2 + j.
template <class T>
class ERSimpleVec2 : public ERSimpleVec<T> {
  using Base = ERSimpleVec<T>;

 public:
  ERSimpleVec2() noexcept = default;
  ERSimpleVec2(int n1, int n2) : Base(size(n1, n2)), n1_(n1 > 0 ? n1 : 0), n2_(n2 > 0 ? n2 : 0) {}
  ERSimpleVec2(int n1, int n2, const T& value)
      : Base(size(n1, n2), value), n1_(n1 > 0 ? n1 : 0), n2_(n2 > 0 ? n2 : 0) {}

  int dim1() const { return n1_; }
  int dim2() const { return n2_; }
  const T& operator()(int i, int j) const {
    QORV_ASSERT(static_cast<unsigned>(i) < static_cast<unsigned>(n1_) &&
                static_cast<unsigned>(j) < static_cast<unsigned>(n2_));
    return this->data_[i * n2_ + j];
  }
  T& operator()(int i, int j) {
    QORV_ASSERT(static_cast<unsigned>(i) < static_cast<unsigned>(n1_) &&
                static_cast<unsigned>(j) < static_cast<unsigned>(n2_));
    return this->data()[i * n2_ + j];
  }
  using Base::operator();
  // New dimensions; every element becomes a default value.
  void reshape(int n1, int n2) {
    n1_ = n1 > 0 ? n1 : 0, n2_ = n2 > 0 ? n2 : 0;
    Base::clear();
    Base::resize(size(n1_, n2_));
  }

 private:
  static int size(int n1, int n2) {
    const long long n = static_cast<long long>(n1 > 0 ? n1 : 0) * (n2 > 0 ? n2 : 0);
    QORV_ASSERT(n <= 0x7FFFFFFF);
    return n <= 0x7FFFFFFF ? static_cast<int>(n) : 0;
  }
  std::int32_t n1_ = 0;
  std::int32_t n2_ = 0;
};

}  // namespace QuickAlgebra
