// tests/surfaces/surface_draws.h
//
// What the surface property tests draw: directions, magnitudes from 1e-300 to 1e300, and
// tilted, far-off frames that may be mirrored (a frame maps local points into space).
#pragma once

#include <algorithm>
#include <cmath>
#include <random>

#include "qorv/foundation/transfo3d.h"

namespace qorv_test {

inline double maxAbs(const ERPoint3D& p) {
  return std::max({std::fabs(p.x()), std::fabs(p.y()), std::fabs(p.z())});
}

// A frame: T >> (x, +-y, z), the sign of y turning it into its mirror image.
struct Frame {
  ERPmIsometrie3D T;
  bool mirrored = false;
  ERPoint3D operator()(const ERPoint3D& p) const {
    return T >> ERPoint3D(p.x(), mirrored ? -p.y() : p.y(), p.z());
  }
  ERVector3D operator()(const ERVector3D& v) const {
    return T >> ERVector3D(v.x(), mirrored ? -v.y() : v.y(), v.z());
  }
  ERPoint3D origin() const { return T >> ERPoint3D(); }
};

struct Draw {
  explicit Draw(unsigned seed) : rng(seed) {}
  std::mt19937_64 rng;
  double uniform(double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng); }
  int integer(int lo, int hi) { return std::uniform_int_distribution<>(lo, hi)(rng); }
  ERVector3D direction() {
    for (;;) {
      const ERVector3D v(uniform(-1, 1), uniform(-1, 1), uniform(-1, 1));
      if (v.norme2() > 0.01 && v.norme2() <= 1) return v.getnormalized();
    }
  }
  // 10^e with e in [lo, hi], one magnitude in five near 1.
  double magnitude(double lo = -300, double hi = 300) {
    return integer(0, 4) == 0 ? 1.0 : std::pow(10.0, uniform(lo, hi));
  }
  ERPmIsometrie3D frame(double scale) {
    const ERVector3D x = direction();
    ERVector3D y = direction();
    while ((x ^ y).norme() < 0.1) y = direction();
    const ERPoint3D o(direction() * (scale * uniform(0, 3)));
    return ERChgRepere3D(x, y, o);
  }
  Frame placed(double scale) { return Frame{frame(scale), integer(0, 1) == 1}; }
};

}  // namespace qorv_test
