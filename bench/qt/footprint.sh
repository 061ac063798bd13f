#!/usr/bin/env bash
# What the window costs beside a plain Qt Widgets client of transfers
# (bench-qt-client-baseline: four tabs, two transfers redrawn every second, a
# status line), each on a new virtual display, taking turns, over RUNS runs. Run by
# hand, not in CI:
#
#   bench/qt/footprint.sh [BUILD_DIR] [DISPLAY_NUMBER] [RUNS] [SECONDS] [UNSEEN]
#   (defaults: build, 96, 3, 20, 65)
#
# Each run starts both on a new device (Quorvane's with two running transfers
# in its stored list, each from its own loopback swarm, and its welcome page
# served on loopback) and measures, from the scheduler's counts and
# /proc/PID/smaps_rollup:
#   start    from the start until the X server maps the window (both);
#   welcome  idle CPU of the window and its web-engine helpers over SECONDS,
#            the welcome page loaded, against the client's;
#   files    proportional memory of Quorvane's whole tree (its transfer
#            clients included) UNSEEN seconds after the Files tab was
#            chosen, against the client's open window (resident memory is
#            printed too: the shared libraries' part of the proportional
#            one depends on what else runs on the machine);
#   closed   the same UNSEEN seconds after the window was closed, and the
#            CPU of Quorvane's own process then.
# Targets: start at most 1.0, welcome CPU at most 1.5, files memory at most
# 1.5 and closed memory at most 1.0 times the client's; closed CPU at most
# 0.1 % of a core.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build}
screen=${2:-96}
runs=${3:-3}
seconds=${4:-20}
unseen=${5:-65}
for tool in Xvfb xdotool bc python3 ctorrent opentracker; do
  command -v "$tool" >/dev/null || { echo "footprint.sh: $tool is needed (scripts/setup installs it)" >&2; exit 2; }
done
for program in quorvane bench-qt-client-baseline; do
  [ -x "$build/bin/$program" ] || { echo "footprint.sh: $build/bin/$program is not built" >&2; exit 2; }
done
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  # The display too has gone once this ends: a next run can take its number.
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
# Each program is measured on a display of its own, new for it: what one
# left in the server (its resources, the server's grown tables) would
# otherwise weigh on the next one's figures.
export DISPLAY=":$screen"
xvfb=
new_display() {
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  # A server still going away on that number would take our clients with it.
  for _ in $(seq 100); do [ -e "/tmp/.X$screen-lock" ] || break; sleep 0.1; done
  [ ! -e "/tmp/.X$screen-lock" ] || { echo "footprint.sh: display :$screen is in use" >&2; exit 1; }
  Xvfb ":$screen" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  pids+=("$xvfb")
  for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
  sleep 0.5
  # Another server on that number (one still going away) leaves ours ending at once.
  if ! kill -0 "$xvfb" 2>/dev/null || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    echo "footprint.sh: Xvfb :$screen did not start (is the display in use?)" >&2
    exit 1
  fi
}

# Two swarms on loopback, their seeders slow enough that the transfers run
# through every run.
names=()
for n in 1 2; do
  python3 "$top/tests/e2e/swarm.py" --dir "$work/swarm$n" --name "footprint$n.bin" --size $((128 * 1024 * 1024)) \
    --seed-rate 100 --lifetime 7200 --torrent-out "$work/torrents" </dev/null >"$work/swarm$n.out" 2>"$work/swarm$n.log" &
  pids+=($!)
  names+=("footprint$n.bin.torrent")
done
for n in 1 2; do
  for _ in $(seq 600); do grep -q '^ready' "$work/swarm$n.out" && break; sleep 0.1; done
  grep -q '^ready' "$work/swarm$n.out" || { echo "footprint.sh: swarm $n did not start:" >&2; tail -5 "$work/swarm$n.log" >&2; exit 1; }
done
for n in 1 2; do
  torrent=$(awk '/^ready/{print $2}' "$work/swarm$n.out")
  names[$((n - 1))]=$(basename "$torrent")
done

# The welcome page, on loopback under its fixed address.
mkdir -p "$work/site/iphone"
cat >"$work/site/iphone/welcome.html" <<'HTML'
<!doctype html><html><head><title>Welcome</title></head>
<body><h1>Welcome</h1><p>Served on loopback for the footprint benchmark.</p></body></html>
HTML
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory "$work/site" "$port" >/dev/null 2>&1 &
pids+=($!)
export QUORVANE_CONNECT_TO="www.quorvane.example:80:127.0.0.1:$port"

tree() { echo "$1"; for c in $(cat /proc/"$1"/task/*/children 2>/dev/null); do tree "$c"; done; }
is_client() { [ "$(cat /proc/"$1"/comm 2>/dev/null)" = ctorrent ]; }
# The window and its helpers: the tree less the transfer clients.
window_tree() { local p; for p in $(tree "$1"); do is_client "$p" || echo "$p"; done; }
cpu_ns() {
  local t=0 p task n
  for p in "$@"; do
    for task in /proc/"$p"/task/*; do
      read -r n _ < "$task/schedstat" 2>/dev/null || n=0
      t=$((t + n))
    done
  done
  echo "$t"
}
# Percent of one core used over $1 seconds by the processes the command after it names.
cpu_of() {
  local span=$1 a b; shift
  a=$(cpu_ns $("$@")); sleep "$span"; b=$(cpu_ns $("$@"))
  printf '%.3f' "$(echo "scale=6; ($b - $a) / 10000000 / $span" | bc)"
}
pss_kb() {
  local t=0 p s
  for p in "$@"; do
    s=$(awk '/^Pss:/{print $2}' /proc/"$p"/smaps_rollup 2>/dev/null || true)
    t=$((t + ${s:-0}))
  done
  echo "$t"
}
rss_kb() {
  local t=0 p s
  for p in "$@"; do
    s=$(awk '/^Rss:/{print $2}' /proc/"$p"/smaps_rollup 2>/dev/null || true)
    t=$((t + ${s:-0}))
  done
  echo "$t"
}
now_ms() { date +%s%3N; }
# Milliseconds from the start of the command after $1 (a window title's
# pattern) until the X server maps a window so titled: the server's own map
# notice, not a poll, so that a few milliseconds show. Leaves the command's
# process id in $launched.
launch_timed() {
  local name=$1 out=$work/mapped t0 since; shift
  rm -f "$out"
  python3 - "$name" >"$out" <<'PY' &
import ctypes, re, select, sys, time
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x.XPending.argtypes = [ctypes.c_void_p]
x.XConnectionNumber.argtypes = [ctypes.c_void_p]
x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
d = x.XOpenDisplay(None)
x.XSelectInput(d, x.XDefaultRootWindow(d), 1 << 19)  # the root's children: SubstructureNotifyMask
x.XSync(d, 0)
print("ready", flush=True)
event = (ctypes.c_long * 24)()
deadline = time.time() + 30
while time.time() < deadline:
    while x.XPending(d):
        x.XNextEvent(d, event)
        if ctypes.cast(event, ctypes.POINTER(ctypes.c_int))[0] != 19:  # MapNotify
            continue
        at = time.time()
        title = ctypes.c_char_p()
        if x.XFetchName(d, event[5], ctypes.byref(title)) and title.value and re.search(sys.argv[1], title.value.decode()):
            print(int(at * 1000), flush=True)
            sys.exit(0)
    select.select([x.XConnectionNumber(d)], [], [], 0.5)
sys.exit(1)
PY
  local watcher=$!
  for _ in $(seq 100); do grep -q '^ready' "$out" 2>/dev/null && break; sleep 0.05; done
  t0=$(now_ms)
  "$@" &
  launched=$!
  pids+=("$launched")
  wait "$watcher" || { echo "footprint.sh: no window $name" >&2; exit 1; }
  since=$(sed -n 2p "$out")
  echo $((since - t0)) > "$work/start-ms"
}
# Asks the window to close, as its title bar's close button would.
close_window() {
  python3 - "$1" <<'PY'
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
d = x.XOpenDisplay(None)
e = ClientMessage()
e.type = 33  # ClientMessage
e.window = int(sys.argv[1])
e.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
e.format = 32
e.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, e.window, 0, 0, ctypes.byref(e))
x.XFlush(d)
x.XCloseDisplay(d)
PY
}
# Ends the processes of a device that outlive the window (its transfer clients), by their ids.
end_clients_of() {
  local p
  for p in $(ls /proc | grep -E '^[0-9]+$'); do
    if is_client "$p" && tr '\0' ' ' < /proc/"$p"/cmdline 2>/dev/null | grep -qF "$1"; then kill "$p" 2>/dev/null || true; fi
  done
}
stop() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }
ratio() { if [ "$(echo "$2 > 0" | bc)" = 1 ]; then printf '%.2f' "$(echo "scale=4; $1 / $2" | bc)"; else echo "-"; fi; }
median() { printf '%s\n' "$@" | grep -v '^-$' | sort -g | awk '{v[NR] = $1} END {if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
mb() { printf '%.1f' "$(echo "scale=2; $1 / 1024" | bc)"; }

run_client() {
  local p
  new_display
  launch_timed '^client baseline$' "$build/bin/bench-qt-client-baseline" >/dev/null 2>&1
  p=$launched
  c_start=$(cat "$work/start-ms")
  sleep 3
  c_cpu=$(cpu_of "$seconds" tree "$p")
  c_pss=$(pss_kb $(tree "$p"))
  c_rss=$(rss_kb $(tree "$p"))
  stop "$p"
}

run_quorvane() {
  local root=$work/device-$1 prefs downloads p xid n
  new_display
  downloads=$root/var/mobile/Library/Downloads
  prefs=$root/var/mobile/Library/Preferences
  mkdir -p "$downloads" "$prefs" "$root/usr/bin" "$work/runtime-$1"
  chmod 700 "$work/runtime-$1"
  ln -sfn "$(command -v ctorrent)" "$root/usr/bin/ctorrent"
  { echo "quorvane-transfers 1"
    for n in "${names[@]}"; do
      cp "$work/torrents/$n" "$downloads/$n"
      printf 'running\t\t\t\tNo\t%s\t%s\n' "$downloads/$n" "$n"
    done; } > "$prefs/transfers.list"
  launch_timed '^Quorvane$' env XDG_RUNTIME_DIR="$work/runtime-$1" "$build/bin/quorvane" --root "$root" >"$work/quorvane-$1.log" 2>&1 \
    || { tail -20 "$work/quorvane-$1.log" >&2; exit 1; }
  p=$launched
  q_start=$(cat "$work/start-ms")
  xid=$(xdotool search --onlyvisible --name '^Quorvane$' | head -1)
  sleep 6
  # The first-run notice: Escape closes it, as its Close button would.
  xdotool windowfocus --sync "$xid" >/dev/null 2>&1 || true
  xdotool key Escape
  sleep 8
  q_welcome_cpu=$(cpu_of "$seconds" window_tree "$p")
  q_helpers_welcome=$(($(window_tree "$p" | wc -l) - 1))
  # The Files tab, touched where it is at the natural size (a key sent to the
  # window is a synthetic event, which the window does not take as a person's).
  xdotool mousemove --window "$xid" 200 460 click 1
  sleep "$unseen"
  q_files_pss=$(pss_kb $(tree "$p"))
  q_files_rss=$(rss_kb $(tree "$p"))
  q_helpers_files=$(($(window_tree "$p" | wc -l) - 1))
  close_window "$xid"
  sleep "$unseen"
  if xdotool search --onlyvisible --name '^Quorvane$' >/dev/null 2>&1; then echo "footprint.sh: the window did not close" >&2; exit 1; fi
  q_closed_pss=$(pss_kb $(tree "$p"))
  q_closed_rss=$(rss_kb $(tree "$p"))
  q_helpers_closed=$(($(window_tree "$p" | wc -l) - 1))
  q_clients=0
  for n in $(tree "$p"); do is_client "$n" && q_clients=$((q_clients + 1)); done
  q_closed_cpu=$(cpu_of "$seconds" echo "$p")
  stop "$p"
  end_clients_of "$root"
}

start_r=() welcome_r=() files_r=() closed_r=() closed_cpu=()
for run in $(seq "$runs"); do
  if [ $((run % 2)) = 1 ]; then run_client; run_quorvane "$run"; else run_quorvane "$run"; run_client; fi
  start_r+=("$(ratio "$q_start" "$c_start")")
  welcome_r+=("$(ratio "$q_welcome_cpu" "$c_cpu")")
  files_r+=("$(ratio "$q_files_pss" "$c_pss")")
  closed_r+=("$(ratio "$q_closed_pss" "$c_pss")")
  closed_cpu+=("$q_closed_cpu")
  echo "run $run of $runs (Xvfb :$screen; $( [ $((run % 2)) = 1 ] && echo "client first" || echo "quorvane first"))"
  printf '  %-52s %8s ms   client %6s ms\n' "start to window:" "$q_start" "$c_start"
  printf '  %-52s %8s %%    client %6s %%\n' "idle CPU, welcome page loaded ($q_helpers_welcome helpers):" "$q_welcome_cpu" "$c_cpu"
  printf '  %-52s %8s MB   client %6s MB (resident %s and %s)\n' "proportional memory, Files tab ${unseen} s ($q_helpers_files helpers):" \
    "$(mb "$q_files_pss")" "$(mb "$c_pss")" "$(mb "$q_files_rss")" "$(mb "$c_rss")"
  printf '  %-52s %8s MB   (resident %s)\n' "proportional memory, closed ${unseen} s ($q_helpers_closed helpers, $q_clients clients):" \
    "$(mb "$q_closed_pss")" "$(mb "$q_closed_rss")"
  printf '  %-52s %8s %%\n' "CPU of quorvane's own process, closed:" "$q_closed_cpu"
done
verdict() { if [ "$1" != "-" ] && [ "$(echo "$1 <= $2" | bc)" = 1 ]; then echo met; else echo MISSED; fi; }
m_start=$(median "${start_r[@]}") m_welcome=$(median "${welcome_r[@]}") m_files=$(median "${files_r[@]}")
m_closed=$(median "${closed_r[@]}") m_cpu=$(median "${closed_cpu[@]}")
echo "ratios to the client's, run by run, and their medians (target):"
printf '  %-40s %-24s median %5s (at most 1.0: %s)\n' "start to window:" "${start_r[*]}" "$m_start" "$(verdict "$m_start" 1.0)"
printf '  %-40s %-24s median %5s (at most 1.5: %s)\n' "idle CPU, welcome page loaded:" "${welcome_r[*]}" "$m_welcome" "$(verdict "$m_welcome" 1.5)"
printf '  %-40s %-24s median %5s (at most 1.5: %s)\n' "memory, Files tab, no page seen:" "${files_r[*]}" "$m_files" "$(verdict "$m_files" 1.5)"
printf '  %-40s %-24s median %5s (at most 1.0: %s)\n' "memory, window closed:" "${closed_r[*]}" "$m_closed" "$(verdict "$m_closed" 1.0)"
printf '  %-40s %-24s median %5s (at most 0.1 %%: %s)\n' "own CPU %, window closed:" "${closed_cpu[*]}" "$m_cpu" "$(verdict "$m_cpu" 0.1)"
