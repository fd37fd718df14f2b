#!/usr/bin/env python3
"""zip_reproducible_test.py REPRODUCIBLE_ZIP WORK

The release zip's bytes depend on its files' contents only: packing copies
that differ in modification time, permissions and order on the command line
gives the same archive, dated SOURCE_DATE_EPOCH whatever the time zone; a
different epoch or content gives a different one.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import zipfile


def pack(tool, work, name, files, epoch, tz="UTC"):
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch), TZ=tz)
    output = os.path.join(work, name)
    subprocess.run([sys.executable, tool, output, "Quorvane-9.8.7", *files], env=env, check=True)
    return hashlib.sha256(open(output, "rb").read()).hexdigest(), output


def copies(work, folder, contents, mtime, mode):
    os.makedirs(os.path.join(work, folder))
    paths = []
    for name, data in contents.items():
        path = os.path.join(work, folder, name)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)
        os.utime(path, (mtime, mtime))
        paths.append(path)
    return paths


def main(argv):
    tool, work = argv[1], argv[2]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    contents = {"Quorvane.dll": os.urandom(5000), "CHANGES.md": b"# Changes\n", "manual.html": b"<p>x</p>"}
    first = copies(work, "a", contents, 1000000000, 0o600)
    second = copies(work, "b/deeper", contents, 1700000000, 0o755)
    epoch = 1765000000
    one, path = pack(tool, work, "one.zip", first, epoch)
    two, _ = pack(tool, work, "two.zip", list(reversed(second)), epoch, tz="America/New_York")
    if one != two:
        sys.exit("the same files packed twice gave different zips")
    with zipfile.ZipFile(path) as archive:
        names = archive.namelist()
        if names != sorted(names):
            sys.exit(f"entries not sorted: {names}")
        for info in archive.infolist():
            if info.date_time != (2025, 12, 6, 5, 46, 40):
                sys.exit(f"{info.filename} dated {info.date_time}, not SOURCE_DATE_EPOCH in UTC")
            if info.external_attr >> 16 != 0o100644:
                sys.exit(f"{info.filename} has mode {oct(info.external_attr >> 16)}")
            if archive.read(info) != contents[os.path.basename(info.filename)]:
                sys.exit(f"{info.filename} does not hold its file")
    later, _ = pack(tool, work, "later.zip", first, epoch + 2)
    if later == one:
        sys.exit("SOURCE_DATE_EPOCH does not reach the archive")
    shutil.rmtree(work)
    print("same files, same zip:", one)


if __name__ == "__main__":
    main(sys.argv)
