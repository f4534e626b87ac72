// qorv/foundation/library.h
//
// The library frame: what runs when the shared library loads and unloads. Loading registers
// every class (static initialisation), initialises the extension module, links one
// CDynLinkLibraryQORV into the framework's chain and passes the serialisable run-time classes to
// AfxClassInit; it sends the trace "<library file> Initializing!\n" to the debug output (QORV.DLL
// on Windows, libqorv.so here). Unloading unlinks the module and destroys the registrations.
#pragma once

#include <memory>

#include "qorv/platform/module.h"

class ERFactorialFactory;

class QORV_API CDynLinkLibraryQORV : public ::qorv::platform::CDynLinkLibrary {
 public:
  explicit CDynLinkLibraryQORV(::qorv::platform::AFX_EXTENSION_MODULE& state);
  ~CDynLinkLibraryQORV() override;

  // The factorial cache lives as long as the library object.
  ERFactorialFactory& factorials() { return *factorials_; }

 private:
  std::unique_ptr<ERFactorialFactory> factorials_;
};

// The library's module record and its extension-library object (null before load and after
// unload).
QORV_API ::qorv::platform::AFX_EXTENSION_MODULE& qorvExtensionModule();
QORV_API CDynLinkLibraryQORV* qorvLibrary();

// The module entry: reason 1 attaches, 0 detaches; returns 1 in every case.
QORV_API int qorvDllMain(void* instance, unsigned long reason);

// The serialisable framework classes registered at start-up (those that exist in this build),
// null-terminated.
QORV_API ::qorv::platform::CRuntimeClass* const* qorvSerializableClasses();

// The library's version, "major.minor.patch".
QORV_API const char* qorvVersion();
