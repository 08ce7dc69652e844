#!/usr/bin/env python3
"""Fails, naming file:line, on a quoted #include that points up the layers.

Each folder below may include its own files and what its row names: a folder, or a
single header. The tests, benchmarks and fuzz targets may include anything.
Usage: scripts/check-layers.py [source root]
"""
import os
import re
import sys

PLAIN = {"platform"}
LIBRARIES = {"host", "audiofiles", "soundfile", "mp3enc"} | PLAIN
LAYERS = {
    "platform": set(),
    "host": PLAIN,
    "audiofiles": PLAIN,
    "soundfile": {"audiofiles"} | PLAIN,  # WAV layout and the mapped file
    "mp3enc": PLAIN,
    "player": LIBRARIES,
    "display": set(),  # Qt only
    "shell": {"player", "display"} | LIBRARIES,
    "cli": {"player"} | LIBRARIES,
    # The driver interface, nothing else of the host; the drivers' shared base.
    "drivers": {"host/asio_driver.h"} | PLAIN,
    "drivers/*": {"host/asio_driver.h", "drivers"} | PLAIN,
}
SOURCE = re.compile(r"\.(h|c|cpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder(path):
    """The row a path belongs to: its first folder, drivers/<name> for a driver."""
    parts = path.split("/")
    if parts[0] == "drivers" and len(parts) > 2:
        return "drivers/" + parts[1]
    return parts[0]


def row(name):
    return LAYERS.get("drivers/*" if name.startswith("drivers/") else name)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    os.chdir(root)
    faults = 0
    tops = sorted({name.split("/")[0] for name in LAYERS})
    for top in tops:
        for base, _, names in os.walk(top):
            for name in sorted(names):
                if not SOURCE.search(name):
                    continue
                path = os.path.join(base, name)
                mine = folder(path)
                allowed = row(mine)
                if allowed is None:
                    print(f"{path}: folder {mine} is not in the layer table ({__file__})")
                    faults += 1
                    continue
                with open(path, errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = os.path.normpath(os.path.join(base, match.group(1)))
                        if not os.path.isfile(target):
                            target = os.path.normpath(match.group(1))
                        if not os.path.isfile(target):
                            continue  # a system or generated header
                        theirs = folder(target)
                        if theirs == mine or theirs in allowed or target in allowed:
                            continue
                        print(f"{path}:{number}: {mine} may not include {target}")
                        faults += 1
    if faults:
        print(f"{faults} include(s) against the layers (the table is in scripts/check-layers.py)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
