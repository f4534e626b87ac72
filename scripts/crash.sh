#!/usr/bin/env bash
# The database crash test at length: children killed at thousands of disk events.
#   scripts/crash.sh [ROUNDS] [SECONDS]   (default 5000 rounds, at most 50 seconds)
# Uses the normal build (build/), built by scripts/test.sh.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
build="$root/build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQORV_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target persistence_tests
QORV_CRASH_ROUNDS="${1:-5000}" QORV_CRASH_SECONDS="${2:-50}" QORV_TEST_TMP="$build/tests/tmp" \
  "$build/tests/persistence_tests" --gtest_brief=1 --gtest_filter='DataBaseCrash.*'
