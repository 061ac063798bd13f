#!/usr/bin/env python3
"""End-to-end tests: a .torrent file opened as the desktop opens one
(quorvane-headless --open FILE), from the check to the transfer it starts."""
import http.server
import os
import re
import subprocess
import tempfile
import threading
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from headless_test import kept_copy  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
HEADLESS = os.path.abspath(os.environ.get("QUORVANE_HEADLESS", os.path.join(HERE, "../../build/bin/quorvane-headless")))


def bencode(value):
    if isinstance(value, int):
        return b"i%de" % value
    if isinstance(value, str):
        value = value.encode()
    if isinstance(value, bytes):
        return b"%d:%s" % (len(value), value)
    if isinstance(value, list):
        return b"l" + b"".join(bencode(v) for v in value) + b"e"
    return b"d" + b"".join(bencode(k) + bencode(v) for k, v in sorted(value.items())) + b"e"


def torrent(**fields):
    meta = {"announce": "http://127.0.0.1:6969/announce",
            "info": {"name": "song.ogg", "length": 5, "piece length": 16384, "pieces": b"\0" * 20}}
    meta.update(fields)
    return bencode({k: v for k, v in meta.items() if v is not None})


class OpenTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="quorvane-open-")
        self.root = os.path.join(self.tmp.name, "device")
        os.makedirs(os.path.join(self.root, "usr/bin"))
        # A transfer client that says what it was started with.
        self.started = os.path.join(self.tmp.name, "started")
        client = os.path.join(self.root, "usr/bin/ctorrent")
        with open(client, "w") as f:
            f.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > " + self.started + "\necho client started\nexec sleep 30\n")
        os.chmod(client, 0o755)
        # A device that has shown its first-run notice, as a user's has.
        seen = self.run_headless("answer 0\n")
        self.assertEqual(seen.returncode, 0, seen.stderr)

    def tearDown(self):
        self.tmp.cleanup()

    def run_headless(self, script, *extra, cwd=None):
        return subprocess.run([HEADLESS, "--root", self.root, "--virtual-time", *extra, "--script", "-"],
                              input=script, capture_output=True, text=True, timeout=60, cwd=cwd)

    def write(self, name, data):
        path = os.path.join(self.tmp.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_a_torrent_named_from_another_folder_is_asked_for_and_started(self):
        path = self.write("my album.torrent", torrent())
        # Named relative to the caller's folder; stored with its full path.
        run = self.run_headless("alert\ndefaults\ndump\nanswer 1\nuntil 20 client started\ndefaults\n",
                                "--open", "my album.torrent", cwd=self.tmp.name)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn('UIAlertView title="Alert" message="Do you want to download:\\n ' + path + '"', run.stdout)
        self.assertIn("DownloadTorrent = " + path + "\n", run.stdout)
        self.assertIn("DownloadTorrentName = my album.torrent\n", run.stdout)
        self.assertIn("DownloadTorrentBool = Yes\n", run.stdout)
        # The Transfer tab is the one shown, naming the file.
        self.assertIn('"my album.torrent"', run.stdout)
        self.assertNotIn("No torrent file set yet!", run.stdout)
        # Answered, the request is taken.
        self.assertEqual(run.stdout.count("DownloadTorrentBool = No\n"), 1, run.stdout)
        # The client runs from the application's own copy of it.
        with open(self.started) as f:
            self.assertIn(kept_copy(self.root, path), f.read().splitlines())

    def test_a_file_url_and_a_name_with_a_colon_open_their_files(self):
        path = self.write("x y.torrent", torrent())
        run = self.run_headless("alert\n", "--open", "file://" + path.replace(" ", "%20"))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("Do you want to download:\\n " + path + '"', run.stdout)
        # Named as it stands in the caller's folder, it is no address.
        path = self.write("live:set.torrent", torrent())
        run = self.run_headless("alert\n", "--open", "live:set.torrent", cwd=self.tmp.name)
        self.assertIn("Do you want to download:\\n " + path + '"', run.stdout)

    def test_what_cannot_be_downloaded_gets_an_alert_and_stores_nothing(self):
        cases = [
            ("magnet:?xt=urn:btmh:1220" + "ab" * 32 + "&dn=x",
             'title="Cannot open the magnet link" message="This magnet link names only a version 2 torrent'),
            ("magnet:?xt=urn:btih:0123&dn=x", "info-hash is not 40 hex digits"),
            ("http://example.test/a.torrent", 'title="Cannot open an address"'),
            (os.path.join(self.tmp.name, "missing.torrent"), "cannot be read: No such file or directory."),
            (self.tmp.name, "is a folder, not a .torrent file."),
            (self.write("empty.torrent", b""), "the file is empty."),
            (self.write("notes.torrent", b"<html>not found</html>"), "it holds no torrent description."),
            (self.write("cut.torrent", torrent()[:-9]), "its torrent description is damaged near byte"),
            (self.write("deep.torrent", b"d4:info" + b"l" * 100000), "its torrent description is damaged"),
            (self.write("noinfo.torrent", torrent(info=None)), 'has no \\"info\\" part'),
            (self.write("trackerless.torrent", torrent(announce=None)), "it names no tracker"),
        ]
        for argument, says in cases:
            with self.subTest(argument=argument):
                run = self.run_headless("alert\nanswer 0\nalert\ndefaults\ndump\n", "--open", argument)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertIn(says, run.stdout)
                self.assertIn("  0: OK (cancel)", run.stdout)
                self.assertIn("no alert", run.stdout)
                self.assertIn("DownloadTorrentBool = No", run.stdout)
                self.assertNotIn("DownloadTorrent =", run.stdout)
                self.assertIn("Open refused: ", run.stderr)
        self.assertFalse(os.path.exists(self.started))

    def test_a_tracker_list_alone_is_enough(self):
        path = self.write("list.torrent", torrent(announce=None, **{"announce-list": [["http://127.0.0.1:6969/announce"]]}))
        run = self.run_headless("alert\n", "--open", path)
        self.assertIn("Do you want to download:\\n " + path, run.stdout)

    def test_a_pasted_link_is_fetched_kept_and_asked_for_and_what_cannot_be_added_says_why(self):
        served = {"/shared/My%20Album.torrent": (200, torrent()), "/gone.torrent": (404, b"gone"),
                  "/page.torrent": (200, b"<html>a page about it</html>")}

        class Site(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                status, body = served.get(self.path.split("?")[0], (404, b""))
                self.send_response(status)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        site = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Site)
        threading.Thread(target=site.serve_forever, daemon=True).start()
        self.addCleanup(site.server_close)
        self.addCleanup(site.shutdown)
        base = "http://127.0.0.1:%d" % site.server_address[1]

        def add(link, says):
            return f"tap Add link\ntype {link}\nanswer 1\nuntil 20 {says}\nalert\nanswer 0\n"
        script = ("tab 3\n" + add(f" {base}/shared/My%20Album.torrent?from=list ", "Do you want to download")
                  + add(base + "/shared/My%20Album.torrent", "Do you want to download")
                  + add(base + "/gone.torrent", "Cannot add the link")
                  + add(base + "/page.torrent", "Not a .torrent file")
                  + add("magnet:?xt=urn:btih:" + "c" * 40 + "&dn=linked", "Do you want to download")
                  + add("ftp://127.0.0.1/a.torrent", "Cannot add the link") + "defaults\n")
        run = self.run_headless(script)
        self.assertEqual(run.returncode, 0, run.stderr + run.stdout)
        asked = re.findall(r'message="Do you want to download:\\n ([^"]*)"', run.stdout)
        # The file is kept under its address's name, and the same file added again is the same file.
        self.assertEqual(len(asked), 3, run.stdout)
        self.assertEqual(os.path.basename(asked[0]), "My Album.torrent")
        self.assertEqual(asked[1], asked[0])
        with open(asked[0], "rb") as f:
            self.assertEqual(f.read(), torrent())
        self.assertEqual(asked[2], "linked")
        self.assertIn("HTTP status 404", run.stdout)
        self.assertIn("it holds no torrent description", run.stdout)
        self.assertIn("Only a magnet link, or the http or https address of a .torrent file, can be added.", run.stdout)
        self.assertEqual(sorted(os.listdir(os.path.dirname(asked[0]))), ["My Album.torrent"], "nothing else was kept")
        self.assertFalse(os.path.exists(self.started), "No was the answer each time")


if __name__ == "__main__":
    unittest.main()
