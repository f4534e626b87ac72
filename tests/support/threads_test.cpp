// Several threads at once: private allocation and release through each thread's cache and
// pools, vectors shared and copied across threads (atomic counts, copy on write), blocks freed
// on other threads than the one that took them, pool blocks released after their thread ended.
// Run under ThreadSanitizer by scripts/test.sh --thread.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "qorv/foundation/thread_data.h"
#include "qorv/support/lists.h"
#include "qorv/support/mem_pool.h"
#include "qorv/support/quick_algebra.h"
#include "tests/in_order.h"

using QuickAlgebra::ERMatrix, QuickAlgebra::ERVec;

namespace {

constexpr int kThreads = 4;

// Fills v with values derived from tag, so a reader can check them.
ERVec<double> tagged(int n, int tag) {
  ERVec<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = tag * 1000.0 + i;
  return v;
}

bool holdsTag(const ERVec<double>& v, int tag) {
  for (int i = 0; i < v.length(); ++i)
    if (v[i] != tag * 1000.0 + i) return false;
  return true;
}

// A queue handing vectors from producers to consumers.
struct Channel {
  void push(ERVec<double> v) {
    {
      std::lock_guard<std::mutex> lock(m);
      q.push_back(std::move(v));
    }
    cv.notify_one();
  }
  bool pop(ERVec<double>& v) {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return !q.empty() || closed; });
    if (q.empty()) return false;
    v = std::move(q.front());
    q.pop_front();
    return true;
  }
  void close() {
    {
      std::lock_guard<std::mutex> lock(m);
      closed = true;
    }
    cv.notify_all();
  }
  std::mutex m;
  std::condition_variable cv;
  std::deque<ERVec<double>> q;
  bool closed = false;
};

}  // namespace

TEST(Threads, PrivateAllocationInEveryThreadAtOnce) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &failures] {
      std::mt19937 g(static_cast<unsigned>(100 + t));
      std::vector<ERVec<double>> held;
      std::vector<void*> blocks;
      ERTValDlist<int> list;
      for (int step = 0; step < 3000; ++step) {
        const int n = static_cast<int>(g() % 80);
        held.push_back(tagged(n, t));
        blocks.push_back(ERMemoryPool::allocate(g() % 400));
        list.append(step);
        if (held.size() > 20) {
          if (!holdsTag(held.front(), t)) ++failures;
          held.erase(held.begin());
          ERMemoryPool::release(blocks.front());
          blocks.erase(blocks.begin());
          list.removeFirst();
        }
        ERMatrix<double> m =
            ERMatrix<double>::identity(3) * qorvThreadLocalData::get()->identity3x3();
        if (m != ERMatrix<double>::identity(3)) ++failures;
      }
      for (void* b : blocks) ERMemoryPool::release(b);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(Threads, VectorsHandedAcrossThreadsAndFreedThere) {
  Channel channel;
  std::atomic<int> received{0}, failures{0};
  std::vector<std::thread> consumers;
  for (int t = 0; t < 2; ++t)
    consumers.emplace_back([&] {
      ERVec<double> v;
      while (channel.pop(v)) {
        const int tag = static_cast<int>(v[0] / 1000.0);
        if (!holdsTag(v, tag)) ++failures;
        ERVec<double> copy = v;  // shares, then frees here
        copy.append(-1);         // a private block of this thread
        ++received;
        v = ERVec<double>();  // the producer's block joins this thread's cache
      }
    });
  std::vector<std::thread> producers;
  for (int t = 0; t < 2; ++t)
    producers.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) channel.push(tagged(1 + i % 50, 1 + t));
    });
  for (auto& p : producers) p.join();
  channel.close();
  for (auto& c : consumers) c.join();
  EXPECT_EQ((Seq{received.load(), failures.load()}), (Seq{4000, 0}));
}

TEST(Threads, OneVectorCopiedAndWrittenByManyThreads) {
  const ERVec<double> shared = tagged(64, 7);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        ERVec<double> mine = shared;  // concurrent count updates on one block
        if (i % 3 == 0) mine[5] = t;  // a private copy; the shared block is never written
        if (!holdsTag(shared, 7)) ++failures;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ((Seq{holdsTag(shared, 7), shared.isShared()}), (Seq{true, false}));
}

TEST(Threads, ListsAndPoolBlocksOutliveTheirThreads) {
  std::vector<ERTValDlist<double>> lists(kThreads);
  std::vector<std::vector<void*>> blocks(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        lists[static_cast<std::size_t>(t)].append(i);
        blocks[static_cast<std::size_t>(t)].push_back(
            ERMemoryPool::allocate(static_cast<std::size_t>(i % 300)));
      }
      ERMemoryPool::release(blocks[static_cast<std::size_t>(t)].back());  // while its pool lives
      blocks[static_cast<std::size_t>(t)].pop_back();
    });
  for (auto& th : threads) th.join();
  // Every thread has ended: its chunks belong to these nodes and blocks now.
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(lists[static_cast<std::size_t>(t)].entries(), 500);
    EXPECT_EQ(lists[static_cast<std::size_t>(t)].last(), 499.0);
  }
  std::vector<std::thread> releasers;
  for (int t = 0; t < kThreads; ++t)
    releasers.emplace_back([&, t] {
      lists[static_cast<std::size_t>(t)].clear();
      // Interleaved: the chunks of one dead thread are emptied by all releasers at once.
      for (auto& mine : blocks)
        for (std::size_t i = static_cast<std::size_t>(t); i < mine.size(); i += kThreads)
          ERMemoryPool::release(mine[i]);
    });
  for (auto& th : releasers) th.join();
}
