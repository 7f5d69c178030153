#!/usr/bin/env bash
# Smoke test of tidewell.exe under Wine: runs the driver against the real windows, then turns
# the screenshot it took into <shot>.png.
#   smoke.sh <tw_wine_driver.exe> <tidewell.exe> <shot path without extension>
set -uo pipefail
driver="$1"
exe="$2"
shot="$3"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
rm -f "$shot.bmp" "$shot.png"
# A first start needs a folder without a settings file: the tool writes one beside itself once
# anything connects it, so it runs from a private copy.
folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT
cp "$exe" "$folder/tidewell.exe"
TW_WINE_TIMEOUT=90 "$root/scripts/wine-run.sh" "$driver" "$folder/tidewell.exe" "$shot.bmp"
rc=$?
if [ -f "$shot.bmp" ]; then
  if convert "$shot.bmp" "$shot.png"; then
    rm -f "$shot.bmp"
    echo "screenshot: $shot.png"
  fi
fi
exit "$rc"
