#include "qorv/freeform/knot_vector.h"

#include <algorithm>
#include <cmath>
#include <vector>
#include "qorv/foundation/numerics.h"

using namespace qorv;

using QuickAlgebra::ERMatrix;
using QuickAlgebra::ERVec;

namespace {

// Length of the run of knots equal to U[start], start < m.
int runFrom(const double* U, int m, int start) {
  int k = start + 1;
  while (k < m && U[k] == U[start]) ++k;
  return k - start;
}

// Length of the run ending at U[end].
int runTo(const double* U, int end) {
  int k = end - 1;
  while (k >= 0 && U[k] == U[end]) --k;
  return end - k;
}

// First index in [0, m] whose knot is not below v (bisection; ends on damaged sequences too).
int lowerBound(const double* U, int m, double v) {
  int lo = 0, hi = m;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (U[mid] < v)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
ERKnotVector::ERKnotVector(const ERVec<double>& knots) : knots_(knots) { computeDegree(); }

ERKnotVector::ERKnotVector(const double* knots, int count) : knots_(knots, count) {
  computeDegree();
}

ERKnotVector::ERKnotVector(int degree, const double* knots, int count)
    : knots_(knots, count), degree_(std::max(degree, 0)) {
  unclamped_ = isUnclamped(degree_);
}

ERKnotVector::ERKnotVector(int degree, const ERVec<double>& knots)
    : knots_(knots), degree_(std::max(degree, 0)) {
  unclamped_ = isUnclamped(degree_);
}

ERKnotVector::ERKnotVector(int degree, const ERLimites& range) : degree_(std::max(degree, 0)) {
  const int p = degree_;
  knots_.resize(2 * (p + 1));
  double* U = knots_.data();
  for (int i = 0; i <= p; ++i) U[i] = range.start(), U[p + 1 + i] = range.end();
}

ERKnotVector::ERKnotVector(int degree, int nbPoles, const ERLimites& range)
    : degree_(std::max(degree, 0)) {
  const int p = degree_;
  nbPoles = std::max(nbPoles, p + 1);
  knots_.resize(nbPoles + p + 1);
  double* U = knots_.data();
  const double a = range.start(), b = range.end();
  for (int i = 0; i <= p; ++i) U[i] = a, U[nbPoles + i] = b;
  for (int i = 1; i <= nbPoles - p - 1; ++i) {
    const double t = static_cast<double>(i) / (nbPoles - p);
    U[p + i] = std::min(std::max((1.0 - t) * a + t * b, a), b);
  }
}

void ERKnotVector::computeDegree() {
  const int m = length();
  degree_ = m == 0 ? 0 : runFrom(knots_.data(), m, 0) - 1;
}

int ERKnotVector::isUnclamped(int degree) const {
  const int m = length();
  if (m == 0) return 1;
  const double* U = static_cast<const ERVec<double>&>(knots_).data();
  const int r1 = runFrom(U, m, 0), r2 = runTo(U, m - 1);
  return (r1 == degree + 1 && r2 == degree + 1) ? 0 : 1;
}

// ---------------------------------------------------------------------------------------------
int ERKnotVector::FindSpan(double u) const {
  const int m = length(), p = degree_;
  const int n = m - p - 1;
  if (p < 0 || n < p) return -1;
  if (n == p) return p;
  const double* U = knots_.data();
  if (!(u > U[p])) {  // at or below the domain start, or NaN
    int k = p;
    while (k < n - 1 && U[k + 1] == U[p]) ++k;
    return k;
  }
  if (u >= U[n]) {
    int k = n - 1;
    while (k > p && U[k] == U[n]) --k;
    return k;
  }
  // U[lo] <= u < U[hi] holds throughout on a sorted sequence; the loop ends on any sequence.
  int lo = p, hi = n;
  while (hi - lo > 1) {
    const int mid = lo + (hi - lo) / 2;
    if (U[mid] <= u)
      lo = mid;
    else
      hi = mid;
  }
  return lo;
}

int ERKnotVector::quicklyFind(double u) const {
  const int m = length();
  const double* U = knots_.data();
  const int i = lowerBound(U, m, u);
  return (i < m && U[i] == u) ? i : -1;
}

void ERKnotVector::BasisFunsBuffer(int i, double u, double* N) const {
  const int p = degree_, m = length();
  if (i < p || i + p >= m) {
    std::fill_n(N, p + 1, 0.0);
    return;
  }
  const double* U = knots_.data();
  qorv::detail::StackBuffer<double, 100> scratch(static_cast<std::size_t>(2 * p + 2));
  double* left = scratch.get();
  qorv::detail::basisTriangle(U, p, i, u, N, left, left + p + 1);
}

ERVec<double> ERKnotVector::BasisFuns(int span, double u) const {
  ERVec<double> N(degree_ + 1);
  BasisFunsBuffer(span, u, N.data());
  return N;
}

ERMatrix<double> ERKnotVector::DersBasisFuns(int i, double u, int n) const {
  if (n < 0) return ERMatrix<double>();
  const int p = degree_, m = length();
  ERMatrix<double> ders(n + 1, p + 1);
  if (i < p || i + p >= m) return ders;
  const int w = p + 1;
  qorv::detail::StackBuffer<double, 32 * 32 + 4 * 32> scratch(
      static_cast<std::size_t>(w * w + 4 * w));
  qorv::detail::basisDerivatives<-1>(knots_.data(), p, i, u, n, ders.data(), scratch.get());
  return ders;
}

ERPole2DH ERKnotVector::CalOnNurbs(double u, int d, const ERVec<ERPole2DH>& poles) const {
  const ERPole2DH zero(0.0, 0.0, 0.0);
  if (d != degree_) return zero;
  const int span = FindSpan(u);
  if (span < d || span >= poles.length()) return zero;
  qorv::detail::StackBuffer<double, 50> scratch(static_cast<std::size_t>(d + 1));
  double* N = scratch.get();
  BasisFunsBuffer(span, u, N);
  double x = 0.0, y = 0.0, w = 0.0;
  for (int j = 0; j <= d; ++j) {
    const ERPole2DH& q = poles[span - d + j];
    x += N[j] * q.wx(), y += N[j] * q.wy(), w += N[j] * q.w();
  }
  return ERPole2DH(x, y, w);
}

int ERKnotVector::GetDiscontinuities(int c, ERVec<double>& out) const {
  const int m = length();
  const double* U = knots_.data();
  for (int i = 0; i < m;) {
    const int mu = runFrom(U, m, i);
    if (degree_ - mu < c) out.append(U[i]);
    i += mu;
  }
  return 1;
}

int ERKnotVector::IsContinuous(int c) const {
  const int m = length();
  const double* U = knots_.data();
  for (int i = 0; i < m;) {
    const int mu = runFrom(U, m, i);
    if (degree_ - mu < c) return 0;
    i += mu;
  }
  return 1;
}

ERKnotVector ERKnotVector::GetPrautzsch(int r) const {
  const int m = length(), step = degree_ + 1;
  const double* U = knots_.data();
  ERVec<double> out;
  out.reserve(2 * m);
  for (int i = 0; i < m; ++i) {
    out.append(U[i]);
    if (i >= r && (static_cast<long long>(i) - r) % step == 0) out.append(U[i]);
  }
  return ERKnotVector(out);
}

void ERKnotVector::incDegree(int t) {
  if (t <= 0) return;
  const int m = length();
  const double* U = static_cast<const ERVec<double>&>(knots_).data();
  ERVec<double> out;
  out.reserve(m + t * m);
  for (int i = 0; i < m;) {
    const int mu = runFrom(U, m, i);
    for (int k = 0; k < mu + t; ++k) out.append(U[i]);
    i += mu;
  }
  knots_ = out;
  degree_ += t;
}

void ERKnotVector::insertAt(int pos, const double& value, int count) {
  if (pos < 0 || pos > length() || count <= 0) return;
  knots_.insertAt(pos, value, count);
}

void ERKnotVector::removeAt(int pos) {
  if (pos < 0 || pos >= length()) return;
  knots_.removeAt(pos);
}

ERKnotVector ERKnotVector::subVector(int start, int count) const {
  const int m = length();
  start = std::clamp(start, 0, m);
  count = std::clamp(count, 0, m - start);
  ERKnotVector r;
  r.knots_ = ERVec<double>(knots_.data() + start, count);
  r.degree_ = degree_;
  r.unclamped_ = r.isUnclamped(degree_);
  return r;
}

void ERKnotVector::concat(const ERKnotVector& other) {
  const ERVec<double> tail(other.knots_);  // other may be this vector
  const int keep = std::max(length() - degree_ - 1, 0);
  ERVec<double> out(static_cast<const ERVec<double>&>(knots_).data(), keep);
  out.append(tail.data(), tail.length());
  knots_ = out;
}

void ERKnotVector::reverse() {
  const int m = length();
  if (m == 0) return;
  const ERVec<double> old(knots_);
  const double* O = old.data();
  const double a = O[0], b = O[m - 1];
  if (!(b > a) || !std::isfinite(b - a)) return;
  double* U = knots_.data();
  for (int i = 0; i < m; ++i) {
    const double t = 1.0 - (O[m - 1 - i] - a) / (b - a);
    U[i] = std::min(std::max((1.0 - t) * a + t * b, a), b);
  }
}

void ERKnotVector::reparametrize(const ERLimites& range) {
  const int m = length();
  if (m == 0) return;
  const double* O = static_cast<const ERVec<double>&>(knots_).data();
  const double u0 = O[0], u1 = O[m - 1];
  const double k = (range.end() - range.start()) / (u1 - u0);
  if (!(u1 > u0) || !std::isfinite(k)) return;
  double* U = knots_.data();
  const double shift = range.start() - u0 * k;
  for (int i = 0; i < m; ++i) {
    // The ends land exactly on the new limits.
    if (U[i] == u0)
      U[i] = range.start();
    else if (U[i] == u1)
      U[i] = range.end();
    else
      U[i] = U[i] * k + shift;
  }
}

// ---------------------------------------------------------------------------------------------
void ERKnotVector::printOn(std::ostream& os) const {
  os << "KnotVector degree " << degree_ << (unclamped_ ? "  (**UNCLAMPLED**)" : "  ( Regular )")
     << '\n';
  const int m = length();
  os << '(' << m << ")[";
  for (int i = 0; i < m; ++i) {
    if (i != 0) os << ',';
    os << knots_[i];
  }
  os << "]\n";
}

std::uint32_t ERKnotVector::binaryStoreSize() const { return knots_.binaryStoreSize() + 8; }

void ERKnotVector::saveGuts(ERFile& f) const {
  knots_.saveGuts(f);
  f.Write(static_cast<int>(degree_));
  f.Write(static_cast<int>(unclamped_));
}

int ERKnotVector::restoreGuts(ERFile& f) {
  ERVec<double> knots;
  int degree = 0, flag = 0;
  if (!knots.restoreGuts(f) || !f.Read(degree) || !f.Read(flag)) return 0;
  if (degree < 0 || degree > knots.length() || (flag != 0 && flag != 1)) return 0;
  knots_ = knots;
  degree_ = degree;
  unclamped_ = flag;
  return 1;
}

std::ostream& operator<<(std::ostream& os, const ERKnotVector& k) {
  k.printOn(os);
  return os;
}

// ---------------------------------------------------------------------------------------------
ERKnot::ERKnot(const ERKnotVector& k) : vector_(const_cast<ERKnotVector*>(&k)) {
  if (!reach(k.length() > 0 ? k[0] : 0.0)) status_ |= kError;
}

ERKnot::ERKnot(const ERKnotVector& k, double v) : vector_(const_cast<ERKnotVector*>(&k)) {
  if (!reach(v)) status_ |= kError;
}

ERKnot::ERKnot(const ERKnotVector& k, int index, int multiplicity)
    : vector_(const_cast<ERKnotVector*>(&k)),
      index_(index),
      multiplicity_(multiplicity),
      stride_(1) {}

int ERKnot::runLength(int start) const {
  return runFrom(vector_->getVec().data(), vector_->length(), start);
}

int ERKnot::reach(double v) {
  const int m = vector_->length();
  const double* U = vector_->getVec().data();
  stride_ = 1;
  if (m == 0) {
    index_ = 0, multiplicity_ = 0;
    return 0;
  }
  if (!(v > U[0])) {
    index_ = 0, multiplicity_ = runLength(0);
    return v <= U[0] ? 1 : 0;
  }
  const int i = lowerBound(U, m, v);
  if (i < m && U[i] == v) {
    index_ = i, multiplicity_ = runLength(i);
    return 1;
  }
  int j = std::max(i - 1, 0);
  while (j > 0 && U[j - 1] == U[j]) --j;
  index_ = j, multiplicity_ = runLength(j);
  return 0;
}

int ERKnot::operator++() {
  const int start = index_ + multiplicity_;
  if (start >= vector_->length() || multiplicity_ == 0) {
    status_ |= kOverflow;
    return 0;
  }
  index_ = start, multiplicity_ = runLength(start), stride_ = 1;
  return 1;
}

int ERKnot::operator--() {
  if (index_ <= 0 || index_ > vector_->length()) {
    status_ |= kUnderflow;
    return 0;
  }
  const double* U = vector_->getVec().data();
  int j = index_ - 1;
  while (j > 0 && U[j - 1] == U[j]) --j;
  index_ = j, multiplicity_ = runLength(j), stride_ = 1;
  return 1;
}

ERKnot& ERKnot::operator=(double v) {
  const int m = vector_->length();
  if (multiplicity_ <= 0 || index_ + multiplicity_ > m) return *this;
  double* U = vector_->knots_.data();
  for (int k = 0; k < multiplicity_; ++k) U[index_ + k] = v;
  return *this;
}

double ERKnot::value() const {
  const int m = vector_->length();
  return (index_ >= 0 && index_ < m) ? vector_->getVec()[index_] : 0.0;
}

std::ostream& operator<<(std::ostream& os, const ERKnot& k) {
  os << " Valeur = " << k.value() << " Mult   = " << k.multiplicity() << " index  = " << k.index()
     << '\n';
  return os;
}

// ---------------------------------------------------------------------------------------------
namespace {

// Walks A and B by distinct values in increasing order; emit(value, muA, muB) with 0 for the
// vector that lacks the value. Every step advances at least one side, so the walk ends.
template <class Emit>
void mergeWalk(const ERKnotVector& A, const ERKnotVector& B, Emit emit) {
  const double* a = A.getVec().data();
  const double* b = B.getVec().data();
  const int ma = A.length(), mb = B.length();
  int ia = 0, ib = 0;
  while (ia < ma || ib < mb) {
    if (ia < ma && ib < mb && a[ia] == b[ib]) {
      const int na = runFrom(a, ma, ia), nb = runFrom(b, mb, ib);
      emit(a[ia], na, nb);
      ia += na, ib += nb;
    } else if (ia < ma && (ib >= mb || a[ia] < b[ib])) {
      const int na = runFrom(a, ma, ia);
      emit(a[ia], na, 0);
      ia += na;
    } else {
      const int nb = runFrom(b, mb, ib);
      emit(b[ib], 0, nb);
      ib += nb;
    }
  }
}

}  // namespace

ERKnotVector qorv::Union(const ERKnotVector& A, const ERKnotVector& B) {
  ERVec<double> out;
  out.reserve(A.length() + B.length());
  mergeWalk(A, B, [&](double v, int na, int nb) {
    for (int k = std::max(na, nb); k > 0; --k) out.append(v);
  });
  ERKnotVector r;
  r.knots_ = out;
  r.degree_ = A.degree();
  r.unclamped_ = 0;
  return r;
}

ERKnotVector qorv::Diff(const ERKnotVector& A, const ERKnotVector& B) {
  ERVec<double> out;
  out.reserve(A.length() + B.length());
  mergeWalk(A, B, [&](double v, int na, int nb) {
    if (na == 0) return;
    for (int k = std::max(na - nb, 0); k > 0; --k) out.append(v);
  });
  ERKnotVector r;
  r.knots_ = out;
  r.degree_ = A.degree();
  r.unclamped_ = 1;
  return r;
}

void qorv::PrepareBoehm(ERKnotVector& K, double u, int r, double& uk, int& k, int& s, double& uk1,
                        int& k1, int& s1, int& span, int& rOut) {
  rOut = r;
  const int m = K.length();
  if (m == 0) {
    uk = uk1 = 0.0, k = k1 = s = s1 = 0;
    return;
  }
  ERKnot c(K);
  c.reach(u);
  const int endIndex = std::clamp(m - K.degree() - 1, 0, m - 1);
  if (c.value() >= K[endIndex]) --c;
  uk = c.value(), k = c.index(), s = c.multiplicity();
  ++c;
  uk1 = c.value(), k1 = c.index(), s1 = c.multiplicity();
  if (uk < u && u < uk1) {
    span = k + s - 1;
    s = 0;
  } else if (u == uk || u == uk1) {
    span = k + s - 1;
  }
}

int qorv::CheckAndRepairKnotVector(ERVec<double>& knots, double, double relTol) {
  const int m = knots.length();
  if (m == 0) return 0;
  const double* O = static_cast<const ERVec<double>&>(knots).data();
  const double span = O[m - 1] - O[0];
  if (!(span > 0.0) || !std::isfinite(span)) return 0;
  for (int i = 0; i < m; ++i)
    if (!std::isfinite(O[i])) return 0;
  double prev = O[0];
  for (int i = 1; i < m; ++i) {
    const double v = static_cast<const ERVec<double>&>(knots)[i];
    if (v < prev) {
      if (std::fabs(prev - v) > span * relTol) return 0;
      knots[i] = prev;
    }
    prev = knots[i];
  }
  return 1;
}

double ERKnotVector::knotAt(int i) const {
  const int m = length();
  if (m <= 0) return 0.0;
  return knots_[i <= 0 ? 0 : (i >= m ? m - 1 : i)];
}
