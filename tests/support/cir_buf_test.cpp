// Circular buffer: capacity size - 1, the default overflow emptying, a custom overflow hook,
// Consomme, and agreement with a deque model on seeded random traffic.
#include "qorv/support/cir_buf.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "tests/in_order.h"

// Overflow, wrap-around and Consomme are the model's (below); here what it does not draw.
TEST(CirBuf, CopiesResetsAndHighBytes) {
  ER_CirBuf b(5);
  EXPECT_EQ(b.GetTaille(), 5);
  b.Put("abcd", 4);
  b.Consomme(2);
  b.Put("ef", 2);  // wraps past the end of the array
  ER_CirBuf copy = b;
  EXPECT_EQ((Seq{copy.Get(), copy.Get(), b.Get(), b[2]}), (Seq{'c', 'd', 'c', 'f'}));
  copy.RAZ();
  EXPECT_EQ(copy.Get(), 255);
  const unsigned char high = static_cast<unsigned char>('\xC8');
  copy.Put(static_cast<char>(high));
  EXPECT_EQ(copy.Get(), high);
}

TEST(CirBuf, CustomOverflowHookAndTinyBuffers) {
  // A hook that makes room for one character by dropping the oldest.
  struct DropOldest : ER_CirBuf {
    using ER_CirBuf::ER_CirBuf;
    void OnDebord() override {
      ++calls;
      Consomme(1);
    }
    int calls = 0;
  };
  DropOldest b(3);
  b.Put("abcd", 4);
  EXPECT_EQ((Seq{b.calls, b.Get(), b.Get()}), (Seq{2, 'c', 'd'}));

  for (int size : {-1, 0, 1}) {
    DropOldest tiny(size);
    tiny.Put('z');  // nothing fits: the hook is told, the character dropped
    EXPECT_EQ((Seq{tiny.calls, tiny.GetNbChar(), tiny.Get()}), (Seq{1, 0, 255}));
    tiny.Consomme(3);
  }
}

TEST(CirBuf, RandomTrafficMatchesAModel) {
  constexpr unsigned kSeed = 31337u;
  std::mt19937 g(kSeed);
  SCOPED_TRACE(testing::Message() << "seed " << kSeed);
  ER_CirBuf b(7);
  std::deque<char> model;
  for (int step = 0; step < 5000; ++step) {
    const int op = static_cast<int>(g() % 3);
    if (op == 0) {
      const char c = static_cast<char>('a' + g() % 26);
      if (model.size() == 6) model.clear();
      model.push_back(c);
      b.Put(c);
    } else if (op == 1) {
      const int expected = model.empty() ? 255 : static_cast<unsigned char>(model.front());
      if (!model.empty()) model.pop_front();
      ASSERT_EQ(b.Get(), expected);
    } else {
      const int n = static_cast<int>(g() % 4);
      for (int i = 0; i < n && !model.empty(); ++i) model.pop_front();
      b.Consomme(n);
    }
    ASSERT_EQ(b.GetNbChar(), static_cast<int>(model.size()));
    for (std::size_t i = 0; i < model.size(); ++i) ASSERT_EQ(b[static_cast<int>(i)], model[i]);
  }
}
