// ERFile: the stored image of every primitive, byte for byte, and the read results.
#include "qorv/persistence/file.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "qorv/foundation/object.h"
#include "tests/in_order.h"
#include "tests/persistence/test_files.h"

using namespace qorv::platform;

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::TempFile, qorv_test::writeBytes;

namespace {

constexpr UINT kCreate = CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary;
constexpr UINT kRead = CFile::modeRead | CFile::typeBinary;

template <class F>
Bytes imageOf(F write) {
  TempFile t("erfile");
  {
    ERFile f(t.c_str(), kCreate);
    write(f);
  }
  return readBytes(t.path);
}

}  // namespace

TEST(ERFileEncoding, ScalarsAreFixedWidthLittleEndian) {
  const Bytes image = imageOf([](ERFile& f) {
    EXPECT_EQ(f.Write('A'), 1);
    f.Write(static_cast<unsigned char>(0xFE));
    f.Write(static_cast<short>(-2));
    f.Write(static_cast<unsigned short>(0x1234));
    f.Write(-2);
    f.Write(0xDEADBEEFu);
    f.Write(-2L);
    f.Write(0x123456789AL);  // a host long wider than 32 bits keeps its low word
    f.Write(0xFFFFFFFFUL);
    f.Write(1.5f);
    f.Write(-2.0);
  });
  const Bytes expected = {
      0x41,                                            // char
      0xFE,                                            // unsigned char
      0xFE, 0xFF,                                      // short
      0x34, 0x12,                                      // unsigned short
      0xFE, 0xFF, 0xFF, 0xFF,                          // int
      0xEF, 0xBE, 0xAD, 0xDE,                          // unsigned int
      0xFE, 0xFF, 0xFF, 0xFF,                          // long: 4 bytes
      0x9A, 0x78, 0x56, 0x34,                          // long: low 32 bits
      0xFF, 0xFF, 0xFF, 0xFF,                          // unsigned long
      0x00, 0x00, 0xC0, 0x3F,                          // float 1.5
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0,  // double -2
  };
  EXPECT_EQ(image, expected);
}

TEST(ERFileEncoding, ScalarsReadBackWithDiskWidths) {
  TempFile t("erfile");
  {
    ERFile f(t.c_str(), kCreate);
    f.Write(-2L);
    f.Write(0xFFFFFFFFUL);
    f.Write(static_cast<short>(-300));
    f.Write(std::numeric_limits<double>::denorm_min());
    f.Write(-0.0f);
  }
  ERFile f(t.c_str(), kRead);
  long l = 0;
  unsigned long ul = 0;
  short s = 0;
  double d = 0;
  float x = 1;
  EXPECT_EQ(f.Read(l), 1);
  EXPECT_EQ(l, -2L);  // sign-extended
  EXPECT_EQ(f.Read(ul), 1);
  EXPECT_EQ(ul, 0xFFFFFFFFUL);  // zero-extended
  EXPECT_EQ((Seq{f.Read(s), s, f.Read(d), d, f.Read(x)}),
            (Seq{1, -300, 1, std::numeric_limits<double>::denorm_min(), 1}));
  EXPECT_EQ((Seq{std::signbit(x), f.CurOffset(), bool(f.Eof())}),
            (Seq{true, 4 + 4 + 2 + 8 + 4, true}));
}

TEST(ERFileEncoding, ArraysAreContiguousWithoutCount) {
  // More longs than one conversion chunk, so the chunk boundaries are crossed.
  std::vector<long> longs(1500);
  for (std::size_t i = 0; i < longs.size(); ++i)
    longs[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(i * 2654435761u));
  const double doubles[3] = {1.0, -0.5, 1e300};
  const unsigned short shorts[2] = {1, 0xFFFF};
  const Bytes image = imageOf([&](ERFile& f) {
    EXPECT_EQ(f.Write(longs.data(), static_cast<unsigned>(longs.size())), 1);
    f.Write(doubles, 3);
    f.Write(shorts, 2);
    f.Write(static_cast<const int*>(nullptr), 0);
  });
  ASSERT_EQ(image.size(), longs.size() * 4 + 24 + 4);
  for (std::size_t i = 0; i < longs.size(); ++i) {
    const std::uint32_t w = image[4 * i] | image[4 * i + 1] << 8 | image[4 * i + 2] << 16 |
                            static_cast<std::uint32_t>(image[4 * i + 3]) << 24;
    ASSERT_EQ(static_cast<std::int32_t>(w), longs[i]) << i;
  }
  EXPECT_EQ(image[longs.size() * 4 + 7], 0x3F);  // 1.0
  EXPECT_EQ(image[image.size() - 1], 0xFF);

  TempFile t("erfile");
  writeBytes(t.path, image);
  ERFile f(t.c_str(), kRead);
  std::vector<long> back(longs.size());
  double d[3];
  unsigned short us[2];
  EXPECT_EQ(f.Read(back.data(), static_cast<unsigned>(back.size())), 1);
  EXPECT_EQ((Seq{back, f.Read(d, 3), d[2], f.Read(us, 2), us[1]}),
            (Seq{longs, 1, 1e300, 1, 0xFFFF}));
}

TEST(ERFileStrings, WriteAddsTheTerminatorAndReadStopsAtZeroOrFF) {
  const Bytes image = imageOf([](ERFile& f) {
    f.Write("ab");
    f.Write("");
    f.Write(static_cast<char>(0xFF));
  });
  EXPECT_EQ(image, (Bytes{'a', 'b', 0, 0, 0xFF}));

  TempFile t("erfile");
  writeBytes(t.path, Bytes{'a', 'b', 0xFF, 'c', 0, 'd', 'e', 0, 0xFF, 'x', 'y'});
  ERFile f(t.c_str(), kRead);
  char s[16];
  // 0xFF ends a string and is consumed; so does the end of the file, and reading on gives "".
  for (const char* want : {"ab", "c", "de", "", "xy"}) {
    EXPECT_EQ(f.Read(s), 1);
    EXPECT_STREQ(s, want);
  }
  EXPECT_TRUE(f.Eof());
  EXPECT_EQ((Seq{f.Read(s), std::string(s)}), (Seq{1, ""}));
}

TEST(ERFileStrings, BoundedReadTruncatesAndSkipsTheRest) {
  TempFile t("erfile");
  writeBytes(t.path, Bytes{'a', 'b', 'c', 'd', 'e', 0, 'z'});
  ERFile f(t.c_str(), kRead);
  char s[4] = {'?', '?', '?', '?'};
  EXPECT_EQ(f.Read(s, sizeof s, 1), 1);
  EXPECT_STREQ(s, "abc");
  char c = 0;
  EXPECT_EQ((Seq{f.Read(c), c}), (Seq{1, 'z'}));
}

TEST(ERFileReads, ShortReadsReportFailure) {
  TempFile t("erfile");
  writeBytes(t.path, Bytes{1, 2, 3});
  ERFile f(t.c_str(), kRead);
  long l = 77;
  EXPECT_EQ(f.Read(l), 0);
  EXPECT_EQ(l, 77);  // nothing assembled from a partial word
  f.SeekTo(0);
  int i = 0;
  EXPECT_EQ(f.Read(i), 0);
  f.SeekTo(0);
  unsigned char two[2];
  EXPECT_EQ(f.Read(two, 2), 1);
  double d[2];
  EXPECT_EQ(f.Read(d, 2), 0);
  char c;
  EXPECT_EQ(f.Read(c), 0);  // at end of file
  long many[3];
  f.SeekTo(0);
  EXPECT_EQ(f.Read(many, 3), 0);
}

TEST(ERFilePosition, SeekOffsetEofEmptyAndExists) {
  TempFile t("erfile");
  EXPECT_FALSE(ERFile::Exists(t.c_str()));
  ERFile f(t.c_str(), kCreate);
  EXPECT_EQ((Seq{ERFile::Exists(t.c_str()), f.Exists(), f.IsEmpty(), f.Eof()}),
            (Seq{true, true, true, true}));
  f.Write(1.0);
  f.Write(2);
  EXPECT_EQ(f.SeekTo(0), 0);  // the position reached is compared with 0
  EXPECT_EQ(f.CurOffset(), 0);
  EXPECT_FALSE(f.Eof());
  EXPECT_NE(f.SeekTo(8), 0);
  int v = 0;
  EXPECT_EQ((Seq{f.Read(v), v}), (Seq{1, 2}));
  EXPECT_TRUE(f.Eof());
  f.SeekTo(3);
  EXPECT_FALSE(f.IsEmpty());
  EXPECT_EQ(f.CurOffset(), 12);  // IsEmpty leaves the position at the end
  f.Close();
  EXPECT_FALSE(f.Exists());

  ERFile closed;
  EXPECT_FALSE(closed.Exists());
  EXPECT_EQ((Seq{closed.Open(t.c_str(), kRead), closed.GetLength()}), (Seq{1, 12u}));
}

namespace {

// A stored record with a base part (none) and two fields, as a persistent class writes itself.
class Record : public ERObject {
 public:
  ERObject* getCopy() const override { return new Record(*this); }
  void printOn(std::ostream& out) const override { out << id << ' ' << value; }
  void saveGuts(ERFile& f) const override {
    ERObject::saveGuts(f);
    f.Write(id);
    f.Write(value);
  }
  void restoreGuts(ERFile& f) override {
    ERObject::restoreGuts(f);
    f.Read(id);
    f.Read(value);
  }
  std::uint32_t binaryStoreSize() const override { return ERObject::binaryStoreSize() + 4 + 8; }

  long id = 0;
  double value = 0;
};

}  // namespace

TEST(ERFileObjects, StreamOperatorsCallTheHooks) {
  TempFile t("erfile");
  Record a;
  a.id = -7;
  a.value = 0.25;
  {
    ERFile f(t.c_str(), kCreate);
    f << a;
    EXPECT_EQ(static_cast<std::uint32_t>(f.CurOffset()), a.binaryStoreSize());
  }
  ERFile f(t.c_str(), kRead);
  Record b;
  f >> b;
  EXPECT_EQ((Seq{b.id, b.value}), (Seq{-7, 0.25}));
}
