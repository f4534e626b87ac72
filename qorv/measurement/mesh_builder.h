// qorv/measurement/mesh_builder.h
//
// gmProcessMesh: the callback object through which a surface delivers its tessellation and
// wireframe polylines to the host. The host derives from it and overrides the callbacks; the
// library only stores the display quality and the chordal deviation and answers the densities.
//
// Conventions a caller gets wrong:
// - tessellate(surface) brackets the surface's own tessalate(*this) between
//   on_begin_tessellation() and on_end_tessellation().
// - The surfaces hand each iso-line to on_add_polyline() already discretised at the chordal
//   deviation; on_add_wireframe(curve, range) is the entry for a host's own curves and, by
//   default, discretises them the same way.
// - u_density() and v_density() are the numbers of iso-line intervals a surface draws (2 by
//   default: its two limits and the middle); a value below 1 counts as 1.
// - The display quality is 21 when only the deviation is given.
#pragma once

#include "qorv/foundation/angles.h"
#include "qorv/foundation/points.h"
#include "qorv/support/quick_algebra.h"

class ERAnyBoundedSurface;
class ERFiniteEntity3DWF;

class QORV_API gmProcessMesh {
 public:
  gmProcessMesh(int displayQuality, double chordalDeviation)
      : quality_(displayQuality), deviation_(chordalDeviation) {}
  explicit gmProcessMesh(double chordalDeviation) : quality_(21), deviation_(chordalDeviation) {}
  gmProcessMesh(const gmProcessMesh&) = default;
  gmProcessMesh& operator=(const gmProcessMesh&) = default;

  virtual void tessellate(const ERAnyBoundedSurface& surface);
  virtual void on_begin_tessellation() {}
  virtual void on_add_wireframe(const ERFiniteEntity3DWF& curve, const ERLimites& range);
  virtual void on_add_polyline(const QuickAlgebra::ERVec<ERPoint3D>&) {}
  virtual void on_end_tessellation() {}
  virtual int u_density() const { return 2; }
  virtual int v_density() const { return 2; }
  virtual ~gmProcessMesh() = default;

  double chordal_deviation() const { return deviation_; }
  int display_quality() const { return quality_; }

 private:
  int quality_;
  double deviation_;
};
