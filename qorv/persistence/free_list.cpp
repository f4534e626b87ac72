// The free-space list of a database file: a ring of nodes of free extents, and the index over
// them that finds a fitting extent without walking the ring (the block heap's allocator).
#include "qorv/persistence/extent_index.h"
#include "qorv/persistence/file_manager.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <unordered_map>

#include "qorv/platform/debug.h"

using namespace qorv::platform;

// Named, not anonymous: ERListManager::Ring holds what is declared here.
namespace qorv::detail::free_list {

constexpr long kRoot = ERFileManager::kRootOffset;
constexpr long kFirst = ERFileManager::kFirstBlock;
constexpr long kNode = ERListManager::kNodeSize;
constexpr std::int64_t kMaxOffset = INT32_MAX;  // offsets are 32-bit on disk
bool g_indexed = true;

// Bounds a walk along next links and stops it early on a cycle that misses its origin
// (Brent's cycle detection: a checkpoint moved at power-of-two step counts).
class RingWalk {
 public:
  RingWalk(long origin, std::uint64_t limit) : saved_(origin), limit_(limit) {}
  // False when the walk must stop: too many steps, or back at a checkpoint.
  bool step(long next) {
    if (++steps_ > limit_ || next == saved_) return false;
    if (++lam_ == power_) {
      saved_ = next;
      power_ *= 2;
      lam_ = 0;
    }
    return true;
  }

 private:
  long saved_;
  std::uint64_t limit_;
  std::uint64_t steps_ = 0;
  std::uint64_t power_ = 1;
  std::uint64_t lam_ = 0;
};

void removeEntry(ERFreeListNode& n, int i) {
  for (int j = i; j + 1 < n.count; ++j) {
    n.offset[j] = n.offset[j + 1];
    n.size[j] = n.size[j + 1];
  }
  --n.count;
  n.offset[n.count] = 0;
  n.size[n.count] = 0;
}

}  // namespace qorv::detail::free_list

using namespace qorv::detail::free_list;
using qorv::detail::ExtentIndex;
// ---------------------------------------------------------------------------------------------
// ERListManager

// ---------------------------------------------------------------------------------------------
// The ring beside the cache

// Nodes that would take an allocation beyond which the ring leaves the stop to the walk.
constexpr std::size_t kRoomyNodes = 32;

struct ERListManager::Ring {
  struct Node {
    std::uint64_t label;  // rises along the ring from the root's 0
    long next;
    long prev;
    std::uint32_t largest = 0;  // its largest extent
    bool listed = false;        // in bySize
  };
  std::unordered_map<long, Node> nodes;
  std::set<long> slots;  // every node but the root, by offset
  ExtentIndex extents;
  // Nodes not full, by label: the first after a node along the ring is one look-up away.
  std::set<std::pair<std::uint64_t, long>> roomy;
  std::set<std::pair<std::uint32_t, long>> bySize;  // (largest extent, node)
  // The nodes whose largest extent is at least fitNeed, by label (fitNeed 0: not kept): when
  // many nodes would take an allocation of that size but those after the origin would not.
  std::uint32_t fitNeed = 0;
  std::set<std::pair<std::uint64_t, long>> fits;
  std::uint64_t walked = 0;  // nodes allocation walks passed since fits was last made
  std::int64_t reach = 0;    // no node or extent of the ring reaches past it
  long pending = -1;         // a node written but not linked yet
  ERFreeListNode pendingNode;

  static constexpr std::uint64_t kStep = std::uint64_t(1) << 32;

  static std::uint32_t largestOf(const ERFreeListNode& n) {
    std::uint32_t l = 0;
    for (int i = 0; i < n.count; ++i) l = std::max(l, n.size[i]);
    return l;
  }

  // False when it would overlap another extent: the ring is not what a walk expects.
  bool add(std::uint32_t o, std::uint32_t size, long owner) {
    return extents.insert(o, size, owner);
  }
  bool remove(std::uint32_t o, long owner) { return extents.erase(o, owner); }
  bool resize(std::uint32_t o, std::uint32_t size, long owner) {
    ExtentIndex::Entry* e = extents.find(o);
    if (e == nullptr || e->owner != owner || !extents.roomAfter(o, std::int64_t(o) + size))
      return false;
    e->size = size;
    return true;
  }
  bool addAll(long at, const ERFreeListNode& n) {
    for (int i = 0; i < n.count; ++i)
      if (!add(n.offset[i], n.size[i], at)) return false;
    Node& node = nodes.at(at);
    if (n.count < ERFreeListNode::kCapacity) roomy.insert({node.label, at});
    setLargest(node, at, largestOf(n));
    return true;
  }
  bool removeAll(long at, const ERFreeListNode& n) {
    for (int i = 0; i < n.count; ++i)
      if (!remove(n.offset[i], at)) return false;
    Node& node = nodes.at(at);
    roomy.erase({node.label, at});
    bySize.erase({node.largest, at});
    node.listed = false;
    if (fitNeed != 0 && node.largest >= fitNeed) fits.erase({node.label, at});
    return true;
  }
  // Both images sorted: only what changed is touched, removals first so that a merge does not
  // meet the extent it swallows. largest: now's largest extent.
  bool change(long at, const ERFreeListNode& was, const ERFreeListNode& now,
              std::uint32_t largest) {
    Node& node = nodes.at(at);
    if (simpleChange(at, was, now)) {
      setRoom(node, at, was.count, now.count);
      setLargest(node, at, largest);
      return true;
    }
    for (int i = 0, j = 0; i < was.count; ++i) {
      while (j < now.count && now.offset[j] < was.offset[i]) ++j;
      if ((j == now.count || now.offset[j] != was.offset[i]) && !remove(was.offset[i], at))
        return false;
    }
    for (int i = 0, j = 0; j < now.count; ++j) {
      while (i < was.count && was.offset[i] < now.offset[j]) ++i;
      if (i < was.count && was.offset[i] == now.offset[j]) {
        if (was.size[i] != now.size[j] && !resize(now.offset[j], now.size[j], at)) return false;
      } else if (!add(now.offset[j], now.size[j], at)) {
        return false;
      }
    }
    setRoom(node, at, was.count, now.count);
    setLargest(node, at, largest);
    return true;
  }
  // The changes one free or one allocation makes to a node: one extent added, removed, resized
  // in place or cut from, the others as they were. Done when true; false, nothing done.
  bool simpleChange(long at, const ERFreeListNode& was, const ERFreeListNode& now) {
    const int m = std::min(was.count, now.count);
    int p = 0;
    while (p < m && was.offset[p] == now.offset[p] && was.size[p] == now.size[p]) ++p;
    auto same = [](const std::uint32_t* a, const std::uint32_t* b, int n) {
      return n <= 0 || std::memcmp(a, b, std::size_t(n) * 4) == 0;
    };
    auto tail = [&](int w, int n) {
      const int k = was.count - w;
      return k == now.count - n && same(was.offset + w, now.offset + n, k) &&
             same(was.size + w, now.size + n, k);
    };
    if (now.count == was.count + 1 && tail(p, p + 1)) return add(now.offset[p], now.size[p], at);
    if (was.count == now.count + 1 && tail(p + 1, p)) return remove(was.offset[p], at);
    if (was.count == now.count && p < m && tail(p + 1, p + 1)) {
      if (was.offset[p] == now.offset[p]) return resize(now.offset[p], now.size[p], at);
      return extents.shrink(was.offset[p], now.offset[p], now.size[p], at);
    }
    return false;
  }
  // Membership changes only when the node fills up or gains room (insert finds before it
  // allocates: most changes leave the set as it was).
  void setRoom(const Node& node, long at, int wasCount, int nowCount) {
    if (nowCount < ERFreeListNode::kCapacity) {
      if (wasCount >= ERFreeListNode::kCapacity) roomy.insert({node.label, at});
    } else if (wasCount < ERFreeListNode::kCapacity) {
      roomy.erase({node.label, at});
    }
  }
  // The node's largest extent, in bySize and fits; a node new to them comes with largest 0.
  void setLargest(Node& node, long at, std::uint32_t l) {
    if (node.listed && node.largest == l) return;
    if (node.listed) {
      bySize.erase({node.largest, at});
      if (fitNeed != 0 && node.largest >= fitNeed) fits.erase({node.label, at});
    }
    node.largest = l;
    node.listed = true;
    bySize.insert({l, at});
    if (fitNeed != 0 && l >= fitNeed) fits.insert({node.label, at});
  }
  void makeFits(std::uint32_t need) {
    fits.clear();
    fitNeed = need;
    walked = 0;
    for (auto it = bySize.lower_bound({need, LONG_MIN}); it != bySize.end(); ++it)
      fits.emplace(nodes.at(it->second).label, it->second);
  }
  void relabel() {
    std::uint64_t label = 0;
    long at = ERFileManager::kRootOffset;
    do {
      Node& n = nodes.at(at);
      n.label = label;
      label += kStep;
      at = n.next;
    } while (at != ERFileManager::kRootOffset);
    std::set<std::pair<std::uint64_t, long>> relabelled;
    for (const auto& [old, x] : roomy) relabelled.emplace(nodes.at(x).label, x);
    roomy = std::move(relabelled);
    if (fitNeed != 0) makeFits(fitNeed);
  }
  // Links p in after x; false when the labels cannot say where it is.
  bool link(long x, long p) {
    Node& nx = nodes.at(x);
    const long a = nx.next;
    auto gap = [&]() -> std::uint64_t {
      const std::uint64_t hi = a == ERFileManager::kRootOffset ? UINT64_MAX : nodes.at(a).label;
      return hi - nodes.at(x).label;
    };
    if (gap() < 2) {
      relabel();
      if (gap() < 2) return false;
    }
    const std::uint64_t label = nodes.at(x).label + gap() / 2;
    nodes[p] = Node{label, a, x};
    nodes.at(x).next = p;
    nodes.at(a).prev = p;
    slots.insert(p);
    return true;
  }
};

ERListManager::ERListManager(const ERListManager& other)
    : fm_(other.fm_), current_(other.current_), node_(other.node_), haveNode_(other.haveNode_) {}

ERListManager::~ERListManager() = default;

ERListManager& ERListManager::operator=(const ERListManager& other) {
  fm_ = other.fm_;
  current_ = other.current_;
  node_ = other.node_;
  haveNode_ = other.haveNode_;
  cache_.clear();
  ++epoch_;
  ring_.reset();
  return *this;
}

void ERListManager::dropRing() { ring_.reset(); }

bool ERListManager::buildRing() {
  ring_.reset();
  auto r = std::make_unique<Ring>();
  RingWalk walk(kRoot, walkLimit());
  long at = kRoot, prev = -1;
  std::uint64_t label = 0;
  for (;;) {
    // Read as a walk reads, but quietly: a node with a wrong magic leaves the walk to speak.
    if (!nodeSlotIsSound(at) || r->nodes.size() >= kCachedNodes / 2) return false;
    auto hit = cache_.find(at);
    if (hit == cache_.end()) {
      ERFreeListNode n;
      if (!fm_->readAt(at, &n, sizeof n)) return false;
      hit = remember(at, n);
    }
    const CachedNode& c = hit->second;
    if (!c.shapeOk || c.reach > fm_->endData_ || c.node.magic != ERFreeListNode::kMagic)
      return false;
    if (!r->nodes.emplace(at, Ring::Node{label, c.node.next, prev}).second) return false;
    if (at != kRoot) r->slots.insert(at);
    if (!r->addAll(at, c.node)) return false;
    r->reach = std::max(r->reach, c.reach);
    label += Ring::kStep;
    prev = at;
    if (c.node.next == kRoot) break;
    at = c.node.next;
    if (!walk.step(at)) return false;
  }
  r->nodes.at(kRoot).prev = prev;
  ring_ = std::move(r);
  return true;
}

void ERListManager::followRing(long x, const CachedNode* old, const CachedNode& d) {
  Ring& r = *ring_;
  const ERFreeListNode& n = d.node;
  if (!d.shapeOk || n.magic != ERFreeListNode::kMagic) return dropRing();
  const auto it = r.nodes.find(x);
  if (it == r.nodes.end()) {
    // A new node is written before anything links to it.
    if (r.pending != -1 && r.pending != x) return dropRing();
    r.pending = x;
    r.pendingNode = n;
    return;
  }
  if (old == nullptr || it->second.next != old->node.next) return dropRing();
  const long a = old->node.next;
  if (n.next != a) {
    const auto an = r.nodes.find(a);
    if (n.next == r.pending && r.pendingNode.next == a && an != r.nodes.end()) {
      const long p = r.pending;
      r.pending = -1;
      if (!nodeSlotIsSound(p) || !r.link(x, p) || !r.addAll(p, r.pendingNode)) return dropRing();
      r.reach = std::max(r.reach, describe(p, r.pendingNode).reach);
    } else if (a != kRoot && a != x && an != r.nodes.end() && n.next == an->second.next &&
               n.next != a) {
      // a leaves the ring: the node before it now leads past it.
      const auto cached = cache_.find(a);
      if (cached == cache_.end() || !r.removeAll(a, cached->second.node)) return dropRing();
      const long after = an->second.next;
      r.nodes.erase(an);
      r.slots.erase(a);
      r.nodes.at(x).next = after;
      r.nodes.at(after).prev = x;
    } else {
      return dropRing();
    }
  }
  if (!r.change(x, old->node, n, d.largest)) return dropRing();
  r.reach = std::max(r.reach, d.reach);
}

void ERListManager::setIndexed(bool on) { g_indexed = on; }

bool ERListManager::ringReady(long origin) {
  if (!g_indexed) return false;
  if (!ring_) {
    if (ringRetry_ > 0) {
      --ringRetry_;
      return false;
    }
    if (!buildRing()) {
      dropRing();
      ringRetry_ = 64;
      return false;
    }
  }
  const Ring& r = *ring_;
  if (r.pending != -1 || fm_->endData_ < r.reach) {
    dropRing();
    return false;
  }
  const auto o = r.nodes.find(origin);
  return o != r.nodes.end() && o->second.next == node_.next;
}

long ERListManager::ringAllocationStop(long origin, std::uint32_t need) {
  if (!ringReady(origin)) return -1;
  Ring& r = *ring_;
  // The walk stops at the first node after origin with an extent of need bytes, or at the one
  // that leads back to origin.
  const Ring::Node& o = r.nodes.at(origin);
  long best = o.prev;
  std::uint64_t bestKey = r.nodes.at(best).label - o.label;
  auto consider = [&](long x) {
    if (const std::uint64_t key = r.nodes.at(x).label - o.label; key < bestKey) {
      bestKey = key;
      best = x;
    }
  };
  if (r.fitNeed != need) {
    int k = 0;
    bool many = false;
    for (auto it = r.bySize.lower_bound({need, LONG_MIN}); it != r.bySize.end(); ++it) {
      if (it->second == origin) continue;
      if (++k > int(kRoomyNodes)) {
        many = true;
        break;
      }
      consider(it->second);
    }
    if (!many) return best;
    // Many will do, and the walk usually finds one soon; once walks have passed as many nodes
    // as the ring holds, the nodes that fit are kept by label instead.
    if (r.walked < r.nodes.size()) return -1;
    r.makeFits(need);
  }
  // Of the nodes that fit, only the first after origin along the ring can be the stop.
  auto first = r.fits.upper_bound({o.label, LONG_MAX});
  for (int k = 0; k < 2 && !r.fits.empty(); ++k, ++first) {
    if (first == r.fits.end()) first = r.fits.begin();
    if (first->second != origin) {
      consider(first->second);
      break;
    }
  }
  return best;
}

long ERListManager::ringStop(long origin, long b, std::uint32_t s) {
  if (!ringReady(origin)) return -1;
  Ring& r = *ring_;
  const auto o = r.nodes.find(origin);
  // The walk stops at the first node after origin that has room, touches the extent, or leads
  // back to origin. Labels rise along the ring, so their distance from origin's (modulo 2^64)
  // orders the candidates as the walk meets them.
  const std::uint64_t base = o->second.label;
  long best = o->second.prev;
  std::uint64_t bestKey = r.nodes.at(best).label - base;
  bool lost = false;
  auto consider = [&](long x) {
    if (x == origin) return;
    const auto f = r.nodes.find(x);
    if (f == r.nodes.end()) {
      lost = true;
      return;
    }
    const std::uint64_t key = f->second.label - base;
    if (key < bestKey) {
      bestKey = key;
      best = x;
    }
  };
  // Of the nodes with room, only the first after origin along the ring can be the stop.
  auto first = r.roomy.upper_bound({base, LONG_MAX});
  for (int k = 0; k < 2 && !r.roomy.empty(); ++k, ++first) {
    if (first == r.roomy.end()) first = r.roomy.begin();
    if (first->second != origin) {
      consider(first->second);
      break;
    }
  }
  // Extents that meet [b, e] (touch or overlap): the extents are disjoint, so they are the last
  // ones starting at or before e, back to the first that ends before b.
  const std::int64_t e = b + std::int64_t(s);
  if (e > UINT32_MAX) return -1;
  ExtentIndex::Pos at = r.extents.upperBound(static_cast<std::uint32_t>(e));
  for (int k = 0;; ++k) {
    const ExtentIndex::Entry* x = r.extents.before(at);
    if (x == nullptr || std::int64_t(x->offset) + x->size < b) break;
    if (k == 16) return -1;
    consider(x->owner);
  }
  // Nodes whose own block the extent overlaps.
  for (auto sl = r.slots.lower_bound(b - kNode + 1); sl != r.slots.end() && *sl < e; ++sl)
    consider(*sl);
  return lost ? -1 : best;
}

ERListManager::ERListManager(ERFileManager* fileManager, int fresh)
    : fm_(fileManager), current_(kRoot) {
  if (fresh) {
    node_ = ERFreeListNode{};
    node_.next = static_cast<std::int32_t>(kRoot);
    storeNode(kRoot, node_);
    haveNode_ = true;
  } else {
    haveNode_ = loadNode(kRoot, node_);
  }
}

bool ERListManager::nodeSlotIsSound(long offset) const {
  return offset == kRoot ||
         (offset >= kFirst && offset % 4 == 0 && offset + kNode <= fm_->endData_);
}

ERListManager::CachedNode ERListManager::describe(long offset, const ERFreeListNode& n) {
  CachedNode c{n, 0, 0, false};
  if (n.count < 0 || n.count > ERFreeListNode::kCapacity) return c;
  const std::int64_t next = n.next;
  if (next != kRoot && (next < kFirst || next % 4 != 0 || next == offset)) return c;
  std::int64_t reach = std::max<std::int64_t>(offset == kRoot ? 0 : offset + kNode,
                                              next == kRoot ? 0 : next + kNode);
  std::int64_t previousEnd = kFirst;
  for (int i = 0; i < n.count; ++i) {
    const std::int64_t o = n.offset[i], sz = n.size[i], e = o + sz;
    if (o < previousEnd || o % 4 != 0 || sz < 4 || sz % 4 != 0) return c;
    if (offset != kRoot && o < offset + kNode && offset < e) return c;  // covers itself
    previousEnd = e;
    c.largest = std::max(c.largest, n.size[i]);
  }
  c.reach = std::max(reach, previousEnd);
  c.shapeOk = true;
  return c;
}

std::uint64_t ERListManager::walkLimit() const {
  const std::int64_t used = std::int64_t(fm_->endData_) - kFirst;
  return used > 0 ? static_cast<std::uint64_t>(used / kNode) + 2 : 2;
}

const ERListManager::CachedNode* ERListManager::peekNode(long offset) {
  if (!nodeSlotIsSound(offset)) return nullptr;
  auto hit = cache_.find(offset);
  if (hit == cache_.end()) {
    ERFreeListNode n;
    if (!fm_->readAt(offset, &n, sizeof n)) return nullptr;
    hit = remember(offset, n);
  }
  const CachedNode& c = hit->second;
  if (c.node.magic != ERFreeListNode::kMagic) OutputDebugStringA("BAD MAGIC NUMBER");
  // The shape is checked once; the bounds on every load, as endData may have dropped since.
  if (!c.shapeOk || c.reach > fm_->endData_) return nullptr;
  return &c;
}

const ERListManager::CachedNode* ERListManager::peekNext(const CachedNode* from, long offset) {
  // A walk follows each node's next: the element it leads to is remembered with the node, so
  // a long ring costs no hash look-ups. Any removal from the cache forgets every such link.
  if (from == nullptr || from->linkEpoch != epoch_ || from->linkAt != offset)
    return rememberLink(from, offset, peekNode(offset));
  if (!nodeSlotIsSound(offset)) return nullptr;
  const CachedNode& c = *from->link;
  if (c.node.magic != ERFreeListNode::kMagic) OutputDebugStringA("BAD MAGIC NUMBER");
  if (!c.shapeOk || c.reach > fm_->endData_) return nullptr;
  return &c;
}

const ERListManager::CachedNode* ERListManager::rememberLink(const CachedNode* from, long offset,
                                                             const CachedNode* to) {
  if (from != nullptr && to != nullptr) {
    from->link = to;
    from->linkAt = offset;
    from->linkEpoch = epoch_;
  }
  return to;
}

bool ERListManager::loadNode(long offset, ERFreeListNode& out) {
  const CachedNode* c = peekNode(offset);
  if (c == nullptr) return false;
  out = c->node;
  return true;
}

ERListManager::Cache::iterator ERListManager::remember(long offset, const ERFreeListNode& n) {
  auto it = cache_.find(offset);
  if (it != cache_.end()) {
    it->second = describe(offset, n);
    return it;
  }

  return cache_.emplace(offset, describe(offset, n)).first;
}

void ERListManager::storeNode(long offset, const ERFreeListNode& n) {
  try {
    fm_->writeAt(offset, &n, sizeof n);
  } catch (CFileException&) {
    cache_.erase(offset);  // the file may hold part of it: read it again
    ++epoch_;
    dropRing();
    throw;
  }
  // Described once, for the ring and the cache alike.
  const CachedNode d = describe(offset, n);
  const auto hit = cache_.find(offset);
  if (ring_) followRing(offset, hit == cache_.end() ? nullptr : &hit->second, d);
  if (hit != cache_.end()) {
    hit->second = d;
  } else {
    cache_.emplace(offset, d);
  }
}

bool ERListManager::readNode(long offset) {
  if (!loadNode(offset, node_)) return false;
  current_ = offset;
  haveNode_ = true;
  return true;
}

void ERListManager::writeNode() {
  // endData can only have dropped below a linked node through a bogus free: never write there.
  if (!nodeSlotIsSound(current_)) {
    haveNode_ = false;
    return;
  }
  storeNode(current_, node_);
}

void ERListManager::restartAtRoot() {
  dropRing();
  if (!readNode(kRoot)) {
    current_ = kRoot;
    haveNode_ = false;
  }
}

bool ERListManager::ensureCurrent() {
  if (haveNode_) return true;
  if (readNode(current_)) return true;
  return current_ != kRoot && readNode(kRoot);
}

int ERListManager::readHeader(long blockOffset, std::uint32_t& size) const {
  return fm_->readAt(blockOffset, &size, 4);
}

void ERListManager::writeHeader(long blockOffset, std::uint32_t size) {
  fm_->writeAt(blockOffset, &size, 4);
}

void ERListManager::trimCache() {
  // Only between walks: a walk holds pointers into the cache.
  if (cache_.size() >= kCachedNodes) {
    cache_.clear();
    ++epoch_;
    dropRing();  // it relies on every node of the ring being cached
  }
}

long ERListManager::allocate(std::uint32_t size) {
  if (depth_ == 0) trimCache();
  ++depth_;
  struct Leave {
    int& d;
    ~Leave() { --d; }
  } leave{depth_};
  // The payload rounded up to 4, plus the size word.
  const std::uint64_t wanted = (std::uint64_t(size) + 7) & ~std::uint64_t(3);
  if (wanted > static_cast<std::uint64_t>(kMaxOffset)) return -1;
  auto need = static_cast<std::uint32_t>(wanted);
  try {
    if (!ensureCurrent()) return -1;
    const long origin = current_;
    RingWalk walk(origin, walkLimit());
    for (;;) {
      int i = 0;
      while (i < node_.count && node_.size[i] < need) ++i;
      if (i < node_.count) {
        const long o = node_.offset[i];
        const std::uint32_t s = node_.size[i];
        // The index's bucket and the block's first line come in while the node is written.
        if (ring_) ring_->extents.prefetch(std::uint32_t(o));
        if (const char* p = fm_->cachedSpan(std::uint64_t(o), 4)) qorv::detail::prefetch(p, true);
        if (s - need < 8) {
          need = s;  // a remainder too small to be a block of its own goes with it
          removeEntry(node_, i);
        } else {
          node_.offset[i] += need;
          node_.size[i] -= need;
        }
        if (node_.count > 0 || (current_ == kRoot && node_.next == kRoot)) {
          writeNode();
        } else {
          deleteNode();
        }
        writeHeader(o, need);
        fm_->Seek(o + 4, CFile::begin);
        return o + 4;
      }
      if (node_.next == origin) break;  // every node tried
      if (current_ == origin) {
        if (const long stop = ringAllocationStop(origin, need); stop >= 0) {
          node_ = cache_.find(stop)->second.node;
          current_ = stop;
          continue;
        }
      }
      // On to the next node that has a large enough extent, or the last one before origin.
      long at = node_.next;
      const CachedNode* c = nullptr;
      const CachedNode* from = peekNode(current_);
      for (;;) {
        if (!walk.step(at) || (c = peekNext(from, at)) == nullptr) {
          restartAtRoot();
          return -1;
        }
        if (c->largest >= need || c->node.next == origin) break;
        if (ring_) ++ring_->walked;
        from = c;
        at = c->node.next;
      }
      node_ = c->node;
      current_ = at;
    }
    // Cut from the end. The size word goes first: if the file cannot grow, endData is unchanged.
    const long o = fm_->endData_;
    if (o < kFirst || o + std::int64_t(need) > kMaxOffset) return -1;
    writeHeader(o, need);
    fm_->writeWord(4, static_cast<std::int32_t>(o + need));
    fm_->endData_ = static_cast<std::int32_t>(o + need);
    fm_->Seek(o + 4, CFile::begin);
    return o + 4;
  } catch (CFileException&) {
    haveNode_ = false;  // the image may be ahead of the file: reload it next time
    throw;
  }
}

void ERListManager::prefetchFree(long offset) const {
  if (ring_ && offset >= 4 && offset <= kMaxOffset)
    ring_->extents.prefetch(std::uint32_t(offset - 4));
}

void ERListManager::deallocate(long offset) {
  if (depth_ == 0) trimCache();
  ++depth_;
  struct Leave {
    int& d;
    ~Leave() { --d; }
  } leave{depth_};
  if (offset < kFirst + 4 || offset > kMaxOffset || offset % 4 != 0) return;
  const long b = offset - 4;
  std::uint32_t s;
  if (!readHeader(b, s)) return;
  if (s < 4 || s % 4 != 0 || b + std::int64_t(s) > fm_->endData_) return;  // not a block
  try {
    addToFreeList(b, s);
  } catch (CFileException&) {
    haveNode_ = false;
    throw;
  }
}

void ERListManager::addToFreeList(long b, std::uint32_t s) {
  if (fm_->endData_ <= b + std::int64_t(s)) {
    fm_->deallocateFromEnd(b, s);  // the last block: used space shrinks, the file does not
    return;
  }
  if (!ensureCurrent()) return;
  const long origin = current_;
  RingWalk walk(origin, walkLimit());
  for (;;) {
    switch (insertInto(node_, b, s)) {
      case Insert::accepted:
        writeNode();
        return;
      case Insert::refused:
        return;
      case Insert::full:
        break;
    }
    if (node_.next == origin) {
      extendFreeList(b, s);
      return;
    }
    if (current_ == origin) {
      if (const long stop = ringStop(origin, b, s); stop >= 0) {
        node_ = cache_.find(stop)->second.node;
        current_ = stop;
        haveNode_ = true;
        continue;
      }
    }
    // On along the ring, past the nodes that are full and do not touch the extent without
    // copying them: the first that would take or refuse it, or the last one, becomes current.
    long at = node_.next;
    const CachedNode* from = peekNode(current_);
    const CachedNode* c = nullptr;
    for (;;) {
      if (!walk.step(at) || (c = peekNext(from, at)) == nullptr) {
        restartAtRoot();
        return;
      }
      if (c->node.count < ERFreeListNode::kCapacity || c->node.next == origin ||
          touches(c->node, at, b, s))
        break;
      from = c;
      at = c->node.next;
    }
    node_ = c->node;
    current_ = at;
    haveNode_ = true;
  }
}

bool ERListManager::touches(const ERFreeListNode& n, long at, long b, std::uint32_t s) {
  // Whether a full node would do anything but refuse for want of room: merge with a neighbour,
  // or refuse because the extent overlaps the node or one of its extents.
  const std::int64_t e = b + std::int64_t(s);
  if (at != kRoot && b < at + kNode && at < e) return true;
  const int j = static_cast<int>(
      std::upper_bound(n.offset, n.offset + n.count, b,
                       [](std::int64_t v, std::uint32_t o) { return v < std::int64_t(o); }) -
      n.offset);
  if (j > 0 && std::int64_t(n.offset[j - 1]) + n.size[j - 1] >= b) return true;
  return j < n.count && e >= n.offset[j];
}

ERListManager::Insert ERListManager::insertInto(ERFreeListNode& n, long b, std::uint32_t s) const {
  const std::int64_t e = b + std::int64_t(s);
  // An extent that overlaps this node is a second free or not a block at all.
  if (current_ != kRoot && b < current_ + kNode && current_ < e) return Insert::refused;
  // The entries are sorted and disjoint: only the neighbours of b can touch or overlap it, the
  // one before (which it may follow) examined first, as a scan in index order would.
  const int j = static_cast<int>(
      std::upper_bound(n.offset, n.offset + n.count, b,
                       [](std::int64_t v, std::uint32_t o) { return v < std::int64_t(o); }) -
      n.offset);
  if (j > 0) {
    const std::int64_t before = std::int64_t(n.offset[j - 1]) + n.size[j - 1];
    if (before > b) return Insert::refused;
    if (before == b) {
      const int i = j - 1;
      n.size[i] += s;
      if (i + 1 < n.count && n.offset[i] + n.size[i] == n.offset[i + 1]) {
        n.size[i] += n.size[i + 1];
        removeEntry(n, i + 1);
      }
      return Insert::accepted;
    }
  }
  if (j < n.count) {
    if (e > n.offset[j]) return Insert::refused;
    if (e == n.offset[j]) {
      n.offset[j] = static_cast<std::uint32_t>(b);
      n.size[j] += s;
      return Insert::accepted;
    }
  }
  if (n.count == ERFreeListNode::kCapacity) return Insert::full;
  for (int k = n.count; k > j; --k) {
    n.offset[k] = n.offset[k - 1];
    n.size[k] = n.size[k - 1];
  }
  n.offset[j] = static_cast<std::uint32_t>(b);
  n.size[j] = s;
  ++n.count;
  return Insert::accepted;
}

void ERListManager::extendFreeList(long b, std::uint32_t s) {
  const long payload = allocate(kNode - 4);
  if (payload < 0) return;  // no room for a node: the extent stays out of reach
  const long at = payload - 4;
  ERFreeListNode fresh;
  fresh.next = node_.next;
  fresh.count = 1;
  fresh.offset[0] = static_cast<std::uint32_t>(b);
  fresh.size[0] = s;
  // The new node is on disk before anything links to it; if it cannot be written, its block
  // goes back when it is the last one, and the extent stays allocated to the caller.
  try {
    storeNode(at, fresh);
  } catch (CFileException&) {
    try {
      fm_->deallocateFromEnd(at, static_cast<std::uint32_t>(kNode));
    } catch (CFileException& again) {
    }
    throw;
  }
  node_.next = static_cast<std::int32_t>(at);
  writeNode();
  current_ = at;
  node_ = fresh;
  haveNode_ = true;
}

void ERListManager::deleteNode() {
  const long d = current_;
  if (d != kRoot) {
    // The node before D, found along remembered links; only it is copied.
    long at = kRoot;
    const CachedNode* c = nullptr;
    if (ringReady(d)) {
      at = ring_->nodes.at(d).prev;
      c = &cache_.find(at)->second;
    } else {
      c = peekNode(kRoot);
    }
    bool found = c != nullptr;
    RingWalk walk(kRoot, walkLimit());
    while (found && c->node.next != d) {
      if (c->node.next == kRoot || !walk.step(c->node.next)) {
        found = false;
      } else {
        at = c->node.next;
        c = peekNext(c, at);
        found = c != nullptr;
      }
    }
    ERFreeListNode before;
    if (found) before = c->node;
    if (!found || node_.next == d) {
      writeNode();  // unreachable from the root: keep it, empty, where it is
      return;
    }
    before.next = node_.next;
    storeNode(at, before);
    current_ = at;
    node_ = before;
    cache_.erase(d);
    ++epoch_;
    addToFreeList(d, static_cast<std::uint32_t>(kNode));
  } else {
    // The root stays at its offset: it takes over the next node, whose block is freed.
    const long n = node_.next;
    ERFreeListNode following;
    if (!loadNode(n, following) || following.next == n) {
      writeNode();
      return;
    }
    storeNode(kRoot, following);
    node_ = following;
    cache_.erase(n);
    ++epoch_;
    addToFreeList(n, static_cast<std::uint32_t>(kNode));
  }
}
