// qorv/support/cir_buf.h
//
// ER_CirBuf: a circular character buffer (a character array, write index, read index, count and
// size, all 32-bit) with an overridable overflow hook.
//
// Conventions a caller gets wrong:
// - A buffer of size n holds at most n - 1 characters.
// - Put calls OnDebord() for as long as the buffer is full. The default OnDebord empties the
//   buffer, so an overflowing Put discards everything unread and stores the new character
//   alone; an override must make room (or Put keeps calling it). A buffer smaller than 2 holds
//   nothing: Put calls OnDebord once and drops the character.
// - Get() on an empty buffer returns 255, which is also what a stored 0xFF reads as.
// - operator[](i) peeks at the i-th unread character without consuming it; i must be below
//   GetNbChar() (asserted; otherwise 0).
#pragma once

#include <cstdint>

#include "qorv/platform/api.h"

class QORV_API ER_CirBuf {
 public:
  // size characters of storage (a negative size is 0).
  explicit ER_CirBuf(int size);
  ER_CirBuf(const ER_CirBuf& o);
  ER_CirBuf& operator=(const ER_CirBuf& o);
  virtual ~ER_CirBuf();

  char operator[](int i) const;
  void Put(char c);
  // The n characters of s, in order.
  void Put(const char* s, int n);
  // The oldest unread character, 255 when empty.
  unsigned char Get();
  // Drops n unread characters (all of them when n is not below the count).
  void Consomme(int n);
  int GetNbChar() const { return count_; }
  int GetTaille() const { return size_; }
  // Empties the buffer.
  void RAZ() { write_ = read_ = count_ = 0; }
  // The buffer is full and a character is waiting.
  virtual void OnDebord() { RAZ(); }

 private:
  char* buffer_;
  std::int32_t write_ = 0;
  std::int32_t read_ = 0;
  std::int32_t count_ = 0;
  std::int32_t size_;
};
