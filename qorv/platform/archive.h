// qorv/platform/archive.h
//
// The framework's binary archive: a one-way stream of little-endian values over a CFile or an
// in-memory buffer, either storing or loading. Widths follow the framework's types, not the
// host's: int, unsigned, long and unsigned long are 4 bytes, short 2, long long 8.
//
// Loading past the end throws CArchiveException(CArchiveException::endOfFile) by value; using an
// archive in the wrong direction throws readOnly / writeOnly.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "qorv/platform/afx.h"

namespace qorv::platform {

class CFile;

class QORV_API CArchiveException : public CException {
 public:
  enum {
    none = 0,
    genericException = 1,
    readOnly = 2,
    endOfFile = 3,
    writeOnly = 4,
    badIndex = 5,
    badClass = 6,
    badSchema = 7,
    bufferFull = 8,
  };
  explicit CArchiveException(int cause = none) : m_cause(cause) {}
  std::string describe() const override;
  int m_cause;
};

class QORV_API CArchive {
 public:
  enum Mode { store = 0, load = 1 };

  // Over a file, positioned where the file is; the archive does not own the file.
  CArchive(CFile* file, UINT mode);
  // Storing into a memory buffer that grows.
  CArchive();
  // Loading from a copy of the given bytes.
  CArchive(const void* data, std::size_t size);
  ~CArchive() = default;
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  BOOL IsLoading() const { return mode_ == load; }
  BOOL IsStoring() const { return mode_ == store; }
  CFile* GetFile() const { return file_; }
  // The bytes stored so far (memory archives).
  const std::vector<std::uint8_t>& buffer() const { return memory_; }
  void Flush() {}
  void Close() {}

  void Write(const void* data, UINT count);
  // Bytes read; fewer than count only at the end.
  UINT Read(void* data, UINT count);

  // Objects with their class, each written once (a second write refers to the first):
  //   null                 uint16 0
  //   object seen before   uint16 index (index < 0x7FFF), else 0x7FFF and uint32 index
  //   new object           class tag, then the object's Serialize
  //   class tag, new class uint16 0xFFFF, uint16 schema, uint16 name length, the name's bytes
  //   class tag, seen      uint16 0x8000 | index, else 0x7FFF and uint32 0x80000000 | index
  // Indices count classes and objects together from 1, in the order they first appear.
  // Writing a class that is not serialisable, reading a class name no class passed to
  // AfxClassInit has, a class not derived from the one requested or an index not yet seen
  // throw CArchiveException (badClass, badClass, badClass, badIndex); a schema other than the
  // class's own throws badSchema unless the class is versionable. Read objects belong to the
  // caller; an object whose Serialize throws is deleted before the exception passes on.
  void WriteObject(const CObject* object);
  CObject* ReadObject(const CRuntimeClass* requested);
  void WriteClass(const CRuntimeClass* cls);
  // The class of the next object, or null with *objectTag set (0 for null) when the tag names an
  // object already read. The schema read goes to *schema.
  CRuntimeClass* ReadClass(const CRuntimeClass* requested, UINT* schema, std::uint32_t* objectTag);
  // The schema of the class being read, for a versionable class's Serialize.
  UINT GetObjectSchema() const { return schema_; }

  CArchive& operator<<(std::int8_t v) { return put(&v, 1); }
  CArchive& operator<<(std::uint8_t v) { return put(&v, 1); }
  CArchive& operator<<(char v) { return put(&v, 1); }
  CArchive& operator<<(bool v) { return *this << static_cast<std::int32_t>(v); }
  CArchive& operator<<(std::int16_t v) { return putLE(static_cast<std::uint16_t>(v), 2); }
  CArchive& operator<<(std::uint16_t v) { return putLE(v, 2); }
  CArchive& operator<<(int v) { return putLE(static_cast<std::uint32_t>(v), 4); }
  CArchive& operator<<(unsigned v) { return putLE(v, 4); }
  CArchive& operator<<(long v) { return putLE(static_cast<std::uint32_t>(v), 4); }
  CArchive& operator<<(unsigned long v) { return putLE(static_cast<std::uint32_t>(v), 4); }
  CArchive& operator<<(long long v) { return putLE(static_cast<std::uint64_t>(v), 8); }
  CArchive& operator<<(unsigned long long v) { return putLE(v, 8); }
  CArchive& operator<<(float v);
  CArchive& operator<<(double v);

  CArchive& operator>>(std::int8_t& v) { return get(&v, 1); }
  CArchive& operator>>(std::uint8_t& v) { return get(&v, 1); }
  CArchive& operator>>(char& v) { return get(&v, 1); }
  CArchive& operator>>(bool& v);
  CArchive& operator>>(std::int16_t& v);
  CArchive& operator>>(std::uint16_t& v);
  CArchive& operator>>(int& v);
  CArchive& operator>>(unsigned& v);
  CArchive& operator>>(long& v);
  CArchive& operator>>(unsigned long& v);
  CArchive& operator>>(long long& v);
  CArchive& operator>>(unsigned long long& v);
  CArchive& operator>>(float& v);
  CArchive& operator>>(double& v);

 private:
  CArchive& put(const void* p, UINT n) {
    Write(p, n);
    return *this;
  }
  CArchive& get(void* p, UINT n);
  CArchive& putLE(std::uint64_t v, int width);
  std::uint64_t getLE(int width);

  CFile* file_ = nullptr;
  Mode mode_;
  // Storing: what was written and its index. Loading: index -> class or object.
  std::unordered_map<const void*, std::uint32_t> stored_;
  struct Loaded {
    CRuntimeClass* cls = nullptr;
    CObject* object = nullptr;
  };
  std::vector<Loaded> loaded_{Loaded{}};
  std::uint32_t mapCount_ = 1;
  UINT schema_ = 0xFFFF;
  std::vector<std::uint8_t> memory_;
  std::size_t readPos_ = 0;
};

}  // namespace qorv::platform

namespace qorv::platform {
// Objects through their class (WriteObject / ReadObject with no class requested).
inline CArchive& operator<<(CArchive& ar, const CObject* object) {
  ar.WriteObject(object);
  return ar;
}
inline CArchive& operator>>(CArchive& ar, CObject*& object) {
  object = ar.ReadObject(nullptr);
  return ar;
}
}  // namespace qorv::platform
