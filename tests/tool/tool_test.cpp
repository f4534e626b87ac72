// The qorv tool as its users run it: the built binary in a child process, its exit status,
// standard output and standard error. QORV_TOOL names the binary.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "qorv/qorv.h"
#include "tests/in_order.h"
#include "tests/object_images.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A scratch folder per test, removed at the end.
class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tool = std::getenv("QORV_TOOL");
    ASSERT_NE(tool, nullptr) << "QORV_TOOL must name the built tool";
    tool_ = fs::absolute(tool).string();
    const char* tmp = std::getenv("QORV_TEST_TMP");
    dir_ = fs::path(tmp != nullptr ? tmp : "/tmp") /
           ("qorv_tool_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the tool in the scratch folder; stdoutPath redirects standard output (e.g. /dev/full).
  Outcome run(std::vector<std::string> args, const char* stdoutPath = nullptr,
              const char* debugEnv = nullptr) {
    const std::string outPath = (dir_ / ".out").string(), errPath = (dir_ / ".err").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(dir_.c_str()) != 0) ::_exit(127);
      if (debugEnv != nullptr)
        ::setenv("QORV_DEBUG", debugEnv, 1);
      else
        ::unsetenv("QORV_DEBUG");
      const int out =
          ::open(stdoutPath ? stdoutPath : outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0) ::_exit(127);
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char*> argv{const_cast<char*>(tool_.c_str())};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(tool_.c_str(), argv.data());
      ::_exit(127);
    }
    Outcome r;
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = stdoutPath ? std::string() : slurp(outPath);
    r.err = slurp(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return r;
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  Outcome inspect(const std::string& nominal, const std::string& measured,
                  std::vector<std::string> more = {}) {
    std::vector<std::string> args{"inspect", "--nominal", nominal, "--measured", measured};
    args.insert(args.end(), more.begin(), more.end());
    return run(args);
  }

  // The demo database, built once per test that needs it.
  std::string demoFile() {
    const std::string p = path("demo.qdb");
    if (!fs::exists(p)) {
      const Outcome r = run({"demo", p});
      EXPECT_EQ(r.status, 0) << r.err;
    }
    return p;
  }

  std::string tool_;
  fs::path dir_;
};

// Whether text holds what; a failure shows the text.
::testing::AssertionResult has(const std::string& text, const std::string& what) {
  if (text.find(what) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no '" << what << "' in:\n" << text;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool validUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int n = c < 0x80           ? 1
                  : (c >> 5) == 0x6  ? 2
                  : (c >> 4) == 0xE  ? 3
                  : (c >> 3) == 0x1E ? 4
                                     : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (int k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2) return false;
    i += n;
  }
  return true;
}

TEST_F(ToolTest, UsageErrorsExitTwoAndNameTheWrongArgument) {
  EXPECT_EQ(run({}).status, 2);
  for (const char* help : {"--help", "-h"}) {
    const Outcome r = run({help});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.out, "demo"));
  }
  const Outcome version = run({"-V"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("qorv ") + qorvVersion() + "\n");
  EXPECT_EQ(run({"--version"}).out, version.out);

  // Every command answers --help, and demo never takes it for a file name.
  for (std::vector<std::string> args : {std::vector<std::string>{"demo", "--help"},
                                        {"db", "--help"},
                                        {"db", "list", "--help"},
                                        {"db", "show", "--help"},
                                        {"db", "summary", "--help"},
                                        {"db", "check", "--help"},
                                        {"classes", "--help"}}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_TRUE(has(r.out, "Usage"));
  }
  EXPECT_TRUE(fs::is_empty(dir_));

  const Outcome misspelt = run({"db", "lst", "x.qdb"});
  EXPECT_EQ(misspelt.status, 2);
  EXPECT_TRUE(has(misspelt.err, "'lst'"));
  EXPECT_TRUE(has(run({"frobnicate"}).err, "frobnicate"));
  const Outcome format = run({"db", "list", "x.qdb", "--format", "xml"});
  EXPECT_EQ(format.status, 2);
  EXPECT_TRUE(has(format.err, "xml"));
  EXPECT_EQ((Seq{run({"db", "show", "x.qdb"}).status, run({"db", "list", "x.qdb", "extra"}).status,
                 run({"demo", "a.qdb", "b.qdb"}).status, fs::exists(path("a.qdb"))}),
            (Seq{2, 2, 2, false}));
}

TEST_F(ToolTest, DemoNeverReplacesWhatIsNotItsOwn) {
  // A text file, a folder, a device: refused with or without --force, left as they were.
  const std::string text = path("notes.txt");
  std::ofstream(text) << "measurements\n";
  fs::create_directory(path("folder"));
  for (const std::string& force : {std::string(), std::string("--force")}) {
    for (const std::string& target : {text, path("folder"), std::string("/dev/null")}) {
      std::vector<std::string> args{"demo", target};
      if (!force.empty()) args.push_back(force);
      const Outcome r = run(args);
      EXPECT_EQ(r.status, 1) << target << " " << force;
      EXPECT_EQ(count(r.err, target), 1u) << r.err;
    }
  }
  EXPECT_EQ((Seq{slurp(text), fs::is_directory(path("folder")), fs::is_empty(path("folder"))}),
            (Seq{"measurements\n", true, true}));
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  // An existing database: refused without --force, replaced with it; no temporary left behind.
  const std::string db = demoFile();
  const std::string before = slurp(db);
  EXPECT_EQ((Seq{run({"demo", db}).status, slurp(db), run({"demo", "--force", db}).status}),
            (Seq{1, before, 0}));
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"demo.qdb", "folder", "notes.txt"}));
}

TEST_F(ToolTest, DemoRefusesADatabaseAnotherProcessHolds) {
  const std::string db = demoFile();
  const std::string before = slurp(db);
  auto holder = qorv_test::openedDb(db.c_str(), 0);
  const Outcome r = run({"demo", "--force", db});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "another process"));
  holder->Close();
  EXPECT_EQ(slurp(db), before);
}

TEST_F(ToolTest, DemoCountsAgreeWithWhatItLists) {
  const Outcome r = run({"demo", path("d.qdb")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(r.out, m, std::regex("stored (\\d+) sample objects .* (\\d+) records")));
  const int records = std::stoi(m[2]);
  // The sample objects, the auxiliary index, and the elements composite curves hold.
  EXPECT_GT(records, std::stoi(m[1]));
  EXPECT_EQ(static_cast<int>(count(r.out, "\n#")), records);
  const json list = json::parse(run({"db", "list", path("d.qdb"), "--format", "json"}).out);
  EXPECT_EQ(static_cast<int>(list.size()), records);
}

TEST_F(ToolTest, EachBadPathHasItsOwnReason) {
  const std::string db = demoFile();
  std::ofstream(path("empty.qdb"));
  std::ofstream(path("foreign.qdb")) << "not a database at all, but long enough to have a header";
  {
    const std::string bytes = slurp(db);
    std::ofstream(path("cut.qdb"), std::ios::binary) << bytes.substr(0, 400);
  }
  fs::create_directory(path("dir.qdb"));
  std::vector<std::string> reasons;
  for (const char* name : {"missing.qdb", "dir.qdb", "empty.qdb", "foreign.qdb", "cut.qdb"}) {
    const Outcome r = run({"db", "summary", path(name)});
    EXPECT_EQ((Seq{r.status, r.out.empty()}), (Seq{1, true})) << name;
    EXPECT_EQ((Seq{count(r.err, path(name)), count(r.err, "\n")}), (Seq{1u, 1u})) << r.err;
    reasons.push_back(r.err.substr(r.err.rfind(": ")));
  }
  std::sort(reasons.begin(), reasons.end());
  EXPECT_EQ(std::unique(reasons.begin(), reasons.end()), reasons.end()) << "reasons repeat";
  EXPECT_EQ(
      (Seq{run({"db", "show", db, "999"}).status, run({"db", "show", db, "4294967298"}).status,
           run({"db", "show", db, "-1"}).status}),
      (Seq{1, 1, 1}));
}

TEST_F(ToolTest, OutputIsUtf8UnlessRawAndWriteErrorsFail) {
  const std::string db = demoFile();
  const Outcome text = run({"db", "summary", db});
  ASSERT_EQ(text.status, 0);
  EXPECT_TRUE(has(text.out,
                  "Donn\xC3\xA9"
                  "es"));
  EXPECT_TRUE(validUtf8(text.out));
  const Outcome raw = run({"--raw", "db", "summary", db});
  EXPECT_TRUE(has(raw.out,
                  "Donn\xE9"
                  "es"));
  for (std::vector<std::string> args :
       {std::vector<std::string>{"demo", path("x.qdb")}, {"classes"}, {"db", "list", db}}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(validUtf8(r.out)) << args[0];
  }
  const Outcome full = run({"db", "summary", db}, "/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_TRUE(has(full.err, "standard output"));
  EXPECT_NE(run({"classes"}, "/dev/full").status, 0);
}

TEST_F(ToolTest, MachineReadableOutputParses) {
  const std::string db = demoFile();
  const json list = json::parse(run({"db", "list", db, "--format", "json"}).out);
  ASSERT_TRUE(list.is_array());
  ASSERT_GE(list.size(), 2u);
  EXPECT_EQ(list[0]["class"], "ERAuxilaryIndex");
  const json summary = json::parse(run({"db", "summary", db, "--format", "json"}).out);
  EXPECT_EQ(summary["objects"].size(), list.size());
  EXPECT_FALSE(summary["classes"].empty());

  // The demo's bore: a 2D circle of radius 6.35 about (30, 15).
  long bore = -1;
  for (const json& e : list)
    if (e["class"] == "ERCircle2D") bore = e["id"];
  ASSERT_GT(bore, 0);
  const json shown =
      json::parse(run({"db", "show", db, std::to_string(bore), "--format", "json"}).out);
  EXPECT_EQ(shown["values"]["radius"], 6.35);
  EXPECT_EQ(shown["values"]["center"], json::array({30.0, 15.0}));
  EXPECT_TRUE(has(shown["text"].get<std::string>(), "6.35"));

  // A named feature: its properties and the curve it references, in text and JSON.
  long named = -1, referenced = -1;
  for (const json& e : list)
    if (e["class"] == "ERDBObject" && named < 0) named = e["id"];
  ASSERT_GT(named, 0);
  const json feature =
      json::parse(run({"db", "show", db, std::to_string(named), "--format", "json"}).out);
  EXPECT_EQ(feature["values"]["properties"]["3"], "datum edge A");
  EXPECT_EQ(feature["values"]["properties"]["100"], 0.05);
  referenced = feature["values"]["object"];
  for (const json& e : list)
    if (e["id"] == referenced) {
      EXPECT_EQ(e["class"], "ERSegment2D");
    }
  const Outcome featureText = run({"db", "show", db, std::to_string(named)});
  EXPECT_TRUE(has(featureText.out, "3 name = 'datum edge A' (String)"));
  EXPECT_TRUE(has(featureText.out, "references: #" + std::to_string(referenced) + " ERSegment2D"));

  const Outcome csv = run({"db", "list", db, "--format", "csv"});
  EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')), "id,class,size");
  EXPECT_EQ(count(csv.out, "\n"), list.size() + 1);
  const Outcome one = run({"db", "show", db, std::to_string(bore), "--format", "csv"});
  EXPECT_TRUE(has(one.out, "values.radius"));
}

TEST_F(ToolTest, ListsInIdentifierOrderAndShowsTheIndex) {
  // Past 255 the identifiers' raw little-endian bytes no longer sort as numbers.
  const std::string p = path("many.qdb");
  {
    auto db = qorv_test::openedDb(p.c_str(), 0);
    for (int i = 0; i < 300; ++i) {
      ERSegment2D s(ERPoint2D(i, 0), ERPoint2D(i, 1));
      ASSERT_GT(db->Store(s), 0);
    }
    db->Close();
  }
  const json list = json::parse(run({"db", "list", p, "--format", "json"}).out);
  ASSERT_EQ(list.size(), 300u);
  for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i]["id"], static_cast<long>(i + 1));

  const Outcome index = run({"db", "show", demoFile(), "1"});
  EXPECT_EQ(index.status, 0) << index.err;
  EXPECT_TRUE(has(index.out, "ERAuxilaryIndex"));
}

TEST_F(ToolTest, CheckSaysOkOrListsEveryProblem) {
  const std::string db = demoFile();
  const Outcome sound = run({"db", "check", db});
  EXPECT_EQ(sound.status, 0) << sound.out << sound.err;
  EXPECT_EQ(sound.out, db + ": ok\n");
  // A record's signature overwritten: the file still opens, the check names the damage.
  std::string bytes = slurp(db);
  const std::string damaged = path("damaged.qdb");
  const json list = json::parse(run({"db", "summary", db, "--format", "json"}).out);
  const long offset = list["objects"][3]["offset"];
  bytes[offset] = '\x7F';
  std::ofstream(damaged, std::ios::binary) << bytes;
  const Outcome bad = run({"db", "check", damaged});
  EXPECT_EQ((Seq{bad.status, bad.out.empty()}), (Seq{1, false}));
  EXPECT_EQ((Seq{bad.out.find(": ok"), slurp(damaged)}), (Seq{std::string::npos, bytes}));
  EXPECT_EQ(run({"db", "check", path("missing.qdb")}).status, 1);
}

// Readers come in beside a writer; a file a writer is changing is "locked" (3), not damaged (1).
TEST_F(ToolTest, ReadersBesideAWriterAndLockedFilesAreToldApart) {
  const std::string db = demoFile();
  {
    auto writer = qorv_test::openedDb(db.c_str(), 0);
    EXPECT_EQ((Seq{run({"db", "list", db}).status, run({"db", "check", db}).status}), (Seq{0, 0}));
  }
  ERFileLock lock(db.c_str());  // what a committing writer holds
  ASSERT_TRUE(lock.held());
  const Outcome check = run({"db", "check", db});
  EXPECT_EQ(check.status, 3);
  EXPECT_TRUE(has(check.out, "locked"));
  EXPECT_EQ(run({"db", "list", db}).status, 3);
}

TEST_F(ToolTest, ADamagedJournalIsKeptUntilRecoverPlaysBackWhatVerifies) {
  const std::string db = demoFile(), journal = db + "-journal";
  const std::string before = slurp(db), garbage(100, '\7');
  std::ofstream(journal, std::ios::binary) << garbage;
  for (const char* command : {"list", "check"}) {
    const Outcome r = run({"db", command, db});
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_TRUE(has((r.out + r.err), "journal")) << r.out << r.err;
  }
  EXPECT_EQ(run({"demo", "--force", db}).status, 1);  // would play the journal onto a new file
  EXPECT_EQ((Seq{slurp(db), slurp(journal)}), (Seq{before, garbage}));
  const Outcome r = run({"db", "recover", db});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(has(r.out, "damaged journal"));
  EXPECT_TRUE(has(r.out, db + ": ok"));
  EXPECT_FALSE(fs::exists(journal));
  EXPECT_EQ((Seq{slurp(journal + ".damaged"), slurp(db), run({"db", "recover", db}).out}),
            (Seq{garbage, before, db + ": no journal to recover\n" + db + ": ok\n"}));
}

// The old results are replaced only once the new ones are whole, and never while another process
// has them open.
TEST_F(ToolTest, InspectReplacesItsResultsOnlyWhenNobodyHoldsThem) {
  const std::string nominal = path("part.json"), measured = path("points.csv");
  const std::string results = path("results.qdb");
  std::ofstream(nominal) << R"({"features": [{"id": "face", "kind": "plane", "origin": [0, 0, 0],
      "normal": [0, 0, 1], "u": [0, 10], "v": [0, 10], "tolerance": [-0.1, 0.1]}]})";
  std::ofstream(measured) << "a,1,1,0.5\nb,2,2,0.45\n";
  const std::vector<std::string> args{
      "inspect",          "--nominal", nominal, "--measured", measured,
      "--probe-diameter", "1",         "--out", results,      "-q"};
  ASSERT_EQ(run(args).status, 0);
  const std::string first = slurp(results);
  const std::size_t firstRecords =
      json::parse(run({"db", "list", results, "--format", "json"}).out).size();
  for (int readOnly : {1, 0}) {
    auto holder = qorv_test::openedDb(results.c_str(), readOnly);
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 1) << readOnly;
    EXPECT_TRUE(has(r.err, "in use by another process"));
  }
  EXPECT_EQ(slurp(results), first);
  std::ofstream(measured) << "a,1,1,0.5\nb,2,2,0.45\nc,3,3,0.5\n";
  ASSERT_EQ(run(args).status, 0);
  EXPECT_EQ(run({"db", "check", results}).status, 0);
  EXPECT_GT(json::parse(run({"db", "list", results, "--format", "json"}).out).size(), firstRecords);
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

TEST_F(ToolTest, DebugTracesFollowQorvDebug) {
  // Loading the library traces its own file name when QORV_DEBUG asks for it; "0" and "off" don't.
  const Outcome on = run({"-V"}, nullptr, "1");
  EXPECT_TRUE(has(on.err, "libqorv.so Initializing!"));
  for (const char* off : {"0", "off", ""}) EXPECT_EQ(run({"-V"}, nullptr, off).err, "") << off;
  EXPECT_EQ(run({"-V"}).err, "");
}

TEST_F(ToolTest, ClassesTellAbstractFromConcrete) {
  const Outcome r = run({"classes"});
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(has(r.out, "\nEREntity (abstract)\n"));
  EXPECT_TRUE(has(r.out, "\nERAuxilaryIndex (no creator)\n"));
  EXPECT_TRUE(has(r.out, "\nERSegment2D\n"));
}

}  // namespace

TEST_F(ToolTest, DxfPrintsThePointsOrSaysWhyNot) {
  const std::string good = path("part.dxf");
  std::ofstream(good)
      << "0\nSECTION\n2\nENTITIES\n0\nPOLYLINE\n8\n0\n66\n1\n0\nVERTEX\n8\n0\n10\n"
         "0.1\n20\n2\n30\n-3.5\n0\nVERTEX\n8\n0\n10\n4\n20\n5\n30\n6\n0\nSEQEND\n0\n"
         "ENDSEC\n0\nEOF\n";
  const Outcome text = run({"dxf", good});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out, "0.1 2 -3.5\n4 5 6\n");
  const json doc = json::parse(run({"dxf", good, "--format", "json"}).out);
  EXPECT_EQ(doc["points"][0], json::array({0.1, 2.0, -3.5}));
  EXPECT_EQ(run({"dxf", good, "--format", "csv"}).out, "x,y,z\n0.1,2,-3.5\n4,5,6\n");

  const std::string bad = path("broken.dxf");
  std::ofstream(bad) << "0\nSECTION\n2\nENTITIES\n0\nPOLYLINE\n0\nVERTEX\n10\n1\n20\n";
  const Outcome r = run({"dxf", bad});
  EXPECT_EQ((Seq{r.status, r.out.empty()}), (Seq{1, true}));
  EXPECT_TRUE(has(r.err, "broken.dxf"));
  EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
  EXPECT_EQ(run({"dxf", path("missing.dxf")}).status, 1);
}

namespace {

// Runs a program other than the tool, standard output and error discarded; its exit status.
int runQuiet(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::map<std::string, double> truthOf(const std::string& path) {
  std::map<std::string, double> t;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    const std::size_t a = line.find(','), b = line.find(',', a + 1);
    t[line.substr(0, a)] = std::stod(line.substr(b + 1));
  }
  return t;
}

}  // namespace

TEST_F(ToolTest, InspectRecoversTheSamplePartsKnownDeviations) {
  const char* sample = std::getenv("QORV_SAMPLE");
  const char* source = std::getenv("QORV_SOURCE_DIR");
  if (sample == nullptr || source == nullptr)
    GTEST_SKIP() << "QORV_SAMPLE and QORV_SOURCE_DIR name the generator";
  const std::string part = std::string(source) + "/examples/inspection/part.json";
  ASSERT_EQ(runQuiet(std::string(sample) + " " + part + " " + path("") + " 1200 7"), 0);
  const std::map<std::string, double> truth = truthOf(path("truth.csv"));
  ASSERT_EQ(truth.size(), 1200u);

  const Outcome r = inspect(part, path("measured.csv"),
                            {"--format", "json", "--out", path("results.qdb"), "--report",
                             path("report.html"), "-j", "2", "-q"});
  // The sample has points out of tolerance on purpose.
  EXPECT_EQ(r.status, 1) << r.err;
  const json doc = json::parse(r.out);
  ASSERT_EQ(doc["results"].size(), 1200u);
  for (const json& p : doc["results"]) {
    const std::string id = p["id"];
    ASSERT_TRUE(truth.count(id)) << id;
    EXPECT_NEAR(p["deviation"].get<double>(), truth.at(id), 1e-9) << id;
  }
  // The four malformed lines, with their line numbers.
  ASSERT_EQ(doc["skipped"].size(), 4u);
  EXPECT_EQ((Seq{doc["skipped"][0]["line"], doc["skipped"][3]["line"]}), (Seq{1202, 1205}));
  EXPECT_TRUE(has(doc["skipped"][3]["reason"].get<std::string>(), "no-such-feature"));
  // Statistics of each feature against the truth, computed here.
  for (const json& f : doc["features"]) {
    std::vector<double> devs;
    for (const json& p : doc["results"])
      if (p["feature"] == f["id"]) devs.push_back(truth.at(p["id"]));
    double mean = 0;
    for (double d : devs) mean += d;
    mean /= static_cast<double>(devs.size());
    double var = 0;
    for (double d : devs) var += (d - mean) * (d - mean);
    var /= static_cast<double>(devs.size() - 1);
    EXPECT_EQ(f["count"], devs.size());
    EXPECT_NEAR(f["mean"].get<double>(), mean, 1e-9);
    EXPECT_NEAR(f["std_dev"].get<double>(), std::sqrt(var), 1e-9);
    EXPECT_NEAR(f["min"].get<double>(), *std::min_element(devs.begin(), devs.end()), 1e-9);
  }
  // Form and size, each with its own verdict: no minimum zone wider than the least-squares
  // spread, no inscribed bore larger nor circumscribed boss smaller than the least-squares one.
  int judged = 0;
  for (const json& f : doc["features"]) {
    SCOPED_TRACE(f["id"].get<std::string>());
    if (f.contains("form")) {
      const json& g = f["form"];
      ++judged;
      EXPECT_EQ(g["in_tolerance"].get<bool>(),
                g["width"].get<double>() <= g["tolerance"].get<double>());
      if (g["association"] == "minimum-zone") {
        EXPECT_TRUE(g["certified"].get<bool>());
        if (f.contains("fit")) {
          EXPECT_LE(g["width"].get<double>(), f["fit"]["form_error"].get<double>() + 1e-12);
        }
        for (const char* side : {"upper", "lower"})
          for (const json& i : g["contacts"][side])
            EXPECT_LT(i.get<std::size_t>(), f["count"].get<std::size_t>());
      }
    }
    if (f.contains("size")) {
      const json& z = f["size"];
      const double dev = z["diameter"].get<double>() - z["nominal"].get<double>();
      EXPECT_NEAR(z["deviation"].get<double>(), dev, 1e-12);
      EXPECT_EQ(z["in_tolerance"].get<bool>(),
                dev >= z["tolerance"][0].get<double>() && dev <= z["tolerance"][1].get<double>());
      const double ls = 2 * f["fit"]["radius"].get<double>();
      if (z["association"] == "inscribed") {
        EXPECT_LE(z["diameter"].get<double>(), ls);
      } else if (z["association"] == "circumscribed") {
        EXPECT_GE(z["diameter"].get<double>(), ls);
      }
    }
  }
  EXPECT_EQ(judged, 5);
  // The stored results and the report.
  const json stored = json::parse(run({"db", "list", path("results.qdb"), "--format", "json"}).out);
  // Each target point with its record (point id, feature), one summary per feature.
  EXPECT_EQ(stored.size(), 2 * 1200u + doc["features"].size());
  EXPECT_EQ(run({"db", "check", path("results.qdb")}).status, 0);
  // The report itself is checked in a browser (report_test.py); here it is whole.
  const std::string html = slurp(path("report.html"));
  EXPECT_EQ(html.substr(html.size() - 8), "</html>\n");

  // The table names the skipped lines; CSV has a row per point.
  const Outcome table = inspect(part, path("measured.csv"), {"-q"});
  EXPECT_TRUE(has(table.out, "line 1205: unknown feature 'no-such-feature'"));
  const Outcome csv = inspect(part, path("measured.csv"), {"--format", "csv"});
  EXPECT_EQ(count(csv.out, "\n"), 1u + 1200u + 4u);
}

// Points out of tolerance exit 1. Nothing judged, or an argument out of its domain, is an error
// (2) with its reason; no input aborts.
TEST_F(ToolTest, InspectExitCodesAndRefusals) {
  const std::string nominal = path("part.json");
  std::ofstream(nominal) << R"({"features": [{"id": "face", "kind": "plane", "origin": [0, 0, 0],
      "normal": [0, 0, 1], "u": [0, 10], "v": [0, 10], "tolerance": [-0.1, 0.1]}]})";
  fs::create_directories(path("folder"));
  ASSERT_EQ(run({"demo", path("demo.qdb")}).status, 0);
  struct Case {
    const char* measured;  // file contents; nullptr: the argument names a path as it is
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {"a,1,1,0.5\nb,2,2,0.45\n", {"--probe-diameter", "1"}, 0, ""},
      {"a,1,1,0.5\nb,2,2,0.75\n", {"--probe-diameter", "1"}, 1, ""},
      {nullptr, {"--measured", "missing.csv"}, 2, "missing.csv"},
      {"", {}, 2, "empty"},
      {"just some words\nand more\n", {}, 2, "no measured point"},
      {"a,+-3.0,1,0\nb,++1,1,0\nc,1,+-nan,0\n", {}, 2, "not a number"},
      {"a,1,1,40\n", {}, 2, "no point could be judged"},  // beyond --max-distance
      {"a,1,1,0\n", {"--probe-diameter", "-1"}, 2, "--probe-diameter"},
      {"a,1,1,0\n", {"--probe-diameter", "nan"}, 2, "probe"},
      {"a,1,1,0\n", {"--max-distance", "0"}, 2, "--max-distance"},
      {"a,1,1,0\n", {"--delimiter", "x"}, 2, "--delimiter"},
      {"a,1,1,0\n", {"--delimiter", ",", "--decimal", ","}, 2, "differ"},
      {nullptr, {"--measured", "folder"}, 2, "directory"},
      {nullptr, {"--measured", "demo.qdb"}, 2, "binary"},
      {nullptr, {"--nominal", "folder"}, 2, "directory"},
      // Separators and decimal marks as measuring software writes them: read, judged.
      {"id\tx\ty\tz\na\t1,5\t1\t0,05\n", {}, 0, "no probe diameter given"},
      {"a 1.5 1 0.05\nb 2 2 0\n", {}, 0, ""},
      {"id;x;y;z\na;1,5;1;0,05\n", {}, 0, ""},
      {"\"a,1\",1,1,0.5\n", {"--probe-diameter", "1"}, 0, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"inspect",    "--nominal",   nominal,
                                     "--measured", path("m.csv"), "-q"};
    if (c.measured) std::ofstream(path("m.csv"), std::ios::binary) << c.measured;
    for (std::size_t k = 0; k + 1 < c.args.size(); k += 2) {
      const auto at = std::find(args.begin(), args.end(), c.args[k]);
      if (at != args.end() && (c.args[k] == "--measured" || c.args[k] == "--nominal"))
        *(at + 1) = path(c.args[k + 1]);
      else
        args.insert(args.end(), {c.args[k], c.args[k + 1]});
    }
    const Outcome r = run(args);
    SCOPED_TRACE(c.measured ? c.measured : c.args[1]);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(has(r.err, c.says));
  }
  // Nominals that cannot serve, as the file names them.
  for (const char* bad :
       {"{", R"({"features": []})",
        R"({"features": [{"id": "x", "kind": "blob", "tolerance": [0, 1]}]})",
        R"({"features": [{"id": "c", "kind": "cylinder", "origin": [0,0,0], "axis": [0,0,0],
                              "radius": 1, "height": [0, 1], "tolerance": [0, 1]}]})",
        // Form and size where they do not apply or named wrongly.
        R"({"features": [{"id": "t", "kind": "torus", "center": [0,0,0], "axis": [0,0,1],
            "major_radius": 3, "minor_radius": 1, "tolerance": [0, 1], "form_tolerance": 1}]})",
        R"({"features": [{"id": "p", "kind": "plane", "origin": [0,0,0], "normal": [0,0,1],
            "tolerance": [0, 1], "size": "inscribed"}]})",
        R"({"features": [{"id": "p", "kind": "plane", "origin": [0,0,0], "normal": [0,0,1],
            "tolerance": [0, 1], "form": "inscribed"}]})",
        // Datums and tolerances: a letter no feature carries, one carried twice, no angle.
        R"({"features": [{"id": "p", "kind": "plane", "origin": [0,0,0], "normal": [0,0,1],
            "tolerance": [0, 1], "parallelism": {"tolerance": 1, "datums": ["Z"]}}]})",
        R"({"features": [{"id": "p", "kind": "plane", "origin": [0,0,0], "normal": [0,0,1],
            "tolerance": [0, 1], "datum": "A"}, {"id": "q", "kind": "plane", "origin": [0,0,0],
            "normal": [0,0,1], "tolerance": [0, 1], "datum": "A"}]})",
        R"({"features": [{"id": "p", "kind": "plane", "origin": [0,0,0], "normal": [0,0,1],
            "tolerance": [0, 1], "angularity": {"tolerance": 1, "datums": ["A"]}}]})"}) {
    std::ofstream(nominal) << bad;
    const Outcome r = inspect(nominal, path("m.csv"));
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_TRUE(has(r.err, "part.json"));
  }
}

// Ids are user text: UTF-8 passes once, anything else is replaced, never a crash; CSV quotes what
// needs it; points far from every feature are unassigned unless they name one.
TEST_F(ToolTest, InspectKeepsIdsAndJudgesOnlyWhatIsNear) {
  const std::string nominal = path("part.json"), measured = path("m.csv");
  std::ofstream(nominal) << R"({"features": [{"id": "alésage", "kind": "plane", "origin": [0, 0, 0],
      "normal": [0, 0, 1], "u": [0, 10], "v": [0, 10], "tolerance": [-0.1, 0.1]}]})";
  std::ofstream(measured, std::ios::binary)
      << "p\xe9,1,1,0.05\n\"top,face\",2,2,0\nfar,3,3,25\n"
         "named,4,4,25,alésage\nau-delà,5,5,0\n\"say \"\"hi\"\"\",6,6,0\n";
  const Outcome json_ = inspect(nominal, measured, {"--format", "json", "--probe-diameter", "0"});
  EXPECT_EQ(json_.status, 1) << json_.err;  // the named point at 25 is judged, out of tolerance
  const json doc = json::parse(json_.out);
  EXPECT_EQ((Seq{doc["unassigned"], doc["inspected"], doc["results"][0]["id"]}),
            (Seq{1, 5, "p\xef\xbf\xbd"}));
  EXPECT_EQ(doc["results"][0]["feature"], "alésage");
  EXPECT_EQ(doc["results"][3]["id"], "au-delà");
  EXPECT_TRUE(has(json_.err, "5 points inspected, 0 skipped, 1 unassigned, 1 out of tolerance"));
  const Outcome csv =
      inspect(nominal, measured, {"--format", "csv", "-q", "--probe-diameter", "0"});
  EXPECT_TRUE(validUtf8(csv.out));
  EXPECT_TRUE(has(csv.out, ",\"top,face\",alésage,"));
  EXPECT_TRUE(has(csv.out, ",au-delà,alésage,"));
  EXPECT_TRUE(has(csv.out, ",\"say \"\"hi\"\"\",alésage,"));
  EXPECT_TRUE(has(csv.out, "unassigned"));
  EXPECT_EQ(csv.err, "");
  const Outcome table = inspect(nominal, measured, {"-q", "--probe-diameter", "0"});
  EXPECT_TRUE(validUtf8(table.out));
  // Padded by what a terminal shows: the kind column starts where its header does.
  const std::size_t header = table.out.find("feature");
  const std::size_t row = table.out.find("alésage ");
  ASSERT_NE(row, std::string::npos) << table.out;
  const std::string headerLine = table.out.substr(header, table.out.find('\n', header) - header);
  const std::string rowLine = table.out.substr(row, table.out.find('\n', row) - row);
  EXPECT_EQ(rowLine.find("plane") - 1, headerLine.find("kind")) << table.out;
  // The results database says which point and feature each target point is.
  ASSERT_LE(inspect(nominal, measured, {"-q", "--out", path("r.qdb")}).status, 1);
  const Outcome shown = run({"db", "show", path("r.qdb"), "1", "--format", "json"});
  const json one = json::parse(shown.out);
  EXPECT_EQ(one["values"]["point"], "pé");  // stored bytes that are not UTF-8 read as Latin-1
  EXPECT_EQ(one["values"]["feature"], "alésage");
}

TEST_F(ToolTest, InspectAgainstBoundedSurfacesInADatabase) {
  const std::string nominal = path("nominal.qdb"), measured = path("points.csv");
  long boreId = 0;
  {
    auto db = qorv_test::openedDb(nominal.c_str(), 0);
    // A bore of radius 5 (its normal points to the axis: out of the material) and a face.
    t_SmartPtr<ERObject> bore(
        new ERBoundedCylinder(ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(1, 2, 3)), 10, 5,
                              ERRadian(0), ERRadian(2 * M_PI)));
    ERDBObject band;
    band.object(bore);
    band.property(106, -0.01);
    band.property(107, 0.01);
    ASSERT_GT(db->Store(band), 0);
    boreId = bore->getObjectID();
    ERBoundedPlane face(ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(100, 0, 0)), ERLimites(0, 10),
                        ERLimites(0, 10));
    ASSERT_GT(db->Store(face), 0);
    db->Close();
  }
  // 3000 probe centres in the bore, 0.004 more material than nominal, probe diameter 1.
  {
    std::ofstream out(measured);
    out.precision(17);
    for (int i = 0; i < 3000; ++i) {
      const double a = 0.001 + 6.28 * i / 3000.0, z = 3 - 8 + 16 * ((i * 7919) % 3000) / 3000.0;
      const double r = 5 - 0.004 - 0.5;
      out << "p" << i << "," << 1 + r * std::cos(a) << "," << 2 + r * std::sin(a) << "," << z
          << "\n";
    }
  }
  const Outcome r =
      inspect(nominal, measured, {"--probe-diameter", "1", "--format", "json", "-j", "2", "-q"});
  EXPECT_EQ(r.status, 0) << r.err;
  const json doc = json::parse(r.out);
  ASSERT_EQ(doc["results"].size(), 3000u);
  for (const json& p : doc["results"]) {
    ASSERT_EQ(p["feature"], std::to_string(boreId));
    ASSERT_NEAR(p["deviation"].get<double>(), 0.004, 1e-9);
  }
  EXPECT_EQ(doc["features"].size(), 2u);
  // Beyond the band: out of tolerance, exit 1.
  std::ofstream(measured) << "q,1,6.48,3\n";
  EXPECT_EQ(inspect(nominal, measured, {"--probe-diameter", "1", "-q"}).status, 1);
}

// Trimmed faces: a square plate with a square hole and half a shaft. Points over the plate are
// judged along its normal at their own foot; points over the hole at the hole's nearest edge;
// points on the shaft's other half at the nearer end of the kept half.
TEST_F(ToolTest, InspectTrimmedFacesJudgeEachPointAtItsNearestPointOfTheFace) {
  const std::string nominal = path("trimmed.json"), measured = path("points.csv");
  std::ofstream(nominal) << R"({"features": [
    {"id": "plate", "kind": "trimmed", "tolerance": [-0.01, 0.01],
     "base": {"kind": "plane", "origin": [0, 0, 0], "normal": [0, 0, 1]},
     "outer": [[0, 0], [10, 0], [10, 10], [0, 10]], "holes": [[[4, 4], [6, 4], [6, 6], [4, 6]]]},
    {"id": "half-shaft", "kind": "trimmed", "tolerance": [-0.01, 0.01], "material": "inside",
     "base": {"kind": "cylinder", "origin": [50, 0, 0], "axis": [0, 0, 1], "radius": 5, "height": [0, 20]},
     "outer": [[0, 0], [20, 0], [20, 180], [0, 180]]}]})";
  struct Expect {
    double x, y, z;
    const char* feature;
    double deviation, fx, fy, fz;  // the nearest point of the face
  };
  const Expect cases[] = {
      {2, 3, 0.004, "plate", 0.004, 2, 3, 0},          // over the plate
      {4.5, 5.2, 0.003, "plate", 0.003, 4, 5.2, 0},    // over the hole: its edge x = 4
      {5.1, 5.9, -0.002, "plate", -0.002, 5.1, 6, 0},  // under the hole: its edge y = 6
      {50, 5.006, 7, "half-shaft", 0.006, 50, 5, 7},   // on the kept half, more material
      {50.5, -5.2, 7, "half-shaft", 0, 55, 0, 7},      // on the other half: the nearer end, angle 0
  };
  {
    std::ofstream out(measured);
    out.precision(17);
    int i = 0;
    for (const Expect& c : cases)
      out << "p" << i++ << "," << c.x << "," << c.y << "," << c.z << "," << c.feature << "\n";
  }
  const Outcome r = inspect(nominal, measured, {"--format", "json", "-q"});
  ASSERT_LE(r.status, 1) << r.err;
  const json doc = json::parse(r.out);
  ASSERT_EQ(doc["results"].size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Expect& c = cases[i];
    const json& p = doc["results"][i];
    SCOPED_TRACE(i);
    EXPECT_EQ(p["feature"], c.feature);
    const json& f = p["nominal"];
    EXPECT_TRUE(Near(Seq{f[0].get<double>(), f[1].get<double>(), f[2].get<double>()},
                     Seq{c.fx, c.fy, c.fz}, 1e-9));
    if (i != 4) {
      EXPECT_NEAR(p["deviation"].get<double>(), c.deviation, 1e-9);
    }
  }
  EXPECT_EQ(doc["features"][0]["kind"], "trimmed");
  // A hole that is not a polygon, a base of another kind: refused with the reason, exit 2.
  std::ofstream(nominal) << R"({"features": [{"id": "t", "kind": "trimmed", "tolerance": [-1, 1],
     "base": {"kind": "torus"}, "outer": [[0, 0], [1, 0], [1, 1]]}]})";
  const Outcome bad = inspect(nominal, measured, {"-q"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(has(bad.err, "'base' kind"));
}

// A trimmed face stored in a database is one feature (its base is part of it), and a point over
// its hole is judged at the hole's edge.
TEST_F(ToolTest, InspectATrimmedFaceFromADatabase) {
  const std::string nominal = path("face.qdb"), measured = path("points.csv");
  auto square = [](double a, double b) {
    const double x[] = {a, b, b, a, a}, y[] = {a, a, b, b, a};
    QuickAlgebra::ERVec<ERPole2DH> poles(5);
    for (int i = 0; i < 5; ++i) poles[i] = ERPole2DH(x[i], y[i], 1.0);
    const double knots[] = {0, 0, 1, 2, 3, 4, 4};
    return ERCpoleNURBS2D(poles, ERKnotVector(1, knots, 7));
  };
  {
    auto db = qorv_test::openedDb(nominal.c_str(), 0);
    ERTrimmedSurface face(ERBoundedPlane(ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(0, 0, 0)),
                                         ERLimites(0, 10), ERLimites(0, 10)));
    ASSERT_EQ(face.addBound(square(0, 10), ERSurfaceBoundary::OUTER), 1);
    ASSERT_EQ(face.addBound(square(4, 6), ERSurfaceBoundary::INNER), 1);
    ASSERT_GT(db->Store(face), 0);
    db->Close();
  }
  std::ofstream(measured) << "a,2,3,0.004\nb,4.5,5.2,0.003\n";
  const Outcome r = inspect(nominal, measured, {"--format", "json", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json doc = json::parse(r.out);
  ASSERT_EQ(doc["features"].size(), 1u);
  EXPECT_EQ(doc["features"][0]["kind"], "trimmed");
  EXPECT_NEAR(doc["results"][0]["deviation"].get<double>(), 0.004, 1e-12);
  EXPECT_NEAR(doc["results"][1]["nominal"][0].get<double>(), 4, 1e-9);
  EXPECT_NEAR(doc["results"][1]["nominal"][1].get<double>(), 5.2, 1e-9);
}

namespace {
// The sample's points turned by 0.4 rad about z and shifted, the lines that are not points kept.
void moveSample(const std::string& in, const std::string& out) {
  std::ifstream f(in);
  std::ofstream o(out);
  std::string line;
  const double c = std::cos(0.4), s = std::sin(0.4);
  while (std::getline(f, line)) {
    std::vector<std::string> cells;
    std::stringstream ss(line);
    for (std::string cell; std::getline(ss, cell, ',');) cells.push_back(cell);
    double x, y, z;
    if (cells.size() >= 4 && std::sscanf((cells[1] + " " + cells[2] + " " + cells[3]).c_str(),
                                         "%lf %lf %lf", &x, &y, &z) == 3) {
      char buf[128];
      std::snprintf(buf, sizeof buf, "%.17g,%.17g,%.17g", c * x - s * y + 250, s * x + c * y - 40,
                    z + 12);
      line = cells[0] + "," + buf;
      for (std::size_t k = 4; k < cells.size(); ++k) line += "," + cells[k];
    }
    o << line << "\n";
  }
}
}  // namespace

TEST_F(ToolTest, AlignBringsMovedPointsBackBeforeInspecting) {
  const char* sample = std::getenv("QORV_SAMPLE");
  const char* source = std::getenv("QORV_SOURCE_DIR");
  if (sample == nullptr || source == nullptr)
    GTEST_SKIP() << "QORV_SAMPLE and QORV_SOURCE_DIR name the generator";
  const std::string part = std::string(source) + "/examples/inspection/part.json";
  ASSERT_EQ(runQuiet(std::string(sample) + " " + part + " " + path("") + " 600 11"), 0);
  moveSample(path("measured.csv"), path("moved.csv"));
  const Outcome r =
      inspect(part, path("moved.csv"), {"--align", "best-fit", "--format", "json", "-q"});
  const json doc = json::parse(r.out);
  ASSERT_TRUE(doc.contains("alignment")) << r.err;
  const json& a = doc["alignment"];
  // The sample has deviations on purpose: the best fit leans by a few thousandths of a degree.
  EXPECT_NEAR(a["angles_deg"][2].get<double>(), -0.4 * 180 / M_PI, 0.05);
  EXPECT_NEAR(a["angles_deg"][0].get<double>(), 0, 0.05);
  EXPECT_EQ((Seq{a["ambiguous"], a["matrix"].size()}), (Seq{false, 16u}));
  // qorv align writes the moved points back where the generator put them.
  const Outcome b = run(
      {"align", "--nominal", part, "--measured", path("moved.csv"), "--out", path("aligned.csv")});
  EXPECT_EQ(b.status, 0) << b.err;
  EXPECT_TRUE(has(b.out, "\"alignment\""));
  std::ifstream back(path("aligned.csv")), orig(path("measured.csv"));
  std::string l1, l2;
  std::getline(back, l1), std::getline(orig, l2);
  int rows = 0;
  double gap = 0;
  while (std::getline(back, l1) && std::getline(orig, l2)) {
    double a1[3], a2[3];
    if (std::sscanf(l1.substr(l1.find(',') + 1).c_str(), "%lf,%lf,%lf", a1, a1 + 1, a1 + 2) != 3)
      continue;
    if (std::sscanf(l2.substr(l2.find(',') + 1).c_str(), "%lf,%lf,%lf", a2, a2 + 1, a2 + 2) != 3)
      continue;
    for (int k = 0; k < 3; ++k) gap = std::max(gap, std::fabs(a1[k] - a2[k]));
    ++rows;
  }
  EXPECT_GT(rows, 500);
  EXPECT_LT(gap, 0.05);
  // The points of the 1 mm probe as a cloud (x y z rows, no names): aligned on its subset, then
  // judged, every point moved.
  {
    std::ifstream moved(path("moved.csv"));
    std::ofstream xyz(path("moved.xyz"));
    std::string line;
    std::getline(moved, line);
    while (std::getline(moved, line)) {
      std::stringstream ss(line);
      std::string c[6];
      for (auto& cell : c) std::getline(ss, cell, ',');
      if (c[5] == "1") xyz << c[1] << " " << c[2] << " " << c[3] << "\n";
    }
  }
  const Outcome cl =
      inspect(part, path("moved.xyz"),
              {"--align", "best-fit", "--probe-diameter", "1", "--format", "json", "-q"});
  const json cdoc = json::parse(cl.out);
  ASSERT_TRUE(cdoc.contains("alignment")) << cl.err;
  EXPECT_NEAR(cdoc["alignment"]["angles_deg"][2].get<double>(), -0.4 * 180 / M_PI, 0.05);
  EXPECT_EQ(inspect(part, path("moved.xyz"), {"--align", "rps:" + path("none.csv")}).status, 2);
  EXPECT_EQ(
      run({"align", "--nominal", part, "--measured", path("moved.csv"), "--method", "datums:top"})
          .status,
      1);

  // Reference points at their unmoved positions (3-2-1 on three points of the top): the move is
  // undone exactly, and stored with the results as the JSON gives it.
  std::map<std::string, std::vector<std::string>> cells;
  std::ifstream orig2(path("measured.csv"));
  for (std::string line; std::getline(orig2, line);) {
    std::vector<std::string> c;
    std::stringstream ss(line);
    for (std::string cell; std::getline(ss, cell, ',');) c.push_back(cell);
    if (c.size() >= 4) cells[c[0]] = c;
  }
  std::ofstream(path("rps.csv")) << "id,fixes,x,y,z\n# 3-2-1\nP1,xyz," << cells["P1"][1] << ","
                                 << cells["P1"][2] << "," << cells["P1"][3] << "\nP7,yz,,"
                                 << cells["P7"][2] << "," << cells["P7"][3] << "\nP3,z,,,"
                                 << cells["P3"][3] << "\n";
  const Outcome c = inspect(
      part, path("moved.csv"),
      {"--align", "rps:" + path("rps.csv"), "--format", "json", "-q", "--out", path("R.qdb")});
  const json ca = json::parse(c.out)["alignment"];
  EXPECT_NEAR(ca["angles_deg"][2].get<double>(), -0.4 * 180 / M_PI, 1e-9) << c.err;
  EXPECT_LT(ca["rms"].get<double>(), 1e-9);
  EXPECT_EQ(ca["points_used"], 3);
  std::string last;  // the alignment is the last object stored
  std::stringstream list(run({"db", "list", path("R.qdb")}).out);
  for (std::string id, cls, line; std::getline(list, line);)
    if (std::stringstream(line) >> id >> cls && cls == "ERDBObject") last = id;
  const json shown = json::parse(run({"db", "show", path("R.qdb"), last, "--format", "json"}).out);
  const json& props = shown["values"]["properties"];
  ASSERT_TRUE(props.contains("200")) << shown.dump();
  EXPECT_TRUE(has(shown["text"].get<std::string>(), "name = 'alignment'"));
  EXPECT_TRUE(has(shown["text"].get<std::string>(), "level_name = 'rps:"));
  // Each key against the JSON's value: (first key, JSON name, count).
  const std::tuple<int, const char*, int> keys[] = {{200, "matrix", 12},
                                                    {212, "angles_deg", 3},
                                                    {215, "translation", 3},
                                                    {218, "uncertainty_deg", 3},
                                                    {221, "uncertainty_translation", 3},
                                                    {224, "rms", 1},
                                                    {225, "max_residual", 1},
                                                    {226, "iterations", 1},
                                                    {227, "points_used", 1},
                                                    {228, "unassigned", 1}};
  for (const auto& [key, name, count] : keys)
    for (int i = 0; i < count; ++i)
      EXPECT_EQ(props[std::to_string(key + i)], count > 1 ? ca[name][i] : ca[name]) << name << i;
  EXPECT_EQ(props["229"], 0);
  // Reference points that cannot serve: unreadable, malformed, leaving a turn free.
  std::ofstream(path("bad.csv")) << "P1,xyq,1,2,3\n";
  std::ofstream(path("free.csv")) << "P1,xyz,1,2,3\nP7,xyz,4,5,6\n";
  for (const char* file : {"none.csv", "bad.csv", "free.csv"}) {
    const Outcome d = inspect(part, path("moved.csv"), {"--align", "rps:" + path(file), "-q"});
    EXPECT_EQ(d.status, 2) << file;
    EXPECT_TRUE(has(d.err, file == std::string("free.csv") ? "leave free: turn about" : file));
  }
}
