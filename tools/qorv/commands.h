// The qorv tool's commands; each returns the process exit status (0 done, 1 failed; the db
// commands 3 when the file is locked by a writer changing it).
#pragma once

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "tools/qorv/cad_nominal.h"
#include "tools/qorv/output.h"

namespace qorv::tool {

enum class Format { text, json, csv };

int printClasses(Output& out);
int dbSummary(const std::string& path, Format format, Output& out);
int dbList(const std::string& path, Format format, Output& out);
// One line per problem found in the file, "ok" when sound; 1 when there are problems, 3 when
// locked.
int dbCheck(const std::string& path, Output& out);
// Plays back what verifies of a journal left by a writer that died, reports the rest, then checks
// the file as dbCheck does.
int dbRecover(const std::string& path, Output& out);
int dbShow(const std::string& path, const std::string& id, Format format, Output& out);
// Every object's print form in identifier order, each under "#ID CLASS".
int dbPrintAll(const std::string& path, Output& out);
// Why path cannot be read as a database, in words; empty when it looks like one.
std::string whyNotADatabase(const std::string& path);
// Builds the sample set, stores it in a new database at path (an existing qorv database only
// with force), reopens the file and prints it.
int demo(const std::string& path, bool force, Output& out);

// The points of the first polyline in a DXF file; the reader's reason and 1 when it has none.
int dxfPoints(const std::string& path, Format format, Output& out);

struct InspectOptions {
  std::string nominal, measured, out, report;
  double probeDiameter = 0;
  bool probeDiameterGiven = false;
  double maxDistance = 5;          // an unnamed point farther from every feature is unassigned
  std::string delimiter, decimal;  // "": detected
  Format format = Format::text;
  int threads = 0;  // 0: every core
  bool quiet = false;
  bool progress = false;  // progress on standard error even when it is no terminal
  std::string cloudOut;   // a cloud's points with their deviations, as PLY
  CadNominalOptions cad;  // a STEP or IGES nominal's band, merging and side file
  std::string align;  // "": the points are in the nominal's frame already
  bool reportFailuresFirst = false;  // the report's feature table: failures first
};
// Measured points against a nominal part: 0 all in tolerance, 1 any out, 2 an input that cannot
// be read or judged, or an argument out of its domain.
int inspect(const InspectOptions& options, Output& out);

// "qorv: PATH: why" on standard error; returns 1.
int fail(const std::string& path, const std::string& why);

}  // namespace qorv::tool
