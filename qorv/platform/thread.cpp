#include "qorv/platform/thread.h"

#include <atomic>
#include <memory>
#include <vector>

namespace qorv::platform {

namespace {

std::atomic<unsigned> g_nextSlot{0};

// One table per thread, destroyed at thread exit, last slot first.
struct ThreadSlots {
  std::vector<CNoTrackObject*> objects;
  ~ThreadSlots() {
    while (!objects.empty()) {
      CNoTrackObject* o = objects.back();
      objects.pop_back();
      delete o;
    }
  }
};

ThreadSlots& slots() {
  thread_local ThreadSlots table;
  return table;
}

}  // namespace

CThreadLocalObject::CThreadLocalObject() : slot_(g_nextSlot.fetch_add(1)) {}

// The per-thread objects outlive the slot on other threads; they die with their threads.
CThreadLocalObject::~CThreadLocalObject() = default;

CNoTrackObject* CThreadLocalObject::GetData(CNoTrackObject* (*create)()) {
  ThreadSlots& t = slots();
  if (t.objects.size() <= slot_) t.objects.resize(slot_ + 1, nullptr);
  if (t.objects[slot_] == nullptr && create != nullptr) t.objects[slot_] = create();
  return t.objects[slot_];
}

CNoTrackObject* CThreadLocalObject::GetDataNA() const {
  ThreadSlots& t = slots();
  return slot_ < t.objects.size() ? t.objects[slot_] : nullptr;
}

}  // namespace qorv::platform
