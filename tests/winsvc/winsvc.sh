#!/usr/bin/env bash
# Runs the Win32 services test under Wine, then checks the autostart value from outside the
# program with Wine's own registry tool: present as REG_SZ holding the exe's path after
# "reg-write", gone after "reg-delete".
#
#   tests/winsvc/winsvc.sh <wine-run.sh> <winsvc_test.exe>
set -uo pipefail
run="$1"
exe="$2"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
name="$(basename "$exe")"
fail() { echo "winsvc: $*" >&2; exit 1; }

"$run" "$exe" || fail "in-process checks failed"

# Again from a directory whose name holds Chinese characters and a blank.
copy="$(mktemp -d)"
trap 'rm -rf "$copy"' EXIT
mkdir "$copy/工具 目录"
cp "$exe" "$copy/工具 目录/"
out="$("$run" "$copy/工具 目录/$(basename "$exe")")" || fail "checks failed from a Chinese directory"
grep -q '^directory .*\\工具 目录$' <<<"$(tr -d '\r' <<<"$out")" || fail "program directory wrong: $out"

written="$("$run" "$exe" reg-write | tr -d '\r' | head -n 1)" || fail "reg-write failed"
[ -n "$written" ] || fail "reg-write printed no path"
query="$("$run" reg query "$key" /v "$name" | tr -d '\r')" || fail "value not found by reg query"
line="$(grep -F "$name" <<<"$query")"
grep -q 'REG_SZ' <<<"$line" || fail "value is not REG_SZ: $line"
[ "$(sed -E 's/^ *[^ ]+ +REG_SZ +//' <<<"$line")" = "$written" ] ||
  fail "value holds '$line', expected '$written'"

"$run" "$exe" reg-delete || fail "reg-delete failed"
if "$run" reg query "$key" /v "$name" >/dev/null 2>&1; then fail "value still present"; fi
echo "winsvc: all checks passed"
