// CAD identifiers: texts and hashes against values worked out here, equality with one side's hash
// cached, archives of every version built by hand, group-structure sequences, the containers.
#include "qorv/persistence/cad_id.h"

#include <cstdint>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "qorv/persistence/db_object.h"
#include "qorv/platform/archive.h"
#include "qorv/siblings/archive_streams/archive_strings.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

using namespace qorv::platform;
using qorv::siblings::stoSchemaObject, qorv::siblings::utString;

namespace {

std::uint32_t fnv1a(const std::string& s) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : s) h = (h ^ c) * 16777619u;
  return h;
}

CADObjectID fullId() {
  gmCADGroupStructure g;
  g.start_group("a");
  g.start_group("b");
  const stoSchemaObject face(utString("Face"));
  CADObjectID id(12, g, &face, 3);
  id.set_name_space(gmIDNameSpace(gmNSTypeName, "Model"));
  return id;
}

std::vector<std::uint8_t> archived(CADObjectID id) {
  CArchive ar;
  id.serialize(ar);
  return ar.buffer();
}

CADObjectID loaded(const std::vector<std::uint8_t>& bytes, int version) {
  CADObjectID::set_deserializing_version(version);
  CArchive ar(bytes.data(), bytes.size());
  CADObjectID id;
  try {
    id.serialize(ar);
  } catch (...) {
    CADObjectID::restore_deserializing_version();
    throw;
  }
  CADObjectID::restore_deserializing_version();
  return id;
}

// Writes the fields an archive of each version holds, by hand.
struct Writer {
  CArchive ar;
  Writer& i32(std::int32_t v) {
    ar << v;
    return *this;
  }
  Writer& str(const char* s) {
    qorv::siblings::operator<<(ar, s);
    return *this;
  }
  Writer& byte(std::uint8_t b) {
    ar << b;
    return *this;
  }
};

}  // namespace

TEST(CADObjectID, TextsAndHashes) {
  EXPECT_EQ((Seq{CADObjectID().as_string(0), bool(CADObjectID().invalid()),
                 CADObjectID(5, 7).as_string(0), CADObjectID(5, 7).internal_type(),
                 bool(CADObjectID(0xFFFFFFFFu, 0xFFFFFFFFu).invalid())}),
            (Seq{"H-1S-1", true, "H5S7", gmObjectIDHandle, true}));
  EXPECT_EQ(CADObjectID(0xFFFFFFFFu, 2).as_string(0), "H4294967295S2");

  CADObjectID id = fullId();
  EXPECT_EQ((Seq{id.internal_type(), id.as_string(0), id.as_string(1)}),
            (Seq{gmObjectIDFull, "H12S3 (b)", "H12S3 (Model b)"}));
  EXPECT_EQ((Seq{id.as_string(2), id.as_string(3)}), (Seq{"H12S3 (Model \"/a/b\" (Face))", ""}));
  EXPECT_EQ(id.container_hash(), fnv1a("H12S3 (Model b)"));

  // A file name space is not displayed; an invalid one prints (null) in the full form.
  id.set_name_space(gmIDNameSpace(gmNSTypeFile, "part.stp"));
  EXPECT_EQ((Seq{id.as_string(1), id.container_hash()}), (Seq{"H12S3 (b)", fnv1a("H12S3 (b)")}));
  id.invalidate_name_space();
  EXPECT_EQ(id.as_string(2), "H12S3 ((null) \"/a/b\" (Face))");
  EXPECT_EQ(CADObjectID(5, 7).container_hash(), fnv1a("H5S7"));

  // Full descriptions refused for an invalid part.
  const stoSchemaObject face(utString("Face"));
  gmCADGroupStructure g("/a/b");
  for (const CADObjectID& bad :
       {CADObjectID(0xFFFFFFFFu, g, &face, 3), CADObjectID(1, gmCADGroupStructure(), &face, 3),
        CADObjectID(1, g, nullptr, 3), CADObjectID(1, g, &face, 0xFFFFFFFFu),
        CADObjectID(1, utString(""), utString("Face"), 3),
        CADObjectID(1, utString("a"), utString(""), 3)})
    EXPECT_TRUE(bad.invalid()) << bad.as_string(0);
  const CADObjectID fromPath(12, utString("a\\b"), utString("Face"), 3);
  EXPECT_EQ(fromPath.as_string(2), "H12S3 ((null) \"/a/b\" (Face))");
}

TEST(CADObjectID, EqualityWithCachedHashes) {
  CADObjectID a = fullId(), b = fullId();
  a.container_hash();  // only one side cached
  EXPECT_EQ((Seq{a == b, b == a}), (Seq{true, true}));
  b.container_hash();
  EXPECT_TRUE(a == b);
  // A change drops the cache: no stale hash makes the changed identifier look equal or unequal.
  b.set_name_space(gmIDNameSpace(gmNSTypeName, "Other"));
  EXPECT_EQ((Seq{b.container_hash(), a == b}), (Seq{fnv1a("H12S3 (Other b)"), false}));
  b.set_name_space(gmIDNameSpace(gmNSTypeName, "Model"));
  EXPECT_TRUE(a == b);
  gmCADGroupStructure deeper = b.group_structure();
  deeper.start_group("c");
  b.set_group_structure(deeper);
  EXPECT_NE(b.container_hash(), a.container_hash());
  EXPECT_FALSE(a == b);

  // Same text, different identifiers: equal hashes never make them equal.
  CADObjectID h(12, 3);
  CADObjectID t(12, utString("a/b"), utString("Edge"), 3);
  EXPECT_FALSE(h == t);
  EXPECT_FALSE(t == CADObjectID(12, utString("a/b"), utString("Face"), 3));

  // Copies, moves, swap carry every field.
  CADObjectID c(a), m(std::move(c));
  EXPECT_EQ((Seq{m == a, c.invalid()}), (Seq{true, true}));
  CADObjectID s(5, 7);
  s.swap(m);
  EXPECT_EQ((Seq{s.as_string(2), m.as_string(0)}), (Seq{a.as_string(2), "H5S7"}));
}

TEST(CADObjectID, ArchivesOfEveryVersion) {
  const CADObjectID id = fullId();
  std::vector<std::uint8_t> image = archived(id);
  Writer w;
  w.i32(2).i32(12).i32(2).str("a").str("b").i32(-1).byte(0).str("Face").i32(3).i32(1).str("Model");
  EXPECT_EQ(image, w.ar.buffer());
  EXPECT_TRUE(loaded(image, 6) == id);
  EXPECT_EQ(loaded(image, 6).as_string(2), id.as_string(2));

  // Version 5: the same form. Versions 3 and 4: the group as a path string; 4 adds the name space.
  // Version 2: handle and internal identifier only; version 1: the internal identifier only.
  Writer v4, v3, v2, all1, v1;
  v4.i32(2).i32(12).str("/a/b").str("Face").i32(3).i32(1).str("Model");
  v3.i32(2).i32(12).str("a/b").str("Face").i32(3);
  v2.i32(5).i32(7);
  all1.i32(-1).i32(-1);
  v1.i32(9);
  EXPECT_TRUE(loaded(v4.ar.buffer(), 4) == id);
  EXPECT_EQ(
      (Seq{loaded(v3.ar.buffer(), 3).as_string(2), loaded(v2.ar.buffer(), 2).as_string(0),
           loaded(v2.ar.buffer(), 2).internal_type(), loaded(v1.ar.buffer(), 1).as_string(0)}),
      (Seq{"H12S3 ((null) \"/a/b\" (Face))", "H5S7", gmObjectIDHandle, "H0S9"}));
  EXPECT_TRUE(loaded(all1.ar.buffer(), 2).invalid());
  EXPECT_EQ(CADObjectID::deserializing_version(), 6);

  // Every truncation throws and leaves the target as it was; a lying count does not allocate.
  for (std::size_t n = 0; n < image.size(); ++n) {
    CADObjectID target(1, 2);
    CArchive ar(image.data(), n);
    EXPECT_ANY_THROW(target.serialize(ar)) << n;
    EXPECT_EQ(target.as_string(2), "H1S2") << n;
  }
  Writer lying;
  lying.i32(2).i32(12).i32(0x7FFFFFFF).str("a");
  CADObjectID target(1, 2);
  CArchive ar(lying.ar.buffer().data(), lying.ar.buffer().size());
  EXPECT_ANY_THROW(target.serialize(ar));
  EXPECT_EQ(target.as_string(0), "H1S2");
}

TEST(GroupStructure, Sequences) {
  gmCADGroupStructure g;
  EXPECT_EQ((Seq{g.empty(), std::string(g.path().c_str())}), (Seq{true, ""}));
  g.start_group("a");
  g.start_group("b");
  EXPECT_EQ((Seq{std::string(g.path().c_str()), g.path_hash()}), (Seq{"/a/b", fnv1a("/a/b")}));
  g.start_solid("s");
  EXPECT_EQ(g.solid_depth(), 2);
  EXPECT_EQ((Seq{g.is_solid_at_depth(2), g.is_solid_at_depth(1)}), (Seq{true, false}));
  EXPECT_EQ(std::string(g.path().c_str()), "/a/b/s");
  g.start_group("inner");
  g.end_group();  // the solid level is still on the path
  EXPECT_TRUE(g.is_solid());
  g.end_group();  // now it is not
  EXPECT_FALSE(g.is_solid());
  EXPECT_EQ(std::string(g.path().c_str()), "/a/b");
  g.set_unlinked_solid_for_current_depth();
  EXPECT_EQ((Seq{bool(g.is_unlinked_solid()), g.solid_depth()}), (Seq{true, 1}));
  g.end_solid();
  EXPECT_EQ((Seq{g.is_solid(), g.is_unlinked_solid()}), (Seq{false, false}));
  g.end_group();
  g.end_group();
  g.end_group();  // nothing left to remove
  EXPECT_TRUE(g.empty());

  const gmCADGroupStructure a("a"), ab("/a/b"), root{gmRootGroup{}};
  EXPECT_EQ((Seq{a.is_start_of(ab), ab.is_start_of(ab), a.is_start_of(a), ab.is_start_of(a)}),
            (Seq{true, false, false, false}));
  EXPECT_EQ((Seq{gmCADGroupStructure().is_start_of(ab), root.is_start_of(a)}), (Seq{false, true}));
  EXPECT_FALSE(root.is_start_of(gmCADGroupStructure()));
  EXPECT_EQ(std::string(root.path().c_str()), "/");
  EXPECT_EQ((Seq{ab.matches_at_depth(a, 0), ab.matches_at_depth(a, 1), a.matches_at_depth(ab, 1)}),
            (Seq{true, false, false}));
  // Empty pieces are skipped; both separators split.
  EXPECT_EQ(gmCADGroupStructure("//a\\\\b/").depth(), 2);

  // Logical order: "a2" < "A10"; a proper prefix sorts first.
  EXPECT_LT(gmCADGroupStructure("x/a2").compare(gmCADGroupStructure("x/A10")), 0);
  EXPECT_GT(gmCADGroupStructure("x/A10").compare(gmCADGroupStructure("x/a2")), 0);
  EXPECT_LT(a.compare(ab), 0);
  EXPECT_EQ(ab.compare(gmCADGroupStructure("a\\b")), 0);
  EXPECT_LT(gmCADGroupStructure("q/a2").compare_at_depth(gmCADGroupStructure("p/a10"), 1), 0);

  gmCADGroupStructure solid("p/q");
  solid.start_solid("r");
  solid.start_group("t");
  const gmCADGroupStructure upper = solid.group_to_depth(1), lower = solid.group_to_depth(2);
  EXPECT_EQ((Seq{std::string(upper.path().c_str()), bool(upper.is_solid())}), (Seq{"/p/q", false}));
  EXPECT_EQ((Seq{lower.solid_depth(), std::string(lower.path().c_str())}), (Seq{2, "/p/q/r"}));
  EXPECT_FALSE(root.group_to_depth(0).is_root());

  ERDBObject o;
  a.set_name_on_object(o);
  EXPECT_STREQ(o.name(), "a");
  ab.set_name_on_object(o);
  EXPECT_STREQ(o.name(), "/a/b");

  // The archive form round-trips with the solid depth and the unlinked flag.
  gmCADGroupStructure u("m/n");
  u.set_unlinked_solid_for_current_depth();
  CArchive out;
  u.serialize(out);
  CArchive in(out.buffer().data(), out.buffer().size());
  gmCADGroupStructure back;
  back.serialize(in);
  EXPECT_EQ((Seq{back == u, back.is_unlinked_solid()}), (Seq{true, true}));
}

TEST(NameSpace, ComparisonAndValidity) {
  EXPECT_EQ((Seq{bool(gmIDNameSpace().invalid()), bool(gmIDNameSpace(gmNSTypeName, "").invalid()),
                 gmIDNameSpace(gmNSTypeFile, "f").is_displayed() == false,
                 bool(gmIDNameSpace(gmNSTypeName, "f").is_displayed())}),
            (Seq{true, true, true, true}));
  EXPECT_EQ(gmIDNameSpace().compare(gmIDNameSpace()), 0);
  EXPECT_LT(gmIDNameSpace(gmNSTypeName, "z").compare(gmIDNameSpace(gmNSTypeFile, "a")), 0);
  EXPECT_LT(gmIDNameSpace(gmNSTypeName, "m2").compare(gmIDNameSpace(gmNSTypeName, "M10")), 0);
  EXPECT_TRUE(gmIDNameSpace(gmNSTypeName, "m") != gmIDNameSpace(gmNSTypeName, "n"));
}

TEST(CADObjectIDContainers, TableAndPagedArrayAgreeWithAStandardSet) {
  std::mt19937 rng(qorv_test::seedFor(64));
  CADObjectIDzrkSurfPtrcoTable table;
  CADObjectIDcoPageArr array;
  std::unordered_set<std::string> texts;
  for (int i = 0; i < 3000; ++i) {
    const auto h = static_cast<std::uint32_t>(rng() % 200),
               s = static_cast<std::uint32_t>(rng() % 20);
    CADObjectID id = (i % 2 == 0) ? CADObjectID(h, s)
                                  : CADObjectID(h, utString(("g/" + std::to_string(s % 3)).c_str()),
                                                utString("Face"), s);
    const bool fresh = texts.insert(id.as_string(2) + std::to_string(id.internal_type())).second;
    const bool had = table.contains(id);
    ASSERT_EQ(fresh, !had) << id.as_string(2);
    table.insert(id, qorv::siblings::zrkSurfPtr());
    array.append(id);
  }
  EXPECT_EQ((Seq{table.size(), array.size()}), (Seq{texts.size(), 3000u}));
  std::size_t walked = 0;
  for (auto it = table.begin(); it != table.end(); ++it) ++walked;
  EXPECT_EQ(walked, table.size());
  // Removal keeps every other key reachable (the last entry moves into the hole).
  std::vector<CADObjectID> keys;
  for (const auto& entry : table) keys.push_back(entry.first);
  for (std::size_t i = 0; i < keys.size(); i += 2) ASSERT_EQ(table.remove(keys[i]), 1);
  EXPECT_EQ(table.remove(keys[0]), 0);
  for (std::size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(table.contains(keys[i]), i % 2 == 1) << i;
  EXPECT_EQ(table.size(), keys.size() / 2);
  for (std::size_t i = 0; i < keys.size(); i += 2)
    table.insert(keys[i], qorv::siblings::zrkSurfPtr());
  EXPECT_EQ(table.size(), keys.size());

  const CADObjectID* first = &array[0];
  for (int i = 0; i < 500; ++i) array.append(CADObjectID(1, 1));
  EXPECT_EQ(first, &array[0]);  // pages never move
  EXPECT_EQ(array.at(3500), nullptr);
  CADObjectIDcoPageArr copy(array);
  EXPECT_TRUE(copy[2999] == array[2999]);
}
