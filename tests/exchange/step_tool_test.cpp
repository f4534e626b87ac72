// qorv step and qorv inspect --nominal MODEL as users run them: the built tool (QORV_TOOL) on a
// STEP model written by OpenCASCADE (plain, and with colours and names), with a side file.
#include <gtest/gtest.h>
#include <BRepBndLib.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <STEPControl_Writer.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>

#include "tests/exchange/styled_model.h"
#include "tests/in_order.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

class StepTool : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tool = std::getenv("QORV_TOOL");
    if (tool == nullptr) GTEST_SKIP() << "QORV_TOOL names no tool";
    tool_ = tool;
    const char* tmp = std::getenv("QORV_TEST_TMP");
    dir_ = fs::path(tmp ? tmp : "/tmp") / "step_tool";
    fs::create_directories(dir_);
    qorv_test::quietCad();
    const TopoDS_Shape s = qorv_test::blockWithBore();
    STEPControl_Writer w;
    ASSERT_EQ(w.Transfer(s, STEPControl_AsIs), IFSelect_RetDone);
    ASSERT_EQ(w.Write(path("part.step").c_str()), IFSelect_RetDone);
    // The same part with its bore and top coloured and named.
    std::vector<qorv_test::StyledFace> styled;
    for (TopExp_Explorer ex(s, TopAbs_FACE); ex.More(); ex.Next()) {
      Bnd_Box b;
      BRepBndLib::Add(ex.Current(), b);
      if (b.CornerMin().Z() > 19) styled.push_back({ex.Current(), 0xff0000, "top"});
      if (BRep_Tool::Surface(TopoDS::Face(ex.Current()))
              ->IsKind(STANDARD_TYPE(Geom_CylindricalSurface)))
        styled.push_back({ex.Current(), 0x123456, "bore"});
    }
    ASSERT_TRUE(qorv_test::writeStyled(path("styled.step"), s, -1, styled));
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  Outcome run(const std::string& args) const {
    const std::string cmd =
        "'" + tool_ + "' " + args + " >'" + path(".out") + "' 2>'" + path(".err") + "'";
    const int raw = std::system(cmd.c_str());
    auto slurp = [&](const char* n) {
      std::ifstream in(path(n), std::ios::binary);
      std::ostringstream s;
      s << in.rdbuf();
      return s.str();
    };
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(".out"), slurp(".err")};
  }

  std::string tool_;
  fs::path dir_;
};

}  // namespace

TEST_F(StepTool, ListsFacesAndTheMergedBore) {
  const Outcome r = run("step '" + path("part.step") + "' --format json");
  ASSERT_EQ(r.status, 0) << r.err;
  const json doc = json::parse(r.out);
  EXPECT_EQ((Seq{doc["faces"].size(), doc["features"].size()}), (Seq{8u, 7u}));
  int bores = 0;
  for (const json& f : doc["features"])
    if (f["kind"] == "cylinder") {
      ++bores;
      EXPECT_EQ(f["faces"].size(), 2u);
      EXPECT_NEAR(f["area"].get<double>(), 2 * M_PI * 5 * 20, 1e-6);
    }
  EXPECT_EQ(bores, 1);
  const Outcome apart = run("step '" + path("part.step") + "' --no-merge --format json");
  EXPECT_EQ(json::parse(apart.out)["features"].size(), 8u);
  // Colours and names as written, on the faces the plain file numbers so.
  const Outcome styled = run("step '" + path("styled.step") + "' --format json");
  ASSERT_EQ(styled.status, 0) << styled.err;
  const json listed = json::parse(styled.out);
  for (const json& f : listed["faces"]) {
    const int k = f["face"];
    const bool top = f["kind"] == "plane" && f["box"][0][2].get<double>() > 19;
    EXPECT_EQ(f["colour"], k >= 7 ? "#123456" : top ? "#ff0000" : "") << k;
    EXPECT_EQ(f["name"], k >= 7 ? "bore" : top ? "top" : "") << k;
  }
}

// Ids, bands and the material side from the side file; the rest keep "face<N>" and the
// default band; deviations positive outside the material.
// Faces selected by number and box, or by colour (either case) and name.
TEST_F(StepTool, InspectsWithASideFile) {
  write("side.json", R"({"tolerance": [-0.3, 0.3], "features": [
      {"id": "bore", "faces": [7, 8], "tolerance": [-0.02, 0.02]},
      {"id": "top", "box": [[-1, -1, 19.9], [41, 31, 20.1]], "tolerance": [-0.05, 0.05]}]})");
  write("colours.json", R"({"tolerance": [-0.3, 0.3], "features": [
      {"id": "bore", "colour": "#123456", "tolerance": [-0.02, 0.02]},
      {"id": "top", "color": "#FF0000", "name": "top", "tolerance": [-0.05, 0.05]}]})");
  write("points.csv", "a,24.9,15,10\nb,20,10.05,3\nc,10,10,20.04\nd,40.25,10,5\n");
  for (const auto& [model, side] :
       {std::pair{"part.step", "side.json"}, std::pair{"styled.step", "colours.json"}}) {
    const Outcome r =
        run("inspect --nominal '" + path(model) + "' --measured '" + path("points.csv") +
            "' --side '" + path(side) + "' --probe-diameter 0 --format json -q");
    ASSERT_EQ(r.status, 1) << r.err;
    const json doc = json::parse(r.out);
    const struct {
      const char* feature;
      double deviation;
      bool in;
    } want[] = {
        {"bore", 0.1, false}, {"bore", 0.05, false}, {"top", 0.04, true}, {"face6", 0.25, true}};
    ASSERT_EQ(doc["results"].size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
      const json& p = doc["results"][i];
      EXPECT_EQ(p["feature"], want[i].feature) << side << " " << i;
      EXPECT_NEAR(p["deviation"].get<double>(), want[i].deviation, 1e-9) << side << " " << i;
      EXPECT_EQ(p["in_tolerance"], want[i].in) << side << " " << i;
    }
  }
  // The default band comes from --tolerance when the side file gives none.
  write("side2.json", R"({"features": [{"id": "bore", "faces": [8, 7]}]})");
  const Outcome t = run("inspect --nominal '" + path("part.step") + "' --measured '" +
                        path("points.csv") + "' --side '" + path("side2.json") +
                        "' --tolerance=-1,1 --probe-diameter 0 --format json -q");
  EXPECT_EQ(t.status, 0) << t.err;
}

// Faces on one surface carry a datum and tolerances against the model's element: the top
// 0.04 proud at one point (parallel within 0.04 to the bottom, datum A), the bore's axis
// leaning 0.03 over 16 (square within 0.03); faces of two surfaces carry none.
TEST_F(StepTool, SideFileTolerancesAgainstDatums) {
  write("side.json", R"({"features": [
      {"id": "bottom", "box": [[-1, -1, -0.1], [41, 31, 0.1]], "datum": "A"},
      {"id": "bore", "faces": [7, 8], "perpendicularity": {"tolerance": 0.05, "datums": ["A"]}},
      {"id": "top", "box": [[-1, -1, 19.9], [41, 31, 20.1]],
       "parallelism": {"tolerance": 0.02, "datums": ["A"]}}]})");
  std::ofstream m(path("points.csv"));
  for (int i = 0; i < 9; ++i)
    m << "b" << i << "," << 4 + 16 * (i % 3) << "," << 3 + 12 * (i / 3) << ",0\n"
      << "t" << i << "," << 4 + 16 * (i % 3) << "," << 3 + 12 * (i / 3) << ","
      << (i == 4 ? 20.04 : 20.0) << "\n";
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < 12; ++i)
      m << "h" << k << i << "," << 20 + 0.03 * k + 5 * std::cos(i * M_PI / 6) << ","
        << 15 + 5 * std::sin(i * M_PI / 6) << "," << 2 + 16 * k << "\n";
  m.close();
  const std::string args = "inspect --nominal '" + path("part.step") + "' --measured '" +
                           path("points.csv") + "' --probe-diameter 0 --format json -q --side '";
  const Outcome r = run(args + path("side.json") + "'");
  ASSERT_EQ(r.status, 0) << r.err;  // every point within its band
  std::map<std::string, json> f;
  const json doc = json::parse(r.out);
  for (const json& g : doc["features"]) f[g["id"].get<std::string>()] = g;
  EXPECT_EQ(f["bottom"]["datum"], "A");
  // Horizontal rings on a leaning axis: their extreme points lie off the ring centres along
  // the axis by 5 x the lean, which moves the ends across it by 1e-5.
  EXPECT_NEAR(f["bore"]["tolerances"][0]["value"].get<double>(), 0.03, 1e-4);
  EXPECT_NEAR(f["top"]["tolerances"][0]["value"].get<double>(), 0.04, 1e-9);
  EXPECT_EQ(f["top"]["tolerances"][0]["in_tolerance"], false);
  write("two.json", R"({"features": [{"id": "two", "faces": [1, 2], "datum": "B"}]})");
  const Outcome o = run(args + path("two.json") + "'");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("need faces on one plane, cylinder, cone or sphere"), std::string::npos);
}

// Inputs that cannot be used: a reason and exit 2.
TEST_F(StepTool, BadInputsExitTwo) {
  write("points.csv", "a,1,2,3\n");
  write("fake.step", "solid x\nendsolid\n");
  write("none.json", R"({"features": [{"id": "x", "faces": [99]}]})");
  write("broken.json", R"({"features": [)");
  write("colour.json", R"({"features": [{"id": "x", "colour": "#12345g"}]})");
  const std::string m = " --measured '" + path("points.csv") + "' -q";
  const struct {
    std::string args, says;
  } cases[] = {
      {"inspect --nominal '" + path("fake.step") + "'" + m, "not a STEP file"},
      {"inspect --nominal '" + path("part.step") + "' --side '" + path("none.json") + "'" + m,
       "selects no face"},
      {"inspect --nominal '" + path("part.step") + "' --side '" + path("broken.json") + "'" + m,
       "not valid JSON"},
      {"inspect --nominal '" + path("part.step") + "' --side '" + path("colour.json") + "'" + m,
       "must be a colour"},
      {"inspect --nominal '" + path("part.step") + "' --tolerance=0.2,0.1" + m, "--tolerance"},
      {"step '" + path("fake.step") + "'", "not a STEP file"},
      {"step '" + path("missing.igs") + "'", "cannot be read"},
  };
  for (const auto& c : cases) {
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

// Damaged side files (bytes flipped, cut, duplicated): a reason and exit 2, or a run; never a
// crash.
TEST_F(StepTool, DamagedSideFilesNeverCrash) {
  const std::string side = R"({"tolerance": [-0.3, 0.3], "features": [
      {"id": "bore", "faces": [7, 8], "tolerance": [-0.02, 0.02], "material": "reversed"},
      {"id": "top", "name": "x", "box": [[-1, -1, 19.9], [41, 31, 20.1]]}]})";
  write("points.csv", "a,24.9,15,10\nb,10,10,20.04\n");
  std::mt19937 rng(39);
  const char bytes[] = "{}[],:\"0123456789.-eE \\xnull";
  for (int i = 0; i < 20; ++i) {
    std::string t = side;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = rng() % t.size();
      switch (rng() % 3) {
        case 0:
          t[at] = bytes[rng() % (sizeof bytes - 1)];
          break;
        case 1:
          t.resize(at);
          break;
        default:
          t.insert(at, t.substr(at / 2, at / 2 + 1));
      }
      if (t.empty()) t = "{";
    }
    write("damaged.json", t);
    const Outcome r = run("inspect --nominal '" + path("part.step") + "' --measured '" +
                          path("points.csv") + "' --side '" + path("damaged.json") + "' -q");
    EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 2) << t;
    if (r.status == 2) {
      EXPECT_NE(r.err.find("qorv: "), std::string::npos) << t;
    }
  }
}
