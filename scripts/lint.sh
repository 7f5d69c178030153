#!/usr/bin/env bash
# Style and static checks: clang-format on every tracked C++ file, then clang-tidy (.clang-tidy)
# over the native build's compile database. Exits non-zero on any finding.
#   --format  clang-format only (a second; ctest runs it as the test clang_format)
#   --win32   also checks the Win32-only sources (platform/win32, the Wine test programs) through
#             the win32 build's compile database, with clang reading the mingw-w64 headers.
# A full native clang-tidy run takes about two minutes on two cores; the Win32 part as long again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=2
mode=${1:-}

status=0
echo "clang-format"
# A listing that fails (no git checkout) fails the check rather than checking nothing.
list=$(git ls-files '*.cpp' '*.h')
[ -n "$list" ]
mapfile -t files <<<"$list"
clang-format --dry-run --Werror "${files[@]}" || status=1
if [ "$mode" = "--format" ]; then
  exit "$status"
fi

# Keeps only the findings: clang-tidy also reports how many warnings it suppressed in headers.
tidy() {
  local out rc=0
  out=$(run-clang-tidy -quiet -j "$jobs" "$@" 2>&1) || rc=$?
  grep -v -e ' warnings* generated\.$' -e '^clang-tidy-*[0-9]* ' -e '^Suppressed ' \
    -e '^Use -header-filter' <<<"$out" || true
  return "$rc"
}

echo "clang-tidy (native)"
[ -f build/native/compile_commands.json ] || cmake --preset native >/dev/null
# The build's GCC-only flags (-Wno-restrict) are unknown to clang and must not fail it.
tidy -p build/native -extra-arg=-Wno-unknown-warning-option "^$root/(app|runtime|ui|platform/posix|platform/headless|tests)/.*\.cpp$" ||
  status=1

if [ "$mode" = "--win32" ]; then
  echo "clang-tidy (win32)"
  [ -f build/win32/compile_commands.json ] || cmake --preset win32 >/dev/null
  # clang does not find the libstdc++ of Debian's mingw-w64 by itself (its folder is "12-posix").
  cxx=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++ | sort -V | tail -n 1)
  tidy -p build/win32 -extra-arg=--target=x86_64-w64-mingw32 -extra-arg=-Wno-unknown-warning-option \
    -extra-arg="-isystem$cxx" \
    -extra-arg="-isystem$cxx/x86_64-w64-mingw32" -extra-arg="-isystem$cxx/backward" \
    "^$root/(platform/win32|tests/wine|tests/winodbc|tests/winsvc)/.*\.cpp$" || status=1
fi

[ "$status" -eq 0 ] && echo "lint: clean" || echo "lint: findings above"
exit "$status"
