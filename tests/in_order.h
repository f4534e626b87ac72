// tests/in_order.h
//
// Several equalities checked as one: EXPECT_EQ((Seq{f(), x}), (Seq{1, 2})) holds what
// EXPECT_EQ(f(), 1) followed by EXPECT_EQ(x, 2) held. Each value is copied when it is reached, in
// the order written (a braced list of by-value parameters), so a call further on cannot change
// a value before it; a failure prints both lists.
#pragma once

#include <ostream>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

template <class... T>
struct Seq : std::tuple<T...> {
  Seq(T... v) : std::tuple<T...>(std::move(v)...) {}  // NOLINT(google-explicit-constructor)
  friend std::ostream& operator<<(std::ostream& os, const Seq& s) {
    return os << ::testing::PrintToString(static_cast<const std::tuple<T...>&>(s));
  }
};
