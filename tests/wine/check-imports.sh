#!/usr/bin/env bash
# Checks that a Win32 program is a GUI program whose imports are all Windows system DLLs: the C++
# runtime, libgcc and winpthreads must be linked in statically.
#   check-imports.sh <program.exe> [objdump]
set -euo pipefail
exe="$1"
objdump="${2:-x86_64-w64-mingw32-objdump}"
dump="$("$objdump" -p "$exe")"
if ! grep -q 'Subsystem.*(Windows GUI)' <<<"$dump"; then
  echo "FAIL: $exe is not a Windows GUI program"
  exit 1
fi
system='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|advapi32|crypt32|ws2_32|odbc32|ole32|oleaut32|imm32|version|winmm|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
bad=0
count=0
while read -r dll; do
  count=$((count + 1))
  if [[ "${dll,,}" =~ $system ]]; then
    echo "ok: imports $dll"
  else
    echo "FAIL: imports $dll, which is not a Windows system DLL"
    bad=1
  fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
if [ "$count" -eq 0 ]; then
  echo "FAIL: no imports found in $exe"
  exit 1
fi
exit "$bad"
