// qorv/freeform/polynomial.h
//
// Power-basis algebra: ERPolynome (one variable, double coefficients, c[i] the coefficient of
// x^i), ERPolynome2Var (two variables), the real-root finder Zeros under every projection and
// intersection of the free-form curves, the binomial table (TableauDePascal, Cnp) and the
// factorial cache (ERFactorialFactory, owned by the library object).
//
// Conventions a caller gets wrong:
// - Copies share the coefficient buffer. degree() trims trailing exact zeros from the stored
//   vector, even through a const object; arithmetic results are not trimmed.
// - The non-const operator()(i) grows the polynomial to hold c[i]; operator[] does not.
// - Zeros(p, [a, b], roots) lists every real root in the closed range, ascending, a root of
//   multiplicity k k times; it returns their count, -1 for the zero polynomial (every value is a
//   root), and 0 for a non-zero constant, a NaN coefficient or an empty or NaN range. Leading
//   coefficients with |c| <= 1e-10 are dropped first (an absolute rule, so scale the polynomial
//   sensibly). A root computed within a few units of roundoff of the range outside an end is
//   that end: a foot at a span junction is never lost. Roots are listed in ascending order, not
//   in the order of a complex solver.
// - Realness and multiplicity follow from the coefficients as stored: at a stationary point c,
//   |p(c)| <= 2 (d + 1) u sum |c_i||c|^i (u the unit roundoff, p evaluated with compensated
//   Horner) is a multiple root there, which is what a double root perturbed by the rounding of
//   its coefficients looks like; a larger value is a complex pair and gives no root. A pair of
//   real roots closer than that resolution is listed as a double root.
// - Cnp(n, p) is 0 for p < 0, p > n or n < 0; rows past 1100 are computed on the fly (the
//   middle entries overflow to +inf from row 1030 on). Fact(n) is 0 for n < 0 and +inf from 171.
//   Both tables are safe under concurrent first use.
//
// Method: Zeros isolates the real roots through the derivative sequence. The roots of p' in the
// range split it into pieces where p is monotone; a piece whose ends differ in sign holds one
// simple root, found by safeguarded Newton with bisection (started from the cubic that has the
// ends' values and flat ends) and polished with compensated Horner evaluation (S. Graillat,
// N. Louvet, Ph. Langlois, "Compensated Horner scheme", 2005), so a simple root comes out as if
// the polynomial were evaluated in twice the working precision. Derivative roots are solved to
// plain accuracy, and polished the same way where they turn out to be multiple roots of p.
//
// Stored images (little-endian):
//   ERPolynome      4   byte length of the coefficients, 8 k
//                 8 k   c[0..k-1], IEEE doubles           binaryStoreSize = 8 k + 4
//   ERPolynome2Var  the ERMatrix<double> record: rows (v count) and columns (u count) as 4-byte
//                   integers, then the element record (4-byte byte length, the doubles row
//                   after row); coefficient of v^i u^j at row i, column j.
// restoreGuts refuses (returns 0, object unchanged) a short or inconsistent record.
//
// Print forms: ERPolynome "polynome NULL" for no coefficients, else the non-zero terms in
// increasing power, e.g. (1, -2, 0, 1) prints "1-2*x+x**3", then a line end; ERPolynome2Var
// "Polynome 2Var dU=" dU ", dv=" dV ")" then the coefficient matrix's print and a line end.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <ostream>

#include "qorv/foundation/angles.h"
#include "qorv/persistence/file.h"
#include "qorv/support/quick_algebra.h"
#include "qorv/support/val_vector.h"

enum polyValue { polyValueTag };
enum polyConstruct { polyConstructTag };

class QORV_API ERPolynome {
 public:
  ERPolynome() : c_(1) {}
  ERPolynome(polyValue, double v) : c_(1, v) {}
  ERPolynome(polyConstruct, int d) : c_(d + 1) {}
  ERPolynome(const double* c, int count) : c_(c, count) {}
  explicit ERPolynome(const QuickAlgebra::ERVec<double>& c) : c_(c) {}
  ERPolynome(const ERPolynome&) = default;
  ERPolynome& operator=(const ERPolynome&) = default;
  virtual ~ERPolynome() = default;

  virtual void printOn(std::ostream& os) const;
  virtual std::uint32_t binaryStoreSize() const { return c_.binaryStoreSize(); }
  virtual void saveGuts(ERFile& f) const { c_.saveGuts(f); }
  virtual int restoreGuts(ERFile& f) { return c_.restoreGuts(f); }

  // c[i], growing the polynomial with zeros when needed.
  double& operator()(int i);
  // c[i], 0 beyond the stored coefficients.
  double operator()(int i) const { return (i >= 0 && i < c_.length()) ? c_[i] : 0.0; }
  double& operator[](int i) { return c_[i]; }
  double operator[](int i) const { return c_[i]; }
  double* data() { return c_.data(); }
  const double* data() const { return c_.data(); }
  // Stored coefficient count (not trimmed).
  int length() const { return c_.length(); }
  const QuickAlgebra::ERVec<double>& coefficients() const { return c_; }

  int degree() const;
  // -1 trims trailing zeros; d >= count appends zeros up to d + 1 coefficients.
  void adjustDegree(int d);
  double evaluate(double x) const;
  ERPolynome getDerived(int k) const;
  // Zeroes c_i when |c_i| < eps^(i+1), then trims.
  void reduce(double eps);
  // The composition p(q(x)).
  ERPolynome operator()(const ERPolynome& q) const;

  ERPolynome& operator*=(const ERPolynome& q);
  ERPolynome& operator*=(double s);
  ERPolynome& operator+=(const ERPolynome& q);
  ERPolynome& operator-=(const ERPolynome& q);
  ERPolynome& operator/=(double s);
  bool operator==(const ERPolynome& q) const;
  bool operator!=(const ERPolynome& q) const { return !(*this == q); }

 private:
  mutable QuickAlgebra::ERVec<double> c_;
};

QORV_API ERPolynome operator*(const ERPolynome& p, const ERPolynome& q);
QORV_API ERPolynome operator*(double s, const ERPolynome& p);
QORV_API ERPolynome operator+(const ERPolynome& p, const ERPolynome& q);
QORV_API ERPolynome operator-(const ERPolynome& p, const ERPolynome& q);
QORV_API ERPolynome operator/(const ERPolynome& p, double s);
QORV_API std::ostream& operator<<(std::ostream& os, const ERPolynome& p);

// ---------------------------------------------------------------------------------------------
class QORV_API ERPolynome2Var {
 public:
  ERPolynome2Var() = default;
  ERPolynome2Var(int dV, int dU) : c_(dV + 1, dU + 1) {}
  explicit ERPolynome2Var(const QuickAlgebra::ERMatrix<double>& c) : c_(c) {}
  ERPolynome2Var(const QuickAlgebra::ERVec<double>& c, int rows, int rowLength);
  ERPolynome2Var(const double* c, int rows, int rowLength) : c_(rows, rowLength, c) {}
  ERPolynome2Var(const ERPolynome2Var&) = default;
  ERPolynome2Var& operator=(const ERPolynome2Var&) = default;
  virtual ~ERPolynome2Var() = default;

  virtual void printOn(std::ostream& os) const;
  virtual std::uint32_t binaryStoreSize() const { return c_.binaryStoreSize(); }
  virtual void saveGuts(ERFile& f) const { c_.saveGuts(f); }
  virtual int restoreGuts(ERFile& f) { return c_.restoreGuts(f); }

  // Coefficient of v^i u^j.
  double& at(int i, int j) { return c_(i, j); }
  double at(int i, int j) const { return c_(i, j); }
  double& coefficient(int i, int j);
  double coefficient(int i, int j) const;
  const QuickAlgebra::ERMatrix<double>& matrix() const { return c_; }
  int degreeU() const;
  int degreeV() const;
  void adjustDegreeU(int d);
  void adjustDegreeV(int d);
  double eval(double u, double v) const;
  bool operator==(const ERPolynome2Var& o) const { return c_ == o.c_; }

 private:
  mutable QuickAlgebra::ERMatrix<double> c_;
};

// ---------------------------------------------------------------------------------------------
namespace qorv {

QORV_API int Zeros(const ERPolynome& p, const ERLimites& range, QuickAlgebra::ERVec<double>& roots);
QORV_API int ZerosMethode1(const ERPolynome& p, const ERLimites& range,
                           QuickAlgebra::ERVec<double>& roots);
// The roots of a polynomial of degree >= 1 (the worker of ZerosMethode1).
QORV_API QuickAlgebra::ERVec<double> Zeros1(const ERPolynome& p, const ERLimites& range);
// The same roots as a vector (none for the zero polynomial).
QORV_API QuickAlgebra::ERVec<double> Zeros(const ERPolynome& p, const ERLimites& range);

}  // namespace qorv

// The parameters in range where the squared distance from point to a polynomial patch is
// stationary: the roots of F = sum_k (X_k - P_k W)(X_k' W - X_k W'), W = 1 for a plain patch.
// polys holds the coordinate polynomials (dim of them) and, when rational, the weight last;
// point holds dim coordinates. Returns the count (params ascending, a multiple root repeated:
// the centre of curvature of a vertex gives a double or triple root), or -1 when F vanishes
// identically (every parameter is stationary: the centre of a circle); the caller picks the
// nearest among them and the range ends. dim must be 2 or 3 and polys must hold dim or dim + 1
// polynomials, else 0.
QORV_API int ProjectionPointOnCpoly(const ERTValVector<ERPolynome>& polys, int dim,
                                    const double* point, const ERLimites& range,
                                    QuickAlgebra::ERVec<double>& params);

// ---------------------------------------------------------------------------------------------
// The binomial triangle, grown on demand by blocks of 20 rows; rows never move once built.
class QORV_API TableauDePascal {
 public:
  static constexpr int kMaxRow = 1100;

  TableauDePascal();
  ~TableauDePascal();
  TableauDePascal(const TableauDePascal&) = delete;
  TableauDePascal& operator=(const TableauDePascal&) = delete;

  double Cnp(int n, int p);
  // Row n (binom(n, 0) .. binom(n, n)); null for n < 0 or n > kMaxRow.
  const double* Cnp(int n);
  void ComputeTo(int N);
  // The process-wide table behind the free Cnp.
  static TableauDePascal& instance();

 private:
  std::atomic<double*> rows_[kMaxRow + 1];
  std::atomic<int> highest_{-1};
  std::mutex grow_;
};

namespace qorv {
QORV_API double Cnp(int n, int p);
}  // namespace qorv

// ---------------------------------------------------------------------------------------------
// Factorials: 0! .. 27! from a constant table, above that from a cache grown by blocks of 16.
class QORV_API ERFactorialFactory {
 public:
  ERFactorialFactory() = default;
  ~ERFactorialFactory();
  ERFactorialFactory(const ERFactorialFactory&) = delete;
  ERFactorialFactory& operator=(const ERFactorialFactory&) = delete;

  double Fact(int n);
  // The library object's factory (a process-wide one while the library is not loaded).
  static ERFactorialFactory& instance();

 private:
  double* cache_ = nullptr;
  std::int32_t top_ = -1;
  std::mutex lock_;
};
