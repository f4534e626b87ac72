#include "qorv/foundation/transfo3d_kinds.h"

#include <cmath>
#include <cstring>
#include <ostream>

#include "qorv/foundation/numerics.h"
#include "qorv/foundation/thread_data.h"
#include "qorv/foundation/tolerance.h"
#include "qorv/persistence/file.h"

using namespace qorv::platform;

using namespace qorv;

QORV_DEFINE_CLASS(_ERIdentity3D);
QORV_DEFINE_CLASS(_ERTranslation3D);
QORV_DEFINE_CLASS(_ERRotation3D);
QORV_DEFINE_CLASS(_ERWorkplane);
QORV_DEFINE_CLASS(_ERScaling3D);
QORV_DEFINE_CLASS(_ERSymetrie3D);
QORV_DEFINE_CLASS(_ERSimilitude3D);

using qorv::detail::Matrix33;
using qorv::detail::SimilitudeParts;
using QuickAlgebra::ERMatrix;

namespace {
using qorv::detail::mul33;

constexpr double kIdentity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// The thread's shared 3 x 3 identity (a copy shares its storage).
ERMatrix<double> identityMatrix() {
  if (qorvThreadLocalData* d = qorvThreadLocalData::current()) return d->identity3x3();
  return ERMatrix<double>::identity(3);
}

// a p.
ERPoint3D apply(const double* a, const ERPoint3D& p) {
  return ERPoint3D(a[0] * p.x() + a[1] * p.y() + a[2] * p.z(),
                   a[3] * p.x() + a[4] * p.y() + a[5] * p.z(),
                   a[6] * p.x() + a[7] * p.y() + a[8] * p.z());
}

double det33(const double* a) {
  return a[0] * (a[4] * a[8] - a[5] * a[7]) - a[1] * (a[3] * a[8] - a[5] * a[6]) +
         a[2] * (a[3] * a[7] - a[4] * a[6]);
}

bool nearIdentity(const double* a) {
  for (int i = 0; i < 9; ++i)
    if (!(std::fabs(a[i] - kIdentity[i]) <= equalityTolerance)) return false;
  return true;
}

bool nearSymmetric(const double* a) {
  return std::fabs(a[1] - a[3]) <= equalityTolerance &&
         std::fabs(a[2] - a[6]) <= equalityTolerance && std::fabs(a[5] - a[7]) <= equalityTolerance;
}

bool nearZero(const ERPoint3D& t) {
  return std::fabs(t.x()) <= equalityTolerance && std::fabs(t.y()) <= equalityTolerance &&
         std::fabs(t.z()) <= equalityTolerance;
}

// k v and v / k, written out (the generic value arithmetic goes through a loop and the stack).
template <class V>
V scaled(const V& v, double k) {
  return V(v.x() * k, v.y() * k, v.z() * k);
}
template <class V>
V divided(const V& v, double k) {
  return V(v.x() / k, v.y() / k, v.z() / k);
}

bool nearOne(double k) { return std::fabs(k - 1.0) <= equalityTolerance; }

void identityParts(SimilitudeParts& s) {
  std::memcpy(s.r, kIdentity, sizeof s.r);
  s.t[0] = s.t[1] = s.t[2] = 0.0;
  s.k = 1.0;
}

void setParts(SimilitudeParts& s, const double* r, const ERPoint3D& t, double k) {
  std::memcpy(s.r, r, sizeof s.r);
  s.t[0] = t.x(), s.t[1] = t.y(), s.t[2] = t.z();
  s.k = k;
}

// The representation itself when it lives on the heap, else a heap copy (null when the heap is
// exhausted).
const ERTr3DRevRep* onHeap(const ERTr3DRevRep& r) {
  if (r.isOnTheHeap()) return &r;
  try {
    return static_cast<const ERTr3DRevRep*>(r.getCopy());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void printMatrix(std::ostream& os, const ERMatrix<double>& m) { m.printOn(os); }

int readPoint(ERFile& f, ERPoint3D& p) {
  double v[3];
  if (!f.Read(v, 3)) return 0;
  p.set(v[0], v[1], v[2]);
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Matrix33.

Matrix33::Matrix33() : m_(identityMatrix()) { std::memcpy(a_, kIdentity, sizeof a_); }

Matrix33::Matrix33(const ERMatrix<double>& m) : m_(m) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a_[3 * i + j] = (i < m.rows() && j < m.cols()) ? m(i, j) : 0.0;
}

Matrix33::Matrix33(const double* rowMajor) : m_(3, 3, rowMajor) {
  std::memcpy(a_, rowMajor, sizeof a_);
}

int Matrix33::restore(ERFile& f) {
  ERMatrix<double> m;
  if (!m.restoreGuts(f)) return 0;
  *this = Matrix33(m);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// The general product and the thread's identity.

const ERTr3DRevRep* ERTr3DRevRep::similitudeProduct(const ERTr3DRevRep& a, const ERTr3DRevRep& b) {
  SimilitudeParts pa, pb;
  a.getParts(pa);
  b.getParts(pb);
  double r[9];
  mul33(pa.r, pb.r, r);
  const ERPoint3D tb(pb.t[0], pb.t[1], pb.t[2]);
  const ERPoint3D t = pa.k * apply(pa.r, tb) + ERPoint3D(pa.t[0], pa.t[1], pa.t[2]);
  return create<_ERSimilitude3D>(static_cast<const double*>(r), t, pa.k * pb.k);
}

namespace {

CThreadLocalObject& identitySlot() {
  static CThreadLocalObject slot;
  return slot;
}

// A trivially destroyed copy of the slot's pointer, readable while the thread's objects are
// torn down; t_gone stops a destroyed object from being made again on the same thread.
constinit thread_local ERTr3DRevRep_ThreadLocalData* t_data = nullptr;
constinit thread_local bool t_gone = false;

CNoTrackObject* createThreadData() {
  try {
    return new ERTr3DRevRep_ThreadLocalData;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

ERTr3DRevRep_ThreadLocalData* ERTr3DRevRep_ThreadLocalData::get() {
  if (t_data != nullptr) return t_data;
  if (t_gone) return nullptr;
  t_data = static_cast<ERTr3DRevRep_ThreadLocalData*>(identitySlot().GetData(&createThreadData));
  return t_data;
}

ERTr3DRevRep_ThreadLocalData::~ERTr3DRevRep_ThreadLocalData() {
  if (t_data == this) {
    t_data = nullptr;
    t_gone = true;
  }
  // Envelopes that still hold the identity keep it alive; the last one deletes it.
  if (identity_ != nullptr && identity_->removeReference() == 0) delete identity_;
}

const _ERIdentity3D* ERTr3DRevRep_ThreadLocalData::identity() {
  if (identity_ == nullptr) {
    try {
      identity_ = new _ERIdentity3D;
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    identity_->addReference();  // the thread's own: the envelopes never take the count to 0
  }
  return identity_;
}

const ERTr3DRevRep* ERTr3DRevRep::GetIdentity() {
  if (ERTr3DRevRep_ThreadLocalData* d = ERTr3DRevRep_ThreadLocalData::get())
    if (const _ERIdentity3D* i = d->identity()) return i;
  // The thread is ending: a private identity, deleted with its last holder.
  return create<_ERIdentity3D>();
}

// ---------------------------------------------------------------------------------------------
// _ERIdentity3D.

QORV_DEFINE_COPYABLE(_ERIdentity3D);
void _ERIdentity3D::printOn(std::ostream& os) const { os << "Identite"; }
ERMatrix<double> _ERIdentity3D::getMatrix() const { return identityMatrix(); }
void _ERIdentity3D::getParts(SimilitudeParts& s) const { identityParts(s); }

const ERTr3DRevRep* _ERIdentity3D::getReduced() const {
  return isOnTheHeap() ? this : GetIdentity();
}
const ERTr3DRevRep* _ERIdentity3D::getInverse() const { return getReduced(); }
const ERTr3DRevRep* _ERIdentity3D::operator*(const ERTr3DRevRep* b) const { return b; }

const ERTr3DRevRep* _ERIdentity3D::multiplyWith_ERTranslation3D(const _ERTranslation3D& a) const {
  return onHeap(a);
}
const ERTr3DRevRep* _ERIdentity3D::multiplyWith_ERRotation3D(const _ERRotation3D& a) const {
  return onHeap(a);
}
const ERTr3DRevRep* _ERIdentity3D::multiplyWith_ERWorkplane(const _ERWorkplane& a) const {
  return onHeap(a);
}
const ERTr3DRevRep* _ERIdentity3D::multiplyWith_ERScaling3D(const _ERScaling3D& a) const {
  return onHeap(a);
}
const ERTr3DRevRep* _ERIdentity3D::multiplyWith_ERSymetrie3D(const _ERSymetrie3D& a) const {
  return onHeap(a);
}
const ERTr3DRevRep* _ERIdentity3D::multiplyWith_ERSimilitude3D(const _ERSimilitude3D& a) const {
  return onHeap(a);
}

// ---------------------------------------------------------------------------------------------
// _ERTranslation3D.

QORV_DEFINE_COPYABLE(_ERTranslation3D);
void _ERTranslation3D::printOn(std::ostream& os) const {
  os << "Composante Translation : " << t_ << '\n';
}
void _ERTranslation3D::saveGuts(ERFile& f) const {
  ERAnyIsometrie3D::saveGuts(f);
  t_.saveGuts(f);
}
void _ERTranslation3D::restoreGuts(ERFile& f) {
  ERAnyIsometrie3D::restoreGuts(f);
  readPoint(f, t_);
}
std::uint32_t _ERTranslation3D::binaryStoreSize() const {
  return ERAnyIsometrie3D::binaryStoreSize() + 24;
}

// Points are assigned whole throughout (see Matrix33::times).
void _ERTranslation3D::TransTo(ERPoint3D& p) const {
  p = ERPoint3D(p.x() - t_.x(), p.y() - t_.y(), p.z() - t_.z());
}
void _ERTranslation3D::TransFrom(ERPoint3D& p) const {
  p = ERPoint3D(p.x() + t_.x(), p.y() + t_.y(), p.z() + t_.z());
}
// The array forms repeat the body: an exported member called from the loop would go through the
// dynamic linker's table, one call per point.
void _ERTranslation3D::TransTo(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) {
    const ERPoint3D& p = points[i];
    points[i] = ERPoint3D(p.x() - t_.x(), p.y() - t_.y(), p.z() - t_.z());
  }
}
void _ERTranslation3D::TransFrom(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) {
    const ERPoint3D& p = points[i];
    points[i] = ERPoint3D(p.x() + t_.x(), p.y() + t_.y(), p.z() + t_.z());
  }
}

ERMatrix<double> _ERTranslation3D::getMatrix() const { return identityMatrix(); }
void _ERTranslation3D::getParts(SimilitudeParts& s) const { setParts(s, kIdentity, t_, 1.0); }

const ERTr3DRevRep* _ERTranslation3D::getReduced() const {
  return nearZero(t_) ? GetIdentity() : onHeap(*this);
}
const ERTr3DRevRep* _ERTranslation3D::getInverse() const { return create<_ERTranslation3D>(-t_); }
const ERTr3DRevRep* _ERTranslation3D::operator*(const ERTr3DRevRep* b) const {
  return b != nullptr ? dispatch(*b, *this) : nullptr;
}

// this (translation by t) first, then a.
const ERTr3DRevRep* _ERTranslation3D::multiplyWith_ERTranslation3D(
    const _ERTranslation3D& a) const {
  const ERPoint3D sum = a.t_ + t_;
  if (sum.x() == 0.0 && sum.y() == 0.0 && sum.z() == 0.0) return GetIdentity();
  return create<_ERTranslation3D>(sum);
}
const ERTr3DRevRep* _ERTranslation3D::multiplyWith_ERRotation3D(const _ERRotation3D& a) const {
  return create<_ERWorkplane>(a.rotation(), a.rotation().times(t_));
}
const ERTr3DRevRep* _ERTranslation3D::multiplyWith_ERWorkplane(const _ERWorkplane& a) const {
  return create<_ERWorkplane>(a.rotation(), a.rotation().times(t_) + a.translation());
}
const ERTr3DRevRep* _ERTranslation3D::multiplyWith_ERScaling3D(const _ERScaling3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERTranslation3D::multiplyWith_ERSymetrie3D(const _ERSymetrie3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERTranslation3D::multiplyWith_ERSimilitude3D(const _ERSimilitude3D& a) const {
  return similitudeProduct(a, *this);
}

// ---------------------------------------------------------------------------------------------
// _ERRotation3D.

QORV_DEFINE_COPYABLE(_ERRotation3D);
void _ERRotation3D::printOn(std::ostream& os) const {
  os << "Matrice de Rotation : ";
  printMatrix(os, r_.matrix());
}
void _ERRotation3D::saveGuts(ERFile& f) const {
  ERAnyIsometrie3D::saveGuts(f);
  r_.matrix().saveGuts(f);
}
void _ERRotation3D::restoreGuts(ERFile& f) {
  ERAnyIsometrie3D::restoreGuts(f);
  r_.restore(f);
}
std::uint32_t _ERRotation3D::binaryStoreSize() const {
  return ERAnyIsometrie3D::binaryStoreSize() + r_.matrix().binaryStoreSize();
}

void _ERRotation3D::TransTo(ERVector3D& v) const { v = r_.transposedTimes(v); }
void _ERRotation3D::TransTo(ERPoint3D& p) const { p = r_.transposedTimes(p); }
void _ERRotation3D::TransFrom(ERVector3D& v) const { v = r_.times(v); }
void _ERRotation3D::TransFrom(ERPoint3D& p) const { p = r_.times(p); }
void _ERRotation3D::TransTo(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) points[i] = r_.transposedTimes(points[i]);
}
void _ERRotation3D::TransFrom(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) points[i] = r_.times(points[i]);
}

void _ERRotation3D::getParts(SimilitudeParts& s) const { setParts(s, r_.a(), ERPoint3D(), 1.0); }

const ERTr3DRevRep* _ERRotation3D::getReduced() const {
  return nearIdentity(r_.a()) ? GetIdentity() : onHeap(*this);
}
const ERTr3DRevRep* _ERRotation3D::getInverse() const {
  return create<_ERRotation3D>(r_.matrix().transpose());
}
const ERTr3DRevRep* _ERRotation3D::operator*(const ERTr3DRevRep* b) const {
  return b != nullptr ? dispatch(*b, *this) : nullptr;
}

// this (rotation R) first, then a.
const ERTr3DRevRep* _ERRotation3D::multiplyWith_ERTranslation3D(const _ERTranslation3D& a) const {
  return create<_ERWorkplane>(r_, a.translation());
}
const ERTr3DRevRep* _ERRotation3D::multiplyWith_ERRotation3D(const _ERRotation3D& a) const {
  double r[9];
  mul33(a.r_.a(), r_.a(), r);
  return create<_ERRotation3D>(ERMatrix<double>(3, 3, r));
}
const ERTr3DRevRep* _ERRotation3D::multiplyWith_ERWorkplane(const _ERWorkplane& a) const {
  double r[9];
  mul33(a.rotation().a(), r_.a(), r);
  return create<_ERWorkplane>(static_cast<const double*>(r), a.translation());
}
const ERTr3DRevRep* _ERRotation3D::multiplyWith_ERScaling3D(const _ERScaling3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERRotation3D::multiplyWith_ERSymetrie3D(const _ERSymetrie3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERRotation3D::multiplyWith_ERSimilitude3D(const _ERSimilitude3D& a) const {
  return similitudeProduct(a, *this);
}

// ---------------------------------------------------------------------------------------------
// _ERWorkplane.

_ERWorkplane::_ERWorkplane(const ERVector3D& normal, const ERPoint3D& origin) : t_(origin) {
  ERVector3D u, v;
  qorv::GetOrthogonalDirections(normal, u, v);
  const ERVector3D n = normal.getnormalized();
  const double r[9] = {u.x(), v.x(), n.x(), u.y(), v.y(), n.y(), u.z(), v.z(), n.z()};
  r_ = Matrix33(r);
}

_ERWorkplane::_ERWorkplane(const ERVector3D& xAxis, const ERVector3D& yAxis,
                           const ERPoint3D& origin)
    : t_(origin) {
  const ERVector3D x = xAxis.getnormalized();
  const ERVector3D z = (x ^ yAxis.getnormalized()).getnormalized();
  const ERVector3D y = z ^ x;
  const double r[9] = {x.x(), y.x(), z.x(), x.y(), y.y(), z.y(), x.z(), y.z(), z.z()};
  r_ = Matrix33(r);
}

_ERWorkplane::_ERWorkplane(const _ERRotation3D& R, const _ERTranslation3D& t)
    : r_(R.rotation()), t_(t.translation()) {}

_ERWorkplane::_ERWorkplane(const ERAnyIsometrie3D& iso) : r_(iso.getMatrix()), t_(iso.getTrans()) {}

QORV_DEFINE_COPYABLE(_ERWorkplane);
void _ERWorkplane::printOn(std::ostream& os) const {
  os << "Matrice de Rotation    : " << '\n';
  printMatrix(os, r_.matrix());
  os << "Composante Translation : " << t_ << '\n';
}
void _ERWorkplane::saveGuts(ERFile& f) const {
  ERAnyIsometrie3D::saveGuts(f);
  r_.matrix().saveGuts(f);
  t_.saveGuts(f);
}
void _ERWorkplane::restoreGuts(ERFile& f) {
  ERAnyIsometrie3D::restoreGuts(f);
  Matrix33 r;
  ERPoint3D t;
  if (!r.restore(f) || !readPoint(f, t)) return;
  r_ = r;
  t_ = t;
}
std::uint32_t _ERWorkplane::binaryStoreSize() const {
  return ERAnyIsometrie3D::binaryStoreSize() + r_.matrix().binaryStoreSize() + 24;
}

void _ERWorkplane::TransTo(ERVector3D& v) const { v = r_.transposedTimes(v); }
void _ERWorkplane::TransTo(ERPoint3D& p) const {
  p = r_.transposedTimes(p, t_.x(), t_.y(), t_.z());
}
void _ERWorkplane::TransFrom(ERVector3D& v) const { v = r_.times(v); }
void _ERWorkplane::TransFrom(ERPoint3D& p) const { p = r_.times(p, t_.x(), t_.y(), t_.z()); }
void _ERWorkplane::TransTo(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) points[i] = r_.transposedTimes(points[i], t_.x(), t_.y(), t_.z());
}
void _ERWorkplane::TransFrom(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) points[i] = r_.times(points[i], t_.x(), t_.y(), t_.z());
}

void _ERWorkplane::getParts(SimilitudeParts& s) const { setParts(s, r_.a(), t_, 1.0); }

const ERTr3DRevRep* _ERWorkplane::getReduced() const {
  if (nearZero(t_)) return _ERRotation3D(r_.matrix()).getReduced();
  if (nearIdentity(r_.a())) return create<_ERTranslation3D>(t_);
  return onHeap(*this);
}
const ERTr3DRevRep* _ERWorkplane::getInverse() const {
  return create<_ERWorkplane>(r_.matrix().transpose(), -r_.transposedTimes(t_));
}
const ERTr3DRevRep* _ERWorkplane::operator*(const ERTr3DRevRep* b) const {
  return b != nullptr ? dispatch(*b, *this) : nullptr;
}

// this (R, t) first, then a.
const ERTr3DRevRep* _ERWorkplane::multiplyWith_ERTranslation3D(const _ERTranslation3D& a) const {
  return create<_ERWorkplane>(r_, t_ + a.translation());
}
const ERTr3DRevRep* _ERWorkplane::multiplyWith_ERRotation3D(const _ERRotation3D& a) const {
  double r[9];
  mul33(a.rotation().a(), r_.a(), r);
  return create<_ERWorkplane>(static_cast<const double*>(r), a.rotation().times(t_));
}
const ERTr3DRevRep* _ERWorkplane::multiplyWith_ERWorkplane(const _ERWorkplane& a) const {
  double r[9];
  mul33(a.r_.a(), r_.a(), r);
  return create<_ERWorkplane>(static_cast<const double*>(r), a.r_.times(t_) + a.t_);
}
const ERTr3DRevRep* _ERWorkplane::multiplyWith_ERScaling3D(const _ERScaling3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERWorkplane::multiplyWith_ERSymetrie3D(const _ERSymetrie3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERWorkplane::multiplyWith_ERSimilitude3D(const _ERSimilitude3D& a) const {
  return similitudeProduct(a, *this);
}

// ---------------------------------------------------------------------------------------------
// _ERScaling3D.

QORV_DEFINE_COPYABLE(_ERScaling3D);
void _ERScaling3D::printOn(std::ostream& os) const { os << "Homothetie de rapport :" << k_; }
void _ERScaling3D::saveGuts(ERFile& f) const {
  ERAnySimilitude3D::saveGuts(f);
  f.Write(k_);
}
void _ERScaling3D::restoreGuts(ERFile& f) {
  ERAnySimilitude3D::restoreGuts(f);
  double k;
  if (f.Read(k)) k_ = k;
}
std::uint32_t _ERScaling3D::binaryStoreSize() const {
  return ERAnySimilitude3D::binaryStoreSize() + 8;
}

void _ERScaling3D::TransTo(ERVector3D& v) const { v = divided(v, k_); }
void _ERScaling3D::TransTo(ERPoint3D& p) const { p = divided(p, k_); }
void _ERScaling3D::TransFrom(ERVector3D& v) const { v = scaled(v, k_); }
void _ERScaling3D::TransFrom(ERPoint3D& p) const { p = scaled(p, k_); }
void _ERScaling3D::TransTo(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) points[i] = divided(points[i], k_);
}
void _ERScaling3D::TransFrom(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) points[i] = scaled(points[i], k_);
}

ERMatrix<double> _ERScaling3D::getMatrix() const { return identityMatrix(); }
void _ERScaling3D::getParts(SimilitudeParts& s) const { setParts(s, kIdentity, ERPoint3D(), k_); }

const ERTr3DRevRep* _ERScaling3D::getReduced() const {
  return nearOne(k_) ? GetIdentity() : onHeap(*this);
}
const ERTr3DRevRep* _ERScaling3D::getInverse() const { return create<_ERScaling3D>(1.0 / k_); }
const ERTr3DRevRep* _ERScaling3D::operator*(const ERTr3DRevRep* b) const {
  return b != nullptr ? dispatch(*b, *this) : nullptr;
}

const ERTr3DRevRep* _ERScaling3D::multiplyWith_ERTranslation3D(const _ERTranslation3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERScaling3D::multiplyWith_ERRotation3D(const _ERRotation3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERScaling3D::multiplyWith_ERWorkplane(const _ERWorkplane& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERScaling3D::multiplyWith_ERScaling3D(const _ERScaling3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERScaling3D::multiplyWith_ERSymetrie3D(const _ERSymetrie3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERScaling3D::multiplyWith_ERSimilitude3D(const _ERSimilitude3D& a) const {
  return similitudeProduct(a, *this);
}

// ---------------------------------------------------------------------------------------------
// _ERSymetrie3D.

QORV_DEFINE_COPYABLE(_ERSymetrie3D);
void _ERSymetrie3D::printOn(std::ostream& os) const {
  os << "Symetrie de matrice : ";
  printMatrix(os, s_.matrix());
}
void _ERSymetrie3D::saveGuts(ERFile& f) const {
  ERAnySimilitude3D::saveGuts(f);
  s_.matrix().saveGuts(f);
}
void _ERSymetrie3D::restoreGuts(ERFile& f) {
  ERAnySimilitude3D::restoreGuts(f);
  s_.restore(f);
}
std::uint32_t _ERSymetrie3D::binaryStoreSize() const {
  return ERAnySimilitude3D::binaryStoreSize() + s_.matrix().binaryStoreSize();
}

void _ERSymetrie3D::TransTo(ERVector3D& v) const { v = s_.transposedTimes(v); }
void _ERSymetrie3D::TransTo(ERPoint3D& p) const { p = s_.transposedTimes(p); }
void _ERSymetrie3D::TransFrom(ERVector3D& v) const { v = s_.times(v); }
void _ERSymetrie3D::TransFrom(ERPoint3D& p) const { p = s_.times(p); }
void _ERSymetrie3D::TransTo(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) points[i] = s_.transposedTimes(points[i]);
}
void _ERSymetrie3D::TransFrom(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) points[i] = s_.times(points[i]);
}

int _ERSymetrie3D::isDirect() const { return det33(s_.a()) > 0.0; }
void _ERSymetrie3D::getParts(SimilitudeParts& s) const { setParts(s, s_.a(), ERPoint3D(), 1.0); }

const ERTr3DRevRep* _ERSymetrie3D::getReduced() const { return onHeap(*this); }
const ERTr3DRevRep* _ERSymetrie3D::getInverse() const { return onHeap(*this); }
const ERTr3DRevRep* _ERSymetrie3D::operator*(const ERTr3DRevRep* b) const {
  return b != nullptr ? dispatch(*b, *this) : nullptr;
}

const ERTr3DRevRep* _ERSymetrie3D::multiplyWith_ERTranslation3D(const _ERTranslation3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERSymetrie3D::multiplyWith_ERRotation3D(const _ERRotation3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERSymetrie3D::multiplyWith_ERWorkplane(const _ERWorkplane& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERSymetrie3D::multiplyWith_ERScaling3D(const _ERScaling3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERSymetrie3D::multiplyWith_ERSymetrie3D(const _ERSymetrie3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERSymetrie3D::multiplyWith_ERSimilitude3D(const _ERSimilitude3D& a) const {
  return similitudeProduct(a, *this);
}

// ---------------------------------------------------------------------------------------------
// _ERSimilitude3D.

_ERSimilitude3D::_ERSimilitude3D(const ERAnySimilitude3D& s)
    : r_(s.getMatrix()), t_(s.getTrans()), k_(s.getFactHomo()) {}

int _ERSimilitude3D::isValid() const {
  return ERAnySimilitude3D::isValid() && r_.is3x3() &&
         std::fabs(std::fabs(det33(r_.a())) - 1.0) <= equalityTolerance && k_ != 0.0;
}

QORV_DEFINE_COPYABLE(_ERSimilitude3D);
void _ERSimilitude3D::printOn(std::ostream& os) const {
  os << "Matrice de Rotation    : " << '\n';
  printMatrix(os, r_.matrix());
  os << "Composante Translation : " << t_ << '\n';
  os << "facteur d'homothetie   : " << k_ << '\n';
}
void _ERSimilitude3D::saveGuts(ERFile& f) const {
  ERAnySimilitude3D::saveGuts(f);
  f.Write(k_);
  r_.matrix().saveGuts(f);
  t_.saveGuts(f);
}
void _ERSimilitude3D::restoreGuts(ERFile& f) {
  ERAnySimilitude3D::restoreGuts(f);
  double k;
  Matrix33 r;
  ERPoint3D t;
  if (!f.Read(k) || !r.restore(f) || !readPoint(f, t)) return;
  k_ = k;
  r_ = r;
  t_ = t;
}
std::uint32_t _ERSimilitude3D::binaryStoreSize() const {
  return ERAnySimilitude3D::binaryStoreSize() + 8 + r_.matrix().binaryStoreSize() + 24;
}

// P' = R (k P) + t; P = R^T (P' - t) / k.
void _ERSimilitude3D::TransTo(ERVector3D& v) const { v = divided(r_.transposedTimes(v), k_); }
void _ERSimilitude3D::TransTo(ERPoint3D& p) const {
  p = divided(r_.transposedTimes(p, t_.x(), t_.y(), t_.z()), k_);
}
void _ERSimilitude3D::TransFrom(ERVector3D& v) const { v = r_.times(scaled(v, k_)); }
void _ERSimilitude3D::TransFrom(ERPoint3D& p) const {
  p = r_.times(scaled(p, k_), t_.x(), t_.y(), t_.z());
}
void _ERSimilitude3D::TransTo(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i)
    points[i] = divided(r_.transposedTimes(points[i], t_.x(), t_.y(), t_.z()), k_);
}
void _ERSimilitude3D::TransFrom(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) points[i] = r_.times(scaled(points[i], k_), t_.x(), t_.y(), t_.z());
}

int _ERSimilitude3D::isDirect() const { return det33(r_.a()) > 0.0; }
void _ERSimilitude3D::getParts(SimilitudeParts& s) const { setParts(s, r_.a(), t_, k_); }

const ERTr3DRevRep* _ERSimilitude3D::getReduced() const {
  if (!r_.is3x3()) return onHeap(*this);  // not a similitude of space: nothing to reduce to
  const bool direct = det33(r_.a()) > 0.0;
  const bool k1 = nearOne(k_);
  const bool t0 = nearZero(t_);
  if (k1 && direct) return _ERWorkplane(r_, t_).getReduced();
  if (k1 && !direct && t0 && nearSymmetric(r_.a())) return _ERSymetrie3D(r_).getReduced();
  if (!k1 && t0 && nearIdentity(r_.a())) return create<_ERScaling3D>(k_);
  return onHeap(*this);
}
const ERTr3DRevRep* _ERSimilitude3D::getInverse() const {
  return create<_ERSimilitude3D>(r_.matrix().transpose(), -(1.0 / k_) * r_.transposedTimes(t_),
                                 1.0 / k_);
}
const ERTr3DRevRep* _ERSimilitude3D::operator*(const ERTr3DRevRep* b) const {
  return b != nullptr ? dispatch(*b, *this) : nullptr;
}

const ERTr3DRevRep* _ERSimilitude3D::multiplyWith_ERTranslation3D(const _ERTranslation3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERSimilitude3D::multiplyWith_ERRotation3D(const _ERRotation3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERSimilitude3D::multiplyWith_ERWorkplane(const _ERWorkplane& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERSimilitude3D::multiplyWith_ERScaling3D(const _ERScaling3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERSimilitude3D::multiplyWith_ERSymetrie3D(const _ERSymetrie3D& a) const {
  return similitudeProduct(a, *this);
}
const ERTr3DRevRep* _ERSimilitude3D::multiplyWith_ERSimilitude3D(const _ERSimilitude3D& a) const {
  return similitudeProduct(a, *this);
}
