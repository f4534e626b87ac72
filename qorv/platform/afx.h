// qorv/platform/afx.h
//
// The application-framework object base that the library's root class derives from: a flat
// run-time class (name, size, schema, optional creator, framework base), the dump context the
// objects dump into, and the framework's exception base with the invalid-argument exception.
//
// Conventions: exceptions are thrown by value and derive from std::exception (catch them by
// reference; what() names the cause and the file), not as the framework's heap pointers;
// BOOL results are int 0/1.
#pragma once

#include <cstdint>
#include <exception>
#include <ostream>
#include <string>

#include "qorv/platform/api.h"

namespace qorv::platform {

class CObject;
class CArchive;
class CDumpContext;

using BOOL = int;
using UINT = unsigned int;

// Schema value of a run-time class whose archives carry a version number.
constexpr UINT VERSIONABLE_SCHEMA = 0x80000000u;

struct QORV_API CRuntimeClass {
  const char* m_lpszClassName;
  int m_nObjectSize;
  UINT m_wSchema;                   // 0xFFFF: not serialisable
  CObject* (*m_pfnCreateObject)();  // null: the framework cannot create it
  CRuntimeClass* m_pBaseClass;
  CRuntimeClass* m_pNextClass;  // chain of the classes passed to AfxClassInit

  CObject* CreateObject() const;
  BOOL IsDerivedFrom(const CRuntimeClass* base) const;
  // Classes passed to AfxClassInit, by exact name; null when none.
  static CRuntimeClass* FromName(const char* name);
};

// Registers a serialisable class so that archives can find it by name. Registering twice is a
// no-op.
QORV_API void AfxClassInit(CRuntimeClass* cls);
QORV_API void AfxClassTerm(CRuntimeClass* cls);

class QORV_API CObject {
 public:
  virtual CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject() = default;
  virtual void Serialize(CArchive& ar);
  virtual void AssertValid() const {}
  virtual void Dump(CDumpContext& dc) const;

  BOOL IsKindOf(const CRuntimeClass* cls) const;
  BOOL IsSerializable() const;

  static CRuntimeClass classCObject;

 protected:
  CObject() = default;
  CObject(const CObject&) = default;
  CObject& operator=(const CObject&) = default;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

// Text output of dumps, over any std::ostream (std::cerr when default-constructed).
class QORV_API CDumpContext {
 public:
  CDumpContext();
  explicit CDumpContext(std::ostream& out) : out_(&out) {}
  CDumpContext& operator<<(const char* text);
  CDumpContext& operator<<(const std::string& text);
  CDumpContext& operator<<(int v);
  CDumpContext& operator<<(unsigned v);
  CDumpContext& operator<<(long v);
  CDumpContext& operator<<(double v);
  CDumpContext& operator<<(const void* p);
  void Flush() { out_->flush(); }
  std::ostream& stream() { return *out_; }

 private:
  std::ostream* out_;
};

// The root of the library's exceptions. It is a std::exception, so a host that catches those, or
// none at all, is told why: what() is describe(), the cause in words and the file concerned.
class QORV_API CException : public std::exception {
 public:
  ~CException() override = default;
  virtual std::string describe() const { return "framework exception"; }
  const char* what() const noexcept override;

 protected:
  CException() = default;

 private:
  mutable std::string what_;
};

class QORV_API CInvalidArgException : public CException {
 public:
  std::string describe() const override { return "invalid argument"; }
};

[[noreturn]] QORV_API void AfxThrowInvalidArgException();

}  // namespace qorv::platform
