// The form and size of inspected features (qorv/measurement/form.h) in the inspect command's
// JSON and table. Contacts are indices among the feature's judged points, in input order.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "qorv/measurement/inspection.h"

namespace qorv::tool {

// The members `, "form": {...}, "size": {...}` of one feature's object; nothing for a feature
// that asks for neither.
void writeFormJson(std::ostream& s, const gmInspectionFeature& f, const gmFeatureSummary& fs);

// The members `, "profile": {...}` (the band as a profile of a surface tolerance) and, when the
// feature carries them, `, "datum": "A"` and `, "tolerances": [...]` (orientation and location).
void writeToleranceJson(std::ostream& s, const gmInspectionFeature& f, const gmFeatureSummary& fs);

// A table of the orientation and location tolerances, after a blank line; nothing when none.
void writeToleranceTable(std::ostream& s, const std::vector<gmInspectionFeature>& features,
                         const std::vector<gmFeatureSummary>& summaries);

// The datums of a tolerance as a drawing's frame shows them: "A|B|C".
std::string datumText(const gmToleranceSpec& t);

// A table of the features that ask for form or size, after a blank line; nothing when none does.
void writeFormTable(std::ostream& s, const std::vector<gmInspectionFeature>& features,
                    const std::vector<gmFeatureSummary>& summaries);

}  // namespace qorv::tool
