// qorv dxf: the points a DXF file's first polyline holds, as the kernel reads them.
#include <string>

#include <nlohmann/json.hpp>

#include "qorv/measurement/dxf_input.h"
#include "tools/qorv/commands.h"
#include "tools/qorv/text.h"

namespace qorv::tool {

int dxfPoints(const std::string& path, Format format, Output& out) {
  gmInDXF in(path.c_str());
  QuickAlgebra::ERVec<ERPoint3D> points;
  if (!in.read(points)) return fail(path, in.reason());
  if (format == Format::json) {
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < points.length(); ++i)
      list.push_back({points[i].x(), points[i].y(), points[i].z()});
    out.utf8() << nlohmann::json{{"points", list}}.dump(2) << "\n";
    return 0;
  }
  const char* sep = format == Format::csv ? "," : " ";
  if (format == Format::csv) out.stream() << "x,y,z\n";
  for (int i = 0; i < points.length(); ++i)
    out.stream() << shortest(points[i].x()) << sep << shortest(points[i].y()) << sep
                 << shortest(points[i].z()) << "\n";
  return 0;
}

}  // namespace qorv::tool
