#!/usr/bin/env python3
"""The real window on a virtual display (Xvfb) with the transfer service: the
first window starts the service; closing the window (as a window manager's
close button does) ends the window's process and leaves the service running;
a second window joins that same service and draws its screen, and starts a
new one when the service is killed; Exit on the Welcome tab ends the window
and the service with it.

Skips (status 77) only where Xvfb cannot start. Every wait has a limit."""
import ctypes
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from window_pages_test import SKIP, Skip, read_png, start_xvfb  # noqa: E402

WINDOW = os.environ.get("QUORVANE_WINDOW", os.path.join(HERE, "../../build/bin/quorvane"))


def wait_for(check, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if check():
            return True
        time.sleep(0.1)
    return check()


def services(root):
    out = subprocess.run(["pgrep", "-f", "quorvane-service --root " + root], capture_output=True, text=True).stdout
    return [int(p) for p in out.split()]


def close_window(display, pid):
    """WM_DELETE_WINDOW to the application's window of process pid."""
    ids = subprocess.run(["xdotool", "search", "--pid", str(pid), "--name", "^Quorvane$"], capture_output=True, text=True,
                         env=dict(os.environ, DISPLAY=display)).stdout.split()
    x = ctypes.cdll.LoadLibrary("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]

    class Message(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", Message), ("pad", ctypes.c_long * 24)]

    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(Event)]
    x.XFlush.argtypes = [ctypes.c_void_p]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]
    d = x.XOpenDisplay(display.encode())
    for window in ids:
        e = Event()
        e.xclient.type = 33  # ClientMessage
        e.xclient.window = int(window)
        e.xclient.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
        e.xclient.format = 32
        e.xclient.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
        x.XSendEvent(d, int(window), 0, 0, ctypes.byref(e))
    x.XFlush(d)
    x.XCloseDisplay(d)
    return bool(ids)


def main():
    try:
        xvfb, display = start_xvfb()
    except Skip as e:
        print("skipped:", e)
        return SKIP
    tmp = tempfile.TemporaryDirectory(prefix="quorvane-window-service-")
    root = tmp.name
    run = os.path.join(root, "run")
    os.makedirs(run, mode=0o700)
    env = dict(os.environ, DISPLAY=display, HOME=root, XDG_RUNTIME_DIR=run, XDG_CONFIG_HOME=os.path.join(root, "config"))
    env.pop("QT_QPA_PLATFORM", None)
    env.pop("WAYLAND_DISPLAY", None)
    windows = []

    def start(n):
        log = open(os.path.join(root, f"window-{n}.log"), "w")
        w = subprocess.Popen([WINDOW, "--root", root, "--verbose"], env=env, stdout=subprocess.DEVNULL, stderr=log)
        log.close()
        windows.append(w)
        return w

    def log(n):
        with open(os.path.join(root, f"window-{n}.log")) as f:
            return f.read()

    def click(x, y):
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=env, check=True)

    try:
        first = start(0)
        assert wait_for(lambda: len(services(root)) == 1, 30), "the first window starts the service: " + log(0)[-2000:]
        [service] = services(root)
        assert "Started the transfer service" in log(0), log(0)[-2000:]
        # The first-run notice is answered (Close), as a person would, once it is drawn.
        time.sleep(3)
        click(92, 385)
        time.sleep(1)

        assert close_window(display, first.pid), "the window is found"
        assert wait_for(lambda: first.poll() is not None, 15), "closing the window ends its process"
        assert first.returncode == 0, first.returncode
        assert services(root) == [service], "the service goes on"

        second = start(1)
        shot = os.path.join(root, "joined.png")
        time.sleep(4)
        subprocess.run(["import", "-window", "root", "-crop", "320x480+0+0", shot], env=env, check=True)
        assert services(root) == [service], "a second window joins the same service"
        assert "Started the transfer service" not in log(1), log(1)[-2000:]
        width, height, rows = read_png(shot)
        colours = {rows[y][x] for y in range(0, height, 4) for x in range(0, width, 4)}
        assert len(colours) > 20, "the joined window draws its screen (%d colours)" % len(colours)

        # The service is killed under the open window: the window starts another and joins it.
        os.kill(service, 9)
        assert wait_for(lambda: len(services(root)) == 1 and services(root) != [service], 20), \
            "a window that lost its service starts another: " + log(1)[-2000:]
        assert second.poll() is None

        # Exit on the Welcome tab (no transfer runs: no question) ends both.
        click(40, 455)
        time.sleep(1)
        click(237, 409)
        assert wait_for(lambda: second.poll() is not None, 15), "Exit ends the window: " + log(1)[-2000:]
        assert wait_for(lambda: not services(root), 15), "and the service"
        print("ok")
        return 0
    finally:
        for w in windows:
            if w.poll() is None:
                w.kill()
            w.wait()
        for pid in services(root):
            os.kill(pid, 9)
        xvfb.kill()
        xvfb.wait()
        tmp.cleanup()


if __name__ == "__main__":
    sys.exit(main())
