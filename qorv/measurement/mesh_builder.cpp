#include "qorv/measurement/mesh_builder.h"

#include "qorv/foundation/finite_entity.h"
#include "qorv/surfaces/parametric_surface.h"

void gmProcessMesh::tessellate(const ERAnyBoundedSurface& surface) {
  on_begin_tessellation();
  surface.tessalate(*this);
  on_end_tessellation();
}

void gmProcessMesh::on_add_wireframe(const ERFiniteEntity3DWF& curve, const ERLimites& range) {
  on_add_polyline(curve.approxime(range, deviation_));
}
