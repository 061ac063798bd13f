#!/usr/bin/env python3
"""End-to-end tests of the ad landing pages: a tap on the Files tab's banner
opens the embedded browser or the canvas panel over the application, driven
through the headless shell against the project's ad network on loopback."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from banner_test import Adnet, section  # noqa: E402

TAP_BANNER = ("tab 2\n"
              "until 20 Try the Quorvane test ad\n"
              "touch-down 100 400\ntouch-up 100 400\n")


class LandingTest(unittest.TestCase):
    def tearDown(self):
        self.adnet.close()

    def test_a_web_ads_tap_opens_the_browser_which_follows_history_hands_over_and_closes(self):
        self.adnet = Adnet("text")
        result = self.adnet.run(TAP_BANNER +
                                "until 20 Quorvane ad landing page\n"
                                "wait 1\necho -- open\ndump\necho -- end\n"
                                "link Next page\nloaded 20\nwait 0.1\necho -- next\ndump\necho -- end\n"
                                "back\nloaded 20\nwait 0.1\necho -- back\ndump\necho -- end\n"
                                # The page handed over also loads here (adnet's 404 page); back again.
                                "link Watch the video\nloaded 20\nback\nloaded 20\n"
                                "link A local file\nwait 0.1\n"
                                "link A page that fails\nwait 0.1\nalert\nanswer 0\n"
                                "tap Done\nwait 1\necho -- closed\ndump\necho -- end\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout
        opened = section(out, "-- open", "-- end")
        self.assertIn("AdlarkModalBackground (0,20,320,460)", opened)  # over the whole application frame
        self.assertIn('UINavigationBar (0,0,320,44) "[Done] Quorvane ad landing page"', opened)
        self.assertIn('UIToolbar (0,416,320,44) "back_disable (disabled) | forward_disable (disabled) | Refresh | Action"', opened)
        self.assertIn("UIWebView (0,44,320,372)", opened)
        self.assertIn('"[Done] Second landing page"', section(out, "-- next", "-- end"))
        went_back = section(out, "-- back", "-- end")
        self.assertIn('"[Done] Quorvane ad landing page"', went_back)
        self.assertIn('"back_disable (disabled) | forward | Refresh | Action"', went_back)
        self.assertIn("openURL http://www.clipstream.example/watch?v=quorvane", out)
        self.assertNotIn("openURL file:", out)
        self.assertIn("Whoops", out)
        self.assertIn("Couldn't connect to that page.", out)
        closed = section(out, "-- closed", "-- end")
        self.assertNotIn("AdlarkModalBackground", closed)
        self.assertIn("Try the Quorvane test ad", closed)  # the banner is back in front

    def test_a_canvas_ads_tap_opens_the_panel_whose_commands_launch_and_close(self):
        self.adnet = Adnet("canvas")
        result = self.adnet.run(TAP_BANNER +
                                "until 20 AdlarkCanvasWebView\n"
                                "wait 1\necho -- open\ndump\nlinks\necho -- end\n"
                                "link Visit the advertiser\nwait 0.1\n"
                                "link Help\nwait 0.1\necho -- still\ndump\necho -- end\n"
                                "link Close\nwait 1.5\necho -- closed\ndump\necho -- end\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout
        opened = section(out, "-- open", "-- end")
        self.assertIn("AdlarkModalBackground (0,20,320,460)", opened)
        self.assertIn("AdlarkCanvasWebView (0,82.5,320,295)", opened)
        self.assertNotIn("UIActivityIndicatorView", opened)  # the page has loaded
        self.assertIn("openURL http://ads.example.test/landing.html", out)
        self.assertIn("AdlarkCanvasWebView", section(out, "-- still", "-- end"))  # launch and help leave it open
        self.assertNotIn("AdlarkModalBackground", section(out, "-- closed", "-- end"))


if __name__ == "__main__":
    unittest.main()
