#include "qorv/persistence/btree.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

#include "qorv/foundation/assert.h"

using namespace qorv::platform;

namespace {

constexpr int kMaxDepth = 64;
// Bounds on parameters read from a file: a larger node could not be a real tree's.
constexpr std::uint64_t kMaxKeyLength = 1u << 16;
constexpr std::uint64_t kMaxOrder = 1u << 16;
constexpr std::uint64_t kMaxNodeSize = std::uint64_t(64) << 20;
// More slots than this only cost bookkeeping: no tree reuses that many nodes between two visits.
constexpr std::size_t kMaxCacheSlots = std::size_t(1) << 20;
constexpr std::int64_t kFirstPayload = ERFileManager::kFirstBlock + 4;

std::uint64_t nodeBytes(std::uint64_t keyLength, std::uint64_t order) {
  return 2 * order * (keyLength + 8) + 8;
}

// The block the file manager hands out for a payload of n bytes: the size word and the payload
// rounded up to 4; a free extent up to 4 bytes larger may be handed out whole.
std::uint32_t blockSize(std::size_t n) {
  return static_cast<std::uint32_t>((n + 7) & ~std::size_t(3));
}

// Length of a stored key read as text: up to its first zero byte, at most K.
int keyTextLength(const char* key, std::size_t keyLength) {
  const void* zero = std::memchr(key, 0, keyLength);
  return static_cast<int>(zero == nullptr ? keyLength : static_cast<const char*>(zero) - key);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ERDiskTreeNode

void ERDiskTreeNode::allocate(std::size_t words) {
  if (words <= kInlineWords) {
    heap_.reset();
    words_ = inline_;
  } else {
    heap_.reset(new std::int32_t[words]);
    words_ = heap_.get();
  }
}

ERDiskTreeNode::ERDiskTreeNode(const ERBTreeOnDisk& tree)
    : tree_(&tree),
      order_(static_cast<int>(tree.order_)),
      keyLength_(tree.keyLength_),
      keyOffset_(16 * std::size_t(tree.order_) + 8),
      size_(static_cast<std::size_t>(nodeBytes(tree.keyLength_, tree.order_))) {
  allocate((size_ + 3) / 4);
  std::memset(words_, 0, (size_ + 3) / 4 * 4);
  initialize();
}

ERDiskTreeNode::ERDiskTreeNode(const ERBTreeOnDisk& tree, Unset)
    : tree_(&tree),
      order_(static_cast<int>(tree.order_)),
      keyLength_(tree.keyLength_),
      keyOffset_(16 * std::size_t(tree.order_) + 8),
      size_(static_cast<std::size_t>(nodeBytes(tree.keyLength_, tree.order_))) {
  allocate((size_ + 3) / 4);
}

ERDiskTreeNode::ERDiskTreeNode(const ERBTreeOnDisk& tree, const char* key, long value)
    : ERDiskTreeNode(tree) {
  tree.copyKey(keys(0), key);
  items(0) = static_cast<std::int32_t>(value);
  counter() = 1;
}

ERDiskTreeNode::ERDiskTreeNode(const ERDiskTreeNode& other)
    : tree_(other.tree_),
      order_(other.order_),
      keyLength_(other.keyLength_),
      keyOffset_(other.keyOffset_),
      size_(other.size_) {
  allocate((size_ + 3) / 4);
  std::memcpy(words_, other.words_, (size_ + 3) / 4 * 4);
}

ERDiskTreeNode::ERDiskTreeNode(ERDiskTreeNode&& other) noexcept
    : tree_(other.tree_),
      order_(other.order_),
      keyLength_(other.keyLength_),
      keyOffset_(other.keyOffset_),
      size_(other.size_) {
  if (other.heap_) {
    heap_ = std::move(other.heap_);
    words_ = heap_.get();
    other.words_ = other.inline_;
    other.size_ = 0;
  } else {
    std::memcpy(inline_, other.inline_, (size_ + 3) / 4 * 4);
  }
}

ERDiskTreeNode& ERDiskTreeNode::operator=(const ERDiskTreeNode& other) {
  if (this == &other) return *this;
  if ((size_ + 3) / 4 != (other.size_ + 3) / 4 || words_ == nullptr)
    allocate((other.size_ + 3) / 4);
  tree_ = other.tree_;
  order_ = other.order_;
  keyLength_ = other.keyLength_;
  keyOffset_ = other.keyOffset_;
  size_ = other.size_;
  std::memcpy(words_, other.words_, (size_ + 3) / 4 * 4);
  return *this;
}

ERDiskTreeNode& ERDiskTreeNode::operator=(ERDiskTreeNode&& other) noexcept {
  if (this == &other) return *this;
  tree_ = other.tree_;
  order_ = other.order_;
  keyLength_ = other.keyLength_;
  keyOffset_ = other.keyOffset_;
  size_ = other.size_;
  if (other.heap_) {
    heap_ = std::move(other.heap_);
    words_ = heap_.get();
    other.words_ = other.inline_;
    other.size_ = 0;
  } else {
    heap_.reset();
    words_ = inline_;
    std::memcpy(inline_, other.inline_, (size_ + 3) / 4 * 4);
  }
  return *this;
}

void ERDiskTreeNode::initialize() {
  counter() = 0;
  for (int i = 0; i <= 2 * order_; ++i) sons(i) = -1;
}

namespace {

// Four raw key bytes as the number whose order is memcmp's: the first byte most significant,
// whatever the host's byte order (compilers turn this into one load and a byte swap).
inline std::uint32_t rawKey4(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
         static_cast<std::uint32_t>(b[2]) << 8 | static_cast<std::uint32_t>(b[3]);
}

// The index of the first of n keys not less than the key, less(i) telling whether key i is
// below it; the ends are tried first, so that a node of a foreign file whose keys are out of
// order is searched as it always was.
template <class Less>
int lowerBound(int n, Less less) {
  if (n <= 0 || !less(0)) return 0;
  if (less(n - 1)) return n;
  // Without a branch on the comparison: random keys would mispredict every other step.
  int lo = 0, hi = n - 1;
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    const bool below = less(mid);
    lo = below ? mid : lo;
    hi = below ? hi : mid;
  }
  return hi;
}

// binarySearch over n keys of K bytes from keys.
int searchKeys(const ERBTreeOnDisk& tree, const char* keys, int n, const char* key) {
  const std::size_t k = tree.keyLength();
  if (k == 4 && tree.ignoreNulls()) {
    // The object tree's keys: numbers instead of memcmp calls.
    const std::uint32_t v = rawKey4(key);
    return lowerBound(n, [&](int i) { return rawKey4(keys + 4 * std::size_t(i)) < v; });
  }
  return lowerBound(n, [&](int i) { return tree.compareKeys(keys + k * std::size_t(i), key) < 0; });
}

}  // namespace

int ERDiskTreeNode::binarySearch(const char* key) const {
  return searchKeys(*tree_, keys(0), counter(), key);
}

void ERDiskTreeNode::insert(int index, const char* key, long value, long rightSon) {
  const int n = counter();
  QORV_ASSERT(n < 2 * order_ && index >= 0 && index <= n);
  const std::size_t after = static_cast<std::size_t>(n - index);
  std::memmove(keys(index + 1), keys(index), after * keyLength_);
  std::memmove(&items(index + 1), &items(index), after * 4);
  std::memmove(&sons(index + 2), &sons(index + 1), after * 4);
  std::memcpy(keys(index), key, keyLength_);
  items(index) = static_cast<std::int32_t>(value);
  sons(index + 1) = static_cast<std::int32_t>(rightSon);
  counter() = n + 1;
}

void ERDiskTreeNode::canonicalize() {
  const int n = std::clamp(counter(), 0, 2 * order_);
  const std::size_t unused = std::size_t(2 * order_ - n);
  if (unused > 0) {
    std::memset(&items(n), 0, unused * 4);
    std::memset(keys(n), 0, unused * keyLength_);
  }
  for (int i = n + 1; i <= 2 * order_; ++i) sons(i) = -1;
}

// ---------------------------------------------------------------------------------------------
// Node cache

namespace qorv::detail {

int OffsetTable::find(long offset) const {
  if (count_ == 0 || !fits(offset)) return -1;
  const auto key = static_cast<std::int32_t>(offset);
  const std::size_t mask = table_.size() - 1;
  for (std::size_t i = home(key);; i = (i + 1) & mask) {
    const Entry& e = table_[i];
    if (e.key == key) return e.value;
    if (e.key == kEmpty) return -1;
  }
}

void OffsetTable::insert(long offset, int slot) {
  if (!fits(offset)) return;  // no node lies there: the cache simply never finds it
  if ((count_ + 1) * 2 > table_.size()) grow();
  const auto key = static_cast<std::int32_t>(offset);
  const std::size_t mask = table_.size() - 1;
  std::size_t i = home(key);
  while (table_[i].key != kEmpty && table_[i].key != key) i = (i + 1) & mask;
  if (table_[i].key == kEmpty) ++count_;
  table_[i] = Entry{key, slot};
}

void OffsetTable::erase(long offset) {
  if (count_ == 0 || !fits(offset)) return;
  const auto key = static_cast<std::int32_t>(offset);
  const std::size_t mask = table_.size() - 1;
  std::size_t i = home(key);
  while (table_[i].key != key) {
    if (table_[i].key == kEmpty) return;
    i = (i + 1) & mask;
  }
  // Backward shift: later entries of the probe run move into the hole when that brings them
  // no further from home.
  for (std::size_t j = (i + 1) & mask; table_[j].key != kEmpty; j = (j + 1) & mask) {
    const std::size_t h = home(table_[j].key);
    if (((j - h) & mask) >= ((j - i) & mask)) {
      table_[i] = table_[j];
      i = j;
    }
  }
  table_[i].key = kEmpty;
  --count_;
}

void OffsetTable::grow() {
  std::vector<Entry> old = std::move(table_);
  const std::size_t size = old.empty() ? 64 : old.size() * 2;
  table_.assign(size, Entry{kEmpty, 0});
  shift_ = 64 - std::countr_zero(size);
  count_ = 0;
  for (const Entry& e : old)
    if (e.key != kEmpty) insert(e.key, e.value);
}

// The slots are made as they are first taken (0, 1, 2, ...): a large capacity costs nothing
// until the tree is that large.
BTreeNodeCache::BTreeNodeCache(std::size_t capacity, std::size_t nodeBytes)
    : words_((nodeBytes + 3) / 4), capacity_(capacity) {}

std::int32_t* BTreeNodeCache::find(long offset) {
  const int hit = slotOf_.find(offset);
  if (hit < 0) return nullptr;
  marked_[std::size_t(hit)] = 1;
  return image(hit);
}

std::int32_t* BTreeNodeCache::admit(long offset) {
  if (capacity_ == 0) {
    if (!scratch_) scratch_.reset(new std::int32_t[words_]());
    return scratch_.get();
  }
  if (std::int32_t* image = find(offset)) return image;
  int slot;
  if (!free_.empty()) {
    // The lowest free slot: every dropped slot lies below the slots never taken.
    std::pop_heap(free_.begin(), free_.end(), std::greater<int>());
    slot = free_.back();
    free_.pop_back();
  } else if (offsets_.size() < capacity_) {
    slot = static_cast<int>(offsets_.size());
    offsets_.push_back(-1);
    marked_.push_back(0);
    if (std::size_t(slot) / kBlockSlots >= blocks_.size()) {
      // The last block holds only the slots the capacity allows.
      const std::size_t slots = std::min(kBlockSlots, capacity_ - std::size_t(slot));
      const std::size_t words = slots * words_;
      std::int32_t* block = nullptr;
      if (blocks_.size() >= kLooseBlocks && words * 4 <= HugeChunks::kChunk)
        block = static_cast<std::int32_t*>(chunks_.take(words * 4));
      if (block != nullptr) {
        std::memset(block, 0, words * 4);
      } else {
        looseBlocks_.emplace_back(new std::int32_t[words]());
        block = looseBlocks_.back().get();
      }
      blocks_.push_back(block);
    }
  } else {
    // Every slot is taken (none free): at most one turn clears every mark.
    while (marked_[hand_]) {
      marked_[hand_] = 0;
      hand_ = hand_ + 1 == capacity_ ? 0 : hand_ + 1;
    }
    slot = static_cast<int>(hand_);
    hand_ = hand_ + 1 == capacity_ ? 0 : hand_ + 1;
    slotOf_.erase(offsets_[std::size_t(slot)]);
  }
  offsets_[std::size_t(slot)] = offset;
  marked_[std::size_t(slot)] = 1;
  slotOf_.insert(offset, slot);
  return image(slot);
}

void BTreeNodeCache::drop(long offset) {
  const int slot = slotOf_.find(offset);
  if (slot < 0) return;
  slotOf_.erase(offset);
  offsets_[std::size_t(slot)] = -1;
  marked_[std::size_t(slot)] = 0;
  free_.push_back(slot);
  std::push_heap(free_.begin(), free_.end(), std::greater<int>());
}

std::vector<long> BTreeNodeCache::offsets() const {
  std::vector<long> all = offsets_;
  all.resize(capacity_, -1);
  return all;
}

}  // namespace qorv::detail

// ---------------------------------------------------------------------------------------------
// The tree: one level of a root-to-leaf path, with the siblings a removal may borrow from.

struct ERBTreeOnDisk::Level {
  // The node is read at once (a level whose node cannot be read ends the change).
  Level(long at, const ERBTreeOnDisk& tree) : offset(at), node(tree, ERDiskTreeNode::Unset{}) {}
  long offset;
  ERDiskTreeNode node;
  int index = 0;  // binarySearch's answer in this node
  int child = 0;  // the son the path goes on into
  long leftOffset = -1, rightOffset = -1;
  // This node's neighbours under the parent, held in place: a removal allocates nothing.
  std::optional<ERDiskTreeNode> left, right;
};

ERBTreeOnDisk::ERBTreeOnDisk(ERFileManager* fileManager, unsigned cacheCapacity, int mode,
                             unsigned keyLength, int ignoreNulls, long baseLocation, unsigned order,
                             unsigned minimum)
    : rootImage_(*this), work_(*this), fm_(fileManager), cacheCapacity_(cacheCapacity) {
  QORV_ASSERT(fm_ != nullptr);
  QORV_ASSERT(keyLength >= 1 && order >= 1 && nodeBytes(keyLength, order) <= kMaxNodeSize);
  keyLength = std::clamp<unsigned>(keyLength, 1, kMaxKeyLength);
  order = std::clamp<unsigned>(order, 1, kMaxOrder);
  // A node no file could hold: nothing is made or written with such parameters (an existing
  // tree opened with them still takes its own from its info block).
  const bool oversized = nodeBytes(keyLength, order) > kMaxNodeSize;
  if (oversized) keyLength = order = 1;
  const bool cannotCreate = fm_->isReadOnly() != 0 || oversized;
  // The parameters given, until a sound info block says otherwise.
  keyLength_ = keyLength;
  order_ = order;
  minimum_ = std::min(minimum, order);
  flags_ = ignoreNulls ? ERBTreeInfo::kRawKeys : 0;

  if (baseLocation == -1) {
    if (mode != createMode && fm_->start() != -1) {
      baseLocation = fm_->start();
    } else if (!cannotCreate) {
      infoInit(keyLength, ignoreNulls, order, minimum);
      baseLocation = fm_->allocate(sizeof(ERBTreeInfo));
      baseLocation_ = baseLocation;
      if (baseLocation != -1) writeInfo();
    }
  }
  baseLocation_ = baseLocation;

  if (!readInfo()) {
    // Not a tree's info: an empty tree in memory with the parameters given.
    infoInit(keyLength, ignoreNulls, order, minimum);
    info_.magic = 0xFFFFFFFFu;
    infoValid_ = false;
  }
  // Nowhere to record a root: the tree stays empty.
  if (baseLocation_ == -1 || (oversized && !infoValid_)) refused_ = true;
  if (!startup()) refused_ = true;
}

ERBTreeOnDisk::~ERBTreeOnDisk() {
  if (!infoDirty_ || !canChange()) return;
  try {
    writeInfo();
  } catch (CFileException& e) {
  }
}

void ERBTreeOnDisk::flushInfo() {
  if (infoDirty_ && canChange()) writeInfo();
}

void ERBTreeOnDisk::infoInit(unsigned keyLength, int ignoreNulls, unsigned order,
                             unsigned minimum) {
  info_ = ERBTreeInfo{};
  info_.keyLength = keyLength;
  info_.order = order;
  info_.minimum = std::min(minimum, order);
  info_.flags = ignoreNulls ? ERBTreeInfo::kRawKeys : 0;
  keyLength_ = info_.keyLength;
  order_ = info_.order;
  minimum_ = info_.minimum;
  flags_ = info_.flags;
  infoValid_ = true;
}

bool ERBTreeOnDisk::readInfo() {
  if (baseLocation_ == -1) return false;
  if (baseLocation_ < kFirstPayload || baseLocation_ % 4 != 0 ||
      baseLocation_ + std::int64_t(sizeof(info_.root)) > fm_->endData()) {
    // Neither read nor written: not even a root word can lie there.
    refused_ = true;
    return false;
  }
  if (baseLocation_ + std::int64_t(sizeof(ERBTreeInfo)) > fm_->endData()) return false;
  ERBTreeInfo read;
  if (fm_->ReadAt(static_cast<std::uint64_t>(baseLocation_), &read, sizeof read) != sizeof read ||
      read.magic != ERBTreeInfo::kMagic)
    return false;
  info_ = read;
  infoValid_ = true;
  const std::uint64_t size = nodeBytes(read.keyLength, read.order);
  if (read.keyLength < 1 || read.keyLength > kMaxKeyLength || read.order < 1 ||
      read.order > kMaxOrder || read.minimum > read.order || size > kMaxNodeSize) {
    refused_ = true;  // a tree's magic with impossible parameters: trust nothing of it
    return true;
  }
  keyLength_ = read.keyLength;
  order_ = read.order;
  minimum_ = read.minimum;
  flags_ = read.flags;
  return true;
}

void ERBTreeOnDisk::writeInfo() {
  if (refused_ || fm_->isReadOnly() || baseLocation_ == -1) return;
  // An info block that is not a tree's keeps only the root word.
  const std::size_t n = infoValid_ ? sizeof(ERBTreeInfo) : sizeof(info_.root);
  if (baseLocation_ + std::int64_t(n) > fm_->endData()) return;
  fm_->WriteAt(static_cast<std::uint64_t>(baseLocation_), &info_, static_cast<UINT>(n));
  infoDirty_ = false;
}

bool ERBTreeOnDisk::startup() {
  nodeSize_ = static_cast<std::size_t>(nodeBytes(keyLength_, order_));
  pendingKey_.assign(keyLength_, 0);
  searchKey_.assign(keyLength_, 0);
  readBuffer_.assign(nodeSize_ + 4, 0);
  cache_ = std::make_unique<qorv::detail::BTreeNodeCache>(
      std::min<std::size_t>(cacheCapacity_, kMaxCacheSlots), nodeSize_);
  rootImage_ = ERDiskTreeNode(*this);
  work_ = ERDiskTreeNode(*this);
  if (refused_) return false;
  return readRoot();
}

bool ERBTreeOnDisk::readRoot() {
  if (isEmpty()) {
    rootImage_.initialize();
    return true;
  }
  return readcache(info_.root, rootImage_);
}

bool ERBTreeOnDisk::canChange() const { return !refused_ && !fm_->isReadOnly(); }

void ERBTreeOnDisk::copyKey(char* to, const char* from) const {
  QORV_ASSERT(from != nullptr);
  if (from == nullptr) {
    std::memset(to, 0, keyLength_);
  } else if (flags_ & ERBTreeInfo::kRawKeys) {
    std::memcpy(to, from, keyLength_);
  } else {
    std::strncpy(to, from, keyLength_);
  }
}

int ERBTreeOnDisk::compareKeys(const char* a, const char* b) const {
  if (keyLength_ == 4 && (flags_ & ERBTreeInfo::kRawKeys)) {
    const std::uint32_t x = rawKey4(a), y = rawKey4(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  return (flags_ & ERBTreeInfo::kRawKeys) ? std::memcmp(a, b, keyLength_)
                                          : std::strncmp(a, b, keyLength_);
}

// ---------------------------------------------------------------------------------------------
// Node I/O

bool ERBTreeOnDisk::nodeOffsetIsSound(long offset) const {
  return offset >= kFirstPayload && offset % 4 == 0 &&
         offset + std::int64_t(nodeSize_) <= fm_->endData();
}

bool ERBTreeOnDisk::nodeIsSound(long offset, const std::int32_t* words) const {
  const std::int32_t count = words[0];
  if (count < 0 || count > 2 * std::int32_t(order_)) return false;
  const std::int32_t* sons = words + 1;
  // Every slot is looked at and the unused ones masked off, in 32-bit lanes: a loop the compiler
  // makes a few vector steps of. Every walk checks each node it visits.
  const int slots = 2 * static_cast<int>(order_) + 1;
  std::int32_t bad = 0;
  if (sons[0] == -1) {
    for (int i = 1; i < slots; ++i) bad |= -std::int32_t(i <= count) & (sons[i] ^ -1);
    return bad == 0;
  }
  const std::int64_t top = std::int64_t(fm_->endData()) - std::int64_t(nodeSize_);
  if (top < kFirstPayload) return false;  // no room for any son
  const auto last = static_cast<std::int32_t>(top), self = static_cast<std::int32_t>(offset);
  const auto first = static_cast<std::int32_t>(kFirstPayload);
  for (int i = 0; i < slots; ++i) {
    const std::int32_t s = sons[i];
    bad |= -std::int32_t(i <= count) & (-std::int32_t(s == self) | -std::int32_t(s < first) |
                                        -std::int32_t(s > last) | (s & 3));
  }
  return bad == 0;
}

int ERBTreeOnDisk::depthLimit() const {
  // A path meets each node once, so it is never longer than the file has nodes.
  const std::int64_t nodes =
      (std::int64_t(fm_->endData()) - ERFileManager::kFirstBlock) / blockSize(nodeSize_);
  return static_cast<int>(std::clamp<std::int64_t>(nodes, 1, kMaxDepth));
}

const std::int32_t* ERBTreeOnDisk::peek(long offset) {
  if (!nodeOffsetIsSound(offset)) return nullptr;
  // The size word comes with the image: a node lives in a block of exactly its size.
  const UINT want = static_cast<UINT>(nodeSize_ + 4);
  const std::uint32_t need = blockSize(nodeSize_);
  // Where the file's page cache holds the node, it is read there, checked each time, and not
  // copied into the node cache: a second image of it would cost a second cache miss at every
  // visit. The node cache keeps the nodes of pages that the page cache may drop.
  auto checked = [&](const char* bytes) -> const std::int32_t* {
    std::uint32_t size;
    std::memcpy(&size, bytes, 4);
    const auto* image = reinterpret_cast<const std::int32_t*>(bytes + 4);
    if ((size != need && size != need + 4) || !nodeIsSound(offset, image)) return nullptr;
    return image;
  };
  const auto at = static_cast<std::uint64_t>(offset - 4);
  if (const char* bytes = fm_->cachedSpan(at, want)) return checked(bytes);
  // Checked when it came from the file, or built here: a child that has gone past the end since
  // is refused when it is read itself.
  if (const std::int32_t* image = cache_->find(offset)) return image;
  if (fm_->ReadAt(at, readBuffer_.data(), want) != want) return nullptr;
  const std::int32_t* image = checked(readBuffer_.data());
  // The read brought the page in: while the page cache holds the whole file it stays there, and
  // the node is read there at every visit (this image is good until the next read).
  if (image == nullptr || fm_->cachesWholeFile()) return image;
  std::int32_t* kept = cache_->admit(offset);
  std::memcpy(kept, image, nodeSize_);
  return kept;
}

bool ERBTreeOnDisk::readcache(long offset, ERDiskTreeNode& node) {
  const std::int32_t* image = peek(offset);
  if (image == nullptr) return false;
  std::memcpy(node.bytes(), image, nodeSize_);
  return true;
}

void ERBTreeOnDisk::writecache(long offset, ERDiskTreeNode& node) {
  QORV_ASSERT(nodeOffsetIsSound(offset));
  if (!nodeOffsetIsSound(offset)) return;
  node.canonicalize();
  // An image the node cache holds follows the node; the page cache holds the new one.
  if (std::int32_t* image = cache_->find(offset)) std::memcpy(image, node.bytes(), nodeSize_);
  try {
    fm_->WriteAt(static_cast<std::uint64_t>(offset), node.bytes(), static_cast<UINT>(nodeSize_));
  } catch (CFileException&) {
    cache_->drop(offset);  // the file may not hold what the cache would say
    throw;
  }
  if (offset == info_.root) rootImage_ = node;
}

bool ERBTreeOnDisk::load(long offset, ERDiskTreeNode& node) {
  if (offset == info_.root && offset != -1) {
    node = rootImage_;
    return true;
  }
  return readcache(offset, node);
}

void ERBTreeOnDisk::freeNode(long offset) {
  cache_->drop(offset);
  fm_->deallocate(offset);
}

// ---------------------------------------------------------------------------------------------
// Look-ups

ERBTreeOnDisk::Found ERBTreeOnDisk::findKey(const char* key, long& offset, int& index,
                                            const std::int32_t** image) {
  if (refused_) return Found::corrupt;
  long at = info_.root;
  const int limit = depthLimit();
  const std::size_t keys = 16 * std::size_t(order_) + 8;
  // Searched where the images lie; only the node that holds the key is copied out.
  for (int depth = 1; at != -1; ++depth) {
    const std::int32_t* w = depth > limit ? nullptr
                            : at == info_.root
                                ? reinterpret_cast<const std::int32_t*>(rootImage_.bytes())
                                : peek(at);
    if (w == nullptr) return Found::corrupt;
    current_ = at;
    const char* k = reinterpret_cast<const char*>(w) + keys;
    const int i = searchKeys(*this, k, w[0], key);
    if (i < w[0] && compareKeys(k + std::size_t(i) * keyLength_, key) == 0) {
      if (image != nullptr)
        *image = w;
      else
        std::memcpy(work_.bytes(), w, nodeSize_);
      offset = at;
      index = i;
      return Found::yes;
    }
    at = w[1 + i];
  }
  return Found::no;
}

long ERBTreeOnDisk::findValue(const char* key) {
  copyKey(searchKey_.data(), key);
  long at;
  int i;
  const std::int32_t* w = nullptr;
  // The value straight from the image: items(i) is word 2M + 2 + i.
  return findKey(searchKey_.data(), at, i, &w) == Found::yes ? w[2 * order_ + 2 + i] : -1;
}

int ERBTreeOnDisk::contains(const char* key) {
  copyKey(searchKey_.data(), key);
  long at;
  int i;
  const std::int32_t* w = nullptr;
  return findKey(searchKey_.data(), at, i, &w) == Found::yes ? 1 : 0;
}

long ERBTreeOnDisk::findKeyAndValue(const char* key, ERCString& storedKey) {
  copyKey(searchKey_.data(), key);
  long at;
  int i;
  if (findKey(searchKey_.data(), at, i) != Found::yes) {
    storedKey = "";
    return -1;
  }
  storedKey = ERCString(work_.keys(i), keyTextLength(work_.keys(i), keyLength_));
  return work_.items(i);
}

int ERBTreeOnDisk::replaceValue(const char* key, long newValue, long& oldValue) {
  oldValue = -1;
  if (!canChange()) return 0;
  copyKey(searchKey_.data(), key);
  long at;
  int i;
  if (findKey(searchKey_.data(), at, i) != Found::yes) return 0;
  oldValue = work_.items(i);
  work_.items(i) = static_cast<std::int32_t>(newValue);
  writecache(at, work_);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Insertion

ERBTreeOnDisk::Found ERBTreeOnDisk::descend(const char* key, Path& path) {
  path.clear();
  path.reserve(8);
  long at = info_.root;
  const int limit = depthLimit();
  while (at != -1) {
    if (int(path.size()) >= limit) return Found::corrupt;
    for (const Level& l : path)
      if (l.offset == at) return Found::corrupt;  // a child cycle
    path.emplace_back(at, *this);
    Level& level = path.back();
    if (!load(at, level.node)) return Found::corrupt;
    level.index = level.child = level.node.binarySearch(key);
    if (level.index < level.node.counter() && compareKeys(level.node.keys(level.index), key) == 0)
      return Found::yes;
    at = level.node.sons(level.index);
  }
  return Found::no;
}

int ERBTreeOnDisk::insertKeyAndValue(const char* key, long value) {
  if (!canChange()) return 0;
  copyKey(searchKey_.data(), key);
  Path& path = path_;
  if (descend(searchKey_.data(), path) != Found::no) return 0;

  // The blocks this insertion needs, reserved before anything is written, in the order the
  // splits take them (bottom-up, then a new root): a refused block leaves the tree untouched.
  const int full = 2 * static_cast<int>(order_);
  int splits = 0;
  for (int l = int(path.size()) - 1; l >= 0 && path[l].node.counter() >= full; --l) ++splits;
  const bool newRoot = splits == int(path.size());
  std::vector<long> blocks;
  for (int k = 0; k < splits + (newRoot ? 1 : 0); ++k) {
    const long block = fm_->allocate(static_cast<std::uint32_t>(nodeSize_));
    if (block == -1 || !nodeOffsetIsSound(block)) {
      if (block != -1) fm_->deallocate(block);
      for (auto b = blocks.rbegin(); b != blocks.rend(); ++b) fm_->deallocate(*b);
      return 0;
    }
    blocks.push_back(block);
  }

  std::memcpy(pendingKey_.data(), searchKey_.data(), keyLength_);
  pendingValue_ = static_cast<std::int32_t>(value);
  pendingRight_ = -1;
  std::size_t next = 0;
  bool placed = false;
  for (int l = int(path.size()) - 1; l >= 0 && !placed; --l) {
    Level& level = path[l];
    if (level.node.counter() >= full) {
      splitNode(level, blocks[next++]);
    } else {
      level.node.insert(level.index, pendingKey_.data(), pendingValue_, pendingRight_);
      writecache(level.offset, level.node);
      placed = true;
    }
  }
  if (!placed) {
    ERDiskTreeNode root(*this);
    std::memcpy(root.keys(0), pendingKey_.data(), keyLength_);
    root.items(0) = pendingValue_;
    root.sons(0) = info_.root;
    root.sons(1) = pendingRight_;
    root.counter() = 1;
    info_.root = static_cast<std::int32_t>(blocks[next]);
    writecache(info_.root, root);
    writeInfo();
  }
  ++info_.entries;
  infoDirty_ = true;
  return 1;
}

void ERBTreeOnDisk::splitNode(Level& level, long rightOffset) {
  ERDiskTreeNode& node = level.node;
  const int m = static_cast<int>(order_), i = level.index;
  const std::size_t k = keyLength_;
  ERDiskTreeNode right(*this);
  auto moveRight = [&](int from) {  // keys from..2M-1 with their left sons, then sons[2M]
    const int n = 2 * m - from;
    std::memcpy(right.keys(0), node.keys(from), std::size_t(n) * k);
    std::memcpy(&right.items(0), &node.items(from), std::size_t(n) * 4);
    std::memcpy(&right.sons(0), &node.sons(from), std::size_t(n) * 4);
    right.sons(n) = node.sons(2 * m);
    right.counter() = n;
  };
  if (i > m) {
    const std::vector<char> oldKey = pendingKey_;
    const std::int32_t oldValue = pendingValue_, oldRight = pendingRight_;
    std::memcpy(pendingKey_.data(), node.keys(m), k);
    pendingValue_ = node.items(m);
    moveRight(m + 1);
    node.counter() = m;
    right.insert(i - m - 1, oldKey.data(), oldValue, oldRight);
  } else {
    moveRight(m);
    node.counter() = m;
    if (i < m) {
      node.insert(i, pendingKey_.data(), pendingValue_, pendingRight_);
      std::memcpy(pendingKey_.data(), node.keys(m), k);
      pendingValue_ = node.items(m);
      node.counter() = m;
    } else {
      right.sons(0) = pendingRight_;
    }
  }
  pendingRight_ = static_cast<std::int32_t>(rightOffset);
  writecache(level.offset, node);
  writecache(rightOffset, right);
}

// ---------------------------------------------------------------------------------------------
// Removal

bool ERBTreeOnDisk::prepareRemoval(Path& path, int found) {
  const int limit = depthLimit();
  Level& f = path[found];
  if (!f.node.isLeaf()) {
    // The successor: the leftmost leaf under the son right of the key.
    f.child = f.index + 1;
    long at = f.node.sons(f.child);
    for (;;) {
      if (int(path.size()) >= limit) return false;
      for (const Level& l : path)
        if (l.offset == at) return false;
      path.emplace_back(at, *this);
      Level& level = path.back();
      if (!load(at, level.node)) return false;
      level.index = level.child = 0;
      if (level.node.isLeaf()) break;
      at = level.node.sons(0);
    }
  }
  const int last = int(path.size()) - 1;
  // An empty successor leaf (only a foreign file with empty nodes has one) has no key to swap.
  if (!path.back().node.isLeaf() || (found != last && path.back().node.counter() == 0))
    return false;

  // The repairs this removal will make are decided by counts alone, so they are played here
  // first, and each sibling a repair will use is read and checked now: distinct from every
  // other node of the change, and of the same kind (leaf or not) as the node beside it.
  std::vector<long>& seen = seen_;
  seen.clear();
  for (const Level& l : path) seen.push_back(l.offset);
  auto take = [&](long at, const Level& beside, std::optional<ERDiskTreeNode>& out) {
    if (std::find(seen.begin(), seen.end(), at) != seen.end()) return false;
    out.emplace(*this, ERDiskTreeNode::Unset{});
    if (!load(at, *out) || out->isLeaf() != beside.node.isLeaf()) return false;
    seen.push_back(at);
    return true;
  };
  auto left = [&](Level& level, const Level& parent) {
    level.leftOffset = parent.node.sons(parent.child - 1);
    return take(level.leftOffset, level, level.left);
  };
  auto right = [&](Level& level, const Level& parent) {
    level.rightOffset = parent.node.sons(parent.child + 1);
    return take(level.rightOffset, level, level.right);
  };
  const int least = leastFill();
  int count = path[last].node.counter() - 1;  // the leaf after the removal
  bool under = last == 0 ? count <= 0 : count < least;
  for (int l = last; l >= 1 && under; --l) {
    Level& level = path[l];
    const Level& parent = path[l - 1];
    const int i = parent.child, pc = parent.node.counter();
    if (pc == 0) break;  // restoreNode leaves such a child as it is
    bool rotates;
    if (i == 0) {
      if (!right(level, parent)) return false;
      rotates = level.right->counter() > least;
    } else {
      if (!left(level, parent)) return false;
      rotates = level.left->counter() > least;
      if (!rotates && i < pc) {
        if (!right(level, parent)) return false;
        rotates = level.right->counter() > least;
      }
    }
    if (rotates) break;
    count = pc - 1;  // a merge takes the separator out of the parent
    under = l - 1 == 0 ? count <= 0 : count < least;
  }
  return true;
}

void ERBTreeOnDisk::swapWithSuccessor(Path& path, int found) {
  Level& f = path[found];
  Level& leaf = path.back();
  std::vector<char> key(f.node.keys(f.index), f.node.keys(f.index) + keyLength_);
  std::memcpy(f.node.keys(f.index), leaf.node.keys(0), keyLength_);
  std::memcpy(leaf.node.keys(0), key.data(), keyLength_);
  std::swap(f.node.items(f.index), leaf.node.items(0));
  writecache(f.offset, f.node);
  writecache(leaf.offset, leaf.node);
}

long ERBTreeOnDisk::removeKeyAndValue(const char* key, ERCString& removedKey) {
  removedKey = "";
  if (!canChange()) return -1;
  copyKey(searchKey_.data(), key);
  Path& path = path_;
  if (descend(searchKey_.data(), path) != Found::yes) return -1;
  const int found = int(path.size()) - 1;
  if (!prepareRemoval(path, found)) return -1;
  const int last = int(path.size()) - 1;
  if (found != last) swapWithSuccessor(path, found);

  ERDiskTreeNode& leaf = path.back().node;
  const int at = found == last ? path.back().index : 0;
  const long value = leaf.items(at);
  removedKey = ERCString(leaf.keys(at), keyTextLength(leaf.keys(at), keyLength_));
  const int n = leaf.counter();
  std::memmove(leaf.keys(at), leaf.keys(at + 1), std::size_t(n - at - 1) * keyLength_);
  std::memmove(&leaf.items(at), &leaf.items(at + 1), std::size_t(n - at - 1) * 4);
  leaf.counter() = n - 1;
  writecache(path.back().offset, leaf);

  int status = last == 0 ? leaf.counter() > 0 : leaf.counter() >= leastFill();
  for (int l = last - 1; l >= 0 && status == 0; --l) status = restoreNode(path, l);
  if (status == 0) {
    // The root has no key left: its first son, if any, becomes the root.
    const long old = info_.root;
    info_.root = rootImage_.sons(0);
    freeNode(old);
    writeInfo();
    if (isEmpty() || !readcache(info_.root, rootImage_)) rootImage_.initialize();
  }
  --info_.entries;
  infoDirty_ = true;
  return value;
}

void ERBTreeOnDisk::remove(const char* key) {
  ERCString removed;
  removeKeyAndValue(key, removed);
}

int ERBTreeOnDisk::restoreNode(Path& path, int l) {
  Level& parent = path[l];
  const Level& child = path[l + 1];
  const int i = parent.child, count = parent.node.counter();
  const int least = leastFill();
  if (count == 0) return 1;  // no neighbour to borrow from: left as it is
  if (i == 0) {
    if (child.right->counter() > least) {
      moveItLeft(path, l, 0);
      return 1;
    }
    combineNodes(path, l, 0, true);
  } else if (i < count) {
    if (child.left->counter() > least) {
      moveItRight(path, l, i);
      return 1;
    }
    if (child.right->counter() > least) {
      moveItLeft(path, l, i);
      return 1;
    }
    combineNodes(path, l, i, true);
  } else {
    if (child.left->counter() > least) {
      moveItRight(path, l, i);
      return 1;
    }
    combineNodes(path, l, i - 1, false);
  }
  return l == 0 ? parent.node.counter() > 0 : parent.node.counter() >= least;
}

void ERBTreeOnDisk::moveItRight(Path& path, int l, int i) {
  ERDiskTreeNode& parent = path[l].node;
  Level& level = path[l + 1];
  ERDiskTreeNode& child = level.node;
  ERDiskTreeNode& left = *level.left;
  const std::size_t k = keyLength_;
  const int lc = left.counter(), cc = child.counter();
  const std::int32_t takenSon = left.sons(lc);
  left.counter() = lc - 1;
  std::memmove(child.keys(1), child.keys(0), std::size_t(cc) * k);
  std::memmove(&child.items(1), &child.items(0), std::size_t(cc) * 4);
  std::memmove(&child.sons(1), &child.sons(0), std::size_t(cc + 1) * 4);
  std::memcpy(child.keys(0), parent.keys(i - 1), k);
  child.items(0) = parent.items(i - 1);
  child.sons(0) = takenSon;
  child.counter() = cc + 1;
  std::memcpy(parent.keys(i - 1), left.keys(lc - 1), k);
  parent.items(i - 1) = left.items(lc - 1);
  writecache(level.leftOffset, left);
  writecache(level.offset, child);
  writecache(path[l].offset, parent);
}

void ERBTreeOnDisk::moveItLeft(Path& path, int l, int i) {
  ERDiskTreeNode& parent = path[l].node;
  Level& level = path[l + 1];
  ERDiskTreeNode& child = level.node;
  ERDiskTreeNode& right = *level.right;
  const std::size_t k = keyLength_;
  const int rc = right.counter(), cc = child.counter();
  std::memcpy(child.keys(cc), parent.keys(i), k);
  child.items(cc) = parent.items(i);
  child.sons(cc + 1) = right.sons(0);
  child.counter() = cc + 1;
  std::memcpy(parent.keys(i), right.keys(0), k);
  parent.items(i) = right.items(0);
  std::memmove(right.keys(0), right.keys(1), std::size_t(rc - 1) * k);
  std::memmove(&right.items(0), &right.items(1), std::size_t(rc - 1) * 4);
  std::memmove(&right.sons(0), &right.sons(1), std::size_t(rc) * 4);
  right.counter() = rc - 1;
  writecache(level.rightOffset, right);
  writecache(level.offset, child);
  writecache(path[l].offset, parent);
}

void ERBTreeOnDisk::combineNodes(Path& path, int l, int k, bool childIsLeft) {
  ERDiskTreeNode& parent = path[l].node;
  Level& level = path[l + 1];
  ERDiskTreeNode& left = childIsLeft ? level.node : *level.left;
  ERDiskTreeNode& right = childIsLeft ? *level.right : level.node;
  const long leftOffset = childIsLeft ? level.offset : level.leftOffset;
  const long rightOffset = childIsLeft ? level.rightOffset : level.offset;
  const std::size_t kl = keyLength_;
  const int lc = left.counter(), rc = right.counter(), pc = parent.counter();
  QORV_ASSERT(lc + 1 + rc <= 2 * int(order_));
  std::memcpy(left.keys(lc), parent.keys(k), kl);
  left.items(lc) = parent.items(k);
  std::memcpy(left.keys(lc + 1), right.keys(0), std::size_t(rc) * kl);
  std::memcpy(&left.items(lc + 1), &right.items(0), std::size_t(rc) * 4);
  std::memcpy(&left.sons(lc + 1), &right.sons(0), std::size_t(rc + 1) * 4);
  left.counter() = lc + 1 + rc;
  std::memmove(parent.keys(k), parent.keys(k + 1), std::size_t(pc - k - 1) * kl);
  std::memmove(&parent.items(k), &parent.items(k + 1), std::size_t(pc - k - 1) * 4);
  std::memmove(&parent.sons(k + 1), &parent.sons(k + 2), std::size_t(pc - k - 1) * 4);
  parent.counter() = pc - 1;
  writecache(leftOffset, left);
  writecache(path[l].offset, parent);
  freeNode(rightOffset);
}

// ---------------------------------------------------------------------------------------------
// Traversal, clear, entries

void ERBTreeOnDisk::walk(long offset, int depth, Callback callback, void* userData, int flag,
                         bool& sound, std::unordered_map<long, int>& seen) {
  if (depth > depthLimit() || !seen.emplace(offset, 0).second) {
    sound = false;
    return;
  }
  ERDiskTreeNode node(*this);
  if (!load(offset, node)) {
    sound = false;
    return;
  }
  const int n = node.counter();
  const bool writeBack = flag == 0 && canChange();
  for (int i = 0; i < n; ++i) {
    if (node.sons(i) != -1) walk(node.sons(i), depth + 1, callback, userData, flag, sound, seen);
    callback(node.keys(i), node.items(i), userData);
    if (writeBack) writecache(offset, node);
  }
  if (node.sons(n) != -1) walk(node.sons(n), depth + 1, callback, userData, flag, sound, seen);
}

int ERBTreeOnDisk::applyToKeyAndValue(Callback callback, void* userData, int flag) {
  if (isEmpty() || callback == nullptr) return 1;
  if (refused_) return 0;
  bool sound = true;
  std::unordered_map<long, int> seen;
  walk(info_.root, 1, callback, userData, flag, sound, seen);
  return sound ? 1 : 0;
}

long ERBTreeOnDisk::entries() {
  if (baseLocation_ != -1 || infoValid_) return info_.entries;
  long n = 0;
  applyToKeyAndValue([](char*, long, void* count) { ++*static_cast<long*>(count); }, &n, 1);
  info_.entries = static_cast<std::uint32_t>(n);
  return n;
}

bool ERBTreeOnDisk::collect(long offset, int depth, std::vector<long>& postOrder,
                            std::unordered_map<long, int>& seen) {
  if (depth > depthLimit() || !seen.emplace(offset, 0).second) return false;
  ERDiskTreeNode node(*this);
  if (!load(offset, node)) return false;
  if (!node.isLeaf())
    for (int i = 0; i <= node.counter(); ++i)
      if (!collect(node.sons(i), depth + 1, postOrder, seen)) return false;
  postOrder.push_back(offset);
  return true;
}

int ERBTreeOnDisk::clear() {
  if (!canChange()) return 0;
  std::vector<long> postOrder;
  std::unordered_map<long, int> seen;
  // The whole tree is checked before the first block is freed.
  if (!isEmpty() && !collect(info_.root, 1, postOrder, seen)) return 0;
  for (const long at : postOrder) freeNode(at);
  info_.root = -1;
  info_.reserved0 = -1;
  info_.entries = 0;
  infoDirty_ = true;
  writeInfo();
  rootImage_.initialize();
  return 1;
}
