#include "qorv/foundation/thread_data.h"

#include <mutex>
#include <new>

#include "qorv/support/quick_algebra.h"

using namespace qorv::platform;

namespace {

CThreadLocalObject& slot() {
  static CThreadLocalObject s;
  return s;
}

constinit thread_local bool t_destroyed = false;

}  // namespace

// A plain per-thread copy of the slot's pointer: trivially destroyed, so it stays readable
// while the thread's other per-thread objects are torn down, and reads null once ours is gone.
namespace qorv::detail {
constinit thread_local qorvThreadLocalData* tlsData = nullptr;
}  // namespace qorv::detail

using qorv::detail::tlsData;

CCriticalSection& qorvThreadDataLock() {
  static CCriticalSection lock;
  return lock;
}

qorvThreadLocalData::qorvThreadLocalData() {
  try {
    for (int k = 1; k <= kPools; ++k) {
      pools_[k] = new ERMemPool(8 * k, kPoolFreeThreshold);
      pools_[k]->setOwner(this);
    }
  } catch (...) {
    for (ERMemPool* p : pools_) delete p;
    throw;
  }
}

qorvThreadLocalData::~qorvThreadLocalData() {
  // From here on, storage released on this thread goes to the heap.
  if (tlsData == this) {
    tlsData = nullptr;
    t_destroyed = true;
  }
  delete identity_;
  identity_ = nullptr;
  if (scratch_ != nullptr) scratch_->free();
  scratch_ = nullptr;
  cache_.empty();
  for (ERMemPool*& p : pools_) {
    if (p == nullptr) continue;
    p->retire();
    delete p;
    p = nullptr;
  }
}

CNoTrackObject* qorvThreadLocalData::create() {
  std::lock_guard<CCriticalSection> guard(qorvThreadDataLock());
  try {
    return new qorvThreadLocalData;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

qorvThreadLocalData* qorvThreadLocalData::get() {
  qorvThreadLocalData* data = current();
  if (data == nullptr) AfxThrowInvalidArgException();
  return data;
}

qorvThreadLocalData* qorvThreadLocalData::peek() { return tlsData; }

qorvThreadLocalData* qorvThreadLocalData::make() {
  if (tlsData != nullptr) return tlsData;
  if (t_destroyed) return nullptr;
  auto* data = static_cast<qorvThreadLocalData*>(slot().GetData(&qorvThreadLocalData::create));
  tlsData = data;
  return data;
}

double* qorvThreadLocalData::scratch(std::size_t n) {
  if (scratch_ == nullptr || scratchCapacity_ < 8 * n) {
    if (scratch_ != nullptr) scratch_->free();
    scratch_ = nullptr;
    scratch_ = ERVecRep::getRep(8 * n, 1);
    scratchCapacity_ = scratch_->capacity();
  }
  return reinterpret_cast<double*>(scratch_->data());
}

const QuickAlgebra::ERMatrix<double>& qorvThreadLocalData::identity3x3() {
  if (identity_ == nullptr)
    identity_ = new QuickAlgebra::ERMatrix<double>(QuickAlgebra::ERMatrix<double>::identity(3));
  return *identity_;
}
