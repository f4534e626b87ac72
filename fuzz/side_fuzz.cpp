// A side file as a user hands it over, applied to a coloured, named STEP part (a block with a
// bore, written once through OpenCASCADE's XDE writer and read back). Any crash, hang,
// out-of-bounds access, an exception other than the reader's refusal, or a feature that judges
// a point into NaN is a finding.
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBndLib.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_Printer.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "qorv/exchange/cad_reader.h"
#include "qorv/measurement/inspection.h"
#include "tests/exchange/styled_model.h"
#include "tools/qorv/cad_nominal.h"
#include "tools/qorv/nominal.h"

namespace {

std::string scratch(const char* name) {
  const char* dir = std::getenv("QORV_FUZZ_TMP");
  return std::string(dir ? dir : "/tmp") + "/qorv_side_fuzz_" + std::to_string(::getpid()) + name;
}

// Faces 1-6 the block's planes (the top #ff0000 and named "top", the others the part's
// #00ff00), 7-8 the bore's halves (#123456, named "bore").
const qorv::exchange::CadModel& model() {
  static const qorv::exchange::CadModel m = [] {
    for (Message_SequenceOfPrinters::Iterator it(Message::DefaultMessenger()->Printers());
         it.More(); it.Next())
      it.Value()->SetTraceLevel(Message_Fail);
    TopoDS_Shape s = BRepPrimAPI_MakeBox(40, 30, 20).Shape();
    for (double a : {0.0, M_PI}) {
      gp_Ax2 ax(gp_Pnt(20, 15, -1), gp::DZ(), gp_Dir(std::cos(a), std::sin(a), 0));
      s = BRepAlgoAPI_Cut(s, BRepPrimAPI_MakeCylinder(ax, 5, 22, M_PI).Shape()).Shape();
    }
    std::vector<qorv_test::StyledFace> styled;
    for (TopExp_Explorer ex(s, TopAbs_FACE); ex.More(); ex.Next()) {
      Bnd_Box b;
      BRepBndLib::Add(ex.Current(), b);
      if (b.CornerMin().Z() > 19) styled.push_back({ex.Current(), 0xff0000, "top"});
      if (BRep_Tool::Surface(TopoDS::Face(ex.Current()))
              ->IsKind(STANDARD_TYPE(Geom_CylindricalSurface)))
        styled.push_back({ex.Current(), 0x123456, "bore"});
    }
    const std::string path = scratch(".step");
    qorv_test::writeStyled(path, s, 0x00ff00, styled);
    qorv::exchange::CadOptions o;
    o.isolate = false;
    qorv::exchange::CadModel read = qorv::exchange::readCad(path, o);
    std::remove(path.c_str());
    if (read.faces.empty()) __builtin_trap();  // the fuzzer would test nothing
    return read;
  }();
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qorv::exchange::CadModel& m = model();
  static const std::string path = scratch(".json");
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  qorv::tool::CadNominalOptions options;
  options.side = path;
  try {
    const gmInspection inspection(qorv::tool::cadFeatures(m, options));
    for (int k = 0; k < 4; ++k) {
      gmMeasuredPoint p;
      p.centre = ERPoint3D(10 + 9 * k, 15 + 5 * std::cos(k), 20.5 - 7 * k);
      const gmInspectedPoint r = inspection.inspect(p, 0.5);
      if (r.feature >= 0 && std::isnan(r.deviation)) __builtin_trap();
    }
  } catch (const qorv::tool::NominalError&) {
  }
  return 0;
}
