// QuickAlgebra vectors and matrices: editing, arithmetic against plain recomputation on seeded
// random inputs, row and column edits, print forms and stored images.
#include "qorv/support/quick_algebra.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <vector>

#include "qorv/foundation/boxes.h"
#include "qorv/foundation/thread_data.h"
#include "tests/in_order.h"
#include "tests/persistence/test_files.h"

using namespace qorv::platform;

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::TempFile, qorv_test::writeBytes;
using QuickAlgebra::ERMatrix, QuickAlgebra::ERSimpleVec2, QuickAlgebra::ERVec;

namespace {

constexpr UINT kCreate = CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary;
constexpr UINT kRead = CFile::modeRead | CFile::typeBinary;
constexpr unsigned kSeed = 20240611u;

using Plain = std::vector<std::vector<double>>;

ERMatrix<double> randomMatrix(std::mt19937& g, int r, int c) {
  std::uniform_real_distribution<double> d(-10.0, 10.0);
  ERMatrix<double> m(r, c);
  for (int i = 0; i < r; ++i)
    for (int j = 0; j < c; ++j) m(i, j) = d(g);
  return m;
}

Plain plain(const ERMatrix<double>& m) {
  Plain p(static_cast<std::size_t>(m.rows()),
          std::vector<double>(static_cast<std::size_t>(m.cols())));
  for (int i = 0; i < m.rows(); ++i)
    for (int j = 0; j < m.cols(); ++j) p[i][j] = static_cast<const ERMatrix<double>&>(m)(i, j);
  return p;
}

void expectNear(const ERMatrix<double>& m, const Plain& p, double tol) {
  ASSERT_EQ(static_cast<std::size_t>(m.rows()), p.size());
  for (int i = 0; i < m.rows(); ++i) {
    ASSERT_EQ(static_cast<std::size_t>(m.cols()), p[i].size());
    for (int j = 0; j < m.cols(); ++j) EXPECT_NEAR(m(i, j), p[i][j], tol) << i << "," << j;
  }
}

}  // namespace

TEST(QuickAlgebraVec, EditingKeepsTheOtherElements) {
  ERVec<double> v;
  for (int i = 0; i < 100; ++i) v.append(i);  // amortised: far fewer blocks than appends
  EXPECT_EQ(v.length(), 100);
  EXPECT_GE(v.capacity(), 100);
  EXPECT_EQ((Seq{v.insertAt(10, -1.0, 3), v.length(), v[9], v[10], v[12], v[13]}),
            (Seq{1, 103, 9.0, -1.0, -1.0, 10.0}));
  EXPECT_EQ(v.removeAt(10, 3), 1);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(v[i], i);
  EXPECT_EQ((Seq{v.index(42.0), v.index(-5.0)}), (Seq{42, -1}));
  EXPECT_TRUE(v.contains(99.0));

  v.append(v[0]);  // the value lives in the block being grown
  EXPECT_EQ(v.last(), 0.0);
  ERVec<double> w{1, 2};
  w.append(w);
  EXPECT_EQ(w, (ERVec<double>{1, 2, 1, 2}));
  w.insertAt(1, w.data() + 2, 2);
  EXPECT_EQ(w, (ERVec<double>{1, 1, 2, 2, 1, 2}));
  w.prepend(0);
  w.removeLast();
  w.reverse();
  EXPECT_EQ(w, (ERVec<double>{1, 2, 2, 1, 1, 0}));
  w.resize(2);
  EXPECT_EQ(w, (ERVec<double>{1, 2}));
  w.resize(4);
  EXPECT_EQ(w, (ERVec<double>{1, 2, 0, 0}));
  const std::size_t cap = w.rep()->capacity();
  w.clear();
  EXPECT_EQ(w.length(), 0);
  EXPECT_EQ(w.rep()->capacity(), cap);  // a cleared private vector keeps its storage
}

TEST(QuickAlgebraVec, BadIndicesAreRefused) {
  ERVec<double> v{1, 2, 3};
#if defined(NDEBUG) && !defined(QORV_ENABLE_ASSERTS)
  EXPECT_EQ((Seq{v.insertAt(4, 0.0), v.insertAt(-1, 0.0), v.removeAt(2, 2), v.removeAt(-1)}),
            (Seq{0, 0, 0, 0}));
  EXPECT_EQ(v, (ERVec<double>{1, 2, 3}));
#endif
  EXPECT_EQ(v.insertAt(3, 4.0), 1);  // at the end
  EXPECT_EQ(v.removeAt(0, 4), 1);
  EXPECT_TRUE(v.isEmpty());
}

TEST(QuickAlgebraVec, ArithmeticAndNorms) {
  std::mt19937 g(kSeed);
  SCOPED_TRACE(testing::Message() << "seed " << kSeed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  for (int trial = 0; trial < 20; ++trial) {
    const int n = 1 + trial * 3;
    ERVec<double> a(n), b(n);
    double dot = 0, sq = 0;
    for (int i = 0; i < n; ++i) {
      a[i] = d(g), b[i] = d(g);
      dot += a[i] * b[i];
      sq += a[i] * a[i];
    }
    EXPECT_TRUE(Near(Seq{QuickAlgebra::dot(a, b), a.norme2(), a.norme()},
                     Seq{dot, sq, std::sqrt(sq)}, 1e-12));
    const ERVec<double> s = a + b, t = a - b, u = 2.0 * a, w = a / 4.0, m = -a;
    for (int i = 0; i < n; ++i)
      EXPECT_EQ((Seq{s[i], t[i], u[i], w[i], m[i]}),
                (Seq{a[i] + b[i], a[i] - b[i], 2.0 * a[i], a[i] / 4.0, -a[i]}));
  }
  // Points: every coordinate counts in the squared norm.
  const ERVec<ERPoint3D> pts{ERPoint3D(1, 2, 3), ERPoint3D(0, 0, 2)};
  EXPECT_EQ(pts.norme2(), 18.0);
  ERVec<ERPoint3D> moved = pts + pts;
  EXPECT_EQ(moved[0], ERPoint3D(2, 4, 6));
}

TEST(QuickAlgebraVec, NewElementsAreDefaultValues) {
  ERVec<ERPoint2D> p(2);
  EXPECT_EQ(p[1], ERPoint2D(0, 0));
  // A box's default is the empty box, not zero bytes.
  ERSimpleVec2<ERMinimax3D> boxes(2, 3);
  EXPECT_EQ((Seq{boxes.dim1(), boxes.dim2()}), (Seq{2, 3}));
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_TRUE(boxes(i, j).invalid());
  ERMatrix<ERMinimax3D> net(1, 1);
  net.insertCols(1, 2);
  net.insertRows(0);
  for (int i = 0; i < net.length(); ++i) EXPECT_TRUE(net[i].invalid());
}

TEST(QuickAlgebraMatrix, ProductsAgainstPlainRecomputation) {
  std::mt19937 g(kSeed + 1);
  SCOPED_TRACE(testing::Message() << "seed " << kSeed + 1);
  std::uniform_int_distribution<int> dim(1, 7);
  for (int trial = 0; trial < 30; ++trial) {
    const int n = dim(g), m = dim(g), p = dim(g);
    const ERMatrix<double> a = randomMatrix(g, n, m), b = randomMatrix(g, m, p);
    const Plain pa = plain(a), pb = plain(b);
    Plain pc(static_cast<std::size_t>(n), std::vector<double>(static_cast<std::size_t>(p), 0.0));
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < p; ++j)
        for (int k = 0; k < m; ++k) pc[i][j] += pa[i][k] * pb[k][j];
    const ERMatrix<double> c = a * b;
    expectNear(c, pc, 1e-9);
    // (AB)^T = B^T A^T, and transposing twice is the identity.
    EXPECT_EQ(c.transpose(), b.transpose() * a.transpose());
    EXPECT_EQ((Seq{a.transpose().transpose(), ERMatrix<double>::identity(n) * a}), (Seq{a, a}));
    EXPECT_EQ(a * ERMatrix<double>::identity(m), a);
    // Matrix times vector agrees with a one-column matrix product, and v^T M with (M^T v).
    const ERVec<double> v = b.col(0);
    const ERVec<double> mv = a * v;
    const ERMatrix<double> column(v, m, 1);
    EXPECT_EQ(mv, static_cast<const ERVec<double>&>(a * column));
    EXPECT_EQ(mv * a, a.transpose() * mv);
    // The squared norm is the squared Frobenius norm.
    double f = 0;
    for (const auto& row : pa)
      for (double x : row) f += x * x;
    EXPECT_NEAR(a.norme2(), f, 1e-9);
    const ERMatrix<double> s = a + a, z = a - a;
    EXPECT_EQ((Seq{s, z.norme2()}), (Seq{2.0 * a, 0.0}));
  }
}

TEST(QuickAlgebraMatrix, RowAndColumnEditsKeepTheOtherElements) {
  std::mt19937 g(kSeed + 2);
  SCOPED_TRACE(testing::Message() << "seed " << kSeed + 2);
  std::uniform_int_distribution<int> dim(0, 6);
  for (int trial = 0; trial < 40; ++trial) {
    ERMatrix<double> m = randomMatrix(g, dim(g), dim(g));
    const ERMatrix<double> shared = m;  // every edit must leave this copy alone
    const Plain before = plain(m);
    Plain p = before;
    const int r = m.rows(), c = m.cols();
    switch (trial % 4) {
      case 0: {
        const int at = std::uniform_int_distribution<int>(0, r)(g);
        ASSERT_EQ(m.insertRows(at, 2), 1);
        p.insert(p.begin() + at, 2, std::vector<double>(static_cast<std::size_t>(c), 0.0));
        break;
      }
      case 1: {
        const int at = std::uniform_int_distribution<int>(0, c)(g);
        ASSERT_EQ(m.insertCols(at, 2), 1);
        for (auto& row : p) row.insert(row.begin() + at, 2, 0.0);
        break;
      }
      case 2:
        if (r == 0) continue;
        {
          const int at = std::uniform_int_distribution<int>(0, r - 1)(g);
          ASSERT_EQ(m.removeRow(at), 1);
          p.erase(p.begin() + at);
        }
        break;
      case 3:
        if (c == 0) continue;
        {
          const int at = std::uniform_int_distribution<int>(0, c - 1)(g);
          ASSERT_EQ(m.removeColumn(at), 1);
          for (auto& row : p) row.erase(row.begin() + at);
        }
        break;
    }
    if (trial % 4 == 3 && c == 1) {
      EXPECT_EQ((Seq{m.cols(), m.rows()}), (Seq{0, r}));
      continue;
    }
    expectNear(m, p, 0.0);
    EXPECT_EQ(plain(shared), before);
  }
  // reshape keeps (i, j) where both fit.
  ERMatrix<double> m(2, 3, std::vector<double>{1, 2, 3, 4, 5, 6}.data());
  m.reshape(3, 2);
  expectNear(m, {{1, 2}, {4, 5}, {0, 0}}, 0.0);
  m.reshape(0, 2);
  EXPECT_EQ(m.length(), 0);
  m.reshape(1, 1);
  expectNear(m, {{0}}, 0.0);
}

TEST(QuickAlgebraMatrix, RowsColumnsAndSwaps) {
  ERMatrix<double> m(2, 3, std::vector<double>{1, 2, 3, 4, 5, 6}.data());
  EXPECT_EQ((Seq{m.row(1), m.col(2), m.setRow(0, ERVec<double>{7, 8, 9})}),
            (Seq{(ERVec<double>{4, 5, 6}), (ERVec<double>{3, 6}), 1}));
  EXPECT_EQ(m.setCol(0, ERVec<double>{-1, -2}), 1);
  m.swapRows(0, 1);
  m.swapCols(0, 2);
  expectNear(m, {{6, 5, -2}, {9, 8, -1}}, 0.0);
  EXPECT_EQ(m(1, 2), m[5]);
#if defined(NDEBUG) && !defined(QORV_ENABLE_ASSERTS)
  EXPECT_EQ((Seq{m.setRow(0, ERVec<double>{1}), m.row(2).length()}), (Seq{0, 0}));
  EXPECT_EQ((m * m).length(), 0);  // 2x3 times 2x3: no product
  EXPECT_EQ((m + m.transpose()).length(), 0);
#endif
}

TEST(QuickAlgebraMatrix, PrintForm) {
  const ERMatrix<double> m(2, 2, std::vector<double>{1, 2.5, -3, 4}.data());
  std::ostringstream os;
  m.printOn(os);
  EXPECT_EQ(os.str(), "( r= 2, c=2)\n1 2.5\n-3 4\n");
  std::ostringstream empty;
  ERMatrix<double>().printOn(empty);
  EXPECT_EQ(empty.str(), "( r= 0, c=0)\n");
}

TEST(QuickAlgebraMatrix, StoredImageAndRoundTrip) {
  TempFile t("matrix");
  const ERMatrix<double> m(2, 3, std::vector<double>{1, 2, 3, 4, 5, 6}.data());
  {
    ERFile f(t.c_str(), kCreate);
    m.saveGuts(f);
    EXPECT_EQ(f.GetLength(), m.binaryStoreSize());
  }
  Bytes expected = {2, 0, 0, 0, 3, 0, 0, 0, 48, 0, 0, 0};
  for (int i = 1; i <= 6; ++i) {
    const double x = i;
    const auto* raw = reinterpret_cast<const unsigned char*>(&x);
    expected.insert(expected.end(), raw, raw + 8);
  }
  EXPECT_EQ(readBytes(t.path), expected);
  {
    ERFile f(t.c_str(), kRead);
    ERMatrix<double> back;
    ASSERT_EQ(back.restoreGuts(f), 1);
    EXPECT_EQ((Seq{back, back.rows()}), (Seq{m, 2}));
  }
  // r x c that disagrees with the element count, negative sizes, truncation: refused.
  const ERMatrix<double> keep = ERMatrix<double>::identity(2);
  // An empty element record under a huge row count with no columns: refused too.
  const Bytes emptyRows = {0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0};
  for (Bytes bad : {Bytes{3, 0, 0, 0, 3, 0, 0, 0}, Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
                    Bytes{2, 0, 0, 0}, emptyRows}) {
    Bytes image = expected;
    std::copy(bad.begin(), bad.end(), image.begin());
    if (bad.size() == 4) image.pop_back();
    if (bad == emptyRows) image = emptyRows;
    writeBytes(t.path, image);
    ERFile f(t.c_str(), kRead);
    ERMatrix<double> back = keep;
    EXPECT_EQ((Seq{back.restoreGuts(f), back}), (Seq{0, keep}));
  }
}

TEST(QuickAlgebraMatrix, ThreadIdentityIsSharedAndCopyOnWrite) {
  qorvThreadLocalData* d = qorvThreadLocalData::get();
  const ERMatrix<double>& id = d->identity3x3();
  EXPECT_EQ((Seq{&id, id}), (Seq{&d->identity3x3(), ERMatrix<double>::identity(3)}));
  ERMatrix<double> copy = id;
  EXPECT_EQ(copy.rep(), id.rep());
  copy(0, 1) = 5;
  EXPECT_EQ(id, ERMatrix<double>::identity(3));
  // The scratch array keeps its block while it is large enough.
  double* s = d->scratch(10);
  EXPECT_GE(d->scratchCapacity(), 80u);
  EXPECT_EQ(d->scratch(3), s);
  d->scratch(1000);
  EXPECT_GE(d->scratchCapacity(), 8000u);
}
