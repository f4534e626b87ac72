// ERCRegexp: compiled code images, compilation errors and their status, and searches over a
// table of patterns and texts, including escapes, classes and anchors.
#include "qorv/support/regexp.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qorv/support/cstring.h"
#include "tests/in_order.h"

namespace {

std::vector<std::uint32_t> compiled(const ERCRegexp& re) {
  std::vector<std::uint32_t> out;
  for (int i = 0; i < ERCRegexp::kMaxCodes; ++i) {
    out.push_back(re.codes()[i]);
    if (re.codes()[i] == ERCRegexp::kEnd) break;
  }
  return out;
}

TEST(RegexpCompile, CodeImages) {
  EXPECT_EQ(compiled(ERCRegexp("a*b")), (std::vector<std::uint32_t>{0x802A, 'a', 'b', 0x8000}));
  EXPECT_EQ(compiled(ERCRegexp("^.?$")),
            (std::vector<std::uint32_t>{0x805E, 0x803F, 0x802E, 0x8024, 0x8000}));
  // A class is 16 words of 16 bits; the digits are bits 0..9 of word 3. The closure code goes
  // in front of the whole class.
  std::vector<std::uint32_t> digits(19, 0);
  digits[0] = 0x802B;
  digits[1] = 0x805B;
  digits[2 + 3] = 0x03FF;
  digits[18] = 0x8000;
  EXPECT_EQ(compiled(ERCRegexp("[0-9]+")), digits);
  // Negated: every other bit set.
  const std::vector<std::uint32_t> negated = compiled(ERCRegexp("[^0-9]"));
  ASSERT_EQ(negated.size(), 18u);
  EXPECT_EQ((Seq{negated[1 + 3], negated[1 + 0]}), (Seq{0xFC00u, 0xFFFFu}));
  // Escapes, including a final backslash, control and octal forms.
  EXPECT_EQ(compiled(ERCRegexp("\\t\\N\\x41\\101\\^A\\q\\")),
            (std::vector<std::uint32_t>{9, 10, 0x41, 65, 1, 'q', '\\', 0x8000}));
  // ^ and $ away from the ends are literals.
  EXPECT_EQ(compiled(ERCRegexp("a^$b")), (std::vector<std::uint32_t>{'a', '^', '$', 'b', 0x8000}));
}

TEST(RegexpCompile, StatusIsReportedOnceAndBadPatternsNeverMatch) {
  struct Case {
    const char* pattern;
    int status;
  };
  const std::string tooLong(200, 'a');
  std::string classes;
  for (int i = 0; i < 8; ++i) classes += "[ab]";  // 8 x 17 codes do not fit in 127
  const Case cases[] = {
      {"", 1},
      {"*a", 1},
      {"+", 1},
      {"?x", 1},
      {"a**", 3},
      {"a+?", 3},
      {"^*", 3},
      {"a$", 0},
      {"[ab", 3},
      {"[", 3},
      {"[a-", 3},
      {"ab\\", 0},
      {"[]]", 0},
      {tooLong.c_str(), 3},
      {classes.c_str(), 3},
      {"[ab]*", 0},
      {"$*", 0},
  };
  const ERCString text("aab[ab\\]$$");
  for (const Case& c : cases) {
    ERCRegexp re(c.pattern);
    EXPECT_EQ(re.status(), c.status) << c.pattern;
    EXPECT_EQ(re.status(), ERCRegexp::OK) << "status resets: " << c.pattern;
    if (c.status != 0) {
      int len = 7;
      EXPECT_EQ(re.index(text, &len, 0), -1) << c.pattern;
      EXPECT_EQ(len, 0);
      ERCRegexp copy(re);
      EXPECT_EQ(copy.index(text, &len, 0), -1) << c.pattern;
    }
  }
  // 127 literals and the end code fit exactly.
  ERCRegexp fits(std::string(127, 'z').c_str());
  EXPECT_EQ(fits.status(), ERCRegexp::OK);
}

TEST(RegexpSearch, TableOfPatternsAndTexts) {
  struct Case {
    const char* pattern;
    const char* text;
    int start;
    int at;
    int length;
  };
  const Case cases[] = {
      {"a*b", "aaab", 0, 0, 4},
      {"^b", "ab", 0, -1, 0},
      {"^b", "ab", 1, 1, 1},
      {"[^0-9]+", "12ab3", 0, 2, 2},
      {"b$", "abab", 0, 3, 1},
      {"b$", "abab", 4, -1, 0},
      {"$", "abc", 1, 3, 0},
      {"a.c", "xxabcx", 0, 2, 3},
      {"colou?r", "the color", 0, 4, 5},
      {"colou?r", "colour", 0, 0, 6},
      {"x*", "abc", 0, 0, 0},
      {"x*", "abc", 3, 3, 0},
      {".*b", "aababx", 0, 0, 5},
      {"a+b+", "xaabbbx", 0, 1, 5},
      {"\\t", "a\tb", 0, 1, 1},
      {"\\x41+", "zAAAz", 0, 1, 3},
      {"\\101", "xA", 0, 1, 1},
      {"\\^A", "x\x01", 0, 1, 1},
      {"[a-c]+", "xxcabz", 0, 2, 3},
      {"[c-a]+", "xxcabz", 0, 2, 3},
      {"[-a]+", "b-a-b", 0, 1, 3},
      {"[a-]+", "b-a-b", 0, 1, 3},
      {"[\\]]", "a]b", 0, 1, 1},
      {"a$b", "xa$b", 0, 1, 3},
      {"\\.", "a.b", 0, 1, 1},
      {"ab\\", "xab\\", 0, 1, 3},
      {"ab", "aXab", 2, 2, 2},
      {"ab", "abab", 1, 2, 2},
      {"a?a?aa", "aa", 0, 0, 2},
      {"[ab]*c", "ababx", 0, -1, 0},
      {"\\s\\S", "a Sb", 0, -1, 0},  // escape letters ignore case: two blanks
      {"\\s\\S", "a  b", 0, 1, 2},
  };
  for (const Case& c : cases) {
    ERCRegexp re(c.pattern);
    ASSERT_EQ(re.status(), ERCRegexp::OK) << c.pattern;
    const ERCString text(c.text);
    int len = -5;
    EXPECT_EQ(re.index(text, &len, c.start), c.at) << c.pattern << " in " << c.text;
    EXPECT_EQ(len, c.length) << c.pattern << " in " << c.text;
    // The string's own forms agree.
    int len2 = -5;
    EXPECT_EQ((Seq{text.index(re, &len2, c.start), len2}), (Seq{c.at, c.length}));
    const ERCSubString sub = text(re, c.start);
    EXPECT_EQ(sub.isNull(), c.at == -1);
    if (c.at != -1) {
      EXPECT_EQ(std::string(sub.data(), sub.length()), std::string(c.text + c.at, c.length));
    }
  }
}

TEST(RegexpSearch, BytesAboveAsciiAndNestedClosures) {
  ERCRegexp high("[\\x80-\\xff]+");
  const ERCString text("ab\xc3\xa9z");
  int len = 0;
  EXPECT_EQ((Seq{high.index(text, &len, 0), len}), (Seq{2, 2}));
  EXPECT_EQ(ERCRegexp("\\xe9").index(ERCString("caf\xe9"), &len, 0), 3);

  // Many closures over a long text that never matches: each closure and position is tried once.
  ERCRegexp nested("a*a*a*a*a*a*a*a*b");
  const ERCString as(std::string(2000, 'a').c_str());
  EXPECT_EQ(nested.index(as, &len, 0), -1);
  std::string aab(2001, 'a');
  aab.back() = 'b';
  const ERCString withB(aab.c_str());
  EXPECT_EQ((Seq{nested.index(withB, &len, 0), len}), (Seq{0, 2001}));

  // Out-of-range starts find nothing.
  EXPECT_EQ(ERCRegexp("a").index(ERCString("a"), &len, 5), -1);
  EXPECT_EQ(ERCRegexp("a").index(ERCString("a"), &len, -1), -1);

  // Assignment recompiles; a copy carries the codes.
  ERCRegexp re("x");
  re = "y+";
  ERCRegexp copy(re);
  EXPECT_EQ((Seq{copy.index(ERCString("xyy"), &len, 0), len}), (Seq{1, 2}));
  re = ERCString("[");
  EXPECT_EQ(re.status(), ERCRegexp::TOOLONG);
  copy = re;
  EXPECT_EQ(copy.index(ERCString("["), &len, 0), -1);
}

}  // namespace
