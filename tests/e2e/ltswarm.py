#!/usr/bin/python3
"""A loopback swarm whose seeder is a libtorrent peer and whose tracker
answers over UDP alone: what a torrent from a public site meets.

Makes a payload and a .torrent for it with the trackers given as tiers, starts
opentracker on 127.0.0.1 listening on UDP (its TCP port is another one, so
that an HTTP announce to the torrent's port finds nobody), and a libtorrent
session seeding from 127.0.0.2. Prints "ready TORRENT-PATH udp=PORT hash=HEX"
(and "dht=NODE" with --dht) once the tracker has answered the seeder, then
supervises until its lifetime is over, a signal, or standard input closes.
Needs Debian's python3-libtorrent (run with /usr/bin/python3).

On standard input, the line "asked" prints "asked HEX,HEX,..": the info-hashes
its DHT nodes were asked about (get_peers or announce_peer) since ready.
With --hold, the torrent is made and the tracker started, "made TORRENT-PATH
udp=PORT hash=HEX" printed, and the seeder waits for the line "go": a swarm
that has no peer yet.

--tiers names the trackers: tiers separated by ";", trackers of a tier by
",", where "{udp}" stands for the UDP tracker's port and "{dead}" for a port
nobody listens on.
"""
import argparse
import hashlib
import os
import selectors
import shutil
import signal
import socket
import subprocess
import sys
import time

import libtorrent as lt

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from swarm import die_with_parent, free_port  # noqa: E402


def free_udp_port(host):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((host, 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--dir", required=True)
    p.add_argument("--torrent-out", required=True)
    p.add_argument("--name", default="lt-sample.bin")
    p.add_argument("--size", type=int, default=4 * 1024 * 1024)
    p.add_argument("--tiers", default="udp://127.0.0.1:{udp}/announce")
    p.add_argument("--private", action="store_true")
    p.add_argument("--seed-rate", type=int, default=0, help="the seeder's upload limit in KB/s (0: none)")
    p.add_argument("--lifetime", type=int, default=280)
    p.add_argument("--hold", action="store_true", help='no seeder until the line "go" on standard input')
    p.add_argument("--dht", action="store_true",
                   help="the seeder is on a DHT of loopback nodes (one more node on 127.0.0.3 to start from); "
                        "ready once it has announced there, naming that node")
    args = p.parse_args()

    work = os.path.abspath(args.dir)
    seed_dir = os.path.join(work, "seed")
    os.makedirs(seed_dir, exist_ok=True)
    payload = os.path.join(seed_dir, args.name)
    with open(payload, "wb") as f:
        f.write(os.urandom(args.size))

    udp_port = free_udp_port("127.0.0.1")
    dead = free_port("127.0.0.1")
    fs = lt.file_storage()
    lt.add_files(fs, payload)
    made = lt.create_torrent(fs, 256 * 1024, flags=lt.create_torrent.v1_only)
    for tier, trackers in enumerate(args.tiers.split(";")):
        for url in trackers.split(","):
            made.add_tracker(url.replace("{udp}", str(udp_port)).replace("{dead}", str(dead)), tier)
    made.set_priv(args.private)
    lt.set_piece_hashes(made, seed_dir)
    data = lt.bencode(made.generate())
    os.makedirs(args.torrent_out, exist_ok=True)
    torrent = os.path.join(args.torrent_out, os.path.splitext(args.name)[0] + ".torrent")
    with open(torrent, "wb") as f:
        f.write(data)
    info = lt.torrent_info(torrent)
    ihash = str(info.info_hashes().v1)

    # The tracker changes root into its folder and drops to another user.
    tracker_dir = os.path.join(work, "tracker")
    os.makedirs(tracker_dir, exist_ok=True)
    os.chmod(tracker_dir, 0o755)
    with open(os.path.join(tracker_dir, "whitelist"), "w") as f:
        f.write(ihash + "\n")
    os.chmod(os.path.join(tracker_dir, "whitelist"), 0o644)
    children = []
    log = open(os.path.join(work, "tracker.log"), "wb")
    children.append(subprocess.Popen(
        [shutil.which("opentracker") or "/usr/bin/opentracker", "-i", "127.0.0.1", "-p", str(free_port("127.0.0.1")),
         "-P", str(udp_port), "-w", "/whitelist", "-d", tracker_dir],
        stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, preexec_fn=die_with_parent))
    # It reads its whitelist on a thread of its own once it listens.
    time.sleep(1.0)

    fields = f"udp={udp_port} hash={ihash}"
    lines = Lines()
    line = ""
    if args.hold:
        print(f"made {torrent} {fields}", flush=True)
        end = time.time() + args.lifetime
        while time.time() < end:
            line = lines.next(1.0)
            if line is None or line == "go":
                break
        if line != "go":
            for c in children:
                c.kill()
            sys.exit(0)

    dht_settings = {"enable_dht": False}
    node = None
    if args.dht:
        node_port = free_port("127.0.0.3")
        node = lt.session({
            "listen_interfaces": f"127.0.0.3:{node_port}", "outgoing_interfaces": "127.0.0.3",
            "enable_dht": True, "enable_lsd": False, "enable_upnp": False, "enable_natpmp": False,
            "dht_bootstrap_nodes": "", "dht_restrict_routing_ips": False, "dht_restrict_search_ips": False,
            "alert_mask": lt.alert_category.dht,
        })
        dht_settings = {"enable_dht": True, "dht_bootstrap_nodes": f"127.0.0.3:{node_port}",
                        "dht_restrict_routing_ips": False, "dht_restrict_search_ips": False}
    seed_port = free_port("127.0.0.2")
    session = lt.session({
        "listen_interfaces": f"127.0.0.2:{seed_port}",
        "outgoing_interfaces": "127.0.0.2",
        **dht_settings,
        "enable_lsd": False, "enable_upnp": False, "enable_natpmp": False,
        # The transfer client speaks TCP alone: no time lost on uTP first.
        "enable_outgoing_utp": False, "enable_incoming_utp": False,
        "announce_to_all_tiers": True, "announce_to_all_trackers": True,
        "upload_rate_limit": args.seed_rate * 1024,
        "allow_multiple_connections_per_ip": True,
        "alert_mask": lt.alert_category.status | lt.alert_category.error | lt.alert_category.tracker | lt.alert_category.dht,
    })
    if args.seed_rate:
        # Peers on a local network are exempt from limits by default; these are all local.
        every = lt.ip_filter()
        every.add_rule("0.0.0.0", "255.255.255.255", 1 << lt.session.global_peer_class_id)
        session.set_peer_class_filter(every)
    params = lt.add_torrent_params()
    params.ti = info
    params.save_path = seed_dir
    params.flags = lt.torrent_flags.seed_mode
    handle = session.add_torrent(params)

    def stop(*why):
        if why:
            print(f"ltswarm: ended by signal {why[0]}", file=sys.stderr, flush=True)
        for c in children:
            c.terminate()
        for c in children:
            try:
                c.wait(timeout=5)
            except subprocess.TimeoutExpired:
                c.kill()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    deadline = time.time() + 30
    answered = False
    looker = None
    # A private torrent is never on the DHT: ready once its tracker answers,
    # and no node of ours ever asks for its hash.
    if args.dht and not args.private:
        # Ready once another node's lookup finds the seeder, as ours will.
        looker = lt.session({
            "listen_interfaces": f"127.0.0.4:{free_port('127.0.0.4')}", "outgoing_interfaces": "127.0.0.4",
            "enable_lsd": False, "enable_upnp": False, "enable_natpmp": False, **dht_settings,
            "alert_mask": lt.alert_category.dht | lt.alert_category.dht_operation,
        })
    asked = 0
    while time.time() < deadline and not answered:
        session.wait_for_alert(200)
        for alert in session.pop_alerts():
            if isinstance(alert, lt.tracker_reply_alert) and alert.url.startswith("udp://") and not looker:
                answered = True
        if node:
            node.pop_alerts()
        if looker:
            if time.time() - asked > 2:
                looker.dht_get_peers(info.info_hashes().v1)
                handle.force_dht_announce()
                asked = time.time()
            for alert in looker.pop_alerts():
                if isinstance(alert, lt.dht_get_peers_reply_alert) and any(p[1] == seed_port for p in alert.peers()):
                    answered = True
        elif not answered and int(time.time()) % 5 == 0:
            handle.force_reannounce()
    if not answered:
        print("error the " + ("DHT" if looker else "UDP tracker") + " did not answer the seeder", flush=True)
        stop()
    if node:
        node.pop_alerts()
    print("ready " + torrent + " " + fields + (f" dht=127.0.0.3:{node_port}" if args.dht else ""), flush=True)

    # What the nodes are asked from now on: the seeder's own lookups are over.
    asked = []
    end = time.time() + args.lifetime
    while time.time() < end and all(c.poll() is None for c in children):
        line = lines.next(0.2)
        if line is None:
            break
        for s in (session, node, looker):
            for alert in s.pop_alerts() if s else ():
                if isinstance(alert, (lt.dht_get_peers_alert, lt.dht_announce_alert)):
                    h = str(alert.info_hash)
                    if h not in asked:
                        asked.append(h)
        if line == "asked":
            print("asked " + ",".join(asked), flush=True)
    stop()


class Lines:
    """Lines of standard input, waited for with a bound; None once it closes."""

    def __init__(self):
        self.sel = selectors.DefaultSelector()
        try:
            self.sel.register(sys.stdin, selectors.EVENT_READ)
        except (PermissionError, ValueError):
            self.sel = None  # standard input is no pipe (a file, /dev/null): the lifetime alone
        self.buffer = b""

    def next(self, seconds):
        """The next whole line, "" where none came within seconds, None at the end."""
        if b"\n" not in self.buffer:
            if self.sel is None:
                time.sleep(seconds)
                return ""
            if self.sel.select(timeout=seconds):
                chunk = sys.stdin.buffer.read1(4096)
                if not chunk:
                    return None
                self.buffer += chunk
        if b"\n" not in self.buffer:
            return ""
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode().strip()


if __name__ == "__main__":
    main()
