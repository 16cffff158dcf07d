#!/usr/bin/env bash
# CPU share and peak resident memory of the release binary sampling the demo
# desktop at the default rate.
#   bench/process_usage.sh [seconds] [binary]      (defaults: 60, build/release/scene-sampler)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
binary=${2:-build/release/scene-sampler}
ticks=$(getconf CLK_TCK)

# Standard input stays open (a companion that says nothing); output is counted.
coproc SAMPLER { sleep "$((seconds + 5))" | "$binary" | wc -l; }
sleep 1
pid=$(pgrep -n -f "^$binary\$")
read -r -a start < <(cut -d' ' -f14,15 "/proc/$pid/stat")
start_time=$(date +%s.%N)
sleep "$seconds"
read -r -a end < <(cut -d' ' -f14,15 "/proc/$pid/stat")
end_time=$(date +%s.%N)
peak_kib=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
kill "$pid"
read -r lines <&"${SAMPLER[0]}" || true

cpu_ticks=$(( (end[0] + end[1]) - (start[0] + start[1]) ))
awk -v t="$cpu_ticks" -v hz="$ticks" -v a="$start_time" -v b="$end_time" -v kib="$peak_kib" -v n="$lines" \
  'BEGIN { wall = b - a; printf "wall %.1f s, cpu %.3f s = %.2f%% of one core, peak RSS %.1f MiB, %d lines\n",
           wall, t / hz, 100 * t / hz / wall, kib / 1024, n }'
