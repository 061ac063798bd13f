#!/usr/bin/python3
"""A magnet link in the service against a plain libtorrent session, and what
the service's DHT node costs, side by side in one run.

1. Magnet links. A loopback swarm (tests/e2e/ltswarm.py --dht: a libtorrent
   seeder, a UDP-only tracker, DHT nodes on 127.0.0.3/.4) serves a payload of
   SIZE bytes. For a trackerless link (its hash alone: the DHT) and for one
   whose tr is the UDP tracker, RUNS times each:
     quorvane   a service on a new device root, the headless view opening the
                link and answering the question Yes; timed from the Yes to
                the fetched .torrent kept in the downloads folder (metadata)
                and to the client's file holding every byte of the payload
                (last byte);
     libtorrent a plain session of python3-libtorrent on 127.0.0.5, started
                at its own Yes with the same DHT node to start from, adding
                the same link; timed to its metadata_received_alert and to its
                file holding every byte.
   Both files are checked piece by piece against the seeder's payload by the
   same poll. Prints the medians and the ratios quorvane/libtorrent. Target:
   at most 1.5 for the metadata.

2. Memory and idle CPU. COUNT public torrents whose trackers are gone (their
   clients run, finding no one) are handed to a service on a new device
   root, once with the DHT node on (started from the loopback swarm's node)
   and once with it off (FindPeersWithoutTrackers No). Past the start, over
   SECONDS seconds: the service's PSS and private memory
   (/proc/PID/smaps_rollup) and CPU share (/proc/PID/stat). Prints both and
   the ratios on/off. The PSS of the shared libraries depends on what else
   runs on the machine; the private bytes compare across runs.

Run by hand, not in CI, with Debian's Python (it has the libtorrent binding):

    bench/transfers/magnet.py [--build DIR] [--runs 5] [--size BYTES] [--count 20] [--seconds 30]
                              [--only magnets|memory]
"""
import argparse
import hashlib
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SYSTEM_PYTHON = "/usr/bin/python3"
try:
    import libtorrent as lt
except ImportError:
    # libtorrent's binding is Debian's, for Debian's Python.
    if os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON) and os.path.exists(SYSTEM_PYTHON):
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
    raise

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))
from headless_test import DOWNLOADS, hand_over  # noqa: E402
from swarm import free_port, info_hash  # noqa: E402

LTSWARM = os.path.join(TOP, "tests", "e2e", "ltswarm.py")
TICKS = os.sysconf("SC_CLK_TCK")
NAME = "lt-sample"
PIECE = 256 * 1024  # ltswarm.py's piece size
POLL = 0.01


def memory_kib(pid):
    """PSS, and the private part alone: the PSS of shared libraries moves
    with whatever else maps them, the private bytes do not."""
    fields = {}
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3 and parts[2] == "kB":
                fields[parts[0].rstrip(":")] = int(parts[1])
    return fields.get("Pss", 0), fields.get("Private_Clean", 0) + fields.get("Private_Dirty", 0)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


class Payload:
    """The seeder's bytes, and a check of a download against them that reads
    only the pieces not yet found right (a right piece stays right)."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        self.size = len(data)
        self.pieces = [hashlib.sha1(data[i:i + PIECE]).digest() for i in range(0, len(data), PIECE)]

    def checker(self, path):
        left = set(range(len(self.pieces)))

        def complete():
            try:
                with open(path, "rb") as f:
                    for index in sorted(left):
                        f.seek(index * PIECE)
                        if hashlib.sha1(f.read(PIECE)).digest() == self.pieces[index]:
                            left.discard(index)
            except FileNotFoundError:
                return False
            return not left
        return complete


class Swarm:
    def __init__(self, work, size, tiers):
        self.work = work
        self.proc = subprocess.Popen(
            [SYSTEM_PYTHON, LTSWARM, "--dir", os.path.join(work, "swarm"), "--torrent-out", os.path.join(work, "made"),
             "--name", NAME + ".bin", "--size", str(size), "--dht", "--tiers", tiers, "--lifetime", "3600"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().strip()
        if not line.startswith("ready "):
            self.stop()
            sys.exit(f"magnet.py: the loopback swarm did not start: {line}")
        self.torrent, *fields = line[len("ready "):].split()
        self.dht = next(f[len("dht="):] for f in fields if f.startswith("dht="))
        self.hash = info_hash(self.torrent)
        self.payload = Payload(os.path.join(work, "swarm", "seed", NAME + ".bin"))
        self.udp = [t.url for t in lt.torrent_info(self.torrent).trackers() if t.url.startswith("udp://")]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()


def client_pids(root):
    return [int(p) for p in subprocess.run(["pgrep", "-f", "ctorrent -S .*" + re.escape(root)], capture_output=True,
                                           text=True).stdout.split()]


class Device:
    """A device root with a service of its own; stopped with its clients."""

    def __init__(self, build, parent, name):
        self.root = os.path.join(parent, name)
        os.makedirs(os.path.join(self.root, "usr/bin"))
        os.symlink("/usr/bin/ctorrent", os.path.join(self.root, "usr/bin/ctorrent"))
        self.build = build
        self.log_path = os.path.join(self.root, "service.log")
        self.procs = []
        with open(self.log_path, "w") as log:
            self.service = subprocess.Popen([self.binary("quorvane-service"), "--root", self.root, "--verbose"],
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=log)
        self.procs.append(self.service)
        deadline = time.monotonic() + 20
        while "serves" not in self.log() and time.monotonic() < deadline:
            time.sleep(0.02)
        if "serves" not in self.log():
            self.stop()
            sys.exit("magnet.py: the service did not start:\n" + self.log())

    def binary(self, name):
        return os.path.join(self.build, "bin", name)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def log(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def view(self, *args):
        view = subprocess.Popen([self.binary("quorvane-headless"), "--root", self.root, *args, "--script", "-"],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, bufsize=1)
        self.procs.append(view)
        return view

    def stop(self):
        for pid in client_pids(self.root):
            os.kill(pid, signal.SIGKILL)
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            for pipe in (proc.stdin, proc.stdout):
                if pipe:
                    pipe.close()


def read_until(proc, text, timeout):
    """Lines of proc's output until one holds text; what was read."""
    seen = []
    done = threading.Event()

    def read():
        for line in proc.stdout:
            seen.append(line)
            if text in line:
                done.set()
                return
        done.set()
    threading.Thread(target=read, daemon=True).start()
    done.wait(timeout)
    out = "".join(seen)
    if text not in out:
        raise RuntimeError(f"no \"{text}\" within {timeout} s:\n{out}")
    return out


def inf(seconds):
    return float("inf") if seconds is None else seconds


def ms(seconds, args, width=7):
    if seconds is None or seconds == float("inf"):
        return f"{'>' + str(int(args.timeout * 1000)):>{width}}" + ("" if width == 10 else " ms")
    return f"{seconds * 1000:{width}.0f}" + ("" if width == 10 else " ms")


def ratio(a, b):
    return f"{a / b:6.2f}" if a != float("inf") and b != float("inf") else f"{'-':>6}"


def drain(proc):
    threading.Thread(target=lambda: [None for _ in proc.stdout], daemon=True).start()


def quorvane_run(args, swarm, link, parent, index):
    """Seconds from the Yes to the metadata kept, and to the last byte."""
    device = Device(args.build, parent, f"quorvane-{index}")
    try:
        view = device.view("--open", link)
        view.stdin.write(f"set DHTBootstrapNodes {swarm.dht}\nalert\necho asked\n")
        read_until(view, "asked", 30)
        kept = device.path(DOWNLOADS, NAME + ".torrent")
        complete = swarm.payload.checker(device.path(DOWNLOADS, NAME + ".bin"))
        begin = time.monotonic()
        view.stdin.write("answer 1\n")
        drain(view)
        metadata = last = None
        deadline = begin + args.timeout
        while time.monotonic() < deadline:
            if metadata is None and os.path.exists(kept):
                metadata = time.monotonic() - begin
            if metadata is not None and complete():
                last = time.monotonic() - begin
                break
            time.sleep(POLL)
        if metadata is not None:
            if "its metadata arrived and is kept as" not in device.log():
                raise RuntimeError("quorvane: the .torrent is there but the log does not say it arrived:\n" + device.log()[-3000:])
            if info_hash(kept) != swarm.hash:
                raise RuntimeError("quorvane: the kept .torrent is not the swarm's")
        if args.verbose and last is None:
            print(device.log()[-4000:], flush=True)
        view.stdin.write("quit\n")
        view.stdin.close()
        try:
            view.wait(timeout=30)
        except subprocess.TimeoutExpired:
            pass
        return metadata, last
    finally:
        device.stop()


def libtorrent_run(args, swarm, link, parent, index):
    """The same with a plain libtorrent session."""
    save = os.path.join(parent, f"libtorrent-{index}")
    os.makedirs(save)
    complete = swarm.payload.checker(os.path.join(save, NAME + ".bin"))
    begin = time.monotonic()
    session = lt.session({
        "listen_interfaces": f"127.0.0.5:{free_port('127.0.0.5')}", "outgoing_interfaces": "127.0.0.5",
        "enable_dht": True, "dht_bootstrap_nodes": swarm.dht,
        # Loopback nodes share one network, as in the service's node.
        "dht_restrict_routing_ips": False, "dht_restrict_search_ips": False,
        "enable_lsd": False, "enable_upnp": False, "enable_natpmp": False,
        # The seeder speaks TCP alone, and so does the service's fetch: no time lost on uTP first.
        "enable_outgoing_utp": False, "enable_incoming_utp": False,
        "allow_multiple_connections_per_ip": True,
        "alert_mask": lt.alert_category.status | lt.alert_category.error,
    })
    try:
        params = lt.parse_magnet_uri(link)
        params.save_path = save
        handle = session.add_torrent(params)
        metadata = None
        deadline = begin + args.timeout
        while time.monotonic() < deadline:
            session.wait_for_alert(int(POLL * 1000))
            for alert in session.pop_alerts():
                if metadata is None and isinstance(alert, lt.metadata_received_alert):
                    metadata = time.monotonic() - begin
            if metadata is not None and complete():
                return metadata, time.monotonic() - begin
        if args.verbose:
            peers = [f"{p.ip[0]}:{p.ip[1]}" for p in handle.get_peer_info()]
            print(f"  libtorrent: {handle.status().list_peers} peers known, connected to {peers or 'none'}", flush=True)
        return metadata, None
    finally:
        del session
        shutil.rmtree(save, ignore_errors=True)


def magnets(args, parent):
    rows = []
    for mode, tiers in (("trackerless", "http://127.0.0.1:{dead}/announce"), ("udp tracker", "udp://127.0.0.1:{udp}/announce")):
        work = os.path.join(parent, mode.replace(" ", "-"))
        os.makedirs(work)
        swarm = Swarm(work, args.size, tiers)
        try:
            link = f"magnet:?xt=urn:btih:{swarm.hash}&dn={NAME}"
            if mode == "udp tracker":
                link += "&tr=" + swarm.udp[0]
            times = {"quorvane": [], "libtorrent": []}
            for i in range(args.runs):
                # Alternated, so that whatever the swarm gathers over the runs falls on both alike.
                for who, run in (("quorvane", quorvane_run), ("libtorrent", libtorrent_run)):
                    got = run(args, swarm, link, work, i)
                    times[who].append(got)
                    print(f"  {mode:12} run {i + 1} {who:10} metadata {ms(got[0], args)}   last byte {ms(got[1], args)}", flush=True)
            rows.append((mode, times))
        finally:
            swarm.stop()
    print()
    print(f"magnet links, {args.size // (1024 * 1024)} MiB payload, median of {args.runs} runs (ms):")
    print(f"  {'':12} {'quorvane':>10} {'libtorrent':>10} {'ratio':>6}   {'quorvane':>10} {'libtorrent':>10} {'ratio':>6}")
    print(f"  {'':12} {'metadata':>10} {'':>10} {'':>6}   {'last byte':>10} {'':>10} {'':>6}")
    for mode, times in rows:
        # A run that timed out counts as the longest.
        q = [statistics.median(inf(t[k]) for t in times["quorvane"]) for k in (0, 1)]
        r = [statistics.median(inf(t[k]) for t in times["libtorrent"]) for k in (0, 1)]
        print(f"  {mode:12} {ms(q[0], args, 10)} {ms(r[0], args, 10)} {ratio(q[0], r[0])}"
              f"   {ms(q[1], args, 10)} {ms(r[1], args, 10)} {ratio(q[1], r[1])}")
    print("  (target: the metadata's ratio at most 1.50)")


def make_torrents(folder, count):
    """count public torrents of 1 MiB whose only tracker nobody answers on."""
    dead = free_port("127.0.0.1")
    data = os.path.join(folder, "data")
    os.makedirs(data)
    paths = []
    for i in range(count):
        payload = os.path.join(data, f"gone-{i + 1}.bin")
        with open(payload, "wb") as f:
            f.write(os.urandom(1024 * 1024))
        fs = lt.file_storage()
        lt.add_files(fs, payload)
        made = lt.create_torrent(fs, PIECE, flags=lt.create_torrent.v1_only)
        made.add_tracker(f"http://127.0.0.1:{dead}/announce", 0)
        lt.set_piece_hashes(made, data)
        path = os.path.join(folder, f"gone-{i + 1}.torrent")
        with open(path, "wb") as f:
            f.write(lt.bencode(made.generate()))
        paths.append(path)
    return paths


def service_cost(args, parent, dht, torrents, on):
    device = Device(args.build, parent, "dht-on" if on else "dht-off")
    try:
        script = f"set TransfersAtOnce {len(torrents)}\n" + f"set DHTBootstrapNodes {dht}\n" \
            + ("" if on else "set FindPeersWithoutTrackers No\n")
        for i, path in enumerate(torrents):
            kept = device.path(DOWNLOADS, os.path.basename(path))
            shutil.copy(path, kept)
            script += hand_over(kept, os.path.basename(kept), first=(i == 0), leave=(i > 0))
        script += "wait 3\nquit\n"
        view = device.view()
        out, _ = view.communicate(script, timeout=300)
        if view.returncode != 0:
            raise RuntimeError("the view failed:\n" + out)
        deadline = time.monotonic() + 30
        while len(client_pids(device.root)) < len(torrents) and time.monotonic() < deadline:
            time.sleep(0.2)
        clients = len(client_pids(device.root))
        if clients != len(torrents):
            raise RuntimeError(f"expected {len(torrents)} running clients, found {clients}")
        time.sleep(args.settle)  # past the start's own work
        pid = device.service.pid
        start = cpu_seconds(pid)
        time.sleep(args.seconds)
        cpu = 100.0 * (cpu_seconds(pid) - start) / args.seconds
        pss, private = memory_kib(pid)
        if len(client_pids(device.root)) != len(torrents):
            raise RuntimeError("clients ended while measured")
        if on and "DHT node on port" not in device.log():
            raise RuntimeError("the DHT node did not start:\n" + device.log()[-3000:])
        if not on and "DHT node on port" in device.log():
            raise RuntimeError("the DHT node started though it is off")
        return pss, private, cpu
    finally:
        device.stop()


def memory(args, parent):
    work = os.path.join(parent, "memory")
    os.makedirs(work)
    torrents = make_torrents(os.path.join(work, "torrents"), args.count)
    # A DHT of loopback nodes for the node to join; its seeder's torrent is none of the measured ones.
    swarm = Swarm(work, 256 * 1024, "http://127.0.0.1:{dead}/announce")
    try:
        on_pss, on_private, on_cpu = service_cost(args, work, swarm.dht, torrents, True)
        off_pss, off_private, off_cpu = service_cost(args, work, swarm.dht, torrents, False)
    finally:
        swarm.stop()
    print()
    print(f"the service with {args.count} public transfers running, over {args.seconds:.0f} s:")
    print(f"  DHT on   PSS {on_pss / 1024:7.2f} MB   private {on_private / 1024:7.2f} MB   CPU {on_cpu:6.3f} % of a core")
    print(f"  DHT off  PSS {off_pss / 1024:7.2f} MB   private {off_private / 1024:7.2f} MB   CPU {off_cpu:6.3f} % of a core")
    print(f"  ratio on/off: PSS {on_pss / max(off_pss, 1):.2f}, private {on_private / max(off_private, 1):.2f},"
          f" CPU {on_cpu / off_cpu if off_cpu else float('inf'):.2f}   (the service's targets: 10 MB PSS, 0.05 %)")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(TOP, "build"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--size", type=int, default=16 * 1024 * 1024, help="the magnet's payload in bytes")
    parser.add_argument("--timeout", type=float, default=120, help="seconds one run may take")
    parser.add_argument("--count", type=int, default=20, help="transfers the service runs while measured")
    parser.add_argument("--seconds", type=float, default=30, help="how long the service is measured")
    parser.add_argument("--settle", type=float, default=10, help="seconds after the clients start before measuring")
    parser.add_argument("--only", choices=("magnets", "memory"))
    parser.add_argument("--verbose", action="store_true", help="the service's log of a run that timed out")
    args = parser.parse_args()
    if args.runs < 1 or args.count < 1 or args.count > 20 or args.size < 1 or args.seconds <= 0:
        parser.error("--runs, --size and --seconds are positive; --count is 1 to 20 (the most transfers at once)")
    args.build = os.path.abspath(args.build)
    for name in ("quorvane-service", "quorvane-headless"):
        if not os.access(os.path.join(args.build, "bin", name), os.X_OK):
            parser.error(f"no {name} in {args.build}/bin: build it first")
    with tempfile.TemporaryDirectory(prefix="quorvane-bench-magnet-") as parent:
        if args.only != "memory":
            magnets(args, parent)
        if args.only != "magnets":
            memory(args, parent)


if __name__ == "__main__":
    main()
