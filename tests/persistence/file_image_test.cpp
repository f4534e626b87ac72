// The bytes a database writes are its format: random sequences of stores, re-stores, deletes,
// transactions of every size, rollbacks and reopenings must leave exactly the files they always
// did. Each sequence's files (one image at every Close) are folded into one FNV-1a digest and
// compared with the digest recorded when the layout was settled; a faster free list or cache
// that hands out a different block changes it. (Recorded again when identifiers of rolled-back
// transactions became reserved: the sequences with rollbacks then number later objects higher.)
//
// QORV_PRINT_IMAGES=1 prints the digests instead of comparing them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "qorv/persistence/file_manager.h"
#include "qorv/persistence/object_database.h"
#include "tests/persistence/safety_classes.h"
#include "tests/persistence/test_files.h"

namespace qorv_test {

// A record of any length: the free list sees blocks of every size.
class TBlob : public ERObject {
 public:
  QORV_DECLARE_CLASS(TBlob, ERObject);
  TBlob() = default;
  explicit TBlob(std::uint32_t n, unsigned char fill) : bytes(n, fill) {}
  ERObject* getCopy() const override { return new TBlob(*this); }
  void printOn(std::ostream& out) const override { out << "TBlob " << bytes.size(); }
  void saveGuts(ERFile& f) const override {
    ERObject::saveGuts(f);
    f.Write(static_cast<std::uint32_t>(bytes.size()));
    if (!bytes.empty()) f.Write(bytes.data(), static_cast<unsigned>(bytes.size()));
  }
  void restoreGuts(ERFile& f) override {
    ERObject::restoreGuts(f);
    std::uint32_t n = 0;
    f.Read(n);
    bytes.assign(std::min<std::uint32_t>(n, 1u << 20), 0);
    if (!bytes.empty()) f.Read(bytes.data(), static_cast<unsigned>(bytes.size()));
  }
  std::uint32_t binaryStoreSize() const override {
    return ERObject::binaryStoreSize() + 4 + static_cast<std::uint32_t>(bytes.size());
  }
  std::vector<unsigned char> bytes;
};
QORV_DEFINE_CLASS(TBlob);

}  // namespace qorv_test

namespace {

using qorv_test::TBlob, qorv_test::TValue;

std::uint64_t fnv1a(const qorv_test::Bytes& b, std::uint64_t h = 1469598103934665603ull) {
  for (unsigned char c : b) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// A digest against the one recorded; QORV_PRINT_IMAGES=1 prints it instead.
void expectDigest(std::uint64_t got, std::uint64_t recorded, const char* what) {
  if (std::getenv("QORV_PRINT_IMAGES") != nullptr) {
    std::printf("%s 0x%016llxull,\n", what, static_cast<unsigned long long>(got));
  } else {
    EXPECT_EQ(got, recorded) << std::hex << "0x" << got;
  }
}

struct Recipe {
  unsigned seed;
  int operations;
  int maxTransaction;  // 0: every call on its own
  int largeEvery;      // one record in this many is a few kilobytes
  bool uniform;        // all records of one size, as a batch of like objects
};

// Runs the recipe's operations and returns the digest of every image the file went through
// at a Close. Only mt19937's raw output is used: the sequence is the same on every library.
std::uint64_t replay(const Recipe& r) {
  qorv_test::TempFile file("image");
  std::mt19937 rng(r.seed);
  auto below = [&](std::uint32_t n) { return n == 0 ? 0u : static_cast<std::uint32_t>(rng() % n); };
  std::vector<t_SmartPtr<ERObject>> live;
  std::uint64_t digest = 1469598103934665603ull;
  t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
  db->setSynchronous(ERObjectDataBase::Synchronous::off);
  EXPECT_EQ(db->Open(file.c_str(), 0), 1);
  auto newObject = [&]() -> t_SmartPtr<ERObject> {
    if (!r.uniform && below(5) == 0) return new TValue(below(1000), static_cast<int>(below(9)));
    std::uint32_t n = r.uniform ? 28 : below(160);
    if (!r.uniform && r.largeEvery > 0 && below(r.largeEvery) == 0) n = 1000 + below(6000);
    return new TBlob(n, static_cast<unsigned char>(rng()));
  };
  auto close = [&]() {
    db->Close();
    digest = fnv1a(qorv_test::readBytes(file.path), digest);
    EXPECT_EQ(db->Open(file.c_str(), 0), 1);
  };
  // A refused store is part of the sequence too.
  auto store = [&](ERObject& o) {
    try {
      digest = (digest ^ static_cast<std::uint64_t>(db->Store(o))) * 1099511628211ull;
    } catch (qorv::platform::CFileException&) {
      digest = (digest ^ 0xFFu) * 1099511628211ull;
    }
  };
  int done = 0;
  while (done < r.operations) {
    const int size = r.maxTransaction > 0 ? 1 + static_cast<int>(below(r.maxTransaction)) : 0;
    if (size > 0) db->begin();
    const int n = size > 0 ? size : 1 + static_cast<int>(below(20));
    for (int k = 0; k < n && done < r.operations; ++k, ++done) {
      const std::uint32_t what = below(10);
      if (what < 5 || live.empty()) {
        live.push_back(newObject());
        store(*live.back());
      } else if (what < 7) {
        // Again, grown or shrunk: its record moves to another block.
        ERObject& o = *live[below(static_cast<std::uint32_t>(live.size()))];
        if (auto* blob = TBlob::castdown(&o)) blob->bytes.resize(r.uniform ? 28 : below(300));
        store(o);
      } else if (what < 9) {
        const std::size_t i = below(static_cast<std::uint32_t>(live.size()));
        db->Delete(live[i]->getObjectID());
        live[i] = live.back();
        live.pop_back();
      } else {
        db->Delete(1 + static_cast<long>(below(static_cast<std::uint32_t>(done + 2))));
      }
    }
    if (size > 0) {
      if (below(8) == 0) {
        db->rollback();
      } else {
        db->commit();
      }
    }
    if (below(40) == 0) close();
  }
  EXPECT_TRUE(db->check().empty());
  close();
  db->Close();
  return digest;
}

TEST(FileImage, SequencesWriteTheBytesTheyAlwaysWrote) {
  // clang-format off
  const Recipe recipes[] = {
      {1, 400, 0, 0, false},
      {2, 1500, 0, 50, false},
      {3, 3000, 12, 50, false},
      {4, 6000, 300, 20, false},
      {5, 20000, 5000, 200, false},
      {6, 20000, 20000, 0, true},
      {7, 3000, 3, 100, false},
  };
  const std::uint64_t expected[] = {
      0x98c6efec37fc32cfull, 0x9f988a57dd48ec62ull, 0xba8b4de109ffaacdull, 0xca5e921aa2fbca6dull,
      0x8ba7c216e9683342ull, 0xba5010c45455d802ull, 0xd01cece3f7d9914dull,
  };
  // clang-format on
  for (std::size_t i = 0; i < std::size(recipes); ++i) {
    SCOPED_TRACE(::testing::Message() << "recipe seed " << recipes[i].seed);
    expectDigest(replay(recipes[i]), expected[i], "recipe");
  }
}

// The batch the benchmarks time, at a fifth of the size: one transaction of stores, then half of
// them deleted and stored again in another.
TEST(FileImage, BatchStoreDeleteAndStoreAgainWriteTheSameFile) {
  qorv_test::TempFile file("batch");
  constexpr int kCount = 20000;
  {
    t_SmartPtr<ERObjectDataBase> db(new ERObjectDataBase);
    db->setSynchronous(ERObjectDataBase::Synchronous::off);
    ASSERT_EQ(db->Open(file.c_str(), 0), 1);
    std::vector<t_SmartPtr<ERObject>> objects;
    db->begin();
    for (int i = 0; i < kCount; ++i) {
      objects.push_back(new TValue(i, -i));
      db->Store(*objects.back());
    }
    db->commit();
    std::mt19937 rng(11);
    db->begin();
    std::vector<long> gone;
    for (int i = 0; i < kCount / 2; ++i) {
      const long id = 1 + static_cast<long>(rng() % kCount);
      if (db->Delete(id)) gone.push_back(id);
    }
    for (long id : gone) {
      objects.push_back(new TValue(static_cast<double>(id), 0));
      db->Store(*objects.back());
    }
    db->commit();
    db->Close();
  }
  expectDigest(fnv1a(qorv_test::readBytes(file.path)), 0xfeac2e6a0b94708bull, "batch");
}

// The block heap alone, with a careless caller: blocks freed twice and offsets that are not
// blocks, among allocations of every size. Each answer and the
// final file are folded into the digest.
std::uint64_t replayHeap(unsigned seed, int operations) {
  qorv_test::TempFile file("heap");
  std::mt19937 rng(seed);
  auto below = [&](std::uint32_t n) { return n == 0 ? 0u : static_cast<std::uint32_t>(rng() % n); };
  std::uint64_t digest = 1469598103934665603ull;
  auto fold = [&](long v) { digest = (digest ^ static_cast<std::uint64_t>(v)) * 1099511628211ull; };
  {
    ERFileManager fm(file.c_str(), 0);
    std::vector<long> live;
    int given = 0;
    for (int k = 0; k < operations; ++k) {
      const std::uint32_t what = below(400);
      if (what < 190 || live.empty()) {
        const std::uint32_t size = below(4) == 0 ? 1 + below(3000) : 4 + 4 * below(12);
        const long at = fm.allocate(size);
        fold(at);
        if (at >= 0) live.push_back(at);
        given += at >= 0;
      } else {
        const std::size_t i = below(static_cast<std::uint32_t>(live.size()));
        fm.deallocate(live[i]);
        if (what >= 340) fm.deallocate(live[i]);      // again: it is free, or past the end now
        if (what >= 390) fm.deallocate(live[i] + 4);  // not a block, whatever its first word says
        live[i] = live.back();
        live.pop_back();
      }
    }
    EXPECT_GT(given, operations / 3);
  }
  return fnv1a(qorv_test::readBytes(file.path), digest);
}

TEST(FileImage, CarelessFreesLeaveTheHeapTheyAlwaysLeft) {
  const std::pair<unsigned, int> runs[] = {{21, 3000}, {22, 12000}, {23, 30000}};
  const std::uint64_t expected[] = {0x20ee9f85a22c3d38ull, 0xd4eb8dfb60a0ceccull,
                                    0x485e6dc0a367ca26ull};
  for (std::size_t i = 0; i < std::size(runs); ++i) {
    SCOPED_TRACE(::testing::Message() << "heap seed " << runs[i].first);
    expectDigest(replayHeap(runs[i].first, runs[i].second), expected[i], "heap");
  }
}

}  // namespace
