# Sourced by the X benchmarks: a private Xvfb of the given size with openbox
# and xterms laid out on a grid, all ended (and the work directory removed)
# when the script exits. Leaves DISPLAY exported, `work` the work directory
# and `started` the processes to end.
#   start_x_desktop WIDTHxHEIGHT TERMINALS COLUMNS GEOMETRY CELL_WIDTH CELL_HEIGHT
work=$(mktemp -d)
started=()
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_x_desktop() {
  local size=$1 terminals=$2 columns=$3 geometry=$4 cell_width=$5 cell_height=$6
  # Xvfb writes its display number once it takes clients.
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" 2>/dev/null &
  started+=($!)
  until [ -s "$work/display" ]; do sleep 0.1; done
  export DISPLAY=":$(head -n 1 "$work/display")"
  openbox >/dev/null 2>&1 &
  started+=($!)
  until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do sleep 0.1; done
  local i
  for i in $(seq 0 $((terminals - 1))); do
    xterm -geometry "$geometry+$((i % columns * cell_width))+$((i / columns * cell_height))" >/dev/null 2>&1 &
    started+=($!)
  done
  until [ "$(wmctrl -l 2>/dev/null | wc -l)" -ge "$terminals" ]; do sleep 0.2; done
  # The last one mapped is in front; let the manager settle.
  sleep 2
}
