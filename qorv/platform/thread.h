// qorv/platform/thread.h
//
// Per-thread data and locks in the framework's shape. A CThreadLocalObject is one slot; each
// thread that asks for its data gets its own object, made by the creation function on first use
// and destroyed when the thread ends (the main thread's at exit). CCriticalSection is a mutex.
#pragma once

#include <mutex>

#include "qorv/platform/api.h"

namespace qorv::platform {

// Base of per-thread objects: a virtual destructor is all the slot needs to destroy them.
class QORV_API CNoTrackObject {
 public:
  virtual ~CNoTrackObject() = default;
};

class QORV_API CThreadLocalObject {
 public:
  CThreadLocalObject();
  ~CThreadLocalObject();
  CThreadLocalObject(const CThreadLocalObject&) = delete;
  CThreadLocalObject& operator=(const CThreadLocalObject&) = delete;

  // This thread's object, created by create() on first use; null when create() returned null
  // (a later call tries again).
  CNoTrackObject* GetData(CNoTrackObject* (*create)());
  // This thread's object if it exists, without creating it.
  CNoTrackObject* GetDataNA() const;

 private:
  unsigned slot_;
};

class QORV_API CCriticalSection {
 public:
  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }
  // BasicLockable, so std::lock_guard takes it.
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

}  // namespace qorv::platform
