// qorv/freeform/lu_decomposition.h
//
// Dense LU factorisation with partial pivoting by rows over the QuickAlgebra matrices: P A = L U
// with L unit lower triangular. ERLUDecomp holds the packed factors (L below the diagonal, U on
// and above it) as the matrix it is, plus the factorised input, the row permutation, a singular
// flag and the permutation parity.
//
// Conventions a caller gets wrong:
// - Singular means a pivot below 1e-20 in absolute value, a non-finite entry anywhere, or a
//   shape that is neither n x n nor n x (n + 1); an empty matrix is singular too. A singular
//   factorisation solves to an empty vector or matrix, inverts to an empty matrix and has
//   determinant 0.
// - An n x (n + 1) input is a system with its right-hand side as the last column:
//   solve(lu) gives its solution (the same column is eliminated with the rows). solve(lu) of a
//   square factorisation is empty.
// - L(), U() and P() are n x n; P() * A == L() * U().
// - MatriceGaussPivot factorises A in place. When perm is null it allocates rows() ints with
//   new[] (the caller deletes them with delete[]); otherwise perm must hold rows() ints. It
//   stops at the first pivot below tol and returns 0; a non-finite pivot counts as below.
#pragma once

#include <cstdint>

#include "qorv/support/quick_algebra.h"

class QORV_API ERLUDecomp : public QuickAlgebra::ERMatrix<double> {
 public:
  explicit ERLUDecomp(const QuickAlgebra::ERMatrix<double>& a);
  ERLUDecomp(const ERLUDecomp&) = default;
  ERLUDecomp& operator=(const ERLUDecomp&) = default;
  ERLUDecomp& operator=(const QuickAlgebra::ERMatrix<double>& a);
  ~ERLUDecomp() override = default;

  int isSingular() const { return singular_; }
  int parity() const { return parity_; }
  // n = the number of rows.
  int size() const { return rows(); }
  // perm[i]: the input row that became row i.
  const int* permutation() const { return perm_.data(); }
  const QuickAlgebra::ERMatrix<double>& input() const { return input_; }
  QuickAlgebra::ERMatrix<double> L() const;
  QuickAlgebra::ERMatrix<double> U() const;
  QuickAlgebra::ERMatrix<double> P() const;

 private:
  void factorise(const QuickAlgebra::ERMatrix<double>& a);

  QuickAlgebra::ERMatrix<double> input_;
  QuickAlgebra::ERSimpleVec<std::int32_t> perm_;
  std::int32_t singular_ = 1;
  std::int32_t parity_ = 1;
};

namespace qorv {

QORV_API QuickAlgebra::ERVec<double> solve(const ERLUDecomp& lu,
                                           const QuickAlgebra::ERVec<double>& b);
QORV_API QuickAlgebra::ERMatrix<double> solve(const ERLUDecomp& lu,
                                              const QuickAlgebra::ERMatrix<double>& B);
QORV_API QuickAlgebra::ERVec<double> solve(const ERLUDecomp& lu);
QORV_API double determinant(const ERLUDecomp& lu);
QORV_API QuickAlgebra::ERMatrix<double> inverse(const ERLUDecomp& lu);
QORV_API QuickAlgebra::ERMatrix<double> IdentityMatrix(int n);
QORV_API int MatriceGaussPivot(QuickAlgebra::ERMatrix<double>& A, int*& perm, int& parity,
                               double tol);

}  // namespace qorv
