#include "qorv/persistence/db_object.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "qorv/persistence/file.h"

namespace {

char* copyText(const char* text) {
  const std::size_t n = text == nullptr ? 0 : std::strlen(text);
  char* copy = new char[n + 1];
  if (n != 0) std::memcpy(copy, text, n);
  copy[n] = '\0';
  return copy;
}

// strtol with a 32-bit long, base 10.
std::int32_t textToInt32(const char* text) {
  errno = 0;
  const long long v = std::strtoll(text, nullptr, 10);
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

// strtoul with a 32-bit unsigned long, base 10: a minus sign negates the magnitude modulo 2^32.
std::uint32_t textToUInt32(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return 0;
  std::uint64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(*p - '0');
    if (magnitude > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  }
  const auto m = static_cast<std::uint32_t>(magnitude);
  return negative ? static_cast<std::uint32_t>(0u - m) : m;
}

std::int32_t doubleToInt32(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (d <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(d);  // truncates toward zero
}

std::uint32_t doubleToUInt32(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 4294967295.0) return 0xFFFFFFFFu;
  if (d < 0) return static_cast<std::uint32_t>(doubleToInt32(d));
  return static_cast<std::uint32_t>(d);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ERDBObjProperty

ERDBObjProperty::ERDBObjProperty(const char* text) : type_(STRING), text_(copyText(text)) {}

ERDBObjProperty::ERDBObjProperty(const ERDBObjProperty& other) { assignFrom(other); }

ERDBObjProperty::ERDBObjProperty(ERDBObjProperty&& other) noexcept : type_(other.type_) {
  if (type_ == STRING) {
    text_ = other.text_;
    other.type_ = UNDEF;
  } else {
    double_ = 0;
    std::memcpy(static_cast<void*>(&double_), static_cast<const void*>(&other.double_),
                sizeof double_);
  }
}

ERDBObjProperty& ERDBObjProperty::operator=(const ERDBObjProperty& other) {
  if (this != &other) {
    ERDBObjProperty copy(other);
    *this = std::move(copy);
  }
  return *this;
}

ERDBObjProperty& ERDBObjProperty::operator=(ERDBObjProperty&& other) noexcept {
  if (this != &other) {
    reset();
    type_ = other.type_;
    if (type_ == STRING) {
      text_ = other.text_;
      other.type_ = UNDEF;
    } else {
      std::memcpy(static_cast<void*>(&double_), static_cast<const void*>(&other.double_),
                  sizeof double_);
    }
  }
  return *this;
}

ERDBObjProperty::~ERDBObjProperty() { reset(); }

void ERDBObjProperty::assignFrom(const ERDBObjProperty& other) {
  type_ = other.type_;
  switch (type_) {
    case LONG: long_ = other.long_; break;
    case ULONG: ulong_ = other.ulong_; break;
    case DOUBLE: double_ = other.double_; break;
    case STRING: text_ = copyText(other.text_); break;
    default: type_ = UNDEF; break;
  }
}

void ERDBObjProperty::reset() {
  if (type_ == STRING) delete[] text_;
  type_ = UNDEF;
}

std::int32_t ERDBObjProperty::toInt32() const {
  switch (type_) {
    case LONG: return long_;
    case ULONG: return static_cast<std::int32_t>(ulong_);
    case DOUBLE: return doubleToInt32(double_);
    case STRING: return textToInt32(text_);
    default: return 0;
  }
}

std::uint32_t ERDBObjProperty::toUInt32() const {
  switch (type_) {
    case LONG: return static_cast<std::uint32_t>(long_);
    case ULONG: return ulong_;
    case DOUBLE: return doubleToUInt32(double_);
    case STRING: return textToUInt32(text_);
    default: return 0;
  }
}

ERDBObjProperty::operator double() const {
  switch (type_) {
    case LONG: return long_;
    case ULONG: return ulong_;
    case DOUBLE: return double_;
    case STRING: return std::strtod(text_, nullptr);
    default: return 0.0;
  }
}

void ERDBObjProperty::printOn(std::ostream& out) const {
  out << "ERDBObjProperty type = " << type_ << std::endl;
  switch (type_) {
    case LONG: out << " GV (long) " << long_; break;
    case DOUBLE: out << " GV (double) " << double_; break;
    case STRING: out << " GV (String) '" << text_ << "'"; break;
    case ULONG: out << " GV (unsigned long) " << ulong_; break;
    default: out << " GV (UNDEF!!!) "; break;
  }
}

std::ostream& operator<<(std::ostream& out, const ERDBObjProperty& p) {
  p.printOn(out);
  return out;
}

void ERDBObjProperty::saveGuts(ERFile& f) const {
  f.Write(static_cast<char>(type_));
  switch (type_) {
    case LONG: f.Write(static_cast<int>(long_)); break;
    case DOUBLE: f.Write(double_); break;
    case ULONG: f.Write(static_cast<unsigned int>(ulong_)); break;
    case STRING: {
      const auto n = static_cast<unsigned>(std::strlen(text_));
      f.Write(static_cast<int>(n));
      f.Write(text_, n + 1);
      break;
    }
    default: break;
  }
}

int ERDBObjProperty::restoreGuts(ERFile& f) {
  char type = 0;
  if (!f.Read(type)) return 0;
  switch (type) {
    case LONG: {
      int v = 0;
      if (!f.Read(v)) return 0;
      *this = ERDBObjProperty(static_cast<long>(v));
      return 1;
    }
    case ULONG: {
      unsigned int v = 0;
      if (!f.Read(v)) return 0;
      *this = ERDBObjProperty(static_cast<unsigned long>(v));
      return 1;
    }
    case DOUBLE: {
      double v = 0;
      if (!f.Read(v)) return 0;
      *this = ERDBObjProperty(v);
      return 1;
    }
    case STRING: {
      int n = 0;
      if (!f.Read(n)) return 0;
      // The length and its zero must lie inside what the record still holds.
      if (n < 0 || static_cast<std::uint64_t>(n) + 1 > f.bytesLeft()) {
        f.markDamaged();
        return 0;
      }
      std::vector<char> text(static_cast<std::size_t>(n) + 1);
      if (!f.Read(text.data(), static_cast<unsigned>(n) + 1)) return 0;
      text.back() = '\0';
      *this = ERDBObjProperty(text.data());
      return 1;
    }
    default:
      reset();
      return 1;
  }
}

std::uint32_t ERDBObjProperty::binaryStoreSize() const {
  switch (type_) {
    case LONG:
    case ULONG: return 5;
    case DOUBLE: return 9;
    case STRING: return static_cast<std::uint32_t>(std::strlen(text_)) + 6;
    default: return 1;
  }
}

// ---------------------------------------------------------------------------------------------
// ERDBObjPropertyTable

unsigned long ERDBObjPropertyTable::hashKey(const long& key) {
  // A negative key hashes by its magnitude.
  const auto k = static_cast<unsigned long>(key);
  return (key < 0 ? 0ul - k : k) % 255;
}

void ERDBObjPropertyTable::saveGuts(ERFile& f) const {
  f.Write(static_cast<int>(entries()));
  forEach([&](long key, const ERDBObjProperty& p) {
    f.Write(static_cast<int>(key));
    p.saveGuts(f);
  });
}

int ERDBObjPropertyTable::restoreGuts(ERFile& f) {
  int count = 0;
  if (!f.Read(count)) return 0;
  // Every entry takes at least a key and a type byte.
  if (count < 0 || static_cast<std::uint64_t>(count) * 5 > f.bytesLeft()) {
    f.markDamaged();
    return 0;
  }
  std::vector<std::pair<long, ERDBObjProperty>> read;
  read.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    int key = 0;
    ERDBObjProperty p;
    if (!f.Read(key) || !p.restoreGuts(f)) return 0;
    read.emplace_back(key, std::move(p));
  }
  for (auto& [key, p] : read) findOrCreate(key) = std::move(p);
  return 1;
}

std::uint32_t ERDBObjPropertyTable::binaryStoreSize() const {
  std::uint32_t size = 4;
  forEach([&](long, const ERDBObjProperty& p) { size += 4 + p.binaryStoreSize(); });
  return size;
}

// ---------------------------------------------------------------------------------------------
// ERDBObject

QORV_DEFINE_CLASS(ERDBObject);
QORV_DEFINE_COPYABLE(ERDBObject);
void ERDBObject::printOn(std::ostream&) const {}

ERDBObject::ERDBObject(const ERDBObject& other)
    : ERObject(other), referenced_(other.referenced_), properties_(other.properties_) {}

ERDBObject& ERDBObject::operator=(const ERDBObject& other) {
  if (this != &other) {
    ERObject::operator=(other);
    ERDBObjPropertyTable table(other.properties_);
    properties_.swap(table);
    referenced_ = other.referenced_;
  }
  return *this;
}

ERDBObject::~ERDBObject() = default;

void ERDBObject::setProperty(long key, const ERDBObjProperty& value) {
  properties_.findOrCreate(key) = value;
  setDirty();
}

int ERDBObject::readInt(long key) const {
  const ERDBObjProperty* p = properties_.find(key);
  return p == nullptr ? 0 : static_cast<int>(*p);
}

const char* ERDBObject::readText(long key) {
  return static_cast<const char*>(properties_.findOrCreate(key));
}

unsigned long ERDBObject::color_rgb() const {
  const ERDBObjProperty* p = properties_.find(kColorRgb);
  return p == nullptr ? 0 : static_cast<unsigned long>(*p);
}

void ERDBObject::object(const t_SmartPtr<ERObject>& referenced) {
  if (referenced_.get() == referenced.get()) return;
  referenced_ = referenced;
  setDirty();
}

void ERDBObject::saveGuts(ERFile& f) const {
  ERObject::saveGuts(f);
  properties_.saveGuts(f);
  if (referenced_.isNull()) {
    f.Write(1);
  } else {
    f.Write(0);
    referenced_->recursiveSaveOn(f);
  }
}

void ERDBObject::restoreGuts(ERFile& f) {
  ERObject::restoreGuts(f);
  // Read the whole record before changing anything.
  ERDBObjPropertyTable table(properties_);
  if (!table.restoreGuts(f)) return;
  int flag = 1;
  if (!f.Read(flag)) return;
  t_SmartPtr<ERObject> referenced;
  if (flag == 0) {
    // A referenced object deleted since reads as none; a damaged one fails this record too.
    referenced = recursiveRestoreFrom(f);
  }
  properties_.swap(table);
  referenced_ = referenced;
}

std::uint32_t ERDBObject::binaryStoreSize() const {
  return ERObject::binaryStoreSize() + properties_.binaryStoreSize() + 4 +
         (referenced_.isNull() ? 0 : 4);
}
