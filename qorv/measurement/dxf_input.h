// qorv/measurement/dxf_input.h
//
// gmInDXF: the vertices of a polyline read from a DXF text file.
//
// A DXF text file is a sequence of pairs of lines: a group code (an integer) and its value. The
// reader finds the entities section (a line ENTITIES), then, for each read(), the next polyline
// (a line POLYLINE or LWPOLYLINE) and reads it pair by pair:
// - POLYLINE: each VERTEX entity gives a point from its groups 10, 20 and 30 (x, y, z; z missing:
//   the polyline's own 30, its elevation, else 0); the entity SEQEND ends the polyline.
// - LWPOLYLINE: each group 10 starts a vertex and the following 20 is its y; z is the elevation
//   (38, else 0); the next entity (group 0) ends the polyline.
// Everything else inside the entities (handles 5, owners 330, subclass markers 100, layers 8,
// flags 70, widths, bulges 42) is read and ignored, so the files real writers produce work.
//
// Conventions a caller gets wrong:
// - Lines may end in LF or CR LF; group codes may be padded with blanks; keywords may carry
//   trailing blanks. A line of any length is one item: past 4096 characters the rest is
//   skipped (a coordinate that long is refused), so memory stays bounded.
// - Coordinates are decimal numbers, correctly rounded, denormals included; one that is not a
//   number, is not finite or overflows is refused.
// - read() returns false with a one-line reason() when the file cannot be opened, has no
//   entities section, has no further polyline, ends inside one, or is malformed; the points
//   are then emptied. It never returns a point it did not read.
// - Each read() continues where the last one stopped: the first reads the first polyline.
#pragma once

#include <cstdio>
#include <string>

#include "qorv/foundation/points.h"
#include "qorv/support/quick_algebra.h"

class QORV_API gmInDXF {
 public:
  explicit gmInDXF(const char* path);
  ~gmInDXF();
  gmInDXF(const gmInDXF&) = delete;
  gmInDXF& operator=(const gmInDXF&) = delete;

  bool read(QuickAlgebra::ERVec<ERPoint3D>& points);
  // Why the last read() returned false (empty after a success).
  const std::string& reason() const { return reason_; }
  // The 1-based number of the last line read.
  long line() const { return line_; }

 private:
  // The next line without its line end; false at the end of the file.
  bool nextLine(std::string& text);
  // The next group code and value; false (with the reason set) at the end or on a bad code.
  bool nextPair(int& code, std::string& value);
  bool fail(const std::string& why);
  bool readPolyline(QuickAlgebra::ERVec<ERPoint3D>& points);
  bool readLightPolyline(QuickAlgebra::ERVec<ERPoint3D>& points);

  std::FILE* file_ = nullptr;
  bool inEntities_ = false;
  long line_ = 0;
  std::string reason_;
  // A pair read ahead and given back.
  bool pending_ = false;
  int pendingCode_ = 0;
  std::string pendingValue_;
};
