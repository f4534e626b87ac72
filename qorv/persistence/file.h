// qorv/persistence/file.h
//
// ERFile: the random-access binary file through which every persistent class writes and reads
// itself. Values are fixed-width little-endian images, whatever the host's type sizes:
//   char, unsigned char                       1
//   short, unsigned short                     2
//   int, unsigned int, long, unsigned long    4   (long is 32 bits on disk; offsets and ids)
//   float                                     4   IEEE single
//   double                                    8   IEEE double
//   array of n values                         n x width, no count (the caller writes one)
//   zero-terminated string                    length + 1
// No tags, no alignment. Reads return whether every byte came; writes return 1 or throw the
// file exception (`CFileException`, thrown by value and caught by the object operations).
//
// The stream operators for the values of the foundation (points, vectors, poles, boxes) are
// declared with those values; for an ERObject, << and >> call saveGuts and restoreGuts.
#pragma once

#include <cstdint>

#include "qorv/platform/file.h"

class ERObject;

class QORV_API ERFile : public ::qorv::platform::CFile {
 public:
  ERFile() = default;
  // Opens at once; failure throws the file exception.
  ERFile(const char* fileName, ::qorv::platform::UINT openFlags) : ::qorv::platform::CFile(fileName, openFlags) {}

  // The untyped byte forms of the framework stay reachable beside the typed ones.
  using ::qorv::platform::CFile::Read;
  using ::qorv::platform::CFile::Write;

  int Read(char& v);
  int Read(unsigned char& v);
  int Read(short& v);
  int Read(unsigned short& v);
  int Read(int& v);
  int Read(unsigned int& v);
  int Read(long& v);  // 4 bytes, sign-extended
  int Read(unsigned long& v);
  int Read(float& v);
  int Read(double& v);

  int Read(char* v, unsigned n);
  int Read(unsigned char* v, unsigned n);
  int Read(short* v, unsigned n);
  int Read(unsigned short* v, unsigned n);
  int Read(int* v, unsigned n);
  int Read(unsigned int* v, unsigned n);
  int Read(long* v, unsigned n);
  int Read(unsigned long* v, unsigned n);
  int Read(float* v, unsigned n);
  int Read(double* v, unsigned n);

  // A zero-terminated string, byte by byte, stopping at 0x00, 0xFF or end of file (none of them
  // stored) and terminating the buffer. The buffer must hold the longest string plus one; the
  // bounded form stores at most capacity - 1 bytes and skips the rest of the string.
  int Read(char* s);
  int Read(char* s, std::size_t capacity, int bounded);

  int Write(char v);
  int Write(unsigned char v);
  int Write(short v);
  int Write(unsigned short v);
  int Write(int v);
  int Write(unsigned int v);
  int Write(long v);  // low 32 bits
  int Write(unsigned long v);
  int Write(float v);
  int Write(double v);

  int Write(const char* v, unsigned n);
  int Write(const unsigned char* v, unsigned n);
  int Write(const short* v, unsigned n);
  int Write(const unsigned short* v, unsigned n);
  int Write(const int* v, unsigned n);
  int Write(const unsigned int* v, unsigned n);
  int Write(const long* v, unsigned n);
  int Write(const unsigned long* v, unsigned n);
  int Write(const float* v, unsigned n);
  int Write(const double* v, unsigned n);

  // The characters and the terminating zero.
  int Write(const char* s);

  // Open(fileName, openFlags) is the framework's: 1 on success, 0 on failure.
  using ::qorv::platform::CFile::Open;

  // Bytes a read can still get from the position: to the end of the file or, while the database
  // restores an object, of that object's record. A class that reads a count checks it against
  // this before making room for what the count announces.
  virtual std::uint64_t bytesLeft() const {
    const std::uint64_t length = GetLength(), position = GetPosition();
    return position < length ? length - position : 0;
  }

  // Called by a class that finds its record inconsistent (a count or length the record cannot
  // hold): while the database restores an object, the record is then refused as a short one is.
  // Elsewhere nothing happens; the class leaves itself unchanged either way.
  virtual void markDamaged() {}

  long CurOffset() const { return static_cast<long>(GetPosition()); }
  // Non-zero when the position reached is not 0 (so a seek to 0 reports 0).
  int SeekTo(long offset) { return Seek(offset, begin) != 0; }
  int Eof() const { return GetPosition() == GetLength(); }
  // Leaves the position at the end.
  int IsEmpty() { return SeekToEnd() == 0; }
  int Exists() const;
  static int Exists(const char* fileName);

 private:
  int readRaw(void* p, std::size_t n);
  void writeRaw(const void* p, std::size_t n);
};

QORV_API ERFile& operator<<(ERFile& f, const ERObject& o);
QORV_API ERFile& operator>>(ERFile& f, ERObject& o);
