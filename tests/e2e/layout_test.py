#!/usr/bin/env python3
"""End-to-end tests of the layout at other screen sizes: every screen, dumped
by the headless shell at phone, turned-phone, tablet and desktop sizes, keeps
its controls inside the screen and apart, its bars spanning the width, and its
frames at the natural size unchanged."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from banner_test import Adnet  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
HEADLESS = os.environ.get("QUORVANE_HEADLESS", os.path.join(HERE, "../../build/bin/quorvane-headless"))

SIZES = [(360, 720), (720, 360), (480, 288), (640, 288), (720, 288), (768, 1024), (1280, 800)]
# The screens a person reaches: each script ends on the screen it dumps.
SCREENS = {
    "welcome": "tab 0\n",
    "browse": "tab 1\n",
    "browse sites": "tab 1\ntap Sites\nwait 1\n",
    "files": "tab 2\n",
    "transfer": "tab 3\n",
    "transfer options": "tab 3\ntap Options\n",
}
# Controls that must never lie over one another.
CONTROLS = {"UIButton", "UILabel", "UITextField", "UITextView", "UIProgressView"}
LINE = re.compile(r"^( *)(\w+) \(([-\d.e]+),([-\d.e]+),([-\d.e]+),([-\d.e]+)\)(.*)$")


class View:
    def __init__(self, kind, frame, rest):
        self.kind, self.frame, self.rest = kind, frame, rest
        self.children = []

    @property
    def shown(self):
        return " hidden" not in self.rest and " alpha=0 " not in self.rest + " " and "translate=" not in self.rest

    def __repr__(self):
        return f"{self.kind} {self.frame}{self.rest}"


def parse(dump):
    """The view tree of a dump (layers, which the dump indents the same way, are left out)."""
    roots, stack = [], []
    for line in dump.splitlines():
        m = LINE.match(line)
        if not m or m.group(2) == "CALayer":
            continue
        depth = len(m.group(1)) // 2
        view = View(m.group(2), tuple(float(m.group(i)) for i in range(3, 7)), m.group(7))
        del stack[depth:]
        (stack[-1].children if stack else roots).append(view)
        stack.append(view)
    return roots


def overlap(a, b):
    return a[0] < b[0] + b[2] - 0.01 and b[0] < a[0] + a[2] - 0.01 and a[1] < b[1] + b[3] - 0.01 and b[1] < a[1] + a[3] - 0.01


def run(script, size=None, root=None, phone=False):
    with tempfile.TemporaryDirectory(prefix="quorvane-layout-") as tmp:
        args = [HEADLESS, "--root", root or tmp, "--virtual-time", "--script", "-"]
        if size:
            args += ["--size", f"{size[0]}x{size[1]}"]
        if phone:
            args += ["--phone-shell"]
        result = subprocess.run(args, input="answer 0\n" + script, capture_output=True, text=True, timeout=60)
        result.stdout = result.stdout.replace(root or tmp, "ROOT")
        return result


def dumps(out):
    return [d for d in out.split("-- dump\n")[1:]]


class LayoutTest(unittest.TestCase):
    def check_screen(self, name, size, dump, status_bar=20):
        w, h = size
        roots = parse(dump)
        self.assertTrue(roots, dump)
        top = roots[0]
        where = f"{name} at {w}x{h}"
        # A presented screen covers the application frame; the tabs' root does too.
        self.assertEqual(top.frame, (0, status_bar, w, h - status_bar), where)
        bars = [c for c in top.children if c.kind == "UITabBar"]
        if bars:
            self.assertEqual(bars[0].frame, (0, h - status_bar - 49, w, 49), f"{where}: the tab bar spans the width at the bottom")

        def walk(view, path):
            pw, ph = view.frame[2], view.frame[3]
            controls = []
            for child in view.children:
                if not child.shown:
                    continue
                x, y, cw, chh = child.frame
                here = f"{where}: {child!r} in {path}"
                self.assertGreaterEqual(cw, 0, here)
                self.assertGreaterEqual(chh, 0, here)
                # Rows scroll out of a table by design; the banner's own place
                # reaches one point below the tab, as it always has.
                slack = 1.01 if child.kind == "AdlarkViewInternal" else 0.01
                if view.kind != "UITableView":
                    self.assertTrue(x >= -0.01 and y >= -0.01 and x + cw <= pw + 0.01 and y + chh <= ph + slack,
                                    f"{here}: cut by its superview ({pw}x{ph})")
                if child.kind in CONTROLS:
                    for other in controls:
                        self.assertFalse(overlap(child.frame, other.frame), f"{here}: lies over {other!r}")
                    controls.append(child)
                walk(child, f"{path}/{child.kind}")

        walk(top, top.kind)
        return top

    def test_every_screen_fits_at_every_size(self):
        for name, steps in SCREENS.items():
            for size in SIZES:
                with self.subTest(screen=name, size=size):
                    result = run(steps + "echo -- dump\ndump\n", size)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    top = self.check_screen(name, size, dumps(result.stdout)[0])
                    if name == "transfer":
                        content = top.children[0].children[0]
                        text = [v for v in content.children if v.kind == "UITextView"][0]
                        # The four along the bottom (Add link and Details stand beside the name).
                        buttons = [v for v in content.children if v.kind == "UIButton" and '"Details"' not in v.rest and '"Add link"' not in v.rest]
                        # The output takes the height left; the four buttons spread across the width.
                        self.assertAlmostEqual(text.frame[3], 199 + (size[1] - 480), places=2)
                        self.assertAlmostEqual(buttons[0].frame[0], 10, places=2)
                        self.assertAlmostEqual(buttons[-1].frame[0] + buttons[-1].frame[2], size[0] - 10, places=2)
                        # Even: one width and one gap for all four.
                        gaps = [b.frame[0] - (a.frame[0] + a.frame[2]) for a, b in zip(buttons, buttons[1:])]
                        self.assertLess(max(gaps) - min(gaps), 0.5, gaps)
                        self.assertLess(max(b.frame[2] for b in buttons) - min(b.frame[2] for b in buttons), 0.5)
                    if name == "browse sites":
                        panel = [v for v in top.children[0].children[0].children if v.kind == "UIView" and v.shown]
                        self.assertTrue(any(p.frame[2] == size[0] for p in panel), "the open panel spans the width")

    def test_under_a_phone_shell_the_screens_take_the_status_bars_room(self):
        # The shell shows the system's status bar: the application's goes and
        # its 20 points go to the screens, upright and turned.
        for name, steps in SCREENS.items():
            for size in [(360, 720), (480, 288), (720, 288)]:
                with self.subTest(screen=name, size=size):
                    result = run(steps + "echo -- dump\ndump\n", size, phone=True)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    top = self.check_screen(name, size, dumps(result.stdout)[0], status_bar=0)
                    if name == "transfer":
                        content = top.children[0].children[0]
                        text = [v for v in content.children if v.kind == "UITextView"][0]
                        self.assertAlmostEqual(text.frame[3], 199 + 20 + (size[1] - 480), places=2)
        # Turned while the Options screen is up, and back: it comes back to
        # the frames it had, the low arrangement undone.
        script = "tab 3\ntap Options\necho -- dump\ndump\nresize 720 288\nresize 360 720\necho -- dump\ndump\n"
        result = run(script, (360, 720), phone=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        before, after = dumps(result.stdout)
        self.assertEqual(after, before)
        self.assertIn('UIButton (130,640,100,37) "Done"', before)

    def test_the_natural_size_and_a_round_trip_give_todays_frames(self):
        script = "".join(steps + "echo -- dump\ndump\n" for steps in SCREENS.values())
        plain = run(script)
        natural = run(script, (320, 480))
        self.assertEqual(plain.returncode, 0, plain.stderr)
        self.assertEqual(natural.stdout, plain.stdout)
        self.assertIn("UITabBar (0,411,320,49)", plain.stdout)
        self.assertIn('UIButton (238,362,72,37) "Options"', plain.stdout)
        # Turned and turned back: the frames are the natural ones again.
        for size in SIZES:
            with self.subTest(size=size):
                turned = run("".join(steps + f"resize {size[0]} {size[1]}\nresize 320 480\necho -- dump\ndump\n"
                                     for steps in SCREENS.values()))
                self.assertEqual(turned.returncode, 0, turned.stderr)
                self.assertEqual(dumps(turned.stdout), dumps(plain.stdout))

    def test_a_resize_while_a_screen_is_up_lays_it_out_again(self):
        result = run("tab 3\ntap Options\nresize 720 360\necho -- dump\ndump\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        top = self.check_screen("options turned", (720, 360), dumps(result.stdout)[0])
        done = [v for v in top.children if v.kind == "UIButton" and '"Done"' in v.rest][0]
        self.assertEqual(done.frame, (485, 287, 100, 37), "Done stays centred under the tips, above the bottom")

    def test_bad_sizes_are_refused_with_a_reason(self):
        for bad in ["100x100", "wide", "360x", "-5x700", "360x720x2"]:
            with self.subTest(size=bad):
                with tempfile.TemporaryDirectory() as tmp:
                    r = subprocess.run([HEADLESS, "--root", tmp, "--size", bad, "--script", "-"], input="dump\n",
                                       capture_output=True, text=True, timeout=30)
                self.assertEqual(r.returncode, 2)
                self.assertIn("--size", r.stderr)
        r = run("resize 200 300\n")
        self.assertEqual(r.returncode, 1)
        self.assertIn("at least 320x288", r.stderr)


class BannerLayoutTest(unittest.TestCase):
    def tearDown(self):
        self.adnet.close()

    def test_the_banner_stays_centred_at_the_bottom_of_the_files_tab(self):
        self.adnet = Adnet("text")
        steps = "tab 2\nuntil 20 Try the Quorvane test ad\necho -- dump\ndump\n"
        for i, (w, h) in enumerate([(1280, 800), (720, 360)]):
            with self.subTest(size=(w, h)):
                result = self.adnet.run(f"resize {w} {h}\n" + steps + "resize 320 480\necho -- dump\ndump\n", first=i == 0)
                self.assertEqual(result.returncode, 0, result.stderr)
                wide, natural = dumps(result.stdout)
                x, y = (w - 320) / 2, h - 20 - 49 - 47
                self.assertIn(f"AdlarkViewInternal ({x:g},{y:g},320,48)", wide)
                self.assertIn("AdlarkViewInternal (0,364,320,48)", natural)


if __name__ == "__main__":
    unittest.main()
