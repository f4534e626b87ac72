// qorv/siblings/archive_streams/archive_strings.h
//
// ArchiveStreams: insertion and extraction of character strings in the framework's archives.
//
// Archive form of a string: int32 length (little-endian), then that many bytes, no terminator.
// The null string is stored as length -1 and reads back null; the empty string as length 0 and
// reads back empty, so the two stay apart.
//
// Loading checks the length before trusting it: a length below -1 throws
// CArchiveException(CArchiveException::genericException), and a length longer than what
// the archive still holds throws endOfFile after reading what there was; the text is read in
// bounded pieces, so a corrupt length never allocates more than the archive holds.
#pragma once

#include "qorv/platform/archive.h"
#include "qorv/siblings/base_utilities/ut_string.h"

namespace qorv::siblings {

// A null pointer is stored as the null string.
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar, const char* text);
QORV_API ::qorv::platform::CArchive& operator<<(::qorv::platform::CArchive& ar, const utString& text);
QORV_API ::qorv::platform::CArchive& operator>>(::qorv::platform::CArchive& ar, utString& text);

}  // namespace qorv::siblings
