// qorv/siblings/surface_kernel/zrk_surf_ptr.h
//
// SurfaceKernel: zrkSurfPtr, a shared handle on a kernel surface. The CAD-identifier tables only
// store and copy it; copies share the surface, which lives as long as its last handle.
#pragma once

#include <memory>

namespace qorv::siblings {

class zrkSurfPtr {
 public:
  zrkSurfPtr() = default;
  template <class S>
  explicit zrkSurfPtr(std::shared_ptr<S> surface) : surface_(std::move(surface)) {}

  bool is_null() const { return surface_ == nullptr; }
  const void* get() const { return surface_.get(); }
  bool operator==(const zrkSurfPtr& o) const { return surface_ == o.surface_; }
  bool operator!=(const zrkSurfPtr& o) const { return !(*this == o); }

 private:
  std::shared_ptr<const void> surface_;
};

}  // namespace qorv::siblings
