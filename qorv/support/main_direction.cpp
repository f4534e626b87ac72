#include "qorv/support/main_direction.h"

#include <ostream>

using namespace qorv;

namespace {

ERMainDirection::TypeDir codeOf(int axis, bool negative) {
  return static_cast<ERMainDirection::TypeDir>(2 * axis + (negative ? 1 : 0));
}

}  // namespace

ERMainDirection::ERMainDirection(Coord3D axis, int sign) : code_(PLUS_X) {
  const int a = static_cast<int>(axis);
  code_ = codeOf(a >= 0 && a <= 2 ? a : 0, sign < 0);
}

ERMainDirection::ERMainDirection(const ERVector3D& v) : code_(PLUS_X) {
  const Coord3D axis = v.axeOptimum();
  code_ = codeOf(static_cast<int>(axis), !(v[axis] > 0.0));
}

ERMainDirection::ERMainDirection(const ERVector3D& v, int sign) : ERMainDirection(v) {
  if (sign < 0) swap();
}

ERMainDirection::ERMainDirection(const char* s) : code_(PLUS_X) {
  if (s == nullptr || s[0] == '\0') return;
  int axis = 0;
  switch (s[0]) {
    case 'Y':
    case 'y':
      axis = 1;
      break;
    case 'Z':
    case 'z':
      axis = 2;
      break;
    default:
      break;
  }
  code_ = codeOf(axis, s[1] != '+');
}

ERVector3D ERMainDirection::vector() const {
  ERVector3D v(axe());
  return sens() < 0 ? -v : v;
}

void ERMainDirection::printOn(std::ostream& os) const {
  static const char* const kNames[6] = {"X+", "X-", "Y+", "Y-", "Z+", "Z-"};
  const int c = static_cast<int>(code_);
  os << (c >= 0 && c < 6 ? kNames[c] : "??");
}

std::ostream& operator<<(std::ostream& os, const ERMainDirection& d) { return d.printOn(os), os; }

ERMainDirection ERVector3D::mainDirection() const { return ERMainDirection(*this); }
