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

. bench/x_desktop.sh
start_x_desktop 1920x1080 "$terminals" 5 60x15 370 260

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
