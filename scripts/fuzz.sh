#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer + AddressSanitizer) and runs the database fuzzer
# from a seed corpus of valid files.
#   scripts/fuzz.sh [SECONDS]        explore with a fresh random seed for SECONDS
#   scripts/fuzz.sh --ci             a fixed seed and run count (about a minute), so that a
#                                    given tree always fuzzes the same way
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
mode="${1:-60}"
if [[ "$mode" == "--ci" ]]; then
  limits=(-seed=1 -runs=120000 -max_total_time=120)
  dxf_limits=(-seed=1 -runs=200000 -max_total_time=60)
  # The inspection's inputs and the clouds give the side files a share of their time.
  inspect_limits=(-seed=1 -runs=200000 -max_total_time=35)
  side_limits=(-seed=1 -runs=40000 -max_total_time=30)
else
  limits=(-max_total_time="$mode")
  dxf_limits=(-max_total_time="$mode")
  inspect_limits=(-max_total_time="$mode")
  side_limits=(-max_total_time="$mode")
fi
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DQORV_SANITIZE=address,fuzzer-no-link -DQORV_BUILD_TESTS=OFF -DQORV_BUILD_BENCH=OFF \
  -DQORV_BUILD_TOOLS=OFF -DQORV_BUILD_FUZZ=ON >/dev/null
targets=(db_fuzz db_seeds dxf_fuzz inspect_fuzz cloud_fuzz)
# The side-file fuzzer needs OpenCASCADE (qorv::step).
if ninja -C "$build" -t targets all 2>/dev/null | grep -q '^side_fuzz:'; then targets+=(side_fuzz); fi
cmake --build "$build" --target "${targets[@]}" -j"$(nproc)"
corpus="$build/corpus"
work="$build/work"
rm -rf "$work"
mkdir -p "$corpus" "$work"
"$build/fuzz/db_seeds" "$corpus"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export QORV_FUZZ_TMP="$work"
cd "$work"
# A fuzzer runs on one core: the database's runs beside the others, which follow one another.
"$build/fuzz/db_fuzz" "${limits[@]}" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$corpus" >"$work/db_fuzz.log" 2>&1 &
db_fuzz=$!
trap 'kill "$db_fuzz" 2>/dev/null || true' EXIT

# The DXF reader, from a few files laid out as writers do.
dxf_corpus="$build/dxf_corpus"
mkdir -p "$dxf_corpus"
cp "$root"/fuzz/dxf_corpus/* "$dxf_corpus"/
"$build/fuzz/dxf_fuzz" "${dxf_limits[@]}" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -print_final_stats=1 "$dxf_corpus" 2>&1 | tail -15

# The inspection's inputs: measured points (first byte odd) and nominal parts (even), seeded with
# the sample part and points written as measuring software does.
inspect_corpus="$build/inspect_corpus"
mkdir -p "$inspect_corpus"
{ printf '\x00'; cat "$root/examples/inspection/part.json"; } >"$inspect_corpus/part"
printf '\x01id;x;y;z;feature;probe\r\np1;1,5;2;3;top;2\r\n"a,b";4;5;6\r\n' >"$inspect_corpus/semicolon"
printf '\x03p1\t1\t2\t3\n' >"$inspect_corpus/tab"
printf '\x01\xef\xbb\xbfid,x,y,z\np1,+1.5,-2e-3,0x1p3,face,1\n' >"$inspect_corpus/comma"
"$build/fuzz/inspect_fuzz" "${inspect_limits[@]}" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
  -print_final_stats=1 "$inspect_corpus" 2>&1 | tail -15

# The cloud readers (first byte: kind and threads), seeded with a small file of each kind.
cloud_corpus="$build/cloud_corpus"
mkdir -p "$cloud_corpus"
printf '\x00ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\nproperty float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n1 2 3\n4 5 6\n3 0 1 1\n' >"$cloud_corpus/ascii"
{ printf '\x10ply\nformat binary_big_endian 1.0\nelement vertex 1\nproperty double x\nproperty double y\nproperty double z\nproperty uchar red\nend_header\n'; head -c 25 /dev/zero; } >"$cloud_corpus/binary"
printf '\x01X Y Z\n1 2 3\n4,5,6,7\nnan 1 1\n' >"$cloud_corpus/xyz"
printf '\x022\n1 2 3 9\n4 5 6 9\n' >"$cloud_corpus/pts"
"$build/fuzz/cloud_fuzz" "${inspect_limits[@]}" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
  -print_final_stats=1 "$cloud_corpus" 2>&1 | tail -15

# A STEP nominal's side files, seeded with valid ones (selections by face, box, colour, name;
# datums and tolerances).
if [[ -x "$build/fuzz/side_fuzz" ]]; then
  side_corpus="$build/side_corpus"
  mkdir -p "$side_corpus"
  cp "$root"/fuzz/side_corpus/* "$side_corpus"/
  # OpenCASCADE's readers keep static registries that LeakSanitizer reports at exit.
  LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0" \
    "$build/fuzz/side_fuzz" "${side_limits[@]}" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 "$side_corpus" 2>&1 | tail -15
fi

db_status=0
wait "$db_fuzz" || db_status=$?
echo "== db_fuzz"
tail -15 "$work/db_fuzz.log"
exit "$db_status"
