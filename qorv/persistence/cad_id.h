// qorv/persistence/cad_id.h
//
// Identifiers of the objects of an imported CAD model: CADObjectID (a handle and a
// sub-identifier, and for a full description the object's place in the model's group hierarchy,
// its type name and its name space), gmCADGroupStructure (that place: the path of group names
// from the root), gmIDNameSpace (a named model or a file), gmNamedDBObject (an identifier bound
// to a database object), and the containers keyed by identifiers.
//
// Conventions a caller gets wrong:
// - Texts: H<handle>S<internal id>, both unsigned decimals; the invalid identifier prints
//   "H-1S-1". Representation 0 adds " (leaf)", 1 adds " (name-space leaf)" when the name space
//   is displayed (a named model), 2 adds ` (name-space "path" (type))` with "(null)" for an
//   invalid name space. Identifiers without a full description ignore the representation.
// - container_hash() is the FNV-1a hash of representation 1, cached; every change of the
//   identifier drops the cache. Two identifiers with different cached hashes are unequal at
//   once; equal identifiers always have equal hashes, so the shortcut never loses a match.
// - The deserializing version is ONE process-wide value. A caller that sets it to read an old
//   archive must call restore_deserializing_version() afterwards and keep other threads from
//   loading identifiers meanwhile.
// - Loading is all or nothing: a truncated or lying archive throws the archive exception (the
//   framework's way) and leaves the object as it was.
// - A group path string splits at '/' and '\'; empty pieces (leading, doubled or trailing
//   separators) are skipped.
// - Group structures compare in logical order ("a2" < "A10"); equality is the names, the root
//   flag, the solid depth and the unlinked flag.
//
// Archive forms (framework archive, integers little-endian 32-bit, strings as length + bytes):
//   gmIDNameSpace:       int32 type, string name
//   gmCADGroupStructure: int32 count, count names, int32 solid depth, 1 byte unlinked flag
//   CADObjectID (v6):    int32 type, uint32 handle, group structure, string type name,
//                        uint32 internal id, name space
//   older versions: v < 3 no type (1), no group structure, no type name; v < 2 no handle (0);
//   v 3 and 4 the group structure as a path string; v < 4 no name space.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "qorv/foundation/object.h"
#include "qorv/siblings/base_utilities/ut_string.h"
#include "qorv/siblings/container_library/co_containers.h"
#include "qorv/siblings/schema_store/sto_schema_object.h"
#include "qorv/siblings/surface_kernel/zrk_surf_ptr.h"
#include "qorv/support/hashed_string.h"

class ERDBObject;

enum gmObjectIDType { gmObjectIDInvalid = 0, gmObjectIDHandle = 1, gmObjectIDFull = 2 };
enum gmRepresentation { gmRepresentationLeaf = 0, gmRepresentationDisplay = 1, gmRepresentationFull = 2 };
enum gmNSType { gmNSTypeInvalid = 0, gmNSTypeName = 1, gmNSTypeFile = 2 };
// Tag of the structure made for the root group.
struct gmRootGroup {};

class QORV_API gmIDNameSpace {
 public:
  gmIDNameSpace() = default;
  // Invalid when the name is empty or the type is not gmNSTypeName or gmNSTypeFile.
  gmIDNameSpace(gmNSType type, const ::qorv::siblings::utString& name) { become(type, name); }

  gmNSType type() const { return type_; }
  const ::qorv::siblings::utString& name() const { return name_; }
  void set_name(const ::qorv::siblings::utString& name) { become(type_, name); }
  bool invalid() const { return type_ == gmNSTypeInvalid; }
  void set_invalid();
  bool is_displayed() const { return type_ == gmNSTypeName; }

  bool operator==(const gmIDNameSpace& o) const;
  bool operator!=(const gmIDNameSpace& o) const { return !(*this == o); }
  // Negative, zero or positive: by type, then logical order of the names.
  int compare(const gmIDNameSpace& o) const;
  void serialize(::qorv::platform::CArchive& ar);

 protected:
  void become(gmNSType type, const ::qorv::siblings::utString& name);

 private:
  gmNSType type_ = gmNSTypeInvalid;
  ::qorv::siblings::utString name_;
};

class QORV_API gmCADGroupStructure {
 public:
  gmCADGroupStructure() = default;
  explicit gmCADGroupStructure(gmRootGroup) : root_(1) {}
  explicit gmCADGroupStructure(const ::qorv::siblings::utString& path);

  void start_group(const ::qorv::siblings::utString& name);
  void start_solid(const ::qorv::siblings::utString& name);
  void end_group();
  void end_solid();
  void set_solid_for_current_depth();
  void set_unlinked_solid_for_current_depth();

  int depth() const { return static_cast<int>(names_.size()); }
  bool empty() const { return names_.empty(); }
  // The invalid string when empty.
  const gmHashedString& leaf() const;
  const gmHashedString& name_at(int d) const { return names_[static_cast<std::size_t>(d)]; }
  // "/" for the root structure; otherwise "/" before each name ("" when empty).
  const ::qorv::siblings::utString& path() const;
  std::uint32_t path_hash() const;
  bool is_root() const { return root_ != 0; }
  int solid_depth() const { return solidDepth_; }
  bool is_solid() const { return solidDepth_ >= 0; }
  bool is_solid_at_depth(int d) const { return solidDepth_ >= 0 && d >= solidDepth_; }
  bool is_unlinked_solid() const { return solidDepth_ >= 0 && unlinked_ != 0; }
  bool is_start_of(const gmCADGroupStructure& other) const;
  bool matches_at_depth(const gmCADGroupStructure& other, int d) const;
  int compare(const gmCADGroupStructure& other) const;
  int compare_at_depth(const gmCADGroupStructure& other, int d) const;
  // Levels 0 to d (all when d is past the leaf, none when d < 0); never the root flag.
  gmCADGroupStructure group_to_depth(int d) const;
  void set_name_on_object(ERDBObject& object) const;
  void set_invalid();

  bool operator==(const gmCADGroupStructure& o) const;
  bool operator!=(const gmCADGroupStructure& o) const { return !(*this == o); }
  void serialize(::qorv::platform::CArchive& ar);

 private:
  void changed() { pathValid_ = false; }

  std::vector<gmHashedString> names_;
  std::int32_t root_ = 0;
  std::int32_t solidDepth_ = -1;
  std::int32_t unlinked_ = 0;
  mutable gmHashedString path_;
  mutable bool pathValid_ = false;
};

class QORV_API CADObjectID {
 public:
  static constexpr std::uint32_t kInvalid = 0xFFFFFFFFu;
  static constexpr int kCurrentVersion = 6;

  CADObjectID() = default;
  CADObjectID(std::uint32_t handle, std::uint32_t internalId);
  CADObjectID(std::uint32_t handle, const gmCADGroupStructure& group,
              const ::qorv::siblings::stoSchemaObject* schemaClass, std::uint32_t internalId);
  CADObjectID(std::uint32_t handle, const ::qorv::siblings::utString& groupPath,
              const ::qorv::siblings::utString& typeName, std::uint32_t internalId);
  CADObjectID(const CADObjectID& o);
  CADObjectID(CADObjectID&& o) noexcept;
  CADObjectID& operator=(const CADObjectID& o);
  CADObjectID& operator=(CADObjectID&& o) noexcept;
  ~CADObjectID() = default;
  void swap(CADObjectID& o) noexcept;

  std::uint32_t Handle() const { return handle_; }
  std::uint32_t InternalID() const { return internalId_; }
  gmObjectIDType internal_type() const { return type_; }
  bool invalid() const { return type_ == gmObjectIDInvalid; }
  void set_invalid();
  const ::qorv::siblings::utString& type() const { return typeName_; }
  const gmCADGroupStructure& group_structure() const { return group_; }
  void set_group_structure(const gmCADGroupStructure& g);
  const gmIDNameSpace& name_space() const { return nameSpace_; }
  void set_name_space(const gmIDNameSpace& ns);
  void invalidate_name_space();

  std::string as_string(int representation) const;
  std::uint32_t container_hash() const;
  bool operator==(const CADObjectID& o) const;
  bool operator!=(const CADObjectID& o) const { return !(*this == o); }
  void serialize(::qorv::platform::CArchive& ar);

  static int deserializing_version();
  static void set_deserializing_version(int version);
  static void restore_deserializing_version() { set_deserializing_version(kCurrentVersion); }

 private:
  gmObjectIDType type_ = gmObjectIDInvalid;
  std::uint32_t handle_ = kInvalid;
  gmCADGroupStructure group_;
  gmIDNameSpace nameSpace_;
  ::qorv::siblings::utString typeName_;
  std::uint32_t internalId_ = kInvalid;
  mutable std::atomic<std::uint32_t> hash_{0};
};

class QORV_API gmNamedDBObject {
 public:
  gmNamedDBObject(const CADObjectID& id, const t_SmartPtr<ERDBObject>& object);
  const CADObjectID& id() const { return id_; }
  const gmCADGroupStructure& group_structure() const { return id_.group_structure(); }
  const t_SmartPtr<ERDBObject>& object() const { return object_; }
  void invalidate_name_space() { id_.invalidate_name_space(); }

 private:
  CADObjectID id_;
  t_SmartPtr<ERDBObject> object_;
};

using CADObjectIDcoPageArr = ::qorv::siblings::coPageArr<CADObjectID>;
using CADObjectIDcoPageArrIterator = CADObjectIDcoPageArr::iterator;
using CADObjectIDzrkSurfPtrcoTable =
    ::qorv::siblings::coTable<CADObjectID, ::qorv::siblings::zrkSurfPtr>;
using CADObjectIDzrkSurfPtrcoTableIterator = CADObjectIDzrkSurfPtrcoTable::const_iterator;
