// Triangles of the nominal features for the report's 3D view.
//
// Conventions a caller gets wrong:
// - A patch is sampled on a grid of its parameters, each direction refined (doubling, at most
//   128 intervals) until the chord between neighbours misses the patch by at most tolerance at
//   the sampled midpoints; the grid is as fine as its most curved row or column needs.
// - A trimmed face keeps the cells whose centre lies in its region, on a grid of at least 64
//   intervals a side: its loops and holes show at the grid's resolution, not exactly.
// - A group of CAD faces gives each face's triangles. Points that do not evaluate to finite
//   coordinates drop the triangles that use them.
// - Coordinates are relative to origin (floats keep their digits on a part far from 0).
#pragma once

#include <cstdint>
#include <vector>

#include "qorv/measurement/inspection.h"

namespace qorv::tool {

struct ReportMesh {
  std::vector<float> positions;  // x, y, z per vertex
  std::vector<std::uint32_t> triangles;
  bool cut = false;  // a patch was left out: it would have passed maxVertices
};

// Appends the feature's triangles; a patch that would take the mesh past maxVertices is left
// out (cut says so).
void tessellateFeature(const gmInspectionFeature& f, double tolerance, const ERPoint3D& origin,
                       std::size_t maxVertices, ReportMesh& mesh);

}  // namespace qorv::tool
