// Database objects: property records byte for byte, bucket order, conversions without undefined
// behaviour, damaged records refused with the object unchanged, round trips through a database.
#include "qorv/persistence/db_object.h"

#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>

#include "qorv/curves/lines.h"
#include "qorv/persistence/object_database.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/test_seed.h"

using qorv_test::appendDouble, qorv_test::Bytes, qorv_test::imageOf, qorv_test::restoreFrom;
using qorv_test::TempFile;

namespace {

using qorv_test::put32;

Bytes text(Bytes b, const char* s) {
  b.push_back(3);
  put32(b, static_cast<std::uint32_t>(std::strlen(s)));
  for (const char* p = s; *p != '\0'; ++p) b.push_back(static_cast<unsigned char>(*p));
  b.push_back(0);
  return b;
}

std::vector<long> keysInOrder(const ERDBObject& o) {
  std::vector<long> keys;
  o.properties().forEach([&](long k, const ERDBObjProperty&) { keys.push_back(k); });
  return keys;
}

}  // namespace

TEST(ERDBObject, RecordsByteForByte) {
  ERDBObject fresh;
  EXPECT_EQ(imageOf(fresh), (Bytes{0, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(fresh.binaryStoreSize(), 8u);

  ERDBObject named;
  named.name("ab");
  Bytes expected;
  put32(expected, 1);
  put32(expected, 3);
  expected = text(expected, "ab");
  put32(expected, 1);
  EXPECT_EQ((Seq{imageOf(named), named.properties().binaryStoreSize(), named.binaryStoreSize()}),
            (Seq{expected, 16u, expected.size()}));

  // Keys 1, 11, 21 and 256 share bucket 1 (the hash is the key modulo 255) and keep their
  // insertion order there; key 10 goes to bucket 0 and comes first; 255 hashes to 0 too.
  ERDBObject all;
  all.property(21, 2.5);
  all.property(256, static_cast<unsigned long>(4000000000u));
  all.property(1, -7);
  all.property(10, "x");
  all.property(11, static_cast<long>(5));
  all.property(255, 3);
  EXPECT_EQ(keysInOrder(all), (std::vector<long>{10, 255, 21, 256, 1, 11}));
  Bytes b;
  put32(b, 6);
  put32(b, 10);
  b = text(b, "x");
  put32(b, 255);
  b.push_back(1);
  put32(b, 3);
  put32(b, 21);
  b.push_back(2);
  appendDouble(b, 2.5);
  put32(b, 256);
  b.push_back(4);
  put32(b, 4000000000u);
  put32(b, 1);
  b.push_back(1);
  put32(b, static_cast<std::uint32_t>(-7));
  put32(b, 11);
  b.push_back(1);
  put32(b, 5);
  put32(b, 1);
  EXPECT_EQ((Seq{imageOf(all), all.binaryStoreSize()}), (Seq{b, b.size()}));

  // A reset key keeps its place.
  all.property(21, "now a text");
  EXPECT_EQ(keysInOrder(all), (std::vector<long>{10, 255, 21, 256, 1, 11}));

  // Restoring reads the same object back; keys absent from the record stay.
  ERDBObject back;
  back.property(99, 1.0);
  restoreFrom(back, b);
  EXPECT_EQ(keysInOrder(back), (std::vector<long>{10, 255, 21, 256, 1, 11, 99}));
  EXPECT_EQ(static_cast<double>(*back.findProperty(21)), 2.5);
  EXPECT_EQ(static_cast<unsigned long>(*back.findProperty(256)), 4000000000ul);
  EXPECT_STREQ(static_cast<const char*>(*back.findProperty(10)), "x");
}

TEST(ERDBObject, AccessorsAndTheirSideEffects) {
  ERDBObject o;
  EXPECT_EQ((Seq{o.color(), o.color_rgb(), o.num_faults()}), (Seq{0, 0u, 0}));
  EXPECT_EQ(o.properties().entries(), 0u);  // integer reads never add
  EXPECT_FALSE(o.isDirty());
  EXPECT_STREQ(o.name(), "");
  EXPECT_EQ(o.properties().entries(), 1u);  // the string read adds an undefined key 3
  EXPECT_EQ(o.findProperty(ERDBObject::kName)->getType(), ERDBObjProperty::UNDEF);
  EXPECT_EQ((Seq{o.binaryStoreSize(), bool(o.isDirty())}), (Seq{8u + 5u, false}));

  o.color(3);
  o.level(-4);
  o.name("part");
  o.color_rgb(0xFF00FFul);
  o.level_name("L1");
  o.set_faults(2);
  EXPECT_TRUE(o.isDirty());
  EXPECT_EQ((Seq{o.color(), o.level()}), (Seq{3, -4}));
  EXPECT_STREQ(o.name(), "part");
  EXPECT_EQ(o.color_rgb(), 0xFF00FFul);
  EXPECT_STREQ(o.level_name(), "L1");
  EXPECT_EQ((Seq{o.num_faults(), o.findProperty(ERDBObject::kColorRgb)->getType(), o.type()}),
            (Seq{2, ERDBObjProperty::ULONG, 0}));

  ERDBObject copy(o);
  EXPECT_STREQ(copy.name(), "part");
  copy.name("other");
  EXPECT_STREQ(o.name(), "part");  // the copy owns its strings
  ERDBObject assigned;
  assigned = copy;
  EXPECT_EQ(imageOf(assigned), imageOf(copy));
}

TEST(ERDBObjProperty, ConversionsAreDefinedForEveryValue) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    ERDBObjProperty p;
    int asInt;
    unsigned asUnsigned;
    double asDouble;
    const char* asText;
  };
  const Case cases[] = {
      {ERDBObjProperty(), 0, 0u, 0.0, ""},
      {ERDBObjProperty(2.9), 2, 2u, 2.9, ""},
      {ERDBObjProperty(-2.9), -2, 4294967294u, -2.9, ""},
      {ERDBObjProperty(nan), 0, 0u, nan, ""},
      {ERDBObjProperty(inf), 2147483647, 4294967295u, inf, ""},
      {ERDBObjProperty(-inf), -2147483647 - 1, 2147483648u, -inf, ""},
      {ERDBObjProperty(1e10), 2147483647, 4294967295u, 1e10, ""},
      {ERDBObjProperty(3e9), 2147483647, 3000000000u, 3e9, ""},
      {ERDBObjProperty(-1), -1, 4294967295u, -1.0, ""},
      {ERDBObjProperty(static_cast<unsigned long>(4294967295u)), -1, 4294967295u, 4294967295.0, ""},
      {ERDBObjProperty("12abc"), 12, 12u, 12.0, "12abc"},
      {ERDBObjProperty("  -5.5e1"), -5, 4294967291u, -55.0, "  -5.5e1"},
      {ERDBObjProperty("99999999999"), 2147483647, 4294967295u, 99999999999.0, "99999999999"},
      {ERDBObjProperty("-99999999999"), -2147483647 - 1, 4294967295u, -99999999999.0,
       "-99999999999"},
      {ERDBObjProperty("abc"), 0, 0u, 0.0, "abc"},
      {ERDBObjProperty(static_cast<const char*>(nullptr)), 0, 0u, 0.0, ""},
  };
  for (const Case& c : cases) {
    std::ostringstream label;
    c.p.printOn(label);
    SCOPED_TRACE(label.str());
    EXPECT_EQ((Seq{static_cast<int>(c.p), static_cast<long>(c.p), static_cast<unsigned>(c.p)}),
              (Seq{c.asInt, c.asInt, c.asUnsigned}));
    EXPECT_EQ(static_cast<unsigned long>(c.p), c.asUnsigned);
    const double d = static_cast<double>(c.p);
    if (std::isnan(c.asDouble)) {
      EXPECT_TRUE(std::isnan(d));
    } else {
      EXPECT_EQ(d, c.asDouble);
    }
    EXPECT_STREQ(static_cast<const char*>(c.p), c.asText);
  }
  // A long wider than 32 bits keeps its low 32 bits, as the file does.
  EXPECT_EQ(static_cast<long>(ERDBObjProperty(static_cast<long>(0x100000005LL))), 5);
}

TEST(ERDBObjProperty, PrintForms) {
  const std::pair<ERDBObjProperty, const char*> cases[] = {
      {ERDBObjProperty(), "0\n GV (UNDEF!!!) "},
      {ERDBObjProperty(-3), "1\n GV (long) -3"},
      {ERDBObjProperty(1.5), "2\n GV (double) 1.5"},
      {ERDBObjProperty("a b"), "3\n GV (String) 'a b'"},
      {ERDBObjProperty(7ul), "4\n GV (unsigned long) 7"}};
  for (const auto& [p, text] : cases)
    EXPECT_EQ(qorv_test::printed(p), std::string("ERDBObjProperty type = ") + text);
  EXPECT_EQ(qorv_test::printed(ERDBObject()), "");
}

TEST(ERDBObject, DamagedRecordsLeaveTheObjectUnchanged) {
  ERDBObject source;
  source.name("abc");
  source.color(9);
  source.property(7, 1.25);
  const Bytes good = imageOf(source);

  ERDBObject target;
  target.level(4);
  const Bytes before = imageOf(target);
  // Every truncation: a short record never changes the object.
  for (std::size_t n = 0; n < good.size(); ++n) {
    restoreFrom(target, Bytes(good.begin(), good.begin() + static_cast<long>(n)));
    ASSERT_EQ(imageOf(target), before) << "cut at " << n;
  }
  // Lying lengths and counts: a 0x7FFFFFFF-byte string, a negative one, billions of entries.
  Bytes lying;
  put32(lying, 1);
  put32(lying, 3);
  lying.push_back(3);
  put32(lying, 0x7FFFFFFF);
  lying.insert(lying.end(), {'a', 'b', 0, 1, 0, 0, 0});
  restoreFrom(target, lying);
  EXPECT_EQ(imageOf(target), before);
  lying[9] = 0xFF, lying[10] = 0xFF, lying[11] = 0xFF, lying[12] = 0xFF;
  restoreFrom(target, lying);
  EXPECT_EQ(imageOf(target), before);
  Bytes many;
  put32(many, 3000000000u);
  put32(many, 1);
  restoreFrom(target, many);
  EXPECT_EQ(imageOf(target), before);

  // A type byte outside 0..4 is an undefined property and nothing more is read for it.
  Bytes odd;
  put32(odd, 2);
  put32(odd, 4);
  odd.push_back(9);
  put32(odd, 2);
  odd.push_back(1);
  put32(odd, 77);
  put32(odd, 1);
  ERDBObject o;
  o.property(4, 5);
  restoreFrom(o, odd);
  EXPECT_EQ((Seq{o.findProperty(4)->getType(), o.level()}), (Seq{ERDBObjProperty::UNDEF, 77}));

  // Random bytes never crash and never grow the table past what the record could hold.
  std::mt19937_64 rng(qorv_test::seedFor(25));
  for (int round = 0; round < 2000; ++round) {
    Bytes junk = good;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < flips; ++k) junk[rng() % junk.size()] = static_cast<unsigned char>(rng());
    ERDBObject r;
    restoreFrom(r, junk);
    ASSERT_LE(r.properties().entries(), junk.size() / 5);
  }
}

TEST(ERDBObject, RoundTripThroughADatabaseWithTheReference) {
  TempFile file("dbobject");
  long namedId = 0, bareId = 0;
  {
    auto db = qorv_test::openedDb(file.c_str(), 0);
    t_SmartPtr<ERObject> segment(new ERSegment2D(ERPoint2D(1, 2), ERPoint2D(3, 5)));
    t_SmartPtr<ERDBObject> named(new ERDBObject);
    named->name("bracket");
    named->color(12);
    named->property(40, -0.5);
    named->object(segment);
    namedId = db->Store(*named);
    ASSERT_GT(namedId, 0);
    ERDBObject bare;
    bare.level_name("layer");
    bareId = db->Store(bare);
    ASSERT_GT(bareId, 0);
    db->Close();
  }
  // Records whose length is not a multiple of 4 leave the file short of its last block's end.
  EXPECT_TRUE(ERObjectDataBase::check(file.c_str()).empty());
  auto db = qorv_test::openedDb(file.c_str(), 1);
  t_SmartPtr<ERDBObject> back(ERDBObject::castdown(db->RetrieveAndCreate(namedId).get()));
  ASSERT_TRUE(back);
  EXPECT_STREQ(back->name(), "bracket");
  EXPECT_EQ((Seq{back->color(), static_cast<double>(*back->findProperty(40))}), (Seq{12, -0.5}));
  const ERSegment2D* seg = ERSegment2D::castdown(back->object().get());
  ASSERT_NE(seg, nullptr);
  EXPECT_EQ((Seq{seg->getP1(), seg->getP2()}), (Seq{ERPoint2D(1, 2), ERPoint2D(3, 5)}));
  t_SmartPtr<ERDBObject> bare(ERDBObject::castdown(db->RetrieveAndCreate(bareId).get()));
  ASSERT_TRUE(bare);
  EXPECT_TRUE(bare->object().isNull());
  EXPECT_STREQ(bare->level_name(), "layer");
  db->Close();
}
