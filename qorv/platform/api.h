// platform/api.h
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
