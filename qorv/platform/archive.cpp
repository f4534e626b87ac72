#include "qorv/platform/archive.h"

#include <cstring>

#include "qorv/platform/file.h"

namespace qorv::platform {

std::string CArchiveException::describe() const {
  switch (m_cause) {
    case endOfFile:
      return "archive: end of file";
    case readOnly:
      return "archive: storing into a loading archive";
    case writeOnly:
      return "archive: loading from a storing archive";
    case badClass:
      return "archive: unknown class";
    case badSchema:
      return "archive: bad schema";
    default:
      return "archive error";
  }
}

CArchive::CArchive(CFile* file, UINT mode) : file_(file), mode_(mode == load ? load : store) {}
CArchive::CArchive() : mode_(store) {}
CArchive::CArchive(const void* data, std::size_t size)
    : mode_(load),
      memory_(static_cast<const std::uint8_t*>(data),
              static_cast<const std::uint8_t*>(data) + size) {}

void CArchive::Write(const void* data, UINT count) {
  if (mode_ != store) throw CArchiveException(CArchiveException::readOnly);
  if (count == 0) return;
  if (file_ != nullptr) {
    file_->Write(data, count);
  } else {
    const auto* p = static_cast<const std::uint8_t*>(data);
    memory_.insert(memory_.end(), p, p + count);
  }
}

UINT CArchive::Read(void* data, UINT count) {
  if (mode_ != load) throw CArchiveException(CArchiveException::writeOnly);
  if (file_ != nullptr) return file_->Read(data, count);
  const std::size_t left = memory_.size() - readPos_;
  const UINT n = static_cast<UINT>(count < left ? count : left);
  if (n) std::memcpy(data, memory_.data() + readPos_, n);
  readPos_ += n;
  return n;
}

CArchive& CArchive::get(void* p, UINT n) {
  if (Read(p, n) != n) throw CArchiveException(CArchiveException::endOfFile);
  return *this;
}

CArchive& CArchive::putLE(std::uint64_t v, int width) {
  std::uint8_t b[8];
  for (int i = 0; i < width; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
  return put(b, static_cast<UINT>(width));
}

std::uint64_t CArchive::getLE(int width) {
  std::uint8_t b[8];
  get(b, static_cast<UINT>(width));
  std::uint64_t v = 0;
  for (int i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(b[i]) << (8 * i);
  return v;
}

CArchive& CArchive::operator<<(float v) {
  std::uint32_t u;
  std::memcpy(&u, &v, 4);
  return putLE(u, 4);
}
CArchive& CArchive::operator<<(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, 8);
  return putLE(u, 8);
}

CArchive& CArchive::operator>>(bool& v) {
  v = getLE(4) != 0;
  return *this;
}
CArchive& CArchive::operator>>(std::int16_t& v) {
  v = static_cast<std::int16_t>(getLE(2));
  return *this;
}
CArchive& CArchive::operator>>(std::uint16_t& v) {
  v = static_cast<std::uint16_t>(getLE(2));
  return *this;
}
CArchive& CArchive::operator>>(int& v) {
  v = static_cast<std::int32_t>(getLE(4));
  return *this;
}
CArchive& CArchive::operator>>(unsigned& v) {
  v = static_cast<std::uint32_t>(getLE(4));
  return *this;
}
CArchive& CArchive::operator>>(long& v) {
  v = static_cast<std::int32_t>(getLE(4));
  return *this;
}
CArchive& CArchive::operator>>(unsigned long& v) {
  v = static_cast<std::uint32_t>(getLE(4));
  return *this;
}
CArchive& CArchive::operator>>(long long& v) {
  v = static_cast<long long>(getLE(8));
  return *this;
}
CArchive& CArchive::operator>>(unsigned long long& v) {
  v = getLE(8);
  return *this;
}
CArchive& CArchive::operator>>(float& v) {
  const auto u = static_cast<std::uint32_t>(getLE(4));
  std::memcpy(&v, &u, 4);
  return *this;
}
CArchive& CArchive::operator>>(double& v) {
  const std::uint64_t u = getLE(8);
  std::memcpy(&v, &u, 8);
  return *this;
}

namespace {
constexpr std::uint16_t kNullTag = 0, kNewClassTag = 0xFFFF, kClassTag = 0x8000,
                        kBigObjectTag = 0x7FFF;
constexpr std::uint32_t kBigClassTag = 0x80000000u, kMaxMapCount = 0x3FFFFFFEu;
constexpr std::uint16_t kMaxClassName = 64;
}  // namespace

void CArchive::WriteClass(const CRuntimeClass* cls) {
  if (cls == nullptr || cls->m_wSchema == 0xFFFF) throw CArchiveException(CArchiveException::badClass);
  if (auto it = stored_.find(cls); it != stored_.end()) {
    if (it->second < kBigObjectTag) {
      *this << static_cast<std::uint16_t>(kClassTag | it->second);
    } else {
      *this << kBigObjectTag << static_cast<std::uint32_t>(kBigClassTag | it->second);
    }
    return;
  }
  const std::size_t n = std::strlen(cls->m_lpszClassName);
  if (n >= kMaxClassName) throw CArchiveException(CArchiveException::badClass);
  *this << kNewClassTag << static_cast<std::uint16_t>(cls->m_wSchema)
        << static_cast<std::uint16_t>(n);
  Write(cls->m_lpszClassName, static_cast<UINT>(n));
  if (mapCount_ >= kMaxMapCount) throw CArchiveException(CArchiveException::badIndex);
  stored_[cls] = mapCount_++;
}

void CArchive::WriteObject(const CObject* object) {
  if (mode_ != store) throw CArchiveException(CArchiveException::readOnly);
  if (object == nullptr) {
    *this << kNullTag;
    return;
  }
  if (auto it = stored_.find(object); it != stored_.end()) {
    if (it->second < kBigObjectTag) {
      *this << static_cast<std::uint16_t>(it->second);
    } else {
      *this << kBigObjectTag << it->second;
    }
    return;
  }
  WriteClass(object->GetRuntimeClass());
  if (mapCount_ >= kMaxMapCount) throw CArchiveException(CArchiveException::badIndex);
  stored_[object] = mapCount_++;
  const_cast<CObject*>(object)->Serialize(*this);
}

CRuntimeClass* CArchive::ReadClass(const CRuntimeClass* requested, UINT* schema,
                                   std::uint32_t* objectTag) {
  if (mode_ != load) throw CArchiveException(CArchiveException::writeOnly);
  std::uint16_t tag = 0;
  *this >> tag;
  std::uint32_t full = 0;
  if (tag == kBigObjectTag) {
    *this >> full;
  } else {
    full = (static_cast<std::uint32_t>(tag & kClassTag) << 16) | (tag & ~kClassTag);
  }
  if ((full & kBigClassTag) == 0) {
    if (objectTag != nullptr) *objectTag = full;
    return nullptr;
  }
  CRuntimeClass* cls = nullptr;
  if (tag == kNewClassTag) {
    std::uint16_t classSchema = 0, length = 0;
    *this >> classSchema >> length;
    if (length >= kMaxClassName) throw CArchiveException(CArchiveException::badClass);
    char name[kMaxClassName + 1] = {};
    get(name, length);
    cls = CRuntimeClass::FromName(name);
    if (cls == nullptr || cls->m_wSchema == 0xFFFF)
      throw CArchiveException(CArchiveException::badClass);
    const bool versionable = (cls->m_wSchema & VERSIONABLE_SCHEMA) != 0;
    if (!versionable && (cls->m_wSchema & 0xFFFFu) != classSchema)
      throw CArchiveException(CArchiveException::badSchema);
    schema_ = classSchema;
    if (schema != nullptr) *schema = classSchema;
    if (mapCount_ >= kMaxMapCount) throw CArchiveException(CArchiveException::badIndex);
    loaded_.push_back(Loaded{cls, nullptr});
    ++mapCount_;
  } else {
    const std::uint32_t index = full & ~kBigClassTag;
    if (index == 0 || index >= loaded_.size() || loaded_[index].cls == nullptr)
      throw CArchiveException(CArchiveException::badIndex);
    cls = loaded_[index].cls;
    schema_ = cls->m_wSchema & 0xFFFFu;
    if (schema != nullptr) *schema = schema_;
  }
  if (requested != nullptr && !cls->IsDerivedFrom(requested))
    throw CArchiveException(CArchiveException::badClass);
  return cls;
}

CObject* CArchive::ReadObject(const CRuntimeClass* requested) {
  UINT schema = 0;
  std::uint32_t objectTag = 0;
  CRuntimeClass* cls = ReadClass(requested, &schema, &objectTag);
  if (cls == nullptr) {
    if (objectTag == 0) return nullptr;
    if (objectTag >= loaded_.size() || loaded_[objectTag].object == nullptr)
      throw CArchiveException(CArchiveException::badIndex);
    CObject* seen = loaded_[objectTag].object;
    if (requested != nullptr && !seen->IsKindOf(requested))
      throw CArchiveException(CArchiveException::badClass);
    return seen;
  }
  CObject* object = cls->CreateObject();
  if (object == nullptr) throw CArchiveException(CArchiveException::badClass);
  if (mapCount_ >= kMaxMapCount) {
    delete object;
    throw CArchiveException(CArchiveException::badIndex);
  }
  const std::size_t slot = loaded_.size();
  loaded_.push_back(Loaded{nullptr, object});
  ++mapCount_;
  try {
    object->Serialize(*this);
  } catch (...) {
    loaded_[slot].object = nullptr;
    delete object;
    throw;
  }
  return object;
}

}  // namespace qorv::platform
