// DXF polylines as real writers lay them out, the mesh builder's callbacks, sampling of curves
// on surfaces and the stored image of sampled pairs.
#include "qorv/measurement/dxf_input.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qorv/curves/lines.h"
#include "qorv/measurement/mesh_builder.h"
#include "qorv/measurement/sampling_lists.h"
#include "qorv/surfaces/parametric_surface.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/test_seed.h"

using qorv_test::Bytes, QuickAlgebra::ERVec;

namespace {

std::string dxfPath(const std::string& text) {
  static int n = 0;
  const std::string path = qorv_test::tempPath(("dxf" + std::to_string(n++)).c_str());
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

struct Read {
  bool ok;
  std::vector<ERPoint3D> points;
  std::string reason;
};

std::vector<Read> readAll(const std::string& text, int times = 1) {
  const std::string path = dxfPath(text);
  std::vector<Read> out;
  {
    gmInDXF in(path.c_str());
    for (int i = 0; i < times; ++i) {
      ERVec<ERPoint3D> pts;
      pts.append(ERPoint3D(99, 99, 99));  // read() empties what it is given
      Read r{in.read(pts), {}, in.reason()};
      for (int k = 0; k < pts.length(); ++k) r.points.push_back(pts[k]);
      out.push_back(r);
    }
  }
  std::remove(path.c_str());
  return out;
}

// The layout of the format's simplest writer: VERTEX, layer, 10, 20, 30, then the next group.
std::string simpleFile(const std::vector<ERPoint3D>& pts, bool bulgeOnSecond,
                       const char* eol = "\n") {
  std::ostringstream s;
  auto pairs = [&](std::initializer_list<std::string> cv) {
    for (auto it = cv.begin(); it != cv.end(); it += 2) s << *it << eol << *(it + 1) << eol;
  };
  auto num = [](double v) {
    std::ostringstream o;
    o.precision(17);
    o << v;
    return o.str();
  };
  pairs({"0", "SECTION", "2", "ENTITIES", "0", "POLYLINE", "8", "0", "66", "1"});
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const ERPoint3D& p = pts[i];
    pairs({"0", "VERTEX", "8", "0", "10", num(p.x()), "20", num(p.y()), "30", num(p.z())});
    if (bulgeOnSecond && i == 1) pairs({"42", "0.5"});
  }
  pairs({"0", "SEQEND", "0", "ENDSEC", "0", "EOF"});
  return s.str();
}

// A cylinder patch of radius R about the z axis: u the angle, v the height.
class CylinderPatch : public ERAnyBoundedSurface {
 public:
  using ERAnyBoundedSurface::operator();
  using ERAnyBoundedSurface::PtCur;
  CylinderPatch(double R, double u0, double u1, double v0, double v1)
      : R_(R), u0_(u0), u1_(u1), v0_(v0), v1_(v1) {}
  double udeb() const override { return u0_; }
  double ufin() const override { return u1_; }
  double vdeb() const override { return v0_; }
  double vfin() const override { return v1_; }
  ERInfoPoint3DSurf PtCur(double u, double v) const override {
    QuickAlgebra::ERMatrix<ERPoint3D> m(3, 3);
    m(0, 0) = ERPoint3D(R_ * std::cos(u), R_ * std::sin(u), v);
    m(0, 1) = ERPoint3D(-R_ * std::sin(u), R_ * std::cos(u), 0);
    m(1, 0) = ERPoint3D(0, 0, 1);
    return ERInfoPoint3DSurf(ERPoint2D(u, v), m);
  }
  ERMinimax3D getBox() const override {
    return ERMinimax3D(ERPoint3D(-R_, -R_, v0_), ERPoint3D(R_, R_, v1_));
  }
  // Straight rulings along v; no curve across (sampled on the surface instead).
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoU(double u) const override {
    return new ERSegment3D((*this)(u, 0.0), (*this)(u, 1.0));
  }
  t_SmartPtr<ERFiniteEntity3DWF> getEntityIsoV(double) const override { return nullptr; }
  double upperEstimateInU() const override { return R_ * (u1_ - u0_); }
  double upperEstimateInV() const override { return v1_ - v0_; }
  int SplitInU(t_SmartPtr<ERAnyBoundedSurface>&, t_SmartPtr<ERAnyBoundedSurface>&,
               double) const override {
    return 0;
  }
  int SplitInV(t_SmartPtr<ERAnyBoundedSurface>&, t_SmartPtr<ERAnyBoundedSurface>&,
               double) const override {
    return 0;
  }
  ERObject* getCopy() const override { return new CylinderPatch(*this); }
  void printOn(std::ostream&) const override {}

 private:
  double R_, u0_, u1_, v0_, v1_;
};

}  // namespace

TEST(DxfInput, TheSimpleLayoutPointByPoint) {
  const std::vector<ERPoint3D> pts = {
      {1, 2, 3}, {4.5, -6.25, 0}, {1e-310, -1.7976931348623157e308, 0.1}};
  for (const char* eol : {"\n", "\r\n"}) {
    const auto r = readAll(simpleFile(pts, true, eol), 2);
    ASSERT_TRUE(r[0].ok) << r[0].reason;
    ASSERT_EQ(r[0].points.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(r[0].points[i], pts[i]) << i;
    // Only one polyline: the second read says so and gives nothing.
    EXPECT_EQ((Seq{r[1].ok, r[1].points.empty(), r[1].reason.empty()}), (Seq{false, true, false}));
  }
}

TEST(DxfInput, WhatRealWritersAdd) {
  // Handles, owners, subclass markers, padded codes, keywords with trailing blanks, a layer named
  // like a keyword, 2D vertices taking the polyline's elevation, a long comment line.
  const std::string file =
      "999\n" + std::string(10000, 'c') +
      "\n  0\nSECTION\n  2\nENTITIES  \n  0\nPOLYLINE\n  5\n1F\n"
      "330\n1A\n100\nAcDbEntity\n  8\nVERTEX\n100\nAcDb2dPolyline\n 66\n     1\n 10\n0.0\n "
      "20\n0.0\n"
      " 30\n7.5\n  0\nVERTEX \n  5\n20\n330\n1F\n100\nAcDbVertex\n  8\nSEQEND\n 10\n1.5\n 20\n-2\n"
      " 42\n1.0\n  0\nVERTEX\n 10\n3\n 20\n4\n 30\n5\n 70\n    32\n  0\nSEQEND\n  5\n21\n  "
      "0\nENDSEC\n";
  const auto r = readAll(file);
  ASSERT_TRUE(r[0].ok) << r[0].reason;
  ASSERT_EQ(r[0].points.size(), 2u);
  EXPECT_EQ(r[0].points[0], ERPoint3D(1.5, -2, 7.5));
  EXPECT_EQ(r[0].points[1], ERPoint3D(3, 4, 5));

  // Light polylines: z from the elevation, bulges ignored; two in a row are read one by one.
  const std::string light =
      "0\nSECTION\n2\nENTITIES\n0\nLWPOLYLINE\n5\n2A\n100\nAcDbPolyline\n90\n3\n70\n0\n38\n2.5\n"
      "10\n0\n20\n0\n42\n0.3\n10\n1\n20\n0\n10\n1\n20\n1\n0\nLWPOLYLINE\n10\n9\n20\n8\n0\nENDSEC\n";
  const auto l = readAll(light, 3);
  ASSERT_TRUE(l[0].ok) << l[0].reason;
  ASSERT_EQ(l[0].points.size(), 3u);
  EXPECT_EQ(l[0].points[2], ERPoint3D(1, 1, 2.5));
  ASSERT_TRUE(l[1].ok) << l[1].reason;
  ASSERT_EQ(l[1].points.size(), 1u);
  EXPECT_EQ((Seq{l[1].points[0], bool(l[2].ok)}), (Seq{ERPoint3D(9, 8, 0), false}));
}

TEST(DxfInput, BadFilesSayWhyAndGiveNothing) {
  const std::vector<ERPoint3D> three = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  const std::string good = simpleFile(three, false);
  const std::vector<std::string> bad = {
      "",                                                       // empty
      "0\nSECTION\n2\nHEADER\n0\nENDSEC\n",                     // no entities
      "0\nSECTION\n2\nENTITIES\n0\nLINE\n10\n0\n0\nENDSEC\n",   // no polyline
      good.substr(0, good.find("30\n6")),                       // end of file inside a vertex
      std::string(good).replace(good.find("4\n"), 1, "4x"),     // not a number
      std::string(good).replace(good.find("4\n"), 1, "1e999"),  // overflow
      std::string(good).replace(good.find("4\n"), 1, "nan"),
      std::string(good).replace(good.find("20\n5"), 2, "2O"),  // a group code that is not one
      "AutoCAD Binary DXF\r\n\x1a" + std::string("\0\x01\x02POLYLINE\n\xff\xfe", 14),
  };
  for (std::size_t i = 0; i < bad.size(); ++i) {
    const auto r = readAll(bad[i]);
    EXPECT_EQ(
        (Seq{bool(r[0].ok), r[0].points.empty(), r[0].reason.empty(), r[0].reason.find('\n')}),
        (Seq{false, true, false, std::string::npos}))
        << i;
  }
  gmInDXF missing("/nonexistent/dir/file.dxf");
  ERVec<ERPoint3D> pts;
  EXPECT_FALSE(missing.read(pts));
  // Underflow rounds to zero; a huge coordinate line is refused, never split in two.
  const auto tiny = readAll(std::string(good).replace(good.find("4\n"), 1, "1e-400"));
  ASSERT_TRUE(tiny[0].ok);
  EXPECT_EQ(tiny[0].points[1].x(), 0.0);
  const auto longLine =
      readAll(std::string(good).replace(good.find("4\n"), 1, "4" + std::string(5000, '0')));
  EXPECT_FALSE(longLine[0].ok);

  // Random damage never crashes and never returns more points than vertices in the file.
  std::mt19937_64 rng(qorv_test::seedFor(2701));
  for (int round = 0; round < 300; ++round) {
    std::string junk = good;
    for (int k = 0; k < 3; ++k) junk[rng() % junk.size()] = static_cast<char>(rng());
    const auto r = readAll(junk);
    if (r[0].ok) {
      EXPECT_LE(r[0].points.size(), 3u);
    } else {
      EXPECT_TRUE(r[0].points.empty());
    }
  }
}

TEST(SurfaceSampling, SmashRefinesCurvedAndLeavesStraight) {
  const CylinderPatch cyl(2.0, 0.0, M_PI, -1.0, 1.0);
  // A ruling (fixed u) is straight: nothing added whatever the tolerance.
  ERPoint23List ruling;
  ruling.append(cyl(0.3, -1.0), ERPoint2D(0.3, -1.0));
  ruling.append(cyl(0.3, 1.0), ERPoint2D(0.3, 1.0));
  ruling.Smash(cyl, 1e-12);
  EXPECT_EQ(ruling.entries(), 2);
  // A circle (fixed v): every chord's mid-parameter point ends within tol of its chord.
  for (double tol : {1e-2, 1e-4, 1e-6}) {
    ERPoint23List circle;
    circle.append(cyl(0.0, 0.5), ERPoint2D(0.0, 0.5));
    circle.append(cyl(M_PI, 0.5), ERPoint2D(M_PI, 0.5));
    circle.Smash(cyl, tol);
    const ERVec<ERPoint3D> p = circle.toVec();
    const ERVec<ERPoint2D> uv = circle.toVec2D();
    ASSERT_EQ(p.length(), uv.length());
    // The sagitta of a chord of angle t on radius 2 is 2 (1 - cos(t/2)).
    for (int i = 0; i + 1 < p.length(); ++i) {
      const double t = uv[i + 1].x() - uv[i].x();
      EXPECT_GT(t, 0);
      EXPECT_LE(2.0 * (1 - std::cos(t / 2)), tol * (1 + 1e-9));
      EXPECT_NEAR(qorv::distance(p[i], cyl(uv[i].x(), uv[i].y())), 0, 1e-15);
    }
    EXPECT_GT(circle.entries(), 2);
  }
  // Pairs within 1e-6 of the ranges are never split; NaN parameters add nothing.
  ERPoint23List close;
  close.append(cyl(1.0, 0.0), ERPoint2D(1.0, 0.0));
  close.append(cyl(1.0 + 3e-6, 1e-6), ERPoint2D(1.0 + 3e-6, 1e-6));
  close.Smash(cyl, 0.0);
  EXPECT_EQ(close.entries(), 2);
  ERPoint23List nan;
  const double q = std::numeric_limits<double>::quiet_NaN();
  nan.append(ERPoint3D(q, q, q), ERPoint2D(q, 0));
  nan.append(cyl(2.0, 0.0), ERPoint2D(2.0, 0.0));
  nan.Smash(cyl, 1e-9);
  EXPECT_EQ((Seq{nan.entries(), ERPoint23List().toVec().length()}), (Seq{2, 0}));
}

TEST(SurfaceSampling, StoredPairsByteForByte) {
  ERPoint23List list;
  list.append(ERPoint3D(1, 2, 3), ERPoint2D(0.5, 0.25));
  list.append(ERPoint3D(4, 5, 6), ERPoint2D(0.75, 1));
  const ERVecPoint23 v(list);
  Bytes b = {48, 0, 0, 0};
  const Bytes pts = qorv_test::doubles({1, 2, 3, 4, 5, 6});
  b.insert(b.end(), pts.begin(), pts.end());
  b.insert(b.end(), {32, 0, 0, 0});
  const Bytes uv = qorv_test::doubles({0.5, 0.25, 0.75, 1});
  b.insert(b.end(), uv.begin(), uv.end());
  EXPECT_EQ((Seq{qorv_test::imageOf(v), v.binaryStoreSize()}), (Seq{b, b.size()}));
  ERVecPoint23 back;
  qorv_test::restoreFrom(back, b);
  EXPECT_TRUE(back == v);
  // Vectors of different lengths are refused; the object stays as it was.
  Bytes unequal = b;
  unequal.resize(4 + 48 + 4 + 16);
  unequal[52] = 16;
  ERVecPoint23 same(v);
  qorv_test::restoreFrom(same, unequal);
  EXPECT_TRUE(same == v);
}

TEST(MeshBuilder, CollectsTheIsoLinesOfASurface) {
  struct Collector : gmProcessMesh {
    Collector() : gmProcessMesh(1e-3) {}
    int u_density() const override { return 3; }
    void on_begin_tessellation() override { ++begins; }
    void on_end_tessellation() override { ++ends; }
    void on_add_polyline(const ERVec<ERPoint3D>& p) override { lines.push_back(p); }
    int begins = 0, ends = 0;
    std::vector<ERVec<ERPoint3D>> lines;
  } mesh;
  EXPECT_EQ((Seq{mesh.display_quality(), gmProcessMesh(5, 0.1).display_quality()}), (Seq{21, 5}));
  EXPECT_EQ(mesh.v_density(), 2);
  const CylinderPatch cyl(1.0, 0.0, M_PI / 2, 0.0, 2.0);
  mesh.tessellate(cyl);
  EXPECT_EQ((Seq{mesh.begins, mesh.ends}), (Seq{1, 1}));
  // Four rulings in u (two points each), then three arcs in v sampled within the deviation.
  ASSERT_EQ(mesh.lines.size(), 7u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(mesh.lines[i].length(), 2);
  for (int i = 4; i < 7; ++i) {
    const ERVec<ERPoint3D>& arc = mesh.lines[i];
    ASSERT_GT(arc.length(), 2);
    for (int k = 0; k < arc.length(); ++k)
      EXPECT_NEAR(std::hypot(arc[k].x(), arc[k].y()), 1.0, 1e-12);
    for (int k = 0; k + 1 < arc.length(); ++k) {
      const double chord = qorv::distance(arc[k], arc[k + 1]);
      EXPECT_LE(1 - std::sqrt(1 - chord * chord / 4), 1e-3 * (1 + 1e-9));
    }
  }
  // The wireframe entry discretises a host's own curve.
  Collector wire;
  wire.on_add_wireframe(ERSegment3D(ERPoint3D(), ERPoint3D(1, 0, 0)), ERLimites(0, 1));
  ASSERT_EQ(wire.lines.size(), 1u);
  EXPECT_EQ(wire.lines[0].length(), 2);
}

// The same polylines written by an independent DXF writer, when one is installed.
TEST(DxfInput, FilesOfAnotherWriter) {
  const std::string dir = qorv_test::tempPath("ezdxf");
  const std::string script =
      "import sys, ezdxf\n"
      "d = sys.argv[1]\n"
      "pts = [(0.1, 2.0, -3.5), (4.0, 5.0, 6.0), (1e-310, -1.5e300, 0.3)]\n"
      "for v in ('R12', 'R2000'):\n"
      "    doc = ezdxf.new(v)\n"
      "    doc.modelspace().add_polyline3d(pts)\n"
      "    doc.saveas(d + '_' + v + '.dxf')\n"
      "doc = ezdxf.new('R2000')\n"
      "doc.modelspace().add_lwpolyline([(0.5, 1.5), (2, 3, 0, 0, 0.4), (-1, 7)], "
      "dxfattribs={'elevation': 2.25})\n"
      "doc.saveas(d + '_lw.dxf')\n";
  const std::string scriptPath = dir + ".py";
  std::ofstream(scriptPath) << script;
  const std::string command = "/usr/bin/python3 " + scriptPath + " " + dir + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    std::remove(scriptPath.c_str());
    GTEST_SKIP() << "no DXF writer to compare with (python3-ezdxf)";
  }
  const std::vector<ERPoint3D> expected = {{0.1, 2.0, -3.5}, {4, 5, 6}, {1e-310, -1.5e300, 0.3}};
  for (const char* v : {"_R12.dxf", "_R2000.dxf"}) {
    gmInDXF in((dir + v).c_str());
    ERVec<ERPoint3D> pts;
    ASSERT_TRUE(in.read(pts)) << v << ": " << in.reason();
    ASSERT_EQ(pts.length(), 3) << v;
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(pts[i], expected[static_cast<std::size_t>(i)]) << v << " " << i;
    std::remove((dir + v).c_str());
  }
  gmInDXF lw((dir + "_lw.dxf").c_str());
  ERVec<ERPoint3D> pts;
  ASSERT_TRUE(lw.read(pts)) << lw.reason();
  ASSERT_EQ(pts.length(), 3);
  EXPECT_EQ((Seq{pts[1], pts[2]}), (Seq{ERPoint3D(2, 3, 2.25), ERPoint3D(-1, 7, 2.25)}));
  std::remove((dir + "_lw.dxf").c_str());
  std::remove(scriptPath.c_str());
}
