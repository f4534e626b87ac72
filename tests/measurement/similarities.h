// tests/measurement/similarities.h
//
// Similarities for the measurement property tests, p -> s R (mirror p) + t, and the six frames
// the tests judge in: as built, turned, mirrored and scaled by -2.5, far off, tiny and huge (off
// the origin by `off` of their sizes). Planar kinds turn about z only and stay in z = 0.
#pragma once

#include <cmath>
#include <numbers>
#include <random>

#include "qorv/foundation/points.h"

namespace qorv_test {

struct Similarity {
  ERVector3D c[3] = {ERVector3D(1, 0, 0), ERVector3D(0, 1, 0), ERVector3D(0, 0, 1)};  // R's columns
  double s = 1;
  bool mirror = false;
  ERVector3D t;
  ERVector3D lin(const ERVector3D& v) const {
    return s * ((mirror ? -v.x() : v.x()) * c[0] + v.y() * c[1] + v.z() * c[2]);
  }
  ERPoint3D operator()(double x, double y, double z) const {
    return ERPoint3D(0, 0, 0) + lin(ERVector3D(x, y, z)) + t;
  }
  ERPoint3D operator()(const ERPoint3D& p) const { return (*this)(p.x(), p.y(), p.z()); }
};

// A turn by up to most about a random axis (z when planar), by Rodrigues' formula.
inline Similarity turned(std::mt19937_64& rng, double most, bool planar = false) {
  std::normal_distribution<double> n;
  const ERVector3D k =
      planar ? ERVector3D(0, 0, 1) : ERVector3D(n(rng), n(rng), n(rng)).getnormalized();
  const double a = std::uniform_real_distribution<double>(-most, most)(rng);
  Similarity m;
  for (ERVector3D& v : m.c)
    v = std::cos(a) * v + std::sin(a) * (k ^ v) + ((1 - std::cos(a)) * (k * v)) * k;
  return m;
}

inline Similarity frameOf(int which, std::mt19937_64& rng, bool planar = false, double off = 1) {
  Similarity m = which == 0 ? Similarity() : turned(rng, std::numbers::pi, planar);
  const double tz = planar ? 0.0 : 1.0;
  if (which == 2) m.mirror = true, m.s = -2.5;
  if (which == 3) m.t = ERVector3D(7e4, -3e4, 5e4 * tz);
  if (which == 4) m.s = 1e-300, m.t = off * 1e-300 * ERVector3D(3, -1, 2 * tz);
  if (which == 5) m.s = -1e300, m.mirror = true, m.t = off * 1e300 * ERVector3D(2, 1, -tz);
  return m;
}

}  // namespace qorv_test
