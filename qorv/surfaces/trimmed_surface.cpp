#include "qorv/surfaces/trimmed_surface.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include "qorv/curves/lines.h"
#include "qorv/curves/polylines.h"
#include "qorv/foundation/numerics.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/measurement/mesh_builder.h"
#include "qorv/persistence/file.h"
#include "qorv/support/val_vector.h"
#include "qorv/surfaces/revolution_surface.h"

using namespace qorv;

QORV_DEFINE_CLASS(ERSurfaceBoundary);
QORV_DEFINE_CLASS(ERTrimmedSurface);
QORV_DEFINE_COPYABLE(ERSurfaceBoundary);
QORV_DEFINE_COPYABLE(ERTrimmedSurface);

namespace {

using qorv::detail::finite;
using qorv::detail::kNaN;
using qorv::detail::maxAbs;

t_SmartPtr<ERFiniteEntity2DWF> copyOf(const ERFiniteEntity2DWF& c) {
  ERObject* o = c.getCopy();
  if (o == nullptr) return {};
  if (!o->isKindOf(ERFiniteEntity2DWF::desc())) {
    t_SmartPtr<ERObject> drop(o);
    return {};
  }
  return ERFiniteEntity2DWF::castdown(o);
}

const QuickAlgebra::ERVec<ERPoint2D>& emptyPolyline2() {
  static const QuickAlgebra::ERVec<ERPoint2D> empty;
  return empty;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ERSurfaceBoundary

ERSurfaceBoundary::ERSurfaceBoundary(const ERSurfaceBoundary& o)
    : ERObject(o),
      base_(o.base_),
      curve_(o.curve_),
      side_(o.side_),
      status_(o.status_),
      poly2Valid_(o.poly2Valid_),
      poly2Tol_(o.poly2Tol_),
      poly2_(o.poly2_),
      poly3Valid_(o.poly3Valid_),
      poly3_(o.poly3_),
      poly3Tol_(o.poly3Tol_) {
  if (o.curve_) curve_ = copyOf(*o.curve_);
}

ERSurfaceBoundary& ERSurfaceBoundary::operator=(const ERSurfaceBoundary& o) {
  if (this == &o) return *this;
  ERObject::operator=(o);
  base_ = o.base_;
  curve_ = o.curve_ ? copyOf(*o.curve_) : t_SmartPtr<ERFiniteEntity2DWF>();
  side_ = o.side_, status_ = o.status_;
  poly2Valid_ = o.poly2Valid_, poly2Tol_ = o.poly2Tol_, poly2_ = o.poly2_;
  poly3Valid_ = o.poly3Valid_, poly3_ = o.poly3_, poly3Tol_ = o.poly3Tol_;
  return *this;
}

int ERSurfaceBoundary::closed(const ERFiniteEntity2DWF& c) { return c.isClosed(0.001) != 0; }

ERSurfaceBoundary::ERSurfaceBoundary(const ERFiniteEntity2DWF& curve, Side side)
    : curve_(copyOf(curve)), side_(side), status_(20) {
  if (!curve_ || !closed(*curve_)) status_ |= 1;
}

ERSurfaceBoundary::ERSurfaceBoundary(ERFiniteEntity2DWF* curve, Side side)
    : curve_(curve), side_(side), status_(20) {
  if (!curve_ || !closed(*curve_)) status_ |= 1;
}

int ERSurfaceBoundary::setBoundary(const ERFiniteEntity2DWF& curve) {
  if (!closed(curve)) return 0;
  t_SmartPtr<ERFiniteEntity2DWF> c = copyOf(curve);
  if (!c) return 0;
  curve_ = c;
  status_ &= ~1;
  invalidate();
  return 1;
}

int ERSurfaceBoundary::setBoundary(ERFiniteEntity2DWF* curve) {
  if (curve == nullptr || !closed(*curve)) return 0;
  curve_ = curve;
  status_ &= ~1;
  invalidate();
  return 1;
}

ERSurfaceBoundary::Side ERSurfaceBoundary::setSide(Side s) {
  const Side old = side_;
  side_ = s;
  return old;
}

void ERSurfaceBoundary::setBaseSurface(ERAnyBoundedSurface* base) {
  base_ = base;
  invalidate();
}

double ERSurfaceBoundary::defaultTolerance() const {
  if (!curve_) return 1e-9;
  const ERMinimax2D b = curve_->getBox();
  const double d = std::hypot(b.xlength(), b.ylength());
  return std::isfinite(d) && d > 0 ? 1e-6 * d : 1e-9;
}

const QuickAlgebra::ERVec<ERPoint2D>& ERSurfaceBoundary::getBound2DasPolyline(double tol) const {
  if (!curve_) return emptyPolyline2();
  // A tolerance of -1, zero or negative, or NaN asks for the default (a zero one would split
  // chords down to the parameter floor).
  if (!(tol > 0)) tol = defaultTolerance();
  if (poly2Valid_ && poly2Tol_ <= tol) return poly2_;
  poly2_ = curve_->approxime(ERLimites(curve_->udeb(), curve_->ufin()), tol);
  poly2Tol_ = tol;
  poly2Valid_ = 1;
  return poly2_;
}

void ERSurfaceBoundary::smash(QuickAlgebra::ERVec<ERPoint3D>& pts3,
                              QuickAlgebra::ERVec<ERPoint2D>& pts2, double tol) const {
  pts2 = getBound2DasPolyline(tol);
  const int n = base_ != nullptr ? pts2.length() : 0;
  QuickAlgebra::ERVec<ERPoint3D> out(n);
  for (int i = 0; i < n; ++i) out[i] = (*base_)(pts2[i].x(), pts2[i].y());
  pts3 = out;
}

const QuickAlgebra::ERVec<ERPoint3D>& ERSurfaceBoundary::smash(double tol) const {
  if (!(tol > 0)) tol = defaultTolerance();
  if (poly3Valid_ && poly3Tol_ <= tol) return poly3_;
  QuickAlgebra::ERVec<ERPoint2D> pts2;
  smash(poly3_, pts2, tol);
  poly3Tol_ = tol;
  poly3Valid_ = base_ != nullptr ? 1 : 0;
  return poly3_;
}

ERMinimax2D ERSurfaceBoundary::getBox() const { return curve_ ? curve_->getBox() : ERMinimax2D(); }

void ERSurfaceBoundary::scale(double k) {
  (void)k;
  poly3Valid_ = 0;
}

void ERSurfaceBoundary::translate(const ERPoint3D& t) {
  if (!poly3Valid_) return;
  QuickAlgebra::ERVec<ERPoint3D> moved(poly3_.length());
  for (int i = 0; i < poly3_.length(); ++i) moved[i] = poly3_[i] + ERVector3D(t);
  poly3_ = moved;
}

void ERSurfaceBoundary::transformFrom(const ERPmSimilitude3D& T) {
  if (!poly3Valid_) return;
  QuickAlgebra::ERVec<ERPoint3D> moved(poly3_.length());
  for (int i = 0; i < poly3_.length(); ++i) moved[i] = T >> poly3_[i];
  poly3_ = moved;
}

void ERSurfaceBoundary::transformTo(const ERPmSimilitude3D& T) {
  if (!poly3Valid_) return;
  QuickAlgebra::ERVec<ERPoint3D> moved(poly3_.length());
  for (int i = 0; i < poly3_.length(); ++i) moved[i] = T << poly3_[i];
  poly3_ = moved;
}

namespace {

// The image of c through m: exact for every class, through the NURBS form when m is not a
// similitude (an arc's image is then an elliptic one); a curve without one (none of the library's
// loop kinds) through its polyline at 1e-9 of its size. Null for an empty or non-finite curve.
t_SmartPtr<ERFiniteEntity2DWF> mappedCurve(const ERFiniteEntity2DWF& c, const ERTransfo2D& m) {
  const bool similitude = m.a12() == 0 && m.a21() == 0 && std::fabs(m.a11()) == std::fabs(m.a22());
  const bool affine = c.isKindOf(ERSegment2D::desc()) || c.isKindOf(ERPolyline2D::desc()) ||
                      c.isKindOf(ERCpoleRep2D::desc());
  t_SmartPtr<ERFiniteEntity2DWF> out;
  if (similitude || affine) {
    out = copyOf(c);
  } else {
    const ERFiniteEntity2DWF::NurbsPtr n = c.ConvertToNurbs();
    if (n) {
      out = t_SmartPtr<ERFiniteEntity2DWF>(n.get());
    } else {  // no exact form: its polyline at 1e-9 of its size, which the region reads anyway
      const ERMinimax2D b = c.getBox();
      const double size = std::hypot(b.xlength(), b.ylength());
      if (std::isfinite(size) && size > 0)
        out = new ERPolyline2D(c.approxime(ERLimites(c.udeb(), c.ufin()), 1e-9 * size));
    }
  }
  if (out) out->transformFrom(m);
  return out;
}

}  // namespace

void ERSurfaceBoundary::mapParameters(const ERTransfo2D& m) {
  if (!curve_) return;
  if (t_SmartPtr<ERFiniteEntity2DWF> c = mappedCurve(*curve_, m)) curve_ = c;
  invalidate();
}

void ERSurfaceBoundary::printOn(std::ostream& os) const {
  os << "Surface Boundary : " << '\n';
  os << "A Pointer to a " << ERFiniteEntity2DWF::desc()->getName();
  if (curve_) {
    os << "( " << curve_->className() << " ) with " << curve_->references() << " references"
       << '\n';
    curve_->printOn(os);
  } else {
    os << " (NULL) " << '\n';
  }
  os << '\n';
}

void ERSurfaceBoundary::saveGuts(ERFile& f) const {
  ERObject::saveGuts(f);
  f.Write(static_cast<long>(base_ != nullptr ? base_->getObjectID() : 0));
  f.Write(static_cast<long>(curve_ ? 0 : 1));
  if (curve_) curve_->recursiveSaveOn(f);
  f.Write(poly2Valid_), f.Write(poly3Valid_);
  f.Write(poly3Tol_), f.Write(poly2Tol_);
  poly2_.saveGuts(f);
  poly3_.saveGuts(f);
  f.Write(static_cast<int>(side_)), f.Write(status_);
}

void ERSurfaceBoundary::restoreGuts(ERFile& f) {
  ERObject::restoreGuts(f);
  long baseId = 0, flag = -1;
  if (!f.Read(baseId) || !f.Read(flag) || (flag != 0 && flag != 1)) return;
  t_SmartPtr<ERFiniteEntity2DWF> curve;
  if (flag == 0) {
    t_SmartPtr<ERObject> o = recursiveRestoreFrom(f);
    if (!o || !o->isKindOf(ERFiniteEntity2DWF::desc())) return;
    curve = ERFiniteEntity2DWF::castdown(o.get());
  }
  int v2 = 0, v3 = 0, side = 0, status = 0;
  double t3 = 0, t2 = 0;
  if (!f.Read(v2) || !f.Read(v3) || !detail::restoreDoubles(f, &t3, 1) ||
      !detail::restoreDoubles(f, &t2, 1))
    return;
  QuickAlgebra::ERVec<ERPoint2D> p2;
  QuickAlgebra::ERVec<ERPoint3D> p3;
  if (!p2.restoreGuts(f) || !p3.restoreGuts(f)) return;
  if (!f.Read(side) || !f.Read(status)) return;
  curve_ = curve;
  poly2Valid_ = v2, poly3Valid_ = v3, poly3Tol_ = t3, poly2Tol_ = t2;
  poly2_ = p2, poly3_ = p3;
  side_ = static_cast<Side>(side);
  status_ = status;
}

std::uint32_t ERSurfaceBoundary::binaryStoreSize() const {
  return ERObject::binaryStoreSize() + 36 + 4 + (curve_ ? curve_->recursiveStoreSize() : 0) +
         poly2_.binaryStoreSize() + poly3_.binaryStoreSize();
}

// ---------------------------------------------------------------------------------------------
// ERTrimmedSurface: construction and loops

ERTrimmedSurface::ERTrimmedSurface(const ERTrimmedSurface& o)
    : ERSurface(o), ERAnyBoundedSurface(o) {
  copyFrom(o);
}

ERTrimmedSurface& ERTrimmedSurface::operator=(const ERTrimmedSurface& o) {
  if (this == &o) return *this;
  ERAnyBoundedSurface::operator=(o);
  copyFrom(o);
  return *this;
}

void ERTrimmedSurface::copyFrom(const ERTrimmedSurface& o) {
  dropCaches();
  base_ = o.base_
              ? t_SmartPtr<ERAnyBoundedSurface>(ERAnyBoundedSurface::castdown(o.base_->getCopy()))
              : t_SmartPtr<ERAnyBoundedSurface>();
  box_ = o.box_;
  firstIsOuter_ = o.firstIsOuter_;
  bounds_.clear();
  for (const t_SmartPtr<ERSurfaceBoundary>& b : o.bounds_) {
    t_SmartPtr<ERSurfaceBoundary> c;
    if (b) {
      c = new ERSurfaceBoundary(*b);
      c->setBaseSurface(base_.get());
    }
    bounds_.append(c);
  }
}

ERTrimmedSurface::~ERTrimmedSurface() { dropRegion(); }

ERTrimmedSurface::ERTrimmedSurface(const ERAnyBoundedSurface& base)
    : base_(ERAnyBoundedSurface::castdown(base.getCopy())) {
  calculateBoundingBox();
}

ERTrimmedSurface::ERTrimmedSurface(ERAnyBoundedSurface* base) : base_(base) {
  calculateBoundingBox();
}

ERTrimmedSurface::ERTrimmedSurface(const ERPmIsometrie3D& T, ERFiniteEntity2DWF* outer) {
  ERMinimax2D b = outer != nullptr ? outer->getBox() : ERMinimax2D();
  if (b.invalid()) b = ERMinimax2D(0, 0, 0, 0);
  b.Inflate(1.0);
  QuickAlgebra::ERMatrix<ERPoint3D> poles(2, 2);
  poles[0] = T >> ERPoint3D(b.xmin(), b.ymin(), 0);
  poles[1] = T >> ERPoint3D(b.xmax(), b.ymin(), 0);
  poles[2] = T >> ERPoint3D(b.xmin(), b.ymax(), 0);
  poles[3] = T >> ERPoint3D(b.xmax(), b.ymax(), 0);
  base_ = new ERSpoleBezier3D(poles, ERLimites(b.xmin(), b.xmax()), ERLimites(b.ymin(), b.ymax()));
  calculateBoundingBox();
  addBound(outer, ERSurfaceBoundary::OUTER);
}

void ERTrimmedSurface::dropRegion() const {
  delete region_;
  region_ = nullptr;
}

int ERTrimmedSurface::addBound(const ERFiniteEntity2DWF& curve, ERSurfaceBoundary::Side side) {
  t_SmartPtr<ERFiniteEntity2DWF> c = copyOf(curve);
  if (!c) return 0;
  return addBound(c.get(), side);
}

int ERTrimmedSurface::addBound(ERFiniteEntity2DWF* curve, ERSurfaceBoundary::Side side) {
  if (curve == nullptr) return 0;
  t_SmartPtr<ERSurfaceBoundary> b(new ERSurfaceBoundary(curve, side));
  return addBoundary(b.get());
}

int ERTrimmedSurface::addBoundary(ERSurfaceBoundary* b) {
  if (b == nullptr) return 0;
  const ERSurfaceBoundary::Side side = b->getSide();
  if (side != ERSurfaceBoundary::NOT_CLASSIFIED && side != ERSurfaceBoundary::INNER &&
      side != ERSurfaceBoundary::OUTER)
    return 0;
  if (side != ERSurfaceBoundary::INNER && firstIsOuter_) return 0;  // a second outer loop
  dropCaches();
  b->setBaseSurface(base_.get());
  if (side == ERSurfaceBoundary::INNER) {
    bounds_.append(b);
    return 1;
  }
  b->setSide(ERSurfaceBoundary::OUTER);
  bounds_.prepend(b);
  firstIsOuter_ = 1;
  calculateBoundingBox();
  return 1;
}

void ERTrimmedSurface::calculateBoundingBox() {
  if (firstIsOuter_ && bounds_.entries() > 0 && bounds_.first()) {
    box_ = bounds_.first()->getBox();
  } else if (base_) {
    box_ = ERMinimax2D(ERPoint2D(base_->udeb(), base_->vdeb()),
                       ERPoint2D(base_->ufin(), base_->vfin()));
  } else {
    box_ = ERMinimax2D();
  }
  CleanUpTemporaries(-1);
}

t_SmartPtr<ERFiniteEntity2DWF> ERTrimmedSurface::getOutBnd() const {
  if (!firstIsOuter_ || bounds_.entries() == 0) return {};
  const t_SmartPtr<ERSurfaceBoundary>& b = bounds_.first();
  if (!b || b->getSide() != ERSurfaceBoundary::OUTER) return {};
  return b->getBound2D();
}

t_SmartPtr<ERFiniteEntity2DWF> ERTrimmedSurface::getInBnd(int i) const {
  const int k = i + (firstIsOuter_ ? 1 : 0);
  if (i < 0 || k >= bounds_.entries()) return {};
  const t_SmartPtr<ERSurfaceBoundary>& b = bounds_.at(k);
  if (!b || b->getSide() != ERSurfaceBoundary::INNER) return {};
  return b->getBound2D();
}

ERRegion2D* ERTrimmedSurface::GetRegion() const {
  if (region_ != nullptr) return region_;
  region_ = new ERRegion2D(std::max(1, bounds_.entries()), firstIsOuter_);
  for (const t_SmartPtr<ERSurfaceBoundary>& b : bounds_)
    region_->Add(b ? b->getBound2DasPolyline(-1.0) : QuickAlgebra::ERVec<ERPoint2D>());
  return region_;
}

int ERTrimmedSurface::isInBound(const ERPoint2D& uv) const {
  if (!base_) return 0;
  const double u0 = base_->udeb(), u1 = base_->ufin(), v0 = base_->vdeb(), v1 = base_->vfin();
  const double u = uv.x(), v = uv.y();
  if (!(std::min(u0, u1) <= u && u <= std::max(u0, u1))) return 0;
  if (!(std::min(v0, v1) <= v && v <= std::max(v0, v1))) return 0;
  int loop = -1;
  return GetRegion()->CheckPoint(uv, loop) == POSCONTOURS_OUTSIDE ? 0 : 1;
}

ER_MINMAX_POSITION_POLYGONE ERTrimmedSurface::PositionFenetre(ERMinimax2D& box) const {
  if (bounds_.entries() == 0) return ER_MINMAX_POLYGONE_TOUCHING;
  return GetRegion()->IsInDomain(box);
}

// ---------------------------------------------------------------------------------------------
// The base's interface

ERInfoPoint3DSurf ERTrimmedSurface::PtCur(double u, double v) const {
  if (!base_) {
    QuickAlgebra::ERMatrix<ERPoint3D> m(3, 3, ERPoint3D(kNaN, kNaN, kNaN));
    return ERInfoPoint3DSurf(ERPoint2D(u, v), std::move(m));
  }
  return base_->PtCur(u, v);
}

ERPoint3D ERTrimmedSurface::operator()(double u, double v) const {
  return base_ ? (*base_)(u, v) : ERPoint3D(kNaN, kNaN, kNaN);
}

ERInfoPoint3DSurf ERTrimmedSurface::randomPoint() const {
  return base_ ? base_->randomPoint() : PtCur(0, 0);
}

ERMinimax3D ERTrimmedSurface::getBox() const { return base_ ? base_->getBox() : ERMinimax3D(); }

t_SmartPtr<ERFiniteEntity3DWF> ERTrimmedSurface::getEntityIsoU(double u) const {
  return base_ ? base_->getEntityIsoU(u) : t_SmartPtr<ERFiniteEntity3DWF>();
}

t_SmartPtr<ERFiniteEntity3DWF> ERTrimmedSurface::getEntityIsoV(double v) const {
  return base_ ? base_->getEntityIsoV(v) : t_SmartPtr<ERFiniteEntity3DWF>();
}

namespace {

int outsidePointTrimmedSurface(ERInfoPoint3DSurf* info, void* ctx) {
  return !static_cast<const ERTrimmedSurface*>(ctx)->isInBound(info->parameter());
}

// The records of from, those inside the face when inside != 0, appended to res.
void keep(ERRaySurfaceResult& from, ERRaySurfaceResult& res, const ERTrimmedSurface* s,
          int inside) {
  if (inside) from.filtre(outsidePointTrimmedSurface, const_cast<ERTrimmedSurface*>(s));
  for (int i = 0; i < from.entries(); ++i) res.AddPointSolution(*from.at(i));
}

}  // namespace

void ERTrimmedSurface::ProjectPoint(const ERPoint3D& p, ERRaySurfaceResult& res, int inside) const {
  if (!base_) return;
  ERRaySurfaceResult found;
  base_->ProjectPoint(p, found, 0);
  keep(found, res, this, inside);
}

void ERTrimmedSurface::ProjectPoint(const ERPoint3D& p, const ERVector3D& d,
                                    ERRaySurfaceResult& res, int inside) const {
  if (!base_) return;
  ERRaySurfaceResult found;
  base_->ProjectPoint(p, d, found, 0);
  keep(found, res, this, inside);
}

int ERTrimmedSurface::ProjectionNormale(const ERPoint3D& p, double tol, ERPoint2D& uv,
                                        int inside) const {
  if (!base_ || !base_->ProjectionNormale(p, tol, uv, inside)) return 0;
  return inside && !isInBound(uv) ? 0 : 1;
}

int ERTrimmedSurface::ReajustProjection(ERPoint3D& p, ERPoint2D& uv, int inside) const {
  if (!base_ || !base_->ReajustProjection(p, uv, inside)) return 0;
  return inside ? isInBound(uv) : 1;
}

double ERTrimmedSurface::upperEstimateInU() const {
  return base_ ? base_->upperEstimateInU() : 0.0;
}
double ERTrimmedSurface::upperEstimateInV() const {
  return base_ ? base_->upperEstimateInV() : 0.0;
}

int ERTrimmedSurface::SplitInU(t_SmartPtr<ERAnyBoundedSurface>& low,
                               t_SmartPtr<ERAnyBoundedSurface>& high, double u) const {
  (void)low, (void)high, (void)u;
  return 0;
}

int ERTrimmedSurface::SplitInV(t_SmartPtr<ERAnyBoundedSurface>& low,
                               t_SmartPtr<ERAnyBoundedSurface>& high, double v) const {
  (void)low, (void)high, (void)v;
  return 0;
}

void ERTrimmedSurface::reverse() { ERAnyBoundedSurface::reverse(); }

ERTransfo2D ERTrimmedSurface::parameterMapOfScale(double k) const {
  return base_ ? base_->parameterMapOfScale(k) : ERTransfo2D();
}

ERTransfo2D ERTrimmedSurface::parameterMapOfMove(const ERPmSimilitude3D& T, bool forward) const {
  return base_ ? base_->parameterMapOfMove(T, forward) : ERTransfo2D();
}

void ERTrimmedSurface::followBase(const ERTransfo2D& m) {
  if (m.a11() == 1 && m.a12() == 0 && m.a21() == 0 && m.a22() == 1 && m.tx() == 0 && m.ty() == 0)
    return;
  dropCaches();
  for (const t_SmartPtr<ERSurfaceBoundary>& b : bounds_)
    if (b) b->mapParameters(m);
  calculateBoundingBox();
}

void ERTrimmedSurface::scale(double k) {
  const ERTransfo2D m = parameterMapOfScale(k);
  ERAnyBoundedSurface::scale(k);
  near_ = NearCache();
  if (base_) base_->scale(k);
  for (const t_SmartPtr<ERSurfaceBoundary>& b : bounds_)
    if (b) b->scale(k);
  followBase(m);
}

void ERTrimmedSurface::translate(const ERPoint3D& t) {
  ERAnyBoundedSurface::translate(t);
  near_ = NearCache();
  if (base_) base_->translate(t);
  for (const t_SmartPtr<ERSurfaceBoundary>& b : bounds_)
    if (b) b->translate(t);
}

void ERTrimmedSurface::transformFrom(const ERPmSimilitude3D& T) {
  const ERTransfo2D m = parameterMapOfMove(T, true);
  ERAnyBoundedSurface::transformFrom(T);
  near_ = NearCache();
  if (base_) base_->transformFrom(T);
  for (const t_SmartPtr<ERSurfaceBoundary>& b : bounds_)
    if (b) b->transformFrom(T);
  followBase(m);
}

void ERTrimmedSurface::transformTo(const ERPmSimilitude3D& T) {
  const ERTransfo2D m = parameterMapOfMove(T, false);
  ERAnyBoundedSurface::transformTo(T);
  near_ = NearCache();
  if (base_) base_->transformTo(T);
  for (const t_SmartPtr<ERSurfaceBoundary>& b : bounds_)
    if (b) b->transformTo(T);
  followBase(m);
}

// ---------------------------------------------------------------------------------------------
// The nearest point of the face

namespace {

struct Candidate {
  double g = DBL_MAX;  // squared distance
  ERPoint2D uv;
  bool exact = false;  // solved, not a sample
  bool interior = false;
};

// Newton from uv towards a foot of p on s within [ul, uh] x [vl, vh]; every vector scaled by
// sigma (the equations scale by sigma^2 and keep their roots, their products stay finite).
ERPoint2D newtonFoot(const ERAnyBoundedSurface& s, const ERPoint3D& p, ERPoint2D uv, double ul,
                     double uh, double vl, double vh, double sigma) {
  double u = uv.x(), v = uv.y();
  for (int it = 0; it < 40; ++it) {
    const ERInfoPoint3DSurf e = s.PtCur(u, v);
    const auto& m = e.derivatives();
    if (m.length() < 9) break;
    const ERVector3D r = (e.point() - p) * sigma;
    const ERVector3D Su = ERVector3D(m[1]) * sigma, Sv = ERVector3D(m[3]) * sigma;
    const ERVector3D Suu = ERVector3D(m[2]) * sigma, Suv = ERVector3D(m[4]) * sigma,
                     Svv = ERVector3D(m[6]) * sigma;
    const double f0 = r * Su, f1 = r * Sv;
    const double a = Su * Su + r * Suu, b = Su * Sv + r * Suv, c = Sv * Sv + r * Svv;
    const double det = a * c - b * b;
    if (!(det != 0) || !std::isfinite(det)) break;
    const double nu = std::clamp(u - (c * f0 - b * f1) / det, ul, uh);
    const double nv = std::clamp(v - (a * f1 - b * f0) / det, vl, vh);
    if (nu == u && nv == v) break;
    u = nu, v = nv;
  }
  return ERPoint2D(u, v);
}

}  // namespace

void ERTrimmedSurface::pathAt(int k, double t, ERPoint2D& q, ERVector2D& dq) const {
  const int loops = bounds_.entries();
  if (k < loops) {
    const ERInfoPoint2D e = bounds_.at(k)->getBound2D()->PtCur(t);
    q = e.point(), dq = e.tangente();
    return;
  }
  const ERAnyBoundedSurface& S = *base_;
  const int edge = k - loops;
  const bool inU = edge < 2;
  const double fixed = edge == 0   ? std::min(S.vdeb(), S.vfin())
                       : edge == 1 ? std::max(S.vdeb(), S.vfin())
                       : edge == 2 ? std::min(S.udeb(), S.ufin())
                                   : std::max(S.udeb(), S.ufin());
  q = inU ? ERPoint2D(t, fixed) : ERPoint2D(fixed, t);
  dq = inU ? ERVector2D(1, 0) : ERVector2D(0, 1);
}

int ERTrimmedSurface::onFace(const ERPoint2D& q, int own) const {
  if (own < 0) return isInBound(q);
  const ERAnyBoundedSurface& S = *base_;
  if (!(std::min(S.udeb(), S.ufin()) <= q.x() && q.x() <= std::max(S.udeb(), S.ufin()) &&
        std::min(S.vdeb(), S.vfin()) <= q.y() && q.y() <= std::max(S.vdeb(), S.vfin())))
    return 0;
  // A point of a loop counts as on the face when the region keeps it or when only its own
  // loop excludes it (the rounding of a point on an edge puts it on either side).
  int by = -1;
  return GetRegion()->CheckPoint(q, by) != POSCONTOURS_OUTSIDE || by == own;
}

namespace {
constexpr int kGrid = 48;
constexpr int kLoopSamples = 512;
constexpr int kEdgeSamples = 128;
}  // namespace

const ERTrimmedSurface::NearCache& ERTrimmedSurface::nearCache() const {
  if (near_.valid || !base_) return near_;
  const ERAnyBoundedSurface& S = *base_;
  const double bu0 = std::min(S.udeb(), S.ufin()), bu1 = std::max(S.udeb(), S.ufin());
  const double bv0 = std::min(S.vdeb(), S.vfin()), bv1 = std::max(S.vdeb(), S.vfin());
  // The face's parameters lie in its box cut by the base's limits.
  double ul = bu0, uh = bu1, vl = bv0, vh = bv1;
  if (!box_.invalid()) {
    ul = std::max(ul, box_.xmin()), uh = std::min(uh, box_.xmax());
    vl = std::max(vl, box_.ymin()), vh = std::min(vh, box_.ymax());
  }
  near_ = NearCache();
  if (!(ul <= uh && vl <= vh)) return near_;
  near_.ul = ul, near_.uh = uh, near_.vl = vl, near_.vh = vh;
  for (int j = 0; j <= kGrid; ++j)
    for (int i = 0; i <= kGrid; ++i) {
      const ERPoint2D q(ERLimites(ul, uh)(double(i) / kGrid), ERLimites(vl, vh)(double(j) / kGrid));
      near_.nodes.push_back(q);
      near_.points.push_back(S(q.x(), q.y()));
      near_.extent = std::max(near_.extent,
                              maxAbs(ERPoint3D() + (near_.points.back() - near_.points.front())));
    }
  const int loops = bounds_.entries();
  for (int k = 0; k < loops + 4; ++k) {
    PathSamples path;
    path.own = k < loops ? k : -1;
    const t_SmartPtr<ERSurfaceBoundary>* b = k < loops ? &bounds_.at(k) : nullptr;
    if (b != nullptr && (!*b || !(*b)->getBound2D())) {
      near_.paths.push_back(path);
      continue;
    }
    const double t0 = b != nullptr ? (*b)->getBound2D()->udeb() : (k - loops < 2 ? bu0 : bv0);
    const double t1 = b != nullptr ? (*b)->getBound2D()->ufin() : (k - loops < 2 ? bu1 : bv1);
    const int n = b != nullptr ? kLoopSamples : kEdgeSamples;
    // The loop's corners are candidates of their own.
    QuickAlgebra::ERVec<double> corners;
    if (b != nullptr) (*b)->getBound2D()->GetDiscontinuities(1, corners);
    for (const auto& [t, corner] : qorv::detail::cornerSampledParameters(t0, t1, n, corners)) {
      ERPoint2D q;
      ERVector2D dq;
      pathAt(k, t, q, dq);
      const ERInfoPoint3DSurf e = S.PtCur(q.x(), q.y());
      path.t.push_back(t);
      path.uv.push_back(q);
      path.s.push_back(e.point());
      path.ds.push_back(e.tangenteU() * dq.x() + e.tangenteV() * dq.y());
      path.in.push_back(static_cast<unsigned char>(onFace(q, path.own)));
      path.corner.push_back(static_cast<unsigned char>(corner));
    }
    near_.paths.push_back(path);
  }
  near_.valid = true;
  return near_;
}

void ERTrimmedSurface::dropCaches() const {
  dropRegion();
  near_ = NearCache();
}

void ERTrimmedSurface::CleanUpTemporaries(int level) {
  ERAnyBoundedSurface::CleanUpTemporaries(level);
  near_ = NearCache();
}

double ERTrimmedSurface::nearest(const ERPoint3D& p, ERPoint2D& uv) const {
  if (!base_ || !finite(p)) return kNaN;
  const NearCache& cache = nearCache();
  if (!cache.valid) return kNaN;
  const ERAnyBoundedSurface& S = *base_;
  const double bu0 = std::min(S.udeb(), S.ufin()), bu1 = std::max(S.udeb(), S.ufin());
  const double bv0 = std::min(S.vdeb(), S.vfin()), bv1 = std::max(S.vdeb(), S.vfin());

  // Squared distances in units of sigma, a power of two that brings the distances about p to
  // about 1: they neither overflow at 1e300 nor underflow at 1e-300.
  double ref = maxAbs(ERPoint3D() + (p - cache.points.front())) + cache.extent;
  const double sigma = ref > 0 && std::isfinite(ref) ? std::ldexp(1.0, -std::ilogb(ref)) : 1.0;
  auto sq = [&](const ERPoint3D& s) {
    const ERVector3D e = (s - p) * sigma;
    const double g = e * e;
    return std::isfinite(g) ? g : DBL_MAX;
  };
  std::vector<Candidate> cands;
  auto offer = [&](const ERPoint2D& q, bool exact, bool interior, bool ok) {
    if (!ok) return;
    Candidate c;
    c.g = sq(S(q.x(), q.y())), c.uv = q, c.exact = exact, c.interior = interior;
    cands.push_back(c);
  };

  // Interior: the base's own global nearest point, then Newton from the grid's minima.
  {
    ERPoint2D q;
    double d = base_->nearest(p, q);
    const bool global = std::isfinite(d);
    if (!global && S.ProjectionNormale(p, 1e300, q, 0)) d = 0;
    if (std::isfinite(d) && bu0 <= q.x() && q.x() <= bu1 && bv0 <= q.y() && q.y() <= bv1) {
      const bool inside = isInBound(q) != 0;
      // The base's global nearest point on the face is the face's: no other point of the face
      // can be nearer, so the search of the grid and the loops is not needed.
      if (global && inside) {
        uv = q;
        return std::sqrt(sq(S(q.x(), q.y()))) / sigma;
      }
      offer(q, true, true, inside);
    }
  }
  constexpr int G = kGrid;
  std::vector<double> grid(cache.points.size());
  for (std::size_t k = 0; k < grid.size(); ++k) grid[k] = sq(cache.points[k]);
  for (int j = 0; j <= G; ++j)
    for (int i = 0; i <= G; ++i) {
      const double g = grid[j * (G + 1) + i];
      bool minimum = true;
      for (int dj = -1; dj <= 1 && minimum; ++dj)
        for (int di = -1; di <= 1; ++di) {
          const int a = i + di, b = j + dj;
          if ((di == 0 && dj == 0) || a < 0 || b < 0 || a > G || b > G) continue;
          if (grid[b * (G + 1) + a] < g) {
            minimum = false;
            break;
          }
        }
      if (!minimum) continue;
      const ERPoint2D& node = cache.nodes[j * (G + 1) + i];
      offer(node, false, true, isInBound(node));
      const ERPoint2D q = newtonFoot(S, p, node, cache.ul, cache.uh, cache.vl, cache.vh, sigma);
      offer(q, true, true, isInBound(q));
    }

  // The boundary: each loop and each of the base's edges lifted onto the base, where it
  // bounds the face; the derivative of the squared distance along it solved where it turns
  // from falling to rising, the ends of its pieces on the face kept.
  for (std::size_t k = 0; k < cache.paths.size(); ++k) {
    const PathSamples& path = cache.paths[k];
    const int n = static_cast<int>(path.t.size()) - 1;
    if (n < 1) continue;
    struct Sample {
      double t, g, dg;
    };
    auto at = [&](double t) {
      ERPoint2D q;
      ERVector2D dq;
      pathAt(static_cast<int>(k), t, q, dq);
      const ERInfoPoint3DSurf e = S.PtCur(q.x(), q.y());
      const ERVector3D r = (e.point() - p) * sigma;
      Sample s{t, r * r, r * ((e.tangenteU() * dq.x() + e.tangenteV() * dq.y()) * sigma)};
      if (!std::isfinite(s.g)) s.g = DBL_MAX, s.dg = 0;
      return s;
    };
    auto uvAt = [&](double t) {
      ERPoint2D q;
      ERVector2D dq;
      pathAt(static_cast<int>(k), t, q, dq);
      return q;
    };
    std::vector<Sample> s(static_cast<std::size_t>(n + 1));
    for (int i = 0; i <= n; ++i) {
      const ERVector3D r = (path.s[i] - p) * sigma;
      s[i] = Sample{path.t[i], r * r, r * (path.ds[i] * sigma)};
      if (!std::isfinite(s[i].g)) s[i].g = DBL_MAX, s[i].dg = 0;
    }
    const double dir = path.t[n] >= path.t[0] ? 1.0 : -1.0;
    offer(path.uv[0], true, false, path.in[0]);
    offer(path.uv[n], true, false, path.in[n]);
    for (int i = 0; i < n; ++i) {
      if (path.corner[i]) offer(path.uv[i], true, false, path.in[i]);
      if (i > 0 && s[i].g <= s[i - 1].g && s[i].g <= s[i + 1].g)
        offer(path.uv[i], false, false, path.in[i]);
      if (path.in[i] != path.in[i + 1]) {
        // Where the path enters or leaves the face: a piece's end.
        double a = s[i].t, b = s[i + 1].t;
        const bool ain = path.in[i] != 0;
        for (int it = 0; it < 100; ++it) {
          const double m = 0.5 * (a + b);
          if (m == a || m == b) break;
          if ((onFace(uvAt(m), path.own) != 0) == ain) {
            a = m;
          } else {
            b = m;
          }
        }
        offer(uvAt(ain ? a : b), true, false, true);
        continue;
      }
      Sample lo = s[i], hi = s[i + 1];
      if (!path.in[i] || !(dir * lo.dg < 0 && dir * hi.dg > 0)) continue;
      qorv::detail::narrowSlopeBracket(
          lo, hi, dir, [](const Sample& x) { return x.t; }, at);
      offer(uvAt(lo.t), true, false, onFace(uvAt(lo.t), path.own));
      offer(uvAt(hi.t), true, false, onFace(uvAt(hi.t), path.own));
    }
  }

  if (cands.empty()) return kNaN;
  const Candidate* best = nullptr;
  for (const Candidate& c : cands)
    if (c.exact && (best == nullptr || c.g < best->g)) best = &c;
  // A sample displaces a solved point only when nearer by more than the rounding of the
  // squared distances, which is flat about a minimum.
  const double noise =
      64 * DBL_EPSILON * std::max({maxAbs(p), maxAbs(cache.points.front()), 1e-300}) * sigma;
  for (const Candidate& c : cands) {
    if (c.exact) continue;
    if (best == nullptr) {
      best = &c;
      continue;
    }
    const double margin = noise * (2 * std::sqrt(best->g) + noise);
    if (c.g < best->g - margin) best = &c;
  }
  uv = best->uv;
  return std::sqrt(best->g) / sigma;
}

ERPoint3D ERTrimmedSurface::project_inbound(const ERPoint3D& p) const {
  ERPoint2D uv;
  if (!std::isfinite(nearest(p, uv))) return p;
  return (*base_)(uv.x(), uv.y());
}

EREntity::DISTMINRES ERTrimmedSurface::SignedMinimalDistance(const ERPoint3D& p,
                                                             double& dist) const {
  ERPoint2D uv;
  const double d = nearest(p, uv);
  if (!std::isfinite(d)) return DISTMIN_NONE;
  const ERInfoPoint3DSurf e = base_->PtCur(uv.x(), uv.y());
  int degenerate = 0;
  const ERVector3D n = get_stable_normal(*base_, e, degenerate);
  const ERVector3D r = p - e.point();
  // A foot: p - S along the normal (the sine at most 0.001), or p on the face.
  const bool foot = r.norme() <= 4 * DBL_EPSILON * std::max(maxAbs(p), maxAbs(e.point())) ||
                    (r ^ n).norme() <= 1e-3 * r.norme();
  if (!foot) {
    dist = d;
    return DISTMIN_END_POINT;
  }
  dist = r * n < 0 ? -d : d;
  return DISTMIN_NORMAL;
}

// ---------------------------------------------------------------------------------------------
// Wireframes

int ERTrimmedSurface::extract_wireframe(double t, gmMeshDir dir, int n, gmProcessMesh& mesh) const {
  if (!base_ || !std::isfinite(t) || box_.invalid()) return 0;
  const ERAnyBoundedSurface& S = *base_;
  const double bu0 = std::min(S.udeb(), S.ufin()), bu1 = std::max(S.udeb(), S.ufin());
  const double bv0 = std::min(S.vdeb(), S.vfin()), bv1 = std::max(S.vdeb(), S.vfin());
  const bool inU = dir == gmMeshDirU;  // u = t fixed, v runs
  const double fixedLo = inU ? bu0 : bv0, fixedHi = inU ? bu1 : bv1;
  if (t < fixedLo || t > fixedHi) return 0;
  const double a = std::max(inU ? box_.ymin() : box_.xmin(), inU ? bv0 : bu0);
  const double b = std::min(inU ? box_.ymax() : box_.xmax(), inU ? bv1 : bu1);
  if (!(a <= b)) return 0;
  if (n < 2) n = 65;
  n = std::min(n, 1 << 16);
  QuickAlgebra::ERVec<ERPoint2D> line(n);
  for (int i = 0; i < n; ++i) {
    const double s = ERLimites(a, b)(double(i) / (n - 1));
    line[i] = inU ? ERPoint2D(t, s) : ERPoint2D(s, t);
  }
  ERTValVector<QuickAlgebra::ERVec<ERPoint2D>> pieces;
  if (bounds_.entries() == 0) {
    pieces.append(line);
  } else {
    GetRegion()->Intersect(line, pieces);
  }
  const double dev = mesh.chordal_deviation();
  for (int k = 0; k < pieces.entries(); ++k) {
    const QuickAlgebra::ERVec<ERPoint2D>& piece = pieces[k];
    std::vector<ERPoint3D> out;
    // Each chord split while its middle strays more than the deviation from it.
    auto refine = [&](auto&& self, const ERPoint2D& q0, const ERPoint2D& q1, const ERPoint3D& p0,
                      const ERPoint3D& p1, int depth) -> void {
      const ERPoint2D qm = milieu(q0, q1);
      const ERPoint3D pm = S(qm.x(), qm.y());
      if (depth < 12 && dev > 0 && distance(pm, milieu(p0, p1)) > dev) {
        self(self, q0, qm, p0, pm, depth + 1);
        self(self, qm, q1, pm, p1, depth + 1);
        return;
      }
      out.push_back(p1);
    };
    if (piece.length() < 2) continue;
    ERPoint3D prev = S(piece[0].x(), piece[0].y());
    out.push_back(prev);
    for (int i = 1; i < piece.length(); ++i) {
      const ERPoint3D next = S(piece[i].x(), piece[i].y());
      refine(refine, piece[i - 1], piece[i], prev, next, 0);
      prev = next;
    }
    QuickAlgebra::ERVec<ERPoint3D> poly(static_cast<int>(out.size()));
    for (int i = 0; i < poly.length(); ++i) poly[i] = out[static_cast<std::size_t>(i)];
    mesh.on_add_polyline(poly);
  }
  return pieces.entries();
}

void ERTrimmedSurface::extract_u_wireframe(gmProcessMesh& mesh) const {
  if (box_.invalid()) return;
  const int count = std::max(1, mesh.u_density());
  for (int i = 0; i <= count; ++i)
    extract_wireframe(ERLimites(udeb(), ufin())(double(i) / count), gmMeshDirU, 0, mesh);
}

void ERTrimmedSurface::extract_v_wireframe(gmProcessMesh& mesh) const {
  if (box_.invalid()) return;
  const int count = std::max(1, mesh.v_density());
  for (int i = 0; i <= count; ++i)
    extract_wireframe(ERLimites(vdeb(), vfin())(double(i) / count), gmMeshDirV, 0, mesh);
}

void ERTrimmedSurface::extract_wireframe(gmProcessMesh& mesh) const {
  extract_u_wireframe(mesh);
  extract_v_wireframe(mesh);
}

// ---------------------------------------------------------------------------------------------
// Object

void ERTrimmedSurface::printOn(std::ostream& os) const {
  os << "TRIMMED SURFACE :  " << '\n';
  if (base_) {
    os << " Base Surface ";
    base_->printOn(os);
  } else {
    os << "    No Base Surface ";
  }
  os << '\n';
  os << " Boundary box   : " << box_ << '\n';
  os << " 1st is Outer   : " << firstIsOuter_ << '\n';
  os << " The Boundaries : " << '\n';
  for (const t_SmartPtr<ERSurfaceBoundary>& b : bounds_)
    if (b) b->printOn(os);
}

void ERTrimmedSurface::saveGuts(ERFile& f) const {
  ERAnyBoundedSurface::saveGuts(f);
  f.Write(static_cast<long>(base_ ? 0 : 1));
  if (base_) base_->recursiveSaveOn(f);
  f.Write(firstIsOuter_);
  f.Write(box_.data(), 4u);
  bounds_.saveGuts(f);
}

void ERTrimmedSurface::restoreGuts(ERFile& f) {
  ERAnyBoundedSurface::restoreGuts(f);
  long flag = -1;
  if (!f.Read(flag) || (flag != 0 && flag != 1)) return;
  t_SmartPtr<ERAnyBoundedSurface> base;
  if (flag == 0) {
    t_SmartPtr<ERObject> o = recursiveRestoreFrom(f);
    if (!o || !o->isKindOf(ERAnyBoundedSurface::desc())) return;
    base = ERAnyBoundedSurface::castdown(o.get());
  }
  int first = 0;
  double box[4];
  if (!f.Read(first) || !detail::restoreDoubles(f, box, 4)) return;
  BoundList bounds;
  if (!bounds.restoreGuts(f)) return;
  dropCaches();
  base_ = base;
  firstIsOuter_ = first;
  box_ = ERMinimax2D(box[0], box[1], box[2], box[3]);
  bounds_ = std::move(bounds);
  for (const t_SmartPtr<ERSurfaceBoundary>& b : bounds_)
    if (b) b->setBaseSurface(base_.get());
  CleanUpTemporaries(-1);
}

std::uint32_t ERTrimmedSurface::binaryStoreSize() const {
  return ERAnyBoundedSurface::binaryStoreSize() + 4 + (base_ ? 4 : 0) + 4 + 32 +
         bounds_.binaryStoreSize();
}
