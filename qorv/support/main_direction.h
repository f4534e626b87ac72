// qorv/support/main_direction.h
//
// ERMainDirection: one of the six signed axis directions, as one code 2 x axis + (1 when
// negative): 0 +X, 1 -X, 2 +Y, 3 -Y, 4 +Z, 5 -Z (TypeDir).
//
// Conventions a caller gets wrong:
// - From a vector, the axis is axeOptimum() (ties go to the later axis, so (0, 0, 0) is Z) and
//   the direction is negative unless that component is strictly positive: (0, 0, 0) is -Z.
// - From a string, the first character names the axis ('X', 'Y', 'Z', either case) and the
//   second is '+' for positive and anything else (the end of the string included) for
//   negative: "Z-" and "Z" are both -Z. An unknown axis letter reads as X; an empty or null
//   string gives +X.
// - From (axis, sign), only a negative sign gives the negative direction; (v, sign) is the
//   direction of v, reversed when sign is negative.
#pragma once

#include <iosfwd>

#include "qorv/platform/api.h"
#include "qorv/foundation/points.h"

class QORV_API ERMainDirection {
 public:
  enum TypeDir : int {
    PLUS_X = 0,
    MINUS_X = 1,
    PLUS_Y = 2,
    MINUS_Y = 3,
    PLUS_Z = 4,
    MINUS_Z = 5,
  };

  constexpr ERMainDirection() : code_(PLUS_X) {}
  constexpr ERMainDirection(TypeDir d) : code_(d) {}
  ERMainDirection(Coord3D axis, int sign);
  explicit ERMainDirection(const ERVector3D& v);
  ERMainDirection(const ERVector3D& v, int sign);
  explicit ERMainDirection(const char* s);

  operator TypeDir() const { return code_; }
  operator ERVector3D() const { return vector(); }
  TypeDir type() const { return code_; }

  // The signed unit vector of the axis.
  ERVector3D vector() const;
  Coord3D axe() const { return static_cast<Coord3D>(code_ / 2); }
  // +1 or -1.
  int sens() const { return (code_ & 1) ? -1 : 1; }
  ERMainDirection operator-() const { return ERMainDirection(static_cast<TypeDir>(code_ ^ 1)); }
  // Makes the opposite direction.
  void swap() { code_ = static_cast<TypeDir>(code_ ^ 1); }

  bool operator==(const ERMainDirection& o) const { return code_ == o.code_; }
  bool operator!=(const ERMainDirection& o) const { return code_ != o.code_; }
  bool operator==(TypeDir t) const { return code_ == t; }
  bool operator!=(TypeDir t) const { return code_ != t; }

  // The two-character form the string constructor reads: "X+", "Z-", ...
  void printOn(std::ostream& os) const;

 private:
  TypeDir code_;
};

QORV_API std::ostream& operator<<(std::ostream& os, const ERMainDirection& d);
