#!/usr/bin/env bash
# Installs the Debian packages the build needs, when missing. Safe to run again.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev ccache clang
          libclang-rt-dev libcli11-dev libfmt-dev nlohmann-json3-dev pkg-config pybind11-dev
          python3-numpy python3-pytest
          # examples/batch: many parts on a Dask cluster through the Python module
          python3-dask python3-distributed
          # qorv::step (STEP and IGES nominals) reads models through OpenCASCADE
          libocct-data-exchange-dev libocct-modeling-algorithms-dev libocct-modeling-data-dev
          libocct-foundation-dev
          # the inspection report's browser tests and its PDF: headless rendering, PDF pages
          chromium poppler-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
