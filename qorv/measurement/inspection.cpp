#include "qorv/measurement/inspection.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>
#include <numbers>
#include <string_view>
#include <thread>

#include "qorv/foundation/numerics.h"
#include "qorv/foundation/trig.h"
#include "qorv/foundation/huge_pages.h"
#include "qorv/surfaces/bounded_surfaces.h"

using namespace qorv;

namespace {

using qorv::detail::finite;
using qorv::detail::kTwoPi;

// task(k) for every feature k < n, on up to threads threads taking the next feature each.
template <class Task>
void forEachFeature(std::size_t n, int threads, const Task& task) {
  std::atomic<std::size_t> next{0};
  auto loop = [&] {
    for (std::size_t k; (k = next.fetch_add(1)) < n;) task(k);
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < std::min<int>(threads, static_cast<int>(n)); ++t) pool.emplace_back(loop);
  loop();
  for (std::thread& th : pool) th.join();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Features

gmInspectionFeature::gmInspectionFeature(std::string id, Kind kind, const ERPmIsometrie3D& frame,
                                         double r1, double r2, double u0, double u1, double v0,
                                         double v1, Material material, double lower, double upper)
    : id_(std::move(id)),
      kind_(kind),
      frame_(frame),
      r1_(r1),
      r2_(r2),
      u0_(u0),
      u1_(u1),
      v0_(v0),
      v1_(v1),
      material_(material),
      lower_(lower),
      upper_(upper) {
  const double values[] = {r1, r2, u0, u1, v0, v1, lower, upper};
  for (double v : values)
    if (!std::isfinite(v)) problem_ = "a dimension, limit or tolerance is not a finite number";
  if (problem_.empty() && (u1 < u0 || v1 < v0)) problem_ = "a limit range ends before it starts";
  if (problem_.empty() && lower > upper) problem_ = "the tolerance band ends before it starts";
  const bool angular = kind != PLANE;
  if (problem_.empty() && angular && u1 - u0 > kTwoPi + 1e-12)
    problem_ = "an angle range exceeds one turn";
  if (problem_.empty()) {
    switch (kind) {
      case PLANE:
        break;
      case CYLINDER:
      case SPHERE:
        if (!(r1 > 0)) problem_ = "the radius must be positive";
        if (kind == SPHERE &&
            (v0 < -std::numbers::pi / 2 - 1e-12 || v1 > std::numbers::pi / 2 + 1e-12))
          problem_ = "latitudes must lie within [-90, 90] degrees";
        break;
      case CONE:
        if (!(r1 > 0 && r1 < std::numbers::pi / 2))
          problem_ = "the half-angle must lie in (0, 90) degrees";
        if (v0 < 0) problem_ = "distances from the apex must not be negative";
        break;
      case TORUS:
        if (!(r2 > 0 && r1 > r2))
          problem_ = "the tube radius must be positive and below the major radius";
        if (v1 - v0 > kTwoPi + 1e-12) problem_ = "the tube angle range exceeds one turn";
        break;
      case SURFACE:
        problem_ = "a surface feature needs its surface";
        break;
    }
  }
  if (kind == CONE) coneSin_ = std::sin(r1), coneCos_ = std::cos(r1);
  if (problem_.empty()) {
    computeBox();
    buildNominal();
  }
}

// The library's surface of the patch. Its parameters: the plane's, the sphere's and the torus's
// are the feature's; the cylinder's are (height, angle), the cone's (height along the axis,
// angle), the height being the distance from the apex times cos(half-angle).
void gmInspectionFeature::buildNominal() {
  const ERLimites U(u0_, u1_), V(v0_, v1_);
  auto placed = [this](auto* s) {
    map_ = &s->placementMap();
    return t_SmartPtr<ERAnyBoundedSurface>(s);
  };
  switch (kind_) {
    case PLANE:
      nominal_ = placed(new ERBoundedPlane(frame_, U, V));
      break;
    case CYLINDER: {
      ERBoundedCylinder* c = new ERBoundedCylinder(frame_, 1.0, r1_, ERRadian(u0_), ERRadian(u1_));
      c->setLimits(V, U, V, U);
      nominal_ = placed(c);
      break;
    }
    case CONE: {
      const double c = coneCos_;
      ERBoundedCone* k = new ERBoundedCone(frame_, ERRadian(r1_), v0_ * c, v1_ * c);
      const ERLimites H(v0_ * c, v1_ * c);
      k->setLimits(H, U, H, U);
      nominal_ = placed(k);
      break;
    }
    case SPHERE:
      nominal_ = placed(new ERBoundedSphere(frame_, r1_, U, V));
      break;
    case TORUS:
      nominal_ = placed(new ERBoundedTorus(frame_, r1_, r2_, U, V));
      break;
    case SURFACE:
      break;
  }
}

gmInspectionFeature::gmInspectionFeature(std::string id,
                                         const t_SmartPtr<ERAnyBoundedSurface>& surface,
                                         bool normalInward, double lower, double upper)
    : id_(std::move(id)),
      kind_(SURFACE),
      r1_(0),
      r2_(0),
      u0_(0),
      u1_(0),
      v0_(0),
      v1_(0),
      material_(normalInward ? OUTSIDE : INSIDE),
      lower_(lower),
      upper_(upper),
      surface_(surface) {
  if (!surface_) {
    problem_ = "no surface";
    return;
  }
  if (std::isnan(lower) || std::isnan(upper) || lower > upper)
    problem_ = "the tolerance band ends before it starts";
  u0_ = surface_->udeb(), u1_ = surface_->ufin(), v0_ = surface_->vdeb(), v1_ = surface_->vfin();
  if (!(std::isfinite(u0_) && std::isfinite(u1_) && std::isfinite(v0_) && std::isfinite(v1_)) ||
      u1_ < u0_ || v1_ < v0_)
    problem_ = "the surface's limits are not a finite rectangle";
  if (problem_.empty()) box_ = surface_->getBox();
}

gmInspectionFeature gmInspectionFeature::clone() const {
  gmInspectionFeature copy(*this);
  if (surface_) {
    if (ERAnyBoundedSurface* s = ERAnyBoundedSurface::castdown(surface_->getCopy()))
      copy.surface_ = s;
  }
  return copy;
}

const char* gmInspectionFeature::kindName(Kind k) {
  switch (k) {
    case PLANE:
      return "plane";
    case CYLINDER:
      return "cylinder";
    case CONE:
      return "cone";
    case SPHERE:
      return "sphere";
    case TORUS:
      return "torus";
    case SURFACE:
      return "surface";
  }
  return "?";
}

const char* gmInspectionFeature::label() const {
  if (kind_ != SURFACE) return kindName(kind_);
  static const struct {
    const char* cls;
    const char* label;
  } names[] = {{"ERSpoleNURBS3D", "nurbs"},       {"ERSpoleBezier3D", "bezier"},
               {"ERSpoleBezier3DR", "bezier"},    {"ERBoundedPlane", "plane"},
               {"ERBoundedCylinder", "cylinder"}, {"ERBoundedCone", "cone"},
               {"ERBoundedSphere", "sphere"},     {"ERBoundedTorus", "torus"},
               {"ERTrimmedSurface", "trimmed"},   {"ERSurOfRevolution", "revolution"},
               {"EROffsetSurface", "offset"},     {"ERFaceGroup", "faces"}};
  const char* cls = surface_ ? surface_->className() : "";
  for (const auto& n : names)
    if (std::string_view(cls) == n.cls) return n.label;
  return "surface";
}

ERPoint3D gmInspectionFeature::point(double u, double v, ERVector3D* outward) const {
  ERPoint3D q;
  ERVector3D n;
  if (kind_ == SURFACE) {
    const ERInfoPoint3DSurf info = surface_->PtCur(u, v);
    int degenerate = 0;
    n = get_stable_normal(*surface_, info, degenerate);
    if (material_ == OUTSIDE) n = -1.0 * n;
    if (outward != nullptr) *outward = n;
    return info.point();
  }
  switch (kind_) {
    case SURFACE:
      break;
    case PLANE:
      q = ERPoint3D(u, v, 0), n = ERVector3D(0, 0, 1);
      break;
    case CYLINDER: {
      double su, cu;
      qorv::sinCos(u, su, cu);
      q = ERPoint3D(r1_ * cu, r1_ * su, v);
      n = ERVector3D(cu, su, 0);
      break;
    }
    case CONE: {
      const double s = coneSin_, c = coneCos_;
      double su, cu;
      qorv::sinCos(u, su, cu);
      q = ERPoint3D(v * s * cu, v * s * su, v * c);
      n = ERVector3D(c * cu, c * su, -s);
      break;
    }
    case SPHERE:
    case TORUS: {
      double su, cu, sv, cv;
      qorv::sinCos(u, su, cu);
      qorv::sinCos(v, sv, cv);
      n = ERVector3D(cv * cu, cv * su, sv);
      const double w = r1_ + r2_ * cv;
      q = kind_ == SPHERE ? ERPoint3D(r1_ * n.x(), r1_ * n.y(), r1_ * n.z())
                          : ERPoint3D(w * cu, w * su, r2_ * sv);
      break;
    }
  }
  if (kind_ != PLANE && material_ == OUTSIDE) n = -1.0 * n;
  if (map_ != nullptr) {
    if (outward != nullptr) *outward = map_->world(n);
    return map_->world(q);
  }
  if (outward != nullptr) *outward = frame_ >> n;
  return frame_ >> q;
}

void gmInspectionFeature::computeBox() {
  // A grid of the patch, widened by what a chord between grid lines can miss.
  constexpr int kSteps = 32;
  box_ = ERMinimax3D();
  for (int i = 0; i <= kSteps; ++i)
    for (int j = 0; j <= kSteps; ++j)
      box_ += point(u0_ + (u1_ - u0_) * i / kSteps, v0_ + (v1_ - v0_) * j / kSteps);
  double margin = 0;
  const double du = (u1_ - u0_) / kSteps, dv = (v1_ - v0_) / kSteps;
  switch (kind_) {
    case PLANE:
    case SURFACE:
      break;
    case CYLINDER:
      margin = r1_ * (1 - std::cos(du / 2));
      break;
    case CONE:
      margin = v1_ * std::sin(r1_) * (1 - std::cos(du / 2));
      break;
    case SPHERE:
      margin = r1_ * (2 - std::cos(du / 2) - std::cos(dv / 2));
      break;
    case TORUS:
      margin = (r1_ + r2_) * (1 - std::cos(du / 2)) + r2_ * (1 - std::cos(dv / 2));
      break;
  }
  margin = margin * 1.01 + 1e-12 * (std::fabs(r1_) + std::fabs(r2_) + 1);
  const ERPoint3D lo = box_.MinPoint(), hi = box_.MaxPoint();
  box_ = ERMinimax3D(ERPoint3D(lo.x() - margin, lo.y() - margin, lo.z() - margin),
                     ERPoint3D(hi.x() + margin, hi.y() + margin, hi.z() + margin));
}

int gmInspectionFeature::foot(const ERPoint3D& p, ERPoint3D& foot, ERVector3D& outward) const {
  if (!problem_.empty() || !finite(p)) return 0;
  if (kind_ == SURFACE) return surfaceFoot(p, foot, outward);
  ERPoint2D uv;
  int single = 1;
  if (!nominal_ || !std::isfinite(nominal_->nearest(p, uv, single)) || !single) return 0;
  double u = uv.x(), v = uv.y();
  if (kind_ == CYLINDER) u = uv.y(), v = uv.x();
  if (kind_ == CONE) u = uv.y(), v = uv.x() / coneCos_;
  foot = point(u, v, &outward);
  return 1;
}

// The surface's foot when within the limits; else the nearest point of the limit curves, sampled
// and refined by golden section on the surface itself.
int gmInspectionFeature::surfaceFoot(const ERPoint3D& p, ERPoint3D& f, ERVector3D& n) const {
  // A surface with a global search of its own (pole surfaces, surfaces of revolution, trimmed
  // faces: their nearest point may lie on a loop, inside the limits) answers directly.
  ERPoint2D g;
  int single = 1;
  if (std::isfinite(surface_->nearest(p, g, single))) {
    // On an axis or at a centre every direction is as near: no single foot, as the kinds say.
    if (!single) return 0;
    f = point(g.x(), g.y(), &n);
    return n.norme() > 0;
  }
  // The reach of the search: from the point past the far side of the surface's box.
  const ERPoint3D lo = box_.MinPoint(), hi = box_.MaxPoint();
  const double reach = distance(lo, hi) + distance(p, ERPoint3D(std::clamp(p.x(), lo.x(), hi.x()),
                                                                std::clamp(p.y(), lo.y(), hi.y()),
                                                                std::clamp(p.z(), lo.z(), hi.z())));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  ERPoint2D uv(nan, nan);
  const int isFoot = surface_->ProjectionNormale(p, std::isfinite(reach) ? reach : 0.0, uv, 1);
  const bool within = uv.x() >= u0_ && uv.x() <= u1_ && uv.y() >= v0_ && uv.y() <= v1_;
  double bestU = 0, bestV = 0, best = HUGE_VAL;
  if (within) {
    // A surface that answers its nearest point even without a foot (an edge) has given it too.
    bestU = uv.x(), bestV = uv.y();
    best = distance2((*surface_)(bestU, bestV), p);
  }
  if (!(isFoot && within)) {
    auto at = [&](int edge, double t) {
      return edge < 2 ? ERPoint2D(edge == 0 ? u0_ : u1_, t) : ERPoint2D(t, edge == 2 ? v0_ : v1_);
    };
    for (int edge = 0; edge < 4; ++edge) {
      const double lo = edge < 2 ? v0_ : u0_, hi = edge < 2 ? v1_ : u1_;
      constexpr int kSamples = 48;
      double t0 = lo, d0 = HUGE_VAL;
      for (int i = 0; i <= kSamples; ++i) {
        const double t = lo + (hi - lo) * i / kSamples;
        const ERPoint2D q = at(edge, t);
        const double d = distance2((*surface_)(q.x(), q.y()), p);
        if (d < d0) d0 = d, t0 = t;
      }
      // Golden section around the best sample.
      double a = std::max(lo, t0 - (hi - lo) / kSamples),
             b = std::min(hi, t0 + (hi - lo) / kSamples);
      const double g = (std::sqrt(5.0) - 1) / 2;
      for (int it = 0; it < 80 && b - a > 1e-15 * (std::fabs(a) + std::fabs(b) + 1e-300); ++it) {
        const double c = b - g * (b - a), d = a + g * (b - a);
        const ERPoint2D qc = at(edge, c), qd = at(edge, d);
        if (distance2((*surface_)(qc.x(), qc.y()), p) < distance2((*surface_)(qd.x(), qd.y()), p)) {
          b = d;
        } else {
          a = c;
        }
      }
      const ERPoint2D q = at(edge, (a + b) / 2);
      const double d = distance2((*surface_)(q.x(), q.y()), p);
      if (d < best || (d0 < best && d0 <= d)) {
        const bool refined = d <= d0;
        best = refined ? d : d0;
        const ERPoint2D w = refined ? q : at(edge, t0);
        bestU = w.x(), bestV = w.y();
      }
    }
    if (!(best < HUGE_VAL)) return 0;
  }
  f = point(bestU, bestV, &n);
  return n.norme() > 0;
}

// ---------------------------------------------------------------------------------------------
// The run

int gmInspection::featureIndex(const std::string& id) const {
  for (std::size_t i = 0; i < features_.size(); ++i)
    if (features_[i].id() == id) return static_cast<int>(i);
  return -1;
}

namespace {

double boxDistance2(const ERMinimax3D& b, const double v[3]) {
  const double* l = b.data();  // xmin ymin zmin xmax ymax zmax
  double s = 0;
  for (int k = 0; k < 3; ++k) {
    const double d = v[k] < l[k] ? l[k] - v[k] : (v[k] > l[k + 3] ? v[k] - l[k + 3] : 0.0);
    s += d * d;
  }
  return s;
}

long numericId(const gmMeasuredPoint& p) {
  long v = 0;
  const auto r = std::from_chars(p.id.data(), p.id.data() + p.id.size(), v);
  return r.ec == std::errc() && r.ptr == p.id.data() + p.id.size() ? v : p.line;
}

}  // namespace

int gmNearestFeature(const std::vector<gmInspectionFeature>& features, const ERPoint3D& p,
                     ERPoint3D& foot, ERVector3D& outward, double* second) {
  int best = -1;
  double bestD2 = HUGE_VAL, otherD2 = HUGE_VAL;
  // otherD2 bounds from below the squared distance to every feature but the best: a foot's own,
  // else (not visited, or no single foot here) its box's.
  auto visit = [&](std::size_t i, double boxD2) {
    ERPoint3D ft;
    ERVector3D n;
    if (!features[i].foot(p, ft, n)) {
      otherD2 = std::min(otherD2, boxD2);
      return;
    }
    const double d2 = distance2(ft, p);
    if (d2 < bestD2 || (d2 == bestD2 && static_cast<int>(i) < best)) {
      otherD2 = std::min(otherD2, bestD2);
      bestD2 = d2, best = static_cast<int>(i), foot = ft, outward = n;
    } else {
      otherD2 = std::min(otherD2, d2);
    }
  };
  const double v[3] = {p.x(), p.y(), p.z()};
  const std::size_t n = features.size();
  if (n <= 8) {
    for (std::size_t i = 0; i < n; ++i) {
      if (!features[i].problem().empty()) continue;
      const double b = boxDistance2(features[i].box(), v);
      if (b >= bestD2)
        otherD2 = std::min(otherD2, b);
      else
        visit(i, b);
    }
  } else if (n <= 64) {
    // Nearest box first, until the boxes are farther than the best foot (a box holds its patch,
    // so no foot inside it can be nearer). Up to a few dozen features a scan for the nearest box
    // left beats a heap; beyond, a min-heap of (box distance, index).
    double d[64];
    for (std::size_t i = 0; i < n; ++i)
      d[i] = features[i].problem().empty() ? boxDistance2(features[i].box(), v) : HUGE_VAL;
    for (;;) {
      std::size_t k = n;
      double dk = HUGE_VAL;
      for (std::size_t i = 0; i < n; ++i)
        if (d[i] < dk) dk = d[i], k = i;  // the lowest index among equal boxes, as the heap
      if (k == n) break;
      if (dk > bestD2) {
        otherD2 = std::min(otherD2, dk);
        break;
      }
      d[k] = HUGE_VAL;
      visit(k, dk);
    }
  } else {
    thread_local std::vector<std::pair<double, std::size_t>> heap;
    heap.clear();
    for (std::size_t i = 0; i < n; ++i)
      if (features[i].problem().empty()) heap.emplace_back(boxDistance2(features[i].box(), v), i);
    const auto later = [](const auto& a, const auto& b) { return a > b; };
    std::make_heap(heap.begin(), heap.end(), later);
    while (!heap.empty() && !(heap.front().first > bestD2)) {
      std::pop_heap(heap.begin(), heap.end(), later);
      visit(heap.back().second, heap.back().first);
      heap.pop_back();
    }
    if (!heap.empty()) otherD2 = std::min(otherD2, heap.front().first);
  }
  if (second != nullptr) *second = std::sqrt(otherD2);
  return best;
}

gmInspectedPoint gmInspection::inspectWith(const std::vector<gmInspectionFeature>& features,
                                           const gmMeasuredPoint& p, double defaultDiameter) const {
  return inspectAt(features, p.centre, p.diameter >= 0 ? p.diameter : defaultDiameter, p.feature);
}

gmInspectedPoint gmInspection::inspectAt(const std::vector<gmInspectionFeature>& features,
                                         const ERPoint3D& centre, double diameter,
                                         const std::string& named) const {
  gmInspectedPoint r;
  if (!finite(centre)) {
    r.skip = gmSkip::notFinite;
    return r;
  }
  if (!std::isfinite(diameter) || diameter < 0) {
    r.skip = gmSkip::noDiameter;
    return r;
  }
  int best = -1;
  ERPoint3D foot;
  ERVector3D outward;
  if (!named.empty()) {
    best = featureIndex(named);  // the same order in every copy
    if (best < 0) {
      r.skip = gmSkip::unknownFeature;
      return r;
    }
    if (!features[static_cast<std::size_t>(best)].foot(centre, foot, outward)) {
      r.skip = gmSkip::noSingleFoot;
      return r;
    }
  } else {
    best = gmNearestFeature(features, centre, foot, outward);
    if (best < 0) {
      r.skip = gmSkip::noFoot;
      return r;
    }
  }
  const gmInspectionFeature& f = features[static_cast<std::size_t>(best)];
  // The compensation a target point makes (ON PLANE): along the unit normal, none without one.
  gmCompensate(centre, diameter, outward, r.normal, r.calculated);
  r.nominal = foot;
  r.diameter = diameter;
  r.deviation = (r.calculated - foot) * r.normal;
  if (named.empty() && !(std::fabs(r.deviation) <= maxDistance_)) {
    r.skip = gmSkip::unassigned;
    r.nearest = best;
    return r;
  }
  r.feature = best;
  r.inTolerance = f.lower() <= r.deviation && r.deviation <= f.upper();
  return r;
}

std::string gmInspection::skipReason(const gmInspectedPoint& r, const gmMeasuredPoint& p) const {
  auto text = [](double v) {
    char b[32];
    return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
  };
  switch (r.skip) {
    case gmSkip::none:
      return "";
    case gmSkip::notFinite:
      return "a coordinate is not finite";
    case gmSkip::noDiameter:
      return "no probe diameter";
    case gmSkip::unknownFeature:
      return "unknown feature '" + p.feature + "'";
    case gmSkip::noSingleFoot:
      return "no single foot on feature '" + p.feature + "' (on its axis or centre)";
    case gmSkip::noFoot:
      return "no feature has a single foot for the point";
    case gmSkip::unassigned: {
      const std::string name = r.nearest >= 0 && r.nearest < static_cast<int>(features_.size())
                                   ? features_[static_cast<std::size_t>(r.nearest)].id()
                                   : "";
      return "unassigned: " + text(std::fabs(r.deviation)) + " from the nearest feature '" + name +
             "', beyond the largest distance " + text(maxDistance_);
    }
  }
  return "";
}

gmTargetPoint gmInspection::target(const gmInspectedPoint& r, const gmMeasuredPoint& p) const {
  return gmTargetPoint(
      r.nominal, ERCMMPointWithDiameter(p.centre, r.normal, r.diameter, numericId(p)), r.normal);
}

std::vector<gmInspectedPoint> gmInspection::run(
    const std::vector<gmMeasuredPoint>& points, double defaultDiameter, int threads,
    const std::function<void(std::size_t)>& progress) const {
  const std::size_t n = points.size();
  std::vector<gmInspectedPoint> out;
  out.reserve(n);
  // A million results fill 100 MB: in huge pages their first touch costs 50 faults, not 25,000.
  qorv::detail::adviseHugePages(out.data(), n * sizeof(gmInspectedPoint));
  out.resize(n);
  forChunks(n, threads, progress,
            [&](const std::vector<gmInspectionFeature>& mine, std::size_t begin, std::size_t end) {
              for (std::size_t i = begin; i < end; ++i)
                out[i] = inspectWith(mine, points[i], defaultDiameter);
            });
  return out;
}

template <class Work>
void gmInspection::forChunks(std::size_t n, int threads,
                             const std::function<void(std::size_t)>& progress, Work work) const {
  const int t =
      std::max(1, std::min<int>(threads, static_cast<int>(std::max<std::size_t>(1, n / 1024))));
  // Work goes out in chunks, so that a thread whose points are dearer (a freeform face, points
  // far from every feature) never leaves the others idle at the end.
  constexpr std::size_t kChunk = 2048;
  std::atomic<std::size_t> next{0}, done{0};
  // Surfaces keep caches: each thread but the first works on its own copies.
  bool surfaces = false;
  for (const gmInspectionFeature& f : features_)
    surfaces = surfaces || f.kind() == gmInspectionFeature::SURFACE;
  std::vector<std::vector<gmInspectionFeature>> copies(static_cast<std::size_t>(t));
  if (surfaces)
    for (int k = 1; k < t; ++k)
      for (const gmInspectionFeature& f : features_)
        copies[static_cast<std::size_t>(k)].push_back(f.clone());
  auto loop = [&](int k) {
    const std::vector<gmInspectionFeature>& mine =
        surfaces && k > 0 ? copies[static_cast<std::size_t>(k)] : features_;
    for (;;) {
      const std::size_t begin = next.fetch_add(kChunk, std::memory_order_relaxed);
      if (begin >= n) break;
      const std::size_t end = std::min(n, begin + kChunk);
      work(mine, begin, end);
      const std::size_t now =
          done.fetch_add(end - begin, std::memory_order_relaxed) + (end - begin);
      if (k == 0 && progress) progress(now);
    }
  };
  std::vector<std::thread> pool;
  for (int k = 1; k < t; ++k) pool.emplace_back(loop, k);
  loop(0);
  for (std::thread& th : pool) th.join();
  if (progress) progress(n);
}

gmCloudResults gmInspection::runCloud(const double* xyz, std::size_t n, double diameter,
                                      int threads,
                                      const std::function<void(std::size_t)>& progress) const {
  gmCloudResults out;
  out.deviation.resize(n);
  out.feature.resize(n);
  static const std::string none;
  forChunks(n, threads, progress,
            [&](const std::vector<gmInspectionFeature>& mine, std::size_t begin, std::size_t end) {
              for (std::size_t i = begin; i < end; ++i) {
                const gmInspectedPoint r = inspectAt(
                    mine, ERPoint3D(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]), diameter, none);
                out.deviation[i] = r.deviation;
                out.feature[i] =
                    r.feature >= 0 ? r.feature : -1 - static_cast<std::int32_t>(r.skip);
              }
            });
  return out;
}

std::vector<gmFeatureSummary> gmInspection::summarizeCloud(const double* xyz,
                                                           const gmCloudResults& results,
                                                           double diameter, std::size_t fitPoints,
                                                           int threads) const {
  std::vector<gmFeatureSummary> s(features_.size());
  std::vector<std::vector<ERPoint3D>> kept(features_.size());  // the fitted points, for datums
  const std::size_t n = results.feature.size(), m = std::max<std::size_t>(fitPoints, 1);
  // One feature a task: its statistics (which keep every value, so room is made once), its fits
  // on every step-th of its points (judged again for the compensated point) and its form. Each
  // feature's surface is used by one thread only.
  auto task = [&](std::size_t k) {
    const gmInspectionFeature& f = features_[k];
    gmFeatureSummary& fs = s[k];
    const auto own = static_cast<std::int32_t>(k);
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) count += results.feature[i] == own;
    fs.stats.capacity(static_cast<int>(std::min<std::size_t>(count, INT_MAX)));
    const std::size_t step = std::max<std::size_t>(1, (count + m - 1) / m);
    std::vector<ERPoint3D> calculated;
    for (std::size_t i = 0, seen = 0; i < n; ++i) {
      if (results.feature[i] != own) continue;
      const double d = results.deviation[i];
      fs.stats.append(d, 1.0, f.lower(), f.upper());
      if (!(f.lower() <= d && d <= f.upper())) ++fs.outOfTolerance;
      if (seen++ % step != 0) continue;
      const ERPoint3D p(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]);
      calculated.push_back(diameter > 0 ? inspectAt(features_, p, diameter, f.id()).calculated : p);
    }
    fitOne(k, calculated, fs);
    kept[k] = std::move(calculated);
  };
  forEachFeature(features_.size(), threads, task);
  judgeTolerances(kept, s, threads);
  return s;
}

std::vector<gmFeatureSummary> gmInspection::summarize(const std::vector<gmInspectedPoint>& results,
                                                      const std::vector<gmMeasuredPoint>& points,
                                                      int threads) const {
  std::vector<gmFeatureSummary> s(features_.size());
  std::vector<std::vector<ERPoint3D>> calculated(features_.size());
  {
    // Each feature's points in room made once (doubling copies and touches twice the memory).
    std::vector<std::size_t> count(features_.size(), 0);
    for (const gmInspectedPoint& r : results)
      if (r.feature >= 0) ++count[static_cast<std::size_t>(r.feature)];
    for (std::size_t k = 0; k < count.size(); ++k) {
      calculated[k].reserve(count[k]);
      qorv::detail::adviseHugePages(calculated[k].data(), count[k] * sizeof(ERPoint3D));
    }
  }
  for (std::size_t i = 0; i < results.size(); ++i) {
    const gmInspectedPoint& r = results[i];
    if (r.feature < 0) {
      if (i < points.size() && !points[i].feature.empty()) {
        const int f = featureIndex(points[i].feature);
        if (f >= 0) ++s[static_cast<std::size_t>(f)].skipped;
      }
      continue;
    }
    gmFeatureSummary& fs = s[static_cast<std::size_t>(r.feature)];
    const gmInspectionFeature& f = features_[static_cast<std::size_t>(r.feature)];
    fs.stats.append(r.deviation, 1.0, f.lower(), f.upper());
    if (!r.inTolerance) ++fs.outOfTolerance;
    calculated[static_cast<std::size_t>(r.feature)].push_back(r.calculated);
  }
  fitAll(calculated, s, threads);
  return s;
}

void gmInspection::fitAll(const std::vector<std::vector<ERPoint3D>>& calculated,
                          std::vector<gmFeatureSummary>& s, int threads) const {
  forEachFeature(features_.size(), threads, [&](std::size_t k) { fitOne(k, calculated[k], s[k]); });
  judgeTolerances(calculated, s, threads);
}

void gmInspection::fitOne(std::size_t k, const std::vector<ERPoint3D>& pts,
                          gmFeatureSummary& fs) const {
  const gmInspectionFeature& f = features_[k];
  if (f.kind() == gmInspectionFeature::PLANE) {
    fs.fitAxis = f.frame().getVector(Coord3D::Z);
    fs.fitted = gmFitPlane(pts, fs.fitCentre, fs.fitAxis, fs.formError);
    fs.iterations = fs.fitted;
  } else if (f.kind() == gmInspectionFeature::SPHERE) {
    fs.fitCentre = f.frame().origine();
    fs.size = f.r1();
    fs.fitted = gmFitSphere(pts, fs.fitCentre, fs.size, fs.formError, fs.iterations);
  } else if (f.kind() == gmInspectionFeature::CYLINDER) {
    fs.fitCentre = f.frame().origine();
    fs.fitAxis = f.frame().getVector(Coord3D::Z);
    fs.size = f.r1();
    fs.fitted = gmFitCylinder(pts, fs.fitCentre, fs.fitAxis, fs.size, fs.formError, fs.iterations);
  }
  judgeForm(f, pts, fs);
}

std::string gmInspectionFeature::setTolerances(std::string datum,
                                               std::vector<gmToleranceSpec> tolerances) {
  if (!datum.empty() && elementKind() != PLANE && elementKind() != CYLINDER &&
      elementKind() != CONE && elementKind() != SPHERE)
    return "a datum is a plane, a cylinder, a cone or a sphere";
  for (const gmToleranceSpec& t : tolerances) {
    const char* name = gmTolerance::kindName(t.kind);
    if (t.kind == gmTolerance::POSITION && elementKind() != CYLINDER && elementKind() != SPHERE)
      return "position is judged on cylinders and spheres";
    if (t.kind != gmTolerance::POSITION && elementKind() != PLANE && elementKind() != CYLINDER)
      return std::string(name) + " is judged on planes and cylinders";
    if (!(t.tolerance >= 0) || !std::isfinite(t.tolerance))
      return std::string(name) + ": the tolerance must be a finite number of 0 or more";
    if (t.datums.empty() || t.datums.size() > 3)
      return std::string(name) + ": one to three datums are needed";
    if (t.kind == gmTolerance::ANGULARITY && !(t.angle >= 0 && t.angle <= std::numbers::pi / 2))
      return "angularity: the angle must lie between 0 and 90 degrees";
  }
  datum_ = std::move(datum);
  tolerances_ = std::move(tolerances);
  return "";
}

namespace {

gmDatumElement nominalElement(const gmInspectionFeature& f) {
  gmDatumElement e;
  e.type = f.elementKind() == gmInspectionFeature::PLANE    ? gmDatumElement::PLANE
           : f.elementKind() == gmInspectionFeature::SPHERE ? gmDatumElement::POINT
                                                            : gmDatumElement::AXIS;
  e.point = f.elementFrame().origine();
  e.direction = f.elementFrame().getVector(Coord3D::Z);
  return e;
}

gmForm::Kind formKind(const gmInspectionFeature& f) {
  return f.elementKind() == gmInspectionFeature::PLANE      ? gmForm::PLANE
         : f.elementKind() == gmInspectionFeature::CYLINDER ? gmForm::CYLINDER
         : f.elementKind() == gmInspectionFeature::CONE     ? gmForm::CONE
                                                            : gmForm::SPHERE;
}

}  // namespace

void gmInspection::judgeTolerances(const std::vector<std::vector<ERPoint3D>>& pts,
                                   std::vector<gmFeatureSummary>& s, int threads) const {
  // The least-squares fits asked for (a datum's, a toleranced feature's without a form or size
  // fit), each made once; then each feature's tolerances. Both shared out over the threads.
  const std::size_t n = features_.size();
  auto datumIndex = [&](const std::string& name) {
    std::size_t d = 0;
    while (d < n && features_[d].datum() != name) ++d;
    return d;
  };
  auto ownFit = [&](std::size_t k) -> const gmFormResult* {
    const gmFeatureForm& w = features_[k].form();
    return w.size && s[k].sizeFit.ok   ? &s[k].sizeFit
           : w.form && s[k].formFit.ok ? &s[k].formFit
                                       : nullptr;
  };
  std::vector<char> wanted(n, 0);
  for (std::size_t k = 0; k < n; ++k)
    for (const gmToleranceSpec& t : features_[k].tolerances()) {
      if (!ownFit(k)) wanted[k] = 1;
      for (const std::string& name : t.datums)
        if (const std::size_t d = datumIndex(name); d < n) wanted[d] = 1;
    }
  std::vector<gmFormResult> ls(n);
  forEachFeature(n, threads, [&](std::size_t k) {
    if (wanted[k])
      ls[k] = gmFit(pts[k], formKind(features_[k]), gmForm::LEAST_SQUARES,
                    features_[k].elementFrame().getVector(Coord3D::Z));
  });
  forEachFeature(n, threads, [&](std::size_t k) {
    const gmInspectionFeature& f = features_[k];
    for (const gmToleranceSpec& t : f.tolerances()) {
      gmToleranceResult r;
      std::vector<gmDatum> frame;
      for (const std::string& name : t.datums) {
        const std::size_t d = datumIndex(name);
        if (d == n) {
          r.reason = "datum " + name + " is carried by no feature";
          break;
        }
        if (!ls[d].ok) {
          r.reason = "datum " + features_[d].datum() + " cannot be fitted: " + ls[d].reason;
          break;
        }
        gmDatum datum;
        datum.name = features_[d].datum();
        datum.nominal = datum.measured = nominalElement(features_[d]);
        datum.measured.point = ls[d].element.point;
        datum.measured.direction = ls[d].element.axis;
        frame.push_back(datum);
      }
      if (r.reason.empty()) {
        const gmFormResult* own = ownFit(k);
        r = gmEvaluateTolerance(t, formKind(f), nominalElement(f), own ? *own : ls[k], pts[k],
                                frame);
      }
      s[k].tolerances.push_back(std::move(r));
    }
  });
}

std::string gmInspectionFeature::setElement(Kind kind, const ERPmIsometrie3D& frame, double r1) {
  if (kind_ != SURFACE) return "the feature is a " + std::string(kindName(kind_)) + " already";
  if (kind != PLANE && kind != CYLINDER && kind != CONE && kind != SPHERE)
    return "an element is a plane, a cylinder, a cone or a sphere";
  if (!std::isfinite(r1) || r1 < 0) return "the element's size is not a finite number of 0 or more";
  elementKind_ = kind, elementFrame_ = frame, elementR1_ = r1;
  return "";
}

std::string gmInspectionFeature::setForm(const gmFeatureForm& f) {
  if ((f.form || f.size) && elementKind() != PLANE && elementKind() != CYLINDER &&
      elementKind() != CONE && elementKind() != SPHERE)
    return "form and size are judged on planes, cylinders, cones and spheres";
  if (f.size && elementKind() != CYLINDER && elementKind() != SPHERE)
    return "only cylinders and spheres have a size";
  if (f.size && f.sizeAssociation == gmForm::MINIMUM_ZONE)
    return "a size is least-squares, inscribed or circumscribed";
  if (f.form &&
      (f.formAssociation != gmForm::MINIMUM_ZONE && f.formAssociation != gmForm::LEAST_SQUARES))
    return "a form is minimum-zone or least-squares";
  if (!(f.formTolerance >= 0) || std::isnan(f.sizeLower) || std::isnan(f.sizeUpper) ||
      f.sizeLower > f.sizeUpper)
    return "a form tolerance is >= 0 and a size tolerance [lower, upper] with lower <= upper";
  form_ = f;
  return "";
}

void gmInspection::judgeForm(const gmInspectionFeature& f, const std::vector<ERPoint3D>& pts,
                             gmFeatureSummary& fs) {
  const gmFeatureForm& wanted = f.form();
  if (!wanted.form && !wanted.size) return;
  const gmForm::Kind kind = f.elementKind() == gmInspectionFeature::PLANE      ? gmForm::PLANE
                            : f.elementKind() == gmInspectionFeature::CYLINDER ? gmForm::CYLINDER
                            : f.elementKind() == gmInspectionFeature::CONE     ? gmForm::CONE
                                                                               : gmForm::SPHERE;
  // The nominal axis starts a cylinder's or cone's fit and orients the element.
  const ERVector3D axis = f.elementFrame().getVector(Coord3D::Z);
  if (wanted.form) {
    fs.formFit = gmFit(pts, kind, wanted.formAssociation, axis);
    if (fs.formFit.ok) fs.formInTolerance = fs.formFit.width <= wanted.formTolerance ? 1 : 0;
  }
  if (wanted.size) {
    fs.sizeFit = wanted.form && wanted.sizeAssociation == wanted.formAssociation
                     ? fs.formFit
                     : gmFit(pts, kind, wanted.sizeAssociation, axis);
    if (fs.sizeFit.ok) {
      const double deviation = fs.sizeFit.size - 2 * f.elementR1();
      fs.sizeInTolerance = deviation >= wanted.sizeLower && deviation <= wanted.sizeUpper ? 1 : 0;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Least-squares fits

namespace {

// Solves the n x n system a x = b by Gaussian elimination with partial pivoting; 0 if singular.
int solve(std::vector<double> a, std::vector<double> b, int n, std::vector<double>& x) {
  for (int c = 0; c < n; ++c) {
    int piv = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(a[static_cast<std::size_t>(r * n + c)]) >
          std::fabs(a[static_cast<std::size_t>(piv * n + c)]))
        piv = r;
    if (!(std::fabs(a[static_cast<std::size_t>(piv * n + c)]) > 0)) return 0;
    if (piv != c) {
      for (int k = 0; k < n; ++k)
        std::swap(a[static_cast<std::size_t>(c * n + k)], a[static_cast<std::size_t>(piv * n + k)]);
      std::swap(b[static_cast<std::size_t>(c)], b[static_cast<std::size_t>(piv)]);
    }
    for (int r = c + 1; r < n; ++r) {
      const double m =
          a[static_cast<std::size_t>(r * n + c)] / a[static_cast<std::size_t>(c * n + c)];
      for (int k = c; k < n; ++k)
        a[static_cast<std::size_t>(r * n + k)] -= m * a[static_cast<std::size_t>(c * n + k)];
      b[static_cast<std::size_t>(r)] -= m * b[static_cast<std::size_t>(c)];
    }
  }
  x.assign(static_cast<std::size_t>(n), 0.0);
  for (int r = n - 1; r >= 0; --r) {
    double s = b[static_cast<std::size_t>(r)];
    for (int k = r + 1; k < n; ++k)
      s -= a[static_cast<std::size_t>(r * n + k)] * x[static_cast<std::size_t>(k)];
    x[static_cast<std::size_t>(r)] = s / a[static_cast<std::size_t>(r * n + r)];
  }
  return 1;
}

// Gauss-Newton: residuals(params, r, J) fills r (m) and J (m x n, row-major); stops when the
// step no longer changes the parameters (relative stop) or after 50 iterations.
template <class F>
int gaussNewton(std::vector<double>& params, int m, F residuals, int& iterations, double stop) {
  const int n = static_cast<int>(params.size());
  std::vector<double> r(static_cast<std::size_t>(m)), J(static_cast<std::size_t>(m * n));
  for (iterations = 1; iterations <= 50; ++iterations) {
    residuals(params, r, J);
    std::vector<double> A(static_cast<std::size_t>(n * n), 0.0),
        g(static_cast<std::size_t>(n), 0.0), step;
    for (int i = 0; i < m; ++i)
      for (int a = 0; a < n; ++a) {
        const double ja = J[static_cast<std::size_t>(i * n + a)];
        g[static_cast<std::size_t>(a)] -= ja * r[static_cast<std::size_t>(i)];
        for (int b = 0; b < n; ++b)
          A[static_cast<std::size_t>(a * n + b)] += ja * J[static_cast<std::size_t>(i * n + b)];
      }
    if (!solve(A, g, n, step)) return 0;
    double change = 0, size = 0;
    for (int a = 0; a < n; ++a) {
      params[static_cast<std::size_t>(a)] += step[static_cast<std::size_t>(a)];
      change = std::max(change, std::fabs(step[static_cast<std::size_t>(a)]));
      size = std::max(size, std::fabs(params[static_cast<std::size_t>(a)]));
    }
    for (double v : params)
      if (!std::isfinite(v)) return 0;
    if (change <= stop * std::max(size, 1e-300) || change == 0) return 1;
  }
  iterations = 50;
  return 1;
}

// The unit eigenvector of the smallest eigenvalue of a symmetric 3 x 3 matrix (Jacobi).
ERVector3D smallestEigenvector(double m[3][3]) {
  double v[3][3];
  qorv::detail::jacobi3(m, v);
  int k = 0;
  for (int i = 1; i < 3; ++i)
    if (m[i][i] < m[k][k]) k = i;
  return ERVector3D(v[0][k], v[1][k], v[2][k]).normalize();
}

}  // namespace

int gmFitPlane(const std::vector<ERPoint3D>& pts, ERPoint3D& centroid, ERVector3D& normal,
               double& formError) {
  if (pts.size() < 3) return 0;
  double c[3] = {0, 0, 0};
  for (const ERPoint3D& p : pts) c[0] += p.x(), c[1] += p.y(), c[2] += p.z();
  for (double& v : c) v /= static_cast<double>(pts.size());
  double m[3][3] = {};
  for (const ERPoint3D& p : pts) {
    const double d[3] = {p.x() - c[0], p.y() - c[1], p.z() - c[2]};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] += d[i] * d[j];
  }
  const ERVector3D n = smallestEigenvector(m);
  if (!(n.norme() > 0)) return 0;
  centroid = ERPoint3D(c[0], c[1], c[2]);
  // Keep the orientation of the normal given, if any.
  normal = normal * n < 0 ? -1.0 * n : n;
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  for (const ERPoint3D& p : pts) {
    const double d = (p - centroid) * normal;
    lo = std::min(lo, d), hi = std::max(hi, d);
  }
  formError = hi - lo;
  return 1;
}

int gmFitSphere(const std::vector<ERPoint3D>& pts, ERPoint3D& centre, double& radius,
                double& formError, int& iterations) {
  if (pts.size() < 4) return 0;
  std::vector<double> x = {centre.x(), centre.y(), centre.z(), radius};
  const int m = static_cast<int>(pts.size());
  auto residuals = [&](const std::vector<double>& q, std::vector<double>& r,
                       std::vector<double>& J) {
    for (int i = 0; i < m; ++i) {
      const ERPoint3D& p = pts[static_cast<std::size_t>(i)];
      const ERVector3D w(p.x() - q[0], p.y() - q[1], p.z() - q[2]);
      const double d = w.norme();
      r[static_cast<std::size_t>(i)] = d - q[3];
      const double inv = d > 0 ? 1 / d : 0;
      J[static_cast<std::size_t>(i * 4)] = -w.x() * inv;
      J[static_cast<std::size_t>(i * 4 + 1)] = -w.y() * inv;
      J[static_cast<std::size_t>(i * 4 + 2)] = -w.z() * inv;
      J[static_cast<std::size_t>(i * 4 + 3)] = -1;
    }
  };
  if (!gaussNewton(x, m, residuals, iterations, 1e-14)) return 0;
  centre = ERPoint3D(x[0], x[1], x[2]);
  radius = std::fabs(x[3]);
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  for (const ERPoint3D& p : pts) {
    const double d = distance(p, centre) - radius;
    lo = std::min(lo, d), hi = std::max(hi, d);
  }
  formError = hi - lo;
  return 1;
}

int gmFitCylinder(const std::vector<ERPoint3D>& pts, ERPoint3D& axisPoint, ERVector3D& axis,
                  double& radius, double& formError, int& iterations) {
  if (pts.size() < 5) return 0;
  // In a frame along the starting axis: the axis through (a, b, 0) with direction (c, d, 1).
  const ERPmIsometrie3D frame = ERChgRepere3D(axis, axisPoint);
  std::vector<ERPoint3D> local;
  local.reserve(pts.size());
  for (const ERPoint3D& p : pts) local.push_back(frame << p);
  const int m = static_cast<int>(local.size());
  auto direction = [](double c, double d) { return ERVector3D(c, d, 1).normalize(); };
  auto distanceToAxis = [](const ERPoint3D& p, double a, double b, const ERVector3D& u) {
    const ERVector3D w(p.x() - a, p.y() - b, p.z());
    return (w - (w * u) * u).norme();
  };
  auto residuals = [&](const std::vector<double>& q, std::vector<double>& r,
                       std::vector<double>& J) {
    const double scale = std::fabs(q[4]);
    // Central differences for the axis parameters: the four shifted directions are the same
    // for every point, so they are made once.
    double h[4], a0[4][2], a1[4][2];
    ERVector3D u0[4], u1[4];
    for (int a = 0; a < 4; ++a) {
      h[a] = a < 2 ? 1e-6 * std::max(scale, 1e-300) : 1e-6;
      double hi[4] = {q[0], q[1], q[2], q[3]}, lo[4] = {q[0], q[1], q[2], q[3]};
      hi[a] += h[a], lo[a] -= h[a];
      a1[a][0] = hi[0], a1[a][1] = hi[1], u1[a] = direction(hi[2], hi[3]);
      a0[a][0] = lo[0], a0[a][1] = lo[1], u0[a] = direction(lo[2], lo[3]);
    }
    const ERVector3D u = direction(q[2], q[3]);
    for (int i = 0; i < m; ++i) {
      const ERPoint3D& p = local[static_cast<std::size_t>(i)];
      r[static_cast<std::size_t>(i)] = distanceToAxis(p, q[0], q[1], u) - q[4];
      for (int a = 0; a < 4; ++a)
        J[static_cast<std::size_t>(i * 5 + a)] = (distanceToAxis(p, a1[a][0], a1[a][1], u1[a]) -
                                                  distanceToAxis(p, a0[a][0], a0[a][1], u0[a])) /
                                                 (2 * h[a]);
      J[static_cast<std::size_t>(i * 5 + 4)] = -1;
    }
  };
  std::vector<double> x = {0, 0, 0, 0, radius};
  // Differenced derivatives: a step below 1e-10 of the parameters is noise.
  if (!gaussNewton(x, m, residuals, iterations, 1e-10)) return 0;
  radius = std::fabs(x[4]);
  axisPoint = frame >> ERPoint3D(x[0], x[1], 0);
  axis = frame >> ERVector3D(x[2], x[3], 1).normalize();
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  const ERVector3D u = direction(x[2], x[3]);
  for (const ERPoint3D& p : local) {
    const double d = distanceToAxis(p, x[0], x[1], u) - radius;
    lo = std::min(lo, d), hi = std::max(hi, d);
  }
  formError = hi - lo;
  return 1;
}
