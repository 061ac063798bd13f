#!/usr/bin/python3
"""A DHT and a swarm on loopback for the DHT tests, made of libtorrent sessions
(Debian's python3-libtorrent: run with /usr/bin/python3).

  127.0.0.2  a DHT node the others bootstrap from
  127.0.0.3  a seeder of a small torrent of several files, on the DHT
  127.0.0.4  a DHT node that looks hashes up for the test
  127.0.0.5  a peer that answers the torrent's metadata requests with wrong
             bytes, one more than there are (a plain socket: libtorrent serves
             only metadata that matches)

Prints one line once the seeder is found on the DHT:
  ready <hash hex> <info hex> <bootstrap host:port> <seeder host:port> <liar host:port>
then answers lines on standard input:
  lookup <hash hex> <port>  ->  "found" once the looking node's get_peers
                                 lists 127.0.0.1:<port>, else "missing" (30 s)
and ends when standard input closes, on SIGTERM, or after its lifetime.
"""
import ctypes
import hashlib
import os
import selectors
import shutil
import signal
import socket
import struct
import sys
import tempfile
import threading
import time

import libtorrent as lt

LIFETIME = 240


def die_with_parent():
    try:
        ctypes.CDLL("libc.so.6").prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except OSError:
        pass


def free_port(host):
    s = socket.socket()
    s.bind((host, 0))
    port = s.getsockname()[1]
    s.close()
    return port


def dht_session(host, bootstrap):
    port = free_port(host)
    session = lt.session({
        "listen_interfaces": f"{host}:{port}",
        "outgoing_interfaces": host,
        "enable_dht": True, "enable_lsd": False, "enable_upnp": False, "enable_natpmp": False,
        "enable_outgoing_utp": False, "enable_incoming_utp": False,
        "dht_bootstrap_nodes": bootstrap,
        "dht_restrict_routing_ips": False, "dht_restrict_search_ips": False,
        "allow_multiple_connections_per_ip": True,
        "alert_mask": lt.alert_category.dht | lt.alert_category.dht_operation | lt.alert_category.status,
    })
    return session, port


def make_torrent(folder):
    root = os.path.join(folder, "sample")
    for i in range(5):
        sub = os.path.join(root, "part" if i % 2 else "", f"file-{i}.bin")
        os.makedirs(os.path.dirname(sub), exist_ok=True)
        with open(sub, "wb") as f:
            f.write(os.urandom(20000 + i))
    fs = lt.file_storage()
    lt.add_files(fs, root)
    made = lt.create_torrent(fs, 16 * 1024, flags=lt.create_torrent.v1_only)
    lt.set_piece_hashes(made, folder)
    info = lt.torrent_info(lt.bencode(made.generate()))
    return info


class Liar(threading.Thread):
    """Answers every metadata request with wrong bytes."""

    def __init__(self, host, info_hash, size):
        super().__init__(daemon=True)
        self.server = socket.socket()
        self.server.bind((host, 0))
        self.server.listen(8)
        self.port = self.server.getsockname()[1]
        self.info_hash = info_hash
        self.bogus = hashlib.sha256(b"not the info").digest() * (size // 32 + 1)
        # One byte more than the truth: the library keeps the first size it is
        # told, so no honest answer would fit after this one.
        self.bogus = self.bogus[:size + 1]

    def run(self):
        while True:
            conn, _ = self.server.accept()
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    @staticmethod
    def read(conn, n):
        data = b""
        while len(data) < n:
            chunk = conn.recv(n - len(data))
            if not chunk:
                raise ConnectionError
            data += chunk
        return data

    def serve(self, conn):
        try:
            head = self.read(conn, 68)
            if head[28:48] != self.info_hash:
                return
            reserved = bytearray(8)
            reserved[5] |= 0x10
            conn.sendall(bytes([19]) + b"BitTorrent protocol" + bytes(reserved) + self.info_hash + os.urandom(20))
            ours = 3
            handshake = lt.bencode({"m": {"ut_metadata": ours}, "metadata_size": len(self.bogus)})
            conn.sendall(struct.pack(">IBB", len(handshake) + 2, 20, 0) + handshake)
            theirs = None
            while True:
                (length,) = struct.unpack(">I", self.read(conn, 4))
                if length == 0:
                    continue
                body = self.read(conn, length)
                if body[0] != 20:
                    continue
                if body[1] == 0:
                    theirs = lt.bdecode(body[2:]).get(b"m", {}).get(b"ut_metadata")
                elif body[1] == ours and theirs:
                    piece = lt.bdecode(body[2:]).get(b"piece", 0)
                    block = self.bogus[piece * 16384:(piece + 1) * 16384]
                    reply = lt.bencode({"msg_type": 1, "piece": piece, "total_size": len(self.bogus)}) + block
                    conn.sendall(struct.pack(">IBB", len(reply) + 2, 20, theirs) + reply)
        except (ConnectionError, OSError):
            pass
        finally:
            conn.close()


def peers_of(session, info_hash, port, seconds):
    """Whether the node's lookups of the hash list 127.0.0.1:port within the time."""
    end = time.time() + seconds
    asked = 0
    while time.time() < end:
        if time.time() - asked > 2:
            session.dht_get_peers(info_hash)
            asked = time.time()
        session.wait_for_alert(200)
        for alert in session.pop_alerts():
            if isinstance(alert, lt.dht_get_peers_reply_alert) and alert.info_hash == info_hash:
                if any(p[1] == port and p[0] in ("127.0.0.1", "127.0.0.3") for p in alert.peers()):
                    return True
    return False


def main():
    die_with_parent()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    work = tempfile.mkdtemp(prefix="ltdht-")
    try:
        serve(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def serve(work):
    boot, boot_port = dht_session("127.0.0.2", "")
    nodes = f"127.0.0.2:{boot_port}"
    seeder, seed_port = dht_session("127.0.0.3", nodes)
    looker, _ = dht_session("127.0.0.4", nodes)

    info = make_torrent(work)
    params = lt.add_torrent_params()
    params.ti = info
    params.save_path = work
    params.flags = lt.torrent_flags.seed_mode
    handle = seeder.add_torrent(params)
    info_hash = info.info_hashes().v1

    liar = Liar("127.0.0.5", info_hash.to_bytes(), len(info.info_section()))
    liar.start()

    # The seeder announces until the looking node finds it: the DHT works.
    end = time.time() + 60
    found = False
    while not found and time.time() < end:
        handle.force_dht_announce()
        found = peers_of(looker, info_hash, seed_port, 3)
    if not found:
        print("error the seeder was not found on the loopback DHT", flush=True)
        return
    print("ready", str(info_hash), info.info_section().hex(), nodes, f"127.0.0.3:{seed_port}",
          f"127.0.0.5:{liar.port}", flush=True)

    sel = selectors.DefaultSelector()
    sel.register(sys.stdin, selectors.EVENT_READ)
    end = time.time() + LIFETIME
    while time.time() < end:
        if not sel.select(timeout=0.5):
            for s in (boot, seeder, looker):
                s.pop_alerts()
            continue
        line = sys.stdin.readline()
        if not line:
            break
        words = line.split()
        if len(words) == 3 and words[0] == "lookup":
            hit = peers_of(looker, lt.sha1_hash(bytes.fromhex(words[1])), int(words[2]), 30)
            print("found" if hit else "missing", flush=True)


if __name__ == "__main__":
    main()
