#!/usr/bin/env python3
"""A small web site on loopback for the web tests: an index page with torrent
links of every kind the browser tab must tell apart, two torrent files, a
missing one and one that never answers. Prints its port on the first line of
standard output and stops by itself after --lifetime seconds."""
import argparse
import http.server
import os
import threading
import urllib.parse
import time

INDEX = b"""<!DOCTYPE html>
<html><head><title>Quorvane  Test &amp; Torrents</title></head>
<body>
<h1>Public torrents</h1>
<ul>
<li><a href="/files/first.torrent">First torrent</a></li>
<li><a href='files/second.torrent'><b>Second</b> torrent</a></li>
<li><a href="/torrent">Bare torrent</a></li>
<li><a href="/files/first.torrent?id=3">Query torrent</a></li>
<li><a href="/files/UPPER.TORRENT">Upper torrent</a></li>
<li><a href="/missing.torrent">Missing torrent</a></li>
<li><a href="/hang.torrent">Hanging torrent</a></li>
<li><a href="next.html">Next page</a></li>
</ul>
</body></html>
"""
NEXT = b"<html><head><title>Next Page</title></head><body><a href='/'>Home</a></body></html>"
FIRST = b"d8:announce24:http://tracker.test/first4:infod4:name5:firstee\x00\xff\x01"
SECOND = b"d8:announce25:http://tracker.test/second4:infod4:name6:secondee"
BARE = b"d4:name4:baree"
UPPER = b"d4:name5:uppere"
# A whole description the transfer client could start from: one file of five bytes.
GOOD = (b"d8:announce24:http://tracker.test/good4:infod6:lengthi5e4:name8:good.bin"
        b"12:piece lengthi16384e6:pieces20:" + bytes(range(20)) + b"ee")

ROUTES = {
    "/": ("text/html", INDEX),
    "/index.html": ("text/html", INDEX),
    "/next.html": ("text/html", NEXT),
    "/iphone/welcome.html": ("text/html", b"<html><head><title>Welcome to Quorvane</title></head><body>Hello</body></html>"),
    "/files/first.torrent": ("application/x-bittorrent", FIRST),
    "/files/second.torrent": ("application/x-bittorrent", SECOND),
    "/torrent": ("application/x-bittorrent", BARE),
    "/files/UPPER.TORRENT": ("application/x-bittorrent", UPPER),
    "/files/good.torrent": ("application/x-bittorrent", GOOD),
}

stopping = threading.Event()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if path.startswith("/hang"):
            # Never answers; the client's time limit must end the wait.
            stopping.wait()
            return
        if path == "/redirect":
            # /redirect?to=PATH: a redirect the web view's delegate is asked about.
            target = urllib.parse.parse_qs(self.path.split("?", 1)[1] if "?" in self.path else "").get("to", ["/"])[0]
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if path == "/drop":
            # Promises a page and hangs up after a few bytes.
            self.send_response(200)
            self.send_header("Content-Length", "4096")
            self.end_headers()
            self.wfile.write(b"<htm")
            self.wfile.flush()
            self.connection.shutdown(2)
            return
        if path == "/files/many.torrent":
            # A description of more files than any share has (past the cap).
            entries = b"".join(b"d6:lengthi1e4:pathl8:f%07dee" % i for i in range(200_001))
            body = b"d8:announce20:http://tracker.test/4:infod5:filesl" + entries + b"e4:name4:manyee"
            self.send_response(200)
            self.send_header("Content-Type", "application/x-bittorrent")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            try:
                self.wfile.write(body)
            except (BrokenPipeError, ConnectionResetError):
                pass  # the web view's own load of the link, cut short when the script ends
            return
        route = ROUTES.get(path)
        if route is None:
            body = b"<html><head><title>Not Found</title></head><body>no such page</body></html>"
            self.send_response(404)
            self.send_header("Content-Type", "text/html")
        else:
            ctype, body = route
            self.send_response(200)
            self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)

    def stop_later():
        time.sleep(args.lifetime)
        stopping.set()
        os._exit(0)

    threading.Thread(target=stop_later, daemon=True).start()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
