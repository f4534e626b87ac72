#include "qorv/persistence/cad_id.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "qorv/persistence/db_object.h"
#include "qorv/platform/archive.h"
#include "qorv/siblings/archive_streams/archive_strings.h"
#include "qorv/siblings/utility_toolkit/tku_string.h"

using namespace qorv::platform;
using namespace qorv::siblings;

namespace {

std::atomic<int> deserializingVersion{CADObjectID::kCurrentVersion};

const gmHashedString& invalidName() {
  static const gmHashedString none;
  return none;
}

// printf's %s of a null pointer.
const char* orNull(const utString& s) { return s.is_null() ? "(null)" : s.c_str(); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// gmIDNameSpace

void gmIDNameSpace::become(gmNSType type, const utString& name) {
  if ((type != gmNSTypeName && type != gmNSTypeFile) || name.empty()) {
    set_invalid();
    return;
  }
  type_ = type;
  name_ = name;
}

void gmIDNameSpace::set_invalid() {
  type_ = gmNSTypeInvalid;
  name_ = utString();
}

bool gmIDNameSpace::operator==(const gmIDNameSpace& o) const {
  return type_ == o.type_ && (type_ == gmNSTypeInvalid || name_ == o.name_);
}

int gmIDNameSpace::compare(const gmIDNameSpace& o) const {
  if (type_ != o.type_) return type_ < o.type_ ? -1 : 1;
  if (type_ == gmNSTypeInvalid) return 0;
  return tkuLogicalStringCompare()(name_.to_wide(), o.name_.to_wide());
}

void gmIDNameSpace::serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << static_cast<int>(type_);
    ar << name_;
    return;
  }
  int type = 0;
  utString name;
  ar >> type;
  ar >> name;
  // A type or name the constructors would refuse loads as the invalid name space.
  gmIDNameSpace loaded(static_cast<gmNSType>(type == 1 || type == 2 ? type : 0), name);
  *this = std::move(loaded);
}

// ---------------------------------------------------------------------------------------------
// gmCADGroupStructure

gmCADGroupStructure::gmCADGroupStructure(const utString& path) {
  std::size_t position = 0;
  for (;;) {
    utString piece = path.extract_string(position, "\\/");
    if (piece.is_null()) break;
    names_.emplace_back(piece);
  }
}

void gmCADGroupStructure::start_group(const utString& name) {
  names_.emplace_back(name);
  changed();
}

void gmCADGroupStructure::start_solid(const utString& name) {
  solidDepth_ = depth();
  names_.emplace_back(name);
  changed();
}

void gmCADGroupStructure::end_group() {
  if (!names_.empty()) names_.pop_back();
  if (solidDepth_ >= depth()) {
    solidDepth_ = -1;
    unlinked_ = 0;
  }
  changed();
}

void gmCADGroupStructure::end_solid() {
  if (!names_.empty()) names_.pop_back();
  solidDepth_ = -1;
  unlinked_ = 0;
  changed();
}

void gmCADGroupStructure::set_solid_for_current_depth() {
  solidDepth_ = depth() - 1;
  changed();
}

void gmCADGroupStructure::set_unlinked_solid_for_current_depth() {
  solidDepth_ = depth() - 1;
  unlinked_ = 1;
  changed();
}

const gmHashedString& gmCADGroupStructure::leaf() const {
  return names_.empty() ? invalidName() : names_.back();
}

const utString& gmCADGroupStructure::path() const {
  if (!pathValid_) {
    utString text;
    if (root_ != 0) {
      text = utString("/");
    } else {
      text = utString("");
      for (const gmHashedString& n : names_) {
        text += "/";
        text += n.string();
      }
    }
    path_ = gmHashedString(text);
    pathValid_ = true;
  }
  return path_.string();
}

std::uint32_t gmCADGroupStructure::path_hash() const {
  path();
  return path_.hash();
}

bool gmCADGroupStructure::is_start_of(const gmCADGroupStructure& other) const {
  if (root_ != 0) return !other.empty();
  if (names_.empty() || names_.size() >= other.names_.size()) return false;
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (names_[i] != other.names_[i]) return false;
  return true;
}

bool gmCADGroupStructure::matches_at_depth(const gmCADGroupStructure& other, int d) const {
  if (d < 0 || d >= depth() || d >= other.depth()) return false;
  return names_[static_cast<std::size_t>(d)] == other.names_[static_cast<std::size_t>(d)];
}

int gmCADGroupStructure::compare(const gmCADGroupStructure& other) const {
  const std::size_t n = std::min(names_.size(), other.names_.size());
  for (std::size_t i = 0; i < n; ++i)
    if (const int c = names_[i].compare(other.names_[i]); c != 0) return c;
  if (names_.size() == other.names_.size()) return 0;
  return names_.size() < other.names_.size() ? -1 : 1;
}

int gmCADGroupStructure::compare_at_depth(const gmCADGroupStructure& other, int d) const {
  const bool mine = d >= 0 && d < depth(), theirs = d >= 0 && d < other.depth();
  // A missing level sorts before a present one.
  if (!mine || !theirs) return mine == theirs ? 0 : (mine ? 1 : -1);
  return names_[static_cast<std::size_t>(d)].compare(other.names_[static_cast<std::size_t>(d)]);
}

gmCADGroupStructure gmCADGroupStructure::group_to_depth(int d) const {
  gmCADGroupStructure g;
  for (int i = 0; i <= d && i < depth(); ++i) g.names_.push_back(names_[static_cast<std::size_t>(i)]);
  if (d >= solidDepth_) {
    g.solidDepth_ = solidDepth_;
    g.unlinked_ = unlinked_;
  }
  return g;
}

void gmCADGroupStructure::set_name_on_object(ERDBObject& object) const {
  object.name(depth() == 1 ? leaf().string().c_str() : path().c_str());
}

void gmCADGroupStructure::set_invalid() {
  names_.clear();
  root_ = 0;
  solidDepth_ = -1;
  unlinked_ = 0;
  changed();
}

bool gmCADGroupStructure::operator==(const gmCADGroupStructure& o) const {
  return root_ == o.root_ && solidDepth_ == o.solidDepth_ && unlinked_ == o.unlinked_ &&
         names_ == o.names_;
}

void gmCADGroupStructure::serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << static_cast<int>(names_.size());
    for (gmHashedString& n : names_) n.serialize(ar);
    ar << static_cast<int>(solidDepth_);
    ar << static_cast<std::uint8_t>(unlinked_ != 0 ? 1 : 0);
    return;
  }
  int count = 0;
  ar >> count;
  if (count < 0) throw CArchiveException(CArchiveException::genericException);
  // No reservation from the count: each name must come from the archive, which ends.
  std::vector<gmHashedString> names;
  for (int i = 0; i < count; ++i) {
    gmHashedString n;
    n.serialize(ar);
    names.push_back(std::move(n));
  }
  int solid = -1;
  std::uint8_t unlinked = 0;
  ar >> solid;
  ar >> unlinked;
  names_ = std::move(names);
  root_ = 0;
  // A solid level the path does not hold reads as none.
  solidDepth_ = solid >= 0 && solid < depth() ? solid : -1;
  unlinked_ = solidDepth_ >= 0 && unlinked != 0 ? 1 : 0;
  changed();
}

// ---------------------------------------------------------------------------------------------
// CADObjectID

CADObjectID::CADObjectID(std::uint32_t handle, std::uint32_t internalId)
    : handle_(handle), internalId_(internalId) {
  type_ = handle == kInvalid && internalId == kInvalid ? gmObjectIDInvalid : gmObjectIDHandle;
}

CADObjectID::CADObjectID(std::uint32_t handle, const gmCADGroupStructure& group,
                         const stoSchemaObject* schemaClass, std::uint32_t internalId) {
  if (handle == kInvalid || group.empty() || schemaClass == nullptr || internalId == kInvalid)
    return;
  type_ = gmObjectIDFull;
  handle_ = handle;
  group_ = group;
  typeName_ = schemaClass->name();
  internalId_ = internalId;
}

CADObjectID::CADObjectID(std::uint32_t handle, const utString& groupPath, const utString& typeName,
                         std::uint32_t internalId) {
  if (handle == kInvalid || groupPath.empty() || typeName.empty() || internalId == kInvalid) return;
  type_ = gmObjectIDFull;
  handle_ = handle;
  group_ = gmCADGroupStructure(groupPath);
  typeName_ = typeName;
  internalId_ = internalId;
}

CADObjectID::CADObjectID(const CADObjectID& o)
    : type_(o.type_),
      handle_(o.handle_),
      group_(o.group_),
      nameSpace_(o.nameSpace_),
      typeName_(o.typeName_),
      internalId_(o.internalId_),
      hash_(o.hash_.load(std::memory_order_relaxed)) {}

CADObjectID::CADObjectID(CADObjectID&& o) noexcept
    : type_(o.type_),
      handle_(o.handle_),
      group_(std::move(o.group_)),
      nameSpace_(std::move(o.nameSpace_)),
      typeName_(std::move(o.typeName_)),
      internalId_(o.internalId_),
      hash_(o.hash_.load(std::memory_order_relaxed)) {
  o.set_invalid();
}

CADObjectID& CADObjectID::operator=(const CADObjectID& o) {
  if (this != &o) {
    CADObjectID copy(o);
    swap(copy);
  }
  return *this;
}

CADObjectID& CADObjectID::operator=(CADObjectID&& o) noexcept {
  if (this != &o) {
    CADObjectID moved(std::move(o));
    swap(moved);
  }
  return *this;
}

void CADObjectID::swap(CADObjectID& o) noexcept {
  std::swap(type_, o.type_);
  std::swap(handle_, o.handle_);
  std::swap(group_, o.group_);
  std::swap(nameSpace_, o.nameSpace_);
  std::swap(typeName_, o.typeName_);
  std::swap(internalId_, o.internalId_);
  const std::uint32_t h = hash_.load(std::memory_order_relaxed);
  hash_.store(o.hash_.load(std::memory_order_relaxed), std::memory_order_relaxed);
  o.hash_.store(h, std::memory_order_relaxed);
}

void CADObjectID::set_invalid() {
  type_ = gmObjectIDInvalid;
  handle_ = kInvalid;
  group_.set_invalid();
  nameSpace_.set_invalid();
  typeName_ = utString();
  internalId_ = kInvalid;
  hash_.store(0, std::memory_order_relaxed);
}

void CADObjectID::set_group_structure(const gmCADGroupStructure& g) {
  group_ = g;
  hash_.store(0, std::memory_order_relaxed);
}

void CADObjectID::set_name_space(const gmIDNameSpace& ns) {
  nameSpace_ = ns;
  hash_.store(0, std::memory_order_relaxed);
}

void CADObjectID::invalidate_name_space() {
  nameSpace_.set_invalid();
  hash_.store(0, std::memory_order_relaxed);
}

std::string CADObjectID::as_string(int representation) const {
  char head[32];
  if (type_ == gmObjectIDInvalid) return "H-1S-1";
  std::snprintf(head, sizeof head, "H%luS%lu", static_cast<unsigned long>(handle_),
                static_cast<unsigned long>(internalId_));
  std::string text(head);
  if (type_ != gmObjectIDFull) return text;
  switch (representation) {
    case gmRepresentationDisplay:
      if (nameSpace_.is_displayed()) {
        text += " (";
        text += orNull(nameSpace_.name());
        text += ' ';
        text += orNull(group_.leaf().string());
        text += ')';
        return text;
      }
      [[fallthrough]];
    case gmRepresentationLeaf:
      text += " (";
      text += orNull(group_.leaf().string());
      text += ')';
      return text;
    case gmRepresentationFull:
      text += " (";
      text += nameSpace_.invalid() ? "(null)" : orNull(nameSpace_.name());
      text += " \"";
      text += group_.path().c_str();
      text += "\" (";
      text += orNull(typeName_);
      text += "))";
      return text;
    default:
      return {};
  }
}

std::uint32_t CADObjectID::container_hash() const {
  std::uint32_t h = hash_.load(std::memory_order_relaxed);
  if (h != 0) return h;
  const std::string text = as_string(gmRepresentationDisplay);
  h = gm_cad_string_hash(text.data(), text.size());
  hash_.store(h, std::memory_order_relaxed);
  return h;
}

bool CADObjectID::operator==(const CADObjectID& o) const {
  const std::uint32_t a = hash_.load(std::memory_order_relaxed);
  const std::uint32_t b = o.hash_.load(std::memory_order_relaxed);
  if (a != 0 && b != 0 && a != b) return false;
  return type_ == o.type_ && handle_ == o.handle_ && internalId_ == o.internalId_ &&
         typeName_.view() == o.typeName_.view() && nameSpace_ == o.nameSpace_ && group_ == o.group_;
}

int CADObjectID::deserializing_version() { return deserializingVersion.load(); }
void CADObjectID::set_deserializing_version(int version) { deserializingVersion.store(version); }

void CADObjectID::serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << static_cast<int>(type_);
    ar << static_cast<unsigned>(handle_);
    group_.serialize(ar);
    ar << typeName_;
    ar << static_cast<unsigned>(internalId_);
    nameSpace_.serialize(ar);
    return;
  }
  const int v = deserializing_version();
  CADObjectID loaded;
  int type = gmObjectIDHandle;
  unsigned handle = 0, internalId = 0;
  if (v >= 3) ar >> type;
  if (v >= 2) ar >> handle;
  if (v >= 3) {
    if (v < 5) {
      utString path;
      ar >> path;
      loaded.group_ = gmCADGroupStructure(path);
    } else {
      loaded.group_.serialize(ar);
    }
    ar >> loaded.typeName_;
  }
  ar >> internalId;
  if (v >= 4) loaded.nameSpace_.serialize(ar);
  if (v < 3 && handle == kInvalid && internalId == kInvalid) type = gmObjectIDInvalid;
  // An unknown type reads as the invalid identifier.
  loaded.type_ = type == gmObjectIDHandle || type == gmObjectIDFull ? static_cast<gmObjectIDType>(type)
                                                                     : gmObjectIDInvalid;
  loaded.handle_ = handle;
  loaded.internalId_ = internalId;
  swap(loaded);
  hash_.store(0, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------------------------
// gmNamedDBObject

gmNamedDBObject::gmNamedDBObject(const CADObjectID& id, const t_SmartPtr<ERDBObject>& object)
    : id_(id), object_(object) {}
