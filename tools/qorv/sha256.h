// SHA-256 (FIPS 180-4) of a file, for the digests a signed report names its inputs by. Small
// and dependency-free on purpose: the tool links no crypto library for one digest.
#pragma once

#include <string>

namespace qorv::tool {

// The lower-case hex digest of the file's bytes; "" when it cannot be read whole.
std::string sha256File(const std::string& path);
// The digest of bytes in memory.
std::string sha256Hex(const void* data, std::size_t size);

}  // namespace qorv::tool
