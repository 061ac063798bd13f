#!/usr/bin/env python3
"""End-to-end tests of what a person follows of a transfer: the progress,
rates, time left and state on the transfer tab, the completion notice, the
options that reach the client's command line, and the end of the client with
the headless shell. Driven through the headless shell, with a stand-in client
replaying output recorded from the real one, and with the real client in a
loopback swarm."""
import os
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from headless_test import client_pattern, kept_copy, hand_over, DOWNLOADS, transfer_tab_dumps, Device, pid_alive, run_script, client_arguments  # noqa: E402

RECORDED = os.path.join(HERE, "..", "transfers", "data", "download-pause-seed.out")

# Replays the recorded output a line at a time, as the client writes it.
REPLAY = """#!/bin/bash
echo $$ > "{root}/client.pid"
printf '%s\\n' "$@" > "{root}/args"
exec python3 -c '
import sys, time
lines = open(sys.argv[1], "rb").read().split(b"\\n")
for i, line in enumerate(lines):
    sys.stdout.buffer.write((b"\\n" if i else b"") + line)
    sys.stdout.flush()
    time.sleep(0.25)
time.sleep(600)
' "{recorded}"
"""



def clients_on(torrent):
    return subprocess.run(["pgrep", "-f", client_pattern(torrent)], capture_output=True, text=True).stdout.split()


class RecordedOutputTest(unittest.TestCase):
    def test_progress_rates_state_and_one_completion_notice(self):
        device = Device("#!/bin/sh\n")
        with open(device.client, "w") as f:
            f.write(REPLAY.format(root=device.root, recorded=RECORDED))
        try:
            result = run_script(device.root, hand_over(device.path(DOWNLOADS, "s.torrent"), "s.torrent") + """
until 40 "Downloading"
dump
until 60 Seeding (complete)
wait 3
dump
quit
""", virtual=True, timeout=90)
            self.assertEqual(result.returncode, 0, result.stderr)
            during, after = transfer_tab_dumps(result.stdout)
            self.assertRegex(during, r'UIProgressView \(10,85,240,10\) "0\.[0-9]+"')
            self.assertRegex(during, r'UILabel \(255,80,55,20\) "[0-9]+ %"')
            self.assertRegex(during, r'"↓ [0-9]+ KB/s   ↑ 0 KB/s"')
            self.assertIn('"Downloading"', during)
            self.assertIn('"Downloading ..."', during)  # the tab's own status, as before
            self.assertIn('"Seeding (complete)"', after)
            self.assertIn('UIProgressView (10,85,240,10) "1.00"', after)
            self.assertIn('"100 %"', after)
            self.assertIn('"Complete"', after)
            self.assertEqual(result.stdout.count("notification Download complete: s.torrent"), 1, result.stdout)
            self.assertIn("Download complete: s.torrent", result.stderr)
            self.assertEqual(client_arguments(device.path("args")), [device.path(DOWNLOADS, "s.torrent")],
                             "no options: the path alone")
        finally:
            device.close()


class EndOfTheShellTest(unittest.TestCase):
    def run_and_check_gone(self, client, script, within):
        device = Device(client)
        with open(device.client, "w") as f:
            f.write(client.format(root=device.root))
        try:
            start = time.time()
            result = run_script(device.root, hand_over(device.path(DOWNLOADS, "x.torrent"), "x.torrent")
                                + "until 20 [1/8/1]\n" + script, timeout=60)
            took = time.time() - start
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(device.path("client.pid")) as f:
                pid = int(f.read())
            self.assertFalse(pid_alive(pid), "the client must not outlive the shell")
            self.assertLess(took, within)
            return result
        finally:
            device.close()

    def test_quit_waits_for_a_client_that_takes_its_time(self):
        # It says goodbye for a second and a half after the terminate signal.
        slow = """#!/bin/bash
echo $$ > "{root}/client.pid"
trap 'sleep 1.5; exit 0' TERM
while :; do printf '\\n| 0/0/1 [1/8/1] 0MB,0MB | 10,5K/s | 2,1K E:0,1'; sleep 0.1; done
"""
        self.run_and_check_gone(slow, "quit\n", within=30)

    def test_the_end_of_a_script_kills_a_client_that_will_not_end(self):
        stubborn = """#!/bin/bash
echo $$ > "{root}/client.pid"
trap '' TERM
while :; do printf '\\n| 0/0/1 [1/8/1] 0MB,0MB | 10,5K/s | 2,1K E:0,1'; sleep 0.1; done
"""
        result = self.run_and_check_gone(stubborn, "echo last\n", within=40)
        self.assertIn("did not stop in 10 s; killing it", result.stderr)


class RealClientTest(unittest.TestCase):
    def setUp(self):
        self.device = Device("#!/bin/sh\n")
        # The real client behind a wrapper that notes its command line.
        with open(self.device.client, "w") as f:
            f.write(f'#!/bin/sh\nprintf "%s\\n" "$@" > "{self.device.root}/args"\nexec /usr/bin/ctorrent "$@"\n')
        self.swarm = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "swarm.py"), "--dir", self.device.path("swarm"),
             "--torrent-out", self.device.path(DOWNLOADS), "--lifetime", "240", "--watch-stdin",
             "--seed-rate", "600"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.swarm.stdout.readline().strip()
        self.assertTrue(line.startswith("ready "), line)
        self.torrent = line[len("ready "):]
        self.name = os.path.basename(self.torrent)

    def tearDown(self):
        self.swarm.stdin.close()
        self.swarm.wait(timeout=30)
        self.swarm.stdout.close()
        self.device.close()

    def test_progress_reaches_100_percent_then_seeding_and_no_client_survives_quit(self):
        result = run_script(self.device.root, hand_over(self.torrent, self.name) + """
until 60 "Downloading"
wait 1
dump
until 120 Seeding (complete)
wait 2
dump
quit
""", timeout=200)
        self.assertEqual(result.returncode, 0, result.stderr)
        # Gone the moment the shell is: it waited for the client.
        self.assertEqual(clients_on(self.torrent), [])
        during, after = transfer_tab_dumps(result.stdout)
        self.assertRegex(during, r'"↓ [0-9.]+ [KM]B/s   ↑ [0-9.]+ [KM]B/s"')
        self.assertRegex(during, r'UILabel \(160,122,150,18\) "Time left: ')
        self.assertIn('"Seeding (complete)"', after)
        self.assertIn('"100 %"', after)
        self.assertIn('"Complete"', after)
        self.assertEqual(result.stdout.count("notification Download complete: " + self.name), 1, result.stdout)
        self.assertEqual(client_arguments(self.device.path("args")), [kept_copy(self.device.root, self.torrent)])
        with open(self.device.path("swarm/seed/quorvane-sample.bin"), "rb") as a, \
                open(self.device.path(DOWNLOADS, "quorvane-sample.bin"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_limits_and_stop_when_complete_reach_the_client_which_ends_after_completion(self):
        result = run_script(self.device.root, """answer 0
set DownloadLimit 2000
tab 3
tap Options
type 50
tap Stop when complete: No
dump
tap Done
""" + hand_over(self.torrent, self.name).replace("answer 0\n", "tab 0\n", 1) + """
until 120 Ended
dump
defaults
quit
""", timeout=200)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("The limits apply at once", result.stdout)
        self.assertIn("UploadLimit = 50", result.stdout)  # typed into the front field
        self.assertIn("StopWhenComplete = Yes", result.stdout)
        self.assertEqual(client_arguments(self.device.path("args")), ["-D", "2000", "-U", "50", "-e", "0", kept_copy(self.device.root, self.torrent)])
        after = transfer_tab_dumps(result.stdout)[-1]
        self.assertIn('"Ended (complete)"', after)
        self.assertIn('"100 %"', after)
        self.assertEqual(result.stdout.count("notification Download complete: " + self.name), 1, result.stdout)
        self.assertEqual(clients_on(self.torrent), [])


if __name__ == "__main__":
    unittest.main()
