// Curves: a measured bore against its nominal circle, the nearest point on a segment, and the
// crossings of an arc with a line.
#include <cstdio>

#include "qorv/qorv.h"

int main() {
  const ERCircle2D bore(ERPoint2D(30, 15), 6.35);
  const ERPoint2D probe(36.4, 15.2);
  double d = 0, u = 0;
  bore.SignedMinimalDistance(probe, d);
  std::printf("probe (%g, %g) is %.4f from the bore (negative inside)\n", probe.x(), probe.y(), d);

  const ERSegment2D edge(ERPoint2D(0, 0), ERPoint2D(120.5, 40.25));
  edge.SignedMinimalDistance(ERPoint2D(60, 30), d, u);
  const ERPoint2D foot = edge(u);
  std::printf("nearest point of the edge to (60, 30): (%.4f, %.4f), distance %.4f\n", foot.x(),
              foot.y(), d);

  // A quarter arc of radius 1 and the line x + y = 1.2: two crossings.
  const ERArc2D arc(ERPoint2D(0, 0), 1.0, 0.0, 1.5707963267948966);
  QuickAlgebra::ERVec<double> params;
  arc.intersectWith(ERPoint2D(0.6, 0.6), ERVector2D(1, -1), params);
  for (int i = 0; i < params.length(); ++i) {
    const ERPoint2D q = arc(params[i]);
    std::printf("arc crosses x + y = 1.2 at (%.7f, %.7f)\n", q.x(), q.y());
  }
  std::printf("arc length %.6f, box [%g, %g] x [%g, %g]\n", arc.arcLength(1e-9), arc.getBox().xmin(),
              arc.getBox().xmax(), arc.getBox().ymin(), arc.getBox().ymax());
  return 0;
}
