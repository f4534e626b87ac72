// tests/object_images.h
//
// Stored images of objects and values for the tests: what saveGuts writes, read back as bytes,
// and an object restored from given bytes; little-endian doubles for building expected images;
// objects through a database file and back.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "qorv/foundation/object.h"
#include "qorv/persistence/file.h"
#include "qorv/persistence/object_database.h"
#include "tests/in_order.h"
#include "tests/persistence/test_files.h"

namespace qorv_test {

// A database on path, opened (readOnly 0) or opened read-only; a refusal fails the test here.
inline t_SmartPtr<ERObjectDataBase> openedDb(const char* path, int readOnly) {
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  EXPECT_EQ(db->Open(path, readOnly), 1) << path;
  return db;
}

template <class T>
Bytes imageOf(const T& o) {
  TempFile tmp("image");
  {
    ERFile f(tmp.c_str(),
             ::qorv::platform::CFile::modeCreate | ::qorv::platform::CFile::modeReadWrite);
    o.saveGuts(f);
  }
  return readBytes(tmp.path);
}

inline void restoreFrom(ERObject& o, const Bytes& bytes) {
  TempFile tmp("image");
  writeBytes(tmp.path, bytes);
  ERFile f(tmp.c_str(), ::qorv::platform::CFile::modeRead);
  o.restoreGuts(f);
}

inline void appendDouble(Bytes& out, double v) {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  for (int k = 0; k < 8; ++k) out.push_back(static_cast<unsigned char>(bits >> (8 * k)));
}

inline Bytes doubles(std::initializer_list<double> values) {
  Bytes out;
  for (double v : values) appendDouble(out, v);
  return out;
}

template <class T>
std::string printed(const T& o) {
  std::ostringstream os;
  o.printOn(os);
  return os.str();
}

// Objects stored in a new database file, which is then reopened read-only: back(k) is the k-th
// re-created from its identifier alone, into(k) read into a new object of its class.
class DataBaseRoundTrip {
 public:
  template <class Objects>
  explicit DataBaseRoundTrip(const Objects& objects)
      : file_("round_trip"), db_(new ERObjectDataBase) {
    EXPECT_EQ(db_->Open(file_.c_str(), 0), 1);
    for (const auto& o : objects) ids_.push_back(db_->Store(*o));
    db_->Close();
    EXPECT_EQ(db_->Open(file_.c_str(), 1), 1);
  }
  ~DataBaseRoundTrip() { db_->Close(); }
  t_SmartPtr<ERObject> back(std::size_t k) const { return db_->RetrieveAndCreate(ids_[k]); }
  std::unique_ptr<ERObject> into(std::size_t k, const char* className) const {
    std::unique_ptr<ERObject> o(ERClassRegistration::findCreator(className)());
    EXPECT_EQ(db_->Retrieve(ids_[k], *o), 1);
    return o;
  }

 private:
  TempFile file_;
  t_SmartPtr<ERObjectDataBase> db_;
  std::vector<long> ids_;
};

// Each object back by its identifier and into a new object of its class: the same class, stored
// image and print form; `more` checks what else must hold of the k-th one back.
template <class Objects>
void expectRoundTrip(const Objects& objects,
                     const std::function<void(const ERObject& back, std::size_t k)>& more = {}) {
  const DataBaseRoundTrip trip(objects);
  std::size_t k = 0;
  for (const auto& o : objects) {
    SCOPED_TRACE(o->className());
    const t_SmartPtr<ERObject> back = trip.back(k);
    ASSERT_TRUE(back);
    EXPECT_STREQ(back->className(), o->className());
    EXPECT_EQ((Seq{imageOf(*back), printed(*back), imageOf(*trip.into(k, back->className()))}),
              (Seq{imageOf(*o), printed(*o), imageOf(*o)}));
    if (more) more(*back, k);
    ++k;
  }
}

}  // namespace qorv_test
