// qorv/measurement/tolerances.h
//
// Orientation and location of a measured feature against a datum reference frame: position of
// an axis, a circle's or a sphere's centre; parallelism, perpendicularity and angularity of a
// plane or an axis. Each gives the zone's width (the tolerance's value) and its verdict.
//
// Conventions a caller gets wrong:
// - Datums are given in order (primary, secondary, tertiary), each with its nominal element and
//   its measured one (the least-squares fit of its points is what the inspection uses): a plane
//   (normal and a point), an axis (direction and a point) or a point (a sphere's centre). The
//   primary must fix a direction (a plane or an axis). The frame is built 3-2-1: the primary's
//   direction; the turn about it from the first later datum whose direction is not parallel to
//   it (projected square to it), else from the line joining the first two located points across
//   it (an axis parallel to it, a centre); the origin from the constraints taken in datum order,
//   each kept when it adds a direction. What no datum fixes floats: the true element may turn
//   about the primary direction and slide along the free directions to make the zone smallest.
//   A datum that adds nothing to the earlier ones is refused, naming it. Each tolerance floats
//   on its own: the features of a pattern are not held to one shared move.
// - Measured directions have no sign of their own: each takes the sign of its nominal, so the
//   points must already be in the part's coordinates (after alignment).
// - The true element is the nominal one carried by the move that takes the nominal datums onto
//   the measured ones (the nominal's geometry gives the basic dimensions and angles).
// - Position: 2 x the largest distance from the true axis of the measured axis' ends (the axis
//   clipped to the extent of the feature's points along it); of a sphere's centre from the true
//   centre; of a circle's centre from the true axis (in the circle's plane). Zones are always
//   cylindrical or spherical (the diameter symbol assumed).
// - Orientation: the zone is two parallel planes at the nominal angle to the datums, holding
//   every point of a plane feature, or both ends of an axis; its width is their extent along the
//   zone's normal. An axis parallel to a datum axis or square to a datum plane has a cylindrical
//   zone instead (its diameter: the distance between the ends across the zone's direction). When
//   only the primary orients the zone, the width is minimised over the turn about the primary's
//   direction (the zone stays at its angle). The zone's location is always free.
// - Parallelism asks for a nominal angle of 0, perpendicularity 90 degrees, angularity the angle
//   given (between the feature and the datum, planes by their surfaces, axes by their lines): a
//   nominal whose own geometry disagrees by more than 1e-4 rad is refused.
// - Refused (ok = 0, reason): a feature or datum kind that cannot carry the tolerance, a missing
//   or non-finite element, fewer than 2 points (1 for a centre), a primary that is a point.
//
// Nothing here is stored.
#pragma once

#include <string>
#include <vector>

#include "qorv/foundation/points.h"
#include "qorv/measurement/form.h"

struct QORV_API gmTolerance {
  enum Kind { POSITION, PARALLELISM, PERPENDICULARITY, ANGULARITY };
  // "position", "parallelism", "perpendicularity", "angularity".
  static const char* kindName(Kind k);
  static int parseKind(const std::string& s, Kind& k);
};

// An element of a feature or datum: a plane (point, unit normal), an axis (point, unit
// direction) or a point.
struct QORV_API gmDatumElement {
  enum Type { PLANE, AXIS, POINT };
  Type type = PLANE;
  ERPoint3D point;
  ERVector3D direction;
};

struct QORV_API gmDatum {
  std::string name;  // in reasons
  gmDatumElement nominal, measured;
};

// What a drawing asks of one feature.
struct QORV_API gmToleranceSpec {
  gmTolerance::Kind kind = gmTolerance::POSITION;
  double tolerance = 0;             // the widest zone allowed
  std::vector<std::string> datums;  // names, primary first
  double angle = 0;                 // angularity, radians
};

struct QORV_API gmToleranceResult {
  int ok = 0;
  std::string reason;    // why not, when ok = 0
  double value = 0;      // the zone's width or diameter
  int inTolerance = -1;  // 1, 0; -1 when not judged
  int cylindrical = 0;   // the zone is a cylinder or sphere (its diameter is the value)
  ERVector3D zone;       // the zone's normal (planes) or axis (cylinder); zero for a sphere
};

// The tolerance of a feature: kind one of gmForm's PLANE, CYLINDER, CIRCLE3D, SPHERE; nominal
// its true element in the part's coordinates (a plane's normal, a cylinder's or circle's axis,
// a centre); fit its measured element (a gmFit result of that kind); points the feature's
// points (a plane's width and an axis' extent come from them).
QORV_API gmToleranceResult gmEvaluateTolerance(const gmToleranceSpec& tol, gmForm::Kind kind,
                                               const gmDatumElement& nominal,
                                               const gmFormResult& fit,
                                               const std::vector<ERPoint3D>& points,
                                               const std::vector<gmDatum>& datums);
