// Growable arrays: ERPtrVector reshape/resize rules, ERTValVector of vectors with its stored
// record and bad records, and the quaternion's matrix forms.
#include "qorv/support/ptr_vector.h"

#include <gtest/gtest.h>

#include <cmath>

#include "qorv/foundation/quaternion.h"
#include "qorv/support/quick_algebra.h"
#include "qorv/support/val_vector.h"
#include "tests/in_order.h"
#include "tests/persistence/test_files.h"

using namespace qorv::platform;

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::TempFile, qorv_test::writeBytes;
using QuickAlgebra::ERMatrix, QuickAlgebra::ERVec;

namespace {

constexpr UINT kCreate = CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary;
constexpr UINT kRead = CFile::modeRead | CFile::typeBinary;

}  // namespace

TEST(PtrVector, ReshapeKeepsThePrefixResizeClearsTheRest) {
  int a = 0, b = 0, c = 0;
  ERPtrVector v(3, &a);
  EXPECT_EQ((Seq{v.length(), v[2]}), (Seq{3, &a}));
  v[1] = &b;
  v(2) = &c;
  ERPtrVector copy = v;
  v.reshape(2);
  EXPECT_EQ((Seq{v.length(), v[1]}), (Seq{2, &b}));
  v.resize(4);
  EXPECT_EQ((Seq{v[0], v[1], v[2], v[3]}), (Seq{&a, &b, nullptr, nullptr}));
  void** before = v.data();
  v.reshape(4);  // same length: nothing happens
  EXPECT_EQ(v.data(), before);
  v = &c;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i], &c);
  EXPECT_EQ(copy[2], &c);  // copies own their array
  EXPECT_EQ(copy[1], &b);
  v.resize(-1);
  EXPECT_EQ((Seq{v.length(), ERPtrVector(-5).length()}), (Seq{0, 0}));
#if defined(NDEBUG) && !defined(QORV_ENABLE_ASSERTS)
  const ERPtrVector& cv = copy;
  EXPECT_EQ((Seq{cv[3], copy[-1]}), (Seq{nullptr, nullptr}));
  copy[7] = &a;  // lost, not written outside
  EXPECT_EQ(copy[7], nullptr);
#endif
}

TEST(ValVector, RecordOfElementRecords) {
  ERTValVector<ERVec<double>> v(2);
  v[0] = ERVec<double>{1.0};
  v.append(ERVec<double>{2.0, 3.0});
  EXPECT_EQ((Seq{v.length(), v.insertAt(4, ERVec<double>())}), (Seq{3, 0}));
  TempFile t("valvector");
  {
    ERFile f(t.c_str(), kCreate);
    v.saveGuts(f);
    EXPECT_EQ(f.GetLength(), v.binaryStoreSize());
  }
  Bytes expected = {3,  0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0,    0, 0, 0xF0, 0x3F, 0, 0, 0,    0,
                    16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0,    0,    0, 0, 0x08, 0x40};
  EXPECT_EQ(readBytes(t.path), expected);
  ERTValVector<ERVec<double>> back;
  {
    ERFile f(t.c_str(), kRead);
    ASSERT_EQ(back.restoreGuts(f), 1);
  }
  EXPECT_EQ(back, v);
  // A count beyond the file, an element cut short: refused, the vector kept.
  for (Bytes bad : {Bytes{0xFF, 0xFF, 0xFF, 0x0F}, Bytes(expected.begin(), expected.end() - 1)}) {
    writeBytes(t.path, bad);
    ERFile f(t.c_str(), kRead);
    EXPECT_EQ((Seq{back.restoreGuts(f), back}), (Seq{0, v}));
  }
}

TEST(QuaternionMatrix, MatrixFormsAgreeWithTheArrayForm) {
  const ERQuaternion q(ERVector3D(1, 2, 3), 0.7);
  double a[3][3];
  q.GetMatrix(a);
  const ERMatrix<double> m = q.GetMatrix();
  ASSERT_EQ((Seq{m.rows(), m.cols()}), (Seq{3, 3}));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(m(i, j), a[i][j]);
  const ERMatrix<double> converted = q;
  EXPECT_EQ(converted, m);
  const ERQuaternion back(m);
  EXPECT_NEAR(std::fabs(back.Dot(q)), 1.0, 1e-12);  // q or -q: the same rotation
  // The rotation of a vector agrees with the matrix product.
  const ERVec<double> v{0.5, -1.0, 2.0};
  const ERVec<double> mv = m * v;
  const ERVector3D r = q * ERVector3D(0.5, -1.0, 2.0);
  EXPECT_TRUE(Near(Seq{mv[0], mv[1], mv[2]}, Seq{r.x(), r.y(), r.z()}, 1e-12));
}
