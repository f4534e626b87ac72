// qorv/freeform/solvers.h
//
// Newton iterations and the function objects that state the equations: ERNewtonSSolver (one
// variable), ERNewtonMSolver (n variables), ERNewtonMSolverEx (damped step on a merit function
// with a domain test), ERNewtonMSolverWithBackTracking (line search on 1/2 F.F, after Dennis and
// Schnabel's globally convergent Newton), all four over ERNewtonSolverBase (the iteration limit,
// the derivative tolerance and the count); ERCNewtonS/SDelta/SPolynome, ERCNewtonM/MDelta/H and
// FonctionnelleIntersectionDeBezier (two Bezier spans in power form meeting).
//
// Status codes of ERNewtonSSolver, ERNewtonMSolver and ERNewtonMSolverEx (Resoudre's result):
//   0 converged: residual within eps and last step within eps relative to the solution
//   1 residual within eps but last step larger (a solution reached in one large step), or the
//     iterate stopped changing without convergence
//   2 still running at the iteration limit (also for a limit below 1)
//   3 derivative too small: tol |F| exceeds |J|
//   4 singular Jacobian (at once, on the iteration that meets it) or divergence
// ERNewtonMSolverWithBackTracking: 1 initial residual below 1e-10, 2 converged on the residual
// (max |F_i| < 1e-9), 3 line search failed at a local minimum of the merit function, 4 line
// search failed elsewhere, 5 converged on the step, -1 iteration limit.
//
// Conventions a caller gets wrong:
// - Status 0 asks for a last step within eps |x|: Newton on x^2 - 2 from 1 with eps 1e-12 ends
//   with 1, its last step (1.6e-12) being above eps |x|; the residual is what was met.
// - tol is the derivative test (status 3), not the convergence tolerance; eps is. Status 3
//   and divergence (4) are final: the step of the iteration that meets them is still taken,
//   but a residual within eps after it does not turn them into 0 or 1.
// - ERNewtonMSolverEx damps the step whenever HDomaine(trial) is non-zero, and HDomaine returns
//   1 unless overridden: a function object that keeps the default is always damped (lambda at
//   most 1, at least 0.1, 1 again near convergence). Override HDomaine to return 0 for points
//   inside the domain.
// - NaN from a function object or in a Jacobian never loops: a NaN Jacobian is singular (4), a
//   NaN residual runs to the iteration limit (2, or -1 for the back-tracking solver), whose
//   line search gives up after a bounded number of halvings (status 3 or 4).
// - A function object answering vectors or Jacobians of the wrong size is singular (4); a null
//   function object gives 4 without evaluating anything.
// - The back-tracking solver's line search uses eps as its step tolerance; a Jacobian that
//   cannot be factorised gives 4 (the line search has no direction).
#pragma once

#include <algorithm>

#include "qorv/freeform/polynomial.h"
#include "qorv/support/quick_algebra.h"

class QORV_API ERCNewtonS {
 public:
  virtual double f(double x) = 0;
  virtual double fprime(double x) = 0;
  virtual ~ERCNewtonS() = default;
};

// fprime by the central difference (f(x + h) - f(x - h)) / (2h).
class QORV_API ERCNewtonSDelta : public ERCNewtonS {
 public:
  explicit ERCNewtonSDelta(double h = 1e-8) : h_(h) {}
  double fprime(double x) override;
  void SetIncrement(double h) { h_ = h; }
  double GetIncrement() const { return h_; }

 private:
  double h_;
};

// f = P, fprime = Q (normally P').
class QORV_API ERCNewtonSPolynome : public ERCNewtonS {
 public:
  ERCNewtonSPolynome(const ERPolynome& P, const ERPolynome& Q) : P_(P), Q_(Q) {}
  double f(double x) override { return P_.evaluate(x); }
  double fprime(double x) override { return Q_.evaluate(x); }

 private:
  ERPolynome P_;
  ERPolynome Q_;
};

class QORV_API ERCNewtonM {
 public:
  virtual QuickAlgebra::ERVec<double> f(const QuickAlgebra::ERVec<double>& x) = 0;
  virtual QuickAlgebra::ERMatrix<double> fprime(const QuickAlgebra::ERVec<double>& x) = 0;
  virtual ~ERCNewtonM() = default;
};

// fprime by forward differences of f: column j is (f(x + h e_j) - f(x)) / h.
class QORV_API ERCNewtonMDelta : public ERCNewtonM {
 public:
  explicit ERCNewtonMDelta(double h = 1e-8) : h_(h) {}
  QuickAlgebra::ERMatrix<double> fprime(const QuickAlgebra::ERVec<double>& x) override;
  void SetIncrement(double h) { h_ = h; }
  double GetIncrement() const { return h_; }

 private:
  double h_;
};

// A scalar merit function phi; f is its forward-difference gradient.
class QORV_API ERCNewtonH : public ERCNewtonMDelta {
 public:
  explicit ERCNewtonH(double h = 1e-8) : ERCNewtonMDelta(h) {}
  QuickAlgebra::ERVec<double> f(const QuickAlgebra::ERVec<double>& x) override;
  ~ERCNewtonH() override = default;
  virtual double phi(const QuickAlgebra::ERVec<double>& x) = 0;
  // Non-zero asks the damped solver to damp the step to x.
  virtual int HDomaine(const QuickAlgebra::ERVec<double>& x);
};

// f(s, t) = (X1/W1 (s) - X2/W2 (t), Y1/W1 (s) - Y2/W2 (t)) with its analytic Jacobian.
class QORV_API FonctionnelleIntersectionDeBezier : public ERCNewtonM {
 public:
  FonctionnelleIntersectionDeBezier(const ERPolynome& X1, const ERPolynome& Y1,
                                    const ERPolynome& W1, const ERPolynome& X2,
                                    const ERPolynome& Y2, const ERPolynome& W2);
  QuickAlgebra::ERVec<double> f(const QuickAlgebra::ERVec<double>& x) override;
  QuickAlgebra::ERMatrix<double> fprime(const QuickAlgebra::ERVec<double>& x) override;

 private:
  ERPolynome X1_, Y1_, W1_, X2_, Y2_, W2_;
  ERPolynome dX1_, dY1_, dW1_, dX2_, dY2_, dW2_;
};

// A scalar function of n variables for minimisation: its value first, then its gradient and
// Hessian, both by central differences of the value unless a subclass knows better (steps of
// 1e-6 max(1, |x_i|)). A point outside the function's domain may answer a large value.
class QORV_API FunctorBase {
 public:
  explicit FunctorBase(int n) : n_(n > 0 ? n : 0), work_(n_) {}
  virtual double operator()(const QuickAlgebra::ERVec<double>& x) = 0;
  virtual QuickAlgebra::ERVec<double> gradient(const QuickAlgebra::ERVec<double>& x);
  virtual QuickAlgebra::ERMatrix<double> hessian(const QuickAlgebra::ERVec<double>& x);
  virtual ~FunctorBase() = default;

  int nbVariables() const { return n_; }

 protected:
  int n_;
  QuickAlgebra::ERVec<double> work_;  // the shifted points of the differences
};

// ---------------------------------------------------------------------------------------------
// What every Newton solver keeps: the iteration limit and the derivative tolerance it is given,
// the status and the iteration count of its last Resoudre.
class QORV_API ERNewtonSolverBase {
 public:
  void SetMaxIter(int n) { maxIter_ = n; }
  void SetTolerance(double t) { tol_ = t; }
  int getNBIter() const { return count_; }

 protected:
  ERNewtonSolverBase(double tol, int maxIter) : maxIter_(maxIter), tol_(tol) {}
  ~ERNewtonSolverBase() = default;

  int status_ = 2;
  int count_ = 0;
  int maxIter_;
  double tol_;
};

class QORV_API ERNewtonSSolver : public ERNewtonSolverBase {
 public:
  ERNewtonSSolver(ERCNewtonS* f, double tol, int maxIter)
      : ERNewtonSolverBase(tol, maxIter), f_(f) {}
  int Resoudre(double& x, double eps);

 private:
  ERCNewtonS* f_;
  double previous_ = 0.0;
  double fx_ = 0.0;
  double dfx_ = 0.0;
};

class QORV_API ERNewtonMSolver : public ERNewtonSolverBase {
 public:
  ERNewtonMSolver(ERCNewtonM* f, unsigned n, double tol, int maxIter);
  int Resoudre(QuickAlgebra::ERVec<double>& X, double eps);
  // The norm of the last F.
  double GetLastCriteria() const { return F_.norme(); }

 private:
  ERCNewtonM* f_;
  QuickAlgebra::ERVec<double> previous_;
  QuickAlgebra::ERVec<double> F_;
  QuickAlgebra::ERMatrix<double> J_;
};

class QORV_API ERNewtonMSolverEx : public ERNewtonSolverBase {
 public:
  ERNewtonMSolverEx(ERCNewtonH* f, double tol, int maxIter)
      : ERNewtonSolverBase(tol, maxIter), f_(f) {}
  int Resoudre(QuickAlgebra::ERVec<double>& X, double eps);
  // The squared norm of the last gradient.
  double Performance() const { return F_.norme2(); }

 private:
  ERCNewtonH* f_;
  QuickAlgebra::ERVec<double> X_, F_, G_;
  QuickAlgebra::ERMatrix<double> J_;
};

// The process-wide hook called at the start of every iteration of ERNewtonMSolverEx (none by
// default); returns the previous one.
using ERNewtonSolverHook = void (*)(const QuickAlgebra::ERVec<double>& X);
QORV_API ERNewtonSolverHook SetNewtonSolverHook(ERNewtonSolverHook hook);

class QORV_API ERNewtonMSolverWithBackTracking : public ERNewtonSolverBase {
 public:
  ERNewtonMSolverWithBackTracking(ERCNewtonM* f, double tol, int maxIter)
      : ERNewtonSolverBase(tol, maxIter), f_(f) {}
  int Resoudre(QuickAlgebra::ERVec<double>& X, double eps);
  int getNBFevaluate() const { return nbF_; }

 private:
  // 0 on success, 1 when the step fell below the smallest allowed.
  int LinearSearch(const QuickAlgebra::ERVec<double>& xold, double phiOld,
                   const QuickAlgebra::ERVec<double>& g, QuickAlgebra::ERVec<double>& p,
                   QuickAlgebra::ERVec<double>& x, double& phi, double stpmax, double stepTol);

  ERCNewtonM* f_;
  QuickAlgebra::ERVec<double> previous_;
  QuickAlgebra::ERVec<double> F_;
  QuickAlgebra::ERMatrix<double> J_;
  int nbF_ = 0;
};

namespace qorv::detail {

// Narrows a bracket [lo, hi] of samples where dir * slope goes from negative to positive to
// the slope's zero: Illinois steps (regula falsi with the stale end's slope halved), a bisection
// every eighth step and whenever the secant leaves the bracket, at most 200 steps; it stops when
// the two ends are adjacent doubles, or on an exact zero (both ends then that sample). Sample
// has a member dg (the slope); paramOf(sample) is its parameter, at(t) samples t.
template <class Sample, class Param, class At>
void narrowSlopeBracket(Sample& lo, Sample& hi, double dir, Param paramOf, At at) {
  int side = 0;
  for (int it = 0; it < 200; ++it) {
    const double a = paramOf(lo), b = paramOf(hi);
    double t = a - lo.dg * (b - a) / (hi.dg - lo.dg);
    if (!(std::min(a, b) < t && t < std::max(a, b)) || it % 8 == 7) t = 0.5 * (a + b);
    if (t == a || t == b) return;  // adjacent doubles
    const Sample m = at(t);
    if (dir * m.dg < 0) {
      lo = m;
      if (side == -1) hi.dg *= 0.5;
      side = -1;
    } else if (dir * m.dg > 0) {
      hi = m;
      if (side == 1) lo.dg *= 0.5;
      side = 1;
    } else {
      lo = hi = m;
      return;
    }
  }
}

}  // namespace qorv::detail
