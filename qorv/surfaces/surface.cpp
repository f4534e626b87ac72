#include "qorv/surfaces/surface.h"

#include <algorithm>
#include <cmath>
#include <ostream>

using namespace qorv;

QORV_DEFINE_ABSTRACT_CLASS(ERSurface);

namespace {

bool isZeroVector(const ERVector3D& v) {
  return std::fabs(v.x()) <= 1e-11 && std::fabs(v.y()) <= 1e-11 && std::fabs(v.z()) <= 1e-11;
}

}  // namespace

ERInfoPoint3DSurf::ERInfoPoint3DSurf(const ERPoint2D& uv, const ERPoint3D (&d)[9])
    : uv_(uv), inline_(true) {
  for (int k = 0; k < 9; ++k)
    e_[3 * k] = d[k].x(), e_[3 * k + 1] = d[k].y(), e_[3 * k + 2] = d[k].z();
}

const QuickAlgebra::ERMatrix<ERPoint3D>& ERInfoPoint3DSurf::derivatives() const {
  if (inline_ && !built_) {
    QuickAlgebra::ERMatrix<ERPoint3D> m(3, 3);
    for (int k = 0; k < 9; ++k) m.data()[k] = ERPoint3D(e_[3 * k], e_[3 * k + 1], e_[3 * k + 2]);
    d_ = std::move(m);
    built_ = true;
  }
  return d_;
}

ERPoint3D ERInfoPoint3DSurf::matrixAt(int k) const {
  if (k < 0 || k >= d_.length()) return ERPoint3D();
  return d_.data()[k];
}

ERVector3D ERInfoPoint3DSurf::matrixPartial(int i, int j) const {
  if (i < 0 || j < 0 || i >= d_.cols() || j >= d_.rows()) return ERVector3D();
  return ERVector3D(d_.data()[j * d_.cols() + i]);
}

namespace {

// The two fundamental forms at a record, built from the derivatives divided by sigma (a power
// of two near the larger first derivative): the scaled surface's curvatures are sigma times
// the true ones. regular is false where there is no tangent plane.
struct Forms {
  double E, F, G, L, M, N, a, sigma;
  bool regular;
};

Forms formsOf(const ERVector3D& Su, const ERVector3D& Sv, const ERVector3D& Suu,
              const ERVector3D& Suv, const ERVector3D& Svv) {
  Forms f{};
  const double big = std::max(Su.norme(), Sv.norme());
  f.sigma = big > 0.0 && std::isfinite(big) ? std::ldexp(1.0, std::ilogb(big)) : 1.0;
  const double s = 1.0 / f.sigma;
  const ERVector3D su = Su * s, sv = Sv * s;
  const ERVector3D n = su ^ sv;
  const double w = n.norme();
  f.E = su * su, f.F = su * sv, f.G = sv * sv;
  f.a = w * w;
  f.regular = w > 0.0 && std::isfinite(w) && f.a > 0.0;
  if (!f.regular) return f;
  const ERVector3D u = n / w;
  f.L = (Suu * s) * u, f.M = (Suv * s) * u, f.N = (Svv * s) * u;
  f.regular = std::isfinite(f.L) && std::isfinite(f.M) && std::isfinite(f.N);
  return f;
}

// The second form in the orthonormal tangent frame e1 = Su / |Su|, e2 = the unit part of Sv
// across Su (Sv and Su swap roles when Su is the shorter): p = II(e1, e1), q = II(e1, e2),
// r = II(e2, e2), and the map from frame coordinates back to (du, dv).
struct Frame2 {
  double p, q, r;
  double du1, dv1, du2, dv2;  // (du, dv) of e1 and of e2
};

Frame2 orthonormalFrame(const Forms& f) {
  const bool swap = f.G > f.E;
  const double E = swap ? f.G : f.E, F = f.F, L = swap ? f.N : f.L, M = f.M, N = swap ? f.L : f.N;
  const double sE = std::sqrt(E), sa = std::sqrt(f.a);
  Frame2 o{};
  o.p = L / E;
  o.q = (E * M - F * L) / (E * sa);
  o.r = (E * E * N - 2.0 * E * F * M + F * F * L) / (E * f.a);
  // e1 = S1 / sE, e2 = (E S2 - F S1) / (sE sa) in the (possibly swapped) parameters.
  double a1 = 1.0 / sE, b1 = 0.0, a2 = -F / (sE * sa), b2 = sE / sa;
  if (swap) std::swap(a1, b1), std::swap(a2, b2);
  o.du1 = a1, o.dv1 = b1, o.du2 = a2, o.dv2 = b2;
  return o;
}

Forms formsOf(const ERInfoPoint3DSurf& info) {
  return formsOf(info.partial(1, 0), info.partial(0, 1), info.partial(2, 0), info.partial(1, 1),
                 info.partial(0, 2));
}

}  // namespace

double ERInfoPoint3DSurf::courbureGaussienne() const {
  const Forms f = formsOf(*this);
  if (!f.regular) return 0.0;
  return (f.L * f.N - f.M * f.M) / f.a / f.sigma / f.sigma;
}

double ERInfoPoint3DSurf::courbureMoyenne() const {
  const Forms f = formsOf(*this);
  if (!f.regular) return 0.0;
  return (f.E * f.N - 2.0 * f.F * f.M + f.G * f.L) * 0.5 / f.a / f.sigma;
}

double ERInfoPoint3DSurf::courbureNormale(double du, double dv) const {
  const Forms f = formsOf(*this);
  const double m = std::max(std::fabs(du), std::fabs(dv));
  if (!f.regular || !(m > 0.0) || !std::isfinite(m)) return 0.0;
  // The quotient does not change with the direction's length: bring it near 1 first.
  const int e = -std::ilogb(m);
  du = std::ldexp(du, e), dv = std::ldexp(dv, e);
  const double den = f.E * du * du + 2.0 * f.F * du * dv + f.G * dv * dv;
  if (!(den > 0.0)) return 0.0;
  return (f.L * du * du + 2.0 * f.M * du * dv + f.N * dv * dv) / den / f.sigma;
}

void ERInfoPoint3DSurf::courburesExtremes(double& k1, double& k2) const {
  const Forms f = formsOf(*this);
  if (!f.regular) {
    k1 = k2 = 0.0;
    return;
  }
  const Frame2 o = orthonormalFrame(f);
  const double h = 0.5 * (o.p + o.r), root = std::hypot(0.5 * (o.p - o.r), o.q);
  k1 = (h + root) / f.sigma;
  k2 = (h - root) / f.sigma;
}

void ERInfoPoint3DSurf::directionPrincipale(ERVector2D& d1, ERVector2D& d2) const {
  const Forms f = formsOf(*this);
  if (!f.regular) {
    d1 = d2 = ERVector2D(0.0, 0.0);
    return;
  }
  const Frame2 o = orthonormalFrame(f);
  // The eigenvector of [[p, q], [q, r]] for the larger eigenvalue is at angle t.
  const double t = 0.5 * std::atan2(2.0 * o.q, o.p - o.r);
  const double c = std::cos(t), s = std::sin(t);
  // Frame coordinates (c, s) and (-s, c) back to parameters; sigma scales them back too.
  d1 = ERVector2D((c * o.du1 + s * o.du2) / f.sigma, (c * o.dv1 + s * o.dv2) / f.sigma);
  d2 = ERVector2D((-s * o.du1 + c * o.du2) / f.sigma, (-s * o.dv1 + c * o.dv2) / f.sigma);
}

void ERInfoPoint3DSurf::transformFrom(const ERPmIsometrie3D& T) {
  if (inline_) {
    built_ = false;  // the copy goes stale
    for (int k = 0; k < 9; ++k) {
      double* e = e_ + 3 * k;
      const ERPoint3D p =
          k == 0 ? T >> ERPoint3D(e[0], e[1], e[2]) : ERPoint3D(T >> ERVector3D(e[0], e[1], e[2]));
      e[0] = p.x(), e[1] = p.y(), e[2] = p.z();
    }
    return;
  }
  const int n = d_.length();
  if (n == 0) return;
  ERPoint3D* d = d_.data();  // private copy first
  d[0] = T >> d[0];
  for (int k = 1; k < n; ++k) d[k] = ERPoint3D(T >> ERVector3D(d[k]));
}

void ERInfoPoint3DSurf::transformTo(const ERPmIsometrie3D& T) {
  if (inline_) {
    built_ = false;
    for (int k = 0; k < 9; ++k) {
      double* e = e_ + 3 * k;
      const ERPoint3D p =
          k == 0 ? T << ERPoint3D(e[0], e[1], e[2]) : ERPoint3D(T << ERVector3D(e[0], e[1], e[2]));
      e[0] = p.x(), e[1] = p.y(), e[2] = p.z();
    }
    return;
  }
  const int n = d_.length();
  if (n == 0) return;
  ERPoint3D* d = d_.data();
  d[0] = T << d[0];
  for (int k = 1; k < n; ++k) d[k] = ERPoint3D(T << ERVector3D(d[k]));
}

namespace {

// v brought by a power of two to a largest component in [1, 2): its squares and the cross
// products of two such vectors neither overflow nor underflow, and the direction is exact.
ERVector3D powerScaled(const ERVector3D& v) {
  const double m = std::max({std::fabs(v.x()), std::fabs(v.y()), std::fabs(v.z())});
  if (!(m > 0.0) || !std::isfinite(m)) return v;
  return v * std::ldexp(1.0, -std::ilogb(m));
}

}  // namespace

ERVector3D ERInfoPoint3DSurf::normale() const {
  const ERVector3D su = tangenteU();
  const ERVector3D sv = tangenteV();
  if (isZeroVector(su)) {
    if (isZeroVector(sv)) return ERVector3D(0.0, 0.0, 0.0);
    return powerScaled(partial(0, 2)).normalize();
  }
  if (isZeroVector(sv)) return powerScaled(partial(2, 0)).normalize();
  return powerScaled(powerScaled(su) ^ powerScaled(sv)).normalize();
}

void ERInfoPoint3DSurf::printOn(std::ostream& os) const {
  os << "- Parametre     :  u = " << uv_ << '\n';
  os << "- Point courant :  P = " << point() << '\n';
}

std::ostream& operator<<(std::ostream& os, const ERInfoPoint3DSurf& info) {
  info.printOn(os);
  return os;
}

void ERSurface::SignedDistances(const double* xyz, std::size_t n, double* out) const {
  for (std::size_t i = 0; i < n; ++i)
    SignedMinimalDistance(ERPoint3D(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]), out[i]);
}
