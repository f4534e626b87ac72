// qorv/planar/grid.h
//
// ERGrid2D: a raster of small unsigned states (1 to 32 bits a cell) over a box, packed into
// 32-bit words column by column. ERRegion2DGrid: a 64 x 64 grid of 2-bit states filled with
// the position of each cell against an ERRegion2D (0 outside, 1 inside, 2 boundary, 3 not
// filled), so that most point and box queries are one table look-up.
//
// Conventions a caller gets wrong:
// - Cell (i, j) covers [min.x + i dx, min.x + (i + 1) dx) x [min.y + j dy, ...): a point on an
//   inner border belongs to the upper cell, a point on the box's maximum to the last cell. The
//   box bounds are inclusive; points outside answer the outside value. The look-up agrees with
//   get_cell_dims to the last bit: the quotient (x - min.x) / dx is corrected by one cell, up
//   when x is at or past the computed upper bound (not only past it, which would leave a
//   border point in the lower cell whenever the division rounds down).
// - Word layout: cell (i, j) is in word i * wordsPerColumn + j / cellsPerWord, at bit offset
//   (j mod cellsPerWord) * bits; every bit is set initially (the default value, "not filled").
// - Bad sizes (nx or ny <= 0, bits outside 1..32) and a box that is empty or not finite make an
//   empty grid: valid() is 0, it holds no words, indices fails, check_point and check_box answer
//   the outside value, get answers the default value and set does nothing. The default value of
//   such a grid uses bits clamped to 1..32.
// - get of a cell outside the grid answers the default value; set outside the grid writes
//   nothing, and a rectangle is clipped to the grid.
// - ERRegion2DGrid keeps a pointer to its region, which must outlive it. A region without
//   loops is the whole plane: its grid answers inside everywhere, find_relative_position 1.
//
// No stored image: grids are rebuilt from their region.
#pragma once

#include <cstdint>
#include <vector>

#include "qorv/foundation/boxes.h"
#include "qorv/planar/regions.h"

class QORV_API ERGrid2D {
 public:
  ERGrid2D(int nx, int ny, int bits, const ERMinimax2D& box);
  ERGrid2D(const ERGrid2D&) = default;
  ERGrid2D& operator=(const ERGrid2D&) = default;
  virtual ~ERGrid2D() = default;

  int valid() const { return nx_ > 0; }
  // 0 when P is outside the box (bounds inclusive) or the grid is empty.
  int indices(const ERPoint2D& P, int& i, int& j) const;
  unsigned check_point(const ERPoint2D& P) const;
  unsigned get(int i, int j) const;
  void set(int i, int j, unsigned value);
  void set(int i1, int j1, int i2, int j2, unsigned value);
  // 1 with the common state when every cell under the box holds it (the outside value for a
  // box that misses the grid), else 0.
  int check_box(const ERMinimax2D& box, unsigned& state) const;
  void get_cell_dims(int i, int j, ERPoint2D& min, ERPoint2D& max) const;
  void bits_position(int i, int j, int& word, int& shift) const;
  unsigned get_default_value() const { return default_; }
  unsigned get_outside_value() const { return outside_; }
  void set_outside_value(unsigned v) { outside_ = v & default_; }

  int nx() const { return nx_; }
  int ny() const { return ny_; }
  int bits() const { return bits_; }
  int wordCount() const { return static_cast<int>(words_.size()); }
  const std::uint32_t* words() const { return words_.data(); }
  const ERMinimax2D& box() const { return box_; }

 private:
  bool inGrid(int i, int j) const { return i >= 0 && j >= 0 && i < nx_ && j < ny_; }
  static int axisIndex(double v, double lo, double hi, double d, int n);

  unsigned default_;
  unsigned outside_;
  int nx_ = 0, ny_ = 0;
  int bits_;
  int cellsPerWord_;
  int wordsPerColumn_ = 0;
  std::vector<std::uint32_t> words_;
  ERMinimax2D box_;
  double dx_ = 0.0, dy_ = 0.0;
};

class QORV_API ERRegion2DGrid : public ERGrid2D {
 public:
  enum STATE { OUTSIDE = 0, INSIDE = 1, BOUNDARY = 2, NOT_FILLED = 3 };
  enum RegionPos { POS_INSIDE = 0, POS_MIXED = 1, POS_OUTSIDE = 2 };

  explicit ERRegion2DGrid(const ERRegion2D& region);

  // Fills every cell by recursive subdivision of the 64 x 64 block.
  void init();
  // The state of P's cell; not filled answers BOUNDARY.
  STATE inside(const ERPoint2D& P) const;
  RegionPos relative_position(const ERMinimax2D& box) const;
  STATE find_relative_position(const ERMinimax2D& box) const;

 private:
  ERMinimax2D regionBox_;
  const ERRegion2D* region_;
};
