#include "qorv/curves/lines.h"

#include <cmath>
#include <ostream>
#include <utility>

#include "qorv/persistence/file.h"

using namespace qorv;

QORV_DEFINE_CLASS(ERInfLine2D);
QORV_DEFINE_CLASS(ERInfLine3D);
QORV_DEFINE_CLASS(ERSegment2D);
QORV_DEFINE_CLASS(ERSegment3D);

using QuickAlgebra::ERVec;

namespace {

// The segment's inside, in parameter, for the signed distances.
constexpr double kBandLow = -1e-7;
constexpr double kBandHigh = 1.0000001;

// The foot of the perpendicular from the coordinate origin onto the line through p along the
// unit direction d: p + ((0 - p) . d) d.
template <class P, class V>
P footFromOrigin(const P& p, const V& d) {
  return p + (V(p, P()) * d) * d;
}

template <class P, class V>
P projectOnLine(const P& origin, const V& d, const P& p) {
  return origin + (V(origin, p) * d) * d;
}

// The unsigned part of the segment distances: u from the foot's position along P1 -> P2.
template <class P, class V>
EREntity::DISTMINRES segmentDistance(const P& p1, const P& p2, const P& p, double& d, double& u) {
  const V D = V(p1, p2).normalize();
  const P q = p1 + (V(p1, p) * D) * D;
  u = div_vect(p1, p2, q);
  if (kBandLow < u && u < kBandHigh) {
    d = distance(q, p);
    return EREntity::DISTMIN_NORMAL;
  }
  d = distance(u > 1.0 ? p2 : p1, p);
  return EREntity::DISTMIN_END_POINT;
}

// The crossing of one coordinate of a segment with a value: 0 when the segment runs parallel.
template <class P>
int segmentCrossing(const P& p1, const P& p2, int axis, double value, ERVec<double>& params) {
  const double a = p1.data()[axis], b = p2.data()[axis];
  if (a == b) return 0;
  const double u = (value - a) / (b - a);
  if (0.0 <= u && u <= 1.0) params.append(u);
  return params.length();
}

// The crossing of a segment with the line (plane) through p of normal n, in closed form: the
// signed heights of the ends over it, their ratio the parameter. 0 when the segment runs
// parallel, as the axis crossings answer.
template <class P, class V>
int segmentCrossingWith(const P& p1, const P& p2, const P& p, const V& n, ERVec<double>& params) {
  const V N = n.getnormalized();
  const double a = V(p, p1) * N, b = V(p, p2) * N;
  if (a == b) return 0;
  const double u = a / (a - b);
  if (0.0 <= u && u <= 1.0) params.append(u);
  return params.length();
}

template <class P>
ERVec<P> twoPoints(const P& a, const P& b) {
  ERVec<P> out;
  out.reserve(2);
  out.append(a);
  out.append(b);
  return out;
}

// All or nothing: a short record changes neither value.
template <class A, class B>
void restorePair(ERFile& f, A& a, B& b) {
  constexpr int n = A::kSize + B::kSize;
  double v[n];
  if (!qorv::detail::restoreDoubles(f, v, n)) return;
  for (int i = 0; i < A::kSize; ++i) a.data()[i] = v[i];
  for (int i = 0; i < B::kSize; ++i) b.data()[i] = v[A::kSize + i];
}

// Restores the stream's precision on the way out.
class PrecisionGuard {
 public:
  PrecisionGuard(std::ostream& os, std::streamsize p) : os_(os), old_(os.precision(p)) {}
  ~PrecisionGuard() { os_.precision(old_); }
  PrecisionGuard(const PrecisionGuard&) = delete;
  PrecisionGuard& operator=(const PrecisionGuard&) = delete;

 private:
  std::ostream& os_;
  std::streamsize old_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// ERInfLine2D

ERInfLine2D::ERInfLine2D(const ERPoint2D& p1, const ERPoint2D& p2)
    : ERInfLine2D(ERVector2D(p1, p2), p1) {}

ERInfLine2D::ERInfLine2D(const ERVector2D& v, const ERPoint2D& p)
    : dir_(v.getnormalized()), origin_(footFromOrigin(p, dir_)) {}

ERInfLine2D::ERInfLine2D(double a, double b, double c) {
  const double n = ERVector2D(-b, a).norme();
  if (n == 0.0) return;  // no line: zero direction through the coordinate origin
  if (n != 1.0) a /= n, b /= n, c /= n;
  dir_.set(-b, a);
  const ERPoint2D p = std::fabs(b) > std::fabs(a) ? ERPoint2D(0.0, -c / b) : ERPoint2D(-c / a, 0.0);
  origin_ = footFromOrigin(p, dir_);
}

ERInfLine2D::ERInfLine2D(const ERSegment2D& s) : ERInfLine2D(s.getP1(), s.getP2()) {}

ERPoint2D ERInfLine2D::projectPt(const ERPoint2D& p) const {
  return projectOnLine(origin_, dir_, p);
}

void ERInfLine2D::offset(double dist) { origin_ += normalVector() * dist; }

ERInfLine2D ERInfLine2D::parallele(double dist) const {
  ERInfLine2D moved(*this);
  moved.offset(dist);
  return moved;
}

int ERInfLine2D::isParallelTo(const ERInfLine2D& other, double tol) const {
  return std::fabs(dir_ * other.dir_) <= tol;
}

EREntity::DISTMINRES ERInfLine2D::SignedMinimalDistance(const ERPoint2D& p, double& d) const {
  d = dir_.y() * (p.x() - origin_.x()) - dir_.x() * (p.y() - origin_.y());
  return DISTMIN_NORMAL;
}

void ERInfLine2D::transformFrom(const ERTransfo2D& T) {
  T.TransFrom(origin_);
  T.TransFrom(dir_);
}

void ERInfLine2D::transformTo(const ERTransfo2D& T) {
  T.TransTo(origin_);
  T.TransTo(dir_);
}

t_SmartPtr<EREntity3DWF> ERInfLine2D::get3DEquiv(const ERPmIsometrie3D& frame) const {
  return t_SmartPtr<EREntity3DWF>(new ERInfLine3D(*this, frame));
}

QORV_DEFINE_COPYABLE(ERInfLine2D);

namespace {
template <class A, class B>
int allFinite(const A& a, const B& b) {
  for (int i = 0; i < A::kSize; ++i)
    if (!std::isfinite(a.data()[i])) return 0;
  for (int i = 0; i < B::kSize; ++i)
    if (!std::isfinite(b.data()[i])) return 0;
  return 1;
}
}  // namespace

int ERInfLine2D::isValid() const { return allFinite(dir_, origin_); }
int ERInfLine3D::isValid() const { return allFinite(dir_, origin_); }

void ERInfLine2D::printOn(std::ostream& os) const {
  const PrecisionGuard guard(os, 3);
  os << "InfLine2D"
     << " O";
  os.width(5);
  os << origin_ << " V";
  os.width(5);
  using qorv::detail::printable;
  os << dir_ << " (  " << printable(dir_.y()) << " *x + " << printable(-dir_.x()) << " *y + "
     << printable(dir_.x() * origin_.y() - dir_.y() * origin_.x()) << " = 0 )" << '\n';
}

void ERInfLine2D::saveGuts(ERFile& f) const {
  EREntity2DWF::saveGuts(f);
  dir_.saveGuts(f);
  origin_.saveGuts(f);
}

void ERInfLine2D::restoreGuts(ERFile& f) {
  EREntity2DWF::restoreGuts(f);
  restorePair(f, dir_, origin_);
}

std::uint32_t ERInfLine2D::binaryStoreSize() const {
  return EREntity2DWF::binaryStoreSize() + dir_.binaryStoreSize() + origin_.binaryStoreSize();
}

double qorv::distance(const ERInfLine2D& line, const ERPoint2D& p) {
  return distance(line.projectPt(p), p);
}

// ---------------------------------------------------------------------------------------------
// ERInfLine3D

ERInfLine3D::ERInfLine3D(const ERPoint3D& p1, const ERPoint3D& p2)
    : ERInfLine3D(ERVector3D(p1, p2), p1) {}

ERInfLine3D::ERInfLine3D(const ERVector3D& v, const ERPoint3D& p)
    : dir_(v.getnormalized()), origin_(footFromOrigin(p, dir_)) {}

ERInfLine3D::ERInfLine3D(const ERSegment3D& s) : ERInfLine3D(s.getP1(), s.getP2()) {}

ERInfLine3D::ERInfLine3D(const ERInfLine2D& line, Coord3D axis, double h)
    : ERInfLine3D(line.dirVector().castToVector3D(axis, 0.0),
                  line.origine().castToPoint3D(axis, h)) {}

ERInfLine3D::ERInfLine3D(const ERInfLine2D& line, const ERPmIsometrie3D& frame)
    : ERInfLine3D(frame >> line.dirVector().castToVector3D(Coord3D::Z, 0.0),
                  frame >> line.origine().castToPoint3D(Coord3D::Z, 0.0)) {}

ERPoint3D ERInfLine3D::projectPt(const ERPoint3D& p) const {
  return projectOnLine(origin_, dir_, p);
}

int ERInfLine3D::IsParallelTo(const ERInfLine3D& other, double tol) const {
  return 1.0 - std::fabs(dir_ * other.dir_) <= tol;
}

EREntity::DISTMINRES ERInfLine3D::SignedMinimalDistance(const ERPoint3D& p, double& d) const {
  d = distance(p, projectPt(p));
  return DISTMIN_UNSIGNED;
}

void ERInfLine3D::transformFrom(const ERPmSimilitude3D& T) {
  origin_ = T >> origin_;
  dir_ = T >> dir_;
}

void ERInfLine3D::transformTo(const ERPmSimilitude3D& T) {
  origin_ = T << origin_;
  dir_ = T << dir_;
}

t_SmartPtr<EREntity2DWF> ERInfLine3D::get2DEntProjectedOn(const ERPmIsometrie3D& frame) const {
  return t_SmartPtr<EREntity2DWF>(new ERInfLine2D((frame << dir_).castToVector2D(Coord3D::Z),
                                                  (frame << origin_).castToPoint2D(Coord3D::Z)));
}

QORV_DEFINE_COPYABLE(ERInfLine3D);

void ERInfLine3D::printOn(std::ostream& os) const {
  os << "Droite Infinie Org=" << origin_ << " Vec=" << dir_ << '\n';
}

void ERInfLine3D::saveGuts(ERFile& f) const {
  EREntity3DWF::saveGuts(f);
  dir_.saveGuts(f);
  origin_.saveGuts(f);
}

void ERInfLine3D::restoreGuts(ERFile& f) {
  EREntity3DWF::restoreGuts(f);
  restorePair(f, dir_, origin_);
}

std::uint32_t ERInfLine3D::binaryStoreSize() const {
  return EREntity3DWF::binaryStoreSize() + dir_.binaryStoreSize() + origin_.binaryStoreSize();
}

double qorv::distance(const ERInfLine3D& line, const ERPoint3D& p) {
  return distance(line.projectPt(p), p);
}

// ---------------------------------------------------------------------------------------------
// Segments: one body per operation for the two twins.

#define QORV_SEGMENT_BODIES(Seg, P, V, Info, Finite, Dim)                                   \
  P Seg::operator()(double u) const { return p1_ + u * V(p1_, p2_); }                       \
  Info Seg::PtCur(double u) const { return Info(u, 1, (*this)(u), V(p1_, p2_), V()); }      \
  double Seg::arcLength(const ERLimites& range, double) const {                             \
    return std::fabs(range.amplitude()) * distance(p1_, p2_);                               \
  }                                                                                         \
  double Seg::arcLength(double) const { return distance(lastPt(), firstPt()); }             \
  ERVec<P> Seg::approxime(const ERLimites& range, double) const {                           \
    return twoPoints((*this)(range.start()), (*this)(range.end()));                         \
  }                                                                                         \
  ERVec<P> Seg::approxime(int) const { return twoPoints(p1_, p2_); }                        \
  int Seg::splitAt(t_SmartPtr<Finite>& first, t_SmartPtr<Finite>& second, double u) const { \
    const P q = (*this)(u);                                                                 \
    first = new Seg(p1_, q);                                                                \
    second = new Seg(q, p2_);                                                               \
    return 1;                                                                               \
  }                                                                                         \
  void Seg::reverse() { std::swap(p1_, p2_); }                                              \
  QORV_DEFINE_COPYABLE(Seg)                                                                 \
  int Seg::isValid() const { return allFinite(p1_, p2_); }                                  \
  void Seg::printOn(std::ostream& os) const {                                               \
    os << "Segment " Dim " : P1=" << p1_ << " P2=" << p2_ << '\n';                          \
  }                                                                                         \
  void Seg::saveGuts(ERFile& f) const {                                                     \
    Finite::saveGuts(f);                                                                    \
    p1_.saveGuts(f);                                                                        \
    p2_.saveGuts(f);                                                                        \
  }                                                                                         \
  void Seg::restoreGuts(ERFile& f) {                                                        \
    Finite::restoreGuts(f);                                                                 \
    restorePair(f, p1_, p2_);                                                               \
  }                                                                                         \
  std::uint32_t Seg::binaryStoreSize() const {                                              \
    return Finite::binaryStoreSize() + p1_.binaryStoreSize() + p2_.binaryStoreSize();       \
  }

QORV_SEGMENT_BODIES(ERSegment2D, ERPoint2D, ERVector2D, ERInfoPoint2D, ERFiniteEntity2DWF, "2D")
QORV_SEGMENT_BODIES(ERSegment3D, ERPoint3D, ERVector3D, ERInfoPoint3DWF, ERFiniteEntity3DWF, "3D")
#undef QORV_SEGMENT_BODIES

ERVector2D ERSegment2D::normalVector() const {
  const ERVector2D d = dirVector();
  return ERVector2D(-d.y(), d.x());
}

int ERSegment2D::intersectWithAxeY(double x, ERVec<double>& params) const {
  return segmentCrossing(p1_, p2_, 0, x, params);
}

int ERSegment2D::intersectWith(const ERPoint2D& p, const ERVector2D& v,
                               ERVec<double>& params) const {
  return segmentCrossingWith(p1_, p2_, p, v, params);
}

int ERSegment3D::intersectWith(const ERPoint3D& p, const ERVector3D& v,
                               ERVec<double>& params) const {
  return segmentCrossingWith(p1_, p2_, p, v, params);
}

int ERSegment3D::intersectWithPlanZ(double z, ERVec<double>& params) const {
  return segmentCrossing(p1_, p2_, 2, z, params);
}

// A zero-length segment gives t = NaN, which no comparison accepts.
int ERSegment2D::ProjectPoint(const ERPoint2D& p, ERVec<double>& params, double) const {
  const double t = (ERVector2D(p1_, p) * dirVector()) / distance(p1_, p2_);
  if (0.0 <= t && t <= 1.0) params.append(t);
  return params.length();
}

EREntity::DISTMINRES ERSegment2D::SignedMinimalDistance(const ERPoint2D& p, double& d,
                                                        double& u) const {
  const DISTMINRES kind = segmentDistance<ERPoint2D, ERVector2D>(p1_, p2_, p, d, u);
  if (!((ERVector2D(p1_, p) ^ dirVector()) > 0.0)) d = -d;
  u = u > 1.0 ? 1.0 : (u >= 0.0 ? u : 0.0);  // a NaN u (zero length) reads as P1
  return kind;
}

EREntity::DISTMINRES ERSegment3D::SignedMinimalDistance(const ERPoint3D& p, double& d) const {
  double u = 0.0;
  return segmentDistance<ERPoint3D, ERVector3D>(p1_, p2_, p, d, u);
}

void ERSegment2D::transformFrom(const ERTransfo2D& T) {
  T.TransFrom(p1_);
  T.TransFrom(p2_);
}

void ERSegment2D::transformTo(const ERTransfo2D& T) {
  T.TransTo(p1_);
  T.TransTo(p2_);
}

void ERSegment3D::transformFrom(const ERPmSimilitude3D& T) {
  p1_ = T >> p1_;
  p2_ = T >> p2_;
}

void ERSegment3D::transformTo(const ERPmSimilitude3D& T) {
  p1_ = T << p1_;
  p2_ = T << p2_;
}

t_SmartPtr<EREntity3DWF> ERSegment2D::get3DEquiv(const ERPmIsometrie3D& frame) const {
  return t_SmartPtr<EREntity3DWF>(new ERSegment3D(frame >> p1_.castToPoint3D(Coord3D::Z, 0.0),
                                                  frame >> p2_.castToPoint3D(Coord3D::Z, 0.0)));
}

t_SmartPtr<EREntity2DWF> ERSegment3D::get2DEntProjectedOn(const ERPmIsometrie3D& frame) const {
  return t_SmartPtr<EREntity2DWF>(new ERSegment2D((frame << p1_).castToPoint2D(Coord3D::Z),
                                                  (frame << p2_).castToPoint2D(Coord3D::Z)));
}
