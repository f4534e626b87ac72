// qorv/foundation/assert.h
//
// The library's assertion routine, for broken preconditions of our own code (never for bad
// bytes from a file or a probe, which get their documented result). QORV_ASSERT is active in
// debug builds and whenever QORV_ENABLE_ASSERTS is defined (the test and sanitizer builds);
// a failed assertion reports to the debug output and then to the installed handler, which
// aborts by default.
#pragma once

#include "qorv/platform/api.h"

using qorvAssertHandler = void (*)(const char* file, int line, const char* message);

// Reports file, line and message: a debug trace, then the handler.
QORV_API void qorvAssertFailed(const char* file, int line, const char* message);
// Replaces the handler (null restores the aborting default); returns the previous one.
QORV_API qorvAssertHandler qorvSetAssertHandler(qorvAssertHandler handler);

#if !defined(NDEBUG) || defined(QORV_ENABLE_ASSERTS)
#define QORV_ASSERT(cond) \
  ((cond) ? static_cast<void>(0) : qorvAssertFailed(__FILE__, __LINE__, #cond))
#else
#define QORV_ASSERT(cond) static_cast<void>(0)
#endif
