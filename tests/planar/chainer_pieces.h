// tests/planar/chainer_pieces.h
//
// A straight piece for the chainer tests: its two ends, its direction as both tangents, and an
// identifier so that a test can follow it through the chains; and the chains written out.
#pragma once

#include <string>

#include "qorv/planar/chainer.h"

namespace qorv_test {

class Piece : public ERChainerSeg2D {
 public:
  Piece(ERPoint2D a, ERPoint2D b, int id = 0) : a_(a), b_(b), id_(id) {}
  ERPoint2D getExt1() const override { return a_; }
  ERPoint2D getExt2() const override { return b_; }
  ERVector2D getTan1() const override { return ERVector2D(a_, b_); }
  ERVector2D getTan2() const override { return ERVector2D(a_, b_); }
  ERObject* getCopy() const override { return new Piece(a_, b_, id_); }
  int id() const { return id_; }

 private:
  ERPoint2D a_, b_;
  int id_;
};

// The chains as "id" or "id~" (reversed) for each piece, chains apart by "| ".
inline std::string describe(const ERChainerProcessor& p) {
  std::string s;
  for (int i = 0; i < p.nbchains(); ++i) {
    if (i) s += "| ";
    for (const auto& q : p.getAt(i)->segments())
      s += std::to_string(dynamic_cast<const Piece*>(q.get())->id()) +
           (q->isReversed() ? "~ " : " ");
  }
  return s;
}

}  // namespace qorv_test
