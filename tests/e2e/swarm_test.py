#!/usr/bin/env python3
"""End-to-end: torrents and magnet links as public sites give them reach
their swarm through the service's tracker gateway and its DHT node. The
seeder is a libtorrent peer and the tracker answers over UDP alone, which the
transfer client cannot speak; a first tier that is dead and whose address
holds a personal key is passed over and never shown; a private torrent never
reaches the DHT; the window and the service are killed on the way, also in
the middle of a magnet's metadata."""
import os
import signal
import socket
import subprocess
import sys
import time
import unittest
import urllib.parse

SYSTEM_PYTHON = "/usr/bin/python3"
try:
    import libtorrent  # noqa: F401
except ImportError:
    # libtorrent's binding is Debian's, for Debian's Python.
    if os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON) and os.path.exists(SYSTEM_PYTHON):
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from headless_test import HEADLESS, DOWNLOADS, Device, hand_over, pid_alive, run_script, wait_gone  # noqa: E402
from live_test import clients_on  # noqa: E402
from service_test import Processes  # noqa: E402
from swarm import info_hash  # noqa: E402

SERVICE = os.environ.get("QUORVANE_SERVICE", os.path.join(os.path.dirname(HEADLESS), "quorvane-service"))
SECRET = "KEYsecret0123"


class SwarmTest(Processes, unittest.TestCase):
    def setUp(self):
        self.device = Device("real")
        self.procs = []
        self.swarm = None

    def tearDown(self):
        self.end_started()
        if self.swarm:
            for pid in clients_on(self.torrent):
                os.kill(pid, signal.SIGKILL)
            self.swarm.stdin.close()
            self.swarm.wait(timeout=30)
            self.swarm.stdout.close()
        self.device.close()

    def start_swarm(self, *options, out=DOWNLOADS):
        self.swarm = subprocess.Popen(
            [SYSTEM_PYTHON, os.path.join(HERE, "ltswarm.py"), "--dir", self.device.path("swarm"),
             "--torrent-out", self.device.path(out), *options],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        first = "made " if "--hold" in options else "ready "
        line = self.swarm.stdout.readline().strip()
        if not line.startswith(first):
            self.swarm.wait(30)
        self.assertTrue(line.startswith(first), f"{line!r}, the swarm ended with {self.swarm.returncode}")
        self.torrent, *rest = line[len(first):].split()
        fields = dict(field.split("=", 1) for field in rest)
        self.dht, self.udp, self.hash = fields.get("dht"), fields["udp"], fields["hash"]
        self.name = os.path.basename(self.torrent)

    def tracker_link(self):
        """A magnet link of the swarm's torrent whose one tracker is its UDP one."""
        tracker = urllib.parse.quote(f"udp://127.0.0.1:{self.udp}/announce", safe="")
        return f"magnet:?xt=urn:btih:{self.hash}&dn=lt-sample&tr={tracker}"

    def asked_on_dht(self):
        """The info-hashes the swarm's DHT nodes have been asked about."""
        self.swarm.stdin.write("asked\n")
        self.swarm.stdin.flush()
        line = self.swarm.stdout.readline().strip()
        self.assertTrue(line.startswith("asked"), line)
        return set(filter(None, line[len("asked"):].strip().split(",")))

    def start_service(self, name):
        service = self.start([SERVICE, "--root", self.device.root, "--verbose"], name)
        deadline = time.time() + 10
        while "serves" not in self.log(name) and time.time() < deadline:
            time.sleep(0.05)
        self.assertIn("serves", self.log(name))
        return service

    def set_defaults(self, **values):
        """Stored settings, set before the service reads them (by a first run, which closes the first-run notice)."""
        done = run_script(self.device.root, "".join(f"set {k} {v}\n" for k, v in values.items()) + "quit\n", timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)

    def assert_same_bytes(self):
        with open(self.device.path("swarm/seed/lt-sample.bin"), "rb") as a, \
                open(self.device.path(DOWNLOADS, "lt-sample.bin"), "rb") as b:
            self.assertTrue(a.read() == b.read(), "every byte arrived, and right")

    def test_a_torrent_whose_only_tracker_is_udp_downloads(self):
        self.start_swarm("--size", str(4 * 1024 * 1024))
        run = self.start([HEADLESS, "--root", self.device.root, "--script", "-"], "shell",
                         hand_over(self.torrent, self.name) + "until 120 Seeding (complete)\ntap Details\n"
                         "wait 3\nrows\necho rows-shown\nquit\n")
        out = self.read_until(run, "rows-shown", 150)
        run.wait(60)
        self.assertEqual(run.returncode, 0, self.log("shell") + out)
        self.assert_same_bytes()
        # The client announced to the gateway; the gateway asked the UDP tracker and shows what it said.
        self.assertRegex(out, r"127\.0\.0\.1:[0-9]+: [0-9]+ peers?, [0-9]+ seeders?", out)

    def test_a_torrent_whose_trackers_are_gone_finds_its_peers_through_the_dht(self):
        self.start_swarm("--size", str(4 * 1024 * 1024), "--dht", "--tiers", "http://127.0.0.1:{dead}/announce")
        run = self.start([HEADLESS, "--root", self.device.root, "--script", "-"], "shell",
                         f"set DHTBootstrapNodes {self.dht}\n" + hand_over(self.torrent, self.name)
                         + "until 20 No tracker answers\necho no-tracker\nuntil 120 Seeding (complete)\nquit\n")
        out = self.read_until(run, "no-tracker", 30)
        self.assertIn("no-tracker", out, "the tab says its trackers are gone: " + self.log("shell"))
        run.wait(150)
        self.assertEqual(run.returncode, 0, self.log("shell"))
        self.assert_same_bytes()
        self.assertRegex(self.log("shell"), r"DHT node on port [0-9]+ \(read-only\), first nodes: 127\.0\.0\.3:")

    def test_a_trackerless_magnet_link_fetches_its_metadata_through_the_dht_and_downloads(self):
        # Only the link: its metadata and its peers come from the DHT alone.
        self.start_swarm("--size", str(4 * 1024 * 1024), "--dht", "--tiers", "http://127.0.0.1:{dead}/announce", out="elsewhere")
        made = self.torrent
        link = f"magnet:?xt=urn:btih:{info_hash(made)}&dn=lt-sample"
        # Where the fetched one is kept, and what its client runs.
        self.torrent = self.device.path(DOWNLOADS, "lt-sample.torrent")
        with open(self.device.path("shell.log"), "w") as log:
            run = subprocess.Popen([HEADLESS, "--root", self.device.root, "--open", link, "--script", "-"], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=log, text=True)
        self.procs.append(run)
        run.stdin.write(f"set DHTBootstrapNodes {self.dht}\nalert\nanswer 1\nuntil 20 Fetching metadata\necho fetching\n"
                        "until 120 Seeding (complete)\nanswer 0\ntap Details\nrows\nquit\n")
        run.stdin.close()
        out = run.stdout.read()
        run.wait(150)
        self.assertEqual(run.returncode, 0, self.log("shell") + out)
        self.assertIn("Do you want to download:\\n lt-sample", out, "asked for by its name")
        self.assertIn("fetching", out)
        # Its client started with the peers the DHT gave the fetch, and the details say so.
        self.assertRegex(out, r"Peers found: trackers 0, DHT [1-9][0-9]*, magnet 0")
        self.assertIn("Trackers: none (its magnet link named none)", out)
        self.assertEqual(info_hash(self.torrent), info_hash(made), "the info dictionary arrived exactly as the hash says")
        self.assert_same_bytes()

    def test_a_magnet_whose_only_tracker_is_udp_downloads_with_the_dht_off(self):
        self.start_swarm("--size", str(4 * 1024 * 1024), out="elsewhere")
        # Where the DHT would begin, were it on: it hears nothing.
        trap = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(trap.close)
        trap.bind(("127.0.0.9", 0))
        trap.setblocking(False)
        self.torrent = self.device.path(DOWNLOADS, "lt-sample.torrent")
        run = self.start([HEADLESS, "--root", self.device.root, "--open", self.tracker_link(), "--script", "-"], "shell",
                         f"set FindPeersWithoutTrackers No\nset DHTBootstrapNodes 127.0.0.9:{trap.getsockname()[1]}\n"
                         "alert\nanswer 1\nuntil 60 Seeding (complete)\nquit\n")
        out = run.stdout.read()
        run.wait(90)
        self.assertEqual(run.returncode, 0, self.log("shell") + out)
        self.assertIn("its metadata arrived and is kept as " + self.torrent, self.log("shell"))
        self.assertEqual(info_hash(self.torrent), self.hash, "the info dictionary arrived exactly as the hash says")
        self.assert_same_bytes()
        with self.assertRaises(BlockingIOError, msg="not one DHT packet left the service"):
            trap.recv(2048)

    def test_a_service_killed_while_a_magnet_fetches_its_metadata_goes_on_after_a_restart(self):
        # The swarm has no seeder until the service is gone: the fetch cannot end first.
        self.start_swarm("--size", str(4 * 1024 * 1024), "--hold", out="elsewhere")
        self.set_defaults(FindPeersWithoutTrackers="No", DHTBootstrapNodes="127.0.0.9:9")
        self.torrent = self.device.path(DOWNLOADS, "lt-sample.torrent")
        service = self.start_service("service-0")
        view = self.start([HEADLESS, "--root", self.device.root, "--open", self.tracker_link(), "--script", "-"], "view-0",
                          "alert\nanswer 1\nuntil 20 Fetching metadata\necho fetching\nuntil 200 never\n")
        out = self.read_until(view, "fetching", 30)
        self.assertIn("fetching", out, self.log("view-0") + self.log("service-0"))
        with open(self.device.path("var/mobile/Library/Preferences/transfers.list")) as f:
            self.assertIn(self.hash, f.read().lower(), "the link is stored before any of its metadata")
        # The view first, or it would take the transfers over when its service goes.
        view.kill()
        view.wait()
        service.kill()
        service.wait()
        self.assertFalse(os.path.exists(self.torrent))

        self.swarm.stdin.write("go\n")
        self.swarm.stdin.flush()
        line = self.swarm.stdout.readline()
        self.assertTrue(line.startswith("ready "), line)
        self.start_service("service-1")
        last = self.start([HEADLESS, "--root", self.device.root, "--script", "-"], "view-1",
                          "tab 3\nuntil 60 Seeding (complete)\necho complete\nquit\n")
        out = self.read_until(last, "complete", 70)
        last.wait(30)
        self.assertEqual(last.returncode, 0, self.log("view-1") + self.log("service-1") + out)
        self.assertIn("complete", out)
        self.assertEqual(info_hash(self.torrent), self.hash)
        self.assert_same_bytes()
        # One transfer, one .torrent: nothing half-written, no second copy under another name.
        self.assertEqual(sorted(os.listdir(self.device.path(DOWNLOADS))), ["lt-sample.bin", "lt-sample.torrent"])
        with open(self.device.path("var/mobile/Library/Preferences/transfers.list")) as f:
            self.assertEqual(f.read().count(self.torrent), 1, "listed once")
        self.assertEqual(len(clients_on(self.torrent)), 1)

    def test_a_private_torrent_never_reaches_the_dht_its_dead_key_tier_is_never_shown_and_killed_processes_lose_nothing(self):
        self.start_swarm("--size", str(8 * 1024 * 1024), "--seed-rate", "400", "--private", "--dht",
                         "--tiers", "http://127.0.0.1:{dead}/" + SECRET + "/announce;udp://127.0.0.1:{udp}/announce")
        self.set_defaults(DHTBootstrapNodes=self.dht)
        service = self.start_service("service")
        # A public magnet beside it keeps the service's DHT node busy the whole time.
        public = os.urandom(20).hex()
        view = self.start([HEADLESS, "--root", self.device.root, "--script", "-"], "view-0",
                          hand_over(self.torrent, self.name, first=False) + "until 90 Downloading\nwait 3\ntap Details\nwait 1\nrows\n"
                          "echo rows-shown\ntap Done\nwait 1\n" + hand_over(f"magnet:?xt=urn:btih:{public}&dn=public", "public", first=False, leave=True)
                          + "until 20 Fetching metadata\necho fetching\nuntil 200 never\n")
        out = self.read_until(view, "rows-shown", 120)
        self.assertIn("rows-shown", out, self.log("view-0") + self.log("service"))
        self.assertRegex(out, r"127\.0\.0\.1:[0-9]+: Could not connect", "the dead tier is shown, by its host alone")
        [client] = clients_on(self.torrent)
        out += self.read_until(view, "fetching", 30)
        self.assertIn("fetching", out, self.log("view-0") + self.log("service"))
        deadline = time.time() + 30
        while public not in self.asked_on_dht() and time.time() < deadline:
            time.sleep(0.5)
        asked = self.asked_on_dht()
        self.assertIn(public, asked, "the nodes hear the service's lookups: " + self.log("service"))
        self.assertNotIn(self.hash, asked, "nor ever the private torrent's hash")

        # The window, then the service, are killed in the middle; the client goes on.
        view.kill()
        view.wait()
        service.kill()
        service.wait()
        self.assertTrue(pid_alive(client))
        last = self.start([HEADLESS, "--root", self.device.root, "--script", "-"], "view-1",
                          "tab 3\nuntil 200 Seeding (complete)\ntap Details\nwait 3\nrows\nquit\n")
        out += last.stdout.read()
        last.wait(60)
        self.assertEqual(last.returncode, 0, self.log("view-1"))
        self.assert_same_bytes()
        self.assertIn("kept between runs", self.log("view-1"), "the gateway's socket came from the keeper")
        self.assertTrue(wait_gone(client))
        # The client taken over by the next run never reached the DHT either.
        asked = self.asked_on_dht()
        self.assertNotIn(self.hash, asked)
        self.assertIn("DHT node", self.log("view-1"), "the next run's node went on with the magnet")
        # A tracker's personal key is in no log, no screen and no stored file.
        for name in ("service", "view-0", "view-1"):
            self.assertNotIn(SECRET, self.log(name))
        self.assertNotIn(SECRET, out)
        for folder, _, files in os.walk(self.device.root):
            for f in files:
                path = os.path.join(folder, f)
                # The torrent and its copy hold their own trackers; so does the client's own
                # output, which prints them, kept beside that copy (the user's alone, 0600).
                if path.endswith(".torrent") or "/swarm/" in path or f.endswith(".bin") or \
                        (f.endswith(".log") and "/state/transfers/" in path):
                    continue
                with open(path, "rb") as data:
                    self.assertNotIn(SECRET.encode(), data.read(), path)


if __name__ == "__main__":
    unittest.main()
