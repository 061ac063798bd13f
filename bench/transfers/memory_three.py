#!/usr/bin/env python3
"""Memory of the application over time while three real transfers run at once.

Three loopback swarms (tests/e2e/swarm.py, the real transfer client), each
seeding at a limited rate so that the transfers last the whole period; the
headless shell starts all three and lets them run; the resident memory of the
application is sampled every few seconds. Prints the samples, the first, the
last and the peak; flat means the last is within a little of the first.

    bench/transfers/memory_three.py             a shortened period (60 s)
    bench/transfers/memory_three.py --full      the full 10 minutes
"""
import argparse
import os
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.join(HERE, "..", "..")
SWARM = os.path.join(TOP, "tests", "e2e", "swarm.py")
DOWNLOADS = "var/mobile/Library/Downloads"


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--full", action="store_true", help="run for 10 minutes")
    p.add_argument("--seconds", type=float, help="run for this long (default 60, or 600 with --full)")
    p.add_argument("--headless", default=os.environ.get("QUORVANE_HEADLESS", os.path.join(TOP, "build", "bin", "quorvane-headless")))
    p.add_argument("--every", type=float, default=5)
    args = p.parse_args()
    period = args.seconds or (600 if args.full else 60)
    rate = 100  # KB/s from each seeder
    size = int(rate * 1024 * (period + 60))  # more than the period can carry

    with tempfile.TemporaryDirectory(prefix="quorvane-mem-") as root:
        os.makedirs(os.path.join(root, "usr", "bin"))
        os.symlink("/usr/bin/ctorrent", os.path.join(root, "usr", "bin", "ctorrent"))
        swarms, torrents = [], []
        try:
            for i in range(3):
                s = subprocess.Popen([sys.executable, SWARM, "--dir", os.path.join(root, f"swarm{i}"),
                                      "--torrent-out", os.path.join(root, DOWNLOADS), "--name", f"payload{i}.bin",
                                      "--size", str(size), "--seed-rate", str(rate),
                                      "--lifetime", str(period + 120), "--watch-stdin"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                swarms.append(s)
                line = s.stdout.readline().strip()
                if not line.startswith("ready "):
                    sys.exit("a swarm did not start: " + line)
                torrents.append(line[len("ready "):])
            script = "answer 0\nset TransfersAtOnce 3\n"
            for t in torrents:
                script += (f"set DownloadTorrent {t}\nset DownloadTorrentName {os.path.basename(t)}\n"
                           "set DownloadTorrentBool Yes\ntab 0\ntab 3\nanswer 1\n")
            script += f"wait {period}\ndump\nquit\n"
            app = subprocess.Popen([args.headless, "--root", root, "--script", "-"], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            samples = []
            done = threading.Event()

            def sample():
                start = time.time()
                while not done.is_set():
                    kib = rss_kib(app.pid)
                    if kib:
                        samples.append((time.time() - start, kib))
                    done.wait(args.every)

            sampler = threading.Thread(target=sample)
            sampler.start()
            out, err = app.communicate(script, timeout=period + 120)
            done.set()
            sampler.join()
            if app.returncode != 0:
                sys.exit("the application failed: " + err[-2000:])
            running = out.count("Downloading")
            for t, kib in samples:
                print(f"{t:6.0f} s  {kib} KiB")
            body = [k for t, k in samples if t >= 10] or [k for _, k in samples]
            print(f"three transfers over {period:.0f} s: first {body[0]} KiB (after 10 s), last {body[-1]} KiB, "
                  f"peak {max(body)} KiB, growth {body[-1] - body[0]:+d} KiB; 'Downloading' shown {running} times at the end")
        finally:
            for s in swarms:
                s.stdin.close()
                s.wait(timeout=60)


if __name__ == "__main__":
    main()
