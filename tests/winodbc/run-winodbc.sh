#!/usr/bin/env bash
# Runs the Win32 database-object check under Wine against a simulator started here: the server
# takes any free port, the program gets that port, and the server is stopped afterwards.
#   tests/winodbc/run-winodbc.sh <tw_winodbc.exe>
set -uo pipefail
exe=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
python3 "$root/tests/simulator/tds_sim.py" --fixture "$root/tests/odbc/odbc_fixture.json" \
  --port 0 --log "$work/statements.jsonl" >"$work/announce" 2>"$work/server.err" &
pid=$!
cleanup() {
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^listening 127\.0\.0\.1 \([0-9]*\)$/\1/p' "$work/announce")
  [ -n "$port" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "run-winodbc: the simulator did not announce its port" >&2
  cat "$work/server.err" >&2
  exit 1
fi

"$root/scripts/wine-run.sh" "$exe" "$port"
rc=$?
if [ "$rc" -ne 0 ]; then
  echo "--- statements the server saw:" >&2
  cat "$work/statements.jsonl" >&2
fi
exit "$rc"
