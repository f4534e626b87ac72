// qorv/persistence/db_object.h
//
// Database objects: a persistent object carrying typed properties keyed by small integers
// (colour, level, name, ...) and, optionally, a reference to another persistent object.
//
// Conventions a caller gets wrong:
// - Reading name() or level_name() when the key is absent ADDS an undefined entry for it (the
//   record grows by 5 bytes); the integer readers never change the table.
// - Conversions never fail and never invoke undefined behaviour:
//     to a signed integer: undefined 0; long and unsigned long as their 32 stored bits; a double
//       truncated toward zero, NaN 0, beyond the 32-bit range the nearest bound; a text as a
//       32-bit strtol in base 10 (out of range: the nearest bound);
//     to an unsigned integer: as above, except a double that is negative reads as the bits of
//       its signed reading (-2.9 gives 4294967294), one at or past 2^32 - 1 reads 4294967295, and
//       a text reads as a 32-bit strtoul (a minus sign negates modulo 2^32, overflow 4294967295);
//     to double: the value, a text as strtod; to text: the text, else "".
// - Values of `long` and `unsigned long` hold 32 bits whatever the host (the low 32 bits of a
//   wider host value are kept), so a file written anywhere reads the same everywhere.
// - A string property keeps its text up to the first zero byte.
//
// Stored images (little-endian):
//   property:   type (1 byte, signed), then   0 UNDEF: nothing | 1 long: int32 | 2 double: 8 |
//               3 String: int32 L, L bytes, a zero byte | 4 unsigned long: uint32
//               a type byte outside 0..4 reads as UNDEF and nothing more is read
//   table:      int32 count, then per entry in iteration order: int32 key, property
//   ERDBObject: table, int32 flag (1: no reference; 0: reference, followed by its 4-byte id)
// Restoring refuses a record whose count or string length the record cannot hold (the object is
// left as it was); keys already in the table and absent from the record stay.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "qorv/foundation/object.h"
#include "qorv/support/hash_dictionary.h"

class ERFile;

class QORV_API ERDBObjProperty {
 public:
  enum Type { UNDEF = 0, LONG = 1, DOUBLE = 2, STRING = 3, ULONG = 4 };

  ERDBObjProperty() = default;
  ERDBObjProperty(int v) : type_(LONG), long_(static_cast<std::int32_t>(v)) {}  // NOLINT
  ERDBObjProperty(long v) : type_(LONG), long_(static_cast<std::int32_t>(v)) {}  // NOLINT
  ERDBObjProperty(unsigned long v)  // NOLINT
      : type_(ULONG), ulong_(static_cast<std::uint32_t>(v)) {}
  ERDBObjProperty(double v) : type_(DOUBLE), double_(v) {}  // NOLINT
  ERDBObjProperty(const char* text);                          // NOLINT; null: the empty text
  ERDBObjProperty(const ERDBObjProperty& other);
  ERDBObjProperty(ERDBObjProperty&& other) noexcept;
  ERDBObjProperty& operator=(const ERDBObjProperty& other);
  ERDBObjProperty& operator=(ERDBObjProperty&& other) noexcept;
  virtual ~ERDBObjProperty();

  int getType() const { return type_; }
  void reset();

  operator int() const { return static_cast<int>(toInt32()); }                         // NOLINT
  operator long() const { return static_cast<long>(toInt32()); }                       // NOLINT
  operator unsigned int() const { return toUInt32(); }                                 // NOLINT
  operator unsigned long() const { return static_cast<unsigned long>(toUInt32()); }    // NOLINT
  operator double() const;                                                             // NOLINT
  operator const char*() const { return type_ == STRING ? text_ : ""; }                // NOLINT

  std::int32_t toInt32() const;
  std::uint32_t toUInt32() const;

  virtual void printOn(std::ostream& out) const;

  void saveGuts(ERFile& f) const;
  // 0 when the record is damaged (nothing changed); a type byte outside 0..4 is a good record.
  int restoreGuts(ERFile& f);
  std::uint32_t binaryStoreSize() const;

 private:
  void assignFrom(const ERDBObjProperty& other);

  int type_ = UNDEF;
  union {
    std::int32_t long_;
    std::uint32_t ulong_;
    double double_ = 0;
    char* text_;
  };
};

QORV_API std::ostream& operator<<(std::ostream& out, const ERDBObjProperty& p);

// Ten buckets; the hash of a key is the key modulo 255 (a negative key: its magnitude's). Keys are
// 32 bits on file: a wider host key is written as its low 32 bits.
class QORV_API ERDBObjPropertyTable : public ERTValHashDictionary<long, ERDBObjProperty> {
 public:
  static constexpr std::size_t kBuckets = 10;
  static unsigned long hashKey(const long& key);

  ERDBObjPropertyTable() : ERTValHashDictionary(&hashKey, kBuckets) {}
  ERDBObjPropertyTable(const ERDBObjPropertyTable&) = default;
  ERDBObjPropertyTable& operator=(const ERDBObjPropertyTable&) = default;
  virtual ~ERDBObjPropertyTable() = default;

  virtual void printOn(std::ostream&) const {}
  void saveGuts(ERFile& f) const;
  // 0 when the record is damaged: the table is then unchanged.
  int restoreGuts(ERFile& f);
  std::uint32_t binaryStoreSize() const;
};

class QORV_API ERDBObject : public ERObject {
 public:
  QORV_DECLARE_CLASS(ERDBObject, ERObject);

  enum Key { kColor = 1, kLevel = 2, kName = 3, kColorRgb = 4, kLevelName = 5, kFaults = 6 };

  ERDBObject() = default;
  ERDBObject(const ERDBObject& other);
  ERDBObject& operator=(const ERDBObject& other);
  ~ERDBObject() override;

  QORV_DECLARE_STORED(ERDBObject);
  int type() const { return 0; }

  // Sets (replacing the old value) and marks the object dirty.
  void property(long key, int value) { setProperty(key, ERDBObjProperty(value)); }
  void property(long key, long value) { setProperty(key, ERDBObjProperty(value)); }
  void property(long key, double value) { setProperty(key, ERDBObjProperty(value)); }
  void property(long key, const char* value) { setProperty(key, ERDBObjProperty(value)); }
  void property(long key, unsigned long value) { setProperty(key, ERDBObjProperty(value)); }
  // Null when absent; never changes the table.
  const ERDBObjProperty* findProperty(long key) const { return properties_.find(key); }
  const ERDBObjPropertyTable& properties() const { return properties_; }

  void color(int c) { property(kColor, c); }
  int color() const { return readInt(kColor); }
  void level(int l) { property(kLevel, l); }
  int level() const { return readInt(kLevel); }
  void name(const char* n) { property(kName, n); }
  const char* name() { return readText(kName); }
  void color_rgb(unsigned long c) { property(kColorRgb, c); }
  unsigned long color_rgb() const;
  void level_name(const char* n) { property(kLevelName, n); }
  const char* level_name() { return readText(kLevelName); }
  void set_faults(int n) { property(kFaults, n); }
  int num_faults() const { return readInt(kFaults); }

  // Marks dirty only when the pointer changes.
  void object(const t_SmartPtr<ERObject>& referenced);
  const t_SmartPtr<ERObject>& object() const { return referenced_; }

 private:
  void setProperty(long key, const ERDBObjProperty& value);
  int readInt(long key) const;
  const char* readText(long key);

  t_SmartPtr<ERObject> referenced_;
  ERDBObjPropertyTable properties_;
};
