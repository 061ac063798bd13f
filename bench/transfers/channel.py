#!/usr/bin/env python3
"""The cost of the control channel: 1, 5 and 20 real transfer clients in a
loopback swarm (tests/e2e/swarm.py --count N), run by the headless shell once
with the channel (the clients connect to it; the application asks each for
its status every second and shares the limits among them) and once without it
(its port held by another listener, so the clients only write their output
files). Prints the application's CPU time and peak resident memory over the
same period for both, and their ratios; the target is at most 1.1.

    bench/transfers/channel.py [--counts 1,5,20] [--seconds 30]
"""
import argparse
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.join(HERE, "..", "..")
SWARM = os.path.join(TOP, "tests", "e2e", "swarm.py")
HEADLESS = os.environ.get("QUORVANE_HEADLESS", os.path.join(TOP, "build", "bin", "quorvane-headless"))
DOWNLOADS = "var/mobile/Library/Downloads"


def cpu_seconds(pid):
    # The scheduler's own count, in nanoseconds: clock ticks are too coarse for a quiet process.
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/schedstat") as f:
            total += int(f.read().split()[0])
    return total / 1e9


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def hand_overs(torrents, first):
    lines = (["answer 0"] if first else []) + ["set TransfersAtOnce 20"]
    for t in torrents:
        lines += [f"set DownloadTorrent {t}", f"set DownloadTorrentName {os.path.basename(t)}",
                  "set DownloadTorrentBool Yes", "tab 0", "tab 3", "answer 1"]
    return "\n".join(lines) + "\n"


def one_run(count, seconds, channel):
    with tempfile.TemporaryDirectory(prefix="quorvane-bench-") as root:
        os.makedirs(os.path.join(root, "usr/bin"))
        os.symlink("/usr/bin/ctorrent", os.path.join(root, "usr/bin/ctorrent"))
        holder = None
        if not channel:
            # The port the application keeps is held by somebody else: no channel.
            holder = socket.socket()
            holder.bind(("127.0.0.1", 0))
            holder.listen(1)
            port = holder.getsockname()[1]
            first = subprocess.run([HEADLESS, "--root", root, "--script", "-"], input=f"answer 0\nset ControlPort {port}\n",
                                   capture_output=True, text=True, timeout=60)
            if first.returncode != 0:
                sys.exit(first.stderr)
        # Seeding slowly, so that every transfer still runs at the end.
        swarm = subprocess.Popen([sys.executable, SWARM, "--dir", os.path.join(root, "swarm"), "--count", str(count),
                                  "--torrent-out", os.path.join(root, DOWNLOADS), "--size", str(8 * 1024 * 1024),
                                  "--seed-rate", "40", "--lifetime", str(seconds + 120), "--watch-stdin"],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = swarm.stdout.readline().strip()
        if not line.startswith("ready "):
            sys.exit("the swarm did not start: " + line)
        torrents = line[len("ready "):].split()
        shell = subprocess.Popen([HEADLESS, "--root", root, "--script", "-"], stdin=subprocess.PIPE,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        # The loop turns only while a command runs: a long wait is the period measured.
        shell.stdin.write(hand_overs(torrents, first=channel) + f"wait {seconds + 10}\n")
        shell.stdin.flush()
        time.sleep(5)  # every client started and connected
        peak = [0]
        stop = threading.Event()

        def sample():
            while not stop.is_set():
                peak[0] = max(peak[0], rss_kib(shell.pid))
                stop.wait(0.5)
        sampler = threading.Thread(target=sample)
        sampler.start()
        start = cpu_seconds(shell.pid)
        time.sleep(seconds)
        used = cpu_seconds(shell.pid) - start
        stop.set()
        sampler.join()
        shell.stdin.write("quit\n")
        shell.stdin.close()
        err = shell.stderr.read()
        shell.wait(60)
        swarm.stdin.close()
        swarm.wait(60)
        if holder:
            holder.close()
        joined = len(re.findall(r"Control channel: client .* connected", err))
        return used, peak[0], joined


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--counts", default="1,5,20")
    p.add_argument("--seconds", type=float, default=30)
    args = p.parse_args()
    print(f"{'clients':>7} {'joined':>6} {'CPU with':>9} {'CPU w/o':>9} {'ratio':>6} {'RSS with':>9} {'RSS w/o':>9} {'ratio':>6}")
    for count in [int(c) for c in args.counts.split(",")]:
        cpu_with, rss_with, joined = one_run(count, args.seconds, True)
        cpu_without, rss_without, alone = one_run(count, args.seconds, False)
        if alone:
            sys.exit("clients reached the channel in the run meant to be without it")
        print(f"{count:>7} {joined:>6} {cpu_with:>8.3f}s {cpu_without:>8.3f}s {cpu_with / max(cpu_without, 1e-6):>6.2f} "
              f"{rss_with:>7}KB {rss_without:>7}KB {rss_with / max(rss_without, 1):>6.2f}", flush=True)


if __name__ == "__main__":
    main()
