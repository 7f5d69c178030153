#!/usr/bin/env bash
# The run command: installs what is needed, cross-builds tidewell.exe, starts the SQL Server
# simulator with a demo catalogue (or uses the server TW_SERVER names) and starts the tool under
# Wine. With a display the operator works the window until the tool ends; without one the run
# logs in, cleans one database, saves build/screenshot.png and ends by itself. Whatever way the
# run ends (the tool exits, a failure, Ctrl-C), the simulator, the tool, the wineserver and the
# Xvfb it started end with it.
#
# Sourcing the file defines the functions only (the tests call them); running it runs the demo.
set -euo pipefail

TW_RUN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TW_RUN_DIR="$TW_RUN_ROOT/build/run"
TW_RUN_FIXTURE="$TW_RUN_ROOT/tests/simulator/fixtures/demo.json"
# The demo catalogue's login (the fixture must carry it) and the simulator's usual port.
TW_RUN_SIM_LOGIN=sa
TW_RUN_SIM_PASSWORD='Tidewell#1'
TW_RUN_SIM_PORT=14330
TW_RUN_SHOT="$TW_RUN_ROOT/build/screenshot.png"
run_tool_pid=""
run_sim_pid=""
run_wine_taken_down=0
run_unclean=0

# shellcheck source=scripts/wine-env.sh
source "$TW_RUN_ROOT/scripts/wine-env.sh"

run_usage() {
  cat <<'EOF'
usage: bash scripts/run.sh [-h | --help]

Installs the Debian packages the tool needs (scripts/install-deps.sh), cross-builds
tidewell.exe (CMake preset win32), starts the SQL Server simulator with a demo catalogue
(tests/simulator/fixtures/demo.json) on 127.0.0.1,14330 (another free port if that one is
taken) and starts tidewell.exe under Wine from a fresh folder, build/run/tool/, so that it
opens its window. Two lines then say what to type: the server address, the login and the
password.

With a display (DISPLAY set) the window opens there and the run lasts until the tool ends
(its tray icon's menu, 退出). Without one the run uses Xvfb and drives the tool itself: it
logs in, cleans one database, writes a picture of the connected, cleaned window to
build/screenshot.png and ends; it fails (non-zero exit) when the drive fails or the picture
is blank. The simulator, the tool, the wineserver and the Xvfb end with the run, on Ctrl-C
too.

Variables:
  TW_SERVER     address of a real SQL Server (host, host,port or host\instance); then no
                simulator starts and the printed lines and the drive use this server
  TW_LOGIN      login for TW_SERVER (default sa)
  TW_PASSWORD   password for TW_SERVER (required with it; never printed)
  TW_WINE_XVFB  1: drive the tool in Xvfb even when DISPLAY is set
  TW_WINEPREFIX the Wine prefix (default build/run/wineprefix)

With TW_SERVER one login through the driver comes first: when it fails, the run says whether
no server could be reached at that address or the server refused the login, with the driver's
own diagnostics, before the tool shows its own failure.

Files: build/screenshot.png (the picture), build/run/*.log (build, tool, drive, simulator
output and the statements the simulator received), build/run/failed-screenshot.png (the
window when the drive failed).
EOF
}

run_fail() {
  echo "run.sh: $*" >&2
  return 1
}

# Accepts -h/--help (prints the usage and exits 0); anything else is an error (exit 2).
run_parse_args() {
  local arg
  for arg in "$@"; do
    case "$arg" in
      -h | --help)
        run_usage
        exit 0
        ;;
      *)
        echo "run.sh: unknown argument '$arg' (see: bash scripts/run.sh --help)" >&2
        exit 2
        ;;
    esac
  done
}

# Sets run_address (empty until the simulator has its port), run_login, run_password and
# run_simulated from TW_SERVER, TW_LOGIN and TW_PASSWORD.
run_target() {
  if [ -n "${TW_SERVER:-}" ]; then
    run_simulated=0
    run_address=$TW_SERVER
    run_login=${TW_LOGIN:-sa}
    run_password=${TW_PASSWORD:-}
    # The tool refuses an empty password before it tries to log in.
    if [ -z "$run_password" ]; then
      run_fail "TW_SERVER is set but TW_PASSWORD is not: give the password of login" \
        "'$run_login' (TW_PASSWORD=... bash scripts/run.sh)"
      return 1
    fi
    return 0
  fi
  # The simulator knows only its own login: a login meant for a real server would fail there.
  if [ -n "${TW_LOGIN:-}${TW_PASSWORD:-}" ]; then
    run_fail "TW_LOGIN and TW_PASSWORD go with TW_SERVER; the simulator's login is" \
      "$TW_RUN_SIM_LOGIN / $TW_RUN_SIM_PASSWORD"
    return 1
  fi
  run_simulated=1
  run_address=""
  run_login=$TW_RUN_SIM_LOGIN
  run_password=$TW_RUN_SIM_PASSWORD
}

# One login through the driver before the tool starts, to say in plain words why a login fails.
# Succeeds when it worked; otherwise sets run_login_verdict to that reason with the driver's own
# diagnostics. The password travels on stdin, never on a command line.
run_check_login() {
  local out verdict diags
  run_login_verdict=""
  if out=$(printf '%s\n' "$run_password" |
    python3 "$TW_RUN_ROOT/scripts/login-check.py" "$run_address" "$run_login" 2>&1); then
    return 0
  fi
  verdict=${out%%$'\n'*}
  diags=$(printf '%s\n' "$out" | sed 1d | paste -sd ';' - | sed 's/;/; /g')
  case $verdict in
    refused)
      run_login_verdict="the server at $run_address answered but refused the login '$run_login'"
      run_login_verdict+=" (wrong login name or password, a disabled login, or a default database"
      run_login_verdict+=" it cannot open). The driver says: $diags"
      ;;
    unreachable)
      run_login_verdict="no SQL Server could be reached at $run_address: check the address, the"
      run_login_verdict+=" port (host,port) or instance name (host\\instance, with the SQL Server"
      run_login_verdict+=" Browser running), that the server accepts TCP/IP connections and that"
      run_login_verdict+=" no firewall blocks the way. The driver says: $diags"
      ;;
    *) run_login_verdict="the login could not be tried: $out" ;;
  esac
  return 1
}

# The two lines that tell the operator what to type.
run_print_lines() {
  local where shown
  if [ "$run_simulated" -eq 1 ]; then
    where="the SQL Server simulator, demo catalogue"
    shown=$run_password
  else
    where="TW_SERVER"
    if [ -n "$run_password" ]; then shown="(the value of TW_PASSWORD)"; else shown="(empty)"; fi
  fi
  printf 'Server address: %s   (%s)\n' "$run_address" "$where"
  printf 'Login: %s   Password: %s\n' "$run_login" "$shown"
}

# Ends one child of this shell: TERM, then KILL after five seconds.
run_stop_pid() {
  local pid=$1 _
  [ -n "$pid" ] || return 0
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
}

# run_start_simulator <port> <output file>: starts the simulator with the demo catalogue and
# waits until it listens; a taken port gives way to a free one. Sets run_sim_pid, run_sim_port.
run_start_simulator() {
  local want=$1 out=$2 port _
  for port in "$want" 0; do
    : >"$out"
    # Started bare: the simulator must not hold this run's locks or pipes.
    tw__bare python3 "$TW_RUN_ROOT/tests/simulator/tds_sim.py" --fixture "$TW_RUN_FIXTURE" \
      --port "$port" --wine-paths --log "${out%.log}-statements.log" </dev/null >"$out" 2>&1 &
    run_sim_pid=$!
    for _ in $(seq 1 100); do
      run_sim_port=$(awk '$1 == "listening" { print $3; exit }' "$out")
      [ -n "$run_sim_port" ] && return 0
      kill -0 "$run_sim_pid" 2>/dev/null || break
      sleep 0.1
    done
    run_stop_pid "$run_sim_pid"
    run_sim_pid=""
  done
  run_fail "the simulator did not start (see $out)"
}

# run_picture_ok <image>: succeeds when the picture shows something; a blank picture (black,
# white, one flat colour) or an unreadable file fails with the reason on stderr.
run_picture_ok() {
  local stats mean sd
  if ! stats=$(convert "$1" -colorspace Gray -format '%[fx:mean] %[fx:standard_deviation]' \
    info: 2>/dev/null); then
    run_fail "$1 is not a readable picture"
    return 1
  fi
  read -r mean sd <<<"$stats"
  # A window's picture is mostly light with dark text and frames (grey mean about 0.95, standard
  # deviation about 0.14); black, white or one flat colour is no picture of it.
  if ! awk -v m="$mean" -v s="$sd" 'BEGIN { exit !(m > 0.05 && m < 0.995 && s > 0.04) }'; then
    run_fail "$1 is blank (grey mean $mean, standard deviation $sd)"
    return 1
  fi
}

# Starts "$@" under Wine in the background so that $! is the Wine process itself.
run_wine_bg() {
  tw__bare env LOCPATH="$TW_LOCPATH" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$@" &
}

# Ends the Wine session once no other user of the prefix holds it; notes whether it did.
run_wine_down() {
  run_wine_taken_down=0
  [ -d "${TW_WINE_STATE:-}" ] || return 0
  if tw_wine_down; then
    run_wine_taken_down=1
  else
    echo "run.sh: another run still uses $WINEPREFIX; its idle watchdog ends Wine" >&2
  fi
}

# run_leftovers <prefix>: lists the processes other than this shell that carry WINEPREFIX=<prefix>
# in their environment: every Wine process of the prefix, its wineserver, the Xvfb and watchdog
# that wine-env.sh started for it, and the simulator this run started. Reads /proc with builtins
# only, so that no helper process of the check itself turns up.
run_leftovers() {
  local want="WINEPREFIX=$1" dir kv cmd found=1
  for dir in /proc/[0-9]*; do
    case ${dir#/proc/} in "$$" | "$BASHPID") continue ;; esac
    while IFS= read -r -d '' kv; do
      if [ "$kv" = "$want" ]; then
        cmd=""
        IFS= read -r -d '' cmd 2>/dev/null <"$dir/cmdline" || true
        echo "${dir#/proc/} $cmd"
        found=0
        break
      fi
    done 2>/dev/null <"$dir/environ" || true
  done
  return "$found"
}

run_teardown() {
  local _
  trap - INT TERM EXIT
  run_stop_pid "${run_tool_pid:-}"
  run_stop_pid "${run_sim_pid:-}"
  run_wine_down
  rm -f "$TW_RUN_DIR/simulator.pid"
  [ "$run_wine_taken_down" -eq 1 ] || return 0
  # Wine's services end a moment after the wineserver.
  for _ in $(seq 1 30); do
    run_leftovers "$WINEPREFIX" >/dev/null || return 0
    sleep 0.1
  done
  echo "run.sh: still running after the run:" >&2
  run_leftovers "$WINEPREFIX" >&2 || true
  run_unclean=1
}

# A run killed outright leaves its simulator and Wine behind: the next run ends them first.
run_clear_leftovers() {
  local pid
  if [ -f "$TW_RUN_DIR/simulator.pid" ]; then
    pid=$(cat "$TW_RUN_DIR/simulator.pid")
    if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q "tds_sim.py --fixture $TW_RUN_FIXTURE"; then
      kill "$pid" 2>/dev/null || true
    fi
    rm -f "$TW_RUN_DIR/simulator.pid"
  fi
  tw_wine_env
  run_wine_down
}

# run_build <target>...: configures and builds the win32 preset's targets, quietly.
run_build() {
  local log="$TW_RUN_DIR/build.log"
  echo "run.sh: building $* (log: build/run/build.log)"
  if ! { cmake --preset win32 && cmake --build --preset win32 -j 2 --target "$@"; } >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    run_fail "the build failed (see $log)"
    return 1
  fi
}

# Without a display: log in, clean one database, keep the picture of the window.
run_drive() {
  local driver="$TW_RUN_ROOT/build/win32/tests/wine/tw_wine_driver.exe" bmp="$TW_RUN_DIR/screenshot.bmp"
  local log="$TW_RUN_DIR/drive.log" rc=0
  rm -f "$bmp" "$TW_RUN_DIR/failed-screenshot.png"
  echo "run.sh: driving the tool on Xvfb $DISPLAY: login, one cleanup, screenshot"
  run_wine_bg timeout -k 5 180 wine "$driver" --demo "$1" "$bmp" "$run_address" "$run_login" \
    "$run_password" </dev/null >"$log" 2>&1
  run_tool_pid=$!
  wait "$run_tool_pid" || rc=$?
  run_tool_pid=""
  if [ "$rc" -ne 0 ]; then
    tail -n 20 "$log" >&2
    local shot=""
    if [ -f "$bmp" ] && convert "$bmp" "$TW_RUN_DIR/failed-screenshot.png" 2>/dev/null; then
      shot="; the window at the failure: $TW_RUN_DIR/failed-screenshot.png"
    fi
    run_fail "the drive failed with exit code $rc (see $log$shot)" || true
    [ -z "${run_login_verdict:-}" ] || run_fail "$run_login_verdict" || true
    return 1
  fi
  [ -f "$bmp" ] || run_fail "the drive wrote no picture" || return 1
  convert "$bmp" "$TW_RUN_DIR/screenshot.png" || run_fail "cannot convert $bmp" || return 1
  run_picture_ok "$TW_RUN_DIR/screenshot.png" || return 1
  mv -f "$TW_RUN_DIR/screenshot.png" "$TW_RUN_SHOT"
  echo "screenshot: build/screenshot.png"
}

run_main() {
  local headless=0 exe lock rc
  run_parse_args "$@"
  run_target
  if [ -z "${DISPLAY:-}" ] || [ -n "${TW_WINE_XVFB:-}" ]; then headless=1; fi
  export TW_WINEPREFIX="${TW_WINEPREFIX:-$TW_RUN_DIR/wineprefix}"
  mkdir -p "$TW_RUN_DIR"
  exec {lock}>>"$TW_RUN_DIR/run.lock"
  flock -n "$lock" || run_fail "another run.sh is running" || return 1
  rm -f "$TW_RUN_SHOT"
  trap 'run_teardown' EXIT
  trap 'run_teardown; exit 130' INT
  trap 'run_teardown; exit 143' TERM
  run_clear_leftovers

  bash "$TW_RUN_ROOT/scripts/install-deps.sh"
  # A login that cannot work is said at once; the tool still starts so that its own failure shows.
  if [ "$run_simulated" -eq 0 ] && ! run_check_login; then
    echo "run.sh: $run_login_verdict" >&2
  fi
  if [ "$headless" -eq 0 ] && ! xdpyinfo >/dev/null 2>&1; then
    run_fail "cannot open the display $DISPLAY (unset DISPLAY to run in Xvfb)"
    return 1
  fi
  # Only the drive needs the driver program.
  if [ "$headless" -eq 1 ]; then run_build tidewell tw_wine_driver; else run_build tidewell; fi
  # A fresh folder without a settings file: the tool opens its window instead of waiting in the
  # notification area.
  rm -rf "$TW_RUN_DIR/tool"
  mkdir -p "$TW_RUN_DIR/tool"
  exe="$TW_RUN_DIR/tool/tidewell.exe"
  cp "$TW_RUN_ROOT/build/win32/tidewell.exe" "$exe"

  [ "$headless" -eq 0 ] || export TW_WINE_XVFB=1
  tw_wine_up || run_fail "Wine did not come up" || return 1
  if [ "$run_simulated" -eq 1 ]; then
    run_start_simulator "$TW_RUN_SIM_PORT" "$TW_RUN_DIR/simulator.log"
    echo "$run_sim_pid" >"$TW_RUN_DIR/simulator.pid"
    run_address="127.0.0.1,$run_sim_port"
  fi
  run_print_lines

  if [ "$headless" -eq 1 ]; then
    run_drive "$exe"
  else
    echo "run.sh: tidewell.exe runs on $DISPLAY; the run ends when the tool ends (tray menu, 退出)"
    run_wine_bg wine "$exe" </dev/null >"$TW_RUN_DIR/tool.log" 2>&1
    run_tool_pid=$!
    rc=0
    wait "$run_tool_pid" || rc=$?
    run_tool_pid=""
    [ "$rc" -eq 0 ] || run_fail "tidewell.exe ended with exit code $rc (see build/run/tool.log)" ||
      return 1
  fi
  run_teardown
  [ "$run_unclean" -eq 0 ] || run_fail "the run left processes behind" || return 1
  echo "run.sh: done in ${SECONDS} s"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  run_main "$@"
fi
