#!/usr/bin/env python3
"""End-to-end tests of the animations a person sees, read through the headless
shell's `animations` command: the banner's flip and pulse, and the landing
page's opening."""
import unittest

from banner_test import Adnet, section


class AnimationTest(unittest.TestCase):
    def tearDown(self):
        self.adnet.close()

    def test_a_fresh_banner_flips_in_and_a_tap_pulses_the_icon(self):
        self.adnet = Adnet("app,other")
        result = self.adnet.run("tab 2\n"
                                "until 20 Try the Quorvane test ad\n"
                                "echo -- still\nanimations\n"
                                "wait 60\n"
                                "until 20 Another ad, fresh\n"
                                "echo -- flipping\nanimations\n"
                                "wait 0.7\necho -- flipped\nanimations\n"
                                "touch-down 100 400\ntouch-up 100 400\nwait 0.1\n"
                                "echo -- pulse\nanimations\n"
                                "wait 0.4\necho -- pulsed\nanimations\necho -- end\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout
        self.assertEqual(section(out, "-- still", "-- flipping"), "")
        flipping = section(out, "-- flipping", "-- flipped")
        self.assertIn("AdlarkViewInternal (0,384,320,48)\n  transition: transition flipFromRight 0.7 s easeInOut at ", flipping)
        self.assertEqual(section(out, "-- flipped", "-- pulse"), "", "the flip has ended and left the view")
        pulse = section(out, "-- pulse", "-- pulsed")
        self.assertIn("CALayer (300,16,16,16)\n  AdlarkPulseAnimation: keyframe transform 0.5 s linear at 0.2\n", pulse)
        # Kept on its layer after the end; the layer itself has gone by then.
        self.assertNotIn("AdlarkPulseAnimation", section(out, "-- pulsed", "-- end"))

    def test_the_landing_page_grows_its_background_then_fades_in(self):
        self.adnet = Adnet("text")
        result = self.adnet.run("tab 2\n"
                                "until 20 Try the Quorvane test ad\n"
                                "touch-down 100 400\ntouch-up 100 400\n"
                                "until 20 AdlarkModalBackground\n"
                                "echo -- growing\nanimations\n"
                                "wait 0.5\necho -- fading\nanimations\n"
                                "until 20 Quorvane ad landing page\nwait 1\necho -- open\nanimations\necho -- end\n"
                                # Closed again: an open page holds its ad view until it goes.
                                "tap Done\nwait 1\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout
        # `until` lets time pass 0.05 s a turn: the growth has just begun.
        self.assertRegex(section(out, "-- growing", "-- fading"),
                         r"AdlarkModalBackground \([^)]*\)\n  frame: basic frame 0.5 s easeInOut at 0(\.[01]\d?)?\n")
        fading = section(out, "-- fading", "-- open")
        self.assertNotIn("frame: basic", fading)
        self.assertIn("  alpha: basic alpha 0.2 s easeInOut at ", fading)
        self.assertEqual(section(out, "-- open", "-- end"), "")


if __name__ == "__main__":
    unittest.main()
