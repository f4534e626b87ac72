// qorv/foundation/debug_intersect.h
//
// ERDebugIntersect: an optional observer handed to the region intersection, told about each
// step so that a host can draw or log it. No data; one operation.
#pragma once

#include "qorv/platform/api.h"

class QORV_API ERDebugIntersect {
 public:
  virtual ~ERDebugIntersect() = default;
  // Called for each intersection step with a short description of it.
  virtual void trace(const char* step) = 0;
};
