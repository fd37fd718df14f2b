#!/usr/bin/env python3
"""gzip_file.py INPUT OUTPUT.gz

Compresses INPUT at gzip's highest level with no file name or time in the
header (as Debian wants its manual pages), so the output depends on the
input's bytes alone and two builds of one commit give the same package.
"""
import gzip
import os
import sys


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__.strip().splitlines()[0])
    source, output = argv[1:]
    with open(source, "rb") as plain:
        data = plain.read()
    partial = output + ".partial"
    with open(partial, "wb") as raw, gzip.GzipFile(filename="", mode="wb", compresslevel=9,
                                                   fileobj=raw, mtime=0) as packed:
        packed.write(data)
    os.replace(partial, output)


if __name__ == "__main__":
    main(sys.argv)
