// Points, vectors and the transformations that move them: a probe frame in space, a similitude,
// and a rotation in the plane. A host's first task: put measured points in the part's frame.
#include <cmath>
#include <cstdio>

#include "qorv/qorv.h"

using namespace qorv;

int main() {
  // The part's frame: X along the machine's Y, Z up, origin at (100, 20, 5).
  const ERPmIsometrie3D part(
      ERChgRepere3D(ERVector3D(0, 1, 0), ERVector3D(0, 0, 1), ERPoint3D(100, 20, 5)));
  const ERPoint3D measured(103, 27, 5);
  // Machine coordinates into the part's frame and back again.
  const ERPoint3D local = ~part * measured;
  const ERPoint3D back = part * local;
  std::printf("measured (%g, %g, %g) is (%g, %g, %g) in the part's frame\n", measured.x(),
              measured.y(), measured.z(), local.x(), local.y(), local.z());
  if (distance(back, measured) > 1e-12) return 1;

  // A rotation of 30 degrees in the plane, then a scaling by 2 about (1, 1).
  const ERTransfo2D turn = rotation(ERRadian(std::acos(-1.0) / 6));
  const ERTransfo2D grow(2.0, ERPoint2D(1, 1));
  const ERPoint2D p = (grow * turn) << ERPoint2D(1, 0);
  std::printf("(1, 0) turned by 30 degrees and scaled by 2 about (1, 1): (%.6f, %.6f)\n", p.x(),
              p.y());

  // Unit vectors stay exact whatever the magnitude.
  const ERVector3D tiny = ERVector3D(3e-200, 4e-200, 0).normalize();
  std::printf("direction of (3e-200, 4e-200, 0): (%g, %g, %g)\n", tiny.x(), tiny.y(), tiny.z());
  return 0;
}
