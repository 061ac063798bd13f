#!/usr/bin/env python3
"""End-to-end tests of the ad banner on the Files tab: the application driven
through the headless shell against the project's ad network on loopback."""
import json
import os
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
HEADLESS = os.environ.get("QUORVANE_HEADLESS", os.path.join(HERE, "../../build/bin/quorvane-headless"))
ADNET = os.environ.get("QUORVANE_ADNET", os.path.join(HERE, "../../build/bin/adnet"))


class Adnet:
    """One adnet on a free port answering the application's requests with a scenario list."""

    def __init__(self, scenarios):
        self.tmp = tempfile.TemporaryDirectory(prefix="quorvane-banner-")
        self.log = os.path.join(self.tmp.name, "adnet.log")
        self.proc = subprocess.Popen([ADNET, "--port", "0", "--log", self.log, "--exit-after", "120", "--scenario", scenarios],
                                     stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().split()
        self.port = int(line[1].split("=")[1])

    def requests(self, path="/ad_source.php"):
        with open(self.log) as f:
            return [r for r in map(json.loads, f) if r["path"] == path]

    def run(self, script, virtual=True, first=True):
        if first:
            script = "answer 0\n" + script  # the first-run notice
        env = dict(os.environ)
        # The video site too: a page handed to the system also loads in the
        # browser, and under virtual time its answer (here adnet's 404 page)
        # arrives before the next step, where an unknown host would fail it.
        env["QUORVANE_CONNECT_TO"] = (f"ads.example.test:80:127.0.0.1:{self.port};"
                                      f"media.example.test:80:127.0.0.1:{self.port};"
                                      f"www.clipstream.example:80:127.0.0.1:{self.port}")
        args = [HEADLESS, "--root", self.tmp.name, "--script", "-"] + (["--virtual-time"] if virtual else [])
        return subprocess.run(args, input=script, capture_output=True, text=True, timeout=90, env=env)

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)
        self.proc.stdout.close()
        self.tmp.cleanup()


def section(out, start, end):
    return out.split(start + "\n", 1)[1].split(end + "\n", 1)[0]


class BannerTest(unittest.TestCase):
    def tearDown(self):
        self.adnet.close()

    def test_banner_after_the_first_ad_and_a_new_one_a_minute_later(self):
        self.adnet = Adnet("text,other")
        result = self.adnet.run("tab 2\n"
                                "until 20 Try the Quorvane test ad\n"
                                "echo -- first\ndump\necho -- draw\ndraw\necho -- end\n"
                                "wait 60\n"
                                "until 20 Another ad, fresh\n"
                                "wait 0.7\n"
                                "echo -- second\ndump\necho -- end\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout
        first = section(out, "-- first", "-- draw")
        self.assertIn("AdlarkViewInternal (0,364,320,48)", first)
        self.assertIn('AdlarkSingleAdView (0,0,320,48) tag=1 "Try the Quorvane test ad"', first)
        self.assertIn("CALayer (300,16,16,16) contents=16x16", first)  # the action icon, 16 x 16 from adnet
        drawing = section(out, "-- draw", "-- end")
        self.assertIn("AdlarkSingleAdView (0,384,320,48)", drawing)  # window coordinates, under the status bar
        self.assertIn("  fillRect 0 0 320 48", drawing)
        self.assertIn("  drawLinearGradient 0 0 0 0.5 0 0 0 1 160 0 160 21", drawing)
        self.assertIn('"Helvetica" "Ads by Adlark"', drawing)
        self.assertEqual(result.stderr.count("Adlark: Did receive ad"), 1)
        second = section(out, "-- second", "-- end")
        self.assertIn('tag=1 "Another ad, fresh from the Quorvane network"', second)
        self.assertNotIn("Try the Quorvane test ad", second)  # the old banner has flipped out
        self.assertEqual(second.count("AdlarkSingleAdView"), 1)
        requests = self.adnet.requests()
        self.assertEqual(len(requests), 2)
        self.assertEqual(requests[0]["params"]["s"], "c7e05d2f9b31a48")

    def test_a_tap_highlights_and_clicks_the_banner(self):
        # An ad whose click leads to another program: the banner stays in front.
        self.adnet = Adnet("app")
        result = self.adnet.run("tab 2\n"
                                "until 20 Try the Quorvane test ad\n"
                                "touch-down 100 400\necho -- down\ndump\n"
                                "touch-move 100 440\necho -- out\ndump\n"
                                "touch-move 100 420\ntouch-up 100 420\n"
                                "wait 0.6\necho -- pulse\ndump\n"
                                "wait 0.25\necho -- spinner\ndump\necho -- end\n"
                                "until 20 CALayer (300,16,16,16)\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout
        self.assertIn("UIView (0,0,320,48) tag=3", section(out, "-- down", "-- out"))
        self.assertNotIn("tag=3", section(out, "-- out", "-- pulse"))
        self.assertNotIn("CALayer", section(out, "-- pulse", "-- spinner"))  # the icon has pulsed away
        self.assertIn("UIActivityIndicatorView (298,14,20,20) tag=2", section(out, "-- spinner", "-- end"))
        # The click went out, its address went to the system, and the icon came back.
        self.assertEqual(len(self.adnet.requests("/click.php")), 1)
        self.assertIn("openURL quorvane-app://open/ad", out)

    def test_the_last_row_ends_above_the_banner_and_can_be_tapped(self):
        self.adnet = Adnet("text")
        downloads = os.path.join(self.adnet.tmp.name, "var/mobile/Library/Downloads")
        os.makedirs(downloads)
        for i in range(30):
            with open(os.path.join(downloads, f"f{i:02}.torrent"), "w") as f:
                f.write("T")
        result = self.adnet.run("tab 2\n"
                                "until 20 Try the Quorvane test ad\n"
                                "scroll end\noffset\n"
                                # Just above the banner (window y 384): the last row, not the one before it.
                                "tap-at 160 380\nalert\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        # "..." is 48 points and 30 rows 44: 1,368 points, in a list 381 high whose last 47 the banner covers.
        self.assertIn("offset 1034 of 1034\n", result.stdout)
        last = os.listdir(downloads)[-1]  # the file system's own order, as the list shows it
        self.assertIn(f'UIActionSheet title="{last}"', result.stdout)
        self.assertEqual(len(self.adnet.requests("/click.php")), 0)  # the banner was not tapped

    def test_a_second_tap_within_the_pulse_is_the_same_click(self):
        self.adnet = Adnet("app")
        result = self.adnet.run("tab 2\n"
                                "until 20 Try the Quorvane test ad\n"
                                "touch-down 100 400\ntouch-up 100 400\n"
                                "wait 0.2\ntouch-down 100 400\ntouch-up 100 400\n"
                                "wait 0.7\necho -- spinner\ndump\necho -- end\n"
                                "until 20 CALayer (300,16,16,16)\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        spinner = section(result.stdout, "-- spinner", "-- end")
        # The spinner turns where the icon was, not at the banner's corner.
        self.assertIn("UIActivityIndicatorView (298,14,20,20) tag=2", spinner)
        self.assertNotIn("(-10,-10,20,20)", spinner)
        self.assertEqual(len(self.adnet.requests("/click.php")), 1)
        self.assertEqual(result.stdout.count("openURL quorvane-app://open/ad"), 1)

    def test_a_failed_first_ad_drops_the_banner_for_good(self):
        self.adnet = Adnet("status404")
        result = self.adnet.run("tab 2\nwait 2\ndump\n", virtual=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.count("Adlark: Did fail to receive ad"), 1)
        self.assertNotIn("Adlark: Did receive ad", result.stderr)
        self.assertNotIn("Adlark", result.stdout)
        # Time passing brings no new attempt.
        result = self.adnet.run("tab 2\nwait 200\ndump\n", first=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len(self.adnet.requests()), 2)  # one per run


if __name__ == "__main__":
    unittest.main()
