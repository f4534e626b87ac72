// Bit vectors: bit addressing, operators against a std::vector<bool> model, print form and its
// reading back, stored image and bad records.
#include "qorv/support/bit_vec.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <vector>

#include "qorv/persistence/file.h"
#include "tests/in_order.h"
#include "tests/persistence/test_files.h"

using namespace qorv::platform;

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::TempFile, qorv_test::writeBytes;

namespace {

constexpr UINT kCreate = CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary;
constexpr UINT kRead = CFile::modeRead | CFile::typeBinary;

std::vector<bool> bitsOf(const ERBitVec& v) {
  std::vector<bool> b;
  for (int i = 0; i < v.length(); ++i) b.push_back(v[i]);
  return b;
}

}  // namespace

TEST(BitVec, BitsArePackedLowFirst) {
  const unsigned char bytes[] = {0x05, 0xFF};
  const ERBitVec v(bytes, 10);  // the 6 unused high bits are dropped
  EXPECT_EQ(bitsOf(v), (std::vector<bool>{1, 0, 1, 0, 0, 0, 0, 0, 1, 1}));
  EXPECT_EQ(v.data()[1], 0x03);
  ERBitVec w(10);
  w.setBit(0), w.setBit(2), w.setBit(8), w.setBit(9);
  EXPECT_EQ((Seq{v, v.hash()}), (Seq{w, w.hash()}));
  w[9] = false;
  EXPECT_NE(v, w);
  EXPECT_EQ((Seq{w.firstFalse(), w.firstTrue()}), (Seq{1, 0}));
  ERBitVec ones(11, true);
  EXPECT_EQ((Seq{ones == true, ones.firstFalse()}), (Seq{true, -1}));
  EXPECT_EQ(ones.data()[1], 0x07);  // padding stays clear
  ones.clearBit(10);
  EXPECT_EQ(ones.firstFalse(), 10);
  ones = false;
  EXPECT_EQ((Seq{ones == false, ones.firstTrue()}), (Seq{true, -1}));
  ones.resize(20);
  ones[19] = true;
  EXPECT_EQ(ones.firstTrue(), 19);
  ones.resize(19);
  EXPECT_EQ((Seq{ones == false, ones.data()[2]}), (Seq{true, 0x00}));
}

TEST(BitVec, OperatorsAgainstAModel) {
  constexpr unsigned kSeed = 99u;
  std::mt19937 g(kSeed);
  SCOPED_TRACE(testing::Message() << "seed " << kSeed);
  for (int n : {0, 1, 7, 8, 9, 25, 64, 100}) {
    ERBitVec a(n), b(n);
    std::vector<bool> ma(static_cast<std::size_t>(n)), mb(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      a[i] = ma[i] = g() & 1u;
      b[i] = mb[i] = g() & 1u;
    }
    std::vector<bool> and_(ma), or_(ma), xor_(ma);
    for (int i = 0; i < n; ++i) {
      and_[i] = ma[i] && mb[i];
      or_[i] = ma[i] || mb[i];
      xor_[i] = ma[i] != mb[i];
    }
    EXPECT_EQ((Seq{bitsOf(a & b), bitsOf(a | b), bitsOf(a ^ b)}), (Seq{and_, or_, xor_}));
    EXPECT_TRUE((a ^ a) == false);
    ERBitVec c = a;
    c ^= b;
    c ^= b;
    EXPECT_EQ(c, a);
  }
}

TEST(BitVec, PrintForm25DigitsALine) {
  ERBitVec v(30);
  v.setBit(0), v.setBit(24), v.setBit(29);
  std::ostringstream os;
  os << v;
  EXPECT_EQ(os.str(), "[\n  1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 \n  0 0 0 0 1 \n]");
  std::ostringstream empty;
  empty << ERBitVec();
  EXPECT_EQ(empty.str(), "[\n  \n]");

  std::istringstream in(os.str());
  ERBitVec back;
  in >> back;
  EXPECT_EQ((Seq{bool(in.fail()), back}), (Seq{false, v}));
  std::istringstream bad("[ 1 0 2 ]");
  ERBitVec kept(3, true);
  bad >> kept;
  EXPECT_EQ((Seq{bool(bad.fail()), kept}), (Seq{true, ERBitVec(3, true)}));
}

TEST(BitVec, StoredImageAndBadRecords) {
  TempFile t("bitvec");
  ERBitVec v(10);
  v.setBit(1), v.setBit(9);
  {
    ERFile f(t.c_str(), kCreate);
    v.saveOn(f);
    EXPECT_EQ(f.GetLength(), v.binaryStoreSize());
  }
  EXPECT_EQ(readBytes(t.path), (Bytes{10, 0, 0, 0, 0x02, 0x02}));
  auto restore = [&](const Bytes& image, ERBitVec& into) {
    writeBytes(t.path, image);
    ERFile f(t.c_str(), kRead);
    return into.restoreFrom(f);
  };
  ERBitVec back;
  EXPECT_EQ(restore({10, 0, 0, 0, 0x02, 0xFE}, back), 1);  // padding bits from the file dropped
  EXPECT_EQ(back, v);
  const ERBitVec keep = back;
  EXPECT_EQ(restore({10, 0, 0, 0, 0x02}, back), 0);                   // one byte missing
  EXPECT_EQ(restore({0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}, back), 0);  // 2^31 bits claimed
  EXPECT_EQ(restore({0xF6, 0xFF, 0xFF, 0xFF}, back), 0);              // negative
  EXPECT_EQ((Seq{restore({10, 0}, back), back, restore({0, 0, 0, 0}, back), back.length()}),
            (Seq{0, keep, 1, 0}));
}
