// qorv/measurement/form.h
//
// Form and size of measured features by association: the element a set of points defines and
// how far the points stray from it, for lines (in the plane and in space), planes, circles (in
// the plane, and in space in their fitted plane), spheres, cylinders and cones.
//   least-squares   the element minimising the sum of squared orthogonal distances; the form is
//                   the spread of the residuals (max - min), rms their root mean square
//   minimum-zone    the narrowest pair of parallel / concentric / coaxial elements holding every
//                   point (straightness, flatness, roundness, sphericity, cylindricity,
//                   conicity); in space a line's zone is the thinnest cylinder about it
//   inscribed       the largest circle / sphere / cylinder with every point outside or on it
//   circumscribed   the smallest one with every point inside or on it
//                   (no cone: its radius and half-angle trade against each other, so no one
//                   cone is the largest or smallest; a cone asked for either is refused)
//
// Conventions a caller gets wrong:
// - width is the form: the zone's width (a line in space: the zone cylinder's DIAMETER) for the
//   minimum zone; the residuals' spread about the element for the other associations. size is
//   a diameter (circles, spheres, cylinders; a cone's at element.point), 0 for lines and planes;
//   for the minimum zone it is the mean of the two boundaries.
// - Residuals are signed distances: positive outside a circle, sphere, cylinder or cone, on the
//   normal's side of a plane, left of a line in the plane. The upper boundary holds the points
//   of largest residual: the outer circle of a zone, the outer cylinder.
// - A circle in space is fitted in the least-squares plane of its points: the points are
//   projected on it first, whatever the association.
// - certified holds the optimality conditions to 1e-5 of the gradients' size, not to the
//   rounding: where the zone is flat to first order in some direction of the element (contacts
//   whose gradients ignore it), the element is fixed there only to about the square root of the
//   rounding. The width is unaffected (its error is second order).
// - The 2D kinds read x and y only. A cone's element is a point of its axis (near the points'
//   centroid), the axis pointing to where the cone widens, the half-angle and the radius at
//   that point. Normals and axes have no preferred sign unless axisHint gives one.
// - Too few points, non-finite coordinates or a set that fixes no element (collinear points
//   for a circle or a plane, coplanar points for a sphere) are refused: ok = 0 and reason says
//   why. An inscribed element the points do not bound (an arc of less than half a turn) is
//   refused too.
// - The data are centred on their centroid and scaled to unit size before anything else, so
//   far-off frames (1e5 x the feature's size away) and magnitudes from 1e-300 to 1e300 lose
//   nothing beyond the rounding of the input.
//
// Least squares is Gauss-Newton (Levenberg-Marquardt damped) on orthogonal distances from an
// algebraic start (planes and lines: the principal axes; circles and spheres: the algebraic
// fit). A cylinder without a hint starts from the principal axis about which the points' best
// algebraic circle fits best (the next if that one does not converge); a cone from its best
// cylinder's axis, the half-angle from the radii's regression along it.
//
// Minimum zone, inscribed and circumscribed are a sequence of linear programmes on the
// linearised distances (a trust region bounds each step), from the least-squares element until
// the zone stops narrowing; each programme is solved as its dual by a revised simplex over an
// exchanged working set of points (gmSolveLinearZone). The certificate is the last programme's
// dual: the contact points of each boundary with weights >= 0 summing to 1 whose weighted
// gradients balance (stationarity), every contact on its boundary. For the plane, the line and
// circles, spheres and cylinders of moderate form error this is the global optimum; for
// nonconvex problems it certifies a local one (the start from least squares is what the
// standards' reference algorithms use too). The reported width is evaluated exactly at the
// element, so it is never below the true minimum for that element.
//
// Nothing here is stored.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "qorv/foundation/points.h"

struct QORV_API gmForm {
  enum Kind { LINE2D, LINE3D, PLANE, CIRCLE2D, CIRCLE3D, SPHERE, CYLINDER, CONE };
  enum Association { LEAST_SQUARES, MINIMUM_ZONE, INSCRIBED, CIRCUMSCRIBED };
  // "line2d", "line3d", "plane", "circle2d", "circle3d", "sphere", "cylinder", "cone".
  static const char* kindName(Kind k);
  // "least-squares", "minimum-zone", "inscribed", "circumscribed".
  static const char* associationName(Association a);
  // 1 and the value when the name is one of the above ("line" and "circle" are accepted for
  // the 3D kinds), else 0.
  static int parseKind(const std::string& s, Kind& k);
  static int parseAssociation(const std::string& s, Association& a);
  // Fewest points the kind takes.
  static int minimumPoints(Kind k);
};

struct QORV_API gmFormElement {
  ERPoint3D point;    // a point of the line or plane, the centre, a point of the axis
  ERVector3D axis;    // unit: line direction, plane or circle normal, cylinder or cone axis
  double radius = 0;  // circle, sphere, cylinder; cone: at point
  double angle = 0;   // cone half-angle, radians, in [0, pi/2)
};

struct QORV_API gmFormResult {
  int ok = 0;
  std::string reason;  // why not, when ok = 0
  gmForm::Kind kind = gmForm::PLANE;
  gmForm::Association association = gmForm::LEAST_SQUARES;
  gmFormElement element;
  double width = 0;                // the form (see above)
  double size = 0;                 // a diameter
  double rms = 0;                  // root mean square residual about the element
  double lowest = 0, highest = 0;  // extreme residuals about the element
  int iterations = 0;
  // Minimum zone, inscribed, circumscribed: indices of the points on each boundary in the last
  // programme's certificate, with their dual weights.
  std::vector<int> upperContacts, lowerContacts;
  std::vector<double> upperWeights, lowerWeights;
  double stationarity = 0;  // |weighted gradient balance|, relative to the gradients' size
  int certified = 0;        // the optimality conditions hold (weights, balance, contacts)
};

// The association of the points; axisHint (zero: none) gives a cylinder's or cone's starting
// axis and the preferred sign of an axis or normal.
QORV_API gmFormResult gmFit(const std::vector<ERPoint3D>& points, gmForm::Kind kind,
                            gmForm::Association association,
                            const ERVector3D& axisHint = ERVector3D());
QORV_API gmFormResult gmFit(const std::vector<ERPoint2D>& points, gmForm::Kind kind,
                            gmForm::Association association);

// The local sizes of a circle or cylinder between opposite points (ISO two-point size): for each
// point, the distance to the point most nearly opposite it through the element's axis (for a
// cylinder, among those within the same axial band of one tenth the radius). min and max of
// those; 0 when the result is not a circle or cylinder or no pair exists.
QORV_API int gmTwoPointSize(const std::vector<ERPoint3D>& points, const gmFormResult& fit,
                            double& minSize, double& maxSize);

// The linear Chebyshev problem: find p (n <= 5) minimising h - l (both sides), h (upper only)
// or -l (lower only) with l <= g_i + J_i p <= h for every i and |p_j| <= trust. J is m x n,
// row-major. Exposed so that a benchmark can hand the same problem to another solver.
struct QORV_API gmLinearZone {
  int n = 0;
  bool upper = true, lower = true;
  double trust = 1;
  std::size_t m = 0;
  const double* g = nullptr;
  const double* J = nullptr;
};

struct QORV_API gmZoneSolution {
  int ok = 0;
  std::vector<double> p;
  double h = 0, l = 0;
  std::vector<int> upperContacts, lowerContacts;  // the dual's support
  std::vector<double> upperWeights, lowerWeights;
  int trustActive = 0;  // a trust bound carries weight: the step is cut short
  int pivots = 0;
};

QORV_API gmZoneSolution gmSolveLinearZone(const gmLinearZone& zone);

// The linearisation the minimum zone starts from (at the least-squares element, in the centred
// and scaled frame): g (m) and J (m x n). 0 when the least-squares fit is refused.
QORV_API int gmFormLinearisation(const std::vector<ERPoint3D>& points, gmForm::Kind kind,
                                 gmForm::Association association, int& n, std::vector<double>& g,
                                 std::vector<double>& J);

namespace qorv::detail {
// Jacobi sweeps on a symmetric 3 x 3 matrix: m ends diagonal (the eigenvalues), v holds the
// eigenvectors as columns. Shared by the fits here and the inspection's plane fit.
QORV_API void jacobi3(double m[3][3], double v[3][3]);
}  // namespace qorv::detail
