#!/usr/bin/env python3
"""End-to-end: the transfers belong to the transfer service, a process of
their own. A view joins it, shows its transfer over the service's socket, and
may be killed; the service may be killed too; the next start takes the
client over and the transfer completes with every byte."""
import errno
import os
import re
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from headless_test import HEADLESS, DOWNLOADS, Device, hand_over, pid_alive, transfer_tab_dumps, wait_gone  # noqa: E402
from live_test import clients_on, start_swarm  # noqa: E402
from open_test import torrent  # noqa: E402

SERVICE = os.environ.get("QUORVANE_SERVICE", os.path.join(os.path.dirname(HEADLESS), "quorvane-service"))


class Processes:
    """Programs a test starts, each with its standard error in a log of its own on the device."""

    def start(self, args, name, script=None):
        log = open(self.device.path(name + ".log"), "w")
        proc = subprocess.Popen(args, stdin=subprocess.PIPE if script is not None else subprocess.DEVNULL,
                                stdout=subprocess.PIPE if script is not None else subprocess.DEVNULL, stderr=log, text=True)
        log.close()
        if script is not None:
            proc.stdin.write(script)
            proc.stdin.close()
        self.procs.append(proc)
        return proc

    def end_started(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            if proc.stdout:
                proc.stdout.close()

    def log(self, name):
        with open(self.device.path(name + ".log")) as f:
            return f.read()

    def read_until(self, proc, marker, seconds):
        deadline = time.time() + seconds
        out = ""
        while time.time() < deadline and marker not in out:
            line = proc.stdout.readline()
            if not line:
                break
            out += line
        return out


class ServiceTest(Processes, unittest.TestCase):
    def setUp(self):
        self.device = Device("real")
        # 8 MiB at about 400 KB/s: some twenty seconds to catch it on the way.
        [self.torrent] = start_swarm(self, "--size", str(8 * 1024 * 1024), "--seed-rate", "400")
        self.procs = []

    def tearDown(self):
        self.end_started()
        for pid in clients_on(self.torrent):
            os.kill(pid, signal.SIGKILL)
        self.swarm.stdin.close()
        self.swarm.wait(timeout=30)
        self.swarm.stdout.close()
        self.device.close()

    def test_views_come_and_go_the_service_is_killed_and_the_transfer_completes(self):
        service = self.start([SERVICE, "--root", self.device.root, "--verbose"], "service")
        deadline = time.time() + 10
        while "serves" not in self.log("service") and time.time() < deadline:
            time.sleep(0.05)
        self.assertIn("The transfer service serves", self.log("service"))

        # A view joins the service, asks for the torrent and follows it over the socket.
        name = os.path.basename(self.torrent)
        view = self.start([HEADLESS, "--root", self.device.root, "--script", "-"], "view-0",
                          hand_over(self.torrent, name) + "until 60 %\nwait 3\ndump\necho dumped-now\nuntil 200 never\n")
        out = self.read_until(view, "dumped-now", 90)
        self.assertIn("The transfers are those of the service already running", self.log("view-0"))
        dumps = transfer_tab_dumps(out)
        self.assertTrue(dumps, out + self.log("view-0"))
        self.assertRegex(dumps[-1], r'UILabel \(255,80,55,20\) "[0-9]+ %"', "the view shows the service's transfer")
        [client] = clients_on(self.torrent)

        # The view is killed: the service and its client go on.
        view.kill()
        view.wait()
        self.assertTrue(pid_alive(service.pid) and pid_alive(client))
        # Then the service itself: the client still goes on, and the port it comes back to stays ours.
        port = int(re.search(r"Control channel on 127\.0\.0\.1:([0-9]+)", self.log("service")).group(1))
        service.kill()
        service.wait()
        self.assertTrue(pid_alive(client), "a killed service leaves its client")
        squatter = socket.socket()
        squatter.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        with self.assertRaises(OSError) as taken:
            squatter.bind(("127.0.0.1", port))
        squatter.close()
        self.assertEqual(taken.exception.errno, errno.EADDRINUSE, "the keeper holds the port")

        # The next start finds no service, owns the transfers itself, takes the client over, and it completes.
        last = self.start([HEADLESS, "--root", self.device.root, "--script", "-"], "view-1",
                          "tab 3\nuntil 200 Seeding (complete)\nwait 2\ndump\nquit\n")
        out = last.stdout.read()
        last.wait(60)
        self.assertEqual(last.returncode, 0, self.log("view-1"))
        self.assertNotIn("those of the service already running", self.log("view-1"))
        self.assertIn('"100 %"', transfer_tab_dumps(out)[-1])
        with open(self.device.path("swarm/seed/quorvane-sample.bin"), "rb") as a, \
                open(self.device.path(DOWNLOADS, "quorvane-sample.bin"), "rb") as b:
            self.assertTrue(a.read() == b.read(), "every byte arrived, and right")
        self.assertTrue(wait_gone(client), "quitting the run that owned the transfers ends the client")


class TakenRuntimeFolderTest(Processes, unittest.TestCase):
    """Another user took the runtime folder's usual name (here a link stands
    there, which is refused the same way): the service, its views and the
    port's keeper meet in a private folder of the user's own, say so, and
    what they keep is the user's alone."""

    def setUp(self):
        self.device = Device("#!/bin/sh\necho client started\nexec sleep 60\n")
        self.procs = []
        self.tmp = tempfile.TemporaryDirectory(prefix="quorvane-runtime-")
        os.makedirs(os.path.join(self.tmp.name, "home"))
        os.makedirs(os.path.join(self.tmp.name, "theirs"))
        os.symlink(os.path.join(self.tmp.name, "theirs"), os.path.join(self.tmp.name, f"quorvane-{os.getuid()}"))
        self.env = {k: v for k, v in os.environ.items() if k not in ("XDG_RUNTIME_DIR", "XDG_STATE_HOME")}
        self.env.update(TMPDIR=self.tmp.name, HOME=os.path.join(self.tmp.name, "home"))

    def tearDown(self):
        self.end_started()
        # The stand-in client and the keeper outlive the service; those of this test's folders end here.
        for pattern in ("^/bin/sh " + self.device.client, "quorvane-keeper .*" + self.tmp.name):
            for pid in subprocess.run(["pgrep", "-f", pattern], capture_output=True, text=True).stdout.split():
                os.kill(int(pid), signal.SIGKILL)
        self.tmp.cleanup()
        self.device.close()

    def test_the_service_its_views_and_the_keeper_meet_in_a_private_folder_elsewhere(self):
        os.makedirs(self.device.path(DOWNLOADS))
        path = self.device.path(DOWNLOADS, "song.torrent")
        with open(path, "wb") as f:
            f.write(torrent())
        with open(self.device.path("service.log"), "w") as err:
            service = subprocess.Popen([SERVICE, "--root", self.device.root, "--verbose"], env=self.env, stderr=err)
        self.procs.append(service)
        deadline = time.time() + 10
        while "serves" not in self.log("service") and time.time() < deadline:
            time.sleep(0.05)
        log = self.log("service")
        run = os.path.join(self.tmp.name, "home/.local/state/quorvane/run")
        self.assertIn("The transfer service serves " + run + "/quorvane-service-", log)
        self.assertIn(run + " is used instead", log, "the service says where it went and why")
        self.assertEqual(stat.S_IMODE(os.stat(run).st_mode), 0o700)
        self.assertEqual(os.listdir(os.path.join(self.tmp.name, "theirs")), [], "nothing goes where the link leads")

        view = subprocess.run([HEADLESS, "--root", self.device.root, "--script", "-"], env=self.env, capture_output=True,
                              text=True, timeout=60, input=hand_over(path, "song.torrent") + "wait 3\n")
        self.assertIn("The transfers are those of the service already running", view.stderr)
        self.assertIn(run + " is used instead", view.stderr, "and so does its view")
        self.assertTrue([n for n in os.listdir(run) if n.startswith("quorvane-keeper-")], "the port's keeper is there too")
        for name in ("var/mobile/Library/Preferences/transfers.list", "var/mobile/Library/Preferences/control.secret"):
            self.assertEqual(stat.S_IMODE(os.stat(self.device.path(name)).st_mode) & 0o077, 0, name + " is the user's alone")
        service.send_signal(signal.SIGTERM)
        self.assertEqual(service.wait(10), 0)


if __name__ == "__main__":
    unittest.main()
