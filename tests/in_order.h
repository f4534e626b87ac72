// tests/in_order.h
//
// Several equalities checked as one: EXPECT_EQ((Seq{f(), x}), (Seq{1, 2})) holds what
// EXPECT_EQ(f(), 1) followed by EXPECT_EQ(x, 2) held. Each value is copied when it is reached, in
// the order written (a braced list of by-value parameters), so a call further on cannot change
// a value before it; a failure prints both lists. EXPECT_TRUE(Near(Seq{a, b}, Seq{1.0, 2.0}, tol))
// stands for an EXPECT_NEAR per value and names the one that is off.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <iomanip>
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

template <class... T, class... U>
::testing::AssertionResult Near(const Seq<T...>& got, const Seq<U...>& want, double tol) {
  static_assert(sizeof...(T) == sizeof...(U));
  auto values = [](const auto& s) {
    return std::apply([](auto... x) { return std::array<double, sizeof...(x)>{double(x)...}; }, s);
  };
  const auto g = values(static_cast<const std::tuple<T...>&>(got));
  const auto w = values(static_cast<const std::tuple<U...>&>(want));
  for (std::size_t k = 0; k < g.size(); ++k)
    if (!(g[k] == w[k] || std::fabs(g[k] - w[k]) <= tol))
      return ::testing::AssertionFailure() << std::setprecision(17) << "value " << k << ": " << g[k]
                                           << " vs " << w[k] << ", tolerance " << tol;
  return ::testing::AssertionSuccess();
}
