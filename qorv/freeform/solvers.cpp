#include "qorv/freeform/solvers.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>

#include "qorv/freeform/lu_decomposition.h"

using namespace qorv;

using QuickAlgebra::ERMatrix;
using QuickAlgebra::ERVec;

namespace {

std::atomic<ERNewtonSolverHook> g_hook{nullptr};

// Largest |v_i|, NaN counting as infinite.
double maxAbs(const ERVec<double>& v) {
  double m = 0.0;
  for (double x : v) {
    const double a = std::fabs(x);
    if (!(a <= m)) m = std::isnan(a) ? INFINITY : a;
  }
  return m;
}

bool sameShape(const ERMatrix<double>& J, int n) { return J.rows() == n && J.cols() == n; }

}  // namespace

ERNewtonSolverHook SetNewtonSolverHook(ERNewtonSolverHook hook) { return g_hook.exchange(hook); }

// ---------------------------------------------------------------------------------------------
double ERCNewtonSDelta::fprime(double x) { return (f(x + h_) - f(x - h_)) * 0.5 / h_; }

ERMatrix<double> ERCNewtonMDelta::fprime(const ERVec<double>& x) {
  const ERVec<double> f0 = f(x);
  const int n = x.length(), m = f0.length();
  ERMatrix<double> J(m, n);
  ERVec<double> xh(x);
  for (int j = 0; j < n; ++j) {
    const double keep = xh[j];
    xh[j] = keep + h_;
    const ERVec<double> fj = f(xh);
    xh[j] = keep;
    if (fj.length() != m) return ERMatrix<double>();
    for (int i = 0; i < m; ++i) J(i, j) = (fj[i] - f0[i]) / h_;
  }
  return J;
}

ERVec<double> ERCNewtonH::f(const ERVec<double>& x) {
  const double h = GetIncrement();
  const double p0 = phi(x);
  const int n = x.length();
  ERVec<double> g(n);
  ERVec<double> xh(x);
  for (int j = 0; j < n; ++j) {
    const double keep = xh[j];
    xh[j] = keep + h;
    g[j] = (phi(xh) - p0) / h;
    xh[j] = keep;
  }
  return g;
}

int ERCNewtonH::HDomaine(const ERVec<double>&) { return 1; }

FonctionnelleIntersectionDeBezier::FonctionnelleIntersectionDeBezier(
    const ERPolynome& X1, const ERPolynome& Y1, const ERPolynome& W1, const ERPolynome& X2,
    const ERPolynome& Y2, const ERPolynome& W2)
    : X1_(X1),
      Y1_(Y1),
      W1_(W1),
      X2_(X2),
      Y2_(Y2),
      W2_(W2),
      dX1_(X1.getDerived(1)),
      dY1_(Y1.getDerived(1)),
      dW1_(W1.getDerived(1)),
      dX2_(X2.getDerived(1)),
      dY2_(Y2.getDerived(1)),
      dW2_(W2.getDerived(1)) {}

ERVec<double> FonctionnelleIntersectionDeBezier::f(const ERVec<double>& x) {
  if (x.length() != 2) return ERVec<double>();
  const double s = x[0], t = x[1];
  const double w1 = W1_.evaluate(s), w2 = W2_.evaluate(t);
  ERVec<double> r(2);
  r[0] = X1_.evaluate(s) / w1 - X2_.evaluate(t) / w2;
  r[1] = Y1_.evaluate(s) / w1 - Y2_.evaluate(t) / w2;
  return r;
}

ERMatrix<double> FonctionnelleIntersectionDeBezier::fprime(const ERVec<double>& x) {
  if (x.length() != 2) return ERMatrix<double>();
  const double s = x[0], t = x[1];
  const double w1 = W1_.evaluate(s), dw1 = dW1_.evaluate(s);
  const double w2 = W2_.evaluate(t), dw2 = dW2_.evaluate(t);
  ERMatrix<double> J(2, 2);
  J(0, 0) = (dX1_.evaluate(s) * w1 - X1_.evaluate(s) * dw1) / (w1 * w1);
  J(1, 0) = (dY1_.evaluate(s) * w1 - Y1_.evaluate(s) * dw1) / (w1 * w1);
  J(0, 1) = -(dX2_.evaluate(t) * w2 - X2_.evaluate(t) * dw2) / (w2 * w2);
  J(1, 1) = -(dY2_.evaluate(t) * w2 - Y2_.evaluate(t) * dw2) / (w2 * w2);
  return J;
}

// ---------------------------------------------------------------------------------------------
int ERNewtonSSolver::Resoudre(double& x, double eps) {
  count_ = 0;
  status_ = 2;
  if (f_ == nullptr) return status_ = 4;
  previous_ = x;
  fx_ = f_->f(x);
  if (maxIter_ < 1) return status_;
  while (status_ == 2 && count_ < maxIter_) {
    dfx_ = f_->fprime(x);
    if (std::fabs(fx_) * tol_ > std::fabs(dfx_)) {
      status_ = 3;
    } else {
      ++count_;
      x -= fx_ / dfx_;
      fx_ = f_->f(x);
      if (std::fabs(fx_) <= eps) status_ = std::fabs(previous_ - x) <= eps * std::fabs(x) ? 0 : 1;
      previous_ = x;
    }
  }
  return status_;
}

// ---------------------------------------------------------------------------------------------
ERNewtonMSolver::ERNewtonMSolver(ERCNewtonM* f, unsigned n, double tol, int maxIter)
    : ERNewtonSolverBase(tol, maxIter),
      f_(f),
      previous_(static_cast<int>(n)),
      F_(static_cast<int>(n)),
      J_(static_cast<int>(n), static_cast<int>(n)) {}

int ERNewtonMSolver::Resoudre(ERVec<double>& X, double eps) {
  count_ = 0;
  status_ = 2;
  if (f_ == nullptr) return status_ = 4;
  const int n = X.length();
  previous_ = X;
  F_ = f_->f(X);
  double lastNorm = DBL_MAX;
  int diverging = 0;
  if (maxIter_ < 1) return status_;
  for (;;) {
    if (status_ != 2) return status_;
    J_ = f_->fprime(previous_);
    if (!sameShape(J_, n) || F_.length() != n) return status_ = 4;
    const ERLUDecomp lu(J_);
    if (lu.isSingular()) return status_ = 4;
    if (tol_ * F_.norme() > J_.norme()) status_ = 3;  // stops after this iteration
    ++count_;
    const ERVec<double> delta = solve(lu, F_);
    X -= delta;
    F_ = f_->f(X);
    if (F_.length() != n) return status_ = 4;
    const double r = F_.norme();
    if (r > lastNorm && r > eps * 1e7 && ++diverging > 20) status_ = 4;
    lastNorm = r;
    if (r <= eps && status_ == 2) status_ = (previous_ - X).norme() <= eps * X.norme() ? 0 : 1;
    if (X == previous_) {
      if (status_ == 2) status_ = 1;
      return status_;
    }
    previous_ = X;
    if (count_ >= maxIter_) return status_;
  }
}

// ---------------------------------------------------------------------------------------------
int ERNewtonMSolverEx::Resoudre(ERVec<double>& X, double eps) {
  count_ = 0;
  status_ = 2;
  if (f_ == nullptr) return status_ = 4;
  const int n = X.length();
  const double eps2 = eps * eps;
  X_ = X;
  F_ = f_->f(X);
  if (maxIter_ < 1) return status_;
  while (status_ == 2 && count_ < maxIter_) {
    if (ERNewtonSolverHook hook = g_hook.load()) hook(X);
    J_ = f_->fprime(X);
    if (!sameShape(J_, n) || F_.length() != n) return status_ = 4;
    const ERLUDecomp lu(J_);
    if (lu.isSingular()) return status_ = 4;
    const double f2 = F_.norme2();
    if (tol_ * f2 > J_.norme2()) status_ = 3;
    ++count_;
    ERVec<double> delta = -solve(lu, F_);
    G_ = F_;
    const double slope = QuickAlgebra::dot(G_, delta);
    const ERVec<double> trial = X + delta;
    const double phi0 = f_->phi(X), phi1 = f_->phi(trial);
    double lambda = 1.0;
    if (f_->HDomaine(trial) != 0 || phi1 > phi0 + 1e-4 * slope) {
      lambda = std::min(1.0, std::max(0.1, 0.5 * slope / (phi1 - phi0 + slope)));
      if (!(lambda >= 0.1)) lambda = 0.1;  // NaN
      if (f2 <= 40000 * eps2 && lambda < 0.5) lambda *= 2;
      if (f2 <= 200 * eps2) lambda = 1.0;
    }
    delta *= lambda;
    const ERVec<double> before = X;
    X += delta;
    F_ = f_->f(X);
    if (F_.length() != n) return status_ = 4;
    X_ = X;
    if (F_.norme2() <= eps2 && status_ == 2) status_ = delta.norme2() <= eps2 * X.norme2() ? 0 : 1;
    if (X == before && status_ == 2) status_ = 1;
  }
  return status_;
}

// ---------------------------------------------------------------------------------------------
int ERNewtonMSolverWithBackTracking::LinearSearch(const ERVec<double>& xold, double phiOld,
                                                  const ERVec<double>& g, ERVec<double>& p,
                                                  ERVec<double>& x, double& phi, double stpmax,
                                                  double stepTol) {
  const int n = xold.length();
  const double len = p.norme();
  if (len > stpmax) p *= stpmax / len;
  const double slope = QuickAlgebra::dot(g, p);
  double test = 0.0;
  for (int i = 0; i < n; ++i)
    test = std::max(test, std::fabs(p[i]) / std::max(std::fabs(xold[i]), 1.0));
  const double lamMin = stepTol / test;
  const ERVec<double> Fold = F_;
  double lam = 1.0, lam2 = 0.0, phi2 = 0.0;
  for (int it = 0; it < 1100; ++it) {
    x = xold + lam * p;
    F_ = f_->f(x);
    ++nbF_;
    phi = F_.length() == n ? 0.5 * F_.norme2() : NAN;
    if (lam < lamMin || !(slope < 0.0)) break;
    if (phi <= phiOld + 1e-4 * lam * slope) return 0;
    double tmp;
    if (lam == 1.0) {
      tmp = -slope / (2.0 * (phi - phiOld - slope));
    } else {
      const double rhs1 = phi - phiOld - lam * slope;
      const double rhs2 = phi2 - phiOld - lam2 * slope;
      const double a = (rhs1 / (lam * lam) - rhs2 / (lam2 * lam2)) / (lam - lam2);
      const double b = (-lam2 * rhs1 / (lam * lam) + lam * rhs2 / (lam2 * lam2)) / (lam - lam2);
      if (a == 0.0) {
        tmp = -slope / (2.0 * b);
      } else {
        const double disc = b * b - 3.0 * a * slope;
        tmp = disc < 0.0 ? 0.5 * lam : (-b + std::sqrt(disc)) / (3.0 * a);
      }
      if (tmp > 0.5 * lam) tmp = 0.5 * lam;
    }
    lam2 = lam;
    phi2 = phi;
    lam = tmp >= 0.1 * lam ? tmp : 0.1 * lam;  // NaN takes the smaller step
  }
  // Failure: back at the old point with its residual.
  x = xold;
  F_ = Fold;
  phi = phiOld;
  return 1;
}

int ERNewtonMSolverWithBackTracking::Resoudre(ERVec<double>& X, double eps) {
  count_ = 0;
  nbF_ = 0;
  if (f_ == nullptr) return status_ = 4;
  const int n = X.length();
  F_ = f_->f(X);
  ++nbF_;
  if (F_.length() == 0 || maxAbs(F_) < 1.0000000000000002e-10) return status_ = 1;
  if (F_.length() != n) return status_ = 4;
  double phi = 0.5 * F_.norme2();
  const double stpmax = 100.0 * std::max(X.norme(), static_cast<double>(n));
  for (; count_ < maxIter_; ++count_) {
    J_ = f_->fprime(X);
    if (!sameShape(J_, n)) return status_ = 4;
    const ERVec<double> g = F_ * J_;  // J^T F
    const ERVec<double> xold = X;
    previous_ = xold;
    const double phiOld = phi;
    const ERLUDecomp lu(J_);
    if (lu.isSingular()) return status_ = 4;
    ERVec<double> p = -solve(lu, F_);
    const int failed = LinearSearch(xold, phiOld, g, p, X, phi, stpmax, eps);
    if (maxAbs(F_) < 1e-9) {
      ++count_;
      return status_ = 2;
    }
    if (failed) {
      ++count_;
      const double den = std::max(phi, 0.5 * n);
      double test = 0.0;
      for (int i = 0; i < n; ++i)
        test = std::max(test, std::fabs(g[i]) * std::max(std::fabs(X[i]), 1.0) / den);
      return status_ = test < 1e-6 ? 3 : 4;
    }
    double test = 0.0;
    for (int i = 0; i < n; ++i)
      test = std::max(test, std::fabs(X[i] - xold[i]) / std::max(std::fabs(X[i]), 1.0));
    if (test < 1e-9) {
      ++count_;
      return status_ = 5;
    }
  }
  return status_ = -1;
}

// ---------------------------------------------------------------------------------------------
// FunctorBase

namespace {

double differenceStep(double x) { return 1e-6 * std::max(1.0, std::fabs(x)); }

}  // namespace

QuickAlgebra::ERVec<double> FunctorBase::gradient(const QuickAlgebra::ERVec<double>& x) {
  const int n = std::min(n_, x.length());
  QuickAlgebra::ERVec<double> g(n_);
  work_ = x;
  for (int i = 0; i < n; ++i) {
    const double h = differenceStep(x[i]);
    work_[i] = x[i] + h;
    const double fp = (*this)(work_);
    work_[i] = x[i] - h;
    const double fm = (*this)(work_);
    work_[i] = x[i];
    g[i] = (fp - fm) / (2.0 * h);
  }
  return g;
}

QuickAlgebra::ERMatrix<double> FunctorBase::hessian(const QuickAlgebra::ERVec<double>& x) {
  const int n = std::min(n_, x.length());
  QuickAlgebra::ERMatrix<double> H(n_, n_);
  QuickAlgebra::ERVec<double> y = x;
  const double f0 = (*this)(x);
  // Wider steps than the gradient's: second differences lose twice the digits.
  for (int i = 0; i < n; ++i) {
    const double hi = 100.0 * differenceStep(x[i]);
    for (int j = i; j < n; ++j) {
      const double hj = 100.0 * differenceStep(x[j]);
      double v;
      if (i == j) {
        y[i] = x[i] + hi;
        const double fp = (*this)(y);
        y[i] = x[i] - hi;
        const double fm = (*this)(y);
        v = (fp - 2.0 * f0 + fm) / (hi * hi);
      } else {
        double f[4];
        const double si[4] = {1, 1, -1, -1}, sj[4] = {1, -1, 1, -1};
        for (int k = 0; k < 4; ++k) {
          y[i] = x[i] + si[k] * hi, y[j] = x[j] + sj[k] * hj;
          f[k] = (*this)(y);
        }
        v = (f[0] - f[1] - f[2] + f[3]) / (4.0 * hi * hj);
      }
      y[i] = x[i], y[j] = x[j];
      H(i, j) = H(j, i) = v;
    }
  }
  return H;
}
