// qorv/foundation/point_records.h
//
// The nodes of the point lists that curve and surface sampling build: a point with the
// parameter it came from, and a link to the next node (null on construction; the lists own
// the chain).
//   ERPoint12: a plane point and its curve parameter.
//   ERPoint13: a space point and its curve parameter.
//   ERPoint23: a space point and the (u, v) parameter point of a surface.
#pragma once

#include "qorv/foundation/points.h"

struct ERPoint12 {
  ERPoint2D point;
  double u = 0.0;
  ERPoint12* next = nullptr;

  ERPoint12() = default;
  ERPoint12(const ERPoint2D& p, double t) : point(p), u(t) {}
};

struct ERPoint13 {
  ERPoint3D point;
  double u = 0.0;
  ERPoint13* next = nullptr;

  ERPoint13() = default;
  ERPoint13(const ERPoint3D& p, double t) : point(p), u(t) {}
};

struct ERPoint23 {
  ERPoint3D point;
  ERPoint2D uv;
  ERPoint23* next = nullptr;

  ERPoint23() = default;
  ERPoint23(const ERPoint3D& p, const ERPoint2D& param) : point(p), uv(param) {}
};
