#!/usr/bin/env bash
# Runs a Win32 program under the project's private Wine (see wine-env.sh) and returns its exit
# code; tests register their Win32 programs through this script.
#
#   scripts/wine-run.sh <program.exe> [args...]
#
# The run is bounded by TW_WINE_TIMEOUT seconds (default 120, 0 = none); a run that times out
# returns 124. The program's output is collected in files and printed when it ends, so that a
# Wine helper process that outlives the program never holds the caller's pipes open (ctest
# waits for those). TW_WINE_STREAM=1 passes the output straight through instead. The program's
# standard input is /dev/null, or with TW_WINE_STDIN=1 the caller's (a secret given through a
# pipe rather than on the command line).
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 <program.exe> [args...]" >&2
  exit 2
fi

# shellcheck source=scripts/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
tw_wine_up || exit 125

limit="${TW_WINE_TIMEOUT:-120}"
runner=()
if [ "$limit" -gt 0 ] 2>/dev/null; then runner=(timeout -k 5 "$limit"); fi

if [ -n "${TW_WINE_STREAM:-}" ]; then
  tw_wine_cmd "${runner[@]}" wine "$@"
  rc=$?
else
  out="$(mktemp)"
  err="$(mktemp)"
  input=/dev/null
  [ -z "${TW_WINE_STDIN:-}" ] || input=/dev/stdin
  tw_wine_cmd "${runner[@]}" wine "$@" <"$input" >"$out" 2>"$err"
  rc=$?
  cat "$out"
  cat "$err" >&2
  rm -f "$out" "$err"
fi
if [ "$rc" -eq 124 ] && [ ${#runner[@]} -gt 0 ]; then
  echo "wine-run: $1 did not end within ${limit} s and was stopped" >&2
fi
touch "$TW_WINE_STATE/stamp"
exit "$rc"
