#!/usr/bin/env bash
# CPU share and peak resident memory of the release binary sampling an idle X
# desktop at the default rate, without capture: a private Xvfb with openbox
# and 20 xterms, one of them in front.
#   bench/x11_process_usage.sh [seconds] [binary]      (defaults: 60, build/release/scene-sampler)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
binary=${2:-build/release/scene-sampler}
terminals=20

work=$(mktemp -d)
started=()
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb writes its display number once it takes clients.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
started+=($!)
until [ -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=":$(head -n 1 "$work/display")"
openbox >/dev/null 2>&1 &
started+=($!)
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do sleep 0.1; done
for i in $(seq 0 $((terminals - 1))); do
  xterm -geometry "60x15+$((i % 5 * 370))+$((i / 5 * 260))" >/dev/null 2>&1 &
  started+=($!)
done
until [ "$(wmctrl -l 2>/dev/null | wc -l)" -ge "$terminals" ]; do sleep 0.2; done
# The last one mapped is in front; let the manager settle.
sleep 2

# Standard input stays open (a companion that says nothing); output is counted.
coproc SAMPLER { sleep "$((seconds + 5))" | "$binary" --platform x11 | wc -l; }
sleep 1
pid=$(pgrep -n -f "^$binary --platform x11\$")
# schedstat's first field is a thread's time on a CPU in nanoseconds, summed
# over the threads that exist at the end (the event and input threads stay).
cpu_ns() { cat /proc/"$pid"/task/*/schedstat | awk '{ sum += $1 } END { printf "%d", sum }'; }
start_ns=$(cpu_ns)
start_time=$(date +%s.%N)
sleep "$seconds"
end_ns=$(cpu_ns)
end_time=$(date +%s.%N)
peak_kib=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
kill "$pid"
read -r lines <&"${SAMPLER[0]}" || true

awk -v ns="$((end_ns - start_ns))" -v a="$start_time" -v b="$end_time" -v kib="$peak_kib" -v n="$lines" \
  'BEGIN { wall = b - a; cpu = ns / 1e9; printf "wall %.1f s, cpu %.3f s = %.3f%% of one core, peak RSS %.1f MiB, %d lines\n",
           wall, cpu, 100 * cpu / wall, kib / 1024, n }'
