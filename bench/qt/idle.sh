#!/usr/bin/env bash
# The window's idle cost on a virtual display (Xvfb; the offscreen platform
# hides the cost of showing), beside a minimal Qt window of the same size with
# the same turning activity wheel (bench-qt-idle-baseline), at 320x480 and at
# 1280x800. Run by hand, not in CI:
#
#   bench/qt/idle.sh [BUILD_DIR] [DISPLAY_NUMBER] [SECONDS]   (defaults: build, 97, 20)
#
# At each size both windows start on a new device root; after the first-run
# notice is closed (Escape, as a person would) and the welcome page shown,
# each is left alone for SECONDS and the CPU time of its process and its
# children is read from the scheduler's counts in /proc, then its memory: resident, proportional and
# private dirty, summed over the window and its web-engine helper processes.
# Targets: idle CPU at most 1.5 times the minimal window's; memory not above
# about 289 MB resident and 48 MB private (dirty) for the window and its helpers.
#
#   bench/qt/idle.sh --phone [BUILD_DIR] [DISPLAY_NUMBER] [SECONDS]
#
# compares instead the window on a phone (natively on Wayland under phoc and
# phosh, on a second Xvfb: one output of 720 x 1440 at scale 2, the window
# given 360 x 648 points by the shell) with the same window under X (on the
# first Xvfb, at scale 2 and the same size, as under a phone's shell), both on
# the welcome tab after the first-run notice; it prints the memory and idle
# CPU ratios, phone over X. Target: private memory within 5 % of the window
# under X. Proportional memory counts half of the buffers the window shares
# with the compositor: Wayland keeps two or three of them where X keeps one
# (about 3.7 MB each at this size), and the virtual display's pointer brings
# a cursor theme that a phone without a pointer does not load.
# Needs phoc, phosh, wtype and wlr-randr (scripts/phone installs them).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
phone=0
if [ "${1:-}" = --phone ]; then phone=1; shift; fi
build=${1:-$top/build}
screen=${2:-97}
seconds=${3:-20}
tools=(Xvfb xdotool bc)
[ "$phone" = 1 ] && tools+=(phoc phosh wtype dbus-daemon)
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || [ -x "/usr/libexec/$tool" ] || { echo "idle.sh: $tool is needed" >&2; exit 2; }
done
for program in quorvane bench-qt-idle-baseline; do
  [ -x "$build/bin/$program" ] || { echo "idle.sh: $build/bin/$program is not built" >&2; exit 2; }
done
work=$(mktemp -d)
pids=()
stop() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb ":$screen" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$screen" XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$work/runtime"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

tree() { echo "$1"; for c in $(cat /proc/"$1"/task/*/children 2>/dev/null); do tree "$c"; done; }
# Nanoseconds on a CPU so far, summed over the threads of a process and its
# children (the scheduler's own count: finer than clock ticks).
cpu_ns() {
  local t=0 p task n
  for p in $(tree "$1"); do
    for task in /proc/"$p"/task/*; do
      read -r n _ < "$task/schedstat" 2>/dev/null || n=0
      t=$((t + n))
    done
  done
  echo "$t"
}
# Percent of one core used by a process and its children over $2 seconds.
cpu() {
  local a b
  a=$(cpu_ns "$1"); sleep "$2"; b=$(cpu_ns "$1")
  printf '%.2f' "$(echo "scale=4; ($b - $a) / 10000000 / $2" | bc)"
}
# "PROCESSES RSS_KB PSS_KB PRIVATE_DIRTY_KB" of a process and its children.
memory() {
  local rss=0 pss=0 dirty=0 n=0 p r s d
  for p in $(tree "$1" | sort -u); do
    r=$(awk '/^Rss:/{print $2}' /proc/"$p"/smaps_rollup 2>/dev/null || true)
    s=$(awk '/^Pss:/{print $2}' /proc/"$p"/smaps_rollup 2>/dev/null || true)
    d=$(awk '/^Private_Dirty:/{print $2}' /proc/"$p"/smaps_rollup 2>/dev/null || true)
    [ -n "$r" ] || continue
    rss=$((rss + r)); pss=$((pss + ${s:-0})); dirty=$((dirty + ${d:-0})); n=$((n + 1))
  done
  echo "$n $rss $pss $dirty"
}
# Whether a GL driver is loaded in a process or its children (a software one
# alone is about 13 MB of private memory; the window draws without GL).
gl_loaded() {
  local p
  for p in $(tree "$1" | sort -u); do
    if grep -q -E 'swrast_dri|_dri\.so|libLLVM|libGLX_mesa' /proc/"$p"/maps 2>/dev/null; then echo yes; return; fi
  done
  echo no
}
mb() { printf '%.1f' "$(echo "scale=2; $1 / 1024" | bc)"; }
ratio() { if [ "$(echo "$2 > 0" | bc)" = 1 ]; then printf '%.2f' "$(echo "scale=4; $1 / $2" | bc)"; else echo "-"; fi; }
# The X window of a process, by its title.
window_of() { xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1; }

if [ "$phone" = 1 ]; then
  # One session bus for both runs, and no status bar of the application's in either.
  dbus-daemon --session --nofork --address="unix:path=$work/bus" >/dev/null 2>&1 &
  pids+=($!)
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus" QUORVANE_PHONE_SHELL=1
  for _ in $(seq 50); do [ -S "$work/bus" ] && break; sleep 0.1; done
  # Measures the window started by the command in "$@" and sets the globals
  # m_cpu m_n m_rss m_pss m_dirty m_gl.
  measure() {
    local close=$1; shift
    "$@" &
    local window=$!
    pids+=("$window")
    sleep 8
    $close
    sleep 4
    m_cpu=$(cpu "$window" "$seconds")
    read -r m_n m_rss m_pss m_dirty < <(memory "$window")
    m_gl=$(gl_loaded "$window")
    stop "$window"
  }
  close_x() {
    local xid
    xid=$(window_of '^Quorvane$')
    xdotool windowsize "$xid" 720 1296
    sleep 2
    xdotool windowactivate --sync "$xid" >/dev/null 2>&1 || xdotool windowfocus --sync "$xid" >/dev/null 2>&1 || true
    xdotool key --window "$xid" Escape
  }
  measure close_x env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=2 "$build/bin/quorvane" --root "$work/device-x" >"$work/quorvane-x.log" 2>&1
  x_cpu=$m_cpu x_n=$m_n x_rss=$m_rss x_pss=$m_pss x_dirty=$m_dirty x_gl=$m_gl

  # The phone: phoc on a display of its own, phosh in it.
  phone_screen=$((screen + 1))
  Xvfb ":$phone_screen" -screen 0 720x1440x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do DISPLAY=":$phone_screen" xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
  printf '[core]\nxwayland=false\n[output:X11-1]\nmode = 720x1440\nscale = 2\n' >"$work/phoc.ini"
  shell=/usr/libexec/phosh
  [ -x "$shell" ] || shell=phosh
  DISPLAY=":$phone_screen" WLR_BACKENDS=x11 WLR_RENDERER=pixman GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 \
    phoc -C "$work/phoc.ini" -E "$shell -U" >"$work/phoc.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/wayland-0" ] && break; sleep 0.1; done
  sleep 4
  close_wayland() { WAYLAND_DISPLAY=wayland-0 wtype -k Escape; }
  measure close_wayland env -u DISPLAY WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=wayland XDG_CURRENT_DESKTOP=Phosh:GNOME \
    "$build/bin/quorvane" --root "$work/device-phone" >"$work/quorvane-phone.log" 2>&1
  echo "the window on the welcome tab, idle for ${seconds} s, 360x648 points at scale 2, no status bar of its own"
  printf '  %-36s %8s %14s %14s %10s %4s\n' "" "resident" "proportional" "private-dirty" "CPU %" "GL"
  printf '  %-36s %8s %14s %14s %10s %4s\n' "under X (Xvfb :$screen), $x_n processes:" "$(mb "$x_rss")" "$(mb "$x_pss")" "$(mb "$x_dirty")" "$x_cpu" "$x_gl"
  printf '  %-36s %8s %14s %14s %10s %4s\n' "phoc + phosh (Wayland), $m_n processes:" "$(mb "$m_rss")" "$(mb "$m_pss")" "$(mb "$m_dirty")" "$m_cpu" "$m_gl"
  printf '  %-36s %8s %14s %14s %10s\n' "ratio, phone over X:" "$(ratio "$m_rss" "$x_rss")" "$(ratio "$m_pss" "$x_pss")" "$(ratio "$m_dirty" "$x_dirty")" "$(ratio "$m_cpu" "$x_cpu")"
  met=MISSED
  if [ "$(echo "$m_dirty <= $x_dirty * 1.05" | bc)" = 1 ]; then met=met; fi
  echo "target (private memory within 5 % of the window under X): $met"
  exit 0
fi

verdicts=()
for size in 320x480 1280x800; do
  w=${size%x*} h=${size#*x}
  "$build/bin/quorvane" --root "$work/device-$size" >"$work/quorvane-$size.log" 2>&1 &
  window=$!
  pids+=("$window")
  xid=$(window_of '^Quorvane$')
  xdotool windowsize "$xid" "$w" "$h"
  sleep 6
  # The first-run notice: Escape closes it, as its Close button would.
  xdotool windowactivate --sync "$xid" >/dev/null 2>&1 || xdotool windowfocus --sync "$xid" >/dev/null 2>&1 || true
  xdotool key --window "$xid" Escape
  sleep 4
  window_cpu=$(cpu "$window" "$seconds")
  read -r window_n window_rss window_pss window_dirty < <(memory "$window")
  window_gl=$(gl_loaded "$window")
  stop "$window"

  "$build/bin/bench-qt-idle-baseline" "$size" >/dev/null 2>&1 &
  baseline=$!
  pids+=("$baseline")
  window_of '^idle baseline$' >/dev/null
  sleep 3
  baseline_cpu=$(cpu "$baseline" "$seconds")
  read -r baseline_n baseline_rss baseline_pss baseline_dirty < <(memory "$baseline")
  stop "$baseline"

  cpu_ratio=$(ratio "$window_cpu" "$baseline_cpu")
  echo "at ${size}, idle for ${seconds} s with the activity wheel turning (Xvfb :$screen)"
  printf '  %-44s %6s %% of a core\n' "quorvane (welcome tab, with its helpers):" "$window_cpu"
  printf '  %-44s %6s %% of a core\n' "minimal Qt window with the same wheel:" "$baseline_cpu"
  printf '  %-44s %6s (target at most 1.5)\n' "CPU ratio:" "$cpu_ratio"
  printf '  %-44s %8s %14s %14s\n' "memory (MB)" resident proportional private-dirty
  printf '  %-44s %8s %14s %14s\n' "quorvane, $window_n processes:" "$(mb "$window_rss")" "$(mb "$window_pss")" "$(mb "$window_dirty")"
  printf '  %-44s %8s %14s %14s\n' "minimal Qt window, $baseline_n process:" "$(mb "$baseline_rss")" "$(mb "$baseline_pss")" "$(mb "$baseline_dirty")"
  printf '  %-44s %8s %14s %14s\n' "ratio:" "$(ratio "$window_rss" "$baseline_rss")" "$(ratio "$window_pss" "$baseline_pss")" "$(ratio "$window_dirty" "$baseline_dirty")"
  printf '  %-44s %s\n' "GL driver loaded by quorvane:" "$window_gl"
  cpu_met=MISSED
  if [ "$cpu_ratio" != "-" ] && [ "$(echo "$cpu_ratio <= 1.5" | bc)" = 1 ]; then cpu_met=met; fi
  if [ "$cpu_ratio" = "-" ] && [ "$(echo "$window_cpu <= 1" | bc)" = 1 ]; then cpu_met=met; fi
  mem_met=MISSED
  if [ $((window_rss / 1024)) -le 289 ] && [ $((window_dirty / 1024)) -le 48 ]; then mem_met=met; fi
  verdicts+=("$size: CPU $cpu_met, memory $mem_met")
done
echo "targets (CPU at most 1.5 x the minimal window's; at most 289 MB resident and 48 MB private dirty):"
for v in "${verdicts[@]}"; do echo "  $v"; done
