#!/usr/bin/env bash
# Builds the library and the qorv tool, then runs the main job on its built-in sample.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" --target qorv_tool -j"$(nproc)"
# The sample database is written next to the build (replacing the previous run's), then reopened
# and printed.
"$root/build/tools/qorv/qorv" demo --force "$root/build/qorv-demo.qdb"
