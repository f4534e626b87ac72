// tools/qorv/align_command.h
//
// Alignment in the tool: the method as written on the command line ("best-fit",
// "datums:A,B,C", "rps:FILE" with FILE the reference points, see gmReadReferencePoints), applied to
// measured points read in any frame, and its result in JSON.
#pragma once

#include <string>
#include <vector>

#include "qorv/measurement/alignment.h"
#include "qorv/persistence/db_object.h"
#include "tools/qorv/output.h"

namespace qorv::tool {

// Aligns the points in place (nominal = T >> measured). "" when done, else why not; the
// alignment is filled either way.
std::string alignPoints(const std::string& method, const std::vector<gmInspectionFeature>& features,
                        std::vector<gmMeasuredPoint>& points, double diameter, double maxDistance,
                        gmAlignment& result);
// The alignment as one JSON object (matrix, angles in degrees, translation, statistics).
std::string alignmentJson(const gmAlignment& a);

// The alignment as a database object stored with the results: name "alignment", level name the
// method as given; properties (doubles unless said) 200-211 the matrix's first three rows
// (row-major; the fourth is 0 0 0 1), 212-214 the angles rx, ry, rz in degrees, 215-217 the
// translation, 218-220 the turns' standard uncertainties in degrees, 221-223 the shifts', 224
// rms, 225 max residual, 226 iterations (long), 227 points used (long), 228 points unassigned
// (long), 229 ambiguous (long, 0 or 1), 230 the free directions (string, when ambiguous).
void storeAlignment(ERDBObject& o, const std::string& method, const gmAlignment& a);

struct AlignOptions {
  std::string nominal, measured, out, method = "best-fit";
  double probeDiameter = 0;
  double maxDistance = HUGE_VAL;
};
// qorv align: writes the aligned points (CSV: id, x, y, z, diameter, feature) to out (or
// standard output) and the alignment as JSON to standard error, or to standard output when
// the points go to a file.
int align(const AlignOptions& options, Output& out);

}  // namespace qorv::tool
