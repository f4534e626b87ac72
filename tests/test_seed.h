// tests/test_seed.h
//
// The seed of a randomized test: its fixed default, or QORV_TEST_SEED=<n> to explore others.
// Tests print the seed they used (SCOPED_TRACE) so that a failure replays.
#pragma once

#include <cstdlib>

namespace qorv_test {

inline unsigned seedFor(unsigned fixed) {
  const char* env = std::getenv("QORV_TEST_SEED");
  return env != nullptr ? static_cast<unsigned>(std::strtoul(env, nullptr, 10)) : fixed;
}

}  // namespace qorv_test

// A randomized test's generator: QORV_SEEDED(std::mt19937 rng, 2101) declares `seed` and
// `rng(seed)` and prints the seed with any failure in the scope.
#define QORV_SEEDED(decl, fixed)                         \
  const unsigned seed = ::qorv_test::seedFor(fixed);     \
  SCOPED_TRACE(::testing::Message() << "seed " << seed); \
  decl(seed)
