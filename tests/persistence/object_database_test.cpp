// The object database: layout of a new file, identifiers and signatures, re-storing, deletion,
// the facade's codes, the dump, every registered class round-tripping, and damaged files.
#include "qorv/persistence/object_database.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <random>
#include <sstream>

#include "qorv/persistence/database.h"
#include "qorv/persistence/file.h"
#include "qorv/persistence/file_manager.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/persistence/test_files.h"

using namespace qorv::platform;

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::TempFile, qorv_test::writeBytes;
using qorv_test::u32;

// A stored value with a reference to another stored object, as composite objects hold theirs.
class TNode : public ERObject {
 public:
  QORV_DECLARE_CLASS(TNode, ERObject);
  TNode() = default;
  explicit TNode(double v) : value(v) {}
  ERObject* getCopy() const override { return new TNode(*this); }
  void printOn(std::ostream& out) const override {
    out << "TNode " << value << (next ? " -> " : "");
    if (next) next->printOn(out);
  }
  void saveGuts(ERFile& f) const override {
    ERObject::saveGuts(f);
    f.Write(value);
    f.Write(static_cast<long>(next ? 0 : 1));  // absent flag
    if (next) next->recursiveSaveOn(f);
  }
  void restoreGuts(ERFile& f) override {
    ERObject::restoreGuts(f);
    f.Read(value);
    long absent = 1;
    f.Read(absent);
    next = nullptr;
    if (absent == 0) next = TNode::castdown(ERObject::recursiveRestoreFrom(f).get());
  }
  std::uint32_t binaryStoreSize() const override {
    return ERObject::binaryStoreSize() + 12 + (next ? next->recursiveStoreSize() : 0);
  }
  double value = 0.0;
  t_SmartPtr<TNode> next;
};
class TLabel : public ERObject {
 public:
  QORV_DECLARE_CLASS(TLabel, ERObject);
  ERObject* getCopy() const override { return new TLabel(*this); }
  void printOn(std::ostream& out) const override { out << "TLabel " << code; }
  void saveGuts(ERFile& f) const override {
    ERObject::saveGuts(f);
    f.Write(code);
  }
  void restoreGuts(ERFile& f) override {
    ERObject::restoreGuts(f);
    f.Read(code);
  }
  std::uint32_t binaryStoreSize() const override { return ERObject::binaryStoreSize() + 4; }
  int code = 0;
};
QORV_DEFINE_CLASS(TNode);
QORV_DEFINE_CLASS(TLabel);

namespace {

// Opens, walks every listed object, closes: what a reader of a damaged file does.
void walk(const std::string& path) {
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  try {
    if (!db->Open(path.c_str(), 1)) return;
    std::ostringstream dump;
    db->summarize(dump);
    std::vector<long> ids;
    db->forEachObject([&](long id, long) { ids.push_back(id); });
    for (long id : ids) {
      t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
      if (o) qorv_test::printed(*o);
    }
    db->Close();
  } catch (CFileException& e) {
  }
}

}  // namespace

TEST(ObjectDataBase, NewFileLayout) {
  TempFile file("odb_new");
  auto db = qorv_test::openedDb(file.c_str(), 0);
  EXPECT_EQ((Seq{db->getNbObj(), db->get_db_version(), db->get_db_current_version()}),
            (Seq{0, 1001, 1001}));
  EXPECT_EQ(db->fileManager()->start(), 284);
  db->Close();

  const Bytes b = readBytes(file.path);
  ASSERT_GE(b.size(), 284u + 24 + 2 * 44);
  // The start (the header block), a block heap, the header block's size word and version.
  EXPECT_EQ((Seq{u32(b, 0), u32(b, 8), u32(b, 280), u32(b, 284)}), (Seq{284u, 268u, 28u, 1001u}));
  const std::uint32_t classTree = u32(b, 288), objectTree = u32(b, 292);
  EXPECT_EQ(classTree, 284u + 24 + 4);  // the trees' info blocks follow, in that order
  EXPECT_EQ((Seq{objectTree, u32(b, 296), u32(b, 300), u32(b, 304)}),
            (Seq{classTree + 40 + 4, 0u, 0u, 0u}));
  // The tree magic; string keys of 60 bytes for the classes, raw 4-byte keys for the objects.
  EXPECT_EQ((Seq{u32(b, classTree + 8), u32(b, classTree + 16), u32(b, objectTree + 16),
                 u32(b, objectTree + 36) & 1}),
            (Seq{1365u, 60u, 4u, 1u}));
}

TEST(ObjectDataBase, IdentifiersSignaturesAndRestoring) {
  TempFile file("odb_ids");
  auto db = qorv_test::openedDb(file.c_str(), 0);
  TNode a(1.5), b(2.5);
  TLabel label;
  label.code = 7;
  EXPECT_EQ((Seq{db->Store(a), db->Store(b), db->Store(label), a.Database()}),
            (Seq{1, 2, 3, db.get()}));
  EXPECT_EQ(db->getNbObj(), 3);

  // Re-storing keeps the identifier and moves the record.
  long before = -1, after = -1;
  db->forEachObject([&](long id, long offset) {
    if (id == 1) before = offset;
  });
  a.value = 9.0;
  EXPECT_EQ(db->Store(a), 1);
  db->forEachObject([&](long id, long offset) {
    if (id == 1) after = offset;
  });
  EXPECT_NE(before, after);
  EXPECT_EQ(db->getNbObj(), 3);
  TNode back;
  EXPECT_EQ((Seq{db->Retrieve(1, back), back.value, back.getObjectID()}), (Seq{1, 9.0, 1}));
  db->Close();

  ASSERT_EQ(db->Open(file.c_str(), 0), 1);
  std::ostringstream dump;
  db->summarize(dump);
  EXPECT_NE(dump.str().find(" Signature        1 :  TNode\n"), std::string::npos);
  EXPECT_NE(dump.str().find(" Signature        2 :  TLabel\n"), std::string::npos);
  t_SmartPtr<ERObject> made = db->RetrieveAndCreate(3);
  ASSERT_TRUE(made);
  EXPECT_STREQ(made->className(), "TLabel");
  EXPECT_EQ((Seq{TLabel::castdown(made.get())->code, made->getObjectID()}), (Seq{7, 3}));
  EXPECT_EQ((Seq{made->Database(), made->references()}), (Seq{db.get(), 1u}));

  EXPECT_EQ((Seq{db->Delete(42), db->Delete(2)}), (Seq{0, 1}));
  EXPECT_FALSE(db->RetrieveAndCreate(2));
  EXPECT_EQ(db->getNbObj(), 3);  // deletion never lowers the count
  TLabel fresh;
  EXPECT_EQ(db->Store(fresh), 4);  // identifiers are never reused
  made.reset();
  db->Close();
}

TEST(ObjectDataBase, ReferencedObjectsFollowIntoTheSameFile) {
  TempFile file("odb_refs");
  {
    auto db = qorv_test::openedDb(file.c_str(), 0);
    TNode head(1.0);
    head.next = new TNode(2.0);
    head.next->next = new TNode(3.0);
    EXPECT_EQ(head.Save(db.get()), 1);
    EXPECT_EQ(head.getObjectID(), 1);  // numbered before its record, and so its members
    EXPECT_EQ((Seq{head.next->getObjectID(), head.next->next->getObjectID()}), (Seq{2, 3}));
    EXPECT_EQ(head.next->Database(), db.get());
    db->Close();
  }
  auto db = qorv_test::openedDb(file.c_str(), 1);
  t_SmartPtr<ERObject> o = db->RetrieveAndCreate(1);
  ASSERT_TRUE(o);
  EXPECT_EQ(qorv_test::printed(*o), "TNode 1 -> TNode 2 -> TNode 3");
}

TEST(ObjectDataBase, SaveMovesBetweenDatabasesAndNewIntoADatabase) {
  TempFile f1("odb_move1"), f2("odb_move2");
  t_SmartPtr<ERObjectDataBase> first(new ERObjectDataBase), second(new ERObjectDataBase);
  ASSERT_EQ(first->Open(f1.c_str(), 0), 1);
  ASSERT_EQ(second->Open(f2.c_str(), 0), 1);
  auto* label = new (first.get()) TLabel;
  EXPECT_EQ((Seq{label->Database(), label->getObjectID()}), (Seq{first.get(), 1}));
  label->code = 5;
  label->setDirty();
  EXPECT_EQ((Seq{label->Save(second.get()), label->Database(), label->getObjectID()}),
            (Seq{1, second.get(), 1}));
  t_SmartPtr<ERObject> old = first->RetrieveAndCreate(1);
  ASSERT_TRUE(old);  // the first keeps its (updated) record
  EXPECT_EQ((Seq{TLabel::castdown(old.get())->code, label->Delete()}), (Seq{5, 1}));
  EXPECT_FALSE(second->RetrieveAndCreate(1));
  delete label;
}

TEST(ObjectDataBase, ReadOnlyOpeningLeavesTheFileUnchanged) {
  TempFile file("odb_ro");
  {
    ERDataBase db;
    ASSERT_EQ(db.Open(file.c_str(), 0), gmSuccess);
    for (int i = 0; i < 30; ++i) {
      t_SmartPtr<ERObject> n(new TNode(i));
      ASSERT_EQ(db.save(n), gmSuccess);
    }
    EXPECT_EQ(db.Close(), gmSuccess);
  }
  const Bytes before = readBytes(file.path);
  {
    ERDataBase db;
    ASSERT_EQ(db.Open(file.c_str(), 1), gmSuccess);
    EXPECT_EQ(db.getNbEnt(), 30);
    gmErrorCode code = gmGenericFileError;
    t_SmartPtr<ERObject> o = db.restore(12, code);
    EXPECT_EQ(code, gmSuccess);
    ASSERT_TRUE(o);
    EXPECT_EQ((Seq{TNode::castdown(o.get())->value, bool(db.restore(30, code)), db.Close()}),
              (Seq{12.0, false, gmSuccess}));
  }
  EXPECT_EQ(readBytes(file.path), before);
}

TEST(DataBaseFacade, CodesAndNumbering) {
  TempFile file("db_codes");
  ERDataBase db;
  EXPECT_EQ(db.Open(file.c_str(), 1), gmAccessDenied);  // missing and read-only
  ASSERT_EQ(db.Open(file.c_str(), 0), gmSuccess);
  t_SmartPtr<ERObject> label(new TLabel);
  ASSERT_EQ(db.save(label), gmSuccess);
  EXPECT_EQ(label->getObjectID(), 2);  // the auxiliary index is object 1
  EXPECT_EQ(db.getNbEnt(), 1);
  gmErrorCode code;
  t_SmartPtr<ERObject> back = db.restore(0, code);
  ASSERT_TRUE(back);
  EXPECT_EQ((Seq{back->getObjectID(), db.Close()}), (Seq{2, gmSuccess}));

  // Another kind of file.
  TempFile other("db_other");
  writeBytes(other.path, Bytes(1000, 0x41));
  EXPECT_EQ(db.Open(other.c_str(), 0), gmDataBaseRefused);
  EXPECT_EQ(readBytes(other.path), Bytes(1000, 0x41));

  EXPECT_EQ(ERDataBase::exception_to_error_code(CFileException(CFileException::diskFull)),
            gmDiskFull);
  EXPECT_EQ(ERDataBase::exception_to_error_code(CFileException(99)), gmGenericFileError);
}

TEST(DataBaseFacade, SecondProcessIsRefusedWhileTheFileIsHeld) {
  TempFile file("db_shared");
  ERDataBase db;
  ASSERT_EQ(db.Open(file.c_str(), 0), gmSuccess);
  const pid_t child = fork();
  if (child == 0) {
    ERDataBase other;
    const gmErrorCode code = other.Open(file.c_str(), 0);
    _exit(code == gmSharingViolation ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  db.Close();
}

TEST(ObjectDataBase, SummaryText) {
  TempFile file("odb_dump");
  auto db = qorv_test::openedDb(file.c_str(), 0);
  TLabel label;
  db->Store(label);
  std::ostringstream dump;
  db->summarize(dump);
  long offset = -1;
  db->forEachObject([&](long, long o) { offset = o; });
  char row[80];
  std::snprintf(row, sizeof row, "|        1| %8ld |        1\n", offset);
  const std::string expected =
      "*************************************************************\n"
      "  Base de Donn\xE9"
      "es :  " +
      file.path +
      "\n"
      "*************************************************************\n"
      " File Manager : \n"
      "--------------------------------------------\n"
      "liste des classes presentes  : \n"
      " Signature        1 :  TLabel\n"
      "--------------------------------------------\n"
      "|       liste des objects                  |\n"
      "--------------------------------------------\n"
      "|ObjectID | Location | Signature             |\n" +
      std::string(row);
  EXPECT_EQ(dump.str(), expected);
  db->Close();
}

// Every concrete class of the registry, default-built, survives a store and a re-creation with
// the same stored image and print form.
TEST(ObjectDataBase, EveryRegisteredClassRoundTrips) {
  TempFile file("odb_all"), image("odb_image");
  std::vector<std::pair<std::string, long>> stored;
  std::map<std::string, std::string> prints;
  {
    auto db = qorv_test::openedDb(file.c_str(), 0);
    for (auto* r = ERClassRegistration::first(); r != nullptr; r = r->next()) {
      if (r->creator() == nullptr) continue;
      t_SmartPtr<ERObject> o(r->creator()());
      const long id = db->Store(*o);
      stored.emplace_back(r->getName(), id);
      prints[r->getName()] = qorv_test::printed(*o);
    }
    db->Close();
  }
  auto db = qorv_test::openedDb(file.c_str(), 1);
  for (const auto& [name, id] : stored) {
    SCOPED_TRACE(name);
    t_SmartPtr<ERObject> o = db->RetrieveAndCreate(id);
    ASSERT_TRUE(o);
    EXPECT_EQ((Seq{name, qorv_test::printed(*o)}), (Seq{o->className(), prints[name]}));
    // Saving the re-created object writes exactly binaryStoreSize bytes.
    ERFile f(image.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary);
    o->saveGuts(f);
    EXPECT_EQ(f.CurOffset(), static_cast<long>(o->binaryStoreSize()));
  }
}

// Damaged files never crash, hang or read out of bounds (the sanitizer build watches): every
// byte flipped in turn, then truncations, then random damage.
TEST(ObjectDataBase, DamagedFilesAreRefusedOrReadSafely) {
  TempFile file("odb_damage"), copy("odb_damage_copy");
  {
    ERDataBase db;
    ASSERT_EQ(db.Open(file.c_str(), 0), gmSuccess);
    for (int i = 0; i < 12; ++i) {
      t_SmartPtr<TNode> n(new TNode(i));
      if (i % 3 == 0) n->next = new TNode(100 + i);
      ASSERT_EQ(db.save(t_SmartPtr<ERObject>(n)), gmSuccess);
      t_SmartPtr<ERObject> l(new TLabel);
      ASSERT_EQ(db.save(l), gmSuccess);
    }
    db.Close();
  }
  const Bytes good = readBytes(file.path);
  // Every byte of the headers and tree info blocks, then a stride through the records and nodes.
  for (std::size_t i = 0; i < good.size(); i += (i < 512 ? 1 : 5)) {
    Bytes bad = good;
    bad[i] ^= 0xFF;
    writeBytes(copy.path, bad);
    walk(copy.path);
  }
  for (std::size_t n : {std::size_t(0), std::size_t(3), std::size_t(12), std::size_t(279),
                        std::size_t(300), good.size() / 2, good.size() - 1}) {
    writeBytes(copy.path, Bytes(good.begin(), good.begin() + static_cast<long>(n)));
    walk(copy.path);
  }
  const unsigned seed = 20261206;
  std::mt19937 rng(seed);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(seed);
    Bytes bad = good;
    for (int k = 0; k < 8; ++k) bad[rng() % bad.size()] = static_cast<unsigned char>(rng());
    writeBytes(copy.path, bad);
    walk(copy.path);
  }
}

// The auxiliary index's tree takes its key length from the file: a tree of longer keys there is
// refused rather than searched with 4-byte keys.
TEST(DataBaseFacade, ForeignAuxiliaryTreeIsRefused) {
  TempFile file("db_aux");
  {
    ERDataBase db;
    ASSERT_EQ(db.Open(file.c_str(), 0), gmSuccess);
    ASSERT_EQ(db.save(t_SmartPtr<ERObject>(new TLabel)), gmSuccess);
    db.Close();
  }
  long record = -1;
  {
    auto odb = qorv_test::openedDb(file.c_str(), 1);
    odb->forEachObject([&](long id, long offset) {
      if (id == 1) record = offset;
    });
  }
  ASSERT_GT(record, 0);
  Bytes b = readBytes(file.path);
  const std::uint32_t base = u32(b, static_cast<std::size_t>(record) + 4);
  b[base + 16] = 60;  // key length
  b[base + 36] = 0;   // string keys
  writeBytes(file.path, b);
  ERDataBase db;
  EXPECT_EQ(db.Open(file.c_str(), 1), gmDataBaseRefused);
  gmErrorCode code;
  EXPECT_FALSE(db.restore(0, code));
}
