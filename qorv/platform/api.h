// qorv/platform/api.h
//
// The export macro. The library is built with QORV_BUILDING defined and hidden visibility by
// default; QORV_API marks what a host may call. On Windows the same macro imports from or
// exports to the DLL.
#pragma once

#if defined(_WIN32)
#if defined(QORV_BUILDING)
#define QORV_API __declspec(dllexport)
#else
#define QORV_API __declspec(dllimport)
#endif
#else
#define QORV_API __attribute__((visibility("default")))
#endif

// Marks a private member of an exported class as the library's own: calls to it inside the
// library are direct and may be inlined (an exported function could be replaced at load time).
#if defined(_WIN32)
#define QORV_LOCAL
#else
#define QORV_LOCAL __attribute__((visibility("hidden")))
#endif
