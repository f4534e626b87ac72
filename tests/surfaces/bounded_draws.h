// tests/surfaces/bounded_draws.h
//
// Random bounded surfaces for the property tests: placements turned, mirrored (left-handed,
// restored from a stored similitude) and far off; sizes from tiny to huge; angular limits in
// every window; both orientations of the linear limits.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>

#include "qorv/surfaces/bounded_surfaces.h"
#include "tests/object_images.h"
#include "tests/surfaces/surface_draws.h"

namespace qorv_test {

enum class Kind { Plane, Cylinder, Cone, Sphere, Torus };
inline const char* nameOf(Kind k) {
  static const char* names[] = {"plane", "cylinder", "cone", "sphere", "torus"};
  return names[static_cast<int>(k)];
}

inline void appendInt(Bytes& out, std::int32_t v) {
  for (int k = 0; k < 4; ++k)
    out.push_back(static_cast<unsigned char>(std::uint32_t(v) >> (8 * k)));
}

// The stored image of the map P -> [x y z] P + o, restored into an isometry envelope (the one
// way to hold a left-handed frame in one).
inline ERPmIsometrie3D frameFromAxes(const ERVector3D& x, const ERVector3D& y, const ERVector3D& z,
                                     const ERPoint3D& o) {
  Bytes b;
  appendInt(b, 3), appendInt(b, 3), appendInt(b, 72);
  const ERVector3D* c[3] = {&x, &y, &z};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) appendDouble(b, c[j]->data()[i]);
  for (double v : {o.x(), o.y(), o.z(), 1.0}) appendDouble(b, v);
  ERPmIsometrie3D T;
  restoreFrom(T, b);
  return T;
}

inline ERPmIsometrie3D mirroredOf(const ERPmIsometrie3D& T) {
  return frameFromAxes(T.getVector(Coord3D::X), T.getVector(Coord3D::Y), -T.getVector(Coord3D::Z),
                       T.origine());
}

struct BoundedDraw : Draw {
  using Draw::Draw;

  // A turned frame with its origin up to 3 far away from the coordinate origin, mirrored one
  // time in three.
  ERPmIsometrie3D placement(double far) {
    const ERPmIsometrie3D T = frame(far);
    return integer(0, 2) == 0 ? mirroredOf(T) : T;
  }
  // A window of angles: its lower limit anywhere in [-4pi, 4pi], its span up to a turn.
  ERLimites angles(double maxSpan = 2 * M_PI) {
    const double lo = uniform(-4 * M_PI, 4 * M_PI);
    return ERLimites(lo, lo + uniform(0.05, 1.0) * maxSpan);
  }
  ERLimites linear(double s, bool acrossZero = true) {
    const double a = uniform(acrossZero ? -2 : 0.1, 2) * s, b = a + uniform(0.1, 3) * s;
    return ERLimites(a, b);
  }

  // A surface of the kind of size s.
  std::unique_ptr<ERBoundedSurface> surface(Kind k, double s, double far) {
    const ERPmIsometrie3D T = placement(far);
    switch (k) {
      case Kind::Plane:
        return std::make_unique<ERBoundedPlane>(T, linear(s), linear(s));
      case Kind::Cylinder: {
        const double R = s * uniform(0.2, 2) * (integer(0, 7) == 0 ? -1 : 1);
        const ERLimites V = angles();
        auto c = std::make_unique<ERBoundedCylinder>(T, s, R, V.start(), V.end());
        c->setBound(linear(s), V);
        return c;
      }
      case Kind::Cone: {
        const double a0 = uniform(0.05, M_PI / 2 - 0.05);
        const double windows[] = {a0, -a0, M_PI - a0, a0 + M_PI};
        auto c = std::make_unique<ERBoundedCone>(T, windows[integer(0, 3)], 0, 1);
        c->setBound(linear(s), angles());
        return c;
      }
      case Kind::Sphere: {
        const double lo = uniform(-M_PI / 2, M_PI / 2 - 0.1);
        const ERLimites V(lo, lo + uniform(0.05, 1) * (M_PI / 2 - lo));
        return std::make_unique<ERBoundedSphere>(T, s * uniform(0.2, 2), angles(), V);
      }
      case Kind::Torus: {
        const double R = s * uniform(0.5, 3);
        const double r = integer(0, 3) == 0 ? R * uniform(1, 2) : R * uniform(0.05, 0.9);
        // A negative R, one time in eight: the same torus, its centres on the other side.
        return std::make_unique<ERBoundedTorus>(T, integer(0, 7) == 0 ? -R : R, r, angles(),
                                                angles());
      }
    }
    return nullptr;
  }
};

inline ERBoundedSurface* copyOf(const ERBoundedSurface& s) {
  return ERBoundedSurface::castdown(s.getCopy());
}

}  // namespace qorv_test
