// tests/measurement/inspection_draws.h
//
// Random inspection features for the property tests: frames turned anyhow, one in three
// left-handed, off the origin; every kind, with angle windows anywhere on the circle.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "qorv/measurement/inspection.h"
#include "tests/surfaces/bounded_draws.h"

namespace qorv_test {

inline ERPmIsometrie3D randomFrame(std::mt19937_64& rng, double offset, bool mayMirror = true) {
  std::normal_distribution<double> g;
  const ERVector3D z = ERVector3D(g(rng), g(rng), g(rng)).normalize();
  const ERVector3D a(g(rng), g(rng), g(rng));
  const ERVector3D x = (a - (a * z) * z).normalize();
  const ERPoint3D o(offset * g(rng), offset * g(rng), offset * g(rng));
  // One frame in three left-handed: the patch is then the mirror image of its local form.
  if (mayMirror && rng() % 3 == 0) return qorv_test::frameFromAxes(x, z ^ x, -1.0 * z, o);
  return ERChgRepere3D(x, z ^ x, o);
}

// A feature of the kind with random limits (angle windows anywhere on the circle), its frame
// off the origin by about offset (100 sizes unless given).
inline gmInspectionFeature randomFeature(gmInspectionFeature::Kind kind, std::mt19937_64& rng,
                                         double scale, double offset = -1) {
  constexpr double pi = std::numbers::pi;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const ERPmIsometrie3D frame = randomFrame(rng, offset < 0 ? 100 * scale : offset);
  const auto material = rng() % 2 ? gmInspectionFeature::INSIDE : gmInspectionFeature::OUTSIDE;
  const double a0 = -2 * pi + 4 * pi * u(rng),
               a1 = a0 + (rng() % 4 == 0 ? 2 * pi : 0.2 + 5.5 * u(rng));
  switch (kind) {
    case gmInspectionFeature::PLANE: {
      const double u0 = -scale * u(rng), u1 = scale * u(rng);
      const double v0 = -scale * u(rng), v1 = scale * u(rng);
      return {"f", kind, frame, 0, 0, u0, u1, v0, v1, material, -1, 1};
    }
    case gmInspectionFeature::CYLINDER: {
      const double r = scale * (0.2 + u(rng)), v0 = -scale * u(rng), v1 = scale * u(rng);
      return {"f", kind, frame, r, 0, a0, a1, v0, v1, material, -1, 1};
    }
    case gmInspectionFeature::CONE: {
      const double half = 0.1 + 1.3 * u(rng), v0 = scale * u(rng), v1 = scale * (1 + u(rng));
      return {"f", kind, frame, half, 0, a0, a1, v0, v1, material, -1, 1};
    }
    case gmInspectionFeature::SPHERE: {
      const double b0 = -pi / 2 + pi * u(rng) * 0.9, b1 = std::min(pi / 2, b0 + 0.1 + pi * u(rng));
      return {"f", kind, frame, scale * (0.2 + u(rng)), 0, a0, a1, b0, b1, material, -1, 1};
    }
    case gmInspectionFeature::TORUS: {
      const double R = scale * (1 + u(rng)), r = R * (0.05 + 0.9 * u(rng));
      const double b0 = -3 * pi + 4 * pi * u(rng),
                   b1 = b0 + (rng() % 4 == 0 ? 2 * pi : 0.2 + 5.5 * u(rng));
      return {"f", kind, frame, R, r, a0, a1, b0, b1, material, -1, 1};
    }
    case gmInspectionFeature::SURFACE:
      break;
  }
  return {"f", kind, frame, 1, 0, 0, 1, 0, 1, material, -1, 1};
}

}  // namespace qorv_test
