#!/usr/bin/env bash
# Builds and runs every test: the unit suites and the tool's tests through CTest, then the
# examples and the README's quick-start built against a fresh install of the package.
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
  # -O1 with line tables only: the checks are the same, the stack traces name their lines, and
  # the suites compile in less than half the time of -O2 with full debug information.
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DQORV_SANITIZE=address,undefined -DQORV_BUILD_TESTS=ON -DQORV_BUILD_BENCH=OFF \
    -DQORV_BUILD_TOOLS=ON -DQORV_BUILD_PYTHON=OFF >/dev/null
  cmake --build "$build" -j"$jobs"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  ctest --test-dir "$build" --output-on-failure -j"$jobs"
  exit 0
fi

if [[ "${1:-}" == "--thread" ]]; then
  build="$root/build-tsan"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DQORV_SANITIZE=thread -DQORV_BUILD_TESTS=ON -DQORV_BUILD_BENCH=OFF \
    -DQORV_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$build" -j"$jobs" --target support_tests
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
  ctest --test-dir "$build" --output-on-failure -R support
  exit 0
fi

build="$root/build"
# The Python module is built for Debian's python3 (another may come first on PATH).
# Line tables only (-g1): backtraces and profiles name their lines, and the build is faster. The
# benchmarks are scripts/bench.sh's (in Release, with their peers), not built here.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQORV_BUILD_TESTS=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DQORV_BUILD_BENCH=OFF -DQORV_BUILD_PYTHON=ON -DPython_EXECUTABLE="$(command -pv python3)" >/dev/null
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"

# The installed package, consumed as a host would: the examples and the README's quick-start,
# with no compiler flags of their own, through CMake and through pkg-config.
stage="$build/stage"
rm -rf "$stage" "$build/examples" "$build/relocated"
cmake --install "$build" --prefix "$stage" >/dev/null
quickstart="$build/quickstart.cpp"
sed -n '/<!-- quick-start -->/,/<!-- end quick-start -->/p' "$root/README.md" |
  sed -e '1,/^```cpp$/d' -e '/^```$/,$d' >"$quickstart"
[[ -s "$quickstart" ]] || { echo "test.sh: no quick-start program in README.md" >&2; exit 1; }
cmake -S "$root/examples" -B "$build/examples" -G Ninja -DCMAKE_PREFIX_PATH="$stage" \
  -DQORV_QUICKSTART="$quickstart" >/dev/null
cmake --build "$build/examples" -j"$jobs"
(
  cd "$build/examples"
  for example in consumer values_and_transformations curves database quickstart; do
    echo "== $example"
    "./$example"
  done
)
libdir=$(cd "$stage" && ls -d lib*/pkgconfig | head -n 1)
PKG_CONFIG_PATH="$stage/$libdir" pkg-config --exists qorv
c++ -std=c++20 -Wall -Wextra -Werror -o "$build/examples/quickstart-pc" "$quickstart" \
  $(PKG_CONFIG_PATH="$stage/$libdir" pkg-config --cflags --libs qorv) \
  -Wl,-rpath,"$stage/$(dirname "$libdir")"
(cd "$build/examples" && ./quickstart-pc >/dev/null)
echo "== pkg-config build of the quick-start: ok"

# The installed tool runs from wherever the prefix is moved.
mv "$stage" "$build/relocated"
"$build/relocated/bin/qorv" --version
(cd "$build/examples" && rm -f relocated.qdb && "$build/relocated/bin/qorv" demo relocated.qdb >/dev/null &&
  "$build/relocated/bin/qorv" db list relocated.qdb >/dev/null)
echo "== relocated install: ok"
# The installed Python module, beside the library, imports from the moved prefix.
PYTHONPATH="$build/relocated/$(dirname "$libdir")" "$(command -pv python3)" -c \
  'import qorv, numpy; c = qorv.Circle([0, 0, 0], [0, 0, 1], 2.0); assert abs(c.nearest(numpy.array([3.0, 0, 0]))["distances"][0] - 1) < 1e-12'
echo "== installed Python module: ok"
