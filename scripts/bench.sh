#!/usr/bin/env bash
# Benchmarks of the whole tool, each figure measured side by side in one run (never part of the
# tests): the listing of 1000 databases against the bare driver natively and under Wine, a single
# and a batch cleanup against the bare driver, the CPU of the idle unattended tool natively and
# under Wine, resident size, and tidewell.exe's size and imports. Takes about five minutes.
#   scripts/bench.sh            everything
#   TW_BENCH_IDLE=10 scripts/bench.sh   shorter idle measurements (seconds, default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
idle="${TW_BENCH_IDLE:-60}"

bash scripts/install-deps.sh
# A Release build of the native program of its own, and the Win32 preset.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build build/release --target tw_tool_bench -j 2 >/dev/null
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target tidewell tw_wine_bench -j 2 >/dev/null
native="$root/build/release/tests/bench/tw_tool_bench"
exe="$root/build/win32/tidewell.exe"

work="$(mktemp -d "${TMPDIR:-/tmp}/tw-bench.XXXXXX")"
sim=""
tool=""
cleanup() {
  if [ -n "$tool" ]; then kill "$tool" 2>/dev/null || true; fi
  if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== machine"
echo "$(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)," \
  "$(. /etc/os-release && echo "$PRETTY_NAME"), $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "wine $(wine --version 2>/dev/null || echo '?'), FreeTDS $(dpkg-query -W -f='${Version}' tdsodbc)," \
  "unixODBC $(dpkg-query -W -f='${Version}' unixodbc)"

echo "== 1. listing, native"
"$native" listing 1000 3
echo "== 2. cleanup, native"
"$native" cleanup 100 3
echo "== 4. memory, native"
"$native" memory 1000
echo "== 3. idle, native"
"$native" idle "$idle"

# ---- Under Wine: a prefix of the benchmark's own, so that no other run's tidewell.exe counts as
# a second copy; made once from the tests' prefix when there is one.
export TW_WINEPREFIX="$root/build/bench-wineprefix"
if [ ! -f "$TW_WINEPREFIX/.tw-ready" ] && [ -f "$root/build/wineprefix/.tw-ready" ]; then
  cp -a "$root/build/wineprefix" "$TW_WINEPREFIX"
fi
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
tw_wine_up

# The simulator with N user databases on a free port; sets $sim and $port.
start_simulator() {
  python3 - "$1" >"$work/fixture.json" <<'PY'
import json, sys
n = int(sys.argv[1])
print(json.dumps({"logins": [{"name": "sa", "password": "Tidewell#1"}],
                  "databases": [{"name": "db%d" % i} for i in range(n)]}))
PY
  : >"$work/sim.out"
  python3 tests/simulator/tds_sim.py --fixture "$work/fixture.json" --port 0 \
    --log "$work/sim.log" >"$work/sim.out" 2>&1 &
  sim=$!
  port=""
  for _ in $(seq 1 100); do
    port="$(sed -n 's/^listening [0-9.]* \([0-9]*\)$/\1/p' "$work/sim.out")"
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "the simulator did not start" >&2; cat "$work/sim.out" >&2; exit 1; }
}
stop_simulator() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  sim=""
}

echo "== 1. listing, under Wine"
start_simulator 1000
mkdir -p "$work/listing"
cp "$root/build/win32/tests/bench/tw_wine_bench.exe" "$work/listing/"
TW_WINE_TIMEOUT=300 scripts/wine-run.sh "$work/listing/tw_wine_bench.exe" "$port" 3

# ---- The hidden, connected, unattended tidewell.exe: CPU of its own process from /proc.
echo "== 3. idle, tidewell.exe under Wine"
mkdir -p "$work/idle"
cp "$exe" "$work/idle/"
printf '[配置]\r\nip=127.0.0.1,%s\r\n用户名=sa\r\n密码=Tidewell#1\r\n是否挂机=是\r\n' "$port" |
  iconv -f UTF-8 -t GBK >"$work/idle/配置文件.ini"
logins_before="$(grep -c '"kind": "login"' "$work/sim.log" || true)"
tw_wine_cmd wine "$work/idle/tidewell.exe" </dev/null >"$work/idle.out" 2>&1 &
tool=$!
# The Unix process of tidewell.exe: the one whose command line names it in our folder.
find_tool() {
  local p
  for p in /proc/[0-9]*; do
    if tr '\0' ' ' <"$p/cmdline" 2>/dev/null | grep -q 'idle.tidewell\.exe'; then
      [ "$(cat "$p/comm" 2>/dev/null)" = "tidewell.exe" ] && { echo "${p#/proc/}"; return 0; }
    fi
  done
  return 1
}
pid=""
for _ in $(seq 1 200); do
  pid="$(find_tool || true)"
  [ -n "$pid" ] && break
  sleep 0.1
done
[ -n "$pid" ] || { echo "tidewell.exe did not start" >&2; exit 1; }
# Connected: the listing's four logins have reached the server and the process has settled.
for _ in $(seq 1 300); do
  now="$(grep -c '"kind": "login"' "$work/sim.log" || true)"
  [ $((now - logins_before)) -ge 4 ] && break
  sleep 0.1
done
sleep 5
# Nanoseconds on a CPU, summed over the process's threads, and each thread's switches.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {print s + 0}'; }
switches() {
  local t
  for t in /proc/"$1"/task/*; do
    printf '%s %s %s\n' "${t##*/}" "$(tr ' ' '_' <"$t/comm")" \
      "$(awk '/^voluntary_ctxt_switches|^nonvoluntary_ctxt_switches/ {s += $2} END {print s}' "$t/status")"
  done
}
server_pid="$(for p in /proc/[0-9]*; do
  [ "$(cat "$p/comm" 2>/dev/null)" = wineserver ] && grep -qz "WINEPREFIX=$TW_WINEPREFIX" "$p/environ" 2>/dev/null &&
    echo "${p#/proc/}"; done | head -n 1 || true)"
requests_before="$(wc -l <"$work/sim.log")"
switches "$pid" >"$work/sw0"
c0="$(cpu_ns "$pid")"
s0="$( [ -n "$server_pid" ] && cpu_ns "$server_pid" || echo 0)"
t0="$(date +%s%N)"
sleep "$idle"
c1="$(cpu_ns "$pid")"
s1="$( [ -n "$server_pid" ] && cpu_ns "$server_pid" || echo 0)"
t1="$(date +%s%N)"
switches "$pid" >"$work/sw1"
requests_after="$(wc -l <"$work/sim.log")"
rss="$(awk '/^VmRSS/ {print $2}' /proc/"$pid"/status)"
visible="$(DISPLAY="$DISPLAY" xdotool search --onlyvisible --name 'Tidewell' 2>/dev/null | wc -l || true)"
awk -v c="$((c1 - c0))" -v s="$((s1 - s0))" -v t="$((t1 - t0))" -v w="$server_pid" 'BEGIN {
  printf "  CPU %.4f s in %.1f s wall = %.4f%% of one core  (target < 0.2%%)\n", c/1e9, t/1e9, 100*c/t
  if (w != "") printf "  wineserver meanwhile: %.4f s = %.4f%% of one core (not the tool'"'"'s own)\n", s/1e9, 100*s/t }'
echo "  visible Tidewell windows: $visible; requests to the server meanwhile: $((requests_after - requests_before))"
echo "  resident size of tidewell.exe (Wine's own libraries included): $((rss / 1024)) MB"
echo "  wake-ups per thread (context switches in ${idle} s):"
join <(sort "$work/sw0") <(sort "$work/sw1") | awk '{d = $5 - $3; printf "    %-24s %6d  (%.1f/s)\n", $2, d, d / '"$idle"'}'
kill "$pid" "$tool" 2>/dev/null || true
wait "$tool" 2>/dev/null || true
tool=""
stop_simulator

echo "== 4. tidewell.exe"
echo "  size $(stat -c %s "$exe") bytes ($(( $(stat -c %s "$exe") / 1024 )) KB)"
bash tests/wine/check-imports.sh "$exe" | sed 's/^/  /'
touch "$TW_WINE_STATE/stamp"
