#include "qorv/platform/afx.h"

#include <cstring>
#include <iostream>
#include <mutex>

namespace qorv::platform {

namespace {

std::mutex& classChainMutex() {
  static std::mutex m;
  return m;
}
CRuntimeClass* g_firstClass = nullptr;

}  // namespace

CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), 0xFFFF,
                                       nullptr,   nullptr,         nullptr};

CObject* CRuntimeClass::CreateObject() const {
  return m_pfnCreateObject ? m_pfnCreateObject() : nullptr;
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
  // The chain is finite by construction; the bound guards a corrupt host-built class.
  const CRuntimeClass* c = this;
  for (int depth = 0; c != nullptr && depth < 1024; ++depth, c = c->m_pBaseClass)
    if (c == base) return 1;
  return 0;
}

CRuntimeClass* CRuntimeClass::FromName(const char* name) {
  if (name == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(classChainMutex());
  for (CRuntimeClass* c = g_firstClass; c != nullptr; c = c->m_pNextClass)
    if (std::strcmp(c->m_lpszClassName, name) == 0) return c;
  return nullptr;
}

void AfxClassInit(CRuntimeClass* cls) {
  if (cls == nullptr) return;
  std::lock_guard<std::mutex> lock(classChainMutex());
  for (CRuntimeClass* c = g_firstClass; c != nullptr; c = c->m_pNextClass)
    if (c == cls) return;
  cls->m_pNextClass = g_firstClass;
  g_firstClass = cls;
}

void AfxClassTerm(CRuntimeClass* cls) {
  std::lock_guard<std::mutex> lock(classChainMutex());
  for (CRuntimeClass** link = &g_firstClass; *link != nullptr; link = &(*link)->m_pNextClass) {
    if (*link == cls) {
      *link = cls->m_pNextClass;
      cls->m_pNextClass = nullptr;
      return;
    }
  }
}

CRuntimeClass* CObject::GetRuntimeClass() const { return &classCObject; }

void CObject::Serialize(CArchive&) {}

void CObject::Dump(CDumpContext& dc) const {
  dc << "a " << GetRuntimeClass()->m_lpszClassName << " at " << static_cast<const void*>(this)
     << "\n";
}

BOOL CObject::IsKindOf(const CRuntimeClass* cls) const {
  return GetRuntimeClass()->IsDerivedFrom(cls);
}

BOOL CObject::IsSerializable() const { return GetRuntimeClass()->m_wSchema != 0xFFFF; }

CDumpContext::CDumpContext() : out_(&std::cerr) {}
CDumpContext& CDumpContext::operator<<(const char* text) {
  if (text) *out_ << text;
  return *this;
}
CDumpContext& CDumpContext::operator<<(const std::string& text) {
  *out_ << text;
  return *this;
}
CDumpContext& CDumpContext::operator<<(int v) {
  *out_ << v;
  return *this;
}
CDumpContext& CDumpContext::operator<<(unsigned v) {
  *out_ << v;
  return *this;
}
CDumpContext& CDumpContext::operator<<(long v) {
  *out_ << v;
  return *this;
}
CDumpContext& CDumpContext::operator<<(double v) {
  *out_ << v;
  return *this;
}
CDumpContext& CDumpContext::operator<<(const void* p) {
  *out_ << p;
  return *this;
}

void AfxThrowInvalidArgException() { throw CInvalidArgException(); }

const char* CException::what() const noexcept {
  try {
    what_ = describe();
  } catch (...) {
    return "qorv exception";
  }
  return what_.c_str();
}

}  // namespace qorv::platform
