// Intrusive, value and pointer lists, singly and doubly linked, against a std::list model on
// seeded random edits; reference counts of smart-pointer lists; stored images and bad records.
#include "qorv/support/lists.h"

#include <gtest/gtest.h>

#include <list>
#include <random>
#include <string>
#include <vector>

#include "qorv/foundation/thread_data.h"
#include "qorv/persistence/object_database.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/persistence/test_files.h"

using namespace qorv::platform;

using qorv_test::Bytes, qorv_test::readBytes, qorv_test::TempFile, qorv_test::writeBytes;

// A stored object to put in lists.
class TListItem : public ERObject {
 public:
  QORV_DECLARE_CLASS(TListItem, ERObject);
  TListItem() { ++alive; }
  explicit TListItem(int v) : value(v) { ++alive; }
  TListItem(const TListItem& o) : ERObject(o), value(o.value) { ++alive; }
  ~TListItem() override { --alive; }
  ERObject* getCopy() const override { return new TListItem(*this); }
  void printOn(std::ostream& out) const override { out << value; }
  bool operator==(const TListItem& o) const { return value == o.value; }
  int value = 0;
  static int alive;
};
int TListItem::alive = 0;
QORV_DEFINE_CLASS(TListItem);

// Another class, to be refused by lists of TListItem.
class TOtherItem : public ERObject {
 public:
  QORV_DECLARE_CLASS(TOtherItem, ERObject);
  ERObject* getCopy() const override { return new TOtherItem(*this); }
  void printOn(std::ostream&) const override {}
};
QORV_DEFINE_CLASS(TOtherItem);

namespace {

constexpr UINT kCreate = CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary;
constexpr UINT kRead = CFile::modeRead | CFile::typeBinary;
constexpr unsigned kSeed = 777u;

// A new database file, current while the holder lives: stored lists store their elements there.
struct CurrentDataBase {
  CurrentDataBase() : db(qorv_test::openedDb(file.c_str(), 0)) {
    ERObjectDataBase::setCurrent(db.get());
  }
  ~CurrentDataBase() { ERObjectDataBase::setCurrent(nullptr); }
  TempFile file{"list_db"};
  t_SmartPtr<ERObjectDataBase> db;
};

struct DItem : ERIsvDlink {
  explicit DItem(int v) : v(v) {}
  int v;
};
struct SItem : ERIsvSlink {
  explicit SItem(int v) : v(v) {}
  int v;
};

// Random edits applied to a list and to a std::list model; read back after each.
template <class List, class Make, class Value>
void randomEdits(List& list, Make make, Value value, unsigned seed) {
  std::mt19937 g(seed);
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::list<int> model;
  for (int step = 0; step < 400; ++step) {
    const int n = static_cast<int>(model.size());
    const int op = std::uniform_int_distribution<int>(0, 7)(g);
    const int v = step;
    const int i = std::uniform_int_distribution<int>(0, n)(g);
    switch (op) {
      case 0:
        list.append(make(v)), model.push_back(v);
        break;
      case 1:
        list.prepend(make(v)), model.push_front(v);
        break;
      case 2:
        ASSERT_EQ(list.insertAt(i, make(v)), 1);
        model.insert(std::next(model.begin(), i), v);
        break;
      case 3:
        if (n == 0) break;
        ASSERT_EQ(value(list.removeFirst()), model.front());
        model.pop_front();
        break;
      case 4:
        if (n == 0) break;
        ASSERT_EQ(value(list.removeLast()), model.back());
        model.pop_back();
        break;
      case 5:
        if (i == n) break;
        ASSERT_EQ(value(list.removeAt(i)), *std::next(model.begin(), i));
        model.erase(std::next(model.begin(), i));
        break;
      default:
        if (i == n) break;
        ASSERT_EQ(value(list.at(i)), *std::next(model.begin(), i));
        break;
    }
    ASSERT_EQ(list.entries(), static_cast<int>(model.size()));
    ASSERT_EQ(list.isEmpty() != 0, model.empty());
    if (!model.empty()) {
      ASSERT_EQ(value(list.first()), model.front());
      ASSERT_EQ(value(list.last()), model.back());
    }
  }
  std::vector<int> seen;
  list.apply([&](const auto& x) { seen.push_back(value(x)); });
  EXPECT_EQ(seen, std::vector<int>(model.begin(), model.end()));
}

}  // namespace

template <class Item>
class IntrusiveList : public ::testing::Test {};
using Items = ::testing::Types<DItem, SItem>;
TYPED_TEST_SUITE(IntrusiveList, Items);

TYPED_TEST(IntrusiveList, RandomEditsMatchAModel) {
  using List = std::conditional_t<std::is_same_v<TypeParam, DItem>, ERTIsvDlist<TypeParam>,
                                  ERTIsvSlist<TypeParam>>;
  std::vector<std::unique_ptr<TypeParam>> items;
  List list;
  randomEdits(
      list,
      [&](int v) {
        items.push_back(std::make_unique<TypeParam>(v));
        return items.back().get();
      },
      [](const TypeParam* p) { return p->v; }, kSeed);
  list.clear();
}

TYPED_TEST(IntrusiveList, ReferencesAndEdges) {
  using List = std::conditional_t<std::is_same_v<TypeParam, DItem>, ERTIsvDlist<TypeParam>,
                                  ERTIsvSlist<TypeParam>>;
  TypeParam a(1), b(2), c(3), stranger(4);
  List list;
  EXPECT_EQ((Seq{list.first(), list.last(), list.get(), list.removeLast(), list.at(0)}),
            (Seq{nullptr, nullptr, nullptr, nullptr, nullptr}));
  list.append(&a), list.append(&b), list.append(&c);
  EXPECT_EQ((Seq{list.at(3), list.at(-1), list.removeAt(3)}), (Seq{nullptr, nullptr, nullptr}));
  EXPECT_TRUE(list.containsReference(&b));
  EXPECT_FALSE(list.containsReference(&stranger));
  EXPECT_EQ((Seq{list.occurrencesOfReference(&c), list.removeReference(&stranger), list.entries()}),
            (Seq{1, nullptr, 3}));
  EXPECT_EQ(list.removeReference(&c), &c);  // the last one: the tail follows
  EXPECT_EQ(list.last(), &b);
  list.append(&c);
  EXPECT_EQ((Seq{list.last(), list.get()}), (Seq{&c, &a}));

  List moved(std::move(list));
  EXPECT_TRUE(list.isEmpty());
  EXPECT_EQ((Seq{moved.entries(), moved.first(), moved.last()}), (Seq{2, &b, &c}));
  moved.append(&a);  // the moved links end at the new sentinels
  EXPECT_EQ(moved.at(2), &a);
  list = std::move(moved);
  EXPECT_EQ((Seq{list.entries(), list.removeLast(), list.removeLast(), list.removeLast()}),
            (Seq{3, &a, &c, &b}));
  EXPECT_TRUE(list.isEmpty());
}

template <class List>
class ValueList : public ::testing::Test {};
using ValueLists = ::testing::Types<ERTValDlist<int>, ERTValSlist<int>>;
TYPED_TEST_SUITE(ValueList, ValueLists);

TYPED_TEST(ValueList, RandomEditsMatchAModel) {
  TypeParam list;
  randomEdits(
      list, [](int v) { return v; }, [](int v) { return v; }, kSeed + 1);
}

TYPED_TEST(ValueList, CopiesAreDeepAndSearchesCompareValues) {
  TypeParam list;
  for (int v : {5, 3, 5, 7, 5}) list.append(v);
  TypeParam copy = list;
  copy.first() = 9;
  EXPECT_EQ((Seq{list.first(), list.index(7), list.index(8), list.occurrencesOf(5)}),
            (Seq{5, 3, -1, 3}));
  EXPECT_EQ((Seq{list.remove(5), list.removeAll(5), list.entries()}), (Seq{1, 2, 2}));
  EXPECT_EQ((Seq{list.contains(3), list.contains(5)}), (Seq{true, false}));
  EXPECT_EQ((Seq{list.remove(42), copy.entries()}), (Seq{0, 5}));
  EXPECT_FALSE(copy == list);
  copy = list;
  EXPECT_TRUE(copy == list);
  EXPECT_EQ((Seq{list.get(), list.get()}), (Seq{3, 7}));
  EXPECT_EQ(list.get(), 0);  // empty: a default value
}

TEST(ValueListOfSmartPointers, OneReferencePerNode) {
  const int before = TListItem::alive;
  {
    t_SmartPtr<TListItem> a(new TListItem(1));
    ERTValDlist<t_SmartPtr<TListItem>> list;
    list.append(a);
    list.append(a);
    list.append(t_SmartPtr<TListItem>(new TListItem(2)));
    EXPECT_EQ(a->references(), 3u);
    ERTValSlist<t_SmartPtr<TListItem>> copy;
    for (const auto& p : list) copy.append(p);
    EXPECT_EQ(a->references(), 5u);
    list.removeFirst();
    EXPECT_EQ((Seq{a->references(), TListItem::alive}), (Seq{4u, before + 2}));
  }
  EXPECT_EQ(TListItem::alive, before);
}

TEST(PointerList, ValueSearchesIdentityRemovalAndDestruction) {
  const int before = TListItem::alive;
  ERTPtrDlist<TListItem> list;
  auto* a = new TListItem(1);
  auto* b = new TListItem(2);
  auto* twin = new TListItem(2);
  list.append(a), list.append(b), list.append(twin), list.append(nullptr);
  const TListItem probe(2);
  EXPECT_EQ(list.find(&probe), b);  // by value: the first equal pointee
  EXPECT_EQ((Seq{list.index(&probe), list.occurrencesOf(&probe)}), (Seq{1, 2}));
  EXPECT_TRUE(list.containsReference(twin));
  EXPECT_FALSE(list.containsReference(&probe));
  EXPECT_EQ(list.removeReference(twin), twin);  // by identity
  EXPECT_EQ((Seq{list.removeReference(twin), list.remove(&probe), list.entries()}),
            (Seq{nullptr, b, 2}));
  delete b;
  delete twin;
  EXPECT_EQ(list.first(), a);
  EXPECT_EQ(list.last(), nullptr);  // a null element
  list.clearAndDestroy();
  EXPECT_EQ((Seq{bool(list.isEmpty()), list.first()}), (Seq{true, nullptr}));
  EXPECT_EQ(TListItem::alive, before + 1);  // the probe
}

TEST(ListPersistence, StoredImageAndRoundTrip) {
  CurrentDataBase current;
  TempFile t("list");
  ERTValDlist<t_SmartPtr<TListItem>> list;
  list.append(t_SmartPtr<TListItem>(new TListItem(1)));
  list.append(nullptr);
  list.append(t_SmartPtr<TListItem>(new TListItem(2)));
  {
    ERFile f(t.c_str(), kCreate);
    list.saveGuts(f);
    EXPECT_EQ(f.GetLength(), list.binaryStoreSize());
  }
  const Bytes expected = {3, 0, 0, 0,               // entries
                          0, 0, 0, 0, 1, 0, 0, 0,   // present, identifier 1
                          1, 0, 0, 0,               // null
                          0, 0, 0, 0, 2, 0, 0, 0};  // present, identifier 2
  EXPECT_EQ((Seq{readBytes(t.path), list.first()->getObjectID()}), (Seq{expected, 1}));

  ERTValSlist<t_SmartPtr<TListItem>> back;
  back.append(t_SmartPtr<TListItem>(new TListItem(9)));  // emptied first
  {
    ERFile f(t.c_str(), kRead);
    ASSERT_EQ(back.restoreGuts(f), 1);
  }
  ASSERT_EQ(back.entries(), 3);
  EXPECT_EQ(
      (Seq{back.first()->getObjectID(), bool(back.at(1).isNull()), back.last()->getObjectID()}),
      (Seq{1, true, 2}));

  // The pointer list writes the same image and restores objects it then owns, uncounted.
  ERTPtrDlist<TListItem> pointers;
  pointers.append(list.first().get());
  pointers.append(nullptr);
  pointers.append(list.last().get());
  {
    ERFile f(t.c_str(), kCreate);
    pointers.saveGuts(f);
    EXPECT_EQ(f.GetLength(), pointers.binaryStoreSize());
  }
  EXPECT_EQ(readBytes(t.path), expected);
  ERTPtrSlist<TListItem> owned;
  {
    ERFile f(t.c_str(), kRead);
    ASSERT_EQ(owned.restoreGuts(f), 1);
  }
  ASSERT_EQ(owned.entries(), 3);
  EXPECT_EQ((Seq{owned.first()->getObjectID(), owned.first()->references(), owned.at(1)}),
            (Seq{1, 0u, nullptr}));
  owned.clearAndDestroy();
}

TEST(ListPersistence, BadRecordsAreRefused) {
  CurrentDataBase current;
  TListItem item;
  TOtherItem other;
  ASSERT_EQ((Seq{current.db->Store(item), current.db->Store(other)}), (Seq{1, 2}));
  TempFile t("list_bad");
  auto restore = [&](const Bytes& image, int& entries) {
    writeBytes(t.path, image);
    ERFile f(t.c_str(), kRead);
    ERTValDlist<t_SmartPtr<TListItem>> list;
    const int ok = list.restoreGuts(f);
    entries = list.entries();
    return ok;
  };
  int n = 0;
  EXPECT_EQ(restore({}, n), 0);
  EXPECT_EQ(restore({0xFF, 0xFF, 0xFF, 0xFF}, n), 0);              // negative count
  EXPECT_EQ(restore({0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0}, n), 0);  // more than the file holds
  EXPECT_EQ(n, 0);
  EXPECT_EQ(restore({2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0}, n), 0);  // identifier cut short
  EXPECT_EQ((Seq{restore({0, 0, 0, 0}, n), n}), (Seq{1, 0}));
  // Another class, or an identifier the database does not know: a null element.
  EXPECT_EQ(
      restore({3, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0},
              n),
      1);
  EXPECT_EQ(n, 3);
}

TEST(ListNodes, ComeFromTheThreadsPools) {
  ERMemPool* pool =
      qorvThreadLocalData::get()->pool(ERMemoryPool::sizeClass(sizeof(ERTValDlink<double>)));
  pool->collateFreeSpace();
  ERTValDlist<double> list;
  list.append(1.0);
  ASSERT_NE(pool->currentChunk(), nullptr);
  const std::size_t inUse = pool->currentChunk()->inUse();
  list.append(2.0);
  EXPECT_EQ(pool->currentChunk()->inUse(), inUse + 1);
  list.removeFirst();
  EXPECT_EQ(pool->freeCount(), 1u);  // waits on the pool's free list (threshold 1024)
}
