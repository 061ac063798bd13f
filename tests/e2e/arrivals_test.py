#!/usr/bin/env python3
"""End-to-end tests of the files that a running transfer writes: the files tab
marks them (and the .torrent) with the percentage and refuses to rename or
delete them; the completion notice offers to open the file and its folder.
Driven through the headless shell with a stand-in client."""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from headless_test import hand_over, DOWNLOADS, Device, run_script  # noqa: E402

# Writes the start of the file, says a quarter has arrived, and keeps going until
# it is stopped; with "complete" as its argument it says it has all of it.
CLIENT = """#!/bin/bash
printf 'some' > sample.bin
printf '\\n/ 1/0/2 [16/64/64] 1MB,0MB | 264,0K/s | 288,0K E:0,1     '
if [ -n "{complete}" ]; then
  sleep 0.5
  printf '\\n- 0/1/2 [64/64/64] 4MB,1MB | 0,1200K/s | 0,0K E:0,2  \\nDownload complete.\\n'
fi
exec sleep 600
"""


def bstr(text):
    raw = text.encode()
    return str(len(raw)).encode() + b":" + raw


def single_file_torrent(name):
    return (b"d8:announce" + bstr("http://127.0.0.1:1/announce") + b"4:infod6:lengthi4194304e4:name" + bstr(name)
            + b"12:piece lengthi65536eee")



class ArrivingFilesTest(unittest.TestCase):
    def device(self, name="sample.bin", complete=False):
        device = Device(CLIENT.replace("{complete}", "yes" if complete else ""))
        os.makedirs(device.path(DOWNLOADS), exist_ok=True)
        with open(device.path(DOWNLOADS, "s.torrent"), "wb") as f:
            f.write(single_file_torrent(name))
        self.addCleanup(device.close)
        return device

    def test_marks_and_refusals_while_the_file_arrives(self):
        device = self.device()
        torrent = device.path(DOWNLOADS, "s.torrent")
        result = run_script(device.root, hand_over(torrent, "s.torrent") + """
until 30 25 %
wait 1
tab 2
echo --- torrent mode
rows
row-named s.torrent  \u2014  transferring 25 %
answer 3
alert
answer 0
row-named s.torrent  \u2014  transferring 25 %
answer 2
alert
answer 0
row 0
echo --- the folder holding it
rows
row-named Downloads  \u2014  arriving 25 %
echo --- every entry
rows
row-named sample.bin  \u2014  arriving 25 %
answer 3
alert
answer 0
row-named sample.bin  \u2014  arriving 25 %
answer 2
alert
answer 0
tab 3
tap Stop
until 30 Stopped
tab 2
wait 1
echo --- stopped
rows
row 0
row-named Downloads
rows
row-named sample.bin
answer 3
rows
quit
""", virtual=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        out = result.stdout
        torrent_mode = out[out.index("--- torrent mode"):out.index("--- the folder holding it")]
        holding = out[out.index("--- the folder holding it"):out.index("--- every entry")]
        every = out[out.index("--- every entry"):out.index("--- stopped")]
        stopped = out[out.index("--- stopped"):]
        self.assertIn("0 1: s.torrent  \u2014  transferring 25 %", torrent_mode)
        self.assertIn(": Downloads  \u2014  arriving 25 %", holding)
        self.assertIn("sample.bin  \u2014  arriving 25 %", every)
        # Both refusals for each: the alert says why, and nothing is asked or changed.
        self.assertEqual(out.count("Cannot Delete"), 2, out)
        self.assertEqual(out.count("Cannot Rename"), 2, out)
        self.assertIn('\\"s.torrent\\" is the .torrent file of a running transfer (25 %)', out)
        self.assertIn('\\"sample.bin\\" is being written by a running transfer (25 %)', out)
        self.assertNotIn("Enter new Filename", out)
        self.assertNotIn("Nothing was changed", stopped)
        self.assertTrue(os.path.exists(torrent))
        # The transfer ended: no marks.
        self.assertNotIn("\u2014", stopped)
        self.assertIn(": s.torrent\n", stopped)
        self.assertIn(": sample.bin\n", stopped)
        # ...and what was refused goes through once the transfer has ended.
        self.assertFalse(os.path.exists(device.path(DOWNLOADS, "sample.bin")))

    def test_a_hostile_torrent_marks_nothing_outside_the_folder(self):
        device = self.device(name="../outside.bin")
        with open(device.path(DOWNLOADS, "..", "outside.bin"), "w") as f:
            f.write("mine")
        torrent = device.path(DOWNLOADS, "s.torrent")
        result = run_script(device.root, hand_over(torrent, "s.torrent") + """
until 30 25 %
tab 2
row 0
rows
row-named outside.bin
answer 3
quit
""", virtual=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn(": outside.bin\n", result.stdout)
        self.assertNotIn("Cannot Delete", result.stdout)
        # Not marked, so the person's own file is theirs to delete.
        self.assertFalse(os.path.exists(device.path(DOWNLOADS, "..", "outside.bin")))

    def test_the_completion_notice_offers_the_file_and_its_folder(self):
        device = self.device(name="My Film #1.mkv", complete=True)
        torrent = device.path(DOWNLOADS, "s.torrent")
        result = run_script(device.root, hand_over(torrent, "s.torrent") + """
until 30 [64/64/64]
wait 2
quit
""", virtual=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        folder = device.path(DOWNLOADS)
        line = "notification Download complete: s.torrent | Open file://%s/My%%20Film%%20%%231.mkv | Show in folder file://%s\n" % (folder, folder)
        self.assertEqual(result.stdout.count(line), 1, result.stdout)


if __name__ == "__main__":
    unittest.main()
