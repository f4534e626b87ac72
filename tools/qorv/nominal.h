// The nominal part of qorv inspect, read from its JSON description
// (examples/inspection/part.schema.json): lengths in the part's unit, angles in degrees.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "qorv/measurement/inspection.h"
#include "tools/qorv/cad_nominal.h"

namespace qorv::tool {

// Thrown while reading a nominal file; the message says where and why.
struct NominalError {
  std::string why;
};

// JSON, a qorv database, or a STEP or IGES model (by its extension; see cad_nominal.h). units,
// when given, receives the units the nominal states: a JSON file's "units", "mm" for a CAD model
// (its reader converts), "" for a database (which does not say).
std::vector<gmInspectionFeature> readNominal(const std::string& path,
                                             const CadNominalOptions& cad = {},
                                             std::string* units = nullptr);

// The form, size, datum and orientation and location tolerances a feature's JSON object asks
// for (as part.schema.json names them), set on the feature; throws NominalError.
void readFeatureAsks(const nlohmann::json& f, gmInspectionFeature& feature);

// Every datum a tolerance names is carried by exactly one feature; throws NominalError.
void checkDatums(const std::vector<gmInspectionFeature>& features);

}  // namespace qorv::tool
