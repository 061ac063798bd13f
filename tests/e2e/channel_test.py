#!/usr/bin/env python3
"""End-to-end tests of who may speak on the transfer clients' control
channel: the port is kept while the application is killed, so that no other
program takes it and is handed the password, and a connection speaks for a
transfer only when it comes from that transfer's own client."""
import errno
import os
import re
import signal
import socket
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from headless_test import HEADLESS, Device, hand_over, kept_copy, pid_alive, transfer_tab_dumps, wait_gone  # noqa: E402
from live_test import clients_on, start_swarm  # noqa: E402


class Shell:
    """The headless shell fed a line at a time; its log in a file."""

    def __init__(self, device, n):
        self.log = device.path(f"shell-{n}.log")
        with open(self.log, "w") as log:
            self.proc = subprocess.Popen([HEADLESS, "--root", device.root, "--script", "-"], stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, stderr=log, text=True)

    def run(self, lines, marker, test):
        self.proc.stdin.write(lines + f"echo {marker}\n")
        self.proc.stdin.flush()
        out = ""
        while marker not in out:
            line = self.proc.stdout.readline()
            if not line:
                test.fail("the shell ended: " + self.log_text()[-3000:])
            out += line
        return out

    def log_text(self):
        with open(self.log) as f:
            return f.read()

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.proc.stdout.close()
        self.proc.stdin.close()


class Impostor:
    """Anyone with the password, on a plain socket."""

    def __init__(self, port, password, identity):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.sock.sendall(f"PROTOCOL 0003\nAUTH {password}\n\nCTORRENT {identity}\n".encode())
        self.heard = b""

    def say(self, line):
        self.sock.sendall(line.encode() + b"\n")

    def listen(self):
        self.sock.settimeout(0.2)
        try:
            while True:
                chunk = self.sock.recv(65536)
                if not chunk:
                    break
                self.heard += chunk
        except socket.timeout:
            pass
        return self.heard.decode(errors="replace")


class ControlPortTest(unittest.TestCase):
    def setUp(self):
        self.device = Device("real")
        # Slow enough to be caught on the way: 8 MiB at 100 KB/s.
        [self.torrent] = start_swarm(self, "--size", str(8 * 1024 * 1024), "--seed-rate", "100")
        self.shells = []
        self.others = []

    def tearDown(self):
        for shell in self.shells:
            shell.close()
        for other in self.others:
            other.sock.close()
        for pid in clients_on(self.torrent):
            os.kill(pid, signal.SIGKILL)
        self.swarm.stdin.close()
        self.swarm.wait(timeout=30)
        self.swarm.stdout.close()
        self.device.close()

    def shell(self):
        shell = Shell(self.device, len(self.shells))
        self.shells.append(shell)
        return shell

    def test_the_port_outlives_a_killed_application_and_only_the_own_client_speaks_for_its_transfer(self):
        first = self.shell()
        out = first.run(hand_over(self.torrent, "t.torrent") + "until 60 Downloading\ndefaults\n", "started", self)
        port = int(re.search(r"ControlPort = ([0-9]+)", out).group(1))
        with open(self.device.path("var/mobile/Library/Preferences/control.secret")) as f:
            password = f.read().strip()
        [client] = clients_on(self.torrent)
        kept = re.search(r"kept between runs by process ([0-9]+)", first.log_text())
        self.assertTrue(kept, first.log_text()[-2000:])
        keeper = int(kept.group(1))
        for name in ("var/mobile/Library/Preferences/transfers.list", "var/mobile/Library/Quorvane/state"):
            mode = os.stat(self.device.path(name)).st_mode & 0o077
            self.assertEqual(mode, 0, f"{name} is the user's alone")

        # Someone with the password names our torrent and says it is complete;
        # another names a file whose name would turn the text around.
        impostor = Impostor(port, password, f"-XX0001-0x00AA 1796846734 1796846734 {self.torrent}")
        self.others.append(impostor)
        impostor.say("CTSTATUS 9:9/9:9/0 32/32/32 999999,0 8388608,0 0,0 0")
        mirror = Impostor(port, password, "-XX0002-0x00BB 1796846735 1796846735 /tmp/x\u202egnp.torrent")
        self.others.append(mirror)
        out = first.run("tab 3\nwait 3\ndump\ntap Pause\nwait 2\ndump\n", "looked", self)
        dumps = transfer_tab_dumps(out)
        self.assertIn('UILabel (10,122,150,18) "Downloading"', dumps[0], "the impostor's figures are not our transfer's")
        self.assertIn('"Seeding (complete) (started elsewhere)', dumps[0], "they are a row of their own")
        self.assertNotIn("\u202e", out, "a name that turns text around is shown escaped")
        self.assertIn("x?gnp.torrent", out)
        self.assertNotIn("CTCONFIG pause", impostor.listen(), "Pause goes to our own client")
        self.assertIn("does not come from its client", first.log_text())
        first.run("tap Resume\nwait 1\n", "resumed", self)

        # Killed without Exit: the client goes on and the port stays ours.
        first.proc.kill()
        first.proc.wait()
        self.assertTrue(pid_alive(client))
        self.assertTrue(pid_alive(keeper))
        squatter = socket.socket()
        squatter.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        with self.assertRaises(OSError) as taken:
            squatter.bind(("127.0.0.1", port))
        self.assertEqual(taken.exception.errno, errno.EADDRINUSE)
        squatter.close()

        # The next start is handed the port and the client comes back to it.
        second = self.shell()
        second.run("tab 3\nuntil 60 Downloading\nwait 6\n", "again", self)
        log = second.log_text()
        self.assertIn(f"kept between runs (keeper process {keeper})", log)
        self.assertRegex(log, r"Control channel: client -CD0303-\S+ connected from 127.0.0.1 for "
                         + re.escape(kept_copy(self.device.root, self.torrent)))
        second.proc.stdin.write("quit\n")
        second.proc.stdin.close()
        self.assertEqual(second.proc.wait(60), 0)
        self.assertTrue(wait_gone(client, 15), "Exit ends the client")
        self.assertTrue(wait_gone(keeper, 15), "and with no client left the keeper lets the port go")

    def test_a_port_another_user_took_gets_no_client_and_the_password_is_renewed(self):
        if os.getuid() != 0:
            self.skipTest("playing another user needs root")
        first = self.shell()
        out = first.run(hand_over(self.torrent, "t.torrent") + "until 60 Downloading\ndefaults\n", "started", self)
        port = int(re.search(r"ControlPort = ([0-9]+)", out).group(1))
        secret = self.device.path("var/mobile/Library/Preferences/control.secret")
        with open(secret) as f:
            password = f.read().strip()
        keeper = int(re.search(r"kept between runs by process ([0-9]+)", first.log_text()).group(1))
        [client] = clients_on(self.torrent)
        # The application and its keeper killed: the port is free, and another user takes it.
        first.proc.kill()
        first.proc.wait()
        os.kill(keeper, signal.SIGKILL)
        squatter = subprocess.Popen(
            ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", sys.executable, "-u", "-c", f"""
import socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
for attempt in range(100):
    try:
        s.bind(("127.0.0.1", {port}))
        break
    except OSError:
        time.sleep(0.1)
s.listen(8)
print("listening", flush=True)
s.settimeout(60)
while True:
    c, _ = s.accept()
    c.settimeout(5)
    got = b""
    try:
        while b"CTORRENT" not in got:
            chunk = c.recv(4096)
            if not chunk:
                break
            got += chunk
    except OSError:
        pass
    print(got.decode(errors="replace").replace(chr(10), " "), flush=True)
"""], stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(squatter.stdout.readline().strip(), "listening")
            heard = squatter.stdout.readline()
            self.assertIn("AUTH " + password, heard, "what a client left on its own gives a stranger")

            # The next start says who holds the port, hands it no client and forgets the heard password.
            second = self.shell()
            second.run("tab 3\nuntil 60 Downloading\nwait 2\n", "again", self)
            log = second.log_text()
            self.assertIn(f"Port {port} on 127.0.0.1 is held by a program of user 65534", log)
            self.assertIn("started again without the channel", log)
            self.assertTrue(wait_gone(client, 15))
            [again] = clients_on(self.torrent)
            with open(f"/proc/{again}/cmdline", "rb") as f:
                self.assertNotIn(b"-S", f.read().split(b"\0"))
            self.assertFalse(os.path.exists(secret) and open(secret).read().strip() == password)
            second.proc.stdin.write("quit\n")
            second.proc.stdin.close()
            self.assertEqual(second.proc.wait(60), 0)
        finally:
            squatter.kill()
            squatter.wait()
            squatter.stdout.close()


if __name__ == "__main__":
    unittest.main()
