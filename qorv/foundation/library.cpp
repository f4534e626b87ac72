#include "qorv/foundation/library.h"

#include "qorv/foundation/thread_data.h"
#include "qorv/freeform/polynomial.h"
#include "qorv/platform/debug.h"
#include "qorv/version.h"

using namespace qorv::platform;

// The start-up trace names the library file as this platform calls it.
#if defined(_WIN32)
constexpr const char* kInitializingTrace = "QORV.DLL Initializing!\n";
#elif defined(__APPLE__)
constexpr const char* kInitializingTrace = "libqorv.dylib Initializing!\n";
#else
constexpr const char* kInitializingTrace = "libqorv.so Initializing!\n";
#endif

namespace {

AFX_EXTENSION_MODULE g_module;
CDynLinkLibraryQORV* g_library = nullptr;

constexpr unsigned long kProcessDetach = 0;
constexpr unsigned long kProcessAttach = 1;

// The three probe-point classes (current name and two older ones kept for old archives) join
// this table when they exist.
CRuntimeClass* g_serializable[4] = {nullptr, nullptr, nullptr, nullptr};

// Plays the part of the OS loader calling the module entry.
struct ModuleLoader {
  ModuleLoader() { qorvDllMain(&g_module, kProcessAttach); }
  ~ModuleLoader() { qorvDllMain(&g_module, kProcessDetach); }
};

}  // namespace

CDynLinkLibraryQORV::CDynLinkLibraryQORV(AFX_EXTENSION_MODULE& state)
    : CDynLinkLibrary(state), factorials_(std::make_unique<ERFactorialFactory>()) {}
CDynLinkLibraryQORV::~CDynLinkLibraryQORV() = default;

AFX_EXTENSION_MODULE& qorvExtensionModule() { return g_module; }
CDynLinkLibraryQORV* qorvLibrary() { return g_library; }
CRuntimeClass* const* qorvSerializableClasses() { return g_serializable; }

int qorvDllMain(void* instance, unsigned long reason) {
  if (reason == kProcessAttach) {
    OutputDebugStringA(kInitializingTrace);
    if (!AfxInitExtensionModule(g_module, instance)) return 1;
    if (g_library == nullptr) g_library = new CDynLinkLibraryQORV(g_module);
    for (CRuntimeClass* const* c = g_serializable; *c != nullptr; ++c) AfxClassInit(*c);
    qorvThreadDataLock();  // the critical section exists before any thread asks for its data
  } else if (reason == kProcessDetach) {
    for (CRuntimeClass* const* c = g_serializable; *c != nullptr; ++c) AfxClassTerm(*c);
    delete g_library;
    g_library = nullptr;
    AfxTermExtensionModule(g_module);
  }
  return 1;
}

const char* qorvVersion() { return QORV_VERSION_STRING; }

static ModuleLoader g_loader;
