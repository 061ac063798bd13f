#!/usr/bin/env python3
"""What the transfer service costs with the window closed, side by side in one run.

Two loopback swarms (tests/e2e/swarm.py, the real transfer client) seed slowly
enough that two transfers run the whole time. The service is started on a new
device root, a headless view asks for both torrents and leaves: the window is
closed, the service and its two clients run. Over SECONDS seconds it measures,
from /proc/PID/smaps_rollup and the scheduler's counts in /proc/PID/stat:

  service   the service's proportional memory (PSS) and its CPU share;
  clients   the same of the two transfer clients (a plain ctorrent pair);
  window    the same of a minimal Qt window of the application's size
            (bench-qt-idle-baseline) on a virtual display, idle.

and the window's start to first frame (quorvane --exit-after-first-frame, the
median of RUNS starts) with the service running against without one.
Prints each figure and the ratios. Targets: the service at most 10 MB PSS and
0.05 % of a core; the start with the service at most the start without.
Run by hand (needs Xvfb), not in CI:

    bench/transfers/service.py [--build DIR] [--seconds 30] [--runs 5] [--display 95] [--no-dht]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))
from headless_test import DOWNLOADS, hand_over  # noqa: E402

SWARM = os.path.join(TOP, "tests", "e2e", "swarm.py")
TICKS = os.sysconf("SC_CLK_TCK")


def pss_kib(pid):
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            if line.startswith("Pss:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def measure(pids, seconds):
    """PSS (KiB, at the end) and CPU share (% of a core) of pids over seconds."""
    start = sum(cpu_seconds(p) for p in pids)
    time.sleep(seconds)
    used = sum(cpu_seconds(p) for p in pids) - start
    return sum(pss_kib(p) for p in pids), 100.0 * used / seconds


def first_frame(quorvane, root, env):
    begin = time.monotonic()
    subprocess.run([quorvane, "--root", root, "--exit-after-first-frame"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    return time.monotonic() - begin


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(TOP, "build"))
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--display", default="95")
    parser.add_argument("--no-dht", action="store_true", help="with the service's DHT node turned off (FindPeersWithoutTrackers No)")
    args = parser.parse_args()
    binary = lambda name: os.path.join(args.build, "bin", name)  # noqa: E731

    tmp = tempfile.TemporaryDirectory(prefix="quorvane-bench-service-")
    root = tmp.name
    os.makedirs(os.path.join(root, "usr/bin"))
    os.symlink("/usr/bin/ctorrent", os.path.join(root, "usr/bin/ctorrent"))
    procs = []
    try:
        swarm = subprocess.Popen([sys.executable, SWARM, "--dir", os.path.join(root, "swarm"), "--torrent-out",
                                  os.path.join(root, DOWNLOADS), "--count", "2", "--size", str(256 * 1024 * 1024),
                                  "--seed-rate", "100", "--lifetime", str(int(args.seconds) + 120), "--watch-stdin"],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        procs.append(swarm)
        torrents = swarm.stdout.readline().split()[1:]
        service = subprocess.Popen([binary("quorvane-service"), "--root", root], stderr=subprocess.DEVNULL)
        procs.append(service)
        time.sleep(1)
        script = "".join(hand_over(t, os.path.basename(t), first=(i == 0), leave=(i > 0)) for i, t in enumerate(torrents)) + "wait 3\nquit\n"
        if args.no_dht:
            script = "set FindPeersWithoutTrackers No\n" + script
        subprocess.run([binary("quorvane-headless"), "--root", root, "--script", "-"], input=script, text=True,
                       capture_output=True, check=True, timeout=120)
        clients = [int(p) for p in subprocess.run(["pgrep", "-f", "ctorrent -S .*" + root], capture_output=True,
                                                   text=True).stdout.split()]
        if len(clients) != 2:
            sys.exit(f"service.py: expected two running clients, found {len(clients)}")
        time.sleep(5)  # past the start's own work

        display = f":{args.display}"
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x800x24"], stderr=subprocess.DEVNULL)
        procs.append(xvfb)
        time.sleep(1)
        env = dict(os.environ, DISPLAY=display)
        window = subprocess.Popen([binary("bench-qt-idle-baseline")], env=env, stderr=subprocess.DEVNULL)
        procs.append(window)
        time.sleep(3)

        service_pss, service_cpu = measure([service.pid], args.seconds)
        clients_pss, clients_cpu = measure(clients, args.seconds)
        window_pss, window_cpu = measure([window.pid], args.seconds)
        window.kill()

        with_service = statistics.median(first_frame(binary("quorvane"), root, env) for _ in range(args.runs))
        other = os.path.join(root, "other")  # a device with no service: the window owns its transfers
        os.makedirs(os.path.join(other, "usr/bin"))
        without = statistics.median(first_frame(binary("quorvane"), other, env) for _ in range(args.runs))

        print(f"service       PSS {service_pss / 1024:7.2f} MB   CPU {service_cpu:6.3f} % of a core   (targets: 10 MB, 0.05 %)")
        print(f"ctorrent pair PSS {clients_pss / 1024:7.2f} MB   CPU {clients_cpu:6.3f} %")
        print(f"minimal Qt    PSS {window_pss / 1024:7.2f} MB   CPU {window_cpu:6.3f} %")
        print(f"ratio service/ctorrent pair: PSS {service_pss / max(clients_pss, 1):.2f}")
        print(f"ratio service/minimal Qt window: PSS {service_pss / max(window_pss, 1):.2f}")
        print(f"first frame: {with_service * 1000:.0f} ms with the service running, {without * 1000:.0f} ms without;"
              f" ratio {with_service / without:.2f} (target: at most 1.00)")
    finally:
        for p in subprocess.run(["pgrep", "-f", "ctorrent -S .*" + root], capture_output=True, text=True).stdout.split():
            os.kill(int(p), 9)
        for proc in reversed(procs):
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        tmp.cleanup()


if __name__ == "__main__":
    main()
