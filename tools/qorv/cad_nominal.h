// A CAD model (STEP or IGES, read by qorv::step) as the nominal part of qorv inspect, and the
// side file that gives its faces ids, bands and material sides
// (examples/inspection/cad_side.schema.json).
//
// Without a side file every group of faces (the faces on one analytic surface, or each face
// with --no-merge) is a feature named "face<N>" with the default band (--tolerance, +-0.1 mm).
// A side file's entry takes the faces it selects (all its selectors must hold: face numbers,
// name, colour "#RRGGBB" in either case, a box holding the face's box) out of their groups into
// one feature of its own; a face is taken by the first entry that selects it. "material":
// "reversed" turns the side the model gives (a sheet without a solid). Lengths are millimetres.
#pragma once

#include <string>
#include <vector>

#include "qorv/measurement/inspection.h"

namespace CLI {
class App;
}
namespace qorv::exchange {
struct CadModel;
}

namespace qorv::tool {

struct CadNominalOptions {
  bool merge = true;
  std::string tolerance;  // "LOWER,UPPER"; "" the default band
  std::string side;       // the side file; "" none
};

// .step, .stp, .iges or .igs (case ignored).
bool isCadPath(const std::string& path);
// The features of the model; throws NominalError (nothing usable, a bad side file or band).
// Faces that could not be converted are reported on standard error, one line each.
std::vector<gmInspectionFeature> readCadNominal(const std::string& path,
                                                const CadNominalOptions& options);
// The features of a model already read, with options' band and side file (built with
// qorv::step only).
std::vector<gmInspectionFeature> cadFeatures(const exchange::CadModel& model,
                                             const CadNominalOptions& options);
// --tolerance, --no-merge and --side on qorv inspect.
void addCadOptions(CLI::App* inspect, CadNominalOptions& options);

struct StepCommand {
  std::string file, format = "text";
  bool noMerge = false;
  CLI::App* command = nullptr;
};
// qorv step FILE [--format json] [--no-merge]: the faces and the features they form.
void addStepCommand(CLI::App& app, StepCommand& step);
class Output;
// 0 listed, 2 the file cannot be read or holds no usable face.
int runStep(const StepCommand& step, Output& out);

}  // namespace qorv::tool
