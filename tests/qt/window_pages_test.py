#!/usr/bin/env python3
"""The real window on a virtual display (Xvfb): the Welcome and Browse pages
are drawn when their tab comes back after another tab was in front, and a
page shown again still answers (a typed address is drawn). The window is
driven by its own script on standard input; each check takes a screenshot
and looks for the page's own colour in it.

The offscreen platform never showed the fault this guards against: the
page's view went with the tab's widgets and every later showing was white.

Skips (status 77) only where Xvfb cannot start. Every wait has a limit."""
import http.server
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

WINDOW = os.environ.get("QUORVANE_WINDOW", os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../build/bin/quorvane"))
SKIP = 77

# Each page is one colour from edge to edge, so that a drawn page is told
# from a white or stale one by its pixels alone.
WELCOME = (0x1F, 0x7A, 0x3A)
START = (0x1E, 0x4F, 0xB0)
TYPED = (0xC0, 0x26, 0x26)


def page(title, colour):
    return ("<!DOCTYPE html><html><head><title>%s</title></head>"
            "<body style='margin:0;background:#%02x%02x%02x;min-height:3000px'>"
            "<p style='color:white'>%s</p></body></html>" % ((title,) + colour + (title,))).encode()


ROUTES = {
    "/iphone/welcome.html": page("Welcome page", WELCOME),
    "/": page("Start page", START),
    "/typed": page("Typed page", TYPED),
}


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = ROUTES.get(self.path.split("?", 1)[0])
        self.send_response(200 if body else 404)
        body = body or b"missing"
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def read_png(path):
    """Width, height and rows of RGB triples of an 8-bit RGB or RGBA PNG (as Qt writes them)."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", chunk)
        elif kind == b"IDAT":
            idat += chunk
    width, height, depth, colour_type, _, _, interlace = header
    assert depth == 8 and colour_type in (2, 6) and interlace == 0, header
    channels = 3 if colour_type == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + ((left + up) >> 1)) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        rows.append([tuple(line[x:x + 3]) for x in range(0, stride, channels)])
        previous = line
    return width, height, rows


def share_of(path, colour):
    """The share of the window's pixels in the page's colour."""
    width, height, rows = read_png(path)
    near = sum(1 for row in rows for p in row if all(abs(a - b) <= 6 for a, b in zip(p, colour)))
    return near / float(width * height)


class Skip(Exception):
    pass


def start_xvfb():
    """A virtual display of its own (Xvfb picks a free number); the process and ':N'."""
    xvfb = shutil.which("Xvfb")
    if not xvfb:
        raise Skip("Xvfb is not installed")
    read_end, write_end = os.pipe()
    try:
        proc = subprocess.Popen([xvfb, "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    except OSError as e:
        raise Skip("Xvfb cannot run: %s" % e)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 15
    while not number.endswith(b"\n") and time.monotonic() < deadline and proc.poll() is None:
        ready, _, _ = select.select([read_end], [], [], 0.2)
        if ready:
            more = os.read(read_end, 16)
            if not more:
                break
            number += more
    os.close(read_end)
    if not number.strip().isdigit():
        proc.kill()
        _, err = proc.communicate(timeout=10)
        raise Skip("Xvfb did not start: %s" % err.decode(errors="replace").strip()[-300:])
    return proc, ":" + number.strip().decode()


class Window:
    """The window running its script from standard input, one command at a time."""

    def __init__(self, display, root, mapping, log):
        env = dict(os.environ, DISPLAY=display, QUORVANE_CONNECT_TO=mapping, HOME=root,
                   XDG_RUNTIME_DIR=os.path.join(root, "run"), XDG_CONFIG_HOME=os.path.join(root, "config"))
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("WAYLAND_DISPLAY", None)
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        self.log = log
        self.proc = subprocess.Popen([WINDOW, "--root", root, "--verbose", "--script", "-"], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=open(log, "wb"), start_new_session=True)
        self.marks = 0
        self.buffer = b""

    def command(self, line, limit=60):
        """Runs one command; its output lines."""
        self.marks += 1
        mark = "@@done %d" % self.marks
        self.proc.stdin.write(("%s\necho %s\n" % (line, mark)).encode())
        self.proc.stdin.flush()
        out = []
        deadline = time.monotonic() + limit
        while True:
            while b"\n" in self.buffer:
                text, self.buffer = self.buffer.split(b"\n", 1)
                text = text.decode(errors="replace")
                if text == mark:
                    return out
                out.append(text)
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("'%s' did not finish within %d s" % (line, limit))
            ready, _, _ = select.select([self.proc.stdout], [], [], min(left, 1))
            if ready:
                more = os.read(self.proc.stdout.fileno(), 4096)
                if not more:
                    raise AssertionError("the window ended during '%s':\n%s" % (line, self.tail()))
                self.buffer += more

    def tail(self):
        with open(self.log, "rb") as f:
            return f.read().decode(errors="replace")[-2000:]

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.close()
                self.proc.wait(timeout=20)
            except (OSError, subprocess.TimeoutExpired):
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait(timeout=10)


def main():
    if not os.access(WINDOW, os.X_OK):
        print("no window program at %s" % WINDOW)
        return 1
    try:
        xvfb, display = start_xvfb()
    except Skip as e:
        print("SKIPPED: %s" % e)
        return SKIP
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    port = server.server_address[1]
    mapping = ";".join("%s:80:127.0.0.1:%d" % (host, port)
                       for host in ("www.quorvane.example", "releases.ubuntu.com", "pages.quorvane.test"))
    work = tempfile.mkdtemp(prefix="quorvane-window-pages-")
    root = os.path.join(work, "root")
    os.makedirs(root)
    window = Window(display, root, mapping, os.path.join(work, "window.log"))
    shots = [0]

    def drawn(colour, what, limit=30):
        """Waits, in short looks, until the page's colour fills most of the window."""
        deadline = time.monotonic() + limit
        best = 0.0
        while True:
            shots[0] += 1
            shot = os.path.join(work, "shot-%02d.png" % shots[0])
            window.command("wait 0.25")
            window.command("screenshot " + shot)
            best = share_of(shot, colour)
            if best >= 0.4:
                return
            if time.monotonic() > deadline:
                raise AssertionError("%s: not drawn within %d s (%.0f %% of the window in its colour; see %s)"
                                     % (what, limit, best * 100, shot))

    try:
        # The first-run notice comes just after the first frame.
        deadline = time.monotonic() + 30
        while window.command("alert")[0] == "no alert":
            if time.monotonic() > deadline:
                raise AssertionError("no first-run notice")
            window.command("wait 0.2")
        window.command("answer 0")
        drawn(WELCOME, "the welcome page")
        for size in ("320x480", "720x360"):
            window.command("resize " + size)
            for away in (2, 3):
                window.command("tab %d" % away)
                window.command("tab 0")
                drawn(WELCOME, "the welcome page back from tab %d at %s" % (away, size))
            window.command("tab 1")
            if size == "320x480":
                window.command("loaded 30")
                drawn(START, "the browser's start page")
            window.command("tab 3")
            window.command("tab 1")
            drawn(START if size == "320x480" else TYPED, "the browser's page back at %s" % size)
            if size == "320x480":
                # Shown again, the page still answers: a typed address is drawn.
                window.command("type pages.quorvane.test/typed")
                window.command("return")
                window.command("loaded 30")
                drawn(TYPED, "a typed address after the browser came back")
        print("ok: the pages were drawn each time their tabs came back (%d screenshots in %s)" % (shots[0], work))
        window.close()
        shutil.rmtree(work, ignore_errors=True)
        return 0
    except AssertionError as e:
        print("FAIL: %s\nthe window's log:\n%s" % (e, window.tail()))
        return 1
    finally:
        window.close()
        server.shutdown()
        xvfb.terminate()
        try:
            xvfb.wait(timeout=10)
        except subprocess.TimeoutExpired:
            xvfb.kill()


if __name__ == "__main__":
    sys.exit(main())
