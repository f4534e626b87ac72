#!/usr/bin/env bash
# Builds and runs every test: the unit suites through CTest, then the consumer example built
# with find_package(qorv) against a fresh install.
#   scripts/test.sh              the normal build (build/)
#   scripts/test.sh --sanitize   the same suites with AddressSanitizer and UBSan (build-asan/)
#   scripts/test.sh --thread     the support suite (containers, pools, threads) under
#                                ThreadSanitizer (build-tsan/)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
jobs="$(nproc)"
# Relative paths in the compiler cache, so clones in other folders share its entries.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

if [[ "${1:-}" == "--sanitize" ]]; then
  build="$root/build-asan"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQORV_SANITIZE=address,undefined -DQORV_BUILD_BENCH=OFF -DQORV_BUILD_TOOLS=ON >/dev/null
  cmake --build "$build" -j"$jobs"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  ctest --test-dir "$build" --output-on-failure -j"$jobs"
  exit 0
fi

if [[ "${1:-}" == "--thread" ]]; then
  build="$root/build-tsan"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQORV_SANITIZE=thread -DQORV_BUILD_BENCH=OFF -DQORV_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$build" -j"$jobs" --target support_tests
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
  ctest --test-dir "$build" --output-on-failure -R support
  exit 0
fi

build="$root/build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"

# The installed package, consumed as a host would.
stage="$build/stage"
rm -rf "$stage" "$build/consumer"
cmake --install "$build" --prefix "$stage" >/dev/null
cmake -S "$root/examples/consumer" -B "$build/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$build/consumer" -j"$jobs"
"$build/consumer/consumer"
