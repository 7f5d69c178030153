#!/usr/bin/env bash
# The run command: installs what is needed, cross-builds tidewell.exe and starts it under Wine
# (scripts/wine-env.sh). With a DISPLAY the tool runs there until it ends. Without one it runs in
# Xvfb for a few seconds, build/screenshot.png shows its window, and then it is stopped.
#
# Unless TW_SERVER names a server, the bundled SQL Server simulator answers on 127.0.0.1,14330
# (login sa / Tidewell#1) for as long as the tool runs.
#
# The main window is created hidden and the application shows it; where nothing shows it (the
# application's start-up not being in place) the smoke-test driver shows it from outside.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j 2

exe="$PWD/build/win32/tidewell.exe"
driver="$PWD/build/win32/tests/wine/tw_wine_driver.exe"
shot="$PWD/build/screenshot.png"

[ -z "${DISPLAY:-}" ] && headless=1 || headless=0
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
tw_wine_up

if [ "$headless" -eq 1 ]; then
  # Wine helpers started by the tool outlive it for a while: they get the log, not our output.
  log="$PWD/build/tidewell-run.log"
  tw_wine_cmd wine "$exe" </dev/null >"$log" 2>&1 &
else
  tw_wine_cmd wine "$exe" &
fi
tool=$!
sim=""
if [ -z "${TW_SERVER:-}" ]; then
  python3 tests/simulator/tds_sim.py --fixture tests/simulator/fixtures/default.json \
    --port 14330 --wine-paths >"$PWD/build/simulator-run.log" 2>&1 &
  sim=$!
  echo "SQL Server simulator: server 127.0.0.1,14330, login sa, password Tidewell#1"
fi
trap 'kill "$tool" $sim 2>/dev/null || true' INT TERM EXIT

sleep 2
# Shows the main window if it is still hidden (a no-op once the application shows it itself).
if [ -f "$driver" ] && kill -0 "$tool" 2>/dev/null; then
  tw_wine_cmd timeout 30 wine "$driver" --show </dev/null >/dev/null 2>&1 || true
fi

if [ "$headless" -eq 1 ]; then
  sleep 3
  window="$(xdotool search --onlyvisible --name 'Tidewell' 2>/dev/null | head -n 1 || true)"
  if [ -n "$window" ]; then
    import -display "$DISPLAY" -window "$window" "$shot"
  else
    import -display "$DISPLAY" -window root "$shot"
  fi
  echo "screenshot: $shot"
  kill "$tool" 2>/dev/null || true
  wait "$tool" 2>/dev/null || true
else
  echo "tidewell.exe runs on $DISPLAY; it ends when you exit it from its tray menu"
  wait "$tool" || true
fi
touch "$TW_WINE_STATE/stamp"
