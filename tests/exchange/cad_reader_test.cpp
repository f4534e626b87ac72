// STEP and IGES models written through OpenCASCADE's writers from known constructions, read
// back through qorv::step: points at known deviations along the known outward normals must be
// recovered to 1e-9, each on the face it was put on, positive outside the material.
#include <gtest/gtest.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepFilletAPI_MakeFillet.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <GeomLProp_SLProps.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Reader.hxx>
#include <IGESControl_Writer.hxx>
#include <Interface_Static.hxx>
#include <STEPControl_Reader.hxx>
#include <STEPControl_Writer.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColStd_Array2OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <TColgp_Array2OfPnt.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>

#include "qorv/exchange/cad_reader.h"
#include "qorv/measurement/inspection.h"
#include "tests/exchange/styled_model.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv::exchange;
using qorv_test::blockWithBore;

namespace {

std::string tmpPath(const std::string& name) {
  const char* env = std::getenv("QORV_TEST_TMP");
  const std::filesystem::path dir = env ? env : std::filesystem::temp_directory_path().string();
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

void writeCad(const TopoDS_Shape& s, const std::string& path, const char* unit = "MM") {
  qorv_test::quietCad();
  if (cadFormatOf(path) == "iges") {
    IGESControl_Controller::Init();
    IGESControl_Writer w(unit, 1);
    w.AddShape(s);
    w.ComputeModel();
    ASSERT_TRUE(w.Write(path.c_str()));
    return;
  }
  STEPControl_Writer w;
  Interface_Static::SetCVal("write.step.unit", unit);
  ASSERT_EQ(w.Transfer(s, STEPControl_AsIs), IFSelect_RetDone);
  ASSERT_EQ(w.Write(path.c_str()), IFSelect_RetDone);
  Interface_Static::SetCVal("write.step.unit", "MM");
}

// A point of the nominal, its outward unit normal and the kind of the face it lies on.
struct Probe {
  gp_Pnt p;
  gp_Vec n;
  const char* kind;
};

std::vector<Probe> blockProbes(std::mt19937& rng, const gp_Trsf& T = gp_Trsf()) {
  std::uniform_real_distribution<double> U(0, 1);
  std::vector<Probe> out;
  for (int i = 0; i < 6; ++i) {
    const double t = 2 * M_PI * U(rng), z = 1 + 14 * U(rng);
    out.push_back({gp_Pnt(20 + 5 * std::cos(t), 15 + 5 * std::sin(t), z),
                   gp_Vec(-std::cos(t), -std::sin(t), 0), "cylinder"});
  }
  for (int i = 0; i < 3; ++i) {
    out.push_back({gp_Pnt(1 + 8 * U(rng), 1 + 28 * U(rng), 20), gp_Vec(0, 0, 1), "plane"});
    out.push_back({gp_Pnt(40, 1 + 28 * U(rng), 1 + 18 * U(rng)), gp_Vec(1, 0, 0), "plane"});
    out.push_back({gp_Pnt(28 + 11 * U(rng), 0, 1 + 18 * U(rng)), gp_Vec(0, -1, 0), "plane"});
  }
  for (Probe& p : out) p.p.Transform(T), p.n.Transform(T);
  return out;
}

// Runs the probes at random deviations through an inspection of the model's groups.
void checkProbes(const CadModel& m, const std::vector<Probe>& probes, std::mt19937& rng,
                 double scale = 1) {
  std::vector<gmInspectionFeature> features;
  for (const CadGroup& g : m.groups) {
    features.emplace_back(g.id, g.surface, g.normalInward, -0.1, 0.1);
    ASSERT_EQ(features.back().problem(), "") << g.id;
  }
  gmInspection inspection(features);
  std::uniform_real_distribution<double> D(-0.4 * scale, 0.4 * scale);
  double size = 1;
  for (const Probe& pr : probes) size = std::max(size, gp_Vec(pr.p.XYZ()).Magnitude());
  for (const Probe& pr : probes) {
    const double d = D(rng);
    gmMeasuredPoint mp;
    const gp_Pnt q = pr.p.Translated(pr.n * d);
    mp.centre = ERPoint3D(q.X(), q.Y(), q.Z());
    mp.diameter = 0;
    const gmInspectedPoint r = inspection.inspect(mp, 0);
    ASSERT_GE(r.feature, 0) << inspection.skipReason(r, mp);
    const ERPoint3D f = r.nominal;
    SCOPED_TRACE(testing::Message()
                 << "probe (" << pr.p.X() << ", " << pr.p.Y() << ", " << pr.p.Z() << ") d " << d);
    // The writer keeps 12 significant digits: far from the origin the file itself is off the
    // construction by that much.
    const double tol = 1e-9 * scale + 1e-12 * size;
    EXPECT_NEAR(r.deviation, d, tol);
    EXPECT_NEAR(std::hypot(f.x() - pr.p.X(), f.y() - pr.p.Y(), f.z() - pr.p.Z()), 0, tol);
    EXPECT_EQ(m.groups[static_cast<std::size_t>(r.feature)].kind, pr.kind);
  }
}

// Face k of the model is face k of OpenCASCADE's plain reader (same area, same box), coloured
// file or not: the numbering side files and users rely on.
void expectPlainOrder(const std::string& path, const CadModel& m) {
  STEPControl_Reader step;
  IGESControl_Reader iges;
  XSControl_Reader& r = cadFormatOf(path) == "step" ? static_cast<XSControl_Reader&>(step) : iges;
  ASSERT_EQ(r.ReadFile(path.c_str()), IFSelect_RetDone);
  r.TransferRoots();
  TopTools_IndexedMapOfShape faces;
  TopExp::MapShapes(r.OneShape(), TopAbs_FACE, faces);
  ASSERT_EQ(faces.Extent(), m.faceCount);
  for (const CadFace& f : m.faces) {
    GProp_GProps props;
    BRepGProp::SurfaceProperties(faces(f.index), props);
    Bnd_Box box;
    BRepBndLib::AddOptimal(faces(f.index), box, false, false);
    double lo[3], hi[3];
    box.Get(lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]);
    const ERPoint3D a = f.box.MinPoint(), b = f.box.MaxPoint();
    const double tol =
        1e-9 * (1 + std::fabs(a.x()) + std::fabs(a.y()) + std::fabs(a.z()) + f.box.diagonal());
    EXPECT_NEAR(props.Mass(), f.area, 1e-9 * std::max(1.0, f.area)) << "face " << f.index;
    EXPECT_TRUE(Near(Seq{lo[0] + hi[0], lo[1] + hi[1], lo[2] + hi[2]},
                     Seq{a.x() + b.x(), a.y() + b.y(), a.z() + b.z()}, tol))
        << "face " << f.index;
  }
}

std::string hexOf(int rgb) {
  if (rgb < 0) return "";
  char out[16];
  std::snprintf(out, sizeof out, "#%06x", rgb);
  return out;
}

Handle(Geom_BSplineSurface) wavySurface() {
  TColgp_Array2OfPnt poles(1, 5, 1, 4);
  TColStd_Array2OfReal weights(1, 5, 1, 4);
  for (int i = 1; i <= 5; ++i)
    for (int j = 1; j <= 4; ++j) {
      poles(i, j) = gp_Pnt(10 * i, 8 * j, 3 * std::sin(i + 2.0 * j));
      weights(i, j) = 1 + 0.3 * ((i + j) % 3);
    }
  TColStd_Array1OfReal ku(1, 3), kv(1, 2);
  TColStd_Array1OfInteger mu(1, 3), mv(1, 2);
  ku(1) = 0, ku(2) = 0.4, ku(3) = 1, mu(1) = 4, mu(2) = 1, mu(3) = 4;
  kv(1) = -1, kv(2) = 2, mv(1) = 4, mv(2) = 4;
  return new Geom_BSplineSurface(poles, weights, ku, kv, mu, mv, 3, 3);
}

}  // namespace

// Each construction through each writer: every face converted, every probe recovered.
TEST(CadReader, KnownConstructionsRecoverDeviations) {
  QORV_SEEDED(std::mt19937 rng, 39);
  gp_Trsf moved;
  moved.SetRotation(gp_Ax1(gp_Pnt(3, -2, 7), gp_Dir(1, 2, 2)), 0.7);
  moved.SetTranslationPart(gp_Vec(1e4, -3e3, 250));
  const TopoDS_Shape block = blockWithBore();
  const TopoDS_Shape seat = BRepAlgoAPI_Cut(BRepPrimAPI_MakeBox(40, 30, 20).Shape(),
                                            BRepPrimAPI_MakeSphere(gp_Pnt(20, 15, 20), 6).Shape())
                                .Shape();
  TopoDS_Compound assembly;
  BRep_Builder bb;
  bb.MakeCompound(assembly);
  bb.Add(assembly, block);
  bb.Add(assembly, block.Moved(TopLoc_Location(moved)));
  Handle(Geom_BSplineSurface) wavy = wavySurface();
  const TopoDS_Shape sheet = BRepBuilderAPI_MakeFace(wavy, 1e-7).Shape();

  // The inch file holds the block's numbers in inches: read back, it is the block in mm.
  gp_Trsf toInch;
  toInch.SetScale(gp_Pnt(0, 0, 0), 1 / 25.4);
  const TopoDS_Shape inchBlock = BRepBuilderAPI_Transform(block, toInch, true).Shape();
  std::vector<Probe> seatProbes;
  std::uniform_real_distribution<double> U(0, 1);
  for (int i = 0; i < 8; ++i) {
    const double t = 2 * M_PI * U(rng), f = -0.1 - 1.3 * U(rng);
    const gp_Vec dir(std::cos(f) * std::cos(t), std::cos(f) * std::sin(t), std::sin(f));
    seatProbes.push_back({gp_Pnt(20, 15, 20).Translated(dir * 6), -dir, "sphere"});
  }
  std::vector<Probe> sheetProbes;
  for (int i = 0; i < 8; ++i) {
    GeomLProp_SLProps props(wavy, 0.05 + 0.9 * U(rng), -0.9 + 2.8 * U(rng), 1, 1e-12);
    sheetProbes.push_back({props.Value(), gp_Vec(props.Normal()), "nurbs"});
  }
  // A vase: a B-spline meridian turned 3/4 of a turn about an axis.
  TColgp_Array1OfPnt mp(1, 5);
  for (int i = 1; i <= 5; ++i) mp(i) = gp_Pnt(6 + 2 * std::sin(1.3 * i), 0, 4 * i);
  TColStd_Array1OfReal mk(1, 2);
  TColStd_Array1OfInteger mm(1, 2);
  mk(1) = 0, mk(2) = 2, mm(1) = 5, mm(2) = 5;
  const gp_Ax1 vaseAxis(gp_Pnt(1, 2, 0), gp_Dir(0.1, 0, 1));
  const TopoDS_Shape vase =
      BRepPrimAPI_MakeRevol(
          BRepBuilderAPI_MakeEdge(Handle(Geom_Curve)(new Geom_BSplineCurve(mp, mk, mm, 4))).Edge(),
          vaseAxis, 1.5 * M_PI)
          .Shape();
  std::vector<Probe> vaseProbes;
  for (TopExp_Explorer ex(vase, TopAbs_FACE); ex.More(); ex.Next()) {
    const TopoDS_Face& f = TopoDS::Face(ex.Current());
    Handle(Geom_Surface) S = BRep_Tool::Surface(f);
    double u1, u2, v1, v2;
    S->Bounds(u1, u2, v1, v2);
    u2 = std::min(u2, 1.5 * M_PI);
    for (int i = 0; i < 8; ++i) {
      GeomLProp_SLProps props(S, u1 + (u2 - u1) * (0.05 + 0.9 * U(rng)),
                              v1 + (v2 - v1) * (0.05 + 0.9 * U(rng)), 1, 1e-12);
      gp_Vec n(props.Normal());
      if (f.Orientation() == TopAbs_REVERSED) n.Reverse();
      vaseProbes.push_back({props.Value(), n, "revolution"});
    }
  }
  std::vector<Probe> assemblyProbes = blockProbes(rng);
  for (const Probe& p : blockProbes(rng, moved)) assemblyProbes.push_back(p);

  struct Case {
    const char* file;
    TopoDS_Shape shape;
    const char* unit;
    std::vector<Probe> probes;
    int cylinderFaces;  // in one merged group
  } cases[] = {
      {"block.step", block, "MM", blockProbes(rng), 2},
      {"block_inch.stp", inchBlock, "INCH", blockProbes(rng), 2},
      {"block.igs", block, "MM", blockProbes(rng), 2},
      {"seat.step", seat, "MM", seatProbes, 0},
      {"sheet.step", sheet, "MM", sheetProbes, 0},
      {"vase.step", vase, "MM", vaseProbes, 0},
      {"assembly.step", assembly, "MM", assemblyProbes, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = tmpPath(c.file);
    writeCad(c.shape, path, c.unit);
    const CadModel m = readCad(path);
    ASSERT_EQ(m.error, "");
    EXPECT_TRUE(m.problems.empty()) << m.problems.front();
    EXPECT_EQ(static_cast<int>(m.faces.size()), m.faceCount);
    for (const CadGroup& g : m.groups)
      if (g.kind == "cylinder") {
        EXPECT_EQ(static_cast<int>(g.faces.size()), c.cylinderFaces);
      }
    expectPlainOrder(path, m);
    checkProbes(m, c.probes, rng);
    // Apart, each face is its own feature and the probes still find their faces.
    const CadModel apart = readCad(path, [] {
      CadOptions o;
      o.merge = false;
      return o;
    }());
    EXPECT_EQ(apart.groups.size(), apart.faces.size());
    checkProbes(apart, c.probes, rng);
  }
}

// The block with a countersink over its bore and a boss with a fillet at its foot (cone and
// torus faces), turned and moved far off, mirrored (left-handed frames in the file) and scaled.
TEST(CadReader, ConesAndFilletsInEveryFrame) {
  QORV_SEEDED(std::mt19937 rng, 3939);
  std::uniform_real_distribution<double> U(0, 1);
  TopoDS_Shape part =
      BRepAlgoAPI_Cut(blockWithBore(),
                      BRepPrimAPI_MakeCone(gp_Ax2(gp_Pnt(20, 15, 12), gp::DZ()), 2, 10, 10).Shape())
          .Shape();
  part = BRepAlgoAPI_Fuse(
             part, BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(8, 22, 20), gp::DZ()), 4, 6).Shape())
             .Shape();
  BRepFilletAPI_MakeFillet fillet(part);
  for (TopExp_Explorer ex(part, TopAbs_EDGE); ex.More(); ex.Next()) {
    double a, b;
    Handle(Geom_Curve) c = BRep_Tool::Curve(TopoDS::Edge(ex.Current()), a, b);
    const gp_Pnt p = c.IsNull() ? gp_Pnt() : c->Value(0.5 * (a + b));
    if (!c.IsNull() && std::fabs(p.Z() - 20) < 1e-6 &&
        std::fabs(std::hypot(p.X() - 8, p.Y() - 22) - 4) < 1e-6)
      fillet.Add(1.5, TopoDS::Edge(ex.Current()));
  }
  part = fillet.Shape();
  std::vector<Probe> probes = blockProbes(rng);
  for (int i = 0; i < 6; ++i) {
    const double t = 2 * M_PI * U(rng), z = 16 + 3.8 * U(rng), r = 2 + 0.8 * (z - 12);
    probes.push_back({gp_Pnt(20 + r * std::cos(t), 15 + r * std::sin(t), z),
                      gp_Vec(-std::cos(t), -std::sin(t), 0.8) / std::sqrt(1.64), "cone"});
    const double f = M_PI * (1.05 + 0.4 * U(rng)), q = 5.5 + 1.5 * std::cos(f);
    probes.push_back({gp_Pnt(8 + q * std::cos(t), 22 + q * std::sin(t), 21.5 + 1.5 * std::sin(f)),
                      -gp_Vec(std::cos(f) * std::cos(t), std::cos(f) * std::sin(t), std::sin(f)),
                      "torus"});
  }
  gp_Trsf far, mirror, small;
  far.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(-2, 1, 3)), 2.2);
  far.SetTranslationPart(gp_Vec(-4e5, 2e5, 7e4));
  mirror.SetMirror(gp_Ax2(gp_Pnt(5, 5, 5), gp_Dir(1, -1, 0.5)));
  small.SetScale(gp_Pnt(1, 2, 3), 1e-3);
  const struct {
    const char* name;
    gp_Trsf T;
    double scale;
  } frames[] = {
      {"identity", gp_Trsf(), 1}, {"far", far, 1}, {"mirror", mirror, 1}, {"small", small, 1e-3}};
  for (const auto& fr : frames) {
    SCOPED_TRACE(fr.name);
    const std::string path = tmpPath(std::string("featured_") + fr.name + ".step");
    writeCad(BRepBuilderAPI_Transform(part, fr.T, true).Shape(), path);
    const CadModel m = readCad(path);
    ASSERT_EQ(m.error, "");
    EXPECT_TRUE(m.problems.empty()) << m.problems.front();
    std::vector<Probe> moved = probes;
    for (Probe& p : moved) {
      p.p.Transform(fr.T);
      p.n.Transform(fr.T);
      p.n.Normalize();
    }
    checkProbes(m, moved, rng, fr.scale);
  }
}

// Colours and names written through the XDE writers come back on their faces: a face's own
// colour over its part's, an instance's over the part's, down an assembly of instances turned
// and placed far off at random; names from STEP only.
TEST(CadReader, ColoursAndNamesFollowTheModel) {
  QORV_SEEDED(std::mt19937 rng, 3940);
  std::uniform_real_distribution<double> U(-1, 1);
  const TopoDS_Shape block = blockWithBore();
  std::vector<qorv_test::StyledFace> styled;
  for (TopExp_Explorer ex(block, TopAbs_FACE); ex.More(); ex.Next()) {
    Bnd_Box b;
    BRepBndLib::Add(ex.Current(), b);
    const Handle(Geom_Surface) s = BRep_Tool::Surface(TopoDS::Face(ex.Current()));
    if (b.CornerMin().Z() > 19)
      styled.push_back({ex.Current(), 0xff0000, "top"});
    else if (s->IsKind(STANDARD_TYPE(Geom_CylindricalSurface)))
      styled.push_back({ex.Current(), -1, "bore"});
  }
  ASSERT_EQ(styled.size(), 3u);
  const auto far = [&](int i) {
    gp_Trsf t;
    t.SetRotation(gp_Ax1(gp::Origin(), gp_Dir(U(rng), U(rng), 3 + U(rng))), M_PI * U(rng));
    t.SetTranslationPart(gp_Vec(3e5 * i, 1e5 * U(rng), 1e5 * U(rng)));
    return t;
  };
  const struct {
    const char* file;
    int part;
    std::vector<qorv_test::Placed> instances;
  } cases[] = {
      {"styled.step", 0x123456, {}},
      {"styled.igs", 0x123456, {}},
      {"styled_assembly.step", 0x123456, {{far(1), -1}, {far(2), 0x0080ff}, {far(3), -1}}},
      {"instance_colour.step", -1, {{far(1), 0x0080ff}, {far(2), -1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = tmpPath(c.file);
    ASSERT_TRUE(qorv_test::writeStyled(path, block, c.part, styled, c.instances));
    const CadModel m = readCad(path);
    ASSERT_EQ(m.error, "");
    ASSERT_EQ(static_cast<int>(m.faces.size()), m.faceCount);
    EXPECT_EQ(m.faceCount, 8 * static_cast<int>(std::max<std::size_t>(1, c.instances.size())));
    expectPlainOrder(path, m);
    const bool step = cadFormatOf(path) == "step";
    for (const CadFace& f : m.faces) {
      // The instance the face belongs to, and the face's place in the block.
      const ERPoint3D lo = f.box.MinPoint(), hi = f.box.MaxPoint();
      gp_Pnt centre(0.5 * (lo.x() + hi.x()), 0.5 * (lo.y() + hi.y()), 0.5 * (lo.z() + hi.z()));
      int rgb = c.part;
      for (const auto& p : c.instances)
        if (centre.Transformed(p.at.Inverted()).Distance(gp_Pnt(20, 15, 10)) < 50) {
          if (p.rgb >= 0) rgb = p.rgb;
          centre.Transform(p.at.Inverted());
          break;
        }
      // The block's faces are symmetric about their middles: a turned face's box is centred on it.
      const bool top = f.kind == "plane" && std::fabs(centre.Z() - 20) < 1e-3;
      const bool bore = f.kind == "cylinder";
      SCOPED_TRACE(testing::Message() << "face " << f.index << " " << f.kind);
      EXPECT_EQ(f.colour, hexOf(top ? 0xff0000 : rgb));
      EXPECT_EQ(f.name, !step ? "" : top ? "top" : bore ? "bore" : "");
    }
  }
  // The file holds the colours as written (sRGB), not OpenCASCADE's linear values.
  std::ifstream in(tmpPath("styled.step"));
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("COLOUR_RGB('',7.0588"), std::string::npos);  // 18 / 255
}

// Files that are not models: a clear reason, never a crash; truncated copies of a model give a
// reason or the faces they still hold.
TEST(CadReader, BadFilesGiveAReason) {
  // A coloured, named assembly: the styles and the placements are read from what is left too.
  const std::string good = tmpPath("bad_source.step");
  const TopoDS_Shape block = blockWithBore();
  gp_Trsf moved;
  moved.SetRotation(gp_Ax1(gp_Pnt(3, -2, 7), gp_Dir(1, 2, 2)), 0.7);
  ASSERT_TRUE(qorv_test::writeStyled(
      good, block, 0x123456, {{TopExp_Explorer(block, TopAbs_FACE).Current(), 0xff0000, "a"}},
      {{gp_Trsf(), -1}, {moved, 0x00ff00}}));
  std::ifstream in(good, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const struct {
    const char* name;
    std::string text;
  } files[] = {
      {"text.step", "solid cube\nfacet normal 0 0 1\n"},
      {"empty.stp", ""},
      {"text.igs", "hello"},
      {"header.step", "ISO-10303-21;\nHEADER;\nENDSEC;\nDATA;\nENDSEC;\nEND-ISO-10303-21;\n"},
      {"part.json", "{}"}};
  for (const auto& f : files) {
    const std::string path = tmpPath(f.name);
    std::ofstream(path, std::ios::binary) << f.text;
    const CadModel m = readCad(path);
    EXPECT_NE(m.error, "") << f.name;
    EXPECT_TRUE(m.faces.empty()) << f.name;
  }
  // Truncated copies of a STEP and an IGES model, read under the sanitizers in their builds.
  const std::string igs = tmpPath("bad_source.igs");
  writeCad(blockWithBore(), igs);
  std::ifstream igsIn(igs, std::ios::binary);
  const std::string igsBytes((std::istreambuf_iterator<char>(igsIn)),
                             std::istreambuf_iterator<char>());
  for (const auto& [name, whole, cuts] :
       {std::tuple{"truncated.step", bytes, 20}, std::tuple{"truncated.igs", igsBytes, 5}})
    for (int k = 1; k <= cuts; ++k) {
      const double frac = k / (cuts + 1.0);
      const std::string path = tmpPath(name);
      std::ofstream(path, std::ios::binary)
          << whole.substr(0, static_cast<std::size_t>(frac * whole.size()));
      const CadModel m = readCad(path);
      EXPECT_TRUE(!m.error.empty() ||
                  m.faceCount == static_cast<int>(m.faces.size() + m.problems.size()))
          << name << " " << frac;
    }
}
