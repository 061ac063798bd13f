#!/usr/bin/env python3
"""End-to-end: torrents as public sites give them reach their swarm through
the service's tracker gateway. The seeder is a libtorrent peer and the
tracker answers over UDP alone, which the transfer client cannot speak; a
first tier that is dead and whose address holds a personal key is passed
over and never shown; the window and the service are killed on the way."""
import os
import signal
import subprocess
import sys
import time
import unittest

SYSTEM_PYTHON = "/usr/bin/python3"
try:
    import libtorrent  # noqa: F401
except ImportError:
    # libtorrent's binding is Debian's, for Debian's Python.
    if os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON) and os.path.exists(SYSTEM_PYTHON):
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from headless_test import HEADLESS, DOWNLOADS, Device, hand_over, pid_alive, wait_gone  # noqa: E402
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
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            if proc.stdout:
                proc.stdout.close()
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
        line = self.swarm.stdout.readline().strip()
        self.assertTrue(line.startswith("ready "), line)
        self.torrent, *rest = line[len("ready "):].split()
        self.dht = rest[0][len("dht="):] if rest else None
        self.name = os.path.basename(self.torrent)

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
        self.assertIn("Trackers: none; its peers are looked for in the DHT", out)
        self.assertEqual(info_hash(self.torrent), info_hash(made), "the info dictionary arrived exactly as the hash says")
        self.assert_same_bytes()

    def test_a_dead_first_tier_is_passed_over_its_key_never_shown_and_killed_processes_lose_nothing(self):
        self.start_swarm("--size", str(8 * 1024 * 1024), "--seed-rate", "400", "--private",
                         "--tiers", "http://127.0.0.1:{dead}/" + SECRET + "/announce;udp://127.0.0.1:{udp}/announce")
        service = self.start([SERVICE, "--root", self.device.root, "--verbose"], "service")
        deadline = time.time() + 10
        while "serves" not in self.log("service") and time.time() < deadline:
            time.sleep(0.05)
        view = self.start([HEADLESS, "--root", self.device.root, "--script", "-"], "view-0",
                          hand_over(self.torrent, self.name) + "until 90 Downloading\nwait 3\ntap Details\nwait 1\nrows\n"
                          "echo rows-shown\nuntil 200 never\n")
        out = self.read_until(view, "rows-shown", 120)
        self.assertIn("rows-shown", out, self.log("view-0") + self.log("service"))
        self.assertRegex(out, r"127\.0\.0\.1:[0-9]+: Could not connect", "the dead tier is shown, by its host alone")
        [client] = clients_on(self.torrent)

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
        # A tracker's personal key is in no log, no screen and no stored file.
        for name in ("service", "view-0", "view-1"):
            self.assertNotIn(SECRET, self.log(name))
            self.assertNotIn("DHT node", self.log(name), "a private torrent never touches the DHT")
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
