#include "qorv/measurement/tolerances.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

// Helpers in a named namespace: the library is built in unity units.
namespace qorv::tolerances_detail {

using V = std::array<double, 3>;

V vec(const ERPoint3D& p) { return {p.x(), p.y(), p.z()}; }
V vec(const ERVector3D& p) { return {p.x(), p.y(), p.z()}; }
V add(const V& a, const V& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
V sub(const V& a, const V& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
V mul(const V& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }
double dot(const V& a, const V& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
V cross(const V& a, const V& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double norm(const V& a) { return std::hypot(a[0], a[1], a[2]); }
V unit(const V& a) {
  const double n = norm(a);
  return n > 0 ? mul(a, 1 / n) : V{0, 0, 0};
}
bool finite(const V& a) {
  return std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(a[2]);
}
// The part of a across the unit d.
V across(const V& a, const V& d) { return sub(a, mul(d, dot(a, d))); }
// Any unit vector square to the unit d.
V squareTo(const V& d) {
  const V e = std::fabs(d[0]) < 0.6 ? V{1, 0, 0} : V{0, 1, 0};
  return unit(across(e, d));
}
// a turned by theta about the unit k (Rodrigues).
V turn(const V& a, const V& k, double theta) {
  const double c = std::cos(theta), s = std::sin(theta);
  return add(add(mul(a, c), mul(cross(k, a), s)), mul(k, dot(k, a) * (1 - c)));
}

// The move from nominal to measured coordinates that the datums fix (x_m = R x_n + t), and
// what it leaves free: a turn about axis through pivot, shifts along the free basis.
struct Frame {
  double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  V t{0, 0, 0};
  bool freeTurn = false;
  V axis{0, 0, 1}, pivot{0, 0, 0};
  std::vector<V> freeShifts;

  V rot(const V& a) const {
    return {R[0] * a[0] + R[1] * a[1] + R[2] * a[2], R[3] * a[0] + R[4] * a[1] + R[5] * a[2],
            R[6] * a[0] + R[7] * a[1] + R[8] * a[2]};
  }
  // The nominal point and direction carried over, then turned by theta when the turn is free.
  V point(const V& p, double theta) const {
    const V q = add(rot(p), t);
    return freeTurn ? add(pivot, turn(sub(q, pivot), axis, theta)) : q;
  }
  V direction(const V& d, double theta) const {
    return freeTurn ? turn(rot(d), axis, theta) : rot(d);
  }
};

struct Element {
  gmDatumElement::Type type;
  V o, d;
};

bool readElement(const gmDatumElement& e, Element& out) {
  out.type = e.type;
  out.o = vec(e.point);
  out.d = e.type == gmDatumElement::POINT ? V{0, 0, 0} : unit(vec(e.direction));
  return finite(out.o) && finite(out.d) && (e.type == gmDatumElement::POINT || norm(out.d) > 0);
}

// Builds the frame; orientationOnly counts only what a datum adds to the turns. "" or why not.
std::string buildFrame(const std::vector<gmDatum>& datums, bool orientationOnly, Frame& f) {
  if (datums.empty()) return "no datum given";
  if (datums.size() > 3) return "at most three datums (primary, secondary, tertiary)";
  std::vector<Element> nom(datums.size()), mea(datums.size());
  for (std::size_t k = 0; k < datums.size(); ++k) {
    if (!readElement(datums[k].nominal, nom[k]) || !readElement(datums[k].measured, mea[k]) ||
        datums[k].nominal.type != datums[k].measured.type)
      return "datum " + datums[k].name + " has no usable element";
    if (dot(nom[k].d, mea[k].d) < 0) mea[k].d = mul(mea[k].d, -1);
  }
  if (nom[0].type == gmDatumElement::POINT)
    return "datum " + datums[0].name + " is a point: the primary must fix a direction";
  const V e1n = nom[0].d, e1m = mea[0].d;
  std::vector<bool> adds(datums.size(), false);
  adds[0] = true;
  // The turn about the primary: a later direction across it, else two located points.
  V e2n{0, 0, 0}, e2m{0, 0, 0};
  for (std::size_t k = 1; k < datums.size() && norm(e2n) == 0; ++k) {
    if (nom[k].type == gmDatumElement::POINT) continue;
    const V a = across(nom[k].d, e1n), b = across(mea[k].d, e1m);
    if (norm(a) > 1e-6 && norm(b) > 1e-6) e2n = unit(a), e2m = unit(b), adds[k] = true;
  }
  std::vector<std::size_t> located;
  for (std::size_t k = 0; k < datums.size(); ++k)
    if (nom[k].type == gmDatumElement::POINT ||
        (nom[k].type == gmDatumElement::AXIS && norm(across(nom[k].d, e1n)) <= 1e-6))
      located.push_back(k);
  if (norm(e2n) == 0 && located.size() >= 2) {
    const V a = across(sub(nom[located[1]].o, nom[located[0]].o), e1n);
    const V b = across(sub(mea[located[1]].o, mea[located[0]].o), e1m);
    const double scale = std::max(norm(nom[located[0]].o), norm(nom[located[1]].o));
    if (norm(a) > 1e-9 * scale && norm(b) > 0)
      e2n = unit(a), e2m = unit(b), adds[located[1]] = true;
  }
  f.freeTurn = norm(e2n) == 0;
  if (f.freeTurn) {
    // The least turn taking e1n onto e1m carries a square vector over.
    e2n = squareTo(e1n);
    const V k = cross(e1n, e1m);
    const double s = norm(k), c = dot(e1n, e1m);
    e2m = s > 0 ? unit(across(turn(e2n, unit(k), std::atan2(s, c)), e1m)) : e2n;
    if (c < 0 && s == 0) e2m = squareTo(e1m);
  }
  const V e3n = cross(e1n, e2n), e3m = cross(e1m, e2m);
  const V En[3] = {e1n, e2n, e3n}, Em[3] = {e1m, e2m, e3m};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      f.R[3 * i + j] = Em[0][i] * En[0][j] + Em[1][i] * En[1][j] + Em[2][i] * En[2][j];
  f.axis = e1m;
  f.pivot = located.empty() ? mea[0].o : mea[located[0]].o;
  // Shifts: rows n . t = n . (o_m - R o_n), kept while they add a direction.
  std::vector<V> rows, basis;
  std::vector<double> rhs;
  for (std::size_t k = 0; k < datums.size(); ++k) {
    std::vector<V> offers;
    if (mea[k].type == gmDatumElement::PLANE) {
      offers.push_back(mea[k].d);
    } else {
      for (const V& v : Em) {
        const V w = mea[k].type == gmDatumElement::AXIS ? across(v, mea[k].d) : v;
        if (norm(w) > 0.5) offers.push_back(unit(w));
      }
    }
    for (const V& n : offers) {
      V r = n;
      for (const V& b : basis) r = sub(r, mul(b, dot(r, b)));
      if (norm(r) < 1e-3 || rows.size() == 3) continue;
      basis.push_back(unit(r)), rows.push_back(n);
      rhs.push_back(dot(n, sub(mea[k].o, f.rot(nom[k].o))));
      if (!orientationOnly) adds[k] = true;
    }
  }
  for (std::size_t k = 1; k < datums.size(); ++k)
    if (!adds[k]) return "datum " + datums[k].name + " fixes nothing the earlier datums leave free";
  // t in the rows' span: t = sum y_i b_i with the rows written in the orthonormal basis.
  const std::size_t r = rows.size();
  double A[9] = {}, y[3] = {};
  for (std::size_t i = 0; i < r; ++i)
    for (std::size_t j = 0; j < r; ++j) A[3 * i + j] = dot(rows[i], basis[j]);
  // Lower triangular (Gram-Schmidt order): forward substitution.
  for (std::size_t i = 0; i < r; ++i) {
    double s = rhs[i];
    for (std::size_t j = 0; j < i; ++j) s -= A[3 * i + j] * y[j];
    y[i] = s / A[3 * i + i];
  }
  f.t = {0, 0, 0};
  for (std::size_t i = 0; i < r; ++i) f.t = add(f.t, mul(basis[i], y[i]));
  for (const V& e : Em) {
    V w = e;
    for (const V& b : basis) w = sub(w, mul(b, dot(w, b)));
    for (const V& b : f.freeShifts) w = sub(w, mul(b, dot(w, b)));
    if (norm(w) > 1e-3 && basis.size() + f.freeShifts.size() < 3) f.freeShifts.push_back(unit(w));
  }
  return "";
}

// The largest distance of the points from the origin of their space, the origin slid along
// the basis (orthonormal) to make it least; one or two points.
double leastFarthest(const std::vector<V>& r, const std::vector<V>& basis) {
  std::vector<V> q = r;
  if (basis.empty() || q.size() == 1) {
    for (V& p : q)
      for (const V& b : basis) p = sub(p, mul(b, dot(p, b)));
    double m = 0;
    for (const V& p : q) m = std::max(m, norm(p));
    return m;
  }
  if (basis.size() >= 2) return norm(sub(q[0], q[1])) / 2;  // two points in a plane
  // Scaled to unit size: the squares below stay finite for any magnitude.
  const double scale = std::max(norm(q[0]), norm(q[1]));
  if (!(scale > 0) || !std::isfinite(scale)) return scale;
  q[0] = mul(q[0], 1 / scale), q[1] = mul(q[1], 1 / scale);
  const V& u = basis[0];
  auto far = [&](double s) {
    return std::max(norm(sub(q[0], mul(u, s))), norm(sub(q[1], mul(u, s))));
  };
  double best = std::min(far(dot(q[0], u)), far(dot(q[1], u)));
  const double den = 2 * dot(sub(q[0], q[1]), u);
  if (den != 0) best = std::min(best, far((dot(q[0], q[0]) - dot(q[1], q[1])) / den));
  return best * scale;
}

// The least of g over a turn: a dense sampling, then a golden section about the best sample.
// samples(h, n, v) may fill v[i] = g(i h) for the whole sampling at once.
constexpr int kTurnSamples = 720;
template <class G, class Samples>
double leastOverTurn(const G& g, const Samples& samples, double& theta) {
  constexpr int n = kTurnSamples;
  constexpr double h = 2 * std::numbers::pi / n;
  double v[n];
  samples(h, n, v);
  double best = HUGE_VAL;
  theta = 0;
  for (int i = 0; i < n; ++i)
    if (v[i] < best) best = v[i], theta = i * h;
  double a = theta - h, b = theta + h;
  const double phi = (std::sqrt(5.0) - 1) / 2;
  double c = b - phi * (b - a), d = a + phi * (b - a), gc = g(c), gd = g(d);
  for (int it = 0; it < 100 && b - a > 1e-15; ++it) {
    if (gc < gd)
      b = d, d = c, gd = gc, c = b - phi * (b - a), gc = g(c);
    else
      a = c, c = d, gc = gd, d = a + phi * (b - a), gd = g(d);
  }
  if (gc < best) best = gc, theta = c;
  if (gd < best) best = gd, theta = d;
  return best;
}

std::string degrees(double rad) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", rad * 180 / std::numbers::pi);
  return buf;
}

}  // namespace qorv::tolerances_detail

const char* gmTolerance::kindName(Kind k) {
  switch (k) {
    case POSITION:
      return "position";
    case PARALLELISM:
      return "parallelism";
    case PERPENDICULARITY:
      return "perpendicularity";
    case ANGULARITY:
      return "angularity";
  }
  return "";
}

int gmTolerance::parseKind(const std::string& s, Kind& k) {
  for (Kind c : {POSITION, PARALLELISM, PERPENDICULARITY, ANGULARITY})
    if (s == kindName(c)) return k = c, 1;
  return 0;
}

gmToleranceResult gmEvaluateTolerance(const gmToleranceSpec& tol, gmForm::Kind kind,
                                      const gmDatumElement& nominal, const gmFormResult& fit,
                                      const std::vector<ERPoint3D>& points,
                                      const std::vector<gmDatum>& datums) {
  using namespace qorv::tolerances_detail;
  gmToleranceResult out;
  auto refuse = [&](std::string why) {
    out.reason = std::move(why);
    return out;
  };
  const bool position = tol.kind == gmTolerance::POSITION;
  if (!(tol.tolerance >= 0) || !std::isfinite(tol.tolerance))
    return refuse("the tolerance must be a finite number of 0 or more");
  if (position && kind != gmForm::CYLINDER && kind != gmForm::SPHERE && kind != gmForm::CIRCLE3D)
    return refuse("position is judged on cylinders, circles and spheres");
  if (!position && kind != gmForm::PLANE && kind != gmForm::CYLINDER)
    return refuse(std::string(gmTolerance::kindName(tol.kind)) +
                  " is judged on planes and cylinders' axes");
  const gmDatumElement::Type want = kind == gmForm::PLANE    ? gmDatumElement::PLANE
                                    : kind == gmForm::SPHERE ? gmDatumElement::POINT
                                                             : gmDatumElement::AXIS;
  Element nom;
  if (nominal.type != want || !readElement(nominal, nom))
    return refuse("the nominal element is missing or not finite");
  if (!fit.ok) return refuse("the feature cannot be fitted: " + fit.reason);
  if (fit.kind != kind) return refuse("the fit is not of the feature's kind");
  const V c = vec(fit.element.point);
  V a = unit(vec(fit.element.axis));
  if (dot(a, nom.d) < 0) a = mul(a, -1);
  if (!finite(c) || !finite(a)) return refuse("the fitted element is not finite");
  // The measured points: a plane's points, an axis' ends, a centre.
  std::vector<V> P;
  if (kind == gmForm::PLANE) {
    for (const ERPoint3D& p : points)
      if (const V v = vec(p); finite(v)) P.push_back(v);
    if (P.size() < 3) return refuse("too few points");
  } else if (kind == gmForm::CYLINDER) {
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (const ERPoint3D& p : points)
      if (const V v = vec(p); finite(v)) {
        const double s = dot(sub(v, c), a);
        lo = std::min(lo, s), hi = std::max(hi, s);
      }
    if (!(lo <= hi)) return refuse("too few points");
    P = {add(c, mul(a, lo)), add(c, mul(a, hi))};
  } else {
    P = {c};
  }
  Frame f;
  if (const std::string why = buildFrame(datums, !position, f); !why.empty()) return refuse(why);

  if (position) {
    auto value = [&](double theta) {
      const V o = f.point(nom.o, theta), d = f.direction(nom.d, theta);
      std::vector<V> r, basis;
      for (const V& p : P) r.push_back(kind == gmForm::SPHERE ? sub(p, o) : across(sub(p, o), d));
      for (const V& s : f.freeShifts) {
        V w = kind == gmForm::SPHERE ? s : across(s, d);
        for (const V& b : basis) w = sub(w, mul(b, dot(w, b)));
        if (norm(w) > 1e-9) basis.push_back(unit(w));
      }
      return 2 * leastFarthest(r, basis);
    };
    double theta = 0;
    auto each = [&](double h, int n, double* v) {
      for (int i = 0; i < n; ++i) v[i] = value(i * h);
    };
    out.value = f.freeTurn ? leastOverTurn(value, each, theta) : value(0);
    out.cylindrical = 1;
    if (kind != gmForm::SPHERE) {
      const V d = f.direction(nom.d, theta);
      out.zone = ERVector3D(d[0], d[1], d[2]);
    }
  } else {
    // The angle between the feature and the primary datum, as the drawing and as the nominal
    // has it.
    const V d1 = unit(vec(datums[0].nominal.direction));
    const bool samePair =
        (kind == gmForm::PLANE) == (datums[0].nominal.type == gmDatumElement::PLANE);
    const double between = std::acos(std::min(1.0, std::fabs(dot(nom.d, d1))));
    const double nominalAngle = samePair ? between : std::numbers::pi / 2 - between;
    const double asked = tol.kind == gmTolerance::PARALLELISM        ? 0
                         : tol.kind == gmTolerance::PERPENDICULARITY ? std::numbers::pi / 2
                                                                     : tol.angle;
    if (!(asked >= 0 && asked <= std::numbers::pi / 2))
      return refuse("the angle must lie between 0 and 90 degrees");
    if (std::fabs(asked - nominalAngle) > 1e-4)
      return refuse("the nominal lies at " + degrees(nominalAngle) + " degrees to datum " +
                    datums[0].name + ", not " + degrees(asked));
    if (kind == gmForm::CYLINDER && norm(across(nom.d, d1)) <= 1e-4) {
      const V z = f.rot(nom.d);
      out.value = norm(across(sub(P[1], P[0]), z));
      out.cylindrical = 1;
      out.zone = ERVector3D(z[0], z[1], z[2]);
    } else {
      const V nz0 = kind == gmForm::PLANE ? nom.d : unit(across(d1, nom.d));
      auto width = [&](double theta) {
        const V n = f.direction(nz0, theta);
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        for (const V& p : P) {
          const double s = dot(p, n);
          lo = std::min(lo, s), hi = std::max(hi, s);
        }
        return hi - lo;
      };
      double theta = 0;
      // Points are measured from their first: far-off parts keep their digits.
      for (std::size_t i = 1; i < P.size(); ++i) P[i] = sub(P[i], P[0]);
      P[0] = {0, 0, 0};
      // The whole sampling in one pass over the points (the same products, in the same order).
      auto widths = [&](double h, int n, double* v) {
        // Separate arrays of a fixed size: the loop over the sampling vectorises.
        double nx[kTurnSamples], ny[kTurnSamples], nz[kTurnSamples], lo[kTurnSamples],
            hi[kTurnSamples];
        n = std::min(n, kTurnSamples);
        std::fill_n(lo, n, HUGE_VAL), std::fill_n(hi, n, -HUGE_VAL);
        for (int i = 0; i < n; ++i) {
          const V d = f.direction(nz0, i * h);
          nx[i] = d[0], ny[i] = d[1], nz[i] = d[2];
        }
        for (const V& p : P)
          for (int i = 0; i < n; ++i) {
            const double s = p[0] * nx[i] + p[1] * ny[i] + p[2] * nz[i];
            lo[i] = std::min(lo[i], s), hi[i] = std::max(hi[i], s);
          }
        for (int i = 0; i < n; ++i) v[i] = hi[i] - lo[i];
      };
      out.value = f.freeTurn ? leastOverTurn(width, widths, theta) : width(0);
      const V n = f.direction(nz0, theta);
      out.zone = ERVector3D(n[0], n[1], n[2]);
    }
  }
  out.ok = 1;
  out.inTolerance = out.value <= tol.tolerance ? 1 : 0;
  return out;
}
