#!/usr/bin/env bash
# Builds the benchmarks in Release with their peers (SQLite, Eigen, Boost.Geometry, CGAL, OCCT, GLPK from
# Debian, installed here when missing) and runs them all, or those named.
#   scripts/bench.sh                    every benchmark
#   scripts/bench.sh conics freeform    only conics_bench and freeform_bench
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
peers=(libsqlite3-dev libeigen3-dev libboost-dev libcgal-dev libocct-foundation-dev
  libocct-modeling-data-dev libocct-modeling-algorithms-dev python3-ezdxf libglpk-dev
  # cloud_bench: cloud-to-mesh distances, run offscreen from its command line
  cloudcompare
  # alignment_peer.py: point-to-plane ICP
  python3-open3d)
missing=()
for p in "${peers[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "bench: installing ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQORV_BUILD_BENCH=ON \
  -DQORV_BENCH_PEERS=ON -DQORV_BUILD_TESTS=OFF -DQORV_BUILD_TOOLS=ON -DQORV_BUILD_PYTHON=ON \
  -DPython_EXECUTABLE="$(command -pv python3)" >/dev/null
cmake --build "$build" -j"$(nproc)"
names=("$@")
if ((${#names[@]} == 0)); then
  for b in "$build"/bench/*_bench; do names+=("$(basename "$b" _bench)"); done
fi
for n in "${names[@]}"; do
  echo "== ${n}_bench"
  "$build/bench/${n}_bench"
done
# The Python module's bulk call against the same loop in C++ (python_bulk_bench above); the
# alignment's peer on the points alignment_bench writes.
for n in "${names[@]}"; do
  if [[ "$n" == alignment ]]; then
    echo "== alignment_peer.py"
    peer_input="$(mktemp)"
    "$build/bench/alignment_bench" --points "$peer_input" >/dev/null
    PYTHONPATH="$build/python/site" "$(command -pv python3)" "$root/bench/alignment_peer.py" "$peer_input"
    rm -f "$peer_input"
  fi
  if [[ "$n" == python_bulk ]]; then
    echo "== python_bulk.py"
    PYTHONPATH="$build/python/site" "$(command -pv python3)" "$root/bench/python_bulk.py"
  fi
done
