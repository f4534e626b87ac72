// The chainer: insertion sequences against the final chain list, then shuffled, half-reversed
// polygon edges checked for continuity and for every piece kept exactly once. Fixed seeds;
// QORV_TEST_SEED=<n> explores others.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "qorv/planar/chainer.h"
#include "tests/in_order.h"
#include "tests/planar/chainer_pieces.h"
#include "tests/test_seed.h"

namespace {

using qorv_test::describe, qorv_test::Piece;

t_SmartPtr<ERChainerSeg2D> seg(double x1, double y1, double x2, double y2, int id = 0) {
  return t_SmartPtr<ERChainerSeg2D>(new Piece(ERPoint2D(x1, y1), ERPoint2D(x2, y2), id));
}

TEST(Chainer, EndComparison) {
  const double tol = 0.01;
  auto a = seg(0, 0, 1, 0), b = seg(1, 0, 2, 0), c = seg(2, 0, 1, 0);
  EXPECT_EQ((Seq{a->compareWith(b.get(), tol), b->compareWith(a.get(), tol),
                 a->compareWith(c.get(), tol), seg(0, 0, -1, 0)->compareWith(a.get(), tol)}),
            (Seq{SEGCOMP_LAST_FIRST, SEGCOMP_FIRST_LAST, SEGCOMP_LAST_LAST, SEGCOMP_FIRST_FIRST}));
  EXPECT_EQ(a->compareWith(seg(5, 5, 6, 6).get(), tol), SEGCOMP_NONE);
  // One end near both ends of the other.
  EXPECT_EQ(a->compareWith(seg(1, 0.001, 1, -0.004).get(), tol), SEGCOMP_AMBIGUOUS);
  // Exactly tol apart does not join; a hair less does.
  const double t = 0.5;
  EXPECT_EQ(a->compareWith(seg(1.5, 0, 3, 0).get(), t), SEGCOMP_NONE);
  EXPECT_EQ(a->compareWith(seg(1 + t * (1 - std::ldexp(1.0, -20)), 0, 3, 0).get(), t),
            SEGCOMP_LAST_FIRST);
  // Rule 3 asks the far ends' squared distance to exceed the larger length: two unit pieces
  // leaving the same point at a right angle (far ends 2 apart squared) qualify, a hairpin of
  // longer pieces whose far ends are close does not.
  EXPECT_EQ(seg(0, 0, 1, 0)->compareWith(seg(0, 0, 0, 1).get(), tol), SEGCOMP_FIRST_FIRST);
  EXPECT_EQ(seg(0, 0, 3, 0)->compareWith(seg(0, 0, 3, 1).get(), tol), SEGCOMP_NONE);
  // Reversal swaps ends and tangents without negating them.
  auto r = seg(0, 0, 2, 0);
  r->reverse();
  EXPECT_EQ((Seq{r->first(), r->firstT()}), (Seq{ERPoint2D(2, 0), ERVector2D(2, 0)}));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(a->compareWith(seg(nan, 0, 1, 0).get(), tol), SEGCOMP_NONE);
}

TEST(Chainer, InsertionSequences) {
  {
    ERChainerProcessor p(0.01);
    EXPECT_EQ((Seq{p.insert(seg(0, 0, 1, 0, 1)), p.insert(seg(1, 0, 2, 0, 2)), describe(p)}),
              (Seq{1, 1, "1 2 "}));
    EXPECT_EQ(p.insert(seg(3, 0, 2, 0, 3)), 1);  // reversed, appended
    EXPECT_EQ((Seq{describe(p), p.getAt(0)->first(), p.getAt(0)->last()}),
              (Seq{"1 2 3~ ", ERPoint2D(0, 0), ERPoint2D(3, 0)}));
    EXPECT_DOUBLE_EQ(p.getAt(0)->length(), 3.0);
  }
  {
    ERChainerProcessor p(0.01);
    p.insert(seg(0, 0, 1, 0, 1));
    EXPECT_EQ(p.insert(seg(5, 5, 5.005, 5, 2)), 0);  // shorter than tol, not closed
    EXPECT_EQ(p.nbchains(), 1);
    EXPECT_EQ(p.insert(seg(1, 0, 1, 0, 3)), 1);  // zero length: closed, kept apart
    EXPECT_EQ((Seq{describe(p), p.getAt(2), p.getAt(-1)}), (Seq{"1 | 3 ", nullptr, nullptr}));
  }
  // A piece bridging two chains merges all three, whatever the list order.
  for (int order = 0; order < 2; ++order) {
    ERChainerProcessor p(0.01);
    auto left = seg(0, 0, 1, 0, 1), right = seg(2, 0, 3, 0, 2);
    p.insert(order ? right : left);
    p.insert(order ? left : right);
    EXPECT_EQ((Seq{p.nbchains(), p.insert(seg(1, 0, 2, 0, 3))}), (Seq{2, 1}));
    ASSERT_EQ(p.nbchains(), 1) << order;
    const auto* c = p.getAt(0);
    EXPECT_EQ(c->entries(), 3);
    EXPECT_NEAR(std::fabs(c->last().x() - c->first().x()), 3.0, 0);
  }
  // A chain closed by a merge stays in the list; a later piece touching it joins nothing
  // that breaks it.
  {
    ERChainerProcessor p(0.01);
    p.insert(seg(0, 0, 1, 0, 1));
    p.insert(seg(1, 0, 1, 1, 2));
    p.insert(seg(1, 1, 0, 0, 3));
    ASSERT_EQ(p.nbchains(), 1);
    EXPECT_TRUE(p.getAt(0)->isClosed());
    p.insert(seg(0, 0, -1, -1, 4));
    int total = 0;
    for (int i = 0; i < p.nbchains(); ++i) total += p.getAt(i)->entries();
    EXPECT_EQ(total, 4);
  }
  // The piece that closes a ring becomes its first piece.
  {
    ERChainerProcessor p(0.01);
    p.insert(seg(0, 0, 1, 0, 1));
    p.insert(seg(1, 0, 1, 1, 2));
    p.insert(seg(1, 1, 0, 0, 3));
    EXPECT_EQ(describe(p), "3 1 2 ");
  }
  // A closed chain is appended without comparison even when its ends touch others.
  {
    ERChainerProcessor p(0.01);
    p.insert(seg(0, 0, 1, 0, 1));
    t_SmartPtr<ERChainedMetaSeg2D> ring(new ERChainedMetaSeg2D(seg(1, 0, 2, 0, 2)));
    ring->insert(seg(2, 0, 1, 0, 3));
    EXPECT_EQ((Seq{p.insert(ring), describe(p)}), (Seq{1, "1 | 2 3 "}));
    EXPECT_EQ(p.insert(ring), 0);  // already in the list
  }
}

// A compare function that refuses one designated chain.
const ERChainedMetaSeg2D* gPoison = nullptr;
SegCompState poisonCompare(const ERChainedMetaSeg2D& a, const ERChainedMetaSeg2D& b, double t) {
  if (&a == gPoison) return SEGCOMP_AMBIGUOUS;
  return ERChainerProcessor::StandardCompare(a, b, t);
}

TEST(Chainer, RefusalAfterMergeLosesNothing) {
  ERChainerProcessor p(0.01);
  p.setCompare(&poisonCompare);
  p.insert(seg(0, 0, 1, 0, 1));
  p.insert(seg(10, 10, 11, 10, 2));
  gPoison = p.getAt(1);
  // Refused before any merge: nothing changes.
  EXPECT_EQ((Seq{p.insert(seg(50, 50, 51, 50, 9)), describe(p)}), (Seq{0, "1 | 2 "}));
  // Merges with chain 0, then meets the refusal: the merged chain is kept.
  EXPECT_EQ((Seq{p.insert(seg(1, 0, 2, 0, 3)), describe(p)}), (Seq{1, "2 | 1 3 "}));
  gPoison = nullptr;
}

TEST(Chainer, ShuffledPolygonsKeepEveryPieceOnce) {
  QORV_SEEDED(std::mt19937 g, 4242);
  auto ud = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(g); };
  int closedRings = 0, polygons = 0;
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    const double scale = std::pow(10.0, ud(-3, 6));
    const double tol = 1e-6 * scale;
    std::vector<t_SmartPtr<ERChainerSeg2D>> pieces;
    const int npoly = 1 + static_cast<int>(ud(0, 5));
    int id = 0;
    for (int k = 0; k < npoly; ++k, ++polygons) {
      const int n = 3 + static_cast<int>(ud(0, 12));
      std::vector<double> ang(static_cast<std::size_t>(n));
      for (double& a : ang) a = ud(0, 6.283185307179586);
      std::sort(ang.begin(), ang.end());
      const double cx = (10 * k + ud(-1e3, 1e3)) * scale, cy = ud(-1e3, 1e3) * scale;
      const double rad = ud(1, 3) * scale, sgn = ud(0, 1) < 0.5 ? 1 : -1;
      std::vector<ERPoint2D> v;
      for (double a : ang) v.emplace_back(cx + rad * std::cos(a), cy + sgn * rad * std::sin(a));
      for (int i = 0; i < n; ++i) {
        const ERPoint2D& a = v[static_cast<std::size_t>(i)];
        const ERPoint2D& b = v[static_cast<std::size_t>((i + 1) % n)];
        if (qorv::distance(a, b) < 100 * tol) continue;  // keep pieces clear of the tolerance
        auto s = seg(a.x(), a.y(), b.x(), b.y(), id++);
        if (ud(0, 1) < 0.5) s->reverse();
        pieces.push_back(s);
      }
    }
    std::shuffle(pieces.begin(), pieces.end(), g);
    ERChainerProcessor p(tol);
    for (auto& s : pieces) ASSERT_EQ(p.insert(s), 1);
    std::map<int, int> seen;
    for (int i = 0; i < p.nbchains(); ++i) {
      const ERChainedMetaSeg2D* c = p.getAt(i);
      const ERChainerSeg2D* prev = nullptr;
      for (const auto& q : c->segments()) {
        ++seen[dynamic_cast<const Piece*>(q.get())->id()];
        if (prev) {
          ASSERT_LT(qorv::distance(prev->last(), q->first()), tol) << "chain " << i;
        }
        prev = q.get();
      }
      closedRings += c->isClosed();
    }
    ASSERT_EQ(static_cast<int>(seen.size()), id);
    for (const auto& [k, count] : seen) ASSERT_EQ(count, 1) << "piece " << k;
  }
  // Most polygons close into one ring.
  EXPECT_GT(closedRings, polygons / 2);
}

TEST(Chainer, PrintForms) {
  ERChainerProcessor p(0.01);
  auto s = seg(0, 0, 1, 0, 1);
  p.insert(s);
  std::ostringstream os;
  p.printOn(os);
  std::ostringstream addr;
  addr << static_cast<const void*>(s.get());
  const std::string piece =
      " reverse :0\n  first  = [0,0] last  = [1,0]\n  firstT = [1,0] lastT = [1,0]\n";
  EXPECT_EQ(os.str(),
            "Gestionnaire de Chaine 2D \n   nb de chaines : 1\n   chaine n\xB0"
            "0\n"
            "  chaine  : \n  nb d'elements 1\n" +
                piece + "   elements n\xB0 0 adresse " + addr.str() + "\n" + piece);
}

}  // namespace
