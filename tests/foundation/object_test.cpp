// The object root: counts, registry, kinds and casts, heap marking, persistence hooks.
#include "qorv/foundation/object.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "qorv/foundation/library.h"
#include "qorv/foundation/thread_data.h"
#include "qorv/persistence/file.h"
#include "qorv/persistence/object_database.h"
#include "qorv/platform/debug.h"
#include "qorv/platform/file.h"
#include "tests/in_order.h"

using namespace qorv::platform;

// A small family shaped like the curves: a diamond through a virtual base, as an arc is both a
// circle and an angle-bounded curve.
class TShape : public ERObject {
 public:
  QORV_DECLARE_CLASS(TShape, ERObject);
};
class TRound : public virtual TShape {
 public:
  QORV_DECLARE_CLASS(TRound, TShape);
  ERObject* getCopy() const override { return new TRound(*this); }
  void printOn(std::ostream& out) const override { out << "round " << radius; }
  void saveGuts(ERFile& f) const override {
    TShape::saveGuts(f);
    f.Write(radius);
  }
  void restoreGuts(ERFile& f) override {
    TShape::restoreGuts(f);
    f.Read(radius);
  }
  std::uint32_t binaryStoreSize() const override { return TShape::binaryStoreSize() + 8; }
  double radius = 1.0;
};
class TBounded : public virtual TShape {
 public:
  QORV_DECLARE_CLASS(TBounded, TShape);
  double start = 0.0;
};
class TArc : public TBounded, public TRound {
 public:
  QORV_DECLARE_CLASS(TArc, TBounded, TRound);
  ERObject* getCopy() const override { return new TArc(*this); }
  void printOn(std::ostream& out) const override { out << "arc"; }
  static int destroyed;
  ~TArc() override { ++destroyed; }
};
int TArc::destroyed = 0;
// An object holding another as a member, and making one in its constructor, as a space circle
// holds its plane circle.
class TOwner : public TRound {
 public:
  QORV_DECLARE_CLASS(TOwner, TRound);
  TOwner() { made.reset(new TRound); }
  ERObject* getCopy() const override { return new TOwner(*this); }
  TRound inner;
  t_SmartPtr<TRound> made;
};

QORV_DEFINE_ABSTRACT_CLASS(TShape);
QORV_DEFINE_CLASS(TRound);
QORV_DEFINE_ABSTRACT_CLASS(TBounded);
QORV_DEFINE_CLASS(TArc);
QORV_DEFINE_CLASS(TOwner);

// Holds an object as a member: members are never on the heap, whatever holds them.
struct THolder {
  TRound member;
};

TEST(ERReference, CountsReferencesMinusOne) {
  TRound r;
  EXPECT_EQ(r.references(), 0u);
  r.addReference();
  r.addReference();
  EXPECT_EQ((Seq{r.removeReference(), r.references()}), (Seq{1u, 1u}));
  EXPECT_EQ(r.removeReference(), 0u);  // the last one just went
  EXPECT_EQ(r.references(), 0u);

  ERReference five(5);
  EXPECT_EQ(five.references(), 5u);
  ERReference copy;
  copy = five;
  EXPECT_EQ(copy.references(), 5u);
}

TEST(ERReference, AtomicUnderThreads) {
  TRound r;
  r.addReference();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        r.addReference();
        r.removeReference();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(r.references(), 1u);
}

TEST(ERObjectState, NewCopyAndAssignment) {
  TRound a;
  EXPECT_EQ((Seq{a.getObjectID(), a.Database(), a.isDirty()}), (Seq{-1, nullptr, 0}));
  a.setDirty();
  a.addReference();
  a.radius = 3;

  TRound copy(a);
  EXPECT_EQ((Seq{copy.references(), copy.isDirty(), copy.radius}), (Seq{0u, 0, 3}));

  TRound b;
  b.addReference();
  b.addReference();
  b = a;  // the counter is never assigned
  EXPECT_EQ((Seq{b.references(), b.isDirty(), b.radius}), (Seq{2u, 0, 3}));
}

TEST(ERClassRegistry, KindsAndMembership) {
  TArc arc;
  EXPECT_EQ((Seq{arc.isKindOf(TArc::desc()), arc.isKindOf(TRound::desc())}), (Seq{true, true}));
  EXPECT_TRUE(arc.isKindOf(TBounded::desc()));  // the second base
  EXPECT_EQ((Seq{arc.isKindOf(TShape::desc()), arc.isKindOf(ERObject::desc())}), (Seq{true, true}));
  EXPECT_TRUE(arc.isMemberOf(TArc::desc()));
  EXPECT_FALSE(arc.isMemberOf(TRound::desc()));
  EXPECT_STREQ(arc.className(), "TArc");
  EXPECT_EQ(arc.isA(), TArc::desc());

  TRound round;
  EXPECT_FALSE(round.isKindOf(TArc::desc()));
  EXPECT_FALSE(round.isKindOf(TBounded::desc()));

  // Bases in declaration order, null-terminated.
  const ERClassRegistration* const* bases = TArc::desc()->bases();
  EXPECT_EQ((Seq{bases[0], bases[1], bases[2]}), (Seq{TBounded::desc(), TRound::desc(), nullptr}));
  EXPECT_EQ(TArc::desc()->instanceSize(), sizeof(TArc));
}

TEST(ERClassRegistry, LookupsAndCreators) {
  EXPECT_EQ(ERClassRegistration::findClassRegistration("TArc"), TArc::desc());
  EXPECT_EQ(ERClassRegistration::findClassRegistration("ERObject"), ERObject::desc());
  EXPECT_EQ(ERClassRegistration::findClassRegistration("tarc"), nullptr);  // case-sensitive
  EXPECT_EQ(ERClassRegistration::findClassRegistration("NoSuchClass"), nullptr);
  EXPECT_EQ(ERClassRegistration::findClassRegistration(nullptr), nullptr);
  EXPECT_EQ(ERClassRegistration::findCreator("TShape"), nullptr);  // abstract
  EXPECT_EQ(ERClassRegistration::findCreator("ERObject"), nullptr);
  EXPECT_EQ(ERClassRegistration::findCreator("NoSuchClass"), nullptr);

  auto create = ERClassRegistration::findCreator("TArc");
  ASSERT_NE(create, nullptr);
  t_SmartPtr<ERObject> made(create());
  EXPECT_STREQ(made->className(), "TArc");
  EXPECT_EQ(made->isOnTheHeap(), 1);
}

TEST(ERClassRegistry, CastdownFindsEachSubObjectAndRefusesOthers) {
  TArc arc;
  ERObject* asObject = static_cast<TRound*>(&arc);
  EXPECT_EQ((Seq{TArc::castdown(asObject), TRound::castdown(asObject),
                 TBounded::castdown(*asObject), TShape::castdown(asObject)}),
            (Seq{&arc, static_cast<TRound*>(&arc), static_cast<TBounded*>(&arc),
                 static_cast<TShape*>(&arc)}));
  const ERObject& constRef = arc;
  EXPECT_EQ(TArc::castdown(constRef), &arc);

  TRound round;
  static int failures = 0;
  failures = 0;
  ERCastdownHook previous =
      ERSetCastdownHook([](const ERClassRegistration& target, const ERClassRegistration* actual) {
        EXPECT_EQ((Seq{&target, actual}), (Seq{TArc::desc(), TRound::desc()}));
        ++failures;
      });
  EXPECT_EQ((Seq{TArc::castdown(static_cast<ERObject*>(&round)), failures}), (Seq{nullptr, 1}));
  ERSetCastdownHook(previous);
  EXPECT_EQ(TArc::castdown(static_cast<ERObject*>(nullptr)), nullptr);
}

TEST(ERClassRegistry, DumpBasedDrawsTheTree) {
  qorv::platform::DebugCapture capture;
  TArc::desc()->DumpBased(0);
  const std::string expected =
      "\t+------->TBounded\n"
      "\t\t+------->TShape\n"
      "\t\t\t+------->ERObject\n"
      "\t+------->TRound\n"
      "\t\t+------->TShape\n"
      "\t\t\t+------->ERObject\n";
  EXPECT_EQ((Seq{capture.text(), TArc::desc()->drawBases(0)}), (Seq{expected, expected}));
}

TEST(ERObjectHeap, OnlyTheClassNewMarksTheHeap) {
  TRound onStack;
  EXPECT_EQ(onStack.isOnTheHeap(), 0);
  auto* heap = new TRound;
  EXPECT_EQ(heap->isOnTheHeap(), 1);
  ERObject* copy = heap->getCopy();
  EXPECT_EQ(copy->isOnTheHeap(), 1);
  delete copy;
  delete heap;

  // A member of a heap object lives inside the heap block, yet was not made by new.
  auto* holder = new THolder;
  EXPECT_EQ(holder->member.isOnTheHeap(), 0);
  delete holder;

  alignas(TRound) unsigned char buffer[sizeof(TRound)];
  auto* placed = new (static_cast<void*>(buffer)) TRound;
  EXPECT_EQ(placed->isOnTheHeap(), 0);
  placed->~TRound();

  // An allocation that waits for its constructor while another object is built.
  struct TPair : TRound {
    explicit TPair(TRound* inner) : inner(inner) {}
    ~TPair() override { delete inner; }
    TRound* inner;
  };
  auto* pair = new TPair(new TRound);
  EXPECT_EQ((Seq{pair->isOnTheHeap(), pair->inner->isOnTheHeap()}), (Seq{1, 1}));
  delete pair;

  auto* diamond = new TArc;
  EXPECT_EQ(diamond->isOnTheHeap(), 1);
  delete diamond;
}

TEST(TSmartPtr, DeletesAtTheLastRelease) {
  TArc::destroyed = 0;
  {
    t_SmartPtr<TArc> a(new TArc);
    EXPECT_EQ(a->references(), 1u);
    t_SmartPtr<ERObject> b = a;
    EXPECT_EQ(a->references(), 2u);
    t_SmartPtr<TArc> c;
    c = a;
    c = c;  // self-assignment keeps the object
    EXPECT_EQ(a->references(), 3u);
    c.reset();
    EXPECT_TRUE(c.isNull());
    a = nullptr;
    EXPECT_EQ((Seq{TArc::destroyed, b->references()}), (Seq{0, 1u}));
  }
  EXPECT_EQ(TArc::destroyed, 1);
}

TEST(ERObjectDump, WritesClassAndPrintForm) {
  TRound r;
  r.radius = 2.5;
  std::ostringstream out;
  CDumpContext dc(out);
  r.Dump(dc);
  EXPECT_EQ(out.str(), "ERObject which is a TRound\nE : TRound\nround 2.5");
}

// An in-memory database: records are the saveGuts bytes, kept by identifier.
class MemoryDataBase : public ERObjectDataBase {
 public:
  long Store(ERObject& o) override {
    ++stores;
    if (failNext) {
      failNext = false;
      AfxThrowFileException(CFileException::diskFull);
    }
    const long id = (o.getObjectID() == -1 || o.Database() != this) ? ++lastId : o.getObjectID();
    attach(o, id, this);
    records[id] = o.className();
    return id;
  }
  int Delete(long id) override { return records.erase(id) ? 1 : 0; }
  t_SmartPtr<ERObject> RetrieveAndCreate(long id) override {
    auto it = records.find(id);
    if (it == records.end()) return {};
    auto create = ERClassRegistration::findCreator(it->second.c_str());
    if (create == nullptr) return {};
    t_SmartPtr<ERObject> o(create());
    attach(*o, id, this);
    return o;
  }
  std::map<long, std::string> records;
  long lastId = 0;
  int stores = 0;
  bool failNext = false;
};

TEST(ERObjectPersistence, SaveDeleteAndLoadRules) {
  TRound r;
  EXPECT_EQ((Seq{r.Save(nullptr), r.Delete(), r.Load(-1, nullptr)}), (Seq{0, 0, 0}));

  MemoryDataBase db;
  EXPECT_EQ((Seq{r.Save(&db), r.getObjectID(), r.Database(), db.stores}), (Seq{1, 1, &db, 1}));

  EXPECT_EQ(r.Save(nullptr), 1);  // clean: no write
  EXPECT_EQ((Seq{r.Save(&db), db.stores}), (Seq{1, 1}));

  r.setDirty();
  EXPECT_EQ((Seq{r.Save(nullptr), db.stores, r.getObjectID(), r.isDirty()}), (Seq{1, 2, 1, 0}));
  EXPECT_EQ(r.Load(-1, nullptr), 1);

  // Copying a stored object gives an unstored one.
  TRound copy(r);
  EXPECT_EQ((Seq{copy.getObjectID(), copy.Database()}), (Seq{-1, nullptr}));

  // Moving to a second database: a dirty object is first brought up to date in the first.
  MemoryDataBase other;
  other.lastId = 40;
  r.setDirty();
  EXPECT_EQ((Seq{r.Save(&other), db.stores, r.getObjectID(), r.Database()}),
            (Seq{1, 3, 41, &other}));
  EXPECT_EQ(db.records.count(1), 1u);  // the first keeps its record

  // A file exception is swallowed and leaves the fields as they were.
  r.setDirty();
  other.failNext = true;
  EXPECT_EQ((Seq{r.Save(nullptr), r.getObjectID(), r.isDirty()}), (Seq{0, 41, 1}));

  EXPECT_EQ((Seq{r.Delete(), r.getObjectID(), r.Database(), other.records.count(41)}),
            (Seq{1, -1, nullptr, 0u}));
}

TEST(ERObjectPersistence, NewIntoADatabaseIsCompletedAtCommitAndGoneWhenDestroyedUntouched) {
  MemoryDataBase db;
  auto* kept = new (&db) TRound;
  db.commit();  // completes it, whatever the transaction state
  EXPECT_EQ(db.records.at(1), "TRound");
  auto* dropped = new (&db) TRound;  // provisional record 2, then destroyed untouched
  ASSERT_EQ(db.records.count(2), 1u);
  delete dropped;
  EXPECT_EQ((Seq{db.records.count(2), db.records.size()}), (Seq{0u, 1u}));
  delete kept;
}

// The record written during construction is the root's; the object must not stay filed as an
// ERObject (nor be marked clean) once it is complete.
TEST(ERObjectPersistence, NewIntoADatabaseEndsUpStoredAsItsOwnClass) {
  MemoryDataBase db;
  {
    auto* r = new (&db) TRound;
    EXPECT_EQ((Seq{r->isOnTheHeap(), r->Database(), r->getObjectID(), db.records.at(1)}),
              (Seq{1, &db, 1, "TRound"}));
    EXPECT_EQ(r->isDirty(), 0);
    t_SmartPtr<ERObject> back = db.RetrieveAndCreate(1);
    ASSERT_TRUE(back);
    EXPECT_NE(TRound::castdown(back.get()), nullptr);
    delete r;
    TRound later;  // the request was one-shot
    EXPECT_EQ(later.Database(), nullptr);
  }
  {
    t_SmartPtr<ERObject> held(new (&db) TRound);  // first touched by the smart pointer
    EXPECT_EQ(db.records.at(2), "TRound");
  }
  {
    auto* a = new (&db) TRound;
    auto* b = new (&db) TRound;  // the next request completes the first
    EXPECT_EQ((Seq{db.records.at(3), b->getObjectID(), db.records.at(4)}),
              (Seq{"TRound", 4, "TRound"}));
    delete a;
    delete b;
  }
  {
    // Members, objects made by the constructor and temporaries of the arguments neither take
    // the request nor complete the record early.
    auto* h = new (&db) TOwner;
    EXPECT_EQ((Seq{h->getObjectID(), db.records.at(5), db.records.size()}), (Seq{5, "TOwner", 5u}));
    delete h;
    auto* copy = new (&db) TArc(TArc());
    EXPECT_EQ((Seq{copy->getObjectID(), db.records.at(6), db.records.size()}),
              (Seq{6, "TArc", 6u}));
    delete copy;
  }
}

std::string tempPath(const char* name) {
  const char* dir = std::getenv("QORV_TEST_TMP");
  std::string d = dir ? dir : "/tmp";
  std::string mk = "mkdir -p '" + d + "'";
  if (std::system(mk.c_str()) != 0) d = "/tmp";
  return d + "/" + name + "_" + std::to_string(::getpid());
}

TEST(ERObjectPersistence, ReferencesAreWrittenAsIdentifiers) {
  MemoryDataBase db;
  ERObjectDataBase::setCurrent(&db);
  const std::string path = tempPath("object_refs.bin");
  {
    ERFile f(path.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary);
    f.Write(7);
    TRound member;
    member.recursiveSaveOn(f);
    EXPECT_EQ((Seq{member.getObjectID(), f.CurOffset()}), (Seq{1, 8}));
    f.SeekTo(4);
    t_SmartPtr<ERObject> back = ERObject::recursiveRestoreFrom(f);
    ASSERT_TRUE(back);
    EXPECT_STREQ(back->className(), "TRound");
    EXPECT_EQ((Seq{back->getObjectID(), f.CurOffset()}), (Seq{1, 8}));
  }
  ERObjectDataBase::setCurrent(nullptr);
  std::remove(path.c_str());
}

TEST(LibraryFrame, LoadedAndPerThreadData) {
  EXPECT_NE(qorvLibrary(), nullptr);
  EXPECT_EQ(qorvExtensionModule().bInitialized, 1);
  qorvThreadLocalData* mine = qorvThreadLocalData::get();
  EXPECT_EQ(mine, qorvThreadLocalData::get());
  qorvThreadLocalData* theirs = nullptr;
  std::thread([&] {
    EXPECT_EQ(qorvThreadLocalData::peek(), nullptr);
    theirs = qorvThreadLocalData::get();
  }).join();
  EXPECT_NE(theirs, nullptr);
  EXPECT_NE(theirs, mine);
}
