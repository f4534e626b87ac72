// Replacing a database file without ever losing the old one: the new file is built under a
// temporary name in the same folder and renamed over the old one only once it is complete, with
// the old file's locks held from before the first byte is written to after the rename, so that a
// database another process has open (reading or writing) is never replaced.
//
// Conventions a caller gets wrong: the builder writes to the path it is given, not the final
// one (it may name the final one in its messages); a path that exists must be a qorv database
// (anything else is refused, untouched), and one with a journal beside it (left by a writer that
// died) is refused too: that journal would be played back onto the new file.
#pragma once

#include <functional>
#include <string>

namespace qorv::tool {

// Builds with build(temporary) and puts the result at path; 0, or the builder's status (the
// temporary removed), or 1 with the reason on standard error when path may not be replaced.
int replaceDatabase(const std::string& path, const std::function<int(const std::string&)>& build);

// A name in path's folder that nothing uses yet, with no journal beside it either.
std::string temporaryBeside(const std::string& path);

}  // namespace qorv::tool
