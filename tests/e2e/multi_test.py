#!/usr/bin/env python3
"""End-to-end tests of several transfers: side by side, queued past the limit,
never doubled, kept across a restart, a stored list that is corrupt, and a
client left running by an earlier run taken over. Driven through the headless
shell with stand-in clients; the real client in a loopback swarm for two at
once."""
import os
import re
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from headless_test import hand_over, kept_copy, DOWNLOADS, Device, pid_alive, run_script, wait_gone  # noqa: E402

LIST = "var/mobile/Library/Preferences/transfers.list"
HEADER = "quorvane-transfers 1\n"

# Records each start (pid and torrent) and prints a status line that names the torrent.
CLIENT = """#!/bin/bash
t="${{@: -1}}"
echo "$$ $t" >> "{root}/starts"
name=$(basename "$t" .torrent)
trap 'exit 0' TERM
while :; do printf "\\n| $name [3/8/3] 0MB,0MB | 10,5K/s | 2,1K E:0,1     "; sleep 0.1; done
"""



class StandInDevice:
    def __init__(self):
        self.device = Device("#!/bin/sh\n")
        with open(self.device.client, "w") as f:
            f.write(CLIENT.format(root=self.device.root))
        self.root = self.device.root

    def torrent(self, name):
        path = self.device.path(DOWNLOADS, name + ".torrent")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("d4:infod6:lengthi1ee")
        return path

    def starts(self):
        try:
            with open(self.device.path("starts")) as f:
                return [line.split(" ", 1) for line in f.read().splitlines()]
        except FileNotFoundError:
            return []

    def write_list(self, text):
        path = self.device.path(LIST)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)

    def read_list(self):
        with open(self.device.path(LIST)) as f:
            return f.read()

    def close(self):
        for pid, _ in self.starts():
            try:
                os.kill(int(pid), signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.device.close()


class SeveralTransfersTest(unittest.TestCase):
    def setUp(self):
        self.d = StandInDevice()

    def tearDown(self):
        self.d.close()

    def test_two_at_once_a_third_queued_the_same_never_twice(self):
        a, b, c = (self.d.torrent(n) for n in "abc")
        result = run_script(self.d.root, "answer 0\nset TransfersAtOnce 2\n" + hand_over(a, "a.torrent", first=False, leave=True) + 'until 20 | a [3/8/3]\n'
                            + hand_over(b, "b.torrent", first=False, leave=True) + 'until 20 | b [3/8/3]\nwait 1.5\necho -- two\ndump\n'
                            + hand_over(c, "c.torrent", first=False, leave=True) + "echo -- three\ndump\n"
                            + hand_over(a, "a.torrent", first=False, leave=True) + 'until 20 | a [3/8/3]\necho -- a again\ndump\n'
                            # the second row is b: its Stop lets c start
                            + "tap-at 100 226\nuntil 5 | b [3/8/3]\ntap Stop\nwait 1.5\ntap-at 100 262\nuntil 20 | c [3/8/3]\n"
                            + "wait 1.5\necho -- c started\ndump\nquit\n", timeout=90)
        self.assertEqual(result.returncode, 0, result.stderr + result.stdout)
        out = result.stdout
        two = out[out.index("-- two"):out.index("-- three")]
        self.assertIn('"a.torrent"', two)
        self.assertIn('"b.torrent"', two)
        self.assertIn('UILabel (110,56,95,20) " 10"', two)  # the front one's own line, cut
        self.assertIn('UITextView (10,229,300,123)', two)  # the list took its room
        three = out[out.index("-- three"):out.index("-- a again")]
        self.assertIn('"Queued"', three)
        again = out[out.index("-- a again"):out.index("-- c started")]
        self.assertIn("| a [3/8/3]", again)
        started = [os.path.basename(t) for _, t in self.d.starts()]
        self.assertEqual(started, ["a.torrent", "b.torrent", "c.torrent"], "a was never started twice")
        self.assertIn("a.torrent is already in the list of transfers", result.stderr)
        after = out[out.index("-- c started"):]
        self.assertIn('"c.torrent"', after)
        self.assertIn("Stopped", after)
        # Exit ended them all and the list says stopped.
        for pid, _ in self.d.starts():
            self.assertTrue(wait_gone(int(pid), 10))
        stored = self.d.read_list().splitlines()
        self.assertEqual(stored[0], "quorvane-transfers 4", "written in the fourth format, which also keeps each one's choices, copy and key at the tracker gateway")
        self.assertEqual([line.split("\t")[0] for line in stored[1:]], ["stopped"] * 3)

    def test_a_restart_resumes_the_running_keeps_the_paused_and_lists_the_stopped(self):
        a, b, c = (self.d.torrent(n) for n in "abc")
        self.d.write_list(HEADER + f"running\t\t\t\tNo\t{a}\ta.torrent\n"
                          + f"paused\t\t100\t\tNo\t{b}\tb.torrent\n"
                          + f"stopped\t\t\t\tNo\t{c}\tc.torrent\n")
        result = run_script(self.d.root, 'answer 0\ntab 3\nuntil 20 | a [3/8/3]\nwait 1.5\necho -- restored\ndump\n'
                            "tap-at 100 226\necho -- paused one\ndump\ntap Resume\nuntil 20 | b [3/8/3]\n"
                            "echo -- resumed\ndump\nquit\n", timeout=90)
        self.assertEqual(result.returncode, 0, result.stderr + result.stdout)
        out = result.stdout
        restored = out[out.index("-- restored"):out.index("-- paused one")]
        self.assertIn('"a.torrent"', restored)
        paused = out[out.index("-- paused one"):out.index("-- resumed")]
        self.assertIn('UILabel (10,8,166,22) "b.torrent"', paused)
        self.assertIn('"Paused"', paused)
        starts = self.d.starts()
        self.assertEqual([os.path.basename(t) for _, t in starts], ["a.torrent", "b.torrent"],
                         "the running one started again, the paused one only on Resume, the stopped one not")
        with open(self.d.device.path("starts")) as f:
            self.assertIn(kept_copy(self.d.root, b), f.read(), "run from its own copy, made at its first start")
        stored = self.d.read_list()
        self.assertIn(f"stopped\t\t\t\tNo\t{a}\ta.torrent\t", stored)
        self.assertIn(f"stopped\t\t100\t\tNo\t{b}\tb.torrent\t", stored, "its own limit kept")

    def test_a_corrupt_list_starts_empty_says_so_and_keeps_the_settings(self):
        result = run_script(self.d.root, "answer 0\necho -- settings\ndefaults\nquit\n", timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        settings = result.stdout[result.stdout.index("-- settings"):].split("\n", 1)[1]
        self.d.write_list(HEADER + "running\tnot a pid\n")
        result = run_script(self.d.root, "tab 3\ndump\necho -- settings\ndefaults\nquit\n", timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("cannot be read", result.stderr)
        self.assertEqual(result.stdout[result.stdout.index("-- settings"):].split("\n", 1)[1], settings,
                         "nothing else is lost")
        self.assertIn('"No torrent file set yet!"', result.stdout)
        self.assertTrue(os.path.exists(self.d.device.path(LIST + ".corrupt")))

    def test_a_list_written_half_is_not_read(self):
        a = self.d.torrent("a")
        self.d.write_list(HEADER + f"running\t\t\t\tNo\t{a}")  # cut off mid-line
        result = run_script(self.d.root, "answer 0\ntab 3\nwait 1\nquit\n", timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("cannot be read", result.stderr)
        self.assertEqual(self.d.starts(), [])


class OrphanTest(unittest.TestCase):
    def setUp(self):
        self.d = StandInDevice()

    def tearDown(self):
        self.d.close()

    def test_a_client_left_running_is_adopted_and_stopped_not_doubled(self):
        a = self.d.torrent("a")
        orphan = subprocess.Popen(["/bin/bash", self.d.device.client, a], stdout=subprocess.DEVNULL,
                                  start_new_session=True)
        try:
            self.d.write_list(HEADER + f"running\t{orphan.pid}\t\t\tNo\t{a}\ta.torrent\n")
            result = run_script(self.d.root, "answer 0\ntab 3\nwait 1.5\necho -- adopted\ndump\ntap Stop\nwait 1\nquit\n",
                                timeout=30)
            self.assertEqual(result.returncode, 0, result.stderr)
            out = result.stdout
            self.assertIn('"Running (started earlier)"', out[out.index("-- adopted"):])
            self.assertEqual(len(self.d.starts()), 1, "never started a second time beside itself")
            self.assertEqual(orphan.wait(timeout=10), 0, "Stop ended it")
        finally:
            if orphan.poll() is None:
                orphan.kill()
                orphan.wait()

    def test_a_recorded_pid_now_used_by_another_program_is_not_adopted(self):
        a = self.d.torrent("a")
        other = subprocess.Popen(["sleep", "60"])
        try:
            self.d.write_list(HEADER + f"running\t{other.pid}\t\t\tNo\t{a}\ta.torrent\n")
            result = run_script(self.d.root, 'answer 0\ntab 3\nuntil 20 | a [3/8/3]\nquit\n', timeout=30)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(len(self.d.starts()), 1, "a client of its own started")
            self.assertTrue(pid_alive(other.pid), "the other program was left alone")
        finally:
            other.kill()
            other.wait()


class RealClientTest(unittest.TestCase):
    def setUp(self):
        self.device = Device("real")
        self.swarms = []
        self.torrents = []
        for i in range(2):
            swarm = subprocess.Popen(
                [sys.executable, os.path.join(HERE, "swarm.py"), "--dir", self.device.path(f"swarm{i}"),
                 "--torrent-out", self.device.path(DOWNLOADS), "--lifetime", "240", "--watch-stdin"]
                + (["--name", "second.bin"] if i else []),
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            line = swarm.stdout.readline().strip()
            self.swarms.append(swarm)
            if not line.startswith("ready "):
                self.skipTest("the swarm did not start: " + line)
            self.torrents.append(line[len("ready "):])

    def tearDown(self):
        for swarm in self.swarms:
            swarm.stdin.close()
            swarm.wait(timeout=30)
        self.device.close()

    def test_two_real_transfers_at_once_both_complete(self):
        a, b = self.torrents
        if a == b:
            self.skipTest("the swarm made one torrent for both")
        result = run_script(self.device.root, "answer 0\n" + hand_over(a, os.path.basename(a), first=False, leave=True) + "until 90 [64/64/64]\n"
                            + hand_over(b, os.path.basename(b), first=False, leave=True) + "until 90 [64/64/64]\n"
                            + "tap-at 100 190\nuntil 90 [64/64/64]\nwait 1.5\ndump\nquit\n", timeout=240)
        self.assertEqual(result.returncode, 0, result.stderr)
        # Both clients run on, each seeding its complete file, each in its row.
        rows = re.findall(r'UILabel \(72,19,186,14\) "Seeding \(complete\)', result.stdout)
        self.assertEqual(len(rows), 2, result.stdout[-3000:])
        self.assertIn('UILabel (10,8,166,22) "%s"' % os.path.basename(a), result.stdout)


if __name__ == "__main__":
    unittest.main()
