// qorv/persistence/btree.h
//
// ERBTreeOnDisk: an ordered index from fixed-length keys to 32-bit values, kept in blocks of an
// ERFileManager; ERDiskTreeNode: the image of one of its nodes. Keys are K bytes, compared as
// zero-padded character strings (strncpy / strncmp over K bytes, so "ab" and "ab\0\0" are one
// key) or, in raw-byte mode (ignoreNulls), as raw bytes (memcpy / memcmp over K bytes, so the
// little-endian integers 256 and 1 compare as 00 01 00 00 < 01 00 00 00).
//
// Info block (40 bytes, a block payload of its own at the tree's base location; little-endian):
//   OFFSET  SIZE  FIELD
//        0     4  int32 root: payload offset of the root node, -1 when the tree is empty
//        4     4  int32 reserved, -1
//        8     4  uint32 magic 1365 (0x555); any other value: the info is not a tree's
//       12     4  uint32 number of entries (brought up to date by the destructor)
//       16     4  uint32 key length K
//       20     4  uint32 order M: a node holds at most 2M keys
//       24     4  uint32 minimum fill: fewest keys of a non-root node, min(requested, M)
//       28     4  int32 reserved, -1
//       32     4  not used (written 0, ignored)
//       36     4  uint32 flags: bit 0 = raw-byte keys
// Node (one block payload of size 2M(K + 8) + 8 per node; its offset is the payload offset):
//        0     4  uint32 count of keys, 0..2M
//        4  4(2M+1)  int32 sons[0..2M]: children, -1 = none; all -1 in a leaf
//    8M+8    4(2M)  int32 items[0..2M-1]: the value of each key
//   16M+8    K(2M)  keys[0..2M-1], K bytes each
// Keys ascend within a node; sons[i] leads to keys below keys[i], sons[i+1] to keys above it.
// This tree writes nodes canonically: key and value slots past count are zero, sons past
// count + 1 are -1 (readers ignore them). M = 10: 1368 bytes with 60-byte keys, 248 with 4.
//
// Invariant a checker can walk: from the root, every node is a block of the node's size inside
// [280, endData), met once, at most 2M keys, every non-root node at least the minimum fill,
// all leaves at one depth, keys ascending in order of traversal.
//
// Bad bytes are checked before they are trusted. A node whose block is not a node-sized block
// of the used space, whose count passes 2M, or whose sons are neither all -1 nor all such
// blocks, a path that meets a node twice or passes the depth bound (64, or fewer when the file
// cannot hold that many nodes) is corrupt. A change first reads and checks every node it will
// touch (the path, the successor's path, and the siblings its repairs will use, decided from
// the counts) and reserves the blocks its splits need; if any of that fails it writes nothing:
// insertion gives 0, removal "absent". Lookups give "absent"; traversals skip what they cannot
// trust and report it. An info block with the right magic but impossible parameters, a base
// location outside the used space, or a root that is not a sound node makes the whole tree refuse
// to change and to write.
//
// Conventions a caller gets wrong:
// - findValue answers -1 for an absent key, which a stored -1 cannot be told from: use
//   contains or replaceValue's result when -1 is a legal value.
// - Values are 32-bit on disk; a long outside that range is cut to its low 32 bits.
// - The entry count reaches the file only when the info block is written: on a root change, on
//   clear and in the destructor.
// - A read-only file manager makes every change a no-op (0 / absent) that writes nothing.
// - One tree serves one thread; a traversal callback must not change the tree it walks.
// - A minimum fill of 0 is stored as given but repaired as 1: a node that would empty out is
//   merged or refilled, since an empty leaf would leave a removal without a successor key.
//
// Node images are read where the file manager's page cache holds them (checked at each read),
// else from a cache of N node slots (clock eviction, below) that keeps the nodes of pages the
// page cache may drop; a miss in both reads the file and fills a slot. Writes go to the file
// manager at once and to the slot of the node, if it has one. A node is thus kept in memory
// once, not twice: each visit of a large tree costs one cache miss of the processor per level.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "qorv/persistence/file_manager.h"
#include "qorv/support/cstring.h"

class ERBTreeOnDisk;

// The info block, in memory exactly as on disk (the host is little-endian).
struct ERBTreeInfo {
  static constexpr std::uint32_t kMagic = 1365;
  static constexpr std::uint32_t kRawKeys = 1;

  std::int32_t root = -1;
  std::int32_t reserved0 = -1;
  std::uint32_t magic = kMagic;
  std::uint32_t entries = 0;
  std::uint32_t keyLength = 0;
  std::uint32_t order = 0;
  std::uint32_t minimum = 0;
  std::int32_t reserved1 = -1;
  std::uint32_t unused = 0;
  std::uint32_t flags = 0;
};
static_assert(sizeof(ERBTreeInfo) == 40, "the info image is its disk image");

class QORV_API ERDiskTreeNode {
 public:
  // A fresh node: count 0, every son -1, every slot zero.
  explicit ERDiskTreeNode(const ERBTreeOnDisk& tree);
  // A node whose bytes are left unset, for one that is read at once.
  struct Unset {};
  ERDiskTreeNode(const ERBTreeOnDisk& tree, Unset);
  // A one-key node: the key (copied as the tree copies keys) and its value, no sons.
  ERDiskTreeNode(const ERBTreeOnDisk& tree, const char* key, long value);
  ERDiskTreeNode(const ERDiskTreeNode& other);
  ERDiskTreeNode(ERDiskTreeNode&& other) noexcept;
  ERDiskTreeNode& operator=(const ERDiskTreeNode& other);
  ERDiskTreeNode& operator=(ERDiskTreeNode&& other) noexcept;
  ~ERDiskTreeNode() = default;

  std::int32_t counter() const { return words_[0]; }
  std::int32_t& counter() { return words_[0]; }
  std::int32_t sons(int i) const { return words_[1 + i]; }
  std::int32_t& sons(int i) { return words_[1 + i]; }
  std::int32_t items(int i) const { return words_[2 * order_ + 2 + i]; }
  std::int32_t& items(int i) { return words_[2 * order_ + 2 + i]; }
  const char* keys(int i) const { return bytes() + keyOffset_ + std::size_t(i) * keyLength_; }
  char* keys(int i) { return bytes() + keyOffset_ + std::size_t(i) * keyLength_; }
  bool isLeaf() const { return sons(0) == -1; }

  // Count 0 and every son -1; the slots keep what they held.
  void initialize();
  // Index of the first key not less than key (count when every key is less).
  int binarySearch(const char* key) const;
  // Inserts key and value at index; later keys, values and the sons after index move up, and
  // rightSon becomes sons[index + 1]. The node must have room (count < 2M).
  void insert(int index, const char* key, long value, long rightSon);

  // The node's image: size() bytes, the disk layout above.
  const char* bytes() const { return reinterpret_cast<const char*>(words_); }
  char* bytes() { return reinterpret_cast<char*>(words_); }
  std::size_t size() const { return size_; }
  // Zero slots past count and -1 sons past count + 1: the image as this tree writes it.
  void canonicalize();

 private:
  const ERBTreeOnDisk* tree_;
  int order_;
  std::size_t keyLength_;
  std::size_t keyOffset_;
  std::size_t size_;
  // Small images (the object tree's 248 bytes) live in the node itself: a path of nodes costs
  // no allocation.
  static constexpr std::size_t kInlineWords = 64;
  void allocate(std::size_t words);
  std::int32_t* words_ = inline_;
  std::unique_ptr<std::int32_t[]> heap_;
  std::int32_t inline_[kInlineWords];
};

namespace qorv::detail {

// Offset -> slot: open addressing with linear probing (the node cache looks up on every node
// access, so this is the tree's hottest table). Offsets are file offsets, 32-bit on disk: an
// entry is 8 bytes, so a large tree's table stays twice as long in the processor caches.
class QORV_API OffsetTable {
 public:
  // The slot of offset, -1 when absent.
  int find(long offset) const;
  void insert(long offset, int slot);
  void erase(long offset);

 private:
  std::size_t home(std::int32_t key) const {
    return static_cast<std::size_t>(
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(key)) * 0x9E3779B97F4A7C15ull) >>
        shift_);
  }
  void grow();
  static constexpr std::int32_t kEmpty = INT32_MIN;
  static bool fits(long offset) { return offset > kEmpty && offset <= INT32_MAX; }
  struct Entry {
    std::int32_t key;
    std::int32_t value;
  };
  std::vector<Entry> table_;
  std::size_t count_ = 0;
  int shift_ = 64;
};

// The tree's node cache: N slots of node images keyed by file offset. Eviction is the clock's
// second chance: an access marks its slot, a miss takes the lowest free slot while any is free,
// else the first unmarked slot past the hand, clearing marks as the hand passes them. A hit
// thus writes one byte, where least-recently-used order rewrote three links scattered over
// memory (a large tree misses the processor caches on each). The root and upper levels, marked
// on every walk, stay. It holds images only; the tree does the file I/O.
class QORV_API BTreeNodeCache {
 public:
  BTreeNodeCache(std::size_t capacity, std::size_t nodeBytes);
  // The image cached for offset, now marked; null on a miss.
  std::int32_t* find(long offset);
  // A slot for offset (the caller fills it), now marked. With capacity 0, a scratch image that
  // is not kept.
  std::int32_t* admit(long offset);
  // Forgets offset (a freed block, or an image that could not be read); its slot becomes free.
  void drop(long offset);
  // The offset held by each slot, -1 for a free one.
  std::vector<long> offsets() const;
  std::size_t capacity() const { return capacity_; }

 private:
  std::int32_t* image(int slot) {
    return blocks_[std::size_t(slot) / kBlockSlots] + std::size_t(slot) % kBlockSlots * words_;
  }

  // Images live in blocks of kBlockSlots, made as their first slot is taken: a slot's image is
  // found by arithmetic, with no pointer of its own to chase.
  static constexpr std::size_t kBlockSlots = 256;
  std::size_t words_;
  std::size_t capacity_;
  std::vector<long> offsets_;  // the slots taken so far
  std::vector<std::int32_t*> blocks_;
  // The first blocks are allocated one by one (a small tree's cache costs no chunk), the later
  // ones carved from huge-page chunks (see HugeChunks).
  static constexpr std::size_t kLooseBlocks = 8;
  std::vector<std::unique_ptr<std::int32_t[]>> looseBlocks_;
  HugeChunks chunks_;
  std::vector<std::uint8_t> marked_;  // by slot
  std::size_t hand_ = 0;
  std::vector<int> free_;  // min-heap of free slots
  OffsetTable slotOf_;
  std::unique_ptr<std::int32_t[]> scratch_;
};

}  // namespace qorv::detail

class QORV_API ERBTreeOnDisk {
 public:
  static constexpr int createMode = 1;
  // Called for each entry in ascending key order with the key's K bytes, its value and the
  // caller's data.
  using Callback = void (*)(char* key, long value, void* userData);

  // Opens the tree whose info block is at baseLocation, or with baseLocation -1: in create
  // mode (mode == createMode), or when the file has no start block, makes a new tree in a new
  // 40-byte block (the file's start block when it is its first allocation); otherwise opens
  // the tree at the start block. K, M, the minimum fill and the key mode come from a valid
  // info block and from the arguments otherwise. Cache of cacheCapacity nodes (at most 2^20).
  ERBTreeOnDisk(ERFileManager* fileManager, unsigned cacheCapacity, int mode, unsigned keyLength,
                int ignoreNulls, long baseLocation, unsigned order, unsigned minimum);
  // Writes the info block back when it changed (unless read-only or refused).
  ~ERBTreeOnDisk();
  ERBTreeOnDisk(const ERBTreeOnDisk&) = delete;
  ERBTreeOnDisk& operator=(const ERBTreeOnDisk&) = delete;

  // 1 if inserted; 0 if the key was present, or the change was refused (nothing written).
  int insertKeyAndValue(const char* key, long value);
  // The value, or -1 when absent.
  long findValue(const char* key);
  int contains(const char* key);
  // 1 and the old value when the key is present (only the value changes), else 0 and -1.
  int replaceValue(const char* key, long newValue, long& oldValue);
  void remove(const char* key);
  // The value of key and, in storedKey, the stored key cut at its first zero byte (at most K
  // characters); -1 and an empty string when absent.
  long findKeyAndValue(const char* key, ERCString& storedKey);
  // Removes key; its value and stored key as findKeyAndValue, or -1 when absent.
  long removeKeyAndValue(const char* key, ERCString& removedKey);
  // Every entry in ascending order. flag 0 writes each node back after its callbacks (so the
  // callback may change key bytes in place). 1 when every node was sound, 0 when some subtree
  // had to be skipped.
  int applyToKeyAndValue(Callback callback, void* userData, int flag);
  long entries();
  // Frees every node and empties the tree; 0 (nothing changed) when the tree is not sound.
  int clear();
  long baseLocation() const { return baseLocation_; }
  // Writes the info block now when it changed (the entry count), as the destructor does.
  void flushInfo();
  // Forgets a changed info block unwritten: the file's image is the one to keep (a rolled-back
  // transaction), so neither flushInfo nor the destructor writes it.
  void discardInfo() { infoDirty_ = false; }

  unsigned keyLength() const { return keyLength_; }
  unsigned order() const { return order_; }
  unsigned minimumFill() const { return minimum_; }
  int ignoreNulls() const { return (flags_ & ERBTreeInfo::kRawKeys) != 0; }
  std::size_t nodeSize() const { return nodeSize_; }
  long rootOffset() const { return info_.root; }
  const ERBTreeInfo& info() const { return info_; }
  // The tree refuses changes (its info or root cannot be trusted, or the file is read-only).
  bool isRefused() const { return refused_; }
  const qorv::detail::BTreeNodeCache& cache() const { return *cache_; }

  // Key copy and comparison of this tree's mode (K bytes).
  void copyKey(char* to, const char* from) const;
  int compareKeys(const char* a, const char* b) const;

 private:
  struct Level;
  using Path = std::vector<Level>;
  enum class Found { yes, no, corrupt };

  bool readInfo();
  void writeInfo();
  void infoInit(unsigned keyLength, int ignoreNulls, unsigned order, unsigned minimum);
  bool startup();
  bool readRoot();
  bool isEmpty() const { return info_.root == -1; }
  bool canChange() const;

  // Reads a node through the cache and checks it; false (node unchanged) when it cannot be
  // trusted.
  QORV_LOCAL bool readcache(long offset, ERDiskTreeNode& node);
  // The checked image of the node at offset, in the page cache or the node cache (valid until
  // the next read or write of the file manager or the cache); null when it cannot be trusted.
  QORV_LOCAL const std::int32_t* peek(long offset);
  QORV_LOCAL void writecache(long offset, ERDiskTreeNode& node);
  QORV_LOCAL bool load(long offset, ERDiskTreeNode& node);
  void freeNode(long offset);
  QORV_LOCAL bool nodeOffsetIsSound(long offset) const;
  QORV_LOCAL bool nodeIsSound(long offset, const std::int32_t* words) const;
  QORV_LOCAL int depthLimit() const;
  // The fill repairs keep: the minimum, but never 0, so that no node empties out and every
  // successor leaf has a key (a stored minimum of 0 behaves as 1).
  int leastFill() const { return minimum_ == 0 ? 1 : static_cast<int>(minimum_); }

  QORV_LOCAL Found descend(const char* key, Path& path);
  // With image, the found node's image is given there instead of being copied into work_.
  QORV_LOCAL Found findKey(const char* key, long& offset, int& index,
                           const std::int32_t** image = nullptr);
  bool prepareRemoval(Path& path, int found);

  void splitNode(Level& level, long rightOffset);
  int restoreNode(Path& path, int level);
  void moveItLeft(Path& path, int level, int i);
  void moveItRight(Path& path, int level, int i);
  void combineNodes(Path& path, int level, int k, bool childIsLeft);
  void swapWithSuccessor(Path& path, int found);
  bool collect(long offset, int depth, std::vector<long>& postOrder,
               std::unordered_map<long, int>& seen);
  void walk(long offset, int depth, Callback callback, void* userData, int flag, bool& sound,
            std::unordered_map<long, int>& seen);

  // Parameters first: the node images below are sized from them.
  unsigned keyLength_ = 0;
  unsigned order_ = 0;
  unsigned minimum_ = 0;
  std::uint32_t flags_ = 0;

  ERDiskTreeNode rootImage_;
  ERDiskTreeNode work_;
  long current_ = -1;
  std::vector<char> pendingKey_;
  std::int32_t pendingValue_ = -1;
  std::int32_t pendingRight_ = -1;
  long baseLocation_ = -1;
  std::size_t nodeSize_ = 0;
  ERFileManager* fm_;
  std::unique_ptr<qorv::detail::BTreeNodeCache> cache_;
  unsigned cacheCapacity_;
  ERBTreeInfo info_;

  std::vector<char> searchKey_;   // the key of the running operation, as stored
  std::vector<Level> path_;       // the running change's path, kept for its room
  std::vector<long> seen_;        // the nodes a removal reads, kept for its room
  std::vector<char> readBuffer_;  // size word + node image of a cache miss
  bool infoValid_ = false;        // the magic field holds 1365
  bool infoDirty_ = false;        // the info image differs from what the file holds
  bool refused_ = false;

  friend class ERDiskTreeNode;
};
