// qorv/measurement/measured_points.h
//
// Measured points as measuring software exports them: one point a line, id, x, y, z, an optional
// feature id and an optional probe diameter. The reader takes what CMM and spreadsheet exports
// write — comma, semicolon, tab or blank separated, a decimal point or a decimal comma, quoted
// fields, a header line, CRLF ends, a UTF-8 byte-order mark, UTF-16 text with its byte-order mark
// — and reports every line it cannot take with its number and reason instead of guessing.
//
// Conventions a caller gets wrong:
// - A number is what strtod accepts in the C locale for the WHOLE field (after the blanks around
//   it are trimmed), with the file's decimal mark: "+-3.0", "++1", "1.5mm", "1 000" and "" are not
//   numbers. "nan" and "inf" are numbers, and the line is then skipped as "a coordinate is not
//   finite".
// - Detection, unless the caller fixes it: the separator is taken from the first line that is
//   neither blank nor a comment (header or data), counting outside quotes: the first of tab,
//   semicolon and comma that splits it into four fields or more, else runs of blanks (tabs
//   included). The decimal mark is a point for comma-separated
//   files; otherwise a comma when the first data line writes one in x, y or z, else a point.
//   Once decided, both hold for the whole file: a line written with the other mark is skipped.
// - Fields follow RFC 4180: a field in double quotes may hold the separator, and "" stands for
//   one quote. A quoted field does not span lines; an unbalanced quote skips its line.
// - The first content line is a header when its x, y or z is not a number; blank lines and lines
//   starting with '#' are ignored. Point ids and feature ids are kept as the bytes they came in
//   (UTF-8 is expected; UTF-16 input is turned into UTF-8). A file with NUL bytes in its first
//   block is binary and refused as a whole.
// - Line numbers count physical lines from 1, header and comments included.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "qorv/foundation/points.h"

struct QORV_API gmMeasuredPoint {
  long line = 0;         // in the input, for reports
  std::string id;        // the point's own name
  ERPoint3D centre;      // the probe centre
  double diameter = -1;  // < 0: the run's default
  std::string feature;   // "" : the nearest
};

struct QORV_API gmSkippedLine {
  long line = 0;
  std::string reason;
};

// How a file is read: 0 lets the reader detect. After a read, what it found.
struct QORV_API gmMeasuredFormat {
  char delimiter = 0;   // ',', ';', '\t', or ' ' for runs of blanks
  char decimal = 0;     // '.' or ','
  bool header = false;  // read: the file had a header line
  bool binary = false;  // read: the file is binary (nothing taken)
  long lines = 0;       // read: physical lines seen
};

// Reads the whole stream; progress(bytes) is called now and then with the bytes consumed so far.
// Returns the format used. threads > 1 parses a large file's lines on that many threads, once
// the first lines have settled the separator and the decimal mark; the points, the skipped
// lines and their order are the same.
QORV_API gmMeasuredFormat
gmReadMeasuredPoints(std::istream& in, std::vector<gmMeasuredPoint>& points,
                     std::vector<gmSkippedLine>& skipped, gmMeasuredFormat format = {},
                     const std::function<void(std::uint64_t)>& progress = {}, int threads = 1);

// One field as a number, strtod's whole-field syntax in the C locale with the given decimal
// mark; 0 when the field is not a number (v unchanged).
QORV_API int gmParseNumber(std::string_view field, double& v, char decimal = '.');
