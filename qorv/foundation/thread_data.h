// qorv/foundation/thread_data.h
//
// The library's per-thread scratch state: one qorvThreadLocalData per thread, made on first use
// and destroyed when the thread ends. It holds what the evaluation code recycles without locks:
// the vector-storage block cache (qorv/support/vec_rep.h), a scratch array of doubles, a shared
// 3x3 identity matrix, and the 48 size-class memory pools (qorv/support/mem_pool.h). Only its
// creation takes the process-wide critical section.
//
// Conventions a caller gets wrong:
// - Everything here belongs to the calling thread: never hand the scratch array or a pool to
//   another thread. The identity matrix may be copied freely (copies share its storage).
// - scratch(n) returns the same block while it is large enough, otherwise a new one: a second
//   call may invalidate the first pointer.
// - When the thread ends, its data is destroyed: the cache is emptied, pools free their unused
//   chunks (those with outstanding elements are left to them), and storage released later on
//   that thread (static objects destroyed at exit) goes straight to the heap.
// - The library keeps one pointer in initial-exec thread-local storage (a single load on every
//   vector allocation): a host that loads it with dlopen relies on the C library's spare static
//   TLS, which glibc reserves for exactly this.
#pragma once

#include <cstddef>

#include "qorv/platform/afx.h"
#include "qorv/platform/thread.h"
#include "qorv/support/mem_pool.h"
#include "qorv/support/vec_rep.h"

namespace QuickAlgebra {
template <class T>
class ERMatrix;
}

#if defined(_WIN32)
#define QORV_INTERNAL
#else
// Library-internal entry points: callable only from inside libqorv.
#define QORV_INTERNAL __attribute__((visibility("hidden")))
#endif

class qorvThreadLocalData;

namespace qorv::detail {
// This thread's data once made; null before, and again once it is destroyed. Library-internal.
// Initial-exec: every vector allocation and release reads it, and this makes the read one load.
#if defined(_WIN32)
extern thread_local qorvThreadLocalData* tlsData;
#else
extern constinit thread_local qorvThreadLocalData* tlsData
    __attribute__((visibility("hidden"), tls_model("initial-exec")));
#endif
}  // namespace qorv::detail

class QORV_API qorvThreadLocalData : public ::qorv::platform::CNoTrackObject {
 public:
  static constexpr std::size_t kCacheByteLimit = ERVecRepCache::kByteLimit;
  static constexpr std::size_t kCacheBlockLimit = ERVecRepCache::kBlockLimit;
  static constexpr int kPools = 48;
  static constexpr std::size_t kPoolFreeThreshold = 1024;

  qorvThreadLocalData();
  ~qorvThreadLocalData() override;
  qorvThreadLocalData(const qorvThreadLocalData&) = delete;
  qorvThreadLocalData& operator=(const qorvThreadLocalData&) = delete;

  // This thread's object; throws the framework's invalid-argument exception when it cannot be
  // created (exhausted heap, or asked again after the thread's data was destroyed).
  static qorvThreadLocalData* get();
  // This thread's object if it exists already, else null (never creates).
  static qorvThreadLocalData* peek();
  // get() without the exception: null when the data cannot be had (the callers fall back to
  // the heap). Library-internal.
  static qorvThreadLocalData* current() {
    qorvThreadLocalData* d = qorv::detail::tlsData;
    return d != nullptr ? d : make();
  }

  // The creation function handed to the per-thread slot: null when the heap is exhausted.
  static ::qorv::platform::CNoTrackObject* create();

  ERVecRepCache& vecCache() { return cache_; }
  // At least n doubles of scratch (contents unspecified).
  double* scratch(std::size_t n);
  std::size_t scratchCapacity() const { return scratchCapacity_; }
  // The 3x3 identity, made on the first request and shared by every later one on the thread.
  const QuickAlgebra::ERMatrix<double>& identity3x3();
  // The pool of size class k, 1 to 48: elements of 8 (k + 1) bytes, free threshold 1024.
  ERMemPool* pool(int k) { return pools_[k]; }

 private:
  // This thread's data, made on first use; null once destroyed or when it cannot be made.
  static qorvThreadLocalData* make() QORV_INTERNAL;

  ERVecRepCache cache_;
  ERVecRep* scratch_ = nullptr;
  std::size_t scratchCapacity_ = 0;
  QuickAlgebra::ERMatrix<double>* identity_ = nullptr;
  ERMemPool* pools_[kPools + 1] = {};  // index 0 unused
};

// The process-wide lock that guards the creation of per-thread objects.
QORV_API ::qorv::platform::CCriticalSection& qorvThreadDataLock();
