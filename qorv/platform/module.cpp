#include "qorv/platform/module.h"

#include <mutex>

namespace qorv::platform {

namespace {
std::mutex g_chainMutex;
CDynLinkLibrary* g_firstLibrary = nullptr;
}  // namespace

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, void* hModule) {
  if (state.bInitialized) return 1;
  state.hModule = hModule;
  state.bInitialized = 1;
  return 1;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL) { state.bInitialized = 0; }

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state) : m_hModule(state.hModule) {
  std::lock_guard<std::mutex> lock(g_chainMutex);
  m_pNextDLL = g_firstLibrary;
  g_firstLibrary = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
  std::lock_guard<std::mutex> lock(g_chainMutex);
  for (CDynLinkLibrary** link = &g_firstLibrary; *link; link = &(*link)->m_pNextDLL) {
    if (*link == this) {
      *link = m_pNextDLL;
      break;
    }
  }
}

CDynLinkLibrary* CDynLinkLibrary::first() {
  std::lock_guard<std::mutex> lock(g_chainMutex);
  return g_firstLibrary;
}

}  // namespace qorv::platform
