// qorv/measurement/point_clouds.h
//
// Point clouds as optical scanners write them: PLY (ascii, binary little- and big-endian) and
// plain text (XYZ, ASC, PTS), read into one flat array of coordinates. Files of millions of
// points are mapped (or read in one piece where mapping is unavailable), and text is parsed by
// several threads at once, each on a run of whole lines. The measured-points CSV with ids,
// features and probe diameters stays with measured_points.h; gmDetectCloud says which a file is.
//
// Conventions a caller gets wrong:
// - Scanner points are SURFACE points, not probe centres: a cloud carries no probe diameter.
// - A damaged file is refused as a whole (ok() false) with the byte offset where the damage was
//   found and the reason: a bad header, a binary body shorter or longer than the header's
//   counts make it, an ascii vertex line that is not the header's properties. Nothing is kept.
// - A row whose coordinates are numbers but not finite (nan, inf) is skipped and reported; so is
//   a text row with fewer than three numbers. Only the first kMaxReported skips keep their
//   reason; skippedCount() counts them all.
// - A number is what strtod accepts in the C locale for the whole field (gmParseNumber).
// - Text rows: x y z and any further columns (ignored), separated by blanks, tabs or one comma
//   (with blanks around it allowed). Blank lines and lines starting with '#' or "//" are
//   ignored; so is a first content line that is not numbers (a header). PTS: a line holding
//   one integer announces the rows that follow; the rows must number what the counts say.
// - PLY: the element "vertex" must have scalar properties x, y and z (any PLY number type); all
//   other properties and elements, list properties included, are skipped by their declared
//   types. The body must end where the header's counts say (trailing blanks allowed in ascii).
// - Line numbers count from 1; binary rows are named by their vertex index from 0.
//
// PLY as written by gmWritePly (binary_little_endian, one element):
//   element vertex N
//   OFFSET  SIZE  FIELD (each vertex, 19 bytes)
//        0     4  x, float
//        4     4  y, float
//        8     4  z, float
//       12     4  deviation, float (NaN where the point was not judged)
//       16     3  red, green, blue, uchar
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "qorv/platform/api.h"

enum class gmCloudKind : std::uint8_t { csv, ply, xyz, pts };

struct QORV_API gmCloudSkip {
  std::uint64_t offset = 0;  // of the row in the file
  long line = 0;             // text: from 1; binary: 0
  std::string reason;
};

class QORV_API gmPointCloud {
 public:
  static constexpr std::size_t kMaxReported = 1000;

  bool ok() const { return error.empty(); }
  std::size_t size() const { return xyz.size() / 3; }
  std::size_t skippedCount() const { return skippedTotal; }

  gmCloudKind kind = gmCloudKind::xyz;
  std::vector<double> xyz;  // x0 y0 z0 x1 y1 z1 ...
  std::vector<gmCloudSkip> skipped;
  std::size_t skippedTotal = 0;
  std::string error;  // "" or why the file was refused
  std::uint64_t errorOffset = 0;
};

// The kind of a file from its first bytes ("ply" opens a PLY whatever its name) and its
// extension (.ply, .xyz, .asc, .pts); anything else is the measured-points CSV.
QORV_API gmCloudKind gmDetectCloud(std::string_view path, std::string_view head);

// Reads a whole cloud; progress(bytes) is called now and then from the calling thread.
// threads <= 0: one per core.
QORV_API gmPointCloud gmReadPointCloud(const std::string& path, int threads = 0,
                                       const std::function<void(std::uint64_t)>& progress = {});
QORV_API gmPointCloud gmReadPointCloud(std::string_view bytes, gmCloudKind kind, int threads = 0,
                                       const std::function<void(std::uint64_t)>& progress = {});

// Writes the judged cloud as the binary PLY of the table above: deviation[i] where feature[i] >= 0,
// NaN (and white) elsewhere, coloured by deviation / scale. False when the stream failed.
QORV_API bool gmWritePly(std::ostream& out, const double* xyz, std::size_t n,
                         const double* deviation, const std::int32_t* feature, double scale,
                         const std::function<void(std::size_t)>& progress = {});

// The report's diverging palette for t in [-1, 1] (a deviation over its colour scale): blue for
// less material, white at 0, red for more; t outside is clamped, NaN is white.
QORV_API void gmDeviationColour(double t, unsigned char rgb[3]);
