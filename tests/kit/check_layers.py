#!/usr/bin/env python3
"""kit's layers: every include of a kit header from inside kit goes to the
same layer or one below it; the product's folders never include kit/testing.
Prints each include that runs the wrong way and exits 1 if there is one."""
import os
import re
import sys

top = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
# What each layer may include besides itself.
below = {
    "core": set(),
    "net": {"core"},
    "gfx": {"core"},
    "ui": {"core", "net", "gfx"},
    "web": {"core", "net", "gfx", "ui"},
    "testing": {"core", "net", "gfx", "ui", "web"},
}
product = ["kit", "app", "torrent", "swarm", "dht", "transfers", "files", "web", "json", "ads", "shells"]
include = re.compile(r'^\s*#\s*include\s+"kit/(\w+)/[^"]+"', re.M)

wrong = []
for folder in product:
    for dirpath, _, names in os.walk(os.path.join(top, folder)):
        for name in names:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, top)
            parts = rel.split(os.sep)
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for m in include.finditer(text):
                target = m.group(1)
                if parts[0] == "kit":
                    layer = parts[1]
                    if target != layer and target not in below.get(layer, set()):
                        wrong.append(f"{rel}: kit/{layer} includes kit/{target}")
                elif target == "testing":
                    wrong.append(f"{rel}: the product includes kit/testing")
for line in sorted(wrong):
    print(line)
print(f"{len(wrong)} include(s) against the layers")
sys.exit(1 if wrong else 0)
