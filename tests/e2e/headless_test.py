#!/usr/bin/env python3
"""End-to-end tests: the application driven through the headless shell, with
real child processes, a real transfer client and a loopback swarm."""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
HEADLESS = os.environ.get("QUORVANE_HEADLESS", os.path.join(HERE, "../../build/bin/quorvane-headless"))
DOWNLOADS = "var/mobile/Library/Downloads"


def run_script(root, script, timeout=120, virtual=False):
    args = [HEADLESS, "--root", root, "--script", "-"]
    if virtual:
        args.append("--virtual-time")
    return subprocess.run(args, input=script, capture_output=True, text=True, timeout=timeout)


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie is gone for our purposes.
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


def wait_gone(pid, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        if not pid_alive(pid):
            return True
        time.sleep(0.05)
    return False


def hand_over(path, name, first=True, leave=False):
    """Script lines that hand a .torrent to the Transfer tab, as the Files tab
    does, and answer its question Yes. `first` closes the first-run notice;
    `leave` goes to the Welcome tab first, so that a Transfer tab already in
    front is entered again and asks."""
    return ("answer 0\n" if first else "") + f"""set DownloadTorrent {path}
set DownloadTorrentName {name}
set DownloadTorrentBool Yes
""" + ("tab 0\n" if leave else "") + """tab 3
answer 1
"""


def client_arguments(path):
    """The arguments a client was started with, after the control channel's
    two, which every client of the application gets first."""
    with open(path) as f:
        args = f.read().split("\n")[:-1]
    assert args[:1] == ["-S"] and re.fullmatch(r"127\.0\.0\.1:[0-9]+:", args[1]), args
    rest = args[2:]
    # A torrent with trackers is announced through the service's gateway, under a key of its own.
    if len(rest) >= 3 and rest[-3] == "-u":
        assert re.fullmatch(r"http://127\.0\.0\.1:[0-9]+/[A-Za-z0-9_-]{16,}/announce", rest[-2]), rest
        rest = rest[:-3] + rest[-1:]
    return rest


def kept_copy(root, torrent):
    """Where the application keeps its copy of a .torrent, which the client runs from."""
    normal = os.path.normpath(torrent)
    h = 1469598103934665603
    for byte in normal.encode():
        h = ((h ^ byte) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    stem = re.sub(r"[^A-Za-z0-9._-]", "_", os.path.splitext(os.path.basename(normal))[0][:40])
    return os.path.join(root, "var/mobile/Library/Quorvane/state/transfers", f"{stem}-{h:016x}", os.path.basename(normal))


def client_pattern(torrent):
    """A pgrep pattern for a client on a torrent in a device's downloads folder:
    run from the file itself or from that device's copy of it."""
    root = torrent[:torrent.index("/" + DOWNLOADS)]
    return f"ctorrent.* ({torrent}|{kept_copy(root, torrent)})$"


def transfer_tab_dumps(out):
    """The transfer tab's part of each dump in a script's output, in order."""
    dumps = []
    at = out.find("UIView (0,20,320,460)")
    while at >= 0:
        dumps.append(out[at:out.index("UITabBar", at)])
        at = out.find("UIView (0,20,320,460)", at + 1)
    return dumps


class Device:
    """A temporary device root with a chosen transfer client."""

    def __init__(self, client=None):
        self.tmp = tempfile.TemporaryDirectory(prefix="quorvane-e2e-")
        self.root = self.tmp.name
        os.makedirs(os.path.join(self.root, "usr/bin"))
        self.client = os.path.join(self.root, "usr/bin/ctorrent")
        if client == "real":
            os.symlink("/usr/bin/ctorrent", self.client)
        elif client:
            with open(self.client, "w") as f:
                f.write(client)
            os.chmod(self.client, 0o755)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def close(self):
        self.tmp.cleanup()


class RealTransferTest(unittest.TestCase):
    def setUp(self):
        self.device = Device("real")
        self.swarm = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "swarm.py"), "--dir", self.device.path("swarm"),
             "--torrent-out", self.device.path(DOWNLOADS), "--lifetime", "240", "--watch-stdin"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.swarm.stdout.readline().strip()
        self.assertTrue(line.startswith("ready "), line)
        self.torrent = line[len("ready "):]

    def tearDown(self):
        self.swarm.stdin.close()
        self.swarm.wait(timeout=30)
        self.device.close()

    def test_download_with_the_real_client_and_stop_it(self):
        name = os.path.basename(self.torrent)
        result = run_script(self.device.root, f"""
set DownloadTorrent {self.torrent}
set DownloadTorrentName {name}
set DownloadTorrentBool Yes
answer 0
tab 3
alert
answer 1
until 90 [64/64/64]
wait 1.5
dump
tap Stop
until 30 Stopped
dump
defaults
quit
""", timeout=200)
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout
        self.assertIn("Do you want to download:\\n " + self.torrent, out)
        self.assertIn('UILabel (10,8,166,22) "%s"' % name, out)
        # Every piece in: the headline agrees with the state instead of "Downloading ...".
        self.assertIn('"Complete, sharing ..."', out)
        self.assertIn('"Seeding (complete)"', out)
        self.assertIn('"Stopped"', out)
        self.assertIn("DownloadTorrentBool = No", out)
        # The labels hold fields cut from real status lines: the spinner, and the rates.
        first = out.index("UIView (0,20,320,460)")
        dump = out[first:out.index("UITabBar", first)]
        labels = [l for l in dump.splitlines() if "UILabel (10,56,90,20)" in l or "UILabel (110,56,95,20)" in l]
        self.assertEqual(len(labels), 2, dump)
        self.assertTrue(all('"' in l for l in labels), labels)
        self.assertIn("Testing NSLog: Entry", result.stderr)
        # The payload landed in the downloads folder, whole.
        with open(self.device.path("swarm/seed/quorvane-sample.bin"), "rb") as a, \
                open(self.device.path(DOWNLOADS, "quorvane-sample.bin"), "rb") as b:
            self.assertEqual(a.read(), b.read())
        # Stop ended the client: no transfer client is left on this torrent.
        end = time.time() + 15
        while time.time() < end:
            left = subprocess.run(["pgrep", "-f", client_pattern(self.torrent)], capture_output=True, text=True).stdout.split()
            if not left:
                break
            time.sleep(0.1)
        self.assertEqual(left, [])


STAND_IN = """#!/bin/bash
echo $$ > "{root}/client.pid"
trap '' PIPE
while :; do printf '\\n| 0/0/1 [1/8/1] 0MB,0MB | 10,5K/s | 2,1K E:0,1'; sleep 0.1; done
"""


class ClientFailureTest(unittest.TestCase):
    """The real client on a .torrent it cannot use: the tab says why in words."""

    def run_on(self, device, torrent, first=True):
        return run_script(device.root, ("answer 0\n" if first else "") + f"""set DownloadTorrent {torrent}
set DownloadTorrentName {os.path.basename(torrent)}
set DownloadTorrentBool Yes
tab 3
answer 1
until 30 Transfer failed
wait 1.5
dump
tap Stop
""")

    def test_a_garbage_or_missing_torrent_is_said_in_words(self):
        device = Device("real")
        try:
            os.makedirs(device.path(DOWNLOADS))
            garbage = device.path(DOWNLOADS, "garbage.torrent")
            with open(garbage, "wb") as f:
                f.write(os.urandom(300))
            result = self.run_on(device, garbage)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertIn('"Not a valid torrent file"', result.stdout)
            self.assertIn("error, initial meta info failed.", result.stdout, "the client's own line stays")
            self.assertNotIn('"Downloading ..."', result.stdout)
            self.assertIn('the button "Stop" is disabled', result.stderr)
            missing = self.run_on(device, device.path(DOWNLOADS, "gone.torrent"), first=False)
            self.assertIn('"Cannot read the torrent file: no such file or directory"', missing.stdout)
        finally:
            device.close()


class ApplicationTest(unittest.TestCase):
    def test_first_run_notice_once_and_the_request_flag_reset_at_start(self):
        device = Device()
        try:
            first = run_script(device.root, "alert\nanswer 0\ndefaults\nset DownloadTorrentBool Yes\n", virtual=True)
            self.assertEqual(first.returncode, 0, first.stderr)
            self.assertIn('UIAlertView title="Quorvane 2.1b\\nPlease Read!" message="This is only shown once!', first.stdout)
            self.assertIn("AlertBool = Ja", first.stdout)
            second = run_script(device.root, "alert\ndefaults\ntab 3\nalert\ndump\n", virtual=True)
            self.assertEqual(second.returncode, 0, second.stderr)
            self.assertEqual(second.stdout.count("no alert"), 2, second.stdout)
            self.assertIn("DownloadTorrentBool = No", second.stdout)
            self.assertIn('"No torrent file set yet!"', second.stdout)
            # Another letter case lets the notice show again.
            third = run_script(device.root, "set AlertBool ja\n", virtual=True)
            fourth = run_script(device.root, "alert\n", virtual=True)
            self.assertEqual(third.returncode, 0)
            self.assertIn("Please Read!", fourth.stdout)
        finally:
            device.close()

    def test_support_opens_the_donation_page_and_about_shows_the_box(self):
        device = Device()
        try:
            result = run_script(device.root, "answer 1\ntap About\nalert\nanswer 0\nalert\n", virtual=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertRegex(result.stdout, r"openURL https://\S+/cgi-bin/webscr\?cmd=_s-xclick&hosted_button_id=\S+")
            self.assertIn('UIAlertView title="About Quorvane"', result.stdout)
            self.assertIn("Special Thanks to:", result.stdout)
            self.assertTrue(result.stdout.rstrip().endswith("no alert"))
        finally:
            device.close()

    def start_transfer(self, device):
        return f"""answer 0
set DownloadTorrent {device.path(DOWNLOADS, 'x.torrent')}
set DownloadTorrentName x.torrent
set DownloadTorrentBool Yes
tab 3
answer 1
until 20 [1/8/1]
"""

    def test_leaving_keeps_the_transfer_and_exit_ends_it(self):
        device = Device(STAND_IN.format(root="/dev/null"))
        with open(device.client, "w") as f:
            f.write(STAND_IN.format(root=device.root))
        try:
            result = run_script(device.root, self.start_transfer(device) + """suspend
wait 1
echo still here
suspend
tab 0
tap Exit
alert
answer 0
echo kept
tap Exit
answer 1
echo not reached
""")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("still here", result.stdout)
            # Leaving says once that Quorvane keeps running, and how to come back.
            self.assertEqual(result.stdout.count("notification Quorvane keeps running: "), 1, result.stdout)
            self.assertIn("Start Quorvane again", result.stdout)
            # Exit while the transfer runs asks first; Cancel keeps it.
            self.assertIn('message="A transfer is running. Stop it and exit?"', result.stdout)
            self.assertIn("kept", result.stdout)
            self.assertNotIn("not reached", result.stdout)
            again = run_script(device.root, "suspend\ntab 0\ntap Exit\necho not reached\n")
            self.assertNotIn("notification", again.stdout, "once per installation")
            self.assertNotIn("not reached", again.stdout, "nothing runs: Exit ends at once")
            with open(device.path("client.pid")) as f:
                pid = int(f.read())
            self.assertTrue(wait_gone(pid), "the exit action must end the transfer")
        finally:
            device.close()

    def test_a_transfer_outlives_a_killed_application(self):
        device = Device()
        with open(device.client, "w") as f:
            f.write(STAND_IN.format(root=device.root))
        os.chmod(device.client, 0o755)
        try:
            proc = subprocess.Popen([HEADLESS, "--root", device.root, "--script", "-"], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            proc.stdin.write(self.start_transfer(device) + "echo started\n")
            proc.stdin.flush()
            while "started" not in proc.stdout.readline():
                pass
            with open(device.path("client.pid")) as f:
                pid = int(f.read())
            self.assertTrue(pid_alive(pid))
            proc.kill()
            proc.wait()
            # A phone shell or the out-of-memory killer ends the application, not its transfers.
            self.assertFalse(wait_gone(pid, 2), "the client goes on when the application dies")
            os.kill(pid, signal.SIGKILL)
            self.assertTrue(wait_gone(pid))
        finally:
            device.close()

    def test_script_errors_stop_the_script_with_a_message(self):
        for script, message in [("frobnicate\n", "unknown command 'frobnicate'"),
                                    ("answer 0\nanswer 0\n", "no alert or action sheet is shown"),
                                    ("answer 0\ntap Nothing\n", 'no button or tab titled "Nothing"'),
                                    ("answer 0\ntab 7\n", "there is no tab 7"),
                                ("wait soon\n", "must be a number")]:
            device = Device()
            try:
                result = run_script(device.root, script + "echo after\n", virtual=True)
                self.assertEqual(result.returncode, 1, script)
                self.assertIn(message, result.stderr)
                self.assertNotIn("after", result.stdout)
            finally:
                device.close()


if __name__ == "__main__":
    unittest.main()
