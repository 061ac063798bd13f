#!/usr/bin/env bash
# The window's idle cost on a virtual display (Xvfb; the offscreen platform
# hides the cost of showing), beside a minimal Qt window with the same turning
# activity wheel (bench-qt-idle-baseline), and the resident memory of the
# window with its web-engine helper processes. Run by hand, not in CI:
#
#   bench/qt/idle.sh [BUILD_DIR] [DISPLAY_NUMBER]      (defaults: build, 97)
#
# Both windows start on a new device root; after the first-run notice is
# closed and the welcome page shown, each is left alone for 20 seconds and
# the CPU time of its process and its children is read from /proc.
# Targets: the window at most 1 % of a core; memory is reported.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build}
screen=${2:-97}
for tool in Xvfb xdotool bc; do
  command -v "$tool" >/dev/null || { echo "idle.sh: $tool is needed" >&2; exit 2; }
done
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb ":$screen" -screen 0 1024x768x24 >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$screen" XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$work/runtime"
sleep 1

tree() { echo "$1"; for c in $(cat /proc/"$1"/task/*/children 2>/dev/null); do tree "$c"; done; }
ticks() {
  local t=0 p a b
  for p in $(tree "$1"); do
    read -r a b < <(cut -d' ' -f14,15 /proc/"$p"/stat 2>/dev/null || echo "0 0")
    t=$((t + a + b))
  done
  echo "$t"
}
# Percent of one core used by a process and its children over $2 seconds.
cpu() {
  local a b
  a=$(ticks "$1"); sleep "$2"; b=$(ticks "$1")
  echo "scale=2; ($b - $a) * 100 / $(getconf CLK_TCK) / $2" | bc
}
memory() {
  local rss=0 pss=0 n=0 p r s
  for p in $(tree "$1" | sort -u); do
    r=$(awk '/^VmRSS:/{print $2}' /proc/"$p"/status 2>/dev/null || true)
    s=$(awk '/^Pss:/{print $2}' /proc/"$p"/smaps_rollup 2>/dev/null || true)
    rss=$((rss + ${r:-0})); pss=$((pss + ${s:-0})); n=$((n + 1))
  done
  echo "$n processes, resident $((rss / 1024)) MB, proportional $((pss / 1024)) MB"
}

"$build/bin/quorvane" --root "$work/device" >"$work/quorvane.log" 2>&1 &
window=$!
pids+=("$window")
sleep 8
# Close the first-run notice with its Close button, as a person would.
xdotool search --sync --name '^Quorvane$' windowactivate --sync >/dev/null 2>&1 || true
xdotool mousemove 93 385 click 1
sleep 4
window_cpu=$(cpu "$window" 20)
window_memory=$(memory "$window")

"$build/bin/bench-qt-idle-baseline" >/dev/null 2>&1 &
baseline=$!
pids+=("$baseline")
sleep 3
baseline_cpu=$(cpu "$baseline" 20)

echo "idle for 20 s with the activity wheel turning (Xvfb :$screen)"
echo "  quorvane (welcome tab, with its web-engine helpers): ${window_cpu} % of a core"
echo "  minimal Qt window with the same wheel:              ${baseline_cpu} % of a core"
if [ "$(echo "$baseline_cpu > 0" | bc)" = 1 ]; then
  echo "  ratio: $(echo "scale=1; $window_cpu / $baseline_cpu" | bc)"
fi
echo "  target: at most 1 % -> $( [ "$(echo "$window_cpu <= 1" | bc)" = 1 ] && echo met || echo MISSED )"
echo "memory of the window and its helpers: $window_memory"
