// Vector storage: capacity classes, the per-thread block cache and its limits, copy on write,
// the shared empty block, and the stored record (including truncated and oversized ones).
#include "qorv/support/vec_rep.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "qorv/foundation/thread_data.h"
#include "qorv/persistence/file.h"
#include "qorv/support/quick_algebra.h"
#include "tests/in_order.h"
#include "tests/persistence/test_files.h"

using namespace qorv::platform;

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::TempFile, qorv_test::writeBytes;
using QuickAlgebra::ERVec;

namespace {

constexpr UINT kCreate = CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary;
constexpr UINT kRead = CFile::modeRead | CFile::typeBinary;

ERVecRepCache& cache() { return qorvThreadLocalData::get()->vecCache(); }

// A block of `bytes` from a private cache's point of view: taken fresh, never from this
// thread's cache, so tests of a standalone cache do not disturb the thread's.
ERVecRep* freshBlock(std::size_t bytes) {
  qorvThreadLocalData::get()->vecCache().empty();
  return ERVecRep::getRep(bytes);
}

}  // namespace

TEST(VecRepCapacity, ClassesOf64Bytes) {
  EXPECT_EQ((Seq{ERVecRep::adjustCapacity(0), ERVecRep::adjustCapacity(1)}), (Seq{64u, 64u}));
  EXPECT_EQ((Seq{ERVecRep::adjustCapacity(64), ERVecRep::adjustCapacity(65)}), (Seq{64u, 128u}));
  EXPECT_EQ((Seq{ERVecRep::adjustCapacity(128), ERVecRep::adjustCapacity(129)}), (Seq{128u, 192u}));
  for (std::size_t n : {1u, 64u, 65u, 129u, 1000u}) {
    ERVecRep* r = ERVecRep::getRep(n);
    EXPECT_EQ((Seq{r->capacity(), r->length()}), (Seq{ERVecRep::adjustCapacity(n), n}));
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(r->data()[i], 0) << "zero-filled";
    r->free();
  }
}

TEST(VecRepCapacity, SettersReturnThePreviousValueAndChangeThePolicy) {
  EXPECT_EQ((Seq{ERVecRep::initialCapacity(100), ERVecRep::resizeIncrement(50)}), (Seq{64u, 64u}));
  EXPECT_EQ((Seq{ERVecRep::adjustCapacity(100), ERVecRep::adjustCapacity(101)}), (Seq{100u, 150u}));
  EXPECT_EQ(ERVecRep::adjustCapacity(151), 200u);
  EXPECT_EQ(ERVecRep::resizeIncrement(0), 50u);  // clamped to 1
  EXPECT_EQ((Seq{ERVecRep::adjustCapacity(101), ERVecRep::initialCapacity(64)}), (Seq{101u, 100u}));
  EXPECT_EQ(ERVecRep::resizeIncrement(64), 1u);
  EXPECT_EQ((Seq{ERVecRep::maxWaste(7), ERVecRep::maxWaste(64)}), (Seq{64u, 7u}));
}

TEST(VecRepCache, ReleasedBlocksAreReusedByCapacity) {
  cache().empty();
  ERVecRep* a = ERVecRep::getRep(100);  // capacity 128
  ERVecRep* b = ERVecRep::getRep(10);   // capacity 64
  a->free();
  b->free();
  EXPECT_EQ((Seq{cache().blocks(), cache().bytes()}), (Seq{2u, 192u}));
  ERVecRep* c = ERVecRep::getRep(65);  // capacity 128: a comes back, zero-filled
  EXPECT_EQ(c, a);
  for (std::size_t i = 0; i < 65; ++i) ASSERT_EQ(c->data()[i], 0);
  EXPECT_EQ(cache().blocks(), 1u);
  ERVecRep* big = ERVecRep::getRep(ERVecRep::kMaxCached + 1);
  big->free();  // never cached
  EXPECT_EQ(cache().blocks(), 1u);
  ERVecRep* largest = ERVecRep::getRep(ERVecRep::kMaxCached);
  largest->free();
  EXPECT_EQ(cache().blocks(), 2u);
  c->free();
  cache().empty();
  EXPECT_EQ((Seq{cache().blocks(), cache().bytes()}), (Seq{0u, 0u}));
}

TEST(VecRepCache, EmptiedWhenOverEitherLimit) {
  ERVecRepCache c;
  for (std::size_t i = 0; i <= ERVecRepCache::kBlockLimit; ++i) c.put(freshBlock(8));
  EXPECT_EQ(c.blocks(), ERVecRepCache::kBlockLimit + 1);  // the limit is exceeded, not reached
  c.put(freshBlock(8));  // finds the count over the limit: empties first
  EXPECT_EQ((Seq{c.blocks(), c.bytes()}), (Seq{1u, 64u}));

  c.empty();
  std::size_t n = 0;
  while (c.bytes() <= ERVecRepCache::kByteLimit) {
    c.put(freshBlock(ERVecRep::kMaxCached));
    ++n;
  }
  EXPECT_EQ(n, ERVecRepCache::kByteLimit / ERVecRep::kMaxCached + 1);
  c.put(freshBlock(1));
  EXPECT_EQ((Seq{c.blocks(), c.bytes()}), (Seq{1u, 64u}));
}

TEST(VecRepCache, ManyCapacityClassesGrowTheTableAndStayReachable) {
  ERVecRepCache c;
  EXPECT_EQ(c.buckets(), ERVecRepCache::kInitialBuckets);
  std::vector<ERVecRep*> blocks;
  for (int k = 1; k <= 100; ++k)  // 646,400 bytes: under the limit
    for (int copy = 0; copy < 2; ++copy) {
      blocks.push_back(freshBlock(static_cast<std::size_t>(64 * k)));
      c.put(blocks.back());
    }
  EXPECT_GT(c.buckets(), ERVecRepCache::kInitialBuckets);
  // Each class gives back its blocks last in, first out, then nothing.
  for (int k = 100; k >= 1; --k) {
    const std::size_t cap = static_cast<std::size_t>(64 * k);
    EXPECT_EQ((Seq{c.take(cap), c.take(cap), c.take(cap)}),
              (Seq{blocks[static_cast<std::size_t>(2 * (k - 1) + 1)],
                   blocks[static_cast<std::size_t>(2 * (k - 1))], nullptr}));
  }
  EXPECT_EQ((Seq{c.blocks(), c.bytes()}), (Seq{0u, 0u}));
  for (ERVecRep* b : blocks) c.put(b);  // the destructor frees them
}

TEST(VecRepCache, ABlockFreedOnAnotherThreadJoinsThatThreadsCache) {
  ERVec<double> v(40);  // 320 bytes: capacity 320
  const ERVecRep* block = v.rep();
  std::size_t blocksThere = 0;
  const ERVecRep* takenThere = nullptr;
  std::thread([&] {
    ERVecRepCache& theirs = qorvThreadLocalData::get()->vecCache();
    const std::size_t before = theirs.blocks();
    { ERVec<double> moved(std::move(v)); }
    blocksThere = theirs.blocks() - before;
    takenThere = theirs.take(320);
    const_cast<ERVecRep*>(takenThere)->free();
  }).join();
  EXPECT_EQ((Seq{blocksThere, takenThere}), (Seq{1u, block}));
}

TEST(VecRepCopyOnWrite, WritingThroughOneHandleLeavesTheOtherUnchanged) {
  ERVec<double> a{1.0, 2.0, 3.0};
  ERVec<double> b = a;
  EXPECT_EQ((Seq{a.rep(), bool(a.isShared()), a.rep()->references()}), (Seq{b.rep(), true, 2u}));
  b[0] = 9.0;
  EXPECT_NE(a.rep(), b.rep());
  EXPECT_EQ((Seq{a[0], b[0]}), (Seq{1.0, 9.0}));
  EXPECT_EQ((Seq{a.isShared(), b.isShared()}), (Seq{false, false}));
  // Every writing path makes the block private: data(), fill, append, resize, insert, remove.
  const ERVec<double> original{4.0, 5.0};
  auto check = [&](auto edit) {
    ERVec<double> c = original;
    edit(c);
    EXPECT_EQ((Seq{original.length(), original[0], original[1]}), (Seq{2, 4.0, 5.0}));
  };
  check([](ERVec<double>& c) { c.data()[0] = -1; });
  check([](ERVec<double>& c) { c.fill(7); });
  check([](ERVec<double>& c) { c.append(3); });
  check([](ERVec<double>& c) { c.resize(1); });
  check([](ERVec<double>& c) { c.insertAt(0, 1.0); });
  check([](ERVec<double>& c) { c.removeAt(0); });
  check([](ERVec<double>& c) { c.reverse(); });
  check([](ERVec<double>& c) { c *= 2.0; });
}

TEST(VecRepCopyOnWrite, EmptyVectorsShareTheUncountedNullBlock) {
  ERVecRep* nullref = ERVecRep::nullRep();
  const std::uint32_t refs = nullref->references();
  {
    ERVec<double> a, b(0), c(-3);
    ERVec<double> d = a;
    EXPECT_EQ((Seq{a.rep(), b.rep(), c.rep(), d.rep()}), (Seq{nullref, nullref, nullref, nullref}));
    EXPECT_TRUE(nullref->isShared());
    d.append(1.0);
    EXPECT_NE(d.rep(), nullref);
    d.resize(0);
    EXPECT_EQ(d.rep(), nullref);
    nullref->free();  // does nothing
  }
  EXPECT_EQ((Seq{nullref->references(), nullref->length()}), (Seq{refs, 0u}));
}

TEST(VecRepEdits, StridedInsertRemoveAndReplace) {
  ERVecRep* r = ERVecRep::getRep("abcdef", 6);
  // A 2 x 3 byte matrix: one column inserted before column 1 of each row, then removed.
  r = r->polyInsert(1, 3, 2, 1);
  EXPECT_EQ(std::string(r->data(), r->length()), std::string("a\0bcd\0ef", 8));
  r->replace(1, 4, 2, "XY", 1);
  EXPECT_EQ(std::string(r->data(), r->length()), "aXbcdYef");
  r = r->polyRemove(1, 4, 2, 1);
  EXPECT_EQ(std::string(r->data(), r->length()), "abcdef");
  // Insertion at the end, growing past the capacity.
  r = r->polyInsert(6, 0, 1, 200);
  EXPECT_EQ((Seq{r->length(), std::string(r->data(), 6), r->data()[205]}),
            (Seq{206u, "abcdef", 0}));
  r->free();
}

TEST(VecRepRecord, ImageAndRoundTrip) {
  TempFile t("vecrep");
  const ERVec<double> v{1.5, -2.0};
  {
    ERFile f(t.c_str(), kCreate);
    v.saveGuts(f);
    EXPECT_EQ(f.GetLength(), v.binaryStoreSize());
  }
  Bytes expected = {16, 0, 0, 0};
  const double values[2] = {1.5, -2.0};
  const auto* raw = reinterpret_cast<const unsigned char*>(values);
  expected.insert(expected.end(), raw, raw + 16);
  EXPECT_EQ(readBytes(t.path), expected);

  ERFile f(t.c_str(), kRead);
  ERVec<double> back{9.0};
  ASSERT_EQ(back.restoreGuts(f), 1);
  EXPECT_EQ(back, v);
}

TEST(VecRepRecord, TruncatedOrOversizedRecordsGiveNull) {
  TempFile t("vecrep_bad");
  auto getRepFrom = [&](const Bytes& image) {
    writeBytes(t.path, image);
    ERFile f(t.c_str(), kRead);
    ERVecRep* r = ERVecRep::getRep(f);
    const bool ok = r != nullptr;
    if (r != nullptr) r->free();
    return ok;
  };
  EXPECT_FALSE(getRepFrom({}));                                 // no length
  EXPECT_FALSE(getRepFrom({4, 0, 0}));                          // short length
  EXPECT_FALSE(getRepFrom({4, 0, 0, 0, 1, 2, 3}));              // one byte missing
  EXPECT_FALSE(getRepFrom({0xFF, 0xFF, 0xFF, 0xFF}));           // negative
  EXPECT_FALSE(getRepFrom({0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3}));  // 2 GB claimed, none there
  EXPECT_TRUE(getRepFrom({4, 0, 0, 0, 1, 2, 3, 4}));
  EXPECT_TRUE(getRepFrom({0, 0, 0, 0}));

  // A vector keeps its value when its record is bad or not a whole number of elements.
  writeBytes(t.path, {12, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  ERFile f(t.c_str(), kRead);
  ERVec<double> v{1.0, 2.0};
  EXPECT_EQ((Seq{v.restoreGuts(f), v}), (Seq{0, (ERVec<double>{1.0, 2.0})}));
}
