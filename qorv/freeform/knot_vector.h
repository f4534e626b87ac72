// qorv/freeform/knot_vector.h
//
// B-spline knot sequences: ERKnotVector (the knots, the degree and an unclamped flag) with span
// search, basis functions and their derivatives, homogeneous evaluation, degree raising,
// merging, differencing, reversal and reparametrisation; ERKnot, a cursor over the distinct
// values of a sequence; the free functions Union, Diff, PrepareBoehm, CheckAndRepairKnotVector.
//
// m knots U[0..m-1], degree p, n = m - p - 1 poles; the domain is [U[p], U[n]]. Knots compare
// exactly (no tolerance); a run of equal values is one knot of that multiplicity.
//
// Conventions a caller gets wrong:
// - Copies share the knot buffer (copy on write). An ERKnot walks the buffer it was made on and
//   dies with any change of that vector.
// - FindSpan answers for every u and every sequence, damaged ones included: NaN and values at
//   or below U[p] give the first non-empty span, values at or above U[n] the last one (the
//   domain end belongs to the last span); a span index always lies in [p, n-1] and its span is
//   non-empty whenever the sequence has one. Sequences with fewer than 2p + 2 knots have no
//   span: FindSpan gives p when m == 2p + 1 (every basis read stays inside the knots) and -1
//   below that. Decreasing knots (a damaged file) still give an index in range.
// - BasisFuns, DersBasisFuns and CalOnNurbs take a span from FindSpan. A span outside
//   [p, m-p-1] gives zero values instead of reading past the knots; an empty span (equal
//   knots) gives zeros where the recurrence would divide by zero.
// - DersBasisFuns(span, u, n) with n > p gives n + 1 rows, the rows past p zero (a degree-p
//   polynomial has no higher derivatives); n < 0 gives an empty matrix.
// - CalOnNurbs sums the homogeneous poles without dividing by the weight. The degree passed
//   must be the vector's and the poles must cover the span; otherwise it gives (0, 0, 0).
// - Union and Diff expect two vectors over the same range; vectors that do not end together
//   are merged value by value to the end of both (the walk always ends).
// - reverse and reparametrize leave a vector with a zero range (U[0] == U[m-1]) unchanged.
// - limites() is (U[p], U[m-p]) as the stored format defines it; first()/last() give the
//   domain [U[p], U[n]].
//
// Stored image (little-endian):
//   SIZE   FIELD
//      4   byte length of the knots, 8 m
//    8 m   the knots, IEEE doubles
//      4   degree
//      4   unclamped flag, 0 or 1
// binaryStoreSize = 8 m + 12. restoreGuts refuses (returns 0, vector unchanged) a short
// record, a length that is not a whole number of doubles, a negative degree or one above m,
// and a flag other than 0 or 1.
//
// Print form: "KnotVector degree " p, "  (**UNCLAMPLED**)" or "  ( Regular )", a line end,
// then "(" m ")[" the knots separated by "," "]" and a line end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <utility>

#include "qorv/foundation/angles.h"
#include "qorv/foundation/points.h"
#include "qorv/persistence/file.h"
#include "qorv/support/quick_algebra.h"

class ERKnot;
class ERKnotVector;

namespace qorv {
QORV_API ERKnotVector Union(const ERKnotVector& a, const ERKnotVector& b);
QORV_API ERKnotVector Diff(const ERKnotVector& a, const ERKnotVector& b);
}  // namespace qorv

namespace qorv::detail {

// The p + 1 basis functions of span s at u by the triangle of de Boor and Cox (an empty interval
// adds 0); left and right hold p + 1 doubles each. PF >= 0 fixes the degree at compile time.
template <int PF = -1>
inline void basisTriangle(const double* U, int pRun, int s, double u, double* N, double* left,
                          double* right) {
  const int p = PF >= 0 ? PF : pRun;
  N[0] = 1.0;
  for (int j = 1; j <= p; ++j) {
    left[j] = u - U[s + 1 - j];
    right[j] = U[s + j] - u;
    double saved = 0.0;
    for (int r = 0; r < j; ++r) {
      const double den = right[r + 1] + left[j - r];
      const double t = den != 0.0 ? N[r] / den : 0.0;
      N[r] = saved + right[r + 1] * t;
      saved = left[j - r] * t;
    }
    N[j] = saved;
  }
}

// The basis functions of span s at u and their derivatives to order nd: ders[k * (p + 1) + r]
// (the recurrence of de Boor and Cox with the derivative triangle; empty intervals add 0).
// PF >= 0 fixes the degree, NF >= 0 the order at compile time (the loops unrolled); mem holds
// (p + 1) (p + 5).
template <int PF, int NF = -1>
inline void basisDerivatives(const double* U, int pRun, int s, double u, int ndRun, double* ders,
                             double* mem) {
  const int p = PF >= 0 ? PF : pRun;
  const int nd = NF >= 0 ? NF : ndRun;
  const int q = p + 1;
  double* ndu = mem;
  double* left = ndu + q * q;
  double* right = left + q;
  double* a = right + q;  // two rows of q
  ndu[0] = 1.0;
  for (int j = 1; j <= p; ++j) {
    left[j] = u - U[s + 1 - j];
    right[j] = U[s + j] - u;
    double saved = 0.0;
    for (int r = 0; r < j; ++r) {
      ndu[j * q + r] = right[r + 1] + left[j - r];
      const double den = ndu[j * q + r];
      const double t = den != 0.0 ? ndu[r * q + j - 1] / den : 0.0;
      ndu[r * q + j] = saved + right[r + 1] * t;
      saved = left[j - r] * t;
    }
    ndu[j * q + j] = saved;
  }
  for (int j = 0; j <= p; ++j) ders[j] = ndu[j * q + p];
  for (int k = 1; k <= nd; ++k)
    for (int j = 0; j <= p; ++j) ders[k * q + j] = 0.0;
  const int top = std::min(nd, p);
  for (int r = 0; r <= p; ++r) {
    int s1 = 0, s2 = 1;
    a[0] = 1.0;
    for (int k = 1; k <= top; ++k) {
      double d = 0.0;
      const int rk = r - k, pk = p - k;
      if (r >= k) {
        const double den = ndu[(pk + 1) * q + rk];
        a[s2 * q + 0] = den != 0.0 ? a[s1 * q + 0] / den : 0.0;
        d = a[s2 * q + 0] * ndu[rk * q + pk];
      }
      const int j1 = rk >= -1 ? 1 : -rk;
      const int j2 = (r - 1 <= pk) ? k - 1 : p - r;
      for (int j = j1; j <= j2; ++j) {
        const double den = ndu[(pk + 1) * q + rk + j];
        a[s2 * q + j] = den != 0.0 ? (a[s1 * q + j] - a[s1 * q + j - 1]) / den : 0.0;
        d += a[s2 * q + j] * ndu[(rk + j) * q + pk];
      }
      if (r <= pk) {
        const double den = ndu[(pk + 1) * q + r];
        a[s2 * q + k] = den != 0.0 ? -a[s1 * q + k - 1] / den : 0.0;
        d += a[s2 * q + k] * ndu[r * q + pk];
      }
      ders[k * q + r] = d;
      std::swap(s1, s2);
    }
  }
  double f = p;
  for (int k = 1; k <= top; ++k) {
    for (int j = 0; j <= p; ++j) ders[k * q + j] *= f;
    f *= (p - k);
  }
}

}  // namespace qorv::detail

class QORV_API ERKnotVector {
 public:
  ERKnotVector() = default;
  ERKnotVector(const ERKnotVector&) = default;
  ERKnotVector& operator=(const ERKnotVector&) = default;
  // Degree from the leading run (its length - 1), flag 0.
  explicit ERKnotVector(const QuickAlgebra::ERVec<double>& knots);
  ERKnotVector(const double* knots, int count);
  // Given degree (a negative one is 0); flag from the clamping rule.
  ERKnotVector(int degree, const double* knots, int count);
  ERKnotVector(int degree, const QuickAlgebra::ERVec<double>& knots);
  // Bezier sequence: degree + 1 copies of each limit.
  ERKnotVector(int degree, const ERLimites& range);
  // Uniform clamped sequence for nbPoles poles (at least degree + 1).
  ERKnotVector(int degree, int nbPoles, const ERLimites& range);
  virtual ~ERKnotVector() = default;

  virtual void printOn(std::ostream& os) const;
  virtual std::uint32_t binaryStoreSize() const;
  virtual void saveGuts(ERFile& f) const;
  virtual int restoreGuts(ERFile& f);

  double operator[](int i) const { return knots_[i]; }
  double operator()(int i) const { return knots_[i]; }
  const double* data() const { return knots_.data(); }
  const QuickAlgebra::ERVec<double>& getVec() const { return knots_; }
  int length() const { return knots_.length(); }
  int degree() const { return degree_; }
  int isUnclamped() const { return unclamped_; }
  // The domain ends; indices past the knots read the nearest end knot, an empty vector 0.
  double first() const { return knotAt(degree_); }
  double last() const { return knotAt(length() - degree_ - 1); }
  ERLimites limites() const { return ERLimites(knotAt(degree_), knotAt(length() - degree_)); }
  int nbSpans() const { return length() - 2 * degree_ - 1; }
  ERLimites getSpanLimites(int i) const {
    return ERLimites(knots_[degree_ + i], knots_[degree_ + i + 1]);
  }

  int FindSpan(double u) const;
  // Index of the first knot equal to u, -1 when u is not a knot.
  int quicklyFind(double u) const;
  QuickAlgebra::ERVec<double> BasisFuns(int span, double u) const;
  // p + 1 values into out.
  void BasisFunsBuffer(int span, double u, double* out) const;
  // (n + 1) x (p + 1): row k holds the k-th derivatives of the non-zero basis functions.
  QuickAlgebra::ERMatrix<double> DersBasisFuns(int span, double u, int n) const;
  ERPole2DH CalOnNurbs(double u, int degree, const QuickAlgebra::ERVec<ERPole2DH>& poles) const;
  // Appends every value whose multiplicity m satisfies p - m < c; returns 1.
  int GetDiscontinuities(int c, QuickAlgebra::ERVec<double>& out) const;
  int IsContinuous(int c) const;
  ERKnotVector GetPrautzsch(int r) const;
  void incDegree(int t);
  void insertAt(int pos, const double& value, int count = 1);
  void removeAt(int pos);
  ERKnotVector subVector(int start, int count) const;
  void concat(const ERKnotVector& other);
  void reverse();
  void reparametrize(const ERLimites& range);
  void AssertValid() const {}

 private:
  // Out of line: inlined into a caller's empty vector, compilers flag the read through the
  // shared empty block on the path that never takes it.
  double knotAt(int i) const;

  friend class ERKnot;
  friend ERKnotVector qorv::Union(const ERKnotVector&, const ERKnotVector&);
  friend ERKnotVector qorv::Diff(const ERKnotVector&, const ERKnotVector&);
  void computeDegree();
  int isUnclamped(int degree) const;

  QuickAlgebra::ERVec<double> knots_;
  std::int32_t degree_ = 0;
  std::int32_t unclamped_ = 0;
};

QORV_API std::ostream& operator<<(std::ostream& os, const ERKnotVector& k);

// A cursor over the distinct values of a knot vector.
class QORV_API ERKnot {
 public:
  enum : std::uint32_t { kUnderflow = 1, kOverflow = 2, kError = 4 };

  // On U[0].
  explicit ERKnot(const ERKnotVector& k);
  // On v when v is a knot, else on the greatest value below it with the error bit set.
  ERKnot(const ERKnotVector& k, double v);

  // 1 on v; 0 (on the greatest value below v) when v is not a knot.
  int reach(double v);
  int operator++();
  int operator--();
  // Writes v into every knot of the current run; the vector must not be a const object.
  ERKnot& operator=(double v);

  double value() const;
  operator double() const { return value(); }
  int index() const { return index_; }
  int multiplicity() const { return multiplicity_; }
  int isFirst() const { return index_ == 0; }
  int isLast() const { return index_ + multiplicity_ >= vector_->length(); }
  int underflow() const { return (status_ & kUnderflow) != 0; }
  int overflow() const { return (status_ & kOverflow) != 0; }
  int error() const { return (status_ & kError) != 0; }
  void reset() { status_ = 0; }

 private:
  ERKnot(const ERKnotVector& k, int index, int multiplicity);
  int runLength(int start) const;

  ERKnotVector* vector_;
  std::int32_t index_ = 0;
  std::int32_t multiplicity_ = 0;
  std::int32_t stride_ = 0;
  std::uint32_t status_ = 0;
};

QORV_API std::ostream& operator<<(std::ostream& os, const ERKnot& k);

namespace qorv {

QORV_API ERKnotVector Union(const ERKnotVector& a, const ERKnotVector& b);
QORV_API ERKnotVector Diff(const ERKnotVector& a, const ERKnotVector& b);
QORV_API void PrepareBoehm(ERKnotVector& k, double u, int r, double& uk, int& kIndex, int& s,
                           double& uk1, int& k1, int& s1, int& span, int& rOut);
// Flattens small backward steps (at most relTol of the range); 0 for an empty or reversed range
// or a larger backward step.
QORV_API int CheckAndRepairKnotVector(QuickAlgebra::ERVec<double>& knots, double ignored,
                                      double relTol);

}  // namespace qorv
