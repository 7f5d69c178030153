#!/usr/bin/env bash
# The project's private Wine: sourced by wine-run.sh and run.sh. Gives one prefix per build tree
# (build/wineprefix, or $TW_WINEPREFIX), created once with unmanaged windows and Wine's own fonts,
# a zh_CN.UTF-8 locale (code page 936) built into a private directory, an Xvfb display when there
# is none, a persistent wineserver, and a watchdog that ends the wineserver and the Xvfb once no
# run has used them for a while. Concurrent runs share everything: set-up happens under an
# exclusive lock, and each run holds a shared lock so the watchdog never pulls anything from
# under it.
#
#   tw_wine_env   exports the variables only
#   tw_wine_up    makes everything ready and takes the run's shared lock (held until the shell
#                 ends); DISPLAY is exported
#   tw_wine_cmd   runs a command (wine, wineserver, ...) in the Wine environment, without
#                 inherited descriptors, so that long-lived Wine processes never hold the locks
#   tw_wine_down  gives up the run's lock and ends the whole session now (every Wine process of
#                 the prefix, the wineserver, the watchdog and the Xvfb), unless another run
#                 still holds it: then it returns 1 and the watchdog ends it later
#
# Tunables: TW_WINEPREFIX, TW_WINE_XVFB=1 (use Xvfb even when DISPLAY is set), TW_WINE_IDLE
# (seconds without runs before the watchdog ends Wine and Xvfb, default 60).

TW_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TW_USERS_FD=""
TW_INIT_FD=""

tw_wine_env() {
  export WINEPREFIX="${TW_WINEPREFIX:-$TW_ROOT/build/wineprefix}"
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  TW_WINE_STATE="$WINEPREFIX.state"
  TW_LOCPATH="$TW_WINE_STATE/locale"
  if [ -f "$TW_ROOT/tests/simulator/odbc-env.sh" ]; then
    # Written for plain sh: sourced without the caller's nounset.
    local nounset=0
    case $- in *u*) nounset=1 ;; esac
    set +u
    # shellcheck source=/dev/null
    source "$TW_ROOT/tests/simulator/odbc-env.sh" || echo "wine-env: no ODBC environment" >&2
    if [ "$nounset" -eq 1 ]; then set -u; fi
  fi
}

# Runs "$@" with no descriptors beyond 0-2 (and $TW_KEEP_FD): long-lived Wine helpers and
# daemons must not hold the locks, nor pipes of whoever started the run. Replaces the shell, so
# call it in a subshell.
tw__bare() {
  local f n
  for f in /proc/$BASHPID/fd/*; do
    n="${f##*/}"
    if [ "$n" -gt 2 ] && [ "$n" != "${TW_KEEP_FD:-}" ]; then eval "exec $n>&-" 2>/dev/null; fi
  done
  exec "$@"
}

# Runs a command (wine, wineserver, ...) with the Chinese locale and no inherited descriptors.
tw_wine_cmd() {
  (tw__bare env LOCPATH="$TW_LOCPATH" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$@")
}

tw__alive() { [ -f "$1" ] && kill -0 "$(cat "$1" 2>/dev/null)" 2>/dev/null; }

tw__locale() {
  [ -f "$TW_LOCPATH/zh_CN.UTF-8/LC_CTYPE" ] && return 0
  mkdir -p "$TW_LOCPATH"
  # localedef warns about the zh_CN sources and exits 1 while still writing a usable locale.
  localedef -i zh_CN -f UTF-8 "$TW_LOCPATH/zh_CN.UTF-8" >"$TW_WINE_STATE/localedef.log" 2>&1 || true
  if [ ! -f "$TW_LOCPATH/zh_CN.UTF-8/LC_CTYPE" ]; then
    echo "wine-env: could not build the zh_CN.UTF-8 locale (see $TW_WINE_STATE/localedef.log)" >&2
    return 1
  fi
}

tw__display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${TW_WINE_XVFB:-}" ]; then return 0; fi
  local pidf="$TW_WINE_STATE/xvfb.pid" dispf="$TW_WINE_STATE/xvfb.display"
  if tw__alive "$pidf" && [ -s "$dispf" ]; then
    export DISPLAY=":$(cat "$dispf")"
    return 0
  fi
  if [ -f "$dispf" ]; then
    # The display went away under a running wineserver: start both afresh.
    tw_wine_cmd wineserver -k >/dev/null 2>&1 || true
  fi
  rm -f "$pidf" "$dispf"
  local ready="$TW_WINE_STATE/xvfb.ready"
  : >"$ready"
  # -displayfd picks a free display number and writes it once the server accepts clients.
  (TW_KEEP_FD=9 tw__bare setsid Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp -noreset) \
    </dev/null >"$TW_WINE_STATE/xvfb.log" 2>&1 9>"$ready" &
  echo $! >"$pidf"
  local i
  for i in $(seq 1 100); do
    [ -s "$ready" ] && break
    kill -0 "$(cat "$pidf")" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$ready" ]; then
    echo "wine-env: Xvfb did not start (see $TW_WINE_STATE/xvfb.log)" >&2
    kill "$(cat "$pidf")" 2>/dev/null || true
    rm -f "$pidf"
    return 1
  fi
  tr -dc '0-9' <"$ready" >"$dispf"
  export DISPLAY=":$(cat "$dispf")"
}

tw__prefix() {
  mkdir -p "$WINEPREFIX"
  # A wineserver that outlives each program keeps later starts fast; if one already runs for the
  # prefix this returns at once.
  tw_wine_cmd wineserver -p </dev/null >/dev/null 2>&1 || true
  [ -f "$WINEPREFIX/.tw-ready" ] && return 0
  echo "wine-env: creating the Wine prefix $WINEPREFIX (once)" >&2
  if ! tw_wine_cmd timeout 300 wine wineboot -i </dev/null >"$TW_WINE_STATE/wineboot.log" 2>&1; then
    echo "wine-env: wineboot failed (see $TW_WINE_STATE/wineboot.log)" >&2
    return 1
  fi
  # Without a window manager, managed windows make every hide and destroy wait two seconds.
  tw_wine_cmd wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    </dev/null >>"$TW_WINE_STATE/wineboot.log" 2>&1 || true
  # Debian's Wine does not find its own fonts (Tahoma, the title-bar glyphs) by itself.
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -f /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  touch "$WINEPREFIX/.tw-ready"
}

tw__watchdog() {
  local pidf="$TW_WINE_STATE/watchdog.pid"
  tw__alive "$pidf" && return 0
  (tw__bare setsid bash "$TW_ROOT/scripts/wine-env.sh" --watchdog) </dev/null >/dev/null 2>&1 &
  echo $! >"$pidf"
}

tw_wine_up() {
  tw_wine_env
  mkdir -p "$TW_WINE_STATE" || return 1
  exec {TW_USERS_FD}>>"$TW_WINE_STATE/users.lock"
  flock -s -w 120 "$TW_USERS_FD" || { echo "wine-env: users lock timed out" >&2; return 1; }
  touch "$TW_WINE_STATE/stamp"
  exec {TW_INIT_FD}>>"$TW_WINE_STATE/init.lock"
  if ! flock -x -w 400 "$TW_INIT_FD"; then
    echo "wine-env: set-up lock timed out" >&2
    return 1
  fi
  local ok=0
  tw__locale && tw__display && tw__prefix && tw__watchdog || ok=1
  exec {TW_INIT_FD}>&-
  TW_INIT_FD=""
  return $ok
}

# tw__end_session <daemon>...: ends the wineserver and every Wine process of the prefix, then the
# named daemons of the session (xvfb, watchdog), each with the process group it leads, and
# forgets them. The caller holds the exclusive users lock.
tw__end_session() {
  local name pidf pid stat group
  tw_wine_cmd timeout 20 wineserver -k </dev/null >/dev/null 2>&1 || true
  tw_wine_cmd timeout 20 wineserver -w </dev/null >/dev/null 2>&1 || true
  for name in "$@"; do
    pidf="$TW_WINE_STATE/$name.pid"
    [ -f "$pidf" ] || continue
    pid=$(cat "$pidf")
    rm -f "$pidf"
    # Both run in sessions of their own (the group also holds the watchdog's sleep); the group
    # is the third field after the command name in /proc/PID/stat.
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) || continue
    read -r _ _ group _ <<<"${stat##*) }"
    if [ "$group" = "$pid" ]; then
      kill -- "-$pid" 2>/dev/null || true
    else
      kill "$pid" 2>/dev/null || true
    fi
    # Started by this shell when this run brought them up: reaped here, not left as zombies.
    wait "$pid" 2>/dev/null || true
  done
  rm -f "$TW_WINE_STATE/xvfb.display"
}

tw_wine_down() {
  local fd
  [ -d "${TW_WINE_STATE:-}" ] || return 0
  if [ -n "${TW_USERS_FD:-}" ]; then
    exec {TW_USERS_FD}>&-
    TW_USERS_FD=""
  fi
  exec {fd}>>"$TW_WINE_STATE/users.lock"
  # The watchdog holds this lock for a moment every few seconds; another run holds it shared.
  if ! flock -x -w 8 "$fd"; then
    exec {fd}>&-
    return 1
  fi
  tw__end_session watchdog xvfb
  exec {fd}>&-
}

# The watchdog: ends the wineserver (and the Xvfb it started) once no run holds the shared
# lock and none has started or ended for TW_WINE_IDLE seconds.
tw__watch() {
  tw_wine_env
  local idle="${TW_WINE_IDLE:-60}" fd now last
  while sleep 5; do
    exec {fd}>>"$TW_WINE_STATE/users.lock"
    if flock -n -x "$fd"; then
      now=$(date +%s)
      last=$(stat -c %Y "$TW_WINE_STATE/stamp" 2>/dev/null || echo 0)
      if [ $((now - last)) -ge "$idle" ]; then
        tw__end_session xvfb
        rm -f "$TW_WINE_STATE/watchdog.pid"
        exit 0
      fi
    fi
    exec {fd}>&-
  done
}

if [ "${BASH_SOURCE[0]}" = "$0" ] && [ "${1:-}" = "--watchdog" ]; then
  tw__watch
fi
