// tests/persistence/safety_classes.h
//
// Stored classes of the safety and crash tests: a value (which can be told to write more than it
// announces) and a pair that refers to a value; what a database holds of them, by identifier.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "qorv/foundation/object.h"
#include "qorv/persistence/file.h"
#include "qorv/persistence/object_database.h"
#include "tests/persistence/test_files.h"

namespace qorv_test {

class TValue : public ERObject {
 public:
  QORV_DECLARE_CLASS(TValue, ERObject);
  TValue() = default;
  explicit TValue(double v, int t = 0) : value(v), tag(t) {}
  ERObject* getCopy() const override { return new TValue(*this); }
  void printOn(std::ostream& out) const override { out << "TValue " << value << " " << tag; }
  void saveGuts(ERFile& f) const override {
    ERObject::saveGuts(f);
    f.Write(value);
    f.Write(tag);
    const std::vector<char> more(static_cast<std::size_t>(extra), 0);
    if (extra > 0) f.Write(more.data(), static_cast<unsigned>(extra));
  }
  void restoreGuts(ERFile& f) override {
    ERObject::restoreGuts(f);
    f.Read(value);
    f.Read(tag);
  }
  std::uint32_t binaryStoreSize() const override { return ERObject::binaryStoreSize() + 12; }
  double value = 0;
  int tag = 0;
  int extra = 0;  // bytes written beyond what binaryStoreSize announces
};

class TPair : public ERObject {
 public:
  QORV_DECLARE_CLASS(TPair, ERObject);
  // Never without its first member: the registry's round trip creates every class by name.
  TPair() : first(new TValue) {}
  ERObject* getCopy() const override { return new TPair(*this); }
  void printOn(std::ostream& out) const override { out << "TPair " << second; }
  void saveGuts(ERFile& f) const override {
    ERObject::saveGuts(f);
    first->recursiveSaveOn(f);
    f.Write(second);
  }
  void restoreGuts(ERFile& f) override {
    ERObject::restoreGuts(f);
    first = TValue::castdown(ERObject::recursiveRestoreFrom(f).get());
    f.Read(second);
  }
  std::uint32_t binaryStoreSize() const override {
    return ERObject::binaryStoreSize() + first->recursiveStoreSize() + 8;
  }
  t_SmartPtr<TValue> first;
  double second = 0;
};

// Every object of a database by identifier: its value (a pair: the sum of its two values).
inline std::map<long, double> contents(ERObjectDataBase& db) {
  std::vector<long> ids;
  db.forEachObject([&](long id, long) { ids.push_back(id); });
  std::map<long, double> out;
  for (long id : ids) {
    t_SmartPtr<ERObject> o = db.RetrieveAndCreate(id);
    if (const TValue* v = TValue::castdown(o.get()))
      out[id] = v->value;
    else if (const TPair* p = TPair::castdown(o.get()); p && p->first)
      out[id] = p->first->value + p->second;
    else
      out[id] = -1e300;  // unreadable
  }
  return out;
}

// A fresh file each time: truncating one in place makes the file system flush it on close.
inline void writeFreshBytes(const std::string& path, const Bytes& bytes) {
  std::remove(path.c_str());
  writeBytes(path, bytes);
}

}  // namespace qorv_test
