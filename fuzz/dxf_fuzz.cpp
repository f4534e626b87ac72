// Reads a mutated DXF file as a host does, every polyline in turn. Any crash, hang,
// out-of-bounds access, a failed read that leaves points, or a point that is not finite is a
// finding.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "qorv/measurement/dxf_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    const char* dir = std::getenv("QORV_FUZZ_TMP");
    return std::string(dir ? dir : "/tmp") + "/qorv_dxf_fuzz_" + std::to_string(::getpid()) + ".dxf";
  }();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  gmInDXF in(path.c_str());
  for (int polyline = 0; polyline < 8; ++polyline) {
    QuickAlgebra::ERVec<ERPoint3D> points;
    const bool ok = in.read(points);
    if (!ok) {
      if (points.length() != 0 || in.reason().empty()) __builtin_trap();
      break;
    }
    for (int i = 0; i < points.length(); ++i)
      if (!std::isfinite(points[i].x()) || !std::isfinite(points[i].y()) ||
          !std::isfinite(points[i].z()))
        __builtin_trap();
  }
  return 0;
}
