#!/usr/bin/env bash
# Benchmark of the database object against the bare ODBC driver on the simulator: connect/close
# cycles and the walk of a 1000-row result, with the ratio of the two.
#   scripts/bench-odbc.sh [connect-cycles] [walks]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native --target tw_odbc_bench -j 2
exec build/native/tests/odbc/tw_odbc_bench "$@"
