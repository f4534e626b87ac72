#include "qorv/planar/grid.h"

#include <algorithm>
#include <cmath>

namespace {

using qorv::detail::meets;

bool finiteBox(const ERMinimax2D& b) {
  return std::isfinite(b.xmin()) && std::isfinite(b.ymin()) && std::isfinite(b.xmax()) &&
         std::isfinite(b.ymax()) && b.xmin() <= b.xmax() && b.ymin() <= b.ymax();
}

}  // namespace

ERGrid2D::ERGrid2D(int nx, int ny, int bits, const ERMinimax2D& box)
    : bits_(std::clamp(bits, 1, 32)), box_(box) {
  default_ = bits_ == 32 ? 0xFFFFFFFFu : (1u << bits_) - 1u;
  outside_ = default_;
  cellsPerWord_ = 32 / bits_;
  if (nx <= 0 || ny <= 0 || bits < 1 || bits > 32 || !finiteBox(box)) return;
  nx_ = nx, ny_ = ny;
  wordsPerColumn_ = (ny - 1) / cellsPerWord_ + 1;
  words_.assign(static_cast<std::size_t>(nx) * static_cast<std::size_t>(wordsPerColumn_),
                0xFFFFFFFFu);
  dx_ = (box.xmax() - box.xmin()) / nx;
  dy_ = (box.ymax() - box.ymin()) / ny;
}

int ERGrid2D::axisIndex(double v, double lo, double hi, double d, int n) {
  if (!(d > 0.0) || !std::isfinite(d)) return 0;
  const double q = std::floor((v - lo) / d);
  int i = q >= n ? n : static_cast<int>(q);
  if (i == n) i = n - 1;
  if (lo + i * d > v) {
    --i;
  } else if (v >= std::min(lo + (i + 1) * d, hi)) {  // a border belongs to the upper cell
    ++i;
  }
  if (i > n - 1 && v <= hi) i = n - 1;
  return std::clamp(i, 0, n - 1);
}

int ERGrid2D::indices(const ERPoint2D& P, int& i, int& j) const {
  if (!valid() || !box_.contains(P)) return 0;
  i = axisIndex(P.x(), box_.xmin(), box_.xmax(), dx_, nx_);
  j = axisIndex(P.y(), box_.ymin(), box_.ymax(), dy_, ny_);
  return 1;
}

void ERGrid2D::bits_position(int i, int j, int& word, int& shift) const {
  word = i * wordsPerColumn_ + j / cellsPerWord_;
  shift = (j % cellsPerWord_) * bits_;
}

unsigned ERGrid2D::get(int i, int j) const {
  if (!inGrid(i, j)) return default_;
  int w, s;
  bits_position(i, j, w, s);
  return (words_[static_cast<std::size_t>(w)] >> s) & default_;
}

void ERGrid2D::set(int i, int j, unsigned value) {
  if (!inGrid(i, j)) return;
  int w, s;
  bits_position(i, j, w, s);
  std::uint32_t& word = words_[static_cast<std::size_t>(w)];
  word = (word & ~(default_ << s)) | ((value & default_) << s);
}

void ERGrid2D::set(int i1, int j1, int i2, int j2, unsigned value) {
  if (!valid()) return;
  i1 = std::max(i1, 0), j1 = std::max(j1, 0);
  i2 = std::min(i2, nx_ - 1), j2 = std::min(j2, ny_ - 1);
  for (int i = i1; i <= i2; ++i)
    for (int j = j1; j <= j2; ++j) set(i, j, value);
}

unsigned ERGrid2D::check_point(const ERPoint2D& P) const {
  int i, j;
  return indices(P, i, j) ? get(i, j) : outside_;
}

int ERGrid2D::check_box(const ERMinimax2D& box, unsigned& state) const {
  if (!valid() || !finiteBox(box) || !meets(box, box_)) return state = outside_, 1;
  const ERMinimax2D c(std::max(box.xmin(), box_.xmin()), std::max(box.ymin(), box_.ymin()),
                      std::min(box.xmax(), box_.xmax()), std::min(box.ymax(), box_.ymax()));
  const bool clipped = !(c == box);
  int i1, j1, i2, j2;
  indices(c.MinPoint(), i1, j1);
  indices(c.MaxPoint(), i2, j2);
  state = get(i1, j1);
  if (clipped && state != outside_) return 0;
  for (int i = i1; i <= i2; ++i) {
    // Whole words of the column at once, masked at both ends.
    int w1, s1, w2, s2;
    bits_position(i, j1, w1, s1);
    bits_position(i, j2, w2, s2);
    std::uint32_t pattern = 0;
    for (int k = 0; k < cellsPerWord_; ++k)
      pattern |= static_cast<std::uint32_t>(state) << (k * bits_);
    for (int w = w1; w <= w2; ++w) {
      const int low = w == w1 ? s1 : 0;
      const int high = w == w2 ? s2 + bits_ : cellsPerWord_ * bits_;  // exclusive
      const std::uint32_t mask =
          (high >= 32 ? 0xFFFFFFFFu : (1u << high) - 1u) & ~((1u << low) - 1u);
      if ((words_[static_cast<std::size_t>(w)] & mask) != (pattern & mask)) return 0;
    }
  }
  return 1;
}

void ERGrid2D::get_cell_dims(int i, int j, ERPoint2D& min, ERPoint2D& max) const {
  min = ERPoint2D(box_.xmin() + i * dx_, box_.ymin() + j * dy_);
  max = ERPoint2D(std::min(box_.xmin() + (i + 1) * dx_, box_.xmax()),
                  std::min(box_.ymin() + (j + 1) * dy_, box_.ymax()));
}

// ---------------------------------------------------------------------------------------------
ERRegion2DGrid::ERRegion2DGrid(const ERRegion2D& region)
    : ERGrid2D(64, 64, 2, region.getBox()), regionBox_(region.getBox()), region_(&region) {
  init();
}

void ERRegion2DGrid::init() {
  const int whole = region_->entries() == 0;
  set_outside_value(region_->IsFirstOuter() && !whole ? OUTSIDE : INSIDE);
  if (!valid()) return;
  struct Block {
    int i1, j1, i2, j2;
  };
  std::vector<Block> stack{{0, 0, nx() - 1, ny() - 1}};
  while (!stack.empty()) {
    const Block b = stack.back();
    stack.pop_back();
    ERPoint2D lo, hi, dummy;
    get_cell_dims(b.i1, b.j1, lo, dummy);
    get_cell_dims(b.i2, b.j2, dummy, hi);
    const ERMinimax2D area(lo.x(), lo.y(), hi.x(), hi.y());
    unsigned state;
    if (!meets(area, regionBox_)) {
      state = OUTSIDE;
    } else {
      const ER_MINMAX_POSITION_POLYGONE r = region_->IsInDomain(area);
      if (r == ER_MINMAX_POLYGONE_OUTSIDE) {
        state = OUTSIDE;
      } else if (r == ER_MINMAX_POLYGONE_INSIDE) {
        state = INSIDE;
      } else if (b.i1 == b.i2 && b.j1 == b.j2) {
        state = BOUNDARY;
      } else {
        const int mi = (b.i1 + b.i2) / 2, mj = (b.j1 + b.j2) / 2;
        // A block one cell wide splits along the other axis only.
        const Block parts[4] = {{b.i1, b.j1, mi, mj},
                                {mi + 1, b.j1, b.i2, mj},
                                {b.i1, mj + 1, mi, b.j2},
                                {mi + 1, mj + 1, b.i2, b.j2}};
        for (const Block& p : parts)
          if (p.i1 <= p.i2 && p.j1 <= p.j2) stack.push_back(p);
        continue;
      }
    }
    set(b.i1, b.j1, b.i2, b.j2, state);
  }
}

ERRegion2DGrid::STATE ERRegion2DGrid::inside(const ERPoint2D& P) const {
  const unsigned s = check_point(P);
  return s == NOT_FILLED ? BOUNDARY : static_cast<STATE>(s);
}

ERRegion2DGrid::RegionPos ERRegion2DGrid::relative_position(const ERMinimax2D& box) const {
  unsigned s;
  if (!check_box(box, s)) return POS_MIXED;
  if (s == INSIDE) return POS_INSIDE;
  if (s == BOUNDARY) return POS_MIXED;
  return POS_OUTSIDE;
}

ERRegion2DGrid::STATE ERRegion2DGrid::find_relative_position(const ERMinimax2D& box) const {
  if (region_->entries() == 0) return INSIDE;  // the whole plane
  if (!meets(box, regionBox_)) return OUTSIDE;
  const ER_MINMAX_POSITION_POLYGONE r = region_->IsInDomain(box);
  if (r == ER_MINMAX_POLYGONE_OUTSIDE) return OUTSIDE;
  if (r == ER_MINMAX_POLYGONE_INSIDE) return INSIDE;
  return BOUNDARY;
}
