// tests/persistence/safety_classes.h
//
// Stored classes of the safety and crash tests: a value (which can be told to write more than it
// announces) and a pair that refers to a value.
#pragma once

#include <vector>

#include "qorv/foundation/object.h"
#include "qorv/persistence/file.h"

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

}  // namespace qorv_test
