#!/usr/bin/env python3
"""A small BitTorrent swarm on loopback for end-to-end tests and the demo.

Makes a payload file and a .torrent for it (with the real transfer client),
starts a tracker (opentracker, serving only this torrent's info hash) on
127.0.0.1 and a seeding transfer client that listens and announces on
127.0.0.2, so that a downloading client on 127.0.0.1 can reach it. Prints
"ready TORRENT-PATH" once the seeder has announced, then supervises: it stops
everything when its lifetime is over, on SIGTERM/SIGINT, or when standard
input closes (with --watch-stdin), so nothing outlives the caller.
"""
import argparse
import ctypes
import hashlib
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import time
import urllib.request

PR_SET_PDEATHSIG = 1


def die_with_parent():
    # The children end with this supervisor, whatever ends it.
    try:
        ctypes.CDLL("libc.so.6", use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
    except OSError:
        pass


def bdecode(data, i=0):
    """Returns (value, end); dict values keep their raw byte span under key b'__raw__' + key."""
    c = data[i:i + 1]
    if c == b"i":
        end = data.index(b"e", i)
        return int(data[i + 1:end]), end + 1
    if c == b"l":
        i += 1
        out = []
        while data[i:i + 1] != b"e":
            v, i = bdecode(data, i)
            out.append(v)
        return out, i + 1
    if c == b"d":
        i += 1
        out = {}
        while data[i:i + 1] != b"e":
            k, i = bdecode(data, i)
            start = i
            v, i = bdecode(data, i)
            out[k] = v
            out[b"__raw__" + k] = data[start:i]
        return out, i + 1
    colon = data.index(b":", i)
    n = int(data[i:colon])
    return data[colon + 1:colon + 1 + n], colon + 1 + n


def info_hash(torrent_path):
    with open(torrent_path, "rb") as f:
        meta, _ = bdecode(f.read())
    return hashlib.sha1(meta[b"__raw__info"]).hexdigest()


def free_port(host):
    s = socket.socket()
    s.bind((host, 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_port(host, port, deadline):
    while time.time() < deadline:
        try:
            socket.create_connection((host, port), timeout=0.5).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def tracker_knows_seeder(port, ihash, deadline):
    # The seeder's first announce may come while it still checks its pieces, so
    # it counts as either kind of peer: what matters is that peers can find it.
    raw = bytes.fromhex(ihash)
    quoted = urllib.parse.quote_from_bytes(raw)
    url = f"http://127.0.0.1:{port}/scrape?info_hash={quoted}"
    while time.time() < deadline:
        try:
            body = urllib.request.urlopen(url, timeout=2).read()
            stats, _ = bdecode(body)
            files = stats.get(b"files", {})
            for key, value in files.items():
                if not key.startswith(b"__raw__") and isinstance(value, dict) and value.get(b"complete", 0) + value.get(b"incomplete", 0) >= 1:
                    return True
        except Exception:
            pass
        time.sleep(0.1)
    return False


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--dir", required=True, help="working folder (created; payload, torrent, logs)")
    p.add_argument("--name", default="quorvane-sample.bin", help="payload file name")
    p.add_argument("--count", type=int, default=1,
                   help="torrents in the swarm, each with a payload and a seeder of its own (NAME-2, NAME-3, ... after the first)")
    p.add_argument("--size", type=int, default=4 * 1024 * 1024, help="payload size in bytes")
    p.add_argument("--files", type=int, default=0,
                   help="make each payload a folder of this many files (a.bin, b.bin, ...) sharing the size")
    p.add_argument("--torrent-out", help="also copy the .torrent into this folder")
    p.add_argument("--lifetime", type=float, default=300, help="seconds until everything stops")
    p.add_argument("--watch-stdin", action="store_true", help="stop when standard input closes")
    p.add_argument("--seed-rate", type=int, default=0,
                   help="the seeder's upload limit in KB/s (0: none), so that a transfer can be watched")
    p.add_argument("--ctorrent", default="/usr/bin/ctorrent")
    p.add_argument("--opentracker", default=shutil.which("opentracker") or "/usr/bin/opentracker")
    args = p.parse_args()

    os.makedirs(args.dir, exist_ok=True)
    work = os.path.abspath(args.dir)
    seed_dir = os.path.join(work, "seed")
    os.makedirs(seed_dir, exist_ok=True)
    names = [args.name] + [f"{args.name}-{i}" for i in range(2, args.count + 1)]
    rng = random.Random(20261207)
    def fill(path, size):
        with open(path, "wb") as f:
            left = size
            while left > 0:
                n = min(left, 1 << 20)
                f.write(rng.randbytes(n))
                left -= n

    for name in names:
        if args.files:
            os.makedirs(os.path.join(seed_dir, name), exist_ok=True)
            for i in range(args.files):
                fill(os.path.join(seed_dir, name, chr(ord("a") + i) + ".bin"), args.size // args.files)
        else:
            fill(os.path.join(seed_dir, name), args.size)

    tracker_port = free_port("127.0.0.1")
    announce = f"http://127.0.0.1:{tracker_port}/announce"
    torrents = []
    for name in names:
        torrent = os.path.join(work, name + ".torrent")
        if os.path.exists(torrent):
            os.unlink(torrent)
        subprocess.run([args.ctorrent, "-t", "-u", announce, "-l", "65536", "-s", torrent, name],
                       cwd=seed_dir, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True)
        torrents.append(torrent)
    hashes = [info_hash(t) for t in torrents]
    # The tracker changes root into its own folder and drops to an unprivileged
    # user, so its folder and whitelist must be readable by anyone.
    tracker_dir = os.path.join(work, "tracker")
    os.makedirs(tracker_dir, exist_ok=True)
    os.chmod(tracker_dir, 0o755)
    with open(os.path.join(tracker_dir, "whitelist"), "w") as f:
        f.write("".join(h + "\n" for h in hashes))
    os.chmod(os.path.join(tracker_dir, "whitelist"), 0o644)

    children = []

    def stop(*_):
        for c in children:
            try:
                c.terminate()
            except ProcessLookupError:
                pass
        for c in children:
            try:
                c.wait(timeout=5)
            except subprocess.TimeoutExpired:
                c.kill()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    log = open(os.path.join(work, "tracker.log"), "wb")
    tracker_cmd = [args.opentracker, "-i", "127.0.0.1", "-p", str(tracker_port), "-P", str(tracker_port),
                   "-w", "/whitelist", "-d", tracker_dir]
    children.append(subprocess.Popen(tracker_cmd, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                     preexec_fn=die_with_parent))
    deadline = time.time() + 15
    if not wait_port("127.0.0.1", tracker_port, deadline):
        print("error tracker did not start", flush=True)
        stop()
    # The tracker reads its whitelist on a thread of its own after it starts
    # listening; an announce before that is refused and retried only later.
    time.sleep(1.0)

    limit = ["-U", str(args.seed_rate)] if args.seed_rate > 0 else []
    for name, torrent in zip(names, torrents):
        seed_port = free_port("127.0.0.2")
        seed_log = open(os.path.join(work, "seeder.log" if name == args.name else f"seeder-{name}.log"), "wb")
        children.append(subprocess.Popen(
            [args.ctorrent, "-e", "1", "-i", "127.0.0.2", "-I", "127.0.0.2", "-p", str(seed_port)] + limit
            + ["-s", name, torrent],
            cwd=seed_dir, stdin=subprocess.DEVNULL, stdout=seed_log, stderr=subprocess.STDOUT,
            preexec_fn=die_with_parent))
    for h in hashes:
        if not tracker_knows_seeder(tracker_port, h, time.time() + 30):
            print("error the seeder did not announce", flush=True)
            stop()

    outs = []
    for torrent in torrents:
        out = torrent
        if args.torrent_out:
            os.makedirs(args.torrent_out, exist_ok=True)
            out = os.path.join(args.torrent_out, os.path.basename(torrent))
            shutil.copyfile(torrent, out)
        outs.append(out)
    print("ready " + " ".join(outs), flush=True)

    end = time.time() + args.lifetime
    if args.watch_stdin:
        import selectors
        sel = selectors.DefaultSelector()
        sel.register(sys.stdin, selectors.EVENT_READ)
        while time.time() < end:
            if sel.select(timeout=max(0.0, min(1.0, end - time.time()))):
                if not sys.stdin.buffer.read1(4096):
                    break
            if any(c.poll() is not None for c in children):
                break
    else:
        while time.time() < end and all(c.poll() is None for c in children):
            time.sleep(0.5)
    stop()


if __name__ == "__main__":
    import urllib.parse  # noqa: E402  (used by tracker_knows_seeder)
    main()
