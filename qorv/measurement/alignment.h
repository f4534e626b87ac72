// qorv/measurement/alignment.h
//
// Alignment of measured points to the nominal part: the rigid move that brings a scanner's cloud
// or a CMM run made without the part's frame into the part's coordinates, so that deviations
// mean something. Best fit to the exact nominal surfaces (each point against the global nearest
// point of the features, not a mesh), from a given start or from anywhere, and the 3-2-1 datum
// alignment of measuring programs.
//
// Conventions a caller gets wrong:
// - The transformation maps MEASURED coordinates to NOMINAL ones: nominal = T >> measured. It is
//   a proper rigid move (det R = +1), never a mirror or a scale.
// - Points are probe centres: the residual of a point is its compensated deviation (the same as
//   the inspection's), (T p - foot) . outward - diameter / 2, the diameter the point's own or
//   the default. Each point is fitted to the feature the inspection gives it: the one it names,
//   else, at every iteration, the one whose foot is nearest the moved probe centre (the lowest
//   index among equally near ones); so the residuals at the answer are the inspection's
//   deviations. Points naming a feature the nominal lacks, without a single foot or not finite
//   are left out. Not the smallest residual: a point in the plane of a face but beyond its edge
//   has no residual against it, yet belongs to the face it lies near. The price falls on a patch
//   that reaches over a hole: an untrimmed top plane whose rectangle covers a bore takes the
//   unnamed probe centres in the bore that lie within their radius of its plane (its foot is
//   nearer than the wall's), with a residual of minus the radius and more. Trim such a plane (a
//   trimmed face) or name the bore's points. Points on a few features of such a nominal, unnamed,
//   are drawn to its overreaching patches from a start some millimetres off.
// - Past 10^4 points the iterations run on a fixed draw of 5000 of them until they settle, and
//   the last on all of them: the answer is the minimum over all the points.
// - Angles: R = Rz(rz) Ry(ry) Rx(rx) (turn about X first), radians, rx and rz in (-pi, pi],
//   ry in [-pi/2, pi/2]. The uncertainties of the turns are those of a small turn w applied
//   after T (R' = exp(w) R) about the nominal X, Y, Z axes (the angles' own near the identity);
//   those of the translation are of T's translation itself, so they hold the share of the turn's
//   uncertainty that a far-off part carries. Both are sigma^2 (J^T W J)^-1 at the solution, sigma^2
//   the weighted residual sum over (points used - free parameters): a model with normal noise
//   and no systematic error.
// - Fixed degrees of freedom are turns about and shifts along the NOMINAL axes. When a shift is
//   fixed the turns are about the nominal origin; otherwise about the points' centroid (better
//   conditioned for parts far from the origin; the result is the same move).
// - The robust loss weights each point by Huber's or Tukey's function of its residual over a
//   scale of 1.4826 times the median absolute residual, redrawn at each iteration; so a few
//   percent of gross outliers leave the move where the other points put it.
// - The start from anywhere matches the points' centroid and principal axes to those of the
//   nominal's area: it needs points spread over the part much as its area is. Points on a few
//   features only should start from a frame near the answer (fromAnywhere = 0). From a given
//   start with no degree of freedom fixed, the principal-axes starts within 60 degrees of it
//   are tried beside it and the best end kept, so that a start some 45 degrees off still
//   reaches the answer.
// - maxDistance: points whose residual exceeds it after convergence are unassigned (listed, left
//   out of the statistics and of a final refit).
// - A move the points do not fix (a plain cylinder turned about or slid along its axis, a plane
//   slid in itself, a part with a symmetry the start from anywhere cannot tell apart) sets
//   ambiguous and names the free directions; the move returned is then one of the equally good
//   ones, the free parameters held where the start put them.
// - Datums: the points naming a datum's feature are fitted (plane, cylinder, sphere; a plane
//   feature is a plane, a cylinder an axis, a sphere a centre). The primary fixes a direction
//   (plane normal or axis), the secondary the turn about it (its normal or axis projected square
//   to the primary), the tertiary what remains of the origin; each datum's constraints are taken
//   in order and one that adds nothing new is skipped. A fitted normal or axis has no sign of its
//   own: it takes the sign that puts the centroid of all points on the same side as the nominal
//   features' box centre is of the nominal datum.
//
// - Reference points (RPS): each names a measured point by id and fixes some of its nominal
//   coordinates (x, y, z of the nominal frame). The move makes the fixed coordinates of the moved
//   points equal their values: exactly with six independent fixes, in the least-squares sense
//   with more. A set that leaves a motion free (fewer than six fixes, or six that do not hold a
//   turn or a shift) is refused and the free motions named. The centres are taken as they are
//   (no probe compensation: the values are of the same point). Six fixes have up to four exact
//   solutions (3-2-1: the second point on either side of the first, the third likewise): the
//   one reached from the start is returned. The start is the best turn of the points whose three
//   nominal coordinates are all given (given but not fixed, they steer the start only), else the
//   points' own frame shifted onto the fixed values. rms, maxResidual and the uncertainties are
//   those of the fixed coordinates; used counts the reference points; the first measured point
//   of an id with a finite centre is the one used.
//
// Nothing here is stored; the tool stores an alignment with the results (see its README).
#pragma once

#include <cmath>
#include <istream>
#include <string>
#include <vector>

#include "qorv/foundation/transfo3d.h"
#include "qorv/measurement/inspection.h"
#include "qorv/measurement/measured_points.h"

struct QORV_API gmAlignmentOptions {
  enum Loss { LEAST_SQUARES, HUBER, TUKEY };
  // Turns about X, Y, Z and shifts along X, Y, Z of the nominal frame held at the start's.
  bool fixed[6] = {false, false, false, false, false, false};
  Loss loss = HUBER;
  double tuning = 0;  // the loss's constant in scales; 0: 1.345 (Huber), 4.685 (Tukey)
  double maxDistance = HUGE_VAL;
  double defaultDiameter = 0;
  int maxIterations = 200;
  // 1: start from the principal axes of the points against those of the nominal (ignoring
  // start); 0: start from start.
  int fromAnywhere = 0;
  ERPmIsometrie3D start;
  // Threads evaluating the residuals (sets of a few thousand points or more); 0: every core.
  // The result does not depend on it.
  int threads = 0;
};

struct QORV_API gmAlignment {
  int ok = 0;  // 0: too few usable points or nothing to align to
  ERPmIsometrie3D transfo;
  double matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // row-major, 4 x 4
  double angles[3] = {0, 0, 0};                                          // rx, ry, rz
  double translation[3] = {0, 0, 0};
  double sigma[6] = {0, 0, 0, 0, 0, 0};  // turns about X, Y, Z, then shifts; 0 when fixed
  double rms = 0, maxResidual = 0;
  int iterations = 0;
  int used = 0;
  std::vector<int> unassigned;  // indices in the points
  int ambiguous = 0;
  std::string freeDirections;  // "turn about (x, y, z) through (x, y, z); shift along (x, y, z)"
  std::string problem;         // why not ok
};

// The best rigid fit of the points to the features.
QORV_API gmAlignment gmBestFitAlignment(const std::vector<gmInspectionFeature>& features,
                                        const std::vector<gmMeasuredPoint>& points,
                                        const gmAlignmentOptions& options = {});

// 3-2-1: datums names the primary, secondary and tertiary features by id. The statistics are
// those of the points against the features after the move (each to its feature as above).
QORV_API gmAlignment gmDatumAlignment(const std::vector<gmInspectionFeature>& features,
                                      const std::vector<gmMeasuredPoint>& points,
                                      const std::vector<std::string>& datums,
                                      double defaultDiameter = 0);

// A reference point: the measured point of this id, the nominal coordinates it fixes and their
// values (NaN where not given).
struct QORV_API gmReferencePoint {
  std::string id;
  bool fixes[3] = {false, false, false};
  double nominal[3] = {NAN, NAN, NAN};
};

// Reads reference points, one a line: "id,fixes,x,y,z", fixes a set of the letters x, y, z (e.g.
// "xyz", "yz", "z"), each fixed coordinate with its value, the others empty or a value that only
// steers the start. Blank lines, lines opening with '#' and a first line opening with "id" are
// skipped. 1 when read; else 0, nothing kept and problem says which line and why.
QORV_API int gmReadReferencePoints(std::istream& in, std::vector<gmReferencePoint>& out,
                                   std::string& problem);

// The move that brings the reference points' fixed coordinates to their values.
QORV_API gmAlignment gmRpsAlignment(const std::vector<gmReferencePoint>& references,
                                    const std::vector<gmMeasuredPoint>& points);
