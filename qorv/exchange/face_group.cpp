#include "qorv/exchange/face_group.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>

QORV_DEFINE_CLASS(ERFaceGroup);
QORV_DEFINE_COPYABLE(ERFaceGroup);

ERFaceGroup::ERFaceGroup(const ERFaceGroup& o)
    : ERSurface(o), ERAnyBoundedSurface(o), faces_(o.faces_), v0_(o.v0_), v1_(o.v1_), box_(o.box_) {
  // Each thread searches its own copy: the faces keep search caches.
  for (Member& m : faces_)
    if (auto* c = ERAnyBoundedSurface::castdown(m.s->getCopy())) m.s = c;
}

ERFaceGroup& ERFaceGroup::operator=(const ERFaceGroup& o) {
  if (this != &o) {
    ERFaceGroup copy(o);
    ERAnyBoundedSurface::operator=(o);
    faces_ = std::move(copy.faces_);
    v0_ = o.v0_, v1_ = o.v1_, box_ = o.box_;
  }
  return *this;
}

int ERFaceGroup::add(const t_SmartPtr<ERAnyBoundedSurface>& face, bool flip) {
  if (!face) return 0;
  const double u0 = face->udeb(), u1 = face->ufin(), v0 = face->vdeb(), v1 = face->vfin();
  if (!(std::isfinite(u0) && std::isfinite(u1) && std::isfinite(v0) && std::isfinite(v1)) ||
      u1 < u0 || v1 < v0)
    return 0;
  Member m;
  m.s = face, m.flip = flip, m.u0 = u0, m.u1 = u1, m.width = u1 - u0;
  m.start = faces_.empty() ? 0.0 : faces_.back().start + faces_.back().width + 1.0;
  if (faces_.empty()) {
    v0_ = v0, v1_ = v1;
  } else {
    v0_ = std::min(v0_, v0), v1_ = std::max(v1_, v1);
  }
  faces_.push_back(m);
  box_.Update(face->getBox());
  CleanUpTemporaries(-1);
  return 1;
}

int ERFaceGroup::locate(double u, double v, ERPoint2D& faceUV) const {
  if (faces_.empty()) return -1;
  int k = 0;
  for (int i = 1; i < count(); ++i)
    if (u >= faces_[i].start - 0.5) k = i;
  const Member& m = faces_[k];
  const double t = u - m.start;
  faceUV = ERPoint2D(m.flip ? m.u1 - t : m.u0 + t, v);
  return k;
}

ERInfoPoint3DSurf ERFaceGroup::PtCur(double u, double v) const {
  ERPoint2D f;
  const int k = locate(u, v, f);
  if (k < 0) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ERInfoPoint3DSurf r(ERPoint2D(u, v), ERInfoPoint3DSurf::Order2{});
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r.set(i, j, nan, nan, nan);
    return r;
  }
  const ERInfoPoint3DSurf in = faces_[k].s->PtCur(f.x(), f.y());
  ERInfoPoint3DSurf out(ERPoint2D(u, v), ERInfoPoint3DSurf::Order2{});
  // d/du of the group is -d/du of a flipped face: odd powers of u change sign.
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const ERVector3D d = in.partial(i, j);
      const double s = faces_[k].flip && (i % 2) ? -1.0 : 1.0;
      out.set(i, j, s * d.x(), s * d.y(), s * d.z());
    }
  return out;
}

double ERFaceGroup::nearest(const ERPoint3D& p, ERPoint2D& uv, int& single) const {
  double best = std::numeric_limits<double>::quiet_NaN();
  for (const Member& m : faces_) {
    // A face whose box cannot beat the best distance is not searched.
    if (best == best) {
      const ERMinimax3D b = m.s->getBox();
      const ERPoint3D lo = b.MinPoint(), hi = b.MaxPoint();
      const double dx = std::max({lo.x() - p.x(), 0.0, p.x() - hi.x()});
      const double dy = std::max({lo.y() - p.y(), 0.0, p.y() - hi.y()});
      const double dz = std::max({lo.z() - p.z(), 0.0, p.z() - hi.z()});
      if (dx * dx + dy * dy + dz * dz >= best * best) continue;
    }
    ERPoint2D g;
    int s = 1;
    const double d = m.s->nearest(p, g, s);
    if (!(d == d) || (best == best && d >= best)) continue;
    best = d, single = s;
    uv = ERPoint2D(m.start + (m.flip ? m.u1 - g.x() : g.x() - m.u0), g.y());
  }
  return best;
}

ERPoint3D ERFaceGroup::project_inbound(const ERPoint3D& p) const {
  ERPoint2D uv;
  const double d = nearest(p, uv);
  return d == d ? (*this)(uv.x(), uv.y()) : p;
}

EREntity::DISTMINRES ERFaceGroup::SignedMinimalDistance(const ERPoint3D& p, double& dist) const {
  ERPoint2D uv;
  int single = 1;
  const double d = nearest(p, uv, single);
  if (!(d == d)) return DISTMIN_NONE;
  dist = d;
  return DISTMIN_UNSIGNED;
}

int ERFaceGroup::ProjectionNormale(const ERPoint3D& p, double, ERPoint2D& uv, int) const {
  ERPoint2D g;
  const double d = nearest(p, g);
  if (!(d == d)) return 0;
  uv = g;
  return 1;
}

void ERFaceGroup::CleanUpTemporaries(int level) {
  ERAnyBoundedSurface::CleanUpTemporaries(level);
  for (Member& m : faces_) m.s->CleanUpTemporaries(level);
}

double ERFaceGroup::upperEstimateInU() const {
  double e = 0;
  for (const Member& m : faces_) e = std::max(e, m.s->upperEstimateInU());
  return e;
}

double ERFaceGroup::upperEstimateInV() const {
  double e = 0;
  for (const Member& m : faces_) e = std::max(e, m.s->upperEstimateInV());
  return e;
}

void ERFaceGroup::printOn(std::ostream& os) const {
  os << "FACE GROUP : " << faces_.size() << " faces\n";
  for (const Member& m : faces_) {
    os << (m.flip ? " flipped " : " ");
    m.s->printOn(os);
  }
}
