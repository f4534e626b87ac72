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

}  // namespace qorv::platform
