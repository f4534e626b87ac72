// Size-class pools: the class of a request, chunk capacity, release with and without a free
// threshold, collation traces, and no two live blocks overlap (blocks that outlive their thread
// are the threads test's).
#include "qorv/support/mem_pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "qorv/foundation/thread_data.h"
#include "qorv/platform/debug.h"
#include "tests/in_order.h"

namespace {

ERMemPool* threadPool(int k) { return qorvThreadLocalData::get()->pool(k); }

struct DebugLevel {
  explicit DebugLevel(int level) : previous(qorvSetDebugLevel(level)) {}
  ~DebugLevel() { qorvSetDebugLevel(previous); }
  int previous;
};

}  // namespace

TEST(MemoryPoolClasses, RequestsGoToTheirSizeClassOrTheHeap) {
  EXPECT_EQ((Seq{ERMemoryPool::sizeClass(0), ERMemoryPool::sizeClass(7)}), (Seq{1, 1}));
  EXPECT_EQ((Seq{ERMemoryPool::sizeClass(8), ERMemoryPool::sizeClass(24)}), (Seq{2, 4}));
  EXPECT_EQ((Seq{ERMemoryPool::sizeClass(376), ERMemoryPool::sizeClass(383)}), (Seq{48, 48}));
  EXPECT_EQ(ERMemoryPool::sizeClass(384), 0);

  void* small = ERMemoryPool::allocate(24);
  void* large = ERMemoryPool::allocate(376);
  void* heap = ERMemoryPool::allocate(384);
  ASSERT_NE(ERMemoryPool::chunkOf(small), nullptr);
  EXPECT_EQ(ERMemoryPool::chunkOf(small)->pool(), threadPool(4));
  EXPECT_EQ(threadPool(4)->elementSize(), 40u);  // slots of 40 bytes
  EXPECT_EQ(ERMemoryPool::chunkOf(large)->pool(), threadPool(48));
  EXPECT_EQ(threadPool(48)->elementSize(), 392u);
  EXPECT_EQ(ERMemoryPool::chunkOf(heap), nullptr);
  for (int k = 1; k <= 48; ++k) {
    EXPECT_EQ(threadPool(k)->elementSize(), static_cast<std::size_t>(8 * (k + 1)));
    EXPECT_EQ(threadPool(k)->freeThreshold(), 1024u);
  }
  std::memset(small, 0xAB, 24);
  std::memset(large, 0xAB, 376);
  std::memset(heap, 0xAB, 384);
  ERMemoryPool::release(small);
  ERMemoryPool::release(large);
  ERMemoryPool::release(heap);
  ERMemoryPool::release(nullptr);

  // (size, count) serves the product; (size, pool) uses the pool when the block fits.
  void* table = ERMemoryPool::allocate(8, 5);
  EXPECT_EQ(ERMemoryPool::chunkOf(table)->pool(), threadPool(6));
  ERMemoryPool::release(table);
  ERMemPool own(32, 0);
  void* fits = ERMemoryPool::allocate(32, own);
  void* tooBig = ERMemoryPool::allocate(33, own);
  EXPECT_EQ(ERMemoryPool::chunkOf(fits)->pool(), &own);
  EXPECT_EQ(ERMemoryPool::chunkOf(tooBig), nullptr);
  ERMemoryPool::release(fits);
  ERMemoryPool::release(tooBig);
  EXPECT_EQ(own.chunkCount(), 0u);
}

TEST(MemoryPoolChunks, CapacityLessOneSlotsPerChunk) {
  ERMemPool pool(32, 0);  // elements of 40 bytes: 4032 / 48 = 84 slots, 83 handed out
  std::vector<void*> elements;
  for (int i = 0; i < 83; ++i) elements.push_back(pool.allocate());
  EXPECT_EQ((Seq{pool.chunkCount(), pool.currentChunk()->capacity(), pool.currentChunk()->inUse()}),
            (Seq{1u, 84u, 83u}));
  elements.push_back(pool.allocate());
  EXPECT_EQ(pool.chunkCount(), 2u);
  ERChunk* second = pool.currentChunk();
  EXPECT_EQ(second->GetPrevious(), ERChunk::of(elements[0]));
  // Every slot lies inside its chunk, after the header, on its own bytes.
  for (void* e : elements) {
    const char* c = reinterpret_cast<const char*>(ERChunk::of(e));
    const char* p = static_cast<const char*>(e);
    EXPECT_GE(p, c + ERChunk::kHeader + 8);
    EXPECT_LE(p + 40, c + ERChunk::kSize);
    EXPECT_EQ((p - c - ERChunk::kHeader - 8) % 48, 0);
  }
  for (void* e : elements) pool.release(e);
}

TEST(MemoryPoolRelease, ThresholdZeroDeletesChunksAsTheyEmpty) {
  ERMemPool pool(32, 0);
  std::vector<void*> first, second;
  for (int i = 0; i < 83; ++i) first.push_back(pool.allocate());
  for (int i = 0; i < 10; ++i) second.push_back(pool.allocate());
  EXPECT_EQ(pool.chunkCount(), 2u);
  for (void* e : second) pool.release(e);  // the current chunk empties: back to the first
  EXPECT_EQ(pool.chunkCount(), 1u);
  EXPECT_EQ((Seq{pool.currentChunk(), pool.freeCount()}), (Seq{ERChunk::of(first[0]), 0u}));
  // A released slot is the next one handed out.
  pool.release(first[5]);
  EXPECT_EQ(pool.allocate(), first[5]);
  for (void* e : first) pool.release(e);
  EXPECT_EQ((Seq{pool.chunkCount(), pool.currentChunk()}), (Seq{0u, nullptr}));
  void* again = pool.allocate();  // a fresh chunk
  EXPECT_EQ(pool.chunkCount(), 1u);
  pool.release(again);
}

TEST(MemoryPoolRelease, ThresholdCollatesWithTraces) {
  DebugLevel level(1);
  qorv::platform::DebugCapture capture;
  ERMemPool pool(16, 4);
  std::vector<void*> elements;
  for (int i = 0; i < 5; ++i) elements.push_back(pool.allocate());
  for (int i = 0; i < 4; ++i) pool.release(elements[i]);
  EXPECT_EQ((Seq{pool.freeCount(), pool.chunkCount(), capture.text()}), (Seq{4u, 1u, ""}));
  EXPECT_EQ(pool.allocate(), elements[3]);  // from the pool's free list first
  pool.release(elements[3]);
  pool.release(elements[4]);  // five waiting: more than the threshold
  EXPECT_EQ((Seq{capture.text(), pool.freeCount()}), (Seq{"Garbage Collecting done\n", 0u}));
  EXPECT_EQ(pool.chunkCount(), 0u);  // the chunk emptied and went

  capture.clear();
  qorvSetDebugLevel(0);
  ERMemPool never(16, ERMemPool::kNever);
  elements.clear();
  for (int i = 0; i < 2000; ++i) elements.push_back(never.allocate());
  for (void* e : elements) never.release(e);
  EXPECT_EQ(never.freeCount(), 2000u);
  never.collateFreeSpace();
  EXPECT_EQ(never.chunkCount(), 0u);
  EXPECT_EQ(capture.text(), "");  // level 0: silent
}

TEST(MemoryPoolRelease, PurgeDropsEverythingAndHugeElementsFallBackToTheHeap) {
  ERMemPool pool(100, 1024);
  for (int i = 0; i < 100; ++i) pool.allocate();
  EXPECT_GT(pool.chunkCount(), 1u);
  pool.purge();
  EXPECT_EQ((Seq{pool.chunkCount(), pool.currentChunk()}), (Seq{0u, nullptr}));

  ERMemPool huge(3000, 0);  // not one slot fits a chunk
  EXPECT_EQ(huge.allocate(), nullptr);
  void* p = ERMemoryPool::allocate(3000, huge);
  EXPECT_EQ(ERMemoryPool::chunkOf(p), nullptr);
  ERMemoryPool::release(p);
}

TEST(MemoryPoolRelease, LiveBlocksNeverOverlap) {
  constexpr unsigned kSeed = 4711u;
  std::mt19937 g(kSeed);
  SCOPED_TRACE(testing::Message() << "seed " << kSeed);
  std::uniform_int_distribution<int> size(0, 500);
  std::map<void*, std::pair<std::size_t, unsigned char>> live;
  auto check = [](void* p, std::size_t n, unsigned char tag) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i)
      if (b[i] != tag) return false;
    return true;
  };
  for (int step = 0; step < 20000; ++step) {
    if (live.empty() || g() % 3 != 0) {
      const std::size_t n = static_cast<std::size_t>(size(g));
      void* p = ERMemoryPool::allocate(n);
      const auto tag = static_cast<unsigned char>(step);
      std::memset(p, tag, n);
      ASSERT_TRUE(live.emplace(p, std::make_pair(n, tag)).second);
    } else {
      auto it = std::next(live.begin(), static_cast<long>(g() % live.size()));
      ASSERT_TRUE(check(it->first, it->second.first, it->second.second)) << "step " << step;
      ERMemoryPool::release(it->first);
      live.erase(it);
    }
  }
  for (auto& [p, info] : live) {
    ASSERT_TRUE(check(p, info.first, info.second));
    ERMemoryPool::release(p);
  }
}
