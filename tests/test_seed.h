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
