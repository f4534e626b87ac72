// The inspection report: one self-contained HTML file (inline SVG, no script).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "qorv/measurement/inspection.h"

namespace qorv::tool {

// shownOf: when the points are an even subset of a cloud, the headline in its place ("20000
// of 10000000 points shown, ...").
void writeReport(std::ostream& html, const std::string& nominalName, const gmInspection& inspection,
                 const std::vector<gmMeasuredPoint>& points, const std::vector<gmInspectedPoint>& results,
                 const std::vector<gmFeatureSummary>& summaries, const std::vector<gmSkippedLine>& skipped,
                 const std::string& shownOf = "");

}  // namespace qorv::tool
