// The inspection report: one self-contained HTML file (inline SVG, no script).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "qorv/measurement/inspection.h"

namespace qorv::tool {

void writeReport(std::ostream& html, const std::string& nominalName, const gmInspection& inspection,
                 const std::vector<gmMeasuredPoint>& points, const std::vector<gmInspectedPoint>& results,
                 const std::vector<gmFeatureSummary>& summaries, const std::vector<gmSkippedLine>& skipped);

}  // namespace qorv::tool
