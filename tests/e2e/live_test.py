#!/usr/bin/env python3
"""End-to-end tests of transfers that live apart from the application: the
headless shell killed in the middle of a real transfer in a loopback swarm,
started again, and the transfer going on to its last byte."""
import glob
import os
import re
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from headless_test import client_pattern, HEADLESS, DOWNLOADS, Device, hand_over, pid_alive, transfer_tab_dumps, wait_gone  # noqa: E402

STATE = "var/mobile/Library/Quorvane/state/transfers"


def clients_on(torrent):
    return [int(p) for p in subprocess.run(["pgrep", "-f", client_pattern(torrent)], capture_output=True, text=True).stdout.split()]


def start_swarm(test, *options):
    """A loopback swarm for test.device (swarm.py with options); the torrents it made."""
    test.swarm = subprocess.Popen(
        [sys.executable, os.path.join(HERE, "swarm.py"), "--dir", test.device.path("swarm"),
         "--torrent-out", test.device.path(DOWNLOADS), "--lifetime", "280", "--watch-stdin", *options],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    line = test.swarm.stdout.readline().strip()
    test.assertTrue(line.startswith("ready "), line)
    return line[len("ready "):].split()


class KilledShellTest(unittest.TestCase):
    def setUp(self):
        self.device = Device("real")
        # 8 MiB at about 400 KB/s: some twenty seconds to catch it on the way.
        [self.torrent] = start_swarm(self, "--size", str(8 * 1024 * 1024), "--seed-rate", "400")
        self.name = os.path.basename(self.torrent)
        self.shells = []

    def tearDown(self):
        for shell in self.shells:
            if shell.poll() is None:
                shell.kill()
            shell.wait()
            shell.stdout.close()
        for pid in clients_on(self.torrent):
            os.kill(pid, signal.SIGKILL)
        self.swarm.stdin.close()
        self.swarm.wait(timeout=30)
        self.swarm.stdout.close()
        self.device.close()

    def start_shell(self, script):
        # Its log goes to a file: a pipe nobody reads could hold the shell up.
        log = open(self.device.path(f"shell-{len(self.shells)}.log"), "w")
        shell = subprocess.Popen([HEADLESS, "--root", self.device.root, "--script", "-"], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=log, text=True)
        log.close()
        shell.stdin.write(script)
        shell.stdin.close()
        self.shells.append(shell)
        return shell

    def pieces_had(self):
        """The latest [had/total] the client wrote into its output file."""
        logs = glob.glob(self.device.path(STATE, "*.log"))
        if not logs:
            return 0, 0
        with open(logs[0], "rb") as f:
            found = re.findall(rb"\[([0-9]+)/([0-9]+)/[0-9]+\]", f.read())
        return (int(found[-1][0]), int(found[-1][1])) if found else (0, 0)

    def wait_for_share(self, share, seconds=90):
        end = time.time() + seconds
        while time.time() < end:
            had, total = self.pieces_had()
            if total and had >= share * total:
                return had
            time.sleep(0.2)
        self.fail(f"the client did not get to {share:.0%} within {seconds} s")

    def test_a_killed_shell_leaves_its_client_which_the_next_start_finds_and_a_dead_one_starts_again(self):
        first = self.start_shell(hand_over(self.torrent, self.name) + "until 200 Seeding (complete)\n")
        self.wait_for_share(0.2)
        first.kill()
        first.wait()
        clients = clients_on(self.torrent)
        self.assertEqual(len(clients), 1, "the client goes on without the application")
        client = clients[0]
        had_then = self.pieces_had()[0]

        # The next start takes it over and shows how far it is.
        second = self.start_shell("tab 3\nuntil 30 %\nwait 2\ndump\necho dumped-now\nuntil 200 never\n")
        deadline = time.time() + 60
        out = ""
        while time.time() < deadline and "dumped-now" not in out:
            line = second.stdout.readline()
            if not line:
                break
            out += line
        self.assertTrue(pid_alive(client))
        with open(self.device.path("shell-1.log")) as f:
            self.assertTrue(transfer_tab_dumps(out), out + f.read())
        dump = transfer_tab_dumps(out)[-1]
        self.assertRegex(dump, r'UILabel \(255,80,55,20\) "[0-9]+ %"', "a taken-over client shows its share")
        self.assertGreater(self.pieces_had()[0], had_then, "and it still fetches")

        # Killed again, and its client with it this time: the next start begins it anew.
        self.wait_for_share(0.5)
        second.kill()
        second.wait()
        os.kill(client, signal.SIGKILL)
        self.assertTrue(wait_gone(client))
        third = self.start_shell("tab 3\nuntil 200 Seeding (complete)\nwait 2\ndump\nquit\n")
        out = third.stdout.read()
        third.wait(60)
        with open(self.device.path("shell-2.log")) as f:
            self.assertEqual(third.returncode, 0, f.read())
        self.assertIn('"100 %"', transfer_tab_dumps(out)[-1])
        with open(self.device.path("swarm/seed/quorvane-sample.bin"), "rb") as a, \
                open(self.device.path(DOWNLOADS, "quorvane-sample.bin"), "rb") as b:
            self.assertTrue(a.read() == b.read(), "every byte arrived, and right")
        self.assertEqual(clients_on(self.torrent), [], "quitting ends the client")


class ChannelTest(unittest.TestCase):
    """The control channel with the real client: a limit set while it runs,
    a file switched off, a client started by hand that joins the list and one
    with a wrong password that does not."""

    def setUp(self):
        self.device = Device("real")
        # Two torrents of three files each; slow enough to be steered on the way.
        self.ours, self.theirs = start_swarm(self, "--count", "2", "--files", "3", "--size", str(12 * 1024 * 1024), "--seed-rate", "200")
        self.others = []

    def tearDown(self):
        for p in self.others:
            if p.poll() is None:
                p.kill()
            p.wait()
        for torrent in (self.ours, self.theirs):
            for pid in clients_on(torrent):
                os.kill(pid, signal.SIGKILL)
        self.swarm.stdin.close()
        self.swarm.wait(timeout=30)
        self.swarm.stdout.close()
        self.device.close()

    def by_hand(self, password, folder):
        """A client started by hand on the other torrent, as a person at a terminal would."""
        os.makedirs(folder)
        client = subprocess.Popen(["/usr/bin/ctorrent", "-S", f"127.0.0.1:{self.port}:", "-i", "127.0.0.3", self.theirs],
                                  cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, text=True)
        client.stdin.write(password + "\n")
        client.stdin.close()
        self.others.append(client)
        return client

    def test_limits_files_and_clients_started_elsewhere_through_the_channel(self):
        log = open(self.device.path("shell.log"), "w")
        shell = subprocess.Popen([HEADLESS, "--root", self.device.root, "--script", "-"], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=log, text=True)
        log.close()
        self.others.append(shell)

        def run(lines, marker):
            shell.stdin.write(lines + f"echo {marker}\n")
            shell.stdin.flush()
            out = ""
            while marker not in out:
                line = shell.stdout.readline()
                if not line:
                    with open(self.device.path("shell.log")) as f:
                        self.fail("the shell ended: " + f.read()[-2000:])
                out += line
            return out

        # The details of the running transfer: c.bin switched off, a download limit of its own.
        out = run(hand_over(self.ours, "ours.torrent") + "until 60 Downloading\ntap Details\nuntil 30 Fetch: c.bin\n"
                  + "row 0 3\ntype 50\nuntil 2 Limits: 50 KB/s down\ndump\nrows\ndefaults\n",
                  "details-seen")
        self.assertIn("Skip: c.bin", out, "switched off at once")
        self.assertIn("Limits: 50 KB/s down", out, "the client reports the limit it was given")
        # Raised again (50 becomes 500), so that the rest does not take all afternoon.
        run("type 0\nuntil 2 Limits: 500 KB/s down\n", "raised")
        self.port = int(re.search(r"ControlPort = ([0-9]+)", out).group(1))
        with open(self.device.path("var/mobile/Library/Preferences/control.secret")) as f:
            password = f.read().strip()

        # One started by hand with the password joins; one with a wrong one does not.
        self.by_hand(password, self.device.path("elsewhere"))
        self.by_hand("not-the-password", self.device.path("intruder"))
        out = run("tap Done\nuntil 40 (started elsewhere)\nwait 3\ndump\n", "joined")
        dump = transfer_tab_dumps(out)[-1]
        self.assertEqual(dump.count("(started elsewhere)"), 1, dump)
        with open(self.device.path("shell.log")) as f:
            self.assertRegex(f.read(), r"wrong password", "the intruder is refused and logged")

        # Ours fetches a.bin and b.bin whole, and not c.bin.
        seed = self.device.path("swarm/seed/quorvane-sample.bin")
        got = self.device.path(DOWNLOADS, "quorvane-sample.bin")

        def same(name):
            try:
                with open(os.path.join(seed, name), "rb") as a, open(os.path.join(got, name), "rb") as b:
                    return a.read() == b.read()
            except OSError:
                return False
        end = time.time() + 200
        while time.time() < end and not (same("a.bin") and same("b.bin")):
            time.sleep(0.5)
        self.assertTrue(same("a.bin") and same("b.bin"), "the files chosen arrive whole")
        self.assertFalse(same("c.bin"), "the file switched off is not fetched")
        # With the chosen files in it is complete and seeds, with the share it has; never stalled.
        out = run("until 60 Complete (2 of 3 files)\nwait 2\ndump\n", "complete-seen")
        dump = transfer_tab_dumps(out)[-1]
        self.assertIn("Seeding (complete)", dump)
        self.assertNotIn("Stalled", dump)
        shell.stdin.write("quit\n")
        shell.stdin.close()
        self.assertEqual(shell.wait(60), 0)


if __name__ == "__main__":
    unittest.main()
