#!/usr/bin/env bash
# Runs every test: native unit and database tests, the same under the sanitizers, the bounded
# fuzz runs, and the Win32 build under Wine in Xvfb. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"

if [ -f tests/fuzz/CMakeLists.txt ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  ctest --test-dir build/fuzz --output-on-failure
fi

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
ctest --preset win32
