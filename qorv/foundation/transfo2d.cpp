#include "qorv/foundation/transfo2d.h"

#include <cmath>
#include <iomanip>
#include <ostream>

#include "qorv/foundation/numerics.h"
#include "qorv/persistence/file.h"

using namespace qorv;

QORV_DEFINE_CLASS(ERTransfo2D);

namespace {
using qorv::detail::kDegreesPerRadian;

// A pole moves as its Cartesian point and keeps its weight.
template <class Map>
void mapPole(ERPole2DH& h, Map map) {
  const double w = h.w();
  ERPoint2D p = h.castToPoint();
  map(p);
  h = ERPole2DH(p.x() * w, p.y() * w, w);
}

}  // namespace

ERTransfo2D::ERTransfo2D(double k, const ERPoint2D& c)
    : a11_(k), a22_(k), tx_((1.0 - k) * c.x()), ty_((1.0 - k) * c.y()) {}

ERTransfo2D::ERTransfo2D(ERVector2D d, const ERPoint2D& t) : tx_(t.x()), ty_(t.y()) {
  d.normalize();
  a11_ = d.x(), a12_ = -d.y();
  a21_ = d.y(), a22_ = d.x();
}

ERTransfo2D::ERTransfo2D(Coord2D axis) {
  if (axis == Coord2D::X) {
    a22_ = -1.0;
  } else if (axis == Coord2D::Y) {
    a11_ = -1.0;
  } else {
    a11_ = a22_ = -1.0;
  }
}

void ERTransfo2D::TransFrom(ERPole2DH& h) const {
  mapPole(h, [this](ERPoint2D& p) { TransFrom(p); });
}

void ERTransfo2D::TransFrom(QuickAlgebra::ERVec<ERPoint2D>& points) const {
  if (points.isEmpty()) return;
  for (ERPoint2D& p : points) TransFrom(p);
}

void ERTransfo2D::TransFrom(QuickAlgebra::ERVec<ERPole2DH>& poles) const {
  if (poles.isEmpty()) return;
  for (ERPole2DH& h : poles) TransFrom(h);
}

void ERTransfo2D::TransTo(ERPoint2D& p) const {
  const double d = det();
  const double x = p.x() - tx_, y = p.y() - ty_;
  p.set((a22_ * x - a12_ * y) / d, (a11_ * y - a21_ * x) / d);
}

void ERTransfo2D::TransTo(ERVector2D& v) const {
  const double d = det();
  const double x = v.x(), y = v.y();
  v.set((a22_ * x - a12_ * y) / d, (a11_ * y - a21_ * x) / d);
}

void ERTransfo2D::TransTo(ERPole2DH& h) const {
  mapPole(h, [this](ERPoint2D& p) { TransTo(p); });
}

void ERTransfo2D::TransTo(QuickAlgebra::ERVec<ERPoint2D>& points) const {
  if (points.isEmpty()) return;
  for (ERPoint2D& p : points) TransTo(p);
}

void ERTransfo2D::TransTo(QuickAlgebra::ERVec<ERPole2DH>& poles) const {
  if (poles.isEmpty()) return;
  for (ERPole2DH& h : poles) TransTo(h);
}

double ERTransfo2D::angle() const { return std::atan2(-a12_, a11_); }

// sqrt|det M| with M scaled by its largest element first: a map of ratio 1e200 has a
// determinant past the doubles, not its ratio.
double ERTransfo2D::factHomo() const {
  const double m = std::fmax(std::fmax(std::fabs(a11_), std::fabs(a12_)),
                             std::fmax(std::fabs(a21_), std::fabs(a22_)));
  if (!(m > 0.0) || !std::isfinite(m)) return std::sqrt(std::fabs(det()));
  const double b11 = a11_ / m, b12 = a12_ / m, b21 = a21_ / m, b22 = a22_ / m;
  return m * std::sqrt(std::fabs(b11 * b22 - b12 * b21));
}

void ERTransfo2D::Decompose(ERVector2D& t, double& k, int& direct, double& a) const {
  t = ERVector2D(tx_, ty_);
  k = factHomo();
  direct = isDirect();
  a = angle();
}

QORV_DEFINE_COPYABLE(ERTransfo2D);

void ERTransfo2D::printOn(std::ostream& os) const {
  const double a = angle();
  os << "Transfo2D definie par :  T*H*Sym*R :" << '\n';
  os << "    Rotation d'angle  :                  :  " << a << "  (" << a * kDegreesPerRadian << ")"
     << '\n';
  os << "    Symetrie par rapport a l'axe 'Ox' ?  :  " << (det() > 0.0 ? "Non" : "Oui") << '\n';
  os << "    Homothetie de rapport                :  " << factHomo() << '\n';
  os << "    Translation de vecteur               :  " << ERVector2D(tx_, ty_) << '\n';
  os << "    Matrice de transfo                   :  " << '\n';
  os << "    [  " << std::setw(8) << a11_ << " , " << std::setw(8) << a12_ << " | " << std::setw(8)
     << tx_ << " ] " << '\n';
  os << "    [  " << std::setw(8) << a21_ << " , " << std::setw(8) << a22_ << " | " << std::setw(8)
     << ty_ << " ] " << '\n';
}

void ERTransfo2D::saveGuts(ERFile& f) const {
  ERObject::saveGuts(f);
  const double v[6] = {a11_, a12_, a21_, a22_, tx_, ty_};
  f.Write(v, 6);
}

void ERTransfo2D::restoreGuts(ERFile& f) {
  ERObject::restoreGuts(f);
  double v[6];
  if (!f.Read(v, 6)) return;
  a11_ = v[0], a12_ = v[1], a21_ = v[2], a22_ = v[3], tx_ = v[4], ty_ = v[5];
}

std::uint32_t ERTransfo2D::binaryStoreSize() const { return ERObject::binaryStoreSize() + 48; }

ERTransfo2D qorv::rotation(ERRadian a) {
  const double c = std::cos(a), s = std::sin(a);
  return ERTransfo2D(c, -s, s, c, 0.0, 0.0);
}

ERTransfo2D qorv::Scaling(double k) { return ERTransfo2D(k, 0.0, 0.0, k, 0.0, 0.0); }

ERTransfo2D qorv::Symmetry(const ERVector2D& v) {
  // The signed direction angle: the unsigned one would reflect (1, -1) across y = x.
  const double a = 2.0 * std::atan2(v.y(), v.x());
  const double c = std::cos(a), s = std::sin(a);
  return ERTransfo2D(c, s, s, -c, 0.0, 0.0);
}

ERTransfo2D operator*(const ERTransfo2D& a, const ERTransfo2D& b) {
  return ERTransfo2D(a.a11() * b.a11() + a.a12() * b.a21(), a.a11() * b.a12() + a.a12() * b.a22(),
                     a.a21() * b.a11() + a.a22() * b.a21(), a.a21() * b.a12() + a.a22() * b.a22(),
                     a.a11() * b.tx() + a.a12() * b.ty() + a.tx(),
                     a.a21() * b.tx() + a.a22() * b.ty() + a.ty());
}

ERTransfo2D operator~(const ERTransfo2D& a) {
  const double d = a.a11() * a.a22() - a.a12() * a.a21();
  const double i11 = a.a22() / d, i12 = -a.a12() / d;
  const double i21 = -a.a21() / d, i22 = a.a11() / d;
  return ERTransfo2D(i11, i12, i21, i22, -(i11 * a.tx() + i12 * a.ty()),
                     -(i21 * a.tx() + i22 * a.ty()));
}
