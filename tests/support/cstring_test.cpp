// ERCString and ERCSubString: sharing and copy on write, the capacity rule, hashes and
// comparisons, searches, substring windows, stream readers and the file form.
#include "qorv/support/cstring.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qorv/persistence/file.h"
#include "tests/in_order.h"
#include "tests/persistence/test_files.h"

using namespace qorv::platform;

namespace {

TEST(CStringSharing, CopiesShareUntilOneChanges) {
  ERCString a("measure");
  ERCString b = a;
  ERCString c;
  c = b;
  EXPECT_EQ((Seq{a.rep(), a.rep(), a.rep()->references()}), (Seq{b.rep(), c.rep(), 3}));

  b.append("d");
  EXPECT_NE(a.rep(), b.rep());
  EXPECT_EQ((Seq{a.rep()->references(), a, b}), (Seq{2, "measure", "measured"}));

  // A same-size change of a shared string copies it with capacity = length.
  c[0] = 'M';
  EXPECT_EQ((Seq{a.rep()->references(), c, a, c.capacity()}), (Seq{1, "Measure", "measure", 7}));

  ERCString d = a;
  d.toUpper();
  EXPECT_EQ((Seq{d, a}), (Seq{"MEASURE", "measure"}));
  ERCString e = a.copy();
  EXPECT_NE(e.rep(), a.rep());
  EXPECT_EQ(e, a);
}

TEST(CStringSharing, ReferencesSurviveCopiesOnManyThreads) {
  const ERCString shared("shared between threads");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&shared] {
      for (int i = 0; i < 20000; ++i) {
        ERCString copy = shared;
        ERCString other(copy);
        if (i % 7 == 0) other.append('x');
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ((Seq{shared.rep()->references(), shared}), (Seq{1, "shared between threads"}));
}

TEST(CStringCapacity, AdjustedToMultiplesOfFifteen) {
  EXPECT_EQ((Seq{ERCString::adjustCapacity(0), ERCString::adjustCapacity(15),
                 ERCString::adjustCapacity(16), ERCString::adjustCapacity(30)}),
            (Seq{15, 15, 30, 30}));
  EXPECT_EQ((Seq{ERCString::adjustCapacity(31), ERCString().capacity(),
                 ERCString(ERSize_T(100)).capacity(), ERCString::initialCapacity(99)}),
            (Seq{45, 15, 100, 99}));
}

TEST(CStringCapacity, EditsStayInPlaceOnlyWithLittleWaste) {
  ERCString s("abcdefghijklmno");  // 15 bytes, capacity 15
  ASSERT_EQ(s.capacity(), 15);
  s.append('p');
  EXPECT_EQ((Seq{s.capacity(), s}), (Seq{30, "abcdefghijklmnop"}));

  ERCString forty(std::string(40, 'x').c_str());
  ASSERT_EQ(forty.capacity(), 45);
  const ERCStringRef* before = forty.rep();
  forty.remove(35);  // 10 bytes to spare: in place
  EXPECT_EQ(forty.rep(), before);
  EXPECT_EQ(forty.capacity(), 45);
  forty.remove(10);  // 35 to spare: reallocated
  EXPECT_EQ(forty.length(), 10);
  EXPECT_EQ(forty.capacity(), 15);

  // Every edit leaves at most 15 bytes beyond the length, in multiples of 15 when it moves.
  ERCString grow;
  for (int i = 0; i < 200; ++i) {
    grow.append(static_cast<char>('a' + i % 26));
    EXPECT_LE(grow.capacity() - grow.length(), 15);
    EXPECT_EQ(grow.capacity() % 15, 0);
  }
  for (int i = 0; i < 200; ++i) {
    grow.remove(0, 1);
    EXPECT_LE(grow.capacity() - grow.length(), 15) << i;
    EXPECT_EQ(grow.capacity() % 15, 0);
  }
  EXPECT_EQ(grow.capacity(), 15);

  EXPECT_EQ((Seq{s.capacity(40), s}), (Seq{40, "abcdefghijklmnop"}));
}

TEST(CStringEdit, ReplaceIsTheOnePrimitive) {
  ERCString s("hello world");
  s.replace(6, 5, "there");
  EXPECT_EQ(s, "hello there");
  s.replace(5, 100, "!");  // the count is cut to what follows
  EXPECT_EQ(s, "hello!");
  s.insert(0, ">> ").prepend('[').append(']', 2);
  EXPECT_EQ(s, "[>> hello!]]");
  s.remove(1, 3);
  EXPECT_EQ(s, "[hello!]]");
  s += ERCString("x");
  s += "y";
  EXPECT_EQ(s, "[hello!]]xy");
  s.resize(3);
  EXPECT_EQ(s, "[he");
  s.resize(5);
  EXPECT_EQ(s, "[he  ");

  // Replacement text taken from the string itself.
  ERCString self("abcdef");
  self.replace(0, 2, self.data() + 3, 3);
  EXPECT_EQ(self, "defcdef");
  self.append(self.data(), self.length());
  EXPECT_EQ(self, "defcdefdefcdef");

  // Embedded zero bytes are ordinary bytes.
  ERCString zeros("a\0b", 3);
  EXPECT_EQ((Seq{zeros.length(), zeros.first('b'), ERCString('z', 3)}), (Seq{3, 2, "zzz"}));
}

TEST(CStringHash, RotateXorOfWords) {
  EXPECT_EQ(ERCString("abc").hash(), 0x616203u);
  EXPECT_EQ(ERCString("abcdefg").hash(), 0x8c09364bu);
  EXPECT_EQ(ERCString("\xff\x01").hash(), 0xffffff41u);  // remaining bytes sign-extended
  EXPECT_EQ(ERCString().hash(), 0u);
  EXPECT_EQ(
      (Seq{ERCString().hash(ERCString::ignoreCase), ERCString("abc").hash(ERCString::ignoreCase)}),
      (Seq{0u, ERCString("ABC").hash(ERCString::ignoreCase)}));
  EXPECT_NE(ERCString("abc").hash(), ERCString("ABC").hash());
}

TEST(CStringCompare, SignedBytesAndCaseFolding) {
  EXPECT_EQ((Seq{ERCString("a").compareTo(""), ERCString("").compareTo(""),
                 ERCString("abc").compareTo("abd"), ERCString("abd").compareTo("abc")}),
            (Seq{1, 0, -1, 1}));
  EXPECT_EQ((Seq{ERCString("ab").compareTo("abc"), ERCString("abc").compareTo("ab"),
                 ERCString("ABC").compareTo("abc", ERCString::ignoreCase)}),
            (Seq{-1, 1, 0}));
  EXPECT_EQ(ERCString("ABC").compareTo("abc"), -1);
  EXPECT_EQ(ERCString("\x80").compareTo("a"), -1);  // signed bytes
  EXPECT_TRUE(ERCString("abc") < ERCString("abd"));
  EXPECT_TRUE(ERCString("abc") == ERCString("abc"));
}

TEST(CStringSearch, IndexFirstLastContains) {
  const ERCString s("0123456789");
  EXPECT_EQ((Seq{s.index("", 0, 5), s.index("x", 1, 10), s.index("89", 0), s.index("89", 9)}),
            (Seq{5, -1, 8, -1}));
  EXPECT_EQ(s.index("345", 2, 0), 3);  // pattern length 2: "34"
  EXPECT_EQ(ERCString("Hello").index("LL", 0, ERCString::ignoreCase), 2);
  EXPECT_EQ(ERCString("Hello").index("LL"), -1);
  EXPECT_EQ((Seq{s.contains("567"), s.contains("576")}), (Seq{true, false}));
  EXPECT_EQ((Seq{ERCString("abcabc").first('c'), ERCString("abcabc").last('a'),
                 ERCString("abcabc").first("xyc"), ERCString("abc").first("xyz")}),
            (Seq{2, 3, 2, -1}));
  EXPECT_TRUE(ERCString("plain").isAscii());
  EXPECT_FALSE(ERCString("caf\xc3\xa9").isAscii());
}

TEST(CSubString, WindowsReadReplaceAndChangeCase) {
  ERCString s("The Quick Brown Fox");
  ERCString view = s;  // shares, and must not see the changes below
  ERCSubString quick = s(4, 5);
  EXPECT_EQ((Seq{quick, quick.start()}), (Seq{"Quick", 4}));
  quick.toUpper();
  EXPECT_EQ((Seq{s, view}), (Seq{"The QUICK Brown Fox", "The Quick Brown Fox"}));
  s(10, 5).toLower();
  EXPECT_EQ(s, "The QUICK brown Fox");
  s(16, 3) = "Hound";
  EXPECT_EQ(s, "The QUICK brown Hound");
  s.subString("QUICK") = "slow";
  EXPECT_EQ(s, "The slow brown Hound");
  s(0, 3) = s(9, 5);  // a window on the same string as the source
  EXPECT_EQ(s, "brown slow brown Hound");

  EXPECT_EQ((Seq{s(30, 2).isNull(), !s.subString("absent")}), (Seq{true, true}));
  EXPECT_FALSE(s(22, 0).isNull());  // empty window at the end is a window

  const ERCString padded("  trim me  ");
  EXPECT_EQ((Seq{padded.strip(ERCString::both), padded.strip(ERCString::leading),
                 padded.strip(ERCString::trailing)}),
            (Seq{"trim me", "trim me  ", "  trim me"}));
  EXPECT_TRUE(ERCString("   ").strip(ERCString::both).isNull());
  EXPECT_EQ(ERCString("xxaxx").strip(ERCString::both, 'x'), "a");
  EXPECT_EQ(ERCString(padded.strip(ERCString::both)), "trim me");
}

TEST(CStringStreams, ReadersAndTheirCapacities) {
  std::istringstream lines("  first line\n\nsecond\nlast");
  ERCString s;
  s.readLine(lines, true);
  EXPECT_EQ(s, "first line");
  s.readLine(lines, false);  // an empty line is a success
  EXPECT_EQ(s, "");
  EXPECT_TRUE(lines.good());
  s.readLine(lines);
  EXPECT_EQ(s, "second");
  s.readLine(lines);
  EXPECT_EQ(s, "last");
  EXPECT_EQ((Seq{lines.eof(), lines.fail()}), (Seq{true, false}));
  s.readLine(lines);
  EXPECT_TRUE(lines.fail());

  // The buffer grows by 15 from at least 15: a 40-byte line ends in capacity 45.
  std::istringstream longLine(std::string(40, 'q') + "\nrest");
  ERCString shared("keep");
  ERCString reader = shared;
  reader.readToDelim(longLine);
  EXPECT_EQ((Seq{reader.length(), reader.capacity(), shared}), (Seq{40, 45, "keep"}));

  std::istringstream zeros(std::string("one\0two\0", 8));
  s.readString(zeros);
  EXPECT_EQ(s, "one");
  s.readString(zeros);
  EXPECT_EQ(s, "two");

  std::istringstream tokens("  alpha\tbeta\n gamma");
  std::vector<std::string> got;
  ERCString token;
  while (token.readToken(tokens)) got.emplace_back(token.data());
  EXPECT_EQ(got, (std::vector<std::string>{"alpha", "beta", "gamma"}));

  const std::string body(100, 'f');
  std::istringstream file(body);
  s.readFile(file);
  EXPECT_EQ((Seq{std::string(s.data(), s.length()), s.capacity()}), (Seq{body, 105}));
}

TEST(CStringFile, LengthThenBytesAndCorruptLengths) {
  qorv_test::TempFile tmp("cstring");
  {
    ERFile f(tmp.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary);
    f << ERCString("abc") << ERCString("");
    const std::int32_t huge = 0x7FFFFFF0;  // a length the file cannot hold
    f.Write(huge);
    f.Write("xy", 2);
  }
  const qorv_test::Bytes bytes = qorv_test::readBytes(tmp.path);
  const qorv_test::Bytes expected = {3, 0, 0,    0,    'a',  'b',  'c', 0,  0,
                                     0, 0, 0xF0, 0xFF, 0xFF, 0x7F, 'x', 'y'};
  EXPECT_EQ((Seq{bytes, ERCString("abc").binaryStoreSize()}), (Seq{expected, 7u}));

  ERFile f(tmp.c_str(), CFile::modeRead | CFile::typeBinary);
  ERCString a, b, c("previous");
  EXPECT_EQ((Seq{a.restoreFrom(f), a}), (Seq{1, "abc"}));
  f >> b;
  EXPECT_EQ((Seq{b, c.restoreFrom(f), c}), (Seq{"", 0, ""}));
  EXPECT_EQ(c.restoreFrom(f), 0);  // a short length word
}

}  // namespace
