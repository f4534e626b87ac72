// The block heap: byte images of new files and small sequences, the free-list ring (cutting,
// merging, node creation and deletion), corrupt files, read-only and failing writes, and a
// seeded random run checked against an independent reading of the file.
#include "qorv/persistence/file_manager.h"
#include "qorv/persistence/extent_index.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "qorv/platform/debug.h"
#include "tests/in_order.h"
#include "tests/persistence/test_files.h"
#include "tests/test_seed.h"

using namespace qorv::platform;

using qorv_test::Bytes, qorv_test::causeOf, qorv_test::readBytes, qorv_test::TempFile,
    qorv_test::writeBytes;

namespace {

// ---- An independent reader of the file format -----------------------------------------------

using qorv_test::i32, qorv_test::put32, qorv_test::u32;
unsigned u16(const Bytes& b, std::size_t at) { return b[at] | b[at + 1] << 8; }

struct Node {
  long at = 0;
  unsigned magic = 0;
  std::int32_t count = 0;
  std::int32_t next = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  // offset, size
};

Node nodeAt(const Bytes& b, long at) {
  Node n;
  n.at = at;
  n.magic = u16(b, at);
  n.count = i32(b, at + 260);
  n.next = i32(b, at + 264);
  for (int i = 0; i < std::clamp(n.count, 0, 32); ++i)
    n.entries.emplace_back(u32(b, at + 4 + 4 * i), u32(b, at + 132 + 4 * i));
  return n;
}

struct Heap {
  std::int32_t start = 0, endData = 0;
  std::vector<Node> ring;  // from the root, in link order
};

Heap parse(const Bytes& b) {
  Heap h;
  h.start = i32(b, 0);
  h.endData = i32(b, 4);
  long at = 12;
  for (int k = 0; k < 100000 && at >= 0 && static_cast<std::size_t>(at) + 268 <= b.size(); ++k) {
    h.ring.push_back(nodeAt(b, at));
    at = h.ring.back().next;
    if (at == 12) break;
  }
  return h;
}

// Every byte of [280, endData) is in exactly one live block, free extent, node or sliver; live
// blocks carry size words of at least their need and at most need + 4. A sliver is the 4 bytes
// past a node that took a 272-byte extent whole: the node is 268 bytes, and so is what its
// deletion frees.
::testing::AssertionResult tiles(const Bytes& b, const std::map<long, std::uint32_t>& live,
                                 const std::set<long>& slivers = {}, const Heap* parsed = nullptr) {
  const Heap h = parsed ? *parsed : parse(b);
  if (h.ring.empty() || h.ring.back().next != 12) return ::testing::AssertionFailure() << "ring";
  std::vector<std::pair<std::int64_t, std::int64_t>> parts;
  for (const auto& [payload, need] : live) {
    const std::uint32_t s = u32(b, payload - 4);
    if (s < need || s > need + 4)
      return ::testing::AssertionFailure() << "size word " << s << " at " << payload - 4;
    parts.emplace_back(payload - 4, s);
  }
  for (const Node& n : h.ring) {
    if (n.magic != 588 || n.count < 0 || n.count > 32)
      return ::testing::AssertionFailure() << "node " << n.at;
    if (n.at != 12) parts.emplace_back(n.at, 268);
    for (std::size_t i = 0; i < n.entries.size(); ++i) {
      if (i > 0 && n.entries[i].first <= n.entries[i - 1].first)
        return ::testing::AssertionFailure() << "order in node " << n.at;
      parts.emplace_back(n.entries[i].first, n.entries[i].second);
    }
  }
  for (long s : slivers) parts.emplace_back(s, 4);
  std::sort(parts.begin(), parts.end());
  std::int64_t at = 280;
  for (const auto& [o, s] : parts) {
    if (o != at) return ::testing::AssertionFailure() << "gap or overlap at " << at << " vs " << o;
    at += s;
  }
  if (at != h.endData) return ::testing::AssertionFailure() << "end " << at << " vs " << h.endData;
  return ::testing::AssertionSuccess();
}

std::uint32_t needOf(std::uint32_t size) { return (size + 7) & ~3u; }

std::unique_ptr<ERFileManager> openRW(const TempFile& t) {
  return std::make_unique<ERFileManager>(t.c_str(), 0);
}

}  // namespace

// ---- New files and the header ----------------------------------------------------------------

TEST(BlockHeap, NewFileIsExactly280Bytes) {
  TempFile t("heap");
  {
    ERFileManager fm(t.c_str(), 0);
    EXPECT_EQ((Seq{fm.start(), fm.endData(), fm.rootOffset(), fm.isReadOnly()}),
              (Seq{-1, 280, 12, 0}));
    EXPECT_NE(fm.listManager(), nullptr);
  }
  const Bytes b = readBytes(t.path);
  ASSERT_EQ(b.size(), 280u);
  EXPECT_EQ((Seq{i32(b, 0), i32(b, 4), u32(b, 8), u16(b, 12)}), (Seq{-1, 280, 268u, 588u}));
  for (int k = 0; k < 64; ++k) EXPECT_EQ(u32(b, 16 + 4 * k), 0u) << k;
  EXPECT_EQ((Seq{i32(b, 272), i32(b, 276)}), (Seq{0, 12}));

  // Reopening, read-write or read-only, changes nothing.
  { ERFileManager fm(t.c_str(), 0); }
  {
    ERFileManager fm(t.c_str(), 1);
    EXPECT_EQ((Seq{fm.endData(), fm.isReadOnly()}), (Seq{280, 1}));
  }
  EXPECT_EQ(readBytes(t.path), b);
}

TEST(BlockHeap, FirstBlockIsStartAndIsNeverFreed) {
  TempFile t("heap");
  ERFileManager fm(t.c_str(), 0);
  EXPECT_EQ((Seq{fm.allocate(10), fm.start()}), (Seq{284, 284}));
  EXPECT_EQ(fm.CurOffset(), 284);  // the position is left at the payload
  const Bytes before = readBytes(t.path);
  EXPECT_EQ((Seq{i32(before, 0), u32(before, 280)}), (Seq{284, 16u}));
  fm.deallocate(284);
  fm.deallocate(-1);
  EXPECT_EQ(readBytes(t.path), before);
}

TEST(BlockHeap, SizesRoundUpToFourPlusTheSizeWord) {
  TempFile t("heap");
  ERFileManager fm(t.c_str(), 0);
  fm.allocate(12);  // start block 280..296
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {1, 8}, {4, 8}, {5, 12}, {0, 4}, {9, 16}};
  long end = 296;
  for (const auto& [size, need] : cases) {
    EXPECT_EQ((Seq{fm.allocate(size), u32(readBytes(t.path), end)}), (Seq{end + 4, need})) << size;
    end += need;
    EXPECT_EQ(fm.endData(), end);
  }
  // Sizes whose block cannot be addressed by 32-bit offsets are refused without a write.
  const Bytes before = readBytes(t.path);
  EXPECT_EQ((Seq{fm.allocate(0xFFFFFFFFu), fm.allocate(0xFFFFFFFCu)}), (Seq{-1, -1}));
  EXPECT_EQ((Seq{fm.allocate(0x7FFFFFF9u), readBytes(t.path)}), (Seq{-1, before}));
}

// ---- Cutting, taking whole, merging ------------------------------------------------------------

TEST(BlockHeap, SmallSequenceByteImages) {
  TempFile t("heap");
  ERFileManager fm(t.c_str(), 0);
  const long s = fm.allocate(12);  // 280..296
  const long a = fm.allocate(20);  // 296..320
  const long b = fm.allocate(12);  // 320..336
  const long c = fm.allocate(28);  // 336..368
  const long d = fm.allocate(4);   // 368..376
  EXPECT_EQ(std::vector<long>({s, a, b, c, d}), std::vector<long>({284, 300, 324, 340, 372}));
  fm.deallocate(a);
  fm.deallocate(c);
  fm.deallocate(d);  // the last block: only endData drops
  {
    const Bytes img = readBytes(t.path);
    EXPECT_EQ(img.size(), 372u);  // the file is not shortened
    EXPECT_EQ((Seq{i32(img, 0), i32(img, 4)}), (Seq{284, 368}));
    const Node root = nodeAt(img, 12);
    EXPECT_EQ((Seq{root.count, root.next, root.entries}),
              (Seq{2, 12, (decltype(root.entries){{296, 24}, {336, 32}})}));
    for (int k = 2; k < 32; ++k) EXPECT_EQ(u32(img, 16 + 4 * k) | u32(img, 144 + 4 * k), 0u);
    EXPECT_EQ((Seq{u32(img, 280), u32(img, 296), u32(img, 320), u32(img, 336)}),
              (Seq{16u, 24u, 16u, 32u}));
    EXPECT_TRUE(tiles(img, {{s, 16}, {b, 16}}));
  }
  // Freeing the block between two free extents of the node leaves one merged extent.
  fm.deallocate(b);
  {
    const Bytes img = readBytes(t.path);
    const Node root = nodeAt(img, 12);
    EXPECT_EQ(root.entries, (decltype(root.entries){{296, 72}}));
    EXPECT_EQ(u32(img, 16 + 4), 0u);  // the vacated slot is cleared
    EXPECT_EQ(u32(img, 144 + 4), 0u);
  }
  // A remainder of 8 is cut off and stays free; one of 4 goes with the block.
  EXPECT_EQ(fm.allocate(60), 300);  // need 64 of 72
  {
    const Bytes img = readBytes(t.path);
    EXPECT_EQ(u32(img, 296), 64u);
    EXPECT_EQ(nodeAt(img, 12).entries, (decltype(Node::entries){{360, 8}}));
  }
  EXPECT_EQ(fm.allocate(0), 364);  // need 4 of 8
  {
    const Bytes img = readBytes(t.path);
    EXPECT_EQ(u32(img, 360), 8u);  // the size word records the whole extent
    EXPECT_EQ((Seq{nodeAt(img, 12).count, i32(img, 4)}), (Seq{0, 368}));
    EXPECT_TRUE(tiles(img, {{s, 16}, {300, 64}, {364, 4}}));
  }
}

TEST(BlockHeap, MergesWithTheExtentThatFollowsAndKeepsOrder) {
  TempFile t("heap");
  ERFileManager fm(t.c_str(), 0);
  fm.allocate(12);
  std::vector<long> p;
  for (int i = 0; i < 8; ++i) p.push_back(fm.allocate(12));  // 16-byte blocks from 296
  fm.deallocate(p[5]);
  fm.deallocate(p[1]);
  fm.deallocate(p[3]);
  EXPECT_EQ(nodeAt(readBytes(t.path), 12).entries,
            (decltype(Node::entries){{312, 16}, {344, 16}, {376, 16}}));
  fm.deallocate(p[0]);  // precedes 312
  fm.deallocate(p[6]);  // follows 376
  EXPECT_EQ(nodeAt(readBytes(t.path), 12).entries,
            (decltype(Node::entries){{296, 32}, {344, 16}, {376, 32}}));
  fm.deallocate(p[4]);  // follows 344 and reaches 376: one extent
  EXPECT_EQ(nodeAt(readBytes(t.path), 12).entries, (decltype(Node::entries){{296, 32}, {344, 64}}));
  // First fit: the lowest extent that is large enough, not the best one.
  EXPECT_EQ(fm.allocate(20), 300);  // need 24 of 32: 8 left
  EXPECT_EQ(fm.allocate(20), 348);  // the 8 bytes are skipped
  EXPECT_EQ(nodeAt(readBytes(t.path), 12).entries, (decltype(Node::entries){{320, 8}, {368, 40}}));
}

// ---- The ring of nodes -------------------------------------------------------------------------

namespace {

// A start block, 32 free 32-byte extents in the root, each between live 16-byte blocks, and a
// 33rd freed block X (xPayload bytes) that no extent touches: it opens a second node N.
struct RingFixture {
  explicit RingFixture(std::uint32_t xPayload) : t("ring"), fm(openRW(t)) {
    start = fm->allocate(12);
    for (int i = 0; i < 32; ++i) {
      big.push_back(fm->allocate(28));
      live[fm->allocate(12)] = 16;
    }
    x = fm->allocate(xPayload);
    live[fm->allocate(12)] = 16;
    live[start] = 16;
    for (long p : big) fm->deallocate(p);
    node = fm->endData();
    fm->deallocate(x);
  }
  Bytes image() const { return readBytes(t.path); }

  TempFile t;
  std::unique_ptr<ERFileManager> fm;
  long start = 0, x = 0, node = 0;
  std::vector<long> big;
  std::map<long, std::uint32_t> live;
};

}  // namespace

TEST(BlockHeapRing, The33rdUnmergeableExtentOpensASecondNode) {
  RingFixture f(12);
  const Bytes img = f.image();
  const Node root = nodeAt(img, 12);
  ASSERT_EQ(root.count, 32);
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(root.entries[i], std::make_pair(std::uint32_t(f.big[i] - 4), 32u));
  EXPECT_EQ(root.next, f.node);
  const Node n = nodeAt(img, f.node);
  EXPECT_EQ(n.magic, 588u);  // over the block's size word
  EXPECT_EQ((Seq{n.count, n.entries[0]}), (Seq{1, std::make_pair(std::uint32_t(f.x - 4), 16u)}));
  for (int k = 1; k < 64; ++k) EXPECT_EQ(u32(img, f.node + 4 + 4 * k), k == 32 ? 16u : 0u) << k;
  EXPECT_EQ((Seq{n.next, f.fm->endData()}), (Seq{12, f.node + 268}));
  EXPECT_EQ(static_cast<const ERListManager*>(f.fm->listManager())->currentOffset(), f.node);
  EXPECT_TRUE(tiles(img, f.live));
}

TEST(BlockHeapRing, AnEmptiedLastNodeIsUnlinkedAndEndDataDrops) {
  RingFixture f(12);
  EXPECT_EQ(f.fm->allocate(12), f.x);  // the walk starts at N, which holds X
  const Bytes img = f.image();
  EXPECT_EQ((Seq{nodeAt(img, 12).next, nodeAt(img, 12).count, f.fm->endData()}),
            (Seq{12, 32, f.node}));
  f.live[f.x] = 16;
  EXPECT_TRUE(tiles(img, f.live));
}

TEST(BlockHeapRing, AnEmptiedMiddleNodeIsUnlinkedAndItsBlockFreed) {
  RingFixture f(96);                    // X is 100 bytes, larger than every extent of the root
  const long k2 = f.fm->allocate(200);  // fits nowhere: walks N, then the root, cuts at the end
  EXPECT_EQ(k2, f.node + 268 + 4);
  EXPECT_EQ(static_cast<const ERListManager*>(f.fm->listManager())->currentOffset(), 12);
  EXPECT_EQ((Seq{f.fm->allocate(28), f.fm->allocate(96)}), (Seq{f.big[0], f.x}));
  const Bytes img = f.image();
  const Node root = nodeAt(img, 12);
  EXPECT_EQ(root.next, 12);
  ASSERT_EQ(root.count, 32);
  EXPECT_EQ(root.entries.back(), std::make_pair(std::uint32_t(f.node), 268u));
  EXPECT_EQ(f.fm->endData(), k2 - 4 + 204);
  f.live[k2] = 204;
  f.live[f.big[0]] = 32;
  f.live[f.x] = 100;
  EXPECT_TRUE(tiles(img, f.live));
}

TEST(BlockHeapRing, AnEmptiedRootTakesOverTheNextNode) {
  RingFixture f(12);
  const long k2 = f.fm->allocate(60);  // walks N (16 bytes), then the root: cut at the end
  EXPECT_EQ(k2, f.node + 268 + 4);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(f.fm->allocate(28), f.big[i]) << i;
  const Bytes img = f.image();
  const Node root = nodeAt(img, 12);
  EXPECT_EQ((Seq{root.magic, root.next}), (Seq{588u, 12}));
  EXPECT_EQ(root.entries,
            (decltype(Node::entries){{std::uint32_t(f.x - 4), 16}, {std::uint32_t(f.node), 268}}));
  f.live[k2] = 64;
  for (long p : f.big) f.live[p] = 32;
  EXPECT_TRUE(tiles(img, f.live));
}

TEST(BlockHeapRing, TheRootTakesOverItsSuccessorInALongerRing) {
  TempFile t("ring3");
  auto fm = openRW(t);
  std::map<long, std::uint32_t> live;
  live[fm->allocate(12)] = 16;
  std::vector<long> big, small;
  for (int i = 0; i < 32; ++i) {
    big.push_back(fm->allocate(28));
    live[fm->allocate(12)] = 16;
  }
  for (int i = 0; i < 33; ++i) {
    small.push_back(fm->allocate(12));
    live[fm->allocate(12)] = 16;
  }
  for (long p : big) fm->deallocate(p);
  const long n1 = fm->endData();
  // The first small one opens N1, which takes 31 more; the 33rd walks N1 and the root, both
  // full, and the node allocation then walks the root and N1: N2 follows N1.
  for (long p : small) fm->deallocate(p);
  const long n2 = n1 + 268;
  EXPECT_EQ(fm->endData(), n2 + 268);
  {
    const Heap h = parse(readBytes(t.path));
    ASSERT_EQ(h.ring.size(), 3u);
    EXPECT_EQ((Seq{h.ring[1].at, h.ring[2].at}), (Seq{n1, n2}));
  }
  const long keeper = fm->allocate(200);  // fits nowhere: the walk ends at N1
  live[keeper] = 204;
  for (int i = 0; i < 31; ++i) {
    ASSERT_EQ(fm->allocate(12), small[i]) << i;  // from N1, lowest first
    live[small[i]] = 16;
  }
  for (int i = 0; i < 32; ++i) {
    ASSERT_EQ(fm->allocate(28), big[i]) << i;  // walks N1, N2, then stays on the root
    live[big[i]] = 32;
  }
  // The emptied root took N1's last extent and link; N1's block went into the root.
  const Bytes img = readBytes(t.path);
  const Heap h = parse(img);
  ASSERT_EQ(h.ring.size(), 2u);
  EXPECT_EQ(h.ring[0].next, n2);
  EXPECT_EQ(h.ring[0].entries, (decltype(Node::entries){{std::uint32_t(small[31] - 4), 16},
                                                        {std::uint32_t(n1), 268}}));
  EXPECT_EQ(h.ring[1].entries, (decltype(Node::entries){{std::uint32_t(small[32] - 4), 16}}));
  EXPECT_TRUE(tiles(img, live));
}

// ---- Files that are not what they claim ---------------------------------------------------------

namespace {

// A heap with a start block, a second node and some free extents, as bytes.
Bytes sampleHeap(std::map<long, std::uint32_t>* live = nullptr) {
  RingFixture f(12);
  if (live) *live = f.live;
  f.fm.reset();
  return readBytes(f.t.path);
}

// Opens the image and runs operations that must walk the whole ring: an allocation that fits
// nowhere, and the free of a block that merges with nothing while the root is full. With a
// broken root, a small allocation too. None may write.
void expectRefusedWithoutWriting(const Bytes& img, long lonelyBlock, bool rootBroken,
                                 const char* what) {
  SCOPED_TRACE(what);
  TempFile t("corrupt");
  writeBytes(t.path, img);
  {
    ERFileManager fm(t.c_str(), 0);
    EXPECT_EQ(fm.allocate(100000), -1);
    EXPECT_EQ(fm.allocate(100000), -1);  // again, from wherever the first walk stopped
    fm.deallocate(lonelyBlock);
    if (rootBroken) {
      EXPECT_EQ(fm.allocate(12), -1);
    }
  }
  EXPECT_EQ(readBytes(t.path), img);
}

}  // namespace

TEST(BlockHeapCorrupt, UnrecognisedHeaderGetsNoListManager) {
  Bytes img = sampleHeap();
  put32(img, 8, 269);
  TempFile t("corrupt");
  writeBytes(t.path, img);
  {
    ERFileManager fm(t.c_str(), 0);
    EXPECT_EQ((Seq{fm.listManager(), fm.start(), fm.allocate(4)}), (Seq{nullptr, i32(img, 0), -1}));
    fm.deallocate(fm.start() + 16);
  }
  EXPECT_EQ(readBytes(t.path), img);

  writeBytes(t.path, Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x18, 0x01});  // shorter than a header
  {
    ERFileManager fm(t.c_str(), 0);
    EXPECT_EQ((Seq{fm.listManager(), fm.start(), fm.endData(), fm.allocate(4)}),
              (Seq{nullptr, -1, -1, -1}));
  }
  EXPECT_EQ(readBytes(t.path).size(), 6u);
}

TEST(BlockHeapCorrupt, BadMagicIsReportedAndTheSoundNodeIsUsed) {
  std::map<long, std::uint32_t> live;
  Bytes img = sampleHeap(&live);
  img[12] = 0x4D;
  TempFile t("corrupt");
  writeBytes(t.path, img);
  qorv::platform::DebugCapture capture;
  ERFileManager fm(t.c_str(), 0);
  EXPECT_EQ(capture.text(), "BAD MAGIC NUMBER");
  const Node root = nodeAt(img, 12);
  EXPECT_EQ(fm.allocate(28), static_cast<long>(root.entries[0].first) + 4);
}

TEST(BlockHeapCorrupt, BrokenFieldsStopTheWalkWithoutWriting) {
  std::map<long, std::uint32_t> live;
  const Bytes good = sampleHeap(&live);
  const Heap h = parse(good);
  ASSERT_EQ(h.ring.size(), 2u);
  const std::size_t n = static_cast<std::size_t>(h.ring[1].at);
  const long lonely = live.rbegin()->first;  // after X, before N: only N could take it
  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    bool rootBroken;
    long freed = 0;  // 0: the lonely block; -1: none (N is sound and would take it)
  };
  const Case cases[] = {
      {"root count 33", 12 + 260, 33, true},
      {"root count negative", 12 + 260, 0xFFFFFFFFu, true},
      {"root next past the end", 12 + 264, 0x7FFFFFF0u, true},
      {"root next inside the header", 12 + 264, 100, true},
      {"root next misaligned", 12 + 264, static_cast<std::uint32_t>(n + 2), true},
      {"extent past endData", 12 + 4 + 31 * 4, 0x10000000u, true},
      {"extent inside the header", 12 + 4, 16, true},
      {"extent size zero", 12 + 132, 0, true},
      {"extents out of order", 12 + 4 + 4, 296, true},
      {"endData below the first block", 4, 200, true},
      {"endData negative", 4, 0xFFFFFFFFu, true},
      {"node next to itself", n + 264, static_cast<std::uint32_t>(n), false},
      {"node next into a block", n + 264, static_cast<std::uint32_t>(lonely - 4), false, -1},
      {"node count 40", n + 260, 40, false},
      {"extent over the node itself", n + 4, static_cast<std::uint32_t>(n), false},
  };
  for (const Case& c : cases) {
    Bytes img = good;
    put32(img, c.at, c.value);
    expectRefusedWithoutWriting(img, c.freed == 0 ? lonely : -1, c.rootBroken, c.what);
  }
}

TEST(BlockHeapCorrupt, CyclesThatMissTheRootEnd) {
  // root -> A -> B -> A: two nodes that each hold a small extent, in spare blocks.
  TempFile t("cycle");
  long a = 0, b = 0;
  {
    ERFileManager fm(t.c_str(), 0);
    fm.allocate(12);
    a = fm.allocate(264) - 4;
    b = fm.allocate(264) - 4;
    fm.allocate(12);
  }
  Bytes img = readBytes(t.path);
  for (long at : {a, b}) {
    std::fill(img.begin() + at, img.begin() + at + 268, 0);
    img[at] = 0x4C;
    img[at + 1] = 0x02;
  }
  put32(img, 12 + 264, static_cast<std::uint32_t>(a));
  put32(img, a + 264, static_cast<std::uint32_t>(b));
  put32(img, b + 264, static_cast<std::uint32_t>(a));
  TempFile c("cycle");
  writeBytes(c.path, img);
  {
    ERFileManager fm(c.c_str(), 0);
    EXPECT_EQ(fm.allocate(100000), -1);
    EXPECT_EQ(fm.allocate(100000), -1);  // the walk starts from the root again
  }
  EXPECT_EQ(readBytes(c.path), img);
}

TEST(BlockHeapCorrupt, BogusFreesAreIgnored) {
  std::map<long, std::uint32_t> live;
  const Bytes good = sampleHeap(&live);
  TempFile t("corrupt");
  writeBytes(t.path, good);
  const long someLive = std::next(live.begin(), 3)->first;
  {
    ERFileManager fm(t.c_str(), 0);
    for (long p : {0L, 4L, 283L, 285L, 0x7FFFFFF0L, 1L << 40, long(fm.endData()),
                   long(fm.endData()) + 64, someLive + 4})
      fm.deallocate(p);
  }
  EXPECT_EQ(readBytes(t.path), good);

  // A size word that runs past endData, or is not a size at all.
  for (std::uint32_t word : {0u, 2u, 7u, 0x80000000u, 0xFFFFFFFCu}) {
    Bytes img = good;
    put32(img, someLive - 4, word);
    writeBytes(t.path, img);
    { ERFileManager(t.c_str(), 0).deallocate(someLive); }
    EXPECT_EQ(readBytes(t.path), img) << word;
  }

  // Freeing a block twice leaves one extent.
  writeBytes(t.path, good);
  {
    ERFileManager fm(t.c_str(), 0);
    fm.allocate(28);  // makes room in the root
    fm.deallocate(someLive);
    const Bytes once = readBytes(t.path);
    fm.deallocate(someLive);
    EXPECT_EQ(readBytes(t.path), once);
  }
}

TEST(BlockHeapCorrupt, RandomDamageNeverHangsNorWritesOutsideUsedSpace) {
  const Bytes good = sampleHeap();
  QORV_SEEDED(std::mt19937 rng, 20240611u);
  TempFile t("fuzz");
  for (int round = 0; round < 300; ++round) {
    Bytes img = good;
    const Heap h = parse(good);
    const long hot[] = {0, 12, h.ring[1].at};
    for (int k = 0, n = 1 + rng() % 6; k < n; ++k) {
      const long base = hot[rng() % 3];
      const std::size_t at = base + rng() % (base == 0 ? 12 : 268);
      img[at] = static_cast<unsigned char>(rng());
    }
    writeBytes(t.path, img);
    // The file may grow only to where endData once reached (a freed last block leaves its
    // size word behind).
    long limit = static_cast<long>(img.size());
    try {
      ERFileManager fm(t.c_str(), 0);
      limit = std::max<long>(limit, fm.endData());
      for (int op = 0; op < 20; ++op) {
        if (rng() % 2) {
          fm.allocate(rng() % 300);
        } else {
          fm.deallocate(300 + 4 * static_cast<long>(rng() % 1000));
        }
        limit = std::max<long>(limit, fm.endData());
      }
    } catch (CFileException& e) {
      ADD_FAILURE() << "round " << round << ": " << e.describe();
    }
    EXPECT_LE(static_cast<long>(std::filesystem::file_size(t.path)), limit) << "round " << round;
  }
}

// ---- Read-only managers
// --------------------------------------------------------------------------

TEST(BlockHeapReadOnly, LeavesTheFileUnchangedAndRefusesWrites) {
  const Bytes good = sampleHeap();
  TempFile t("ro");
  writeBytes(t.path, good);
  ERFileManager fm(t.c_str(), 1);
  EXPECT_EQ(fm.start(), i32(good, 0));
  EXPECT_EQ(causeOf<CFileException>([&] { fm.allocate(12); }), CFileException::accessDenied);
  EXPECT_EQ(readBytes(t.path), good);
}

TEST(BlockHeapReadOnly, AMissingFileIsRefusedAndNotLeftBehind) {
  TempFile t("ro");
  EXPECT_EQ(causeOf<CFileException>([&] { ERFileManager fm(t.c_str(), 1); }),
            CFileException::accessDenied);
  EXPECT_FALSE(ERFile::Exists(t.c_str()));
}

// ---- Other processes and failing writes
// ------------------------------------------------------------

TEST(BlockHeapProcesses, ASecondWriterIsRefusedAndReadersComeInWhileOneWrites) {
  TempFile t("share");
  { ERFileManager fm(t.c_str(), 0); }
  int ready[2], done[2];
  ASSERT_EQ((Seq{pipe(ready), pipe(done)}), (Seq{0, 0}));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int status = 0;
    try {
      ERFileManager fm(t.c_str(), 0);
      char c = 1;
      if (write(ready[1], &c, 1) != 1 || read(done[0], &c, 1) != 1) status = 2;
    } catch (CFileException& e) {
      status = 3;
    }
    _exit(status);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(causeOf<CFileException>([&] { ERFileManager fm(t.c_str(), 0); }),
            CFileException::sharingViolation);
  {
    ERFileManager reader(t.c_str(), 1);
    EXPECT_EQ(reader.endData(), 280);
  }
  ASSERT_EQ(write(done[1], &c, 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  ERFileManager fm(t.c_str(), 0);  // free again
  EXPECT_EQ(fm.endData(), 280);
}

TEST(BlockHeapProcesses, AFileSizeLimitRaisesDiskFullAndLeavesAConsistentHeap) {
  TempFile t("limit");
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(out[0]);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit lim{6000, 6000};
    setrlimit(RLIMIT_FSIZE, &lim);
    int cause = 0;
    std::vector<long> blocks;
    try {
      ERFileManager fm(t.c_str(), 0);
      const std::vector<char> payload(60, 'p');
      for (int i = 0; i < 1000; ++i) {
        const long p = fm.allocate(60);
        blocks.push_back(p);
        fm.SeekTo(p);
        fm.Write(payload.data(), 60);
      }
    } catch (CFileException& e) {
      cause = e.m_cause;
    }
    // Under the limit the heap still works: free every other block; a node that cannot be
    // placed makes that one free fail, and the block stays allocated.
    int freeCause = 0;
    try {
      ERFileManager fm(t.c_str(), 0);
      for (std::size_t i = 1; i < blocks.size(); i += 2) {
        fm.deallocate(blocks[i]);
        blocks[i] = 0;
      }
    } catch (CFileException& e) {
      freeCause = e.m_cause;
    }
    for (long p : blocks)
      if (p != 0 && write(out[1], &p, sizeof p) != sizeof p) _exit(90);
    _exit(cause == CFileException::diskFull && freeCause == CFileException::diskFull ? 0
                                                                                     : 10 + cause);
  }
  close(out[1]);
  std::map<long, std::uint32_t> live;
  long p;
  while (read(out[0], &p, sizeof p) == sizeof p) live[p] = 64;
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_GT(live.size(), 40u);
  EXPECT_TRUE(tiles(readBytes(t.path), live));
}

// ---- A long random run against an independent reading of the file -------------------------------

TEST(BlockHeapModel, RandomRunKeepsTheHeapTiledAndReusesFreeSpace) {
  QORV_SEEDED(std::mt19937 rng, 1234567u);
  TempFile t("model");
  auto fm = openRW(t);
  std::map<long, std::uint32_t> live;  // payload -> need
  std::map<long, unsigned char> fill;  // payload -> byte written over the payload
  const long start = fm->allocate(20);
  live[start] = needOf(20);

  auto writePayload = [&](long p, std::uint32_t need, unsigned char v) {
    const std::vector<unsigned char> bytes(need - 4, v);
    fm->SeekTo(p);
    fm->Write(bytes.data(), static_cast<unsigned>(bytes.size()));
    fill[p] = v;
  };
  auto checkPayloads = [&](const Bytes& img) {
    for (const auto& [q, v] : fill) {
      const std::uint32_t n = live.at(q) - 4;
      for (std::uint32_t k = 0; k < n; ++k)
        if (img[q + k] != v) return ::testing::AssertionFailure() << "payload at " << q;
    }
    return ::testing::AssertionSuccess();
  };

  std::set<long> slivers;
  int fromEnd = 0, reused = 0, nodesSeen = 1;
  Bytes before = readBytes(t.path);
  Heap h = parse(before);
  for (int op = 0; op < 6000; ++op) {
    // Growing and draining phases, so nodes fill, empty and hand the root over.
    const unsigned allocPercent = (op / 750) % 2 == 0 ? 65 : 38;
    if (live.size() < 2 || rng() % 100 < allocPercent) {
      // Mostly small; some larger than a node; some tiny, which use up the slivers.
      const unsigned kind = rng() % 10;
      const std::uint32_t size = kind == 0   ? 260 + rng() % 400
                                 : kind == 1 ? rng() % 5
                                             : rng() % 120;
      const std::uint32_t need = needOf(size);
      const long p = fm->allocate(size);
      ASSERT_GE(p, 284);
      ASSERT_EQ(fm->CurOffset(), p);
      std::uint32_t got = 0;
      std::ifstream(t.path, std::ios::binary).seekg(p - 4).read(reinterpret_cast<char*>(&got), 4);
      ASSERT_TRUE(got == need || (got > need && got - need < 8)) << "op " << op;
      if (p - 4 == h.endData) {
        ++fromEnd;
        for (const Node& n : h.ring)
          for (const auto& e : n.entries)
            ASSERT_LT(e.second, need) << "op " << op << ": a free extent fit, the end was cut";
      } else {
        ++reused;
        // Cut from the front of a free extent, or the whole extent when less than 8 would stay.
        bool fromExtent = false;
        for (const Node& n : h.ring)
          for (const auto& e : n.entries)
            if (e.first == p - 4) fromExtent = e.second - need >= 8 ? got == need : got == e.second;
        ASSERT_TRUE(fromExtent) << "op " << op << ": block " << p << " was not a free extent";
      }
      live[p] = got;
      writePayload(p, got, static_cast<unsigned char>(rng()));
    } else {
      auto it = std::next(live.begin(), rng() % live.size());
      if (it->first == start) continue;
      const long p = it->first;
      const std::uint32_t size = it->second;
      live.erase(it);
      fill.erase(p);
      fm->deallocate(p);
      const long end = fm->endData();
      if (p - 4 + static_cast<long>(size) == h.endData) {
        ASSERT_EQ(end, p - 4) << "op " << op;
      } else if (end != h.endData) {
        // Only a node for an extent that no node could take may grow the heap.
        ASSERT_EQ(end, h.endData + 268) << "op " << op;
        const Heap grown = parse(readBytes(t.path));
        ASSERT_EQ(grown.ring.size(), h.ring.size() + 1) << "op " << op;
      }
    }
    before = readBytes(t.path);
    const Bytes& after = before;
    Heap next = parse(after);
    for (const Node& n : next.ring) {
      const bool isNew =
          std::none_of(h.ring.begin(), h.ring.end(), [&](const Node& m) { return m.at == n.at; });
      for (const Node& m : h.ring)
        for (const auto& e : m.entries)
          if (isNew && e.first == n.at && e.second == 272) slivers.insert(n.at + 268);
    }
    ASSERT_TRUE(tiles(after, live, slivers, &next)) << "op " << op;
    nodesSeen = std::max<int>(nodesSeen, static_cast<int>(next.ring.size()));
    h = std::move(next);
    if (op % 400 == 0) {
      ASSERT_TRUE(checkPayloads(after)) << "op " << op;
    }
    if (op % 1000 == 999) {
      // Reopening neither changes the file nor loses anything.
      fm.reset();
      ASSERT_EQ(readBytes(t.path), after);
      fm = openRW(t);
      ASSERT_EQ(fm->start(), start);
      ASSERT_EQ(fm->endData(), i32(after, 4));
    }
  }
  EXPECT_TRUE(checkPayloads(readBytes(t.path)));
  EXPECT_GT(reused, fromEnd);
  EXPECT_GT(nodesSeen, 1) << "the run never needed a second node";
  std::cout << "[ model ] reused " << reused << ", cut from end " << fromEnd << ", nodes up to "
            << nodesSeen << ", slivers " << slivers.size() << "\n";
}

// The free extents' index against an ordered map: random inserts (overlapping ones refused),
// erasures, cuts and look-ups, in dense clusters and across gaps of up to a gigabyte, so that
// neighbours are sought within a bucket, in the next one and past thousands of empty ones.
TEST(BlockHeapModel, TheExtentIndexAnswersAsAnOrderedMap) {
  QORV_SEEDED(std::mt19937 rng, 20261208u);
  qorv::detail::ExtentIndex index;
  std::map<std::uint32_t, std::pair<std::uint32_t, std::int32_t>> model;  // offset: size, owner
  auto draw = [&]() -> std::uint32_t {
    const std::uint32_t base = rng() % 3 == 0 ? 0 : std::uint32_t(rng() % 4) << 28;
    return base + 4 * std::uint32_t(rng() % (rng() % 2 ? 2000 : 1u << 22));
  };
  auto overlaps = [&](std::uint32_t o, std::uint32_t size) {
    auto it = model.lower_bound(o);
    if (it != model.end() && std::int64_t(it->first) < std::int64_t(o) + size) return true;
    return it != model.begin() &&
           std::int64_t(std::prev(it)->first) + std::prev(it)->second.first > o;
  };
  std::vector<std::uint32_t> known;  // offsets inserted, some since erased or moved
  for (int op = 0; op < 60000; ++op) {
    const std::uint32_t o = rng() % 3 == 0 && !known.empty() ? known[rng() % known.size()] : draw();
    const auto it = model.find(o);
    const std::int32_t owner = std::int32_t(12 + 4 * (rng() % 8));
    switch (rng() % 4) {
      case 0:
      case 1: {
        const std::uint32_t size = 4 * (1 + rng() % 40);
        const bool fits = !overlaps(o, size);
        ASSERT_EQ(index.insert(o, size, owner), fits) << "op " << op << ", seed " << seed;
        if (fits) model[o] = {size, owner}, known.push_back(o);
        break;
      }
      case 2: {
        const bool mine = it != model.end() && it->second.second == owner;
        ASSERT_EQ(index.erase(o, owner), mine) << "op " << op << ", seed " << seed;
        if (mine) model.erase(it);
        break;
      }
      default: {  // cut from the front, perhaps into a later bucket
        if (it == model.end()) break;
        const std::uint32_t cut = 4 * (rng() % (it->second.first / 4));
        const std::uint32_t to = o + cut, size = it->second.first - cut;
        const std::int32_t kept = it->second.second;
        ASSERT_TRUE(index.shrink(o, to, size, kept)) << "op " << op << ", seed " << seed;
        model.erase(it);
        model[to] = {size, kept};
        known.push_back(to);
        break;
      }
    }
    // Look-ups at a random offset: the entry there, the next one and the one before.
    const std::uint32_t q = rng() % 2 && !known.empty() ? known[rng() % known.size()] : draw();
    ASSERT_EQ(index.find(q) != nullptr, model.count(q) == 1) << "op " << op << ", seed " << seed;
    auto pos = index.lowerBound(q);
    const auto next = model.lower_bound(q);
    const auto* n = index.at(pos);
    ASSERT_EQ(n ? n->offset : 0u, next != model.end() ? next->first : 0u) << "op " << op;
    const auto* b = index.before(pos);
    ASSERT_EQ(b ? b->offset : 1u, next != model.begin() ? std::prev(next)->first : 1u)
        << "op " << op << ", seed " << seed;
  }
  EXPECT_GT(model.size(), 1000u);
}

// The index of the ring names the node the walk would stop at: with it and without it, the same
// operations must leave the same bytes. Many nodes, most with room, and allocations that most
// nodes could take while those just past the current one cannot (what walks are slow at).
TEST(BlockHeapModel, TheRingIndexWritesWhatTheWalkWrites) {
  QORV_SEEDED(std::mt19937 rng, 20261207u);
  TempFile ta("indexed"), tb("walked");
  auto a = openRW(ta);
  auto b = openRW(tb);
  struct Walked {
    Walked() { ERListManager::setIndexed(false); }
    ~Walked() { ERListManager::setIndexed(true); }
  };
  auto allocate = [&](std::uint32_t size) {
    const long p = a->allocate(size);
    Walked w;
    EXPECT_EQ(b->allocate(size), p);
    return p;
  };
  auto deallocate = [&](long p) {
    a->deallocate(p);
    Walked w;
    b->deallocate(p);
  };
  std::vector<long> live;
  auto freeSome = [&](unsigned percent) {
    std::vector<long> kept;
    for (long p : live) {
      if (rng() % 100 < percent) {
        deallocate(p);
      } else {
        kept.push_back(p);
      }
    }
    live = std::move(kept);
  };
  const std::uint32_t sizes[] = {32, 32, 32, 4, 200, 300};
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 6000; ++i) live.push_back(allocate(sizes[rng() % 6]));
    freeSome(60);
    for (int op = 0; op < 8000; ++op) {
      if (live.empty() || rng() % 100 < 55) {
        live.push_back(allocate(rng() % 4 == 0 ? sizes[rng() % 6] : 32));
      } else {
        const std::size_t k = rng() % live.size();
        deallocate(live[k]);
        live[k] = live.back();
        live.pop_back();
      }
    }
    ASSERT_EQ(readBytes(ta.path), readBytes(tb.path)) << "round " << round << ", seed " << seed;
    // Reopened: the index is built again from a fresh cache.
    a.reset();
    b.reset();
    a = openRW(ta);
    b = openRW(tb);
  }
}
