// The measured-points reader against the spellings measuring software and spreadsheets write,
// line by line: what becomes a point (and which), what is skipped (and where).
#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qorv/measurement/measured_points.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

namespace {

// The text read on one thread and on three: the same points, skipped lines and format.
void expectSameOnThreads(const std::string& text) {
  std::vector<gmMeasuredPoint> p1, p3;
  std::vector<gmSkippedLine> s1, s3;
  std::istringstream in1(text), in3(text);
  const gmMeasuredFormat f1 = gmReadMeasuredPoints(in1, p1, s1);
  const gmMeasuredFormat f3 = gmReadMeasuredPoints(in3, p3, s3, {}, {}, 3);
  EXPECT_EQ((Seq{f1.delimiter, f1.decimal, f1.header, f1.binary, f1.lines}),
            (Seq{f3.delimiter, f3.decimal, f3.header, f3.binary, f3.lines}));
  ASSERT_EQ(p1.size(), p3.size());
  for (std::size_t i = 0; i < p1.size(); ++i) {
    ASSERT_EQ(p1[i].line, p3[i].line);
    EXPECT_EQ((Seq{p1[i].id, p1[i].feature, p1[i].centre, p1[i].diameter}),
              (Seq{p3[i].id, p3[i].feature, p3[i].centre, p3[i].diameter}));
  }
  ASSERT_EQ(s1.size(), s3.size());
  for (std::size_t i = 0; i < s1.size(); ++i) {
    ASSERT_EQ(s1[i].line, s3[i].line);
    EXPECT_EQ(s1[i].reason, s3[i].reason);
  }
}

// Every numeric spelling against strtod itself (the C locale is the test's own).
TEST(MeasuredPoints, ANumberIsWhatStrtodTakesForTheWholeField) {
  const char* fields[] = {"1",     "-1",     "+1",     "+-3.0",  "++1",      "-+1", "--1",
                          "+-nan", "nan",    "-inf",   "+inf",   "Infinity", "1e5", "1E+5",
                          "1e",    "1e+",    ".5",     "5.",     ".",        "",    " ",
                          "1 2",   "1,5",    "1.5mm",  "0x1p3",  "-0x1.8p1", "0x",  "0x+1",
                          "0x-1",  "1e999",  "-1e999", "1e-400", "  7  ",    "\t8", "1_000",
                          "١",     "nan(0)", "0X1P-2", "00012",  "1.2.3"};
  for (const char* f : fields) {
    char* end = nullptr;
    std::string trimmed(f);
    trimmed.erase(0, trimmed.find_first_not_of(" \t"));
    trimmed.erase(trimmed.find_last_not_of(" \t") + 1 > trimmed.size()
                      ? trimmed.size()
                      : trimmed.find_last_not_of(" \t") + 1);
    const double expected = std::strtod(trimmed.c_str(), &end);
    const bool whole = !trimmed.empty() && *end == '\0';
    double v = 12345;
    SCOPED_TRACE(std::string("'") + f + "'");
    ASSERT_EQ(gmParseNumber(f, v), whole ? 1 : 0);
    if (!whole) {
      EXPECT_EQ(v, 12345);
    } else if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(v));
    } else {
      EXPECT_EQ(v, expected);
    }
  }
  double v = 0;
  EXPECT_EQ((Seq{gmParseNumber("-1,25", v, ','), v, gmParseNumber("1.25", v, ',')}),
            (Seq{1, -1.25, 0}));
  EXPECT_EQ(gmParseNumber("1,2,5", v, ','), 0);
}

struct Expected {
  long line;
  const char* id;  // nullptr: the line is skipped
  double x, y, z;
  const char* feature = "";
  double diameter = -1;
};

struct File {
  const char* name;
  std::string text;
  std::vector<Expected> lines;  // every point and every skipped line, in line order
  char delimiter, decimal;
};
File exported(const char* name, std::string text, std::vector<Expected> lines, char delimiter,
              char decimal) {
  return {name, std::move(text), std::move(lines), delimiter, decimal};
}
Expected pt(long line, const char* id, double x, double y, double z, const char* feature = "",
            double diameter = -1) {
  return {line, id, x, y, z, feature, diameter};
}
Expected skip(long line) { return pt(line, nullptr, 0, 0, 0); }

TEST(MeasuredPoints, FilesAsMeasuringSoftwareExportsThem) {
  const std::vector<File> files = {
      exported(
          "comma, header, comments, CRLF",
          "Point,X,Y,Z,Feature,Probe\r\n# a comment\r\n\r\np1, "
          "1.5,2,3\r\np2,4,5,6,bore,2.5\r\np3,1,2\r\n"
          "p4,1,x,3\r\np5,nan,1,1\r\np6,1,1,1,bore,-1\r\np7,1,1,1,bore,2,extra\r\n"
          "p8,-1e3,+2,3,,\r\np9,+-3.0,1,1\r\np10,++1,1,1\r\np11,1,+-nan,1\r\n",
          {pt(4, "p1", 1.5, 2, 3), pt(5, "p2", 4, 5, 6, "bore", 2.5), skip(6), skip(7), skip(8),
           skip(9), skip(10), pt(11, "p8", -1000, 2, 3), skip(12), skip(13), skip(14)},
          ',', '.'),
      exported("semicolon, decimal comma, UTF-8 mark",
               "\xEF\xBB\xBFid;x;y;z\np1;1,5;-2,25;3\np2;4;5;6;alésage;0,5\np3;1.5;2;3\n",
               {pt(2, "p1", 1.5, -2.25, 3), pt(3, "p2", 4, 5, 6, "alésage", 0.5), skip(4)}, ';',
               ','),
      exported("tab, decimal comma decided on the first line that shows one",
               "p1\t1\t2\t3\np2\t1,5\t2\t3\np3\t2.5\t1\t1\n",
               {pt(1, "p1", 1, 2, 3), pt(2, "p2", 1.5, 2, 3), skip(3)}, '\t', ','),
      exported("blanks", "  p1   1 2\t3  \np2 4 5 6 face\n",
               {pt(1, "p1", 1, 2, 3), pt(2, "p2", 4, 5, 6, "face")}, ' ', '.'),
      exported("RFC 4180 quotes",
               "\"id\",\"x\",\"y\",\"z\"\n\"top,face\",1,2,3\n\"say "
               "\"\"hi\"\"\",1,2,3,\"f,1\"\n\"open,1,2,3\n"
               "x\"y,1,2,3\n\"a\"b,1,2,3\n  \"padded\"  , 1 , 2 , 3 \n",
               {pt(2, "top,face", 1, 2, 3), pt(3, "say \"hi\"", 1, 2, 3, "f,1"), skip(4), skip(5),
                skip(6), pt(7, "padded", 1, 2, 3)},
               ',', '.'),
      exported(
          "UTF-16 little-endian with its mark",
          std::string("\xFF\xFE", 2) + std::string("a\0;\0001\0,\0005\0;\0002\0;\0003\0\n\0", 20),
          {pt(1, "a", 1.5, 2, 3)}, ';', ','),
  };
  for (const File& file : files) {
    SCOPED_TRACE(file.name);
    expectSameOnThreads(file.text);
    std::istringstream in(file.text);
    std::vector<gmMeasuredPoint> points;
    std::vector<gmSkippedLine> skipped;
    const gmMeasuredFormat format = gmReadMeasuredPoints(in, points, skipped);
    EXPECT_EQ((Seq{format.delimiter, format.decimal}), (Seq{file.delimiter, file.decimal}));
    std::size_t p = 0, s = 0;
    for (const Expected& e : file.lines) {
      SCOPED_TRACE(e.line);
      if (e.id == nullptr) {
        ASSERT_LT(s, skipped.size());
        EXPECT_EQ(skipped[s].line, e.line);
        EXPECT_FALSE(skipped[s++].reason.empty());
        continue;
      }
      ASSERT_LT(p, points.size());
      const gmMeasuredPoint& m = points[p++];
      EXPECT_EQ((Seq{m.line, m.id, m.centre, m.feature, m.diameter}),
                (Seq{e.line, e.id, ERPoint3D(e.x, e.y, e.z), e.feature, e.diameter}));
    }
    EXPECT_EQ((Seq{p, s}), (Seq{points.size(), skipped.size()}));
  }
}

// Random bytes, binary files and truncated lines never crash, and a binary file yields nothing.
TEST(MeasuredPoints, BinaryAndRandomBytes) {
  std::istringstream binary(std::string("QDB\0\0\0\x01\n1,2,3,4\n", 16));
  std::vector<gmMeasuredPoint> points;
  std::vector<gmSkippedLine> skipped;
  EXPECT_TRUE(gmReadMeasuredPoints(binary, points, skipped).binary);
  EXPECT_TRUE(points.empty() && skipped.empty());
  const unsigned seed = 20261207;
  std::mt19937 rng(seed);
  const std::string alphabet = "0123456789.,;\t \"\n\r-+eEnaifx#\xEF\xBB\xBF\xFF\xFE";
  for (int round = 0; round < 300; ++round) {
    std::string text(rng() % 200, ' ');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    std::istringstream in(text);
    points.clear();
    skipped.clear();
    gmReadMeasuredPoints(in, points, skipped);
    expectSameOnThreads(text);
    for (const gmMeasuredPoint& m : points)
      ASSERT_TRUE(std::isfinite(m.centre.x()) && std::isfinite(m.centre.y()) &&
                  std::isfinite(m.centre.z()))
          << "seed " << seed << " round " << round;
  }
}

// Megabytes of lines, parsed in runs on several threads: the runs are cut at line ends and
// numbered on, whatever mix of points, comments, blank, bad and CRLF lines they hold.
TEST(MeasuredPoints, ALargeFileReadsTheSameOnThreads) {
  QORV_SEEDED(std::mt19937 rng, 38);
  const char* odd[] = {"",        "# a comment",  "P9;1;2",        "\"open,1,2,3", "Q,1,2,nan",
                       "R,1,x,3", "S,1,2,3,f,-1", "T,1,2,3,f,1,7", "  ",           "U,1,2,3\r"};
  for (const char* end : {"\n", ""}) {
    std::string text = "id,x,y,z,feature,diameter\n";
    while (text.size() < (5u << 20)) {
      if (rng() % 8 == 0) {
        text += odd[rng() % std::size(odd)];
      } else {
        text += "P" + std::to_string(rng()) + "," + std::to_string(rng() % 1000 * 0.125) +
                ",2.5,-" + std::to_string(rng() % 97) + (rng() % 2 ? ",top,3" : "");
      }
      text += "\n";
    }
    text += std::string("Z,1,2,3") + end;
    expectSameOnThreads(text);
  }
}

}  // namespace
