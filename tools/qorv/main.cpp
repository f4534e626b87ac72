// The qorv command-line tool: looks inside the library and its database files.
// Exit status: 0 done, 1 the command failed (a one-line reason on standard error), 2 a usage error.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "qorv/qorv.h"
#include "tools/qorv/align_command.h"
#include "tools/qorv/commands.h"

namespace qorv::tool {

int printClasses(Output& out) {
  std::vector<const ERClassRegistration*> all;
  for (const ERClassRegistration* r = ERClassRegistration::first(); r != nullptr; r = r->next())
    all.push_back(r);
  std::sort(all.begin(), all.end(), [](const ERClassRegistration* a, const ERClassRegistration* b) {
    return std::strcmp(a->getName(), b->getName()) < 0;
  });
  for (const ERClassRegistration* r : all) {
    // Abstract is a property of the C++ class; a concrete class may still be registered without
    // a creator (the database's auxiliary index), and then cannot be re-created by name.
    out.stream() << r->getName()
                 << (r->isAbstract()           ? " (abstract)"
                     : r->creator() == nullptr ? " (no creator)"
                                               : "")
                 << "\n"
                 << r->drawBases(0);
  }
  out.stream() << all.size() << " classes\n";
  return 0;
}

}  // namespace qorv::tool

namespace {

using qorv::tool::Format;

const std::map<std::string, Format> kFormats = {
    {"text", Format::text}, {"json", Format::json}, {"csv", Format::csv}};

}  // namespace

int main(int argc, char** argv) {
  using namespace qorv::tool;
  CLI::App app{"qorv " + std::string(qorvVersion()) +
               ": looks inside the qorv geometry library and its database files"};
  app.name("qorv");
  app.set_version_flag("-V,--version", std::string("qorv ") + qorvVersion());
  bool raw = false;
  app.add_flag("--raw", raw,
               "write the library's text forms as their exact Latin-1 bytes instead of UTF-8");

  std::string formatName = "text";
  auto addFormat = [&](CLI::App* command) {
    command->add_option("--format", formatName, "output format: text (default), json or csv")
        ->check(CLI::IsMember({"text", "json", "csv"}));
  };

  std::string demoPath = "qorv-demo.qdb";
  bool force = false;
  CLI::App* demoCommand =
      app.add_subcommand("demo",
                         "build a sample set of objects, store it in a new database FILE, "
                         "reopen it and print it");
  demoCommand->add_option("FILE", demoPath, "the database to create")->capture_default_str();
  demoCommand->add_flag("-f,--force", force,
                        "replace FILE when it is a qorv database no other process has open");

  CLI::App* classesCommand =
      app.add_subcommand("classes", "the class registry: every class with the tree of its bases");

  CLI::App* db = app.add_subcommand("db", "look inside a database file");
  std::string file, id;
  CLI::App* summary = db->add_subcommand("summary", "the database dump: classes and objects");
  summary->add_option("FILE", file, "the database")->required();
  addFormat(summary);
  CLI::App* list = db->add_subcommand("list", "identifier, class and record size of every object");
  list->add_option("FILE", file, "the database")->required();
  addFormat(list);
  CLI::App* show = db->add_subcommand("show", "one object: its print form, or its values");
  show->add_option("FILE", file, "the database")->required();
  show->add_option("ID", id, "the object's identifier")->required();
  addFormat(show);
  CLI::App* check = db->add_subcommand(
      "check",
      "integrity check: one line per problem, exit status 0 when sound, 1 otherwise, 3 "
      "when locked by a writer");
  check->add_option("FILE", file, "the database")->required();
  CLI::App* recover = db->add_subcommand(
      "recover",
      "play back what verifies of a journal left by a writer that died, report the "
      "rest, then check; exit status as check's");
  recover->add_option("FILE", file, "the database")->required();
  std::string dxfFile;
  CLI::App* dxfCommand = app.add_subcommand(
      "dxf",
      "the points of the first polyline in a DXF file, one per line (x y z); --format json "
      "or csv for scripts");
  dxfCommand->add_option("FILE", dxfFile, "the DXF file")->required();
  addFormat(dxfCommand);
  InspectOptions inspectOptions;
  std::string inspectFormat = "table";
  CLI::App* inspectCommand = app.add_subcommand(
      "inspect",
      "measured probe points against a nominal part: deviations, statistics, stored "
      "results and a report; exit 1 when any point is out of tolerance, 2 when an input "
      "cannot be read");
  inspectCommand
      ->add_option("--nominal", inspectOptions.nominal,
                   "the nominal part (JSON, qorv database, STEP or IGES)")
      ->required();
  inspectCommand
      ->add_option("--measured", inspectOptions.measured,
                   "the measured probe centres (CSV or text: id, x, y, z[, feature[, diameter]]) "
                   "or a scanner's surface points (PLY, XYZ, ASC, PTS)")
      ->required();
  CLI::Option* probeOption = inspectCommand->add_option(
      "--probe-diameter", inspectOptions.probeDiameter,
      "probe diameter for points that give none (default: none, points judged "
      "uncompensated)");
  inspectCommand
      ->add_option(
          "--max-distance", inspectOptions.maxDistance,
          "a point that names no feature and lies farther than this from every feature "
          "(after compensation, in the nominal's units) is unassigned, not judged; inf: no limit")
      ->capture_default_str();
  inspectCommand->add_option(
      "--delimiter", inspectOptions.delimiter,
      "the measured file's separator: ',', ';', 'tab' or 'space' (default: detected)");
  inspectCommand->add_option("--decimal", inspectOptions.decimal,
                             "the measured file's decimal mark: '.' or ',' (default: detected)");
  inspectCommand->add_option("--out", inspectOptions.out,
                             "store the results in this qorv database");
  inspectCommand->add_option("--report", inspectOptions.report,
                             "write a report: HTML, or PDF when the name ends in .pdf (printed "
                             "through headless Chromium)");
  std::string reportOrder = "input";
  inspectCommand
      ->add_option("--report-order", reportOrder,
                   "the report's feature table: input (the nominal's order) or failures (first)")
      ->check(CLI::IsMember({"input", "failures"}));
  inspectCommand
      ->add_option("--format", inspectFormat, "standard output: table (default), csv or json")
      ->check(CLI::IsMember({"table", "text", "csv", "json"}));
  inspectCommand->add_option("-j", inspectOptions.threads, "threads (default: every core)");
  inspectCommand->add_flag("-q,--quiet", inspectOptions.quiet, "no progress bar");
  inspectCommand->add_flag(
      "--progress", inspectOptions.progress,
      "report reading, judging and writing on standard error, terminal or not");
  inspectCommand->add_option(
      "--cloud-out", inspectOptions.cloudOut,
      "a point cloud's points with their deviation and colours, as binary PLY");
  addCadOptions(inspectCommand, inspectOptions.cad);
  StepCommand stepCommand;
  addStepCommand(app, stepCommand);
  inspectCommand->add_option(
      "--align", inspectOptions.align,
      "align the points first: best-fit, datums:A,B,C (3-2-1 on those features) or rps:FILE "
      "(reference points: id,fixes,x,y,z a line)");
  AlignOptions alignOptions;
  CLI::App* alignCommand = app.add_subcommand(
      "align",
      "the rigid move of measured points onto a nominal part; writes the moved points (CSV) and "
      "the move (JSON); exit 1 when the move is ambiguous or cannot be found");
  alignCommand->add_option("--nominal", alignOptions.nominal, "the nominal part (JSON)")
      ->required();
  alignCommand->add_option("--measured", alignOptions.measured, "the measured probe centres")
      ->required();
  alignCommand->add_option("--method", alignOptions.method,
                           "best-fit (default), datums:A,B,C or rps:FILE");
  alignCommand->add_option("--probe-diameter", alignOptions.probeDiameter,
                           "for points that give none");
  alignCommand->add_option("--max-distance", alignOptions.maxDistance,
                           "farther points are unassigned");
  alignCommand->add_option("--out", alignOptions.out,
                           "the moved points (default: standard output)");
  // A missing or misspelt command is checked after parsing, so that the error can name it.
  db->allow_extras();
  app.allow_extras();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version print to standard output and succeed; any other usage error says what is
    // wrong on standard error and exits 2.
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }

  if (app.get_subcommands().empty() || !app.remaining().empty()) {
    const std::vector<std::string> extra = app.remaining();
    if (extra.empty())
      std::cerr << "qorv: a command is required (inspect, align, step, demo, classes, db or dxf)\n";
    else
      std::cerr << "qorv: unexpected argument '" << extra.front() << "'\n";
    std::cerr << "Run with --help for more information.\n";
    return 2;
  }
  if (*db && db->get_subcommands().empty()) {
    const std::vector<std::string> extra = db->remaining();
    if (extra.empty())
      std::cerr << "qorv db: a command is required (summary, list, show, check or recover)\n";
    else
      std::cerr << "qorv db: unknown command '" << extra.front()
                << "' (expected summary, list, show, check or recover)\n";
    std::cerr << "Run with --help for more information.\n";
    return 2;
  }

  const Format format = kFormats.at(formatName);
  Output out(raw);
  int status = 2;
  // No input may abort the tool: whatever escapes a command is reported, status 2.
  try {
    if (*demoCommand) status = demo(demoPath, force, out);
    if (*classesCommand) status = printClasses(out);
    if (*summary) status = dbSummary(file, format, out);
    if (*list) status = dbList(file, format, out);
    if (*show) status = dbShow(file, id, format, out);
    if (*check) status = dbCheck(file, out);
    if (*recover) status = dbRecover(file, out);
    if (*dxfCommand) status = dxfPoints(dxfFile, format, out);
    if (*stepCommand.command) status = runStep(stepCommand, out);
    if (*inspectCommand) {
      inspectOptions.format = inspectFormat == "csv"    ? Format::csv
                              : inspectFormat == "json" ? Format::json
                                                        : Format::text;
      inspectOptions.reportFailuresFirst = reportOrder == "failures";
      inspectOptions.probeDiameterGiven = probeOption->count() > 0;
      status = inspect(inspectOptions, out);
    }
    if (*alignCommand) status = align(alignOptions, out);
  } catch (const std::exception& e) {
    std::cerr << "qorv: " << e.what() << "\n";
    status = 2;
  }
  return out.finish(status);
}
