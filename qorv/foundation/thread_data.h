// qorv/foundation/thread_data.h
//
// The library's per-thread scratch state: one qorvThreadLocalData per thread, made on first use
// and destroyed when the thread ends. It holds what the evaluation code recycles without locks
// (vector-storage blocks, a scratch array, a shared 3x3 identity, the size-class memory pools);
// only its creation takes the process-wide critical section.
#pragma once

#include "platform/afx.h"
#include "platform/thread.h"

class QORV_API qorvThreadLocalData : public CNoTrackObject {
 public:
  qorvThreadLocalData();
  ~qorvThreadLocalData() override;
  qorvThreadLocalData(const qorvThreadLocalData&) = delete;
  qorvThreadLocalData& operator=(const qorvThreadLocalData&) = delete;

  // This thread's object; throws the framework's invalid-argument exception when it cannot be
  // created (exhausted heap).
  static qorvThreadLocalData* get();
  // This thread's object if it exists already, else null (never creates).
  static qorvThreadLocalData* peek();

  // The creation function handed to the per-thread slot: null when the heap is exhausted.
  static CNoTrackObject* create();
};

// The process-wide lock that guards the creation of per-thread objects.
QORV_API CCriticalSection& qorvThreadDataLock();
