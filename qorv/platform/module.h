// qorv/platform/module.h
//
// The framework's extension-module chain: a library initialises its module record when it
// loads and links one CDynLinkLibrary object into the process-wide chain, which the framework
// searches for resources and run-time classes. Here the chain is a list the host can walk.
#pragma once

#include "qorv/platform/afx.h"

namespace qorv::platform {

struct QORV_API AFX_EXTENSION_MODULE {
  BOOL bInitialized = 0;
  void* hModule = nullptr;
};

QORV_API BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, void* hModule);
QORV_API void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll = 0);

class QORV_API CDynLinkLibrary : public CObject {
 public:
  explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state);
  ~CDynLinkLibrary() override;
  CDynLinkLibrary(const CDynLinkLibrary&) = delete;
  CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;

  void* m_hModule;
  CDynLinkLibrary* m_pNextDLL = nullptr;

  // Head of the chain; null when no extension library is loaded.
  static CDynLinkLibrary* first();
};

}  // namespace qorv::platform
