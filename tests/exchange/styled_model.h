// Models written as CAD systems write coloured, named parts: through OpenCASCADE's XDE writers
// (STEP or IGES by the path's extension), with the part's colour, faces' own colours and names,
// and placed instances of the part, each with its own colour when given. Colours are 0xRRGGBB
// in sRGB, -1 for none.
#pragma once

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <IGESCAFControl_Writer.hxx>
#include <Interface_Static.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_Printer.hxx>
#include <Quantity_Color.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <TDataStd_Name.hxx>
#include <TDocStd_Document.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <cmath>
#include <string>
#include <vector>

namespace qorv_test {

// OpenCASCADE's printers report failures only.
inline void quietCad() {
  for (Message_SequenceOfPrinters::Iterator it(Message::DefaultMessenger()->Printers()); it.More();
       it.Next())
    it.Value()->SetTraceLevel(Message_Fail);
}

// A block 40 x 30 x 20 with a bore of radius 5 through (20, 15), cut as two half cylinders as
// CAD systems write it.
inline TopoDS_Shape blockWithBore() {
  TopoDS_Shape s = BRepPrimAPI_MakeBox(40, 30, 20).Shape();
  for (double a : {0.0, M_PI}) {
    gp_Ax2 ax(gp_Pnt(20, 15, -1), gp::DZ(), gp_Dir(std::cos(a), std::sin(a), 0));
    s = BRepAlgoAPI_Cut(s, BRepPrimAPI_MakeCylinder(ax, 5, 22, M_PI).Shape()).Shape();
  }
  return s;
}

struct StyledFace {
  TopoDS_Shape face;  // a face of the part
  int rgb = -1;
  const char* name = "";
};

struct Placed {
  gp_Trsf at;
  int rgb = -1;
};

inline Quantity_Color sRgb(int rgb) {
  return Quantity_Color(((rgb >> 16) & 255) / 255.0, ((rgb >> 8) & 255) / 255.0,
                        (rgb & 255) / 255.0, Quantity_TOC_sRGB);
}

// Without instances the part is the model; with them, an assembly of them. true when written.
inline bool writeStyled(const std::string& path, const TopoDS_Shape& part, int partRgb,
                        const std::vector<StyledFace>& faces,
                        const std::vector<Placed>& instances = {}) {
  Handle(TDocStd_Document) doc = new TDocStd_Document("BinXCAF");
  const Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  const Handle(XCAFDoc_ColorTool) colours = XCAFDoc_DocumentTool::ColorTool(doc->Main());
  const TDF_Label label = shapes->AddShape(part, false);
  if (partRgb >= 0) colours->SetColor(label, sRgb(partRgb), XCAFDoc_ColorSurf);
  for (const StyledFace& f : faces) {
    const TDF_Label sub = shapes->AddSubShape(label, f.face);
    if (sub.IsNull()) return false;
    if (f.rgb >= 0) colours->SetColor(sub, sRgb(f.rgb), XCAFDoc_ColorSurf);
    if (*f.name) TDataStd_Name::Set(sub, f.name);
  }
  if (!instances.empty()) {
    const TDF_Label assembly = shapes->NewShape();
    for (const Placed& p : instances) {
      const TDF_Label c = shapes->AddComponent(assembly, label, TopLoc_Location(p.at));
      if (p.rgb >= 0) colours->SetColor(c, sRgb(p.rgb), XCAFDoc_ColorSurf);
    }
    shapes->UpdateAssemblies();
  }
  if (path.size() > 4 && path.substr(path.size() - 4) == ".igs") {
    IGESCAFControl_Writer w;
    return w.Transfer(doc) && w.Write(path.c_str());
  }
  Interface_Static::SetIVal("write.stepcaf.subshapes.name", 1);
  STEPCAFControl_Writer w;
  w.SetColorMode(true), w.SetNameMode(true);
  const bool ok = w.Transfer(doc, STEPControl_AsIs) && w.Write(path.c_str()) == IFSelect_RetDone;
  Interface_Static::SetIVal("write.stepcaf.subshapes.name", 0);
  return ok;
}

}  // namespace qorv_test
