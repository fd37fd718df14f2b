#!/usr/bin/python3
"""Saves the plug-in's inline-display picture as a PNG, as a host draws it.

    display_png.py SNAPSHOT_TOOL BINARY OUT.png [--width W] [--max-height H] [SYMBOL=VALUE ...]

SNAPSHOT_TOOL is the build's quorvane-lv2-snapshot, BINARY the bundle's
quorvane.so; the controls not given keep their defaults.
"""
import argparse
import os
import subprocess
import sys
import tempfile

import matplotlib
matplotlib.use("Agg")
import matplotlib.image  # noqa: E402
import numpy  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool")
    parser.add_argument("binary")
    parser.add_argument("output")
    parser.add_argument("--width", type=int, default=320)
    parser.add_argument("--max-height", type=int, default=180)
    parser.add_argument("settings", nargs="*")
    args = parser.parse_intermixed_args()
    with tempfile.TemporaryDirectory() as scratch:
        raw = os.path.join(scratch, "image.rgba")
        said = subprocess.run([args.tool, args.binary, str(args.width), str(args.max_height), raw] + args.settings,
                              check=True, capture_output=True, text=True).stdout.split()
        width, height = int(said[0]), int(said[1])
        pixels = numpy.fromfile(raw, dtype=numpy.uint8).reshape(height, width, 4)
    # No software tag, so the same picture gives the same file.
    matplotlib.image.imsave(args.output, pixels, metadata={"Software": None})
    return 0


if __name__ == "__main__":
    sys.exit(main())
