// The chainer's end grid against the plain list walk: the same insertion sequences through a
// processor with the standard compare and through one whose compare wraps it (which walks
// every chain) must leave the same chains, pieces, reversals and return codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "qorv/planar/chainer.h"
#include "tests/planar/chainer_pieces.h"
#include "tests/test_seed.h"

namespace {

using qorv_test::describe, qorv_test::Piece;

SegCompState wrapped(const ERChainedMetaSeg2D& a, const ERChainedMetaSeg2D& b, double tol) {
  return ERChainerProcessor::StandardCompare(a, b, tol);
}

// One insertion: a piece (or a chain of pieces), or again an earlier insertion's object.
struct Op {
  std::vector<std::pair<ERPoint2D, ERPoint2D>> pieces;
  int again = -1;
};

std::vector<Op> randomSequence(std::mt19937& rng, double tol, double off, double scale) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Op> ops;
  const auto P = [&](double x, double y) { return ERPoint2D(off + scale * x, off + scale * y); };
  const auto one = [&](ERPoint2D a, ERPoint2D b) {
    Op o;
    o.pieces.push_back({a, b});
    ops.push_back(o);
  };
  const int polys = 1 + static_cast<int>(u(rng) * 6);
  for (int k = 0; k < polys; ++k) {
    const int n = 3 + static_cast<int>(u(rng) * 25);
    const double cx = u(rng) * 4, cy = u(rng) * 4, r = 0.2 + u(rng);
    std::vector<ERPoint2D> v;
    for (int i = 0; i < n; ++i) {
      const double a = 2 * M_PI * i / n;
      v.push_back(P(cx + r * std::cos(a), cy + r * std::sin(a)));
    }
    for (int i = 0; i < n; ++i) {
      ERPoint2D a = v[i], b = v[(i + 1) % n];
      const double g = u(rng);
      // Gaps at the threshold, just inside it, and a small one.
      if (g < 0.1)
        b = ERPoint2D(b.x() + tol, b.y());
      else if (g < 0.2)
        b = ERPoint2D(b.x() + tol * (1 - std::ldexp(1.0, -20)), b.y());
      else if (g < 0.25)
        b = ERPoint2D(b.x(), b.y() - tol * 0.5);
      if (u(rng) < 0.5) std::swap(a, b);
      one(a, b);
    }
    // A piece bridging two vertices of the polygon, a chord across it.
    if (u(rng) < 0.5) one(v[0], v[n / 2]);
  }
  const int extras = static_cast<int>(u(rng) * 8);
  for (int i = 0; i < extras; ++i) {
    const double w = u(rng);
    if (w < 0.25 && !ops.empty()) {  // the same object again
      Op o;
      o.again = static_cast<int>(u(rng) * ops.size());
      ops.push_back(o);
    } else if (w < 0.5 && !ops.empty()) {  // an equal copy of a piece
      ops.push_back(ops[static_cast<std::size_t>(u(rng) * ops.size())]);
      ops.back().again = -1;
    } else if (w < 0.65) {  // zero length
      const ERPoint2D a = P(u(rng) * 4, u(rng) * 4);
      one(a, a);
    } else if (w < 0.75) {  // unusable ends
      const double nan = std::numeric_limits<double>::quiet_NaN();
      one(ERPoint2D(nan, nan), P(u(rng) * 4, u(rng) * 4));
    } else {  // a chain of two pieces
      Op o;
      const ERPoint2D a = P(u(rng) * 4, u(rng) * 4), b = P(u(rng) * 4, u(rng) * 4),
                      c = P(u(rng) * 4, u(rng) * 4);
      o.pieces = {{a, b}, {b, c}};
      ops.push_back(o);
    }
  }
  std::shuffle(ops.begin(), ops.end(), rng);
  // "again" names an earlier position after the shuffle.
  for (std::size_t i = 0; i < ops.size(); ++i)
    if (ops[i].again >= static_cast<int>(i))
      ops[i].again = -1, ops[i].pieces = {{P(9, 9), P(9, 9)}};
  return ops;
}

// Runs ops, returning the codes; ids number the pieces in creation order.
std::vector<int> run(ERChainerProcessor& p, const std::vector<Op>& ops) {
  std::vector<int> codes;
  std::vector<t_SmartPtr<ERChainedMetaSeg2D>> made;
  int id = 0;
  for (const Op& o : ops) {
    t_SmartPtr<ERChainedMetaSeg2D> c;
    if (o.again >= 0) {
      c = made[static_cast<std::size_t>(o.again)];
    } else {
      c = t_SmartPtr<ERChainedMetaSeg2D>(new ERChainedMetaSeg2D);
      for (const auto& e : o.pieces)
        c->insert(t_SmartPtr<ERChainerSeg2D>(new Piece(e.first, e.second, id++)));
    }
    made.push_back(c);
    codes.push_back(p.insert(c));
  }
  return codes;
}

TEST(ChainerIndex, SameResultsAsTheListWalk) {
  QORV_SEEDED(std::mt19937 rng, 2323);
  const double tols[] = {1e-6, 1e-3, 0.05, 0.3};
  const double offs[] = {0.0, -1e5, 1e7};  // the last one beyond the grid for small tol
  const double scales[] = {1.0, 1e-3, 1e3};
  for (int round = 0; round < 600; ++round) {
    const double tol = tols[round % 4], off = offs[(round / 4) % 3],
                 scale = scales[(round / 12) % 3];
    SCOPED_TRACE("round " + std::to_string(round));
    const std::vector<Op> ops = randomSequence(rng, tol * scale, off, scale);
    ERChainerProcessor fast(tol * scale), walk(tol * scale);
    walk.setCompare(&wrapped);
    EXPECT_EQ(run(fast, ops), run(walk, ops));
    ASSERT_EQ(describe(fast), describe(walk));
  }
}

TEST(ChainerIndex, LargeShuffledPolygonsMatchTheWalk) {
  QORV_SEEDED(std::mt19937 rng, 77);
  std::vector<Op> ops;
  for (int k = 0; k < 20; ++k) {
    const int n = 100;
    for (int i = 0; i < n; ++i) {
      const double a0 = 2 * M_PI * i / n, a1 = 2 * M_PI * (i + 1) / n;
      ERPoint2D a(k + std::cos(a0), std::sin(a0)), b(k + std::cos(a1), std::sin(a1));
      if (rng() & 1) std::swap(a, b);
      Op o;
      o.pieces.push_back({a, b});
      ops.push_back(o);
    }
  }
  std::shuffle(ops.begin(), ops.end(), rng);
  ERChainerProcessor fast(1e-6), walk(1e-6);
  walk.setCompare(&wrapped);
  EXPECT_EQ(run(fast, ops), run(walk, ops));
  EXPECT_EQ(describe(fast), describe(walk));
  // Reversing through the processor moves ends the grid must see again.
  const auto rev = [](ERChainedMetaSeg2D* c, void*) { c->reverse(); };
  fast.applyOnMChain(rev, nullptr);
  walk.applyOnMChain(rev, nullptr);
  std::vector<Op> more(ops.begin(), ops.begin() + 50);
  EXPECT_EQ(run(fast, more), run(walk, more));
  EXPECT_EQ(describe(fast), describe(walk));
}

}  // namespace
