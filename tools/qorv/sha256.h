// SHA-256 (FIPS 180-4) of a file, for the digests a signed report names its inputs by. Small
// and dependency-free on purpose: the tool links no crypto library for one digest.
//
// Conventions a caller gets wrong: the digest is of the file's bytes as stored (no newline or
// encoding conversion), so it matches `sha256sum`; a file that cannot be read whole gives "".
#pragma once

#include <string>

namespace qorv::tool {

// The lower-case hex digest of the file's bytes; "" when it cannot be read whole.
std::string sha256File(const std::string& path);
// The digest of bytes in memory.
std::string sha256Hex(const void* data, std::size_t size);

}  // namespace qorv::tool
