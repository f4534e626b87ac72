// Grids: cell look-up consistent with the cell bounds, packing at every width, box checks
// against a cell-by-cell model, and region grids against the exact point test. Fixed seeds;
// QORV_TEST_SEED=<n> explores others.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "qorv/planar/grid.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

namespace {

using Pts = QuickAlgebra::ERVec<ERPoint2D>;

TEST(Grid, LookUpTable) {
  ERGrid2D g(4, 4, 2, ERMinimax2D(0, 0, 4, 4));
  int i = -1, j = -1;
  ASSERT_EQ(g.indices(ERPoint2D(4, 4), i, j), 1);
  EXPECT_EQ((Seq{i, j, g.indices(ERPoint2D(5, 1), i, j)}), (Seq{3, 3, 0}));
  EXPECT_EQ(g.check_point(ERPoint2D(5, 1)), g.get_outside_value());
  ASSERT_EQ(g.indices(ERPoint2D(1, 0), i, j), 1);  // an inner border goes to the upper cell
  EXPECT_EQ((Seq{i, j, g.get_default_value(), g.get(0, 0), g.wordCount()}), (Seq{1, 0, 3u, 3u, 4}));
  int w, s;
  g.bits_position(2, 3, w, s);
  EXPECT_EQ((Seq{w, s}), (Seq{2, 6}));
  ERPoint2D lo, hi;
  g.get_cell_dims(3, 1, lo, hi);
  EXPECT_EQ((Seq{lo, hi}), (Seq{ERPoint2D(3, 1), ERPoint2D(4, 2)}));
}

TEST(Grid, BadSizes) {
  for (auto [nx, ny, bits] : {std::tuple{0, 4, 2}, {4, -1, 2}, {4, 4, 0}, {4, 4, 33}}) {
    ERGrid2D g(nx, ny, bits, ERMinimax2D(0, 0, 1, 1));
    EXPECT_EQ((Seq{g.valid(), g.wordCount()}), (Seq{0, 0}));
    int i, j;
    EXPECT_EQ(g.indices(ERPoint2D(0.5, 0.5), i, j), 0);
    g.set(0, 0, 1);
    g.set(-5, -5, 5, 5, 1);
    unsigned st;
    EXPECT_EQ((Seq{g.check_box(ERMinimax2D(0, 0, 1, 1), st), st}), (Seq{1, g.get_outside_value()}));
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(ERGrid2D(4, 4, 2, ERMinimax2D(nan, 0, 1, 1)).valid(), 0);
  EXPECT_EQ(ERGrid2D(4, 4, 2, ERMinimax2D()).valid(), 0);
  ERGrid2D g(4, 4, 2, ERMinimax2D(0, 0, 1, 1));
  int i, j;
  EXPECT_EQ(g.indices(ERPoint2D(nan, 0.5), i, j), 0);
  EXPECT_EQ(g.get(4, 0), g.get_default_value());
  EXPECT_EQ(ERGrid2D(1, 1, 32, ERMinimax2D(0, 0, 1, 1)).get_default_value(), 0xFFFFFFFFu);
}

TEST(Grid, LookUpMatchesCellBounds) {
  QORV_SEEDED(std::mt19937 gen, 31);
  auto ud = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(gen); };
  auto ri = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(gen); };
  for (int round = 0; round < 300; ++round) {
    const double s = std::pow(10.0, ud(-8, 8)), x0 = ud(-1e3, 1e3) * s, y0 = ud(-1e3, 1e3) * s;
    const int nx = ri(1, 70), ny = ri(1, 70);
    const ERMinimax2D box(x0, y0, x0 + ud(0.1, 10) * s, y0 + ud(0.1, 10) * s);
    ERGrid2D g(nx, ny, ri(1, 32), box);
    for (int q = 0; q < 200; ++q) {
      // Cell borders, the maximum and random points.
      ERPoint2D lo, hi;
      g.get_cell_dims(ri(0, nx - 1), ri(0, ny - 1), lo, hi);
      const ERPoint2D p = q % 3 == 0 ? lo
                          : q % 3 == 1
                              ? hi
                              : ERPoint2D(ud(box.xmin(), box.xmax()), ud(box.ymin(), box.ymax()));
      int i, j;
      ASSERT_EQ(g.indices(p, i, j), 1);
      ERPoint2D cmin, cmax;
      g.get_cell_dims(i, j, cmin, cmax);
      ASSERT_LE(cmin.x(), p.x()) << round;
      ASSERT_LE(cmin.y(), p.y()) << round;
      ASSERT_TRUE(p.x() < cmax.x() || i == nx - 1) << round;
      ASSERT_TRUE(p.y() < cmax.y() || j == ny - 1) << round;
    }
  }
}

TEST(Grid, PackingAndBoxChecksAgainstModel) {
  QORV_SEEDED(std::mt19937 gen, 57);
  auto ri = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(gen); };
  for (int bits = 1; bits <= 32; ++bits) {
    SCOPED_TRACE(testing::Message() << "bits " << bits);
    const int nx = ri(1, 20), ny = ri(1, 40);
    ERGrid2D g(nx, ny, bits, ERMinimax2D(0, 0, nx, ny));
    const unsigned mask = g.get_default_value();
    std::vector<unsigned> model(static_cast<std::size_t>(nx * ny), mask);
    // Few distinct values so that uniform boxes occur.
    for (int k = 0; k < 3 * nx * ny; ++k) {
      const int i1 = ri(0, nx - 1), j1 = ri(0, ny - 1), i2 = ri(i1, nx - 1), j2 = ri(j1, ny - 1);
      const unsigned v = (ri(0, 2) == 0 ? mask : static_cast<unsigned>(ri(0, 2))) & mask;
      if (ri(0, 3) == 0) {
        g.set(i1, j1, i2, j2, v);
        for (int i = i1; i <= i2; ++i)
          for (int j = j1; j <= j2; ++j) model[static_cast<std::size_t>(i * ny + j)] = v;
      } else {
        g.set(i1, j1, v);
        model[static_cast<std::size_t>(i1 * ny + j1)] = v;
      }
    }
    for (int i = 0; i < nx; ++i)
      for (int j = 0; j < ny; ++j)
        ASSERT_EQ(g.get(i, j), model[static_cast<std::size_t>(i * ny + j)]);
    g.set_outside_value(1u & mask);
    for (int q = 0; q < 300; ++q) {
      const double x1 = ri(-4, nx * 2 + 4) * 0.5, y1 = ri(-4, ny * 2 + 4) * 0.5;
      const ERMinimax2D b(x1, y1, x1 + ri(0, 10) * 0.5, y1 + ri(0, 10) * 0.5);
      unsigned got;
      const int r = g.check_box(b, got);
      // Model: the cells under the clipped box.
      const bool meets = b.xmin() <= nx && b.xmax() >= 0 && b.ymin() <= ny && b.ymax() >= 0;
      if (!meets) {
        ASSERT_EQ((Seq{r, got}), (Seq{1, g.get_outside_value()}));
        continue;
      }
      const double cx1 = std::max(b.xmin(), 0.0), cy1 = std::max(b.ymin(), 0.0);
      const double cx2 = std::min(b.xmax(), double(nx)), cy2 = std::min(b.ymax(), double(ny));
      auto cell = [](double v, int n) { return std::min(static_cast<int>(std::floor(v)), n - 1); };
      const unsigned first = model[static_cast<std::size_t>(cell(cx1, nx) * ny + cell(cy1, ny))];
      bool same = true;
      for (int i = cell(cx1, nx); i <= cell(cx2, nx); ++i)
        for (int j = cell(cy1, ny); j <= cell(cy2, ny); ++j)
          same = same && model[static_cast<std::size_t>(i * ny + j)] == first;
      const bool clipped = cx1 != b.xmin() || cy1 != b.ymin() || cx2 != b.xmax() || cy2 != b.ymax();
      const int want = (clipped && first != g.get_outside_value()) ? 0 : same ? 1 : 0;
      ASSERT_EQ((Seq{got, r}), (Seq{first, want})) << q;
    }
  }
}

// ---------------------------------------------------------------------------------------------
ERRegion2D squareWithHole() {
  ERRegion2D r(2, 1);
  r.Add(Pts({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}));
  r.Add(Pts({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
  return r;
}

TEST(RegionGrid, FilledStateCounts) {
  const ERRegion2D r = squareWithHole();
  const ERRegion2DGrid g(r);
  int counts[4] = {};
  for (int i = 0; i < 64; ++i)
    for (int j = 0; j < 64; ++j) ++counts[g.get(i, j)];
  EXPECT_EQ(counts[0], 144);  // cells 26..37 squared, inside the hole
  EXPECT_EQ(counts[1], 3648);
  EXPECT_EQ(counts[2], 304);  // 252 along the outer border, 52 around the hole
  EXPECT_EQ((Seq{counts[3], g.inside(ERPoint2D(1, 1)), g.inside(ERPoint2D(5, 5))}),
            (Seq{0, ERRegion2DGrid::INSIDE, ERRegion2DGrid::OUTSIDE}));
  EXPECT_EQ(g.inside(ERPoint2D(20, 5)), ERRegion2DGrid::OUTSIDE);
  EXPECT_EQ(g.relative_position(ERMinimax2D(1, 1, 2, 2)), ERRegion2DGrid::POS_INSIDE);
  EXPECT_EQ(g.relative_position(ERMinimax2D(4.9, 4.9, 5.1, 5.1)), ERRegion2DGrid::POS_OUTSIDE);
  EXPECT_EQ(g.relative_position(ERMinimax2D(3, 3, 5, 5)), ERRegion2DGrid::POS_MIXED);
  EXPECT_EQ(g.relative_position(ERMinimax2D(20, 20, 30, 30)), ERRegion2DGrid::POS_OUTSIDE);
  EXPECT_EQ(g.relative_position(ERMinimax2D(5, 5, 30, 30)), ERRegion2DGrid::POS_MIXED);
  EXPECT_EQ(g.find_relative_position(ERMinimax2D(1, 1, 2, 2)), ERRegion2DGrid::INSIDE);
  EXPECT_EQ(g.find_relative_position(ERMinimax2D(20, 20, 30, 30)), ERRegion2DGrid::OUTSIDE);
  EXPECT_EQ(g.find_relative_position(ERMinimax2D(3, 3, 5, 5)), ERRegion2DGrid::BOUNDARY);

  // Holes only: outside the grid is inside the region.
  ERRegion2D h(1, 0);
  h.Add(Pts({{4, 4}, {6, 4}, {6, 6}, {4, 6}}));
  const ERRegion2DGrid hg(h);
  EXPECT_EQ((Seq{hg.get_outside_value(), hg.inside(ERPoint2D(50, 50)), hg.inside(ERPoint2D(5, 5))}),
            (Seq{1u, ERRegion2DGrid::INSIDE, ERRegion2DGrid::OUTSIDE}));
  // No loops: the whole plane.
  const ERRegion2D none(1, 1);
  const ERRegion2DGrid ng(none);
  EXPECT_EQ(ng.inside(ERPoint2D(3, 3)), ERRegion2DGrid::INSIDE);
  EXPECT_EQ(ng.find_relative_position(ERMinimax2D(0, 0, 1, 1)), ERRegion2DGrid::INSIDE);
}

TEST(RegionGrid, AgreesWithExactTestOffTheBoundary) {
  QORV_SEEDED(std::mt19937 gen, 8);
  auto ud = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(gen); };
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    const double s = std::pow(10.0, ud(-3, 3)), cx = ud(-1e4, 1e4) * s, a = ud(0, 6.3);
    ERRegion2D r(3, 1);
    for (int l = 0; l < 3; ++l) {
      Pts loop;
      const int n = 3 + static_cast<int>(ud(0, 20));
      const double rad = (l == 0 ? 10 : 2) * s;
      const double ox = l == 0 ? 0 : (l == 1 ? -4 : 4) * s;
      std::vector<double> ang;
      for (int k = 0; k < n; ++k) ang.push_back(ud(0, 6.283185307179586));
      std::sort(ang.begin(), ang.end());
      if (ud(0, 1) < 0.5) std::reverse(ang.begin(), ang.end());
      for (double t : ang) {
        const double px = ox + rad * std::cos(t), py = rad * std::sin(t);
        loop.append(ERPoint2D(cx + std::cos(a) * px - std::sin(a) * py,
                              std::sin(a) * px + std::cos(a) * py));
      }
      r.Add(loop);
    }
    const ERRegion2DGrid g(r);
    const ERMinimax2D b = r.getBox();
    int loop;
    for (int q = 0; q < 2000; ++q) {
      const ERPoint2D p(ud(b.xmin() - s, b.xmax() + s), ud(b.ymin() - s, b.ymax() + s));
      const auto exact = r.CheckPoint(p, loop);
      const auto cell = g.inside(p);
      if (exact == 2 || exact == 3) {
        ASSERT_EQ(cell, ERRegion2DGrid::BOUNDARY);
      } else if (cell != ERRegion2DGrid::BOUNDARY) {
        ASSERT_EQ(cell == ERRegion2DGrid::INSIDE, exact == 0) << q;
      }
    }
  }
}

}  // namespace
