#!/usr/bin/env bash
# Smoke test of the package under Wine: unpacks the zip a Windows user gets, checks that it holds
# the exe, the read-me and the licence as Windows text, then runs the driver against the real
# windows of the exe started from the unpacked folder and turns its screenshot into <shot>.png.
#   smoke.sh <tw_wine_driver.exe> <tidewell-*.zip> <shot path without extension>
set -uo pipefail
driver="$1"
zip="$2"
shot="$3"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
rm -f "$shot.bmp" "$shot.png"
# A first start needs a folder without a settings file, and the tool writes its files beside
# itself: the package is unpacked afresh.
folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT
(cd "$folder" && cmake -E tar xf "$zip") || { echo "FAIL: cannot unpack $zip"; exit 1; }
tool="$folder/Tidewell"
bad=0
for f in tidewell.exe README.txt LICENSE.txt; do
  [ -s "$tool/$f" ] || { echo "FAIL: the package has no $f"; bad=1; }
done
for f in README.txt LICENSE.txt; do
  # Notepad wants CRLF: every line ends so, the last one too.
  [ -s "$tool/$f" ] || continue
  if [ "$(tr -cd '\n' <"$tool/$f" | wc -c)" -ne "$(grep -c $'\r$' "$tool/$f")" ]; then
    echo "FAIL: $f has lines without CRLF"
    bad=1
  fi
done
if [ -s "$tool/README.txt" ]; then
  for word in $'\xef\xbb\xbf' 连接 "SQL Server" 密码密文 退出 "log-backup chain"; do
    grep -qF -- "$word" "$tool/README.txt" || { echo "FAIL: README.txt lacks \"$word\""; bad=1; }
  done
fi
[ "$bad" -eq 0 ] || exit 1
TW_WINE_TIMEOUT=90 "$root/scripts/wine-run.sh" "$driver" "$tool/tidewell.exe" "$shot.bmp"
rc=$?
if [ -f "$shot.bmp" ]; then
  if convert "$shot.bmp" "$shot.png"; then
    rm -f "$shot.bmp"
    echo "screenshot: $shot.png"
  fi
fi
exit "$rc"
