#include "qorv/freeform/solvers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "qorv/freeform/lu_decomposition.h"
#include "tests/freeform/freeform_support.h"
#include "tests/in_order.h"

using namespace qorv;

using QuickAlgebra::ERMatrix, QuickAlgebra::ERVec;

namespace {

ERMatrix<double> mat(int r, int c, std::vector<double> v) {
  return ERMatrix<double>(r, c, v.data());
}

struct Scalar : ERCNewtonS {
  std::function<double(double)> fn, dfn;
  int derivativeCalls = 0;
  double f(double x) override { return fn(x); }
  double fprime(double x) override { return ++derivativeCalls, dfn(x); }
};

struct Vector : ERCNewtonM {
  std::function<ERVec<double>(const ERVec<double>&)> fn;
  std::function<ERMatrix<double>(const ERVec<double>&)> jac;
  ERVec<double> f(const ERVec<double>& x) override { return fn(x); }
  ERMatrix<double> fprime(const ERVec<double>& x) override { return jac(x); }
};

// phi = (x - 1)^2 + 2 (y + 0.5)^2 + (x - 1)^4, minimum at (1, -0.5); analytic gradient and
// Hessian.
struct Bowl : ERCNewtonH {
  int domain = 1;
  double phi(const ERVec<double>& x) override {
    const double a = x[0] - 1, b = x[1] + 0.5;
    return a * a + 2 * b * b + a * a * a * a;
  }
  ERVec<double> f(const ERVec<double>& x) override {
    const double a = x[0] - 1, b = x[1] + 0.5;
    return ERVec<double>{2 * a + 4 * a * a * a, 4 * b};
  }
  ERMatrix<double> fprime(const ERVec<double>& x) override {
    const double a = x[0] - 1;
    return mat(2, 2, {2 + 12 * a * a, 0, 0, 4});
  }
  int HDomaine(const ERVec<double>&) override { return domain; }
};

}  // namespace

TEST(LUDecomp, FactorsSolveInverseDeterminant) {
  const ERLUDecomp swap(mat(2, 2, {0, 1, 1, 0}));
  EXPECT_EQ((Seq{bool(swap.isSingular()), determinant(swap),
                 bool(ERLUDecomp(mat(2, 2, {1, 2, 2, 4})).isSingular()),
                 determinant(ERLUDecomp(mat(2, 2, {1, 2, 2, 4}))),
                 bool(ERLUDecomp(mat(2, 2, {1, NAN, 2, 4})).isSingular())}),
            (Seq{false, -1.0, true, 0.0, true}));
  EXPECT_TRUE(ERLUDecomp(mat(2, 3, {1, 0, 0, 0, 0, 0})).isSingular());
  EXPECT_TRUE(ERLUDecomp(mat(3, 2, {1, 0, 0, 1, 0, 0})).isSingular());
  EXPECT_EQ((Seq{bool(ERLUDecomp(ERMatrix<double>()).isSingular()),
                 solve(ERLUDecomp(mat(2, 2, {1, 2, 2, 4})), ERVec<double>{1, 1}).length(),
                 inverse(ERLUDecomp(mat(2, 2, {1, 2, 2, 4}))).length(),
                 solve(swap, ERVec<double>{1, 2, 3}).length()}),
            (Seq{true, 0, 0, 0}));

  QORV_SEEDED(std::mt19937 rng, 99);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int trial = 0; trial < 200; ++trial) {
    const int n = 1 + trial % 12;
    ERMatrix<double> A(n, n);
    for (double& v : A) v = u(rng) * std::pow(10.0, int(rng() % 7) - 3);
    const ERLUDecomp lu(A);
    ASSERT_FALSE(lu.isSingular());
    const ERMatrix<double> PA = lu.P() * A, LU = lu.L() * lu.U();
    for (int i = 0; i < n * n; ++i) EXPECT_NEAR(PA[i], LU[i], 1e-12 * 1e3);
    ERVec<double> x(n);
    for (double& v : x) v = u(rng);
    const ERVec<double> b = A * x;
    const ERVec<double> y = solve(lu, b);
    const ERVec<double> r = A * y - b;
    EXPECT_LT(r.norme(), 1e-10 * (1 + b.norme()) * 1e3);
    const ERMatrix<double> I = A * inverse(lu);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(I(i, i), 1.0, 1e-6);
    // Augmented form: the right-hand side kept as the last column.
    ERMatrix<double> Ab(n, n + 1);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) Ab(i, j) = A(i, j);
      Ab(i, n) = b[i];
    }
    const ERVec<double> z = solve(ERLUDecomp(Ab));
    ASSERT_EQ(z.length(), n);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(z[i], y[i], 1e-9 * (1 + std::fabs(y[i])));
  }
  ERMatrix<double> A = mat(2, 2, {1, 2, 3, 4});
  int* perm = nullptr;
  int parity = 0;
  EXPECT_EQ((Seq{MatriceGaussPivot(A, perm, parity, 1e-20), perm[0], parity}), (Seq{1, 1, -1}));
  delete[] perm;
}

TEST(NewtonS, EveryStatus) {
  Scalar s;
  s.fn = [](double x) { return x * x - 2; };
  s.dfn = [](double x) { return 2 * x; };
  ERNewtonSSolver solver(&s, 1e-12, 50);
  double x = 1;
  EXPECT_EQ(solver.Resoudre(x, 1e-12), 1);  // last step 1.6e-12 > eps |x|
  EXPECT_NEAR(x, std::sqrt(2.0), 1e-15);
  Scalar lin;
  lin.fn = [](double x) { return x - 1; };
  lin.dfn = [](double) { return 1.0; };
  ERNewtonSSolver l(&lin, 1e-12, 50);
  x = 1;
  EXPECT_EQ(l.Resoudre(x, 1e-12), 0);
  x = 1;
  solver.SetMaxIter(0);
  s.derivativeCalls = 0;
  EXPECT_EQ((Seq{solver.Resoudre(x, 1e-12), s.derivativeCalls}), (Seq{2, 0}));
  solver.SetMaxIter(2);
  EXPECT_EQ(solver.Resoudre(x, 1e-12), 2);
  Scalar c;
  c.fn = [](double x) { return x * x + 1; };
  c.dfn = [](double x) { return 2 * x; };
  x = 0;
  EXPECT_EQ(ERNewtonSSolver(&c, 1e-12, 50).Resoudre(x, 1e-12), 3);
  Scalar nan;
  nan.fn = [](double) { return NAN; };
  nan.dfn = [](double) { return 1.0; };
  x = 0;
  ERNewtonSSolver ns(&nan, 1e-12, 30);
  EXPECT_EQ((Seq{ns.Resoudre(x, 1e-12), ns.getNBIter()}), (Seq{2, 30}));
  x = 0;
  EXPECT_EQ(ERNewtonSSolver(nullptr, 1e-12, 30).Resoudre(x, 1e-12), 4);

  struct Cube : ERCNewtonSDelta {
    Cube() : ERCNewtonSDelta(1e-3) {}
    double f(double x) override { return x * x * x; }
  } cube;
  EXPECT_NEAR(cube.fprime(1), 3.000001, 1e-12);
  ERCNewtonSPolynome poly(ERPolynome(std::vector<double>{-2, 0, 1}.data(), 3),
                          ERPolynome(std::vector<double>{0, 2}.data(), 2));
  x = 1;
  EXPECT_EQ(ERNewtonSSolver(&poly, 1e-12, 50).Resoudre(x, 1e-12), 1);
  EXPECT_NEAR(x, std::sqrt(2.0), 1e-15);
}

TEST(NewtonM, EveryStatus) {
  const ERMatrix<double> A = mat(2, 2, {2, 1, 1, 3});
  const ERVec<double> b{1, 2};
  Vector lin;
  lin.fn = [&](const ERVec<double>& x) { return A * x - b; };
  lin.jac = [&](const ERVec<double>&) { return A; };
  ERNewtonMSolver solver(&lin, 2, 1e-12, 20);
  ERVec<double> X{5, -7};
  EXPECT_EQ((Seq{solver.Resoudre(X, 1e-10), solver.getNBIter()}), (Seq{1, 1}));
  EXPECT_LT(solver.GetLastCriteria(), 1e-10);
  EXPECT_EQ(solver.Resoudre(X, 1e-10), 0);  // from the solution
  EXPECT_EQ(solver.getNBIter(), 1);

  Vector sing;
  sing.fn = [](const ERVec<double>& x) { return x; };
  sing.jac = [](const ERVec<double>&) { return mat(2, 2, {1, 2, 2, 4}); };
  ERVec<double> Y{1, 1};
  ERNewtonMSolver s4(&sing, 2, 1e-12, 20);
  EXPECT_EQ((Seq{s4.Resoudre(Y, 1e-10), s4.getNBIter()}), (Seq{4, 0}));
  Vector nanJ = sing;
  nanJ.jac = [](const ERVec<double>&) { return mat(2, 2, {1, NAN, 0, 1}); };
  EXPECT_EQ(ERNewtonMSolver(&nanJ, 2, 1e-12, 20).Resoudre(Y, 1e-10), 4);
  Vector wrong = sing;
  wrong.jac = [](const ERVec<double>&) { return mat(1, 1, {1}); };
  EXPECT_EQ(ERNewtonMSolver(&wrong, 2, 1e-12, 20).Resoudre(Y, 1e-10), 4);

  // tol |F| > |J|: 3.
  ERNewtonMSolver s3(&lin, 2, 1e6, 20);
  ERVec<double> Z{50, -70};
  EXPECT_EQ(s3.Resoudre(Z, 1e-10), 3);
  // Iteration limit: 2.
  Vector sq;
  sq.fn = [](const ERVec<double>& x) { return ERVec<double>{x[0] * x[0] - 2}; };
  sq.jac = [](const ERVec<double>& x) { return mat(1, 1, {2 * x[0]}); };
  ERVec<double> W{100};
  EXPECT_EQ(ERNewtonMSolver(&sq, 1, 1e-12, 2).Resoudre(W, 1e-12), 2);
  EXPECT_EQ(ERNewtonMSolver(&sq, 1, 1e-12, 0).Resoudre(W, 1e-12), 2);
  // Divergence: Newton on the cube root doubles the distance every step.
  Vector cbrt;
  cbrt.fn = [](const ERVec<double>& x) { return ERVec<double>{std::cbrt(x[0])}; };
  cbrt.jac = [](const ERVec<double>& x) {
    return mat(1, 1, {1.0 / (3.0 * std::cbrt(x[0]) * std::cbrt(x[0]))});
  };
  ERVec<double> V{1};
  ERNewtonMSolver div(&cbrt, 1, 1e-12, 100);
  EXPECT_EQ(div.Resoudre(V, 1e-12), 4);
  EXPECT_LE(div.getNBIter(), 30);
  // An iterate that stops moving without convergence: 1.
  Vector stuck;
  stuck.fn = [](const ERVec<double>& x) { return ERVec<double>{x[0] * x[0] + 1}; };
  stuck.jac = [](const ERVec<double>&) { return mat(1, 1, {1e300}); };
  ERVec<double> S{1};
  EXPECT_EQ(ERNewtonMSolver(&stuck, 1, 1e-12, 20).Resoudre(S, 1e-12), 1);
  // NaN residuals run to the limit.
  Vector nan;
  nan.fn = [](const ERVec<double>& x) { return ERVec<double>{x[0] * NAN}; };
  nan.jac = [](const ERVec<double>&) { return mat(1, 1, {1}); };
  ERVec<double> N{1};
  EXPECT_EQ(ERNewtonMSolver(&nan, 1, 1e-12, 7).Resoudre(N, 1e-12), 2);
}

TEST(NewtonMEx, DampedStatuses) {
  Bowl bowl;
  ERNewtonMSolverEx solver(&bowl, 1e-14, 60);
  ERVec<double> X{3, 2};
  const int st = solver.Resoudre(X, 1e-5);
  EXPECT_TRUE(st == 0 || st == 1) << st;
  EXPECT_TRUE(Near(Seq{X[0], X[1]}, Seq{1, -0.5}, 1e-4));
  bowl.domain = 0;  // undamped
  ERVec<double> Y{3, 2};
  const int st2 = solver.Resoudre(Y, 1e-5);
  EXPECT_TRUE(st2 == 0 || st2 == 1);
  EXPECT_LT(solver.getNBIter(), solver.getNBIter() + 1);
  ERNewtonMSolverEx s2(&bowl, 1e-14, 1);
  ERVec<double> Z{300, 200};
  bowl.domain = 1;
  EXPECT_EQ(s2.Resoudre(Z, 1e-12), 2);
  ERNewtonMSolverEx s3(&bowl, 1e30, 10);
  ERVec<double> Q{300, 200};
  EXPECT_EQ(s3.Resoudre(Q, 1e-12), 3);
  struct Flat : ERCNewtonH {
    double phi(const ERVec<double>& x) override { return x[0] + x[1]; }
    ERMatrix<double> fprime(const ERVec<double>&) override { return ERMatrix<double>(2, 2); }
  } flat;
  ERVec<double> F{1, 1};
  EXPECT_EQ(ERNewtonMSolverEx(&flat, 1e-12, 10).Resoudre(F, 1e-12), 4);
}

TEST(NewtonBackTracking, EveryStatus) {
  Vector lin;
  const ERMatrix<double> A = mat(2, 2, {2, 1, 1, 3});
  const ERVec<double> b{1, 2};
  lin.fn = [&](const ERVec<double>& x) { return A * x - b; };
  lin.jac = [&](const ERVec<double>&) { return A; };
  ERNewtonMSolverWithBackTracking s(&lin, 1e-12, 50);
  ERVec<double> X{5, -7};
  EXPECT_EQ(s.Resoudre(X, 1e-12), 2);
  EXPECT_EQ(s.Resoudre(X, 1e-12), 1);  // already there
  EXPECT_EQ(s.getNBFevaluate(), 1);
  // A local minimum of 1/2 F.F that is not a root: 3.
  Vector valley;
  valley.fn = [](const ERVec<double>& x) { return ERVec<double>{x[0] * x[0] + 1}; };
  valley.jac = [](const ERVec<double>& x) { return mat(1, 1, {2 * x[0]}); };
  ERVec<double> V{1e-8};
  EXPECT_EQ(ERNewtonMSolverWithBackTracking(&valley, 1e-12, 200).Resoudre(V, 1e-2), 3);
  // An uphill direction (wrong-signed Jacobian) with a large gradient: 4.
  Vector uphill;
  uphill.fn = [](const ERVec<double>& x) { return ERVec<double>{x[0] - 1}; };
  uphill.jac = [](const ERVec<double>&) { return mat(1, 1, {-1}); };
  ERVec<double> U{5};
  EXPECT_EQ(ERNewtonMSolverWithBackTracking(&uphill, 1e-12, 50).Resoudre(U, 1e-12), 4);
  EXPECT_EQ(U[0], 5.0);
  // A steep line whose residual never gets below 1e-9: converges on the step, 5.
  Vector steep;
  steep.fn = [](const ERVec<double>& x) { return ERVec<double>{1e20 * (x[0] - 1.1)}; };
  steep.jac = [](const ERVec<double>&) { return mat(1, 1, {1e20}); };
  ERVec<double> T{3};
  const int st = ERNewtonMSolverWithBackTracking(&steep, 1e-12, 50).Resoudre(T, 1e-12);
  EXPECT_TRUE(st == 5 || st == 2) << st;
  EXPECT_NEAR(T[0], 1.1, 1e-15);
  // Iteration limit: -1.
  Vector sq;
  sq.fn = [](const ERVec<double>& x) { return ERVec<double>{x[0] * x[0] - 2}; };
  sq.jac = [](const ERVec<double>& x) { return mat(1, 1, {2 * x[0]}); };
  ERVec<double> W{100};
  EXPECT_EQ(ERNewtonMSolverWithBackTracking(&sq, 1e-12, 1).Resoudre(W, 1e-12), -1);
  // NaN residuals: a status, never a hang.
  Vector nan;
  nan.fn = [](const ERVec<double>& x) { return ERVec<double>{x[0] > 1 ? NAN : x[0] - 3}; };
  nan.jac = [](const ERVec<double>&) { return mat(1, 1, {1}); };
  ERVec<double> N{0};
  ERNewtonMSolverWithBackTracking sn(&nan, 1e-12, 50);
  const int st2 = sn.Resoudre(N, 1e-12);
  EXPECT_TRUE(st2 == -1 || st2 == 2 || st2 == 5) << st2;
  EXPECT_LE(sn.getNBFevaluate(), 1 + 50 * 1100);
}

TEST(BezierIntersection, JacobianAndSolve) {
  // Parabola (s, s^2) against the line (t, 0.25 + 0 t) meet at s = t = 0.5.
  const double x1[] = {0, 1}, y1[] = {0, 0, 1}, one[] = {1}, x2[] = {0, 1}, y2[] = {0.25};
  const ERPolynome X1(x1, 2), Y1(y1, 3), W(one, 1), X2(x2, 2), Y2(y2, 1);
  // A rational second span: weight 1 + t, numerators scaled by it.
  const double w2[] = {1, 1}, xr[] = {0, 1, 1}, yr[] = {0.25, 0.25};
  FonctionnelleIntersectionDeBezier fn(X1, Y1, W, ERPolynome(xr, 3), ERPolynome(yr, 2),
                                       ERPolynome(w2, 2));
  const ERVec<double> at{0.3, 0.7};
  const ERMatrix<double> J = fn.fprime(at);
  for (int j = 0; j < 2; ++j) {
    ERVec<double> a = at, b = at;
    a[j] += 1e-6, b[j] -= 1e-6;
    const ERVec<double> d = (fn.f(a) - fn.f(b)) / 2e-6;
    EXPECT_TRUE(Near(Seq{J(0, j), J(1, j)}, Seq{d[0], d[1]}, 1e-8));
  }
  FonctionnelleIntersectionDeBezier plain(X1, Y1, W, X2, Y2, W);
  ERVec<double> X{0.9, 0.1};
  const int st = ERNewtonMSolver(&plain, 2, 1e-12, 50).Resoudre(X, 1e-14);
  EXPECT_TRUE(st == 0 || st == 1);
  EXPECT_TRUE(Near(Seq{X[0], X[1]}, Seq{0.5, 0.5}, 1e-14));
}

// The difference derivatives of a scalar objective against the exact ones of a quadratic with
// a cross term, away from the origin and at a large magnitude; short vectors read no further.
TEST(FunctorBase, DifferenceGradientAndHessian) {
  struct Quadratic : FunctorBase {
    Quadratic() : FunctorBase(2) {}
    double operator()(const QuickAlgebra::ERVec<double>& x) override {
      ++calls;
      return 3 * x[0] * x[0] + 2 * x[0] * x[1] - x[1] * x[1] + 5 * x[0];
    }
    int calls = 0;
  } f;
  EXPECT_EQ(f.nbVariables(), 2);
  for (double s : {1.0, 1e4}) {
    const QuickAlgebra::ERVec<double> x({0.7 * s, -1.3 * s});
    const QuickAlgebra::ERVec<double> g = f.gradient(x);
    ASSERT_EQ(g.length(), 2);
    EXPECT_TRUE(Near(Seq{g[0], g[1]}, Seq{6 * x[0] + 2 * x[1] + 5, 2 * x[0] - 2 * x[1]}, 1e-7 * s));
    const QuickAlgebra::ERMatrix<double> H = f.hessian(x);
    EXPECT_TRUE(Near(Seq{H(0, 0), H(0, 1), H(1, 0), H(1, 1)}, Seq{6, 2, 2, -2}, 1e-4 * s));
  }
  const int before = f.calls;
  const QuickAlgebra::ERVec<double> g = f.gradient(QuickAlgebra::ERVec<double>());
  EXPECT_EQ((Seq{g.length(), f.calls}), (Seq{2, before}));
}
