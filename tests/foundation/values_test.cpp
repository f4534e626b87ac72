#include "qorv/foundation/values.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <initializer_list>
#include <limits>
#include "qorv/foundation/point_records.h"
#include "qorv/platform/archive.h"
#include "tests/in_order.h"
#include "tests/object_images.h"

using namespace qorv::platform;

namespace {

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::writeBytes;
// The little-endian image of the doubles, built without looking at the host's byte order.
const auto leDoubles = qorv_test::doubles;

struct TempFile : qorv_test::TempFile {
  TempFile() : qorv_test::TempFile("values") {}
};

// Writes the value through ERFile (both the stream operator and saveGuts) and returns the bytes.
template <class T>
Bytes storedImage(const T& v) {
  TempFile tmp;
  {
    ERFile f(tmp.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    f << v;
    v.saveGuts(f);
  }
  const Bytes all = readBytes(tmp.path);
  const std::size_t half = all.size() / 2;
  EXPECT_EQ(Bytes(all.begin(), all.begin() + half), Bytes(all.begin() + half, all.end()));
  return Bytes(all.begin(), all.begin() + half);
}

// Reads a value back from bytes through ERFile's >>.
template <class T>
T restoredFrom(const Bytes& bytes, T start = T()) {
  TempFile tmp;
  writeBytes(tmp.path, bytes);
  ERFile f(tmp.c_str(), CFile::modeRead);
  f >> start;
  return start;
}

template <class T>
void expectImage(const T& v, std::initializer_list<double> fields) {
  const Bytes want = leDoubles(fields);
  EXPECT_EQ((Seq{storedImage(v), v.binaryStoreSize(), restoredFrom<T>(want)}),
            (Seq{want, want.size(), v}));
  // The framework archive writes the same coordinates in the same order.
  CArchive out;
  out << v;
  EXPECT_EQ(out.buffer(), want);
  CArchive in(want.data(), want.size());
  T back;
  in >> back;
  EXPECT_EQ(back, v);
}

TEST(StoredImages, EveryValueWritesItsCoordinatesInOrder) {
  expectImage(ERPoint2D(1.5, -2.0), {1.5, -2.0});
  expectImage(ERVector2D(-0.0, 1e-300), {-0.0, 1e-300});
  expectImage(ERPoint3D(1, 2, 3), {1, 2, 3});
  expectImage(ERVector3D(DBL_MAX, -DBL_MIN, 0.1), {DBL_MAX, -DBL_MIN, 0.1});
  expectImage(ERPole2DH(2, 4, 0.5), {2, 4, 0.5});
  expectImage(ERPole3DH(1, 2, 3, 4), {1, 2, 3, 4});
  expectImage(ERMinimax2D(0, 1, 2, 3), {0, 1, 2, 3});
  expectImage(ERMinimax3D(-1, -2, -3, 1, 2, 3), {-1, -2, -3, 1, 2, 3});
  expectImage(ERMinimax2D(), {DBL_MAX, DBL_MAX, -DBL_MAX, -DBL_MAX});
  expectImage(ERLimites(0.25, 8), {0.25, 8});
  // Infinities and NaN go through unchanged.
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(storedImage(ERPoint2D(inf, -inf)), leDoubles({inf, -inf}));
  const ERPoint3D nan = restoredFrom<ERPoint3D>(leDoubles({0, NAN, 0}));
  EXPECT_TRUE(nan.invalid());
}

TEST(StoredImages, AngleLimitsThroughTheVirtualHooks) {
  const EREntAngle a(0.5, -3.0);
  const EREntAngle& base = a;
  TempFile tmp;
  {
    ERFile f(tmp.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    base.saveGuts(f);
  }
  EXPECT_EQ((Seq{readBytes(tmp.path), base.binaryStoreSize()}), (Seq{leDoubles({0.5, -3.0}), 16u}));
  EREntAngle b;
  {
    ERFile f(tmp.c_str(), CFile::modeRead);
    b.restoreGuts(f);
  }
  EXPECT_EQ((Seq{b.startAngle(), b.endAngle()}), (Seq{0.5, -3.0}));
}

TEST(StoredImages, ATruncatedImageLeavesTheValueAsItWas) {
  const Bytes full = leDoubles({1, 2, 3, 4, 5, 6});
  for (std::size_t cut : {0u, 7u, 8u, 40u, 47u}) {
    const Bytes part(full.begin(), full.begin() + cut);
    const ERMinimax3D start(9, 9, 9, 9, 9, 9);
    EXPECT_EQ(restoredFrom<ERMinimax3D>(part, start), start) << cut << " bytes";
    EXPECT_EQ(restoredFrom<ERPoint3D>(part, ERPoint3D(7, 7, 7)),
              cut >= 24 ? ERPoint3D(1, 2, 3) : ERPoint3D(7, 7, 7));
  }
  // A short archive throws the framework's end-of-file exception.
  const Bytes two = leDoubles({1, 2});
  CArchive in(two.data(), two.size());
  ERPoint3D p;
  try {
    in >> p;
    ADD_FAILURE() << "no exception";
  } catch (CArchiveException& e) {
    EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
  }
}

TEST(PointRecords, LinksStartNull) {
  const ERPoint12 a(ERPoint2D(1, 2), 0.5);
  const ERPoint13 b(ERPoint3D(1, 2, 3), 0.25);
  const ERPoint23 c(ERPoint3D(1, 2, 3), ERPoint2D(0.1, 0.9));
  EXPECT_EQ((Seq{a.next, b.next, c.next, a.u, c.uv, equalityTolerance}),
            (Seq{nullptr, nullptr, nullptr, 0.5, ERPoint2D(0.1, 0.9), 1e-11}));
  EXPECT_EQ((Seq{gmMathUtils::is_nan(NAN), gmMathUtils::is_inf(-HUGE_VAL)}), (Seq{true, true}));
  EXPECT_EQ((Seq{gmMathUtils::is_inf(NAN), gmMathUtils::is_valid(NAN)}), (Seq{false, false}));
  EXPECT_TRUE(gmMathUtils::is_valid(-DBL_MAX));
}

}  // namespace
