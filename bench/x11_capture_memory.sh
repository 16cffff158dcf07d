#!/usr/bin/env bash
# Resident memory of the release binary capturing a 4K X monitor: a private
# 3840 x 2160 Xvfb with openbox and 8 xterms, the monitor selected at once,
# a still asked for every second, visual edges and controls on. Samples VmRSS
# (and its anonymous and shared-memory parts) twice a second after the first
# 10 s, and reports their medians and ranges and the peak (VmHWM).
#   bench/x11_capture_memory.sh [seconds] [binary]     (defaults: 60, build/release/scene-sampler)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
binary=${2:-build/release/scene-sampler}
terminals=8

. bench/x_desktop.sh
start_x_desktop 3840x2160 "$terminals" 4 120x40 900 900

# Commands go in through a pipe held open by this script; output is dropped.
mkfifo "$work/input"
"$binary" --platform x11 --allow-screen-capture --visual --controls <"$work/input" >/dev/null 2>&1 &
pid=$!
started+=($pid)
exec 4>"$work/input"
echo capture-select >&4
field() { awk -v name="$1:" '$1 == name { print $2 }' "/proc/$pid/status"; }
: >"$work/samples"
for ((tick = 1; tick <= seconds * 2; tick++)); do
  sleep 0.5
  ((tick % 2 == 0)) && echo "capture-snapshot $tick" >&4
  ((tick > 20)) && echo "$(field VmRSS) $(field RssAnon) $(field RssShmem)" >>"$work/samples"
done
peak_kib=$(field VmHWM)
echo quit >&4
exec 4>&-
wait "$pid" || true

for column in 1 2 3; do
  name=$(echo "VmRSS RssAnon RssShmem" | cut -d' ' -f"$column")
  sort -n -k"$column","$column" "$work/samples" | awk -v c="$column" -v name="$name" \
    '{ v[NR] = $c } END { printf "%s: median %.1f MiB (%.1f-%.1f)\n", name, v[int((NR + 1) / 2)] / 1024, v[1] / 1024, v[NR] / 1024 }'
done
echo "peak (VmHWM): $(awk -v k="$peak_kib" 'BEGIN { printf "%.1f", k / 1024 }') MiB"
