#include "qorv/surfaces/entity_normaliser.h"

#include <cmath>

#include "qorv/foundation/numerics.h"
#include "qorv/foundation/transfo3d_kinds.h"

using namespace qorv;

namespace {

using qorv::detail::finite;
using qorv::detail::kTwoPi;

// Half a turn about the local X axis: (x, y, z) -> (x, -y, -z).
ERPmIsometrie3D halfTurnAboutX() {
  const double m[9] = {1, 0, 0, 0, -1, 0, 0, 0, -1};
  return ERPmIsometrie3D(_ERRotation3D(QuickAlgebra::ERMatrix<double>(3, 3, m)));
}

// The limits of an angle about Z carried into the canonical frame.
class Shift : public EREntityNormaliser {
 public:
  static ERLimites apply(ERLimites l, const ERPmIsometrie3D& in, double angle) {
    if (!in.isDirect()) l = ERLimites(-l.end(), -l.start());  // clockwise about Z, kept ordered
    IncrementAndFormatAngularLimits(l, angle);
    return l;
  }
  static void apply(double& a1, double& a2, const ERPmIsometrie3D& in, double angle) {
    if (!in.isDirect()) a1 = -a1, a2 = -a2;
    IncrementAndFormatAngles(a1, a2, angle);
  }
};

}  // namespace

int EREntityNormaliser::ComputeNormalizationParameters(const ERPmIsometrie3D& in,
                                                       ERPmIsometrie3D& out, double& angle) {
  const ERVector3D z = in.getVector(Coord3D::Z), xin = in.getVector(Coord3D::X);
  angle = 0.0;
  if (!finite(z) || !(z.norme2() > 0.0)) {
    out = in;
    return 1;
  }
  out = ERChgRepere3D(z, in.origine());
  const ERVector3D xout = out.getVector(Coord3D::X);
  angle = anglePI(xin, xout);
  if (z * (xout ^ xin) < 0.0) angle = -angle;
  if (!std::isfinite(angle)) angle = 0.0;
  return 1;
}

void EREntityNormaliser::IncrementAndFormatAngles(double& a1, double& a2, double delta) {
  if (a1 > kTwoPi || a2 > kTwoPi) a1 -= kTwoPi, a2 -= kTwoPi;
  a1 += delta, a2 += delta;
  if (delta > 0.0 && (a1 > kTwoPi || a2 > kTwoPi)) a1 -= kTwoPi, a2 -= kTwoPi;
  if ((delta < 0.0 && a1 < -kTwoPi) || a2 < -kTwoPi) a1 += kTwoPi, a2 += kTwoPi;
}

void EREntityNormaliser::IncrementAndFormatAngularLimits(ERLimites& lim, double delta) {
  double a1 = lim.start(), a2 = lim.end();
  IncrementAndFormatAngles(a1, a2, delta);
  lim.set(a1, a2);
}

ERArc3D EREntityNormaliser::Normalise(const ERArc3D& arc) {
  const ERPmIsometrie3D in = arc.getRepere();
  ERPmIsometrie3D out;
  double angle = 0.0;
  ComputeNormalizationParameters(in, out, angle);
  double a1 = arc.udeb(), a2 = arc.ufin();
  Shift::apply(a1, a2, in, angle);
  // The plane centre carried into the new frame (it stays the origin's in the usual case).
  const ERPoint3D c = out << arc.center();
  return ERArc3D(out, ERCircle2D(ERPoint2D(c.x(), c.y()), arc.radius()), a1, a2);
}

ERArcEllipse3D EREntityNormaliser::Normalise(const ERArcEllipse3D& arc) {
  const ERPmIsometrie3D in = arc.getRepere();
  ERPmIsometrie3D out;
  double angle = 0.0;
  ComputeNormalizationParameters(in, out, angle);
  const EREllipse2D& e = arc.Ellipse2D();
  auto carried = [&](const ERPoint2D& p) {
    const ERPoint3D q = out << (in >> ERPoint3D(p.x(), p.y(), 0.0));
    return ERPoint2D(q.x(), q.y());
  };
  double a1 = arc.udeb(), a2 = arc.ufin();
  if (!in.isDirect()) a1 = -a1, a2 = -a2;  // clockwise about Z
  return ERArcEllipse3D(
      out, EREllipse2D(carried(e.getFocus1()), carried(e.getFocus2()), e.getBigAxe()), a1, a2);
}

ERBoundedCylinder EREntityNormaliser::Normalise(const ERBoundedCylinder& s) {
  ERPmIsometrie3D out;
  double angle = 0.0;
  ComputeNormalizationParameters(s.getMatrix(), out, angle);
  ERBoundedCylinder c(out, 1.0, s.radius(), 0.0, kTwoPi);
  c.setBound(s.getBoundU(), Shift::apply(s.getBoundV(), s.getMatrix(), angle));
  return c;
}

ERBoundedCone EREntityNormaliser::Normalise(const ERBoundedCone& s) {
  ERPmIsometrie3D out;
  double angle = 0.0;
  ComputeNormalizationParameters(s.getMatrix(), out, angle);
  ERBoundedCone c(out, s.demiAngle(), s.NUdeb(), s.NUfin());
  const ERLimites nv = Shift::apply(ERLimites(s.NVdeb(), s.NVfin()), s.getMatrix(), angle);
  c.setLimits(ERLimites(s.NUdeb(), s.NUfin()), nv, s.getBoundU(),
              Shift::apply(s.getBoundV(), s.getMatrix(), angle));
  return c;
}

ERBoundedSphere EREntityNormaliser::Normalise(const ERBoundedSphere& s) {
  ERPmIsometrie3D out;
  double angle = 0.0;
  ComputeNormalizationParameters(s.getMatrix(), out, angle);
  const ERLimites nu = Shift::apply(ERLimites(s.NUdeb(), s.NUfin()), s.getMatrix(), angle);
  ERBoundedSphere c(out, s.radius(), nu, ERLimites(s.NVdeb(), s.NVfin()));
  c.setBound(Shift::apply(s.getBoundU(), s.getMatrix(), angle), s.getBoundV());
  return c;
}

ERBoundedTorus EREntityNormaliser::Normalise(const ERBoundedTorus& s) {
  ERPmIsometrie3D out;
  double angle = 0.0;
  ComputeNormalizationParameters(s.getMatrix(), out, angle);
  const ERLimites nu = Shift::apply(ERLimites(s.NUdeb(), s.NUfin()), s.getMatrix(), angle);
  ERBoundedTorus c(out, s.radius(), s.small_radius(), nu, ERLimites(s.NVdeb(), s.NVfin()));
  c.setBound(Shift::apply(s.getBoundU(), s.getMatrix(), angle), s.getBoundV());
  return c;
}

void EREntityNormaliser::Flip(ERArc3D& arc) {
  const ERPmIsometrie3D in = arc.getRepere();
  const ERPoint3D c = arc.center();
  // The frame moved to the centre, then turned over about its X axis.
  const ERPmIsometrie3D centred = ERPmIsometrie3D(_ERTranslation3D(c)) * in.get_rotation_matrix();
  const double a1 = arc.udeb(), a2 = arc.ufin(), r = arc.radius();
  arc = ERArc3D(centred * halfTurnAboutX(), ERCircle2D(ERPoint2D(0.0, 0.0), r), -a1, -a2);
}

void EREntityNormaliser::Flip(ERBoundedCylinder& s) {
  // (x, y, z) -> (x, -y, -z): S(u, v) is S'(-u, -v).
  auto neg = [](double a, double b) { return ERLimites(-b, -a); };
  s.setMatrix(s.getMatrix() * halfTurnAboutX());
  s.setLimits(neg(s.NUdeb(), s.NUfin()), neg(s.NVdeb(), s.NVfin()), neg(s.udeb(), s.ufin()),
              neg(s.vdeb(), s.vfin()));
}

namespace {
ERPoint2D mirrored(const ERPoint2D& p) { return ERPoint2D(p.x(), -p.y()); }
}  // namespace

void EREntityNormaliser::Flip(ERRectangle3D& r) {
  ERRectangle2D shape = r.shape();
  QuickAlgebra::ERVec<ERPoint2D> corners(shape.points().length());
  for (int i = 0; i < corners.length(); ++i) corners[i] = mirrored(shape.points()[i]);
  shape.points(corners);
  r = ERRectangle3D(shape, r.getRepere() * halfTurnAboutX());
}

void EREntityNormaliser::Flip(ERRoundedSlot3D& r) {
  const ERRoundedSlot2D& s = r.shape();
  r = ERRoundedSlot3D(ERRoundedSlot2D(mirrored(s.center1()), mirrored(s.center2()), s.radius()),
                      r.getRepere() * halfTurnAboutX());
}
