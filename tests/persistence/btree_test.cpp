// The disk B-tree: node and info byte images of small trees, the key modes, the node cache's
// eviction order, seeded model runs against std::map checked through an independent reading
// of the file after every batch (and after reopening), and corrupt or read-only files that
// must be refused without a single byte written.
#include "qorv/persistence/btree.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/in_order.h"
#include "tests/persistence/test_files.h"

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::TempFile, qorv_test::writeBytes;

namespace {

// ---- An independent reader of the tree format -------------------------------------------------

using qorv_test::i32, qorv_test::put32, qorv_test::u32;

struct Info {
  std::int32_t root;
  std::uint32_t magic, entries, keyLength, order, minimum, flags;
};

Info infoAt(const Bytes& b, long base) {
  return {i32(b, base),      u32(b, base + 8),  u32(b, base + 12), u32(b, base + 16),
          u32(b, base + 20), u32(b, base + 24), u32(b, base + 36)};
}

struct NodeView {
  std::int32_t count = 0;
  std::vector<std::int32_t> sons, items;
  std::vector<std::string> keys;
};

NodeView nodeAt(const Bytes& b, long at, unsigned k, unsigned m) {
  NodeView n;
  n.count = i32(b, at);
  for (unsigned i = 0; i <= 2 * m; ++i) n.sons.push_back(i32(b, at + 4 + 4 * i));
  for (unsigned i = 0; i < 2 * m; ++i) n.items.push_back(i32(b, at + 8 * m + 8 + 4 * i));
  for (unsigned i = 0; i < 2 * m; ++i) {
    const std::size_t from = at + 16 * m + 8 + std::size_t(i) * k;
    n.keys.emplace_back(reinterpret_cast<const char*>(b.data() + from), k);
  }
  return n;
}

// Walks the whole tree from the info block and checks every invariant the format promises;
// returns the entries in traversal order, or fails the test.
class TreeChecker {
 public:
  TreeChecker(const Bytes& bytes, long base) : b_(bytes), info_(infoAt(bytes, base)) {
    nodeSize_ = 2 * info_.order * (info_.keyLength + 8) + 8;
  }

  std::vector<std::pair<std::string, std::int32_t>> walk() {
    EXPECT_EQ(info_.magic, 1365u);
    out_.clear();
    leafDepth_ = -1;
    if (info_.root != -1) visit(info_.root, 0, true);
    for (std::size_t i = 1; i < out_.size(); ++i)
      EXPECT_LT(compare(out_[i - 1].first, out_[i].first), 0) << "traversal not ascending";
    return out_;
  }
  int depth() const { return leafDepth_ + 1; }

 private:
  int compare(const std::string& a, const std::string& b) const {
    const std::size_t k = info_.keyLength;
    return (info_.flags & 1) ? std::memcmp(a.data(), b.data(), k)
                             : std::strncmp(a.data(), b.data(), k);
  }

  void visit(long at, int depth, bool isRoot) {
    ASSERT_GE(at, 284);
    ASSERT_LE(at + nodeSize_, b_.size());
    const std::uint32_t need = (nodeSize_ + 7) & ~3u;
    const std::uint32_t size = u32(b_, at - 4);
    EXPECT_TRUE(size == need || size == need + 4) << "block size at " << at;
    const unsigned m = info_.order;
    const NodeView n = nodeAt(b_, at, info_.keyLength, m);
    ASSERT_LE(n.count, static_cast<std::int32_t>(2 * m)) << at;
    if (isRoot) {
      EXPECT_GE(n.count, 1) << "an empty root is never left behind";
    } else {
      EXPECT_GE(n.count, static_cast<std::int32_t>(info_.minimum)) << "underfull node " << at;
    }
    // Canonical slots: zero past count, sons -1 past count + 1.
    for (int i = n.count; i < static_cast<int>(2 * m); ++i)
      EXPECT_EQ((Seq{n.items[i], n.keys[i]}), (Seq{0, std::string(info_.keyLength, '\0')})) << at;
    for (int i = n.count + 1; i <= static_cast<int>(2 * m); ++i) EXPECT_EQ(n.sons[i], -1) << at;
    const bool leaf = n.sons[0] == -1;
    if (leaf) {
      if (leafDepth_ == -1) leafDepth_ = depth;
      EXPECT_EQ(depth, leafDepth_) << "leaves at different depths";
    }
    for (int i = 0; i <= n.count; ++i) {
      if (leaf) {
        EXPECT_EQ(n.sons[i], -1);
      } else {
        ASSERT_NE(n.sons[i], -1);
        ASSERT_TRUE(visitedOnce(n.sons[i])) << "node met twice";
        visit(n.sons[i], depth + 1, false);
      }
      if (i < n.count) out_.emplace_back(n.keys[i], n.items[i]);
    }
  }
  bool visitedOnce(long at) { return visited_.insert(at).second; }

  const Bytes& b_;
  Info info_;
  std::size_t nodeSize_;
  std::vector<std::pair<std::string, std::int32_t>> out_;
  std::set<long> visited_;
  int leafDepth_ = -1;
};

// ---- Helpers -----------------------------------------------------------------------------------

std::string rawKey(std::int32_t v) {
  std::string k(4, '\0');
  std::memcpy(k.data(), &v, 4);
  return k;
}

std::vector<std::pair<std::string, std::int32_t>> collect(ERBTreeOnDisk& tree, int flag = 1) {
  struct Out {
    std::vector<std::pair<std::string, std::int32_t>> entries;
    std::size_t k;
  } out{{}, tree.keyLength()};
  EXPECT_EQ(tree.applyToKeyAndValue(
                [](char* key, long value, void* data) {
                  auto* o = static_cast<Out*>(data);
                  o->entries.emplace_back(std::string(key, o->k), static_cast<std::int32_t>(value));
                },
                &out, flag),
            1);
  return out.entries;
}

struct Opened {
  Opened(const char* path, unsigned cache, int mode, unsigned k, int raw, long base, unsigned m,
         unsigned min, int readOnly = 0)
      : fm(std::make_unique<ERFileManager>(path, readOnly)),
        tree(std::make_unique<ERBTreeOnDisk>(fm.get(), cache, mode, k, raw, base, m, min)) {}
  ~Opened() {
    tree.reset();
    fm.reset();
  }
  std::unique_ptr<ERFileManager> fm;
  std::unique_ptr<ERBTreeOnDisk> tree;
};

// ---- Byte images ------------------------------------------------------------------------------

TEST(BTreeImages, SmallTreeNodesInfoAndRootChanges) {
  TempFile tmp("btree_images");
  const long base = 284;
  {
    Opened o(tmp.c_str(), 10, ERBTreeOnDisk::createMode, 4, 1, -1, 2, 5);
    ERBTreeOnDisk& t = *o.tree;
    ASSERT_EQ(t.baseLocation(), base);
    EXPECT_EQ(o.fm->start(), base);  // the file's first block
    EXPECT_EQ(t.minimumFill(), 2u);  // min(5, M)
    EXPECT_EQ(t.nodeSize(), 56u);
    Bytes b = readBytes(tmp.path);
    const Bytes info = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x55, 0x05, 0, 0, 0, 0,
                        0,    0,    4,    0,    0,    0,    2,    0,    0,    0,    2, 0, 0, 0,
                        0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0,    0,    1,    0,    0, 0};
    EXPECT_EQ((Seq{Bytes(b.begin() + base, b.begin() + base + 40), u32(b, 280)}), (Seq{info, 44u}));

    for (std::int32_t k = 1; k <= 4; ++k)
      ASSERT_EQ(t.insertKeyAndValue(rawKey(k).data(), 100 + k), 1);
    b = readBytes(tmp.path);
    EXPECT_EQ(infoAt(b, base).root, 328);  // the first insertion made a root and said so
    EXPECT_EQ(u32(b, 324), 60u);

    ASSERT_EQ(t.insertKeyAndValue(rawKey(5).data(), 105), 1);  // splits the root
    b = readBytes(tmp.path);
    EXPECT_EQ(infoAt(b, base).root, 448);
    auto node = [&](std::int32_t count, std::vector<std::int32_t> sons,
                    std::vector<std::int32_t> items, std::vector<std::int32_t> keys) {
      Bytes n(56, 0);
      put32(n, 0, count);
      for (int i = 0; i < 5; ++i) put32(n, 4 + 4 * i, i < int(sons.size()) ? sons[i] : -1);
      for (int i = 0; i < int(items.size()); ++i) put32(n, 24 + 4 * i, items[i]);
      for (int i = 0; i < int(keys.size()); ++i) put32(n, 40 + 4 * i, keys[i]);
      return n;
    };
    auto image = [&](long at) { return Bytes(b.begin() + at, b.begin() + at + 56); };
    EXPECT_EQ((Seq{image(328), image(388), image(448), b.size()}),
              (Seq{node(2, {}, {101, 102}, {1, 2}), node(2, {}, {104, 105}, {4, 5}),
                   node(1, {328, 388}, {103}, {3}), 504u}));

    // Removing 1 leaves [2] under the minimum; the sibling has no key to spare, so the two
    // leaves and the separator merge and the empty root gives way to the merged node.
    t.remove(rawKey(1).data());
    b = readBytes(tmp.path);
    EXPECT_EQ(infoAt(b, base).root, 328);
    EXPECT_EQ(image(328), node(4, {}, {102, 103, 104, 105}, {2, 3, 4, 5}));
    EXPECT_EQ(o.fm->endData(), 444);  // the root's block was last in the file
    EXPECT_EQ(t.entries(), 4);
  }
  const Bytes b = readBytes(tmp.path);
  EXPECT_EQ(infoAt(b, base).entries, 4u);  // the destructor brings the count to the file
}

TEST(BTreeImages, SplitsAtEveryInsertionPositionKeepOrder) {
  // For each place a key can land in a full node, a split keeps all keys, in order, with
  // M keys on each side of the separator.
  for (int landing = 0; landing <= 6; ++landing) {
    TempFile tmp("btree_split");
    Opened o(tmp.c_str(), 10, ERBTreeOnDisk::createMode, 4, 1, -1, 3, 3);
    std::vector<std::int32_t> keys;
    for (int i = 0; i < 6; ++i) keys.push_back(10 * (i + 1));
    for (const std::int32_t k : keys) ASSERT_EQ(o.tree->insertKeyAndValue(rawKey(k).data(), k), 1);
    const std::int32_t extra = 10 * landing + 5;
    ASSERT_EQ(o.tree->insertKeyAndValue(rawKey(extra).data(), extra), 1);
    const Bytes b = readBytes(tmp.path);
    TreeChecker check(b, o.tree->baseLocation());
    const auto got = check.walk();
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(check.depth(), 2);
    const NodeView root = nodeAt(b, o.tree->rootOffset(), 4, 3);
    EXPECT_EQ(root.count, 1);
    EXPECT_EQ(nodeAt(b, root.sons[0], 4, 3).count, 3) << landing;
    EXPECT_EQ(nodeAt(b, root.sons[1], 4, 3).count, 3) << landing;
    for (const auto& [key, value] : got) EXPECT_EQ(key, rawKey(value));
  }
}

// ---- Key modes ----------------------------------------------------------------------------------

TEST(BTreeKeys, StringModePadsAndCutsAtTheKeyLength) {
  TempFile tmp("btree_strings");
  Opened o(tmp.c_str(), 10, ERBTreeOnDisk::createMode, 8, 0, -1, 2, 2);
  ERBTreeOnDisk& t = *o.tree;
  EXPECT_EQ(t.insertKeyAndValue("ab", 1), 1);
  EXPECT_EQ(t.insertKeyAndValue("ab\0\0xyz", 2), 0);  // the same key, zero-padded
  EXPECT_EQ(t.findValue("ab\0junk"), 1);
  EXPECT_EQ(t.insertKeyAndValue("abcdefgh", 3), 1);    // exactly K: not terminated
  EXPECT_EQ(t.insertKeyAndValue("abcdefghij", 4), 0);  // cut to K: the same key
  EXPECT_EQ((Seq{t.findValue("abcdefghZZ"), t.entries()}), (Seq{3, 2}));
  ERCString stored;
  EXPECT_EQ(t.findKeyAndValue("abcdefghij", stored), 3);
  EXPECT_EQ((Seq{stored, t.findKeyAndValue("ab", stored), stored}), (Seq{"abcdefgh", 1, "ab"}));
  EXPECT_EQ((Seq{t.findKeyAndValue("zz", stored), stored}), (Seq{-1, ""}));
  const Bytes b = readBytes(tmp.path);
  const NodeView root = nodeAt(b, t.rootOffset(), 8, 2);
  EXPECT_EQ(root.keys[0], std::string("ab\0\0\0\0\0\0", 8));
  EXPECT_EQ((Seq{root.keys[1], t.removeKeyAndValue("abcdefgh-and-more", stored), stored}),
            (Seq{"abcdefgh", 3, "abcdefgh"}));
}

TEST(BTreeKeys, RawModeComparesBytesInMemoryOrder) {
  TempFile tmp("btree_raw");
  Opened o(tmp.c_str(), 10, ERBTreeOnDisk::createMode, 4, 1, -1, 10, 10);
  ERBTreeOnDisk& t = *o.tree;
  ASSERT_EQ(t.insertKeyAndValue(rawKey(1).data(), 11), 1);
  ASSERT_EQ(t.insertKeyAndValue(rawKey(256).data(), 12), 1);
  ASSERT_EQ(t.insertKeyAndValue("ab\0\0", 13), 1);
  ASSERT_EQ(t.insertKeyAndValue("ab\0x", 14), 1);  // differs after the zero: another key
  const auto all = collect(t);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].second, 12);  // 00 01 00 00 before 01 00 00 00
  EXPECT_EQ((Seq{all[1].second, all[2].second, all[3].second}), (Seq{11, 13, 14}));
  ERCString key;
  EXPECT_EQ(t.findKeyAndValue("ab\0x", key), 14);
  EXPECT_EQ(key, "ab");  // cut at the first zero byte
  EXPECT_EQ(t.findKeyAndValue(rawKey(0x44434241).data(), key), -1);
  ASSERT_EQ(t.insertKeyAndValue("ABCD", 15), 1);
  EXPECT_EQ(t.findKeyAndValue("ABCD", key), 15);
  EXPECT_EQ(key, "ABCD");  // no zero byte: all K bytes
}

TEST(BTreeKeys, DuplicatesAbsentKeysAndReplacement) {
  TempFile tmp("btree_basic");
  Opened o(tmp.c_str(), 10, ERBTreeOnDisk::createMode, 4, 1, -1, 2, 2);
  ERBTreeOnDisk& t = *o.tree;
  EXPECT_EQ(t.findValue(rawKey(7).data()), -1);
  long old = 99;
  EXPECT_EQ((Seq{t.replaceValue(rawKey(7).data(), 5, old), old}), (Seq{0, -1}));
  ASSERT_EQ(t.insertKeyAndValue(rawKey(7).data(), 70), 1);
  EXPECT_EQ(t.insertKeyAndValue(rawKey(7).data(), 71), 0);
  EXPECT_EQ((Seq{t.entries(), t.findValue(rawKey(7).data())}), (Seq{1, 70}));
  EXPECT_EQ((Seq{t.replaceValue(rawKey(7).data(), 72, old), old}), (Seq{1, 70}));
  EXPECT_EQ((Seq{t.findValue(rawKey(7).data()), t.contains(rawKey(7).data())}), (Seq{72, 1}));
  EXPECT_EQ(t.contains(rawKey(8).data()), 0);

  // The only key goes: the root block is freed and the tree is empty; it fills again.
  const long root = t.rootOffset();
  t.remove(rawKey(8).data());  // absent: nothing changes
  EXPECT_EQ(t.entries(), 1);
  t.remove(rawKey(7).data());
  EXPECT_EQ((Seq{t.rootOffset(), t.entries()}), (Seq{-1, 0}));
  EXPECT_EQ(infoAt(readBytes(tmp.path), t.baseLocation()).root, -1);
  EXPECT_EQ(o.fm->endData(), root - 4);  // its block was the last one
  ASSERT_EQ(t.insertKeyAndValue(rawKey(9).data(), 90), 1);
  EXPECT_EQ(t.findValue(rawKey(9).data()), 90);
}

TEST(BTreeClear, FreesEveryNodeAndStartsAgain) {
  TempFile tmp("btree_clear");
  Opened o(tmp.c_str(), 10, ERBTreeOnDisk::createMode, 4, 1, -1, 2, 2);
  ERBTreeOnDisk& t = *o.tree;
  for (std::int32_t k = 0; k < 200; ++k) ASSERT_EQ(t.insertKeyAndValue(rawKey(k).data(), k), 1);
  const long end = o.fm->endData();
  ASSERT_EQ(t.clear(), 1);
  EXPECT_EQ((Seq{t.entries(), t.rootOffset()}), (Seq{0, -1}));
  const Info info = infoAt(readBytes(tmp.path), t.baseLocation());
  EXPECT_EQ((Seq{info.root, info.entries}), (Seq{-1, 0u}));
  EXPECT_TRUE(collect(t).empty());
  // The freed blocks are reused: refilling does not grow the file.
  for (std::int32_t k = 0; k < 200; ++k) ASSERT_EQ(t.insertKeyAndValue(rawKey(k).data(), k), 1);
  EXPECT_LE(o.fm->endData(), end);
  EXPECT_EQ(collect(t).size(), 200u);
}

// ---- Node cache -------------------------------------------------------------------------------

TEST(BTreeCache, EvictsTheFirstUnmarkedSlotPastTheHand) {
  qorv::detail::BTreeNodeCache cache(3, 16);
  cache.admit(100)[0] = 1;
  cache.admit(200)[0] = 2;
  cache.admit(300)[0] = 3;
  EXPECT_EQ(cache.offsets(), (std::vector<long>{100, 200, 300}));
  ASSERT_NE(cache.find(100), nullptr);
  EXPECT_EQ(cache.find(100)[0], 1);
  cache.admit(400);  // all marked: one turn clears them, the hand's slot goes
  EXPECT_EQ(cache.offsets(), (std::vector<long>{400, 200, 300}));
  EXPECT_EQ(cache.find(100), nullptr);
  cache.find(200);   // marked again: passed over
  cache.admit(500);  // 300 is the first unmarked slot past the hand
  EXPECT_EQ(cache.offsets(), (std::vector<long>{400, 200, 500}));
  cache.drop(200);  // a freed block: its slot is the next one taken
  cache.admit(600);
  EXPECT_EQ((Seq{cache.offsets(), cache.find(-5), cache.find(long(1) << 40)}),
            (Seq{(std::vector<long>{400, 600, 500}), nullptr, nullptr}));

  qorv::detail::BTreeNodeCache none(0, 16);
  ASSERT_NE(none.admit(1), nullptr);
  EXPECT_EQ((Seq{none.find(1), none.offsets().empty()}), (Seq{nullptr, true}));
}

// A file the page cache cannot hold whole: its nodes go through the bounded node cache.
TEST(BTreeCache, TreeReadsGoThroughABoundedCache) {
  TempFile tmp("btree_cache");
  Opened o(tmp.c_str(), 3, ERBTreeOnDisk::createMode, 4, 1, -1, 2, 2);
  o.fm->setCachePages(16);
  const std::int32_t n = 4000;
  for (std::int32_t k = 0; k < n; ++k)
    ASSERT_EQ(o.tree->insertKeyAndValue(rawKey(k).data(), k), 1);
  ASSERT_GT(o.fm->GetLength(), 16u * ERFileManager::kPageSize);
  for (std::int32_t k = 0; k < n; ++k) EXPECT_EQ(o.tree->findValue(rawKey(k).data()), k);
  EXPECT_EQ(o.tree->cache().offsets().size(), 3u);
}

// ---- Model runs ---------------------------------------------------------------------------------

struct ModelConfig {
  unsigned keyLength, order, minimum, cache;
  int raw;
  int operations;
  int keySpace;
  unsigned seed;
  // A page cache of this many pages (0: the default), and changes in transactions of 50: nodes
  // then come from pages, from the node cache or from the file as pages are dropped.
  unsigned pages = 0;
  bool transactions = false;
};

std::string makeKey(const ModelConfig& c, std::mt19937& rng) {
  if (c.raw) return rawKey(static_cast<std::int32_t>(rng() % c.keySpace));
  // String keys, zero-padded as the tree stores them: mostly 1 to 3 of six letters, and one in
  // ten exactly K characters of two letters (stored without a terminator).
  const bool full = rng() % 10 == 0;
  const int n = full ? static_cast<int>(c.keyLength) : 1 + static_cast<int>(rng() % 3);
  std::string k(c.keyLength, '\0');
  for (int i = 0; i < n; ++i) k[i] = static_cast<char>('a' + rng() % (full ? 2 : 6));
  return k;
}

void runModel(const ModelConfig& c) {
  std::cout << "model seed " << c.seed << " (K " << c.keyLength << ", M " << c.order << ", min "
            << c.minimum << ", cache " << c.cache << ")\n";
  SCOPED_TRACE("seed " + std::to_string(c.seed));
  TempFile tmp("btree_model");
  std::mt19937 rng(c.seed);
  std::map<std::string, std::int32_t> model;
  auto open = [&](long base, int mode) {
    return std::make_unique<Opened>(tmp.c_str(), c.cache, mode, c.keyLength, c.raw, base, c.order,
                                    c.minimum);
  };
  std::unique_ptr<Opened> o = open(-1, ERBTreeOnDisk::createMode);
  if (c.pages) o->fm->setCachePages(c.pages);
  const long base = o->tree->baseLocation();
  const int batch = 1000;
  for (int op = 1; op <= c.operations; ++op) {
    if (c.transactions && op % 50 == 1) o->fm->beginTransaction();
    ERBTreeOnDisk& t = *o->tree;
    const std::string key = makeKey(c, rng);
    const auto it = model.find(key);
    const bool present = it != model.end();
    const int what = static_cast<int>(rng() % 100);
    const std::int32_t value = static_cast<std::int32_t>(rng() % 1000000);
    if (what < 40) {
      ASSERT_EQ(t.insertKeyAndValue(key.data(), value), present ? 0 : 1) << "op " << op;
      if (!present) model[key] = value;
    } else if (what < 70) {
      ERCString removed;
      ASSERT_EQ(t.removeKeyAndValue(key.data(), removed), present ? it->second : -1) << op;
      model.erase(key);
    } else if (what < 85) {
      ASSERT_EQ(t.findValue(key.data()), present ? it->second : -1) << "op " << op;
      ASSERT_EQ(t.contains(key.data()), present ? 1 : 0);
    } else {
      long old = 0;
      ASSERT_EQ(t.replaceValue(key.data(), value, old), present ? 1 : 0) << "op " << op;
      ASSERT_EQ(old, present ? it->second : -1);
      if (present) model[key] = value;
    }
    ASSERT_EQ(t.entries(), static_cast<long>(model.size()));
    if (c.transactions && op % 50 == 0) o->fm->commitTransaction();

    if (op % batch == 0) {
      const Bytes bytes = readBytes(tmp.path);
      TreeChecker check(bytes, base);
      const auto onDisk = check.walk();
      ASSERT_FALSE(testing::Test::HasFailure()) << "after op " << op;
      const std::vector<std::pair<std::string, std::int32_t>> expected(model.begin(), model.end());
      ASSERT_EQ(onDisk, expected) << "after op " << op;
      ASSERT_EQ(collect(t), expected);
    }
    if (op % (5 * batch) == 0) {
      o.reset();  // the destructor writes the info block
      o = open(base, 0);
      if (c.pages) o->fm->setCachePages(c.pages);
      ASSERT_EQ(o->tree->entries(), static_cast<long>(model.size()));
      for (const auto& [k, v] : model) ASSERT_EQ(o->tree->findValue(k.data()), v);
      ASSERT_EQ(infoAt(readBytes(tmp.path), base).entries, model.size());
    }
  }
  // Empty it completely, then the file holds an empty tree.
  std::vector<std::string> keys;
  for (const auto& kv : model) keys.push_back(kv.first);
  std::shuffle(keys.begin(), keys.end(), rng);
  for (const std::string& k : keys) o->tree->remove(k.data());
  EXPECT_EQ((Seq{o->tree->entries(), o->tree->rootOffset()}), (Seq{0, -1}));
}

TEST(BTreeModel, RawKeysSmallOrder) { runModel({4, 2, 2, 10, 1, 40000, 3000, 1001u}); }
TEST(BTreeModel, RawKeysObjectTreeShape) { runModel({4, 10, 10, 1000, 1, 20000, 6000, 1002u}); }
TEST(BTreeModel, StringKeysTinyCache) { runModel({6, 3, 1, 2, 0, 10000, 400, 1003u}); }
TEST(BTreeModel, TwoThreeTreeWithoutCache) { runModel({4, 1, 1, 0, 1, 6000, 500, 1004u}); }
TEST(BTreeModel, ObjectTreeShapeFewPages) {
  runModel({4, 10, 10, 1000, 1, 12000, 6000, 1005u, 16, false});
  runModel({4, 10, 10, 1000, 1, 12000, 6000, 1006u, 16, true});
}

TEST(BTreeModel, MinimumFillZeroStaysConsistent) {
  // With no minimum, nodes may empty out; answers and traversal must still agree with the
  // model (the underfull check does not apply, so only the answers are compared).
  TempFile tmp("btree_min0");
  Opened o(tmp.c_str(), 10, ERBTreeOnDisk::createMode, 4, 1, -1, 2, 0);
  std::mt19937 rng(1005u);
  std::map<std::string, std::int32_t> model;
  for (int op = 0; op < 8000; ++op) {
    const std::string key = rawKey(static_cast<std::int32_t>(rng() % 700));
    if (rng() % 2) {
      const bool fresh = model.emplace(key, op).second;
      ASSERT_EQ(o.tree->insertKeyAndValue(key.data(), op), fresh ? 1 : 0);
    } else {
      o.tree->remove(key.data());
      model.erase(key);
    }
  }
  EXPECT_EQ(collect(*o.tree),
            (std::vector<std::pair<std::string, std::int32_t>>(model.begin(), model.end())));
}

TEST(BTreeTraversal, FlagZeroWritesCallbackChangesBack) {
  TempFile tmp("btree_apply");
  Opened o(tmp.c_str(), 10, ERBTreeOnDisk::createMode, 4, 0, -1, 2, 2);
  const char* names[] = {"ab", "cd", "ef", "gh", "ij", "kl", "mn"};
  for (const char* n : names) ASSERT_EQ(o.tree->insertKeyAndValue(n, 1), 1);
  // Upper-casing keeps the order, so the tree stays sound.
  ASSERT_EQ(o.tree->applyToKeyAndValue(
                [](char* key, long, void*) {
                  for (int i = 0; i < 4 && key[i]; ++i) key[i] = static_cast<char>(key[i] - 32);
                },
                nullptr, 0),
            1);
  const Bytes b = readBytes(tmp.path);
  const auto onDisk = TreeChecker(b, o.tree->baseLocation()).walk();
  ASSERT_EQ(onDisk.size(), 7u);
  EXPECT_EQ((Seq{onDisk.front().first, onDisk.back().first, o.tree->findValue("KL")}),
            (Seq{std::string("AB\0\0", 4), std::string("MN\0\0", 4), 1}));
}

// ---- Corrupt and read-only files --------------------------------------------------------------

// Builds a three-level tree of 4-byte keys 0..n-1 (M = 2), closes it and returns its base.
long buildTree(const TempFile& tmp, int n) {
  Opened o(tmp.c_str(), 10, ERBTreeOnDisk::createMode, 4, 1, -1, 2, 2);
  for (std::int32_t k = 0; k < n; ++k) EXPECT_EQ(o.tree->insertKeyAndValue(rawKey(k).data(), k), 1);
  return o.tree->baseLocation();
}

// Keys lo..hi-1 are routed through a corrupt node (or the whole tree is refused). Looking them
// up gives absent or the right value, never a wrong one; removing them, inserting neighbours
// that would land beside them, replacing absent ones, clearing and walking the tree change
// nothing: the file keeps every byte, including after the tree and the file are closed.
void expectUntouched(const TempFile& tmp, const Bytes& image, long base, int n, int lo, int hi,
                     bool allAbsent) {
  writeBytes(tmp.path, image);
  const Bytes& before = image;
  {
    Opened o(tmp.c_str(), 10, 0, 4, 1, base, 2, 2);
    ERBTreeOnDisk& t = *o.tree;
    for (std::int32_t k = 0; k < n; ++k) {
      const long v = t.findValue(rawKey(k).data());
      EXPECT_TRUE(v == -1 || v == k) << k;
      if (k >= lo && k < hi && allAbsent) {
        EXPECT_EQ(v, -1) << k;
      }
    }
    for (std::int32_t k = lo; k < hi; ++k) {
      long old;
      if (t.findValue(rawKey(k).data()) == -1) {
        EXPECT_EQ(t.replaceValue(rawKey(k).data(), 5, old), 0);
      }
      t.remove(rawKey(k).data());
      // [k, 1, 0, 0] sorts just after key k, so it lands beside it.
      EXPECT_EQ(t.insertKeyAndValue(rawKey(k + 256).data(), k), 0) << k;
    }
    EXPECT_EQ(t.clear(), 0);
    struct Counter {
      static void add(char*, long, void* c) { ++*static_cast<int*>(c); }
    };
    int visited = 0;
    EXPECT_EQ(t.applyToKeyAndValue(&Counter::add, &visited, 0), 0);
    EXPECT_LE(visited, n);
    t.entries();
  }
  EXPECT_EQ(readBytes(tmp.path), before);
}

// The key range (keys[i-1], keys[i]) below son i of the node at `at`, as integers.
std::pair<int, int> rangeOfSon(const Bytes& b, long at, int i, int n) {
  const NodeView v = nodeAt(b, at, 4, 2);
  auto keyAt = [&](int j) {
    std::int32_t k;
    std::memcpy(&k, v.keys[j].data(), 4);
    return k;
  };
  return {i == 0 ? 0 : keyAt(i - 1) + 1, i == v.count ? n : keyAt(i)};
}

// A tree of n keys, its image and root node, for damaging.
struct Damaged {
  explicit Damaged(const char* tag, int keys = 60)
      : tmp(tag),
        n(keys),
        base(buildTree(tmp, n)),
        b(readBytes(tmp.path)),
        root(infoAt(b, base).root),
        r(nodeAt(b, root, 4, 2)) {}
  void expectUntouched(int lo, int hi, bool allAbsent) {
    ::expectUntouched(tmp, b, base, n, lo, hi, allAbsent);
  }
  TempFile tmp;
  int n;
  long base;
  Bytes b;
  long root;
  NodeView r;
};

TEST(BTreeCorrupt, CountAboveTwoM) {
  Damaged d("btree_count");
  const auto [lo, hi] = rangeOfSon(d.b, d.root, 0, d.n);
  put32(d.b, d.r.sons[0], 5);  // a child claims 5 keys in a node of 4
  d.expectUntouched(lo, hi, true);
  put32(d.b, d.root, 0x7FFFFFFF);  // and the root: the whole tree is refused
  d.expectUntouched(0, d.n, true);
}

TEST(BTreeCorrupt, ChildOffsetsOutsideTheFileOrInsideABlock) {
  Damaged d("btree_offsets");
  const auto [lo, hi] = rangeOfSon(d.b, d.root, 1, d.n);
  // sons[1] far past the end, or before the start: the root is refused.
  for (std::uint32_t at : {0x7FFFFFF0u, static_cast<std::uint32_t>(-4)}) {
    put32(d.b, d.root + 4 + 4, at);
    d.expectUntouched(0, d.n, false);
  }
  // A son inside the used space but in the middle of a node block: its size word does not
  // match, so only that subtree is lost.
  put32(d.b, d.root + 4 + 4, d.r.sons[1] + 8);
  d.expectUntouched(lo, hi, true);
}

TEST(BTreeCorrupt, ChildCycles) {
  Damaged d("btree_cycle");
  const NodeView child = nodeAt(d.b, d.r.sons[0], 4, 2);
  ASSERT_NE(child.sons[0], -1) << "needs three levels";
  const auto [lo, hi] = rangeOfSon(d.b, d.root, 0, d.n);
  for (int i = 0; i <= child.count; ++i) put32(d.b, d.r.sons[0] + 4 + 4 * i, d.root);  // a loop
  d.expectUntouched(lo, hi, false);
}

TEST(BTreeCorrupt, InfoBlocks) {
  Damaged d("btree_info", 30);
  // Key length 0 with the right magic, an order no file can hold, a root that is no node block.
  const std::tuple<int, std::uint32_t, std::uint32_t> damages[] = {
      {16, 0, 4}, {20, 0x40000000, 2}, {0, 290, 290}};
  for (const auto& [field, bad, good] : damages) {
    put32(d.b, d.base + field, bad);
    d.expectUntouched(0, 30, true);
    put32(d.b, d.base + field, good);
  }
  {
    // A base location outside the used space is neither read nor written.
    Opened o(d.tmp.c_str(), 10, 0, 4, 1, 0x7FFFFF00, 2, 2);
    EXPECT_TRUE(o.tree->isRefused());
    EXPECT_EQ(o.tree->insertKeyAndValue(rawKey(1).data(), 1), 0);
  }
  EXPECT_EQ(readBytes(d.tmp.path), d.b);
}

TEST(BTreeCorrupt, ForeignInfoStartsEmptyAndWritesOnlyWhenChanged) {
  TempFile tmp("btree_foreign");
  const long base = buildTree(tmp, 10);
  Bytes b = readBytes(tmp.path);
  put32(b, base + 8, 1234);  // not a tree's magic
  writeBytes(tmp.path, b);
  {
    Opened o(tmp.c_str(), 10, 0, 4, 1, base, 2, 2);
    EXPECT_EQ((Seq{o.tree->entries(), o.tree->findValue(rawKey(3).data())}), (Seq{0, -1}));
  }
  EXPECT_EQ(readBytes(tmp.path), b);  // opened and closed unchanged: not a byte written
}

TEST(BTreeCorrupt, RefusedBlockAllocationLeavesTheTreeAsItWas) {
  TempFile tmp("btree_alloc");
  long base;
  {
    Opened o(tmp.c_str(), 10, ERBTreeOnDisk::createMode, 4, 1, -1, 2, 2);
    for (std::int32_t k = 0; k < 4; ++k)
      ASSERT_EQ(o.tree->insertKeyAndValue(rawKey(k).data(), k), 1);
    base = o.tree->baseLocation();
  }
  Bytes b = readBytes(tmp.path);
  put32(b, 8, 999);  // the heap header is not recognised: no block can be allocated
  writeBytes(tmp.path, b);
  {
    Opened o(tmp.c_str(), 10, 0, 4, 1, base, 2, 2);
    EXPECT_EQ(o.tree->insertKeyAndValue(rawKey(9).data(), 9), 0);  // needs a split
    for (std::int32_t k = 0; k < 4; ++k) EXPECT_EQ(o.tree->findValue(rawKey(k).data()), k);
    EXPECT_EQ(o.tree->entries(), 4);
  }
  EXPECT_EQ(readBytes(tmp.path), b);
}

TEST(BTreeReadOnly, AnswersButNeverWrites) {
  TempFile tmp("btree_ro");
  const long base = buildTree(tmp, 40);
  const Bytes before = readBytes(tmp.path);
  {
    Opened o(tmp.c_str(), 10, 0, 4, 1, base, 2, 2, 1);
    ERBTreeOnDisk& t = *o.tree;
    EXPECT_EQ(t.entries(), 40);
    for (std::int32_t k = 0; k < 40; ++k) EXPECT_EQ(t.findValue(rawKey(k).data()), k);
    EXPECT_EQ(t.insertKeyAndValue(rawKey(100).data(), 1), 0);
    t.remove(rawKey(3).data());
    EXPECT_EQ(t.findValue(rawKey(3).data()), 3);
    long old;
    EXPECT_EQ(t.replaceValue(rawKey(3).data(), 7, old), 0);
    EXPECT_EQ((Seq{t.clear(), collect(t, 0).size()}), (Seq{0, 40u}));
  }
  EXPECT_EQ(readBytes(tmp.path), before);
}

TEST(BTreeOpen, StartBlockAndParametersFromTheFile) {
  TempFile tmp("btree_open");
  {
    Opened o(tmp.c_str(), 10, ERBTreeOnDisk::createMode, 60, 0, -1, 10, 10);
    EXPECT_EQ(o.tree->nodeSize(), 1368u);
    ASSERT_EQ(o.tree->insertKeyAndValue("ERSegment2D", 1), 1);
  }
  // Base -1 outside create mode: the tree at the file's start block, with its own parameters.
  Opened o(tmp.c_str(), 10, 0, 4, 1, -1, 3, 1);
  EXPECT_EQ((Seq{o.tree->keyLength(), o.tree->order(), o.tree->ignoreNulls()}), (Seq{60u, 10u, 0}));
  EXPECT_EQ(o.tree->findValue("ERSegment2D"), 1);
  // Create mode always makes a new tree, in a new block.
  ERBTreeOnDisk second(o.fm.get(), 10, ERBTreeOnDisk::createMode, 4, 1, -1, 10, 10);
  EXPECT_NE(second.baseLocation(), o.tree->baseLocation());
  EXPECT_EQ((Seq{second.nodeSize(), second.entries()}), (Seq{248u, 0}));
}

}  // namespace
