#include "qorv/foundation/transfo3d.h"

#include <cmath>
#include <ostream>

#include "qorv/foundation/tolerance.h"
#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/persistence/file.h"

using namespace qorv;

QORV_DEFINE_ABSTRACT_CLASS(ERTr3D);
QORV_DEFINE_ABSTRACT_CLASS(ERTr3DRev);
QORV_DEFINE_ABSTRACT_CLASS(ERTr3DRevRep);
QORV_DEFINE_ABSTRACT_CLASS(ERAnySimilitude3D);
QORV_DEFINE_ABSTRACT_CLASS(ERAnyIsometrie3D);
QORV_DEFINE_ABSTRACT_CLASS(ERTr3DRevEnveloppe);
QORV_DEFINE_CLASS(ERPmSimilitude3D);
QORV_DEFINE_CLASS(ERPmIsometrie3D);

namespace {

// A pole moves as its Cartesian point and keeps its weight.
template <class Map>
void mapPole(ERPole3DH& h, Map map) {
  const double w = h.w();
  ERPoint3D p = h.castToPoint();
  map(p);
  h = ERPole3DH(p.x() * w, p.y() * w, p.z() * w, w);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ERTr3D and ERTr3DRev: the array forms in terms of the single-point forms.

void ERTr3D::TransTo(ERPole3DH& h) const {
  mapPole(h, [this](ERPoint3D& p) { TransTo(p); });
}

void ERTr3D::TransTo(QuickAlgebra::ERVec<ERPole3DH>& poles) const {
  if (poles.isEmpty()) return;
  for (ERPole3DH& h : poles) TransTo(h);
}

void ERTr3D::TransTo(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) TransTo(points[i]);
}

void ERTr3D::TransTo(QuickAlgebra::ERVec<ERPoint3D>& points) const {
  if (points.isEmpty()) return;
  TransTo(points.data(), points.length());
}

int ERTr3D::isEqual(const ERTr3D& other) const { return this == &other; }

ERPole2DH ERTr3D::Project(const ERPole3DH& h) const {
  ERPole3DH local = h;
  TransTo(local);
  return ERPole2DH(local.wx(), local.wy(), local.w());
}

ERPoint2D ERTr3D::Project(const ERPoint3D& p) const {
  ERPoint3D local = p;
  TransTo(local);
  return ERPoint2D(local.x(), local.y());
}

void ERTr3DRev::TransFrom(ERPole3DH& h) const {
  mapPole(h, [this](ERPoint3D& p) { TransFrom(p); });
}

void ERTr3DRev::TransFrom(QuickAlgebra::ERVec<ERPole3DH>& poles) const {
  if (poles.isEmpty()) return;
  for (ERPole3DH& h : poles) TransFrom(h);
}

void ERTr3DRev::TransFrom(QuickAlgebra::ERVec<ERPoint3D>& points) const {
  if (points.isEmpty()) return;
  TransFrom(points.data(), points.length());
}

void ERTr3DRev::TransFrom(ERPoint3D* points, int n) const {
  for (int i = 0; i < n; ++i) TransFrom(points[i]);
}

ERVector3D ERTr3DRev::getVector(Coord3D axis) const {
  ERVector3D v(axis);
  TransFrom(v);
  return v;
}

int ERTr3DRev::isEqual(const ERTr3D& other) const {
  if (&other == this) return 1;
  if (!other.isKindOf(ERTr3DRev::desc())) return 0;
  const ERTr3DRev& o = static_cast<const ERTr3DRev&>(other);
  const double tol = equalityTolerance;
  if (!(std::fabs(getFactHomo() - o.getFactHomo()) <= tol)) return 0;
  if (!::isEqual(getTrans(), o.getTrans(), tol)) return 0;
  const QuickAlgebra::ERMatrix<double> a = getMatrix(), b = o.getMatrix();
  if (a.rows() != b.rows() || a.cols() != b.cols()) return 0;
  const double* x = a.data();
  const double* y = b.data();
  for (int i = 0, n = a.length(); i < n; ++i)
    if (!(std::fabs(x[i] - y[i]) <= tol)) return 0;
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Envelopes.

void ERTr3DRevEnveloppe::hold(const ERTr3DRevRep* r) {
  if (r != nullptr && r->isOnTheHeap()) const_cast<ERTr3DRevRep*>(r)->addReference();
}

void ERTr3DRevEnveloppe::release(const ERTr3DRevRep* r) {
  if (r != nullptr && r->isOnTheHeap() && const_cast<ERTr3DRevRep*>(r)->removeReference() == 0)
    delete r;
}

ERTr3DRevEnveloppe::ERTr3DRevEnveloppe() : rep_(ERTr3DRevRep::GetIdentity()) { hold(rep_); }

ERTr3DRevEnveloppe::ERTr3DRevEnveloppe(const ERTr3DRevRep* r) { setRep(r); }

ERTr3DRevEnveloppe::ERTr3DRevEnveloppe(const ERTr3DRevEnveloppe& other)
    : ERTr3DRev(other), rep_(other.rep_) {
  hold(rep_);
}

ERTr3DRevEnveloppe& ERTr3DRevEnveloppe::operator=(const ERTr3DRevEnveloppe& other) {
  ERTr3DRev::operator=(other);
  hold(other.rep_);  // before the release: other may be this
  release(rep_);
  rep_ = other.rep_;
  return *this;
}

ERTr3DRevEnveloppe::~ERTr3DRevEnveloppe() { release(rep_); }

void ERTr3DRevEnveloppe::setRep(const ERTr3DRevRep* r) {
  if (r != nullptr && !r->isOnTheHeap()) {
    ERObject* copy = nullptr;
    try {
      copy = r->getCopy();
    } catch (const std::bad_alloc&) {
    }
    r = static_cast<const ERTr3DRevRep*>(copy);
  }
  hold(r);
  release(rep_);
  rep_ = r;
  reduce();
}

void ERTr3DRevEnveloppe::reduce() {
  if (rep_ == nullptr) return;
  const ERTr3DRevRep* r = rep_->getReduced();
  if (r == nullptr || r == rep_) return;
  hold(r);
  release(rep_);
  rep_ = r;
}

const ERTr3DRevRep* ERTr3DRevEnveloppe::getInverse() const {
  return rep_ != nullptr ? rep_->getInverse() : nullptr;
}

const ERTr3DRevRep* ERTr3DRevEnveloppe::productRep(const ERTr3DRevEnveloppe& other) const {
  if (rep_ == nullptr || other.rep_ == nullptr) return nullptr;
  return rep_->operator*(other.rep_);
}

void ERTr3DRevEnveloppe::TransTo(QuickAlgebra::ERVec<ERPole3DH>& poles) const {
  if (rep_ != nullptr) rep_->TransTo(poles);
}
void ERTr3DRevEnveloppe::TransTo(ERPoint3D* points, int n) const {
  if (rep_ != nullptr) rep_->TransTo(points, n);
}
void ERTr3DRevEnveloppe::TransTo(QuickAlgebra::ERVec<ERPoint3D>& points) const {
  if (rep_ != nullptr) rep_->TransTo(points);
}
void ERTr3DRevEnveloppe::TransFrom(QuickAlgebra::ERVec<ERPole3DH>& poles) const {
  if (rep_ != nullptr) rep_->TransFrom(poles);
}
void ERTr3DRevEnveloppe::TransFrom(QuickAlgebra::ERVec<ERPoint3D>& points) const {
  if (rep_ != nullptr) rep_->TransFrom(points);
}
void ERTr3DRevEnveloppe::TransFrom(ERPoint3D* points, int n) const {
  if (rep_ != nullptr) rep_->TransFrom(points, n);
}

QuickAlgebra::ERMatrix<double> ERTr3DRevEnveloppe::getMatrix() const {
  return rep_ != nullptr ? rep_->getMatrix() : QuickAlgebra::ERMatrix<double>::identity(3);
}
ERPoint3D ERTr3DRevEnveloppe::getTrans() const {
  return rep_ != nullptr ? rep_->getTrans() : ERPoint3D();
}
double ERTr3DRevEnveloppe::getFactHomo() const {
  return rep_ != nullptr ? rep_->getFactHomo() : 1.0;
}
int ERTr3DRevEnveloppe::isDirect() const { return rep_ != nullptr ? rep_->isDirect() : 1; }

int ERTr3DRevEnveloppe::isValid() const {
  return ERTr3DRev::isValid() && rep_ != nullptr && rep_->isValid();
}

void ERTr3DRevEnveloppe::printOn(std::ostream& os) const {
  os << "Class :" << className() << "contents a";
  if (rep_ != nullptr) rep_->printOn(os);
}

void ERTr3DRevEnveloppe::saveGuts(ERFile& f) const {
  ERTr3DRev::saveGuts(f);
  getMatrix().saveGuts(f);
  getTrans().saveGuts(f);
  f.Write(getFactHomo());
}

void ERTr3DRevEnveloppe::restoreGuts(ERFile& f) {
  ERTr3DRev::restoreGuts(f);
  QuickAlgebra::ERMatrix<double> R;
  double t[3];
  double k = 0.0;
  if (!R.restoreGuts(f) || !f.Read(t, 3) || !f.Read(k)) return;
  const ERTr3DRevRep* r = ERTr3DRevRep::create<_ERSimilitude3D>(R, ERPoint3D(t[0], t[1], t[2]), k);
  if (r != nullptr) setRep(r);
}

std::uint32_t ERTr3DRevEnveloppe::binaryStoreSize() const {
  return ERTr3DRev::binaryStoreSize() + getMatrix().binaryStoreSize() + 32;
}

ERPmSimilitude3D::ERPmSimilitude3D(const ERAnySimilitude3D& s) : ERTr3DRevEnveloppe(&s) {}

QORV_DEFINE_COPYABLE(ERPmSimilitude3D);

ERPmIsometrie3D::ERPmIsometrie3D(const ERAnyIsometrie3D& s) : ERPmSimilitude3D(&s) {}

QORV_DEFINE_COPYABLE(ERPmIsometrie3D);

ERPmIsometrie3D ERPmIsometrie3D::get_rotation_matrix() const {
  return ERPmIsometrie3D(_ERRotation3D(getMatrix()));
}

ERPmIsometrie3D ERPmIsometrie3D::get_translation_matrix() const {
  return ERPmIsometrie3D(_ERTranslation3D(getTrans()));
}

ERPmSimilitude3D operator*(const ERPmSimilitude3D& a, const ERPmSimilitude3D& b) {
  return ERPmSimilitude3D(a.productRep(b));
}

ERPmIsometrie3D operator*(const ERPmIsometrie3D& a, const ERPmIsometrie3D& b) {
  return ERPmIsometrie3D(a.productRep(b));
}

ERPmSimilitude3D operator~(const ERPmSimilitude3D& a) { return ERPmSimilitude3D(a.getInverse()); }

ERPmIsometrie3D operator~(const ERPmIsometrie3D& a) { return ERPmIsometrie3D(a.getInverse()); }

// ---------------------------------------------------------------------------------------------
// Boxes: the box of the mapped corners.

namespace {

template <class Map>
ERMinimax3D mapBox(const ERMinimax3D& box, Map map) {
  ERMinimax3D out;
  if (box.invalid()) return out;
  for (ERPoint3D corner : box.getVertice()) {
    map(corner);
    out.Update(corner);
  }
  return out;
}

}  // namespace

ERMinimax3D operator>>(const ERPmSimilitude3D& T, const ERMinimax3D& box) {
  return mapBox(box, [&T](ERPoint3D& p) { T.TransFrom(p); });
}

ERMinimax3D operator<<(const ERPmSimilitude3D& T, const ERMinimax3D& box) {
  return mapBox(box, [&T](ERPoint3D& p) { T.TransTo(p); });
}

// ---------------------------------------------------------------------------------------------
// Frames.

void qorv::GetOrthogonalDirections(const ERVector3D& n, ERVector3D& u, ERVector3D& v) {
  const ERVector3D N = n.getnormalized();
  const double ax = std::fabs(N.x()), ay = std::fabs(N.y()), az = std::fabs(N.z());
  ERVector3D seed;
  if (az > ax && az > ay) {
    seed = ERVector3D(1.0, 0.0, N.y() / N.z());
  } else if (ay > ax && ay > az) {
    seed = ERVector3D(0.0, N.x() / N.y(), 1.0);
  } else if (N.x() != 0.0) {
    seed = ERVector3D(N.z() / N.x(), 1.0, 0.0);
  } else {
    seed = ERVector3D(1.0, 1.0, 1.0);
  }
  seed.normalize();
  v = (N ^ seed).getnormalized();
  u = v ^ N;
}

ERPmIsometrie3D ERChgRepere3D(const ERVector3D& normal, const ERPoint3D& origin) {
  return ERPmIsometrie3D(_ERWorkplane(normal, origin));
}

ERPmIsometrie3D ERChgRepere3D(const ERVector3D& xAxis, const ERVector3D& yAxis,
                              const ERPoint3D& origin) {
  return ERPmIsometrie3D(_ERWorkplane(xAxis, yAxis, origin));
}
