// qorv/surfaces/entity_normaliser.h
//
// EREntityNormaliser rewrites a placed entity (arc, elliptic arc, bounded cylinder, cone,
// sphere, torus) in the canonical frame of its Z axis, ERChgRepere3D(z, origin), so that two
// descriptions of one object that differ by a turn of the frame about Z compensated by the
// angular limits come out alike; Flip turns the Z axis over. All static, no data.
//
// Conventions a caller gets wrong:
// - ComputeNormalizationParameters gives the angle FROM the canonical X axis TO the entity's
//   X axis, positive counter-clockwise about the entity's Z: a point at angle t in the old
//   frame is at t + angle in the new one. A frame without a usable Z axis (zero, non-finite)
//   is kept as it is, with angle 0; a non-finite angle reads as 0.
// - The angular limits are shifted by the rule of IncrementAndFormatAngles, exactly: (1) both
//   less 2pi when either exceeds 2pi, (2) plus delta, (3) less 2pi when delta > 0 and either
//   exceeds 2pi, (4) plus 2pi when (delta < 0 and a1 < -2pi) or a2 < -2pi. Each step moves both
//   limits by whole turns or by delta, so the entity keeps every point.
// - Every point is kept, also where the plain recipe would lose it: a left-handed frame (one
//   restored from a mirror) runs its angles clockwise about Z, so its limits are negated before
//   the shift (a surface's pair [a, b] becomes [-b, -a], an arc's start and end each change
//   sign and keep their order); an arc whose plane circle is off the frame's origin keeps its
//   centre; an elliptic arc's limits are central angles from its own major axis, which turns with
//   the frame, so its foci are carried into the new frame and its limits stay (shifting them would
//   draw another arc).
// - The cylinder comes back with natural limits U = [-1, 1], V = [0, 2pi] (built with half-height
//   1) and its own trimmed limits, V shifted; the cone, sphere and torus keep their natural
//   limits (the angular pair shifted) and their trimmed ones (likewise).
// - Flip of an arc: frame with X kept and Y, Z reversed, origin at the arc's centre, limits
//   negated. Flip of a bounded cylinder: the placement turned half a turn about its X axis,
//   limits U and V negated (both pairs). Flip of a rectangle or a rounded slot: the frame turned
//   half a turn about its X axis, the plane shape mirrored in its x axis (corners and centres
//   (x, y) -> (x, -y), in the same order): every point stays where it was. The rectangle's
//   corners keep their order, so it is run through as before (a counter-clockwise rectangle is a
//   clockwise one in its new frame); a slot always runs counter-clockwise in its frame, so the
//   flipped slot runs the other way round in space and its parameter no longer names the same
//   points. Points and radii are kept.
#pragma once

#include "qorv/curves/circles.h"
#include "qorv/curves/ellipses.h"
#include "qorv/curves/planar_shapes.h"
#include "qorv/surfaces/bounded_surfaces.h"

class QORV_API EREntityNormaliser {
 public:
  // out = ERChgRepere3D(z of in, origin of in); angle from out's X to in's X; always 1.
  static int ComputeNormalizationParameters(const ERPmIsometrie3D& in, ERPmIsometrie3D& out,
                                            double& angle);

  static ERArc3D Normalise(const ERArc3D& arc);
  static ERArcEllipse3D Normalise(const ERArcEllipse3D& arc);
  static ERBoundedCylinder Normalise(const ERBoundedCylinder& s);
  static ERBoundedCone Normalise(const ERBoundedCone& s);
  static ERBoundedSphere Normalise(const ERBoundedSphere& s);
  static ERBoundedTorus Normalise(const ERBoundedTorus& s);

  static void Flip(ERArc3D& arc);
  static void Flip(ERBoundedCylinder& s);
  static void Flip(ERRectangle3D& r);
  static void Flip(ERRoundedSlot3D& r);

 protected:
  static void IncrementAndFormatAngles(double& a1, double& a2, double delta);
  static void IncrementAndFormatAngularLimits(ERLimites& lim, double delta);
};
