// qorv step FILE: the faces of a STEP or IGES model and the features they form, so that a side
// file can name them.
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "tools/qorv/cad_nominal.h"
#include "tools/qorv/commands.h"
#include "tools/qorv/text.h"
#if QORV_HAVE_STEP
#include "qorv/exchange/cad_reader.h"
#endif

namespace qorv::tool {

void addStepCommand(CLI::App& app, StepCommand& s) {
  s.command = app.add_subcommand(
      "step",
      "the faces of a STEP or IGES model and the features they form (kind, area, box, colour, "
      "name, the id for a side file); exit 2 when the file cannot be read");
  s.command->add_option("FILE", s.file, "the model (.step, .stp, .iges, .igs)")->required();
  s.command->add_option("--format", s.format, "output format: text (default) or json")
      ->check(CLI::IsMember({"text", "json"}));
  s.command->add_flag("--no-merge", s.noMerge, "each face its own feature");
}

#if QORV_HAVE_STEP

namespace {

std::string boxJson(const ERMinimax3D& b) {
  const ERPoint3D a = b.MinPoint(), c = b.MaxPoint();
  return "[[" + jsonNumber(a.x()) + ", " + jsonNumber(a.y()) + ", " + jsonNumber(a.z()) + "], [" +
         jsonNumber(c.x()) + ", " + jsonNumber(c.y()) + ", " + jsonNumber(c.z()) + "]]";
}

std::string boxText(const ERMinimax3D& b) {
  const ERPoint3D a = b.MinPoint(), c = b.MaxPoint();
  std::ostringstream s;
  s.precision(6);
  s << "(" << a.x() << ", " << a.y() << ", " << a.z() << ")-(" << c.x() << ", " << c.y() << ", "
    << c.z() << ")";
  return s.str();
}

std::string quoted(const std::string& t) {
  std::string out = "\"";
  for (char c : t) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      out += ' ';
      continue;
    }
    out += c;
  }
  return out + "\"";
}

}  // namespace

int runStep(const StepCommand& s, Output& out) {
  if (!isCadPath(s.file))
    return fail(s.file, "not a STEP (.step, .stp) or IGES (.iges, .igs) file") + 1;
  const exchange::CadModel m = exchange::readCad(s.file, [&] {
    exchange::CadOptions o;
    o.merge = !s.noMerge;
    return o;
  }());
  if (!m.error.empty()) return fail(s.file, m.error) + 1;
  std::ostream& o = out.stream();
  if (s.format == "json") {
    o << "{\n  \"solids\": " << m.solids << ", \"shells\": " << m.shells
      << ", \"faces_in_file\": " << m.faceCount << ",\n  \"faces\": [";
    for (std::size_t i = 0; i < m.faces.size(); ++i) {
      const exchange::CadFace& f = m.faces[i];
      o << (i ? ",\n" : "\n") << "    {\"face\": " << f.index << ", \"name\": " << quoted(f.name)
        << ", \"colour\": " << quoted(f.colour) << ", \"kind\": " << quoted(f.kind)
        << ", \"area\": " << jsonNumber(f.area) << ", \"box\": " << boxJson(f.box)
        << ", \"feature\": " << quoted(m.groups[static_cast<std::size_t>(f.group)].id) << "}";
    }
    o << "\n  ],\n  \"features\": [";
    for (std::size_t i = 0; i < m.groups.size(); ++i) {
      const exchange::CadGroup& g = m.groups[i];
      o << (i ? ",\n" : "\n") << "    {\"id\": " << quoted(g.id) << ", \"kind\": " << quoted(g.kind)
        << ", \"faces\": [";
      for (std::size_t k = 0; k < g.faces.size(); ++k)
        o << (k ? ", " : "") << m.faces[static_cast<std::size_t>(g.faces[k])].index;
      o << "], \"area\": " << jsonNumber(g.area) << ", \"box\": " << boxJson(g.box) << "}";
    }
    o << "\n  ],\n  \"problems\": [";
    for (std::size_t i = 0; i < m.problems.size(); ++i)
      o << (i ? ", " : "") << quoted(m.problems[i]);
    o << "]\n}\n";
  } else {
    o << s.file << ": " << m.solids << " solids, " << m.shells << " shells, " << m.faceCount
      << " faces, " << m.faces.size() << " converted, " << m.groups.size() << " features\n\n"
      << "face  kind      area (mm2)    feature   colour / name / box (mm)\n";
    for (const exchange::CadFace& f : m.faces) {
      std::ostringstream line;
      line.precision(8);
      line << f.index;
      std::string row = line.str();
      row.resize(6, ' ');
      std::string kind = f.kind;
      kind.resize(10, ' ');
      std::ostringstream area;
      area.precision(8);
      area << f.area;
      std::string a = area.str();
      a.resize(14, ' ');
      std::string id = m.groups[static_cast<std::size_t>(f.group)].id;
      id.resize(10, ' ');
      o << row << kind << a << id << (f.colour.empty() ? "" : f.colour + " ")
        << (f.name.empty() ? "" : f.name + " ") << boxText(f.box) << "\n";
    }
    o << "\nfeatures:\n";
    for (const exchange::CadGroup& g : m.groups) {
      o << "  " << g.id << "  " << g.kind << ", faces";
      for (int k : g.faces) o << " " << m.faces[static_cast<std::size_t>(k)].index;
      o << ", area " << g.area << " mm2\n";
    }
    if (!m.problems.empty()) {
      o << "\nleft out:\n";
      for (const std::string& p : m.problems) o << "  " << p << "\n";
    }
  }
  return m.faces.empty() ? 2 : 0;
}

#else

int runStep(const StepCommand& s, Output&) {
  return fail(s.file, "this qorv was built without OpenCASCADE: it reads no STEP or IGES file") + 1;
}

#endif

}  // namespace qorv::tool
