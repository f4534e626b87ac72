// gmHashedString and the sibling pieces it stands on: utString sharing and tokenising, the
// FNV-1a vectors, the logical order, and the archive string form with corrupt lengths.
#include "qorv/support/hashed_string.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qorv/platform/archive.h"
#include "qorv/siblings/archive_streams/archive_strings.h"
#include "qorv/siblings/base_utilities/ut_string.h"
#include "qorv/siblings/utility_toolkit/tku_string.h"
#include "tests/in_order.h"

using namespace qorv::siblings;

using namespace qorv::platform;

namespace {

TEST(Fnv1a, StandardVectors) {
  EXPECT_EQ((Seq{tku_fnv1a_hash("", 0), tku_fnv1a_hash("a", 1), tku_fnv1a_hash("foobar", 6)}),
            (Seq{0x811C9DC5u, 0xE40C292Cu, 0xBF9CF968u}));
  EXPECT_EQ(gm_cad_string_hash(utString("/a/b")), 0xFFA0FC0Cu);
  EXPECT_EQ(gm_cad_string_hash("foobarbaz", 6), 0xBF9CF968u);
  EXPECT_EQ(gmHashedString(utString("foobar")).hash(), 0xBF9CF968u);
}

TEST(UtString, NullEmptySharingAndTokens) {
  const utString null;
  const utString empty("");
  EXPECT_EQ((Seq{null.is_null(), empty.is_null(), null.empty() && empty.empty()}),
            (Seq{true, false, true}));
  EXPECT_EQ(null, empty);
  EXPECT_STREQ(null.c_str(), "");
  EXPECT_TRUE(utString(static_cast<const char*>(nullptr)).is_null());

  utString a("x/y/z");
  utString b = a;
  EXPECT_EQ(a.c_str(), b.c_str());  // shared
  gm_replace_name_slashes(b);
  EXPECT_EQ((Seq{b, a}), (Seq{utString("x\\y\\z"), utString("x/y/z")}));
  utString n;
  gm_replace_name_slashes(n);
  EXPECT_TRUE(n.is_null());
  b += "!";
  EXPECT_EQ(b, utString("x\\y\\z!"));

  const utString path("\\root//group\\solid/");
  std::vector<std::string> pieces;
  std::size_t at = 0;
  for (utString piece = path.extract_string(at, "\\/"); !piece.is_null();
       piece = path.extract_string(at, "\\/"))
    pieces.emplace_back(piece.c_str());
  EXPECT_EQ(pieces, (std::vector<std::string>{"root", "group", "solid"}));
  EXPECT_EQ(utString("\xe9").to_wide(), std::wstring(1, wchar_t(0xE9)));
}

TEST(LogicalOrder, NumbersByValueCaseSecond) {
  const tkuLogicalStringCompare cmp;
  EXPECT_LT(cmp(L"file9", L"file10"), 0);
  EXPECT_GT(cmp(L"file10", L"file9"), 0);
  EXPECT_LT(cmp(L"abc", L"ABD"), 0);
  EXPECT_LT(cmp(L"a", L"ab"), 0);
  EXPECT_EQ(cmp(L"same", L"same"), 0);
  EXPECT_NE(cmp(L"a7", L"a007"), 0);  // ties are broken, so 0 means identical
  EXPECT_NE(cmp(L"Abc", L"abc"), 0);
  EXPECT_TRUE(tkuLogicalStringEquals()("x", "x"));
  EXPECT_FALSE(tkuLogicalStringEquals()("x", "X"));

  // A total order: sorting a seeded random set agrees with every pairwise answer.
  const unsigned seed = 20240611u;
  std::mt19937 rng(seed);
  const wchar_t alphabet[] = L"aAbB0129-";
  std::vector<std::wstring> words;
  for (int i = 0; i < 300; ++i) {
    std::wstring w;
    for (int k = static_cast<int>(rng() % 6); k >= 0; --k) w += alphabet[rng() % 9];
    words.push_back(w);
  }
  std::sort(words.begin(), words.end(),
            [&](const std::wstring& x, const std::wstring& y) { return cmp(x, y) < 0; });
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    EXPECT_LE(cmp(words[i], words[i + 1]), 0) << "seed " << seed;
    EXPECT_EQ(cmp(words[i], words[i + 1]) == 0, words[i] == words[i + 1]) << "seed " << seed;
    EXPECT_EQ(cmp(words[i], words[i + 1]), -cmp(words[i + 1], words[i]));
  }
}

TEST(HashedString, EqualityOrderAndInvalid) {
  const gmHashedString invalid;
  const gmHashedString a(utString("part2"));
  const gmHashedString b(utString("Part10"));
  const gmHashedString a2(utString("part2"));
  EXPECT_EQ((Seq{bool(invalid.invalid()), invalid.hash(), invalid}),
            (Seq{true, 0u, gmHashedString()}));
  EXPECT_NE(invalid, a);
  EXPECT_EQ(a, a2);
  EXPECT_NE(a, b);
  EXPECT_LT(a.compare(b), 0);  // logical: 2 before 10
  EXPECT_GT(invalid.compare(a), 0);
  EXPECT_LT(a.compare(invalid), 0);
  EXPECT_EQ((Seq{invalid.compare(gmHashedString()), bool(gmHashedString(utString("")).invalid()),
                 bool(gmHashedString(utString()).invalid())}),
            (Seq{0, false, true}));

  gmHashedString moved(a);
  gmHashedString target(std::move(moved));
  EXPECT_EQ(target, a);
  EXPECT_TRUE(moved.invalid());  // NOLINT: a moved-from object is invalid
  EXPECT_EQ(moved.hash(), 0u);
  target.set_invalid();
  EXPECT_TRUE(target.invalid());
}

TEST(HashedString, ArchiveRoundTripAndCorruptLengths) {
  CArchive out;
  gmHashedString(utString("group")).serialize(out);
  gmHashedString().serialize(out);
  gmHashedString(utString("")).serialize(out);
  out << "plain" << static_cast<const char*>(nullptr);
  const std::vector<std::uint8_t> expected = {
      5, 0, 0, 0, 'g', 'r', 'o', 'u', 'p', 0xFF, 0xFF, 0xFF, 0xFF, 0,    0,
      0, 0, 5, 0, 0,   0,   'p', 'l', 'a', 'i',  'n',  0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(out.buffer(), expected);

  CArchive in(out.buffer().data(), out.buffer().size());
  gmHashedString g, n, e;
  g.serialize(in);
  n.serialize(in);
  e.serialize(in);
  EXPECT_EQ(g, gmHashedString(utString("group")));
  EXPECT_EQ(g.hash(), gm_cad_string_hash(utString("group")));
  EXPECT_EQ((Seq{n.invalid(), e.invalid()}), (Seq{true, false}));
  utString plain, none;
  in >> plain >> none;
  EXPECT_EQ((Seq{plain, bool(none.is_null())}), (Seq{utString("plain"), true}));

  // A length beyond the archive: the end-of-file exception after what there was, no huge
  // allocation; a length below -1: the generic exception.
  const std::uint8_t huge[] = {0xF0, 0xFF, 0xFF, 0x7F, 'a', 'b'};
  CArchive shortIn(huge, sizeof huge);
  utString s;
  try {
    shortIn >> s;
    ADD_FAILURE() << "no exception";
  } catch (CArchiveException& ex) {
    EXPECT_EQ(ex.m_cause, CArchiveException::endOfFile);
  }
  const std::uint8_t negative[] = {0xFE, 0xFF, 0xFF, 0xFF};
  CArchive negIn(negative, sizeof negative);
  try {
    negIn >> s;
    ADD_FAILURE() << "no exception";
  } catch (CArchiveException& ex) {
    EXPECT_EQ(ex.m_cause, CArchiveException::genericException);
  }
}

}  // namespace
