// The cloud readers: the first byte chooses PLY, XYZ or PTS and the thread count, the rest is the
// file. Any crash, hang or out-of-bounds access is a finding, and so is a refusal without its
// reason or past the end, a point that is not finite, or a skip without its reason.
#include <cmath>
#include <cstdint>
#include <string_view>

#include "qorv/measurement/point_clouds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const gmCloudKind kinds[] = {gmCloudKind::ply, gmCloudKind::xyz, gmCloudKind::pts};
  const gmPointCloud c = gmReadPointCloud(bytes, kinds[data[0] % 3], 1 + (data[0] >> 4) % 3);
  if (!c.ok() && (c.errorOffset > bytes.size() || c.size() != 0)) __builtin_trap();
  for (double v : c.xyz)
    if (!std::isfinite(v)) __builtin_trap();
  for (const gmCloudSkip& s : c.skipped)
    if (s.reason.empty() || s.offset >= bytes.size()) __builtin_trap();
  if (c.skipped.size() > c.skippedCount()) __builtin_trap();
  return 0;
}
