#include "qorv/foundation/thread_data.h"

#include <mutex>
#include <new>

namespace {

CThreadLocalObject& slot() {
  static CThreadLocalObject s;
  return s;
}

}  // namespace

CCriticalSection& qorvThreadDataLock() {
  static CCriticalSection lock;
  return lock;
}

qorvThreadLocalData::qorvThreadLocalData() = default;
qorvThreadLocalData::~qorvThreadLocalData() = default;

CNoTrackObject* qorvThreadLocalData::create() {
  std::lock_guard<CCriticalSection> guard(qorvThreadDataLock());
  return new (std::nothrow) qorvThreadLocalData;
}

qorvThreadLocalData* qorvThreadLocalData::get() {
  auto* data = static_cast<qorvThreadLocalData*>(slot().GetData(&qorvThreadLocalData::create));
  if (data == nullptr) AfxThrowInvalidArgException();
  return data;
}

qorvThreadLocalData* qorvThreadLocalData::peek() {
  return static_cast<qorvThreadLocalData*>(slot().GetDataNA());
}
