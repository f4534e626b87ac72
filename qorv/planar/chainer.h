// qorv/planar/chainer.h
//
// Assembles unordered 2D pieces (segments, arcs, any piece with two ends) into chains whose
// consecutive pieces meet end to start within a tolerance. The caller derives from
// ERChainerSeg2D and supplies the ends and end tangents; the chainer compares ends, reverses
// pieces and merges chains. ERChainedMetaSeg2D is a chain (itself a piece), ERChainerProcessor
// the set of chains receiving pieces one at a time.
//
// Conventions a caller gets wrong:
// - Ends join when their squared distance is strictly below tol^2: a gap of exactly tol does
//   not join. The "start meets start" answer (3) also asks the far ends' squared distance to
//   exceed the larger of the two lengths (a squared distance against a length, on purpose).
// - firstT()/lastT() of a reversed piece swap the tangents without negating them.
// - insert() returns 1 when the chain was kept (alone or merged), 0 when refused: a chain
//   shorter than tol that is not closed, an ambiguous junction (compare answers 1 or 2), or a
//   chain already in the list. A closed chain (zero-length pieces included) is appended
//   without comparison.
// - A refusal met after merges of the same insertion does not drop anything: the walk stops
//   and the chain built so far (which holds the absorbed chains' pieces) is appended; the
//   result is 1. Only a refusal before any merge leaves the list unchanged.
// - The walk goes on after a merge from the next entry, so one insertion can absorb several
//   chains; the merged chain goes to the end of the list.
// - Pieces with NaN ends meet nothing (every comparison is false) and stay as chains of their
//   own; an empty chain has NaN ends and is refused.
// - With the standard compare the processor finds candidate chains through a grid of chain
//   ends (a chain no end of which lies within tol of the new chain's ends compares as 0), with
//   results identical to the plain walk (once a chain sharing pieces with a listed one has been
//   kept, every insertion walks the whole list). Pieces changed outside the processor (other than
//   through applyOnMChain/applyOnSegment) after insertion may be missed; a custom compare
//   (setCompare) always walks the whole list.
// - merge() shares the pieces: the absorbed chain keeps them as well; reversing a chain
//   reverses its shared pieces too.
//
// Print forms are byte-exact, the label "n" followed by the byte 0xB0 (a degree sign in the
// Windows-1252 code page). No stored image: these objects are not persistent.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "qorv/foundation/object.h"
#include "qorv/foundation/points.h"
#include "qorv/support/lists.h"

enum SegCompState {
  SEGCOMP_NONE = 0,
  SEGCOMP_AMBIGUOUS = 1,
  SEGCOMP_AMBIGUOUS2 = 2,
  SEGCOMP_FIRST_FIRST = 3,
  SEGCOMP_FIRST_LAST = 4,
  SEGCOMP_LAST_FIRST = 5,
  SEGCOMP_LAST_LAST = 6,
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERChainerSeg2D : public ERObject {
 public:
  QORV_DECLARE_CLASS(ERChainerSeg2D, ERObject);

  ERChainerSeg2D() = default;
  ERChainerSeg2D(const ERChainerSeg2D&) = delete;
  ERChainerSeg2D& operator=(const ERChainerSeg2D&) = delete;

  virtual void reverse() { reversed_ ^= 1; }
  virtual ERPoint2D first() const { return reversed_ ? getExt2() : getExt1(); }
  virtual ERPoint2D last() const { return reversed_ ? getExt1() : getExt2(); }
  virtual ERVector2D firstT() const { return reversed_ ? getTan2() : getTan1(); }
  virtual ERVector2D lastT() const { return reversed_ ? getTan1() : getTan2(); }
  // The chord by default.
  virtual double length() const;
  virtual SegCompState compareWith(const ERChainerSeg2D* other, double tol) const;
  virtual int sameDepth(const ERChainerSeg2D&) const { return 1; }
  virtual ERPoint2D getExt1() const = 0;
  virtual ERPoint2D getExt2() const = 0;
  virtual ERVector2D getTan1() const = 0;
  virtual ERVector2D getTan2() const = 0;

  int isReversed() const { return reversed_; }
  // " reverse :" flag, "  first  = " .. " last  = " .., "  firstT = " .. " lastT = " ..
  void printOn(std::ostream& os) const override;

 protected:
  // The end comparison on the current ends, without the piece-level refinement of chains.
  SegCompState compareEnds(const ERChainerSeg2D* other, double tol) const;

 private:
  int reversed_ = 0;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERChainedMetaSeg2D : public ERChainerSeg2D {
 public:
  QORV_DECLARE_CLASS(ERChainedMetaSeg2D, ERChainerSeg2D);

  ERChainedMetaSeg2D() = default;
  explicit ERChainedMetaSeg2D(t_SmartPtr<ERChainerSeg2D> seg);

  void insert(t_SmartPtr<ERChainerSeg2D> seg);
  // Appends other's pieces in other's order; other keeps them too. Merging a chain into
  // itself appends its pieces once more.
  void merge(ERChainedMetaSeg2D& other);
  void reverse() override;
  // last() and first() agree within 1e-11 in each coordinate.
  int isClosed() const;
  int entries() const { return segments_.entries(); }
  // Null for an empty chain.
  t_SmartPtr<ERChainerSeg2D> firstSeg() const;
  t_SmartPtr<ERChainerSeg2D> lastSeg() const;
  void applyOnSegment(void (*fn)(ERChainerSeg2D*, void*), void* ctx);
  const ERTValDlist<t_SmartPtr<ERChainerSeg2D>>& segments() const { return segments_; }

  // NaN for an empty chain.
  ERPoint2D getExt1() const override;
  ERPoint2D getExt2() const override;
  ERVector2D getTan1() const override;
  ERVector2D getTan2() const override;
  double length() const override { return length_; }
  SegCompState compareWith(const ERChainerSeg2D* other, double tol) const override;

  QORV_DECLARE_COPYABLE(ERChainedMetaSeg2D);
  void printOn(std::ostream& os) const override;

 private:
  ERTValDlist<t_SmartPtr<ERChainerSeg2D>> segments_;
  double length_ = 0.0;
};

// ---------------------------------------------------------------------------------------------
class QORV_API ERChainerProcessor {
 public:
  using Compare = SegCompState (*)(const ERChainedMetaSeg2D&, const ERChainedMetaSeg2D&, double);

  explicit ERChainerProcessor(double tol = 1e-6) : tol_(tol) {}
  ERChainerProcessor(const ERChainerProcessor&) = default;
  ERChainerProcessor& operator=(const ERChainerProcessor&) = default;
  virtual ~ERChainerProcessor() = default;

  static SegCompState StandardCompare(const ERChainedMetaSeg2D& a, const ERChainedMetaSeg2D& b,
                                      double tol);

  int insert(t_SmartPtr<ERChainerSeg2D> seg);
  int insert(t_SmartPtr<ERChainedMetaSeg2D> chain);
  int nbchains() const { return live_; }
  // Null for a bad index.
  const ERChainedMetaSeg2D* getAt(int i) const;
  void setTol(double tol) { tol_ = tol, dirty_ = true; }
  double getTol() const { return tol_; }
  void setCompare(Compare c) { compare_ = c != nullptr ? c : &StandardCompare, dirty_ = true; }
  void applyOnMChain(void (*fn)(ERChainedMetaSeg2D*, void*), void* ctx);
  void applyOnSegment(void (*fn)(ERChainerSeg2D*, void*), void* ctx);

  // "Gestionnaire de Chaine 2D ", "   nb de chaines : " n, then "   chaine n\xB0" i and each
  // chain's form.
  virtual void printOn(std::ostream& os) const;

 private:
  struct CellHash {
    std::size_t operator()(const std::pair<std::int64_t, std::int64_t>& c) const {
      const std::uint64_t h = static_cast<std::uint64_t>(c.first) * 0x9E3779B97F4A7C15ull +
                              static_cast<std::uint64_t>(c.second) * 0xC2B2AE3D27D4EB4Full;
      return static_cast<std::size_t>(h ^ (h >> 29));
    }
  };
  using Cell = std::pair<std::int64_t, std::int64_t>;

  void compact() const;
  void rebuildIndex();
  void indexSlot(int slot);
  int cellOf(const ERPoint2D& p, Cell& c) const;
  void candidates(const ERChainedMetaSeg2D& x, int after, bool all, std::vector<int>& out) const;

  // The list in order; removed entries are null until compacted.
  mutable std::vector<t_SmartPtr<ERChainedMetaSeg2D>> slots_;
  int live_ = 0;
  double tol_;
  Compare compare_ = &StandardCompare;
  // The end grid, valid while !dirty_; entries may name slots since emptied.
  mutable bool dirty_ = true;
  bool indexed_ = false;
  double inv_ = 0.0;
  std::unordered_map<Cell, std::vector<int>, CellHash> grid_;
  std::vector<int> always_;  // slots compared whatever their ends
  std::unordered_set<const ERChainedMetaSeg2D*> members_;
  std::unordered_set<const ERChainerSeg2D*> pieces_;
  // Some piece is held by two listed chains: reversing one chain moves the other's ends behind
  // the grid's back, so every later insertion walks the whole list.
  bool sharedPieces_ = false;
};
