#!/usr/bin/env python3
"""The Files tab with a running transfer of a torrent at the file-count cap.

Three devices, each driven by the headless shell in real time with a stand-in
transfer client (a script that prints a status line a second):

  empty    nothing in the downloads folder, nothing running: the baseline;
  plain    the downloads folder as the transfer leaves it (the torrent's top
           folder), without the .torrent and without a transfer;
  cap      the same folder, the .torrent of CAP files beside it, its transfer
           running.

For plain and cap: the time from choosing the Files tab to its list, and the
resident memory above the empty device once it is shown; then the processor
time the application takes over IDLE seconds with the tab in view. Also the
time and peak memory of `--open` of the cap torrent. Prints the figures and
the ratios of cap to plain. Run by hand:

    bench/files/cap_torrent.py [--files N] [--idle SECONDS]
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
DOWNLOADS = "var/mobile/Library/Downloads"
CAP = 200_000


def status_kib(pid, key):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def bstr(b):
    return str(len(b)).encode() + b":" + b


def write_torrent(path, files, name=b"album"):
    """A description of `files` files of one byte each, in folders of 1000."""
    with open(path, "wb") as out:
        out.write(b"d8:announce" + bstr(b"http://127.0.0.1:1/announce") + b"4:infod5:filesl")
        for i in range(files):
            out.write(b"d6:lengthi1e4:pathl" + bstr(b"d%03d" % (i // 1000)) + bstr(b"f%06d.bin" % i) + b"ee")
        out.write(b"e4:name" + bstr(name) + b"12:piece lengthi16384e6:pieces20:" + b"\0" * 20 + b"ee")


class Shell:
    """A headless shell on a device, fed one command at a time."""

    def __init__(self, headless, root, more=()):
        self.proc = subprocess.Popen([headless, "--root", root, *more, "--script", "-"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def say(self, commands, mark="@done"):
        self.proc.stdin.write(commands + f"\necho {mark}\n")
        self.proc.stdin.flush()
        for line in self.proc.stdout:
            if line.strip() == mark:
                return
        raise RuntimeError("the shell ended early")

    def close(self):
        self.proc.stdin.write("quit\n")
        self.proc.stdin.close()
        self.proc.wait(60)


def device(top, with_folder, with_torrent, files):
    root = tempfile.mkdtemp(prefix="quorvane-cap-", dir=top)
    os.makedirs(os.path.join(root, "usr", "bin"))
    client = os.path.join(root, "usr", "bin", "ctorrent")
    with open(client, "w") as f:
        f.write("#!/bin/bash\ntrap '' PIPE\nwhile :; do printf '\\n| 0/0/1 [8/64/64] 1MB,0MB | 100,0K/s | 0,0K E:0,1'; sleep 1; done\n")
    os.chmod(client, 0o755)
    downloads = os.path.join(root, DOWNLOADS)
    os.makedirs(downloads)
    if with_folder:
        # What the client has made of the torrent so far: its top folder and the first of its folders.
        os.makedirs(os.path.join(downloads, "album", "d000"))
        for i in range(1000):
            open(os.path.join(downloads, "album", "d000", "f%06d.bin" % i), "w").close()
    if with_torrent:
        write_torrent(os.path.join(downloads, "album.torrent"), files)
    return root


def measure(headless, root, running, idle):
    shell = Shell(headless, root)
    shell.say("answer 0")
    if running:
        torrent = os.path.join(root, DOWNLOADS, "album.torrent")
        shell.say(f"set DownloadTorrent {torrent}\nset DownloadTorrentName album.torrent\nset DownloadTorrentBool Yes\n"
                  "tab 3\nanswer 1\nwait 2")
    start = time.time()
    shell.say("tab 2\nrows")
    shown = time.time() - start
    rss = status_kib(shell.proc.pid, "VmRSS")
    before = cpu_seconds(shell.proc.pid)
    time.sleep(idle)
    busy = cpu_seconds(shell.proc.pid) - before
    hwm = status_kib(shell.proc.pid, "VmHWM")
    shell.close()
    return shown, rss, busy / idle, hwm


def measure_open(headless, root):
    """Seconds from the start to the question of `--open`, and the peak resident memory."""
    torrent = os.path.join(root, DOWNLOADS, "album.torrent")
    start = time.time()
    shell = Shell(headless, root, ["--open", torrent])
    shell.say("answer 0\nalert")
    seconds = time.time() - start
    hwm = status_kib(shell.proc.pid, "VmHWM")
    shell.close()
    return seconds, hwm


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--files", type=int, default=CAP, help=f"files in the torrent (default the cap, {CAP})")
    p.add_argument("--idle", type=float, default=10, help="seconds to watch the shown tab")
    p.add_argument("--headless", default=os.environ.get("QUORVANE_HEADLESS", os.path.join(TOP, "build", "bin", "quorvane-headless")))
    args = p.parse_args()
    with tempfile.TemporaryDirectory(prefix="quorvane-capbench-") as top:
        empty = measure(args.headless, device(top, False, False, 0), False, 1)
        plain = measure(args.headless, device(top, True, False, 0), False, args.idle)
        cap_root = device(top, True, True, args.files)
        cap = measure(args.headless, cap_root, True, args.idle)
        size = os.path.getsize(os.path.join(cap_root, DOWNLOADS, "album.torrent"))
        print(f"torrent: {args.files} files, {size / 1e6:.1f} MB")
        print(f"{'':8} {'show s':>8} {'RSS MiB':>8} {'above empty':>12} {'idle CPU':>9} {'peak MiB':>9}")
        for name, (shown, rss, cpu, hwm) in (("empty", empty), ("plain", plain), ("cap", cap)):
            print(f"{name:8} {shown:8.3f} {rss / 1024:8.1f} {(rss - empty[1]) / 1024:12.1f} {cpu * 100:8.2f}% {hwm / 1024:9.1f}")
        print(f"cap/plain: show {cap[0] / max(plain[0], 1e-6):.2f}x, memory above empty "
              f"{(cap[1] - empty[1]) / 1024:.1f} MiB against {(plain[1] - empty[1]) / 1024:.1f} MiB "
              f"(+{(cap[1] - plain[1]) / 1024:.1f} MiB), idle CPU {cap[2] * 100:.2f}% against {plain[2] * 100:.2f}%")
        seconds, hwm = measure_open(args.headless, cap_root)
        base_seconds, base_hwm = measure_open(args.headless, device(top, False, True, 1))
        print(f"--open of the cap torrent: {seconds:.2f} s to the question, peak {hwm / 1024:.1f} MiB; "
              f"of a one-file torrent: {base_seconds:.2f} s, peak {base_hwm / 1024:.1f} MiB "
              f"(+{seconds - base_seconds:.2f} s, +{(hwm - base_hwm) / 1024:.1f} MiB)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
