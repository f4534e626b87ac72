// Writes the STEP sample part through OpenCASCADE's writer, and its side file:
//   step_sample OUT_DIR
// OUT_DIR/part.step: a block 80 x 60 x 30 mm with a bore of radius 8 (written as two half
// cylinders, as CAD systems do), a spherical seat of radius 10 in its top and a boss of radius 8
// on it with a fillet of radius 3 at its foot. OUT_DIR/side.json names the bore, the seat, the
// boss and the fillet by box and gives them their bands; the other faces keep the default band.
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepFilletAPI_MakeFillet.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRep_Tool.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_Printer.hxx>
#include <STEPControl_Writer.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <cmath>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: step_sample OUT_DIR\n";
    return 2;
  }
  for (Message_SequenceOfPrinters::Iterator it(Message::DefaultMessenger()->Printers()); it.More();
       it.Next())
    it.Value()->SetTraceLevel(Message_Fail);
  const std::string dir = argv[1];
  TopoDS_Shape part = BRepPrimAPI_MakeBox(80, 60, 30).Shape();
  for (double a : {0.0, M_PI}) {
    gp_Ax2 ax(gp_Pnt(20, 30, -1), gp::DZ(), gp_Dir(std::cos(a), std::sin(a), 0));
    part = BRepAlgoAPI_Cut(part, BRepPrimAPI_MakeCylinder(ax, 8, 32, M_PI).Shape()).Shape();
  }
  part = BRepAlgoAPI_Cut(part, BRepPrimAPI_MakeSphere(gp_Pnt(45, 30, 30), 10).Shape()).Shape();
  const TopoDS_Shape boss =
      BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(67, 30, 30), gp::DZ()), 8, 12).Shape();
  part = BRepAlgoAPI_Fuse(part, boss).Shape();
  // The fillet on the boss's foot: the circle of radius 8 at z = 30.
  BRepFilletAPI_MakeFillet fillet(part);
  for (TopExp_Explorer ex(part, TopAbs_EDGE); ex.More(); ex.Next()) {
    const TopoDS_Edge& e = TopoDS::Edge(ex.Current());
    double a, b;
    Handle(Geom_Curve) c = BRep_Tool::Curve(e, a, b);
    if (c.IsNull()) continue;
    const gp_Pnt p = c->Value(0.5 * (a + b));
    if (std::fabs(p.Z() - 30) < 1e-6 && std::fabs(std::hypot(p.X() - 67, p.Y() - 30) - 8) < 1e-6)
      fillet.Add(3, e);
  }
  fillet.Build();
  if (!fillet.IsDone()) {
    std::cerr << "step_sample: the fillet failed\n";
    return 1;
  }
  part = fillet.Shape();
  STEPControl_Writer w;
  if (w.Transfer(part, STEPControl_AsIs) != IFSelect_RetDone ||
      w.Write((dir + "/part.step").c_str()) != IFSelect_RetDone) {
    std::cerr << "step_sample: cannot write " << dir << "/part.step\n";
    return 1;
  }
  std::ofstream side(dir + "/side.json");
  side << R"({
  "tolerance": [-0.1, 0.1],
  "features": [
    {"id": "bore", "box": [[11.9, 21.9, -0.1], [28.1, 38.1, 30.1]], "tolerance": [-0.02, 0.03]},
    {"id": "seat", "box": [[34.9, 19.9, 19.9], [55.1, 40.1, 30.1]], "tolerance": [-0.05, 0.05]},
    {"id": "fillet", "box": [[55.9, 18.9, 29.9], [78.1, 41.1, 33.1]], "tolerance": [-0.05, 0.05]},
    {"id": "boss", "box": [[58.9, 21.9, 32.9], [75.1, 38.1, 42.1]], "tolerance": [-0.03, 0.03]}
  ]
}
)";
  std::cout << "step_sample: " << dir << "/part.step and " << dir << "/side.json\n";
  return side ? 0 : 1;
}
