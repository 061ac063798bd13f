#!/usr/bin/env python3
"""End-to-end tests of faults in the middle of things: a transfer client that
dies, fails, babbles, floods or will not stop; a full disk under the downloads,
Documents or settings folder; folders that cannot be read, vanish while shown
or hold 100,000 entries; ad and site servers that die, crawl, loop or never
end; two instances on one device. Each case checks what the person sees, that
nothing is lost, and that nothing is left running."""
import contextlib
import glob
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from headless_test import hand_over, DOWNLOADS, transfer_tab_dumps, HEADLESS, Device, pid_alive, run_script, wait_gone  # noqa: E402

ADNET = os.environ.get("QUORVANE_ADNET", os.path.join(HERE, "../../build/bin/adnet"))
WINDOW = os.environ.get("QUORVANE_WINDOW", os.path.join(HERE, "../../build/bin/quorvane"))
DOCUMENTS = "var/mobile/Documents"
PREFERENCES = "var/mobile/Library/Preferences"
# Under the sanitizers every block carries its shadow and freed ones wait in a
# quarantine: the bounds stand, four times wider.
SANITIZED = os.environ.get("QUORVANE_SANITIZED") == "1"


def bound_kib(kib):
    return kib * 4 if SANITIZED else kib


STATUS = "| 0/0/1 [{have}/64/64] 1MB,0MB | 100,0K/s | 0,0K E:0,1"



def pids_in(path):
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [int(p) for p in f.read().split()]


def clients(root):
    """A stand-in that notes its process, then runs the body for its run number
    (1, 2, ...) from runN.sh beside it, else a steady one."""
    return f"""#!/bin/bash
echo $$ >> "{root}/client.pids"
n=$(( $(cat "{root}/runs" 2>/dev/null || echo 0) + 1 ))
echo $n > "{root}/runs"
if [ -f "{root}/run$n.sh" ]; then exec bash "{root}/run$n.sh" "$@"; fi
trap '' PIPE
while :; do printf '\\n{STATUS.format(have=8)}'; sleep 0.1; done
"""


def peak_rss_kib(proc, stop):
    peak = 0
    while not stop.is_set():
        try:
            with open(f"/proc/{proc.pid}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        peak = max(peak, int(line.split()[1]))
        except OSError:
            break
        time.sleep(0.05)
    return peak


def run_measured(root, script, env=None, virtual=False, timeout=120):
    """Runs a script; returns (result, peak resident KiB, seconds)."""
    args = [HEADLESS, "--root", root, "--script", "-"] + (["--virtual-time"] if virtual else [])
    started = time.time()
    proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            env=env)
    stop = threading.Event()
    peak = [0]
    sampler = threading.Thread(target=lambda: peak.__setitem__(0, peak_rss_kib(proc, stop)))
    sampler.start()
    try:
        out, err = proc.communicate(script, timeout=timeout)
    finally:
        stop.set()
        sampler.join()
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return subprocess.CompletedProcess(args, proc.returncode, out, err), peak[0], time.time() - started


class TransferClientFaultTest(unittest.TestCase):
    def setUp(self):
        self.device = Device("#!/bin/sh\n")
        with open(self.device.client, "w") as f:
            f.write(clients(self.device.root))

    def tearDown(self):
        for pid in pids_in(self.device.path("client.pids")):
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        self.device.close()

    def run_body(self, n, body):
        with open(self.device.path(f"run{n}.sh"), "w") as f:
            f.write(body)

    def assert_no_client_left(self):
        pids = pids_in(self.device.path("client.pids"))
        self.assertTrue(pids)
        for pid in pids:
            self.assertTrue(wait_gone(pid, 15), f"client {pid} outlived the application")

    def torrent(self, name="t.torrent", content=b"d8:announce0:e"):
        path = self.device.path(DOWNLOADS, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        return path

    def test_killed_mid_transfer_says_so_and_a_new_transfer_starts(self):
        self.run_body(1, f"""for i in 1 2 3 4 5 6 7 8; do printf '\\n{STATUS}' $i; sleep 0.2; done
kill -KILL $$
""".replace("{have}", "%d"))
        path = self.torrent()
        result = run_script(self.device.root, hand_over(path, "t.torrent", leave=True) + """until 20 "Downloading"
until 20 Ended (exit status 137)
dump
""" + hand_over(path, "t.torrent", first=False, leave=True) + """until 20 "Downloading"
dump
quit
""", timeout=90)
        self.assertEqual(result.returncode, 0, result.stderr)
        killed, again = transfer_tab_dumps(result.stdout)
        self.assertIn('"Ended (exit status 137)"', killed)
        self.assertIn('UILabel (255,80,55,20) "12 %"', killed)  # the last line it wrote stays
        self.assertIn('"Downloading"', again)
        self.assertEqual(len(pids_in(self.device.path("client.pids"))), 2)
        self.assert_no_client_left()

    def test_a_garbage_torrent_ends_the_real_client_at_once_with_its_error(self):
        if not os.path.exists("/usr/bin/ctorrent"):
            self.skipTest("the real transfer client is not installed")
        self.run_body(1, 'exec /usr/bin/ctorrent "$@"\n')
        path = self.torrent("garbage.torrent", bytes(range(256)) * 4)
        result = run_script(self.device.root, hand_over(path, "garbage.torrent", leave=True) + """until 20 Not a valid torrent file
dump
""" + hand_over(path, "garbage.torrent", first=False, leave=True) + """until 20 "Downloading"
dump
quit
""", timeout=90)
        self.assertEqual(result.returncode, 0, result.stderr)
        failed, again = transfer_tab_dumps(result.stdout)
        # The client's error, said in words in the state, and its own words in the text view.
        self.assertIn('"Not a valid torrent file"', failed)
        self.assertIn("meta info failed", failed)  # the client's own words, in the text view
        self.assertIn('"Downloading"', again)
        # The garbage file is left as it was.
        with open(path, "rb") as f:
            self.assertEqual(f.read(), bytes(range(256)) * 4)
        self.assert_no_client_left()

    def test_garbage_output_is_shown_harmlessly_and_stop_still_works(self):
        self.run_body(1, """exec python3 -c '
import os, random, sys, time
rng = random.Random(7)
for i in range(40):
    chunk = bytes(rng.choice(b"[]|,/\\xff\\xfe\\xc3\\x00\\n0123456789 KMB") for _ in range(rng.randrange(1, 3000)))
    os.write(1, chunk)
    time.sleep(0.02)
time.sleep(600)
'
""")
        path = self.torrent()
        result = run_script(self.device.root, hand_over(path, "t.torrent", leave=True) + """wait 2.5
dump
tap Stop
until 20 Stopped
wait 1
dump
quit
""", timeout=90)
        self.assertEqual(result.returncode, 0, result.stderr)
        during, stopped = transfer_tab_dumps(result.stdout)
        self.assertIn('"Stopped"', stopped)
        self.assertIn("\ufffd", during)  # bytes that are no text show as replacement characters
        pid = pids_in(self.device.path("client.pids"))[0]
        self.assertTrue(wait_gone(pid, 5), "Stop ends the client")

    def test_megabytes_a_second_keep_the_tab_responsive_and_memory_bounded(self):
        self.run_body(1, f"trap '' PIPE\nexec yes '{STATUS.format(have=32)}'\n")
        path = self.torrent()
        result, peak, seconds = run_measured(self.device.root, hand_over(path, "t.torrent", leave=True) + """until 20 "Downloading"
wait 3
dump
tap Stop
until 20 Stopped
dump
quit
""", timeout=90)
        self.assertEqual(result.returncode, 0, result.stderr)
        during, stopped = transfer_tab_dumps(result.stdout)
        self.assertIn('"50 %"', during)
        self.assertIn('"Stopped"', stopped)
        self.assertLess(peak, bound_kib(200 * 1024), "resident memory while the client floods its output")
        self.assertLess(seconds, 30)
        self.assert_no_client_left()

    def test_a_client_that_ignores_sigterm_is_killed_after_stop(self):
        self.run_body(1, f"""trap '' TERM PIPE
while :; do printf '\\n{STATUS.format(have=4)}'; sleep 0.1; done
""")
        path = self.torrent()
        result = run_script(self.device.root, hand_over(path, "t.torrent", leave=True) + """until 20 "Downloading"
tap Stop
wait 12
dump
echo -- second
""" + hand_over(path, "t.torrent", first=False, leave=True) + """until 20 "Downloading"
dump
quit
""", virtual=False, timeout=90)
        self.assertEqual(result.returncode, 0, result.stderr)
        stopped, second = transfer_tab_dumps(result.stdout)
        self.assertIn('"Stopped"', stopped)
        first = pids_in(self.device.path("client.pids"))[0]
        self.assertIn(f"process {first} ", result.stderr)
        self.assertIn("did not end within 10 s of SIGTERM; killed", result.stderr)
        self.assertIn('"Downloading"', second)
        self.assert_no_client_left()

    def test_a_second_transfer_runs_beside_a_stubborn_one_and_exit_leaves_none(self):
        self.run_body(1, f"""trap '' TERM PIPE
while :; do printf '\\n{STATUS.format(have=4)}'; sleep 0.1; done
""")
        self.run_body(2, f"""trap '' TERM PIPE
while :; do printf '\\n{STATUS.format(have=9)}'; sleep 0.1; done
""")
        path = self.torrent()
        other = self.torrent("u.torrent")
        result = run_script(self.device.root, hand_over(path, "t.torrent", leave=True) + """until 20 "Downloading"
""" + hand_over(other, "u.torrent", first=False, leave=True) + """until 20 [9/64/64]
wait 11
echo -- beside
tab 0
tap Exit
""", virtual=False, timeout=90)
        self.assertEqual(result.returncode, 0, result.stderr)
        first, second = pids_in(self.device.path("client.pids"))
        self.assertNotIn(f"process {first} ", result.stderr)  # not replaced: it ran on, in the list
        self.assertIn("did not stop in 10 s; killing it", result.stderr)  # both, at the end
        self.assert_no_client_left()


@contextlib.contextmanager
def small_disk(path, size="64k"):
    """A small tmpfs at path (the folder's old entries are kept underneath)."""
    os.makedirs(path, exist_ok=True)
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", path], capture_output=True, text=True)
    if done.returncode != 0:
        raise unittest.SkipTest("a small tmpfs cannot be mounted here: " + done.stderr.strip())
    try:
        yield path
    finally:
        subprocess.run(["umount", "-l", path], check=False)


def fill(folder):
    """Fills the file system of folder to the last block."""
    fd = os.open(os.path.join(folder, "filler"), os.O_WRONLY | os.O_CREAT, 0o644)
    try:
        with contextlib.suppress(OSError):
            while os.write(fd, b"\0" * 4096) > 0:
                pass
        with contextlib.suppress(OSError):
            while os.write(fd, b"\0") > 0:
                pass
    finally:
        os.close(fd)


class PageServer:
    def __init__(self):
        self.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "..", "support", "pageserver.py"),
                                      "--lifetime", "120"], stdout=subprocess.PIPE, text=True)
        self.port = int(self.proc.stdout.readline())

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)
        self.proc.stdout.close()


class DiskFullTest(unittest.TestCase):
    def setUp(self):
        self.device = Device()

    def tearDown(self):
        self.device.close()

    def test_settings_on_a_full_disk_keep_the_old_file_and_say_why(self):
        prefs = self.device.path(PREFERENCES)
        first = run_script(self.device.root, "answer 0\nset Kept before\n", virtual=True)
        self.assertEqual(first.returncode, 0, first.stderr)
        settings = os.path.join(prefs, "quorvane.settings")
        with open(settings, "rb") as f:
            before = f.read()
        with small_disk(prefs):
            with open(settings, "wb") as f:  # the same file, now on the small disk
                f.write(before)
            fill(prefs)
            result = run_script(self.device.root, f"set Kept {'x' * 8192}\ndefaults\n", virtual=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("Stored settings could not be written to " + settings, result.stderr)
            self.assertIn("No space left on device", result.stderr)
            with open(settings, "rb") as f:
                self.assertEqual(f.read(), before, "the old settings file stays whole")
            self.assertEqual(sorted(os.listdir(prefs)), ["filler", "quorvane.lock", "quorvane.settings"],
                             "no half-written file is left behind")

    def test_a_kept_torrent_on_a_full_disk_leaves_the_old_one(self):
        docs = self.device.path(DOCUMENTS)
        server = PageServer()
        try:
            with small_disk(docs):
                with open(os.path.join(docs, "page.torrent"), "wb") as f:
                    f.write(b"d8:announce3:olde")
                fill(docs)
                env = dict(os.environ, QUORVANE_CONNECT_TO=f"sites.example.test:80:127.0.0.1:{server.port};"
                           f"releases.ubuntu.com:80:127.0.0.1:{server.port}")
                result = subprocess.run([HEADLESS, "--root", self.device.root, "--script", "-"], input="""answer 0
tab 1
follow http://sites.example.test/files/first.torrent
wait 1
""", capture_output=True, text=True, timeout=60, env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn("the torrent could not be kept", result.stderr)
                with open(os.path.join(docs, "page.torrent"), "rb") as f:
                    self.assertEqual(f.read(), b"d8:announce3:olde")
                self.assertEqual(sorted(os.listdir(docs)), ["filler", "page.torrent"])
        finally:
            server.close()

    def test_renaming_on_a_full_disk_loses_nothing(self):
        downloads = self.device.path(DOWNLOADS)
        with small_disk(downloads):
            with open(os.path.join(downloads, "a.torrent"), "wb") as f:
                f.write(b"d4:infod4:name1:aee")
            fill(downloads)
            result = run_script(self.device.root, """answer 0
tab 2
row-named a.torrent
answer 2
type b
answer 1
rows
""", virtual=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            names = sorted(os.listdir(downloads))
            self.assertIn(names, (["a.torrent", "filler"], ["b.torrent", "filler"]))
            kept = [n for n in names if n.endswith(".torrent")][0]
            self.assertIn(f"0 1: {kept}", result.stdout)  # the list shows what is there
            with open(os.path.join(downloads, kept), "rb") as f:
                self.assertEqual(f.read(), b"d4:infod4:name1:aee")


class FolderFaultTest(unittest.TestCase):
    def setUp(self):
        self.device = Device()
        self.downloads = self.device.path(DOWNLOADS)
        os.makedirs(self.downloads)

    def tearDown(self):
        self.device.close()

    def test_an_unreadable_folder_lists_as_the_way_back(self):
        os.makedirs(os.path.join(self.downloads, "locked"))
        with open(os.path.join(self.downloads, "locked", "secret.torrent"), "w") as f:
            f.write("x")
        os.chmod(os.path.join(self.downloads, "locked"), 0)
        args = [HEADLESS, "--root", self.device.root, "--virtual-time", "--script", "-"]
        if os.getuid() == 0:
            # Root reads every folder: run as nobody, on a device nobody may use.
            for d, _, files in os.walk(self.device.root):
                os.chmod(d, 0o777 if not d.endswith("locked") else 0)
            os.chmod(self.device.root, 0o777)
            args = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + args
        result = subprocess.run(args, input="answer 0\ntab 2\nrow 0\nrow-named Downloads\nrows\nrow-named locked\nrows\n",
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        listings = result.stdout.split("0 0: ...")
        self.assertIn("locked", listings[1])
        self.assertEqual(listings[-1].strip(), "", "the unreadable folder lists as '...' alone")
        os.chmod(os.path.join(self.downloads, "locked"), 0o755)

    def test_a_folder_that_vanishes_while_shown(self):
        os.makedirs(os.path.join(self.downloads, "gone", "deeper"))
        proc = subprocess.Popen([HEADLESS, "--root", self.device.root, "--virtual-time", "--script", "-"],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

        def say(commands, mark):
            proc.stdin.write(commands + f"\necho {mark}\n")
            proc.stdin.flush()
            lines = []
            for line in proc.stdout:
                if line.strip() == mark:
                    return "".join(lines)
                lines.append(line)
            return "".join(lines)

        try:
            shown = say("answer 0\ntab 2\nrow 0\nrow-named Downloads\nrow-named gone\nrows", "@shown")
            self.assertIn("deeper", shown)
            shutil.rmtree(os.path.join(self.downloads, "gone"))
            after = say("row-named deeper\nrows\nrow 0\nrows\nrow 0\nrows", "@after")
            proc.stdin.close()
            self.assertEqual(proc.wait(30), 0, proc.stderr.read())
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stdout.close()
            proc.stderr.close()
        self.assertNotIn("gone", after.split("0 0: ...")[-1] if "0 0: ..." in after else after)
        self.assertIn("0 0: ...", after)

    def test_a_folder_of_100000_entries_lists_in_bounded_time_and_memory(self):
        big = os.path.join(self.downloads, "big")
        os.makedirs(big)
        for i in range(100000):
            open(os.path.join(big, f"f{i:06}.torrent"), "w").close()
        result, peak, seconds = run_measured(self.device.root, "answer 0\ntab 2\nrow 0\nrow-named Downloads\nrow-named big\necho listed\n"
                                             "row-named f099999.torrent\nalert\nanswer 4\nquit\n", virtual=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("listed", result.stdout)
        self.assertIn("f099999.torrent", result.stdout)  # the last entry is reachable
        self.assertLess(seconds, 60)
        self.assertLess(peak, bound_kib(400 * 1024))


class Adnet:
    def __init__(self, scenarios, exit_after=120):
        self.tmp = tempfile.TemporaryDirectory(prefix="quorvane-faults-")
        self.root = self.tmp.name
        self.log = os.path.join(self.root, "adnet.log")
        self.proc = subprocess.Popen([ADNET, "--port", "0", "--log", self.log, "--exit-after", str(exit_after),
                                      "--scenario", scenarios], stdout=subprocess.PIPE, text=True)
        self.port = int(self.proc.stdout.readline().split()[1].split("=")[1])

    def env(self, extra=""):
        return dict(os.environ, QUORVANE_CONNECT_TO=f"ads.example.test:80:127.0.0.1:{self.port};"
                    f"media.example.test:80:127.0.0.1:{self.port};sites.example.test:80:127.0.0.1:{self.port};"
                    f"releases.ubuntu.com:80:127.0.0.1:{self.port}")

    def requests(self, path="/ad_source.php"):
        with open(self.log) as f:
            return [r for r in map(json.loads, f) if r["path"] == path]

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait(10)
        self.proc.stdout.close()
        self.tmp.cleanup()


class ServerFaultTest(unittest.TestCase):
    def tearDown(self):
        self.adnet.close()

    def banner(self, scenarios, script, virtual=True, timeout=120):
        self.adnet = Adnet(scenarios)
        return run_measured(self.adnet.root, "answer 0\ntab 2\n" + script, env=self.adnet.env(), virtual=virtual,
                            timeout=timeout)

    def test_virtual_time_carries_a_day_of_refreshes(self):
        result, peak, seconds = self.banner("text,other", "wait 86400\ndump\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        # One request at the start and one a minute for a day; each answer came.
        requests = len(self.adnet.requests())
        self.assertIn(requests, (1440, 1441))
        self.assertEqual(result.stderr.count("Adlark: Did receive ad"), 1)
        # The answers alternate; the banner shows the last one.
        self.assertIn("Try the Quorvane test ad" if requests % 2 else "Another ad, fresh from the Quorvane network",
                      result.stdout)
        self.assertLess(seconds, 100)

    def test_the_ad_server_dying_mid_answer(self):
        result, _, seconds = self.banner("text,die", "until 20 Try the Quorvane test ad\nwait 60\nwait 5\nwait 120\n"
                                         "dump\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.adnet.proc.wait(5), 3)  # it died in the second answer
        # The banner keeps the ad it has; later refreshes find nobody and change nothing.
        self.assertIn("Try the Quorvane test ad", result.stdout)
        self.assertNotIn("Half", result.stdout)
        self.assertLess(seconds, 60)

    def test_a_first_ad_that_dies_mid_answer_drops_the_banner(self):
        result, _, _ = self.banner("reset", "wait 5\ndump\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.count("Adlark: Did fail to receive ad"), 1)
        self.assertNotIn("Adlark", result.stdout)

    def test_one_byte_a_second_is_bounded_by_the_time_limit(self):
        result, peak, seconds = self.banner("trickle", "wait 300\ndump\n", timeout=200)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.count("Adlark: Did fail to receive ad"), 1)
        self.assertNotIn("Trickled ad", result.stdout)
        self.assertLess(seconds, 150)
        self.assertLess(peak, bound_kib(200 * 1024))

    def test_a_redirect_loop_fails_the_ad(self):
        result, _, seconds = self.banner("redirect-loop", "wait 5\ndump\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.count("Adlark: Did fail to receive ad"), 1)
        self.assertLessEqual(len(self.adnet.requests()), 20)  # followed a bounded number of times
        self.assertGreater(len(self.adnet.requests()), 2)
        self.assertLess(seconds, 30)

    def test_the_site_browser_against_an_endless_page_and_an_endless_torrent(self):
        self.adnet = Adnet("text")
        os.makedirs(os.path.join(self.adnet.root, DOCUMENTS))
        kept = os.path.join(self.adnet.root, DOCUMENTS, "page.torrent")
        with open(kept, "wb") as f:
            f.write(b"old")
        result, peak, seconds = run_measured(self.adnet.root, """answer 0
tab 1
loaded 20
type sites.example.test/endless.html
return
loaded 60
web
follow http://sites.example.test/endless.torrent
web
""", env=self.adnet.env(), timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("loading=no", result.stdout)
        self.assertNotIn('title="Endless"', result.stdout)
        with open(kept, "rb") as f:
            self.assertEqual(f.read(), b"old", "a torrent that never ends is not kept")
        self.assertLess(seconds, 80)
        self.assertLess(peak, bound_kib(400 * 1024))


def bstr(b):
    return str(len(b)).encode() + b":" + b


def many_files_torrent(path, files):
    """A description of `files` one-byte files, with a tracker."""
    with open(path, "wb") as out:
        out.write(b"d8:announce" + bstr(b"http://127.0.0.1:1/announce") + b"4:infod5:filesl")
        for i in range(files):
            out.write(b"d6:lengthi1e4:pathl" + bstr(b"f%07d" % i) + b"ee")
        out.write(b"e4:name4:many12:piece lengthi16384e6:pieces20:" + b"\0" * 20 + b"ee")


class OutsideFaultTest(unittest.TestCase):
    """What a hostile world or a new user does to the files tab, the opener and the settings folder."""

    def setUp(self):
        self.device = Device()
        self.downloads = self.device.path(DOWNLOADS)
        os.makedirs(self.downloads)
        self.script("answer 0\n")  # the first-run notice, once per device

    def tearDown(self):
        self.device.close()

    def script(self, text, extra=()):
        args = [HEADLESS, "--root", self.device.root, "--virtual-time", *extra, "--script", "-"]
        result = subprocess.run(args, input=text, capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_what_open_refuses_the_files_tab_and_a_followed_link_refuse_too(self):
        # A pipe named like a .torrent, a link to a device, a file too large,
        # and a torrent past the file-count cap: never handed to the client.
        os.mkfifo(os.path.join(self.downloads, "pipe.torrent"))
        os.symlink("/dev/zero", os.path.join(self.downloads, "zero.torrent"))
        with open(os.path.join(self.downloads, "huge.torrent"), "wb") as f:
            f.truncate(500 * 1024 * 1024)
        many_files_torrent(os.path.join(self.downloads, "many.torrent"), 200_001)
        for name, words in (("pipe.torrent", "is not a file"), ("zero.torrent", "is not a file"),
                            ("huge.torrent", "too large"), ("many.torrent", "more than 200000 files")):
            out = self.script(f"tab 2\nrow-named {name}\nanswer 0\nalert\ndefaults\n")
            self.assertIn(words, out, name)
            self.assertIn("DownloadTorrentBool = No", out, name)
            opened = self.script("alert\ndefaults\n", ["--open", os.path.join(self.downloads, name)])
            self.assertIn(words, opened, name)
            self.assertIn("DownloadTorrentBool = No", opened, name)
        server = PageServer()
        try:
            env = dict(os.environ, QUORVANE_CONNECT_TO=f"sites.example.test:80:127.0.0.1:{server.port};"
                       f"releases.ubuntu.com:80:127.0.0.1:{server.port}")
            result = subprocess.run([HEADLESS, "--root", self.device.root, "--script", "-"], input="tab 1\n"
                                    "follow http://sites.example.test/files/many.torrent\nuntil 20 Not kept\n",
                                    capture_output=True, text=True, timeout=60, env=env)
        finally:
            server.close()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.exists(self.device.path(DOCUMENTS, "page.torrent")))

    def test_rename_keeps_the_file_in_its_folder_and_says_why_it_will_not(self):
        sub = os.path.join(self.downloads, "sub")
        os.makedirs(sub)
        for name in ("a.txt", "taken.txt"):
            open(os.path.join(sub, name), "w").close()
        walk = "tab 2\nrow 0\nrow-named Downloads\nrow-named sub\n"
        out = self.script(walk + "row-named a.txt\nanswer 2\ntype b\nanswer 1\nrows\n")
        self.assertEqual(sorted(os.listdir(sub)), ["b.txt", "taken.txt"])
        self.assertIn("0 1: b.txt", out.split("0 0: ...")[-1])
        out = self.script(walk + "row-named b.txt\nanswer 2\ntype taken\nanswer 1\nalert\nanswer 0\n"
                          "row-named b.txt\nanswer 2\ntype ..\nanswer 1\nalert\n")
        self.assertIn('A file named \\"taken.txt\\" already exists', out)
        self.assertIn('\\"..\\" names a folder, not a file', out)
        self.assertEqual(sorted(os.listdir(sub)), ["b.txt", "taken.txt"])

    def test_a_link_to_a_folder_is_renamed_and_deleted_as_a_link(self):
        outside = self.device.path("outside")
        os.makedirs(outside)
        open(os.path.join(outside, "precious.bin"), "w").close()
        os.symlink(outside, os.path.join(self.downloads, "Linked"))
        walk = "tab 2\nrow 0\nrow-named Downloads\n"
        out = self.script(walk + "row-named Linked\nalert\nanswer 2\ntype Moved\nanswer 1\nrows\n")
        self.assertIn('title="Linked"', out)  # the actions of the link, not its folder's listing
        self.assertTrue(os.path.islink(os.path.join(self.downloads, "Moved")))
        self.script(walk + "row-named Moved\nanswer 3\n")
        self.assertEqual(os.listdir(self.downloads), [])
        self.assertEqual(os.listdir(outside), ["precious.bin"])

    def test_copies_left_by_killed_writes_are_swept_at_start(self):
        prefs = self.device.path(PREFERENCES)
        os.makedirs(prefs, exist_ok=True)
        left = [f"transfers.list.{s}" for s in ("a1B2c3", "ZZZZZZ", "000000")]
        keep = ["transfers.list.keep", "notes.txt"]
        for name in left + keep:
            open(os.path.join(prefs, name), "w").close()
        self.script("alert\n")
        remaining = set(os.listdir(prefs))
        self.assertFalse(remaining & set(left), remaining)
        self.assertTrue(set(keep) <= remaining, remaining)


class InstanceTest(unittest.TestCase):
    def setUp(self):
        self.device = Device()
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
            p.wait()
            for stream in (p.stdin, p.stdout, p.stderr):
                if stream:
                    stream.close()
        self.device.close()

    def start_headless(self, first=True):
        p = subprocess.Popen([HEADLESS, "--root", self.device.root, "--virtual-time", "--script", "-"],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.procs.append(p)
        p.stdin.write(("answer 0\n" if first else "") + "echo running\n")
        p.stdin.flush()
        self.assertEqual(p.stdout.readline().strip(), "running")
        return p

    def test_a_second_headless_run_on_one_device_says_why_and_changes_nothing(self):
        first = self.start_headless()
        second = run_script(self.device.root, "set DownloadTorrentBool Yes\ndefaults\n", virtual=True, timeout=30)
        self.assertEqual(second.returncode, 1)
        self.assertIn(f"Quorvane is already running on this device (process {first.pid})", second.stderr)
        self.assertNotIn("DownloadTorrentBool", second.stdout)
        first.stdin.write("defaults\nquit\n")
        first.stdin.close()
        self.assertEqual(first.wait(30), 0)
        self.assertIn("DownloadTorrentBool = No", first.stdout.read())
        # A killed holder leaves nothing in the way.
        killed = self.start_headless(first=False)
        killed.kill()
        killed.wait()
        third = run_script(self.device.root, "alert\n", virtual=True, timeout=30)
        self.assertEqual(third.returncode, 0, third.stderr)

    def window_env(self, runtime):
        return dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=runtime)

    def test_window_and_headless_on_one_device_and_a_stale_instance_socket(self):
        if not os.path.exists(WINDOW):
            self.skipTest("the window is not built")
        runtime = self.device.path("runtime")
        os.makedirs(runtime, mode=0o700)
        socket_path = os.path.join(runtime, "quorvane.instance")
        window = subprocess.Popen([WINDOW, "--root", self.device.root], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True, env=self.window_env(runtime))
        self.procs.append(window)
        end = time.time() + 60
        while not os.path.exists(socket_path) and time.time() < end and window.poll() is None:
            time.sleep(0.1)
        self.assertTrue(os.path.exists(socket_path), "the window did not start")
        headless = run_script(self.device.root, "alert\n", timeout=30)
        self.assertEqual(headless.returncode, 1)
        self.assertIn(f"Quorvane is already running on this device (process {window.pid})", headless.stderr)
        # A window killed outright leaves its socket behind; the next one takes over.
        window.kill()
        window.wait()
        self.assertTrue(os.path.exists(socket_path))
        started = time.time()
        again = subprocess.Popen([WINDOW, "--root", self.device.root], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True, env=self.window_env(runtime))
        self.procs.append(again)
        # It answers on the socket once it runs (--if-running only asks, never starts one).
        end = time.time() + 60
        while time.time() < end and again.poll() is None:
            probe = subprocess.run([WINDOW, "--if-running"], capture_output=True, text=True, timeout=30,
                                   env=self.window_env(runtime))
            if probe.returncode == 0:
                break
            time.sleep(0.3)
        third = subprocess.run([WINDOW, "--root", self.device.root], capture_output=True, text=True, timeout=30,
                               env=self.window_env(runtime))
        self.assertIsNone(again.poll(), again.stderr.read() if again.poll() is not None else "")
        self.assertEqual(third.returncode, 0, third.stderr)
        self.assertIn("already running; its window is shown again", third.stderr)
        self.assertLess(time.time() - started, 60)
        again.terminate()
        self.assertEqual(again.wait(30), 0)

    def test_another_user_cannot_take_the_instance_socket(self):
        if not os.path.exists(WINDOW):
            self.skipTest("the window is not built")
        if os.getuid() != 0:
            self.skipTest("playing another user needs root")
        # A shared temporary folder, no runtime folder: another user gets in
        # first, at the old socket's place and at the new folder's.
        tmp = self.device.path("tmp")
        os.makedirs(tmp)
        os.chmod(tmp, 0o1777)
        os.chmod(self.device.root, 0o755)
        heard = self.device.path("tmp", "heard")
        listener = subprocess.Popen(
            ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", sys.executable, "-c", f"""
import os, socket, sys
os.umask(0)
os.mkdir({tmp!r} + "/quorvane-0", 0o777)
servers = []
for path in ({tmp!r} + "/quorvane-0.instance", {tmp!r} + "/quorvane-0/instance"):
    s = socket.socket(socket.AF_UNIX)
    s.bind(path)
    s.listen(4)
    servers.append(s)
print("ready", flush=True)
import select
while True:
    ready, _, _ = select.select(servers, [], [], 30)
    if not ready:
        break
    for s in ready:
        c, _ = s.accept()
        line = c.recv(4096)
        with open({heard!r}, "ab") as f:
            f.write(line)
        c.sendall(b"ok\\n")
        c.close()
"""], stdout=subprocess.PIPE, text=True)
        self.procs.append(listener)
        self.assertEqual(listener.stdout.readline().strip(), "ready")
        state = self.device.path("state")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", TMPDIR=tmp, XDG_STATE_HOME=state)
        env.pop("XDG_RUNTIME_DIR", None)
        secret = os.path.join(self.device.root, "secret plans.torrent")
        # The taken name does not keep Quorvane from starting: a private
        # folder of the user's own serves, and it says so.
        result = subprocess.run([WINDOW, "--root", self.device.root, "--if-running", secret], capture_output=True, text=True,
                                timeout=60, env=env)
        self.assertEqual(result.returncode, 1, result.stderr)  # none runs
        self.assertIn("belongs to another user", result.stderr)
        self.assertIn(os.path.join(state, "quorvane", "run") + " is used instead", result.stderr)
        self.assertEqual(os.stat(os.path.join(state, "quorvane", "run")).st_mode & 0o777, 0o700)
        self.assertFalse(os.path.exists(heard), "the other user was told our file's path")

    def test_a_window_asked_for_on_a_missing_wayland_display_says_so(self):
        if not os.path.exists(WINDOW):
            self.skipTest("the window is not built")
        runtime = self.device.path("runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, QT_QPA_PLATFORM="wayland", WAYLAND_DISPLAY="wayland-gone", XDG_RUNTIME_DIR=runtime)
        env.pop("DISPLAY", None)
        result = subprocess.run([WINDOW, "--root", self.device.root], capture_output=True, text=True, timeout=60, env=env)
        # Qt alone would abort (134) and speak of reinstalling.
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("no Wayland display at " + os.path.join(runtime, "wayland-gone"), result.stderr)


if __name__ == "__main__":
    unittest.main()
