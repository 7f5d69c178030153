#!/usr/bin/env bash
# Checks of the run command (scripts/run.sh) that need neither a build nor Wine: its arguments
# and usage, the server and login it announces, the demo catalogue it serves, the check that
# refuses a blank screenshot, the simulator's start (including a taken port) and stop, the scan
# for processes a run left behind, the login check that says why a login fails (a missing
# password, a port nothing listens on, a refused login), and shellcheck.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
run="$root/scripts/run.sh"
tmp="$(mktemp -d)"
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# --- Arguments. Stand-ins on PATH record any call: help and refusals install and build nothing.
mkdir -p "$tmp/bin"
for tool in apt-get sudo dpkg-query cmake wine wineserver Xvfb python3 convert flock; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n' "$tool" "$tmp" >"$tmp/bin/$tool"
  chmod +x "$tmp/bin/$tool"
done
plain() { env -u TW_SERVER -u TW_LOGIN -u TW_PASSWORD PATH="$tmp/bin:$PATH" bash "$run" "$@"; }

for opt in --help -h; do
  rc=0
  plain "$opt" >"$tmp/out" 2>"$tmp/err" || rc=$?
  [ "$rc" -eq 0 ] || fail "$opt exits $rc"
  for word in usage: TW_SERVER TW_LOGIN TW_PASSWORD DISPLAY Xvfb build/screenshot.png \
    demo.json install-deps.sh; do
    grep -qF -- "$word" "$tmp/out" || fail "$opt does not mention $word"
  done
  [ ! -s "$tmp/err" ] || fail "$opt writes to stderr: $(cat "$tmp/err")"
done

for args in "--bogus" "extra" "--bogus --help" "-h2"; do
  rc=0
  # shellcheck disable=SC2086  # each case is a list of words
  plain $args >"$tmp/out" 2>"$tmp/err" || rc=$?
  [ "$rc" -eq 2 ] || fail "'$args' exits $rc, not 2"
  grep -qF -- "unknown argument '${args%% *}'" "$tmp/err" || fail "'$args': no reason on stderr"
  [ ! -s "$tmp/out" ] || fail "'$args' prints the usage to stdout"
done
# TW_SERVER without TW_PASSWORD: the tool would refuse the empty password, so the run stops first.
rc=0
env -u TW_PASSWORD TW_SERVER=127.0.0.1,1433 PATH="$tmp/bin:$PATH" bash "$run" >"$tmp/out" \
  2>"$tmp/err" || rc=$?
[ "$rc" -eq 1 ] || fail "TW_SERVER without TW_PASSWORD exits $rc, not 1"
grep -qF "TW_PASSWORD is not" "$tmp/err" ||
  fail "no reason for the missing TW_PASSWORD: $(cat "$tmp/err")"
[ ! -f "$tmp/calls" ] || fail "help or a refused argument ran: $(cat "$tmp/calls")"

# --- The server, login and password announced and used.
# shellcheck source=scripts/run.sh
source "$run"

# A scenario runs in a subshell of its own (its variables stay there); it fails when one of its
# checks failed or a command in it failed.
scenario() {
  local name=$1
  shift
  if ! (
    start=$failures
    "$@"
    [ "$failures" -eq "$start" ]
  ); then
    echo "FAIL: scenario: $name"
    failures=$((failures + 1))
  fi
}

simulator_target() {
  unset TW_SERVER TW_LOGIN TW_PASSWORD
  run_target
  run_address="127.0.0.1,14999"
  [ "$run_simulated" -eq 1 ] || fail "without TW_SERVER the simulator is not used"
  run_print_lines >"$tmp/lines"
  [ "$(wc -l <"$tmp/lines")" -eq 2 ] || fail "the simulator's lines: $(cat "$tmp/lines")"
  grep -qF "127.0.0.1,14999" "$tmp/lines" || fail "the simulator's address is not printed"
  grep -qF "Login: $TW_RUN_SIM_LOGIN " "$tmp/lines" || fail "the simulator's login is not printed"
  grep -qF "Password: $TW_RUN_SIM_PASSWORD" "$tmp/lines" || fail "its password is not printed"
}

server_target() {
  export TW_SERVER='db01\SQL2019' TW_LOGIN=ops TW_PASSWORD='s3cr;et'
  run_target
  [ "$run_simulated" -eq 0 ] || fail "TW_SERVER still starts the simulator"
  [ "$run_address|$run_login|$run_password" = 'db01\SQL2019|ops|s3cr;et' ] ||
    fail "TW_SERVER's values do not reach the drive: $run_address|$run_login|$run_password"
  run_print_lines >"$tmp/lines"
  [ "$(wc -l <"$tmp/lines")" -eq 2 ] || fail "TW_SERVER's lines: $(cat "$tmp/lines")"
  grep -qF 'db01\SQL2019' "$tmp/lines" || fail "TW_SERVER is not printed"
  grep -qF "Login: ops " "$tmp/lines" || fail "TW_LOGIN is not printed"
  ! grep -qF 's3cr;et' "$tmp/lines" || fail "TW_PASSWORD is printed"
}

server_defaults() {
  unset TW_LOGIN
  export TW_SERVER=10.0.0.5,1433 TW_PASSWORD=pw
  run_target
  [ "$run_login" = sa ] || fail "TW_SERVER's default login: $run_login"
}

scenario "the simulator's target" simulator_target
scenario "TW_SERVER's target" server_target
scenario "TW_SERVER's default login" server_defaults

for var in TW_LOGIN TW_PASSWORD; do
  if (unset TW_SERVER TW_LOGIN TW_PASSWORD && export "$var=x" && run_target 2>/dev/null); then
    fail "$var without TW_SERVER is accepted and would not reach the simulator"
  fi
done

# --- The demo catalogue: the announced login works there, and it has what the demo shows.
python3 - "$root" "$TW_RUN_FIXTURE" "$TW_RUN_SIM_LOGIN" "$TW_RUN_SIM_PASSWORD" <<'EOF' ||
import sys
sys.path.insert(0, sys.argv[1] + "/tests/simulator")
from tdssim.catalog import Catalog
cat = Catalog.from_file(sys.argv[2])
login = cat.find_login(sys.argv[3])
problems = []
if login is None or login.password != sys.argv[4] or not login.can_alter:
    problems.append("the announced login cannot log in and clean")
user = [d for d in cat.databases if d.id > 4]
if any(d.state != "online" or d.read_only for d in user):
    problems.append("a demo database cannot be cleaned")
if not any(d.recovery == "SIMPLE" for d in user):
    problems.append("no database in SIMPLE recovery")
if not any(f.name != d.name + "_log" for d in user for f in d.log_files()):
    problems.append("no log with a logical name of its own")
if sum(1 for d in user for f in d.log_files() if f.size >= 131072 and f.active < f.size // 4) < 3:
    problems.append("fewer than three large logs that a cleanup shrinks")
print("\n".join(problems))
sys.exit(1 if problems else 0)
EOF
  fail "the demo catalogue"
# The simulator's own help names the catalogue and login the run command announces.
python3 "$root/tests/simulator/tds_sim.py" --help >"$tmp/simhelp"
for word in "fixtures/${TW_RUN_FIXTURE##*/}" "$TW_RUN_SIM_PASSWORD" --fixture --port --log; do
  grep -qF -- "$word" "$tmp/simhelp" || fail "the simulator's --help does not mention $word"
done

# --- Blank pictures are refused, a window's picture is not.
picture() { convert -size 320x200 "$@" "$tmp/p.png"; }
for flat in xc:black xc:white xc:gray70 xc:'#2060c0'; do
  picture "$flat"
  ! run_picture_ok "$tmp/p.png" 2>/dev/null || fail "a flat $flat picture passes"
done
# A black screen with a small lit corner: mostly nothing.
picture xc:black -fill white -draw 'rectangle 0,0 40,20'
! run_picture_ok "$tmp/p.png" 2>/dev/null || fail "a black picture with a lit corner passes"
picture xc:'#f0f0f0' -fill '#3090f0' -draw 'rectangle 0,0 319,18' -fill white \
  -draw 'rectangle 160,30 310,190' -fill black -draw 'rectangle 10,40 120,44' \
  -draw 'rectangle 10,60 100,64' -draw 'rectangle 170,40 300,43' -draw 'rectangle 170,60 280,63'
run_picture_ok "$tmp/p.png" || fail "a window's picture is refused"
echo "not a picture" >"$tmp/p.png"
! run_picture_ok "$tmp/p.png" 2>/dev/null || fail "a text file passes as a picture"

# --- The simulator: listens, gives way on a taken port, and ends.
# login_check <address> <password> <expected words>: the driver's login before the tool starts
# fails with a verdict naming the cause and carrying the driver's diagnostics, never the password.
login_check() {
  run_address=$1 run_login=$TW_RUN_SIM_LOGIN run_password=$2
  if run_check_login; then
    fail "the login check passes a login to $1 with '$2'"
    return 0
  fi
  [[ $run_login_verdict == *"$3"*"The driver says: ["* ]] ||
    fail "the verdict on $1 with '$2' does not say \"$3\": $run_login_verdict"
  [[ $run_login_verdict != *"$2"* ]] || fail "the verdict shows the password: $run_login_verdict"
}
# The driver registered as "SQL Server" (the file is written for plain sh).
set +u
# shellcheck source=tests/simulator/odbc-env.sh
source "$root/tests/simulator/odbc-env.sh"
set -u

listening() { python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 2)' "$1" 2>/dev/null; }
if run_start_simulator 0 "$tmp/sim1.log"; then
  pid1=$run_sim_pid port1=$run_sim_port
  pids+=("$pid1")
  listening "$port1" || fail "the simulator does not listen on $port1"
  if run_start_simulator "$port1" "$tmp/sim2.log"; then
    pid2=$run_sim_pid port2=$run_sim_port
    pids+=("$pid2")
    [ "$port2" != "$port1" ] || fail "a second simulator reports the taken port $port1"
    listening "$port2" || fail "the simulator on a free port does not listen on $port2"
    run_stop_pid "$pid2"
    ! kill -0 "$pid2" 2>/dev/null || fail "the second simulator still runs after its stop"
  else
    fail "a taken port stops the simulator from starting"
  fi
  run_address="127.0.0.1,$port1" run_login=$TW_RUN_SIM_LOGIN run_password=$TW_RUN_SIM_PASSWORD
  run_check_login || fail "the login check refuses the demo login: $run_login_verdict"
  login_check "127.0.0.1,$port1" 'not;the}password' "answered but refused the login 'sa'"
  run_stop_pid "$pid1"
  ! kill -0 "$pid1" 2>/dev/null || fail "the simulator still runs after its stop"
  ! listening "$port1" || fail "port $port1 still answers after the stop"
  login_check "127.0.0.1,$port1" "$TW_RUN_SIM_PASSWORD" "no SQL Server could be reached at"
  [ -f "$tmp/sim1-statements.log" ] || fail "the simulator keeps no statement log"
else
  fail "the simulator does not start: $(cat "$tmp/sim1.log")"
fi

# execed <pid>: waits until the background subshell <pid> has become its program.
execed() {
  local _ cmd
  for _ in $(seq 1 50); do
    cmd=""
    IFS= read -r -d '' cmd 2>/dev/null <"/proc/$1/cmdline" || true
    [ "$cmd" = sleep ] && return 0
    sleep 0.1
  done
  fail "process $1 did not start"
  return 1
}
# running <pid>: the process exists and is not a zombie.
running() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

# --- The scan for what a run left behind finds the prefix's processes, and only those.
(WINEPREFIX="$tmp/prefix" exec sleep 60) &
mine=$!
(WINEPREFIX="$tmp/prefix-other" exec sleep 60) &
other=$!
pids+=("$mine" "$other")
execed "$mine"
execed "$other"
if run_leftovers "$tmp/prefix" >"$tmp/left"; then
  grep -q "^$mine sleep" "$tmp/left" || fail "the scan misses $mine: $(cat "$tmp/left")"
  ! grep -q "^$other " "$tmp/left" || fail "the scan lists another prefix's process"
else
  fail "the scan finds nothing while $mine runs"
fi
# A shell started with the prefix in its environment does not list itself.
WINEPREFIX="$tmp/prefix" bash -c 'echo "self $$"; source "$1"; run_leftovers "$2" || true' _ \
  "$run" "$tmp/prefix" >"$tmp/self"
self=$(awk '$1 == "self" { print $2 }' "$tmp/self")
grep -q "^$mine sleep" "$tmp/self" || fail "the scan from a shell of the prefix misses $mine"
! grep -q "^$self " "$tmp/self" || fail "the scan lists the shell that runs it"
kill "$mine" "$other"
wait "$mine" "$other" 2>/dev/null || true
! run_leftovers "$tmp/prefix" >/dev/null || fail "the scan still finds a process after its end"

# --- A child that ignores TERM is still ended.
(
  trap '' TERM
  exec sleep 30
) &
stubborn=$!
pids+=("$stubborn")
execed "$stubborn"
began=$SECONDS
run_stop_pid "$stubborn"
! running "$stubborn" || fail "a child that ignores TERM outlives its stop"
[ $((SECONDS - began)) -lt 20 ] || fail "the stop waited for a child that ignores TERM to end"

# --- Static check of both scripts.
if command -v shellcheck >/dev/null; then
  (cd "$root" && shellcheck -x scripts/run.sh tests/run/run_command_test.sh) ||
    fail "shellcheck findings"
else
  fail "shellcheck is not installed (scripts/install-deps.sh installs it)"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "run command: all checks passed"
